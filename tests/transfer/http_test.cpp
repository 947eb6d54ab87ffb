// The HTTP client against real servers on loopback: our odd server for the misbehaving
// replies and the standard library's file server for dates.
#include "client/cache/http.h"

#include <curl/curl.h>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <random>
#include <thread>
#include <string>

#include "client/core/files.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "platform/progdir.h"
#include "transfer_util.h"

using namespace transfer_test;

// The bandwidth meter as the program would supply it.
std::atomic<long> metered{0};
void bps_count(int bytes) { metered += bytes; }

namespace {

// Takes the next connection on fd, reads its request and answers "hello" (nothing when no
// connection comes within the cap).
void answer_hello(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, testutil::kWaitMs) != 1) return;
  int c = accept(fd, nullptr, nullptr);
  if (c < 0) return;
  std::string request;
  char buffer[1024];
  ssize_t n;
  while (request.find("\r\n\r\n") == std::string::npos && (n = read(c, buffer, sizeof buffer)) > 0)
    request.append(buffer, static_cast<size_t>(n));
  const char reply[] = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhello";
  (void)!send(c, reply, sizeof reply - 1, MSG_NOSIGNAL);
  close(c);
}

class HttpTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    clear_proxy_environment();
    server_ = new ServerProcess(odd_server_command());
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    ASSERT_GT(server_->port(), 0);
    write_file(dir_.file("tessel.ini"), "[general]\n");
    profile_init(dir_.path().c_str(), "/tessel.ini");
    ASSERT_EQ(http_init(0), 0);
  }
  void TearDown() override {
    for (http_request* r : requests_) http_done(r);
    http_term();
    file_term();
  }
  http_request* get(const std::string& path) {
    http_request* r = http_get((server_->base() + path).c_str());
    requests_.push_back(r);
    return r;
  }
  // Waits for the worker to end and returns the final state.
  int finish(http_request* r, int limit_ms = testutil::kWaitMs) {
    poll_until([&] { return http_rc(r) != HTTP_RUNNING; }, limit_ms);
    return http_rc(r);
  }
  std::string body(http_request* r) {
    uint8_t* b = http_buffer(r);
    return b ? std::string(reinterpret_cast<char*>(b), static_cast<size_t>(http_size(r))) : "";
  }
  // Steps of step_ms on the stepped clock, each once at least bytes more have come; the step
  // that ended the transfer, or 0 when it still ran after max_steps.
  static int steps_until_timed_out(FakeClock& clock, http_request* r, int bytes, uint32_t step_ms, int max_steps) {
    int last = 0;
    for (int step = 1; step <= max_steps; ++step) {
      if (!poll_until([&] {
            int got = 0;
            http_progress(r, &got, nullptr);
            return got >= last + bytes || http_rc(r) != HTTP_RUNNING;
          }))
        return 0;
      http_progress(r, &last, nullptr);
      clock.advance(step_ms);
      http_update();
      if (http_rc(r) != HTTP_RUNNING) return step;
    }
    return 0;
  }
  static ServerProcess* server_;
  TempDir dir_;
  std::vector<http_request*> requests_;
};
ServerProcess* HttpTest::server_ = nullptr;

// Replies whose size is known, unknown or chunked all arrive whole.
TEST_F(HttpTest, BodiesArriveWhole) {
  http_request* sized = get("/length/70000");
  http_request* unsized = get("/nolength/5000");
  http_request* chunked = get("/chunked/10000");
  ASSERT_EQ(finish(sized), HTTP_COMPLETE);
  EXPECT_EQ(body(sized), pattern(70000));
  EXPECT_STREQ(http_date(sized), "Sat, 01 Jan 2022 10:00:00 GMT");
  ASSERT_EQ(finish(unsized), HTTP_COMPLETE);
  EXPECT_EQ(http_size(unsized), 5000);
  EXPECT_EQ(body(unsized), pattern(5000));
  int received = -1, total = -1;
  http_progress(unsized, &received, &total);
  EXPECT_EQ(received, 5000);
  EXPECT_EQ(total, 5000);
  ASSERT_EQ(finish(chunked), HTTP_COMPLETE);
  EXPECT_EQ(body(chunked), pattern(10000));
}

TEST_F(HttpTest, ShortBodyIsAFailureNotCompletion) {
  http_request* r = get("/short/100/50");
  EXPECT_EQ(finish(r), HTTP_SHORT_BODY);
}

TEST_F(HttpTest, LongerBodyThanAnnouncedIsRefused) {
  http_request* r = get("/long/10/20");
  EXPECT_EQ(finish(r), HTTP_TOO_LONG);
}

TEST_F(HttpTest, SizeLimitHoldsWithAndWithoutLength) {
  http_request* announced = http_set_max(get("/length/1025"), 1024);
  http_request* fits = http_set_max(get("/length/1024"), 1024);
  http_request* unannounced = http_set_max(get("/nolength/5000"), 1024);
  http_request* chunked = http_set_max(get("/chunked/5000"), 4096);
  EXPECT_EQ(finish(announced), HTTP_TOO_LARGE);
  EXPECT_EQ(finish(fits), HTTP_COMPLETE);
  EXPECT_EQ(finish(unannounced), HTTP_TOO_LARGE);
  EXPECT_EQ(finish(chunked), HTTP_TOO_LARGE);
}

TEST_F(HttpTest, StatusCodesMapToStates) {
  http_request* missing = get("/status/404");
  http_request* refused = get("/status/406");
  http_request* broken = get("/status/500");
  http_request* empty = get("/length/0");
  http_request* bad = get("/badlength");
  http_request* moved = get("/redirect/300");
  EXPECT_EQ(finish(missing), HTTP_NOT_FOUND);
  EXPECT_EQ(finish(refused), HTTP_NOT_FOUND);
  EXPECT_EQ(finish(broken), 1500);
  EXPECT_EQ(finish(empty), HTTP_EMPTY);
  EXPECT_EQ(finish(bad), HTTP_BAD_LENGTH);
  ASSERT_EQ(finish(moved), HTTP_COMPLETE);
  EXPECT_EQ(body(moved), pattern(300));
}

TEST_F(HttpTest, TransferErrorsAreKeptApartFromStates) {
  // Nothing listens on port 1 of loopback: the connect fails.
  http_request* r = http_get("127.0.0.1:1/x");
  requests_.push_back(r);
  int state = finish(r);
  EXPECT_GT(state, HTTP_TRANSFER_BASE);
  EXPECT_LT(state, HTTP_TRANSFER_BASE + 1000);
}

// A server that is not listening yet when the request starts, but is a moment later: the
// connect is tried again and the reply arrives.
TEST_F(HttpTest, ARefusedConnectIsTriedAgain) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t length = sizeof addr;
  ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length), 0);
  // Bound but not listening: a connect to the port is refused.
  http_request* r = http_get(("127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/late").c_str());
  requests_.push_back(r);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(listen(fd, 4), 0);
  std::thread server([fd] { answer_hello(fd); });
  int state = finish(r);
  server.join();
  close(fd);
  ASSERT_EQ(state, HTTP_COMPLETE);
  EXPECT_EQ(body(r), "hello");
}

namespace {
// A listening socket on a free loopback port, with at most one connection waiting.
int listener(int* port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 0) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
    close(fd);
    return -1;
  }
  *port = ntohs(addr.sin_port);
  return fd;
}

// Local ports of this machine's connects to port that still wait for the server's answer.
std::vector<std::string> connects_waiting(int port) {
  std::vector<std::string> out;
  char remote[16];
  std::snprintf(remote, sizeof remote, ":%04X", port);
  std::ifstream in("/proc/net/tcp");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string sl, local, rem, st;
    fields >> sl >> local >> rem >> st;
    if (st == "02" && rem.size() > 5 && rem.compare(rem.size() - 5, 5, remote) == 0) out.push_back(local);
  }
  return out;
}
}  // namespace

// The server's queue is full, so the connect gets no answer and runs into its time-out;
// it is made again, and once the queue has room the reply arrives.
TEST_F(HttpTest, AConnectThatTimesOutIsMadeAgain) {
  int port = 0;
  int fd = listener(&port);
  ASSERT_GE(fd, 0);
  int filler = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  ASSERT_EQ(connect(filler, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  http_request* r = http_get(("127.0.0.1:" + std::to_string(port) + "/late").c_str());
  requests_.push_back(r);
  std::string first;
  ASSERT_TRUE(poll_until([&] {
    auto waiting = connects_waiting(port);
    if (!waiting.empty()) first = waiting[0];
    return !first.empty();
  }));
  // A connect from another local port is the second attempt: make room for it.
  bool again = poll_until([&] {
    for (const std::string& local : connects_waiting(port))
      if (local != first) return true;
    return http_rc(r) != HTTP_RUNNING;
  }, 90000);
  ASSERT_TRUE(again);
  int queued = accept(fd, nullptr, nullptr);
  std::thread server([fd] { answer_hello(fd); });
  int state = finish(r, 90000);
  if (state != HTTP_COMPLETE) {  // let the server thread end
    int wake = socket(AF_INET, SOCK_STREAM, 0);
    (void)!connect(wake, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    close(wake);
    server.join();
  } else {
    server.join();
  }
  close(queued);
  close(filler);
  close(fd);
  ASSERT_EQ(state, HTTP_COMPLETE);
  EXPECT_EQ(body(r), "hello");
}

// A server that takes the request and never answers: the transfer times out once and the
// request is not sent a second time.
TEST_F(HttpTest, ARequestThatTimesOutAfterConnectingIsNotSentAgain) {
  ASSERT_EQ(http_init(500), 0);  // the transfer gives up after 3 s without a byte
  int port = 0;
  int fd = listener(&port);
  ASSERT_GE(fd, 0);
  std::atomic<bool> stop{false};
  std::atomic<int> requests{0};
  std::thread server([&] {
    std::vector<int> open;
    while (!stop) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 20) != 1) continue;
      int c = accept(fd, nullptr, nullptr);
      if (c < 0) continue;
      open.push_back(c);
      char buffer[1024];
      if (read(c, buffer, sizeof buffer) > 0) ++requests;
    }
    for (int c : open) close(c);
  });
  http_request* r = http_get(("127.0.0.1:" + std::to_string(port) + "/silent").c_str());
  requests_.push_back(r);
  int state = finish(r, 60000);
  // Any attempt made after the first would have connected by the time the worker ends.
  EXPECT_TRUE(poll_until([] { return http_busy() == 0; }));
  stop = true;
  server.join();
  close(fd);
  EXPECT_EQ(state, HTTP_TRANSFER_BASE + CURLE_OPERATION_TIMEDOUT);
  EXPECT_EQ(requests.load(), 1);
}

TEST_F(HttpTest, UrlStartingWithColonNeverStarts) {
  http_request* r = http_get(":nothing");
  requests_.push_back(r);
  EXPECT_EQ(http_rc(r), HTTP_NEVER_STARTED);
  EXPECT_EQ(http_busy(), 0);
  EXPECT_STREQ(http_state(r), "");
}

// The request carries exactly what the cache sent: the date unchanged, Accept, our agent,
// and no request for compressed bodies.
TEST_F(HttpTest, ConditionalRequestHeaders) {
  const char* date = "Tue, 15 Nov 1994 08:12:31 GMT";
  http_request* r = http_conditional_get((server_->base() + "/echo").c_str(), date);
  requests_.push_back(r);
  EXPECT_STREQ(http_date(r), date);
  ASSERT_EQ(finish(r), HTTP_COMPLETE);
  std::string headers = body(r);
  std::string line = std::string("If-Modified-Since: ") + date;
  size_t at = headers.find(line);
  ASSERT_NE(at, std::string::npos) << headers;
  EXPECT_TRUE(at + line.size() == headers.size() || headers[at + line.size()] == '\r') << headers;
  EXPECT_NE(headers.find("Accept: */*"), std::string::npos);
  EXPECT_NE(headers.find("User-Agent: Veldara Browser"), std::string::npos);
  EXPECT_EQ(headers.find("Accept-Encoding"), std::string::npos);
  // A date that would break the header lines is not sent at all.
  http_request* plain = http_conditional_get((server_->base() + "/echo").c_str(), "x\r\nEvil: 1");
  requests_.push_back(plain);
  ASSERT_EQ(finish(plain), HTTP_COMPLETE);
  EXPECT_EQ(body(plain).find("Evil"), std::string::npos);
}

TEST_F(HttpTest, BandwidthMeterCountsBodyAndHeaders) {
  long before = metered.load();
  http_request* r = get("/length/5000");
  ASSERT_EQ(finish(r), HTTP_COMPLETE);
  poll_until([] { return http_busy() == 0; });
  EXPECT_EQ(metered.load() - before, 5000 + 110);
}

TEST_F(HttpTest, StallIsMarkedAndTheWorkerEnds) {
  FakeClock clock;
  http_request* r = get("/stall-headers");
  http_update();
  EXPECT_EQ(http_rc(r), HTTP_RUNNING);
  EXPECT_EQ(http_busy(), 1);
  clock.advance(30000);
  http_update();
  EXPECT_EQ(http_rc(r), HTTP_RUNNING) << "30000 ms is not more than the limit";
  clock.advance(1);
  http_update();
  EXPECT_EQ(http_rc(r), HTTP_TIMED_OUT);
  EXPECT_TRUE(poll_until([] { return http_busy() == 0; }, testutil::kWaitMs));
  EXPECT_EQ(http_rc(r), HTTP_TIMED_OUT);
}

TEST_F(HttpTest, ProgressKeepsAStalledBodyAlive) {
  FakeClock clock;
  http_init(500);
  http_request* r = get("/stall-body/1000/100");
  ASSERT_TRUE(poll_until([&] {
    int got = 0, total = 0;
    http_progress(r, &got, &total);
    return got == 100;
  }));
  int got = 0, total = 0;
  http_progress(r, &got, &total);
  EXPECT_EQ(total, 1000);
  clock.advance(400);
  http_update();
  EXPECT_EQ(http_rc(r), HTTP_RUNNING);
  clock.advance(200);
  http_update();
  EXPECT_EQ(http_rc(r), HTTP_TIMED_OUT);
}

// A server that sends a byte now and then is never idle, but a stall limit's time that brings
// less than the floor rate ends the transfer as a time-out, and so does the overall deadline
// for one that keeps above the floor. The stepped clock moves a second per byte that arrives.
TEST_F(HttpTest, TricklesAndEndlessTransfersTimeOut) {
  FakeClock clock;
  // A byte a second: the first 30-second window holds about 30 bytes, far below 256 a second.
  http_request* slow = get("/trickle/5/100000/slow.jpg");
  const int slow_steps = steps_until_timed_out(clock, slow, 1, 1000, 40);
  EXPECT_EQ(http_rc(slow), HTTP_TIMED_OUT);
  EXPECT_GE(slow_steps, 30);
  EXPECT_LE(slow_steps, 31);
  // With a stall limit of 500 ms a window asks for 128 bytes: 100 bytes every 250 ms keep above
  // it, until the deadline of 20 windows (10 seconds).
  http_init(500);
  http_request* endless = get("/trickle/0/100000000/endless.jpg");
  const int endless_steps = steps_until_timed_out(clock, endless, 100, 250, 60);
  EXPECT_EQ(http_rc(endless), HTTP_TIMED_OUT);
  EXPECT_GE(endless_steps, 40);
  EXPECT_LE(endless_steps, 41);
}

// Plenty in the first stall window, then a byte a second: the transfer times out at the end
// of the next window, not only at its deadline (what came first does not carry it on).
TEST_F(HttpTest, ABurstThenATrickleTimesOutAtTheNextWindow) {
  FakeClock clock;
  http_request* r = get("/drip/100000/1/5/10000000/burst.jpg");
  ASSERT_TRUE(poll_until([&] {
    int got = 0;
    http_progress(r, &got, nullptr);
    return got >= 100000 || http_rc(r) != HTTP_RUNNING;
  }));
  const int steps = steps_until_timed_out(clock, r, 1, 1000, 200);
  EXPECT_EQ(http_rc(r), HTTP_TIMED_OUT);
  EXPECT_GE(steps, 61);
  EXPECT_LE(steps, 62);
}

// A worker's final state is never overwritten by a later stall or a proxy change.
TEST_F(HttpTest, FinalStateSurvivesStallAndProxyChange) {
  FakeClock clock;
  http_request* r = get("/length/10");
  ASSERT_EQ(finish(r), HTTP_COMPLETE);
  clock.advance(100000);
  http_update();
  http_proxy_changed();
  EXPECT_EQ(http_rc(r), HTTP_COMPLETE);
  EXPECT_EQ(body(r), pattern(10));
}

TEST_F(HttpTest, ProxyChangeTimesOutRunningRequests) {
  http_request* r = get("/stall-headers");
  ASSERT_EQ(http_rc(r), HTTP_RUNNING);
  http_proxy_changed();
  EXPECT_EQ(http_rc(r), HTTP_TIMED_OUT);
}

TEST_F(HttpTest, DoneOnARunningRequestReturnsAtOnce) {
  http_request* r = http_get((server_->base() + "/stall-headers").c_str());
  auto t0 = std::chrono::steady_clock::now();
  http_done(r);
  auto spent = std::chrono::steady_clock::now() - t0;
  EXPECT_LT(spent, std::chrono::milliseconds(200));
  EXPECT_EQ(http_busy(), 0) << "a done request leaves the list";
  http_done(r);  // not in the list any more: ignored
}

// Giving requests up at any moment of their transfer frees each exactly once (the
// sanitizer builds report a double free or a leak).
TEST_F(HttpTest, DoneAtAnyMomentFreesOnce) {
  std::mt19937 gen(99);
  for (int i = 0; i < 40; ++i) {
    http_request* r = http_get((server_->base() + "/length/" + std::to_string(20000 + i)).c_str());
    std::this_thread::sleep_for(std::chrono::microseconds(gen() % 3000));
    http_done(r);
  }
  http_term();
  EXPECT_EQ(http_busy(), 0);
}

TEST_F(HttpTest, RequestsGoThroughTheConfiguredProxy) {
  write_file(dir_.file("tessel.ini"),
             "[proxy]\naddress=127.0.0.1\nport=" + std::to_string(server_->port()) + "\n");
  ASSERT_EQ(http_init(0), 0);
  // The name cannot resolve: only the proxy can answer.
  http_request* r = http_get("no-such-host.invalid/length/64");
  requests_.push_back(r);
  ASSERT_EQ(finish(r), HTTP_COMPLETE);
  EXPECT_EQ(body(r), pattern(64));
}

TEST_F(HttpTest, StateTextFollowsTheTransfer) {
  platform_set_program_dir(source_dir() + "/data");
  ASSERT_EQ(msg_load("default"), 1);
  http_request* r = get("/stall-body/1000/100");
  ASSERT_TRUE(poll_until([&] {
    int got = 0;
    http_progress(r, &got, nullptr);
    return got == 100;
  }));
  EXPECT_STREQ(http_state(r), msg_arg(141, 100, 1000));
  EXPECT_STRNE(http_state(r), "");
  http_request* waiting = get("/stall-headers");
  EXPECT_STREQ(http_state(waiting), msg(62));
  msg_reset();
}

TEST_F(HttpTest, ManyRequestsAtOnce) {
  std::vector<http_request*> rs;
  for (int i = 0; i < 12; ++i) rs.push_back(get("/length/" + std::to_string(1000 + i * 517)));
  for (int i = 0; i < 12; ++i) {
    ASSERT_EQ(finish(rs[i]), HTTP_COMPLETE);
    EXPECT_EQ(body(rs[i]), pattern(1000 + i * 517));
  }
}

}  // namespace
