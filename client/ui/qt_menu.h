#pragma once
// The pop-up menus of the page lists and the view: items {id (0: separator), text, enabled[,
// checked]} shown at the pointer; the chosen id, 0 when none. A menu runs a loop of its own
// until it closes: the program's quit closes every open menu first and waits for them to
// return (qt_menus_running) before the window, their owner, goes.
#include <QCursor>
#include <QMenu>
#include <QPointer>
#include <cstddef>

#include "client/ui/qt_dialog.h"

// Pop-up menus whose loop runs now.
int qt_menus_running();
// Closes every open pop-up menu, the menu bar's too; a running one then returns 0.
void qt_menus_close();

// Counts a menu's loop while it runs.
class QtMenuRunning {
 public:
  QtMenuRunning();
  ~QtMenuRunning();
  QtMenuRunning(const QtMenuRunning&) = delete;
  QtMenuRunning& operator=(const QtMenuRunning&) = delete;
};

template <class Item>
int qt_popup_menu(QWidget* owner, const Item* items, size_t count) {
  // On the heap and watched: an owner that goes while the menu runs takes the menu with it,
  // and the menu is not deleted a second time here.
  QPointer<QMenu> menu = new QMenu(owner);
  for (size_t i = 0; i < count; ++i) {
    if (items[i].id == 0) {
      menu->addSeparator();
      continue;
    }
    QAction* a = menu->addAction(qt_from_bytes(items[i].text));
    a->setData(items[i].id);
    a->setEnabled(items[i].enabled);
    if constexpr (requires { items[i].checked; }) {
      if (items[i].checked) {
        a->setCheckable(true);
        a->setChecked(true);
      }
    }
  }
  int id = 0;
  {
    QtMenuRunning running;
    QAction* chosen = menu->exec(QCursor::pos());
    if (menu && chosen) id = chosen->data().toInt();
  }
  delete menu.data();
  return id;
}
