#include "client/shell/tab.h"

#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/servers/teleport.h"
#include "client/servers/worlds.h"
#include "client/shell/help.h"
#include "client/shell/contacts.h"
#include "client/shell/telegram.h"

TabView::~TabView() = default;

const tab_page tab_pages[TAB_PAGES] = {
    {TAB_WORLDS, 193, "tab0.png", worlds_init, worlds_show, worlds_hide, worlds_move_window,
     worlds_list_click, worlds_list_right_click, worlds_list_column_click, nullptr,
     {"world_name", "world_users"}},
    {TAB_CONTACTS, 194, "tab1.png", contacts_init, contacts_show, contacts_hide, contacts_move_window,
     nullptr, contacts_right_click, nullptr, nullptr, {"contacts_name", "contacts_world"}},
    {TAB_TELEGRAMS, 213, "tab2.png", telegram_init, telegram_show, telegram_hide, telegram_move_window,
     telegram_click, telegram_right_click, telegram_column_click, nullptr, {"from", "date"}},
    {TAB_TELEPORTS, 251, "tab3.png", teleport_init, teleport_show, teleport_hide,
     teleport_move_window, nullptr, nullptr, nullptr, nullptr, {nullptr, nullptr}},
    {TAB_HELP, 195, "tab4.png", help_init, help_show, help_hide, help_size, nullptr, nullptr, nullptr,
     help_selection_changed, {nullptr, nullptr}},
};

namespace {

struct state {
  TabView* view = nullptr;
  bool made = false;
  int current = TAB_TELEPORTS;
  bool texts = true;
  bool texts_set = false;
  int x = 0, y = 0, width = 0, height = 0;  // the pages' rectangle
};
state s;
tab_view_maker maker = nullptr;

const tab_page* page(int index) {
  return index >= 0 && index < TAB_PAGES ? &tab_pages[index] : nullptr;
}

void set_texts(bool texts) {
  if (s.texts_set && texts == s.texts) return;
  s.texts = texts;
  s.texts_set = true;
  if (!s.view) return;
  for (const tab_page& p : tab_pages) s.view->set_tab(p.index, texts ? msg(p.text_message) : "", p.image);
}

void show_current() {
  for (const tab_page& p : tab_pages) {
    if (p.index == s.current) continue;
    if (p.hide) p.hide();
  }
  if (const tab_page* p = page(s.current))
    if (p->show) p->show();
}

}  // namespace

void tab_set_view_maker(tab_view_maker m) { maker = m; }

void tab_view_destroyed(TabView* view) {
  if (s.view == view) s.view = nullptr;
}

int tab_init() {
  if (trace_switches[TRACE_GENERAL]) log_write("tab_init");
  s.view = maker ? maker() : nullptr;
  s.made = !maker || s.view;
  if (!s.made) return 0;
  s.texts_set = false;
  set_texts(true);
  for (const tab_page& p : tab_pages)
    if (p.init) p.init();
  int stored = layout_setting("tabpage");
  s.current = page(stored) ? stored : TAB_TELEPORTS;
  if (s.view) s.view->select(s.current);
  show_current();
  return 1;
}

void tab_size(int left, int right, int top, int bottom) {
  if (!s.made) return;
  int width = right - left, height = bottom - top;
  if (width < 0) width = 0;
  if (height < 0) height = 0;
  set_texts(width > TAB_ICONS_ONLY_WIDTH);
  if (s.view) {
    s.view->move(left, top, width, height);
    s.view->display_rect(&s.x, &s.y, &s.width, &s.height);
  } else {
    s.x = left;
    s.y = top;
    s.width = width;
    s.height = height;
  }
  // Inside the control's edge.
  s.x += 1;
  s.y += 3;
  s.width = s.width > 2 ? s.width - 2 : 0;
  s.height = s.height > 4 ? s.height - 4 : 0;
  for (const tab_page& p : tab_pages)
    if (p.move) p.move(s.x, s.y, s.width, s.height);
}

void tab_select(int index) {
  if (!page(index)) return;
  s.current = index;
  show_current();
  profile_set_int("layout", "tabpage", index);
}

void tab_show_help() {
  if (s.view) s.view->select(TAB_HELP);
  tab_select(TAB_HELP);
}

// A notification is the sending page's alone: a click on any other control (the toolbar,
// the tab strip itself) must not reach the page that happens to be shown.
void tab_click(int source) {
  const tab_page* p = page(source);
  if (p && p->click && source == s.current) p->click();
}

void tab_right_click(int source) {
  const tab_page* p = page(source);
  if (p && p->right_click && source == s.current) p->right_click();
}

void tab_column_click(int source, int column) {
  const tab_page* p = page(source);
  if (p && p->column_click && source == s.current) p->column_click(column);
}

void tab_selection_changed(int source) {
  const tab_page* p = page(source);
  if (p && p->selection_changed && source == s.current) p->selection_changed();
}

void tab_save_columns(int source, int width0, int width1) {
  const tab_page* p = page(source);
  if (!p) return;
  if (p->column_keys[0]) profile_set_int("layout", p->column_keys[0], width0);
  if (p->column_keys[1]) profile_set_int("layout", p->column_keys[1], width1);
}

int tab_current() { return s.current; }
bool tab_texts_shown() { return s.texts; }

void tab_page_rect(int* x, int* y, int* width, int* height) {
  if (x) *x = s.x;
  if (y) *y = s.y;
  if (width) *width = s.width;
  if (height) *height = s.height;
}

void tab_reset() {
  s = state{};
}
