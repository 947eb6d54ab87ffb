// Numbers in a file read as the C library reads their text: every real gives the float of
// strtod's double (saturated to the float range), every integer strtoll's value clamped.
#include "Parser/vrml.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

float Expected(const std::string& text) {
  double d = std::strtod(text.c_str(), nullptr);
  if (d > FLT_MAX) return HUGE_VALF;
  if (d < -FLT_MAX) return -HUGE_VALF;
  return static_cast<float>(d);
}

// Scans `text` alone and checks the one number it holds, bit for bit (so -0 stays -0).
void CheckNumber(const std::string& text) {
  SCOPED_TRACE(text);
  AgVrmlLexer lex(text.data(), text.size());
  AgToken t;
  lex.Next(&t);
  std::string kept = text.substr(0, sizeof(t.text) - 1);
  ASSERT_STREQ(t.text, kept.c_str());
  if (t.kind == AG_TOK_INTEGER) {
    long long v = std::strtoll(kept.c_str(), nullptr, 10);
    EXPECT_EQ(t.ival, v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v));
    return;
  }
  ASSERT_EQ(t.kind, AG_TOK_REAL);
  float want = Expected(kept);
  EXPECT_EQ(std::memcmp(&t.fval, &want, sizeof want), 0) << t.fval << " != " << want;
}

TEST(Numbers, EdgeTextsReadAsStrtod) {
  const char* texts[] = {
      "0", "-0", "0.0", "-0.0", ".5", "-.5", "5.", "0.000", "1e0", "1E+0", "1e-0", "00012.50",
      "9007199254740992", "9007199254740993", "9007199254740993.0", "18446744073709551615.0",
      "99999999999999999999.5", "1e22", "1e23", "1.5e22", "123456789e15", "1e-22", "1e-23",
      "0.1", "0.2", "0.3", "2.2250738585072014e-308", "4.9e-324", "2e-324", "1e-400",
      "1.7976931348623157e308", "1.8e308", "1e400", "-1e400", "3.4028234663852886e38",
      "3.4028235e38", "3.40282357e38", "-3.40282357e38", "1.401298464e-45", "7e-46",
      "0.00000000000000000000000000000000000000000000000000000000001234", "1e0000000000000000000000005",
      "2147483647", "2147483648", "-2147483648", "-2147483649", "99999999999999999999999",
      "-99999999999999999999999", "0000000000000000000000000000007", "0.30000000000000004",
      "1.00000005960464477539", "1.0000000596046447753906", "1.00000017881393432617187499",
      "0.5e-45", "33554431", "33554433.0", "16777217.0", "16777217.000000001",
  };
  for (const char* t : texts) ASSERT_NO_FATAL_FAILURE(CheckNumber(t));
  // Longer than a token keeps: the number is read from the text kept.
  ASSERT_NO_FATAL_FAILURE(CheckNumber(std::string(140, '7')));
  ASSERT_NO_FATAL_FAILURE(CheckNumber("0." + std::string(126, '3')));
  ASSERT_NO_FATAL_FAILURE(CheckNumber("1." + std::string(123, '0') + "e+5"));
  ASSERT_NO_FATAL_FAILURE(CheckNumber("1." + std::string(124, '0') + "e-5"));
  ASSERT_NO_FATAL_FAILURE(CheckNumber("-" + std::string(125, '9') + ".5"));
}

TEST(Numbers, RandomTextsReadAsStrtod) {
  std::mt19937_64 rng(20261209);
  auto digits = [&](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>('0' + rng() % 10);
    return s;
  };
  for (int i = 0; i < 300000; ++i) {
    std::string s = rng() % 4 == 0 ? "-" : "";
    int shape = static_cast<int>(rng() % 4);
    int len = static_cast<int>(rng() % (rng() % 8 == 0 ? 30 : 12));
    if (shape == 0) {
      s += digits(len + 1);  // an integer
    } else {
      s += digits(len) + "." + digits(static_cast<int>(rng() % 12));
      if (s.back() == '.' && (s.size() == 1 || s[s.size() - 2] == '-')) s += '0';
      if (shape >= 2) {
        int e = static_cast<int>(rng() % (shape == 2 ? 50 : 700)) - (shape == 2 ? 25 : 350);
        s += (rng() % 2 ? "e" : "E") + std::string(e >= 0 && rng() % 2 ? "+" : "") + std::to_string(e);
      }
    }
    ASSERT_NO_FATAL_FAILURE(CheckNumber(s));
    if (HasFailure()) return;
  }
}

// Texts next to the halfway point between two floats: the double read from them decides
// which way the float rounds, so a double off by one unit shows.
TEST(Numbers, TextsBesideFloatHalfwaysReadAsStrtod) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> mag(-12.0f, 12.0f);
  char buf[64];
  for (int i = 0; i < 100000; ++i) {
    float f = std::pow(10.0f, mag(rng)) * (rng() % 2 ? 1 : -1);
    double half = (static_cast<double>(f) + static_cast<double>(std::nextafter(f, 2 * f))) / 2;
    for (int prec = 14; prec <= 18; ++prec) {
      std::snprintf(buf, sizeof buf, "%.*e", prec, half);
      ASSERT_NO_FATAL_FAILURE(CheckNumber(buf));
      std::snprintf(buf, sizeof buf, "%.*f", prec / 2, half);
      ASSERT_NO_FATAL_FAILURE(CheckNumber(buf));
    }
    if (HasFailure()) return;
  }
}

}  // namespace
