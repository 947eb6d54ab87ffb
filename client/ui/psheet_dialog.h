#pragma once
// The settings sheet as a Qt dialog: a page selector with the eight pages' controls, and the
// OK, Cancel and Apply buttons.
#include "client/ui/qt_dialog.h"

extern const qt_dialog_template psheet_dialog_table;
void psheet_dialogs_register();
