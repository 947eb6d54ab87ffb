#pragma once
// The driver's process-wide state and the routines of the entry, the device open, the
// output modes and the DirectDraw display modes. One device is open at a time; everything
// runs on the engine's thread.
#include <cstdint>

#include "driver/records.h"
#include "platform/ddraw/ddraw_standin.h"

struct GdiDc;
struct GdiObject;
struct PlatformWindow;

extern const DriverInfo kDriverInfo;

// Device names and the version the driver accepts at least.
constexpr uint32_t kOldestEngineVersion = 0x02160000u;

struct DriverOptions {
  int32_t requested_depth = 0;   // 0, 8 or 16; kept across device opens
  int32_t gamma = 0;
  int32_t probe_skip = 0;        // non-zero: a 16-bit screen is taken as 16
  int32_t option_1003 = 0;
  int32_t force_plain_dib = 0;
  int32_t force_dib_section = 0;
  int32_t want_direct_draw = 0;
  int32_t display_mode_switch = 0;
};

struct DriverState {
  EngineServices* services = nullptr;
  void* module = nullptr;             // instance of the driver window class

  // DirectDraw library.
  void* ddraw_library = nullptr;
  DirectDrawCreateFn ddraw_create = nullptr;
  int32_t ddraw_available = 0;

  int32_t platform_class = 0;         // 0 unsupported, 1 NT, 2 consumer, 3 the 16-bit host
  int32_t screen_depth = 8;
  int32_t raster_depth = 8;
  int32_t palette_based = 1;
  int32_t colour_table = 1;
  int32_t palette_force_background = 0;
  int32_t depth_buffer_on = 1;
  int32_t output_mode = 0;            // 0 none, 1 plain DIB, 2 DIB section, 3 DirectDraw
  DriverOptions options;

  GdiObject* palette = nullptr;       // logical palette, when palette-based
  uint8_t* shade16 = nullptr;         // 16-bit shifted shade table (allocation)

  // Context entries the device open replaced and calls behind its own.
  DeviceBeginFrameFn saved_begin_frame = nullptr;
  DeviceGetInfoFn saved_get_info = nullptr;
  DeviceControlFn saved_control = nullptr;
  DeviceShadeSetFn saved_shade_select = nullptr;
  DeviceClearDepthFn saved_clear_depth = nullptr;

  // Palette-select-pending flags of the three output modes.
  int32_t select_pending[4] = {1, 1, 1, 1};
  PlatformWindow* clipper_window = nullptr;

  // DirectDraw display modes and objects.
  DisplayMode* modes = nullptr;
  int32_t mode_count = 0;
  int32_t current_mode = 0;
  PlatformWindow* app_window = nullptr;
  PlatformWindow* driver_window = nullptr;
  DdObject* ddraw = nullptr;
  DdSurface* primary = nullptr;
  DdClipper* clipper = nullptr;
  int32_t exclusive = 0;
};

extern DriverState g_drv;

// Engine memory.
void* DriverAlloc(size_t size);
void* DriverAllocZeroed(size_t size);
void* DriverRealloc(void* pointer, size_t size);
void DriverFree(void* pointer);

// Entry and opening.
extern "C" __attribute__((visibility("default"))) DriverOpenFn _vxdev(const char* name,
                                                                   char* default_name_out,
                                                                   EngineServices* services);
int32_t DriverOpen(DeviceRecord* record);
int32_t DriverOpenDD(DeviceRecord* record);
int32_t DriverRelease();
int32_t DeviceInit(DeviceRecord* record, PlatformWindow* window, int32_t count, DeviceOption* options);
void DeviceOptionsParse(int32_t count, DeviceOption* options);
int32_t PixelFormatProbe(GdiDc* dc);
// Reads the screen's depth (probing the 16-bit pixel format unless the options skip it) and
// whether it is palette based; false without a screen device context.
bool ScreenDepthRead();
// Bytes of one pixel at a depth in bits (15 and 16 share two bytes); 0 for other depths.
inline int32_t BytesPerPixel(int32_t depth) {
  switch (depth) {
    case 8: return 1;
    case 15:
    case 16: return 2;
    case 24: return 3;
    case 32: return 4;
    default: return 0;
  }
}
int32_t PlatformClass();
int32_t LoadDirectDraw(int32_t enumerate_all);
void UnloadDirectDraw();
int32_t EnumModesCallback(DdSurfaceDesc* desc, void* context);
// Back to a freshly loaded driver (tests run many cases in one process).
void DriverReset();

// Device open, close and queries.
int32_t DeviceOpen(DeviceRecord* record, PlatformWindow* window, int32_t count, DeviceOption* options);
int32_t DeviceOpenDD(DeviceRecord* record, PlatformWindow* window, int32_t count,
                     DeviceOption* options);
int32_t DisplaySetup(DeviceRecord* record, PlatformWindow* window, int32_t count, DeviceOption* options);
int32_t ChooseOutputMode();
int32_t DeviceClose(DeviceRecord* record);
int32_t DeviceGetInfo(int32_t code, void* out, int32_t out_size);
int32_t DeviceControl(int32_t code, int32_t value, void* pointer, int32_t size);
int32_t ShadeTablesSelectSpan(ShadeTableSet* set);
int32_t SpanShadeSetup(DeviceRecord* record);

// Output modes.
void InstallOutputMode(DeviceRecord* record, int32_t mode);
int32_t RasterCreateDib(DeviceCamera* camera, int32_t width, int32_t height);
int32_t RasterCreateDibSection(DeviceCamera* camera, int32_t width, int32_t height);
int32_t RasterCreateSurface(DeviceCamera* camera, int32_t width, int32_t height);
int32_t RasterDestroyDib(DeviceCamera* camera);
int32_t RasterDestroyDibSection(DeviceCamera* camera);
int32_t RasterDestroySurface(DeviceCamera* camera);
int32_t BeginFrameDib(DeviceCamera* camera, void* frame_argument);
int32_t BeginFrameSurface(DeviceCamera* camera, void* frame_argument);
int32_t EndFrameDib(DeviceCamera* camera);
int32_t EndFrameSurface(DeviceCamera* camera);
int32_t PresentDib(DeviceCamera* camera, const DeviceRect* rect, GdiDc* dc);
int32_t PresentDibSection(DeviceCamera* camera, const DeviceRect* rect, GdiDc* dc);
int32_t PresentSurface(DeviceCamera* camera, const DeviceRect* rect, GdiDc* dc);
int32_t PaletteUpdateDib(DeviceCamera* camera);
int32_t PaletteUpdateDibSection(DeviceCamera* camera);
int32_t PaletteUpdateSurface(DeviceCamera* camera);
int32_t PaletteSetEntries(int32_t start, int32_t count, uint8_t* entries);
int32_t PaletteGetEntries(int32_t start, int32_t count, uint8_t* out);
int32_t SurfaceLock(DeviceRaster* raster);
int32_t SurfaceUnlock(DeviceRaster* raster);
int32_t SurfaceLockRetry(DdSurface* surface, DdSurfaceDesc* desc);
int32_t SurfaceUnlockRaw(DdSurface* surface);
int32_t RasterFillRect(DeviceCamera* camera, const DeviceRect* rect);
int32_t ZBufferClearRect(const DeviceRect* rect);
int32_t ZBufferClearNone(const DeviceRect* rect);
// The background palette index of a camera from its background pixel (depth 8).
void BackgroundIndexUpdate(DeviceCamera* camera);

// Driver window and DirectDraw display modes.
int32_t DisplayModeCount();
int32_t DisplayModeGet(int32_t n, void* out);
int32_t DisplayModeSet(int32_t n);
int32_t DeviceWindowCreate(PlatformWindow* application_window);
void DeviceWindowDestroy();
int32_t PrimarySurfaceCreate(uint32_t flags);
intptr_t DriverWindowProc(PlatformWindow* window, uint32_t message, uintptr_t wparam, intptr_t lparam);
