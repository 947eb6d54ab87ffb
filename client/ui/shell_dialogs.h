#pragma once
// The layouts of the telegram (619), world features (604), universe (626) and eject (622)
// dialogs, and the colour chooser of the world features dialog.
#include "client/ui/qt_dialog.h"

extern const qt_dialog_template telegram_dialog_table;
extern const qt_dialog_template worldopts_dialog_table;
extern const qt_dialog_template admin_dialog_table;
extern const qt_dialog_template eject_dialog_table;

void shell_dialogs_register();
