#include "client/ui/signup_dialog.h"

#include <QApplication>
#include <QTimer>

#include "client/servers/signup.h"

namespace {

constexpr int L = 12, E = 148, W = 200, H = 24, LW = 130;

const qt_control signup_controls[] = {
    {286, QtControl::Status, L, 8, 616, 34},
    // The citizen's side.
    {267, QtControl::Label, L, 50, LW, 20},   {REGISTER_NAME, QtControl::Edit, E, 48, W, H},
    {268, QtControl::Label, L, 80, LW, 20},   {REGISTER_PASSWORD, QtControl::Password, E, 78, W, H},
    {269, QtControl::Label, L, 110, LW, 20},  {REGISTER_CONFIRM, QtControl::Password, E, 108, W, H},
    {270, QtControl::Label, L, 140, LW, 20},  {REGISTER_EMAIL, QtControl::Edit, E, 138, W, H},
    {271, QtControl::Label, L, 170, LW, 20},  {REGISTER_CARD_NAME, QtControl::Edit, E, 168, W, H},
    {272, QtControl::Label, L, 200, LW, 20},  {REGISTER_BUSINESS, QtControl::Edit, E, 198, W, H},
    {273, QtControl::Label, L, 230, LW, 20},  {REGISTER_STREET, QtControl::Edit, E, 228, W, H},
    {274, QtControl::Label, L, 260, LW, 20},  {REGISTER_CITY, QtControl::Edit, E, 258, W, H},
    // The billing side.
    {275, QtControl::Label, 364, 50, LW, 20}, {REGISTER_STATE, QtControl::Edit, 500, 48, 128, H},
    {276, QtControl::Label, 364, 80, LW, 20}, {REGISTER_POSTAL, QtControl::Edit, 500, 78, 128, H},
    {277, QtControl::Label, 364, 110, LW, 20}, {REGISTER_CARD_NUMBER, QtControl::Edit, 500, 108, 128, H},
    {278, QtControl::Label, 364, 140, LW, 20}, {REGISTER_PHONE, QtControl::Edit, 500, 138, 128, H},
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
