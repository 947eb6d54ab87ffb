#include "client/ui/immigrate_dialog.h"

#include "client/servers/immigrate.h"

namespace {

// Instructions, name, password twice, e-mail, status, OK / Cancel.
const qt_control immigrate_controls[] = {
    {IMMIGRATE_INSTRUCTIONS, QtControl::Status, 12, 10, 336, 40},
    {IMMIGRATE_LABEL_NAME, QtControl::Label, 12, 58, 130, 20},
    {IMMIGRATE_NAME, QtControl::Edit, 148, 56, 200, 24},
    {IMMIGRATE_LABEL_PASSWORD, QtControl::Label, 12, 88, 130, 20},
    {IMMIGRATE_PASSWORD, QtControl::Password, 148, 86, 200, 24},
    {IMMIGRATE_LABEL_CONFIRM, QtControl::Label, 12, 118, 130, 20},
    {IMMIGRATE_CONFIRM, QtControl::Password, 148, 116, 200, 24},
    {IMMIGRATE_LABEL_EMAIL, QtControl::Label, 12, 148, 130, 20},
    {IMMIGRATE_EMAIL, QtControl::Edit, 148, 146, 200, 24},
    {IMMIGRATE_STATUS, QtControl::Status, 12, 178, 336, 40},
    qt_ok_button(360, 1, 226),
    qt_cancel_button(360, 226),
};

// The same fields, the privilege password and the account's dates.
const qt_control attributes_controls[] = {
    {IMMIGRATE_LABEL_1415, QtControl::Label, 12, 10, 336, 20},
    {IMMIGRATE_LABEL_NAME, QtControl::Label, 12, 38, 130, 20},
    {IMMIGRATE_NAME, QtControl::Edit, 148, 36, 200, 24},
    {IMMIGRATE_LABEL_PASSWORD, QtControl::Label, 12, 68, 130, 20},
    {IMMIGRATE_PASSWORD, QtControl::Password, 148, 66, 200, 24},
    {IMMIGRATE_LABEL_CONFIRM, QtControl::Label, 12, 98, 130, 20},
    {IMMIGRATE_CONFIRM, QtControl::Password, 148, 96, 200, 24},
    {IMMIGRATE_LABEL_EMAIL, QtControl::Label, 12, 128, 130, 20},
    {IMMIGRATE_EMAIL, QtControl::Edit, 148, 126, 200, 24},
    {IMMIGRATE_PRIVILEGE_LABEL, QtControl::Label, 12, 158, 130, 20},
    {IMMIGRATE_PRIVILEGE_PASSWORD, QtControl::Password, 148, 156, 200, 24},
    {IMMIGRATE_LABEL_1419, QtControl::Label, 12, 190, 336, 20},
    {IMMIGRATE_LABEL_1417, QtControl::Label, 12, 214, 130, 20},
    {IMMIGRATE_IMMIGRATED, QtControl::Label, 148, 214, 200, 20},
    {IMMIGRATE_LABEL_1418, QtControl::Label, 12, 238, 130, 20},
    {IMMIGRATE_RENEW, QtControl::Label, 148, 238, 200, 20},
    {IMMIGRATE_STATUS, QtControl::Status, 12, 264, 336, 40},
    qt_ok_button(360, 1, 312),
    qt_cancel_button(360, 312),
};

}  // namespace

const qt_dialog_template immigrate_dialog_table = qt_dialog_table(IMMIGRATE_DIALOG, 360, 266, immigrate_controls);
const qt_dialog_template immigrate_attributes_dialog_table = qt_dialog_table(IMMIGRATE_ATTRIBUTES_DIALOG, 360, 352, attributes_controls);

void immigrate_dialogs_register() {
  qt_dialog_register(&immigrate_dialog_table);
  qt_dialog_register(&immigrate_attributes_dialog_table);
}
