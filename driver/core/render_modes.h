#pragma once
// The render-mode table: which entry draws each primitive kind and shading in the plain
// bank and in the bank used with the depth buffer; and the point modes.
#include <cstdint>

#include "driver/records.h"

// Writes the fourteen used slots of both banks for an 8-bit raster: bank 0 the plain
// entries, bank 1 the depth entries when depth_on, else the plain ones again.
void RenderModeTableWrite(DeviceRecord* record, int32_t depth_on);

// Point modes: (polygon, flag), 0. A non-zero flag hides a one-sided material's points.
int32_t PointsFlat(DevicePolygon* polygon, int32_t flag);
int32_t PointsFlatZ(DevicePolygon* polygon, int32_t flag);
int32_t PointsSmooth(DevicePolygon* polygon, int32_t flag);
int32_t PointsSmoothZ(DevicePolygon* polygon, int32_t flag);
