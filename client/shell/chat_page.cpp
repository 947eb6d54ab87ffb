#include "client/shell/chat_page.h"

#include "client/core/profile.h"
#include "client/shell/psheet.h"

namespace {

const dialog_label kLabels[] = {{1160, 282}, {1161, 283}, {1162, 284}, {1163, 285},
                                {1164, 286}, {1165, 287}, {1166, 288}, {1167, 290},
                                {1151, 291}, {1153, 289}, {1155, 292}};

class Page : public PsheetPage {
 public:
  int resource() const override { return CHAT_PAGE; }
  int title() const override { return 261; }
  void labels(DialogView& view) override { dialog_apply_labels(view, kLabels); }
  void init(DialogView& view) override {
    labels(view);
    view.set_range(CHAT_AVATARS, 12, 50);
    view.set_position(CHAT_AVATARS, chat_page_avatars());
    view.set_range(CHAT_NEAR, 0, 50);
    view.set_position(CHAT_NEAR, chat_page_near());
    view.check(CHAT_BALLOONS, profile_int("chat", "balloons") != 0);
    bool logging = profile_int("chat", "logging") == 1;
    view.check(CHAT_LOGGING, logging);
    const char* file = profile_string("chat", "logfile");
    view.limit(CHAT_LOGFILE, 127);
    view.set_text(CHAT_LOGFILE, *file ? file : "chat.txt");
    view.enable(CHAT_LOGFILE, logging);
    // Choosing a file from a browser is not offered: the name is typed.
    view.show(CHAT_BROWSE, false);
  }
  void command(DialogView& view, int id) override {
    if (id == CHAT_LOGGING) view.enable(CHAT_LOGFILE, view.checked(CHAT_LOGGING));
    if (id >= CHAT_BALLOONS && id <= CHAT_NEAR) psheet_changed(this);
  }
  void apply(DialogView& view) override {
    int v = 0;
    if (view.position(CHAT_AVATARS, &v)) profile_set_int("chat", "avatars", psheet_clamp(v, 12, 50));
    if (view.position(CHAT_NEAR, &v)) profile_set_int("chat", "near", psheet_clamp(v, 0, 50));
    profile_set_int("chat", "balloons", view.checked(CHAT_BALLOONS) ? 1 : 0);
    profile_set_int("chat", "logging", view.checked(CHAT_LOGGING) ? 1 : 0);
    std::string file = view.text(CHAT_LOGFILE, 127);
    const char* stored = profile_string("chat", "logfile");
    if (!file.empty() && file != (*stored ? stored : "chat.txt"))
      profile_set_string("chat", "logfile", file.c_str());
  }
};

}  // namespace

int chat_page_avatars() { return psheet_setting("chat", "avatars", 12, 50, 50); }
int chat_page_near() { return psheet_setting("chat", "near", 0, 50, 12); }

PsheetPage& chat_page() {
  static Page page;
  return page;
}
