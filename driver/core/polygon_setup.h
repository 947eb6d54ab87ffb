#pragma once
// The triangle set-up that every polygon mode and every textured handler shares: vertex
// ordering, integer edges, the winding cull, edge slopes, the two sections and the calls of
// the span routine. What a family interpolates (depth, 8.8 shade, packed u|v, ...) is a set
// of small parts with four hooks each, combined at compile time, so the set-up is written
// once and the span loops stay free of flag tests.
#include <algorithm>
#include <cstdint>
#include <tuple>
#include <type_traits>

#include "driver/core/context.h"
#include "driver/core/depth.h"
#include "driver/core/shade.h"
#include "driver/records.h"
#include "driver/spans/fixed.h"
#include "driver/spans/span_state.h"

namespace polygon {

// 32-bit wrapping arithmetic: engine values are used as they come, never trapped on.
inline int32_t Add(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t Sub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// (q1 - q0) / h: h = 2 shifts (rounding toward minus infinity), others truncate.
inline int32_t Step(int32_t q0, int32_t q1, int32_t h) {
  const int32_t d = Sub(q1, q0);
  if (h == 1) return d;
  if (h == 2) return d >> 1;
  return d / h;
}

// Step over the low 16 bits as unsigned numbers, cut to 16 bits and sign-extended.
inline int32_t Step16Uncut(int32_t q0, int32_t q1, int32_t h) {
  const int32_t d = static_cast<int32_t>(q1 & 0xFFFF) - static_cast<int32_t>(q0 & 0xFFFF);
  if (h == 1) return d;
  if (h == 2) return d >> 1;
  return d / h;
}
inline int32_t Step16(int32_t q0, int32_t q1, int32_t h) {
  return static_cast<int16_t>(static_cast<uint16_t>(Step16Uncut(q0, q1, h)));
}

// (dx x 65536) / h truncated toward zero. Frame columns are below 2^15, so the product fits
// 32 bits and one division gives what the shifts for h = 1 and 2 and QuotientTable give,
// without branching on the edge's size.
[[gnu::always_inline]] inline int32_t Slope(int32_t dx, int32_t h) {
  if (h > 0 && dx >= -32768 && dx <= 32767) return static_cast<int32_t>(static_cast<uint32_t>(dx) << 16) / h;
  if (h == 1) return static_cast<int32_t>(static_cast<uint32_t>(dx) << 16);
  if (h == 2) return static_cast<int32_t>(static_cast<uint32_t>(dx) << 15);
  return static_cast<int32_t>((static_cast<int64_t>(dx) * 65536) / h);
}

// Packed texel coordinate: v in bits 16-30, u in bits 0-14, 7.8 texels each.
inline uint32_t PackUv(int32_t u, int32_t v) {
  return ((static_cast<uint32_t>(v) & 0xFFFEu) << 15) | ((static_cast<uint32_t>(u) & 0xFFFEu) >> 1);
}

// Per-pixel depth step of the general case: the slope difference shifted down by 6 and the
// quotient back up by 10 keep the division within 32 bits.
inline int32_t DepthPixelStep(int32_t dN, int32_t dP, int32_t D) {
  const int32_t diff = Sub(dP, dN);
  if (diff == 0) return 0;
  const int32_t d6 = D >> 6;
  if (d6 == 0) return diff;
  return static_cast<int32_t>(static_cast<uint32_t>(diff / d6) << 10);
}

// Shade levels are bounded to 0..31.0 before they select a table row.
inline int32_t ClampShade(int32_t s) { return s < 0 ? 0 : (s > 0x1F0000 ? 0x1F0000 : s); }

// A colour word whose row lies past the grey row (the last) falls back to the grey row.
inline uint32_t RampWord(uint32_t w) {
  return (w & 0xFFE0u) > kColourRampGreyRow ? static_cast<uint32_t>(kColourRampGreyRow) : w;
}

// The shade level that makes every ramp row, reversed or not, read as level s.
inline int32_t RampLevel(uint32_t w, int32_t s) {
  s = ClampShade(s);
  return ((w & 0x20u) ? 0x1F0000 - s : s) >> 16;
}

// Shade-ramp colour of a flat primitive; -1 without a ColourRampTable.
inline int32_t RampColour(uint32_t w, int32_t s) {
  if (!ColourRampTable) return -1;
  w = RampWord(w);
  return ColourRampTable[(w & 0xFFE0u) + static_cast<uint32_t>(RampLevel(w, s))];
}

// 8.8 smooth shade of a vertex: integer part (w AND 0xE0) + level.
inline int32_t SmoothValue(uint32_t w, int32_t s) {
  s = ClampShade(s);
  const int32_t m = (w & 0x20u) ? 0x1F0000 - s : s;
  return static_cast<int32_t>(((w & 0xE0u) << 8) + static_cast<uint32_t>(m >> 8));
}

// The 256-byte block of ColourRampTable that the smooth modes index; null without a table.
// The last block reaches past the table's end, so it is read from a copy padded with the
// row's brightest level (indexes above) and its darkest (indexes that wrapped below 0).
const uint8_t* RampBlock(uint32_t w);

// Frame limits of one triangle: vertices may lie on columns 0..w and rows 0..h.
struct Limits {
  int32_t w = 0;
  int32_t h = 0;
};
// False when there is nothing to draw into (no frame, or no depth buffer for a depth mode).
// With depth the limits are those of the frame and the depth buffer together. Inline: every
// triangle asks.
inline bool FrameLimits(bool depth, Limits& out) {
  if (!FrameRows || FrameLimitX <= 0 || FrameLimitY <= 0) return false;
  out.w = FrameLimitX >> 16;
  out.h = FrameLimitY >> 16;
  if (depth) {
    if (!DepthBuffer || DepthBufferPitch <= 0 || DepthHeight <= 0) return false;
    out.w = std::min(out.w, DepthBufferPitch / 2);
    out.h = std::min(out.h, DepthHeight);
  }
  return out.w > 0 && out.h > 0;
}

inline bool Inside(const Limits& lim, int32_t x, int32_t y) {
  return static_cast<uint32_t>(x) <= static_cast<uint32_t>(lim.w) &&
         static_cast<uint32_t>(y) <= static_cast<uint32_t>(lim.h);
}

// Rotates (a, b, c), keeping the winding, so that t has the smallest screen y.
inline void Order(const DeviceVertex* a, const DeviceVertex* b, const DeviceVertex* c, const DeviceVertex*& t,
                  const DeviceVertex*& n, const DeviceVertex*& p) {
  const int32_t ay = a->screen_y, by = b->screen_y, cy = c->screen_y;
  if (ay <= by && ay <= cy) {
    t = a, n = b, p = c;
  } else if (ay > by) {
    if (by < cy)
      t = b, n = c, p = a;
    else
      t = c, n = a, p = b;
  } else {
    t = c, n = a, p = b;
  }
}

// y-seed entry of a row; falls back to the pattern itself before any frame began.
inline uint32_t RowSeedOf(int32_t row) {
  const uint32_t* seeds = FrameDitherRows[1] ? FrameDitherRows[1] : DitherMatrices[1];
  return seeds[row & 7];
}
// The x-dither row the noise spans read.
inline void EnsureDitherRow(SpanState& s) {
  if (!s.DitherRowX) s.DitherRowX = FrameDitherRows[0] ? FrameDitherRows[0] : DitherMatrices[0];
}

// ---------------------------------------------------------------------------------------
// Parts. Hooks: Begin (fields of the top row), General (start at T, row steps along T-N,
// pixel steps from the slope difference D), FlatTop (start at l, row steps l-e over h,
// pixel steps l-r over w), LeftRestart (row steps n-p over h, the lower left edge).

struct NoPart {
  void Begin(SpanState&, int32_t) {}
  void General(SpanState&, const DeviceVertex&, const DeviceVertex&, const DeviceVertex&, int32_t, int32_t,
               int32_t) {}
  void FlatTop(SpanState&, const DeviceVertex&, const DeviceVertex&, const DeviceVertex&, int32_t, int32_t) {}
  void LeftRestart(SpanState&, const DeviceVertex&, const DeviceVertex&, int32_t) {}
};

// 16.16 depth with the material's bias.
struct DepthPart {
  int32_t bias = 0;
  explicit DepthPart(const DeviceMaterial* m) : bias((m->mode & kMaterialDepthBias) ? 0xFF0000 : 0) {}
  void Begin(SpanState& s, int32_t ty) {
    s.DepthRowAddress = StepDepthRow(DepthBuffer, ty * DepthBufferPitch);
    s.DepthPitch = DepthBufferPitch;
    s.DepthBias = bias;
  }
  void General(SpanState& s, const DeviceVertex& t, const DeviceVertex& n, const DeviceVertex& p, int32_t hN,
               int32_t hP, int32_t D) {
    const int32_t dN = Step(t.depth, n.depth, hN), dP = Step(t.depth, p.depth, hP);
    s.DepthRowStep = dN;
    s.DepthStep = DepthPixelStep(dN, dP, D);
    s.Depth = Add(t.depth, bias);
  }
  void FlatTop(SpanState& s, const DeviceVertex& l, const DeviceVertex& r, const DeviceVertex& e, int32_t h,
               int32_t w) {
    s.DepthStep = Step(l.depth, r.depth, w);
    s.DepthRowStep = Step(l.depth, e.depth, h);
    s.Depth = Add(l.depth, bias);
  }
  void LeftRestart(SpanState& s, const DeviceVertex& n, const DeviceVertex& p, int32_t h) {
    s.DepthRowStep = Step(n.depth, p.depth, h);
  }
};

// 8.8 shade of the untextured smooth modes, in Interp.
struct SmoothPart {
  uint32_t word;
  explicit SmoothPart(uint32_t w) : word(w) {}
  int32_t Sv(const DeviceVertex& v) const { return SmoothValue(word, v.shade); }
  void Begin(SpanState&, int32_t) {}
  void General(SpanState& s, const DeviceVertex& t, const DeviceVertex& n, const DeviceVertex& p, int32_t hN,
               int32_t hP, int32_t D) {
    const int32_t gN = Step16(Sv(t), Sv(n), hN);
    const int32_t gP = Step16Uncut(Sv(t), Sv(p), hP);
    s.InterpRowStep = static_cast<uint32_t>(gN);
    const int32_t diff = gP - gN;
    int32_t step = 0;
    if (diff != 0) {
      const int32_t q = static_cast<int32_t>(static_cast<uint32_t>(diff) << 16) / D;
      step = static_cast<int16_t>(static_cast<uint16_t>(q));
    }
    s.InterpStep = static_cast<uint32_t>(step);
    s.Interp = static_cast<uint32_t>(Sv(t));
  }
  void FlatTop(SpanState& s, const DeviceVertex& l, const DeviceVertex& r, const DeviceVertex& e, int32_t h,
               int32_t w) {
    s.InterpStep = static_cast<uint32_t>(Step16(Sv(l), Sv(r), w));
    s.InterpRowStep = static_cast<uint32_t>(Step16(Sv(l), Sv(e), h));
    s.Interp = static_cast<uint32_t>(Sv(l));
  }
  void LeftRestart(SpanState& s, const DeviceVertex& n, const DeviceVertex& p, int32_t h) {
    s.InterpRowStep = static_cast<uint32_t>(Step16(Sv(n), Sv(p), h));
  }
};

// The row seed of the noise spans, from the top row.
struct SeedPart : NoPart {
  void Begin(SpanState& s, int32_t ty) {
    s.RowSeed = RowSeedOf(ty);
    EnsureDitherRow(s);
  }
};

// Affine texture coordinates, packed u|v in Interp.
struct PackedUvPart : NoPart {
  void General(SpanState& s, const DeviceVertex& t, const DeviceVertex& n, const DeviceVertex& p, int32_t hN,
               int32_t hP, int32_t D) {
    const int32_t dUN = Step(t.u, n.u, hN), dVN = Step(t.v, n.v, hN);
    const int32_t dUP = Step(t.u, p.u, hP), dVP = Step(t.v, p.v, hP);
    s.InterpRowStep = PackUv(dUN, dVN);
    s.InterpStep = PackUv(FixedDivSat(Sub(dUP, dUN), D), FixedDivSat(Sub(dVP, dVN), D));
    s.Interp = PackUv(t.u, t.v);
  }
  void FlatTop(SpanState& s, const DeviceVertex& l, const DeviceVertex& r, const DeviceVertex& e, int32_t h,
               int32_t w) {
    s.InterpStep = PackUv(Step(l.u, r.u, w), Step(l.v, r.v, w));
    s.InterpRowStep = PackUv(Step(l.u, e.u, h), Step(l.v, e.v, h));
    s.Interp = PackUv(l.u, l.v);
  }
  void LeftRestart(SpanState& s, const DeviceVertex& n, const DeviceVertex& p, int32_t h) {
    s.InterpRowStep = PackUv(Step(n.u, p.u, h), Step(n.v, p.v, h));
  }
};

// Several parts as one (a part may appear more than once, NoPart in particular).
template <class... P>
struct Parts {
  std::tuple<P...> parts;
  explicit Parts(P... p) : parts(p...) {}
  void Begin(SpanState& s, int32_t ty) {
    std::apply([&](auto&... x) { (x.Begin(s, ty), ...); }, parts);
  }
  void General(SpanState& s, const DeviceVertex& t, const DeviceVertex& n, const DeviceVertex& p, int32_t hN,
               int32_t hP, int32_t D) {
    std::apply([&](auto&... x) { (x.General(s, t, n, p, hN, hP, D), ...); }, parts);
  }
  void FlatTop(SpanState& s, const DeviceVertex& l, const DeviceVertex& r, const DeviceVertex& e, int32_t h,
               int32_t w) {
    std::apply([&](auto&... x) { (x.FlatTop(s, l, r, e, h, w), ...); }, parts);
  }
  void LeftRestart(SpanState& s, const DeviceVertex& n, const DeviceVertex& p, int32_t h) {
    std::apply([&](auto&... x) { (x.LeftRestart(s, n, p, h), ...); }, parts);
  }
};

// make() when on, else a part that does nothing.
template <bool kOn, class F>
auto PartIf(F make) {
  if constexpr (kOn)
    return make();
  else
    return NoPart{};
}

// Edges of a flat top, from columns x1 (left) and x2 (right) down to column xb over h rows.
inline void FlatTopEdges(SpanState& s, int32_t x1, int32_t x2, int32_t xb, int32_t h) {
  s.LeftX = static_cast<int32_t>(static_cast<uint32_t>(x1) << 16);
  s.RightX = static_cast<int32_t>(static_cast<uint32_t>(x2) << 16);
  s.LeftXStep = Slope(xb - x1, h);
  s.RightXStep = Slope(xb - x2, h);
}

// The shared set-up. Every vertex must lie on the frame (columns 0..w, rows 0..h of lim):
// the engine clips, and a triangle that still reaches outside is left out whole, so the
// span loops never need a bounds test. Fill is called once or twice.
template <class A>
void SetupTriangle(A& parts, const DeviceVertex* a, const DeviceVertex* b, const DeviceVertex* c,
                   const Limits& lim, SpanRoutine fill) {
  const DeviceVertex *t, *n, *p;
  Order(a, b, c, t, n, p);
  const int32_t tx = t->screen_x >> 16, ty = t->screen_y >> 16;
  const int32_t nx = n->screen_x >> 16, ny = n->screen_y >> 16;
  const int32_t px = p->screen_x >> 16, py = p->screen_y >> 16;
  if (!Inside(lim, tx, ty) || !Inside(lim, nx, ny) || !Inside(lim, px, py)) return;
  const int32_t hN = ny - ty, hP = py - ty;
  SpanState& s = SpanStateBlock;

  if (hN > 0 && hP > 0) {
    const int32_t sN = Slope(nx - tx, hN), sP = Slope(px - tx, hP);
    const int64_t d64 = static_cast<int64_t>(sP) - sN;
    if (d64 <= 0) return;  // clockwise on screen, or no area
    const int32_t D = d64 > INT32_MAX ? INT32_MAX : static_cast<int32_t>(d64);
    s.RowAddress = FrameRows[ty];
    s.RowPitch = FramePitch;
    parts.Begin(s, ty);
    s.LeftX = s.RightX = static_cast<int32_t>(static_cast<uint32_t>(tx) << 16);
    s.LeftXStep = sN;
    s.RightXStep = sP;
    parts.General(s, *t, *n, *p, hN, hP, D);
    s.RowCount = std::min(hN, hP);
    fill(&s);
    if (hN < hP) {
      s.LeftX = static_cast<int32_t>(static_cast<uint32_t>(nx) << 16);
      s.LeftXStep = Slope(px - nx, hP - hN);
      parts.LeftRestart(s, *n, *p, hP - hN);
      s.RowCount = hP - hN;
      fill(&s);
    } else if (hN > hP) {
      s.RightX = static_cast<int32_t>(static_cast<uint32_t>(px) << 16);
      s.RightXStep = Slope(nx - px, hN - hP);
      s.RowCount = hN - hP;
      fill(&s);
    }
    return;
  }
  // A flat top: the top row from l to r, both edges down to e over h rows.
  auto flat_top = [&](const DeviceVertex& l, const DeviceVertex& r, const DeviceVertex& e, int32_t h) {
    const int32_t xl = l.screen_x >> 16, xr = r.screen_x >> 16;
    s.RowAddress = FrameRows[ty];
    s.RowPitch = FramePitch;
    parts.Begin(s, ty);
    FlatTopEdges(s, xl, xr, e.screen_x >> 16, h);
    parts.FlatTop(s, l, r, e, h, xr - xl);
    s.RowCount = h;
    fill(&s);
  };
  if (hN > 0) {  // P on T's row
    if (px <= tx) return;
    flat_top(*t, *p, *n, hN);
    return;
  }
  // N on T's row.
  if (tx <= nx) return;
  const int32_t h = py - ny;
  if (h <= 0) return;
  flat_top(*n, *t, *p, h);
}

}  // namespace polygon
