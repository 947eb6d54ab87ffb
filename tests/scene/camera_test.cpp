// Cameras and the world scene on the real engine with the 8-bit plug-in open.
#include <cmath>
#include <vector>

#include <algorithm>
#include <cstring>

#include "client/core/tick.h"
#include "client/servers/world.h"
#include "../support/test_util.h"
#include "scene_fixture.h"

namespace {

struct UiRecord {
  std::map<int, bool> checked, enabled, pressed, button_enabled;
};
UiRecord ui;
const CameraUiLinks kUi = {
    [](int id, bool on) { ui.checked[id] = on; },
    [](int id, bool on) { ui.enabled[id] = on; },
    [](int id, bool on) { ui.pressed[id] = on; },
    [](int id, bool on) { ui.button_enabled[id] = on; },
};

CameraSelf me;
void self_source(CameraSelf* out) { *out = me; }

class Camera : public SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    ui = UiRecord{};
    me = CameraSelf{};
    ASSERT_NO_FATAL_FAILURE(link_driver("VXDL8D21"));
    ASSERT_NO_FATAL_FAILURE(install());
  }
  void open(int depth = 8) {
    ASSERT_NO_FATAL_FAILURE(detect(depth));
    ASSERT_EQ(driver_init(), 1);
    camera_set_ui_links(&kUi);
    camera_set_self_source(self_source);
  }
  static std::pair<int, int> size() {
    int w = 0, h = 0;
    camera_size(&w, &h);
    return {w, h};
  }
};

TEST_F(Camera, NothingHappensBeforeTheDriverIsReady) {
  int w = 200, h = 120;
  EXPECT_EQ(camera_resize(&w, &h), 0);
  EXPECT_EQ(camera_get_main(), nullptr);
  EXPECT_EQ(w, 200);
}

TEST_F(Camera, InitMakesA196By116CameraInFirstPerson) {
  ASSERT_NO_FATAL_FAILURE(open());
  ASSERT_EQ(camera_init(), 1);
  EXPECT_EQ(size(), std::make_pair(196, 116));
  ASSERT_NE(camera_get_main(), nullptr);
  ASSERT_NE(camera_get_half(), nullptr);
  int x, y, w, h;
  ASSERT_EQ(VxGetCameraViewport(camera_get_half(), &x, &y, &w, &h), 1);
  EXPECT_EQ(w, 98);
  EXPECT_EQ(h, 58);
  EXPECT_EQ(camera_mode(), 0);
  EXPECT_FALSE(camera_tracking_self());
  EXPECT_TRUE(ui.button_enabled[126]);
  EXPECT_TRUE(ui.button_enabled[127]);
  EXPECT_EQ(ui.enabled.count(126), 0u);  // the menu items are checked, not enabled, here
  EXPECT_TRUE(ui.checked[126]);
  EXPECT_FALSE(ui.checked[127]);
  // Level: look level greyed, up and down allowed.
  EXPECT_FALSE(ui.enabled[131]);
  EXPECT_TRUE(ui.enabled[124]);
  EXPECT_TRUE(ui.enabled[125]);
  VxReal back[3];
  camera_back_color(back);
  EXPECT_FLOAT_EQ(back[2], 0.7f);
}

TEST_F(Camera, SameRoundedSizeKeepsTheCameras) {
  ASSERT_NO_FATAL_FAILURE(open());
  ASSERT_EQ(camera_init(), 1);
  VxCamera* before = camera_get_main();
  int w = 201, h = 121;
  EXPECT_EQ(camera_resize(&w, &h), 1);
  EXPECT_EQ(camera_get_main(), before);
  EXPECT_EQ(size(), std::make_pair(196, 116));
  w = 640, h = 480;
  EXPECT_EQ(camera_resize(&w, &h), 1);
  EXPECT_EQ(size(), std::make_pair(636, 476));
}

TEST_F(Camera, ResizeKeepsPositionAndBackColour) {
  ASSERT_NO_FATAL_FAILURE(open());
  ASSERT_EQ(camera_init(), 1);
  camera_set_color(255, 0, 51);
  VxSetCameraPosition(camera_get_main(), 3, 4, 5);
  int w = 400, h = 300;
  ASSERT_EQ(camera_resize(&w, &h), 1);
  VxVector p{};
  ASSERT_EQ(VxGetCameraPosition(camera_get_main(), &p), 1);
  EXPECT_FLOAT_EQ(p.x, 3);
  EXPECT_FLOAT_EQ(p.z, 5);
  VxReal back[3];
  camera_back_color(back);
  EXPECT_FLOAT_EQ(back[0], 1.0f);
  EXPECT_FLOAT_EQ(back[2], 0.2f);
}

TEST_F(Camera, TinyWindowGetsTheSmallestCameraNotANegativeOne) {
  ASSERT_NO_FATAL_FAILURE(open());
  ASSERT_EQ(camera_init(), 1);
  for (int side : {5, 4, 3, 1, 0, -7}) {
    int w = side, h = side;
    EXPECT_EQ(camera_resize(&w, &h), 1) << side;
    auto [cw, ch] = size();
    EXPECT_GE(cw, 2) << side;
    EXPECT_GE(ch, 2) << side;
    EXPECT_GE(w, side) << "written back size never below the request";
  }
}

TEST_F(Camera, CameraThatCannotBeMadeEndsTheLoopAndReportsIt) {
  ::unlink((drivers_ + "/libVXDL8D21.so").c_str());
  ASSERT_NO_FATAL_FAILURE(link_fake("VXDL8D21"));
  setenv("SCENE_FAKE_DRIVER_NO_RASTER", "1", 1);  // the device refuses every frame raster
  ASSERT_NO_FATAL_FAILURE(open());
  int w = 640, h = 480;
  EXPECT_EQ(camera_resize(&w, &h), 0);
  EXPECT_EQ(camera_get_main(), nullptr);
  EXPECT_EQ(VxGetError(), VX_E_NO_MEMORY);
  EXPECT_EQ(camera_init(), 0);
  EXPECT_GT(w, 0);
  EXPECT_GT(h, 0);
}

TEST_F(Camera, HugeRequestEndsSoonWithACameraTheEngineCanMake) {
  ASSERT_NO_FATAL_FAILURE(open());
  ASSERT_EQ(camera_init(), 1);
  int w = 2000000000, h = 2000000000;
  EXPECT_EQ(camera_resize(&w, &h), 1);
  auto [cw, ch] = size();
  EXPECT_GT(cw, 2);
  EXPECT_LT(cw, 100000);
  EXPECT_EQ(cw, ch);
  EXPECT_EQ(w - cw, 4);  // the caller's size took the same cuts
  // A later sensible size goes back to the even-minus-four rounding.
  w = 300, h = 200;
  EXPECT_EQ(camera_resize(&w, &h), 1);
  EXPECT_EQ(size(), std::make_pair(296, 196));
}

TEST_F(Camera, Direct3dSizesStayWithinItsPixelLimitReducedEqually) {
  ASSERT_NO_FATAL_FAILURE(link_fake("VXDLDD21"));
  write_file(dir_.file("tessel.ini"), "[performance]\ndirect3d=1\n");
  ASSERT_NO_FATAL_FAILURE(open(16));
  ASSERT_TRUE(driver_using_direct3d());
  ASSERT_EQ(camera_init(), 1);
  EXPECT_EQ(camera_get_half(), nullptr);  // no half camera under Direct3D
  int w = 1024, h = 768;
  ASSERT_EQ(camera_resize(&w, &h), 1);
  auto [cw, ch] = size();
  EXPECT_LE(static_cast<long long>(cw) * ch, 524288);
  EXPECT_GT(static_cast<long long>(cw + 2) * (ch + 2), 524288);
  EXPECT_EQ(1020 - cw, 764 - ch);
  EXPECT_EQ(1024 - w, 1020 - cw);  // the caller learns the size really used
}

TEST_F(Camera, LookingUpAndDownStopsAtTheLimits) {
  ASSERT_NO_FATAL_FAILURE(open());
  ASSERT_EQ(camera_init(), 1);
  for (int i = 0; i < 20; ++i) camera_look_up();
  EXPECT_FLOAT_EQ(camera_pitch(), -85);
  EXPECT_FALSE(ui.enabled[124]);
  EXPECT_TRUE(ui.enabled[131]);
  camera_look_up();
  EXPECT_FLOAT_EQ(camera_pitch(), -85);
  camera_look_down();
  EXPECT_FLOAT_EQ(camera_pitch(), -80);
  EXPECT_TRUE(ui.enabled[124]);
  for (int i = 0; i < 40; ++i) camera_look_down();
  EXPECT_FLOAT_EQ(camera_pitch(), 85);
  EXPECT_FALSE(ui.enabled[125]);
  camera_look_level();
  EXPECT_FLOAT_EQ(camera_pitch(), 0);
  EXPECT_FALSE(ui.enabled[131]);
}

TEST_F(Camera, ThirdPersonIgnoresPitchAndCyclesDistances) {
  ASSERT_NO_FATAL_FAILURE(open());
  ASSERT_EQ(camera_init(), 1);
  camera_track_self(1);  // the first call switches, it does not step
  EXPECT_TRUE(camera_tracking_self());
  EXPECT_EQ(camera_distance_step(), 0);
  EXPECT_TRUE(ui.checked[127]);
  EXPECT_FALSE(ui.checked[126]);
  EXPECT_FALSE(ui.enabled[124]);
  EXPECT_FALSE(ui.button_enabled[125]);
  camera_look_up();
  EXPECT_FLOAT_EQ(camera_pitch(), 0);
  camera_track_self(1);
  camera_track_self(1);
  camera_track_self(1);
  EXPECT_EQ(camera_distance_step(), 3);
  camera_track_self(1);
  EXPECT_EQ(camera_distance_step(), 0);
  camera_track_self(0);  // the location history never steps
  EXPECT_EQ(camera_distance_step(), 0);
  camera_track_ahead();
  EXPECT_EQ(camera_mode(), 0);
  EXPECT_TRUE(ui.checked[126]);
}

TEST_F(Camera, ViewWindowFollowsTheLongerSide) {
  ASSERT_NO_FATAL_FAILURE(open());
  ASSERT_EQ(camera_init(), 1);  // 196 x 116
  VxReal w = 0, h = 0;
  ASSERT_EQ(VxGetCameraViewwindow(camera_get_main(), &w, &h), 1);
  EXPECT_FLOAT_EQ(w, 1.0f);
  EXPECT_NEAR(h, 116.0f / 196.0f, 1e-6);
  camera_track_self(0);
  ASSERT_EQ(VxGetCameraViewwindow(camera_get_main(), &w, &h), 1);
  EXPECT_FLOAT_EQ(w, 0.5f);
  EXPECT_NEAR(h, 0.5f * 116.0f / 196.0f, 1e-6);
  int cw = 204, ch = 404;  // a tall view
  camera_track_ahead();
  ASSERT_EQ(camera_resize(&cw, &ch), 1);
  camera_size_viewwindow();
  ASSERT_EQ(VxGetCameraViewwindow(camera_get_main(), &w, &h), 1);
  EXPECT_FLOAT_EQ(h, 1.0f);
  EXPECT_NEAR(w, 200.0f / 400.0f, 1e-6);
}

TEST_F(Camera, OwnAvatarHiddenInFirstPersonShownInThird) {
  ASSERT_NO_FATAL_FAILURE(open());
  VxClump* avatar = VxCreateClump(0, 0);
  VxClump* arm = VxCreateClump(0, 0);
  ASSERT_EQ(VxAddChildToClump(avatar, arm), 1);
  me.avatar = avatar;
  ASSERT_EQ(camera_init(), 1);
  EXPECT_EQ(VxGetClumpState(avatar), VX_STATE_OFF);
  EXPECT_EQ(VxGetClumpState(arm), VX_STATE_OFF);
  camera_track_self(0);
  EXPECT_EQ(VxGetClumpState(avatar), VX_STATE_ON);
  EXPECT_EQ(VxGetClumpState(arm), VX_STATE_ON);
  VxDestroyClump(avatar);
}

TEST_F(Camera, FirstPersonLooksFromTheEyeAlongTheYaw) {
  ASSERT_NO_FATAL_FAILURE(open());
  ASSERT_EQ(camera_init(), 1);
  me.x = 10;
  me.y = 2;
  me.z = -4;
  me.height = 2;
  me.yaw = 90;  // +z turned toward +x
  camera_update();
  VxVector p{}, at{};
  ASSERT_EQ(VxGetCameraPosition(camera_get_main(), &p), 1);
  EXPECT_NEAR(p.x, 10, 1e-4);
  EXPECT_NEAR(p.y, 2 + 0.9 * 2, 1e-4);
  EXPECT_NEAR(p.z, -4, 1e-4);
  ASSERT_EQ(VxGetCameraLookAt(camera_get_main(), &at), 1);
  EXPECT_NEAR(at.x, 1, 1e-4);
  EXPECT_NEAR(at.z, 0, 1e-4);
  // Looking down tilts the view below the horizon.
  for (int i = 0; i < 6; ++i) camera_look_down();
  camera_update();
  ASSERT_EQ(VxGetCameraLookAt(camera_get_main(), &at), 1);
  EXPECT_NEAR(at.y, -std::sin(30 * M_PI / 180), 1e-4);
}

// The camera placed after `ms` more of the frame clock.
void camera_update_after(uint32_t ms) {
  testutil::fake_now += ms;
  tick_update();
  camera_update();
}

TEST_F(Camera, ThirdPersonEasesTowardTheTargetBehind) {
  testutil::FakeClock clock;
  ASSERT_NO_FATAL_FAILURE(open());
  ASSERT_EQ(camera_init(), 1);
  camera_track_self(0);  // distance 0.5
  me.height = 0;
  camera_update_after(0);
  VxVector start{};
  ASSERT_EQ(VxGetCameraPosition(camera_get_main(), &start), 1);
  // From where it stands a fifth of the way to (0, 0.25, -0.5) in 50 ms.
  camera_update_after(50);
  VxVector p{};
  ASSERT_EQ(VxGetCameraPosition(camera_get_main(), &p), 1);
  EXPECT_NEAR(p.z, start.z + 0.2 * (-0.5 - start.z), 1e-4);
  EXPECT_NEAR(p.y, start.y + 0.2 * (0.25 - start.y), 1e-4);
  camera_update_after(0);  // a second placement in the same frame stays put
  VxVector again{};
  ASSERT_EQ(VxGetCameraPosition(camera_get_main(), &again), 1);
  EXPECT_NEAR(again.z, p.z, 1e-6);
  me.z = 20;  // the avatar runs north: the camera lags behind
  camera_update_after(50);
  EXPECT_TRUE(camera_moving());
  for (int i = 0; i < 60; ++i) camera_update_after(50);
  EXPECT_FALSE(camera_moving());
  ASSERT_EQ(VxGetCameraPosition(camera_get_main(), &p), 1);
  EXPECT_NEAR(p.z, 19.5, 1e-2);
}

TEST_F(Camera, ThirdPersonFollowsAsFastAtAnyFrameRate) {
  testutil::FakeClock clock;
  ASSERT_NO_FATAL_FAILURE(open());
  ASSERT_EQ(camera_init(), 1);
  camera_track_self(0);
  me.height = 0;
  for (int rate : {10, 60, 500}) {
    me.z = 0;
    for (int i = 0; i < 40; ++i) camera_update_after(50);  // settled behind the avatar
    me.z = 10;  // a teleport 10 units north
    // Half a second at this frame rate, on whole milliseconds that add up exactly.
    for (int k = 1; k <= rate / 2; ++k) camera_update_after(k * 1000 / rate - (k - 1) * 1000 / rate);
    VxVector p{};
    ASSERT_EQ(VxGetCameraPosition(camera_get_main(), &p), 1);
    // A fifth of the way left in each 50 ms: 0.8^10 of the 10 units are still to go.
    EXPECT_NEAR(9.5 - p.z, 10 * std::pow(0.8, 10), 0.05) << rate << " frames a second";
  }
}

TEST_F(Camera, HalfCameraOnlyWhilePanningAndTurning) {
  write_file(dir_.file("tessel.ini"), "[performance]\npanning=1\n");
  ASSERT_NO_FATAL_FAILURE(open());
  ASSERT_EQ(camera_init(), 1);
  camera_choose_half();
  EXPECT_FALSE(camera_using_half());
  me.turning = true;
  camera_choose_half();
  EXPECT_TRUE(camera_using_half());
  camera_track_self(0);
  camera_choose_half();
  EXPECT_FALSE(camera_using_half());
  camera_track_ahead();
  profile_set_int("performance", "panning", 0);
  camera_choose_half();
  EXPECT_FALSE(camera_using_half());
}

TEST_F(Camera, BackColourBytesAreCutToTheirRange) {
  ASSERT_NO_FATAL_FAILURE(open());
  ASSERT_EQ(camera_init(), 1);
  camera_set_color(300, -5, 255);
  VxReal back[3];
  camera_back_color(back);
  EXPECT_FLOAT_EQ(back[0], 1.0f);
  EXPECT_FLOAT_EQ(back[1], 0.0f);
  EXPECT_FLOAT_EQ(back[2], 1.0f);
}

// The world's colour attributes arrive through the world connection's hook, which the
// camera's own start fills.
TEST_F(Camera, WorldColourAttributesReachTheBackColour) {
  ASSERT_NO_FATAL_FAILURE(open());
  EXPECT_EQ(nullptr, world_hook.camera_set_color);
  ASSERT_EQ(camera_init(), 1);
  ASSERT_NE(nullptr, world_hook.camera_set_color);
  world_hook.camera_set_color(0, 255, 0);
  VxReal back[3];
  camera_back_color(back);
  EXPECT_FLOAT_EQ(back[0], 0.0f);
  EXPECT_FLOAT_EQ(back[1], 1.0f);
  EXPECT_FLOAT_EQ(back[2], 0.0f);
  camera_term();
  EXPECT_EQ(nullptr, world_hook.camera_set_color);
}

TEST_F(Camera, FrameBracketDrawsTheBackColourIntoTheImage) {
  ASSERT_NO_FATAL_FAILURE(open());
  ASSERT_EQ(camera_init(), 1);
  ASSERT_NE(scene_init(), nullptr);
  camera_set_color(0, 0, 255);
  ASSERT_EQ(camera_begin_update(), 1);
  scene_update();
  ASSERT_EQ(camera_end_update(), 1);
  // A second end without a begin does nothing harmful.
  EXPECT_EQ(camera_end_update(), 0);
}

TEST_F(Camera, FrameBegunBeforeGoingToTheBackgroundIsStillEnded) {
  ASSERT_NO_FATAL_FAILURE(open());
  ASSERT_EQ(camera_init(), 1);
  ASSERT_EQ(camera_begin_update(), 1);
  tessel_set_background(true);
  EXPECT_EQ(camera_end_update(), 1);
  // In the background nothing is begun or ended.
  EXPECT_EQ(camera_begin_update(), 1);
  EXPECT_EQ(camera_end_update(), 1);
  tessel_set_background(false);
  // The next frame can begin: the engine has no frame left open.
  EXPECT_EQ(camera_begin_update(), 1);
  EXPECT_EQ(camera_end_update(), 1);
}

// ---- scene -----------------------------------------------------------------------------

TEST_F(Camera, SceneHasItsLightAndTermForgetsIt) {
  ASSERT_NO_FATAL_FAILURE(open());
  VxScene* s = scene_init();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(scene_world(), s);
  EXPECT_EQ(VxGetSceneNumLights(s), 1);
  scene_term();
  EXPECT_EQ(scene_world(), nullptr);
  scene_term();  // twice is harmless
}

TEST_F(Camera, PickFindsTheClumpInFrontAndNothingOutsideTheViewport) {
  ASSERT_NO_FATAL_FAILURE(open());
  ASSERT_EQ(camera_init(), 1);
  ASSERT_NE(scene_init(), nullptr);
  me.height = 0;
  camera_update();  // at the origin, looking north (+z)
  // A wall 5 units ahead covering the middle of the view.
  VxClump* wall = add_facing_square(2, 5);
  ASSERT_NE(wall, nullptr);
  EXPECT_EQ(scene_pick(98, 58), wall);
  EXPECT_EQ(scene_pick(-1, 58), nullptr);
  EXPECT_EQ(scene_pick(196, 58), nullptr);
  EXPECT_EQ(scene_pick(98, 116), nullptr);
  EXPECT_EQ(scene_pick(2, 2), nullptr);  // the corner sees past the wall
  VxRemoveClumpFromScene(wall);
  VxDestroyClump(wall);
}

TEST_F(Camera, PickWithoutSceneOrCameraIsNull) {
  EXPECT_EQ(scene_pick(10, 10), nullptr);
  ASSERT_NO_FATAL_FAILURE(open());
  ASSERT_NE(scene_init(), nullptr);
  EXPECT_EQ(scene_pick(10, 10), nullptr);
}

}  // namespace
