#pragma once
// The logo's child window in the main window's top right corner: a sunken frame showing one
// of the 24 frames from the resources.
#include <QFrame>
#include <QPixmap>
#include <vector>

#include "client/shell/logo.h"

class QtHost;

class QtLogo : public QFrame, public LogoView {
  Q_OBJECT

 public:
  explicit QtLogo(QWidget* parent);
  ~QtLogo() override;
  void move(int x, int y, int width, int height) override;
  void show_frame(int index) override;

  int frame() const { return frame_; }
  int shown_count() const { return shown_; }
  // The frame's image as painted (null when it did not load).
  const QPixmap& pixmap(int index) const { return frames_[static_cast<size_t>(index)]; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<QPixmap> frames_;
  int frame_ = 0;
  int shown_ = 0;
};

// The program's logo is a QtLogo in this host's main window. Call before start-up.
void logo_view_qt_install(QtHost& host);
