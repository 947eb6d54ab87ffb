// For programs that drive the rasteriser's tables without the engine (the triangle
// benchmark, rasterdemo): an engine record whose memory slots are the C library's, bound
// as the engine the driver's tables allocate from. Header only: the plug-in has no use for it.
#pragma once

#include <cstdlib>

#include "driver/core/palette_memory.h"
#include "driver/records.h"

inline EngineServices* BindPlainEngine() {
  static EngineServices services{};
  services.allocate = [](size_t n) { return std::malloc(n); };
  services.allocate_zeroed = [](size_t c, size_t n) { return std::calloc(c, n); };
  services.reallocate = [](void* p, size_t n) { return std::realloc(p, n); };
  services.free = [](void* p) { std::free(p); };
  PaletteBindEngine(&services);
  return &services;
}
