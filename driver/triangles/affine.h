#pragma once
// Affine textured handlers: 128 x 128 texels, screen-linear texture coordinates, optionally
// through the polygon's shade-table row and optionally depth-tested. Their set-up is the
// shared one of driver/core/polygon_setup.h with the packed u|v part; the other textured
// families add their own parts and span routines to the same set-up.
#include <cstdint>

#include "driver/core/polygon_setup.h"
#include "driver/records.h"

void TriTextured(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void TriTexturedLit(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void TriTexturedZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);
void TriTexturedLitZ(DevicePolygon* polygon, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c);

namespace textured {

// The polygon's texels, or null when it has no material, texture or texels.
inline const uint8_t* TexelsOf(const DevicePolygon* polygon) {
  const DeviceMaterial* m = polygon ? polygon->material : nullptr;
  return m && m->texture ? m->texture->texels : nullptr;
}

// Shade-table row of the polygon's shade (level bounded to 0..31); null without tables.
inline const uint8_t* LitRow(const DevicePolygon* polygon) {
  if (!ShadeTable) return nullptr;
  return ShadeTable + 256 * (polygon::ClampShade(polygon->shade) >> 16);
}

// One affine triangle of texels (a 128 x 128 texture) through fill, with extra parts.
template <bool kDepth, bool kLit, class... Extra>
void Affine(DevicePolygon* polygon, const uint8_t* texels, const DeviceVertex* a, const DeviceVertex* b,
            const DeviceVertex* c, SpanRoutine fill, Extra... extra) {
  using namespace polygon;
  if (!texels || !polygon->material) return;
  Limits lim;
  if (!FrameLimits(kDepth, lim)) return;
  SpanState& s = SpanStateBlock;
  if constexpr (kLit) {
    const uint8_t* row = LitRow(polygon);
    if (!row) return;
    s.ShadeRow = row;
  }
  s.Texels = texels;
  auto depth = PartIf<kDepth>([&] { return DepthPart(polygon->material); });
  Parts<PackedUvPart, decltype(depth), Extra...> parts(PackedUvPart{}, depth, extra...);
  SetupTriangle(parts, a, b, c, lim, fill);
}

}  // namespace textured
