// The DirectDraw display modes, the driver window that owns a full-screen mode, and the
// DirectDraw objects of output mode 3.
#include <cstring>

#include "driver/core/driver.h"
#include "platform/display.h"

namespace {

constexpr char kClassName[] = "VXDRVCLASS";
constexpr char kWindowName[] = "VXDRVWND";
constexpr uint32_t kClassStyle = 0x2000;
constexpr uint32_t kWindowStyle = 0xCF0000;
constexpr uint32_t kCooperativeDesktop = kDdsclNormal;
constexpr uint32_t kCooperativeFullScreen = kDdsclFullscreen | kDdsclExclusive;

bool desktop_mode(int32_t n) {
  return n >= 0 && n < g_drv.mode_count && (g_drv.modes[n].flags & kDisplayModeDesktop);
}

void release_object() {
  if (g_drv.ddraw) g_drv.ddraw->Release();
  g_drv.ddraw = nullptr;
}

void driver_window_destroy() {
  if (g_drv.driver_window) {
    window_destroy(g_drv.driver_window);
    g_drv.driver_window = nullptr;
    window_class_unregister(kClassName, g_drv.module);
  }
}

bool driver_window_create() {
  if (g_drv.app_window || g_drv.driver_window) return true;
  if (!window_class_registered(kClassName) &&
      !window_class_register(kClassName, kClassStyle, &DriverWindowProc, g_drv.module))
    return false;
  g_drv.driver_window =
      window_create(kClassName, kWindowName, kWindowStyle, 0, 0, 100, 100, nullptr, nullptr);
  if (!g_drv.driver_window) {
    window_class_unregister(kClassName, g_drv.module);
    return false;
  }
  return true;
}

PlatformWindow* cooperative_window() {
  return g_drv.app_window ? g_drv.app_window : g_drv.driver_window;
}

void release_primary() {
  if (g_drv.clipper) g_drv.clipper->Release();
  g_drv.clipper = nullptr;
  g_drv.clipper_window = nullptr;
  if (g_drv.primary) g_drv.primary->Release();
  g_drv.primary = nullptr;
}

}  // namespace

int32_t DisplayModeCount() { return g_drv.modes ? g_drv.mode_count : 0; }

int32_t DisplayModeGet(int32_t n, void* out) {
  if (!out || n < 0 || n >= DisplayModeCount()) return 0;
  std::memcpy(out, &g_drv.modes[n], sizeof(DisplayMode));
  return 1;
}

int32_t PrimarySurfaceCreate(uint32_t flags) {
  if (!g_drv.ddraw) return 0;
  DdSurfaceDesc desc{};
  desc.size = sizeof desc;
  desc.flags = kDdsdCaps;
  desc.caps = kDdsCapsPrimarySurface;
  if (g_drv.ddraw->CreateSurface(&desc, &g_drv.primary, nullptr) != kDdOk || !g_drv.primary) {
    g_drv.primary = nullptr;
    return 0;
  }
  if (flags & kDdsclExclusive) {
    g_drv.exclusive = 1;
  } else {
    g_drv.exclusive = 0;
    if (g_drv.ddraw->CreateClipper(0, &g_drv.clipper, nullptr) != kDdOk || !g_drv.clipper) {
      g_drv.clipper = nullptr;
      release_primary();
      return 0;
    }
    g_drv.primary->SetClipper(g_drv.clipper);
    g_drv.primary->Restore();
    if (g_drv.primary->SetClipper(g_drv.clipper) != kDdOk) {
      release_primary();
      return 0;
    }
  }
  DdSurfaceDesc got{};
  got.size = sizeof got;
  g_drv.primary->GetSurfaceDesc(&got);
  g_drv.primary->Restore();
  got = {};
  got.size = sizeof got;
  g_drv.primary->GetSurfaceDesc(&got);
  if (g_drv.exclusive) {
    DdRect all{0, 0, got.width, got.height};
    DdBltFx fx{sizeof(DdBltFx), 0};
    if (g_drv.primary->Blt(&all, nullptr, nullptr, kDdbltColourFill | kDdbltWait, &fx) == kDdErrSurfaceLost) {
      g_drv.primary->Restore();
      g_drv.primary->Blt(&all, nullptr, nullptr, kDdbltColourFill | kDdbltWait, &fx);
    }
  }
  return 1;
}

int32_t DeviceWindowCreate(PlatformWindow* application_window) {
  g_drv.app_window = application_window;
  if (!g_drv.modes || g_drv.mode_count <= 0) return 0;
  int32_t r = g_drv.current_mode;
  if (r < 0 || r >= g_drv.mode_count) r = g_drv.current_mode = 0;
  // Without the library's entry nothing is called.
  if (!g_drv.ddraw_create) return 0;
  if (g_drv.ddraw_create(nullptr, &g_drv.ddraw, nullptr) != kDdOk || !g_drv.ddraw) {
    g_drv.ddraw = nullptr;
    return 0;
  }
  if (desktop_mode(r)) {
    if (g_drv.ddraw->SetCooperativeLevel(nullptr, kCooperativeDesktop) != kDdOk ||
        !PrimarySurfaceCreate(kCooperativeDesktop)) {
      release_object();
      return 0;
    }
    return 1;
  }
  if (!driver_window_create()) {
    release_object();
    return 0;
  }
  if (g_drv.ddraw->SetCooperativeLevel(cooperative_window(), kCooperativeFullScreen) != kDdOk) {
    driver_window_destroy();
    release_object();
    return 0;
  }
  const DisplayMode& m = g_drv.modes[r];
  if (g_drv.ddraw->SetDisplayMode(m.width, m.height, m.bits) != kDdOk) {
    g_drv.ddraw->SetCooperativeLevel(nullptr, kCooperativeDesktop);
    driver_window_destroy();
    release_object();
    return 0;
  }
  if (!PrimarySurfaceCreate(kCooperativeFullScreen)) {
    g_drv.ddraw->RestoreDisplayMode();
    g_drv.ddraw->SetCooperativeLevel(nullptr, kCooperativeDesktop);
    g_drv.exclusive = 0;
    driver_window_destroy();
    release_object();
    return 0;
  }
  return 1;
}

// The clipper and the primary surface go back to the display object.
static void release_surfaces() {
  if (g_drv.clipper) g_drv.clipper->Release();
  g_drv.clipper = nullptr;
  g_drv.clipper_window = nullptr;
  if (g_drv.primary) {
    g_drv.primary->Release();
    g_drv.primary = nullptr;
  }
}

int32_t DisplayModeSet(int32_t n) {
  if (n < 0 || n >= DisplayModeCount()) return 0;
  if (!g_drv.ddraw) {
    g_drv.current_mode = n;
    return 1;
  }
  const bool had_primary = g_drv.primary != nullptr;
  release_surfaces();
  if (had_primary && g_drv.exclusive) {
    g_drv.exclusive = 0;
    g_drv.ddraw->RestoreDisplayMode();
    g_drv.ddraw->SetCooperativeLevel(nullptr, kCooperativeDesktop);
  }
  if (desktop_mode(n)) {
    if (g_drv.ddraw->SetCooperativeLevel(nullptr, kCooperativeDesktop) != kDdOk ||
        !PrimarySurfaceCreate(kCooperativeDesktop))
      return 0;
  } else {
    if (!driver_window_create()) return 0;
    const DisplayMode& m = g_drv.modes[n];
    if (g_drv.ddraw->SetCooperativeLevel(cooperative_window(), kCooperativeFullScreen) != kDdOk ||
        g_drv.ddraw->SetDisplayMode(m.width, m.height, m.bits) != kDdOk ||
        !PrimarySurfaceCreate(kCooperativeFullScreen)) {
      driver_window_destroy();
      return 0;
    }
  }
  g_drv.current_mode = n;
  return 1;
}

void DeviceWindowDestroy() {
  release_surfaces();
  if (g_drv.exclusive) {
    g_drv.exclusive = 0;
    if (g_drv.ddraw) g_drv.ddraw->SetCooperativeLevel(nullptr, kCooperativeDesktop);
  }
  driver_window_destroy();
  release_object();
  g_drv.app_window = nullptr;
}

intptr_t DriverWindowProc(PlatformWindow* window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  switch (message) {
    case kWmCreate:
    case kWmDestroy:
    case kWmSize:
    case kWmPaint:
    case kWmClose: return 0;
    default: return window_default_proc(window, message, wparam, lparam);
  }
}
