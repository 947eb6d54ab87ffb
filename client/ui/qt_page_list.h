#pragma once
// The Qt side every page list shares: a sunken tree named after its window, without root
// decoration, that edits nothing by itself and opens its pop-up menus at the pointer.
#include <QMouseEvent>
#include <QTreeWidget>
#include <cstdint>
#include <map>

#include "client/core/page_view.h"
#include "client/ui/qt_menu.h"

// A page list gives the keyboard back to the main window, where the arrows move the view, once
// one of its rows was acted on (opened, joined, teleported to). A double click's second press
// hands the list the keyboard anew: the double click whose first click acted gives it back
// again. The list passes its viewport's events through, before and after handling them.
class QtKeyboardReturn {
 public:
  explicit QtKeyboardReturn(QWidget* list) : list_(list) {}
  void acted() {
    if (QWidget* main = list_->window(); main && main != list_) main->setFocus(Qt::OtherFocusReason);
    acted_ = true;
    acted_at_ = presses_;
  }
  void before(const QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) ++presses_;
  }
  void after(const QEvent* event) {
    // The second press of the pair may or may not come as a press of its own before this.
    if (event->type() == QEvent::MouseButtonDblClick && acted_ && presses_ - acted_at_ <= 1) acted();
  }

 private:
  QWidget* list_;
  bool acted_ = false;
  unsigned presses_ = 0, acted_at_ = 0;
};

template <class View>
class QtPageList : public QTreeWidget, public View {
 public:
  QtPageList(QWidget* parent, const char* window_name, int columns) : QTreeWidget(parent) {
    setObjectName(window_name);
    setWindowTitle(window_name);
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setRootIsDecorated(false);
    setColumnCount(columns);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setContextMenuPolicy(Qt::NoContextMenu);
  }

  void set_redraw(bool on) override { setUpdatesEnabled(on); }
  void show(bool shown) override { setVisible(shown); }
  void move(int x, int y, int width, int height) override { setGeometry(x, y, width, height); }
  int popup_menu(const PageListView::MenuItem* items, size_t count) override {
    return qt_popup_menu(this, items, count);
  }

 protected:
  // A row was acted on: the main window has the keyboard again.
  void acted() { keyboard_.acted(); }
  bool viewportEvent(QEvent* event) override {
    keyboard_.before(event);
    bool taken = QTreeWidget::viewportEvent(event);
    keyboard_.after(event);
    return taken;
  }
  // The right button's release is the list's own (its pop-up menu opens from there) and goes
  // no further; the others' go to the tree, then to released.
  virtual void right_released() {}
  virtual void released(QMouseEvent*) {}
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::RightButton) {
      event->accept();
      right_released();
      return;
    }
    QTreeWidget::mouseReleaseEvent(event);
    released(event);
  }

 private:
  QtKeyboardReturn keyboard_{this};
};

// A page list whose rows the logic knows by handles the list gives out (never 0).
template <class View>
class QtHandleList : public QtPageList<View> {
 public:
  using QtPageList<View>::QtPageList;

  void clear() override {
    items_.clear();
    QTreeWidget::clear();
  }

  QTreeWidgetItem* item_of(intptr_t handle) const {
    auto it = items_.find(handle);
    return it == items_.end() ? nullptr : it->second;
  }
  intptr_t handle_of(const QTreeWidgetItem* item) const {
    return item ? static_cast<intptr_t>(item->data(0, Qt::UserRole).toLongLong()) : 0;
  }

 protected:
  // Gives the new row its handle.
  intptr_t keep(QTreeWidgetItem* item) {
    intptr_t handle = next_++;
    item->setData(0, Qt::UserRole, QVariant::fromValue<qlonglong>(handle));
    items_[handle] = item;
    return handle;
  }

 private:
  std::map<intptr_t, QTreeWidgetItem*> items_;
  intptr_t next_ = 1;
};
