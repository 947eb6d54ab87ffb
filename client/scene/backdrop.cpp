#include "client/scene/backdrop.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "client/cache/download.h"
#include "client/cache/image.h"
#include "client/core/files.h"
#include "client/core/log.h"
#include "client/scene/camera.h"
#include "client/scene/model.h"
#include "client/scene/self.h"
#include "client/servers/world.h"
#include "engine/vxl21.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
// Name and extension share a buffer of 256 bytes.
constexpr int kGroundNameRoom = 256;

struct Backdrop {
  char* name = nullptr;
  int length = 0;
  VxRaster* raster = nullptr;
  VxRaster* half = nullptr;
  int width = 0, height = 0;
  uintptr_t request = 0;
};

struct Ground {
  model_instance* instance = nullptr;
  char* name = nullptr;
  int16_t cell_x = 0, cell_z = 0;
  bool place_now = false;
};

Backdrop bd;
Ground gd;

bool tracing() { return trace_switches[TRACE_GENERAL] != 0; }

// "<object cache>/textures/<name>.bmp". The name comes from the world's owner: it is made
// one file name, so that it cannot leave the textures folder. Empty when too long.
std::string bmp_path() {
  if (!bd.name) return "";
  char* safe = file_name_from_url(bd.name);
  if (!safe) return "";
  char path[1024];
  int n = std::snprintf(path, sizeof path, "%s/textures/%s.bmp", download_get_path(), safe);
  std::free(safe);
  if (n < 0 || n >= static_cast<int>(sizeof path)) return "";
  return path;
}

void take_rasters_away() {
  camera_set_backdrops(nullptr, nullptr);
  if (bd.raster || bd.half) {
    if (tracing()) log_write("VxDestroyRaster");
  }
  if (bd.raster) VxDestroyRaster(bd.raster);
  if (bd.half) VxDestroyRaster(bd.half);
  bd.raster = bd.half = nullptr;
  bd.width = bd.height = 0;
}

// Every second pixel of every second row, kept with the full picture's palette.
VxRaster* make_half(VxRaster* full) {
  int w = bd.width / 2, h = bd.height / 2;
  int depth = VxGetRasterDepth(full);
  if (w < 1 || h < 1 || (depth != 8 && depth != 24)) return nullptr;
  int bytes = depth / 8;
  unsigned char* src = VxGetRasterPixels(full);
  int stride = VxGetRasterStride(full);
  if (!src || stride < bd.width * bytes) {
    if (src) VxReleaseRasterPixels(full);
    return nullptr;
  }
  int half_stride = w * bytes;
  std::vector<unsigned char> pixels(static_cast<size_t>(half_stride) * h);
  for (int y = 0; y < h; ++y) {
    const unsigned char* row = src + static_cast<size_t>(2 * y) * stride;
    unsigned char* out = pixels.data() + static_cast<size_t>(y) * half_stride;
    for (int x = 0; x < w; ++x) std::memcpy(out + x * bytes, row + 2 * x * bytes, bytes);
  }
  VxReleaseRasterPixels(full);
  VxDib dib{};
  dib.width = w;
  dib.height = h;
  dib.bits_per_pixel = depth;
  dib.stride = half_stride;
  dib.bits = pixels.data();
  if (depth == 8) {
    dib.palette = VxGetRasterPalette(full);
    dib.palette_count = dib.palette ? 256 : 0;
  }
  VxBitmapSource source{nullptr, &dib};
  return VxCreateRasterFromBitmap(&source, 0);
}

void image_done(void*, int32_t) { load_backdrop(); }

void download_done(void* user, int status, uint8_t* data, int size) {
  uintptr_t request = reinterpret_cast<uintptr_t>(user);
  if (status != DOWNLOAD_ARRIVED || !bd.name || request != bd.request || !data || size <= 0) return;
  std::string path = bmp_path();
  if (path.empty()) return;
  image_convert(data, static_cast<size_t>(size), path.c_str(), 1, image_done, nullptr);
}

// Keeps an int conversion defined whatever the float says.
int to_int(double v) {
  if (!(v == v)) return 0;
  if (v > 1e6) v = 1e6;
  if (v < -1e6) v = -1e6;
  return static_cast<int>(v);
}

int16_t to_int16(double v) {
  if (!(v == v)) return 0;
  if (v > 32767) return 32767;
  if (v < -32768) return -32768;
  return static_cast<int16_t>(v);
}

}  // namespace

int backdrop_init() {
  world_hook.backdrop_set = backdrop_set;
  world_hook.ground_set = ground_set;
  return 0;
}

void backdrop_set(const char* name, int length) {
  if (tracing()) log_write("backdrop_set");
  if (!name || length < 0) length = 0;
  if (bd.name && length == bd.length && std::memcmp(bd.name, name, length) == 0) return;
  // The old picture goes, and so does its name: a download of it still under way must not
  // bring it back into a world that names another backdrop, or none.
  if (bd.raster || bd.half) {
    backdrop_clear();
  } else {
    std::free(bd.name);
    bd.name = nullptr;
    bd.length = 0;
  }
  ++bd.request;
  if (length == 0) return;
  bd.name = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
  if (!bd.name) return;
  std::memcpy(bd.name, name, length);
  bd.name[length] = 0;
  bd.length = length;
  char file[300];
  int n = std::snprintf(file, sizeof file, "%s.jpg", bd.name);
  if (n < 0 || n >= static_cast<int>(sizeof file) || !bd.name[0]) return;
  download_request* r = download_file("textures", file, DOWNLOAD_CLASS_TEXTURES, download_done,
                                      reinterpret_cast<void*>(bd.request));
  std::string path = bmp_path();
  if (!path.empty() && file_exists(path.c_str())) {
    file_touch(path.c_str());
    load_backdrop();
    if (bd.raster) return;  // the download only revalidates
    // A converted file the engine cannot read is fetched again.
    file_delete(path.c_str());
  }
  download_force(r);
}

void backdrop_clear() {
  if (tracing()) log_write("backdrop_clear");
  take_rasters_away();
  std::free(bd.name);
  bd.name = nullptr;
  bd.length = 0;
}

void load_backdrop() {
  if (tracing()) log_write("load_backdrop");
  take_rasters_away();
  std::string path = bmp_path();
  if (path.empty()) return;
  VxRaster* full = VxReadRaster(path.c_str(), 17);
  if (!full) return;
  bd.raster = full;
  bd.width = VxGetRasterWidth(full);
  bd.height = VxGetRasterHeight(full);
  bd.half = make_half(full);
  camera_set_backdrops(bd.raster, bd.half);
}

void backdrop_update() {
  if (trace_frames()) log_write("backdrop_update");
  // Each frame the camera module decides whether the half-size camera draws it.
  camera_choose_half();
  if (!bd.raster) return;
  VxCamera* main = camera_get_main();
  if (!main) return;
  int x = 0, y = 0, w = 0, h = 0;
  if (!VxGetCameraViewport(main, &x, &y, &w, &h)) return;
  VxVector look{0, 0, 1};
  VxGetCameraLookAt(main, &look);

  VxVector flat{look.x, 0, look.z};
  double angle = 0;
  if (VxNormalizeVector(&flat)) {
    double z = flat.z;
    if (z > 1) z = 1;
    if (z < -1) z = -1;
    angle = std::acos(z);
    if (flat.x < 0) angle = 2 * kPi - angle;
  }
  int horizontal = to_int(bd.width * angle * (-1.0 / (2 * kPi)));

  VxVector full = look;
  double t = 0;
  if (VxNormalizeVector(&full)) {
    double up = full.y;
    double rest = 1 - up * up;
    // Straight up or down the tangent has no value; the picture then stays where it is put
    // at the steepest pitch a camera really has.
    if (rest < 1e-6) rest = 1e-6;
    t = up / std::sqrt(rest);
  }
  VxReal vw = 0, vh = 0;
  VxGetCameraViewwindow(main, &vw, &vh);
  double v = vh > 0 ? vh : 1;
  int vertical = to_int((h / 2) - 0.9 * bd.height + 0.5 * t * h / v);

  VxCamera* target = main;
  int height = bd.height;
  if (camera_using_half() && camera_get_half()) {
    target = camera_get_half();
    horizontal /= 2;
    vertical /= 2;
    height = bd.height / 2;
  }
  VxSetCameraBackdropOffset(target, horizontal, 0);
  int level = VxGetDebugLevel();
  VxSetDebugLevel(1);
  VxSetCameraBackdropViewport(target, 0, vertical, w, height);
  VxSetDebugLevel(level);
}

int16_t ground_cell(double c) {
  if (c >= 0) return static_cast<int16_t>((to_int16(c) + 3) / 6);
  return static_cast<int16_t>((to_int16(c - 0.99999) - 2) / 6);
}

void ground_set(const char* name, int length) {
  if (tracing()) log_write("ground_set");
  if (!name || length <= 0) {
    ground_clear();
    return;
  }
  char file[kGroundNameRoom];
  // A name that does not fit with its extension is cut; an embedded zero ends it.
  int keep = length < kGroundNameRoom - 5 ? length : kGroundNameRoom - 5;
  int n = std::snprintf(file, sizeof file, "%.*s.vxx", keep, name);
  if (n < 0) return;
  if (gd.name && std::strcmp(gd.name, file) == 0) return;
  ground_clear();
  if (!std::strcmp(file, ".vxx")) return;  // nothing before the extension
  gd.instance = model_reference("models", file, nullptr);
  if (!gd.instance) return;
  gd.name = strdup(file);
  gd.place_now = true;
  ground_update();
}

void ground_clear() {
  if (tracing()) log_write("ground_clear");
  if (gd.instance) model_dereference(gd.instance);
  gd.instance = nullptr;
  std::free(gd.name);
  gd.name = nullptr;
  gd.place_now = false;
}

void ground_update() {
  if (trace_frames()) log_write("ground_update");
  if (!gd.instance) return;
  int16_t cx = ground_cell(self_get_x());
  int16_t cz = ground_cell(self_get_z());
  if (!gd.place_now && cx == gd.cell_x && cz == gd.cell_z) return;
  VxClump* clump = model_clump(gd.instance);
  // Without a clump yet the placing waits: the model keeps a clump's placement when it
  // swaps, so one placed nowhere would stay at the origin.
  if (!clump) return;
  gd.place_now = false;
  VxMatrix* m = VxScratchMatrix();
  VxTranslateMatrix(m, 6.0f * cx, 0, 6.0f * cz, VX_REPLACE);
  VxTransformClump(clump, m, VX_REPLACE);
  gd.cell_x = cx;
  gd.cell_z = cz;
}

VxClump* ground_clump() { return gd.instance ? model_clump(gd.instance) : nullptr; }
int ground_ready() { return gd.instance && model_is_ready(gd.instance) ? 1 : 0; }

const char* backdrop_name() { return bd.name; }
VxRaster* backdrop_raster() { return bd.raster; }
VxRaster* backdrop_half_raster() { return bd.half; }
const char* ground_name() { return gd.name; }
void ground_current_cell(int16_t* x, int16_t* z) {
  if (x) *x = gd.cell_x;
  if (z) *z = gd.cell_z;
}
