// A frame drawn in horizontal bands on several threads, each through its own copy of the
// driver, shows exactly the picture one thread draws: polygons of every look that cross the
// bands' edges, with and without the depth buffer, at several band counts.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include "tests/engine/render_fixture.h"

namespace {

// Copies of the driver the engine has loaded for bands: distinct in-memory files.
int band_copies() {
  std::ifstream maps("/proc/self/maps");
  std::set<std::string> inodes;
  std::string line;
  while (std::getline(maps, line))
    if (line.find("memfd:VXDL8D21-band") != std::string::npos) {
      std::istringstream in(line);
      std::string range, perms, offset, device, inode;
      in >> range >> perms >> offset >> device >> inode;
      inodes.insert(inode);
    }
  return (int)inodes.size();
}

class BandsTest : public RenderTest {
 public:
  static constexpr int kW = 320, kH = 256;

  // Large slanted quads and triangles at many depths and of every look, so that most cross
  // several band edges and overlap one another; and a textured, lit, rotating cube.
  void build() {
    scene = VxCreateScene();
    VxAddLightToScene(scene, VxCreateLight(1, -0.6f, -0.5f, 0.4f, 1.0f));
    VxRaster* raster = VxCreateRasterDepth(16, 16, 24);
    unsigned char* p = VxGetRasterPixels(raster);
    for (int i = 0; i < 16 * 16; ++i) {
      p[i * 3] = (unsigned char)(i * 7), p[i * 3 + 1] = (unsigned char)(255 - i), p[i * 3 + 2] = (unsigned char)(i * 3);
      if (i % 37 == 0) p[i * 3] = p[i * 3 + 1] = p[i * 3 + 2] = 0;
    }
    VxReleaseRasterPixels(raster);
    texture = VxCreateTexture(raster);
    const int looks[] = {0,
                         VX_LOOK_SMOOTH,
                         VX_LOOK_UNLIT,
                         VX_LOOK_AFFINE,
                         VX_LOOK_DITHER,
                         VX_LOOK_AFFINE | VX_LOOK_DITHER,
                         VX_LOOK_OUTLINE,
                         VX_LOOK_POINTS,
                         VX_LOOK_POLYLINE | VX_LOOK_SMOOTH};
    std::mt19937 rng(2027);
    auto real = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
    for (int k = 0; k < 60; ++k) {
      VxBeginModel();
      VxBeginClump();
      VxSetModelColor(real(0, 1), real(0, 1), real(0, 1));
      VxSetModelLook(looks[k % 9]);
      if (k % 3 == 0) VxSetModelTexture(texture);
      if (k % 4 == 1) VxSetModelOpacity(0.5f);
      if (k % 5 == 2) VxSetModelMode(VX_MATERIAL_TWO_SIDED);
      const float s = real(0.3f, 1.6f);
      VxAddVertexUV(s, -s, 0, 0, 2);
      VxAddVertexUV(-s, -s, 0, 2, 2);
      VxAddVertexUV(-s * 0.7f, s, 0, 2, 0);
      VxAddVertexUV(s, s * 1.2f, 0, 0, 0);
      if (k % 2) VxAddQuad(1, 2, 3, 4);
      else VxAddTriangle(1, 2, 3);
      VxClump* c = VxEndClump();
      VxEndModel();
      VxRotateMatrix(VxScratchMatrix(), 0, 0, 1, real(0, 360), VX_REPLACE);
      VxRotateMatrix(VxScratchMatrix(), 0, 1, 0, real(-40, 40), VX_POSTCONCAT);
      VxTranslateMatrix(VxScratchMatrix(), real(-1.5f, 1.5f), real(-1.2f, 1.2f), real(1.5f, 5), VX_POSTCONCAT);
      VxTransformClump(c, VxScratchMatrix(), VX_REPLACE);
      VxAddClumpToScene(scene, c);
    }
    VxAddClumpToScene(scene, make_cube(0.8f, 0.2f, 0.1f, 2.0f, texture));
    cam = camera(kW, kH, {0, 0, -0.5f}, {0, 0, 3});
    VxSetCameraBackColor(cam, 0.3f, 0.5f, 0.8f);
    VxSetCameraWindow(cam, show_window(kW, kH));
  }

  // The frame as shown, drawn on the given number of threads.
  std::vector<uint8_t> draw(int threads) {
    EXPECT_TRUE(VxSetDrawThreads(threads));
    EXPECT_TRUE(VxBeginCameraUpdate(cam));
    EXPECT_TRUE(VxRenderScene(scene));
    if (extra) {
      EXPECT_TRUE(VxRenderClump(extra));
    }
    EXPECT_TRUE(VxEndCameraUpdate(cam));
    GdiDc* dc = gdi_get_dc(window);
    EXPECT_TRUE(VxShowCameraImage(cam, dc));
    gdi_release_dc(window, dc);
    return canvas->rgb();
  }

  // Rows that differ between two frames, for a readable failure.
  static std::string differing_rows(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    std::string rows;
    for (int y = 0; y < kH; ++y)
      if (std::memcmp(&a[(size_t)y * kW * 3], &b[(size_t)y * kW * 3], (size_t)kW * 3) != 0)
        rows += std::to_string(y) + " ";
    return rows;
  }

  VxScene* scene = nullptr;
  VxClump* extra = nullptr;  // drawn after the scene, in the same frame
  VxCamera* cam = nullptr;
  VxTexture* texture = nullptr;
};

TEST_F(BandsTest, EveryBandCountDrawsTheOneThreadPicture) {
  ASSERT_TRUE(start(2));
  build();
  const std::vector<uint8_t> one = draw(1);
  EXPECT_EQ(band_copies(), 0);
  // Not a blank frame: many colours.
  std::set<uint32_t> colours;
  for (size_t i = 0; i + 2 < one.size(); i += 3) colours.insert(one[i] << 16 | one[i + 1] << 8 | one[i + 2]);
  EXPECT_GT(colours.size(), 40u);
  for (int threads : {2, 3, 5, 8}) {
    const std::vector<uint8_t> banded = draw(threads);
    EXPECT_GE(band_copies(), threads) << "the frame was not drawn in bands";
    EXPECT_EQ(differing_rows(one, banded), "") << threads << " bands";
    // A second frame over the first: the bands clear their depth rows again.
    EXPECT_EQ(differing_rows(one, draw(threads)), "") << threads << " bands, next frame";
  }
  EXPECT_EQ(differing_rows(one, draw(1)), "") << "back on one thread";
}

// A second call in the frame, whose polygons crowd other rows than the scene's, meets the
// depths the first one left in every row.
TEST_F(BandsTest, AFrameDrawnInTwoCallsKeepsItsDepths) {
  ASSERT_TRUE(start(2));
  build();
  extra = make_cube(1.5f, -0.9f, 0.8f, 2.2f, texture);
  const std::vector<uint8_t> one = draw(1);
  for (int threads : {3, 8}) {
    draw(threads);
    EXPECT_EQ(differing_rows(one, draw(threads)), "") << threads << " bands";
  }
}

// A call of more polygons than the bands' buffers held: they are drawn in several runs,
// each meeting the depths the runs before left.
TEST_F(BandsTest, ACallOfManyPolygonsDrawsTheOneThreadPicture) {
  ASSERT_TRUE(start(2));
  build();
  VxBeginModel();
  VxBeginClump();
  VxSetModelColor(0.9f, 0.8f, 0.2f);
  VxSetModelMode(VX_MATERIAL_TWO_SIDED);
  constexpr int kN = 64;  // a rippled sheet through the scene: 7938 triangles
  for (int j = 0; j < kN; ++j)
    for (int i = 0; i < kN; ++i)
      VxAddVertex(-2 + 4.0f * i / (kN - 1), -1.6f + 3.2f * j / (kN - 1), 3 + 0.8f * std::sin(i * 0.7f + j * 0.4f));
  for (int j = 0; j + 1 < kN; ++j)
    for (int i = 0; i + 1 < kN; ++i) {
      const int a = j * kN + i + 1;
      VxAddTriangle(a, a + 1, a + kN);
      VxAddTriangle(a + 1, a + kN + 1, a + kN);
    }
  extra = VxEndClump();
  VxEndModel();
  const std::vector<uint8_t> one = draw(1);
  for (int threads : {3, 8}) EXPECT_EQ(differing_rows(one, draw(threads)), "") << threads << " bands";
}

TEST_F(BandsTest, WithoutTheDepthBufferTheBandsFollowTheDevice) {
  ASSERT_TRUE(start(2));
  build();
  const std::vector<uint8_t> with_depth = draw(1);
  draw(4);  // the copies are open before the device changes
  ASSERT_TRUE(VxDeviceControl(7, 0, nullptr, 0));
  const std::vector<uint8_t> one = draw(1);
  EXPECT_NE(differing_rows(with_depth, one), "") << "the depth buffer made no difference to the scene";
  const std::vector<uint8_t> banded = draw(4);
  EXPECT_GE(band_copies(), 4);
  EXPECT_EQ(differing_rows(one, banded), "");
  // Copies opened after the change take it too.
  VxShutdown();
  window_destroy(window);
  window = nullptr;
  VxInitialize(nullptr);
  ASSERT_TRUE(start(2));
  build();
  ASSERT_TRUE(VxDeviceControl(7, 0, nullptr, 0));
  EXPECT_EQ(differing_rows(one, draw(6)), "");
}

TEST_F(BandsTest, CountsAndTheSettingsRange) {
  ASSERT_TRUE(start(2));
  build();
  draw(1);
  VxResetRenderCounts();
  draw(1);
  const unsigned flat = VxGetRenderCount(1, 12, 0), textured = VxGetRenderCount(1, 20, 3);
  EXPECT_GT(flat + textured, 0u);
  VxResetRenderCounts();
  draw(5);
  EXPECT_EQ(VxGetRenderCount(1, 12, 0), flat);
  EXPECT_EQ(VxGetRenderCount(1, 20, 3), textured);
  EXPECT_FALSE(VxSetDrawThreads(0));
  EXPECT_FALSE(VxSetDrawThreads(9));
  EXPECT_EQ(VxGetDrawThreads(), 5);
  VxShutdown();
  VxInitialize(nullptr);
  EXPECT_GE(VxGetDrawThreads(), 1);
  EXPECT_LE(VxGetDrawThreads(), 8);
}

}  // namespace
