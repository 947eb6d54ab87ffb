// TCP connections and the stream's one pending send, over plain loopback sockets.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "client/net/stream.h"
#include "client/net/tcp.h"
#include "tests/net/net_test_util.h"

using namespace nettest;

namespace {

int resets = 0;
void count_reset() { ++resets; }

// A listener whose accept queue is full, so a new connect stays in progress.
struct FullListener {
  PlainListener listener{0};
  int filler = -1;
  FullListener() {
    filler = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = loopback();
    a.sin_port = htons(listener.port);
    ::connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  ~FullListener() { close(filler); }
};

std::vector<uint8_t> read_all(int fd, size_t want, int limit_ms, const std::function<void()>& step) {
  std::vector<uint8_t> got;
  poll_until([&] {
    step();
    uint8_t buf[65536];
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 0) > 0) {
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got.size() >= want;
  }, limit_ms);
  return got;
}

class TcpTest : public ::testing::Test {
 protected:
  void SetUp() override { resets = 0; }
  FakeClock clock;
};

// A stream to a peer that reads nothing, with both socket buffers small so that sends come
// up short; each test starts once the connection is writable.
class ShortSendTest : public TcpTest {
 protected:
  void SetUp() override {
    TcpTest::SetUp();
    int small = 4096;
    setsockopt(listener.fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    ASSERT_EQ(0, stream_create(loopback(), htons(listener.port), count_reset, &s));
    server = listener.accept_one();
    ASSERT_GE(server, 0);
    setsockopt(s->connection->socket, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    int length;
    ASSERT_TRUE(poll_until([&] {
      stream_receive_message(s, &length);
      return tcp_writable(s->connection);
    }));
  }
  void TearDown() override {
    if (server >= 0) close(server);
    if (s) stream_destroy(s);
  }

  // The peer reads while the stream works off its pending send: it gets `sent`, whole and
  // in order, and nothing is left pending.
  void expect_peer_gets(const std::vector<uint8_t>& sent) {
    int length;
    auto got = read_all(server, sent.size(), 10000, [&] { stream_receive_message(s, &length); });
    ASSERT_EQ(sent.size(), got.size());
    EXPECT_TRUE(sent == got);
    EXPECT_EQ(nullptr, s->pending);
  }

  PlainListener listener;
  stream* s = nullptr;
  int server = -1;
};

TEST_F(TcpTest, IdleTimeoutAfter45SecondsOnlyWhenSwitchedOn) {
  PlainListener listener;
  tcp* c = nullptr;
  ASSERT_EQ(0, tcp_create(loopback(), htons(listener.port), &c));
  int server = listener.accept_one();
  ASSERT_GE(server, 0);
  uint8_t buf[16];
  int count = -1;
  EXPECT_EQ(0, tcp_receive(c, buf, sizeof buf, &count));
  EXPECT_EQ(0, count);
  clock.advance(TCP_RECEIVE_IDLE_LIMIT);
  EXPECT_EQ(0, tcp_receive(c, buf, sizeof buf, &count));
  clock.advance(1);
  EXPECT_EQ(NET_TIMEOUT, tcp_receive(c, buf, sizeof buf, &count));
  tcp_disable_timeout(c);
  EXPECT_EQ(0, tcp_receive(c, buf, sizeof buf, &count));
  // Data renews the activity time.
  tcp_enable_timeout(c);
  ASSERT_EQ(3, send(server, "abc", 3, 0));
  poll_until([&] { return tcp_receive(c, buf, sizeof buf, &count) == 0 && count > 0; });
  EXPECT_EQ(3, count);
  EXPECT_EQ(0, std::memcmp(buf, "abc", 3));
  EXPECT_EQ(0, tcp_receive(c, buf, sizeof buf, &count));
  close(server);
  EXPECT_EQ(NET_CLOSED, [&] {
    int r = 0;
    poll_until([&] { return (r = tcp_receive(c, buf, sizeof buf, &count)) != 0; });
    return r;
  }());
  EXPECT_EQ(0, tcp_destroy(c));
}

TEST_F(TcpTest, RefusedConnectIsAnErrorNotAnEndlessWait) {
  tcp* c = nullptr;
  int r = tcp_create(loopback(), htons(closed_port()), &c);
  if (r) {
    EXPECT_EQ(NET_CONNECT_FAILED, r);
    return;
  }
  int sent = 0;
  poll_until([&] { return (r = tcp_send(c, "x", 1, &sent)) != NET_NOT_YET; });
  EXPECT_EQ(ECONNREFUSED, r);
  EXPECT_FALSE(tcp_writable(c));
  tcp_destroy(c);
}

TEST_F(TcpTest, ConnectStillInProgressTimesOutAfter20Seconds) {
  FullListener full;
  tcp* c = nullptr;
  ASSERT_EQ(0, tcp_create(loopback(), htons(full.listener.port), &c));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(tcp_writable(c));
  EXPECT_EQ(NET_NOT_YET, tcp_send(c, "x", 1));
  clock.advance(TCP_SEND_IDLE_LIMIT + 1);
  EXPECT_EQ(NET_TIMEOUT, tcp_send(c, "x", 1));
  tcp_destroy(c);
}

TEST_F(TcpTest, StreamKeepsFirstSendWhileConnectingAndRefusesTheSecond) {
  FullListener full;
  stream* s = nullptr;
  ASSERT_EQ(0, stream_create(loopback(), htons(full.listener.port), count_reset, &s));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const uint8_t first[] = {0x00, 0x01, 0x20};
  const uint8_t second[] = {0x00, 0x01, 0x26};
  EXPECT_EQ(0, stream_send(s, first, sizeof first));
  ASSERT_NE(nullptr, s->pending);
  EXPECT_EQ(NET_NOT_YET, stream_send(s, second, sizeof second));
  // Make room in the accept queue; the connect completes and the pending send goes.
  int a = full.listener.accept_one();
  ASSERT_GE(a, 0);
  close(a);
  int length;
  ASSERT_TRUE(poll_until([&] {
    stream_receive_message(s, &length);
    return s->pending == nullptr;
  }, testutil::kWaitMs));
  int server = full.listener.accept_one();
  ASSERT_GE(server, 0);
  auto got = read_all(server, 4, 500, [&] { stream_receive_message(s, &length); });
  EXPECT_EQ((std::vector<uint8_t>(first, first + 3)), got);
  EXPECT_EQ(0, resets);
  close(server);
  stream_destroy(s);
}

TEST_F(TcpTest, PendingSendThatNeverConnectsResetsAfter20Seconds) {
  FullListener full;
  stream* s = nullptr;
  ASSERT_EQ(0, stream_create(loopback(), htons(full.listener.port), count_reset, &s));
  const uint8_t msg[] = {0x00, 0x01, 0x20};
  EXPECT_EQ(0, stream_send(s, msg, sizeof msg));
  int length;
  EXPECT_EQ(NET_NOT_YET, stream_receive_message(s, &length));
  clock.advance(TCP_SEND_IDLE_LIMIT + 1);
  EXPECT_EQ(NET_TIMEOUT, stream_receive_message(s, &length));
  EXPECT_EQ(1, resets);
  EXPECT_EQ(nullptr, s->pending);
  stream_destroy(s);
}

TEST_F(TcpTest, StreamsNeverTakeTheIdleTimeout) {
  PlainListener listener;
  stream* s = nullptr;
  ASSERT_EQ(0, stream_create(loopback(), htons(listener.port), count_reset, &s));
  int server = listener.accept_one();
  ASSERT_GE(server, 0);
  int length;
  EXPECT_EQ(NET_NOT_YET, stream_receive_message(s, &length));
  clock.advance(10 * TCP_RECEIVE_IDLE_LIMIT);
  EXPECT_EQ(NET_NOT_YET, stream_receive_message(s, &length));
  EXPECT_EQ(0, resets);
  close(server);
  stream_destroy(s);
}

TEST_F(ShortSendTest, FullSocketBufferLosesNoMessage) {
  // Sends come up short; every accepted message must still arrive whole and in order.
  std::vector<uint8_t> expected;
  int kept_tail = 0;
  for (int i = 0; i < 2000; ++i) {
    std::vector<uint8_t> msg(1000, static_cast<uint8_t>(i));
    msg[0] = 0x03;
    msg[1] = 0xE6;
    int r = stream_send(s, msg.data(), static_cast<int>(msg.size()));
    if (r == NET_NOT_YET) break;
    ASSERT_EQ(0, r);
    expected.insert(expected.end(), msg.begin(), msg.end());
    if (s->pending && s->pending_length < 1000) ++kept_tail;
  }
  ASSERT_NE(nullptr, s->pending) << "the socket buffer never filled";
  ASSERT_NO_FATAL_FAILURE(expect_peer_gets(expected));
  EXPECT_EQ(0, resets);
  RecordProperty("short_sends", kept_tail);
}

TEST_F(ShortSendTest, ShortSendKeepsTheUnsentTail) {
  // Sends of the longest message until the socket buffers are full: the last goes out in
  // part or not at all, and what did not go is kept as the pending send and follows on
  // later frames, nothing lost, nothing repeated.
  std::vector<uint8_t> sent;
  for (int i = 0; i < 4000 && !s->pending; ++i) {
    std::vector<uint8_t> msg(NET_SEND_BUFFER);
    for (size_t k = 0; k < msg.size(); ++k) msg[k] = static_cast<uint8_t>(i * 31 + k * 7);
    ASSERT_EQ(0, stream_send(s, msg.data(), static_cast<int>(msg.size())));
    sent.insert(sent.end(), msg.begin(), msg.end());
  }
  ASSERT_NE(nullptr, s->pending) << "the socket buffers never filled";
  EXPECT_LE(s->pending_length, NET_SEND_BUFFER);
  RecordProperty("pending_tail", s->pending_length);
  EXPECT_EQ(NET_NOT_YET, stream_send(s, sent.data(), 10));
  ASSERT_NO_FATAL_FAILURE(expect_peer_gets(sent));
  EXPECT_EQ(0, resets);
}

}  // namespace
