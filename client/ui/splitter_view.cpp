#include "client/ui/splitter_view.h"

#include <QCursor>
#include <QMouseEvent>

#include "client/ui/qt_host.h"
#include "client/ui/qt_windows.h"

QtSplitterView::QtSplitterView(QtHost* host) : host_(host) {}

QWidget* QtSplitterView::main() {
  QWidget* w = host_ ? host_->main_widget() : nullptr;
  if (w && w != watched_) {
    watched_ = w;
    known_ = false;
    w->setMouseTracking(true);
    w->installEventFilter(this);
  }
  return w;
}

int QtSplitterView::client_top() {
  auto* w = qobject_cast<QtMainWindow*>(main());
  return w ? w->client_top() : 0;
}

// The main window's own mouse events tell where the pointer is (the platform's pointer
// position is not always there to read).
bool QtSplitterView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == watched_ &&
      (event->type() == QEvent::MouseMove || event->type() == QEvent::MouseButtonPress ||
       event->type() == QEvent::MouseButtonRelease)) {
    last_ = static_cast<QMouseEvent*>(event)->position().toPoint();
    known_ = true;
  }
  return QObject::eventFilter(watched, event);
}

void QtSplitterView::pointer(int* x, int* y) {
  QWidget* w = main();
  QPoint p = known_ || !w ? last_ : w->mapFromGlobal(QCursor::pos());
  if (x) *x = p.x();
  if (y) *y = p.y() - client_top();
}

void QtSplitterView::capture() {
  if (QWidget* w = main()) w->grabMouse();
}

void QtSplitterView::release() {
  if (QWidget* w = main()) w->releaseMouse();
  // The window system reports the capture lost to the window that had it.
  if (host_) host_->send(HostEvent{HOST_WM_CAPTURECHANGED, 0, 0, 0});
}

void QtSplitterView::bar(bool shown, int x0, int y0, int x1, int y1) {
  QWidget* w = main();
  if (!w) return;
  if (!bar_) {
    bar_ = new QWidget(w);
    bar_->setObjectName("drag bar");
    bar_->setAutoFillBackground(true);
    QPalette p = bar_->palette();
    p.setColor(QPalette::Window, Qt::black);
    bar_->setPalette(p);
    bar_->setAttribute(Qt::WA_TransparentForMouseEvents);
  }
  if (!shown) {
    bar_->hide();
    return;
  }
  // Client coordinates: the main window moves its panes below the menu bar.
  bar_->setGeometry(x0, y0, x1 - x0 > 0 ? x1 - x0 : 1, y1 - y0 > 0 ? y1 - y0 : 1);
  bar_->raise();
  bar_->show();
}

void QtSplitterView::cursor(Cursor shape) {
  QWidget* w = main();
  if (!w) return;
  w->setCursor(shape == SIZE_NS ? Qt::SizeVerCursor : shape == SIZE_WE ? Qt::SizeHorCursor : Qt::ArrowCursor);
}

void splitter_view_qt_install(QtHost& host) {
  static QtSplitterView* view = nullptr;
  delete view;
  view = new QtSplitterView(&host);
  slider_set_view(view);
}
