// Drawing through the real display driver plug-in: a device in one of its output modes, a
// window whose canvas shows what is presented, and a recorder that can stand in for the
// driver's render modes to see exactly what the engine hands over.
#ifndef TESSEL_TESTS_ENGINE_RENDER_FIXTURE_H
#define TESSEL_TESTS_ENGINE_RENDER_FIXTURE_H

#include <cstdlib>
#include <string>
#include <vector>

#include "driver/records.h"
#include "platform/display.h"
#include "platform/gdi.h"
#include "platform/surface.h"
#include "tests/engine/engine_fixture.h"

struct RecordedPolygon {
  int slot = 0;  // render-mode table index
  int32_t flag = 0;
  int32_t shade = 0;
  uint32_t colour = 0;
  uint8_t mode = 0, opacity = 0;
  const uint8_t* texels = nullptr;
  std::vector<DeviceVertex> vertices;
};

inline std::vector<RecordedPolygon>& recorded() {
  static std::vector<RecordedPolygon> v;
  return v;
}

template <int Slot>
int32_t record_mode(DevicePolygon* p, int32_t flag) {
  RecordedPolygon r;
  r.slot = Slot;
  r.flag = flag;
  r.shade = p->shade;
  r.colour = p->material->colour;
  r.mode = p->material->mode;
  r.opacity = p->material->opacity;
  r.texels = p->material->texture ? p->material->texture->texels : nullptr;
  for (int i = 0; i < p->vertex_count; ++i) r.vertices.push_back(*p->vertices[i]);
  recorded().push_back(r);
  return 0;
}

class RenderTest : public EngineTest {
 public:
  void SetUp() override {
    EngineTest::SetUp();
    std::string lib = std::string(std::getenv("TESSEL_BINARY_DIR") ? std::getenv("TESSEL_BINARY_DIR")
                                                                    : TESSEL_BINARY_DIR) + "/lib";
    setenv("TESSEL_DRIVER_DIR", lib.c_str(), 1);
    display_reset();
    gdi_reset();
    recorded().clear();
  }
  void TearDown() override {
    EngineTest::TearDown();
    if (window) window_destroy(window);
    window = nullptr;
    unsetenv("TESSEL_DRIVER_DIR");
  }

  // Output mode 1 (plain DIB), 2 (DIB section) or 3 (surface).
  bool start(int mode) {
    if (mode == 3) {
      driver = VxOpenDriver("VXDL8D21", 0);
      return driver && VxStartDriver(driver, 0, 0, nullptr);
    }
    int32_t options[4] = {mode == 1 ? 1000 : 1007, 0, 1, 0};
    return VxStartDevice("MSWindows", 0, 2, options) != 0;
  }
  DeviceRecord* record() {
    DeviceRecord* r = nullptr;
    VxGetDeviceInfo(VX_INFO_DEVICE_RECORD, &r, sizeof r);
    return r;
  }
  // A camera at the origin looking along +z, shown in window w, cleared to `back` (r, g, b).
  VxCamera* camera_in(PlatformWindow* w, int width, int height, VxVector back) {
    VxCamera* c = camera(width, height, {0, 0, 0}, {0, 0, 1});
    VxSetCameraWindow(c, w);
    VxSetCameraBackColor(c, back.x, back.y, back.z);
    return c;
  }
  // Shows the camera's last frame in window w; false when the camera refused.
  static bool show_image(VxCamera* cam, PlatformWindow* w) {
    GdiDc* dc = gdi_get_dc(w);
    const bool shown = VxShowCameraImage(cam, dc) != 0;
    gdi_release_dc(w, dc);
    return shown;
  }
  // One frame of the given clumps; what reached the driver.
  std::vector<RecordedPolygon> draw(VxCamera* cam, std::initializer_list<VxClump*> clumps) {
    recorded().clear();
    EXPECT_TRUE(VxBeginCameraUpdate(cam));
    for (VxClump* c : clumps) VxRenderClump(c);
    EXPECT_TRUE(VxEndCameraUpdate(cam));
    return recorded();
  }
  // Puts the recorder in every polygon slot of both banks.
  void record_polygons() {
    DeviceRecord* r = record();
    ASSERT_NE(r, nullptr);
    for (int bank = 0; bank < 2; ++bank) {
      r->render_modes[bank][12] = &record_mode<12>;
      r->render_modes[bank][13] = &record_mode<13>;
      r->render_modes[bank][14] = &record_mode<14>;
      r->render_modes[bank][15] = &record_mode<15>;
      r->render_modes[bank][20] = &record_mode<20>;
      r->render_modes[bank][21] = &record_mode<21>;
      r->render_modes[bank][22] = &record_mode<22>;
      r->render_modes[bank][23] = &record_mode<23>;
    }
  }
  // A camera at eye looking at a point, y up, view window 0.5 x 0.5 scaled to the aspect.
  VxCamera* camera(int w, int h, VxVector eye, VxVector at) {
    VxCamera* c = VxCreateCamera(w, h, 0);
    if (!c) return nullptr;
    VxSetCameraPosition(c, eye.x, eye.y, eye.z);
    VxPointCameraAt(c, at.x, at.y, at.z);
    VxSetCameraLookUp(c, 0, 1, 0);
    VxSetCameraViewwindow(c, 0.5f, 0.5f * h / w);
    VxSetCameraNearClipping(c, 0.025f);
    return c;
  }
  PlatformWindow* show_window(int w, int h) {
    canvas = std::make_unique<CanvasSurface>(w, h, 0x123456);
    window = window_create_plain(0, 0, canvas.get());
    return window;
  }

  VxDriver* driver = nullptr;
  std::unique_ptr<CanvasSurface> canvas;
  PlatformWindow* window = nullptr;
};

// A cube of side s centred at (x, y, z), faces wound counter-clockwise seen from outside.
inline VxClump* make_cube(VxReal s, VxReal x, VxReal y, VxReal z, VxTexture* texture = nullptr,
                          VxReal red = 1, VxReal green = 1, VxReal blue = 1) {
  VxBeginModel();
  VxBeginClump();
  VxSetModelColor(red, green, blue);
  if (texture) VxSetModelTexture(texture);
  VxAddBlock(s, s, s);
  VxClump* c = VxEndClump();
  VxEndModel();
  VxTranslateMatrix(VxScratchMatrix(), x, y, z, VX_REPLACE);
  VxTransformClump(c, VxScratchMatrix(), VX_REPLACE);
  return c;
}

// A square of side s in the plane z = z0, facing -z (toward a camera at the origin).
inline VxClump* make_square(VxReal s, VxReal x, VxReal y, VxReal z0, int mode = 0, VxReal opacity = 1) {
  VxBeginModel();
  VxBeginClump();
  VxSetModelMode(mode);
  VxSetModelOpacity(opacity);
  VxReal h = s / 2;
  VxAddVertexUV(x + h, y - h, z0, 0, 1);
  VxAddVertexUV(x - h, y - h, z0, 1, 1);
  VxAddVertexUV(x - h, y + h, z0, 1, 0);
  VxAddVertexUV(x + h, y + h, z0, 0, 0);
  VxAddQuad(1, 2, 3, 4);
  VxClump* c = VxEndClump();
  VxEndModel();
  return c;
}

#endif
