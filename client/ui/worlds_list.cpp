#include "client/ui/worlds_list.h"

#include <QApplication>
#include <QCursor>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

#include "client/shell/tab.h"
#include "client/ui/qt_dialog.h"
#include "client/ui/qt_host.h"
#include "client/ui/qt_main_child.h"

namespace {

QtHost* list_host = nullptr;

WorldsListView* make_list() {
  return qt_main_child<QtWorldsList>(list_host);
}

// 16 x 16 status icons: open (two kinds), closed, and the current world.
QIcon status_icon(int image) {
  static const QColor colours[] = {QColor(150, 150, 150), QColor(40, 170, 60), QColor(200, 50, 40),
                                   QColor(230, 190, 30)};
  QPixmap p(16, 16);
  p.fill(Qt::transparent);
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  g.setPen(Qt::black);
  g.setBrush(colours[image >= 0 && image < 4 ? image : 0]);
  if (image == WORLDS_IMAGE_CURRENT)
    g.drawRect(2, 2, 11, 11);
  else
    g.drawEllipse(2, 2, 11, 11);
  return QIcon(p);
}

}  // namespace

QtWorldsList::QtWorldsList(QWidget* parent) : QtHandleList(parent, "Veldara World List", 2) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSortingEnabled(false);  // the logic adds rows in its own order
  header()->setSectionsClickable(true);
  // The list's notifications go through the tab control as its page's.
  connect(header(), &QHeaderView::sectionClicked, this,
          [](int column) { tab_column_click(TAB_WORLDS, column); });
  connect(header(), &QHeaderView::sectionResized, this, [this](int, int, int) {
    if (!filling_) tab_save_columns(TAB_WORLDS, columnWidth(0), columnWidth(1));
  });
}

QtWorldsList::~QtWorldsList() { worlds_list_destroyed(this); }

intptr_t QtWorldsList::add(const char* name, const char* users, int image) {
  auto* item = new QTreeWidgetItem(this, QStringList{qt_from_bytes(name), qt_from_bytes(users)});
  item->setIcon(0, status_icon(image));
  item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
  return keep(item);
}

void QtWorldsList::set_image(intptr_t handle, int image) {
  if (QTreeWidgetItem* item = item_of(handle)) item->setIcon(0, status_icon(image));
}

void QtWorldsList::set_column_title(int column, const char* text) {
  if (column < 0 || column > 1) return;
  QTreeWidgetItem* h = headerItem();
  if (h) h->setText(column, qt_from_bytes(text));
}

void QtWorldsList::set_column_width(int column, int width) {
  filling_ = true;  // the logic's own widths are not the user's to save
  if (column >= 0 && column <= 1 && width >= 0) setColumnWidth(column, width);
  filling_ = false;
}

intptr_t QtWorldsList::selected() { return handle_of(currentItem()); }

void QtWorldsList::mousePressEvent(QMouseEvent* event) {
  QTreeWidgetItem* item = itemAt(event->position().toPoint());
  if (item) setCurrentItem(item);
  if (event->button() == Qt::LeftButton) {
    event->accept();
    if (second_press(event)) return;
    tab_click(TAB_WORLDS);
    if (item) acted();
    return;
  }
  if (event->button() == Qt::RightButton) {
    event->accept();
    return;
  }
  QTreeWidget::mousePressEvent(event);
}

// A double click's second press (the window system sends it as a press and as a double click)
// enters the world no second time: the first press did.
bool QtWorldsList::second_press(const QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  const quint64 interval = static_cast<quint64>(QApplication::doubleClickInterval());
  const bool second = pressed_ && event->timestamp() - pressed_time_ < interval &&
                      (at - pressed_at_).manhattanLength() <= QApplication::startDragDistance();
  // The press after a second one begins a new pair.
  pressed_ = !second;
  pressed_at_ = at;
  pressed_time_ = event->timestamp();
  return second;
}

void QtWorldsList::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton) {
    event->accept();
    return;
  }
  QTreeWidget::mouseDoubleClickEvent(event);
}

void QtWorldsList::right_released() { tab_right_click(TAB_WORLDS); }

void QtWorldsList::focusInEvent(QFocusEvent* event) {
  QTreeWidget::focusInEvent(event);
  worlds_list_focused();
}

void worlds_list_qt_install(QtHost& host) {
  list_host = &host;
  worlds_set_list_maker(&make_list);
}
