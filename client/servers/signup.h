#pragma once
// Citizenship sign-up: the dialog that sends a new citizen's name, password, e-mail and
// billing details (universe message 46), waits for the answer (reply 19) and logs in with
// the new identity; and the sign-up button of the main window. Window thread only.
#include <cstdint>

#include "client/core/control_ids.h"

constexpr int REGISTER_COMMAND = 143;
constexpr int REGISTER_FAILURE_LIMIT = 10;
constexpr int REGISTER_WAIT_SECONDS = 120;
constexpr int REGISTER_BUTTON_WIDTH = 90;
constexpr int REGISTER_BUTTON_HEIGHT = 20;
// The expiry year list runs from the current year over this many years.
constexpr int REGISTER_EXPIRY_YEARS = 5;

// The main window's sign-up button as the logic sees it.
class RegisterButtonView {
 public:
  virtual ~RegisterButtonView();
  virtual void set_caption(const char* text) = 0;
  virtual void place(int x, int y, int width, int height) = 0;
};

// Modules this one calls, filled by their own init; a null entry is skipped.
struct register_hooks {
  void (*tessel_background)();
  void (*tessel_foreground)();
  int (*toolbar_height)();  // fall-back 0
  // Makes the button (command REGISTER_COMMAND); null: no button.
  RegisterButtonView* (*button_create)();
  void (*button_destroy)(RegisterButtonView* view);
  // The calendar time the expiry list and check start from (tests fix it).
  int64_t (*now)();
};
extern register_hooks register_hook;
register_hooks register_default_hooks();

// Modal dialog 623: 0 after success, 1 on Cancel.
int register_dialog();
// Universe reply 19 (text null when none).
void register_result(int rc, const char* text);
// Idle notification while a modal loop runs: shows the time waited for the answer.
void register_countdown();
int register_button_width();
void register_button_create();
void register_button_destroy();
// The status text for an answer's rc (counts a login failure for 107).
const char* register_result_text(int rc, const char* text, const char* name);
bool register_open();
int register_failures();
// Forgets everything (tests).
void register_reset();
