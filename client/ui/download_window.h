#pragma once
// The "Downloads" window: a small tool window with one line per transfer slot (the file's
// name and the transfer's state), drawn from the download queue.
#include <QWidget>

#include "client/cache/download.h"

class QtHost;

class QtDownloadWindow : public QWidget {
 public:
  explicit QtDownloadWindow(QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
};

// The queue's view: creates the window on demand over the host's main window.
void download_window_qt_install(QtHost& host);
// The window while it exists (tests, screenshots).
QtDownloadWindow* download_window();
