#pragma once
// The program's body, shared by the programs built from it:
//   tessel [command file]
// Scripted runs (the demo and tests under QT_QPA_PLATFORM=offscreen):
//   TESSEL_SCREENSHOT=file.png   save what is shown, then quit
//   TESSEL_EXIT_AFTER_MS=n       when to do that (default 3000 ms when a screenshot is asked)
class QtHost;

// Wires the Qt views to the program and runs it; its exit status. start, when given, is
// called once everything is wired, before the program starts (the tour's runner hooks in there).
int program_main(int argc, char** argv, void (*start)(QtHost& host));
