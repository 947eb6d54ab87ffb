// Line and point modes: known pixels of the edge drawer, the border guards, facing and clip
// rules, the depth tests, and lines and points on every border of a canary-banded frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "driver/core/line_modes.h"
#include "driver/core/polygon_modes.h"
#include "driver/core/render_modes.h"
#include "tests/driver/reference_raster.h"

namespace {

struct Shape {
  DeviceMaterial material{};
  std::vector<DeviceVertex> v;
  std::unique_ptr<DevicePolygon> p = std::make_unique<DevicePolygon>();
  Shape(std::initializer_list<std::pair<int32_t, int32_t>> points16, uint32_t colour = 0x0100,
        int32_t shade = 3 << 16) {
    material.colour = colour;
    for (auto [x, y] : points16) {
      DeviceVertex d{};
      d.screen_x = x;
      d.screen_y = y;
      d.depth = 0x100000;
      d.shade = shade;
      v.push_back(d);
    }
    p->material = &material;
    p->shade = shade;
    p->vertex_count = static_cast<uint8_t>(v.size());
    for (size_t i = 0; i < v.size(); ++i) p->vertices[i] = &v[i];
  }
};

constexpr int32_t P(int whole) { return whole << 16; }

std::vector<std::pair<int, int>> Lit(ref::DriverFrame& f) {
  std::vector<std::pair<int, int>> out;
  for (int y = 0; y < f.h; ++y)
    for (int x = 0; x < f.w; ++x)
      if (f.Px(x, y) != 0) out.push_back({x, y});
  return out;
}

void Clear(ref::DriverFrame& f) {
  for (int y = 0; y < f.h; ++y)
    for (int x = 0; x < f.w; ++x) f.Px(x, y) = 0, f.Z(x, y) = 0;
}

struct LineTest : ::testing::Test {
  ref::DriverFrame f{20, 16, 21};
  void SetUp() override {
    for (int i = 0; i < 4640; ++i) f.ramp[i] = static_cast<uint8_t>(1 + i % 250);
    Clear(f);
  }
};

TEST_F(LineTest, HorizontalLineLeavesFarEnd) {
  Shape s({{P(0), P(5)}, {P(10), P(5)}});
  DrawLine(&s.v[0], &s.v[1], &s.material, &s.p->shade);
  std::vector<std::pair<int, int>> want;
  for (int x = 0; x < 10; ++x) want.push_back({x, 5});
  EXPECT_EQ(Lit(f), want);
  EXPECT_EQ(f.Px(3, 5), f.ramp[0x103]);
  Clear(f);
  Shape dot({{P(3), P(3)}, {P(3), P(3)}});
  DrawLine(&dot.v[0], &dot.v[1], &dot.material, &dot.p->shade);
  EXPECT_EQ(Lit(f), (std::vector<std::pair<int, int>>{{3, 3}}));
  // Fractions are dropped before anything else.
  Clear(f);
  Shape frac({{P(3) + 0xFFFF, P(3) + 0x8000}, {P(4) + 1, P(3) + 0xFFFF}});
  DrawLine(&frac.v[0], &frac.v[1], &frac.material, &frac.p->shade);
  EXPECT_EQ(Lit(f), (std::vector<std::pair<int, int>>{{3, 3}}));
}

TEST_F(LineTest, BorderGuards) {
  // Lying on the bottom or right border: nothing.
  Shape bottom({{P(2), P(16)}, {P(12), P(16)}});
  DrawLine(&bottom.v[0], &bottom.v[1], &bottom.material, &bottom.p->shade);
  Shape right({{P(20), P(2)}, {P(20), P(12)}});
  DrawLine(&right.v[0], &right.v[1], &right.material, &right.p->shade);
  EXPECT_TRUE(Lit(f).empty());
  // A steep line to the right border has its end pulled in by 1/65536.
  Shape steep({{P(17), P(0)}, {P(20), P(6)}});
  DrawLine(&steep.v[0], &steep.v[1], &steep.material, &steep.p->shade);
  EXPECT_EQ(f.Px(17, 2), f.ramp[0x103]);
  EXPECT_EQ(f.Px(18, 2), 0);
  EXPECT_EQ(Lit(f).size(), 6u);
  // A line whose left end is on the bottom border starts in the last row.
  Clear(f);
  Shape up({{P(0), P(16)}, {P(5), P(12)}});
  DrawLine(&up.v[0], &up.v[1], &up.material, &up.p->shade);
  EXPECT_NE(f.Px(0, 15), 0);
  EXPECT_TRUE(f.CanariesIntact());
}

TEST_F(LineTest, OutlinesAndPolylines) {
  // Two vertices: the outline draws the segment twice, the polyline once; the right end is
  // the far end of both edges and stays unset.
  Shape seg({{P(1), P(1)}, {P(8), P(1)}});
  seg.v[0].depth = 0x200000;
  LinesFlatZ(seg.p.get(), 0);
  EXPECT_EQ(Lit(f).size(), 7u);
  EXPECT_EQ(f.Px(8, 1), 0);
  EXPECT_EQ(f.Z(1, 1), 0x20);
  Clear(f);
  PolylineFlat(seg.p.get(), 0);
  EXPECT_EQ(Lit(f).size(), 7u);
  // One-sided outline seen from behind: nothing, but the smooth member rewrites the shade.
  Clear(f);
  Shape tri({{P(2), P(2)}, {P(2), P(12)}, {P(12), P(7)}}, 0x0100, 4 << 16);
  tri.v[0].shade = 9 << 16;
  tri.p->shade = 1 << 16;
  LinesSmooth(tri.p.get(), 1);
  EXPECT_TRUE(Lit(f).empty());
  EXPECT_EQ(tri.p->shade, 9 << 16);
  tri.material.mode = 0x80;  // two-sided
  LinesSmooth(tri.p.get(), 1);
  EXPECT_EQ(f.Px(2, 5), f.ramp[0x109]);
  // The vertex strictly right of the other two is the far end of both its edges: unset.
  EXPECT_EQ(f.Px(12, 7), 0);
  EXPECT_NE(f.Px(2, 2), 0);
  EXPECT_NE(f.Px(2, 12), 0);
}

TEST_F(LineTest, ClipBitsHideEdges) {
  Shape s({{P(1), P(1)}, {P(10), P(1)}, {P(10), P(10)}, {P(1), P(10)}});
  s.v[0].clip_flags = 0x04;
  s.v[3].clip_flags = 0x04;  // V3-V0 hidden; the polyline starts at V1
  PolylineFlat(s.p.get(), 0);
  EXPECT_EQ(f.Px(5, 1), 0);  // V0-V1 not drawn although V0 and V1 share no bit
  EXPECT_NE(f.Px(10, 5), 0);
  EXPECT_NE(f.Px(5, 10), 0);
  Clear(f);
  LinesFlat(s.p.get(), 0);
  EXPECT_NE(f.Px(5, 1), 0);
  EXPECT_EQ(f.Px(1, 5), 0);
}

TEST_F(LineTest, DepthTests) {
  Shape s({{P(0), P(4)}, {P(6), P(4)}});
  for (int x = 0; x < 20; ++x) f.Z(x, 4) = 0x10;
  DrawLineZ(&s.v[0], &s.v[1], &s.material, &s.p->shade);  // equal depth overwrites
  EXPECT_NE(f.Px(2, 4), 0);
  Shape pts({{P(3), P(8)}});
  f.Z(3, 8) = 0x10;
  PointsFlatZ(pts.p.get(), 0);  // equal depth keeps the old pixel
  EXPECT_EQ(f.Px(3, 8), 0);
  pts.material.mode = 0x40;
  PointsFlatZ(pts.p.get(), 0);
  EXPECT_EQ(f.Px(3, 8), f.ramp[0x103]);
  EXPECT_EQ(f.Z(3, 8), 0x10F);
}

TEST_F(LineTest, PointsColoursFacingAndClip) {
  Shape s({{P(1), P(1)}, {P(2), P(1)}, {P(3), P(1)}}, 0x0120, 3 << 16);
  s.v[1].clip_flags = 0x40;  // the engine's bit only: still plotted
  s.v[2].clip_flags = 0x01;
  PointsFlat(s.p.get(), 1);  // one-sided, from behind
  EXPECT_TRUE(Lit(f).empty());
  PointsFlat(s.p.get(), 0);
  EXPECT_EQ(f.Px(1, 1), f.ramp[0x120 + 28]);
  EXPECT_EQ(f.Px(2, 1), f.ramp[0x120 + 28]);
  EXPECT_EQ(f.Px(3, 1), 0);
  Shape sm({{P(5), P(5)}, {P(6), P(5)}}, 0x0100);
  sm.v[0].shade = 7 << 16;
  sm.v[1].shade = 40 << 16;  // beyond the last level: read as level 31
  sm.material.mode = 0x80;
  PointsSmooth(sm.p.get(), 1);
  EXPECT_EQ(f.Px(5, 5), f.ramp[0x107]);
  EXPECT_EQ(f.Px(6, 5), f.ramp[0x11F]);
}

// Random lines and points between border positions: nothing outside the frame, and edges to
// vertices off the frame are left out.
TEST_F(LineTest, EveryBorderStaysInside) {
  std::mt19937 rng(1234);
  auto coord = [&](int limit) {
    const int r = static_cast<int>(rng() % 6);
    const int whole = r == 0 ? 0 : r == 1 ? limit : r == 2 ? limit - 1 : static_cast<int>(rng() % (limit + 1));
    return P(whole) + static_cast<int32_t>(rng() & 0xFFFF);
  };
  for (int n = 0; n < 20000; ++n) {
    Shape s({{coord(20), coord(16)}, {coord(20), coord(16)}, {coord(20), coord(16)}});
    if (n % 7 == 0) s.v[rng() % 3].screen_x = P(20 + 1 + static_cast<int>(rng() % 100));
    if (n % 11 == 0) s.v[rng() % 3].screen_y = -P(1 + static_cast<int>(rng() % 100));
    for (auto& v : s.v) v.depth = static_cast<int32_t>(rng());
    s.material.mode = static_cast<uint8_t>(rng());
    const int flag = static_cast<int>(rng() % 2);
    for (auto mode : {&LinesFlat, &LinesFlatZ, &LinesSmooth, &LinesSmoothZ, &PolylineFlat, &PolylineFlatZ,
                      &PolylineSmooth, &PolylineSmoothZ, &PointsFlat, &PointsFlatZ, &PointsSmooth, &PointsSmoothZ})
      mode(s.p.get(), flag);
    ASSERT_TRUE(f.CanariesIntact()) << n;
  }
  // An edge with one end off the frame draws nothing.
  Clear(f);
  Shape off({{P(5), P(5)}, {P(40), P(5)}});
  PolylineFlat(off.p.get(), 0);
  EXPECT_TRUE(Lit(f).empty());
}

TEST(RenderModeTable, BanksFollowTheDepthBuffer) {
  DeviceRecord record{};
  RenderModeTableWrite(&record, 0);
  const int slots[] = {0, 1, 4, 5, 8, 9, 12, 13, 14, 15, 20, 21, 22, 23};
  for (int slot : slots) {
    EXPECT_NE(record.render_modes[0][slot], nullptr) << slot;
    EXPECT_EQ(record.render_modes[1][slot], record.render_modes[0][slot]) << slot;
  }
  EXPECT_EQ(record.render_modes[1][12], &PolygonFlat);
  DeviceRecord before = record;
  RenderModeTableWrite(&record, 1);
  EXPECT_EQ(std::memcmp(record.render_modes[0], before.render_modes[0], sizeof record.render_modes[0]), 0);
  for (int slot : slots) EXPECT_NE(record.render_modes[1][slot], record.render_modes[0][slot]) << slot;
  EXPECT_EQ(record.render_modes[1][0], &PointsFlatZ);
  EXPECT_EQ(record.render_modes[1][4], &LinesFlatZ);
  // The slots the driver never uses stay as they were.
  for (int slot = 0; slot < 64; ++slot) {
    if (std::find(std::begin(slots), std::end(slots), slot) != std::end(slots)) continue;
    EXPECT_EQ(record.render_modes[0][slot], nullptr);
    EXPECT_EQ(record.render_modes[1][slot], nullptr);
  }
}

}  // namespace
