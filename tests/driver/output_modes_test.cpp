// Each output mode on each display profile: open, create a raster, clear a frame, present it
// into a canvas, destroy and close, with the device record checked after every step.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/stat.h>

#include "platform/display.h"
#include "platform/gdi.h"
#include "platform/surface.h"
#include "tests/driver/driver_harness.h"
#include "tests/driver/given_back.h"
#include "tests/driver/png_writer.h"

namespace driver_test {
namespace {

constexpr uint32_t kCanvasFill = 0x123456;

struct ModeCase {
  int mode;      // 1 plain DIB, 2 DIB section, 3 DirectDraw surface
  int bits;      // display profile
};

std::string case_name(const ::testing::TestParamInfo<ModeCase>& info) {
  return "Mode" + std::to_string(info.param.mode) + "Screen" + std::to_string(info.param.bits);
}

int32_t info(DeviceRecord& d, int32_t code) {
  int32_t v = -12345;
  EXPECT_EQ(d.get_info(code, &v, 4), 1) << code;
  return v;
}

// The device record after a successful open, entry by entry.
void expect_open_entries(DeviceRecord& d, int mode) {
  EXPECT_EQ(d.raster_depth, 8);
  EXPECT_EQ(d.shade_levels, 32);
  EXPECT_EQ(d.texture_width_unit, 128);
  EXPECT_EQ(d.texture_height_unit, 128);
  EXPECT_EQ(d.small_texture_width_unit, 16);
  EXPECT_EQ(d.small_texture_height_unit, 16);
  EXPECT_NE(d.create_raster, nullptr);
  EXPECT_NE(d.destroy_raster, nullptr);
  EXPECT_NE(d.begin_frame, nullptr);
  EXPECT_NE(d.fill_rect, nullptr);
  EXPECT_NE(d.clear_depth_rect, nullptr);
  EXPECT_NE(d.import_bitmap, nullptr);
  EXPECT_NE(d.end_frame, nullptr);
  EXPECT_NE(d.present, nullptr);
  EXPECT_NE(d.release, nullptr);
  EXPECT_NE(d.colour_to_pixel, nullptr);
  EXPECT_NE(d.pixel_to_colour, nullptr);
  EXPECT_NE(d.colour_pack, nullptr);
  EXPECT_NE(d.set_palette_entries, nullptr);
  EXPECT_NE(d.get_palette_entries, nullptr);
  EXPECT_NE(d.palette_changed, nullptr);
  EXPECT_NE(d.colour_to_palette_index, nullptr);
  EXPECT_EQ(d.device_open, nullptr);  // cannot be opened twice
  EXPECT_NE(d.device_init, nullptr);
  EXPECT_NE(d.device_close, nullptr);
  EXPECT_NE(d.lock_raster, nullptr);
  EXPECT_NE(d.unlock_raster, nullptr);
  EXPECT_NE(d.shade_create, nullptr);
  EXPECT_NE(d.shade_select, nullptr);
  for (int slot : {0, 1, 4, 5, 8, 9, 12, 13, 14, 15, 20, 21, 22, 23}) {
    EXPECT_NE(d.render_modes[0][slot], nullptr) << slot;
    EXPECT_NE(d.render_modes[1][slot], nullptr) << slot;
  }
  EXPECT_EQ(d.render_modes[0][2], nullptr);  // slots the driver does not use stay untouched
  ASSERT_NE(d.driver_info, nullptr);
  EXPECT_EQ(info(d, 1000), mode == 1 ? 1 : 0);
  EXPECT_EQ(info(d, 1001), mode == 1 ? 1 : 0);
  EXPECT_EQ(info(d, 1004), mode == 2 ? 1 : 0);
  EXPECT_EQ(info(d, 1100), mode == 3 ? 1 : 0);
  EXPECT_EQ(info(d, 1002), 0);
  EXPECT_EQ(info(d, 1), 8);      // context: raster depth
  EXPECT_EQ(info(d, 16), 1);     // depth buffer on
  EXPECT_EQ(info(d, 5), 256);
  EXPECT_EQ(info(d, 6), 10);
  EXPECT_EQ(info(d, 7), 245);
  EXPECT_EQ(info(d, 8), 0x41F80000);
  EXPECT_EQ(info(d, 11), 32);
  const DriverInfo* through_query = nullptr;
  EXPECT_EQ(d.get_info(12, &through_query, sizeof through_query), 1);
  EXPECT_EQ(through_query, d.driver_info);
  int32_t small = 0;
  EXPECT_EQ(d.get_info(12, &small, 4), 0);  // a pointer never goes into 4 bytes
  EXPECT_EQ(d.get_info(3, &small, 3), 0);   // short buffer refused, not written
  EXPECT_EQ(d.get_info(424242, &small, 4), 0);
}

class OutputModes : public ::testing::TestWithParam<ModeCase> {
 protected:
  void SetUp() override {
    display_profile_set(GetParam().bits, 640, 480);
    ASSERT_TRUE(engine.load());
    baseline_objects = gdi_live_objects();
    baseline_dcs = gdi_live_dcs();
  }
  void TearDown() override {
    if (window) window_destroy(window);
  }

  std::vector<DeviceOption> options() const {
    std::vector<DeviceOption> o;
    if (GetParam().mode == 1) o.push_back({1000, 0});
    if (GetParam().mode == 2) o.push_back({1007, 0});
    if (GetParam().bits != 8) {
      o.push_back({1004, 8});
      if (GetParam().mode == 3) o.push_back({1006, 0});
    }
    return o;
  }

  TestEngine engine;
  CanvasSurface canvas{200, 150, kCanvasFill};
  PlatformWindow* window = nullptr;
  int baseline_objects = 0;
  int baseline_dcs = 0;
};

TEST_P(OutputModes, OpenClearPresentClose) {
  const ModeCase c = GetParam();
  window = window_create_plain(10, 20, &canvas);
  DeviceRecord& d = engine.device();
  ASSERT_EQ(engine.open(c.mode == 3 ? "MSWindowsDD" : "MSWindows", options(), window), 1);
  ASSERT_NO_FATAL_FAILURE(expect_open_entries(d, c.mode));
  const size_t after_open = engine.memory().live();

  // Raster.
  DeviceCamera* camera = engine.add_camera(101, 37);
  DeviceRecord before = d;
  ASSERT_EQ(d.create_raster(camera, 101, 37), 1);
  EXPECT_EQ(std::memcmp(&before, &d, sizeof d), 0);
  DeviceRaster* colour = camera->colour_raster;
  EXPECT_EQ(colour->kind, kRasterKindColour);
  EXPECT_EQ(colour->depth, 8);
  EXPECT_EQ(colour->bits, 8);
  EXPECT_EQ(colour->red_mask | colour->green_mask | colour->blue_mask | colour->alpha_mask, 0u);
  EXPECT_NE(colour->flags & kRasterCreated, 0u);
  EXPECT_EQ(colour->height, 37);
  ASSERT_NE(colour->driver_raster, nullptr);
  EXPECT_EQ(colour->driver_raster->stretch_width, -1);
  EXPECT_EQ(colour->driver_raster->stretch_height, -1);
  if (c.mode == 3) {
    EXPECT_EQ(colour->width, 101);
    EXPECT_EQ(colour->pixels, nullptr);  // known only while locked
    EXPECT_EQ(camera->device_handle, colour->driver_raster->surface);
  } else {
    EXPECT_EQ(colour->width, 104);
    EXPECT_EQ(colour->pitch, -104);
    EXPECT_NE(colour->pixels, nullptr);
  }
  DeviceRaster* depth = camera->depth_raster;
  EXPECT_EQ(depth->kind, kRasterKindDepth);
  EXPECT_EQ(depth->depth, 16);
  EXPECT_GE(depth->pitch, 2 * 101);
  EXPECT_NE(camera->row_table, nullptr);

  // Frame.
  before = d;
  ASSERT_EQ(d.begin_frame(camera, window), 1);
  EXPECT_EQ(std::memcmp(&before, &d, sizeof d), 0);
  EXPECT_EQ(camera->row_flags & kCameraRebuildRows, 0u);
  ASSERT_NE(colour->pixels, nullptr);
  for (int i = 0; i < 37; ++i) EXPECT_EQ(camera->row_table[i], colour->pixels + i * colour->pitch) << i;

  uint8_t rgb[4 * 3] = {};
  ASSERT_EQ(d.get_palette_entries(50, 3, rgb), 1);
  camera->background_index = 51;
  DeviceRect all{0, 0, 101, 37};
  EXPECT_EQ(d.fill_rect(camera, &all), 1);
  EXPECT_EQ(d.clear_depth_rect(&all), 1);
  for (int i = 0; i < 37; ++i)
    for (int x = 0; x < 101; ++x) ASSERT_EQ(camera->row_table[i][x], 51) << x << "," << i;
  EXPECT_EQ(d.end_frame(camera), 1);
  EXPECT_EQ(std::memcmp(&before, &d, sizeof d), 0);

  // Present into the window's canvas.
  GdiDc* dc = gdi_get_dc(window);
  ASSERT_NE(dc, nullptr);
  int32_t result = d.present(camera, &all, dc);
  if (c.mode == 3)
    EXPECT_EQ(result, 0);
  else
    EXPECT_NE(result, 0);
  const uint32_t expected = (uint32_t{rgb[4]} << 16) | (uint32_t{rgb[5]} << 8) | rgb[6];
  EXPECT_NE(expected, kCanvasFill);
  for (int y = 0; y < 37; ++y)
    for (int x = 0; x < 101; ++x) ASSERT_EQ(canvas.pixel(x, y), expected) << x << "," << y;
  // Outside the frame: the canvas as it was, or in a full-screen mode the cleared screen.
  const bool full_screen = c.mode == 3 && c.bits != 8;
  EXPECT_EQ(canvas.pixel(101, 0), full_screen ? 0u : kCanvasFill);
  EXPECT_EQ(canvas.pixel(0, 37), full_screen ? 0u : kCanvasFill);
  gdi_release_dc(window, dc);
  EXPECT_EQ(std::memcmp(&before, &d, sizeof d), 0);

  mkdir((TestEngine::library_dir() + "../test-output").c_str(), 0755);
  png_save(TestEngine::library_dir() + "../test-output/driver_" + case_name({c, 0}) + ".png",
           canvas.width(), canvas.height(), canvas.rgb().data());

  // Teardown.
  EXPECT_EQ(d.destroy_raster(camera), 1);
  EXPECT_EQ(camera->row_table, nullptr);
  EXPECT_EQ(colour->driver_raster, nullptr);
  EXPECT_EQ(camera->device_handle, nullptr);
  EXPECT_EQ(engine.memory().live(), after_open + 1);  // the depth buffer stays until close
  EXPECT_EQ(d.device_close(&d), 0);
  EXPECT_EQ(d.release(), 1);
  expect_all_given_back(engine, baseline_objects, baseline_dcs);
  EXPECT_EQ(gdi_canary_faults(), 0);
  EXPECT_EQ(engine.dd_stats().canary_faults, 0);
  EXPECT_EQ(display_library_open_count(), 0);
}

INSTANTIATE_TEST_SUITE_P(AllProfiles, OutputModes,
                         ::testing::Values(ModeCase{1, 8}, ModeCase{1, 15}, ModeCase{1, 16}, ModeCase{1, 24},
                                           ModeCase{2, 8}, ModeCase{2, 15}, ModeCase{2, 16}, ModeCase{2, 24},
                                           ModeCase{3, 8}, ModeCase{3, 15}, ModeCase{3, 16}, ModeCase{3, 24}),
                         case_name);

}  // namespace
}  // namespace driver_test
