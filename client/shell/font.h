#pragma once
// The two user-interface fonts: "Arial" 11 pixels high, normal and bold. Child windows take
// the normal one; the bold one marks headings. The window system realises them through the
// maker installed by the Qt side; without one (headless runs) they are descriptions only.
#include <cstdint>

struct ui_font {
  const char* face;
  int height;  // negative: character height in pixels
  int weight;  // 0: default, 700: bold
  intptr_t handle;  // the window system's font, 0 when not realised
};

// Makes the window system's font for a description; 0 when it cannot.
using font_maker = intptr_t (*)(const ui_font& font);
void font_set_maker(font_maker maker);

// Makes both fonts; 1 when both exist, else 0.
int font_init();
const ui_font* font_normal();
const ui_font* font_bold();
// Tests: forgets both fonts.
void font_reset();
