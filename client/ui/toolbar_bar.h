#pragma once
// The main toolbar under the menu bar: image buttons with tool tips; a press sends the
// button's command to the window procedure.
#include <QToolButton>
#include <QWidget>
#include <map>

#include "client/shell/toolbar.h"

class QtHost;

class QtToolbar : public QWidget, public ToolbarView {
  Q_OBJECT

 public:
  QtToolbar(QWidget* parent, QtHost* host);
  ~QtToolbar() override;
  void add(const toolbar_button& button, const char* tooltip) override;
  void set_enabled(int id, bool on) override;
  void set_checked(int id, bool on) override;
  void set_button_shown(int id, bool shown) override;
  void set_shown(bool shown) override;
  int autosize(int width) override;
  QToolButton* button(int id) const;

 private:
  void arrange();
  struct Entry {
    QWidget* widget;  // a button or a separator
    int id;
  };
  std::vector<Entry> entries_;
  QtHost* host_;
};

void toolbar_qt_install(QtHost& host);
