#pragma once
// The engine cameras through which every frame is drawn: the main camera and a half-size
// one, first- and third-person views, looking up and down, the back colour, the backdrops
// and the begin- and end-update tasks around each frame.
#include <cstdint>

#include "engine/vxl21.h"

// Every per-frame step of movement, turning and following is set for a frame of 50 ms and
// scaled by the frame's real length, so that it holds at any frame rate.
constexpr VxReal CAMERA_STEP_SECONDS = 0.05f;
// Seconds since *previous (a frame tick, moved on to this frame's): 0 when the clock went
// back, at most the longest step after a stall, so that nothing leaps.
VxReal camera_frame_seconds(uint32_t* previous);
// Share of the remaining way covered in dt seconds by a follow that covers `share` of it
// in 50 ms: 1 - (1 - share)^(dt / 0.05).
VxReal camera_follow_share(VxReal share, VxReal dt);

// The own avatar as the camera follows it. A module that moves the user fills it in.
struct CameraSelf {
  VxReal x = 0, y = 0, z = 0;
  VxReal yaw = 0;     // degrees
  VxReal height = 0;  // the avatar's height
  bool turning = false;
  VxClump* avatar = nullptr;  // shown in third person, hidden in first
};
using camera_self_fn = void (*)(CameraSelf* out);
// nullptr: the avatar stands at the origin, facing north, with no clump.
void camera_set_self_source(camera_self_fn fn);

// Menu items and toolbar buttons the views drive (ids 124 look up, 125 look down,
// 126 first person, 127 third person, 131 look level). Null entries are skipped.
struct CameraUiLinks {
  void (*menu_check)(int id, bool on);
  void (*menu_enable)(int id, bool on);
  void (*toolbar_press)(int id, bool pressed);
  void (*toolbar_enable)(int id, bool on);
};
void camera_set_ui_links(const CameraUiLinks* links);

// 1 when the main camera exists (start-up stops otherwise).
int camera_init();
void camera_term();
// Sizes the cameras for a view of *width x *height; the size really used is written back.
// Returns 1 when the main camera exists afterwards.
int camera_resize(int* width, int* height);
void camera_size_viewwindow();
void camera_track_ahead();
void camera_track_self(int cycle);
void camera_look_up();
void camera_look_down();
void camera_look_level();
void camera_set_color(int red, int green, int blue);  // 0..255 each
void camera_set_backdrops(VxRaster* main_raster, VxRaster* half_raster);
int camera_max_width();
int camera_max_height();

// Tasks: "camera" places the cameras; the begin and end records bracket the frame.
void camera_update();
int camera_begin_update();
int camera_end_update();
void camera_choose_half();

VxCamera* camera_get_main();
VxCamera* camera_get_half();
bool camera_tracking_self();
bool camera_using_half();
bool camera_moving();
void* camera_get_dc();
void camera_release_dc();
void camera_invalidate();

// State for the menus and tests.
int camera_mode();  // -1 before start-up, 0 first person, 1 third person
int camera_distance_step();
VxReal camera_pitch();
void camera_back_color(VxReal rgb[3]);
void camera_size(int* width, int* height);

// Distance of each third-person step, world units.
extern const VxReal camera_distances[4];

// Tests: back to the state before start-up (cameras destroyed).
void camera_reset_for_test();
