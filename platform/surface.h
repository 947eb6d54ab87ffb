#pragma once
// Window surfaces: what a window shows. The Qt viewport implements WindowSurface; tests use
// CanvasSurface, an in-memory RGB canvas that they read back.
#include <cstdint>
#include <string>
#include <vector>

class WindowSurface {
 public:
  virtual ~WindowSurface() = default;
  virtual int width() const = 0;
  virtual int height() const = 0;
  // Writes a block of 8-bit indices at (x, y) through a 256 x {r, g, b} colour table.
  // Parts outside the surface are dropped.
  virtual void put_indexed(int x, int y, int w, int h, const uint8_t* pixels, int stride,
                           const uint8_t* colours) = 0;
  // Writes a block of {r, g, b} triples at (x, y); parts outside are dropped.
  virtual void put_rgb(int x, int y, int w, int h, const uint8_t* rgb, int stride) = 0;
};

class CanvasSurface : public WindowSurface {
 public:
  CanvasSurface(int width, int height, uint32_t fill = 0);
  int width() const override { return width_; }
  int height() const override { return height_; }
  void put_indexed(int x, int y, int w, int h, const uint8_t* pixels, int stride,
                   const uint8_t* colours) override;
  void put_rgb(int x, int y, int w, int h, const uint8_t* rgb, int stride) override;

  // 0xRRGGBB, or 0xFFFFFFFF outside.
  uint32_t pixel(int x, int y) const;
  void fill(uint32_t rgb);
  const std::vector<uint8_t>& rgb() const { return rgb_; }
  int writes() const { return writes_; }
  // Binary PPM (P6); false when the file cannot be written.
  bool save_ppm(const std::string& path) const;

 private:
  template <class Source>
  void put(int x, int y, int w, int h, Source rgb_at);
  int width_;
  int height_;
  int writes_ = 0;
  std::vector<uint8_t> rgb_;
};
