#pragma once
// The tab control beside the 3D view: a strip of tabs over a sunken frame; the pages are the
// main window's own children laid over the frame.
#include <QIcon>
#include <QTabBar>
#include <QWidget>

#include "client/shell/tab.h"

class QtHost;

class QtTabControl : public QWidget, public TabView {
  Q_OBJECT

 public:
  explicit QtTabControl(QWidget* parent);
  ~QtTabControl() override;
  void set_tab(int index, const char* text, const char* image) override;
  void select(int index) override;
  void move(int x, int y, int width, int height) override;
  void display_rect(int* x, int* y, int* width, int* height) override;
  QTabBar* bar() const { return bar_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  QTabBar* bar_;
  bool selecting_ = false;
};

// The program's images (toolbar strip, tab icons) by file name.
QIcon qt_image(const char* name);

// The program's tab control is a QtTabControl in this host's main window. Call before start-up.
void tab_control_qt_install(QtHost& host);
