#pragma once
// An engine for the image and context tests that link the driver's objects directly: the
// harness's canary allocator behind the engine's memory slots, the record's lock entries,
// texture units, and a small palette with a fresh colour matcher.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "driver/core/colour_match.h"
#include "driver/core/context.h"
#include "driver/core/driver.h"
#include "driver/core/image.h"
#include "driver/core/palette.h"
#include "driver/core/palette_memory.h"
#include "tests/driver/driver_harness.h"

namespace image_test {

struct Engine {
  driver_test::TestAllocator memory;
  EngineServices services{};
  size_t last_request = 0;
  int locks = 0, unlocks = 0;
  bool refuse_locks = false;

  static Engine*& current() {
    static Engine* engine = nullptr;
    return engine;
  }
  static void* allocate(size_t size) {
    current()->last_request = size;
    return current()->memory.allocate(size);
  }
  static void* allocate_zeroed(size_t count, size_t size) {
    current()->last_request = count * size;
    void* p = current()->memory.allocate(count * size);
    if (p) std::memset(p, 0, count * size);
    return p;
  }
  static void* reallocate(void* p, size_t size) {
    current()->last_request = size;
    return current()->memory.reallocate(p, size);
  }
  static void release(void* p) { current()->memory.release(p); }
  static int32_t lock(DeviceRaster*) {
    ++current()->locks;
    return current()->refuse_locks ? 0 : 1;
  }
  static int32_t unlock(DeviceRaster*) {
    ++current()->unlocks;
    return 1;
  }

  Engine() {
    current() = this;
    services.allocate = &allocate;
    services.allocate_zeroed = &allocate_zeroed;
    services.reallocate = &reallocate;
    services.free = &release;
    services.device.texture_width_unit = 128;
    services.device.texture_height_unit = 128;
    services.device.small_texture_width_unit = 16;
    services.device.small_texture_height_unit = 16;
    services.device.lock_raster = &lock;
    services.device.unlock_raster = &unlock;
    g_drv.services = &services;
    PaletteBindEngine(&services);
    ImageSetBitmapAccess(nullptr);
  }
  ~Engine() {
    ImageScalerFree();
    OctreeFree();
    ImageSetBitmapAccess(nullptr);
    g_drv.services = nullptr;
    PaletteBindEngine(nullptr);
    if (current() == this) current() = nullptr;
  }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Only the given colours are usable, at entries first, first + 1, ...; gamma 1.
  void use_palette(const std::vector<std::array<uint8_t, 3>>& colours, int first = 20) {
    std::memset(PaletteRed, 0, 256);
    std::memset(PaletteGreen, 0, 256);
    std::memset(PaletteBlue, 0, 256);
    std::memset(PaletteUsableMask, 0, sizeof PaletteUsableMask);
    for (size_t i = 0; i < colours.size(); ++i) {
      int e = first + static_cast<int>(i);
      PaletteRed[e] = colours[i][0];
      PaletteGreen[e] = colours[i][1];
      PaletteBlue[e] = colours[i][2];
      PaletteUsableSet(e, 2);
    }
    GammaSet(1.0f);
    ColourMatcherRebuild();
  }
};

// An image record whose pixels the test owns, with canary bands before and after.
struct OwnedImage {
  static constexpr size_t kBand = 64;
  static constexpr uint8_t kCanary = 0xC3;
  DeviceRaster image{};
  std::vector<uint8_t> storage;
  std::vector<uint8_t> palette;

  OwnedImage(int width, int height, int depth, int pitch = 0) {
    int bytes = depth == 8 ? 1 : depth == 24 ? 3 : depth == 32 ? 4 : 2;
    if (pitch == 0) pitch = width * bytes;
    storage.assign(kBand * 2 + static_cast<size_t>(pitch) * height, kCanary);
    image.width = width;
    image.height = height;
    image.depth = depth;
    image.bits = depth == 15 ? 16 : depth;
    image.pitch = pitch;
    image.pixels = storage.data() + kBand;
    image.kind = depth == 8 ? kRasterKindColour : kRasterKindPacked;
    if (depth == 24) {
      image.red_mask = 0xFF0000;
      image.green_mask = 0xFF00;
      image.blue_mask = 0xFF;
    }
  }
  void with_palette() {
    palette.assign(768, 0);
    image.palette = palette.data();
  }
  uint8_t* at(int x, int y, int bytes) { return image.pixels + y * image.pitch + x * bytes; }
  // The first row's bytes, as stored.
  void set_row(std::initializer_list<uint8_t> bytes) { std::copy(bytes.begin(), bytes.end(), image.pixels); }
  bool bands_intact() const {
    for (size_t i = 0; i < kBand; ++i)
      if (storage[i] != kCanary || storage[storage.size() - 1 - i] != kCanary) return false;
    return true;
  }
};

}  // namespace image_test
