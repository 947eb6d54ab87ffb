// The world connection end to end over loopback against the fake universe and world servers:
// entering under each protocol, refusals, imposters, silence and lost connections on a fake
// clock, attribute blocks, the area query byte for byte, and replies that are cut short or
// unknown.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "client/net/tcp.h"
#include "client/scene/self.h"
#include "client/servers/join.h"
#include "tests/world/world_test_util.h"

using namespace wtest;

namespace {

class WorldLink : public WithFakes<WorldFixture> {
 protected:
  static void step() {
    universe_update();
    world_update();
  }

  // Enters "demo" and runs frames until the world state is reached.
  void enter(int state) {
    ASSERT_EQ(0, world_enter("demo"));
    ASSERT_TRUE(poll_until([state] {
      step();
      return world_state() == state;
    })) << "state " << world_state();
  }

  // Frames run while the server says nothing for `ms` of the clock; the link stays up.
  void expect_up_through_silence(uint32_t ms) {
    world->collect(100, step);
    fake_now += ms;
    world->collect(100, step);
    EXPECT_EQ(WORLD_IN, world_state());
  }

  // The next line of the fake world starting with prefix, frames running meanwhile.
  std::string world_line(const std::string& prefix) { return world->wait_for(prefix, step); }
};

const char* kLogin = "login 1 0512341400000065";  // 5, session 0x1234, 20 avatars, citizen 101

TEST_F(WorldLink, EntersANewProtocolWorld) {
  start(R"({"mode":"new","attributes":[[0,"Demo"],[21,"20"]],)"
        R"("avatars":[{"session":7,"name":"bob","x":1000,"y":0,"z":-2000,"yaw":900,"type":1,"gesture":2}],)"
        R"("chat":[{"session":7,"text":"hello"}]})");
  ASSERT_EQ(0, world_enter("demo"));
  EXPECT_EQ(NET_NOT_YET, world_last_error());
  EXPECT_NE(-1, recorder.find("gesture_show"));
  // The universe is asked for the address: code 24, string "demo".
  EXPECT_EQ("frame 1 180464656d6f", universe->wait_for("frame 1 18", step));
  EXPECT_EQ(kLogin, world_line("login"));
  ASSERT_TRUE(poll_until([this] {
    step();
    return world_state() == WORLD_IN && !recorder.chat.empty();
  }));
  EXPECT_TRUE(world_connected());
  EXPECT_EQ(1, world_login_count());
  EXPECT_EQ(0, world_last_error());
  EXPECT_EQ(0, world_login_pending());
  EXPECT_STREQ("Demo", world_title());
  EXPECT_EQ(20, world_server_build());
  EXPECT_EQ(htons(world->port()), world_port());
  EXPECT_NE(-1, recorder.find("prop_set_old 0"));
  EXPECT_NE(-1, recorder.find("history_set_world demo"));
  EXPECT_NE(-1, recorder.find("avatar_add 7 bob 1000 0 -2000 900 1 2"));
  EXPECT_EQ("0 7 hello", recorder.chat.at(0));
  // Requests now go out framed: code 7, string "hi".
  EXPECT_EQ(0, world_message("hi"));
  EXPECT_EQ("frame 1 07026869", world_line("frame"));
}

TEST_F(WorldLink, ACachedAddressNeedsNoUniverse) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"new"})"));
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_IN));
  universe->collect(100, step);
  EXPECT_EQ(0, get_address("DEMO"));
  EXPECT_EQ(htons(world->port()), world_port());
  EXPECT_EQ(htonl(INADDR_LOOPBACK), world_address());
  // The current world entered again is a no-op.
  EXPECT_EQ(0, world_enter("DeMo"));
  EXPECT_EQ(0, world_last_error());
  for (const std::string& l : universe->collect(200, step)) EXPECT_EQ(std::string::npos, l.find("frame 1 18")) << l;
}

TEST_F(WorldLink, AnOldProtocolServerTakesOverTheConnection) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"old","attributes":[[0,"Old World"],[31,"N"]]})"));
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_OLD_PROTOCOL));
  EXPECT_TRUE(world_connected());
  EXPECT_STREQ("Old World", world_title());
  ASSERT_FALSE(recorder.pass_through.empty());
  EXPECT_EQ(0, recorder.pass_through.back());
  int old = recorder.find("prop_set_old 1");
  ASSERT_NE(-1, old);
  EXPECT_NE(-1, recorder.find("prop_reset", old));
  EXPECT_NE(-1, recorder.find("oldprop_set_connection", old));
  EXPECT_NE(-1, recorder.find("avatar_load_list", old));
  EXPECT_EQ(nullptr, world_stream());
  // The handed-over connection is live and speaks without frames.
  ASSERT_NE(nullptr, recorder.old_connection);
  const uint8_t query[] = {3, 0, 0, 0};
  EXPECT_EQ(0, tcp_send(recorder.old_connection, query, 4));
  EXPECT_EQ("raw 1 03000000", world_line("raw"));
  // A changed citizen number starts over.
  citizen_set_number(102);
  world_update();
  EXPECT_EQ(WORLD_CONNECT, world_state());
  EXPECT_NE(-1, recorder.find("oldprop_reset"));
}

// In a world of the old protocol the user is in a world too: a join request is shown and
// answered with the own place, as in a world of the current protocol.
TEST_F(WorldLink, AJoinRequestInAnOldProtocolWorldIsShownAndAnswered) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"old","attributes":[[0,"Old World"]]})"));
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_OLD_PROTOCOL));
  join_init();
  join_hook = join_default_hooks();
  static std::vector<std::string> lines;
  lines.clear();
  join_hook.console_print = [](int kind, const char* line) { lines.push_back(std::to_string(kind) + " " + line); };
  self_set_position(1.5, 0, -2.5, 90);
  // Reply 16: citizen 102, "bob", asks to join.
  universe->command("send 1 000a0010" "00000066" "03626f62");
  // Message 44: rc 0, requester 102, "demo", 1500, 0, -2500 mm, yaw 900.
  EXPECT_EQ("frame 1 2c" "00" "00000066" "0464656d6f" "000005dc" "00000000" "fffff63c" "0384",
            universe->wait_for("frame 1 2c", step));
  EXPECT_EQ(std::vector<std::string>{"3 m160: m198 bob"}, lines);
  join_reset();
  join_hook = join_default_hooks();
  universe_receiver.join_receive_request = nullptr;
  universe_receiver.join_receive_location = nullptr;
}

TEST_F(WorldLink, ARefusedLoginGivesWayAndTheDeadStreamIsNotReadAgain) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"error","error":7})"));
  recorder.history_back = 1;
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_LOGIN_SENT));
  EXPECT_EQ(kLogin, world_line("login"));
  ASSERT_TRUE(poll_until([] {
    step();
    return world_last_error() == 207;
  }));
  EXPECT_EQ(nullptr, world_stream());
  EXPECT_EQ("eof 1", world_line("eof"));
  ASSERT_FALSE(recorder.console.empty());
  EXPECT_EQ("3 m160: m89 demo", recorder.console.back());
  EXPECT_EQ(1, recorder.count("history_back"));
  EXPECT_FALSE(boxes.quit_posted());
  // Frames go on without touching the dead connection.
  for (const std::string& l : world->collect(300, step)) EXPECT_NE(0u, l.rfind("accept", 0)) << l;
  EXPECT_EQ(WORLD_LOGIN_SENT, world_state());
  EXPECT_EQ(NET_NO_WORLD, world_message("anyone?"));
}

TEST_F(WorldLink, ARefusalWithNowhereToGoEndsTheProgram) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"error","error":14})"));
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_LOGIN_SENT));
  ASSERT_TRUE(poll_until([] {
    step();
    return world_last_error() != NET_NOT_YET;
  }));
  EXPECT_EQ(214, world_last_error());
  EXPECT_TRUE(boxes.quit_posted());
  ASSERT_EQ(1u, boxes.boxes().size());
  EXPECT_EQ("m200", boxes.boxes()[0].text);
}

TEST_F(WorldLink, AnImposterReplyReconnectsTheUniverseAndThenTheWorld) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"imposter"})"));
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_LOGIN_SENT));
  ASSERT_TRUE(poll_until([] {
    step();
    return world_state() == WORLD_CONNECT;
  }));
  EXPECT_EQ(nullptr, world_stream());
  EXPECT_STREQ("m150", world_status_current());
  EXPECT_FALSE(boxes.quit_posted());
  // The universe logs in anew (a second after its last connect), and the world follows.
  fake_now += 1001;
  EXPECT_EQ("accept 2", universe->wait_for("accept 2", step));
  // The relogin stored the tourist's number 0 again, and the new world login carries it.
  EXPECT_EQ("login 2 0512341400000000", world_line("login 2"));
}

TEST_F(WorldLink, ASilentServerAboveBuild14IsReconnected) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"new","attributes":[[21,"15"]]})"));
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_IN));
  expect_up_through_silence(39000);
  fake_now += 1001;
  world_update();
  EXPECT_EQ(WORLD_CONNECT, world_state());
  EXPECT_EQ("login 2 0512341400000065", world_line("login 2"));
  ASSERT_TRUE(poll_until([] {
    step();
    return world_login_count() == 2;
  }));
}

// A world server that stops answering: after its silence the connection is made again and
// the status window says so; the login that then gets no answer is not waited on for ever.
TEST_F(WorldLink, AWorldThatStopsAnsweringIsTriedAgainAndTheStatusSaysSo) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"new","attributes":[[21,"20"]],"silent_after_logins":1})"));
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_IN));
  ASSERT_TRUE(poll_until([] {
    step();
    return world_server_build() == 20;
  }));
  EXPECT_EQ("", recorder.pane);
  fake_now += WORLD_SILENCE_LIMIT + 1;
  world_update();
  EXPECT_EQ(WORLD_CONNECT, world_state());
  EXPECT_EQ("m119", recorder.pane);
  EXPECT_EQ("login 2 0512341400000065", world_line("login 2"));
  EXPECT_EQ(WORLD_LOGIN_SENT, world_state());
  world->collect(100, step);
  fake_now += WORLD_LOGIN_LIMIT;
  step();
  EXPECT_EQ(WORLD_LOGIN_SENT, world_state());
  EXPECT_EQ("m119", recorder.pane);
  fake_now += 1;
  EXPECT_EQ("login 3 0512341400000065", world_line("login 3"));
  EXPECT_EQ("m119", recorder.pane);
  EXPECT_EQ(1, world_login_count());
}

// A universe that stops answering: a request left without an answer makes the connection
// again, the status window says so, and the login of the session is tried again each time
// it gets no answer.
TEST_F(WorldLink, AUniverseThatStopsAnsweringIsLoggedInAgainAndTheStatusSaysSo) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"new"})", R"(,"silent_after_logins":1)"));
  ASSERT_EQ(0, universe_get_worlds());
  EXPECT_EQ("frame 1 26", universe->wait_for("frame 1 26", step));
  universe->collect(100, step);
  fake_now += UNIVERSE_ANSWER_LIMIT;
  step();
  EXPECT_TRUE(universe_logged_in());
  EXPECT_EQ("", recorder.pane);
  fake_now += 1;
  // The tourist's login (code 45) again, on a new connection.
  EXPECT_EQ(0u, universe->wait_for("frame 2 2d", step).rfind("frame 2 2d", 0));
  EXPECT_FALSE(universe_logged_in());
  EXPECT_EQ("m77", recorder.pane);
  universe->collect(100, step);
  fake_now += UNIVERSE_ANSWER_LIMIT + 1;
  EXPECT_EQ(0u, universe->wait_for("frame 3 2d", step).rfind("frame 3 2d", 0));
  EXPECT_EQ("m77", recorder.pane);
}

TEST_F(WorldLink, SilenceIsAllowedUpToBuild14AndTheHeartbeatKeepsTheLinkUp) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"new","attributes":[[21,"14"]]})"));
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_IN));
  expect_up_through_silence(40001);
  fake_now += 20000;
  EXPECT_EQ("frame 1 06", world_line("frame"));
}

TEST_F(WorldLink, ALostWorldIsReconnectedAfterTheRetrySpacing) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"new"})"));
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_IN));
  world->command("drop 1");
  ASSERT_TRUE(poll_until([] {
    step();
    return world_state() != WORLD_IN;
  }));
  EXPECT_STREQ("m119", world_status_current());
  EXPECT_NE(-1, recorder.find("avatar_delete_all"));
  world->collect(100, step);
  EXPECT_EQ(1, world_login_count());
  fake_now += WORLD_RETRY_INTERVAL + 1;
  ASSERT_TRUE(poll_until([] {
    step();
    return world_login_count() == 2 && world_state() == WORLD_IN;
  }));
  EXPECT_EQ(std::string::npos, std::string(world_status_current()).find("m119"));
}

TEST_F(WorldLink, AttributeBlocksAreAppliedInTheOrderTheyArrive) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"new"})"));
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_IN));
  ASSERT_TRUE(poll_until([this] {
    step();
    return !recorder.pass_through.empty();
  }));
  world->command(R"(attributes 1 [[31,"N"]])");
  ASSERT_TRUE(poll_until([this] {
    step();
    return recorder.pass_through.back() == 0;
  }));
  world->command(R"(attributes 1 [[31,"N"],[14,"Y"]])");
  ASSERT_TRUE(poll_until([this] {
    step();
    return recorder.pass_through.back() == 1;
  }));
  EXPECT_TRUE(world_rights_flag());
  world->command(R"(attributes 1 [[31,"N"]])");
  ASSERT_TRUE(poll_until([this] {
    step();
    return recorder.pass_through.back() == 0;
  }));
  EXPECT_FALSE(world_rights_flag());
}

TEST_F(WorldLink, TheQueryCarriesTheNineSectorSequencesInOrder) {
  start(R"({"mode":"new","sequences":{"-1,0":5},)"
        R"("cells":[{"x":-5,"z":0,"objects":[{"number":9,"owner":101,"time":3,"x":10,"y":20,"z":30,"yaw":900,)"
        R"("model":"tree.vxx","description":"","action":""}]}]})");
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_IN));
  for (int sz = -1; sz <= 1; ++sz)
    for (int sx = -1; sx <= 1; ++sx) ASSERT_EQ(1, cell_sector_set_sequence(sx, sz, 100 + (sx + 1) + 3 * (sz + 1)));
  EXPECT_EQ(0, world_query(0, 0));
  // Code 9, sector (0, 0), then (dx, dz) = (-1,-1) (0,-1) (1,-1) (-1,0) ... (1,1): 100 to 108.
  EXPECT_EQ("frame 1 09" "0000" "0000"
            "00000064" "00000065" "00000066" "00000067" "00000068" "00000069" "0000006a" "0000006b" "0000006c",
            world_line("frame"));
  // The server sends the changed sector's cell, which lands in the cell cache, then 15.
  ASSERT_TRUE(poll_until([this] {
    step();
    return recorder.count("prop_query_done") == 1;
  }));
  EXPECT_EQ(5, cell_sector_sequence(-1, 0));
  cell_start(-5, 0);
  int32_t used = 0;
  const uint8_t* b = cell_buffer(&used);
  ASSERT_EQ(CELL_ENTRY_HEAD + 8, used);
  EXPECT_EQ(9, b[0]);
  EXPECT_EQ(8, b[20]);
  EXPECT_EQ(0, std::memcmp(b + CELL_ENTRY_HEAD, "tree.vxx", 8));
  // A query around another sector sends the sequences stored there.
  EXPECT_EQ(0, world_query(-2, 0));
  EXPECT_EQ("frame 1 09" "fffe" "0000"
            "00000000" "00000000" "00000064" "00000000" "00000000" "00000005" "00000000" "00000000" "0000006a",
            world_line("frame"));
}

TEST_F(WorldLink, CutShortAndUnknownRepliesAreSkippedNeverReadPast) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"new"})"));
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_IN));
  // Slot 0 "Okay", then slot 31 claiming 9 bytes of which 1 is there.
  world->command("reply 1 1 00044f6b61791f0959");
  world->command("reply 1 2 0007");        // an avatar with its session only
  world->command("reply 1 99 deadbeef");   // unknown
  world->command("reply 1 0 000000");      // a request result cut short
  world->command("reply 1 6 0001");        // a cell with half its head
  world->command("reply 1 0 0000002a03");  // a whole one
  world->command("chat 1 7 after");
  ASSERT_TRUE(poll_until([this] {
    step();
    return !recorder.chat.empty();
  }));
  EXPECT_STREQ("Okay", world_title());
  EXPECT_FALSE(attribute_received(31));
  EXPECT_TRUE(recorder.avatar_sessions.empty());
  EXPECT_EQ(1, recorder.count("prop_request_result 42 3"));
  int results = 0;
  for (const std::string& e : recorder.events) results += e.rfind("prop_request_result", 0) == 0;
  EXPECT_EQ(1, results);
  EXPECT_EQ("0 7 after", recorder.chat.at(0));
  EXPECT_EQ(WORLD_IN, world_state());
}

TEST_F(WorldLink, ACellCutInsideAnObjectKeepsTheWholeObjectsBeforeIt) {
  recorder.take_cells = true;
  install_hooks(recorder);
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"new"})"));
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_IN));
  // Cell (1, 2), sequence 3: one whole object ("m"), then an object cut after its number.
  world->command("reply 1 6 00010002" "00000003"
                 "00000001" "00000002" "00000003" "0004" "0005" "0006" "0007" "016d" "00" "00"
                 "00000009");
  ASSERT_TRUE(poll_until([this] {
    step();
    return !recorder.cells.empty();
  }));
  const world_cell& c = recorder.cells[0];
  EXPECT_EQ(1, c.x);
  EXPECT_EQ(2, c.z);
  EXPECT_EQ(3, c.sequence);
  ASSERT_EQ(1u, c.objects.size());
  EXPECT_EQ(1, c.objects[0].number);
  EXPECT_EQ(7, c.objects[0].yaw);
  EXPECT_EQ("m", c.objects[0].model);
  EXPECT_STREQ("m250 36", world_status_current());
}

TEST_F(WorldLink, SendsAreHeldBackWhileTheLoginIsInFlight) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"mute"})"));
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_LOGIN_SENT));
  EXPECT_EQ(kLogin, world_line("login"));
  EXPECT_TRUE(world_login_in_flight());
  EXPECT_EQ(0, world_message("early"));
  for (const std::string& l : world->collect(300, step)) EXPECT_NE(0u, l.rfind("frame", 0)) << l;
}

TEST_F(WorldLink, AWorldRatedAboveTheUserIsRefusedUnlessRightsAreHeld) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"new","attributes":[[24,"3"]]})"));
  recorder.history_back = 1;
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_IN));
  ASSERT_TRUE(poll_until([] {
    step();
    return world_last_error() == NET_RATING;
  }));
  EXPECT_EQ("3 m160: m55", recorder.console.back());
  world->command(R"(attributes 1 [[24,"3"],[14,"Y"]])");
  ASSERT_TRUE(poll_until([] {
    step();
    return world_rights_flag();
  }));
  EXPECT_EQ(0, world_last_error());
}

TEST_F(WorldLink, ANewAvatarCountLogsInAgainWithoutLeavingTheWorld) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"new","attributes":[[0,"Demo"]]})"));
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_IN));
  EXPECT_EQ(kLogin, world_line("login"));
  recorder.avatars = 30;
  // The same 8 bytes without a length, now with 30 (0x1e) avatars.
  EXPECT_EQ("login 1 0512341e00000065", world_line("login"));
  EXPECT_FALSE(world_login_in_flight());
  // The server's empty answer is taken as an empty frame; the world stays entered.
  world->collect(200, step);
  EXPECT_EQ(WORLD_IN, world_state());
  EXPECT_EQ(1, world_login_count());
  EXPECT_EQ(0, world_message("still here"));
  EXPECT_EQ("frame 1 070a7374696c6c2068657265", world_line("frame"));
}

TEST_F(WorldLink, NewContentsRestartTheQueryAtTheNextDone) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"new","attributes":[[19,"1"]]})"));
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_IN));
  auto wait_done = [this](int n) {
    return poll_until([this, n] {
      step();
      return recorder.count("prop_query_done") == n;
    });
  };
  ASSERT_TRUE(poll_until([this] {
    step();
    return recorder.count("worlds_mark_current demo") >= 2;
  }));
  // Nothing was cached for this world: its marker counts as new contents once in the world.
  EXPECT_EQ(2, recorder.count("reset_modules"));
  world->command("reply 1 15");
  world->command("reply 1 15");
  ASSERT_TRUE(wait_done(1));
  EXPECT_EQ(1, recorder.count("prop_query_restart"));
  // The same marker again: no reset, and 15 ends the query.
  world->command(R"(attributes 1 [[19,"1"]])");
  world->command("reply 1 15");
  ASSERT_TRUE(wait_done(2));
  EXPECT_EQ(2, recorder.count("reset_modules"));
  EXPECT_EQ(1, recorder.count("prop_query_restart"));
  // A new marker: everything is reset, and the next 15 starts the query over.
  int resets = recorder.count("prop_reset");
  world->command(R"(attributes 1 [[19,"2"]])");
  world->command("reply 1 15");
  world->command("reply 1 15");
  ASSERT_TRUE(wait_done(3));
  EXPECT_EQ(3, recorder.count("reset_modules"));
  EXPECT_EQ(2, recorder.count("prop_query_restart"));
  EXPECT_EQ(resets + 1, recorder.count("prop_reset"));
}

TEST_F(WorldLink, BadNamesAreRefusedBeforeAnythingIsSent) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"new"})"));
  EXPECT_EQ(NET_BAD_WORLD_NAME, world_enter(nullptr));
  EXPECT_EQ(NET_BAD_WORLD_NAME, world_enter(""));
  EXPECT_EQ(NET_BAD_WORLD_NAME, world_enter("a.b"));
  EXPECT_EQ(NET_BAD_WORLD_NAME, world_enter("a:b"));
  EXPECT_EQ(NET_WORLD_NAME_LONG, world_enter("ninechars"));
  EXPECT_EQ(0, world_enter("eightchr"));  // asked; this universe knows no such world
  EXPECT_EQ("frame 1 18086569676874636872", universe->wait_for("frame 1 18", step));
  ASSERT_TRUE(poll_until([] {
    step();
    return world_last_error() != NET_NOT_YET;
  }));
  EXPECT_EQ(6, world_last_error());  // the universe's "no such world"
  EXPECT_EQ(WORLD_NONE, world_state());
}

}  // namespace
