#include "client/ui/prompt_dialog.h"

#include "client/servers/prompt.h"

namespace {

const qt_control wide_controls[] = {
    {PROMPT_LABEL, QtControl::Status, 12, 10, 416, 40},
    {PROMPT_EDIT, QtControl::Edit, 12, 54, 416, 24},
    qt_ok_button(440, 1, 88),
    qt_cancel_button(440, 88),
};

const qt_control small_controls[] = {
    {PROMPT_LABEL, QtControl::Status, 12, 10, 296, 40},
    {PROMPT_EDIT, QtControl::Edit, 12, 54, 296, 24},
    qt_ok_button(320, 1, 88),
    qt_cancel_button(320, 88),
};

}  // namespace

const qt_dialog_template prompt_dialog_table = qt_dialog_table(PROMPT_DIALOG, 440, 126, wide_controls);
const qt_dialog_template prompt_small_dialog_table = qt_dialog_table(PROMPT_DIALOG_SMALL, 320, 126, small_controls);

void prompt_dialogs_register() {
  qt_dialog_register(&prompt_dialog_table);
  qt_dialog_register(&prompt_small_dialog_table);
}
