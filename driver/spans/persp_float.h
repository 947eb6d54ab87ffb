// Floating-point perspective span routines. The handler hands over, per edge, the weight W
// (proportional to 1/w) and U = u·W, V = v·W in texels with their row steps; a routine
// divides at both ends of short spans and every 16 pixels of long ones and steps a packed
// texel coordinate linearly in between.
#pragma once

#include "driver/spans/span_state.h"

// 1/n for n = 0..23 (entry 0 is 1.0) as written to six places, then the head fractions
// k/16 for k = 0..3.
extern const float ReciprocalTable[28];

// Fillers: 128 x 128 and 16 x 16 texels; plain, lit (ShadeRow), smooth (shade-table base in
// ShadeRow, dithered 8.8 shade); with or without the depth test (ties fail).
void SpanPerspFloat(SpanState* s);
void SpanPerspFloatZ(SpanState* s);
void SpanPerspFloatLit(SpanState* s);
void SpanPerspFloatLitZ(SpanState* s);
void SpanPerspFloatSmooth(SpanState* s);
void SpanPerspFloatSmoothZ(SpanState* s);
void SpanPerspFloat16(SpanState* s);
void SpanPerspFloat16Z(SpanState* s);
void SpanPerspFloat16Lit(SpanState* s);
void SpanPerspFloat16LitZ(SpanState* s);
void SpanPerspFloat16Smooth(SpanState* s);
void SpanPerspFloat16SmoothZ(SpanState* s);

// Screen-door members: blocks of 16 pixels, spans of up to 16 in one piece, a packed
// coordinate with u in bits 16-31 and v in bits 0-13 (9 and 7 fraction bits).
void SpanPerspStipple(SpanState* s);
void SpanPerspStippleLit(SpanState* s);
void SpanPerspStippleZ(SpanState* s);
void SpanPerspStippleLitZ(SpanState* s);
void SpanPerspStippleSmooth(SpanState* s);
void SpanPerspFloat16Stipple(SpanState* s);
void SpanPerspFloat16StippleLit(SpanState* s);
void SpanPerspFloat16StippleZ(SpanState* s);
void SpanPerspFloat16StippleLitZ(SpanState* s);
void SpanPerspFloat16StippleSmooth(SpanState* s);
