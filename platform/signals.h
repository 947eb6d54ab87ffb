#pragma once
// Termination signals (SIGTERM, SIGINT, SIGHUP) turned into bytes on a pipe, so the window
// thread can notice them in its event loop and end the program in order.

// Installs the handlers (once); returns the pipe's read end, or -1 when none could be made.
int signals_watch();
// Reads one pending signal number off the pipe; 0 when none is waiting.
int signals_take();
// Restores the default handlers and closes the pipe (tests).
void signals_unwatch();
