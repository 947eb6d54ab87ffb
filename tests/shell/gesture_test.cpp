// The gesture row and the mouse modes in the running program: buttons from the own avatar's
// actions with letters of their own, a button or its letter sets the own gesture, and mover
// mode hides the pointer, steers with it and gives it back where it was.
#include <QCursor>
#include <QPushButton>

#include "Zembrel/Pose/Anim/anim.h"
#include "client/core/identity.h"
#include "client/scene/self.h"
#include "client/servers/signup.h"
#include "client/shell/gesture.h"
#include "client/shell/mouse.h"
#include "client/shell/toolbar.h"
#include "client/ui/gesture_row.h"
#include "tests/shell/shell_fixture.h"

namespace {

class GestureTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    gesture_row_qt_install(*qt_);
  }
  void TearDown() override {
    gesture_set_view(nullptr);
    mouse_set_view(nullptr);
    ShellTest::TearDown();
    AnimLoadRegistry(nullptr);
    identity_reset();
  }
  // The world's avatar registry: one avatar with these actions.
  void offer(const std::string& actions) {
    std::string file = dir_.file("avatars.dat");
    write_file(file, "# animation registry version 0.3\nversion 3\n"
                     "avatar name = Ada beginexp " + actions + " endexp endavatar\n");
    AnimLoadRegistry(file.c_str());
  }
  std::vector<std::string> labels() {
    std::vector<std::string> out;
    QtGestureRow* row = gesture_row_qt();
    for (size_t i = 0; row && i < row->count(); ++i)
      out.push_back(row->button(i) ? row->button(i)->text().toStdString() : "?");
    return out;
  }
  QWidget* view() {
    auto* s = dynamic_cast<QtViewport*>(viewport_surface());
    return s ? s->widget() : nullptr;
  }
  QPoint view_centre() {
    QWidget* v = view();
    QRect r(v->mapToGlobal(QPoint(0, 0)), v->size());
    return QPoint((r.left() + r.left() + r.width()) / 2, (r.top() + r.top() + r.height()) / 2);
  }
};

TEST_F(GestureTest, ButtonsTakeLettersOfTheirOwnAndSitUnderTheToolbar) {
  citizen_set_number(101);
  ASSERT_NO_FATAL_FAILURE(start_to_running());
  offer("wave = s1 wink = s2");
  gesture_set_reserved_shortcuts("");
  EXPECT_EQ(labels(), (std::vector<std::string>{"&WAVE", "W&INK"}));
  // A letter the menu bar uses is left to it.
  gesture_set_reserved_shortcuts("FW");
  EXPECT_EQ(labels(), (std::vector<std::string>{"W&AVE", "W&INK"}));
  QPushButton* first = gesture_row_qt()->button(0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->x(), 8);
  EXPECT_EQ(first->geometry().top(), toolbar_height() + 1);
  EXPECT_EQ(first->height(), 20);
  // Three pixels between buttons.
  EXPECT_EQ(gesture_row_qt()->button(1)->x(), first->x() + first->width() + 3);
  // The 3D view starts below the row.
  EXPECT_GE(view()->y() - static_cast<QtMainWindow*>(main())->client_top(), toolbar_height() + gesture_height());
  // A tourist's row begins after the sign-up button.
  citizen_set_number(0);
  ASSERT_EQ(gesture_show(), 2);
  EXPECT_EQ(gesture_row_qt()->button(0)->x(), register_button_width() + 11);
  // An avatar without actions has no row.
  offer("");
  EXPECT_EQ(gesture_show(), 0);
  EXPECT_TRUE(labels().empty());
}

// The shortcut is the first character no earlier button and no menu title has, whatever kind
// it is: a dash or a blank as well as a letter.
TEST_F(GestureTest, TheShortcutIsTheFirstFreeCharacterOfAnyKind) {
  citizen_set_number(101);
  ASSERT_NO_FATAL_FAILURE(start_to_running());
  offer("h = s1 i = s2 hi-there = s3 a-b = s4");
  gesture_set_reserved_shortcuts("A");
  EXPECT_EQ(labels(), (std::vector<std::string>{"&H", "&I", "HI&-THERE", "A-&B"}));
  EXPECT_EQ(gesture_shortcut(2), '-');
  std::string used;
  EXPECT_EQ(gesture_label("a-b", used, "a"), "A&-B");
  used = "hi";
  EXPECT_EQ(gesture_label("hi there", used, ""), "HI& THERE");
  EXPECT_EQ(used, "hi ");
  used = "ab";
  EXPECT_EQ(gesture_label("ab", used, ""), "AB");  // none free: no shortcut
  // A name's own ampersand is shown as one, not taken for a shortcut mark.
  used = "";
  EXPECT_EQ(gesture_label("&rock", used, ""), "&&&ROCK");
  EXPECT_EQ(used, "r");
}

// Each button is its text's width and 6 more, and the next one starts 9 further on.
TEST_F(GestureTest, AButtonIsItsTextAndSixWideTheNextNineFurther) {
  citizen_set_number(101);
  ASSERT_NO_FATAL_FAILURE(start_to_running());
  offer("wave = s1 wink = s2 dance = s3");
  gesture_set_reserved_shortcuts("");
  ASSERT_EQ(labels().size(), 3u);
  int x = 8;
  for (size_t i = 0; i < 3; ++i) {
    QPushButton* b = gesture_row_qt()->button(i);
    ASSERT_NE(b, nullptr);
    int text = b->fontMetrics().horizontalAdvance(b->text().remove('&'));
    ASSERT_GT(text, 0);
    EXPECT_EQ(b->x(), x) << i;
    EXPECT_EQ(b->width(), text + 6) << i;
    x += text + 9;
  }
}

TEST_F(GestureTest, AButtonOrItsLetterSetsTheOwnGesture) {
  citizen_set_number(101);
  ASSERT_NO_FATAL_FAILURE(start_to_running());
  offer("wave = s1 wink = s2 dance = s3");
  gesture_set_reserved_shortcuts("");
  ASSERT_EQ(labels().size(), 3u);
  self_clear_gesture();
  gesture_row_qt()->button(1)->click();
  EXPECT_EQ(self_gesture(), 2);
  // Alt and the letter: the third button's D.
  qt_->send(HostEvent{HOST_WM_SYSKEYDOWN, 'D', 0, 0});
  EXPECT_EQ(self_gesture(), 3);
  EXPECT_FALSE(gesture_row_qt()->button(2)->isDown());
  // A letter no button has changes nothing.
  qt_->send(HostEvent{HOST_WM_SYSKEYDOWN, 'Z', 0, 0});
  EXPECT_EQ(self_gesture(), 3);
  EXPECT_EQ(gesture_handle(GESTURE_FIRST_ID + 3), 0);
}

TEST_F(GestureTest, MoverModeHidesThePointerSteersAndGivesItBack) {
  ASSERT_NO_FATAL_FAILURE(start_to_running());
  ASSERT_TRUE(mouse_is_picker());
  EXPECT_TRUE(toolbar_is_enabled(118));
  QCursor::setPos(QPoint(5, 7));
  command(118);
  ASSERT_TRUE(mouse_is_mover());
  EXPECT_TRUE(toolbar_is_checked(118));
  EXPECT_TRUE(pointer_qt()->hidden());
  EXPECT_EQ(QCursor::pos(), view_centre());
  // Activating again (the window and the program both) keeps the first saved place.
  qt_->send(HostEvent{HOST_WM_ACTIVATE, 1, 0, 0});
  qt_->send(HostEvent{HOST_WM_ACTIVATEAPP, 1, 0, 0});
  // The pointer moved left and up: the user turns left and goes forward.
  QCursor::setPos(view_centre() + QPoint(-30, -10));
  int turn = 0, forward = 0;
  mouse_delta(&turn, &forward);
  EXPECT_EQ(turn, 30);
  EXPECT_EQ(forward, 10);
  EXPECT_EQ(QCursor::pos(), view_centre());
  // Frames with the pointer off centre turn the own view.
  double yaw = self_get_yaw();
  for (int i = 0; i < 5; ++i) {
    QCursor::setPos(view_centre() + QPoint(-40, 0));
    tessel_frame();
  }
  EXPECT_NE(self_get_yaw(), yaw);
  // A left click on the window returns to picker mode; the pointer comes back.
  qt_->send(HostEvent{HOST_WM_LBUTTONDOWN, 0, 50, 50});
  EXPECT_TRUE(mouse_is_picker());
  EXPECT_FALSE(toolbar_is_checked(118));
  EXPECT_FALSE(pointer_qt()->hidden());
  EXPECT_EQ(QCursor::pos(), QPoint(5, 7));
  // A click in the 3D view while moving only ends mover mode.
  command(118);
  ASSERT_TRUE(mouse_is_mover());
  viewport_click(10, 10);
  EXPECT_TRUE(mouse_is_picker());
  // Closing the program in mover mode gives the pointer back.
  command(118);
  ASSERT_TRUE(pointer_qt()->hidden());
  stop();
  EXPECT_FALSE(pointer_qt()->hidden());
  EXPECT_EQ(QCursor::pos(), QPoint(5, 7));
}

}  // namespace
