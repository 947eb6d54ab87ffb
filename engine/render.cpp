// Drawing a frame through the display driver: background and backdrop, vertex transform
// through the driver's entry, clipping against the view volume, lighting, materials and
// textures, and dispatch to the driver's render-mode table.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include <xmmintrin.h>

#include "engine/internal.h"

struct GdiDc;

namespace vx {
namespace {

// Render-mode slots: 4 x kind + shading bits.
constexpr int kModePoints = 0;
constexpr int kModeOutline = 4;    // closed outline
constexpr int kModePolyline = 8;   // open polyline
constexpr int kModePolygon = 12;   // untextured polygon, flat
constexpr int kModeTextured = 20;  // textured polygon
constexpr int kModeSmooth = 1;     // per-vertex shades
constexpr int kModeStipple = 2;    // screen-door translucency
// Triangle handler positions from the mode byte.
constexpr int kPositionLit = 1;     // texels through the shade table
constexpr int kPositionPersp = 2;   // perspective-correct texturing
constexpr int kPositionDither = 4;  // dithered texel coordinates
constexpr int kPositionSmall = 8;   // 16 x 16 texels
constexpr int kMaxFan = 255;       // vertices one driver polygon holds
constexpr VxReal kAmbientLight = 0.25f;
constexpr float kFar = 1e30f;
constexpr int kGetInfoDepthBuffer = 16;
constexpr int kGetInfoSurfaceOutput = 1100;
constexpr int kGetInfoDibSection = 1004;
constexpr int kControlRampIndex = 1;
constexpr int kGetInfoRampKnee = 18;
constexpr float kGreySpread = 0xCCC / 65535.0f;  // colours closer than this use the grey row

// View-space vertex in the driver's volume: X/Z and Y/Z run 0..1 across the whole frame.
struct ClipVertex {
  float X, Y, Z, u, v;
  float s;          // shade level, 16.16 as a real
  unsigned on = 0;  // the planes a cut put it on, by plane bit
};

// Working buffers kept from clump to clump and frame to frame, so that a frame in the
// steady state allocates nothing.
struct Scratch {
  std::vector<DeviceVertex> verts;    // a clump's vertices
  std::vector<VxVector> world;        // their world positions
  std::vector<uint8_t> codes;         // their outcodes, bit 5 for the driver's own flags
  std::vector<VxVector> normals;      // vertex normals, for smooth shading
  std::vector<VxReal> diffuse[2];     // light at each vertex normal, facing and reversed
  std::vector<ClipVertex> poly, cut;  // a polygon being clipped
  std::vector<DeviceVertex> clipped;  // vertices made by clipping
  std::vector<Mat> chain;             // the drawn clump's ancestors' joint x placement, farthest first
  std::vector<VxLightRec> lighting;   // the last frame's lights, as they were
  unsigned lighting_count = 1;        // counts the changes of lighting seen; never 0
  DevicePolygon polygon;              // the record handed to the render modes
};

Scratch& scratch() {
  static Scratch s;
  return s;
}

struct Frame {
  VxCameraRec* camera = nullptr;
  DeviceRecord* r = nullptr;
  DeviceCamera* cam = nullptr;
  Mat view_to_driver;  // world -> driver view space
  float xl = 0, xr = 1, yt = 0, yb = 1;  // viewport as fractions of the frame
  float near_clip = 0.05f;
  int bank = 0;
  float full_level = 23.25f;  // the ramp level that shows a colour as it is
  const std::vector<VxLightRec*>* lights = nullptr;
  unsigned lighting = 0;  // Scratch::lighting_count for these lights
  VxVector eye{0, 0, 0};
  int32_t hold_x0 = 0, hold_x1 = 0, hold_y0 = 0, hold_y1 = 0;  // the viewport in 16.16
  bool smooth = false;  // the clump being drawn has vertex normals
  bool banded = false;  // polygons are kept and drawn in bands at the end of the call
  Scratch* b = nullptr;
  // The last texture asked for and its texels: nothing changes a texture while a frame is
  // drawn, and polygons in a row mostly share one.
  VxTextureRec* known_texture = nullptr;
  DeviceTexture* known_texels = nullptr;
};

VxVector sub(VxVector a, VxVector b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
VxReal dot(VxVector a, VxVector b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Rounds to nearest, ties to even, as lrint does: the value is held inside the 32-bit range
// first, and NaN gives 0 as the 64-bit conversion cut to 32 bits does.
int32_t fixed(VxReal value) {
  value = std::clamp(value, -32767.0f, 32767.0f);
  return (int32_t)_mm_cvtss_si64(_mm_set_ss(value * 65536.0f));
}

// World -> driver view space of the camera: camera-local x (left), y (up), z (ahead), then
// the viewport's place in the frame.
Mat driver_view(const VxCameraRec* c) {
  Mat v = mat_identity();
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) v.m[i][k] = c->m.m[k][i];  // transpose of the axes
  VxVector pos{c->m.m[3][0], c->m.m[3][1], c->m.m[3][2]};
  for (int k = 0; k < 3; ++k) v.m[3][k] = -(pos.x * c->m.m[k][0] + pos.y * c->m.m[k][1] + pos.z * c->m.m[k][2]);
  const float fw = (float)c->width, fh = (float)c->height;
  // px = vp_x + vp_w / 2 (1 - xc / (zc vw)); X / Z = px / fw.
  Mat p{};
  p.m[0][0] = -(float)c->vp_w / (2 * c->view_width * fw);
  p.m[2][0] = ((float)c->vp_x + c->vp_w / 2.0f) / fw;
  p.m[1][1] = -(float)c->vp_h / (2 * c->view_height * fh);
  p.m[2][1] = ((float)c->vp_y + c->vp_h / 2.0f) / fh;
  p.m[2][2] = 1;
  p.m[3][3] = 1;
  return mat_mul(v, p);
}

// Signed distance to one of the five planes; inside when >= 0.
inline float plane_distance(const Frame& f, const ClipVertex& v, int plane) {
  switch (plane) {
    case 0: return v.X - f.xl * v.Z;
    case 1: return f.xr * v.Z - v.X;
    case 2: return v.Y - f.yt * v.Z;
    case 3: return f.yb * v.Z - v.Y;
    default: return v.Z - f.near_clip;
  }
}

// The five planes' tests written out: a loop over plane_distance stays a loop with a jump
// table, once per vertex.
unsigned outcode(const Frame& f, float X, float Y, float Z) {
  unsigned code = 0;
  code |= !(X - f.xl * Z >= 0) ? 1u : 0u;
  code |= !(f.xr * Z - X >= 0) ? 2u : 0u;
  code |= !(Y - f.yt * Z >= 0) ? 4u : 0u;
  code |= !(f.yb * Z - Y >= 0) ? 8u : 0u;
  code |= !(Z - f.near_clip >= 0) ? 16u : 0u;
  return code;
}

ClipVertex lerp(const ClipVertex& a, const ClipVertex& b, float t) {
  return {a.X + (b.X - a.X) * t, a.Y + (b.Y - a.Y) * t, a.Z + (b.Z - a.Z) * t,
          a.u + (b.u - a.u) * t, a.v + (b.v - a.v) * t, a.s + (b.s - a.s) * t, a.on & b.on};
}

// A segment cut to the volume; false when nothing of it is inside.
bool clip_segment(const Frame& f, ClipVertex& a, ClipVertex& b) {
  float t0 = 0, t1 = 1;
  for (int plane = 0; plane < 5; ++plane) {
    const float da = plane_distance(f, a, plane), db = plane_distance(f, b, plane);
    if (da >= 0 && db >= 0) continue;
    if (!(da >= 0) && !(db >= 0)) return false;
    float t = da / (da - db);
    if (da < 0) t0 = std::max(t0, t);
    else t1 = std::min(t1, t);
  }
  if (t0 > t1) return false;
  ClipVertex ca = lerp(a, b, t0), cb = lerp(a, b, t1);
  a = ca, b = cb;
  return true;
}

// Sutherland-Hodgman against each plane in turn.
void clip_polygon(const Frame& f, std::vector<ClipVertex>& poly, std::vector<ClipVertex>& out, unsigned planes) {
  for (int plane = 0; plane < 5 && !poly.empty(); ++plane) {
    if (!(planes & (1u << plane))) continue;
    out.clear();
    const size_t n = poly.size();
    float da = plane_distance(f, poly[0], plane);
    for (size_t i = 0; i < n; ++i) {
      const ClipVertex& a = poly[i];
      const ClipVertex& b = poly[i + 1 < n ? i + 1 : 0];
      const float db = plane_distance(f, b, plane);
      bool ina = da >= 0, inb = db >= 0;
      if (ina) out.push_back(a);
      if (ina != inb) {
        // Cut from the inside end: two polygons that share the edge walk it in opposite
        // directions and must meet at the same point, however slanted the edge.
        const ClipVertex& in = ina ? a : b;
        const ClipVertex& outside = ina ? b : a;
        const float din = ina ? da : db, dout = ina ? db : da;
        ClipVertex cut = lerp(in, outside, din / (din - dout));
        cut.on |= 1u << plane;
        out.push_back(cut);
      }
      da = db;
    }
    poly.swap(out);
  }
}

// An image whose pixels the driver allocates, and gives back when it goes, through its
// image entries (and so through the engine's own memory slots).
class DeviceImage {
 public:
  DeviceImage(DeviceRecord* r, int side, int depth) : r_(r) {
    image.width = image.height = side;
    image.depth = depth;
    if (!r_->alloc_image_pixels(&image)) image.pixels = nullptr;
  }
  ~DeviceImage() { r_->free_image_pixels(&image); }
  DeviceImage(const DeviceImage&) = delete;
  DeviceImage& operator=(const DeviceImage&) = delete;
  uint8_t* pixels() const { return image.pixels; }
  uint8_t* row(int y) const { return image.pixels + (ptrdiff_t)y * image.pitch; }
  DeviceRaster image{};

 private:
  DeviceRecord* r_;
};

// Texels of a texture for the open device: the current frame picked to 128 x 128 (or
// 16 x 16 for small pictures) by the nearest pixel, then handed to the driver's image
// entries, which match the colours to the device palette (convert) and clear the texels the
// mask hides (apply mask). The engine keeps texel 0 for the mask alone: a colour the driver
// matches to entry 0, or cannot match, shows as entry 1.
DeviceTexture* device_texture(DeviceRecord* r, VxTextureRec* t) {
  VxRasterRec* ras = t->raster;
  if (!ras || ras->width < 1 || ras->height < 1 || r->raster_depth != 8 || !r->convert_image ||
      !r->alloc_image_pixels || !r->free_image_pixels || (t->mask && !r->apply_image_mask))
    return nullptr;
  int fw = ras->width, fh = ras->height, frames = 1;
  if (fh > fw && fh % fw == 0) {
    frames = fh / fw;
    fh = fw;
  }
  int frame = frames > 1 ? ((t->frame % frames) + frames) % frames : 0;
  if (t->texels_side && t->texels_epoch == device_epoch() && t->texels_raster == ras &&
      t->texels_frame == frame && t->texels_version == t->version && t->texels_pixels == ras->version &&
      t->texels_mask_pixels == (t->mask ? t->mask->version : 0))
    return &t->device_texture;
  t->texels_side = 0;  // stale until the driver has made them again
  const int side = (fw <= 16 && fh <= 16) ? 16 : 128;
  t->texels.assign((size_t)side * side, 0);
  // The picked pixels in the driver's order: palette entries and 24-bit pixels red first.
  DeviceImage picked(r, side, ras->depth);
  if (!picked.pixels()) return nullptr;
  uint8_t palette[256 * 3];
  if (ras->depth == 8) {
    for (int i = 0; i < 256; ++i) {
      palette[i * 3] = ras->palette[i * 4 + 2];
      palette[i * 3 + 1] = ras->palette[i * 4 + 1];
      palette[i * 3 + 2] = ras->palette[i * 4];
    }
    picked.image.palette = palette;
  }
  for (int y = 0; y < side; ++y) {
    const unsigned char* row = ras->pixels.data() + (size_t)(frame * fh + y * fh / side) * ras->stride;
    uint8_t* out = picked.row(y);
    for (int x = 0; x < side; ++x) {
      const int sx = x * fw / side;
      if (ras->depth == 8) {
        out[x] = row[sx];
      } else {
        out[x * 3] = row[sx * 3 + 2];
        out[x * 3 + 1] = row[sx * 3 + 1];
        out[x * 3 + 2] = row[sx * 3];
      }
    }
  }
  DeviceRaster texels{};
  texels.kind = kRasterKindColour;
  texels.bits = 8;
  texels.depth = 8;
  texels.width = texels.height = side;
  texels.pitch = side;
  texels.pixels = t->texels.data();
  if (r->convert_image(&picked.image, &texels, 0) != &texels || texels.pixels != t->texels.data()) return nullptr;
  for (uint8_t& texel : t->texels)
    if (!texel) texel = 1;
  if (const VxRasterRec* mask = t->mask) {
    // The mask at the texels' size, 0 where the picture is hidden and 255 where it shows.
    DeviceImage cover(r, side, 8);
    if (!cover.pixels()) return nullptr;
    for (int y = 0; y < side; ++y) {
      const int my = std::min((frame * fh + y * fh / side) * mask->height / ras->height, mask->height - 1);
      const unsigned char* m = mask->pixels.data() + (size_t)my * mask->stride;
      uint8_t* out = cover.row(y);
      for (int x = 0; x < side; ++x) {
        const int mx = x * mask->width / side;
        const bool opaque = mask->depth == 8 ? m[mx] != 0 : (m[mx * 3] | m[mx * 3 + 1] | m[mx * 3 + 2]) != 0;
        out[x] = opaque ? 255 : 0;
      }
    }
    if (!r->apply_image_mask(&texels, &cover.image)) return nullptr;
  }
  t->texels_side = side;
  t->texels_epoch = device_epoch();
  t->texels_raster = ras;
  t->texels_frame = frame;
  t->texels_version = t->version;
  t->texels_pixels = ras->version;
  t->texels_mask_pixels = t->mask ? t->mask->version : 0;
  t->device_texture.texels = t->texels.data();
  return &t->device_texture;
}

// Light falling on a unit normal from the scene's directional lights.
VxReal diffuse_light(const Frame& f, VxVector normal) {
  VxReal diffuse = 0;
  for (const VxLightRec* l : *f.lights) diffuse += std::max<VxReal>(0, -dot(normal, l->direction)) * l->intensity;
  return diffuse;
}

// Shade level 0..31 (16.16) from the diffuse light on a face or vertex. Fully lit, a colour
// shows at the ramp's knee level (greys: their brightness on the grey row); full white
// texels and greys reach the top level.
int32_t shade_level(const Frame& f, const DrawPolygon& s, VxReal diffuse, bool textured) {
  VxReal light;
  if (!f.lights || f.lights->empty()) light = s.ambient;
  else light = s.ambient * kAmbientLight + s.diffuse * diffuse;
  if (!(light > 0)) light = 0;
  light = std::min<VxReal>(light, 1);
  VxReal top = f.full_level;
  if (!textured) top = (s.unlit_grey ? 31 : f.full_level) * s.top_hi;
  // The conversion lrint makes, without a library call.
  return (int32_t)_mm_cvtss_si64(_mm_set_ss(std::clamp<VxReal>(light * top, 0, 31))) << 16;
}

VxReal face_diffuse(const Frame& f, VxVector normal) {
  const bool lit = f.lights && !f.lights->empty();
  return lit ? diffuse_light(f, normal) : 0;
}

// The frame's lights against the last frame's: the same directions and intensities in the
// same order light the same as before, and a clump's kept diffuse values still hold.
void take_lighting(Frame& f) {
  Scratch& b = *f.b;
  const size_t n = f.lights ? f.lights->size() : 0;
  bool same = b.lighting.size() == n;
  for (size_t i = 0; same && i < n; ++i) {
    const VxLightRec& l = *(*f.lights)[i];
    const VxLightRec& k = b.lighting[i];
    same = std::memcmp(&l.direction, &k.direction, sizeof l.direction) == 0 &&
           std::memcmp(&l.intensity, &k.intensity, sizeof l.intensity) == 0;
  }
  if (!same) {
    b.lighting.clear();
    for (size_t i = 0; i < n; ++i) b.lighting.push_back(*(*f.lights)[i]);
    if (++b.lighting_count == 0) b.lighting_count = 1;
  }
  f.lighting = b.lighting_count;
}

// Counts what reaches the driver, by bank, slot and handler position.
void count_polygon(const Frame& f, int slot, const DeviceMaterial* material) {
  int position = slot >= kModeTextured ? (material->mode & 0xF) : 0;
  ++st().render_counts[f.bank][slot][position];
}

// To the render mode at once, or kept for the bands.
inline void hand_over(const Frame& f, RenderModeFn mode, int slot, DevicePolygon& poly, int32_t flag) {
  if (f.banded) bands_record(f.bank, slot, poly, flag);
  else mode(&poly, flag);
}

// Hands one convex polygon to the render mode, split into fans the polygon record holds.
void dispatch(const Frame& f, int slot, DeviceMaterial* material, int32_t shade, DeviceVertex** v,
              int n, int32_t flag) {
  RenderModeFn mode = f.r->render_modes[f.bank][slot];
  if (!mode) return;
  DevicePolygon& poly = f.b->polygon;
  poly.material = material;
  poly.shade = shade;
  for (int start = 1; start + 1 < n; start += kMaxFan - 2) {
    int count = std::min(n - start, kMaxFan - 1);
    poly.vertices[0] = v[0];
    // Two at a time: a plain copy loop becomes a string move, slow for a few pointers.
    DeviceVertex** to = poly.vertices + 1;
    DeviceVertex* const* from = v + start;
    int i = 0;
    for (; i + 2 <= count; i += 2) to[i] = from[i], to[i + 1] = from[i + 1];
    if (i < count) to[i] = from[i];
    poly.vertex_count = (uint8_t)(count + 1);
    count_polygon(f, slot, material);
    hand_over(f, mode, slot, poly, flag);
  }
}

// Corners or a line through n vertices, in pieces the polygon record holds; a long outline
// goes as open pieces and its closing edge.
void dispatch_line(const Frame& f, int slot, DeviceMaterial* material, int32_t shade, DeviceVertex** v,
                   int n, int32_t flag) {
  DevicePolygon& poly = f.b->polygon;
  poly.material = material;
  poly.shade = shade;
  auto send = [&](int s, DeviceVertex** from, int count) {
    RenderModeFn mode = f.r->render_modes[f.bank][s];
    if (!mode || count < 1) return;
    for (int i = 0; i < count; ++i) poly.vertices[i] = from[i];
    poly.vertex_count = (uint8_t)count;
    poly.shade = shade;
    count_polygon(f, s, material);
    hand_over(f, mode, s, poly, flag);
  };
  if (n <= kMaxFan) return send(slot, v, n);
  const int smooth = slot & kModeSmooth;
  const int kind = slot - smooth;
  if (kind == kModePoints) {
    for (int start = 0; start < n; start += kMaxFan) send(slot, v + start, std::min(kMaxFan, n - start));
    return;
  }
  for (int start = 0; start + 1 < n; start += kMaxFan - 1)
    send(kModePolyline + smooth, v + start, std::min(kMaxFan, n - start));
  if (kind == kModeOutline) {
    DeviceVertex* closing[2] = {v[n - 1], v[0]};
    send(kModePolyline + smooth, closing, 2);
  }
}

// Screen positions held on the viewport: projection rounds, and a vertex on the edge of the
// volume may land a fraction of a pixel outside it.
inline __attribute__((always_inline)) void hold_on_viewport(const Frame& f, DeviceVertex& d) {
  d.screen_x = std::clamp(d.screen_x, f.hold_x0, f.hold_x1);
  d.screen_y = std::clamp(d.screen_y, f.hold_y0, f.hold_y1);
  d.depth = std::clamp(d.depth, 0, 32767 << 16);
}

// Vertices made by clipping: projected through the driver with an identity matrix, then
// held on the viewport against rounding at its edges; one a cut put on an edge of the
// viewport lies on it exactly, or rounding a hair inside would leave the edge's last column
// or row undrawn.
void project_clipped(Frame& f, const ClipVertex* poly, size_t n) {
  std::vector<DeviceVertex>& out = f.b->clipped;
  out.assign(n, DeviceVertex{});
  for (size_t i = 0; i < n; ++i) {
    DeviceVertex& d = out[i];
    d.x = poly[i].X, d.y = poly[i].Y, d.z = std::max(poly[i].Z, f.near_clip);
    d.u = fixed(poly[i].u), d.v = fixed(poly[i].v);
    d.shade = (int32_t)std::lrint(std::clamp(poly[i].s, 0.0f, (float)(31 << 16)));
  }
  static const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  f.r->transform_vertices(out.data(), (int32_t)out.size(), identity, f.cam, 0);
  for (size_t i = 0; i < n; ++i) {
    DeviceVertex& d = out[i];
    hold_on_viewport(f, d);
    const unsigned on = poly[i].on;
    if (on & 1) d.screen_x = f.hold_x0;
    if (on & 2) d.screen_x = f.hold_x1;
    if (on & 4) d.screen_y = f.hold_y0;
    if (on & 8) d.screen_y = f.hold_y1;
  }
}

// The right-hand normal of a polygon in world space, not normalised (its length grows with
// the area, so larger faces weigh more in a vertex normal).
// Each corner is read once, the previous one carried over; the closing edge comes last.
VxVector polygon_normal(const int32_t* k, size_t n, const VxVector* world) {
  VxVector normal{0, 0, 0};
  const VxVector first = world[k[0]];
  VxVector a = first;
  auto edge = [&normal](const VxVector& a, const VxVector& b) {
    normal.x += (a.y - b.y) * (a.z + b.z);
    normal.y += (a.z - b.z) * (a.x + b.x);
    normal.z += (a.x - b.x) * (a.y + b.y);
  };
  for (size_t i = 1; i < n; ++i) {
    const VxVector b = world[k[i]];
    edge(a, b);
    a = b;
  }
  edge(a, first);
  return normal;
}

bool polygon_usable(const VxPolygonRec* p) {
  return p->numbers.size() >= 3 && p->numbers.size() <= (size_t)kMaxPolygonCorners;
}

// Unit length in double precision, as the public normalise does; false for a zero vector.
bool normalise(VxVector& v) {
  double len = std::sqrt((double)v.x * v.x + (double)v.y * v.y + (double)v.z * v.z);
  if (!(len > 0)) return false;
  v.x = (VxReal)(v.x / len);
  v.y = (VxReal)(v.y / len);
  v.z = (VxReal)(v.z / len);
  return true;
}

// Vertex normals of a clump for its smooth polygons: the sum of the normals of the
// polygons around each vertex; and the light on each, for both faces.
void vertex_normals(Frame& f, const DrawList& d) {
  Scratch& b = *f.b;
  b.normals.assign(d.vertices.size(), VxVector{0, 0, 0});
  for (size_t j = 0; j < d.polygons.size(); ++j) {
    const DrawPolygon& p = d.polygons[j];
    const VxVector n = d.places[j].face;
    for (size_t i = 0; i < p.count; ++i) {
      VxVector& v = b.normals[(size_t)d.index[p.first + i]];
      v.x += n.x, v.y += n.y, v.z += n.z;
    }
  }
  for (VxVector& v : b.normals) normalise(v);
  const bool lit = f.lights && !f.lights->empty();
  for (int side = 0; side < 2; ++side) {
    b.diffuse[side].resize(b.normals.size());
    for (size_t i = 0; i < b.normals.size(); ++i) {
      VxVector vn = b.normals[i];
      if (side) vn = {-vn.x, -vn.y, -vn.z};
      b.diffuse[side][i] = lit ? diffuse_light(f, vn) : 0;
    }
  }
}

// The driver's colour word for a polygon's colour, asked of the device once per colour and
// device start.
uint32_t ramp_word(const Frame& f, VxPolygonRec* p) {
  const Surface& s = p->surface;
  float rgb[3] = {std::clamp<VxReal>(s.red, 0, 1), std::clamp<VxReal>(s.green, 0, 1),
                  std::clamp<VxReal>(s.blue, 0, 1)};
  VxPolygonRec::RampCache& cache = p->ramp;
  const unsigned epoch = device_epoch();
  if (cache.valid && cache.epoch == epoch && cache.device == f.r && std::memcmp(cache.rgb, rgb, sizeof rgb) == 0)
    return cache.word;
  int32_t ramp = f.r->control ? f.r->control(kControlRampIndex, 0, rgb, (int32_t)sizeof rgb) : 0;
  cache.valid = true;
  cache.epoch = epoch;
  cache.device = f.r;
  std::memcpy(cache.rgb, rgb, sizeof rgb);
  cache.word = (uint32_t)ramp & 0xFFE0u;
  return cache.word;
}

// The polygon's colour word, taken from the polygon's own cache once per device start.
uint32_t draw_ramp_word(const Frame& f, DrawList& d, DrawPolygon& p) {
  const unsigned epoch = device_epoch();
  if (d.ramp_epoch != epoch || d.ramp_device != f.r) {
    for (DrawPolygon& e : d.polygons) e.ramp_known = false;
    d.ramp_epoch = epoch;
    d.ramp_device = f.r;
  }
  if (!p.ramp_known) {
    p.ramp_word = ramp_word(f, p.owner);
    p.ramp_known = true;
  }
  return p.ramp_word;
}

void render_polygon(Frame& f, DrawList& d, size_t index) {
  DrawPolygon& s = d.polygons[index];
  Scratch& b = *f.b;
  const int32_t* numbers = d.index.data() + s.first;
  const size_t n = s.count;
  // Facing, from the right-hand normal in world space.
  const DrawPlace& place = d.places[index];
  VxVector normal = place.face;
  const bool two_sided = s.two_sided;
  const VxVector to_eye = sub(f.eye, place.corner);
  if (!two_sided) {
    // Plainly turned away, whatever the rounding of the unit normal: left out before it
    // is made. Near the edge-on the test below decides.
    const double d = (double)normal.x * to_eye.x + (double)normal.y * to_eye.y + (double)normal.z * to_eye.z;
    const double size = std::fabs((double)normal.x * to_eye.x) + std::fabs((double)normal.y * to_eye.y) +
                        std::fabs((double)normal.z * to_eye.z);
    if (d < -1e-4 * size) return;
  }
  if (!place.usable) return;  // degenerate: nothing to see
  normal = place.unit;
  const bool front = dot(normal, to_eye) > 0;
  if (!front && !two_sided) return;

  const int geometry = s.geometry;
  const bool smooth = s.smooth && f.smooth;
  DeviceMaterial material{};
  material.opacity = s.opacity;
  if (material.opacity == 0) return;
  material.colour = draw_ramp_word(f, d, s);
  material.mode = s.mode;
  int slot = geometry == VX_LOOK_POINTS ? kModePoints : geometry == VX_LOOK_OUTLINE ? kModeOutline
           : geometry == VX_LOOK_POLYLINE ? kModePolyline : kModePolygon;
  // The polygon holds a reference on its texture, so the texture outlives it.
  if (geometry == VX_LOOK_POLYGON && s.texture) {
    if (s.texture != f.known_texture) {
      f.known_texels = device_texture(f.r, s.texture);
      f.known_texture = s.texture;
    }
    if (DeviceTexture* t = f.known_texels) {
      material.texture = t;
      slot = kModeTextured;
      const int position = (s.texture->texels_side == 16 ? kPositionSmall : 0) | s.position;
      material.mode |= (uint8_t)position;
    }
  }
  const bool textured = material.texture != nullptr;
  if (smooth) slot += kModeSmooth;
  // Points and lines have no screen-door modes: they are drawn whole.
  if (material.opacity < 255 && slot >= kModePolygon) slot += kModeStipple;
  if (!f.r->render_modes[f.bank][slot]) return;
  const int32_t shade = shade_level(f, s, place.diffuse[front ? 0 : 1], textured);

  // Inside the volume as the driver transformed it: draw the clump's vertices as they are.
  unsigned all_out = ~0u, any_out = 0;
  for (size_t i = 0; i < n; ++i) {
    const size_t k = (size_t)numbers[i];
    b.verts[k].shade = smooth ? shade_level(f, s, b.diffuse[front ? 0 : 1][k], textured) : shade;
    const unsigned code = b.codes[k];
    all_out &= code;
    any_out |= code;
  }
  if (all_out & 0x1F) return;  // wholly beyond one plane
  DeviceVertex* ptrs[kMaxPolygonCorners + 8];
  int count = 0;
  const int32_t flag = front ? 0 : 1;
  // Vertices inside the volume were held on the viewport with the clump.
  if (!any_out || geometry == VX_LOOK_POINTS) {
    for (size_t i = 0; i < n; ++i)
      if (!b.codes[(size_t)numbers[i]]) ptrs[count++] = &b.verts[(size_t)numbers[i]];
    if (geometry != VX_LOOK_POLYGON) {
      if (count) dispatch_line(f, slot, &material, shade, ptrs, count, flag);
      return;
    }
  } else {
    std::vector<ClipVertex>& poly = b.poly;
    poly.resize(n);
    for (size_t i = 0; i < n; ++i) {
      const DeviceVertex& v = b.verts[(size_t)numbers[i]];
      poly[i] = {v.view_x, v.view_y, v.view_z, v.u / 65536.0f, v.v / 65536.0f, (float)v.shade};
    }
    if (geometry != VX_LOOK_POLYGON) {
      // Cut edge by edge; each visible piece goes as an open line of two.
      const size_t edges = geometry == VX_LOOK_OUTLINE ? n : n - 1;
      const int piece = kModePolyline + (slot & kModeSmooth);
      for (size_t i = 0; i < edges; ++i) {
        ClipVertex seg[2] = {poly[i], poly[(i + 1) % n]};
        if (!clip_segment(f, seg[0], seg[1])) continue;
        project_clipped(f, seg, 2);
        DeviceVertex* two[2] = {&b.clipped[0], &b.clipped[1]};
        dispatch_line(f, piece, &material, shade, two, 2, flag);
      }
      return;
    }
    clip_polygon(f, poly, b.cut, 0x1F);
    if (poly.size() < 3) return;
    project_clipped(f, poly.data(), poly.size());
    for (DeviceVertex& v : b.clipped) ptrs[count++] = &v;
  }
  // The driver draws triangles that run counter-clockwise on the screen (y down); a
  // two-sided polygon seen from behind is handed over reversed.
  int64_t area = 0;
  int64_t ax = ptrs[count - 1]->screen_x >> 8, ay = ptrs[count - 1]->screen_y >> 8;
  for (int i = 0; i < count; ++i) {
    const int64_t cx = ptrs[i]->screen_x >> 8, cy = ptrs[i]->screen_y >> 8;
    area += ax * cy - cx * ay;
    ax = cx, ay = cy;
  }
  dispatch(f, slot, &material, shade, ptrs, count, area > 0 ? 1 : 0);
}

// The clump's draw list made again from its vertices and polygons.
void build_draw_list(VxClumpRec* c) {
  DrawList& d = c->draw;
  static std::vector<DrawPolygon> polygons;
  static std::vector<int32_t> index;
  polygons.clear();
  index.clear();
  d.any_smooth = false;
  for (VxPolygonRec* p : c->polygons) {
    const Surface& s = p->surface;
    d.any_smooth |= (s.look & VX_LOOK_SMOOTH) != 0;
    if (!polygon_usable(p)) continue;
    DrawPolygon e{};
    e.owner = p;
    e.texture = s.texture;
    e.first = (uint32_t)index.size();
    e.count = (uint16_t)p->numbers.size();
    for (int k : p->numbers) index.push_back(k - 1);
    e.geometry = (uint8_t)(s.look & VX_LOOK_GEOMETRY);
    e.opacity = (uint8_t)std::lrint(std::clamp<VxReal>(s.opacity, 0, 1) * 255);
    e.mode = (uint8_t)(s.mode & (VX_MATERIAL_DEPTH_BIAS | VX_MATERIAL_TWO_SIDED));
    int position = 0;
    if (!(s.look & VX_LOOK_UNLIT)) position |= kPositionLit;
    if (!(s.look & VX_LOOK_AFFINE)) position |= kPositionPersp;
    if (s.look & VX_LOOK_DITHER) position |= kPositionDither;
    e.position = (uint8_t)position;
    e.two_sided = (s.mode & VX_MATERIAL_TWO_SIDED) != 0;
    e.smooth = (s.look & VX_LOOK_SMOOTH) != 0;
    e.ambient = s.ambient, e.diffuse = s.diffuse;
    VxReal hi = std::max({s.red, s.green, s.blue}), lo = std::min({s.red, s.green, s.blue});
    hi = std::clamp<VxReal>(hi, 0, 1), lo = std::clamp<VxReal>(lo, 0, 1);
    e.top_hi = hi;
    e.unlit_grey = hi - lo < kGreySpread;
    polygons.push_back(e);
  }
  const size_t nv = c->vertices.size(), np = polygons.size();
  auto words = [](size_t bytes) { return (bytes + 7) / 8; };
  const size_t wm = words(sizeof(Mat)), wv = words(nv * sizeof(DrawVertex)), wl = words(np * sizeof(DrawPlace)),
               wp = words(np * sizeof(DrawPolygon));
  d.block.assign(wm + wv + wl + wp + words(index.size() * sizeof(int32_t)), 0);
  uint64_t* at = d.block.data();
  d.placed_world = reinterpret_cast<Mat*>(at);
  d.vertices = {reinterpret_cast<DrawVertex*>(at += wm), nv};
  d.places = {reinterpret_cast<DrawPlace*>(at += wv), np};
  d.polygons = {reinterpret_cast<DrawPolygon*>(at += wl), np};
  d.index = {reinterpret_cast<int32_t*>(at += wp), index.size()};
  d.placed = false;
  for (size_t i = 0; i < nv; ++i) {
    const VxClumpVertex& v = c->vertices[i];
    d.vertices[i] = {v.p, fixed(v.u), fixed(v.v)};
  }
  std::copy(polygons.begin(), polygons.end(), d.polygons.begin());
  std::copy(index.begin(), index.end(), d.index.begin());
  d.ramp_device = nullptr;
  d.built = c->changes;
}

// The light on the polygons' faces, both ways.
void light_places(const Frame& f, DrawList& dl) {
  for (DrawPlace& p : dl.places) {
    if (!p.usable) continue;
    p.diffuse[0] = face_diffuse(f, p.unit);
    p.diffuse[1] = face_diffuse(f, {-p.unit.x, -p.unit.y, -p.unit.z});
  }
  dl.lit = f.lighting;
}

// The polygons' places for a world matrix.
void place_polygons(Scratch& b, DrawList& dl, const Mat& world) {
  const size_t nv = dl.vertices.size();
  b.world.resize(nv);
  for (size_t i = 0; i < nv; ++i) b.world[i] = mat_apply(world, dl.vertices[i].p);
  for (size_t j = 0; j < dl.polygons.size(); ++j) {
    const int32_t* k = dl.index.data() + dl.polygons[j].first;
    DrawPlace& p = dl.places[j];
    p.face = polygon_normal(k, dl.polygons[j].count, b.world.data());
    p.corner = b.world[k[0]];
    p.unit = p.face;
    p.usable = normalise(p.unit);
  }
  *dl.placed_world = world;
  dl.placed = true;
}

// A clump's polygons through the given world and driver matrices.
void draw_clump(Frame& f, VxClumpRec* c, const Mat& world, const float* matrix) {
  Scratch& b = *f.b;
  if (c->draw.built != c->changes) build_draw_list(c);
  DrawList& dl = c->draw;
  const size_t nv = dl.vertices.size();
  b.verts.resize(nv);
  // Cleared in one pass: a clear per record is a short string store each time.
  std::memset(static_cast<void*>(b.verts.data()), 0, nv * sizeof(DeviceVertex));
  for (size_t i = 0; i < nv; ++i) {
    const DrawVertex& v = dl.vertices[i];
    DeviceVertex& d = b.verts[i];
    d.x = v.p.x, d.y = v.p.y, d.z = v.p.z;
    d.u = v.u, d.v = v.v;
  }
  // The polygons' world normals and corners only change with the world matrix; the same
  // bits give the same values.
  if (!dl.placed || std::memcmp(dl.placed_world, &world, sizeof world) != 0) {
    place_polygons(b, dl, world);
    light_places(f, dl);
  } else if (dl.lit != f.lighting) {
    light_places(f, dl);
  }
  f.r->transform_vertices(b.verts.data(), (int32_t)nv, matrix, f.cam, 2);
  // Outcodes once per vertex; the ones inside are held on the viewport once.
  b.codes.resize(nv);
  for (size_t i = 0; i < nv; ++i) {
    DeviceVertex& d = b.verts[i];
    unsigned code = outcode(f, d.view_x, d.view_y, d.view_z);
    if (d.clip_flags & 0x3F) code |= 1u << 5;
    b.codes[i] = (uint8_t)code;
    if (!code) hold_on_viewport(f, d);
  }
  const size_t np = dl.polygons.size();
  f.smooth = dl.any_smooth;
  if (dl.any_smooth) vertex_normals(f, dl);
  for (size_t j = 0; j < np; ++j) render_polygon(f, dl, j);
}

// The clump's box, made again after its vertices changed.
bool clump_box(VxClumpRec* c, VxVector& lo, VxVector& hi) {
  if (c->bounds == VxClumpRec::kBoundsStale) {
    VxVector l = c->vertices[0].p, h = l;
    bool finite = true;
    for (const VxClumpVertex& v : c->vertices) {
      finite = finite && std::isfinite(v.p.x) && std::isfinite(v.p.y) && std::isfinite(v.p.z);
      l = {std::min(l.x, v.p.x), std::min(l.y, v.p.y), std::min(l.z, v.p.z)};
      h = {std::max(h.x, v.p.x), std::max(h.y, v.p.y), std::max(h.z, v.p.z)};
    }
    c->bounds_lo = l, c->bounds_hi = h;
    c->bounds = finite ? VxClumpRec::kBoundsUsable : VxClumpRec::kBoundsUnusable;
  }
  lo = c->bounds_lo, hi = c->bounds_hi;
  return c->bounds == VxClumpRec::kBoundsUsable;
}

// True when every vertex of the clump lies beyond one plane of the volume, so that none of
// its polygons could be drawn. The box corners are taken through the matrix in double
// precision and must clear the plane by far more than the rounding of any vertex's own
// single-precision transform and outcode, so a vertex on the edge is never lost.
bool clump_outside(const Frame& f, VxClumpRec* c, const float* m) {
  VxVector lo, hi;
  if (!clump_box(c, lo, hi)) return false;
  const double ax = std::max(std::fabs(lo.x), std::fabs(hi.x)), ay = std::max(std::fabs(lo.y), std::fabs(hi.y)),
               az = std::max(std::fabs(lo.z), std::fabs(hi.z));
  double size[3];  // bound on the terms that make each view coordinate
  for (int k = 0; k < 3; ++k)
    size[k] = ax * std::fabs(m[k]) + ay * std::fabs(m[4 + k]) + az * std::fabs(m[8 + k]) + std::fabs(m[12 + k]);
  if (!std::isfinite(size[0] + size[1] + size[2])) return false;
  constexpr double kTolerance = 1e-5;  // some 40 times the worst rounding of the float path
  const double tol_x = kTolerance * (size[0] + std::max(std::fabs(f.xl), std::fabs(f.xr)) * size[2]);
  const double tol_y = kTolerance * (size[1] + std::max(std::fabs(f.yt), std::fabs(f.yb)) * size[2]);
  const double tol_z = kTolerance * (size[2] + std::fabs(f.near_clip));
  unsigned all = 0x1F;
  for (int corner = 0; corner < 8 && all; ++corner) {
    const double x = corner & 1 ? hi.x : lo.x, y = corner & 2 ? hi.y : lo.y, z = corner & 4 ? hi.z : lo.z;
    const double X = x * m[0] + y * m[4] + z * m[8] + m[12];
    const double Y = x * m[1] + y * m[5] + z * m[9] + m[13];
    const double Z = x * m[2] + y * m[6] + z * m[10] + m[14];
    unsigned code = 0;
    if (X - f.xl * Z < -tol_x) code |= 1;
    if (f.xr * Z - X < -tol_x) code |= 2;
    if (Y - f.yt * Z < -tol_y) code |= 4;
    if (f.yb * Z - Y < -tol_y) code |= 8;
    if (Z - f.near_clip < -tol_z) code |= 16;
    all &= code;
  }
  return all != 0;
}

// The world matrix from the clump's own product and its ancestors', multiplied in the
// order clump_world takes.
Mat chain_world(const Mat& local, const std::vector<Mat>& chain) {
  Mat w = local;
  const size_t n = chain.size(), limit = (size_t)kMaxClumpDepth * 4;
  for (size_t k = n; k-- > (n > limit ? n - limit : 0);) w = mat_mul(w, chain[k]);
  return w;
}

// The chain for a clump drawn on its own or from a scene's list: its ancestors, if any.
void ancestor_chain(Scratch& b, VxClumpRec* c) {
  b.chain.clear();
  int depth = 0;
  for (VxClumpRec* p = c->parent; p && depth < kMaxClumpDepth * 4; p = p->parent, ++depth)
    b.chain.push_back(clump_local(p));
  std::reverse(b.chain.begin(), b.chain.end());
}

// Clumps lie apart in memory and the frame pushes them out of the caches: a record is asked
// for two clumps ahead, and the heads of its draw list one ahead, when its record is in.
// An asm statement, as the compiler drops plain prefetches in a loop as having no effect.
inline void prefetch(const void* p) { asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(p))); }
void prefetch_record(const VxClumpRec* c) {
  // The part a frame reads: from the record's start to the draw list's parts.
  const uintptr_t from = reinterpret_cast<uintptr_t>(c) & ~uintptr_t{63};
  const uintptr_t to = reinterpret_cast<uintptr_t>(&c->draw.index + 1);
  for (uintptr_t at = from; at < to; at += 64) prefetch(reinterpret_cast<const void*>(at));
}
void prefetch_draw(const VxClumpRec* c) {
  const DrawList& d = c->draw;
  if (!d.vertices.data() || !d.polygons.data() || !d.index.data()) return;
  prefetch(d.vertices.data());
  prefetch(d.polygons.data());
  prefetch(d.index.data());
}
void prefetch_ahead(VxClumpRec* const* list, size_t i, size_t n) {
  if (i + 2 < n) prefetch_record(list[i + 2]);
  if (i + 1 < n) prefetch_draw(list[i + 1]);
}

void render_clump(Frame& f, VxClumpRec* c, int depth) {
  const Mat& local = clump_local(c);
  if (c->state == VX_STATE_ON && !c->vertices.empty()) {
    const Mat world = chain_world(local, f.b->chain);
    const Mat m = mat_mul(world, f.view_to_driver);
    float matrix[16];
    for (int i = 0; i < 4; ++i)
      for (int k = 0; k < 4; ++k) matrix[i * 4 + k] = m.m[i][k];
    if (!clump_outside(f, c, matrix)) draw_clump(f, c, world, matrix);
  }
  if (depth < kMaxClumpDepth && !c->children.empty()) {
    f.b->chain.push_back(local);
    const size_t n = c->children.size();
    if (n > 1) prefetch_record(c->children[1]);
    for (size_t i = 0; i < n; ++i) {
      prefetch_ahead(c->children.data(), i, n);
      render_clump(f, c->children[i], depth + 1);
    }
    f.b->chain.pop_back();
  }
}

bool frame_ready(VxCameraRec*& c, DeviceRecord*& r) {
  c = st().updating;
  r = device_record();
  return c && r && c->dev && c->frame_open && r->transform_vertices;
}

Frame make_frame(VxCameraRec* c, DeviceRecord* r) {
  Frame f;
  f.camera = c;
  f.r = r;
  f.cam = &c->dev->cam;
  f.view_to_driver = driver_view(c);
  f.xl = (float)c->vp_x / c->width;
  f.xr = (float)(c->vp_x + c->vp_w) / c->width;
  f.yt = (float)c->vp_y / c->height;
  f.yb = (float)(c->vp_y + c->vp_h) / c->height;
  f.near_clip = c->near_clip;
  f.eye = {c->m.m[3][0], c->m.m[3][1], c->m.m[3][2]};
  f.hold_x0 = c->vp_x << 16, f.hold_x1 = (c->vp_x + c->vp_w) << 16;
  f.hold_y0 = c->vp_y << 16, f.hold_y1 = (c->vp_y + c->vp_h) << 16;
  f.b = &scratch();
  f.banded = bands_active(c);
  int32_t depth_on = 0;
  if (r->get_info && r->get_info(kGetInfoDepthBuffer, &depth_on, 4) && depth_on) f.bank = 1;
  float knee = 0;
  if (r->get_info && r->get_info(kGetInfoRampKnee, &knee, 4) && knee > 0.03f && knee <= 1) f.full_level = knee * 31;
  return f;
}

// The backdrop picture behind the scene: offset scrolls it (wrapping sideways), the
// backdrop viewport places it in the camera; both clipped to the camera's viewport.
void draw_backdrop(VxCameraRec* c, DeviceRecord* r) {
  VxRasterRec* b = c->backdrop;
  DeviceCamera& cam = c->dev->cam;
  if (!b || !live(b) || !cam.row_table || r->raster_depth != 8 || !r->colour_to_palette_index) return;
  if (b->width < 1 || b->height < 1) return;
  uint8_t map[256];
  if (b->depth == 8)
    for (int i = 0; i < 256; ++i) {
      uint8_t rgb[3] = {b->palette[i * 4 + 2], b->palette[i * 4 + 1], b->palette[i * 4]};
      map[i] = (uint8_t)std::clamp(r->colour_to_palette_index(rgb), 0, 255);
    }
  int bx = c->bd_vp[0], by = c->bd_vp[1], bw = c->bd_vp[2], bh = c->bd_vp[3];
  if (bw <= 0 || bh <= 0) bx = 0, by = 0, bw = c->width, bh = c->height;  // no viewport: all of it
  long x0 = std::max<long>(c->vp_x, bx), x1 = std::min<long>((long)c->vp_x + c->vp_w, (long)bx + bw);
  long y0 = std::max<long>(c->vp_y, by), y1 = std::min<long>((long)c->vp_y + c->vp_h, (long)by + bh);
  std::unordered_map<uint32_t, uint8_t> matched;
  for (long y = y0; y < y1; ++y) {
    long sy = y - by + c->backdrop_y;
    if (sy < 0 || sy >= b->height) continue;
    const unsigned char* src = b->pixels.data() + (size_t)sy * b->stride;
    uint8_t* dst = cam.row_table[y];
    for (long x = x0; x < x1; ++x) {
      long sx = (x - bx - c->backdrop_x) % b->width;
      if (sx < 0) sx += b->width;
      if (b->depth == 8) {
        dst[x] = map[src[sx]];
      } else {
        const unsigned char* p = src + sx * 3;
        uint32_t key = (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16;
        auto it = matched.find(key);
        if (it == matched.end()) {
          uint8_t rgb[3] = {p[2], p[1], p[0]};
          it = matched.emplace(key, (uint8_t)std::clamp(r->colour_to_palette_index(rgb), 0, 255)).first;
        }
        dst[x] = it->second;
      }
    }
  }
}

}  // namespace

VxVector camera_local(const VxCameraRec* c, VxVector p) {
  VxVector d{p.x - c->m.m[3][0], p.y - c->m.m[3][1], p.z - c->m.m[3][2]};
  return {dot(d, {c->m.m[0][0], c->m.m[0][1], c->m.m[0][2]}), dot(d, {c->m.m[1][0], c->m.m[1][1], c->m.m[1][2]}),
          dot(d, {c->m.m[2][0], c->m.m[2][1], c->m.m[2][2]})};
}

int frame_begin(VxCameraRec* c) {
  DeviceRecord* r = device_record();
  if (!r || !c->dev) return 1;
  DeviceCamera& cam = c->dev->cam;
  cam.near_clip = c->near_clip;
  cam.far_clip = kFar;
  // Depth (16.16) = 255 Dz / Z + 1: 32000 at the near plane, falling toward 1 far away;
  // the depth-bias bit may add 255 without leaving the positive 16.16 range.
  cam.depth_scale = 255.0f * 65536.0f;
  cam.depth_offset = c->near_clip * 31999.0f / 255.0f;
  cam.scale_x = (float)c->width * 65536.0f;
  cam.scale_y = (float)c->height * 65536.0f;
  cam.projection_flags = 1;
  c->frame_open = r->begin_frame && r->begin_frame(&cam, c->window) != 0;
  if (!c->frame_open) return 1;  // nothing can be drawn this frame (a lost surface)
  DeviceColour back{};
  back.red = (int32_t)std::lrint(std::clamp<VxReal>(c->back[0], 0, 1) * 65535);
  back.green = (int32_t)std::lrint(std::clamp<VxReal>(c->back[1], 0, 1) * 65535);
  back.blue = (int32_t)std::lrint(std::clamp<VxReal>(c->back[2], 0, 1) * 65535);
  if (r->colour_to_pixel) cam.background_pixel = r->colour_to_pixel(&back);
  if (r->palette_changed) r->palette_changed(&cam);
  DeviceRect vp{c->vp_x, c->vp_y, c->vp_w, c->vp_h};
  if (r->fill_rect) r->fill_rect(&cam, &vp);
  draw_backdrop(c, r);
  // The bands clear their own depth buffers.
  if (!bands_begin(c, r, device_library()) && r->clear_depth_rect) r->clear_depth_rect(&vp);
  return 1;
}

int frame_end(VxCameraRec* c) {
  DeviceRecord* r = device_record();
  if (!r || !c->dev) return 1;
  DeviceCamera& cam = c->dev->cam;
  bands_end(c);
  // The camera's image keeps a copy of the frame, with the device palette.
  if (c->frame_open && cam.row_table && r->raster_depth == 8 && c->image) {
    VxRasterRec* img = c->image;
    for (int y = 0; y < c->height && y < img->height; ++y)
      std::memcpy(img->pixels.data() + (size_t)y * img->stride, cam.row_table[y], (size_t)std::min(c->width, img->width));
    uint8_t rgb[256 * 4];
    if (r->get_palette_entries && r->get_palette_entries(0, 256, rgb))
      for (int i = 0; i < 256; ++i) {
        img->palette[i * 4] = rgb[i * 4 + 2];
        img->palette[i * 4 + 1] = rgb[i * 4 + 1];
        img->palette[i * 4 + 2] = rgb[i * 4];
        img->palette[i * 4 + 3] = 0;
      }
  }
  if (c->frame_open && r->end_frame) r->end_frame(&cam);
  c->frame_open = false;
  return 1;
}

void* frame_handle(const VxCameraRec* c) {
  DeviceRecord* r = device_record();
  if (!r || !c->dev || !c->dev->cam.device_handle || !r->get_info) return nullptr;
  int32_t dib_section = 0, surface = 0;
  r->get_info(kGetInfoDibSection, &dib_section, 4);
  r->get_info(kGetInfoSurfaceOutput, &surface, 4);
  return dib_section || surface ? c->dev->cam.device_handle : nullptr;
}

int frame_show(VxCameraRec* c, void* dc) {
  DeviceRecord* r = device_record();
  if (!r || !c->dev) return 1;
  if (!dc || !r->present) return fail(VX_E_BAD_ARGUMENT);
  DeviceRect vp{c->vp_x, c->vp_y, c->vp_w, c->vp_h};
  int32_t surface = 0;
  if (r->get_info) r->get_info(kGetInfoSurfaceOutput, &surface, 4);
  int32_t result = r->present(&c->dev->cam, &vp, static_cast<GdiDc*>(dc));
  // The surface output answers 0 for success, the window outputs non-zero.
  bool ok = surface ? result == 0 : result != 0;
  return ok ? 1 : fail(VX_E_IO);
}

int frame_render_scene(VxSceneRec* s) {
  VxCameraRec* c;
  DeviceRecord* r;
  if (!frame_ready(c, r)) return 1;
  Frame f = make_frame(c, r);
  f.lights = &s->lights;
  take_lighting(f);
  const size_t n = s->clumps.size();
  if (n > 1) prefetch_record(s->clumps[1]);
  for (size_t i = 0; i < n; ++i) {
    prefetch_ahead(s->clumps.data(), i, n);
    ancestor_chain(*f.b, s->clumps[i]);
    render_clump(f, s->clumps[i], 0);
  }
  if (f.banded) bands_draw();
  return 1;
}

void render_counts_reset() { std::memset(st().render_counts, 0, sizeof st().render_counts); }

int frame_render_clump(VxClumpRec* clump) {
  VxCameraRec* c;
  DeviceRecord* r;
  if (!frame_ready(c, r)) return 1;
  Frame f = make_frame(c, r);
  VxClumpRec* top = clump;
  for (int i = 0; top->parent && i < kMaxClumpDepth * 4; ++i) top = top->parent;
  if (top->scene) f.lights = &top->scene->lights;
  take_lighting(f);
  ancestor_chain(*f.b, clump);
  render_clump(f, clump, 0);
  if (f.banded) bands_draw();
  return 1;
}

}  // namespace vx

unsigned VxGetRenderCount(int bank, int slot, int position) {
  if (bank < 0 || bank >= VX_RENDER_BANKS || slot < 0 || slot >= VX_RENDER_SLOTS || position < 0 ||
      position >= VX_RENDER_POSITIONS)
    return 0;
  return vx::st().render_counts[bank][slot][position];
}

void VxResetRenderCounts(void) { vx::render_counts_reset(); }
