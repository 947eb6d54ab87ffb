// The triangle handler table, the textured fans, the orientation test and the affine
// handlers' known answers.
#include <gtest/gtest.h>

#include <array>
#include <set>

#include "driver/triangles/affine.h"
#include "driver/triangles/handler_table.h"
#include "tests/driver/reference_raster.h"

namespace {

struct TexPoly {
  DeviceTexture texture{};
  DeviceMaterial material{};
  std::vector<DeviceVertex> v;
  std::unique_ptr<DevicePolygon> p = std::make_unique<DevicePolygon>();
  // Whole-pixel positions with (u, v) in 16.16.
  TexPoly(const uint8_t* texels, std::initializer_list<std::array<int32_t, 4>> points, uint8_t mode = 0) {
    texture.texels = const_cast<uint8_t*>(texels);
    material.texture = &texture;
    material.mode = mode;
    material.opacity = 255;
    for (auto [x, y, u, vv] : points) {
      DeviceVertex d{};
      d.screen_x = x << 16;
      d.screen_y = y << 16;
      d.depth = 0x100000;
      d.view_z = 4.0f;
      d.u = u;
      d.v = vv;
      d.shade = 0x80000;
      v.push_back(d);
    }
    p->material = &material;
    p->shade = 0x3C000;
    p->vertex_count = static_cast<uint8_t>(v.size());
    for (size_t i = 0; i < v.size(); ++i) p->vertices[i] = &v[i];
  }
};

std::vector<uint8_t> Snapshot(ref::DriverFrame& f) {
  std::vector<uint8_t> p;
  std::vector<uint16_t> z;
  f.Save(p, z);
  for (uint16_t d : z) p.push_back(static_cast<uint8_t>(d)), p.push_back(static_cast<uint8_t>(d >> 8));
  return p;
}

void Clear(ref::DriverFrame& f, uint8_t value = 0) {
  for (int y = 0; y < f.h; ++y)
    for (int x = 0; x < f.w; ++x) f.Px(x, y) = value, f.Z(x, y) = 0;
}

TEST(HandlerTable, EveryEntryPresentAndBuiltPositionsAffine) {
  for (int i = 0; i < 128; ++i) EXPECT_NE(TriangleHandlerTable[i], nullptr) << i;
  EXPECT_EQ(TriangleHandlerTable[0], &TriTextured);
  EXPECT_EQ(TriangleHandlerTable[1], &TriTexturedLit);
  EXPECT_EQ(TriangleHandlerTable[16], &TriTexturedZ);
  EXPECT_EQ(TriangleHandlerTable[17], &TriTexturedLitZ);
  EXPECT_EQ(TriangleHandlerTable[64], &TriTextured);
  EXPECT_EQ(TriangleHandlerTable[80], &TriTexturedZ);
  // Repeats: stipple groups' positions 4-7 and 12-15 are 0-3 and 8-11.
  for (int g : {2, 3, 6, 7})
    for (int pos : {4, 5, 6, 7, 12, 13, 14, 15})
      EXPECT_EQ(TriangleHandlerTable[16 * g + pos], TriangleHandlerTable[16 * g + pos - 4]) << g << " " << pos;
  for (int pos : {5, 13, 15}) EXPECT_EQ(TriangleHandlerTable[64 + pos], TriangleHandlerTable[64 + pos - 4]);
  for (int pos : {5, 7, 13, 15}) EXPECT_EQ(TriangleHandlerTable[80 + pos], TriangleHandlerTable[80 + pos - 4]);
  // Groups 0 and 1 have sixteen different handlers each; no handler serves two groups
  // except the ones the table shares (position 0 of groups 4 and 5, the stipple pairs).
  for (int g : {0, 1}) {
    std::set<TriangleHandler> distinct(TriangleHandlerTable + 16 * g, TriangleHandlerTable + 16 * g + 16);
    EXPECT_EQ(distinct.size(), 16u) << g;
  }
  EXPECT_NE(TriangleHandlerTable[2 * 16 + 2], TriangleHandlerTable[3 * 16 + 2]);
  EXPECT_NE(TriangleHandlerTable[3 * 16 + 2], TriangleHandlerTable[7 * 16 + 2]);  // group 7: fixed point
  EXPECT_EQ(TriangleHandlerTable[2 * 16], TriangleHandlerTable[6 * 16]);
}

TEST(Orientation, SignsAndExactProducts) {
  auto vtx = [](int32_t y, int32_t z) {
    DeviceVertex d{};
    d.screen_y = y;
    d.depth = z;
    return d;
  };
  DeviceVertex a = vtx(0, 0), b = vtx(10, 20), c = vtx(30, 60);  // on one line
  EXPECT_EQ(TriangleOrientation(&a, &b, &c), 1);
  DeviceVertex d = vtx(30, 50);
  EXPECT_NE(TriangleOrientation(&a, &b, &d), TriangleOrientation(&a, &d, &b));
  // P - Q = -1 with products near 2^60: only exact arithmetic sees the sign.
  DeviceVertex e = vtx(-(1 << 30), 0), f = vtx(0, (1 << 30) - 1), g = vtx((1 << 30) + 1, 0x7FFFFFFF);
  EXPECT_EQ(TriangleOrientation(&e, &f, &g), 0);
  // P - Q = +1: (2^30)(2^30) against (2^30 - 1)(2^30 + 1).
  DeviceVertex k = vtx(-((1 << 30) - 1), -(1 << 30)), l = vtx(0, 0), m = vtx(1 << 30, (1 << 30) + 1);
  EXPECT_EQ(TriangleOrientation(&k, &l, &m), 1);
  // Signs alone decide: P >= 0 > Q.
  DeviceVertex h = vtx(0, 0), i = vtx(-5, 3), j = vtx(-2, 9);
  EXPECT_EQ(TriangleOrientation(&h, &i, &j), 1);
}

struct TexturedTest : ::testing::Test {
  ref::DriverFrame f{32, 32, 77};
  void SetUp() override {
    for (int i = 0; i < 128 * 128; ++i) f.texels[i] = static_cast<uint8_t>(1 + (i % 253));
    Clear(f);
  }
};

TEST_F(TexturedTest, WholeTextureRepeatsAndTexelZeroIsTransparent) {
  // u = 1.25 and u = 0.25 give the same texel column (32).
  TexPoly a(f.texels.data(), {{0, 0, 0x14000, 0}, {0, 4, 0x14000, 0}, {4, 4, 0x14000, 0}});
  TexPoly b(f.texels.data(), {{0, 0, 0x4000, 0}, {0, 4, 0x4000, 0}, {4, 4, 0x4000, 0}});
  TexturedFan(a.p.get(), 0);
  const auto with_a = Snapshot(f);
  EXPECT_EQ(f.Px(0, 2), f.texels[32]);
  Clear(f);
  TexturedFan(b.p.get(), 0);
  EXPECT_EQ(Snapshot(f), with_a);
  // A texture of zeros draws neither pixels nor depth.
  std::vector<uint8_t> zeros(128 * 128, 0);
  Clear(f, 9);
  TexPoly z(zeros.data(), {{0, 0, 0, 0}, {0, 30, 0, 0x10000}, {30, 30, 0x10000, 0x10000}, {30, 0, 0x10000, 0}});
  for (auto fan : {&TexturedFan, &TexturedFanZ, &TexturedFanSmooth, &TexturedFanSmoothZ}) fan(z.p.get(), 0);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) ASSERT_TRUE(f.Px(x, y) == 9 && f.Z(x, y) == 0);
}

TEST_F(TexturedTest, LitUsesTheShadeRowOfThePolygonShade) {
  TexPoly a(f.texels.data(), {{0, 0, 0, 0}, {0, 8, 0, 0}, {8, 8, 0, 0}}, 0x01);  // position 1
  TexturedFan(a.p.get(), 0);
  EXPECT_EQ(f.Px(0, 5), f.shades[3 * 256 + f.texels[0]]);  // shade 3.75: row 3
  a.p->shade = 0x7FFFFFFF;  // far past the last level: row 31
  TexturedFan(a.p.get(), 0);
  EXPECT_EQ(f.Px(0, 5), f.shades[31 * 256 + f.texels[0]]);
  a.p->shade = -0x10000;
  TexturedFan(a.p.get(), 0);
  EXPECT_EQ(f.Px(0, 5), f.shades[f.texels[0]]);
}

TEST_F(TexturedTest, DepthBiasWinsAgainstCoplanar) {
  TexPoly a(f.texels.data(), {{0, 0, 0, 0}, {0, 8, 0, 0}, {8, 8, 0, 0}});
  TexPoly b(f.texels.data(), {{0, 0, 0x8000, 0}, {0, 8, 0x8000, 0}, {8, 8, 0x8000, 0}}, 0x40);
  TexturedFanZ(a.p.get(), 0);
  TexturedFanZ(b.p.get(), 0);
  EXPECT_EQ(f.Px(0, 5), f.texels[64]);
  EXPECT_EQ(f.Z(0, 5), 0x10F);
}

// A pentagon whose fan triangles overlap: the fan's result equals the handler applied to
// (V0, V3, V4), (V0, V2, V3), (V0, V1, V2) in this order, and differs from the reverse.
TEST_F(TexturedTest, FanOrderAndFlag) {
  TexPoly p(f.texels.data(), {{2, 2, 0, 0}, {2, 28, 0x4000, 0x2000}, {28, 26, 0x8000, 0x6000},
                              {4, 20, 0x1000, 0x9000}, {26, 10, 0x7000, 0x3000}});
  TexturedFanZ(p.p.get(), 0);
  const auto fan = Snapshot(f);
  auto manual = [&](std::initializer_list<std::array<int, 3>> order, int flip) {
    Clear(f);
    for (auto [a, b, c] : order) {
      if (flip)
        TriTexturedZ(p.p.get(), &p.v[a], &p.v[c], &p.v[b]);
      else
        TriTexturedZ(p.p.get(), &p.v[a], &p.v[b], &p.v[c]);
    }
    return Snapshot(f);
  };
  EXPECT_EQ(manual({{0, 3, 4}, {0, 2, 3}, {0, 1, 2}}, 0), fan);
  EXPECT_NE(manual({{0, 1, 2}, {0, 2, 3}, {0, 3, 4}}, 0), fan);
  Clear(f);
  TexturedFanZ(p.p.get(), 1);
  EXPECT_EQ(manual({{0, 3, 4}, {0, 2, 3}, {0, 1, 2}}, 1), Snapshot(f));
  // A triangle with flag 1 is (V0, V2, V1): the clockwise twin of flag 0.
  TexPoly t(f.texels.data(), {{2, 2, 0, 0}, {2, 20, 0, 0x8000}, {20, 20, 0x8000, 0x8000}});
  Clear(f);
  TexturedFan(t.p.get(), 1);
  EXPECT_EQ(f.Px(3, 10), 0);
  TexturedFan(t.p.get(), 0);
  EXPECT_NE(f.Px(3, 10), 0);
  // Fewer than three vertices: nothing.
  Clear(f);
  for (int n : {0, 1, 2}) {
    t.p->vertex_count = static_cast<uint8_t>(n);
    for (auto fan_fn : {&TexturedFan, &TexturedFanZ, &TexturedFanStipple, &TexturedFanStippleZ, &TexturedFanSmooth,
                        &TexturedFanSmoothZ, &TexturedFanSmoothStipple, &TexturedFanSmoothStippleZ})
      fan_fn(t.p.get(), 0);
  }
  EXPECT_EQ(Snapshot(f), std::vector<uint8_t>(32 * 32 * 3, 0));
}

TEST_F(TexturedTest, MaskAndModeBits) {
  TexPoly t(f.texels.data(), {{2, 2, 0, 0}, {2, 20, 0, 0x8000}, {20, 20, 0x8000, 0x8000}}, 0x03);
  // Mask 0xD drops the perspective bit: position 3 acts as 1 (lit affine).
  HandlerMask = 0xD;
  TexturedFan(t.p.get(), 0);
  const auto masked = Snapshot(f);
  Clear(f);
  TriTexturedLit(t.p.get(), &t.v[0], &t.v[1], &t.v[2]);
  EXPECT_EQ(Snapshot(f), masked);
  HandlerMask = 0xF;
  // Bits 4-7 never change the handler chosen.
  for (uint8_t high : {0x10, 0x20, 0x80, 0xF0}) {
    t.material.mode = static_cast<uint8_t>(0x01 | high);
    Clear(f);
    TexturedFan(t.p.get(), 0);
    EXPECT_EQ(Snapshot(f), masked) << int{high};
  }
}

// Every position draws a square; a 16 x 16 texture is read within its 256 texels (the
// sanitizer build checks the bounds).
TEST_F(TexturedTest, EveryPositionDrawsAndSmallTexturesStayInBounds) {
  auto small = std::make_unique<uint8_t[]>(256);
  for (int i = 0; i < 256; ++i) small[i] = static_cast<uint8_t>(1 + i % 200);
  for (int group = 0; group < 8; ++group)
    for (int pos = 2; pos < 16; ++pos) {
      const bool sixteen = pos >= 8;
      TexPoly t(sixteen ? small.get() : f.texels.data(),
                {{1, 1, 0, 0}, {1, 30, 0, 0xFFFF}, {30, 30, 0xFFFF, 0xFFFF}, {30, 1, 0xFFFF, 0}},
                static_cast<uint8_t>(pos));
      Clear(f);
      TriangleHandlerTable[16 * group + pos](t.p.get(), &t.v[0], &t.v[1], &t.v[2]);
      int drawn = 0;
      for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) drawn += f.Px(x, y) != 0;
      EXPECT_GT(drawn, 300) << group << " " << pos;
      ASSERT_TRUE(f.CanariesIntact());
      if (sixteen && !(pos & 1) && !(pos & 4)) {
        // u = v = 0.5 + a little lands on texel (8, 8) of the small texture (positions
        // without texel dither).
        Clear(f);
        TexPoly c(small.get(), {{4, 4, 0x8100, 0x8100}, {4, 8, 0x8100, 0x8100}, {8, 8, 0x8100, 0x8100}},
                  static_cast<uint8_t>(pos));
        TriangleHandlerTable[16 * group + pos](c.p.get(), &c.v[0], &c.v[1], &c.v[2]);
        EXPECT_EQ(f.Px(4, 6), small[8 * 16 + 8]) << group << " " << pos;
      }
    }
}

}  // namespace
