#pragma once
// The other users in the same world: one record per session announced by the world server,
// each drawn in a scene of its own, the nearest animated through the animation library and
// the farther shown as "far.vxx"; the own position sent to the world server; the world's
// avatar list. While the world speaks the old object protocol every operation hands over to
// the peer channel (avatar_peer.h). Window thread only.
#include <climits>
#include <cstdint>

#include "client/core/control_ids.h"
#include "engine/vxl21.h"

struct balloon;

constexpr int AVATAR_BUCKETS = 199;
constexpr int AVATAR_NAME_LIMIT = 18;
constexpr int AVATAR_FAR_STEPS = 5;  // frames a far model takes to reach a new position
constexpr uint32_t AVATAR_STATE_INTERVAL = 1000;
constexpr uint32_t AVATAR_NEAR_FAR_INTERVAL = 5000;
constexpr uint32_t AVATAR_POSITION_INTERVAL = 1000;
constexpr uint32_t AVATAR_CHAT_SHOWN = 30000;
constexpr int32_t AVATAR_NO_CHAT = INT32_MAX;

// Modules the avatars call, filled by their own init; a null entry is skipped.
struct avatar_hooks {
  // Balloons over the avatars (fall-back: none are shown).
  balloon* (*balloon_create)();
  void (*balloon_destroy)(balloon* b);
  void (*balloon_set_text)(balloon* b, const char* text);
  void (*balloon_set_position)(balloon* b, const VxMatrix* m);
  // The console: kind 0 plain, 1 highlighted (speaker), 6 tourist.
  void (*console_print)(int kind, const char* line);
  // The Avatar menu rebuilt from the list, and emptied on a world change.
  void (*menu_rebuild)();
  void (*menu_clear)();
  // The gesture buttons.
  void (*gesture_show)();
};
extern avatar_hooks avatar_hook;

// One avatar as the module keeps it (tests and the pop-up menu read it).
struct avatar_record {
  int16_t session;
  balloon* balloon_handle;
  void* anim;  // animation object, or null
  struct model_instance* far_model;
  VxScene* scene;
  VxReal x, y, z;
  VxReal motion[3];
  int32_t far_steps;
  VxReal yaw;
  int32_t last_chat;
  int32_t next_state;
  VxReal distance;
  uint8_t type;
  uint8_t gesture;
  char name[AVATAR_NAME_LIMIT + 1];
};

// Joins the animation library (anim_link_init) and opens the peer channel; the peer
// channel's result (0, 400, or the socket's error). Fills the avatar entries of world_hook.
int avatar_init(void* main_window);
void avatar_set_old_protocol(int flag);
bool avatar_old_protocol();
// World replies 2, 4, 3 and 5/12: positions in thousandths, yaw in tenths.
void avatar_add(int session, const char* name, int32_t x, int32_t y, int32_t z, int yaw, int type, int gesture);
void avatar_position(int session, int32_t x, int32_t y, int32_t z, int yaw, int type, int gesture);
void avatar_delete(int session);
void avatar_message(int session, const char* text, int flag);
void avatar_delete_all();
void avatar_reset();
void avatar_load_list();
void avatar_list_load(const char* path);
bool avatar_list_loaded();
// The user's chat line to the world (or the peers): 0 when it went, and the own line shows
// in the console; else the send's error, and the console shows message 600 instead.
int avatar_broadcast_message(const char* text);
int avatar_type();
void avatar_set_type(int type);
void avatar_set_public_speaker(int flag);
void avatar_set_eject_right(int flag);
void avatar_term();
// Session of the first avatar of that name, 0 when none.
int avatar_addr_from_name(const char* name);
// Task "avatar".
void avatar_frame_update();

// The pop-up menu over an avatar under a viewport point (right click). 1 when an avatar was
// hit (the click is taken even when the menu is dismissed), 0 otherwise.
int avatar_popup_menu(int x, int y);
// The menu over one user, shared by both protocols: its name (disabled), mute (checked when
// muted), contact, and eject when offered (for that session or peer address). Contact and
// eject act here; the id chosen (0 none) is returned so the caller toggles its own mute.
int avatar_menu_run(const char* name, bool muted, bool eject, int eject_target);
// Whether a clump found under the pointer is the avatar's model: its root or any of its
// parts (a body's limbs and head are parts of the model).
bool avatar_model_hit(const VxClump* model, const VxClump* picked);
// The part of the model (in its own scene) under a viewport point or a pixel beside it, as
// the frame draws it; null when none.
VxClump* avatar_part_at(VxScene* scene, const VxClump* model, int x, int y);

// Muting (the pop-up menu's item 9000).
void avatar_set_muted(int session, bool muted);
bool avatar_muted(int session);

// Inspection: the record of a session (null when absent), the number of avatars.
avatar_record* avatar_find(int session);
int avatar_count();
// Tests: back to the state before avatar_init.
void avatar_reset_for_test();
