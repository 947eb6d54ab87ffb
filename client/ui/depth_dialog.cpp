#include "client/ui/depth_dialog.h"

#include "client/scene/display.h"

namespace {

const qt_control depth_controls[] = {
    {DEPTH_TEXT, QtControl::Status, 12, 12, 336, 56},
    {DEPTH_ADVICE, QtControl::Status, 12, 72, 336, 56},
    {DEPTH_DONT_ASK, QtControl::Check, 12, 134, 336, 22},
    {DEPTH_EXIT, QtControl::Button, 152, 166, 92, 28},
    {DEPTH_CONTINUE, QtControl::DefaultButton, 256, 166, 92, 28},
};

}  // namespace

const qt_dialog_template depth_dialog_table = qt_dialog_table(DEPTH_DIALOG, 360, 206, depth_controls);

void depth_dialog_register() { qt_dialog_register(&depth_dialog_table); }
