#include "client/shell/privacy.h"

#include "client/core/log.h"
#include "client/core/profile.h"
#include "client/servers/join.h"
#include "client/servers/universe.h"
#include "client/shell/psheet.h"

namespace {

const dialog_label kLabels[] = {{206, 389}, {201, 390}, {202, 391}, {203, 392},
                                {204, 393}, {207, 394}, {205, 395}};

class Page : public PsheetPage {
 public:
  Page() : PsheetPage(PRIVACY_PAGE, 388, kLabels) {}
  void init(DialogView& view) override {
    int join_choice = privacy_join();
    for (int i = 0; i < 3; ++i) view.check(PRIVACY_JOIN_ASK + i, join_choice == i);
    view.check(PRIVACY_VERIFY, privacy_verify() != 0);
    view.enable(PRIVACY_VERIFY, join_choice != 2);
    view.check(PRIVACY_HIDE_WORLD, privacy_hide_world() != 0);
  }
  void command(DialogView& view, int id) override {
    if (id < PRIVACY_JOIN_ASK || id > PRIVACY_HIDE_WORLD) return;
    view.enable(PRIVACY_VERIFY, !view.checked(PRIVACY_JOIN_REFUSE));
    psheet_changed(this);
  }
  void apply(DialogView& view) override {
    int join_choice = privacy_join();
    for (int i = 0; i < 3; ++i)
      if (view.checked(PRIVACY_JOIN_ASK + i)) join_choice = i;
    int verify = view.checked(PRIVACY_VERIFY) ? 1 : 0;
    int was = privacy_hide_world();
    int hide = view.checked(PRIVACY_HIDE_WORLD) ? 1 : 0;
    profile_set_int("privacy", "join", join_choice);
    profile_set_int("privacy", "verify", verify);
    profile_set_int("privacy", "hide_world", hide);
    // The universe learns the new choice from the login.
    if (hide != was) universe_relogin();
  }
};

}  // namespace

int privacy_init() {
  if (trace_switches[TRACE_GENERAL]) log_write("privacy_init");
  join_hook.privacy_join = privacy_join;
  join_hook.privacy_verify = privacy_verify;
  universe_receiver.privacy_hide_world = privacy_hide_world;
  return 0;
}

PsheetPage& privacy_page() {
  static Page page;
  return page;
}
