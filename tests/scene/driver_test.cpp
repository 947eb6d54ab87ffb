// The depth warning and the driver chain, against the real engine and the real 8-bit
// plug-in (other driver names are links to it, or absent).
#include <cstdio>
#include <cstring>

#include "client/app/program.h"
#include "scene_fixture.h"

namespace {

using Display = SceneTest;
using Driver = SceneTest;

TEST_F(Display, SixteenBitsGoesOnWithoutAsking) {
  ASSERT_NO_FATAL_FAILURE(install());
  display_profile_set(16, 800, 600);
  ScriptedDialogs dialogs;
  EXPECT_EQ(display_init(), 1);
  EXPECT_EQ(display_depth(), 16);
  EXPECT_TRUE(dialogs.opened().empty());
}

TEST_F(Display, FifteenBitsReadsAsSixteenAndGoesOn) {
  ASSERT_NO_FATAL_FAILURE(install());
  display_profile_set(15, 800, 600);
  ScriptedDialogs dialogs;
  EXPECT_EQ(display_init(), 1);
  EXPECT_TRUE(dialogs.opened().empty());
}

TEST_F(Display, TwentyFourBitsWithDepthKeyShowsNoDialog) {
  ASSERT_NO_FATAL_FAILURE(install("[display]\ndepth=1\n"));
  display_profile_set(24, 800, 600);
  ScriptedDialogs dialogs;
  EXPECT_EQ(display_init(), 1);
  EXPECT_EQ(display_depth(), 24);
  EXPECT_TRUE(dialogs.opened().empty());
}

TEST_F(Display, EightBitsWarnsWithItsTextsAndExitStopsStartUp) {
  ASSERT_NO_FATAL_FAILURE(install());
  ScriptedDialogs dialogs;
  dialogs.add(DEPTH_DIALOG, {[](ScriptedView& v) { v.press(DEPTH_EXIT); }});
  EXPECT_EQ(display_init(), 0);
  ASSERT_EQ(dialogs.opened().size(), 1u);
  ScriptedView& v = *dialogs.opened()[0];
  EXPECT_EQ(v.title(), "depth title");
  EXPECT_EQ(v.control(DEPTH_TEXT).text, "an 8-bit screen for Tessel");
  EXPECT_EQ(v.control(DEPTH_ADVICE).text, "advice");
  EXPECT_EQ(v.control(DEPTH_DONT_ASK).text, "do not ask");
  EXPECT_EQ(v.control(DEPTH_CONTINUE).text, "continue");
  EXPECT_EQ(v.control(DEPTH_EXIT).text, "exit");
  // Unchecked: nothing remembered.
  EXPECT_EQ(profile_int("display", "depth"), -1);
}

TEST_F(Display, TwentyFourBitsTextHasNoArticleLetter) {
  ASSERT_NO_FATAL_FAILURE(install());
  display_profile_set(24, 800, 600);
  ScriptedDialogs dialogs;
  dialogs.add(DEPTH_DIALOG, {[](ScriptedView& v) { v.press(DEPTH_CONTINUE); }});
  EXPECT_EQ(display_init(), 1);
  ASSERT_EQ(dialogs.opened().size(), 1u);
  EXPECT_EQ(dialogs.opened()[0]->control(DEPTH_TEXT).text, "a 24-bit screen for Tessel");
}

TEST_F(Display, CheckedBoxIsRememberedWithEitherButton) {
  ASSERT_NO_FATAL_FAILURE(install());
  ScriptedDialogs dialogs;
  dialogs.add(DEPTH_DIALOG, {[](ScriptedView& v) {
                v.check(DEPTH_DONT_ASK, true);
                v.press(DEPTH_CONTINUE);
              }});
  EXPECT_EQ(display_init(), 1);
  EXPECT_EQ(profile_int("display", "depth"), 1);
  // The next start asks nothing.
  EXPECT_EQ(display_init(), 1);
  EXPECT_EQ(dialogs.opened().size(), 1u);

  profile_set_int("display", "depth", 0);
  dialogs.add(DEPTH_DIALOG, {[](ScriptedView& v) {
                v.check(DEPTH_DONT_ASK, true);
                v.press(DEPTH_EXIT);
              }});
  EXPECT_EQ(display_init(), 0);
  EXPECT_EQ(profile_int("display", "depth"), 1);
}

TEST_F(Display, ClosingTheWarningLeavesLikeExit) {
  ASSERT_NO_FATAL_FAILURE(install());
  ScriptedDialogs dialogs;
  dialogs.add(DEPTH_DIALOG, {[](ScriptedView& v) { v.post_close(); v.pump(); }});
  EXPECT_EQ(display_init(), 0);
}

// ---- driver chain ----------------------------------------------------------------------
// On this platform only the 8-bit plug-in exists, and it opens 8-bit devices only; the other
// names are links to the stand-in plug-in, which logs each device start.

const char kOptions[] = " 2 1007=0 1004=8";

TEST_F(Driver, EightBitDisplayOpensThePluginAtTheFirstStart) {
  ASSERT_NO_FATAL_FAILURE(link_driver("VXDL8D21"));
  ASSERT_NO_FATAL_FAILURE(link_fake("VXDLMD21"));
  ASSERT_NO_FATAL_FAILURE(link_fake("VXDLDD21"));
  ASSERT_NO_FATAL_FAILURE(install("[performance]\ndirect3d=1\n"));
  ASSERT_EQ(display_init(), 1);
  ASSERT_EQ(display_depth(), 8);
  ASSERT_EQ(driver_init(), 1);
  EXPECT_TRUE(driver_ready());
  EXPECT_FALSE(driver_using_direct3d());
  // Neither Direct3D nor mmx was tried, and nothing was written or shown.
  EXPECT_TRUE(starts().empty());
  EXPECT_EQ(profile_int("performance", "mmx"), -1);
  EXPECT_TRUE(host_.boxes().empty());
  // Nothing failed on the way (no fall-back start); the surface settings asked for the
  // surface output, which a palette screen has.
  EXPECT_EQ(VxGetError(), 0);
  int32_t surface = -1;
  ASSERT_EQ(VxGetDeviceInfo(VX_INFO_IMAGE_SURFACE, &surface, 4), 1);
  EXPECT_EQ(surface, 1);
  void* record = nullptr;
  ASSERT_EQ(VxGetDeviceInfo(VX_INFO_DEVICE_RECORD, &record, sizeof record), 1);
  EXPECT_NE(record, nullptr);
  EXPECT_EQ(driver_texture_size(), 128);
  int w = 100, h = 100;
  EXPECT_EQ(camera_resize(&w, &h), 1);
}

// The client's block opens the real plug-in at the first start on every screen depth: the
// DIB section output in window mode, and in surface mode the surface on a palette screen or
// the DIB section it falls back to elsewhere (which clears the surface settings for the run).
TEST_F(Driver, TheOptionBlockOpensThePluginOnEveryScreenDepth) {
  for (int bits : {8, 15, 16, 24}) {
    SCOPED_TRACE(bits);
    ASSERT_NO_FATAL_FAILURE(link_driver("VXDL8D21"));
    ASSERT_NO_FATAL_FAILURE(install("[performance]\ntry_directdraw=1\n"));
    display_profile_set(bits, 1024, 768);
    ASSERT_EQ(VxInitialize(nullptr), 1);
    for (int mode : {1, 0}) {
      SCOPED_TRACE(mode);
      VxDriver* d = VxOpenDriver("VXDL8D21", 0);
      ASSERT_NE(d, nullptr);
      int32_t block[4];
      std::memcpy(block, driver_options, sizeof block);
      ASSERT_EQ(VxStartDriver(d, 0, mode, block), 1);
      EXPECT_EQ(VxGetError(), 0);
      int32_t dib_section = -1, surface = -1;
      ASSERT_EQ(VxGetDeviceInfo(VX_INFO_FALLBACK, &dib_section, 4), 1);
      ASSERT_EQ(VxGetDeviceInfo(VX_INFO_IMAGE_SURFACE, &surface, 4), 1);
      const bool on_surface = mode == 0 && bits == 8;
      EXPECT_EQ(dib_section, on_surface ? 0 : 1);
      EXPECT_EQ(surface, on_surface ? 1 : 0);
      ASSERT_EQ(VxCloseDriver(d), 1);
    }
    // The same through the choice at start-up: the surface tried first, the file opened once.
    ASSERT_EQ(load_driver("VXDL8D21", 0), 1);
    EXPECT_EQ(VxGetError(), 0);
    EXPECT_EQ(driver_directdraw_cleared(), bits != 8);
    clean();
    ::unlink((drivers_ + "/libVXDL8D21.so").c_str());
  }
}

TEST_F(Driver, EightBitDisplayStartsTheEightBitFileInModeOneWithTheOptionBlock) {
  ASSERT_NO_FATAL_FAILURE(link_fake("VXDL8D21"));
  ASSERT_NO_FATAL_FAILURE(install());
  ASSERT_NO_FATAL_FAILURE(detect(8));
  ASSERT_EQ(driver_init(), 1);
  EXPECT_EQ(starts(), std::vector<std::string>{std::string("MSWindows") + kOptions});
  EXPECT_EQ(driver_texture_size(), 64);
}

TEST_F(Driver, SurfaceSettingsStartTheEightBitFileInModeZero) {
  for (const char* key : {"direct3d", "directdraw", "try_directdraw"}) {
    clean();
    std::remove(driver_log_.c_str());
    ::unlink((drivers_ + "/libVXDL8D21.so").c_str());
    ASSERT_NO_FATAL_FAILURE(link_fake("VXDL8D21"));
    ASSERT_NO_FATAL_FAILURE(install(std::string("[performance]\n") + key + "=1\n"));
    ASSERT_NO_FATAL_FAILURE(detect(8));
    ASSERT_EQ(driver_init(), 1) << key;
    EXPECT_EQ(starts(), std::vector<std::string>{std::string("MSWindowsDD") + kOptions}) << key;
    EXPECT_FALSE(driver_using_direct3d()) << key;
  }
}

TEST_F(Driver, FirstStartWithoutMmxKeyTriesItOnceAndStoresOne) {
  ASSERT_NO_FATAL_FAILURE(link_fake("VXDLMD21"));
  ASSERT_NO_FATAL_FAILURE(install());
  ASSERT_NO_FATAL_FAILURE(detect(16));
  ASSERT_EQ(driver_init(), 1);
  EXPECT_EQ(starts(), std::vector<std::string>{std::string("MSWindows") + kOptions});
  EXPECT_EQ(profile_int("performance", "mmx"), 1);
  EXPECT_NE(ini().find("mmx=1"), std::string::npos);
  EXPECT_TRUE(host_.boxes().empty());
}

TEST_F(Driver, FirstStartWithoutMmxDriverStoresZeroQuietlyAndTakesTheFallBack) {
  ASSERT_NO_FATAL_FAILURE(link_fake("VXDL6D21"));
  ASSERT_NO_FATAL_FAILURE(install());
  ASSERT_NO_FATAL_FAILURE(detect(16));
  ASSERT_EQ(driver_init(), 1);
  EXPECT_EQ(profile_int("performance", "mmx"), 0);
  EXPECT_TRUE(host_.boxes().empty());
  EXPECT_EQ(starts().size(), 1u);  // the "6" file
}

TEST_F(Driver, NoFileAndNoEngineDeviceForTheScreenFails) {
  ASSERT_NO_FATAL_FAILURE(link_driver("VXDL8D21"));
  ASSERT_NO_FATAL_FAILURE(install());
  ASSERT_NO_FATAL_FAILURE(detect(16));
  display_set_version(0x00000103);  // a system the plug-in cannot draw on, through every link
  EXPECT_EQ(driver_init(), 0);
  EXPECT_FALSE(driver_ready());
  EXPECT_EQ(profile_int("performance", "mmx"), 0);
  // Start-up shows message 1 with the title.
  const lifecycle_tables& t = app_tables();
  ASSERT_GT(t.start_3d_count, 0u);
  EXPECT_STREQ(t.start_3d[0].name, "driver_init");
  EXPECT_STREQ(lifecycle_failure_text(t.start_3d[0], 1), "one Tessel");
}

TEST_F(Driver, MmxOnButMissingWarnsRewritesTheKeyAndGoesOn) {
  ASSERT_NO_FATAL_FAILURE(link_fake("VXDL6D21"));
  ASSERT_NO_FATAL_FAILURE(install("[performance]\nmmx=1\n"));
  ASSERT_NO_FATAL_FAILURE(detect(16));
  ASSERT_EQ(driver_init(), 1);
  EXPECT_EQ(boxes(), std::vector<std::string>{"two-oh-four Tessel"});
  EXPECT_EQ(profile_int("performance", "mmx"), 0);
}

TEST_F(Driver, MmxZeroNeverTriesTheMmxFile) {
  ASSERT_NO_FATAL_FAILURE(link_fake("VXDLMD21"));
  ASSERT_NO_FATAL_FAILURE(link_fake("VXDL6D21"));
  ASSERT_NO_FATAL_FAILURE(install("[performance]\nmmx=0\n"));
  ASSERT_NO_FATAL_FAILURE(detect(16));
  ASSERT_EQ(driver_init(), 1);
  EXPECT_EQ(starts().size(), 1u);
  EXPECT_EQ(profile_int("performance", "mmx"), 0);
}

TEST_F(Driver, OtherMmxValuesAreResetToZeroWithoutTrying) {
  ASSERT_NO_FATAL_FAILURE(link_fake("VXDLMD21"));
  ASSERT_NO_FATAL_FAILURE(install("[performance]\nmmx=7\n"));
  ASSERT_NO_FATAL_FAILURE(detect(16));
  ASSERT_NO_FATAL_FAILURE(link_fake("VXDL6D21"));
  EXPECT_EQ(driver_init(), 1);
  EXPECT_EQ(starts().size(), 1u);  // the "6" file only
  EXPECT_EQ(profile_int("performance", "mmx"), 0);
  EXPECT_TRUE(host_.boxes().empty());
}

TEST_F(Driver, HighResolutionSettingTakesTheOtherMmxPair) {
  ASSERT_NO_FATAL_FAILURE(link_fake("VXDL6B21"));  // only the "6" file that follows "VXDLMB21"
  ASSERT_NO_FATAL_FAILURE(install("[performance]\nhr=1\nmmx=1\n"));
  ASSERT_NO_FATAL_FAILURE(detect(16));
  ASSERT_EQ(driver_init(), 1);
  EXPECT_EQ(boxes(), std::vector<std::string>{"two-oh-four Tessel"});
  EXPECT_EQ(starts().size(), 1u);
}

TEST_F(Driver, Direct3dOpensInModeZeroAndSetsTheFlag) {
  ASSERT_NO_FATAL_FAILURE(link_fake("VXDLDD21"));
  ASSERT_NO_FATAL_FAILURE(link_fake("VXDLMD21"));
  ASSERT_NO_FATAL_FAILURE(install("[performance]\ndirect3d=1\n"));
  ASSERT_NO_FATAL_FAILURE(detect(16));
  ASSERT_EQ(driver_init(), 1);
  EXPECT_TRUE(driver_using_direct3d());
  EXPECT_EQ(starts(), std::vector<std::string>{std::string("MSWindowsDD") + kOptions});
  EXPECT_EQ(profile_int("performance", "mmx"), -1);  // finished before the mmx step
}

TEST_F(Driver, Direct3dMissingWarnsThenGoesOn) {
  ASSERT_NO_FATAL_FAILURE(link_fake("VXDLMD21"));
  ASSERT_NO_FATAL_FAILURE(install("[performance]\ndirect3d=1\n"));
  ASSERT_NO_FATAL_FAILURE(detect(16));
  ASSERT_EQ(driver_init(), 1);
  EXPECT_FALSE(driver_using_direct3d());
  EXPECT_EQ(boxes(), std::vector<std::string>{"two-oh-three Tessel"});
  EXPECT_EQ(profile_int("performance", "mmx"), 1);
}

TEST_F(Driver, FallenBackDeviceClearsTheSurfaceSettingsForThisRunOnly) {
  ASSERT_NO_FATAL_FAILURE(link_fake("VXDL8D21"));
  ASSERT_NO_FATAL_FAILURE(install("[performance]\ntry_directdraw=1\ndirectdraw=1\n"));
  setenv("SCENE_FAKE_DRIVER_FALLBACK", "1", 1);
  ASSERT_EQ(VxInitialize(nullptr), 1);
  ASSERT_EQ(load_driver("VXDL8D21", 0), 1);
  EXPECT_TRUE(driver_directdraw_cleared());
  // The next start asks for the window output; the file keeps the user's settings.
  ASSERT_EQ(load_driver("VXDL8D21", 0), 1);
  EXPECT_EQ(starts(), (std::vector<std::string>{std::string("MSWindowsDD") + kOptions,
                                                std::string("MSWindows") + kOptions}));
  EXPECT_EQ(profile_int("performance", "try_directdraw"), 1);
}

TEST_F(Driver, DeviceThatDidNotFallBackKeepsTheSurfaceSettings) {
  ASSERT_NO_FATAL_FAILURE(link_fake("VXDL8D21"));
  ASSERT_NO_FATAL_FAILURE(install("[performance]\ntry_directdraw=1\n"));
  ASSERT_EQ(VxInitialize(nullptr), 1);
  ASSERT_EQ(load_driver("VXDL8D21", 0), 1);
  EXPECT_FALSE(driver_directdraw_cleared());
}

TEST_F(Driver, LoadDriverOfAMissingFileFailsAndLeavesNoDevice) {
  ASSERT_NO_FATAL_FAILURE(install());
  ASSERT_EQ(VxInitialize(nullptr), 1);
  EXPECT_EQ(load_driver("VXDLMD21", 1), 0);
  void* record = nullptr;
  VxGetDeviceInfo(VX_INFO_DEVICE_RECORD, &record, sizeof record);
  EXPECT_EQ(record, nullptr);
}

}  // namespace
