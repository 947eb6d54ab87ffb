// Pictures go through the driver's image entries: bitmaps are read by its import, and
// texels are made by its convert and mask entries (the engine picks the pixels, the driver
// matches them to its palette and clears what the mask hides). Counted at the device
// record, the edge between engine and driver.
#include <gtest/gtest.h>

#include <random>

#include "tests/engine/render_fixture.h"

namespace {

// The driver's own entries, called behind the counting ones.
struct ImageEntries {
  DeviceConvertImageFn convert;
  DeviceImageMaskFn mask;
  DeviceImageFn alloc, free;
  int converts, masks, allocs, frees;
};
ImageEntries entries;

int imports;
DeviceImportBitmapFn import_entry;
int32_t count_import(const DeviceBitmapRef* bitmap, int32_t flags, DeviceRaster* image) {
  ++imports;
  return import_entry(bitmap, flags, image);
}

DeviceRaster* count_convert(DeviceRaster* s, DeviceRaster* d, int32_t flags) {
  ++entries.converts;
  return entries.convert(s, d, flags);
}
DeviceRaster* count_mask(DeviceRaster* t, DeviceRaster* m) {
  ++entries.masks;
  return entries.mask(t, m);
}
DeviceRaster* count_alloc(DeviceRaster* image) {
  ++entries.allocs;
  return entries.alloc(image);
}
DeviceRaster* count_free(DeviceRaster* image) {
  ++entries.frees;
  return entries.free(image);
}

class RenderTexelsTest : public RenderTest {
 protected:
  void count_image_entries() {
    DeviceRecord* r = record();
    ASSERT_NE(r, nullptr);
    ASSERT_TRUE(r->convert_image && r->apply_image_mask && r->alloc_image_pixels && r->free_image_pixels);
    entries = {r->convert_image, r->apply_image_mask, r->alloc_image_pixels, r->free_image_pixels, 0, 0, 0, 0};
    r->convert_image = &count_convert;
    r->apply_image_mask = &count_mask;
    r->alloc_image_pixels = &count_alloc;
    r->free_image_pixels = &count_free;
  }
  // The palette entry the device shows a colour with.
  int matched(unsigned char red, unsigned char green, unsigned char blue) {
    const uint8_t rgb[3] = {red, green, blue};
    return record()->colour_to_palette_index(rgb);
  }
};

// A 24-bit picture of 40 x 24 with a black band, masked by a mask whose pixels run through
// every value, and an 8-bit picture of 12 x 12: each becomes the nearest pixel's palette
// entry, texel 0 only where the mask has a 0 (any other value shows the picture, dark or
// not), black shown as the palette's black. Made once, kept while nothing changes.
TEST_F(RenderTexelsTest, TexturesAreMatchedAndMaskedThroughTheDriver) {
  ASSERT_TRUE(start(2));
  ASSERT_NO_FATAL_FAILURE(record_polygons());
  std::mt19937 rng(40);
  VxRaster* wide = VxCreateRasterDepth(40, 24, 24);
  unsigned char* px = VxGetRasterPixels(wide);
  const int ws = VxGetRasterStride(wide);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 40 * 3; ++x) px[y * ws + x] = y < 4 ? 0 : (unsigned char)rng();
  VxReleaseRasterPixels(wide);
  VxTexture* tw = VxCreateTexture(wide);
  ASSERT_TRUE(VxMaskTexture(tw, VxCreateRaster(40, 24)));
  VxRaster* mask = VxGetTextureMask(tw);
  px = VxGetRasterPixels(mask);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 40; ++x) px[y * VxGetRasterStride(mask) + x] = (unsigned char)((y * 40 + x) * 7);
  VxReleaseRasterPixels(mask);
  unsigned char bits[12 * 12], pal[256 * 4];
  for (unsigned char& v : bits) v = (unsigned char)rng();
  for (unsigned char& v : pal) v = (unsigned char)rng();
  const VxDib dib{12, 12, 8, 12, 0, bits, pal, 256};
  const VxBitmapSource source{nullptr, &dib};
  VxRaster* small = VxCreateRasterFromBitmap(&source, 0);
  ASSERT_NE(small, nullptr);
  VxTexture* ts = VxCreateTexture(small);

  ASSERT_NO_FATAL_FAILURE(count_image_entries());
  VxCamera* cam = camera(80, 80, {0, 0, -4}, {0, 0, 0});
  VxClump* a = make_square(1, 0, 0, 0);
  VxSetPolygonTexture(VxGetClumpPolygon(a, 0), tw);
  VxClump* b = make_square(1, 0, 0, 0);
  VxSetPolygonTexture(VxGetClumpPolygon(b, 0), ts);
  std::vector<RecordedPolygon> got = draw(cam, {a, b});
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(entries.converts, 2);
  EXPECT_EQ(entries.masks, 1);
  EXPECT_EQ(entries.allocs, 3);  // two pictures and a mask, each given back
  EXPECT_EQ(entries.frees, entries.allocs);

  ASSERT_NE(got[0].texels, nullptr);
  const unsigned char* wp = VxGetRasterPixels(wide);
  const unsigned char* mp = VxGetRasterPixels(mask);
  int hidden = 0, black = 0;
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) {
      const int sx = x * 40 / 128, sy = y * 24 / 128;
      const unsigned char* p = wp + sy * ws + sx * 3;
      int want = matched(p[2], p[1], p[0]);
      if (want <= 0) want = 1;
      if (mp[sy * VxGetRasterStride(mask) + sx] == 0) want = 0, ++hidden;
      if (want && sy < 4) ++black;
      ASSERT_EQ(got[0].texels[y * 128 + x], want) << x << "," << y;
    }
  EXPECT_GT(hidden, 0);
  EXPECT_GT(black, 0);
  VxReleaseRasterPixels(wide);
  VxReleaseRasterPixels(mask);

  ASSERT_NE(got[1].texels, nullptr);
  EXPECT_EQ(got[1].mode & 0x08, 0x08);  // 16 x 16 texels
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const unsigned char* c = pal + 4 * bits[(y * 12 / 16) * 12 + x * 12 / 16];
      int want = matched(c[2], c[1], c[0]);
      ASSERT_EQ(got[1].texels[y * 16 + x], want <= 0 ? 1 : want) << x << "," << y;
    }

  // Handing the pixels back counts as a change: the wide picture is made again, once.
  draw(cam, {a, b});
  EXPECT_EQ(entries.converts, 3);
  draw(cam, {a, b});
  EXPECT_EQ(entries.converts, 3);
  EXPECT_EQ(entries.frees, entries.allocs);
}

// A colour the driver matches to entry 0 (here the screen's own first colour, found in no
// other entry) shows as entry 1, as entry 0 is kept for the mask. Texels made for one device
// are made again for the next one, though texture and picture are unchanged: the new
// device's palette may match them otherwise.
TEST_F(RenderTexelsTest, EntryZeroShowsAsOneAndANewDeviceMakesTheTexelsAgain) {
  const DisplayRgb first{0x13, 0x57, 0x9B};
  display_hardware_palette_set(0, 1, &first);
  ASSERT_TRUE(start(2));
  // Entry 0 offered to the matcher, as a program may mark a palette entry usable.
  int32_t usable = 1;
  ASSERT_NE(VxDeviceControl(14, 0, &usable, 4), 0);
  ASSERT_NE(VxDeviceControl(12, 0, nullptr, 0), 0);  // the ramps and the matcher made again
  ASSERT_EQ(matched(0x13, 0x57, 0x9B), 0);
  VxRaster* pic = VxCreateRasterDepth(16, 16, 24);
  unsigned char* px = VxGetRasterPixels(pic);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      unsigned char* p = px + y * VxGetRasterStride(pic) + x * 3;
      const bool odd = x < 8;  // the left half the screen's first colour, the right half grey
      p[0] = odd ? 0x9B : 0x80, p[1] = odd ? 0x57 : 0x80, p[2] = odd ? 0x13 : 0x80;
    }
  VxReleaseRasterPixels(pic);
  VxTexture* t = VxCreateTexture(pic);
  VxCamera* cam = camera(80, 80, {0, 0, -4}, {0, 0, 0});
  VxClump* square = make_square(1, 0, 0, 0);
  VxSetPolygonTexture(VxGetClumpPolygon(square, 0), t);
  const int grey = matched(0x80, 0x80, 0x80);
  for (int device = 0; device < 2; ++device) {
    SCOPED_TRACE(device);
    if (device) {  // the device closed and opened again
      ASSERT_TRUE(start(2));
      ASSERT_NE(VxDeviceControl(14, 0, &usable, 4), 0);
      ASSERT_NE(VxDeviceControl(12, 0, nullptr, 0), 0);
    }
    ASSERT_NO_FATAL_FAILURE(record_polygons());
    ASSERT_NO_FATAL_FAILURE(count_image_entries());
    std::vector<RecordedPolygon> got = draw(cam, {square});
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(entries.converts, 1);
    ASSERT_NE(got[0].texels, nullptr);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) ASSERT_EQ(got[0].texels[y * 16 + x], x < 8 ? 1 : grey) << x << "," << y;
    draw(cam, {square});
    EXPECT_EQ(entries.converts, 1);  // kept while the device stays
  }
}

// What a raster made from a bitmap holds: depth, rows and palette.
std::vector<unsigned char> contents(VxRaster* r) {
  std::vector<unsigned char> out{(unsigned char)VxGetRasterDepth(r)};
  const unsigned char* px = VxGetRasterPixels(r);
  const int row = VxGetRasterWidth(r) * VxGetRasterDepth(r) / 8;
  for (int y = 0; y < VxGetRasterHeight(r); ++y)
    out.insert(out.end(), px + y * VxGetRasterStride(r), px + y * VxGetRasterStride(r) + row);
  VxReleaseRasterPixels(r);
  if (const unsigned char* pal = VxGetRasterPalette(r)) out.insert(out.end(), pal, pal + 256 * 4);
  return out;
}

// An 8-bit bitmap stored bottom-up with three colours (their fourth bytes not 0) and a
// 24-bit one top-down with padded rows: on an open device both are read by the driver's
// import, and hold the same rows and colours as the null device gives.
TEST_F(RenderTexelsTest, BitmapsAreReadThroughTheDriversImport) {
  const unsigned char indexes[3 * 8] = {0, 1, 2, 1, 0, 9, 9, 9, 2, 2, 1, 1, 0, 9, 9, 9, 1, 0, 0, 2, 2, 9, 9, 9};
  const unsigned char colours[3 * 4] = {10, 20, 30, 1, 200, 100, 50, 2, 0, 0, 0, 3};
  const VxDib indexed{5, 3, 8, 8, 1, indexes, colours, 3};
  unsigned char rgb[2 * 12];
  for (int i = 0; i < 24; ++i) rgb[i] = (unsigned char)(i * 37 + 5);
  const VxDib wide{3, 2, 24, 12, 0, rgb, nullptr, 0};
  const VxBitmapSource a{nullptr, &indexed}, b{nullptr, &wide};
  VxRaster* plain_a = VxCreateRasterFromBitmap(&a, 5);
  VxRaster* plain_b = VxCreateRasterFromBitmap(&b, 0);
  ASSERT_TRUE(plain_a && plain_b);
  const std::vector<unsigned char> want_a = contents(plain_a), want_b = contents(plain_b);
  EXPECT_EQ(want_a[1], 1);  // the top row is the last stored
  EXPECT_EQ(want_b[1 + 3 * 3], rgb[12]);  // second row, padding left out

  ASSERT_TRUE(start(2));
  DeviceRecord* r = record();
  ASSERT_TRUE(r && r->import_bitmap);
  import_entry = r->import_bitmap;
  imports = 0;
  r->import_bitmap = &count_import;
  VxRaster* read_a = VxCreateRasterFromBitmap(&a, 5);
  VxRaster* read_b = VxCreateRasterFromBitmap(&b, 0);
  ASSERT_TRUE(read_a && read_b);
  EXPECT_EQ(imports, 2);
  EXPECT_EQ(contents(read_a), want_a);
  EXPECT_EQ(contents(read_b), want_b);
}

// An 8-bit picture of random pixels and colours.
struct Picture {
  int w, h;
  std::vector<unsigned char> bits, pal;
  VxRaster* raster = nullptr;
  Picture(int width, int height, uint32_t seed) : w(width), h(height), bits((size_t)width * height), pal(256 * 4) {
    std::mt19937 rng(seed);
    for (unsigned char& v : bits) v = (unsigned char)rng();
    for (unsigned char& v : pal) v = (unsigned char)rng();
    const VxDib dib{w, h, 8, w, 0, bits.data(), pal.data(), 256};
    const VxBitmapSource source{nullptr, &dib};
    raster = VxCreateRasterFromBitmap(&source, 0);
  }
  const unsigned char* colour(int x, int y) const { return pal.data() + 4 * bits[(size_t)y * w + x]; }
};

// Pictures with one side of 16 pixels or less that are no strip of square frames keep the
// large texels, picked over the whole picture.
TEST_F(RenderTexelsTest, PicturesSmallOnOneSideOnlyGetTheLargeTexels) {
  ASSERT_TRUE(start(2));
  ASSERT_NO_FATAL_FAILURE(record_polygons());
  VxCamera* cam = camera(80, 80, {0, 0, -4}, {0, 0, 0});
  for (const auto& size : {std::pair{16, 24}, std::pair{200, 10}}) {
    SCOPED_TRACE(testing::Message() << size.first << " x " << size.second);
    Picture pic(size.first, size.second, (uint32_t)size.first);
    ASSERT_NE(pic.raster, nullptr);
    ASSERT_EQ(VxGetRasterHeight(pic.raster), pic.h);
    VxClump* square = make_square(1, 0, 0, 0);
    VxSetPolygonTexture(VxGetClumpPolygon(square, 0), VxCreateTexture(pic.raster));
    std::vector<RecordedPolygon> got = draw(cam, {square});
    ASSERT_EQ(got.size(), 1u);
    ASSERT_NE(got[0].texels, nullptr);
    EXPECT_EQ(got[0].mode & 0x08, 0);  // 128 x 128 texels
    for (int y = 0; y < 128; ++y)
      for (int x = 0; x < 128; ++x) {
        const unsigned char* c = pic.colour(x * pic.w / 128, y * pic.h / 128);
        const int want = matched(c[2], c[1], c[0]);
        ASSERT_EQ(got[0].texels[y * 128 + x], want <= 0 ? 1 : want) << x << "," << y;
      }
  }
}

// A masked strip of three frames whose mask differs from frame to frame: every frame shows
// through its own part of the mask.
TEST_F(RenderTexelsTest, EachFrameOfAMaskedStripIsMaskedByItsOwnMask) {
  ASSERT_TRUE(start(2));
  ASSERT_NO_FATAL_FAILURE(record_polygons());
  Picture pic(16, 48, 7);
  ASSERT_NE(pic.raster, nullptr);
  VxTexture* t = VxCreateTexture(pic.raster);
  VxRaster* mask = VxCreateRaster(16, 48);
  unsigned char* m = VxGetRasterPixels(mask);
  // Frame 0 shows whole, frame 1 its left half, frame 2 its top half.
  auto shows = [](int frame, int x, int y) { return frame == 0 || (frame == 1 ? x < 8 : y < 8); };
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 16; ++x) m[y * VxGetRasterStride(mask) + x] = shows(y / 16, x, y % 16) ? 200 : 0;
  VxReleaseRasterPixels(mask);
  ASSERT_TRUE(VxMaskTexture(t, mask));
  VxCamera* cam = camera(80, 80, {0, 0, -4}, {0, 0, 0});
  VxClump* square = make_square(1, 0, 0, 0);
  VxSetPolygonTexture(VxGetClumpPolygon(square, 0), t);
  for (int frame = 0; frame < 3; ++frame) {
    SCOPED_TRACE(frame);
    ASSERT_EQ(VxGetTextureFrame(t), frame);
    std::vector<RecordedPolygon> got = draw(cam, {square});
    ASSERT_EQ(got.size(), 1u);
    ASSERT_NE(got[0].texels, nullptr);
    EXPECT_EQ(got[0].mode & 0x08, 0x08);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const unsigned char* c = pic.colour(x, frame * 16 + y);
        int want = matched(c[2], c[1], c[0]);
        if (want <= 0) want = 1;
        if (!shows(frame, x, y)) want = 0;
        ASSERT_EQ(got[0].texels[y * 16 + x], want) << x << "," << y;
      }
    VxForEachFrameObject(VxStepFrame);
  }
}

}  // namespace
