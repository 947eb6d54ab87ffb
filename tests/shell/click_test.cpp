// Clicks in the 3D view on a real scene: a left click runs the object's "activate" clause,
// a click on nothing drops the selection, a right click selects what is under it.
#include "client/scene/avatar.h"
#include "client/scene/behavior.h"
#include "client/shell/focus.h"
#include "client/shell/mouse.h"
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

TEST_F(ViewClick, WithTheAvatarsStartedARightClickOnNoAvatarStillSelects) {
  // The avatar module's start fills the right click's avatar entry.
  ASSERT_EQ(0, avatar_init(nullptr));
  ASSERT_NE(nullptr, view_click_hook.avatar_popup_menu);
  avatar_add(3, "carol", 0, 0, 0, 0, 0, 0);
  ASSERT_NE(nullptr, avatar_find(3));
  element* e = place(8, "");
  ASSERT_NE(e, nullptr);
  int x = 0, y = 0;
  ASSERT_TRUE(point_of(e, &x, &y));
  boxes.script_menu(AVATAR_MENU_MUTE);
  viewport_right_click(x, y);
  EXPECT_EQ(pick_count(), 1);
  EXPECT_TRUE(boxes.menus().empty());  // no avatar there: no menu
  EXPECT_FALSE(avatar_muted(3));
  pick_off();
  avatar_reset_for_test();
  view_click_hook.avatar_popup_menu = nullptr;
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


// The window system's side of the caption and the pointer, as the Qt views would see it.
struct ScriptedPointer : PointerView {
  int x = 0, y = 0;
  void position(int* px, int* py) override { *px = x; *py = y; }
  void set_position(int px, int py) override { x = px; y = py; }
  void show(bool) override {}
  void viewport_rect(int* l, int* t, int* r, int* b) override { *l = *t = 0; *r = 640; *b = 480; }
};
struct ShownCaption : FocusView {
  std::string text;
  int x = -1, y = -1;
  void show(const char* t, int px, int py) override { text = t; x = px; y = py; }
  void hide() override { text.clear(); }
};

class FocusCaption : public ViewClick {
 protected:
  void SetUp() override {
    ViewClick::SetUp();
    mouse_set_view(&pointer);
    focus_set_view(&shown);
    focus_init();
  }
  void TearDown() override {
    focus_set_view(nullptr);
    mouse_set_view(nullptr);
    focus_reset();
    ViewClick::TearDown();
  }
  void frame_after(uint32_t ms) {
    vtest::fake_now += ms;
    tick_update();
    focus_update();
  }
  ScriptedPointer pointer;
  ShownCaption shown;
};

TEST_F(FocusCaption, ShowsTheDescriptionAfterHalfASecondAndGoesWithThePointer) {
  element* e = place(7, "");
  ASSERT_NE(e, nullptr);
  ASSERT_TRUE(point_of(e, &pointer.x, &pointer.y));
  frame_after(0);
  EXPECT_STREQ(focus_caption(), "a box");
  EXPECT_EQ(shown.text, "");
  frame_after(400);
  EXPECT_EQ(shown.text, "");
  frame_after(200);
  EXPECT_EQ(shown.text, "a box");
  EXPECT_EQ(shown.x, pointer.x + FOCUS_OFFSET);
  EXPECT_EQ(shown.y, pointer.y + FOCUS_OFFSET);
  // The box stays where it first showed while the pointer rests.
  frame_after(100);
  EXPECT_EQ(shown.x, pointer.x + FOCUS_OFFSET);
  // Off the object: gone.
  pointer.x = pointer.y = 0;
  frame_after(50);
  EXPECT_EQ(shown.text, "");
  EXPECT_STREQ(focus_caption(), "");
  // Back on it: a fresh wait; and nothing while something is selected.
  ASSERT_TRUE(point_of(e, &pointer.x, &pointer.y));
  frame_after(0);
  frame_after(300);
  EXPECT_EQ(shown.text, "");
  viewport_right_click(pointer.x, pointer.y);
  ASSERT_EQ(pick_count(), 1);
  frame_after(600);
  EXPECT_EQ(shown.text, "");
  EXPECT_STREQ(focus_caption(), "");
}

TEST_F(FocusCaption, AViewThatTurnsUnderAStillPointerTakesTheCaptionAlong) {
  element* e = place(7, "");
  ASSERT_NE(e, nullptr);
  ASSERT_TRUE(point_of(e, &pointer.x, &pointer.y));
  frame_after(0);
  frame_after(600);
  ASSERT_EQ(shown.text, "a box");
  // The person is taken far off and turned around; the pointer rests where the box was: sky
  // there now.
  camera_set_self_source([](CameraSelf* out) {
    out->x = 300;
    out->z = -300;
    out->yaw = 180;
  });
  camera_update();
  ASSERT_EQ(nullptr, scene_pick(pointer.x, pointer.y));
  frame_after(50);
  EXPECT_EQ(shown.text, "");
  EXPECT_STREQ(focus_caption(), "");
  // Turned back: the box is named again after its own wait.
  camera_set_self_source(nullptr);
  camera_update();
  frame_after(0);
  EXPECT_STREQ(focus_caption(), "a box");
  frame_after(600);
  EXPECT_EQ(shown.text, "a box");
}

}  // namespace
