#pragma once
// The viewport: the child window of the main window into which each frame is copied. What
// it shows on is a ViewportSurface: the Qt viewport widget in the program, a resizable
// in-memory canvas otherwise.
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/surface.h"

struct PlatformWindow;
struct GdiDc;

class ViewportSurface : public WindowSurface {
 public:
  // Places the viewport in the main window's client area (outer rectangle); the surface's
  // own size becomes the client size inside the window's edge.
  virtual void place(int x, int y, int width, int height) = 0;
  // The colours the frames are drawn with (256 x {r, g, b}).
  virtual void set_palette(const uint8_t* rgb) = 0;
};

// The viewport window's edge on each side (a sunken client edge).
constexpr int VIEWPORT_EDGE = 2;

// A ViewportSurface over an RGB canvas that follows the size it is placed at.
class CanvasViewport : public ViewportSurface {
 public:
  int width() const override { return canvas_ ? canvas_->width() : 0; }
  int height() const override { return canvas_ ? canvas_->height() : 0; }
  void put_indexed(int x, int y, int w, int h, const uint8_t* pixels, int stride,
                   const uint8_t* colours) override;
  void put_rgb(int x, int y, int w, int h, const uint8_t* rgb, int stride) override;
  void place(int x, int y, int width, int height) override;
  void set_palette(const uint8_t* rgb) override;
  const CanvasSurface* canvas() const { return canvas_.get(); }
  int x() const { return x_; }
  int y() const { return y_; }

 private:
  std::unique_ptr<CanvasSurface> canvas_;
  int x_ = 0, y_ = 0;
};

using viewport_surface_maker = std::unique_ptr<ViewportSurface> (*)();
// The maker of the program's viewport surfaces (nullptr: the canvas).
void viewport_set_surface_maker(viewport_surface_maker maker);

// 1 when the viewport window was made, 0 otherwise.
int viewport_init();
void viewport_term();
PlatformWindow* viewport_window();
ViewportSurface* viewport_surface();
// Places the viewport at (left, top) - (right, bottom) of the main window's client area.
void viewport_size(int left, int top, int right, int bottom);
// The engine's colours into the viewport's palette.
void viewport_palette();
// Task "viewport": shows the frame of the camera in use.
void viewport_update();
// The viewport's client size (inside its edge).
void viewport_client_size(int* width, int* height);
