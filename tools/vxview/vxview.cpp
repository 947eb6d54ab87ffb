// vxview: draws ".vxx" models through the display driver plug-in, without a screen, and
// saves what the window shows as a PNG.
//   vxview [-o out.png] [-s width height] [-e x y z] [-l x y z] [-b red green blue]
//          [-m 1|2|3] [-z] [-t texture-folder] model.vxx[@x,y,z] ...
// -e is the eye, -l the point looked at (y is up), -b the back colour (0..1 each), -m the
// driver's output mode (1 plain DIB, 2 DIB section, 3 surface), -z draws with the depth buffer. Each model may be placed at
// a position; the scene has the world's one directional light.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/vxl21.h"
#include "platform/display.h"
#include "platform/gdi.h"
#include "platform/surface.h"
#include "tools/vxview/png.h"

namespace {

struct Options {
  std::string out = "vxview.png";
  int width = 160, height = 120;
  VxVector eye{0, 1, -4}, look{0, 0, 0};
  float back[3] = {0, 0, 0.7f};
  int mode = 2;
  bool depth_buffer = false;
  std::string textures;
  struct Model {
    std::string path;
    VxVector at{0, 0, 0};
  };
  std::vector<Model> models;
};

int usage() {
  std::fprintf(stderr,
               "usage: vxview [-o out.png] [-s width height] [-e x y z] [-l x y z] [-b r g b]\n"
               "              [-m 1|2|3] [-z] [-t texture-folder] model.vxx[@x,y,z] ...\n");
  return 2;
}

bool number(const char* s, float& out) {
  char* end = nullptr;
  out = std::strtof(s, &end);
  return end != s && *end == 0;
}

bool parse(int argc, char** argv, Options& o) {
  auto need = [&](int i, int n) { return i + n < argc; };
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    float v[3];
    if (a == "-o" && need(i, 1)) {
      o.out = argv[++i];
    } else if (a == "-s" && need(i, 2)) {
      o.width = std::atoi(argv[++i]);
      o.height = std::atoi(argv[++i]);
      if (o.width < 8 || o.height < 8 || o.width > 4096 || o.height > 4096) return false;
    } else if ((a == "-e" || a == "-l" || a == "-b") && need(i, 3)) {
      for (float& x : v)
        if (!number(argv[++i], x)) return false;
      if (a == "-e") o.eye = {v[0], v[1], v[2]};
      if (a == "-l") o.look = {v[0], v[1], v[2]};
      if (a == "-b") std::memcpy(o.back, v, sizeof v);
    } else if (a == "-m" && need(i, 1)) {
      o.mode = std::atoi(argv[++i]);
      if (o.mode < 1 || o.mode > 3) return false;
    } else if (a == "-z") {
      o.depth_buffer = true;
    } else if (a == "-t" && need(i, 1)) {
      o.textures = argv[++i];
    } else if (!a.empty() && a[0] != '-') {
      Options::Model m;
      size_t at = a.rfind('@');
      m.path = a.substr(0, at);
      if (at != std::string::npos &&
          std::sscanf(a.c_str() + at + 1, "%f,%f,%f", &m.at.x, &m.at.y, &m.at.z) != 3)
        return false;
      o.models.push_back(m);
    } else {
      return false;
    }
  }
  return !o.models.empty();
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, o)) return usage();
#ifdef VXVIEW_DRIVER_DIR
  setenv("TESSEL_DRIVER_DIR", VXVIEW_DRIVER_DIR, 0);  // a build tree's plug-in, unless told
#endif
  if (!VxInitialize(nullptr)) return 1;
  int ok;
  if (o.mode == 3) {
    VxDriver* d = VxOpenDriver("VXDL8D21", 0);
    ok = d && VxStartDriver(d, 0, 0, nullptr);
  } else {
    int32_t options[4] = {o.mode == 1 ? 1000 : 1007, 0, 1, 0};
    ok = VxStartDevice("MSWindows", 0, 2, options);
  }
  void* record = nullptr;
  if (!ok || !VxGetDeviceInfo(VX_INFO_DEVICE_RECORD, &record, sizeof record) || !record) {
    std::fprintf(stderr, "vxview: the display driver cannot be opened (error %d)\n", VxGetError());
    VxShutdown();
    return 1;
  }
  if (!o.textures.empty()) VxSetSearchPath(o.textures.c_str(), 1);
  VxScene* scene = VxCreateScene();
  VxAddLightToScene(scene, VxCreateLight(1, -0.8f, -0.5f, -0.2f, 1.0f));
  for (const auto& m : o.models) {
    VxClump* c = VxReadClump(m.path.c_str());
    if (!c) {
      std::fprintf(stderr, "vxview: %s: cannot be read (error %d)\n", m.path.c_str(), VxGetError());
      VxShutdown();
      return 1;
    }
    VxGetClumpMatrix(c, VxScratchMatrix());
    VxTranslateMatrix(VxScratchMatrix(), m.at.x, m.at.y, m.at.z, VX_POSTCONCAT);
    VxTransformClump(c, VxScratchMatrix(), VX_REPLACE);
    VxAddClumpToScene(scene, c);
  }
  VxCamera* cam = VxCreateCamera(o.width, o.height, 0);
  if (!cam) {
    std::fprintf(stderr, "vxview: no camera (error %d)\n", VxGetError());
    VxShutdown();
    return 1;
  }
  VxSetCameraPosition(cam, o.eye.x, o.eye.y, o.eye.z);
  VxPointCameraAt(cam, o.look.x, o.look.y, o.look.z);
  VxSetCameraLookUp(cam, 0, 1, 0);
  float longer = o.width > o.height ? (float)o.width : (float)o.height;
  VxSetCameraViewwindow(cam, 0.5f * o.width / longer, 0.5f * o.height / longer);
  VxSetCameraNearClipping(cam, 0.025f);
  VxSetCameraBackColor(cam, o.back[0], o.back[1], o.back[2]);

  CanvasSurface canvas(o.width, o.height, 0);
  PlatformWindow* window = window_create_plain(0, 0, &canvas);
  VxSetCameraWindow(cam, window);
  if (o.depth_buffer && !VxDeviceControl(7, 1, nullptr, 0)) {
    std::fprintf(stderr, "vxview: no depth buffer (error %d)\n", VxGetError());
    VxShutdown();
    window_destroy(window);
    return 1;
  }
  int drawn = VxBeginCameraUpdate(cam) && VxRenderScene(scene) && VxEndCameraUpdate(cam);
  GdiDc* dc = gdi_get_dc(window);
  int shown = drawn && dc && VxShowCameraImage(cam, dc);
  if (dc) gdi_release_dc(window, dc);
  VxShutdown();
  window_destroy(window);
  if (!shown) {
    std::fprintf(stderr, "vxview: the frame could not be drawn\n");
    return 1;
  }
  if (!vxview::png_write(o.out, canvas.width(), canvas.height(), canvas.rgb().data())) {
    std::fprintf(stderr, "vxview: %s: cannot be written\n", o.out.c_str());
    return 1;
  }
  return 0;
}
