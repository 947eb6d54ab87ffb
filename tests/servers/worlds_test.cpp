// The worlds list: the fake universe's list filling a recording view, sorting, filters, the
// current world's mark, the minute's refresh, clicks that teleport, and bad lists.
#include <gtest/gtest.h>

#include "client/servers/teleport.h"
#include "client/servers/world.h"
#include "tests/servers/servers_test_util.h"

using namespace stest;

namespace {

struct Row {
  intptr_t item;
  std::string name, users;
  int image;
};

class RecordingList : public WorldsListView {
 public:
  std::vector<Row> rows;
  std::string titles[2];
  int widths[2] = {-1, -1};
  intptr_t chosen = 0;
  bool shown = true;
  int menu_answer = 0;
  std::vector<MenuItem> last_menu;
  intptr_t next = 1;

  void set_redraw(bool) override {}
  void clear() override { rows.clear(); }
  intptr_t add(const char* name, const char* users, int image) override {
    rows.push_back({next, name, users, image});
    return next++;
  }
  void set_image(intptr_t item, int image) override {
    for (Row& r : rows)
      if (r.item == item) r.image = image;
  }
  void set_column_title(int column, const char* text) override { titles[column] = text; }
  void set_column_width(int column, int width) override { widths[column] = width; }
  intptr_t selected() override { return chosen; }
  void show(bool on) override { shown = on; }
  void move(int, int, int, int) override {}
  int popup_menu(const MenuItem* items, size_t count) override {
    last_menu.assign(items, items + count);
    return menu_answer;
  }

  std::string names() const {
    std::string s;
    for (const Row& r : rows) s += (s.empty() ? "" : " ") + r.name + ":" + r.users + ":" + std::to_string(r.image);
    return s;
  }
  void select(const std::string& name) {
    chosen = 0;
    for (const Row& r : rows)
      if (r.name == name) chosen = r.item;
  }
};

RecordingList* list = nullptr;
std::string current;
bool kiosk = false;
int focus_calls = 0;
std::vector<std::string> teleports, dialogs_opened;

class WorldsTest : public UniverseFixture {
 protected:
  void SetUp() override {
    UniverseFixture::SetUp();
    current.clear();
    kiosk = false;
    focus_calls = 0;
    teleports.clear();
    dialogs_opened.clear();
    worlds_reset();
    worlds_list_destroyed(nullptr);
    view = std::make_unique<RecordingList>();
    list = view.get();
    worlds_set_list_maker([]() -> WorldsListView* { return list; });
    worlds_hook = worlds_hooks{};
    worlds_hook.teleport = [](const char* n, float x, float y, float z, float yaw, int h) {
      char b[128];
      std::snprintf(b, sizeof b, "%s %.1f %.1f %.1f %.1f %d", n, x, y, z, yaw, h);
      teleports.emplace_back(b);
    };
    worlds_hook.teleport_dialog = [](const char* n) {
      dialogs_opened.emplace_back(n);
      return 0;
    };
    worlds_hook.set_focus = [] { ++focus_calls; };
    worlds_hook.current_world = [] { return current.c_str(); };
    worlds_hook.kiosk = [] { return kiosk; };
  }
  void TearDown() override {
    worlds_list_destroyed(list);
    worlds_set_list_maker(nullptr);
    worlds_hook = worlds_default_hooks();
    world_hook.worlds_mark_current = nullptr;
    UniverseFixture::TearDown();
  }

  // Shows the page and takes the list the first frame asks for.
  void first_list() {
    ASSERT_EQ(0, worlds_init());
    worlds_show();
    worlds_update();
    EXPECT_EQ("26", next_frame_of(38));
    ASSERT_TRUE(poll_until([] {
      universe_update();
      return worlds_count() > 0;
    }));
  }

  FakeClock clock;
  std::unique_ptr<RecordingList> view;
};

TEST_F(WorldsTest, FirstShownFrameAsksAtOnceAndTheListFillsByName) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(first_list());
  EXPECT_EQ("alpha:0:0 Beta:3:2 gamma:12:1 Zeta:3:1", list->names());
  EXPECT_EQ("m164 4", list->titles[0]);
  EXPECT_EQ("m165 18", list->titles[1]);
  EXPECT_EQ(75, list->widths[0]);
  EXPECT_EQ(60, list->widths[1]);
  // Not again within the minute, and not at all while hidden.
  fake_now += WORLDS_REFRESH - 1;
  worlds_update();
  worlds_hide();
  fake_now += WORLDS_REFRESH;
  worlds_update();
  for (auto& l : fake->collect(200, [] { universe_update(); })) EXPECT_NE("frame 1 26", l);
  worlds_show();
  worlds_update();
  EXPECT_EQ("26", next_frame_of(38));
}

TEST_F(WorldsTest, HiddenPageAsksNothing) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(0, worlds_init());
  EXPECT_FALSE(list->shown);
  worlds_update();
  for (auto& l : fake->collect(200, [] { universe_update(); })) EXPECT_NE("frame 1 26", l);
}

TEST_F(WorldsTest, SortingByUsersKeepsEqualCountsInNameOrderAndIsStored) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(first_list());
  worlds_list_column_click(1);
  EXPECT_EQ("gamma:12:1 Beta:3:2 Zeta:3:1 alpha:0:0", list->names());
  EXPECT_EQ(1, profile_int("layout", "world_sort"));
  worlds_list_column_click(2);  // no such column: unchanged
  EXPECT_EQ(WORLDS_SORT_USERS, worlds_sort_mode());
  worlds_list_column_click(0);
  EXPECT_EQ("alpha:0:0 Beta:3:2 gamma:12:1 Zeta:3:1", list->names());
  EXPECT_EQ(0, profile_int("layout", "world_sort"));
}

TEST_F(WorldsTest, FiltersHideEmptyWorldsEvenTheCurrentOneAndClosedWorlds) {
  ASSERT_NO_FATAL_FAILURE(start());
  current = "ALPHA";
  ASSERT_NO_FATAL_FAILURE(first_list());
  EXPECT_EQ(WORLDS_IMAGE_CURRENT, list->rows[0].image);
  EXPECT_STREQ("alpha", worlds_marked());
  list->menu_answer = WORLDS_MENU_EMPTY;
  worlds_list_right_click();
  EXPECT_EQ("Beta:3:2 gamma:12:1 Zeta:3:1", list->names());
  EXPECT_STREQ("", worlds_marked());
  EXPECT_EQ(0, profile_int("layout", "show_empty"));
  ASSERT_EQ(4u, list->last_menu.size());
  EXPECT_FALSE(list->last_menu[0].enabled);  // nothing selected
  EXPECT_TRUE(list->last_menu[2].checked);
  EXPECT_TRUE(list->last_menu[3].checked);
  list->menu_answer = WORLDS_MENU_CLOSED;
  worlds_list_right_click();
  EXPECT_EQ("gamma:12:1 Zeta:3:1", list->names());
  EXPECT_FALSE(list->last_menu[3].checked);
  EXPECT_EQ(0, profile_int("layout", "show_closed"));
  EXPECT_EQ("m164 2", list->titles[0]);
  // The stored filters hold for the next run.
  worlds_reset();
  ASSERT_EQ(0, worlds_init());
  worlds_receive_list(0, {{"one", 1, 1}, {"shut", 2, 5}, {"none", 0, 0}});
  EXPECT_EQ("one:1:1", list->names());
  EXPECT_EQ("m143", list->titles[0]);
  EXPECT_EQ("m147", list->titles[1]);
}

TEST_F(WorldsTest, CurrentWorldMarkMovesAndSurvivesANewList) {
  ASSERT_NO_FATAL_FAILURE(start());
  current = "zeta";
  ASSERT_NO_FATAL_FAILURE(first_list());
  EXPECT_EQ("alpha:0:0 Beta:3:2 gamma:12:1 Zeta:3:3", list->names());
  // The world connection's hook is this module's.
  ASSERT_NE(nullptr, world_hook.worlds_mark_current);
  world_hook.worlds_mark_current("GAMMA");
  EXPECT_EQ("alpha:0:0 Beta:3:2 gamma:12:3 Zeta:3:1", list->names());
  worlds_mark_current("nowhere");
  EXPECT_STREQ("gamma", worlds_marked());
  // A second list replaces the first whole; the old mark goes with it.
  inject(reply(0, 14, hex_string("Zeta") + "01" + hex_int16(7)));
  ASSERT_TRUE(poll_until([] {
    universe_update();
    return worlds_count() == 1;
  }));
  EXPECT_EQ("Zeta:7:3", list->names());
  EXPECT_STREQ("Zeta", worlds_marked());
  worlds_mark_current("gamma");
  EXPECT_STREQ("Zeta", worlds_marked());
}

TEST_F(WorldsTest, ClickTeleportsOnlyWhileShownAndNotInKioskMode) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(first_list());
  worlds_list_click();  // nothing selected
  list->select("gamma");
  worlds_list_click();
  EXPECT_EQ(std::vector<std::string>{"gamma 0.0 0.1 0.0 0.0 1"}, teleports);
  kiosk = true;
  worlds_list_click();
  worlds_list_right_click();
  kiosk = false;
  worlds_hide();
  worlds_list_click();
  EXPECT_EQ(1u, teleports.size());
  worlds_show();
  list->menu_answer = WORLDS_MENU_TELEPORT;
  worlds_list_right_click();
  EXPECT_TRUE(list->last_menu[0].enabled);
  EXPECT_EQ(std::vector<std::string>{"gamma"}, dialogs_opened);
}

TEST_F(WorldsTest, ChoosingAWorldAsksTheTeleportModuleForIt) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(first_list());
  teleport_hooks saved = teleport_hook;
  teleport_hook = teleport_hooks{};
  teleport_reset_state();
  worlds_hook.teleport = worlds_default_hooks().teleport;
  list->select("Zeta");
  worlds_list_click();
  ASSERT_NE(nullptr, teleport_waiting_name());
  EXPECT_STREQ("Zeta", teleport_waiting_name());
  float x, y, z, yaw;
  teleport_target(&x, &y, &z, &yaw);
  EXPECT_FLOAT_EQ(0.1f, y);
  teleport_reset_state();
  teleport_hook = saved;
}

TEST_F(WorldsTest, FocusTakenByTheListGoesBackOnTheNextFrame) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(0, worlds_init());
  worlds_list_focused();
  worlds_update();
  worlds_update();
  EXPECT_EQ(1, focus_calls);
}

TEST_F(WorldsTest, StoredLayoutIsRead) {
  ASSERT_NO_FATAL_FAILURE(start("", "[layout]\nworld_name=120\nworld_users=40\nworld_sort=1\nshow_closed=0\nshow_empty=1\n"));
  ASSERT_EQ(0, worlds_init());
  EXPECT_EQ(120, list->widths[0]);
  EXPECT_EQ(40, list->widths[1]);
  EXPECT_EQ(WORLDS_SORT_USERS, worlds_sort_mode());
  worlds_receive_list(0, {{"a", 1, 5}, {"b", 2, 9}, {"c", 0, 5}});
  EXPECT_EQ("a:5:1 c:5:0", list->names());
}

TEST_F(WorldsTest, BadListsNeverCrashAndRefusalsKeepTheList) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(first_list());
  // A refusal carries no list.
  inject(reply(3, 14, ""));
  pump_for(150);
  EXPECT_EQ(4, worlds_count());
  // A list cut short inside a record, or a name that claims more bytes than the message has,
  // leaves the list shown and the table behind it whole.
  const std::string before = list->names();
  inject(reply(0, 14, hex_string("big") + "01" + "ffff" + hex_string("cut") + "01"));
  inject(reply(0, 14, "ff" + hex_of("abc")));
  pump_for(200);
  EXPECT_EQ(4, worlds_count());
  EXPECT_EQ(before, list->names());
  worlds_list_column_click(1);
  EXPECT_EQ("gamma:12:1 Beta:3:2 Zeta:3:1 alpha:0:0", list->names());
  worlds_list_column_click(0);
  // Users are 16-bit unsigned.
  inject(reply(0, 14, hex_string("big") + "01" + "ffff"));
  ASSERT_TRUE(poll_until([] {
    universe_update();
    return worlds_count() == 1;
  }));
  EXPECT_EQ("big:65535:1", list->names());
  // An empty list.
  inject(reply(0, 14, ""));
  ASSERT_TRUE(poll_until([] {
    universe_update();
    return worlds_count() == 0;
  }));
  EXPECT_TRUE(list->rows.empty());
  EXPECT_EQ("m164 0", list->titles[0]);
  // Many worlds with the same name count as records but fill one row.
  std::string body;
  for (int i = 0; i < 300; ++i) body += hex_string("same") + "05" + hex_int16(i);
  inject(reply(0, 14, body));
  ASSERT_TRUE(poll_until([] {
    universe_update();
    return worlds_count() == 300;
  }));
  EXPECT_EQ("same:299:0", list->names());
}

}  // namespace
