#include "client/core/keys.h"

#include <cstring>

namespace {
unsigned char latched[256];
unsigned char held[256];
}  // namespace

void key_down(unsigned code) {
  if (code < 256) latched[code] = held[code] = 1;
}

void key_up(unsigned code) {
  if (code < 256) held[code] = 0;
}

bool key_pressed(unsigned code) {
  if (code > 255) return false;
  if (latched[code]) {
    latched[code] = 0;
    return true;
  }
  return held[code] != 0;
}

void key_reset() {
  std::memset(latched, 0, sizeof latched);
  std::memset(held, 0, sizeof held);
}
