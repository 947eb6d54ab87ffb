#include "client/ui/quit_signals.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <QTimer>

#include "client/core/log.h"
#include "client/core/tessel.h"
#include "client/ui/qt_host.h"
#include "client/ui/qt_menu.h"
#include "platform/signals.h"

namespace {

// The window closes once no pop-up menu runs: a menu's loop would otherwise see the window,
// its owner, deleted under it.
void close_window(QtHost& host) {
  if (qt_menus_running() > 0) {
    QTimer::singleShot(10, &host, [&host] { close_window(host); });
    return;
  }
  if (host.window_exists())
    host.send(HostEvent{HOST_WM_CLOSE, 0, 0, 0});
  else
    tessel_quit();
}

}  // namespace

void quit_signals_qt_install(QtHost& host) {
  int fd = signals_watch();
  if (fd < 0) return;
  auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &host);
  QObject::connect(notifier, &QSocketNotifier::activated, &host, [&host] {
    int number = signals_take();
    if (!number) return;
    if (trace_switches[TRACE_GENERAL]) log_write("signal %d: shutting down", number);
    tessel_request_quit();
    // A menu, a modal box or a dialog would hold the loop: menus close, boxes take their
    // default, dialogs cancel.
    qt_menus_close();
    host.close_boxes();
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) d->reject();
    // During start-up there is no loop to end yet: its next step sees the request and runs
    // the shutdown (closing the window now would only make the next step fail).
    if (tessel_starting()) return;
    close_window(host);
  });
}
