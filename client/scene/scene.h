#pragma once
// The world scene: the engine scene that holds the world's objects, with its one light.
#include "engine/vxl21.h"

// Creates the world scene; null on failure (start-up then stops).
VxScene* scene_init();
// Task "scene": draws the world scene into the camera being updated.
void scene_update();
void scene_term();
VxScene* scene_world();
// The light every scene of the program gets (the world's and the avatars' scenes).
VxLight* scene_make_light();
// The clump under a point of the viewport, or null.
VxClump* scene_pick(int x, int y);
// The same pick in another scene drawn with the main camera (an avatar's).
VxClump* scene_pick_in(VxScene* scene, int x, int y);
