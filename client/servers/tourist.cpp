#include "client/servers/tourist.h"

#include <pwd.h>
#include <unistd.h>

#include <cstring>

#include "client/core/dialog.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/net/netcodes.h"
#include "client/servers/login.h"
#include "client/servers/universe.h"

namespace {

#define TRACE(...) LOG_TRACE(TRACE_GENERAL, __VA_ARGS__)

// Results of a tourist login the dialog knows by name.
enum : int { RC_NAME_TOO_LONG = 108, RC_NAME_ENDS = 109, RC_NAME_CHARACTERS = 111, RC_NAME_TOO_SHORT = 113 };

// Result of the dialog besides 0 (a tourist login succeeded).
enum : int { TOURIST_CANCELLED = 1, TOURIST_AS_CITIZEN = 2 };

struct tourist_module {
  DialogView* view = nullptr;
  bool automatic = false;
  bool succeeded = false;
  std::string name;  // as typed, without quotes
};
tourist_module ts;
void* parent = nullptr;  // the owner outlives the dialog's state

class TouristDialog : public DialogController {
 public:
  void init(DialogView& v) override {
    ts.view = &v;
    v.set_title(msg_arg(446, msg(68)));
    static const dialog_label labels[] = {
        {1303, 447}, {1304, 448}, {1305, 449}, {DIALOG_OK, 136}, {TOURIST_CITIZEN, 450}, {DIALOG_CANCEL, 137},
    };
    dialog_apply_labels(v, labels);
    v.limit(TOURIST_NAME, TOURIST_EDIT_MAX);
    std::string name = settings_text("citizen", "tourist");
    if (name.empty()) name = tourist_default_name();
    v.set_text(TOURIST_NAME, name.c_str());
    if (ts.automatic) {
      v.set_text(TOURIST_STATUS, msg_arg(78, msg(163)));
      v.show(TOURIST_CITIZEN, true);
    } else {
      v.show(TOURIST_CITIZEN, false);
    }
  }

  void command(DialogView& v, int id) override {
    switch (id) {
      case DIALOG_OK: ok(v); break;
      case DIALOG_CANCEL: v.end(ts.succeeded ? 0 : TOURIST_CANCELLED); break;
      case TOURIST_CITIZEN: v.end(TOURIST_AS_CITIZEN); break;
      default: break;
    }
  }

 private:
  void ok(DialogView& v) {
    std::string name = v.text(TOURIST_NAME, TOURIST_NAME_MAX);
    if (name.size() < 2) {
      v.set_text(TOURIST_STATUS, msg(72));
      return;
    }
    ts.name = name;
    v.set_text(TOURIST_STATUS, msg(154));
    std::string quoted = "\"" + name + "\"";
    int r = universe_login(quoted.c_str(), "");
    // A login that could not be sent must not leave "logging in" standing.
    if (r) v.set_text(TOURIST_STATUS, msg_arg(155, r));
  }
};

}  // namespace

std::string tourist_default_name() {
  // Stands in for the desktop's registered user name: the account's login name.
  const passwd* pw = getpwuid(getuid());
  std::string name = (pw && pw->pw_name) ? pw->pw_name : "";
  if (name.size() > 16) name.resize(16);
  return name;
}

int tourist_dialog(int automatic) {
  TRACE("tourist_dialog");
  if (ts.view) return 409;  // one tourist dialog at a time
  ts.automatic = automatic != 0;
  ts.succeeded = false;
  TouristDialog dialog;
  int r = dialog_run(TOURIST_DIALOG, dialog);
  ts.view = nullptr;
  ts.automatic = false;
  switch (r) {
    case 0:
      if (login_hook.menu_identity_changed) login_hook.menu_identity_changed();
      return 0;
    case TOURIST_CANCELLED: return NET_CANCELLED;
    case TOURIST_AS_CITIZEN: return login(1);
    default: return 409;
  }
}

int tourist_login_result(int rc) {
  if (!ts.view) return 0;
  DialogView& v = *ts.view;
  switch (rc) {
    case 0: {
      ts.succeeded = true;
      std::string quoted = "\"" + ts.name + "\"";
      if (login_hook.citizen_set_name) login_hook.citizen_set_name(quoted.c_str());
      if (login_hook.citizen_store_number) login_hook.citizen_store_number(0);
      profile_set_string("citizen", "tourist", ts.name.c_str());
      v.end(0);  // as Cancel after a success
      break;
    }
    case RC_NAME_TOO_LONG: v.set_text(TOURIST_STATUS, msg(9)); break;
    case RC_NAME_ENDS: v.set_text(TOURIST_STATUS, msg(69)); break;
    case RC_NAME_CHARACTERS: v.set_text(TOURIST_STATUS, msg(70)); break;
    case RC_NAME_TOO_SHORT: v.set_text(TOURIST_STATUS, msg(72)); break;
    default: v.set_text(TOURIST_STATUS, msg_arg(155, rc)); break;
  }
  return 1;
}

bool tourist_dialog_open() { return ts.view != nullptr; }

void tourist_set_parent(void* window) {
  TRACE("tourist_set_parent");
  parent = window;
}
void* tourist_parent() { return parent; }

void tourist_reset() { ts = tourist_module{}; }
