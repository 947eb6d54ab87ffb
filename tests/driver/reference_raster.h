#pragma once
// A plain reference rasteriser for one triangle, written from the fill rule and the rounding
// of the polygon modes and affine handlers: every row and every pixel is computed in closed
// form (start + k x step, 32-bit wrap) instead of by the driver's accumulation, slopes by
// 64-bit division, and the noise by replaying its shifts.
#include <algorithm>
#include <cstdint>
#include <vector>

namespace ref {

struct Vtx {
  int32_t x, y, z, shade, u, v;  // 16.16, as in the vertex record
};

enum Colour { kFlat, kSmooth, kTextured, kLit, kTexSmooth };

struct Job {
  Colour colour = kFlat;
  bool depth = false;
  bool stipple = false;
  bool strict = false;     // depth ties fail (besides the stipple modes, where they always do)
  bool small = false;      // 16 x 16 texels: coordinates shifted down by 3, index by 4 bits
  bool dither = false;     // texel coordinates jittered by the noise byte
  uint32_t word = 0;       // material colour word
  int32_t poly_shade = 0;  // polygon shade
  uint32_t opacity = 255;
  bool bias = false;
  const uint8_t* ramp = nullptr;   // colour ramp table, 4640 bytes used
  const uint8_t* shades = nullptr; // 32 x 256 shade table
  const uint8_t* texels = nullptr; // 128 x 128
  const uint32_t* xdither = nullptr;  // 8 entries from the frame's x offset
  const uint32_t* yseed = nullptr;    // 8 entries from the frame's y offset
};

struct Target {
  int w, h;
  std::vector<uint8_t>* pixels;    // w x h
  std::vector<uint16_t>* depth;    // w x h
};

inline int32_t W32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v))); }
inline int32_t Floor16(int32_t v) { return v >> 16; }
inline int32_t Slope(int32_t dx, int32_t h) { return W32((static_cast<int64_t>(dx) * 65536) / h); }
inline int32_t Step(int32_t a, int32_t b, int32_t h) {
  const int32_t d = W32(static_cast<int64_t>(b) - a);
  return h == 2 ? (d >= 0 ? d / 2 : -((-static_cast<int64_t>(d) + 1) / 2)) : d / h;
}
inline int32_t Step16Raw(int32_t a, int32_t b, int32_t h) {
  const int32_t d = (b & 0xFFFF) - (a & 0xFFFF);
  return h == 2 ? (d >= 0 ? d / 2 : -((-d + 1) / 2)) : d / h;
}
inline int32_t Sext16(int32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }
inline int32_t DivSat(int32_t a, int32_t b) {
  if (a == 0) return 0;
  if (b == 0) return a;
  const int64_t q = (static_cast<int64_t>(a) * 65536) / b;
  if (q > INT32_MAX) return INT32_MAX;
  if (q < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(q);
}
inline int32_t Clamp(int32_t s) { return std::clamp(s, 0, 0x1F0000); }
inline uint32_t Word(uint32_t w) { return (w & 0xFFE0u) > 4608u ? 4608u : w; }
inline int32_t Sv(uint32_t w, int32_t s) {
  s = Clamp(s);
  return static_cast<int32_t>(((w & 0xE0u) << 8) + static_cast<uint32_t>(((w & 0x20u) ? 0x1F0000 - s : s) >> 8));
}
// Byte idx of the 256-byte ramp block of w; past the table's end the block reads as its
// brightest level (upper indexes below 128) or its first byte (indexes from 128).
inline uint8_t RampByte(const uint8_t* ramp, uint32_t w, uint32_t idx) {
  const uint32_t base = w & 0xFF00u, off = base + idx;
  if (off < 4640u) return ramp[off];
  return idx < 128 ? ramp[4639] : ramp[base];
}
inline uint32_t Evolve(uint32_t s, int n) {
  while (n-- > 0) s ^= s >> 6;
  return s;
}

// One linear quantity: value at the start vertex's row plus k row steps, then pixel steps.
// A second section's left edge continues from pre_rows steps of the first one's row step.
struct Lin {
  int32_t start = 0, row = 0, px = 0;
  int32_t pre_rows = 0, pre_row = 0;
};

// Draws one triangle (a, b, c) of job into t.
inline void Triangle(const Job& job, Vtx a, Vtx b, Vtx c, Target& t) {
  const int32_t minY = std::min({a.y, b.y, c.y});
  Vtx T, N, P;  // the top vertex: a first, then c, then b among equals
  if (a.y == minY) T = a, N = b, P = c;
  else if (c.y == minY) T = c, N = a, P = b;
  else T = b, N = c, P = a;
  const int tx = Floor16(T.x), ty = Floor16(T.y), nx = Floor16(N.x), ny = Floor16(N.y);
  const int px = Floor16(P.x), py = Floor16(P.y);
  for (int v : {tx, nx, px}) if (v < 0 || v > t.w) return;
  for (int v : {ty, ny, py}) if (v < 0 || v > t.h) return;
  const int32_t bias = job.bias ? 0xFF0000 : 0;
  const uint32_t w = Word(job.word);
  auto sv = [&](const Vtx& v) { return Sv(w, v.shade); };
  auto hv = [](const Vtx& v) { return v.shade >> 8; };
  if (job.small)
    for (Vtx* q : {&T, &N, &P}) q->u >>= 3, q->v >>= 3;
  const int hN = ny - ty, hP = py - ty;
  // Edges: start column, start row, slope, and the rows they serve.
  struct Edge { int x0, y0; int32_t s; };
  Edge L1{}, R1{}, L2{}, R2{};
  int mid = 0, bottom = 0;
  Lin z1, z2, s1, s2, u1, u2, v1, v2;  // left-edge quantities, first and second section
  Lin h1, hs2;                         // textured smooth shade (vertex shade >> 8)
  const Vtx* S = &T;                   // start vertex of the interpolants
  int32_t D = 0;
  if (hN > 0 && hP > 0) {
    const int32_t sN = Slope(nx - tx, hN), sP = Slope(px - tx, hP);
    const int64_t d = static_cast<int64_t>(sP) - sN;
    if (d <= 0) return;
    D = static_cast<int32_t>(std::min<int64_t>(d, INT32_MAX));
    L1 = {tx, ty, sN}, R1 = {tx, ty, sP};
    mid = ty + std::min(hN, hP), bottom = ty + std::max(hN, hP);
    L2 = hN < hP ? Edge{nx, ny, Slope(px - nx, hP - hN)} : L1;
    R2 = hN > hP ? Edge{px, py, Slope(nx - px, hN - hP)} : R1;
    const int32_t dN = Step(T.z, N.z, hN), dP = Step(T.z, P.z, hP);
    const int32_t dd = W32(static_cast<int64_t>(dP) - dN);
    z1 = {W32(static_cast<int64_t>(T.z) + bias), dN,
          dd == 0 ? 0 : ((D >> 6) == 0 ? dd : W32(static_cast<int64_t>(dd / (D >> 6)) * 1024))};
    const int32_t gN = Sext16(Step16Raw(sv(T), sv(N), hN)), gP = Step16Raw(sv(T), sv(P), hP);
    s1 = {sv(T), gN, gP == gN ? 0 : Sext16(W32(static_cast<int64_t>(gP - gN) * 65536) / D)};
    const int32_t uN = Step(T.u, N.u, hN), uP = Step(T.u, P.u, hP), vN = Step(T.v, N.v, hN), vP = Step(T.v, P.v, hP);
    u1 = {T.u, uN, DivSat(W32(static_cast<int64_t>(uP) - uN), D)};
    v1 = {T.v, vN, DivSat(W32(static_cast<int64_t>(vP) - vN), D)};
    const int32_t hgN = Sext16(Step16Raw(hv(T), hv(N), hN)), hgP = Step16Raw(hv(T), hv(P), hP);
    h1 = {hv(T), hgN, hgP == hgN ? 0 : Sext16(W32(static_cast<int64_t>(hgP - hgN) * 65536) / D)};
    z2 = z1, s2 = s1, u2 = u1, v2 = v1, hs2 = h1;
    if (hN < hP) {  // the lower left edge runs N-P, continuing from the upper one's last value
      const int h2 = hP - hN;
      z2 = {z1.start, Step(N.z, P.z, h2), z1.px, hN, z1.row};
      s2 = {s1.start, Sext16(Step16Raw(sv(N), sv(P), h2)), s1.px, hN, s1.row};
      hs2 = {h1.start, Sext16(Step16Raw(hv(N), hv(P), h2)), h1.px, hN, h1.row};
      u2 = {u1.start, Step(N.u, P.u, h2), u1.px, hN, u1.row};
      v2 = {v1.start, Step(N.v, P.v, h2), v1.px, hN, v1.row};
    }
  } else {
    // Flat top: l left and r right on the top row, e the vertex below.
    const Vtx *l, *r, *e;
    if (hN > 0) {
      if (px <= tx) return;
      l = &T, r = &P, e = &N;
    } else {
      if (tx <= nx || py - ny <= 0) return;
      l = &N, r = &T, e = &P;
    }
    S = l;
    const int lx = Floor16(l->x), rx = Floor16(r->x), ex = Floor16(e->x), ey = Floor16(e->y);
    const int h = ey - ty, wdt = rx - lx;
    L1 = L2 = {lx, ty, Slope(ex - lx, h)};
    R1 = R2 = {rx, ty, Slope(ex - rx, h)};
    mid = bottom = ey;
    z1 = z2 = {W32(static_cast<int64_t>(l->z) + bias), Step(l->z, e->z, h), Step(l->z, r->z, wdt)};
    s1 = s2 = {sv(*l), Sext16(Step16Raw(sv(*l), sv(*e), h)), Sext16(Step16Raw(sv(*l), sv(*r), wdt))};
    h1 = hs2 = {hv(*l), Sext16(Step16Raw(hv(*l), hv(*e), h)), Sext16(Step16Raw(hv(*l), hv(*r), wdt))};
    u1 = u2 = {l->u, Step(l->u, e->u, h), Step(l->u, r->u, wdt)};
    v1 = v2 = {l->v, Step(l->v, e->v, h), Step(l->v, r->v, wdt)};
  }
  (void)S;
  const uint32_t seed0 = job.yseed ? job.yseed[ty & 7] : 0;
  const int32_t flat = job.ramp ? job.ramp[(w & 0xFFE0u) + ((((w & 0x20u) ? 0x1F0000 - Clamp(job.poly_shade)
                                                                           : Clamp(job.poly_shade))) >> 16)]
                                : 0;
  const uint8_t* lit = job.shades ? job.shades + 256 * (Clamp(job.poly_shade) >> 16) : nullptr;
  for (int row = ty; row < bottom; ++row) {
    const bool upper = row < mid;
    const Edge& L = upper ? L1 : L2;
    const Edge& R = upper ? R1 : R2;
    const int xl = Floor16(W32((static_cast<int64_t>(L.x0) << 16) + static_cast<int64_t>(L.s) * (row + 1 - L.y0)));
    const int xr = Floor16(W32((static_cast<int64_t>(R.x0) << 16) + static_cast<int64_t>(R.s) * (row + 1 - R.y0)));
    // Steps along the left edge taken for this row, counted from its section's start.
    const int k = upper ? row + 1 - ty : row + 1 - L2.y0;
    const bool second = !upper && hN < hP && hN > 0 && hP > 0;
    const int kk = second ? k : row + 1 - ty;
    const Lin& zl = second ? z2 : z1;
    const Lin& sl = second ? s2 : s1;
    const Lin& hl = second ? hs2 : h1;
    const Lin& ul = second ? u2 : u1;
    const Lin& vl = second ? v2 : v1;
    auto at = [&](const Lin& q, int i) {
      return W32(q.start + static_cast<int64_t>(q.pre_row) * q.pre_rows + static_cast<int64_t>(q.row) * kk +
                 static_cast<int64_t>(q.px) * i);
    };
    // Packed texel fields wrap modulo 128 texels each, with their 7.8 fractions.
    auto field = [&](const Lin& q, int i) {
      auto f15 = [](int32_t x) { return static_cast<int64_t>((static_cast<uint32_t>(x) & 0xFFFEu) >> 1); };
      const int64_t f = f15(q.start) + f15(q.pre_row) * q.pre_rows +
                        static_cast<int64_t>((static_cast<uint32_t>(q.row) & 0xFFFEu) >> 1) * kk +
                        static_cast<int64_t>((static_cast<uint32_t>(q.px) & 0xFFFEu) >> 1) * i;
      return static_cast<uint32_t>(f) & 0x7FFFu;
    };
    const uint32_t seed = Evolve(seed0, row - ty);
    for (int x = xl; x < xr; ++x) {
      const int i = x - xl;
      const uint32_t noise = Evolve((job.xdither ? job.xdither[xl & 7] : 0) ^ (seed & 0xFF), i) & 0xFF;
      int value;
      if (job.colour == kFlat) {
        value = flat;
      } else if (job.colour == kSmooth) {
        value = RampByte(job.ramp, w, ((static_cast<uint32_t>(at(sl, i)) + noise) >> 8) & 0xFF);
      } else {
        const int size = job.small ? 16 : 128;
        int32_t fu = static_cast<int32_t>(field(ul, i)), fv = static_cast<int32_t>(field(vl, i));
        if (job.dither) {
          const int32_t k = static_cast<int8_t>(noise);
          fu += k;
          fv += k ^ 0xAA;
        }
        // Floor division by 256, then the coordinate wraps on the texture.
        auto texel_of = [&](int32_t f) { return ((f >> 8) % size + size) % size; };
        const uint8_t tex = job.texels[texel_of(fv) * size + texel_of(fu)];
        if (tex == 0) continue;
        if (job.colour == kTexSmooth) {
          const int64_t sh = static_cast<int64_t>(at(hl, i)) + noise;
          const int row_level = static_cast<int>(std::clamp<int64_t>(sh, 0, 0x1FFF) >> 8);
          value = job.shades[row_level * 256 + tex];
        } else {
          value = job.colour == kLit ? lit[tex] : tex;
        }
      }
      if (job.stipple && noise >= job.opacity) continue;
      const size_t cell = static_cast<size_t>(row) * t.w + x;
      if (job.depth) {
        const uint16_t d = static_cast<uint16_t>(static_cast<uint32_t>(at(zl, i)) >> 16);
        const uint16_t stored = (*t.depth)[cell];
        if (job.stipple || job.strict ? !(stored < d) : !(stored <= d)) continue;
        (*t.depth)[cell] = d;
      }
      (*t.pixels)[cell] = static_cast<uint8_t>(value);
    }
  }
}

}  // namespace ref

// ---------------------------------------------------------------------------------------
// A small driver frame for the tests: frame rows and depth buffer with canary bands, the
// ramp, shade and quotient tables, installed in the driver's globals and put back after.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

#include "driver/core/context.h"
#include "driver/core/depth.h"
#include "driver/core/shade.h"
#include "driver/records.h"
#include "driver/spans/span_state.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define REF_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define REF_ASAN 1
#endif
#ifdef REF_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace ref {

constexpr uint8_t kCanary = 0xCD;
constexpr uint16_t kDepthCanary = 0xC0DE;

struct DriverFrame {
  static constexpr int kMargin = 8;
  int w, h, pitch;
  std::vector<uint8_t> pixels;
  std::vector<uint16_t> depth;
  std::vector<uint8_t*> rows;
  std::vector<int32_t> quotient = std::vector<int32_t>(65 * 32);
  std::vector<uint8_t> texels = std::vector<uint8_t>(128 * 128);
  uint8_t* ramp_alloc;
  uint8_t* ramp;
  uint8_t* shades;
  uint32_t xoff, yoff;

  // Saved driver globals.
  uint8_t** s_rows = FrameRows;
  int32_t s_pitch = FramePitch, s_lx = FrameLimitX, s_ly = FrameLimitY, s_mask = HandlerMask;
  const uint32_t* s_dither[4] = {FrameDitherRows[0], FrameDitherRows[1], FrameDitherRows[2], FrameDitherRows[3]};
  uint16_t* s_depth = DepthBuffer;
  int32_t s_dpitch = DepthBufferPitch, s_dheight = DepthHeight;
  int32_t* s_quot = QuotientTable;
  uint8_t* s_ramp = ColourRampTable;
  uint8_t* s_shade = ShadeTable;
  SpanState s_span = SpanStateBlock;

  DriverFrame(int width, int height, uint32_t seed, int x_offset = 0, int y_offset = 0)
      : w(width), h(height), pitch(width + 2 * kMargin),
        pixels(static_cast<size_t>(pitch) * (height + 2 * kMargin), kCanary),
        depth(static_cast<size_t>(pitch) * (height + 2 * kMargin), kDepthCanary), xoff(x_offset & 7),
        yoff(y_offset & 7) {
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y) rows.push_back(&pixels[static_cast<size_t>(y + kMargin) * pitch + kMargin]);
    for (int k = 0; k <= 64; ++k)
      for (int n = 1; n < 32; ++n) quotient[k * 32 + n] = ((k - 32) * 65536) / n;
    // The used ramp table ends where the allocation is poisoned: a read past it shows.
    ramp_alloc = static_cast<uint8_t*>(std::aligned_alloc(256, 4864));
    ramp = ramp_alloc;
    for (int i = 0; i < 4640; ++i) ramp[i] = static_cast<uint8_t>(rng());
#ifdef REF_ASAN
    ASAN_POISON_MEMORY_REGION(ramp + 4640, 4864 - 4640);
#endif
    shades = static_cast<uint8_t*>(std::aligned_alloc(256, 8192));
    for (int i = 0; i < 8192; ++i) shades[i] = static_cast<uint8_t>(rng());
    for (auto& t : texels) t = rng() % 5 == 0 ? 0 : static_cast<uint8_t>(rng());
    Install();
  }
  void Install() {
    FrameRows = rows.data();
    FramePitch = pitch;
    FrameLimitX = w << 16;
    FrameLimitY = h << 16;
    HandlerMask = 0xF;
    FrameDitherRows[0] = &DitherMatrices[0][xoff];
    FrameDitherRows[1] = &DitherMatrices[1][yoff];
    FrameDitherRows[2] = &DitherMatrices[2][xoff];
    FrameDitherRows[3] = &DitherMatrices[3][yoff];
    SpanStateBlock.DitherRowX = FrameDitherRows[0];
    SpanStateBlock.DitherRowX2 = FrameDitherRows[2];
    DepthBuffer = &depth[static_cast<size_t>(kMargin) * pitch + kMargin];
    DepthBufferPitch = 2 * pitch;
    DepthHeight = h;
    QuotientTable = quotient.data();
    ColourRampTable = ramp;
    ShadeTable = shades;
  }
  ~DriverFrame() {
    FrameRows = s_rows;
    FramePitch = s_pitch;
    FrameLimitX = s_lx;
    FrameLimitY = s_ly;
    HandlerMask = s_mask;
    for (int i = 0; i < 4; ++i) FrameDitherRows[i] = s_dither[i];
    DepthBuffer = s_depth;
    DepthBufferPitch = s_dpitch;
    DepthHeight = s_dheight;
    QuotientTable = s_quot;
    ColourRampTable = s_ramp;
    ShadeTable = s_shade;
    SpanStateBlock = s_span;
#ifdef REF_ASAN
    ASAN_UNPOISON_MEMORY_REGION(ramp + 4640, 4864 - 4640);
#endif
    std::free(ramp_alloc);
    std::free(shades);
  }
  DriverFrame(const DriverFrame&) = delete;
  DriverFrame& operator=(const DriverFrame&) = delete;

  uint8_t& Px(int x, int y) { return pixels[static_cast<size_t>(y + kMargin) * pitch + x + kMargin]; }
  uint16_t& Z(int x, int y) { return depth[static_cast<size_t>(y + kMargin) * pitch + x + kMargin]; }
  bool CanariesIntact() const {
    for (int y = -kMargin; y < h + kMargin; ++y)
      for (int x = -kMargin; x < w + kMargin; ++x) {
        if (y >= 0 && y < h && x >= 0 && x < w) continue;
        const size_t i = static_cast<size_t>(y + kMargin) * pitch + x + kMargin;
        if (pixels[i] != kCanary || depth[i] != kDepthCanary) return false;
      }
    return true;
  }
  // The inner w x h area, row by row.
  void Save(std::vector<uint8_t>& p, std::vector<uint16_t>& z) {
    p.resize(static_cast<size_t>(w) * h);
    z.resize(p.size());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) p[y * w + x] = Px(x, y), z[y * w + x] = Z(x, y);
  }
  void Load(const std::vector<uint8_t>& p, const std::vector<uint16_t>& z) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) Px(x, y) = p[y * w + x], Z(x, y) = z[y * w + x];
  }
  Job MakeJob() const {
    Job j;
    j.ramp = ramp;
    j.shades = shades;
    j.texels = texels.data();
    j.xdither = &DitherMatrices[0][xoff];
    j.yseed = &DitherMatrices[1][yoff];
    return j;
  }
};

inline DeviceVertex MakeVertex(const Vtx& v) {
  DeviceVertex d{};
  d.screen_x = v.x;
  d.screen_y = v.y;
  d.depth = v.z;
  d.shade = v.shade;
  d.u = v.u;
  d.v = v.v;
  return d;
}

}  // namespace ref
