#include "client/ui/qt_host.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QMessageBox>
#include <QScreen>
#include <QSocketNotifier>
#include <algorithm>
#include <climits>
#include <cstdio>

#include "client/core/strutil.h"
#include "client/ui/qt_menu.h"
#include "client/ui/qt_windows.h"
#include "client/ui/splash_picture.h"
#include "client/ui/text.h"

QtHost::QtHost() {
  // Each idle frame schedules the next, one refresh after it began.
  idle_timer_.setSingleShot(true);
  idle_timer_.setTimerType(Qt::PreciseTimer);
  connect(&idle_timer_, &QTimer::timeout, this, &QtHost::idle_frame);
  // The program's activation is the window system's WM_ACTIVATEAPP.
  connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
    if (s == Qt::ApplicationActive || s == Qt::ApplicationInactive)
      send(HostEvent{HOST_WM_ACTIVATEAPP, s == Qt::ApplicationActive ? 1 : 0, 0, 0});
  });
}

QtHost::~QtHost() {
  for (auto& [id, t] : timers_) delete t;
  for (auto& [fd, n] : watches_) delete n;
  delete about_.data();
  delete window_;
}

int QtHost::message_box(const char* text, const char* caption, unsigned flags) {
  // The terminal gets no codes from a world's name or a server's error text.
  std::fprintf(stderr, "[%s] %s\n", text_printable(caption, false).c_str(), text_printable(text, true).c_str());
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (flags & HOST_MB_ICONS) {
    case HOST_MB_ICONERROR: icon = QMessageBox::Critical; break;
    case HOST_MB_ICONWARNING: icon = QMessageBox::Warning; break;
    case HOST_MB_ICONINFORMATION: icon = QMessageBox::Information; break;
    default: break;
  }
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  switch (flags & HOST_MB_BUTTONS) {
    case HOST_MB_OKCANCEL: buttons = QMessageBox::Ok | QMessageBox::Cancel; break;
    case HOST_MB_YESNO: buttons = QMessageBox::Yes | QMessageBox::No; break;
    default: break;
  }
  // Over the window it speaks of, centred there even without a window manager.
  // Plain text: a name such as "<h1>x" from a server is shown as those characters.
  QMessageBox box(icon, text_to_qt_shown(caption, true), QString(), buttons, dialog_parent());
  box.setTextFormat(Qt::PlainText);
  box.setText(text_to_qt_shown(text));
  box.setObjectName("tessel_message_box");
  int r = box.exec();
  switch (r) {
    case QMessageBox::Cancel: return HOST_IDCANCEL;
    case QMessageBox::Yes: return HOST_IDYES;
    case QMessageBox::No: return HOST_IDNO;
    case QMessageBox::Ok: return HOST_IDOK;
    default: return host_default_answer(flags);  // closed without a button
  }
}

int QtHost::popup_menu(const HostMenuItem* items, size_t count) {
  return qt_popup_menu(main_widget(), items, count);
}

void QtHost::close_boxes() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      if (box->isVisible()) box->done(box->defaultButton() ? box->standardButton(box->defaultButton())
                                                            : QMessageBox::Ok);
    }
  }
}

void QtHost::post_quit(int code) {
  quit_pending_ = true;
  quit_code_ = code;
  // An open pop-up menu would hold the loop until someone closed it.
  qt_menus_close();
  for (QEventLoop* l : loops_) l->exit(code);
}

int QtHost::run_loop() {
  if (!quit_pending_) {
    QEventLoop loop;
    loops_.push_back(&loop);
    update_idle();
    loop.exec();
    loops_.pop_back();
  }
  quit_pending_ = false;
  idle_timer_.stop();
  return quit_code_;
}

void QtHost::set_idle(void (*fn)()) {
  idle_ = fn;
  update_idle();
}

void QtHost::set_foreground(bool foreground) {
  foreground_ = foreground;
  update_idle();
}

double QtHost::refresh_rate() const {
  QScreen* s = window_ ? window_->screen() : QGuiApplication::primaryScreen();
  double rate = s ? s->refreshRate() : 0;
  return rate >= 1 ? rate : 60;
}

// The system was made for 10-30 frames a second: drawing more than the screen shows only
// burns a core. A minimised window draws only from the 500 ms frame timer.
void QtHost::update_idle() {
  if (!idle_ || !foreground_ || (window_ && window_->isMinimized())) {
    idle_timer_.stop();
    return;
  }
  if (idle_timer_.isActive()) return;
  qint64 period = static_cast<qint64>(1e9 / refresh_rate());
  qint64 wait = last_idle_.isValid() ? period - last_idle_.nsecsElapsed() : 0;
  idle_timer_.start(wait > 0 ? static_cast<int>((wait + 999999) / 1000000) : 0);
}

void QtHost::idle_frame() {
  if (!idle_ || !foreground_ || (window_ && window_->isMinimized())) return;
  last_idle_.start();
  ++frame_steps_;
  idle_();
  update_idle();
}

// Minimised and restored again: the idle frames stop and start with it.
bool QtHost::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_ && (event->type() == QEvent::WindowStateChange ||
                             event->type() == QEvent::Show || event->type() == QEvent::Hide))
    QMetaObject::invokeMethod(this, &QtHost::update_idle, Qt::QueuedConnection);
  return QObject::eventFilter(watched, event);
}

QWidget* QtHost::dialog_parent() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return window_;
}

bool QtHost::run_modal(bool (*done)(void* user), void* user) {
  if (quit_pending_) return false;
  if (done && done(user)) return true;
  QEventLoop loop;
  QTimer check;
  check.setInterval(5);
  connect(&check, &QTimer::timeout, &loop, [&] {
    if (done && done(user)) loop.exit(0);
  });
  check.start();
  loops_.push_back(&loop);
  loop.exec();
  loops_.pop_back();
  return !quit_pending_ && done && done(user);
}

void QtHost::watch_fd(int fd, HostFdFn fn, void* user) {
  auto it = watches_.find(fd);
  if (it != watches_.end()) {
    it->second->setEnabled(false);
    it->second->deleteLater();
    watches_.erase(it);
  }
  if (!fn) return;
  auto* n = new QSocketNotifier(fd, QSocketNotifier::Read);
  connect(n, &QSocketNotifier::activated, this, [fn, fd, user] { fn(fd, user); });
  watches_[fd] = n;
}

bool QtHost::window_create(const char* title, const HostRect& rect, int min_width,
                           int min_height, HostWindowProc proc) {
  if (window_) return false;
  proc_ = proc;
  window_ = new QtMainWindow(this);
  window_->installEventFilter(this);
  window_->setWindowTitle(text_to_qt_shown(title, true));
  window_->setMinimumSize(min_width, min_height);
  // Within the free area of the screen the window lands on (its centre), whatever was asked.
  QScreen* s = nullptr;
  if (rect.x != HOST_DEFAULT_POS) {
    long long cx = static_cast<long long>(rect.x) + rect.width / 2;
    long long cy = static_cast<long long>(rect.y) + rect.height / 2;
    if (cx >= INT_MIN && cx <= INT_MAX && cy >= INT_MIN && cy <= INT_MAX)
      s = QGuiApplication::screenAt(QPoint(static_cast<int>(cx), static_cast<int>(cy)));
  }
  if (!s) s = QGuiApplication::primaryScreen();
  QRect free = s ? s->availableGeometry() : QRect(0, 0, 1024, 768);
  int w = std::max(std::min(rect.width, free.width()), min_width);
  int h = std::max(std::min(rect.height, free.height()), min_height);
  if (rect.x == HOST_DEFAULT_POS) {
    window_->resize(w, h);
  } else {
    int x = std::max(std::min(rect.x, free.x() + free.width() - w), free.x());
    int y = std::max(std::min(rect.y, free.y() + free.height() - h), free.y());
    window_->setGeometry(x, y, w, h);
  }
  return true;
}

void QtHost::window_set_title(const char* title) {
  if (window_) window_->setWindowTitle(text_to_qt_shown(title, true));
}

void QtHost::window_show(int show) {
  if (!window_) return;
  if (show == HOST_SHOW_MAXIMIZED)
    window_->showMaximized();
  else
    window_->show();
  // The keyboard starts with the main window itself (the arrows turn the view), not with the
  // first control that would take it.
  window_->setFocus(Qt::ActiveWindowFocusReason);
}

void QtHost::window_destroy() {
  if (!window_) return;
  send(HostEvent{HOST_WM_DESTROY, 0, 0, 0});
  QtMainWindow* w = window_;
  window_ = nullptr;
  proc_ = nullptr;
  w->destroying = true;
  w->hide();
  w->deleteLater();  // we may be inside one of its own event handlers
}

HostRect QtHost::window_rect() {
  if (!window_) return HostRect{0, 0, 0, 0};
  QRect g = window_->geometry();
  return HostRect{g.x(), g.y(), g.width(), g.height()};
}

bool QtHost::window_iconic() { return window_ && window_->isMinimized(); }
bool QtHost::window_maximized() { return window_ && window_->isMaximized(); }

void QtHost::window_focus() {
  if (window_) window_->setFocus(Qt::OtherFocusReason);
}

// Only a click makes the main window the active one: a page that finished loading must not
// take the keyboard from another program. A modal dialog keeps it.
void QtHost::click_focus() {
  if (!window_ || QApplication::activeModalWidget()) return;
  if (QApplication::activeWindow() != window_) window_->activateWindow();
  window_->setFocus(Qt::MouseFocusReason);
}

void QtHost::window_raise() {
  if (!window_) return;
  if (window_->isMinimized()) window_->showNormal();
  if (QGuiApplication::platformName() == QLatin1String("offscreen")) return;
  window_->raise();
  window_->activateWindow();
  if (about_) about_->raise();
}

void QtHost::post_event(const HostEvent& event) {
  QMetaObject::invokeMethod(this, [this, event] { send(event); }, Qt::QueuedConnection);
}

int QtHost::set_timer(int id, int milliseconds) {
  if (id == 0 || milliseconds < 0) return 0;
  // The desktop's timers fire no faster than about every 10 ms: a 0 ms one is no busy wait.
  if (milliseconds < 10) milliseconds = 10;
  QTimer*& t = timers_[id];
  if (!t) {
    t = new QTimer;
    connect(t, &QTimer::timeout, this, [this, id] {
      ++frame_steps_;
      send(HostEvent{HOST_WM_TIMER, id, 0, 0});
    });
  }
  t->start(milliseconds);
  return id;
}

void QtHost::kill_timer(int id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  it->second->stop();
  it->second->deleteLater();
  timers_.erase(it);
}

void QtHost::screen_size(int* width, int* height) {
  QScreen* s = QGuiApplication::primaryScreen();
  QRect g = s ? s->geometry() : QRect(0, 0, 1024, 768);
  if (width) *width = g.width();
  if (height) *height = g.height();
}

long QtHost::send(const HostEvent& event) {
  if (!window_ || !proc_) return HOST_DEFAULT;
  long r = proc_(event);
  if (r != HOST_DEFAULT) return r;
  // The default handling carries a system command out (1); only the procedure's own 0 refuses
  // it (the kiosk, mover mode), and a refused minimise is undone.
  if (event.message == HOST_WM_SYSCOMMAND) {
    if (event.wparam == HOST_SC_CLOSE) send(HostEvent{HOST_WM_CLOSE, 0, 0, 0});
    return 1;
  }
  if (event.message == HOST_WM_CLOSE) window_destroy();
  return 0;
}

QWidget* QtHost::main_widget() { return window_; }
QWidget* QtHost::about_widget() { return about_.data(); }

bool QtHost::about_create(HostCommandFn command) {
  if (about_) return true;
  about_command_ = command;
  about_ = new QtAboutBox(command);
  return true;
}

bool QtHost::about_exists() { return !about_.isNull(); }

void QtHost::about_destroy() {
  if (!about_) return;
  QtAboutBox* box = about_.data();
  about_.clear();
  box->hide();
  box->deleteLater();  // a button of its own may be calling us
  ++about_destroyed_;
}

void QtHost::about_show() {
  if (!about_) return;
  // Centred over the main window, or over the screen before the window shows: without a
  // window manager nothing else would move it from the corner.
  QRect over = window_ && window_->isVisible() ? window_->frameGeometry() : QRect();
  if (over.isEmpty()) {
    QScreen* s = window_ ? window_->screen() : QGuiApplication::primaryScreen();
    over = s ? s->availableGeometry() : QRect(0, 0, 1024, 768);
  }
  QRect box = about_->frameGeometry();
  box.moveCenter(over.center());
  about_->move(box.topLeft());
  about_->show();
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) about_->raise();
  ++about_shown_;
}

void QtHost::about_set_text(int control, const char* text) {
  if (about_) about_->set_text(control, text_to_qt_shown(text));
}

void QtHost::about_show_control(int control, bool shown) {
  if (about_) about_->show_control(control, shown);
}

void QtHost::about_set_picture(const char* bmp_path) {
  if (!about_) return;
  about_->set_picture(splash_picture(bmp_path));
}
