#include "client/ui/status_bar.h"

#include <QPainter>
#include <QStyleOptionFrame>

#include "client/shell/font.h"
#include "client/ui/fonts.h"
#include "client/ui/qt_dialog.h"
#include "client/ui/qt_edge.h"
#include "client/ui/qt_host.h"
#include "client/ui/qt_main_child.h"

namespace {

QtHost* bar_host = nullptr;

StatusBarView* make_bar() {
  return qt_main_child_shown<QtStatusBar>(bar_host);
}

}  // namespace

QtStatusBar::QtStatusBar(QWidget* parent) : QWidget(parent) {
  setObjectName("status");
  setFont(qt_font(font_normal()));
  setAutoFillBackground(true);
}

QtStatusBar::~QtStatusBar() { status_bar_destroyed(this); }

int QtStatusBar::client_height() { return fontMetrics().height() + 6; }

void QtStatusBar::set_parts(const int* edges, size_t count) {
  edges_.assign(edges, edges + count);
  texts_.assign(count, QString());
  update();
}

void QtStatusBar::set_text(size_t part, const char* text) {
  if (part >= texts_.size()) return;
  texts_[part] = qt_from_bytes(text);
  update();
}

void QtStatusBar::move(int x, int y, int width, int height) { setGeometry(x, y, width, height); }

void QtStatusBar::paintEvent(QPaintEvent*) {
  QPainter g(this);
  g.setPen(palette().color(QPalette::Mid));
  g.drawLine(0, 0, width(), 0);
  int left = 0;
  for (size_t i = 0; i < edges_.size(); ++i) {
    int right = std::min(edges_[i], width());
    QRect r(left + 1, 2, right - left - 3, height() - 4);
    if (r.width() > 0) {
      qt_draw_edge(g, r, palette().color(QPalette::Dark), palette().color(QPalette::Light));
      g.setPen(palette().color(QPalette::WindowText));
      g.drawText(r.adjusted(3, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft, texts_[i]);
    }
    left = right;
  }
}

void status_bar_qt_install(QtHost& host) {
  bar_host = &host;
  status_set_bar_maker(make_bar);
}
