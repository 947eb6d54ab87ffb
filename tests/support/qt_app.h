#pragma once
// The one QApplication of a Qt test program: made on first use, on the offscreen platform
// unless the run names another, with C number formatting as the program keeps it, and kept
// to the process's end (destroying it among the static destructors crashes inside Qt).
#include <QApplication>
#include <clocale>
#include <cstdlib>

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
    return made;
  }();
  return *a;
}

}  // namespace testutil
