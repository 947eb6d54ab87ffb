#pragma once
// The worlds page's list in the main window: two columns (name, users) and a status icon per
// world, as the worlds module fills it.
#include <cstdint>

#include "client/servers/worlds.h"
#include "client/ui/qt_page_list.h"

class QtHost;

class QtWorldsList : public QtHandleList<WorldsListView> {
  Q_OBJECT

 public:
  explicit QtWorldsList(QWidget* parent);
  ~QtWorldsList() override;

  intptr_t add(const char* name, const char* users, int image) override;
  void set_image(intptr_t item, int image) override;
  void set_column_title(int column, const char* text) override;
  void set_column_width(int column, int width) override;
  intptr_t selected() override;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void right_released() override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  bool second_press(const QMouseEvent* event);

  bool filling_ = false;
  bool pressed_ = false;  // a left press was seen, at pressed_at_ and pressed_time_
  QPoint pressed_at_;
  quint64 pressed_time_ = 0;
};

// The program's list is a QtWorldsList in this host's main window. Call before start-up.
void worlds_list_qt_install(QtHost& host);
