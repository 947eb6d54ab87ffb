// Textured fans and the orientation test.
#include "driver/core/context.h"
#include "driver/core/fan.h"
#include "driver/triangles/handler_table.h"

namespace {

template <int kGroup>
int32_t Fan(DevicePolygon* polygon, int32_t flag) {
  if (!polygon || !polygon->material) return 0;
  const int n = polygon->vertex_count;
  if (n < 3) return 0;  // no triangle
  // Bits 4-7 of the mode byte never reach the table.
  const TriangleHandler handler =
      TriangleHandlerTable[16 * kGroup + (polygon->material->mode & HandlerMask & 0xF)];
  WalkFan(polygon, flag, handler);
  return 0;
}

inline int32_t Diff(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// Negative only when both factors are non-zero and of different signs.
inline bool ProductNegative(int32_t x, int32_t y) { return x != 0 && y != 0 && (x ^ y) < 0; }

}  // namespace

int32_t TexturedFan(DevicePolygon* p, int32_t flag) { return Fan<0>(p, flag); }
int32_t TexturedFanZ(DevicePolygon* p, int32_t flag) { return Fan<1>(p, flag); }
int32_t TexturedFanStipple(DevicePolygon* p, int32_t flag) { return Fan<2>(p, flag); }
int32_t TexturedFanStippleZ(DevicePolygon* p, int32_t flag) { return Fan<3>(p, flag); }
int32_t TexturedFanSmooth(DevicePolygon* p, int32_t flag) { return Fan<4>(p, flag); }
int32_t TexturedFanSmoothZ(DevicePolygon* p, int32_t flag) { return Fan<5>(p, flag); }
int32_t TexturedFanSmoothStipple(DevicePolygon* p, int32_t flag) { return Fan<6>(p, flag); }
int32_t TexturedFanSmoothStippleZ(DevicePolygon* p, int32_t flag) { return Fan<7>(p, flag); }

int32_t TriangleOrientation(const DeviceVertex* a, const DeviceVertex* b, const DeviceVertex* c) {
  const int32_t d1y = Diff(b->screen_y, a->screen_y), d1z = Diff(b->depth, a->depth);
  const int32_t d2y = Diff(c->screen_y, b->screen_y), d2z = Diff(c->depth, b->depth);
  const bool p_negative = ProductNegative(d2y, d1z);
  const bool q_negative = ProductNegative(d1y, d2z);
  if (p_negative != q_negative) return p_negative ? 0 : 1;
  // Exact: each product has at most 63 bits of magnitude.
  const __int128 p = static_cast<__int128>(d2y) * d1z;
  const __int128 q = static_cast<__int128>(d1y) * d2z;
  return p - q >= 0 ? 1 : 0;
}
