// Teleports without a network: place texts, "teleport.txt", the rules of a plain teleport,
// home, dialog 605, remembering, the tree of remembered teleports behind a recording view,
// and the location history.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "client/servers/attributes.h"
#include "client/servers/prompt.h"
#include "tests/teleport/teleport_fixture.h"

using namespace tptest;

namespace {

// A tree that keeps its items in order of insertion and answers the next pop-up menu from
// a script.
class RecordingTree : public TeleportTreeView {
 public:
  struct Item {
    intptr_t handle;
    std::string text;
  };
  ~RecordingTree() override { teleport_tree_destroyed(this); }
  void set_redraw(bool on) override { redraw.push_back(on); }
  void clear() override { items.clear(); }
  intptr_t add(const char* label) override {
    items.push_back({next, label});
    return next++;
  }
  void set_item_text(intptr_t item, const char* label) override {
    for (auto& i : items)
      if (i.handle == item) i.text = label;
  }
  void select(intptr_t item) override { selected = item; }
  void edit_label(intptr_t item) override {
    // As the tree does: it asks the window whether the edit may start.
    editing = teleport_tree_begin_edit(item) ? item : 0;
  }
  void show(bool on) override { shown = on; }
  void move(int x, int y, int w, int h) override { rect = {x, y, w, h}; }
  int popup_menu(const MenuItem* menu, size_t count) override {
    last_menu.assign(menu, menu + count);
    return answer;
  }
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (auto& i : items) out.push_back(i.text);
    return out;
  }
  intptr_t handle_of(const std::string& text) const {
    for (auto& i : items)
      if (i.text == text) return i.handle;
    return 0;
  }
  bool enabled(int id) const {
    for (auto& m : last_menu)
      if (m.id == id) return m.enabled;
    return false;
  }

  std::vector<Item> items;
  std::vector<bool> redraw;
  std::vector<MenuItem> last_menu;
  intptr_t next = 100;
  intptr_t selected = 0;
  intptr_t editing = 0;
  bool shown = true;
  std::vector<int> rect;
  int answer = 0;
};

RecordingTree* tree = nullptr;

class Teleport : public TeleportFixture {
 protected:
  void SetUp() override {
    TeleportFixture::SetUp();
    recorded.forward_posts = false;
  }
  void TearDown() override {
    delete tree;
    tree = nullptr;
    TeleportFixture::TearDown();
  }
  // The tree page over a recording tree, with the file as given.
  void init_with(const std::string& file) {
    testutil::write_file(dir + "/teleport.txt", file);
    teleport_set_tree_maker([]() -> TeleportTreeView* {
      tree = new RecordingTree();
      return tree;
    });
    ASSERT_EQ(0, teleport_init());
    ASSERT_NE(nullptr, tree);
  }
  // The current world's name is set as the connection sets it when it connects.
  void be_in(const char* world) {
    world_connect(world);
    ASSERT_STREQ(world, world_name());
  }
  std::string file() { return testutil::read_file(dir + "/teleport.txt"); }
  std::vector<std::string> labels() {
    std::vector<std::string> out;
    for (size_t i = 0; i < teleport_count(); ++i) out.push_back(teleport_entry_at(i)->label);
    return out;
  }
};

// ---- place texts -----------------------------------------------------------------------

TEST(TeleportPlace, KnownAnswers) {
  EXPECT_EQ("0.0N 0.0W 0.0a 0", teleport_place_text(nullptr, 0, 0, 0, 0));
  // North from z >= 0, south below; west from x >= 0, east below; 360 added to a negative yaw.
  EXPECT_EQ("10.3N 0.5E 1.0a 270", teleport_place_text(nullptr, -0.5f, 1, 10.3f, -90));
  EXPECT_EQ("demo 2.0S 7.0W -3.5a 45", teleport_place_text("demo", 7, -3.5f, -2, 45));
  EXPECT_EQ("x 1234.6S 0.1E 120.0a 359", teleport_place_text("x", -0.1f, 120, -1234.56f, -1));
}

// ---- "teleport.txt" ----------------------------------------------------------------------

TEST_F(Teleport, TheFileSplitsAtTheFirstColonAndSkipsLinesWithout) {
  std::string long_line = "far 1N 1W 0a 0:" + std::string(300, 'L') + ":rest 2N 2W 0a 0\n";
  init_with("demo 1.0N 2.0W 0.0a 90:Home: the front door\n"
            "no colon here\n" +
            long_line +
            "tz 0.0N 0.0W 0.0a 0:Origin\r\n"
            "last 5N 5W 0a 0:Unended");
  ASSERT_EQ(4u, teleport_count());
  EXPECT_EQ("demo 1.0N 2.0W 0.0a 90", teleport_entry_at(0)->place);
  EXPECT_EQ("Home: the front door", teleport_entry_at(0)->label);
  // The over-long line is read cut to 255 characters; its rest is no entry of its own.
  EXPECT_EQ("far 1N 1W 0a 0", teleport_entry_at(1)->place);
  EXPECT_EQ(255u - 15u, teleport_entry_at(1)->label.size());
  EXPECT_EQ("Origin", teleport_entry_at(2)->label);
  EXPECT_EQ("Unended", teleport_entry_at(3)->label);
}

TEST_F(Teleport, AbsentFileIsAnEmptyList) {
  teleport_set_tree_maker([]() -> TeleportTreeView* {
    tree = new RecordingTree();
    return tree;
  });
  ASSERT_EQ(0, teleport_init());
  EXPECT_EQ(0u, teleport_count());
  EXPECT_TRUE(tree->items.empty());
  // Created hidden.
  EXPECT_FALSE(tree->shown);
  EXPECT_FALSE(teleport_shown());
}

// A FIFO in the list's place would hold start-up until a writer came: it is no list, and the
// next teleport remembered is written as a file in its place.
TEST_F(Teleport, AFifoAsTheFileIsAnEmptyListAndHoldsNothingUp) {
  std::string path = dir + "/teleport.txt";
  ASSERT_EQ(0, mkfifo(path.c_str(), 0600));
  testutil::FifoRelease release({path});
  teleport_set_tree_maker([]() -> TeleportTreeView* {
    tree = new RecordingTree();
    return tree;
  });
  ASSERT_EQ(0, teleport_init());
  EXPECT_FALSE(release.stop()) << "start-up waited on the FIFO";
  EXPECT_EQ(0u, teleport_count());
  ScriptedDialogs dialogs;
  dialogs.add(PROMPT_DIALOG_SMALL, {[](ScriptedView& v) {
                v.type(PROMPT_EDIT, "Kept");
                v.press(DIALOG_OK);
              }});
  teleport_remember();
  EXPECT_TRUE(std::filesystem::is_regular_file(path));
  EXPECT_NE(std::string::npos, file().find(":Kept\n"));
}

// The list is written to a fresh temporary: a link planted beside it is neither emptied nor
// followed, and the list stays a file of its own.
TEST_F(Teleport, ALinkBesideTheFileIsNotFollowedAndAnUnwritableFileKeepsTheList) {
  ASSERT_NO_FATAL_FAILURE(init_with("a 1.0N 1.0W 0.0a 0:First\n"));
  testutil::write_file(dir + "/theirs", "theirs\n");
  std::filesystem::create_symlink(dir + "/theirs", dir + "/teleport.txt.new");
  tree->answer = TELEPORT_MENU_DELETE;
  teleport_tree_right_down(tree->handle_of("First"));
  teleport_tree_right_up();
  EXPECT_EQ(0u, teleport_count());
  EXPECT_EQ("", file());
  EXPECT_FALSE(std::filesystem::is_symlink(dir + "/teleport.txt"));
  EXPECT_EQ("theirs\n", testutil::read_file(dir + "/theirs"));
  // Where the file itself is a folder nothing is written: the list in memory still grows.
  std::filesystem::remove(dir + "/teleport.txt");
  std::filesystem::create_directory(dir + "/teleport.txt");
  ScriptedDialogs dialogs;
  dialogs.add(PROMPT_DIALOG_SMALL, {[](ScriptedView& v) {
                v.type(PROMPT_EDIT, "Kept");
                v.press(DIALOG_OK);
              }});
  teleport_remember();
  EXPECT_EQ(std::vector<std::string>{"Kept"}, labels());
  EXPECT_EQ(std::vector<std::string>{"Kept"}, tree->texts());
  EXPECT_TRUE(std::filesystem::is_directory(dir + "/teleport.txt"));
}

// ---- a plain teleport ------------------------------------------------------------------

TEST_F(Teleport, WithinAWorldThatForbidsItOnlyTheOriginIsReached) {
  teleport_init();
  self_set_position(4, 4, 4, 4);
  teleport_forbid_within_world();
  teleport(nullptr, 10, 2, 20, 90, 0);
  EXPECT_EQ(0, self_get_x());
  EXPECT_EQ(0, self_get_y());
  EXPECT_EQ(0, self_get_z());
  EXPECT_EQ(0, self_get_yaw());
  // A warp keeps its coordinates, once.
  teleport_keep_coordinates(nullptr, 10, 2, 20, 90);
  EXPECT_EQ(10, self_get_x());
  EXPECT_EQ(20, self_get_z());
  EXPECT_EQ(90, self_get_yaw());
  teleport(nullptr, 5, 5, 5, 5, 0);
  EXPECT_EQ(0, self_get_x());
  // Allowed: the place asked for.
  teleport_allow_within_world();
  teleport(nullptr, 5, 1, 6, 7, 0);
  EXPECT_EQ(5, self_get_x());
  EXPECT_EQ(6, self_get_z());
}

TEST_F(Teleport, TheRunsFirstTeleportIsSilent) {
  teleport_init();
  teleport(nullptr, 0, 0, 0, 0, 0);
  EXPECT_TRUE(recorded.sounds.empty());
  teleport(nullptr, 0, 0, 0, 0, 0);
  teleport("elsewhere", 0, 0, 0, 0, 0);
  EXPECT_EQ((std::vector<std::string>{"deport1.wav", "deport1.wav"}), recorded.sounds);
}

// ---- home --------------------------------------------------------------------------------

TEST_F(Teleport, AnotherWorldIsLeftToTheTaskAndReplacesAWaitingOne) {
  teleport_init();
  teleport_forbid_within_world();
  self_set_position(1, 1, 1, 1);
  teleport("first", 1, 2, 3, 4, 0);
  teleport("second", 5, 6, 7, 8, 0);
  // Nothing moved yet; another world keeps its coordinates.
  EXPECT_EQ(1, self_get_x());
  ASSERT_NE(nullptr, teleport_waiting_name());
  EXPECT_STREQ("second", teleport_waiting_name());
  float x, y, z, yaw;
  teleport_target(&x, &y, &z, &yaw);
  EXPECT_EQ(5, x);
  EXPECT_EQ(6, y);
  EXPECT_EQ(7, z);
  EXPECT_EQ(8, yaw);
  EXPECT_FALSE(teleport_pending());
}

TEST_F(Teleport, HomeIsSetFromTheOwnPlaceAndPostedAsACommand) {
  teleport_init();
  EXPECT_EQ(0, teleport_home());
  EXPECT_TRUE(recorded.posts.empty());
  ASSERT_NO_FATAL_FAILURE(be_in("demo"));
  self_set_position(-3, 1.5, 12.25, -45);
  teleport_set_home();
  EXPECT_STREQ("demo", profile_string("start", "world"));
  EXPECT_STREQ("12.2N 3.0E 1.5a 315", profile_string("start", "location"));
  EXPECT_EQ(1, teleport_home());
  ASSERT_EQ(1u, recorded.posts.size());
  EXPECT_EQ("teleport demo 12.2N 3.0E 1.5a 315", recorded.posts[0]);
}

// ---- dialog 605 and remembering ------------------------------------------------------------

TEST_F(Teleport, TheDialogPostsWhatWasTyped) {
  teleport_init();
  ASSERT_NO_FATAL_FAILURE(be_in("demo"));
  ScriptedDialogs dialogs;
  dialogs.add(TELEPORT_DIALOG, {[](ScriptedView& v) {
                EXPECT_EQ("m434", v.title());
                EXPECT_EQ("m435", v.control(TELEPORT_WORLD_LABEL).text);
                EXPECT_EQ("m436", v.control(TELEPORT_COORDINATES_LABEL).text);
                EXPECT_EQ("m437", v.control(TELEPORT_HINT_LABEL).text);
                EXPECT_EQ("m136", v.control(DIALOG_OK).text);
                EXPECT_EQ("m137", v.control(DIALOG_CANCEL).text);
                // The current world, no coordinates.
                EXPECT_EQ("demo", v.control(TELEPORT_WORLD).text);
                EXPECT_EQ("", v.control(TELEPORT_COORDINATES).text);
                v.type(TELEPORT_WORLD, "tz");
                v.type(TELEPORT_COORDINATES, std::string(300, '5'));
                v.press(DIALOG_OK);
              }});
  EXPECT_EQ(DIALOG_OK, teleport_dialog(nullptr));
  ASSERT_EQ(1u, recorded.posts.size());
  // Both fields are read to 255 characters.
  EXPECT_EQ("teleport tz " + std::string(255, '5'), recorded.posts[0]);
  dialogs.add(TELEPORT_DIALOG, {[](ScriptedView& v) {
                EXPECT_EQ("given", v.control(TELEPORT_WORLD).text);
                v.press(DIALOG_CANCEL);
              }});
  EXPECT_EQ(DIALOG_CANCEL, teleport_dialog("given"));
  EXPECT_EQ(1u, recorded.posts.size());
}

TEST_F(Teleport, RememberingAddsANewestEntryAndRewritesTheFile) {
  ASSERT_NO_FATAL_FAILURE(init_with("demo 1.0N 1.0W 0.0a 0:Zebra\n"));
  ASSERT_NO_FATAL_FAILURE(be_in("demo"));
  self_set_position(2, 0.5, -3, 180);
  ScriptedDialogs dialogs;
  std::string offered;
  dialogs.add(PROMPT_DIALOG_SMALL, {[&offered](ScriptedView& v) {
                EXPECT_EQ("m172", v.title());
                EXPECT_EQ("m173", v.control(PROMPT_LABEL).text);
                offered = v.control(PROMPT_EDIT).text;
                v.type(PROMPT_EDIT, "apple: by the lake");
                v.press(DIALOG_OK);
              }});
  teleport_remember();
  // The default label: the world's title and the own position text.
  EXPECT_EQ(std::string(attribute_get(ATTR_TITLE)) + " " + self_position_text(), offered);
  EXPECT_EQ((std::vector<std::string>{"apple: by the lake", "Zebra"}), labels());
  EXPECT_EQ("demo 3.0S 2.0W 0.5a 180:apple: by the lake\ndemo 1.0N 1.0W 0.0a 0:Zebra\n", file());
  EXPECT_EQ((std::vector<std::string>{"apple: by the lake", "Zebra"}), tree->texts());
  // Cancelled: nothing.
  dialogs.add(PROMPT_DIALOG_SMALL, {[](ScriptedView& v) { v.press(DIALOG_CANCEL); }});
  teleport_remember();
  EXPECT_EQ(2u, teleport_count());
}

// ---- the tree ------------------------------------------------------------------------------

TEST_F(Teleport, TheTreeIsSortedByLabelAndALeftClickPostsThePlace) {
  ASSERT_NO_FATAL_FAILURE(init_with("a 1N 1W 0a 0:pear\nb 2N 2W 0a 0:Apple\nc 3N 3W 0a 0:mango\n"));
  EXPECT_EQ((std::vector<std::string>{"Apple", "mango", "pear"}), tree->texts());
  EXPECT_EQ((std::vector<bool>{false, true}), tree->redraw);
  intptr_t mango = tree->handle_of("mango");
  teleport_tree_left_down(mango);
  EXPECT_EQ(mango, tree->selected);
  ASSERT_EQ(1u, recorded.posts.size());
  EXPECT_EQ("teleport c 3N 3W 0a 0", recorded.posts[0]);
  // Not on an item: nothing.
  teleport_tree_left_down(0);
  EXPECT_EQ(1u, recorded.posts.size());
}

TEST_F(Teleport, TheMenuGreysItemCommandsOffAnItemAndFollowsTheHistory) {
  ASSERT_NO_FATAL_FAILURE(init_with("a 1N 1W 0a 0:one\n"));
  tree->answer = 0;
  teleport_tree_right_down(0);
  teleport_tree_right_up();
  ASSERT_EQ(9u, tree->last_menu.size());
  std::vector<int> ids;
  for (auto& m : tree->last_menu) ids.push_back(m.id);
  EXPECT_EQ((std::vector<int>{100, 101, 102, 0, 104, 103, 105, 0, 106}), ids);
  EXPECT_EQ("m255", std::string(tree->last_menu[0].text));
  EXPECT_EQ("m257", std::string(tree->last_menu[8].text));
  for (int id : {100, 101, 102, 103, 104}) EXPECT_FALSE(tree->enabled(id)) << id;
  for (int id : {105, 106}) EXPECT_TRUE(tree->enabled(id)) << id;
  teleport_tree_right_down(tree->handle_of("one"));
  EXPECT_EQ(tree->handle_of("one"), tree->selected);
  teleport_tree_right_up();
  for (int id : {100, 101, 102}) EXPECT_TRUE(tree->enabled(id)) << id;
  // With a place left behind, Back is offered.
  ASSERT_NO_FATAL_FAILURE(be_in("demo"));
  teleport(nullptr, 0, 0, 0, 0, 1);
  teleport_tree_right_up();
  EXPECT_TRUE(tree->enabled(TELEPORT_MENU_BACK));
  EXPECT_FALSE(tree->enabled(TELEPORT_MENU_FORWARD));
}

TEST_F(Teleport, DeletingUnlinksRefillsAndSaves) {
  ASSERT_NO_FATAL_FAILURE(init_with("a 1N 1W 0a 0:one\nb 2N 2W 0a 0:two\nc 3N 3W 0a 0:three\n"));
  tree->answer = TELEPORT_MENU_DELETE;
  teleport_tree_right_down(tree->handle_of("two"));
  teleport_tree_right_up();
  EXPECT_EQ((std::vector<std::string>{"one", "three"}), labels());
  EXPECT_EQ((std::vector<std::string>{"one", "three"}), tree->texts());
  EXPECT_EQ("a 1N 1W 0a 0:one\nc 3N 3W 0a 0:three\n", file());
  // Off an item the command does nothing.
  teleport_tree_right_down(0);
  teleport_tree_right_up();
  EXPECT_EQ(2u, teleport_count());
}

TEST_F(Teleport, RenamingOnlyFromTheMenuWhileShownEnterKeepsEscapeDiscards) {
  ASSERT_NO_FATAL_FAILURE(init_with("a 1N 1W 0a 0:one\nb 2N 2W 0a 0:two\n"));
  intptr_t two = tree->handle_of("two");
  // Hidden page: the edit does not start.
  tree->answer = TELEPORT_MENU_RENAME;
  teleport_tree_right_down(two);
  teleport_tree_right_up();
  EXPECT_EQ(0, tree->editing);
  teleport_show();
  EXPECT_TRUE(tree->shown);
  // Not started by the menu: refused.
  EXPECT_FALSE(teleport_tree_begin_edit(two));
  teleport_tree_right_down(two);
  teleport_tree_right_up();
  ASSERT_EQ(two, tree->editing);
  // Escape.
  teleport_tree_end_edit(two, nullptr);
  EXPECT_EQ((std::vector<std::string>{"one", "two"}), labels());
  // Enter: the entry, the item and the file take the new label (one line of it).
  teleport_tree_right_down(two);
  teleport_tree_right_up();
  teleport_tree_end_edit(two, "deux: renamed\nsecond line");
  EXPECT_EQ((std::vector<std::string>{"one", "deux: renamed"}), labels());
  EXPECT_EQ((std::vector<std::string>{"one", "deux: renamed"}), tree->texts());
  EXPECT_EQ("a 1N 1W 0a 0:one\nb 2N 2W 0a 0:deux: renamed\n", file());
  teleport_hide();
  EXPECT_FALSE(tree->shown);
  teleport_move_window(1, 2, 3, 4);
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), tree->rect);
}

TEST_F(Teleport, TheDialogFromTheMenuIsPrefilledFromThePlace) {
  ASSERT_NO_FATAL_FAILURE(init_with("demo 1.0N 2.0W 0.5a 90:spot\n"));
  ScriptedDialogs dialogs;
  dialogs.add(TELEPORT_DIALOG, {[](ScriptedView& v) {
                EXPECT_EQ("demo", v.control(TELEPORT_WORLD).text);
                EXPECT_EQ("1.0N 2.0W 0.5a 90", v.control(TELEPORT_COORDINATES).text);
                v.press(DIALOG_OK);
              }});
  tree->answer = TELEPORT_MENU_DIALOG;
  teleport_tree_right_down(tree->handle_of("spot"));
  teleport_tree_right_up();
  ASSERT_EQ(1u, dialogs.opened().size());
  ASSERT_EQ(1u, recorded.posts.size());
  EXPECT_EQ("teleport demo 1.0N 2.0W 0.5a 90", recorded.posts[0]);
  // The coordinates were for that dialog only.
  dialogs.add(TELEPORT_DIALOG, {[](ScriptedView& v) {
                EXPECT_EQ("", v.control(TELEPORT_COORDINATES).text);
                v.press(DIALOG_CANCEL);
              }});
  teleport_dialog("demo");
}

TEST_F(Teleport, AViewThatGoesIsForgotten) {
  ASSERT_NO_FATAL_FAILURE(init_with("a 1N 1W 0a 0:one\n"));
  delete tree;
  tree = nullptr;
  teleport_show();
  teleport_tree_right_down(1);
  teleport_tree_right_up();
  teleport_remember();  // no view, no dialog runner: cancelled
  EXPECT_EQ(1u, teleport_count());
}

// ---- the location history --------------------------------------------------------------

class History : public Teleport {
 protected:
  void SetUp() override {
    Teleport::SetUp();
    teleport_init();
  }
  // In "demo" with the start-up chain past its first stage (a home was posted).
  void start_in_demo() {
    ASSERT_NO_FATAL_FAILURE(be_in("demo"));
    teleport_allow_within_world();
    profile_set_string("start", "world", "demo");
    teleport_update();
    ASSERT_EQ(TELEPORT_STAGE_COMMAND_OR_HOME, teleport_stage());
    recorded.posts.clear();
  }
  // A teleport within the current world that the task carries out at once.
  void go(float x, float z, bool third_person, bool flying) {
    if (third_person)
      camera_track_self(0);
    else
      camera_track_ahead();
    self_set_flying(flying);
    teleport(world_name(), x, 0, z, 0, 1);
    teleport_update();
  }
};

TEST_F(History, EmptyUntilTheFirstTeleportWithHistoryInAWorld) {
  teleport(nullptr, 1, 0, 1, 0, 1);
  EXPECT_EQ(0, history_count());
  EXPECT_FALSE(history_can_back());
  EXPECT_EQ(0, history_back());
  ASSERT_NO_FATAL_FAILURE(start_in_demo());
  self_set_position(3, 1, 4, 50);
  teleport(nullptr, 9, 0, 9, 0, 1);
  ASSERT_EQ(2, history_count());
  EXPECT_EQ(1, history_current());
  history_entry_view left{};
  ASSERT_TRUE(history_entry(0, &left));
  EXPECT_STREQ("demo", left.world);
  EXPECT_EQ(3, left.x);
  EXPECT_EQ(1, left.y);
  EXPECT_EQ(4, left.z);
  EXPECT_EQ(50, left.yaw);
  EXPECT_TRUE(history_can_back());
  EXPECT_FALSE(history_can_forward());
  EXPECT_EQ((std::vector<std::string>{"toolbar 106 0", "menu 106 0", "toolbar 107 1", "menu 107 1"}),
            recorded.enables);
}

TEST_F(History, BackAndForwardRestoreCameraAndFlying) {
  ASSERT_NO_FATAL_FAILURE(start_in_demo());
  self_set_position(1, 0, 1, 0);
  go(2, 2, true, true);    // leaves 1,1 in third person, flying
  go(3, 3, false, false);  // leaves 2,2 in first person, walking
  self_set_flying(true);
  camera_track_self(0);
  recorded.enables.clear();
  ASSERT_EQ(1, history_back());
  teleport_update();
  EXPECT_EQ(2, self_get_x());
  EXPECT_EQ(0, camera_mode());
  EXPECT_FALSE(self_flying());
  EXPECT_EQ((std::vector<std::string>{"toolbar 106 1", "menu 106 1"}), recorded.enables);
  ASSERT_EQ(1, history_back());
  teleport_update();
  EXPECT_EQ(1, self_get_x());
  EXPECT_EQ(1, camera_mode());
  EXPECT_TRUE(self_flying());
  EXPECT_FALSE(history_can_back());
  EXPECT_EQ("menu 107 0", recorded.enables.back());
  EXPECT_EQ(0, history_back());
  // Forward again to the place that was current, as it was when it was left by going back.
  ASSERT_EQ(1, history_forward());
  teleport_update();
  EXPECT_EQ(2, self_get_x());
  ASSERT_EQ(1, history_forward());
  teleport_update();
  EXPECT_EQ(3, self_get_x());
  EXPECT_EQ(1, camera_mode());
  EXPECT_TRUE(self_flying());
  EXPECT_FALSE(history_can_forward());
  EXPECT_EQ("menu 106 0", recorded.enables.back());
  EXPECT_EQ(0, history_forward());
}

TEST_F(History, ATeleportAfterGoingBackDiscardsNewerEntries) {
  ASSERT_NO_FATAL_FAILURE(start_in_demo());
  go(2, 2, false, false);
  go(3, 3, false, false);
  go(4, 4, false, false);
  ASSERT_EQ(4, history_count());
  history_back();
  teleport_update();
  history_back();
  teleport_update();
  EXPECT_EQ(1, history_current());
  go(9, 9, false, false);
  EXPECT_EQ(3, history_count());
  EXPECT_EQ(2, history_current());
  EXPECT_FALSE(history_can_forward());
  EXPECT_EQ(0, history_forward());
  history_back();
  teleport_update();
  EXPECT_EQ(2, self_get_x());
}

}  // namespace
