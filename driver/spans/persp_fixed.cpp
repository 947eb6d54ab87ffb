// Fixed-point perspective span routines: one line loop, and per routine a table of ten span
// walkers (eight long-path ones with the walking direction and the signs of the u and v
// increments built in, two short-path ones), so the pixel loops test no flags.
#include "driver/spans/persp_fixed.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>

#include "driver/spans/persp_depth.h"
#include "driver/spans/persp_tables.h"

namespace {

enum class Z { kNone, kLessEqual, kLess };
enum class Px { kTexel, kLit, kSmooth };
// Texel-coordinate offsets from the noise byte d: none; the span modes' unsigned ones (the
// plain modes swap them between the paths); the handler layer's signed quarter texels.
enum class Off { kNone, kModePlain, kModeZ, kSigned };

inline uint32_t U32(int32_t v) { return static_cast<uint32_t>(v); }
inline int32_t Add(int32_t a, int32_t b) { return static_cast<int32_t>(U32(a) + U32(b)); }
inline int32_t Sub(int32_t a, int32_t b) { return static_cast<int32_t>(U32(a) - U32(b)); }
inline int32_t Shl(int32_t v, int n) { return static_cast<int32_t>(U32(v) << (n & 31)); }

// Shade-table byte offset of a dithered 8.8 shade, kept inside the 32 levels.
inline uint32_t ShadeIndex(int32_t shade, uint32_t d) {
  return static_cast<uint32_t>(std::clamp<int32_t>(Add(shade, static_cast<int32_t>(d)), 0, 0x1FFF)) & 0x1F00u;
}

// ExpTable positions that a cursor may hold: cursor + (256..511) stays inside the table.
constexpr int32_t kCursorMin = -kExpTableCentre - 256;
constexpr int32_t kCursorMax = kExpTableCentre - 512;

template <int kSize, Z kZ, Px kPx, bool kStipple, Off kOff, bool kHandler>
struct Cfg {
  static constexpr int size = kSize;
  static constexpr Z z = kZ;
  static constexpr Px px = kPx;
  static constexpr bool stipple = kStipple;
  static constexpr Off off = kOff;
  static constexpr bool handler = kHandler;
};

// One span of SpanWidth pixels from the working fields; kDir 0 walks right from SpanRowBase,
// 1 walks left. Long walkers step u and v along the hyperbola, decreasing where kUDec/kVDec.
// Pairing the u and v sums into vector lanes costs more moves than it saves here.
template <class C, int kDir, bool kLong, bool kUDec, bool kVDec>
__attribute__((optimize("no-tree-slp-vectorize"))) void Walk(SpanState* s) {
  constexpr uint32_t kMask = C::size - 1;
  constexpr int kStep = kDir == 0 ? 1 : -1;
  const uint8_t* texels = s->Texels;
  const uint8_t* shade_row = s->ShadeRow;
  const uint32_t opacity = s->Opacity;
  uint8_t* px = s->SpanRowBase;
  uint16_t* cell = s->SpanDepthBase;
  int32_t z = s->SpanDepthAcc;
  const int32_t z_step = s->DepthStep;
  int32_t shade = s->SpanShade;
  const int32_t shade_step = s->ShadeStep;
  uint32_t dither = s->SpanDither;
  uint32_t acc_u = U32(s->AccU), acc_v = U32(s->AccV);
  const uint32_t step_u = U32(s->StepU), step_v = U32(s->StepV);
  uint32_t den_a = s->DenA, den_b = s->DenB, den_c = s->DenC;
  // The table base in a local: the byte stores below could alias the global pointer and
  // would force a reload per pixel.
  const int32_t* const exp_table = ExpTable;
  // The cursors as pointers one octave in, so that the byte logarithm indexes them directly.
  const uint8_t* const log_table = LogTable;
  const int32_t* lowest = nullptr;
  const int32_t* exp_u = nullptr;
  const int32_t* exp_v = nullptr;
  uint32_t j = 0;
  if constexpr (kLong) {
    // Only long walkers use the tables; short ones run before the tables are built.
    lowest = exp_table + kCursorMin + 256;
    exp_u = s->ExpCursorU + 256;
    exp_v = s->ExpCursorV + 256;
    j = log_table[(den_a >> 23) & 0xFFu];
  }
  for (int32_t k = 0, n = s->SpanWidth; k < n; ++k) {
    if constexpr (kLong) {
      const uint32_t inc_u = U32(exp_u[j]), inc_v = U32(exp_v[j]);
      acc_u = kUDec ? acc_u - inc_u : acc_u + inc_u;
      acc_v = kVDec ? acc_v - inc_v : acc_v + inc_v;
      den_a -= den_b;
      // Keep the denominator normalised; each doubling moves the cursors one octave.
      for (int guard = 0; __builtin_expect(static_cast<int32_t>(den_a) > 0, 0) && guard < 32; ++guard) {
        den_a <<= 1, den_b <<= 1, den_c <<= 1;
        exp_u = exp_u - lowest >= 256 ? exp_u - 256 : lowest;
        exp_v = exp_v - lowest >= 256 ? exp_v - 256 : lowest;
      }
      den_b -= den_c;
      j = log_table[(den_a >> 23) & 0xFFu];
    } else if constexpr (!C::handler) {
      // The span modes step before the fetch: the first pixel is one step in.
      acc_u += step_u;
      acc_v += step_v;
    }
    const uint32_t d = dither & 0xFFu;
    dither ^= dither >> 6;
    int32_t a = 0, b = 0;
    if constexpr (C::off == Off::kModePlain) {
      a = static_cast<int32_t>(kLong ? d ^ 0xAAu : d);
      b = static_cast<int32_t>(kLong ? d : d ^ 0xAAu);
    } else if constexpr (C::off == Off::kModeZ) {
      a = static_cast<int32_t>(d ^ 0xAAu);
      b = static_cast<int32_t>(d);
    } else if constexpr (C::off == Off::kSigned) {
      a = static_cast<int8_t>(d ^ 0xAAu);
      b = static_cast<int8_t>(d);
    }
    // The screen door and the depth decide before the texel is fetched; a pixel that fails
    // keeps its bytes unwritten.
    bool pass = true;
    if constexpr (C::stipple) pass = d < opacity;
    uint16_t zd = 0;
    if constexpr (C::z != Z::kNone) {
      z = Add(z, z_step);
      zd = static_cast<uint16_t>(U32(z) >> 16);
      pass = pass && (C::z == Z::kLess ? *cell < zd : *cell <= zd);
    }
    if (pass) {
      const uint32_t col = static_cast<uint32_t>((static_cast<int32_t>(acc_u >> 16) + a) >> 9) & kMask;
      const uint32_t row = static_cast<uint32_t>((static_cast<int32_t>(acc_v >> 16) + b) >> 9) & kMask;
      const uint8_t tex = texels[row * C::size + col];
      if (tex != 0) {
        uint8_t p = tex;
        if constexpr (C::px == Px::kLit) p = shade_row[tex];
        if constexpr (C::px == Px::kSmooth) p = shade_row[ShadeIndex(shade, d) + tex];
        *px = p;
        if constexpr (C::z != Z::kNone) *cell = zd;
      }
    }
    px += kStep;
    if constexpr (C::z != Z::kNone) cell += kStep;
    if constexpr (C::px == Px::kSmooth) shade = Add(shade, shade_step);
    if constexpr (!kLong && C::handler) {
      acc_u += step_u;
      acc_v += step_v;
    }
  }
  s->AccU = static_cast<int32_t>(acc_u);
  s->AccV = static_cast<int32_t>(acc_v);
  s->DenA = den_a, s->DenB = den_b, s->DenC = den_c;
  s->SpanDither = dither;
  s->SpanShade = shade;
  s->SpanDepthAcc = z;
  s->SpanCountNeg = 0;
}

template <class C>
constexpr SpanRoutine kTable[10] = {
    &Walk<C, 0, true, false, false>, &Walk<C, 1, true, false, false>, &Walk<C, 0, true, false, true>,
    &Walk<C, 1, true, false, true>,  &Walk<C, 0, true, true, false>,  &Walk<C, 1, true, true, false>,
    &Walk<C, 0, true, true, true>,   &Walk<C, 1, true, true, true>,   &Walk<C, 0, false, false, false>,
    &Walk<C, 1, false, false, false>,
};

// The parts of a single-precision value the long path works with.
struct FloatParts {
  int32_t e;   // unbiased exponent
  uint32_t m;  // mantissa as 1.31
  int32_t l;   // log2 in 8.8
};
inline FloatParts Parts(float x) {
  const uint32_t bits = std::bit_cast<uint32_t>(x);
  const uint32_t frac = bits & 0x7FFFFFu;
  const int32_t e = static_cast<int32_t>((bits >> 23) & 0xFFu) - 127;
  return {e, (frac << 8) | 0x80000000u, 256 * e + LogTable[frac >> 15]};
}
inline uint32_t Align(uint32_t m, int32_t shift) {
  if (shift > 31) return 0;
  if (shift < 0) return 0xFFFFFFFFu;  // larger than the denominator it is aligned to
  return m >> shift;
}

// End quotient of one edge: the span modes divide unsigned into 16 bits, the handler layer
// signed; a divisor whose integer part is 0 counts as 1.
template <bool kHandler>
inline int32_t EndQuotient(uint32_t num, int32_t q, int32_t shift) {
  uint32_t div = (U32(q) >> 16) & 0xFFFFu;
  if (div == 0) div = 1;
  // The divisor lies in 1..65535: a 32-bit division is exact either way.
  int32_t quot;
  if constexpr (kHandler)
    quot = static_cast<int32_t>(num) / static_cast<int32_t>(div);
  else
    quot = static_cast<int32_t>((num / div) & 0xFFFFu);
  return Shl(quot, shift & 0xFF);
}

// Span walkers of one mode bound at compile time, so the line loop makes no indirect call.
template <class C>
struct BoundWalkers {
  static void Call(SpanState* s, int entry) {
    switch (entry) {
      case 0: Walk<C, 0, true, false, false>(s); break;
      case 1: Walk<C, 1, true, false, false>(s); break;
      case 2: Walk<C, 0, true, false, true>(s); break;
      case 3: Walk<C, 1, true, false, true>(s); break;
      case 4: Walk<C, 0, true, true, false>(s); break;
      case 5: Walk<C, 1, true, true, false>(s); break;
      case 6: Walk<C, 0, true, true, true>(s); break;
      case 7: Walk<C, 1, true, true, true>(s); break;
      case 8: Walk<C, 0, false, false, false>(s); break;
      default: Walk<C, 1, false, false, false>(s); break;
    }
  }
};
// The shared driver enters whatever table the block holds.
struct TableWalkers {
  static void Call(SpanState* s, int entry) { s->CurrentSpanTable[entry](s); }
};

template <bool kHandler, Z kZ, class Walkers>
void LineLoop(SpanState* s) {
  const int32_t count = s->RowCount;
  const int dir = s->PerspDirection & 1;
  const uint32_t* dither_row = dir ? s->DitherRowX2 : s->DitherRowX;
  for (;;) {
    if (--s->RowCount < 0) break;
    s->Shade = Add(s->Shade, s->ShadeRowStep);
    s->SpanShade = s->Shade;
    s->Depth = Add(s->Depth, s->DepthRowStep);
    s->SpanDepthAcc = Sub(s->Depth, s->DepthStep);
    s->RightQ = Add(s->RightQ, s->RightQStep);
    s->RightUQ += U32(s->RightUQStep);
    s->RightVQ += U32(s->RightVQStep);
    s->LeftQ = Add(s->LeftQ, s->LeftQStep);
    s->LeftUQ += U32(s->LeftUQStep);
    s->LeftVQ += U32(s->LeftVQStep);
    s->RightX = Add(s->RightX, s->RightXStep);
    s->LeftX = Add(s->LeftX, s->LeftXStep);
    const int32_t xl = s->LeftX >> 16, xr = s->RightX >> 16;
    const int32_t n = RowDrawn(s->RowAddress) ? xr - xl : 0;
    // Pixels past the last one whose depth passes change nothing: the walk stops there, and
    // a span hidden everywhere needs neither its divisions nor its set-up.
    int32_t walk = n;
    if constexpr (kZ != Z::kNone) {
      if (n > 0 && s->DepthRowAddress)
        walk = persp_depth::WalkExtent<kZ == Z::kLessEqual>(s->DepthRowAddress + (dir ? xr - 1 : xl), dir ? -1 : 1, n,
                                                            U32(s->Depth), U32(s->DepthStep));
    }
    if (walk > 0) {
      s->FarU = EndQuotient<kHandler>(s->RightUQ, s->RightQ, s->RightShift);
      s->FarV = EndQuotient<kHandler>(s->RightVQ, s->RightQ, s->RightShift);
      s->StartU = EndQuotient<kHandler>(s->LeftUQ, s->LeftQ, s->LeftShift);
      s->StartV = EndQuotient<kHandler>(s->LeftVQ, s->LeftQ, s->LeftShift);
      int32_t qs = s->LeftQ, qf = s->RightQ;
      if (dir) {
        std::swap(s->StartU, s->FarU);
        std::swap(s->StartV, s->FarV);
        std::swap(qs, qf);
      }
      const int32_t D = Sub(qs, qf);
      bool take_long;
      if constexpr (kHandler)
        take_long = !(Sub(qf, qs) > 0 || (qs >> 22) == (qf >> 22));
      else
        take_long = D >= 0x800000;
      s->SpanWidth = walk;
      s->SpanCountNeg = -walk;
      s->SpanRowBase = s->RowAddress + (dir ? xr - 1 : xl);
      s->SpanDepthBase = s->DepthRowAddress ? s->DepthRowAddress + (dir ? xr - 1 : xl) : nullptr;
      s->SpanDither = dither_row[(dir ? xr : xl) & 7] ^ (s->RowSeed & 0xFFu);
      int entry;
      if (!take_long || !ExpTable) {
        s->StepU = Shl(Shl(Sub(s->FarU, s->StartU), 8) / n, 8);
        s->StepV = Shl(Shl(Sub(s->FarV, s->StartV), 8) / n, 8);
        entry = 8 + dir;
      } else {
        int32_t du = Sub(s->FarU, s->StartU), dv = Sub(s->FarV, s->StartV);
        if (du == 0) du = 1;
        if (dv == 0) dv = 1;
        entry = dir + (dv < 0 ? 2 : 0) + (du < 0 ? 4 : 0);
        // Double precision: every product is rounded to single precision at the end.
        const double mag_u = std::abs(static_cast<double>(du));
        const double mag_v = std::abs(static_cast<double>(dv));
        const double P = static_cast<double>(n) * qs, Dl = static_cast<double>(D);
        const FloatParts den0 = Parts(static_cast<float>(P * P - Dl * P));
        const FloatParts first = Parts(static_cast<float>(2 * Dl * Dl - 2 * Dl * P));
        const FloatParts second = Parts(static_cast<float>(2 * Dl * Dl));
        const double product = static_cast<double>(qf) * P;
        const FloatParts num_v = Parts(static_cast<float>(mag_v * product));
        const FloatParts num_u = Parts(static_cast<float>(mag_u * product));
        s->DenA = den0.m;
        s->DenB = Align(first.m, den0.e - first.e);
        s->DenC = Align(second.m, den0.e - second.e);
        const int32_t base = 2048 + 256 * (den0.e - 1);
        s->ExpCursorV = ExpTable + std::clamp(base - num_v.l, kCursorMin, kCursorMax);
        s->ExpCursorU = ExpTable + std::clamp(base - num_u.l, kCursorMin, kCursorMax);
        s->FarQ = qf;
      }
      s->AccU = Shl(s->StartU, 16);
      s->AccV = Shl(s->StartV, 16);
      Walkers::Call(s, entry);
    }
    s->RowSeed ^= s->RowSeed >> 6;
    if (s->DepthRowAddress) s->DepthRowAddress = StepDepthRow(s->DepthRowAddress, s->DepthPitch);
    s->RowAddress += s->RowPitch;
  }
  if constexpr (kHandler) s->RowCount = count;
}

template <class C>
void Run(SpanState* s) {
  s->CurrentSpanTable = kTable<C>;
  LineLoop<C::handler, C::z, BoundWalkers<C>>(s);
}

}  // namespace

void PerspScanlineDriver(SpanState* s) { LineLoop<false, Z::kNone, TableWalkers>(s); }

void SpanPerspFixedDither(SpanState* s) { Run<Cfg<128, Z::kNone, Px::kTexel, false, Off::kModePlain, false>>(s); }
void SpanPerspFixedDitherLit(SpanState* s) { Run<Cfg<128, Z::kNone, Px::kLit, false, Off::kModePlain, false>>(s); }
void SpanPerspFixedDitherZ(SpanState* s) { Run<Cfg<128, Z::kLessEqual, Px::kTexel, false, Off::kModeZ, false>>(s); }
void SpanPerspFixedDitherLitZ(SpanState* s) { Run<Cfg<128, Z::kLessEqual, Px::kLit, false, Off::kModeZ, false>>(s); }
void SpanPerspFixedDitherSmooth(SpanState* s) { Run<Cfg<128, Z::kNone, Px::kSmooth, false, Off::kNone, false>>(s); }

void SpanPerspFixedStippleZ(SpanState* s) { Run<Cfg<128, Z::kLess, Px::kTexel, true, Off::kNone, true>>(s); }
void SpanPerspFixedStippleSmoothZ(SpanState* s) { Run<Cfg<128, Z::kLess, Px::kSmooth, true, Off::kNone, true>>(s); }
void SpanPerspFixed16StippleZ(SpanState* s) { Run<Cfg<16, Z::kLess, Px::kTexel, true, Off::kNone, true>>(s); }
void SpanPerspFixed16StippleSmoothZ(SpanState* s) { Run<Cfg<16, Z::kLess, Px::kSmooth, true, Off::kNone, true>>(s); }
void SpanPerspFixed16Dither(SpanState* s) { Run<Cfg<16, Z::kNone, Px::kTexel, false, Off::kSigned, true>>(s); }
void SpanPerspFixed16DitherLit(SpanState* s) { Run<Cfg<16, Z::kNone, Px::kLit, false, Off::kSigned, true>>(s); }
void SpanPerspFixed16DitherZ(SpanState* s) { Run<Cfg<16, Z::kLess, Px::kTexel, false, Off::kSigned, true>>(s); }
void SpanPerspFixed16DitherLitZ(SpanState* s) { Run<Cfg<16, Z::kLess, Px::kLit, false, Off::kSigned, true>>(s); }
