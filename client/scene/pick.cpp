#include "client/scene/pick.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "client/core/keys.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/random.h"
#include "client/core/tessel.h"
#include "client/scene/element.h"
#include "client/scene/model.h"
#include "client/scene/pdialog.h"
#include "client/scene/prop.h"
#include "client/scene/scene.h"
#include "client/scene/self.h"
#include "client/scene/visible.h"
#include "client/servers/world.h"
#include "engine/vxl21.h"
#include "platform/host.h"

pick_hooks pick_hook = {};

namespace {

#define PTRACE(...) LOG_TRACE(TRACE_GENERAL, __VA_ARGS__)

constexpr int VK_SHIFT_KEY = 0x10;
constexpr int VK_CONTROL_KEY = 0x11;
constexpr size_t TEXT_MAX = 256;  // the dialog's edits give at most 255 bytes

struct entry {
  element* e;
  VxClump* highlight;
  int16_t cell_x, cell_z;
  double x, y, z;
  float yaw;
  int32_t number;
  int32_t is_new;
  int32_t changed;
};

struct state {
  std::vector<entry> selection;  // newest first
  VxClump* highlight_template = nullptr;
  int building = 0;
  int quadrant = 0;
};
state s;

const double PI = 3.14159265358979323846;

void place_clump(VxClump* clump, double x, double y, double z, float yaw) {
  if (!clump) return;
  VxMatrix* m = VxScratchMatrix();
  VxRotateMatrix(m, 0, 1, 0, yaw, VX_REPLACE);
  VxTranslateMatrix(m, static_cast<VxReal>(x), static_cast<VxReal>(y), static_cast<VxReal>(z), VX_POSTCONCAT);
  VxTransformClump(clump, m, VX_REPLACE);
}

void place_all() {
  PTRACE("pick: place");
  for (entry& n : s.selection)
    place_clump(element_clump(n.e), element_x(n.e), element_y(n.e), element_z(n.e), element_yaw(n.e));
}

void adjust_highlight(entry& n) {
  PTRACE("pick: adjust_highlight");
  if (!n.highlight) return;
  VxVector lo{0, 0, 0}, hi{0, 0, 0};
  model_get_bbox(element_model_instance(n.e), &lo, &hi);
  VxReal sx = std::fmax(hi.x - lo.x, 0.01f), sy = std::fmax(hi.y - lo.y, 0.01f), sz = std::fmax(hi.z - lo.z, 0.01f);
  VxMatrix* m = VxScratchMatrix();
  VxScaleMatrix(m, sx, sy, sz, VX_REPLACE);
  VxTranslateMatrix(m, (lo.x + hi.x) / 2, (lo.y + hi.y) / 2, (lo.z + hi.z) / 2, VX_POSTCONCAT);
  VxTransformClumpJoint(n.highlight, m, VX_REPLACE);
}

// 1 when selected. Under the old protocol only one object at a time.
int select_element(int cell_x, int cell_z, element* e, int is_new) {
  if (!e) return 0;
  if (prop_get_old() && !s.selection.empty()) return 0;
  entry n{};
  n.e = e;
  n.highlight = s.highlight_template ? VxDuplicateClump(s.highlight_template) : nullptr;
  n.cell_x = static_cast<int16_t>(cell_x);
  n.cell_z = static_cast<int16_t>(cell_z);
  n.x = element_x(e);
  n.y = element_y(e);
  n.z = element_z(e);
  n.yaw = element_yaw(e);
  n.number = element_number(e);
  n.is_new = is_new;
  n.changed = 0;
  adjust_highlight(n);
  s.selection.insert(s.selection.begin(), n);
  return 1;
}

void drop(size_t i) {
  entry& n = s.selection[i];
  element_destroy(n.e);
  if (n.highlight) VxDestroyClump(n.highlight);
  s.selection.erase(s.selection.begin() + static_cast<std::ptrdiff_t>(i));
}

void remove_keep_element(size_t i) {
  if (s.selection[i].highlight) VxDestroyClump(s.selection[i].highlight);
  s.selection.erase(s.selection.begin() + static_cast<std::ptrdiff_t>(i));
}

void show_result(int code, int message) {
  if (code == 429 || code == 439) {
    msg_print_titled(pick_hook.console_print, 2, 125, msg(13));
    return;
  }
  note("%s", msg_arg(message, code));
}

bool same_text(const char* a, int a_length, const char* b) {
  size_t b_length = strlen(b);
  if (a_length < 0) a_length = 0;
  if (static_cast<size_t>(a_length) != b_length) return false;
  return b_length == 0 || memcmp(a, b, b_length) == 0;
}

void copy_text(char* out, const char* text, int length) {
  if (length < 0 || !text) length = 0;
  if (length > static_cast<int>(TEXT_MAX) - 1) length = static_cast<int>(TEXT_MAX) - 1;
  memcpy(out, text ? text : "", static_cast<size_t>(length));
  out[length] = 0;
}

// Commits entry i and takes it off the selection.
void deselect(size_t i) {
  PTRACE("pick: deselect");
  entry n = s.selection[i];
  element* e = n.e;
  char model[TEXT_MAX], description[TEXT_MAX], action[TEXT_MAX];
  int32_t owner;
  // The dialog edits only ever belong to a lone selected object.
  if (pdialog_enabled() && s.selection.size() == 1) {
    pdialog_model(model, sizeof model);
    pdialog_description(description, sizeof description);
    pdialog_action(action, sizeof action);
    owner = pdialog_owner();
  } else {
    copy_text(model, element_model(e), element_model_length(e));
    copy_text(description, element_description(e), element_description_length(e));
    copy_text(action, element_action(e), element_action_length(e));
    owner = element_owner(e);
  }
  if (owner != element_owner(e)) n.changed = 1;
  if (!n.is_new && !n.changed) {
    if (!same_text(element_model(e), element_model_length(e), model) ||
        !same_text(element_description(e), element_description_length(e), description) ||
        !same_text(element_action(e), element_action_length(e), action))
      n.changed = 1;
  }
  bool old = prop_get_old() != 0;
  if ((!n.is_new && !n.changed) || model[0] == 0) {
    if (n.is_new) {
      // A copy never sent has no place in the world to go back to.
      drop(i);
      return;
    }
    if (!old) element_set_number(e, n.number);
    remove_keep_element(i);
    visible_consider(e);
    return;
  }
  int32_t number = old ? element_number(e) : static_cast<int32_t>(random_next());
  element* fresh = element_create(element_x(e), element_y(e), element_z(e), element_yaw(e),
                                  static_cast<int>(strlen(model)), model, static_cast<int>(strlen(description)),
                                  description, static_cast<int>(strlen(action)), action, number, owner,
                                  element_build_time(e));
  if (!fresh) {
    // Out of memory: the object stays as it was locally rather than being lost.
    remove_keep_element(i);
    if (n.is_new)
      element_destroy(e);
    else
      visible_consider(e);
    return;
  }
  int rc = n.is_new ? prop_add(fresh) : prop_change(n.cell_x, n.cell_z, fresh, n.number);
  if (rc) show_result(rc, n.is_new ? 252 : 253);
  remove_keep_element(i);
  element_destroy(e);
  visible_consider(fresh);
}

void deselect_all() {
  while (!s.selection.empty()) deselect(0);
}

void deselect_all_but(element* keep) {
  for (size_t i = 0; i < s.selection.size();) {
    if (s.selection[i].e == keep)
      ++i;
    else
      deselect(i);
  }
}

void update_dialog() {
  if (s.selection.empty())
    pdialog_hide();
  else if (s.selection.size() == 1)
    pdialog_enable(s.selection[0].e);
  else
    pdialog_show();
}

int find_clump(VxClump* clump) {
  for (size_t i = 0; i < s.selection.size(); ++i)
    if (element_clump(s.selection[i].e) == clump) return static_cast<int>(i);
  return -1;
}

void take_quadrant() {
  long long yaw = static_cast<long long>(self_get_yaw());
  long long v = ((yaw + 18045) % 360 + 360) % 360;
  s.quadrant = static_cast<int>(v / 90);
}

void select_cell(int cell_x, int cell_z) {
  element** all = visible_ignore_all(cell_x, cell_z);
  if (!all) return;
  for (element** p = all; *p; ++p)
    if (!select_element(cell_x, cell_z, *p, 0)) visible_consider(*p);
  free(all);
}

void move(int a, double step) {
  if (s.selection.empty()) return;
  double yaw0 = element_yaw(s.selection[0].e);
  double angle = (std::fmod(yaw0 + 18045, 90) - 45 + 90 * a) * PI / 180;
  for (entry& n : s.selection) {
    element_set_x(n.e, element_x(n.e) + std::sin(angle) * step);
    element_set_z(n.e, element_z(n.e) + std::cos(angle) * step);
    n.changed = 1;
  }
}

void turn(double d) {
  if (pdialog_enabled() && s.selection.size() == 1) {
    entry& n = s.selection[0];
    element_set_yaw(n.e, static_cast<float>(element_yaw(n.e) + d));
    n.changed = 1;
    return;
  }
  double lx = element_x(s.selection[0].e), hx = lx, lz = element_z(s.selection[0].e), hz = lz;
  for (entry& n : s.selection) {
    lx = std::fmin(lx, element_x(n.e));
    hx = std::fmax(hx, element_x(n.e));
    lz = std::fmin(lz, element_z(n.e));
    hz = std::fmax(hz, element_z(n.e));
  }
  double mx = (lx + hx) / 2, mz = (lz + hz) / 2;
  double t = -d * PI / 180, c = std::cos(t), sn = std::sin(t);
  for (entry& n : s.selection) {
    double x = element_x(n.e) - mx, z = element_z(n.e) - mz;
    element_set_x(n.e, c * x - sn * z + mx);
    element_set_z(n.e, sn * x + c * z + mz);
    element_set_yaw(n.e, static_cast<float>(element_yaw(n.e) + d));
    n.changed = 1;
  }
}

void delete_all() {
  PTRACE("pick: delete_all");
  bool old = prop_get_old() != 0;
  while (!s.selection.empty()) {
    entry& n = s.selection[0];
    if (!n.is_new) {
      int rc = prop_delete(n.cell_x, n.cell_z, old ? element_number(n.e) : n.number);
      if (rc) note("%s", msg_arg(254, rc));
    }
    drop(0);
  }
  pdialog_hide();
}

void duplicate() {
  if (!pdialog_enabled() || s.selection.size() != 1) return;
  PTRACE("pick: duplicate");
  element* copy = element_duplicate(s.selection[0].e);
  if (!copy) return;
  deselect(0);
  if (!select_element(0, 0, copy, 1)) {
    element_destroy(copy);
    update_dialog();
    return;
  }
  pdialog_enable(copy);
  move(s.quadrant, 0.05);
  model_flush();
}

void undo() {
  for (size_t i = 0; i < s.selection.size();) {
    entry& n = s.selection[i];
    if (n.is_new) {
      drop(i);
      continue;
    }
    element_set_x(n.e, n.x);
    element_set_y(n.e, n.y);
    element_set_z(n.e, n.z);
    element_set_yaw(n.e, n.yaw);
    element_set_number(n.e, n.number);
    n.changed = 0;
    ++i;
  }
  if (s.selection.empty())
    pdialog_hide();
  else if (pdialog_enabled())
    pdialog_reset_texts();
}

void building_hook(int enabled) {
  if (enabled)
    pick_enable();
  else
    pick_disable();
}

}  // namespace

void pick_init() {
  PTRACE("pick_init");
  // Always a new template: one kept from an earlier 3D start went with the engine's shutdown.
  VxBeginModel();
  VxBeginClump();
  VxSetModelSurface(0.75f, 0, 0);
  VxSetModelColor(1, 1, 0);
  VxSetModelLevel(128);
  VxSetModelMode(2);
  VxAddBlock(1, 1, 1);
  s.highlight_template = VxEndClump();
  VxEndModel();
  s.selection.clear();
  self_hook.pick_off = pick_off;
  self_hook.pick_selected = pick_has_selection;
  world_hook.pick_building = building_hook;
  prop_hook.pick_object_gone = pick_object_gone;
}

int pick_at(int x, int y) {
  PTRACE("pick_at");
  if (!prop_get_old() && !s.building) return 0;
  Host* h = host();
  bool shift = h->key_down(VK_SHIFT_KEY), control = h->key_down(VK_CONTROL_KEY);
  VxClump* clump = scene_pick(x, y);
  if (!clump) {
    if (!shift) pick_off();
    return 0;
  }
  int index = find_clump(clump);
  if (index >= 0 && !control) {
    if (shift)
      deselect(static_cast<size_t>(index));
    else if (pdialog_enabled())
      pick_off();
    else
      deselect_all_but(s.selection[static_cast<size_t>(index)].e);
    update_dialog();
    return 1;
  }
  if (index >= 0) {
    // Control on a selected object: its cell joins; the object itself stays selected.
    entry& n = s.selection[static_cast<size_t>(index)];
    int cell_x = n.cell_x, cell_z = n.cell_z;
    if (!shift) deselect_all_but(n.e);
    if (!prop_get_old()) select_cell(cell_x, cell_z);
  } else {
    int cell_x = 0, cell_z = 0;
    element* e = nullptr;
    if (!visible_ignore(clump, &cell_x, &cell_z, &e) || !e) {
      pick_off();
      return 0;
    }
    if (!shift) deselect_all();
    if (!select_element(cell_x, cell_z, e, 0)) {
      visible_consider(e);
      return 0;
    }
    if (control && !prop_get_old()) select_cell(cell_x, cell_z);
  }
  visible_reveal_hidden();
  update_dialog();
  take_quadrant();
  return 1;
}

void pick_command(int command) {
  PTRACE("pick_command (%d)", command);
  if (s.selection.empty()) return;
  bool fine = host()->key_down(VK_SHIFT_KEY);
  double step = fine ? 0.005 : 0.05;
  double angle = fine ? 1.5 : 15;
  switch (command) {
    case PICK_DELETE: delete_all(); break;
    case PICK_DUPLICATE: duplicate(); break;
    case PICK_RAISE:
    case PICK_LOWER:
      for (entry& n : s.selection) {
        element_set_y(n.e, element_y(n.e) + (command == PICK_RAISE ? step : -step));
        n.changed = 1;
      }
      break;
    case PICK_MOVE_AWAY: move(s.quadrant, step); break;
    case PICK_MOVE_TOWARD: move((s.quadrant + 2) % 4, step); break;
    case PICK_MOVE_RIGHT: move((s.quadrant + 1) % 4, step); break;
    case PICK_MOVE_LEFT: move((s.quadrant + 3) % 4, step); break;
    case PICK_TURN_LEFT: turn(angle); break;
    case PICK_TURN_RIGHT: turn(-angle); break;
    case PICK_UNDO: undo(); break;
    default: break;
  }
  place_all();
}

void pick_off() {
  PTRACE("pick_off");
  if (!s.selection.empty()) {
    deselect_all();
    key_reset();
    pdialog_hide();
  }
  visible_conceal_hidden();
  host()->window_focus();
}

void pick_update() {
  if (tessel_in_background()) return;
  if (trace_frames()) log_write("pick_update");
  for (entry& n : s.selection) {
    if (!n.highlight) continue;
    place_clump(n.highlight, element_x(n.e), element_y(n.e), element_z(n.e), element_yaw(n.e));
    VxRenderClump(n.highlight);
  }
}

void pick_object_gone(int cell_x, int cell_z, int32_t number) {
  for (size_t i = 0; i < s.selection.size(); ++i) {
    entry& n = s.selection[i];
    if (n.is_new || n.cell_x != cell_x || n.cell_z != cell_z) continue;
    if (n.number != number && element_number(n.e) != number) continue;
    drop(i);
    if (s.selection.empty()) pdialog_hide();
    return;
  }
}

int pick_has_selection() { return s.selection.empty() ? 0 : 1; }

void pick_reset() {
  while (!s.selection.empty()) drop(0);
  pdialog_hide();
}

void pick_enable() { s.building = 1; }

void pick_disable() {
  s.building = 0;
  if (!prop_get_old() && !s.selection.empty()) {
    deselect_all();
    pdialog_hide();
  }
}

int pick_count() { return static_cast<int>(s.selection.size()); }
element* pick_element(int index) {
  if (index < 0 || index >= static_cast<int>(s.selection.size())) return nullptr;
  return s.selection[static_cast<size_t>(index)].e;
}
int pick_building() { return s.building; }
int pick_quadrant() { return s.quadrant; }

void pick_term() {
  while (!s.selection.empty()) drop(0);
  if (s.highlight_template) VxDestroyClump(s.highlight_template);
  s.highlight_template = nullptr;
  s.building = 0;
  s.quadrant = 0;
}
