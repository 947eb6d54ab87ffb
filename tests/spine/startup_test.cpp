// Start-up against real program directories, the main window's geometry and the shutdown.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "client/cache/image.h"
#include "client/net/resolve.h"
#include "engine/vxl21.h"
#include "platform/host_instance.h"
#include "spine_fixture.h"
#include "tests/support/test_util.h"

using Startup = Spine;

// A start that cannot go on names the file it lacks and the system's reason under its text.
TEST_F(Startup, MissingIniShowsTheLiteralTextTheFileAndNoWindow) {
  mkdir(dir_.file("Messages").c_str(), 0755);
  write_file(dir_.file("Messages/default.tzm"), kTestMessages);
  EXPECT_FALSE(start());
  ASSERT_EQ(host_.boxes().size(), 1u);
  EXPECT_EQ(host_.boxes()[0].text,
            "The initialization file couldn't be located. Ensure the working directory is set "
            "to where this program resides.\n\n" +
                dir_.file("tessel.ini") + ": No such file or directory");
  EXPECT_EQ(host_.boxes()[0].caption, "Error");
  EXPECT_EQ(host_.windows_created(), 0);
  EXPECT_EQ(host_.about_created(), 0);
  EXPECT_EQ(tessel_frame_state(), FRAME_SHUT_DOWN);
}

TEST_F(Startup, MissingMessagesShowTheLiteralTextTheFileAndNoWindow) {
  write_file(dir_.file("tessel.ini"), "[general]\n");
  EXPECT_FALSE(start());
  ASSERT_EQ(host_.boxes().size(), 1u);
  EXPECT_EQ(host_.boxes()[0].text, "Unable to load default messages.  Please re-install Veldara.\n\n" +
                                       dir_.file("Messages/default.tzm") + ": No such file or directory");
  EXPECT_EQ(host_.boxes()[0].caption, "Error");
  EXPECT_EQ(host_.windows_created(), 0);
}

// A message file without a single numbered text would start a program without a word on its
// menus, tabs or boxes: it is no message file.
TEST_F(Startup, DamagedMessagesShowTheLiteralTextAsMissingOnesDo) {
  const std::string utf16("\xff\xfe" "6\0" "8\0" " \0" "T\0" "\n\0", 12);
  const std::vector<std::string> damaged = {"", "\x89PNG\r\n\x1a\n junk \x01\x02", utf16, "folder", "fifo"};
  const std::string text = "Unable to load default messages.  Please re-install Veldara.\n\n";
  for (const std::string& bytes : damaged) {
    SCOPED_TRACE(testing::PrintToString(bytes));
    clean();
    host_.clear();
    write_file(dir_.file("tessel.ini"), "[general]\n");
    mkdir(dir_.file("Messages").c_str(), 0755);
    std::string file = dir_.file("Messages/default.tzm");
    std::filesystem::remove_all(file);
    if (bytes == "folder")
      ASSERT_EQ(mkdir(file.c_str(), 0755), 0);
    else if (bytes == "fifo")  // no writer: a start that waited for one would never end
      ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    else
      write_file(file, bytes);
    EXPECT_FALSE(start());
    ASSERT_EQ(host_.boxes().size(), 1u);
    EXPECT_EQ(host_.boxes()[0].text,
              text + file +
                  (bytes == "folder" ? ": it is a folder"
                   : bytes == "fifo" ? ": it is a FIFO"
                                     : ": it holds no numbered text"));
    EXPECT_EQ(host_.windows_created(), 0);
  }
}

TEST_F(Startup, SuccessfulStartWaitsInStateZeroWithTheSplashUp) {
  install();
  ASSERT_TRUE(start());
  EXPECT_TRUE(host_.boxes().empty());
  EXPECT_EQ(tessel_frame_state(), FRAME_WAIT_UNIVERSE);
  EXPECT_STREQ(tessel_directory(), dir_.path().c_str());
  EXPECT_TRUE(file_is_directory(dir_.file("cache").c_str()));
  // The main window exists but is not shown before the 3D start.
  EXPECT_EQ(host_.windows_created(), 1);
  EXPECT_TRUE(tessel_window());
  EXPECT_EQ(host_.window_show_command(), 0);
  EXPECT_EQ(host_.window_title(), "Tessel");
  EXPECT_EQ(host_.min_width(), 380);
  EXPECT_EQ(host_.min_height(), 200);
  // The start-up splash: Cancel only, and the last start-up message.
  EXPECT_TRUE(host_.about_visible());
  EXPECT_FALSE(host_.about_control_shown(ABOUT_OK));
  EXPECT_TRUE(host_.about_control_shown(ABOUT_CANCEL));
  EXPECT_EQ(host_.about_text(ABOUT_STATUS), "seventy-seven");
  EXPECT_EQ(host_.timer_interval(TESSEL_TIMER_ID), 500);
  EXPECT_FALSE(about_cancel_pressed());
}

TEST_F(Startup, SplashThatCannotBeCreatedIsFatal) {
  install();
  host_.set_about_creatable(false);
  EXPECT_FALSE(start());
  ASSERT_EQ(host_.boxes().size(), 1u);
  EXPECT_EQ(host_.boxes()[0].text, "one-five-one 413");
  // The window made before it is gone again.
  EXPECT_EQ(host_.windows_created(), 1);
  EXPECT_FALSE(host_.window_exists());
}

TEST_F(Startup, WindowGeometryFromTheSavedLayout) {
  install("[layout]\nmain_x=10\nmain_y=20\nmain_width=100\nmain_height=150\n");
  ASSERT_TRUE(start());
  HostRect r = host_.requested_rect();
  EXPECT_EQ(r.x, 10);
  EXPECT_EQ(r.y, 20);
  EXPECT_EQ(r.width, 380);
  EXPECT_EQ(r.height, 200);
}

// A damaged size costs no start and is not saved again: the window fits the screen, and
// the layout keeps what the window really is.
TEST_F(Startup, AWindowSizeLargerThanTheScreenFitsItAndIsNotSavedBack) {
  for (const char* size : {"main_width=2147483647\nmain_height=2147483647\n",
                           "main_width=16777215\nmain_height=480\n",
                           "main_width=640\nmain_height=16777215\n",
                           // Between the screen's height and its width.
                           "main_width=640\nmain_height=900\n"}) {
    SCOPED_TRACE(size);
    ASSERT_TRUE(restart(std::string("[layout]\nmain_x=10\nmain_y=20\n") + size));
    HostRect r = host_.requested_rect();
    EXPECT_GE(r.x, 0);
    EXPECT_LE(r.width, 1024);
    EXPECT_LE(r.height, 768);
    EXPECT_LE(static_cast<long long>(r.x) + r.width, 1024 + 10);
    tessel_set_frame_state(FRAME_RUNNING);
    host_.send(HostEvent{HOST_WM_SIZE, HOST_SIZE_RESTORED, r.width - 10, r.height - 30});
    EXPECT_LE(profile_int("layout", "main_width"), 1024);
    EXPECT_LE(profile_int("layout", "main_height"), 768);
    EXPECT_GE(profile_int("layout", "main_width"), 380);
  }
}

// Temporary files that a killed settings write left go at the next start, each named in the
// log; the person's own copies beside the file, whatever their names, and anything not a plain
// file of ours stay.
TEST_F(Startup, OnlyTheSettingsWritersLeftoversAreRemovedAtStart) {
  install("[debug]\ntrace=1\n");
  write_file(dir_.file("tessel.ini.~saving-AbC129"), "[general]\n");
  write_file(dir_.file("tessel.ini.~saving-zz09QQ"), "");
  for (const char* name : {"tessel.ini.backup", "tessel.ini.2024ok", "tessel.ini.AbC129", "tessel.ini.bak",
                           "tessel.ini.~saving-AbC12!", "tessel.ini.~saving-AbC1234", "other.ini.~saving-AbC129",
                           "target", "tessel.ini.~saving-Theirs"})
    write_file(dir_.file(name), "mine");
  // Another user's file, a link and a folder of the writer's name stay too.
  ASSERT_EQ(chown(dir_.file("tessel.ini.~saving-Theirs").c_str(), 65534, 65534), 0);
  ASSERT_EQ(symlink(dir_.file("target").c_str(), dir_.file("tessel.ini.~saving-Link00").c_str()), 0);
  ASSERT_EQ(mkdir(dir_.file("tessel.ini.~saving-Dir000").c_str(), 0755), 0);
  ASSERT_TRUE(start());
  EXPECT_FALSE(file_exists(dir_.file("tessel.ini.~saving-AbC129").c_str()));
  EXPECT_FALSE(file_exists(dir_.file("tessel.ini.~saving-zz09QQ").c_str()));
  for (const char* name : {"tessel.ini.backup", "tessel.ini.2024ok", "tessel.ini.AbC129", "tessel.ini.bak",
                           "tessel.ini.~saving-AbC12!", "tessel.ini.~saving-AbC1234", "other.ini.~saving-AbC129",
                           "target", "tessel.ini.~saving-Theirs"})
    EXPECT_EQ(read_file(dir_.file(name)), "mine") << name;
  struct stat st {};
  EXPECT_EQ(lstat(dir_.file("tessel.ini.~saving-Link00").c_str(), &st), 0);
  EXPECT_TRUE(file_is_directory(dir_.file("tessel.ini.~saving-Dir000").c_str()));
  // Each removal is in the log, which the start keeps in the program directory.
  log_reset();
  std::string log = read_file(dir_.file("tessel.log"));
  EXPECT_NE(log.find("removed " + dir_.file("tessel.ini.~saving-AbC129")), std::string::npos) << log;
  EXPECT_NE(log.find("removed " + dir_.file("tessel.ini.~saving-zz09QQ")), std::string::npos) << log;
}

// A program directory whose path does not fit is named as such, not as a missing file.
TEST_F(Startup, AProgramDirectoryPathTooLongIsNamedWithThePath) {
  std::string deep = dir_.path() + "/" + std::string(300 - dir_.path().size(), 'd');
  platform_set_program_dir(deep);
  EXPECT_FALSE(start());
  ASSERT_EQ(host_.boxes().size(), 1u);
  EXPECT_NE(host_.boxes()[0].text.find("too long"), std::string::npos) << host_.boxes()[0].text;
  EXPECT_NE(host_.boxes()[0].text.find(deep), std::string::npos) << host_.boxes()[0].text;
  EXPECT_EQ(host_.windows_created(), 0);
}

// Settings that cannot be saved are told of once, at start, with the reason: a program folder
// its owner cannot write (the system's reason, and the folder), or a file in UTF-16, which is
// read as its text but never rewritten.
TEST_F(Startup, SettingsThatCannotBeSavedAreToldOnceWithTheReason) {
  install("[general]\n[citizen]\nname=alice\npassword=demo\n");
  // A folder of the person's own (uid 65534, as root cannot be refused), mode 555.
  for (const char* name : {"", "/tessel.ini", "/Messages", "/Messages/default.tzm"})
    ASSERT_EQ(chown((dir_.path() + name).c_str(), 65534, 65534), 0) << name;
  ASSERT_EQ(chmod(dir_.path().c_str(), 0555), 0);
  std::string said = testutil::in_child([&] {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    std::string boxes = start() ? "" : "(no start)\n";
    for (const auto& b : host_.boxes()) boxes += b.text + "\n--\n";
    return boxes;
  });
  chmod(dir_.path().c_str(), 0700);
  EXPECT_EQ(said.find("(no start)"), std::string::npos) << said;  // the program runs
  const std::string why = "the folder " + dir_.path() + " cannot be written: " + std::strerror(EACCES);
  // One box of it (the stores say what they cannot do in their own).
  size_t at = said.find(why);
  EXPECT_NE(at, std::string::npos) << said;
  EXPECT_EQ(said.find("Settings cannot be saved", said.find("Settings cannot be saved") + 1), std::string::npos)
      << said;
  EXPECT_NE(ini().find("password=demo"), std::string::npos);  // as it was: nothing could be written

  // A UTF-16 file: read (its host is used), never rewritten, and said so.
  clean();
  host_.clear();
  std::string text = "[universe]\r\nhost=example.invalid\r\n";
  std::string utf16 = "\xFF\xFE";
  for (char c : text) utf16 += std::string{c, '\0'};
  write_file(dir_.file("tessel.ini"), utf16);
  ASSERT_TRUE(start());
  EXPECT_STREQ(profile_string("universe", "host"), "example.invalid");
  ASSERT_EQ(host_.boxes().size(), 1u);
  EXPECT_NE(host_.boxes()[0].text.find(dir_.file("tessel.ini")), std::string::npos) << host_.boxes()[0].text;
  EXPECT_NE(host_.boxes()[0].text.find("UTF-16"), std::string::npos) << host_.boxes()[0].text;
  profile_set_int("general", "volume", 3);
  EXPECT_EQ(read_file(dir_.file("tessel.ini")), utf16);
}

TEST_F(Startup, ToolbarAndKioskSettings) {
  install();
  ASSERT_TRUE(start());
  EXPECT_TRUE(tessel_toolbar_shown());  // absent: shown
  EXPECT_FALSE(tessel_kiosk());
  ASSERT_TRUE(restart("[show]\ntoolbar=0\n[special]\nkiosk=1\n"));
  EXPECT_FALSE(tessel_toolbar_shown());
  EXPECT_TRUE(tessel_kiosk());
  ASSERT_TRUE(restart("[show]\ntoolbar=2\n[special]\nkiosk=2\n"));
  EXPECT_TRUE(tessel_toolbar_shown());
  EXPECT_FALSE(tessel_kiosk());
}

TEST(Geometry, DefaultsAndMinimums) {
  MainGeometry g = tessel_main_geometry(-1, -1, -1, -1, 1024, 768);
  EXPECT_EQ(g.x, HOST_DEFAULT_POS);
  EXPECT_EQ(g.width, 640);
  EXPECT_EQ(g.height, 480);
  g = tessel_main_geometry(5, 6, 100, 10, 1024, 768);
  EXPECT_EQ(g.x, 5);
  EXPECT_EQ(g.y, 6);
  EXPECT_EQ(g.width, 380);
  EXPECT_EQ(g.height, 200);
  g = tessel_main_geometry(5, 6, 800, 600, 1024, 768);
  EXPECT_EQ(g.width, 800);
  EXPECT_EQ(g.height, 600);
}

TEST(Geometry, OffScreenPositionsFallBackButKeepTheSize) {
  for (auto [x, y] : {std::pair{1024, 10}, {10, 768}, {5000, 5000}, {-1, 10}, {10, -1},
                      {-900, 10}, {10, -700}}) {
    MainGeometry g = tessel_main_geometry(x, y, 800, 600, 1024, 768);
    EXPECT_EQ(g.x, HOST_DEFAULT_POS) << x << "," << y;
    EXPECT_EQ(g.width, 800);
    EXPECT_EQ(g.height, 600);
  }
  // Partly off the screen to the left still counts as on it.
  MainGeometry g = tessel_main_geometry(-300, 10, 800, 600, 1024, 768);
  EXPECT_EQ(g.x, -300);
  // Extreme values from a damaged settings file do not overflow; a window as wide as the
  // screen that far left lies wholly off it.
  g = tessel_main_geometry(-2147483647, 0, 2147483647, 480, 1024, 768);
  EXPECT_EQ(g.x, HOST_DEFAULT_POS);
  EXPECT_EQ(g.width, 1024);
  g = tessel_main_geometry(-2147483647, 0, 640, 480, 1024, 768);
  EXPECT_EQ(g.x, HOST_DEFAULT_POS);
}

TEST_F(Startup, FailedStartRunsEveryTerminateSafelyAndOnlyOnce) {
  // No tessel.ini: nothing was initialised, yet the whole shutdown runs (engine included).
  EXPECT_FALSE(start());
  EXPECT_EQ(tessel_frame_state(), FRAME_SHUT_DOWN);
  EXPECT_EQ(tessel_shutdown("again"), 0);  // the shutdown runs once
  EXPECT_EQ(host_.boxes().size(), 1u);
  // The present terminate functions, each without its init, called directly twice.
  const lifecycle_tables& t = lifecycle_program();
  for (int round = 0; round < 2; ++round) {
    for (size_t i = 0; i < t.term_count; ++i) t.term[i].run();
    for (size_t i = 0; i < t.term_late_count; ++i) t.term_late[i].run();
  }
}

TEST_F(Startup, ShutdownAfterStartTerminatesAndDestroysTheWindow) {
  install();
  ASSERT_TRUE(start("/nonexistent/command"));
  EXPECT_EQ(tessel_shutdown(nullptr), 0);
  EXPECT_TRUE(host_.boxes().empty());
  EXPECT_FALSE(host_.window_exists());
  EXPECT_EQ(host_.windows_destroyed(), 1);
  EXPECT_TRUE(host_.quit_posted());  // closing the window ends the loop
  EXPECT_EQ(host_.timer_interval(TESSEL_TIMER_ID), 0);
  EXPECT_EQ(tessel_frame_state(), FRAME_SHUT_DOWN);
}

namespace {
int frames_seen = 0;
void count_frame_task() { ++frames_seen; }
const task_record counting_table[] = {{"count", count_frame_task, 0, {}}};

// An error box that, like a real one, runs a nested loop in which the frame timer fires.
class LoopingBoxHost : public HeadlessHost {
 public:
  int message_box(const char* text, const char* caption, unsigned flags) override {
    for (int i = 0; i < 3; ++i) tessel_frame();
    return HeadlessHost::message_box(text, caption, flags);
  }
};

void term_reusing_message_buffers() {
  for (int i = 0; i < 6; ++i) msg_arg(155, i);
}
}  // namespace

TEST_F(Startup, NoFrameRunsWhileTheShutdownShowsItsBox) {
  LoopingBoxHost looping;
  host_set(&looping);
  install();
  ASSERT_TRUE(start());
  frame_set_tasks(counting_table, 1);
  tessel_set_frame_state(FRAME_RUNNING);
  tessel_frame();
  ASSERT_EQ(frames_seen, 1);
  tessel_shutdown("bye");
  EXPECT_EQ(frames_seen, 1);  // the box's loop ran no task over terminated modules
  ASSERT_EQ(looping.boxes().size(), 1u);
  EXPECT_EQ(looping.boxes()[0].text, "bye");
  host_set(&host_);
  frames_seen = 0;
}

TEST_F(Startup, ShutdownTextSurvivesTerminateFunctionsThatFormatMessages) {
  install();
  ASSERT_EQ(msg_init(), 0);
  static const lifecycle_call term[] = {{"formats", term_reusing_message_buffers}};
  lifecycle_tables t = lifecycle_program();
  t.term = term;
  t.term_count = 1;
  t.term_late = nullptr;
  t.term_late_count = 0;
  lifecycle_set_tables(&t);
  tessel_shutdown(msg_arg(18, 42));
  ASSERT_EQ(host_.boxes().size(), 1u);
  EXPECT_EQ(host_.boxes()[0].text, "eighteen 42");
}

TEST_F(Startup, ResetRunsTheResetTable) {
  install();
  ASSERT_TRUE(start());
  static int resets = 0;
  static const lifecycle_call reset[] = {{"a", [] { resets += 1; }}, {"b", [] { resets *= 10; }}};
  lifecycle_tables t = lifecycle_program();
  t.reset = reset;
  t.reset_count = 2;
  lifecycle_set_tables(&t);
  tessel_reset_modules();
  EXPECT_EQ(resets, 10);  // in table order
  lifecycle_set_tables(nullptr);
  tessel_reset_modules();  // the program's own resets run without a world
}

namespace {
// A real JPEG made by the system's encoder from a small gradient.
bool make_jpeg(const std::string& dir, const std::string& out) {
  std::string ppm = "P6\n32 16\n255\n";
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) ppm += {char(x * 8), char(y * 16), char(128)};
  write_file(dir + "/in.ppm", ppm);
  std::string cmd = "cjpeg -quality 90 " + dir + "/in.ppm > " + out;
  return std::system(cmd.c_str()) == 0;
}
}  // namespace

TEST_F(Startup, SplashPictureIsConvertedOnceThenReused) {
  install();
  ASSERT_TRUE(make_jpeg(dir_.path(), dir_.file("splash.jpg")));
  ASSERT_TRUE(start());
  EXPECT_EQ(host_.about_picture(), dir_.file("splash.bmp"));
  EXPECT_NE(access(dir_.file("splash.jpg").c_str(), F_OK), 0);  // converted and removed
  std::string bmp = read_file(dir_.file("splash.bmp"));
  ASSERT_GT(bmp.size(), 54u);
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  EXPECT_EQ(static_cast<unsigned char>(bmp[18]), 32u);  // width
  EXPECT_EQ(static_cast<unsigned char>(bmp[22]), 16u);  // height
  // The next start shows the kept bitmap.
  ASSERT_TRUE(restart("[general]\n"));
  EXPECT_EQ(host_.about_picture(), dir_.file("splash.bmp"));
  EXPECT_EQ(read_file(dir_.file("splash.bmp")), bmp);
}

TEST_F(Startup, DamagedSplashPictureShowsNoneAndDoesNotHang) {
  install();
  write_file(dir_.file("splash.jpg"), std::string("\xff\xd8\xff\xe0 not really", 15));
  ASSERT_TRUE(start());
  EXPECT_EQ(host_.about_picture(), "");
  EXPECT_NE(access(dir_.file("splash.bmp").c_str(), F_OK), 0);
  EXPECT_TRUE(host_.about_visible());
}

TEST_F(Startup, MainRunsTheLoopThenShutsDownAndFreesTheLock) {
  install();
  host_.set_step_limit(20);  // the loop ends after a few walks instead of a quit
  EXPECT_EQ(tessel_main("", HOST_SHOW_NORMAL), 0);
  EXPECT_GE(host_.steps(), 20);
  EXPECT_EQ(tessel_frame_state(), FRAME_SHUT_DOWN);
  EXPECT_EQ(host_.windows_created(), 1);
  EXPECT_FALSE(host_.window_exists());
  EXPECT_FALSE(host_instance_running(dir_.path().c_str()));
}

// The other instance holds the lock but takes no hand-off (not listening yet, or stuck): the
// command file would be lost without a word, so the second start says so and fails.
TEST_F(Startup, MainWhileAnotherInstanceRunsStartsNothingAndSaysWhenItTookNothing) {
  install();
  int other = host_instance_lock(dir_.path().c_str());
  ASSERT_GE(other, 0);
  write_file(dir_.file("go.cmd"), "teleport There\n");
  EXPECT_NE(tessel_main(dir_.file("go.cmd").c_str(), HOST_SHOW_NORMAL), 0);
  host_instance_unlock(other);
  EXPECT_EQ(host_.windows_created(), 0);
  EXPECT_EQ(host_.about_created(), 0);
  EXPECT_EQ(cgi_get_teleport(), nullptr);  // nothing of it was started here
  ASSERT_EQ(host_.boxes().size(), 1u);
  const std::string& text = host_.boxes()[0].text;
  EXPECT_EQ(text.rfind(host_instance_socket(dir_.path().c_str()) + ": " + std::strerror(ENOENT), 0), 0u) << text;
  EXPECT_NE(text.find(dir_.file("go.cmd")), std::string::npos) << text;
}

TEST_F(Startup, MainThatCannotTakeItsLockSaysWhyAndStartsNothing) {
  install();
  // Something other than a running instance stands in the lock's way.
  ASSERT_EQ(0, mkdir(dir_.file("tessel.lock").c_str(), 0755));
  host_.set_step_limit(20);  // were it to start, its loop ends after a few walks
  EXPECT_NE(tessel_main("", HOST_SHOW_NORMAL), 0);
  EXPECT_EQ(host_.windows_created(), 0);
  EXPECT_EQ(host_.about_created(), 0);
  ASSERT_EQ(host_.boxes().size(), 1u);
  EXPECT_EQ(host_.boxes()[0].text.rfind(dir_.file("tessel.lock") + ": " + std::strerror(EISDIR), 0), 0u)
      << host_.boxes()[0].text;
  EXPECT_EQ(host_.boxes()[0].caption, "Error");
}

// A password of old, kept in clear under [citizen] password, is moved into the enciphered key
// by the login's start; a run with every trace switch on shows neither form in its log.
TEST_F(Startup, AnOldClearPasswordStaysOutOfATracedRunsLog) {
  install("[debug]\nall=1\n[citizen]\nname=alice\npassword=Pw31415926\n");
  ASSERT_TRUE(start());
  tessel_shutdown(nullptr);
  log_reset();
  std::string stored = ini();
  size_t at = stored.find("\npass=");
  ASSERT_NE(at, std::string::npos) << stored;  // moved: the enciphered key now holds it
  std::string hex = stored.substr(at + 6, stored.find('\n', at + 6) - at - 6);
  ASSERT_FALSE(hex.empty());
  std::string log = read_file(dir_.file("tessel.log"));
  ASSERT_NE(log.find("login_init"), std::string::npos) << log;
  EXPECT_EQ(log.find("31415926"), std::string::npos) << log;
  EXPECT_EQ(log.find(hex), std::string::npos) << log;
}

namespace {
// A box answered by a quit asked for meanwhile (a termination signal while it is up).
class QuitInTheBoxHost : public HeadlessHost {
 public:
  int message_box(const char* text, const char* caption, unsigned flags) override {
    tessel_request_quit();
    return HeadlessHost::message_box(text, caption, flags);
  }
};
int step_shows_a_box() {
  host()->message_box("last step", "Tessel", HOST_MB_ICONWARNING);
  return 0;
}
}  // namespace

// The quit comes in the box of the very last start-up step: start-up ends there, the loop
// never runs, and no other box follows.
TEST_F(Startup, AQuitAskedForInTheLastStepsBoxEndsStartUpWithoutTheLoop) {
  QuitInTheBoxHost quitting;
  host_set(&quitting);
  install();
  static const lifecycle_step init[] = {{"frame_timer", tessel_step_frame_timer, LC_STOP, 0, 0, nullptr},
                                        {"boxes", step_shows_a_box, LC_IGNORE, 0, 0, nullptr}};
  lifecycle_tables t = lifecycle_program();
  t.init = init;
  t.init_count = 2;
  lifecycle_set_tables(&t);
  quitting.set_step_limit(20);  // were the loop to run, it would end after a few walks
  EXPECT_EQ(tessel_main("", HOST_SHOW_NORMAL), 0);
  EXPECT_EQ(quitting.steps(), 0);
  EXPECT_EQ(tessel_frame_state(), FRAME_SHUT_DOWN);
  ASSERT_EQ(quitting.boxes().size(), 1u);
  EXPECT_EQ(quitting.boxes()[0].text, "last step");
  EXPECT_FALSE(host_instance_running(dir_.path().c_str()));
  host_set(&host_);
}

// The trace log never grows past its cap: the full one becomes tessel.log.1 and a fresh one
// goes on, every line whole. The next start keeps the last run's log as tessel.log.1 (a
// killed run's too), both the person's alone.
TEST_F(Startup, ALogOverItsCapIsSetAsideAndTheNextStartKeepsTheLastRunsLog) {
  install("[debug]\ntrace=1\n");
  ASSERT_TRUE(start());
  const std::string filler(900, 'x');
  int lines = static_cast<int>(kLogCap / 900) + 200;
  for (int i = 0; i < lines; ++i) log_write("line %d %s", i, filler.c_str());
  log_write("last line of the first run");
  const std::string log = dir_.file("tessel.log"), previous = dir_.file("tessel.log.1");
  std::string now = read_file(log), before = read_file(previous);
  EXPECT_LE(now.size(), static_cast<size_t>(kLogCap));
  EXPECT_LE(before.size(), static_cast<size_t>(kLogCap));
  EXPECT_GE(now.size() + before.size(), static_cast<size_t>(kLogCap));
  ASSERT_FALSE(before.empty());
  // The two join where the one was set aside: the lines go on without a gap or a cut.
  EXPECT_EQ(before.back(), '\n');
  size_t first = now.find(" line ");
  size_t last = before.rfind(" line ");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(last, std::string::npos);
  EXPECT_EQ(std::stoi(now.substr(first + 6)), std::stoi(before.substr(last + 6)) + 1);
  EXPECT_NE(now.find("last line of the first run"), std::string::npos);
  // The first run ends without its shutdown (killed); a second one starts.
  log_reset();
  clean();
  host_.clear();
  ASSERT_TRUE(start());
  log_reset();
  EXPECT_EQ(read_file(previous), now);
  std::string second = read_file(log);
  EXPECT_NE(second.find("init_application"), std::string::npos);
  EXPECT_EQ(second.find("last line of the first run"), std::string::npos);
  for (const std::string& f : {log, previous}) {
    struct stat st {};
    ASSERT_EQ(stat(f.c_str(), &st), 0) << f;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << f;
  }
}

// At start the cache as an older build left it (0777 folders, 0666 files) becomes the person's
// alone, down to a world's cell pair two folders below it; a cache folder that is a link or
// another user's is set aside; nothing behind a link is narrowed.
TEST_F(Startup, TheCacheAndThePersonsFilesAreNarrowedWithoutFollowingLinks) {
  install("[debug]\ntrace=1\n");
  testutil::TempDir elsewhere("tessel_theirs_");
  write_file(elsewhere.file("theirs"), "theirs");
  ASSERT_EQ(chmod(elsewhere.file("theirs").c_str(), 0644), 0);
  ASSERT_EQ(mkdir(elsewhere.file("folder").c_str(), 0755), 0);
  ASSERT_EQ(symlink(elsewhere.file("theirs").c_str(), dir_.file("contacts.txt").c_str()), 0);
  const mode_t old = umask(0);
  for (const char* folder : {"cache", "cache/models", "cache/property", "cache/property/w1", "cache/sounds"})
    ASSERT_EQ(mkdir(dir_.file(folder).c_str(), 0777), 0) << folder;
  for (const char* file : {"cache/models/tree.zip", "cache/property/w1/cell.dat", "cache/property/w1/cell.idx"})
    write_file(dir_.file(file), "x");
  umask(old);
  ASSERT_EQ(symlink(elsewhere.file("folder").c_str(), dir_.file("cache/seqs").c_str()), 0);
  ASSERT_EQ(chown(dir_.file("cache/sounds").c_str(), 65534, 65534), 0);
  ASSERT_TRUE(start());
  log_reset();
  auto mode = [](const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 01000;
  };
  for (const char* folder : {"cache", "cache/models", "cache/property", "cache/property/w1"})
    EXPECT_EQ(mode(dir_.file(folder)), 0700u) << folder;
  for (const char* file : {"cache/models/tree.zip", "cache/property/w1/cell.dat", "cache/property/w1/cell.idx"})
    EXPECT_EQ(mode(dir_.file(file)), 0600u) << file;
  EXPECT_EQ(mode(elsewhere.file("theirs")), 0644u);
  EXPECT_EQ(mode(dir_.file("cache/seqs")), 01000u);
  EXPECT_EQ(mode(dir_.file("cache/sounds")), 01000u);
  EXPECT_TRUE(std::filesystem::is_symlink(dir_.file("cache-seqs.set-aside-1")));
  EXPECT_TRUE(std::filesystem::is_directory(dir_.file("cache-sounds.set-aside-1")));
  const std::string log = read_file(dir_.file("tessel.log"));
  EXPECT_NE(log.find(dir_.file("cache/property/w1/cell.dat") + " could be read by others"), std::string::npos) << log;
  EXPECT_NE(log.find(dir_.file("cache/seqs") + " is a link: not used, set aside as "), std::string::npos) << log;
}
