#include "client/ui/shell_dialogs.h"

#include <QApplication>
#include <QColorDialog>

#include "client/shell/features.h"
#include "client/shell/telegram.h"

namespace {

const qt_control telegram_controls[] = {
    {TELEGRAM_RECIPIENT_LABEL, QtControl::Label, 12, 12, 90, 20},
    {TELEGRAM_RECIPIENT, QtControl::Edit, 108, 10, 200, 24},
    {TELEGRAM_TEXT_LABEL, QtControl::Label, 12, 42, 296, 20},
    {TELEGRAM_TEXT, QtControl::MultiEdit, 12, 64, 296, 96},
    {TELEGRAM_STATUS, QtControl::Status, 12, 166, 296, 36},
    qt_ok_button(320, 1, 208),
    qt_cancel_button(320, 208),
};

// Two columns of labelled fields, the rights lists below, the choices on the right.
constexpr int L = 12, F = 150, W = 220, R = 392, RF = 530, RW = 150;
constexpr int row(int n) { return 10 + n * 28; }
const qt_control worldopts_controls[] = {
    {128, QtControl::Label, L, row(0) + 2, 134, 20},  {WORLDOPTS_TITLE, QtControl::Edit, F, row(0), W, 24},
    {129, QtControl::Label, L, row(1) + 2, 134, 20},  {WORLDOPTS_BACKDROP, QtControl::Edit, F, row(1), W, 24},
    {130, QtControl::Label, L, row(2) + 2, 134, 20},  {WORLDOPTS_GROUND, QtControl::Edit, F, row(2), W, 24},
    {131, QtControl::Label, L, row(3) + 2, 134, 20},  {WORLDOPTS_OBJECT_PATH, QtControl::Edit, F, row(3), W, 24},
    {132, QtControl::Label, L, row(4) + 2, 134, 20},  {WORLDOPTS_PASSWORD, QtControl::Password, F, row(4), W, 24},
    {133, QtControl::Label, L, row(5) + 2, 134, 20},  {WORLDOPTS_HOME_PAGE, QtControl::Edit, F, row(5), W, 24},
    {134, QtControl::Label, L, row(6) + 2, 134, 20},  {WORLDOPTS_WELCOME, QtControl::Edit, F, row(6), W, 24},
    {135, QtControl::Label, L, row(7) + 2, 134, 20},  {WORLDOPTS_REFRESH, QtControl::Edit, F, row(7), W, 24},
    {136, QtControl::Label, L, row(8) + 2, 134, 20},  {WORLDOPTS_RESTRICTED_RADIUS, QtControl::Edit, F, row(8), W, 24},
    {137, QtControl::Label, L, row(9) + 2, 134, 20},  {WORLDOPTS_ENTER_RIGHTS, QtControl::Edit, F, row(9), W, 24},
    {138, QtControl::Label, L, row(10) + 2, 134, 20}, {WORLDOPTS_BUILD_RIGHTS, QtControl::Edit, F, row(10), W, 24},
    {139, QtControl::Label, L, row(11) + 2, 134, 20}, {WORLDOPTS_EMINENT_RIGHTS, QtControl::Edit, F, row(11), W, 24},
    {140, QtControl::Label, L, row(12) + 2, 134, 20}, {WORLDOPTS_SPECIAL_RIGHTS, QtControl::Edit, F, row(12), W, 24},
    {141, QtControl::Label, L, row(13) + 2, 134, 20}, {WORLDOPTS_SPEAKER_RIGHTS, QtControl::Edit, F, row(13), W, 24},
    {142, QtControl::Label, L, row(14) + 2, 134, 20}, {WORLDOPTS_EJECT_RIGHTS, QtControl::Edit, F, row(14), W, 24},
    {143, QtControl::Label, R, row(0) + 2, 134, 20},  {WORLDOPTS_CELL_LIMIT, QtControl::Combo, RF, row(0), RW, 24},
    {144, QtControl::Label, R, row(1) + 2, 134, 20},  {WORLDOPTS_RATING, QtControl::Combo, RF, row(1), RW, 24},
    {145, QtControl::Label, R, row(2) + 2, 134, 20},  {WORLDOPTS_SWATCH, QtControl::Swatch, RF, row(2), 40, 24},
    {WORLDOPTS_CHANGE_COLOR, QtControl::Button, RF + 48, row(2), RW - 48, 24},
    // The four lines of the rights' help read as one sentence, below the choices.
    {146, QtControl::Label, R, row(9) + 2, 288, 20},  {147, QtControl::Label, R, row(10) + 2, 288, 20},
    {148, QtControl::Label, R, row(11) + 2, 288, 20}, {149, QtControl::Label, R, row(12) + 2, 288, 20},
    {WORLDOPTS_NO_URL_COMMAND, QtControl::Check, R, row(3), 288, 22},
    {WORLDOPTS_PASS_THROUGH, QtControl::Check, R, row(4), 288, 22},
    {WORLDOPTS_FLYING, QtControl::Check, R, row(5), 288, 22},
    {WORLDOPTS_LOCAL_TELEPORTS, QtControl::Check, R, row(6), 288, 22},
    {WORLDOPTS_VRML_SCALING, QtControl::Check, R, row(7), 288, 22},
    qt_ok_button(692, 1, row(14)),
    qt_cancel_button(692, row(14)),
};

const qt_control admin_controls[] = {
    {456, QtControl::Label, 12, 12, 180, 20},  {ADMIN_MINIMUM_BROWSER, QtControl::Edit, 200, 10, 100, 24},
    {457, QtControl::Label, 12, 42, 180, 20},  {ADMIN_LATEST_BROWSER, QtControl::Edit, 200, 40, 100, 24},
    {458, QtControl::Label, 12, 72, 180, 20},  {ADMIN_BETA_BROWSER, QtControl::Edit, 200, 70, 100, 24},
    {459, QtControl::Label, 12, 102, 180, 20}, {ADMIN_MINIMUM_WORLD, QtControl::Edit, 200, 100, 100, 24},
    {460, QtControl::Label, 12, 132, 180, 20}, {ADMIN_DEFAULT_WORLD, QtControl::Edit, 200, 130, 100, 24},
    {461, QtControl::Label, 12, 162, 288, 20}, {ADMIN_STATUS, QtControl::Status, 12, 184, 288, 36},
    qt_ok_button(312, 1, 226),
    qt_cancel_button(312, 226),
};

const qt_control eject_controls[] = {
    {EJECT_NAME_LABEL, QtControl::Label, 12, 12, 100, 20},
    {EJECT_NAME, QtControl::Edit, 118, 10, 170, 24},
    {EJECT_TIME_LABEL, QtControl::Label, 12, 42, 276, 20},
    {EJECT_FIVE_MINUTES, QtControl::Radio, 24, 64, 264, 22},
    {EJECT_HOUR, QtControl::Radio, 24, 88, 264, 22},
    {EJECT_DAY, QtControl::Radio, 24, 112, 264, 22},
    {EJECT_WEEK, QtControl::Radio, 24, 136, 264, 22},
    {EJECT_STATUS, QtControl::Status, 12, 162, 276, 36},
    qt_ok_button(300, 1, 204),
    qt_cancel_button(300, 204),
};

QColor to_qt(uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
uint32_t from_qt(const QColor& c) {
  return static_cast<uint32_t>(c.red()) | static_cast<uint32_t>(c.green()) << 8 |
         static_cast<uint32_t>(c.blue()) << 16;
}

// The chooser opened with the current colour and the run's 16 custom colours.
bool choose_colour(uint32_t current, uint32_t custom[16], uint32_t* chosen) {
  int n = std::min(QColorDialog::customCount(), 16);
  for (int i = 0; i < n; ++i) QColorDialog::setCustomColor(i, to_qt(custom[i]));
  QColorDialog dialog(to_qt(current), qt_dialog_parent());
  dialog.setOption(QColorDialog::DontUseNativeDialog);
  bool ok = dialog.exec() == QDialog::Accepted;
  for (int i = 0; i < n; ++i) custom[i] = from_qt(QColorDialog::customColor(i));
  if (ok && chosen) *chosen = from_qt(dialog.selectedColor());
  return ok;
}

}  // namespace

const qt_dialog_template telegram_dialog_table = qt_dialog_table(TELEGRAM_DIALOG, 320, 246, telegram_controls);
const qt_dialog_template worldopts_dialog_table = qt_dialog_table(WORLDOPTS_DIALOG, 692, row(15) + 8, worldopts_controls);
const qt_dialog_template admin_dialog_table = qt_dialog_table(ADMIN_DIALOG, 312, 264, admin_controls);
const qt_dialog_template eject_dialog_table = qt_dialog_table(EJECT_DIALOG, 300, 242, eject_controls);

void shell_dialogs_register() {
  qt_dialog_register(&telegram_dialog_table);
  qt_dialog_register(&worldopts_dialog_table);
  qt_dialog_register(&admin_dialog_table);
  qt_dialog_register(&eject_dialog_table);
  features_set_color_chooser(choose_colour);
}
