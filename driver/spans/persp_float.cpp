// Floating-point perspective span routines. Per row: step the edges and the six float
// values, divide where the texture coordinates must be exact, and draw runs of pixels that
// step a packed coordinate with one integer addition. Size, depth, pixel kind and screen
// door are template choices, so the pixel loops test no flags.
#include "driver/spans/persp_float.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "driver/spans/persp_depth.h"

const float ReciprocalTable[28] = {
    1.0f,      1.0f,      0.5f,      0.333333f, 0.25f,     0.2f,      0.166667f,
    0.142857f, 0.125f,    0.111111f, 0.1f,      0.090909f, 0.083333f, 0.076923f,
    0.071429f, 0.066667f, 0.0625f,   0.058824f, 0.055556f, 0.052632f, 0.05f,
    0.047619f, 0.045455f, 0.043478f, 0.0f,      0.0625f,   0.125f,    0.1875f,
};

namespace {

enum class Px { kTexel, kLit, kSmooth };

inline int32_t Add(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t Sub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// Integer conversions of coordinates: outside any sensible range (or not a number) they
// give 0 instead of undefined behaviour; inside it they keep the low 32 bits.
constexpr double kConvertLimit = 9.0e15;
// Below 2^50 the sum with 1.5 x 2^52 rounds to the nearest integer (ties to even) in the
// low bits of its pattern, without a library call.
constexpr double kRoundLimit = 1125899906842624.0;
constexpr double kRoundBias = 6755399441055744.0;
inline int32_t Nearest(double x) {
  if (std::fabs(x) < kRoundLimit) {
    const double biased = x + kRoundBias;
    uint64_t bits;
    std::memcpy(&bits, &biased, sizeof bits);
    return static_cast<int32_t>(static_cast<uint32_t>(bits));
  }
  if (!(std::fabs(x) < kConvertLimit)) return 0;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(std::nearbyint(x))));
}
inline int32_t Trunc(double x) {
  if (!(std::fabs(x) < kConvertLimit)) return 0;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(x)));
}

inline uint32_t ShadeIndex(int32_t shade, uint32_t d) {
  return static_cast<uint32_t>(std::clamp<int32_t>(Add(shade, static_cast<int32_t>(d)), 0, 0x1FFF)) & 0x1F00u;
}

// Running per-row state of a pixel run: the frame and depth pointers, the depth, the shade
// and the noise carry on from run to run within a row.
struct RunState {
  uint8_t* px;
  uint16_t* cell;
  int32_t z;
  int32_t shade;
  uint32_t noise;
  int32_t todo;  // pixels up to the last one the depth lets through; the rest change nothing
};

template <int kSize, bool kDepth, Px kPx, bool kStipple, bool kStippleFormat>
struct Spans {
  // Texel offset of a packed coordinate: the fillers' (u 9 and v 7 fraction bits) and the
  // screen-door format (u in bits 16-31, v integer in bits 7-13).
  static uint32_t TexelOffset(uint32_t p) {
    constexpr uint32_t kMask = kSize - 1;
    return ((p >> 7) & kMask) * kSize + ((p >> 25) & kMask);
  }

  // A run whose shade plus any dither byte stays inside the table needs no clamp per
  // pixel; the shade is linear along the run, so its two ends decide.
  static bool ShadeInside(int32_t shade, int32_t step, int32_t m) {
    const int64_t last = shade + static_cast<int64_t>(step) * (m - 1);
    return std::min<int64_t>(shade, last) >= 0 && std::max<int64_t>(shade, last) + 0xFF <= 0x1FFF;
  }

  template <bool kClamp>
  static void Pixels(const SpanState* s, RunState& r, uint32_t p, uint32_t ps, int32_t m) {
    constexpr bool kNoise = kStipple || kPx == Px::kSmooth;
    const uint8_t* texels = s->Texels;
    const uint8_t* shade_row = s->ShadeRow;
    const uint32_t z_step = static_cast<uint32_t>(s->DepthStep);
    const int32_t shade_step = s->ShadeStep;
    const uint32_t opacity = s->Opacity;
    uint8_t* px = r.px;
    uint16_t* cell = r.cell;
    uint32_t z = static_cast<uint32_t>(r.z);
    int32_t shade = r.shade;
    uint32_t noise = r.noise;
    if constexpr (kDepth && !kNoise) {
      // The depth test and the texel's transparency as a write mask: a branch per pixel on
      // either mispredicts on the edges of every hidden or clear patch.
      for (int32_t i = 0; i < m; ++i) {
        const uint8_t tex = texels[TexelOffset(p)];
        p += ps;
        const uint16_t zd = static_cast<uint16_t>(z >> 16), held = cell[i];
        z += z_step;
        const uint8_t v = kPx == Px::kLit ? shade_row[tex] : tex;
        const uint32_t write = 0u - static_cast<uint32_t>((held < zd) & (tex != 0));
        px[i] = static_cast<uint8_t>((px[i] & ~write) | (v & write));
        cell[i] = static_cast<uint16_t>((held & ~write) | (zd & write));
      }
      r.px = px + m;
      r.cell = cell + m;
      r.z = static_cast<int32_t>(z);
      return;
    }
    for (int32_t i = 0; i < m; ++i) {
      const uint32_t offset = TexelOffset(p);
      p += ps;
      const uint32_t d = noise & 0xFFu;
      // The screen door and the depth decide before the texel is fetched; a pixel that
      // fails keeps its bytes unwritten.
      bool pass = true;
      if constexpr (kStipple) pass = d < opacity;
      uint16_t zd = 0;
      if constexpr (kDepth) {
        zd = static_cast<uint16_t>(z >> 16);
        pass = pass && cell[i] < zd;
        z += z_step;
      }
      if (pass) {
        const uint8_t tex = texels[offset];
        if (tex != 0) {
          uint8_t v = tex;
          if constexpr (kPx == Px::kLit) v = shade_row[tex];
          if constexpr (kPx == Px::kSmooth) {
            const uint32_t row = kClamp ? ShadeIndex(shade, d)
                                        : static_cast<uint32_t>(Add(shade, static_cast<int32_t>(d))) & 0x1F00u;
            v = shade_row[row + tex];
          }
          px[i] = v;
          if constexpr (kDepth) cell[i] = zd;
        }
      }
      if constexpr (kPx == Px::kSmooth) shade = Add(shade, shade_step);
      if constexpr (kNoise) noise ^= noise >> 6;
    }
    r.px = px + m;
    if constexpr (kDepth) r.cell = cell + m;
    r.z = static_cast<int32_t>(z), r.shade = shade, r.noise = noise;
  }

  // Moves the run state past m pixels that draw nothing.
  static void Skip(const SpanState* s, RunState& r, int32_t m) {
    r.px += m;
    if constexpr (kDepth) r.cell += m;
    r.z = static_cast<int32_t>(static_cast<uint32_t>(r.z) + static_cast<uint32_t>(s->DepthStep) * static_cast<uint32_t>(m));
    if constexpr (kPx == Px::kSmooth)
      r.shade = static_cast<int32_t>(static_cast<uint32_t>(r.shade) + static_cast<uint32_t>(s->ShadeStep) * static_cast<uint32_t>(m));
    if constexpr (kStipple || kPx == Px::kSmooth)
      for (int32_t i = 0; i < m; ++i) r.noise ^= r.noise >> 6;
  }

#ifdef __SSE2__
  // Sixteen pixels of a plain or lit filler with the depth test at once: the depth test and
  // the texel's transparency make one write mask, where the pixel loop would branch on each
  // pixel. Pixels the mask leaves out keep their bytes.
  static void Pixels16(const SpanState* s, RunState& r, uint32_t p, uint32_t ps) {
    const __m128i flip = _mm_set1_epi16(static_cast<int16_t>(0x8000));
    const __m128i half = _mm_set1_epi32(0x8000);
    const uint32_t step = static_cast<uint32_t>(s->DepthStep), z = static_cast<uint32_t>(r.z);
    // The depths' high halves less 0x8000, so that signed 16-bit lanes compare them unsigned.
    __m128i lane = _mm_setr_epi32(static_cast<int32_t>(z), static_cast<int32_t>(z + step),
                                  static_cast<int32_t>(z + 2 * step), static_cast<int32_t>(z + 3 * step));
    const __m128i four = _mm_set1_epi32(static_cast<int32_t>(4 * step));
    __m128i hi[4];
    for (int k = 0; k < 4; ++k, lane = _mm_add_epi32(lane, four)) hi[k] = _mm_sub_epi32(_mm_srli_epi32(lane, 16), half);
    const __m128i d0 = _mm_packs_epi32(hi[0], hi[1]), d1 = _mm_packs_epi32(hi[2], hi[3]);
    uint16_t* cell = r.cell;
    uint8_t* px = r.px;
    const __m128i c0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cell));
    const __m128i c1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cell + 8));
    const __m128i pass = _mm_packs_epi16(_mm_cmpgt_epi16(d0, _mm_xor_si128(c0, flip)),
                                         _mm_cmpgt_epi16(d1, _mm_xor_si128(c1, flip)));
    r.z = static_cast<int32_t>(z + 16 * step);
    r.px = px + 16;
    r.cell = cell + 16;
    if (_mm_movemask_epi8(pass) == 0) return;
    const uint8_t* texels = s->Texels;
    const uint8_t* shade_row = s->ShadeRow;
    alignas(16) uint8_t tex[16], value[16];
    for (int i = 0; i < 16; ++i, p += ps) {
      const uint8_t t = texels[TexelOffset(p)];
      tex[i] = t;
      value[i] = kPx == Px::kLit ? shade_row[t] : t;
    }
    const __m128i zero = _mm_setzero_si128();
    const __m128i write = _mm_andnot_si128(_mm_cmpeq_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(tex)), zero), pass);
    const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px));
    const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(value));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(px), _mm_or_si128(_mm_and_si128(write, v), _mm_andnot_si128(write, old)));
    const __m128i w0 = _mm_unpacklo_epi8(write, write), w1 = _mm_unpackhi_epi8(write, write);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cell),
                     _mm_or_si128(_mm_and_si128(w0, _mm_xor_si128(d0, flip)), _mm_andnot_si128(w0, c0)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cell + 8),
                     _mm_or_si128(_mm_and_si128(w1, _mm_xor_si128(d1, flip)), _mm_andnot_si128(w1, c1)));
  }
#endif

  // A piece of a longer row: hidden everywhere, it only moves the run state on.
  static void Piece(const SpanState* s, RunState& r, uint32_t p, uint32_t ps, int32_t m) {
#ifdef __SSE2__
    if constexpr (kDepth && !kStipple && kPx != Px::kSmooth) {
      if (m == 16) {
        r.todo -= m;
        Pixels16(s, r, p, ps);
        return;
      }
    }
#endif
    if constexpr (kDepth) {
      if (!persp_depth::AnyPasses<false>(r.cell, m, static_cast<uint32_t>(r.z), static_cast<uint32_t>(s->DepthStep))) {
        r.todo -= m;
        Skip(s, r, m);
        return;
      }
    }
    Run(s, r, p, ps, m);
  }

  static void Run(const SpanState* s, RunState& r, uint32_t p, uint32_t ps, int32_t m) {
    r.todo -= m;
    if constexpr (kPx == Px::kSmooth) {
      if (!ShadeInside(r.shade, s->ShadeStep, m)) {
        Pixels<true>(s, r, p, ps, m);
        return;
      }
    }
    Pixels<false>(s, r, p, ps, m);
  }

  // Packed start and step of the fillers' format.
  static uint32_t Pack(int32_t u, int32_t v) {
    return (static_cast<uint32_t>(u) << 16) | ((static_cast<uint32_t>(v) & 0xFFFFu) >> 2);
  }
  static uint32_t PackStep(int32_t du, int32_t dv) {
    return (static_cast<uint32_t>(du) << 16) | (static_cast<uint32_t>(dv) & 0x3FFFu);
  }

  // The fillers' row: exact ends for spans up to 20 pixels, else an aligning head, segments
  // of 16 and a tail.
  static void Row(const SpanState* s, RunState& r, int32_t n) {
    const double lw = s->LeftW, lu = s->LeftU, lv = s->LeftV;
    const double rw = s->RightW, ru = s->RightU, rv = s->RightV;
    const double gl = 512.0 / lw, gr = 512.0 / rw;
    const double x0 = gl * lu, y0 = gl * lv;
    int32_t us = Nearest(x0), vs = Nearest(y0);
    if (n <= 20) {
      const double x1 = gr * ru, y1 = gr * rv, rn = ReciprocalTable[n];
      const int32_t du = Nearest((x1 - x0) * rn), dv = Nearest((y1 - y0) * rn) >> 2;
      Run(s, r, Pack(us, vs), PackStep(du, dv), n);
      return;
    }
    const double f = 16.0 / n;
    const double dw = (rw - lw) * f, du16 = (ru - lu) * f, dv16 = (rv - lv) * f;
    double w = lw, u = lu, v = lv;
    const int32_t k = static_cast<int32_t>((0u - reinterpret_cast<uintptr_t>(r.px)) & 3u);
    if (k > 0) {
      const double frac = ReciprocalTable[24 + k];
      w += dw * frac, u += du16 * frac, v += dv16 * frac;
      const double g = 512.0 / w;
      const int32_t ue = Nearest(g * u), ve = Nearest(g * v);
      const int32_t d0u = Sub(ue, us), d0v = Sub(ve, vs);
      int32_t du = 0, dv = 0;
      if (k == 2) du = d0u >> 1, dv = d0v >> 3;
      if (k == 3) du = Add(Add(d0u, d0u), Add(d0u, Add(d0u, d0u))) >> 4, dv = Add(Add(d0v, d0v), Add(d0v, Add(d0v, d0v))) >> 6;
      Piece(s, r, Pack(us, vs), PackStep(du, dv), k);
      us = ue, vs = ve;
      n -= k;
    }
    for (int32_t seg = n >> 4; seg > 0; --seg) {
      if (r.todo <= 0) return;
      w += dw, u += du16, v += dv16;
      const double g = 512.0 / w;
      const int32_t ue = Nearest(g * u), ve = Nearest(g * v);
      Piece(s, r, Pack(us, vs), PackStep(Sub(ue, us) >> 4, Sub(ve, vs) >> 6), 16);
      us = ue, vs = ve;
    }
    const int32_t tail = n & 15;
    if (tail > 0 && r.todo > 0) {
      const double x1 = gr * ru, y1 = gr * rv, rt = ReciprocalTable[tail];
      Piece(s, r, Pack(us, vs), PackStep(Nearest((x1 - us) * rt), Nearest((y1 - vs) * rt) >> 2), tail);
    }
  }

  // The screen-door row: up to 16 pixels in one piece, else blocks of 16 and a tail.
  static uint32_t SPack(int32_t u, int32_t v, uint32_t vmask) {
    return (static_cast<uint32_t>(u) << 16) | ((static_cast<uint32_t>(v) & vmask) >> 2);
  }
  static void StippleRow(const SpanState* s, RunState& r, int32_t n) {
    const double w1 = s->LeftW, u1 = s->LeftU, v1 = s->LeftV;
    const double w2 = s->RightW, u2 = s->RightU, v2 = s->RightV;
    const double a = 512.0 / w1, b = 512.0 / w2;
    if (n <= 16) {
      const double rn = 1.0 / n;
      const uint32_t t = SPack(Trunc(u1 * a), Trunc(v1 * a), 0x3FFFCu);
      const uint32_t dt = SPack(Trunc((u2 * b - u1 * a) * rn), Trunc((v2 * b - v1 * a) * rn), 0x3FFFCu);
      Run(s, r, t, dt, n);
      return;
    }
    const double r16 = 16.0 / n;
    const double dU = (u2 - u1) * r16, dV = (v2 - v1) * r16, dW = (w2 - w1) * r16;
    double U = u1, V = v1, W = w1;
    int32_t us = Trunc(u1 * a), vs = Trunc(v1 * a);
    for (int32_t blk = n >> 4; blk > 0; --blk) {
      if (r.todo <= 0) return;
      U += dU, V += dV, W += dW;
      const double g = 512.0 / W;
      const int32_t un = Trunc(U * g), vn = Trunc(V * g);
      const uint32_t t = SPack(us, vs, 0xFFFCu);
      const uint32_t dt = ((static_cast<uint32_t>(Sub(un, us)) & 0xFFFFFFF0u) << 12) |
                          ((static_cast<uint32_t>(Sub(vn, vs)) & 0x000FFFC0u) >> 6);
      Piece(s, r, t, dt, 16);
      us = un, vs = vn;
    }
    const int32_t m = n & 15;
    if (m > 0 && r.todo > 0) {
      const int32_t ue = Trunc(u2 * b), ve = Trunc(v2 * b);
      const uint32_t t = SPack(us, vs, 0xFFFCu);
      const uint32_t dt = (static_cast<uint32_t>(Sub(ue, us) / m) << 16) |
                          ((static_cast<uint32_t>(Sub(ve, vs) / m) & 0xFFFCu) >> 2);
      Piece(s, r, t, dt, m);
    }
  }

  // Rows above those drawn, stepped exactly as drawn ones are but in registers.
  static int32_t StepBefore(SpanState* s, int32_t rows) {
    constexpr bool kNoise = kStipple || kPx == Px::kSmooth;
    if (rows <= 0 || !RowBefore(s->RowAddress, s->RowPitch)) return rows;
    int32_t lx = s->LeftX, rx = s->RightX, depth = s->Depth, shade = s->Shade;
    float lw = s->LeftW, lu = s->LeftU, lv = s->LeftV, rw = s->RightW, ru = s->RightU, rv = s->RightV;
    const double lws = s->LeftWStep, lus = s->LeftUStep, lvs = s->LeftVStep;
    const double rws = s->RightWStep, rus = s->RightUStep, rvs = s->RightVStep;
    uint8_t* row = s->RowAddress;
    const int32_t pitch = s->RowPitch;
    uint16_t* cells = s->DepthRowAddress;
    uint32_t seed = s->RowSeed;
    int32_t k = 0;
    for (; k < rows && RowBefore(row, pitch); ++k) {
      lx = Add(lx, s->LeftXStep), rx = Add(rx, s->RightXStep);
      lw = static_cast<float>(lw + lws), lu = static_cast<float>(lu + lus), lv = static_cast<float>(lv + lvs);
      rw = static_cast<float>(rw + rws), ru = static_cast<float>(ru + rus), rv = static_cast<float>(rv + rvs);
      if constexpr (kDepth) depth = Add(depth, s->DepthRowStep);
      if constexpr (kPx == Px::kSmooth) shade = Add(shade, s->ShadeRowStep);
      row += pitch;
      if constexpr (kDepth) cells = StepDepthRow(cells, s->DepthPitch);
      if constexpr (kNoise) seed ^= seed >> 6;
    }
    s->LeftX = lx, s->RightX = rx, s->Depth = depth, s->Shade = shade;
    s->LeftW = lw, s->LeftU = lu, s->LeftV = lv, s->RightW = rw, s->RightU = ru, s->RightV = rv;
    s->RowAddress = row, s->DepthRowAddress = cells, s->RowSeed = seed;
    return rows - k;
  }

  // The row state lives in registers: a store through a pixel pointer could alias any field
  // of *s, so stepping the fields in place would load and store each one every row, and
  // most rows are hidden and step nothing else. Row reads the edges from *s, so a drawn row
  // puts them there first.
  static void Rows(SpanState* s) {
    constexpr bool kNoise = kStipple || kPx == Px::kSmooth;
    int32_t rows = StepBefore(s, s->RowCount);
    int32_t lx = s->LeftX, rx = s->RightX, depth = s->Depth, shade = s->Shade;
    float lw = s->LeftW, lu = s->LeftU, lv = s->LeftV, rw = s->RightW, ru = s->RightU, rv = s->RightV;
    const int32_t lxs = s->LeftXStep, rxs = s->RightXStep, depth_row_step = s->DepthRowStep, shade_row_step = s->ShadeRowStep;
    const double lws = s->LeftWStep, lus = s->LeftUStep, lvs = s->LeftVStep;
    const double rws = s->RightWStep, rus = s->RightUStep, rvs = s->RightVStep;
    const uint32_t depth_step = static_cast<uint32_t>(s->DepthStep);
    const int32_t pitch = s->RowPitch, depth_pitch = s->DepthPitch;
    uint8_t* row = s->RowAddress;
    uint16_t* cells = s->DepthRowAddress;
    uint32_t seed = s->RowSeed;
    for (; rows > 0 && !RowPast(row, pitch); --rows) {
      lx = Add(lx, lxs), rx = Add(rx, rxs);
      lw = static_cast<float>(static_cast<double>(lw) + lws);
      lu = static_cast<float>(static_cast<double>(lu) + lus);
      lv = static_cast<float>(static_cast<double>(lv) + lvs);
      rw = static_cast<float>(static_cast<double>(rw) + rws);
      ru = static_cast<float>(static_cast<double>(ru) + rus);
      rv = static_cast<float>(static_cast<double>(rv) + rvs);
      if constexpr (kDepth) depth = Add(depth, depth_row_step);
      if constexpr (kPx == Px::kSmooth) shade = Add(shade, shade_row_step);
      const int32_t xl = lx >> 16, xr = rx >> 16;
      int32_t todo = RowDrawn(row) ? xr - xl : 0;
      // A row hidden everywhere needs no division at all.
      if constexpr (kDepth) {
        if (todo > 0)
          todo = persp_depth::WalkExtent<false>(cells + xl, 1, todo, static_cast<uint32_t>(depth), depth_step);
      }
      if (todo > 0) {
        s->LeftW = lw, s->LeftU = lu, s->LeftV = lv, s->RightW = rw, s->RightU = ru, s->RightV = rv;
        RunState r{row + xl, kDepth ? cells + xl : nullptr, depth, shade,
                   kNoise ? s->DitherRowX[xl & 7] ^ (seed & 0xFFu) : 0u, todo};
        if constexpr (kStippleFormat)
          StippleRow(s, r, xr - xl);
        else
          Row(s, r, xr - xl);
      }
      row += pitch;
      if constexpr (kDepth) cells = StepDepthRow(cells, depth_pitch);
      if constexpr (kNoise) seed ^= seed >> 6;
    }
    s->LeftX = lx, s->RightX = rx, s->Depth = depth, s->Shade = shade;
    s->LeftW = lw, s->LeftU = lu, s->LeftV = lv, s->RightW = rw, s->RightU = ru, s->RightV = rv;
    s->RowAddress = row, s->DepthRowAddress = cells, s->RowSeed = seed;
    s->RowCount = 0;
  }
};

template <int kSize, bool kDepth, Px kPx>
void Filler(SpanState* s) {
  Spans<kSize, kDepth, kPx, false, false>::Rows(s);
}
template <int kSize, bool kDepth, Px kPx>
void Stipple(SpanState* s) {
  Spans<kSize, kDepth, kPx, true, true>::Rows(s);
}

}  // namespace

void SpanPerspFloat(SpanState* s) { Filler<128, false, Px::kTexel>(s); }
void SpanPerspFloatZ(SpanState* s) { Filler<128, true, Px::kTexel>(s); }
void SpanPerspFloatLit(SpanState* s) { Filler<128, false, Px::kLit>(s); }
void SpanPerspFloatLitZ(SpanState* s) { Filler<128, true, Px::kLit>(s); }
void SpanPerspFloatSmooth(SpanState* s) { Filler<128, false, Px::kSmooth>(s); }
void SpanPerspFloatSmoothZ(SpanState* s) { Filler<128, true, Px::kSmooth>(s); }
void SpanPerspFloat16(SpanState* s) { Filler<16, false, Px::kTexel>(s); }
void SpanPerspFloat16Z(SpanState* s) { Filler<16, true, Px::kTexel>(s); }
void SpanPerspFloat16Lit(SpanState* s) { Filler<16, false, Px::kLit>(s); }
void SpanPerspFloat16LitZ(SpanState* s) { Filler<16, true, Px::kLit>(s); }
void SpanPerspFloat16Smooth(SpanState* s) { Filler<16, false, Px::kSmooth>(s); }
void SpanPerspFloat16SmoothZ(SpanState* s) { Filler<16, true, Px::kSmooth>(s); }

void SpanPerspStipple(SpanState* s) { Stipple<128, false, Px::kTexel>(s); }
void SpanPerspStippleLit(SpanState* s) { Stipple<128, false, Px::kLit>(s); }
void SpanPerspStippleZ(SpanState* s) { Stipple<128, true, Px::kTexel>(s); }
void SpanPerspStippleLitZ(SpanState* s) { Stipple<128, true, Px::kLit>(s); }
void SpanPerspStippleSmooth(SpanState* s) { Stipple<128, false, Px::kSmooth>(s); }
void SpanPerspFloat16Stipple(SpanState* s) { Stipple<16, false, Px::kTexel>(s); }
void SpanPerspFloat16StippleLit(SpanState* s) { Stipple<16, false, Px::kLit>(s); }
void SpanPerspFloat16StippleZ(SpanState* s) { Stipple<16, true, Px::kTexel>(s); }
void SpanPerspFloat16StippleLitZ(SpanState* s) { Stipple<16, true, Px::kLit>(s); }
void SpanPerspFloat16StippleSmooth(SpanState* s) { Stipple<16, false, Px::kSmooth>(s); }
