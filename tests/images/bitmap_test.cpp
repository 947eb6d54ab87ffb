// The bitmap reader's resampler over files built byte by byte.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "client/scene/bitmap.h"
#include "platform/display.h"
#include "platform/gdi.h"
#include "platform/surface.h"
#include "tests/images/image_fixtures.h"
#include "tests/support/test_util.h"

namespace {

void put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// An uncompressed bitmap; pixel(x, file_row) gives each 8-bit index.
Bytes make_bmp(int32_t w, int32_t h, int bits, uint32_t colours_used, uint8_t (*pixel)(int x, int row)) {
  const size_t palette = bits == 8 ? 4 * (colours_used ? colours_used : 256) : 0;
  const size_t row = ((static_cast<size_t>(w) * bits / 8) + 3) & ~size_t{3};
  Bytes b(54 + palette + row * static_cast<size_t>(h > 0 ? h : -h), 0);
  b[0] = 'B', b[1] = 'M';
  put32(b, 2, static_cast<uint32_t>(b.size()));
  put32(b, 10, static_cast<uint32_t>(54 + palette));
  put32(b, 14, 40);
  put32(b, 18, static_cast<uint32_t>(w));
  put32(b, 22, static_cast<uint32_t>(h));
  b[26] = 1;
  b[28] = static_cast<uint8_t>(bits);
  put32(b, 46, colours_used);
  for (size_t i = 0; i < palette / 4; i++) {
    b[54 + i * 4] = static_cast<uint8_t>(i);
    b[55 + i * 4] = static_cast<uint8_t>(255 - i);
    b[56 + i * 4] = static_cast<uint8_t>(i * 3);
  }
  if (bits == 8)
    for (int r = 0; r < (h > 0 ? h : -h); r++)
      for (int x = 0; x < w; x++) b[54 + palette + r * row + x] = pixel(x, r);
  return b;
}

uint8_t coords(int x, int row) { return static_cast<uint8_t>((row << 4) | (x & 15)); }

class BitmapResample : public ::testing::Test {
 protected:
  std::string path(const std::string& name) { return dir.file(name); }
  ScratchDir dir;
};

TEST_F(BitmapResample, HalvingAndQuarteringPickEverySecondRowAndFourthColumn) {
  // 64 x 32: value = (row / 2) << 3 | (column / 4) % 8 keeps both indices visible.
  const Bytes src = make_bmp(64, 32, 8, 0, [](int x, int r) -> uint8_t { return static_cast<uint8_t>(x + 64 * (r & 3)); });
  write_file(path("a.bmp"), src);
  bitmap_resample(path("a.bmp").c_str(), 16);
  const Bytes out = read_file(path("a.bmp"));
  ASSERT_EQ(1078u + 16u * 16u, out.size());
  EXPECT_EQ(out.size(), le32(out, 2));
  EXPECT_EQ(1078u, le32(out, 10));
  EXPECT_EQ(16u, le32(out, 18));
  EXPECT_EQ(16u, le32(out, 22));
  EXPECT_EQ(8u, le16(out, 28));
  // Palette unchanged.
  EXPECT_TRUE(std::equal(src.begin() + 54, src.begin() + 1078, out.begin() + 54));
  for (int r = 0; r < 16; r++)
    for (int c = 0; c < 16; c++) {
      const int sr = r * 2, sc = c * 4;
      ASSERT_EQ(static_cast<uint8_t>(sc + 64 * (sr & 3)), out[1078 + r * 16 + c]) << r << "," << c;
    }
}

TEST_F(BitmapResample, EnlargingRepeatsNearestPixelsAndPadsOddRows) {
  const Bytes src = make_bmp(3, 2, 8, 256, coords);
  write_file(path("b.bmp"), src);
  bitmap_resample(path("b.bmp").c_str(), 5);
  const Bytes out = read_file(path("b.bmp"));
  ASSERT_EQ(1078u + 8u * 5u, out.size());  // rows of 5 bytes padded to 8
  EXPECT_EQ(out.size(), le32(out, 2));
  for (int r = 0; r < 5; r++) {
    for (int c = 0; c < 5; c++) EXPECT_EQ(coords(c * 3 / 5, r * 2 / 5), out[1078 + r * 8 + c]) << r << "," << c;
    for (int p = 5; p < 8; p++) EXPECT_EQ(0, out[1078 + r * 8 + p]);
  }
}

TEST_F(BitmapResample, SourceRowPaddingIsSkipped) {
  // Width 6 is stored in rows of 8: the two padding bytes must never be sampled.
  Bytes src = make_bmp(6, 4, 8, 0, [](int, int) -> uint8_t { return 7; });
  for (int r = 0; r < 4; r++) src[1078 + r * 8 + 6] = src[1078 + r * 8 + 7] = 99;
  write_file(path("p.bmp"), src);
  bitmap_resample(path("p.bmp").c_str(), 12);
  const Bytes out = read_file(path("p.bmp"));
  ASSERT_EQ(1078u + 12u * 12u, out.size());
  for (size_t i = 1078; i < out.size(); i++) ASSERT_EQ(7, out[i]) << i;
}

TEST_F(BitmapResample, OtherFilesAreLeftAlone) {
  struct Case {
    const char* name;
    Bytes bytes;
  };
  Bytes rle = make_bmp(8, 8, 8, 0, coords);
  put32(rle, 30, 1);
  Bytes top_down = make_bmp(8, -8, 8, 0, coords);
  Bytes few_colours = make_bmp(8, 8, 8, 16, coords);
  Bytes short_file = make_bmp(8, 8, 8, 0, coords);
  short_file.resize(short_file.size() - 10);
  Bytes huge = make_bmp(8, 8, 8, 0, coords);
  put32(huge, 18, 100000);
  put32(huge, 22, 100000);
  Bytes not_bmp = make_bmp(8, 8, 8, 0, coords);
  not_bmp[0] = 'X';
  const Case cases[] = {
      {"true_colour", make_bmp(4, 4, 24, 0, coords)},
      {"four_bit", make_bmp(8, 8, 4, 16, coords)},
      {"rle", rle},
      {"top_down", top_down},
      {"few_colours", few_colours},
      {"short", short_file},
      {"huge", huge},
      {"not_bmp", not_bmp},
      {"tiny", Bytes{'B', 'M', 1, 2, 3}},
  };
  for (const Case& c : cases) {
    write_file(path(c.name), c.bytes);
    bitmap_resample(path(c.name).c_str(), 16);
    EXPECT_TRUE(read_file(path(c.name)) == c.bytes) << c.name;
  }
  // A FIFO in a bitmap's place is neither waited on nor replaced.
  ASSERT_EQ(0, mkfifo(path("fifo.bmp").c_str(), 0600));
  EXPECT_EQ("left", testutil::in_child([&] {
    alarm(testutil::kWaitMs / 1000);
    bitmap_resample(path("fifo.bmp").c_str(), 16);
    return std::string("left");
  }));
  EXPECT_TRUE(std::filesystem::is_fifo(path("fifo.bmp")));
  // Missing file, bad sides: nothing happens and nothing is created.
  bitmap_resample(path("missing.bmp").c_str(), 16);
  EXPECT_FALSE(file_there(path("missing.bmp")));
  const Bytes ok = make_bmp(4, 4, 8, 0, coords);
  write_file(path("ok.bmp"), ok);
  bitmap_resample(path("ok.bmp").c_str(), 0);
  bitmap_resample(path("ok.bmp").c_str(), -4);
  EXPECT_TRUE(read_file(path("ok.bmp")) == ok);
}

// --- loading --------------------------------------------------------------------------------

// Shows a loaded bitmap on an in-memory canvas: the colours a user would see.
class BitmapLoad : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(live_before, gdi_live_objects()) << "a section was leaked";
  }
  // 0xRRGGBB of each pixel, top image row first.
  std::vector<uint32_t> show(GdiObject* dib, int w, int h) {
    CanvasSurface canvas(w, h, 0x123456);
    PlatformWindow* window = window_create_plain(0, 0, &canvas);
    GdiDc* dc = gdi_get_dc(window);
    GdiDc* mem = gdi_create_compatible_dc(dc);
    GdiObject* old = gdi_select_object(mem, dib);
    EXPECT_EQ(1, gdi_bit_blt(dc, 0, 0, w, h, mem, 0, 0, kRopSrcCopy));
    gdi_select_object(mem, old);
    gdi_delete_dc(mem);
    gdi_release_dc(window, dc);
    window_destroy(window);
    std::vector<uint32_t> out;
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) out.push_back(canvas.pixel(x, y));
    return out;
  }
  std::string path(const std::string& name) { return dir.file(name); }
  // Writes `bytes` as the file `name` and loads it as a bitmap.
  GdiObject* load(const std::string& name, const Bytes& bytes, int32_t* w = nullptr, int32_t* h = nullptr) {
    write_file(path(name), bytes);
    return bitmap_load(path(name).c_str(), w, h);
  }
  int live_before = gdi_live_objects();
  ScratchDir dir;
};

TEST_F(BitmapLoad, EightBitFileWithFullPalette) {
  const Bytes b = make_bmp(5, 3, 8, 0, coords);
  int32_t w = 0, h = 0;
  GdiObject* dib = load("a.bmp", b, &w, &h);
  ASSERT_NE(nullptr, dib);
  EXPECT_EQ(5, w);
  EXPECT_EQ(3, h);
  const auto px = show(dib, 5, 3);
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 5; x++) {
      const uint8_t i = coords(x, 2 - y);  // file rows are bottom-up
      const uint32_t want = (static_cast<uint32_t>(static_cast<uint8_t>(i * 3)) << 16) |
                            (static_cast<uint32_t>(255 - i) << 8) | i;
      EXPECT_EQ(want, px[y * 5 + x]) << x << "," << y;
    }
  gdi_delete_object(dib);
}

TEST_F(BitmapLoad, ShortPaletteIsFollowedDirectlyByThePixels) {
  // 16 palette entries; the offset field is deliberately wrong and must not be used.
  Bytes b = make_bmp(4, 2, 8, 16, [](int x, int r) -> uint8_t { return static_cast<uint8_t>(x + 4 * r); });
  put32(b, 10, 9999);
  GdiObject* dib = load("c.bmp", b);
  ASSERT_NE(nullptr, dib);
  const auto px = show(dib, 4, 2);
  for (int y = 0; y < 2; y++)
    for (int x = 0; x < 4; x++) {
      const uint8_t i = static_cast<uint8_t>(x + 4 * (1 - y));
      EXPECT_EQ((static_cast<uint32_t>(i * 3) << 16) | (static_cast<uint32_t>(255 - i) << 8) | i, px[y * 4 + x]);
    }
  gdi_delete_object(dib);
}

TEST_F(BitmapLoad, TrueColourRowsOfWidthThreeAreTwelveBytes) {
  Bytes b = make_bmp(3, 2, 24, 0, coords);
  // Row 0 (bottom): blue, green, red per pixel; row 1 (top).
  for (int r = 0; r < 2; r++)
    for (int x = 0; x < 3; x++) {
      b[54 + r * 12 + x * 3 + 0] = static_cast<uint8_t>(10 + x);
      b[54 + r * 12 + x * 3 + 1] = static_cast<uint8_t>(100 + r);
      b[54 + r * 12 + x * 3 + 2] = static_cast<uint8_t>(200 + x + r * 10);
    }
  GdiObject* dib = load("t.bmp", b);
  ASSERT_NE(nullptr, dib);
  const auto px = show(dib, 3, 2);
  for (int y = 0; y < 2; y++)
    for (int x = 0; x < 3; x++) {
      const int r = 1 - y;
      EXPECT_EQ((static_cast<uint32_t>(200 + x + r * 10) << 16) | (static_cast<uint32_t>(100 + r) << 8) |
                    static_cast<uint32_t>(10 + x),
                px[y * 3 + x]);
    }
  gdi_delete_object(dib);
}

TEST_F(BitmapLoad, StatedImageSizeLargerThanTheSectionIsNotTrusted) {
  Bytes b = make_bmp(4, 4, 8, 0, coords);
  put32(b, 34, 1u << 30);
  b.resize(b.size() + 4096, 0xEE);  // more data than the section holds
  GdiObject* dib = load("big.bmp", b);
  ASSERT_NE(nullptr, dib);
  gdi_delete_object(dib);
}

TEST_F(BitmapLoad, UnsupportedOrDamagedFilesGiveNone) {
  Bytes rle = make_bmp(8, 8, 8, 0, coords);
  put32(rle, 30, 1);
  Bytes many = make_bmp(8, 8, 8, 0, coords);
  put32(many, 46, 300);
  Bytes short_pixels = make_bmp(8, 8, 24, 0, coords);
  short_pixels.resize(short_pixels.size() - 1);
  Bytes huge = make_bmp(8, 8, 8, 0, coords);
  put32(huge, 18, 70000);
  const std::pair<const char*, Bytes> cases[] = {
      {"rle", rle},
      {"four_bit", make_bmp(8, 8, 4, 16, coords)},
      {"sixteen_bit", make_bmp(8, 8, 16, 0, coords)},
      {"too_many_colours", many},
      {"short_pixels", short_pixels},
      {"huge", huge},
      {"header_only", Bytes(20, 'B')},
  };
  for (const auto& [name, bytes] : cases) {
    write_file(path(name), bytes);
    int32_t w = -1, h = -1;
    EXPECT_EQ(nullptr, bitmap_load(path(name).c_str(), &w, &h)) << name;
    EXPECT_EQ(-1, w) << name;
  }
  EXPECT_EQ(nullptr, bitmap_load(path("missing.bmp").c_str(), nullptr, nullptr));
  // A FIFO in the file's place gives none at once.
  ASSERT_EQ(0, mkfifo(path("fifo.bmp").c_str(), 0600));
  EXPECT_EQ("none", testutil::in_child([&] {
    alarm(testutil::kWaitMs / 1000);
    return std::string(bitmap_load(path("fifo.bmp").c_str(), nullptr, nullptr) ? "loaded" : "none");
  }));
}

}  // namespace
