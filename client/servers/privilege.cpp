#include "client/servers/privilege.h"

#include <cstdio>
#include <string>

#include "client/core/identity.h"
#include "client/core/dialog.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/strutil.h"
#include "client/servers/login.h"
#include "client/servers/universe.h"

#define TRACE(...) LOG_TRACE(TRACE_GENERAL, __VA_ARGS__)

privilege_hooks privilege_default_hooks() { return privilege_hooks{}; }

privilege_hooks privilege_hook = privilege_default_hooks();

namespace {

constexpr int CONSOLE_KIND = 2;
constexpr int RC_NO_SUCH_CITIZEN = 3;
constexpr int RC_PRIVILEGE_REFUSED = '*';
constexpr int RC_PRIVILEGE_OTHER = '+';

struct privilege_module {
  int requested = 0;
  bool active = false;
  int active_number = 0;
  std::string holder;  // announced holder's name (16)
  std::string lookup;  // name being looked up (16), "" when none
  std::string password;  // deciphered [privilege] password, kept for the login
  DialogView* view = nullptr;
};
privilege_module pv;

void console(const char* text) { msg_print_titled(privilege_hook.console_print, CONSOLE_KIND, 125, text); }

// A refusal goes to the open dialog, else to the console.
void refuse(const char* text) {
  if (pv.view)
    pv.view->set_text(PRIVILEGE_STATUS, text);
  else
    console(text);
}

void enable_fields(DialogView& v, bool on) {
  v.enable(PRIVILEGE_NAME, on);
  v.enable(PRIVILEGE_PASSWORD, on);
}

class PrivilegeDialog : public DialogController {
 public:
  void init(DialogView& v) override {
    pv.view = &v;
    v.set_title(msg(396));
    static const dialog_label labels[] = {
        {PRIVILEGE_ENABLE, 397}, {PRIVILEGE_NAME_LABEL, 398}, {PRIVILEGE_PASSWORD_LABEL, 399},
        {DIALOG_OK, 136},        {DIALOG_CANCEL, 137},
    };
    dialog_apply_labels(v, labels);
    v.limit(PRIVILEGE_NAME, PRIVILEGE_NAME_LIMIT);
    v.limit(PRIVILEGE_PASSWORD, PRIVILEGE_PASSWORD_LIMIT);
    v.set_text(PRIVILEGE_NAME, string_cut(settings_text("privilege", "name"), PRIVILEGE_NAME_LIMIT).c_str());
    v.set_text(PRIVILEGE_PASSWORD,
               string_cut(settings_secret("privilege", "password"), PRIVILEGE_PASSWORD_LIMIT).c_str());
    v.check(PRIVILEGE_ENABLE, pv.active);
    enable_fields(v, pv.active);
    if (pv.active) universe_get_citizen_name(pv.active_number);
  }

  void command(DialogView& v, int id) override {
    switch (id) {
      case PRIVILEGE_ENABLE: enable_fields(v, v.checked(PRIVILEGE_ENABLE)); break;
      case DIALOG_OK: ok(v); break;
      case DIALOG_CANCEL: v.end(DIALOG_CANCEL); break;
      default: break;
    }
  }

 private:
  void ok(DialogView& v) {
    if (v.checked(PRIVILEGE_ENABLE)) {
      std::string name = v.text(PRIVILEGE_NAME, PRIVILEGE_NAME_LIMIT);
      std::string password = v.text(PRIVILEGE_PASSWORD, PRIVILEGE_PASSWORD_LIMIT);
      pv.lookup = name;
      profile_set_string("privilege", "name", name.c_str());
      profile_set_encrypted_string("privilege", "password", password.c_str());
      universe_get_citizen_number(name.c_str());
      v.set_text(PRIVILEGE_STATUS, msg_arg(10, name.c_str()));
      return;
    }
    if (pv.active) {
      pv.requested = 0;
      universe_relogin();
      profile_set_int("privilege", "privilege", 0);
      pv.holder.clear();
      pv.lookup.clear();
    }
    v.end(DIALOG_OK);
  }
};

}  // namespace

int privilege_init() {
  TRACE("privilege_init");
  pv.active = settings_int("privilege", "privilege") > 0;
  pv.requested = 0;
  if (pv.active) {
    int id = settings_int("privilege", "id");
    if (id > 0) {
      pv.requested = id;
      pv.active_number = id;
    } else {
      pv.active = false;
    }
  }
  identity_hook.privilege_number = privilege_number;
  login_hook.privilege_requested_number = privilege_requested_number;
  login_hook.privilege_result = privilege_result;
  login_hook.privilege_reset = privilege_reset;
  universe_receiver.privilege_requested_number = privilege_requested_number;
  universe_receiver.privilege_password = privilege_password;
  universe_receiver.privilege_receive_name = privilege_receive_name;
  universe_receiver.privilege_receive_number = privilege_receive_number;
  return 0;
}

void privilege_reset() {
  if (pv.requested == 0) pv.active = false;
}

void privilege_result(int rc, const char* text) {
  TRACE("privilege_result (%d)", rc);
  std::string t = text ? text : "";
  pv.active = false;
  if (rc == 0) {
    pv.active = true;
    pv.active_number = pv.requested;
    std::string holder = string_cut(t.c_str(), PRIVILEGE_NAME_LIMIT);
    if (holder != pv.holder) {
      console(msg_arg(188, t.c_str()));
      pv.holder = holder;
    }
    if (pv.view) pv.view->end(DIALOG_CANCEL);
  } else if (rc == RC_PRIVILEGE_REFUSED) {
    refuse(t.empty() ? msg_arg(190, pv.requested) : msg_arg(202, t.c_str()));
  } else if (rc == RC_PRIVILEGE_OTHER) {
    refuse(msg_arg(189, t.c_str()));
  } else {
    refuse(msg_arg(191, pv.requested, rc));
  }
  if (pv.active) {
    profile_set_int("privilege", "privilege", 1);
    profile_set_int("privilege", "id", pv.active_number);
  } else {
    pv.holder.clear();
    profile_set_int("privilege", "privilege", 0);
  }
}

int privilege_number() { return pv.active ? pv.active_number : 0; }
int privilege_requested_number() { return pv.requested; }
bool privilege_active() { return pv.active; }
const char* privilege_holder_name() { return pv.holder.c_str(); }

const char* privilege_password() {
  if (pv.requested == 0) return "";
  pv.password = string_cut(settings_secret("privilege", "password"), PRIVILEGE_PASSWORD_LIMIT);
  return pv.password.c_str();
}

void privilege_receive_number(int rc, const char* name, int32_t number) {
  // Other modules ask numbers too: only the name this module looks up is its answer.
  if (!name || pv.lookup.empty() || pv.lookup != name) return;
  TRACE("privilege_receive_number (%d, %s, %d)", rc, name, number);
  std::string asked = pv.lookup;
  pv.lookup.clear();
  if (rc) {
    pv.requested = 0;
    if (rc == RC_NO_SUCH_CITIZEN) refuse(msg_arg(202, asked.c_str()));
  } else {
    pv.requested = number;
  }
  universe_relogin();
}

void privilege_receive_name(int rc, int32_t number, const char* name) {
  if (!pv.view || !pv.active || number != pv.active_number) return;
  DialogView& v = *pv.view;
  if (rc == RC_NO_SUCH_CITIZEN) {
    std::string typed = v.text(PRIVILEGE_NAME, PRIVILEGE_NAME_LIMIT);
    v.set_text(PRIVILEGE_STATUS, msg_arg(3, typed.c_str()));
  } else if (rc) {
    v.set_text(PRIVILEGE_STATUS, msg_arg(4, rc));
  } else {
    v.set_text(PRIVILEGE_NAME, string_cut(name, PRIVILEGE_NAME_LIMIT).c_str());
    v.set_text(PRIVILEGE_STATUS, "");
  }
}

int privilege_dialog() {
  TRACE("privilege_dialog");
  if (pv.view) return DIALOG_CANCEL;
  PrivilegeDialog dialog;
  int r = dialog_run(PRIVILEGE_DIALOG, dialog);
  pv.view = nullptr;
  return r == DIALOG_NO_VIEW ? DIALOG_CANCEL : r;
}

void privilege_reset_state() { pv = privilege_module{}; }
