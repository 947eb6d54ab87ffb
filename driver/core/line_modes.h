#pragma once
// Line modes: closed outlines, which honour the polygon's facing, and open polylines, which
// do not; every edge is drawn by a 16.16 digital differential analyser over whole pixels.
#include <cstdint>

#include "driver/records.h"

int32_t LinesFlat(DevicePolygon* polygon, int32_t flag);
int32_t LinesFlatZ(DevicePolygon* polygon, int32_t flag);
int32_t LinesSmooth(DevicePolygon* polygon, int32_t flag);
int32_t LinesSmoothZ(DevicePolygon* polygon, int32_t flag);
int32_t PolylineFlat(DevicePolygon* polygon, int32_t flag);
int32_t PolylineFlatZ(DevicePolygon* polygon, int32_t flag);
int32_t PolylineSmooth(DevicePolygon* polygon, int32_t flag);
int32_t PolylineSmoothZ(DevicePolygon* polygon, int32_t flag);

// One edge from a to b in the material's ramp colour at the shade read through shade. The
// far end's pixel is not plotted, except for a one-pixel line. An edge with an end off the
// frame is not drawn.
void DrawLine(const DeviceVertex* a, const DeviceVertex* b, const DeviceMaterial* material, const int32_t* shade);
// The same with the depth test (a stored depth equal to the new one is overwritten).
void DrawLineZ(const DeviceVertex* a, const DeviceVertex* b, const DeviceMaterial* material, const int32_t* shade);
