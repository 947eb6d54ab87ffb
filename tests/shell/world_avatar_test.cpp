// A right click on another user's avatar in the running program opens the menu over that
// user: mute silences their lines, "add to contacts" reaches the universe, eject opens the
// eject dialog; a right click beside the avatar opens no menu; a gesture button's gesture goes
// out with the own state; a click on a world on the worlds page enters it.
#include "world_avatar.h"

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

TEST_F(WorldAvatar, TheMenuOverAnAvatarMutesAddsAContactAndEjectsAndAGestureGoesOut) {
  ASSERT_NO_FATAL_FAILURE(give_avatars_a_model());
  ASSERT_NE(0, tessel_init(0, "", 1));
  avatar_record* bob = nullptr;
  ASSERT_TRUE(run_until([&] {
    bob = bob_drawn();
    return bob != nullptr;
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
