#pragma once
// Untextured polygons: flat or smooth, opaque or screen-door translucent, with or without
// the depth buffer. Each mode walks the polygon as a fan and hands every triangle to its
// set-up; the translucent members draw through the four noise spans declared here.
#include <cstdint>

#include "driver/records.h"
#include "driver/spans/span_state.h"

// Render modes: (polygon, flag), 0. A non-zero flag reverses every fan triangle.
int32_t PolygonFlat(DevicePolygon* polygon, int32_t flag);
int32_t PolygonFlatZ(DevicePolygon* polygon, int32_t flag);
int32_t PolygonSmooth(DevicePolygon* polygon, int32_t flag);
int32_t PolygonSmoothZ(DevicePolygon* polygon, int32_t flag);
int32_t PolygonFlatStipple(DevicePolygon* polygon, int32_t flag);
int32_t PolygonFlatStippleZ(DevicePolygon* polygon, int32_t flag);
int32_t PolygonSmoothStipple(DevicePolygon* polygon, int32_t flag);
int32_t PolygonSmoothStippleZ(DevicePolygon* polygon, int32_t flag);

// Set-ups: one triangle in the winding that decides whether it is drawn.
void TriFlat(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void TriFlatZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void TriSmooth(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void TriSmoothZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void TriFlatStipple(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void TriFlatStippleZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void TriSmoothStipple(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void TriSmoothStippleZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);

// Screen-door spans: a pixel is drawn where the noise byte is below Opacity; the depth
// members need a strictly nearer depth. Same stepping contract as the basic fillers.
void SpanFlatStipple(SpanState* s);
void SpanFlatStippleZ(SpanState* s);
void SpanSmoothStipple(SpanState* s);
void SpanSmoothStippleZ(SpanState* s);
