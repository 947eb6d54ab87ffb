#include "client/servers/signup.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "client/core/dialog.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/tessel.h"
#include "client/servers/immigrate.h"
#include "client/servers/login.h"
#include "client/servers/universe.h"
#include "platform/clock.h"

#define TRACE(...) LOG_TRACE(TRACE_GENERAL, __VA_ARGS__)

RegisterButtonView::~RegisterButtonView() = default;

register_hooks register_default_hooks() {
  register_hooks h{};
  h.tessel_background = tessel_background;
  h.tessel_foreground = tessel_foreground;
  h.now = [] { return static_cast<int64_t>(std::time(nullptr)); };
  return h;
}

register_hooks register_hook = register_default_hooks();

namespace {

struct field {
  int id;
  int limit;
};
const field kFields[] = {
    {REGISTER_NAME, 16},      {REGISTER_PASSWORD, 12}, {REGISTER_CONFIRM, 12},  {REGISTER_EMAIL, 50},
    {REGISTER_CARD_NAME, 30}, {REGISTER_BUSINESS, 30}, {REGISTER_STREET, 30},   {REGISTER_CITY, 20},
    {REGISTER_STATE, 10},     {REGISTER_POSTAL, 12},   {REGISTER_CARD_NUMBER, 20}, {REGISTER_PHONE, 15},
};

int limit_of(int id) {
  for (const field& f : kFields)
    if (f.id == id) return f.limit;
  return 0;
}

struct register_module {
  DialogView* view = nullptr;
  std::string name_sent;
  std::string password_sent;
  uint32_t sent = 0;  // tick the request went out, 0: none outstanding
  int64_t last_second = -1;
  bool done = false;
  int failures = 0;
  int first_year = 0;  // the year and month the dialog was opened in
  int this_month = 1;
  RegisterButtonView* button = nullptr;
};
register_module rg;

std::string read(DialogView& v, int id) { return v.text(id, static_cast<size_t>(limit_of(id))); }

// The answers a card processor gives, by the start of its text.
int card_message(const char* text) {
  static const struct {
    const char* start;
    int message;
  } kCard[] = {
      {"INVALID ACCOUNT NUMBER", 232}, {"INVALID CARD #", 232}, {"CARD EXPIRED", 233},
      {"DECLINED", 235},               {"CALL CENTER", 236},
  };
  for (const auto& c : kCard)
    if (std::strncmp(text, c.start, std::strlen(c.start)) == 0) return c.message;
  return 0;
}

void today(int* year, int* month) {
  time_t t = register_hook.now ? static_cast<time_t>(register_hook.now()) : std::time(nullptr);
  struct tm tm {};
  if (!localtime_r(&t, &tm)) gmtime_r(&t, &tm);
  *year = tm.tm_year + 1900;
  *month = tm.tm_mon + 1;
}

class RegisterDialog : public DialogController {
 public:
  void init(DialogView& v) override {
    rg.view = &v;
    rg.sent = 0;
    rg.last_second = -1;
    rg.done = false;
    v.set_title(msg_arg(406, msg(68)));
    static const dialog_label labels[] = {
        {286, 407}, {267, 408}, {268, 409}, {269, 410}, {270, 411}, {271, 412}, {272, 413},
        {273, 414}, {274, 415}, {275, 416}, {276, 417}, {277, 418}, {278, 419}, {279, 420},
        {280, 421}, {281, 422}, {282, 423}, {283, 424}, {284, 425}, {285, 426},
        {REGISTER_CARD_TYPE_1, 427}, {REGISTER_CARD_TYPE_2, 428}, {REGISTER_CARD_TYPE_3, 429},
        {REGISTER_CARD_TYPE_4, 430}, {DIALOG_OK, 136}, {DIALOG_CANCEL, 137},
    };
    dialog_apply_labels(v, labels);
    for (const field& f : kFields) v.limit(f.id, static_cast<size_t>(f.limit));
    v.list_clear(REGISTER_MONTH);
    for (int m = 1; m <= 12; ++m) v.list_add(REGISTER_MONTH, std::to_string(m).c_str());
    v.list_select(REGISTER_MONTH, 0);
    today(&rg.first_year, &rg.this_month);
    v.list_clear(REGISTER_YEAR);
    for (int y = rg.first_year; y < rg.first_year + REGISTER_EXPIRY_YEARS; ++y)
      v.list_add(REGISTER_YEAR, std::to_string(y).c_str());
    v.list_select(REGISTER_YEAR, 0);
    v.check(REGISTER_CARD_TYPE_1, true);
    if (rg.failures < REGISTER_FAILURE_LIMIT) {
      v.set_text(REGISTER_STATUS, msg_arg(67, msg(68)));
    } else {
      v.set_text(REGISTER_STATUS, msg(234));
      v.enable(DIALOG_OK, false);
    }
  }

  void command(DialogView& v, int id) override {
    switch (id) {
      case DIALOG_OK: ok(v); break;
      case DIALOG_CANCEL: v.end(1); break;
      case REGISTER_CARD_TYPE_1:
      case REGISTER_CARD_TYPE_2:
      case REGISTER_CARD_TYPE_3:
      case REGISTER_CARD_TYPE_4:
        // One card type at a time, as radio buttons are.
        for (int c : {REGISTER_CARD_TYPE_1, REGISTER_CARD_TYPE_2, REGISTER_CARD_TYPE_3, REGISTER_CARD_TYPE_4})
          v.check(c, c == id);
        break;
      default: break;
    }
  }

 private:
  void ok(DialogView& v) {
    if (rg.done) {
      v.end(0);
      return;
    }
    if (rg.failures >= REGISTER_FAILURE_LIMIT) {
      v.set_text(REGISTER_STATUS, msg(234));
      return;
    }
    std::string name = read(v, REGISTER_NAME), password = read(v, REGISTER_PASSWORD),
                confirm = read(v, REGISTER_CONFIRM), email = read(v, REGISTER_EMAIL),
                card_name = read(v, REGISTER_CARD_NAME), business = read(v, REGISTER_BUSINESS),
                street = read(v, REGISTER_STREET), city = read(v, REGISTER_CITY), state = read(v, REGISTER_STATE),
                postal = read(v, REGISTER_POSTAL), card = read(v, REGISTER_CARD_NUMBER),
                phone = read(v, REGISTER_PHONE);
    if (password != confirm) {
      v.set_text(REGISTER_STATUS, msg(153));
      return;
    }
    for (const std::string* s : {&name, &email, &card_name, &street, &city, &state, &postal, &card, &phone}) {
      if (s->empty()) {
        v.set_text(REGISTER_STATUS, msg(227));
        return;
      }
    }
    int month_index = v.list_selection(REGISTER_MONTH), year_index = v.list_selection(REGISTER_YEAR);
    int month = (month_index < 0 ? 0 : month_index) + 1;
    int year = (year_index < 0 ? 0 : year_index) + rg.first_year;
    if (year == rg.first_year && month < rg.this_month) {
      v.set_text(REGISTER_STATUS, msg(233));
      return;
    }
    for (size_t i = 0; i < 3; ++i) {
      if (i >= card.size() || !std::isdigit(static_cast<unsigned char>(card[i]))) {
        v.set_text(REGISTER_STATUS, msg(232));
        return;
      }
    }
    v.set_text(REGISTER_STATUS, msg_arg(226, 0, 0));
    v.enable(DIALOG_OK, false);
    v.enable(DIALOG_CANCEL, false);
    char month_text[16], year_text[16];
    std::snprintf(month_text, sizeof month_text, "%d", month);
    std::snprintf(year_text, sizeof year_text, "%d", year);
    rg.name_sent = name;
    rg.password_sent = password;
    universe_registration r{};
    r.name = name.c_str();
    r.password = password.c_str();
    r.email = email.c_str();
    r.card_name = card_name.c_str();
    r.card_number = card.c_str();
    r.business = business.c_str();
    r.street = street.c_str();
    r.city = city.c_str();
    r.state = state.c_str();
    r.postal_code = postal.c_str();
    r.month = month_text;
    r.year = year_text;
    r.phone = phone.c_str();
    int e = universe_send_registration(r);
    if (e) {
      v.set_text(REGISTER_STATUS, msg_arg(225, e));
      // Nothing went out: the user may try again or leave.
      v.enable(DIALOG_OK, true);
      v.enable(DIALOG_CANCEL, true);
      return;
    }
    v.set_text(REGISTER_STATUS, msg_arg(226, 0, 0));
    uint32_t now = platform_ticks();
    rg.sent = now ? now : 1;
    rg.last_second = 0;
  }
};

}  // namespace

const char* register_result_text(int rc, const char* text, const char* name) {
  if (!text) text = "";
  if (!name) name = "";
  switch (rc) {
    case 46:
    case 47: return msg(237);
    case 48: return msg(231);
    case 55: {
      int m = card_message(text);
      return m ? msg(m) : msg_arg(230, text);
    }
    // The account refusals that immigration shares.
    default: return immigrate_result_text(rc, 225, name);
  }
}

int register_dialog() {
  TRACE("register_dialog");
  if (rg.view) return 1;
  RegisterDialog dialog;
  if (register_hook.tessel_background) register_hook.tessel_background();
  int r = dialog_run(REGISTER_DIALOG, dialog);
  if (register_hook.tessel_foreground) register_hook.tessel_foreground();
  rg.view = nullptr;
  rg.sent = 0;
  return r == DIALOG_NO_VIEW ? 1 : r;
}

void register_result(int rc, const char* text) {
  TRACE("register_result (%d)", rc);
  if (!rg.view) return;
  DialogView& v = *rg.view;
  v.enable(DIALOG_OK, true);
  rg.sent = 0;
  if (rc == 0) {
    profile_set_string("citizen", "name", rg.name_sent.c_str());
    profile_set_encrypted_string("citizen", "pass", rg.password_sent.c_str());
    rc = login_auto();
    if (rc == 0) {
      rg.done = true;
      v.set_text(REGISTER_STATUS, msg_arg(228, msg(163), text ? text : ""));
      v.enable(DIALOG_CANCEL, true);
      return;
    }
  }
  ++rg.failures;
  v.enable(DIALOG_CANCEL, true);
  v.set_text(REGISTER_STATUS, register_result_text(rc, text, rg.name_sent.c_str()));
}

void register_countdown() {
  if (!rg.view || !rg.sent) return;
  int64_t seconds = tick_diff(rg.sent, platform_ticks()) / 1000;
  if (seconds < 0) seconds = 0;
  if (seconds == rg.last_second) return;
  rg.last_second = seconds;
  DialogView& v = *rg.view;
  if (seconds <= REGISTER_WAIT_SECONDS) {
    v.set_text(REGISTER_STATUS, msg_arg(226, static_cast<int>(seconds / 60), static_cast<int>(seconds % 60)));
    return;
  }
  v.set_text(REGISTER_STATUS, msg(187));
  v.enable(DIALOG_CANCEL, true);
  rg.sent = 0;
}

int register_button_width() { return rg.button ? REGISTER_BUTTON_WIDTH : 0; }

void register_button_create() {
  if (rg.button || !register_hook.button_create) return;
  rg.button = register_hook.button_create();
  if (!rg.button) return;
  rg.button->set_caption(msg(universe_signup_offered() ? 21 : 12));
  int toolbar = register_hook.toolbar_height ? register_hook.toolbar_height() : 0;
  rg.button->place(8, toolbar + 1, REGISTER_BUTTON_WIDTH, REGISTER_BUTTON_HEIGHT);
}

void register_button_destroy() {
  if (!rg.button) return;
  RegisterButtonView* b = rg.button;
  rg.button = nullptr;
  if (register_hook.button_destroy) register_hook.button_destroy(b);
}

bool register_open() { return rg.view != nullptr; }
int register_failures() { return rg.failures; }

void register_reset() {
  register_button_destroy();
  rg = register_module{};
}
