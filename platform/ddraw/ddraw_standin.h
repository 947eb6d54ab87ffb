#pragma once
// Our DirectDraw stand-in: a display object with display modes and a cooperative level,
// primary and off-screen surfaces, a clipper, lock, blit and restore. It is loaded at run
// time by name ("ddraw.dll" through display_library_load) and reached through the entry
// DirectDrawCreate and the interfaces below. Results are 0 for success.
//
// The primary surface is the screen: a buffer of palette indices (or 16-bit pixels) in the
// current display mode. Whatever is blitted to it is also shown in the window that owns the
// clipper (desktop) or the cooperative window (full screen), through the hardware palette.
#include <cstdint>

struct PlatformWindow;

using DdResult = int32_t;
constexpr DdResult kDdOk = 0;
constexpr DdResult kDdErrSurfaceLost = static_cast<DdResult>(0x887601C2u);
constexpr DdResult kDdErrGeneric = static_cast<DdResult>(0x80004005u);
constexpr DdResult kDdErrInvalid = static_cast<DdResult>(0x80070057u);
constexpr DdResult kDdErrWasStillDrawing = static_cast<DdResult>(0x8876021Cu);

// Description flags.
enum : uint32_t {
  kDdsdCaps = 0x1,
  kDdsdHeight = 0x2,
  kDdsdWidth = 0x4,
  kDdsdPitch = 0x8,
  kDdsdPixelFormat = 0x1000,
};
// Capabilities.
enum : uint32_t {
  kDdsCapsPrimarySurface = 0x200,
  kDdsCapsOffscreenPlain = 0x40,
  kDdsCapsSystemMemory = 0x800,
};
// Pixel format flags.
enum : uint32_t { kDdpfRgb = 0x40, kDdpfPaletteIndexed8 = 0x20 };
// Cooperative levels.
enum : uint32_t { kDdsclNormal = 0x8, kDdsclFullscreen = 0x1, kDdsclExclusive = 0x10 };
// Blit flags.
enum : uint32_t { kDdbltColourFill = 0x400, kDdbltWait = 0x1000000 };
constexpr uint32_t kDdlockWait = 1;
constexpr uint32_t kDdgbsIsBltDone = 2;

struct DdPixelFormat {
  uint32_t size;
  uint32_t flags;
  uint32_t bits;
  uint32_t red_mask;
  uint32_t green_mask;
  uint32_t blue_mask;
  uint32_t alpha_mask;
};

struct DdSurfaceDesc {
  uint32_t size;          // sizeof(DdSurfaceDesc)
  uint32_t flags;
  int32_t height;
  int32_t width;
  int32_t pitch;
  uint32_t caps;
  DdPixelFormat format;
  uint8_t* surface;       // pixels while locked
};

struct DdBltFx {
  uint32_t size;
  uint32_t fill_colour;
};

struct DdRect {
  int32_t left, top, right, bottom;
};

class DdClipper {
 public:
  virtual uint32_t Release() = 0;
  virtual DdResult SetHWnd(uint32_t flags, PlatformWindow* window) = 0;

 protected:
  virtual ~DdClipper() = default;
};

struct DdSurface {
  virtual uint32_t Release() = 0;
  virtual DdResult Blt(const DdRect* destination, DdSurface* source, const DdRect* source_rect,
                       uint32_t flags, const DdBltFx* fx) = 0;
  virtual DdResult GetBltStatus(uint32_t flags) = 0;
  virtual DdResult GetSurfaceDesc(DdSurfaceDesc* desc) = 0;
  virtual DdResult Lock(const DdRect* rect, DdSurfaceDesc* desc, uint32_t flags, void* event) = 0;
  virtual DdResult Restore() = 0;
  virtual DdResult SetClipper(DdClipper* clipper) = 0;
  virtual DdResult Unlock(void* rect) = 0;

 protected:
  virtual ~DdSurface() = default;
};

using DdEnumModesCallback = int32_t (*)(DdSurfaceDesc* desc, void* context);

class DdObject {
 public:
  virtual uint32_t Release() = 0;
  virtual DdResult CreateClipper(uint32_t flags, DdClipper** out, void* outer) = 0;
  virtual DdResult CreateSurface(DdSurfaceDesc* desc, DdSurface** out, void* outer) = 0;
  virtual DdResult EnumDisplayModes(uint32_t flags, DdSurfaceDesc* filter, void* context,
                                    DdEnumModesCallback callback) = 0;
  virtual DdResult GetDisplayMode(DdSurfaceDesc* desc) = 0;
  virtual DdResult RestoreDisplayMode() = 0;
  virtual DdResult SetCooperativeLevel(PlatformWindow* window, uint32_t flags) = 0;
  virtual DdResult SetDisplayMode(int32_t width, int32_t height, int32_t bits) = 0;

 protected:
  virtual ~DdObject() = default;
};

using DirectDrawCreateFn = DdResult (*)(void* guid, DdObject** out, void* outer);

// ---- test controls, reached with dlsym -------------------------------------------------
// Faults that the next calls report.
enum DdFault : int {
  kDdFaultCreate,          // DirectDrawCreate fails
  kDdFaultGetDisplayMode,
  kDdFaultCreateSurface,
  kDdFaultCreateClipper,
  kDdFaultSetClipper,
  kDdFaultCooperative,
  kDdFaultSetDisplayMode,
  kDdFaultLock,            // lock fails (not lost)
  kDdFaultLost,            // every surface becomes lost now; n = how many restores fail first
  kDdFaultBltStatusStuck,  // GetBltStatus keeps answering "still drawing"
  kDdFaultCount
};

struct DdStandinStats {
  int objects;             // display objects alive
  int surfaces;            // surfaces alive
  int clippers;            // clippers alive
  int locked;              // surfaces locked now
  int locks;               // successful locks so far
  int restores;
  int blits_to_primary;
  int exclusive;           // full-screen exclusive mode held
  int mode_width;          // current display mode
  int mode_height;
  int mode_bits;
  int bltstatus_calls;
  int canary_faults;       // writes found outside off-screen surface pixels
};

extern "C" {
// The entry the driver binds by name.
DdResult DirectDrawCreate(void* guid, DdObject** out, void* outer);
// Desktop mode from the display profile, the default mode list, no faults, counters zeroed.
void ddraw_standin_reset();
// Replaces the list of modes the enumeration reports (width, height, bits per entry).
void ddraw_standin_set_modes(const int32_t* modes, int count);
void ddraw_standin_set_desktop(int32_t width, int32_t height, int32_t bits);
void ddraw_standin_fault(int fault, int count);
void ddraw_standin_stats(DdStandinStats* out);
// Palette index (or 16-bit value) at (x, y) of the screen; -1 outside.
int32_t ddraw_standin_screen_pixel(int32_t x, int32_t y);
}
using DdStandinResetFn = void (*)();
using DdStandinSetModesFn = void (*)(const int32_t*, int);
using DdStandinSetDesktopFn = void (*)(int32_t, int32_t, int32_t);
using DdStandinFaultFn = void (*)(int, int);
using DdStandinStatsFn = void (*)(DdStandinStats*);
using DdStandinScreenPixelFn = int32_t (*)(int32_t, int32_t);
