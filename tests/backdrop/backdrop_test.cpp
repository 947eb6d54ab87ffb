// The backdrop picture from the object server to a drawn frame, and the ground following
// the user, on the real engine with the 8-bit plug-in open.
#include <cmath>
#include <string>

#include "client/cache/chunk.h"
#include "client/scene/backdrop.h"
#include "client/scene/model.h"
#include "client/scene/self.h"
#include "client/servers/world.h"
#include "tests/backdrop/backdrop_fixture.h"
#include "platform/surface.h"
#include "tests/scene/scene_fixture.h"

using backdrop_test::make_jpeg;
using backdrop_test::Rgb;
using backdrop_test::Transfers;

namespace {

const Rgb kRed{230, 20, 20}, kBlue{20, 20, 230}, kGreen{20, 220, 20}, kWhite{250, 250, 250};

CameraSelf me;
void self_source(CameraSelf* out) { *out = me; }

bool near(Rgb a, Rgb b) {
  return std::abs(a.r - b.r) < 60 && std::abs(a.g - b.g) < 60 && std::abs(a.b - b.b) < 60;
}
std::string str(Rgb c) {
  return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
}

// Ground cells are pure arithmetic.
TEST(GroundCell, KnownAnswers) {
  EXPECT_EQ(ground_cell(2.9), 0);
  EXPECT_EQ(ground_cell(3.0), 1);
  EXPECT_EQ(ground_cell(8.99), 1);
  EXPECT_EQ(ground_cell(9.0), 2);
  EXPECT_EQ(ground_cell(0.0), 0);
  EXPECT_EQ(ground_cell(-0.5), 0);
  EXPECT_EQ(ground_cell(-3.0), 0);
  EXPECT_EQ(ground_cell(-3.5), -1);
  EXPECT_EQ(ground_cell(-9.0), -1);
  EXPECT_EQ(ground_cell(-9.5), -2);
  // Far outside the world the cell stays defined.
  EXPECT_EQ(ground_cell(1e12), (32767 + 3) / 6);
  EXPECT_EQ(ground_cell(-1e12), (-32768 - 2) / 6);
  EXPECT_EQ(ground_cell(std::nan("")), 0);
}

class Backdrop : public SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    me = CameraSelf{};
    ASSERT_NO_FATAL_FAILURE(link_driver("VXDL8D21"));
    ASSERT_NO_FATAL_FAILURE(install("[general]\n[performance]\npanning=1\n"));
    ASSERT_NO_FATAL_FAILURE(detect(8));
    ASSERT_EQ(driver_init(), 1);
    camera_set_self_source(self_source);
    ASSERT_EQ(camera_init(), 1);
    ASSERT_NE(scene_init(), nullptr);
    ASSERT_EQ(viewport_init(), 1);  // frames are drawn for its window
    camera_set_color(0, 0, 0);
    static int tree = 0;
    ASSERT_NO_FATAL_FAILURE(transfers_.start(dir_.path(), "bd" + std::to_string(++tree)));
    ASSERT_EQ(backdrop_init(), 0);
  }
  void TearDown() override {
    backdrop_clear();
    ground_clear();
    model_reset();
    model_term();
    transfers_.stop();
    camera_set_self_source(nullptr);
    SceneTest::TearDown();
  }
  std::string bmp(const std::string& name) {
    return std::string(download_get_path()) + "/textures/" + name + ".bmp";
  }
  // Points the main and half cameras along (dx, 0, dz) from where they stand.
  static void look(VxReal dx, VxReal dz) {
    for (VxCamera* c : {camera_get_main(), camera_get_half()}) {
      if (!c) continue;
      VxVector p{0, 0, 0};
      VxGetCameraPosition(c, &p);
      VxPointCameraAt(c, p.x + dx, p.y, p.z + dz);
      VxSetCameraLookUp(c, 0, 1, 0);
    }
  }
  // Draws one frame as the task table does and gives the camera that drew it.
  static VxCamera* draw() {
    backdrop_update();
    camera_begin_update();
    scene_update();
    camera_end_update();
    return camera_using_half() ? camera_get_half() : camera_get_main();
  }
  // The colour of a pixel (in the camera's own coordinates) of the camera's last frame, as
  // the viewport shows it: the half-size camera's frame is shown at twice its size.
  static Rgb pixel(VxCamera* cam, int x, int y) {
    int vx = 0, vy = 0, w = 0, h = 0;
    VxGetCameraViewport(camera_get_main(), &vx, &vy, &w, &h);
    viewport_size(0, 0, w + 2 * VIEWPORT_EDGE, h + 2 * VIEWPORT_EDGE);
    if (cam == camera_get_half()) x *= 2, y *= 2;
    viewport_update();
    auto* view = dynamic_cast<CanvasViewport*>(viewport_surface());
    if (!view || !view->canvas()) {
      ADD_FAILURE() << "no viewport canvas";
      return Rgb{-1000, -1000, -1000};
    }
    uint32_t rgb = view->canvas()->pixel(x, y);
    return Rgb{static_cast<int>(rgb >> 16 & 255), static_cast<int>(rgb >> 8 & 255), static_cast<int>(rgb & 255)};
  }
  void show_sky() {
    transfers_.put("textures/sky.jpg", make_jpeg(128, 64, kRed, kBlue));
    backdrop_set("sky", 3);
    ASSERT_TRUE(Transfers::run_until([] { return backdrop_raster() != nullptr; }));
  }

  Transfers transfers_;
};

TEST_F(Backdrop, ServedJpegBecomesTheDrawnBackdrop) {
  // Pictures lower than half the device's texture side would be made square textures: a
  // backdrop is a wide strip.
  std::string jpeg = make_jpeg(128, 64, kRed, kBlue);
  ASSERT_FALSE(jpeg.empty()) << "cjpeg";
  transfers_.put("textures/sky.jpg", jpeg);
  // Applying the world's attributes sets it through the world connection's hook.
  ASSERT_NE(world_hook.backdrop_set, nullptr);
  world_hook.backdrop_set("sky", 3);
  EXPECT_EQ(backdrop_raster(), nullptr) << "nothing before the download";
  ASSERT_TRUE(Transfers::run_until([] { return backdrop_raster() != nullptr; }));
  EXPECT_TRUE(file_exists(bmp("sky").c_str()));
  EXPECT_EQ(VxGetRasterWidth(backdrop_raster()), 128);
  EXPECT_EQ(VxGetRasterHeight(backdrop_raster()), 64);
  ASSERT_NE(backdrop_half_raster(), nullptr);
  EXPECT_EQ(VxGetRasterWidth(backdrop_half_raster()), 64);
  EXPECT_EQ(VxGetRasterHeight(backdrop_half_raster()), 32);

  look(0, 1);
  VxCamera* cam = draw();
  ASSERT_EQ(cam, camera_get_main());
  // Level view, picture 64 high in a view 116 high: rows 58 - 57.6 = 0 .. 63.
  EXPECT_TRUE(near(pixel(cam, 10, 30), kRed)) << str(pixel(cam, 10, 30));
  EXPECT_TRUE(near(pixel(cam, 100, 30), kBlue)) << str(pixel(cam, 100, 30));
  EXPECT_TRUE(near(pixel(cam, 140, 30), kRed)) << "the picture repeats sideways";
  EXPECT_TRUE(near(pixel(cam, 10, 0), kRed));
  EXPECT_TRUE(near(pixel(cam, 10, 70), Rgb{0, 0, 0})) << "below it the back colour";
}

TEST_F(Backdrop, HeadingAndPitchScrollThePicture) {
  ASSERT_NO_FATAL_FAILURE(show_sky());
  look(0, 1);
  VxCamera* cam = draw();
  EXPECT_TRUE(near(pixel(cam, 10, 30), kRed));
  EXPECT_TRUE(near(pixel(cam, 70, 30), kBlue));
  // Toward -x: offset -3/4 of 128, so screen column x shows picture column (x + 96) mod 128.
  look(-1, 0);
  cam = draw();
  EXPECT_TRUE(near(pixel(cam, 10, 30), kBlue)) << str(pixel(cam, 10, 30));
  EXPECT_TRUE(near(pixel(cam, 40, 30), kRed)) << str(pixel(cam, 40, 30));
  // Toward +x: a quarter of the picture, column (x + 32) mod 128.
  look(1, 0);
  cam = draw();
  EXPECT_TRUE(near(pixel(cam, 10, 30), kRed));
  EXPECT_TRUE(near(pixel(cam, 40, 30), kBlue)) << str(pixel(cam, 40, 30));
  // Pitched up, the picture slides down the view.
  EXPECT_TRUE(near(pixel(cam, 10, 75), Rgb{0, 0, 0}));
  for (VxCamera* c : {camera_get_main(), camera_get_half()}) {
    VxVector p{0, 0, 0};
    VxGetCameraPosition(c, &p);
    VxPointCameraAt(c, p.x + 1, p.y + 0.3f, p.z);
  }
  cam = draw();
  EXPECT_TRUE(near(pixel(cam, 10, 75), kRed)) << str(pixel(cam, 10, 75));
  EXPECT_TRUE(near(pixel(cam, 10, 2), Rgb{0, 0, 0})) << str(pixel(cam, 10, 2));
  // Straight up or down has no heading and no finite pitch: nothing breaks.
  for (VxReal dy : {1.0f, -1.0f}) {
    VxVector p{0, 0, 0};
    VxGetCameraPosition(camera_get_main(), &p);
    VxPointCameraAt(camera_get_main(), p.x, p.y + dy, p.z + 1e-7f);
    draw();
  }
}

TEST_F(Backdrop, HalfSizeCameraGetsTheHalfPictureAndHalfOffsets) {
  ASSERT_NO_FATAL_FAILURE(show_sky());
  me.turning = true;  // panning with [performance] panning=1 uses the half-size camera
  look(0, 1);
  VxCamera* cam = draw();
  ASSERT_EQ(cam, camera_get_half());
  // Half picture 64 x 32 from row 0.
  EXPECT_TRUE(near(pixel(cam, 5, 20), kRed)) << str(pixel(cam, 5, 20));
  EXPECT_TRUE(near(pixel(cam, 40, 20), kBlue)) << str(pixel(cam, 40, 20));
  EXPECT_TRUE(near(pixel(cam, 5, 40), Rgb{0, 0, 0})) << "32 rows only";
  look(-1, 0);
  cam = draw();
  // Offset -96 / 2: column (x + 48) mod 64.
  EXPECT_TRUE(near(pixel(cam, 5, 20), kBlue)) << str(pixel(cam, 5, 20));
  EXPECT_TRUE(near(pixel(cam, 20, 20), kRed)) << str(pixel(cam, 20, 20));
  // The turn ends: the next frame is drawn by the main camera again.
  me.turning = false;
  EXPECT_EQ(draw(), camera_get_main());
}

TEST_F(Backdrop, ConvertedFileIsShownAtOnceNextTimeAndTheSameNameDoesNothing) {
  ASSERT_NO_FATAL_FAILURE(show_sky());
  VxRaster* first = backdrop_raster();
  int fetched = transfers_.requests("textures/sky.jpg");
  EXPECT_EQ(fetched, 1);
  backdrop_set("sky", 3);
  EXPECT_EQ(backdrop_raster(), first) << "the same name again does nothing";
  // The world is entered again: the converted picture is there before any frame.
  backdrop_clear();
  EXPECT_EQ(backdrop_raster(), nullptr);
  EXPECT_EQ(backdrop_name(), nullptr);
  backdrop_set("sky", 3);
  ASSERT_NE(backdrop_raster(), nullptr);
  EXPECT_EQ(VxGetRasterWidth(backdrop_raster()), 128);
  look(0, 1);
  VxCamera* cam = draw();
  EXPECT_TRUE(near(pixel(cam, 100, 30), kBlue));
}

TEST_F(Backdrop, NewerNameWinsOverADownloadStillRunning) {
  transfers_.put("textures/first.jpg", make_jpeg(128, 64, kRed, kRed));
  transfers_.put("textures/second.jpg", make_jpeg(256, 64, kGreen, kGreen));
  backdrop_set("first", 5);
  backdrop_set("second", 6);
  ASSERT_TRUE(Transfers::run_until([] { return backdrop_raster() != nullptr; }));
  Transfers::run_until([] { return Transfers::idle(); });
  Transfers::run_for(200);
  ASSERT_NE(backdrop_raster(), nullptr);
  EXPECT_EQ(VxGetRasterWidth(backdrop_raster()), 256) << "the first picture's late download is ignored";
  EXPECT_STREQ(backdrop_name(), "second");
}

TEST_F(Backdrop, EmptyNameWhileDownloadingLeavesNoBackdrop) {
  transfers_.put("textures/late.jpg", make_jpeg(128, 64, kWhite, kWhite));
  backdrop_set("late", 4);
  backdrop_set("", 0);
  Transfers::run_until([] { return Transfers::idle(); });
  Transfers::run_for(300);
  EXPECT_EQ(backdrop_raster(), nullptr) << "a world without a backdrop shows none";
  EXPECT_EQ(backdrop_name(), nullptr);
  VxCamera* cam = draw();
  EXPECT_TRUE(near(pixel(cam, 10, 30), Rgb{0, 0, 0}));
}

TEST_F(Backdrop, MissingOrDamagedPictureLeavesTheWorldDrawable) {
  // Not on the server.
  backdrop_set("nothing", 7);
  Transfers::run_for(500);
  EXPECT_EQ(backdrop_raster(), nullptr);
  // Not a JPEG.
  transfers_.put("textures/broken.jpg", std::string(300, 'x'));
  backdrop_set("broken", 6);
  Transfers::run_until([] { return Transfers::idle(); });
  Transfers::run_for(300);
  EXPECT_EQ(backdrop_raster(), nullptr);
  EXPECT_FALSE(file_exists(bmp("broken").c_str()));
  camera_set_color(0, 255, 0);
  look(0, 1);
  VxCamera* cam = draw();
  EXPECT_TRUE(near(pixel(cam, 10, 30), Rgb{0, 255, 0})) << str(pixel(cam, 10, 30));
}

TEST_F(Backdrop, UnreadableConvertedFileIsFetchedAgain) {
  transfers_.put("textures/sky.jpg", make_jpeg(128, 64, kRed, kBlue));
  testutil::write_file(bmp("sky"), "BM not really a bitmap");
  backdrop_set("sky", 3);
  EXPECT_EQ(backdrop_raster(), nullptr);
  ASSERT_TRUE(Transfers::run_until([] { return backdrop_raster() != nullptr; }));
  EXPECT_EQ(VxGetRasterWidth(backdrop_raster()), 128);
}

TEST_F(Backdrop, NameFromTheServerStaysInsideTheTexturesFolder) {
  transfers_.put("textures/../escape.jpg", make_jpeg(16, 8, kRed, kRed));
  backdrop_set("../escape", 9);
  Transfers::run_for(800);
  EXPECT_FALSE(std::filesystem::exists(std::string(download_get_path()) + "/escape.bmp"));
  EXPECT_FALSE(std::filesystem::exists(std::string(download_get_path()) + "/textures/../escape.bmp"));
}

// ---- ground ----------------------------------------------------------------------------

class Ground : public Backdrop {
 protected:
  void SetUp() override {
    Backdrop::SetUp();
    ASSERT_EQ(model_init(), 1);
  }
  static VxVector placed() {
    VxMatrix* m = VxCreateMatrix();
    VxGetClumpMatrix(ground_clump(), m);
    VxVector t{VxGetMatrixElement(m, 3, 0), VxGetMatrixElement(m, 3, 1), VxGetMatrixElement(m, 3, 2)};
    VxDestroyMatrix(m);
    return t;
  }
};

TEST_F(Ground, FollowsTheUserInSixUnitCells) {
  self_set_position(2.9, 0, -3.5, 0);
  ASSERT_NE(world_hook.ground_set, nullptr);
  world_hook.ground_set("terrain", 7);
  EXPECT_STREQ(ground_name(), "terrain.vxx");
  ASSERT_NE(ground_clump(), nullptr) << "the model's placeholder stands in";
  EXPECT_EQ(ground_ready(), 0);
  VxVector p = placed();
  EXPECT_FLOAT_EQ(p.x, 0);
  EXPECT_FLOAT_EQ(p.z, -6);
  // Into the next cell: the ground moves by 6 units.
  self_set_position(3.0, 0, -3.0, 0);
  ground_update();
  p = placed();
  EXPECT_FLOAT_EQ(p.x, 6);
  EXPECT_FLOAT_EQ(p.z, 0);
  // Within the cell it stays: a moved clump is not put back.
  VxTranslateMatrix(VxScratchMatrix(), 100, 0, 100, VX_REPLACE);
  VxTransformClump(ground_clump(), VxScratchMatrix(), VX_REPLACE);
  self_set_position(8.5, 0, 2.0, 0);
  ground_update();
  EXPECT_FLOAT_EQ(placed().x, 100);
  self_set_position(9.0, 0, 2.0, 0);
  ground_update();
  EXPECT_FLOAT_EQ(placed().x, 12);
  EXPECT_FLOAT_EQ(placed().z, 0);
}

TEST_F(Ground, SameNameKeepsTheInstanceEmptyClearsIt) {
  ground_set("terrain", 7);
  VxClump* first = ground_clump();
  ground_set("terrain", 7);
  EXPECT_EQ(ground_clump(), first);
  ground_set("other", 5);
  EXPECT_STREQ(ground_name(), "other.vxx");
  ground_set("", 0);
  EXPECT_EQ(ground_clump(), nullptr);
  EXPECT_EQ(ground_name(), nullptr);
  EXPECT_EQ(ground_ready(), 0);
  ground_update();  // nothing to place
  // A name as long as the server can send is cut to fit with its extension.
  std::string longest(255, 'g');
  ground_set(longest.c_str(), 255);
  ASSERT_NE(ground_name(), nullptr);
  EXPECT_EQ(std::string(ground_name()).size(), 255u);
  EXPECT_EQ(std::string(ground_name()).substr(251), ".vxx");
}

}  // namespace
