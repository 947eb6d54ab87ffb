// The Qt tree of remembered teleports, offscreen: sorted items, a left click that posts the
// place, and renaming from the pop-up menu with Enter and Escape in the real editor.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>
#include <clocale>

#include "client/core/msg.h"
#include "client/servers/teleport.h"
#include "client/ui/teleport_tree.h"
#include "platform/progdir.h"
#include "tests/support/test_util.h"
#include "tests/support/qt_app.h"

// The font library keeps caches for the whole process that the leak checker cannot tell apart
// from leaks; they are not ours.
namespace {

QApplication* app() { return &testutil::qt_app("tree_qt_test"); }

std::vector<std::string> posts;
QWidget* parent_widget = nullptr;
QtTeleportTree* made_tree = nullptr;

class TreeQt : public ::testing::Test {
 protected:
  void SetUp() override {
    app();
    std::filesystem::create_directories(tmp.path() + "/Messages");
    testutil::write_file(tmp.path() + "/Messages/default.tzm", "255 m255\n453 m453\n256 m256\n");
    platform_set_program_dir(tmp.path());
    msg_reset();
    ASSERT_EQ(1, msg_load("default"));
    testutil::write_file(tmp.path() + "/teleport.txt",
                         "a 1N 1W 0a 0:pear\nb 2N 2W 0a 0:Apple\nc 3N 3W 0a 0:mango\n");
    posts.clear();
    teleport_reset_state();
    teleport_hook = teleport_hooks{};
    teleport_hook.behavior_post = [](const char* text) { posts.push_back(text); };
    parent_widget = new QWidget();
    parent_widget->resize(300, 300);
    parent_widget->show();
    teleport_set_tree_maker([]() -> TeleportTreeView* {
      made_tree = new QtTeleportTree(parent_widget);
      return made_tree;
    });
    ASSERT_EQ(0, teleport_init());
    ASSERT_NE(nullptr, made_tree);
    teleport_move_window(0, 0, 300, 300);
  }
  void TearDown() override {
    delete parent_widget;  // takes the tree, which tells the logic
    parent_widget = nullptr;
    made_tree = nullptr;
    teleport_set_tree_maker(nullptr);
    teleport_reset_state();
    teleport_hook = teleport_default_hooks();
    msg_reset();
  }

  QTreeWidgetItem* item(const char* text) {
    auto found = made_tree->findItems(text, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.first();
  }
  void click(QTreeWidgetItem* it, Qt::MouseButton button, QEvent::Type type) {
    QPoint at = made_tree->visualItemRect(it).center();
    QMouseEvent e(type, at, made_tree->viewport()->mapToGlobal(at), button, button, Qt::NoModifier);
    QApplication::sendEvent(made_tree->viewport(), &e);
  }
  // Right button down and up on the item, choosing the menu entry with this text.
  void menu_choose(QTreeWidgetItem* it, const QString& text) {
    QTimer::singleShot(50, [text] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (!menu) {
        ADD_FAILURE() << "no pop-up menu";
        return;
      }
      for (QAction* a : menu->actions())
        if (a->text() == text) menu->setActiveAction(a);
      // As the user does: Enter on the highlighted entry.
      QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
      QApplication::sendEvent(menu, &enter);
    });
    click(it, Qt::RightButton, QEvent::MouseButtonPress);
    click(it, Qt::RightButton, QEvent::MouseButtonRelease);
  }
  QLineEdit* editor() { return made_tree->findChild<QLineEdit*>(); }
  void key(QWidget* w, int k) {
    QKeyEvent down(QEvent::KeyPress, k, Qt::NoModifier);
    QApplication::sendEvent(w, &down);
    QApplication::processEvents();
  }

  testutil::TempDir tmp;
};

TEST_F(TreeQt, ItemsAreSortedAndALeftClickPostsThePlace) {
  EXPECT_EQ("Veldara Teleport List", made_tree->objectName().toStdString());
  EXPECT_FALSE(made_tree->isVisible());
  ASSERT_EQ(3, made_tree->topLevelItemCount());
  EXPECT_EQ("Apple", made_tree->topLevelItem(0)->text(0).toStdString());
  EXPECT_EQ("mango", made_tree->topLevelItem(1)->text(0).toStdString());
  EXPECT_EQ("pear", made_tree->topLevelItem(2)->text(0).toStdString());
  teleport_show();
  EXPECT_TRUE(made_tree->isVisible());
  click(item("mango"), Qt::LeftButton, QEvent::MouseButtonPress);
  EXPECT_EQ(std::vector<std::string>{"teleport c 3N 3W 0a 0"}, posts);
  EXPECT_EQ(item("mango"), made_tree->currentItem());
}

TEST_F(TreeQt, RenamingKeepsTheTextOnEnterAndDropsItOnEscape) {
  teleport_show();
  QApplication::processEvents();
  // Editing that the menu did not start is refused.
  made_tree->editItem(item("pear"));
  EXPECT_EQ(nullptr, editor());
  menu_choose(item("pear"), "m255");
  QLineEdit* line = editor();
  ASSERT_NE(nullptr, line);
  line->setText("plum");
  key(line, Qt::Key_Escape);
  EXPECT_NE(nullptr, item("pear"));
  EXPECT_EQ("a 1N 1W 0a 0:pear\nb 2N 2W 0a 0:Apple\nc 3N 3W 0a 0:mango\n",
            testutil::read_file(tmp.path() + "/teleport.txt"));
  menu_choose(item("pear"), "m255");
  line = editor();
  ASSERT_NE(nullptr, line);
  line->setText("plum");
  key(line, Qt::Key_Return);
  EXPECT_NE(nullptr, item("plum"));
  EXPECT_EQ("plum", teleport_entry_at(0)->label);
  EXPECT_EQ("a 1N 1W 0a 0:plum\nb 2N 2W 0a 0:Apple\nc 3N 3W 0a 0:mango\n",
            testutil::read_file(tmp.path() + "/teleport.txt"));
}

}  // namespace
