// Whole frames drawn by the real driver: vxview's pictures against reviewed golden images,
// clipping with nothing written outside the viewport, picking agreeing with what is drawn,
// and the world's handedness on screen.
#include <cstdlib>
#include <filesystem>
#include <set>
#include <fstream>
#include <sstream>

#include "tests/engine/render_fixture.h"
#include "tools/vxview/png.h"

namespace {

std::string binary_dir() {
  const char* env = std::getenv("TESSEL_BINARY_DIR");
  return env && *env ? env : TESSEL_BINARY_DIR;
}
std::string source_dir() {
  const char* env = std::getenv("TESSEL_SOURCE_DIR");
  return env && *env ? env : TESSEL_SOURCE_DIR;
}

const char* kCube =
    "clumpbegin\n"
    "  colour 1 1 1\n"
    "  texture checker\n"
    "  vertex -0.5 -0.5 -0.5 uv 0 1\n  vertex 0.5 -0.5 -0.5 uv 1 1\n"
    "  vertex 0.5 0.5 -0.5 uv 1 0\n  vertex -0.5 0.5 -0.5 uv 0 0\n"
    "  vertex -0.5 -0.5 0.5 uv 1 1\n  vertex 0.5 -0.5 0.5 uv 0 1\n"
    "  vertex 0.5 0.5 0.5 uv 0 0\n  vertex -0.5 0.5 0.5 uv 1 0\n"
    "  quad 1 4 3 2\n  quad 5 6 7 8\n  quad 1 2 6 5\n  quad 4 8 7 3\n  quad 1 5 8 4\n  quad 2 3 7 6\n"
    "clumpend\n";

// A 32 x 32 checker of two colours (24-bit BMP).
std::string checker_bmp() {
  std::vector<unsigned char> px(32 * 32 * 3);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      bool a = ((x / 8) + (y / 8)) % 2;
      unsigned char* p = &px[(y * 32 + x) * 3];
      p[0] = a ? 40 : 20, p[1] = a ? 200 : 60, p[2] = a ? 250 : 200;
    }
  return make_bmp(32, 32, 24, px);
}

std::string flat_model(float r, float g, float b) {
  std::string s = kCube;
  std::ostringstream colour;
  colour << "  colour " << r << " " << g << " " << b << "\n";
  const std::string textured = "  colour 1 1 1\n  texture checker\n";
  s.replace(s.find(textured), textured.size(), colour.str());
  return s;
}

class VxviewImages : public RenderTest, public ::testing::WithParamInterface<int> {
 public:
  // Runs vxview with the arguments; the picture comes back as RGB.
  bool run(const std::string& args, const std::string& out, int& w, int& h, std::vector<uint8_t>& rgb) {
    std::string cmd = "'" + binary_dir() + "/tools/vxview/vxview' -m " + std::to_string(GetParam()) + " -t '" +
                      dir_.string() + "' -o '" + out + "' " + args;
    if (std::system(cmd.c_str()) != 0) return false;
    return vxview::png_read(out, w, h, rgb);
  }
  // Compares with the reviewed picture; a missing one is written beside the build for review.
  void expect_golden(const std::string& name, int w, int h, const std::vector<uint8_t>& rgb) {
    int gw = 0, gh = 0;
    std::vector<uint8_t> golden;
    std::string path = source_dir() + "/tests/engine/golden/" + name + ".png";
    if (!vxview::png_read(path, gw, gh, golden)) {
      std::string candidate = binary_dir() + "/test-output/" + name + ".png";
      std::filesystem::create_directories(binary_dir() + "/test-output");
      vxview::png_write(candidate, w, h, rgb.data());
      FAIL() << "no golden picture " << path << "; review " << candidate;
    }
    ASSERT_EQ(gw, w);
    ASSERT_EQ(gh, h);
    size_t differ = 0;
    for (size_t i = 0; i < rgb.size(); i += 3)
      differ += rgb[i] != golden[i] || rgb[i + 1] != golden[i + 1] || rgb[i + 2] != golden[i + 2];
    EXPECT_EQ(differ, 0u) << name;
  }
  static uint32_t at(const std::vector<uint8_t>& rgb, int w, int x, int y) {
    const uint8_t* p = &rgb[(size_t)(y * w + x) * 3];
    return (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
  }
};

TEST_P(VxviewImages, TexturedLitCube) {
  ASSERT_NO_FATAL_FAILURE(write("checker.bmp", checker_bmp()));
  ASSERT_NO_FATAL_FAILURE(write("cube.vxx", kCube));
  int w, h;
  std::vector<uint8_t> rgb;
  ASSERT_TRUE(run("-s 96 72 -e 2 1.5 -2.5 '" + path("cube.vxx") + "'", path("cube.png"), w, h, rgb));
  ASSERT_EQ(w, 96);
  ASSERT_EQ(h, 72);
  // The back colour (0, 0, 0.7) in the corners, the cube in the middle.
  uint32_t back = at(rgb, w, 0, 0);
  EXPECT_LT(back >> 16, 40u);
  EXPECT_GT(back & 0xFF, 140u);
  EXPECT_EQ(at(rgb, w, 95, 71), back);
  EXPECT_NE(at(rgb, w, 48, 36), back);
  // Both checker colours show, at more than one shade (the faces are lit differently).
  std::set<uint32_t> colours;
  for (size_t i = 0; i < rgb.size(); i += 3) colours.insert((uint32_t)rgb[i] << 16 | rgb[i + 1] << 8 | rgb[i + 2]);
  EXPECT_GE(colours.size(), 5u);
  ASSERT_NO_FATAL_FAILURE(expect_golden("cube", w, h, rgb));  // every output mode shows the same picture
}

TEST_P(VxviewImages, SceneOfModelsWithDepth) {
  ASSERT_NO_FATAL_FAILURE(write("red.vxx", flat_model(0.9f, 0.1f, 0.1f)));
  ASSERT_NO_FATAL_FAILURE(write("green.vxx", flat_model(0.1f, 0.9f, 0.1f)));
  int w, h;
  std::vector<uint8_t> rgb;
  // Looking south from above the north side: green stands behind red, overlapped by it.
  ASSERT_TRUE(run("-s 96 72 -e 0 2 5 -l 0 0 0 '" + path("red.vxx") + "@-0.3,0,0.5' '" + path("green.vxx") +
                      "@0.3,0.3,-1.5'",
                  path("scene.png"), w, h, rgb));
  auto red = [](uint32_t c) { return (c >> 16) > 2 * ((c >> 8) & 0xFF) && (c >> 16) > (c & 0xFF); };
  auto green = [](uint32_t c) { return ((c >> 8) & 0xFF) > 2 * (c >> 16) && ((c >> 8) & 0xFF) > (c & 0xFF); };
  EXPECT_TRUE(red(at(rgb, w, 48, 40)));  // the near red cube is in front
  // Green (at +x, west) shows right of red, as seen looking south, and higher up.
  long gx = 0, gy = 0, gn = 0, rx = 0, ry = 0, rn = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t c = at(rgb, w, x, y);
      if (green(c)) gx += x, gy += y, ++gn;
      if (red(c)) rx += x, ry += y, ++rn;
    }
  ASSERT_GT(gn, 20);
  ASSERT_GT(rn, 100);
  EXPECT_GT(gx / gn, rx / rn + 5);
  EXPECT_LT(gy / gn, ry / rn);
  ASSERT_NO_FATAL_FAILURE(expect_golden("scene", w, h, rgb));
}

TEST_P(VxviewImages, UnreadableModelFailsWithoutAPicture) {
  ASSERT_NO_FATAL_FAILURE(write("bad.vxx", "clumpbegin\n  vertex 1 2\nclumpend\n"));
  int w, h;
  std::vector<uint8_t> rgb;
  EXPECT_FALSE(run("'" + path("bad.vxx") + "'", path("bad.png"), w, h, rgb));
  EXPECT_FALSE(std::filesystem::exists(path("bad.png")));
}

INSTANTIATE_TEST_SUITE_P(OutputModes, VxviewImages, ::testing::Values(1, 2, 3));

// ---- frames drawn in-process ---------------------------------------------------------------

class DrawnFrames : public RenderTest, public ::testing::WithParamInterface<int> {};

// Models crossing every side of the view volume and the near plane, drawn into a viewport
// inside a larger camera inside a larger window: nothing changes outside the viewport.
TEST_P(DrawnFrames, ClippedModelsWriteNothingOutsideTheViewport) {
  ASSERT_TRUE(start(GetParam()));
  PlatformWindow* w = show_window(140, 110);
  VxCamera* cam = camera(100, 80, {0, 0, 0}, {0, 0, 1});
  VxSetCameraWindow(cam, w);
  VxScene* s = VxCreateScene();
  VxAddLightToScene(s, VxCreateLight(1, -0.8f, -0.5f, -0.2f, 1.0f));
  VxClump* room = make_cube(4, 0, 0, 0.5f);
  VxMaterial* m = VxCreateMaterial();
  VxSetMaterialMode(m, VX_MATERIAL_TWO_SIDED);
  VxSetMaterialColor(m, 0.9f, 0.8f, 0.1f);
  for (int i = 0; i < VxGetClumpNumPolygons(room); ++i) VxSetPolygonMaterial(VxGetClumpPolygon(room, i), m);
  VxAddClumpToScene(s, room);
  // A textured wall wider than the view, and a textured cube the near plane cuts through.
  ASSERT_NO_FATAL_FAILURE(write("checker.bmp", checker_bmp()));
  VxSetSearchPath(dir_.string().c_str(), 1);
  VxTexture* checker = VxReadNamedTexture("checker");
  ASSERT_NE(checker, nullptr);
  VxClump* wall = make_square(50, 0, 0, 3);
  VxSetPolygonTexture(VxGetClumpPolygon(wall, 0), checker);
  VxAddClumpToScene(s, wall);
  VxAddClumpToScene(s, make_cube(1, 0.3f, 0.2f, 0.3f, checker));
  // First frame: the whole camera in black.
  VxSetCameraBackColor(cam, 0, 0, 0);
  ASSERT_TRUE(VxBeginCameraUpdate(cam));
  ASSERT_TRUE(VxEndCameraUpdate(cam));
  // Second: a viewport inside it.
  ASSERT_TRUE(VxSetCameraViewport(cam, 12, 9, 70, 50));
  VxSetCameraBackColor(cam, 1, 1, 1);
  ASSERT_TRUE(VxBeginCameraUpdate(cam));
  ASSERT_TRUE(VxRenderScene(s));
  ASSERT_TRUE(VxEndCameraUpdate(cam));
  ASSERT_TRUE(VxSetCameraViewport(cam, 0, 0, 100, 80));
  ASSERT_TRUE(show_image(cam, w));
  int drawn = 0;
  for (int y = 0; y < 110; ++y)
    for (int x = 0; x < 140; ++x) {
      uint32_t p = canvas->pixel(x, y);
      bool in_camera = x < 100 && y < 80;
      bool in_viewport = x >= 12 && x < 82 && y >= 9 && y < 59;
      if (!in_camera)
        ASSERT_EQ(p, 0x123456u) << x << "," << y;
      else if (!in_viewport)
        ASSERT_EQ(p, 0u) << x << "," << y;
      else
        drawn += p != 0;
    }
  EXPECT_EQ(drawn, 70 * 50);  // the room fills the viewport
  EXPECT_EQ(gdi_canary_faults(), 0);
}

INSTANTIATE_TEST_SUITE_P(OutputModes, DrawnFrames, ::testing::Values(1, 2, 3));

// What the picture shows and what a pick finds agree, pixel by pixel, but for edges.
TEST_F(RenderTest, PickAgreesWithThePicture) {
  ASSERT_TRUE(start(1));
  VxScene* s = VxCreateScene();
  VxCamera* cam = camera(64, 48, {2, 1.5f, -3}, {0, 0, 0});
  VxSetCameraBackColor(cam, 0, 0, 0);
  VxClump* body = make_cube(1, 0, 0, 0, nullptr, 0.8f, 0.1f, 0.1f);
  VxClump* arm = make_cube(0.4f, 0, 0, 0, nullptr, 0.1f, 0.8f, 0.1f);
  VxTranslateMatrix(VxScratchMatrix(), 0.9f, 0.3f, 0, VX_REPLACE);
  VxTransformClump(arm, VxScratchMatrix(), VX_REPLACE);
  VxAddChildToClump(body, arm);
  VxAddClumpToScene(s, body);
  ASSERT_TRUE(VxBeginCameraUpdate(cam));
  ASSERT_TRUE(VxRenderScene(s));
  ASSERT_TRUE(VxEndCameraUpdate(cam));
  VxRaster* img = (VxRaster*)VxGetCameraImage(cam);
  const unsigned char* px = VxGetRasterPixels(img);
  const unsigned char* pal = VxGetRasterPalette(img);
  int background = px[0];
  int hits = 0, mismatches = 0, arm_hits = 0, arm_not_green = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      VxPickRecord pick{};
      ASSERT_TRUE(VxPickScene(s, x, y, cam, &pick));
      bool shown = px[y * VxGetRasterStride(img) + x] != background;
      bool hit = pick.type == VX_PICK_POLYGON;
      mismatches += shown != hit;
      if (!hit) continue;
      ++hits;
      EXPECT_EQ(VxGetPolygonClump((VxPolygon*)pick.object), body);
      bool in_arm = false;
      for (int i = 0; i < VxGetClumpNumPolygons(arm); ++i) in_arm |= VxGetClumpPolygon(arm, i) == pick.object;
      if (in_arm && shown) {
        ++arm_hits;
        int v = px[y * VxGetRasterStride(img) + x];
        arm_not_green += pal[v * 4 + 1] <= pal[v * 4 + 2];  // palette: blue, green, red
      }
    }
  VxReleaseRasterPixels(img);
  EXPECT_GT(hits, 200);
  EXPECT_GT(arm_hits, 10);
  EXPECT_LT(arm_not_green, arm_hits / 4);  // where the arm is picked, the arm is shown
  EXPECT_LT(mismatches, hits / 5);  // only along the outlines
}

// A user at the origin looking north: an object at +x (west) is on the left of the picture.
TEST_F(RenderTest, WestIsOnTheLeftOfThePicture) {
  ASSERT_TRUE(start(1));
  VxCamera* cam = camera(64, 48, {0, 0, 0}, {0, 0, 1});
  VxSetCameraBackColor(cam, 0, 0, 0);
  VxClump* west = make_square(0.6f, 1, 0, 4);
  ASSERT_TRUE(VxBeginCameraUpdate(cam));
  ASSERT_TRUE(VxRenderClump(west));
  ASSERT_TRUE(VxEndCameraUpdate(cam));
  VxRaster* img = (VxRaster*)VxGetCameraImage(cam);
  const unsigned char* px = VxGetRasterPixels(img);
  int left = 0, right = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x)
      if (px[y * VxGetRasterStride(img) + x] != px[0]) (x < 32 ? left : right)++;
  VxReleaseRasterPixels(img);
  EXPECT_GT(left, 20);
  EXPECT_EQ(right, 0);
}

}  // namespace
