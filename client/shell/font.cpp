#include "client/shell/font.h"

#include "client/core/log.h"

namespace {

font_maker maker = nullptr;
ui_font normal_font{"Arial", -11, 0, 0};
ui_font bold_font{"Arial", -11, 700, 0};
bool made = false;

}  // namespace

void font_set_maker(font_maker m) { maker = m; }

int font_init() {
  if (trace_switches[TRACE_GENERAL]) log_write("font_init");
  normal_font.handle = maker ? maker(normal_font) : 0;
  bold_font.handle = maker ? maker(bold_font) : 0;
  made = !maker || (normal_font.handle && bold_font.handle);
  return made ? 1 : 0;
}

const ui_font* font_normal() { return made ? &normal_font : nullptr; }
const ui_font* font_bold() { return made ? &bold_font : nullptr; }

void font_reset() {
  normal_font.handle = bold_font.handle = 0;
  made = false;
}
