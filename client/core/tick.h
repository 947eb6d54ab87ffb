#pragma once
// The frame time stamp: every time-out of one frame is measured against it.
#include <cstdint>

uint32_t tick_update();
uint32_t tick_now();
