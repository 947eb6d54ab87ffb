// Untextured polygon modes: fan walk, the eight set-ups and the screen-door spans.
#include "driver/core/polygon_modes.h"

#include <cstring>

#include "driver/core/fan.h"
#include "driver/core/polygon_setup.h"

namespace polygon {

namespace {
alignas(256) uint8_t tail_block[256];
}

const uint8_t* RampBlock(uint32_t w) {
  if (!ColourRampTable) return nullptr;
  const uint32_t base = w & 0xFF00u;
  if (base + 256 <= kColourRampUsed) return ColourRampTable + base;
  const uint32_t used = static_cast<uint32_t>(kColourRampUsed) - base;
  std::memcpy(tail_block, ColourRampTable + base, used);
  std::memset(tail_block + used, ColourRampTable[base + used - 1], 128 - used);
  std::memset(tail_block + 128, ColourRampTable[base], 128);
  return tail_block;
}

}  // namespace polygon

namespace {

using namespace polygon;

// Per-pixel screen door: the noise byte b decides, and for smooth members also dithers.
template <bool kDepth, bool kSmooth>
void StippleRows(SpanState* s) {
  int32_t left = s->LeftX, right = s->RightX;
  const int32_t left_step = s->LeftXStep, right_step = s->RightXStep;
  uint8_t* row = s->RowAddress;
  const int32_t pitch = s->RowPitch;
  uint16_t* depth_row = s->DepthRowAddress;
  const int32_t depth_pitch = s->DepthPitch;
  int32_t depth = s->Depth;
  const int32_t depth_row_step = s->DepthRowStep, depth_step = s->DepthStep;
  uint32_t shade = s->Interp;
  const uint32_t shade_row_step = s->InterpRowStep, shade_step = s->InterpStep;
  uint32_t seed = s->RowSeed;
  const uint32_t opacity = s->Opacity;
  const uint8_t colour = static_cast<uint8_t>(s->FlatColour);
  const uint8_t* shade_row = s->ShadeRow;
  const uint32_t* dither = s->DitherRowX;
  for (int32_t rows = s->RowCount; rows > 0 && !RowPast(row, pitch); --rows) {
    left = Add(left, left_step);
    right = Add(right, right_step);
    if constexpr (kDepth) depth = Add(depth, depth_row_step);
    if constexpr (kSmooth) shade += shade_row_step;
    const int32_t xl = left >> 16, xr = right >> 16;
    if (xr > xl && RowDrawn(row)) {
      uint32_t noise = dither[xl & 7] ^ (seed & 0xFFu);
      uint8_t* px = row + xl;
      uint16_t* cell = kDepth ? depth_row + xl : nullptr;
      uint32_t sh = shade;
      int32_t z = depth;
      for (int32_t i = 0, n = xr - xl; i < n; ++i) {
        const uint32_t b = noise & 0xFFu;
        uint8_t p = colour;
        if constexpr (kSmooth) p = shade_row[((sh + b) >> 8) & 0xFFu];
        // Write mask from arithmetic: all ones where the pixel is drawn.
        uint32_t pass = b < opacity;
        uint16_t d = 0;
        if constexpr (kDepth) {
          d = static_cast<uint16_t>(static_cast<uint32_t>(z) >> 16);
          pass &= static_cast<uint32_t>(cell[i] < d);
        }
        const uint32_t mask = 0u - pass;
        px[i] = static_cast<uint8_t>((px[i] & ~mask) | (p & mask));
        if constexpr (kDepth) {
          cell[i] = static_cast<uint16_t>((cell[i] & ~mask) | (d & mask));
          z = Add(z, depth_step);
        }
        if constexpr (kSmooth) sh += shade_step;
        noise = NoiseStep(noise);
      }
    }
    row += pitch;
    if constexpr (kDepth) depth_row = StepDepthRow(depth_row, depth_pitch);
    seed = NoiseStep(seed);
  }
  s->LeftX = left;
  s->RightX = right;
  s->RowAddress = row;
  s->RowSeed = seed;
  if constexpr (kSmooth) s->Interp = shade;
  if constexpr (kDepth) {
    s->Depth = depth;
    s->DepthRowAddress = depth_row;
  }
}

template <bool kDepth, bool kSmooth, bool kStipple>
constexpr SpanRoutine kFill = kStipple ? (kSmooth ? (kDepth ? &SpanSmoothStippleZ : &SpanSmoothStipple)
                                                  : (kDepth ? &SpanFlatStippleZ : &SpanFlatStipple))
                                       : (kSmooth ? (kDepth ? &SpanSmoothZ : &SpanSmooth)
                                                  : (kDepth ? &SpanFlatZ : &SpanFlat));

template <bool kDepth, bool kSmooth, bool kStipple>
void TriUntextured(DevicePolygon* polygon, const DeviceVertex* a, const DeviceVertex* b, const DeviceVertex* c) {
  const DeviceMaterial* m = polygon->material;
  if (!m) return;
  Limits lim;
  if (!FrameLimits(kDepth, lim)) return;
  SpanState& s = SpanStateBlock;
  const uint32_t word = RampWord(m->colour);
  if constexpr (kSmooth) {
    const uint8_t* block = RampBlock(word);
    if (!block) return;
    s.ShadeRow = block;
  } else {
    const int32_t colour = RampColour(word, polygon->shade);
    if (colour < 0) return;
    s.FlatColour = static_cast<uint32_t>(colour);
  }
  if constexpr (kStipple) {
    s.Opacity = m->opacity;
    if (s.Opacity == 0) return;  // nothing can pass the screen door
  }
  auto depth = PartIf<kDepth>([&] { return DepthPart(m); });
  auto smooth = PartIf<kSmooth>([&] { return SmoothPart(word); });
  auto seed = PartIf<kSmooth || kStipple>([] { return SeedPart{}; });
  Parts<decltype(depth), decltype(smooth), decltype(seed)> parts(depth, smooth, seed);
  SetupTriangle(parts, a, b, c, lim, kFill<kDepth, kSmooth, kStipple>);
}

using TriSetup = void (*)(DevicePolygon*, DeviceVertex*, DeviceVertex*, DeviceVertex*);

int32_t Fan(DevicePolygon* polygon, int32_t flag, TriSetup setup) {
  if (!polygon) return 0;
  WalkFan(polygon, flag, setup);
  return 0;
}

}  // namespace

void SpanFlatStipple(SpanState* s) { StippleRows<false, false>(s); }
void SpanFlatStippleZ(SpanState* s) { StippleRows<true, false>(s); }
void SpanSmoothStipple(SpanState* s) { StippleRows<false, true>(s); }
void SpanSmoothStippleZ(SpanState* s) { StippleRows<true, true>(s); }

#define UNTEXTURED_SETUP(name, depth, smooth, stipple)                                \
  void name(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) { \
    TriUntextured<depth, smooth, stipple>(p, a, b, c);                             \
  }
UNTEXTURED_SETUP(TriFlat, false, false, false)
UNTEXTURED_SETUP(TriFlatZ, true, false, false)
UNTEXTURED_SETUP(TriSmooth, false, true, false)
UNTEXTURED_SETUP(TriSmoothZ, true, true, false)
UNTEXTURED_SETUP(TriFlatStipple, false, false, true)
UNTEXTURED_SETUP(TriFlatStippleZ, true, false, true)
UNTEXTURED_SETUP(TriSmoothStipple, false, true, true)
UNTEXTURED_SETUP(TriSmoothStippleZ, true, true, true)
#undef UNTEXTURED_SETUP

int32_t PolygonFlat(DevicePolygon* p, int32_t flag) { return Fan(p, flag, &TriFlat); }
int32_t PolygonFlatZ(DevicePolygon* p, int32_t flag) { return Fan(p, flag, &TriFlatZ); }
int32_t PolygonSmooth(DevicePolygon* p, int32_t flag) { return Fan(p, flag, &TriSmooth); }
int32_t PolygonSmoothZ(DevicePolygon* p, int32_t flag) { return Fan(p, flag, &TriSmoothZ); }
int32_t PolygonFlatStipple(DevicePolygon* p, int32_t flag) { return Fan(p, flag, &TriFlatStipple); }
int32_t PolygonFlatStippleZ(DevicePolygon* p, int32_t flag) { return Fan(p, flag, &TriFlatStippleZ); }
int32_t PolygonSmoothStipple(DevicePolygon* p, int32_t flag) { return Fan(p, flag, &TriSmoothStipple); }
int32_t PolygonSmoothStippleZ(DevicePolygon* p, int32_t flag) { return Fan(p, flag, &TriSmoothStippleZ); }
