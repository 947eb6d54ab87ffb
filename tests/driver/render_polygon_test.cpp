// Untextured polygon modes: the fan walk, the fill rule's known answers, coverage of convex
// fans, drawing-order independence under the depth test, the screen door, and the sound
// behaviour for short polygons, vertices off the frame and shades out of range.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "driver/core/polygon_modes.h"
#include "tests/driver/reference_raster.h"

namespace {

struct Poly {
  DeviceMaterial material{};
  std::vector<DeviceVertex> v;
  std::unique_ptr<DevicePolygon> p = std::make_unique<DevicePolygon>();

  Poly(std::initializer_list<std::pair<int, int>> points, uint32_t colour = 0x0100, int32_t shade = 3 << 16) {
    material.colour = colour;
    material.opacity = 255;
    for (auto [x, y] : points) {
      DeviceVertex d{};
      d.screen_x = x << 16;
      d.screen_y = y << 16;
      d.depth = 0x100000;
      d.shade = shade;
      v.push_back(d);
    }
    Link();
    p->shade = shade;
  }
  void Link() {
    p->material = &material;
    p->vertex_count = static_cast<uint8_t>(v.size());
    for (size_t i = 0; i < v.size(); ++i) p->vertices[i] = &v[i];
  }
};

// Pixels differing from the fill value, as a set of (x, y).
std::vector<std::pair<int, int>> Drawn(ref::DriverFrame& f, uint8_t fill) {
  std::vector<std::pair<int, int>> out;
  for (int y = 0; y < f.h; ++y)
    for (int x = 0; x < f.w; ++x)
      if (f.Px(x, y) != fill) out.push_back({x, y});
  return out;
}

void Clear(ref::DriverFrame& f, uint8_t fill, uint16_t depth = 0) {
  for (int y = 0; y < f.h; ++y)
    for (int x = 0; x < f.w; ++x) f.Px(x, y) = fill, f.Z(x, y) = depth;
}

TEST(PolygonFill, KnownTriangleRowsAndColumns) {
  ref::DriverFrame f(32, 32, 1);
  f.ramp[0x103] = 77;  // word 0x0100 at shade 3.0
  Clear(f, 0);
  Poly tri({{10, 10}, {5, 20}, {15, 20}});
  EXPECT_EQ(PolygonFlat(tri.p.get(), 0), 0);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      bool in = false;
      if (y == 10) in = x == 9;
      if (y == 19) in = x >= 5 && x <= 14;
      if (y == 10 || y == 19 || y < 10 || y > 19) {
        ASSERT_EQ(f.Px(x, y), in ? 77 : 0) << x << "," << y;
      } else if (f.Px(x, y) != 0) {
        ASSERT_EQ(f.Px(x, y), 77);
      }
    }
  // Each of rows 10 to 19 is one run.
  for (int y = 10; y < 20; ++y) {
    int runs = 0;
    for (int x = 0; x < 32; ++x) runs += f.Px(x, y) != 0 && (x == 0 || f.Px(x - 1, y) == 0);
    EXPECT_EQ(runs, 1) << y;
  }
  EXPECT_TRUE(f.CanariesIntact());

  // The other winding is culled; the flag turns the cull around.
  const size_t front = Drawn(f, 0).size();
  Clear(f, 0);
  Poly back({{10, 10}, {15, 20}, {5, 20}});
  PolygonFlat(back.p.get(), 0);
  EXPECT_TRUE(Drawn(f, 0).empty());
  PolygonFlat(back.p.get(), 1);
  EXPECT_EQ(Drawn(f, 0).size(), front);
}

TEST(PolygonFill, FlagShowsExactlyWhatZeroCulls) {
  ref::DriverFrame f(32, 32, 2);
  Clear(f, 0);
  Poly front({{10, 10}, {5, 20}, {15, 20}});
  PolygonFlat(front.p.get(), 0);
  auto a = Drawn(f, 0);
  Clear(f, 0);
  Poly back({{10, 10}, {15, 20}, {5, 20}});
  PolygonFlat(back.p.get(), 1);
  EXPECT_EQ(Drawn(f, 0), a);
  EXPECT_FALSE(a.empty());
  // Degenerate: three vertices on one row draw under neither flag.
  Clear(f, 0);
  Poly line({{3, 7}, {9, 7}, {20, 7}});
  PolygonFlat(line.p.get(), 0);
  PolygonFlat(line.p.get(), 1);
  EXPECT_TRUE(Drawn(f, 0).empty());
}

TEST(PolygonFill, FlatTopsAndFractions) {
  ref::DriverFrame f(32, 32, 3);
  Clear(f, 0);
  Poly p_right({{10, 10}, {5, 20}, {20, 10}});  // P on T's row, right of T
  PolygonFlat(p_right.p.get(), 0);
  EXPECT_FALSE(Drawn(f, 0).empty());
  Clear(f, 0);
  Poly p_left({{10, 10}, {5, 20}, {2, 10}});
  PolygonFlat(p_left.p.get(), 0);
  EXPECT_TRUE(Drawn(f, 0).empty());
  // Only integer parts count: 10.9 and 10.0 give the same pixels.
  Clear(f, 0);
  Poly whole({{10, 10}, {5, 20}, {15, 20}});
  PolygonFlat(whole.p.get(), 0);
  auto a = Drawn(f, 0);
  Clear(f, 0);
  Poly frac({{10, 10}, {5, 20}, {15, 20}});
  for (auto& v : frac.v) v.screen_x |= 0xE666, v.screen_y |= 0xE666;
  PolygonFlat(frac.p.get(), 0);
  EXPECT_EQ(Drawn(f, 0), a);
}

TEST(PolygonFill, ShortPolygonsDrawNothing) {
  ref::DriverFrame f(16, 16, 4);
  Clear(f, 0);
  for (int n : {0, 1, 2}) {
    Poly p({{1, 1}, {1, 12}, {12, 12}});
    p.p->vertex_count = static_cast<uint8_t>(n);
    for (auto mode : {&PolygonFlat, &PolygonFlatZ, &PolygonSmooth, &PolygonSmoothZ, &PolygonFlatStipple,
                      &PolygonFlatStippleZ, &PolygonSmoothStipple, &PolygonSmoothStippleZ})
      for (int flag : {0, 1}) EXPECT_EQ(mode(p.p.get(), flag), 0);
  }
  EXPECT_TRUE(Drawn(f, 0).empty());
  EXPECT_TRUE(f.CanariesIntact());
}

// Random convex polygons (convex in whole pixels). Fan triangles that share an edge share no
// pixel; together the triangles cover exactly what the polygon mode draws, one run per row,
// with no gap. The fill rule's truncated slopes can still let the two neighbours of a sliver
// triangle that ends on V0 meet on one pixel; such pixels stay rare, and a polygon whose
// edges have exact slopes is covered exactly once.
TEST(PolygonFill, ConvexFanCoversEachPixelOnce) {
  std::mt19937 rng(42);
  ref::DriverFrame f(40, 40, 5);
  f.ramp[0x103] = 1;
  int total = 0, twice = 0, polygons = 0;
  for (int n = 0; n < 400; ++n) {
    const int count = 3 + static_cast<int>(rng() % 8);
    std::vector<double> angles(count);
    for (auto& a : angles) a = (rng() % 100000) / 100000.0 * 6.283185307;
    std::sort(angles.begin(), angles.end(), std::greater<>());  // counter-clockwise with y down
    const double cx = 20, cy = 20, r = 4 + rng() % 16;
    Poly poly({});
    for (double a : angles) {
      DeviceVertex d{};
      d.screen_x = static_cast<int32_t>((cx + r * std::cos(a)) * 65536);
      d.screen_y = static_cast<int32_t>((cy + r * std::sin(a)) * 65536);
      poly.v.push_back(d);
    }
    poly.Link();
    bool convex = true;
    for (int i = 0; i < count; ++i) {
      const DeviceVertex &a = poly.v[i], &b = poly.v[(i + 1) % count], &c = poly.v[(i + 2) % count];
      const int64_t cross = int64_t{(b.screen_x >> 16) - (a.screen_x >> 16)} * ((c.screen_y >> 16) - (b.screen_y >> 16)) -
                            int64_t{(b.screen_y >> 16) - (a.screen_y >> 16)} * ((c.screen_x >> 16) - (b.screen_x >> 16));
      convex = convex && cross < 0;
    }
    if (!convex) continue;
    ++polygons;
    std::vector<int> cover(40 * 40, 0), owner(40 * 40, -1);
    for (int k = count - 2; k >= 1; --k) {
      Clear(f, 0);
      TriFlat(poly.p.get(), &poly.v[0], &poly.v[k], &poly.v[k + 1]);
      for (auto [x, y] : Drawn(f, 0)) {
        const int i = y * 40 + x;
        ASSERT_NE(owner[i], k + 1) << "neighbours share pixel " << x << "," << y << " polygon " << n;
        ++cover[i];
        owner[i] = k;
      }
    }
    Clear(f, 0);
    PolygonFlat(poly.p.get(), 0);
    for (int y = 0; y < 40; ++y) {
      int runs = 0;
      for (int x = 0; x < 40; ++x) {
        ASSERT_EQ(cover[y * 40 + x] > 0, f.Px(x, y) != 0) << x << "," << y << " polygon " << n;
        runs += f.Px(x, y) != 0 && (x == 0 || f.Px(x - 1, y) == 0);
        twice += cover[y * 40 + x] > 1;
        total += cover[y * 40 + x] > 0;
      }
      ASSERT_LE(runs, 1) << "row " << y << " polygon " << n;
    }
  }
  EXPECT_GT(polygons, 150);
  EXPECT_GT(total, 30000);
  EXPECT_LE(twice * 1000, total);  // well under one pixel in a thousand

  // An octagon whose edges all have exact slopes: every pixel exactly once.
  Poly oct({{20, 4}, {12, 8}, {8, 16}, {8, 24}, {16, 32}, {24, 32}, {32, 24}, {32, 12}});
  std::vector<int> cover(40 * 40, 0);
  for (int k = 6; k >= 1; --k) {
    Clear(f, 0);
    TriFlat(oct.p.get(), &oct.v[0], &oct.v[k], &oct.v[k + 1]);
    for (auto [x, y] : Drawn(f, 0)) ++cover[y * 40 + x];
  }
  Clear(f, 0);
  PolygonFlat(oct.p.get(), 0);
  const auto whole = Drawn(f, 0);
  EXPECT_GT(whole.size(), 500u);
  for (auto [x, y] : whole) EXPECT_EQ(cover[y * 40 + x], 1) << x << "," << y;
  EXPECT_EQ(std::accumulate(cover.begin(), cover.end(), 0), static_cast<int>(whole.size()));
}

// Opaque triangles with distinct depths: the depth-tested frame is the same in any order.
TEST(PolygonFill, DepthResultIndependentOfOrder) {
  std::mt19937 rng(7);
  ref::DriverFrame f(32, 24, 6);
  for (int scene = 0; scene < 40; ++scene) {
    std::vector<Poly> tris;
    tris.reserve(8);  // polygons point into themselves
    for (int i = 0; i < 8; ++i) {
      auto pt = [&] { return std::pair<int, int>(rng() % 33, rng() % 25); };
      tris.emplace_back(std::initializer_list<std::pair<int, int>>{pt(), pt(), pt()}, 0x0100 + 0x20 * (i % 4),
                        (i * 3) << 16);
      for (auto& v : tris.back().v) v.depth = (1000 + 37 * i) << 16;
      tris.back().Link();
    }
    std::vector<int> order(8);
    std::iota(order.begin(), order.end(), 0);
    std::vector<uint8_t> first_p;
    std::vector<uint16_t> first_z;
    for (int perm = 0; perm < 12; ++perm) {
      std::shuffle(order.begin(), order.end(), rng);
      Clear(f, 0);
      for (int i : order) {
        PolygonFlatZ(tris[i].p.get(), 0);
        PolygonFlatZ(tris[i].p.get(), 1);  // both facings, so every triangle counts
      }
      std::vector<uint8_t> p;
      std::vector<uint16_t> z;
      f.Save(p, z);
      if (perm == 0) {
        first_p = p, first_z = z;
      } else {
        ASSERT_EQ(p, first_p) << scene;
        ASSERT_EQ(z, first_z) << scene;
      }
    }
  }
}

TEST(PolygonFill, OpacityZeroWritesNothing) {
  ref::DriverFrame f(24, 24, 8);
  Clear(f, 9, 0);
  Poly p({{1, 1}, {2, 22}, {22, 20}, {20, 2}});
  p.material.opacity = 0;
  for (auto mode : {&PolygonFlatStipple, &PolygonFlatStippleZ, &PolygonSmoothStipple, &PolygonSmoothStippleZ})
    for (int flag : {0, 1}) mode(p.p.get(), flag);
  EXPECT_TRUE(Drawn(f, 9).empty());
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 24; ++x) ASSERT_EQ(f.Z(x, y), 0);
  // Opacity 255 leaves out only the pixels whose noise byte is 255: nearly all drawn.
  p.material.opacity = 255;
  PolygonFlatStipple(p.p.get(), 0);
  EXPECT_GT(Drawn(f, 9).size(), 300u);
}

TEST(PolygonFill, EqualDepthOpaqueOverwritesStippleKeeps) {
  ref::DriverFrame f(16, 16, 9);
  f.ramp[0x103] = 50;
  f.ramp[0x143] = 60;
  Poly a({{0, 0}, {0, 16}, {16, 16}, {16, 0}}, 0x0100);
  Poly b({{0, 0}, {0, 16}, {16, 16}, {16, 0}}, 0x0140);
  Clear(f, 0);
  PolygonFlatZ(a.p.get(), 0);
  PolygonFlatZ(b.p.get(), 0);
  EXPECT_EQ(f.Px(5, 5), 60);
  Clear(f, 0);
  PolygonFlatZ(a.p.get(), 0);
  PolygonFlatStippleZ(b.p.get(), 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(f.Px(x, y), 50);
  // With the depth bias the later polygon wins against the coplanar one.
  b.material.mode = 0x40;
  PolygonFlatStippleZ(b.p.get(), 0);
  EXPECT_EQ(f.Px(5, 5), 60);
  EXPECT_EQ(f.Z(5, 5), 0x10 + 0xFF);
}

TEST(PolygonFill, SmoothConstantShadeHasNoNoise) {
  ref::DriverFrame f(24, 24, 10);
  Clear(f, 0);
  for (uint32_t word : {0x0100u, 0x0120u, 0x1200u}) {
    Poly p({{0, 0}, {0, 24}, {24, 24}, {24, 0}}, word, 5 << 16);
    PolygonSmooth(p.p.get(), 0);
    const int level = (word & 0x20) ? 26 : 5;
    for (int y = 0; y < 24; ++y)
      for (int x = 0; x < 24; ++x) ASSERT_EQ(f.Px(x, y), f.ramp[(word & 0xFFE0) + level]) << word;
  }
}

TEST(PolygonFill, ShadesOutOfRangeStayInsideTheRamp) {
  // Shades far outside 0..31 and colour words past the table read the nearest level of a
  // row inside the ramp table (the poisoned bytes after it would trip the sanitizer).
  ref::DriverFrame f(24, 24, 11);
  for (int32_t shade : {-0x7FFFFFFF, -0x10000, 0x200000, 0x7FFFFFFF}) {
    for (uint32_t word : {0x0100u, 0x0120u, 0x1200u, 0xFFE0u, 0xFFFFu}) {
      Clear(f, 0);
      Poly p({{0, 0}, {3, 24}, {24, 20}, {20, 1}}, word, shade);
      for (auto mode : {&PolygonFlat, &PolygonSmooth, &PolygonSmoothStipple}) mode(p.p.get(), 0);
      const uint32_t row = std::min<uint32_t>(word & 0xFFE0, 0x1200);
      const int level = shade < 0 ? 0 : 31;
      const int mirrored = (word & 0x20) && row == (word & 0xFFE0) ? 31 - level : level;
      EXPECT_EQ(f.Px(10, 10), f.ramp[row + mirrored]) << std::hex << word << " " << shade;
    }
  }
  EXPECT_TRUE(f.CanariesIntact());
}

TEST(PolygonFill, VertexOffTheFrameLeavesTriangleOut) {
  ref::DriverFrame f(20, 20, 12);
  Clear(f, 0);
  const std::pair<int, int> outside[] = {{-1, 5}, {21, 5}, {5, -1}, {5, 21}, {30000, 5}, {-30000, -30000}};
  for (auto [x, y] : outside) {
    Poly p({{10, 0}, {0, 20}, {20, 20}});
    p.v[2].screen_x = x << 16;
    p.v[2].screen_y = y << 16;
    for (auto mode : {&PolygonFlat, &PolygonFlatZ, &PolygonSmoothZ, &PolygonFlatStipple}) mode(p.p.get(), 0);
  }
  EXPECT_TRUE(Drawn(f, 0).empty());
  EXPECT_TRUE(f.CanariesIntact());
  // On the borders themselves (0 and 20) the triangle is drawn, and stays inside.
  f.ramp[0x103] = 77;
  Poly full({{0, 0}, {0, 20}, {20, 20}, {20, 0}});
  PolygonFlatZ(full.p.get(), 0);
  EXPECT_EQ(Drawn(f, 0).size(), 400u);
  EXPECT_TRUE(f.CanariesIntact());
}

TEST(PolygonFill, QuotientTableOnlySpeedsUp) {
  std::mt19937 rng(99);
  ref::DriverFrame f(48, 40, 13);
  for (int n = 0; n < 500; ++n) {
    Poly p({{static_cast<int>(rng() % 49), static_cast<int>(rng() % 41)},
            {static_cast<int>(rng() % 49), static_cast<int>(rng() % 41)},
            {static_cast<int>(rng() % 49), static_cast<int>(rng() % 41)}});
    for (auto& v : p.v) v.shade = static_cast<int32_t>(rng() % 0x1F0000), v.depth = static_cast<int32_t>(rng());
    p.Link();
    std::vector<uint8_t> a, b;
    std::vector<uint16_t> za, zb;
    Clear(f, 0);
    PolygonSmoothZ(p.p.get(), n & 1);
    f.Save(a, za);
    Clear(f, 0);
    int32_t* table = QuotientTable;
    QuotientTable = nullptr;
    PolygonSmoothZ(p.p.get(), n & 1);
    QuotientTable = table;
    f.Save(b, zb);
    ASSERT_EQ(a, b);
    ASSERT_EQ(za, zb);
  }
}

}  // namespace
