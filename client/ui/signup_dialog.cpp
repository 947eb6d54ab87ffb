#include "client/ui/signup_dialog.h"

#include <QApplication>
#include <QTimer>

#include "client/servers/signup.h"

namespace {

constexpr int L = 12, E = 148, W = 200, LW = 130;

// The citizen's side.
constexpr qt_form_row citizen_rows[] = {
    {267, REGISTER_NAME},
    {268, REGISTER_PASSWORD, QtControl::Password},
    {269, REGISTER_CONFIRM, QtControl::Password},
    {270, REGISTER_EMAIL},
    {271, REGISTER_CARD_NAME},
    {272, REGISTER_BUSINESS},
    {273, REGISTER_STREET},
    {274, REGISTER_CITY},
};
// The billing side.
constexpr qt_form_row billing_rows[] = {
    {275, REGISTER_STATE},
    {276, REGISTER_POSTAL},
    {277, REGISTER_CARD_NUMBER},
    {278, REGISTER_PHONE},
};

// Below and beside the fields: the card's expiry, notes and types, status, OK / Cancel.
constexpr qt_control signup_rest[] = {
    {279, QtControl::Label, 364, 168, 120, 20}, {REGISTER_MONTH, QtControl::List, 364, 188, 60, 42},
    {280, QtControl::Label, 500, 168, 120, 20}, {REGISTER_YEAR, QtControl::List, 500, 188, 80, 42},
    {281, QtControl::Label, 364, 234, 264, 18}, {282, QtControl::Label, 364, 252, 264, 18},
    {283, QtControl::Label, 364, 270, 264, 18}, {284, QtControl::Label, 364, 288, 264, 18},
    {285, QtControl::Label, L, 292, LW, 20},
    {REGISTER_CARD_TYPE_1, QtControl::Check, E, 290, 100, 22},
    {REGISTER_CARD_TYPE_2, QtControl::Check, E + 100, 290, 100, 22},
    {REGISTER_CARD_TYPE_3, QtControl::Check, E, 314, 100, 22},
    {REGISTER_CARD_TYPE_4, QtControl::Check, E + 100, 314, 100, 22},
    {REGISTER_STATUS, QtControl::Status, L, 344, 616, 40},
    qt_ok_button(640, 1, 392),
    qt_cancel_button(640, 392),
};

constexpr auto signup_controls = qt_controls(
    qt_control{286, QtControl::Status, L, 8, 616, 34},
    qt_form_rows({L, LW, E, W, 48, 30}, citizen_rows),
    qt_form_rows({364, LW, 500, 128, 48, 30}, billing_rows),
    signup_rest);


}  // namespace

const qt_dialog_template signup_dialog_table = qt_dialog_table(REGISTER_DIALOG, 640, 432, signup_controls);

void signup_dialogs_register() {
  qt_dialog_register(&signup_dialog_table);
  // Modal loops keep the application's timers running: the waiting time is shown from here.
  static QTimer* idle = nullptr;
  if (!idle && QApplication::instance()) {
    idle = new QTimer(QApplication::instance());
    QObject::connect(idle, &QTimer::timeout, [] { register_countdown(); });
    idle->start(250);
  }
}
