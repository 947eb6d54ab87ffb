// What the engine keeps from one frame to the next (texels, colour words, clump boxes,
// polygons' world normals) must follow every change made between the frames.
#include <gtest/gtest.h>

#include "tests/engine/render_fixture.h"

namespace {

VxRaster* solid(int side, unsigned char red, unsigned char green, unsigned char blue) {
  VxRaster* r = VxCreateRasterDepth(side, side, 24);
  unsigned char* px = VxGetRasterPixels(r);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      unsigned char* p = px + y * VxGetRasterStride(r) + x * 3;
      p[0] = blue, p[1] = green, p[2] = red;
    }
  VxReleaseRasterPixels(r);
  return r;
}

class RenderReuseTest : public RenderTest {
 protected:
  int red_of(int index) {
    unsigned char pal[256 * 4];
    EXPECT_TRUE(VxGetPaletteEntries(0, 256, pal));
    return pal[index * 4];
  }
};

TEST_F(RenderReuseTest, TexelsFollowANewMaskAndANewPicture) {
  ASSERT_TRUE(start(2));
  ASSERT_NO_FATAL_FAILURE(record_polygons());
  VxCamera* cam = camera(80, 80, {0, 0, -4}, {0, 0, 0});
  VxTexture* t = VxCreateTexture(solid(32, 255, 0, 0));
  VxClump* c = make_square(1, 0, 0, 0);
  VxSetPolygonTexture(VxGetClumpPolygon(c, 0), t);
  auto first = draw(cam, {c});
  ASSERT_EQ(first.size(), 1u);
  ASSERT_NE(first[0].texels, nullptr);
  EXPECT_NE(first[0].texels[0], 0);
  EXPECT_GT(red_of(first[0].texels[0]), 180);

  // The left half masked away after the texture was drawn.
  VxRaster* mask = VxCreateRaster(32, 32);
  unsigned char* px = VxGetRasterPixels(mask);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) px[y * VxGetRasterStride(mask) + x] = x < 16 ? 0 : 1;
  VxReleaseRasterPixels(mask);
  ASSERT_TRUE(VxMaskTexture(t, mask));
  auto masked = draw(cam, {c});
  ASSERT_EQ(masked.size(), 1u);
  EXPECT_EQ(masked[0].texels[64 * 128 + 10], 0);
  EXPECT_NE(masked[0].texels[64 * 128 + 100], 0);

  // Two new pictures in turn with no frame between: the second may take the place of the
  // first one freed, and must still be the one drawn.
  for (int round = 0; round < 4; ++round) {
    ASSERT_TRUE(VxSetTextureRaster(t, solid(32, 0, 0, 255)));
    ASSERT_TRUE(VxSetTextureRaster(t, solid(32, round % 2 ? 255 : 0, 0, round % 2 ? 0 : 255)));
    auto next = draw(cam, {c});
    ASSERT_EQ(next.size(), 1u);
    const int texel = next[0].texels[64 * 128 + 100];
    if (round % 2)
      EXPECT_GT(red_of(texel), 180) << round;
    else
      EXPECT_LT(red_of(texel), 80) << round;
  }
}

TEST_F(RenderReuseTest, TexelsFollowPixelsDrawnIntoThePicture) {
  ASSERT_TRUE(start(2));
  ASSERT_NO_FATAL_FAILURE(record_polygons());
  VxCamera* cam = camera(80, 80, {0, 0, -4}, {0, 0, 0});
  VxRaster* picture = solid(32, 255, 0, 0);
  VxTexture* t = VxCreateTexture(picture);
  VxClump* c = make_square(1, 0, 0, 0);
  VxSetPolygonTexture(VxGetClumpPolygon(c, 0), t);
  auto red = draw(cam, {c});
  ASSERT_EQ(red.size(), 1u);
  EXPECT_GT(red_of(red[0].texels[64 * 128 + 64]), 180);
  unsigned char* px = VxGetRasterPixels(picture);
  ASSERT_NE(px, nullptr);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      unsigned char* p = px + y * VxGetRasterStride(picture) + x * 3;
      p[0] = 255, p[1] = 0, p[2] = 0;  // blue
    }
  ASSERT_TRUE(VxReleaseRasterPixels(picture));
  auto blue = draw(cam, {c});
  ASSERT_EQ(blue.size(), 1u);
  EXPECT_LT(red_of(blue[0].texels[64 * 128 + 64]), 80);
}

TEST_F(RenderReuseTest, ColourWordFollowsAChangedMaterial) {
  ASSERT_TRUE(start(2));
  ASSERT_NO_FATAL_FAILURE(record_polygons());
  VxCamera* cam = camera(80, 80, {0, 0, -4}, {0, 0, 0});
  VxClump* c = make_square(1, 0, 0, 0);
  VxClump* blue = make_square(1, 0, 0, 0);
  VxMaterial* m = VxCreateMaterial();
  VxSetMaterialColor(m, 0, 0, 1);
  VxSetPolygonMaterial(VxGetClumpPolygon(blue, 0), m);
  auto white = draw(cam, {c, blue});
  ASSERT_EQ(white.size(), 2u);
  ASSERT_NE(white[0].colour, white[1].colour);
  VxSetPolygonMaterial(VxGetClumpPolygon(c, 0), m);
  auto now = draw(cam, {c});
  ASSERT_EQ(now.size(), 1u);
  EXPECT_EQ(now[0].colour, white[1].colour);
}

TEST_F(RenderReuseTest, ClumpsWhollyOutsideDrawNothingAndComeBackWhenTheyChange) {
  ASSERT_TRUE(start(2));
  ASSERT_NO_FATAL_FAILURE(record_polygons());
  VxCamera* cam = camera(80, 80, {0, 0, -4}, {0, 0, 0});
  // The view is 2 units to each side at z = 0 (+x on the left): one square beyond each
  // edge and one behind the eye, one across the left edge, one reaching a hair's breadth
  // past the right edge.
  VxClump* left = make_square(1, 3, 0, 0);
  VxClump* right = make_square(1, -3, 0, 0);
  VxClump* below = make_square(1, 0, -3, 0);
  VxClump* behind = make_square(1, 0, 0, -5);
  VxClump* across = make_square(1, 2, 0, 0);
  VxClump* sliver = make_square(1, -2.499f, 0, 0);
  EXPECT_TRUE(draw(cam, {left, right, below, behind}).empty());
  auto some = draw(cam, {across, sliver});
  ASSERT_EQ(some.size(), 2u);
  for (const DeviceVertex& v : some[1].vertices) EXPECT_GE(v.screen_x, 79 << 16);

  // A triangle added in the middle of the view after the clump was left out: drawn.
  const int a = VxAddVertexToClump(left, 0.5f, -0.5f, 0), b = VxAddVertexToClump(left, -0.5f, -0.5f, 0),
            c = VxAddVertexToClump(left, -0.5f, 0.5f, 0);
  const int numbers[3] = {a, b, c};
  ASSERT_NE(VxAddPolygonToClump(left, 3, numbers), nullptr);
  auto now = draw(cam, {left});
  ASSERT_EQ(now.size(), 1u);
  EXPECT_EQ(now[0].vertices.size(), 3u);
}

// A clump drawn once and changed afterwards draws exactly as a clump that had the same
// changes before its first frame.
TEST_F(RenderReuseTest, ADrawnClumpChangedDrawsAsOneChangedBeforeItsFirstFrame) {
  ASSERT_TRUE(start(2));
  ASSERT_NO_FATAL_FAILURE(record_polygons());
  VxCamera* cam = camera(80, 80, {0, 0, -4}, {0, 0, 0});
  VxTexture* t = VxCreateTexture(solid(32, 0, 255, 0));
  VxMaterial* m = VxCreateMaterial();
  VxSetMaterialColor(m, 1, 0.2f, 0);
  VxSetMaterialOpacity(m, 0.5f);
  VxSetMaterialLook(m, VX_LOOK_POLYGON | VX_LOOK_AFFINE);
  auto change = [&](VxClump* c) {
    ASSERT_TRUE(VxSetClumpVertexUV(c, 1, 0.5f, 0.25f));
    ASSERT_TRUE(VxSetPolygonMaterial(VxGetClumpPolygon(c, 0), m));
    ASSERT_TRUE(VxSetPolygonTexture(VxGetClumpPolygon(c, 0), t));
    const int a = VxAddVertexToClump(c, 0.2f, 0.3f, -0.1f), b = VxAddVertexToClump(c, -0.3f, 0.3f, -0.1f),
              d = VxAddVertexToClump(c, -0.3f, 0.8f, -0.1f);
    const int numbers[3] = {a, b, d};
    ASSERT_NE(VxAddPolygonToClump(c, 3, numbers), nullptr);
  };
  VxClump* drawn = make_square(1, 0, 0, 0);
  VxClump* fresh = make_square(1, 0, 0, 0);
  const auto before = draw(cam, {drawn});
  ASSERT_EQ(before.size(), 1u);
  ASSERT_NO_FATAL_FAILURE(change(drawn));
  ASSERT_NO_FATAL_FAILURE(change(fresh));
  const auto after = draw(cam, {drawn}), expected = draw(cam, {fresh});
  ASSERT_EQ(expected.size(), 2u);
  ASSERT_EQ(after.size(), expected.size());
  EXPECT_NE(after[0].opacity, before[0].opacity);
  EXPECT_NE(after[0].slot, before[0].slot);
  for (size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i].slot, expected[i].slot) << i;
    EXPECT_EQ(after[i].flag, expected[i].flag) << i;
    EXPECT_EQ(after[i].shade, expected[i].shade) << i;
    EXPECT_EQ(after[i].colour, expected[i].colour) << i;
    EXPECT_EQ(after[i].mode, expected[i].mode) << i;
    EXPECT_EQ(after[i].opacity, expected[i].opacity) << i;
    EXPECT_EQ(after[i].texels, expected[i].texels) << i;
    ASSERT_EQ(after[i].vertices.size(), expected[i].vertices.size()) << i;
    for (size_t k = 0; k < after[i].vertices.size(); ++k) {
      const DeviceVertex &x = after[i].vertices[k], &y = expected[i].vertices[k];
      EXPECT_EQ(x.screen_x, y.screen_x) << i << " " << k;
      EXPECT_EQ(x.screen_y, y.screen_y) << i << " " << k;
      EXPECT_EQ(x.u, y.u) << i << " " << k;
      EXPECT_EQ(x.v, y.v) << i << " " << k;
      EXPECT_EQ(x.shade, y.shade) << i << " " << k;
    }
  }
}

// A clump turned between frames, by its own placement or its parent's, faces and is lit
// as one given the same turn before its first frame.
TEST_F(RenderReuseTest, AClumpTurnedBetweenFramesFacesAndIsLitAsOneTurnedBeforeItsFirstFrame) {
  ASSERT_TRUE(start(2));
  ASSERT_NO_FATAL_FAILURE(record_polygons());
  VxCamera* cam = camera(80, 80, {0, 0, -4}, {0, 0, 0});
  VxScene* scene = VxCreateScene();
  VxAddLightToScene(scene, VxCreateLight(1, 0.6f, 0, 0.8f, 0.5f));
  auto tree = [&] {
    VxClump* top = VxCreateClump(0, 0);
    VxClump* square = make_square(1, 0, 0, 0);
    EXPECT_TRUE(VxAddChildToClump(top, square));
    EXPECT_TRUE(VxAddClumpToScene(scene, top));
    return std::pair{top, square};
  };
  auto turn = [](VxClump* c, VxReal degrees) {
    VxRotateMatrix(VxScratchMatrix(), 0, 1, 0, degrees, VX_REPLACE);
    ASSERT_TRUE(VxTransformClump(c, VxScratchMatrix(), VX_POSTCONCAT));
  };
  auto same = [](const std::vector<RecordedPolygon>& a, const std::vector<RecordedPolygon>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
      EXPECT_EQ(a[i].shade, b[i].shade) << i;
      EXPECT_EQ(a[i].flag, b[i].flag) << i;
      ASSERT_EQ(a[i].vertices.size(), b[i].vertices.size()) << i;
      for (size_t k = 0; k < a[i].vertices.size(); ++k) {
        EXPECT_EQ(a[i].vertices[k].screen_x, b[i].vertices[k].screen_x) << i << " " << k;
        EXPECT_EQ(a[i].vertices[k].screen_y, b[i].vertices[k].screen_y) << i << " " << k;
      }
    }
  };
  auto [top, square] = tree();
  const auto first = draw(cam, {top});
  ASSERT_EQ(first.size(), 1u);
  // Turned by its parent, then by its own placement as well.
  ASSERT_NO_FATAL_FAILURE(turn(top, 40));
  auto [top2, square2] = tree();
  ASSERT_NO_FATAL_FAILURE(turn(top2, 40));
  const auto by_parent = draw(cam, {top});
  ASSERT_EQ(by_parent.size(), 1u);
  EXPECT_NE(by_parent[0].shade, first[0].shade);
  ASSERT_NO_FATAL_FAILURE(same(by_parent, draw(cam, {top2})));
  ASSERT_NO_FATAL_FAILURE(turn(square, 25));
  ASSERT_NO_FATAL_FAILURE(turn(square2, 25));
  ASSERT_NO_FATAL_FAILURE(same(draw(cam, {top}), draw(cam, {top2})));
  // Turned away: a one-sided square is no longer drawn.
  ASSERT_NO_FATAL_FAILURE(turn(square, 150));
  EXPECT_TRUE(draw(cam, {top}).empty());
}

// A light added between frames lights a clump drawn before as it lights one drawn first
// under both lights.
TEST_F(RenderReuseTest, ALightAddedBetweenFramesLightsAClumpDrawnBefore) {
  ASSERT_TRUE(start(2));
  ASSERT_NO_FATAL_FAILURE(record_polygons());
  VxCamera* cam = camera(80, 80, {0, 0, -4}, {0, 0, 0});
  VxScene* one = VxCreateScene();
  VxScene* both = VxCreateScene();
  VxAddLightToScene(one, VxCreateLight(1, 0.6f, 0, 0.8f, 0.3f));
  VxAddLightToScene(both, VxCreateLight(1, 0.6f, 0, 0.8f, 0.3f));
  VxAddLightToScene(both, VxCreateLight(1, 0, 0.6f, 0.8f, 0.3f));
  VxClump* drawn = make_square(1, 0, 0, 0);
  VxClump* fresh = make_square(1, 0, 0, 0);
  ASSERT_TRUE(VxAddClumpToScene(one, drawn));
  ASSERT_TRUE(VxAddClumpToScene(both, fresh));
  const auto before = draw(cam, {drawn});
  ASSERT_EQ(before.size(), 1u);
  VxAddLightToScene(one, VxCreateLight(1, 0, 0.6f, 0.8f, 0.3f));
  const auto after = draw(cam, {drawn}), expected = draw(cam, {fresh});
  ASSERT_EQ(after.size(), 1u);
  ASSERT_EQ(expected.size(), 1u);
  EXPECT_NE(after[0].shade, before[0].shade);
  EXPECT_EQ(after[0].shade, expected[0].shade);
}

}  // namespace
