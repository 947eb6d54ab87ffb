#include "client/ui/privilege_dialog.h"

#include "client/servers/privilege.h"

namespace {

// The check box over the name and password, status, OK / Cancel.
const qt_control privilege_controls[] = {
    {PRIVILEGE_ENABLE, QtControl::Check, 12, 10, 296, 22},
    {PRIVILEGE_NAME_LABEL, QtControl::Label, 12, 42, 130, 20},
    {PRIVILEGE_NAME, QtControl::Edit, 148, 40, 160, 24},
    {PRIVILEGE_PASSWORD_LABEL, QtControl::Label, 12, 72, 130, 20},
    {PRIVILEGE_PASSWORD, QtControl::Password, 148, 70, 160, 24},
    {PRIVILEGE_STATUS, QtControl::Status, 12, 102, 296, 40},
    qt_ok_button(320, 1, 150),
    qt_cancel_button(320, 150),
};

}  // namespace

const qt_dialog_template privilege_dialog_table = qt_dialog_table(PRIVILEGE_DIALOG, 320, 190, privilege_controls);

void privilege_dialogs_register() { qt_dialog_register(&privilege_dialog_table); }
