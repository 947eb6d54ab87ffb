#include "client/shell/chat_page.h"

#include <string>

#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/shell/chat.h"
#include "client/shell/psheet.h"

namespace {

constexpr size_t kNameMax = 127;

const dialog_label kLabels[] = {{1160, 282}, {1161, 283}, {1162, 284}, {1163, 285},
                                {1164, 286}, {1165, 287}, {1166, 288}, {1167, 290},
                                {1151, 291}, {1153, 289}, {1155, 292}};

class Page : public PsheetPage {
 public:
  Page() : PsheetPage(CHAT_PAGE, 261, kLabels) {}
  void init(DialogView& view) override {
    view.set_range(CHAT_AVATARS, 12, 50);
    view.set_position(CHAT_AVATARS, chat_avatars());
    view.set_range(CHAT_NEAR, 0, 50);
    view.set_position(CHAT_NEAR, chat_near());
    view.check(CHAT_BALLOONS, chat_balloons() != 0);
    bool logging = chat_logging() == 1;
    view.check(CHAT_LOGGING, logging);
    view.limit(CHAT_LOGFILE, kNameMax);
    view.set_text(CHAT_LOGFILE, chat_logfile());
    psheet_enable(view, {CHAT_LOGFILE, CHAT_BROWSE}, logging);
  }
  void command(DialogView& view, int id) override {
    if (id == CHAT_LOGGING) psheet_enable(view, {CHAT_LOGFILE, CHAT_BROWSE}, view.checked(CHAT_LOGGING));
    if (id == CHAT_BROWSE) {
      // From the name chosen last, else from the log file in use.
      std::string start = browsed_.empty() ? chat_logfile() : browsed_;
      std::string chosen;
      if (!view.choose_save_file(msg(258), "Text File", "*.*", start, &chosen)) return;
      browsed_ = chosen.substr(0, kNameMax);
      view.set_text(CHAT_LOGFILE, browsed_.c_str());
    }
    if (id >= CHAT_BALLOONS && id <= CHAT_NEAR) psheet_changed(this);
  }
  void apply(DialogView& view) override {
    int v = 0;
    if (view.position(CHAT_AVATARS, &v)) profile_set_int("chat", "avatars", psheet_clamp(v, 12, 50));
    if (view.position(CHAT_NEAR, &v)) profile_set_int("chat", "near", psheet_clamp(v, 0, 50));
    profile_set_int("chat", "balloons", view.checked(CHAT_BALLOONS) ? 1 : 0);
    profile_set_int("chat", "logging", view.checked(CHAT_LOGGING) ? 1 : 0);
    // A browsed name, or one typed into the field.
    std::string file = view.text(CHAT_LOGFILE, kNameMax);
    if (!file.empty() && file != chat_logfile()) profile_set_string("chat", "logfile", file.c_str());
    browsed_.clear();
    // Logging switched on or off, or to another file, from now on.
    chat_log_open();
  }

 private:
  std::string browsed_;
};

}  // namespace

PsheetPage& chat_page() {
  static Page page;
  return page;
}
