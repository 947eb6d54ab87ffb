// The three output modes: plain DIB, DIB section and DirectDraw surface. Each keeps one frame
// raster per camera with its row-pointer table, begins and ends frames and presents them.
#include <cstring>

#include "driver/core/colour_match.h"
#include "driver/core/context.h"
#include "driver/core/depth.h"
#include "driver/core/driver.h"
#include "driver/core/palette.h"
#include "driver/core/shade.h"
#include "driver/spans/span_state.h"
#include "platform/display.h"
#include "platform/gdi.h"

namespace {

constexpr int32_t kMaxRasterSide = 16384;
// Bounded wait for a blit status that never clears.
constexpr int kBltStatusTries = 1000;

// DriverRaster::reserved_20 marks a pitch already doubled for two-pitch rows;
// reserved_24 marks a surface locked by begin frame.
constexpr int32_t kPitchDoubled = 1;

DriverRaster* driver_raster_of(DeviceCamera* camera) {
  return camera && camera->colour_raster ? camera->colour_raster->driver_raster : nullptr;
}

void free_row_table(DeviceCamera* camera) {
  DriverFree(camera->row_table);
  camera->row_table = nullptr;
}

// Fills a bitmap-info colour table: WORD indices into the selected palette on a palette
// screen, otherwise the driver's entries 10-245 as {blue, green, red, 0}.
void fill_colour_table(uint8_t* table) {
  std::memset(table, 0, 1024);
  if (g_drv.palette_based) {
    for (int i = 0; i < 256; ++i) {
      uint16_t v = static_cast<uint16_t>(i);
      std::memcpy(table + 2 * i, &v, 2);
    }
  } else {
    for (int i = 10; i <= 245; ++i) {
      table[4 * i] = PaletteBlue[i];
      table[4 * i + 1] = PaletteGreen[i];
      table[4 * i + 2] = PaletteRed[i];
      table[4 * i + 3] = 0;
    }
  }
}

void fill_header(BitmapInfoHeader* h, int32_t width, int32_t height, int32_t depth, uint32_t compression,
                 uint32_t image_size) {
  h->size = 40;
  h->width = width;
  h->height = height;
  h->planes = 1;
  h->bit_count = static_cast<uint16_t>(depth);
  h->compression = compression;
  h->size_image = image_size;
  h->x_pels_per_metre = 1;
  h->y_pels_per_metre = 1;
  h->colours_used = g_drv.colour_table ? 256 : 0;
  h->colours_important = g_drv.colour_table ? 256 : 0;
}

// What a mode's own create step gives the colour raster.
struct ModeRaster {
  int32_t width = 0;
  int32_t pitch = 0;
  uint8_t* pixels = nullptr;
  void* handle = nullptr;
};

// A bitmap stored bottom row first: the raster starts at its last row and steps back.
ModeRaster bottom_up(uint8_t* bits, int32_t width, int32_t stride, int32_t height, void* handle) {
  return ModeRaster{width, -stride, bits + static_cast<size_t>(height - 1) * stride, handle};
}

bool create_dib(DeviceCamera*, DriverRaster* d, int32_t width, int32_t height, ModeRaster& out) {
  int32_t aligned = (width + 3) & ~3;
  int32_t stride = aligned * g_drv.raster_depth / 8;
  size_t table = g_drv.colour_table ? 1024 : 0;
  size_t bytes = 40 + table + static_cast<size_t>(stride) * height;
  auto* block = static_cast<uint8_t*>(DriverAlloc(bytes));
  if (!block) return false;
  auto* h = reinterpret_cast<BitmapInfoHeader*>(block);
  fill_header(h, aligned, height, g_drv.raster_depth, kBiRgb, static_cast<uint32_t>(stride * height));
  if (table) fill_colour_table(block + 40);
  uint8_t* bits = block + 40 + table;
  d->bits = bits;
  d->bitmap_info = block;
  out = bottom_up(bits, aligned, stride, height, block);
  return true;
}

bool create_dib_section(DeviceCamera*, DriverRaster* d, int32_t width, int32_t height, ModeRaster& out) {
  int32_t aligned = (width + 3) & ~3;
  int32_t stride = aligned * g_drv.raster_depth / 8;
  GdiDc* dc = gdi_create_compatible_dc(nullptr);
  if (!dc) return false;
  if (g_drv.palette_based && g_drv.palette) {
    gdi_select_palette(dc, g_drv.palette, 1);
    gdi_realize_palette(dc);
  }
  size_t info_bytes = g_drv.colour_table ? 1064 : (g_drv.raster_depth == 16 ? 52 : 40);
  auto* info = static_cast<uint8_t*>(DriverAlloc(info_bytes));
  if (!info) {
    gdi_delete_dc(dc);
    return false;
  }
  std::memset(info, 0, info_bytes);
  auto* h = reinterpret_cast<BitmapInfoHeader*>(info);
  fill_header(h, aligned, height, g_drv.raster_depth, g_drv.raster_depth == 16 ? kBiBitfields : kBiRgb, 0);
  if (g_drv.raster_depth == 16) {
    const uint32_t masks[3] = {0xF800, 0x07E0, 0x001F};
    std::memcpy(info + 40, masks, sizeof masks);
  }
  if (g_drv.colour_table) fill_colour_table(info + 40);
  uint8_t* bits = nullptr;
  GdiObject* section = gdi_create_dib_section(
      dc, info, g_drv.palette_based ? kDibPalColours : kDibRgbColours, &bits, nullptr, 0);
  if (!section || !bits) {
    if (section) gdi_delete_object(section);
    DriverFree(info);
    gdi_delete_dc(dc);
    return false;
  }
  GdiObject* old = gdi_select_object(dc, section);
  d->memory_dc = dc;
  d->bits = bits;
  d->bitmap_info = info;
  d->dib_section = section;
  d->old_bitmap = old;
  out = bottom_up(bits, aligned, stride, height, dc);
  return true;
}

bool create_surface(DeviceCamera*, DriverRaster* d, int32_t width, int32_t height, ModeRaster& out) {
  if (!g_drv.ddraw) return false;
  DdSurfaceDesc desc{};
  desc.size = sizeof desc;
  desc.flags = kDdsdCaps | kDdsdHeight | kDdsdWidth | kDdsdPixelFormat;
  desc.height = height;
  desc.width = width;
  desc.caps = kDdsCapsOffscreenPlain | kDdsCapsSystemMemory;
  desc.format.size = sizeof(DdPixelFormat);
  if (g_drv.raster_depth == 8) {
    desc.format.flags = kDdpfPaletteIndexed8 | kDdpfRgb;
    desc.format.bits = 8;
    desc.format.red_mask = 0xE0;
    desc.format.green_mask = 0x1C;
    desc.format.blue_mask = 0x03;
  } else {
    desc.format.flags = kDdpfRgb;
    desc.format.bits = 16;
    desc.format.red_mask = 0xF800;
    desc.format.green_mask = 0x07E0;
    desc.format.blue_mask = 0x001F;
  }
  DdSurface* surface = nullptr;
  if (g_drv.ddraw->CreateSurface(&desc, &surface, nullptr) != kDdOk || !surface) return false;
  // Cleared over the new surface's own size (not a size left in the raster from before).
  DdRect all{0, 0, width, height};
  DdBltFx fx{sizeof(DdBltFx), 0};
  surface->Blt(&all, nullptr, nullptr, kDdbltColourFill | kDdbltWait, &fx);
  DdSurfaceDesc got{};
  got.size = sizeof got;
  if (surface->GetSurfaceDesc(&got) != kDdOk) {
    surface->Release();
    return false;
  }
  d->surface = surface;
  out.width = width;
  out.pitch = got.pitch;
  out.pixels = nullptr;
  out.handle = surface;
  return true;
}

using ModeCreate = bool (*)(DeviceCamera*, DriverRaster*, int32_t, int32_t, ModeRaster&);

int32_t raster_create(DeviceCamera* camera, int32_t width, int32_t height, int32_t mode, ModeCreate create) {
  if (!camera || width <= 0 || height <= 0 || width > kMaxRasterSide || height > kMaxRasterSide) return 0;
  // Grown, never shrunk: the buffer stays as wide and as tall as the largest raster.
  if (g_drv.depth_buffer_on && (2 * width > DepthBufferPitch || height > DepthHeight || !DepthBuffer))
    if (!DepthBufferGrow(width, height)) return 0;
  if (DeviceRaster* z = camera->depth_raster) {
    z->flags |= kRasterCreated;
    z->width = width;
    z->height = height;
    z->pitch = DepthBufferPitch;
    z->depth = kDriverInfo.depth_bits;
    z->kind = kRasterKindDepth;
    z->bits = 16;
    z->red_mask = z->green_mask = z->blue_mask = z->alpha_mask = 0;
  }
  auto** rows = static_cast<uint8_t**>(DriverAlloc(sizeof(uint8_t*) * static_cast<size_t>(height)));
  if (!rows) return 0;
  camera->row_table = rows;
  DeviceRaster* colour = camera->colour_raster;

  if (!camera->has_image) {
    if (mode != 3) {
      camera->row_flags |= kCameraRebuildRows;
      return 1;
    }
    if (colour && colour->width == width && colour->height == height) {
      if (colour->driver_raster) {
        camera->device_handle = colour->driver_raster->surface;
        camera->row_flags |= kCameraRebuildRows;
        return 1;
      }
      if (colour->flags & kRasterNotBacked) {
        colour->driver_raster = nullptr;
        camera->device_handle = nullptr;
        camera->row_flags |= kCameraRebuildRows;
        return 1;
      }
    }
    free_row_table(camera);
    return 0;
  }
  if (!colour) {
    free_row_table(camera);
    return 0;
  }
  auto* d = static_cast<DriverRaster*>(DriverAlloc(sizeof(DriverRaster)));
  if (!d) {
    free_row_table(camera);
    return 0;
  }
  std::memset(d, 0, sizeof *d);
  d->stretch_width = -1;
  d->stretch_height = -1;
  ModeRaster made;
  if (!create(camera, d, width, height, made)) {
    DriverFree(d);
    free_row_table(camera);
    return 0;
  }
  colour->flags |= kRasterCreated;
  colour->flags &= ~kRasterRebuildRows;
  colour->depth = g_drv.raster_depth;
  colour->bits = g_drv.raster_depth;
  if (g_drv.raster_depth == 8) {
    colour->kind = kRasterKindColour;
    colour->red_mask = colour->green_mask = colour->blue_mask = colour->alpha_mask = 0;
  }
  colour->driver_raster = d;
  colour->width = made.width;
  colour->height = height;
  colour->pitch = made.pitch;
  colour->pixels = made.pixels;
  camera->device_handle = made.handle;
  // The fresh row table holds nothing yet: the next begin frame builds it.
  camera->row_flags |= kCameraRebuildRows;
  return 1;
}

// Common end of the three destroy entries.
void raster_forget(DeviceCamera* camera) {
  free_row_table(camera);
  if (DeviceRaster* colour = camera->colour_raster) {
    colour->driver_raster = nullptr;
    colour->pixels = nullptr;
  }
}

int32_t surface_present_blt(const DdRect* destination, DdSurface* surface, const DdRect* source) {
  if (!g_drv.primary || !surface) return kDdErrGeneric;
  DdResult r = g_drv.primary->Blt(destination, surface, source, kDdbltWait, nullptr);
  if (r == kDdErrSurfaceLost) {
    g_drv.primary->Restore();
    r = g_drv.primary->Blt(destination, surface, source, kDdbltWait, nullptr);
  }
  return r;
}

bool stretched(const DriverRaster* d, const DeviceCamera* c, bool either) {
  if (d->stretch_width == -1 || d->stretch_height == -1 || c->width <= 0 || c->height <= 0) return false;
  bool w = d->stretch_width != c->width, h = d->stretch_height != c->height;
  return either ? (w || h) : (w && h);
}

void select_palette_into(GdiDc* dc) {
  if (!g_drv.palette_based || !g_drv.palette) return;
  if (gdi_select_palette(dc, g_drv.palette, g_drv.palette_force_background)) gdi_realize_palette(dc);
}

DeviceCamera* camera_of_raster(DeviceRaster* raster) {
  int guard = 0;
  for (DeviceCamera* c = g_drv.services ? g_drv.services->cameras : nullptr; c && guard < 65536;
       c = c->next, ++guard)
    if (c->colour_raster == raster) return c;
  return nullptr;
}

// Rebuilds the row table when flagged. Rows that would fall outside the raster (rows taken
// two pitches apart) repeat the last row that lies inside it.
void rows_rebuild(DeviceCamera* camera) {
  DeviceRaster* raster = camera->colour_raster;
  if (!raster || !camera->row_table) return;
  if (!(raster->flags & kRasterRebuildRows) && !(camera->row_flags & kCameraRebuildRows)) return;
  if (!raster->pixels) return;
  DriverRaster* d = raster->driver_raster;
  int32_t offset_y = camera->offset_y, offset_x = camera->offset_x;
  if (offset_y < 0 || offset_y >= raster->height) offset_y = 0;
  if (offset_x < 0 || offset_x >= raster->width) offset_x = 0;
  uint8_t* start = raster->pixels + static_cast<intptr_t>(offset_y) * raster->pitch +
                   static_cast<intptr_t>(offset_x) * BytesPerPixel(raster->depth);
  int32_t step = 1;
  if (camera->row_flags & kCameraDoubleRows) {
    if (!d || d->reserved_20 != kPitchDoubled) {
      raster->pitch *= 2;
      if (d) d->reserved_20 = kPitchDoubled;
    }
    step = 2;
  }
  int32_t inside = (raster->height - offset_y + step - 1) / step;  // rows that stay in the raster
  for (int32_t i = 0; i < raster->height; ++i) {
    int32_t k = i < inside ? i : inside - 1;
    camera->row_table[i] = start + static_cast<intptr_t>(k) * raster->pitch;
  }
  raster->flags &= ~kRasterRebuildRows;
  camera->row_flags &= ~kCameraRebuildRows;
}

void hand_frame_to_spans(DeviceCamera* camera) {
  SpanStateBlock.DitherRowX = FrameDitherRows[0];
  SpanStateBlock.DitherRowX2 = FrameDitherRows[2];
  SpanStateBlock.ScreenPitch = camera->colour_raster ? camera->colour_raster->pitch : 0;
}

// A frame that cannot be drawn (its surface did not lock): nothing may be written.
void frame_nothing() {
  FrameRows = nullptr;
  FrameLimitX = 0;
  FrameLimitY = 0;
  SpanStateBlock.ScreenPitch = 0;
}

// Gives back a camera's raster: what the output mode made for it (release), the driver's
// record and the rows.
int32_t raster_destroy(DeviceCamera* camera, void (*release)(DriverRaster* d)) {
  if (!camera) return 0;
  if (camera->has_image) {
    if (DriverRaster* d = driver_raster_of(camera)) {
      release(d);
      DriverFree(d);
    }
    camera->device_handle = nullptr;
  }
  raster_forget(camera);
  return 1;
}

}  // namespace

void InstallOutputMode(DeviceRecord* record, int32_t mode) {
  struct Entries {
    DeviceRasterCreateFn create_raster;
    DeviceCameraFn destroy_raster;
    DeviceBeginFrameFn begin_frame;
    DeviceCameraFn end_frame;
    DevicePresentFn present;
    DeviceCameraFn palette_changed;
  };
  static constexpr Entries kModes[3] = {
      {&RasterCreateDib, &RasterDestroyDib, &BeginFrameDib, &EndFrameDib, &PresentDib, &PaletteUpdateDib},
      {&RasterCreateDibSection, &RasterDestroyDibSection, &BeginFrameDib, &EndFrameDib, &PresentDibSection,
       &PaletteUpdateDibSection},
      {&RasterCreateSurface, &RasterDestroySurface, &BeginFrameSurface, &EndFrameSurface, &PresentSurface,
       &PaletteUpdateSurface},
  };
  if (mode < 1 || mode > 3) return;
  const Entries& e = kModes[mode - 1];
  record->create_raster = e.create_raster;
  record->destroy_raster = e.destroy_raster;
  record->begin_frame = e.begin_frame;
  record->end_frame = e.end_frame;
  record->present = e.present;
  record->palette_changed = e.palette_changed;
  if (mode == 3) {  // the surface is locked through the driver
    record->lock_raster = &SurfaceLock;
    record->unlock_raster = &SurfaceUnlock;
  }
}

int32_t RasterCreateDib(DeviceCamera* camera, int32_t width, int32_t height) {
  return raster_create(camera, width, height, 1, &create_dib);
}

int32_t RasterCreateDibSection(DeviceCamera* camera, int32_t width, int32_t height) {
  return raster_create(camera, width, height, 2, &create_dib_section);
}

int32_t RasterCreateSurface(DeviceCamera* camera, int32_t width, int32_t height) {
  return raster_create(camera, width, height, 3, &create_surface);
}

int32_t RasterDestroyDib(DeviceCamera* camera) {
  return raster_destroy(camera, [](DriverRaster* d) { DriverFree(d->bitmap_info); });
}

int32_t RasterDestroyDibSection(DeviceCamera* camera) {
  return raster_destroy(camera, [](DriverRaster* d) {
    gdi_select_object(d->memory_dc, d->old_bitmap);
    gdi_delete_object(d->dib_section);
    gdi_delete_dc(d->memory_dc);
    DriverFree(d->bitmap_info);
  });
}

int32_t RasterDestroySurface(DeviceCamera* camera) {
  return raster_destroy(camera, [](DriverRaster* d) {
    if (!d->surface) return;
    if (d->reserved_24) SurfaceUnlockRaw(d->surface);
    d->surface->Release();
  });
}

int32_t BeginFrameDib(DeviceCamera* camera, void* frame_argument) {
  if (!camera || !camera->colour_raster) return 0;
  rows_rebuild(camera);
  if (g_drv.saved_begin_frame) g_drv.saved_begin_frame(camera, frame_argument);
  hand_frame_to_spans(camera);
  if (!camera->colour_raster->pixels || (camera->row_flags & kCameraRebuildRows)) {
    frame_nothing();
    return 0;
  }
  return 1;
}

int32_t BeginFrameSurface(DeviceCamera* camera, void* frame_argument) {
  if (!camera || !camera->colour_raster) return 0;
  DeviceRaster* raster = camera->colour_raster;
  DriverRaster* d = raster->driver_raster;
  if (d) d->window = static_cast<PlatformWindow*>(frame_argument);
  if (!(raster->flags & kRasterNotBacked)) {
    DdSurfaceDesc desc{};
    if (d && d->surface && !d->reserved_24 && SurfaceLockRetry(d->surface, &desc)) {
      d->reserved_24 = 1;
      raster->pixels = desc.surface;
      raster->pitch = desc.pitch;
      if (d->reserved_20 == kPitchDoubled) d->reserved_20 = 0;  // the lock gave the plain pitch
      raster->flags |= kRasterRebuildRows;
    } else if (!d || !d->reserved_24) {
      // No lock: the frame draws nothing.
      raster->pixels = nullptr;
    }
  }
  rows_rebuild(camera);
  if (g_drv.saved_begin_frame) g_drv.saved_begin_frame(camera, frame_argument);
  hand_frame_to_spans(camera);
  if (!raster->pixels || (camera->row_flags & kCameraRebuildRows) ||
      (raster->flags & kRasterRebuildRows)) {
    frame_nothing();
    return 0;
  }
  return 1;
}

int32_t EndFrameDib(DeviceCamera*) { return 1; }

int32_t EndFrameSurface(DeviceCamera* camera) {
  if (!camera || !camera->colour_raster) return 0;
  DeviceRaster* raster = camera->colour_raster;
  DriverRaster* d = raster->driver_raster;
  if (raster->flags & kRasterNotBacked) return 1;
  if (d && d->surface && d->reserved_24) {
    SurfaceUnlockRaw(d->surface);
    d->reserved_24 = 0;
  }
  raster->pixels = nullptr;
  return 1;
}

int32_t PresentDib(DeviceCamera* camera, const DeviceRect* rect, GdiDc* dc) {
  DriverRaster* d = driver_raster_of(camera);
  if (!d || !rect || !dc || !d->bitmap_info || !d->bits) return 0;
  if (rect->w <= 0 || rect->h <= 0) {
    g_drv.select_pending[1] = 1;
    return 0;
  }
  if (g_drv.select_pending[1]) select_palette_into(dc);
  DeviceRaster* raster = camera->colour_raster;
  int usage = g_drv.palette_based ? kDibPalColours : kDibRgbColours;
  int32_t x = rect->x, y = rect->y, w = rect->w, h = rect->h;
  int32_t cx = camera->target_x, cy = camera->target_y, cw = camera->width, ch = camera->height;
  int32_t ox = camera->offset_x, oy = camera->offset_y;
  if (stretched(d, camera, false)) {
    int32_t sw = d->stretch_width, sh = d->stretch_height;
    return gdi_stretch_dibits(dc, cx + sw * x / cw, cy + y * sh / ch, sw * w / cw, h * sh / ch, ox + x,
                              oy + y, w, h, d->bits, d->bitmap_info, usage, kRopSrcCopy);
  }
  return gdi_set_dibits_to_device(dc, cx + x, cy + y, w, h, ox + x, raster->height - oy - y - h, 0,
                                  raster->height, d->bits, d->bitmap_info, usage);
}

int32_t PresentDibSection(DeviceCamera* camera, const DeviceRect* rect, GdiDc* dc) {
  DriverRaster* d = driver_raster_of(camera);
  if (!d || !rect || !d->memory_dc) return 0;
  if (rect->w <= 0 || rect->h <= 0) {
    g_drv.select_pending[2] = 1;
    return gdi_flush();
  }
  if (!dc) return 0;
  if (g_drv.select_pending[2]) select_palette_into(dc);
  int32_t x = rect->x, y = rect->y, w = rect->w, h = rect->h;
  int32_t cx = camera->target_x, cy = camera->target_y, cw = camera->width, ch = camera->height;
  int32_t ox = camera->offset_x, oy = camera->offset_y;
  if (stretched(d, camera, false)) {
    int32_t sw = d->stretch_width, sh = d->stretch_height;
    return gdi_stretch_blt(dc, cx + sw * x / cw, cy + sh * y / ch, sw * w / cw, sh * h / ch, d->memory_dc,
                           ox + x, oy + y, w, h, kRopSrcCopy);
  }
  // A failed copy reports 0, never an error number that reads as success.
  return gdi_bit_blt(dc, cx + x, cy + y, w, h, d->memory_dc, ox + x, oy + y, kRopSrcCopy) ? 1 : 0;
}

int32_t PresentSurface(DeviceCamera* camera, const DeviceRect* rect, GdiDc* dc) {
  if (!camera || !camera->colour_raster || !rect) return kDdErrGeneric;
  if (camera->colour_raster->flags & kRasterNotBacked) return 0;
  DriverRaster* d = camera->colour_raster->driver_raster;
  if (!d || !d->surface || !g_drv.primary) return kDdErrGeneric;
  // The palette goes into the screen at the first present after an empty one, not at every
  // frame: realising it each time costs the display a palette load per frame.
  if (dc && g_drv.select_pending[3]) {
    select_palette_into(dc);
    g_drv.select_pending[3] = 0;
  }
  if (rect->w <= 0 || rect->h <= 0) {
    int restores = 0;
    for (int tries = 0; tries < kBltStatusTries; ++tries) {
      DdResult r = g_drv.primary->GetBltStatus(kDdgbsIsBltDone);
      if (r == kDdOk) break;
      if (r == kDdErrSurfaceLost) {
        if (++restores > 1) break;  // lost again after a restore: give up the wait
        g_drv.primary->Restore();
      }
    }
    g_drv.select_pending[3] = 1;
    g_drv.clipper_window = nullptr;
    return 0;
  }
  int32_t origin_x = 0, origin_y = 0;
  if (!g_drv.exclusive && d->window) window_client_to_screen(d->window, &origin_x, &origin_y);
  if (g_drv.clipper && d->window != g_drv.clipper_window) {
    g_drv.clipper->SetHWnd(0, d->window);
    g_drv.clipper_window = d->window;
  }
  int32_t x = rect->x, y = rect->y, w = rect->w, h = rect->h;
  int32_t cx = camera->target_x, cy = camera->target_y, cw = camera->width, ch = camera->height;
  DdRect destination;
  if (stretched(d, camera, true)) {
    int32_t sw = d->stretch_width, sh = d->stretch_height;
    destination.left = cx + sw * x / cw + origin_x;
    destination.right = destination.left + sw * w / cw;
    destination.top = cy + sh * y / ch + origin_y;
    destination.bottom = destination.top + sh * h / ch;
  } else {
    destination = {cx + x + origin_x, cy + y + origin_y, cx + x + origin_x + w, cy + y + origin_y + h};
  }
  DdRect source{camera->offset_x + x, camera->offset_y + y, camera->offset_x + x + w,
                camera->offset_y + y + h};
  return surface_present_blt(&destination, d->surface, &source);
}

void BackgroundIndexUpdate(DeviceCamera* camera) {
  if (!camera) return;
  DeviceColour c{};
  PixelToColour(camera->background_pixel, &c);
  auto widen = [](int32_t v, int keep, int shift) {
    uint32_t byte = static_cast<uint32_t>(v >> 8) & 0xFF;
    uint32_t top = byte & (keep == 5 ? 0xF8u : 0xFCu);
    return static_cast<uint8_t>(top | (top >> shift));
  };
  uint8_t rgb[3] = {widen(c.red, 5, 5), widen(c.green, 6, 6), widen(c.blue, 5, 5)};
  int index = ColourToPaletteIndex(rgb);
  if (index >= 0) camera->background_index = index;
}

int32_t PaletteUpdateDib(DeviceCamera* camera) {
  DriverRaster* d = driver_raster_of(camera);
  if (d && d->bitmap_info && g_drv.colour_table && !g_drv.palette_based) {
    uint8_t* table = static_cast<uint8_t*>(d->bitmap_info) + 40;
    for (int i = 10; i <= 245; ++i) {
      table[4 * i] = PaletteBlue[i];
      table[4 * i + 1] = PaletteGreen[i];
      table[4 * i + 2] = PaletteRed[i];
      table[4 * i + 3] = 0;
    }
  }
  if (g_drv.raster_depth == 8) BackgroundIndexUpdate(camera);
  return 1;
}

int32_t PaletteUpdateDibSection(DeviceCamera* camera) {
  DriverRaster* d = driver_raster_of(camera);
  if (d && d->memory_dc) {
    RgbQuad colours[236];
    for (int i = 10; i <= 245; ++i) colours[i - 10] = {PaletteBlue[i], PaletteGreen[i], PaletteRed[i], 0};
    gdi_set_dib_colour_table(d->memory_dc, 10, 236, colours);
  }
  if (g_drv.raster_depth == 8) BackgroundIndexUpdate(camera);
  return 1;
}

int32_t PaletteUpdateSurface(DeviceCamera* camera) {
  if (g_drv.raster_depth == 8) BackgroundIndexUpdate(camera);
  return 1;
}

int32_t PaletteSetEntries(int32_t start, int32_t count, uint8_t* entries) {
  if (count > 0) {
    if (!entries || start < 10 || static_cast<int64_t>(start) + count > 246) return 0;
    PaletteEntry logical[236];
    for (int32_t i = 0; i < count; ++i) {
      PaletteRed[start + i] = entries[4 * i];
      PaletteGreen[start + i] = entries[4 * i + 1];
      PaletteBlue[start + i] = entries[4 * i + 2];
      logical[i] = {entries[4 * i], entries[4 * i + 1], entries[4 * i + 2], kPcNoCollapse};
    }
    if (g_drv.palette) gdi_set_palette_entries(g_drv.palette, start, count, logical);
  }
  BuildShadeRamps();
  return 1;
}

int32_t PaletteGetEntries(int32_t start, int32_t count, uint8_t* out) {
  if (!out || start < 0 || count <= 0 || static_cast<int64_t>(start) + count > 256) return 0;
  for (int32_t i = 0; i < count; ++i) {
    out[4 * i] = PaletteRed[start + i];
    out[4 * i + 1] = PaletteGreen[start + i];
    out[4 * i + 2] = PaletteBlue[start + i];
  }
  return 1;
}

int32_t SurfaceLockRetry(DdSurface* surface, DdSurfaceDesc* desc) {
  std::memset(desc, 0, sizeof *desc);
  desc->size = sizeof *desc;
  if (!surface) return 0;
  DdResult r = surface->Lock(nullptr, desc, kDdlockWait, nullptr);
  if (r == kDdErrSurfaceLost) {
    surface->Restore();
    std::memset(desc, 0, sizeof *desc);
    desc->size = sizeof *desc;
    r = surface->Lock(nullptr, desc, kDdlockWait, nullptr);
  }
  if (r != kDdOk) {
    desc->surface = nullptr;
    desc->pitch = 0;
  }
  return r == kDdOk ? 1 : 0;
}

int32_t SurfaceUnlockRaw(DdSurface* surface) {
  if (!surface) return 0;
  DdResult r = surface->Unlock(nullptr);
  if (r == kDdErrSurfaceLost) {
    surface->Restore();
    r = surface->Unlock(nullptr);
  }
  return r == kDdOk ? 1 : 0;
}

int32_t SurfaceLock(DeviceRaster* raster) {
  if (!raster) return 1;
  if (raster->kind == kRasterKindDepth) {
    raster->pixels = reinterpret_cast<uint8_t*>(DepthBuffer);
    return 1;
  }
  DeviceCamera* camera = camera_of_raster(raster);
  if (!camera || (raster->flags & kRasterNotBacked)) return 1;
  DriverRaster* d = raster->driver_raster;
  if (d && d->reserved_24) return 1;  // already locked by the frame
  DdSurfaceDesc desc{};
  bool locked = d && SurfaceLockRetry(d->surface, &desc);
  if (locked) d->reserved_24 = 1;
  raster->pixels = locked ? desc.surface : nullptr;
  raster->pitch = locked ? desc.pitch : 0;
  if (locked) raster->flags |= kRasterRebuildRows;
  return 1;
}

int32_t SurfaceUnlock(DeviceRaster* raster) {
  if (!raster) return 1;
  if (raster->kind == kRasterKindDepth) {
    raster->pixels = nullptr;
    return 1;
  }
  DeviceCamera* camera = camera_of_raster(raster);
  if (!camera || (raster->flags & kRasterNotBacked)) return 1;
  DriverRaster* d = raster->driver_raster;
  if (d && d->reserved_24) {
    SurfaceUnlockRaw(d->surface);
    d->reserved_24 = 0;
  }
  raster->pixels = nullptr;
  return 1;
}

int32_t RasterFillRect(DeviceCamera* camera, const DeviceRect* rect) {
  if (!camera || !rect || !camera->row_table || !camera->colour_raster) return 0;
  DeviceRaster* raster = camera->colour_raster;
  if (!raster->pixels || (camera->row_flags & kCameraRebuildRows)) return 0;  // nothing locked
  int32_t x = rect->x, y = rect->y, w = rect->w, h = rect->h;
  if (x < 0 || y < 0 || w <= 0 || h <= 0 || x > raster->width - w || y > raster->height - h) return 0;
  bool wide = g_drv.raster_depth == 16;
  int32_t offset = wide ? 2 * x : x;
  uint32_t v = wide ? static_cast<uint16_t>(camera->background_pixel)
                    : static_cast<uint8_t>(camera->background_index);
  v = wide ? (v | (v << 16)) : v * 0x01010101u;
  // Row by row through the row table, so that rows taken two pitches apart are honoured.
  SpanStateBlock.ScreenPitch = raster->pitch;
  for (int32_t r = 0; r < h; ++r) {
    uint8_t* start = camera->row_table[y + r] + offset;
    uintptr_t moved = reinterpret_cast<uintptr_t>(start) & 3;
    start -= moved;
    int32_t bytes = (wide ? 2 * w : w) + static_cast<int32_t>(moved);
    if (wide)
      FillRect16(&start, bytes, 1, v);
    else
      FillRect8(&start, bytes, 1, v);
  }
  return 1;
}

int32_t ZBufferClearRect(const DeviceRect* rect) {
  if (!DepthBuffer || !rect) return 0;
  int32_t x = rect->x, y = rect->y, w = rect->w, h = rect->h;
  int32_t buffer_width = DepthBufferPitch / 2;
  if (x < 0 || y < 0 || w <= 0 || h <= 0 || x > buffer_width - w || y > DepthHeight - h) return 0;
  int32_t even_x = x & ~1;
  int32_t bytes = (((x & 1) + w) * 2 + 3) & ~3;
  // The rounding never reaches past the end of a row (odd buffer widths).
  int32_t room = DepthBufferPitch - even_x * 2;
  uint8_t* start = reinterpret_cast<uint8_t*>(DepthBuffer) + static_cast<intptr_t>(y) * DepthBufferPitch +
                   even_x * 2;
  if (bytes <= room) {
    FillRectZero(start, bytes, h, DepthBufferPitch);
    return 1;
  }
  int32_t whole = room & ~3;
  if (whole > 0) FillRectZero(start, whole, h, DepthBufferPitch);
  for (int32_t r = 0; r < h; ++r)
    std::memset(start + static_cast<intptr_t>(r) * DepthBufferPitch + whole, 0,
                static_cast<size_t>(room - whole));
  return 1;
}

int32_t ZBufferClearNone(const DeviceRect*) { return 1; }
