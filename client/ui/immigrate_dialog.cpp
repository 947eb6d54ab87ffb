#include "client/ui/immigrate_dialog.h"

#include "client/servers/immigrate.h"

namespace {

// Name, password twice and e-mail, a row each from the form's top.
constexpr qt_form_row account_rows[] = {
    {IMMIGRATE_LABEL_NAME, IMMIGRATE_NAME},
    {IMMIGRATE_LABEL_PASSWORD, IMMIGRATE_PASSWORD, QtControl::Password},
    {IMMIGRATE_LABEL_CONFIRM, IMMIGRATE_CONFIRM, QtControl::Password},
    {IMMIGRATE_LABEL_EMAIL, IMMIGRATE_EMAIL},
};
constexpr qt_form account_form(int top) { return {12, 130, 148, 200, top, 30}; }

// Instructions, the account's fields, status, OK / Cancel.
constexpr auto immigrate_controls = qt_controls(
    qt_control{IMMIGRATE_INSTRUCTIONS, QtControl::Status, 12, 10, 336, 40},
    qt_form_rows(account_form(56), account_rows),
    qt_control{IMMIGRATE_STATUS, QtControl::Status, 12, 178, 336, 40},
    qt_ok_button(360, 1, 226),
    qt_cancel_button(360, 226));

// The same fields, the privilege password in the row below them and the account's dates.
constexpr qt_form attributes_form = account_form(36);
constexpr auto attributes_controls = qt_controls(
    qt_control{IMMIGRATE_LABEL_1415, QtControl::Label, 12, 10, 336, 20},
    qt_form_rows(attributes_form, account_rows),
    attributes_form.label(IMMIGRATE_PRIVILEGE_LABEL, 4),
    attributes_form.field(IMMIGRATE_PRIVILEGE_PASSWORD, QtControl::Password, 4),
    qt_control{IMMIGRATE_LABEL_1419, QtControl::Label, 12, 190, 336, 20},
    qt_control{IMMIGRATE_LABEL_1417, QtControl::Label, 12, 214, 130, 20},
    qt_control{IMMIGRATE_IMMIGRATED, QtControl::Label, 148, 214, 200, 20},
    qt_control{IMMIGRATE_LABEL_1418, QtControl::Label, 12, 238, 130, 20},
    qt_control{IMMIGRATE_RENEW, QtControl::Label, 148, 238, 200, 20},
    qt_control{IMMIGRATE_STATUS, QtControl::Status, 12, 264, 336, 40},
    qt_ok_button(360, 1, 312),
    qt_cancel_button(360, 312));

}  // namespace

const qt_dialog_template immigrate_dialog_table = qt_dialog_table(IMMIGRATE_DIALOG, 360, 266, immigrate_controls);
const qt_dialog_template immigrate_attributes_dialog_table = qt_dialog_table(IMMIGRATE_ATTRIBUTES_DIALOG, 360, 352, attributes_controls);

void immigrate_dialogs_register() {
  qt_dialog_register(&immigrate_dialog_table);
  qt_dialog_register(&immigrate_attributes_dialog_table);
}
