#pragma once
// The layout of the display depth warning (dialog 601).
#include "client/ui/qt_dialog.h"

extern const qt_dialog_template depth_dialog_table;

void depth_dialog_register();
