#include "platform/ddraw/ddraw_standin.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/display.h"
#include "platform/surface.h"

namespace {

constexpr size_t kCanary = 64;
constexpr uint8_t kCanaryByte = 0xC5;

struct Mode {
  int32_t width, height, bits;
};

struct State {
  Mode desktop{1024, 768, 8};
  Mode current{1024, 768, 8};
  int desktop_profile_bits = 8;  // 15 and 16 both report 16 here
  std::vector<Mode> modes;
  bool exclusive = false;
  PlatformWindow* cooperative_window = nullptr;
  std::vector<uint16_t> screen;
  int faults[kDdFaultCount] = {};
  int restore_failures = 0;
  DdStandinStats stats{};
} g;

bool take(DdFault f) {
  if (g.faults[f] <= 0) return false;
  --g.faults[f];
  return true;
}

void screen_resize() {
  // The screen really is in the current mode: the GDI side reports it too.
  if (g.current.width != g.desktop.width || g.current.height != g.desktop.height ||
      g.current.bits != g.desktop.bits)
    display_profile_set(g.current.bits, g.current.width, g.current.height);
  else
    display_profile_set(g.desktop_profile_bits, g.desktop.width, g.desktop.height);
  g.screen.assign(static_cast<size_t>(std::max(g.current.width, 0)) * std::max(g.current.height, 0), 0);
  g.stats.mode_width = g.current.width;
  g.stats.mode_height = g.current.height;
  g.stats.mode_bits = g.current.bits;
}

void default_modes() {
  g.modes = {{640, 480, 8}, {800, 600, 8}, {1024, 768, 8}, {640, 480, 16}, {800, 600, 16}};
}

// A stand-in object counted as its callers count it: made with one reference, deleted when
// Release gives up the last.
template <class Interface>
class Counted : public Interface {
 public:
  uint32_t Release() override {
    if (--refs_ > 0) return refs_;
    delete this;
    return 0;
  }
  void add_ref() { ++refs_; }

 private:
  int refs_ = 1;
};

class Clipper;
class Surface;
std::vector<Surface*> g_surfaces;

class Clipper final : public Counted<DdClipper> {
 public:
  Clipper() { ++g.stats.clippers; }
  DdResult SetHWnd(uint32_t, PlatformWindow* window) override {
    window_ = window;
    return kDdOk;
  }
  PlatformWindow* window() const { return window_; }

 private:
  ~Clipper() override { --g.stats.clippers; }
  PlatformWindow* window_ = nullptr;
};

class Surface final : public Counted<DdSurface> {
 public:
  Surface(bool primary, int width, int height, int bits)
      : primary_(primary), width_(width), height_(height), bits_(bits) {
    pitch_ = ((width * (bits / 8)) + 3) & ~3;
    // Canary bands before and after the pixels catch writes outside the surface.
    if (!primary) {
      pixels_.assign(static_cast<size_t>(pitch_) * height + 2 * kCanary, kCanaryByte);
      std::memset(pixels_.data() + kCanary, 0, static_cast<size_t>(pitch_) * height);
    }
    ++g.stats.surfaces;
    g_surfaces.push_back(this);
  }

  DdResult Blt(const DdRect* destination, DdSurface* source, const DdRect* source_rect,
               uint32_t flags, const DdBltFx* fx) override {
    if (lost_) return kDdErrSurfaceLost;
    DdRect d = destination ? *destination : DdRect{0, 0, width(), height()};
    if (!source) {
      if (!(flags & kDdbltColourFill) || !fx) return kDdErrInvalid;
      for (int y = std::max(d.top, 0); y < std::min(d.bottom, height()); ++y)
        for (int x = std::max(d.left, 0); x < std::min(d.right, width()); ++x)
          put(x, y, fx->fill_colour);
      if (primary_) show(d);
      return kDdOk;
    }
    auto* s = static_cast<Surface*>(source);
    if (s->lost_) return kDdErrSurfaceLost;
    if (s->locked_) return kDdErrGeneric;
    DdRect r = source_rect ? *source_rect : DdRect{0, 0, s->width(), s->height()};
    int dw = d.right - d.left, dh = d.bottom - d.top, sw = r.right - r.left, sh = r.bottom - r.top;
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return kDdErrInvalid;
    if (r.left < 0 || r.top < 0 || r.right > s->width() || r.bottom > s->height())
      return kDdErrInvalid;
    // With a clipper, the blit keeps to the clipper window's client area.
    DdRect clip{0, 0, width(), height()};
    if (primary_ && clipper_ && clipper_->window()) {
      WindowSurface* ws = window_surface(clipper_->window());
      int ox = 0, oy = 0;
      window_client_to_screen(clipper_->window(), &ox, &oy);
      if (ws) clip = {std::max(ox, 0), std::max(oy, 0), std::min(ox + ws->width(), width()),
                      std::min(oy + ws->height(), height())};
    }
    for (int y = 0; y < dh; ++y) {
      int ty = d.top + y;
      if (ty < clip.top || ty >= clip.bottom) continue;
      int sy = r.top + static_cast<int>(static_cast<int64_t>(y) * sh / dh);
      for (int x = 0; x < dw; ++x) {
        int tx = d.left + x;
        if (tx < clip.left || tx >= clip.right) continue;
        int sx = r.left + static_cast<int>(static_cast<int64_t>(x) * sw / dw);
        put(tx, ty, s->get(sx, sy));
      }
    }
    if (primary_) {
      ++g.stats.blits_to_primary;
      show(d);
    }
    return kDdOk;
  }

  DdResult GetBltStatus(uint32_t) override {
    ++g.stats.bltstatus_calls;
    if (lost_) return kDdErrSurfaceLost;
    if (g.faults[kDdFaultBltStatusStuck] > 0) {
      --g.faults[kDdFaultBltStatusStuck];
      return kDdErrWasStillDrawing;
    }
    return kDdOk;
  }

  DdResult GetSurfaceDesc(DdSurfaceDesc* desc) override {
    if (!desc || desc->size != sizeof(DdSurfaceDesc)) return kDdErrInvalid;
    describe(desc);
    desc->surface = nullptr;
    return kDdOk;
  }

  DdResult Lock(const DdRect*, DdSurfaceDesc* desc, uint32_t, void*) override {
    if (!desc || desc->size != sizeof(DdSurfaceDesc)) return kDdErrInvalid;
    if (lost_) return kDdErrSurfaceLost;
    if (take(kDdFaultLock)) return kDdErrGeneric;
    if (locked_ || primary_) return kDdErrGeneric;
    locked_ = true;
    ++g.stats.locked;
    ++g.stats.locks;
    describe(desc);
    desc->surface = pixels_.data() + kCanary;
    return kDdOk;
  }

  DdResult Restore() override {
    ++g.stats.restores;
    if (!lost_) return kDdOk;
    if (g.restore_failures > 0) {
      --g.restore_failures;
      return kDdErrSurfaceLost;
    }
    lost_ = false;
    return kDdOk;
  }

  DdResult SetClipper(DdClipper* clipper) override {
    if (take(kDdFaultSetClipper)) return kDdErrGeneric;
    auto* c = static_cast<Clipper*>(clipper);
    if (c) c->add_ref();
    if (clipper_) clipper_->Release();
    clipper_ = c;
    return kDdOk;
  }

  DdResult Unlock(void*) override {
    if (lost_) return kDdErrSurfaceLost;
    if (!locked_) return kDdErrGeneric;
    locked_ = false;
    --g.stats.locked;
    return kDdOk;
  }

  void lose() { lost_ = true; }
  bool canaries_intact() const {
    if (primary_) return true;
    for (size_t i = 0; i < kCanary; ++i)
      if (pixels_[i] != kCanaryByte || pixels_[pixels_.size() - 1 - i] != kCanaryByte) return false;
    return true;
  }

 private:
  ~Surface() override {
    if (!canaries_intact()) ++g.stats.canary_faults;
    if (locked_) --g.stats.locked;
    if (clipper_) clipper_->Release();
    --g.stats.surfaces;
    g_surfaces.erase(std::find(g_surfaces.begin(), g_surfaces.end(), this));
  }

  int width() const { return primary_ ? g.current.width : width_; }
  int height() const { return primary_ ? g.current.height : height_; }
  int bits() const { return primary_ ? g.current.bits : bits_; }

  void describe(DdSurfaceDesc* desc) const {
    desc->flags = kDdsdCaps | kDdsdHeight | kDdsdWidth | kDdsdPitch | kDdsdPixelFormat;
    desc->width = width();
    desc->height = height();
    desc->pitch = primary_ ? g.current.width * (g.current.bits / 8) : pitch_;
    desc->caps = primary_ ? kDdsCapsPrimarySurface : (kDdsCapsOffscreenPlain | kDdsCapsSystemMemory);
    desc->format = {};
    desc->format.size = sizeof(DdPixelFormat);
    desc->format.bits = bits();
    if (bits() == 8) {
      desc->format.flags = kDdpfPaletteIndexed8 | kDdpfRgb;
    } else {
      desc->format.flags = kDdpfRgb;
      desc->format.red_mask = 0xF800;
      desc->format.green_mask = 0x07E0;
      desc->format.blue_mask = 0x001F;
    }
  }

  uint32_t get(int x, int y) const {
    if (primary_) return g.screen[static_cast<size_t>(y) * g.current.width + x];
    const uint8_t* p = pixels_.data() + kCanary + static_cast<size_t>(y) * pitch_;
    return bits_ == 8 ? p[x] : uint32_t(p[2 * x] | (p[2 * x + 1] << 8));
  }

  void put(int x, int y, uint32_t v) {
    if (primary_) {
      g.screen[static_cast<size_t>(y) * g.current.width + x] =
          static_cast<uint16_t>(g.current.bits == 8 ? (v & 0xFF) : v);
      return;
    }
    uint8_t* p = pixels_.data() + kCanary + static_cast<size_t>(y) * pitch_;
    if (bits_ == 8) {
      p[x] = static_cast<uint8_t>(v);
    } else {
      p[2 * x] = static_cast<uint8_t>(v);
      p[2 * x + 1] = static_cast<uint8_t>(v >> 8);
    }
  }

  // Shows a changed part of the screen in the window that looks at it.
  void show(const DdRect& d) const {
    PlatformWindow* w = g.exclusive ? g.cooperative_window
                                    : (clipper_ ? clipper_->window() : nullptr);
    WindowSurface* ws = window_surface(w);
    if (!ws) return;
    int ox = 0, oy = 0;
    if (!g.exclusive) window_client_to_screen(w, &ox, &oy);
    int left = std::max(d.left, 0), top = std::max(d.top, 0);
    int right = std::min(d.right, g.current.width), bottom = std::min(d.bottom, g.current.height);
    if (right <= left || bottom <= top) return;
    std::vector<uint8_t> rgb(static_cast<size_t>(right - left) * 3);
    const DisplayRgb* hw = display_hardware_palette();
    for (int y = top; y < bottom; ++y) {
      for (int x = left; x < right; ++x) {
        uint16_t v = g.screen[static_cast<size_t>(y) * g.current.width + x];
        uint8_t* o = &rgb[3 * (x - left)];
        if (g.current.bits == 8) {
          o[0] = hw[v & 0xFF].red;
          o[1] = hw[v & 0xFF].green;
          o[2] = hw[v & 0xFF].blue;
        } else {
          o[0] = static_cast<uint8_t>(((v >> 11) & 31) * 255 / 31);
          o[1] = static_cast<uint8_t>(((v >> 5) & 63) * 255 / 63);
          o[2] = static_cast<uint8_t>((v & 31) * 255 / 31);
        }
      }
      ws->put_rgb(left - ox, y - oy, right - left, 1, rgb.data(), static_cast<int>(rgb.size()));
    }
  }

  bool primary_;
  int width_, height_, bits_;
  int pitch_ = 0;
  bool lost_ = false;
  bool locked_ = false;
  Clipper* clipper_ = nullptr;
  std::vector<uint8_t> pixels_;
};

class Object final : public Counted<DdObject> {
 public:
  Object() { ++g.stats.objects; }
  DdResult CreateClipper(uint32_t, DdClipper** out, void*) override {
    if (!out) return kDdErrInvalid;
    *out = nullptr;
    if (take(kDdFaultCreateClipper)) return kDdErrGeneric;
    *out = new Clipper;
    return kDdOk;
  }
  DdResult CreateSurface(DdSurfaceDesc* desc, DdSurface** out, void*) override {
    if (!out || !desc || desc->size != sizeof(DdSurfaceDesc)) return kDdErrInvalid;
    *out = nullptr;
    if (take(kDdFaultCreateSurface)) return kDdErrGeneric;
    if (!(desc->flags & kDdsdCaps)) return kDdErrInvalid;
    if (desc->caps & kDdsCapsPrimarySurface) {
      *out = new Surface(true, 0, 0, 0);
      return kDdOk;
    }
    if (!(desc->flags & kDdsdWidth) || !(desc->flags & kDdsdHeight)) return kDdErrInvalid;
    if (desc->width <= 0 || desc->height <= 0 || desc->width > 8192 || desc->height > 8192)
      return kDdErrInvalid;
    int bits = (desc->flags & kDdsdPixelFormat) ? static_cast<int>(desc->format.bits) : g.current.bits;
    if (bits != 8 && bits != 16) return kDdErrInvalid;
    *out = new Surface(false, desc->width, desc->height, bits);
    return kDdOk;
  }
  DdResult EnumDisplayModes(uint32_t, DdSurfaceDesc*, void* context,
                            DdEnumModesCallback callback) override {
    if (!callback) return kDdErrInvalid;
    for (const Mode& m : g.modes) {
      DdSurfaceDesc d{};
      d.size = sizeof d;
      d.flags = kDdsdHeight | kDdsdWidth | kDdsdPitch | kDdsdPixelFormat;
      d.width = m.width;
      d.height = m.height;
      d.pitch = m.width * (m.bits / 8);
      d.format.size = sizeof(DdPixelFormat);
      d.format.bits = m.bits;
      d.format.flags = m.bits == 8 ? (kDdpfPaletteIndexed8 | kDdpfRgb) : kDdpfRgb;
      if (!callback(&d, context)) break;
    }
    return kDdOk;
  }
  DdResult GetDisplayMode(DdSurfaceDesc* desc) override {
    if (!desc || desc->size != sizeof(DdSurfaceDesc)) return kDdErrInvalid;
    if (take(kDdFaultGetDisplayMode)) return kDdErrGeneric;
    desc->flags = kDdsdHeight | kDdsdWidth | kDdsdPitch | kDdsdPixelFormat;
    desc->width = g.current.width;
    desc->height = g.current.height;
    desc->pitch = g.current.width * (g.current.bits / 8);
    desc->format = {};
    desc->format.size = sizeof(DdPixelFormat);
    desc->format.bits = g.current.bits;
    desc->format.flags = g.current.bits == 8 ? (kDdpfPaletteIndexed8 | kDdpfRgb) : kDdpfRgb;
    return kDdOk;
  }
  DdResult RestoreDisplayMode() override {
    g.current = g.desktop;
    screen_resize();
    return kDdOk;
  }
  DdResult SetCooperativeLevel(PlatformWindow* window, uint32_t flags) override {
    if (take(kDdFaultCooperative)) return kDdErrGeneric;
    if (flags & kDdsclExclusive) {
      if (!window || !(flags & kDdsclFullscreen)) return kDdErrInvalid;
      g.exclusive = true;
      g.cooperative_window = window;
    } else {
      // Leaving full screen gives the desktop its own mode back.
      if (g.exclusive) {
        g.current = g.desktop;
        screen_resize();
      }
      g.exclusive = false;
      g.cooperative_window = nullptr;
    }
    g.stats.exclusive = g.exclusive;
    return kDdOk;
  }
  DdResult SetDisplayMode(int32_t width, int32_t height, int32_t bits) override {
    if (take(kDdFaultSetDisplayMode)) return kDdErrGeneric;
    if (!g.exclusive) return kDdErrGeneric;
    for (const Mode& m : g.modes) {
      if (m.width == width && m.height == height && m.bits == bits) {
        g.current = m;
        screen_resize();
        return kDdOk;
      }
    }
    return kDdErrInvalid;
  }

 private:
  ~Object() override { --g.stats.objects; }
};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) DdResult DirectDrawCreate(void*, DdObject** out, void*) {
  if (!out) return kDdErrInvalid;
  *out = nullptr;
  if (take(kDdFaultCreate)) return kDdErrGeneric;
  *out = new Object;
  return kDdOk;
}

__attribute__((visibility("default"))) void ddraw_standin_reset() {
  const DisplayProfile& p = display_profile();
  g.desktop = {p.width, p.height, p.bits == 15 ? 16 : p.bits};
  g.desktop_profile_bits = p.bits;
  g.current = g.desktop;
  default_modes();
  g.exclusive = false;
  g.cooperative_window = nullptr;
  for (int& f : g.faults) f = 0;
  g.restore_failures = 0;
  int objects = g.stats.objects, surfaces = g.stats.surfaces, clippers = g.stats.clippers,
      locked = g.stats.locked;
  g.stats = {};
  g.stats.objects = objects;
  g.stats.surfaces = surfaces;
  g.stats.clippers = clippers;
  g.stats.locked = locked;
  screen_resize();
}

__attribute__((visibility("default"))) void ddraw_standin_set_modes(const int32_t* modes, int count) {
  g.modes.clear();
  for (int i = 0; i < count; ++i) g.modes.push_back({modes[3 * i], modes[3 * i + 1], modes[3 * i + 2]});
}

__attribute__((visibility("default"))) void ddraw_standin_set_desktop(int32_t width, int32_t height,
                                                                    int32_t bits) {
  g.desktop = {width, height, bits};
  g.desktop_profile_bits = bits;
  g.current = g.desktop;
  screen_resize();
}

__attribute__((visibility("default"))) void ddraw_standin_fault(int fault, int count) {
  if (fault < 0 || fault >= kDdFaultCount) return;
  if (fault == kDdFaultLost) {
    for (Surface* s : g_surfaces) s->lose();
    g.restore_failures = count;
    return;
  }
  g.faults[fault] = count;
}

__attribute__((visibility("default"))) void ddraw_standin_stats(DdStandinStats* out) {
  if (!out) return;
  *out = g.stats;
  for (Surface* s : g_surfaces)
    if (!s->canaries_intact()) ++out->canary_faults;
}

__attribute__((visibility("default"))) int32_t ddraw_standin_screen_pixel(int32_t x, int32_t y) {
  if (x < 0 || y < 0 || x >= g.current.width || y >= g.current.height) return -1;
  return g.screen[static_cast<size_t>(y) * g.current.width + x];
}

}  // extern "C"

namespace {
struct Boot {
  Boot() { ddraw_standin_reset(); }
} g_boot;
}  // namespace
