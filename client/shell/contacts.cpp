#include "client/shell/contacts.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/core/files.h"
#include "client/core/hash.h"
#include "client/core/identity.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/page_window.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/tessel.h"
#include "client/servers/join.h"
#include "client/servers/prompt.h"
#include "client/servers/universe.h"
#include "client/shell/list_view.h"
#include "client/shell/tab.h"
#include "client/shell/telegram.h"
#include "platform/progdir.h"

#define TRACE(...) LOG_TRACE(TRACE_GENERAL, __VA_ARGS__)

namespace {

constexpr int DEFAULT_NAME_WIDTH = 100;
constexpr int DEFAULT_WORLD_WIDTH = 70;

struct contact {
  int32_t online;
  char name[CONTACTS_NAME_LENGTH + 1];
  char world[CONTACTS_WORLD_LENGTH + 1];
};

struct contacts_module : PageWindow<ShellListView> {
  hash_table* table = nullptr;
  int count = 0;
  bool has_pending = false;
  std::string pending;
  bool refresh = false;
  int32_t last_own = 0;
  bool focus_taken = false;
  std::vector<int32_t> rows;  // numbers in view order
};
contacts_module cm;

std::string file_path() { return platform_program_dir() + "/contacts.txt"; }

hash_table* table() {
  if (!cm.table) cm.table = hash_create(CONTACTS_BUCKETS);
  return cm.table;
}

contact* find(int32_t number) {
  hash_entry* e = hash_find(table(), sizeof number, &number);
  return e ? static_cast<contact*>(hash_entry_data(e)) : nullptr;
}

void copy_cut(char* out, size_t size, const std::string& text) {
  size_t n = std::min(text.size(), size - 1);
  std::memcpy(out, text.data(), n);
  out[n] = 0;
}

// A new entry, offline with no name yet; null when the table is full or the number known.
contact* add_entry(int32_t number) {
  if (cm.count >= CONTACTS_MAX || find(number)) return nullptr;
  int found = 0;
  hash_entry* e = hash_find_or_add(table(), sizeof number, &number, sizeof(contact), &found);
  if (!e) return nullptr;
  auto* c = static_cast<contact*>(hash_entry_data(e));
  std::memset(c, 0, sizeof *c);
  ++cm.count;
  return c;
}

void remove_entry(int32_t number) {
  if (hash_remove(table(), sizeof number, &number)) --cm.count;
}

void fill() {
  cm.rows = contacts_numbers();
  std::stable_sort(cm.rows.begin(), cm.rows.end(), [](int32_t a, int32_t b) {
    return strcasecmp(find(a)->name, find(b)->name) < 0;
  });
  if (cm.view) {
    cm.view->set_redraw(false);
    cm.view->clear();
    for (size_t i = 0; i < cm.rows.size(); ++i) {
      const contact* c = find(cm.rows[i]);
      cm.view->insert(static_cast<int>(i), c->name, c->online ? c->world : "", c->online ? 0 : SHELL_NO_IMAGE);
    }
    cm.view->set_redraw(true);
  }
  cm.last_own = citizen_number();
}

void clear_rows() {
  cm.rows.clear();
  if (cm.view) cm.view->clear();
}

int32_t selected_number() {
  if (!cm.view) return 0;
  std::vector<int> s = cm.view->selection();
  if (s.empty() || s[0] < 0 || s[0] >= static_cast<int>(cm.rows.size())) return 0;
  return cm.rows[s[0]];
}

// Far more than a list of CONTACTS_MAX numbers with notes beside them can hold.
constexpr int64_t kListBytes = 1 << 20;

// A line of "contacts.txt" as a citizen number; 0 when it is none.
int32_t parse_number(const char* p) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(p, &end, 10);
  if (end == p || errno == ERANGE || v < 1 || v > INT32_MAX) return 0;
  return static_cast<int32_t>(v);
}

}  // namespace

int contacts_init() {
  TRACE("contacts_init");
  if (!cm.view) {
    // The right click reaches the module through the tab control while this page is shown.
    static const shell_list_events events = {nullptr,
                                             [] { tab_right_click(TAB_CONTACTS); },
                                             nullptr,
                                             nullptr,
                                             contacts_focused,
                                             [] { cm.view = nullptr; },
                                             [](int w0, int w1) { tab_save_columns(TAB_CONTACTS, w0, w1); }};
    cm.view = shell_make_list("Veldara Contacts", SHELL_ICON_CONTACT, false, events);
  }
  const char* const* keys = tab_pages[TAB_CONTACTS].column_keys;
  if (cm.view)
    shell_list_columns(*cm.view, {{179, keys[0], DEFAULT_NAME_WIDTH}, {180, keys[1], DEFAULT_WORLD_WIDTH}});
  cm.hide();
  // The table is the file's: nothing of an earlier run stays.
  contacts_term();
  contacts_load();
  cm.refresh = true;
  universe_receiver.contacts_state = contacts_state;
  universe_receiver.contacts_receive_number = contacts_receive_number;
  universe_receiver.contacts_refresh = contacts_refresh;
  join_hook.contacts_lookup_name = contacts_lookup_name;
  return 0;
}

void contacts_term() {
  if (cm.table) hash_destroy(cm.table);
  cm.table = nullptr;
  cm.count = 0;
  cm.rows.clear();
}

void contacts_show() { cm.show(); }
void contacts_hide() { cm.hide(); }
void contacts_move_window(int x, int y, int width, int height) { cm.move(x, y, width, height); }

void contacts_refresh() { cm.refresh = true; }

void contacts_focused() { cm.focus_taken = true; }

void contacts_update() {
  if (cm.focus_taken) {
    cm.focus_taken = false;
    tessel_set_focus();
  }
  if (!cm.shown) return;
  int32_t own = citizen_number();
  if (cm.refresh) {
    if (own != 0) send_contacts();
    cm.refresh = false;
  } else if (own != cm.last_own) {
    if (own == 0)
      clear_rows();
    else
      send_contacts();
  }
  cm.last_own = own;
}

int send_contacts() {
  std::vector<int32_t> numbers = contacts_numbers();
  if (numbers.empty()) return 0;
  return universe_contact_list(numbers.data(), static_cast<int>(numbers.size()));
}

void contacts_state(int rc, const std::vector<universe_contact_entry>& entries) {
  if (rc != 0) return;
  bool removed = false;
  for (const universe_contact_entry& e : entries) {
    contact* c = find(e.number);
    if (!c) break;
    if (e.state == 0) {
      c->online = 0;
      copy_cut(c->name, sizeof c->name, e.name);
    } else if (e.state == 1) {
      c->online = 1;
      copy_cut(c->name, sizeof c->name, e.name);
      copy_cut(c->world, sizeof c->world, e.world);
    } else {
      remove_entry(e.number);
      removed = true;
    }
  }
  fill();
  if (removed) contacts_save();
}

void contacts_add(const char* name) {
  if (!name || !*name || contacts_full()) return;
  TRACE("contacts_add (%s)", name);
  cm.pending = name;
  cm.has_pending = true;
  universe_get_citizen_number(name);
}

void contacts_receive_number(int rc, const char* name, int32_t number) {
  if (rc != 0 || !cm.has_pending || !name) return;
  if (std::strlen(name) > CONTACTS_NAME_LENGTH || cm.pending != name) return;
  cm.has_pending = false;
  cm.pending.clear();
  if (find(number)) return;
  contact* c = add_entry(number);
  if (!c) return;
  copy_cut(c->name, sizeof c->name, name);
  universe_add_contact(number);
  fill();
  contacts_save();
}

bool contacts_full() { return cm.count >= CONTACTS_MAX; }

const char* contacts_lookup_name(int32_t number) {
  const contact* c = find(number);
  return c ? c->name : nullptr;
}

void contacts_right_click() {
  if (!cm.shown || !cm.view || tessel_kiosk()) return;
  int32_t number = selected_number();
  const contact* c = number ? find(number) : nullptr;
  const ShellListView::MenuItem items[] = {
      {CONTACTS_MENU_JOIN, msg(176), c && c->online},
      {CONTACTS_MENU_TELEGRAM, msg(171), c != nullptr},
      {CONTACTS_MENU_DELETE, msg(217), c != nullptr},
      {0, "", true},
      {CONTACTS_MENU_ADD, msg(170), !contacts_full()},
  };
  int chosen = cm.view->popup_menu(items, sizeof items / sizeof items[0]);
  // The menu ran a loop of its own: the contact may have gone meanwhile.
  c = number ? find(number) : nullptr;
  std::string name = c ? c->name : "";
  switch (chosen) {
    case CONTACTS_MENU_JOIN:
      if (c && c->online) join(number, name.c_str());
      break;
    case CONTACTS_MENU_TELEGRAM:
      if (c) telegram_send_dialog(name.c_str());
      break;
    case CONTACTS_MENU_DELETE:
      if (!c) break;
      remove_entry(number);
      universe_delete_contact(number);
      fill();
      contacts_save();
      break;
    case CONTACTS_MENU_ADD:
      if (!contacts_full()) {
        std::string title = msg(168), label = msg(169);
        const char* text = prompt_text_small(title.c_str(), label.c_str(), "");
        if (text) contacts_add(std::string(text).c_str());
      }
      break;
    default:
      break;
  }
}

void contacts_load() {
  // Only a regular file of a list's size: a FIFO or a device in its place would hold start-up.
  std::string why;
  FILE* in = file_fopen_regular(file_path().c_str(), &why, kListBytes);
  if (!in) {
    if (file_refused(errno)) log_note("%s is not read: %s", file_path().c_str(), why.c_str());
    return;
  }
  char line[256];
  bool continuation = false;  // the rest of an over-long line is no line of its own
  while (cm.count < CONTACTS_MAX && std::fgets(line, sizeof line, in)) {
    const bool whole = std::strchr(line, '\n') != nullptr;
    int32_t number = continuation ? 0 : parse_number(line);
    continuation = !whole;
    if (number) add_entry(number);
  }
  std::fclose(in);
}

// Written to a fresh temporary beside the list and renamed over it: the old list stays whole
// until the new one is written out, and nothing planted at a fixed name is followed.
void contacts_save() {
  std::string path = file_path(), temp;
  FILE* f = file_create_fresh(path.c_str(), &temp);
  if (!f) return;
  bool ok = true;
  for (int32_t n : contacts_numbers()) ok = ok && std::fprintf(f, "%d\n", n) > 0;
  if (!ok) file_discard_fresh(f, temp);
  else file_commit_fresh(f, temp, path.c_str());
}

int contacts_count() { return cm.count; }

std::vector<int32_t> contacts_numbers() {
  std::vector<int32_t> out;
  if (!cm.table) return out;
  hash_iterator* it = hash_iterator_create(cm.table);
  while (hash_entry* e = hash_iterator_next(it)) {
    int32_t n;
    std::memcpy(&n, hash_entry_key(e), sizeof n);
    out.push_back(n);
  }
  return out;
}

bool contacts_find(int32_t number, contacts_row* out) {
  const contact* c = find(number);
  if (!c || !out) return false;
  *out = {number, c->name, c->world, c->online != 0};
  return true;
}

int contacts_rows() { return static_cast<int>(cm.rows.size()); }

bool contacts_row_at(int index, contacts_row* out) {
  if (index < 0 || index >= static_cast<int>(cm.rows.size())) return false;
  return contacts_find(cm.rows[index], out);
}

const char* contacts_pending() { return cm.has_pending ? cm.pending.c_str() : nullptr; }
bool contacts_is_shown() { return cm.shown; }

void contacts_reset() {
  contacts_term();
  cm = contacts_module{};
}
