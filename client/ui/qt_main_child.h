#pragma once
// The views the logic has made live in the main window of the host they were installed with;
// the main window owns them. No main window (none yet, or a run without windows): no view.
#include <utility>

#include "client/ui/qt_host.h"

template <class Widget, class... Args>
Widget* qt_main_child(QtHost* host, Args&&... args) {
  QWidget* main = host ? host->main_widget() : nullptr;
  return main ? new Widget(main, std::forward<Args>(args)...) : nullptr;
}

// The same, shown at once: the views that stand from their making.
template <class Widget, class... Args>
Widget* qt_main_child_shown(QtHost* host, Args&&... args) {
  Widget* made = qt_main_child<Widget>(host, std::forward<Args>(args)...);
  if (made) made->show();
  return made;
}
