#pragma once
// Text drawing on device contexts: fonts by face, height and weight, a text colour and a
// transparent background per context, and word-wrapped, centred text drawn straight into the
// pixels of the bitmap selected into a memory context (8-bit: the nearest colour of its
// table; 24-bit: the colour itself). Glyphs come from a backend that the window layer
// installs (the program and its Qt tests); without one text measures by a rough estimate and
// draws nothing. Heights follow the desktop's rule: negative is the character height in
// pixels, positive the cell height. Window thread only.
#include <cstdint>

struct GdiDc;

// Text flags (the desktop's values).
enum : unsigned {
  kDtCenter = 0x1,
  kDtWordBreak = 0x10,
  kDtNoClip = 0x100,
  kDtCalcRect = 0x400,
  kDtNoPrefix = 0x800,
};
constexpr int kBkTransparent = 1;
constexpr int kBkOpaque = 2;

struct GdiRect {
  int left, top, right, bottom;
};

struct TextFontSpec {
  char face[32];
  int height;
  int weight;  // 400 normal, 700 bold
};

struct TextBackend {
  // The extent of the text laid out in lines at most width pixels wide (wrapped between
  // words with kDtWordBreak, else one line per line break).
  bool (*measure)(const TextFontSpec* font, const char* text, int length, int width, unsigned flags,
                  int* out_width, int* out_height);
  // Coverage (0 or 255) of the text laid out from the top of a width x height box, one byte
  // per pixel, rows top down.
  bool (*render)(const TextFontSpec* font, const char* text, int length, int width, int height,
                 unsigned flags, uint8_t* coverage);
};
void text_set_backend(const TextBackend* backend);
const TextBackend* text_backend();

struct GdiFont;
GdiFont* gdi_create_font(int height, int weight, const char* face);
void gdi_delete_font(GdiFont* font);
// The font a context draws with; returns the previous one (null: none selected yet).
GdiFont* gdi_select_font(GdiDc* dc, GdiFont* font);
// Returns the previous colour (0x00BBGGRR).
uint32_t gdi_set_text_colour(GdiDc* dc, uint32_t colour);
int gdi_set_bk_mode(GdiDc* dc, int mode);
// Draws (or with kDtCalcRect measures, widening and lowering rect to the text's extent) the
// text in rect; length -1 is up to the terminator. Returns the text's height, 0 on failure.
int gdi_draw_text(GdiDc* dc, const char* text, int length, GdiRect* rect, unsigned flags);
// Fills the rectangle with a colour (the nearest one of an 8-bit table).
int gdi_fill_rect(GdiDc* dc, const GdiRect* rect, uint32_t colour);
// Drops the per-context text state of a context that goes (gdi_delete_dc calls it).
void text_forget_dc(GdiDc* dc);
