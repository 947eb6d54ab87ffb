#include "client/shell/status.h"

#include <string>
#include <vector>

#include "client/core/log.h"
#include "client/scene/self.h"
#include "client/scene/visible.h"
#include "client/servers/world.h"

StatusBarView::~StatusBarView() = default;

namespace {

// Room kept at the right for the size grip.
constexpr int kGrip = 15;

struct pane {
  int handle;
  int weight;
  std::string text;
};

struct state {
  StatusBarView* view = nullptr;
  bool made = false;
  std::vector<pane> panes;
  std::vector<int> edges;
  int next = 1;
  int width = 0, height = 0;
  int visible_pane = 0, world_pane = 0;
};
state s;
status_bar_maker maker = nullptr;

pane* find(int handle) {
  for (auto& p : s.panes)
    if (p.handle == handle) return &p;
  return nullptr;
}

// Edges: each pane's share of the width without the grip, the last edge with it. Weights
// that sum to nothing share the width equally instead of dividing by zero.
void set_parts() {
  s.edges.clear();
  long total = 0;
  for (auto& p : s.panes) total += p.weight;
  long room = s.width > kGrip ? s.width - kGrip : 0;
  long at = 0;
  for (auto& p : s.panes) {
    long share = total > 0 ? static_cast<long>(p.weight) * room / total
                           : room / static_cast<long>(s.panes.size());
    at += share;
    s.edges.push_back(static_cast<int>(at));
  }
  if (!s.edges.empty()) s.edges.back() += kGrip;
  if (!s.view) return;
  s.view->set_parts(s.edges.data(), s.edges.size());
  for (size_t i = 0; i < s.panes.size(); ++i) s.view->set_text(i, s.panes[i].text.c_str());
}

void visible_pane_show(bool shown, int weight) {
  if (shown && !s.visible_pane) s.visible_pane = status_create(weight);
  if (!shown && s.visible_pane) {
    status_destroy(s.visible_pane);
    s.visible_pane = 0;
  }
}
void visible_pane_text(const char* text) {
  if (s.visible_pane) status_show_value(s.visible_pane, text);
}
void world_pane_show(bool shown) {
  if (shown && !s.world_pane) {
    s.world_pane = status_create(STATUS_WORLD_WEIGHT);
    // The connection's current text shows at once.
    status_change(s.world_pane, world_status_current());
  }
  if (!shown && s.world_pane) {
    status_destroy(s.world_pane);
    s.world_pane = 0;
  }
}
void world_pane_text(const char* text) {
  if (s.world_pane) status_change(s.world_pane, text);
}

}  // namespace

void status_set_bar_maker(status_bar_maker m) { maker = m; }

void status_bar_destroyed(StatusBarView* view) {
  if (s.view == view) s.view = nullptr;
}

int status_init() {
  if (trace_switches[TRACE_GENERAL]) log_write("status_init");
  s.view = maker ? maker() : nullptr;
  s.made = !maker || s.view;
  if (!s.made) return 0;
  visible_hook.pane_show = visible_pane_show;
  visible_hook.pane_text = visible_pane_text;
  self_hook.pane_add = status_create;
  self_hook.pane_remove = status_destroy;
  self_hook.pane_text = status_show_value;
  world_hook.status_show = world_pane_show;
  world_hook.status_text = world_pane_text;
  return 1;
}

int status_create(int weight) {
  if (!s.made) return 0;
  int handle = s.next++;
  s.panes.push_back(pane{handle, weight > 0 ? weight : 0, ""});
  set_parts();
  return handle;
}

void status_destroy(int handle) {
  for (size_t i = 0; i < s.panes.size(); ++i) {
    if (s.panes[i].handle != handle) continue;
    s.panes.erase(s.panes.begin() + static_cast<long>(i));
    set_parts();
    return;
  }
}

namespace {

void set_text(int handle, const char* text, bool traced) {
  pane* p = find(handle);
  if (!p) return;
  const char* t = text ? text : "";
  if (p->text == t) return;
  // Traced when it changes: the same text set every frame writes no line.
  if (traced)
    log_write("status_change (%p, %s)", reinterpret_cast<void*>(static_cast<intptr_t>(handle)), t);
  p->text = t;
  if (!s.view) return;
  for (size_t i = 0; i < s.panes.size(); ++i)
    if (s.panes[i].handle == handle) s.view->set_text(i, t);
}

}  // namespace

void status_change(int handle, const char* text) { set_text(handle, text, trace_switches[TRACE_GENERAL] != 0); }

void status_show_value(int handle, const char* text) { set_text(handle, text, trace_frames()); }

void status_size(int width, int bottom) {
  if (!s.made) return;
  int h = status_height();
  if (s.view) s.view->move(0, bottom - h, width, h);
  if (width != s.width || h != s.height) {
    s.width = width;
    s.height = h;
    set_parts();
  }
}

int status_height() {
  // Without a window (headless runs) the panes still keep their texts but take no room.
  if (!s.made || !s.view) return 0;
  return s.view->client_height() + 1;
}

size_t status_count() { return s.panes.size(); }

bool status_edge(size_t index, int* edge) {
  if (index >= s.edges.size()) return false;
  if (edge) *edge = s.edges[index];
  return true;
}

const char* status_text(int handle) {
  pane* p = find(handle);
  return p ? p->text.c_str() : nullptr;
}

void status_reset() {
  if (visible_hook.pane_show == visible_pane_show) visible_hook.pane_show = nullptr;
  if (visible_hook.pane_text == visible_pane_text) visible_hook.pane_text = nullptr;
  if (self_hook.pane_add == status_create) self_hook.pane_add = nullptr;
  if (self_hook.pane_remove == status_destroy) self_hook.pane_remove = nullptr;
  if (self_hook.pane_text == status_show_value) self_hook.pane_text = nullptr;
  if (world_hook.status_show == world_pane_show) world_hook.status_show = nullptr;
  if (world_hook.status_text == world_pane_text) world_hook.status_text = nullptr;
  s = state{};
}
