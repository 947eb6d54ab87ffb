// The plug-in's export, the open functions with the version handshake, the device options,
// DeviceInit and the loading of DirectDraw.
#include <cstring>

#include "driver/core/context.h"
#include "driver/core/driver.h"
#include "driver/core/palette_memory.h"
#include "driver/core/shade.h"
#include "platform/display.h"
#include "platform/gdi.h"

const DriverInfo kDriverInfo = {
    "Windows", 1, 2, 1, 12, 8, 16, 128, 32, 16, 256, 0x1122, 3, 3, {123, 123, 123, 123}};

DriverState g_drv;

// The services pointer of the span routines' data block.
EngineServices* SpanEngineServices = nullptr;

void* DriverAlloc(size_t size) {
  return g_drv.services && g_drv.services->allocate ? g_drv.services->allocate(size) : nullptr;
}

void* DriverAllocZeroed(size_t size) {
  return g_drv.services && g_drv.services->allocate_zeroed ? g_drv.services->allocate_zeroed(1, size)
                                                           : nullptr;
}

void* DriverRealloc(void* pointer, size_t size) {
  return g_drv.services && g_drv.services->reallocate ? g_drv.services->reallocate(pointer, size)
                                                      : nullptr;
}

void DriverFree(void* pointer) {
  if (pointer && g_drv.services && g_drv.services->free) g_drv.services->free(pointer);
}

namespace {

uint8_t fold(uint8_t c) { return (c >= 'a' && c <= 'z') ? static_cast<uint8_t>(c - 32) : c; }

bool equal_folded(const char* name, const char* constant) {
  size_t n = std::strlen(name);
  if (n != std::strlen(constant)) return false;
  for (size_t i = 0; i < n; ++i)
    if (fold(static_cast<uint8_t>(name[i])) != fold(static_cast<uint8_t>(constant[i]))) return false;
  return true;
}

// True when no difference shows before either string ends.
bool prefix_folded(const char* name, const char* constant) {
  for (; *name && *constant; ++name, ++constant)
    if (fold(static_cast<uint8_t>(*name)) != fold(static_cast<uint8_t>(*constant))) return false;
  return true;
}

int32_t open_common(DeviceRecord* record, DeviceOpenFn device_open) {
  record->release = &DriverRelease;
  record->get_info = &DeviceGetInfo;
  record->control = &DeviceControl;
  record->device_open = device_open;
  record->device_init = &DeviceInit;
  record->driver_info = &kDriverInfo;
  record->device_close = nullptr;
  g_drv.saved_get_info = nullptr;
  g_drv.saved_control = nullptr;

  uint32_t driver = device_version_word(kDriverInfo.major, kDriverInfo.minor, kDriverInfo.revision);
  uint32_t old = record->version;
  uint32_t engine = old & 0xFFFF0000u;
  if (engine > driver) {
    record->version = (old & 0xFFFFu) | driver;
  } else if (engine >= kOldestEngineVersion) {
    record->version = old & 0xFFFFu;
  } else {
    record->version = (old & 0xFFFFu) | driver;
    return 0;
  }
  g_drv.ddraw_available = LoadDirectDraw(1);
  return 1;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) DriverOpenFn _vxdev(const char* name,
                                                                   char* default_name_out,
                                                                   EngineServices* services) {
  g_drv.services = services;
  SpanEngineServices = services;
  PaletteBindEngine(services);
  if (!name) {
    if (!default_name_out) return &DriverOpen;
    std::memcpy(default_name_out, "MSWindows", 10);
    return nullptr;
  }
  if (equal_folded(name, "MSWindowsDD")) return &DriverOpenDD;
  if (prefix_folded(name, "MSWindows")) return &DriverOpen;
  return nullptr;
}

int32_t DriverOpen(DeviceRecord* record) {
  if (!record) return 0;
  return open_common(record, &DeviceOpen);
}

int32_t DriverOpenDD(DeviceRecord* record) {
  if (!record) return 0;
  return open_common(record, &DeviceOpenDD);
}

int32_t DriverRelease() {
  // Releases what the driver holds: the device's tables and the DirectDraw library.
  FreeContextTables();
  UnloadDirectDraw();
  return 1;
}

void DeviceOptionsParse(int32_t count, DeviceOption* options) {
  if (!options) return;
  for (int32_t i = 0; i < count; ++i) {
    DeviceOption& o = options[i];
    uint32_t code = o.code & ~kDeviceOptionAccepted;
    bool accepted = true;
    switch (code) {
      case kOptionNone: break;
      case kOptionGamma: g_drv.options.gamma = o.value; break;
      case kOptionForcePlainDib: g_drv.options.force_plain_dib = 1; break;
      case kOptionSkip16BitProbe: g_drv.options.probe_skip = o.value; break;
      case kOptionAcceptedOnly: break;
      case kOptionRequestedDepth:
        if (o.value == 8 || o.value == 16)
          g_drv.options.requested_depth = o.value;
        else
          accepted = false;
        break;
      case kOptionWantDirectDraw: g_drv.options.want_direct_draw = 1; break;
      case kOptionDisplayModeSwitch: g_drv.options.display_mode_switch = 1; break;
      case kOptionForceDibSection: g_drv.options.force_dib_section = 1; break;
      default: accepted = false; break;
    }
    if (accepted) o.code |= kDeviceOptionAccepted;
  }
}

int32_t PlatformClass() {
  uint32_t v = display_version();
  uint32_t major = v & 0xFF, minor = (v >> 8) & 0xFF;
  if (!(v & 0x80000000u)) return (major == 3 && minor < 5) ? 0 : 1;
  return (major == 3 && minor < 95) ? 3 : 2;
}

int32_t PixelFormatProbe(GdiDc* dc) {
  GdiDc* memory = gdi_create_compatible_dc(dc);
  if (!memory) return 16;
  GdiObject* bitmap = gdi_create_bitmap(1, 1, 1, 16, nullptr);
  if (!bitmap) {
    gdi_delete_dc(memory);
    return 16;
  }
  GdiObject* old = gdi_select_object(memory, bitmap);
  uint16_t word = 0;
  bool ok = gdi_set_pixel(memory, 0, 0, 0xFFFFFF) != 0xFFFFFFFFu &&
            gdi_get_bitmap_bits(bitmap, 2, &word) != 0;
  gdi_select_object(memory, old);
  gdi_delete_object(bitmap);
  gdi_delete_dc(memory);
  if (!ok) return 16;
  return word == 0xFFFF ? 16 : 15;
}

bool ScreenDepthRead() {
  GdiDc* dc = gdi_get_dc(nullptr);
  if (!dc) return false;
  g_drv.screen_depth = gdi_device_caps(dc, kCapsBitsPixel);
  if (g_drv.screen_depth == 16 && g_drv.options.probe_skip == 0) g_drv.screen_depth = PixelFormatProbe(dc);
  if (!(gdi_device_caps(dc, kCapsRasterCaps) & kRasterCapsPalette)) g_drv.palette_based = 0;
  gdi_release_dc(nullptr, dc);
  return true;
}

int32_t DeviceInit(DeviceRecord*, PlatformWindow*, int32_t count, DeviceOption* options) {
  g_drv.platform_class = PlatformClass();
  if (g_drv.platform_class == 0) return 0;
  if (count > 0) DeviceOptionsParse(count, options);
  if (g_drv.options.requested_depth) {
    if (g_drv.options.requested_depth != 8 && g_drv.options.requested_depth != 16) return 0;
    g_drv.screen_depth = g_drv.options.requested_depth;
    ChooseOutputMode();
  } else {
    if (!ScreenDepthRead()) return 0;
    ChooseOutputMode();
  }
  return g_drv.raster_depth == kDriverInfo.raster_depth ? 1 : 0;
}

int32_t EnumModesCallback(DdSurfaceDesc* desc, void*) {
  if (!desc || desc->format.bits != 8 || !(desc->format.flags & kDdpfPaletteIndexed8)) return 1;
  if (g_drv.mode_count < 0 || g_drv.mode_count >= 4096) return 1;
  auto* grown = static_cast<DisplayMode*>(
      DriverRealloc(g_drv.modes, sizeof(DisplayMode) * (static_cast<size_t>(g_drv.mode_count) + 1)));
  if (!grown) return 1;
  g_drv.modes = grown;
  g_drv.modes[g_drv.mode_count++] = {desc->width, desc->height, 8, 1, kDisplayModeEnumerated};
  return 1;
}

namespace {

void free_mode_table() {
  DriverFree(g_drv.modes);
  g_drv.modes = nullptr;
  g_drv.mode_count = 0;
}

void unload_library() {
  if (g_drv.ddraw_library) display_library_free(g_drv.ddraw_library);
  g_drv.ddraw_library = nullptr;
  g_drv.ddraw_create = nullptr;
  // Nothing of DirectDraw can be used once the library is gone.
  g_drv.ddraw_available = 0;
}

}  // namespace

int32_t LoadDirectDraw(int32_t enumerate_all) {
  if (!g_drv.ddraw_library) {
    g_drv.ddraw_library = display_library_load("ddraw.dll");
    if (g_drv.ddraw_library) {
      g_drv.ddraw_create = reinterpret_cast<DirectDrawCreateFn>(
          display_library_symbol(g_drv.ddraw_library, "DirectDrawCreate"));
      if (!g_drv.ddraw_create) unload_library();
    }
  }
  // Without the library or its entry nothing is called.
  if (!g_drv.ddraw_create) {
    unload_library();
    return 0;
  }
  DdObject* object = nullptr;
  if (g_drv.ddraw_create(nullptr, &object, nullptr) != kDdOk || !object) {
    unload_library();
    return 0;
  }
  object->Release();
  if (!g_drv.modes || g_drv.mode_count == 0) {
    object = nullptr;
    if (g_drv.ddraw_create(nullptr, &object, nullptr) == kDdOk && object) {
      DdSurfaceDesc desc{};
      desc.size = sizeof desc;
      if (object->GetDisplayMode(&desc) == kDdOk && (desc.format.flags & kDdpfPaletteIndexed8) &&
          desc.format.bits == 8) {
        auto* first = static_cast<DisplayMode*>(DriverRealloc(g_drv.modes, sizeof(DisplayMode)));
        if (first) {
          g_drv.modes = first;
          g_drv.modes[0] = {desc.width, desc.height, 8, 1, kDisplayModeDesktop};
          g_drv.mode_count = 1;
        }
      }
      if (g_drv.mode_count > 0 || enumerate_all)
        object->EnumDisplayModes(0, nullptr, nullptr, &EnumModesCallback);
      object->Release();
    }
    if (!g_drv.modes || g_drv.mode_count == 0) {
      free_mode_table();
      unload_library();
      return 0;
    }
  }
  if ((g_drv.modes[0].flags & kDisplayModeDesktop) || enumerate_all) {
    g_drv.current_mode = 0;
    return 1;
  }
  free_mode_table();
  unload_library();
  return 0;
}

void UnloadDirectDraw() {
  // Objects made from the library are released while its code is still there.
  if (g_drv.ddraw || g_drv.primary || g_drv.clipper) DeviceWindowDestroy();
  free_mode_table();
  unload_library();
}

void DriverReset() {
  DriverState fresh;
  fresh.services = g_drv.services;
  g_drv = fresh;
}
