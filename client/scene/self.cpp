#include "client/scene/self.h"

#include <cmath>
#include <string>

#include "client/core/allow_hook.h"
#include "client/core/keys.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/tessel.h"
#include "client/core/tick.h"
#include "client/scene/backdrop.h"
#include "client/scene/camera.h"
#include "client/scene/collide.h"
#include "client/servers/world.h"
#include "platform/clock.h"
#include "platform/host.h"

self_hooks self_hook = [] {
  self_hooks h{};
  h.ground_ready = ground_ready;
  h.set_title = [](const char* text) {
    if (host()) host()->window_set_title(text);
  };
  return h;
}();

namespace {

constexpr VxReal kPi = 3.14159265358979f;
constexpr int kMaxParts = 4096;

struct State {
  VxReal x = 0, y = SELF_START_Y, z = 0;
  VxReal yaw = 0, target_yaw = 0;
  VxReal vx = 0, vy = 0, vz = 0;
  VxScene* scene = nullptr;
  void* avatar = nullptr;
  VxReal avatar_height = -1;  // cached model height, -1 unknown
  int gesture = 0;
  uint32_t gesture_end = 0;
  int last_type = -1;
  bool pass_through = false, flying_allowed = false, flying = false, on_ground = false;
  bool turning = false, jumped = false, gliding = false, approach = false, shift_latch = false;
  VxReal gx = 0, gy = 0, gz = 0;
  uint32_t previous_now = 0;
  bool title_on = false, altitude_on = false;
  int altitude_pane = 0;
  int last_cx = 0, last_cz = 0, last_octant = -1;
  bool force = true;
  std::string title;
  std::string position_text;
};

State s;

bool within_limits(double x, double y, double z) {
  // Written so that a value that is not a number is out of the limits too.
  return x >= -SELF_XZ_LIMIT && x <= SELF_XZ_LIMIT && z >= -SELF_XZ_LIMIT && z <= SELF_XZ_LIMIT &&
         y >= SELF_Y_MIN && y <= SELF_Y_MAX;
}

// A place to move to or glide to is taken only within the limits, and ends any pick.
bool take_place(double x, double y, double z, double yaw) {
  if (!within_limits(x, y, z) || !std::isfinite(yaw)) return false;
  if (self_hook.pick_off) self_hook.pick_off();
  return true;
}

// Into [-180, 180).
VxReal wrap_degrees(VxReal a) {
  if (!std::isfinite(a)) return 0;
  if (a >= -180.0f && a < 180.0f) return a;
  a = std::fmod(a + 180.0f, 360.0f);
  if (a < 0) a += 360.0f;
  a -= 180.0f;
  return a >= 180.0f ? -180.0f : a;
}

VxReal clamp(VxReal v, VxReal lo, VxReal hi) {
  if (!(v >= lo)) return lo;  // also a value that is not a number
  return v > hi ? hi : v;
}

bool avatars_on() { return perform_avatars() != 0; }

void menu_check(int id, bool on) {
  if (self_hook.menu_check) self_hook.menu_check(id, on);
}

void set_title(const char* text) {
  s.title = text ? text : "";
  if (self_hook.set_title) self_hook.set_title(s.title.c_str());
}

void set_clump_state(VxClump* clump, int state) {
  if (!clump) return;
  VxSetClumpState(clump, state);
  VxForAllChildClumps(clump, [](VxClump* part, void* data) { VxSetClumpState(part, *static_cast<int*>(data)); },
                      &state);
}

// The own avatar is seen only from behind (third person).
void hide_in_first_person() {
  if (!s.avatar || !self_hook.anim_clump) return;
  if (camera_mode() != 1) set_clump_state(self_hook.anim_clump(s.avatar), VX_STATE_OFF);
}

void set_avatar_state(int type, int gesture) {
  if (self_hook.anim_set_state)
    self_hook.anim_set_state(s.avatar, s.x, s.y, s.z, static_cast<int>(s.yaw), tick_now(), type, 0, gesture);
}

const char* compass(int octant) {
  static const char* const names[8] = {"N", "NW", "W", "SW", "S", "SE", "E", "NE"};
  return names[octant & 7];
}

int floor_cell(VxReal v) { return static_cast<int>(std::floor(v)); }

const char* make_position_text(int cx, int cz) {
  if (cx == 0 && cz == 0)
    s.position_text = msg(45);
  else
    s.position_text = msg_arg(31, std::abs(cz), cz < 0 ? 'S' : 'N', std::abs(cx), cx < 0 ? 'E' : 'W');
  return s.position_text.c_str();
}

void show_position() {
  if (s.altitude_on && s.altitude_pane && self_hook.pane_text)
    self_hook.pane_text(s.altitude_pane, msg_arg_frame(88, static_cast<double>(s.y) * 10.0));
  const char* world = world_name();
  if (!s.title_on || !world || !*world) return;
  int cx = floor_cell(s.x), cz = floor_cell(s.z), octant = self_octant(s.yaw);
  if (!s.force && cx == s.last_cx && cz == s.last_cz && octant == s.last_octant) return;
  s.force = false;
  s.last_cx = cx;
  s.last_cz = cz;
  s.last_octant = octant;
  std::string text = make_position_text(cx, cz);
  std::string site = msg(163);
  set_title(msg_arg(46, site.c_str(), world, text.c_str(), compass(octant)));
}

void fill_camera_self(CameraSelf* out) {
  out->x = s.x;
  out->y = s.y;
  out->z = s.z;
  out->yaw = s.yaw;
  out->height = self_height();
  out->turning = s.turning;
  out->avatar = s.avatar && self_hook.anim_clump ? self_hook.anim_clump(s.avatar) : nullptr;
}

// Step 13 without Shift and without a glide: the step in equal parts, each tested.
void move_in_parts(VxReal sx, VxReal sy, VxReal sz, bool descending) {
  VxReal largest = std::fmax(std::fabs(sx), std::fmax(std::fabs(sy), std::fabs(sz)));
  if (!std::isfinite(sx) || !std::isfinite(sy) || !std::isfinite(sz)) {
    s.vx = s.vy = s.vz = 0;
    return;
  }
  // A runaway step must not hold the frame: beyond kMaxParts the parts grow longer.
  VxReal parts = std::floor(20.0f * largest);
  int n = 1 + static_cast<int>(std::fmin(parts, static_cast<VxReal>(kMaxParts - 1)));
  VxReal px = sx / n, py = sy / n, pz = sz / n;
  s.on_ground = false;
  for (int k = 0; k < n; ++k) {
    VxVector motion{s.vx, s.vy, s.vz};
    if (!bump(s.x + px, s.y + py, s.z + pz, motion)) {
      s.x += px;
      s.y += py;
      s.z += pz;
      continue;
    }
    s.approach = false;
    if (s.gliding || s.jumped) return;
    if (descending) s.flying = false;
    s.vy = 0;
    if (!(py < 0)) return;
    s.on_ground = true;
    if (px == 0 && pz == 0) return;
    py = 0;  // for this part and the rest
    motion = {s.vx, s.vy, s.vz};
    if (!bump(s.x + px, s.y, s.z + pz, motion)) {
      s.x += px;
      s.z += pz;
      continue;
    }
    // A small step up: at most 0.05.
    for (int r = 1; r <= 5; ++r) {
      VxReal up = 0.01f * r;
      if (!bump(s.x + px, s.y + up, s.z + pz, motion)) {
        s.x += px;
        s.y += up;
        s.z += pz;
        return;
      }
    }
    s.vx = 0;
    s.vz = 0;
    return;
  }
}

}  // namespace

int self_octant(VxReal yaw) {
  // Cut toward zero first, as the compass always has; the wrap keeps the cut in range.
  int whole = static_cast<int>(wrap_degrees(yaw));
  return ((whole + 18023) % 360) / 45;
}

int self_init(void* /*main_window*/) {
  if (trace_switches[TRACE_GENERAL]) log_write("self_init");
  if (!s.scene) {
    s.scene = VxCreateScene();
    if (s.scene) {
      VxLight* light = VxCreateLight(1, -0.8f, -0.5f, -0.2f, 1.0f);
      if (light) VxAddLightToScene(s.scene, light);
    }
  }
  s.y = SELF_START_Y;
  if (show_setting("position") != 0 && !s.title_on) self_toggle_position();
  if (show_setting("altitude") == 1 && !s.altitude_on) self_toggle_altitude();
  world_hook.self_set_position = self_set_position;
  world_hook.self_invalidate_title = self_invalidate_title;
  world_hook.self_pass_through = allow_or_forbid<self_allow_pass_through, self_forbid_pass_through>;
  world_hook.self_flying = allow_or_forbid<self_allow_flying, self_forbid_flying>;
  camera_set_self_source(fill_camera_self);
  return 0;
}

void self_set_position(double x, double y, double z, double yaw) {
  if (!take_place(x, y, z, yaw)) return;
  s.x = static_cast<VxReal>(x);
  s.y = static_cast<VxReal>(y);
  s.z = static_cast<VxReal>(z);
  s.yaw = s.target_yaw = wrap_degrees(static_cast<VxReal>(std::fmod(yaw, 360.0)));
  s.vx = s.vy = s.vz = 0;
  s.jumped = true;
  self_destroy_avatar();
  self_create_avatar();
  s.on_ground = true;
  s.gliding = s.approach = false;
}

void self_glide_to(double x, double y, double z, double yaw) {
  if (!take_place(x, y, z, yaw)) return;
  s.gx = static_cast<VxReal>(x);
  s.gy = static_cast<VxReal>(y);
  s.gz = static_cast<VxReal>(z);
  s.target_yaw = wrap_degrees(static_cast<VxReal>(std::fmod(yaw, 360.0)));
  s.gliding = true;
  s.approach = false;
}

void self_update() {
  uint32_t now = tick_now();
  // 1.
  if (s.jumped) key_reset();
  if (s.gesture_end && tick_before(s.gesture_end, now)) {
    s.gesture_end = 0;
    s.gesture = 0;
  }
  // 2. (and 4: at most 750 ms)
  VxReal dt = camera_frame_seconds(&s.previous_now);
  s.turning = false;
  bool shift = false;
  if (host()->key_down(VK_KEY_SHIFT)) {
    s.shift_latch = true;
    shift = true;
  } else if (s.shift_latch) {
    // A tap shorter than a frame still counts once.
    s.shift_latch = false;
    shift = true;
  }
  // 3.
  if (!(self_hook.pick_selected && self_hook.pick_selected())) {
    // 4. The numbers of each step are those of a 50 ms frame, followed at the same rate
    // per second whatever the frame rate.
    VxReal decay = 1.0f - camera_follow_share(0.03f, dt);
    bool guided = s.gliding || s.approach;
    bool flew = s.flying;
    // 5. (a flight's horizontal decay is in steer below)
    if (key_pressed(VK_KEY_CLEAR)) {
      s.vx = s.vy = s.vz = 0;
    } else if (guided) {
      s.vx = s.gx - s.x;
      s.vy = s.gy - s.y;
      s.vz = s.gz - s.z;
    } else {
      s.vy *= decay;
    }
    // 6.
    int turn = 0, forward = 0;
    bool mover = self_hook.mouse_is_mover && self_hook.mouse_is_mover();
    if (mover && !tessel_in_background() && self_hook.mouse_delta) self_hook.mouse_delta(&turn, &forward);
    // 7.
    bool ctrl = key_pressed(VK_KEY_CONTROL);
    if (key_pressed(VK_KEY_UP) || (mover && host()->key_down(VK_KEY_RBUTTON))) forward += 75;
    if (key_pressed(VK_KEY_DOWN)) forward -= 75;
    if (ctrl) forward *= 4;
    VxReal fwd = static_cast<VxReal>(forward) * 0.003f;
    // 8.
    VxReal side = 0;
    bool left = key_pressed(VK_KEY_LEFT), right = key_pressed(VK_KEY_RIGHT);
    if (!shift) {
      if (left) turn += 200;
      if (right) turn -= 200;
      // turn is in degrees a second: an arrow turns 200.
      s.target_yaw = wrap_degrees(s.target_yaw + static_cast<VxReal>(turn) * dt);
      if (std::abs(turn) > 20) s.turning = true;
      s.yaw = wrap_degrees(s.yaw + camera_follow_share(0.8f, dt) * wrap_degrees(s.target_yaw - s.yaw));
    } else {
      int value = turn;
      if (left) value += 75;
      if (right) value -= 75;
      if (ctrl) value *= 4;
      side = static_cast<VxReal>(value) * 0.003f;
      // Side-stepping only passes through walls where the world allows it.
      if (!s.pass_through) shift = false;
    }
    // 9.
    VxReal vstep = dt * 0.3f * (ctrl ? 4.0f : 1.0f);
    bool descending = false;
    if (s.flying_allowed) {
      if (key_pressed(VK_KEY_ADD)) {
        s.vy += vstep;
        s.flying = true;
      }
      if (key_pressed(VK_KEY_SUBTRACT)) {
        s.vy -= vstep;
        descending = true;
      }
    }
    // 10.
    VxReal a = s.yaw * kPi / 180.0f;
    VxReal wx = std::cos(a) * side + std::sin(a) * fwd;
    VxReal wz = std::cos(a) * fwd - std::sin(a) * side;
    if (!guided) {
      // Steps 5 and 10 for one horizontal component over t seconds.
      auto steer = [&](VxReal v, VxReal want, VxReal t) {
        if (flew) v *= 1.0f - camera_follow_share(0.03f, t);
        return s.flying ? v + want * t : v + camera_follow_share(0.5f, t) * (want - v);
      };
      VxReal vx = s.vx, vz = s.vz;
      s.vx = steer(vx, wx, dt);
      s.vz = steer(vz, wz, dt);
      // 11. Judged by what a 50 ms frame would make of this one's start: a small step of a
      // fast frame rate is not stopped before it gets going.
      VxReal step_x = steer(vx, wx, CAMERA_STEP_SECONDS), step_z = steer(vz, wz, CAMERA_STEP_SECONDS);
      if (std::fabs(step_x) < 0.01f && std::fabs(step_z) < 0.01f) s.vx = s.vz = 0;
    } else if (s.flying || s.gliding) {
      s.vx += wx * dt;
      s.vz += wz * dt;
    }
    if (!s.flying && !guided && !shift && self_hook.ground_ready && self_hook.ground_ready()) {
      s.vy -= dt * 0.98f;
      if (s.on_ground) s.vy *= 1.0f - camera_follow_share(0.9f, dt);
    }
    // 12.
    // A glide covers 4 % of the way left in 50 ms.
    VxReal scale = guided ? camera_follow_share(0.04f, dt) : dt;
    VxReal sx = s.vx * scale, sy = s.vy * scale, sz = s.vz * scale;
    if (guided) {
      VxReal speed = std::sqrt(s.vx * s.vx + s.vy * s.vy + s.vz * s.vz);
      if (s.gliding && speed < 0.35f) {
        s.gliding = false;
        s.approach = true;
      }
      if (s.approach && speed < 0.05f) s.approach = false;
    }
    // 13.
    if (shift || s.gliding) {
      s.x += sx;
      s.y += sy;
      s.z += sz;
      // A glide still raises the bump triggers of what it passes through.
      if (s.gliding) bump(s.x, s.y, s.z, VxVector{s.vx, s.vy, s.vz});
    } else {
      move_in_parts(sx, sy, sz, descending);
    }
  }
  // 14.
  s.x = clamp(s.x, -SELF_XZ_LIMIT, SELF_XZ_LIMIT);
  s.z = clamp(s.z, -SELF_XZ_LIMIT, SELF_XZ_LIMIT);
  s.y = clamp(s.y, SELF_Y_MIN, SELF_Y_MAX);
  if (s.jumped) {
    s.jumped = false;
    camera_update();
  }
  if (s.x == 0 && s.z == 0) s.x = 0.001f;
  // 15.
  show_position();
  place_self();
}

void place_self() {
  if (!s.avatar) return;
  int type = avatars_on() && self_hook.avatar_type ? self_hook.avatar_type() : 0;
  set_avatar_state(type, s.gesture);
  if (self_hook.anim_update) self_hook.anim_update(s.avatar, platform_ticks() + 1);
  if (type != s.last_type) {
    // A new type brings a new model: hidden again, measured again.
    s.last_type = type;
    hide_in_first_person();
    s.avatar_height = -1;
  }
}

void self_create_avatar() {
  if (s.avatar || !self_hook.anim_create) return;
  s.avatar = self_hook.anim_create(s.scene, 0, perform_zembrels() != 0 ? 1 : 0);
  if (!s.avatar) return;
  bool on = avatars_on();
  int type = on && self_hook.avatar_type ? self_hook.avatar_type() : 0;
  set_avatar_state(type, on ? s.gesture : 0);
  s.last_type = type;
  hide_in_first_person();
  s.avatar_height = -1;
}

void self_destroy_avatar() {
  if (!s.avatar) return;
  if (self_hook.anim_destroy) self_hook.anim_destroy(s.avatar);
  s.avatar = nullptr;
  s.avatar_height = -1;
  s.last_type = -1;
}

SelfAmongOthers::SelfAmongOthers(VxReal camera_x, VxReal camera_z) {
  if (camera_mode() != 1) return;
  VxReal dx = self_get_x() - camera_x, dz = self_get_z() - camera_z;
  own_ = dx * dx + dz * dz;
}

void SelfAmongOthers::before(VxReal distance) {
  if (own_ != 0 && own_ > distance) {
    self_render();
    own_ = 0;
  }
}

void SelfAmongOthers::finish() {
  if (own_ != 0) self_render();
  own_ = 0;
}

void self_render() {
  if (s.avatar && s.scene) VxRenderScene(s.scene);
}

VxReal self_height() {
  if (!s.avatar) return SELF_DEFAULT_HEIGHT;
  if (s.avatar_height >= 0) return s.avatar_height;
  VxReal h = 0;
  if (self_hook.anim_model_height && self_hook.anim_model_height(s.avatar, &h) && std::isfinite(h) && h >= 0) {
    s.avatar_height = h;
    return h;
  }
  return SELF_DEFAULT_HEIGHT;
}

VxReal self_eye_height() { return s.y + 0.9f * self_height(); }

VxMatrix* self_head_matrix() {
  VxReal px = s.x, py = self_eye_height(), pz = s.z;
  if (s.avatar) {
    px = s.x;
    py = s.y;
    pz = s.z;
    if (self_hook.anim_position) self_hook.anim_position(s.avatar, &px, &py, &pz);
    py += self_height();
  }
  VxMatrix* m = VxScratchMatrix();
  VxRotateMatrix(m, 0, 1, 0, s.yaw, VX_REPLACE);
  VxTranslateMatrix(m, px, py, pz, VX_POSTCONCAT);
  return m;
}

void self_allow_pass_through() { s.pass_through = true; }
void self_forbid_pass_through() { s.pass_through = false; }
void self_allow_flying() { s.flying_allowed = true; }
void self_forbid_flying() {
  s.flying_allowed = false;
  s.flying = false;
}

void self_set_gesture(int gesture) {
  s.gesture = gesture;
  s.gesture_end = tick_now() + SELF_GESTURE_TIME;
  // Never 0: 0 means no gesture is timed.
  if (s.gesture_end == 0) s.gesture_end = 1;
}
void self_clear_gesture() {
  s.gesture = 0;
  s.gesture_end = 0;
}
int self_gesture() { return s.gesture; }

void self_invalidate_title() { s.force = true; }

void self_toggle_position() {
  s.title_on = !s.title_on;
  menu_check(119, s.title_on);
  s.force = true;
  if (!s.title_on) {
    std::string t = msg(68);
    t += " - ";
    t += world_name() ? world_name() : "";
    set_title(t.c_str());
  }
  profile_set_int("show", "position", s.title_on ? 1 : 0);
}

void self_toggle_altitude() {
  s.altitude_on = !s.altitude_on;
  if (s.altitude_on) {
    s.altitude_pane = self_hook.pane_add ? self_hook.pane_add(13) : 0;
  } else {
    if (s.altitude_pane && self_hook.pane_remove) self_hook.pane_remove(s.altitude_pane);
    s.altitude_pane = 0;
  }
  menu_check(132, s.altitude_on);
  profile_set_int("show", "altitude", s.altitude_on ? 1 : 0);
}

const char* self_position_text() { return make_position_text(floor_cell(s.x), floor_cell(s.z)); }

VxReal self_get_x() { return s.x; }
VxReal self_get_y() { return s.y; }
VxReal self_get_z() { return s.z; }
VxReal self_get_yaw() { return s.yaw; }
bool self_flying() { return s.flying; }
void self_set_flying(bool on) { s.flying = on; }
bool self_turning() { return s.turning; }
bool self_moving() { return std::sqrt(s.vx * s.vx + s.vz * s.vz) * 10.0f > 2.0f; }
bool self_gliding() { return s.gliding; }
bool self_on_ground() { return s.on_ground; }
VxScene* self_scene() { return s.scene; }
VxVector self_velocity() { return VxVector{s.vx, s.vy, s.vz}; }
const char* self_title() { return s.title.c_str(); }

void self_own_position(float* x, float* y, float* z, float* yaw) {
  *x = self_get_x();
  *y = self_get_y();
  *z = self_get_z();
  *yaw = self_get_yaw();
}

void self_reset_for_test() {
  self_destroy_avatar();
  if (s.scene) VxDestroyScene(s.scene);
  s = State();
  camera_set_self_source(nullptr);
}
