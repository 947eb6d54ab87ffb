// upgrade <host> <kit> <execute...>: brings tessel up to date from an upgrade kit.
#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>

#include <clocale>
#include <string>

#include "client/ui/fonts.h"
#include "platform/progdir.h"
#include "platform/signals.h"
#include "upgrade/upgrade.h"
#include "upgrade/window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  fonts_qt_install();
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  upgrade::QtUpgradeView view;
  // SIGTERM, SIGINT and SIGHUP end the program as closing its window does.
  int fd = signals_watch();
  if (fd >= 0) {
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&view] {
      if (!signals_take()) return;
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) box->done(QMessageBox::Ok);
      view.destroy();
      QCoreApplication::exit(0);
    });
  }
  return upgrade::upgrade_main(&view, upgrade::upgrade_default_system(), line, platform_program_dir());
}
