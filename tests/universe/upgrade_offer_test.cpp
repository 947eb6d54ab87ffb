// The offer of a newer version: the decision, the dialog, the command line that starts the
// upgrade program, and the start-up replacement of the upgrade program and patch library.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "client/core/dialog.h"
#include "client/core/files.h"
#include "client/net/netcodes.h"
#include "client/servers/upgrade.h"
#include "platform/host_instance.h"
#include "platform/spawn.h"
#include "tests/support/test_util.h"
#include "tests/universe/universe_test_util.h"

namespace {

namespace fs = std::filesystem;
using utest::FakeUniverse;
using utest::ProgramDir;

std::vector<std::string> started;
int start_result = 0;
int sleeps = 0;

class UpgradeOfferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    upgrade_reset();
    started.clear();
    start_result = 0;
    sleeps = 0;
    upgrade_sys.start_program = [](const char* line) {
      started.push_back(line);
      return start_result;
    };
    upgrade_sys.sleep_ms = [](int) { ++sleeps; };
    upgrade_sys.object_host = "objects.test";
    upgrade_sys.program_folder = "/opt/tessel/bin";
    version_init();
  }
  void TearDown() override {
    universe_term();
    upgrade_reset();
  }
  // The universe announces these builds (and the beta flag) after a login.
  void announce(const std::string& minimum, const std::string& latest, const std::string& beta, int beta_tester) {
    fake = std::make_unique<FakeUniverse>(
        R"({"citizens":[{"name":"alice","password":"pw","number":101}],"beta":)" + std::to_string(beta_tester) +
        R"(,"attributes":{"0":")" + minimum + R"(","1":")" + latest + R"(","2":")" + beta + R"("}})");
    ASSERT_NE(0, fake->port()) << "the fake universe never said it listens";
    dir = std::make_unique<ProgramDir>(utest::ini_for(fake->port()));
    ASSERT_EQ(0, universe_init());
    ASSERT_TRUE(utest::poll_until([] {
      universe_update();
      return universe_connected();
    }));
    ASSERT_EQ(0, universe_login("alice", "pw"));
    ASSERT_TRUE(utest::poll_until([&] {
      universe_update();
      return universe_logged_in() && universe_latest_browser() == std::stoi(latest);
    }));
  }
  std::unique_ptr<FakeUniverse> fake;
  std::unique_ptr<ProgramDir> dir;
};

TEST_F(UpgradeOfferTest, DecisionFollowsMinimumTargetAndSkip) {
  EXPECT_EQ(0, upgrade_decide(412, 100, 412, false));  // equal to the latest: nothing
  EXPECT_EQ(1, upgrade_decide(412, 100, 413, false));
  EXPECT_EQ(0, upgrade_decide(412, 100, 413, true));   // skipped in this run
  EXPECT_EQ(2, upgrade_decide(412, 413, 500, true));   // below the minimum: again, mandatory
  EXPECT_EQ(0, upgrade_decide(412, 0, 0, false));      // a universe that announces nothing
}

TEST_F(UpgradeOfferTest, OptionalOfferSkippedStaysQuietUntilTheMinimumPasses) {
  ASSERT_EQ(412, version_build());
  ASSERT_NO_FATAL_FAILURE(announce("100", "413", "0", 0));
  upgrade_check();
  ASSERT_EQ(1, upgrade_offered());
  ScriptedDialogs dialogs;
  dialogs.add(UPGRADE_DIALOG, {[](ScriptedView& v) {
                EXPECT_EQ("m445", v.title());
                EXPECT_EQ("m49 m68", v.control(UPGRADE_TEXT).text);
                EXPECT_TRUE(v.control(UPGRADE_SKIP).shown);
                v.press(UPGRADE_SKIP);
              }});
  EXPECT_EQ(0, upgrade_offer(0));
  EXPECT_EQ(0, upgrade_offered());
  upgrade_check();  // the same builds again: skipped
  EXPECT_EQ(0, upgrade_offered());
  EXPECT_TRUE(started.empty());
}

TEST_F(UpgradeOfferTest, MandatoryOfferHidesSkipAndCancelLetsTheLoginGoOn) {
  ASSERT_NO_FATAL_FAILURE(announce("500", "500", "0", 0));
  upgrade_check();
  ASSERT_EQ(1, upgrade_offered());
  ScriptedDialogs dialogs;
  dialogs.add(UPGRADE_DIALOG_RUNNING, {[](ScriptedView& v) {
                EXPECT_EQ("m48 m68", v.control(UPGRADE_TEXT).text);
                EXPECT_FALSE(v.control(UPGRADE_SKIP).shown);
                EXPECT_FALSE(v.press(UPGRADE_SKIP));
                v.press(DIALOG_CANCEL);
              }});
  EXPECT_EQ(NET_CANCELLED, upgrade_offer(1));
  EXPECT_EQ(0, upgrade_offered());
}

TEST_F(UpgradeOfferTest, OkStartsTheUpgradeProgramForTheBetaKitOrShowsWhyNot) {
  ASSERT_NO_FATAL_FAILURE(announce("100", "412", "420", 1));  // a beta tester compares with the beta build
  upgrade_check();
  ASSERT_EQ(1, upgrade_offered());
  ScriptedDialogs dialogs;
  start_result = ENOENT;
  dialogs.add(UPGRADE_DIALOG, {[](ScriptedView& v) {
                v.press(UPGRADE_OK);
                EXPECT_FALSE(v.ended());  // the dialog stays with the reason
                EXPECT_EQ("m54 (" + std::string(std::strerror(ENOENT)) + ")", v.control(UPGRADE_TEXT).text);
                start_result = EACCES;
                v.press(UPGRADE_OK);
                EXPECT_EQ("m52 " + std::to_string(EACCES) + " (" + std::strerror(EACCES) + ")",
                          v.control(UPGRADE_TEXT).text);
                start_result = 0;
                v.press(UPGRADE_OK);
              }});
  EXPECT_EQ(NET_UPGRADE_QUIT, upgrade_offer(0));
  ASSERT_EQ(3u, started.size());
  EXPECT_EQ("\"/opt/tessel/bin/upgrade\" objects.test upgrade/beta/kit412.rtp tessel", started.back());
}

// A start of the upgrade program that fails, for whatever reason, is never taken for a started
// one: the dialog stays with the message for the case and the system's reason, and a Cancel
// lets the program go on. The starts are real.
TEST_F(UpgradeOfferTest, FailedStartShowsWhyAndTheProgramGoesOn) {
  ASSERT_NO_FATAL_FAILURE(announce("100", "413", "0", 0));
  upgrade_check();
  ASSERT_EQ(1, upgrade_offered());
  static testutil::TempDir bin;
  upgrade_sys.program_folder = bin.path().c_str();
  upgrade_sys.start_program = platform_spawn_detached;
  ScriptedDialogs dialogs;
  dialogs.add(UPGRADE_DIALOG, {[](ScriptedView& v) {
                auto expect_shown = [&](const std::string& message, int reason) {
                  v.press(UPGRADE_OK);
                  EXPECT_FALSE(v.ended());
                  EXPECT_EQ(message + " (" + std::strerror(reason) + ")", v.control(UPGRADE_TEXT).text);
                };
                // Missing.
                expect_shown("m54", ENOENT);
                // Damaged: neither a program nor a script.
                testutil::write_file(bin.file("upgrade"), std::string("\x7f" "ELF damaged", 12));
                chmod(bin.file("upgrade").c_str(), 0755);
                expect_shown("m52 " + std::to_string(ENOEXEC), ENOEXEC);
                // A link loop.
                fs::remove(bin.file("upgrade"));
                fs::create_symlink(bin.file("loop"), bin.file("upgrade"));
                fs::create_symlink(bin.file("upgrade"), bin.file("loop"));
                expect_shown("m52 " + std::to_string(ELOOP), ELOOP);
                v.press(DIALOG_CANCEL);
              }});
  EXPECT_EQ(NET_CANCELLED, upgrade_offer(0));
}

TEST_F(UpgradeOfferTest, StartUpPutsTheNewUpgradeProgramAndLibraryInPlace) {
  testutil::TempDir bin, lib;
  ProgramDir home("");
  upgrade_sys.program_folder = bin.path().c_str();
  upgrade_sys.library_folder = lib.path().c_str();
  testutil::write_file(bin.file("upgrade"), "old upgrade");
  testutil::write_file(home.dir + "/upgrade.new", "new upgrade");
  testutil::write_file(home.dir + "/patchw32.new", "new library");
  // The upgrade program's window is still up for a moment: the copy waits for it.
  int window = host_lock_named(home.dir.c_str(), "upgrade.lock");
  ASSERT_GE(window, 0);
  static int held = -1;
  held = window;
  upgrade_sys.sleep_ms = [](int) {
    if (++sleeps == 3) host_instance_unlock(held);
  };
  ASSERT_EQ(0, upgrade_init());
  EXPECT_EQ(3, sleeps);
  EXPECT_EQ("new upgrade", testutil::read_file(bin.file("upgrade")));
  EXPECT_EQ("new library", testutil::read_file(lib.file("libpatchw32.so")));
  EXPECT_FALSE(fs::exists(home.dir + "/upgrade.new"));
  EXPECT_FALSE(fs::exists(home.dir + "/patchw32.new"));
  EXPECT_EQ(fs::status(bin.file("upgrade")).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);

  // A copy that cannot be made is tried 30 times; the new file goes all the same.
  file_term();
  testutil::write_file(home.dir + "/upgrade.new", "newer");
  upgrade_sys.program_folder = "/nonexistent-folder";
  sleeps = 0;
  upgrade_sys.sleep_ms = [](int) { ++sleeps; };
  ASSERT_EQ(0, upgrade_init());
  EXPECT_EQ(29, sleeps);
  EXPECT_FALSE(fs::exists(home.dir + "/upgrade.new"));
}

}  // namespace
