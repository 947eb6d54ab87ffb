// Every allocation, GDI and DirectDraw failure injected during a device open is survived:
// the open fails, gives back what it took, and a later open succeeds.
#include <gtest/gtest.h>

#include "platform/display.h"
#include "platform/gdi.h"
#include "platform/surface.h"
#include "tests/driver/driver_harness.h"
#include "tests/driver/given_back.h"

namespace driver_test {
namespace {

struct OpenCase {
  const char* label;
  const char* name;
  int bits;
  std::vector<DeviceOption> options;
};

std::vector<OpenCase> open_cases() {
  return {
      {"PlainDib", "MSWindows", 8, {{1000, 0}}},
      {"DibSection", "MSWindows", 8, {{1007, 0}}},
      {"DibSectionOn16", "MSWindows", 16, {{1007, 0}, {1004, 8}}},
      {"SurfaceDesktop", "MSWindowsDD", 8, {}},
      {"SurfaceFullScreen", "MSWindowsDD", 16, {{1004, 8}, {1006, 0}}},
  };
}

class OpenFailure : public ::testing::TestWithParam<int> {
 protected:
  const OpenCase& c() {
    static const std::vector<OpenCase> cases = open_cases();
    return cases[GetParam()];
  }

  // A complete first frame on a fresh raster; false when any step fails.
  bool frame_works(TestEngine& engine) {
    DeviceRecord& d = engine.device();
    DeviceCamera* camera = engine.add_camera(24, 12);
    bool ok = d.create_raster(camera, 24, 12) == 1 && d.begin_frame(camera, window) == 1;
    DeviceRect all{0, 0, 24, 12};
    ok = ok && d.fill_rect(camera, &all) == 1;
    d.end_frame(camera);
    d.destroy_raster(camera);
    engine.remove_camera(camera);
    return ok;
  }

  void expect_all_given_back(TestEngine& engine, int objects, int dcs, int windows) {
    driver_test::expect_all_given_back(engine, objects, dcs);
    EXPECT_EQ(window_count(), windows);
  }

  CanvasSurface canvas{64, 64};
  PlatformWindow* window = nullptr;
};

TEST_P(OpenFailure, EveryAllocationFailureIsSurvived) {
  long total = 0;
  {
    TestEngine engine;
    display_profile_set(c().bits, 640, 480);
    ASSERT_TRUE(engine.load());
    ASSERT_EQ(engine.open(c().name, c().options), 1);
    total = engine.memory().allocations();
  }
  ASSERT_GT(total, 5);
  // Every allocation of the device's own set-up fails once; the colour matcher's many small
  // nodes after them are sampled at 40 evenly spread points (a fixed, repeatable choice).
  int failed_opens = 0;
  const long stride = total > 120 ? (total - 80) / 40 : 1;
  for (long n = 1; n <= total; n += (n < 80 ? 1 : stride)) {
    SCOPED_TRACE(n);
    TestEngine engine;
    display_profile_set(c().bits, 640, 480);
    ASSERT_TRUE(engine.load());
    window = window_create_plain(0, 0, &canvas);
    int objects = gdi_live_objects(), dcs = gdi_live_dcs(), windows = window_count();
    engine.memory().fail_nth(n);
    int opened = engine.open(c().name, c().options, window);
    engine.memory().fail_nth(0);
    if (!opened) {
      ++failed_opens;
      // The engine lets the driver go; nothing of the open may remain.
      if (engine.device().release) engine.device().release();
      expect_all_given_back(engine, objects, dcs, windows);
      // A later open succeeds.
      ASSERT_EQ(engine.open(c().name, c().options, window), 1);
    }
    // Whether it survived the failure or was opened again, the device draws.
    EXPECT_TRUE(frame_works(engine));
    engine.device().device_close(&engine.device());
    engine.device().release();
    expect_all_given_back(engine, objects, dcs, windows);
    window_destroy(window);
    window = nullptr;
    if (HasFailure()) return;
  }
  EXPECT_GT(failed_opens, 3);
}

TEST_P(OpenFailure, EveryAllocationFailureInRasterCreateIsSurvived) {
  for (long n = 1; n < 50; ++n) {
    TestEngine engine;
    display_profile_set(c().bits, 640, 480);
    ASSERT_TRUE(engine.load());
    window = window_create_plain(0, 0, &canvas);
    ASSERT_EQ(engine.open(c().name, c().options, window), 1);
    DeviceRecord& d = engine.device();
    DeviceCamera* camera = engine.add_camera(33, 17);
    size_t live = engine.memory().live();
    int objects = gdi_live_objects();
    int surfaces = engine.dd_stats().surfaces;
    engine.memory().fail_nth(n);
    int created = d.create_raster(camera, 33, 17);
    engine.memory().fail_nth(0);
    if (created) {
      EXPECT_EQ(d.begin_frame(camera, window), 1);
      d.end_frame(camera);
      d.destroy_raster(camera);
      window_destroy(window);
      return;
    }
    EXPECT_EQ(camera->row_table, nullptr);
    EXPECT_EQ(camera->colour_raster->driver_raster, nullptr);
    // At most the depth buffer, which a failed create may leave sized for the next one.
    EXPECT_LE(engine.memory().live(), live + 1);
    EXPECT_EQ(gdi_live_objects(), objects);
    EXPECT_EQ(engine.dd_stats().surfaces, surfaces);
    ASSERT_EQ(d.create_raster(camera, 33, 17), 1);
    EXPECT_EQ(d.begin_frame(camera, window), 1);
    d.end_frame(camera);
    d.destroy_raster(camera);
    EXPECT_EQ(engine.memory().canary_faults(), 0);
    window_destroy(window);
  }
  ADD_FAILURE() << "the create never succeeded";
}

INSTANTIATE_TEST_SUITE_P(Modes, OpenFailure, ::testing::Range(0, 5),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(open_cases()[info.param].label);
                         });

struct PlatformFault {
  const char* label;
  int gdi;      // GdiFailure or -1
  int ddraw;    // DdFault or -1
  const char* name;
  int bits;
  std::vector<DeviceOption> options;
};

TEST(OpenPlatformFailure, FailedPlatformCallsLeaveNothingBehind) {
  const PlatformFault faults[] = {
      {"screen context", kGdiFailGetDc, -1, "MSWindows", 8, {}},
      {"palette", kGdiFailCreatePalette, -1, "MSWindows", 8, {}},
      {"display object", -1, kDdFaultCreate, "MSWindowsDD", 8, {}},
      {"primary surface", -1, kDdFaultCreateSurface, "MSWindowsDD", 8, {}},
      {"clipper", -1, kDdFaultCreateClipper, "MSWindowsDD", 8, {}},
      {"set clipper", -1, kDdFaultSetClipper, "MSWindowsDD", 8, {}},
      {"cooperative level", -1, kDdFaultCooperative, "MSWindowsDD", 16, {{1004, 8}, {1006, 0}}},
      {"display mode", -1, kDdFaultSetDisplayMode, "MSWindowsDD", 16, {{1004, 8}, {1006, 0}}},
      {"full-screen primary", -1, kDdFaultCreateSurface, "MSWindowsDD", 16, {{1004, 8}, {1006, 0}}},
  };
  for (const PlatformFault& f : faults) {
    SCOPED_TRACE(f.label);
    TestEngine engine;
    display_profile_set(f.bits, 640, 480);
    ASSERT_TRUE(engine.load());
    int objects = gdi_live_objects(), dcs = gdi_live_dcs(), windows = window_count();
    // The fault strikes inside the device open, after the open function loaded DirectDraw.
    DriverOpenFn open = engine.vxdev(f.name, nullptr, &engine.services());
    engine.device().version = 0x021C0000;
    ASSERT_EQ(open(&engine.device()), 1);
    std::vector<DeviceOption> options = f.options;
    int count = static_cast<int>(options.size());
    if (f.gdi >= 0) gdi_fail(static_cast<GdiFailure>(f.gdi), 1);
    // The first clipper attach is retried after a restore; only the second one counts.
    if (f.ddraw >= 0) engine.dd_fault(f.ddraw, f.ddraw == kDdFaultSetClipper ? 2 : 1);
    EXPECT_EQ(engine.device().device_open(&engine.device(), nullptr, count, options.data()), 0);
    EXPECT_EQ(engine.device().device_close, nullptr);
    engine.device().release();
    EXPECT_EQ(engine.memory().live(), 0u);
    for (size_t size : engine.memory().live_sizes()) ADD_FAILURE() << "left: " << size;
    EXPECT_EQ(gdi_live_objects(), objects);
    EXPECT_EQ(gdi_live_dcs(), dcs);
    EXPECT_EQ(window_count(), windows);
    DdStandinStats s = engine.dd_stats();
    EXPECT_EQ(s.objects + s.surfaces + s.clippers + s.exclusive, 0);
    gdi_reset();
    engine.dd_fault(f.ddraw >= 0 ? f.ddraw : 0, 0);
    EXPECT_EQ(engine.open(f.name, f.options), 1);
  }
}

}  // namespace
}  // namespace driver_test
