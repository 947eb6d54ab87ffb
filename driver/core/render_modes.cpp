// The render-mode slots of both banks.
#include "driver/core/render_modes.h"

#include "driver/core/line_modes.h"
#include "driver/core/polygon_modes.h"
#include "driver/triangles/handler_table.h"

namespace {

struct Slot {
  int index;
  RenderModeFn plain;
  RenderModeFn depth;
};

constexpr Slot kSlots[14] = {
    {0, &PointsFlat, &PointsFlatZ},
    {1, &PointsSmooth, &PointsSmoothZ},
    {4, &LinesFlat, &LinesFlatZ},
    {5, &LinesSmooth, &LinesSmoothZ},
    {8, &PolylineFlat, &PolylineFlatZ},
    {9, &PolylineSmooth, &PolylineSmoothZ},
    {12, &PolygonFlat, &PolygonFlatZ},
    {13, &PolygonSmooth, &PolygonSmoothZ},
    {14, &PolygonFlatStipple, &PolygonFlatStippleZ},
    {15, &PolygonSmoothStipple, &PolygonSmoothStippleZ},
    {20, &TexturedFan, &TexturedFanZ},
    {21, &TexturedFanSmooth, &TexturedFanSmoothZ},
    {22, &TexturedFanStipple, &TexturedFanStippleZ},
    {23, &TexturedFanSmoothStipple, &TexturedFanSmoothStippleZ},
};

}  // namespace

void RenderModeTableWrite(DeviceRecord* record, int32_t depth_on) {
  for (const Slot& slot : kSlots) {
    record->render_modes[0][slot.index] = slot.plain;
    record->render_modes[1][slot.index] = depth_on ? slot.depth : slot.plain;
  }
}
