#pragma once
// The program's version, and the offer of a newer one: compares the own build number with the
// builds the universe announces, offers the upgrade in its dialog, and starts the separate
// upgrade program (the running program then ends). At start-up it puts in place a newer
// upgrade program and patch library that the previous upgrade left behind.
#include "client/core/control_ids.h"

int version_init();
float version();
int version_build();

// For each login reply and each universe attributes message.
void upgrade_check();
int upgrade_offered();
// 407 cancelled, 408 the upgrade program was started (the program is quitting), 0 skipped.
int upgrade_offer(int running);
// Start-up step: replaces the upgrade program and patch library from ".new" files, and joins
// the login and universe modules.
int upgrade_init();

// What the module does to the system around it; tests replace it.
struct upgrade_system {
  // 0 when started, else an errno value.
  int (*start_program)(const char* command_line);
  void (*sleep_ms)(int ms);
  const char* object_host;     // the service's object server
  const char* program_folder;  // where the upgrade program lives (null: beside this program)
  const char* library_folder;  // where the patch library lives (null: beside our libraries)
};
extern upgrade_system upgrade_sys;
upgrade_system upgrade_default_system();
// The offer for an own build: 0 none, 1 optional, 2 mandatory.
int upgrade_decide(int own, int minimum, int target, bool skipped);
// The command line that starts the upgrade program.
const char* upgrade_command_line();
// Forgets the offer and the skip (tests).
void upgrade_reset();
