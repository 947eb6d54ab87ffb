// Own movement driven by a fake clock and scripted keys, against real engine clumps.
#include <cmath>
#include <limits>

#include "self_fixture.h"

namespace {

// Everything the hooks were called with.
struct Record {
  int titles = 0;
  std::string title;
  std::vector<std::pair<int, bool>> checks;
  std::vector<int> panes_added, panes_removed;
  std::string pane_text;
  int creates = 0, destroys = 0;
  int state_yaw = -999, state_type = -1, state_gesture = -1;
  VxReal model_height = 1.8f;
  bool height_known = true;
  int selected = 0;
  int picks_off = 0;
  int ground = 0;
};
Record* rec = nullptr;
char avatar_token;
VxClump* avatar_clump = nullptr;

self_hooks recording_hooks() {
  self_hooks h{};
  h.set_title = [](const char* t) {
    ++rec->titles;
    rec->title = t;
  };
  h.menu_check = [](int id, bool on) { rec->checks.push_back({id, on}); };
  h.pane_add = [](int weight) {
    rec->panes_added.push_back(weight);
    return 77;
  };
  h.pane_remove = [](int pane) { rec->panes_removed.push_back(pane); };
  h.pane_text = [](int pane, const char* text) { rec->pane_text = std::to_string(pane) + ":" + text; };
  h.pick_off = [] { ++rec->picks_off; };
  h.pick_selected = [] { return rec->selected; };
  h.ground_ready = [] { return rec->ground; };
  return h;
}

void add_avatar_hooks(self_hooks& h) {
  h.anim_create = [](void*, int other, int) -> void* {
    EXPECT_EQ(0, other);  // the own avatar
    ++rec->creates;
    return &avatar_token;
  };
  h.anim_destroy = [](void* a) {
    EXPECT_EQ(&avatar_token, a);
    ++rec->destroys;
  };
  h.anim_set_state = [](void*, VxReal, VxReal, VxReal, int yaw, uint32_t, int type, int, int gesture) {
    rec->state_yaw = yaw;
    rec->state_type = type;
    rec->state_gesture = gesture;
    return 1;
  };
  h.anim_model_height = [](void*, VxReal* out) {
    *out = rec->model_height;
    return rec->height_known ? 1 : 0;
  };
  h.anim_position = [](void*, VxReal* x, VxReal* y, VxReal* z) {
    *x = 10;
    *y = 20;
    *z = 30;
  };
  h.avatar_type = [] { return 7; };
  h.anim_clump = [](void*) { return avatar_clump; };
}

class Self : public SelfFixture {
 protected:
  void SetUp() override {
    SelfFixture::SetUp();
    rec = &record_;
    self_hook = recording_hooks();
    ASSERT_EQ(0, self_init(nullptr));
  }
  void TearDown() override {
    for (unsigned k : {VK_KEY_UP, VK_KEY_DOWN, VK_KEY_LEFT, VK_KEY_RIGHT, VK_KEY_CONTROL, VK_KEY_ADD})
      key_up(k);
    SelfFixture::TearDown();
    rec = nullptr;
    avatar_clump = nullptr;
  }
  // Placed, then one frame so that the jump is over and the clock is in step.
  void place(double x, double y, double z, double yaw) {
    self_set_position(x, y, z, yaw);
    frame(10);
  }
  void hold(unsigned key) { key_down(key); }
  // Runs north from (0.5, 0, 1) for four seconds toward a wall whose near face is at z =
  // 1.95: the body (0.025 to its front) stops just before it and is never let through.
  void run_into_wall_at_1_95() {
    place(0.5, 0, 1.0, 0);
    hold(VK_KEY_UP);
    hold(VK_KEY_CONTROL);
    for (int i = 0; i < 40; ++i) {
      frame(100);
      ASSERT_LE(self_get_z(), 1.95f - 0.025f);
    }
    EXPECT_GT(self_get_z(), 1.95f - 0.025f - 0.05f);
    key_up(VK_KEY_UP);
    key_up(VK_KEY_CONTROL);
  }
  // Frames at `rate` a second for `seconds`, on whole milliseconds that add up exactly;
  // returns the angle turned meanwhile, whatever wrapping the yaw went through.
  double run_at(int rate, double seconds) {
    double turned = 0;
    int frames = static_cast<int>(std::lround(rate * seconds));
    for (int k = 1; k <= frames; ++k) {
      VxReal before = self_get_yaw();
      frame(static_cast<uint32_t>(k * 1000 / rate - (k - 1) * 1000 / rate));
      double d = self_get_yaw() - before;
      turned += d > 180 ? d - 360 : d < -180 ? d + 360 : d;
    }
    return turned;
  }
  Record record_;
};

}  // namespace

TEST_F(Self, PositionOutsideTheLimitsChangesNothing) {
  place(1, 2, 3, 45);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double bad[][4] = {{0, 201, 0, 0},     {32765, 1, 0, 0}, {0, 1, -32765, 0},
                           {0, -35.01, 0, 0},  {nan, 1, 0, 0},   {0, 1, 0, nan}};
  for (const auto& b : bad) {
    self_set_position(b[0], b[1], b[2], b[3]);
    EXPECT_FLOAT_EQ(1, self_get_x());
    EXPECT_FLOAT_EQ(2, self_get_y());
    EXPECT_FLOAT_EQ(3, self_get_z());
    EXPECT_FLOAT_EQ(45, self_get_yaw());
    self_glide_to(b[0], b[1], b[2], b[3]);
    EXPECT_FALSE(self_gliding());
  }
  EXPECT_EQ(1, record_.picks_off);  // only the accepted move turned picking off
  self_set_position(32764, 200, -32764, 190);
  EXPECT_FLOAT_EQ(32764, self_get_x());
  EXPECT_FLOAT_EQ(200, self_get_y());
  EXPECT_FLOAT_EQ(-170, self_get_yaw());  // kept within [-180, 180)
  self_set_position(-32764, -35, 32764, -180);
  EXPECT_FLOAT_EQ(-35, self_get_y());
  EXPECT_FLOAT_EQ(-180, self_get_yaw());
}

TEST_F(Self, LongPauseMovesAsIf750msHadPassed) {
  place(0.5, 1, 0.5, 0);
  hold(VK_KEY_UP);
  frame(5000);
  // Forward 75 x 0.003 = 0.225 a second, half of the rest taken up in each 50 ms: in 750 ms
  // all but 0.5^15 of it, for 0.75 s.
  const double speed = 0.225 * (1 - std::pow(0.5, 15));
  EXPECT_NEAR(0.5 + speed * 0.75, self_get_z(), 1e-5);
  EXPECT_NEAR(0.5, self_get_x(), 1e-6);
  EXPECT_NEAR(1, self_get_y(), 1e-6);  // no ground model: nobody falls
  frame(100);
  // Three quarters of what is left in 0.1 s, for 0.1 s.
  EXPECT_NEAR(0.5 + speed * 0.75 + (speed + 0.75 * (0.225 - speed)) * 0.1, self_get_z(), 1e-5);
  // No time passed (or the clock went back): nothing moves.
  VxReal z = self_get_z();
  hold(VK_KEY_LEFT);
  frame(0);
  testutil::fake_now -= 500;
  frame(0);
  EXPECT_FLOAT_EQ(z, self_get_z());
  EXPECT_FLOAT_EQ(0, self_get_yaw());
  key_up(VK_KEY_LEFT);
}

TEST_F(Self, StepIsTestedInPartsOfAtMostAFiftieth) {
  place(0.5, 1, 0.5, 0);
  hold(VK_KEY_UP);
  hold(VK_KEY_CONTROL);
  world_.starts = 0;
  frame(375);
  // 4 x 0.225 = 0.9 a second, all but 0.5^7.5 of it taken up in 375 ms: a step of 0.3356,
  // 1 + floor(6.71) parts.
  EXPECT_NEAR(0.5 + 0.9 * (1 - std::pow(0.5, 7.5)) * 0.375, self_get_z(), 1e-5);
  EXPECT_EQ(7 * 9, world_.starts);
  EXPECT_TRUE(self_moving());
  key_up(VK_KEY_CONTROL);
  key_up(VK_KEY_UP);
  self_set_position(0.5, 1, 0.5, 0);
  frame(10);
  hold(VK_KEY_UP);
  world_.starts = 0;
  frame(25);  // 0.225 x (1 - 0.5^0.5) = 0.066 a second: one part
  EXPECT_EQ(1 * 9, world_.starts);
  EXPECT_FALSE(self_moving());  // 0.66 is not above 2
  frame(750);  // 0.1687: four parts
  EXPECT_EQ(5 * 9, world_.starts);
  EXPECT_TRUE(self_moving());  // walking speed: 2.25 is above 2
}

TEST_F(Self, StandingAtTheOriginMovesXOff) {
  place(0, 1, 0, 0);
  EXPECT_FLOAT_EQ(0.001f, self_get_x());
  EXPECT_FLOAT_EQ(0, self_get_z());
  place(0, 1, 0.5, 0);
  EXPECT_FLOAT_EQ(0, self_get_x());
}

TEST_F(Self, CompassOctantCutsTheYawTowardZero) {
  const struct {
    VxReal yaw;
    int octant;
  } cases[] = {{21, 0}, {22, 1}, {66, 1}, {67, 2}, {-23, 0}, {-24, 7}, {22.9f, 1}, {-23.9f, 0}, {179, 4}, {-180, 4}};
  for (const auto& c : cases) EXPECT_EQ(c.octant, self_octant(c.yaw)) << c.yaw;
  EXPECT_EQ(self_octant(10), self_octant(370));
  EXPECT_EQ(0, self_octant(std::numeric_limits<VxReal>::quiet_NaN()));
  // A yaw far out of range (from a file or a server) still gives an octant.
  int far = self_octant(3e38f);
  EXPECT_TRUE(far >= 0 && far < 8);
}

TEST_F(Self, TitleShowsCellsAndCompassOnlyWhenChanged) {
  world_connect("alpha");
  self_toggle_position();
  ASSERT_EQ((std::pair<int, bool>{119, true}), record_.checks.back());
  EXPECT_EQ(1, profile_int("show", "position"));
  place(0.5, 1, 0.5, 21);
  EXPECT_EQ("site|alpha|origin|N", record_.title);
  const struct {
    double x, z, yaw;
    const char* title;
  } cases[] = {{-3.5, 12.2, 22, "site|alpha|12N 4E|NW"},
               {2.5, -0.5, 66, "site|alpha|1S 2W|NW"},
               {2.5, -0.5, 67, "site|alpha|1S 2W|W"},
               {0.5, 0.5, -23, "site|alpha|origin|N"},
               {0.5, 0.5, -24, "site|alpha|origin|NE"}};
  for (const auto& c : cases) {
    place(c.x, 1, c.z, c.yaw);
    EXPECT_EQ(c.title, record_.title);
  }
  int shown = record_.titles;
  frame(100);
  EXPECT_EQ(shown, record_.titles);  // same cells, same octant
  self_invalidate_title();
  frame(100);
  EXPECT_EQ(shown + 1, record_.titles);
  EXPECT_STREQ("origin", self_position_text());
  self_toggle_position();
  EXPECT_EQ("Veldara - alpha", record_.title);
  EXPECT_EQ(0, profile_int("show", "position"));
  place(5.5, 1, 5.5, 0);
  EXPECT_EQ("Veldara - alpha", record_.title);
}

class SelfAltitude : public Self {
  std::string ini() override { return "[show]\naltitude=1\n"; }
};

TEST_F(SelfAltitude, PaneFromSettingsShowsTheAltitude) {
  // An absent position key counts as on.
  EXPECT_EQ(1, profile_int("show", "position"));
  ASSERT_EQ(std::vector<int>{13}, record_.panes_added);
  frame(10);
  EXPECT_EQ("77:alt 80.0", record_.pane_text);
  place(1, 2.5, 1, 0);
  EXPECT_EQ("77:alt 25.0", record_.pane_text);
  self_toggle_altitude();
  EXPECT_EQ(std::vector<int>{77}, record_.panes_removed);
  EXPECT_EQ((std::pair<int, bool>{132, false}), record_.checks.back());
  EXPECT_EQ(0, profile_int("show", "altitude"));
}

TEST_F(Self, ArrowsTurnTowardTheTargetYawAndWrap) {
  place(0.5, 1, 0.5, 0);
  hold(VK_KEY_LEFT);
  frame(50);
  EXPECT_NEAR(8, self_get_yaw(), 1e-4);  // target 10, 0.8 of the way
  EXPECT_TRUE(self_turning());
  frame(50);
  EXPECT_NEAR(17.6, self_get_yaw(), 1e-4);
  frame(100);  // target 40; 1 - 0.2^2 of the way
  EXPECT_NEAR(17.6 + 0.96 * 22.4, self_get_yaw(), 1e-3);
  key_up(VK_KEY_LEFT);
  place(0.5, 1, 0.5, 175);
  hold(VK_KEY_LEFT);
  frame(50);  // target 185 = -175; 0.8 x 10 past 180
  EXPECT_NEAR(-177, self_get_yaw(), 1e-3);
  key_up(VK_KEY_LEFT);
  frame(50);
  EXPECT_FALSE(self_turning());
  EXPECT_NEAR(-175.4, self_get_yaw(), 1e-3);  // still closing on the target
}

TEST_F(Self, WalkingIntoAWallStopsAtIt) {
  add(make_block(0.5f, 0.5f, 2.0f, 3, 1, 0.1f));  // near face at z = 1.95
  ASSERT_NO_FATAL_FAILURE(run_into_wall_at_1_95());
  EXPECT_NEAR(0.5, self_get_x(), 1e-5);
}

TEST_F(Self, ShiftSideStepsAndPassesThroughOnlyWhereAllowed) {
  add(make_block(2.0f, 0.5f, 0.5f, 0.1f, 1, 3));  // near face at x = 1.95
  place(1.5, 0, 0.5, 0);
  host_.set_key(VK_KEY_SHIFT, true);
  hold(VK_KEY_LEFT);
  frame(750);
  // Side 75 x 0.003 a second, all but 0.5^15 of it taken up, for 0.75 s.
  EXPECT_NEAR(1.5 + 0.225 * (1 - std::pow(0.5, 15)) * 0.75, self_get_x(), 1e-5);
  EXPECT_FLOAT_EQ(0, self_get_yaw());
  for (int i = 0; i < 30; ++i) frame(100);
  EXPECT_LE(self_get_x(), 1.95f - 0.025f);  // pass-through not allowed
  world_hook.self_pass_through(1);
  world_.starts = 0;
  for (int i = 0; i < 30; ++i) frame(100);
  EXPECT_GT(self_get_x(), 2.05f);
  EXPECT_EQ(0, world_.starts);  // no collision test at all
  // Let go between two frames: the latch still counts Shift for one more frame.
  host_.set_key(VK_KEY_SHIFT, false);
  VxReal yaw = self_get_yaw();
  frame(100);
  EXPECT_FLOAT_EQ(yaw, self_get_yaw());
  frame(100);
  EXPECT_GT(self_get_yaw(), yaw);  // Left turns again
}

TEST_F(Self, SmallStepsAreClimbedHighOnesStop) {
  record_.ground = 1;  // gravity on
  add(make_floor(0.5f, 0, 0.5f, 3));
  // The user settles just above the floor (under 0.001); a blocked part may then rise by
  // 0.01 .. 0.05: a ledge of 0.045 is climbed, one of 0.055 is not.
  int step = add(make_block(0.5f, 0.0225f, 2.5f, 3, 0.045f, 2));  // from z = 1.5
  place(0.5, 0.005, 1.0, 0);
  hold(VK_KEY_UP);
  VxReal last_y = self_get_y();
  for (int i = 0; i < 60; ++i) {
    frame(100);
    ASSERT_LE(self_get_y() - last_y, 0.05f + 1e-4f);
    last_y = self_get_y();
  }
  EXPECT_GT(self_get_z(), 1.6f);
  EXPECT_GE(self_get_y(), 0.045f - 1e-4f);
  world_.objects[step].clump = make_block(0.5f, 0.0275f, 2.5f, 3, 0.055f, 2);
  key_up(VK_KEY_UP);
  place(0.5, 0.005, 1.0, 0);
  hold(VK_KEY_UP);
  for (int i = 0; i < 60; ++i) frame(100);
  EXPECT_LE(self_get_z(), 1.5f - 0.025f);
  EXPECT_GT(self_get_z(), 1.5f - 0.025f - 0.05f);
  EXPECT_LT(self_get_y(), 0.01f);
}

TEST_F(Self, FallingStopsOnTheFloor) {
  record_.ground = 1;
  add(make_floor(0.5f, 0, 0.5f, 3));
  place(0.5, 1, 0.5, 0);
  for (int i = 0; i < 100; ++i) frame(100);
  EXPECT_GE(self_get_y(), 0.0f);
  EXPECT_LT(self_get_y(), 0.06f);
  EXPECT_TRUE(self_on_ground());
}

// A model whose geometry sits only in its parts, as a tree of a trunk and a crown is built:
// an empty root moved by (dx, 0, dz) holding the piece, which is placed inside it.
VxClump* in_part(VxClump* piece, VxReal dx, VxReal dz) {
  VxClump* root = VxCreateClump(0, 0);
  EXPECT_TRUE(VxAddChildToClump(root, piece));
  VxTranslateMatrix(VxScratchMatrix(), dx, 0, dz, VX_REPLACE);
  VxTransformClump(root, VxScratchMatrix(), VX_REPLACE);
  return root;
}

TEST_F(Self, ObjectsAndGroundBuiltOfPartsHoldTheBody) {
  // The wall's near face at z = 1.95 once the root's move is added to the part's place.
  add(in_part(make_block(0.5f, 0.5f, 1.0f, 3, 1, 0.1f), 0, 1.0f));
  ASSERT_NO_FATAL_FAILURE(run_into_wall_at_1_95());

  // A 16 x 16 ground of one part, its first vertex below zero: standing on it for a
  // simulated minute, the person neither sinks through it nor leaves it.
  world_.objects.clear();
  record_.ground = 1;
  world_.ground = in_part(make_floor(0, -0.1f, 0, 8), 0.5f, 0.5f);
  place(3.0, 0, 3.0, 0);
  for (int i = 0; i < 600; ++i) {
    frame(100);
    ASSERT_GE(self_get_y(), -0.001f) << "after " << (i + 1) * 100 << " ms";
  }
  EXPECT_LT(self_get_y(), 0.06f);
  EXPECT_TRUE(self_on_ground());
}

TEST_F(Self, FlyingOnlyWhereAllowed) {
  place(0.5, 1, 0.5, 0);
  hold(VK_KEY_ADD);
  frame(100);
  EXPECT_FALSE(self_flying());
  EXPECT_NEAR(1, self_get_y(), 1e-6);
  world_hook.self_flying(1);
  frame(100);
  EXPECT_TRUE(self_flying());
  // vy 0.03, step 0.003 in 0.1 s.
  EXPECT_NEAR(1.003, self_get_y(), 1e-5);
  world_hook.self_flying(0);
  EXPECT_FALSE(self_flying());
}

TEST_F(Self, GlidePassesWallsRaisingTheirTriggerAndArrives) {
  // A glide covers 4 % of the way left in 50 ms, 1 - 0.96^2 in each 0.1 s frame:
  // x = 5 - 4.5 x 0.9216^k, so the 7th frame ends at 2.459, inside this wall (2.45 to 2.49),
  // and the 8th beyond it.
  int wall = add(make_block(2.47f, 0.5f, 0.5f, 0.04f, 1, 3));
  place(0.5, 0.1, 0.5, 0);
  self_glide_to(5, 0.1, 0.5, 90);
  EXPECT_TRUE(self_gliding());
  int frames = 0;
  while ((self_gliding() || self_velocity().x != 0) && frames < 500) {
    frame(100);
    ++frames;
  }
  EXPECT_LT(frames, 500);
  EXPECT_NEAR(5, self_get_x(), 0.1);
  EXPECT_NEAR(90, self_get_yaw(), 0.5);
  EXPECT_GE(world_.objects[wall].bumps, 1);
}

TEST_F(Self, JumpClearsHeldKeys) {
  place(0.5, 1, 0.5, 0);
  hold(VK_KEY_UP);
  self_set_position(0.5, 1, 0.5, 0);
  frame(100);
  frame(100);
  EXPECT_FLOAT_EQ(0.5f, self_get_z());
}

TEST_F(Self, SelectedObjectsKeepTheUserStill) {
  place(0.5, 1, 0.5, 0);
  record_.selected = 1;
  hold(VK_KEY_UP);
  frame(500);
  EXPECT_FLOAT_EQ(0.5f, self_get_z());
  record_.selected = 0;
  frame(500);
  EXPECT_GT(self_get_z(), 0.5f);
}

TEST_F(Self, GestureEndsAfterFiveSeconds) {
  place(0.5, 1, 0.5, 0);
  self_set_gesture(3);
  frame(5000);
  EXPECT_EQ(3, self_gesture());
  frame(1);
  EXPECT_EQ(0, self_gesture());
}

TEST_F(Self, OwnAvatarHeightStateAndHead) {
  EXPECT_FLOAT_EQ(0.2f, self_height());
  VxMatrix* m = self_head_matrix();
  EXPECT_FLOAT_EQ(8 + 0.18f, VxGetMatrixElement(m, 3, 1));
  add_avatar_hooks(self_hook);
  avatar_clump = make_block(0, 0, 0, 1, 1, 1);
  place(1, 2, 3, 45.7);
  EXPECT_EQ(1, record_.creates);
  // Not in third person: the own body is not drawn over the view.
  EXPECT_EQ(VX_STATE_OFF, VxGetClumpState(avatar_clump));
  EXPECT_FLOAT_EQ(1.8f, self_height());
  EXPECT_FLOAT_EQ(2 + 0.9f * 1.8f, self_eye_height());
  EXPECT_EQ(45, record_.state_yaw);
  EXPECT_EQ(7, record_.state_type);
  m = self_head_matrix();
  EXPECT_FLOAT_EQ(10, VxGetMatrixElement(m, 3, 0));
  EXPECT_FLOAT_EQ(21.8f, VxGetMatrixElement(m, 3, 1));
  EXPECT_FLOAT_EQ(30, VxGetMatrixElement(m, 3, 2));
  self_set_gesture(4);
  frame(10);
  EXPECT_EQ(4, record_.state_gesture);
  // Another place recreates the avatar.
  place(1, 2, 3, 0);
  EXPECT_EQ(1, record_.destroys);
  EXPECT_EQ(2, record_.creates);
  VxSetClumpState(avatar_clump, VX_STATE_ON);
  profile_set_int("performance", "avatars", 0);
  frame(10);
  EXPECT_EQ(0, record_.state_type);
  EXPECT_EQ(VX_STATE_OFF, VxGetClumpState(avatar_clump));  // a new type: hidden again
  self_destroy_avatar();
  EXPECT_FLOAT_EQ(0.2f, self_height());
  record_.height_known = false;
  self_create_avatar();
  EXPECT_FLOAT_EQ(0.2f, self_height());
}

TEST_F(Self, WorldConnectionEntriesAreFilled) {
  ASSERT_NE(nullptr, world_hook.self_set_position);
  ASSERT_NE(nullptr, world_hook.self_invalidate_title);
  world_hook.self_set_position(4, 5, 6, 90);
  EXPECT_FLOAT_EQ(4, self_get_x());
  EXPECT_FLOAT_EQ(5, self_get_y());
  EXPECT_FLOAT_EQ(90, self_get_yaw());
}

// The frame rate a person's machine draws at must not change how fast they turn or walk.
constexpr int kRates[] = {10, 60, 500};

TEST_F(Self, HoldingAnArrowTurns200DegreesASecondAtAnyFrameRate) {
  for (int rate : kRates) {
    place(0.5, 1, 0.5, 170);
    hold(VK_KEY_LEFT);
    // The view lags its target by a few degrees at most, so the first second turns nearly 200.
    EXPECT_NEAR(200, run_at(rate, 1), 10) << rate << " frames a second";
    EXPECT_NEAR(200, run_at(rate, 1), 2) << rate << " frames a second, the second second";
    EXPECT_TRUE(self_turning());
    key_up(VK_KEY_LEFT);
    double after = run_at(rate, 1);  // catching up with the target, then still
    EXPECT_LT(after, 7) << rate;
    EXPECT_NEAR(0, run_at(rate, 0.2), 1e-3) << rate;
    // The other way.
    hold(VK_KEY_RIGHT);
    EXPECT_NEAR(-200, run_at(rate, 1), 10) << rate;
    key_up(VK_KEY_RIGHT);
  }
}

TEST_F(Self, ATenthOfASecondOnAnArrowTurnsAbout20Degrees) {
  for (int rate : kRates) {
    place(0.5, 1, 0.5, 0);
    hold(VK_KEY_LEFT);
    double turned = run_at(rate, 0.1);
    key_up(VK_KEY_LEFT);
    turned += run_at(rate, 1);
    EXPECT_NEAR(20, turned, 1) << rate << " frames a second";
    EXPECT_NEAR(20, self_get_yaw(), 1) << rate;
  }
}

TEST_F(Self, WalkingAndGlidingCoverTheSameWayASecondAtAnyFrameRate) {
  double from_rest[3], glided[3];
  for (int i = 0; i < 3; ++i) {
    int rate = kRates[i];
    place(0.5, 1, 0.5, 0);
    hold(VK_KEY_UP);
    run_at(rate, 2);
    from_rest[i] = self_get_z() - 0.5;
    VxReal z = self_get_z();
    run_at(rate, 1);
    // Walking speed is 75 x 0.003 units a second.
    EXPECT_NEAR(0.225, self_get_z() - z, 0.225 * 0.02) << rate << " frames a second";
    EXPECT_NEAR(0.5, self_get_x(), 1e-4);
    key_up(VK_KEY_UP);
    place(0.5, 1, 0.5, 0);
    self_glide_to(10.5, 1, 0.5, 90);
    run_at(rate, 1);
    glided[i] = self_get_x() - 0.5;
  }
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(from_rest[1], from_rest[i], from_rest[1] * 0.05) << kRates[i] << " frames a second";
    // 4 % of the way left in each 50 ms: 1 - 0.96^20 of it in a second.
    EXPECT_NEAR(10 * (1 - std::pow(0.96, 20)), glided[i], 0.1) << kRates[i] << " frames a second";
  }
}

// Turning either way, by the arrows or by the mouse in mover mode, counts as turning for that
// frame (the camera then draws at half size); a turn of 20 degrees a second or less, both
// arrows at once or side-stepping does not.
int mouse_turn = 0;
TEST_F(Self, TurningEitherWayCountsAsTurningForTheFrame) {
  self_hook.mouse_is_mover = [] { return 1; };
  self_hook.mouse_delta = [](int* dx, int* dy) {
    *dx = mouse_turn;
    *dy = 0;
  };
  place(0.5, 1, 0.5, 0);
  const struct {
    std::vector<unsigned> keys;
    int mouse;
    bool shift, turning;
  } cases[] = {{{VK_KEY_LEFT}, 0, false, true},  {{VK_KEY_RIGHT}, 0, false, true},
               {{}, 21, false, true},            {{}, -21, false, true},
               {{}, 20, false, false},           {{}, -20, false, false},
               {{VK_KEY_LEFT, VK_KEY_RIGHT}, 0, false, false},
               {{VK_KEY_RIGHT}, 0, true, false}, {{}, 0, false, false}};
  for (const auto& c : cases) {
    mouse_turn = c.mouse;
    host_.set_key(VK_KEY_SHIFT, c.shift);
    for (unsigned k : c.keys) hold(k);
    frame(50);
    EXPECT_EQ(c.turning, self_turning()) << "keys " << c.keys.size() << " mouse " << c.mouse
                                         << (c.shift ? " shift" : "");
    for (unsigned k : c.keys) key_up(k);
    host_.set_key(VK_KEY_SHIFT, false);
    frame(50);  // the Shift latch counts once more
  }
}
