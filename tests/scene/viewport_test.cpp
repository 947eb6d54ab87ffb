// The program's start-up path in-process, headless: the 3D start, frames drawn into the
// viewport canvas, the layout resizing the cameras, and the start-up's camera failures.
#include <algorithm>
#include <cstring>

#include "client/app/program.h"
#include "client/scene/self.h"
#include "scene_fixture.h"

namespace {

class Start3d : public SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(link_driver("VXDL8D21"));
    // The tab pane takes the left 20 pixels and the splitter's pixel.
    write_file(dir_.file("tessel.ini"), "[display]\ndepth=1\n[layout]\ntabx=20\n");
    mkdir(dir_.file("Messages").c_str(), 0755);
    write_file(dir_.file("Messages/default.tzm"), kSceneMessages);
  }
  // Start-up, then the frame state machine's 3D start as the login would reach it.
  void start() {
    ASSERT_NE(tessel_init(0, "", 1), 0);
    tessel_set_frame_state(FRAME_START_3D);
    tessel_frame();
  }
  const CanvasSurface* canvas() {
    auto* v = dynamic_cast<CanvasViewport*>(viewport_surface());
    return v ? v->canvas() : nullptr;
  }
};

TEST_F(Start3d, ReachesStateFiveAndDrawsTheBackColourIntoTheViewport) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(tessel_frame_state(), FRAME_RUNNING);
  EXPECT_TRUE(driver_ready());
  ASSERT_NE(camera_get_main(), nullptr);
  ASSERT_NE(scene_world(), nullptr);
  // The window's client area is laid out: the cameras follow it.
  // The view lies below the gesture row (23) and reaches down to the chat splitter, kept 45
  // pixels above the bottom.
  tessel_layout(321, 241);
  EXPECT_EQ(canvas()->width(), 296);
  EXPECT_EQ(canvas()->height(), 168);
  int w, h;
  camera_size(&w, &h);
  EXPECT_EQ(w, 296);
  EXPECT_EQ(h, 168);
  tessel_frame();
  const CanvasSurface* c = canvas();
  ASSERT_NE(c, nullptr);
  ASSERT_GT(c->writes(), 0);
  // Every pixel is the back colour (nothing else in the scene): blue dominant, dark red/green.
  uint32_t first = c->pixel(0, 0);
  int r = (first >> 16) & 0xFF, g = (first >> 8) & 0xFF, b = first & 0xFF;
  EXPECT_GT(b, 150);
  EXPECT_LT(r, 40);
  EXPECT_LT(g, 40);
  for (int y = 0; y < c->height(); y += 7)
    for (int x = 0; x < c->width(); x += 5) ASSERT_EQ(c->pixel(x, y), first) << x << "," << y;
  EXPECT_EQ(c->pixel(c->width() - 1, c->height() - 1), first);
}

TEST_F(Start3d, BackColourChangeShowsInTheNextFrame) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(tessel_frame_state(), FRAME_RUNNING);
  tessel_layout(200, 150);
  camera_set_color(255, 0, 0);
  tessel_frame();
  uint32_t p = canvas()->pixel(50, 50);
  EXPECT_GT((p >> 16) & 0xFF, 150u);
  EXPECT_LT(p & 0xFF, 40u);
}

TEST_F(Start3d, AModelInTheSceneIsDrawnOverTheBackColour) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(tessel_frame_state(), FRAME_RUNNING);
  tessel_layout(204, 124);  // a 200 x 120 view
  self_set_position(0, 0, 0, 0);  // the camera follows the user: eyes at the origin, facing +z
  VxClump* block = add_facing_square(1, 4, [] {
    VxSetModelColor(1, 1, 1);
    VxSetModelSurface(1, 0, 0);
  });
  ASSERT_NE(block, nullptr);
  tessel_frame();
  const CanvasSurface* s = canvas();
  uint32_t corner = s->pixel(1, 1), middle = s->pixel(s->width() / 2, s->height() / 2);
  // The block covers the middle in a grey shade; the corners keep the back colour.
  EXPECT_NE(corner, middle);
  EXPECT_EQ((middle >> 16) & 0xFF, (middle >> 8) & 0xFF);
  EXPECT_EQ(corner, s->pixel(s->width() - 2, s->height() - 2));
}

// The driver keeps its depth buffer on from the device open and nothing in the program switches
// it off: every polygon of a frame goes through the depth-tested bank, so a near object hides
// a far one whatever order the scene holds them in.
TEST_F(Start3d, FramesAreDrawnWithTheDepthBuffer) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(tessel_frame_state(), FRAME_RUNNING);
  tessel_layout(320, 240);
  self_set_position(0, 0, 0, 0);
  // A near red square in front, then a far white wall behind it, added after it; then the
  // other shading kinds, off to the side, so that each polygon mode is used once.
  const char* scripts[] = {
      "clumpbegin\ncolor 1 0 0\nvertex -0.5 0.4 3\nvertex 0.5 0.4 3\nvertex 0.5 1.4 3\nvertex -0.5 1.4 3\n"
      "quad 4 3 2 1\nclumpend\n",
      "clumpbegin\ncolor 1 1 1\nvertex -3 -2 8\nvertex 3 -2 8\nvertex 3 4 8\nvertex -3 4 8\n"
      "quad 4 3 2 1\nclumpend\n",
      "clumpbegin\nshading smooth\ncolor 0 1 0\nvertex 2 -1 6\nvertex 2.5 -1 6\nvertex 2.5 -0.5 6\n"
      "triangle 3 2 1\nclumpend\n",
      "clumpbegin\nopacity 0.5\ncolor 0 1 0\nvertex -2.5 -1 6\nvertex -2 -1 6\nvertex -2 -0.5 6\n"
      "triangle 3 2 1\nclumpend\n",
      "clumpbegin\nshading smooth\nopacity 0.5\ncolor 0 0 1\nvertex -2.5 2 6\nvertex -2 2 6\n"
      "vertex -2 2.5 6\ntriangle 3 2 1\nclumpend\n",
  };
  for (const char* script : scripts) {
    VxClump* c = VxReadClumpFromMemory(script, std::strlen(script));
    ASSERT_NE(c, nullptr) << VxGetError() << "\n" << script;
    ASSERT_EQ(VxAddClumpToScene(scene_world(), c), 1);
  }
  VxResetRenderCounts();
  tessel_frame();
  unsigned plain = 0, depth = 0;
  for (int slot = 0; slot < VX_RENDER_SLOTS; ++slot)
    for (int p = 0; p < VX_RENDER_POSITIONS; ++p) {
      plain += VxGetRenderCount(0, slot, p);
      depth += VxGetRenderCount(1, slot, p);
    }
  EXPECT_EQ(plain, 0u);
  for (int slot : {12, 13, 14, 15}) EXPECT_GT(VxGetRenderCount(1, slot, 0), 0u) << "slot " << slot;
  const CanvasSurface* s = canvas();
  ASSERT_NE(s, nullptr);
  // Both lie in shade (the light falls from behind them): the square dark red, the wall grey.
  // Along the middle column the square shows where it stands, the wall above and below it.
  int red = 0, grey = 0;
  for (int y = 0; y < s->height(); ++y) {
    uint32_t p = s->pixel(s->width() / 2, y);
    int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
    if (r > 0 && g == 0 && b == 0) ++red;
    if (r > 0 && r == g && g == b) ++grey;
  }
  EXPECT_GT(red, 5);   // the near square is not painted over by the wall drawn after it
  EXPECT_GT(grey, 5);  // and the wall shows around it
}

TEST_F(Start3d, ShrinkingTheWindowToAFewPixelsNeverHangsOrGoesNegative) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(tessel_frame_state(), FRAME_RUNNING);
  for (int side : {3, 1, 0}) {
    tessel_layout(side, side);
    tessel_frame();
    int w, h;
    camera_size(&w, &h);
    EXPECT_GE(w, 2);
    EXPECT_GE(h, 2);
    EXPECT_GE(canvas()->width(), 0);
  }
  // The tiny window pushed the tab splitter to the left edge; grown again, the tab pane gets
  // back the 20 pixels a drag leaves it, and the view the rest.
  tessel_layout(100, 80);
  tessel_frame();
  EXPECT_EQ(canvas()->width(), 75);
  EXPECT_GT(canvas()->writes(), 0);
}

// camera_init is the fourth step; its failure shows 5 for the engine's out-of-memory, else 6.
class CameraFailure : public Start3d {
 protected:
  const lifecycle_step& camera_row() {
    const lifecycle_tables& t = app_tables();
    for (size_t i = 0; i < t.start_3d_count; ++i)
      if (std::string(t.start_3d[i].name) == "camera_init") return t.start_3d[i];
    ADD_FAILURE() << "no camera_init row";
    return t.start_3d[0];
  }
};

TEST_F(CameraFailure, RowsRunInTheStartOrder) {
  const lifecycle_tables& t = app_tables();
  std::vector<std::string> names;
  for (size_t i = 0; i < t.start_3d_count; ++i) names.push_back(t.start_3d[i].name);
  auto at = [&](const char* n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
  EXPECT_EQ(at("driver_init"), 0);
  EXPECT_LT(at("driver_init"), at("debug_settings"));
  EXPECT_LT(at("debug_settings"), at("viewport_palette"));
  EXPECT_LT(at("viewport_palette"), at("camera_init"));
  EXPECT_LT(at("camera_init"), at("scene_init"));
  EXPECT_LT(at("scene_init"), at("show_window"));
}

TEST_F(CameraFailure, CameraTheDeviceCannotMakeShowsFiveThroughStartUp) {
  // A device that opens but makes no frame raster: the engine reports no memory.
  ::unlink((drivers_ + "/libVXDL8D21.so").c_str());
  ASSERT_NO_FATAL_FAILURE(link_fake("VXDL8D21"));
  setenv("SCENE_FAKE_DRIVER_NO_RASTER", "1", 1);
  ASSERT_NE(tessel_init(0, "", 1), 0);
  tessel_set_frame_state(FRAME_START_3D);
  tessel_frame();
  EXPECT_EQ(tessel_frame_state(), FRAME_SHUT_DOWN);
  EXPECT_EQ(camera_get_main(), nullptr);
  EXPECT_EQ(boxes(), std::vector<std::string>{"five"});
}

TEST_F(CameraFailure, OtherEngineErrorShowsSix) {
  ASSERT_NE(tessel_init(0, "", 1), 0);
  ASSERT_EQ(driver_init(), 1);
  VxShutdown();  // the engine is closed: creating a camera fails as not started
  const lifecycle_step& row = camera_row();
  ASSERT_EQ(lifecycle_run(&row, 1), 0);
  EXPECT_NE(VxGetError(), VX_E_NO_MEMORY);
  EXPECT_EQ(boxes(), std::vector<std::string>{"six"});
}

TEST_F(Start3d, ShutdownClosesCamerasSceneAndViewport) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(tessel_frame_state(), FRAME_RUNNING);
  tessel_shutdown(nullptr);
  EXPECT_EQ(camera_get_main(), nullptr);
  EXPECT_EQ(scene_world(), nullptr);
  EXPECT_EQ(viewport_window(), nullptr);
  EXPECT_FALSE(driver_ready());
  EXPECT_EQ(camera_mode(), -1);
}

TEST_F(Start3d, PaletteReachesTheViewportFromTheEngine) {
  struct Recording : CanvasViewport {
    int palettes = 0;
    uint8_t last[768] = {};
    void set_palette(const uint8_t* rgb) override {
      ++palettes;
      std::memcpy(last, rgb, sizeof last);
    }
  };
  static Recording* made = nullptr;
  viewport_set_surface_maker([]() -> std::unique_ptr<ViewportSurface> {
    auto r = std::make_unique<Recording>();
    made = r.get();
    return r;
  });
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(tessel_frame_state(), FRAME_RUNNING);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->palettes, 1);
  uint8_t engine[1024];
  ASSERT_EQ(VxGetPaletteEntries(0, 256, engine), 1);
  // The middle entries are the engine's; the static ten at each end stay the system's.
  for (int i = 10; i < 246; ++i) {
    ASSERT_EQ(made->last[3 * i], engine[4 * i]) << i;
    ASSERT_EQ(made->last[3 * i + 2], engine[4 * i + 2]) << i;
  }
  const DisplayRgb* hw = display_hardware_palette();
  EXPECT_EQ(made->last[0], hw[0].red);
  EXPECT_EQ(made->last[3 * 255 + 1], hw[255].green);
}

}  // namespace
