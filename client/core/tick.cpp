#include "client/core/tick.h"

#include "platform/clock.h"

namespace {
uint32_t frame_tick = 0;
}

uint32_t tick_update() {
  frame_tick = platform_ticks();
  return frame_tick;
}

uint32_t tick_now() { return frame_tick; }
