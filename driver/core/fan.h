#pragma once
// The fan every polygon mode walks: triangles around the first vertex.
#include <cstdint>

#include "driver/records.h"

// Hands draw the triangles (V0, Vk, Vk+1) for k from the last pair down to the first; a
// non-zero flag reverses each triangle's winding. Fewer than three vertices make none.
template <class Draw>
inline void WalkFan(DevicePolygon* polygon, int32_t flag, Draw draw) {
  const int n = polygon->vertex_count;
  DeviceVertex* const* v = polygon->vertices;
  for (int k = n - 2; k >= 1; --k) {
    if (flag == 0)
      draw(polygon, v[0], v[k], v[k + 1]);
    else
      draw(polygon, v[0], v[k + 1], v[k]);
  }
}
