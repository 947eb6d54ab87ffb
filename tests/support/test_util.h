#pragma once
// Pieces every test folder needs: fresh temp directories, whole-file reads and writes,
// polling with a wall-clock limit, and helper programs run as child processes whose output
// is read line by line.
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/clock.h"

namespace testutil {

// A fresh directory under the system temp folder, removed with everything in it.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "tessel_") {
    std::string tmpl = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    path_ = mkdtemp(tmpl.data()) ? tmpl : std::string();
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Makes a fresh /tmp/<prefix>XXXXXX and enters it, keeping the old working directory;
// returns an empty path if it could not be made.
inline std::filesystem::path enter_fresh_dir(const std::string& prefix, std::filesystem::path& old_cwd) {
  old_cwd = std::filesystem::current_path();
  std::string tmpl = "/tmp/" + prefix + "XXXXXX";
  if (!mkdtemp(tmpl.data())) return {};
  std::filesystem::current_path(tmpl);
  return tmpl;
}

// Goes back to old_cwd and removes dir.
inline void leave_fresh_dir(const std::filesystem::path& dir, const std::filesystem::path& old_cwd) {
  std::filesystem::current_path(old_cwd);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

inline void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<uint8_t> slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void spit(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The longest a test waits for something it expects: a fake's "port" line (it listens by
// then), a reply, a state. A passing test stops as soon as the event comes, so only a failing
// one pays for the cap; it is long because a machine loaded to three times its cores can hold
// a process back for many seconds.
inline constexpr int kWaitMs = 60000;

// The clock the code under test reads; atomic because server threads may read it too.
inline std::atomic<uint32_t> fake_now{1000};
inline uint32_t fake_clock() { return fake_now.load(); }

// Installs fake_clock, starting at 1000, for the scope.
struct FakeClock {
  FakeClock() {
    fake_now = 1000;
    platform_set_clock(fake_clock);
  }
  ~FakeClock() { platform_set_clock(nullptr); }
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;
  void advance(uint32_t ms) { fake_now += ms; }
};

// Repeats step until it returns true or the wall-clock limit passes.
inline bool poll_until(const std::function<bool()>& step, int limit_ms = kWaitMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (std::chrono::steady_clock::now() < end) {
    if (step()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return step();
}

// Opens the FIFOs for writing (without waiting) once the common cap has passed, again and
// again until stopped, so that code that waits on one to open fails its test rather than
// hangs it. stop() tells whether it had to.
class FifoRelease {
 public:
  explicit FifoRelease(std::vector<std::string> paths)
      : paths_(std::move(paths)), thread_([this] {
          if (poll_until([this] { return done_.load(); })) return;
          released_ = true;
          for (; !done_; std::this_thread::sleep_for(std::chrono::milliseconds(10)))
            for (const std::string& p : paths_)
              if (int fd = ::open(p.c_str(), O_WRONLY | O_NONBLOCK); fd >= 0) ::close(fd);
        }) {}
  ~FifoRelease() { stop(); }
  FifoRelease(const FifoRelease&) = delete;
  FifoRelease& operator=(const FifoRelease&) = delete;
  bool stop() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
    return released_;
  }

 private:
  std::vector<std::string> paths_;
  std::atomic<bool> done_{false}, released_{false};
  std::thread thread_;
};

inline std::string hex_of(const uint8_t* bytes, size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[bytes[i] >> 4];
    s += digits[bytes[i] & 15];
  }
  return s;
}

struct ChildOptions {
  bool quiet_stderr = false;                              // send its stderr to /dev/null
  std::vector<std::pair<std::string, std::string>> env;  // set in the child only
};

// Runs fn in a forked child (for limits or a uid the test itself must not take on) and gives
// back the text it returned ("" when it died or ended abnormally).
template <class Fn>
std::string in_child(Fn fn) {
  int p[2];
  if (pipe(p) != 0) return "";
  pid_t pid = fork();
  if (pid == 0) {
    close(p[0]);
    std::string out = fn();
    for (size_t at = 0; at < out.size();) {
      ssize_t w = write(p[1], out.data() + at, out.size() - at);
      if (w <= 0) break;
      at += static_cast<size_t>(w);
    }
    _exit(0);
  }
  close(p[1]);
  if (pid < 0) {
    close(p[0]);
    return "";
  }
  std::string got;
  char buf[512];
  for (ssize_t n; (n = read(p[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
  close(p[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? got : "";
}

// A program run as a child process with pipes on stdin and stdout; stopped by its own pid
// when destroyed.
class ChildProcess {
 public:
  explicit ChildProcess(std::vector<std::string> argv, const ChildOptions& options = {}) {
    int out[2], in[2];
    if (pipe(out) != 0 || pipe(in) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      // A helper never outlives the test that started it, however that test ends.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      dup2(out[1], 1);
      dup2(in[0], 0);
      if (options.quiet_stderr) {
        int null_fd = open("/dev/null", O_WRONLY);
        if (null_fd >= 0) dup2(null_fd, 2);
      }
      close(out[0]);
      close(in[1]);
      for (const auto& [name, value] : options.env) setenv(name.c_str(), value.c_str(), 1);
      std::vector<char*> args;
      for (auto& a : argv) args.push_back(a.data());
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
    close(out[1]);
    close(in[0]);
    out_ = out[0];
    in_ = in[1];
  }
  ~ChildProcess() {
    if (in_ >= 0) close(in_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Next output line (also kept in lines), or "" after limit_ms (0: only what has come).
  std::string line(int limit_ms = kWaitMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    for (;;) {
      size_t nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        std::string l = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        lines.push_back(l);
        return l;
      }
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      if (out_ < 0) return "";
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(std::max<long long>(left, 0))) <= 0) {
        if (left <= 0) return "";
        continue;
      }
      char chunk[4096];
      ssize_t n = read(out_, chunk, sizeof chunk);
      if (n <= 0) {
        ended_ = true;
        return "";
      }
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }
  // True once its output has closed.
  bool ended() const { return ended_ || out_ < 0; }
  void send(const std::string& text) {
    if (in_ >= 0) (void)!write(in_, text.data(), text.size());
  }
  std::vector<std::string> lines;

 private:
  pid_t pid_ = -1;
  int out_ = -1, in_ = -1;
  bool ended_ = false;
  std::string buffer_;
};

// A fake server whose first output line is "port N", printed once it listens; later lines
// report what it saw. port() is 0 when that line did not come.
class FakeProcess : public ChildProcess {
 public:
  FakeProcess(std::vector<std::string> argv, int start_limit_ms = kWaitMs, const ChildOptions& options = {})
      : ChildProcess(std::move(argv), options) {
    std::string first = line(start_limit_ms);
    if (first.rfind("port ", 0) == 0) port_ = static_cast<uint16_t>(std::stoi(first.substr(5)));
  }
  uint16_t port() const { return port_; }

  // Runs step until a line starting with prefix comes; returns it ("" on time-out).
  std::string wait_for(const std::string& prefix, const std::function<void()>& step, int limit_ms = kWaitMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (std::chrono::steady_clock::now() < end) {
      if (step) step();
      std::string l = line(3);
      if (!l.empty() && l.rfind(prefix, 0) == 0) return l;
    }
    return "";
  }
  // Every line that came within ms while step runs.
  std::vector<std::string> collect(int ms, const std::function<void()>& step) {
    std::vector<std::string> got;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      if (step) step();
      std::string l = line(3);
      if (!l.empty()) got.push_back(l);
    }
    return got;
  }
  void command(const std::string& c) { send(c + "\n"); }

 private:
  uint16_t port_ = 0;
};

}  // namespace testutil
