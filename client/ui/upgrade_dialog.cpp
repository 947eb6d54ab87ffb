#include "client/ui/upgrade_dialog.h"

#include "client/servers/upgrade.h"

namespace {

// The offer text over the OK / Skip / Cancel row; both dialogs have the same controls.
const qt_control upgrade_controls[] = {
    {UPGRADE_TEXT, QtControl::Status, 12, 12, 316, 64},
    {UPGRADE_OK, QtControl::DefaultButton, 12, 88, 96, 28},
    {UPGRADE_SKIP, QtControl::Button, 122, 88, 96, 28},
    {DIALOG_CANCEL, QtControl::Button, 232, 88, 96, 28},
};

}  // namespace

const qt_dialog_template upgrade_dialog_table = qt_dialog_table(UPGRADE_DIALOG, 340, 128, upgrade_controls);
const qt_dialog_template upgrade_running_dialog_table = qt_dialog_table(UPGRADE_DIALOG_RUNNING, 340, 128, upgrade_controls);

void upgrade_dialogs_register() {
  qt_dialog_register(&upgrade_dialog_table);
  qt_dialog_register(&upgrade_running_dialog_table);
}
