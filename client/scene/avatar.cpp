#include "client/scene/avatar.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Zembrel/Pose/Anim/anim.h"
#include "client/core/files.h"
#include "client/cache/download.h"
#include "client/cache/unzip.h"
#include "client/core/hash.h"
#include "client/core/identity.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/tessel.h"
#include "client/net/netcodes.h"
#include "client/scene/anim_link.h"
#include "client/scene/avatar_peer.h"
#include "client/scene/camera.h"
#include "client/scene/model.h"
#include "client/scene/prop.h"
#include "client/scene/scene.h"
#include "client/scene/self.h"
#include "client/servers/world.h"
#include "client/shell/chat.h"
#include "client/shell/contacts.h"
#include "client/shell/features.h"
#include "client/shell/view_click.h"
#include "platform/clock.h"
#include "platform/host.h"

avatar_hooks avatar_hook{};

#define TRACE(...) LOG_TRACE(TRACE_GENERAL, __VA_ARGS__)

namespace {

struct module_state {
  hash_table* table = nullptr;
  hash_table* muted = nullptr;
  hash_table* spoken = nullptr;
  uint8_t own_type = 0;
  int32_t sent[6] = {0, 0, 0, 0, 0, 0};  // x, y, z, yaw, type, gesture
  bool force = true;
  uint32_t next_position = 0;
  uint32_t next_near_far = 0;
  bool eject_right = false;
  bool public_speaker = false;
  bool old_protocol = false;
  bool list_loaded = false;
};
module_state s;

uint32_t now_ticks() { return platform_ticks(); }

// A digest of the joints below a model's root (counted in joints): it stays the same while
// nothing poses them.
uint32_t joint_digest(const VxClump* clump, VxMatrix* m, uint32_t h, int* joints) {
  for (VxClump* c = VxGetFirstChildClump(clump); c; c = VxGetNextSiblingClump(c)) {
    VxReal e[16];
    if (VxGetClumpJointMatrix(c, m) && VxGetMatrixElements(m, e)) {
      const auto* b = reinterpret_cast<const uint8_t*>(e);
      for (size_t i = 0; i < sizeof e; ++i) h = (h ^ b[i]) * 16777619u;
      ++*joints;
    }
    h = joint_digest(c, m, h, joints);
  }
  return h;
}

// The trace shows an animated avatar's pose once a second, so a run's log tells whether the
// other users' joints move.
void trace_joints(const avatar_record* a, AnimAvatar* o) {
  if (!trace_switches[TRACE_GENERAL]) return;
  void* model = AnimGetAvatarModel(o);
  VxClump* root = model ? model_clump(static_cast<model_instance*>(model)) : nullptr;
  if (!root) return;
  VxMatrix* m = VxCreateMatrix();
  if (!m) return;
  int joints = 0;
  uint32_t digest = joint_digest(root, m, 2166136261u, &joints);
  VxDestroyMatrix(m);
  // A model still loading has no joints yet.
  if (joints) log_write("avatar: joints %s %08x", a->name, digest);
}

uint8_t shown_type(int type) { return perform_avatars() ? static_cast<uint8_t>(type) : 0; }

// A place as the world server sends it: millimetres and tenths of a degree.
void set_place(avatar_record* a, int32_t x, int32_t y, int32_t z, int yaw, int type, int gesture) {
  a->x = x * 0.001f;
  a->y = y * 0.001f;
  a->z = z * 0.001f;
  a->yaw = yaw * 0.1f;
  a->type = shown_type(type);
  a->gesture = static_cast<uint8_t>(gesture);
}

bool in_set(hash_table* set, int session) {
  uint16_t key = static_cast<uint16_t>(session);
  return set && hash_find(set, sizeof key, &key);
}
void add_to_set(hash_table* set, int session) {
  if (!set) return;
  uint16_t key = static_cast<uint16_t>(session);
  int found = 0;
  hash_find_or_add(set, sizeof key, &key, 0, &found);
}

void print_console(int kind, const char* line) {
  if (avatar_hook.console_print) avatar_hook.console_print(kind, line);
}

void balloon_text(avatar_record* a, const char* text) {
  if (a->balloon_handle && avatar_hook.balloon_set_text) avatar_hook.balloon_set_text(a->balloon_handle, text);
}

void make_balloon(avatar_record* a) {
  if (a->balloon_handle || !avatar_hook.balloon_create) return;
  a->balloon_handle = avatar_hook.balloon_create();
  balloon_text(a, a->name);
}

// Far models are placed by a rotation about the vertical and a move to their origin.
void place_far(avatar_record* a, VxReal x, VxReal y, VxReal z) {
  VxClump* clump = a->far_model ? model_clump(a->far_model) : nullptr;
  if (!clump) return;
  VxMatrix* m = VxScratchMatrix();
  VxRotateMatrix(m, 0, 1, 0, a->yaw, VX_REPLACE);
  VxTranslateMatrix(m, x, y, z, VX_POSTCONCAT);
  VxTransformClump(clump, m, VX_REPLACE);
}

void drop_far(avatar_record* a) {
  if (a->far_model) model_dereference(a->far_model);
  a->far_model = nullptr;
}
void drop_anim(avatar_record* a) {
  if (a->anim) AnimDestroyAvatar(static_cast<AnimAvatar*>(a->anim));
  a->anim = nullptr;
}

void destroy_record(avatar_record* a) {
  drop_anim(a);
  drop_far(a);
  if (a->scene) VxDestroyScene(a->scene);
  a->scene = nullptr;
  if (a->balloon_handle && avatar_hook.balloon_destroy) avatar_hook.balloon_destroy(a->balloon_handle);
  a->balloon_handle = nullptr;
}

std::vector<avatar_record*> all_records() {
  std::vector<avatar_record*> out;
  hash_for_each(s.table, [&](void* d) { out.push_back(static_cast<avatar_record*>(d)); });
  return out;
}

void camera_xz(VxReal* x, VxReal* z) {
  *x = 0;
  *z = 0;
  VxCamera* cam = camera_get_main();
  VxVector p{};
  if (cam && VxGetCameraPosition(cam, &p) == 1) {
    *x = p.x;
    *z = p.z;
  }
}

int own_gesture() { return self_gesture(); }

void send_own_position(uint32_t now) {
  int32_t v[6] = {static_cast<int32_t>(std::lround(self_get_x() * 1000)),
                  static_cast<int32_t>(std::lround(self_get_y() * 1000)),
                  static_cast<int32_t>(std::lround(self_get_z() * 1000)),
                  static_cast<int32_t>(std::lround(self_get_yaw() * 10)), s.own_type, own_gesture()};
  if (!s.force && std::memcmp(v, s.sent, sizeof v) == 0) return;
  s.next_position = now + AVATAR_POSITION_INTERVAL;
  if (world_position(v[0], v[1], v[2], v[3], v[4], v[5]) == 0) {
    std::memcpy(s.sent, v, sizeof v);
    s.force = false;
  }
}

void make_near(avatar_record* a, uint32_t now) {
  drop_far(a);
  a->anim = AnimCreateAvatar(a->scene, 1, perform_zembrels() ? 1 : 0);
  if (!a->anim) return;
  AnimAvatar* o = static_cast<AnimAvatar*>(a->anim);
  AnimSetAvatarState(o, a->x, a->y, a->z, static_cast<int>(a->yaw), now_ticks(), a->type, 0, a->gesture);
  AnimUpdateAvatar(o, now);
  TRACE("avatar: make_near (%s, type %d)", a->name, a->type);
  a->next_state = static_cast<int32_t>(now + AVATAR_STATE_INTERVAL);
}

void make_far(avatar_record* a) {
  drop_anim(a);
  a->far_model = model_reference("avatars", "far.vxx", a->scene);
  place_far(a, a->x, a->y, a->z);
  a->far_steps = AVATAR_FAR_STEPS;
}

// Sorted farthest first: the n farthest go far, the rest near.
void assign_near_far(const std::vector<avatar_record*>& sorted, uint32_t now) {
  int n = static_cast<int>(sorted.size()) - chat_near();
  for (int i = 0; i < static_cast<int>(sorted.size()); ++i) {
    avatar_record* a = sorted[static_cast<size_t>(i)];
    if (i < n) {
      if (!a->far_model) make_far(a);
    } else if (!a->anim) {
      make_near(a, now);
    }
  }
}

void list_download_done(void*, int status, uint8_t* data, int size);

void list_path(char* out, size_t size) {
  std::snprintf(out, size, "%s/avatars/avatars.dat", download_get_path());
}

}  // namespace

int avatar_init(void* main_window) {
  TRACE("avatar_init");
  anim_link_init();
  self_hook.avatar_type = avatar_type;
  world_hook.avatar_delete_all = avatar_delete_all;
  world_hook.avatar_load_list = avatar_load_list;
  world_hook.avatar_add = avatar_add;
  world_hook.avatar_delete = avatar_delete;
  world_hook.avatar_position = avatar_position;
  world_hook.avatar_message = [](int kind, int session, const char* text) { avatar_message(session, text, kind); };
  world_hook.avatar_set_public_speaker = avatar_set_public_speaker;
  world_hook.avatar_set_eject_right = avatar_set_eject_right;
  prop_hook.avatar_set_old = avatar_set_old_protocol;
  view_click_hook.avatar_popup_menu = avatar_popup_menu;
  if (!s.table && !s.old_protocol) s.table = hash_create(AVATAR_BUCKETS);
  return avatar_peer_init(main_window);
}

void avatar_set_old_protocol(int flag) {
  s.old_protocol = flag != 0;
  avatar_delete_all();
  if (s.table) hash_destroy(s.table);
  s.table = flag ? nullptr : hash_create(AVATAR_BUCKETS);
}

bool avatar_old_protocol() { return s.old_protocol; }

void avatar_add(int session, const char* name, int32_t x, int32_t y, int32_t z, int yaw, int type, int gesture) {
  if (!s.table) return;
  uint16_t key = static_cast<uint16_t>(session);
  int found = 0;
  auto* a = hash_find_or_add_as<avatar_record>(s.table, sizeof key, &key, &found);
  if (!a || found) return;
  std::memset(a, 0, sizeof *a);
  a->session = static_cast<int16_t>(key);
  set_place(a, x, y, z, yaw, type, gesture);
  a->last_chat = AVATAR_NO_CHAT;
  a->scene = VxCreateScene();
  if (a->scene) {
    VxLight* light = VxCreateLight(1, -0.8f, -0.5f, -0.2f, 1.0f);
    if (light) VxAddLightToScene(a->scene, light);
  }
  std::snprintf(a->name, sizeof a->name, "%s", name ? name : "");
  if (world_rights_flag() || s.eject_right || in_set(s.spoken, session)) make_balloon(a);
  s.next_near_far = now_ticks();  // the split is made again on the next frame
}

void avatar_position(int session, int32_t x, int32_t y, int32_t z, int yaw, int type, int gesture) {
  avatar_record* a = avatar_find(session);
  if (!a) return;
  set_place(a, x, y, z, yaw, type, gesture);
  if (a->anim) {
    // Told on the next frame (a plain 0 would not count as past near the tick's wrap).
    a->next_state = static_cast<int32_t>(now_ticks() - 1);
  } else if (a->far_model) {
    VxClump* clump = model_clump(a->far_model);
    VxVector o{};
    if (clump) VxGetClumpOrigin(clump, &o);
    a->motion[0] = 0.2f * (a->x - o.x);
    a->motion[1] = 0.2f * (a->y - o.y);
    a->motion[2] = 0.2f * (a->z - o.z);
    a->far_steps = 0;
  }
}

void avatar_delete(int session) {
  avatar_record* a = avatar_find(session);
  if (!a) return;
  destroy_record(a);
  uint16_t key = static_cast<uint16_t>(session);
  hash_remove(s.table, sizeof key, &key);
}

void avatar_delete_all() {
  hash_clear(s.table, [](void* d) { destroy_record(static_cast<avatar_record*>(d)); });
  s.force = true;
}

void avatar_message(int session, const char* text, int flag) {
  avatar_record* a = avatar_find(session);
  if (!a) return;
  if (!text) text = "";
  char line[600];
  const char* shown = text;
  if (in_set(s.muted, session)) {
    shown = msg(249);
  } else {
    std::snprintf(line, sizeof line, "%s: %s", a->name, text);
    print_console(a->name[0] == '"' ? 6 : (flag ? 1 : 0), line);
  }
  make_balloon(a);
  if (chat_balloons()) {
    std::snprintf(line, sizeof line, "%s: %s", a->name, shown);
    balloon_text(a, line);
    a->last_chat = static_cast<int32_t>(now_ticks());
    if (a->last_chat == AVATAR_NO_CHAT) a->last_chat = AVATAR_NO_CHAT - 1;
  } else {
    balloon_text(a, a->name);
  }
  add_to_set(s.spoken, session);
}

void avatar_frame_update() {
  if (s.old_protocol) {
    avatar_update();
    return;
  }
  if (!s.table || !world_connected()) return;
  uint32_t now = now_ticks();
  if (!tick_before(now, s.next_position)) send_own_position(now);
  VxReal cx, cz;
  camera_xz(&cx, &cz);
  std::vector<avatar_record*> list = all_records();
  for (avatar_record* a : list) {
    VxReal x = a->x, y = a->y, z = a->z;
    if (a->anim) {
      AnimAvatar* o = static_cast<AnimAvatar*>(a->anim);
      if (tick_before(static_cast<uint32_t>(a->next_state), now)) {
        AnimSetAvatarState(o, a->x, a->y, a->z, static_cast<int>(a->yaw), now, a->type, 0, a->gesture);
        a->next_state = static_cast<int32_t>(now + AVATAR_STATE_INTERVAL);
        trace_joints(a, o);
      }
      AnimUpdateAvatar(o, now);
      AnimGetAvatarPosition(o, &x, &y, &z);
    }
    a->distance = (x - cx) * (x - cx) + (z - cz) * (z - cz);
  }
  if (tessel_in_background()) return;
  SelfAmongOthers own(cx, cz);
  sort_far_first(list);
  if (tick_before(s.next_near_far, now)) {
    assign_near_far(list, now);
    s.next_near_far = now + AVATAR_NEAR_FAR_INTERVAL;
  }
  for (avatar_record* a : list) {
    own.before(a->distance);
    VxReal x = a->x, y = a->y, z = a->z;
    VxClump* far_clump = a->far_model ? model_clump(a->far_model) : nullptr;
    if (far_clump) {
      VxVector o{};
      VxGetClumpOrigin(far_clump, &o);
      if (a->far_steps < AVATAR_FAR_STEPS) {
        o.x += a->motion[0];
        o.y += a->motion[1];
        o.z += a->motion[2];
        ++a->far_steps;
        // The last step lands exactly on the announced place.
        if (a->far_steps == AVATAR_FAR_STEPS) o = VxVector{a->x, a->y, a->z};
        place_far(a, o.x, o.y, o.z);
      }
      x = o.x;
      y = o.y;
      z = o.z;
    } else if (a->anim) {
      AnimGetAvatarPosition(static_cast<AnimAvatar*>(a->anim), &x, &y, &z);
    }
    if (a->scene) VxRenderScene(a->scene);
    if (a->balloon_handle) {
      float h = 0;
      model_instance* m = a->anim ? static_cast<model_instance*>(AnimGetAvatarModel(static_cast<AnimAvatar*>(a->anim)))
                                  : a->far_model;
      if (m && (!model_height(m, &h) || !std::isfinite(h) || h >= MODEL_UNKNOWN)) h = 0;
      VxMatrix* mx = VxScratchMatrix();
      VxTranslateMatrix(mx, x, y + h, z, VX_REPLACE);
      if (avatar_hook.balloon_set_position) avatar_hook.balloon_set_position(a->balloon_handle, mx);
      if (a->last_chat != AVATAR_NO_CHAT &&
          tick_before(static_cast<uint32_t>(a->last_chat), now - AVATAR_CHAT_SHOWN)) {
        a->last_chat = AVATAR_NO_CHAT;
        balloon_text(a, a->name);
      }
    }
  }
  own.finish();
}

void avatar_reset() {
  TRACE("avatar_reset");
  avatar_peer_reset();
  avatar_delete_all();
  if (!s.muted) s.muted = hash_create(AVATAR_BUCKETS);
  if (!s.spoken) s.spoken = hash_create(AVATAR_BUCKETS);
  AnimReset(download_get_path());
  s.list_loaded = false;
  s.public_speaker = false;
  if (avatar_hook.menu_clear) avatar_hook.menu_clear();
}

namespace {
void list_download_done(void*, int status, uint8_t* data, int size) {
  char path[600];
  list_path(path, sizeof path);
  if (status == DOWNLOAD_ARRIVED && data && size > 0) {
    char folder[600];
    std::snprintf(folder, sizeof folder, "%s/avatars", download_get_path());
    file_make_dir(folder);  // may exist already
    if (unzip_memory(data, static_cast<size_t>(size), path, UNZIP_KIND_AVATARS) != UNZIP_OK) {
      log_write("avatars.zip could not be unpacked");
      if (!s.list_loaded) avatar_list_load(file_is_regular(path) ? path : nullptr);
      return;
    }
    self_destroy_avatar();
    for (avatar_record* a : all_records()) drop_anim(a);
    if (s.old_protocol) avatar_peer_reset();
    avatar_list_load(path);
    self_create_avatar();
    s.next_near_far = now_ticks();  // near avatars get their animation objects again
  } else if (!file_is_regular(path)) {
    avatar_list_load(nullptr);
  }
}
}  // namespace

void avatar_load_list() {
  char path[600];
  list_path(path, sizeof path);
  download_request* r = download_file("avatars", "avatars.zip", DOWNLOAD_CLASS_AVATARS, list_download_done, nullptr);
  if (file_is_regular(path))
    avatar_list_load(path);
  else if (r)
    download_force(r);
  else
    avatar_list_load(nullptr);  // nothing can fetch it: the built-in list
}

void avatar_list_load(const char* path) {
  AnimLoadRegistry(path);
  if (trace_switches[TRACE_GENERAL]) {
    int count = 0;
    char** names = AnimGetAvatarNames(&count);
    TRACE("avatar_list_load (%s): %d avatars", path ? path : "built-in", names ? count : 0);
    if (names) AnimFreeAvatarNames(names, count);
  }
  if (avatar_hook.menu_rebuild) avatar_hook.menu_rebuild();
  if (avatar_hook.gesture_show) avatar_hook.gesture_show();
  s.list_loaded = true;
}

bool avatar_list_loaded() { return s.list_loaded; }

int avatar_broadcast_message(const char* text) {
  if (!text) return NET_NO_STREAM;
  char line[600];
  const char* own = citizen_name();
  std::snprintf(line, sizeof line, "%s: %s", own ? own : "", text);
  int r = 0;
  if (s.old_protocol)
    r = avatar_peer_send_text(static_cast<int>(std::strlen(line)), line);  // shown there once sent
  else
    // While a login is in flight the connection sends nothing: the line would go nowhere.
    r = world_login_in_flight() ? NET_NO_WORLD : world_message(text);
  if (r) {
    TRACE("avatar_broadcast_message: not sent (%d)", r);
    msg_print_titled(avatar_hook.console_print, 3, 160, msg_arg(600, text));
    return r;
  }
  if (s.old_protocol) return 0;
  print_console(s.public_speaker ? 1 : (own && own[0] == '"' ? 6 : 0), line);
  return 0;
}

int avatar_type() { return s.old_protocol ? avatar_peer_type() : s.own_type; }

void avatar_set_type(int type) {
  s.own_type = static_cast<uint8_t>(type);
  if (s.old_protocol) avatar_peer_set_type(type);
}

void avatar_set_public_speaker(int flag) {
  avatar_peer_set_speaker(flag);
  s.public_speaker = flag != 0;
}

void avatar_set_eject_right(int flag) {
  s.eject_right = flag != 0;
  if (!s.eject_right) return;
  for (avatar_record* a : all_records()) make_balloon(a);
}

void avatar_term() { avatar_peer_term(); }

int avatar_addr_from_name(const char* name) {
  if (!name) return 0;
  if (s.old_protocol) return static_cast<int>(avatar_peer_addr_from_name(name));
  for (avatar_record* a : all_records())
    if (std::strcmp(a->name, name) == 0) return static_cast<uint16_t>(a->session);
  return 0;
}

int avatar_menu_run(const char* user, bool muted, bool eject, int eject_target) {
  // A copy: frames go on while the menu and the dialog are open, and the user may leave.
  char name[32];
  std::snprintf(name, sizeof name, "%s", user ? user : "");
  HostMenuItem items[5];
  size_t n = 0;
  items[n++] = HostMenuItem{1, name, false, false};
  items[n++] = HostMenuItem{0, nullptr, false, false};
  items[n++] = HostMenuItem{AVATAR_MENU_MUTE, msg(166), true, muted};
  // Only a citizen keeps contacts; a tourist cannot be one.
  if (citizen_number() > 0)
    items[n++] = HostMenuItem{AVATAR_MENU_CONTACT, msg(167), !contacts_full() && name[0] != '"', false};
  if (eject) items[n++] = HostMenuItem{AVATAR_MENU_EJECT, msg(208), true, false};
  int chosen = host()->popup_menu(items, n);
  if (chosen == AVATAR_MENU_CONTACT && citizen_number() > 0 && !contacts_full() && name[0] != '"') {
    contacts_add(name);
  } else if (chosen == AVATAR_MENU_EJECT && eject) {
    eject_dialog(name, eject_target);
  }
  return chosen;
}

bool avatar_model_hit(const VxClump* model, const VxClump* picked) {
  if (!model || !picked) return false;
  // Bounded: a part's chain of parents is short, and a broken one must not hold the thread.
  for (int depth = 0; picked && depth < 256; ++depth, picked = VxGetParentClump(picked))
    if (picked == model) return true;
  return false;
}

VxClump* avatar_part_at(VxScene* scene, const VxClump* model, int x, int y) {
  // The frame draws a polygon's edge pixels up to one pixel up and left of where the pick's ray
  // through their centres meets it; thin or far parts are mostly edge. So a point with no part
  // under it takes one under a point beside it: every pixel drawn of the avatar finds it.
  static const int around[9][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {-1, 0}, {0, -1}, {-1, 1}, {1, -1}, {-1, -1}};
  if (!model) return nullptr;
  for (const auto& d : around) {
    VxClump* picked = scene_pick_in(scene, x + d[0], y + d[1]);
    if (avatar_model_hit(model, picked)) return picked;
  }
  return nullptr;
}

int avatar_popup_menu(int x, int y) {
  if (s.old_protocol) return avatar_peer_popup_menu(x, y);
  avatar_record* hit = nullptr;
  VxReal best = 1e10f;
  for (avatar_record* a : all_records()) {
    if (!a->scene || !a->balloon_handle || (!a->anim && !a->far_model)) continue;
    model_instance* m =
        a->anim ? static_cast<model_instance*>(AnimGetAvatarModel(static_cast<AnimAvatar*>(a->anim))) : a->far_model;
    VxClump* model = m ? model_clump(m) : nullptr;
    if (!avatar_part_at(a->scene, model, x, y) || a->distance >= best) continue;
    best = a->distance;
    hit = a;
  }
  if (!hit) return 0;
  int session = hit->session;
  int chosen = avatar_menu_run(hit->name, in_set(s.muted, session), s.eject_right, session);
  if (chosen == AVATAR_MENU_MUTE) avatar_set_muted(session, !in_set(s.muted, session));
  return 1;
}

void avatar_set_muted(int session, bool muted) {
  if (!s.muted) s.muted = hash_create(AVATAR_BUCKETS);
  uint16_t key = static_cast<uint16_t>(session);
  if (muted)
    add_to_set(s.muted, session);
  else if (s.muted)
    hash_remove(s.muted, sizeof key, &key);
}

bool avatar_muted(int session) { return in_set(s.muted, session); }

avatar_record* avatar_find(int session) {
  if (!s.table) return nullptr;
  uint16_t key = static_cast<uint16_t>(session);
  hash_entry* e = hash_find(s.table, sizeof key, &key);
  return e ? static_cast<avatar_record*>(hash_entry_data(e)) : nullptr;
}

int avatar_count() { return s.table ? s.table->count : 0; }

void avatar_reset_for_test() {
  avatar_delete_all();
  if (s.table) hash_destroy(s.table);
  if (s.muted) hash_destroy(s.muted);
  if (s.spoken) hash_destroy(s.spoken);
  s = module_state{};
  avatar_peer_reset_for_test();
}
