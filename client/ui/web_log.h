#pragma once
// The web engine writes its log lines (at every level) straight to standard error, from this
// process and from the processes it starts, which inherit it. Those lines go to the trace log
// (tessel.log, when [debug] trace is on) beside the engine's start-up report; the terminal
// keeps tessel's own lines.
//
// How: the C stream stderr, which tessel's own lines use, writes to the terminal directly, and
// the programs tessel starts get the terminal too (platform_child_stderr). What else this
// process writes on standard error (the engine's lines, and what the C library says when the
// program fails) goes through a pipe to a small keeper process, forked before any thread,
// which passes the engine's lines back for the log and the rest to the terminal, and which
// outlives a crash of the program only to say why (it ends with the program, stopped or not;
// once it is gone the program's standard error is the terminal again). Every process forked here later (the engine's)
// writes its standard error into a second pipe that goes to the log whole. Lines reach the
// log on the window thread, at most kWebLogPending waiting at a time.
#include <cstddef>

constexpr size_t kWebLogPending = 500;
constexpr size_t kWebLogLineMax = 1000;  // longer lines are cut into pieces this long

// Once, before the application and the web engine start.
void web_log_capture();
// The keeper's own loop, in the process forked for it: from the program `program`'s standard
// error to the log's pipe and the terminal, until the program has ended.
[[noreturn]] void web_log_keep(int from, int logged, int terminal, int program);
// True for a piece of text that begins as the engine's log lines begin:
// "[pid:tid:date:LEVEL:file(line)] ".
bool web_log_is_engine_line(const char* text, size_t length);
