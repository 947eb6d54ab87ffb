#include "client/shell/telegram.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "client/cache/database.h"
#include "client/core/dates.h"
#include "client/core/dialog.h"
#include "client/core/identity.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/page_window.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/servers/universe.h"
#include "client/shell/list_view.h"
#include "client/shell/tab.h"
#include "platform/progdir.h"

#define TRACE(...) LOG_TRACE(TRACE_GENERAL, __VA_ARGS__)

telegram_hooks telegram_hook{};

namespace {

constexpr int KIND_NOTICE = 4;
constexpr int KIND_TELEGRAM = 5;
constexpr int DEFAULT_WIDTH = 90;
constexpr int RC_NO_SUCH_CITIZEN = 3;
constexpr int RC_NOT_FOUND = 404;
// A clock far behind the server's ages cannot make the search for a free second endless.
constexpr int MAX_SECOND_STEPS = 100000;

struct row {
  uint8_t key[TELEGRAM_KEY_LENGTH];
  bool read;
};

struct telegram_module : PageWindow<ShellListView> {
  database* db = nullptr;
  int32_t filled_for = 0;  // 0: never filled
  bool waiting = false;
  int sort = TELEGRAM_SORT_DATE;
  std::vector<row> rows;  // in view order
  DialogView* dialog = nullptr;
  bool dialog_waits = false;
};
telegram_module tg;

uint32_t get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
void put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

std::string sender_of(const uint8_t* key) {
  const char* s = reinterpret_cast<const char*>(key + 8);
  return std::string(s, strnlen(s, TELEGRAM_SENDER_LENGTH));
}

void console(int kind, const char* line) {
  if (telegram_hook.console_print) telegram_hook.console_print(kind, line);
}

// Strictly before: distinct keys never compare equal, so the order is a strict weak one.
bool before(const row& a, const row& b) {
  const bool down = tg.sort == TELEGRAM_SORT_SENDER_DOWN || tg.sort == TELEGRAM_SORT_DATE_DOWN;
  if (tg.sort == TELEGRAM_SORT_SENDER || tg.sort == TELEGRAM_SORT_SENDER_DOWN) {
    int c = strncasecmp(reinterpret_cast<const char*>(a.key + 8), reinterpret_cast<const char*>(b.key + 8),
                        TELEGRAM_SENDER_LENGTH);
    if (c != 0) return down ? c > 0 : c < 0;
  }
  uint32_t ta = get32(a.key), tb = get32(b.key);
  if (ta != tb) return down ? ta > tb : ta < tb;
  int c = std::memcmp(a.key, b.key, TELEGRAM_KEY_LENGTH);
  return down ? c > 0 : c < 0;
}

void view_insert(int index, const row& r) {
  if (!tg.view) return;
  std::string sender = sender_of(r.key);
  tg.view->insert(index, sender.c_str(), date_short(get32(r.key)), r.read ? SHELL_NO_IMAGE : 0);
}

void show_rows() {
  if (!tg.view) return;
  tg.view->set_redraw(false);
  tg.view->clear();
  for (size_t i = 0; i < tg.rows.size(); ++i) view_insert(static_cast<int>(i), tg.rows[i]);
  tg.view->set_redraw(true);
}

void sort_rows() {
  std::sort(tg.rows.begin(), tg.rows.end(), before);
  show_rows();
}

void refill(int32_t own) {
  tg.rows.clear();
  if (tg.db) {
    uint8_t key[TELEGRAM_KEY_LENGTH];
    uint8_t* record = nullptr;
    int32_t length = 0;
    while (database_fetch_next(tg.db, key, &record, &length)) {
      if (static_cast<int32_t>(get32(key + 4)) == own) {
        row r;
        std::memcpy(r.key, key, sizeof key);
        r.read = length >= 1 && record[0] == 1;
        tg.rows.push_back(r);
      }
      std::free(record);
      record = nullptr;
    }
    // The walk passed over records it could not read (each one is in the log): told once.
    if (tg.db->unreadable > 0) {
      char line[512];
      std::snprintf(line, sizeof line, "%s: %s.dat: %d cannot be read and are not listed (see the log)", msg(161),
                    tg.db->name.c_str(), static_cast<int>(tg.db->unreadable));
      console(KIND_NOTICE, line);
    }
  }
  tg.filled_for = own;
  sort_rows();
}

int selected_one() {
  if (!tg.view) return -1;
  std::vector<int> s = tg.view->selection();
  if (s.size() != 1 || s[0] < 0 || s[0] >= static_cast<int>(tg.rows.size())) return -1;
  return s[0];
}

std::string cut(const char* text, size_t max) {
  std::string s = text ? text : "";
  if (s.size() > max) s.resize(max);
  return s;
}

void show_code(DialogView& v, int code, const std::string& name) {
  if (code == RC_NO_SUCH_CITIZEN)
    v.set_text(TELEGRAM_STATUS, msg_arg(3, name.c_str()));
  else if (code == RC_NOT_FOUND)
    v.set_text(TELEGRAM_STATUS, msg(2));
  else
    v.set_text(TELEGRAM_STATUS, msg_arg(58, code));
}

class SendDialog : public DialogController {
 public:
  explicit SendDialog(std::string name) : name_(std::move(name)) {}
  void init(DialogView& v) override {
    tg.dialog = &v;
    tg.dialog_waits = false;
    v.set_title(msg(431));
    static const dialog_label labels[] = {
        {TELEGRAM_RECIPIENT_LABEL, 432}, {TELEGRAM_TEXT_LABEL, 433}, {DIALOG_OK, 136}, {DIALOG_CANCEL, 137}};
    dialog_apply_labels(v, labels);
    v.limit(TELEGRAM_RECIPIENT, TELEGRAM_SENDER_LENGTH);
    v.limit(TELEGRAM_TEXT, TELEGRAM_TEXT_LIMIT);
    v.set_text(TELEGRAM_RECIPIENT, cut(name_.c_str(), TELEGRAM_SENDER_LENGTH).c_str());
  }
  void command(DialogView& v, int id) override {
    if (id == DIALOG_CANCEL) {
      v.end(DIALOG_CANCEL);
      return;
    }
    if (id != DIALOG_OK) return;
    std::string name = v.text(TELEGRAM_RECIPIENT, TELEGRAM_SENDER_LENGTH);
    int r = universe_get_citizen_number(name.c_str());
    if (r == 0) {
      v.set_text(TELEGRAM_STATUS, msg(177));
      tg.dialog_waits = true;
    } else {
      show_code(v, r, name);
    }
  }

 private:
  std::string name_;
};

}  // namespace

void telegram_make_key(uint8_t key[TELEGRAM_KEY_LENGTH], uint32_t time, int32_t recipient, const char* sender) {
  std::memset(key, 0, TELEGRAM_KEY_LENGTH);
  put32(key, time);
  put32(key + 4, static_cast<uint32_t>(recipient));
  if (sender) std::memcpy(key + 8, sender, strnlen(sender, TELEGRAM_SENDER_LENGTH));
}

int telegram_init() {
  TRACE("telegram_init");
  if (!tg.db) {
    std::string name = platform_program_dir() + "/telegram";
    tg.db = database_open(name.c_str(), TELEGRAM_KEY_LENGTH, 0, 4096, 1024, 0, 1, 1);
  }
  tg.sort = layout_setting("telegram_sort");
  if (tg.sort < 0 || tg.sort > 3) tg.sort = TELEGRAM_SORT_DATE;
  if (!tg.view) {
    // Clicks reach the module through the tab control, which passes them on while this page
    // is the one shown; the keys are the list's own.
    static const shell_list_events events = {
        [] { tab_click(TAB_TELEGRAMS); },
        [] { tab_right_click(TAB_TELEGRAMS); },
        [](int column) { tab_column_click(TAB_TELEGRAMS, column); },
        telegram_key,
        nullptr,
        [] { tg.view = nullptr; },
        [](int w0, int w1) { tab_save_columns(TAB_TELEGRAMS, w0, w1); }};
    tg.view = shell_make_list("Veldara Telegrams", SHELL_ICON_TELEGRAM, true, events);
  }
  const char* const* keys = tab_pages[TAB_TELEGRAMS].column_keys;
  if (tg.view) shell_list_columns(*tg.view, {{215, keys[0], DEFAULT_WIDTH}, {214, keys[1], DEFAULT_WIDTH}});
  tg.hide();
  universe_receiver.telegram_set_waiting = telegram_set_waiting;
  universe_receiver.telegram_receive = telegram_receive;
  universe_receiver.telegram_receive_number = telegram_receive_number;
  return 0;
}

void telegram_term() {
  if (tg.db) database_close(tg.db);
  tg.db = nullptr;
}

void telegram_show() { tg.show(); }
void telegram_hide() { tg.hide(); }
void telegram_move_window(int x, int y, int width, int height) { tg.move(x, y, width, height); }

void telegram_set_waiting() { tg.waiting = true; }

void telegram_receive(int32_t age, const char* sender, const char* text, int more) {
  TRACE("telegram_receive (%d, %s)", age, sender ? sender : "");
  const int32_t own = citizen_number();
  uint32_t when = static_cast<uint32_t>(static_cast<int64_t>(std::time(nullptr)) - age);
  row r{};
  r.read = false;
  telegram_make_key(r.key, when, own, sender);
  for (int i = 0; tg.db && database_key_exists(tg.db, r.key) && i < MAX_SECOND_STEPS; ++i) put32(r.key, ++when);
  std::string body = text ? text : "";
  std::vector<uint8_t> record(body.size() + 2, 0);
  std::memcpy(record.data() + 1, body.data(), body.size());
  if (tg.db) database_store(tg.db, r.key, record.data(), static_cast<int32_t>(record.size()));
  if (tg.filled_for != 0) {
    const bool top = tg.sort == TELEGRAM_SORT_SENDER_DOWN || tg.sort == TELEGRAM_SORT_DATE_DOWN;
    int index = top ? 0 : static_cast<int>(tg.rows.size());
    tg.rows.insert(tg.rows.begin() + index, r);
    view_insert(index, r);
    if (!more && tg.view) tg.view->ensure_visible(index);
  }
  if (more) {
    tg.waiting = true;
  } else {
    char line[512];
    std::snprintf(line, sizeof line, "%s: %s", msg(161), msg(61));
    console(KIND_NOTICE, line);
  }
}

void telegram_update() {
  if (tg.shown) {
    int32_t own = citizen_number();
    if (own != tg.filled_for) refill(own);
  }
  if (tg.waiting) {
    tg.waiting = false;
    universe_get_telegram();
  }
}

void telegram_click() { telegram_open_selected(); }

void telegram_key(int key) {
  if (key == SHELL_KEY_ENTER) telegram_open_selected();
  if (key == SHELL_KEY_DELETE) telegram_delete_selected();
}

void telegram_open_selected() {
  int index = selected_one();
  if (index < 0 || !tg.db) return;
  row& r = tg.rows[index];
  uint8_t* record = nullptr;
  int32_t length = 0;
  if (!database_fetch_unknown(tg.db, r.key, &record, &length)) return;
  std::string text;
  if (length > 1) text.assign(reinterpret_cast<const char*>(record + 1), strnlen(reinterpret_cast<const char*>(record + 1), length - 1));
  std::string sender = sender_of(r.key);
  std::string age = date_age(static_cast<int64_t>(std::time(nullptr)) - get32(r.key));
  std::string head = msg_arg(98, sender.c_str(), age.c_str());
  std::vector<char> line(head.size() + text.size() + 8);
  std::snprintf(line.data(), line.size(), "\n%s: \n%s\n", head.c_str(), text.c_str());
  console(KIND_TELEGRAM, line.data());
  if (length >= 1 && record[0] == 0) {
    record[0] = 1;
    database_store(tg.db, r.key, record, length);
    r.read = true;
    if (tg.view) tg.view->set_image(index, SHELL_NO_IMAGE);
  }
  std::free(record);
}

void telegram_delete_selected() {
  if (!tg.view) return;
  std::vector<int> selected = tg.view->selection();
  if (selected.empty()) return;
  std::sort(selected.begin(), selected.end());
  tg.view->set_redraw(false);
  int removed = 0, last = -1;
  for (int original : selected) {
    int index = original - removed;
    if (index < 0 || index >= static_cast<int>(tg.rows.size())) continue;
    if (tg.db) database_store(tg.db, tg.rows[index].key, nullptr, 0);
    tg.rows.erase(tg.rows.begin() + index);
    tg.view->remove(index);
    last = index;
    ++removed;
  }
  tg.view->set_redraw(true);
  if (last < 0 || tg.rows.empty()) return;
  tg.view->select(std::min(last, static_cast<int>(tg.rows.size()) - 1));
}

void telegram_right_click() {
  if (!tg.shown || !tg.view) return;
  std::vector<int> selected = tg.view->selection();
  if (selected.empty()) return;
  const ShellListView::MenuItem items[] = {
      {TELEGRAM_MENU_REPLY, msg(216), selected.size() == 1},
      {TELEGRAM_MENU_DELETE, msg(178), true},
  };
  int chosen = tg.view->popup_menu(items, 2);
  if (chosen == TELEGRAM_MENU_REPLY) {
    int index = selected_one();
    if (index >= 0) telegram_send_dialog(sender_of(tg.rows[index].key).c_str());
  } else if (chosen == TELEGRAM_MENU_DELETE) {
    telegram_delete_selected();
  }
}

void telegram_column_click(int column) {
  if (column == 0)
    tg.sort = tg.sort == TELEGRAM_SORT_SENDER ? TELEGRAM_SORT_SENDER_DOWN : TELEGRAM_SORT_SENDER;
  else if (column == 1)
    tg.sort = tg.sort == TELEGRAM_SORT_DATE ? TELEGRAM_SORT_DATE_DOWN : TELEGRAM_SORT_DATE;
  else
    return;
  profile_set_int("layout", "telegram_sort", tg.sort);
  sort_rows();
}

int telegram_send_dialog(const char* name) {
  TRACE("telegram_send_dialog (%s)", name ? name : "");
  if (tg.dialog) return DIALOG_CANCEL;
  SendDialog dialog(name ? name : "");
  int r = dialog_run(TELEGRAM_DIALOG, dialog);
  tg.dialog = nullptr;
  tg.dialog_waits = false;
  return r == DIALOG_NO_VIEW ? DIALOG_CANCEL : r;
}

void telegram_receive_number(int rc, const char* name, int32_t number) {
  if (!tg.dialog || !tg.dialog_waits || !name) return;
  DialogView& v = *tg.dialog;
  std::string typed = v.text(TELEGRAM_RECIPIENT, TELEGRAM_SENDER_LENGTH);
  if (strcasecmp(typed.c_str(), name) != 0) return;
  tg.dialog_waits = false;
  int code = rc;
  if (rc == 0) {
    std::string text = v.text(TELEGRAM_TEXT, TELEGRAM_TEXT_LIMIT);
    code = universe_send_telegram(number, text.c_str());
    if (code == 0) {
      v.end(DIALOG_OK);
      return;
    }
  }
  show_code(v, code, typed);
}

int telegram_rows() { return static_cast<int>(tg.rows.size()); }

bool telegram_row_at(int index, telegram_row* out) {
  if (index < 0 || index >= static_cast<int>(tg.rows.size()) || !out) return false;
  const row& r = tg.rows[index];
  out->time = get32(r.key);
  out->recipient = static_cast<int32_t>(get32(r.key + 4));
  out->sender = sender_of(r.key);
  out->read = r.read;
  return true;
}

int telegram_sort_mode() { return tg.sort; }
bool telegram_is_waiting() { return tg.waiting; }
bool telegram_is_shown() { return tg.shown; }

int telegram_stored(int32_t recipient) {
  if (!tg.db) return 0;
  int n = 0;
  uint8_t key[TELEGRAM_KEY_LENGTH];
  uint8_t* record = nullptr;
  while (database_fetch_next(tg.db, key, &record, nullptr)) {
    if (static_cast<int32_t>(get32(key + 4)) == recipient) ++n;
    std::free(record);
    record = nullptr;
  }
  return n;
}

void telegram_reset() {
  telegram_term();
  tg = telegram_module{};
}
