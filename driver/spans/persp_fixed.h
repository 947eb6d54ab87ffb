// Fixed-point perspective span routines. The handler fills SpanState (edges, per-edge
// u·q, v·q and q blocks with their row steps, PerspDirection, depth, shade, seed); a routine
// draws RowCount lines, dividing u·q and v·q by q at both ends of each line and walking the
// span from its nearer end, linearly (short path) or along the perspective hyperbola through
// LogTable and ExpTable (long path).
#pragma once

#include "driver/spans/span_state.h"

// The five span modes: dithered texel coordinates (plain, lit, depth-tested with ties
// drawing, both), and dithered shade through the shade-table base in ShadeRow.
void SpanPerspFixedDither(SpanState* s);
void SpanPerspFixedDitherLit(SpanState* s);
void SpanPerspFixedDitherZ(SpanState* s);
void SpanPerspFixedDitherLitZ(SpanState* s);
void SpanPerspFixedDitherSmooth(SpanState* s);

// The handler-layer routines: signed end divisions, a path choice on the top ten bits of q,
// the first pixel sampling the start end exactly, and depth ties failing. Screen door
// (128 and 16 texels), and the 16 x 16 dithered members with signed quarter-texel offsets.
void SpanPerspFixedStippleZ(SpanState* s);
void SpanPerspFixedStippleSmoothZ(SpanState* s);
void SpanPerspFixed16StippleZ(SpanState* s);
void SpanPerspFixed16StippleSmoothZ(SpanState* s);
void SpanPerspFixed16Dither(SpanState* s);
void SpanPerspFixed16DitherLit(SpanState* s);
void SpanPerspFixed16DitherZ(SpanState* s);
void SpanPerspFixed16DitherLitZ(SpanState* s);

// Draws lines through s->CurrentSpanTable until the line count is used up.
void PerspScanlineDriver(SpanState* s);
