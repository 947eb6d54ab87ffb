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

// Headings over the citizen's and the billing side and over the card's expiry and types; the
// four card types are one choice; then status and OK / Cancel.
constexpr int CARD_TYPES = 1;  // their group
constexpr qt_control signup_rest[] = {
    {283, QtControl::Label, L, 46, 336, 20},
    {281, QtControl::Label, 364, 46, 264, 20},
    {284, QtControl::Label, 364, 190, 264, 20},
    {279, QtControl::Label, 364, 212, 120, 20}, {REGISTER_MONTH, QtControl::List, 364, 232, 60, 42},
    {280, QtControl::Label, 500, 212, 120, 20}, {REGISTER_YEAR, QtControl::List, 500, 232, 80, 42},
    {282, QtControl::Label, L, 310, 336, 20},
    {285, QtControl::Label, L, 334, LW, 20},
    {REGISTER_CARD_TYPE_1, QtControl::Radio, E, 332, 100, 22, CARD_TYPES},
    {REGISTER_CARD_TYPE_2, QtControl::Radio, E + 100, 332, 100, 22, CARD_TYPES},
    {REGISTER_CARD_TYPE_3, QtControl::Radio, E, 356, 100, 22, CARD_TYPES},
    {REGISTER_CARD_TYPE_4, QtControl::Radio, E + 100, 356, 100, 22, CARD_TYPES},
    {REGISTER_STATUS, QtControl::Status, L, 386, 616, 40},
    qt_ok_button(640, 1, 434),
    qt_cancel_button(640, 434),
};

constexpr auto signup_controls = qt_controls(
    qt_control{286, QtControl::Status, L, 8, 616, 34},
    qt_form_rows({L, LW, E, W, 68, 30}, citizen_rows),
    qt_form_rows({364, LW, 500, 128, 68, 30}, billing_rows),
    signup_rest);

}  // namespace

const qt_dialog_template signup_dialog_table = qt_dialog_table(REGISTER_DIALOG, 640, 474, signup_controls);

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
