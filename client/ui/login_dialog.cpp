#include "client/ui/login_dialog.h"

#include "client/servers/login.h"
#include "client/servers/tourist.h"

namespace {

// Both dialogs' fields: captions 110 wide, fields 180, rows 32 apart.
constexpr qt_form name_form(int top) { return {12, 110, 128, 180, top, 32}; }

constexpr qt_form_row login_rows[] = {
    {LOGIN_NAME_LABEL, LOGIN_NAME},
    {LOGIN_PASSWORD_LABEL, LOGIN_PASSWORD, QtControl::Password},
};

// The citizen dialog: name, password (dots), forgotten password, remember box, status, and
// the OK / Tourist / Cancel row.
constexpr auto login_controls = qt_controls(
    qt_form_rows(name_form(12), login_rows),
    qt_control{LOGIN_FORGOTTEN, QtControl::Button, 128, 74, 180, 26},
    qt_control{LOGIN_REMEMBER, QtControl::Check, 12, 108, 296, 22},
    qt_control{LOGIN_STATUS, QtControl::Status, 12, 136, 296, 40},
    qt_ok_button(320, 2, 184),
    qt_row_button(LOGIN_TOURIST, QtControl::Button, 320, 1, 184),
    qt_cancel_button(320, 184));

constexpr qt_form_row tourist_rows[] = {{1305, TOURIST_NAME}};

// The tourist dialog: three lines of explanation, the name, status and OK / Citizen / Cancel.
constexpr auto tourist_controls = qt_controls(
    qt_control{1303, QtControl::Label, 12, 10, 296, 36},
    qt_control{1304, QtControl::Label, 12, 48, 296, 36},
    qt_form_rows(name_form(88), tourist_rows),
    qt_control{TOURIST_STATUS, QtControl::Status, 12, 120, 296, 40},
    qt_ok_button(320, 2, 168),
    qt_row_button(TOURIST_CITIZEN, QtControl::Button, 320, 1, 168),
    qt_cancel_button(320, 168));

}  // namespace

const qt_dialog_template login_dialog_table = qt_dialog_table(LOGIN_DIALOG, 320, 222, login_controls);
const qt_dialog_template tourist_dialog_table = qt_dialog_table(TOURIST_DIALOG, 320, 206, tourist_controls);

void login_dialogs_register() {
  qt_dialog_register(&login_dialog_table);
  qt_dialog_register(&tourist_dialog_table);
}
