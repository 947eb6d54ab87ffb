#pragma once
// The user's own position, heading and velocity. Moved every frame from the keyboard and the
// mouse (walking, running, turning, side-stepping, flying, falling, climbing small steps,
// gliding to a target), every step tested against the world through the collision test. Also
// the position in the title bar, the altitude pane and the own avatar in a scene of its own.
// Window thread only.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "client/core/keys.h"
#include "engine/vxl21.h"

// Limits of the position (world units, one cell per unit).
constexpr VxReal SELF_XZ_LIMIT = 32764.0f;
constexpr VxReal SELF_Y_MIN = -35.0f;
constexpr VxReal SELF_Y_MAX = 200.0f;
constexpr VxReal SELF_START_Y = 8.0f;
// Height used while there is no own avatar, or its model height is unknown.
constexpr VxReal SELF_DEFAULT_HEIGHT = 0.2f;
// Longest frame a step is computed for (a long pause moves as if this much had passed).
constexpr uint32_t SELF_ELAPSED_CAP = 750;
constexpr uint32_t SELF_GESTURE_TIME = 5000;


// Modules the movement calls, filled by their own init. A null entry is skipped,
// with the fall-back named.
struct self_hooks {
  // The animation engine (own avatar). Null anim_create: no own avatar (height 0.2).
  void* (*anim_create)(void* owner, int other_user, int animations);
  void (*anim_destroy)(void* avatar);
  int (*anim_set_state)(void* avatar, VxReal x, VxReal y, VxReal z, int yaw, uint32_t time, int type,
                        int motion, int gesture);
  void (*anim_update)(void* avatar, uint32_t time);
  // The avatar's animated position (fall-back: the own position).
  void (*anim_position)(void* avatar, VxReal* x, VxReal* y, VxReal* z);
  // Model height of the avatar's current model: 1 with the height, 0 when unknown.
  int (*anim_model_height)(void* avatar, VxReal* height);
  // The avatar model's clump (shown in third person only), or null.
  VxClump* (*anim_clump)(void* avatar);
  // The avatars module's own type (fall-back 0).
  int (*avatar_type)();
  // Picking and the builder: picking off; 1 while objects are selected (fall-back 0).
  void (*pick_off)();
  int (*pick_selected)();
  // Mouse modes: 1 in mover mode (fall-back 0); the pointer's offset from the view's centre
  // (centre minus pointer) in x and y.
  int (*mouse_is_mover)();
  void (*mouse_delta)(int* dx, int* dy);
  // Menus and the status bar. pane_add returns the pane handle (0 none).
  void (*menu_check)(int id, bool checked);
  int (*pane_add)(int weight);
  void (*pane_remove)(int pane);
  void (*pane_text)(int pane, const char* text);
  // The main window's title (fall-back: only kept, see self_title).
  void (*set_title)(const char* text);
  // 1 when the world's ground model is loaded (fall-back 0: nobody falls).
  int (*ground_ready)();
};
extern self_hooks self_hook;

// Own scene and light, y = 8, the title position and altitude pane from [show]; fills the
// world connection's self entries and the camera's self source. Returns 0.
int self_init(void* main_window);
// Out of the limits: ignored.
void self_set_position(double x, double y, double z, double yaw);
void self_glide_to(double x, double y, double z, double yaw);
// Task "self".
void self_update();
void place_self();
void self_render();
// The others' avatars are drawn far to near, the own one (third person only) in its place
// among them: before(distance) ahead of each other, finish() after the last.
class SelfAmongOthers {
 public:
  // The camera's place.
  SelfAmongOthers(VxReal camera_x, VxReal camera_z);
  void before(VxReal distance);  // squared, as the others' distance
  void finish();

 private:
  VxReal own_ = 0;  // squared distance; 0 once drawn, or when not shown
};
// Records with a squared distance from the camera, far ones first.
template <class Record>
void sort_far_first(std::vector<Record*>& list) {
  std::stable_sort(list.begin(), list.end(), [](const Record* p, const Record* q) { return p->distance > q->distance; });
}
VxReal self_height();
VxReal self_eye_height();
// The scratch matrix placed at the own head (for the own chat balloon).
VxMatrix* self_head_matrix();

void self_allow_pass_through();
void self_forbid_pass_through();
void self_allow_flying();
void self_forbid_flying();  // also ends flying

void self_set_gesture(int gesture);
void self_clear_gesture();
int self_gesture();

void self_create_avatar();
void self_destroy_avatar();
void self_invalidate_title();
void self_toggle_position();  // menu 119
void self_toggle_altitude();  // menu 132
// The position text of the current place (message 45 at the origin cell, else 31).
const char* self_position_text();

VxReal self_get_x();
VxReal self_get_y();
VxReal self_get_z();
VxReal self_get_yaw();
// All four at once (the yaw in degrees), for modules that take them through a hook.
void self_own_position(float* x, float* y, float* z, float* yaw);
bool self_flying();
void self_set_flying(bool on);
bool self_turning();
// Horizontal speed x 10 above 2.
bool self_moving();
// A glide set by self_glide_to is under way (its slow final approach not counted).
bool self_gliding();
bool self_on_ground();
VxScene* self_scene();
// Velocity (units per second).
VxVector self_velocity();
// The title last given to the main window ("" before any).
const char* self_title();
// Octant 0-7 of a yaw in degrees (0 north, counted toward the west), as the compass shows it.
int self_octant(VxReal yaw);

// Tests: back to the state before self_init (own scene destroyed, hooks kept).
void self_reset_for_test();
