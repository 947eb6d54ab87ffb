// The sign-up dialog: its checks, the enciphered message 46 as the fake universe reads it,
// the answer, the time waited, and the sign-up button.
#include <gtest/gtest.h>

#include "tests/servers/servers_test_util.h"

using namespace stest;

namespace {

using dialog_steps::type;
using dialog_steps::press;

// Every required field filled; the business name left empty.
ScriptedDialogs::Script filled(const std::string& name, const std::string& card = "4111 1111") {
  return {type(REGISTER_NAME, name),          type(REGISTER_PASSWORD, "pw"),   type(REGISTER_CONFIRM, "pw"),
          type(REGISTER_EMAIL, "n@x"),        type(REGISTER_CARD_NAME, "N. N."), type(REGISTER_STREET, "1 Road"),
          type(REGISTER_CITY, "Town"),        type(REGISTER_STATE, "ST"),       type(REGISTER_POSTAL, "12345"),
          type(REGISTER_CARD_NUMBER, card),   type(REGISTER_PHONE, "555"),
          [](ScriptedView& v) { v.list_select(REGISTER_MONTH, 4); }};
}

ScriptedDialogs::Script then(ScriptedDialogs::Script a, const ScriptedDialogs::Script& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Noon of 10 May 2026, local time: the expiry list and check follow the clock.
int64_t tenth_of_may_2026() {
  struct tm tm {};
  tm.tm_year = 126;
  tm.tm_mon = 4;
  tm.tm_mday = 10;
  tm.tm_hour = 12;
  tm.tm_isdst = -1;
  return static_cast<int64_t>(mktime(&tm));
}

class SignupTest : public UniverseFixture {
 protected:
  void SetUp() override {
    UniverseFixture::SetUp();
    register_hook.now = tenth_of_may_2026;
  }
  void TearDown() override {
    register_hook = register_default_hooks();
    UniverseFixture::TearDown();
  }
  FakeClock clock;
};

TEST_F(SignupTest, ChecksRefuseBadFormsBeforeAnythingIsSent) {
  ASSERT_NO_FATAL_FAILURE(start());
  auto status_is = [](std::string want) {
    return [want](ScriptedView& v) { EXPECT_EQ(want, v.control(REGISTER_STATUS).text); };
  };
  ScriptedDialogs::Script s = filled("carol", " 411");
  s.push_back(press(DIALOG_OK));
  s.push_back(status_is("m232"));  // a card number beginning with a blank
  s.push_back(type(REGISTER_CARD_NUMBER, "41"));
  s.push_back(press(DIALOG_OK));
  s.push_back(status_is("m232"));  // fewer than three digits
  s.push_back(type(REGISTER_CARD_NUMBER, "4111"));
  s.push_back([](ScriptedView& v) { v.list_select(REGISTER_MONTH, 3); });
  s.push_back(press(DIALOG_OK));
  s.push_back(status_is("m233"));  // April of this year has passed
  s.push_back(type(REGISTER_CITY, ""));
  s.push_back(press(DIALOG_OK));
  s.push_back(status_is("m227"));
  s.push_back(type(REGISTER_CONFIRM, "PW"));
  s.push_back(press(DIALOG_OK));
  s.push_back(status_is("m153"));
  s.push_back(press(DIALOG_CANCEL));
  dialogs.add(REGISTER_DIALOG, s);
  EXPECT_EQ(1, register_dialog());
  ScriptedView& v = *dialogs.opened().at(0);
  EXPECT_EQ("m406 <m68>", v.title());
  EXPECT_EQ("m67 <m68>", v.history(REGISTER_STATUS).at(0));
  EXPECT_EQ(12u, v.control(REGISTER_MONTH).items.size());
  EXPECT_EQ((std::vector<std::string>{"2026", "2027", "2028", "2029", "2030"}), v.control(REGISTER_YEAR).items);
  EXPECT_TRUE(v.control(REGISTER_CARD_TYPE_1).checked);
  for (auto& l : fake->collect(200, [] { universe_update(); })) EXPECT_NE(0u, l.rfind("frame 1 2e", 0)) << l;
}

TEST_F(SignupTest, RegistrationGoesOutEncipheredAndTheNewCitizenLogsIn) {
  ASSERT_NO_FATAL_FAILURE(start());
  dialogs.add(REGISTER_DIALOG,
              then(filled("carol"), {press(DIALOG_OK),
                                     dialogs.wait_until([](ScriptedView& v) {
                                       return v.control(REGISTER_STATUS).text.rfind("m228", 0) == 0;
                                     }),
                                     press(DIALOG_OK)}));
  EXPECT_EQ(0, register_dialog());
  std::string got = fake->wait_for("registration 1 ", [] { universe_update(); });
  EXPECT_EQ("registration 1 {\"tags\": [0, 1, 2, 13, 4, 5, 14, 6, 7, 8, 9, 10, 11, 16], \"values\": {\"0\": "
            "\"carol\", \"1\": \"pw\", \"2\": \"n@x\", \"13\": \"\", \"4\": \"N. N.\", \"5\": \"4111 1111\", "
            "\"14\": \"\", \"6\": \"1 Road\", \"7\": \"Town\", \"8\": \"ST\", \"9\": \"12345\", \"10\": \"5\", "
            "\"11\": \"2026\", \"16\": \"555\"}}",
            got);
  ScriptedView& v = *dialogs.opened().at(0);
  EXPECT_EQ("m228 <m163> ", v.control(REGISTER_STATUS).text);
  EXPECT_STREQ("carol", profile_string("citizen", "name"));
  EXPECT_STREQ("pw", profile_encrypted_string("citizen", "pass"));
  EXPECT_EQ("2d" + hex_build() + hex_string("carol") + hex_string("pw") + "00000000" "00" "00", next_frame_of(45));
  // The second OK only closed the dialog: one registration in all.
  int sent = 0;
  fake->collect(200, [] { universe_update(); });
  for (auto& l : fake->lines) sent += l.rfind("frame 1 2e", 0) == 0;
  EXPECT_EQ(1, sent);
  EXPECT_EQ(0, register_failures());
}

TEST_F(SignupTest, RefusalCountsAFailureAndLetsTheUserTryAgain) {
  ASSERT_NO_FATAL_FAILURE(start());
  dialogs.add(REGISTER_DIALOG,
              then(filled("bob"), {press(DIALOG_OK), dialogs.wait_until([](ScriptedView& v) {
                                     return v.control(DIALOG_CANCEL).enabled;
                                   }),
                                   press(DIALOG_CANCEL)}));
  EXPECT_EQ(1, register_dialog());
  ScriptedView& v = *dialogs.opened().at(0);
  EXPECT_EQ("m90", v.control(REGISTER_STATUS).text);  // 100: the name is taken
  EXPECT_TRUE(v.control(DIALOG_OK).enabled);
  EXPECT_EQ(1, register_failures());
  EXPECT_STREQ("", profile_string("citizen", "name"));
}

TEST_F(SignupTest, WaitingShowsTheTimeThenLetsTheUserCancelAndALateAnswerIsTaken) {
  ASSERT_NO_FATAL_FAILURE(start());
  // Between script steps no frame runs: the answer waits in the socket.
  dialogs.add(REGISTER_DIALOG,
              then(filled("dave"),
                   {press(DIALOG_OK),
                    [](ScriptedView& v) {
                      EXPECT_FALSE(v.control(DIALOG_OK).enabled);
                      EXPECT_FALSE(v.control(DIALOG_CANCEL).enabled);
                      fake_now += 61000;
                      register_countdown();
                      EXPECT_EQ("m226 1:01", v.control(REGISTER_STATUS).text);
                      fake_now += 59000;
                      register_countdown();
                      EXPECT_EQ("m226 2:00", v.control(REGISTER_STATUS).text);
                      fake_now += 1000;
                      register_countdown();
                      EXPECT_EQ("m187", v.control(REGISTER_STATUS).text);
                      EXPECT_TRUE(v.control(DIALOG_CANCEL).enabled);
                      EXPECT_FALSE(v.control(DIALOG_OK).enabled);
                      fake_now += 5000;
                      register_countdown();
                      EXPECT_EQ("m187", v.control(REGISTER_STATUS).text);  // no longer counting
                    },
                    dialogs.wait_until([](ScriptedView& v) { return v.control(DIALOG_OK).enabled; }),
                    press(DIALOG_OK)}));
  EXPECT_EQ(0, register_dialog());
  EXPECT_STREQ("dave", profile_string("citizen", "name"));
}

TEST_F(SignupTest, TenFailuresDisableOkOnTheNextOpening) {
  ASSERT_NO_FATAL_FAILURE(start());
  dialogs.add(REGISTER_DIALOG, {[](ScriptedView&) {
                                  for (int i = 0; i < 10; ++i) register_result(100, nullptr);
                                },
                                press(DIALOG_CANCEL)});
  register_dialog();
  EXPECT_EQ(10, register_failures());
  register_result(0, nullptr);  // closed: not taken
  EXPECT_EQ(10, register_failures());
  dialogs.add(REGISTER_DIALOG, then(filled("erin"), {press(DIALOG_OK), press(DIALOG_CANCEL)}));
  register_dialog();
  ScriptedView& v = *dialogs.opened().at(1);
  EXPECT_FALSE(v.control(DIALOG_OK).enabled);
  EXPECT_EQ("m234", v.control(REGISTER_STATUS).text);
}

TEST_F(SignupTest, OfferedSignUpReplacesTheImmigrationDialog) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"citizens":[{"name":"alice","password":"secret","number":101}],"signup":1})"));
  ASSERT_NO_FATAL_FAILURE(log_in("alice", "secret"));
  ASSERT_TRUE(universe_signup_offered());
  dialogs.add(REGISTER_DIALOG, {press(DIALOG_CANCEL)});
  EXPECT_EQ(1, immigrate(IMMIGRATE_MODE_NEW));
  ASSERT_EQ(1u, dialogs.opened().size());
  EXPECT_EQ(REGISTER_DIALOG, dialogs.opened()[0]->resource());
}

TEST(SignupTexts, CardProcessorAnswersAndCodes) {
  ProgramDir dir("");
  write_messages(dir.dir);
  EXPECT_STREQ("m232", register_result_text(55, "INVALID ACCOUNT NUMBER 12", "x"));
  EXPECT_STREQ("m232", register_result_text(55, "INVALID CARD #", "x"));
  EXPECT_STREQ("m233", register_result_text(55, "CARD EXPIRED", "x"));
  EXPECT_STREQ("m235", register_result_text(55, "DECLINED", "x"));
  EXPECT_STREQ("m236", register_result_text(55, "CALL CENTER NOW", "x"));
  EXPECT_STREQ("m230 declined", register_result_text(55, "declined", "x"));  // case counts
  EXPECT_STREQ("m230 ", register_result_text(55, nullptr, "x"));
  EXPECT_STREQ("m237", register_result_text(47, nullptr, "x"));
  EXPECT_STREQ("m231", register_result_text(48, nullptr, "x"));
  EXPECT_STREQ("m192 <m163>", register_result_text(39, nullptr, "x"));
  EXPECT_STREQ("m225 999", register_result_text(999, nullptr, "x"));
}

struct FakeButton : RegisterButtonView {
  std::string caption;
  int x = -1, y = -1, w = 0, h = 0;
  void set_caption(const char* text) override { caption = text; }
  void place(int px, int py, int pw, int ph) override { x = px, y = py, w = pw, h = ph; }
};
FakeButton* made = nullptr;
int destroyed = 0;

TEST(SignupButton, MadeOnceBelowTheToolbarAndDestroyedOnRequest) {
  ProgramDir dir("");
  write_messages(dir.dir);
  register_reset();
  register_hook.button_create = []() -> RegisterButtonView* { return made = new FakeButton; };
  register_hook.button_destroy = [](RegisterButtonView* b) {
    ++destroyed;
    delete b;
  };
  register_hook.toolbar_height = [] { return 30; };
  EXPECT_EQ(0, register_button_width());
  register_button_create();
  FakeButton* first = made;
  register_button_create();
  EXPECT_EQ(first, made);
  EXPECT_EQ("m12", made->caption);  // no sign-up offered
  EXPECT_EQ(8, made->x);
  EXPECT_EQ(31, made->y);
  EXPECT_EQ(90, made->w);
  EXPECT_EQ(20, made->h);
  EXPECT_EQ(90, register_button_width());
  register_button_destroy();
  register_button_destroy();
  EXPECT_EQ(1, destroyed);
  EXPECT_EQ(0, register_button_width());
  register_hook = register_default_hooks();
}

}  // namespace
