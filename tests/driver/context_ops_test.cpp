// Render-context operations: the context's entries, colour to pixel against a double model
// of the HSV arithmetic, frame state, rectangle copies, and the image entries as the engine
// reaches them through the loaded plug-in.
#include <gtest/gtest.h>

#include <cmath>

#include "driver/core/shade.h"
#include "driver/spans/span_state.h"
#include "platform/display.h"
#include "tests/driver/image_test_engine.h"

namespace image_test {
namespace {

struct DepthScope {
  explicit DepthScope(int depth) : saved(ContextDepth) { ContextDepth = depth; }
  ~DepthScope() { ContextDepth = saved; }
  int saved;
};

// ColourRampTable index of a colour as a double-precision model of the driver's HSV steps:
// divisions are exact, only the rounding of the denominators is kept. Components that fall
// within rounding of a step boundary are reported as unknown (-1).
struct RampModel {
  int h = -1, s = -1, v = -1;
  bool grey = false;
};

RampModel model(int r, int g, int b) {
  RampModel m;
  int mx = std::max({r, g, b}), mn = std::min({r, g, b});
  auto near_step = [](double x) { return std::fabs(x - std::round(x)) < 1e-3; };
  double sat = 0;
  bool grey = mx - mn < 3276;
  if (!grey) sat = (mx - mn) * 256.0 / ((mx + 128) >> 8);
  double s_real = sat * 4 / 65536 + 0.5;  // level + 1, before truncation
  int s = near_step(s_real) ? -2 : static_cast<int>(std::floor(s_real)) - 1;
  if (grey || s == -1) {
    m.grey = true;
    m.v = (mx * 31) >> 16;
    return m;
  }
  if (s == -2) return m;  // saturation on a step: level unknown
  m.s = std::min(s, 3);
  double d = (mx - mn + 128) >> 8;
  double hue;
  if (mx == r)
    hue = (g - b) * 256.0 / d;
  else if (mx == g)
    hue = (b - r) * 256.0 / d + 131072;
  else
    hue = (r - g) * 256.0 / d + 262144;
  if (hue < 0) hue += 393216;
  if (hue >= 393216) hue -= 393216;
  double h_real = hue * 6 / 65536;
  m.h = near_step(h_real) || std::fabs(h_real - 36) < 1e-3 ? -1 : static_cast<int>(h_real) % 36;
  m.v = (mx * 24) >> 16;
  if (m.s & 1) m.v = 31 - m.v;
  return m;
}

TEST(ColourToPixel, EightBitAgreesWithHsvModelOnGrid) {
  DepthScope depth(8);
  int checked = 0, greys = 0;
  for (int ri = 0; ri < 16; ++ri)
    for (int gi = 0; gi < 16; ++gi)
      for (int bi = 0; bi < 16; ++bi) {
        DeviceColour c{ri * 0x1111, gi * 0x1111, bi * 0x1111};
        uint32_t p = static_cast<uint32_t>(ColourToPixel(&c));
        uint32_t high = (c.red & 0xF800) | ((c.green & 0xFC00) >> 5) | ((c.blue & 0xF800) >> 11);
        ASSERT_EQ(p >> 16, high);
        int index = static_cast<int>(p & 0xFFFF);
        RampModel m = model(c.red, c.green, c.blue);
        if (m.grey) {
          EXPECT_EQ(index, 4608 + m.v) << ri << "," << gi << "," << bi;
          ++greys;
          continue;
        }
        ASSERT_LT(index, 4608) << ri << "," << gi << "," << bi;
        int row = index / 32, v = index % 32;
        if (m.s >= 0) {
          EXPECT_EQ(row % 4, m.s) << ri << "," << gi << "," << bi;
          EXPECT_EQ(v, m.v) << ri << "," << gi << "," << bi;
        }
        if (m.h >= 0) {
          EXPECT_EQ(row / 4, m.h) << ri << "," << gi << "," << bi;
        }
        if (m.h >= 0 && m.s >= 0) ++checked;
      }
  EXPECT_GE(greys, 16);  // the diagonal and the faintest tints
  EXPECT_GT(checked, 3000);
}

TEST(ColourToPixel, KnownAnswers) {
  DepthScope d16(16);
  DeviceColour red{0xFFFF, 0, 0};
  EXPECT_EQ(ColourToPixel(&red), 0xF800);
  ContextDepth = 15;
  EXPECT_EQ(ColourToPixel(&red), 0x7C00);
  ContextDepth = 8;
  DeviceColour half{0x8000, 0x8000, 0x8000};
  EXPECT_EQ(ColourToPixel(&half) & 0xFFFF, 4623);
  // 3275 apart is grey, 3276 has a hue (dark, so strongly saturated).
  DeviceColour g1{3275, 0, 0}, g2{3276, 0, 0};
  EXPECT_EQ(ColourToPixel(&g1) & 0xFFFF, 4608 + ((3275 * 31) >> 16));
  EXPECT_EQ(ColourToPixel(&g2) & 0xFFFF, 3 * 32 + 31 - ((3276 * 24) >> 16));
  // Pure red: hue 0, saturation level 3 (odd: levels reversed), value 23 -> 31 - 23.
  EXPECT_EQ(ColourToPixel(&red) & 0xFFFF, (0 * 4 + 3) * 32 + 8);
  ContextDepth = 4;
  DeviceColour c{0x1234, 0x5678, 0x9ABC};
  EXPECT_EQ(static_cast<uint32_t>(ColourToPixel(&c)), 0x12569A00u);
  ContextDepth = 24;
  EXPECT_EQ(ColourToPixel(&c), 0);
}

TEST(PixelToColour, UnpacksByDepth) {
  DepthScope d16(16);
  DeviceColour out{1, 2, 3};
  PixelToColour(0xFFFF, &out);
  EXPECT_EQ(out.red, 0xF800);
  EXPECT_EQ(out.green, 0xFC00);
  EXPECT_EQ(out.blue, 0xF800);
  ContextDepth = 15;
  PixelToColour(0x7FFF, &out);
  EXPECT_EQ(out.red, 0xF800);
  EXPECT_EQ(out.green, 0xF800);
  EXPECT_EQ(out.blue, 0xF800);
  // At depth 8 the high half is the colour's 5-6-5, so a round trip keeps the top bits.
  ContextDepth = 8;
  DeviceColour c{0xA000, 0x4400, 0x1800};
  PixelToColour(ColourToPixel(&c), &out);
  EXPECT_EQ(out.red, 0xA000);
  EXPECT_EQ(out.green, 0x4400);
  EXPECT_EQ(out.blue, 0x1800);
  ContextDepth = 2;
  out = {7, 8, 9};
  PixelToColour(0x12345678, &out);
  EXPECT_EQ(out.red, 7);
  EXPECT_EQ(ColourPack(0x7F123456, 0xAB), static_cast<int32_t>(0x123456AB));
}

TEST(InstallContextOps, WritesEveryEntryAndTheTables) {
  Engine engine;
  DeviceRecord record{};
  ASSERT_EQ(InstallContextOps(&record, 640, 480, 8, 0), 1);
  EXPECT_EQ(record.raster_depth, 8);
  EXPECT_EQ(record.shade_levels, 32);
  EXPECT_EQ(record.begin_frame, &BeginFrame);
  EXPECT_EQ(record.fill_rect, &ContextFillRect);
  EXPECT_EQ(record.copy_rect, &RasterCopyRect);
  EXPECT_EQ(record.clear_depth_rect, &ContextClearZRect);
  EXPECT_EQ(record.convert_image, &ConvertImage);
  EXPECT_EQ(record.import_bitmap, &ImportBitmapNone);
  EXPECT_EQ(record.free_image_pixels, &ImageFreePixels);
  EXPECT_EQ(record.alloc_image_pixels, &ImageAllocPixels);
  EXPECT_EQ(record.apply_image_mask, &ImageApplyMask);
  EXPECT_EQ(record.lock_raster, &RasterLock);
  EXPECT_EQ(record.unlock_raster, &RasterUnlock);
  EXPECT_EQ(record.colour_to_pixel, &ColourToPixel);
  EXPECT_EQ(record.pixel_to_colour, &PixelToColour);
  EXPECT_EQ(record.colour_pack, &ColourPack);
  EXPECT_EQ(record.shade_create, &ShadeTablesCreate);
  EXPECT_EQ(record.shade_destroy, &ShadeTablesDestroy);
  EXPECT_EQ(record.shade_select, &ShadeTablesSelect);
  EXPECT_NE(record.transform_vertices, nullptr);
  EXPECT_NE(record.release, nullptr);
  for (int slot : {0, 1, 4, 5, 8, 9, 12, 13, 14, 15, 20, 21, 22, 23}) {
    EXPECT_EQ(record.render_modes[0][slot], &RenderModeNone);
    EXPECT_EQ(record.render_modes[1][slot], &RenderModeNone);
  }
  EXPECT_EQ(record.render_modes[0][2], nullptr);
  ASSERT_NE(QuotientTable, nullptr);
  EXPECT_EQ(QuotientTable[0 * 32 + 1], -0x200000);
  EXPECT_EQ(QuotientTable[64 * 32 + 31], 67650);
  EXPECT_EQ(QuotientTable[31 * 32 + 3], -65536 / 3);
  ASSERT_NE(ShadeTable, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(ShadeTable) & 0xFF, 0u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(ColourRampTable) & 0xFF, 0u);
  FreeContextTables();
  EXPECT_EQ(engine.memory.live(), 0u);
}

TEST(InstallContextOps, RefusesOtherDepthsAndSurvivesFailedAllocations) {
  Engine engine;
  DeviceRecord record{};
  EXPECT_EQ(InstallContextOps(&record, 0, 0, 24, 0), 0);
  FreeContextTables();
  EXPECT_EQ(engine.memory.live(), 0u);
  for (int depth : {8, 16, 4}) {
    for (int n = 1; n <= 3; ++n) {
      engine.memory.fail_nth(n);
      int32_t ok = InstallContextOps(&record, 0, 0, depth, 0);
      engine.memory.fail_nth(0);
      if (n == 1) {
        EXPECT_EQ(ok, 0);
      } else if (depth == 4) {
        EXPECT_EQ(ok, 1);  // one table only
      }
      FreeContextTables();
      EXPECT_EQ(engine.memory.live(), 0u) << depth << " " << n;
    }
  }
}

TEST(BeginFrame, FrameStateFromTheCamera) {
  DeviceCamera camera{};
  DeviceRaster raster{};
  raster.pitch = -640;
  uint8_t* rows[2] = {};
  camera.colour_raster = &raster;
  camera.row_table = rows;
  camera.width = 320;
  camera.height = 200;
  camera.target_x = 9;
  camera.target_y = 3;
  ASSERT_EQ(BeginFrame(&camera, nullptr), 1);
  EXPECT_EQ(FramePitch, -640);
  EXPECT_EQ(FrameRows, rows);
  EXPECT_EQ(FrameLimitX, 320 << 16);
  EXPECT_EQ(FrameLimitY, 200 << 16);
  EXPECT_EQ(HandlerMask, 0xF);
  EXPECT_EQ(FrameDitherRows[0], &DitherMatrices[0][1]);
  EXPECT_EQ(FrameDitherRows[1], &DitherMatrices[1][3]);
  EXPECT_EQ(FrameDitherRows[2], &DitherMatrices[2][1]);
  EXPECT_EQ(FrameDitherRows[3], &DitherMatrices[3][3]);
  camera.projection_flags = kCameraNoPerspectiveTexturing;
  BeginFrame(&camera, nullptr);
  EXPECT_EQ(HandlerMask, 0xD);
  EXPECT_EQ(BeginFrame(nullptr, nullptr), 0);
}

// A frame raster with canary bands and its row table.
struct Frame {
  OwnedImage owned;
  DeviceCamera camera{};
  std::vector<uint8_t*> rows;
  Frame(int w, int h, int depth) : owned(w, h, depth, w * (depth == 8 ? 1 : 2) + 3) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < owned.image.pitch; ++x) owned.image.pixels[y * owned.image.pitch + x] = static_cast<uint8_t>(y * 16 + x);
    for (int y = 0; y < h; ++y) rows.push_back(owned.image.pixels + y * owned.image.pitch);
    camera.colour_raster = &owned.image;
    camera.row_table = rows.data();
    camera.width = w;
    camera.height = h;
  }
  uint8_t at(int x, int y) const { return owned.image.pixels[y * owned.image.pitch + x]; }
};

// A rectangle copied within the frame: the rectangle's bytes at the destination, every other
// byte as it was; an overlapping copy downward reads its source before overwriting it.
struct CopyCase {
  const char* label;
  int depth, w, h;
  DeviceRect rect;
  int to_x, to_y;
};

class RasterCopyRectCopies : public ::testing::TestWithParam<CopyCase> {};

TEST_P(RasterCopyRectCopies, MovesTheRectangleAndLeavesTheRest) {
  const CopyCase& c = GetParam();
  DepthScope depth(c.depth);
  Frame f(c.w, c.h, c.depth);
  const Frame before(c.w, c.h, c.depth);
  ASSERT_EQ(RasterCopyRect(&f.camera, &c.rect, c.to_x, c.to_y), 1);
  const int bytes = c.depth == 8 ? 1 : 2;
  for (int y = 0; y < c.h; ++y)
    for (int x = 0; x < c.w * bytes; ++x) {
      const bool inside = x >= c.to_x * bytes && x < (c.to_x + c.rect.w) * bytes && y >= c.to_y &&
                          y < c.to_y + c.rect.h;
      const uint8_t want =
          inside ? before.at(x - (c.to_x - c.rect.x) * bytes, y - (c.to_y - c.rect.y)) : before.at(x, y);
      EXPECT_EQ(f.at(x, y), want) << x << "," << y;
    }
  EXPECT_TRUE(f.owned.bands_intact());
}

INSTANTIATE_TEST_SUITE_P(RasterCopyRect, RasterCopyRectCopies,
                         ::testing::Values(CopyCase{"CopiesInsideTheFrame", 8, 12, 8, {1, 2, 4, 3}, 6, 4},
                                           CopyCase{"OverlappingCopyDownwardKeepsTheSource", 16, 6, 8,
                                                    {0, 0, 6, 5}, 0, 2}),
                         [](const ::testing::TestParamInfo<CopyCase>& i) { return std::string(i.param.label); });

TEST(RasterCopyRect, RefusesRectanglesOutsideTheFrame) {
  DepthScope depth(8);
  Frame f(12, 8, 8);
  Frame before(12, 8, 8);
  const DeviceRect bad[] = {{-1, 0, 2, 2}, {11, 0, 2, 2}, {0, 7, 2, 2}, {0, 0, 0, 2}, {0, 0, 2, -1}};
  for (const DeviceRect& r : bad) EXPECT_EQ(RasterCopyRect(&f.camera, &r, 0, 0), 0);
  DeviceRect ok{0, 0, 4, 4};
  EXPECT_EQ(RasterCopyRect(&f.camera, &ok, 9, 0), 0);   // would run past the right edge
  EXPECT_EQ(RasterCopyRect(&f.camera, &ok, 0, 5), 0);   // past the bottom
  EXPECT_EQ(RasterCopyRect(&f.camera, &ok, -1, 0), 0);
  f.camera.row_table = nullptr;
  EXPECT_EQ(RasterCopyRect(&f.camera, &ok, 1, 1), 0);
  EXPECT_EQ(f.owned.storage, before.owned.storage);
}

// ---------------------------------------------------------------------------------------
// Through the loaded plug-in, as the engine calls it.

// The plug-in loaded and opened in the plain output mode on an 8-bit screen.
void OpenOnEightBitScreen(driver_test::TestEngine& engine) {
  ASSERT_TRUE(engine.load());
  display_profile_set(8, 640, 480);
  ASSERT_EQ(engine.open("MSWindows", {}), 1);
}

TEST(ContextThroughPlugin, ImageEntriesWorkAfterOpen) {
  driver_test::TestEngine engine;
  ASSERT_NO_FATAL_FAILURE(OpenOnEightBitScreen(engine));
  DeviceRecord& d = engine.device();
  ASSERT_NE(d.convert_image, nullptr);
  ASSERT_NE(d.copy_rect, nullptr);
  ASSERT_NE(d.alloc_image_pixels, nullptr);
  ASSERT_NE(d.apply_image_mask, nullptr);
  ASSERT_NE(d.free_image_pixels, nullptr);

  DeviceRaster src{};
  src.width = 9;
  src.height = 4;
  src.depth = 24;
  ASSERT_EQ(d.alloc_image_pixels(&src), &src);
  EXPECT_EQ(src.pitch, 28);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 27; ++x) src.pixels[y * src.pitch + x] = static_cast<uint8_t>(x * 9 + y * 40);
  DeviceRaster dst{};
  ASSERT_EQ(d.convert_image(&src, &dst, 1), &dst);
  EXPECT_EQ(dst.depth, 8);
  EXPECT_EQ(dst.width, 9);
  // Every index is a colour the driver may use (the default palette's range).
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 9; ++x) {
      int i = dst.pixels[y * dst.pitch + x];
      EXPECT_TRUE(i >= 10 && i <= 245) << i;
    }
  DeviceRaster mask{};
  mask.width = 9;
  mask.height = 4;
  mask.depth = 8;
  ASSERT_NE(d.alloc_image_pixels(&mask), nullptr);
  std::memset(mask.pixels, 0, static_cast<size_t>(mask.pitch) * 4);
  ASSERT_EQ(d.apply_image_mask(&dst, &mask), &dst);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 9; ++x) EXPECT_EQ(dst.pixels[y * dst.pitch + x], 0);
  d.free_image_pixels(&src);
  d.free_image_pixels(&dst);
  d.free_image_pixels(&mask);
  EXPECT_EQ(engine.memory().canary_faults(), 0);
}

TEST(ContextThroughPlugin, ConvertSurvivesEveryFailedAllocation) {
  driver_test::TestEngine engine;
  ASSERT_NO_FATAL_FAILURE(OpenOnEightBitScreen(engine));
  DeviceRecord& d = engine.device();
  DeviceRaster src{};
  src.width = 6;
  src.height = 5;
  src.depth = 16;
  ASSERT_NE(d.alloc_image_pixels(&src), nullptr);
  for (int i = 0; i < src.pitch * 5; ++i) src.pixels[i] = static_cast<uint8_t>(i * 29);
  int failures = 0;
  for (int n = 1; n <= 8; ++n) {
    DeviceRaster dst{};
    engine.memory().fail_nth(n);
    DeviceRaster* r = d.convert_image(&src, &dst, 8 | 1);
    engine.memory().fail_nth(0);
    if (!r) ++failures;
    d.free_image_pixels(&dst);
  }
  EXPECT_GT(failures, 0);
  d.free_image_pixels(&src);
  EXPECT_EQ(engine.memory().canary_faults(), 0);
  EXPECT_EQ(engine.memory().bad_frees(), 0);
  engine.unload();
  EXPECT_EQ(engine.memory().live(), 0u);
}

}  // namespace
}  // namespace image_test
