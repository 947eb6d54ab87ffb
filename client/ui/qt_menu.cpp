#include "client/ui/qt_menu.h"

#include <QApplication>

namespace {
int running = 0;
}  // namespace

QtMenuRunning::QtMenuRunning() { ++running; }
QtMenuRunning::~QtMenuRunning() { --running; }

int qt_menus_running() { return running; }

void qt_menus_close() {
  // Closing the front one brings the one under it (a submenu's parent) to the front.
  for (int left = 64; left > 0; --left) {
    QWidget* popup = QApplication::activePopupWidget();
    if (!popup) break;
    popup->close();
  }
}
