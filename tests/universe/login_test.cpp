// The login module end to end: the automatic login, the citizen and tourist dialogs on
// scripted views, and the fake universe's answers over loopback. Messages are compared by
// number (the test message set's texts are "m<number>").
#include <gtest/gtest.h>
#include <pwd.h>

#include "client/net/netcodes.h"
#include "tests/universe/universe_test_util.h"

using namespace utest;

namespace {

const char* kConfig =
    R"({"citizens":[{"name":"alice","password":"secret","number":101,"privilege_password":"ppw"},)"
    R"({"name":"bob","password":"hunter2","number":102}]})";

std::string login_body(const std::string& name, const std::string& password, const std::string& tail) {
  return "2d" + hex_build() + hex_string(name) + hex_string(password) + tail;
}

class LoginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    login_reset();
    install_hooks(recorder);
    keep_universe_running(dialogs);
  }
  void TearDown() override {
    universe_term();
    login_reset();
    remove_hooks();
  }

  void start(const std::vector<std::string>& extra = {}, const std::string& citizen = "") {
    fake = std::make_unique<FakeUniverse>(kConfig, extra);
    ASSERT_NE(0, fake->port()) << "the fake universe never said it listens";
    dir = std::make_unique<ProgramDir>(ini_for(fake->port(), citizen));
    ASSERT_EQ(0, universe_init());
    ASSERT_TRUE(poll_until([] {
      universe_update();
      return universe_connected();
    }));
  }

  std::string next_frame() {
    std::string l = fake->wait_for("frame 1 ", [] { universe_update(); });
    return l.empty() ? "" : l.substr(8);
  }

  void wait_login_done() {
    ASSERT_TRUE(poll_until([] {
      universe_update();
      return login_done() != 0;
    }));
  }

  // No frame reaches the fake within a short while.
  void expect_nothing_sent() {
    for (auto& l : fake->collect(200, [] { universe_update(); })) EXPECT_NE(0u, l.rfind("frame", 0)) << l;
  }

  FakeClock clock;
  Recorder recorder;
  ScriptedDialogs dialogs;
  std::unique_ptr<FakeUniverse> fake;
  std::unique_ptr<ProgramDir> dir;
};

using dialog_steps::type;
using dialog_steps::press;

TEST_F(LoginTest, AutomaticLoginWithoutANameOpensTheTouristDialog) {
  ASSERT_NO_FATAL_FAILURE(start());
  dialogs.add(TOURIST_DIALOG, {type(TOURIST_NAME, "Wanderer"), press(DIALOG_OK),
                               dialogs.wait_until([](ScriptedView& v) { return v.ended(); })});
  ASSERT_EQ(0, login_auto());
  EXPECT_EQ(login_body("", "", "00000000" "00" "00"), next_frame());
  ASSERT_NO_FATAL_FAILURE(wait_login_done());
  ASSERT_EQ(1u, dialogs.opened().size());
  ScriptedView& v = *dialogs.opened()[0];
  EXPECT_EQ("m446 <m68>", v.title());
  EXPECT_TRUE(v.control(TOURIST_CITIZEN).shown);
  EXPECT_EQ("m450", v.control(TOURIST_CITIZEN).text);
  EXPECT_EQ("m78 <m163>", v.history(TOURIST_STATUS).at(0));
  EXPECT_EQ(0, v.code());
  EXPECT_EQ(0, login_last_result());
  EXPECT_EQ(1, recorder.about_hides);
  EXPECT_EQ(std::vector<std::string>{"\"Wanderer\""}, recorder.names);
  EXPECT_EQ(std::vector<int32_t>{0}, recorder.numbers);
  EXPECT_STREQ("Wanderer", profile_string("citizen", "tourist"));
  // The tourist login itself went out quoted with an empty password and no privilege.
  bool seen = false;
  fake->collect(200, nullptr);
  for (auto& l : fake->lines) seen |= l == "frame 1 " + login_body("\"Wanderer\"", "", "00000000" "00" "00");
  EXPECT_TRUE(seen);
}

TEST_F(LoginTest, OneCharacterTouristNameIsRefusedBeforeSending) {
  ASSERT_NO_FATAL_FAILURE(start());
  dialogs.add(TOURIST_DIALOG, {type(TOURIST_NAME, "x"), press(DIALOG_OK), press(DIALOG_CANCEL)});
  EXPECT_EQ(NET_CANCELLED, tourist_dialog(0));
  ScriptedView& v = *dialogs.opened().at(0);
  EXPECT_FALSE(v.control(TOURIST_CITIZEN).shown);
  EXPECT_EQ("m72", v.control(TOURIST_STATUS).text);
  expect_nothing_sent();
}

TEST_F(LoginTest, SixteenTypedCharactersGoOutAsFifteen) {
  ASSERT_NO_FATAL_FAILURE(start());
  dialogs.add(TOURIST_DIALOG, {type(TOURIST_NAME, "ABCDEFGHIJKLMNOPQ"), press(DIALOG_OK),
                               dialogs.wait_until([](ScriptedView& v) { return v.ended(); })});
  EXPECT_EQ(0, tourist_dialog(0));
  EXPECT_EQ("ABCDEFGHIJKLMNOP", dialogs.opened().at(0)->control(TOURIST_NAME).text);  // the edit took 16
  bool seen = false;
  fake->collect(200, nullptr);
  for (auto& l : fake->lines)
    seen |= l == "frame 1 " + login_body("\"ABCDEFGHIJKLMNO\"", "", "00000000" "00" "00");
  EXPECT_TRUE(seen);
  EXPECT_EQ(1, recorder.identity_changes);
}

TEST_F(LoginTest, RefusedTouristStaysInTheDialog) {
  ASSERT_NO_FATAL_FAILURE(start({"--no-tourists"}));
  dialogs.add(TOURIST_DIALOG,
              {type(TOURIST_NAME, "Wanderer"), press(DIALOG_OK),
               dialogs.wait_until([](ScriptedView& v) { return v.control(TOURIST_STATUS).text != "m154"; }),
               press(DIALOG_CANCEL)});
  EXPECT_EQ(NET_CANCELLED, tourist_dialog(0));
  EXPECT_EQ("m155 30", dialogs.opened().at(0)->control(TOURIST_STATUS).text);
  EXPECT_TRUE(recorder.names.empty());
}

TEST_F(LoginTest, TouristNameDefaultsToTheStoredOneThenTheAccountName) {
  ASSERT_NO_FATAL_FAILURE(start());
  dialogs.add(TOURIST_DIALOG, {press(DIALOG_CANCEL)});
  dialogs.add(TOURIST_DIALOG, {press(DIALOG_CANCEL)});
  tourist_dialog(0);
  const passwd* pw = getpwuid(getuid());
  std::string account = pw ? pw->pw_name : "";
  EXPECT_EQ(account.substr(0, 16), dialogs.opened().at(0)->control(TOURIST_NAME).text);
  profile_set_string("citizen", "tourist", "Roamer");
  tourist_dialog(0);
  EXPECT_EQ("Roamer", dialogs.opened().at(1)->control(TOURIST_NAME).text);
}

TEST_F(LoginTest, WrongPasswordShowsItsMessageAndTheRightOneLogsIn) {
  ASSERT_NO_FATAL_FAILURE(start({}, "[citizen]\nname=alice\n"));
  profile_set_encrypted_string("citizen", "pass", "wrong");
  ASSERT_EQ(0, login_auto());
  ASSERT_NO_FATAL_FAILURE(wait_login_done());
  ASSERT_EQ(13, login_last_result());
  // The frame state machine now opens the citizen dialog.
  dialogs.add(LOGIN_DIALOG, {type(LOGIN_PASSWORD, "secret"), press(DIALOG_OK),
                             dialogs.wait_until([](ScriptedView& v) { return v.ended(); })});
  EXPECT_EQ(0, login(0));
  ScriptedView& v = *dialogs.opened().at(0);
  EXPECT_EQ("m362 <m68>", v.title());
  EXPECT_EQ("m8", v.history(LOGIN_STATUS).at(0));
  EXPECT_TRUE(v.control(LOGIN_REMEMBER).checked);
  EXPECT_EQ("m154", v.history(LOGIN_STATUS).at(1));
  EXPECT_EQ(0, login_last_result());
  EXPECT_EQ(std::vector<std::string>{"alice"}, recorder.names);
  EXPECT_EQ(std::vector<int32_t>{101}, recorder.numbers);
  // Remembered: the box was checked after the refusal.
  EXPECT_STREQ("secret", profile_encrypted_string("citizen", "pass"));
  EXPECT_FALSE(login_too_many_failures());
}

TEST_F(LoginTest, RefusalWhileTheDialogIsOpenGoesToItsStatus) {
  ASSERT_NO_FATAL_FAILURE(start({}, "[citizen]\nname=alice\n"));
  dialogs.add(LOGIN_DIALOG,
              {type(LOGIN_NAME, "carol"), type(LOGIN_PASSWORD, "x"), press(DIALOG_OK),
               dialogs.wait_until([](ScriptedView& v) { return v.control(LOGIN_STATUS).text != "m154"; }),
               press(DIALOG_CANCEL)});
  EXPECT_EQ(NET_CANCELLED, login(1));
  EXPECT_EQ("m3 carol", dialogs.opened().at(0)->control(LOGIN_STATUS).text);
  EXPECT_EQ(NET_CANCELLED, login_last_result());
}

TEST_F(LoginTest, UncheckedRememberBoxLeavesTheStoredIdentity) {
  ASSERT_NO_FATAL_FAILURE(start({}, "[citizen]\nname=alice\n"));
  profile_set_encrypted_string("citizen", "pass", "secret");
  dialogs.add(LOGIN_DIALOG, {type(LOGIN_NAME, "bob"), type(LOGIN_PASSWORD, "hunter2"), press(DIALOG_OK),
                             dialogs.wait_until([](ScriptedView& v) { return v.ended(); })});
  EXPECT_EQ(0, login(1));
  EXPECT_FALSE(dialogs.opened().at(0)->control(LOGIN_REMEMBER).checked);
  EXPECT_STREQ("alice", profile_string("citizen", "name"));
  EXPECT_STREQ("secret", profile_encrypted_string("citizen", "pass"));
  EXPECT_EQ(std::vector<std::string>{"bob"}, recorder.names);
}

TEST_F(LoginTest, EmptyNameAndTooManyFailuresSendNothing) {
  ASSERT_NO_FATAL_FAILURE(start());
  dialogs.add(LOGIN_DIALOG, {type(LOGIN_NAME, ""), press(DIALOG_OK), press(DIALOG_CANCEL)});
  EXPECT_EQ(NET_CANCELLED, login(1));
  EXPECT_EQ("m142", dialogs.opened().at(0)->control(LOGIN_STATUS).text);
  for (int i = 0; i < 9; ++i) login_count_failure();
  EXPECT_FALSE(login_too_many_failures());
  login_count_failure();
  EXPECT_TRUE(login_too_many_failures());
  dialogs.add(LOGIN_DIALOG, {type(LOGIN_NAME, "alice"), type(LOGIN_PASSWORD, "secret"), press(DIALOG_OK),
                             press(DIALOG_CANCEL)});
  login(1);
  ScriptedView& v = *dialogs.opened().at(1);
  EXPECT_EQ("m218", v.history(LOGIN_STATUS).front());
  EXPECT_EQ("m218", v.control(LOGIN_STATUS).text);
  expect_nothing_sent();
}

TEST_F(LoginTest, TenthWrongPasswordBlocksTheDialog) {
  ASSERT_NO_FATAL_FAILURE(start({}, "[citizen]\nname=alice\n"));
  std::vector<ScriptedDialogs::Step> steps;
  for (int i = 0; i < 10; ++i) {
    steps.push_back(type(LOGIN_PASSWORD, "nope"));
    steps.push_back(press(DIALOG_OK));
    steps.push_back(dialogs.wait_until([](ScriptedView& v) { return v.control(LOGIN_STATUS).text == "m8"; }));
    steps.push_back([](ScriptedView& v) { v.set_text(LOGIN_STATUS, ""); });
  }
  steps.push_back(press(DIALOG_OK));
  steps.push_back(press(DIALOG_CANCEL));
  dialogs.add(LOGIN_DIALOG, steps);
  login(1);
  EXPECT_TRUE(login_too_many_failures());
  EXPECT_EQ("m218", dialogs.opened().at(0)->control(LOGIN_STATUS).text);
  int logins = 0;
  fake->collect(200, nullptr);
  for (auto& l : fake->lines) logins += l.rfind("login ", 0) == 0;
  EXPECT_EQ(10, logins);
}

TEST_F(LoginTest, RefusedPrivilegeStillLogsTheUserIn) {
  ASSERT_NO_FATAL_FAILURE(start({}, "[citizen]\nname=alice\n"));
  profile_set_encrypted_string("citizen", "pass", "secret");
  recorder.requested_privilege = 102;  // bob's privilege password is not "ppw"
  ASSERT_EQ(0, login_auto());
  ASSERT_NO_FATAL_FAILURE(wait_login_done());
  EXPECT_EQ(0, login_last_result());
  ASSERT_EQ(1u, recorder.privilege_results.size());
  EXPECT_EQ('*', recorder.privilege_results[0].first);
  EXPECT_EQ("bob", recorder.privilege_results[0].second);
  EXPECT_EQ(0, recorder.privilege_resets);
  EXPECT_EQ(std::vector<std::string>{"alice"}, recorder.names);
}

TEST_F(LoginTest, ReplyWithoutARequestedPrivilegeResetsIt) {
  ASSERT_NO_FATAL_FAILURE(start({}, "[citizen]\nname=alice\n"));
  profile_set_encrypted_string("citizen", "pass", "secret");
  ASSERT_EQ(0, login_auto());
  ASSERT_NO_FATAL_FAILURE(wait_login_done());
  EXPECT_EQ(1, recorder.privilege_resets);
  EXPECT_TRUE(recorder.privilege_results.empty());
}

TEST_F(LoginTest, ForgottenPasswordAsksTheUniverse) {
  ASSERT_NO_FATAL_FAILURE(start());
  recorder.prompt_answer = "note";
  dialogs.add(LOGIN_DIALOG,
              {type(LOGIN_NAME, "bob"), press(LOGIN_FORGOTTEN),
               dialogs.wait_until([](ScriptedView& v) { return v.control(LOGIN_STATUS).text == "m157"; }),
               type(LOGIN_NAME, "zed"), press(LOGIN_FORGOTTEN),
               dialogs.wait_until([](ScriptedView& v) { return v.control(LOGIN_STATUS).text != "m156"; }),
               press(DIALOG_CANCEL)});
  login(1);
  ScriptedView& v = *dialogs.opened().at(0);
  auto h = v.history(LOGIN_STATUS);
  EXPECT_NE(h.end(), std::find(h.begin(), h.end(), "m157"));
  EXPECT_EQ("m3 zed", v.control(LOGIN_STATUS).text);
  bool seen = false;
  fake->collect(200, nullptr);
  for (auto& l : fake->lines) seen |= l == "frame 1 1c" + hex_string("bob") + hex_string("note");
  EXPECT_TRUE(seen);
}

TEST_F(LoginTest, TouristButtonInTheCitizenDialog) {
  ASSERT_NO_FATAL_FAILURE(start());
  dialogs.add(LOGIN_DIALOG, {press(LOGIN_TOURIST)});
  dialogs.add(TOURIST_DIALOG, {type(TOURIST_NAME, "Wanderer"), press(DIALOG_OK),
                               dialogs.wait_until([](ScriptedView& v) { return v.ended(); })});
  EXPECT_EQ(0, login(1));
  EXPECT_EQ(0, login_last_result());
  EXPECT_EQ(std::vector<std::string>{"\"Wanderer\""}, recorder.names);
  // The tourist's Citizen button leads back to a citizen dialog when none is open.
  dialogs.add(TOURIST_DIALOG, {press(TOURIST_CITIZEN)});
  dialogs.add(LOGIN_DIALOG, {press(DIALOG_CANCEL)});
  EXPECT_EQ(NET_CANCELLED, tourist_dialog(1));
  EXPECT_EQ(LOGIN_DIALOG, dialogs.opened().back()->resource());
}

TEST_F(LoginTest, OldPlainPasswordMovesToTheEncipheredKey) {
  dir = std::make_unique<ProgramDir>("[citizen]\nname=alice\npassword=old pw\n");
  login_init();
  EXPECT_STREQ("old pw", profile_encrypted_string("citizen", "pass"));
  EXPECT_STREQ("", profile_string("citizen", "password"));
  EXPECT_EQ(std::string::npos, dir->ini().find("old pw"));
}

TEST_F(LoginTest, LostConnectionEndsTheWaitWithItsCode) {
  login_connection_lost();
  EXPECT_EQ(1, login_done());
  EXPECT_EQ(NET_LOGIN_LOST, login_last_result());
}

TEST_F(LoginTest, WithoutAnyDialogViewTheDialogsCountAsCancelled) {
  dir = std::make_unique<ProgramDir>("");
  dialog_set_runner(nullptr);
  EXPECT_EQ(NET_CANCELLED, login(1));
  EXPECT_EQ(NET_CANCELLED, login_last_result());
  EXPECT_EQ(409, tourist_dialog(1));
}

}  // namespace
