// The real Qt main window under the offscreen platform: the 3D start shows the window, the
// layout places the viewport and sizes the cameras, and the frames appear in the viewport.
#include <QApplication>
#include <QImage>
#include <QWidget>
#include <memory>

#include "client/ui/depth_dialog.h"
#include "client/ui/qt_host.h"
#include "client/ui/viewport.h"
#include "scene_fixture.h"
#include "tests/support/qt_app.h"

namespace {

QApplication& app() { return testutil::qt_app("scene_qt_tests"); }

class QtViewportTest : public SceneTest {
 protected:
  QtViewportTest() : qt_((app(), std::make_unique<QtHost>())) {}
  void SetUp() override {
    SceneTest::SetUp();
    host_set(qt_.get());
    viewport_qt_install(*qt_);
    ASSERT_NO_FATAL_FAILURE(link_driver("VXDL8D21"));
    write_file(dir_.file("tessel.ini"), "[display]\ndepth=1\n[layout]\nmain_width=500\nmain_height=400\ntabx=20\n");
    mkdir(dir_.file("Messages").c_str(), 0755);
    write_file(dir_.file("Messages/default.tzm"), kSceneMessages);
  }
  void TearDown() override {
    if (tessel_frame_state() != FRAME_SHUT_DOWN) tessel_shutdown(nullptr);
    SceneTest::TearDown();
  }
  void start_to_running() {
    ASSERT_NE(tessel_init(0, "", 1), 0);
    tessel_set_frame_state(FRAME_START_3D);
    tessel_frame();
    ASSERT_EQ(tessel_frame_state(), FRAME_RUNNING);
    for (int i = 0; i < 5; ++i) {
      QApplication::processEvents();
      tessel_frame();
    }
    QApplication::processEvents();
  }
  std::unique_ptr<QtHost> qt_;
};

TEST_F(QtViewportTest, GrabbedMainWindowShowsTheEngineFrameInTheViewport) {
  ASSERT_NO_FATAL_FAILURE(start_to_running());
  QWidget* main = qt_->main_widget();
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(main->isVisible());
  auto* surface = dynamic_cast<QtViewport*>(viewport_surface());
  ASSERT_NE(surface, nullptr);
  QWidget* vp = surface->widget();
  ASSERT_NE(vp, nullptr);
  EXPECT_EQ(vp->parentWidget(), main);
  // The viewport fills the client area right of the tab pane (20 pixels and the splitter);
  // the cameras fill the viewport inside its edge.
  EXPECT_EQ(vp->width(), main->width() - 21);
  int cw, ch;
  camera_size(&cw, &ch);
  EXPECT_EQ(cw, ((main->width() - 21) / 2) * 2 - 4);
  // From below the gesture row down to the chat splitter at its default 300.
  EXPECT_EQ(ch, 272);
  EXPECT_EQ(surface->image().format(), QImage::Format_Indexed8);

  QImage shot = main->grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_FALSE(shot.isNull());
  QPoint origin = vp->mapTo(main, QPoint(VIEWPORT_EDGE, VIEWPORT_EDGE));
  QRgb back = shot.pixel(origin.x() + 1, origin.y() + 1);
  // The default back colour: dark red and green, strong blue.
  EXPECT_LT(qRed(back), 40);
  EXPECT_LT(qGreen(back), 40);
  EXPECT_GT(qBlue(back), 150);
  int differing = 0;
  for (int y = 0; y < ch; y += 3)
    for (int x = 0; x < cw; x += 3)
      if (shot.pixel(origin.x() + x, origin.y() + y) != back) ++differing;
  EXPECT_EQ(differing, 0);
  // The engine's own image of the frame agrees with what the window shows.
  uint32_t want = qRgb(qRed(back), qGreen(back), qBlue(back));
  EXPECT_EQ(surface->image().pixel(cw / 2, ch / 2) | 0xFF000000u, want | 0xFF000000u);
}

TEST_F(QtViewportTest, ResizingTheWindowResizesTheCameras) {
  ASSERT_NO_FATAL_FAILURE(start_to_running());
  QWidget* main = qt_->main_widget();
  ASSERT_NE(main, nullptr);
  main->resize(441, 311);  // a 420-pixel viewport beside the tab pane
  QApplication::processEvents();
  tessel_frame();
  QApplication::processEvents();
  int cw, ch;
  camera_size(&cw, &ch);
  auto* surface = dynamic_cast<QtViewport*>(viewport_surface());
  ASSERT_NE(surface, nullptr);
  // The splitters keep their shares of the window: the camera fills the view that leaves,
  // even-sided, inside the view's edge.
  QWidget* view = surface->widget();
  EXPECT_EQ(cw, (view->width() & ~1) - 4);
  EXPECT_EQ(ch, (view->height() & ~1) - 4);
  EXPECT_GT(cw, 400);  // beside a tab pane of a 25th of the width
  // The window's picture is the camera's frame inside the view's edge: of an odd side, the
  // edge takes the last row, never a stripe the frame does not draw.
  EXPECT_EQ(surface->image().width(), cw);
  EXPECT_EQ(surface->image().height(), ch);
  camera_set_color(0, 255, 0);
  tessel_frame();
  QApplication::processEvents();
  QImage shot = main->grab().toImage();
  for (QPoint at : {QPoint(200, 150), QPoint(cw - 1, ch - 1), QPoint(0, ch - 1), QPoint(cw - 1, 0)}) {
    QRgb c = shot.pixel(surface->widget()->mapTo(main, at + QPoint(VIEWPORT_EDGE, VIEWPORT_EDGE)));
    EXPECT_GT(qGreen(c), 150) << at.x() << "," << at.y();
    EXPECT_LT(qBlue(c), 60) << at.x() << "," << at.y();
  }
  main->resize(442, 311);  // of an odd width too, the edge takes the last column
  QApplication::processEvents();
  tessel_frame();
  ASSERT_EQ(view->width() % 2, 1);
  camera_size(&cw, &ch);
  EXPECT_EQ(surface->image().width(), cw);
}

TEST_F(QtViewportTest, ViewportSurvivesTheMainWindowGoingFirst) {
  ASSERT_NO_FATAL_FAILURE(start_to_running());
  ViewportSurface* surface = viewport_surface();
  ASSERT_NE(surface, nullptr);
  qt_->window_destroy();  // the child widget goes with its parent
  // Frames still land in the image without touching the dead widget.
  uint8_t px[4] = {1, 2, 3, 4};
  surface->put_indexed(0, 0, 2, 2, px, 2, nullptr);
  viewport_term();
  EXPECT_EQ(viewport_surface(), nullptr);
}

TEST(QtViewportSurface, RgbBlocksBecomePaletteIndexesAndAreClipped) {
  app();
  QWidget parent;
  QtViewport v(&parent);
  v.place(0, 0, 8, 8);  // a 4 x 4 image inside the edge
  ASSERT_EQ(v.width(), 4);
  uint8_t pal[768] = {};
  for (int i = 0; i < 256; ++i) {
    pal[3 * i] = static_cast<uint8_t>(i);
    pal[3 * i + 1] = static_cast<uint8_t>(255 - i);
    pal[3 * i + 2] = 7;
  }
  v.set_palette(pal);
  // A 3 x 3 block at (2, 2): only its top-left 2 x 2 lands.
  uint8_t rgb[27];
  for (int i = 0; i < 9; ++i) {
    rgb[3 * i] = static_cast<uint8_t>(40 + i);
    rgb[3 * i + 1] = static_cast<uint8_t>(255 - 40 - i);
    rgb[3 * i + 2] = 7;
  }
  v.put_rgb(2, 2, 3, 3, rgb, 9);
  EXPECT_EQ(v.image().pixelIndex(2, 2), 40);
  EXPECT_EQ(v.image().pixelIndex(3, 2), 41);
  EXPECT_EQ(v.image().pixelIndex(2, 3), 43);
  EXPECT_EQ(v.image().pixelIndex(3, 3), 44);
  EXPECT_EQ(v.image().pixelIndex(0, 0), 0);
  // A colour not in the palette takes the nearest entry.
  uint8_t odd[3] = {100, 150, 9};
  v.put_rgb(0, 0, 1, 1, odd, 3);
  EXPECT_EQ(v.image().pixelIndex(0, 0), 102);
  // Blocks wholly outside, or negative, write nothing.
  v.put_rgb(-5, -5, 2, 2, rgb, 6);
  v.put_indexed(10, 10, 2, 2, rgb, 2, nullptr);
  EXPECT_EQ(v.image().pixelIndex(0, 0), 102);
  // Placed at nothing: an empty image, and writes are dropped.
  v.place(0, 0, 3, 3);
  EXPECT_EQ(v.width(), 0);
  v.put_rgb(0, 0, 1, 1, odd, 3);
}


// After the palette changes, colours drawn show as themselves (or as the nearest of the new
// palette), never as the entry an earlier palette had them at.
TEST(QtViewportSurface, ColoursAfterAPaletteChangeAreMatchedInTheNewPalette) {
  app();
  QWidget parent;
  QtViewport v(&parent);
  v.place(0, 0, 8, 8);
  uint8_t a[768], b[768];
  for (int i = 0; i < 256; ++i) {
    a[3 * i] = b[3 * (255 - i)] = static_cast<uint8_t>(i);
    a[3 * i + 1] = b[3 * (255 - i) + 1] = static_cast<uint8_t>(255 - i);
    a[3 * i + 2] = b[3 * (255 - i) + 2] = 7;
  }
  // One colour of both palettes, one of neither: nearest to (103, 152, 7) in both.
  const uint8_t drawn[6] = {40, 215, 7, 101, 150, 9};
  auto shown = [&v](int x) { return v.image().pixel(x, 0) & 0xFFFFFFu; };
  const uint8_t zero[4] = {};
  for (int round = 0; round < 3; ++round) {
    if (round == 1) v.set_palette(b);
    if (round == 2) v.put_indexed(0, 1, 1, 1, zero, 1, a);  // a frame that brings its palette
    if (round == 0) v.set_palette(a);
    v.put_rgb(0, 0, 2, 1, drawn, 6);
    EXPECT_EQ(qRgb(40, 215, 7) & 0xFFFFFFu, shown(0)) << "round " << round;
    EXPECT_EQ(qRgb(103, 152, 7) & 0xFFFFFFu, shown(1)) << "round " << round;
  }
}

}  // namespace
