#include "client/servers/immigrate.h"

#include <strings.h>

#include <cstdlib>
#include <string>

#include "client/core/dates.h"
#include "client/core/dialog.h"
#include "client/core/identity.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/tessel.h"
#include "client/servers/login.h"
#include "client/servers/prompt.h"
#include "client/servers/signup.h"
#include "client/servers/universe.h"

#define TRACE(...) LOG_TRACE(TRACE_GENERAL, __VA_ARGS__)

immigrate_hooks immigrate_default_hooks() {
  immigrate_hooks h{};
  h.tessel_background = tessel_background;
  h.tessel_foreground = tessel_foreground;
  h.register_dialog = register_dialog;
  return h;
}

immigrate_hooks immigrate_hook = immigrate_default_hooks();

namespace {

// Universe results with texts of their own.
enum : int {
  RC_NO_SUCH_CITIZEN = 3,
  RC_WRONG_PASSWORD = 13,
  RC_ACCOUNT_EXPIRED = 39,
  RC_LOGIN_REFUSED = 107,
  RC_UNREACHABLE = 404,
};

// Reply 3's tags.
enum : int { TAG_EMAIL = 2, TAG_PRIVILEGE_PASSWORD = 3, TAG_IMMIGRATED = 17, TAG_RENEW = 18 };

struct immigrate_module {
  DialogView* view = nullptr;
  int mode = IMMIGRATE_MODE_NEW;
  std::string name_sent;
  std::string password_sent;
  // A request of this dialog is unanswered: only its answer may store an identity.
  bool outstanding = false;
  void* parent = nullptr;
};
immigrate_module im;

void show_result(DialogView& v, int rc, int generic) {
  std::string name = v.text(IMMIGRATE_NAME, IMMIGRATE_NAME_LIMIT);
  v.set_text(IMMIGRATE_STATUS, immigrate_result_text(rc, generic, name.c_str()));
}

// The dialog the universe's answer to a request of `mode` is for, when it granted it. Null
// when no such request is outstanding, or when it failed (shown, `generic` the fallback).
DialogView* granted_view(int mode, int rc, int generic) {
  if (!im.view || im.mode != mode || !im.outstanding) return nullptr;
  if (rc) {
    show_result(*im.view, rc, generic);
    return nullptr;
  }
  im.outstanding = false;
  return im.view;
}

// The name and password just granted become the ones logged in with next time.
void remember_sent() {
  profile_set_string("citizen", "name", im.name_sent.c_str());
  profile_set_encrypted_string("citizen", "pass", im.password_sent.c_str());
}

class CitizenshipDialog : public DialogController {
 public:
  explicit CitizenshipDialog(int mode) : mode_(mode) {}

  void init(DialogView& v) override {
    im.view = &v;
    im.mode = mode_;
    im.outstanding = false;
    static const dialog_label common[] = {
        {DIALOG_OK, 136},
        {DIALOG_CANCEL, 137},
        {IMMIGRATE_LABEL_NAME, 269},
        {IMMIGRATE_LABEL_PASSWORD, 270},
        {IMMIGRATE_LABEL_CONFIRM, 271},
        {IMMIGRATE_LABEL_EMAIL, 273},
    };
    dialog_apply_labels(v, common);
    v.limit(IMMIGRATE_NAME, IMMIGRATE_NAME_LIMIT);
    v.limit(IMMIGRATE_PASSWORD, IMMIGRATE_PASSWORD_LIMIT);
    v.limit(IMMIGRATE_CONFIRM, IMMIGRATE_PASSWORD_LIMIT);
    v.limit(IMMIGRATE_EMAIL, IMMIGRATE_EMAIL_LIMIT);
    if (login_too_many_failures()) v.set_text(IMMIGRATE_STATUS, msg(219));
    if (mode_ == IMMIGRATE_MODE_NEW) {
      v.set_title(msg(96));
      v.set_text(IMMIGRATE_INSTRUCTIONS, msg(71));
      return;
    }
    v.set_title(msg(268));
    static const dialog_label attributes[] = {
        {IMMIGRATE_LABEL_1415, 272}, {IMMIGRATE_LABEL_1417, 274}, {IMMIGRATE_LABEL_1418, 275},
        {IMMIGRATE_LABEL_1419, 276}, {IMMIGRATE_PRIVILEGE_LABEL, 277},
    };
    dialog_apply_labels(v, attributes);
    v.limit(IMMIGRATE_PRIVILEGE_PASSWORD, IMMIGRATE_PASSWORD_LIMIT);
    v.set_text(IMMIGRATE_NAME, citizen_name());
    v.set_text(IMMIGRATE_PASSWORD, citizen_password());
    v.set_text(IMMIGRATE_CONFIRM, citizen_password());
    v.set_text(IMMIGRATE_STATUS, msg(278));
    // OK waits for the attributes (reply 3).
    v.enable(DIALOG_OK, false);
    int r = universe_get_citizen_attributes(citizen_name(), citizen_password());
    if (r == RC_UNREACHABLE)
      v.set_text(IMMIGRATE_STATUS, msg(2));
    else if (r)
      v.set_text(IMMIGRATE_STATUS, msg_arg(279, r));
  }

  void command(DialogView& v, int id) override {
    if (id == DIALOG_OK) {
      ok(v);
    } else if (id == DIALOG_CANCEL) {
      v.end(1);
    }
  }

 private:
  void ok(DialogView& v) {
    if (login_too_many_failures()) {
      v.set_text(IMMIGRATE_STATUS, msg(219));
      return;
    }
    std::string name = v.text(IMMIGRATE_NAME, IMMIGRATE_NAME_LIMIT);
    std::string password = v.text(IMMIGRATE_PASSWORD, IMMIGRATE_PASSWORD_LIMIT);
    std::string confirm = v.text(IMMIGRATE_CONFIRM, IMMIGRATE_PASSWORD_LIMIT);
    std::string email = v.text(IMMIGRATE_EMAIL, IMMIGRATE_EMAIL_LIMIT);
    if (password != confirm) {
      v.set_text(IMMIGRATE_STATUS, msg(153));
      return;
    }
    if (mode_ == IMMIGRATE_MODE_NEW) {
      v.set_text(IMMIGRATE_STATUS, msg(66));
      im.name_sent = name;
      im.password_sent = password;
      int r = universe_immigrate(name.c_str(), password.c_str(), email.c_str());
      im.outstanding = r == 0;
      if (r) show_result(v, r, 76);
      return;
    }
    std::string privilege = v.text(IMMIGRATE_PRIVILEGE_PASSWORD, IMMIGRATE_PASSWORD_LIMIT);
    if (!privilege.empty() && privilege == password) {
      v.set_text(IMMIGRATE_STATUS, msg(17));
      return;
    }
    v.set_text(IMMIGRATE_STATUS, msg(138));
    im.name_sent = name;
    im.password_sent = password;
    int r = universe_set_citizen_attributes(citizen_name(), citizen_password(), name.c_str(), password.c_str(),
                                            email.c_str(), privilege.c_str());
    im.outstanding = r == 0;
    if (r) show_result(v, r, 139);
  }

  int mode_;
};

// The number a date tag carries, as the system's atol reads it.
int64_t date_value(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

}  // namespace

const char* immigrate_result_text(int rc, int generic, const char* name) {
  if (!name) name = "";
  switch (rc) {
    case RC_ACCOUNT_EXPIRED: return msg_arg(192, msg(163));
    case 100: return msg(90);
    case 101: return msg(94);
    case 102: return msg(91);
    case 103: return msg(92);
    case 104: return msg(93);
    case 105: return msg(59);
    case 106: return msg(60);
    case RC_LOGIN_REFUSED:
      login_count_failure();
      return msg_arg(75, name);
    case 108: return msg(9);
    case 109: return msg(69);
    case 111: return msg(70);
    case 113: return msg(72);
    case 116: return msg(74);
    case 128: return msg(201);
    case RC_UNREACHABLE: return msg(2);
    default: return msg_arg(generic, rc);
  }
}

int immigrate(int mode) {
  TRACE("immigrate (%d)", mode);
  if (mode != IMMIGRATE_MODE_ATTRIBUTES) mode = IMMIGRATE_MODE_NEW;
  if (mode == IMMIGRATE_MODE_NEW && universe_signup_offered() && immigrate_hook.register_dialog)
    return immigrate_hook.register_dialog();
  if (im.view) return 1;  // one citizenship dialog at a time
  CitizenshipDialog dialog(mode);
  if (immigrate_hook.tessel_background) immigrate_hook.tessel_background();
  int r = dialog_run(mode == IMMIGRATE_MODE_NEW ? IMMIGRATE_DIALOG : IMMIGRATE_ATTRIBUTES_DIALOG, dialog);
  if (immigrate_hook.tessel_foreground) immigrate_hook.tessel_foreground();
  im.view = nullptr;
  im.outstanding = false;
  return r == DIALOG_NO_VIEW ? 1 : r;
}

void immigrate_set_parent(void* window) {
  im.parent = window;
  universe_receiver.immigrate_result = immigrate_result;
  universe_receiver.immigrate_change_result = immigrate_change_result;
  universe_receiver.immigrate_show_attributes = immigrate_show_attributes;
  universe_receiver.register_result = register_result;
  prompt_install();
}

void immigrate_result(int rc) {
  TRACE("immigrate_result (%d)", rc);
  DialogView* v = granted_view(IMMIGRATE_MODE_NEW, rc, 76);
  if (!v) return;
  remember_sent();
  login_auto();
  v->end(0);
}

void immigrate_change_result(int rc) {
  TRACE("immigrate_change_result (%d)", rc);
  DialogView* v = granted_view(IMMIGRATE_MODE_ATTRIBUTES, rc, 139);
  if (!v) return;
  if (strcasecmp(citizen_name(), settings_text("citizen", "name")) == 0) remember_sent();
  citizen_set_name(im.name_sent.c_str());
  citizen_set_password(im.password_sent.c_str());
  v->end(0);
}

void immigrate_show_attributes(int rc, const std::vector<universe_tag_text>& fields) {
  TRACE("immigrate_show_attributes (%d)", rc);
  DialogView* v = im.view;
  if (v && im.mode == IMMIGRATE_MODE_ATTRIBUTES) {
    for (const universe_tag_text& f : fields) {
      switch (f.tag) {
        case TAG_EMAIL: v->set_text(IMMIGRATE_EMAIL, f.text.c_str()); break;
        case TAG_PRIVILEGE_PASSWORD: v->set_text(IMMIGRATE_PRIVILEGE_PASSWORD, f.text.c_str()); break;
        case TAG_IMMIGRATED: {
          int64_t t = date_value(f.text);
          v->set_text(IMMIGRATE_IMMIGRATED, t ? date_local(t) : msg(260));
          break;
        }
        case TAG_RENEW: {
          int64_t t = date_value(f.text);
          v->set_text(IMMIGRATE_RENEW, t ? date_local(t) : msg(280));
          break;
        }
        default: break;
      }
    }
  }
  if (!v || im.mode != IMMIGRATE_MODE_ATTRIBUTES) return;
  if (rc == RC_NO_SUCH_CITIZEN) {
    v->set_text(IMMIGRATE_STATUS, msg_arg(3, citizen_name()));
  } else if (rc == RC_WRONG_PASSWORD) {
    v->set_text(IMMIGRATE_STATUS, msg(8));
  } else if (rc) {
    v->set_text(IMMIGRATE_STATUS, msg_arg(279, rc));
  } else {
    v->set_text(IMMIGRATE_STATUS, universe_beta() ? msg(281) : "");
    v->enable(DIALOG_OK, true);
  }
}

bool immigrate_open() { return im.view != nullptr; }

void immigrate_reset() {
  void* parent = im.parent;
  im = immigrate_module{};
  im.parent = parent;
}
