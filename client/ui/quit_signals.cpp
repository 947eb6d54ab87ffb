#include "client/ui/quit_signals.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>

#include "client/core/log.h"
#include "client/core/tessel.h"
#include "client/ui/qt_host.h"
#include "platform/signals.h"

void quit_signals_qt_install(QtHost& host) {
  int fd = signals_watch();
  if (fd < 0) return;
  auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &host);
  QObject::connect(notifier, &QSocketNotifier::activated, &host, [&host] {
    int number = signals_take();
    if (!number) return;
    if (trace_switches[TRACE_GENERAL]) log_write("signal %d: shutting down", number);
    tessel_request_quit();
    // A modal box or dialog would hold the loop: boxes take their default, dialogs cancel.
    host.close_boxes();
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) d->reject();
    // During start-up there is no loop to end yet: its next step sees the request and runs
    // the shutdown (closing the window now would only make the next step fail).
    if (tessel_starting()) return;
    if (host.window_exists())
      host.send(HostEvent{HOST_WM_CLOSE, 0, 0, 0});
    else
      tessel_quit();
  });
}
