#pragma once
// The screen's colour depth, read once at start-up, and the warning shown when it is
// neither 15 nor 16 bits (dialog 601).
#include "client/core/control_ids.h"
#include "client/core/dialog.h"

// Reads the depth; warns when needed. 1 go on, 0 stop start-up (quietly).
int display_init();
// Bits per pixel of the screen (0 before display_init).
int display_depth();

// Dialog 601's logic: ends with 0 (exit) or 1 (continue anyway).
class DepthDialog : public DialogController {
 public:
  explicit DepthDialog(int depth) : depth_(depth) {}
  void init(DialogView& view) override;
  void command(DialogView& view, int id) override;
  // The close box leaves the program as the exit button does.
  void close(DialogView& view) override { command(view, DEPTH_EXIT); }

 private:
  int depth_;
};

// Tests.
void display_reset_for_test();
