#include "platform/surface.h"

#include <cstdio>

CanvasSurface::CanvasSurface(int width, int height, uint32_t fill)
    : width_(width > 0 ? width : 0), height_(height > 0 ? height : 0),
      rgb_(static_cast<size_t>(width_) * height_ * 3) {
  this->fill(fill);
}

void CanvasSurface::fill(uint32_t rgb) {
  for (size_t i = 0; i + 2 < rgb_.size(); i += 3) {
    rgb_[i] = static_cast<uint8_t>(rgb >> 16);
    rgb_[i + 1] = static_cast<uint8_t>(rgb >> 8);
    rgb_[i + 2] = static_cast<uint8_t>(rgb);
  }
}

// Writes the w x h block at (x, y), clipped to the canvas; rgb_at(row, column) gives the
// source pixel's three bytes.
template <class Source>
void CanvasSurface::put(int x, int y, int w, int h, Source rgb_at) {
  ++writes_;
  for (int r = 0; r < h; ++r) {
    int ty = y + r;
    if (ty < 0 || ty >= height_) continue;
    for (int c = 0; c < w; ++c) {
      int tx = x + c;
      if (tx < 0 || tx >= width_) continue;
      const uint8_t* rgb = rgb_at(r, c);
      uint8_t* d = &rgb_[(static_cast<size_t>(ty) * width_ + tx) * 3];
      d[0] = rgb[0];
      d[1] = rgb[1];
      d[2] = rgb[2];
    }
  }
}

void CanvasSurface::put_indexed(int x, int y, int w, int h, const uint8_t* pixels, int stride,
                                const uint8_t* colours) {
  put(x, y, w, h, [&](int r, int c) { return colours + 3 * pixels[static_cast<intptr_t>(r) * stride + c]; });
}

void CanvasSurface::put_rgb(int x, int y, int w, int h, const uint8_t* rgb, int stride) {
  put(x, y, w, h, [&](int r, int c) { return rgb + static_cast<intptr_t>(r) * stride + 3 * c; });
}

uint32_t CanvasSurface::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0xFFFFFFFFu;
  const uint8_t* p = &rgb_[(static_cast<size_t>(y) * width_ + x) * 3];
  return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}

bool CanvasSurface::save_ppm(const std::string& path) const {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fprintf(f, "P6\n%d %d\n255\n", width_, height_);
  bool ok = std::fwrite(rgb_.data(), 1, rgb_.size(), f) == rgb_.size();
  return std::fclose(f) == 0 && ok;
}
