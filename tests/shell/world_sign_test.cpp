// A sign, made through the hook the action language's sign command calls, shows its text on
// an object in the 3D view.
#include "world_env.h"

using namespace world_env;

TEST_F(WorldChat, ASignsTextShowsOnAnObjectInTheView) {
  ASSERT_NE(0, tessel_init(0, "", 1));
  ASSERT_TRUE(run_until([] { return tessel_frame_state() == FRAME_RUNNING && world_state() == WORLD_IN; }));
  // A board in front of the own eyes, both sides tagged for a sign.
  VxVector eye{};
  ASSERT_TRUE(VxGetCameraPosition(camera_get_main(), &eye));
  VxReal y0 = eye.y - 1, y1 = eye.y + 1;
  VxBeginModel();
  VxBeginClump();
  VxSetModelTag(100);
  // Looking north, +x (west) is on the left.
  int a = VxAddVertexUV(eye.x + 1, y1, eye.z + 4, 0, 0), b = VxAddVertexUV(eye.x - 1, y1, eye.z + 4, 1, 0);
  int c = VxAddVertexUV(eye.x - 1, y0, eye.z + 4, 1, 1), d = VxAddVertexUV(eye.x + 1, y0, eye.z + 4, 0, 1);
  VxAddQuad(a, b, c, d);
  VxAddQuad(d, c, b, a);
  VxClump* clump = VxEndClump();
  VxEndModel();
  ASSERT_NE(nullptr, clump);
  ASSERT_TRUE(VxAddClumpToScene(scene_world(), clump));
  model_instance board{};
  board.clump = clump;
  board.scene = scene_world();
  auto* surface = dynamic_cast<QtViewport*>(viewport_surface());
  ASSERT_NE(nullptr, surface);
  // Pixels of the shaded red letters and of the shaded white ground of the sign.
  auto count = [surface](bool letters) {
    QImage shot = surface->image().convertToFormat(QImage::Format_RGB32);
    int n = 0;
    for (int y = 0; y < shot.height(); ++y)
      for (int x = 0; x < shot.width(); ++x) {
        QRgb p = shot.pixel(x, y);
        int r = qRed(p), g = qGreen(p), b = qBlue(p);
        n += letters ? (r > g + 30 && r > b + 30) : (r > 40 && std::abs(r - g) < 12 && std::abs(r - b) < 12);
      }
    return n;
  };
  for (int i = 0; i < 3; ++i) step();
  int red_before = count(true), grey_before = count(false);
  // What the sign command asks for: red letters on white.
  ASSERT_NE(nullptr, behavior_hook.sign_create);
  behavior_hook.sign_create(&board, "OPEN", "red", "white");
  ASSERT_TRUE(run_until([&board] { return board.sign && sign_texture(board.sign); }));
  for (int i = 0; i < 3; ++i) step();
  int red = count(true), grey = count(false);
  EXPECT_GT(red, red_before + 20);
  EXPECT_GT(grey, grey_before + red);
  sign_release(board.sign);
  board.sign = nullptr;
  VxRemoveClumpFromScene(clump);
  VxDestroyClump(clump);
}

