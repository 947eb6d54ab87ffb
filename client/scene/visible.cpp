#include "client/scene/visible.h"

#include "client/core/hash.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/tick.h"
#include "client/scene/cell.h"
#include "client/scene/element.h"
#include "client/scene/model.h"
#include "client/scene/prop.h"
#include "client/scene/self.h"
#include "client/servers/world.h"
#include "platform/clock.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

visible_hooks visible_hook = {};

namespace {

#define VTRACE(...) LOG_TRACE(TRACE_VISIBLE, __VA_ARGS__)
#define GTRACE(...) LOG_TRACE(TRACE_GENERAL, __VA_ARGS__)

struct node {
  node* next;
  element* e;
};

struct cell_data {
  node* first;
  int32_t stale;
};

constexpr int kPaneWeight = 12;
constexpr int kMenuItem = 120;
constexpr int kMessageRange = 32;
constexpr int kBudgetStep = 50;
constexpr int kBudgetFloor = -300;

// The spiral: the 26 nearest offsets in their fixed order, then the rest by distance.
const visible_offset kHead[] = {
    {0, 0, 0},    {1, 0, 10},   {0, 1, 10},   {-1, 0, 10},  {0, -1, 10},  {-1, -1, 14}, {1, -1, 14},
    {-1, 1, 14},  {1, 1, 14},   {-2, 0, 20},  {2, 0, 20},   {0, -2, 20},  {0, 2, 20},   {-2, 1, 22},
    {-2, -1, 22}, {2, -1, 22},  {2, 1, 22},   {1, -2, 22},  {-1, -2, 22}, {-1, 2, 22},  {1, 2, 22},
    {2, 2, 28},   {2, -2, 28},  {-2, -2, 28}, {-2, 2, 28},  {-3, 0, 30},
};

// floor(10 x sqrt(r2)) in integers.
int tenths(int r2) {
  int d = 0;
  while ((d + 1) * (d + 1) <= 100 * r2) ++d;
  return d;
}

bool excluded(int dx, int dz) {
  return (dx == 12 && dz >= -1 && dz <= 1) || (dz == 12 && dx >= -1 && dx <= 1);
}

struct spiral_table {
  visible_offset entries[VISIBLE_SPIRAL_SIZE];
  spiral_table() {
    int n = 0;
    for (const visible_offset& o : kHead) entries[n++] = o;
    visible_offset rest[VISIBLE_SPIRAL_SIZE];
    int m = 0;
    for (int dz = -12; dz <= 12; ++dz) {
      for (int dx = -12; dx <= 12; ++dx) {
        int d = tenths(dx * dx + dz * dz);
        if (d > 120 || excluded(dx, dz)) continue;
        bool in_head = false;
        for (const visible_offset& o : kHead) in_head = in_head || (o.dx == dx && o.dz == dz);
        if (in_head) continue;
        if (n + m < VISIBLE_SPIRAL_SIZE)
          rest[m++] = visible_offset{static_cast<int8_t>(dx), static_cast<int8_t>(dz), static_cast<int16_t>(d)};
      }
    }
    std::stable_sort(rest, rest + m,
                     [](const visible_offset& a, const visible_offset& b) { return a.distance < b.distance; });
    for (int i = 0; i < m; ++i) entries[n++] = rest[i];
  }
};

const spiral_table& spiral() {
  static const spiral_table table;
  return table;
}

struct visible_state {
  int16_t cell_x = 0, cell_z = 0;
  int index = 0;
  int range = 0;
  int minimum = 0;
  int remembered_visibility = -1;
  int factor = 1;
  int budget = 0;
  bool dirty = false;
  bool work_done = false;
  bool restart = true;
  uint32_t last_commit = 0;
  bool reveal = false;
  bool pane = false;
  hash_table* index_table = nullptr;
  // visible_start / visible_next
  node* cursor = nullptr;
  bool cursor_live = false;
};

visible_state s;

int visibility_value() {
  return visible_hook.perform_visibility ? visible_hook.perform_visibility() : perform_visibility();
}
int framerate_target() {
  return visible_hook.perform_framerate ? visible_hook.perform_framerate() : perform_framerate();
}

void make_key(uint8_t key[4], int x, int z) {
  auto ux = static_cast<uint16_t>(x), uz = static_cast<uint16_t>(z);
  key[0] = static_cast<uint8_t>(ux);
  key[1] = static_cast<uint8_t>(ux >> 8);
  key[2] = static_cast<uint8_t>(uz);
  key[3] = static_cast<uint8_t>(uz >> 8);
}

hash_table* table() {
  if (!s.index_table) s.index_table = hash_create(VISIBLE_BUCKETS);
  return s.index_table;
}

cell_data* find_cell(int x, int z) {
  if (!s.index_table) return nullptr;
  uint8_t key[4];
  make_key(key, x, z);
  hash_entry* e = hash_find(s.index_table, sizeof key, key);
  return e ? static_cast<cell_data*>(hash_entry_data(e)) : nullptr;
}

// The iteration must not stand on a node that goes away.
void forget_node(node* n) {
  if (s.cursor_live && s.cursor == n) s.cursor = n->next;
}

void destroy_list(cell_data* c) {
  node* n = c->first;
  c->first = nullptr;
  while (n) {
    node* next = n->next;
    forget_node(n);
    element_destroy(n->e);
    std::free(n);
    n = next;
  }
}

void remove_cell(int x, int z) {
  uint8_t key[4];
  make_key(key, x, z);
  hash_remove(s.index_table, sizeof key, key);
}

int distance_of(int entry) {
  if (entry < 0) entry = 0;
  if (entry > VISIBLE_RANGE_MAX) entry = VISIBLE_RANGE_MAX;
  return spiral().entries[entry].distance;
}

void pane_update() {
  if (s.pane && visible_hook.pane_text) visible_hook.pane_text(msg_arg_frame(kMessageRange, distance_of(s.range)));
}

// The nine nearest cells are kept whatever the range.
int kept_entries() { return std::max(s.range, static_cast<int>(VISIBLE_NEAREST)); }

void hide_if_invisible(element* e) {
  if (!s.reveal && element_clump(e) && !element_visible(e)) model_state_off(element_model_instance(e));
}

void load_cell(int x, int z) {
  hash_table* t = table();
  if (!t) return;
  uint8_t key[4];
  make_key(key, x, z);
  int found = 0;
  auto* c = hash_find_or_add_as<cell_data>(t, sizeof key, key, &found);
  if (!c) return;
  c->stale = 1;
  if (found) {
    VTRACE("cell already loaded");
    return;
  }
  c->first = nullptr;
  cell_start(x, z);
  element* e = nullptr;
  while (cell_next(&e)) {
    auto* n = static_cast<node*>(std::malloc(sizeof(node)));
    if (!n) {
      element_destroy(e);
      break;
    }
    n->e = e;
    n->next = c->first;
    c->first = n;
    VTRACE("element_loaded");
    hide_if_invisible(e);
  }
}

void do_work() {
  if (s.budget <= 0) s.budget += kBudgetStep;
  if (s.budget < kBudgetFloor) s.budget = kBudgetFloor;
  bool moving = self_moving();
  VTRACE("visible: do_work (budget: %d, moving: %d, current_cell: %d, range: %d)", s.budget, moving ? 1 : 0,
         s.index, s.range);
  for (;;) {
    if (s.index >= VISIBLE_NEAREST && s.index >= s.range) {
      s.work_done = s.index == s.range;
      VTRACE(s.work_done ? "work done" : "work not done");
      return;
    }
    if (s.index >= VISIBLE_NEAREST && s.budget <= 0) {
      VTRACE("work not done");
      s.work_done = false;
      return;
    }
    if (moving && s.index > VISIBLE_MOVING_LIMIT) {
      VTRACE("work done");
      s.work_done = true;
      return;
    }
    uint32_t start = platform_ticks();
    const visible_offset& o = spiral().entries[s.index];
    int x = static_cast<int16_t>(s.cell_x + o.dx), z = static_cast<int16_t>(s.cell_z + o.dz);
    ++s.index;
    VTRACE("loading cell at (%d, %d)...", x, z);
    load_cell(x, z);
    s.budget -= tick_diff(start, platform_ticks());
  }
}

void commit_changes() {
  VTRACE("commit_changes");
  model_flush();
  s.last_commit = tick_now();
  VTRACE("visible: clean_up");
  if (!s.dirty || !s.index_table) {
    VTRACE("no cleanup needed");
    return;
  }
  int kept = kept_entries();
  for (int i = 0; i < kept; ++i) {
    const visible_offset& o = spiral().entries[i];
    cell_data* c = find_cell(static_cast<int16_t>(s.cell_x + o.dx), static_cast<int16_t>(s.cell_z + o.dz));
    if (c) c->stale = 0;
  }
  hash_iterator* it = hash_iterator_create(s.index_table);
  while (hash_entry* e = hash_iterator_next(it)) {
    auto* c = static_cast<cell_data*>(hash_entry_data(e));
    if (c->stale) {
      VTRACE("deleting cell");
      destroy_list(c);
      hash_iterator_remove(it);
    } else {
      c->stale = 1;
    }
  }
  s.dirty = false;
  VTRACE("clean_up done");
}

void increase_range(int d) {
  VTRACE("visible: increase_range (%d)", d);
  int step = std::min((15 / s.factor) * d, 50);
  s.range = std::min(s.range + step, static_cast<int>(VISIBLE_RANGE_MAX));
  s.work_done = false;
  pane_update();
}

void decrease_range(int d) {
  VTRACE("visible: decrease_range (%d)", d);
  s.range = std::max(s.range + (-15 / s.factor) * d, s.minimum);
  if (s.index > s.range) s.index = s.range;
  s.dirty = true;
  pane_update();
}

// Every listed node of every loaded cell.
template <typename F>
void for_each_node(F f) {
  if (!s.index_table) return;
  hash_iterator* it = hash_iterator_create(s.index_table);
  while (hash_entry* entry = hash_iterator_next(it)) {
    auto* c = static_cast<cell_data*>(hash_entry_data(entry));
    for (node* n = c->first; n; n = n->next)
      if (f(c, n)) {
        hash_iterator_destroy(it);
        return;
      }
  }
}

// Unlinks (without destroying) the node of that clump; its cell in *x, *z.
element* unlink_clump(VxClump* clump, int* x, int* z) {
  if (!clump || !s.index_table) return nullptr;
  element* found = nullptr;
  hash_iterator* it = hash_iterator_create(s.index_table);
  while (hash_entry* entry = hash_iterator_next(it)) {
    auto* c = static_cast<cell_data*>(hash_entry_data(entry));
    for (node** link = &c->first; *link; link = &(*link)->next) {
      node* n = *link;
      if (element_clump(n->e) != clump) continue;
      const uint8_t* key = hash_entry_key(entry);
      if (x) *x = static_cast<int16_t>(key[0] | key[1] << 8);
      if (z) *z = static_cast<int16_t>(key[2] | key[3] << 8);
      *link = n->next;
      forget_node(n);
      found = n->e;
      std::free(n);
      hash_iterator_destroy(it);
      return found;
    }
  }
  return nullptr;
}

}  // namespace

const visible_offset* visible_spiral() { return spiral().entries; }

int visible_minimum_for(int value) {
  for (int i = 0; i < VISIBLE_RANGE_MAX; ++i)
    if (spiral().entries[i].distance > value) return i - 1 < 0 ? 0 : i - 1;
  return VISIBLE_RANGE_MAX;
}

void set_minimum_range() {
  int value = visibility_value();
  VTRACE("visible: set_minimum_range (%d)", value);
  s.remembered_visibility = value;
  s.minimum = visible_minimum_for(value);
  if (s.range < s.minimum) s.range = s.minimum;
}

void visible_init() {
  GTRACE("visible_init");
  s.factor = 1;
  world_hook.visible_set_load_factor = visible_set_load_factor;
  cell_set_element_create(element_create);
  set_minimum_range();
  if (show_setting("visibility") == 1) visible_toggle();
  table();
}

void visible_update() {
  if (trace_frames()) log_write("visible_update");
  if (!world_connected() || self_gliding()) return;
  visible_pass();
}

void visible_pass() {
  uint32_t now = tick_now();
  if (!prop_query_in_progress() && tick_diff(s.last_commit, now) > VISIBLE_INTERVAL) {
    if (visibility_value() != s.remembered_visibility) set_minimum_range();
    if (visible_hook.frame_rate) {
      double r = visible_hook.frame_rate();
      double t = framerate_target();
      if (r < t - 1)
        decrease_range(static_cast<int>(t - r));
      else if (r > t + 1)
        increase_range(static_cast<int>(r - t));
    }
  }
  int x = cell_from_coordinate(self_get_x()), z = cell_from_coordinate(self_get_z());
  bool changed = false;
  if (s.restart || x != s.cell_x || z != s.cell_z) {
    s.dirty = true;
    s.restart = false;
    s.cell_x = static_cast<int16_t>(x);
    s.cell_z = static_cast<int16_t>(z);
    changed = true;
  }
  if (s.index < kept_entries()) {
    do_work();
    if (s.work_done || s.index < VISIBLE_MOVING_LIMIT) commit_changes();
  } else {
    s.work_done = true;
  }
  if (changed) {
    s.index = 0;
    s.work_done = false;
  } else if (tick_diff(s.last_commit, now) > VISIBLE_INTERVAL) {
    commit_changes();
  }
}

void visible_reset() {
  GTRACE("visible_reset");
  hash_clear(s.index_table, [](void* d) { destroy_list(static_cast<cell_data*>(d)); });
  s.cursor = nullptr;
  s.cursor_live = false;
  s.restart = true;
  s.index = 0;
}

void visible_invalidate(int x, int z) {
  VTRACE("visible_invalidate (%d, %d)", x, z);
  cell_data* c = find_cell(x, z);
  if (!c) return;
  destroy_list(c);
  remove_cell(x, z);
  s.index = 0;
}

void visible_consider(element* e) {
  if (!e) return;
  int x = cell_from_coordinate(element_x(e)), z = cell_from_coordinate(element_z(e));
  VTRACE("visible_consider (%d, %d)", x, z);
  cell_data* c = find_cell(x, z);
  if (c) {
    bool present = false;
    for (node* n = c->first; n && !present; n = n->next) present = element_number(n->e) == element_number(e);
    if (!present) {
      auto* n = static_cast<node*>(std::malloc(sizeof(node)));
      if (n) {
        n->e = e;
        n->next = c->first;
        c->first = n;
        commit_changes();
        return;
      }
    }
  }
  element_destroy(e);
}

void visible_delete(int x, int z, int32_t number) {
  VTRACE("visible_delete (%d, %d, %d)", x, z, number);
  cell_data* c = find_cell(x, z);
  if (!c) return;
  for (node** link = &c->first; *link; link = &(*link)->next) {
    node* n = *link;
    if (element_number(n->e) != number) continue;
    *link = n->next;
    forget_node(n);
    element_destroy(n->e);
    std::free(n);
    return;
  }
}

element* visible_element(VxClump* clump) {
  VTRACE("visible_element");
  if (!clump) return nullptr;
  element* found = nullptr;
  for_each_node([&](cell_data*, node* n) {
    if (element_clump(n->e) != clump) return false;
    found = n->e;
    return true;
  });
  return found;
}

int visible_ignore(VxClump* clump, int* x, int* z, element** out) {
  VTRACE("visible_ignore");
  element* e = unlink_clump(clump, x, z);
  if (out) *out = e;
  return e ? 1 : 0;
}

element** visible_ignore_all(int x, int z) {
  VTRACE("visible_ignore_all (%d, %d)", x, z);
  cell_data* c = find_cell(x, z);
  if (!c || !c->first) return nullptr;
  size_t count = 0;
  for (node* n = c->first; n; n = n->next) ++count;
  auto* list = static_cast<element**>(std::malloc((count + 1) * sizeof(element*)));
  if (!list) return nullptr;
  size_t i = 0;
  node* n = c->first;
  c->first = nullptr;
  while (n) {
    node* next = n->next;
    forget_node(n);
    list[i++] = n->e;
    std::free(n);
    n = next;
  }
  list[i] = nullptr;
  return list;
}

void visible_start(int x, int z) {
  cell_data* c = find_cell(x, z);
  s.cursor = c ? c->first : nullptr;
  s.cursor_live = c != nullptr;
}

VxClump* visible_next(element** out) {
  if (out) *out = nullptr;
  if (!s.cursor_live || !s.cursor) {
    s.cursor_live = false;
    return nullptr;
  }
  node* n = s.cursor;
  VxClump* clump = element_clump(n->e);
  if (!clump) {
    s.cursor = nullptr;
    s.cursor_live = false;
    return nullptr;
  }
  s.cursor = n->next;
  if (out) *out = n->e;
  return clump;
}

void visible_toggle() {
  GTRACE("visible_toggle");
  s.pane = !s.pane;
  if (visible_hook.pane_show) visible_hook.pane_show(s.pane, kPaneWeight);
  pane_update();
  if (visible_hook.menu_check) visible_hook.menu_check(kMenuItem, s.pane);
  profile_set_int("show", "visibility", s.pane ? 1 : 0);
}

void visible_set_load_factor(int factor) { s.factor = factor < 1 ? 1 : factor; }

void visible_reveal_hidden() {
  if (s.reveal) return;
  s.reveal = true;
  for_each_node([](cell_data*, node* n) {
    if (!element_visible(n->e) && element_clump(n->e)) model_state_on(element_model_instance(n->e));
    return false;
  });
}

void visible_conceal_hidden() {
  if (!s.reveal) return;
  s.reveal = false;
  for_each_node([](cell_data*, node* n) {
    if (!element_visible(n->e) && element_clump(n->e)) model_state_off(element_model_instance(n->e));
    return false;
  });
}

void visible_element_shown(element* e) {
  if (!s.reveal && e) model_state_on(element_model_instance(e));
}

void visible_element_hidden(element* e) {
  if (!s.reveal && e) model_state_off(element_model_instance(e));
}

int visible_range() { return s.range; }
int visible_minimum_range() { return s.minimum; }
int visible_index() { return s.index; }
int visible_factor() { return s.factor; }
int visible_budget() { return s.budget; }
bool visible_pane_shown() { return s.pane; }
bool visible_revealing() { return s.reveal; }
bool visible_cell_loaded(int x, int z) { return find_cell(x, z) != nullptr; }
int visible_loaded_cells() { return s.index_table ? s.index_table->count : 0; }
int visible_cell_count(int x, int z) {
  cell_data* c = find_cell(x, z);
  int n = 0;
  for (node* p = c ? c->first : nullptr; p; p = p->next) ++n;
  return n;
}
void visible_set_range(int range) { s.range = std::clamp(range, s.minimum, static_cast<int>(VISIBLE_RANGE_MAX)); }

void visible_term() {
  visible_reset();
  if (s.index_table) hash_destroy(s.index_table);
  s = visible_state{};
}
