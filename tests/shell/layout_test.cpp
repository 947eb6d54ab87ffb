// The main window's panes through sequences of window sizes, as a person resizes the window:
// the 3D view grows with the window, every pane keeps the share the splitters last gave it,
// and a camera smaller than the view asked for leaves the view beside the web pane.
#include <QMouseEvent>
#include <QScreen>
#include <cmath>

#include "client/core/profile.h"
#include "client/shell/gesture.h"
#include "client/shell/status.h"
#include "client/shell/tab.h"
#include "client/shell/toolbar.h"
#include "client/shell/slider.h"
#include "client/shell/web.h"
#include "tests/shell/shell_fixture.h"

namespace {

// The web pane at the edge of the program: only its place is of interest here.
struct PaneRecord : WebContainer {
  QRect rect;
  ~PaneRecord() override;
  void navigate(const char*) override {}
  int command(int) override { return 1; }
  void move(int x, int y, int w, int h) override { rect = QRect(x, y, w, h); }
  void show(bool) override {}
  void redraw() override {}
};
PaneRecord* pane = nullptr;
PaneRecord::~PaneRecord() {
  if (pane == this) pane = nullptr;
}
WebContainer* make_pane() { return pane = new PaneRecord; }

// What a person sees of the panes, in client coordinates.
struct Panes {
  QRect tabs, view, web;
  int split = 0;
  bool operator==(const Panes& o) const {
    return tabs == o.tabs && view == o.view && web == o.web && split == o.split;
  }
};
std::ostream& operator<<(std::ostream& out, const Panes& p) {
  auto r = [&out](const char* name, const QRect& q) {
    out << name << " " << q.x() << "," << q.y() << " " << q.width() << "x" << q.height() << " ";
  };
  r("tabs", p.tabs);
  r("view", p.view);
  r("web", p.web);
  return out << "split " << p.split;
}

class LayoutTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    web_set_container_maker(make_pane);
  }
  void TearDown() override {
    ShellTest::TearDown();
    web_set_container_maker(nullptr);
  }
  int client_top() { return static_cast<QtMainWindow*>(main())->client_top(); }
  // The window resized as the window system does it, then a few frames.
  Panes resize(int width, int height) {
    main()->resize(width, height + client_top());
    settle();
    return panes();
  }
  Panes panes() {
    Panes p;
    auto* tabs = child<QWidget>("Veldara Tab");
    auto* s = dynamic_cast<QtViewport*>(viewport_surface());
    if (tabs) p.tabs = tabs->geometry().translated(0, -client_top());
    if (s && s->widget()) p.view = s->widget()->geometry().translated(0, -client_top());
    if (pane && web_visible()) p.web = pane->rect;
    p.split = slider_position();
    return p;
  }
  // The share of the room between the toolbar rows and the status bar above the splitter.
  double view_share(const Panes& p, int height) {
    int top = toolbar_height() + gesture_height(), bottom = height - status_height();
    return static_cast<double>(p.split - top) / (bottom - top);
  }
  void drag(int from_x, int to_x, int y) {
    auto send = [this](QEvent::Type type, int x, int y) {
      QPoint at(x, y + client_top());
      QMouseEvent e(type, at, main()->mapToGlobal(at),
                    type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                    type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(main(), &e);
    };
    send(QEvent::MouseButtonPress, from_x, y);
    tessel_frame();
    send(QEvent::MouseMove, to_x, y);
    tessel_frame();
    send(QEvent::MouseButtonRelease, to_x, y);
    settle();
  }
};

// Every pane's width at the second size is the first size's, scaled with the window.
void expect_scaled(const Panes& a, int wa, const Panes& b, int wb) {
  double k = static_cast<double>(wb) / wa;
  EXPECT_NEAR(b.tabs.width(), a.tabs.width() * k, 2);
  EXPECT_NEAR(b.view.width(), a.view.width() * k, 3);
  EXPECT_NEAR(b.web.width(), a.web.width() * k, 3);
}

TEST_F(LayoutTest, GrowingTheWindowGrowsTheViewAndShrinkingItLosesNoShare) {
  ASSERT_NO_FATAL_FAILURE(start_to_running("[layout]\nmain_width=960\nmain_height=480\n[show]\nweb=0\n"));
  for (bool web : {false, true}) {
    SCOPED_TRACE(web ? "with the web pane" : "without the web pane");
    if (web) command(130);
    ASSERT_EQ(web_visible(), web ? 1 : 0);
    Panes small = resize(960, 480);
    Panes big = resize(1280, 900);
    EXPECT_GT(big.view.width(), small.view.width() + 100);
    EXPECT_GT(big.view.height(), small.view.height() + 200);
    expect_scaled(small, 960, big, 1280);
    EXPECT_NEAR(view_share(big, 900), view_share(small, 480), 0.01);
    if (web) {
      // The web pane starts right of the view, two pixels on.
      EXPECT_EQ(big.web.x(), big.view.right() + 2);
      EXPECT_EQ(big.web.right(), 1279);
    }
    // A tiny window squeezes the panes; the next sizes are laid out as before it.
    resize(200, 150);
    EXPECT_EQ(resize(1280, 900), big);
    EXPECT_EQ(resize(960, 480), small);
    resize(200, 150);
    EXPECT_EQ(resize(960, 480), small);
    // What is in effect is what the next start finds.
    EXPECT_EQ(profile_int("layout", "tabx"), vslider_tabx());
    EXPECT_EQ(profile_int("layout", "chaty"), slider_position());
  }
}

TEST_F(LayoutTest, ADraggedSplitterGivesTheShareLaterSizesKeep) {
  ASSERT_NO_FATAL_FAILURE(start_to_running("[layout]\nmain_width=960\nmain_height=480\n"));
  resize(960, 480);
  drag(vslider_tabx(), 300, 200);
  ASSERT_EQ(vslider_tabx(), 300);
  Panes dragged = panes();
  EXPECT_EQ(dragged.tabs.width(), 299);
  Panes big = resize(1920, 960);
  EXPECT_EQ(vslider_tabx(), 600);
  expect_scaled(dragged, 960, big, 1920);
  resize(380, 200);
  EXPECT_EQ(resize(960, 480), dragged);
}

// A view wider than the camera can be: the camera comes out smaller, and the view shrinks to
// it without leaving its place beside the tab pane and the web pane.
TEST_F(LayoutTest, ACameraSmallerThanTheViewKeepsTheViewBetweenItsNeighbours) {
  ASSERT_NO_FATAL_FAILURE(start_to_running("[layout]\nmain_width=960\nmain_height=480\n[show]\nweb=1\n"));
  ASSERT_TRUE(web_visible());
  Panes before = resize(960, 480);
  Panes wide = resize(14000, 600);
  EXPECT_GT(wide.view.width(), 100);
  EXPECT_LT(wide.view.width(), 4200);
  // The view still starts beside the tab pane; the web pane starts beside it.
  EXPECT_EQ(wide.view.x(), wide.tabs.right() + 3);
  EXPECT_EQ(wide.web.x(), wide.view.right() + 2);
  EXPECT_EQ(wide.web.right(), 13999);
  // Without the web pane the view keeps to the right edge.
  command(130);
  ASSERT_FALSE(web_visible());
  wide = panes();
  EXPECT_GT(wide.view.width(), 100);
  EXPECT_EQ(wide.view.right(), 13999);
  EXPECT_GT(wide.view.x(), wide.tabs.right());
  // Back to an ordinary size: the panes come back as the user had them.
  command(130);
  EXPECT_EQ(resize(960, 480), before);
}

// Whatever a damaged settings file holds for the splitters, the 3D view starts in sight
// between the tab pane and the web pane, and the window within the screen's free area.
TEST_F(LayoutTest, DamagedLayoutValuesStartWithTheViewAndWindowInSight) {
  start_to_running("[layout]\nmain_width=960\nmain_height=480\n[show]\nweb=1\n");
  const Panes fresh = resize(960, 480);
  // A splitter left of the window is no position at all: the panes start as without one.
  for (const char* stored : {"webx=-500\n", "tabx=-500\n", "chaty=-500\n"}) {
    SCOPED_TRACE(stored);
    restart(std::string("[layout]\nmain_width=960\nmain_height=480\n") + stored +
            "[show]\nweb=1\n");
    EXPECT_EQ(resize(960, 480), fresh);
  }
  for (const char* stored : {"webx=-500\n", "tabx=-500\n", "tabx=2147483647\nwebx=2147483647\n",
                             "tabx=600\nwebx=100\n", "webx=-2147483648\n"}) {
    SCOPED_TRACE(stored);
    restart(std::string("[layout]\nmain_width=960\nmain_height=480\n") + stored +
            "[show]\nweb=1\n");
    ASSERT_TRUE(web_visible());
    Panes p = resize(960, 480);
    EXPECT_GE(p.view.width(), 19) << p;
    EXPECT_GT(p.view.x(), p.tabs.right()) << p;
    EXPECT_GE(p.tabs.width(), 19) << p;
    EXPECT_GT(p.web.x(), p.view.right()) << p;
    EXPECT_LT(p.view.right(), 960) << p;
    EXPECT_GE(p.web.width(), 19) << p;
  }
  restart("[layout]\nmain_x=0\nmain_y=0\nmain_width=2147483647\nmain_height=16777215\n");
  settle();
  QRect free = main()->screen()->availableGeometry();
  QRect g = main()->geometry();
  EXPECT_LE(g.width(), free.width());
  EXPECT_LE(g.height(), free.height());
  EXPECT_TRUE(free.contains(g.topLeft())) << g.x() << "," << g.y();
  EXPECT_LE(profile_int("layout", "main_width"), free.width());
  EXPECT_LE(profile_int("layout", "main_height"), free.height());
}

// A camera narrower than the view while the web pane is hidden puts the web splitter at the
// right edge with the view; shown again at the same size, the pane opens there, at the
// window's edge, and the view keeps its place beside the tab pane instead of being squeezed.
TEST_F(LayoutTest, ShowingTheWebPaneAfterANarrowCameraKeepsTheViewBesideTheTabs) {
  start_to_running("[layout]\nmain_width=960\nmain_height=480\n[show]\nweb=0\n");
  ASSERT_FALSE(web_visible());
  Panes hidden = resize(14000, 600);
  ASSERT_GT(hidden.view.width(), 100);
  ASSERT_EQ(hidden.view.right(), 13999);
  EXPECT_EQ(14000, profile_int("layout", "webx"));
  EXPECT_EQ(vslider_tabx(), profile_int("layout", "tabx"));
  command(130);
  ASSERT_TRUE(web_visible());
  settle();
  Panes shown = panes();
  EXPECT_EQ(hidden.tabs, shown.tabs);
  EXPECT_EQ(hidden.view.x(), shown.view.x());
  EXPECT_EQ(13980, vslider_webx());
  EXPECT_EQ(shown.web.x(), shown.view.right() + 2);
  EXPECT_EQ(QRect(13981, hidden.tabs.y(), 19, hidden.tabs.height()), shown.web);
}

}  // namespace

namespace {

// The splitters beside the 3D view can be taken on every pixel of their bar, the view's own
// sunken edge included: a press there starts the drag, not a click into the scene.
TEST_F(LayoutTest, SplittersAreTakenOnTheViewsEdge) {
  ASSERT_NO_FATAL_FAILURE(start_to_running("[layout]\nmain_width=960\nmain_height=480\n[show]\nweb=1\n"));
  ASSERT_TRUE(web_visible());
  resize(960, 480);
  auto* s = dynamic_cast<QtViewport*>(viewport_surface());
  ASSERT_NE(s, nullptr);
  QWidget* view = s->widget();
  // Pressed on the view's edge pixel (local x), let go at the main window's client x.
  auto drag_from_edge = [&](int local_x, int to_x) {
    int y = view->height() / 2;
    QPoint at(local_x, y);
    QMouseEvent press(QEvent::MouseButtonPress, at, view->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(view, &press);
    tessel_frame();
    int main_y = view->y() + y;
    for (QEvent::Type type : {QEvent::MouseMove, QEvent::MouseButtonRelease}) {
      QPoint p(to_x, main_y);
      QMouseEvent e(type, p, main()->mapToGlobal(p), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                    type == QEvent::MouseMove ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
      QApplication::sendEvent(main(), &e);
      tessel_frame();
    }
    settle();
  };
  int tabx = vslider_tabx(), webx = vslider_webx();
  drag_from_edge(0, tabx + 60);
  EXPECT_EQ(vslider_tabx(), tabx + 60);
  drag_from_edge(view->width() - 1, webx - 40);
  EXPECT_EQ(vslider_webx(), webx - 40);
  // The view's inside is not the splitter's.
  drag_from_edge(view->width() / 2, 100);
  EXPECT_EQ(vslider_tabx(), tabx + 60);
}

}  // namespace

namespace {

// The five tabs wrap into rows: at every width the tab pane can be dragged to, each tab lies
// whole inside the control, beside no other, with its text in full, and the pages start
// below the last row.
TEST_F(LayoutTest, EveryTabIsInSightAtEveryPaneWidth) {
  ASSERT_NO_FATAL_FAILURE(start_to_running("[layout]\nmain_width=960\nmain_height=480\n"));
  resize(960, 480);
  auto* tabs = qobject_cast<QtTabControl*>(child<QWidget>("Veldara Tab"));
  QWidget* page = child<QWidget>("Veldara Teleport List");
  ASSERT_NE(tabs, nullptr);
  ASSERT_NE(page, nullptr);
  QtTabRows* rows = tabs->bar();
  // The default pane: several rows, the Worlds and Contacts tabs among them.
  EXPECT_GT(rows->rows(), 1);
  int top = toolbar_height() + gesture_height(), bottom = 480 - status_height();
  int widest_row = 0;
  for (int width = 20; width <= 940; width += 3) {
    SCOPED_TRACE(width);
    tab_size(0, width, top, bottom);
    QFontMetrics m(rows->font());
    for (int i = 0; i < rows->count(); ++i) {
      QRect r = rows->tabRect(i);
      EXPECT_GE(r.left(), 0) << i;
      EXPECT_LE(r.right(), width - 1) << i;
      EXPECT_GT(r.height(), 0) << i;
      if (!rows->tabText(i).isEmpty()) {
        EXPECT_GE(r.width(), m.horizontalAdvance(rows->tabText(i)) + 16) << i;
      }
      for (int j = 0; j < i; ++j) EXPECT_FALSE(r.intersects(rows->tabRect(j))) << i << " and " << j;
    }
    EXPECT_GE(page->y(), tabs->y() + rows->height() - 2);
    EXPECT_GE(tabs->height(), rows->height());
    widest_row = std::max(widest_row, rows->rows() == 1 ? width : 0);
  }
  // Wide enough, one row holds them all.
  EXPECT_GT(widest_row, 0);
  // A click on a tab of another row turns to its page, and its row moves next to the pages.
  tab_size(0, 165, top, bottom);
  QRect worlds = rows->tabRect(TAB_WORLDS);
  QMouseEvent press(QEvent::MouseButtonPress, worlds.center(), rows->mapToGlobal(worlds.center()), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(rows, &press);
  settle();
  EXPECT_EQ(tab_current(), TAB_WORLDS);
  for (int i = 0; i < rows->count(); ++i) EXPECT_LE(rows->tabRect(i).bottom(), rows->tabRect(TAB_WORLDS).bottom()) << i;
}

}  // namespace
