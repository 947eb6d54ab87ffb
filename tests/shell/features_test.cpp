// The world features and eject dialogs against the fake world: the fields from the world's
// attribute slots, what a user without rights sees, the packed block an owner's OK sends
// (world message 2), a cleared object password, and the eject request (world message 4).
#include "client/core/dialog.h"
#include "client/scene/prop.h"
#include "client/shell/features.h"
#include "tests/shell/shell_test_util.h"
#include "tests/world/world_test_util.h"

namespace {

using wtest::FakeProcess;

class FeaturesTest : public wtest::WorldFixture {
 protected:
  void SetUp() override {
    WorldFixture::SetUp();
    shtest::write_shell_messages(dir);
    features_reset();
    dialogs.set_idle([] {
      universe_update();
      world_update();
    });
  }
  void TearDown() override {
    features_reset();
    prop_term();
    attributes_clear();
    WorldFixture::TearDown();
  }

  // Both fakes up and the world "demo" entered with its attributes (slot one of them) applied;
  // the object requests go the way the program's start-up joins them.
  void enter(const std::string& world_config, int slot = ATTR_RIGHTS) {
    prop_init();
    ASSERT_NO_FATAL_FAILURE(wtest::start_fakes(world, universe, world_config));
    citizen_set_number(101);
    ASSERT_EQ(0, world_enter("demo"));
    ASSERT_TRUE(wtest::poll_until([slot] {
      universe_update();
      world_update();
      return world_state() == WORLD_IN && attribute_received(slot) && !prop_get_old();
    }));
  }
  std::string world_frame(const std::string& code_hex) {
    std::string prefix = "frame 1 " + code_hex;
    std::string l = world->wait_for(prefix, [] {
      universe_update();
      world_update();
    });
    return l.empty() ? "" : l.substr(8);
  }

  ScriptedDialogs dialogs;
  std::unique_ptr<FakeProcess> world, universe;
};

TEST_F(FeaturesTest, AnOwnersChangesGoToTheWorldAsOnePackedBlock) {
  ASSERT_NO_FATAL_FAILURE(enter(R"({"mode":"new","attributes":[[0,"Demo"],[14,"Y"],[8,"*"]]})"));
  ASSERT_TRUE(world_rights_flag());
  dialogs.add(WORLDOPTS_DIALOG, {[](ScriptedView& v) {
                EXPECT_EQ("m293", v.title());
                EXPECT_TRUE(v.control(DIALOG_OK).enabled);
                EXPECT_EQ("Demo", v.control(WORLDOPTS_TITLE).text);
                EXPECT_EQ("*", v.control(WORLDOPTS_ENTER_RIGHTS).text);
                EXPECT_EQ("#0000b2", v.control(WORLDOPTS_SWATCH).text);
                EXPECT_EQ(1, v.control(WORLDOPTS_RATING).selection);
                EXPECT_EQ(0, v.control(WORLDOPTS_CELL_LIMIT).selection);
                EXPECT_EQ(3u, v.control(WORLDOPTS_CELL_LIMIT).items.size());
                EXPECT_TRUE(v.control(WORLDOPTS_CELL_LIMIT).enabled);
                EXPECT_TRUE(v.control(WORLDOPTS_FLYING).checked);
                v.type(WORLDOPTS_TITLE, "New");
                v.type(WORLDOPTS_ENTER_RIGHTS, "1, 2;3");
                v.list_select(WORLDOPTS_RATING, 2);
                v.list_select(WORLDOPTS_CELL_LIMIT, 1);
                v.check(WORLDOPTS_FLYING, false);
                EXPECT_TRUE(v.press(DIALOG_OK));
              }});
  EXPECT_EQ(1, worldopts_dialog());
  // Received slots in slot order (14 is never sent back): 0 title, 8 rights cut at the
  // semicolon, 24 rating, 29 cell limit, 32 flying.
  EXPECT_EQ("02" "0003" "4e6577" "0804" "312c2032" "1801" "32" "1d04" "32353030" "2001" "4e", world_frame("02"));
}

TEST_F(FeaturesTest, ClearingTheObjectPasswordSendsItCleared) {
  object_password_set("pw", 0);
  size_t n = 0;
  uint8_t* enciphered = object_password_enciphered(&n);
  ASSERT_NE(nullptr, enciphered);
  std::string hex = "0004" + testutil::hex_of(reinterpret_cast<const uint8_t*>("Demo"), 4) + "0e0159" "16" + shtest::hex_byte(static_cast<int>(n)) +
                    testutil::hex_of(enciphered, n);
  std::free(enciphered);
  object_password_set("", 0);
  ASSERT_NO_FATAL_FAILURE(enter(R"({"mode":"new","attribute_hex":")" + hex + "\"}"));
  ASSERT_STREQ("pw", object_password());
  dialogs.add(WORLDOPTS_DIALOG, {[](ScriptedView& v) {
                EXPECT_EQ("pw", v.control(WORLDOPTS_PASSWORD).text);
                v.type(WORLDOPTS_PASSWORD, "");
                v.press(DIALOG_OK);
              }});
  EXPECT_EQ(1, worldopts_dialog());
  EXPECT_EQ("02" "0004" "44656d6f" "1600", world_frame("02"));
  EXPECT_STREQ("", object_password());
}

TEST_F(FeaturesTest, WithoutRightsTheFeaturesAreShownButCannotBeChanged) {
  ASSERT_NO_FATAL_FAILURE(
      ASSERT_NO_FATAL_FAILURE(enter(R"({"mode":"new","attributes":[[0,"Demo"],[8,"*"],[7,"1,2"],[3,"objects.example/x"]]})", 0)));
  ASSERT_FALSE(world_rights_flag());
  dialogs.add(WORLDOPTS_DIALOG, {[](ScriptedView& v) {
                EXPECT_EQ("m315", v.title());
                EXPECT_EQ("m50", v.control(WORLDOPTS_ENTER_RIGHTS).text);
                EXPECT_EQ("m51", v.control(WORLDOPTS_BUILD_RIGHTS).text);
                EXPECT_EQ("m25", v.control(WORLDOPTS_EMINENT_RIGHTS).text);
                EXPECT_EQ("", v.control(WORLDOPTS_OBJECT_PATH).text);
                EXPECT_FALSE(v.control(WORLDOPTS_TITLE).enabled);
                EXPECT_FALSE(v.control(WORLDOPTS_CHANGE_COLOR).enabled);
                EXPECT_FALSE(v.press(DIALOG_OK));
                v.press(DIALOG_CANCEL);
              }});
  EXPECT_EQ(0, worldopts_dialog());
  world->collect(150, [] { world_update(); });
  EXPECT_EQ("", world->wait_for("frame 1 02", nullptr, 100));
}

TEST_F(FeaturesTest, ACellLimitOutsideTheChoicesIsWrittenBackAsTheFirst) {
  ASSERT_NO_FATAL_FAILURE(enter(R"({"mode":"new","attributes":[[14,"Y"],[29,"3000"],[24,"9"]]})"));
  dialogs.add(WORLDOPTS_DIALOG, {[](ScriptedView& v) {
                EXPECT_EQ(0, v.control(WORLDOPTS_CELL_LIMIT).selection);
                EXPECT_EQ(-1, v.control(WORLDOPTS_RATING).selection);
                v.press(DIALOG_OK);
              }});
  EXPECT_EQ(1, worldopts_dialog());
  // 24 keeps the value it had when no rating was chosen; 29 goes back to "1500".
  EXPECT_EQ("02" "1801" "39" "1d04" "31353030", world_frame("02"));
}

TEST_F(FeaturesTest, TheColourChooserSetsTheThreeComponents) {
  ASSERT_NO_FATAL_FAILURE(enter(R"({"mode":"new","attributes":[[14,"Y"],[11,"10"],[12,"20"],[13,"30"]]})"));
  // The program's chooser is Qt's; here one that answers as a user would.
  features_set_color_chooser([](uint32_t current, uint32_t custom[16], uint32_t* chosen) {
    EXPECT_EQ(0x1E140Au, current);
    custom[0] = current;
    *chosen = 0x0080FFu;  // red 255, green 128, blue 0
    return true;
  });
  dialogs.add(WORLDOPTS_DIALOG, {[](ScriptedView& v) {
                EXPECT_EQ("#0a141e", v.control(WORLDOPTS_SWATCH).text);
                v.press(WORLDOPTS_CHANGE_COLOR);
                EXPECT_EQ("#ff8000", v.control(WORLDOPTS_SWATCH).text);
                v.press(DIALOG_OK);
              }});
  EXPECT_EQ(1, worldopts_dialog());
  features_set_color_chooser(nullptr);
  EXPECT_EQ("02" "0b03" "323535" "0c03" "313238" "0d01" "30", world_frame("02"));
}

TEST_F(FeaturesTest, AnEjectIsSentWithTheChosenDuration) {
  ASSERT_NO_FATAL_FAILURE(enter(R"({"mode":"new","attributes":[[14,"Y"]]})"));
  dialogs.add(EJECT_DIALOG, {[](ScriptedView& v) {
                EXPECT_EQ("m347", v.title());
                EXPECT_EQ("bob", v.control(EJECT_NAME).text);
                EXPECT_TRUE(v.control(EJECT_HOUR).checked);
                v.check(EJECT_DAY, true);
                v.press(EJECT_DAY);
                EXPECT_FALSE(v.control(EJECT_HOUR).checked);
                v.press(DIALOG_OK);
              }});
  EXPECT_EQ(1, eject_dialog("bob", 7));
  EXPECT_EQ("04" "0007" "00015180", world_frame("04"));
  // A name typed that nobody here has is refused before anything is sent.
  dialogs.add(EJECT_DIALOG, {[](ScriptedView& v) {
                v.type(EJECT_NAME, "nobody");
                v.press(DIALOG_OK);
                EXPECT_EQ("m211 nobody", v.control(EJECT_STATUS).text);
                EXPECT_FALSE(v.ended());
                v.press(DIALOG_CANCEL);
              }});
  EXPECT_EQ(0, eject_dialog("bob", 7));
  // The default hour.
  dialogs.add(EJECT_DIALOG, {[](ScriptedView& v) { v.press(DIALOG_OK); }});
  EXPECT_EQ(1, eject_dialog("bob", 9));
  EXPECT_EQ("04" "0009" "00000e10", world_frame("04"));
}

// In a world of the old protocol the eject goes out as that protocol's request and the
// dialog waits for its answer: message 209 while it waits, message 210 with a refusal's code
// (the dialog stays), and it closes when the eject is done.
TEST_F(FeaturesTest, AnEjectInAnOldProtocolWorldWaitsForItsAnswer) {
  prop_init();
  eject_init();
  ASSERT_NO_FATAL_FAILURE(wtest::start_fakes(world, universe, R"({"mode":"old","attributes":[[0,"Old"],[14,"Y"]]})"));
  citizen_set_number(101);
  static auto frame = [] {
    universe_update();
    world_update();
    prop_update();
  };
  dialogs.set_idle([] {
    frame();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  ASSERT_EQ(0, world_enter("demo"));
  ASSERT_TRUE(wtest::poll_until([] {
    frame();
    return world_state() == WORLD_OLD_PROTOCOL && prop_get_old() && oldprop_query_in_flight();
  }));
  // The area query the protocol sends first is answered with nothing new.
  EXPECT_EQ(0u, world->wait_for("raw 1 03", frame).rfind("raw 1 03", 0));
  world->command("send 1 0000");
  ASSERT_TRUE(wtest::poll_until([] {
    frame();
    return !oldprop_query_in_flight();
  }));
  auto eject_answered = [this](const std::string& reply) {
    return [this, reply](ScriptedView& v) {
      // Code 1, citizen 101, session 7 in its own byte order, one hour.
      EXPECT_EQ("raw 1 01" "00000065" "07000000" "00000e10", world->wait_for("raw 1 01", frame));
      EXPECT_EQ("m209 bob", v.control(EJECT_STATUS).text);
      EXPECT_FALSE(v.ended());
      world->command("send 1 " + reply);
    };
  };
  dialogs.add(EJECT_DIALOG, {dialog_steps::press(DIALOG_OK), eject_answered("000107"),
                             dialogs.wait_until([](ScriptedView& v) { return v.control(EJECT_STATUS).text != "m209 bob"; },
                                                testutil::kWaitMs),
                             [](ScriptedView& v) {
                               EXPECT_EQ("m210 7", v.control(EJECT_STATUS).text);
                               EXPECT_FALSE(v.ended());
                               v.press(DIALOG_CANCEL);
                             }});
  EXPECT_EQ(0, eject_dialog("bob", 7));
  dialogs.set_idle_limit(testutil::kWaitMs);
  dialogs.add(EJECT_DIALOG, {dialog_steps::press(DIALOG_OK), eject_answered("0000")});
  EXPECT_EQ(1, eject_dialog("bob", 7));
  prop_hook.eject_result = nullptr;
}

TEST_F(FeaturesTest, RightsListsAreCutAtTheFirstForeignCharacter) {
  char a[] = "12, 14 *;15";
  worldopts_cut_rights(a);
  EXPECT_STREQ("12, 14 *", a);
  char b[] = "abc";
  worldopts_cut_rights(b);
  EXPECT_STREQ("", b);
  char c[] = "1,2,3";
  worldopts_cut_rights(c);
  EXPECT_STREQ("1,2,3", c);
}

}  // namespace
