// The peer datagram channel over real loopback sockets: the own state, state lists, lines with
// acknowledgements, relayed lines, retries on the fake clock, names confirmed by the universe,
// and damaged datagrams that must never crash or be read past.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <random>

#include "client/core/profile.h"
#include "client/net/udp.h"
#include "client/scene/self.h"
#include "tests/avatar/avatar_fixture.h"

using namespace avtest;

namespace {

// A datagram socket standing for the world server and the other peers.
class Endpoint {
 public:
  Endpoint() {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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
  avatar_peer_handle(line(9, "x: y").data(), 6, kLoop, htons(9));  // its acknowledgement is the dropped first send
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

}  // namespace
