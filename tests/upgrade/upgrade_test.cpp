// The upgrade program's steps against real downloads on loopback, with a recording window,
// a fake clock and a fake system around it (the patch library is the real one).
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "client/cache/http.h"
#include "client/core/files.h"
#include "client/core/log.h"
#include "client/core/profile.h"
#include "patch/kit.h"
#include "tests/transfer/transfer_util.h"
#include "tests/upgrade/kit_test_util.h"
#include "upgrade/upgrade.h"

namespace fs = std::filesystem;
using transfer_test::FakeClock;
using transfer_test::ServerProcess;
using namespace upgrade;

namespace {

struct RecordingView : UpgradeView {
  bool can_create = true, created = false, shown = false, timer = false, destroyed = false;
  int quits = 0, pumps = 0, redraws = 0;
  std::string lines[2];
  std::vector<int> bars;
  std::vector<std::string> boxes;
  std::vector<unsigned> box_types;
  bool create() override { return created = can_create; }
  void show() override { shown = true; }
  void set_status_line(int line, const char* text) override { lines[line - 1] = text; }
  void draw_bar(int width) override { bars.push_back(width); }
  void redraw_progress_area() override { ++redraws; }
  void message_box(const char* text, const char*, unsigned type) override {
    boxes.push_back(text);
    box_types.push_back(type);
  }
  void destroy() override {
    destroyed = true;
    upgrade_window_destroyed();
  }
  void start_timer() override { timer = true; }
  void kill_timer() override { timer = false; }
  void post_quit(int) override { ++quits; }
  void pump() override { ++pumps; }
  int run() override { return 0; }
};

struct System {
  static inline bool running = false;
  static inline int sleeps = 0;
  static inline std::vector<std::string> started;
  static UpgradeSystem make() {
    running = false;
    sleeps = 0;
    started.clear();
    UpgradeSystem s = upgrade_default_system();
    s.main_program_running = [](const char*) { return running; };
    s.sleep_ms = [](int) { ++sleeps; };
    s.start_program = [](const char* command) {
      started.push_back(command);
      return true;
    };
    return s;
  }
};

class UpgradeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    transfer_test::clear_proxy_environment();
    fs::current_path(work.path());
  }
  void TearDown() override {
    http_term();
    // The module keeps the view it was started with: it goes with this case.
    upgrade_reset_state();
    fs::current_path(old_cwd);
  }
  void write_ini(const std::string& extra = "") { transfer_test::write_file(home.file("tessel.ini"), "[general]\n" + extra); }
  // The kit's bytes signed with the key the program directory trusts.
  std::vector<uint8_t> signed_kit(const std::vector<kit_entry>& entries) {
    return kit_test::sign(kit_build(entries), key);
  }
  // No kit file is left in the program directory or the working directory.
  void expect_no_kit_left() {
    for (const std::string& dir : {home.path(), work.path()})
      for (auto& e : fs::directory_iterator(dir))
        EXPECT_EQ(e.path().filename().string().find("upgrade-kit"), std::string::npos) << e.path();
  }
  bool start(const std::string& line) { return upgrade_start(&view, System::make(), line, home.path()); }
  // Steps until the request is no longer running.
  void step_until_done() {
    ASSERT_TRUE(transfer_test::poll_until([&] {
      upgrade_step();
      return upgrade_state().request_state != HTTP_RUNNING;
    }));
  }
  RecordingView view;
  transfer_test::TempDir home;
  transfer_test::TempDir work;
  kit_test::KeyPair key = kit_test::trust_new_key(home.path());
  fs::path old_cwd = fs::current_path();
};

TEST_F(UpgradeTest, CommandLineAndSettingsAreCheckedBeforeAnythingIsFetched) {
  write_ini();
  // Only a host and a kit: the usage box, the window goes.
  EXPECT_FALSE(start("objects.example kit.rtp"));
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0], "Usage: upgrade <directory> <host> <kit> <execute>");
  EXPECT_TRUE(view.destroyed);

  // The third field keeps its blanks and options; the restart path puts the folder before it.
  view = RecordingView{};
  ASSERT_TRUE(start("127.0.0.1:1 kit.rtp ./tessel -q now"));
  EXPECT_EQ(upgrade_state().restart_path, home.path() + "/./tessel -q now");
  EXPECT_TRUE(view.shown);
  EXPECT_TRUE(view.timer);

  // No settings file: its own box.
  fs::remove(home.file("tessel.ini"));
  file_term();  // forget that it existed
  view = RecordingView{};
  EXPECT_FALSE(start("h k e"));
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0], "Unable to locate tessel.ini");

  // A window that cannot be made ends the program without a word.
  view = RecordingView{};
  view.can_create = false;
  EXPECT_EQ(upgrade_main(&view, System::make(), "h k e", home.path()), 0);
  EXPECT_TRUE(view.boxes.empty());
}

// The kit goes through the proxy the settings name, on the port written there; a port that is
// missing, -1 or not a number names no proxy (the last said in the log), never some other port.
TEST_F(UpgradeTest, ProxyNeedsBothAddressAndPort) {
  write_ini("[proxy]\naddress=proxy.example\n");
  ASSERT_TRUE(profile_init(home.path().c_str(), "/tessel.ini"));
  EXPECT_EQ(proxy_setting(), nullptr);
  write_ini("[proxy]\naddress=proxy.example\nport=8080\n");
  ASSERT_STREQ(proxy_setting(), "proxy.example:8080");
  write_ini("[proxy]\naddress=proxy.example\nport=-1\n");
  EXPECT_EQ(proxy_setting(), nullptr);
  write_ini("[proxy]\naddress=proxy.example\nport=70000\n");
  ASSERT_STREQ(proxy_setting(), "proxy.example:70000");
  write_ini("[proxy]\naddress=\nport=8080\n");
  EXPECT_EQ(proxy_setting(), nullptr);

  write_ini("[proxy]\naddress=proxy.example\nport=abc\n");
  log_reset();
  trace_switches[TRACE_GENERAL] = 1;  // a run that keeps a log
  EXPECT_EQ(proxy_setting(), nullptr);
  log_reset();
  const std::string log = testutil::read_file(work.file("tessel.log"));
  const std::string line = "upgrade: [proxy] port=\"abc\" is not a number: no proxy";
  EXPECT_NE(log.find(line), std::string::npos) << log;
  EXPECT_EQ(log.find(line), log.rfind(line)) << log;
}

TEST_F(UpgradeTest, FourMessageResultsStayValidAtOnce) {
  upgrade_reset_state();
  const char* first = msg(MSG_CANNOT_RECEIVE, 1);
  const char* second = msg(MSG_CANNOT_RECEIVE, 2);
  msg(MSG_CANNOT_RECEIVE, 3);
  msg(MSG_CANNOT_RECEIVE, 4);
  EXPECT_STREQ(first, "Unable to receive update (reason 1)");
  const char* fifth = msg(MSG_CANNOT_RECEIVE, 5);
  EXPECT_EQ(fifth, first);
  EXPECT_STREQ(first, "Unable to receive update (reason 5)");
  EXPECT_STREQ(second, "Unable to receive update (reason 2)");
  EXPECT_STREQ(msg(99), "");
}

TEST_F(UpgradeTest, KitIsDownloadedWaitedForInstalledAndTesselRestarted) {
  transfer_test::TempDir served;
  testutil::spit(served.file("tessel-99.rtp"), signed_kit({kit_entry{"tessel", KIT_FILE, 0755, {'n', 'e', 'w'}},
                                                          kit_entry{"help/index.txt", KIT_FILE, 0644, {'h'}}}));
  // Links planted where the kit was once stored: neither is followed.
  transfer_test::TempDir outside;
  transfer_test::write_file(outside.file("victim"), "mine");
  fs::create_symlink(outside.file("victim"), work.file("upgrade.rtp"));
  fs::create_symlink(outside.file("victim"), home.file("upgrade.rtp"));
  ServerProcess server(transfer_test::file_server_command(served.path()));
  ASSERT_GT(server.port(), 0);
  write_ini();
  transfer_test::write_file(home.file("tessel"), "old");
  transfer_test::write_file(home.file("upgrade-kit-Zz9aB1"), "stored by an upgrade cut short");

  ASSERT_TRUE(start(server.base() + " tessel-99.rtp tessel -x"));
  System::running = true;
  ASSERT_NO_FATAL_FAILURE(step_until_done());
  ASSERT_EQ(upgrade_state().request_state, HTTP_COMPLETE);
  // While tessel runs, the install waits.
  upgrade_step();
  EXPECT_EQ(view.lines[0], "Waiting for Veldara Browser to exit...");
  EXPECT_EQ(view.lines[1], "");
  EXPECT_EQ(testutil::read_file(home.file("tessel")), "old");
  EXPECT_EQ(view.quits, 0);

  System::running = false;
  upgrade_step();
  EXPECT_EQ(view.lines[0], "Installing upgrade");
  EXPECT_EQ(testutil::read_file(home.file("tessel")), "new");
  EXPECT_EQ(testutil::read_file(home.file("help/index.txt")), "h");
  EXPECT_EQ(System::started, (std::vector<std::string>{home.path() + "/tessel -x"}));
  EXPECT_EQ(testutil::read_file(outside.file("victim")), "mine");
  EXPECT_TRUE(fs::is_symlink(work.file("upgrade.rtp")));
  EXPECT_TRUE(fs::is_symlink(home.file("upgrade.rtp")));
  expect_no_kit_left();
  EXPECT_FALSE(view.timer);
  EXPECT_EQ(view.quits, 1);
  EXPECT_TRUE(view.boxes.empty());
  EXPECT_GT(view.pumps, 0);  // the patch callback kept the window alive
}

// A kit that is damaged, unsigned (a set-id tessel in it), or signed by a stranger, and a
// kit the publisher signed that a server on the way sends again for this build or an older
// one (last year's, perhaps in the form that named no build), changes no file's bytes or
// mode, restarts nothing, leaves no kit file behind, and the box says why.
TEST_F(UpgradeTest, KitWithoutTheTrustedSignatureOrForNoNewerBuildChangesNothing) {
  transfer_test::TempDir served;
  const std::vector<kit_entry> setuid = {kit_entry{"tessel", KIT_FILE, 04755, {'e', 'v', 'i', 'l'}}};
  testutil::write_file(served.file("bad.rtp"), "not a kit at all");
  testutil::spit(served.file("unsigned.rtp"), kit_build(setuid));
  testutil::spit(served.file("stranger.rtp"), kit_test::sign(kit_build(setuid), kit_test::new_key()));
  const std::vector<uint8_t> last_year = kit_build({kit_entry{"tessel", KIT_FILE, 0755, {'o', 'l', 'd', 'e', 'r'}},
                                                    kit_entry{"keep.txt", KIT_DELETE, 0, {}}});
  testutil::spit(served.file("older.rtp"), kit_test::sign(last_year, key, TESSEL_BUILD_NUMBER - 1));
  testutil::spit(served.file("same.rtp"), kit_test::sign(last_year, key, TESSEL_BUILD_NUMBER));
  testutil::spit(served.file("older-form.rtp"), kit_test::sign_older_form(last_year, key));
  ServerProcess server(transfer_test::file_server_command(served.path()));
  ASSERT_GT(server.port(), 0);
  write_ini();
  transfer_test::write_file(home.file("tessel"), "old");
  fs::permissions(home.file("tessel"), fs::perms(0755));
  transfer_test::write_file(home.file("keep.txt"), "kept");
  const std::string older = "for build " + std::to_string(TESSEL_BUILD_NUMBER - 1) + ", and this installation is build";
  const std::string same = "for build " + std::to_string(TESSEL_BUILD_NUMBER) + ", and this installation is build";
  const std::pair<const char*, std::string> cases[] = {
      {"bad.rtp", "not signed"},       {"unsigned.rtp", "not signed"}, {"stranger.rtp", "does not trust"},
      {"older.rtp", older},            {"same.rtp", same},             {"older-form.rtp", "names no build"}};
  for (const auto& [name, why] : cases) {
    view = RecordingView{};
    ASSERT_TRUE(start(server.base() + " " + name + " tessel"));
    auto before = kit_test::snapshot(home.path());
    ASSERT_NO_FATAL_FAILURE(step_until_done());  // the step that sees the kit complete installs at once
    EXPECT_EQ(kit_test::snapshot(home.path()), before) << name;
    EXPECT_TRUE(System::started.empty()) << name;
    expect_no_kit_left();
    ASSERT_EQ(view.boxes.size(), 1u) << name;  // the library's own error, through the callback
    EXPECT_NE(view.boxes[0].find(why), std::string::npos) << view.boxes[0];
    EXPECT_EQ(view.box_types[0], BOX_TASK_MODAL | BOX_ICON_ERROR);
    EXPECT_EQ(view.quits, 1);
  }
}

TEST_F(UpgradeTest, DownloadFailuresShowTheirBoxes) {
  ServerProcess odd(transfer_test::odd_server_command());
  ASSERT_GT(odd.port(), 0);
  write_ini();
  ASSERT_TRUE(start(odd.base() + " status/404 tessel"));
  ASSERT_NO_FATAL_FAILURE(step_until_done());
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_NE(view.boxes[0].find("there is no upgrade available"), std::string::npos);

  view = RecordingView{};
  ASSERT_TRUE(start(odd.base() + " status/500 tessel"));
  ASSERT_NO_FATAL_FAILURE(step_until_done());
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0], "Unable to receive update (reason 1500)");
  EXPECT_EQ(view.quits, 1);
}

// Until the first bytes of the kit arrive the window's status lines stay blank: while it
// connects and while the server has answered with nothing but its headers.
TEST_F(UpgradeTest, StatusLinesStayBlankUntilTheKitArrives) {
  ServerProcess odd(transfer_test::odd_server_command());
  ASSERT_GT(odd.port(), 0);
  write_ini();
  ASSERT_TRUE(start(odd.base() + " stall-headers tessel"));
  for (int i = 0; i < 3; ++i) upgrade_step();
  EXPECT_EQ(upgrade_state().request_state, HTTP_RUNNING);
  EXPECT_EQ(view.lines[0], "");
  EXPECT_EQ(view.lines[1], "");
  http_term();

  view = RecordingView{};
  ASSERT_TRUE(start(odd.base() + " stall-body/100000/0 tessel"));
  ASSERT_TRUE(transfer_test::poll_until([&] {
    int received = 0, total = 0;
    http_progress(upgrade_state().request, &received, &total);
    return total == 100000;
  }));
  for (int i = 0; i < 3; ++i) upgrade_step();
  EXPECT_EQ(upgrade_state().request_state, HTTP_RUNNING);
  EXPECT_EQ(view.lines[0], "");
  EXPECT_EQ(view.lines[1], "");
  EXPECT_TRUE(view.bars.empty());
}

TEST_F(UpgradeTest, ExecutableThatStaysLockedGivesUpAfterTwentyTwoTries) {
  ServerProcess odd(transfer_test::odd_server_command());
  write_ini();
  // No executable at all: it can never be opened for writing.
  ASSERT_TRUE(start(odd.base() + " length/10 tessel"));
  ASSERT_NO_FATAL_FAILURE(step_until_done());
  for (int i = 0; i < 30 && !view.destroyed; ++i) upgrade_step();
  EXPECT_EQ(upgrade_state().open_failures, 22);
  EXPECT_EQ(System::sleeps, 22);
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0], "Unable to access tessel");
  EXPECT_TRUE(view.destroyed);
  EXPECT_TRUE(System::started.empty());
}

TEST_F(UpgradeTest, ProgressRateAndTimeLeft) {
  FakeClock clock;
  ServerProcess odd(transfer_test::odd_server_command());
  write_ini();
  // 100000 bytes announced, 20480 sent, then nothing.
  ASSERT_TRUE(start(odd.base() + " stall-body/100000/20480 tessel"));
  ASSERT_TRUE(transfer_test::poll_until([&] {
    int received = 0, total = 0;
    http_progress(upgrade_state().request, &received, &total);
    return received == 20480;
  }));
  upgrade_step();
  EXPECT_EQ(view.lines[0], "Receiving upgrade (97K)");
  ASSERT_EQ(view.bars.size(), 1u);
  EXPECT_EQ(view.bars[0], 0);

  clock.advance(1500);
  upgrade_step();  // the ring has no bytes yet
  EXPECT_EQ(view.lines[1], "Waiting for data...");
  EXPECT_EQ(view.bars.back(), int(20480.0f / 100000.0f * 265));

  clock.advance(1500);
  upgrade_step();  // 20480 bytes over 3000 ms: 6826 B/s, 79520 bytes left -> 11 s
  EXPECT_EQ(view.lines[1], "Time remaining: 0:11  (6.7 K/sec)");
}

TEST_F(UpgradeTest, PatchCallbackShowsFilesProgressAndStopsWhenTheWindowIsGone) {
  write_ini();
  ASSERT_TRUE(start("127.0.0.1:1 k tessel"));
  char name[] = "tessel";
  EXPECT_NE(patch_callback(PATCH_FILE, name), nullptr);
  EXPECT_EQ(view.lines[1], "Updating tessel");
  EXPECT_EQ(view.redraws, 1);
  patch_callback(PATCH_FILE, name);  // the same file again: no reset
  EXPECT_EQ(view.redraws, 1);

  uint16_t full = 32700, over = 65535;
  patch_callback(PATCH_PROGRESS, &full);
  int full_width = view.bars.back();
  EXPECT_GE(full_width, 264);
  EXPECT_LE(full_width, 265);
  patch_callback(PATCH_PROGRESS, &over);
  EXPECT_GT(view.bars.back(), 500);  // drawn past the frame, as the library asked

  patch_callback(PATCH_SEARCHING, nullptr);
  EXPECT_EQ(view.lines[1], "Searching...");

  errno = 13;
  char what[] = "Cannot write tessel";
  patch_callback(PATCH_FILE_ERROR, what);
  ASSERT_FALSE(view.boxes.empty());
  EXPECT_EQ(view.boxes.back(), "Cannot write tessel (reason 13)");

  view.destroy();
  EXPECT_EQ(patch_callback(PATCH_PROGRESS, &full), nullptr);
}

TEST_F(UpgradeTest, StepsDoNotNestWhileOneRuns) {
  write_ini();
  ASSERT_TRUE(start("127.0.0.1:1 k tessel"));
  upgrade_state().busy = true;
  int bars = int(view.bars.size());
  upgrade_step();
  EXPECT_EQ(int(view.bars.size()), bars);
  EXPECT_EQ(view.quits, 0);
}

}  // namespace
