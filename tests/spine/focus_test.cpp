// Where the keyboard goes in the real main window offscreen: after the web pane, a dialog,
// another window of ours and the chat line have each had it, an arrow key still reaches the
// key state that movement reads, or a click in the 3D view brings it back.
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <memory>

#include "client/app/frame.h"
#include "client/core/keys.h"
#include "client/servers/prompt.h"
#include "client/shell/chat.h"
#include "client/shell/console.h"
#include "client/shell/web.h"
#include "client/scene/display_viewport.h"
#include "client/ui/chat_line.h"
#include "client/ui/prompt_dialog.h"
#include "client/ui/qt_dialog.h"
#include "client/ui/qt_host.h"
#include "client/ui/qt_windows.h"
#include "client/ui/viewport.h"
#include "client/ui/web_pane.h"
#include "spine_fixture.h"
#include "tests/support/qt_app.h"

namespace {

QApplication& app() { return testutil::qt_app("spine_focus_tests", web_pane_prepare); }

// The universe answers at once and the login succeeds: the program goes on to the 3D start.
int f_update() { return 0; }
bool f_connected() { return true; }
int f_auto() { return 0; }
int f_done() { return 1; }
int f_result() { return 0; }
const FrameLinks focus_links = {f_update, f_connected, nullptr, f_auto, f_done,
                                f_result, nullptr,     nullptr, nullptr};

class Focus : public Spine {
 protected:
  Focus() : qt_((app(), std::make_unique<QtHost>())) {}
  void SetUp() override {
    Spine::SetUp();
    platform_set_clock(nullptr);
    host_set(qt_.get());
    viewport_qt_install(*qt_);
    chat_qt_install(*qt_);
    web_pane_qt_install(*qt_);
    qt_dialog_install();
    prompt_dialogs_register();
  }
  void TearDown() override {
    if (tessel_frame_state() != FRAME_SHUT_DOWN) tessel_shutdown(nullptr);
    web_pane_qt_release();  // as the program does before its host goes
    viewport_set_surface_maker(nullptr);
    chat_set_view_maker(nullptr);
    console_set_view_maker(nullptr);
    web_set_container_maker(nullptr);
    Spine::TearDown();
  }
  // Started and running, the main window shown with its panes laid out and the keyboard.
  void run_program() {
    install("[display]\ndepth=1\n[show]\nweb=1\n[layout]\nmain_width=900\nmain_height=500\n");
    ASSERT_TRUE(start());
    frame_set_links(&focus_links);
    for (int i = 0; i < 200 && tessel_frame_state() != FRAME_RUNNING; ++i) {
      QApplication::processEvents();
      tessel_frame();
    }
    ASSERT_EQ(FRAME_RUNNING, tessel_frame_state());
    main_ = qt_->main_widget();
    ASSERT_NE(nullptr, main_);
    main_->show();
    main_->activateWindow();
    settle();
    view_ = main_->findChild<QtViewportWidget*>();
    ASSERT_NE(nullptr, view_);
    ASSERT_GT(view_->width(), 20);
    ASSERT_NE(nullptr, chat_qt_line());
  }
  void settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
  }
  // The window the window system hands keys to: the active one, else the main window.
  QWindow* keyboard_window() {
    QWindow* w = QGuiApplication::focusWindow();
    return w ? w : main_->windowHandle();
  }
  void key(QEvent::Type type, int qt_key, const QString& text = QString()) {
    QKeyEvent e(type, qt_key, Qt::NoModifier, text);
    QApplication::sendEvent(keyboard_window(), &e);
  }
  // A press of Left as a person gives it: does movement see the key held?
  bool arrow_turns() {
    key_reset();
    key(QEvent::KeyPress, Qt::Key_Left);
    bool held = key_pressed(VK_KEY_LEFT);
    key(QEvent::KeyRelease, Qt::Key_Left);
    settle();
    return held;
  }
  void type(const char* text) {
    for (const char* p = text; *p; ++p) {
      key(QEvent::KeyPress, Qt::Key_A + (*p - 'a'), QString(QChar(*p)));
      key(QEvent::KeyRelease, Qt::Key_A + (*p - 'a'), QString(QChar(*p)));
    }
  }
  // A left click through the main window's own window, at a widget's middle.
  void click(QWidget* w) {
    QPointF at = w->mapTo(main_, QPointF(w->width() / 2.0, w->height() / 2.0));
    QWindow* win = main_->windowHandle();
    QPointF global = main_->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(win, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(win, &release);
    settle();
  }
  QString chat_text() { return chat_qt_line()->QLineEdit::text(); }

  std::unique_ptr<QtHost> qt_;
  QWidget* main_ = nullptr;
  QtViewportWidget* view_ = nullptr;
};

TEST_F(Focus, TypingFillsTheChatLineWhileTheArrowsGoOnTurning) {
  ASSERT_NO_FATAL_FAILURE(run_program());
  ASSERT_TRUE(arrow_turns());
  type("hi");
  EXPECT_EQ(QString("hi"), chat_text());
  EXPECT_TRUE(arrow_turns()) << "the keyboard went to "
                             << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString() : "nothing");
  type("ya");
  EXPECT_EQ(QString("hiya"), chat_text());
  // Enter sends the line and empties it; the arrows still turn.
  key(QEvent::KeyPress, Qt::Key_Return, "\r");
  key(QEvent::KeyRelease, Qt::Key_Return, "\r");
  EXPECT_TRUE(chat_text().isEmpty());
  EXPECT_TRUE(arrow_turns());
}

TEST_F(Focus, AClickInTheViewTakesTheKeyboardBackFromWhoeverHadIt) {
  ASSERT_NO_FATAL_FAILURE(run_program());
  // The chat line clicked: it has the keyboard (the arrows move its caret) until a click in
  // the view.
  click(chat_qt_line());
  EXPECT_EQ(chat_qt_line(), QApplication::focusWidget());
  EXPECT_FALSE(arrow_turns());
  key(QEvent::KeyPress, Qt::Key_Shift);
  key(QEvent::KeyRelease, Qt::Key_Shift);
  EXPECT_FALSE(qt_->key_down(VK_KEY_SHIFT));  // let go there, let go for movement too
  click(view_);
  EXPECT_TRUE(arrow_turns());

#if TESSEL_WEBENGINE
  // The web pane: a click there makes its window (shown inside the main window) the active
  // one, and its page takes the keyboard through the view's own focus proxy.
  QWidget* pane = web_pane_widget();
  ASSERT_NE(nullptr, pane);
  ASSERT_TRUE(pane->isVisible());
  pane->activateWindow();
  pane->setFocus(Qt::MouseFocusReason);
  settle();
  EXPECT_FALSE(arrow_turns());
  click(view_);
  EXPECT_TRUE(arrow_turns());
#endif

  // Another window of ours took the keyboard (a tool window the user clicked into).
  QWidget tool(main_, Qt::Tool);
  tool.setFocusPolicy(Qt::StrongFocus);
  tool.resize(200, 100);
  tool.show();
  tool.activateWindow();
  settle();
  ASSERT_EQ(tool.windowHandle(), QGuiApplication::focusWindow());
  EXPECT_FALSE(arrow_turns());
  click(view_);
  EXPECT_EQ(main_->windowHandle(), QGuiApplication::focusWindow());
  EXPECT_TRUE(arrow_turns());
  tool.hide();
  settle();
  EXPECT_TRUE(arrow_turns());
  key(QEvent::KeyPress, Qt::Key_Shift);
  QApplication::setActiveWindow(nullptr);
  EXPECT_FALSE(qt_->key_down(VK_KEY_SHIFT));  // the program lost the keyboard: no rise seen
}

TEST_F(Focus, AClosedDialogLeavesTheKeyboardToTheMainWindowAndOpensOverIt) {
  ASSERT_NO_FATAL_FAILURE(run_program());
  main_->move(100, 60);
  settle();
  bool seen = false;
  QWidget* parent = nullptr;
  QRect where;
  QTimer::singleShot(50, [&] {
    QWidget* dialog = QApplication::activeModalWidget();
    if (!dialog) return;
    seen = true;
    parent = dialog->parentWidget();
    where = dialog->frameGeometry();
    // Typed into the dialog's edit, then cancelled.
    if (auto* edit = dialog->findChild<QLineEdit*>()) edit->setFocus();
    type("no");
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(keyboard_window(), &esc);
  });
  QTimer::singleShot(5000, [] {
    if (QWidget* w = QApplication::activeModalWidget()) w->close();  // never hang
  });
  EXPECT_EQ(nullptr, prompt_text("title", "label", ""));
  ASSERT_TRUE(seen) << "no dialog was shown";
  // Centred over the main window, whatever the window manager does or whether there is one.
  QPoint centre = main_->frameGeometry().center();
  EXPECT_LE(std::abs(where.center().x() - centre.x()), 30) << where.x() << "," << where.y();
  EXPECT_LE(std::abs(where.center().y() - centre.y()), 60) << where.x() << "," << where.y();
  EXPECT_EQ(main_, parent);
  settle();
  EXPECT_TRUE(chat_text().isEmpty()) << "the dialog's keys reached the chat line";
  EXPECT_TRUE(arrow_turns());
  click(view_);
  EXPECT_TRUE(arrow_turns());
}

}  // namespace
