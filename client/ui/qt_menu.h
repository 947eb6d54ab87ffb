#pragma once
// The pop-up menus of the page lists: items {id (0: separator), text, enabled[, checked]}
// shown at the pointer; the chosen id, 0 when none.
#include <QCursor>
#include <QMenu>
#include <cstddef>

#include "client/ui/qt_dialog.h"

template <class Item>
int qt_popup_menu(QWidget* owner, const Item* items, size_t count) {
  QMenu menu(owner);
  for (size_t i = 0; i < count; ++i) {
    if (items[i].id == 0) {
      menu.addSeparator();
      continue;
    }
    QAction* a = menu.addAction(qt_from_bytes(items[i].text));
    a->setData(items[i].id);
    a->setEnabled(items[i].enabled);
    if constexpr (requires { items[i].checked; }) {
      if (items[i].checked) {
        a->setCheckable(true);
        a->setChecked(true);
      }
    }
  }
  QAction* chosen = menu.exec(QCursor::pos());
  return chosen ? chosen->data().toInt() : 0;
}
