#pragma once
// The textured handler families beyond the plain affine four: 16 x 16-texel twins, screen
// door, smooth shading, dithered texels, fixed-point and floating-point perspective. Each
// handler has the triangle-handler signature of the table; each span routine takes the
// address of SpanState.
#include "driver/records.h"
#include "driver/spans/span_state.h"

#define TESSEL_HANDLER(name) void name(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c)

// Affine, 16 x 16 texels (depth ties fail, unlike the 128 x 128 fillers).
TESSEL_HANDLER(TriTextured16);
TESSEL_HANDLER(TriTextured16Lit);
TESSEL_HANDLER(TriTextured16Z);
TESSEL_HANDLER(TriTextured16LitZ);
void SpanTextured16(SpanState* s);
void SpanTextured16Lit(SpanState* s);
void SpanTextured16Z(SpanState* s);
void SpanTextured16LitZ(SpanState* s);

// Screen door.
TESSEL_HANDLER(TriTexturedStipple);
TESSEL_HANDLER(TriTexturedStippleLit);
TESSEL_HANDLER(TriTexturedStippleZ);
TESSEL_HANDLER(TriTexturedStippleLitZ);
TESSEL_HANDLER(TriTextured16Stipple);
TESSEL_HANDLER(TriTextured16StippleLit);
TESSEL_HANDLER(TriTextured16StippleZ);
TESSEL_HANDLER(TriTextured16StippleLitZ);
void SpanTexturedStipple(SpanState* s);
void SpanTexturedStippleLit(SpanState* s);
void SpanTexturedStippleZ(SpanState* s);
void SpanTexturedStippleLitZ(SpanState* s);
void SpanTextured16Stipple(SpanState* s);
void SpanTextured16StippleLit(SpanState* s);
void SpanTextured16StippleZ(SpanState* s);
void SpanTextured16StippleLitZ(SpanState* s);

// Smooth shading (per-vertex shade, dithered into the shade-table rows).
TESSEL_HANDLER(TriTexturedSmooth);
TESSEL_HANDLER(TriTexturedSmoothZ);
TESSEL_HANDLER(TriTexturedStippleSmooth);
TESSEL_HANDLER(TriTexturedStippleSmoothZ);
TESSEL_HANDLER(TriTextured16Smooth);
TESSEL_HANDLER(TriTextured16SmoothZ);
TESSEL_HANDLER(TriTextured16StippleSmooth);
TESSEL_HANDLER(TriTextured16StippleSmoothZ);
void SpanTexturedSmooth(SpanState* s);
void SpanTexturedSmoothZ(SpanState* s);
void SpanTexturedStippleSmooth(SpanState* s);
void SpanTexturedStippleSmoothZ(SpanState* s);
void SpanTextured16Smooth(SpanState* s);
void SpanTextured16SmoothZ(SpanState* s);
void SpanTextured16StippleSmooth(SpanState* s);
void SpanTextured16StippleSmoothZ(SpanState* s);

// Dithered texel coordinates.
TESSEL_HANDLER(TriTexturedDither);
TESSEL_HANDLER(TriTexturedDitherLit);
TESSEL_HANDLER(TriTexturedDitherZ);
TESSEL_HANDLER(TriTexturedDitherLitZ);
TESSEL_HANDLER(TriTextured16Dither);
TESSEL_HANDLER(TriTextured16DitherLit);
TESSEL_HANDLER(TriTextured16DitherZ);
TESSEL_HANDLER(TriTextured16DitherLitZ);
void SpanTexturedDither(SpanState* s);
void SpanTexturedDitherLit(SpanState* s);
void SpanTexturedDitherZ(SpanState* s);
void SpanTexturedDitherLitZ(SpanState* s);
void SpanTextured16Dither(SpanState* s);
void SpanTextured16DitherLit(SpanState* s);
void SpanTextured16DitherZ(SpanState* s);
void SpanTextured16DitherLitZ(SpanState* s);

// Fixed-point perspective (dithered texels, screen door, smooth).
TESSEL_HANDLER(TriTexturedPerspFixedDither);
TESSEL_HANDLER(TriTexturedPerspFixedDitherLit);
TESSEL_HANDLER(TriTexturedPerspFixedDitherZ);
TESSEL_HANDLER(TriTexturedPerspFixedDitherLitZ);
TESSEL_HANDLER(TriTexturedPerspFixedDitherSmooth);
TESSEL_HANDLER(TriTexturedPerspFixedStippleZ);
TESSEL_HANDLER(TriTexturedPerspFixedStippleSmoothZ);
TESSEL_HANDLER(TriTextured16PerspFixedDither);
TESSEL_HANDLER(TriTextured16PerspFixedDitherLit);
TESSEL_HANDLER(TriTextured16PerspFixedDitherZ);
TESSEL_HANDLER(TriTextured16PerspFixedDitherLitZ);
TESSEL_HANDLER(TriTextured16PerspFixedStippleZ);
TESSEL_HANDLER(TriTextured16PerspFixedStippleSmoothZ);

// Floating-point perspective, with and without screen door.
TESSEL_HANDLER(TriTexturedPersp);
TESSEL_HANDLER(TriTexturedPerspZ);
TESSEL_HANDLER(TriTexturedPerspLit);
TESSEL_HANDLER(TriTexturedPerspLitZ);
TESSEL_HANDLER(TriTexturedPerspSmooth);
TESSEL_HANDLER(TriTexturedPerspSmoothZ);
TESSEL_HANDLER(TriTextured16Persp);
TESSEL_HANDLER(TriTextured16PerspZ);
TESSEL_HANDLER(TriTextured16PerspLit);
TESSEL_HANDLER(TriTextured16PerspLitZ);
TESSEL_HANDLER(TriTextured16PerspSmooth);
TESSEL_HANDLER(TriTextured16PerspSmoothZ);
TESSEL_HANDLER(TriTexturedPerspStipple);
TESSEL_HANDLER(TriTexturedPerspStippleLit);
TESSEL_HANDLER(TriTexturedPerspStippleZ);
TESSEL_HANDLER(TriTexturedPerspStippleLitZ);
TESSEL_HANDLER(TriTexturedPerspStippleSmooth);
TESSEL_HANDLER(TriTextured16PerspStipple);
TESSEL_HANDLER(TriTextured16PerspStippleLit);
TESSEL_HANDLER(TriTextured16PerspStippleZ);
TESSEL_HANDLER(TriTextured16PerspStippleLitZ);
TESSEL_HANDLER(TriTextured16PerspStippleSmooth);

#undef TESSEL_HANDLER
