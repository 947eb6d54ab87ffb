#pragma once
// How the fixed orders of start-up, 3D start, shutdown and world-change reset are run. The
// tables themselves belong to the program's wiring (client/app/program.cpp), which registers
// them; this module only runs whatever is registered.
#include <cstddef>
#include <string>

// What a failing start step does.
enum LifecycleFailure : int {
  LC_IGNORE = 0,     // the result is not looked at
  LC_STOP,           // start-up ends quietly (no message, no shutdown)
  LC_FATAL,          // shutdown with message n
  LC_FATAL_TITLE,    // shutdown with message n formatted with message 68 (the title)
  LC_FATAL_CODE,     // shutdown with message n formatted with the step's result
  LC_FATAL_TEXT,     // shutdown with the literal text
  LC_FATAL_ENGINE,   // shutdown with message n when the engine's error is 3, else message n2
};

struct lifecycle_step {
  const char* name;
  int (*run)();  // 0 success, else the failure's code
  int failure;   // LifecycleFailure
  int message;
  int message2;
  const char* text;
};

struct lifecycle_call {
  const char* name;
  void (*run)();
};

struct lifecycle_tables {
  const lifecycle_step* init;
  size_t init_count;
  const lifecycle_step* start_3d;
  size_t start_3d_count;
  const lifecycle_call* term;  // before the error box
  size_t term_count;
  const lifecycle_call* term_late;  // after it
  size_t term_late_count;
  const lifecycle_call* reset;
  size_t reset_count;
};

// The program's tables, registered by its wiring (empty until then).
void lifecycle_set_program(const lifecycle_tables* tables);
const lifecycle_tables& lifecycle_program();
// The tables in use; tests swap in their own (nullptr restores the program's).
const lifecycle_tables& lifecycle_current();
void lifecycle_set_tables(const lifecycle_tables* tables);

// Runs the steps in order. 1 when all succeeded; 0 when one stopped start-up (a fatal one has
// run the shutdown with its text).
int lifecycle_run(const lifecycle_step* steps, size_t count);
// The text a fatal step shows for this result (in a rotating message buffer or the step's
// literal), or nullptr for a step that stops quietly or ignores its result.
const char* lifecycle_failure_text(const lifecycle_step& step, int result);
// What the running step found wrong (a file and the system's reason): a fixed text is shown
// with it beneath, so that the person knows what to mend. Cleared before each step.
void lifecycle_set_cause(const std::string& cause);

// The main module's own steps (rows of the tables above).
int tessel_step_program_directory();
int tessel_step_cache_directory();
int tessel_step_profile();
int tessel_step_messages();
int tessel_step_init_application();
int tessel_step_init_instance();
int tessel_step_show_toolbar();
int tessel_step_kiosk();
int tessel_step_frame_timer();
int tessel_step_debug_settings();
int tessel_step_show_window();
const char* tessel_command_line();
