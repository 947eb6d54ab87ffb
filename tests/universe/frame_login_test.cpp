// The frame step with the real universe connection and login plugged in, against the fake
// universe: from the first frame to the 3D start, as the program runs it.
#include <gtest/gtest.h>

#include <cctype>

#include "client/app/program.h"
#include "client//app/frame.h"
#include "client/core/log.h"
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

// A settings file that begins with a byte-order mark logs in by itself, and with every trace
// switch on the log names the password's settings but holds the password in no form: plain,
// enciphered as stored, or as the hex of either.
TEST_F(FrameLoginTest, AMarkedSettingsFileLogsInAndTheTraceHoldsNoPassword) {
  const std::string password = "Zq7pw9x";
  FakeUniverse fake(R"({"citizens":[{"name":"alice","password":")" + password + R"(","number":101}]})");
  ProgramDir dir("\xEF\xBB\xBF" + ini_for(fake.port(), "[citizen]\nname=alice\npassword=" + password +
                                               "\n[debug]\nall=1\nflush=1\n"));
  log_init();
  login_init();
  universe_init();
  ASSERT_TRUE(frames_until_start());
  EXPECT_EQ(0, login_last_result());
  EXPECT_TRUE(universe_logged_in());
  log_reset();
  std::string stored = dir.ini();
  EXPECT_EQ(0u, stored.find("\xEF\xBB\xBF[universe]")) << stored;
  size_t pass = stored.find("\npass=");
  ASSERT_NE(std::string::npos, pass) << stored;
  std::string enciphered = stored.substr(pass + 6, stored.find('\n', pass + 6) - pass - 6);
  ASSERT_EQ(2 * password.size(), enciphered.size());
  std::string log = testutil::read_file(dir.dir + "/tessel.log");
  EXPECT_NE(std::string::npos, log.find("profile_set_encrypted_string (citizen, pass)")) << log;
  EXPECT_NE(std::string::npos, log.find("profile_string (citizen, password)")) << log;
  std::string plain_hex = hex_of(password), upper = plain_hex;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const std::string& secret : {password, enciphered, plain_hex, upper})
    EXPECT_EQ(std::string::npos, log.find(secret)) << secret << "\n" << log;
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
