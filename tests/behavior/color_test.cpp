#include <gtest/gtest.h>

#include <cstdio>

#include "client/scene/color.h"

namespace {

uint32_t parse(const char* text) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s", text);
  return color_parse(buffer);
}

TEST(Colors, NamesAndIndexes) {
  ASSERT_EQ(color_init(), 1);
  ASSERT_EQ(color_init(), 1);  // made anew, not added to
  const struct {
    const char* name;
    int index;
    uint32_t value;
  } known[] = {{"aquamarine", 0, 0x93DB70}, {"black", 1, 0}, {"blue", 2, 0xFF0000}, {"navyblue", 16, 0x8E2323},
               {"orange", 17, 0x007FFF},    {"silver", 24, 0xFAE8E6}, {"yellow", 31, 0x00FFFF}};
  for (const auto& k : known) {
    EXPECT_EQ(parse(k.name), k.value) << k.name;
    EXPECT_EQ(color_value(k.index), k.value) << k.name;
  }
  char mixed[] = "Red";
  char upper[] = "RED";
  EXPECT_EQ(color_parse(mixed), 0x0000FFu);
  EXPECT_EQ(color_parse(upper), 0x0000FFu);
  EXPECT_STREQ(mixed, "red");  // lower-cased in place
  EXPECT_STREQ(upper, "red");
  EXPECT_EQ(color_value(32), 0u);
  EXPECT_EQ(color_value(-1), 0u);
  color_term();
}

TEST(Colors, HexadecimalFormsAndFailures) {
  ASSERT_EQ(color_init(), 1);
  EXPECT_EQ(parse("ff8000"), 0x0080FFu);
  EXPECT_EQ(parse("0xff8000"), 0x0080FFu);
  EXPECT_EQ(parse("  0XFF8000"), 0x0080FFu);
  EXPECT_EQ(parse("beige"), 0xBE0000u);  // read up to the first non-digit
  EXPECT_EQ(parse("1ff8000"), 0x0080FFu);  // bytes above the low three dropped
  EXPECT_EQ(parse("purple"), COLOR_DEFAULT);
  EXPECT_EQ(parse(""), COLOR_DEFAULT);
  EXPECT_EQ(parse("-"), COLOR_DEFAULT);
  EXPECT_EQ(color_parse(nullptr), COLOR_DEFAULT);
  color_term();
  EXPECT_EQ(parse("red"), COLOR_DEFAULT);  // no names without the table, numbers still
  EXPECT_EQ(parse("ff0000"), 0x0000FFu);
}

}  // namespace
