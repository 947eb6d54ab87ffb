#pragma once
// Shared pieces of the network tests: a fake clock, the scripted Python fake server run as
// a child process, and plain loopback sockets.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "tests/support/test_util.h"

namespace nettest {

using testutil::fake_clock;
using testutil::fake_now;
using testutil::FakeClock;

inline bool poll_until(const std::function<bool()>& step, int limit_ms = testutil::kWaitMs) {
  return testutil::poll_until(step, limit_ms);
}

inline std::string hex(const std::vector<uint8_t>& bytes) { return testutil::hex_of(bytes.data(), bytes.size()); }

inline std::vector<uint8_t> unhex(const std::string& s) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < s.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
  return out;
}

inline std::string fakes_dir() { return std::string(TESSEL_SOURCE_DIR) + "/tests/fakes"; }

// The scripted fake server (tests/fakes/fakeserver.py) as a child process.
class FakeServer : public testutil::FakeProcess {
 public:
  explicit FakeServer(const std::string& script_json)
      // python starts slowly on a loaded machine
      : FakeProcess({"python3", fakes_dir() + "/fakeserver.py", script_json}, testutil::kWaitMs) {}
  uint16_t port_net() const { return htons(port()); }
  // Reads lines until one equals want (lines before it are kept in seen).
  bool expect(const std::string& want, int limit_ms = testutil::kWaitMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (std::chrono::steady_clock::now() < end) {
      std::string l = line(50);
      if (l.empty()) continue;
      seen.push_back(l);
      if (l == want) return true;
    }
    return false;
  }
  // Waits until a line with the prefix comes while step keeps running (the client is polled).
  bool expect_while(const std::string& want, const std::function<void()>& step, int limit_ms = testutil::kWaitMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (std::chrono::steady_clock::now() < end) {
      step();
      std::string l = line(5);
      if (l.empty()) continue;
      seen.push_back(l);
      if (l == want) return true;
    }
    return false;
  }
  void release() { send("\n"); }
  std::vector<std::string> seen;
};

inline uint32_t loopback() { return htonl(INADDR_LOOPBACK); }

// A TCP socket bound to a free loopback port, which goes to `port`.
inline int bind_loopback(uint16_t* port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = loopback();
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  *port = ntohs(a.sin_port);
  return fd;
}

// A loopback listener opened by the test itself.
struct PlainListener {
  int fd = -1;
  uint16_t port = 0;
  explicit PlainListener(int backlog = 8) {
    fd = bind_loopback(&port);
    ::listen(fd, backlog);
  }
  ~PlainListener() { close(fd); }
  int accept_one(int limit_ms = testutil::kWaitMs) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, limit_ms) <= 0) return -1;
    return ::accept(fd, nullptr, nullptr);
  }
};

// A loopback port with nothing listening on it.
inline uint16_t closed_port() {
  uint16_t port = 0;
  close(bind_loopback(&port));
  return port;
}

}  // namespace nettest
