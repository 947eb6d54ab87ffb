// A model's look chooses how the real driver draws it: each family of model script reaches its
// render-mode slot and triangle handler position in both banks and puts pixels in the window,
// and the looks differ from one another on screen.
#include <cmath>
#include <filesystem>
#include <set>
#include <sstream>

#include "tests/engine/render_fixture.h"
#include "tools/vxview/png.h"

namespace {

// Two faces folded toward the camera (at -z), sharing their middle edge, so that vertex
// normals differ from face normals and the depth changes across each face.
std::string fold(const std::string& look, const std::string& texture, float opacity = 1) {
  std::ostringstream s;
  s << "clumpbegin\n" << look << "\n";
  if (!texture.empty()) s << "texture " << texture << "\n";
  if (opacity < 1) s << "opacity " << opacity << "\n";
  s << "vertex -1 -1 0.5 uv 0 1\nvertex 0 -1 -0.5 uv 0.5 1\nvertex 1 -1 0.5 uv 1 1\n"
       "vertex -1 1 0.5 uv 0 0\nvertex 0 1 -0.5 uv 0.5 0\nvertex 1 1 0.5 uv 1 0\n"
       "quad 4 5 2 1\nquad 5 6 3 2\nclumpend\n";
  return s.str();
}

// A picture of bands and steps, so that shading, mapping and dither all show.
std::string picture_bmp(int side) {
  std::vector<unsigned char> px((size_t)side * side * 3);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      unsigned char* p = &px[((size_t)y * side + x) * 3];
      bool band = (x * 4 / side + y * 4 / side) % 2;
      p[0] = (unsigned char)(x * 255 / side), p[1] = band ? 220 : 40, p[2] = (unsigned char)(y * 255 / side);
    }
  return make_bmp(side, side, 24, px);
}

struct Family {
  const char* name;
  const char* look;
  const char* texture;  // "" untextured
  float opacity;
  int slot, position;
};

const Family kFamilies[] = {
    {"points", "geometry points", "", 1, 0, 0},
    {"points smooth", "geometry points\nshading smooth", "", 1, 1, 0},
    {"outline", "geometry outline", "", 1, 4, 0},
    {"outline smooth", "geometry outline\nshading smooth", "", 1, 5, 0},
    {"polyline", "geometry polyline", "", 1, 8, 0},
    {"polyline smooth", "geometry polyline\nshading smooth", "", 1, 9, 0},
    {"flat", "", "", 1, 12, 0},
    {"smooth", "shading smooth", "", 1, 13, 0},
    {"flat stipple", "", "", 0.5f, 14, 0},
    {"smooth stipple", "shading smooth", "", 0.5f, 15, 0},
    {"textured", "", "picture", 1, 20, 3},
    {"unlit", "lighting unlit", "picture", 1, 20, 2},
    {"affine", "mapping affine", "picture", 1, 20, 1},
    {"affine unlit", "mapping affine\nlighting unlit", "picture", 1, 20, 0},
    {"dither affine", "mapping affine\ndither on", "picture", 1, 20, 5},
    {"dither affine unlit", "mapping affine\ndither on\nlighting unlit", "picture", 1, 20, 4},
    {"dither", "dither on", "picture", 1, 20, 7},
    {"dither unlit", "dither on\nlighting unlit", "picture", 1, 20, 6},
    {"small", "", "tiny", 1, 20, 11},
    {"small affine dither", "mapping affine\ndither on", "tiny", 1, 20, 13},
    {"textured smooth", "shading smooth", "picture", 1, 21, 3},
    {"textured smooth dither", "shading smooth\ndither on", "picture", 1, 21, 7},
    {"textured stipple", "", "picture", 0.5f, 22, 3},
    {"textured smooth stipple", "shading smooth", "picture", 0.5f, 23, 3},
};

class RenderFamilies : public RenderTest {
 public:
  void SetUp() override {
    RenderTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(write("picture.bmp", picture_bmp(32)));
    ASSERT_NO_FATAL_FAILURE(write("tiny.bmp", picture_bmp(8)));
    VxSetSearchPath(dir_.string().c_str(), 1);
  }
  // Draws a script in the window through the real driver; the camera's pixels come back.
  std::vector<uint32_t> draw(const std::string& script, bool depth_buffer) {
    std::vector<uint32_t> out;
    if (!window && !show_window(64, 48)) return out;
    VxCamera* cam = camera(64, 48, {0, 0, -3.5f}, {0, 0, 0});
    VxSetCameraWindow(cam, window);
    VxSetCameraBackColor(cam, 0, 0, 0);
    VxDeviceControl(7, depth_buffer ? 1 : 0, nullptr, 0);
    VxScene* scene = VxCreateScene();
    VxAddLightToScene(scene, VxCreateLight(1, -0.8f, -0.5f, 0.4f, 1.0f));
    VxClump* c = VxReadClumpFromMemory(script.data(), script.size());
    EXPECT_NE(c, nullptr) << VxGetError() << "\n" << script;
    if (!c) return out;
    VxAddClumpToScene(scene, c);
    VxResetRenderCounts();
    EXPECT_TRUE(VxBeginCameraUpdate(cam) && VxRenderScene(scene) && VxEndCameraUpdate(cam));
    GdiDc* dc = gdi_get_dc(window);
    EXPECT_TRUE(VxShowCameraImage(cam, dc));
    gdi_release_dc(window, dc);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) out.push_back(canvas->pixel(x, y));
    VxDestroyScene(scene);
    VxDestroyCamera(cam);
    return out;
  }
  static size_t drawn(const std::vector<uint32_t>& px) {
    size_t n = 0;
    for (uint32_t p : px) n += p != px[0];  // the corner shows the back colour
    return n;
  }
};

TEST_F(RenderFamilies, EveryFamilyReachesItsSlotAndHandlerInBothBanks) {
  ASSERT_TRUE(start(2));
  std::set<int> groups, slots;
  for (int bank = 0; bank < 2; ++bank)
    for (const Family& f : kFamilies) {
      SCOPED_TRACE(std::string(f.name) + (bank ? " with the depth buffer" : ""));
      std::vector<uint32_t> px = draw(fold(f.look, f.texture, f.opacity), bank == 1);
      ASSERT_FALSE(px.empty());
      unsigned mine = VxGetRenderCount(bank, f.slot, f.position), all = 0;
      for (int b = 0; b < VX_RENDER_BANKS; ++b)
        for (int s = 0; s < VX_RENDER_SLOTS; ++s)
          for (int p = 0; p < VX_RENDER_POSITIONS; ++p) all += VxGetRenderCount(b, s, p);
      EXPECT_EQ(mine, 2u);  // both faces, through that slot and handler only
      EXPECT_EQ(all, mine);
      EXPECT_GT(drawn(px), f.slot < 4 ? 0u : 20u);  // the driver's handler put pixels down
      slots.insert(f.slot);
      if (f.slot >= 20) groups.insert((f.slot - 20) * 2 + bank);
    }
  EXPECT_EQ(slots.size(), 14u);
  EXPECT_EQ(groups.size(), 8u);
}

TEST_F(RenderFamilies, LooksDifferOnScreen) {
  ASSERT_TRUE(start(2));
  auto picture = [&](const char* look, const char* texture, float opacity = 1) {
    return draw(fold(look, texture, opacity), false);
  };
  // Pairs that differ in one choice each must not draw the same picture.
  const std::vector<uint32_t> flat = picture("", ""), smooth = picture("shading smooth", "");
  EXPECT_NE(flat, smooth);
  EXPECT_NE(flat, picture("", "", 0.5f));
  const std::vector<uint32_t> textured = picture("", "picture");
  EXPECT_NE(textured, picture("lighting unlit", "picture"));
  EXPECT_NE(textured, picture("mapping affine", "picture"));
  EXPECT_NE(textured, picture("dither on", "picture"));
  EXPECT_NE(textured, picture("shading smooth", "picture"));
  EXPECT_NE(picture("mapping affine", "picture"), picture("mapping affine\ndither on", "picture"));
  // Outlines close the shape, polylines leave its last edge open, points show the corners.
  const std::vector<uint32_t> outline = picture("geometry outline", ""), polyline = picture("geometry polyline", "");
  EXPECT_GT(drawn(outline), drawn(polyline));
  EXPECT_LT(drawn(picture("geometry points", "")), drawn(polyline));
  EXPECT_LT(drawn(outline), drawn(flat));
  // Smooth shading blends across the shared edge: more distinct shades than two flat faces.
  std::set<uint32_t> flat_shades(flat.begin(), flat.end()), smooth_shades(smooth.begin(), smooth.end());
  EXPECT_GT(smooth_shades.size(), flat_shades.size());
}

TEST_F(RenderFamilies, LinesCrossingTheFrameEdgeAreCutNotDropped) {
  ASSERT_TRUE(start(2));
  // A wide outline reaching past both sides of the frame: its visible edges still show.
  std::string wide = "clumpbegin\ngeometry outline\nvertex -9 -1 0\nvertex 9 -1 0\nvertex 9 1 0\nvertex -9 1 0\n"
                     "quad 4 3 2 1\nclumpend\n";
  std::vector<uint32_t> px = draw(wide, false);
  ASSERT_FALSE(px.empty());
  EXPECT_GT(drawn(px), 64u);  // the top and bottom edges run across the frame
  EXPECT_GT(VxGetRenderCount(0, 8, 0), 0u);  // as open pieces
  EXPECT_EQ(VxGetRenderCount(0, 4, 0), 0u);
  EXPECT_EQ(gdi_canary_faults(), 0);
}

// vxview's picture of each family matches its reviewed golden image, drawn with the depth
// buffer or without.
TEST_F(RenderFamilies, VxviewShowsEachFamilyAsReviewed) {
  const std::string bin = std::getenv("TESSEL_BINARY_DIR") ? std::getenv("TESSEL_BINARY_DIR") : TESSEL_BINARY_DIR;
  const std::string src = std::getenv("TESSEL_SOURCE_DIR") ? std::getenv("TESSEL_SOURCE_DIR") : TESSEL_SOURCE_DIR;
  for (const Family& f : kFamilies) {
    std::string name = std::string("family-") + f.name;
    for (char& c : name)
      if (c == ' ') c = '-';
    SCOPED_TRACE(name);
    ASSERT_NO_FATAL_FAILURE(write(name + ".vxx", fold(f.look, f.texture, f.opacity)));
    std::vector<uint8_t> pictures[2];
    for (int bank = 0; bank < 2; ++bank) {
      std::string out = path(name + (bank ? "-z" : "") + ".png");
      std::string cmd = "'" + bin + "/tools/vxview/vxview' -m 2 " + (bank ? "-z " : "") + "-s 32 24 -e 0 0 -3.5 -b 0 0 0 -t '" +
                        dir_.string() + "' -o '" + out + "' '" + path(name + ".vxx") + "'";
      ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
      int w = 0, h = 0;
      ASSERT_TRUE(vxview::png_read(out, w, h, pictures[bank]));
      ASSERT_EQ(w * h, 32 * 24);
    }
    EXPECT_EQ(pictures[0], pictures[1]) << "the depth-buffered handlers draw another picture";
    int gw = 0, gh = 0;
    std::vector<uint8_t> golden;
    const std::string golden_path = src + "/tests/engine/golden/" + name + ".png";
    if (!vxview::png_read(golden_path, gw, gh, golden)) {
      std::filesystem::create_directories(bin + "/test-output");
      vxview::png_write(bin + "/test-output/" + name + ".png", 32, 24, pictures[0].data());
      ADD_FAILURE() << "no golden picture " << golden_path << "; review " << bin << "/test-output/" << name << ".png";
      continue;
    }
    EXPECT_EQ(golden, pictures[0]);
  }
}

// A ground of 3 m tiles, each drawn on both sides, as the worlds' ground is made.
std::string ground(const Family& f) {
  std::ostringstream s;
  s << "clumpbegin\n" << f.look << "\n";
  if (*f.texture) s << "texture " << f.texture << "\n";
  for (int i = 0, n = 1; i < 16 * 16; ++i, n += 4) {
    const int x = -24 + 3 * (i % 16), z = -24 + 3 * (i / 16);
    s << "vertex " << x << " 0 " << z << " uv 0 0\nvertex " << x + 3 << " 0 " << z << " uv 1 0\nvertex " << x + 3
      << " 0 " << z + 3 << " uv 1 1\nvertex " << x << " 0 " << z + 3 << " uv 0 1\n"
      << "quad " << n << " " << n + 1 << " " << n + 2 << " " << n + 3 << "\nquad " << n + 3 << " " << n + 2 << " "
      << n + 1 << " " << n << "\n";
  }
  s << "clumpend\n";
  return s.str();
}

// Looking down on the ground, whose tiles reach past every edge of the view: the back colour
// shows nowhere, at the sizes windows come in, in every family that fills polygons.
TEST_F(RenderFamilies, GroundThatCoversTheViewLeavesNoBackColour) {
  ASSERT_TRUE(start(2));
  const int sizes[][2] = {{960, 480}, {1280, 900}, {1001, 555}, {97, 61}};
  for (const Family& f : kFamilies) {
    if (f.slot < 12 || f.opacity < 1) continue;
    VxScene* scene = VxCreateScene();
    VxAddLightToScene(scene, VxCreateLight(1, -0.8f, -0.5f, 0.4f, 1.0f));
    const std::string script = ground(f);
    VxClump* c = VxReadClumpFromMemory(script.data(), script.size());
    ASSERT_NE(c, nullptr) << VxGetError();
    VxAddClumpToScene(scene, c);
    for (const auto& size : sizes) {
      const int w = size[0], h = size[1];
      if (window) window_destroy(window);
      show_window(w, h);
      for (float yaw : {0.0f, 0.5f, 2.2f}) {
        SCOPED_TRACE(std::string(f.name) + " " + std::to_string(w) + "x" + std::to_string(h) + " yaw " +
                     std::to_string(yaw));
        VxCamera* cam = camera(w, h, {0.3f, 1.7f, 0.2f}, {0.3f + std::sin(yaw), 0.1f, 0.2f + std::cos(yaw)});
        VxSetCameraWindow(cam, window);
        VxSetCameraBackColor(cam, 1, 0.5f, 0);  // in no texel of the pictures
        ASSERT_TRUE(VxBeginCameraUpdate(cam) && VxEndCameraUpdate(cam) && show_image(cam, window));
        const uint32_t back = canvas->pixel(0, 0);
        ASSERT_TRUE(VxBeginCameraUpdate(cam) && VxRenderScene(scene) && VxEndCameraUpdate(cam) &&
                    show_image(cam, window));
        int left = 0, right = 0, top = 0, bottom = 0, inside = 0;
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            if (canvas->pixel(x, y) != back) continue;
            left += x == 0, right += x == w - 1, top += y == 0, bottom += y == h - 1;
            inside += x > 0 && x < w - 1 && y > 0 && y < h - 1;
          }
        EXPECT_EQ(left + right + top + bottom + inside, 0)
            << "left " << left << " right " << right << " top " << top << " bottom " << bottom << " inside " << inside;
        VxDestroyCamera(cam);
      }
    }
    VxDestroyScene(scene);
  }
}

}  // namespace
