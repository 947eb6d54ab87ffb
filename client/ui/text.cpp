#include "client/ui/text.h"

#include <QLabel>

#include "client/core/strutil.h"

namespace {
// Windows-1252's 0x80..0x9F; the rest is Latin-1. Unassigned codes stay as they are.
const char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// The table's range; mapped through the table, a code still in it is one of the unassigned.
bool in_high(char16_t u) { return u >= 0x80 && u < 0xA0; }
}  // namespace

QString text_to_qt(const char* text, TextUnassigned unassigned) {
  QString out;
  if (!text) return out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    char16_t u = in_high(*p) ? kHigh[*p - 0x80] : static_cast<char16_t>(*p);
    if (in_high(u) && unassigned == TextUnassigned::Question) u = u'?';
    out.append(QChar(u));
  }
  return out;
}

std::string text_from_qt(const QString& text, TextUnassigned unassigned) {
  std::string out;
  out.reserve(static_cast<size_t>(text.size()));
  for (QChar c : text) {
    char16_t u = c.unicode();
    if (in_high(u) && unassigned == TextUnassigned::Question) {
      out.push_back('?');
      continue;
    }
    if (u < 0x80 || (u >= 0xA0 && u < 0x100)) {
      out.push_back(static_cast<char>(u));
      continue;
    }
    char b = '?';
    for (int i = 0; i < 32; ++i)
      if (kHigh[i] == u) b = static_cast<char>(0x80 + i);
    out.push_back(b);
  }
  return out;
}

QString text_to_qt_shown(const char* text, bool one_line, TextUnassigned unassigned) {
  return text_to_qt(text_printable(text, !one_line).c_str(), unassigned);
}

QLabel* text_label(QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);
  return label;
}
