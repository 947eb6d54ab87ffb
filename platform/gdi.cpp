#include "platform/gdi.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "platform/display.h"
#include "platform/surface.h"
#include "platform/text.h"

bool display_take_palette_read_failure();

namespace {

enum class ObjectKind { Bitmap, DibSection, Palette, Stock };
enum class DcKind { Screen, Window, Memory };

}  // namespace

struct GdiObject {
  ObjectKind kind = ObjectKind::Bitmap;
  int width = 0;
  int height = 0;       // rows
  bool bottom_up = false;
  int bits = 0;
  int stride = 0;
  std::vector<uint8_t> own_pixels;
  uint8_t* pixels = nullptr;
  // DIB sections.
  bool pal_usage = false;
  uint16_t pal_index[256] = {};
  RgbQuad rgb[256] = {};
  uint32_t masks[3] = {0xF800, 0x07E0, 0x001F};
  // Palettes.
  PaletteEntry entries[256] = {};
  int count = 0;
  GdiDc* selected_in = nullptr;
};

struct GdiDc {
  DcKind kind = DcKind::Screen;
  PlatformWindow* window = nullptr;
  GdiObject* bitmap = nullptr;
  GdiObject* palette = nullptr;
};

namespace {

std::set<GdiObject*> g_objects;
std::set<GdiDc*> g_dcs;
int g_fail[kGdiFailureCount] = {};
int g_flushes = 0;
int g_last_error = 0;
GdiObject g_stock_bitmap = [] {
  GdiObject o;
  o.kind = ObjectKind::Stock;
  return o;
}();

constexpr size_t kCanaryBytes = 64;
constexpr uint8_t kCanaryByte = 0xC5;
int g_canary_faults = 0;

void check_canaries(const GdiObject* o) {
  const std::vector<uint8_t>& v = o->own_pixels;
  if (v.size() < 2 * kCanaryBytes) return;
  for (size_t i = 0; i < kCanaryBytes; ++i)
    if (v[i] != kCanaryByte || v[v.size() - 1 - i] != kCanaryByte) {
      ++g_canary_faults;
      return;
    }
}

bool take_failure(GdiFailure what) {
  if (g_fail[what] <= 0) return false;
  --g_fail[what];
  return true;
}

bool valid_dc(GdiDc* dc) { return dc && g_dcs.count(dc); }
bool valid_object(GdiObject* o) { return o && g_objects.count(o); }

GdiObject* new_object(ObjectKind kind) {
  auto* o = new GdiObject;
  o->kind = kind;
  g_objects.insert(o);
  return o;
}

// Colours of a palette as {r, g, b}; the hardware palette when there is none.
void palette_rgb(GdiObject* palette, uint8_t* rgb) {
  if (valid_object(palette) && palette->kind == ObjectKind::Palette) {
    for (int i = 0; i < 256; ++i) {
      const PaletteEntry& e = palette->entries[i < palette->count ? i : 0];
      rgb[3 * i] = e.red;
      rgb[3 * i + 1] = e.green;
      rgb[3 * i + 2] = e.blue;
    }
    return;
  }
  const DisplayRgb* hw = display_hardware_palette();
  for (int i = 0; i < 256; ++i) {
    rgb[3 * i] = hw[i].red;
    rgb[3 * i + 1] = hw[i].green;
    rgb[3 * i + 2] = hw[i].blue;
  }
}

// A source image: pixel rows top-down with a colour lookup.
struct Source {
  int width = 0;
  int height = 0;
  int bits = 8;
  const uint8_t* top = nullptr;  // first byte of the top row
  intptr_t pitch = 0;            // top row to the next row down
  uint8_t colours[768] = {};
  uint32_t masks[3] = {0xF800, 0x07E0, 0x001F};

  bool pixel(int x, int y, uint8_t* out) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return false;
    const uint8_t* row = top + y * pitch;
    if (bits == 8) {
      std::memcpy(out, colours + 3 * row[x], 3);
    } else if (bits == 16) {
      uint32_t v = row[2 * x] | (uint32_t{row[2 * x + 1]} << 8);
      for (int c = 0; c < 3; ++c) {
        uint32_t m = masks[c];
        if (!m) {
          out[c] = 0;
          continue;
        }
        int shift = 0;
        while (!((m >> shift) & 1)) ++shift;
        uint32_t max = m >> shift;
        out[c] = static_cast<uint8_t>(((v & m) >> shift) * 255 / max);
      }
    } else if (bits == 24 || bits == 32) {
      const uint8_t* p = row + x * (bits / 8);
      out[0] = p[2];
      out[1] = p[1];
      out[2] = p[0];
    } else {
      return false;
    }
    return true;
  }
};

bool source_from_info(Source& s, const void* bits, const void* info, int usage, GdiDc* dc,
                      int rows) {
  if (!bits || !info) return false;
  const auto* h = static_cast<const BitmapInfoHeader*>(info);
  if (h->size < 40 || h->width <= 0 || h->height == 0) return false;
  s.width = h->width;
  s.height = rows;
  s.bits = h->bit_count;
  int stride = ((h->width * h->bit_count + 31) / 32) * 4;
  const uint8_t* table = static_cast<const uint8_t*>(info) + h->size;
  if (s.bits == 8) {
    if (usage == kDibPalColours) {
      uint8_t pal[768];
      palette_rgb(valid_dc(dc) ? dc->palette : nullptr, pal);
      for (int i = 0; i < 256; ++i) {
        uint16_t idx;
        std::memcpy(&idx, table + 2 * i, 2);
        std::memcpy(s.colours + 3 * i, pal + 3 * (idx & 0xFF), 3);
      }
    } else {
      for (int i = 0; i < 256; ++i) {
        s.colours[3 * i] = table[4 * i + 2];
        s.colours[3 * i + 1] = table[4 * i + 1];
        s.colours[3 * i + 2] = table[4 * i];
      }
    }
  } else if (s.bits == 16 && h->compression == kBiBitfields) {
    std::memcpy(s.masks, table, 12);
  } else if (s.bits == 16) {
    s.masks[0] = 0x7C00;
    s.masks[1] = 0x03E0;
    s.masks[2] = 0x001F;
  }
  const auto* base = static_cast<const uint8_t*>(bits);
  if (h->height > 0) {
    // Bottom-up: the given rows start at the bottom row.
    s.top = base + static_cast<intptr_t>(rows - 1) * stride;
    s.pitch = -stride;
  } else {
    s.top = base;
    s.pitch = stride;
  }
  return true;
}

bool source_from_dc(Source& s, GdiDc* dc) {
  if (!valid_dc(dc) || dc->kind != DcKind::Memory || !valid_object(dc->bitmap)) return false;
  GdiObject* b = dc->bitmap;
  s.width = b->width;
  s.height = b->height;
  s.bits = b->bits;
  if (b->bottom_up) {
    s.top = b->pixels + static_cast<intptr_t>(b->height - 1) * b->stride;
    s.pitch = -b->stride;
  } else {
    s.top = b->pixels;
    s.pitch = b->stride;
  }
  std::memcpy(s.masks, b->masks, sizeof s.masks);
  if (b->pal_usage) {
    uint8_t pal[768];
    palette_rgb(dc->palette, pal);
    for (int i = 0; i < 256; ++i) std::memcpy(s.colours + 3 * i, pal + 3 * b->pal_index[i], 3);
  } else {
    for (int i = 0; i < 256; ++i) {
      s.colours[3 * i] = b->rgb[i].red;
      s.colours[3 * i + 1] = b->rgb[i].green;
      s.colours[3 * i + 2] = b->rgb[i].blue;
    }
  }
  return true;
}

// Copies (sx, sy, sw, sh) of the source to (x, y, w, h) of the context, scaling by nearest
// pixel. Only window contexts show anything; the screen context accepts and drops.
int draw(GdiDc* dc, int x, int y, int w, int h, const Source& s, int sx, int sy, int sw, int sh) {
  if (w <= 0 || h <= 0 || sw <= 0 || sh <= 0) return 0;
  WindowSurface* surface = dc->kind == DcKind::Window ? window_surface(dc->window) : nullptr;
  if (!surface) return 1;
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * 3);
  for (int r = 0; r < h; ++r) {
    int row = sy + static_cast<int>(static_cast<int64_t>(r) * sh / h);
    int written = 0;
    int start = 0;
    for (int c = 0; c < w; ++c) {
      int col = sx + static_cast<int>(static_cast<int64_t>(c) * sw / w);
      if (!s.pixel(col, row, &rgb[3 * c])) {
        // Outside the source: flush what was gathered and skip the pixel.
        if (c > start) surface->put_rgb(x + start, y + r, c - start, 1, &rgb[3 * start], w * 3);
        start = c + 1;
        continue;
      }
      ++written;
    }
    if (w > start) surface->put_rgb(x + start, y + r, w - start, 1, &rgb[3 * start], w * 3);
    (void)written;
  }
  return 1;
}

}  // namespace

GdiDc* gdi_get_dc(PlatformWindow* window) {
  if (take_failure(kGdiFailGetDc)) return nullptr;
  auto* dc = new GdiDc;
  dc->kind = window ? DcKind::Window : DcKind::Screen;
  dc->window = window;
  g_dcs.insert(dc);
  return dc;
}

int gdi_release_dc(PlatformWindow*, GdiDc* dc) {
  if (!valid_dc(dc) || dc->kind == DcKind::Memory) return 0;
  if (valid_object(dc->palette)) dc->palette->selected_in = nullptr;
  g_dcs.erase(dc);
  text_forget_dc(dc);
  delete dc;
  return 1;
}

int gdi_device_caps(GdiDc* dc, int index) {
  if (!valid_dc(dc)) return 0;
  const DisplayProfile& p = display_profile();
  switch (index) {
    case kCapsHorzRes: return p.width;
    case kCapsVertRes: return p.height;
    // A 15-bit screen reports 16, as such hardware does; the pixel probe tells them apart.
    case kCapsBitsPixel: return p.bits == 15 ? 16 : p.bits;
    case kCapsRasterCaps: return p.palette ? kRasterCapsPalette | 1 : 1;
    default: return 0;
  }
}

int gdi_system_metrics(int index) {
  const DisplayProfile& p = display_profile();
  if (index == kMetricCxFullscreen) return p.width;
  if (index == kMetricCyFullscreen) return p.height > 20 ? p.height - 20 : p.height;
  return 0;
}

GdiDc* gdi_create_compatible_dc(GdiDc* dc) {
  if (take_failure(kGdiFailCompatibleDc)) return nullptr;
  if (dc && !valid_dc(dc)) return nullptr;
  auto* m = new GdiDc;
  m->kind = DcKind::Memory;
  m->bitmap = &g_stock_bitmap;
  g_dcs.insert(m);
  return m;
}

int gdi_delete_dc(GdiDc* dc) {
  if (!valid_dc(dc) || dc->kind != DcKind::Memory) return 0;
  if (valid_object(dc->bitmap)) dc->bitmap->selected_in = nullptr;
  if (valid_object(dc->palette)) dc->palette->selected_in = nullptr;
  g_dcs.erase(dc);
  text_forget_dc(dc);
  delete dc;
  return 1;
}

GdiObject* gdi_select_object(GdiDc* dc, GdiObject* object) {
  if (!valid_dc(dc) || dc->kind != DcKind::Memory) return nullptr;
  if (object != &g_stock_bitmap) {
    if (!valid_object(object) || object->kind == ObjectKind::Palette) return nullptr;
    if (object->selected_in && object->selected_in != dc) return nullptr;
    object->selected_in = dc;
  }
  GdiObject* old = dc->bitmap;
  if (valid_object(old)) old->selected_in = nullptr;
  dc->bitmap = object;
  return old;
}

int gdi_delete_object(GdiObject* object) {
  if (object == &g_stock_bitmap) return 1;
  if (!valid_object(object) || object->selected_in) return 0;
  if (object->kind == ObjectKind::DibSection) check_canaries(object);
  g_objects.erase(object);
  delete object;
  return 1;
}

GdiObject* gdi_create_bitmap(int width, int height, int planes, int bits, const void* data) {
  if (take_failure(kGdiFailCreateBitmap)) return nullptr;
  if (width <= 0 || height <= 0 || planes != 1 || width > 16384 || height > 16384) return nullptr;
  if (bits != 1 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return nullptr;
  GdiObject* o = new_object(ObjectKind::Bitmap);
  o->width = width;
  o->height = height;
  o->bits = bits;
  o->stride = ((width * bits + 15) / 16) * 2;  // device bitmaps keep 16-bit aligned rows
  o->own_pixels.assign(static_cast<size_t>(o->stride) * height, 0);
  if (data) std::memcpy(o->own_pixels.data(), data, o->own_pixels.size());
  o->pixels = o->own_pixels.data();
  return o;
}

uint32_t gdi_set_pixel(GdiDc* dc, int x, int y, uint32_t colour) {
  if (take_failure(kGdiFailSetPixel)) return 0xFFFFFFFFu;
  if (!valid_dc(dc) || dc->kind != DcKind::Memory || !valid_object(dc->bitmap)) return 0xFFFFFFFFu;
  GdiObject* b = dc->bitmap;
  if (x < 0 || y < 0 || x >= b->width || y >= b->height) return 0xFFFFFFFFu;
  uint32_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, bl = (colour >> 16) & 0xFF;
  uint8_t* p = b->pixels + static_cast<intptr_t>(y) * b->stride;
  if (b->bits == 16) {
    // The screen's own 16-bit layout decides the word stored.
    uint16_t v = display_profile().bits == 15
                     ? static_cast<uint16_t>(((r >> 3) << 10) | ((g >> 3) << 5) | (bl >> 3))
                     : static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (bl >> 3));
    p[2 * x] = static_cast<uint8_t>(v);
    p[2 * x + 1] = static_cast<uint8_t>(v >> 8);
  } else if (b->bits == 8) {
    p[x] = static_cast<uint8_t>((r + g + bl) / 3);
  } else {
    return 0xFFFFFFFFu;
  }
  return colour & 0xFFFFFF;
}

int gdi_get_bitmap_bits(GdiObject* bitmap, int bytes, void* out) {
  if (take_failure(kGdiFailBitmapBits)) return 0;
  if (!valid_object(bitmap) || bitmap->kind != ObjectKind::Bitmap || bytes <= 0 || !out) return 0;
  size_t n = std::min(static_cast<size_t>(bytes), bitmap->own_pixels.size());
  std::memcpy(out, bitmap->pixels, n);
  return static_cast<int>(n);
}

GdiObject* gdi_create_palette(const LogPalette* palette) {
  if (take_failure(kGdiFailCreatePalette)) return nullptr;
  if (!palette || palette->version != 0x300 || palette->count == 0 || palette->count > 256)
    return nullptr;
  GdiObject* o = new_object(ObjectKind::Palette);
  o->count = palette->count;
  std::memcpy(o->entries, palette->entries, sizeof(PaletteEntry) * palette->count);
  return o;
}

int gdi_set_palette_entries(GdiObject* palette, int start, int count, const PaletteEntry* entries) {
  if (!valid_object(palette) || palette->kind != ObjectKind::Palette || !entries) return 0;
  if (start < 0 || count <= 0 || start >= palette->count) return 0;
  int n = std::min(count, palette->count - start);
  std::memcpy(palette->entries + start, entries, sizeof(PaletteEntry) * n);
  return n;
}

int gdi_get_palette_entries(GdiObject* palette, int start, int count, PaletteEntry* out) {
  if (!valid_object(palette) || palette->kind != ObjectKind::Palette || !out) return 0;
  if (start < 0 || count <= 0 || start >= palette->count) return 0;
  int n = std::min(count, palette->count - start);
  std::memcpy(out, palette->entries + start, sizeof(PaletteEntry) * n);
  return n;
}

GdiObject* gdi_select_palette(GdiDc* dc, GdiObject* palette, int) {
  if (!valid_dc(dc) || !valid_object(palette) || palette->kind != ObjectKind::Palette)
    return nullptr;
  GdiObject* old = dc->palette;
  dc->palette = palette;
  // Returns the previous palette; a context that had none reports the new one as taken.
  return old ? old : palette;
}

int gdi_realize_palette(GdiDc* dc) {
  if (!valid_dc(dc) || !valid_object(dc->palette)) return 0;
  if (dc->kind == DcKind::Memory || !display_profile().palette) return dc->palette->count;
  DisplayRgb colours[236];
  for (int i = 10; i < 246 && i < dc->palette->count; ++i) {
    const PaletteEntry& e = dc->palette->entries[i];
    colours[i - 10] = {e.red, e.green, e.blue};
  }
  int n = std::min(dc->palette->count, 246) - 10;
  if (n > 0) display_hardware_palette_set(10, n, colours);
  return n > 0 ? n : 0;
}

int gdi_get_system_palette_entries(GdiDc* dc, int start, int count, PaletteEntry* out) {
  if (!valid_dc(dc) || !out || start < 0 || count <= 0 || start + count > 256) return 0;
  if (!display_profile().palette || display_take_palette_read_failure()) return 0;
  const DisplayRgb* hw = display_hardware_palette();
  for (int i = 0; i < count; ++i) out[i] = {hw[start + i].red, hw[start + i].green, hw[start + i].blue, 0};
  return count;
}

GdiObject* gdi_create_dib_section(GdiDc* dc, const void* info, int usage, uint8_t** bits, void*,
                                  uint32_t) {
  if (bits) *bits = nullptr;
  if (take_failure(kGdiFailDibSection)) return nullptr;
  if (!info || (dc && !valid_dc(dc))) return nullptr;
  const auto* h = static_cast<const BitmapInfoHeader*>(info);
  if (h->size != 40 || h->width <= 0 || h->height == 0 || h->planes != 1) return nullptr;
  if (h->bit_count != 8 && h->bit_count != 16 && h->bit_count != 24 && h->bit_count != 32)
    return nullptr;
  int rows = h->height > 0 ? h->height : -h->height;
  if (h->width > 16384 || rows > 16384) return nullptr;
  GdiObject* o = new_object(ObjectKind::DibSection);
  o->width = h->width;
  o->height = rows;
  o->bottom_up = h->height > 0;
  o->bits = h->bit_count;
  o->stride = ((h->width * h->bit_count + 31) / 32) * 4;
  // Canary bands before and after the pixels catch writes outside the frame.
  o->own_pixels.assign(static_cast<size_t>(o->stride) * rows + 2 * kCanaryBytes, kCanaryByte);
  o->pixels = o->own_pixels.data() + kCanaryBytes;
  std::memset(o->pixels, 0, static_cast<size_t>(o->stride) * rows);
  const uint8_t* table = static_cast<const uint8_t*>(info) + 40;
  if (o->bits == 8) {
    o->pal_usage = usage == kDibPalColours;
    for (int i = 0; i < 256; ++i) {
      if (o->pal_usage)
        std::memcpy(&o->pal_index[i], table + 2 * i, 2);
      else
        std::memcpy(&o->rgb[i], table + 4 * i, 4);
    }
  } else if (o->bits == 16) {
    if (h->compression == kBiBitfields)
      std::memcpy(o->masks, table, 12);
    else {
      o->masks[0] = 0x7C00;
      o->masks[1] = 0x03E0;
      o->masks[2] = 0x001F;
    }
  }
  if (bits) *bits = o->pixels;
  return o;
}

int gdi_set_dib_colour_table(GdiDc* dc, int start, int count, const RgbQuad* colours) {
  if (!valid_dc(dc) || !valid_object(dc->bitmap) || dc->bitmap->kind != ObjectKind::DibSection)
    return 0;
  GdiObject* b = dc->bitmap;
  if (b->bits != 8 || start < 0 || count <= 0 || start >= 256 || !colours) return 0;
  int n = std::min(count, 256 - start);
  std::memcpy(b->rgb + start, colours, sizeof(RgbQuad) * n);
  return n;
}

int gdi_set_dibits_to_device(GdiDc* dc, int x, int y, int w, int h, int sx, int sy, int start_scan,
                             int scan_lines, const void* bits, const void* info, int usage) {
  if (!valid_dc(dc) || take_failure(kGdiFailBlit)) return 0;
  Source s;
  if (!source_from_info(s, bits, info, usage, dc, scan_lines)) return 0;
  const auto* hd = static_cast<const BitmapInfoHeader*>(info);
  if (hd->height < 0) return 0;
  // sy counts from the bottom row; the given scan lines start at start_scan.
  int total = hd->height;
  int top_row = total - sy - h;  // in top-down rows of the whole bitmap
  // The scan lines held are bottom-based [start_scan, start_scan + scan_lines), which are
  // top-down rows [total - start_scan - scan_lines, total - start_scan).
  int held_top = total - start_scan - scan_lines;
  draw(dc, x, y, w, h, s, sx, top_row - held_top, w, h);
  return scan_lines;
}

int gdi_stretch_dibits(GdiDc* dc, int x, int y, int w, int h, int sx, int sy, int sw, int sh,
                       const void* bits, const void* info, int usage, uint32_t) {
  if (!valid_dc(dc) || take_failure(kGdiFailBlit)) return 0;
  const auto* hd = static_cast<const BitmapInfoHeader*>(info);
  if (!hd) return 0;
  Source s;
  if (!source_from_info(s, bits, info, usage, dc, hd->height > 0 ? hd->height : -hd->height))
    return 0;
  draw(dc, x, y, w, h, s, sx, sy, sw, sh);
  return sh;
}

int gdi_bit_blt(GdiDc* dc, int x, int y, int w, int h, GdiDc* source, int sx, int sy, uint32_t) {
  if (!valid_dc(dc) || take_failure(kGdiFailBlit)) {
    g_last_error = 6;
    return 0;
  }
  Source s;
  if (!source_from_dc(s, source)) {
    g_last_error = 6;
    return 0;
  }
  draw(dc, x, y, w, h, s, sx, sy, w, h);
  return 1;
}

int gdi_stretch_blt(GdiDc* dc, int x, int y, int w, int h, GdiDc* source, int sx, int sy, int sw,
                    int sh, uint32_t) {
  if (!valid_dc(dc) || take_failure(kGdiFailBlit)) return 0;
  Source s;
  if (!source_from_dc(s, source)) return 0;
  draw(dc, x, y, w, h, s, sx, sy, sw, sh);
  return 1;
}

int gdi_flush() {
  ++g_flushes;
  return 1;
}

int gdi_last_error() { return g_last_error; }

void gdi_fail(GdiFailure what, int n) {
  if (what >= 0 && what < kGdiFailureCount) g_fail[what] = n;
}

int gdi_live_objects() { return static_cast<int>(g_objects.size()); }
int gdi_live_dcs() { return static_cast<int>(g_dcs.size()); }
int gdi_flush_count() { return g_flushes; }
int gdi_canary_faults() {
  int n = g_canary_faults;
  for (GdiObject* o : g_objects) {
    if (o->kind != ObjectKind::DibSection) continue;
    int before = g_canary_faults;
    check_canaries(o);
    n += g_canary_faults - before;
    g_canary_faults = before;
  }
  return n;
}

void gdi_reset() {
  for (int& f : g_fail) f = 0;
  g_canary_faults = 0;
  g_flushes = 0;
  g_last_error = 0;
}

GdiObject* gdi_selected_palette(GdiDc* dc) { return valid_dc(dc) ? dc->palette : nullptr; }

void gdi_palette_colours(GdiObject* palette, uint8_t* rgb) { palette_rgb(palette, rgb); }

bool gdi_dc_pixels(GdiDc* dc, GdiPixels* out) {
  Source s;
  if (!out || !source_from_dc(s, dc) || !dc->bitmap->pixels) return false;
  out->top = const_cast<uint8_t*>(s.top);
  out->pitch = s.pitch;
  out->width = s.width;
  out->height = s.height;
  out->bits = s.bits;
  std::memcpy(out->colours, s.colours, sizeof out->colours);
  return true;
}

GdiDc* gdi_create_pixel_dc(uint8_t* top, int pitch, int width, int height, int bits, const uint8_t* colours) {
  if (!top || pitch <= 0 || width <= 0 || height <= 0 || (bits != 8 && bits != 24 && bits != 32)) return nullptr;
  if (static_cast<int64_t>(width) * (bits / 8) > pitch) return nullptr;
  GdiObject* o = new_object(ObjectKind::Bitmap);
  o->width = width;
  o->height = height;
  o->bits = bits;
  o->stride = pitch;
  o->pixels = top;
  for (int i = 0; colours && i < 256; ++i) o->rgb[i] = RgbQuad{colours[3 * i + 2], colours[3 * i + 1], colours[3 * i], 0};
  auto* m = new GdiDc;
  m->kind = DcKind::Memory;
  m->bitmap = o;
  o->selected_in = m;
  g_dcs.insert(m);
  return m;
}

void gdi_release_pixel_dc(GdiDc* dc) {
  if (!valid_dc(dc) || dc->kind != DcKind::Memory) return;
  GdiObject* o = dc->bitmap;
  if (valid_object(o) && o->own_pixels.empty() && o->kind == ObjectKind::Bitmap) {
    g_objects.erase(o);
    delete o;
  }
  g_dcs.erase(dc);
  text_forget_dc(dc);
  delete dc;
}

bool gdi_window_run(GdiDc* dc, int x, int y, int n, uint32_t colour) {
  if (!valid_dc(dc) || dc->kind != DcKind::Window || n <= 0) return false;
  WindowSurface* surface = window_surface(dc->window);
  if (!surface) return false;
  std::vector<uint8_t> rgb(static_cast<size_t>(n) * 3);
  for (int i = 0; i < n; ++i) {
    rgb[3 * i] = static_cast<uint8_t>(colour);
    rgb[3 * i + 1] = static_cast<uint8_t>(colour >> 8);
    rgb[3 * i + 2] = static_cast<uint8_t>(colour >> 16);
  }
  surface->put_rgb(x, y, n, 1, rgb.data(), n * 3);
  return true;
}

int gdi_get_bitmap_description(GdiObject* bitmap, GdiBitmapDescription* out) {
  if (!out) return 0;
  *out = GdiBitmapDescription{};
  if (!valid_object(bitmap) || (bitmap->kind != ObjectKind::Bitmap && bitmap->kind != ObjectKind::DibSection))
    return 0;
  out->width = bitmap->width;
  out->height = bitmap->height;
  out->width_bytes = bitmap->stride;
  out->planes = 1;
  out->bits_pixel = static_cast<uint16_t>(bitmap->bits);
  out->bits = bitmap->kind == ObjectKind::DibSection ? bitmap->pixels : nullptr;
  return 1;
}

namespace {

// The colour of index i of an indexed bitmap, as blitting it through dc would show it.
RgbQuad index_colour(GdiDc* dc, const GdiObject* b, int i) {
  if (b->bits == 1) {
    uint8_t v = i ? 255 : 0;
    return {v, v, v, 0};
  }
  const GdiObject* palette = valid_dc(dc) && valid_object(dc->palette) ? dc->palette : nullptr;
  if (b->kind == ObjectKind::DibSection && !b->pal_usage) return b->rgb[i];
  int entry = b->kind == ObjectKind::DibSection ? b->pal_index[i] : i;
  if (palette && entry < palette->count) {
    const PaletteEntry& e = palette->entries[entry];
    return {e.blue, e.green, e.red, 0};
  }
  // A device bitmap without a palette holds grey levels (gdi_set_pixel stores them so).
  uint8_t v = static_cast<uint8_t>(i);
  return {v, v, v, 0};
}

int index_at(const uint8_t* row, int bits, int x) {
  switch (bits) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
    default: return row[x];
  }
}

uint8_t mask_channel(uint32_t v, uint32_t mask) {
  if (!mask) return 0;
  int shift = 0;
  while (!((mask >> shift) & 1)) ++shift;
  uint32_t top = mask >> shift;
  return static_cast<uint8_t>(((v & mask) >> shift) * 255 / top);
}

RgbQuad pixel_colour(GdiDc* dc, const GdiObject* b, const uint8_t* row, int x) {
  switch (b->bits) {
    case 1:
    case 4:
    case 8: return index_colour(dc, b, index_at(row, b->bits, x));
    case 16: {
      uint32_t v = row[2 * x] | (row[2 * x + 1] << 8);
      uint32_t r = 0xF800, g = 0x07E0, bl = 0x001F;
      if (b->kind == ObjectKind::DibSection) {
        r = b->masks[0], g = b->masks[1], bl = b->masks[2];
      } else if (display_profile().bits == 15) {
        r = 0x7C00, g = 0x03E0, bl = 0x001F;
      }
      return {mask_channel(v, bl), mask_channel(v, g), mask_channel(v, r), 0};
    }
    default: {
      const uint8_t* p = row + static_cast<size_t>(x) * (b->bits / 8);
      return {p[0], p[1], p[2], 0};
    }
  }
}

}  // namespace

int gdi_get_dib_rows(GdiDc* dc, GdiObject* bitmap, uint32_t start, uint32_t lines, void* bits, void* info, int) {
  if (!info || !valid_object(bitmap) ||
      (bitmap->kind != ObjectKind::Bitmap && bitmap->kind != ObjectKind::DibSection))
    return 0;
  auto* h = static_cast<BitmapInfoHeader*>(info);
  const int want = h->bit_count;
  const bool indexed = want == 1 || want == 4 || want == 8;
  // Indexes are kept only in the bitmap's own format; everything else widens to 24 bits.
  if (want != 24 && !(indexed && want == bitmap->bits)) return 0;
  if (h->size != 40 || h->width != bitmap->width) return 0;
  if (indexed) {
    auto* table = reinterpret_cast<RgbQuad*>(static_cast<uint8_t*>(info) + 40);
    for (int i = 0; i < (1 << want); ++i) table[i] = index_colour(dc, bitmap, i);
  }
  if (!bits) return 1;
  const int height = bitmap->height;
  if (start >= static_cast<uint32_t>(height) || lines == 0) return 0;
  const uint32_t count = std::min(lines, static_cast<uint32_t>(height) - start);
  const size_t out_stride = ((static_cast<size_t>(bitmap->width) * want + 31) / 32) * 4;
  auto* out = static_cast<uint8_t*>(bits);
  for (uint32_t n = 0; n < count; ++n) {
    int from_bottom = static_cast<int>(start + n);
    int stored = bitmap->bottom_up ? from_bottom : height - 1 - from_bottom;
    const uint8_t* row = bitmap->pixels + static_cast<size_t>(stored) * bitmap->stride;
    uint8_t* to = out + n * out_stride;
    std::memset(to, 0, out_stride);
    if (indexed) {
      std::memcpy(to, row, std::min(out_stride, static_cast<size_t>(bitmap->stride)));
      continue;
    }
    for (int x = 0; x < bitmap->width; ++x) {
      RgbQuad c = pixel_colour(dc, bitmap, row, x);
      to[3 * x] = c.blue;
      to[3 * x + 1] = c.green;
      to[3 * x + 2] = c.red;
    }
  }
  return static_cast<int>(count);
}
