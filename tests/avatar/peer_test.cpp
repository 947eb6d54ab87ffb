// The peer datagram channel over real loopback sockets: the own state, state lists, lines with
// acknowledgements, relayed lines, retries on the fake clock, names confirmed by the universe,
// and damaged datagrams that must never crash or be read past.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <random>

#include "client/core/log.h"
#include "client/core/profile.h"
#include "client/net/udp.h"
#include "client/scene/self.h"
#include "tests/avatar/avatar_fixture.h"

using namespace avtest;
using wtest::FakeProcess;

namespace {

// A datagram socket standing for the world server and the other peers.
class Endpoint {
 public:
  // Bound on a loopback address of its own choosing (host order), on a port the system picks.
  explicit Endpoint(uint32_t address = INADDR_LOOPBACK) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = a.sin_port;
    timeval tv{0, 200000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~Endpoint() { close(fd_); }
  uint16_t port() const { return port_; }  // network order
  void send(const std::vector<uint8_t>& d, int to_port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(to_port));
    sendto(fd_, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  // Every datagram waiting (short wait for the first).
  std::vector<std::vector<uint8_t>> drain() {
    std::vector<std::vector<uint8_t>> out;
    uint8_t b[1024];
    for (;;) {
      ssize_t n = recv(fd_, b, sizeof b, out.empty() ? 0 : MSG_DONTWAIT);
      if (n < 0) break;
      out.emplace_back(b, b + n);
    }
    return out;
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

void put32(std::vector<uint8_t>& v, int32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(static_cast<uint32_t>(x) >> s));
}
void put16(std::vector<uint8_t>& v, int x) {
  v.push_back(static_cast<uint8_t>(static_cast<uint16_t>(x) >> 8));
  v.push_back(static_cast<uint8_t>(x));
}
void put_text(std::vector<uint8_t>& v, const std::string& t) { v.insert(v.end(), t.begin(), t.end()); }
// Bytes from hex digits; blanks between them are for the reader.
std::vector<uint8_t> bytes_of(const std::string& hex) {
  std::vector<uint8_t> out;
  std::string digits;
  for (char c : hex)
    if (c != ' ') digits += c;
  for (size_t i = 0; i + 1 < digits.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return out;
}

const uint32_t kLoop = htonl(INADDR_LOOPBACK);

class PeerChannel : public AvatarFixture {
 protected:
  void SetUp() override {
    AvatarFixture::SetUp();
    avatar_peer_set_server_for_test(kLoop, server.port());
    ASSERT_GT(avatar_peer_port(), 0);
  }
  // One frame of the channel, ms after the last, then what the server end received.
  void frame(uint32_t ms = 20) {
    wtest::fake_now += ms;
    avatar_update();
  }
  std::vector<uint8_t> state_list(int32_t bx, int32_t by, int32_t bz,
                                  const std::vector<std::array<int, 8>>& records) {
    std::vector<uint8_t> d{2};
    put32(d, bx), put32(d, by), put32(d, bz);
    for (auto& r : records) {
      d.insert(d.end(), {127, 0, 0, 1});
      put16(d, r[0]);  // port
      put16(d, r[1]), put16(d, r[2]), put16(d, r[3]), put16(d, r[4]);
      d.push_back(static_cast<uint8_t>(r[5]));
      d.push_back(0);
      d.push_back(static_cast<uint8_t>(r[6]));
    }
    return d;
  }
  static std::vector<uint8_t> line(uint8_t seq, const std::string& text) {
    std::vector<uint8_t> d{0, seq};
    put_text(d, text);
    return d;
  }
  Endpoint server;
};

TEST_F(PeerChannel, TheOwnStateGoesToTheServerAndTheFirstStateListOfAFrameIsApplied) {
  self_set_position(1.5, 0.25, -2, 45);
  avatar_peer_set_type(3);
  // The socket layer drops the first of every three sends: the first state is lost.
  udp_reset_send_count();
  frame();
  frame(1001);
  auto got = server.drain();
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(wtest::hex_of(got[0]), "00000005dc000000fafffff83001c2030000");
  // Within the second nothing more is sent.
  frame(500);
  EXPECT_TRUE(server.drain().empty());

  // Two peers: base (10000, 0, -5000) plus offsets.
  avatar_peer_handle(state_list(10000, 0, -5000, {{4000, 500, 100, -250, 900, 2, 0, 0}, {4001, -1000, 0, 0, 0, 255, 0, 0}}).data(),
                     13 + 34, kLoop, server.port());
  EXPECT_EQ(2, avatar_peer_count());
  float x = 0, y = 0, z = 0, yaw = 0;
  int type = 0;
  ASSERT_TRUE(avatar_peer_find(kLoop, htons(4000), &x, &y, &z, &yaw, &type));
  EXPECT_FLOAT_EQ(10.5f, x);
  EXPECT_FLOAT_EQ(0.1f, y);
  EXPECT_FLOAT_EQ(-5.25f, z);
  EXPECT_FLOAT_EQ(90.0f, yaw);
  EXPECT_EQ(255, type);  // not yet known on the first list
  // A second list in the same frame is not applied.
  auto one = state_list(0, 0, 0, {{4000, 0, 0, 0, 0, 0, 0, 0}});
  avatar_peer_handle(one.data(), static_cast<int>(one.size()), kLoop, server.port());
  EXPECT_EQ(2, avatar_peer_count());
  ASSERT_TRUE(avatar_peer_find(kLoop, htons(4000), &x, nullptr, nullptr, nullptr, nullptr));
  EXPECT_FLOAT_EQ(10.5f, x);
  // Next frame: the list names one peer; the other leaves. The list is loaded: the type sticks.
  frame();
  auto two = state_list(10000, 0, -5000, {{4000, 500, 100, -250, 900, 2, 0, 0}});
  avatar_peer_handle(two.data(), static_cast<int>(two.size()), kLoop, server.port());
  EXPECT_EQ(1, avatar_peer_count());
  ASSERT_TRUE(avatar_peer_find(kLoop, htons(4000), nullptr, nullptr, nullptr, nullptr, &type));
  EXPECT_EQ(2, type);  // [performance] avatars is absent, which means on: the peer's own type
  // Switched off, every type shows as 0.
  profile_set_int("performance", "avatars", 0);
  frame();
  avatar_peer_handle(two.data(), static_cast<int>(two.size()), kLoop, server.port());
  ASSERT_TRUE(avatar_peer_find(kLoop, htons(4000), nullptr, nullptr, nullptr, nullptr, &type));
  EXPECT_EQ(0, type);
  // A state list from anyone but the server is ignored.
  frame();
  avatar_peer_handle(one.data(), static_cast<int>(one.size()), kLoop + htonl(1), server.port());
  EXPECT_EQ(1, avatar_peer_count());
}

TEST_F(PeerChannel, LinesAreAcknowledgedAndShownOnceTheNameIsConfirmed) {
  Endpoint peer;
  int to = avatar_peer_port();
  frame();
  auto list = state_list(0, 0, 0, {{ntohs(peer.port()), 0, 0, 0, 0, 0, 0, 0}});
  avatar_peer_handle(list.data(), static_cast<int>(list.size()), kLoop, server.port());
  ASSERT_EQ(1, avatar_peer_count());
  udp_reset_send_count();
  frame(1001);  // the own state is the dropped first send
  peer.send(line(1, "bob: hello"), to);
  peer.send(line(2, "bob: again"), to);
  std::vector<std::vector<uint8_t>> acks;
  ASSERT_TRUE(testutil::poll_until([&] {
    frame(1);
    for (auto& d : peer.drain()) acks.push_back(d);
    return acks.size() >= 2;
  }, testutil::kWaitMs));
  EXPECT_EQ("0101", wtest::hex_of(acks[0]));
  EXPECT_EQ("0102", wtest::hex_of(acks[1]));
  // The name is not confirmed yet: nothing shown.
  EXPECT_TRUE(seen_.console.empty());
  avatar_receive_citizen_name(0, kLoop, "bob");
  EXPECT_STREQ("bob", avatar_peer_name(kLoop));
  ASSERT_EQ(1u, seen_.console.size());
  EXPECT_EQ("0 bob: again", seen_.console[0]);  // the newer line replaced the pending one
  // Now known: the next line shows at once; its repeat is a duplicate.
  avatar_peer_handle(line(3, "bob: third").data(), 12, kLoop, peer.port());
  avatar_peer_handle(line(3, "bob: third").data(), 12, kLoop, peer.port());
  ASSERT_EQ(2u, seen_.console.size());
  EXPECT_EQ("0 bob: third", seen_.console[1]);
  EXPECT_EQ(kLoop, avatar_peer_addr_from_name("BOB"));
  EXPECT_EQ(0u, avatar_peer_addr_from_name("nobody"));
}

TEST_F(PeerChannel, RelayedLinesAreCutAfterTheColonAndNeverShownTwice) {
  auto relayed = [&](uint8_t seq, const std::string& text) {
    std::vector<uint8_t> d{3, seq, 10, 0, 0, 9};
    put16(d, 5000);
    put_text(d, text);
    avatar_peer_handle(d.data(), static_cast<int>(d.size()), kLoop, server.port());
  };
  uint32_t from = htonl(0x0A000009);
  udp_reset_send_count();
  relayed(5, "\"guest:xhello");
  ASSERT_EQ(1u, seen_.console.size());
  EXPECT_EQ("1 \"guest: hello", seen_.console[0]);  // first character after the colon lost
  EXPECT_STREQ("\"guest", avatar_peer_name(from));
  relayed(5, "\"guest: hello");  // same sequence: a duplicate
  relayed(6, ":no name");        // colon first: dropped
  relayed(7, "no colon at all");
  EXPECT_EQ(1u, seen_.console.size());
  relayed(8, "\"guest: tab\there");
  ASSERT_EQ(2u, seen_.console.size());
  EXPECT_EQ("1 \"guest: tab here", seen_.console[1]);
  // Sequence 8 again from another sender: among the last ten relayed, not shown again.
  std::vector<uint8_t> d{3, 8, 10, 0, 0, 10};
  put16(d, 5000);
  put_text(d, "\"other: x");
  avatar_peer_handle(d.data(), static_cast<int>(d.size()), kLoop, server.port());
  EXPECT_EQ(2u, seen_.console.size());
  // Every relayed datagram was acknowledged to the server: of six sends the first and fourth
  // dropped by the socket layer.
  std::vector<std::string> acks;
  for (auto& g : server.drain()) acks.push_back(wtest::hex_of(g));
  EXPECT_EQ((std::vector<std::string>{"0105", "0106", "0108", "0108"}), acks);
}

// Relayed lines from ever new speakers: the universe is asked within its share a second, once
// per address while asked, and few names are kept; the newest speaker's and a peer's stay.
TEST_F(PeerChannel, NewSpeakersAreAskedForWithinAShareASecondAndKeptFew) {
  Endpoint peer;
  frame();
  auto list = state_list(0, 0, 0, {{ntohs(peer.port()), 0, 0, 0, 0, 0, 0, 0}});
  avatar_peer_handle(list.data(), static_cast<int>(list.size()), kLoop, server.port());
  avatar_peer_handle(line(1, "bob: hi").data(), 9, kLoop, peer.port());
  avatar_receive_citizen_name(0, kLoop, "bob");
  frame(1000);
  auto relayed = [&](int i, uint32_t from) {
    std::vector<uint8_t> d{3, static_cast<uint8_t>(i)};
    put32(d, static_cast<int32_t>(from)), put16(d, 5000), put_text(d, "u" + std::to_string(i) + ": hello");
    avatar_peer_handle(d.data(), static_cast<int>(d.size()), kLoop, server.port());
  };
  const int asked = avatar_peer_lookups();
  for (int i = 0; i < 3; ++i) relayed(i, 0x0A000001);
  EXPECT_EQ(asked + 1, avatar_peer_lookups()) << "one question per address while it is open";
  for (int i = 3; i < 1000; ++i) relayed(i, 0x0A000000 + i);
  EXPECT_EQ(asked + PEER_LOOKUPS_PER_SECOND, avatar_peer_lookups());
  EXPECT_LE(avatar_peer_name_count(), PEER_SPEAKERS + 1);
  frame(1000);  // the next second asks for lines still waiting
  EXPECT_EQ(asked + 2 * PEER_LOOKUPS_PER_SECOND, avatar_peer_lookups());
  avatar_receive_citizen_name(0, htonl(0x0A000000 + 999), "u999");
  EXPECT_EQ("1 u999: hello", seen_.console.back());
  avatar_peer_handle(line(2, "bob: still here").data(), 17, kLoop, peer.port());
  EXPECT_EQ("0 bob: still here", seen_.console.back());
}

TEST_F(PeerChannel, AnUnansweredLineIsSentAtMostTenMoreTimesFourSecondsApart) {
  Endpoint peer;
  frame();
  auto list = state_list(0, 0, 0, {{ntohs(peer.port()), 0, 0, 0, 0, 0, 0, 0}});
  avatar_peer_handle(list.data(), static_cast<int>(list.size()), kLoop, server.port());
  ASSERT_EQ(1, avatar_peer_count());
  udp_reset_send_count();
  avatar_peer_send_text(6, "me: hi");
  EXPECT_EQ("0 me: hi", seen_.console.back());
  // Frames 4001 ms apart: each sends the own state, then the line again while it is due.
  // Sends alternate state and line, so of the first send and the ten resends the socket
  // layer drops those at its counts 1, 7, 13 and 19: seven arrive.
  std::vector<uint32_t> when;
  for (int i = 0; i < 16; ++i) {
    frame(4001);
    avatar_peer_handle(list.data(), static_cast<int>(list.size()), kLoop, server.port());
    for (auto& g : peer.drain())
      if (g.size() == 8 && g[0] == 0) when.push_back(wtest::fake_now);
  }
  ASSERT_EQ(7u, when.size());
  EXPECT_LE(when.back(), when.front() + 10 * 4001u);
  for (size_t i = 1; i < when.size(); ++i) EXPECT_GE(when[i] - when[i - 1], 4001u);
}

TEST_F(PeerChannel, DamagedDatagramsFromTheNetworkNeverCrash) {
  std::mt19937 rng(1234);
  Endpoint stranger;
  int to = avatar_peer_port();
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> d(rng() % 600);
    for (auto& b : d) b = static_cast<uint8_t>(rng());
    if (!d.empty()) d[0] = static_cast<uint8_t>(rng() % 5);
    // Straight through the handler as from the server, and over the socket as from a peer.
    avatar_peer_handle(d.data(), static_cast<int>(d.size()), kLoop, server.port());
    if (round % 10 == 0) {
      stranger.send(d, to);
      frame();
    }
  }
  // Edge shapes: a list cut inside a record, lone type bytes.
  auto list = state_list(1, 2, 3, {{4000, 1, 1, 1, 1, 1, 1, 0}});
  frame();
  avatar_peer_handle(list.data(), static_cast<int>(list.size()) - 1, kLoop, server.port());
  EXPECT_EQ(0, avatar_peer_count());
  for (uint8_t t = 0; t < 5; ++t) avatar_peer_handle(&t, 1, kLoop, server.port());
  avatar_peer_handle(nullptr, 5, kLoop, server.port());
  SUCCEED();
}

// Every kind of datagram through the module and back, against bytes worked out by hand from
// the wire form: big-endian, no length, the type first.
TEST_F(PeerChannel, DatagramsGoAndComeInTheirWireForm) {
  Endpoint peer;
  const int to = avatar_peer_port();
  char port_hex[8];
  std::snprintf(port_hex, sizeof port_hex, "%04x", ntohs(peer.port()));
  auto got = [](Endpoint& e) {
    std::vector<std::string> out;
    for (auto& d : e.drain()) out.push_back(wtest::hex_of(d));
    return out;
  };
  // The socket layer drops sends 0, 3, 6 ... counted from here.
  udp_reset_send_count();
  self_set_position(-2.5, 0.125, 10.001, -90);
  self_set_gesture(2);
  avatar_peer_set_type(7);
  frame();      // own state, dropped
  frame(1001);  // own state: x -2500, y 125, z 10001, yaw -900, type 7, 0, gesture 2
  EXPECT_EQ((std::vector<std::string>{"00fffff63c0000007d00002711fc7c070002"}), got(server));

  // A state list cut inside its base, then a whole one in the same frame: the cut one is no
  // list, the whole one is the frame's. Base (10000, 0, -5000); the peer at +500, -100, +100,
  // yaw -900, type 3, gesture 1.
  server.send(bytes_of("02 00002710 000000"), to);
  server.send(bytes_of(std::string("02 00002710 00000000 ffffec78 7f000001") + port_hex +
                       "01f4 ff9c 0064 fc7c 03 00 01"),
              to);
  ASSERT_TRUE(wtest::poll_until([&] {
    frame();
    return avatar_peer_count() == 1;
  }));
  float x = 0, y = 0, z = 0, yaw = 0;
  ASSERT_TRUE(avatar_peer_find(kLoop, peer.port(), &x, &y, &z, &yaw, nullptr));
  EXPECT_FLOAT_EQ(10.5f, x);
  EXPECT_FLOAT_EQ(-0.1f, y);
  EXPECT_FLOAT_EQ(-4.9f, z);
  EXPECT_FLOAT_EQ(-90.0f, yaw);

  // The peer's line "bob: hi", sequence 5: acknowledged (send 2).
  peer.send(bytes_of("00 05 626f623a206869"), to);
  std::vector<std::string> acks;
  ASSERT_TRUE(wtest::poll_until([&] {
    frame();
    for (auto& a : got(peer)) acks.push_back(a);
    return !acks.empty();
  }));
  EXPECT_EQ((std::vector<std::string>{"0105"}), acks);
  // The own line "me: yo", sequence 1: dropped (send 3), sent again 4 s later after the own
  // state (sends 4 and 5).
  avatar_peer_send_text(6, "me: yo");
  frame(4001);
  EXPECT_EQ((std::vector<std::string>{"00016d653a20796f"}), got(peer));
  EXPECT_EQ(1u, got(server).size());
  // As a public speaker the line "a: b", sequence 2, goes to the server (send 6 dropped, then
  // own state and the line again: sends 7 and 8).
  avatar_peer_set_speaker(1);
  avatar_peer_send_text(4, "a: b");
  frame(4001);
  std::vector<std::string> to_server = got(server);
  ASSERT_EQ(2u, to_server.size());
  EXPECT_EQ("0202613a2062", to_server[1]);
  // A line the server relays from 10.0.0.9:5000, sequence 7.
  server.send(bytes_of("03 07 0a000009 1388 226775657374 3a 206869"), to);
  ASSERT_TRUE(wtest::poll_until([&] {
    frame();
    return !seen_.console.empty() && seen_.console.back()[0] == '1';
  }));
  EXPECT_EQ("1 \"guest: hi", seen_.console.back());
  EXPECT_STREQ("\"guest", avatar_peer_name(htonl(0x0A000009)));
  // Leaving: the single byte 3, twice (the count started again: the first dropped).
  udp_reset_send_count();
  avatar_peer_leave();
  EXPECT_EQ((std::vector<std::string>{"03"}), got(server));
}

// A silent old-protocol world takes no line and is connected again; its hub alone keeps it up.
class PeerWorld : public wtest::WithFakes<AvatarFixture> {};

TEST_F(PeerWorld, ASilentOldProtocolWorldIsConnectedAgainAndALineToItNotSent) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"old","attributes":[[0,"Old World"]]})"));
  ASSERT_EQ(0, world_enter("demo"));
  ASSERT_TRUE(wtest::poll_until([] { return universe_update(), world_update(), world_state() == WORLD_OLD_PROTOCOL; }));
  avatar_set_old_protocol(1);
  avatar_peer_set_server_for_test(kLoop, htons(9));
  const uint8_t list[13] = {2};
  for (int i = 0; i < 3; ++i, world_update()) {
    wtest::fake_now += WORLD_SILENCE_LIMIT - 1;
    avatar_peer_handle(list, sizeof list, kLoop, htons(9));
  }
  EXPECT_EQ(0, avatar_broadcast_message("hello"));
  wtest::fake_now += WORLD_SILENCE_LIMIT + 1;
  EXPECT_EQ(NET_NO_WORLD, avatar_broadcast_message("anyone"));
  EXPECT_EQ("3 m160: m600 anyone", seen_.console.back());
  world_update();
  EXPECT_EQ(WORLD_CONNECT, world_state());
  EXPECT_STREQ("m119", world_status_current());
}

// The old-protocol world's hub, with a hosted user on an address of its own, and a stranger
// who knows the client's port: on the hub's address from another port, and on the user's
// address from another port.
TEST_F(PeerChannel, OnlyTheHubAndThePeersOfItsListAreHeard) {
  trace_switches[TRACE_GENERAL] = 1;
  FakeProcess hub("peerhub.py", {"--interval", "2000"});
  ASSERT_NE(0, hub.port());
  avatar_peer_set_server_for_test(kLoop, htons(hub.port()));
  const uint32_t user_address = htonl(0x7F000002);
  hub.command("user wanderer 127.0.0.2");
  const std::string made = hub.wait_for("user wanderer 127.0.0.2:", nullptr);
  ASSERT_FALSE(made.empty());
  const uint16_t user_port = htons(static_cast<uint16_t>(std::stoi(made.substr(made.rfind(':') + 1))));
  hub.command("move wanderer 100 0 900 0 0 0");
  auto step = [this] { frame(); };
  ASSERT_FALSE(hub.wait_for("client ", step).empty());
  // The hub's state list names the wanderer.
  ASSERT_TRUE(wtest::poll_until([&] {
    frame();
    return avatar_peer_find(user_address, user_port, nullptr, nullptr, nullptr, nullptr, nullptr);
  }));
  // The wanderer's line, acknowledged, and shown once the universe names the address.
  hub.command("say wanderer hello");
  ASSERT_FALSE(hub.wait_for("acked wanderer ", step).empty());
  avatar_receive_citizen_name(0, user_address, "wanderer");
  ASSERT_EQ((std::vector<std::string>{"0 wanderer: hello"}), seen_.console);

  Endpoint on_hub_address, on_user_address(0x7F000002);
  const int to = avatar_peer_port();
  std::vector<uint8_t> relayed{3, 200, 127, 0, 0, 2};
  put16(relayed, ntohs(user_port));
  put_text(relayed, "wanderer: injected relay");
  on_hub_address.send(relayed, to);
  on_user_address.send(line(77, "wanderer: injected line"), to);
  // The wanderer, a peer of the list, relaying a line in another user's name.
  const uint8_t in_name[] = {3, 201, 127, 0, 0, 3, 0x17, 0x70, 'g', ':', ' ', 'x'};
  avatar_peer_handle(in_name, sizeof in_name, user_address, user_port);
  on_hub_address.send(state_list(0, 0, 0, {{4242, 0, 0, 500, 0, 0, 0, 0}}), to);
  frame();
  on_hub_address.send(state_list(0, 0, 0, {}), to);  // an empty list would clear every avatar
  frame();
  EXPECT_EQ(1, avatar_peer_count());
  EXPECT_TRUE(avatar_peer_find(user_address, user_port, nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_FALSE(avatar_peer_find(kLoop, htons(4242), nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ((std::vector<std::string>{"0 wanderer: hello"}), seen_.console);
  // Nothing was answered: no acknowledgement for the stranger to learn from.
  EXPECT_TRUE(on_hub_address.drain().empty());
  EXPECT_TRUE(on_user_address.drain().empty());
  // The hub and the wanderer go on being heard.
  hub.command("say wanderer still here");
  ASSERT_TRUE(wtest::poll_until([&] {
    frame();
    return seen_.console.size() == 2;
  }));
  EXPECT_EQ("0 wanderer: still here", seen_.console[1]);
  EXPECT_TRUE(avatar_peer_find(user_address, user_port, nullptr, nullptr, nullptr, nullptr, nullptr));
  // The drops are counted in the trace, a line a second at most.
  frame(1000);
  std::ifstream log(log_file_path());
  int dropped = 0, lines = 0;
  for (std::string l; std::getline(log, l);) {
    size_t at = l.find("avatar: ");
    if (at == std::string::npos || l.find(" datagrams dropped", at) == std::string::npos) continue;
    dropped += std::atoi(l.c_str() + at + 8);
    ++lines;
  }
  EXPECT_EQ(5, dropped);
  EXPECT_LE(lines, 2);
}

}  // namespace
