#pragma once
// Render-context operations: the entries a context of a given depth gives the device
// record, and the per-frame state that BeginFrame prepares for the rasterisers.
#include <cstdint>

#include "driver/records.h"

// Context depth: 1, 2, 4, 8, 15 or 16.
extern int32_t ContextDepth;

// Frame state, written by BeginFrame.
extern int32_t FramePitch;
extern uint8_t** FrameRows;
extern int32_t FrameLimitX;  // camera width << 16
extern int32_t FrameLimitY;  // camera height << 16
extern int32_t HandlerMask;  // 0xF, or 0xD without perspective texturing
// x-dither, y-seed, third and fourth rows of DitherMatrices.
extern const uint32_t* FrameDitherRows[4];

// Writes the context entries for depth; 0 on an allocation failure or a depth other than
// 1, 2, 4, 8, 15, 16.
int32_t InstallContextOps(DeviceRecord* record, int32_t width, int32_t height, int32_t depth,
                          int32_t unused);
// Fills the render-mode table for the raster depth and depth-buffer state; 0 when the
// raster depth has no render modes.
int32_t InstallRenderModes(DeviceRecord* record);

int32_t BeginFrame(DeviceCamera* camera, void* frame_argument);
int32_t ContextGetInfo(int32_t code, void* out, int32_t out_size);
int32_t ContextControl(int32_t code, int32_t value, void* pointer, int32_t size);
int32_t ColourToPixel(const DeviceColour* colour);
int32_t PixelToColour(int32_t pixel, DeviceColour* out);
int32_t ColourPack(int32_t colour, int32_t byte);
int32_t RasterLock(DeviceRaster* raster);
int32_t RasterUnlock(DeviceRaster* raster);
int32_t PaletteUpdateDefault(DeviceCamera* camera);
ShadeTableSet* ShadeTablesCreate(const DeviceColour* colour);
int32_t ShadeTablesDestroy(ShadeTableSet* set);
int32_t ShadeTablesSelect(ShadeTableSet* set);
int32_t RenderModeNone(DevicePolygon* polygon, int32_t flag);
int32_t ImportBitmapNone(const DeviceBitmapRef* bitmap, int32_t flags, DeviceRaster* image);
int32_t ContextFillRect(DeviceCamera* camera, const DeviceRect* rect);
int32_t ContextClearZRect(const DeviceRect* rect);
DeviceRaster* ImageFreePixels(DeviceRaster* image);
int32_t ContextReleaseTables();
// Converts source into destination in the context's format: masks at depths other than 8,
// palette indexes at 8 (other sources than 24-bit red/green/blue first through 24 bits
// when flags hold 8).
DeviceRaster* ConvertImage(DeviceRaster* source, DeviceRaster* destination, int32_t flags);
// Reads a bitmap into image row by row (scaled to the texture size when flags hold 1);
// height | width << 16, or 0. The device open installs it over ImportBitmapNone.
int32_t ImportBitmap(const DeviceBitmapRef* bitmap, int32_t flags, DeviceRaster* image);
// Copies a rectangle of the camera's colour raster to (x, y) of its frame.
int32_t RasterCopyRect(DeviceCamera* camera, const DeviceRect* rect, int32_t x, int32_t y);
// The ColourRampTable index of a colour at a shade level 0..31 (8-bit depth).
int32_t ColourRampIndex(const DeviceColour* colour, int32_t level);
