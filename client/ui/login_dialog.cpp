#include "client/ui/login_dialog.h"

#include "client/servers/login.h"
#include "client/servers/tourist.h"

namespace {

// The citizen dialog: name, password (dots), forgotten password, remember box, status, and
// the OK / Tourist / Cancel row.
const qt_control login_controls[] = {
    {LOGIN_NAME_LABEL, QtControl::Label, 12, 14, 110, 20},
    {LOGIN_NAME, QtControl::Edit, 128, 12, 180, 24},
    {LOGIN_PASSWORD_LABEL, QtControl::Label, 12, 46, 110, 20},
    {LOGIN_PASSWORD, QtControl::Password, 128, 44, 180, 24},
    {LOGIN_FORGOTTEN, QtControl::Button, 128, 74, 180, 26},
    {LOGIN_REMEMBER, QtControl::Check, 12, 108, 296, 22},
    {LOGIN_STATUS, QtControl::Status, 12, 136, 296, 40},
    qt_ok_button(320, 2, 184),
    qt_row_button(LOGIN_TOURIST, QtControl::Button, 320, 1, 184),
    qt_cancel_button(320, 184),
};

// The tourist dialog: three lines of explanation, the name, status and OK / Citizen / Cancel.
const qt_control tourist_controls[] = {
    {1303, QtControl::Label, 12, 10, 296, 36},
    {1304, QtControl::Label, 12, 48, 296, 36},
    {1305, QtControl::Label, 12, 90, 110, 20},
    {TOURIST_NAME, QtControl::Edit, 128, 88, 180, 24},
    {TOURIST_STATUS, QtControl::Status, 12, 120, 296, 40},
    qt_ok_button(320, 2, 168),
    qt_row_button(TOURIST_CITIZEN, QtControl::Button, 320, 1, 168),
    qt_cancel_button(320, 168),
};

}  // namespace

const qt_dialog_template login_dialog_table = qt_dialog_table(LOGIN_DIALOG, 320, 222, login_controls);
const qt_dialog_template tourist_dialog_table = qt_dialog_table(TOURIST_DIALOG, 320, 206, tourist_controls);

void login_dialogs_register() {
  qt_dialog_register(&login_dialog_table);
  qt_dialog_register(&tourist_dialog_table);
}
