// The demo world's VRML walker, made by demo/world/make, walked by its own walk sequence and
// drawn through the real display driver: the legs move from frame to frame, the head stays,
// and from every side it wears its red shirt and blue trousers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "Parser/aglib.h"
#include "Zembrel/Pose/Anim/anim.h"
#include "Zembrel/Pose/Anim/registry.h"
#include "Zembrel/Pose/Anim/seqcache.h"
#include "tests/engine/render_fixture.h"

namespace {

VxClump* g_walker = nullptr;
int g_refs = 0;

void* walker_reference(const char*, const char* file, void*) {
  if (std::string(file) != "walker.wrl") return nullptr;
  ++g_refs;
  return &g_walker;
}
void walker_dereference(void*) { --g_refs; }
int walker_bottom(void*, float* bottom) {
  *bottom = 0;
  return 1;
}
VxClump* walker_clump(void*) { return g_walker; }

class DemoWalker : public RenderTest {
 public:
  void SetUp() override {
    RenderTest::SetUp();
    // The demo's objects, unpacked where the animation library looks for them.
    const std::string src = std::getenv("TESSEL_SOURCE_DIR") ? std::getenv("TESSEL_SOURCE_DIR") : TESSEL_SOURCE_DIR;
    const std::string made = path("objects");
    std::string cmd = "python3 '" + src + "/demo/world/make' '" + made + "' && cd '" + dir_.string() +
                      "' && mkdir -p avatars seqs && unzip -qo '" + made + "/demo/avatars/avatars.zip' -d avatars && unzip -qo '" +
                      made + "/demo/avatars/walker.zip' -d avatars && unzip -qo '" + made + "/demo/seqs/walk.zip' -d seqs" +
                      " && mkdir -p textures && for t in shirt trousers skin; do djpeg -bmp -outfile textures/$t.bmp '" +
                      made + "/demo/textures/'$t.jpg; done";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    // Its textures as the texture module leaves them: pictures in a folder of the search path.
    ASSERT_TRUE(VxSetSearchPath(path("textures").c_str(), 1));
    AgGeometryNode* tree = nullptr;
    AgInterpolatorData* interp = nullptr;
    ASSERT_EQ(AgLoadVrmlFile(path("avatars/walker.wrl").c_str(), 3, &tree, &interp), 0) << AgGetLastError();
    delete interp;
    g_walker = tree->BuildClumps(nullptr, 0, 0);
    AgDeleteGeometryTree(tree);
    ASSERT_NE(g_walker, nullptr);
    AnimCallbacks cb{};
    cb.model_reference = walker_reference;
    cb.model_dereference = walker_dereference;
    cb.model_get_bottom = walker_bottom;
    cb.model_clump = walker_clump;
    AnimSetCallbacks(&cb);
    AnimReset(dir_.string().c_str());
    AnimLoadRegistry(path("avatars/avatars.dat").c_str());
  }
  void TearDown() override {
    SequenceCache::Get()->Clear();
    AvatarTypeUsage::Get()->Clear();
    AnimRegistry::Get()->Clear();
    AnimSetCallbacks(nullptr);
    if (g_walker) VxDestroyClump(g_walker);
    g_walker = nullptr;
    RenderTest::TearDown();
  }
  // The walker seen from its side, held at the origin so that only its pose changes.
  std::vector<uint32_t> picture(VxCamera* cam, VxScene* scene) {
    VxMatrix* m = VxCreateMatrix();
    VxGetClumpMatrix(g_walker, m);
    VxSetMatrixElement(m, 3, 0, 0), VxSetMatrixElement(m, 3, 1, 0), VxSetMatrixElement(m, 3, 2, 0);
    VxTransformClump(g_walker, m, VX_REPLACE);
    VxDestroyMatrix(m);
    EXPECT_TRUE(VxBeginCameraUpdate(cam) && VxRenderScene(scene) && VxEndCameraUpdate(cam));
    GdiDc* dc = gdi_get_dc(window);
    EXPECT_TRUE(VxShowCameraImage(cam, dc));
    gdi_release_dc(window, dc);
    std::vector<uint32_t> px;
    for (int y = 0; y < 80; ++y)
      for (int x = 0; x < 60; ++x) px.push_back(canvas->pixel(x, y));
    return px;
  }
  static size_t differ(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, int y0, int y1) {
    size_t n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < 60; ++x) n += a[(size_t)(y * 60 + x)] != b[(size_t)(y * 60 + x)];
    return n;
  }
  static size_t drawn(const std::vector<uint32_t>& a, int y0, int y1) {
    size_t n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < 60; ++x) n += a[(size_t)(y * 60 + x)] != a[0];
    return n;
  }
  int owner = 0;
};

TEST_F(DemoWalker, LegsSwingAsItWalksAndTheHeadStays) {
  ASSERT_TRUE(start(2));
  show_window(60, 80);
  // Looking at the walker's left side from 0.35 away, the whole figure (0.2 high) in view.
  VxCamera* cam = camera(60, 80, {0.35f, 0.11f, 0}, {0, 0.11f, 0});
  ASSERT_NE(cam, nullptr);
  VxSetCameraWindow(cam, window);
  VxSetCameraBackColor(cam, 0, 0, 0.7f);
  VxScene* scene = VxCreateScene();
  VxAddLightToScene(scene, VxCreateLight(1, -0.8f, -0.5f, -0.2f, 1.0f));
  VxAddClumpToScene(scene, g_walker);

  AnimAvatar* a = AnimCreateAvatar(&owner, 0, 1);
  ASSERT_NE(a, nullptr);
  AnimSetAvatarState(a, 0, 0, 0, 0, 1000, 0, 0, 0);
  AnimUpdateAvatar(a, 1000);
  EXPECT_EQ(g_refs, 1);  // the type's model is the demo's walker
  std::vector<std::vector<uint32_t>> frames;
  float z = 0;
  for (uint32_t t = 1100; t <= 2300; t += 100) {  // walking north, a few steps
    z += 0.02f;
    AnimSetAvatarState(a, 0, 0, z, 0, t, 0, 0, 0);
    AnimUpdateAvatar(a, t);
    if (t >= 1500 && t % 300 == 0) frames.push_back(picture(cam, scene));
  }
  ASSERT_GE(frames.size(), 2u);
  // The figure's rows: the head is its top sixth, the legs its lower half.
  int top = 80, bottom = -1;
  for (int y = 0; y < 80; ++y)
    if (drawn(frames[0], y, y + 1)) top = std::min(top, y), bottom = y;
  ASSERT_GT(bottom - top, 30) << "the walker is not in view";
  const int head_end = top + (bottom - top) / 6, legs_begin = top + (bottom - top) / 2;
  EXPECT_GT(drawn(frames[0], top, head_end), 10u);
  EXPECT_GT(drawn(frames[0], legs_begin, bottom + 1), 40u);
  size_t legs_moved = 0;
  for (size_t i = 1; i < frames.size(); ++i) {
    legs_moved += differ(frames[i - 1], frames[i], legs_begin, bottom + 1) > 10;
    EXPECT_EQ(differ(frames[i - 1], frames[i], top, head_end), 0u) << "the head moved between frames " << i - 1 << " and " << i;
  }
  EXPECT_EQ(legs_moved, frames.size() - 1);

  // Standing, seen from each side, its shirt shows red and its trousers blue: on the faces
  // turned from the light (it comes from the west and north, and above) as well.
  AnimSetAvatarState(a, 0, 0, z, 0, 5000, 0, 0, 0);
  AnimUpdateAvatar(a, 5000);
  AnimUpdateAvatar(a, 6000);
  VxDestroyCamera(cam);
  const struct {
    const char* name;
    VxVector eye;
  } sides[] = {{"south", {0, 0.11f, -0.35f}}, {"west", {0.35f, 0.11f, 0}}, {"north", {0, 0.11f, 0.35f}},
               {"east", {-0.35f, 0.11f, 0}}};
  // One channel plainly above the dark end and above twice each of the others.
  auto hue = [](uint32_t p, int channel) {
    const int c[3] = {int(p >> 16 & 0xFF), int(p >> 8 & 0xFF), int(p & 0xFF)};
    return c[channel] >= 48 && c[channel] >= 2 * c[(channel + 1) % 3] && c[channel] >= 2 * c[(channel + 2) % 3];
  };
  for (const auto& side : sides) {
    VxCamera* from = camera(60, 80, side.eye, {0, 0.11f, 0});
    ASSERT_NE(from, nullptr);
    VxSetCameraWindow(from, window);
    VxSetCameraBackColor(from, 0.5f, 0.5f, 0.5f);
    const std::vector<uint32_t> seen = picture(from, scene);
    EXPECT_GT(std::count_if(seen.begin(), seen.end(), [&](uint32_t p) { return hue(p, 0); }), 20) << side.name;
    EXPECT_GT(std::count_if(seen.begin(), seen.end(), [&](uint32_t p) { return hue(p, 2); }), 20) << side.name;
    VxDestroyCamera(from);
  }
  AnimDestroyAvatar(a);
  VxRemoveClumpFromScene(g_walker);
  VxDestroyScene(scene);
}

}  // namespace
