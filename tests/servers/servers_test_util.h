#pragma once
// Shared pieces of the account, join and worlds tests: the fake universe over loopback, a
// program directory whose messages name their numbers ("m<number>" and the arguments), and a
// citizen logged in through the real login.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "client/core/identity.h"
#include "client/servers/immigrate.h"
#include "client/servers/join.h"
#include "client/servers/privilege.h"
#include "client/servers/signup.h"
#include "client/servers/worlds.h"
#include "tests/universe/universe_test_util.h"

namespace stest {

using namespace utest;

// Numbered messages with the conversions the modules pass.
inline void write_messages(const std::string& dir) {
  const std::map<int, std::string> args = {
      {3, " %s"},    {4, " %d"},    {10, " %s"},   {67, " <%s>"}, {75, " %s"},   {76, " %d"},
      {139, " %d"},  {155, " %d"},  {158, " %d"},  {164, " %d"},  {165, " %d"},  {182, " %s"},
      {188, " %s"},  {189, " %s"},  {190, " %d"},  {191, " %d %d"}, {192, " <%s>"}, {196, " %s"},
      {197, " %s"},  {198, " %s"},  {202, " %s"},  {220, " %s"},  {225, " %d"},  {226, " %d:%02d"},
      {228, " <%s> %s"}, {229, " %d"}, {230, " %s"}, {238, " %s"}, {279, " %d"}, {362, " <%s>"},
      {406, " <%s>"}, {446, " <%s>"}, {78, " <%s>"}, {58, " %d"}, {241, " %s"},
  };
  std::ofstream m(dir + "/Messages/default.tzm", std::ios::trunc);
  for (int n = 1; n < 460; ++n) {
    auto it = args.find(n);
    m << n << " m" << n << (it == args.end() ? "" : it->second) << "\n";
  }
  m.close();
  msg_reset();
  msg_load("default");
}

const char* const kCitizens =
    R"({"citizens":[{"name":"alice","password":"secret","number":101,"email":"a@x","privilege_password":"ppw"},)"
    R"({"name":"bob","password":"hunter2","number":102,"privilege_password":"bobpriv"}],)"
    R"("worlds":[{"name":"Zeta","status":1,"users":3},{"name":"alpha","status":0,"users":0},)"
    R"({"name":"Beta","status":2,"users":3},{"name":"gamma","status":1,"users":12}]})";

// A fixture with the fake universe up and the connection made.
class UniverseFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    login_reset();
    identity_reset();
    login_hook = login_default_hooks();
    universe_receiver = universe_default_receivers();
    keep_universe_running(dialogs);
  }
  void TearDown() override {
    universe_term();
    login_reset();
    identity_reset();
    privilege_reset_state();
    immigrate_reset();
    register_reset();
    join_reset();
    worlds_reset();
    login_hook = login_default_hooks();
    universe_receiver = universe_default_receivers();
  }

  void start(const std::string& config = kCitizens, const std::string& ini_extra = "",
             const std::vector<std::string>& extra = {}) {
    fake = std::make_unique<FakeUniverse>(config.empty() ? std::string(kCitizens) : config, extra);
    ASSERT_NE(0, fake->port()) << "the fake universe never said it listens";
    dir = std::make_unique<ProgramDir>(ini_for(fake->port(), ini_extra));
    write_messages(dir->dir);
    immigrate_set_parent(nullptr);
    privilege_init();
    join_init();
    ASSERT_EQ(0, universe_init());
    ASSERT_TRUE(poll_until([] {
      universe_update();
      return universe_connected();
    }));
  }

  // Logs in through the login module as the stored citizen.
  void log_in(const char* name, const char* password) {
    profile_set_string("citizen", "name", name);
    profile_set_encrypted_string("citizen", "pass", password);
    ASSERT_EQ(0, login_auto());
    ASSERT_TRUE(poll_until([] {
      universe_update();
      return login_done() != 0;
    }));
    ASSERT_EQ(0, login_last_result());
  }

  // The next frame the client sent on connection 1 (hex of the body), "" when none came.
  std::string next_frame() {
    std::string l = fake->wait_for("frame 1 ", [] { universe_update(); });
    return l.empty() ? "" : l.substr(8);
  }
  // The next frame of the given request code.
  std::string next_frame_of(int code) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "frame 1 %02x", code);
    std::string l = fake->wait_for(prefix, [] { universe_update(); });
    return l.empty() ? "" : l.substr(8);
  }
  void pump_for(int ms) {
    fake->collect(ms, [] { universe_update(); });
  }
  // Raw bytes the fake writes to the client's connection.
  void inject(const std::string& hex) {
    fake->send("send 1 " + hex + "\n");
    fake->wait_for("ok send", nullptr);
  }

  ScriptedDialogs dialogs;
  std::unique_ptr<FakeUniverse> fake;
  std::unique_ptr<ProgramDir> dir;
};

// Hex helpers for hand-made replies.
inline std::string hex_byte(int v) {
  char b[3];
  std::snprintf(b, sizeof b, "%02x", v & 0xFF);
  return b;
}
inline std::string hex_int16(int v) {
  char b[5];
  std::snprintf(b, sizeof b, "%04x", v & 0xFFFF);
  return b;
}
inline std::string hex_int32(int32_t v) {
  char b[9];
  std::snprintf(b, sizeof b, "%08x", static_cast<uint32_t>(v));
  return b;
}
// A universe reply: length, rc, code, body.
inline std::string reply(int rc, int code, const std::string& body_hex) {
  return hex_int16(static_cast<int>(body_hex.size() / 2 + 2)) + hex_byte(rc) + hex_byte(code) + body_hex;
}

// A second citizen on its own plain connection to the fake universe.
class RawClient {
 public:
  explicit RawClient(uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~RawClient() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  void send_request(int code, const std::string& fields) {
    std::string body = std::string(1, static_cast<char>(code)) + fields;
    std::string out;
    out += static_cast<char>((body.size() >> 8) & 0xFF);
    out += static_cast<char>(body.size() & 0xFF);
    out += body;
    (void)!write(fd_, out.data(), out.size());
  }
  // The next reply body (rc, code, fields) within ms; "" on time-out.
  std::string next_reply(int ms = testutil::kWaitMs) {
    std::string len = read_exact(2, ms);
    if (len.size() < 2) return "";
    size_t n = (static_cast<uint8_t>(len[0]) << 8) | static_cast<uint8_t>(len[1]);
    return read_exact(n, ms);
  }
  // Waits for a reply of code, skipping others.
  std::string reply_of(int code, int ms = testutil::kWaitMs) {
    for (int i = 0; i < 20; ++i) {
      std::string r = next_reply(ms);
      if (r.size() < 2) return "";
      if (static_cast<uint8_t>(r[1]) == code) return r;
    }
    return "";
  }
  static std::string str(const std::string& s) { return std::string(1, static_cast<char>(s.size())) + s; }
  static std::string i32(int32_t v) {
    std::string o(4, '\0');
    for (int i = 0; i < 4; ++i) o[static_cast<size_t>(i)] = static_cast<char>((static_cast<uint32_t>(v) >> (24 - 8 * i)) & 0xFF);
    return o;
  }
  static int32_t read_i32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4 && at + i < s.size(); ++i) v = (v << 8) | static_cast<uint8_t>(s[at + i]);
    return static_cast<int32_t>(v);
  }
  void login(const std::string& name, const std::string& password) {
    send_request(45, i32(1) + str(name) + str(password) + i32(0) + str("") + std::string(1, '\0'));
  }

 private:
  std::string read_exact(size_t n, int ms) {
    std::string out;
    while (out.size() < n) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, ms) <= 0) return out;
      char buf[512];
      ssize_t got = read(fd_, buf, std::min(sizeof buf, n - out.size()));
      if (got <= 0) return out;
      out.append(buf, static_cast<size_t>(got));
    }
    return out;
  }
  int fd_ = -1;
};

}  // namespace stest
