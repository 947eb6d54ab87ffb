// The whole program against the fake universe and world on loopback, in the real Qt main
// window: a line typed on the chat line goes out to the world, another user's answer shows
// in the console and in a balloon over that user's avatar, and world notices (a refused
// build request) reach the console.
#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTextDocument>
#include <filesystem>
#include <memory>

#include "../scene/scene_fixture.h"
#include "client/app/command.h"
#include "client/core/tick.h"
#include "client/scene/avatar.h"
#include "client/scene/balloon.h"
#include "client/scene/prop.h"
#include "client/servers/world.h"
#include "client/shell/chat.h"
#include "client/shell/console.h"
#include "client/shell/meters.h"
#include "client/shell/status.h"
#include "client/ui/fonts.h"
#include "client/ui/status_bar.h"
#include "client/ui/chat_line.h"
#include "client/ui/qt_host.h"
#include "client/ui/viewport.h"
#include "platform/clock.h"
#include "tests/support/test_util.h"

namespace {

QApplication& app() {
  static int argc = 1;
  static char name[] = "world_chat_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* a = new QApplication(argc, argv);  // kept: Qt dislikes static teardown
  return *a;
}

std::unique_ptr<testutil::FakeProcess> start_fake(const std::string& script, const std::string& json,
                                                  const std::vector<std::string>& extra = {}) {
  const char* python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
  std::vector<std::string> argv = {python, std::string(TESSEL_SOURCE_DIR) + "/tests/fakes/" + script, "--json", json};
  argv.insert(argv.end(), extra.begin(), extra.end());
  return std::make_unique<testutil::FakeProcess>(argv, 10000,
                                                 testutil::ChildOptions{false, {{"PYTHONDONTWRITEBYTECODE", "1"}}});
}

// Pure white pixels of the viewport in a grab of the main window.
int white_in_viewport(QtHost& qt) {
  auto* surface = dynamic_cast<QtViewport*>(viewport_surface());
  if (!surface || !qt.main_widget()) return -1;
  QImage shot = surface->image().convertToFormat(QImage::Format_RGB32);
  int n = 0;
  for (int y = 0; y < shot.height(); ++y)
    for (int x = 0; x < shot.width(); ++x) n += shot.pixel(x, y) == qRgb(255, 255, 255);
  return n;
}

class WorldChat : public SceneTest {
 protected:
  WorldChat() : qt_((app(), std::make_unique<QtHost>())) {}
  void SetUp() override {
    SceneTest::SetUp();
    platform_set_clock(nullptr);
    host_set(qt_.get());
    viewport_qt_install(*qt_);
    fonts_qt_install();
    status_bar_qt_install(*qt_);
    chat_qt_install(*qt_);
    link_driver("VXDL8D21");
    world_ = start_fake("world.py",
                        R"({"mode":"new","attributes":[[0,"Demo World"],[21,"20"]],)"
                        R"("avatars":[{"session":2,"name":"bob","x":0,"y":0,"z":4000,"yaw":1800,"type":0,"gesture":0}],)"
                        R"("echo":{"session":2,"prefix":"you said: "}})");
    ASSERT_NE(0, world_->port());
    universe_ = start_fake("universe.py", R"({"attributes":{"4":"demo"},"worlds":[{"name":"demo","host":"127.0.0.1","port":)" +
                                              std::to_string(world_->port()) + "}]}",
                           {"--citizen", "demo:demo:1"});
    ASSERT_NE(0, universe_->port());
    write_file(dir_.file("tessel.ini"), "[display]\ndepth=1\n[layout]\nmain_width=500\nmain_height=400\n"
                                        "[universe]\nhost=127.0.0.1\nport=" + std::to_string(universe_->port()) +
                                        "\n[citizen]\nname=demo\n[chat]\nlogging=0\n[show]\nframerate=1\n");
    ASSERT_TRUE(profile_init((dir_.path() + "/").c_str(), "tessel.ini"));
    profile_set_encrypted_string("citizen", "pass", "demo");
    mkdir(dir_.file("Messages").c_str(), 0755);
    std::filesystem::copy_file(std::string(TESSEL_SOURCE_DIR) + "/data/Messages/default.tzm",
                               dir_.file("Messages/default.tzm"));
  }
  void TearDown() override {
    if (tessel_frame_state() != FRAME_SHUT_DOWN) tessel_shutdown(nullptr);
    chat_reset_for_test();
    console_reset_for_test();
    chat_set_view_maker(nullptr);
    console_set_view_maker(nullptr);
    world_.reset();
    universe_.reset();
    status_reset();
    status_set_bar_maker(nullptr);
    meters_reset_for_test();
    SceneTest::TearDown();
  }
  void step() {
    QApplication::processEvents();
    tessel_frame();
  }
  bool run_until(const std::function<bool()>& done, int limit_ms = 10000) {
    return testutil::poll_until(
        [&] {
          step();
          return done();
        },
        limit_ms);
  }
  std::string console() { return console_text(); }
  std::unique_ptr<QtHost> qt_;
  std::unique_ptr<testutil::FakeProcess> world_, universe_;
};

}  // namespace

TEST_F(WorldChat, ATypedLineGoesOutAndTheAnswerShowsInTheConsoleAndABalloon) {
  ASSERT_NE(0, tessel_init(0, "", 1));
  ASSERT_TRUE(run_until([] { return tessel_frame_state() == FRAME_RUNNING && world_state() == WORLD_IN &&
                                    avatar_find(2) != nullptr; }))
      << "frame state " << tessel_frame_state() << ", world state " << world_state();
  QtChatLine* line = chat_qt_line();
  ASSERT_NE(nullptr, line);
  QtConsole* pane = console_qt_pane();
  ASSERT_NE(nullptr, pane);
  EXPECT_EQ(qt_->main_widget(), line->parentWidget());
  // The frame-rate pane kept in [show] shows a rate; the bandwidth pane comes from the View menu.
  ASSERT_NE(0, fps_pane());
  ASSERT_TRUE(run_until([] { return fps_rate() > 0; }));
  step();
  double shown = 0;
  EXPECT_EQ(1, std::sscanf(status_text(fps_pane()), "%lf", &shown)) << status_text(fps_pane());
  EXPECT_GT(shown, 0.0);
  EXPECT_EQ(0, bps_pane());
  menu_handle(122);
  EXPECT_NE(0, bps_pane());
  EXPECT_EQ(1, profile_int("show", "bandwidth"));
  menu_handle(122);
  EXPECT_EQ(0, bps_pane());
  EXPECT_EQ(0, profile_int("show", "bandwidth"));
  // Bob has not spoken: no balloon over him yet.
  EXPECT_EQ(0, balloon_count());
  for (int i = 0; i < 3; ++i) step();
  int white_before = white_in_viewport(*qt_);

  line->setText("hello");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
  QApplication::sendEvent(line, &enter);
  EXPECT_TRUE(line->QLineEdit::text().isEmpty());
  // Request 7 with the text as a string: code, length byte, the bytes.
  std::string sent;
  ASSERT_TRUE(run_until([&] {
    std::string l = world_->line(3);
    if (l.rfind("frame ", 0) == 0 && l.find(" 07") != std::string::npos) sent = l;
    return !sent.empty();
  }));
  EXPECT_EQ(sent.substr(sent.find(' ', 6) + 1), "070568656c6c6f");
  // The own line, then bob's answer.
  ASSERT_TRUE(run_until([this] { return console().find("bob:\tyou said: hello") != std::string::npos; }));
  EXPECT_NE(std::string::npos, console().find("demo:\thello"));
  avatar_record* bob = avatar_find(2);
  ASSERT_NE(nullptr, bob);
  EXPECT_STREQ("bob: you said: hello", balloon_text(bob->balloon_handle));
  QTextBlock last = pane->document()->lastBlock();
  EXPECT_EQ("bob:\tyou said: hello", last.text().toStdString());
  for (int i = 0; i < 5; ++i) step();
  EXPECT_GT(balloon_drawn(), 0);
  int white_after = white_in_viewport(*qt_);
  EXPECT_GT(white_after, white_before + 20) << white_before;

  // Typed in first person: no own balloon; third person shows the last line, and a world
  // change brings back the name.
  EXPECT_FALSE(chat_own_balloon_shown());
  menu_handle(127);
  for (int i = 0; i < 3; ++i) step();
  EXPECT_TRUE(chat_own_balloon_shown());
  EXPECT_STREQ("demo: hello", chat_own_balloon_text());
  chat_reset();
  step();
  EXPECT_STREQ("demo", chat_own_balloon_text());
  menu_handle(126);
  step();
  EXPECT_FALSE(chat_own_balloon_shown());

  // Characters typed anywhere in the main window go to the chat line; Enter sends them.
  for (char c : std::string("hi\r")) handle_window(HostEvent{HOST_WM_CHAR, c, 0, 0});
  sent.clear();
  ASSERT_TRUE(run_until([&] {
    std::string l = world_->line(3);
    if (l.rfind("frame ", 0) == 0 && l.find(" 07") != std::string::npos) sent = l;
    return !sent.empty();
  }));
  EXPECT_EQ(sent.substr(sent.find(' ', 6) + 1), "07026869");

  // A refused build request: the world's answer for object 99 is code 100.
  prop_delete(0, 0, 99);
  world_->command("reply 1 0 0000006364");
  ASSERT_TRUE(run_until([this] { return console().find(msg(37)) != std::string::npos; }));
}
