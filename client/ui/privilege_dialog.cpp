#include "client/ui/privilege_dialog.h"

#include "client/servers/privilege.h"

namespace {

constexpr qt_form_row privilege_rows[] = {
    {PRIVILEGE_NAME_LABEL, PRIVILEGE_NAME},
    {PRIVILEGE_PASSWORD_LABEL, PRIVILEGE_PASSWORD, QtControl::Password},
};

// The check box over the name and password, status, OK / Cancel.
constexpr auto privilege_controls = qt_controls(
    qt_control{PRIVILEGE_ENABLE, QtControl::Check, 12, 10, 296, 22},
    qt_form_rows({12, 130, 148, 160, 40, 30}, privilege_rows),
    qt_control{PRIVILEGE_STATUS, QtControl::Status, 12, 102, 296, 40},
    qt_ok_button(320, 1, 150),
    qt_cancel_button(320, 150));

}  // namespace

const qt_dialog_template privilege_dialog_table = qt_dialog_table(PRIVILEGE_DIALOG, 320, 190, privilege_controls);

void privilege_dialogs_register() { qt_dialog_register(&privilege_dialog_table); }
