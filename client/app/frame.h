#pragma once
// The frame step: a small state machine that waits for the universe connection and the login,
// starts the 3D side, and then calls every row of the task table once per frame. Also the
// main window's procedure and the layout of its panes.
#include <cstddef>
#include <cstdint>

#include "client/core/keys.h"

struct HostEvent;

// One row of the task table. Only update is called; the rest is carried for tracing.
struct task_record {
  const char* name;  // null for the camera's begin- and end-update rows
  void (*update)();
  int32_t flag;
  int32_t counters[10];
};

// The task table in its fixed order.
extern const task_record task_table[];
extern const size_t task_count;
// The update function's name of each row, for tracing and for checking the order.
extern const char* const task_update_names[];

// The universe connection and login as the frame step sees them. A null entry counts as
// never connected and never done (tests swap in scripted links).
struct FrameLinks {
  int (*universe_update)();
  bool (*universe_connected)();
  bool (*universe_logged_in)();  // read by the About box
  int (*login_auto)();
  int (*login_done)();
  int (*login_last_result)();
  int (*login)(int clear);
  // True while a splitter is being dragged (the whole table is then skipped).
  bool (*slider_update)();
  bool (*vslider_update)();
};
// The links the program uses; tests swap in scripted ones (nullptr restores the program's).
const FrameLinks& frame_links();
void frame_set_links(const FrameLinks* links);
// Tests: run this table in state 5 instead of task_table (nullptr restores it).
void frame_set_tasks(const task_record* table, size_t count);

// One frame step. Called by the loop when it is idle and by the 500 ms timer.
void tessel_frame();
bool frame_busy();

// The main window's procedure.
long handle_window(const HostEvent& event);
// Places all panes for a client area of width x height. Returns 0.
int tessel_layout(int width, int height);
void tessel_relayout();
void tessel_toggle_toolbar();
// The last size given to the layout (0 x 0 before any).
void tessel_layout_size(int* width, int* height);

// The builder's command for a key (with or without a selected object), 0 for none.
// *record tells whether the key is still recorded as held.
int frame_builder_command(int key, bool selection, bool* record);

// Tests: back to the start (state 0, no layout remembered, program links and table).
void frame_reset_for_test();
