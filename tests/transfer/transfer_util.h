#pragma once
// Shared pieces of the transfer tests: temp folders, a fake clock, and server child
// processes on loopback whose port is read from their output.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "tests/support/test_util.h"

namespace transfer_test {

class TempDir : public testutil::TempDir {
 public:
  TempDir() : testutil::TempDir("tessel_transfer_") {}
};

inline void write_file(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  testutil::write_file(path, bytes);
}

using testutil::read_file;

inline bool exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

// The odd server's body: byte i is i % 251.
inline std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i % 251);
  return s;
}

using testutil::fake_clock;
using testutil::fake_now;
using testutil::FakeClock;

inline bool poll_until(const std::function<bool()>& step, int limit_ms = testutil::kWaitMs) {
  return testutil::poll_until(step, limit_ms);
}

// Proxy variables of the environment would send loopback requests elsewhere.
inline void clear_proxy_environment() {
  for (const char* v : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                        "ALL_PROXY", "no_proxy", "NO_PROXY"})
    unsetenv(v);
}

// A child process that prints its port; stopped (by its own pid) when destroyed.
class ServerProcess : public testutil::ChildProcess {
 public:
  // Request logs would only clutter the test output.
  explicit ServerProcess(const std::vector<std::string>& argv) : ChildProcess(argv, {true, {}}) {
    // First line naming the port: "PORT n" or "... port n ...".
    std::regex port_re("[Pp][Oo][Rr][Tt] ([0-9]+)");
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(testutil::kWaitMs);
    for (;;) {
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      if (left <= 0) break;
      std::string text = line(static_cast<int>(left));
      if (text.empty() && ended()) break;
      std::smatch m;
      if (std::regex_search(text, m, port_re)) {
        port_ = std::stoi(m[1]);
        break;
      }
    }
  }
  int port() const { return port_; }
  std::string base() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int port_ = 0;
};

inline std::string source_dir() {
  const char* s = std::getenv("TESSEL_SOURCE_DIR");
  return s ? s : TESSEL_SOURCE_DIR;
}

inline std::vector<std::string> odd_server_command() {
  return {"python3", "-u", source_dir() + "/tests/transfer/odd_server.py"};
}

inline std::vector<std::string> file_server_command(const std::string& dir) {
  return {"python3", "-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", dir};
}

}  // namespace transfer_test
