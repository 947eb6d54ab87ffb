// The Qt menu bar of the real main window, offscreen: its items and texts come from the
// model, triggering one (or pressing its function key) reaches the module through the window
// procedure, and checks set by the modules show on the bar.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <clocale>
#ifdef TESSEL_MENU_QTEST
#include <QTest>
#endif

#include "client/ui/menu.h"
#include "client/ui/qt_host.h"
#include "client/ui/qt_windows.h"
#include "tests/menu/menu_fixture.h"
#include "tests/support/qt_app.h"
#include "tests/support/test_util.h"

using namespace menutest;

namespace {

QApplication* app() { return &testutil::qt_app("menu_qt_test"); }

class MenuQt : public MenuFixture {
 protected:
  void SetUp() override {
    app();
    MenuFixture::SetUp();
    qt = std::make_unique<QtHost>();
    host_set(qt.get());
    ASSERT_TRUE(qt->window_create("tessel", HostRect{0, 0, 640, 480}, 200, 150, handle_window));
    window = static_cast<QtMainWindow*>(qt->main_widget());
    ASSERT_NE(nullptr, window->menu_bar());
    ASSERT_EQ(0, menu_init(nullptr, nullptr));
    menu_load_accelerators();  // as start-up does last
    bar = window->menu_bar();
  }
  void TearDown() override {
    if (qt) {
      window->destroying = true;
      qt->window_destroy();
    }
    host_set(&boxes);
    qt.reset();
    MenuFixture::TearDown();
  }
  std::vector<int> ids(int position) {
    std::vector<int> out;
    for (QAction* a : bar->popup(position)->actions()) out.push_back(a->isSeparator() ? 0 : a->data().toInt());
    return out;
  }

  std::unique_ptr<QtHost> qt;
  QtMainWindow* window = nullptr;
  QtMenuBar* bar = nullptr;
};

TEST_F(MenuQt, BarShowsTheModelWithItsAccelerators) {
  ASSERT_EQ(9, static_cast<int>(bar->actions().size()));
  EXPECT_EQ(QString::fromLatin1(msg(475)), bar->actions()[4]->text());
  EXPECT_EQ((std::vector<int>{106, 107, 0, 128, 0, 146, 147, 0, 144}), ids(1));
  EXPECT_EQ((std::vector<int>{105, 0, 148, 142, 0, 102}), ids(8));
  ASSERT_NE(nullptr, bar->action(MENU_HOME));
  EXPECT_EQ(QString::fromLatin1(msg(461)), bar->action(MENU_HOME)->text());
  size_t n = 0;
  const menu_accelerator* accels = menu_accelerators(&n);
  for (size_t i = 0; i < n; ++i) {
    SCOPED_TRACE(accels[i].id);
    QAction* a = bar->action(accels[i].id);
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(QKeySequence(Qt::Key_F1 + (accels[i].key - 0x70)), a->shortcut());
  }
  EXPECT_EQ(Qt::Key_F12, menu_qt_key(0x7B));
  EXPECT_EQ(Qt::Key_A, menu_qt_key(0x41));
  EXPECT_EQ(0, menu_qt_key(0));
  // Greyed in the model, greyed on the bar.
  EXPECT_FALSE(bar->action(MENU_SHOW_FPS)->isEnabled());
  EXPECT_TRUE(bar->action(MENU_HOME)->isEnabled());
  EXPECT_FALSE(bar->action(MENU_BACK)->isEnabled());
}

TEST_F(MenuQt, TriggeringAnItemDispatchesThroughTheWindow) {
  ASSERT_NO_FATAL_FAILURE(be_in("demo"));
  self_set_position(-3, 1.5, 12.25, -45);
  bar->action(MENU_SET_HOME)->trigger();
  bar->action(MENU_HOME)->trigger();
  ASSERT_EQ(1u, recorded.posts.size());
  EXPECT_EQ("teleport demo 12.2N 3.0E 1.5a 315", recorded.posts[0]);
  // A toggle: the setting flips and the check follows the module, not Qt's own flip.
  bar->action(MENU_SHOW_POSITION)->trigger();
  EXPECT_EQ(1, profile_int("show", "position"));
  EXPECT_TRUE(bar->action(MENU_SHOW_POSITION)->isChecked());
  self_toggle_position();
  EXPECT_FALSE(bar->action(MENU_SHOW_POSITION)->isChecked());
  EXPECT_EQ(0, profile_int("show", "position"));
  // Greying from a module reaches the bar.
  citizen_set_number(0);
  menu_identity_changed();
  EXPECT_FALSE(bar->action(MENU_CITIZEN)->isEnabled());
}

TEST_F(MenuQt, AvatarPopUpIsRebuiltAndChoosable) {
  offer({"walker", "cy", "zed"});
  ASSERT_NO_FATAL_FAILURE(be_in("demo"));
  world_set_avatar(2);
  menu_rebuild_avatars();
  QMenu* pop = bar->popup(MENU_AVATAR_POSITION);
  ASSERT_EQ(3, static_cast<int>(pop->actions().size()));
  EXPECT_EQ(QStringLiteral("Cy"), pop->actions()[1]->text());
  EXPECT_TRUE(pop->actions()[2]->isChecked());
  bar->action(1001)->trigger();
  EXPECT_EQ(1, world_avatar());
  EXPECT_TRUE(bar->action(1001)->isChecked());
  EXPECT_FALSE(bar->action(1002)->isChecked());
}

TEST_F(MenuQt, PanesArePlacedInTheClientAreaBelowTheBar) {
  window->show();
  QApplication::processEvents();
  int top = window->client_top();
  ASSERT_GT(top, 0);
  EXPECT_EQ(top, bar->height());
  // A pane placed by the layout at client (0, 0), then at (3, 5), then at (0, 0) again.
  auto* pane = new QWidget(window);
  pane->show();
  pane->setGeometry(0, 0, 100, 50);
  EXPECT_EQ(QRect(0, top, 100, 50), pane->geometry());
  pane->setGeometry(3, 5, 100, 50);
  EXPECT_EQ(QRect(3, top + 5, 100, 50), pane->geometry());
  pane->setGeometry(0, top, 100, 50);  // client y equal to the last placed y
  EXPECT_EQ(2 * top, pane->y());
  // A pane placed while hidden is shifted once, when shown.
  auto* hidden = new QWidget(window);
  hidden->setGeometry(0, 7, 10, 10);
  hidden->show();
  EXPECT_EQ(top + 7, hidden->y());
  hidden->hide();
  hidden->setGeometry(0, 9, 10, 10);
  hidden->show();
  EXPECT_EQ(top + 9, hidden->y());
  // With empty title texts the bar takes no room and the panes move up to their client places
  // (a number with no text at all would show as itself).
  std::string bare = "68 x\n";
  for (int i = 0; i < menu_title_count(); ++i) bare += std::to_string(menu_title_message(i)) + " \n";
  testutil::write_file(dir + "/Messages/bare.tzm", bare);
  msg_reset();
  ASSERT_EQ(1, msg_load("bare"));
  menu_set_texts();
  EXPECT_EQ(0, window->client_top());
  EXPECT_EQ(top, pane->y());
  EXPECT_EQ(9, hidden->y());
}

std::vector<HostEvent> sizes;

TEST_F(MenuQt, TheWindowProcedureGetsTheClientSizeAndClientMousePositions) {
  QtHost other;
  ASSERT_TRUE(other.window_create("t", HostRect{0, 0, 500, 400}, 100, 100, [](const HostEvent& e) -> long {
    if (e.message == HOST_WM_SIZE || e.message == HOST_WM_LBUTTONDOWN) sizes.push_back(e);
    return 0;
  }));
  auto* w = static_cast<QtMainWindow*>(other.main_widget());
  menu_set_texts();  // this window's bar is the one watching the model now
  w->show();
  QApplication::processEvents();
  int top = w->client_top();
  ASSERT_GT(top, 0);
  sizes.clear();
  w->resize(520, 410);
  QApplication::processEvents();
  ASSERT_FALSE(sizes.empty());
  EXPECT_EQ(HOST_WM_SIZE, sizes.back().message);
  EXPECT_EQ(520, sizes.back().x);
  EXPECT_EQ(410 - top, sizes.back().y);
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(30, top + 12), QPointF(30, top + 12),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &press);
  ASSERT_EQ(HOST_WM_LBUTTONDOWN, sizes.back().message);
  EXPECT_EQ(30, sizes.back().x);
  EXPECT_EQ(12, sizes.back().y);
  w->destroying = true;
  other.window_destroy();
}

#ifdef TESSEL_MENU_QTEST
// A menu opened from its title and closed with Escape, without a choice, gives the keys back
// as a choice does: Up reaches the view, and no title stays lit for the arrows to move along.
TEST_F(MenuQt, AMenuClosedWithEscapeLeavesTheArrowsToTheView) {
  window->show();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));
  for (int position : {1, 4}) {
    SCOPED_TRACE(position);
    QMenu* menu = bar->popup(position);
    ASSERT_NE(nullptr, menu);
    bar->setActiveAction(menu->menuAction());  // as a click on its title opens it
    ASSERT_TRUE(testutil::poll_until([&] {
      QApplication::processEvents();
      return menu->isVisible();
    }));
    QTest::keyClick(menu, Qt::Key_Escape);
    ASSERT_TRUE(testutil::poll_until([&] {
      QApplication::processEvents();
      return !menu->isVisible() && !bar->hasFocus();
    })) << "the bar kept the keys";
    EXPECT_EQ(nullptr, bar->activeAction());
    QWidget* has = QApplication::focusWidget();
    ASSERT_NE(nullptr, has);
    QTest::keyPress(has, Qt::Key_Up);
    EXPECT_TRUE(qt->key_down(0x26)) << "Up went to " << has->objectName().toStdString();
    QTest::keyRelease(has, Qt::Key_Up);
  }
}

TEST_F(MenuQt, FunctionKeysActWhereverTheFocusIs) {
  window->show();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));
  QTest::keyClick(window, Qt::Key_F11);
  EXPECT_EQ(1, profile_int("show", "position"));
  EXPECT_TRUE(menu_is_checked(MENU_SHOW_POSITION));
  // F12 is the frame rate, greyed while that pane is missing: nothing happens.
  QTest::keyClick(window, Qt::Key_F12);
  EXPECT_FALSE(menu_is_checked(MENU_SHOW_FPS));
  QTest::keyClick(window, Qt::Key_F6);
  int cache = profile_int("show", "cache");
  EXPECT_EQ(cache == 1, menu_is_checked(MENU_SHOW_CACHE));
  QTest::keyClick(window, Qt::Key_F6);
  EXPECT_EQ(1 - cache, profile_int("show", "cache"));
}
#endif

}  // namespace
