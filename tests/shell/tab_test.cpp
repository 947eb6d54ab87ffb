// The tab control of the running program: the pages share the control's rectangle, one is
// shown at a time and remembered, narrow tabs show icons only, and notifications reach only
// the page whose control sent them.
#include <QHeaderView>
#include <QMouseEvent>

#include "client/core/profile.h"
#include "client/servers/teleport.h"
#include "client/servers/universe.h"
#include "client/servers/worlds.h"
#include "client/shell/tab.h"
#include "tests/shell/shell_fixture.h"

namespace {

class TabTest : public ShellTest {
 protected:
  QtTabControl* tabs() { return qobject_cast<QtTabControl*>(child<QWidget>("Veldara Tab")); }
  QtWorldsList* worlds() { return qobject_cast<QtWorldsList*>(child<QWidget>("Veldara World List")); }
  QtTeleportTree* teleports() { return qobject_cast<QtTeleportTree*>(child<QWidget>("Veldara Teleport List")); }
};

TEST_F(TabTest, PagesShareTheRectangleAndOneIsShown) {
  ASSERT_NO_FATAL_FAILURE(start_to_running());
  ASSERT_NE(tabs(), nullptr);
  ASSERT_NE(worlds(), nullptr);
  ASSERT_NE(teleports(), nullptr);
  // The stored page when none is stored: the remembered teleports.
  EXPECT_EQ(tab_current(), TAB_TELEPORTS);
  EXPECT_TRUE(teleports()->isVisible());
  EXPECT_FALSE(worlds()->isVisible());
  EXPECT_EQ(tabs()->bar()->currentIndex(), TAB_TELEPORTS);
  // Both pages lie inside the control, below its tabs, in one rectangle.
  EXPECT_EQ(worlds()->geometry(), teleports()->geometry());
  EXPECT_TRUE(tabs()->geometry().contains(teleports()->geometry()));
  EXPECT_GT(teleports()->y(), tabs()->y() + tabs()->bar()->height() - 2);
  EXPECT_GT(teleports()->width(), 100);
  EXPECT_EQ(tabs()->bar()->tabText(TAB_WORLDS), "Worlds");
  EXPECT_EQ(tabs()->bar()->tabText(TAB_HELP), "Help");
  EXPECT_FALSE(tabs()->bar()->tabIcon(TAB_TELEGRAMS).isNull());

  // The user picks the worlds tab.
  tabs()->bar()->setCurrentIndex(TAB_WORLDS);
  settle();
  EXPECT_TRUE(worlds()->isVisible());
  EXPECT_FALSE(teleports()->isVisible());
  EXPECT_EQ(profile_int("layout", "tabpage"), TAB_WORLDS);
  // Command 105 turns to the help page: an empty page hides the others.
  command(105);
  EXPECT_EQ(tabs()->bar()->currentIndex(), TAB_HELP);
  EXPECT_FALSE(worlds()->isVisible());
  EXPECT_FALSE(teleports()->isVisible());
  EXPECT_EQ(profile_int("layout", "tabpage"), TAB_HELP);
}

TEST_F(TabTest, StoredPageOpensAndNarrowTabsShowIconsOnly) {
  ASSERT_NO_FATAL_FAILURE(start_to_running("[layout]\ntabpage=0\ntabx=80\nmain_width=640\nmain_height=480\n"));
  ASSERT_NE(tabs(), nullptr);
  EXPECT_EQ(tab_current(), TAB_WORLDS);
  EXPECT_TRUE(worlds()->isVisible());
  EXPECT_LE(tabs()->width(), TAB_ICONS_ONLY_WIDTH);
  for (int i = 0; i < TAB_PAGES; ++i) {
    EXPECT_EQ(tabs()->bar()->tabText(i), "") << i;
    EXPECT_FALSE(tabs()->bar()->tabIcon(i).isNull()) << i;
  }
  // Wider again: the texts come back.
  tab_size(0, 150, 0, 300);
  EXPECT_EQ(tabs()->bar()->tabText(TAB_TELEPORTS), "Teleports");
  // A stored page out of range falls back to the teleports.
  restart("[layout]\ntabpage=9\n");
  EXPECT_EQ(tab_current(), TAB_TELEPORTS);
}

TEST_F(TabTest, NotificationsReachOnlyTheSendingPage) {
  ASSERT_NO_FATAL_FAILURE(start_to_running("[layout]\ntabpage=0\n"));
  worlds_receive_list(0, {{"alpha", 1, 2}, {"beta", 1, 1}});
  ASSERT_EQ(worlds()->topLevelItemCount(), 2);
  worlds()->setCurrentItem(worlds()->topLevelItem(1));
  // A click from no page's control, or from a page not shown, goes nowhere.
  tab_click(TAB_NO_PAGE);
  tab_click(TAB_TELEGRAMS);
  tab_click(TAB_TELEPORTS);
  EXPECT_EQ(teleport_waiting_name(), nullptr);
  // A click on the list itself enters the world under it.
  QRect r = worlds()->visualItemRect(worlds()->topLevelItem(1));
  QMouseEvent press(QEvent::MouseButtonPress, r.center(), worlds()->viewport()->mapToGlobal(r.center()),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(worlds()->viewport(), &press);
  ASSERT_NE(teleport_waiting_name(), nullptr);
  EXPECT_STREQ(teleport_waiting_name(), "beta");
  // A column header click sorts the page's list; widths the user drags are stored.
  int before = worlds_sort_mode();
  tab_column_click(TAB_WORLDS, 1);
  EXPECT_NE(worlds_sort_mode(), before);
  worlds()->header()->resizeSection(0, 111);
  EXPECT_EQ(profile_int("layout", "world_name"), 111);
  tab_save_columns(TAB_TELEGRAMS, 70, 80);
  EXPECT_EQ(profile_int("layout", "from"), 70);
  EXPECT_EQ(profile_int("layout", "date"), 80);
}

int teleports_begun = 0;

TEST_F(TabTest, ADoubleClickOnAWorldEntersItOnce) {
  ASSERT_NO_FATAL_FAILURE(start_to_running("[layout]\ntabpage=0\n"));
  worlds_receive_list(0, {{"vault", 1, 2}});
  const auto wired = teleport_hook.sound_effect;
  teleport_hook.sound_effect = [](const char*) { ++teleports_begun; };
  const QPoint at = worlds()->visualItemRect(worlds()->topLevelItem(0)).center();
  auto send = [&](QEvent::Type type, ulong time) {
    QMouseEvent e(type, at, worlds()->viewport()->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    e.setTimestamp(time);
    QApplication::sendEvent(worlds()->viewport(), &e);
  };
  send(QEvent::MouseButtonPress, 100);  // the run's first teleport makes no sound
  teleports_begun = 0;
  // A double click as the window system gives it: its second press comes as a press too.
  send(QEvent::MouseButtonPress, 1000);
  send(QEvent::MouseButtonPress, 1200);
  send(QEvent::MouseButtonDblClick, 1200);
  EXPECT_EQ(1, teleports_begun);
  send(QEvent::MouseButtonPress, 9000);
  EXPECT_EQ(2, teleports_begun);
  teleport_hook.sound_effect = wired;
}

}  // namespace
