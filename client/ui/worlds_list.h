#pragma once
// The worlds page's list in the main window: two columns (name, users) and a status icon per
// world, as the worlds module fills it.
#include <QTreeWidget>
#include <cstdint>
#include <map>

#include "client/servers/worlds.h"

class QtHost;

class QtWorldsList : public QTreeWidget, public WorldsListView {
  Q_OBJECT

 public:
  explicit QtWorldsList(QWidget* parent);
  ~QtWorldsList() override;

  void set_redraw(bool on) override;
  void clear() override;
  intptr_t add(const char* name, const char* users, int image) override;
  void set_image(intptr_t item, int image) override;
  void set_column_title(int column, const char* text) override;
  void set_column_width(int column, int width) override;
  intptr_t selected() override;
  void show(bool shown) override;
  void move(int x, int y, int width, int height) override;
  int popup_menu(const MenuItem* items, size_t count) override;

  QTreeWidgetItem* item_of(intptr_t handle) const;
  intptr_t handle_of(const QTreeWidgetItem* item) const;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  std::map<intptr_t, QTreeWidgetItem*> items_;
  intptr_t next_ = 1;
  bool filling_ = false;
};

// The program's list is a QtWorldsList in this host's main window. Call before start-up.
void worlds_list_qt_install(QtHost& host);
