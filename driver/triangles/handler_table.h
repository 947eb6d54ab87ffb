#pragma once
// Textured polygons: the 128 triangle handlers (8 groups of 16 positions), the eight fans
// that choose one per polygon and hand it every triangle, and the winding sign test of the
// fixed-point perspective handlers.
#include <cstdint>

#include "driver/records.h"

// (polygon, a, b, c) in the polygon's winding; the handler finds the top vertex and culls.
using TriangleHandler = void (*)(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);

// Entry 16 x group + position. Group bits: 1 depth, 2 screen door, 4 smooth; position bits
// (from the material mode byte): 1 shaded, 2 perspective, 4 texel dither, 8 16 x 16 texels.
extern const TriangleHandler TriangleHandlerTable[128];

// Fans: (polygon, flag), 0. The handler is read once per polygon; a non-zero flag reverses
// every triangle.
int32_t TexturedFan(DevicePolygon* polygon, int32_t flag);                // group 0
int32_t TexturedFanZ(DevicePolygon* polygon, int32_t flag);               // group 1
int32_t TexturedFanStipple(DevicePolygon* polygon, int32_t flag);         // group 2
int32_t TexturedFanStippleZ(DevicePolygon* polygon, int32_t flag);        // group 3
int32_t TexturedFanSmooth(DevicePolygon* polygon, int32_t flag);          // group 4
int32_t TexturedFanSmoothZ(DevicePolygon* polygon, int32_t flag);         // group 5
int32_t TexturedFanSmoothStipple(DevicePolygon* polygon, int32_t flag);   // group 6
int32_t TexturedFanSmoothStippleZ(DevicePolygon* polygon, int32_t flag);  // group 7

// 1 when (c.Y - b.Y)(b.Z - a.Z) - (b.Y - a.Y)(c.Z - b.Z) >= 0 over screen y and depth, else
// 0; the products are formed only when their signs do not decide.
int32_t TriangleOrientation(const DeviceVertex* a, const DeviceVertex* b, const DeviceVertex* c);
