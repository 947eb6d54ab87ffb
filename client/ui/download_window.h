#pragma once
// The "Downloads" window: a small tool window with one line per transfer slot (the file's
// name and the transfer's state), drawn from the download queue, a line saying so while
// nothing runs, its own caption and a close button.
#include <QWidget>

#include "client/cache/download.h"

class QLabel;
class QPushButton;
class QtHost;

class QtDownloadWindow : public QWidget {
 public:
  explicit QtDownloadWindow(QWidget* parent);
  // Reads the slots again: the idle line shows while none is running.
  void update_lines();
  bool idle() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QLabel* caption_ = nullptr;
  QLabel* idle_ = nullptr;
  QPushButton* close_ = nullptr;
  bool busy_ = false;
};

// The queue's view: creates the window on demand over the host's main window.
void download_window_qt_install(QtHost& host);
// The window while it exists (tests, screenshots).
QtDownloadWindow* download_window();
