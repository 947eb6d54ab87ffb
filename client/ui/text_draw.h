#pragma once
// The platform's text drawing gets its glyphs from Qt: "Arial" is drawn as Liberation Sans
// (same metrics), without smoothing, as the palettised frames and two-colour signs need.
// Needs a QGuiApplication; without one text drawing falls back to estimates.
void text_draw_qt_install();
