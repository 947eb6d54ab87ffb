#pragma once
// The whole program with another user, bob, in the world: his avatar drawn with a model the
// world's object cache holds, right clicks on the view as the window system delivers them,
// and the fakes' frames read back.
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <tuple>

#include "Zembrel/Pose/Anim/anim.h"
#include "client/cache/download.h"
#include "client/core/dialog.h"
#include "client/core/identity.h"
#include "client/core/msg.h"
#include "client/scene/camera.h"
#include "client/scene/display_viewport.h"
#include "client/scene/scene.h"
#include "client/shell/features.h"
#include "client/shell/gesture.h"
#include "client/ui/gesture_row.h"
#include "client/shell/tab.h"
#include "client/ui/qt_dialog.h"
#include "client/ui/tab_control.h"
#include "client/ui/worlds_list.h"
#include "client/ui/shell_dialogs.h"
#include "world_env.h"

namespace world_env {

class WorldAvatar : public WorldChat {
 protected:
  WorldAvatar() {
    // The object path (its cache folder is known) and the eject right.
    extra_attributes_ = R"(,[3,"avatarfiles"],[27,"Y"])";
    extra_citizens_ = {"--citizen", "bob:bob:2"};
    // A second world on the worlds page.
    other_ = start_fake("world.py", R"({"mode":"new","attributes":[[0,"Other World"],[21,"20"]]})");
    extra_worlds_ = R"(,{"name":"other","host":"127.0.0.1","status":1,"users":3,"port":)" +
                    std::to_string(other_->port()) + "}";
  }
  std::unique_ptr<testutil::FakeProcess> other_;
  void SetUp() override {
    WorldChat::SetUp();
    // Dialogs open as real Qt dialogs, as the program's main installs them.
    qt_dialog_install(nullptr);
    shell_dialogs_register();
    gesture_row_qt_install(*qt_);
    tab_control_qt_install(*qt_);
    worlds_list_qt_install(*qt_);
  }
  void TearDown() override {
    WorldChat::TearDown();
    gesture_set_view(nullptr);
    other_.reset();
    AnimLoadRegistry(nullptr);
    dialog_set_runner(nullptr);
  }

  // A right button press on the viewport window, as the window system delivers it.
  void right_click(int x, int y) {
    auto* surface = dynamic_cast<QtViewport*>(viewport_surface());
    ASSERT_NE(nullptr, surface);
    QWidget* w = surface->widget();
    ASSERT_NE(nullptr, w);
    QPointF at(x + VIEWPORT_EDGE, y + VIEWPORT_EDGE);
    QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::RightButton, Qt::RightButton,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::RightButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(w, &release);
  }

  // The avatars' model in the world's object cache: a board a person high, seen from both sides.
  void give_avatars_a_model() {
    std::string folder = dir_.file("cache/art/avatarfiles/avatars");
    ASSERT_EQ(0, std::system(("mkdir -p " + folder).c_str()));
    write_file(folder + "/cy.vxx",
               "clumpbegin\n  vertex -0.5 0 0\n  vertex 0.5 0 0\n  vertex 0.5 1.8 0\n  vertex -0.5 1.8 0\n"
               "  quad 1 2 3 4\n  quad 4 3 2 1\nclumpend\n");
    // The world's avatar list: that model, with two gestures.
    write_file(folder + "/avatars.dat", "# animation registry version 0.3\nversion 3\n"
                                        "avatar name = cy beginexp wave = s1 wink = s2 endexp endavatar\n");
  }

  // bob, once the user is in the world and he is drawn with his model; else null.
  static avatar_record* bob_drawn() {
    avatar_record* bob = tessel_frame_state() == FRAME_RUNNING && world_state() == WORLD_IN ? avatar_find(2) : nullptr;
    return bob && bob->balloon_handle && model_of(bob) && VxGetClumpNumPolygons(model_of(bob)) == 2 &&
                   citizen_number() == 1
               ? bob
               : nullptr;
  }

  // The clump bob is drawn with, animated or far.
  static VxClump* model_of(avatar_record* a) {
    model_instance* m =
        a->anim ? static_cast<model_instance*>(AnimGetAvatarModel(static_cast<AnimAvatar*>(a->anim))) : a->far_model;
    return m ? model_clump(m) : nullptr;
  }

  // A viewport point where bob's scene shows his model, and one where it shows nothing.
  static bool points_of(avatar_record* a, int* hx, int* hy, int* mx, int* my) {
    VxClump* c = model_of(a);
    int w = 0, h = 0;
    camera_size(&w, &h);
    bool hit = false, miss = false;
    for (int y = 0; y < h && !(hit && miss); y += 2)
      for (int x = 0; x < w && !(hit && miss); x += 2) {
        VxClump* p = scene_pick_in(a->scene, x, y);
        if (c && p == c && !hit) {
          *hx = x;
          *hy = y;
          hit = true;
        } else if (!p && !miss) {
          *mx = x;
          *my = y;
          miss = true;
        }
      }
    return hit && miss;
  }

  // The body of the next frame the fake reports whose code (2 hex digits) is given and that
  // wanted accepts, "" when none comes.
  std::string next_body(testutil::FakeProcess& fake, const std::string& code,
                        const std::function<bool(const std::string&)>& wanted = nullptr) {
    std::string found;
    run_until([&] {
      std::string l = fake.line(3);
      if (l.rfind("frame ", 0) != 0) return false;
      std::string body = l.substr(l.find(' ', 6) + 1);
      if (body.rfind(code, 0) == 0 && (!wanted || wanted(body))) found = body;
      return !found.empty();
    });
    return found;
  }

  // Says the line on the chat line; bob echoes it.
  void say(const char* text) {
    QtChatLine* line = chat_qt_line();
    ASSERT_NE(nullptr, line);
    line->setText(text);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
    QApplication::sendEvent(line, &enter);
  }
};

}  // namespace world_env
