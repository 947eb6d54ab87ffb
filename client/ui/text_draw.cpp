#include "client/ui/text_draw.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "client/ui/text.h"
#include "platform/text.h"

namespace {

QFont font_of(const TextFontSpec* f) {
  QString face = QString::fromLatin1(f->face);
  if (face.compare("Arial", Qt::CaseInsensitive) == 0) face = "Liberation Sans";
  QFont font(face);
  // Negative heights are the character height; positive ones the whole cell.
  int px = f->height < 0 ? -f->height : static_cast<int>(std::lround(f->height * 0.895));
  font.setPixelSize(std::max(1, px));
  font.setWeight(static_cast<QFont::Weight>(std::clamp(f->weight, 100, 900)));
  font.setStyleStrategy(QFont::NoAntialias);
  font.setHintingPreference(QFont::PreferFullHinting);
  return font;
}

int qt_flags(unsigned flags) {
  int q = Qt::AlignTop;
  q |= (flags & kDtCenter) ? Qt::AlignHCenter : Qt::AlignLeft;
  if (flags & kDtWordBreak) q |= Qt::TextWordWrap;
  // Without "no prefix" an ampersand would mark a mnemonic; we never draw those.
  return q;
}

QString text_of(const char* text, int length) {
  std::string copy(text, static_cast<size_t>(std::max(0, length)));
  return text_to_qt(copy.c_str());
}

bool measure(const TextFontSpec* f, const char* text, int length, int width, unsigned flags, int* w, int* h) {
  if (!QGuiApplication::instance()) return false;
  QFontMetrics m(font_of(f));
  QString t = text_of(text, length);
  QRect r = m.boundingRect(QRect(0, 0, std::max(width, 1), 1 << 20), qt_flags(flags), t);
  *w = t.isEmpty() ? 0 : r.width();
  *h = t.isEmpty() ? m.height() : r.height();
  return true;
}

bool render(const TextFontSpec* f, const char* text, int length, int width, int height, unsigned flags,
            uint8_t* coverage) {
  if (!QGuiApplication::instance() || width <= 0 || height <= 0) return false;
  QImage image(width, height, QImage::Format_Alpha8);
  image.fill(0);
  {
    QPainter p(&image);
    p.setFont(font_of(f));
    p.setPen(QColor(0, 0, 0, 255));
    p.drawText(QRect(0, 0, width, height), qt_flags(flags), text_of(text, length));
  }
  for (int y = 0; y < height; ++y) {
    const uchar* row = image.constScanLine(y);
    for (int x = 0; x < width; ++x) coverage[static_cast<size_t>(y) * width + x] = row[x] >= 128 ? 255 : 0;
  }
  return true;
}

const TextBackend qt_backend = {measure, render};

}  // namespace

void text_draw_qt_install() { text_set_backend(&qt_backend); }
