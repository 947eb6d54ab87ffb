#include "driver/spans/fixed.h"

#include <array>

int32_t FixedMulSat(int32_t a, int32_t b) {
  int64_t p = static_cast<int64_t>(a) * b;
  // Fits when p lies in [-2^47, 2^47): the shifted result is then a 32-bit value.
  if (p >= -(int64_t{1} << 47) && p < (int64_t{1} << 47)) return static_cast<int32_t>(p >> 16);
  return p > 0 ? INT32_MAX : INT32_MIN;
}

int32_t FixedDivSat(int32_t a, int32_t b) {
  if (a == 0) return 0;
  if (b == 0) return a;
  uint32_t ma = a < 0 ? 0u - static_cast<uint32_t>(a) : static_cast<uint32_t>(a);
  uint32_t mb = b < 0 ? 0u - static_cast<uint32_t>(b) : static_cast<uint32_t>(b);
  if ((ma >> 15) >= mb) return ((a ^ b) >= 0) ? INT32_MAX : INT32_MIN;
  return static_cast<int32_t>((static_cast<int64_t>(a) * 65536) / b);
}

namespace {
constexpr std::array<uint8_t, 256> bit_lengths() {
  std::array<uint8_t, 256> t{};
  for (int n = 1; n < 256; ++n) {
    int bits = 0;
    for (int v = n; v; v >>= 1) ++bits;
    t[n] = static_cast<uint8_t>(bits);
  }
  return t;
}
constexpr std::array<uint8_t, 256> kBitLengths = bit_lengths();
}  // namespace

const uint8_t BitLengthTable[256] = {
#define R(i) kBitLengths[i], kBitLengths[i + 1], kBitLengths[i + 2], kBitLengths[i + 3]
#define R16(i) R(i), R(i + 4), R(i + 8), R(i + 12)
#define R64(i) R16(i), R16(i + 16), R16(i + 32), R16(i + 48)
    R64(0), R64(64), R64(128), R64(192)
#undef R64
#undef R16
#undef R
};
