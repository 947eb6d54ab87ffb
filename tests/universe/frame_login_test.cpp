// The frame step with the real universe connection and login plugged in, against the fake
// universe: from the first frame to the 3D start, as the program runs it.
#include <gtest/gtest.h>

#include "client/app/program.h"
#include "client//app/frame.h"
#include "client/core/tessel.h"
#include "tests/universe/universe_test_util.h"

using namespace utest;

namespace {

const FrameLinks real_links = {universe_update, universe_connected, universe_logged_in, login_auto, login_done,
                               login_last_result, login, nullptr, nullptr};

class FrameLoginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    login_reset();
    install_hooks(recorder);
    app_reset_for_test();
    frame_set_links(&real_links);
    keep_universe_running(dialogs);
  }
  void TearDown() override {
    app_reset_for_test();
    universe_term();
    login_reset();
    remove_hooks();
  }
  // Frames until the 3D start is due (the step that would run it is not taken).
  bool frames_until_start() {
    return poll_until([] {
      if (tessel_frame_state() != FRAME_START_3D) tessel_frame();
      return tessel_frame_state() == FRAME_START_3D;
    });
  }

  FakeClock clock;
  Recorder recorder;
  ScriptedDialogs dialogs;
};

TEST_F(FrameLoginTest, StoredCitizenLogsInByItselfAndReachesThe3DStart) {
  FakeUniverse fake(R"({"citizens":[{"name":"alice","password":"secret","number":101}]})");
  // An old plain-text password, as a fresh settings file may carry it, is moved first.
  ProgramDir dir(ini_for(fake.port(), "[citizen]\nname=alice\npassword=secret\n"));
  login_init();
  universe_init();
  ASSERT_TRUE(frames_until_start());
  EXPECT_EQ(0, login_last_result());
  EXPECT_TRUE(universe_logged_in());
  EXPECT_EQ(std::vector<std::string>{"alice"}, recorder.names);
  EXPECT_TRUE(dialogs.opened().empty());
}

TEST_F(FrameLoginTest, WrongStoredPasswordGoesThroughTheDialog) {
  FakeUniverse fake(R"({"citizens":[{"name":"alice","password":"secret","number":101}]})");
  ProgramDir dir(ini_for(fake.port(), "[citizen]\nname=alice\n"));
  profile_set_encrypted_string("citizen", "pass", "old");
  universe_init();
  dialogs.add(LOGIN_DIALOG, {[](ScriptedView& v) { v.type(LOGIN_PASSWORD, "secret"); }, [](ScriptedView& v) { v.press(DIALOG_OK); },
                             dialogs.wait_until([](ScriptedView& v) { return v.ended(); })});
  ASSERT_TRUE(frames_until_start());
  ASSERT_EQ(1u, dialogs.opened().size());
  EXPECT_EQ("m8", dialogs.opened()[0]->history(LOGIN_STATUS).at(0));
  EXPECT_EQ(0, login_last_result());
}

}  // namespace
