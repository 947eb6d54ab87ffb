#include "client/ui/fonts.h"

#include <QFontInfo>
#include <memory>
#include <vector>

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
  // Made once per description and kept for the run (child windows hold on to them); a later
  // start in the same process gets the same font again.
  static std::vector<std::unique_ptr<QFont>> fonts;
  QFont wanted = describe(f);
  for (const auto& q : fonts)
    if (*q == wanted) return reinterpret_cast<intptr_t>(q.get());
  if (QFontInfo(wanted).family().isEmpty()) return 0;
  fonts.push_back(std::make_unique<QFont>(wanted));
  return reinterpret_cast<intptr_t>(fonts.back().get());
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
