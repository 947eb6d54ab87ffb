#include "client/scene/display_viewport.h"

#include <algorithm>
#include <cstring>

#include "client/core/log.h"
#include "client/scene/balloon.h"
#include "client/scene/camera.h"
#include "engine/vxl21.h"
#include "platform/display.h"
#include "platform/gdi.h"

namespace {

viewport_surface_maker maker = nullptr;
std::unique_ptr<ViewportSurface> surface;
PlatformWindow* window = nullptr;
GdiDc* dc = nullptr;  // kept for the life of the window
GdiObject* palette = nullptr;

}  // namespace

void CanvasViewport::put_indexed(int x, int y, int w, int h, const uint8_t* pixels, int stride,
                                 const uint8_t* colours) {
  if (canvas_) canvas_->put_indexed(x, y, w, h, pixels, stride, colours);
}

void CanvasViewport::put_rgb(int x, int y, int w, int h, const uint8_t* rgb, int stride) {
  if (canvas_) canvas_->put_rgb(x, y, w, h, rgb, stride);
}

void CanvasViewport::place(int x, int y, int width, int height) {
  x_ = x;
  y_ = y;
  int cw = std::max(0, width - 2 * VIEWPORT_EDGE), ch = std::max(0, height - 2 * VIEWPORT_EDGE);
  if (!canvas_ || canvas_->width() != cw || canvas_->height() != ch)
    canvas_ = std::make_unique<CanvasSurface>(cw, ch);
}

void CanvasViewport::set_palette(const uint8_t*) {}

void viewport_set_surface_maker(viewport_surface_maker m) { maker = m; }

int viewport_init() {
  viewport_term();
  surface = maker ? maker() : std::make_unique<CanvasViewport>();
  if (!surface) return 0;
  window = window_create_plain(0, 0, surface.get());
  if (!window) {
    surface.reset();
    return 0;
  }
  dc = gdi_get_dc(window);
  return 1;
}

void viewport_term() {
  if (dc) gdi_release_dc(window, dc);
  dc = nullptr;
  if (palette) gdi_delete_object(palette);
  palette = nullptr;
  if (window) window_destroy(window);
  window = nullptr;
  surface.reset();
}

PlatformWindow* viewport_window() { return window; }
ViewportSurface* viewport_surface() { return surface.get(); }

void viewport_size(int left, int top, int right, int bottom) {
  if (!surface) return;
  surface->place(left, top, std::max(0, right - left), std::max(0, bottom - top));
}

void viewport_client_size(int* width, int* height) {
  if (width) *width = surface ? surface->width() : 0;
  if (height) *height = surface ? surface->height() : 0;
}

void viewport_palette() {
  if (!surface || !dc) return;
  if (gdi_device_caps(dc, kCapsBitsPixel) != 8 ||
      !(gdi_device_caps(dc, kCapsRasterCaps) & kRasterCapsPalette))
    return;
  uint8_t engine[256 * 4];
  if (!VxGetPaletteEntries(0, 256, engine)) return;
  // The system's static colours stay; the engine's fill the rest.
  LogPalette lp{};
  lp.version = 0x300;
  lp.count = 256;
  if (!gdi_get_system_palette_entries(dc, 0, 256, lp.entries)) {
    const DisplayRgb* hw = display_hardware_palette();
    for (int i = 0; i < 256; ++i) lp.entries[i] = PaletteEntry{hw[i].red, hw[i].green, hw[i].blue, 0};
  }
  constexpr int kReserved = 20;
  for (int i = kReserved / 2; i < kReserved / 2 + (256 - kReserved); ++i)
    lp.entries[i] = PaletteEntry{engine[4 * i], engine[4 * i + 1], engine[4 * i + 2], kPcNoCollapse};
  if (GdiObject* made = gdi_create_palette(&lp)) {
    gdi_select_palette(dc, made, 0);
    gdi_realize_palette(dc);
    if (palette) gdi_delete_object(palette);
    palette = made;
  }
  uint8_t rgb[256 * 3];
  for (int i = 0; i < 256; ++i) {
    rgb[3 * i] = lp.entries[i].red;
    rgb[3 * i + 1] = lp.entries[i].green;
    rgb[3 * i + 2] = lp.entries[i].blue;
  }
  surface->set_palette(rgb);
}

void viewport_update() {
  if (!dc) return;
  VxCamera* camera = camera_using_half() ? camera_get_half() : camera_get_main();
  if (!camera) return;
  if (!VxShowCameraImage(camera, dc)) log_write("viewport_update: %d", VxGetError());
  // Balloons of a half-size frame are drawn at full size over the shown frame.
  if (camera_using_half()) balloon_manual_draw(dc);
}
