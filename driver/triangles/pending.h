#pragma once
// Placeholders for the table positions whose handler families are not built yet. Each one
// draws with the affine handler of its group: depth-tested when its group is, through the
// polygon's shade row when its position is lit (groups 0-3); 16 x 16-texel textures are
// widened to 128 x 128 first, so that nothing reads past their 256 texels. Replace an entry
// of the table when its family arrives.
#include "driver/triangles/handler_table.h"

void PendingTriTexturedPersp(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedPerspLit(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedDither(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedDitherLit(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedPerspFixedDither(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedPerspFixedDitherLit(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16Lit(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16Persp(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16PerspLit(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16Dither(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16DitherLit(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16PerspFixedDither(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16PerspFixedDitherLit(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedPerspZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedPerspLitZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedDitherZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedDitherLitZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedPerspFixedDitherZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedPerspFixedDitherLitZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16Z(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16LitZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16PerspZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16PerspLitZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16DitherZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16DitherLitZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16PerspFixedDitherZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16PerspFixedDitherLitZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedStipple(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedStippleLit(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedPerspStipple(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedPerspStippleLit(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16Stipple(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16StippleLit(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16PerspStipple(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16PerspStippleLit(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedStippleZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedStippleLitZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedPerspStippleZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedPerspStippleLitZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16StippleZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16StippleLitZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16PerspStippleZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16PerspStippleLitZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedSmooth(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedPerspSmooth(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedPerspFixedDitherSmooth(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16Smooth(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16PerspSmooth(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedSmoothZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedPerspSmoothZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16SmoothZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16PerspSmoothZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedStippleSmooth(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedPerspStippleSmooth(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16StippleSmooth(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16PerspStippleSmooth(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedStippleSmoothZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedPerspFixedStippleZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTexturedPerspFixedStippleSmoothZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16StippleSmoothZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16PerspFixedStippleZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void PendingTriTextured16PerspFixedStippleSmoothZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
