// Point modes: one pixel per vertex inside the view volume, in the polygon's colour or in
// each vertex's own shade.
#include "driver/core/polygon_setup.h"
#include "driver/core/render_modes.h"

namespace {

using namespace polygon;

template <bool kDepth, bool kSmooth>
int32_t Points(DevicePolygon* polygon, int32_t flag) {
  if (!polygon || !polygon->material) return 0;
  const DeviceMaterial* m = polygon->material;
  if (!(m->mode & kMaterialTwoSided) && flag != 0) return 0;
  Limits lim;
  if (!FrameLimits(kDepth, lim) || !ColourRampTable) return 0;
  const uint32_t word = RampWord(m->colour);
  uint8_t colour = 0;
  if constexpr (!kSmooth) colour = static_cast<uint8_t>(RampColour(word, polygon->shade));
  const int32_t bias = (m->mode & kMaterialDepthBias) ? 0xFF0000 : 0;
  for (int i = 0, n = polygon->vertex_count; i < n; ++i) {
    const DeviceVertex* v = polygon->vertices[i];
    if (v->clip_flags & 0x3F) continue;
    const int32_t column = v->screen_x >> 16, row = v->screen_y >> 16;
    // A vertex on the right or bottom border has no pixel inside the frame.
    if (static_cast<uint32_t>(column) >= static_cast<uint32_t>(lim.w) ||
        static_cast<uint32_t>(row) >= static_cast<uint32_t>(lim.h))
      continue;
    if constexpr (kSmooth) colour = static_cast<uint8_t>(RampColour(word, v->shade));
    if constexpr (kDepth) {
      const uint16_t d = static_cast<uint16_t>(static_cast<uint32_t>(Add(v->depth, bias)) >> 16);
      uint16_t* cell = StepDepthRow(DepthBuffer, row * DepthBufferPitch) + column;
      if (*cell >= d) continue;  // points need a strictly nearer depth
      *cell = d;
    }
    FrameRows[row][column] = colour;
  }
  return 0;
}

}  // namespace

int32_t PointsFlat(DevicePolygon* p, int32_t flag) { return Points<false, false>(p, flag); }
int32_t PointsFlatZ(DevicePolygon* p, int32_t flag) { return Points<true, false>(p, flag); }
int32_t PointsSmooth(DevicePolygon* p, int32_t flag) { return Points<false, true>(p, flag); }
int32_t PointsSmoothZ(DevicePolygon* p, int32_t flag) { return Points<true, true>(p, flag); }
