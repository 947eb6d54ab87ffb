// Routines of the entry and the output-mode choice that the plug-in does not export, through
// the static archive of the same objects.
#include <gtest/gtest.h>

#include "driver/core/driver.h"
#include "platform/display.h"
#include "platform/gdi.h"
#include "tests/driver/driver_harness.h"

namespace driver_test {
namespace {

class DriverInternals : public ::testing::Test {
 protected:
  void SetUp() override {
    DriverReset();
    _vxdev(nullptr, nullptr, &engine.services());
  }
  void TearDown() override {
    UnloadDirectDraw();
    DriverReset();
    EXPECT_EQ(engine.memory().live(), 0u);
  }
  TestEngine engine;  // services and allocator only; the plug-in itself is not loaded
};

TEST_F(DriverInternals, UnloadClearsTheAvailableFlagAndTheTable) {
  engine.device().version = 0x021C0000;
  ASSERT_EQ(DriverOpen(&engine.device()), 1);
  EXPECT_EQ(g_drv.ddraw_available, 1);
  EXPECT_GT(DisplayModeCount(), 0);
  UnloadDirectDraw();
  EXPECT_EQ(g_drv.ddraw_available, 0);
  EXPECT_EQ(g_drv.ddraw_create, nullptr);
  EXPECT_EQ(DisplayModeCount(), 0);
  EXPECT_EQ(display_library_open_count(), 0);
  // Nothing steers a later device to DirectDraw.
  g_drv.options.want_direct_draw = 1;
  EXPECT_EQ(ChooseOutputMode(), 2);
  EXPECT_EQ(g_drv.options.want_direct_draw, 0);
}

TEST_F(DriverInternals, MissingLibraryOrEntryIsNeverCalled) {
  display_library_hide("ddraw.dll", true);
  EXPECT_EQ(LoadDirectDraw(1), 0);
  EXPECT_EQ(display_library_open_count(), 0);
  display_library_hide("ddraw.dll", false);
  display_symbol_hide("DirectDrawCreate", true);
  EXPECT_EQ(LoadDirectDraw(1), 0);
  EXPECT_EQ(display_library_open_count(), 0);  // freed again
  EXPECT_EQ(g_drv.ddraw_create, nullptr);
  // The surface mode's window creation has no entry to call and says so.
  EXPECT_EQ(DeviceWindowCreate(nullptr), 0);
  EXPECT_EQ(g_drv.ddraw, nullptr);
  display_symbol_hide("DirectDrawCreate", false);
}

TEST_F(DriverInternals, ModeTableAndDesktopRecord) {
  ASSERT_EQ(LoadDirectDraw(0), 1);  // the default desktop is an 8-bit palette mode
  ASSERT_EQ(DisplayModeCount(), 4);
  DisplayMode m{};
  ASSERT_EQ(DisplayModeGet(0, &m), 1);
  EXPECT_EQ(m.width, 1024);
  EXPECT_EQ(m.flags, kDisplayModeDesktop);
  ASSERT_EQ(DisplayModeGet(3, &m), 1);
  EXPECT_EQ(m.bits, 8);
  EXPECT_EQ(m.one, 1);
  EXPECT_EQ(m.flags, kDisplayModeEnumerated);
  EXPECT_EQ(DisplayModeGet(4, &m), 0);
  EXPECT_EQ(DisplayModeGet(-1, &m), 0);
  // Loading again keeps the existing table.
  ASSERT_EQ(LoadDirectDraw(0), 1);
  EXPECT_EQ(DisplayModeCount(), 4);
}

TEST_F(DriverInternals, DirectColourDesktopNeedsEnumerateAll) {
  display_profile_set(16, 800, 600);
  engine.load();  // resets the stand-in's desktop from the profile
  _vxdev(nullptr, nullptr, &engine.services());
  EXPECT_EQ(LoadDirectDraw(0), 0);
  EXPECT_EQ(DisplayModeCount(), 0);
  EXPECT_EQ(LoadDirectDraw(1), 1);
  DisplayMode m{};
  ASSERT_EQ(DisplayModeGet(0, &m), 1);
  EXPECT_EQ(m.flags, kDisplayModeEnumerated);  // the first enumerated 8-bit mode
  EXPECT_EQ(m.width, 640);
  engine.unload();
}

TEST_F(DriverInternals, FailedGrowthSkipsAMode) {
  engine.memory().fail_nth(2);  // the desktop record succeeds, the first enumerated fails
  ASSERT_EQ(LoadDirectDraw(1), 1);
  EXPECT_EQ(DisplayModeCount(), 3);
  DisplayMode m{};
  ASSERT_EQ(DisplayModeGet(1, &m), 1);
  EXPECT_EQ(m.width, 800);
}

TEST_F(DriverInternals, DisplayModeSetBeforeAnyDeviceOnlyRecords) {
  ASSERT_EQ(LoadDirectDraw(1), 1);
  EXPECT_EQ(DisplayModeSet(2), 1);
  EXPECT_EQ(g_drv.current_mode, 2);
  EXPECT_EQ(engine.dd_stats().objects, 0);
  EXPECT_EQ(DisplayModeSet(DisplayModeCount()), 0);
  EXPECT_EQ(g_drv.current_mode, 2);
}

TEST_F(DriverInternals, OutputModeChoice) {
  ASSERT_EQ(LoadDirectDraw(1), 1);
  g_drv.ddraw_available = 1;
  // DirectDraw wanted and available beats a forced plain DIB on a palette desktop.
  g_drv.options = {};
  g_drv.options.want_direct_draw = 1;
  g_drv.options.force_plain_dib = 1;
  g_drv.screen_depth = 8;
  EXPECT_EQ(ChooseOutputMode(), 3);
  EXPECT_EQ(g_drv.raster_depth, 8);
  g_drv.options.want_direct_draw = 0;
  EXPECT_EQ(ChooseOutputMode(), 1);
  // Available though not wanted, no force flags: still the surface mode.
  g_drv.options = {};
  EXPECT_EQ(ChooseOutputMode(), 3);
  g_drv.options.force_dib_section = 1;
  g_drv.screen_depth = 16;
  EXPECT_EQ(ChooseOutputMode(), 2);
  EXPECT_EQ(g_drv.raster_depth, 16);
  g_drv.options = {};
  g_drv.platform_class = 3;
  EXPECT_EQ(ChooseOutputMode(), 1);
  EXPECT_EQ(g_drv.raster_depth, 8);
  g_drv.platform_class = 1;
  g_drv.ddraw_available = 0;
  EXPECT_EQ(ChooseOutputMode(), 2);
}

TEST_F(DriverInternals, PixelProbeFailuresAnswerSixteen) {
  display_profile_set(15, 640, 480);
  GdiDc* screen = gdi_get_dc(nullptr);
  ASSERT_NE(screen, nullptr);
  EXPECT_EQ(PixelFormatProbe(screen), 15);
  int objects = gdi_live_objects(), dcs = gdi_live_dcs();
  for (GdiFailure f : {kGdiFailCompatibleDc, kGdiFailCreateBitmap, kGdiFailSetPixel, kGdiFailBitmapBits}) {
    gdi_fail(f, 1);
    EXPECT_EQ(PixelFormatProbe(screen), 16) << f;
    EXPECT_EQ(gdi_live_objects(), objects);
    EXPECT_EQ(gdi_live_dcs(), dcs);
  }
  display_profile_set(16, 640, 480);
  EXPECT_EQ(PixelFormatProbe(screen), 16);
  gdi_release_dc(nullptr, screen);
}

TEST_F(DriverInternals, DriverWindowProcedure) {
  for (uint32_t message : {kWmCreate, kWmDestroy, kWmSize, kWmPaint, kWmClose})
    EXPECT_EQ(DriverWindowProc(nullptr, message, 0, 0), 0) << message;
  EXPECT_EQ(DriverWindowProc(nullptr, 0x0200, 0, 0), window_default_proc(nullptr, 0x0200, 0, 0));
}

TEST_F(DriverInternals, PlatformClasses) {
  const struct {
    uint32_t version;
    int32_t platform;
  } cases[] = {{0x00000003, 0}, {0x00000403, 0}, {0x00000503, 1}, {0x00003203, 1}, {0x00000004, 1},
               {0x80000003, 3}, {0x80005E03, 3}, {0x80005F03, 2}, {0x80000004, 2}};
  for (const auto& c : cases) {
    display_set_version(c.version);
    EXPECT_EQ(PlatformClass(), c.platform) << std::hex << c.version;
  }
}

}  // namespace
}  // namespace driver_test
