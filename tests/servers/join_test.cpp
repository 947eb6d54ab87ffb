// Join requests both ways against the fake universe: the client asks where a second citizen
// (a plain socket logged in as "bob") is and goes there; bob asks and the client answers
// with its own place; privacy settings, the typed answers, time-outs and bad replies.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/servers/servers_test_util.h"

using namespace stest;

namespace {

struct Moved {
  std::string world;
  float x, y, z, yaw;
  int history;
};
std::vector<Moved> moves;
std::vector<std::string> lines;
std::vector<int32_t> contacts;  // numbers
std::string own_world;
double own_x, own_y, own_z, own_yaw;

class JoinTest : public UniverseFixture {
 protected:
  void SetUp() override {
    UniverseFixture::SetUp();
    moves.clear();
    lines.clear();
    contacts.clear();
    own_world = "Zeta";
    own_x = 1.2345, own_y = -0.5, own_z = 100, own_yaw = 359.7;
    join_hook = join_hooks{};
    join_hook.teleport = [](const char* w, float x, float y, float z, float yaw, int h) {
      moves.push_back({w, x, y, z, yaw, h});
    };
    join_hook.console_print = [](int kind, const char* l) { lines.push_back(std::to_string(kind) + " " + l); };
    join_hook.contacts_lookup_name = [](int32_t n) -> const char* {
      return std::find(contacts.begin(), contacts.end(), n) != contacts.end() ? "bob" : nullptr;
    };
    join_hook.self_x = [] { return own_x; };
    join_hook.self_y = [] { return own_y; };
    join_hook.self_z = [] { return own_z; };
    join_hook.self_yaw = [] { return own_yaw; };
    join_hook.world_name = [] { return own_world.c_str(); };
  }
  void TearDown() override {
    join_hook = join_default_hooks();
    UniverseFixture::TearDown();
  }

  // Alice on the client, bob on a plain socket.
  void start_both(const std::string& privacy = "") {
    ASSERT_NO_FATAL_FAILURE(start("", privacy));
    ASSERT_NO_FATAL_FAILURE(log_in("alice", "secret"));
    bob = std::make_unique<RawClient>(fake->port());
    ASSERT_TRUE(bob->ok());
    bob->login("bob", "hunter2");
    std::string r = bob->reply_of(20);
    ASSERT_GE(r.size(), 2u);
    ASSERT_EQ(0, r[0]);
  }

  // The client's answer to a join request (message 44), as hex.
  static std::string location_frame(int rc, int32_t requester, const std::string& world, int32_t x, int32_t y,
                                    int32_t z, int yaw) {
    std::string f = "2c" + hex_byte(rc) + hex_int32(requester);
    if (rc == 0) f += hex_string(world) + hex_int32(x) + hex_int32(y) + hex_int32(z) + hex_int16(yaw);
    return f;
  }
  static std::string request_reply(int32_t number, const std::string& name) {
    return reply(0, 16, hex_int32(number) + hex_string(name));
  }

  std::unique_ptr<RawClient> bob;
};

TEST_F(JoinTest, AnsweredRequestPutsTheUserHalfAUnitInFrontFacingThem) {
  ASSERT_NO_FATAL_FAILURE(start_both());
  ASSERT_EQ(0, join(102, "bob"));
  EXPECT_EQ("2b" + hex_int32(102), next_frame_of(43));
  std::string asked = bob->reply_of(16);
  ASSERT_EQ(std::string("\0\x10", 2) + RawClient::i32(101) + RawClient::str("alice"), asked);
  // Bob is at (10, 2, -5) facing 90 degrees.
  bob->send_request(44, std::string(1, '\0') + RawClient::i32(101) + RawClient::str("Zeta") + RawClient::i32(10000) +
                            RawClient::i32(2000) + RawClient::i32(-5000) + std::string("\x03\x84", 2));
  ASSERT_TRUE(poll_until([] {
    universe_update();
    return !moves.empty();
  }));
  ASSERT_EQ(1u, moves.size());
  EXPECT_EQ("Zeta", moves[0].world);
  EXPECT_NEAR(10.5f, moves[0].x, 1e-4);
  EXPECT_NEAR(2.0f, moves[0].y, 1e-4);
  EXPECT_NEAR(-5.0f, moves[0].z, 1e-4);
  EXPECT_NEAR(270.0f, moves[0].yaw, 1e-4);
  EXPECT_EQ(1, moves[0].history);
  EXPECT_EQ(0, join_asked_number());
  // A second answer for the same number finds nothing asked.
  inject(reply(0, 17, hex_int32(102) + hex_string("Zeta") + hex_int32(0) + hex_int32(0) + hex_int32(0) + hex_int16(0)));
  pump_for(100);
  EXPECT_EQ(1u, moves.size());
}

TEST_F(JoinTest, RefusalsAreToldByWhoRefused) {
  ASSERT_NO_FATAL_FAILURE(start_both());
  contacts = {102};
  ASSERT_EQ(0, join(102, "bob"));
  ASSERT_FALSE(bob->reply_of(16).empty());
  bob->send_request(44, std::string("\xfa", 1) + RawClient::i32(101));
  ASSERT_TRUE(poll_until([] {
    universe_update();
    return !lines.empty();
  }));
  EXPECT_EQ(std::vector<std::string>{"3 m160: m197 bob"}, lines);
  // From someone who is not a contact the code itself is shown.
  contacts.clear();
  ASSERT_EQ(0, join(102, "bob"));
  ASSERT_FALSE(bob->reply_of(16).empty());
  bob->send_request(44, std::string("\xfa", 1) + RawClient::i32(101));
  ASSERT_TRUE(poll_until([] {
    universe_update();
    return lines.size() == 2;
  }));
  EXPECT_EQ("3 m160: m229 250", lines[1]);
  // Nobody online under that number.
  ASSERT_EQ(0, join(555, "ghost"));
  ASSERT_TRUE(poll_until([] {
    universe_update();
    return lines.size() == 3;
  }));
  EXPECT_EQ("3 m160: m241 ghost", lines[2]);
  EXPECT_TRUE(moves.empty());
  // A request that cannot be sent is told at once, not as an unanswered one later.
  universe_term();
  EXPECT_EQ(401, join(102, "bob"));  // not connected
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("3 m160: m58 401", lines[3]);
  EXPECT_EQ(0, join_asked_number());
}

TEST_F(JoinTest, UnansweredRequestTimesOutAndItsLateAnswerIsIgnored) {
  FakeClock clock;
  ASSERT_NO_FATAL_FAILURE(start_both());
  ASSERT_EQ(0, join(102, "bob"));
  ASSERT_FALSE(bob->reply_of(16).empty());
  fake_now += JOIN_TIMEOUT - 1;
  join_update();
  EXPECT_TRUE(lines.empty());
  fake_now += 1;
  join_update();
  EXPECT_EQ(std::vector<std::string>{"3 m160: m220 bob"}, lines);
  bob->send_request(44, std::string(1, '\0') + RawClient::i32(101) + RawClient::str("Zeta") + RawClient::i32(0) +
                            RawClient::i32(0) + RawClient::i32(0) + std::string(2, '\0'));
  pump_for(200);
  EXPECT_TRUE(moves.empty());
  EXPECT_EQ(1u, lines.size());
}

TEST_F(JoinTest, BeingAskedAnswersAtOnceWithTheOwnPlace) {
  ASSERT_NO_FATAL_FAILURE(start_both());
  bob->send_request(43, RawClient::i32(101));
  // 1.2345 -> 1234 mm, -0.5 -> -500, 100 -> 100000; yaw 359.7 -> 3590.
  EXPECT_EQ(location_frame(0, 102, "Zeta", 1234, -500, 100000, 3590), next_frame_of(44));
  std::string answer = bob->reply_of(17);
  EXPECT_EQ(std::string("\0\x11", 2) + RawClient::i32(101) + RawClient::str("Zeta") + RawClient::i32(1234) +
                RawClient::i32(-500) + RawClient::i32(100000) + std::string("\x0e\x06", 2),
            answer);
  EXPECT_EQ(std::vector<std::string>{"3 m160: m198 bob"}, lines);
}

TEST_F(JoinTest, PrivacyRefusesNobodyOrNonContacts) {
  ASSERT_NO_FATAL_FAILURE(start_both("[privacy]\njoin=2\n"));
  contacts = {102};
  bob->send_request(43, RawClient::i32(101));
  EXPECT_EQ(location_frame(250, 102, "", 0, 0, 0, 0), next_frame_of(44));
  std::string answer = bob->reply_of(17);
  EXPECT_EQ(std::string("\xfa\x11", 2) + RawClient::i32(101), answer);
  profile_set_int("privacy", "join", 1);
  contacts.clear();
  bob->send_request(43, RawClient::i32(101));
  EXPECT_EQ(location_frame(250, 102, "", 0, 0, 0, 0), next_frame_of(44));
  contacts = {102};
  bob->send_request(43, RawClient::i32(101));
  EXPECT_EQ(location_frame(0, 102, "Zeta", 1234, -500, 100000, 3590), next_frame_of(44));
}

TEST_F(JoinTest, InNoWorldAnAcceptedRequestGetsNoAnswer) {
  ASSERT_NO_FATAL_FAILURE(start_both());
  own_world = "";
  bob->send_request(43, RawClient::i32(101));
  for (auto& l : fake->collect(300, [] { universe_update(); })) EXPECT_NE(0u, l.rfind("frame 1 2c", 0)) << l;
  EXPECT_TRUE(lines.empty());
}

TEST_F(JoinTest, AskedRequestsQueueAndTheTypedWordsAnswerThemInTurn) {
  FakeClock clock;
  ASSERT_NO_FATAL_FAILURE(start("", "[privacy]\nverify=1\n"));
  ASSERT_NO_FATAL_FAILURE(log_in("alice", "secret"));
  EXPECT_EQ(0, join_answer("m101"));  // nothing asked
  inject(request_reply(102, "bob"));
  inject(request_reply(103, "carol"));
  pump_for(150);
  ASSERT_EQ(2, join_queue_length());
  EXPECT_EQ(std::vector<std::string>{"3 m160: m196 bob"}, lines);  // the second waits silently
  EXPECT_EQ(0, join_answer("maybe"));
  EXPECT_EQ(1, join_answer("M101"));  // without regard to case
  EXPECT_EQ(location_frame(0, 102, "Zeta", 1234, -500, 100000, 3590), next_frame_of(44));
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("3 m160: m198 bob", lines[1]);
  EXPECT_EQ("3 m160: m196 carol", lines[2]);
  EXPECT_EQ(1, join_answer("m102"));
  EXPECT_EQ(location_frame(250, 103, "", 0, 0, 0, 0), next_frame_of(44));
  EXPECT_EQ(0, join_queue_length());
}

TEST_F(JoinTest, ExpiredRequestsAreDroppedUnansweredAndNotAskedAbout) {
  FakeClock clock;
  ASSERT_NO_FATAL_FAILURE(start("", "[privacy]\nverify=1\n"));
  ASSERT_NO_FATAL_FAILURE(log_in("alice", "secret"));
  inject(request_reply(102, "bob"));
  pump_for(100);
  fake_now += 20000;
  inject(request_reply(103, "carol"));
  pump_for(100);
  ASSERT_EQ(2, join_queue_length());
  fake_now += 10000;  // bob's has expired, carol's has not
  join_update();
  EXPECT_EQ(1, join_queue_length());
  EXPECT_EQ("3 m160: m196 carol", lines.back());
  fake_now += 20000;  // carol's too
  join_update();
  EXPECT_EQ(0, join_queue_length());
  EXPECT_EQ(2u, lines.size());
  for (auto& l : fake->collect(200, [] { universe_update(); })) EXPECT_NE(0u, l.rfind("frame 1 2c", 0)) << l;
}

TEST_F(JoinTest, BadRepliesNeverCrashOrMove) {
  ASSERT_NO_FATAL_FAILURE(start_both());  // bob is asked and never answers
  ASSERT_EQ(0, join(102, "bob"));
  // Truncated: the yaw is missing; then a name that claims more bytes than come.
  inject(reply(0, 17, hex_int32(102) + hex_string("Zeta") + hex_int32(1) + hex_int32(2) + hex_int32(3)));
  inject(reply(0, 16, hex_int32(102) + "ff" + hex_of("bob")));
  inject(reply(0, 17, ""));
  pump_for(200);
  EXPECT_TRUE(moves.empty());
  EXPECT_EQ(0, join_queue_length());
  EXPECT_EQ(102, join_asked_number());  // none of them was taken as the answer
  // Extreme values still give a finite place.
  join_receive_location(0, 102, "Zeta", INT32_MIN, INT32_MAX, INT32_MIN, -32768);
  ASSERT_EQ(1u, moves.size());
  EXPECT_TRUE(std::isfinite(moves[0].x) && std::isfinite(moves[0].z) && std::isfinite(moves[0].yaw));
  // Own places beyond the wire's range are kept at its ends.
  own_x = 1e12, own_y = -1e12, own_z = std::nan(""), own_yaw = 1e300;
  join_accept(102, "bob");
  EXPECT_EQ(location_frame(0, 102, "Zeta", INT32_MAX, INT32_MIN, 0, 0), next_frame_of(44));
}

}  // namespace
