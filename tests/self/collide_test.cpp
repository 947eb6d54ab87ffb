// The polygon-cube test on hand-worked cases, and the collision test over real engine clumps.
#include <limits>
#include <random>

#include "self_fixture.h"

namespace {

const VxVector kStill{0, 0, 0};

int poly(std::vector<VxVector> v, VxVector motion = kStill) {
  return polygon_meets_cube(v.data(), static_cast<int>(v.size()), motion);
}

// A square in the plane x = c, spanning +-s in y and z, its normal along +x.
std::vector<VxVector> wall_x(VxReal c, VxReal s) { return {{c, -s, -s}, {c, s, -s}, {c, s, s}, {c, -s, s}}; }

}  // namespace

TEST(PolygonCube, SegmentsThroughFacesEdgesAndCorners) {
  EXPECT_EQ(1, segment_meets_cube({-5, 0, 0}, {5, 0, 0}));
  EXPECT_EQ(0, segment_meets_cube({-5, 0.6f, 0}, {5, 0.6f, 0}));
  EXPECT_EQ(0, segment_meets_cube({0.6f, 0, 0}, {5, 0, 0}));  // ends before the cube
  EXPECT_EQ(0, segment_meets_cube({5, 0, 0}, {0.6f, 0, 0}));  // the same, reversed
  // Across the edge at x = y = 0.5: the line x + y = 0.9 cuts it, x + y = 1.05 misses it.
  EXPECT_EQ(1, segment_meets_cube({-0.1f, 1.0f, 0}, {1.0f, -0.1f, 0}));
  EXPECT_EQ(0, segment_meets_cube({0.0f, 1.05f, 0}, {1.05f, 0.0f, 0}));
  EXPECT_EQ(0, segment_meets_cube({1.05f, 0.0f, 0}, {0.0f, 1.05f, 0}));
  // Past the corner (0.5, 0.5, 0.5) on a skew line: inside the three slabs' extents, yet
  // it misses (only the cross-axis tests catch it).
  EXPECT_EQ(0, segment_meets_cube({1.2f, 0.3f, 0.6f}, {0.3f, 1.2f, 0.6f}));
  EXPECT_EQ(1, segment_meets_cube({0.9f, 0.05f, 0.4f}, {0.05f, 0.9f, 0.4f}));
}

TEST(PolygonCube, VertexAtTheCentreIntersects) {
  EXPECT_EQ(1, poly({{0, 0, 0}, {5, 0, 0}, {5, 5, 0}}));
  // Also when every vertex is the same point inside (a polygon with no area).
  EXPECT_EQ(1, poly({{0.1f, 0.1f, 0.1f}, {0.1f, 0.1f, 0.1f}, {0.1f, 0.1f, 0.1f}}));
}

TEST(PolygonCube, WallsBesideAndAcrossTheBody) {
  EXPECT_EQ(0, poly(wall_x(0.6f, 5)));   // beyond the face x = 0.5
  EXPECT_EQ(0, poly(wall_x(-0.51f, 5)));
  // Across the body with no vertex and no edge near it: only the plane test finds it.
  EXPECT_EQ(1, poly(wall_x(0.4f, 5)));
  EXPECT_EQ(1, poly(wall_x(0.5f, 5)));  // touching counts
  // The same plane, but the polygon's hole lies where the body is: a square ring is two
  // polygons here; one strip above the body misses.
  EXPECT_EQ(0, poly({{0.4f, 0.6f, -5}, {0.4f, 5, -5}, {0.4f, 5, 5}, {0.4f, 0.6f, 5}}));
}

TEST(PolygonCube, OnlyPolygonsFacingTheMotionCount) {
  // wall_x's normal points along +x.
  EXPECT_EQ(0, poly(wall_x(0.4f, 5), {1, 0, 0}));
  EXPECT_EQ(1, poly(wall_x(0.4f, 5), {-1, 0, 0}));
  EXPECT_EQ(1, poly(wall_x(0.4f, 5), {0, 0, 1}));  // sliding along it
  // A vertex inside does not stop a body moving out through the back of the polygon.
  EXPECT_EQ(0, poly({{0, 0, 0}, {0, 5, 0}, {0, 5, 5}}, {1, 0, 0}));
  EXPECT_EQ(1, poly({{0, 0, 0}, {0, 5, 0}, {0, 5, 5}}, {-1, 0, 0}));
}

TEST(PolygonCube, CornerCutsAndCornerBevels) {
  // The plane x + y + z = 1.6 passes the corner (sum 1.5): rejected by the corner bevels.
  EXPECT_EQ(0, poly({{0.8f, 0.8f, 0}, {0.8f, 0, 0.8f}, {0, 0.8f, 0.8f}}));
  // x + y + z = 1.4 cuts the corner off; no vertex or edge touches the cube.
  EXPECT_EQ(1, poly({{0.7f, 0.7f, 0}, {0.7f, 0, 0.7f}, {0, 0.7f, 0.7f}}));
  // Along the edge bevel: x + y = 1.1 misses the edge at x = y = 0.5, x + y = 0.9 cuts it.
  EXPECT_EQ(0, poly({{1.1f, 0, -5}, {0, 1.1f, -5}, {0, 1.1f, 5}, {1.1f, 0, 5}}));
  EXPECT_EQ(1, poly({{0.9f, 0, -5}, {0, 0.9f, -5}, {0, 0.9f, 5}, {0.9f, 0, 5}}));
}

TEST(PolygonCube, DegeneratePolygons) {
  // Collinear vertices: no plane, but the edge through the body still hits.
  EXPECT_EQ(1, poly({{-5, 0, 0}, {0.2f, 0, 0}, {5, 0, 0}}));
  EXPECT_EQ(0, poly({{-5, 0.7f, 0}, {0, 0.7f, 0}, {5, 0.7f, 0}}));
  // Leading repeated vertices: the normal comes from the next products.
  EXPECT_EQ(0, poly({{0.4f, -5, -5}, {0.4f, -5, -5}, {0.4f, 5, -5}, {0.4f, 5, 5}}, {1, 0, 0}));
  EXPECT_EQ(1, poly({{0.4f, -5, -5}, {0.4f, -5, -5}, {0.4f, 5, -5}, {0.4f, 5, 5}}, {-1, 0, 0}));
  EXPECT_EQ(0, poly({}));
  EXPECT_EQ(0, polygon_meets_cube(nullptr, 3, kStill));
  std::vector<VxVector> many(65, VxVector{0, 0, 0});
  EXPECT_EQ(0, poly(many));  // more than a polygon may have in the test
}

TEST(PolygonCube, NotANumberAndHugeVertices) {
  const VxReal nan = std::numeric_limits<VxReal>::quiet_NaN();
  const VxReal inf = std::numeric_limits<VxReal>::infinity();
  // A vertex that is not a number would classify as inside.
  EXPECT_EQ(0, poly({{nan, nan, nan}, {5, 0, 0}, {5, 5, 0}}));
  EXPECT_EQ(0, poly({{inf, 0, 0}, {0, inf, 0}, {-inf, 0, 0}}));
  // A huge wall across the body is still a wall.
  EXPECT_EQ(1, poly(wall_x(0.4f, 3e37f)));
  EXPECT_EQ(0, poly(wall_x(0.6f, 3e37f)));
  // Random garbage never crashes and always answers 0 or 1.
  std::mt19937 rng(1234);
  std::uniform_real_distribution<VxReal> any(-1e6f, 1e6f), near(-2, 2);
  for (int round = 0; round < 2000; ++round) {
    int n = 1 + static_cast<int>(rng() % 64);
    std::vector<VxVector> v(n);
    for (auto& p : v) {
      bool big = rng() % 4 == 0;
      p = {big ? any(rng) : near(rng), big ? any(rng) : near(rng), near(rng)};
    }
    int r = poly(v, {near(rng), near(rng), near(rng)});
    ASSERT_TRUE(r == 0 || r == 1);
  }
}

// --- The collision test over engine clumps ----------------------------------------------

using Bump = SelfFixture;

TEST_F(Bump, WallStopsTheBodyAtItsFace) {
  // A wall whose near face is at z = 1.95 (0.1 thick), body half width 0.025.
  add(make_block(0.5f, 0.5f, 2.0f, 3, 1, 0.1f));
  const VxVector north{0, 0, 1};
  EXPECT_EQ(0, bump(0.5f, 0, 1.92f, north));
  EXPECT_EQ(9, world_.starts);  // the nine cells around the body
  world_.starts = 0;
  EXPECT_EQ(1, bump(0.5f, 0, 1.93f, north));
  // A solid hit ends the search: cells (-1, 0..2), then (0, 0..2) where the wall is.
  EXPECT_EQ(6, world_.starts);
  EXPECT_EQ(0, bump(0.5f, 1.1f, 1.93f, north));  // above it (height 0.2 body, wall to 1.0)
  EXPECT_EQ(1, bump(0.5f, 0.85f, 1.93f, north));
}

TEST_F(Bump, TurnedWallUsesTheWorldMatrix) {
  // The same wall turned a quarter about y stands across x now.
  add(make_block(2.0f, 0.5f, 0.5f, 3, 1, 0.1f, 90));
  EXPECT_EQ(1, bump(1.93f, 0, 0.5f, VxVector{1, 0, 0}));
  EXPECT_EQ(0, bump(1.92f, 0, 0.5f, VxVector{1, 0, 0}));
  EXPECT_EQ(0, bump(0.5f, 0, 1.93f, VxVector{0, 0, 1}));
}

TEST_F(Bump, ObjectsOutsideTheNineCellsAreNotSearched) {
  // Listed two cells away although its geometry reaches the body: not tested.
  int i = add(make_block(0.5f, 0.5f, 0.5f, 1, 1, 1));
  world_.objects[i].cell_x = 2;
  EXPECT_EQ(0, bump(0.5f, 0, 0.5f, kStill));
  world_.objects[i].cell_x = 1;
  EXPECT_EQ(1, bump(0.5f, 0, 0.5f, kStill));
}

TEST_F(Bump, SwitchedOffClumpsAreNotTested) {
  VxClump* c = make_block(0.5f, 0.5f, 0.5f, 1, 1, 1);
  add(c);
  VxSetClumpState(c, VX_STATE_OFF);
  EXPECT_EQ(0, bump(0.5f, 0, 0.5f, kStill));
  VxSetClumpState(c, VX_STATE_ON);
  EXPECT_EQ(1, bump(0.5f, 0, 0.5f, kStill));
}

// A model of two parts, a near wall and a far one: with the near part switched off the body
// walks through where it stands and is stopped by the far one; switched on, it holds again.
TEST_F(Bump, ASwitchedOffPartIsWalkedThroughAndThePartsThatAreOnHold) {
  VxClump* model = VxCreateClump(0, 0);
  VxClump* near_wall = make_block(0.5f, 0.5f, 1.0f, 3, 1, 0.1f);
  VxClump* far_wall = make_block(0.5f, 0.5f, 1.6f, 3, 1, 0.1f);
  ASSERT_TRUE(VxAddChildToClump(model, near_wall));
  ASSERT_TRUE(VxAddChildToClump(model, far_wall));
  add(model);
  const VxVector north{0, 0, 1};
  VxSetClumpState(near_wall, VX_STATE_OFF);
  EXPECT_EQ(0, bump(0.5f, 0, 0.93f, north)) << "the switched-off part is walked through";
  EXPECT_EQ(0, bump(0.5f, 0, 1.2f, north));
  EXPECT_EQ(1, bump(0.5f, 0, 1.53f, north)) << "the part that is on stops the body";
  VxSetClumpState(near_wall, VX_STATE_ON);
  EXPECT_EQ(1, bump(0.5f, 0, 0.93f, north)) << "switched on again, it holds";
}

TEST_F(Bump, NonSolidObjectTriggersOncePerContact) {
  int i = add(make_block(0.5f, 0.5f, 2.0f, 3, 1, 0.1f), false);
  const VxVector north{0, 0, 1};
  EXPECT_EQ(0, bump(0.5f, 0, 1.96f, north));
  EXPECT_EQ(1, world_.objects[i].bumps);
  EXPECT_EQ(0, bump(0.5f, 0, 1.97f, north));  // still touching: no second trigger
  EXPECT_EQ(1, world_.objects[i].bumps);
  EXPECT_EQ(world_.objects[i].clump, bump_last_clump());
  EXPECT_EQ(0, bump(0.5f, 0, 1.5f, north));  // away
  EXPECT_EQ(nullptr, bump_last_clump());
  EXPECT_EQ(0, bump(0.5f, 0, 1.96f, north));  // and back
  EXPECT_EQ(2, world_.objects[i].bumps);
}

TEST_F(Bump, SolidObjectTriggersOnceAndBlocks) {
  int i = add(make_block(0.5f, 0.5f, 2.0f, 3, 1, 0.1f));
  EXPECT_EQ(1, bump(0.5f, 0, 1.96f, VxVector{0, 0, 1}));
  EXPECT_EQ(1, bump(0.5f, 0, 1.96f, VxVector{0, 0, 1}));
  EXPECT_EQ(1, world_.objects[i].bumps);
}

TEST_F(Bump, TriggerThatTeleportsOrCancelsEndsThePass) {
  int i = add(make_block(0.5f, 0.5f, 2.0f, 3, 1, 0.1f), false);
  world_.on_bump = [](int) { self_glide_to(10, 1, 10, 0); };
  EXPECT_EQ(1, bump(0.5f, 0, 1.96f, VxVector{0, 0, 1}));
  EXPECT_EQ(1, world_.objects[i].bumps);
  self_reset_for_test();
  bump_reset_for_test();
  world_.on_bump = [](int) { bump_cancel(); };
  EXPECT_EQ(1, bump(0.5f, 0, 1.96f, VxVector{0, 0, 1}));
  EXPECT_EQ(2, world_.objects[i].bumps);
  // The ended pass left the contact unrecorded; the next pass starts uncancelled.
  world_.on_bump = nullptr;
  EXPECT_EQ(0, bump(0.5f, 0, 1.96f, VxVector{0, 0, 1}));
  EXPECT_EQ(3, world_.objects[i].bumps);
}

TEST_F(Bump, LargeObjectCollidesAsItsBoundingBox) {
  // A ring of 65 (then 64) points with one small triangle far from the centre: polygon by
  // polygon the body touches nothing; as the box it does.
  auto ring = [](int n) {
    VxClump* c = VxCreateClump(n, 1);
    for (int k = 0; k < n; ++k) {
      VxReal a = 6.2831853f * k / n;
      VxAddVertexToClump(c, 0.5f + 0.4f * std::cos(a), 0.5f * (k % 2), 0.5f + 0.4f * std::sin(a));
    }
    const int t[3] = {1, 2, 3};
    VxAddPolygonToClump(c, 3, t);
    return c;
  };
  // The body straddles the box's face at x = 0.1 (the ring's westmost point).
  add(ring(65));
  EXPECT_EQ(1, bump(0.1f, 0.1f, 0.5f, kStill));
  EXPECT_EQ(0, bump(1.2f, 0.1f, 0.5f, kStill));  // outside the box
  world_.objects.clear();
  add(ring(64));
  EXPECT_EQ(0, bump(0.1f, 0.1f, 0.5f, kStill));
}

TEST_F(Bump, GroundLowersTheBodyByItsFirstVertexDepth) {
  world_.ground = make_floor(0, -0.1f, 0, 3);
  const VxVector down{0, -1, 0};
  // Standing at 0 the body reaches the ground at -0.1; a little above it is free.
  EXPECT_EQ(0, bump(0.5f, 0.01f, 0.5f, down));
  EXPECT_EQ(1, bump(0.5f, -0.01f, 0.5f, down));
  // Rising away from it is never blocked by it.
  EXPECT_EQ(0, bump(0.5f, -0.01f, 0.5f, VxVector{0, 1, 0}));
}

TEST_F(Bump, BrokenModelsNeitherCrashNorHang) {
  const VxReal nan = std::numeric_limits<VxReal>::quiet_NaN();
  VxClump* c = VxCreateClump(8, 4);
  VxAddVertexToClump(c, nan, 0, 0);
  VxAddVertexToClump(c, 0.5f, nan, 0.5f);
  VxAddVertexToClump(c, 1e38f, -1e38f, 1e38f);
  VxAddVertexToClump(c, 0.5f, 0.1f, 0.5f);
  const int a[3] = {1, 2, 4}, b[3] = {3, 3, 3}, d[4] = {4, 4, 4, 4};
  VxAddPolygonToClump(c, 3, a);
  VxAddPolygonToClump(c, 3, b);
  VxAddPolygonToClump(c, 4, d);  // a point: inside the body
  // A polygon of more corners than the test takes, on a clump small enough to be tested.
  std::vector<int> wide(100, 4);
  VxAddPolygonToClump(c, 100, wide.data());
  add(c);
  add(VxCreateClump(0, 0));  // no geometry at all
  EXPECT_EQ(1, bump(0.5f, 0.05f, 0.5f, kStill));  // found through the point polygon
  EXPECT_EQ(0, bump(5.5f, 0.05f, 5.5f, kStill));
  EXPECT_EQ(1, bump(nan, 0, 0, kStill));  // a position that is not a number never moves
}
