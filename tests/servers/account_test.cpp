// The citizenship dialog (immigration and own attributes), privileges and the prompt, end to
// end against the fake universe over loopback with scripted dialogs. Messages compare by
// number ("m<number>").
#include <gtest/gtest.h>

#include "client/core/dates.h"
#include "client/servers/prompt.h"
#include "client/servers/teleport.h"
#include "tests/servers/servers_test_util.h"

using namespace stest;

namespace {

using dialog_steps::type;
using dialog_steps::press;
using dialog_steps::check;

std::vector<std::string> console_lines;

class AccountTest : public UniverseFixture {
 protected:
  void SetUp() override {
    UniverseFixture::SetUp();
    console_lines.clear();
    privilege_hook = privilege_hooks{};
    privilege_hook.console_print = [](int kind, const char* line) {
      console_lines.push_back(std::to_string(kind) + " " + line);
    };
  }
  void TearDown() override {
    privilege_hook = privilege_default_hooks();
    UniverseFixture::TearDown();
  }
  ScriptedDialogs::Step wait_status_not(int id, std::string text) {
    return dialogs.wait_until([id, text](ScriptedView& v) { return v.control(id).text != text; });
  }
};

TEST_F(AccountTest, ImmigrationStoresTheNewIdentityAndLogsInWithIt) {
  ASSERT_NO_FATAL_FAILURE(start());
  dialogs.add(IMMIGRATE_DIALOG, {type(IMMIGRATE_NAME, "carol"), type(IMMIGRATE_PASSWORD, "pw1"),
                                 type(IMMIGRATE_CONFIRM, "pw1"), type(IMMIGRATE_EMAIL, "c@x"), press(DIALOG_OK),
                                 dialogs.wait_until([](ScriptedView& v) { return v.ended(); })});
  EXPECT_EQ(0, immigrate(IMMIGRATE_MODE_NEW));
  ScriptedView& v = *dialogs.opened().at(0);
  EXPECT_EQ("m96", v.title());
  EXPECT_EQ("m71", v.control(IMMIGRATE_INSTRUCTIONS).text);
  EXPECT_EQ("m66", v.history(IMMIGRATE_STATUS).at(0));
  EXPECT_EQ("19" + hex_string("carol") + hex_string("pw1") + "02" + hex_string("c@x"), next_frame_of(25));
  EXPECT_STREQ("carol", profile_string("citizen", "name"));
  EXPECT_STREQ("pw1", profile_encrypted_string("citizen", "pass"));
  // The automatic login with the new identity follows and succeeds.
  EXPECT_EQ("2d" + hex_build() + hex_string("carol") + hex_string("pw1") + "00000000" "00" "00", next_frame_of(45));
  ASSERT_TRUE(poll_until([] {
    universe_update();
    return login_done() != 0;
  }));
  EXPECT_EQ(0, login_last_result());
  EXPECT_STREQ("carol", citizen_name());
}

TEST_F(AccountTest, RefusedImmigrationStaysOpenAndStoresNothing) {
  ASSERT_NO_FATAL_FAILURE(start("", "[citizen]\nname=keep\n"));
  dialogs.add(IMMIGRATE_DIALOG,
              {type(IMMIGRATE_NAME, "bob"), type(IMMIGRATE_PASSWORD, "x"), type(IMMIGRATE_CONFIRM, "x"),
               press(DIALOG_OK), wait_status_not(IMMIGRATE_STATUS, "m66"), press(DIALOG_CANCEL)});
  // The fake is started with the default citizens (bob exists): "" picks them.
  EXPECT_EQ(1, immigrate(IMMIGRATE_MODE_NEW));
  EXPECT_EQ("m90", dialogs.opened().at(0)->control(IMMIGRATE_STATUS).text);  // 100: name taken
  EXPECT_STREQ("keep", profile_string("citizen", "name"));
}

TEST_F(AccountTest, PasswordsDifferingOnlyInCaseAreRefusedBeforeSending) {
  ASSERT_NO_FATAL_FAILURE(start());
  dialogs.add(IMMIGRATE_DIALOG, {type(IMMIGRATE_NAME, "carol"), type(IMMIGRATE_PASSWORD, "Secret"),
                                 type(IMMIGRATE_CONFIRM, "secret"), press(DIALOG_OK), press(DIALOG_CANCEL)});
  EXPECT_EQ(1, immigrate(IMMIGRATE_MODE_NEW));
  EXPECT_EQ("m153", dialogs.opened().at(0)->control(IMMIGRATE_STATUS).text);
  for (auto& l : fake->collect(200, [] { universe_update(); })) EXPECT_NE(0u, l.rfind("frame 1 19", 0)) << l;
}

TEST_F(AccountTest, StrayImmigrationAnswerDoesNotTouchTheStoredIdentity) {
  ASSERT_NO_FATAL_FAILURE(start("", "[citizen]\nname=keep\n"));
  // An answer arrives while the dialog is open but before anything was sent from it.
  dialogs.add(IMMIGRATE_DIALOG, {[this](ScriptedView&) { inject(reply(0, 1, "")); },
                                 [this](ScriptedView&) { pump_for(150); }, press(DIALOG_CANCEL)});
  EXPECT_EQ(1, immigrate(IMMIGRATE_MODE_NEW));
  EXPECT_STREQ("keep", profile_string("citizen", "name"));
  EXPECT_STREQ("", profile_encrypted_string("citizen", "pass"));
}

TEST_F(AccountTest, AttributesAreShownAndChangedAndTheStoredPasswordFollows) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(log_in("alice", "secret"));
  auto ok_enabled = [](ScriptedView& v) { return v.control(DIALOG_OK).enabled; };
  dialogs.add(IMMIGRATE_ATTRIBUTES_DIALOG,
              {dialogs.wait_until(ok_enabled),
               // The privilege password may not be the password itself.
               type(IMMIGRATE_PRIVILEGE_PASSWORD, "secret"), press(DIALOG_OK),
               type(IMMIGRATE_PASSWORD, "newpw"), type(IMMIGRATE_CONFIRM, "newpw"),
               type(IMMIGRATE_PRIVILEGE_PASSWORD, ""), press(DIALOG_OK),
               dialogs.wait_until([](ScriptedView& v) { return v.ended(); })});
  EXPECT_EQ(0, immigrate(IMMIGRATE_MODE_ATTRIBUTES));
  ScriptedView& v = *dialogs.opened().at(0);
  EXPECT_EQ("m268", v.title());
  EXPECT_EQ("m278", v.history(IMMIGRATE_STATUS).at(0));
  EXPECT_EQ("a@x", v.control(IMMIGRATE_EMAIL).text);
  EXPECT_EQ(std::string(date_local(946684800)), v.control(IMMIGRATE_IMMIGRATED).text);
  EXPECT_EQ("m280", v.control(IMMIGRATE_RENEW).text);  // renewal date 0
  auto status = v.history(IMMIGRATE_STATUS);
  EXPECT_NE(status.end(), std::find(status.begin(), status.end(), "m17"));
  // The change went out with the own identity first and an empty privilege password.
  EXPECT_EQ("1b" + hex_string("alice") + hex_string("secret"), next_frame_of(27));
  EXPECT_EQ("1a" + hex_string("alice") + hex_string("secret") + "00" + hex_string("alice") + "01" +
                hex_string("newpw") + "02" + hex_string("a@x") + "03" + hex_string(""),
            next_frame_of(26));
  EXPECT_STREQ("newpw", profile_encrypted_string("citizen", "pass"));
  EXPECT_STREQ("newpw", citizen_password());
  EXPECT_STREQ("alice", citizen_name());
}

TEST_F(AccountTest, AttributesWithAWrongPasswordKeepOkDisabled) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(log_in("alice", "secret"));
  citizen_set_password("wrong");
  dialogs.add(IMMIGRATE_ATTRIBUTES_DIALOG,
              {wait_status_not(IMMIGRATE_STATUS, "m278"), press(DIALOG_OK), press(DIALOG_CANCEL)});
  EXPECT_EQ(1, immigrate(IMMIGRATE_MODE_ATTRIBUTES));
  ScriptedView& v = *dialogs.opened().at(0);
  EXPECT_EQ("m8", v.control(IMMIGRATE_STATUS).text);
  EXPECT_FALSE(v.control(DIALOG_OK).enabled);
}

TEST_F(AccountTest, ResultTextsOfTheUniverseCodes) {
  ASSERT_NO_FATAL_FAILURE(start());
  EXPECT_STREQ("m192 <m163>", immigrate_result_text(39, 76, "x"));
  EXPECT_STREQ("m94", immigrate_result_text(101, 76, "x"));
  EXPECT_STREQ("m201", immigrate_result_text(128, 139, "x"));
  EXPECT_STREQ("m139 77", immigrate_result_text(77, 139, "x"));
  EXPECT_FALSE(login_too_many_failures());
  for (int i = 0; i < 10; ++i) EXPECT_STREQ("m75 carol", immigrate_result_text(107, 76, "carol"));
  EXPECT_TRUE(login_too_many_failures());
}

TEST_F(AccountTest, PrivilegeIsLookedUpGrantedAndKeptForTheNextRun) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(log_in("alice", "secret"));
  dialogs.add(PRIVILEGE_DIALOG,
              {check(PRIVILEGE_ENABLE, true), press(PRIVILEGE_ENABLE), type(PRIVILEGE_NAME, "bob"),
               type(PRIVILEGE_PASSWORD, "bobpriv"), press(DIALOG_OK),
               dialogs.wait_until([](ScriptedView& v) { return v.ended(); })});
  EXPECT_EQ(DIALOG_CANCEL, privilege_dialog());
  ScriptedView& v = *dialogs.opened().at(0);
  EXPECT_EQ("m396", v.title());
  EXPECT_FALSE(v.history(PRIVILEGE_STATUS).empty());
  EXPECT_EQ("m10 bob", v.history(PRIVILEGE_STATUS).at(0));
  EXPECT_EQ("24" + hex_string("bob"), next_frame_of(36));
  // The new login carries the privilege.
  EXPECT_EQ("2d" + hex_build() + hex_string("alice") + hex_string("secret") + hex_int32(102) +
                hex_string("bobpriv") + "00",
            next_frame_of(45));
  EXPECT_EQ(102, privilege_number());
  EXPECT_STREQ("bob", privilege_holder_name());
  // The user now acts (world login, ownership of what is built) under the privilege.
  EXPECT_EQ(101, citizen_number());
  EXPECT_EQ(102, citizen_effective_number());
  EXPECT_EQ(std::vector<std::string>{"2 m125: m188 bob"}, console_lines);
  EXPECT_EQ(1, profile_int("privilege", "privilege"));
  EXPECT_EQ(102, profile_int("privilege", "id"));
  EXPECT_STREQ("bob", profile_string("privilege", "name"));
  EXPECT_STREQ("bobpriv", profile_encrypted_string("privilege", "password"));

  // The next run asks for it again.
  privilege_reset_state();
  privilege_init();
  EXPECT_EQ(102, privilege_requested_number());
  EXPECT_STREQ("bobpriv", privilege_password());
}

TEST_F(AccountTest, WrongPrivilegePasswordLeavesTheUserLoggedInWithout) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(log_in("alice", "secret"));
  dialogs.add(PRIVILEGE_DIALOG,
              {check(PRIVILEGE_ENABLE, true), press(PRIVILEGE_ENABLE), type(PRIVILEGE_NAME, "bob"),
               type(PRIVILEGE_PASSWORD, "nope"), press(DIALOG_OK),
               wait_status_not(PRIVILEGE_STATUS, "m10 bob"), press(DIALOG_CANCEL)});
  EXPECT_EQ(DIALOG_CANCEL, privilege_dialog());
  EXPECT_EQ("m202 bob", dialogs.opened().at(0)->control(PRIVILEGE_STATUS).text);
  EXPECT_EQ(0, login_last_result());
  EXPECT_EQ(0, privilege_number());
  EXPECT_EQ(0, profile_int("privilege", "privilege"));
  EXPECT_TRUE(console_lines.empty());
}

TEST_F(AccountTest, UnknownPrivilegeHolderIsRefusedWithItsName) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(log_in("alice", "secret"));
  dialogs.add(PRIVILEGE_DIALOG,
              {check(PRIVILEGE_ENABLE, true), press(PRIVILEGE_ENABLE), type(PRIVILEGE_NAME, "nobody"),
               press(DIALOG_OK), wait_status_not(PRIVILEGE_STATUS, "m10 nobody"), press(DIALOG_CANCEL)});
  privilege_dialog();
  EXPECT_EQ("m202 nobody", dialogs.opened().at(0)->control(PRIVILEGE_STATUS).text);
  EXPECT_EQ(0, privilege_requested_number());
}

TEST_F(AccountTest, NumberAnswersForOtherNamesLeaveThePrivilegeAlone) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(log_in("alice", "secret"));
  // Nothing looked up: an answer for any name (even an empty one) is someone else's.
  inject(reply(0, 12, hex_string("") + hex_int32(5)));
  inject(reply(0, 12, hex_string("bob") + hex_int32(102)));
  pump_for(200);
  EXPECT_EQ(0, privilege_requested_number());
  // No new login went out after the first one.
  int logins = 0;
  for (auto& l : fake->lines) logins += l.rfind("frame 1 2d", 0) == 0;
  EXPECT_EQ(1, logins);
}

TEST_F(AccountTest, UncheckingAnActivePrivilegeDropsIt) {
  ASSERT_NO_FATAL_FAILURE(start("", "[privilege]\nprivilege=1\nid=102\nname=someone\n"));
  profile_set_encrypted_string("privilege", "password", "bobpriv");
  privilege_init();
  ASSERT_NO_FATAL_FAILURE(log_in("alice", "secret"));
  ASSERT_EQ(102, privilege_number());
  dialogs.add(PRIVILEGE_DIALOG,
              {dialogs.wait_until([](ScriptedView& v) { return v.control(PRIVILEGE_NAME).text == "bob"; }),
               check(PRIVILEGE_ENABLE, false), press(PRIVILEGE_ENABLE), press(DIALOG_OK)});
  privilege_dialog();
  ScriptedView& v = *dialogs.opened().at(0);
  EXPECT_FALSE(v.control(PRIVILEGE_NAME).enabled);
  EXPECT_TRUE(v.ended());
  EXPECT_EQ(0, privilege_requested_number());
  EXPECT_EQ(0, profile_int("privilege", "privilege"));
  // The relogin without the privilege clears it.
  const std::string plain = "2d" + hex_build() + hex_string("alice") + hex_string("secret") + "00000000" "00" "00";
  std::string seen;
  for (int i = 0; i < 3 && seen != plain; ++i) seen = next_frame_of(45);
  EXPECT_EQ(plain, seen);
  ASSERT_TRUE(poll_until([] {
    universe_update();
    return privilege_number() == 0;
  }));
}

TEST(PrivilegeSettings, InitReadsOnlyACompleteActivePrivilege) {
  ProgramDir dir("[privilege]\nprivilege=1\n");
  privilege_reset_state();
  privilege_init();
  EXPECT_EQ(0, privilege_requested_number());  // active without a number
  EXPECT_FALSE(privilege_active());
  EXPECT_STREQ("", privilege_password());
  profile_set_int("privilege", "id", 77);
  profile_set_int("privilege", "privilege", 0);
  privilege_init();
  EXPECT_EQ(0, privilege_requested_number());  // recorded as not active
  profile_set_int("privilege", "privilege", 1);
  privilege_init();
  EXPECT_EQ(77, privilege_requested_number());
  EXPECT_EQ(77, privilege_number());
  privilege_reset_state();
  login_hook = login_default_hooks();
  universe_receiver = universe_default_receivers();
}

TEST(Prompt, ReturnsTheTypedTextCutTo249OrNullWhenCancelled) {
  ScriptedDialogs dialogs;
  std::string long_text(300, 'x');
  dialogs.add(PROMPT_DIALOG, {[&](ScriptedView& v) {
                                EXPECT_EQ("Title", v.title());
                                EXPECT_EQ("Label", v.control(PROMPT_LABEL).text);
                                EXPECT_EQ("def", v.control(PROMPT_EDIT).text);
                                v.type(PROMPT_EDIT, long_text);
                              },
                              press(DIALOG_OK)});
  const char* r = prompt_text("Title", "Label", "def");
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(std::string(249, 'x'), r);
  EXPECT_EQ(250u, dialogs.opened().at(0)->control(PROMPT_EDIT).text.size());  // the edit's limit
  dialogs.add(PROMPT_DIALOG_SMALL, {type(PROMPT_EDIT, "typed"), press(DIALOG_CANCEL)});
  EXPECT_EQ(nullptr, prompt_text_small(nullptr, nullptr, nullptr));
  EXPECT_EQ(PROMPT_DIALOG_SMALL, dialogs.opened().at(1)->resource());
  // The login's and the teleports' prompts are these dialogs once installed.
  prompt_install();
  dialogs.add(PROMPT_DIALOG, {type(PROMPT_EDIT, "hint"), press(DIALOG_OK)});
  ASSERT_NE(nullptr, login_hook.prompt_text);
  EXPECT_STREQ("hint", login_hook.prompt_text("t", "l", ""));
  EXPECT_EQ(&prompt_text_small, teleport_hook.prompt_text_small);
  login_hook = login_default_hooks();
  teleport_hook = teleport_default_hooks();
}

}  // namespace
