// Engine internals shared by the engine's sources; not part of the public interface.
#ifndef TESSEL_ENGINE_INTERNAL_H
#define TESSEL_ENGINE_INTERNAL_H

#include "engine/vxl21.h"
#include "driver/records.h"

#include <string>
#include <unordered_set>
#include <vector>

namespace vx {

// Sizes beyond these are refused as out of memory rather than attempted.
constexpr int kMaxRasterSide = 4096;
constexpr int kMaxVertices = 1 << 20;
constexpr int kMaxPolygons = 1 << 20;
constexpr int kMaxPolygonCorners = 1024;
constexpr int kMaxClumpDepth = 64;

struct Mat {
  VxReal m[4][4];
};
Mat mat_identity();
Mat mat_mul(const Mat& a, const Mat& b);  // a then b (row vectors)
// Inline: it runs once per vertex per frame.
inline VxVector mat_apply(const Mat& m, const VxVector& p) {
  VxVector r;
  r.x = p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0] + m.m[3][0];
  r.y = p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1] + m.m[3][1];
  r.z = p.x * m.m[0][2] + p.y * m.m[1][2] + p.z * m.m[2][2] + m.m[3][2];
  return r;
}
VxVector mat_apply_dir(const Mat& m, const VxVector& d);
bool mat_combine(Mat& target, const Mat& t, int mode);

// Material values as a polygon carries them.
struct Surface {
  VxReal red = 1, green = 1, blue = 1;
  VxReal ambient = 1, diffuse = 1, specular = 0;
  VxReal opacity = 1;
  int32_t mode = 0, texture_mode = 0;
  int32_t option = 0, kind = 0, flag = 0, level = 0;
  int32_t look = 0;  // VX_LOOK_*
  VxTextureRec* texture = nullptr;  // a reference is held
};

}  // namespace vx

struct VxMatrixRec {
  vx::Mat mat;
};

struct VxMaterialRec {
  vx::Surface s;
};

struct VxRasterRec {
  int width = 0, height = 0, depth = 8, stride = 0;
  std::vector<unsigned char> pixels;
  unsigned char palette[1024] = {};
  int locks = 0;
  unsigned version = 0;  // counts the times its pixels were handed back after a change
};

struct VxTextureRec {
  int refs = 1;     // every reference: callers' handles and holders (polygons, materials)
  int handles = 1;  // the callers' part, given back with VxDestroyTexture
  std::string name;  // as registered; empty when unnamed
  bool registered = false;
  VxRasterRec* raster = nullptr;
  VxRasterRec* mask = nullptr;
  int frame = 0;
  unsigned version = 0;  // counts changes of picture or mask
  // Texels converted for the open device: side 128 or 16, 0 when none yet.
  std::vector<unsigned char> texels;
  int texels_side = 0;
  int texels_frame = -1;
  unsigned texels_epoch = 0;
  const VxRasterRec* texels_raster = nullptr;
  unsigned texels_version = 0;
  unsigned texels_pixels = 0, texels_mask_pixels = 0;  // the two rasters' versions
  DeviceTexture device_texture{};
};

struct VxPolygonRec {
  VxClumpRec* clump = nullptr;
  int32_t tag = 0;
  std::vector<int> numbers;  // vertex numbers from 1
  vx::Surface surface;
  // The device's colour word for the surface's colour, as last asked.
  struct RampCache {
    bool valid = false;
    unsigned epoch = 0;
    const void* device = nullptr;
    float rgb[3] = {};
    uint32_t word = 0;
  } ramp;
};

struct VxClumpVertex {
  VxVector p;
  VxReal u, v;
};

namespace vx {
// A clump's polygons as a frame draws them, kept until the clump or one of its polygons
// changes: vertex numbers in one array and the surface values that do not depend on the
// camera, read in order from a few blocks instead of one record per polygon.
struct DrawVertex {
  VxVector p;
  int32_t u, v;  // 16.16
};
struct DrawPolygon {
  VxPolygonRec* owner;
  VxTextureRec* texture;
  uint32_t first;    // into DrawList::index
  uint16_t count;
  uint8_t geometry;  // VX_LOOK_GEOMETRY bits
  uint8_t opacity;   // 0..255
  uint8_t mode;      // material mode bits the driver sees
  uint8_t position;  // handler position bits other than the small-texture one
  bool two_sided, smooth;
  bool unlit_grey;  // untextured: close enough to grey for the grey row
  bool ramp_known;  // ramp_word holds the device's colour word
  VxReal ambient, diffuse;
  VxReal top_hi;  // untextured: the brightest component, held on 0..1
  uint32_t ramp_word;
};
// A polygon's place in the world for the clump's last world matrix: its right-hand normal
// (not normalised), its first corner, and the unit normal when it has one.
struct DrawPlace {
  VxVector face;
  VxVector corner;
  VxVector unit;
  uint32_t usable;  // the normal has a length
  VxReal diffuse[2];  // light on the unit normal and on its reverse, for DrawList::lit
};
// Elements of one part of a draw list's block.
template <class T>
struct DrawPart {
  T* p = nullptr;
  size_t n = 0;
  size_t size() const { return n; }
  T* data() const { return p; }
  T& operator[](size_t i) const { return p[i]; }
  T* begin() const { return p; }
  T* end() const { return p + n; }
};
struct DrawList {
  DrawList() = default;
  DrawList(const DrawList&) = delete;  // the parts point into the block
  DrawList& operator=(const DrawList&) = delete;
  unsigned built = 0;  // the clump's change count it was made from; 0 never
  bool any_smooth = false;
  bool placed = false;  // places and *placed_world hold the last world matrix's values
  unsigned lit = 0;     // the lighting the places' diffuse values were taken in; 0 none
  // The device the colour words were taken for.
  unsigned ramp_epoch = 0;
  const void* ramp_device = nullptr;
  Mat* placed_world = nullptr;
  DrawPart<DrawVertex> vertices;
  DrawPart<DrawPlace> places;      // one a polygon: a clump that stays put keeps them
  DrawPart<DrawPolygon> polygons;  // usable ones only, in the clump's order
  DrawPart<int32_t> index;         // vertex numbers from 0
  // One block holds the parts in the order a frame reads them, so that after the first
  // read the rest streams in. Last: a frame reads the parts, not the block.
  std::vector<uint64_t> block;
};
}  // namespace vx

// What a frame reads of a clump comes first and together, up to the draw list's parts, so
// that a clump costs a few cache lines; what only changes and queries read follows.
struct VxClumpRec {
  VxClumpRec* parent = nullptr;
  int state = VX_STATE_ON;
  bool local_known = false;
  // The box around the vertices, kept for drawing: cleared whenever a vertex is added or
  // moved. Not usable when a coordinate is not finite.
  enum { kBoundsStale, kBoundsUsable, kBoundsUnusable } bounds = kBoundsStale;
  // Counts changes of vertices and polygons; the draw list is made again when it moves.
  unsigned changes = 1;
  // joint x placement, kept for drawing while neither changes.
  vx::Mat local = vx::mat_identity();
  VxVector bounds_lo{0, 0, 0}, bounds_hi{0, 0, 0};
  std::vector<VxClumpRec*> children;
  std::vector<VxClumpVertex> vertices;
  vx::DrawList draw;
  VxSceneRec* scene = nullptr;
  int32_t tag = 0;
  int mode = 0;
  int alignment = VX_ALIGN_NONE;
  vx::Mat placement = vx::mat_identity();
  vx::Mat joint = vx::mat_identity();
  std::vector<VxPolygonRec*> polygons;
};

struct VxLightRec {
  int kind = 1;
  VxVector direction{0, 0, 0};
  VxReal intensity = 1;
  VxSceneRec* scene = nullptr;
};

struct VxSceneRec {
  std::vector<VxClumpRec*> clumps;
  std::vector<VxLightRec*> lights;
};

// A camera as the display driver sees it: the record on the engine's list, its two rasters.
struct VxDeviceCameraRec {
  DeviceCamera cam{};
  DeviceRaster colour{};
  DeviceRaster depth{};
};

struct VxCameraRec {
  int width = 0, height = 0;
  vx::Mat m = vx::mat_identity();  // rows: local x, up, look, position
  VxReal view_width = 1, view_height = 1;
  int vp_x = 0, vp_y = 0, vp_w = 0, vp_h = 0;
  VxReal near_clip = 0.05f;
  VxReal back[3] = {0, 0, 0};
  VxRasterRec* backdrop = nullptr;
  int backdrop_x = 0, backdrop_y = 0;
  int bd_vp[4] = {0, 0, 0, 0};
  void* window = nullptr;
  VxRasterRec* image = nullptr;
  bool updating = false;
  int frames = 0;
  int invalidations = 0;
  struct VxDeviceCameraRec* dev = nullptr;  // records the display driver sees, when one is open
  bool frame_open = false;                  // the driver began a frame that can be drawn
};

namespace vx {

struct State {
  bool initialized = false;
  int error = VX_E_NONE;
  std::string debug_prefix;
  int debug_mode = 0, debug_flag = 0, debug_option = 0, debug_level = 0;
  bool debug_started = false;
  bool device_started = false;
  VxMatrixRec scratch{mat_identity()};
  std::vector<Mat> scratch_stack;
  std::vector<std::string> search_path;
  std::unordered_set<VxMatrixRec*> matrices;
  std::unordered_set<VxMaterialRec*> materials;
  std::unordered_set<VxRasterRec*> rasters;
  std::unordered_set<VxTextureRec*> textures;
  std::unordered_set<VxClumpRec*> clumps;  // every clump, parts included
  std::unordered_set<VxPolygonRec*> polygons;
  std::unordered_set<VxSceneRec*> scenes;
  std::unordered_set<VxLightRec*> lights;
  std::unordered_set<VxCameraRec*> cameras;
  std::unordered_set<VxStreamRec*> streams;
  std::unordered_set<VxDriverRec*> drivers;
  VxCameraRec* updating = nullptr;  // camera between begin and end update
  unsigned render_counts[VX_RENDER_BANKS][VX_RENDER_SLOTS][VX_RENDER_POSITIONS] = {};
};
State& st();

// Records the failure and returns 0 (usable as `return fail(...)` for ints and pointers).
int fail(int code);
template <class T>
T* failp(int code) {
  fail(code);
  return nullptr;
}
void debug(int level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

bool live(const VxClumpRec* c);
bool live(const VxPolygonRec* p);
bool live(const VxTextureRec* t);
bool live(const VxRasterRec* r);
bool live(const VxMatrixRec* m);
bool live(const VxSceneRec* s);
bool live(const VxCameraRec* c);
bool live(const VxMaterialRec* m);

// Textures.
void texture_ref(VxTextureRec* t);
void texture_unref(VxTextureRec* t);
std::string texture_key(const char* name);
void surface_set_texture(Surface& s, VxTextureRec* t);

// Rasters.
VxRasterRec* raster_new(int width, int height, int depth);
void raster_free(VxRasterRec* r);
VxRasterRec* raster_copy(const VxRasterRec* r);
VxRasterRec* raster_from_bmp(const unsigned char* data, size_t size);
bool read_file(const std::string& path, std::vector<unsigned char>& out, size_t limit);
std::string find_file(const char* name);  // through the search path; "" when not found

// Clumps.
void clump_free_tree(VxClumpRec* c);
void polygon_free(VxPolygonRec* p);
void clump_detach(VxClumpRec* c);
Mat clump_world(const VxClumpRec* c);
inline const Mat& clump_local(VxClumpRec* c) {
  if (!c->local_known) {
    c->local = mat_mul(c->joint, c->placement);
    c->local_known = true;
  }
  return c->local;
}
// A vertex, a polygon or a polygon's surface of the clump changed.
inline void clump_changed(VxClumpRec* c) {
  c->bounds = VxClumpRec::kBoundsStale;
  if (++c->changes == 0) c->changes = 1;  // 0 is the never-built mark
}

// The display driver device (device.cpp).
// The version word the engine offers a driver's open.
constexpr uint32_t kEngineVersionWord = device_version_word(2, 1, 12) | 0x0021u;
void services_init(EngineServices& s);  // cleared, with the engine's memory slots
// Binds a driver's device by name into s and opens it with the options (null, or two
// option pairs); on failure what was opened is closed again.
bool device_bind(VxdevFn vxdev, const char* device, const void* options, EngineServices& s);
bool device_open();                  // a plug-in device is started
DeviceRecord* device_record();       // null without one
unsigned device_epoch();             // changes with every device start
bool device_camera_attach(VxCameraRec* c);
void device_camera_detach(VxCameraRec* c);
void device_shutdown();
// Drawing a frame in bands on several threads (bands.cpp).
int bands_threads();
void bands_set_threads(int n);
// The device the engine started, and each control it was given that succeeded: copies of
// the driver for the bands are opened the same way.
void bands_device_started(const char* device, const void* options, size_t size);
void bands_control(int code, int value, const void* data, int size);
void bands_forget();  // the copies closed (device closed or shut down)
void bands_reset();   // and the setting back to its default
// At a frame's start, after the device began it: true when the frame is drawn in bands.
bool bands_begin(VxCameraRec* c, DeviceRecord* r, void* library);
bool bands_active(const VxCameraRec* c);
void bands_record(int bank, int slot, const DevicePolygon& poly, int32_t flag);
void bands_draw();  // what was recorded, drawn into the frame
void bands_end(const VxCameraRec* c);
void* device_library();  // the open device's plug-in, or null
// Drawing (render.cpp).
int frame_begin(VxCameraRec* c);
int frame_end(VxCameraRec* c);
int frame_show(VxCameraRec* c, void* dc);
void* frame_handle(const VxCameraRec* c);  // the frame's device context or surface, or null
int frame_render_scene(VxSceneRec* s);
int frame_render_clump(VxClumpRec* c);
// Camera geometry shared by projection, picking and drawing: a world point to the camera's
// local frame (x left, y up, z ahead).
VxVector camera_local(const VxCameraRec* c, VxVector p);

// Shutdown helpers of each source.
void scene_free_all();
void stream_free_all();
void model_reset();

}  // namespace vx

#endif
