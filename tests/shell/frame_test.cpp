// The main window's frame in the running program: the toolbar and its tips, the Show menu's
// toolbar item, the splitters dragged with the mouse, tiny windows, and screenshots.
#include <QMouseEvent>
#include <QToolButton>

#include "client/core/profile.h"
#include "client/servers/history.h"
#include "client/servers/universe.h"
#include "client/servers/worlds.h"
#include "client/shell/gesture.h"
#include "client/shell/slider.h"
#include "client/shell/tab.h"
#include "client/shell/toolbar.h"
#include "tests/shell/shell_fixture.h"

namespace {

class FrameTest : public ShellTest {
 protected:
  QtToolbar* bar() { return child<QtToolbar>("toolbar"); }
  QWidget* view() {
    auto* s = dynamic_cast<QtViewport*>(viewport_surface());
    return s ? s->widget() : nullptr;
  }
  int client_top() { return static_cast<QtMainWindow*>(main())->client_top(); }
  // A mouse event on the main window at a client position.
  void mouse(QEvent::Type type, int x, int y, Qt::MouseButtons held) {
    QPoint p(x, y + client_top());
    QMouseEvent e(type, p, main()->mapToGlobal(p), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                  held, Qt::NoModifier);
    QApplication::sendEvent(main(), &e);
  }
  // Presses at from, moves to to (a frame between) and lets go.
  void drag(QPoint from, QPoint to) {
    mouse(QEvent::MouseButtonPress, from.x(), from.y(), Qt::LeftButton);
    tessel_frame();
    mouse(QEvent::MouseMove, to.x(), to.y(), Qt::LeftButton);
    tessel_frame();
    QWidget* b = main()->findChild<QWidget*>("drag bar");
    dragged_bar = b && b->isVisible();
    mouse(QEvent::MouseButtonRelease, to.x(), to.y(), Qt::NoButton);
    settle();
  }
  bool dragged_bar = false;
};

TEST_F(FrameTest, ToolbarButtonsTipsAndTheirState) {
  ASSERT_NO_FATAL_FAILURE(start_to_running());
  ASSERT_NE(bar(), nullptr);
  EXPECT_TRUE(bar()->isVisible());
  QToolButton* back = bar()->button(107);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->toolTip(), "back");
  EXPECT_EQ(bar()->button(106)->toolTip(), "forward");
  EXPECT_EQ(bar()->button(118)->toolTip(), "mover");
  EXPECT_FALSE(back->icon().isNull());
  EXPECT_STREQ(toolbar_tooltip(999), "Unknown!");
  for (int id : {107, 106, 124, 131, 125, 126, 127, 118, 134, 135, 136, 137})
    EXPECT_NE(bar()->button(id), nullptr) << id;
  // The web buttons start enabled; back waits for a place to go back to.
  EXPECT_TRUE(bar()->button(137)->isEnabled());
  EXPECT_FALSE(back->isEnabled());
  history_hook.toolbar_enable(107, 1);
  EXPECT_TRUE(back->isEnabled());
  // The 3D view starts below the toolbar, its border line and the gesture row.
  EXPECT_EQ(view()->y(), bar()->geometry().bottom() + 2 + gesture_height());
}

TEST_F(FrameTest, ShowToolbarHidesAndShowsItAndTheViewFollows) {
  ASSERT_NO_FATAL_FAILURE(start_to_running());
  ASSERT_NE(bar(), nullptr);
  EXPECT_TRUE(menu_is_checked(129));
  int top = view()->y();
  command(129);
  EXPECT_FALSE(bar()->isVisible());
  EXPECT_FALSE(menu_is_checked(129));
  EXPECT_EQ(profile_int("show", "toolbar"), 0);
  EXPECT_LT(view()->y(), top);
  command(129);
  EXPECT_TRUE(bar()->isVisible());
  EXPECT_TRUE(menu_is_checked(129));
  EXPECT_EQ(view()->y(), top);
  // Stored hidden: the next start opens without it.
  restart("[show]\ntoolbar=0\n");
  ASSERT_NE(bar(), nullptr);
  EXPECT_FALSE(bar()->isVisible());
  EXPECT_FALSE(menu_is_checked(129));
}

TEST_F(FrameTest, ChatSplitterDragStopsAboveTheStatusBar) {
  ASSERT_NO_FATAL_FAILURE(start_to_running());
  int split = slider_position();
  int w = 0, h = 0;
  tessel_layout_size(&w, &h);
  ASSERT_GT(h, 0);
  drag(QPoint(w / 2 + 40, split), QPoint(w / 2 + 40, h + 50));
  EXPECT_TRUE(dragged_bar);
  EXPECT_EQ(profile_int("layout", "chaty"), h - status_height() - 30);
  // The view ends above the splitter.
  EXPECT_LE(view()->geometry().bottom() - client_top(), slider_position());
  // A press elsewhere starts no drag and moves nothing.
  int before = profile_int("layout", "chaty");
  drag(QPoint(w / 2 + 40, 10 + toolbar_height()), QPoint(w / 2 + 40, 40));
  EXPECT_FALSE(dragged_bar);
  EXPECT_EQ(profile_int("layout", "chaty"), before);
}

TEST_F(FrameTest, TabSplitterGoesUpTo20PixelsFromTheRightWithoutAWebPane) {
  ASSERT_NO_FATAL_FAILURE(start_to_running());
  int w = 0, h = 0;
  tessel_layout_size(&w, &h);
  int tabx = vslider_tabx();
  drag(QPoint(tabx, h / 3), QPoint(w + 100, h / 3));
  EXPECT_TRUE(dragged_bar);
  EXPECT_EQ(profile_int("layout", "tabx"), w - 20);
  EXPECT_EQ(vslider_tabx(), w - 20);
  drag(QPoint(w - 20, h / 3), QPoint(-50, h / 3));
  EXPECT_TRUE(dragged_bar);
  EXPECT_EQ(profile_int("layout", "tabx"), 20);
  auto* tabs = child<QWidget>("Veldara Tab");
  ASSERT_NE(tabs, nullptr);
  EXPECT_EQ(tabs->width(), 19);
  EXPECT_EQ(view()->x(), 21);
}

TEST_F(FrameTest, TinyWindowsKeepEveryPaneInsideAndTheSplittersInOrder) {
  ASSERT_NO_FATAL_FAILURE(start_to_running());
  for (int side : {60, 30, 8, 1}) {
    SCOPED_TRACE(side);
    tessel_layout(side, side);
    EXPECT_GE(view()->width(), 0);
    EXPECT_GE(view()->height(), 0);
    EXPECT_GE(vslider_tabx(), 0);
    EXPECT_LE(vslider_tabx(), side);
    EXPECT_GE(vslider_webx(), 0);
    EXPECT_GE(slider_position(), toolbar_height());
    int x, y, pw, ph;
    tab_page_rect(&x, &y, &pw, &ph);
    EXPECT_GE(pw, 0);
    EXPECT_GE(ph, 0);
  }
  tessel_layout(640, 440);
  EXPECT_GT(view()->width(), 100);
}

// Screenshots of the whole window at two sizes, with the worlds page listing the universe's
// worlds, kept in the build tree.
TEST_F(FrameTest, ScreenshotsAtTwoSizes) {
  ASSERT_NO_FATAL_FAILURE(start_to_running("[layout]\ntabpage=0\nmain_width=640\nmain_height=480\n"));
  worlds_receive_list(0, {{"Veldara", 1, 14}, {"Harbour", 1, 3}, {"Quiet", 1, 0}});
  command(120);
  for (QSize size : {QSize(640, 480), QSize(900, 620)}) {
    main()->resize(size);
    settle();
    // The panes repaint once more after the resize's own layout.
    main()->repaint();
    QImage shot = main()->grab().toImage();
    ASSERT_FALSE(shot.isNull());
    std::string file = std::string(TESSEL_BINARY_DIR) + "/tests/shell/main_" +
                       std::to_string(size.width()) + "x" + std::to_string(size.height()) + ".png";
    EXPECT_TRUE(shot.save(QString::fromStdString(file)));
    auto* tabs = child<QWidget>("Veldara Tab");
    ASSERT_NE(tabs, nullptr);
    EXPECT_TRUE(tabs->isVisible());
    EXPECT_EQ(child<QtStatusBar>()->geometry().bottom(), main()->height() - 1);
    // The splitter between them: two pixels.
    EXPECT_EQ(view()->x(), tabs->geometry().right() + 3);
  }
}

}  // namespace

namespace {

// The focus caption over the 3D view: a pale-yellow box with the text, kept inside the view.
TEST_F(FrameTest, FocusCaptionIsPaintedInsideTheView) {
  ASSERT_NO_FATAL_FAILURE(start_to_running());
  auto* w = static_cast<QtViewportWidget*>(view());
  ASSERT_NE(w, nullptr);
  // Pale yellow anywhere in the 6 x 4 block from (x, y) (the text's glyphs are black).
  auto yellow_at = [w](int x, int y) {
    QImage shot = w->grab().toImage();
    for (int dy = 0; dy < 4; ++dy)
      for (int dx = 0; dx < 6; ++dx) {
        QRgb c = shot.pixel(x + dx + VIEWPORT_EDGE, y + dy + VIEWPORT_EDGE);
        if (qRed(c) > 240 && qGreen(c) > 240 && qBlue(c) > 160 && qBlue(c) < 200) return true;
      }
    return false;
  };
  EXPECT_FALSE(yellow_at(21, 22));
  w->set_caption("a box", QPoint(20, 20));
  EXPECT_TRUE(yellow_at(21, 22));
  // Near the right and bottom edges the box moves back inside.
  int vw = w->width() - 2 * VIEWPORT_EDGE, vh = w->height() - 2 * VIEWPORT_EDGE;
  w->set_caption("a box", QPoint(vw - 3, vh - 3));
  EXPECT_TRUE(yellow_at(vw - 26, vh - 11));
  w->set_caption(QString(), QPoint());
  EXPECT_FALSE(yellow_at(vw - 26, vh - 11));
}

}  // namespace
