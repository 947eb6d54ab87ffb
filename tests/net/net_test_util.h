#pragma once
// Shared pieces of the network tests: a fake clock, the scripted Python fake server run as
// a child process, and plain loopback sockets.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace nettest {

inline uint32_t fake_now = 1000;
inline uint32_t fake_clock() { return fake_now; }

struct FakeClock {
  FakeClock() {
    fake_now = 1000;
    platform_set_clock(fake_clock);
  }
  ~FakeClock() { platform_set_clock(nullptr); }
  void advance(uint32_t ms) { fake_now += ms; }
};

// Repeats step until it returns true or the wall-clock limit passes.
inline bool poll_until(const std::function<bool()>& step, int limit_ms = 5000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (std::chrono::steady_clock::now() < end) {
    if (step()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return step();
}

inline std::string hex(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (uint8_t b : bytes) {
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

inline std::vector<uint8_t> unhex(const std::string& s) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < s.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
  return out;
}

inline std::string fakes_dir() { return std::string(TESSEL_SOURCE_DIR) + "/tests/fakes"; }

// The scripted fake server (tests/fakes/fakeserver.py) as a child process.
class FakeServer {
 public:
  explicit FakeServer(const std::string& script_json) {
    int out[2], in[2];
    if (pipe(out) != 0 || pipe(in) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      dup2(in[0], 0);
      close(out[0]);
      close(in[1]);
      std::string script = fakes_dir() + "/fakeserver.py";
      execlp("python3", "python3", script.c_str(), script_json.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    close(in[0]);
    out_ = out[0];
    in_ = in[1];
    std::string first = line(30000);  // python starts slowly on a loaded machine
    if (first.rfind("port ", 0) == 0) port_ = static_cast<uint16_t>(std::stoi(first.substr(5)));
  }
  ~FakeServer() {
    if (in_ >= 0) close(in_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  uint16_t port() const { return port_; }
  uint16_t port_net() const { return htons(port_); }
  // Next output line, or "" after limit_ms.
  std::string line(int limit_ms = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    for (;;) {
      size_t nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        std::string l = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return l;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      if (left <= 0 || out_ < 0) return "";
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char chunk[4096];
      ssize_t n = read(out_, chunk, sizeof chunk);
      if (n <= 0) return "";
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }
  // Reads lines until one equals want (lines before it are kept in seen).
  bool expect(const std::string& want, int limit_ms = 5000) {
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
  bool expect_while(const std::string& want, const std::function<void()>& step, int limit_ms = 5000) {
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
  void release() {
    if (in_ >= 0) (void)!write(in_, "\n", 1);
  }
  std::vector<std::string> seen;

 private:
  pid_t pid_ = -1;
  int out_ = -1, in_ = -1;
  uint16_t port_ = 0;
  std::string buffer_;
};

inline uint32_t loopback() { return htonl(INADDR_LOOPBACK); }

// A loopback listener opened by the test itself.
struct PlainListener {
  int fd = -1;
  uint16_t port = 0;
  explicit PlainListener(int backlog = 8) {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = loopback();
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    ::listen(fd, backlog);
  }
  ~PlainListener() { close(fd); }
  int accept_one(int limit_ms = 5000) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, limit_ms) <= 0) return -1;
    return ::accept(fd, nullptr, nullptr);
  }
};

// A loopback port with nothing listening on it.
inline uint16_t closed_port() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = loopback();
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

}  // namespace nettest
