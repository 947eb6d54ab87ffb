// Frames, presentation, palettes, the depth buffer and DirectDraw faults of the output modes,
// through the loaded plug-in.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/display.h"
#include "platform/gdi.h"
#include "platform/surface.h"
#include "tests/driver/driver_harness.h"

namespace driver_test {
namespace {

class Output : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(engine.load()); }
  void TearDown() override {
    if (engine.device().device_close && !engine.device().device_open) {
      for (DeviceCamera* c = engine.services().cameras; c; c = c->next)
        if (c->row_table) engine.device().destroy_raster(c);
      engine.device().device_close(&engine.device());
      engine.device().release();
    }
    EXPECT_EQ(engine.memory().canary_faults(), 0);
    EXPECT_EQ(gdi_canary_faults(), 0);
    EXPECT_EQ(engine.dd_stats().canary_faults, 0);
    EXPECT_EQ(engine.memory().bad_frees(), 0);
    if (window) window_destroy(window);
  }
  void open(const char* name, std::vector<DeviceOption> options) {
    window = window_create_plain(0, 0, &canvas);
    ASSERT_EQ(engine.open(name, std::move(options), window), 1);
  }
  DeviceCamera* frame(int w, int h, int index) {
    DeviceCamera* camera = engine.add_camera(w, h);
    EXPECT_EQ(d().create_raster(camera, w, h), 1);
    EXPECT_EQ(d().begin_frame(camera, window), 1);
    camera->background_index = index;
    DeviceRect all{0, 0, w, h};
    EXPECT_EQ(d().fill_rect(camera, &all), 1);
    return camera;
  }
  uint32_t palette_rgb(int index) {
    uint8_t e[4];
    EXPECT_EQ(d().get_palette_entries(index, 1, e), 1);
    return (uint32_t{e[0]} << 16) | (uint32_t{e[1]} << 8) | e[2];
  }
  int32_t present(DeviceCamera* camera, DeviceRect r) {
    GdiDc* dc = gdi_get_dc(window);
    int32_t result = d().present(camera, &r, dc);
    gdi_release_dc(window, dc);
    return result;
  }
  DeviceRecord& d() { return engine.device(); }

  TestEngine engine;
  CanvasSurface canvas{256, 160, 0x010203};
  PlatformWindow* window = nullptr;
};

TEST_F(Output, OddWidthIsAlignedAndFillStoresWholeWords) {
  ASSERT_NO_FATAL_FAILURE(open("MSWindows", {{1000, 0}}));
  DeviceCamera* camera = frame(101, 4, 20);
  EXPECT_EQ(camera->colour_raster->width, 104);
  EXPECT_EQ(camera->colour_raster->pitch, -104);
  camera->background_index = 77;
  DeviceRect r{5, 0, 3, 1};
  EXPECT_EQ(d().fill_rect(camera, &r), 1);
  uint8_t* row = camera->row_table[0];
  EXPECT_EQ(row[3], 20);
  for (int x = 4; x <= 7; ++x) EXPECT_EQ(row[x], 77) << x;  // up to 3 bytes left of x are filled
  EXPECT_EQ(row[8], 20);
  EXPECT_EQ(camera->row_table[1][5], 20);
}

TEST_F(Output, FillOutsideTheRasterIsRefused) {
  ASSERT_NO_FATAL_FAILURE(open("MSWindows", {{1007, 0}}));
  DeviceCamera* camera = frame(16, 8, 20);
  for (DeviceRect r : {DeviceRect{-1, 0, 4, 4}, DeviceRect{0, 5, 4, 4}, DeviceRect{14, 0, 3, 1},
                       DeviceRect{0, 0, 0, 4}, DeviceRect{0, 0, 4, -2}})
    EXPECT_EQ(d().fill_rect(camera, &r), 0) << r.x << "," << r.y << " " << r.w << "x" << r.h;
}

TEST_F(Output, DepthBufferGrowsToTheWidestAndTallestCamera) {
  ASSERT_NO_FATAL_FAILURE(open("MSWindows", {{1007, 0}}));
  DeviceCamera* wide = engine.add_camera(64, 8);
  ASSERT_EQ(d().create_raster(wide, 64, 8), 1);
  DeviceCamera* tall = engine.add_camera(16, 40);
  ASSERT_EQ(d().create_raster(tall, 16, 40), 1);
  EXPECT_GE(tall->depth_raster->pitch, 128);  // not narrowed to the tall camera
  // Both cameras' whole areas clear inside the buffer.
  DeviceRect a{0, 0, 64, 8}, b{0, 0, 16, 40}, both{0, 0, 64, 40};
  EXPECT_EQ(d().clear_depth_rect(&a), 1);
  EXPECT_EQ(d().clear_depth_rect(&b), 1);
  EXPECT_EQ(d().clear_depth_rect(&both), 1);
  DeviceRect beyond{0, 0, 65, 40};
  EXPECT_EQ(d().clear_depth_rect(&beyond), 0);
  EXPECT_EQ(engine.memory().canary_faults(), 0);
  // The depth raster hands out the buffer while locked.
  EXPECT_EQ(d().lock_raster(tall->depth_raster), 1);
  ASSERT_NE(tall->depth_raster->pixels, nullptr);
  EXPECT_TRUE(engine.memory().owns(tall->depth_raster->pixels));
  EXPECT_EQ(d().unlock_raster(tall->depth_raster), 1);
  EXPECT_EQ(tall->depth_raster->pixels, nullptr);
}

TEST_F(Output, DepthClearOnOddWidthsStaysInsideTheBuffer) {
  ASSERT_NO_FATAL_FAILURE(open("MSWindows", {{1000, 0}}));
  DeviceCamera* camera = engine.add_camera(7, 5);
  ASSERT_EQ(d().create_raster(camera, 7, 5), 1);
  ASSERT_EQ(d().lock_raster(camera->depth_raster), 1);
  auto* depth = reinterpret_cast<uint16_t*>(camera->depth_raster->pixels);
  ASSERT_NE(depth, nullptr);
  int32_t pitch = camera->depth_raster->pitch;
  ASSERT_EQ(pitch, 14);
  for (int i = 0; i < 7 * 5; ++i) depth[i] = 0x4444;
  for (DeviceRect r : {DeviceRect{0, 0, 7, 5}, DeviceRect{1, 0, 6, 5}, DeviceRect{6, 4, 1, 1}}) {
    EXPECT_EQ(d().clear_depth_rect(&r), 1);
    EXPECT_EQ(engine.memory().canary_faults(), 0) << r.x << "," << r.w;
  }
  for (int i = 0; i < 7 * 5; ++i) EXPECT_EQ(depth[i], 0) << i;
  // A cell left of an odd rectangle is cleared with it (the start moves to an even cell),
  // the rows above and below are not.
  for (int i = 0; i < 7 * 5; ++i) depth[i] = 0x4444;
  DeviceRect mid{3, 2, 2, 1};
  EXPECT_EQ(d().clear_depth_rect(&mid), 1);
  EXPECT_EQ(depth[2 * 7 + 2], 0);
  EXPECT_EQ(depth[2 * 7 + 3], 0);
  EXPECT_EQ(depth[2 * 7 + 4], 0);
  EXPECT_EQ(depth[1 * 7 + 3], 0x4444);
  EXPECT_EQ(depth[3 * 7 + 3], 0x4444);
  EXPECT_EQ(depth[2 * 7 + 1], 0x4444);
}

TEST_F(Output, DepthBufferControlSizesOverEveryCamera) {
  ASSERT_NO_FATAL_FAILURE(open("MSWindows", {{1007, 0}}));
  int32_t flag = -1;
  DeviceCamera* a = engine.add_camera(40, 10);
  DeviceCamera* b = engine.add_camera(12, 30);
  ASSERT_EQ(d().control(7, 0, nullptr, 0), 1);
  ASSERT_EQ(d().get_info(16, &flag, 4), 1);
  EXPECT_EQ(flag, 0);
  ASSERT_EQ(d().create_raster(a, 40, 10), 1);
  ASSERT_EQ(d().create_raster(b, 12, 30), 1);
  DeviceRect r{0, 0, 40, 30};
  EXPECT_EQ(d().clear_depth_rect(&r), 1);  // off: nothing to clear, nothing refused
  ASSERT_EQ(d().control(7, 1, nullptr, 0), 1);
  ASSERT_EQ(d().get_info(16, &flag, 4), 1);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(d().clear_depth_rect(&r), 1);
  DeviceRect wider{0, 0, 41, 30};
  EXPECT_EQ(d().clear_depth_rect(&wider), 0);
  EXPECT_EQ(d().control(7, 1, nullptr, 0), 1);  // already on
  // Out of memory switching it on: refused, and a later switch succeeds.
  ASSERT_EQ(d().control(7, 0, nullptr, 0), 1);
  engine.memory().fail_nth(1);
  EXPECT_EQ(d().control(7, 1, nullptr, 0), 0);
  engine.memory().fail_nth(0);
  EXPECT_EQ(d().control(7, 1, nullptr, 0), 1);
}

TEST_F(Output, PaletteEntriesBoundsAndPresentation) {
  ASSERT_NO_FATAL_FAILURE(open("MSWindows", {{1007, 0}}));
  uint8_t e[8] = {1, 2, 3, 0, 4, 5, 6, 0};
  EXPECT_EQ(d().set_palette_entries(5, 1, e), 0);
  EXPECT_EQ(d().set_palette_entries(245, 1, e), 1);
  EXPECT_EQ(d().set_palette_entries(245, 2, e), 0);
  EXPECT_EQ(d().set_palette_entries(9, 1, e), 0);
  EXPECT_EQ(d().set_palette_entries(10, 0, nullptr), 1);  // only rebuilds the ramps
  uint8_t out[8] = {};
  EXPECT_EQ(d().get_palette_entries(-1, 1, out), 0);
  EXPECT_EQ(d().get_palette_entries(255, 2, out), 0);
  EXPECT_EQ(d().get_palette_entries(0, 0, out), 0);
  EXPECT_EQ(d().get_palette_entries(255, 1, out), 1);
  EXPECT_EQ(d().get_palette_entries(245, 1, out), 1);
  EXPECT_EQ(std::memcmp(out, e, 3), 0);
  ASSERT_EQ(d().set_palette_entries(100, 2, e), 1);
  // Entry 101 of the frame shows as the colour just set.
  DeviceCamera* camera = frame(8, 4, 101);
  d().end_frame(camera);
  EXPECT_NE(present(camera, {0, 0, 8, 4}), 0);
  EXPECT_EQ(canvas.pixel(3, 2), 0x040506u);
}

TEST_F(Output, StretchedPresentation) {
  ASSERT_NO_FATAL_FAILURE(open("MSWindows", {{1000, 0}}));
  DeviceCamera* camera = frame(16, 8, 40);
  DeviceRect left{0, 0, 8, 8};
  camera->background_index = 60;
  ASSERT_EQ(d().fill_rect(camera, &left), 1);
  d().end_frame(camera);
  DeviceStretchRequest request{32, 16, camera};
  ASSERT_EQ(d().control(1000, 0, &request, sizeof request), 1);
  EXPECT_EQ(camera->colour_raster->driver_raster->stretch_width, 32);
  EXPECT_NE(present(camera, {0, 0, 16, 8}), 0);
  EXPECT_EQ(canvas.pixel(15, 15), palette_rgb(60));
  EXPECT_EQ(canvas.pixel(16, 0), palette_rgb(40));
  EXPECT_EQ(canvas.pixel(31, 15), palette_rgb(40));
  EXPECT_EQ(canvas.pixel(32, 0), 0x010203u);
  // Same width, other height: this mode copies unstretched.
  canvas.fill(0x010203);
  DeviceStretchRequest tall{16, 16, camera};
  ASSERT_EQ(d().control(1000, 0, &tall, sizeof tall), 1);
  EXPECT_NE(present(camera, {0, 0, 16, 8}), 0);
  EXPECT_EQ(canvas.pixel(0, 8), 0x010203u);
  EXPECT_EQ(canvas.pixel(8, 7), palette_rgb(40));
  // Malformed requests.
  DeviceStretchRequest none{1, 1, nullptr};
  EXPECT_EQ(d().control(1000, 0, &none, sizeof none), 0);
  EXPECT_EQ(d().control(1000, 0, &request, 12), 0);
}

TEST_F(Output, SurfaceStretchesWhenEitherSideDiffers) {
  ASSERT_NO_FATAL_FAILURE(open("MSWindowsDD", {}));
  DeviceCamera* camera = frame(16, 8, 40);
  d().end_frame(camera);
  DeviceStretchRequest tall{16, 16, camera};
  ASSERT_EQ(d().control(1000, 0, &tall, sizeof tall), 1);
  EXPECT_EQ(present(camera, {0, 0, 16, 8}), 0);
  EXPECT_EQ(canvas.pixel(0, 15), palette_rgb(40));
  EXPECT_EQ(canvas.pixel(0, 16), 0x010203u);
}

TEST_F(Output, PresentAfterDestroyOrWithoutContextDrawsNothing) {
  for (const char* name : {"MSWindows", "MSWindowsDD"}) {
    SCOPED_TRACE(name);
    for (std::vector<DeviceOption> o : {std::vector<DeviceOption>{{1000, 0}}, std::vector<DeviceOption>{}}) {
      TestEngine local;
      ASSERT_TRUE(local.load());
      PlatformWindow* w = window_create_plain(0, 0, &canvas);
      ASSERT_EQ(local.open(name, o, w), 1);
      DeviceRecord& dev = local.device();
      DeviceCamera* camera = local.add_camera(8, 8);
      ASSERT_EQ(dev.create_raster(camera, 8, 8), 1);
      ASSERT_EQ(dev.begin_frame(camera, w), 1);
      dev.end_frame(camera);
      DeviceRect r{0, 0, 8, 8};
      EXPECT_EQ(dev.destroy_raster(camera), 1);
      int writes = canvas.writes();
      GdiDc* dc = gdi_get_dc(w);
      int32_t result = dev.present(camera, &r, dc);
      EXPECT_TRUE(result == 0 || result == kDdErrGeneric) << result;
      EXPECT_EQ(dev.present(camera, &r, nullptr) == 1, false);
      gdi_release_dc(w, dc);
      EXPECT_EQ(canvas.writes(), writes);
      EXPECT_EQ(dev.fill_rect(camera, &r), 0);
      dev.device_close(&dev);
      dev.release();
      window_destroy(w);
    }
  }
}

TEST_F(Output, FailedBlitIsReportedAsFailure) {
  ASSERT_NO_FATAL_FAILURE(open("MSWindows", {{1007, 0}}));
  DeviceCamera* camera = frame(8, 8, 30);
  gdi_fail(kGdiFailBlit, 1);
  EXPECT_EQ(present(camera, {0, 0, 8, 8}), 0);
  EXPECT_EQ(present(camera, {0, 0, 8, 8}), 1);
  int flushes = gdi_flush_count();
  EXPECT_EQ(present(camera, {0, 0, 0, 8}), 1);  // an empty present only flushes
  EXPECT_EQ(gdi_flush_count(), flushes + 1);
}

TEST_F(Output, RowsTwoPitchesApartStayInsideTheRaster) {
  ASSERT_NO_FATAL_FAILURE(open("MSWindows", {{1007, 0}}));
  DeviceCamera* camera = engine.add_camera(16, 8);
  ASSERT_EQ(d().create_raster(camera, 16, 8), 1);
  camera->row_flags |= kCameraDoubleRows;
  ASSERT_EQ(d().begin_frame(camera, window), 1);
  DeviceRaster* raster = camera->colour_raster;
  EXPECT_EQ(raster->pitch, -32);
  uint8_t* top = camera->row_table[0];
  uint8_t* lowest = top - 7 * 16;  // bottom-up: the last row has the lowest address
  for (int i = 0; i < 8; ++i) {
    EXPECT_GE(camera->row_table[i], lowest) << i;
    EXPECT_LE(camera->row_table[i], top) << i;
  }
  EXPECT_EQ(camera->row_table[1], top - 32);
  // A second rebuild does not double again.
  camera->row_flags |= kCameraRebuildRows;
  ASSERT_EQ(d().begin_frame(camera, window), 1);
  EXPECT_EQ(raster->pitch, -32);
  DeviceRect all{0, 0, 16, 8};
  EXPECT_EQ(d().fill_rect(camera, &all), 1);
  EXPECT_EQ(gdi_canary_faults(), 0);
}

TEST_F(Output, QueriesAndControlsOutsideTheSurfaceMode) {
  ASSERT_NO_FATAL_FAILURE(open("MSWindows", {{1000, 0}}));
  int32_t v = 0;
  EXPECT_EQ(d().get_info(13, &v, 4), 1);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(d().control(3, 0, nullptr, 0), 1);
  EXPECT_EQ(d().control(3, 1, nullptr, 0), 0);
  DisplayMode screen{};
  EXPECT_EQ(d().control(4, 0, &screen, 20), 1);
  EXPECT_EQ(screen.width, 1024);
  EXPECT_EQ(screen.height, 768);
  EXPECT_EQ(screen.bits, 8);
  EXPECT_EQ(screen.one, 1);
  EXPECT_EQ(screen.flags, 2);
  EXPECT_EQ(d().control(4, 1, &screen, 20), 0);
  EXPECT_EQ(d().control(4, 0, &screen, 16), 0);
  EXPECT_EQ(d().control(1001, 1, nullptr, 0), 1);
  EXPECT_EQ(d().get_info(1003, &v, 4), 1);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(d().control(1002, 24, nullptr, 0), 0);
  EXPECT_EQ(d().control(1002, 16, nullptr, 0), 1);
  void* object = nullptr;
  EXPECT_EQ(d().control(1104, 0, &object, sizeof object), 0);  // passed on, refused
  // Context controls behind the device's.
  float colour[3] = {-0.5f, 1.0f, 0.25f};
  d().control(1, 5, colour, sizeof colour);
  EXPECT_EQ(colour[0], 0.0f);
  uint8_t rgb[3] = {9, 8, 7};
  EXPECT_EQ(d().control(10, 200, rgb, 3), 0);  // short size
  uint8_t rgb4[4] = {9, 8, 7, 0};
  EXPECT_EQ(d().control(10, 200, rgb4, 4), 1);
  uint8_t back[4] = {};
  EXPECT_EQ(d().control(11, 200, back, 4), 1);
  EXPECT_EQ(std::memcmp(back, rgb4, 3), 0);
  EXPECT_EQ(d().control(10, 256, rgb4, 4), 0);
}

TEST_F(Output, SurfaceModeQueriesAndModeSwitches) {
  ASSERT_NO_FATAL_FAILURE(open("MSWindowsDD", {}));
  int32_t count = 0;
  ASSERT_EQ(d().get_info(13, &count, 4), 1);
  EXPECT_EQ(count, 4);  // the desktop and three enumerated 8-bit modes
  DisplayMode m{};
  ASSERT_EQ(d().control(4, 0, &m, 20), 1);
  EXPECT_EQ(m.flags, kDisplayModeDesktop);
  ASSERT_EQ(d().control(4, 1, &m, 20), 1);
  EXPECT_EQ(m.flags, kDisplayModeEnumerated);
  EXPECT_EQ(m.width, 640);
  EXPECT_EQ(d().control(4, count, &m, 20), 0);
  EXPECT_EQ(d().control(3, count, nullptr, 0), 0);  // out of range: nothing changes
  EXPECT_EQ(engine.dd_stats().exclusive, 0);
  void* primary = nullptr;
  EXPECT_EQ(d().control(1101, 0, &primary, sizeof primary), 1);
  EXPECT_NE(primary, nullptr);
  // To a full-screen mode and back to the desktop.
  ASSERT_EQ(d().control(3, 2, nullptr, 0), 1);
  DdStandinStats s = engine.dd_stats();
  EXPECT_EQ(s.exclusive, 1);
  EXPECT_EQ(s.mode_width, 800);
  EXPECT_EQ(window_count(), 1);  // the engine's window owns it: no driver window
  ASSERT_EQ(d().control(3, 0, nullptr, 0), 1);
  s = engine.dd_stats();
  EXPECT_EQ(s.exclusive, 0);
  EXPECT_EQ(s.mode_width, 1024);
}

TEST_F(Output, FullScreenWithoutAWindowUsesTheDriverWindow) {
  display_profile_set(16, 640, 480);
  engine.dd_reset();
  std::vector<DeviceOption> o = {{1004, 8}, {1006, 0}};
  int windows = window_count();
  ASSERT_EQ(engine.open("MSWindowsDD", o), 1);
  EXPECT_EQ(window_count(), windows + 1);
  EXPECT_TRUE(window_class_registered("VXDRVCLASS"));
  DdStandinStats s = engine.dd_stats();
  EXPECT_EQ(s.exclusive, 1);
  EXPECT_EQ(s.mode_bits, 8);
  EXPECT_EQ(s.mode_width, 640);
  d().device_close(&d());
  d().release();
  EXPECT_EQ(window_count(), windows);
  EXPECT_FALSE(window_class_registered("VXDRVCLASS"));
  EXPECT_EQ(engine.dd_stats().mode_bits, 16);  // the desktop has its own mode back
}

TEST_F(Output, FailedLockDrawsNothingAndLostSurfacesAreRestored) {
  ASSERT_NO_FATAL_FAILURE(open("MSWindowsDD", {}));
  DeviceCamera* camera = frame(8, 8, 30);
  ASSERT_EQ(d().end_frame(camera), 1);
  ASSERT_EQ(present(camera, {0, 0, 8, 8}), 0);
  EXPECT_EQ(canvas.pixel(2, 2), palette_rgb(30));

  engine.dd_fault(kDdFaultLock, 1);  // not a lost surface: no retry
  EXPECT_EQ(d().begin_frame(camera, window), 0);
  EXPECT_EQ(camera->colour_raster->pixels, nullptr);
  camera->background_index = 50;
  DeviceRect all{0, 0, 8, 8};
  EXPECT_EQ(d().fill_rect(camera, &all), 0);
  EXPECT_EQ(d().end_frame(camera), 1);
  EXPECT_EQ(engine.dd_stats().locked, 0);
  EXPECT_EQ(present(camera, all), 0);
  EXPECT_EQ(canvas.pixel(2, 2), palette_rgb(30));  // the old frame, nothing new

  // Lost surfaces are restored once and the lock retried.
  engine.dd_fault(kDdFaultLost, 0);
  int restores = engine.dd_stats().restores;
  ASSERT_EQ(d().begin_frame(camera, window), 1);
  EXPECT_GT(engine.dd_stats().restores, restores);
  EXPECT_EQ(d().fill_rect(camera, &all), 1);
  EXPECT_EQ(d().end_frame(camera), 1);
  EXPECT_EQ(present(camera, all), 0);  // the lost primary is restored for the blit
  EXPECT_EQ(canvas.pixel(2, 2), palette_rgb(50));

  // Still lost after one restore: the lock fails and nothing is drawn.
  engine.dd_fault(kDdFaultLost, 5);
  EXPECT_EQ(d().begin_frame(camera, window), 0);
  EXPECT_EQ(d().fill_rect(camera, &all), 0);
  EXPECT_EQ(d().lock_raster(camera->colour_raster), 1);
  EXPECT_EQ(camera->colour_raster->pixels, nullptr);
  EXPECT_EQ(d().unlock_raster(camera->colour_raster), 1);
  d().end_frame(camera);
}

// On a palette screen the surface output loads its palette into the screen at the first
// present and again only after an empty present, never at every frame.
TEST_F(Output, SurfacePaletteIsRealisedOnlyAfterAnEmptyPresent) {
  ASSERT_TRUE(display_profile().palette);
  ASSERT_NO_FATAL_FAILURE(open("MSWindowsDD", {}));
  auto shown = [](int index) {
    const DisplayRgb& c = display_hardware_palette()[index];
    return (uint32_t{c.red} << 16) | (uint32_t{c.green} << 8) | c.blue;
  };
  DeviceCamera* camera = frame(8, 4, 120);
  d().end_frame(camera);
  const uint32_t first = palette_rgb(120);
  EXPECT_EQ(present(camera, {0, 0, 8, 4}), 0);
  EXPECT_EQ(shown(120), first);  // the first present realises it

  uint8_t e[4] = {0x21, 0x43, 0x65, 0};
  ASSERT_NE(first, 0x214365u);
  ASSERT_EQ(d().set_palette_entries(120, 1, e), 1);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(d().begin_frame(camera, window), 1);
    d().end_frame(camera);
    EXPECT_EQ(present(camera, {0, 0, 8, 4}), 0);
    EXPECT_EQ(shown(120), first) << "present " << i;  // not realised again
  }
  EXPECT_EQ(present(camera, {0, 0, 0, 0}), 0);
  EXPECT_EQ(shown(120), first);
  ASSERT_EQ(d().begin_frame(camera, window), 1);
  d().end_frame(camera);
  EXPECT_EQ(present(camera, {0, 0, 8, 4}), 0);
  EXPECT_EQ(shown(120), 0x214365u);  // the first present after the empty one
}

TEST_F(Output, EmptySurfacePresentWaitsBoundedly) {
  ASSERT_NO_FATAL_FAILURE(open("MSWindowsDD", {}));
  DeviceCamera* camera = frame(8, 8, 30);
  d().end_frame(camera);
  engine.dd_fault(kDdFaultBltStatusStuck, 1 << 30);
  int before = engine.dd_stats().bltstatus_calls;
  EXPECT_EQ(present(camera, {0, 0, 0, 0}), 0);
  int calls = engine.dd_stats().bltstatus_calls - before;
  EXPECT_GT(calls, 1);
  EXPECT_LE(calls, 1000);
  engine.dd_fault(kDdFaultBltStatusStuck, 0);
  engine.dd_fault(kDdFaultLost, 3);
  EXPECT_EQ(present(camera, {0, 0, 0, 0}), 0);
}

}  // namespace
}  // namespace driver_test

namespace driver_test {
namespace {

TEST(OutputPalette, FailedSystemPaletteReadKeepsTheTables) {
  uint8_t grey[4] = {};
  {
    TestEngine engine;
    ASSERT_TRUE(engine.load());
    ASSERT_EQ(engine.open("MSWindows", {{1007, 0}}), 1);
    ASSERT_EQ(engine.device().get_palette_entries(20, 1, grey), 1);
    EXPECT_NE(grey[0] | grey[1] | grey[2], 0);  // the default palette's grey ramp
  }
  TestEngine engine;
  ASSERT_TRUE(engine.load());
  display_fail_palette_reads(1);
  ASSERT_EQ(engine.open("MSWindows", {{1007, 0}}), 1);
  uint8_t e[4] = {1, 1, 1, 1};
  ASSERT_EQ(engine.device().get_palette_entries(20, 1, e), 1);
  EXPECT_EQ(e[0] | e[1] | e[2], 0);  // a fresh driver's tables, not rebuilt
}

}  // namespace
}  // namespace driver_test
