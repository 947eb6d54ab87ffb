#pragma once
// The layout of the sign-up dialog (623) and the idle ticks that show the time waited for the
// answer. The sign-up button belongs to the gesture row (gesture_row.h).
#include "client/ui/qt_dialog.h"

extern const qt_dialog_template signup_dialog_table;

// Registers the layout and starts the idle ticks (needs a running QApplication).
void signup_dialogs_register();
