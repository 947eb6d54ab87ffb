// The start-up chain end to end over loopback: the fake universe names the default start
// world and the world addresses, fake world servers accept or refuse the login, and the
// frames run the world connection, the action language and the teleport task in the task
// table's order.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <memory>

#include "client/net/netcodes.h"
#include "tests/teleport/teleport_fixture.h"

using namespace tptest;

namespace {

std::vector<std::string> fake_argv(const std::string& script, const std::string& json) {
  const char* python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
  return {python, std::string(TESSEL_SOURCE_DIR) + "/tests/fakes/" + script, "--json", json};
}

std::unique_ptr<testutil::FakeProcess> start_fake(const std::string& script, const std::string& json) {
  return std::make_unique<testutil::FakeProcess>(fake_argv(script, json), testutil::kWaitMs,
                                                 testutil::ChildOptions{false, {{"PYTHONDONTWRITEBYTECODE", "1"}}});
}

// Models of the cells the element constructor saw.
std::vector<std::string>* made_models = nullptr;
int made_dummy = 0;

class Chain : public TeleportFixture {
 protected:
  void TearDown() override {
    good.reset();
    bad.reset();
    universe.reset();
    TeleportFixture::TearDown();
  }

  // A world that enters with one cell at 0,0, a world that refuses every login with error
  // byte 83 (code 27, not running), and a universe that knows both under the names given
  // and names default_world as its default start world ("" for none).
  void start(const std::string& default_world, const std::vector<std::string>& good_names,
             const std::vector<std::string>& bad_names, const std::string& good_mode = "new") {
    good = start_fake("world.py", R"({"mode":")" + good_mode +
                                      R"(","push_cells":true,"attributes":[[0,"Demo World"],[21,"20"])" + extra_attributes +
                                      R"(],"cells":[{"x":0,"z":0,"objects":[{"number":1,"owner":1,"time":0,)"
                                      R"("x":500,"y":0,"z":500,"yaw":0,"model":"tree.vxx","description":"",)"
                                      R"("action":""}]}]})");
    ASSERT_NE(0, good->port());
    bad = start_fake("world.py", R"({"mode":"error","error":83})");
    ASSERT_NE(0, bad->port());
    std::string worlds;
    auto add = [&worlds](const std::string& name, uint16_t port) {
      if (!worlds.empty()) worlds += ",";
      worlds += R"({"name":")" + name + R"(","host":"127.0.0.1","port":)" + std::to_string(port) + "}";
    };
    for (auto& n : good_names) add(n, good->port());
    for (auto& n : bad_names) add(n, bad->port());
    std::string attributes = default_world.empty() ? "" : R"("attributes":{"4":")" + default_world + R"("},)";
    universe = start_fake("universe.py", "{" + attributes + R"("worlds":[)" + worlds + "]}");
    ASSERT_NE(0, universe->port());
    profile_set_string("universe", "host", "127.0.0.1");
    profile_set_int("universe", "port", universe->port());
    ASSERT_EQ(0, universe_init());
    ASSERT_TRUE(testutil::poll_until(
        [] {
          universe_update();
          return universe_connected();
        },
        5000));
    ASSERT_EQ(0, universe_login("\"Tester\"", ""));
    ASSERT_TRUE(testutil::poll_until(
        [] {
          universe_update();
          return universe_logged_in();
        },
        5000));
    if (!default_world.empty()) {
      ASSERT_TRUE(testutil::poll_until(
          [&default_world] {
            universe_update();
            return default_world == universe_default_start_world();
          },
          5000));
    }
    citizen_set_number(101);
    ASSERT_EQ(0, teleport_init());
  }

  // One frame of the rows that take part, in the task table's order. Nothing runs once the
  // program has been asked to end.
  void frame() {
    if (boxes.quit_posted()) return;
    world_update();
    behavior_update();
    universe_update();
    teleport_update();
  }

  bool run_until(const std::function<bool()>& done, int limit_ms = testutil::kWaitMs) {
    return testutil::poll_until(
        [&] {
          frame();
          return done();
        },
        limit_ms);
  }

  bool entered(const char* name) {
    return teleport_stage() == TELEPORT_STAGE_IN_WORLD && !teleport_pending() && world_state() == WORLD_IN &&
           std::string(world_name()) == name;
  }

  std::vector<std::string> cell_models(int x, int z) {
    std::vector<std::string> models;
    made_models = &models;
    cell_set_element_create([](double, double, double, float, int model_length, const char* model, int, const char*,
                               int, const char*, int32_t, int32_t, int32_t) -> element* {
      made_models->push_back(std::string(model, static_cast<size_t>(model_length)));
      return reinterpret_cast<element*>(&made_dummy);
    });
    cell_start(x, z);
    element* e = nullptr;
    while (cell_next(&e)) {
    }
    cell_set_element_create(nullptr);
    made_models = nullptr;
    return models;
  }

  void expect_position(float x, float y, float z, float yaw) {
    EXPECT_NEAR(x, self_get_x(), 1e-4);
    EXPECT_NEAR(y, self_get_y(), 1e-4);
    EXPECT_NEAR(z, self_get_z(), 1e-4);
    // Headings are kept within -180 .. 180.
    EXPECT_NEAR(0, std::remainder(yaw - self_get_yaw(), 360.0f), 1e-3);
  }

  std::unique_ptr<testutil::FakeProcess> good, bad, universe;
  std::string extra_attributes;  // more pairs of the entering world, each after a comma
};

TEST_F(Chain, TheDefaultStartWorldIsEnteredSilently) {
  ASSERT_NO_FATAL_FAILURE(start("demo", {"demo"}, {}));
  self_set_position(7, 3, -4, 80);
  ASSERT_TRUE(run_until([this] { return entered("demo"); })) << "stage " << teleport_stage();
  // The chain's own teleport goes to the origin and is the run's first: no sound.
  expect_position(0, 0, 0, 0);
  EXPECT_TRUE(recorded.sounds.empty());
  EXPECT_TRUE(boxes.boxes().empty());
  ASSERT_TRUE(run_until([this] { return !cell_models(0, 0).empty(); }));
  EXPECT_EQ(std::vector<std::string>{"tree.vxx"}, cell_models(0, 0));
  EXPECT_STREQ("Demo World", world_title());
  // The world connection hands the entered world to the history.
  EXPECT_EQ(0, history_count());
}

TEST_F(Chain, APendingCommandGoesBeforeHomeAndTheDefaultWorld) {
  ASSERT_NO_FATAL_FAILURE(start("other", {"demo", "other"}, {}));
  profile_set_string("start", "world", "other");
  profile_set_string("start", "location", "9N 9W");
  testutil::write_file(dir + "/go.txt", "teleport demo 2N 3W 1.5a 90\nsecond line\n");
  load_command((dir + "/go.txt").c_str());
  ASSERT_NE(nullptr, cgi_get_teleport());
  ASSERT_TRUE(run_until([this] { return entered("demo"); })) << "stage " << teleport_stage();
  EXPECT_EQ(nullptr, cgi_get_teleport());
  ASSERT_EQ(1u, recorded.posts.size());
  EXPECT_EQ("teleport demo 2N 3W 1.5a 90", recorded.posts[0]);
  expect_position(3, 1.5f, 2, 90);
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(Chain, HomeGoesBeforeTheDefaultWorld) {
  ASSERT_NO_FATAL_FAILURE(start("demo", {"demo", "home"}, {}));
  profile_set_string("start", "world", "home");
  profile_set_string("start", "location", "4.0S 6.5E 2.0a 180");
  ASSERT_TRUE(run_until([this] { return entered("home"); })) << "stage " << teleport_stage();
  ASSERT_EQ(1u, recorded.posts.size());
  EXPECT_EQ("teleport home 4.0S 6.5E 2.0a 180", recorded.posts[0]);
  expect_position(-6.5f, 2, -4, 180);
}

TEST_F(Chain, AFailingHomeFallsToTheDefaultWorldWithABox) {
  ASSERT_NO_FATAL_FAILURE(start("demo", {"demo"}, {"closed"}));
  profile_set_string("start", "world", "closed");
  profile_set_string("start", "location", "1N 1W");
  ASSERT_TRUE(run_until([this] { return entered("demo"); })) << "stage " << teleport_stage();
  // Code 27: message 159 with the program's name.
  EXPECT_EQ(std::vector<std::string>{"m159 m68"}, box_texts());
  EXPECT_FALSE(boxes.quit_posted());
  expect_position(0, 0, 0, 0);
}

TEST_F(Chain, AnUnknownHomeShowsTheWorldErrorText) {
  ASSERT_NO_FATAL_FAILURE(start("demo", {"demo"}, {}));
  profile_set_string("start", "world", "nowhere");
  ASSERT_TRUE(run_until([this] { return entered("demo"); })) << "stage " << teleport_stage();
  // The universe does not know the world (its code 6).
  EXPECT_EQ(std::vector<std::string>{"m95 6"}, box_texts());
}

TEST_F(Chain, AFailingDefaultWorldFallsToTheBuiltInWorldWithoutABox) {
  ASSERT_NO_FATAL_FAILURE(start("closed", {"tz"}, {"closed"}));
  ASSERT_TRUE(run_until([this] { return entered("tz"); })) << "stage " << teleport_stage();
  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_FALSE(boxes.quit_posted());
}

TEST_F(Chain, WithoutADefaultWorldTheBuiltInWorldIsNext) {
  ASSERT_NO_FATAL_FAILURE(start("", {"tz"}, {}));
  ASSERT_TRUE(run_until([this] { return entered("tz"); })) << "stage " << teleport_stage();
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(Chain, AFailingBuiltInWorldEndsTheProgram) {
  ASSERT_NO_FATAL_FAILURE(start("gone", {}, {"tz"}));
  ASSERT_TRUE(run_until([this] { return boxes.quit_posted(); })) << "stage " << teleport_stage();
  EXPECT_EQ(std::vector<std::string>{"m184"}, box_texts());
  EXPECT_EQ(TELEPORT_STAGE_BUILT_IN, teleport_stage());
  EXPECT_FALSE(teleport_pending());
}

TEST_F(Chain, AFailingHomeWithoutADefaultWorldStopsAtTheOrigin) {
  ASSERT_NO_FATAL_FAILURE(start("", {}, {"closed"}));
  profile_set_string("start", "world", "closed");
  self_set_position(5, 5, 5, 5);
  ASSERT_TRUE(run_until([this] { return !boxes.boxes().empty(); }));
  for (int i = 0; i < 20; ++i) frame();
  EXPECT_EQ(TELEPORT_STAGE_DEFAULT_WORLD, teleport_stage());
  EXPECT_FALSE(teleport_pending());
  EXPECT_FALSE(boxes.quit_posted());
  expect_position(0, 0, 0, 0);
}

TEST_F(Chain, Code212IsRetriedUntilTheWorldIsEntered) {
  ASSERT_NO_FATAL_FAILURE(start("demo", {"demo"}, {}));
  frame();
  ASSERT_TRUE(teleport_pending());
  // The universe's answer for the lookup in flight: the world is being started.
  world_receive_address(212, "demo", 0, 0);
  ASSERT_EQ(212, world_last_error());
  frame();
  // The same teleport again, the attempt still on; the next frame asks once more.
  EXPECT_TRUE(teleport_pending());
  ASSERT_NE(nullptr, teleport_waiting_name());
  EXPECT_STREQ("demo", teleport_waiting_name());
  frame();
  EXPECT_EQ(NET_NOT_YET, world_last_error());
  ASSERT_TRUE(run_until([this] { return entered("demo"); })) << "stage " << teleport_stage();
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(Chain, A401IsWaitedOut) {
  ASSERT_NO_FATAL_FAILURE(start("demo", {"demo"}, {}, "mute"));
  for (int i = 0; i < 200; ++i) {
    frame();
    usleep(1000);
  }
  EXPECT_TRUE(teleport_pending());
  EXPECT_EQ(TELEPORT_STAGE_DEFAULT_WORLD, teleport_stage());
  EXPECT_EQ(NET_NOT_YET, world_last_error());
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(Chain, AFailedTeleportInAWorldGoesBackToThePlaceLeft) {
  ASSERT_NO_FATAL_FAILURE(start("demo", {"demo"}, {"closed"}));
  ASSERT_TRUE(run_until([this] { return entered("demo"); }));
  self_set_position(12, 1, 8, 30);
  camera_track_self(0);
  teleport("closed", 0, 0, 0, 0, 1);
  ASSERT_TRUE(run_until([this] { return !recorded.console.empty(); }));
  EXPECT_EQ("3 m160: m146 closed", recorded.console.back());
  ASSERT_TRUE(run_until([this] { return entered("demo"); }));
  expect_position(12, 1, 8, 30);
  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_FALSE(history_can_back());
  EXPECT_TRUE(history_can_forward());
}

TEST_F(Chain, AFailedTeleportWithNoPlaceToGoBackToEndsTheProgram) {
  ASSERT_NO_FATAL_FAILURE(start("demo", {"demo"}, {}));
  ASSERT_TRUE(run_until([this] { return entered("demo"); }));
  teleport("nowhere", 0, 0, 0, 0, 0);
  ASSERT_TRUE(run_until([this] { return boxes.quit_posted(); }));
  EXPECT_EQ(std::vector<std::string>{"m95 6"}, box_texts());
  EXPECT_TRUE(recorded.console.empty());
}

TEST_F(Chain, AWorldNameTheConnectionRefusesIsAFailureNotAnArrival) {
  ASSERT_NO_FATAL_FAILURE(start("demo", {"demo"}, {}));
  ASSERT_TRUE(run_until([this] { return entered("demo"); }));
  teleport_allow_within_world();
  self_set_position(3, 0, 3, 0);
  // Nine characters: refused by the world connection before anything is asked.
  teleport("ninechars", 50, 0, 50, 0, 1);
  ASSERT_TRUE(run_until([this] { return history_can_forward(); }));
  ASSERT_TRUE(run_until([this] { return entered("demo"); }));
  expect_position(3, 0, 3, 0);
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(Chain, ARememberedPlaceInAWorldThatForbidsTeleportsLandsAtTheOrigin) {
  extra_attributes = R"(,[33,"N"],[14,"N"])";
  ASSERT_NO_FATAL_FAILURE(start("demo", {"demo"}, {}));
  // The attributes follow the login's answer.
  ASSERT_TRUE(run_until([this] { return entered("demo") && std::string(world_title()) == "Demo World"; }));
  EXPECT_FALSE(teleport_within_world_allowed());
  self_set_position(9, 1, 9, 10);
  behavior_post("teleport demo 2N 3W 1a 90");
  ASSERT_TRUE(run_until([this] { return history_count() == 2 && entered("demo"); }));
  expect_position(0, 0, 0, 0);
  // Every teleport after the run's first plays the sound.
  EXPECT_EQ(std::vector<std::string>{"deport1.wav"}, recorded.sounds);
  // A warp keeps its coordinates.
  teleport_keep_coordinates("demo", 2, 1, 3, 90);
  ASSERT_TRUE(run_until([this] { return entered("demo") && std::fabs(self_get_x() - 2) < 1e-4; }));
  expect_position(2, 1, 3, 90);
  EXPECT_EQ(2u, recorded.sounds.size());
}

}  // namespace
