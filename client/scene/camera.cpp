#include "client/scene/camera.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "client/core/log.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/tessel.h"
#include "client/core/tick.h"
#include "client/scene/display_viewport.h"
#include "client/scene/driver.h"
#include "client/scene/self.h"
#include "platform/ddraw/ddraw_standin.h"
#include "client/servers/world.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/gdi.h"

const VxReal camera_distances[4] = {0.5f, 1.0f, 2.0f, 4.0f};

namespace {

constexpr int kPitchLimit = 85;
constexpr int kPitchStep = 5;
constexpr long long kDirect3dPixels = 524288;  // the largest Direct3D camera, in pixels
constexpr int kMinSide = 2;
constexpr int kSmallSteps = 16;  // 4-pixel steps tried before the sides are halved  // smallest camera side: a window shrunk to nothing still gets one

struct State {
  VxCamera* main = nullptr;
  VxCamera* half = nullptr;
  int width = 0, height = 0;
  int mode = -1;
  int step = 0;
  VxReal pitch = 0;
  VxReal back[3] = {0, 0, 0.7f};
  VxRaster* backdrop_main = nullptr;
  VxRaster* backdrop_half = nullptr;
  VxVector target{0, 0, 0};
  void* image_main = nullptr;
  void* image_half = nullptr;
  bool image_surface = false;
  void* surface_dc = nullptr;  // the locked surface's context between get and release
  void* locked = nullptr;
  bool use_half = false;
  VxCamera* updating = nullptr;  // the camera begun this frame
  uint32_t previous_now = 0;     // frame tick of the last placement
};

State s;
camera_self_fn self_source = nullptr;
const CameraUiLinks* ui = nullptr;

CameraSelf self() {
  CameraSelf me;
  if (self_source) self_source(&me);
  return me;
}

void menu_check(int id, bool on) {
  if (ui && ui->menu_check) ui->menu_check(id, on);
}
void toolbar_press(int id, bool on) {
  if (ui && ui->toolbar_press) ui->toolbar_press(id, on);
}
// A menu item and its toolbar button together.
void enable_both(int id, bool on) {
  if (ui && ui->menu_enable) ui->menu_enable(id, on);
  if (ui && ui->toolbar_enable) ui->toolbar_enable(id, on);
}

void menu_update() {
  if (s.mode == 1) {
    enable_both(124, false);
    enable_both(125, false);
    enable_both(131, false);
    menu_check(127, true);
    menu_check(126, false);
    toolbar_press(126, false);
  } else {
    menu_check(126, true);
    menu_check(127, false);
    toolbar_press(127, false);
    enable_both(131, s.pitch != 0);
    enable_both(124, s.pitch != -kPitchLimit);
    enable_both(125, s.pitch != kPitchLimit);
  }
}

void set_avatar_state(int state) {
  VxClump* avatar = self().avatar;
  if (!avatar) return;
  VxSetClumpState(avatar, state);
  VxForAllChildClumps(avatar, [](VxClump* part, void* data) {
    VxSetClumpState(part, *static_cast<int*>(data));
  }, &state);
}

VxReal eye_height(const CameraSelf& me) { return me.y + 0.9f * me.height; }

void destroy_cameras() {
  if (s.main) VxDestroyCamera(s.main);
  if (s.half) VxDestroyCamera(s.half);
  s.main = s.half = nullptr;
  s.image_main = s.image_half = nullptr;
  s.updating = nullptr;
}

}  // namespace

void camera_set_self_source(camera_self_fn fn) { self_source = fn; }
void camera_set_ui_links(const CameraUiLinks* links) { ui = links; }

int camera_resize(int* width, int* height) {
  if (!driver_ready() || !width || !height) return s.main != nullptr;
  int w = *width, h = *height;
  // Even sides, 4 pixels less for the viewport's edge; never below the smallest camera.
  long long wl = static_cast<long long>(w / 2) * 2 - 4, hl = static_cast<long long>(h / 2) * 2 - 4;
  int nw = static_cast<int>(wl < kMinSide ? kMinSide : wl);
  int nh = static_cast<int>(hl < kMinSide ? kMinSide : hl);
  if (s.main && nw == s.width && nh == s.height) return 1;

  VxVector position{0, 0, 0};
  if (s.main) VxGetCameraPosition(s.main, &position);
  destroy_cameras();
  s.width = s.height = 0;

  if (driver_using_direct3d()) {
    while (static_cast<long long>(nw) * nh > kDirect3dPixels && nw > kMinSide && nh > kMinSide) {
      nw -= 2;
      nh -= 2;
      *width -= 2;
      *height -= 2;
    }
  }
  // Smaller and smaller until the engine can make one, but never below the smallest side: a
  // camera that cannot be made at all is reported, not looped on. After a few 4-pixel steps
  // the sides are halved, so that a huge request ends in a few dozen tries.
  for (int tries = 0;; ++tries) {
    s.main = VxCreateCamera(nw, nh, 0);
    if (s.main || nw - 4 < kMinSide || nh - 4 < kMinSide) break;
    int cut_w = 4, cut_h = 4;
    if (tries >= kSmallSteps) {
      cut_w = std::max(4, (nw / 2) & ~1);
      cut_h = std::max(4, (nh / 2) & ~1);
      if (nw - cut_w < kMinSide || nh - cut_h < kMinSide) cut_w = cut_h = 4;
    }
    nw -= cut_w;
    nh -= cut_h;
    *width -= cut_w;
    *height -= cut_h;
  }
  if (!s.main) {
    log_write("camera_resize: no camera (%d)", VxGetError());
    return 0;
  }
  s.width = nw;
  s.height = nh;
  VxSetCameraPosition(s.main, position.x, position.y, position.z);
  VxSetCameraBackColor(s.main, s.back[0], s.back[1], s.back[2]);
  VxSetCameraNearClipping(s.main, 0.025f);
  VxSetCameraViewport(s.main, 0, 0, nw, nh);
  s.image_main = VxGetCameraImage(s.main);
  VxSetCameraBackdrop(s.main, s.backdrop_main);

  if (!driver_using_direct3d()) {
    s.half = VxCreateCamera(nw / 2 > 0 ? nw / 2 : 1, nh / 2 > 0 ? nh / 2 : 1, 0);
    if (!s.half) {
      s.use_half = false;
      return 1;
    }
    VxSetCameraPosition(s.half, position.x, position.y, position.z);
    VxSetCameraBackColor(s.half, s.back[0], s.back[1], s.back[2]);
    VxSetCameraNearClipping(s.half, 0.025f);
    VxHalfCameraControl pair{nw, nh, s.half};
    VxDeviceControl(VX_CONTROL_HALF_CAMERA, 0, &pair, sizeof pair);
    VxSetCameraViewport(s.half, 0, 0, nw / 2, nh / 2);
    s.image_half = VxGetCameraImage(s.half);
    VxSetCameraBackdrop(s.half, s.backdrop_half);
  }
  return 1;
}

int camera_init() {
  int w = 200, h = 120;
  camera_resize(&w, &h);
  if (!s.main) return 0;
  camera_track_ahead();
  if (ui && ui->toolbar_enable) {
    ui->toolbar_enable(126, true);
    ui->toolbar_enable(127, true);
  }
  int32_t surface = 0;
  s.image_surface = VxGetDeviceInfo(VX_INFO_IMAGE_SURFACE, &surface, 4) && surface;
  // The world's colour attributes reach the back colour through the world connection.
  world_hook.camera_set_color = camera_set_color;
  return 1;
}

void camera_term() {
  if (world_hook.camera_set_color == camera_set_color) world_hook.camera_set_color = nullptr;
  destroy_cameras();
  s = State{};
}

void camera_size_viewwindow() {
  if (!s.main) return;
  int x = 0, y = 0, w = 0, h = 0;
  if (!VxGetCameraViewport(s.main, &x, &y, &w, &h) || w <= 0 || h <= 0) return;
  VxReal longer = w > h ? w : h, shorter = w > h ? h : w;
  VxReal big = s.mode == 1 ? 0.5f : 1.0f;
  VxReal small = big * shorter / longer;
  VxReal vw = w >= h ? big : small, vh = w >= h ? small : big;
  VxSetCameraViewwindow(s.main, vw, vh);
  if (s.mode != 1 && s.half) VxSetCameraViewwindow(s.half, vw, vh);
}

void camera_track_ahead() {
  toolbar_press(126, true);
  if (s.mode == 0) return;
  // Hidden from its own eyes: the engine's off state (drawn only in third person).
  set_avatar_state(VX_STATE_OFF);
  s.mode = 0;
  camera_size_viewwindow();
  menu_update();
}

void camera_track_self(int cycle) {
  toolbar_press(127, true);
  if (cycle == 0 || s.mode != 1) {
    set_avatar_state(VX_STATE_ON);
    s.mode = 1;
    camera_size_viewwindow();
    menu_update();
  } else {
    s.step = (s.step + 1) % 4;
  }
}

void camera_look_up() {
  if (s.mode == 1) return;
  s.pitch = s.pitch - kPitchStep < -kPitchLimit ? -kPitchLimit : s.pitch - kPitchStep;
  menu_update();
}

void camera_look_down() {
  if (s.mode == 1) return;
  s.pitch = s.pitch + kPitchStep > kPitchLimit ? kPitchLimit : s.pitch + kPitchStep;
  menu_update();
}

void camera_look_level() {
  if (s.mode == 1) return;
  s.pitch = 0;
  menu_update();
}

void camera_set_color(int red, int green, int blue) {
  // Bytes from world attributes: anything outside 0..255 is cut to it.
  auto unit = [](int v) { return static_cast<VxReal>(v < 0 ? 0 : v > 255 ? 255 : v) / 255.0f; };
  s.back[0] = unit(red);
  s.back[1] = unit(green);
  s.back[2] = unit(blue);
  if (s.main) VxSetCameraBackColor(s.main, s.back[0], s.back[1], s.back[2]);
  if (s.half) VxSetCameraBackColor(s.half, s.back[0], s.back[1], s.back[2]);
}

void camera_set_backdrops(VxRaster* main_raster, VxRaster* half_raster) {
  s.backdrop_main = main_raster;
  s.backdrop_half = half_raster;
  if (s.main) VxSetCameraBackdrop(s.main, main_raster);
  if (s.half) VxSetCameraBackdrop(s.half, half_raster);
}

int camera_max_width() { return display_profile().width; }
int camera_max_height() { return display_profile().height; }

VxReal camera_frame_seconds(uint32_t* previous) {
  uint32_t now = tick_now();
  int32_t passed = tick_diff(*previous, now);
  *previous = now;
  if (passed <= 0) return 0;
  uint32_t elapsed = static_cast<uint32_t>(passed);
  return static_cast<VxReal>(elapsed > SELF_ELAPSED_CAP ? SELF_ELAPSED_CAP : elapsed) * 0.001f;
}

VxReal camera_follow_share(VxReal share, VxReal dt) {
  if (!(dt > 0)) return 0;
  return 1.0f - std::pow(1.0f - share, dt / CAMERA_STEP_SECONDS);
}

void camera_update() {
  if (s.mode < 0 || !s.main) return;
  VxReal dt = camera_frame_seconds(&s.previous_now);
  CameraSelf me = self();
  VxReal eye = eye_height(me);
  if (s.mode == 0) {
    VxMatrix* m = VxScratchMatrix();
    VxRotateMatrix(m, 0, 1, 0, me.yaw, VX_REPLACE);
    VxRotateMatrix(m, 1, 0, 0, s.pitch, VX_PRECONCAT);
    VxTranslateMatrix(m, me.x, eye, me.z, VX_POSTCONCAT);
    VxTransformCamera(s.main, m, VX_REPLACE);
    if (s.half) VxTransformCamera(s.half, m, VX_REPLACE);
    return;
  }
  VxReal d = camera_distances[s.step & 3];
  VxReal a = (me.yaw + 180.0f) * static_cast<VxReal>(M_PI) / 180.0f;
  s.target = VxVector{me.x + std::sin(a) * d, eye + 0.5f * d, me.z + std::cos(a) * d};
  VxVector p{0, 0, 0};
  VxGetCameraPosition(s.main, &p);
  VxReal f = camera_follow_share(0.2f, dt);
  VxMoveCamera(s.main, f * (s.target.x - p.x), f * (s.target.y - p.y), f * (s.target.z - p.z));
  VxPointCameraAt(s.main, me.x, eye, me.z);
  VxSetCameraLookUp(s.main, 0, 1, 0);
}

void camera_choose_half() {
  s.use_half = perform_panning() == 1 && s.mode == 0 && self().turning &&
               s.half && !driver_using_direct3d();
}

int camera_begin_update() {
  if (tessel_in_background()) return 1;
  VxCamera* camera = s.use_half && s.half ? s.half : s.main;
  s.updating = camera;
  if (!camera) return 0;
  VxSetCameraWindow(camera, viewport_window());
  return VxBeginCameraUpdate(camera);
}

int camera_end_update() {
  // A frame begun before the program went to the background is still ended: an open frame
  // would refuse every later begin.
  if (tessel_in_background() && !s.updating) return 1;
  VxCamera* camera = s.updating;
  s.updating = nullptr;
  return camera ? VxEndCameraUpdate(camera) : 0;
}

VxCamera* camera_get_main() { return s.main; }
VxCamera* camera_get_half() { return s.half; }
bool camera_tracking_self() { return s.mode == 1; }
bool camera_using_half() { return s.use_half && s.half; }

bool camera_moving() {
  if (s.mode != 1 || !s.main) return false;
  VxVector p{0, 0, 0};
  VxGetCameraPosition(s.main, &p);
  return std::fabs(p.x - s.target.x) > 1 || std::fabs(p.z - s.target.z) > 1;
}

// A plain image is its own drawing context; a surface image has none to lend here.
void* camera_get_dc() {
  if (!s.image_surface) return camera_using_half() ? s.image_half : s.image_main;
  // A surface lends its pixels while locked; they take the colours of the screen's palette.
  if (s.surface_dc) return s.surface_dc;
  VxCamera* camera = camera_using_half() ? s.half : s.main;
  auto* surface = camera ? static_cast<DdSurface*>(VxGetCameraImage(camera)) : nullptr;
  if (!surface) return nullptr;
  DdSurfaceDesc desc{};
  desc.size = sizeof desc;
  if (surface->Lock(nullptr, &desc, kDdlockWait, nullptr) != kDdOk || !desc.surface) return nullptr;
  uint8_t colours[768];
  PaletteEntry entries[256] = {};
  GdiDc* screen = gdi_get_dc(nullptr);
  if (!screen || gdi_get_system_palette_entries(screen, 0, 256, entries) != 256)
    for (int i = 0; i < 256; ++i) entries[i] = PaletteEntry{uint8_t(i), uint8_t(i), uint8_t(i), 0};
  if (screen) gdi_release_dc(nullptr, screen);
  for (int i = 0; i < 256; ++i) {
    colours[3 * i] = entries[i].red;
    colours[3 * i + 1] = entries[i].green;
    colours[3 * i + 2] = entries[i].blue;
  }
  int bits = static_cast<int>(desc.format.bits ? desc.format.bits : 8);
  s.surface_dc = gdi_create_pixel_dc(desc.surface, desc.pitch, desc.width, desc.height, bits, colours);
  if (!s.surface_dc) {
    surface->Unlock(nullptr);
    return nullptr;
  }
  s.locked = surface;
  return s.surface_dc;
}

void camera_release_dc() {
  if (!s.surface_dc) return;
  gdi_release_pixel_dc(static_cast<GdiDc*>(s.surface_dc));
  s.surface_dc = nullptr;
  if (s.locked) static_cast<DdSurface*>(s.locked)->Unlock(nullptr);
  s.locked = nullptr;
}

void camera_invalidate() {
  VxCamera* camera = camera_using_half() ? s.half : s.main;
  if (camera) VxInvalidateCameraViewport(camera);
}

int camera_mode() { return s.mode; }
int camera_distance_step() { return s.step; }
VxReal camera_pitch() { return s.pitch; }
void camera_back_color(VxReal rgb[3]) {
  for (int i = 0; i < 3; ++i) rgb[i] = s.back[i];
}
void camera_size(int* width, int* height) {
  if (width) *width = s.width;
  if (height) *height = s.height;
}

void camera_reset_for_test() {
  if (world_hook.camera_set_color == camera_set_color) world_hook.camera_set_color = nullptr;
  destroy_cameras();
  s = State{};
  self_source = nullptr;
  ui = nullptr;
}
