#pragma once
// The user-interface fonts as Qt fonts ("Arial" is the metric-compatible Liberation Sans).
#include <QFont>

struct ui_font;

// The Qt font of a description (the application's font for null).
QFont qt_font(const ui_font* font);
// font_init makes Qt fonts. Call before start-up.
void fonts_qt_install();
