#pragma once
// The system the program runs on, read once at start-up for the trace log and the checks
// that depend on it.

// Reads the system's name and release; false when they cannot be read (start-up stops).
bool os_init();
// "<system> <release> <machine>", "" before os_init.
const char* os_version();
void os_reset();
