#include "client/ui/menu.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>

#include "client/ui/keymap.h"
#include "client/ui/text.h"

int menu_qt_key(int virtual_key) {
  if (virtual_key <= 0) return 0;
  // Keys map one way only (keymap.cpp); search the Qt keys that can have a code.
  for (int k = Qt::Key_Space; k <= Qt::Key_AsciiTilde; ++k)
    if (keymap_virtual_key(k, false) == virtual_key) return k;
  for (int k = Qt::Key_Escape; k <= Qt::Key_F35; ++k)
    if (keymap_virtual_key(k, false) == virtual_key) return k;
  return 0;
}

QtMenuBar::QtMenuBar(QWidget* parent, Command command, void* user)
    : QMenuBar(parent), command_(command), user_(user) {
  setObjectName("main_menu");
  menu_set_view(this);
}

QtMenuBar::~QtMenuBar() { menu_set_view(nullptr); }

QAction* QtMenuBar::action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

QMenu* QtMenuBar::popup(int position) const {
  if (position < 0 || position >= static_cast<int>(popups_.size())) return nullptr;
  return popups_[static_cast<size_t>(position)];
}

void QtMenuBar::update_action(QAction* a, const menu_item_view& item) {
  a->setText(text_to_qt(item.text));
  a->setEnabled(item.enabled);
  // Only items that have been checked carry a check mark's room.
  if (item.checked) a->setCheckable(true);
  if (a->isCheckable()) a->setChecked(item.checked);
}

void QtMenuBar::changed(int id) {
  if (id == 0) {
    rebuild();
    return;
  }
  QAction* a = action(id);
  menu_item_view item;
  if (!a || !menu_find(id, &item)) {
    rebuild();
    return;
  }
  update_action(a, item);
}

// A menu closed with Escape leaves the bar holding the keyboard, so the arrows would move
// between its titles: a second Escape hands the keys back to where they were, the view.
void QtMenuBar::release_keys() {
  if (!hasFocus()) return;
  for (QMenu* m : popups_)
    if (m->isVisible()) return;
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(this, &escape);
}

void QtMenuBar::rebuild() {
  clear();
  for (QMenu* m : popups_) m->deleteLater();
  popups_.clear();
  actions_.clear();
  // Keys are bound once start-up has loaded the table.
  size_t accel_count = 0;
  const menu_accelerator* accels = menu_accelerators(&accel_count);
  if (!menu_accelerators_loaded()) accel_count = 0;
  for (int p = 0; p < menu_title_count(); ++p) {
    QMenu* menu = addMenu(text_to_qt(menu_title_text(p)));
    popups_.push_back(menu);
    // Once it has closed, and no neighbour opened in its place, the keys go back.
    connect(menu, &QMenu::aboutToHide, this, [this] { QTimer::singleShot(0, this, [this] { release_keys(); }); });
    // A title without text (its message missing) could not be clicked: not shown at all.
    menu->menuAction()->setVisible(*menu_title_text(p) != 0);
    for (int i = 0; i < menu_item_count(p); ++i) {
      menu_item_view item;
      if (!menu_item_at(p, i, &item)) continue;
      if (item.id == 0) {
        menu->addSeparator();
        continue;
      }
      QAction* a = menu->addAction(QString());
      a->setData(item.id);
      update_action(a, item);
      for (size_t k = 0; k < accel_count; ++k)
        if (accels[k].id == item.id)
          if (int key = menu_qt_key(accels[k].key)) a->setShortcut(QKeySequence(key));
      // The function keys act wherever the focus is in the main window and its panes.
      a->setShortcutContext(Qt::WindowShortcut);
      int id = item.id;
      connect(a, &QAction::triggered, this, [this, id] {
        if (command_) command_(id, user_);
        // Qt flips a checkable action itself; the model has the last word.
        menu_item_view now;
        if (QAction* act = action(id); act && menu_find(id, &now)) update_action(act, now);
      });
      actions_[id] = a;
    }
  }
  emit rebuilt();
}
