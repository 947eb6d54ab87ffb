#pragma once
// The layout of the privileges dialog (627).
#include "client/ui/qt_dialog.h"

extern const qt_dialog_template privilege_dialog_table;

void privilege_dialogs_register();
