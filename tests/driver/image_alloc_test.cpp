// Image pixel allocation and mask application.
#include <gtest/gtest.h>

#include "tests/driver/image_test_engine.h"

namespace image_test {
namespace {

DeviceRaster described(int width, int height, int depth) {
  DeviceRaster r{};
  r.width = width;
  r.height = height;
  r.depth = depth;
  return r;
}

TEST(ImageAlloc, StrideRoundsBitsUpToWholeWords) {
  Engine engine;
  struct Case {
    int width, depth, stride;
  } cases[] = {{3, 15, 8}, {1, 24, 4}, {5, 8, 8}, {4, 8, 4}, {3, 16, 8}, {7, 32, 28}, {2, 24, 8}};
  for (const auto& c : cases) {
    DeviceRaster r = described(c.width, 3, c.depth);
    ASSERT_EQ(ImageAllocPixels(&r), &r) << c.width << "x" << c.depth;
    EXPECT_EQ(r.pitch, c.stride) << c.width << "x" << c.depth;
    ASSERT_NE(r.pixels, nullptr);
    EXPECT_EQ(engine.last_request, static_cast<size_t>(c.stride) * 3);
    EXPECT_EQ(r.flags, 11u);
    ImageFreePixels(&r);
  }
  EXPECT_EQ(engine.memory.live(), 0u);
}

TEST(ImageAlloc, DescribesFormatOnlyWhenNotDescribedYet) {
  Engine engine;
  DeviceRaster r15 = described(2, 2, 15);
  ImageAllocPixels(&r15);
  EXPECT_EQ(r15.kind, kRasterKindPacked);
  EXPECT_EQ(r15.bits, 16);
  EXPECT_EQ(r15.red_mask, 0x7C00u);
  EXPECT_EQ(r15.green_mask, 0x03E0u);
  EXPECT_EQ(r15.blue_mask, 0x001Fu);
  DeviceRaster r8 = described(2, 2, 8);
  ImageAllocPixels(&r8);
  EXPECT_EQ(r8.kind, kRasterKindColour);
  EXPECT_EQ(r8.bits, 8);
  DeviceRaster r24 = described(2, 2, 24);
  ImageAllocPixels(&r24);
  EXPECT_EQ(r24.red_mask, 0xFF0000u);
  EXPECT_EQ(r24.blue_mask, 0xFFu);
  // Already described: left as the engine set it.
  DeviceRaster keep = described(2, 2, 16);
  keep.kind = kRasterKindPacked;
  keep.bits = 16;
  keep.red_mask = 0x7C00;
  ImageAllocPixels(&keep);
  EXPECT_EQ(keep.red_mask, 0x7C00u);
  // Unknown depth: nothing described.
  DeviceRaster odd = described(8, 1, 4);
  odd.kind = 7;
  ImageAllocPixels(&odd);
  EXPECT_EQ(odd.kind, 0);
  EXPECT_EQ(odd.bits, 0);
  EXPECT_EQ(odd.pitch, 4);
  for (DeviceRaster* r : {&r15, &r8, &r24, &keep, &odd}) ImageFreePixels(r);
  EXPECT_EQ(engine.memory.live(), 0u);
}

TEST(ImageAlloc, ZeroWidthGivesNoPixelsAndNoFailure) {
  Engine engine;
  DeviceRaster r = described(0, 10, 24);
  r.driver_raster = reinterpret_cast<DriverRaster*>(&r);
  EXPECT_EQ(ImageAllocPixels(&r), &r);
  EXPECT_EQ(r.pixels, nullptr);
  EXPECT_EQ(r.pitch, 0);
  EXPECT_EQ(r.flags, 9u);
  EXPECT_EQ(r.driver_raster, nullptr);
  EXPECT_EQ(engine.memory.allocations(), 0);
}

TEST(ImageAlloc, FailedAllocationReturnsNull) {
  Engine engine;
  DeviceRaster r = described(16, 16, 8);
  engine.memory.fail_nth(1);
  EXPECT_EQ(ImageAllocPixels(&r), nullptr);
  EXPECT_EQ(r.pixels, nullptr);
  EXPECT_EQ(engine.memory.live(), 0u);
}

TEST(ImageAlloc, LargeSizesAreComputedWithoutWrapping) {
  Engine engine;
  // 20000 x 32-bit is 80000 bytes a row; 30000 rows is 2.4e9 bytes, past 31 bits.
  DeviceRaster r = described(20000, 30000, 32);
  engine.memory.fail_nth(1);
  EXPECT_EQ(ImageAllocPixels(&r), nullptr);
  EXPECT_EQ(engine.last_request, size_t{80000} * 30000);
  // Sides beyond the limit or negative are refused before asking for memory.
  long before = engine.memory.allocations();
  DeviceRaster wide = described(40000, 2, 8);
  DeviceRaster negative = described(-4, 2, 8);
  DeviceRaster deep = described(4, 2, 64);
  EXPECT_EQ(ImageAllocPixels(&wide), nullptr);
  EXPECT_EQ(ImageAllocPixels(&negative), nullptr);
  EXPECT_EQ(ImageAllocPixels(&deep), nullptr);
  EXPECT_EQ(engine.memory.allocations(), before);
}

TEST(ImageMask, DarkMaskPixelsClearTargetPixels) {
  Engine engine;
  OwnedImage target(4, 2, 24);
  for (size_t i = 0; i < 24; ++i) target.image.pixels[i < 12 ? i : target.image.pitch + i - 12] = 0x80 + i;
  OwnedImage mask(4, 2, 8);
  const uint8_t m[8] = {127, 128, 0, 255, 200, 10, 128, 127};
  for (int i = 0; i < 8; ++i) *mask.at(i % 4, i / 4, 1) = m[i];
  ASSERT_EQ(ImageApplyMask(&target.image, &mask.image), &target.image);
  for (int i = 0; i < 8; ++i) {
    const uint8_t* p = target.at(i % 4, i / 4, 3);
    bool dark = m[i] < 128;
    for (int k = 0; k < 3; ++k)
      EXPECT_EQ(p[k], dark ? 0 : 0x80 + 3 * i + k) << i;
  }
  EXPECT_TRUE(target.bands_intact());
  EXPECT_TRUE(target.image.flags & kRasterTouched);
  EXPECT_TRUE(mask.image.flags & kRasterTouched);
}

TEST(ImageMask, SixteenAndThirtyTwoBitMasks) {
  Engine engine;
  OwnedImage target(3, 1, 16);
  for (int i = 0; i < 6; ++i) target.image.pixels[i] = 0xFF;
  OwnedImage mask16(3, 1, 16);
  const uint16_t words[3] = {0x000F, 0x0010, 0xFFEF};  // low five bits 15, 16, 15
  std::memcpy(mask16.image.pixels, words, 6);
  ASSERT_NE(ImageApplyMask(&target.image, &mask16.image), nullptr);
  EXPECT_EQ(target.image.pixels[0] | target.image.pixels[1], 0);
  EXPECT_EQ(target.image.pixels[2] & target.image.pixels[3], 0xFF);
  EXPECT_EQ(target.image.pixels[4] | target.image.pixels[5], 0);

  OwnedImage target32(2, 1, 32);
  std::memset(target32.image.pixels, 0x11, 8);
  OwnedImage mask32(2, 1, 32);
  const uint8_t bytes[8] = {255, 127, 255, 255, 0, 128, 0, 0};  // byte 1 decides
  std::memcpy(mask32.image.pixels, bytes, 8);
  ASSERT_NE(ImageApplyMask(&target32.image, &mask32.image), nullptr);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(target32.image.pixels[i], 0);
  for (int i = 4; i < 8; ++i) EXPECT_EQ(target32.image.pixels[i], 0x11);
  EXPECT_TRUE(target32.bands_intact());
}

TEST(ImageMask, MismatchedOrMissingLeavesTargetAlone) {
  Engine engine;
  OwnedImage target(4, 2, 8);
  std::memset(target.image.pixels, 9, 8);
  OwnedImage mask(4, 3, 8);
  std::memset(mask.image.pixels, 0, 12);
  EXPECT_EQ(ImageApplyMask(&target.image, &mask.image), nullptr);
  EXPECT_EQ(ImageApplyMask(&target.image, nullptr), nullptr);
  DeviceRaster empty = mask.image;
  empty.pixels = nullptr;
  empty.height = 2;
  EXPECT_EQ(ImageApplyMask(&target.image, &empty), nullptr);
  // A mask whose pitch cannot hold its rows is refused rather than read past.
  OwnedImage narrow(4, 2, 8);
  narrow.image.pitch = 2;
  EXPECT_EQ(ImageApplyMask(&target.image, &narrow.image), nullptr);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(target.image.pixels[i], 9);
}

TEST(ImageMask, LocksThroughTheEngineAndUnlocksOnEveryPath) {
  Engine engine;
  OwnedImage target(2, 1, 8);
  OwnedImage mask(2, 1, 8);
  target.image.flags = kRasterLockFirst;
  mask.image.flags = kRasterLockFirst;
  ASSERT_NE(ImageApplyMask(&target.image, &mask.image), nullptr);
  EXPECT_EQ(engine.locks, 2);
  EXPECT_EQ(engine.unlocks, 2);
  // Mismatched sizes: both unlocked again.
  mask.image.width = 1;
  EXPECT_EQ(ImageApplyMask(&target.image, &mask.image), nullptr);
  EXPECT_EQ(engine.locks, 4);
  EXPECT_EQ(engine.unlocks, 4);
  // A refused lock fails the operation and releases what was taken.
  engine.refuse_locks = true;
  target.image.pixels[0] = 5;
  mask.image.width = 2;
  EXPECT_EQ(ImageApplyMask(&target.image, &mask.image), nullptr);
  EXPECT_EQ(engine.unlocks, 4);
  EXPECT_EQ(target.image.pixels[0], 5);
}

}  // namespace
}  // namespace image_test
