#pragma once
// Records exchanged between the engine core and the display driver plug-in.
//
// Both sides include this header. Fields keep the order and integer widths of the
// engine-driver boundary; pointers are 8 bytes, so records holding pointers do not keep
// the 32-bit byte offsets. Records without pointers (DriverInfo, DeviceOption,
// DisplayMode, DeviceRect, DeviceVertex) keep their exact byte layout.
//
// The engine may extend DeviceCamera, DeviceRaster, DevicePolygon, DeviceMaterial and
// DeviceTexture by deriving from them; the driver only touches the fields named here.
#include <cstddef>
#include <cstdint>

// Platform handles the driver passes through (window, device context, GDI objects,
// DirectDraw surface). Defined by the platform layer.
struct PlatformWindow;
struct GdiDc;
struct GdiObject;
struct DdSurface;

struct DeviceRecord;
struct DeviceCamera;
struct DeviceRaster;
struct DriverRaster;
struct DevicePolygon;
struct DeviceMaterial;
struct DeviceVertex;
struct DeviceTexture;
struct ShadeTableSet;
struct EngineServices;

// ---------------------------------------------------------------------------------------
// Records with an exact byte layout.

// {x, y, width, height}
struct DeviceRect {
  int32_t x;
  int32_t y;
  int32_t w;
  int32_t h;
};
static_assert(sizeof(DeviceRect) == 16);

// Colour at the engine boundary: 16 bits per component in an int32 (8-bit c is c x 256).
struct DeviceColour {
  int32_t red;
  int32_t green;
  int32_t blue;
};
static_assert(sizeof(DeviceColour) == 12);

// One device option; bit 31 of code is the accepted mark set by the driver.
struct DeviceOption {
  uint32_t code;
  int32_t value;
};
static_assert(sizeof(DeviceOption) == 8);
static_assert(offsetof(DeviceOption, value) == 4);
constexpr uint32_t kDeviceOptionAccepted = 0x80000000u;

// Option codes.
enum : uint32_t {
  kOptionNone = 1,
  kOptionGamma = 2,
  kOptionForcePlainDib = 1000,
  kOptionSkip16BitProbe = 1002,
  kOptionAcceptedOnly = 1003,
  kOptionRequestedDepth = 1004,
  kOptionWantDirectDraw = 1005,
  kOptionDisplayModeSwitch = 1006,
  kOptionForceDibSection = 1007,
};

// A display mode of the DirectDraw table; also the screen-size record of control code 4.
struct DisplayMode {
  int32_t width;
  int32_t height;
  int32_t bits;  // always 8 in the table
  int32_t one;   // 1
  int32_t flags; // kDisplayModeDesktop / kDisplayModeEnumerated
};
static_assert(sizeof(DisplayMode) == 20);
static_assert(offsetof(DisplayMode, flags) == 0x10);
constexpr int32_t kDisplayModeEnumerated = 1;
constexpr int32_t kDisplayModeDesktop = 2;

// The driver's description record, read by the engine through DeviceRecord::driver_info
// and get-info code 12.
struct DriverInfo {
  char name[80];            // "Windows", NUL-padded
  int32_t info_50;          // 1
  int32_t major;            // 2
  int32_t minor;            // 1
  int32_t revision;         // 12
  int32_t raster_depth;     // 8
  int32_t depth_bits;       // 16
  int32_t texture_unit;     // 128
  int32_t info_6c;          // 32
  int32_t small_texture_unit; // 16
  int32_t info_74;          // 256
  uint32_t flags;           // 0x1122; bit 0x1000 read by the shade-table create
  int32_t info_7c;          // 3
  int32_t info_80;          // 3
  int32_t info_84[4];       // 123 each
};
static_assert(sizeof(DriverInfo) == 0x94);
static_assert(offsetof(DriverInfo, info_50) == 0x50);
static_assert(offsetof(DriverInfo, major) == 0x54);
static_assert(offsetof(DriverInfo, raster_depth) == 0x60);
static_assert(offsetof(DriverInfo, texture_unit) == 0x68);
static_assert(offsetof(DriverInfo, small_texture_unit) == 0x70);
static_assert(offsetof(DriverInfo, flags) == 0x78);
static_assert(offsetof(DriverInfo, info_84) == 0x84);

// The vertex record: one every 116 bytes in the engine's arrays.
struct DeviceVertex {
  float x, y, z;             // +0x00 object space
  float view_x, view_y, view_z; // +0x0c view space (z grows away from the eye)
  int32_t screen_x;          // +0x18 16.16
  int32_t screen_y;          // +0x1c 16.16
  int32_t depth;             // +0x20 16.16, larger is nearer
  uint8_t engine_24[0x24];   // +0x24 engine's own
  uint8_t clip_flags;        // +0x48 bits 0-5 outcodes, 6-7 the engine's
  uint8_t engine_49[0x0f];   // +0x49 engine's own
  int32_t shade;             // +0x58 16.16 shade level 0..31.0
  uint8_t engine_5c[0x08];   // +0x5c engine's own
  int32_t u;                 // +0x64 16.16, 1.0 = whole texture
  int32_t v;                 // +0x68
  uint8_t engine_6c[0x08];   // +0x6c engine's own
};
static_assert(sizeof(DeviceVertex) == 0x74);
static_assert(offsetof(DeviceVertex, view_z) == 0x14);
static_assert(offsetof(DeviceVertex, screen_x) == 0x18);
static_assert(offsetof(DeviceVertex, depth) == 0x20);
static_assert(offsetof(DeviceVertex, clip_flags) == 0x48);
static_assert(offsetof(DeviceVertex, shade) == 0x58);
static_assert(offsetof(DeviceVertex, u) == 0x64);
static_assert(offsetof(DeviceVertex, v) == 0x68);

// ---------------------------------------------------------------------------------------
// Records holding pointers: the fields' order and widths the driver's tables use, natural 64-bit alignment.

// The engine's raster record; also the image record of the image conversions.
struct DeviceRaster {
  int32_t kind;          // 1 colour (palette-indexed), 2 packed by masks, 3/4 depth
  int32_t bits;          // bits per pixel of the format; copy of depth for frames
  uint32_t red_mask;     // 0 at raster depth 8
  uint32_t green_mask;
  uint32_t blue_mask;
  uint32_t alpha_mask;
  uint8_t* pixels;       // top row's first pixel; null while a surface is unlocked
  int32_t width;
  int32_t height;
  int32_t depth;         // 8, 15, 16, 24, 32; 16 for depth rasters
  int32_t pitch;         // bytes from row to row, negative bottom-up
  DriverRaster* driver_raster; // driver's per-raster record, or null
  uint8_t* palette;      // kind 1 images: 256 x {r, g, b}
  uint32_t flags;        // kRaster* below
};
constexpr int32_t kRasterKindColour = 1;
constexpr int32_t kRasterKindPacked = 2;
constexpr int32_t kRasterKindDepth3 = 3;
constexpr int32_t kRasterKindDepth = 4;
constexpr uint32_t kRasterTouched = 1;     // image conversions touched the pixels
constexpr uint32_t kRasterCreated = 2;     // set by every raster create (images: lock first)
constexpr uint32_t kRasterNotBacked = 4;   // no driver surface behind it
constexpr uint32_t kRasterRebuildRows = 8; // row-pointer table must be rebuilt
constexpr uint32_t kRasterLockFirst = 2;   // image flag: lock through the engine before access

// The driver's own per-raster record, hung at DeviceRaster::driver_raster.
struct DriverRaster {
  GdiDc* memory_dc;          // mode 2
  PlatformWindow* window;    // mode 3: window given to the last begin frame
  uint8_t* bits;             // modes 1 and 2
  void* bitmap_info;         // modes 1 and 2
  GdiObject* dib_section;    // mode 2
  GdiObject* old_bitmap;     // mode 2
  int32_t stretch_width;     // -1 when not stretched
  int32_t stretch_height;
  int32_t reserved_20;
  int32_t reserved_24;
  DdSurface* surface;        // mode 3
};

// The engine's camera record. The driver walks the engine's list through next.
struct DeviceCamera {
  DeviceCamera* next;
  int32_t target_x;          // position of the image in the target device context
  int32_t target_y;
  int32_t width;             // camera width and height
  int32_t height;
  int32_t offset_x;          // image offset inside the colour raster
  int32_t offset_y;
  float scale_x;             // 16.16 units per view unit
  float scale_y;
  float near_clip;
  float far_clip;
  float depth_offset;        // Dz
  float depth_scale;         // Ds
  int32_t background_pixel;  // device pixel value
  int32_t background_index;  // written by the palette-update entries
  DeviceRaster* colour_raster;
  DeviceRaster* depth_raster;
  void* device_handle;       // mode 1 bitmap info, mode 2 memory DC, mode 3 surface
  int32_t has_image;         // 0: draws into no image of its own
  uint32_t projection_flags; // low byte 1 = perspective; bit 1 drops perspective texturing
  uint8_t** row_table;       // one pointer per raster row, written by the driver
  uint32_t row_flags;        // kCameraRebuildRows, kCameraDoubleRows
};
constexpr uint32_t kCameraNoPerspectiveTexturing = 2;
constexpr uint32_t kCameraRebuildRows = 2;
constexpr uint32_t kCameraDoubleRows = 4;

struct DeviceTexture {
  int32_t engine_00;
  uint8_t* texels;           // 128 x 128 or 16 x 16 bytes, row-major
};

struct DeviceMaterial {
  int32_t engine_00;
  uint8_t opacity;           // screen-door translucency 0..255
  uint32_t colour;           // (colour & 0xFFE0) = ColourRampTable row offset
  uint8_t mode;              // bits 0-3 handler position, 0x40 depth bias, 0x80 two-sided
  DeviceTexture* texture;
};
constexpr uint8_t kMaterialDepthBias = 0x40;
constexpr uint8_t kMaterialTwoSided = 0x80;

struct DevicePolygon {
  DeviceMaterial* material;
  int32_t shade;             // 16.16, 0..31.0
  uint8_t vertex_count;
  DeviceVertex* vertices[255]; // in order around the polygon; first vertex_count used
};

// A shade-table set as ShadeTablesCreate returns it.
struct ShadeTableSet {
  uint8_t* shade_table;       // allocation
  uint8_t* colour_ramp_table; // allocation, 8-bit only, else null
  int32_t red;
  int32_t green;
  int32_t blue;
};

// Entry-point types of the device record.
using DeviceRasterCreateFn = int32_t (*)(DeviceCamera* camera, int32_t width, int32_t height);
using DeviceCameraFn = int32_t (*)(DeviceCamera* camera);
using DeviceBeginFrameFn = int32_t (*)(DeviceCamera* camera, void* frame_argument);
using DeviceFillRectFn = int32_t (*)(DeviceCamera* camera, const DeviceRect* rect);
using DeviceCopyRectFn = int32_t (*)(DeviceCamera* camera, const DeviceRect* rect, int32_t x, int32_t y);
using DeviceClearDepthFn = int32_t (*)(const DeviceRect* rect);
using DeviceConvertImageFn = DeviceRaster* (*)(DeviceRaster* source, DeviceRaster* destination, int32_t flags);
// bitmap points at {GdiDc*, GdiObject*}
struct DeviceBitmapRef {
  GdiDc* dc;
  GdiObject* bitmap;
};
using DeviceImportBitmapFn = int32_t (*)(const DeviceBitmapRef* bitmap, int32_t flags, DeviceRaster* image);
using RenderModeFn = int32_t (*)(DevicePolygon* polygon, int32_t flag);
using DevicePresentFn = int32_t (*)(DeviceCamera* camera, const DeviceRect* rect, GdiDc* dc);
using DeviceVoidFn = int32_t (*)();
using DeviceColourToPixelFn = int32_t (*)(const DeviceColour* colour);
using DevicePixelToColourFn = int32_t (*)(int32_t pixel, DeviceColour* out);
using DeviceColourPackFn = int32_t (*)(int32_t colour, int32_t byte);
using DeviceGetInfoFn = int32_t (*)(int32_t code, void* out, int32_t out_size);
using DeviceControlFn = int32_t (*)(int32_t code, int32_t value, void* pointer, int32_t size);
using DeviceImageFn = DeviceRaster* (*)(DeviceRaster* image);
using DeviceImageMaskFn = DeviceRaster* (*)(DeviceRaster* target, DeviceRaster* mask);
using DevicePaletteEntriesFn = int32_t (*)(int32_t start, int32_t count, uint8_t* entries);
using DeviceColourToIndexFn = int32_t (*)(const uint8_t* rgb);
using DeviceOpenFn = int32_t (*)(DeviceRecord* record, PlatformWindow* window, int32_t option_count,
                                 DeviceOption* options);
using DeviceCloseFn = int32_t (*)(DeviceRecord* record);
using DeviceTransformFn = void (*)(DeviceVertex* vertices, int32_t count, const float* matrix,
                                   DeviceCamera* camera, int32_t mode);
using DeviceRasterFn = int32_t (*)(DeviceRaster* raster);
using DeviceShadeCreateFn = ShadeTableSet* (*)(const DeviceColour* colour);
using DeviceShadeSetFn = int32_t (*)(ShadeTableSet* set);

constexpr int kRenderModeBanks = 2;
constexpr int kRenderModesPerBank = 64;

// The engine's device record, lying inside EngineServices. The comment on each field
// names the slot it stood in on the 32-bit boundary.
struct DeviceRecord {
  int32_t raster_depth;             // +0x00
  int32_t engine_04;                // +0x04
  int32_t shade_levels;             // +0x08 32
  int32_t texture_width_unit;       // +0x0c 128
  int32_t texture_height_unit;      // +0x10 128
  uint32_t version;                 // +0x14 version word
  DeviceRasterCreateFn create_raster;   // +0x18
  DeviceCameraFn destroy_raster;        // +0x1c
  DeviceBeginFrameFn begin_frame;       // +0x20
  DeviceFillRectFn fill_rect;           // +0x24
  DeviceCopyRectFn copy_rect;           // +0x28
  DeviceClearDepthFn clear_depth_rect;  // +0x2c
  void* engine_30;                      // +0x30
  DeviceConvertImageFn convert_image;   // +0x34
  DeviceImportBitmapFn import_bitmap;   // +0x38
  void* engine_3c;                      // +0x3c
  RenderModeFn render_modes[kRenderModeBanks][kRenderModesPerBank]; // +0x40, +0x140
  DeviceCameraFn end_frame;             // +0x240
  DevicePresentFn present;              // +0x244
  DeviceVoidFn release;                 // +0x248
  DeviceColourToPixelFn colour_to_pixel; // +0x24c
  DevicePixelToColourFn pixel_to_colour; // +0x250
  DeviceColourPackFn colour_pack;       // +0x254
  DeviceGetInfoFn get_info;             // +0x258
  DeviceControlFn control;              // +0x25c
  DeviceImageFn free_image_pixels;      // +0x260
  DevicePaletteEntriesFn set_palette_entries; // +0x264 (entries read)
  DevicePaletteEntriesFn get_palette_entries; // +0x268 (entries written)
  DeviceCameraFn palette_changed;       // +0x26c
  DeviceColourToIndexFn colour_to_palette_index; // +0x270
  DeviceOpenFn device_open;             // +0x274
  DeviceOpenFn device_init;             // +0x278
  DeviceCloseFn device_close;           // +0x27c
  DeviceTransformFn transform_vertices; // +0x280
  DeviceRasterFn lock_raster;           // +0x284
  DeviceRasterFn unlock_raster;         // +0x288
  DeviceImageFn alloc_image_pixels;     // +0x28c
  DeviceImageMaskFn apply_image_mask;   // +0x290
  DeviceShadeCreateFn shade_create;     // +0x294
  DeviceShadeSetFn shade_destroy;       // +0x298
  DeviceShadeSetFn shade_select;        // +0x29c
  void* engine_2a0;                     // +0x2a0
  void* engine_2a4;                     // +0x2a4
  int32_t small_texture_width_unit;     // +0x2a8 16
  int32_t small_texture_height_unit;    // +0x2ac 16
  const DriverInfo* driver_info;        // +0x2b0
  int32_t engine_2b4[9];                // +0x2b4 .. +0x2d4
  int32_t shade_set_state;              // +0x2d8 2 selected set, 1 default tables
};

// The engine's global services record handed to _vxdev.
struct EngineServices {
  int32_t shade_red;                    // +0x00 current shade colour, 16 bits each
  int32_t shade_green;                  // +0x04
  int32_t shade_blue;                   // +0x08
  DeviceCamera* cameras;                // +0x0c head of the camera list
  int32_t engine_10;                    // +0x10
  DeviceRecord device;                  // +0x14
  void* (*allocate)(size_t size);                      // +0x34c
  void* (*allocate_zeroed)(size_t count, size_t size); // +0x350
  void* (*reallocate)(void* pointer, size_t size);     // +0x354
  void (*free)(void* pointer);                         // +0x358
};

// Control code 1200: the rows of the frame the polygon modes draw from the next frame's
// start, {0, first row, 0, rows}; a null record draws them all again. A frame drawn in bands
// on several threads gives each band's driver its own rows, so that none spends time on
// another's pixels; every polygon is still stepped from its top row, so the rows drawn come
// out as in the whole frame.
constexpr int32_t kControlDrawnRows = 1200;

// Control code 1000: the stretch size of a camera's colour raster.
struct DeviceStretchRequest {
  int32_t stretch_width;
  int32_t stretch_height;
  DeviceCamera* camera;
};

// The driver version word: bits 24-31 major, 20-23 minor, 16-19 revision, 0-15 the engine's.
constexpr uint32_t device_version_word(int32_t major, int32_t minor, int32_t revision) {
  return (static_cast<uint32_t>(major) << 24) | ((static_cast<uint32_t>(minor) & 15u) << 20) |
         ((static_cast<uint32_t>(revision) & 15u) << 16);
}

// The plug-in's single export. name null with default_name_out non-null writes "MSWindows".
using DriverOpenFn = int32_t (*)(DeviceRecord* record);
using VxdevFn = DriverOpenFn (*)(const char* name, char* default_name_out, EngineServices* services);
