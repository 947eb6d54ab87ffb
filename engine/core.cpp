// Engine state, errors, start and end, debug settings, drivers and the null device.
#include "engine/internal.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

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
  device_shutdown();  // cameras' device records go before the cameras
  bands_reset();
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

