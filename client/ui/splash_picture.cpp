#include "client/ui/splash_picture.h"

#include <cstdint>
#include <vector>

#include "client/scene/bitmap.h"
#include "platform/gdi.h"

QImage splash_picture(const char* bmp_path) {
  if (!bmp_path) return QImage();
  int32_t width = 0, height = 0;
  GdiObject* dib = bitmap_load(bmp_path, &width, &height);
  if (!dib) return QImage();
  QImage image;
  if (width > 0 && height > 0 && width <= 16384 && height <= 16384) {
    // Its rows widened to 24 bits, bottom row first.
    BitmapInfoHeader info{};
    info.size = sizeof info;
    info.width = width;
    info.height = height;
    info.planes = 1;
    info.bit_count = 24;
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
    std::vector<uint8_t> rows(stride * static_cast<size_t>(height));
    if (gdi_get_dib_rows(nullptr, dib, 0, static_cast<uint32_t>(height), rows.data(), &info, kDibRgbColours) ==
        height) {
      image = QImage(width, height, QImage::Format_RGB888);
      for (int y = 0; y < height; ++y) {
        const uint8_t* from = rows.data() + static_cast<size_t>(height - 1 - y) * stride;
        uint8_t* to = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
          to[3 * x] = from[3 * x + 2];
          to[3 * x + 1] = from[3 * x + 1];
          to[3 * x + 2] = from[3 * x];
        }
      }
    }
  }
  gdi_delete_object(dib);
  return image;
}
