// Floating-point perspective handlers: per vertex the weight W (the product of the other two
// view depths, so proportional to 1/w) and U = u·W, V = v·W in texels; per edge those three
// with their row steps. Depth and shade follow the left edge; rows are walked left to right.
#include <algorithm>
#include <cfloat>
#include <climits>
#include <cstdint>

#include "driver/core/polygon_setup.h"
#include "driver/spans/persp_float.h"
#include "driver/triangles/affine.h"
#include "driver/triangles/handlers.h"
#include "driver/triangles/textured_setup.h"

namespace {

using namespace polygon;
using namespace textured;

struct Weighted {
  float w, u, v;
};

// 1/h for the edge heights a frame has, the same single-precision values a division gives;
// they free the divider for the integer steps of the same triangle.
constexpr int kReciprocals = 1024;
struct Reciprocals {
  float r[kReciprocals];
  constexpr Reciprocals() : r{} {
    for (int h = 1; h < kReciprocals; ++h) r[h] = 1.0f / static_cast<float>(h);
  }
};
constexpr Reciprocals kReciprocal;
[[gnu::always_inline]] inline float Reciprocal(int32_t h) {
  return h > 0 && h < kReciprocals ? kReciprocal.r[h] : 1.0f / static_cast<float>(h);
}

[[gnu::always_inline]] inline void SetLeft(SpanState& s, const Weighted& a, const Weighted& b, int32_t h) {
  const float r = Reciprocal(h);
  s.LeftW = a.w, s.LeftWStep = (b.w - a.w) * r;
  s.LeftU = a.u, s.LeftUStep = (b.u - a.u) * r;
  s.LeftV = a.v, s.LeftVStep = (b.v - a.v) * r;
}
[[gnu::always_inline]] inline void SetRight(SpanState& s, const Weighted& a, const Weighted& b, int32_t h) {
  const float r = Reciprocal(h);
  s.RightW = a.w, s.RightWStep = (b.w - a.w) * r;
  s.RightU = a.u, s.RightUStep = (b.u - a.u) * r;
  s.RightV = a.v, s.RightVStep = (b.v - a.v) * r;
}

// kScale turns a 16.16 coordinate into texels: 1/512 for 128 texels, 1/4096 for 16.
template <int kSize, bool kDepth, Px kPx, bool kStipple>
void FloatTriangle(DevicePolygon* polygon, const DeviceVertex* a, const DeviceVertex* b, const DeviceVertex* c,
                   SpanRoutine fill) {
  const uint8_t* texels = TexelsOf(polygon);
  if (!texels || !polygon->material) return;
  // The spans divide by the weights: a vertex at or behind the eye (or not a number) has
  // none, and such a triangle is left out.
  // 0 < w <= FLT_MAX: positive and finite, and false for a NaN.
  if (!(a->view_z > 0.0f && a->view_z <= FLT_MAX && b->view_z > 0.0f && b->view_z <= FLT_MAX &&
        c->view_z > 0.0f && c->view_z <= FLT_MAX))
    return;
  Limits lim;
  if (!FrameLimits(kDepth, lim)) return;
  SpanState& s = SpanStateBlock;
  Ordered t;
  if (!OrderTriangle(a, b, c, lim, t)) return;
  if (!PixelSource<kPx, kStipple>(s, polygon)) return;
  const DeviceVertex *T = t.T, *N = t.N, *P = t.P;
  const int32_t hN = t.hN, hP = t.hP, sN = t.sN, sP = t.sP;
  constexpr float kScale = kSize == 16 ? 0.000244140625f : 0.001953125f;
  const DeviceVertex* V[3] = {T, N, P};
  const float Wv[3] = {N->view_z * P->view_z, P->view_z * T->view_z, T->view_z * N->view_z};
  Weighted q[3];
  for (int i = 0; i < 3; ++i)
    q[i] = {Wv[i], static_cast<float>(V[i]->u) * kScale * Wv[i], static_cast<float>(V[i]->v) * kScale * Wv[i]};
  s.Texels = texels;
  s.RowPitch = FramePitch;
  s.RowAddress = FrameRows[t.ty];
  if constexpr (kStipple || kPx == Px::kSmooth) {
    s.RowSeed = RowSeedOf(t.ty);
    EnsureDitherRow(s);
  }
  const int32_t bias = kDepth && (polygon->material->mode & kMaterialDepthBias) ? 0xFF0000 : 0;
  if constexpr (kDepth) {
    s.DepthRowAddress = StepDepthRow(DepthBuffer, t.ty * DepthBufferPitch);
    s.DepthPitch = DepthBufferPitch;
    s.DepthBias = bias;
  }
  if (t.shape == 0) {
    s.LeftX = s.RightX = static_cast<int32_t>(static_cast<uint32_t>(t.tx) << 16);
    s.LeftXStep = sN;
    s.RightXStep = sP;
    SetLeft(s, q[0], q[1], hN);
    SetRight(s, q[0], q[2], hP);
    if constexpr (kDepth) {
      const int32_t dN = DepthRow(T->depth, N->depth, hN), dP = DepthRow(T->depth, P->depth, hP);
      s.Depth = Add(T->depth, bias);
      s.DepthRowStep = dN;
      s.DepthStep = DepthStepAcross(Sub(dP, dN), sN, sP);
    }
    if constexpr (kPx == Px::kSmooth) {
      const int32_t st = ShadeOf(*T);
      const int32_t row = Step16(st, ShadeOf(*N), hN);
      s.Shade = st;
      s.ShadeRowStep = row;
      s.ShadeStep = ShadeStepAcross(Step16Uncut(st, ShadeOf(*P), hP) - row, sN, sP);
    }
    s.RowCount = std::min(hN, hP);
    fill(&s);
    if (hN == hP) return;
    if (hN < hP) {  // the left edge ended at N: N to P
      const int32_t h = hP - hN;
      s.LeftX = static_cast<int32_t>(static_cast<uint32_t>(t.nx) << 16);
      s.LeftXStep = Slope(t.px - t.nx, h);
      SetLeft(s, q[1], q[2], h);
      if constexpr (kDepth) s.DepthRowStep = DepthRow(N->depth, P->depth, h);
      if constexpr (kPx == Px::kSmooth) s.ShadeRowStep = Step16(ShadeOf(*N), ShadeOf(*P), h);
      s.RowCount = h;
    } else {  // the right edge ended at P: P to N
      const int32_t h = hN - hP;
      s.RightX = static_cast<int32_t>(static_cast<uint32_t>(t.px) << 16);
      s.RightXStep = Slope(t.nx - t.px, h);
      SetRight(s, q[2], q[1], h);
      s.RowCount = h;
    }
    fill(&s);
    return;
  }
  // Flat tops: edge 1 from E1 and edge 2 from E2 down to the vertex below, B.
  const int e1 = t.shape == 1 ? 0 : 1, e2 = t.shape == 1 ? 2 : 0, eb = t.shape == 1 ? 1 : 2;
  const DeviceVertex &E1 = *V[e1], &E2 = *V[e2], &B = *V[eb];
  const int32_t x1 = E1.screen_x >> 16, x2 = E2.screen_x >> 16;
  const int32_t h = (B.screen_y >> 16) - t.ty, w = x2 - x1;
  FlatTopEdges(s, x1, x2, B.screen_x >> 16, h);
  SetLeft(s, q[e1], q[eb], h);
  SetRight(s, q[e2], q[eb], h);
  FlatTopSteps<kDepth, kPx == Px::kSmooth>(s, E1, E2, B, h, w, bias);
  s.RowCount = h;
  fill(&s);
}

}  // namespace

#define FLOAT_HANDLER(name, size, depth, px, stipple, fill)                        \
  void name(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) { \
    FloatTriangle<size, depth, px, stipple>(p, a, b, c, &fill);                    \
  }

FLOAT_HANDLER(TriTexturedPersp, 128, false, Px::kTexel, false, SpanPerspFloat)
FLOAT_HANDLER(TriTexturedPerspZ, 128, true, Px::kTexel, false, SpanPerspFloatZ)
FLOAT_HANDLER(TriTexturedPerspLit, 128, false, Px::kLit, false, SpanPerspFloatLit)
FLOAT_HANDLER(TriTexturedPerspLitZ, 128, true, Px::kLit, false, SpanPerspFloatLitZ)
FLOAT_HANDLER(TriTexturedPerspSmooth, 128, false, Px::kSmooth, false, SpanPerspFloatSmooth)
FLOAT_HANDLER(TriTexturedPerspSmoothZ, 128, true, Px::kSmooth, false, SpanPerspFloatSmoothZ)
FLOAT_HANDLER(TriTextured16Persp, 16, false, Px::kTexel, false, SpanPerspFloat16)
FLOAT_HANDLER(TriTextured16PerspZ, 16, true, Px::kTexel, false, SpanPerspFloat16Z)
FLOAT_HANDLER(TriTextured16PerspLit, 16, false, Px::kLit, false, SpanPerspFloat16Lit)
FLOAT_HANDLER(TriTextured16PerspLitZ, 16, true, Px::kLit, false, SpanPerspFloat16LitZ)
FLOAT_HANDLER(TriTextured16PerspSmooth, 16, false, Px::kSmooth, false, SpanPerspFloat16Smooth)
FLOAT_HANDLER(TriTextured16PerspSmoothZ, 16, true, Px::kSmooth, false, SpanPerspFloat16SmoothZ)

FLOAT_HANDLER(TriTexturedPerspStipple, 128, false, Px::kTexel, true, SpanPerspStipple)
FLOAT_HANDLER(TriTexturedPerspStippleLit, 128, false, Px::kLit, true, SpanPerspStippleLit)
FLOAT_HANDLER(TriTexturedPerspStippleZ, 128, true, Px::kTexel, true, SpanPerspStippleZ)
FLOAT_HANDLER(TriTexturedPerspStippleLitZ, 128, true, Px::kLit, true, SpanPerspStippleLitZ)
FLOAT_HANDLER(TriTexturedPerspStippleSmooth, 128, false, Px::kSmooth, true, SpanPerspStippleSmooth)
FLOAT_HANDLER(TriTextured16PerspStipple, 16, false, Px::kTexel, true, SpanPerspFloat16Stipple)
FLOAT_HANDLER(TriTextured16PerspStippleLit, 16, false, Px::kLit, true, SpanPerspFloat16StippleLit)
FLOAT_HANDLER(TriTextured16PerspStippleZ, 16, true, Px::kTexel, true, SpanPerspFloat16StippleZ)
FLOAT_HANDLER(TriTextured16PerspStippleLitZ, 16, true, Px::kLit, true, SpanPerspFloat16StippleLitZ)
FLOAT_HANDLER(TriTextured16PerspStippleSmooth, 16, false, Px::kSmooth, true, SpanPerspFloat16StippleSmooth)

#undef FLOAT_HANDLER
