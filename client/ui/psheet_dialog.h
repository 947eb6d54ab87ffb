#pragma once
// The settings sheet as a Qt dialog: a page selector with the eight pages' controls, and the
// OK, Cancel, Apply and Help buttons.
#include "client/ui/qt_dialog.h"

extern const qt_dialog_template psheet_dialog_table;
void psheet_dialogs_register();
