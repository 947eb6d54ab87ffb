// Contacts against the fake universe: added by name through the pop-up and the prompt, shown
// online and offline as the universe reports them, deleted; "contacts.txt" read and written;
// contacts-only join requests; the universe attributes dialog.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "client/core/identity.h"
#include "client/servers/prompt.h"
#include "platform/progdir.h"
#include "tests/shell/shell_test_util.h"

using namespace shtest;

namespace {

const char* kConfig =
    R"({"citizens":[{"name":"alice","password":"secret","number":101},{"name":"bob","password":"hunter2","number":102},)"
    R"({"name":"carol","password":"c","number":103},{"name":"root","password":"r","number":1},)"
    // Known by number only: the universe's contact state for 77 keeps the contact.
    R"({"name":"spirit","password":"s","number":77}],)"
    R"("attributes":{"0":"100","1":"412","2":"500","3":"w1","4":"start"}})";

std::string contacts_file() { return testutil::read_file(platform_program_dir() + "/contacts.txt"); }

class ContactsTest : public ShellFixture {
 protected:
  void start_as(const char* name, const char* password, const std::string& ini = "",
                const std::string& file = "") {
    ASSERT_NO_FATAL_FAILURE(start_shell(kConfig, ini));
    if (!file.empty()) testutil::write_file(platform_program_dir() + "/contacts.txt", file);
    ASSERT_NO_FATAL_FAILURE(log_in(name, password));
    ASSERT_EQ(0, contacts_init());
    view = list("Veldara Contacts");
    ASSERT_NE(nullptr, view);
  }
  // A second citizen on a plain connection.
  std::unique_ptr<RawClient> other(const char* name, const char* password) {
    auto c = std::make_unique<RawClient>(fake->port());
    c->login(name, password);
    EXPECT_FALSE(c->reply_of(20).empty());
    return c;
  }
  bool row_is(int index, const std::string& name, const std::string& world, int image) {
    return static_cast<int>(view->rows.size()) > index && view->rows[index].c0 == name &&
           view->rows[index].c1 == world && view->rows[index].image == image;
  }

  RecordingList* view = nullptr;
};

TEST_F(ContactsTest, AContactIsAddedShownOnlineThenOfflineAndDeleted) {
  ASSERT_NO_FATAL_FAILURE(start_as("alice", "secret"));
  tab_select(TAB_CONTACTS);
  // No contacts: nothing is sent.
  contacts_update();
  EXPECT_EQ(0, contacts_count());
  // Add... from the pop-up, the name typed in the small prompt.
  dialogs.add(PROMPT_DIALOG_SMALL, {[](ScriptedView& v) {
                EXPECT_EQ("m168", v.title());
                EXPECT_EQ("m169", v.control(PROMPT_LABEL).text);
                v.type(PROMPT_EDIT, "bob");
                v.press(DIALOG_OK);
              }});
  view->menu_answer = CONTACTS_MENU_ADD;
  view->events.right_click();
  EXPECT_FALSE(view->enabled(CONTACTS_MENU_JOIN));
  EXPECT_FALSE(view->enabled(CONTACTS_MENU_TELEGRAM));
  EXPECT_TRUE(view->enabled(CONTACTS_MENU_ADD));
  EXPECT_EQ("24" + hex_string("bob"), next_frame_of(36));
  EXPECT_EQ("29" "00000066", next_frame_of(41));
  ASSERT_TRUE(run_until([&] { return row_is(0, "bob", "", SHELL_NO_IMAGE); }));
  EXPECT_EQ("102\n", contacts_file());
  EXPECT_EQ(nullptr, contacts_pending());

  // Bob logs in somewhere: the universe reports him online in his world.
  fake->command("world bob Zeta");
  ASSERT_NE("", fake->wait_for("ok world", nullptr));
  auto bob = other("bob", "hunter2");
  ASSERT_TRUE(run_until([&] { return row_is(0, "bob", "Zeta", 0); }));
  // And gone again: offline keeps the world but does not show it.
  bob.reset();
  ASSERT_TRUE(run_until([&] { return row_is(0, "bob", "", SHELL_NO_IMAGE); }));
  contacts_row r;
  ASSERT_TRUE(contacts_find(102, &r));
  EXPECT_FALSE(r.online);
  EXPECT_STREQ("Zeta", r.world);

  view->selected = {0};
  view->menu_answer = CONTACTS_MENU_DELETE;
  view->events.right_click();
  EXPECT_TRUE(view->enabled(CONTACTS_MENU_TELEGRAM));
  EXPECT_FALSE(view->enabled(CONTACTS_MENU_JOIN));  // offline
  EXPECT_EQ("2a" "00000066", next_frame_of(42));
  EXPECT_TRUE(view->rows.empty());
  EXPECT_EQ("", contacts_file());
  EXPECT_EQ(nullptr, contacts_lookup_name(102));
}

TEST_F(ContactsTest, TheFileIsReadWholeLineByLineUpToAHundredDistinctNumbers) {
  std::ostringstream file;
  file << "0\n102\n102\n123456789012\n  103\nnot a number\n";
  for (int i = 0; i < 120; ++i) file << 1000 + i << "\n";
  ASSERT_NO_FATAL_FAILURE(start_as("alice", "secret", "", file.str()));
  EXPECT_EQ(100, contacts_count());
  EXPECT_TRUE(contacts_full());
  // A long line is one number (too large here), not its first nine digits.
  EXPECT_EQ(nullptr, contacts_lookup_name(123456789));
  EXPECT_NE(nullptr, contacts_lookup_name(102));
  EXPECT_NE(nullptr, contacts_lookup_name(103));
  EXPECT_NE(nullptr, contacts_lookup_name(1097));
  EXPECT_EQ(nullptr, contacts_lookup_name(1098));
  // A full list offers no Add and takes no more.
  view->events.right_click();
  EXPECT_FALSE(view->enabled(CONTACTS_MENU_ADD));
  contacts_add("carol");
  EXPECT_EQ(nullptr, contacts_pending());
  // The page shown sends every number once (message 40), in table order. The numbers are
  // taken first: the universe's answer, states for numbers it does not know, may be read
  // while the frame is awaited, and it ends those contacts.
  std::string expected = "28";
  for (int32_t n : contacts_numbers()) expected += hex_int32(n);
  tab_select(TAB_CONTACTS);
  contacts_update();
  std::string frame = next_frame_of(40);
  EXPECT_EQ(expected, frame);
  EXPECT_EQ(2u + 100 * 8, frame.size());
}

// A FIFO as the list holds start-up for nothing and is no list; the list written then is a
// file of its own, and a link planted beside it is neither emptied nor followed.
TEST_F(ContactsTest, AFifoAsTheListIsEmptyAndALinkBesideItIsNotFollowed) {
  ASSERT_NO_FATAL_FAILURE(start_shell(kConfig, ""));
  const std::string path = platform_program_dir() + "/contacts.txt", theirs = platform_program_dir() + "/theirs";
  ASSERT_EQ(0, mkfifo(path.c_str(), 0600));
  testutil::write_file(theirs, "theirs\n");
  ASSERT_EQ(0, symlink(theirs.c_str(), (path + ".new").c_str()));
  testutil::FifoRelease release({path});
  ASSERT_NO_FATAL_FAILURE(log_in("alice", "secret"));
  ASSERT_EQ(0, contacts_init());
  EXPECT_FALSE(release.stop()) << "start-up waited on the FIFO";
  EXPECT_EQ(0, contacts_count());
  contacts_save();
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(path)));
  EXPECT_EQ("", contacts_file());
  EXPECT_EQ("theirs\n", testutil::read_file(theirs));
}

TEST_F(ContactsTest, StatesForUnknownNumbersEndTheReadingAndRemovalsRewriteTheFile) {
  ASSERT_NO_FATAL_FAILURE(start_as("alice", "secret", "", "102\n103\n"));
  tab_select(TAB_CONTACTS);
  contacts_update();
  ASSERT_TRUE(run_until([&] { return view->rows.size() == 2 && view->rows[0].c0 == "bob"; }));
  EXPECT_EQ("carol", view->rows[1].c0);
  // 999 is no contact: the reading stops there, carol's later record is not taken.
  inject(reply(0, 15, hex_int32(102) + "01" + hex_string("bob") + hex_string("Hub") + hex_int32(999) + "00" +
                          hex_string("x") + hex_int32(103) + "01" + hex_string("carol") + hex_string("Far")));
  ASSERT_TRUE(run_until([&] { return row_is(0, "bob", "Hub", 0); }));
  EXPECT_TRUE(row_is(1, "carol", "", SHELL_NO_IMAGE));
  // A state other than 0 and 1 removes the contact; the file follows at once.
  inject(reply(0, 15, hex_int32(103) + "05"));
  ASSERT_TRUE(run_until([&] { return view->rows.size() == 1; }));
  EXPECT_EQ("102\n", contacts_file());
  // A record cut short changes nothing further.
  inject(reply(0, 15, hex_int32(102) + "00" + "09" + "626f"));
  pump_for(100);
  EXPECT_TRUE(row_is(0, "bob", "Hub", 0));
}

TEST_F(ContactsTest, ANumberRefusedKeepsTheNamePendingForALaterAnswer) {
  ASSERT_NO_FATAL_FAILURE(start_as("alice", "secret"));
  contacts_add("");
  EXPECT_EQ(nullptr, contacts_pending());
  contacts_add("ghost");
  EXPECT_EQ("24" + hex_string("ghost"), next_frame_of(36));
  pump_for(100);
  ASSERT_NE(nullptr, contacts_pending());
  EXPECT_STREQ("ghost", contacts_pending());
  EXPECT_EQ(0, contacts_count());
  // The name given exactly is what completes it.
  inject(reply(0, 12, hex_string("Ghost") + hex_int32(77)));
  pump_for(100);
  EXPECT_EQ(0, contacts_count());
  inject(reply(0, 12, hex_string("ghost") + hex_int32(77)));
  ASSERT_TRUE(run_until([] { return contacts_count() == 1; }));
  EXPECT_EQ(nullptr, contacts_pending());
  EXPECT_EQ("29" "0000004d", next_frame_of(41));
  // Saved as the universe confirms the contact, which may take a few frames on a busy machine.
  EXPECT_TRUE(run_until([] { return contacts_file() == "77\n"; })) << contacts_file();
}

TEST_F(ContactsTest, NamesAreListedWithoutRegardToCase) {
  ASSERT_NO_FATAL_FAILURE(start_as("alice", "secret", "", "102\n103\n77\n"));
  tab_select(TAB_CONTACTS);
  contacts_update();
  // By byte value "Zed" and "Mia" would come before "amy".
  inject(reply(0, 15, hex_int32(102) + "00" + hex_string("Zed") + hex_int32(103) + "00" + hex_string("amy") +
                          hex_int32(77) + "00" + hex_string("Mia")));
  ASSERT_TRUE(run_until([&] { return view->column0() == "amy Mia Zed"; })) << view->column0();
}

TEST_F(ContactsTest, ANameOfTheLongestLengthIsAddedAndOneLongerIsNot) {
  ASSERT_NO_FATAL_FAILURE(start_as("alice", "secret"));
  const std::string longest(CONTACTS_NAME_LENGTH, 'n'), longer(CONTACTS_NAME_LENGTH + 1, 'l');
  contacts_add(longer.c_str());
  EXPECT_EQ("24" + hex_string(longer), next_frame_of(36));
  inject(reply(0, 12, hex_string(longer) + hex_int32(77)));
  pump_for(100);
  EXPECT_EQ(0, contacts_count());
  EXPECT_EQ(nullptr, contacts_lookup_name(77));
  contacts_add(longest.c_str());
  EXPECT_EQ("24" + hex_string(longest), next_frame_of(36));
  inject(reply(0, 12, hex_string(longest) + hex_int32(102)));
  ASSERT_TRUE(run_until([] { return contacts_count() == 1; }));
  ASSERT_NE(nullptr, contacts_lookup_name(102));
  EXPECT_EQ(longest, contacts_lookup_name(102));
}

TEST_F(ContactsTest, ContactsOnlyJoinsAcceptContactsAndRefuseStrangers) {
  ASSERT_NO_FATAL_FAILURE(start_as("alice", "secret", "[privacy]\njoin=1\nverify=1\n", "102\n"));
  auto bob = other("bob", "hunter2");
  auto carol = other("carol", "c");
  // Carol is no contact: refused at once with rc 250 (message 44).
  carol->send_request(43, RawClient::i32(101));
  EXPECT_EQ("2c" "fa" "00000067", next_frame_of(44));
  EXPECT_EQ(0, join_queue_length());
  // Bob is: his request waits for the user's answer.
  bob->send_request(43, RawClient::i32(101));
  ASSERT_TRUE(run_until([] { return join_queue_length() == 1; }));
  // Joining from the pop-up asks where an online contact is (message 43).
  tab_select(TAB_CONTACTS);
  contacts_update();
  ASSERT_TRUE(run_until([&] { return row_is(0, "bob", "", 0); }));
  view->selected = {0};
  view->menu_answer = CONTACTS_MENU_JOIN;
  view->events.right_click();
  EXPECT_TRUE(view->enabled(CONTACTS_MENU_JOIN));
  EXPECT_EQ("2b" "00000066", next_frame_of(43));
}

TEST_F(ContactsTest, ARepeatedLoginSendsTheListAgainAndAnotherIdentityItsOwn) {
  ASSERT_NO_FATAL_FAILURE(start_as("alice", "secret", "", "103\n"));
  tab_select(TAB_CONTACTS);
  contacts_update();
  EXPECT_EQ("28" "00000067", next_frame_of(40));
  // The connection logs in again by itself (as after a reconnection).
  ASSERT_EQ(0, universe_relogin());
  ASSERT_TRUE(run_until([] { return universe_logged_in(); }));
  contacts_update();
  EXPECT_EQ("28" "00000067", next_frame_of(40));
  // Logged out (number 0): the rows go.
  ASSERT_TRUE(run_until([&] { return !view->rows.empty(); }));
  citizen_set_number(0);
  contacts_update();
  EXPECT_TRUE(view->rows.empty());
  // Hidden, nothing is asked.
  tab_select(TAB_TELEGRAMS);
  citizen_set_number(101);
  contacts_update();
  EXPECT_EQ("", fake->wait_for("frame 1 28", [] { universe_update(); }, 300));
}

class AdminTest : public ShellFixture {};

TEST_F(AdminTest, OnlyCitizenOneMayChangeTheUniverseAttributes) {
  ASSERT_NO_FATAL_FAILURE(start_shell(kConfig));
  ASSERT_NO_FATAL_FAILURE(log_in("alice", "secret"));
  ASSERT_EQ(0, eject_init());
  ASSERT_TRUE(run_until([] { return universe_latest_browser() == 412; }));
  dialogs.add(ADMIN_DIALOG, {[](ScriptedView& v) {
                EXPECT_EQ("m438", v.title());
                EXPECT_EQ("412", v.control(ADMIN_LATEST_BROWSER).text);
                EXPECT_EQ("start", v.control(ADMIN_DEFAULT_WORLD).text);
                EXPECT_FALSE(v.control(ADMIN_MINIMUM_BROWSER).enabled);
                EXPECT_FALSE(v.press(DIALOG_OK));
                v.press(DIALOG_CANCEL);
              }});
  EXPECT_EQ(0, admin_universe());

  ASSERT_NO_FATAL_FAILURE(log_in("root", "r"));
  dialogs.add(ADMIN_DIALOG, {[](ScriptedView& v) {
                                EXPECT_TRUE(v.control(ADMIN_MINIMUM_BROWSER).enabled);
                                EXPECT_EQ(8u, v.control(ADMIN_DEFAULT_WORLD).limit);
                                v.type(ADMIN_LATEST_BROWSER, "420");
                                v.type(ADMIN_DEFAULT_WORLD, "Hub");
                                v.press(DIALOG_OK);
                              },
                              dialogs.wait_until([](ScriptedView& v) { return v.ended(); })});
  EXPECT_EQ(1, admin_universe());
  // Message 23: tagged strings 0 to 4 in order.
  EXPECT_EQ("17" "00" + hex_string("100") + "01" + hex_string("420") + "02" + hex_string("500") + "03" +
                hex_string("w1") + "04" + hex_string("Hub"),
            next_frame_of(23));
  // The fake answers with the new attributes (reply 21); an open dialog is refilled.
  ASSERT_TRUE(run_until([] { return universe_latest_browser() == 420; }));
  dialogs.add(ADMIN_DIALOG, {[](ScriptedView& v) {
                                v.set_text(ADMIN_DEFAULT_WORLD, "typed");
                                universe_set_attributes("100", "420", "500", "w1", "Else");
                              },
                              dialogs.wait_until([](ScriptedView& v) {
                                return v.control(ADMIN_DEFAULT_WORLD).text == "Else";
                              }),
                              [](ScriptedView& v) { v.press(DIALOG_CANCEL); }});
  EXPECT_EQ(0, admin_universe());
}

}  // namespace
