// Every untextured polygon set-up and every affine handler against the reference rasteriser,
// pixel for pixel and depth for depth, over thousands of seeded random triangles that touch
// every border of a small frame with canary bands around it.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "driver/core/polygon_modes.h"
#include "driver/triangles/affine.h"
#include "driver/triangles/handlers.h"
#include "tests/driver/reference_raster.h"

namespace {

using Setup = void (*)(DevicePolygon*, DeviceVertex*, DeviceVertex*, DeviceVertex*);

struct Kind {
  const char* name;
  Setup setup;
  ref::Colour colour;
  bool depth;
  bool stipple;
  bool strict = false;  // depth ties fail
  bool small = false;   // 16 x 16 texels
  bool dither = false;  // jittered texel coordinates
};

const Kind kKinds[] = {
    {"Flat", &TriFlat, ref::kFlat, false, false},
    {"FlatZ", &TriFlatZ, ref::kFlat, true, false},
    {"Smooth", &TriSmooth, ref::kSmooth, false, false},
    {"SmoothZ", &TriSmoothZ, ref::kSmooth, true, false},
    {"FlatStipple", &TriFlatStipple, ref::kFlat, false, true},
    {"FlatStippleZ", &TriFlatStippleZ, ref::kFlat, true, true},
    {"SmoothStipple", &TriSmoothStipple, ref::kSmooth, false, true},
    {"SmoothStippleZ", &TriSmoothStippleZ, ref::kSmooth, true, true},
    {"Textured", &TriTextured, ref::kTextured, false, false},
    {"TexturedLit", &TriTexturedLit, ref::kLit, false, false},
    {"TexturedZ", &TriTexturedZ, ref::kTextured, true, false},
    {"TexturedLitZ", &TriTexturedLitZ, ref::kLit, true, false},
    {"Textured16", &TriTextured16, ref::kTextured, false, false, true, true},
    {"Textured16Lit", &TriTextured16Lit, ref::kLit, false, false, true, true},
    {"Textured16Z", &TriTextured16Z, ref::kTextured, true, false, true, true},
    {"Textured16LitZ", &TriTextured16LitZ, ref::kLit, true, false, true, true},
    {"TexturedStipple", &TriTexturedStipple, ref::kTextured, false, true},
    {"TexturedStippleLit", &TriTexturedStippleLit, ref::kLit, false, true},
    {"TexturedStippleZ", &TriTexturedStippleZ, ref::kTextured, true, true},
    {"TexturedStippleLitZ", &TriTexturedStippleLitZ, ref::kLit, true, true},
    {"Textured16Stipple", &TriTextured16Stipple, ref::kTextured, false, true, true, true},
    {"Textured16StippleLit", &TriTextured16StippleLit, ref::kLit, false, true, true, true},
    {"Textured16StippleZ", &TriTextured16StippleZ, ref::kTextured, true, true, true, true},
    {"Textured16StippleLitZ", &TriTextured16StippleLitZ, ref::kLit, true, true, true, true},
    {"TexturedSmooth", &TriTexturedSmooth, ref::kTexSmooth, false, false},
    {"TexturedSmoothZ", &TriTexturedSmoothZ, ref::kTexSmooth, true, false, true},
    {"TexturedStippleSmooth", &TriTexturedStippleSmooth, ref::kTexSmooth, false, true},
    {"TexturedStippleSmoothZ", &TriTexturedStippleSmoothZ, ref::kTexSmooth, true, true},
    {"Textured16Smooth", &TriTextured16Smooth, ref::kTexSmooth, false, false, true, true},
    {"Textured16SmoothZ", &TriTextured16SmoothZ, ref::kTexSmooth, true, false, true, true},
    {"Textured16StippleSmooth", &TriTextured16StippleSmooth, ref::kTexSmooth, false, true, true, true},
    {"Textured16StippleSmoothZ", &TriTextured16StippleSmoothZ, ref::kTexSmooth, true, true, true, true},
    {"TexturedDither", &TriTexturedDither, ref::kTextured, false, false, true, false, true},
    {"TexturedDitherLit", &TriTexturedDitherLit, ref::kLit, false, false, true, false, true},
    {"TexturedDitherZ", &TriTexturedDitherZ, ref::kTextured, true, false, true, false, true},
    {"TexturedDitherLitZ", &TriTexturedDitherLitZ, ref::kLit, true, false, true, false, true},
    {"Textured16Dither", &TriTextured16Dither, ref::kTextured, false, false, true, true, true},
    {"Textured16DitherLit", &TriTextured16DitherLit, ref::kLit, false, false, true, true, true},
    {"Textured16DitherZ", &TriTextured16DitherZ, ref::kTextured, true, false, true, true, true},
    {"Textured16DitherLitZ", &TriTextured16DitherLitZ, ref::kLit, true, false, true, true, true},
};

void PrintTo(const Kind& k, std::ostream* os) { *os << k.name; }

class AgainstReference : public ::testing::TestWithParam<Kind> {};

int32_t Coord(std::mt19937& rng, int limit) {
  // Whole-pixel part on 0..limit, borders often; any fraction (dropped by the set-ups) except
  // on the far border, where a fraction would leave the frame.
  const uint32_t r = rng() % 8;
  int whole = r == 0 ? 0 : r == 1 ? limit : static_cast<int>(rng() % (limit + 1));
  const int32_t frac = whole == limit ? 0 : static_cast<int32_t>(rng() & 0xFFFF);
  return (whole << 16) | frac;
}

ref::Vtx RandomVertex(std::mt19937& rng, int w, int h, const ref::Vtx* near) {
  ref::Vtx v{};
  if (near && rng() % 2) {
    // Small triangles: within a few pixels of the first vertex.
    const int nx = std::clamp((near->x >> 16) + static_cast<int>(rng() % 9) - 4, 0, w);
    const int ny = std::clamp((near->y >> 16) + static_cast<int>(rng() % 9) - 4, 0, h);
    v.x = (nx << 16) | (nx == w ? 0 : static_cast<int32_t>(rng() & 0xFFFF));
    v.y = (ny << 16) | (ny == h ? 0 : static_cast<int32_t>(rng() & 0xFFFF));
  } else {
    v.x = Coord(rng, w);
    v.y = Coord(rng, h);
  }
  v.z = rng() % 4 == 0 ? static_cast<int32_t>(rng()) : static_cast<int32_t>(rng() % 0x00F00000u) << 4;
  v.shade = rng() % 10 == 0 ? static_cast<int32_t>(rng() % 0x300000) - 0x80000 : static_cast<int32_t>(rng() % 0x1F0001);
  v.u = static_cast<int32_t>(rng());
  v.v = static_cast<int32_t>(rng());
  return v;
}

TEST_P(AgainstReference, ThousandsOfRandomTriangles) {
  const Kind kind = GetParam();
  constexpr int kW = 37, kH = 29;
  std::mt19937 rng(0x5EED0000u + static_cast<uint32_t>(kind.setup == nullptr) + std::string(kind.name).size());
  int drawn = 0, culled = 0;
  for (int n = 0; n < 4000; ++n) {
    ref::DriverFrame frame(kW, kH, static_cast<uint32_t>(rng()), static_cast<int>(rng()), static_cast<int>(rng()));
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        frame.Px(x, y) = static_cast<uint8_t>(rng());
        frame.Z(x, y) = static_cast<uint16_t>(rng() % 4 == 0 ? 0 : rng());
      }
    const ref::Vtx a = RandomVertex(rng, kW, kH, nullptr);
    const ref::Vtx b = RandomVertex(rng, kW, kH, &a);
    const ref::Vtx c = RandomVertex(rng, kW, kH, &a);

    // A 16 x 16 texture has its own 256 bytes, so a read past them shows under the sanitizer.
    std::vector<uint8_t> small(frame.texels.begin(), frame.texels.begin() + 256);
    DeviceTexture texture{};
    texture.texels = kind.small ? small.data() : frame.texels.data();
    DeviceMaterial material{};
    material.colour = rng() % 8 == 0 ? (rng() & 0xFFFF) : rng() % 0x1300;
    material.opacity = static_cast<uint8_t>(rng() % 4 == 0 ? (rng() % 2 ? 255 : 0) : rng());
    material.mode = static_cast<uint8_t>(rng());
    material.texture = &texture;
    auto polygon = std::make_unique<DevicePolygon>();
    polygon->material = &material;
    polygon->shade = rng() % 10 == 0 ? static_cast<int32_t>(rng()) : static_cast<int32_t>(rng() % 0x1F0001);
    polygon->vertex_count = 3;

    ref::Job job = frame.MakeJob();
    job.colour = kind.colour;
    job.depth = kind.depth;
    job.stipple = kind.stipple;
    job.strict = kind.strict;
    job.small = kind.small;
    job.dither = kind.dither;
    job.texels = texture.texels;
    job.word = material.colour;
    job.poly_shade = polygon->shade;
    job.opacity = material.opacity;
    job.bias = (material.mode & 0x40) != 0;

    std::vector<uint8_t> before_pixels, want_pixels, got_pixels;
    std::vector<uint16_t> before_depth, want_depth, got_depth;
    frame.Save(before_pixels, before_depth);
    want_pixels = before_pixels;
    want_depth = before_depth;
    ref::Target target{kW, kH, &want_pixels, &want_depth};
    ref::Triangle(job, a, b, c, target);

    DeviceVertex va = ref::MakeVertex(a), vb = ref::MakeVertex(b), vc = ref::MakeVertex(c);
    kind.setup(polygon.get(), &va, &vb, &vc);
    frame.Save(got_pixels, got_depth);
    ASSERT_TRUE(frame.CanariesIntact()) << kind.name << " triangle " << n;
    if (got_pixels != before_pixels) ++drawn; else ++culled;
    for (int i = 0; i < kW * kH; ++i) {
      ASSERT_EQ(got_pixels[i], want_pixels[i])
          << kind.name << " triangle " << n << " pixel " << i % kW << "," << i / kW << " a=(" << (a.x >> 16)
          << "," << (a.y >> 16) << ") b=(" << (b.x >> 16) << "," << (b.y >> 16) << ") c=(" << (c.x >> 16) << ","
          << (c.y >> 16) << ")";
      ASSERT_EQ(got_depth[i], want_depth[i]) << kind.name << " triangle " << n << " depth " << i % kW << ","
                                             << i / kW;
    }
  }
  // Both windings occur: some triangles draw, some are culled.
  EXPECT_GT(drawn, 1000) << kind.name;
  EXPECT_GT(culled, 1000) << kind.name;
}

INSTANTIATE_TEST_SUITE_P(Modes, AgainstReference, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<Kind>& info) { return std::string(info.param.name); });

}  // namespace
