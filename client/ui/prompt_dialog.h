#pragma once
// The layouts of the one-line prompt, wide (610) and narrow (617).
#include "client/ui/qt_dialog.h"

extern const qt_dialog_template prompt_dialog_table;
extern const qt_dialog_template prompt_small_dialog_table;

void prompt_dialogs_register();
