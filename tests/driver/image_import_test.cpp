// Bitmap import: the row pipeline, widening of indexed rows, and the area-averaging scaler
// against a double-precision area average, through a bitmap held in memory.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "platform/gdi.h"
#include "tests/driver/image_test_engine.h"

namespace image_test {
namespace {

using Rgb = std::array<uint8_t, 3>;

// A bitmap of the window system as the import sees it: top-down pixels in one of the
// formats 1, 4, 8 (indexes) or 24 (blue, green, red), and a colour table.
struct MemoryBitmap {
  int width = 0, height = 0, bits = 8;
  std::vector<uint32_t> pixels;    // index, or 0xRRGGBB
  std::vector<RgbQuad> table;
  int describe_fails = 0;
  int row_fails_at = -1;           // scan line whose read fails
  int reads = 0;

  static MemoryBitmap*& current() {
    static MemoryBitmap* bitmap = nullptr;
    return bitmap;
  }
  static int realize(GdiDc*) { return 0; }
  static int describe(GdiObject*, BitmapDescription* out) {
    MemoryBitmap* b = current();
    if (b->describe_fails) return 0;
    *out = {0, b->width, b->height, 0, 1, static_cast<uint16_t>(b->bits), nullptr};
    return 1;
  }
  static int rows(GdiDc*, GdiObject*, uint32_t start, uint32_t lines, void* bits, void* info, int) {
    MemoryBitmap* b = current();
    auto* header = static_cast<BitmapInfoHeader*>(info);
    EXPECT_EQ(header->size, 40u);
    EXPECT_EQ(header->bit_count, b->bits);
    EXPECT_EQ(header->width, b->width);
    if (!bits) {
      if (b->bits < 24)
        std::memcpy(static_cast<uint8_t*>(info) + 40, b->table.data(), 4u << b->bits);
      return 1;
    }
    EXPECT_EQ(lines, 1u);
    if (static_cast<int>(start) == b->row_fails_at || static_cast<int>(start) >= b->height) return 0;
    ++b->reads;
    int y = b->height - 1 - static_cast<int>(start);  // scan lines count from the bottom
    auto* out = static_cast<uint8_t*>(bits);
    size_t stride = ((static_cast<size_t>(b->width) * b->bits + 31) / 32) * 4;
    std::memset(out, 0, stride);
    for (int x = 0; x < b->width; ++x) {
      uint32_t p = b->pixels[y * b->width + x];
      switch (b->bits) {
        case 1: out[x >> 3] |= static_cast<uint8_t>((p & 1) << (7 - (x & 7))); break;
        case 4: out[x >> 1] |= static_cast<uint8_t>((p & 15) << ((x & 1) ? 0 : 4)); break;
        case 8: out[x] = static_cast<uint8_t>(p); break;
        default:
          out[3 * x] = static_cast<uint8_t>(p);
          out[3 * x + 1] = static_cast<uint8_t>(p >> 8);
          out[3 * x + 2] = static_cast<uint8_t>(p >> 16);
      }
    }
    return 1;
  }

  MemoryBitmap(int w, int h, int b, unsigned seed) : width(w), height(h), bits(b) {
    std::mt19937 gen(seed);
    pixels.resize(static_cast<size_t>(w) * h);
    uint32_t limit = b == 24 ? 0x1000000u : 1u << b;
    for (auto& p : pixels) p = gen() % limit;
    if (b < 24) {
      table.resize(1u << b);
      for (auto& q : table) q = {static_cast<uint8_t>(gen()), static_cast<uint8_t>(gen()),
                                 static_cast<uint8_t>(gen()), 0};
    }
    current() = this;
    static const BitmapAccess access = {&realize, &describe, &rows};
    ImageSetBitmapAccess(&access);
  }
  ~MemoryBitmap() { current() = nullptr; }

  Rgb colour(int x, int y) const {
    uint32_t p = pixels[y * width + x];
    if (bits == 24) return {static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p)};
    const RgbQuad& q = table[p];
    return {q.red, q.green, q.blue};
  }
};

// An image record with a palette buffer, as the engine hands one to the import.
struct Target {
  std::vector<uint8_t> palette = std::vector<uint8_t>(768, 0);
  DeviceRaster image{};
  Target() { image.palette = palette.data(); }
};

int32_t import(MemoryBitmap& bitmap, Target& target, int32_t flags) {
  DeviceBitmapRef ref{reinterpret_cast<GdiDc*>(&bitmap), reinterpret_cast<GdiObject*>(&bitmap)};
  return ImportBitmap(&ref, flags, &target.image);
}

// The exact area average of output pixel (i, j) of a w x h output over the bitmap.
std::array<double, 3> area_average(const MemoryBitmap& b, int w, int h, int i, int j) {
  double x0 = static_cast<double>(i) * b.width / w, x1 = static_cast<double>(i + 1) * b.width / w;
  double y0 = static_cast<double>(j) * b.height / h, y1 = static_cast<double>(j + 1) * b.height / h;
  std::array<double, 3> sum{0, 0, 0};
  double area = 0;
  for (int y = static_cast<int>(y0); y < b.height && y < y1; ++y) {
    double hy = std::min<double>(y + 1, y1) - std::max<double>(y, y0);
    for (int x = static_cast<int>(x0); x < b.width && x < x1; ++x) {
      double hx = std::min<double>(x + 1, x1) - std::max<double>(x, x0);
      Rgb c = b.colour(x, y);
      for (int k = 0; k < 3; ++k) sum[k] += c[k] * hx * hy;
      area += hx * hy;
    }
  }
  for (auto& s : sum) s /= area;
  return sum;
}

// Largest difference between the scaled image and the area average.
double scaled_error(const MemoryBitmap& b, const DeviceRaster& img) {
  double worst = 0;
  for (int j = 0; j < img.height; ++j)
    for (int i = 0; i < img.width; ++i) {
      auto want = area_average(b, img.width, img.height, i, j);
      for (int k = 0; k < 3; ++k)
        worst = std::max(worst, std::fabs(img.pixels[j * img.pitch + 3 * i + k] - want[k]));
    }
  return worst;
}

TEST(ImportBitmap, TextureSizedEightBitBitmapIsCopiedUnscaled) {
  Engine engine;
  MemoryBitmap b(128, 256, 8, 11);
  Target t;
  ASSERT_EQ(import(b, t, kImportScale), 256 | (128 << 16));
  EXPECT_EQ(t.image.depth, 8);
  EXPECT_EQ(t.image.kind, kRasterKindColour);
  EXPECT_EQ(t.image.width, 128);
  EXPECT_EQ(t.image.height, 256);
  EXPECT_EQ(t.image.pitch, 128);
  EXPECT_TRUE(t.image.flags & kRasterLockFirst);
  bool same = true;
  for (int y = 0; y < 256 && same; ++y)
    for (int x = 0; x < 128 && same; ++x) same = t.image.pixels[y * 128 + x] == b.pixels[y * 128 + x];
  EXPECT_TRUE(same);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(t.palette[3 * i], b.table[i].red);
    EXPECT_EQ(t.palette[3 * i + 2], b.table[i].blue);
  }
  ImageFreePixels(&t.image);
  EXPECT_EQ(engine.memory.live(), 0u);
  EXPECT_EQ(engine.memory.canary_faults(), 0);
}

TEST(ImportBitmap, TwentyFourBitStackOfSquaresKeepsScalingWithoutAveraging) {
  Engine engine;
  MemoryBitmap b(128, 256, 24, 12);
  Target t;
  ASSERT_EQ(import(b, t, kImportScale), 256 | (128 << 16));
  EXPECT_EQ(t.image.depth, 24);
  EXPECT_EQ(t.image.red_mask, 0xFF0000u);
  ASSERT_EQ(t.image.width, 128);
  ASSERT_EQ(t.image.height, 256);  // two stacked squares
  EXPECT_EQ(t.image.pitch, 384);
  int wrong = 0;
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 128; ++x) {
      Rgb c = b.colour(x, y);
      for (int k = 0; k < 3; ++k) wrong += t.image.pixels[y * 384 + 3 * x + k] != c[k];
    }
  EXPECT_EQ(wrong, 0);
  ImageFreePixels(&t.image);
  EXPECT_EQ(engine.memory.live(), 0u);
}

TEST(ImportBitmap, IndexedRowsWidenToIndexes) {
  Engine engine;
  for (int bits : {1, 4}) {
    MemoryBitmap b(13, 5, bits, 20 + bits);
    Target t;
    ASSERT_EQ(import(b, t, 0), 5 | (13 << 16)) << bits;
    EXPECT_EQ(t.image.depth, 8);
    EXPECT_EQ(t.image.pitch, 16);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 13; ++x)
        EXPECT_EQ(t.image.pixels[y * 16 + x], b.pixels[y * 13 + x]) << bits << " " << x << "," << y;
    ImageFreePixels(&t.image);
  }
  EXPECT_EQ(engine.memory.canary_faults(), 0);
}

TEST(ImportBitmap, ScaledIndexedRowsWidenThroughThePalette) {
  Engine engine;
  MemoryBitmap b(16, 16, 1, 31);  // 16 wide: the small texture size, already square
  Target t;
  ASSERT_NE(import(b, t, kImportScale), 0);
  ASSERT_EQ(t.image.depth, 24);
  ASSERT_EQ(t.image.width, 16);
  ASSERT_EQ(t.image.height, 16);
  int wrong = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      Rgb c = b.colour(x, y);
      for (int k = 0; k < 3; ++k) wrong += t.image.pixels[y * t.image.pitch + 3 * x + k] != c[k];
    }
  EXPECT_EQ(wrong, 0);
  ImageFreePixels(&t.image);
}

TEST(ImportBitmap, ScalingFollowsTheAreaAverage) {
  Engine engine;
  struct Case {
    int w, h, bits, out_w, out_h;
  } cases[] = {
      {20, 12, 24, 16, 16},    // narrow: small texture size, shrunk across, stretched down
      {5, 3, 24, 16, 16},      // stretched both ways
      {300, 200, 24, 128, 128},  // shrunk both ways
      {100, 50, 8, 128, 128},  // indexed, stretched
      {200, 90, 4, 128, 128},
  };
  for (const Case& c : cases) {
    MemoryBitmap b(c.w, c.h, c.bits, static_cast<unsigned>(c.w * 7 + c.h));
    Target t;
    ASSERT_EQ(import(b, t, kImportScale), c.h | (c.w << 16)) << c.w << "x" << c.h;
    ASSERT_EQ(t.image.width, c.out_w);
    ASSERT_EQ(t.image.height, c.out_h);
    EXPECT_LE(scaled_error(b, t.image), 2.0) << c.w << "x" << c.h;
    ImageFreePixels(&t.image);
  }
  EXPECT_EQ(engine.memory.live(), 0u);
  EXPECT_EQ(engine.memory.canary_faults(), 0);
}

TEST(ImportBitmap, SmoothGradientScalesWithinRounding) {
  Engine engine;
  MemoryBitmap b(48, 40, 24, 1);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 48; ++x)
      b.pixels[y * 48 + x] = static_cast<uint32_t>((x * 5) << 16 | (y * 6) << 8 | (x + y) * 2);
  Target t;
  ASSERT_NE(import(b, t, kImportScale), 0);
  ASSERT_EQ(t.image.width, 16);
  EXPECT_LE(scaled_error(b, t.image), 1.0);
  ImageFreePixels(&t.image);
}

TEST(ImportBitmap, WideBitmapDownscaleDoesNotOverflowSums) {
  Engine engine;
  engine.services.device.texture_width_unit = 4;
  engine.services.device.texture_height_unit = 4;
  engine.services.device.small_texture_width_unit = 0;
  MemoryBitmap b(30000, 2, 24, 3);
  std::fill(b.pixels.begin(), b.pixels.end(), 0xFFFFFFu);
  Target t;
  ASSERT_NE(import(b, t, kImportScale), 0);
  ASSERT_EQ(t.image.width, 4);
  ASSERT_EQ(t.image.height, 4);
  // 7500 pixels of 255 to a column: far past 31 bits in 16.16, still white.
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 12; ++i) EXPECT_GE(t.image.pixels[j * t.image.pitch + i], 254) << i << "," << j;
  ImageFreePixels(&t.image);
}

TEST(ImportBitmap, FailuresStopCleanly) {
  Engine engine;
  {
    MemoryBitmap b(10, 10, 24, 4);
    b.describe_fails = 1;
    Target t;
    EXPECT_EQ(import(b, t, 0), 0);
    EXPECT_EQ(engine.memory.allocations(), 0);
  }
  {
    MemoryBitmap b(10, 10, 24, 4);
    b.row_fails_at = 6;
    Target t;
    EXPECT_EQ(import(b, t, kImportScale), 0);
    ImageFreePixels(&t.image);
    EXPECT_EQ(engine.memory.live(), 0u);
  }
  {
    // A 24-bit bitmap into an image already set up for 8 bits.
    MemoryBitmap b(10, 10, 24, 4);
    Target t;
    t.image.depth = 8;
    EXPECT_EQ(import(b, t, 0), 0);
    EXPECT_EQ(b.reads, 1);
    EXPECT_EQ(engine.memory.live(), 0u);
  }
  {
    // Indexed rows need the image's palette.
    MemoryBitmap b(10, 10, 8, 4);
    Target t;
    t.image.palette = nullptr;
    EXPECT_EQ(import(b, t, 0), 0);
    EXPECT_EQ(engine.memory.live(), 0u);
  }
  {
    MemoryBitmap b(1, 1, 8, 4);
    b.width = 40000;  // larger than any image the driver makes
    Target t;
    long before = engine.memory.allocations();
    EXPECT_EQ(import(b, t, 0), 0);
    EXPECT_EQ(engine.memory.allocations(), before);
  }
  ImageSetBitmapAccess(nullptr);
  Target t;
  DeviceBitmapRef ref{nullptr, nullptr};
  EXPECT_EQ(ImportBitmap(&ref, 0, &t.image), 0);  // no bitmap to describe
}

// The shipped driver reads real platform bitmaps: a 24-bit device bitmap and an 8-bit DIB
// section with its colour table.
TEST(ImportBitmap, PlatformBitmapsAreDescribedAndReadRowByRow) {
  Engine engine;
  {
    // Device rows are 16-bit aligned: 5 pixels x 3 bytes = 15, padded to 16.
    std::vector<uint8_t> data(16 * 3, 0);
    auto put = [&](int x, int y, uint8_t r, uint8_t g, uint8_t b) {
      uint8_t* p = data.data() + y * 16 + 3 * x;
      p[0] = b, p[1] = g, p[2] = r;
    };
    put(0, 0, 255, 0, 0);
    put(4, 0, 0, 255, 0);
    put(2, 2, 0, 0, 255);
    GdiObject* bitmap = gdi_create_bitmap(5, 3, 1, 24, data.data());
    ASSERT_NE(bitmap, nullptr);
    Target t;
    DeviceBitmapRef ref{nullptr, bitmap};
    ASSERT_EQ(ImportBitmap(&ref, 0, &t.image), 3 | (5 << 16));
    ASSERT_EQ(t.image.depth, 24);
    auto at = [&](int x, int y) {
      const uint8_t* p = t.image.pixels + y * t.image.pitch + 3 * x;
      return Rgb{p[0], p[1], p[2]};
    };
    EXPECT_EQ(at(0, 0), (Rgb{255, 0, 0}));
    EXPECT_EQ(at(4, 0), (Rgb{0, 255, 0}));
    EXPECT_EQ(at(2, 2), (Rgb{0, 0, 255}));
    EXPECT_EQ(at(1, 1), (Rgb{0, 0, 0}));
    ImageFreePixels(&t.image);
    gdi_delete_object(bitmap);
  }
  {
    std::vector<uint8_t> info(40 + 1024, 0);
    BitmapInfoHeader h{};
    h.size = 40;
    h.width = 16;
    h.height = 16;  // bottom-up
    h.planes = 1;
    h.bit_count = 8;
    std::memcpy(info.data(), &h, 40);
    for (int i = 0; i < 256; ++i) {
      RgbQuad q{static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i / 2), 0};
      std::memcpy(info.data() + 40 + 4 * i, &q, 4);
    }
    uint8_t* bits = nullptr;
    GdiObject* dib = gdi_create_dib_section(nullptr, info.data(), kDibRgbColours, &bits, nullptr, 0);
    ASSERT_NE(dib, nullptr);
    for (int row = 0; row < 16; ++row)
      for (int x = 0; x < 16; ++x) bits[row * 16 + x] = static_cast<uint8_t>(row * 16 + x);
    Target t;
    DeviceBitmapRef ref{nullptr, dib};
    ASSERT_EQ(ImportBitmap(&ref, 0, &t.image), 16 | (16 << 16));
    ASSERT_EQ(t.image.depth, 8);
    // The top row of the image is the last stored row of a bottom-up section.
    EXPECT_EQ(t.image.pixels[0], 15 * 16);
    EXPECT_EQ(t.image.pixels[15 * t.image.pitch + 3], 3);
    EXPECT_EQ(t.palette[3 * 7], 7u / 2);        // red of entry 7
    EXPECT_EQ(t.palette[3 * 7 + 1], 255u - 7);  // green
    EXPECT_EQ(t.palette[3 * 7 + 2], 7u);        // blue
    ImageFreePixels(&t.image);
    gdi_delete_object(dib);
  }
  EXPECT_EQ(engine.memory.live(), 0u);
}

TEST(ImportBitmap, AllocationFailuresAreSurvived) {
  Engine engine;
  for (int scale : {0, kImportScale}) {
    for (int n = 1; n <= 5; ++n) {
      MemoryBitmap b(24, 20, 8, 8);
      Target t;
      engine.memory.fail_nth(n);
      int32_t r = import(b, t, scale);
      engine.memory.fail_nth(0);
      if (r) {
        EXPECT_NE(t.image.pixels, nullptr);
      }
      ImageFreePixels(&t.image);
      EXPECT_EQ(engine.memory.live(), 0u) << scale << " " << n;
    }
  }
  EXPECT_EQ(engine.memory.canary_faults(), 0);
  EXPECT_EQ(engine.memory.bad_frees(), 0);
}

TEST(RowExpand, WidensBackwardsInPlace) {
  Engine engine;
  DeviceRaster image{};
  std::vector<uint8_t> palette(768);
  for (int i = 0; i < 768; ++i) palette[i] = static_cast<uint8_t>(i * 3 + 1);
  image.palette = palette.data();
  image.depth = 24;
  uint8_t row[12] = {0x9C, 0x5A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // 4-bit: 9, 12, 5, 10
  ASSERT_EQ(RowExpand(row, 4, 4, 0, &image, 0), 1);
  const int idx[4] = {9, 12, 5, 10};
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 3; ++k) EXPECT_EQ(row[3 * i + k], palette[3 * idx[i] + k]) << i;
  uint8_t bgr[8] = {1, 2, 3, 4, 5, 6, 0, 0};
  ASSERT_EQ(RowExpand(bgr, 2, 24, 0, &image, kImportSwapRB), 1);
  const uint8_t swapped[6] = {3, 2, 1, 6, 5, 4};
  EXPECT_EQ(0, std::memcmp(bgr, swapped, 6));
}

}  // namespace
}  // namespace image_test
