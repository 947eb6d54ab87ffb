#pragma once
// What the textured triangle families share before their own edge set-up: the pixel source
// (texels alone, through the polygon's shade row, or through the smooth shade table, with the
// screen door's opacity), and for the perspective families the triangle ordered top-down
// with its shape and edge slopes, the steps across a row and the flat-top edges.
#include <algorithm>
#include <climits>
#include <cstdint>

#include "driver/core/polygon_setup.h"
#include "driver/triangles/affine.h"

namespace textured {

enum class Px { kTexel, kLit, kSmooth };

// Sets the span state's shade row and opacity for the pixel kind; false when the triangle
// draws nothing (no shade tables, or an opacity no pixel passes).
template <Px kPx, bool kStipple>
[[gnu::always_inline]] inline bool PixelSource(SpanState& s, const DevicePolygon* polygon) {
  if constexpr (kPx == Px::kLit) {
    const uint8_t* row = LitRow(polygon);
    if (!row) return false;
    s.ShadeRow = row;
  }
  if constexpr (kPx == Px::kSmooth) {
    if (!ShadeTable) return false;
    s.ShadeRow = ShadeTable;
  }
  if constexpr (kStipple) {
    s.Opacity = polygon->material->opacity;
    if (s.Opacity == 0) return false;  // nothing passes the screen door
  }
  return true;
}

// A triangle ordered so that T is on top, N and P following in its winding, in whole pixels.
struct Ordered {
  const DeviceVertex *T, *N, *P;
  int32_t tx, ty, nx, ny, px, py;
  int32_t hN, hP;
  int shape;       // 0 general, 1 P on T's row, 2 N on T's row
  int32_t sN, sP;  // edge slopes T to N and T to P (shape 0 only)
};

// False when a vertex lies off the frame or the triangle is clockwise or has no area.
[[gnu::always_inline]] inline bool OrderTriangle(const DeviceVertex* a, const DeviceVertex* b,
                                                 const DeviceVertex* c, const polygon::Limits& lim, Ordered& t) {
  using namespace polygon;
  Order(a, b, c, t.T, t.N, t.P);
  t.tx = t.T->screen_x >> 16, t.ty = t.T->screen_y >> 16;
  t.nx = t.N->screen_x >> 16, t.ny = t.N->screen_y >> 16;
  t.px = t.P->screen_x >> 16, t.py = t.P->screen_y >> 16;
  if (!Inside(lim, t.tx, t.ty) || !Inside(lim, t.nx, t.ny) || !Inside(lim, t.px, t.py)) return false;
  t.hN = t.ny - t.ty, t.hP = t.py - t.ty;
  t.sN = t.sP = 0;
  if (t.hN > 0 && t.hP > 0) {
    t.shape = 0;
    t.sN = Slope(t.nx - t.tx, t.hN), t.sP = Slope(t.px - t.tx, t.hP);
    return static_cast<int64_t>(t.sP) - t.sN > 0;
  }
  if (t.hN > 0) {
    t.shape = 1;
    return t.px > t.tx;
  }
  t.shape = 2;
  return t.tx > t.nx && t.py > t.ny;
}

// Depth step across a row from the difference D of the two edges' row steps; the slope
// difference is positive here, bounded to 32 bits as in the affine set-up.
inline int32_t DepthStepAcross(int32_t D, int32_t sN, int32_t sP) {
  const int32_t X = static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(sP) - sN, INT32_MAX)) >> 6;
  return D != 0 && X != 0 ? static_cast<int32_t>(static_cast<uint32_t>(D / X) << 10) : D;
}

// 8.8 shade step across a row from the difference of the two edges' row steps.
inline int32_t ShadeStepAcross(int32_t diff, int32_t sN, int32_t sP) {
  const int64_t dx = static_cast<int64_t>(sP) - sN;
  return diff == 0 ? 0
                   : static_cast<int16_t>(static_cast<uint16_t>(
                         static_cast<int32_t>((static_cast<int64_t>(diff) * 65536) / dx)));
}

inline int32_t ShadeOf(const DeviceVertex& v) { return v.shade >> 8; }

// Row step of a depth along an edge: the difference for equal depths or one row.
inline int32_t DepthRow(int32_t za, int32_t zb, int32_t h) { return za == zb ? 0 : polygon::Step(za, zb, h); }

// Depth and shade of a flat top, followed from `from` along the top row to `to` (w columns)
// and down to b (h rows).
template <bool kDepth, bool kSmooth>
inline void FlatTopSteps(SpanState& s, const DeviceVertex& from, const DeviceVertex& to, const DeviceVertex& b,
                         int32_t h, int32_t w, int32_t bias) {
  using namespace polygon;
  if constexpr (kDepth) {
    s.Depth = Add(from.depth, bias);
    s.DepthRowStep = DepthRow(from.depth, b.depth, h);
    s.DepthStep = DepthRow(from.depth, to.depth, w);
  }
  if constexpr (kSmooth) {
    s.Shade = ShadeOf(from);
    s.ShadeRowStep = Step16(ShadeOf(from), ShadeOf(b), h);
    s.ShadeStep = Step16(ShadeOf(from), ShadeOf(to), w);
  }
}

// Edges of a flat top, from columns x1 (left) and x2 (right) down to column xb over h rows.
inline void FlatTopEdges(SpanState& s, int32_t x1, int32_t x2, int32_t xb, int32_t h) {
  using polygon::Slope;
  s.LeftX = static_cast<int32_t>(static_cast<uint32_t>(x1) << 16);
  s.RightX = static_cast<int32_t>(static_cast<uint32_t>(x2) << 16);
  s.LeftXStep = Slope(xb - x1, h);
  s.RightXStep = Slope(xb - x2, h);
}

}  // namespace textured
