#pragma once
// The layouts of the citizen login dialog and the tourist dialog.
#include "client/ui/qt_dialog.h"

extern const qt_dialog_template login_dialog_table;
extern const qt_dialog_template tourist_dialog_table;

// Registers both layouts with the dialog builder.
void login_dialogs_register();
