// Device open and close, the display set-up, the choice of output mode, and the device's
// query and control entries in front of the context's.
#include <cstring>

#include "driver/core/context.h"
#include "driver/core/depth.h"
#include "driver/core/driver.h"
#include "driver/core/palette.h"
#include "driver/core/shade.h"
#include "driver/spans/persp_tables.h"
#include "driver/spans/span_state.h"
#include "platform/gdi.h"

// The 16-bit shifted shade table handed to the span layer at raster depth 16.
const uint8_t* SpanShade16 = nullptr;

namespace {

int32_t raster_depth_by_screen() { return g_drv.screen_depth >= 16 ? 16 : 8; }

// Gives back everything a device open took, so that a failed open leaves nothing behind.
void device_release_resources() {
  PerspectiveTablesFree();
  DriverFree(g_drv.shade16);
  g_drv.shade16 = nullptr;
  SpanShade16 = nullptr;
  if (g_drv.ddraw || g_drv.primary || g_drv.clipper || g_drv.driver_window) DeviceWindowDestroy();
  if (g_drv.palette) gdi_delete_object(g_drv.palette);
  g_drv.palette = nullptr;
  FreeContextTables();
}

void reset_for_open(int32_t want_direct_draw) {
  g_drv.palette = nullptr;
  g_drv.platform_class = 0;
  g_drv.output_mode = 0;
  g_drv.options.display_mode_switch = 0;
  g_drv.palette_based = 1;
  g_drv.colour_table = 1;
  g_drv.screen_depth = 8;
  g_drv.raster_depth = 8;
  g_drv.options.gamma = 0;
  g_drv.options.probe_skip = 0;
  g_drv.options.option_1003 = 0;
  g_drv.palette_force_background = 0;
  g_drv.options.force_plain_dib = 0;
  g_drv.options.force_dib_section = 0;
  g_drv.options.want_direct_draw = want_direct_draw;
}

int32_t device_open_steps(DeviceRecord* record, PlatformWindow* window, int32_t count,
                          DeviceOption* options, int32_t want_direct_draw);

// A failed open gives back what it took and leaves the driver's own release entry in place
// (not the context's, which would keep DirectDraw and its mode table).
int32_t device_open(DeviceRecord* record, PlatformWindow* window, int32_t count,
                    DeviceOption* options, int32_t want_direct_draw) {
  if (!record) return 0;
  if (device_open_steps(record, window, count, options, want_direct_draw)) return 1;
  device_release_resources();
  record->release = &DriverRelease;
  record->device_close = nullptr;
  return 0;
}

int32_t device_open_steps(DeviceRecord* record, PlatformWindow* window, int32_t count,
                          DeviceOption* options, int32_t want_direct_draw) {
  if (!record) return 0;
  // A palette or tables left from a device that was never closed are given back first.
  if (g_drv.palette || ExpTable || QuotientTable) device_release_resources();
  reset_for_open(want_direct_draw);
  if (!DisplaySetup(record, window, count, options)) return 0;
  g_drv.saved_begin_frame = record->begin_frame;
  switch (g_drv.output_mode) {
    case 1:
    case 2:
      UnloadDirectDraw();
      break;
    case 3:
      if (!DeviceWindowCreate(window)) return 0;
      break;
    default:
      return 0;
  }
  InstallOutputMode(record, g_drv.output_mode);
  record->texture_width_unit = kDriverInfo.texture_unit;
  record->texture_height_unit = kDriverInfo.texture_unit;
  record->small_texture_width_unit = kDriverInfo.small_texture_unit;
  record->small_texture_height_unit = kDriverInfo.small_texture_unit;
  record->release = &DriverRelease;
  record->set_palette_entries = &PaletteSetEntries;
  record->get_palette_entries = &PaletteGetEntries;
  g_drv.saved_get_info = record->get_info;
  record->get_info = &DeviceGetInfo;
  g_drv.saved_control = record->control;
  record->control = &DeviceControl;
  record->fill_rect = &RasterFillRect;
  record->clear_depth_rect = &ZBufferClearRect;
  g_drv.saved_clear_depth = &ZBufferClearRect;
  if (!InstallRenderModes(record)) return 0;
  record->device_open = nullptr;
  record->device_close = &DeviceClose;
  BuildShadeRamps();
  return 1;
}

}  // namespace

int32_t DeviceOpen(DeviceRecord* record, PlatformWindow* window, int32_t count, DeviceOption* options) {
  return device_open(record, window, count, options, 0);
}

int32_t DeviceOpenDD(DeviceRecord* record, PlatformWindow* window, int32_t count,
                     DeviceOption* options) {
  return device_open(record, window, count, options, 1);
}

int32_t DisplaySetup(DeviceRecord* record, PlatformWindow*, int32_t count, DeviceOption* options) {
  if (!PerspectiveTablesCreate()) return 0;
  g_drv.platform_class = PlatformClass();
  if (g_drv.platform_class == 0) return 0;
  if (count > 0) DeviceOptionsParse(count, options);

  if (!ScreenDepthRead()) return 0;

  if (g_drv.options.requested_depth) {
    if (g_drv.options.requested_depth != 8 && g_drv.options.requested_depth != 16) return 0;
    g_drv.screen_depth = g_drv.options.requested_depth;
  }
  ChooseOutputMode();
  // A full-screen 8-bit display mode is palettised whatever the desktop was: without a
  // palette of ours its frames would show in the hardware palette's colours.
  if (g_drv.output_mode == 3 && g_drv.raster_depth == 8 && g_drv.modes &&
      g_drv.current_mode >= 0 && g_drv.current_mode < g_drv.mode_count &&
      !(g_drv.modes[g_drv.current_mode].flags & kDisplayModeDesktop))
    g_drv.palette_based = 1;
  g_drv.colour_table = g_drv.raster_depth <= 8 ? 1 : 0;
  GammaSet(g_drv.options.gamma ? 2.2f : 1.0f);

  if (g_drv.colour_table) {
    bool read = true;
    if (g_drv.palette_based) {
      PaletteEntry system[256];
      GdiDc* screen = gdi_get_dc(nullptr);
      read = screen && gdi_get_system_palette_entries(screen, 0, 256, system) == 256;
      if (screen) gdi_release_dc(nullptr, screen);
      if (read) {
        for (int i = 0; i < 256; ++i) {
          PaletteRed[i] = system[i].red;
          PaletteGreen[i] = system[i].green;
          PaletteBlue[i] = system[i].blue;
        }
      }
    } else {
      std::memset(PaletteRed, 0, sizeof PaletteRed);
      std::memset(PaletteGreen, 0, sizeof PaletteGreen);
      std::memset(PaletteBlue, 0, sizeof PaletteBlue);
    }
    if (read) {
      uint8_t colours[3 * 256];
      int n = PaletteBuildDefault(colours);
      for (int i = 0; i < n && kDefaultPaletteFirst + i < 256; ++i) {
        PaletteRed[kDefaultPaletteFirst + i] = colours[3 * i];
        PaletteGreen[kDefaultPaletteFirst + i] = colours[3 * i + 1];
        PaletteBlue[kDefaultPaletteFirst + i] = colours[3 * i + 2];
      }
    }
  }

  if (!InstallContextOps(record, gdi_system_metrics(kMetricCxFullscreen),
                         gdi_system_metrics(kMetricCyFullscreen), g_drv.raster_depth, 0))
    return 0;
  // The context installs the "cannot import" entry; an opened device imports bitmaps.
  record->import_bitmap = &ImportBitmap;
  g_drv.saved_shade_select = record->shade_select;
  record->shade_select = &ShadeTablesSelectSpan;
  BuildShadeRamps();

  if (g_drv.palette_based) {
    auto* logical = static_cast<LogPalette*>(DriverAlloc(1032));
    if (!logical) {
      g_drv.palette = nullptr;
      return 0;
    }
    logical->version = 0x300;
    logical->count = 256;
    for (int i = 0; i < 256; ++i)
      logical->entries[i] = {PaletteRed[i], PaletteGreen[i], PaletteBlue[i],
                             static_cast<uint8_t>(i >= 10 && i <= 245 ? kPcNoCollapse : 0)};
    g_drv.palette = gdi_create_palette(logical);
    DriverFree(logical);
    if (!g_drv.palette) return 0;
  }
  return SpanShadeSetup(record);
}

int32_t SpanShadeSetup(DeviceRecord*) {
  SpanStateBlock.ShadeTableBase = ShadeTable;
  if (g_drv.raster_depth != 16) return 1;
  DriverFree(g_drv.shade16);
  g_drv.shade16 = static_cast<uint8_t*>(DriverAlloc(8448));
  if (!g_drv.shade16 || !ShadeTable) return 0;
  uint8_t* table = ShadeAlign(g_drv.shade16);
  for (int i = 0; i < 32; ++i)
    for (int k = 0; k < 8; ++k)
      for (int j = 0; j < 32; ++j)
        table[i * 256 + k * 32 + j] = static_cast<uint8_t>(ShadeTable[i * 32 + j] << 3);
  SpanShade16 = table;
  return 1;
}

int32_t ShadeTablesSelectSpan(ShadeTableSet* set) {
  if (!g_drv.saved_shade_select || !g_drv.saved_shade_select(set)) return 0;
  SpanStateBlock.ShadeTableBase = ShadeTable;
  return 1;
}

int32_t ChooseOutputMode() {
  g_drv.output_mode = 0;
  int32_t by_screen = raster_depth_by_screen();
  auto desktop_or_switch = [] {
    return g_drv.options.display_mode_switch ||
           (g_drv.modes && g_drv.mode_count > 0 && (g_drv.modes[0].flags & kDisplayModeDesktop));
  };
  if (g_drv.options.want_direct_draw) {
    if (g_drv.ddraw_available && g_drv.mode_count > 0) {
      if (desktop_or_switch()) {
        g_drv.output_mode = 3;
        g_drv.raster_depth = by_screen;
        return 3;
      }
      g_drv.options.want_direct_draw = 0;
    } else {
      g_drv.options.want_direct_draw = 0;
    }
  }
  if (g_drv.options.force_dib_section) {
    g_drv.output_mode = 2;
    g_drv.raster_depth = by_screen;
  } else if (g_drv.options.force_plain_dib || g_drv.platform_class == 3) {
    g_drv.output_mode = 1;
    g_drv.raster_depth = 8;
  } else if (g_drv.ddraw_available && g_drv.mode_count > 0) {
    g_drv.output_mode = desktop_or_switch() ? 3 : 2;
    g_drv.raster_depth = by_screen;
  } else {
    g_drv.output_mode = 2;
    g_drv.raster_depth = by_screen;
  }
  return g_drv.output_mode;
}

int32_t DeviceClose(DeviceRecord* record) {
  PerspectiveTablesFree();
  if (g_drv.raster_depth == 16 || g_drv.shade16) {
    DriverFree(g_drv.shade16);
    g_drv.shade16 = nullptr;
    SpanShade16 = nullptr;
  }
  if (g_drv.output_mode == 3) DeviceWindowDestroy();
  if (g_drv.palette_based && g_drv.palette) gdi_delete_object(g_drv.palette);
  g_drv.palette = nullptr;
  FreeContextTables();
  (void)record;
  return 0;
}

namespace {

int32_t answer(void* out, int32_t out_size, int32_t value) {
  if (!out || out_size < 4) return 0;
  std::memcpy(out, &value, 4);
  return 1;
}

int32_t answer_pointer(void* out, int32_t out_size, const void* value) {
  if (!out || out_size < static_cast<int32_t>(sizeof(void*))) return 0;
  std::memcpy(out, &value, sizeof value);
  return 1;
}

}  // namespace

int32_t DeviceGetInfo(int32_t code, void* out, int32_t out_size) {
  if (!out || out_size < 4) return 0;
  switch (code) {
    case 3: return answer(out, out_size, g_drv.palette_based ? 1 : 0);
    case 4:
      if (!g_drv.palette_based) return 0;
      return answer_pointer(out, out_size, g_drv.palette);
    case 5:
      if (!g_drv.colour_table) return 0;
      return answer(out, out_size, 256);
    case 6:
      if (!g_drv.colour_table) return 0;
      return answer(out, out_size, 10);
    case 7:
      if (!g_drv.colour_table) return 0;
      return answer(out, out_size, 245);
    case 12: return answer_pointer(out, out_size, &kDriverInfo);
    case 13: return answer(out, out_size, g_drv.output_mode == 3 ? DisplayModeCount() : 1);
    case 16: return answer(out, out_size, g_drv.depth_buffer_on);
    case 1000:
    case 1001: return answer(out, out_size, g_drv.output_mode == 1 ? 1 : 0);
    case 1002: return answer(out, out_size, 0);
    case 1003:
      if (!g_drv.palette_based) return 0;
      return answer(out, out_size, g_drv.palette_force_background);
    case 1004: return answer(out, out_size, g_drv.output_mode == 2 ? 1 : 0);
    case 1100: return answer(out, out_size, g_drv.output_mode == 3 ? 1 : 0);
    default:
      return g_drv.saved_get_info ? g_drv.saved_get_info(code, out, out_size) : 0;
  }
}

int32_t DeviceControl(int32_t code, int32_t value, void* pointer, int32_t size) {
  switch (code) {
    case 3:
      if (g_drv.output_mode == 3) {
        g_drv.options.display_mode_switch = 1;
        return DisplayModeSet(value);
      }
      return value == 0 ? 1 : 0;
    case 4: {
      if (size != 20 || !pointer) return 0;
      if (g_drv.output_mode == 3) return DisplayModeGet(value, pointer);
      if (value != 0) return 0;
      GdiDc* dc = gdi_get_dc(nullptr);
      if (!dc) return 0;
      DisplayMode screen{gdi_device_caps(dc, kCapsHorzRes), gdi_device_caps(dc, kCapsVertRes),
                         gdi_device_caps(dc, kCapsBitsPixel), 1, 2};
      gdi_release_dc(nullptr, dc);
      std::memcpy(pointer, &screen, sizeof screen);
      return 1;
    }
    case 7: {
      DeviceRecord* record = g_drv.services ? &g_drv.services->device : nullptr;
      if (value) {
        if (g_drv.depth_buffer_on) return 1;
        int32_t width = 0, height = 0;
        bool any = false;
        int guard = 0;
        for (DeviceCamera* c = g_drv.services ? g_drv.services->cameras : nullptr; c && guard < 65536;
             c = c->next, ++guard) {
          any = true;
          if (!c->colour_raster) continue;
          if (c->colour_raster->width > width) width = c->colour_raster->width;
          if (c->colour_raster->height > height) height = c->colour_raster->height;
        }
        if (any && width > 0 && height > 0 && !DepthBufferAlloc(width, height)) return 0;
        g_drv.depth_buffer_on = 1;
      } else {
        if (g_drv.depth_buffer_on) DepthBufferFree();
        g_drv.depth_buffer_on = 0;
      }
      if (record) InstallRenderModes(record);
      return 1;
    }
    case 1000: {
      if (size != static_cast<int32_t>(sizeof(DeviceStretchRequest)) || !pointer) return 0;
      DeviceStretchRequest request;
      std::memcpy(&request, pointer, sizeof request);
      if (!request.camera || !request.camera->colour_raster ||
          !request.camera->colour_raster->driver_raster)
        return 0;
      DriverRaster* d = request.camera->colour_raster->driver_raster;
      d->stretch_width = request.stretch_width;
      d->stretch_height = request.stretch_height;
      return 1;
    }
    case 1001:
      if (!g_drv.palette_based) return 0;
      g_drv.palette_force_background = value;
      return 1;
    case 1002:
      if (value != 8 && value != 16) return 0;
      g_drv.options.requested_depth = value;
      return 1;
    case 1101:
      if (g_drv.output_mode != 3) break;
      if (size != static_cast<int32_t>(sizeof(void*)) || !pointer) return 0;
      std::memcpy(pointer, &g_drv.primary, sizeof(void*));
      return 1;
    case 1104:
      if (g_drv.output_mode != 3) break;
      if (size != static_cast<int32_t>(sizeof(void*)) || !pointer) return 0;
      std::memcpy(pointer, &g_drv.ddraw, sizeof(void*));
      return 1;
    default: break;
  }
  return g_drv.saved_control ? g_drv.saved_control(code, value, pointer, size) : 0;
}
