// The frame state machine, driven step by step with scripted universe and login results.
#include <string>
#include <vector>

#include "client/core/tick.h"
#include "spine_fixture.h"

namespace {

// What the scripted universe connection and login do.
struct Script {
  int polls = 0;
  int connect_after = 1;      // polls until connected (0: never)
  int auto_result = 0;        // login_auto's return
  int done_after = 1;         // polls after login_auto until login_done
  int result = 0;             // login_last_result
  int logins = 0;             // login dialog openings
  int login_clear = -1;
  int autos = 0;
  int polls_at_auto = 0;
  bool drag = false;
  void (*in_login)() = nullptr;
};
Script s;

int sc_universe_update() { return ++s.polls, 0; }
bool sc_connected() { return s.connect_after && s.polls >= s.connect_after; }
int sc_login_auto() {
  ++s.autos;
  s.polls_at_auto = s.polls;
  return s.auto_result;
}
int sc_login_done() { return s.autos && s.polls - s.polls_at_auto >= s.done_after; }
int sc_last_result() { return s.result; }
int sc_login(int clear) {
  ++s.logins;
  s.login_clear = clear;
  if (s.in_login) s.in_login();
  return 0;
}
bool sc_drag() { return s.drag; }

const FrameLinks scripted = {sc_universe_update, sc_connected, nullptr, sc_login_auto,
                             sc_login_done,      sc_last_result, sc_login, sc_drag, nullptr};

std::vector<std::string> calls;
void task_a() { calls.push_back("a"); }
void task_b() { calls.push_back("b"); }
void task_nested() {
  calls.push_back("nested");
  tessel_frame();  // a module that runs a loop inside its update
}
void task_ends_program() {
  calls.push_back("ends");
  tessel_shutdown(nullptr);
}
void task_note() {
  calls.push_back("note");
}

}  // namespace

class Frames : public Spine {
 protected:
  void SetUp() override {
    Spine::SetUp();
    s = Script{};
    calls.clear();
    install();
    ASSERT_TRUE(start());
    frame_set_links(&scripted);
  }
  int state() { return tessel_frame_state(); }
  // Runs steps until the state changes or n steps ran.
  void steps(int n) {
    for (int i = 0; i < n; ++i) {
      fake_now += 10;
      tessel_frame();
    }
  }
};

TEST_F(Frames, WaitsForTheUniverseThenStartsTheAutomaticLogin) {
  s.connect_after = 3;
  steps(2);
  EXPECT_EQ(state(), FRAME_WAIT_UNIVERSE);
  EXPECT_EQ(s.autos, 0);
  steps(1);
  EXPECT_EQ(state(), FRAME_WAIT_LOGIN);
  EXPECT_EQ(s.autos, 1);
  EXPECT_EQ(host_.about_text(ABOUT_STATUS), "one-five-four");
}

TEST_F(Frames, AutomaticLoginThatCannotBeSentSaysSo) {
  s.auto_result = 402;
  steps(1);
  EXPECT_EQ(state(), FRAME_WAIT_LOGIN);
  EXPECT_EQ(host_.about_text(ABOUT_STATUS), "one-five-five 402");
}

TEST_F(Frames, WithoutAUniverseModuleStateZeroWaits) {
  frame_set_links(nullptr);
  steps(20);
  EXPECT_EQ(state(), FRAME_WAIT_UNIVERSE);
  EXPECT_TRUE(host_.about_visible());
}

TEST_F(Frames, LoginSuccessStartsThe3dSideAndRuns) {
  s.result = 0;
  s.done_after = 2;
  steps(1);
  ASSERT_EQ(state(), FRAME_WAIT_LOGIN);
  steps(1);
  EXPECT_EQ(state(), FRAME_WAIT_LOGIN);  // not done yet
  steps(1);
  EXPECT_EQ(state(), FRAME_START_3D);
  steps(1);
  EXPECT_EQ(state(), FRAME_RUNNING);
  // The 3D start showed the main window and closed the splash box.
  EXPECT_EQ(host_.window_show_command(), HOST_SHOW_NORMAL);
  EXPECT_FALSE(host_.about_exists());
  EXPECT_EQ(host_.about_destroyed(), 1);
}

TEST_F(Frames, SavedMaximisedLayoutShowsTheWindowMaximised) {
  profile_set_int("layout", "maximized", 1);
  steps(3);
  ASSERT_EQ(state(), FRAME_RUNNING);
  EXPECT_EQ(host_.window_show_command(), HOST_SHOW_MAXIMIZED);
}

TEST_F(Frames, Result407Or408InStateOneEndsTheProgram) {
  for (int r : {407, 408}) {
    SCOPED_TRACE(r);
    s = Script{};
    s.result = r;
    steps(2);
    EXPECT_EQ(state(), FRAME_SHUT_DOWN);
    EXPECT_TRUE(host_.boxes().empty());  // without text
    EXPECT_TRUE(host_.quit_posted());
    EXPECT_FALSE(host_.window_exists());
    ASSERT_TRUE(restart("[general]\n"));
    frame_set_links(&scripted);
  }
}

TEST_F(Frames, LostConnectionDuringLoginIdlesUntilCancel) {
  s.result = 431;
  steps(2);
  ASSERT_EQ(state(), FRAME_IDLE);
  EXPECT_EQ(host_.about_text(ABOUT_STATUS), "eighty Tessel");
  int polls = s.polls;
  steps(10);
  EXPECT_EQ(state(), FRAME_IDLE);
  EXPECT_EQ(s.polls, polls);  // state 3 does not poll the universe
  EXPECT_EQ(s.logins, 0);
  host_.press_about(ABOUT_CANCEL);
  EXPECT_FALSE(host_.about_exists());
  steps(1);
  EXPECT_EQ(state(), FRAME_SHUT_DOWN);
  EXPECT_TRUE(host_.quit_posted());
}

TEST_F(Frames, OtherResultsOpenTheLoginDialog) {
  s.result = 13;
  steps(2);
  EXPECT_EQ(state(), FRAME_LOGIN_DIALOG);
  EXPECT_EQ(s.logins, 1);
  EXPECT_EQ(s.login_clear, 0);
  EXPECT_FALSE(host_.about_exists());  // hidden before the dialog
  // In state 2 only 407 ends the program; 408 and others wait.
  for (int r : {408, 431, 13}) {
    s.result = r;
    steps(3);
    EXPECT_EQ(state(), FRAME_LOGIN_DIALOG) << r;
  }
  s.result = 0;
  steps(1);
  EXPECT_EQ(state(), FRAME_START_3D);
}

TEST_F(Frames, CancelledLoginDialogEndsTheProgram) {
  s.result = 39;
  steps(2);
  ASSERT_EQ(state(), FRAME_LOGIN_DIALOG);
  int polls = s.polls;
  s.result = 407;
  steps(1);
  EXPECT_EQ(s.polls, polls + 1);  // state 2 polls the universe
  EXPECT_EQ(state(), FRAME_SHUT_DOWN);
  EXPECT_TRUE(host_.boxes().empty());
}

TEST_F(Frames, CancelOnTheSplashEndsTheProgramInStatesZeroAndOne) {
  s.connect_after = 0;
  steps(2);
  host_.press_about(ABOUT_CANCEL);
  EXPECT_TRUE(about_cancel_pressed());
  int polls = s.polls;
  steps(1);
  EXPECT_EQ(state(), FRAME_SHUT_DOWN);
  EXPECT_EQ(s.polls, polls);  // the step ended at the check
  ASSERT_TRUE(restart("[general]\n"));
  frame_set_links(&scripted);
  s = Script{};
  s.done_after = 100;
  steps(1);
  ASSERT_EQ(state(), FRAME_WAIT_LOGIN);
  host_.press_about(ABOUT_CANCEL);
  steps(1);
  EXPECT_EQ(state(), FRAME_SHUT_DOWN);
}

TEST_F(Frames, TheSplashHasNoOtherWayOn) {
  // OK is hidden on the start-up splash: pressing where it would be does nothing.
  host_.press_about(ABOUT_OK);
  EXPECT_TRUE(host_.about_exists());
  EXPECT_FALSE(about_cancel_pressed());
}

TEST_F(Frames, RunningStateCallsTheTableInOrderEveryStep) {
  static const task_record table[] = {{"a", task_a, 0, {}}, {"b", task_b, 1, {}}};
  frame_set_tasks(table, 2);
  tessel_set_frame_state(FRAME_RUNNING);
  steps(2);
  EXPECT_EQ(calls, (std::vector<std::string>{"a", "b", "a", "b"}));
}

TEST_F(Frames, TheProgramTableStampsTheFrameTimeFirst) {
  tessel_set_frame_state(FRAME_RUNNING);
  fake_now = 123456;
  tessel_frame();
  EXPECT_EQ(tick_now(), 123456u);
  fake_now = 0xFFFFFFF0u;  // across the wrap
  tessel_frame();
  EXPECT_EQ(tick_now(), 0xFFFFFFF0u);
}

TEST_F(Frames, NoTaskRunsTwiceAtOnce) {
  static const task_record table[] = {{"nested", task_nested, 0, {}}, {"b", task_b, 1, {}}};
  frame_set_tasks(table, 2);
  tessel_set_frame_state(FRAME_RUNNING);
  tessel_frame();
  EXPECT_EQ(calls, (std::vector<std::string>{"nested", "b"}));
  EXPECT_FALSE(frame_busy());
}

TEST_F(Frames, NoTaskRunsWhileANoteIsOpen) {
  static const task_record table[] = {{"note", task_note, 0, {}}};
  frame_set_tasks(table, 1);
  tessel_set_frame_state(FRAME_RUNNING);
  // A host whose box runs frames in its own loop, as the real one does.
  struct FramingHost : HeadlessHost {
    int message_box(const char* t, const char* c, unsigned f) override {
      tessel_frame();
      tessel_frame();
      return HeadlessHost::message_box(t, c, f);
    }
  } framing;
  host_set(&framing);
  note("stop");
  host_set(&host_);
  EXPECT_TRUE(calls.empty());
  tessel_frame();
  EXPECT_EQ(calls.size(), 1u);
}

TEST_F(Frames, SplitterDragSkipsTheTable) {
  static const task_record table[] = {{"a", task_a, 0, {}}};
  frame_set_tasks(table, 1);
  tessel_set_frame_state(FRAME_RUNNING);
  s.drag = true;
  steps(3);
  EXPECT_TRUE(calls.empty());
  s.drag = false;
  steps(1);
  EXPECT_EQ(calls.size(), 1u);
}

TEST_F(Frames, ARowThatEndsTheProgramLeavesTheRestUnrun) {
  static const task_record table[] = {
      {"a", task_a, 0, {}}, {"ends", task_ends_program, 0, {}}, {"b", task_b, 0, {}}};
  frame_set_tasks(table, 3);
  tessel_set_frame_state(FRAME_RUNNING);
  tessel_frame();
  EXPECT_EQ(calls, (std::vector<std::string>{"a", "ends"}));
  EXPECT_EQ(state(), FRAME_SHUT_DOWN);
  tessel_frame();  // state 6 does nothing
  EXPECT_EQ(calls.size(), 2u);
}

TEST_F(Frames, TheTimerAndTheIdleLoopBothStepFrames) {
  s.connect_after = 0;
  host_.send(HostEvent{HOST_WM_TIMER, TESSEL_TIMER_ID, 0, 0});
  EXPECT_EQ(s.polls, 1);
  host_.set_step_limit(5);
  host_.run_loop();  // idle frames in the foreground
  EXPECT_EQ(s.polls, 6);
  // In the background only the 500 ms timer steps frames.
  host_.send(HostEvent{HOST_WM_ACTIVATEAPP, 0, 0, 0});
  EXPECT_TRUE(tessel_in_background());
  EXPECT_FALSE(host_.foreground());
  host_.set_step_limit(3);
  host_.run_loop();
  EXPECT_EQ(s.polls, 6);
  fake_now += 500;
  host_.set_step_limit(1);
  host_.run_loop();
  EXPECT_EQ(s.polls, 7);
  host_.send(HostEvent{HOST_WM_ACTIVATEAPP, 1, 0, 0});
  EXPECT_TRUE(host_.foreground());
}
