#include "client/servers/prompt.h"

#include <string>

#include "client/core/dialog.h"
#include "client/servers/login.h"
#include "client/servers/teleport.h"

namespace {

struct prompt_module {
  std::string result;  // the last typed text
};
prompt_module pm;

class PromptDialog : public DialogController {
 public:
  PromptDialog(const char* title, const char* label, const char* text)
      : title_(title ? title : ""), label_(label ? label : ""), text_(text ? text : "") {}

  void init(DialogView& v) override {
    v.set_title(title_.c_str());
    v.set_text(PROMPT_LABEL, label_.c_str());
    v.limit(PROMPT_EDIT, PROMPT_EDIT_LIMIT);
    // A default longer than the edit takes is cut as the edit would.
    std::string shown = text_.substr(0, PROMPT_EDIT_LIMIT);
    v.set_text(PROMPT_EDIT, shown.c_str());
  }

  void command(DialogView& v, int id) override {
    if (id == DIALOG_OK) {
      pm.result = v.text(PROMPT_EDIT, PROMPT_RESULT_LIMIT);
      v.end(DIALOG_OK);
    } else if (id == DIALOG_CANCEL) {
      v.end(DIALOG_CANCEL);
    }
  }

 private:
  std::string title_, label_, text_;
};

const char* run(int resource, const char* title, const char* label, const char* text) {
  PromptDialog dialog(title, label, text);
  int r = dialog_run(resource, dialog);
  return r == DIALOG_OK ? pm.result.c_str() : nullptr;
}

}  // namespace

const char* prompt_text(const char* title, const char* label, const char* default_text) {
  return run(PROMPT_DIALOG, title, label, default_text);
}

const char* prompt_text_small(const char* title, const char* label, const char* default_text) {
  return run(PROMPT_DIALOG_SMALL, title, label, default_text);
}

void prompt_install() {
  login_hook.prompt_text = prompt_text;
  teleport_hook.prompt_text_small = prompt_text_small;
}
