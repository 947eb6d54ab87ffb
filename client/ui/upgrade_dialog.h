#pragma once
// The layout of the "New Version Available" dialog (offered at login and while running).
#include "client/ui/qt_dialog.h"

extern const qt_dialog_template upgrade_dialog_table;
extern const qt_dialog_template upgrade_running_dialog_table;

void upgrade_dialogs_register();
