#include "platform/clock.h"

#include <atomic>
#include <ctime>

namespace {
std::atomic<platform_clock_fn> g_clock{nullptr};

uint32_t monotonic_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}
}  // namespace

uint32_t platform_ticks() {
  platform_clock_fn fn = g_clock.load(std::memory_order_relaxed);
  return fn ? fn() : monotonic_ms();
}

void platform_set_clock(platform_clock_fn fn) { g_clock.store(fn, std::memory_order_relaxed); }
