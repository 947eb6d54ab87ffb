#pragma once
// The report lists of the contacts and telegrams pages: two columns, an icon per row, rows
// addressed by index as their modules keep them.
#include "client/shell/list_view.h"
#include "client/ui/qt_page_list.h"

class QtHost;

class QtShellList : public QtPageList<ShellListView> {
 public:
  QtShellList(QWidget* parent, const char* window_name, int icon, bool multiple, const shell_list_events& events);
  ~QtShellList() override;

  void clear() override;
  void insert(int index, const char* column0, const char* column1, int image) override;
  void remove(int index) override;
  void set_image(int index, int image) override;
  void set_column_title(int column, const char* text) override;
  void set_column_width(int column, int width) override;
  int column_width(int column) override;
  std::vector<int> selection() override;
  void select(int index) override;
  void ensure_visible(int index) override;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void right_released() override;
  void released(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  QIcon icon_of(int image) const;
  int icon_;
  shell_list_events events_;
  bool sizing_ = false;
  bool double_pressed_ = false;  // the left button's second press of a double click is down
};

// The program's page lists are QtShellLists in this host's main window. Call before start-up.
void shell_lists_qt_install(QtHost& host);
