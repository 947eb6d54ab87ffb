#pragma once
// The one QApplication of a Qt test program: made on first use, on the offscreen platform
// unless the run names another, with C number formatting as the program keeps it. It is
// destroyed at the end of main, as the program's own is: left to the process's exit, the web
// engine's threads may still run while the libraries' statics go, and among the static
// destructors it would go after Qt's own.
#include <QApplication>
#include <clocale>
#include <cstdlib>

extern void (*tessel_test_end_of_main)();

namespace testutil {

// name: the program's name for Qt; before: runs first (what must precede the application).
inline QApplication& qt_app(const char* name, void (*before)() = nullptr) {
  static int argc = 1;
  static char* argv[] = {const_cast<char*>(name), nullptr};
  static QApplication* a = [before] {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (before) before();
    auto* made = new QApplication(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    tessel_test_end_of_main = [] {
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
      delete QCoreApplication::instance();
    };
    return made;
  }();
  return *a;
}

}  // namespace testutil
