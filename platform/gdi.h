#pragma once
// Device contexts, palettes, bitmaps, DIBs, DIB sections and blits: the drawing calls the
// display driver makes. A window's device context draws into the window's surface; a memory
// context draws into the bitmap selected into it.
#include <cstdint>

struct PlatformWindow;
struct GdiDc;
struct GdiObject;

// Device capability indexes.
enum : int { kCapsHorzRes = 8, kCapsVertRes = 10, kCapsBitsPixel = 12, kCapsRasterCaps = 38 };
constexpr int kRasterCapsPalette = 0x100;

// System metrics.
enum : int { kMetricCxFullscreen = 16, kMetricCyFullscreen = 17 };

// DIB colour usage.
enum : int { kDibRgbColours = 0, kDibPalColours = 1 };
// Compression.
enum : uint32_t { kBiRgb = 0, kBiBitfields = 3 };
constexpr uint32_t kRopSrcCopy = 0x00CC0020;
constexpr uint8_t kPcNoCollapse = 4;

#pragma pack(push, 1)
struct BitmapInfoHeader {
  uint32_t size;           // 40
  int32_t width;
  int32_t height;          // positive: bottom-up
  uint16_t planes;
  uint16_t bit_count;
  uint32_t compression;
  uint32_t size_image;
  int32_t x_pels_per_metre;
  int32_t y_pels_per_metre;
  uint32_t colours_used;
  uint32_t colours_important;
};
struct RgbQuad {
  uint8_t blue, green, red, reserved;
};
struct PaletteEntry {
  uint8_t red, green, blue, flags;
};
struct LogPalette {
  uint16_t version;        // 0x300
  uint16_t count;
  PaletteEntry entries[256];
};
#pragma pack(pop)
static_assert(sizeof(BitmapInfoHeader) == 40);
static_assert(sizeof(LogPalette) == 4 + 1024);

// Screen or window contexts. window null: the whole screen.
GdiDc* gdi_get_dc(PlatformWindow* window);
int gdi_release_dc(PlatformWindow* window, GdiDc* dc);
int gdi_device_caps(GdiDc* dc, int index);
int gdi_system_metrics(int index);

GdiDc* gdi_create_compatible_dc(GdiDc* dc);
int gdi_delete_dc(GdiDc* dc);
// Selects a bitmap; returns the previous one (the context's stock bitmap at first).
GdiObject* gdi_select_object(GdiDc* dc, GdiObject* object);
int gdi_delete_object(GdiObject* object);

GdiObject* gdi_create_bitmap(int width, int height, int planes, int bits, const void* data);
// Returns the colour set, or -1 (0xFFFFFFFF) when the pixel cannot be set.
uint32_t gdi_set_pixel(GdiDc* dc, int x, int y, uint32_t colour);
int gdi_get_bitmap_bits(GdiObject* bitmap, int bytes, void* out);

// A bitmap's description: size, bytes per row, planes and bits per pixel, and its pixels.
struct GdiBitmapDescription {
  int32_t type;
  int32_t width;
  int32_t height;
  int32_t width_bytes;
  uint16_t planes;
  uint16_t bits_pixel;
  void* bits;
};
// 1 when bitmap is a bitmap or DIB section (out filled), else 0.
int gdi_get_bitmap_description(GdiObject* bitmap, GdiBitmapDescription* out);
// Scan lines of a bitmap in the format info asks for (a BitmapInfoHeader: the width and
// height of the bitmap, 24 bits, or the bitmap's own 1, 4 or 8 bits with its colour table
// after the header). Lines count from the bottom. bits null fills only the colour table.
// Returns the lines copied (1 for the table alone), 0 on failure.
int gdi_get_dib_rows(GdiDc* dc, GdiObject* bitmap, uint32_t start, uint32_t lines, void* bits, void* info,
                     int usage);

// Palettes. entries[i].flags PC_NOCOLLAPSE is accepted and kept.
GdiObject* gdi_create_palette(const LogPalette* palette);
int gdi_set_palette_entries(GdiObject* palette, int start, int count, const PaletteEntry* entries);
int gdi_get_palette_entries(GdiObject* palette, int start, int count, PaletteEntry* out);
GdiObject* gdi_select_palette(GdiDc* dc, GdiObject* palette, int force_background);
// Realising a window or screen context's palette loads it into the hardware palette.
int gdi_realize_palette(GdiDc* dc);
int gdi_get_system_palette_entries(GdiDc* dc, int start, int count, PaletteEntry* out);

// info is a BitmapInfoHeader followed by its colour table (or the three bit-field masks).
GdiObject* gdi_create_dib_section(GdiDc* dc, const void* info, int usage, uint8_t** bits,
                                  void* section, uint32_t offset);
int gdi_set_dib_colour_table(GdiDc* dc, int start, int count, const RgbQuad* colours);
int gdi_set_dibits_to_device(GdiDc* dc, int x, int y, int w, int h, int sx, int sy, int start_scan,
                             int scan_lines, const void* bits, const void* info, int usage);
int gdi_stretch_dibits(GdiDc* dc, int x, int y, int w, int h, int sx, int sy, int sw, int sh,
                       const void* bits, const void* info, int usage, uint32_t rop);
int gdi_bit_blt(GdiDc* dc, int x, int y, int w, int h, GdiDc* source, int sx, int sy, uint32_t rop);
int gdi_stretch_blt(GdiDc* dc, int x, int y, int w, int h, GdiDc* source, int sx, int sy, int sw,
                    int sh, uint32_t rop);
int gdi_flush();
int gdi_last_error();

// Test switches and counters.
enum GdiFailure : int {
  kGdiFailGetDc,
  kGdiFailCompatibleDc,
  kGdiFailCreateBitmap,
  kGdiFailSetPixel,
  kGdiFailBitmapBits,
  kGdiFailDibSection,
  kGdiFailCreatePalette,
  kGdiFailBlit,
  kGdiFailureCount
};
// The next n calls of that kind fail.
void gdi_fail(GdiFailure what, int n);
// Objects and contexts alive (made and not deleted or released).
int gdi_live_objects();
int gdi_live_dcs();
int gdi_flush_count();
// Writes found outside DIB section pixels (canary bands), deleted and alive.
int gdi_canary_faults();
void gdi_reset();
// The palette a context has selected (null when none).
GdiObject* gdi_selected_palette(GdiDc* dc);
// The colours that a frame blitted through this context shows, 256 x {r, g, b}.
void gdi_palette_colours(GdiObject* palette, uint8_t* rgb);

// The pixels of the bitmap selected into a memory context, for drawing on them in place
// (text). colours: the RGB of each 8-bit index (256 x {r, g, b}); false when the context has
// no bitmap with pixels.
struct GdiPixels {
  uint8_t* top;   // first row shown at the top
  int pitch;      // bytes from one row to the next below it (negative for bottom-up)
  int width, height, bits;
  uint8_t colours[768];
};
bool gdi_dc_pixels(GdiDc* dc, GdiPixels* out);
// A memory context drawing straight on pixels owned elsewhere (a locked surface): rows top
// down, pitch bytes apart; colours: 256 x {r, g, b} for 8 bits. gdi_release_pixel_dc ends it
// (and its bitmap) before the pixels go.
GdiDc* gdi_create_pixel_dc(uint8_t* top, int pitch, int width, int height, int bits, const uint8_t* colours);
void gdi_release_pixel_dc(GdiDc* dc);
// Writes n pixels of one colour (0x00BBGGRR) from (x, y) rightwards on a window context's
// surface; false for other contexts.
bool gdi_window_run(GdiDc* dc, int x, int y, int n, uint32_t colour);
