#include "client/ui/viewport.h"

#include <QPainter>
#include <algorithm>
#include <cstring>

#include <QMouseEvent>

#include "client/shell/focus.h"
#include "client/shell/font.h"
#include "client/shell/view_click.h"
#include "client/ui/fonts.h"
#include "client/ui/keymap.h"
#include "client/ui/qt_dialog.h"
#include "client/ui/qt_edge.h"
#include "client/ui/depth_dialog.h"
#include "client/ui/qt_host.h"

namespace {

QtHost* viewport_host = nullptr;

uint32_t pack(const uint8_t* c) { return (uint32_t{c[0]} << 16) | (uint32_t{c[1]} << 8) | c[2]; }

std::unique_ptr<ViewportSurface> make_viewport() {
  QWidget* main = viewport_host ? viewport_host->main_widget() : nullptr;
  if (!main) return std::make_unique<CanvasViewport>();
  return std::make_unique<QtViewport>(main);
}

}  // namespace

QtViewportWidget::QtViewportWidget(QWidget* parent, QtViewport* surface)
    : QWidget(parent), surface_(surface) {
  setObjectName("Veldara Viewport");
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void QtViewportWidget::mousePressEvent(QMouseEvent* event) {
  // The sunken edge is the frame's, not the view's: a press there goes on to the main window,
  // whose splitters lie along it.
  if (!rect().adjusted(VIEWPORT_EDGE, VIEWPORT_EDGE, -VIEWPORT_EDGE, -VIEWPORT_EDGE)
           .contains(event->position().toPoint())) {
    event->ignore();
    return;
  }
  QPoint p = event->position().toPoint() - QPoint(VIEWPORT_EDGE, VIEWPORT_EDGE);
  // The buttons count as held keys wherever they are pressed (the main window lets go).
  int code = event->button() == Qt::LeftButton ? 0x01 : event->button() == Qt::RightButton ? 0x02 : 0;
  if (code && viewport_host) viewport_host->key_event(code, true);
  if (viewport_host) viewport_host->click_focus();
  if (event->button() == Qt::LeftButton) {
    event->accept();
    viewport_click(p.x(), p.y());
  } else if (event->button() == Qt::RightButton) {
    event->accept();
    viewport_right_click(p.x(), p.y());
  } else {
    event->ignore();
  }
}

void QtViewportWidget::mouseReleaseEvent(QMouseEvent* event) { event->ignore(); }
void QtViewportWidget::mouseDoubleClickEvent(QMouseEvent* event) { event->ignore(); }

QtViewport::QtViewport(QWidget* parent) : widget_(new QtViewportWidget(parent, this)) {
  // Until the engine's palette arrives: a grey ramp.
  uint8_t grey[256 * 3];
  for (int i = 0; i < 256; ++i) grey[3 * i] = grey[3 * i + 1] = grey[3 * i + 2] = static_cast<uint8_t>(i);
  set_table(grey);
  image_ = QImage(0, 0, QImage::Format_Indexed8);
  widget_->show();
}

QtViewport::~QtViewport() { delete widget_.data(); }

void QtViewport::repaint(int x, int y, int w, int h) {
  if (widget_) widget_->update(x + VIEWPORT_EDGE, y + VIEWPORT_EDGE, w, h);
}

void QtViewport::set_table(const uint8_t* rgb) {
  table_.resize(256);
  lookup_.clear();
  cache_rgb_.fill(0);
  for (int i = 0; i < 256; ++i) {
    table_[i] = qRgb(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
    lookup_.emplace(pack(rgb + 3 * i), static_cast<uint8_t>(i));  // first index of a colour wins
  }
  if (!image_.isNull()) image_.setColorTable(table_);
}

void QtViewport::set_palette(const uint8_t* rgb) {
  set_table(rgb);
  if (widget_) widget_->update();
}

uint8_t QtViewport::index_of(uint32_t rgb) {
  size_t slot = (rgb * 2654435761u) >> 20 & (kCacheSlots - 1);
  if (cache_rgb_[slot] == (rgb | 0x1000000)) return cache_index_[slot];
  uint8_t index = index_found(rgb);
  cache_rgb_[slot] = rgb | 0x1000000;
  cache_index_[slot] = index;
  return index;
}

// Frames arrive through the device palette, so their colours are found exactly; any other
// colour takes the nearest entry (remembered for the next time).
uint8_t QtViewport::index_found(uint32_t rgb) {
  auto it = lookup_.find(rgb);
  if (it != lookup_.end()) return it->second;
  int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  int best = 0;
  long best_d = -1;
  for (int i = 0; i < 256; ++i) {
    int dr = qRed(table_[i]) - r, dg = qGreen(table_[i]) - g, db = qBlue(table_[i]) - b;
    long d = long{dr} * dr + long{dg} * dg + long{db} * db;
    if (best_d < 0 || d < best_d) {
      best_d = d;
      best = i;
    }
  }
  if (lookup_.size() < 65536) lookup_.emplace(rgb, static_cast<uint8_t>(best));
  return static_cast<uint8_t>(best);
}

void QtViewport::put_indexed(int x, int y, int w, int h, const uint8_t* pixels, int stride,
                             const uint8_t* colours) {
  if (!pixels || w <= 0 || h <= 0 || image_.isNull()) return;
  bool changed = false;  // the same indexes in new colours show anew
  if (colours) {
    bool same = true;
    for (int i = 0; i < 256 && same; ++i) same = table_[i] == qRgb(colours[3 * i], colours[3 * i + 1], colours[3 * i + 2]);
    if (!same) set_table(colours);
    changed = !same;
  }
  int x0 = std::max(0, x), y0 = std::max(0, y);
  int x1 = std::min(image_.width(), x + w), y1 = std::min(image_.height(), y + h);
  if (x0 >= x1 || y0 >= y1) return;
  for (int row = y0; row < y1; ++row)
    changed |= put_row(row, x0, pixels + static_cast<ptrdiff_t>(row - y) * stride + (x0 - x), x1 - x0);
  if (changed) repaint(x0, y0, x1 - x0, y1 - y0);
}

// A frame that shows what is shown already is not handed on: the window is not drawn again
// (nor composed) while nothing in view moves.
bool QtViewport::put_row(int row, int x0, const uint8_t* indexes, int count) {
  uchar* dst = image_.scanLine(row) + x0;
  if (std::memcmp(dst, indexes, static_cast<size_t>(count)) == 0) return false;
  std::memcpy(dst, indexes, static_cast<size_t>(count));
  return true;
}

void QtViewport::put_rgb(int x, int y, int w, int h, const uint8_t* rgb, int stride) {
  if (!rgb || w <= 0 || h <= 0 || image_.isNull()) return;
  int x0 = std::max(0, x), y0 = std::max(0, y);
  int x1 = std::min(image_.width(), x + w), y1 = std::min(image_.height(), y + h);
  if (x0 >= x1 || y0 >= y1) return;
  row_.resize(static_cast<size_t>(x1 - x0));
  bool changed = false;
  for (int row = y0; row < y1; ++row) {
    const uint8_t* src = rgb + static_cast<ptrdiff_t>(row - y) * stride + 3 * (x0 - x);
    for (int col = 0; col < x1 - x0; ++col, src += 3) row_[col] = index_of(pack(src));
    changed |= put_row(row, x0, row_.data(), x1 - x0);
  }
  if (changed) repaint(x0, y0, x1 - x0, y1 - y0);
}

void QtViewport::place(int x, int y, int width, int height) {
  width = std::max(0, width);
  height = std::max(0, height);
  if (widget_) widget_->setGeometry(x, y, width, height);
  // The camera's sides are even (camera_resize): of an odd side the last row or column would
  // be a stripe the frame never draws, so the edge takes it.
  int cw = std::max(0, width / 2 * 2 - 2 * VIEWPORT_EDGE), ch = std::max(0, height / 2 * 2 - 2 * VIEWPORT_EDGE);
  if (image_.width() != cw || image_.height() != ch) {
    QImage next(cw, ch, QImage::Format_Indexed8);
    next.setColorTable(table_);
    if (cw > 0 && ch > 0) next.fill(0);
    image_ = next;
  }
  if (widget_) widget_->update();
}

void QtViewportWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QRect outer = rect();
  // The sunken client edge: two dark lines top and left, two light ones bottom and right.
  p.fillRect(outer, palette().color(QPalette::Button));
  qt_draw_edge(p, outer, palette().color(QPalette::Dark), palette().color(QPalette::Light));
  const QImage& image = surface_->image();
  if (!image.isNull()) p.drawImage(VIEWPORT_EDGE, VIEWPORT_EDGE, image);
  if (!caption_.isEmpty()) paint_caption(p);
}

void QtViewportWidget::set_caption(const QString& text, QPoint at) {
  caption_ = text;
  caption_at_ = at;
  update();
}

// The caption box: the text at most 80 pixels wide, word-wrapped and centred, moved back
// inside the view when it would pass its right or bottom edge.
void QtViewportWidget::paint_caption(QPainter& p) {
  p.setFont(qt_font(font_normal()));
  int flags = Qt::AlignHCenter | Qt::TextWordWrap;
  QRect text = p.fontMetrics().boundingRect(QRect(0, 0, FOCUS_MAX_WIDTH, 10000), flags, caption_);
  text.moveTo(caption_at_);
  int measured_bottom = text.bottom();
  QRect view(0, 0, width() - 2 * VIEWPORT_EDGE, height() - 2 * VIEWPORT_EDGE);
  if (text.right() > view.right()) text.moveRight(view.right());
  if (text.bottom() > view.bottom()) text.moveBottom(view.bottom());
  QRect box(text.left() - 4, text.top(), text.width() + 7, measured_bottom - caption_at_.y() + 2);
  box.translate(VIEWPORT_EDGE, VIEWPORT_EDGE);
  text.translate(VIEWPORT_EDGE, VIEWPORT_EDGE);
  uint32_t c = FOCUS_COLOUR;
  p.fillRect(box, QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
  p.setPen(Qt::black);
  p.drawText(text, flags, caption_);
}

namespace {

// The caption goes to whichever viewport the program has.
class QtFocusCaption : public FocusView {
 public:
  void show(const char* text, int x, int y) override {
    if (QtViewportWidget* w = widget()) w->set_caption(qt_from_bytes(text), QPoint(x, y));
  }
  void hide() override {
    if (QtViewportWidget* w = widget()) w->set_caption(QString(), QPoint());
  }

 private:
  static QtViewportWidget* widget() {
    auto* surface = dynamic_cast<QtViewport*>(viewport_surface());
    return surface ? static_cast<QtViewportWidget*>(surface->widget()) : nullptr;
  }
};

}  // namespace

void focus_caption_qt_install() {
  static QtFocusCaption caption;
  focus_set_view(&caption);
}

void viewport_qt_install(QtHost& host) {
  viewport_host = &host;
  viewport_set_surface_maker(&make_viewport);
  // Movement reads the held keys the view's host keeps.
  keymap_track_keys(host);
  depth_dialog_register();
}
