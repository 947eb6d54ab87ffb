// The contacts and telegrams pages in the running program's main window: they lie in the tab
// control's page rectangle, the tab shows one of them, and what the universe hands on reaches
// the list on screen.
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>
#include <QWindow>
#include <string>

#include "client/core/control_ids.h"
#include "client/core/identity.h"
#include "client/core/keys.h"
#include "client/servers/teleport.h"
#include "client/servers/worlds.h"
#include "client/shell/console.h"
#include "client/servers/universe.h"
#include "client/shell/contacts.h"
#include "client/shell/tab.h"
#include "client/shell/telegram.h"
#include "client/shell/chat.h"
#include "client/ui/chat_line.h"
#include "client/ui/shell_list.h"
#include "tests/shell/shell_fixture.h"

namespace {

class PagesWindowTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    telegram_reset();
    contacts_reset();
    shell_lists_qt_install(*qt_);  // as the entry does
  }
  void TearDown() override {
    ShellTest::TearDown();
    shell_set_list_maker(nullptr);
    telegram_reset();
    contacts_reset();
  }
  QtTabControl* tabs() { return qobject_cast<QtTabControl*>(child<QWidget>("Veldara Tab")); }
  QtShellList* page(const char* name) { return dynamic_cast<QtShellList*>(child<QWidget>(name)); }
  QTreeWidget* tree(const char* name) { return qobject_cast<QTreeWidget*>(child<QWidget>(name)); }

  // A mouse event on a row of a list, as the window system delivers it: to the main window's
  // own window, which hands the keyboard to what a press lands on.
  void mouse(QTreeWidget* list, int row, QEvent::Type type, Qt::MouseButton button = Qt::LeftButton) {
    QPoint in_rows = list->visualItemRect(list->topLevelItem(row)).center();
    QPointF at = list->viewport()->mapTo(main(), QPointF(in_rows));
    QMouseEvent e(type, at, at, main()->mapToGlobal(at), button,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : button, Qt::NoModifier);
    QApplication::sendEvent(main()->windowHandle(), &e);
  }
  void click(QTreeWidget* list, int row, Qt::MouseButton button = Qt::LeftButton) {
    mouse(list, row, QEvent::MouseButtonPress, button);
    mouse(list, row, QEvent::MouseButtonRelease, button);
  }
  // A key as a person presses it: to the window that has the keyboard, and on to the widget in
  // it that has it.
  void key(QEvent::Type type, int qt_key, const QString& text = QString()) {
    QWindow* w = QGuiApplication::focusWindow();
    QKeyEvent e(type, qt_key, Qt::NoModifier, text);
    QApplication::sendEvent(w ? w : main()->windowHandle(), &e);
  }
  // Up held: does the walk see it (the main window's key handling got it), with the list's
  // current row where it was?
  ::testing::AssertionResult up_walks(QTreeWidget* list) {
    settle();
    QTreeWidgetItem* row = list->currentItem();
    key_reset();
    key(QEvent::KeyPress, Qt::Key_Up);
    bool held = key_pressed(VK_KEY_UP);
    key(QEvent::KeyRelease, Qt::Key_Up);
    QWidget* has = QApplication::focusWidget();
    std::string who = has ? has->objectName().toStdString() : "nothing";
    if (!held) return ::testing::AssertionFailure() << "Up went to " << who << ", not the walk";
    if (list->currentItem() != row) return ::testing::AssertionFailure() << "Up moved " << who << "'s row";
    return ::testing::AssertionSuccess();
  }
  void show_page(int tab) {
    tabs()->bar()->setCurrentIndex(tab);
    settle();
  }
};

TEST_F(PagesWindowTest, ContactsAndTelegramsArePagesOfTheTabControl) {
  write_file(dir_.file("contacts.txt"), "102\n");
  ASSERT_NO_FATAL_FAILURE(start_to_running("[layout]\nmain_width=640\nmain_height=480\ntabpage=1\n"));
  QtShellList* contacts = page("Veldara Contacts");
  QtShellList* telegrams = page("Veldara Telegrams");
  QWidget* teleports = child<QWidget>("Veldara Teleport List");
  ASSERT_NE(nullptr, contacts);
  ASSERT_NE(nullptr, telegrams);
  ASSERT_NE(nullptr, teleports);
  EXPECT_TRUE(contacts->isVisible());
  EXPECT_FALSE(telegrams->isVisible());
  EXPECT_EQ(contacts->geometry(), teleports->geometry());
  EXPECT_EQ(telegrams->geometry(), teleports->geometry());
  EXPECT_EQ(QAbstractItemView::ExtendedSelection, telegrams->selectionMode());

  // The universe's state of the contact fills the list on screen.
  contacts_state(0, {universe_contact_entry{102, 1, "bob", "Hub"}});
  ASSERT_EQ(1, contacts->topLevelItemCount());
  EXPECT_EQ("bob", contacts->topLevelItem(0)->text(0));
  EXPECT_EQ("Hub", contacts->topLevelItem(0)->text(1));

  // The telegrams tab shows the other page, and a frame fills it for the citizen.
  tabs()->bar()->setCurrentIndex(TAB_TELEGRAMS);
  settle();
  EXPECT_TRUE(telegrams->isVisible());
  EXPECT_FALSE(contacts->isVisible());
  EXPECT_EQ(TAB_TELEGRAMS, profile_int("layout", "tabpage"));
  citizen_set_number(101);
  settle();
  universe_receiver.telegram_receive(0, "carol", "hello", 0);
  ASSERT_EQ(1, telegrams->topLevelItemCount());
  EXPECT_EQ("carol", telegrams->topLevelItem(0)->text(0));
  EXPECT_FALSE(telegrams->topLevelItem(0)->icon(0).isNull());  // unread
}

// A double click on a telegram, as the window system delivers it (press, release, second
// press, release), opens it into the console once.
TEST_F(PagesWindowTest, ADoubleClickedTelegramIsPrintedOnce) {
  chat_qt_install(*qt_);  // the console on screen, as the entry makes it
  ASSERT_NO_FATAL_FAILURE(start_to_running("[layout]\nmain_width=640\nmain_height=480\ntabpage=2\n"));
  QtShellList* telegrams = page("Veldara Telegrams");
  ASSERT_NE(nullptr, telegrams);
  citizen_set_number(101);
  settle();
  universe_receiver.telegram_receive(0, "carol", "meet at the fountain", 0);
  ASSERT_EQ(1, telegrams->topLevelItemCount());
  QWidget* rows = telegrams->viewport();
  QPoint at = telegrams->visualItemRect(telegrams->topLevelItem(0)).center();
  auto send = [&](QEvent::Type type) {
    QMouseEvent e(type, at, rows->mapToGlobal(at), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(rows, &e);
  };
  auto printed = [] {
    std::string text = console_text();
    int n = 0;
    for (size_t p = text.find("meet at the fountain"); p != std::string::npos;
         p = text.find("meet at the fountain", p + 1))
      ++n;
    return n;
  };
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                            QEvent::MouseButtonRelease})
    send(type);
  settle();
  EXPECT_EQ(1, printed());
  // A later single click opens it again.
  send(QEvent::MouseButtonPress);
  send(QEvent::MouseButtonRelease);
  EXPECT_EQ(2, printed());
  stop();
  chat_set_view_maker(nullptr);
  console_set_view_maker(nullptr);
}

// Once a row of a page list was acted on (a telegram opened, a world or a teleport entered, a
// contact joined), the keyboard is the main window's again: Up walks instead of moving the
// list's selection.
TEST_F(PagesWindowTest, ARowActedOnLeavesTheArrowsToTheView) {
  chat_qt_install(*qt_);
  write_file(dir_.file("contacts.txt"), "102\n");
  write_file(dir_.file("teleport.txt"), "a 1N 1W 0a 0:pear\nb 2N 2W 0a 0:plum\n");
  ASSERT_NO_FATAL_FAILURE(start_to_running("[layout]\nmain_width=640\nmain_height=480\ntabpage=2\n"));
  main()->show();
  main()->activateWindow();
  settle();
  ASSERT_EQ(main()->windowHandle(), QGuiApplication::focusWindow());

  // Telegrams: opened by a click, by Enter and by a double click.
  QtShellList* telegrams = page("Veldara Telegrams");
  ASSERT_NE(nullptr, telegrams);
  citizen_set_number(101);
  settle();
  universe_receiver.telegram_receive(0, "carol", "meet at the fountain", 0);
  universe_receiver.telegram_receive(0, "dave", "bring the map", 0);
  ASSERT_EQ(2, telegrams->topLevelItemCount());
  int shown = 0;
  auto opened = [&] {  // opened once more since last asked
    std::string text = console_text();
    int n = 0;
    for (size_t p = text.find("bring the map"); p != std::string::npos; p = text.find("bring the map", p + 1)) ++n;
    bool more = n == shown + 1;
    shown = n;
    return more;
  };
  int dave = telegrams->topLevelItem(0)->text(0) == "dave" ? 0 : 1;
  click(telegrams, dave);
  EXPECT_TRUE(opened());
  EXPECT_TRUE(up_walks(telegrams)) << "after a click";
  telegrams->setFocus(Qt::TabFocusReason);  // the keyboard given to the list
  ASSERT_EQ(telegrams, QApplication::focusWidget());
  key(QEvent::KeyPress, Qt::Key_Return, "\r");
  key(QEvent::KeyRelease, Qt::Key_Return, "\r");
  EXPECT_TRUE(opened());
  EXPECT_TRUE(up_walks(telegrams)) << "after Enter";
  // The second press of a double click comes before the double click itself.
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonPress,
                            QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease})
    mouse(telegrams, dave, type);
  EXPECT_TRUE(opened());
  EXPECT_TRUE(up_walks(telegrams)) << "after a double click";

  // Teleports: a click on a row goes there.
  show_page(TAB_TELEPORTS);
  QTreeWidget* teleports = tree("Veldara Teleport List");
  ASSERT_NE(nullptr, teleports);
  ASSERT_EQ(2, teleports->topLevelItemCount());
  click(teleports, 1);
  EXPECT_TRUE(up_walks(teleports)) << "after a teleport";

  // Worlds: a click on a row enters it.
  show_page(TAB_WORLDS);
  QTreeWidget* worlds = tree("Veldara World List");
  ASSERT_NE(nullptr, worlds);
  worlds_receive_list(0, {{"alpha", 1, 2}, {"beta", 1, 1}});
  ASSERT_EQ(2, worlds->topLevelItemCount());
  click(worlds, 1);
  ASSERT_NE(nullptr, teleport_waiting_name());
  EXPECT_TRUE(up_walks(worlds)) << "after entering a world";

  // Contacts: joined from the row's pop-up menu.
  show_page(TAB_CONTACTS);
  QtShellList* contacts = page("Veldara Contacts");
  ASSERT_NE(nullptr, contacts);
  contacts_state(0, {universe_contact_entry{102, 1, "bob", "Hub"}});
  ASSERT_EQ(1, contacts->topLevelItemCount());
  bool joined = false;
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    for (QAction* a : menu->actions())
      if (a->data().toInt() == CONTACTS_MENU_JOIN && a->isEnabled()) {
        joined = true;
        a->trigger();
      }
    menu->close();
  });
  click(contacts, 0, Qt::RightButton);
  ASSERT_TRUE(joined);
  EXPECT_TRUE(up_walks(contacts)) << "after a join";
  stop();
  chat_set_view_maker(nullptr);
  console_set_view_maker(nullptr);
}

}  // namespace
