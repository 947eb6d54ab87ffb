// Fixed-point perspective handlers: normalised weights q from the three view depths, per
// edge q, u·q and v·q with their row steps, the walking direction from the orientation
// test, and depth and shade followed along the edge the spans start from.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>

#include "driver/core/polygon_setup.h"
#include "driver/spans/persp_fixed.h"
#include "driver/triangles/affine.h"
#include "driver/triangles/handler_table.h"
#include "driver/triangles/handlers.h"
#include "driver/triangles/textured_setup.h"

namespace {

using namespace polygon;
using namespace textured;

// Number of significant bits of a 16-bit value; the table for its byte range.
inline int32_t BitLength16(uint32_t v) {
  return v < 256 ? BitLengthTable[v] : 8 + BitLengthTable[(v >> 8) & 0xFFu];
}

// Weights of T, N, P: each the product of the other two view depths, normalised together
// so that the largest lies in [2^30, 2^31); none below 1.0.
void Weights(SpanState& s) {
  const float* w = s.PerspTriW;
  s.PerspTriG[0] = w[1] * w[2];
  s.PerspTriG[1] = w[2] * w[0];
  s.PerspTriG[2] = w[0] * w[1];
  uint32_t bits[3];
  uint32_t top = 0;
  for (int i = 0; i < 3; ++i) {
    bits[i] = std::bit_cast<uint32_t>(s.PerspTriG[i]);
    top = std::max(top, bits[i]);
  }
  const int32_t e_max = static_cast<int32_t>((top >> 23) & 0xFFu);
  for (int i = 0; i < 3; ++i) {
    const int32_t shift = e_max - static_cast<int32_t>((bits[i] >> 23) & 0xFFu);
    const uint32_t mant = (bits[i] & 0x7FFFFFu) | 0x800000u;
    // A shift past the word (or a sign-bit pattern out of order) leaves nothing: the floor.
    uint32_t q = shift >= 0 && shift < 32 ? (mant >> shift) << 7 : 0;
    if ((q >> 16) == 0) q = 0x10000;
    s.PerspTriQ[i] = q;
  }
}

struct Block {
  int32_t q, q_step, shift;
  uint32_t uq, vq;
  int32_t uq_step, vq_step;
};

// q, u·q and v·q of an edge from vertex index a to b over h rows.
Block EdgeBlock(const SpanState& s, int a, int b, int32_t h) {
  Block k{};
  const int32_t qa = static_cast<int32_t>(s.PerspTriQ[a]), qb = static_cast<int32_t>(s.PerspTriQ[b]);
  const int32_t dq = Sub(qb, qa);
  const int32_t r = dq >= 0 ? (h >> 1) : -(h >> 1);
  k.q = qa;
  // The rounded difference of two weights fits 32 bits unless the edge is very tall.
  int32_t rounded;
  if (__builtin_add_overflow(dq, r, &rounded))
    k.q_step = static_cast<int32_t>((static_cast<int64_t>(dq) + r) / h);
  else
    k.q_step = rounded / h;
  // The shift keeps u >> shift below 2^15 for coordinates below 256.0. It is taken from the
  // magnitudes, so a coordinate outside 0..256 (negative, or larger) neither indexes past the
  // bit-length table nor overflows the products; inside that range nothing changes.
  auto mag = [](int32_t c) { return c < 0 ? 0u - static_cast<uint32_t>(c) : static_cast<uint32_t>(c); };
  const uint32_t all = mag(s.PerspTriU[a]) | mag(s.PerspTriV[a]) | mag(s.PerspTriU[b]) | mag(s.PerspTriV[b]);
  k.shift = 1 + BitLength16(all >> 16);
  const int64_t fa = static_cast<int64_t>(static_cast<uint32_t>(qa) >> 16);
  const int64_t fb = static_cast<int64_t>(static_cast<uint32_t>(qb) >> 16);
  auto prod = [&](int32_t c, int64_t f) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(c >> k.shift) * f));
  };
  const int32_t ua = prod(s.PerspTriU[a], fa), va = prod(s.PerspTriV[a], fa);
  k.uq = static_cast<uint32_t>(ua);
  k.vq = static_cast<uint32_t>(va);
  k.uq_step = Sub(prod(s.PerspTriU[b], fb), ua) / h;
  k.vq_step = Sub(prod(s.PerspTriV[b], fb), va) / h;
  return k;
}

void SetLeft(SpanState& s, const Block& k) {
  s.LeftQ = k.q, s.LeftQStep = k.q_step, s.LeftShift = k.shift;
  s.LeftUQ = k.uq, s.LeftUQStep = k.uq_step, s.LeftVQ = k.vq, s.LeftVQStep = k.vq_step;
}
void SetRight(SpanState& s, const Block& k) {
  s.RightQ = k.q, s.RightQStep = k.q_step, s.RightShift = k.shift;
  s.RightUQ = k.uq, s.RightUQStep = k.uq_step, s.RightVQ = k.vq, s.RightVQStep = k.vq_step;
}

template <int kSize, bool kDepth, Px kPx, bool kStipple>
void FixedTriangle(DevicePolygon* polygon, const DeviceVertex* a, const DeviceVertex* b, const DeviceVertex* c,
                   SpanRoutine fill) {
  SpanState& s = SpanStateBlock;
  Ordered t;
  const uint8_t* texels = PerspBegin<kDepth, kPx, kStipple>(s, polygon, a, b, c, t);
  if (!texels) return;
  const DeviceVertex *T = t.T, *N = t.N, *P = t.P;
  const DeviceVertex* V[3] = {T, N, P};
  constexpr int kShiftDown = kSize == 16 ? 3 : 0;
  for (int i = 0; i < 3; ++i) {
    s.PerspTriU[i] = V[i]->u >> kShiftDown;
    s.PerspTriV[i] = V[i]->v >> kShiftDown;
    s.PerspTriW[i] = V[i]->view_z;
  }
  Weights(s);
  const int dir = TriangleOrientation(T, N, P) == 0 ? 1 : 0;
  s.PerspDirection = dir;
  const uint32_t* seeds = FrameDitherRows[dir ? 3 : 1] ? FrameDitherRows[dir ? 3 : 1] : DitherMatrices[dir ? 3 : 1];
  s.RowSeed = seeds[t.ty & 7];
  EnsureDitherRow(s);
  if (!s.DitherRowX2) s.DitherRowX2 = FrameDitherRows[2] ? FrameDitherRows[2] : DitherMatrices[2];
  const int32_t bias = PerspRows<kDepth>(s, polygon, texels, t);
  if constexpr (!kDepth) {
    s.DepthRowAddress = nullptr;
    s.DepthPitch = 0;
    s.Depth = s.DepthRowStep = s.DepthStep = 0;
  }
  if constexpr (kPx != Px::kSmooth) s.Shade = s.ShadeRowStep = s.ShadeStep = 0;
  PerspWalk<kDepth, kPx == Px::kSmooth>(
      s, t, dir, bias,
      [](SpanState& e, int from, int to, int32_t h) { SetLeft(e, EdgeBlock(e, from, to, h)); },
      [](SpanState& e, int from, int to, int32_t h) { SetRight(e, EdgeBlock(e, from, to, h)); }, fill);
}

}  // namespace

#define FIXED_HANDLER(...) TEXTURED_HANDLER(FixedTriangle, __VA_ARGS__)

FIXED_HANDLER(TriTexturedPerspFixedDither, 128, false, Px::kTexel, false, SpanPerspFixedDither)
FIXED_HANDLER(TriTexturedPerspFixedDitherLit, 128, false, Px::kLit, false, SpanPerspFixedDitherLit)
FIXED_HANDLER(TriTexturedPerspFixedDitherZ, 128, true, Px::kTexel, false, SpanPerspFixedDitherZ)
FIXED_HANDLER(TriTexturedPerspFixedDitherLitZ, 128, true, Px::kLit, false, SpanPerspFixedDitherLitZ)
FIXED_HANDLER(TriTexturedPerspFixedDitherSmooth, 128, false, Px::kSmooth, false, SpanPerspFixedDitherSmooth)
FIXED_HANDLER(TriTexturedPerspFixedStippleZ, 128, true, Px::kTexel, true, SpanPerspFixedStippleZ)
FIXED_HANDLER(TriTexturedPerspFixedStippleSmoothZ, 128, true, Px::kSmooth, true, SpanPerspFixedStippleSmoothZ)
FIXED_HANDLER(TriTextured16PerspFixedDither, 16, false, Px::kTexel, false, SpanPerspFixed16Dither)
FIXED_HANDLER(TriTextured16PerspFixedDitherLit, 16, false, Px::kLit, false, SpanPerspFixed16DitherLit)
FIXED_HANDLER(TriTextured16PerspFixedDitherZ, 16, true, Px::kTexel, false, SpanPerspFixed16DitherZ)
FIXED_HANDLER(TriTextured16PerspFixedDitherLitZ, 16, true, Px::kLit, false, SpanPerspFixed16DitherLitZ)
FIXED_HANDLER(TriTextured16PerspFixedStippleZ, 16, true, Px::kTexel, true, SpanPerspFixed16StippleZ)
FIXED_HANDLER(TriTextured16PerspFixedStippleSmoothZ, 16, true, Px::kSmooth, true, SpanPerspFixed16StippleSmoothZ)

#undef FIXED_HANDLER
