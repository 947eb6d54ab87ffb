#include "client/core/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "client/core/files.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/strutil.h"
#include "platform/clock.h"

int32_t trace_switches[13];

namespace {
int log_fd = -1;
off_t log_size = 0;  // bytes in the open file
bool flush_mode = false;
bool timing_mode = false;
bool line_held = false;
char held_line[1024];
uint32_t held_tick = 0;
bool previous_kept = false;  // this run has set the last one's log aside
bool failure_told = false;
int boxes_held = 0;       // inside a library's message handler: no box opens there
std::string box_waiting;  // the failure's box, shown at the next line written outside it

const char kLogName[] = "tessel.log";
// Beside the settings file (the program directory) once log_init has run; before it, and in
// tests that never start the log, in the working directory.
std::string log_path = kLogName;

// [debug] keys in the order they are read, with their switch entries.
struct SwitchKey {
  const char* key;
  int entry;
};
const SwitchKey kSwitchKeys[] = {
    {"trace", TRACE_GENERAL},   {"tasks", TRACE_TASKS},       {"database", TRACE_DATABASE},
    {"sound", TRACE_SOUND},     {"download", TRACE_DOWNLOAD}, {"disk", TRACE_DISK},
    {"visible", TRACE_VISIBLE}, {"texture", TRACE_TEXTURE},   {"chunk", TRACE_CHUNK},
    {"universe", TRACE_UNIVERSE}, {"elements", TRACE_ELEMENTS}, {"vrml", TRACE_VRML},
    {"world", TRACE_WORLD},
};

// The first time this run's log cannot be kept as it should, the person is told why (once: the
// lines that follow are lost quietly, as the box's own trace line is).
void tell_failure(const std::string& what) {
  if (failure_told) return;
  failure_told = true;
  char text[1536];
  std::snprintf(text, sizeof text, "The trace log %s %s.", log_path.c_str(), what.c_str());
  if (boxes_held) box_waiting = text;
  else note("%s", text);
}

void tell_unwritable(const std::string& why) {
  tell_failure("cannot be written: " + why + ".\nTrace lines are lost until it can");
}

// The log of the run before (a killed one's too) is kept as "tessel.log.1", whatever was
// there; only a plain file is moved, never what a link points to.
void keep_as_previous() {
  struct stat st {};
  if (::lstat(log_path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  if (std::rename(log_path.c_str(), log_file_previous_path().c_str()) != 0)
    tell_failure("cannot be set aside as " + log_file_previous_path() + ": " + std::strerror(errno) +
                 ".\nThis run's lines follow the last run's");
}

// Opens the log for appending: a plain file of the person's own, created 0600, never through
// a link and never waiting on a FIFO. The first open of a run starts a fresh file.
bool open_log() {
  if (!previous_kept) {
    previous_kept = true;
    keep_as_previous();
  }
  std::string why;
  int fd = file_open_private_fd(log_path.c_str(), true, &why);
  struct stat st {};
  if (fd >= 0 && ::fstat(fd, &st) != 0) {
    why = std::strerror(errno);
    ::close(fd);
    fd = -1;
  }
  if (fd < 0) {
    tell_unwritable(why);
    return false;
  }
  log_fd = fd;
  log_size = st.st_size;
  return true;
}

int close_log() {
  if (log_fd < 0) return 0;
  int rc = ::close(log_fd);
  log_fd = -1;
  return rc;
}

// One whole line at the end of the file, or none: a line that does not fit (a full disk) is
// taken back, so no line is ever left cut. A file past its cap becomes "tessel.log.1" first;
// one that cannot be set aside is begun again, so the log never grows past its cap.
void append_line(const std::string& line) {
  if (log_fd < 0 && !open_log()) return;
  if (log_size > 0 && log_size + static_cast<off_t>(line.size()) > kLogCap) {
    if (std::rename(log_path.c_str(), log_file_previous_path().c_str()) == 0) {
      close_log();
      if (!open_log()) return;
    } else {
      // Cut before telling: the box's own trace line goes into the fresh file.
      const std::string why = std::strerror(errno);
      if (::ftruncate(log_fd, 0) != 0) {
        tell_unwritable(std::strerror(errno));
        return;
      }
      log_size = 0;
      tell_failure("reached its cap and cannot be set aside as " + log_file_previous_path() + ": " + why +
                   ".\nIt is begun again each time it reaches its cap");
    }
  }
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = ::write(log_fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : ENOSPC;
      if (done > 0) (void)!::ftruncate(log_fd, log_size);
      tell_unwritable(std::strerror(err));
      return;
    }
    done += static_cast<size_t>(n);
  }
  log_size += static_cast<off_t>(done);
}
}  // namespace

static_assert(sizeof(trace_switches) / sizeof(trace_switches[0]) == TRACE_COUNT);

int log_init() {
  std::string settings = profile_path();
  size_t slash = settings.rfind('/');
  log_path = slash == std::string::npos ? kLogName : settings.substr(0, slash + 1) + kLogName;
  flush_mode = settings_int("debug", "flush") == 1;
  if (flush_mode) {
    // Each run starts with a fresh file at once (the last run's kept); later lines append.
    close_log();
    if (open_log()) close_log();
  }
  timing_mode = settings_int("debug", "timing") == 1;
  if (settings_int("debug", "all") == 1) {
    for (auto& s : trace_switches) s = 1;
    return 0;
  }
  for (const auto& k : kSwitchKeys) {
    if (settings_int("debug", k.key) == 1) trace_switches[k.entry] = 1;
  }
  return 0;
}

void log_hold_boxes(bool hold) { boxes_held += hold ? 1 : (boxes_held > 0 ? -1 : 0); }

int log_write(const char* fmt, ...) {
  if (!boxes_held && !box_waiting.empty()) {
    std::string text;
    text.swap(box_waiting);
    note("%s", text.c_str());
  }
  char line[1024];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(line, sizeof line, fmt, ap);
  va_end(ap);
  // Names and texts from outside are traced too: one call is one line, no terminal codes.
  std::string shown = text_printable(line);

  uint32_t now = platform_ticks();
  char tick[16];
  if (timing_mode) {
    if (line_held) {
      std::snprintf(tick, sizeof tick, "%5d: ", static_cast<int>(now - held_tick));
      append_line(tick + std::string(held_line) + "\n");
    }
    std::snprintf(held_line, sizeof held_line, "%s", shown.c_str());
    held_tick = now;
    line_held = true;
  } else {
    std::snprintf(tick, sizeof tick, "%5d: ", static_cast<int>(now));
    append_line(tick + shown + "\n");
  }
  // In flush mode each line closes the file, so that the log survives a crash.
  return flush_mode ? close_log() : 0;
}

int log_note(const char* fmt, ...) {
  bool kept = log_fd >= 0 || flush_mode;
  for (int s : trace_switches) kept = kept || s != 0;
  if (!kept) return 0;
  char line[1024];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(line, sizeof line, fmt, ap);
  va_end(ap);
  return log_write("%s", line);
}

const char* log_file_path() { return log_path.c_str(); }
std::string log_file_previous_path() { return log_path + ".1"; }

void log_reset() {
  close_log();
  log_path = kLogName;
  log_size = 0;
  flush_mode = false;
  timing_mode = false;
  line_held = false;
  held_line[0] = 0;
  held_tick = 0;
  previous_kept = false;
  failure_told = false;
  std::memset(trace_switches, 0, sizeof trace_switches);
}
