#pragma once
// The main window's Qt menu bar, drawn from the menu model (client/app/command.h). Its items
// and accelerators hand their command id to the window's command function.
#include <QMenuBar>
#include <map>
#include <vector>

#include "client/app/command.h"

class QAction;
class QMenu;

class QtMenuBar : public QMenuBar, public MenuView {
  Q_OBJECT

 public:
  using Command = void (*)(int id, void* user);
  // Watches the model from now on (menu_set_view) until destroyed.
  QtMenuBar(QWidget* parent, Command command, void* user);
  ~QtMenuBar() override;

  void changed(int id) override;
  // The action of a command id, null when the bar has none (tests).
  QAction* action(int id) const;
  QMenu* popup(int position) const;

 signals:
  // The pop-ups were made again (their titles may now take room or none).
  void rebuilt();

 private:
  void rebuild();
  void release_keys();
  void update_action(QAction* action, const menu_item_view& item);

  Command command_;
  void* user_;
  std::vector<QMenu*> popups_;
  std::map<int, QAction*> actions_;
};

// The Qt key of a virtual-key code (the inverse of keymap_virtual_key), 0 when none.
int menu_qt_key(int virtual_key);
