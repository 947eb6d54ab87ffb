#pragma once
// The tourist dialog: entry with a name only, sent in double quotes.
#include <string>

#include "client/core/control_ids.h"

constexpr int TOURIST_NAME_MAX = 15;  // characters read from the edit
constexpr int TOURIST_EDIT_MAX = 16;  // characters the edit takes

// automatic: opened by the automatic login (the Citizen button is offered).
// 0 when a tourist login succeeded, 407 cancelled, the citizen dialog's result after the
// Citizen button, 409 otherwise.
int tourist_dialog(int automatic);
// 0 while the tourist dialog is closed; else handles the login result and gives 1.
int tourist_login_result(int rc);
bool tourist_dialog_open();
// Start-up: the dialog's owner (the main window); kept through tourist_reset.
void tourist_set_parent(void* window);
void* tourist_parent();
// The default tourist name: the user's login name (16 characters at most), or "".
std::string tourist_default_name();
void tourist_reset();
