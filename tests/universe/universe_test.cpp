// The universe connection end to end over loopback against the fake universe server: the
// login frames byte for byte, replies, the heartbeat on a fake clock, reconnection and
// relogin, and replies that are cut short or unknown.
#include <gtest/gtest.h>

#include <cstring>

#include "client/core/identity.h"
#include "client/core/msg.h"
#include "client/core/zipcrypt.h"
#include "client/servers/about.h"
#include "platform/headless_host.h"
#include "client/net/netcodes.h"
#include "tests/universe/universe_test_util.h"

using namespace utest;

namespace {

const char* kConfig =
    R"({"citizens":[{"name":"alice","password":"secret","number":101,"privilege_password":"ppw"},)"
    R"({"name":"bob","password":"hunter2","number":102}],"session":4660,"beta":1})";

// Hand-derived body of the login request: code 45, build, name, password, privilege
// number, privilege password, hide-world flag.
std::string login_body(const std::string& name, const std::string& password, const std::string& tail) {
  return "2d" + hex_build() + hex_string(name) + hex_string(password) + tail;
}

std::vector<std::pair<int, std::string>> numbers_seen;
std::vector<std::string> telegrams_seen;
int waiting_seen = 0;
std::vector<universe_contact_entry> contacts_seen;

class UniverseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    login_reset();
    install_hooks(recorder);
    numbers_seen.clear();
    telegrams_seen.clear();
    contacts_seen.clear();
    waiting_seen = 0;
  }
  void TearDown() override {
    universe_term();
    login_reset();
    remove_hooks();
  }

  // Settings pointing at the fake, then frames until the connection is up.
  void connect(FakeUniverse& fake, const std::string& citizen = "") {
    dir = std::make_unique<ProgramDir>(ini_for(fake.port(), citizen));
    ASSERT_EQ(0, universe_init());
    ASSERT_TRUE(update_until([] { return universe_connected(); }));
    ASSERT_EQ("accept 1", fake.wait_for("accept", nullptr));
  }

  // The next frame the fake got, as hex.
  std::string next_frame(FakeUniverse& fake, int connection = 1) {
    std::string prefix = "frame " + std::to_string(connection) + " ";
    std::string l = fake.wait_for(prefix, [] { universe_update(); });
    return l.empty() ? "" : l.substr(prefix.size());
  }

  // Frames until `done` holds, or false after the poll's limit.
  static bool update_until(bool (*done)()) {
    return poll_until([done] {
      universe_update();
      return done();
    });
  }

  // Frames for a while in which the fake must get no frame.
  static void expect_no_frame(FakeUniverse& fake) {
    for (auto& l : fake.collect(300, [] { universe_update(); })) EXPECT_NE(0u, l.rfind("frame", 0)) << l;
  }

  // The fake ends the session by `order`; after the retry interval, the login the new
  // connection sends, as hex ("" if none came).
  std::string relogin_after(FakeUniverse& fake, const std::string& order) {
    fake.command(order);
    if (!update_until([] { return universe_state() == UNIVERSE_CONNECTING; })) {
      ADD_FAILURE() << "still connected after " << order;
      return "";
    }
    clock.advance(UNIVERSE_RETRY_INTERVAL);
    std::string relogin;
    for (int c = 2; c <= 4 && relogin.empty(); ++c) relogin = next_frame(fake, c);
    return relogin;
  }

  // The login frame sent while a privilege and hiding from the world are asked for.
  std::string login_frame_asking(FakeUniverse& fake, int32_t privilege, const char* name, const char* password) {
    recorder.requested_privilege = privilege;
    recorder.hide_world = 1;
    EXPECT_EQ(0, universe_login(name, password)) << name;
    return next_frame(fake);
  }

  // The fake sends a login reply by `order`; true once the connection has taken it (each
  // login reply ends in an upgrade check).
  bool login_reply_taken(FakeUniverse& fake, const std::string& order) {
    int checks = recorder.upgrade_checks;
    fake.command(order);
    return poll_until([&] {
      universe_update();
      return recorder.upgrade_checks > checks;
    });
  }

  void log_in_as(FakeUniverse& fake, const char* name, const char* password) {
    ASSERT_EQ(0, universe_login(name, password));
    ASSERT_FALSE(next_frame(fake).empty());
    ASSERT_TRUE(update_until([] { return universe_logged_in(); }));
  }

  // Connected and logged in as alice, whose login reply gave session 4660 and number 101.
  void connect_as_alice(FakeUniverse& fake) {
    ASSERT_NO_FATAL_FAILURE(connect(fake));
    ASSERT_NO_FATAL_FAILURE(log_in_as(fake, "alice", "secret"));
    ASSERT_EQ(4660, universe_session_word());
    ASSERT_EQ(101, universe_citizen_number());
  }

  FakeClock clock;
  Recorder recorder;
  std::unique_ptr<ProgramDir> dir;
};

TEST_F(UniverseTest, CitizenLoginSendsTheGoldenFrameAndTakesTheReply) {
  FakeUniverse fake(kConfig);
  ASSERT_NO_FATAL_FAILURE(connect(fake, "[citizen]\nname=alice\n"));
  profile_set_encrypted_string("citizen", "pass", "secret");
  EXPECT_EQ(UNIVERSE_CONNECTED, universe_state());
  ASSERT_EQ(0, login_auto());
  EXPECT_EQ(0, login_done());
  EXPECT_EQ(login_body("alice", "secret", "00000000" "00" "00"), next_frame(fake));
  ASSERT_TRUE(update_until([] { return login_done() != 0; }));
  EXPECT_EQ(0, login_last_result());
  EXPECT_EQ(UNIVERSE_LOGGED_IN, universe_state());
  EXPECT_EQ(4660, universe_session_word());
  EXPECT_EQ(101, universe_citizen_number());
  EXPECT_TRUE(universe_beta());
  ASSERT_EQ(1u, recorder.names.size());
  EXPECT_EQ("alice", recorder.names[0]);
  EXPECT_EQ("secret", recorder.passwords.at(0));
  EXPECT_EQ(101, recorder.numbers.at(0));
  EXPECT_EQ(1, recorder.identity_changes);
}

TEST_F(UniverseTest, AboutBoxTellsWhoIsLoggedIn) {
  HeadlessHost headless;
  host_set(&headless);
  FakeUniverse fake(kConfig);
  ASSERT_NO_FATAL_FAILURE(connect(fake));
  ASSERT_NO_FATAL_FAILURE(log_in_as(fake, "alice", "secret"));
  citizen_set_number(101);  // as the login module records the reply
  ASSERT_EQ(0, about_show(0));
  EXPECT_EQ(std::string(msg_arg(97, 101)), headless.about_text(ABOUT_STATUS));
  // A tourist is named by the name they came as.
  citizen_set_number(0);
  citizen_set_name("Wanderer");
  ASSERT_EQ(0, about_show(0));
  EXPECT_EQ(std::string(msg_arg(99, "Wanderer")), headless.about_text(ABOUT_STATUS));
  about_hide();
  host_set(nullptr);
}

TEST_F(UniverseTest, CitizenLoginCarriesPrivilegeAndHideWorld) {
  FakeUniverse fake(kConfig);
  ASSERT_NO_FATAL_FAILURE(connect(fake));
  EXPECT_EQ(login_body("bob", "hunter2", "01020304" "03707077" "01"),
            login_frame_asking(fake, 0x01020304, "bob", "hunter2"));
}

TEST_F(UniverseTest, TouristFormsSendZeroPrivilegeFields) {
  FakeUniverse fake(kConfig);
  ASSERT_NO_FATAL_FAILURE(connect(fake));
  // The tourist's quoted name, then the anonymous form: an empty name.
  for (const char* name : {"\"Wanderer\"", ""})
    EXPECT_EQ(login_body(name, "", "00000000" "00" "00"), login_frame_asking(fake, 77, name, ""));
}

TEST_F(UniverseTest, RequestsMatchTheirHandDerivedBytes) {
  FakeUniverse fake(kConfig);
  ASSERT_NO_FATAL_FAILURE(connect(fake));
  uint8_t ip[4] = {10, 0, 0, 7};
  uint32_t address;
  std::memcpy(&address, ip, 4);
  struct Case {
    std::function<int()> send;
    std::string body;
  } cases[] = {
      {[] { return universe_lookup_world("demo"); }, "18" "0464656d6f"},
      {[] { return universe_immigrate("al", "pw", "a@b"); }, "19" "02616c" "027077" "02" "03614062"},
      {[] { return universe_set_citizen_attributes("al", "pw", "bo", "", "e", "p"); },
       "1a" "02616c" "027077" "00" "02626f" "01" "00" "02" "0165" "03" "0170"},
      {[] { return universe_get_citizen_attributes("al", "pw"); }, "1b" "02616c" "027077"},
      {[] { return universe_send_password("al", "x"); }, "1c" "02616c" "0178"},
      {[] { return universe_get_citizen_name(258); }, "21" "00000102"},
      {[] { return universe_get_telegram(); }, "22"},
      {[] { return universe_send_telegram(-1, "hi"); }, "23" "ffffffff" "026869"},
      {[] { return universe_get_citizen_number("bob"); }, "24" "03626f62"},
      {[address] { return universe_whos_at(address); }, "25" "0a000007"},
      {[] { return universe_get_worlds(); }, "26"},
      {[] { return universe_add_contact(5); }, "29" "00000005"},
      {[] { return universe_delete_contact(6); }, "2a" "00000006"},
      {[] { return universe_get_citizen_location(7); }, "2b" "00000007"},
      {[] { return universe_location(250, 9, "w", 1, 2, 3, 4); }, "2c" "fa" "00000009"},
      {[] { return universe_location(0, 9, "w", -1, 2, 3, 3599); },
       "2c" "00" "00000009" "0177" "ffffffff" "00000002" "00000003" "0e0f"},
      {[] { return universe_set_attributes("1", "2", "", "w", "x"); },
       "17" "000131" "010132" "0200" "030177" "040178"},
  };
  for (auto& c : cases) {
    ASSERT_EQ(0, c.send()) << c.body;
    EXPECT_EQ(c.body, next_frame(fake));
  }
}

TEST_F(UniverseTest, HeartbeatGoesSixtySecondsAfterTheLastSend) {
  FakeUniverse fake(kConfig);
  ASSERT_NO_FATAL_FAILURE(connect(fake));
  ASSERT_NO_FATAL_FAILURE(log_in_as(fake, "alice", "secret"));
  // Nothing due yet: 59999 ms after the login.
  clock.advance(59999);
  expect_no_frame(fake);
  clock.advance(1);
  EXPECT_EQ("20", next_frame(fake));
  // Any send moves the next heartbeat on (here one that waits for no answer, whose
  // absence would end the connection when the clock jumps).
  clock.advance(30000);
  ASSERT_EQ(0, universe_delete_contact(5));
  EXPECT_EQ("2a00000005", next_frame(fake));
  clock.advance(59999);
  expect_no_frame(fake);
  clock.advance(1);
  EXPECT_EQ("20", next_frame(fake));
}

void record_number(int rc, const char* name, int32_t number) {
  numbers_seen.emplace_back(rc == 0 ? number : -rc, name);
}

TEST_F(UniverseTest, OneReplyIsHandledPerFrame) {
  FakeUniverse fake(kConfig);
  ASSERT_NO_FATAL_FAILURE(connect(fake));
  ASSERT_NO_FATAL_FAILURE(log_in_as(fake, "alice", "secret"));
  universe_receiver.telegram_receive_number = record_number;
  // Three replies 12 in one write.
  fake.command("send 1 000800" "0c" "0161" "00000001" "000800" "0c" "0162" "00000002" "000800" "0c" "0163" "00000003");
  ASSERT_TRUE(update_until([] { return !numbers_seen.empty(); }));
  // The whole write was there for the first frame; still one reply each frame.
  ASSERT_EQ(1u, numbers_seen.size());
  sleep_ms(50);
  universe_update();
  ASSERT_EQ(2u, numbers_seen.size());
  universe_update();
  ASSERT_EQ(3u, numbers_seen.size());
  universe_update();
  ASSERT_EQ(3u, numbers_seen.size());
  EXPECT_EQ((std::vector<std::pair<int, std::string>>{{1, "a"}, {2, "b"}, {3, "c"}}), numbers_seen);
}

TEST_F(UniverseTest, UnknownReplyIsSkippedByItsLength) {
  FakeUniverse fake(kConfig);
  ASSERT_NO_FATAL_FAILURE(connect(fake));
  ASSERT_NO_FATAL_FAILURE(log_in_as(fake, "alice", "secret"));
  universe_receiver.telegram_receive_number = record_number;
  // Reply 99 whose body looks like a frame of its own, then a reply 12.
  fake.command("send 1 000800" "63" "0004000c0178" "000800" "0c" "0178" "0000002a");
  ASSERT_TRUE(update_until([] { return !numbers_seen.empty(); }));
  ASSERT_EQ(1u, numbers_seen.size());
  EXPECT_EQ(42, numbers_seen[0].first);
  EXPECT_EQ("x", numbers_seen[0].second);
  EXPECT_EQ(UNIVERSE_LOGGED_IN, universe_state());
}

TEST_F(UniverseTest, ReplyShorterThanItsFieldsIsRefused) {
  FakeUniverse fake(kConfig);
  ASSERT_NO_FATAL_FAILURE(connect(fake));
  ASSERT_NO_FATAL_FAILURE(log_in_as(fake, "alice", "secret"));
  universe_receiver.telegram_receive_number = record_number;
  universe_receiver.telegram_receive = [](int32_t, const char* from, const char* text, int) {
    telegrams_seen.push_back(std::string(from) + ":" + text);
  };
  // Reply 12 without its number; a name whose length byte runs past the message; a
  // telegram cut inside its text; then a whole reply 12.
  fake.command("send 1 000500" "0c" "0178" "00" "000700" "0c" "09" "61626364" "000b00" "0a" "00000001"
               "0162" "05" "6869" "000800" "0c" "0179" "00000007");
  ASSERT_TRUE(update_until([] { return !numbers_seen.empty(); }));
  ASSERT_EQ(1u, numbers_seen.size());
  EXPECT_EQ(7, numbers_seen[0].first);
  EXPECT_EQ("y", numbers_seen[0].second);
  EXPECT_TRUE(telegrams_seen.empty());
  EXPECT_EQ(UNIVERSE_LOGGED_IN, universe_state());
}

TEST_F(UniverseTest, LoginReplyWithOnlyItsFirstFieldsKeepsTheRest) {
  FakeUniverse fake(kConfig);
  ASSERT_NO_FATAL_FAILURE(connect_as_alice(fake));
  ASSERT_TRUE(universe_beta());
  // rc 0, code 20, sign-up 1, int32; then a reply cut inside the second group.
  ASSERT_EQ(0, universe_login("bob", "hunter2"));
  ASSERT_FALSE(next_frame(fake).empty());
  // Drop the fake's own answer to bob first.
  ASSERT_TRUE(update_until([] { return std::string(universe_session_name()) == "bob"; }));
  ASSERT_TRUE(login_reply_taken(fake, "send 1 000700" "14" "01" "00000000"));
  EXPECT_TRUE(universe_signup_offered());
  EXPECT_TRUE(universe_beta());
  EXPECT_EQ(4660, universe_session_word());
  EXPECT_EQ(102, universe_citizen_number());
  EXPECT_EQ(UNIVERSE_LOGGED_IN, universe_state());
  ASSERT_TRUE(login_reply_taken(fake, "send 1 000900" "14" "00" "00000000" "0000"));
  EXPECT_FALSE(universe_signup_offered());
  EXPECT_TRUE(universe_beta());
  EXPECT_EQ(102, universe_citizen_number());
}

// Replies about the user's own account change only what they carry whole.
TEST_F(UniverseTest, AccountRepliesTakeOnlyWhatTheyCarryWhole) {
  FakeUniverse fake(kConfig);
  ASSERT_NO_FATAL_FAILURE(connect_as_alice(fake));
  // A login reply cut inside its third group (session word, citizen number).
  ASSERT_TRUE(login_reply_taken(fake, "send 1 000f00" "14" "00" "00000000" "00000000" "01" "123400"));
  EXPECT_EQ(4660, universe_session_word());
  EXPECT_EQ(101, universe_citizen_number());
  // A well-formed citizen-attributes reply is taken whole.
  std::vector<std::string> seen;
  static std::vector<std::string>* out = &seen;
  universe_receiver.immigrate_show_attributes = [](int rc, const std::vector<universe_tag_text>& f) {
    std::string t = std::to_string(rc);
    for (auto& e : f) t += " " + std::to_string(e.tag) + "=" + e.text;
    out->push_back(t);
  };
  fake.command("send 1 000a00" "03" "0201" "61" "1103" "313233");
  // A refused reply 12 carries no number; the next accepted one does.
  universe_receiver.telegram_receive_number = record_number;
  fake.command("send 1 000405" "0c" "0178");
  ASSERT_TRUE(update_until([] { return !numbers_seen.empty(); }));
  EXPECT_EQ(101, universe_citizen_number());
  fake.command("send 1 000800" "0c" "0179" "00000007");
  ASSERT_TRUE(update_until([] { return numbers_seen.size() == 2; }));
  EXPECT_EQ(7, universe_citizen_number());
  EXPECT_EQ(std::vector<std::string>{"0 2=a 17=123"}, seen);
  universe_receiver.immigrate_show_attributes = nullptr;
}

TEST_F(UniverseTest, LoginBeforeTheConnectionIsNotLeftInFlight) {
  FakeUniverse fake(kConfig);
  dir = std::make_unique<ProgramDir>(ini_for(fake.port()));
  ASSERT_EQ(0, universe_init());
  EXPECT_EQ(NET_NOT_YET, universe_login("alice", "secret"));
  EXPECT_EQ(UNIVERSE_RESOLVING, universe_state());
  EXPECT_FALSE(universe_connected());
  EXPECT_EQ(NET_NOT_YET, universe_get_worlds());
  // Later frames still connect normally.
  ASSERT_TRUE(update_until([] { return universe_connected(); }));
  EXPECT_EQ(UNIVERSE_CONNECTED, universe_state());
}

TEST_F(UniverseTest, ConnectionDroppedDuringTheLoginReportsItAndReconnects) {
  for (const char* mode : {"close", "partial"}) {
    SCOPED_TRACE(mode);
    login_reset();
    universe_term();
    FakeUniverse fake(kConfig, {"--drop-login", "1", "--drop-mode", mode});
    ASSERT_NO_FATAL_FAILURE(connect(fake, "[citizen]\nname=alice\n"));
    profile_set_encrypted_string("citizen", "pass", "secret");
    ASSERT_EQ(0, login_auto());
    ASSERT_FALSE(next_frame(fake).empty());
    ASSERT_TRUE(update_until([] { return login_done() != 0; }));
    EXPECT_EQ(NET_LOGIN_LOST, login_last_result());
    EXPECT_EQ(UNIVERSE_CONNECTING, universe_state());
    // No session ever existed: the new connection does not log in by itself.
    clock.advance(UNIVERSE_RETRY_INTERVAL);
    ASSERT_TRUE(update_until([] { return universe_connected(); }));
    expect_no_frame(fake);
    EXPECT_EQ(UNIVERSE_CONNECTED, universe_state());
  }
}

TEST_F(UniverseTest, DroppedSessionLogsInAgainWithTheSameIdentity) {
  FakeUniverse fake(kConfig);
  ASSERT_NO_FATAL_FAILURE(connect(fake));
  ASSERT_NO_FATAL_FAILURE(log_in_as(fake, "alice", "secret"));
  // A refused attempt as bob must not become the identity of the relogin.
  ASSERT_EQ(0, universe_login("bob", "wrong"));
  ASSERT_EQ(login_body("bob", "wrong", "00000000" "00" "00"), next_frame(fake));
  ASSERT_TRUE(update_until([] { return login_last_result() == 13; }));
  int refreshes = recorder.contacts_refreshes, lists = recorder.worlds_refreshes;
  EXPECT_EQ(login_body("alice", "secret", "00000000" "00" "00"), relogin_after(fake, "drop 1"));
  ASSERT_TRUE(update_until([] { return universe_logged_in(); }));
  // The lists the person sees are asked for again at once, not at their next refresh.
  EXPECT_EQ(refreshes + 1, recorder.contacts_refreshes);
  EXPECT_EQ(lists + 1, recorder.worlds_refreshes);
  EXPECT_STREQ("alice", universe_session_name());
}

// The universe ends a session by `order`; the next connection logs in as the same identity.
struct ReloginCase {
  const char* label;
  const char* order;
  const char* name;
  const char* password;
};

class UniverseReloginTest : public UniverseTest, public ::testing::WithParamInterface<ReloginCase> {};

TEST_P(UniverseReloginTest, LogsInAgainAsTheSameIdentity) {
  const ReloginCase& c = GetParam();
  FakeUniverse fake(kConfig);
  ASSERT_NO_FATAL_FAILURE(connect(fake));
  ASSERT_NO_FATAL_FAILURE(log_in_as(fake, c.name, c.password));
  EXPECT_EQ(login_body(c.name, c.password, "00000000" "00" "00"), relogin_after(fake, c.order));
}

INSTANTIATE_TEST_SUITE_P(SessionEnds, UniverseReloginTest,
                         ::testing::Values(ReloginCase{"DroppedTourist", "drop 1", "\"Wanderer\"", ""},
                                           ReloginCase{"ReconnectOrder", "reconnect 1", "bob", "hunter2"}),
                         [](const ::testing::TestParamInfo<ReloginCase>& i) { return std::string(i.param.label); });

TEST_F(UniverseTest, FailedConnectIsRetriedASecondLater) {
  // A port with nothing listening.
  FakeUniverse fake(kConfig);
  uint16_t port = fake.port();
  dir = std::make_unique<ProgramDir>(ini_for(port));
  fake.command("quit");
  // Its listener is gone once the fake has ended (its output closes).
  ASSERT_TRUE(poll_until([&] {
    fake.line(10);
    return fake.ended();
  }));
  ASSERT_EQ(0, universe_init());
  auto attempts_in = [](int frames) {
    int attempts = 0;
    for (int i = 0; i < frames; ++i) {
      bool connecting = universe_state() <= UNIVERSE_CONNECTING;
      int r = universe_update();
      if (connecting && (r != 0 || universe_state() == UNIVERSE_CONNECTED)) ++attempts;
      sleep_ms(1);
    }
    return attempts;
  };
  // The refusal comes at once or a moment later; either way the clock holds the next try.
  EXPECT_EQ(1, attempts_in(200));
  clock.advance(UNIVERSE_RETRY_INTERVAL - 1);
  EXPECT_EQ(0, attempts_in(50));
  clock.advance(1);
  EXPECT_EQ(1, attempts_in(200));
  EXPECT_FALSE(universe_logged_in());
}

TEST_F(UniverseTest, PortSettings) {
  dir = std::make_unique<ProgramDir>("[universe]\nhost=127.0.0.1\n");
  universe_init();
  EXPECT_EQ(htons(5670), universe_port());
  universe_term();
  profile_set_int("universe", "port", 0);
  universe_init();
  EXPECT_EQ(0, universe_port());
  universe_term();
  // A retired host name is replaced and cleared in the settings.
  profile_set_string("universe", "host", universe_retired_hosts[1]);
  universe_init();
  EXPECT_STREQ("", profile_string("universe", "host"));
  EXPECT_EQ(UNIVERSE_RESOLVING, universe_state());
}

TEST_F(UniverseTest, ContactListSendsAtMostOneHundredNumbers) {
  FakeUniverse fake(kConfig);
  ASSERT_NO_FATAL_FAILURE(connect(fake));
  std::vector<int32_t> numbers(150);
  for (int i = 0; i < 150; ++i) numbers[i] = 1000 + i;
  ASSERT_EQ(0, universe_contact_list(numbers.data(), 150));
  std::string body = next_frame(fake);
  ASSERT_EQ(2u + 800u, body.size());
  EXPECT_EQ("28000003e8", body.substr(0, 10));
  EXPECT_EQ("0000044b", body.substr(body.size() - 8));  // 1099
}

TEST_F(UniverseTest, RegistrationTravelsEnciphered) {
  FakeUniverse fake(kConfig);
  ASSERT_NO_FATAL_FAILURE(connect(fake));
  universe_registration r{"carol", "pw", "c@x", "C Card", "4111", "Biz", "Street 1", "Town", "ST", "12345",
                          "7", "2030", "555"};
  ASSERT_EQ(0, universe_send_registration(r));
  std::string body = next_frame(fake);
  ASSERT_EQ("2e", body.substr(0, 2));
  // The fake deciphers with its own cipher and reports the fields in wire order.
  std::string l = fake.wait_for("registration", [] { universe_update(); });
  EXPECT_NE(std::string::npos, l.find(R"("tags": [0, 1, 2, 13, 4, 5, 14, 6, 7, 8, 9, 10, 11, 16])")) << l;
  EXPECT_NE(std::string::npos, l.find(R"("0": "carol")")) << l;
  EXPECT_NE(std::string::npos, l.find(R"("13": "")")) << l;
  EXPECT_NE(std::string::npos, l.find(R"("16": "555")")) << l;
  // Our own cipher gives the plain fields back too.
  std::string cipher;
  for (size_t i = 2; i + 1 < body.size(); i += 2) cipher += static_cast<char>(std::stoi(body.substr(i, 2), nullptr, 16));
  zipcrypt_decrypt(reinterpret_cast<const char*>(universe_registration_key), 7,
                   reinterpret_cast<uint8_t*>(cipher.data()), cipher.size());
  EXPECT_EQ("00" + hex_string("carol") + "01" + hex_string("pw"), hex_of(cipher.substr(0, 11)));
  EXPECT_NE(hex_of(cipher.substr(0, 11)), body.substr(2, 22));
}

TEST_F(UniverseTest, PushedTelegramNoticeAndContactStatesReachTheirModules) {
  FakeUniverse fake(kConfig);
  ASSERT_NO_FATAL_FAILURE(connect(fake));
  universe_receiver.telegram_set_waiting = [] { ++waiting_seen; };
  universe_receiver.telegram_receive = [](int32_t age, const char* from, const char* text, int more) {
    telegrams_seen.push_back(std::string(from) + ":" + text + ":" + std::to_string(age) + ":" + std::to_string(more));
  };
  universe_receiver.contacts_state = [](int, const std::vector<universe_contact_entry>& c) {
    contacts_seen.insert(contacts_seen.end(), c.begin(), c.end());
  };
  ASSERT_NO_FATAL_FAILURE(log_in_as(fake, "alice", "secret"));
  fake.command("telegram alice bob hello there");
  ASSERT_TRUE(update_until([] { return waiting_seen > 0; }));
  ASSERT_EQ(0, universe_get_telegram());
  ASSERT_TRUE(update_until([] { return !telegrams_seen.empty(); }));
  EXPECT_EQ("bob:hello there:0:0", telegrams_seen[0]);
  fake.command("contact 1 102 1 bob demo");
  ASSERT_TRUE(update_until([] { return !contacts_seen.empty(); }));
  EXPECT_EQ(102, contacts_seen[0].number);
  EXPECT_EQ(1, contacts_seen[0].state);
  EXPECT_EQ("bob", contacts_seen[0].name);
  EXPECT_EQ("demo", contacts_seen[0].world);
  // A contact list asks the fake for states: bob offline, 999 unknown (removed).
  contacts_seen.clear();
  int32_t list[] = {102, 999};
  ASSERT_EQ(0, universe_contact_list(list, 2));
  ASSERT_TRUE(update_until([] { return contacts_seen.size() >= 2; }));
  EXPECT_EQ(0, contacts_seen[0].state);
  EXPECT_EQ("bob", contacts_seen[0].name);
  EXPECT_EQ(999, contacts_seen[1].number);
  EXPECT_EQ(2, contacts_seen[1].state);
}

TEST_F(UniverseTest, UniverseAttributesAreStoredAndCheckedForUpgrade) {
  FakeUniverse fake(R"({"citizens":[{"name":"alice","password":"secret","number":101}],)"
                    R"("attributes":{"0":"100","1":"412","2":"99999999999","3":"w1","4":"start"}})");
  ASSERT_NO_FATAL_FAILURE(connect(fake));
  universe_receiver.upgrade_check = [] { ++rec->upgrade_checks; };
  ASSERT_NO_FATAL_FAILURE(log_in_as(fake, "alice", "secret"));
  ASSERT_TRUE(update_until([] { return std::string(universe_default_start_world()) == "start"; }));
  EXPECT_EQ(100, universe_minimum_browser());
  EXPECT_EQ(412, universe_latest_browser());
  EXPECT_EQ(INT32_MAX, universe_beta_browser());  // out of range: held at the limit
  EXPECT_STREQ("w1", universe_minimum_world());
  EXPECT_GE(recorder.upgrade_checks, 1);
}

}  // namespace

namespace {
std::vector<std::string> events;
}

TEST_F(UniverseTest, RepliesReachTheirReceiversWithTheirFields) {
  FakeUniverse fake(kConfig);
  ASSERT_NO_FATAL_FAILURE(connect(fake));
  ASSERT_NO_FATAL_FAILURE(log_in_as(fake, "alice", "secret"));
  events.clear();
  auto& r = universe_receiver;
  r.world_receive_address = [](int rc, const char* name, uint32_t address, uint16_t port) {
    const auto* a = reinterpret_cast<const uint8_t*>(&address);
    events.push_back("world " + std::to_string(rc) + " " + name + " " + std::to_string(a[0]) + "." +
                     std::to_string(a[3]) + ":" + std::to_string(ntohs(port)));
  };
  r.pdialog_citizen_name = [](int rc, int32_t n, const char* name) {
    events.push_back("name " + std::to_string(rc) + " " + std::to_string(n) + " " + name);
  };
  r.privilege_receive_name = [](int rc, int32_t n, const char* name) {
    events.push_back("pname " + std::to_string(rc) + " " + std::to_string(n) + " " + name);
  };
  r.avatar_receive_citizen_name = [](int rc, uint32_t address, const char* name) {
    events.push_back("whos " + std::to_string(rc) + " " + std::to_string(reinterpret_cast<const uint8_t*>(&address)[0]) +
                     " " + name);
  };
  r.join_receive_location = [](int rc, int32_t n, const char* w, int32_t x, int32_t y, int32_t z, int yaw) {
    events.push_back("join " + std::to_string(rc) + " " + std::to_string(n) + " " + w + " " + std::to_string(x) + " " +
                     std::to_string(y) + " " + std::to_string(z) + " " + std::to_string(yaw));
  };
  r.register_result = [](int rc, const char* text) {
    events.push_back("register " + std::to_string(rc) + " " + (text ? text : "(none)"));
  };
  r.immigrate_show_attributes = [](int rc, const std::vector<universe_tag_text>& f) {
    std::string s = "attributes " + std::to_string(rc);
    for (auto& t : f) s += " " + std::to_string(t.tag) + "=" + t.text;
    events.push_back(s);
  };
  r.worlds_receive_list = [](int rc, const std::vector<universe_world_entry>& w) {
    std::string s = "worlds " + std::to_string(rc);
    for (auto& e : w) s += " " + e.name + "/" + std::to_string(e.status) + "/" + std::to_string(e.users);
    events.push_back(s);
  };
  r.immigrate_change_result = [](int rc) { events.push_back("change " + std::to_string(rc)); };
  const char* replies[] = {
      "000d00" "00" "0464656d6f" "0a000001" "1a0e",        // world demo at 10.0.0.1:6670
      "000700" "00" "0464656d6f",                          // rc 6 answer needs only the name
      "0007" "06" "00" "0464656d6f",
      "000a00" "08" "00000065" "03616c69",                 // name of 101
      "000603" "08" "00000066",                            // rc 3: the number only
      "000a00" "0d" "7f000001" "03626f62",                 // who is at 127.0.0.1
      "001600" "11" "00000066" "0177" "00000001" "fffffffe" "00000003" "0384",
      "000800" "13" "68656c6c6f00",                        // text ends at its zero byte
      "00022e" "13",                                        // empty: no text
      "000e00" "03" "0201" "61" "1103" "313233" "0205" "7878",  // last record cut short
      "000f00" "0e" "0161" "01" "0005" "0462657461" "00" "ffff",
      "000400" "02" "4321",
  };
  for (const char* hex : replies) fake.command(std::string("send 1 ") + hex);
  ASSERT_TRUE(update_until([] { return events.size() >= 13; }));
  std::vector<std::string> want = {
      "world 0 demo 10.1:6670",
      "world 6 demo 0.0:0",
      "name 0 101 ali",
      "pname 0 101 ali",
      "name 3 102 ",
      "pname 3 102 ",
      "whos 0 127 bob",
      "join 0 102 w 1 -2 3 900",
      "register 0 hello",
      "register 46 (none)",
      "attributes 421 2=a 17=123",
      "worlds 0 a/1/5 beta/0/-1",
      "change 0",
  };
  // "000700 00 0464656d6f" is a rc 0 address reply without address: refused.
  EXPECT_EQ(want, events);
  EXPECT_EQ(0x4321, universe_session_word());
}

TEST_F(UniverseTest, RandomRepliesNeverBreakTheConnection) {
  FakeUniverse fake(kConfig);
  ASSERT_NO_FATAL_FAILURE(connect(fake));
  ASSERT_NO_FATAL_FAILURE(log_in_as(fake, "alice", "secret"));
  auto& r = universe_receiver;
  r.contacts_state = [](int, const std::vector<universe_contact_entry>&) {};
  r.worlds_receive_list = [](int, const std::vector<universe_world_entry>&) {};
  r.telegram_receive = [](int32_t, const char*, const char*, int) {};
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7fff;
  };
  std::string all;
  for (int i = 0; i < 300; ++i) {
    int n = 2 + static_cast<int>(next() % 40);
    std::string body;
    body += static_cast<char>(next() % 4 == 0 ? next() % 256 : 0);
    int code = static_cast<int>(next() % 23);
    if (code == UREP_RECONNECT || code == UREP_LOGIN) code = UREP_TELEGRAM;  // keep the session
    body += static_cast<char>(code);
    for (int k = 2; k < n; ++k) body += static_cast<char>(next() % 256);
    all += std::string{static_cast<char>(n >> 8), static_cast<char>(n & 255)} + body;
    if (all.size() > 1500) {
      fake.command("send 1 " + hex_of(all));
      all.clear();
    }
  }
  fake.command("send 1 " + hex_of(all) + "000800" "0c" "017a" "00000009");
  numbers_seen.clear();
  r.telegram_receive_number = record_number;
  ASSERT_TRUE(poll_until([] {
    universe_update();
    return !numbers_seen.empty() && numbers_seen.back().second == "z";
  }, testutil::kWaitMs));
  EXPECT_EQ(UNIVERSE_LOGGED_IN, universe_state());
}
