#pragma once
// Object animation: a numbered series of images (fire1, fire2, ...) swapped onto an object's
// polygons frame by frame with a fixed delay, and the "adone" trigger at the end.
// Window thread only.
#include <cstdint>

struct element;
struct animation;
struct texture;

enum { ANIMATION_IMAGE_LIMIT = 100 };  // image counts of 100 or more are refused

// New animation on the element (replacing its previous one). frame_list holds frames image
// indices counted from 0, or is null (then frames must equal images). Null when refused.
animation* animation_create(const char* name, int images, int frames, int delay, int tag,
                            int masked, const int* frame_list, element* e);
// Starts the image (and mask) downloads without keeping references.
void animation_preload(const char* name, int images, int frames, const int* frame_list,
                       int masked);
// Detaches the animation; the record is freed by the next animation_update.
void animation_destroy(animation* a);
void animation_show(animation* a);
void animation_start(animation* a);
void animation_stop(animation* a);
void animation_set_loop(animation* a, int flag);
// n counted from 1; n < 1 does nothing.
void animation_set_frame(animation* a, int n);
void animation_step(animation* a, int d);
// Task "animate".
void animation_update();

// Read-outs (0 for a missing animation).
int animation_current(const animation* a);  // current frame, from 0
int animation_running(const animation* a);
int animation_frames(const animation* a);

// (a - b) reduced into -180 .. 180 degrees.
float angle_difference(float a, float b);
