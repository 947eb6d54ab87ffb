#include "client/shell/privacy.h"

#include "client/core/log.h"
#include "client/core/profile.h"
#include "client/servers/join.h"
#include "client/servers/universe.h"
#include "client/shell/psheet.h"

namespace {

int join_choice = 0, verify = 0, hide = 0;

int flag(const char* key) { return profile_int("privacy", key) == 1 ? 1 : 0; }

const dialog_label kLabels[] = {{206, 389}, {201, 390}, {202, 391}, {203, 392},
                                {204, 393}, {207, 394}, {205, 395}};

class Page : public PsheetPage {
 public:
  int resource() const override { return PRIVACY_PAGE; }
  int title() const override { return 388; }
  void labels(DialogView& view) override { dialog_apply_labels(view, kLabels); }
  void init(DialogView& view) override {
    labels(view);
    for (int i = 0; i < 3; ++i) view.check(PRIVACY_JOIN_ASK + i, join_choice == i);
    view.check(PRIVACY_VERIFY, verify != 0);
    view.enable(PRIVACY_VERIFY, join_choice != 2);
    view.check(PRIVACY_HIDE_WORLD, hide != 0);
  }
  void command(DialogView& view, int id) override {
    if (id < PRIVACY_JOIN_ASK || id > PRIVACY_HIDE_WORLD) return;
    view.enable(PRIVACY_VERIFY, !view.checked(PRIVACY_JOIN_REFUSE));
    psheet_changed(this);
  }
  void apply(DialogView& view) override {
    for (int i = 0; i < 3; ++i)
      if (view.checked(PRIVACY_JOIN_ASK + i)) join_choice = i;
    verify = view.checked(PRIVACY_VERIFY) ? 1 : 0;
    int was = hide;
    hide = view.checked(PRIVACY_HIDE_WORLD) ? 1 : 0;
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
  int j = profile_int("privacy", "join");
  join_choice = j >= 0 && j <= 2 ? j : 0;
  verify = flag("verify");
  hide = flag("hide_world");
  join_hook.privacy_join = privacy_join;
  join_hook.privacy_verify = privacy_verify;
  universe_receiver.privacy_hide_world = privacy_hide_world;
  return 0;
}

int privacy_join() { return join_choice; }
int privacy_verify() { return verify; }
int privacy_hide_world() { return hide; }

PsheetPage& privacy_page() {
  static Page page;
  return page;
}
