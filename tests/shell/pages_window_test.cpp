// The contacts and telegrams pages in the running program's main window: they lie in the tab
// control's page rectangle, the tab shows one of them, and what the universe hands on reaches
// the list on screen.
#include <QMouseEvent>
#include <string>

#include "client/core/identity.h"
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

}  // namespace
