#include "client/servers/worlds.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "client/core/hash.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/page_window.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/tessel.h"
#include "client/servers/teleport.h"
#include "client/servers/universe.h"
#include "client/servers/world.h"
#include "platform/clock.h"

#define TRACE(...) LOG_TRACE(TRACE_GENERAL, __VA_ARGS__)

WorldsListView::~WorldsListView() = default;

worlds_hooks worlds_default_hooks() {
  worlds_hooks h{};
  h.teleport = teleport;
  h.teleport_dialog = teleport_dialog;
  h.set_focus = tessel_set_focus;
  h.current_world = world_name;
  h.kiosk = tessel_kiosk;
  return h;
}

worlds_hooks worlds_hook = worlds_default_hooks();

namespace {

constexpr size_t PAYLOAD = 3;  // users (16-bit), status (byte)

struct shown_row {
  hash_entry* entry;
  intptr_t item;
};

struct worlds_module : PageWindow<WorldsListView> {
  worlds_list_maker maker = nullptr;
  hash_table* table = nullptr;
  int count = 0;
  hash_entry* marked = nullptr;
  bool timed = false;  // a request or a list has been seen
  uint32_t last = 0;
  bool focus_taken = false;
  int sort = WORLDS_SORT_NAME;
  bool show_closed = true;
  bool show_empty = true;
  std::vector<shown_row> rows;  // in view order
};
worlds_module wm;

const char* name_of(hash_entry* e) { return reinterpret_cast<const char*>(hash_entry_key(e)); }

int users_of(hash_entry* e) {
  const uint8_t* d = static_cast<const uint8_t*>(hash_entry_data(e));
  uint16_t u;
  std::memcpy(&u, d, 2);
  return u;
}

int status_of(hash_entry* e) { return static_cast<const uint8_t*>(hash_entry_data(e))[2]; }

int status_image(int status) {
  if (status == 1) return WORLDS_IMAGE_STATUS1;
  if (status == WORLDS_STATUS_CLOSED) return WORLDS_IMAGE_CLOSED;
  return WORLDS_IMAGE_STATUS0;
}

int layout(const char* key, int fallback) {
  int v = layout_setting(key);
  return v == -1 ? fallback : v;
}

bool comes_before(hash_entry* a, hash_entry* b) {
  if (wm.sort == WORLDS_SORT_USERS && users_of(a) != users_of(b)) return users_of(a) > users_of(b);
  return strcasecmp(name_of(a), name_of(b)) < 0;
}

hash_entry* selected_entry() {
  if (!wm.view) return nullptr;
  intptr_t item = wm.view->selected();
  if (!item) return nullptr;
  for (const shown_row& r : wm.rows)
    if (r.item == item) return r.entry;
  return nullptr;
}

void destroy_table() {
  if (wm.table) hash_destroy(wm.table);
  wm.table = nullptr;
  wm.marked = nullptr;
  wm.rows.clear();
  wm.count = 0;
}

void fill() {
  wm.marked = nullptr;
  wm.rows.clear();
  std::vector<hash_entry*> list;
  if (wm.table) {
    hash_iterator* it = hash_iterator_create(wm.table);
    while (hash_entry* e = hash_iterator_next(it)) {
      if (users_of(e) == 0 && !wm.show_empty) continue;
      if (status_of(e) == WORLDS_STATUS_CLOSED && !wm.show_closed) continue;
      list.push_back(e);
    }
  }
  std::stable_sort(list.begin(), list.end(), comes_before);
  const char* current = worlds_hook.current_world ? worlds_hook.current_world() : nullptr;
  if (!current) current = "";
  if (wm.view) {
    wm.view->set_redraw(false);
    wm.view->clear();
  }
  long long sum = 0;
  for (hash_entry* e : list) {
    int image = status_image(status_of(e));
    if (*current && strcasecmp(name_of(e), current) == 0) {
      image = WORLDS_IMAGE_CURRENT;
      wm.marked = e;
    }
    char users[16];
    std::snprintf(users, sizeof users, "%d", users_of(e));
    intptr_t item = wm.view ? wm.view->add(name_of(e), users, image) : 0;
    wm.rows.push_back({e, item});
    sum += users_of(e);
  }
  if (!wm.view) return;
  int shown = static_cast<int>(list.size());
  wm.view->set_column_title(0, shown == 1 ? msg(143) : msg_arg(164, shown));
  wm.view->set_column_title(1, sum == 1 ? msg(147) : msg_arg(165, static_cast<int>(sum)));
  wm.view->set_redraw(true);
}

bool clickable() {
  bool kiosk = worlds_hook.kiosk && worlds_hook.kiosk();
  return wm.shown && !kiosk;
}

}  // namespace

void worlds_set_list_maker(worlds_list_maker maker) { wm.maker = maker; }

void worlds_list_destroyed(WorldsListView* view) {
  if (wm.view == view) {
    wm.view = nullptr;
    for (shown_row& r : wm.rows) r.item = 0;
  }
}

int worlds_init() {
  TRACE("worlds_init");
  if (!wm.view && wm.maker) wm.view = wm.maker();
  if (wm.view) {
    wm.view->set_column_width(0, layout("world_name", 75));
    wm.view->set_column_width(1, layout("world_users", 60));
    wm.view->set_column_title(0, "");
    wm.view->set_column_title(1, "");
  }
  wm.sort = layout("world_sort", WORLDS_SORT_NAME) == WORLDS_SORT_USERS ? WORLDS_SORT_USERS : WORLDS_SORT_NAME;
  wm.show_closed = layout("show_closed", 1) != 0;
  wm.show_empty = layout("show_empty", 1) != 0;
  worlds_hide();
  universe_receiver.worlds_receive_list = worlds_receive_list;
  universe_receiver.worlds_refresh = worlds_refresh;
  world_hook.worlds_mark_current = worlds_mark_current;
  return 0;
}

void worlds_show() { wm.show(); }

void worlds_hide() { wm.hide(); }

void worlds_move_window(int x, int y, int width, int height) { wm.move(x, y, width, height); }

void worlds_receive_list(int rc, const std::vector<universe_world_entry>& worlds) {
  TRACE("worlds_receive_list (%d, %d)", rc, static_cast<int>(worlds.size()));
  // A refusal carries no list: the one shown stays.
  if (rc) return;
  destroy_table();
  wm.table = hash_create(WORLDS_BUCKETS);
  if (!wm.table) return;
  for (const universe_world_entry& w : worlds) {
    int found = 0;
    hash_entry* e = hash_find_or_add(wm.table, w.name.size() + 1, w.name.c_str(), PAYLOAD, &found);
    if (!e) break;
    uint8_t* d = static_cast<uint8_t*>(hash_entry_data(e));
    uint16_t users = static_cast<uint16_t>(w.users & 0xFFFF);
    std::memcpy(d, &users, 2);
    d[2] = static_cast<uint8_t>(w.status);
    ++wm.count;
  }
  wm.timed = true;
  wm.last = platform_ticks();
  fill();
}

void worlds_mark_current(const char* name) {
  if (!name || !wm.table) return;
  hash_entry* found = nullptr;
  hash_iterator* it = hash_iterator_create(wm.table);
  while (hash_entry* e = hash_iterator_next(it)) {
    if (!found && strcasecmp(name_of(e), name) == 0) found = e;
  }
  if (!found || found == wm.marked) return;
  for (const shown_row& r : wm.rows) {
    if (r.entry == wm.marked && wm.view && r.item) wm.view->set_image(r.item, status_image(status_of(r.entry)));
    if (r.entry == found && wm.view && r.item) wm.view->set_image(r.item, WORLDS_IMAGE_CURRENT);
  }
  wm.marked = found;
}

void worlds_update() {
  if (wm.focus_taken) {
    wm.focus_taken = false;
    if (worlds_hook.set_focus) worlds_hook.set_focus();
  }
  if (!wm.shown) return;
  uint32_t now = platform_ticks();
  if (wm.timed && tick_diff(wm.last, now) < static_cast<int32_t>(WORLDS_REFRESH)) return;
  universe_get_worlds();
  wm.timed = true;
  wm.last = now;
}

// The next step asks for the list at once, not at the end of its refresh time.
void worlds_refresh() { wm.timed = false; }

void worlds_list_click() {
  if (!clickable()) return;
  hash_entry* e = selected_entry();
  if (!e || !worlds_hook.teleport) return;
  std::string name = name_of(e);  // the teleport may refill the list
  worlds_hook.teleport(name.c_str(), 0.0f, 0.1f, 0.0f, 0.0f, 1);
}

void worlds_list_right_click() {
  if (!clickable() || !wm.table || !wm.view) return;
  hash_entry* e = selected_entry();
  const WorldsListView::MenuItem items[] = {
      {WORLDS_MENU_TELEPORT, msg(19), e != nullptr, false},
      {0, "", true, false},
      {WORLDS_MENU_CLOSED, msg(223), true, wm.show_closed},
      {WORLDS_MENU_EMPTY, msg(224), true, wm.show_empty},
  };
  int chosen = wm.view->popup_menu(items, sizeof items / sizeof items[0]);
  switch (chosen) {
    case WORLDS_MENU_TELEPORT:
      if (e && worlds_hook.teleport_dialog) {
        std::string name = name_of(e);
        worlds_hook.teleport_dialog(name.c_str());
      }
      break;
    case WORLDS_MENU_CLOSED:
      wm.show_closed = !wm.show_closed;
      profile_set_int("layout", "show_closed", wm.show_closed ? 1 : 0);
      fill();
      break;
    case WORLDS_MENU_EMPTY:
      wm.show_empty = !wm.show_empty;
      profile_set_int("layout", "show_empty", wm.show_empty ? 1 : 0);
      fill();
      break;
    default: break;
  }
}

void worlds_list_column_click(int column) {
  if (column != WORLDS_SORT_NAME && column != WORLDS_SORT_USERS) return;
  wm.sort = column;
  fill();
  profile_set_int("layout", "world_sort", wm.sort);
}

void worlds_list_focused() { wm.focus_taken = true; }

int worlds_count() { return wm.count; }
size_t worlds_shown() { return wm.rows.size(); }

bool worlds_row_at(size_t index, worlds_row* out) {
  if (index >= wm.rows.size() || !out) return false;
  hash_entry* e = wm.rows[index].entry;
  out->name = name_of(e);
  out->users = users_of(e);
  out->status = status_of(e);
  out->image = e == wm.marked ? WORLDS_IMAGE_CURRENT : status_image(status_of(e));
  out->item = wm.rows[index].item;
  return true;
}

int worlds_sort_mode() { return wm.sort; }
const char* worlds_marked() { return wm.marked ? name_of(wm.marked) : ""; }
bool worlds_is_shown() { return wm.shown; }

void worlds_reset() {
  destroy_table();
  worlds_list_maker maker = wm.maker;
  WorldsListView* view = wm.view;
  wm = worlds_module{};
  wm.maker = maker;
  wm.view = view;
}
