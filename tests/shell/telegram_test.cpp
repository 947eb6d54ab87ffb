// Telegrams against the fake universe: fetched when the universe says one waits, stored in
// the keyed database and kept over a restart, listed per citizen and sorted, opened into the
// console, deleted, written in dialog 619; a damaged database is moved aside.
#include <ctime>
#include <filesystem>

#include "client/core/identity.h"
#include "platform/progdir.h"
#include "tests/shell/shell_test_util.h"

using namespace shtest;

namespace {

const char* kConfig =
    R"({"citizens":[{"name":"alice","password":"secret","number":101},{"name":"bob","password":"hunter2","number":102},)"
    R"({"name":"Carol","password":"c","number":103}]})";

class TelegramTest : public ShellFixture {
 protected:
  void start_as(const char* name, const char* password, const std::string& config = kConfig) {
    ASSERT_NO_FATAL_FAILURE(start_shell(config));
    ASSERT_NO_FATAL_FAILURE(log_in(name, password));
    ASSERT_EQ(0, telegram_init());
    view = list("Veldara Telegrams");
    ASSERT_NE(nullptr, view);
  }
  // The tab control shows the page and a frame fills it.
  void show_page() {
    tab_select(TAB_TELEGRAMS);
    telegram_update();
    view = list("Veldara Telegrams");
  }
  // The fake queues a telegram for name and tells the client, which fetches it.
  void deliver(const std::string& to, const std::string& from, const std::string& text, size_t rows_after) {
    fake->command("telegram " + to + " " + from + " " + text);
    ASSERT_TRUE(run_until([&] { return static_cast<size_t>(telegram_stored(citizen_number())) >= rows_after; }));
  }
  // As at a new start of the program: the engine and the module closed and opened again.
  void restart() {
    telegram_term();
    telegram_reset();
    StopKeyedFileEngine();
    ASSERT_EQ(0, database_init());
    ASSERT_EQ(0, telegram_init());
    view = list("Veldara Telegrams");
  }

  RecordingList* view = nullptr;
};

TEST_F(TelegramTest, ArrivesIsStoredSurvivesARestartAndIsOpenedAndDeleted) {
  ASSERT_NO_FATAL_FAILURE(start_as("alice", "secret"));
  show_page();
  EXPECT_TRUE(view->rows.empty());
  EXPECT_EQ("m215", view->titles[0]);
  EXPECT_EQ("m214", view->titles[1]);
  fake->command("telegram alice bob hello there");
  // Reply 9 sets the flag; the next frame asks with message 34 (no fields).
  ASSERT_TRUE(run_until([] { return telegram_stored(101) == 1; }));
  EXPECT_NE("", fake->wait_for("frame 1 22", nullptr));
  ASSERT_EQ(1u, view->rows.size());
  EXPECT_EQ("bob", view->rows[0].c0);
  EXPECT_EQ(0, view->rows[0].image);  // unread
  EXPECT_EQ(0, view->visible);
  EXPECT_EQ(std::vector<std::string>{"4 m161: m61"}, console);

  ASSERT_NO_FATAL_FAILURE(restart());
  EXPECT_TRUE(view->rows.empty());  // not listed before the page is shown
  show_page();
  ASSERT_EQ(1, telegram_rows());
  telegram_row row;
  ASSERT_TRUE(telegram_row_at(0, &row));
  EXPECT_EQ("bob", row.sender);
  EXPECT_EQ(101, row.recipient);
  EXPECT_FALSE(row.read);

  view->selected = {0};
  view->events.click();
  ASSERT_EQ(2u, console.size());
  EXPECT_EQ("5 \nm98 bob m144: \nhello there\n", console[1]);
  EXPECT_EQ(SHELL_NO_IMAGE, view->rows[0].image);
  // The read flag is stored: after another restart the row is still read.
  ASSERT_NO_FATAL_FAILURE(restart());
  show_page();
  ASSERT_TRUE(telegram_row_at(0, &row));
  EXPECT_TRUE(row.read);
  EXPECT_EQ(SHELL_NO_IMAGE, view->rows[0].image);

  view->selected = {0};
  view->events.key(SHELL_KEY_DELETE);
  EXPECT_TRUE(view->rows.empty());
  EXPECT_EQ(0, telegram_stored(101));
  ASSERT_NO_FATAL_FAILURE(restart());
  show_page();
  EXPECT_EQ(0, telegram_rows());
}

TEST_F(TelegramTest, WaitingTelegramsAreFetchedInTurnAndOneSecondKeysStayApart) {
  // Two from bob with the same age, then one more: "more" chains the fetches.
  ASSERT_NO_FATAL_FAILURE(start_as(
      "alice", "secret",
      R"({"citizens":[{"name":"alice","password":"secret","number":101},{"name":"bob","password":"b","number":102}],)"
      R"("telegrams":{"alice":[{"from":"bob","text":"one","age":30},{"from":"bob","text":"two","age":30}]}})"));
  show_page();
  ASSERT_NO_FATAL_FAILURE(deliver("alice", "bob", "three", 3));
  ASSERT_EQ(3, telegram_rows());
  telegram_row a, b, c;
  ASSERT_TRUE(telegram_row_at(0, &a));
  ASSERT_TRUE(telegram_row_at(1, &b));
  ASSERT_TRUE(telegram_row_at(2, &c));
  EXPECT_EQ(a.time + 1, b.time);
  EXPECT_GE(c.time, b.time);
  EXPECT_FALSE(telegram_is_waiting());
  // Only the last of the chain is announced.
  EXPECT_EQ(std::vector<std::string>{"4 m161: m61"}, console);
}

TEST_F(TelegramTest, KeysAreLittleEndianWithTheSenderCutAndPadded) {
  uint8_t key[TELEGRAM_KEY_LENGTH];
  telegram_make_key(key, 0x01020304u, 0x0A0B0C0D, "abcdefghijklmnopqrst");
  EXPECT_EQ("04030201" "0d0c0b0a" "6162636465666768696a6b6c6d6e6f70" "00", testutil::hex_of(key, sizeof key));
  telegram_make_key(key, 0xF0000001u, 101, "bob");
  EXPECT_EQ("010000f0" "65000000" "626f62" "00000000000000000000000000" "00", testutil::hex_of(key, sizeof key));
}

TEST_F(TelegramTest, SortingByColumnsIsKeptAndEachCitizenSeesOnlyTheirOwn) {
  ASSERT_NO_FATAL_FAILURE(start_as("alice", "secret"));
  show_page();
  ASSERT_NO_FATAL_FAILURE(deliver("alice", "bob", "b", 1));
  ASSERT_NO_FATAL_FAILURE(deliver("alice", "Carol", "c", 2));
  ASSERT_NO_FATAL_FAILURE(deliver("alice", "alice", "a", 3));
  EXPECT_EQ(TELEGRAM_SORT_DATE, telegram_sort_mode());
  EXPECT_EQ("bob Carol alice", view->column0());  // appended in arrival order
  view->events.column_click(0);
  EXPECT_EQ("alice bob Carol", view->column0());  // without regard to case
  view->events.column_click(0);
  EXPECT_EQ("Carol bob alice", view->column0());
  EXPECT_EQ(TELEGRAM_SORT_SENDER_DOWN, profile_int("layout", "telegram_sort"));
  // Descending modes put a new arrival at the top.
  ASSERT_NO_FATAL_FAILURE(deliver("alice", "bob", "d", 4));
  EXPECT_EQ("bob Carol bob alice", view->column0());
  view->events.column_click(1);
  EXPECT_EQ(TELEGRAM_SORT_DATE, telegram_sort_mode());
  view->events.column_click(1);
  EXPECT_EQ(TELEGRAM_SORT_DATE_DOWN, telegram_sort_mode());
  telegram_row first, last;
  ASSERT_TRUE(telegram_row_at(0, &first));
  ASSERT_TRUE(telegram_row_at(3, &last));
  EXPECT_GE(first.time, last.time);
  // The mode is read back at the next start.
  telegram_reset();
  ASSERT_EQ(0, telegram_init());
  EXPECT_EQ(TELEGRAM_SORT_DATE_DOWN, telegram_sort_mode());
  view = list("Veldara Telegrams");

  // Bob on the same program: the next showing lists only bob's (none).
  ASSERT_NO_FATAL_FAILURE(log_in("bob", "hunter2"));
  show_page();
  EXPECT_EQ(0, telegram_rows());
  ASSERT_NO_FATAL_FAILURE(log_in("alice", "secret"));
  telegram_update();
  EXPECT_EQ(4, telegram_rows());
}

TEST_F(TelegramTest, TelegramsOfOneSecondSortTheSameWayEveryTime) {
  ASSERT_NO_FATAL_FAILURE(start_as("alice", "secret"));
  show_page();
  // Twenty senders whose telegrams all carry one arrival second (reply 10 as the connection
  // hands it on): by date, equal times fall back to the rest of the key, in both directions.
  const int32_t age = static_cast<int32_t>(std::time(nullptr) - 1000000);
  for (int i = 19; i >= 0; --i) {
    char sender[8];
    std::snprintf(sender, sizeof sender, "s%02d", i);
    universe_receiver.telegram_receive(age, sender, "t", 0);
  }
  ASSERT_EQ(20, telegram_rows());
  view->events.column_click(1);  // date, descending
  view->events.column_click(1);  // date, ascending
  std::string ascending = view->column0();
  EXPECT_EQ(0u, ascending.find("s00 s01 s02"));
  view->events.column_click(1);
  std::string descending = view->column0();
  EXPECT_EQ(0u, descending.find("s19 s18 s17"));
  view->events.column_click(1);
  EXPECT_EQ(ascending, view->column0());
}

TEST_F(TelegramTest, DeletingSelectedRowsSelectsTheNextOrTheOneBefore) {
  ASSERT_NO_FATAL_FAILURE(start_as("alice", "secret"));
  show_page();
  for (int i = 1; i <= 5; ++i) ASSERT_NO_FATAL_FAILURE(deliver("alice", "s" + std::to_string(i), "t", i));
  ASSERT_EQ("s1 s2 s3 s4 s5", view->column0());
  view->selected = {1, 3};
  view->menu_answer = TELEGRAM_MENU_DELETE;
  view->events.right_click();
  EXPECT_FALSE(view->enabled(TELEGRAM_MENU_REPLY));  // reply only with one selected
  EXPECT_TRUE(view->enabled(TELEGRAM_MENU_DELETE));
  EXPECT_EQ("s1 s3 s5", view->column0());
  EXPECT_EQ(std::vector<int>{2}, view->selected);  // s5 took the last removed place
  EXPECT_EQ(3, telegram_stored(101));
  view->selected = {2};
  view->events.key(SHELL_KEY_DELETE);
  EXPECT_EQ("s1 s3", view->column0());
  EXPECT_EQ(std::vector<int>{1}, view->selected);
  // Nothing selected: no pop-up at all.
  view->selected.clear();
  view->last_menu.clear();
  view->events.right_click();
  EXPECT_TRUE(view->last_menu.empty());
}

TEST_F(TelegramTest, WithSeveralRowsSelectedNeitherEnterNorAClickOpensOne) {
  ASSERT_NO_FATAL_FAILURE(start_as("alice", "secret"));
  show_page();
  ASSERT_NO_FATAL_FAILURE(deliver("alice", "bob", "first", 1));
  ASSERT_NO_FATAL_FAILURE(deliver("alice", "Carol", "second", 2));
  const size_t lines = console.size();
  view->selected = {0, 1};
  view->events.key(SHELL_KEY_ENTER);
  view->events.click();
  EXPECT_EQ(lines, console.size());
  telegram_row row;
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(telegram_row_at(i, &row));
    EXPECT_FALSE(row.read) << i;
    EXPECT_EQ(0, view->rows[i].image) << i;
  }
  // One selected: Enter opens that one only.
  view->selected = {1};
  view->events.key(SHELL_KEY_ENTER);
  ASSERT_EQ(lines + 1, console.size());
  EXPECT_EQ("5 \nm98 Carol m144: \nsecond\n", console.back());
  ASSERT_TRUE(telegram_row_at(0, &row));
  EXPECT_FALSE(row.read);
  ASSERT_TRUE(telegram_row_at(1, &row));
  EXPECT_TRUE(row.read);
}

TEST_F(TelegramTest, TheSendDialogLooksUpTheRecipientAndSendsTheText) {
  ASSERT_NO_FATAL_FAILURE(start_as("alice", "secret"));
  std::string sent;
  dialogs.add(TELEGRAM_DIALOG, {
                                   [](ScriptedView& v) {
                                     EXPECT_EQ("m431", v.title());
                                     EXPECT_EQ("nobody", v.control(TELEGRAM_RECIPIENT).text);
                                     v.press(DIALOG_OK);
                                   },
                                   dialogs.wait_until([](ScriptedView& v) {
                                     return v.control(TELEGRAM_STATUS).text == "m3 nobody";
                                   }),
                                   [](ScriptedView& v) {
                                     EXPECT_FALSE(v.ended());
                                     v.type(TELEGRAM_RECIPIENT, "BOB");
                                     v.type(TELEGRAM_TEXT, "see you at noon");
                                     v.press(DIALOG_OK);
                                     EXPECT_EQ("m177", v.control(TELEGRAM_STATUS).text);
                                   },
                                   dialogs.wait_until([](ScriptedView& v) { return v.ended(); }),
                               });
  EXPECT_EQ(DIALOG_OK, telegram_send_dialog("nobody"));
  // Message 36 with the name, then 35 with bob's number and the text.
  EXPECT_EQ("24" + hex_string("nobody"), next_frame_of(36));
  EXPECT_EQ("24" + hex_string("BOB"), next_frame_of(36));
  EXPECT_EQ("23" "00000066" + hex_string("see you at noon"), next_frame_of(35));
  // A number answered while no dialog waits goes nowhere.
  EXPECT_EQ(0, universe_get_citizen_number("bob"));
  pump_for(100);
}

TEST_F(TelegramTest, ReplyFromThePopUpPreFillsTheSender) {
  ASSERT_NO_FATAL_FAILURE(start_as("alice", "secret"));
  show_page();
  ASSERT_NO_FATAL_FAILURE(deliver("alice", "Carol", "hi", 1));
  std::string prefilled;
  dialogs.add(TELEGRAM_DIALOG, {[&](ScriptedView& v) {
                prefilled = v.control(TELEGRAM_RECIPIENT).text;
                v.press(DIALOG_CANCEL);
              }});
  view->selected = {0};
  view->menu_answer = TELEGRAM_MENU_REPLY;
  view->events.right_click();
  EXPECT_TRUE(view->enabled(TELEGRAM_MENU_REPLY));
  EXPECT_EQ("Carol", prefilled);
}

TEST_F(TelegramTest, ADamagedDatabaseIsMovedAsideAndANewOneServes) {
  ASSERT_NO_FATAL_FAILURE(start_shell(kConfig));
  const std::string base = platform_program_dir() + "/telegram";
  testutil::write_file(base + ".dat", std::string(700, '\x5a'));
  testutil::write_file(base + ".idx", std::string(300, '\xa5'));
  ASSERT_EQ(0, telegram_init());
  bool kept = false;
  for (auto& e : std::filesystem::directory_iterator(platform_program_dir())) {
    std::string n = e.path().filename().string();
    if (n.rfind("telegram-damaged", 0) == 0 && n.size() > 4 && n.substr(n.size() - 4) == ".dat")
      kept = kept || testutil::read_file(e.path().string()) == std::string(700, '\x5a');
  }
  EXPECT_TRUE(kept);
  ASSERT_NO_FATAL_FAILURE(log_in("alice", "secret"));
  tab_select(TAB_TELEGRAMS);
  telegram_update();
  ASSERT_NO_FATAL_FAILURE(deliver("alice", "bob", "after", 1));
  EXPECT_EQ(1, telegram_rows());
}

}  // namespace

// ---------------------------------------------------------------- damaged records and stores

namespace {

class TelegramDamageTest : public TelegramTest {};

TEST_F(TelegramDamageTest, ARecordThatCannotBeReadIsPassedOverAndToldOnce) {
  ASSERT_NO_FATAL_FAILURE(start_shell(kConfig));
  citizen_set_number(101);
  ASSERT_EQ(0, telegram_init());
  const int32_t age = static_cast<int32_t>(std::time(nullptr) - 1000000);
  for (int i = 1; i <= 8; ++i) universe_receiver.telegram_receive(age, ("s" + std::to_string(i)).c_str(), "t", 0);
  ASSERT_EQ(8, telegram_stored(101));
  telegram_reset();
  // The fourth record's mark broken on disk.
  const std::string base = platform_program_dir() + "/telegram";
  database* db = database_open(base.c_str(), TELEGRAM_KEY_LENGTH, 0, 4096, 1024, 0, 1, 1);
  ASSERT_NE(nullptr, db);
  std::vector<std::vector<uint8_t>> keys;
  uint8_t key[TELEGRAM_KEY_LENGTH];
  uint8_t* record = nullptr;
  while (database_fetch_next(db, key, &record)) {
    keys.emplace_back(key, key + sizeof key);
    std::free(record);
  }
  ASSERT_EQ(8u, keys.size());
  const int32_t pos = GetKey(db->index_file, keys[3].data());
  database_close(db);
  ASSERT_GT(pos, 0);
  std::string dat = testutil::read_file(base + ".dat");
  dat.at(static_cast<size_t>(pos)) ^= '\xff';
  dat.at(static_cast<size_t>(pos) + 1) ^= '\xff';
  testutil::write_file(base + ".dat", dat);

  console.clear();
  ASSERT_EQ(0, telegram_init());
  view = list("Veldara Telegrams");
  ASSERT_NE(nullptr, view);
  show_page();
  EXPECT_EQ(7, telegram_rows());
  EXPECT_EQ("s1 s2 s3 s5 s6 s7 s8", view->column0());
  ASSERT_EQ(1u, console.size()) << "told once";
  EXPECT_NE(std::string::npos, console[0].find("4 m161: " + base + ".dat: 1 ")) << console[0];
  // Listed over again (a count, another citizen, then back): still the one bad record.
  EXPECT_EQ(7, telegram_stored(101));
  citizen_set_number(102);
  telegram_update();
  citizen_set_number(101);
  telegram_update();
  EXPECT_EQ(7, telegram_rows());
  ASSERT_EQ(3u, console.size());
  for (const std::string& line : console) EXPECT_NE(std::string::npos, line.find(base + ".dat: 1 ")) << line;
  EXPECT_FALSE(std::filesystem::exists(base + "-damaged1.dat"));
}

}  // namespace
