#pragma once
// Collisions of the user's own body with the world. The body is an axis-aligned box; every
// polygon of every nearby object is moved into a space where that box is the unit cube
// centred at the origin and tested against the cube, only polygons that face the motion.
// Window thread only.
#include <cstdint>

#include "engine/vxl21.h"

struct element;

// Most vertices of an object tested polygon by polygon (larger ones are tested as their
// bounding box), and most vertices of one polygon.
constexpr int BUMP_MAX_VERTICES = 64;
// Body width along x and z, world units.
constexpr VxReal BUMP_BODY_WIDTH = 0.05f;

// Modules the test reads: the program's own by default; tests put in their own. A null entry
// counts as none there (no elements, every element solid, no trigger, no ground).
struct collide_hooks {
  // Iteration over a loaded cell's elements: next gives the clump (and the element), null at
  // the end.
  void (*visible_start)(int cell_x, int cell_z);
  VxClump* (*visible_next)(element** out);
  int (*element_solid)(const element* e);
  int (*behavior_trigger)(element* e, const char* trigger);
  // The ground model's clump, or null.
  VxClump* (*ground_clump)();
};
extern collide_hooks collide_hook;

// 1 when the body standing at (x, y, z) and moving along motion is blocked, else 0. Raises
// the "bump" trigger of each object touched, once per contact.
int bump(VxReal x, VxReal y, VxReal z, const VxVector& motion);
// Ends the current pass (reported as blocked).
void bump_cancel();
// The clump touched last (its trigger does not fire again while it stays touched).
VxClump* bump_last_clump();

// Tests one clump (state on only) against the body; 1 on a hit. offset_y lowers the body
// centre (the ground model).
int bump_clump(VxClump* clump, VxReal x, VxReal y, VxReal z, const VxVector& motion);

// --- The polygon-cube test, in the space where the body is the cube [-0.5, 0.5]^3 ---
// Outcode of a point against the six faces (bits 0-5), the twelve edge bevels (bits 0-11)
// and the eight corner bevels (bits 0-7 "beyond +1.5", 8-15 "beyond -1.5").
unsigned cube_face_code(const VxVector& p);
unsigned cube_bevel2d_code(const VxVector& p);
unsigned cube_bevel3d_code(const VxVector& p);
// 1 when the segment a-b meets the cube.
int segment_meets_cube(const VxVector& a, const VxVector& b);
// 1 when the polygon of n vertices meets the cube and does not face away from the motion
// (its normal's dot product with motion is not positive). n outside 3..64 gives 0, as does
// any vertex that is not a finite number.
int polygon_meets_cube(const VxVector* vertices, int n, const VxVector& motion);

// Tests: forget the last clump and the cancel flag, destroy the box clump.
void bump_reset_for_test();
