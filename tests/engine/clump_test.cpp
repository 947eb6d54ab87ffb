#include <cmath>
#include "tests/engine/engine_fixture.h"

namespace {

using ClumpTest = EngineTest;

VxClump* triangle_clump() {
  VxClump* c = VxCreateClump(3, 1);
  VxAddVertexToClump(c, 0, 0, 0);
  VxAddVertexToClump(c, 1, 0, 0);
  VxAddVertexToClump(c, 0, 2, 0);
  int n[3] = {1, 2, 3};
  VxAddPolygonToClump(c, 3, n);
  return c;
}

// World = joint x placement x parent's world.
TEST_F(ClumpTest, WorldMatrixChainsJointPlacementParent) {
  VxClump* parent = VxCreateClump(0, 0);
  VxClump* child = triangle_clump();
  ASSERT_TRUE(VxAddChildToClump(parent, child));
  VxMatrix* m = VxScratchMatrix();
  VxTranslateMatrix(m, 0, 0, 10, VX_REPLACE);
  VxTransformClump(parent, m, VX_REPLACE);
  VxRotateMatrix(m, 0, 1, 0, 90, VX_REPLACE);
  VxTransformClump(child, m, VX_REPLACE);
  VxScaleMatrix(m, 2, 2, 2, VX_REPLACE);
  VxTransformClumpJoint(child, m, VX_REPLACE);
  VxMatrix* w = VxCreateMatrix();
  ASSERT_TRUE(VxGetClumpWorldMatrix(child, w));
  VxVector v, out;
  VxGetClumpVertex(child, 2, &v);  // (1,0,0) -> (2,0,0) -> (0,0,-2) -> (0,0,8)
  VxTransformPoint(w, &v, &out);
  EXPECT_NEAR(out.x, 0, 1e-5);
  EXPECT_NEAR(out.z, 8, 1e-5);
  VxVector origin;
  VxGetClumpOrigin(child, &origin);
  EXPECT_NEAR(origin.z, 10, 1e-5);
  VxDestroyClump(parent);
}

TEST_F(ClumpTest, PartsFollowTheJointsOfTheirParents) {
  // A leg: the hip bends, and the shin below the knee goes with it; the whole body turns
  // with the root's joint.
  VxClump* root = VxCreateClump(0, 0);
  VxClump* hip = VxCreateClump(0, 0);
  VxClump* shin = triangle_clump();
  ASSERT_TRUE(VxAddChildToClump(root, hip) && VxAddChildToClump(hip, shin));
  VxMatrix* m = VxScratchMatrix();
  VxTranslateMatrix(m, 0, 1, 0, VX_REPLACE);
  VxTransformClump(hip, m, VX_REPLACE);
  VxTranslateMatrix(m, 0, -0.5f, 0, VX_REPLACE);
  VxTransformClump(shin, m, VX_REPLACE);
  VxRotateMatrix(m, 1, 0, 0, 90, VX_REPLACE);
  VxTransformClumpJoint(hip, m, VX_REPLACE);
  VxVector knee;
  ASSERT_TRUE(VxGetClumpOrigin(shin, &knee));
  EXPECT_NEAR(knee.y, 1, 1e-5);  // swung forward, level with the hip
  EXPECT_NEAR(std::fabs(knee.z), 0.5f, 1e-5);
  const float swung_z = knee.z;
  VxRotateMatrix(m, 0, 1, 0, 90, VX_REPLACE);
  VxTransformClumpJoint(root, m, VX_REPLACE);
  VxGetClumpOrigin(shin, &knee);
  EXPECT_NEAR(knee.z, 0, 1e-5);  // turned a quarter about y with the body
  EXPECT_NEAR(std::fabs(knee.x), std::fabs(swung_z), 1e-5);
  VxDestroyClump(root);
}

TEST_F(ClumpTest, HierarchyWalkAndTagSearch) {
  VxClump* root = VxCreateClump(0, 0);
  VxClump* a = VxCreateClump(0, 0);
  VxClump* b = VxCreateClump(0, 0);
  VxClump* c = VxCreateClump(0, 0);
  VxAddChildToClump(root, a);
  VxAddChildToClump(root, b);
  VxAddChildToClump(b, c);
  VxSetClumpTag(c, 0x0C01FFFF);
  EXPECT_EQ(VxGetFirstChildClump(root), a);
  EXPECT_EQ(VxGetNextSiblingClump(a), b);
  EXPECT_EQ(VxGetNextSiblingClump(b), nullptr);
  EXPECT_EQ(VxFindTaggedClump(root, 0x0C01FFFF), c);
  EXPECT_EQ(VxFindTaggedClump(root, 7), nullptr);
  int count = 0;
  VxForAllChildClumps(root, [](VxClump*, void* d) { ++*static_cast<int*>(d); }, &count);
  EXPECT_EQ(count, 3);
  EXPECT_FALSE(VxAddChildToClump(c, root));  // a cycle is refused
  ASSERT_TRUE(VxRemoveChildFromClump(b));
  EXPECT_EQ(VxGetNextSiblingClump(a), nullptr);
  VxDestroyClump(b);
  VxDestroyClump(root);
}

TEST_F(ClumpTest, DuplicateIsDeepAndIndependent) {
  VxClump* c = triangle_clump();
  VxClump* part = triangle_clump();
  VxAddChildToClump(c, part);
  VxSetPolygonTag(VxGetClumpPolygon(c, 0), 100);
  VxClump* d = VxDuplicateClump(c);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(VxGetPolygonTag(VxGetClumpPolygon(d, 0)), 100);
  ASSERT_NE(VxGetFirstChildClump(d), nullptr);
  EXPECT_NE(VxGetFirstChildClump(d), part);
  VxSetPolygonTag(VxGetClumpPolygon(d, 0), 5);
  EXPECT_EQ(VxGetPolygonTag(VxGetClumpPolygon(c, 0)), 100);
  VxDestroyClump(c);
  VxVector v;
  EXPECT_TRUE(VxGetClumpVertex(d, 3, &v));
  EXPECT_FLOAT_EQ(v.y, 2);
  VxDestroyClump(d);
}

TEST_F(ClumpTest, PolygonIndicesCheckedAndReturned) {
  VxClump* c = triangle_clump();
  int bad[3] = {1, 2, 4};
  EXPECT_EQ(VxAddPolygonToClump(c, 3, bad), nullptr);
  int zero[3] = {0, 1, 2};
  EXPECT_EQ(VxAddPolygonToClump(c, 3, zero), nullptr);
  VxPolygon* p = VxGetClumpPolygon(c, 0);
  EXPECT_EQ(VxGetPolygonClump(p), c);
  ASSERT_EQ(VxGetPolygonNumVertices(p), 3);
  int got[3];
  VxGetPolygonVertexIndices(p, got);
  EXPECT_EQ(got[2], 3);
  VxVector v;
  EXPECT_FALSE(VxGetClumpVertex(c, 4, &v));
  EXPECT_FALSE(VxGetClumpVertex(c, 0, &v));
  VxDestroyClump(c);
}

TEST_F(ClumpTest, BoundsAndBoundingBoxThroughJoint) {
  VxClump* c = triangle_clump();
  VxMatrix* m = VxScratchMatrix();
  VxScaleMatrix(m, 0.1f, 0.1f, 0.1f, VX_REPLACE);
  VxTransformClumpJoint(c, m, VX_REPLACE);
  VxVector lo, hi;
  ASSERT_TRUE(VxGetClumpBounds(c, &lo, &hi));
  EXPECT_FLOAT_EQ(hi.x, 1);
  EXPECT_FLOAT_EQ(hi.y, 2);
  ASSERT_TRUE(VxGetClumpBoundingBox(c, &lo, &hi));
  EXPECT_NEAR(hi.y, 0.2, 1e-6);
  VxClump* empty = VxCreateClump(0, 0);
  ASSERT_TRUE(VxGetClumpBounds(empty, &lo, &hi));
  EXPECT_EQ(hi.x, 0);
  VxDestroyClump(empty);
  VxDestroyClump(c);
}

TEST_F(ClumpTest, StateOnlyOnOrOff) {
  VxClump* c = VxCreateClump(0, 0);
  EXPECT_EQ(VxGetClumpState(c), VX_STATE_ON);
  ASSERT_TRUE(VxSetClumpState(c, VX_STATE_OFF));
  EXPECT_EQ(VxGetClumpState(c), VX_STATE_OFF);
  EXPECT_FALSE(VxSetClumpState(c, 3));
  VxDestroyClump(c);
  EXPECT_EQ(VxGetClumpState(c), 0);  // a destroyed handle is refused, not read
}

TEST_F(ClumpTest, MaterialCopiedIntoPolygon) {
  VxClump* c = triangle_clump();
  VxMaterial* m = VxCreateMaterial();
  VxSetMaterialColor(m, 0.5f, 0.25f, 2.0f);
  VxSetMaterialSurface(m, 0.3f, 0.6f, 0.1f);
  VxSetMaterialOpacity(m, 0.5f);
  VxSetMaterialMode(m, 2);
  VxPolygon* p = VxGetClumpPolygon(c, 0);
  ASSERT_TRUE(VxSetPolygonMaterial(p, m));
  VxSetMaterialColor(m, 0, 0, 0);  // later changes do not reach the polygon
  VxMaterial* back = VxCreateMaterial();
  ASSERT_TRUE(VxGetPolygonMaterial(p, back));
  VxReal r, g, b;
  VxGetMaterialColor(back, &r, &g, &b);
  EXPECT_FLOAT_EQ(r, 0.5f);
  EXPECT_FLOAT_EQ(b, 1.0f);  // clamped
  EXPECT_FLOAT_EQ(VxGetMaterialOpacity(back), 0.5f);
  EXPECT_EQ(VxGetMaterialMode(back), 2);
  VxDestroyMaterial(m);
  VxDestroyMaterial(back);
  VxDestroyClump(c);
}

TEST_F(ClumpTest, ModellingBlockBuildsNestedClumps) {
  ASSERT_TRUE(VxBeginModel());
  ASSERT_TRUE(VxBeginClump());
  VxSetModelSurface(0.75f, 0, 0);
  VxSetModelColor(1, 1, 0);
  VxSetModelLevel(128);
  VxSetModelMode(2);
  ASSERT_TRUE(VxAddBlock(1, 2, 4));
  ASSERT_TRUE(VxBeginClump());
  EXPECT_EQ(VxAddVertex(0, 0, 0), 1);
  VxClump* inner = VxEndClump();
  VxClump* outer = VxEndClump();
  ASSERT_TRUE(VxEndModel());
  ASSERT_NE(outer, nullptr);
  EXPECT_EQ(VxGetFirstChildClump(outer), inner);
  EXPECT_EQ(VxGetClumpNumVertices(outer), 8);
  EXPECT_EQ(VxGetClumpNumPolygons(outer), 6);
  VxVector lo, hi;
  VxGetClumpBounds(outer, &lo, &hi);  // centred on the origin
  EXPECT_FLOAT_EQ(lo.x, -0.5f);
  EXPECT_FLOAT_EQ(hi.y, 1.0f);
  EXPECT_FLOAT_EQ(hi.z, 2.0f);
  VxMaterial* m = VxCreateMaterial();
  VxGetPolygonMaterial(VxGetClumpPolygon(outer, 0), m);
  VxReal a, d, s;
  VxGetMaterialSurface(m, &a, &d, &s);
  EXPECT_FLOAT_EQ(a, 0.75f);
  EXPECT_EQ(VxGetMaterialMode(m), 2);
  VxDestroyMaterial(m);
  VxDestroyClump(outer);
}

TEST_F(ClumpTest, ModellingCallsOutsideBlockFail) {
  EXPECT_EQ(VxAddVertex(0, 0, 0), 0);
  EXPECT_EQ(VxGetError(), VX_E_STATE);
  ASSERT_TRUE(VxBeginModel());
  EXPECT_EQ(VxEndClump(), nullptr);
  ASSERT_TRUE(VxBeginClump());
  EXPECT_FALSE(VxEndModel());  // an unfinished clump is dropped, not leaked
  EXPECT_TRUE(VxBeginModel());
  EXPECT_TRUE(VxEndModel());
}

TEST_F(ClumpTest, PolygonIterationSetsTexturesByTag) {
  VxClump* c = triangle_clump();
  int n[3] = {3, 2, 1};
  VxSetPolygonTag(VxAddPolygonToClump(c, 3, n), 200);
  VxTexture* t = VxCreateTexture(VxCreateRaster(4, 4));
  struct Arg { VxTexture* t; int seen; } arg{t, 0};
  VxForAllPolygonsInClumpWithArg(c, [](VxPolygon* p, void* a) {
    auto* x = static_cast<Arg*>(a);
    ++x->seen;
    if (VxGetPolygonTag(p) == 200) VxSetPolygonTexture(p, x->t);
  }, &arg);
  EXPECT_EQ(arg.seen, 2);
  EXPECT_EQ(VxGetPolygonTexture(VxGetClumpPolygon(c, 0)), nullptr);
  EXPECT_EQ(VxGetPolygonTexture(VxGetClumpPolygon(c, 1)), t);
  // The polygon keeps its own reference: the texture outlives the caller's.
  VxDestroyTexture(t);
  EXPECT_NE(VxGetTextureRaster(VxGetPolygonTexture(VxGetClumpPolygon(c, 1))), nullptr);
  // One destroy too many cannot take the polygon's reference away.
  EXPECT_FALSE(VxDestroyTexture(t));
  EXPECT_EQ(VxGetError(), VX_E_STATE);
  EXPECT_NE(VxGetTextureRaster(t), nullptr);
  VxDestroyClump(c);
  EXPECT_EQ(VxGetTextureRaster(t), nullptr);
}

}  // namespace
