#pragma once
// Shared pieces of the transfer tests: temp folders, a fake clock, and server child
// processes on loopback whose port is read from their output.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace transfer_test {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tessel_transfer_XXXXXX").string();
    path_ = mkdtemp(tmpl.data()) ? tmpl : std::string();
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void write_file(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

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

inline std::atomic<uint32_t> fake_now{1000};
inline uint32_t fake_clock() { return fake_now.load(); }

struct FakeClock {
  FakeClock() {
    fake_now = 1000;
    platform_set_clock(fake_clock);
  }
  ~FakeClock() { platform_set_clock(nullptr); }
  void advance(uint32_t ms) { fake_now += ms; }
};

inline bool poll_until(const std::function<bool()>& step, int limit_ms = 10000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (std::chrono::steady_clock::now() < end) {
    if (step()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return step();
}

// Proxy variables of the environment would send loopback requests elsewhere.
inline void clear_proxy_environment() {
  for (const char* v : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                        "ALL_PROXY", "no_proxy", "NO_PROXY"})
    unsetenv(v);
}

// A child process that prints its port; stopped (by its own pid) when destroyed.
class ServerProcess {
 public:
  explicit ServerProcess(const std::vector<std::string>& argv) {
    int out[2], in[2];
    if (pipe(out) != 0 || pipe(in) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      dup2(in[0], 0);
      // Request logs would only clutter the test output.
      int null_fd = open("/dev/null", O_WRONLY);
      if (null_fd >= 0) dup2(null_fd, 2);
      close(out[0]);
      close(in[1]);
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
    close(out[1]);
    close(in[0]);
    stdin_ = in[1];
    // First line naming the port: "PORT n" or "... port n ...".
    std::string text;
    std::regex port_re("[Pp][Oo][Rr][Tt] ([0-9]+)");
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    char c;
    while (std::chrono::steady_clock::now() < end && read(out[0], &c, 1) == 1) {
      text += c;
      std::smatch m;
      if (c == '\n' && std::regex_search(text, m, port_re)) {
        port_ = std::stoi(m[1]);
        break;
      }
    }
    out_ = out[0];
  }
  ~ServerProcess() {
    if (stdin_ >= 0) close(stdin_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  int port() const { return port_; }
  std::string base() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  int stdin_ = -1;
  int out_ = -1;
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
