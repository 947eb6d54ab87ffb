#include "tests/engine/engine_fixture.h"

#include <cmath>

namespace {

using SceneTest = EngineTest;

VxClump* wall(VxReal z) {  // a 2 x 2 square facing the camera at distance z
  VxBeginModel();
  VxBeginClump();
  VxAddVertex(-1, -1, z), VxAddVertex(1, -1, z), VxAddVertex(1, 1, z), VxAddVertex(-1, 1, z);
  VxAddQuad(1, 2, 3, 4);
  VxClump* c = VxEndClump();
  VxEndModel();
  return c;
}

TEST_F(SceneTest, PickFindsNearestPolygonOnly) {
  ASSERT_TRUE(VxStartDeviceDefault("MSWindows", 0));
  VxScene* s = VxCreateScene();
  VxCamera* cam = VxCreateCamera(100, 100, 0);
  VxClump* near = wall(5);
  VxClump* far = wall(10);
  VxAddClumpToScene(s, far);
  VxAddClumpToScene(s, near);
  VxPickRecord pick{};
  ASSERT_TRUE(VxPickScene(s, 50, 50, cam, &pick));
  ASSERT_EQ(pick.type, VX_PICK_POLYGON);
  EXPECT_EQ(VxGetPolygonClump((VxPolygon*)pick.object), near);
  VxSetClumpState(near, VX_STATE_OFF);  // off: not tested
  VxPickScene(s, 50, 50, cam, &pick);
  EXPECT_EQ(VxGetPolygonClump((VxPolygon*)pick.object), far);
  VxPickScene(s, 1, 1, cam, &pick);  // a corner ray passes beside both
  EXPECT_EQ(pick.type, VX_PICK_NOTHING);
  VxDestroyScene(s);
  EXPECT_EQ(VxGetClumpScene(near), nullptr);  // clumps survive their scene
  VxDestroyClump(near);
  VxDestroyClump(far);
}

// Looking north, +x is west and so on the left of the image.
TEST_F(SceneTest, ProjectionPutsWestOnTheLeft) {
  VxCamera* cam = VxCreateCamera(200, 100, 0);
  VxBeginModel();
  VxBeginClump();
  VxAddVertex(1, 0, 4);
  VxAddVertex(0, 0, -4);
  VxClump* c = VxEndClump();
  VxEndModel();
  VxScreenVertex v{};
  ASSERT_TRUE(VxProjectClumpVertex(c, 1, cam, &v));
  EXPECT_TRUE(v.visible);
  EXPECT_LT(v.x, 100);
  EXPECT_EQ(v.y, 50);
  ASSERT_TRUE(VxProjectClumpVertex(c, 2, cam, &v));
  EXPECT_FALSE(v.visible);  // behind
  // Turned by +90 degrees of yaw the camera looks west: the point is straight ahead.
  VxMatrix* m = VxScratchMatrix();
  VxRotateMatrix(m, 0, 1, 0, 90, VX_REPLACE);
  VxTranslateMatrix(m, -3, 0, 4, VX_POSTCONCAT);
  VxTransformCamera(cam, m, VX_REPLACE);
  VxProjectClumpVertex(c, 1, cam, &v);
  EXPECT_TRUE(v.visible);
  EXPECT_EQ(v.x, 100);
  VxVector look;
  VxGetCameraLookAt(cam, &look);
  EXPECT_NEAR(look.x, 1, 1e-6);
  VxDestroyClump(c);
}

TEST_F(SceneTest, PointCameraAtKeepsUpAndLooksAtTarget) {
  VxCamera* cam = VxCreateCamera(64, 64, 0);
  VxSetCameraPosition(cam, 0, 2, 0);
  ASSERT_TRUE(VxPointCameraAt(cam, 0, 0, 2));
  ASSERT_TRUE(VxSetCameraLookUp(cam, 0, 1, 0));
  VxVector look, up;
  VxGetCameraLookAt(cam, &look);
  VxGetCameraLookUp(cam, &up);
  EXPECT_NEAR(look.y, -std::sqrt(0.5), 1e-5);
  EXPECT_NEAR(look.z, std::sqrt(0.5), 1e-5);
  EXPECT_NEAR(look.x * up.x + look.y * up.y + look.z * up.z, 0, 1e-5);
  EXPECT_GT(up.y, 0);
  VxMoveCamera(cam, 1, 0, 0);
  VxVector pos;
  VxGetCameraPosition(cam, &pos);
  EXPECT_FLOAT_EQ(pos.x, 1);
}

TEST_F(SceneTest, FrameBracketIsEnforced) {
  VxScene* s = VxCreateScene();
  VxCamera* cam = VxCreateCamera(64, 48, 0);
  VxClump* c = wall(3);
  EXPECT_FALSE(VxRenderScene(s));
  EXPECT_EQ(VxGetError(), VX_E_STATE);
  ASSERT_TRUE(VxBeginCameraUpdate(cam));
  EXPECT_FALSE(VxBeginCameraUpdate(cam));
  EXPECT_TRUE(VxRenderScene(s));
  EXPECT_TRUE(VxRenderClump(c));
  EXPECT_TRUE(VxEndCameraUpdate(cam));
  EXPECT_FALSE(VxEndCameraUpdate(cam));
  EXPECT_TRUE(VxShowCameraImage(cam, nullptr));
  VxDestroyClump(c);
}

TEST_F(SceneTest, CameraHoldsItsProperties) {
  EXPECT_EQ(VxCreateCamera(100000, 100000, 0), nullptr);
  EXPECT_EQ(VxGetError(), VX_E_NO_MEMORY);  // start-up tells this code apart
  VxCamera* cam = VxCreateCamera(196, 116, 0);
  ASSERT_NE(cam, nullptr);
  EXPECT_NE(VxGetCameraImage(cam), nullptr);
  int x, y, w, h;
  VxGetCameraViewport(cam, &x, &y, &w, &h);
  EXPECT_EQ(w, 196);
  EXPECT_TRUE(VxSetCameraViewport(cam, 0, 0, 98, 58));
  EXPECT_FALSE(VxSetCameraViewport(cam, 100, 0, 98, 58));  // outside the image
  VxGetCameraViewport(cam, &x, &y, &w, &h);
  EXPECT_EQ(h, 58);
  VxSetCameraViewwindow(cam, 1.0f, 0.5f);
  VxReal vw, vh;
  VxGetCameraViewwindow(cam, &vw, &vh);
  EXPECT_FLOAT_EQ(vh, 0.5f);
  VxRaster* backdrop = VxCreateRaster(32, 16);
  EXPECT_TRUE(VxSetCameraBackdrop(cam, backdrop));
  EXPECT_TRUE(VxDestroyRaster(backdrop));  // a destroyed backdrop leaves the camera
  EXPECT_TRUE(VxDestroyCamera(cam));
}

TEST_F(SceneTest, LightsBelongToOneScene) {
  VxScene* a = VxCreateScene();
  VxScene* b = VxCreateScene();
  VxLight* l = VxCreateLight(1, -0.8f, -0.5f, -0.2f, 1.0f);
  ASSERT_TRUE(VxAddLightToScene(a, l));
  EXPECT_FALSE(VxAddLightToScene(b, l));
  EXPECT_EQ(VxGetSceneNumLights(a), 1);
  VxDestroyScene(a);
  VxDestroyScene(b);
}

TEST_F(SceneTest, DeviceQueriesOfNullDevice) {
  EXPECT_EQ(VxOpenDriver("VXDLNONE", 0), nullptr);
  ASSERT_TRUE(VxStartDevice("null", 0, 2, nullptr));
  int32_t v = -1;
  EXPECT_TRUE(VxGetDeviceInfo(VX_INFO_FALLBACK, &v, 4));
  EXPECT_EQ(v, 0);
  EXPECT_FALSE(VxGetDeviceInfo(777, &v, 4));
  unsigned char pal[256 * 4];
  ASSERT_TRUE(VxGetPaletteEntries(0, 256, pal));
  EXPECT_EQ(pal[215 * 4], 255);  // white at the end of the colour cube
  EXPECT_FALSE(VxGetPaletteEntries(200, 100, pal));
}

}  // namespace

namespace {

// First-person placement: yaw (replace), pitch before it (2), position after (3).
TEST_F(SceneTest, PositivePitchLooksDownAlongYaw) {
  VxCamera* cam = VxCreateCamera(64, 64, 0);
  VxMatrix* m = VxScratchMatrix();
  VxRotateMatrix(m, 0, 1, 0, 90, VX_REPLACE);
  VxRotateMatrix(m, 1, 0, 0, 30, VX_PRECONCAT);
  VxTranslateMatrix(m, 5, 1.8f, -2, VX_POSTCONCAT);
  ASSERT_TRUE(VxTransformCamera(cam, m, VX_REPLACE));
  VxVector look, pos;
  VxGetCameraLookAt(cam, &look);
  VxGetCameraPosition(cam, &pos);
  EXPECT_NEAR(look.x, std::cos(M_PI / 6), 1e-5);
  EXPECT_NEAR(look.y, -0.5, 1e-5);
  EXPECT_NEAR(look.z, 0, 1e-5);
  EXPECT_FLOAT_EQ(pos.y, 1.8f);
}

// The collision stand-in: a unit box whose joint scales it to a clump's bounds and moves it
// to their centre covers exactly those bounds.
TEST_F(SceneTest, UnitBoxFittedToBoundsThroughJoint) {
  VxBeginModel();
  VxBeginClump();
  VxAddBlock(1, 1, 1);
  VxClump* box = VxEndClump();
  VxEndModel();
  VxVector lo{-1, 0, 2}, hi{3, 5, 2.5f};
  VxMatrix* m = VxScratchMatrix();
  VxScaleMatrix(m, hi.x - lo.x, hi.y - lo.y, hi.z - lo.z, VX_REPLACE);
  VxTranslateMatrix(m, lo.x + (hi.x - lo.x) / 2, lo.y + (hi.y - lo.y) / 2, lo.z + (hi.z - lo.z) / 2,
                    VX_POSTCONCAT);
  VxTransformClumpJoint(box, m, VX_REPLACE);
  VxVector a, b;
  ASSERT_TRUE(VxGetClumpBoundingBox(box, &a, &b));
  EXPECT_NEAR(a.x, -1, 1e-5);
  EXPECT_NEAR(a.y, 0, 1e-5);
  EXPECT_NEAR(b.y, 5, 1e-5);
  EXPECT_NEAR(b.z, 2.5, 1e-5);
  VxDestroyClump(box);
}

TEST_F(SceneTest, ClumpInOneSceneAtATimeAndRootsOnly) {
  VxScene* a = VxCreateScene();
  VxScene* b = VxCreateScene();
  VxClump* c = wall(2);
  VxClump* part = wall(3);
  VxAddChildToClump(c, part);
  EXPECT_FALSE(VxAddClumpToScene(a, part));
  ASSERT_TRUE(VxAddClumpToScene(a, c));
  ASSERT_TRUE(VxAddClumpToScene(b, c));
  EXPECT_EQ(VxGetSceneNumClumps(a), 0);
  EXPECT_EQ(VxGetClumpScene(c), b);
  VxDestroyClump(c);  // leaves its scene
  EXPECT_EQ(VxGetSceneNumClumps(b), 0);
  EXPECT_FALSE(VxRemoveClumpFromScene(c));
}

}  // namespace
