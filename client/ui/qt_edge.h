#pragma once
// The 3-D edge the window set draws around its panes: the top and left lines in one colour,
// the bottom and right ones in the other (dark then light sinks the rectangle, light then dark
// raises it).
#include <QColor>
#include <QPainter>
#include <QRect>

inline void qt_draw_edge(QPainter& painter, const QRect& r, const QColor& top_left, const QColor& bottom_right) {
  painter.setPen(top_left);
  painter.drawLine(r.topLeft(), r.topRight());
  painter.drawLine(r.topLeft(), r.bottomLeft());
  painter.setPen(bottom_right);
  painter.drawLine(r.bottomLeft(), r.bottomRight());
  painter.drawLine(r.topRight(), r.bottomRight());
}
