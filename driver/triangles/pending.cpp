// Placeholder handlers: the affine handler of the group stands in for each family to come.
#include "driver/triangles/pending.h"

#include <cstring>

#include "driver/triangles/affine.h"

namespace {

// A 16 x 16 texture widened to 128 x 128 (each texel 8 x 8 times): the same texel for every
// coordinate, read by the 128-texel spans.
alignas(64) uint8_t widened[128 * 128];

const uint8_t* Widen(const uint8_t* small) {
  if (!small) return nullptr;
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) widened[y * 128 + x] = small[(y >> 3) * 16 + (x >> 3)];
  return widened;
}

template <bool kDepth, bool kLit, bool kSmall>
void Stand(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  const uint8_t* texels = textured::TexelsOf(p);
  if constexpr (kSmall) texels = Widen(texels);
  constexpr SpanRoutine fill = kLit ? (kDepth ? &SpanTexturedLitZ : &SpanTexturedLit)
                                    : (kDepth ? &SpanTexturedZ : &SpanTextured);
  textured::Affine<kDepth, kLit>(p, texels, a, b, c, fill);
}

}  // namespace

void PendingTriTexturedPersp(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, false, false>(p, a, b, c);
}
void PendingTriTexturedPerspLit(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, true, false>(p, a, b, c);
}
void PendingTriTexturedDither(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, false, false>(p, a, b, c);
}
void PendingTriTexturedDitherLit(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, true, false>(p, a, b, c);
}
void PendingTriTexturedPerspFixedDither(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, false, false>(p, a, b, c);
}
void PendingTriTexturedPerspFixedDitherLit(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, true, false>(p, a, b, c);
}
void PendingTriTextured16(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, false, true>(p, a, b, c);
}
void PendingTriTextured16Lit(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, true, true>(p, a, b, c);
}
void PendingTriTextured16Persp(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, false, true>(p, a, b, c);
}
void PendingTriTextured16PerspLit(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, true, true>(p, a, b, c);
}
void PendingTriTextured16Dither(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, false, true>(p, a, b, c);
}
void PendingTriTextured16DitherLit(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, true, true>(p, a, b, c);
}
void PendingTriTextured16PerspFixedDither(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, false, true>(p, a, b, c);
}
void PendingTriTextured16PerspFixedDitherLit(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, true, true>(p, a, b, c);
}
void PendingTriTexturedPerspZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, false, false>(p, a, b, c);
}
void PendingTriTexturedPerspLitZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, true, false>(p, a, b, c);
}
void PendingTriTexturedDitherZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, false, false>(p, a, b, c);
}
void PendingTriTexturedDitherLitZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, true, false>(p, a, b, c);
}
void PendingTriTexturedPerspFixedDitherZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, false, false>(p, a, b, c);
}
void PendingTriTexturedPerspFixedDitherLitZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, true, false>(p, a, b, c);
}
void PendingTriTextured16Z(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, false, true>(p, a, b, c);
}
void PendingTriTextured16LitZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, true, true>(p, a, b, c);
}
void PendingTriTextured16PerspZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, false, true>(p, a, b, c);
}
void PendingTriTextured16PerspLitZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, true, true>(p, a, b, c);
}
void PendingTriTextured16DitherZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, false, true>(p, a, b, c);
}
void PendingTriTextured16DitherLitZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, true, true>(p, a, b, c);
}
void PendingTriTextured16PerspFixedDitherZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, false, true>(p, a, b, c);
}
void PendingTriTextured16PerspFixedDitherLitZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, true, true>(p, a, b, c);
}
void PendingTriTexturedStipple(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, false, false>(p, a, b, c);
}
void PendingTriTexturedStippleLit(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, true, false>(p, a, b, c);
}
void PendingTriTexturedPerspStipple(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, false, false>(p, a, b, c);
}
void PendingTriTexturedPerspStippleLit(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, true, false>(p, a, b, c);
}
void PendingTriTextured16Stipple(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, false, true>(p, a, b, c);
}
void PendingTriTextured16StippleLit(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, true, true>(p, a, b, c);
}
void PendingTriTextured16PerspStipple(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, false, true>(p, a, b, c);
}
void PendingTriTextured16PerspStippleLit(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, true, true>(p, a, b, c);
}
void PendingTriTexturedStippleZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, false, false>(p, a, b, c);
}
void PendingTriTexturedStippleLitZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, true, false>(p, a, b, c);
}
void PendingTriTexturedPerspStippleZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, false, false>(p, a, b, c);
}
void PendingTriTexturedPerspStippleLitZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, true, false>(p, a, b, c);
}
void PendingTriTextured16StippleZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, false, true>(p, a, b, c);
}
void PendingTriTextured16StippleLitZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, true, true>(p, a, b, c);
}
void PendingTriTextured16PerspStippleZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, false, true>(p, a, b, c);
}
void PendingTriTextured16PerspStippleLitZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, true, true>(p, a, b, c);
}
void PendingTriTexturedSmooth(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, false, false>(p, a, b, c);
}
void PendingTriTexturedPerspSmooth(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, false, false>(p, a, b, c);
}
void PendingTriTexturedPerspFixedDitherSmooth(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, false, false>(p, a, b, c);
}
void PendingTriTextured16Smooth(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, false, true>(p, a, b, c);
}
void PendingTriTextured16PerspSmooth(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, false, true>(p, a, b, c);
}
void PendingTriTexturedSmoothZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, false, false>(p, a, b, c);
}
void PendingTriTexturedPerspSmoothZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, false, false>(p, a, b, c);
}
void PendingTriTextured16SmoothZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, false, true>(p, a, b, c);
}
void PendingTriTextured16PerspSmoothZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, false, true>(p, a, b, c);
}
void PendingTriTexturedStippleSmooth(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, false, false>(p, a, b, c);
}
void PendingTriTexturedPerspStippleSmooth(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, false, false>(p, a, b, c);
}
void PendingTriTextured16StippleSmooth(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, false, true>(p, a, b, c);
}
void PendingTriTextured16PerspStippleSmooth(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<false, false, true>(p, a, b, c);
}
void PendingTriTexturedStippleSmoothZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, false, false>(p, a, b, c);
}
void PendingTriTexturedPerspFixedStippleZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, false, false>(p, a, b, c);
}
void PendingTriTexturedPerspFixedStippleSmoothZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, false, false>(p, a, b, c);
}
void PendingTriTextured16StippleSmoothZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, false, true>(p, a, b, c);
}
void PendingTriTextured16PerspFixedStippleZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, false, true>(p, a, b, c);
}
void PendingTriTextured16PerspFixedStippleSmoothZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  Stand<true, false, true>(p, a, b, c);
}
