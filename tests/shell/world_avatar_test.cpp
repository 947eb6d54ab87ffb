// A right click on another user's avatar in the running program opens the menu over that
// user: mute silences their lines, "add to contacts" reaches the universe, eject opens the
// eject dialog; a right click beside the avatar opens no menu; a gesture button's gesture goes
// out with the own state; a click on a world on the worlds page enters it.
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

using namespace world_env;

namespace {

struct SeenItem {
  int id;
  std::string text;
  bool enabled, checked;
};

// Answers the next pop-up menu as the user would: the item of that id chosen with the keyboard
// (0: Escape). What the menu showed is kept.
class MenuAnswer {
 public:
  explicit MenuAnswer(int id) : id_(id) {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { look(); });
    timer_.start();
  }
  bool shown() const { return shown_; }
  const std::vector<SeenItem>& items() const { return items_; }
  const SeenItem* item(int id) const {
    for (const SeenItem& i : items_)
      if (i.id == id) return &i;
    return nullptr;
  }

 private:
  void look() {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    timer_.stop();
    shown_ = true;
    for (QAction* a : menu->actions())
      items_.push_back(SeenItem{a->isSeparator() ? 0 : a->data().toInt(), a->text().toStdString(), a->isEnabled(),
                                a->isChecked()});
    for (QAction* a : menu->actions())
      if (id_ && !a->isSeparator() && a->data().toInt() == id_) menu->setActiveAction(a);
    QKeyEvent key(QEvent::KeyPress, id_ ? Qt::Key_Return : Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(menu, &key);
  }
  int id_;
  bool shown_ = false;
  std::vector<SeenItem> items_;
  QTimer timer_;
};

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

TEST_F(WorldAvatar, TheMenuOverAnAvatarMutesAddsAContactAndEjectsAndAGestureGoesOut) {
  // The avatars' model in the world's object cache: a board a person high, seen from both sides.
  std::string folder = dir_.file("cache/art/avatarfiles/avatars");
  ASSERT_EQ(0, std::system(("mkdir -p " + folder).c_str()));
  write_file(folder + "/cy.vxx",
             "clumpbegin\n  vertex -0.5 0 0\n  vertex 0.5 0 0\n  vertex 0.5 1.8 0\n  vertex -0.5 1.8 0\n"
             "  quad 1 2 3 4\n  quad 4 3 2 1\nclumpend\n");
  // The world's avatar list: that model, with two gestures.
  write_file(folder + "/avatars.dat", "# animation registry version 0.3\nversion 3\n"
                                      "avatar name = cy beginexp wave = s1 wink = s2 endexp endavatar\n");
  ASSERT_NE(0, tessel_init(0, "", 1));
  avatar_record* bob = nullptr;
  ASSERT_TRUE(run_until([&] {
    bob = tessel_frame_state() == FRAME_RUNNING && world_state() == WORLD_IN ? avatar_find(2) : nullptr;
    return bob && bob->balloon_handle && model_of(bob) && VxGetClumpNumPolygons(model_of(bob)) == 2 &&
           citizen_number() == 1;
  })) << "world state " << world_state() << " path " << download_get_path() << " polygons " << (bob && model_of(bob) ? VxGetClumpNumPolygons(model_of(bob)) : -1);
  for (int i = 0; i < 3; ++i) step();
  int hx = 0, hy = 0, mx = 0, my = 0;
  ASSERT_TRUE(points_of(bob, &hx, &hy, &mx, &my));

  // Beside bob: no menu.
  {
    MenuAnswer none(0);
    ASSERT_NO_FATAL_FAILURE(right_click(mx, my));
    step();
    EXPECT_FALSE(none.shown());
  }

  // On bob: his name, a separator, mute, contact and (with the eject right) eject.
  {
    MenuAnswer mute(AVATAR_MENU_MUTE);
    ASSERT_NO_FATAL_FAILURE(right_click(hx, hy));
    ASSERT_TRUE(mute.shown());
    ASSERT_EQ(5u, mute.items().size());
    EXPECT_EQ("bob", mute.items()[0].text);
    EXPECT_FALSE(mute.items()[0].enabled);
    EXPECT_EQ(0, mute.items()[1].id);
    ASSERT_NE(nullptr, mute.item(AVATAR_MENU_MUTE));
    EXPECT_FALSE(mute.item(AVATAR_MENU_MUTE)->checked);
    ASSERT_NE(nullptr, mute.item(AVATAR_MENU_CONTACT));
    EXPECT_TRUE(mute.item(AVATAR_MENU_CONTACT)->enabled);
    EXPECT_NE(nullptr, mute.item(AVATAR_MENU_EJECT));
  }
  EXPECT_TRUE(avatar_muted(2));
  // Muted: bob's answer shows in his balloon as muted and never in the console.
  ASSERT_NO_FATAL_FAILURE(say("hello"));
  std::string muted_text = std::string("bob: ") + msg(249);
  ASSERT_TRUE(run_until([&] { return muted_text == balloon_text(bob->balloon_handle); }))
      << balloon_text(bob->balloon_handle);
  EXPECT_NE(std::string::npos, console().find("demo:\thello"));
  EXPECT_EQ(std::string::npos, console().find("you said: hello"));

  // Chosen again the mute item (checked now) lets him be heard.
  {
    MenuAnswer unmute(AVATAR_MENU_MUTE);
    ASSERT_NO_FATAL_FAILURE(right_click(hx, hy));
    ASSERT_TRUE(unmute.shown());
    ASSERT_NE(nullptr, unmute.item(AVATAR_MENU_MUTE));
    EXPECT_TRUE(unmute.item(AVATAR_MENU_MUTE)->checked);
  }
  EXPECT_FALSE(avatar_muted(2));
  ASSERT_NO_FATAL_FAILURE(say("again"));
  ASSERT_TRUE(run_until([this] { return console().find("bob:\tyou said: again") != std::string::npos; }));

  // Contact: the universe is asked for bob's number (36), then gets the addition (41).
  {
    MenuAnswer contact(AVATAR_MENU_CONTACT);
    ASSERT_NO_FATAL_FAILURE(right_click(hx, hy));
    ASSERT_TRUE(contact.shown());
  }
  EXPECT_EQ("2900000002", next_body(*universe_, "29"));

  // Eject: the dialog opens for bob; OK asks the world to eject his session for an hour
  // (request 4: session, seconds).
  std::string shown_name;
  QTimer closer;
  closer.setInterval(5);
  QObject::connect(&closer, &QTimer::timeout, [&] {
    auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!d) return;
    closer.stop();
    if (auto* name = d->findChild<QLineEdit*>(QString::number(EJECT_NAME))) shown_name = name->text().toStdString();
    if (auto* ok = d->findChild<QPushButton*>(QString::number(DIALOG_OK))) ok->click();
    if (d->isVisible()) d->reject();
  });
  closer.start();
  {
    MenuAnswer eject(AVATAR_MENU_EJECT);
    ASSERT_NO_FATAL_FAILURE(right_click(hx, hy));
    ASSERT_TRUE(eject.shown());
  }
  closer.stop();
  EXPECT_EQ("bob", shown_name);
  EXPECT_EQ("04000200000e10", next_body(*world_, "04"));

  // The second gesture button: the next own state (request 8) carries gesture 2 in its last byte.
  QtGestureRow* row = gesture_row_qt();
  ASSERT_NE(nullptr, row);
  ASSERT_EQ(2u, row->count());
  row->button(1)->click();
  std::string state = next_body(*world_, "08", [](const std::string& b) { return b.size() == 34 && b.substr(32) == "02"; });
  EXPECT_FALSE(state.empty()) << "no own state with gesture 2";

  // A click on the other world on the worlds page enters it: that world gets the login.
  tab_select(TAB_WORLDS);
  QtWorldsList* list = nullptr;
  QTreeWidgetItem* other = nullptr;
  ASSERT_TRUE(run_until([&] {
    list = qt_->main_widget()->findChild<QtWorldsList*>();
    auto found = list ? list->findItems("other", Qt::MatchExactly, 0) : QList<QTreeWidgetItem*>{};
    other = found.isEmpty() ? nullptr : found.first();
    return other && list->isVisible();
  }));
  QPoint at = list->visualItemRect(other).center();
  QMouseEvent press(QEvent::MouseButtonPress, at, list->viewport()->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(list->viewport(), &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, list->viewport()->mapToGlobal(at), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(list->viewport(), &release);
  bool login = false;
  ASSERT_TRUE(run_until([&] {
    login = other_->line(3).rfind("login ", 0) == 0 || login;
    return login;
  })) << "the other world saw no login";
}

}  // namespace
