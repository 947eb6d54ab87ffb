// Affine families on the shared set-up: 16 x 16 twins, screen door, smooth shading and
// dithered texels. One span template: texture size, depth rule, pixel kind, stipple and
// texel dither are compile-time choices, so the pixel loop tests no flags and builds its
// write mask with arithmetic.
#include <algorithm>

#include "driver/core/polygon_setup.h"
#include "driver/triangles/affine.h"
#include "driver/triangles/handlers.h"
#include "driver/triangles/textured_setup.h"

namespace {

using namespace polygon;

enum class Z { kNone, kLessEqual, kLess };
using textured::Px;

// Shade-table byte of a dithered 8.8 shade: the row is kept inside the 32 levels, so a
// shade that overshoots the table (or a vertex shade outside 0..31) reads its nearest row.
inline uint32_t ShadeIndex(int32_t shade, uint32_t dither_byte) {
  const int32_t v = std::clamp<int32_t>(Add(shade, static_cast<int32_t>(dither_byte)), 0, 0x1FFF);
  return static_cast<uint32_t>(v) & 0x1F00u;
}

template <int kSize, Z kZ, Px kPx, bool kStipple, bool kDither>
void AffineRows(SpanState* s) {
  constexpr bool kNoise = kStipple || kDither || kPx == Px::kSmooth;
  constexpr uint32_t kMask = kSize - 1;
  int32_t left = s->LeftX, right = s->RightX;
  const int32_t left_step = s->LeftXStep, right_step = s->RightXStep;
  uint8_t* row = s->RowAddress;
  const int32_t pitch = s->RowPitch;
  const uint8_t* texels = s->Texels;
  const uint8_t* shade_row = s->ShadeRow;
  uint32_t uv = s->Interp;
  const uint32_t uv_row_step = s->InterpRowStep, uv_step = s->InterpStep;
  int32_t shade = s->Shade;
  const int32_t shade_row_step = s->ShadeRowStep, shade_step = s->ShadeStep;
  int32_t depth = s->Depth;
  const int32_t depth_row_step = s->DepthRowStep, depth_step = s->DepthStep;
  uint16_t* depth_row = s->DepthRowAddress;
  const int32_t depth_pitch = s->DepthPitch;
  uint32_t seed = s->RowSeed;
  const uint32_t opacity = s->Opacity;
  const uint32_t* dither = s->DitherRowX;
  for (int32_t rows = s->RowCount; rows > 0 && !RowPast(row, pitch); --rows) {
    left = Add(left, left_step);
    right = Add(right, right_step);
    uv = (uv + uv_row_step) & kPackedUvMask;
    if constexpr (kZ != Z::kNone) depth = Add(depth, depth_row_step);
    if constexpr (kPx == Px::kSmooth) shade = Add(shade, shade_row_step);
    const int32_t xl = left >> 16, xr = right >> 16;
    if (xr > xl && RowDrawn(row)) {
      uint8_t* px = row + xl;
      uint16_t* cell = kZ != Z::kNone ? depth_row + xl : nullptr;
      uint32_t noise = kNoise ? dither[xl & 7] ^ (seed & 0xFFu) : 0;
      uint32_t t = uv;
      int32_t z = depth;
      int32_t c = shade;
      for (int32_t i = 0, n = xr - xl; i < n; ++i) {
        const uint32_t b = noise & 0xFFu;
        uint32_t col, texrow;
        if constexpr (kDither) {
          // u moves by the signed noise byte, v by it XOR 0xAA, in 1/256 texel.
          const int32_t ku = static_cast<int8_t>(b);
          const int32_t kv = ku ^ 0xAA;
          col = static_cast<uint32_t>((static_cast<int32_t>(t & 0xFFFFu) + ku) >> 8) & kMask;
          texrow = static_cast<uint32_t>((static_cast<int32_t>(t >> 16) + kv) >> 8) & kMask;
        } else {
          col = (t >> 8) & kMask;
          texrow = (t >> 24) & kMask;
        }
        const uint8_t tex = texels[texrow * kSize + col];
        uint8_t p = tex;
        if constexpr (kPx == Px::kLit) p = shade_row[tex];
        if constexpr (kPx == Px::kSmooth) p = shade_row[ShadeIndex(c, b) + tex];
        uint32_t pass = tex != 0;
        if constexpr (kStipple) pass &= static_cast<uint32_t>(b < opacity);
        uint16_t d = 0;
        if constexpr (kZ != Z::kNone) {
          d = static_cast<uint16_t>(static_cast<uint32_t>(z) >> 16);
          pass &= static_cast<uint32_t>(kZ == Z::kLess ? cell[i] < d : cell[i] <= d);
        }
        const uint32_t mask = 0u - pass;
        px[i] = static_cast<uint8_t>((px[i] & ~mask) | (p & mask));
        if constexpr (kZ != Z::kNone) {
          cell[i] = static_cast<uint16_t>((cell[i] & ~mask) | (d & mask));
          z = Add(z, depth_step);
        }
        if constexpr (kPx == Px::kSmooth) c = Add(c, shade_step);
        if constexpr (kNoise) noise = NoiseStep(noise);
        t = (t + uv_step) & kPackedUvMask;
      }
    }
    row += pitch;
    if constexpr (kZ != Z::kNone) depth_row = StepDepthRow(depth_row, depth_pitch);
    if constexpr (kNoise) seed = NoiseStep(seed);
  }
  s->LeftX = left;
  s->RightX = right;
  s->RowAddress = row;
  s->RowCount = 0;
  s->Interp = uv;
  if constexpr (kNoise) s->RowSeed = seed;
  if constexpr (kPx == Px::kSmooth) s->Shade = shade;
  if constexpr (kZ != Z::kNone) {
    s->Depth = depth;
    s->DepthRowAddress = depth_row;
  }
}

// Packed u|v from coordinates shifted down first: 0 for 128 x 128 texels, 3 for 16 x 16.
template <int kShift>
struct UvPart : NoPart {
  static int32_t U(const DeviceVertex& v) { return v.u >> kShift; }
  static int32_t V(const DeviceVertex& v) { return v.v >> kShift; }
  void General(SpanState& s, const DeviceVertex& t, const DeviceVertex& n, const DeviceVertex& p, int32_t hN,
               int32_t hP, int32_t D) {
    const int32_t dUN = Step(U(t), U(n), hN), dVN = Step(V(t), V(n), hN);
    const int32_t dUP = Step(U(t), U(p), hP), dVP = Step(V(t), V(p), hP);
    s.InterpRowStep = PackUv(dUN, dVN);
    s.InterpStep = PackUv(FixedDivSat(Sub(dUP, dUN), D), FixedDivSat(Sub(dVP, dVN), D));
    s.Interp = PackUv(U(t), V(t));
  }
  void FlatTop(SpanState& s, const DeviceVertex& l, const DeviceVertex& r, const DeviceVertex& e, int32_t h,
               int32_t w) {
    s.InterpStep = PackUv(Step(U(l), U(r), w), Step(V(l), V(r), w));
    s.InterpRowStep = PackUv(Step(U(l), U(e), h), Step(V(l), V(e), h));
    s.Interp = PackUv(U(l), V(l));
  }
  void LeftRestart(SpanState& s, const DeviceVertex& n, const DeviceVertex& p, int32_t h) {
    s.InterpRowStep = PackUv(Step(U(n), U(p), h), Step(V(n), V(p), h));
  }
};

// Per-vertex 8.8 shade of the textured smooth spans, in Shade.
struct TexShadePart : NoPart {
  static int32_t S(const DeviceVertex& v) { return v.shade >> 8; }
  void General(SpanState& s, const DeviceVertex& t, const DeviceVertex& n, const DeviceVertex& p, int32_t hN,
               int32_t hP, int32_t D) {
    const int32_t gN = Step16(S(t), S(n), hN);
    const int32_t gP = Step16Uncut(S(t), S(p), hP);
    const int32_t diff = gP - gN;
    int32_t step = 0;
    if (diff != 0) step = static_cast<int16_t>(static_cast<uint16_t>(
                       static_cast<int32_t>(static_cast<uint32_t>(diff) << 16) / D));
    s.Shade = S(t);
    s.ShadeRowStep = gN;
    s.ShadeStep = step;
  }
  void FlatTop(SpanState& s, const DeviceVertex& l, const DeviceVertex& r, const DeviceVertex& e, int32_t h,
               int32_t w) {
    s.Shade = S(l);
    s.ShadeStep = Step16(S(l), S(r), w);
    s.ShadeRowStep = Step16(S(l), S(e), h);
  }
  void LeftRestart(SpanState& s, const DeviceVertex& n, const DeviceVertex& p, int32_t h) {
    s.ShadeRowStep = Step16(S(n), S(p), h);
  }
};

template <int kSize, bool kDepth, Px kPx, bool kStipple, bool kDither>
void AffineTriangle(DevicePolygon* polygon, const DeviceVertex* a, const DeviceVertex* b, const DeviceVertex* c,
                    SpanRoutine fill) {
  const uint8_t* texels = textured::TexelsOf(polygon);
  if (!texels || !polygon->material) return;
  Limits lim;
  if (!FrameLimits(kDepth, lim)) return;
  SpanState& s = SpanStateBlock;
  if (!textured::PixelSource<kPx, kStipple>(s, polygon)) return;
  s.Texels = texels;
  constexpr bool kNoise = kStipple || kDither || kPx == Px::kSmooth;
  auto depth = PartIf<kDepth>([&] { return DepthPart(polygon->material); });
  auto shade = PartIf<kPx == Px::kSmooth>([] { return TexShadePart{}; });
  auto seed = PartIf<kNoise>([] { return SeedPart{}; });
  Parts<UvPart<kSize == 16 ? 3 : 0>, decltype(depth), decltype(shade), decltype(seed)> parts(
      UvPart<kSize == 16 ? 3 : 0>{}, depth, shade, seed);
  SetupTriangle(parts, a, b, c, lim, fill);
}

}  // namespace

// Span routines.
void SpanTextured16(SpanState* s) { AffineRows<16, Z::kNone, Px::kTexel, false, false>(s); }
void SpanTextured16Lit(SpanState* s) { AffineRows<16, Z::kNone, Px::kLit, false, false>(s); }
void SpanTextured16Z(SpanState* s) { AffineRows<16, Z::kLess, Px::kTexel, false, false>(s); }
void SpanTextured16LitZ(SpanState* s) { AffineRows<16, Z::kLess, Px::kLit, false, false>(s); }

void SpanTexturedStipple(SpanState* s) { AffineRows<128, Z::kNone, Px::kTexel, true, false>(s); }
void SpanTexturedStippleLit(SpanState* s) { AffineRows<128, Z::kNone, Px::kLit, true, false>(s); }
void SpanTexturedStippleZ(SpanState* s) { AffineRows<128, Z::kLess, Px::kTexel, true, false>(s); }
void SpanTexturedStippleLitZ(SpanState* s) { AffineRows<128, Z::kLess, Px::kLit, true, false>(s); }
void SpanTextured16Stipple(SpanState* s) { AffineRows<16, Z::kNone, Px::kTexel, true, false>(s); }
void SpanTextured16StippleLit(SpanState* s) { AffineRows<16, Z::kNone, Px::kLit, true, false>(s); }
void SpanTextured16StippleZ(SpanState* s) { AffineRows<16, Z::kLess, Px::kTexel, true, false>(s); }
void SpanTextured16StippleLitZ(SpanState* s) { AffineRows<16, Z::kLess, Px::kLit, true, false>(s); }

void SpanTexturedSmooth(SpanState* s) { AffineRows<128, Z::kNone, Px::kSmooth, false, false>(s); }
void SpanTexturedSmoothZ(SpanState* s) { AffineRows<128, Z::kLess, Px::kSmooth, false, false>(s); }
void SpanTexturedStippleSmooth(SpanState* s) { AffineRows<128, Z::kNone, Px::kSmooth, true, false>(s); }
void SpanTexturedStippleSmoothZ(SpanState* s) { AffineRows<128, Z::kLess, Px::kSmooth, true, false>(s); }
void SpanTextured16Smooth(SpanState* s) { AffineRows<16, Z::kNone, Px::kSmooth, false, false>(s); }
void SpanTextured16SmoothZ(SpanState* s) { AffineRows<16, Z::kLess, Px::kSmooth, false, false>(s); }
void SpanTextured16StippleSmooth(SpanState* s) { AffineRows<16, Z::kNone, Px::kSmooth, true, false>(s); }
void SpanTextured16StippleSmoothZ(SpanState* s) { AffineRows<16, Z::kLess, Px::kSmooth, true, false>(s); }

void SpanTexturedDither(SpanState* s) { AffineRows<128, Z::kNone, Px::kTexel, false, true>(s); }
void SpanTexturedDitherLit(SpanState* s) { AffineRows<128, Z::kNone, Px::kLit, false, true>(s); }
void SpanTexturedDitherZ(SpanState* s) { AffineRows<128, Z::kLess, Px::kTexel, false, true>(s); }
void SpanTexturedDitherLitZ(SpanState* s) { AffineRows<128, Z::kLess, Px::kLit, false, true>(s); }
void SpanTextured16Dither(SpanState* s) { AffineRows<16, Z::kNone, Px::kTexel, false, true>(s); }
void SpanTextured16DitherLit(SpanState* s) { AffineRows<16, Z::kNone, Px::kLit, false, true>(s); }
void SpanTextured16DitherZ(SpanState* s) { AffineRows<16, Z::kLess, Px::kTexel, false, true>(s); }
void SpanTextured16DitherLitZ(SpanState* s) { AffineRows<16, Z::kLess, Px::kLit, false, true>(s); }

// Handlers.
#define AFFINE_HANDLER(name, size, depth, px, stipple, dither, fill)                    \
  void name(DevicePolygon* p, DeviceVertex* a, DeviceVertex* b, DeviceVertex* c) {     \
    AffineTriangle<size, depth, px, stipple, dither>(p, a, b, c, &fill);               \
  }

AFFINE_HANDLER(TriTextured16, 16, false, Px::kTexel, false, false, SpanTextured16)
AFFINE_HANDLER(TriTextured16Lit, 16, false, Px::kLit, false, false, SpanTextured16Lit)
AFFINE_HANDLER(TriTextured16Z, 16, true, Px::kTexel, false, false, SpanTextured16Z)
AFFINE_HANDLER(TriTextured16LitZ, 16, true, Px::kLit, false, false, SpanTextured16LitZ)

AFFINE_HANDLER(TriTexturedStipple, 128, false, Px::kTexel, true, false, SpanTexturedStipple)
AFFINE_HANDLER(TriTexturedStippleLit, 128, false, Px::kLit, true, false, SpanTexturedStippleLit)
AFFINE_HANDLER(TriTexturedStippleZ, 128, true, Px::kTexel, true, false, SpanTexturedStippleZ)
AFFINE_HANDLER(TriTexturedStippleLitZ, 128, true, Px::kLit, true, false, SpanTexturedStippleLitZ)
AFFINE_HANDLER(TriTextured16Stipple, 16, false, Px::kTexel, true, false, SpanTextured16Stipple)
AFFINE_HANDLER(TriTextured16StippleLit, 16, false, Px::kLit, true, false, SpanTextured16StippleLit)
AFFINE_HANDLER(TriTextured16StippleZ, 16, true, Px::kTexel, true, false, SpanTextured16StippleZ)
AFFINE_HANDLER(TriTextured16StippleLitZ, 16, true, Px::kLit, true, false, SpanTextured16StippleLitZ)

AFFINE_HANDLER(TriTexturedSmooth, 128, false, Px::kSmooth, false, false, SpanTexturedSmooth)
AFFINE_HANDLER(TriTexturedSmoothZ, 128, true, Px::kSmooth, false, false, SpanTexturedSmoothZ)
AFFINE_HANDLER(TriTexturedStippleSmooth, 128, false, Px::kSmooth, true, false, SpanTexturedStippleSmooth)
AFFINE_HANDLER(TriTexturedStippleSmoothZ, 128, true, Px::kSmooth, true, false, SpanTexturedStippleSmoothZ)
AFFINE_HANDLER(TriTextured16Smooth, 16, false, Px::kSmooth, false, false, SpanTextured16Smooth)
AFFINE_HANDLER(TriTextured16SmoothZ, 16, true, Px::kSmooth, false, false, SpanTextured16SmoothZ)
AFFINE_HANDLER(TriTextured16StippleSmooth, 16, false, Px::kSmooth, true, false, SpanTextured16StippleSmooth)
AFFINE_HANDLER(TriTextured16StippleSmoothZ, 16, true, Px::kSmooth, true, false, SpanTextured16StippleSmoothZ)

AFFINE_HANDLER(TriTexturedDither, 128, false, Px::kTexel, false, true, SpanTexturedDither)
AFFINE_HANDLER(TriTexturedDitherLit, 128, false, Px::kLit, false, true, SpanTexturedDitherLit)
AFFINE_HANDLER(TriTexturedDitherZ, 128, true, Px::kTexel, false, true, SpanTexturedDitherZ)
AFFINE_HANDLER(TriTexturedDitherLitZ, 128, true, Px::kLit, false, true, SpanTexturedDitherLitZ)
AFFINE_HANDLER(TriTextured16Dither, 16, false, Px::kTexel, false, true, SpanTextured16Dither)
AFFINE_HANDLER(TriTextured16DitherLit, 16, false, Px::kLit, false, true, SpanTextured16DitherLit)
AFFINE_HANDLER(TriTextured16DitherZ, 16, true, Px::kTexel, false, true, SpanTextured16DitherZ)
AFFINE_HANDLER(TriTextured16DitherLitZ, 16, true, Px::kLit, false, true, SpanTextured16DitherLitZ)

#undef AFFINE_HANDLER
