#include "client/servers/login.h"

#include <cstring>
#include <string>

#include "client/servers/about.h"
#include "client/core/dialog.h"
#include "client/core/identity.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/strutil.h"
#include "client/core/tessel.h"
#include "client/net/netcodes.h"
#include "client/servers/tourist.h"
#include "client/servers/universe.h"

login_hooks login_default_hooks() {
  login_hooks h{};
  h.citizen_set_name = [](const char* name) { citizen_set_name(name); };
  h.citizen_set_password = citizen_set_password;
  h.citizen_store_number = citizen_store_number;
  h.about_hide = about_hide;
  h.tessel_background = tessel_background;
  h.tessel_foreground = tessel_foreground;
  return h;
}

login_hooks login_hook = login_default_hooks();

namespace {

#define TRACE(...) LOG_TRACE(TRACE_GENERAL, __VA_ARGS__)

// Universe results the dialog knows by name.
enum : int {
  RC_NAME_IN_USE = 1,  // message 238
  RC_NO_SUCH_CITIZEN = 3,
  RC_WRONG_PASSWORD = 13,
  RC_ACCOUNT_EXPIRED = 39,
  RC_NO_ADDRESS = 41,
  RC_UNREACHABLE = 404,
};

struct login_module {
  DialogView* view = nullptr;  // the citizen dialog while it is open
  int last_result = 0;
  int done = 0;
  bool automatic = false;
  int failures = 0;
  std::string name;      // current name (16) and password (12): the last login sent
  std::string password;
};
login_module lm;

void show_error(DialogView& v, int rc, const char* name) {
  v.set_text(LOGIN_STATUS, login_error_text(rc, name));
}

class CitizenDialog : public DialogController {
 public:
  void init(DialogView& v) override {
    lm.view = &v;
    v.set_title(msg_arg(362, msg(68)));
    static const dialog_label labels[] = {
        {LOGIN_NAME_LABEL, 363}, {LOGIN_PASSWORD_LABEL, 364}, {LOGIN_FORGOTTEN, 365}, {LOGIN_REMEMBER, 366},
        {LOGIN_TOURIST, 367},    {DIALOG_OK, 136},            {DIALOG_CANCEL, 137},
    };
    dialog_apply_labels(v, labels);
    v.limit(LOGIN_NAME, LOGIN_NAME_LIMIT);
    v.limit(LOGIN_PASSWORD, LOGIN_PASSWORD_LIMIT);
    std::string name = settings_text("citizen", "name");
    v.set_text(LOGIN_NAME, name.c_str());
    v.set_text(LOGIN_PASSWORD, settings_secret("citizen", "pass"));
    if (lm.last_result != 0) {
      std::string typed = v.text(LOGIN_NAME, LOGIN_NAME_LIMIT);
      show_error(v, lm.last_result, typed.c_str());
      v.check(LOGIN_REMEMBER, true);
    } else {
      v.check(LOGIN_REMEMBER, name.empty());
    }
    if (login_too_many_failures()) v.set_text(LOGIN_STATUS, msg(218));
  }

  void command(DialogView& v, int id) override {
    switch (id) {
      case DIALOG_OK: ok(v); break;
      case LOGIN_FORGOTTEN: forgotten(v); break;
      case LOGIN_TOURIST:
        if (tourist_dialog(0) == 0) {
          lm.last_result = 0;
          v.end(0);
        }
        break;
      case DIALOG_CANCEL:
        lm.last_result = NET_CANCELLED;
        v.end(NET_CANCELLED);
        break;
      default: break;
    }
  }

  void close(DialogView& v) override { v.end(0); }

 private:
  void ok(DialogView& v) {
    if (login_too_many_failures()) {
      v.set_text(LOGIN_STATUS, msg(218));
      return;
    }
    std::string name = v.text(LOGIN_NAME, LOGIN_NAME_LIMIT);
    if (name.empty()) {
      v.set_text(LOGIN_STATUS, msg(142));
      return;
    }
    std::string password = v.text(LOGIN_PASSWORD, LOGIN_PASSWORD_LIMIT);
    lm.name = name;
    lm.password = password;
    v.set_text(LOGIN_STATUS, msg(154));
    int r = universe_login(name.c_str(), password.c_str());
    if (r) show_error(v, r, name.c_str());
  }

  void forgotten(DialogView& v) {
    std::string name = v.text(LOGIN_NAME, LOGIN_NAME_LIMIT);
    if (name.empty()) {
      v.set_text(LOGIN_STATUS, msg(142));
      return;
    }
    if (!login_hook.prompt_text) return;
    std::string title = msg(181);
    std::string label = msg_arg(182, name.c_str());
    const char* typed = login_hook.prompt_text(title.c_str(), label.c_str(), "");
    if (!typed) return;
    std::string text = typed;
    v.set_text(LOGIN_STATUS, msg(156));
    int r = universe_send_password(name.c_str(), text.c_str());
    if (r == 0) return;
    if (r == RC_UNREACHABLE)
      v.set_text(LOGIN_STATUS, msg(2));
    else
      v.set_text(LOGIN_STATUS, msg_arg(158, r));
  }
};

}  // namespace

int login_init() {
  TRACE("login_init");
  std::string old = settings_text("citizen", "password");
  if (!old.empty()) {
    profile_set_encrypted_string("citizen", "pass", old.c_str());
    profile_set_string("citizen", "password", "");
  }
  return 0;
}

int login_auto() {
  TRACE("login_auto");
  lm.done = 0;
  lm.name = string_cut(settings_text("citizen", "name"), LOGIN_NAME_LIMIT);
  lm.password = string_cut(settings_secret("citizen", "pass"), LOGIN_PASSWORD_LIMIT);
  lm.automatic = true;
  return universe_login(lm.name.c_str(), lm.password.c_str());
}

int login(int clear) {
  TRACE("login");
  if (clear) lm.last_result = 0;
  if (lm.view) return NET_NOT_YET;  // already open: one citizen dialog at a time
  CitizenDialog dialog;
  if (login_hook.tessel_background) login_hook.tessel_background();
  int r = dialog_run(LOGIN_DIALOG, dialog);
  if (login_hook.tessel_foreground) login_hook.tessel_foreground();
  lm.view = nullptr;
  if (r == DIALOG_NO_VIEW) {
    // Nobody can answer the dialog: it counts as cancelled.
    TRACE("login: no dialog view");
    lm.last_result = NET_CANCELLED;
    return NET_CANCELLED;
  }
  return r;
}

int login_open(int clear) { return login(clear); }

void login_result(int rc, int32_t number, const char* text) {
  TRACE("login_result (%d)", rc);
  if (!text) text = "";
  bool automatic = lm.automatic;
  lm.automatic = false;
  if (login_hook.upgrade_check) login_hook.upgrade_check();
  if (login_hook.upgrade_offered && login_hook.upgrade_offered() && login_hook.upgrade_offer &&
      login_hook.upgrade_offer(0) == NET_UPGRADE_QUIT)
    rc = NET_UPGRADE_QUIT;
  if (tourist_login_result(rc)) return;

  bool privilege_asked = login_hook.privilege_requested_number && login_hook.privilege_requested_number() != 0;
  if (number != 0 && privilege_asked && (rc == 0 || rc == '*' || rc == '+')) {
    if (login_hook.privilege_result) login_hook.privilege_result(rc, text);
    rc = 0;  // the login itself succeeded; only the privilege may have been refused
  } else if (login_hook.privilege_reset) {
    login_hook.privilege_reset();
  }

  lm.last_result = rc;
  // The identity this reply answers, which may be a login the connection sent by itself.
  lm.name = string_cut(universe_answered_name(), 255);
  lm.password = string_cut(universe_answered_password(), 255);

  if (rc == 0) {
    if (lm.view && lm.view->checked(LOGIN_REMEMBER)) {
      profile_set_string("citizen", "name", lm.name.c_str());
      profile_set_encrypted_string("citizen", "pass", lm.password.c_str());
    }
    if (!lm.name.empty()) {
      if (login_hook.citizen_set_name) login_hook.citizen_set_name(lm.name.c_str());
      if (login_hook.citizen_set_password) login_hook.citizen_set_password(lm.password.c_str());
      if (login_hook.citizen_store_number) login_hook.citizen_store_number(number);
      if (login_hook.menu_identity_changed) login_hook.menu_identity_changed();
    } else if (automatic) {
      if (login_hook.about_hide) login_hook.about_hide();
      lm.last_result = tourist_dialog(1);
    }
    if (lm.view) lm.view->post_close();
  } else if (lm.view) {
    std::string typed = lm.view->text(LOGIN_NAME, LOGIN_NAME_LIMIT);
    show_error(*lm.view, rc, typed.c_str());
  }
  lm.done = 1;
}

void login_password_sent(int rc) {
  TRACE("login_password_sent (%d)", rc);
  if (!lm.view) return;
  DialogView& v = *lm.view;
  if (rc == 0) {
    v.set_text(LOGIN_STATUS, msg(157));
  } else if (rc == RC_NO_SUCH_CITIZEN) {
    std::string name = v.text(LOGIN_NAME, LOGIN_NAME_LIMIT);
    v.set_text(LOGIN_STATUS, msg_arg(3, name.c_str()));
  } else if (rc == RC_NO_ADDRESS) {
    v.set_text(LOGIN_STATUS, msg(199));
  } else {
    v.set_text(LOGIN_STATUS, msg_arg(158, rc));
  }
}

void login_connection_lost() {
  TRACE("login_connection_lost");
  lm.automatic = false;
  lm.last_result = NET_LOGIN_LOST;
  lm.done = 1;
}

int login_last_result() { return lm.last_result; }
int login_done() { return lm.done; }
bool login_too_many_failures() { return lm.failures > LOGIN_FAILURE_LIMIT; }
void login_count_failure() { ++lm.failures; }
const char* login_current_name() { return lm.name.c_str(); }
const char* login_current_password() { return lm.password.c_str(); }

const char* login_error_text(int rc, const char* name) {
  if (!name) name = "";
  switch (rc) {
    case 0: return "";
    case RC_NAME_IN_USE: return msg_arg(238, name);
    case RC_NO_SUCH_CITIZEN: return msg_arg(3, name);
    case RC_WRONG_PASSWORD:
      login_count_failure();
      return msg(8);
    case RC_ACCOUNT_EXPIRED: return msg_arg(192, msg(163));
    case RC_UNREACHABLE: return msg(2);
    default: return msg_arg(155, rc);
  }
}

void login_reset() {
  lm = login_module{};
  tourist_reset();
}
