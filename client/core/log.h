#pragma once
// Trace log: printf-style lines appended to "tessel.log" beside tessel.ini (the program
// directory) when a module's trace switch is on; the file is created 0600. Switches come from
// the [debug] section of tessel.ini. Each run that writes a log first keeps the last run's as
// "tessel.log.1"; a log that reaches kLogCap bytes becomes "tessel.log.1" and a fresh one
// goes on, so the two hold at most twice the cap. A line is written whole or not at all, and
// the first line that cannot be written is told in a box, once a run.
#include <sys/types.h>

#include <cstdint>
#include <string>

inline constexpr off_t kLogCap = 8 << 20;

enum TraceSwitch {
  TRACE_GENERAL = 0,  // [debug] trace: entry points, settings, messages
  TRACE_TASKS,        // [debug] tasks: lines written every frame
  TRACE_DATABASE,
  TRACE_SOUND,
  TRACE_DISK,
  TRACE_DOWNLOAD,
  TRACE_VISIBLE,
  TRACE_TEXTURE,
  TRACE_CHUNK,
  TRACE_UNIVERSE,
  TRACE_WORLD,
  TRACE_ELEMENTS,
  TRACE_VRML,
  TRACE_COUNT
};

// 0 off, 1 on. Modules test their own entry before calling log_write.
extern int32_t trace_switches[13];

// A line written every frame (a task's entry point, or what a task asks each frame) goes under
// the tasks switch alone: any other switch would fill the log at the frame rate.
inline bool trace_frames() { return trace_switches[TRACE_TASKS] != 0; }

// Reads the switches and the flush and timing modes from [debug]. Returns 0.
int log_init();
// Formats one line (at most 1023 characters) and writes it with the tick.
// Returns the result of closing the file in flush mode, else 0.
// While held (inside a library's message handler, which may run in the middle of drawing),
// a failure of the log is not shown in a box at once but at the next line written outside.
void log_hold_boxes(bool hold);
int log_write(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// A line that tells a person why the program did what it did (a setting it could not use or
// keep), whatever the switches: written whenever this run keeps a log (the file is open, flush
// mode made it at start, or a switch is on), dropped otherwise so that a run without switches
// still writes no file. Returns as log_write.
int log_note(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// One line when the switch is on; the arguments are not evaluated when it is off.
#define LOG_TRACE(sw, ...)                         \
  do {                                             \
    if (trace_switches[sw]) log_write(__VA_ARGS__); \
  } while (0)
// The log's file: beside the settings once log_init has run, "tessel.log" before.
const char* log_file_path();
// Where the log before this one is kept ("tessel.log.1" beside it).
std::string log_file_previous_path();
// Closes the file, forgets its folder, drops a held line and clears switches and modes (tests, shutdown).
void log_reset();
