#pragma once
// The citizenship dialog: immigration (a new citizen, universe message 25) and the own
// citizen attributes (messages 27 and 26). Window thread only.
#include <vector>

#include "client/core/control_ids.h"

struct universe_tag_text;

enum ImmigrateMode { IMMIGRATE_MODE_NEW = 0, IMMIGRATE_MODE_ATTRIBUTES = 1 };

constexpr int IMMIGRATE_NAME_LIMIT = 16;
constexpr int IMMIGRATE_PASSWORD_LIMIT = 12;
constexpr int IMMIGRATE_EMAIL_LIMIT = 50;

// Modules this one calls, filled by their own init; a null entry is skipped.
struct immigrate_hooks {
  void (*tessel_background)();
  void (*tessel_foreground)();
  // The sign-up dialog, opened in mode 0 when the universe offered sign-up.
  int (*register_dialog)();
};
extern immigrate_hooks immigrate_hook;
immigrate_hooks immigrate_default_hooks();

// Commands 143 (mode 0) and 149 (mode 1): the modal dialog; its end code (0 success, 1
// cancelled), or the sign-up dialog's.
int immigrate(int mode);
// Start-up: the dialogs' owner. Also connects the universe replies of this module, the
// sign-up and the prompt.
void immigrate_set_parent(void* window);
// Universe replies 1, 2 and 3.
void immigrate_result(int rc);
void immigrate_change_result(int rc);
void immigrate_show_attributes(int rc, const std::vector<universe_tag_text>& fields);
// The status text for a refusal (generic: message 76 or 139).
const char* immigrate_result_text(int rc, int generic, const char* name);
bool immigrate_open();
// Forgets everything (tests).
void immigrate_reset();
