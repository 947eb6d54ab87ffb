#include "client/ui/web_log.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/core/log.h"
#include "platform/spawn.h"

namespace {

int children_err = -1;  // what every process forked here gets as its standard error

bool digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool upper(unsigned char c) { return c >= 'A' && c <= 'Z'; }

bool write_all(int fd, const char* text, size_t size) {
  while (size > 0) {
    ssize_t w = write(fd, text, size);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    text += w;
    size -= static_cast<size_t>(w);
  }
  return true;
}

// ---- the keeper process: only calls that are safe after a fork ----

void woken(int) {}

}  // namespace

// Reads what the program writes on its standard error until the program has gone: the
// engine's lines to `logged`, the rest to the terminal. A line too long is passed on in
// pieces, each where its first piece went. The program's end wakes it (SIGCONT, which also
// ends a stop), and then it passes on what is left and ends, whoever else holds the pipe.
[[noreturn]] void web_log_keep(int from, int logged, int terminal, int program) {
  static char buffer[64 * 1024];
  static char line[kWebLogLineMax + 1];
  sigset_t wake, waiting;
  sigemptyset(&wake);
  sigaddset(&wake, SIGCONT);
  sigprocmask(SIG_BLOCK, &wake, &waiting);  // taken only while it waits for input
  sigdelset(&waiting, SIGCONT);
  struct sigaction on_wake = {};
  on_wake.sa_handler = woken;
  sigaction(SIGCONT, &on_wake, nullptr);
  prctl(PR_SET_PDEATHSIG, SIGCONT);
  size_t length = 0;
  bool continued = false, engine = false, draining = false;
  auto pass = [&](bool whole) {
    if (!continued) engine = web_log_is_engine_line(line, length);
    if (engine && !whole) line[length++] = '\n';  // the log takes each piece as a line
    write_all(engine ? logged : terminal, line, length);
    continued = !whole;
    length = 0;
  };
  for (;;) {
    if (!draining && getppid() != program) {
      draining = true;
      fcntl(from, F_SETFL, fcntl(from, F_GETFL) | O_NONBLOCK);
    }
    pollfd input{from, POLLIN, 0};
    if (!draining && ppoll(&input, 1, nullptr, &waiting) < 0) continue;
    ssize_t n = read(from, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (length > 0) pass(false);
      _exit(0);
    }
    for (ssize_t i = 0; i < n; ++i) {
      line[length++] = buffer[i];
      if (buffer[i] == '\n' || length >= kWebLogLineMax) pass(buffer[i] == '\n');
    }
  }
}

namespace {

// ---- the program's side ----

std::mutex pending_mutex;
std::vector<std::string> pending;
size_t dropped = 0;
bool drain_posted = false;

// The window thread writes the log.
void drain() {
  std::vector<std::string> lines;
  size_t lost = 0;
  {
    std::lock_guard<std::mutex> lock(pending_mutex);
    lines.swap(pending);
    lost = dropped;
    dropped = 0;
    drain_posted = false;
  }
  if (!trace_switches[TRACE_GENERAL]) return;
  for (const std::string& l : lines) log_write("web engine: %s", l.c_str());
  if (lost) log_write("web engine: %zu more lines not kept", lost);
}

void keep(const std::string& line) {
  size_t length = line.size();
  while (length > 0 && (line[length - 1] == '\r' || line[length - 1] == '\n')) --length;
  if (length == 0) return;
  bool post = false;
  QCoreApplication* app = QCoreApplication::instance();
  {
    std::lock_guard<std::mutex> lock(pending_mutex);
    if (pending.size() < kWebLogPending)
      pending.emplace_back(line, 0, length);
    else
      ++dropped;
    if (app && !drain_posted) drain_posted = post = true;
  }
  if (post) QMetaObject::invokeMethod(app, drain, Qt::QueuedConnection);
}

// The engine's lines from the keeper and from the processes forked here, for the log. Once
// the keeper is gone, standard error is the terminal again, so that a crash is still told.
void read_for_log(int from_keeper, int from_children, int terminal) {
  pollfd fds[2] = {{from_keeper, POLLIN, 0}, {from_children, POLLIN, 0}};
  std::string partial[2];
  std::vector<char> buffer(64 * 1024);
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[i].fd, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (i == 0) dup2(terminal, STDERR_FILENO);
        keep(partial[i]);
        close(fds[i].fd);
        fds[i].fd = -1;
        continue;
      }
      for (ssize_t k = 0; k < n; ++k) {
        partial[i] += buffer[static_cast<size_t>(k)];
        if (buffer[static_cast<size_t>(k)] == '\n' || partial[i].size() >= kWebLogLineMax) {
          keep(partial[i]);
          partial[i].clear();
        }
      }
    }
  }
}

// A process forked here is the engine's: its standard error goes to the log.
void in_child() {
  if (children_err >= 0) dup2(children_err, STDERR_FILENO);
}

}  // namespace

bool web_log_is_engine_line(const char* text, size_t length) {
  auto at = [&](size_t i) { return i < length ? static_cast<unsigned char>(text[i]) : 0; };
  if (at(0) != '[') return false;
  // The process, thread and time: digits, colons, a slash and a point, ending in a colon.
  size_t i = 1;
  while (digit(at(i)) || at(i) == ':' || at(i) == '/' || at(i) == '.') ++i;
  if (i == 1 || at(i - 1) != ':') return false;
  // The level.
  size_t level = i;
  while (upper(at(i)) || digit(at(i))) ++i;
  if (i == level || at(i) != ':') return false;
  // The source file and its line: "name.cc(126)] ".
  size_t file = ++i;
  while (i < length && i - file < 256 && at(i) != ']' && at(i) != '\n') ++i;
  if (at(i) != ']' || at(i + 1) != ' ' || i < file + 4 || at(i - 1) != ')') return false;
  size_t digits = i - 1;
  while (digits > file && digit(at(digits - 1))) --digits;
  return digits < i - 1 && digits > file + 1 && at(digits - 1) == '(';
}

void web_log_capture() {
  static bool done = false;
  if (done) return;
  done = true;
  int terminal = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (terminal < 0) return;  // no standard error to keep apart
  int own[2] = {-1, -1}, logged[2] = {-1, -1}, children[2] = {-1, -1};
  FILE* stream = fdopen(terminal, "w");
  pid_t keeper = -1;
  const pid_t program = getpid();
  if (stream && pipe2(own, O_CLOEXEC) == 0 && pipe2(logged, O_CLOEXEC) == 0 && pipe2(children, O_CLOEXEC) == 0)
    keeper = fork();
  if (keeper == 0) {
    // It lives until the program's last line and no longer: the person's keys and the
    // session's end are the program's to answer.
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    for (int s : {SIGINT, SIGHUP, SIGTERM, SIGQUIT, SIGPIPE}) sigaction(s, &ignore, nullptr);
    prctl(PR_SET_NAME, "tessel stderr");
    close(own[1]);
    close(logged[0]);
    close(children[0]);
    close(children[1]);
    web_log_keep(own[0], logged[1], terminal, program);
  }
  for (int fd : {own[0], logged[1]})
    if (fd >= 0) close(fd);
  if (keeper < 0) {
    for (int fd : {own[1], logged[0], children[0], children[1]})
      if (fd >= 0) close(fd);
    if (stream)
      std::fclose(stream);
    else
      close(terminal);
    return;
  }
  setvbuf(stream, nullptr, _IONBF, 0);
  stderr = stream;
  platform_set_child_stderr(terminal);
  dup2(own[1], STDERR_FILENO);
  close(own[1]);
  children_err = children[1];
  std::thread(read_for_log, logged[0], children[0], terminal).detach();
  pthread_atfork(nullptr, nullptr, in_child);
}
