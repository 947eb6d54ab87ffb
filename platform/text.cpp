#include "platform/text.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "platform/gdi.h"

struct GdiFont {
  TextFontSpec spec;
};

namespace {

struct DcText {
  GdiFont* font = nullptr;
  uint32_t colour = 0;
  int bk_mode = kBkOpaque;
};

const TextBackend* g_backend = nullptr;
std::map<GdiDc*, DcText> g_state;

// Without glyphs: an average character half as wide as the font is high, words wrapped.
bool estimate(const TextFontSpec* f, const char* text, int length, int width, unsigned flags, int* w,
              int* h) {
  int px = f->height < 0 ? -f->height : f->height;
  if (px <= 0) px = 12;
  int cw = std::max(1, px / 2);
  int per_line = (flags & kDtWordBreak) && width > 0 ? std::max(1, width / cw) : INT_MAX;
  int lines = 1, col = 0, widest = 0;
  for (int i = 0; i < length; ++i) {
    if (text[i] == '\n' || col >= per_line) {
      widest = std::max(widest, col);
      ++lines;
      col = text[i] == '\n' ? 0 : 1;
      continue;
    }
    ++col;
  }
  widest = std::max(widest, col);
  *w = widest * cw;
  *h = lines * px;
  return true;
}

bool measure(const TextFontSpec* f, const char* text, int length, int width, unsigned flags, int* w, int* h) {
  if (g_backend && g_backend->measure && g_backend->measure(f, text, length, width, flags, w, h)) return true;
  return estimate(f, text, length, width, flags, w, h);
}

// Nearest entry of the table to 0x00BBGGRR.
uint8_t nearest(const uint8_t* colours, uint32_t c) {
  int r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
  int best = 0;
  long best_d = LONG_MAX;
  for (int i = 0; i < 256; ++i) {
    long dr = colours[3 * i] - r, dg = colours[3 * i + 1] - g, db = colours[3 * i + 2] - b;
    long d = dr * dr + dg * dg + db * db;
    if (d < best_d) best_d = d, best = i;
  }
  return static_cast<uint8_t>(best);
}

// Writes the colour at (x, y) of the pixels when inside them.
struct Painter {
  GdiPixels px;
  uint8_t index = 0;
  uint32_t colour = 0;
  bool begin(GdiDc* dc, uint32_t c) {
    if (!gdi_dc_pixels(dc, &px) || (px.bits != 8 && px.bits != 24 && px.bits != 32)) return false;
    colour = c;
    if (px.bits == 8) index = nearest(px.colours, c);
    return true;
  }
  void put(int x, int y) {
    if (x < 0 || y < 0 || x >= px.width || y >= px.height) return;
    uint8_t* row = px.top + static_cast<intptr_t>(y) * px.pitch;
    if (px.bits == 8) {
      row[x] = index;
    } else {
      uint8_t* p = row + x * (px.bits / 8);
      p[0] = static_cast<uint8_t>(colour >> 16);
      p[1] = static_cast<uint8_t>(colour >> 8);
      p[2] = static_cast<uint8_t>(colour);
    }
  }
};

}  // namespace

void text_set_backend(const TextBackend* backend) { g_backend = backend; }
const TextBackend* text_backend() { return g_backend; }

GdiFont* gdi_create_font(int height, int weight, const char* face) {
  auto* f = new GdiFont{};
  f->spec.height = height;
  f->spec.weight = weight;
  std::snprintf(f->spec.face, sizeof f->spec.face, "%s", face ? face : "");
  return f;
}

void gdi_delete_font(GdiFont* font) {
  if (!font) return;
  for (auto& [dc, st] : g_state)
    if (st.font == font) st.font = nullptr;
  delete font;
}

// Sets one of a context's text settings; the previous value.
template <class T>
T exchange(GdiDc* dc, T DcText::*field, T value) {
  if (!dc) return T{};
  DcText& st = g_state[dc];
  T old = st.*field;
  st.*field = value;
  return old;
}

GdiFont* gdi_select_font(GdiDc* dc, GdiFont* font) { return exchange(dc, &DcText::font, font); }
uint32_t gdi_set_text_colour(GdiDc* dc, uint32_t colour) { return exchange(dc, &DcText::colour, colour); }
int gdi_set_bk_mode(GdiDc* dc, int mode) { return exchange(dc, &DcText::bk_mode, mode); }

void text_forget_dc(GdiDc* dc) { g_state.erase(dc); }

int gdi_draw_text(GdiDc* dc, const char* text, int length, GdiRect* rect, unsigned flags) {
  if (!dc || !text || !rect) return 0;
  if (length < 0) length = static_cast<int>(std::strlen(text));
  DcText& st = g_state[dc];
  static const TextFontSpec system_font{"System", 16, 700};
  const TextFontSpec* f = st.font ? &st.font->spec : &system_font;
  int box = rect->right - rect->left;
  int w = 0, h = 0;
  if (!measure(f, text, length, box, flags, &w, &h)) return 0;
  if (flags & kDtCalcRect) {
    // A box narrower than one word grows to the word, as the desktop's wrapping does.
    rect->right = rect->left + ((flags & kDtWordBreak) ? std::max(w, 0) : w);
    rect->bottom = rect->top + h;
    return h;
  }
  if (length == 0 || box <= 0) return h;
  int bh = std::max(h, rect->bottom - rect->top);
  if (bh <= 0) return h;
  // Kept to sizes a real text can have: a hostile box never allocates gigabytes.
  if (static_cast<int64_t>(box) * bh > (int64_t{1} << 26)) return 0;
  if (!g_backend || !g_backend->render) return h;
  std::vector<uint8_t> cover(static_cast<size_t>(box) * bh, 0);
  if (!g_backend->render(f, text, length, box, bh, flags, cover.data())) return 0;
  Painter p;
  // A window context (the viewport's own paint) takes the text as runs on its surface.
  bool on_window = !p.begin(dc, st.colour);
  int clip_bottom = (flags & kDtNoClip) ? INT_MAX : rect->bottom;
  for (int y = 0; y < bh; ++y) {
    if (rect->top + y >= clip_bottom) break;
    const uint8_t* row = cover.data() + static_cast<size_t>(y) * box;
    for (int x = 0; x < box; ++x) {
      if (row[x] < 128) continue;
      if (!on_window) {
        p.put(rect->left + x, rect->top + y);
        continue;
      }
      int end = x;
      while (end < box && row[end] >= 128) ++end;
      if (!gdi_window_run(dc, rect->left + x, rect->top + y, end - x, st.colour)) return h;
      x = end - 1;
    }
  }
  return h;
}

int gdi_fill_rect(GdiDc* dc, const GdiRect* rect, uint32_t colour) {
  if (!dc || !rect) return 0;
  Painter p;
  if (!p.begin(dc, colour)) return 0;
  int x0 = std::max(rect->left, 0), y0 = std::max(rect->top, 0);
  int x1 = std::min(rect->right, p.px.width), y1 = std::min(rect->bottom, p.px.height);
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) p.put(x, y);
  return 1;
}
