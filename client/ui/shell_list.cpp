#include "client/ui/shell_list.h"

#include <QCursor>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <algorithm>

#include "client/ui/qt_dialog.h"
#include "client/ui/qt_host.h"
#include "client/ui/qt_main_child.h"

namespace {

QtHost* list_host = nullptr;

ShellListView* make_list(const char* window_name, int icon, bool multiple, const shell_list_events& events) {
  return qt_main_child<QtShellList>(list_host, window_name, icon, multiple, events);
}

}  // namespace

QtShellList::QtShellList(QWidget* parent, const char* window_name, int icon, bool multiple,
                         const shell_list_events& events)
    : QtPageList(parent, window_name, 2), icon_(icon), events_(events) {
  setSelectionMode(multiple ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
  setSortingEnabled(false);  // the module keeps the order
  header()->setSectionsClickable(true);
  connect(header(), &QHeaderView::sectionClicked, this, [this](int column) {
    if (events_.column_click) events_.column_click(column);
  });
  connect(header(), &QHeaderView::sectionResized, this, [this](int, int, int) {
    if (!sizing_ && events_.columns_resized) events_.columns_resized(columnWidth(0), columnWidth(1));
  });
}

QtShellList::~QtShellList() {
  if (events_.destroyed) events_.destroyed();
}

// 16 x 16: an envelope for an unread telegram, a green dot for a contact online.
QIcon QtShellList::icon_of(int image) const {
  if (image == SHELL_NO_IMAGE) return QIcon();
  QPixmap p(16, 16);
  p.fill(Qt::transparent);
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  g.setPen(Qt::black);
  if (icon_ == SHELL_ICON_TELEGRAM) {
    g.setBrush(QColor(250, 240, 200));
    g.drawRect(1, 3, 13, 9);
    g.drawLine(1, 3, 8, 9);
    g.drawLine(14, 3, 8, 9);
  } else {
    g.setBrush(QColor(40, 170, 60));
    g.drawEllipse(2, 2, 11, 11);
  }
  return QIcon(p);
}

void QtShellList::clear() { QTreeWidget::clear(); }

void QtShellList::insert(int index, const char* column0, const char* column1, int image) {
  auto* item = new QTreeWidgetItem(QStringList{qt_from_bytes(column0), qt_from_bytes(column1)});
  item->setIcon(0, icon_of(image));
  insertTopLevelItem(std::clamp(index, 0, topLevelItemCount()), item);
}

void QtShellList::remove(int index) { delete takeTopLevelItem(index); }

void QtShellList::set_image(int index, int image) {
  if (QTreeWidgetItem* item = topLevelItem(index)) item->setIcon(0, icon_of(image));
}

void QtShellList::set_column_title(int column, const char* text) {
  if (column < 0 || column > 1) return;
  if (QTreeWidgetItem* h = headerItem()) h->setText(column, qt_from_bytes(text));
}

void QtShellList::set_column_width(int column, int width) {
  sizing_ = true;  // the module's own widths are not the user's
  if (column >= 0 && column <= 1 && width >= 0) setColumnWidth(column, width);
  sizing_ = false;
}

int QtShellList::column_width(int column) { return columnWidth(column); }

std::vector<int> QtShellList::selection() {
  std::vector<int> out;
  for (int i = 0; i < topLevelItemCount(); ++i)
    if (topLevelItem(i)->isSelected()) out.push_back(i);
  return out;
}

void QtShellList::select(int index) {
  clearSelection();
  if (QTreeWidgetItem* item = topLevelItem(index)) {
    setCurrentItem(item);
    item->setSelected(true);
  }
}

void QtShellList::ensure_visible(int index) {
  if (QTreeWidgetItem* item = topLevelItem(index)) scrollToItem(item);
}

void QtShellList::mousePressEvent(QMouseEvent* event) {
  QTreeWidgetItem* item = itemAt(event->position().toPoint());
  if (event->button() == Qt::RightButton) {
    // A right click on a row outside the selection selects that row alone.
    if (item && !item->isSelected()) select(indexOfTopLevelItem(item));
    event->accept();
    return;
  }
  QTreeWidget::mousePressEvent(event);
}

void QtShellList::right_released() {
  if (events_.right_click) events_.right_click();
}

void QtShellList::released(QMouseEvent* event) {
  // A double click is one click: the release that ends its second press is not another.
  bool second = double_pressed_;
  double_pressed_ = false;
  if (second) return;
  if (event->button() == Qt::LeftButton && itemAt(event->position().toPoint()) && events_.click) {
    events_.click();
    acted();
  }
}

void QtShellList::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) double_pressed_ = true;
  QTreeWidget::mouseDoubleClickEvent(event);
}

void QtShellList::keyPressEvent(QKeyEvent* event) {
  if (events_.key && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
    events_.key(SHELL_KEY_ENTER);
    acted();
    return;
  }
  if (events_.key && event->key() == Qt::Key_Delete) {
    events_.key(SHELL_KEY_DELETE);
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

void QtShellList::focusInEvent(QFocusEvent* event) {
  QTreeWidget::focusInEvent(event);
  if (events_.focused) events_.focused();
}

void shell_lists_qt_install(QtHost& host) {
  list_host = &host;
  shell_set_list_maker(&make_list);
}
