// Saturating 16.16 arithmetic against known answers and a 64-bit reference.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>

#include "driver/spans/fixed.h"

namespace {

int32_t reference_mul(int32_t a, int32_t b) {
  int64_t p = static_cast<int64_t>(a) * b;
  // floor division by 65536
  int64_t q = p >= 0 ? p / 65536 : -((-p + 65535) / 65536);
  if (q > INT32_MAX) return INT32_MAX;
  if (q < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(q);
}

int32_t reference_div(int32_t a, int32_t b) {
  if (a == 0) return 0;
  if (b == 0) return a;
  int64_t q = (static_cast<int64_t>(a) * 65536) / b;  // truncates toward zero
  if (q >= INT32_MAX) return INT32_MAX;
  if (q <= INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(q);
}

TEST(FixedArithmetic, MultiplyKnownAnswers) {
  for (int32_t x : {0, 1, -1, 0x12345, -0x7654321, INT32_MAX, INT32_MIN}) {
    EXPECT_EQ(FixedMulSat(0x10000, x), x);
    EXPECT_EQ(FixedMulSat(x, 0), 0);
  }
  EXPECT_EQ(FixedMulSat(-1, 1), -1);  // rounds toward minus infinity
  EXPECT_EQ(FixedMulSat(INT32_MAX, INT32_MAX), INT32_MAX);
  EXPECT_EQ(FixedMulSat(INT32_MAX, INT32_MIN), INT32_MIN);
  EXPECT_EQ(FixedMulSat(INT32_MIN, INT32_MIN), INT32_MAX);
  EXPECT_EQ(FixedMulSat(0x00800000, 0x01000000), INT32_MAX);  // 128 x 256 = 32768.0
  EXPECT_EQ(FixedMulSat(0x00800000, 0x00FF0000), 0x7F800000);  // 32640.0 fits
  EXPECT_EQ(FixedMulSat(-0x00800000, 0x01000000), INT32_MIN);  // -32768.0 exactly: still clamps
  EXPECT_EQ(FixedMulSat(0x18000, 0x18000), 0x24000);            // 1.5 x 1.5 = 2.25
}

TEST(FixedArithmetic, DivideKnownAnswers) {
  EXPECT_EQ(FixedDivSat(0, 0), 0);
  for (int32_t x : {1, -1, 0x10000, INT32_MAX, INT32_MIN}) EXPECT_EQ(FixedDivSat(x, 0), x);
  EXPECT_EQ(FixedDivSat(-1, 0x20000), 0);
  EXPECT_EQ(FixedDivSat(0x40000000, 0x8000), INT32_MAX);
  EXPECT_EQ(FixedDivSat(0x3FFFFFFF, 0x8000), 0x7FFFFFFE);
  EXPECT_EQ(static_cast<uint32_t>(FixedDivSat(INT32_MIN, 0x20000)), 0xC0000000u);
  EXPECT_EQ(FixedDivSat(INT32_MIN, 0x10000), INT32_MIN);
  EXPECT_EQ(static_cast<uint32_t>(FixedDivSat(0x10000, static_cast<int32_t>(0xFFFF0000u))), 0xFFFF0000u);
  EXPECT_EQ(FixedDivSat(0x30000, 0x20000), 0x18000);  // 3 / 2
  EXPECT_EQ(FixedDivSat(-0x40000000, 0x8000), INT32_MIN);
  EXPECT_EQ(FixedDivSat(INT32_MIN, -1), INT32_MAX);
}

TEST(FixedArithmetic, AgreesWithWideReferenceOnRandomOperands) {
  std::mt19937 rng(20261208);
  std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX);
  std::uniform_int_distribution<int> shift(0, 31);
  for (int i = 0; i < 200000; ++i) {
    // Mix full-range operands with small ones so both the fitting and clamping paths run.
    int32_t a = any(rng) >> shift(rng);
    int32_t b = any(rng) >> shift(rng);
    ASSERT_EQ(FixedMulSat(a, b), reference_mul(a, b)) << a << " " << b;
    ASSERT_EQ(FixedDivSat(a, b), reference_div(a, b)) << a << " " << b;
  }
}

TEST(FixedArithmetic, BitLengthTable) {
  EXPECT_EQ(BitLengthTable[0], 0);
  for (int n = 1; n < 256; ++n)
    EXPECT_EQ(BitLengthTable[n], static_cast<int>(std::floor(std::log2(n))) + 1) << n;
}

}  // namespace
