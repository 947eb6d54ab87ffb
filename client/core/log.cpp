#include "client/core/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "client/core/files.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/strutil.h"
#include "platform/clock.h"

int32_t trace_switches[13];

namespace {
FILE* log_file = nullptr;
bool flush_mode = false;
bool timing_mode = false;
bool line_held = false;
char held_line[1024];
uint32_t held_tick = 0;

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
}  // namespace

static_assert(sizeof(trace_switches) / sizeof(trace_switches[0]) == TRACE_COUNT);

int log_init() {
  std::string settings = profile_path();
  size_t slash = settings.rfind('/');
  log_path = slash == std::string::npos ? kLogName : settings.substr(0, slash + 1) + kLogName;
  flush_mode = settings_int("debug", "flush") == 1;
  if (flush_mode) {
    // Each run starts with an empty file; later lines append.
    if (log_file) {
      std::fclose(log_file);
      log_file = nullptr;
    }
    if (FILE* f = file_open_private(log_path.c_str(), "w")) std::fclose(f);
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

int log_write(const char* fmt, ...) {
  char line[1024];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(line, sizeof line, fmt, ap);
  va_end(ap);
  // Names and texts from outside are traced too: one call is one line, no terminal codes.
  std::string shown = text_printable(line);

  if (!log_file) {
    log_file = file_open_private(log_path.c_str(), flush_mode ? "a" : "w");
    if (!log_file) return 0;  // not reported: the line is lost
  }
  uint32_t now = platform_ticks();
  if (timing_mode) {
    if (line_held) {
      std::fprintf(log_file, "%5d: %s\n", static_cast<int>(now - held_tick), held_line);
    }
    std::snprintf(held_line, sizeof held_line, "%s", shown.c_str());
    held_tick = now;
    line_held = true;
  } else {
    std::fprintf(log_file, "%5d: %s\n", static_cast<int>(now), shown.c_str());
  }
  std::fflush(log_file);
  if (flush_mode) {
    int rc = std::fclose(log_file);
    log_file = nullptr;
    return rc;
  }
  return 0;
}

int log_note(const char* fmt, ...) {
  bool kept = log_file || flush_mode;
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

void log_reset() {
  if (log_file) std::fclose(log_file);
  log_file = nullptr;
  log_path = kLogName;
  flush_mode = false;
  timing_mode = false;
  line_held = false;
  held_line[0] = 0;
  held_tick = 0;
  std::memset(trace_switches, 0, sizeof trace_switches);
}
