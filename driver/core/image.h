#pragma once
// Image pixel work behind the device record's image entries: pixel allocation, masks, the
// row pipeline of bitmap import with its area-averaging scaler, and format conversion to
// packed formats by channel masks and to palette indexes.
#include <cstdint>

#include "driver/records.h"
#include "platform/gdi.h"

// Conversion flags.
constexpr int32_t kConvertDiffuse = 1;      // diffuse the matching error
constexpr int32_t kConvertGammaError = 2;   // error against gamma-decoded palette colours
constexpr int32_t kConvertChannel = 4;      // take a channel instead of matching / alpha from blue
constexpr int32_t kConvertTransparent = 8;  // black stays index 0; zero pixels stay zero

// Bitmap-import flags.
constexpr int32_t kImportScale = 1;     // scale to the engine's texture size
constexpr int32_t kImportBottomUp = 2;  // row r is stored at height - r - 1
constexpr int32_t kImportSwapRB = 4;    // swap bytes 0 and 2 of each 24-bit pixel

constexpr uint32_t kImageAllocated = 8;  // image flag set by ImageAllocPixels

// Largest image side the conversions accept; keeps 16.16 positions and sizes in range.
constexpr int32_t kImageMaxSide = 32767;

DeviceRaster* ImageAllocPixels(DeviceRaster* image);
DeviceRaster* ImageApplyMask(DeviceRaster* target, DeviceRaster* mask);

int32_t RowImport(uint8_t* row, int32_t width, int32_t height, int32_t bits, int32_t row_index,
                  DeviceRaster* image, int32_t flags);
int32_t RowExpand(uint8_t* row, int32_t width, int32_t bits, int32_t row_index, DeviceRaster* image,
                  int32_t flags);
int32_t RowStore(uint8_t* row, int32_t width, int32_t height, int32_t bits, int32_t row_index,
                 DeviceRaster* image, int32_t flags);
// Gives back the scaler's accumulators; called when an import ends.
void ImageScalerFree();

DeviceRaster* ImageToPalette(DeviceRaster* source, DeviceRaster* destination, int32_t flags);
DeviceRaster* ImageToPaletteMatched(DeviceRaster* source, DeviceRaster* destination, int32_t flags);
DeviceRaster* ImageChannelToIndex(DeviceRaster* source, DeviceRaster* destination, int32_t flags);
DeviceRaster* ImageConvertMasks(DeviceRaster* source, DeviceRaster* destination, int32_t flags);

// What the bitmap import asks of the window system about a bitmap.
using BitmapDescription = GdiBitmapDescription;

struct BitmapAccess {
  int (*realize_palette)(GdiDc* dc);
  // 0 when the object is no bitmap.
  int (*describe)(GdiObject* bitmap, BitmapDescription* out);
  // Scan lines of the bitmap in the format of info (a 40-byte header and its colour table),
  // counted from the bottom; bits null fills only the colour table. Lines read, 0 on failure.
  int (*dib_rows)(GdiDc* dc, GdiObject* bitmap, uint32_t start, uint32_t lines, void* bits,
                  void* info, int usage);
};

// The access the import uses; null restores the platform's.
void ImageSetBitmapAccess(const BitmapAccess* access);
const BitmapAccess* ImageBitmapAccess();
