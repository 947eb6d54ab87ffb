#pragma once
// Starts the 3D engine core and opens a display driver, choosing among the driver files by
// the screen depth and the [performance] settings, with fall-backs down to the engine's
// own "MSWindows" device.
#include <cstdint>

// The driver files, in the order of the program's name table.
extern const char* const driver_names[6];

// 1 when a device is open, 0 when none could be opened.
int driver_init();
// Opens and starts one driver file. flag picks start mode 2 instead of 1. 1 started, 0 not.
int load_driver(const char* name, int flag);

bool driver_ready();
bool driver_using_direct3d();
// The device's texture side (0 when the device record has none).
int32_t driver_texture_size();

// The option block handed unchanged to every start call: two (code, value) pairs.
extern const int32_t driver_options[4];

// True once a started device answered that it fell back while [performance] try_directdraw
// was on: directdraw and try_directdraw then read 0 for the rest of the run.
bool driver_directdraw_cleared();

// The performance settings keep the DirectDraw switches of this run (try_directdraw is
// written 0 at start-up, so the file no longer holds the run's value). Null: the file.
struct driver_hooks {
  int (*perform_directdraw)();
  int (*perform_try_directdraw)();
  void (*perform_clear_directdraw)();
};
extern driver_hooks driver_hook;

// Shutdown (after the engine closed): nothing is open any more.
void driver_term();

// Tests.
void driver_reset_for_test();
