// The contacts and telegrams pages in the running program's main window: they lie in the tab
// control's page rectangle, the tab shows one of them, and what the universe hands on reaches
// the list on screen.
#include "client/core/identity.h"
#include "client/servers/universe.h"
#include "client/shell/contacts.h"
#include "client/shell/tab.h"
#include "client/shell/telegram.h"
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

}  // namespace
