#include "client/core/random.h"

#include <cstring>

namespace {
constexpr int kWords = 624;
uint32_t mt[kWords];
int mt_index = 1;

void regenerate() {
  for (int i = 0; i < kWords; ++i) {
    uint32_t y = (mt[i] & 0x80000000u) | (mt[(i + 1) % kWords] & 0x7fffffffu);
    mt[i] = mt[(i + 397) % kWords] ^ (y >> 1) ^ ((y & 1) ? 0x9908b0dfu : 0u);
  }
}
}  // namespace

void random_seed(uint32_t seed) {
  mt[0] = seed;
  for (int i = 1; i < kWords; ++i) mt[i] = mt[i - 1] * 69069u;
}

uint32_t random_next() {
  if (mt_index >= kWords) {
    regenerate();
    mt_index = 0;
  }
  uint32_t y = mt[mt_index++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9d2c5680u;
  y ^= (y << 15) & 0xefc60000u;
  y ^= y >> 18;
  return y;
}

void random_reset() {
  std::memset(mt, 0, sizeof mt);
  mt_index = 1;
}
