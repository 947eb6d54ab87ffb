#include "client/shell/toolbar.h"

#include <map>

#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/servers/history.h"

ToolbarView::~ToolbarView() = default;

const toolbar_button toolbar_main_buttons[18] = {
    {-1, 0, 0, TOOLBAR_SEPARATOR},
    {0, 107, TOOLBAR_DISABLED, TOOLBAR_BUTTON},   // back
    {1, 106, TOOLBAR_DISABLED, TOOLBAR_BUTTON},   // forward
    {-1, 0, 0, TOOLBAR_SEPARATOR},
    {13, 124, TOOLBAR_DISABLED, TOOLBAR_BUTTON},  // look up
    {17, 131, TOOLBAR_DISABLED, TOOLBAR_BUTTON},  // look level
    {14, 125, TOOLBAR_DISABLED, TOOLBAR_BUTTON},  // look down
    {-1, 0, 0, TOOLBAR_SEPARATOR},
    {15, 126, TOOLBAR_DISABLED, TOOLBAR_CHECK},   // first person
    {16, 127, TOOLBAR_DISABLED, TOOLBAR_CHECK},   // third person
    {-1, 0, 0, TOOLBAR_SEPARATOR},
    {12, 118, TOOLBAR_DISABLED, TOOLBAR_BUTTON},  // mover
    {-1, 0, 0, TOOLBAR_SEPARATOR},
    {-1, 0, 0, TOOLBAR_SEPARATOR},
    {18, 134, TOOLBAR_ENABLED, TOOLBAR_BUTTON},   // web back
    {19, 135, TOOLBAR_ENABLED, TOOLBAR_BUTTON},   // web forward
    {20, 136, TOOLBAR_ENABLED, TOOLBAR_BUTTON},   // web stop
    {21, 137, TOOLBAR_ENABLED, TOOLBAR_BUTTON},   // web refresh
};

struct toolbar {
  int height = 0;
  bool shown = true;
  ToolbarView* view = nullptr;
  std::map<int, bool> enabled, checked;
};

namespace {

toolbar* main_bar = nullptr;
toolbar_view_maker maker = nullptr;

void measure() {
  if (!main_bar) return;
  main_bar->height = main_bar->view && main_bar->shown ? main_bar->view->autosize(-1) + 1 : 0;
}

}  // namespace

void toolbar_set_view_maker(toolbar_view_maker m) { maker = m; }

void toolbar_view_destroyed(ToolbarView* view) {
  if (main_bar && main_bar->view == view) {
    main_bar->view = nullptr;
    main_bar->height = 0;
  }
}

void toolbar_init() {
  if (trace_switches[TRACE_GENERAL]) log_write("toolbar_init");
  history_hook.toolbar_enable = [](int id, int on) { on ? toolbar_enable(id) : toolbar_disable(id); };
}

toolbar* toolbar_create(size_t count, const toolbar_button* buttons) {
  ToolbarView* view = maker ? maker() : nullptr;
  if (maker && !view) return nullptr;
  toolbar_reset();
  main_bar = new toolbar;
  main_bar->view = view;
  for (size_t i = 0; i < count; ++i) {
    const toolbar_button& b = buttons[i];
    if (b.style != TOOLBAR_SEPARATOR) main_bar->enabled[b.id] = b.state == TOOLBAR_ENABLED;
    if (view) view->add(b, b.style == TOOLBAR_SEPARATOR ? "" : toolbar_tooltip(b.id));
  }
  measure();
  return main_bar;
}

toolbar* toolbar_main() { return main_bar; }

void toolbar_autosize() {
  if (main_bar && main_bar->view && main_bar->shown) main_bar->view->autosize(-1);
}

static void set_check(int id, bool on) {
  if (!main_bar) return;
  main_bar->checked[id] = on;
  if (main_bar->view) main_bar->view->set_checked(id, on);
}
static void set_enable(int id, bool on) {
  if (!main_bar) return;
  main_bar->enabled[id] = on;
  if (main_bar->view) main_bar->view->set_enabled(id, on);
}

void toolbar_check(int id) { set_check(id, true); }
void toolbar_uncheck(int id) { set_check(id, false); }
void toolbar_enable(int id) { set_enable(id, true); }
void toolbar_disable(int id) { set_enable(id, false); }

void toolbar_hide_button(int id) {
  if (main_bar && main_bar->view) main_bar->view->set_button_shown(id, false);
}
void toolbar_show_button(int id) {
  if (main_bar && main_bar->view) main_bar->view->set_button_shown(id, true);
}

void toolbar_hide() {
  if (!main_bar) return;
  main_bar->shown = false;
  if (main_bar->view) main_bar->view->set_shown(false);
  main_bar->height = 0;
}

void toolbar_show() {
  if (!main_bar) return;
  main_bar->shown = true;
  if (main_bar->view) main_bar->view->set_shown(true);
  measure();
}

int toolbar_height() { return main_bar ? main_bar->height : 0; }

int toolbar_tooltip_message(int id) {
  static const int table[][2] = {
      {106, 105}, {107, 106}, {108, 109}, {109, 110}, {110, 113}, {111, 114}, {112, 108}, {113, 107},
      {114, 111}, {115, 112}, {116, 115}, {117, 116}, {118, 117}, {124, 120}, {125, 121}, {126, 122},
      {127, 123}, {131, 87},  {134, 131}, {135, 132}, {136, 133}, {137, 134},
  };
  for (const auto& row : table)
    if (row[0] == id) return row[1];
  return 0;
}

const char* toolbar_tooltip(int id) {
  int n = toolbar_tooltip_message(id);
  return n ? msg(n) : "Unknown!";
}

bool toolbar_is_enabled(int id) {
  if (!main_bar) return false;
  auto it = main_bar->enabled.find(id);
  return it != main_bar->enabled.end() && it->second;
}

bool toolbar_is_checked(int id) {
  if (!main_bar) return false;
  auto it = main_bar->checked.find(id);
  return it != main_bar->checked.end() && it->second;
}

void toolbar_reset() {
  delete main_bar;
  main_bar = nullptr;
}
