#pragma once
// The layout of the sign-up dialog (623), the main window's sign-up button, and the idle
// ticks that show the time waited for the answer.
#include "client/ui/qt_dialog.h"

class QtHost;

extern const qt_dialog_template signup_dialog_table;

// Registers the layout and starts the idle ticks (needs a running QApplication).
void signup_dialogs_register();
// The sign-up button is a push button in this host's main window.
void signup_button_qt_install(QtHost& host);
