#include "client/ui/prompt_dialog.h"

#include "client/servers/prompt.h"

namespace {

// The question over the answer, OK / Cancel; the two dialogs differ in width alone.
constexpr std::array<qt_control, 4> prompt_controls(int width) {
  return {{
      {PROMPT_LABEL, QtControl::Status, 12, 10, width - 24, 40},
      {PROMPT_EDIT, QtControl::Edit, 12, 54, width - 24, 24},
      qt_ok_button(width, 1, 88),
      qt_cancel_button(width, 88),
  }};
}

constexpr auto wide_controls = prompt_controls(440);
constexpr auto small_controls = prompt_controls(320);

}  // namespace

const qt_dialog_template prompt_dialog_table = qt_dialog_table(PROMPT_DIALOG, 440, 126, wide_controls);
const qt_dialog_template prompt_small_dialog_table = qt_dialog_table(PROMPT_DIALOG_SMALL, 320, 126, small_controls);

void prompt_dialogs_register() {
  qt_dialog_register(&prompt_dialog_table);
  qt_dialog_register(&prompt_small_dialog_table);
}
