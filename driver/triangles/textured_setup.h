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

// How both perspective families begin: the triangle ordered and its pixel source set; its
// texels, or null when it draws nothing.
template <bool kDepth, Px kPx, bool kStipple>
[[gnu::always_inline]] inline const uint8_t* PerspBegin(SpanState& s, const DevicePolygon* polygon,
                                                        const DeviceVertex* a, const DeviceVertex* b,
                                                        const DeviceVertex* c, Ordered& t) {
  const uint8_t* texels = TexelsOf(polygon);
  if (!texels || !polygon->material) return nullptr;
  polygon::Limits lim;
  if (!polygon::FrameLimits(kDepth, lim)) return nullptr;
  if (!OrderTriangle(a, b, c, lim, t)) return nullptr;
  return PixelSource<kPx, kStipple>(s, polygon) ? texels : nullptr;
}

// The texels, the frame row and the depth row of the top vertex's row; the depth bias.
template <bool kDepth>
[[gnu::always_inline]] inline int32_t PerspRows(SpanState& s, const DevicePolygon* polygon, const uint8_t* texels,
                                                const Ordered& t) {
  s.Texels = texels;
  s.RowPitch = FramePitch;
  s.RowAddress = FrameRows[t.ty];
  const int32_t bias = kDepth && (polygon->material->mode & kMaterialDepthBias) ? 0xFF0000 : 0;
  if constexpr (kDepth) {
    s.DepthRowAddress = StepDepthRow(DepthBuffer, t.ty * DepthBufferPitch);
    s.DepthPitch = DepthBufferPitch;
    s.DepthBias = bias;
  }
  return bias;
}

// The walk down a perspective triangle that both perspective families take: the rows from
// the top vertex to the nearer of N and P, then on to the farther one, or a flat top.
// left(s, a, b, h) and right(s, a, b, h) set an edge's perspective values from vertex a to
// b (0 T, 1 N, 2 P) over h rows. Depth and shade follow the edge the spans start from:
// the left one, or the right one when dir is 1.
template <bool kDepth, bool kSmooth, class Left, class Right>
[[gnu::always_inline]] inline void PerspWalk(SpanState& s, const Ordered& t, int dir, int32_t bias, Left left,
                                             Right right, SpanRoutine fill) {
  using namespace polygon;
  const DeviceVertex *T = t.T, *N = t.N, *P = t.P;
  const int32_t hN = t.hN, hP = t.hP, sN = t.sN, sP = t.sP;
  if (t.shape == 0) {
    s.LeftX = s.RightX = static_cast<int32_t>(static_cast<uint32_t>(t.tx) << 16);
    s.LeftXStep = sN;
    s.RightXStep = sP;
    left(s, 0, 1, hN);
    right(s, 0, 2, hP);
    if constexpr (kDepth) {
      const int32_t dN = DepthRow(T->depth, N->depth, hN), dP = DepthRow(T->depth, P->depth, hP);
      const int32_t follow = dir ? dP : dN, other = dir ? dN : dP;
      s.Depth = Add(T->depth, bias);
      s.DepthRowStep = follow;
      s.DepthStep = DepthStepAcross(Sub(other, follow), sN, sP);
    }
    if constexpr (kSmooth) {
      const int32_t st = ShadeOf(*T);
      const int32_t row = dir ? Step16(st, ShadeOf(*P), hP) : Step16(st, ShadeOf(*N), hN);
      const int32_t other = dir ? Step16Uncut(st, ShadeOf(*N), hN) : Step16Uncut(st, ShadeOf(*P), hP);
      s.Shade = st;
      s.ShadeRowStep = row;
      s.ShadeStep = ShadeStepAcross(other - row, sN, sP);
    }
    s.RowCount = std::min(hN, hP);
    fill(&s);
    if (hN == hP) return;
    if (hN < hP) {  // the left edge ended at N: N to P
      const int32_t h = hP - hN;
      s.LeftX = static_cast<int32_t>(static_cast<uint32_t>(t.nx) << 16);
      s.LeftXStep = Slope(t.px - t.nx, h);
      left(s, 1, 2, h);
      if (!dir) {
        if constexpr (kDepth) s.DepthRowStep = DepthRow(N->depth, P->depth, h);
        if constexpr (kSmooth) s.ShadeRowStep = Step16(ShadeOf(*N), ShadeOf(*P), h);
      }
      s.RowCount = h;
    } else {  // the right edge ended at P: P to N
      const int32_t h = hN - hP;
      s.RightX = static_cast<int32_t>(static_cast<uint32_t>(t.px) << 16);
      s.RightXStep = Slope(t.nx - t.px, h);
      right(s, 2, 1, h);
      if (dir) {
        if constexpr (kDepth) s.DepthRowStep = DepthRow(P->depth, N->depth, h);
        if constexpr (kSmooth) s.ShadeRowStep = Step16(ShadeOf(*P), ShadeOf(*N), h);
      }
      s.RowCount = h;
    }
    fill(&s);
    return;
  }
  // Flat tops: edge 1 from E1 and edge 2 from E2 down to the vertex below, B.
  const DeviceVertex* V[3] = {T, N, P};
  const int e1 = t.shape == 1 ? 0 : 1, e2 = t.shape == 1 ? 2 : 0, eb = t.shape == 1 ? 1 : 2;
  const DeviceVertex &E1 = *V[e1], &E2 = *V[e2], &B = *V[eb];
  const int32_t x1 = E1.screen_x >> 16, x2 = E2.screen_x >> 16;
  const int32_t h = (B.screen_y >> 16) - t.ty, w = x2 - x1;
  FlatTopEdges(s, x1, x2, B.screen_x >> 16, h);
  left(s, e1, eb, h);
  right(s, e2, eb, h);
  FlatTopSteps<kDepth, kSmooth>(s, dir ? E2 : E1, dir ? E1 : E2, B, h, w, bias);
  s.RowCount = h;
  fill(&s);
}

// A handler of the table: the family's triangle set-up with its span filler.
#define TEXTURED_HANDLER(triangle, name, size, depth, px, stipple, fill)      \
  void name(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) { \
    triangle<size, depth, px, stipple>(p, a, b, c, &fill);                         \
  }

}  // namespace textured
