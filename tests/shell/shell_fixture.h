#pragma once
// The real program under Qt's offscreen platform: the main window with the panes the entry
// installs, started and brought to its running state with the real 8-bit driver.
#include <QApplication>
#include <QWidget>
#include <memory>

#include "client/app/command.h"
#include "client/shell/font.h"
#include "client/shell/view_click.h"
#include "client/shell/status.h"
#include "client/ui/fonts.h"
#include "client/ui/qt_windows.h"
#include "client/ui/qt_host.h"
#include "client/ui/status_bar.h"
#include "client/ui/logo_view.h"
#include "client/ui/splitter_view.h"
#include "client/ui/tab_control.h"
#include "client/ui/toolbar_bar.h"
#include "client/ui/teleport_tree.h"
#include "client/ui/viewport.h"
#include "client/ui/worlds_list.h"
#include "tests/scene/scene_fixture.h"
#include "tests/support/qt_app.h"

inline QApplication& shell_app() { return testutil::qt_app("shell_qt_tests"); }

// Texts for the panes and panes' owners, numbered so tests can read them back.
inline const char kShellMessages[] =
    "26 %.1f fps\n"
    "118 %.1f KB/s\n"
    "32 range %d\n"
    "88 altitude %.1f\n"
    "119 connecting\n"
    "150 imposter\n"
    "193 Worlds\n"
    "194 Contacts\n"
    "213 Telegrams\n"
    "251 Teleports\n"
    "195 Help\n"
    "105 forward\n"
    "106 back\n"
    "117 mover\n"
    // The menu titles with empty texts: the bar takes no room, as the panes' places here
    // assume (a number with no text at all would show as itself).
    "451 \n457 \n464 \n470 \n475 \n486 \n501 \n490 \n496 \n";

class ShellTest : public SceneTest {
 protected:
  ShellTest() : qt_((shell_app(), std::make_unique<QtHost>())) {}
  void SetUp() override {
    SceneTest::SetUp();
    host_set(qt_.get());
    // As the entry installs them.
    viewport_qt_install(*qt_);
    fonts_qt_install();
    status_bar_qt_install(*qt_);
    logo_view_qt_install(*qt_);
    tab_control_qt_install(*qt_);
    toolbar_qt_install(*qt_);
    splitter_view_qt_install(*qt_);
    worlds_list_qt_install(*qt_);
    teleport_tree_qt_install(*qt_);
    ASSERT_NO_FATAL_FAILURE(link_driver("VXDL8D21"));
  }
  void TearDown() override {
    stop();
    SceneTest::TearDown();
    status_set_bar_maker(nullptr);
    logo_set_view_maker(nullptr);
    tab_set_view_maker(nullptr);
    toolbar_set_view_maker(nullptr);
    slider_set_view(nullptr);
    worlds_set_list_maker(nullptr);
    teleport_set_tree_maker(nullptr);
    font_set_maker(nullptr);
  }
  void install_program(const std::string& ini) {
    write_file(dir_.file("tessel.ini"), "[display]\ndepth=1\n" + ini);
    mkdir(dir_.file("Messages").c_str(), 0755);
    write_file(dir_.file("Messages/default.tzm"), std::string(kSceneMessages) + kShellMessages);
  }
  void start_to_running(const std::string& ini = "[layout]\nmain_width=640\nmain_height=480\n") {
    install_program(ini);
    ASSERT_NE(tessel_init(0, "", 1), 0);
    tessel_set_frame_state(FRAME_START_3D);
    tessel_frame();
    ASSERT_EQ(tessel_frame_state(), FRAME_RUNNING);
    settle();
  }
  // Ends the run; the main window and its panes go at once (their logic forgets them).
  void stop() {
    if (tessel_frame_state() != FRAME_SHUT_DOWN) tessel_shutdown(nullptr);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  void restart(const std::string& ini) {
    stop();
    app_reset_for_test();
    ASSERT_NO_FATAL_FAILURE(start_to_running(ini));
  }
  void settle() {
    for (int i = 0; i < 3; ++i) {
      QApplication::processEvents();
      tessel_frame();
    }
    QApplication::processEvents();
  }
  // A menu command as the menu bar sends it.
  void command(int id) {
    qt_->send(HostEvent{HOST_WM_COMMAND, id, 0, 0});
    settle();
  }
  QWidget* main() { return qt_->main_widget(); }
  template <class T>
  T* child(const char* name = nullptr) {
    return main() ? main()->findChild<T*>(name ? QString(name) : QString(), Qt::FindDirectChildrenOnly) : nullptr;
  }
  std::unique_ptr<QtHost> qt_;
};
