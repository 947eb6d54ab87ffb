#include "client/app/command.h"

#include <cctype>
#include <string>

#include "client/shell/toolbar.h"
#include <vector>

#include "Zembrel/Pose/Anim/anim.h"
#include "client/cache/download.h"
#include "client/shell/features.h"
#include "client/servers/about.h"
#include "client/app/frame.h"
#include "client/core/identity.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/tessel.h"
#include "client/scene/avatar.h"
#include "client/scene/camera.h"
#include "client/scene/pdialog.h"
#include "client/scene/pick.h"
#include "client/scene/self.h"
#include "client/scene/visible.h"
#include "client/servers/history.h"
#include "client/servers/immigrate.h"
#include "client/servers/login.h"
#include "client/servers/privilege.h"
#include "client/servers/teleport.h"
#include "client/servers/tourist.h"
#include "client/servers/world.h"
#include "platform/host.h"

menu_hooks menu_hook = {};

namespace {

struct ItemDef {
  int id;  // 0: separator
  int message;
};
constexpr ItemDef kLine{0, 0};  // a separator

struct PopupDef {
  int title;
  std::vector<ItemDef> items;
};

// The bar as the resource lays it out; the Avatar pop-up (501) is filled at run time.
const PopupDef kBar[MENU_TITLES] = {
    {451, {{101, 452}}},
    {457, {{106, 458}, {107, 459}, kLine, {128, 460}, kLine, {146, 461}, {147, 462}, kLine,
           {144, 463}}},
    {464, {{124, 465}, {125, 466}, {131, 467}, kLine, {126, 468}, {127, 469}}},
    {470, {{150, 471}, {149, 472}, {151, 473}, {152, 474}}},
    {475, {{119, 476}, {120, 477}, {121, 478}, {122, 479}, {123, 480}, {132, 481}, {133, 482},
           {129, 483}, {130, 484}, {141, 485}}},
    {486, {{103, 487}, {104, 488}, kLine, {145, 489}}},
    {501, {}},
    {490, {{134, 491}, {135, 492}, {136, 493}, {137, 494}, kLine, {138, 495}}},
    {496, {{105, 497}, kLine, {148, 498}, {142, 499}, kLine, {102, 500}}},
};

// Virtual keys F1..F12 are 0x70..0x7B.
const menu_accelerator kAccelerators[] = {
    {0x70, 105}, {0x71, 120}, {0x72, 123}, {0x73, 122},
    {0x74, 132}, {0x75, 133}, {0x7A, 119}, {0x7B, 121},
};

struct Item {
  int id = 0;
  int message = 0;
  std::string text;
  bool enabled = true;
  bool checked = false;
  bool column_break = false;
};

struct Popup {
  int title = 0;
  std::string text;
  std::vector<Item> items;
};

struct State {
  bool built = false;
  Popup bar[MENU_TITLES];
  std::string reserved;
  int world_avatars = 0;
  int avatar_checked = -1;
  bool speaker = false;
  int rows_override = 0;
  bool accelerators = false;
  MenuView* view = nullptr;
};
State s;

void notify(int id) {
  if (s.view) s.view->changed(id);
}

Item* find(int id) {
  if (!s.built || id == 0) return nullptr;
  for (Popup& p : s.bar)
    for (Item& it : p.items)
      if (it.id == id) return &it;
  return nullptr;
}

// Items whose module is not in the program yet stay greyed while their hook is empty.
bool carried_out(int id) {
  const menu_hooks& h = menu_hook;
  switch (id) {
    case 105: return h.tab_show_help != nullptr;
    case 121: return h.fps_toggle != nullptr;
    case 122: return h.bps_toggle != nullptr;
    case 130: return h.web_toggle != nullptr;
    case 134: return h.web_back != nullptr;
    case 135: return h.web_forward != nullptr;
    case 136: return h.web_stop != nullptr;
    case 137: return h.web_refresh != nullptr;
    case 138: return h.web_get_url != nullptr;
    case 141: return h.vrt_toggle != nullptr;
    case 142: return h.help_registration != nullptr;
    case 148: return h.help_with_help != nullptr;
    case 150: return h.psheet != nullptr;
    case 151: return h.worldopts_dialog != nullptr;
    case 152: return h.admin_universe != nullptr;
    default: return true;
  }
}

void set_enabled(int id, bool on) {
  Item* it = find(id);
  if (!it || it->enabled == on) return;
  it->enabled = on;
  notify(id);
}

void set_checked(int id, bool on) {
  Item* it = find(id);
  if (!it || it->checked == on) return;
  it->checked = on;
  notify(id);
}

void check_hook(int id, bool on) { set_checked(id, on); }
void enable_hook(int id, bool on) { set_enabled(id, on); }

const CameraUiLinks kCameraLinks = {
    check_hook, enable_hook, [](int id, bool on) { on ? toolbar_check(id) : toolbar_uncheck(id); },
    [](int id, bool on) { on ? toolbar_enable(id) : toolbar_disable(id); }};

Popup& avatar_popup() { return s.bar[MENU_AVATAR_POSITION]; }

int rows_per_column() {
  if (s.rows_override > 0) return s.rows_override;
  int width = 0, height = 0;
  if (Host* h = host()) h->screen_size(&width, &height);
  // A menu item is about 18 pixels high, plus 2 between items.
  int rows = height / (18 + 2);
  return rows > 0 ? rows : 20;
}

void fill(menu_item_view* out, const Item& it) {
  out->id = it.id;
  out->message = it.message;
  out->text = it.text.c_str();
  out->enabled = it.enabled && carried_out(it.id);
  out->checked = it.checked;
  out->column_break = it.column_break;
}

}  // namespace

void menu_set_view(MenuView* view) {
  s.view = view;
  if (view) view->changed(0);
}

int menu_init(void*, void*) {
  for (int p = 0; p < MENU_TITLES; ++p) {
    Popup& pop = s.bar[p];
    pop = Popup{};
    pop.title = kBar[p].title;
    for (const ItemDef& d : kBar[p].items) {
      Item it;
      it.id = d.id;
      it.message = d.message;
      pop.items.push_back(it);
    }
  }
  s.built = true;
  // History starts empty: nothing to go back or forward to yet.
  s.bar[1].items[0].enabled = false;
  s.bar[1].items[1].enabled = false;
  set_checked(129, tessel_toolbar_shown());

  self_hook.menu_check = check_hook;
  visible_hook.menu_check = check_hook;
  world_hook.menu_check = check_hook;
  world_hook.menu_set_public_speaker = menu_set_public_speaker;
  history_hook.menu_enable = [](int id, int on) { set_enabled(id, on != 0); };
  login_hook.menu_identity_changed = menu_identity_changed;
  camera_set_ui_links(&kCameraLinks);
  // The Avatar menu follows the world's avatar list; choosing an item changes the own avatar.
  if (!menu_hook.avatar_set_type) menu_hook.avatar_set_type = avatar_set_type;
  avatar_hook.menu_rebuild = menu_rebuild_avatars;
  avatar_hook.menu_clear = menu_reset_avatars;
  menu_hook.pick_command = pick_command;
  menu_hook.pick_off = pick_off;
  menu_hook.worldopts_dialog = [] { worldopts_dialog(); };
  menu_hook.admin_universe = [] { admin_universe(); };
  pdialog_hook.menu_handle = [](int id) { menu_handle(id); };

  menu_identity_changed();
  menu_set_texts();
  // A new language re-labels the bar.
  msg_add_refresh(menu_set_texts);
  return 0;
}

void menu_set_texts() {
  if (!s.built) return;
  s.reserved.clear();
  for (Popup& p : s.bar) {
    p.text = msg(p.title);
    size_t amp = p.text.find('&');
    if (amp != std::string::npos && amp + 1 < p.text.size())
      s.reserved += static_cast<char>(std::tolower(static_cast<unsigned char>(p.text[amp + 1])));
    for (Item& it : p.items)
      if (it.message) it.text = msg(it.message);
  }
  if (menu_hook.gesture_set_reserved_shortcuts)
    menu_hook.gesture_set_reserved_shortcuts(s.reserved.c_str());
  notify(0);
}

void menu_identity_changed() {
  bool citizen = citizen_effective_number() != 0;
  set_enabled(149, citizen);
  set_enabled(145, citizen);
}

void menu_enable(int id) { set_enabled(id, true); }
void menu_disable(int id) { set_enabled(id, false); }
void menu_check(int id) { set_checked(id, true); }
void menu_uncheck(int id) { set_checked(id, false); }

void menu_reset_avatars() {
  avatar_popup().items.clear();
  s.world_avatars = 0;
  s.avatar_checked = -1;
  notify(0);
}

void menu_set_public_speaker(int flag) {
  bool on = flag != 0;
  if (on == s.speaker) return;
  s.speaker = on;
  menu_rebuild_avatars();
}

void menu_rebuild_avatars() {
  if (!s.built) return;
  int count = 0;
  char** names = AnimGetAvatarNames(&count);
  if (!names || count < 0) count = 0;
  int rows = rows_per_column();
  Popup& pop = avatar_popup();
  pop.items.clear();
  s.world_avatars = count;
  bool tourist = citizen_number() == 0;
  int items = count + (s.speaker ? MENU_EXTRA_AVATARS : 0);
  // A tourist may take the first two of the world's avatars, never the extra ones.
  if (tourist) items = count < 2 ? count : 2;
  for (int i = 0; i < items; ++i) {
    Item it;
    it.id = MENU_AVATAR_FIRST + i;
    if (i < count) {
      it.text = names[i] ? names[i] : "";
      if (!it.text.empty())
        it.text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(it.text[0])));
    } else {
      it.text = "special" + std::to_string(i - count + 1);
    }
    // A column of one row would divide by zero: at least two rows per column.
    int per = rows > 2 ? rows - 1 : 1;
    it.column_break = i > 0 && i % per == 0;
    pop.items.push_back(std::move(it));
  }
  if (names) AnimFreeAvatarNames(names, count);

  int number = world_avatar() & 0xFF;
  int item = number;
  if (tourist && number > 1) {
    item = 0;
  } else if (!tourist && number > 250 && s.speaker) {
    if (menu_hook.avatar_set_type) menu_hook.avatar_set_type(number);
    item = count + number - 251;
    if (item < 0 || item >= items) item = 0;
  } else if (number >= items) {
    item = 0;
    if (menu_hook.avatar_set_type) menu_hook.avatar_set_type(item);
  }
  s.avatar_checked = items > 0 ? item : -1;
  if (s.avatar_checked >= 0) pop.items[static_cast<size_t>(s.avatar_checked)].checked = true;
  notify(0);
}

void menu_select_avatar(int id) {
  Popup& pop = avatar_popup();
  int index = id - MENU_AVATAR_FIRST;
  int items = static_cast<int>(pop.items.size());
  if (index < 0 || index >= items || index == s.avatar_checked) return;
  if (s.avatar_checked >= 0 && s.avatar_checked < items)
    pop.items[static_cast<size_t>(s.avatar_checked)].checked = false;
  pop.items[static_cast<size_t>(index)].checked = true;
  s.avatar_checked = index;
  int type = index < s.world_avatars ? index : 251 + (index - s.world_avatars);
  world_set_avatar(type);
  if (menu_hook.avatar_set_type) menu_hook.avatar_set_type(type);
  self_clear_gesture();
  if (menu_hook.gesture_show) menu_hook.gesture_show();
  notify(0);
}

int menu_handle(int id) {
  if (trace_switches[TRACE_GENERAL]) log_write("menu_handle (%d)", id);
  const menu_hooks& h = menu_hook;
  switch (id) {
    case 101: tessel_quit(); break;
    case 102: about_show(0); break;
    case 103: login(1); break;
    case 104: tourist_dialog(0); break;
    case 105: if (h.tab_show_help) h.tab_show_help(); break;
    case 106: history_forward(); break;
    case 107: if (!tessel_kiosk()) history_back(); break;
    case 108: case 109: case 110: case 111: case 112: case 113: case 114: case 115:
    case 116: case 117: case 140:
      if (h.pick_command) h.pick_command(id);
      break;
    case 118:
      if (h.mouse_as_mover) h.mouse_as_mover();
      if (h.pick_off) h.pick_off();
      break;
    case 119: self_toggle_position(); break;
    case 120: visible_toggle(); break;
    case 121: if (h.fps_toggle) h.fps_toggle(); break;
    case 122: if (h.bps_toggle) h.bps_toggle(); break;
    case 123:
      download_toggle();
      set_checked(123, download_shown());
      break;
    case 124: camera_look_up(); break;
    case 125: camera_look_down(); break;
    case 131: camera_look_level(); break;
    case 126: camera_track_ahead(); break;
    case 127: camera_track_self(1); break;
    case 128: teleport_dialog(world_name()); break;
    case 129:
      tessel_toggle_toolbar();
      set_checked(129, tessel_toolbar_shown());
      if (h.gesture_show) h.gesture_show();
      break;
    case 130: if (h.web_toggle) h.web_toggle(0); break;
    case 132: self_toggle_altitude(); break;
    case 133: world_status_toggle(); break;
    case 134: return h.web_back ? h.web_back() : 0;
    case 135: if (h.web_forward) h.web_forward(); break;
    case 136: if (h.web_stop) h.web_stop(); break;
    case 137: if (h.web_refresh) h.web_refresh(); break;
    case 138: if (h.web_get_url) h.web_get_url(); break;
    case 141: if (h.vrt_toggle) h.vrt_toggle(); break;
    case 142: if (h.help_registration) h.help_registration(); break;
    case 143: immigrate(0); break;
    case 144: teleport_remember(); break;
    case 145: privilege_dialog(); break;
    case 146: teleport_home(); break;
    case 147: teleport_set_home(); break;
    case 148: if (h.help_with_help) h.help_with_help(); break;
    case 149: immigrate(1); break;
    case 150: if (h.psheet) h.psheet(); break;
    case 151: if (h.worldopts_dialog) h.worldopts_dialog(); break;
    case 152: if (h.admin_universe) h.admin_universe(); break;
    default: menu_select_avatar(id); break;
  }
  return 0;
}

void menu_term() {
  if (trace_switches[TRACE_GENERAL]) log_write("menu_term");
}

int menu_title_count() { return s.built ? MENU_TITLES : 0; }

int menu_title_message(int position) {
  if (!s.built || position < 0 || position >= MENU_TITLES) return 0;
  return s.bar[position].title;
}

const char* menu_title_text(int position) {
  if (!s.built || position < 0 || position >= MENU_TITLES) return "";
  return s.bar[position].text.c_str();
}

int menu_item_count(int position) {
  if (!s.built || position < 0 || position >= MENU_TITLES) return 0;
  return static_cast<int>(s.bar[position].items.size());
}

bool menu_item_at(int position, int index, menu_item_view* out) {
  if (index < 0 || index >= menu_item_count(position) || !out) return false;
  fill(out, s.bar[position].items[static_cast<size_t>(index)]);
  return true;
}

bool menu_find(int id, menu_item_view* out) {
  Item* it = find(id);
  if (!it || !out) return false;
  fill(out, *it);
  return true;
}

bool menu_is_enabled(int id) {
  menu_item_view v;
  return menu_find(id, &v) && v.enabled;
}

bool menu_is_checked(int id) {
  menu_item_view v;
  return menu_find(id, &v) && v.checked;
}

const char* menu_reserved_keys() { return s.reserved.c_str(); }
int menu_avatar_count() { return static_cast<int>(avatar_popup().items.size()); }
int menu_world_avatar_count() { return s.world_avatars; }
int menu_avatar_checked() { return s.avatar_checked; }
bool menu_public_speaker() { return s.speaker; }
void menu_set_rows_per_column(int rows) { s.rows_override = rows; }

const menu_accelerator* menu_accelerators(size_t* count) {
  if (count) *count = sizeof kAccelerators / sizeof kAccelerators[0];
  return kAccelerators;
}

int menu_accelerator_command(int key) {
  for (const menu_accelerator& a : kAccelerators)
    if (a.key == key) return a.id;
  return 0;
}

void menu_load_accelerators() {
  if (trace_switches[TRACE_GENERAL]) log_write("menu_load_accelerators");
  s.accelerators = true;
  notify(0);
}

bool menu_accelerators_loaded() { return s.accelerators; }

int menu_translate_accelerator(int key) { return s.accelerators ? menu_accelerator_command(key) : 0; }

void menu_reset_for_test() {
  MenuView* view = s.view;
  s = State{};
  s.view = view;
  menu_hook = {};
  if (self_hook.menu_check == check_hook) self_hook.menu_check = nullptr;
  if (visible_hook.menu_check == check_hook) visible_hook.menu_check = nullptr;
  if (world_hook.menu_check == check_hook) world_hook.menu_check = nullptr;
  if (world_hook.menu_set_public_speaker == menu_set_public_speaker)
    world_hook.menu_set_public_speaker = nullptr;
  history_hook.menu_enable = nullptr;
  if (login_hook.menu_identity_changed == menu_identity_changed)
    login_hook.menu_identity_changed = nullptr;
  camera_set_ui_links(nullptr);
  msg_remove_refresh(menu_set_texts);
}
