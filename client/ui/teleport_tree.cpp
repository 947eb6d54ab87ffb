#include "client/ui/teleport_tree.h"

#include <QCursor>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>

#include "client/ui/qt_host.h"
#include "client/ui/qt_main_child.h"

namespace {

QtHost* tree_host = nullptr;

TeleportTreeView* make_tree() {
  return qt_main_child<QtTeleportTree>(tree_host);
}

constexpr qt_form_row teleport_rows[] = {
    {TELEPORT_WORLD_LABEL, TELEPORT_WORLD},
    {TELEPORT_COORDINATES_LABEL, TELEPORT_COORDINATES},
};

// Dialog 605: world and coordinates with their labels, a hint line, OK and Cancel.
constexpr auto teleport_controls = qt_controls(
    qt_form_rows({12, 110, 128, 180, 12, 32}, teleport_rows),
    qt_control{TELEPORT_HINT_LABEL, QtControl::Status, 12, 76, 296, 40},
    qt_ok_button(320, 1, 124),
    qt_cancel_button(320, 124));

}  // namespace

const qt_dialog_template teleport_dialog_table = qt_dialog_table(TELEPORT_DIALOG, 320, 162, teleport_controls);

// Editing starts only from the pop-up menu.
QtTeleportTree::QtTeleportTree(QWidget* parent) : QtHandleList(parent, "Veldara Teleport List", 1) {
  setHeaderHidden(true);
}

QtTeleportTree::~QtTeleportTree() { teleport_tree_destroyed(this); }

intptr_t QtTeleportTree::add(const char* label) {
  auto* item = new QTreeWidgetItem(this, QStringList{qt_from_bytes(label)});
  item->setFlags(item->flags() | Qt::ItemIsEditable);
  return keep(item);
}

void QtTeleportTree::set_item_text(intptr_t handle, const char* label) {
  if (QTreeWidgetItem* item = item_of(handle)) item->setText(0, qt_from_bytes(label));
}

void QtTeleportTree::select(intptr_t handle) {
  QTreeWidgetItem* item = item_of(handle);
  if (item)
    setCurrentItem(item);
  else
    clearSelection();
}

void QtTeleportTree::edit_label(intptr_t handle) {
  if (QTreeWidgetItem* item = item_of(handle)) editItem(item, 0);
}

void QtTeleportTree::mousePressEvent(QMouseEvent* event) {
  QTreeWidgetItem* item = itemAt(event->position().toPoint());
  if (event->button() == Qt::LeftButton && item) {
    teleport_tree_left_down(handle_of(item));
    acted();
    event->accept();
    return;
  }
  if (event->button() == Qt::RightButton) {
    teleport_tree_right_down(handle_of(item));
    event->accept();
    return;
  }
  QTreeWidget::mousePressEvent(event);
}

void QtTeleportTree::right_released() { teleport_tree_right_up(); }

bool QtTeleportTree::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  if (trigger != QAbstractItemView::AllEditTriggers) return QTreeWidget::edit(index, trigger, event);
  intptr_t handle = handle_of(itemFromIndex(index));
  if (!teleport_tree_begin_edit(handle)) return false;
  if (!QTreeWidget::edit(index, trigger, event)) return false;
  editing_ = handle;
  committed_ = false;
  return true;
}

// The logic sets the item's text itself when it takes the new label.
void QtTeleportTree::commitData(QWidget* editor) {
  if (auto* line = qobject_cast<QLineEdit*>(editor)) {
    committed_ = true;
    committed_text_ = qt_to_bytes(line->text());
  }
}

void QtTeleportTree::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  QTreeWidget::closeEditor(editor, hint);
  intptr_t handle = editing_;
  if (!handle) return;
  editing_ = 0;
  bool keep = committed_;
  committed_ = false;
  teleport_tree_end_edit(handle, keep ? committed_text_.c_str() : nullptr);
}

void teleport_tree_qt_install(QtHost& host) {
  tree_host = &host;
  teleport_set_tree_maker(&make_tree);
  qt_dialog_register(&teleport_dialog_table);
}
