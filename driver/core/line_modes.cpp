// Outlines, polylines and the edge drawers.
#include "driver/core/line_modes.h"

#include "driver/core/polygon_setup.h"

namespace {

using namespace polygon;

// Two vertices beyond the same plane of the view volume: the edge between them is hidden.
inline bool ShareClipBit(const DeviceVertex* a, const DeviceVertex* b) {
  return (a->clip_flags & b->clip_flags & 0x3F) != 0;
}

template <bool kDepth>
void Line(const DeviceVertex* a, const DeviceVertex* b, const DeviceMaterial* m, const int32_t* shade) {
  Limits lim;
  if (!a || !b || !m || !shade || !FrameLimits(kDepth, lim)) return;
  const int32_t colour = RampColour(RampWord(m->colour), *shade);
  if (colour < 0) return;
  constexpr int32_t kWhole = static_cast<int32_t>(0xFFFF0000u);
  int32_t x0 = a->screen_x & kWhole, y0 = a->screen_y & kWhole;
  int32_t x1 = b->screen_x & kWhole, y1 = b->screen_y & kWhole;
  if (!Inside(lim, x0 >> 16, y0 >> 16) || !Inside(lim, x1 >> 16, y1 >> 16)) return;
  const int32_t bias = (m->mode & kMaterialDepthBias) ? 0xFF0000 : 0;
  int32_t z0 = Add(a->depth, bias), z1 = Add(b->depth, bias);
  if (x1 < x0) {
    std::swap(x0, x1);
    std::swap(y0, y1);
    std::swap(z0, z1);
  }
  const int32_t W = lim.w << 16, H = lim.h << 16;
  // Guards that keep a line ending on the right or bottom border inside the frame.
  if (x1 == W) {
    if (x0 == W) return;
    const int32_t ady = y1 > y0 ? y1 - y0 : y0 - y1;
    if (ady > x1 - x0) x1 -= 1;
  }
  if (y0 == H || y1 == H) {
    if (y0 == y1) return;
    if (y0 == H)
      y0 -= 1;
    else if (y1 - y0 < x1 - x0)
      y1 -= 1;
  }
  const int32_t dx = x1 - x0, dy = y1 - y0;
  const int32_t nx = static_cast<int16_t>(dx >> 16), ny = static_cast<int16_t>(dy >> 16);
  int32_t n = std::max(nx, ny < 0 ? -ny : ny);
  int32_t xs = 0, ys = 0, zs = 0;
  if (n <= 0) {
    n = 1;
  } else {
    xs = dx / n;
    ys = dy / n;
    zs = Sub(z1, z0) / n;
  }
  const uint8_t c = static_cast<uint8_t>(colour);
  int32_t x = x0, y = y0, z = z0;
  for (; n > 0; --n) {
    const int32_t column = x >> 16, row = y >> 16;
    if constexpr (kDepth) {
      const uint16_t d = static_cast<uint16_t>(static_cast<uint32_t>(z) >> 16);
      uint16_t* cell = StepDepthRow(DepthBuffer, row * DepthBufferPitch) + column;
      const uint32_t mask = 0u - static_cast<uint32_t>(*cell <= d);
      *cell = static_cast<uint16_t>((*cell & ~mask) | (d & mask));
      uint8_t* px = FrameRows[row] + column;
      *px = static_cast<uint8_t>((*px & ~mask) | (c & mask));
      z = Add(z, zs);
    } else {
      FrameRows[row][column] = c;
    }
    x += xs;
    y += ys;
  }
}

using EdgeFn = void (*)(const DeviceVertex*, const DeviceVertex*, const DeviceMaterial*, const int32_t*);

template <bool kDepth>
constexpr EdgeFn kEdge = kDepth ? &DrawLineZ : &DrawLine;

template <bool kDepth, bool kSmooth>
int32_t Outline(DevicePolygon* polygon, int32_t flag) {
  if (!polygon) return 0;
  const int n = polygon->vertex_count;
  // Smooth outlines draw in the first vertex's shade, written back even when hidden.
  if (kSmooth && n >= 1) polygon->shade = polygon->vertices[0]->shade;
  const DeviceMaterial* m = polygon->material;
  if (!m || (!(m->mode & kMaterialTwoSided) && flag != 0) || n == 0) return 0;
  const DeviceVertex* prev = polygon->vertices[n - 1];
  for (int i = 0; i < n; ++i) {
    const DeviceVertex* cur = polygon->vertices[i];
    if (!ShareClipBit(prev, cur)) kEdge<kDepth>(cur, prev, m, &polygon->shade);
    prev = cur;
  }
  return 0;
}

template <bool kDepth, bool kSmooth>
int32_t Polyline(DevicePolygon* polygon, int32_t) {
  if (!polygon) return 0;
  const int n = polygon->vertex_count;
  if (kSmooth && n >= 1) polygon->shade = polygon->vertices[0]->shade;
  const DeviceMaterial* m = polygon->material;
  if (!m || n <= 1) return 0;
  DeviceVertex* const* v = polygon->vertices;
  int k = 0;
  for (; k <= n - 2; ++k)
    if (!ShareClipBit(v[k == 0 ? n - 1 : k - 1], v[k])) break;
  for (int j = k; j <= n - 2; ++j)
    if (!ShareClipBit(v[j], v[j + 1])) kEdge<kDepth>(v[j + 1], v[j], m, &polygon->shade);
  return 0;
}

}  // namespace

void DrawLine(const DeviceVertex* a, const DeviceVertex* b, const DeviceMaterial* m, const int32_t* shade) {
  Line<false>(a, b, m, shade);
}
void DrawLineZ(const DeviceVertex* a, const DeviceVertex* b, const DeviceMaterial* m, const int32_t* shade) {
  Line<true>(a, b, m, shade);
}

int32_t LinesFlat(DevicePolygon* p, int32_t flag) { return Outline<false, false>(p, flag); }
int32_t LinesFlatZ(DevicePolygon* p, int32_t flag) { return Outline<true, false>(p, flag); }
int32_t LinesSmooth(DevicePolygon* p, int32_t flag) { return Outline<false, true>(p, flag); }
int32_t LinesSmoothZ(DevicePolygon* p, int32_t flag) { return Outline<true, true>(p, flag); }
int32_t PolylineFlat(DevicePolygon* p, int32_t flag) { return Polyline<false, false>(p, flag); }
int32_t PolylineFlatZ(DevicePolygon* p, int32_t flag) { return Polyline<true, false>(p, flag); }
int32_t PolylineSmooth(DevicePolygon* p, int32_t flag) { return Polyline<false, true>(p, flag); }
int32_t PolylineSmoothZ(DevicePolygon* p, int32_t flag) { return Polyline<true, true>(p, flag); }
