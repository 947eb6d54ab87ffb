#include "client/servers/history.h"

#include <string>
#include <vector>

#include "client/scene/camera.h"
#include "client/servers/teleport.h"
#include "client/servers/world.h"

history_hooks history_hook{};

namespace {

struct place {
  std::string world;
  float x = 0, y = 0, z = 0, yaw = 0;
  int third_person = 0;
  int flying = 0;
};

// Oldest first; the current entry is the place where the user is now.
std::vector<place> entries;
int current = -1;

float get(float (*fn)()) { return fn ? fn() : 0.0f; }

void enable(int id, bool on) {
  if (history_hook.toolbar_enable) history_hook.toolbar_enable(id, on ? 1 : 0);
  if (history_hook.menu_enable) history_hook.menu_enable(id, on ? 1 : 0);
}

void save_current() {
  place& e = entries[static_cast<size_t>(current)];
  e.x = get(teleport_hook.self_get_x);
  e.y = get(teleport_hook.self_get_y);
  e.z = get(teleport_hook.self_get_z);
  e.yaw = get(teleport_hook.self_get_yaw);
  e.flying = teleport_hook.self_flying ? teleport_hook.self_flying() : 0;
  e.third_person = camera_tracking_self() ? 1 : 0;
}

// Moves to the entry at index and restores what was in effect when it was left.
void go_to(int index) {
  save_current();
  current = index;
  place e = entries[static_cast<size_t>(index)];
  teleport(e.world.c_str(), e.x, e.y, e.z, e.yaw, 0);
  if (e.third_person)
    camera_track_self(0);
  else
    camera_track_ahead();
  if (teleport_hook.self_set_flying) teleport_hook.self_set_flying(e.flying);
}

}  // namespace

void history_add() {
  const char* name = world_name();
  if (!name || !*name) return;
  if (current < 0) {
    entries.clear();
    place first;
    first.world = name;
    entries.push_back(first);
    current = 0;
  }
  entries.resize(static_cast<size_t>(current) + 1);
  enable(HISTORY_FORWARD, false);
  enable(HISTORY_BACK, true);
  save_current();
  place next;
  next.world = name;
  entries.push_back(next);
  current = static_cast<int>(entries.size()) - 1;
}

void history_set_world(const char* name) {
  if (current < 0) return;
  entries[static_cast<size_t>(current)].world = name ? name : "";
}

bool history_can_back() { return current > 0; }
bool history_can_forward() { return current >= 0 && current + 1 < static_cast<int>(entries.size()); }

int history_back() {
  if (!history_can_back()) return 0;
  go_to(current - 1);
  enable(HISTORY_FORWARD, true);
  if (!history_can_back()) enable(HISTORY_BACK, false);
  return 1;
}

int history_forward() {
  if (!history_can_forward()) return 0;
  go_to(current + 1);
  enable(HISTORY_BACK, true);
  if (!history_can_forward()) enable(HISTORY_FORWARD, false);
  return 1;
}

int history_count() { return static_cast<int>(entries.size()); }
int history_current() { return current; }

bool history_entry(int index, history_entry_view* out) {
  if (index < 0 || index >= static_cast<int>(entries.size()) || !out) return false;
  const auto& e = entries[static_cast<size_t>(index)];
  *out = {e.world.c_str(), e.x, e.y, e.z, e.yaw, e.third_person, e.flying};
  return true;
}

void history_reset() {
  entries.clear();
  current = -1;
}
