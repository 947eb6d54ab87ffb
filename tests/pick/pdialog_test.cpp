// The object properties dialog through the scripted view: what it shows, its limits, its
// owner names, and the builder's commands and Enter reaching the selection.
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolBar>

#include "client/core/dates.h"
#include "client/core/identity.h"
#include "client/ui/pdialog_dialog.h"
#include "tests/pick/pick_env.h"
#include "tests/support/qt_app.h"

using namespace ptest;

namespace {

class PdialogTest : public PickFixture {
 protected:
  element* object(int32_t owner, int32_t time = 0, const char* description = "a door") {
    element* e = element_create(0.5, 0, 0.5, 0, 7, "box.rwx", static_cast<int>(strlen(description)), description,
                                5, "hello", 40, owner, time);
    made.push_back(e);
    return e;
  }
  void TearDown() override {
    for (element* e : made) element_destroy(e);
    PickFixture::TearDown();
  }
  std::vector<element*> made;
};

TEST_F(PdialogTest, FillsTheFieldsWithTheirLimitsTitleLabelsAndMenu) {
  pdialog_enable(object(0, 100));
  ScriptedView* v = view();
  ASSERT_NE(nullptr, v);
  EXPECT_EQ("m368", v->title());
  EXPECT_EQ("m369", v->control(PDIALOG_LABEL_MODEL).text);
  EXPECT_EQ("m374", v->control(PDIALOG_LABEL_BUILD_TIME).text);
  EXPECT_EQ("m502", v->control(PDIALOG_MENU_TOP_0).text);
  EXPECT_EQ("m513", v->control(PDIALOG_MENU_TOP_1).text);
  EXPECT_EQ("m503", v->control(PICK_DELETE).text);
  EXPECT_EQ("m514", v->control(PICK_UNDO).text);
  EXPECT_EQ("box.rwx", v->control(PDIALOG_MODEL).text);
  EXPECT_EQ("a door", v->control(PDIALOG_DESCRIPTION).text);
  EXPECT_EQ("hello", v->control(PDIALOG_ACTION).text);
  EXPECT_EQ("0", v->control(PDIALOG_OWNER).text);
  EXPECT_EQ("  m28", v->control(PDIALOG_OWNER_NAME).text);  // owner 0
  EXPECT_EQ(std::string("  ") + date_local(100), v->control(PDIALOG_BUILD_TIME).text);
  EXPECT_TRUE(pdialog_visible());
  EXPECT_EQ(1, pdialog_enabled());
  EXPECT_TRUE(v->control(PICK_DUPLICATE).enabled);
  for (int id : {PDIALOG_MODEL, PDIALOG_DESCRIPTION, PDIALOG_ACTION, PDIALOG_OWNER}) {
    EXPECT_EQ(250u, v->control(id).limit) << id;
    v->set_text(id, "");
    v->type(id, std::string(300, 'x'));
    EXPECT_EQ(250u, v->control(id).text.size());
  }
  char small[6];
  pdialog_model(small, sizeof small);
  EXPECT_STREQ("xxxxx", small);
  // The owner edit: at most 19 characters read, as a number.
  v->set_text(PDIALOG_OWNER, "12345678901234567890123");
  EXPECT_EQ(INT32_MAX, pdialog_owner());
  v->set_text(PDIALOG_OWNER, "abc");
  EXPECT_EQ(0, pdialog_owner());
  v->set_text(PDIALOG_OWNER, "-42");
  EXPECT_EQ(-42, pdialog_owner());
  // Undo's copies are the texts as last filled.
  pdialog_reset_texts();
  EXPECT_EQ("a door", v->control(PDIALOG_DESCRIPTION).text);
  EXPECT_EQ("0", v->control(PDIALOG_OWNER).text);
  // Several objects: empty and disabled.
  pdialog_show();
  EXPECT_EQ(0, pdialog_enabled());
  EXPECT_EQ("", v->control(PDIALOG_DESCRIPTION).text);
  EXPECT_EQ("", v->control(PDIALOG_OWNER_NAME).text);
  EXPECT_FALSE(v->control(PDIALOG_ACTION).enabled);
  EXPECT_FALSE(v->control(PICK_DUPLICATE).enabled);
  pdialog_hide();
  EXPECT_FALSE(pdialog_visible());
  EXPECT_EQ(v, view());  // hidden, not destroyed
}

TEST_F(PdialogTest, OwnerNamesComeFromTheUserTheCacheOrTheUniverse) {
  pdialog_enable(object(101));
  EXPECT_EQ("  Tester", view()->control(PDIALOG_OWNER_NAME).text);
  EXPECT_EQ(0, pdialog_awaited());
  pdialog_enable(object(7));
  EXPECT_EQ("  ", view()->control(PDIALOG_OWNER_NAME).text);
  EXPECT_EQ(7, pdialog_awaited());
  // A reply for another number is cached but leaves the dialog alone.
  universe_receiver.pdialog_citizen_name(0, 9, "Other");
  EXPECT_EQ("  ", view()->control(PDIALOG_OWNER_NAME).text);
  universe_receiver.pdialog_citizen_name(0, 7, "Bob");
  EXPECT_EQ("  Bob", view()->control(PDIALOG_OWNER_NAME).text);
  EXPECT_EQ(0, pdialog_awaited());
  pdialog_enable(object(9));
  EXPECT_EQ("  Other", view()->control(PDIALOG_OWNER_NAME).text);
  EXPECT_EQ(0, pdialog_awaited());
  // A failed lookup shows message 29; a huge name is cut, not overrun.
  pdialog_enable(object(11));
  universe_receiver.pdialog_citizen_name(3, 11, nullptr);
  EXPECT_EQ("  m29", view()->control(PDIALOG_OWNER_NAME).text);
  pdialog_enable(object(12));
  std::string huge(5000, 'n');
  universe_receiver.pdialog_citizen_name(0, 12, huge.c_str());
  EXPECT_EQ(2u + 255u, view()->control(PDIALOG_OWNER_NAME).text.size());
}

class PdialogPick : public PickFixture {
 protected:
  void SetUp() override {
    PickFixture::SetUp();
    if (HasFatalFailure()) return;
    cell_update_begin(0, 0, 1);
    store_at(0, 0, 5, 100, -10, 300, 0, 7, "words");
    cell_update_end(0);
    ASSERT_NO_FATAL_FAILURE(load(0, 0));
  }
};

TEST_F(PdialogPick, ButtonsEnterAndClosingDriveTheSelection) {
  element* e = loaded(0, 0, 5);
  ASSERT_NE(nullptr, e);
  EXPECT_EQ(1, click(e));
  ScriptedView* v = view();
  ASSERT_NE(nullptr, v);
  // Through the main command dispatcher to the builder.
  EXPECT_TRUE(v->press(PICK_RAISE));
  EXPECT_NEAR(0.04, element_y(e), 1e-9);
  // Edited texts come back with undo.
  v->type(PDIALOG_DESCRIPTION, " more");
  EXPECT_TRUE(v->press(PICK_UNDO));
  EXPECT_EQ("words", v->control(PDIALOG_DESCRIPTION).text);
  EXPECT_NEAR(-0.01, element_y(e), 1e-9);
  // Other keys are the edit's own; Enter commits (nothing changed: nothing sent).
  EXPECT_FALSE(pdialog_key(PDIALOG_ACTION, 'a', false));
  EXPECT_EQ(1, pick_count());
  EXPECT_TRUE(pdialog_key(PDIALOG_ACTION, 0x0D, false));
  EXPECT_EQ(0, pick_count());
  EXPECT_EQ(0, prop_pending_count());
  // Closing the window ends building and hides it.
  EXPECT_EQ(1, click(loaded(0, 0, 5)));
  pick_command(PICK_LOWER);
  v->post_close();
  v->pump();
  EXPECT_EQ(0, pick_count());
  EXPECT_FALSE(pdialog_visible());
  EXPECT_EQ(1, prop_pending_count());
  // Every command of the window goes to the dispatcher.
  static int handled = 0;
  pdialog_hook.menu_handle = [](int id) { handled = id; };
  EXPECT_EQ(1, click(loaded(0, 0, vtest::numbers_in(0, 0).at(0))));
  v->press(PICK_DELETE);
  EXPECT_EQ(PICK_DELETE, handled);
  EXPECT_EQ(1, pick_count());
  pdialog_hook = {};
}

// A window layer that records where it is put.
struct Placed {
  int x = -100, y = -100, shows = 0;
};
Placed placed;
std::unique_ptr<ScriptedView> window_view;
const pdialog_window_ops recording_ops = {
    [](DialogController& c) -> DialogView* {
      window_view = std::make_unique<ScriptedView>(PDIALOG_DIALOG, c);
      return window_view.get();
    },
    [](DialogView*, bool shown) { placed.shows += shown ? 1 : 0; },
    [](DialogView*, int x, int y) {
      placed.x = x;
      placed.y = y;
    },
    [](DialogView*, int* w, int* h) {
      *w = 300;
      *h = 200;
    },
    nullptr,
};

TEST_F(PdialogTest, APlaceFromTheSettingsElseBesideTheMainWindowOnTheScreen) {
  pdialog_set_window(&recording_ops);
  placed = Placed{};
  profile_set_int("layout", "object_x", 40);
  profile_set_int("layout", "object_y", 50);
  pdialog_enable(object(0));
  EXPECT_EQ(40, placed.x);
  EXPECT_EQ(50, placed.y);
  EXPECT_EQ(1, placed.shows);
  EXPECT_EQ(window_view.get(), pdialog_view());
  pdialog_moved(12, 34);
  EXPECT_EQ(12, profile_int("layout", "object_x"));
  EXPECT_EQ(34, profile_int("layout", "object_y"));
  pdialog_term();
  // Absent: beside the main window, kept on the screen.
  profile_set_int("layout", "object_x", -1);
  placed = Placed{};
  pdialog_enable(object(0));
  int sw = 0, sh = 0;
  boxes.screen_size(&sw, &sh);
  EXPECT_GE(placed.x, 0);
  EXPECT_LE(placed.x, sw - 300);
  EXPECT_LE(placed.y, sh - 200);
  pdialog_term();
  pdialog_set_window(nullptr);
  window_view.reset();
}

}  // namespace

// ---- the Qt window -----------------------------------------------------------------------

namespace {

QApplication& app() { return testutil::qt_app("pick_tests"); }

QLineEdit* edit_with(QWidget& root, const QString& text) {
  for (QLineEdit* e : root.findChildren<QLineEdit*>())
    if (e->text() == text) return e;
  return nullptr;
}

TEST_F(PdialogTest, TheQtWindowShowsTheFieldsKeepsTheLimitAndEnterEndsBuilding) {
  app();
  {
    QWidget main_window;
    pdialog_dialogs_register(&main_window);
    pdialog_enable(object(0, 0, "a door"));
    QWidget* window = nullptr;
    for (QWidget* w : main_window.findChildren<QWidget*>())
      if (w->windowType() == Qt::Tool) window = w;
    ASSERT_NE(nullptr, window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ("m368", window->windowTitle().toStdString());
    QLineEdit* description = edit_with(main_window, "a door");
    ASSERT_NE(nullptr, description);
    EXPECT_EQ(250, description->maxLength());
    description->setText(QString(300, 'q'));
    char buffer[300];
    pdialog_description(buffer, sizeof buffer);
    EXPECT_EQ(250u, strlen(buffer));
    // Duplicate: enabled for one object, disabled for several, in the menu and the toolbar.
    QAction* duplicate = nullptr;
    for (QToolBar* t : main_window.findChildren<QToolBar*>())
      for (QAction* a : t->actions())
        if (a->text() == "109") duplicate = a;  // the builder's Duplicate
    ASSERT_NE(nullptr, duplicate);
    EXPECT_TRUE(duplicate->isEnabled());
    pdialog_show();
    EXPECT_FALSE(duplicate->isEnabled());
    EXPECT_FALSE(description->isEnabled());
    pdialog_enable(object(0, 0, "again"));
    // Enter in an edit ends building (and gives the focus back to the main window).
    int focus = boxes.focus_count();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(edit_with(main_window, "again"), &enter);
    EXPECT_EQ(focus + 1, boxes.focus_count());
    // Closing hides it; it stays.
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(pdialog_visible());
    pdialog_term();
  }
  pdialog_set_window(nullptr);
}

}  // namespace
