#pragma once
// The splitters' window side: the pointer in the main window's client area, the mouse
// capture, the drag bar and the size cursors.
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QWidget>

#include "client/shell/slider.h"

class QtHost;

class QtSplitterView : public QObject, public SplitterView {
  Q_OBJECT

 public:
  explicit QtSplitterView(QtHost* host);
  void pointer(int* x, int* y) override;
  void capture() override;
  void release() override;
  void bar(bool shown, int x0, int y0, int x1, int y1) override;
  void cursor(Cursor shape) override;
  QWidget* drag_bar() const { return bar_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* main();
  int client_top();
  QtHost* host_;
  QPointer<QWidget> watched_;
  QPointer<QWidget> bar_;
  QPoint last_;
  bool known_ = false;
};

void splitter_view_qt_install(QtHost& host);
