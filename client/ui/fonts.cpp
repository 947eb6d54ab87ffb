#include "client/ui/fonts.h"

#include <QFontInfo>

#include "client/shell/font.h"

namespace {

QFont describe(const ui_font& f) {
  QFont q(QString::fromLatin1(f.face));
  if (f.height < 0) q.setPixelSize(-f.height);
  else if (f.height > 0) q.setPixelSize(f.height);
  if (f.weight >= 700) q.setBold(true);
  return q;
}

intptr_t make(const ui_font& f) {
  // Made once per description and kept for the run: child windows hold on to them.
  auto* q = new QFont(describe(f));
  if (QFontInfo(*q).family().isEmpty()) {
    delete q;
    return 0;
  }
  return reinterpret_cast<intptr_t>(q);
}

}  // namespace

QFont qt_font(const ui_font* f) {
  if (!f) return QFont();
  if (f->handle) return *reinterpret_cast<const QFont*>(f->handle);
  return describe(*f);
}

void fonts_qt_install() {
  QFont::insertSubstitution("Arial", "Liberation Sans");
  font_set_maker(make);
}
