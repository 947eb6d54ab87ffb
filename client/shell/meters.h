#pragma once
// Per-frame meters: the frame rate (ten one-second slots of frame counts; the visibility
// scheduler reads it to tune its range), the bandwidth (ten one-second slots of bytes sent
// and received, added to from the network layers and the HTTP worker threads), the engine's
// frame-object stepping every 200 ms, and the world clock. Each meter has a pane in the status
// bar that the View menu switches. Window thread, except bps_count.
#include <cstdint>

constexpr int METER_SLOTS = 10;
constexpr uint32_t METER_SLOT_MS = 1000;
constexpr uint32_t FRAME_STEP_MS = 200;

// The visibility scheduler reads the rate from now on.
void fps_init();
void fps_update();  // task "fps"
// The pane in the status bar (its handle, 0 while hidden), menu item 121, [show] framerate.
void fps_toggle();
int fps_pane();
double fps_rate();
void fps_reset();

// Counts the network layers' bytes from now on.
void bps_init();
// Any thread.
void bps_count(int bytes);
void bps_update();  // task "bps"
// The pane, menu item 122 and [show] bandwidth.
void bps_toggle();
int bps_pane();
// The mean over the ten slots in thousands of bytes per second.
double bps_rate();

void frame_update();  // task "frame"

// The world clock's pane (menu item 141, [show] vrt), its text set once a second.
void vrt_init();
void vrt_toggle();
int vrt_pane();
void vrt_update();  // task "vrt"
// The tick of the next frame-object step (0 before the first call), and the passes made.
uint32_t frame_next_step();
int frame_steps();

void meters_reset_for_test();
