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
  // The spans divide by the weights: a vertex at or behind the eye (or not a number) has
  // none, and such a triangle is left out.
  // 0 < w <= FLT_MAX: positive and finite, and false for a NaN.
  if (!(a->view_z > 0.0f && a->view_z <= FLT_MAX && b->view_z > 0.0f && b->view_z <= FLT_MAX &&
        c->view_z > 0.0f && c->view_z <= FLT_MAX))
    return;
  SpanState& s = SpanStateBlock;
  Ordered t;
  const uint8_t* texels = PerspBegin<kDepth, kPx, kStipple>(s, polygon, a, b, c, t);
  if (!texels) return;
  const DeviceVertex *T = t.T, *N = t.N, *P = t.P;
  constexpr float kScale = kSize == 16 ? 0.000244140625f : 0.001953125f;
  const DeviceVertex* V[3] = {T, N, P};
  const float Wv[3] = {N->view_z * P->view_z, P->view_z * T->view_z, T->view_z * N->view_z};
  Weighted q[3];
  for (int i = 0; i < 3; ++i)
    q[i] = {Wv[i], static_cast<float>(V[i]->u) * kScale * Wv[i], static_cast<float>(V[i]->v) * kScale * Wv[i]};
  if constexpr (kStipple || kPx == Px::kSmooth) {
    s.RowSeed = RowSeedOf(t.ty);
    EnsureDitherRow(s);
  }
  const int32_t bias = PerspRows<kDepth>(s, polygon, texels, t);
  // Depth and shade follow the left edge.
  PerspWalk<kDepth, kPx == Px::kSmooth>(
      s, t, 0, bias,
      [&q](SpanState& e, int from, int to, int32_t h) { SetLeft(e, q[from], q[to], h); },
      [&q](SpanState& e, int from, int to, int32_t h) { SetRight(e, q[from], q[to], h); }, fill);
}

}  // namespace

#define FLOAT_HANDLER(...) TEXTURED_HANDLER(FloatTriangle, __VA_ARGS__)

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
