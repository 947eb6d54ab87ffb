// Depth pre-tests of the perspective spans: a span whose every cell already holds a nearer
// depth needs neither its divisions nor its texel walk. The depth of cell i of a run is the
// high half of z0 + i * step (wrapping), as the pixel loops compute it.
#pragma once

#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace persp_depth {

// Whether the incoming depth zd passes a stored cell: ties draw or fail.
template <bool kTiesPass>
inline bool Passes(uint16_t cell, uint32_t z) {
  const uint16_t zd = static_cast<uint16_t>(z >> 16);
  return kTiesPass ? cell <= zd : cell < zd;
}

// Whether any of the n cells from `cells` (upward in memory) passes.
template <bool kTiesPass>
inline bool AnyPasses(const uint16_t* cells, int32_t n, uint32_t z0, uint32_t step) {
  int32_t i = 0;
#ifdef __SSE2__
  if (n >= 4) {
    // Cells and depths as 32-bit lanes: both lie in 0..65535, so the signed compare is exact.
    const __m128i zero = _mm_setzero_si128();
    __m128i z = _mm_setr_epi32(static_cast<int32_t>(z0), static_cast<int32_t>(z0 + step),
                               static_cast<int32_t>(z0 + 2 * step), static_cast<int32_t>(z0 + 3 * step));
    const __m128i z_step = _mm_set1_epi32(static_cast<int32_t>(4 * step));
    __m128i hit = zero;
    for (; i + 4 <= n; i += 4) {
      const __m128i c = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cells + i)), zero);
      const __m128i zd = _mm_srli_epi32(z, 16);
      // Ties pass: the cell fails only when it is nearer; ties fail: the depth must be nearer.
      hit = _mm_or_si128(hit, kTiesPass ? _mm_andnot_si128(_mm_cmpgt_epi32(c, zd), _mm_set1_epi32(-1))
                                        : _mm_cmpgt_epi32(zd, c));
      z = _mm_add_epi32(z, z_step);
    }
    if (_mm_movemask_epi8(hit) != 0) return true;
  }
#endif
  bool any = false;
  for (uint32_t z = z0 + static_cast<uint32_t>(i) * step; i < n; ++i, z += step) any |= Passes<kTiesPass>(cells[i], z);
  return any;
}

// Number of leading pixels of a walk of n cells from `first` (stepping dir: +1 or -1 in
// memory, the depth stepping by step per pixel) up to and including the last that passes;
// 0 when none does.
template <bool kTiesPass>
inline int32_t WalkExtent(const uint16_t* first, int32_t dir, int32_t n, uint32_t z0, uint32_t step) {
  // A visible far end settles it at once: the common case of an unhidden span.
  if (Passes<kTiesPass>(first[dir > 0 ? n - 1 : 1 - n], z0 + static_cast<uint32_t>(n - 1) * step)) return n;
#ifdef __SSE2__
  // Upward in memory: groups of eight cells from the far end, as 16-bit lanes compared
  // unsigned (both sides less 0x8000); the first group with a pass holds the last one.
  if (dir > 0) {
    const __m128i flip = _mm_set1_epi16(static_cast<int16_t>(0x8000)), half = _mm_set1_epi32(0x8000);
    const __m128i lo = _mm_setr_epi32(0, static_cast<int32_t>(step), static_cast<int32_t>(2 * step),
                                      static_cast<int32_t>(3 * step));
    const __m128i four = _mm_set1_epi32(static_cast<int32_t>(4 * step));
    int32_t g = n - 8;
    for (;; g -= 8) {
      // The last group, when the cells left are fewer than eight, starts at the first cell
      // and overlaps cells already found to fail.
      if (g < 0 && n >= 8) g = 0;
      if (g < 0) break;
      const __m128i z = _mm_add_epi32(_mm_set1_epi32(static_cast<int32_t>(z0 + static_cast<uint32_t>(g) * step)), lo);
      const __m128i d = _mm_packs_epi32(_mm_sub_epi32(_mm_srli_epi32(z, 16), half),
                                        _mm_sub_epi32(_mm_srli_epi32(_mm_add_epi32(z, four), 16), half));
      const __m128i c = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first + g)), flip);
      const __m128i pass = kTiesPass ? _mm_andnot_si128(_mm_cmpgt_epi16(c, d), _mm_set1_epi16(-1)) : _mm_cmpgt_epi16(d, c);
      const int bits = _mm_movemask_epi8(pass);
      if (bits) return g + (31 - __builtin_clz(static_cast<unsigned>(bits))) / 2 + 1;
      if (g == 0) return 0;
    }
    for (int32_t k = g + 7; k >= 0; --k)
      if (Passes<kTiesPass>(first[k], z0 + static_cast<uint32_t>(k) * step)) return k + 1;
    return 0;
  }
#endif
  const uint16_t* lowest = dir > 0 ? first : first - (n - 1);
  const uint32_t z_lowest = dir > 0 ? z0 : z0 + static_cast<uint32_t>(n - 1) * step;
  const uint32_t mem_step = dir > 0 ? step : 0u - step;
  if (!AnyPasses<kTiesPass>(lowest, n, z_lowest, mem_step)) return 0;
  int32_t k = n - 2;
  uint32_t z = z0 + static_cast<uint32_t>(k) * step;
  while (k > 0 && !Passes<kTiesPass>(first[dir > 0 ? k : -k], z)) --k, z -= step;
  return k + 1;
}

}  // namespace persp_depth
