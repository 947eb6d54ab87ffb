#pragma once
// The millisecond tick: a uint32_t from CLOCK_MONOTONIC that wraps after 49.7 days.
// Deadlines compare by signed difference. Tests replace the clock with their own.
#include <cstdint>

using platform_clock_fn = uint32_t (*)();

uint32_t platform_ticks();
// nullptr restores the real clock.
void platform_set_clock(platform_clock_fn fn);

// True when tick a lies before tick b, across the wrap.
inline bool tick_before(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) < 0; }
// Milliseconds from a to b (negative when b is earlier).
inline int32_t tick_diff(uint32_t a, uint32_t b) { return static_cast<int32_t>(b - a); }
