// Engine state, errors, start and end, debug settings, drivers and the null device.
#include "engine/internal.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

struct VxDriverRec {
  std::string name;
};

namespace vx {

State& st() {
  static State s;
  return s;
}

int fail(int code) {
  st().error = code;
  return 0;
}

void debug(int level, const char* fmt, ...) {
  State& s = st();
  if (!s.debug_started || level > s.debug_level) return;
  char line[512];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(line, sizeof line, fmt, ap);
  va_end(ap);
  std::fprintf(stderr, "%s%s\n", s.debug_prefix.c_str(), line);
}

bool live(const VxClumpRec* c) { return c && st().clumps.count(const_cast<VxClumpRec*>(c)); }
bool live(const VxPolygonRec* p) { return p && st().polygons.count(const_cast<VxPolygonRec*>(p)); }
bool live(const VxTextureRec* t) { return t && st().textures.count(const_cast<VxTextureRec*>(t)); }
bool live(const VxRasterRec* r) { return r && st().rasters.count(const_cast<VxRasterRec*>(r)); }
bool live(const VxMatrixRec* m) {
  return m && (m == &st().scratch || st().matrices.count(const_cast<VxMatrixRec*>(m)));
}
bool live(const VxSceneRec* s) { return s && st().scenes.count(const_cast<VxSceneRec*>(s)); }
bool live(const VxCameraRec* c) { return c && st().cameras.count(const_cast<VxCameraRec*>(c)); }
bool live(const VxMaterialRec* m) {
  return m && st().materials.count(const_cast<VxMaterialRec*>(m));
}

}  // namespace vx

using namespace vx;

int VxGetError(void) { return st().error; }

int VxInitialize(void*) {
  State& s = st();
  if (s.initialized) return 1;
  s.initialized = true;
  s.error = VX_E_NONE;
  s.scratch.mat = mat_identity();
  return 1;
}

int VxShutdown(void) {
  State& s = st();
  model_reset();
  stream_free_all();
  scene_free_all();
  for (VxClumpRec* c : std::vector<VxClumpRec*>(s.clumps.begin(), s.clumps.end())) {
    if (s.clumps.count(c) && !c->parent) clump_free_tree(c);
  }
  for (VxTextureRec* t : s.textures) {
    raster_free(t->raster);
    raster_free(t->mask);
    delete t;
  }
  s.textures.clear();
  for (VxRasterRec* r : s.rasters) delete r;
  s.rasters.clear();
  for (VxMatrixRec* m : s.matrices) delete m;
  s.matrices.clear();
  for (VxMaterialRec* m : s.materials) delete m;
  s.materials.clear();
  for (VxDriverRec* d : s.drivers) delete d;
  s.drivers.clear();
  s.scratch_stack.clear();
  s.search_path.clear();
  s.debug_prefix.clear();
  s.debug_mode = s.debug_flag = s.debug_option = s.debug_level = 0;
  s.debug_started = false;
  s.device_started = false;
  s.updating = nullptr;
  s.initialized = false;
  s.error = VX_E_NONE;
  return 1;
}

int VxSetDebugPrefix(const char* prefix) {
  st().debug_prefix = prefix ? std::string(prefix).substr(0, 63) : "";
  return 1;
}
int VxSetDebugMode(int mode) { st().debug_mode = mode; return 1; }
int VxSetDebugFlag(int flag) { st().debug_flag = flag; return 1; }
int VxSetDebugOption(int option) { st().debug_option = option; return 1; }
int VxSetDebugLevel(int level) { st().debug_level = level; return 1; }
int VxGetDebugLevel(void) { return st().debug_level; }
int VxStartDebug(void) { st().debug_started = true; return 1; }

// Display drivers are loaded in the drawing part; until then none can be opened and the
// callers fall back to starting the device directly, which gives the null device.
VxDriver* VxOpenDriver(const char* name, int) {
  if (!st().initialized) return (VxDriver*)(intptr_t)fail(VX_E_NOT_INITIALIZED);
  if (!name || !*name) return (VxDriver*)(intptr_t)fail(VX_E_BAD_ARGUMENT);
  return (VxDriver*)(intptr_t)fail(VX_E_NO_DEVICE);
}

int VxStartDriver(VxDriver* driver, int, int, void*) {
  if (!driver || !st().drivers.count(driver)) return fail(VX_E_BAD_ARGUMENT);
  return fail(VX_E_NO_DEVICE);
}

int VxCloseDriver(VxDriver* driver) {
  if (!driver || !st().drivers.count(driver)) return fail(VX_E_BAD_ARGUMENT);
  st().drivers.erase(driver);
  delete driver;
  return 1;
}

int VxStartDevice(const char* device, int, int, void*) {
  if (!st().initialized) return fail(VX_E_NOT_INITIALIZED);
  if (!device || !*device) return fail(VX_E_BAD_ARGUMENT);
  st().device_started = true;
  return 1;
}

int VxStartDeviceDefault(const char* device, int reserved) {
  return VxStartDevice(device, reserved, 0, nullptr);
}

int VxGetDeviceInfo(int code, void* out, int size) {
  if (!st().initialized) return fail(VX_E_NOT_INITIALIZED);
  if (!out) return fail(VX_E_BAD_ARGUMENT);
  switch (code) {
    case VX_INFO_FALLBACK:
    case VX_INFO_IMAGE_SURFACE: {
      if (size < 4) return fail(VX_E_BAD_ARGUMENT);
      int32_t zero = 0;  // the null device never falls back and has plain images
      std::memcpy(out, &zero, 4);
      return 1;
    }
    case VX_INFO_DEVICE_RECORD:
      // The null device has no driver record.
      if (size >= (int)sizeof(void*)) std::memset(out, 0, sizeof(void*));
      return fail(VX_E_UNSUPPORTED);
    default:
      return fail(VX_E_UNSUPPORTED);
  }
}

int VxDeviceControl(int code, int, void* data, int size) {
  if (!st().initialized) return fail(VX_E_NOT_INITIALIZED);
  if (code == VX_CONTROL_HALF_CAMERA) {
    if (!data || size < 12) return fail(VX_E_BAD_ARGUMENT);
    return 1;  // nothing to pair on the null device
  }
  return fail(VX_E_UNSUPPORTED);
}

// The null device's palette: a 6 x 6 x 6 colour cube, then a grey ramp.
int VxGetPaletteEntries(int first, int count, void* buffer) {
  if (!st().initialized) return fail(VX_E_NOT_INITIALIZED);
  if (!buffer || first < 0 || count < 0 || first + count > 256) return fail(VX_E_BAD_ARGUMENT);
  unsigned char* out = static_cast<unsigned char*>(buffer);
  for (int i = 0; i < count; ++i) {
    int n = first + i;
    unsigned char r, g, b;
    if (n < 216) {
      r = (unsigned char)(n / 36 * 51);
      g = (unsigned char)(n / 6 % 6 * 51);
      b = (unsigned char)(n % 6 * 51);
    } else {
      r = g = b = (unsigned char)((n - 216) * 255 / 39);
    }
    out[i * 4] = r;
    out[i * 4 + 1] = g;
    out[i * 4 + 2] = b;
    out[i * 4 + 3] = 0;
  }
  return 1;
}
