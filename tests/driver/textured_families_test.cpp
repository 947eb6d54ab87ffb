// Known answers of the textured handler families through the handler table: shade rows,
// the dithered smooth shade, the screen door, 16 x 16 texel addressing, depth results that do
// not depend on drawing order, the fixed-point spans' sampling and path choice, and inputs
// out of range that must neither crash nor read or write outside their tables and buffers.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <set>

#include "driver/spans/persp_fixed.h"
#include "driver/spans/persp_float.h"
#include "driver/spans/persp_tables.h"
#include "driver/triangles/handler_table.h"
#include "driver/triangles/handlers.h"
#include "tests/driver/palette_test_engine.h"
#include "tests/driver/reference_raster.h"

namespace {

constexpr int kW = 40, kH = 32;
constexpr uint8_t kBack = 0xEE;

// One triangle of a material through one table entry.
struct Tri {
  std::vector<uint8_t> texels;
  DeviceTexture texture{};
  DeviceMaterial material{};
  DeviceVertex v[3]{};
  std::unique_ptr<DevicePolygon> p = std::make_unique<DevicePolygon>();
  Tri(int position, uint8_t texel = 1) : texels(position & 8 ? 256 : 128 * 128, texel) {
    texture.texels = texels.data();
    material.texture = &texture;
    material.mode = static_cast<uint8_t>(position);
    material.opacity = 255;
    p->material = &material;
    p->shade = 0x3C000;  // 3.75
    p->vertex_count = 3;
    // Counter-clockwise on the screen (y down): drawn.
    const int xy[3][2] = {{4, 2}, {6, 28}, {36, 20}};
    for (int i = 0; i < 3; ++i) {
      v[i].screen_x = xy[i][0] << 16;
      v[i].screen_y = xy[i][1] << 16;
      v[i].depth = 0x1000000;
      v[i].view_z = 2.0f;
      v[i].shade = 0x50000;
      v[i].u = 0x4000 * i;
      v[i].v = 0x3000 * i;
      p->vertices[i] = &v[i];
    }
  }
  void Draw(int group) { TriangleHandlerTable[16 * group + (material.mode & 15)](p.get(), &v[0], &v[1], &v[2]); }
};

struct Families : ::testing::Test {
  palette_test::TestEngine engine;
  ref::DriverFrame f{kW, kH, 99};
  void SetUp() override {
    ASSERT_EQ(PerspectiveTablesCreate(), 1);
    // Row r of the shade tables turns every texel into 100 + r.
    for (int i = 0; i < 8192; ++i) f.shades[i] = static_cast<uint8_t>(100 + i / 256);
    Clear();
  }
  void TearDown() override { PerspectiveTablesFree(); }
  void Clear() {
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) f.Px(x, y) = kBack, f.Z(x, y) = 0;
  }
  // The values written, and how often.
  std::map<int, int> Written() {
    std::map<int, int> m;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        if (f.Px(x, y) != kBack) ++m[f.Px(x, y)];
    return m;
  }
};

TEST_F(Families, LitEntriesUseThePolygonShadeRow) {
  for (int group = 0; group < 4; ++group)
    for (int pos = 1; pos < 16; pos += 2) {
      Tri t(pos);
      Clear();
      t.Draw(group);
      const auto m = Written();
      ASSERT_EQ(m.size(), 1u) << group << " " << pos;
      EXPECT_EQ(m.begin()->first, 103) << group << " " << pos;  // shade 3.75: row 3
      EXPECT_GT(m.begin()->second, 200) << group << " " << pos;
      ASSERT_TRUE(f.CanariesIntact());
    }
}

TEST_F(Families, SmoothEntriesDitherTheVertexShade) {
  for (int group = 4; group < 8; ++group)
    for (int pos = 1; pos < 16; pos += 2) {
      Tri t(pos);
      Clear();
      t.Draw(group);  // 5.0 at every vertex: row 5 only, the dither never carries
      auto m = Written();
      ASSERT_EQ(m.size(), 1u) << group << " " << pos;
      EXPECT_EQ(m.begin()->first, 105) << group << " " << pos;
      for (auto& v : t.v) v.shade = 0x58000;  // 5.5: rows 5 and 6
      Clear();
      t.Draw(group);
      m = Written();
      ASSERT_EQ(m.size(), 2u) << group << " " << pos;
      EXPECT_EQ(m.begin()->first, 105);
      EXPECT_EQ(m.rbegin()->first, 106);
      EXPECT_GT(m.begin()->second, 50) << group << " " << pos;
      EXPECT_GT(m.rbegin()->second, 50) << group << " " << pos;
    }
}

// Shades past the 32 levels (or below 0) read the nearest row, never past the table (the
// sanitizer build sees a read outside the 8192 bytes).
TEST_F(Families, ShadesOutOfRangeStayInsideTheTable) {
  const int32_t shades[][3] = {{0x280000, 0x280000, 0x280000},
                               {-0x30000, -0x30000, -0x30000},
                               {0x7FFFFFFF, static_cast<int32_t>(0x80000000u), 0x1F0000},
                               {0, 0x1F0000, -0x10000}};
  for (int group = 4; group < 8; ++group)
    for (int pos = 1; pos < 16; pos += 2)
      for (const auto& s : shades) {
        Tri t(pos);
        for (int i = 0; i < 3; ++i) t.v[i].shade = s[i];
        Clear();
        t.Draw(group);
        for (const auto& [value, count] : Written()) {
          EXPECT_GE(value, 100) << group << " " << pos;
          EXPECT_LE(value, 131) << group << " " << pos;
        }
        ASSERT_TRUE(f.CanariesIntact());
      }
  // All above the table: the brightest row.
  Tri t(1);
  for (auto& v : t.v) v.shade = 0x400000;
  Clear();
  t.Draw(4);
  EXPECT_EQ(Written().begin()->first, 131);
}

TEST_F(Families, ScreenDoorOpacityZeroDrawsNothingAndFullDrawsAlmostAll) {
  for (int group : {2, 3, 6, 7})
    for (int pos = 0; pos < 16; ++pos) {
      Tri t(pos);
      t.material.opacity = 0;
      Clear();
      t.Draw(group);
      EXPECT_TRUE(Written().empty()) << group << " " << pos;
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) ASSERT_EQ(f.Z(x, y), 0);
      // Opacity 255 skips only where the noise byte is 255.
      t.material.opacity = 255;
      t.Draw(group);
      int drawn = 0;
      for (const auto& [value, count] : Written()) drawn += count;
      EXPECT_GT(drawn, 350) << group << " " << pos;
      // Half the opacity draws about half as many.
      t.material.opacity = 128;
      Clear();
      t.Draw(group);
      int half = 0;
      for (const auto& [value, count] : Written()) half += count;
      EXPECT_GT(half, drawn / 4) << group << " " << pos;
      EXPECT_LT(half, drawn * 3 / 4) << group << " " << pos;
    }
}

// 16 x 16 textures: one texture width is 16 texels; whole widths wrap, negative coordinates
// wrap from the far side.
TEST_F(Families, SixteenTexelAddressing) {
  struct Case {
    int32_t u;
    int column;
  };
  // Exactly on a texel's edge for the positions without texel dither.
  const Case exact[] = {{0x10000, 0}, {0xF000, 15}, {0x0FF0, 0}, {-0x1000, 15}, {0x38000, 8}};
  // Mid-texel for the dithered ones (their jitter stays within a quarter texel).
  const Case centred[] = {{0x10800, 0}, {0xF800, 15}, {-0x0800, 15}, {0x38800, 8}};
  for (int group = 0; group < 8; ++group)
    for (int pos = 8; pos < 16; ++pos) {
      if (pos & 1) continue;  // shaded positions: the shade table hides the texel
      const bool jitter = (pos & 4) && (group & 2) == 0;
      for (const Case& c : jitter ? std::vector<Case>(std::begin(centred), std::end(centred))
                                  : std::vector<Case>(std::begin(exact), std::end(exact))) {
        Tri t(pos);
        for (int i = 0; i < 256; ++i) t.texels[i] = static_cast<uint8_t>(17 + (i & 15));  // by column
        for (auto& v : t.v) v.u = c.u, v.v = 0x4800;
        Clear();
        t.Draw(group);
        const auto m = Written();
        ASSERT_EQ(m.size(), 1u) << group << " " << pos << " u " << c.u;
        EXPECT_EQ(m.begin()->first, 17 + c.column) << group << " " << pos << " u " << c.u;
      }
    }
}

TEST_F(Families, TableSpotChecksAndMaskedPerspective) {
  EXPECT_EQ(TriangleHandlerTable[64 + 7], &TriTexturedPerspFixedDitherSmooth);
  EXPECT_EQ(TriangleHandlerTable[64 + 15], &TriTextured16PerspSmooth);  // no fixed-point 16 smooth
  EXPECT_EQ(TriangleHandlerTable[80 + 7], &TriTexturedPerspSmoothZ);
  EXPECT_EQ(TriangleHandlerTable[112 + 2], &TriTexturedPerspFixedStippleZ);
  EXPECT_EQ(TriangleHandlerTable[112 + 11], &TriTextured16PerspFixedStippleSmoothZ);
  EXPECT_EQ(TriangleHandlerTable[48 + 2], &TriTexturedPerspStippleZ);
  EXPECT_EQ(TriangleHandlerTable[32 + 13], &TriTextured16StippleLit);
  EXPECT_EQ(TriangleHandlerTable[16 + 14], &TriTextured16PerspFixedDitherZ);
  // Every handler of the families appears somewhere.
  std::set<TriangleHandler> all(TriangleHandlerTable, TriangleHandlerTable + 128);
  EXPECT_EQ(all.size(), 67u);
  // With the perspective bit masked off a 16 x 16 perspective material draws as position 8.
  Tri t(10);
  for (int i = 0; i < 256; ++i) t.texels[i] = static_cast<uint8_t>(1 + i);
  t.v[0].view_z = 1.0f, t.v[1].view_z = 9.0f;  // strong perspective, ignored when masked
  HandlerMask = 0xD;
  TexturedFan(t.p.get(), 0);
  std::vector<uint8_t> masked_p, affine_p;
  std::vector<uint16_t> masked_z, affine_z;
  f.Save(masked_p, masked_z);
  HandlerMask = 0xF;
  Clear();
  TriTextured16(t.p.get(), &t.v[0], &t.v[1], &t.v[2]);
  f.Save(affine_p, affine_z);
  EXPECT_EQ(masked_p, affine_p);
  Clear();
  TexturedFan(t.p.get(), 0);
  f.Save(masked_p, masked_z);
  EXPECT_NE(masked_p, affine_p);  // unmasked: the perspective handler
}

// Where a group tests depth, two triangles at separate depths give the same picture and
// depth buffer in either order.
TEST_F(Families, DepthResultsDoNotDependOnOrder) {
  std::mt19937 rng(0xD0D0);
  for (int group : {1, 3, 5, 7})
    for (int pos = 0; pos < 16; ++pos)
      for (int round = 0; round < 6; ++round) {
        Tri near(pos), far(pos);
        for (int i = 0; i < 128 * 128 && i < static_cast<int>(near.texels.size()); ++i)
          near.texels[i] = static_cast<uint8_t>(rng() % 7 ? 1 + rng() % 200 : 0), far.texels[i] = near.texels[i];
        for (Tri* t : {&near, &far})
          for (auto& v : t->v) {
            v.screen_x = static_cast<int32_t>(rng() % (kW + 1)) << 16;
            v.screen_y = static_cast<int32_t>(rng() % (kH + 1)) << 16;
            const float w = t == &near ? 1.0f + (rng() % 400) / 100.0f : 10.0f + (rng() % 1000) / 100.0f;
            v.view_z = w;
            v.depth = static_cast<int32_t>(20000.0f * 65536.0f / w);
            v.u = static_cast<int32_t>(rng() % 0x20000);
            v.v = static_cast<int32_t>(rng() % 0x20000);
            v.shade = static_cast<int32_t>(rng() % 0x1F0000);
          }
        // Counter-clockwise, so both draw.
        for (Tri* t : {&near, &far}) {
          const int64_t cross = static_cast<int64_t>(t->v[1].screen_x - t->v[0].screen_x) / 65536 *
                                    ((t->v[2].screen_y - t->v[0].screen_y) / 65536) -
                                static_cast<int64_t>(t->v[1].screen_y - t->v[0].screen_y) / 65536 *
                                    ((t->v[2].screen_x - t->v[0].screen_x) / 65536);
          if (cross > 0) std::swap(t->v[1], t->v[2]);
        }
        near.material.opacity = far.material.opacity = static_cast<uint8_t>(rng());
        Clear();
        near.Draw(group), far.Draw(group);
        std::vector<uint8_t> p1, p2;
        std::vector<uint16_t> z1, z2;
        f.Save(p1, z1);
        Clear();
        far.Draw(group), near.Draw(group);
        f.Save(p2, z2);
        ASSERT_EQ(p1, p2) << group << " " << pos << " round " << round;
        ASSERT_EQ(z1, z2) << group << " " << pos << " round " << round;
        ASSERT_TRUE(f.CanariesIntact());
      }
}

// One row of four pixels through a fixed-point span routine: the start end at 1.5 texels,
// the far end 4 texels on (one texel a pixel), q equal at both ends.
struct OneRow {
  std::vector<uint8_t> row = std::vector<uint8_t>(8, kBack);
  std::vector<uint16_t> depth = std::vector<uint16_t>(8, 0);
  std::vector<uint8_t> texels = std::vector<uint8_t>(128 * 128);
  std::vector<uint8_t> shades = std::vector<uint8_t>(8192);
  SpanState s{};
  explicit OneRow(int32_t q_left, int32_t q_right) {
    for (int i = 0; i < 128 * 128; ++i) texels[i] = static_cast<uint8_t>(1 + (i & 127) % 250);
    for (int i = 0; i < 8192; ++i) shades[i] = static_cast<uint8_t>(i & 0xFF);
    s.RowCount = 1;
    s.RowAddress = row.data();
    s.RowPitch = 8;
    s.DepthRowAddress = depth.data();
    s.DepthPitch = 16;
    s.Depth = 0x10000;
    s.Texels = texels.data();
    s.ShadeRow = shades.data();
    s.Opacity = 255;
    s.DitherRowX = DitherMatrices[0];
    s.DitherRowX2 = DitherMatrices[2];
    s.LeftX = 0, s.RightX = 4 << 16;
    s.LeftQ = q_left, s.RightQ = q_right;
    // u·q over the integer part of q, shift 0: u = 1.5 and 5.5 texels in 7.9.
    s.LeftUQ = static_cast<uint32_t>(0x300 * (q_left >> 16));
    s.RightUQ = static_cast<uint32_t>(0xB00 * (q_right >> 16));
  }
};

TEST_F(Families, FixedSpansSampleTheStartEndOrOneStepIn) {
  // The span modes step before each fetch: 2.5, 3.5, 4.5, 5.5 texels.
  OneRow mode(0x40000000, 0x40000000);
  SpanPerspFixedDitherSmooth(&mode.s);  // no texel offsets
  EXPECT_EQ(std::vector<uint8_t>(mode.row.begin(), mode.row.begin() + 4), (std::vector<uint8_t>{3, 4, 5, 6}));
  EXPECT_EQ(mode.s.RowCount, -1);
  EXPECT_EQ(mode.s.RowAddress, mode.row.data() + 8);
  // The handler-layer routine samples the start end first: 1.5, 2.5, 3.5, 4.5.
  OneRow handler(0x40000000, 0x40000000);
  SpanPerspFixedStippleZ(&handler.s);
  EXPECT_EQ(std::vector<uint8_t>(handler.row.begin(), handler.row.begin() + 4), (std::vector<uint8_t>{2, 3, 4, 5}));
  EXPECT_EQ(handler.s.RowCount, 1);  // not written back
  // Walking right to left the row starts at its right end.
  OneRow back(0x40000000, 0x40000000);
  back.s.PerspDirection = 1;
  SpanPerspFixedDitherSmooth(&back.s);  // 4.5, 3.5, 2.5, 1.5 from x = 3 down
  EXPECT_EQ(std::vector<uint8_t>(back.row.begin(), back.row.begin() + 4), (std::vector<uint8_t>{2, 3, 4, 5}));
}

TEST_F(Families, FixedSpanPathChoice) {
  auto took_short = [](SpanRoutine routine, int32_t qs, int32_t qf) {
    OneRow r(qs, qf);
    r.s.StepU = 0x12345678;  // written by the short path only
    routine(&r.s);
    return r.s.StepU != 0x12345678;
  };
  // The span modes: a fall of 128.0 or more toward the far end takes the long path.
  EXPECT_TRUE(took_short(&SpanPerspFixedDither, 0x40000000 + 0x7FFFFF, 0x40000000));
  EXPECT_FALSE(took_short(&SpanPerspFixedDither, 0x40000000 + 0x800000, 0x40000000));
  EXPECT_TRUE(took_short(&SpanPerspFixedDither, 0x40000000, 0x7F000000));
  // The handler layer: any fall across the top ten bits takes it, q rising never does.
  EXPECT_FALSE(took_short(&SpanPerspFixedStippleZ, 0x40000000, 0x3FFFFFFF));
  EXPECT_TRUE(took_short(&SpanPerspFixedStippleZ, 0x40100000, 0x40000000));
  EXPECT_TRUE(took_short(&SpanPerspFixedStippleZ, 0x10000000, 0x7F000000));
}

// Equal depth: the fixed-point span modes draw over a stored depth equal to their own, the
// handler-layer fixed-point routines and every floating-point one keep the stored pixel.
// Each row below draws four pixels at depth 1 (16.16 depth 1.0, no step).
TEST_F(Families, PerspectiveSpansEqualDepthRules) {
  auto fixed_drawn = [](SpanRoutine routine, uint16_t stored) {
    OneRow r(0x40000000, 0x40000000);
    std::fill(r.depth.begin(), r.depth.end(), stored);
    routine(&r.s);
    int drawn = 0;
    for (int x = 0; x < 4; ++x) drawn += r.row[x] != kBack;
    for (int x = 0; x < 4; ++x) EXPECT_EQ(r.depth[x], r.row[x] != kBack ? 1 : stored);
    return drawn;
  };
  for (SpanRoutine routine : {&SpanPerspFixedDitherZ, &SpanPerspFixedDitherLitZ}) {
    EXPECT_EQ(fixed_drawn(routine, 1), 4);
    EXPECT_EQ(fixed_drawn(routine, 2), 0);
  }
  for (SpanRoutine routine : {&SpanPerspFixedStippleZ, &SpanPerspFixed16DitherZ, &SpanPerspFixed16DitherLitZ}) {
    EXPECT_EQ(fixed_drawn(routine, 0), 4);
    EXPECT_EQ(fixed_drawn(routine, 1), 0);
  }

  auto float_drawn = [](SpanRoutine routine, uint16_t stored) {
    OneRow r(0x10000, 0x10000);
    std::fill(r.depth.begin(), r.depth.end(), stored);
    r.s.Shade = 0x300;
    r.s.RowSeed = DitherMatrices[1][0];
    r.s.LeftW = r.s.RightW = 1.0f;
    r.s.LeftU = 1.5f, r.s.RightU = 5.5f, r.s.LeftV = r.s.RightV = 2.0f;
    routine(&r.s);
    int drawn = 0;
    for (int x = 0; x < 4; ++x) drawn += r.row[x] != kBack;
    for (int x = 0; x < 4; ++x) EXPECT_EQ(r.depth[x], r.row[x] != kBack ? 1 : stored);
    return drawn;
  };
  for (SpanRoutine routine : {&SpanPerspFloatZ, &SpanPerspFloatLitZ, &SpanPerspFloatSmoothZ, &SpanPerspFloat16Z,
                              &SpanPerspFloat16LitZ, &SpanPerspFloat16SmoothZ}) {
    EXPECT_EQ(float_drawn(routine, 0), 4);
    EXPECT_EQ(float_drawn(routine, 1), 0);
  }
  // The screen door passes every noise byte below 255: most, not necessarily all, pixels.
  for (SpanRoutine routine : {&SpanPerspStippleZ, &SpanPerspStippleLitZ, &SpanPerspFloat16StippleZ}) {
    EXPECT_GE(float_drawn(routine, 0), 3);
    EXPECT_EQ(float_drawn(routine, 1), 0);
  }
}

// View depths at or behind the eye, not numbers, and coordinates far outside the texture:
// nothing is read or written outside the texture, the frame and the depth buffer, and the
// floating-point handlers leave such a triangle out.
TEST_F(Families, HostileVerticesStayInBounds) {
  const float depths[] = {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                          1e-30f, 1e30f};
  const int32_t coords[] = {0, 0x7FFFFFFF, static_cast<int32_t>(0x80000000u), -0x1000, 0x1000000, 0x12345678};
  std::mt19937 rng(0xBAD);
  for (int group = 0; group < 8; ++group)
    for (int pos : {2, 3, 6, 7, 10, 11, 14, 15})
      for (int round = 0; round < 12; ++round) {
        Tri t(pos);
        for (auto& v : t.v) {
          v.view_z = round < 6 ? depths[rng() % 6] : 1.0f + rng() % 50;
          v.u = coords[rng() % 6];
          v.v = coords[rng() % 6];
        }
        Clear();
        t.Draw(group);
        ASSERT_TRUE(f.CanariesIntact()) << group << " " << pos;
      }
  // A floating-point perspective triangle with a vertex at the eye draws nothing.
  for (float w : {0.0f, -2.0f, std::numeric_limits<float>::quiet_NaN()}) {
    Tri t(2);
    t.v[1].view_z = w;
    Clear();
    t.Draw(0);
    EXPECT_TRUE(Written().empty()) << w;
  }
}

}  // namespace
