// The visibility scheduler over a real cell cache: the spiral, the minimum range, the
// frame-rate control, the budget, moving, live objects, invalidation, the index searches and
// reveal mode.
#include <cmath>
#include <set>
#include <utility>

#include "client/shell/meters.h"
#include "tests/visible/visible_env.h"

using namespace vtest;

namespace {

class VisibleTest : public SceneFixture {
 protected:
  // Frames until a pass finds nothing left to load (bounded).
  void settle() {
    for (int i = 0; i < 200 && visible_index() < std::max(visible_range(), 9); ++i) pass();
    pass();
  }
};

TEST_F(VisibleTest, TheSpiralHoldsEveryNearOffsetOnceByDistance) {
  const visible_offset* s = visible_spiral();
  const int head[26][3] = {{0, 0, 0},   {1, 0, 10},   {0, 1, 10},  {-1, 0, 10}, {0, -1, 10}, {-1, -1, 14}, {1, -1, 14},
                           {-1, 1, 14}, {1, 1, 14},   {-2, 0, 20}, {2, 0, 20},  {0, -2, 20}, {0, 2, 20},   {-2, 1, 22},
                           {-2, -1, 22}, {2, -1, 22}, {2, 1, 22},  {1, -2, 22}, {-1, -2, 22}, {-1, 2, 22}, {1, 2, 22},
                           {2, 2, 28},  {2, -2, 28},  {-2, -2, 28}, {-2, 2, 28}, {-3, 0, 30}};
  for (int i = 0; i < 26; ++i) {
    EXPECT_EQ(head[i][0], s[i].dx) << i;
    EXPECT_EQ(head[i][1], s[i].dz) << i;
    EXPECT_EQ(head[i][2], s[i].distance) << i;
  }
  EXPECT_EQ(120, s[458].distance);
  std::set<std::pair<int, int>> seen;
  for (int i = 0; i < VISIBLE_SPIRAL_SIZE; ++i) {
    EXPECT_EQ(static_cast<int>(std::floor(10 * std::sqrt(s[i].dx * s[i].dx + s[i].dz * s[i].dz) + 1e-9)),
              s[i].distance)
        << i;
    if (i) {
      EXPECT_LE(s[i - 1].distance, s[i].distance) << i;
    }
    EXPECT_TRUE(seen.insert({s[i].dx, s[i].dz}).second) << i;
  }
  int within = 0;
  for (int dz = -13; dz <= 13; ++dz)
    for (int dx = -13; dx <= 13; ++dx) within += std::floor(10 * std::sqrt(dx * dx + dz * dz) + 1e-9) <= 120;
  EXPECT_EQ(within - 6, static_cast<int>(seen.size()));
  for (auto o : {std::make_pair(0, 12), {1, 12}, {-1, 12}, {12, 0}, {12, 1}, {12, -1}}) EXPECT_EQ(0u, seen.count(o));
  EXPECT_EQ(1u, seen.count({0, -12}));
}

TEST_F(VisibleTest, TheMeasuredFrameRateWidensTheRangeWhileFastAndNarrowsItWhileSlow) {
  // The program's frame-rate meter, fed by the frames themselves on the fake clock.
  meters_reset_for_test();
  fps_init();
  profile_set_int("performance", "framerate", 10);
  settle();
  ASSERT_EQ(48, visible_range());
  int widest = 0;
  auto frames = [this, &widest](int n, uint32_t ms) {
    for (int i = 0; i < n; ++i) {
      pass(ms);
      fps_update();
      widest = std::max(widest, visible_range());
    }
  };
  frames(150, 40);  // 25 a second for 6 s
  EXPECT_GT(visible_range(), 48);
  // 2 a second for 30 s: once the fast seconds leave the meter's window the range comes down.
  frames(60, 500);
  EXPECT_LT(visible_range(), widest);
  meters_reset_for_test();
}

TEST_F(VisibleTest, TheMinimumRangeFollowsTheVisibilitySetting) {
  EXPECT_EQ(48, visible_minimum_for(40));
  EXPECT_EQ(40, visible_spiral()[48].distance);
  EXPECT_EQ(458, visible_minimum_for(120));
  EXPECT_EQ(458, visible_minimum_for(500));
  EXPECT_EQ(48, visible_minimum_range());  // no setting: 40
  profile_set_int("performance", "visibility", 121);
  set_minimum_range();
  EXPECT_EQ(48, visible_minimum_range());
  profile_set_int("performance", "visibility", 120);
  set_minimum_range();
  EXPECT_EQ(458, visible_minimum_range());
  EXPECT_EQ(458, visible_range());
  // A lower setting lowers the minimum but leaves the range.
  profile_set_int("performance", "visibility", 25);
  set_minimum_range();
  EXPECT_EQ(20, visible_minimum_range());
  EXPECT_EQ(458, visible_range());
}

TEST_F(VisibleTest, TheFrameRateWidensAndNarrowsTheRangeEveryFiveSeconds) {
  profile_set_int("performance", "framerate", 10);
  settle();
  ASSERT_EQ(48, visible_range());
  fps = 11;  // within one frame of the target
  pass(5001);
  EXPECT_EQ(48, visible_range());
  fps = 9;
  pass(5001);
  EXPECT_EQ(48, visible_range());
  fps = 12;
  pass(5001);
  EXPECT_EQ(78, visible_range());  // 15 per frame of difference
  // The next check waits for 5000 ms after the commit.
  settle();
  fps = 30;
  pass(1);
  EXPECT_EQ(78, visible_range());
  visible_set_load_factor(3);
  pass(5001);
  EXPECT_EQ(128, visible_range());  // 5 x 20 = 100, capped at 50
  settle();
  fps = 2;
  pass(5001);
  EXPECT_EQ(88, visible_range());  // 5 x 8 = 40 less
  visible_set_load_factor(1);
  settle();
  pass(5001);
  EXPECT_EQ(48, visible_range());  // never below the minimum
  EXPECT_LE(visible_index(), 48);
}

TEST_F(VisibleTest, TheNineNearestCellsLoadWhateverTheBudget) {
  for (int i = 0; i < 30; ++i) store(visible_spiral()[i].dx, visible_spiral()[i].dz, {i + 1});
  // Every reading of the clock is 60 ms later: each load overdraws the budget.
  platform_set_clock([] { return testutil::fake_now += 60; });
  pass();
  EXPECT_EQ(9, visible_loaded_cells());
  for (int i = 0; i < 9; ++i)
    EXPECT_EQ(std::vector<int32_t>{i + 1}, numbers_in(visible_spiral()[i].dx, visible_spiral()[i].dz)) << i;
  EXPECT_FALSE(visible_cell_loaded(-2, 0));
  EXPECT_EQ(0, visible_index());  // the first pass after a reset starts over at its end
  pass();                         // the nine again, found loaded, each still 60 ms
  EXPECT_EQ(9, visible_index());
  EXPECT_EQ(-300 - 9 * 60, visible_budget());
  pass();
  EXPECT_EQ(-300, visible_budget());  // the debt is floored
  EXPECT_EQ(9, visible_loaded_cells());
  // 50 ms a frame pays the debt off; then one more cell per frame.
  for (int i = 0; i < 6; ++i) pass();
  EXPECT_EQ(9, visible_loaded_cells());
  pass();
  EXPECT_EQ(10, visible_loaded_cells());
  EXPECT_EQ(std::vector<int32_t>{10}, numbers_in(-2, 0));
}

TEST_F(VisibleTest, ARangeBelowNineStillKeepsTheNineNearest) {
  visible_hook.perform_visibility = [] { return 10; };
  set_minimum_range();
  ASSERT_EQ(4, visible_minimum_range());
  ASSERT_EQ(48, visible_range());
  profile_set_int("performance", "framerate", 10);
  settle();
  fps = 1;
  pass(5001);
  ASSERT_EQ(4, visible_range());
  // Moving one cell on starts over; the commit must not drop the new neighbours.
  self_set_position(1.5, 0, 0.5, 0);
  for (int i = 0; i < 5; ++i) pass();
  for (int i = 0; i < 9; ++i)
    EXPECT_TRUE(visible_cell_loaded(1 + visible_spiral()[i].dx, visible_spiral()[i].dz)) << i;
  EXPECT_EQ(9, visible_loaded_cells());
}

TEST_F(VisibleTest, MovingRestartsAtTheOwnCellAndUnloadsWhatFellOutOfRange) {
  profile_set_int("performance", "visibility", 25);
  visible_term();
  visible_init();
  ASSERT_EQ(20, visible_range());
  store(0, 0, {1});
  store(10, 0, {2});
  settle();
  EXPECT_TRUE(visible_cell_loaded(0, 0));
  EXPECT_EQ(20, visible_loaded_cells());
  self_set_position(10.5, 0, 0.25, 0);
  pass();
  EXPECT_EQ(0, visible_index());  // the pass that saw the move starts the spiral over
  pass();
  EXPECT_EQ(std::vector<int32_t>{2}, numbers_in(10, 0));
  EXPECT_FALSE(visible_cell_loaded(0, 0));
  EXPECT_EQ(20, visible_loaded_cells());
  EXPECT_EQ(1, element_count());  // the old cell's object went with it
}

TEST_F(VisibleTest, LiveObjectsJoinOnlyLoadedCellsAndOnlyOnce) {
  store(0, 0, {1});
  settle();
  int before = element_count();
  element* far = element_create(50.5, 0, 50.5, 0, 7, "box.rwx", 0, "", 0, "", 9, 7, 1);
  visible_consider(far);  // its cell is not loaded: destroyed
  EXPECT_EQ(before, element_count());
  EXPECT_FALSE(visible_cell_loaded(50, 50));
  visible_consider(element_create(0.25, 0, 0.75, 0, 7, "box.rwx", 0, "", 0, "", 2, 7, 1));
  EXPECT_EQ((std::vector<int32_t>{2, 1}), numbers_in(0, 0));
  visible_consider(element_create(0.25, 0, 0.75, 0, 7, "box.rwx", 0, "", 0, "", 2, 7, 1));
  EXPECT_EQ((std::vector<int32_t>{2, 1}), numbers_in(0, 0));
  EXPECT_EQ(before + 1, element_count());
  visible_delete(0, 0, 1);
  visible_delete(0, 0, 99);
  EXPECT_EQ(std::vector<int32_t>{2}, numbers_in(0, 0));
  EXPECT_EQ(before, element_count());
}

TEST_F(VisibleTest, AnInvalidatedCellIsReadAgainFromTheCache) {
  store(0, 0, {1});
  settle();
  store(0, 0, {1, 2, 3});
  EXPECT_EQ(std::vector<int32_t>{1}, numbers_in(0, 0));
  visible_invalidate(0, 0);
  EXPECT_FALSE(visible_cell_loaded(0, 0));
  EXPECT_EQ(0, visible_index());
  pass();
  EXPECT_EQ((std::vector<int32_t>{3, 2, 1}), numbers_in(0, 0));
}

TEST_F(VisibleTest, TheIndexFindsIgnoresAndHandsOverElements) {
  store(0, 0, {1, 2, 3});
  store(-1, 0, {4});
  settle();
  visible_start(-1, 0);
  element* four = nullptr;
  VxClump* clump = visible_next(&four);
  ASSERT_NE(nullptr, clump);
  EXPECT_EQ(four, visible_element(clump));
  int x = 0, z = 0;
  element* got = nullptr;
  ASSERT_EQ(1, visible_ignore(clump, &x, &z, &got));
  EXPECT_EQ(four, got);
  EXPECT_EQ(-1, x);
  EXPECT_EQ(0, z);
  EXPECT_EQ(nullptr, visible_element(clump));
  EXPECT_EQ(0, visible_ignore(clump, &x, &z, &got));
  element_destroy(four);  // the caller owns it now
  element** all = visible_ignore_all(0, 0);
  ASSERT_NE(nullptr, all);
  std::vector<int32_t> numbers;
  for (element** p = all; *p; ++p) numbers.push_back(element_number(*p));
  EXPECT_EQ((std::vector<int32_t>{3, 2, 1}), numbers);
  for (element** p = all; *p; ++p) element_destroy(*p);
  std::free(all);
  EXPECT_TRUE(visible_cell_loaded(0, 0));
  EXPECT_EQ(nullptr, visible_ignore_all(0, 0));
  EXPECT_EQ(nullptr, visible_ignore_all(40, 40));
}

TEST_F(VisibleTest, AnIterationSurvivesTheDeletionOfItsNextElement) {
  store(0, 0, {1, 2, 3});
  settle();
  visible_start(0, 0);
  element* e = nullptr;
  ASSERT_NE(nullptr, visible_next(&e));
  EXPECT_EQ(3, element_number(e));
  visible_delete(0, 0, 2);  // the node the iteration stands on next
  ASSERT_NE(nullptr, visible_next(&e));
  EXPECT_EQ(1, element_number(e));
  EXPECT_EQ(nullptr, visible_next(&e));
  visible_start(0, 0);
  visible_invalidate(0, 0);
  EXPECT_EQ(nullptr, visible_next(&e));
}

TEST_F(VisibleTest, RevealModeShowsHiddenObjectsUntilConcealed) {
  store(0, 0, {1});
  settle();
  visible_start(0, 0);
  element* e = nullptr;
  VxClump* clump = visible_next(&e);
  ASSERT_NE(nullptr, clump);
  element_set_visible(e, 0);
  EXPECT_EQ(VX_STATE_OFF, VxGetClumpState(clump));
  visible_reveal_hidden();
  EXPECT_EQ(VX_STATE_ON, VxGetClumpState(clump));
  visible_conceal_hidden();
  EXPECT_EQ(VX_STATE_OFF, VxGetClumpState(clump));
  visible_conceal_hidden();  // already concealed: nothing
  EXPECT_EQ(VX_STATE_OFF, VxGetClumpState(clump));
}

std::vector<std::string> pane;

TEST_F(VisibleTest, TheRangePaneShowsTheDistanceAndRemembersItself) {
  pane.clear();
  visible_hook.pane_show = [](bool shown, int weight) {
    pane.push_back(std::string(shown ? "show " : "hide ") + std::to_string(weight));
  };
  visible_hook.pane_text = [](const char* text) { pane.push_back(text); };
  visible_hook.menu_check = [](int item, bool on) { pane.push_back(std::to_string(item) + (on ? " on" : " off")); };
  visible_toggle();
  EXPECT_EQ((std::vector<std::string>{"show 12", "m32 40", "120 on"}), pane);
  EXPECT_EQ(1, profile_int("show", "visibility"));
  visible_toggle();
  EXPECT_EQ("hide 12", pane[3]);
  EXPECT_EQ(0, profile_int("show", "visibility"));
  // Started with [show] visibility = 1 the pane comes up by itself.
  profile_set_int("show", "visibility", 1);
  visible_term();
  pane.clear();
  visible_init();
  EXPECT_TRUE(visible_pane_shown());
  EXPECT_EQ("show 12", pane.at(0));
}

TEST_F(VisibleTest, AResetDropsEveryLoadedElementAndLoadsAgain) {
  store(0, 0, {1, 2});
  settle();
  ASSERT_EQ(2, element_count());
  visible_reset();
  EXPECT_EQ(0, element_count());
  EXPECT_EQ(0, visible_loaded_cells());
  EXPECT_EQ(48, visible_range());
  pass();
  EXPECT_EQ((std::vector<int32_t>{2, 1}), numbers_in(0, 0));
}

}  // namespace
