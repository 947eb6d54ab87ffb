// Every perspective handler against a plain double-precision reference over seeded random
// triangles with strong perspective: the pixels it covers (the fill rule, and the screen-door
// pattern where the family has one, exactly), the texel each pixel shows (within a small
// tolerance of the perspective-correct coordinate along the row), the depth it writes, and
// the canary bands around the frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "driver/triangles/handler_table.h"
#include "driver/triangles/handlers.h"
#include "driver/spans/persp_tables.h"
#include "tests/driver/palette_test_engine.h"
#include "tests/driver/reference_raster.h"

namespace {

using Handler = void (*)(DevicePolygon*, DeviceVertex*, DeviceVertex*, DeviceVertex*);

// Fixed: the walk starts at the nearer end and the pattern follows the walk; Float: always
// left to right.
enum Family { kFixed, kFloat };

struct Kind {
  const char* name;
  Handler handler;
  Family family;
  bool small;
  bool depth;
  bool stipple;
};

const Kind kKinds[] = {
    {"FixedDither", &TriTexturedPerspFixedDither, kFixed, false, false, false},
    {"FixedDitherLit", &TriTexturedPerspFixedDitherLit, kFixed, false, false, false},
    {"FixedDitherZ", &TriTexturedPerspFixedDitherZ, kFixed, false, true, false},
    {"FixedDitherLitZ", &TriTexturedPerspFixedDitherLitZ, kFixed, false, true, false},
    {"FixedDitherSmooth", &TriTexturedPerspFixedDitherSmooth, kFixed, false, false, false},
    {"FixedStippleZ", &TriTexturedPerspFixedStippleZ, kFixed, false, true, true},
    {"FixedStippleSmoothZ", &TriTexturedPerspFixedStippleSmoothZ, kFixed, false, true, true},
    {"Fixed16Dither", &TriTextured16PerspFixedDither, kFixed, true, false, false},
    {"Fixed16DitherLit", &TriTextured16PerspFixedDitherLit, kFixed, true, false, false},
    {"Fixed16DitherZ", &TriTextured16PerspFixedDitherZ, kFixed, true, true, false},
    {"Fixed16DitherLitZ", &TriTextured16PerspFixedDitherLitZ, kFixed, true, true, false},
    {"Fixed16StippleZ", &TriTextured16PerspFixedStippleZ, kFixed, true, true, true},
    {"Fixed16StippleSmoothZ", &TriTextured16PerspFixedStippleSmoothZ, kFixed, true, true, true},
    {"Float", &TriTexturedPersp, kFloat, false, false, false},
    {"FloatZ", &TriTexturedPerspZ, kFloat, false, true, false},
    {"FloatLit", &TriTexturedPerspLit, kFloat, false, false, false},
    {"FloatLitZ", &TriTexturedPerspLitZ, kFloat, false, true, false},
    {"FloatSmooth", &TriTexturedPerspSmooth, kFloat, false, false, false},
    {"FloatSmoothZ", &TriTexturedPerspSmoothZ, kFloat, false, true, false},
    {"Float16", &TriTextured16Persp, kFloat, true, false, false},
    {"Float16Z", &TriTextured16PerspZ, kFloat, true, true, false},
    {"Float16Lit", &TriTextured16PerspLit, kFloat, true, false, false},
    {"Float16LitZ", &TriTextured16PerspLitZ, kFloat, true, true, false},
    {"Float16Smooth", &TriTextured16PerspSmooth, kFloat, true, false, false},
    {"Float16SmoothZ", &TriTextured16PerspSmoothZ, kFloat, true, true, false},
    {"FloatStipple", &TriTexturedPerspStipple, kFloat, false, false, true},
    {"FloatStippleLit", &TriTexturedPerspStippleLit, kFloat, false, false, true},
    {"FloatStippleZ", &TriTexturedPerspStippleZ, kFloat, false, true, true},
    {"FloatStippleLitZ", &TriTexturedPerspStippleLitZ, kFloat, false, true, true},
    {"FloatStippleSmooth", &TriTexturedPerspStippleSmooth, kFloat, false, false, true},
    {"Float16Stipple", &TriTextured16PerspStipple, kFloat, true, false, true},
    {"Float16StippleLit", &TriTextured16PerspStippleLit, kFloat, true, false, true},
    {"Float16StippleZ", &TriTextured16PerspStippleZ, kFloat, true, true, true},
    {"Float16StippleLitZ", &TriTextured16PerspStippleLitZ, kFloat, true, true, true},
    {"Float16StippleSmooth", &TriTextured16PerspStippleSmooth, kFloat, true, false, true},
};

void PrintTo(const Kind& k, std::ostream* os) { *os << k.name; }

struct V3 {
  int x, y;      // whole pixels
  double w;      // view depth
  int32_t u, v;  // 16.16
  int32_t z;     // depth-buffer value
};

// Value at (x, y) of the plane through three (x, y, value) points.
struct Plane {
  double a = 0, b = 0, c = 0;
  Plane(const V3* p, const double* val) {
    const double x1 = p[1].x - p[0].x, y1 = p[1].y - p[0].y, x2 = p[2].x - p[0].x, y2 = p[2].y - p[0].y;
    const double det = x1 * y2 - x2 * y1;
    const double d1 = val[1] - val[0], d2 = val[2] - val[0];
    a = (d1 * y2 - d2 * y1) / det;
    b = (x1 * d2 - x2 * d1) / det;
    c = val[0] - a * p[0].x - b * p[0].y;
  }
  double At(double x, double y) const { return a * x + b * y + c; }
};

double Wrap(double d, double size) {
  d = std::fmod(d, size);
  if (d > size / 2) d -= size;
  if (d < -size / 2) d += size;
  return d;
}

// Circular distance from texel t's centre to the nearest point of [lo, hi].
double Miss(int t, double lo, double hi, double size) {
  if (lo > hi) std::swap(lo, hi);
  const double centre = t + 0.5;
  const double mid = (lo + hi) / 2, half = (hi - lo) / 2;
  return std::max(0.0, std::fabs(Wrap(centre - mid, size)) - half);
}

class PerspReference : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override { ASSERT_EQ(PerspectiveTablesCreate(), 1); }
  void TearDown() override { PerspectiveTablesFree(); }
  palette_test::TestEngine engine;
};

TEST_P(PerspReference, RandomTrianglesAgainstExactPerspective) {
  const Kind kind = GetParam();
  constexpr int kW = 61, kH = 45;
  const int size = kind.small ? 16 : 128;
  std::mt19937 rng(0xFE55u + static_cast<uint32_t>(std::string(kind.name).size()) * 7919u);
  // Texels that name their own column, or their own row (never 0).
  std::vector<uint8_t> by_col(static_cast<size_t>(size) * size), by_row(by_col.size());
  for (int r = 0; r < size; ++r)
    for (int c = 0; c < size; ++c) by_col[r * size + c] = static_cast<uint8_t>(1 + c), by_row[r * size + c] = static_cast<uint8_t>(1 + r);
  int drawn = 0, long_rows = 0;
  for (int n = 0; n < 1200; ++n) {
    ref::DriverFrame frame(kW, kH, static_cast<uint32_t>(rng()), static_cast<int>(rng()), static_cast<int>(rng()));
    // Every shade row maps a texel to itself: the pixel shows the texel.
    for (int i = 0; i < 8192; ++i) frame.shades[i] = static_cast<uint8_t>(i & 0xFF);
    V3 p[3];
    for (auto& q : p) {
      q.x = static_cast<int>(rng() % (kW + 1));
      q.y = static_cast<int>(rng() % (kH + 1));
      q.w = 1.0 + (rng() % 4000) / 100.0;
      // Below two texture widths either way, so the row error bound below stays meaningful.
      q.u = static_cast<int32_t>(rng() % 0x20000);
      q.v = static_cast<int32_t>(rng() % 0x20000);
      q.z = static_cast<int32_t>(30000.0 * 65536.0 / q.w);
    }
    DeviceVertex dv[3];
    for (int i = 0; i < 3; ++i) {
      ref::Vtx r{p[i].x << 16, p[i].y << 16, p[i].z, static_cast<int32_t>(rng() % 0x1F0000), p[i].u, p[i].v};
      dv[i] = ref::MakeVertex(r);
      dv[i].view_z = static_cast<float>(p[i].w);
    }
    // Coverage by the fill rule: a flat triangle of the reference.
    std::vector<uint8_t> cover(static_cast<size_t>(kW) * kH, 1);
    std::vector<uint16_t> cover_z(cover.size(), 0);
    {
      ref::Job job;
      ref::Target t{kW, kH, &cover, &cover_z};
      ref::Vtx a{p[0].x << 16, p[0].y << 16, 0, 0, 0, 0}, b{p[1].x << 16, p[1].y << 16, 0, 0, 0, 0},
          c{p[2].x << 16, p[2].y << 16, 0, 0, 0, 0};
      ref::Triangle(job, a, b, c, t);
    }
    // Top vertex and walking direction as the handlers take them.
    const int minY = std::min({p[0].y, p[1].y, p[2].y});
    const int ti = p[0].y == minY ? 0 : (p[2].y == minY ? 2 : 1);
    const int ty = p[ti].y;
    int dir = 0;
    if (kind.family == kFixed) {
      dir = TriangleOrientation(&dv[ti], &dv[(ti + 1) % 3], &dv[(ti + 2) % 3]) == 0 ? 1 : 0;
    }
    // Planes of 1/w, u/w, v/w (texels) and z over the whole-pixel vertex positions.
    double iw[3], uw[3], vw[3], zz[3];
    for (int i = 0; i < 3; ++i) {
      iw[i] = 1.0 / p[i].w;
      uw[i] = p[i].u / 65536.0 * size * iw[i];
      vw[i] = p[i].v / 65536.0 * size * iw[i];
      zz[i] = p[i].z / 65536.0;
    }
    const bool flat = (p[1].x - p[0].x) * (p[2].y - p[0].y) - (p[2].x - p[0].x) * (p[1].y - p[0].y) == 0;

    DeviceTexture texture{};
    DeviceMaterial material{};
    material.opacity = static_cast<uint8_t>(rng() % 4 == 0 ? 255 : rng());
    material.mode = 0;
    material.texture = &texture;
    auto polygon = std::make_unique<DevicePolygon>();
    polygon->material = &material;
    polygon->shade = static_cast<int32_t>(rng() % 0x1F0000);
    polygon->vertex_count = 3;

    for (int pass = 0; pass < 2; ++pass) {
      std::vector<uint8_t> tex = pass == 0 ? by_col : by_row;
      texture.texels = tex.data();
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) frame.Px(x, y) = 0, frame.Z(x, y) = 0;
      kind.handler(polygon.get(), &dv[0], &dv[1], &dv[2]);
      ASSERT_TRUE(frame.CanariesIntact()) << kind.name << " triangle " << n;
      if (flat) continue;
      const Plane pw(p, iw), pc(p, pass == 0 ? uw : vw), pz(p, zz);
      for (int y = 0; y < kH; ++y) {
        int xl = kW, xr = -1;
        for (int x = 0; x < kW; ++x)
          if (cover[y * kW + x] == 0) xl = std::min(xl, x), xr = std::max(xr, x + 1);
        const uint32_t* seeds = dir ? &DitherMatrices[3][frame.yoff] : &DitherMatrices[1][frame.yoff];
        const uint32_t seed = ref::Evolve(seeds[ty & 7], y - ty);
        for (int x = 0; x < kW; ++x) {
          const bool covered = cover[y * kW + x] == 0;
          bool want = covered;
          if (covered && kind.stipple) {
            const uint32_t start = dir ? DitherMatrices[2][frame.xoff + (xr & 7)] : DitherMatrices[0][frame.xoff + (xl & 7)];
            const uint32_t noise = ref::Evolve(start ^ (seed & 0xFF), dir ? xr - 1 - x : x - xl) & 0xFF;
            want = noise < material.opacity;
          }
          const uint8_t got = frame.Px(x, y);
          ASSERT_EQ(got != 0, want) << kind.name << " triangle " << n << " pass " << pass << " at " << x << "," << y;
          if (!kind.depth) {
            ASSERT_EQ(frame.Z(x, y), 0) << kind.name << " triangle " << n;
          }
          if (!got) continue;
          const int rows = xr - xl;
          // The row maps the edge positions of row y + 1 (with their fractions) onto the
          // pixels xl .. xr; a walk samples a pixel up to one step either side of it.
          double el = 1e9, er = -1e9;
          for (int i = 0; i < 3; ++i) {
            const V3 &a = p[i], &b = p[(i + 1) % 3];
            const double Y = y + 1;
            if (a.y == b.y) {
              if (a.y == Y) el = std::min({el, 1.0 * a.x, 1.0 * b.x}), er = std::max({er, 1.0 * a.x, 1.0 * b.x});
              continue;
            }
            if ((Y - a.y) * (Y - b.y) > 0) continue;
            const double X = a.x + (b.x - a.x) * (Y - a.y) / (b.y - a.y);
            el = std::min(el, X), er = std::max(er, X);
          }
          // Along the row the coordinate is u(t) = (U1 + t dU) / (W1 + t dW) between the exact
          // ends. The float spans interpolate linearly between exact points (the row's ends, or
          // 16-pixel blocks), which lies between u(t) and the chord over the whole row; the
          // fixed-point spans follow u(t) itself (the linear path only where q hardly changes).
          const double W1 = pw.At(el, y + 1), W2 = pw.At(er, y + 1);
          const double U1 = pc.At(el, y + 1), U2 = pc.At(er, y + 1);
          const double u1 = U1 / W1, u2 = U2 / W2;
          (void)u1;
          auto exact_at = [&](double t) { return (U1 + t * (U2 - U1)) / (W1 + t * (W2 - W1)); };
          // Float rows above 20 pixels divide after a head that aligns the frame address to
          // 4 bytes and then every 16 pixels (the screen-door rows above 16 pixels every 16
          // pixels from the left end): the chord of that run.
          double ta = 0, tb = 1;
          if (rows > (kind.stipple ? 16 : 20)) {
            const int head =
                kind.stipple ? 0 : static_cast<int>((0u - reinterpret_cast<uintptr_t>(&frame.Px(xl, y))) & 3u);
            const int i = x - xl;
            int a = 0, b = head;
            if (i >= head) {
              a = head + (i - head) / 16 * 16;
              b = std::min(a + 16, rows);
            }
            ta = static_cast<double>(a) / rows, tb = static_cast<double>(b) / rows;
          }
          double lo = 1e18, hi = -1e18;
          for (double t : {(x - xl - 1.0) / rows, (x - xl + 2.0) / rows}) {
            t = std::clamp(t, 0.0, 1.0);
            const double exact = exact_at(t);
            const double ua = exact_at(ta), ub = exact_at(tb);
            const double chord = kind.family == kFloat ? ua + (t - ta) / std::max(tb - ta, 1e-9) * (ub - ua) : exact;
            lo = std::min({lo, exact, chord}), hi = std::max({hi, exact, chord});
          }
          const double ends[2] = {lo, hi};
          const double row_span = std::fabs(u2 - u1);
          const double tol = (kind.small ? 0.8 : 1.0) + 0.01 * row_span;
          long_rows += rows > 20;
          const double miss = Miss(got - 1, ends[0], ends[1], size);
          ASSERT_LE(miss, tol) << kind.name << " triangle " << n << " pass " << pass << " at " << x << "," << y
                               << " texel " << got - 1 << " exact " << ends[0] << ".." << ends[1] << " row " << xl << ".." << xr
                               << " ends " << u1 << ".." << u2
                               << " dir " << dir;
          if (kind.depth) {
            const double z0 = pz.At(x - 1, y + 1), z1 = pz.At(x + 2, y + 1);
            const double zlo = std::min(z0, z1) - 3 - std::fabs(pz.a), zhi = std::max(z0, z1) + 3 + std::fabs(pz.a);
            ASSERT_GE(frame.Z(x, y), zlo) << kind.name << " triangle " << n << " at " << x << "," << y;
            ASSERT_LE(frame.Z(x, y), zhi) << kind.name << " triangle " << n << " at " << x << "," << y;
          }
          ++drawn;
        }
      }
    }
  }
  EXPECT_GT(drawn, 50000) << kind.name;
  EXPECT_GT(long_rows, 1000) << kind.name;
}

// Over a depth buffer that holds, cell by cell, a depth just behind, equal to or just in
// front of the triangle's own (in blocks, so that whole rows, row heads and row tails are
// hidden), every depth member draws exactly the pixels and depths it draws on a clear buffer
// where the stored depth lets it through, and leaves every other pixel and cell as it was,
// as it does where the texel is a hole of the mask.
// Ties draw for the fixed-point span modes (plain and lit) and fail for every other member.
class PerspDepthRules : public PerspReference {};

TEST_P(PerspDepthRules, StoredDepthsDecidePixelByPixel) {
  const Kind kind = GetParam();
  const bool ties_draw = kind.handler == &TriTexturedPerspFixedDitherZ || kind.handler == &TriTexturedPerspFixedDitherLitZ;
  constexpr int kW = 97, kH = 61;
  constexpr uint8_t kBack = 0xEE;
  constexpr uint16_t kUnder = 0x1234;  // the stored depth of cells the triangle does not reach
  std::mt19937 rng(0xD397u + static_cast<uint32_t>(std::string(kind.name).size()) * 131u);
  const int size = kind.small ? 16 : 128;
  std::vector<uint8_t> tex(static_cast<size_t>(size) * size);
  // Texel 0, the mask's hole, shows what lies behind; the others are never the background.
  for (auto& t : tex) t = rng() % 8 ? static_cast<uint8_t>(1 + rng() % 200) : 0;
  int hidden = 0, tied = 0, shown = 0;
  for (int n = 0; n < 150; ++n) {
    ref::DriverFrame frame(kW, kH, static_cast<uint32_t>(rng()), static_cast<int>(rng()), static_cast<int>(rng()));
    for (int i = 0; i < 8192; ++i) frame.shades[i] = static_cast<uint8_t>(i & 0xFF);
    DeviceVertex dv[3];
    for (auto& d : dv) {
      const double w = 1.0 + (rng() % 4000) / 100.0;
      ref::Vtx r{static_cast<int32_t>(rng() % (kW + 1)) << 16, static_cast<int32_t>(rng() % (kH + 1)) << 16,
                 static_cast<int32_t>(30000.0 * 65536.0 / w), static_cast<int32_t>(rng() % 0x1F0000),
                 static_cast<int32_t>(rng() % 0x20000), static_cast<int32_t>(rng() % 0x20000)};
      d = ref::MakeVertex(r);
      d.view_z = static_cast<float>(w);
    }
    DeviceTexture texture{};
    texture.texels = tex.data();
    DeviceMaterial material{};
    material.opacity = static_cast<uint8_t>(rng() % 2 ? 255 : rng());
    material.texture = &texture;
    DevicePolygon polygon{};
    polygon.material = &material;
    polygon.shade = static_cast<int32_t>(rng() % 0x1F0000);
    polygon.vertex_count = 3;
    auto draw = [&](const std::vector<uint16_t>& stored) {
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) frame.Px(x, y) = kBack, frame.Z(x, y) = stored[y * kW + x];
      kind.handler(&polygon, &dv[0], &dv[1], &dv[2]);
      ASSERT_TRUE(frame.CanariesIntact()) << kind.name << " triangle " << n;
    };
    // On a clear buffer: what the triangle draws, and its depth.
    ASSERT_NO_FATAL_FAILURE(draw(std::vector<uint16_t>(static_cast<size_t>(kW) * kH, 0)));
    std::vector<uint8_t> open_px(static_cast<size_t>(kW) * kH);
    std::vector<uint16_t> own(open_px.size());
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        ASSERT_NE(frame.Px(x, y), 0) << kind.name << " drew a hole's texel at " << x << "," << y;
        open_px[y * kW + x] = frame.Px(x, y), own[y * kW + x] = frame.Z(x, y);
      }
    // Blocks of 1 to 24 cells along a row, each behind (-1), level with or in front of
    // (+1) the triangle.
    std::vector<uint16_t> stored(own.size());
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW;) {
        const int len = 1 + static_cast<int>(rng() % 24), offset = static_cast<int>(rng() % 3) - 1;
        for (int e = std::min(kW, x + len); x < e; ++x) {
          const size_t i = static_cast<size_t>(y) * kW + x;
          stored[i] = open_px[i] == kBack ? kUnder : static_cast<uint16_t>(std::clamp(own[i] + offset, 1, 0xFFFE));
        }
      }
    ASSERT_NO_FATAL_FAILURE(draw(stored));
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const size_t i = static_cast<size_t>(y) * kW + x;
        const bool reached = open_px[i] != kBack;
        const bool passes = reached && (ties_draw ? stored[i] <= own[i] : stored[i] < own[i]);
        if (reached) (stored[i] == own[i] ? tied : passes ? shown : hidden) += 1;
        ASSERT_EQ(frame.Px(x, y), passes ? open_px[i] : kBack)
            << kind.name << " triangle " << n << " at " << x << "," << y << " stored " << stored[i] << " own " << own[i];
        ASSERT_EQ(frame.Z(x, y), passes ? own[i] : stored[i]) << kind.name << " triangle " << n << " at " << x << "," << y;
      }
  }
  EXPECT_GT(hidden, 5000) << kind.name;
  EXPECT_GT(tied, 5000) << kind.name;
  EXPECT_GT(shown, 5000) << kind.name;
}

INSTANTIATE_TEST_SUITE_P(Handlers, PerspReference, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<Kind>& info) { return std::string(info.param.name); });

std::vector<Kind> DepthKinds() {
  std::vector<Kind> out;
  for (const Kind& k : kKinds)
    if (k.depth) out.push_back(k);
  return out;
}
INSTANTIATE_TEST_SUITE_P(Handlers, PerspDepthRules, ::testing::ValuesIn(DepthKinds()),
                         [](const ::testing::TestParamInfo<Kind>& info) { return std::string(info.param.name); });

}  // namespace
