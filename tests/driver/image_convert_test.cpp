// Format conversion: packed formats by channel masks, and palette indexes by nearest colour
// with serpentine error diffusion, each against a plain reference on small random images.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "tests/driver/image_test_engine.h"

namespace image_test {
namespace {

using Rgb = std::array<uint8_t, 3>;
using Words = std::array<uint16_t, 2>;

// The first two 16-bit pixels of a converted raster.
Words FirstTwoWords(const DeviceRaster& r) {
  Words w;
  std::memcpy(w.data(), r.pixels, sizeof w);
  return w;
}

const std::vector<Rgb> kEightColours = {{0, 0, 0},     {255, 255, 255}, {200, 30, 30}, {30, 180, 40},
                                        {40, 50, 210}, {240, 220, 60},  {120, 120, 120}, {90, 20, 140}};

struct DepthScope {
  explicit DepthScope(int depth) : saved(ContextDepth) { ContextDepth = depth; }
  ~DepthScope() { ContextDepth = saved; }
  int saved;
};

// Against gamma-decoded palette colours, as the matcher measures.
long squared(const uint8_t* a, int e) {
  long dr = a[0] - GammaDecodeTable[PaletteRed[e]], dg = a[1] - GammaDecodeTable[PaletteGreen[e]],
       db = a[2] - GammaDecodeTable[PaletteBlue[e]];
  return dr * dr + dg * dg + db * db;
}

// The matcher's answer, checked to be a nearest usable entry by brute force.
int oracle(const uint8_t* q) {
  int i = OctreeNearestColour(q);
  long best = -1;
  for (int e = 0; e < 256; ++e)
    if (PaletteUsableGet(e) == 2 && (best < 0 || squared(q, e) < best)) best = squared(q, e);
  EXPECT_EQ(squared(q, i), best);
  return i;
}

int floor_div16(int v) { return v >= 0 ? v / 16 : -((-v + 15) / 16); }

// Serpentine diffusion: 7/16 to the next pixel, 3/16 one column ahead,
// 5/16 the same column and 1/16 one behind on the next row.
std::vector<uint8_t> reference_indexes(const std::vector<uint8_t>& rgb, int w, int h, int flags,
                                       double gamma) {
  std::vector<uint8_t> out(static_cast<size_t>(w) * h);
  std::vector<int> above(3 * (w + 2), 0), below(3 * (w + 2), 0);
  auto decode = [&](int c) { return c == 0 ? 0 : static_cast<int>(255.0 * std::pow(c / 255.0, gamma) + 0.5); };
  for (int r = 0; r < h; ++r) {
    int dir = r % 2 == 0 ? 1 : -1;
    int carry[3] = {0, 0, 0};
    std::fill(below.begin(), below.end(), 0);
    for (int n = 0; n < w; ++n) {
      int c = dir > 0 ? n : w - 1 - n;
      int v[3];
      uint8_t q[3];
      for (int k = 0; k < 3; ++k) {
        v[k] = rgb[3 * (r * w + c) + k] * 256;
        if (flags & 1) v[k] = std::clamp(v[k] + carry[k] + above[3 * (c + 1) + k], 0, 65535);
        q[k] = static_cast<uint8_t>(v[k] / 256);
      }
      int index = (flags & 8) && !q[0] && !q[1] && !q[2] ? 0 : oracle(q);
      out[r * w + c] = static_cast<uint8_t>(index);
      if (!(flags & 1)) continue;
      int chosen[3] = {PaletteRed[index], PaletteGreen[index], PaletteBlue[index]};
      for (int k = 0; k < 3; ++k) {
        int comp = (flags & 2) ? decode(chosen[k]) : chosen[k];
        int e = floor_div16(v[k] - comp * 256);
        carry[k] = 7 * e;
        below[3 * (c + 1 + dir) + k] += 3 * e;
        below[3 * (c + 1) + k] += 5 * e;
        below[3 * (c + 1 - dir) + k] += e;
      }
    }
    std::swap(above, below);
  }
  return out;
}

OwnedImage random_rgb24(int w, int h, unsigned seed, std::vector<uint8_t>* rgb) {
  OwnedImage img(w, h, 24, w * 3 + 5);
  std::mt19937 gen(seed);
  rgb->resize(static_cast<size_t>(w) * h * 3);
  for (auto& b : *rgb) b = static_cast<uint8_t>(gen());
  for (int y = 0; y < h; ++y) std::memcpy(img.at(0, y, 3), rgb->data() + 3 * w * y, 3 * w);
  img.image.red_mask = 0xFF0000;
  img.image.green_mask = 0xFF00;
  img.image.blue_mask = 0xFF;
  return img;
}

std::vector<uint8_t> indexes_of(const DeviceRaster& d) {
  std::vector<uint8_t> v;
  for (int y = 0; y < d.height; ++y)
    for (int x = 0; x < d.width; ++x) v.push_back(d.pixels[y * d.pitch + x]);
  return v;
}

TEST(ImageToPalette, DiffusionMatchesReferenceOnRandomImages) {
  Engine engine;
  engine.use_palette(kEightColours);
  DepthScope depth(8);
  for (unsigned seed : {1u, 2u, 3u}) {
    std::vector<uint8_t> rgb;
    OwnedImage src = random_rgb24(7, 5, seed, &rgb);
    for (int flags : {0, 1, 1 | 8}) {
      DeviceRaster dst{};
      ASSERT_EQ(ConvertImage(&src.image, &dst, flags), &dst) << flags;
      EXPECT_EQ(dst.depth, 8);
      EXPECT_EQ(dst.width, 7);
      EXPECT_EQ(indexes_of(dst), reference_indexes(rgb, 7, 5, flags, 1.0)) << "seed " << seed << " flags " << flags;
      ImageFreePixels(&dst);
    }
    EXPECT_TRUE(src.bands_intact());
  }
  EXPECT_EQ(engine.memory.canary_faults(), 0);
  OctreeFree();  // the matcher's tree grows with the queries
  EXPECT_EQ(engine.memory.live(), 0u);
}

TEST(ImageToPalette, GammaDecodedErrorMatchesReference) {
  Engine engine;
  engine.use_palette(kEightColours);
  GammaSet(2.2f);
  ColourMatcherRebuild();
  std::vector<uint8_t> rgb;
  OwnedImage src = random_rgb24(6, 6, 9, &rgb);
  DeviceRaster dst{};
  ASSERT_NE(ImageToPalette(&src.image, &dst, 1 | 2), nullptr);
  auto expected = reference_indexes(rgb, 6, 6, 1 | 2, 2.2f);
  EXPECT_EQ(indexes_of(dst), expected);
  // The decoded error differs from the plain one on this image.
  EXPECT_NE(expected, reference_indexes(rgb, 6, 6, 1, 2.2f));
  ImageFreePixels(&dst);
  GammaSet(1.0f);
}

TEST(ImageToPalette, SecondRowRunsRightToLeft) {
  Engine engine;
  engine.use_palette({{0, 0, 0}, {255, 255, 255}}, 0);
  OwnedImage src(4, 2, 24);
  std::memset(src.image.pixels, 128, 24);
  DeviceRaster dst{};
  ASSERT_NE(ImageToPaletteMatched(&src.image, &dst, 1), nullptr);
  // Row 0 by hand: 128 -> white (error -2032), then black, white, black.
  const uint8_t row0[4] = {1, 0, 1, 0};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(dst.pixels[x], row0[x]) << x;
  // Row 1 starts at the right with 128 x 256 + 5 e(3) + 3 e(2)... : by the reference.
  std::vector<uint8_t> rgb(24, 128);
  EXPECT_EQ(indexes_of(dst), reference_indexes(rgb, 4, 2, 1, 1.0));
  // Read left to right the second row would differ.
  EXPECT_NE(dst.pixels[dst.pitch + 3], dst.pixels[dst.pitch + 0]);
  ImageFreePixels(&dst);
}

TEST(ImageToPalette, PaletteSourceWithoutDiffusionMapsEachColourOnce) {
  Engine engine;
  engine.use_palette(kEightColours);
  OwnedImage src(5, 3, 8);
  src.with_palette();
  for (int i = 0; i < 256; ++i) {
    src.palette[3 * i] = static_cast<uint8_t>(i * 7);
    src.palette[3 * i + 1] = static_cast<uint8_t>(255 - i);
    src.palette[3 * i + 2] = static_cast<uint8_t>(i * 13);
  }
  for (int i = 0; i < 15; ++i) *src.at(i % 5, i / 5, 1) = static_cast<uint8_t>(i * 17);
  DeviceRaster dst{};
  ASSERT_NE(ImageToPalette(&src.image, &dst, 0), nullptr);
  for (int i = 0; i < 15; ++i) {
    int s = i * 17;
    EXPECT_EQ(dst.pixels[(i / 5) * dst.pitch + i % 5], oracle(&src.palette[3 * s])) << i;
  }
  ImageFreePixels(&dst);
}

TEST(ImageToPalette, BlackWithTransparencyFlagIsIndexZero) {
  Engine engine;
  engine.use_palette({{0, 0, 0}, {255, 0, 0}}, 30);  // black lives at 30, entry 0 unusable
  OwnedImage src(3, 2, 16);
  src.image.red_mask = 0xF800;
  src.image.green_mask = 0x07E0;
  src.image.blue_mask = 0x001F;
  std::memset(src.image.pixels, 0, 12);
  DepthScope depth(8);
  DeviceRaster dst{};
  ASSERT_NE(ConvertImage(&src.image, &dst, 8), nullptr);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(dst.pixels[(i / 3) * dst.pitch + i % 3], 0) << i;
  ImageFreePixels(&dst);
  // Without the flag black is matched like any colour. 24-bit source, no conversion step.
  OwnedImage black(3, 1, 24);
  std::memset(black.image.pixels, 0, 9);
  ASSERT_NE(ConvertImage(&black.image, &dst, 0), nullptr);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(dst.pixels[i], 30);
  ImageFreePixels(&dst);
  // The 24-bit step's temporary is given back.
  OctreeFree();
  EXPECT_EQ(engine.memory.live(), 0u);
}

TEST(ImageToPalette, NoUsableEntryNeverBecomesAnIndex) {
  Engine engine;
  engine.use_palette({});
  std::vector<uint8_t> rgb;
  OwnedImage src = random_rgb24(5, 4, 4, &rgb);
  DeviceRaster dst{};
  ASSERT_NE(ImageToPaletteMatched(&src.image, &dst, 1 | 2), nullptr);
  for (uint8_t v : indexes_of(dst)) EXPECT_EQ(v, 0);
  ImageFreePixels(&dst);
  EXPECT_EQ(engine.memory.canary_faults(), 0);
}

TEST(ImageToPalette, ChannelFlagTakesTheBlueByte) {
  Engine engine;
  OwnedImage pal(3, 1, 8);
  pal.with_palette();
  for (int i = 0; i < 256; ++i) pal.palette[3 * i + 2] = static_cast<uint8_t>(255 - i);
  const uint8_t idx[3] = {0, 10, 200};
  std::memcpy(pal.image.pixels, idx, 3);
  DeviceRaster dst{};
  ASSERT_NE(ImageToPalette(&pal.image, &dst, 4), nullptr);
  EXPECT_EQ(dst.pixels[0], 255);
  EXPECT_EQ(dst.pixels[1], 245);
  EXPECT_EQ(dst.pixels[2], 55);
  ImageFreePixels(&dst);
  OwnedImage rgb(2, 1, 24);
  rgb.set_row({1, 2, 3, 4, 5, 6});
  ASSERT_NE(ImageToPalette(&rgb.image, &dst, 4), nullptr);
  EXPECT_EQ(dst.pixels[0], 3);
  EXPECT_EQ(dst.pixels[1], 6);
  ImageFreePixels(&dst);
  // A 16-bit source cannot be read three bytes a pixel within its rows.
  OwnedImage narrow(4, 2, 16);
  EXPECT_EQ(ImageToPalette(&narrow.image, &dst, 4), nullptr);
  ImageFreePixels(&dst);
  EXPECT_TRUE(narrow.bands_intact());
}

TEST(ImageToPalette, UnreadableSourcesAreRefused) {
  Engine engine;
  engine.use_palette(kEightColours);
  DeviceRaster dst{};
  OwnedImage short_pitch(8, 2, 24, 12);  // rows of 24 bytes in a 12-byte pitch
  EXPECT_EQ(ImageToPaletteMatched(&short_pitch.image, &dst, 1), nullptr);
  ImageFreePixels(&dst);
  OwnedImage no_palette(2, 2, 8);
  EXPECT_EQ(ImageToPaletteMatched(&no_palette.image, &dst, 0), nullptr);
  OwnedImage sixteen(2, 2, 16);
  EXPECT_EQ(ImageToPaletteMatched(&sixteen.image, &dst, 0), nullptr);
  ImageFreePixels(&dst);
  OctreeFree();
  EXPECT_EQ(engine.memory.live(), 0u);
}

// ---------------------------------------------------------------------------------------
// Mask conversion.

struct Field {
  int shift, width;
};
Field field_of(uint32_t m) {
  if (!m) return {0, 0};
  int s = 0;
  while (!((m >> s) & 1)) ++s;
  int w = 0;
  while ((m >> (s + w)) & 1) ++w;
  return {s, w};
}
// A channel's top bits moved from one field to another.
uint32_t move_field(uint32_t pixel, uint32_t from, uint32_t to) {
  Field f = field_of(from), t = field_of(to);
  if (!t.width) return 0;
  uint32_t v = (pixel & from) >> f.shift;
  v = f.width >= t.width ? v >> (f.width - t.width) : v << (t.width - f.width);
  return (v << t.shift) & to;
}

TEST(ImageConvertMasks, PackedFormatsMatchReference) {
  Engine engine;
  struct Format {
    int depth;
    uint32_t r, g, b;
  };
  const Format formats[] = {{24, 0xFF0000, 0xFF00, 0xFF}, {16, 0xF800, 0x07E0, 0x1F},
                            {15, 0x7C00, 0x03E0, 0x1F},   {32, 0xFF, 0xFF00, 0xFF0000}};
  std::mt19937 gen(77);
  for (const Format& from : formats) {
    for (const Format& to : formats) {
      OwnedImage src(5, 3, from.depth);
      src.image.red_mask = from.r;
      src.image.green_mask = from.g;
      src.image.blue_mask = from.b;
      int sb = from.depth == 24 ? 3 : from.depth == 32 ? 4 : 2;
      std::vector<uint32_t> pixels;
      for (int i = 0; i < 15; ++i) {
        uint32_t p = gen() & (from.r | from.g | from.b);
        if (i == 4) p = 0;
        pixels.push_back(p);
        uint8_t* at = src.at(i % 5, i / 5, sb);
        if (sb == 3) {
          at[0] = static_cast<uint8_t>(p >> 16), at[1] = static_cast<uint8_t>(p >> 8), at[2] = static_cast<uint8_t>(p);
        } else {
          for (int k = 0; k < sb; ++k) at[k] = static_cast<uint8_t>(p >> (8 * k));
        }
      }
      DeviceRaster dst{};
      dst.depth = to.depth;
      dst.bits = to.depth == 15 ? 16 : to.depth;
      dst.kind = kRasterKindPacked;
      dst.red_mask = to.r;
      dst.green_mask = to.g;
      dst.blue_mask = to.b;
      ASSERT_EQ(ImageConvertMasks(&src.image, &dst, 0), &dst);
      int db = to.depth == 24 ? 3 : to.depth == 32 ? 4 : 2;
      for (int i = 0; i < 15; ++i) {
        uint32_t want = move_field(pixels[i], from.r, to.r) | move_field(pixels[i], from.g, to.g) |
                        move_field(pixels[i], from.b, to.b);
        if (want == 0) want = to.b & (~to.b + 1);  // zero stays reserved for transparency
        const uint8_t* at = dst.pixels + (i / 5) * dst.pitch + (i % 5) * db;
        uint32_t got = 0;
        if (db == 3)
          got = (at[0] << 16) | (at[1] << 8) | at[2];
        else
          for (int k = 0; k < db; ++k) got |= static_cast<uint32_t>(at[k]) << (8 * k);
        EXPECT_EQ(got, want) << from.depth << "->" << to.depth << " pixel " << i;
      }
      ImageFreePixels(&dst);
    }
  }
  EXPECT_EQ(engine.memory.canary_faults(), 0);
  EXPECT_EQ(engine.memory.live(), 0u);
}

TEST(ImageConvertMasks, PaletteSourceWidensBytes) {
  Engine engine;
  OwnedImage src(2, 1, 8);
  src.with_palette();
  const uint8_t colours[6] = {0xFF, 0x80, 0x08, 0, 0, 0};
  std::memcpy(src.palette.data(), colours, 6);
  src.image.pixels[0] = 0;
  src.image.pixels[1] = 1;
  DeviceRaster dst{};
  dst.depth = 15;
  dst.red_mask = 0x7C00, dst.green_mask = 0x3E0, dst.blue_mask = 0x1F, dst.bits = 16;
  ASSERT_NE(ImageConvertMasks(&src.image, &dst, 8), nullptr);
  uint16_t out[2];
  std::memcpy(out, dst.pixels, 4);
  EXPECT_EQ(out[0], (31 << 10) | (16 << 5) | 1);
  EXPECT_EQ(out[1], 1);  // black keeps 0 free even with flag 8 for a palette source
  ImageFreePixels(&dst);
  // A palette source without its palette fails at once.
  OwnedImage bare(2, 1, 8);
  EXPECT_EQ(ImageConvertMasks(&bare.image, &dst, 0), nullptr);
}

TEST(ImageConvertMasks, TransparencyAndAlpha) {
  Engine engine;
  // 32-bit source with alpha in the top byte.
  OwnedImage src(3, 1, 32);
  src.image.alpha_mask = 0xFF000000, src.image.red_mask = 0xFF0000;
  src.image.green_mask = 0xFF00, src.image.blue_mask = 0xFF;
  const uint32_t px[3] = {0xFF102030, 0x00405060, 0x80000000};
  std::memcpy(src.image.pixels, px, 12);

  // Flag 8 into 1-5-5-5 with alpha: alpha moved into the top bit.
  DeviceRaster argb{};
  argb.depth = 16, argb.bits = 16;
  argb.alpha_mask = 0x8000, argb.red_mask = 0x7C00, argb.green_mask = 0x3E0, argb.blue_mask = 0x1F;
  ASSERT_NE(ImageConvertMasks(&src.image, &argb, 8), nullptr);
  uint16_t w[3];
  std::memcpy(w, argb.pixels, 6);
  EXPECT_EQ(w[0], 0x8000 | (0x10 >> 3) << 10 | (0x20 >> 3) << 5 | (0x30 >> 3));
  EXPECT_EQ(w[1], (0x40 >> 3) << 10 | (0x50 >> 3) << 5 | (0x60 >> 3));
  EXPECT_EQ(w[2], 0x8000);
  ImageFreePixels(&argb);

  // Flag 8 into 5-6-5 without alpha: zero alpha becomes 0.
  DeviceRaster rgb{};
  rgb.depth = 16, rgb.bits = 16, rgb.red_mask = 0xF800, rgb.green_mask = 0x7E0, rgb.blue_mask = 0x1F;
  ASSERT_NE(ImageConvertMasks(&src.image, &rgb, 8), nullptr);
  std::memcpy(w, rgb.pixels, 6);
  EXPECT_EQ(w[0], (0x10 >> 3) << 11 | (0x20 >> 2) << 5 | (0x30 >> 3));
  EXPECT_EQ(w[1], 0);
  EXPECT_EQ(w[2], 0);
  ImageFreePixels(&rgb);

  // Without flag 8: alpha all ones, or from blue with flag 4.
  ASSERT_NE(ImageConvertMasks(&src.image, &argb, 0), nullptr);
  std::memcpy(w, argb.pixels, 6);
  EXPECT_EQ(w[1] & 0x8000, 0x8000);
  ImageFreePixels(&argb);
  const uint32_t blues[3] = {0x000000FF, 0x0000007F, 0x00000080};
  std::memcpy(src.image.pixels, blues, 12);
  ASSERT_NE(ImageConvertMasks(&src.image, &argb, 4), nullptr);
  std::memcpy(w, argb.pixels, 6);
  EXPECT_EQ(w[0] & 0x8000, 0x8000);
  EXPECT_EQ(w[1] & 0x8000, 0);
  EXPECT_EQ(w[2] & 0x8000, 0x8000);
  ImageFreePixels(&argb);

  // Flag 8 without source alpha: zero pixels stay zero, others keep their colour.
  OwnedImage plain(2, 1, 24);
  plain.set_row({0, 0, 0, 0, 0, 8});
  ASSERT_NE(ImageConvertMasks(&plain.image, &rgb, 8), nullptr);
  EXPECT_EQ(FirstTwoWords(rgb), (Words{0, 1}));
  ImageFreePixels(&rgb);
}

TEST(ConvertImage, OtherDepthsConvertByMasks) {
  Engine engine;
  DepthScope depth(16);
  OwnedImage src(2, 1, 24);
  src.set_row({0xFF, 0, 0, 0, 0xFF, 0});
  DeviceRaster dst{};
  dst.depth = 16, dst.bits = 16, dst.red_mask = 0xF800, dst.green_mask = 0x7E0, dst.blue_mask = 0x1F;
  ASSERT_NE(ConvertImage(&src.image, &dst, 0), nullptr);
  EXPECT_EQ(FirstTwoWords(dst), (Words{0xF800, 0x07E0}));
  ImageFreePixels(&dst);
}

TEST(ConvertImage, SixteenBitSourceGoesThroughTwentyFourBits) {
  Engine engine;
  engine.use_palette(kEightColours);
  DepthScope depth(8);
  std::mt19937 gen(5);
  OwnedImage src(6, 4, 16);
  src.image.red_mask = 0xF800, src.image.green_mask = 0x7E0, src.image.blue_mask = 0x1F;
  std::vector<uint8_t> rgb;
  for (int i = 0; i < 24; ++i) {
    uint16_t p = static_cast<uint16_t>(gen());
    std::memcpy(src.at(i % 6, i / 6, 2), &p, 2);
    uint8_t r = static_cast<uint8_t>((p >> 11) << 3), g = static_cast<uint8_t>(((p >> 5) & 63) << 2),
            b = static_cast<uint8_t>((p & 31) << 3);
    if (!r && !g && !b) b = 1;  // not produced by this seed's pixels, kept for clarity
    rgb.insert(rgb.end(), {r, g, b});
  }
  DeviceRaster dst{};
  ASSERT_NE(ConvertImage(&src.image, &dst, 8 | 1), nullptr);
  EXPECT_EQ(indexes_of(dst), reference_indexes(rgb, 6, 4, 8 | 1, 1.0));
  ImageFreePixels(&dst);
  OctreeFree();
  EXPECT_EQ(engine.memory.live(), 0u);
}

TEST(ConvertImage, AllocationFailuresAreSurvived) {
  Engine engine;
  engine.use_palette(kEightColours);
  DepthScope depth(8);
  OwnedImage src(5, 5, 16);
  src.image.red_mask = 0xF800, src.image.green_mask = 0x7E0, src.image.blue_mask = 0x1F;
  for (int i = 0; i < 50; ++i) src.image.pixels[i] = static_cast<uint8_t>(i * 37);
  int failures = 0;
  for (int n = 1; n <= 6; ++n) {
    DeviceRaster dst{};
    engine.use_palette(kEightColours);  // a fresh tree, so that the n-th allocation is ours
    OctreeReset(0, nullptr);
    size_t baseline = engine.memory.live();
    engine.memory.fail_nth(n);
    DeviceRaster* r = ConvertImage(&src.image, &dst, 8 | 1);
    engine.memory.fail_nth(0);
    if (!r) ++failures;
    ImageFreePixels(&dst);
    EXPECT_EQ(engine.memory.live(), baseline) << n;
  }
  EXPECT_GE(failures, 3);  // temporary, destination and error rows each failed once
  EXPECT_EQ(engine.memory.canary_faults(), 0);
  EXPECT_EQ(engine.memory.bad_frees(), 0);
}

}  // namespace
}  // namespace image_test
