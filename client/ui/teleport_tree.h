#pragma once
// The remembered teleports' tree in the main window, and the layouts of the Teleport dialog
// (605) and the one-line prompt (617).
#include <cstdint>
#include <string>

#include "client/servers/teleport.h"
#include "client/ui/qt_dialog.h"
#include "client/ui/qt_page_list.h"

class QtHost;

class QtTeleportTree : public QtHandleList<TeleportTreeView> {
  Q_OBJECT

 public:
  explicit QtTeleportTree(QWidget* parent);
  ~QtTeleportTree() override;

  intptr_t add(const char* label) override;
  void set_item_text(intptr_t item, const char* label) override;
  void select(intptr_t item) override;
  void edit_label(intptr_t item) override;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void right_released() override;
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
  void commitData(QWidget* editor) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

 private:
  intptr_t editing_ = 0;
  bool committed_ = false;
  std::string committed_text_;
};

extern const qt_dialog_template teleport_dialog_table;

// The program's tree is a QtTeleportTree in this host's main window; also registers both
// dialog layouts. Call before start-up.
void teleport_tree_qt_install(QtHost& host);
