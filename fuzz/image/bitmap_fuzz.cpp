// BMP files from the converter, a download or the install: any bytes are read by the
// platform's bitmap reader, as an engine raster and as a mask, and resampled in place.
#include <cstdlib>

#include "client/scene/bitmap.h"
#include "engine/vxl21.h"
#include "fuzz/core/fuzz_files.h"
#include "platform/gdi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = [] {
    VxInitialize(nullptr);
    VxSetSearchPath(fuzz_folder().c_str(), 1);
    return fuzz_folder();
  }();
  const std::string path = dir + "/fuzz.bmp";
  if (!fuzz_write(path, data, size)) return 0;
  int32_t w = 0, h = 0;
  if (GdiObject* b = bitmap_load(path.c_str(), &w, &h)) {
    if (w <= 0 || h == 0) std::abort();
    gdi_delete_object(b);
  }
  if (VxRaster* r = VxReadRaster("fuzz", 0)) {
    int width = VxGetRasterWidth(r), height = VxGetRasterHeight(r), stride = VxGetRasterStride(r);
    if (width <= 0 || height <= 0 || stride < width) std::abort();
    // Every row the raster claims is really there.
    unsigned char* pixels = VxGetRasterPixels(r);
    volatile unsigned char sum = 0;
    for (int y = 0; y < height; ++y) sum = sum + pixels[static_cast<size_t>(y) * stride + width - 1];
    VxReleaseRasterPixels(r);
    VxDestroyRaster(r);
  }
  if (VxRaster* m = VxReadMaskRaster("fuzz")) VxDestroyRaster(m);
  bitmap_resample(path.c_str(), 16);
  return 0;
}
