#pragma once
// The whole program against the fake universe and world on loopback, in the real Qt main
// window with the real driver: a program directory, the fakes and the frame loop.
#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTextDocument>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "../scene/scene_fixture.h"
#include "client/app/command.h"
#include "client/core/tick.h"
#include "client/scene/avatar.h"
#include "client/scene/balloon.h"
#include "client/scene/behavior.h"
#include "client/scene/model.h"
#include "client/scene/sign.h"
#include "client/scene/prop.h"
#include "client/scene/self.h"
#include "client/servers/world.h"
#include "client/shell/chat.h"
#include "client/shell/console.h"
#include "client/shell/logo.h"
#include "client/shell/meters.h"
#include "client/shell/status.h"
#include "client/ui/fonts.h"
#include "client/ui/status_bar.h"
#include "client/ui/logo_view.h"
#include "client/ui/chat_line.h"
#include "client/ui/qt_host.h"
#include "client/ui/viewport.h"
#include "platform/clock.h"
#include "tests/support/test_util.h"
#include "tests/support/qt_app.h"

namespace world_env {

inline QApplication& app() { return testutil::qt_app("world_chat_tests"); }

inline std::unique_ptr<testutil::FakeProcess> start_fake(const std::string& script, const std::string& json,
                                                  const std::vector<std::string>& extra = {}) {
  const char* python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
  std::vector<std::string> argv = {python, std::string(TESSEL_SOURCE_DIR) + "/tests/fakes/" + script, "--json", json};
  argv.insert(argv.end(), extra.begin(), extra.end());
  return std::make_unique<testutil::FakeProcess>(argv, testutil::kWaitMs,
                                                 testutil::ChildOptions{false, {{"PYTHONDONTWRITEBYTECODE", "1"}}});
}

// Pure white pixels of the viewport in a grab of the main window.
inline int white_in_viewport(QtHost& qt) {
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
    logo_view_qt_install(*qt_);
    chat_qt_install(*qt_);
    link_driver("VXDL8D21");
    world_ = start_fake("world.py",
                        R"({"mode":"new","attributes":[[0,"Demo World"],[21,"20"])" + extra_attributes_ + "],"
                        R"("avatars":[{"session":2,"name":"bob","x":0,"y":0,"z":4000,"yaw":1800,"type":0,"gesture":0}],)"
                        R"("echo":{"session":2,"prefix":"you said: "}})");
    ASSERT_NE(0, world_->port());
    std::vector<std::string> citizens = {"--citizen", "demo:demo:1"};
    citizens.insert(citizens.end(), extra_citizens_.begin(), extra_citizens_.end());
    universe_ = start_fake("universe.py", R"({"attributes":{"4":"demo"},"worlds":[{"name":"demo","host":"127.0.0.1","port":)" +
                                              std::to_string(world_->port()) + "}" + extra_worlds_ + "]}",
                           citizens);
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
    avatar_reset_for_test();
    // As a world change does: the own avatar lets go of its models before the downloads go.
    self_destroy_avatar();
    if (tessel_frame_state() != FRAME_SHUT_DOWN) tessel_shutdown(nullptr);
    self_reset_for_test();
    chat_reset_for_test();
    console_reset_for_test();
    chat_set_view_maker(nullptr);
    console_set_view_maker(nullptr);
    world_.reset();
    universe_.reset();
    status_reset();
    status_set_bar_maker(nullptr);
    logo_reset();
    logo_set_view_maker(nullptr);
    meters_reset_for_test();
    SceneTest::TearDown();
  }
  void step() {
    QApplication::processEvents();
    tessel_frame();
  }
  bool run_until(const std::function<bool()>& done, int limit_ms = testutil::kWaitMs) {
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
  // Set before SetUp: more world attribute pairs (",[27,\"Y\"]") and universe options.
  std::string extra_attributes_;
  std::vector<std::string> extra_citizens_;
  std::string extra_worlds_;  // more entries of the universe's world list (",{...}")
};

}  // namespace world_env

