#include "client/servers/teleport.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "client/core/allow_hook.h"
#include "client/core/cgi.h"
#include "client/core/dialog.h"
#include "client/core/files.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/page_window.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/tessel.h"
#include "client/scene/behavior.h"
#include "client/scene/self.h"
#include "client/scene/sound.h"
#include "client/servers/attributes.h"
#include "client/servers/history.h"
#include "client/servers/prompt.h"
#include "client/servers/universe.h"
#include "client/servers/world.h"
#include "platform/progdir.h"

#define TRACE(...) LOG_TRACE(TRACE_GENERAL, __VA_ARGS__)

const char* const teleport_built_in_world = "tz";
const char* const teleport_file_name = "teleport.txt";
const char* const teleport_sound = "deport1.wav";

TeleportTreeView::~TeleportTreeView() = default;

teleport_hooks teleport_default_hooks() {
  teleport_hooks h{};
  h.self_set_position = [](float x, float y, float z, float yaw) { self_set_position(x, y, z, yaw); };
  h.self_get_x = [] { return static_cast<float>(self_get_x()); };
  h.self_get_y = [] { return static_cast<float>(self_get_y()); };
  h.self_get_z = [] { return static_cast<float>(self_get_z()); };
  h.self_get_yaw = [] { return static_cast<float>(self_get_yaw()); };
  h.self_flying = [] { return self_flying() ? 1 : 0; };
  h.self_set_flying = [](int flying) { self_set_flying(flying != 0); };
  h.self_position_text = self_position_text;
  h.behavior_post = behavior_post;
  h.sound_effect = sound_effect;
  h.prompt_text_small = prompt_text_small;
  return h;
}

teleport_hooks teleport_hook = teleport_default_hooks();

namespace {

struct teleport_module : PageWindow<TeleportTreeView> {
  // The pending teleport.
  bool waiting = false;
  std::string waiting_name;
  float x = 0, y = 0, z = 0, yaw = 0;
  std::string current_target;
  bool in_progress = false;
  int enter_result = 0;  // world_enter's own refusal of the current attempt
  int stage = TELEPORT_STAGE_START;
  bool warp = false;
  bool within_allowed = false;
  bool silent = false;

  // The remembered teleports, newest first.
  std::vector<teleport_entry> entries;
  intptr_t right_item = 0;
  bool rename_started = false;
  std::string dialog_coordinates;  // pre-filled by the tree's menu for the next dialog
};

teleport_module* t = nullptr;
teleport_tree_maker tree_maker = nullptr;

teleport_module& mod() {
  if (!t) t = new teleport_module();
  return *t;
}

std::string file_path() { return platform_program_dir() + "/" + teleport_file_name; }

void post(const char* text) {
  if (teleport_hook.behavior_post) teleport_hook.behavior_post(text);
}

void set_position(float x, float y, float z, float yaw) {
  if (teleport_hook.self_set_position) teleport_hook.self_set_position(x, y, z, yaw);
}

float get(float (*fn)()) { return fn ? fn() : 0.0f; }

void own_position(float* x, float* y, float* z, float* yaw) {
  *x = get(teleport_hook.self_get_x);
  *y = get(teleport_hook.self_get_y);
  *z = get(teleport_hook.self_get_z);
  *yaw = get(teleport_hook.self_get_yaw);
}

void console_line(const char* header, const char* text) {
  if (!teleport_hook.console_print) return;
  char line[1024];
  std::snprintf(line, sizeof line, "%s: %s", header, text);
  teleport_hook.console_print(3, line);
}

// The label as a single line: the file holds one entry per line.
std::string one_line(const char* text) {
  std::string s = text ? text : "";
  size_t cut = s.find_first_of("\r\n");
  if (cut != std::string::npos) s.resize(cut);
  return s;
}

bool label_less(const teleport_entry* a, const teleport_entry* b) {
  return strcasecmp(a->label.c_str(), b->label.c_str()) < 0;
}

teleport_entry* entry_of(intptr_t item) {
  if (!item) return nullptr;
  for (auto& e : mod().entries)
    if (e.item == item) return &e;
  return nullptr;
}

void save_list() { teleport_save(file_path().c_str()); }

// ---- dialogs --------------------------------------------------------------------------

class TeleportDialog : public DialogController {
 public:
  TeleportDialog(const char* world, std::string coordinates)
      : world_(world ? world : world_name()), coordinates_(std::move(coordinates)) {}

  void init(DialogView& v) override {
    static const dialog_label labels[] = {
        {TELEPORT_WORLD_LABEL, 435}, {TELEPORT_COORDINATES_LABEL, 436}, {TELEPORT_HINT_LABEL, 437},
        {DIALOG_OK, 136},           {DIALOG_CANCEL, 137},
    };
    v.set_title(msg(434));
    dialog_apply_labels(v, labels);
    v.limit(TELEPORT_WORLD, TELEPORT_FIELD_LIMIT);
    v.limit(TELEPORT_COORDINATES, TELEPORT_FIELD_LIMIT);
    v.set_text(TELEPORT_WORLD, world_.c_str());
    v.set_text(TELEPORT_COORDINATES, coordinates_.c_str());
  }

  void command(DialogView& v, int id) override {
    if (id == DIALOG_OK) {
      std::string world = v.text(TELEPORT_WORLD, TELEPORT_FIELD_LIMIT);
      std::string coordinates = v.text(TELEPORT_COORDINATES, TELEPORT_FIELD_LIMIT);
      char command[2 * TELEPORT_FIELD_LIMIT + 16];
      std::snprintf(command, sizeof command, "teleport %s %s", world.c_str(), coordinates.c_str());
      post(command);
      v.end(DIALOG_OK);
    } else if (id == DIALOG_CANCEL) {
      v.end(DIALOG_CANCEL);
    }
  }

 private:
  std::string world_;
  std::string coordinates_;
};

// The typed text, or false when cancelled.
bool prompt(const char* title, const char* label, const char* text, std::string* out) {
  const char* r = teleport_hook.prompt_text_small ? teleport_hook.prompt_text_small(title, label, text) : nullptr;
  if (!r) return false;
  *out = r;
  return true;
}

// ---- the start-up chain ---------------------------------------------------------------

void to_default_world() {
  const char* name = universe_default_start_world();
  teleport(name && *name ? name : nullptr, 0, 0, 0, 0, 0);
  mod().stage = TELEPORT_STAGE_DEFAULT_WORLD;
}

void to_built_in_world() {
  teleport(teleport_built_in_world, 0, 0, 0, 0, 0);
  mod().stage = TELEPORT_STAGE_BUILT_IN;
}

void attempt_failed(int code) {
  teleport_module& m = mod();
  char text[MSG_ARG_SIZE];
  std::snprintf(text, sizeof text, "%s", world_error_text(code, m.current_target.c_str()));
  m.in_progress = false;
  switch (m.stage) {
    case TELEPORT_STAGE_COMMAND_OR_HOME:
      if (code == 27)
        note("%s", msg_arg(159, msg(68)));
      else
        note("%s", text);
      to_default_world();
      break;
    case TELEPORT_STAGE_DEFAULT_WORLD:
      to_built_in_world();
      break;
    case TELEPORT_STAGE_BUILT_IN:
      note("%s", code == 27 ? msg(184) : text);
      tessel_quit();
      break;
    default:
      if (code == 27) console_line(msg(160), text);
      if (!history_back()) {
        note("%s", text);
        tessel_quit();
      }
      break;
  }
}

void post_pending_command() {
  const char* command = cgi_get_teleport();
  if (!command) return;
  std::string copy = command;
  cgi_clear_teleport();
  post(copy.c_str());
}

// ---- the tree -------------------------------------------------------------------------

void fill_tree() {
  teleport_module& m = mod();
  for (auto& e : m.entries) e.item = 0;
  if (!m.view) return;
  m.view->set_redraw(false);
  m.view->clear();
  std::vector<teleport_entry*> order;
  order.reserve(m.entries.size());
  for (auto& e : m.entries) order.push_back(&e);
  std::stable_sort(order.begin(), order.end(), label_less);
  for (teleport_entry* e : order) e->item = m.view->add(e->label.c_str());
  m.view->set_redraw(true);
}

void open_dialog_for(const teleport_entry& e) {
  std::string world = e.place, rest;
  size_t blank = world.find(' ');
  if (blank != std::string::npos) {
    rest = world.substr(blank + 1);
    world.resize(blank);
  }
  mod().dialog_coordinates = rest;
  teleport_dialog(world.c_str());
}

}  // namespace

// ---- place texts and the file ----------------------------------------------------------

std::string teleport_place_text(const char* world, float x, float y, float z, float yaw) {
  char text[256];
  double ns = std::fabs(static_cast<double>(z));
  double we = std::fabs(static_cast<double>(x));
  char ns_c = z >= 0 ? 'N' : 'S';
  char we_c = x >= 0 ? 'W' : 'E';
  double heading = yaw < 0 ? static_cast<double>(yaw) + 360.0 : static_cast<double>(yaw);
  if (world)
    std::snprintf(text, sizeof text, "%s %.1f%c %.1f%c %.1fa %.0f", world, ns, ns_c, we, we_c,
                  static_cast<double>(y), heading);
  else
    std::snprintf(text, sizeof text, "%.1f%c %.1f%c %.1fa %.0f", ns, ns_c, we, we_c,
                  static_cast<double>(y), heading);
  return text;
}

int teleport_load(const char* path) {
  teleport_module& m = mod();
  m.entries.clear();
  // Only a regular file: a FIFO in its place would hold start-up until a writer came.
  std::string why;
  FILE* f = file_fopen_regular(path, &why);
  if (!f) {
    if (file_refused(errno)) log_note("%s is not read: %s", path, why.c_str());
    return 1;
  }
  std::string line;
  auto take = [&] {
    // Places and labels are used as C strings everywhere: a stray NUL ends the line.
    size_t nul = line.find('\0');
    if (nul != std::string::npos) line.resize(nul);
    size_t colon = line.find(':');
    if (colon != std::string::npos) {
      teleport_entry e;
      e.place = line.substr(0, colon);
      e.label = one_line(line.c_str() + colon + 1);
      m.entries.push_back(std::move(e));
    }
    line.clear();
  };
  int c;
  while ((c = std::fgetc(f)) != EOF) {
    if (c == '\n') {
      take();
      continue;
    }
    // A longer line is read cut to the limit; its rest is not a line of its own.
    if (line.size() < static_cast<size_t>(TELEPORT_LINE_LIMIT)) line.push_back(static_cast<char>(c));
  }
  if (!line.empty()) take();
  std::fclose(f);
  return 0;
}

// Written to a fresh temporary beside the file and renamed over it: a write that fails
// half-way (a full disk) leaves the old list whole, and nothing planted at a fixed name is
// followed.
int teleport_save(const char* path) {
  if (!path) return 1;
  std::string temp;
  FILE* f = file_create_fresh(path, &temp);
  if (!f) return 1;
  bool ok = true;
  for (const auto& e : mod().entries)
    if (std::fprintf(f, "%s:%s\n", e.place.c_str(), e.label.c_str()) < 0) ok = false;
  if (!ok) {
    file_discard_fresh(f, temp);
    return 1;
  }
  return file_commit_fresh(f, temp, path) ? 0 : 1;
}

size_t teleport_count() { return t ? t->entries.size() : 0; }
const teleport_entry* teleport_entry_at(size_t index) {
  return t && index < t->entries.size() ? &t->entries[index] : nullptr;
}
void teleport_refill() { fill_tree(); }

// ---- moving ---------------------------------------------------------------------------

void teleport(const char* name, float x, float y, float z, float yaw, int history) {
  TRACE("teleport (%s, %.2f, %.2f, %.2f, %.1f)", name ? name : "<null>", static_cast<double>(x),
        static_cast<double>(y), static_cast<double>(z), static_cast<double>(yaw));
  teleport_module& m = mod();
  if (name && strcasecmp(name, world_name()) != 0) m.warp = true;
  m.waiting = false;
  m.waiting_name.clear();
  if (!m.warp && !m.within_allowed) x = y = z = yaw = 0;
  m.warp = false;
  if (history) history_add();
  if (m.silent)
    m.silent = false;
  else if (teleport_hook.sound_effect)
    teleport_hook.sound_effect(teleport_sound);
  if (name) {
    m.waiting = true;
    m.waiting_name = name;
    m.x = x;
    m.y = y;
    m.z = z;
    m.yaw = yaw;
  } else {
    set_position(x, y, z, yaw);
  }
}

void teleport_keep_coordinates(const char* name, float x, float y, float z, float yaw) {
  mod().warp = true;
  teleport(name, x, y, z, yaw, 1);
}

void teleport_allow_within_world() { mod().within_allowed = true; }
void teleport_forbid_within_world() { mod().within_allowed = false; }

void teleport_apply() {
  teleport_module& m = mod();
  if (m.in_progress) set_position(m.x, m.y, m.z, m.yaw);
}

int teleport_pending() { return t && t->in_progress ? 1 : 0; }

void teleport_update() {
  teleport_module& m = mod();
  if (m.stage == TELEPORT_STAGE_START) {
    const char* command = cgi_get_teleport();
    if (command) {
      post_pending_command();
      m.stage = TELEPORT_STAGE_COMMAND_OR_HOME;
    } else if (teleport_home()) {
      m.stage = TELEPORT_STAGE_COMMAND_OR_HOME;
    } else {
      const char* name = universe_default_start_world();
      if (name && *name) {
        teleport(name, 0, 0, 0, 0, 0);
        m.stage = TELEPORT_STAGE_DEFAULT_WORLD;
      } else {
        to_built_in_world();
      }
    }
  }
  if (m.waiting) {
    m.current_target = m.waiting_name;
    m.waiting = false;
    m.waiting_name.clear();
    m.in_progress = true;
    // A name the world connection refuses outright is this attempt's error: its last error
    // still speaks of the world we are in.
    m.enter_result = world_enter(m.current_target.c_str());
  }
  if (!m.in_progress) {
    post_pending_command();
    return;
  }
  int code = m.enter_result ? m.enter_result : world_last_error();
  switch (code) {
    case 0:
      set_position(m.x, m.y, m.z, m.yaw);
      m.stage = TELEPORT_STAGE_IN_WORLD;
      m.in_progress = false;
      break;
    case 212: {
      std::string target = m.current_target;
      teleport(target.c_str(), m.x, m.y, m.z, m.yaw, 0);
      break;
    }
    case 401:
      break;
    default:
      attempt_failed(code);
      break;
  }
}

// ---- home -----------------------------------------------------------------------------

void teleport_set_home() {
  float x, y, z, yaw;
  own_position(&x, &y, &z, &yaw);
  profile_set_string("start", "world", world_name());
  profile_set_string("start", "location", teleport_place_text(nullptr, x, y, z, yaw).c_str());
}

int teleport_home() {
  std::string world = settings_text("start", "world");
  if (world.empty()) return 0;
  std::string location = settings_text("start", "location");
  char command[512];
  std::snprintf(command, sizeof command, "teleport %s %s", world.c_str(), location.c_str());
  post(command);
  return 1;
}

// ---- dialog and remembering -----------------------------------------------------------

int teleport_dialog(const char* name) {
  teleport_module& m = mod();
  std::string coordinates = std::move(m.dialog_coordinates);
  m.dialog_coordinates.clear();
  TeleportDialog dialog(name, std::move(coordinates));
  return dialog_run(TELEPORT_DIALOG, dialog);
}

void teleport_remember() {
  float x, y, z, yaw;
  own_position(&x, &y, &z, &yaw);
  std::string title(attribute_get(ATTR_TITLE), static_cast<size_t>(std::max(0, attribute_length(ATTR_TITLE))));
  std::string where = teleport_hook.self_position_text ? teleport_hook.self_position_text()
                                                       : teleport_place_text(nullptr, x, y, z, yaw);
  char label[512];
  std::snprintf(label, sizeof label, "%s %s", title.c_str(), where.c_str());
  std::string typed;
  if (!prompt(msg(172), msg(173), label, &typed)) return;
  teleport_entry e;
  e.label = one_line(typed.c_str());
  e.place = teleport_place_text(world_name(), x, y, z, yaw);
  teleport_module& m = mod();
  m.entries.insert(m.entries.begin(), std::move(e));
  save_list();
  fill_tree();
}

// ---- the tree page ----------------------------------------------------------------------

void teleport_set_tree_maker(teleport_tree_maker maker) { tree_maker = maker; }

void teleport_tree_destroyed(TeleportTreeView* view) {
  if (t && t->view == view) {
    t->view = nullptr;
    for (auto& e : t->entries) e.item = 0;
  }
}

int teleport_init() {
  teleport_module& m = mod();
  m.silent = true;
  teleport_load(file_path().c_str());
  if (!m.view && tree_maker) m.view = tree_maker();
  fill_tree();
  teleport_hide();
  world_hook.teleport_apply = teleport_apply;
  world_hook.teleport_pending = teleport_pending;
  world_hook.history_back = history_back;
  world_hook.history_set_world = history_set_world;
  world_hook.teleport_within_world = allow_or_forbid<teleport_allow_within_world, teleport_forbid_within_world>;
  return 0;
}

void teleport_show() { mod().show(); }

void teleport_hide() { mod().hide(); }

void teleport_move_window(int x, int y, int width, int height) {
  if (t) t->move(x, y, width, height);
}

void teleport_tree_left_down(intptr_t item) {
  teleport_module& m = mod();
  teleport_entry* e = entry_of(item);
  if (!e) return;
  if (m.view) m.view->select(item);
  char command[2 * TELEPORT_LINE_LIMIT];
  std::snprintf(command, sizeof command, "teleport %s", e->place.c_str());
  post(command);
}

void teleport_tree_right_down(intptr_t item) {
  teleport_module& m = mod();
  m.right_item = entry_of(item) ? item : 0;
  if (m.right_item && m.view) m.view->select(m.right_item);
}

void teleport_tree_right_up() {
  teleport_module& m = mod();
  if (!m.view) return;
  bool on_item = m.right_item != 0;
  const TeleportTreeView::MenuItem items[] = {
      {TELEPORT_MENU_RENAME, msg(255), on_item},
      {TELEPORT_MENU_DELETE, msg(453), on_item},
      {TELEPORT_MENU_DIALOG, msg(256), on_item},
      {0, "", true},
      {TELEPORT_MENU_FORWARD, msg(455), history_can_forward()},
      {TELEPORT_MENU_BACK, msg(454), history_can_back()},
      {TELEPORT_MENU_HOME, msg(456), true},
      {0, "", true},
      {TELEPORT_MENU_REMEMBER, msg(257), true},
  };
  int choice = m.view->popup_menu(items, sizeof items / sizeof items[0]);
  intptr_t item = m.right_item;
  teleport_entry* e = entry_of(item);
  switch (choice) {
    case TELEPORT_MENU_RENAME:
      if (e && m.view) {
        m.rename_started = true;
        m.view->edit_label(item);
        m.rename_started = false;
      }
      break;
    case TELEPORT_MENU_DELETE:
      if (e) {
        m.entries.erase(m.entries.begin() + (e - m.entries.data()));
        fill_tree();
        save_list();
      }
      break;
    case TELEPORT_MENU_DIALOG:
      if (e) {
        teleport_entry copy = *e;
        open_dialog_for(copy);
      }
      break;
    case TELEPORT_MENU_BACK: history_back(); break;
    case TELEPORT_MENU_FORWARD: history_forward(); break;
    case TELEPORT_MENU_HOME: teleport_home(); break;
    case TELEPORT_MENU_REMEMBER: teleport_remember(); break;
    default: break;
  }
}

bool teleport_tree_begin_edit(intptr_t item) {
  teleport_module& m = mod();
  return m.shown && m.rename_started && entry_of(item) != nullptr;
}

void teleport_tree_end_edit(intptr_t item, const char* text) {
  teleport_module& m = mod();
  if (!text) return;
  teleport_entry* e = entry_of(item);
  if (!e) return;
  e->label = one_line(text);
  if (m.view) m.view->set_item_text(item, e->label.c_str());
  save_list();
}

// ---- accessors ----------------------------------------------------------------------------

int teleport_stage() { return t ? t->stage : 0; }
bool teleport_within_world_allowed() { return t && t->within_allowed; }
const char* teleport_waiting_name() { return t && t->waiting ? t->waiting_name.c_str() : nullptr; }
const char* teleport_current_target() { return t ? t->current_target.c_str() : ""; }
void teleport_target(float* x, float* y, float* z, float* yaw) {
  teleport_module& m = mod();
  if (x) *x = m.x;
  if (y) *y = m.y;
  if (z) *z = m.z;
  if (yaw) *yaw = m.yaw;
}
bool teleport_shown() { return t && t->shown; }

void teleport_reset_state() {
  delete t;
  t = nullptr;
}
