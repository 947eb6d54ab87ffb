#pragma once
// The Qt viewport: a child of the main window that shows the driver's frames through an
// 8-bit indexed image with the device palette.
#include <QImage>
#include <QWidget>
#include <array>
#include <cstdint>
#include <vector>
#include <unordered_map>

#include "client/scene/display_viewport.h"

#include <QPointer>

class QPainter;
class QtHost;
class QtViewport;

// The child window itself; it paints the surface's image inside a sunken edge.
class QtViewportWidget : public QWidget {
  Q_OBJECT

 public:
  QtViewportWidget(QWidget* parent, QtViewport* surface);
  // The focus caption over the image, its text's corner in the view (empty: none).
  void set_caption(const QString& text, QPoint at);
  const QString& caption() const { return caption_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  // Left and right presses are the view's (clicks on objects); the rest goes to the main window.
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void paint_caption(QPainter& p);
  QtViewport* surface_;
  QString caption_;
  QPoint caption_at_;
};

// The surface outlives nothing it does not own: the widget may go first with the main
// window (it is the main window's child); the surface then draws into its image alone.
class QtViewport : public ViewportSurface {
 public:
  explicit QtViewport(QWidget* parent);
  ~QtViewport() override;
  int width() const override { return image_.width(); }
  int height() const override { return image_.height(); }
  void put_indexed(int x, int y, int w, int h, const uint8_t* pixels, int stride,
                   const uint8_t* colours) override;
  void put_rgb(int x, int y, int w, int h, const uint8_t* rgb, int stride) override;
  void place(int x, int y, int width, int height) override;
  void set_palette(const uint8_t* rgb) override;
  const QImage& image() const { return image_; }
  QWidget* widget() const { return widget_; }

 private:
  void repaint(int x, int y, int w, int h);

  uint8_t index_of(uint32_t rgb);
  uint8_t index_found(uint32_t rgb);
  void set_table(const uint8_t* rgb);
  // Copies a row of indexes into the image; true when that changed it.
  bool put_row(int row, int x0, const uint8_t* indexes, int count);

  QImage image_;
  QVector<QRgb> table_;
  std::unordered_map<uint32_t, uint8_t> lookup_;
  // In front of the map, one colour per slot: a frame has few colours and each is found once.
  static constexpr int kCacheSlots = 4096;
  std::array<uint32_t, kCacheSlots> cache_rgb_{};  // the colour with bit 24 set, 0 for empty
  std::array<uint8_t, kCacheSlots> cache_index_{};
  std::vector<uint8_t> row_;
  QPointer<QtViewportWidget> widget_;
};

// The program's viewports are QtViewports inside this host's main window; also registers
// the depth warning's layout. Call before start-up.
void viewport_qt_install(QtHost& host);
// The focus caption is painted over the program's viewport. Call before start-up.
void focus_caption_qt_install();
