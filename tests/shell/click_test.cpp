// Clicks in the 3D view on a real scene: a left click runs the object's "activate" clause,
// a click on nothing drops the selection, a right click selects what is under it.
#include "client/scene/behavior.h"
#include "client/shell/view_click.h"
#include "tests/pick/pick_env.h"

using namespace ptest;

namespace {

class ViewClick : public PickFixture {
 protected:
  element* place(int32_t number, const char* action) {
    cell_update_begin(0, 0, 1);
    cell_element_add(number, 7, 100, 100, -10, 300, 0, "box.rwx", "a box", action);
    cell_update_end(0);
    load(0, 0);
    return loaded(0, 0, number);
  }
};

TEST_F(ViewClick, LeftClickRunsTheActivateClauseOfTheObjectUnderIt) {
  element* e = place(5, "create solid on; activate solid off");
  ASSERT_NE(e, nullptr);
  ASSERT_EQ(element_solid(e), 1);
  int x = 0, y = 0;
  ASSERT_TRUE(point_of(e, &x, &y));
  int focus = boxes.focus_count();
  viewport_click(x, y);
  EXPECT_EQ(element_solid(e), 0);
  EXPECT_EQ(boxes.focus_count(), focus + 1);  // the main window takes the focus back
  EXPECT_EQ(pick_count(), 0);                 // a left click selects nothing
}

TEST_F(ViewClick, RightClickSelectsAndAClickOnNothingDropsTheSelection) {
  element* e = place(6, "");
  ASSERT_NE(e, nullptr);
  int x = 0, y = 0;
  ASSERT_TRUE(point_of(e, &x, &y));
  viewport_right_click(x, y);
  ASSERT_EQ(pick_count(), 1);
  EXPECT_EQ(pick_element(0), e);
  // A corner that sees past everything.
  viewport_click(0, 0);
  EXPECT_EQ(pick_count(), 0);
}

TEST(ViewClickAction, OnlyAWholeAddressIsOpened) {
  EXPECT_TRUE(viewport_action_is_address("http://example.org/page"));
  EXPECT_TRUE(viewport_action_is_address("www.example.org"));
  EXPECT_FALSE(viewport_action_is_address("activate url http://example.org"));
  EXPECT_FALSE(viewport_action_is_address("SOUND:bell.wav"));
  EXPECT_FALSE(viewport_action_is_address("sound:bell.wav"));
  EXPECT_FALSE(viewport_action_is_address(""));
  EXPECT_FALSE(viewport_action_is_address(nullptr));
}

}  // namespace
