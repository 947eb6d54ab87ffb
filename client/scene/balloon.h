#pragma once
// Balloons: the names and chat lines drawn over avatars, anchored at a point in the world
// and drawn every frame into the camera image, white on a black shadow, centred in an
// 80 x 64 box above the anchor's screen point. While frames use the half camera the boxes
// wait (20 at most; further ones are not drawn that frame) for the viewport's own paint.
// Window thread only.
#include "engine/vxl21.h"

struct balloon;
struct GdiDc;

constexpr int BALLOON_DEFERRED = 20;
constexpr int BALLOON_TEXT = 512;

void balloon_init(void* main_window);
void balloon_term();
balloon* balloon_create();
void balloon_destroy(balloon* b);
void balloon_set_text(balloon* b, const char* format, ...) __attribute__((format(printf, 2, 3)));
void balloon_set_position(balloon* b, const VxMatrix* m);
// Task "balloon": 1 when balloons were drawn or there were none to draw.
int balloon_update();
// Draws the deferred balloons on dc; the number drawn.
int balloon_manual_draw(GdiDc* dc);

// Inspection for tests: balloons alive, the text of one, drawn by the last update.
int balloon_count();
const char* balloon_text(const balloon* b);
int balloon_drawn();
