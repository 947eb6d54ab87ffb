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
constexpr qt_form worldopts_left = {L, 134, F, W, 10, 28};
constexpr qt_form worldopts_right = {R, 134, RF, RW, 10, 28};
constexpr int row(int n) { return worldopts_left.row(n); }
constexpr qt_form_row worldopts_left_rows[] = {
    {128, WORLDOPTS_TITLE},
    {129, WORLDOPTS_BACKDROP},
    {130, WORLDOPTS_GROUND},
    {131, WORLDOPTS_OBJECT_PATH},
    {132, WORLDOPTS_PASSWORD, QtControl::Password},
    {133, WORLDOPTS_HOME_PAGE},
    {134, WORLDOPTS_WELCOME},
    {135, WORLDOPTS_REFRESH},
    {136, WORLDOPTS_RESTRICTED_RADIUS},
    {137, WORLDOPTS_ENTER_RIGHTS},
    {138, WORLDOPTS_BUILD_RIGHTS},
    {139, WORLDOPTS_EMINENT_RIGHTS},
    {140, WORLDOPTS_SPECIAL_RIGHTS},
    {141, WORLDOPTS_SPEAKER_RIGHTS},
    {142, WORLDOPTS_EJECT_RIGHTS},
};
constexpr qt_form_row worldopts_right_rows[] = {
    {143, WORLDOPTS_CELL_LIMIT, QtControl::Combo},
    {144, WORLDOPTS_RATING, QtControl::Combo},
};
// The right column below its two rows: the swatch with its button, the options, the help.
constexpr qt_control worldopts_rest[] = {
    worldopts_right.label(145, 2),  {WORLDOPTS_SWATCH, QtControl::Swatch, RF, row(2), 40, 24},
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
constexpr auto worldopts_controls = qt_controls(
    qt_form_rows(worldopts_left, worldopts_left_rows),
    qt_form_rows(worldopts_right, worldopts_right_rows),
    worldopts_rest);

constexpr qt_form_row admin_rows[] = {
    {456, ADMIN_MINIMUM_BROWSER},
    {457, ADMIN_LATEST_BROWSER},
    {458, ADMIN_BETA_BROWSER},
    {459, ADMIN_MINIMUM_WORLD},
    {460, ADMIN_DEFAULT_WORLD},
};
constexpr auto admin_controls = qt_controls(
    qt_form_rows({12, 180, 200, 100, 10, 30}, admin_rows),
    qt_control{461, QtControl::Label, 12, 162, 288, 20},
    qt_control{ADMIN_STATUS, QtControl::Status, 12, 184, 288, 36},
    qt_ok_button(312, 1, 226),
    qt_cancel_button(312, 226));

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
