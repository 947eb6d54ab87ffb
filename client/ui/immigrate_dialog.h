#pragma once
// The layouts of the citizenship dialogs: immigration (615) and citizen attributes (621).
#include "client/ui/qt_dialog.h"

extern const qt_dialog_template immigrate_dialog_table;
extern const qt_dialog_template immigrate_attributes_dialog_table;

void immigrate_dialogs_register();
