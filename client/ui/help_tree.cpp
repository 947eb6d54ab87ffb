#include "client/ui/help_tree.h"

#include <QPainter>
#include <QPixmap>

#include "client/shell/tab.h"
#include "client/ui/qt_dialog.h"
#include "client/ui/qt_host.h"
#include "client/ui/qt_main_child.h"

namespace {

QtHost* tree_host = nullptr;

HelpTreeView* make_tree() {
  return qt_main_child<QtHelpTree>(tree_host);
}

// 16 x 16: a closed folder, a page, an open folder.
QIcon help_icon(int image) {
  QPixmap p(16, 16);
  p.fill(Qt::transparent);
  QPainter g(&p);
  g.setPen(Qt::black);
  if (image == HELP_IMAGE_PAGE) {
    g.setBrush(Qt::white);
    g.drawRect(3, 1, 9, 13);
    for (int y = 4; y <= 11; y += 3) g.drawLine(5, y, 10, y);
  } else {
    g.setBrush(QColor(230, 190, 60));
    g.drawRect(1, 4, 13, 9);
    g.drawRect(1, 2, 5, 2);
    if (image == HELP_IMAGE_OPEN) {
      g.setBrush(QColor(250, 220, 110));
      QPolygon lid;
      lid << QPoint(3, 7) << QPoint(15, 7) << QPoint(13, 13) << QPoint(1, 13);
      g.drawPolygon(lid);
    }
  }
  return QIcon(p);
}

}  // namespace

QtHelpTree::QtHelpTree(QWidget* parent) : QTreeWidget(parent) {
  setObjectName("Veldara Help Index");
  setHeaderHidden(true);
  setColumnCount(1);
  setRootIsDecorated(true);
  setIconSize(QSize(16, 16));
  connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item, QTreeWidgetItem*) {
    if (filling_ || !item) return;
    tab_selection_changed(TAB_HELP);
    // A page opened; a folder chosen keeps the keyboard for moving on in the tree.
    if (image_of(handle_of(item)) == HELP_IMAGE_PAGE) keyboard_.acted();
  });
  connect(this, &QTreeWidget::itemExpanded, this,
          [this](QTreeWidgetItem* item) { help_item_expanded(handle_of(item), true); });
  connect(this, &QTreeWidget::itemCollapsed, this,
          [this](QTreeWidgetItem* item) { help_item_expanded(handle_of(item), false); });
  hide();
}

QtHelpTree::~QtHelpTree() { help_tree_destroyed(this); }

void QtHelpTree::clear() {
  filling_ = true;
  QTreeWidget::clear();
  items_.clear();
  images_.clear();
  filling_ = false;
}

intptr_t QtHelpTree::add(intptr_t parent, const char* title, int image) {
  auto* item = new QTreeWidgetItem(QStringList{qt_from_bytes(title)});
  item->setIcon(0, help_icon(image));
  QTreeWidgetItem* above = item_of(parent);
  filling_ = true;
  if (above)
    above->addChild(item);
  else
    addTopLevelItem(item);
  filling_ = false;
  intptr_t handle = next_++;
  items_[handle] = item;
  images_[handle] = image;
  return handle;
}

void QtHelpTree::set_image(intptr_t handle, int image) {
  QTreeWidgetItem* item = item_of(handle);
  if (!item) return;
  item->setIcon(0, help_icon(image));
  images_[handle] = image;
}

bool QtHelpTree::viewportEvent(QEvent* event) {
  keyboard_.before(event);
  bool taken = QTreeWidget::viewportEvent(event);
  keyboard_.after(event);
  return taken;
}

intptr_t QtHelpTree::selected() { return handle_of(currentItem()); }

void QtHelpTree::show(bool shown) { setVisible(shown); }
void QtHelpTree::move(int x, int y, int width, int height) { setGeometry(x, y, width, height); }

QTreeWidgetItem* QtHelpTree::item_of(intptr_t handle) const {
  auto it = items_.find(handle);
  return it == items_.end() ? nullptr : it->second;
}

intptr_t QtHelpTree::handle_of(const QTreeWidgetItem* item) const {
  for (const auto& [handle, i] : items_)
    if (i == item) return handle;
  return 0;
}

int QtHelpTree::image_of(intptr_t handle) const {
  auto it = images_.find(handle);
  return it == images_.end() ? -1 : it->second;
}

void help_tree_qt_install(QtHost& host) {
  tree_host = &host;
  help_set_tree_maker(&make_tree);
}
