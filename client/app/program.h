#pragma once
// The program's wiring: the start-up, 3D-start, shutdown and reset tables, the frame step and
// task table (frame.h), the window procedure and layout (frame.h) and the command dispatch
// (command.h). This folder stands above every module; nothing below includes it.

// Registers the tables, the window procedure and the frame step with the main module. Call
// once before tessel_main or tessel_init (the entry and test fixtures do).
void app_install();

struct lifecycle_tables;
// The program's own tables (the same that app_install registers).
const lifecycle_tables& app_tables();

// Tests: forgets the whole run's state (main module, frame step, splash box) and installs the
// program's wiring again.
void app_reset_for_test();
