#include "platform/clock.h"
#include "platform/progdir.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {
uint32_t g_fake = 0;
uint32_t fake_clock() { return g_fake; }
}  // namespace

TEST(Clock, InjectedClockIsUsedAndRealOneRestored) {
  platform_set_clock(fake_clock);
  g_fake = 1234;
  EXPECT_EQ(platform_ticks(), 1234u);
  platform_set_clock(nullptr);
  uint32_t a = platform_ticks();
  uint32_t b = platform_ticks();
  EXPECT_FALSE(tick_before(b, a));
}

TEST(Clock, ComparisonsHoldAcrossTheWrap) {
  uint32_t before_wrap = 0xFFFFFF00u;
  uint32_t after_wrap = 0x00000100u;
  EXPECT_TRUE(tick_before(before_wrap, after_wrap));
  EXPECT_FALSE(tick_before(after_wrap, before_wrap));
  EXPECT_EQ(tick_diff(before_wrap, after_wrap), 0x200);
  EXPECT_EQ(tick_diff(after_wrap, before_wrap), -0x200);
}

TEST(ProgramDir, OverrideDropsTrailingSlashes) {
  platform_set_program_dir("/tmp/somewhere//");
  EXPECT_EQ(platform_program_dir(), "/tmp/somewhere");
  EXPECT_FALSE(platform_executable_dir().empty());
}
