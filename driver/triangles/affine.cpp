// The four affine handlers, drawn by the basic textured span fillers.
#include "driver/triangles/affine.h"

void TriTextured(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  textured::Affine<false, false>(p, textured::TexelsOf(p), a, b, c, &SpanTextured);
}
void TriTexturedLit(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  textured::Affine<false, true>(p, textured::TexelsOf(p), a, b, c, &SpanTexturedLit);
}
void TriTexturedZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  textured::Affine<true, false>(p, textured::TexelsOf(p), a, b, c, &SpanTexturedZ);
}
void TriTexturedLitZ(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {
  textured::Affine<true, true>(p, textured::TexelsOf(p), a, b, c, &SpanTexturedLitZ);
}
