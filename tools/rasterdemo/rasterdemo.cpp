// rasterdemo: draws fixed scenes through the driver's render-mode table (and so through the
// triangle handler table for textured polygons) into 8-bit frames and saves each, through the
// default palette, as a PNG file for a person to look at.
//
//   rasterdemo [output directory]
//
// Scenes: flat, smooth, stipple, lines, points and textured quads, each drawn without and
// with the depth buffer ("<scene>.png", "<scene>_z.png").
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver/core/context.h"
#include "driver/core/depth.h"
#include "driver/core/palette.h"
#include "driver/core/plain_engine.h"
#include "driver/core/render_modes.h"
#include "driver/core/shade.h"
#include "driver/records.h"
#include "driver/spans/span_state.h"

namespace {

constexpr int kW = 320, kH = 240;

// PNG: 8-bit RGB, one IDAT.
void Chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  const uint32_t n = static_cast<uint32_t>(data.size());
  const uint8_t len[4] = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
  out.insert(out.end(), len, len + 4);
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  const uint32_t crc = static_cast<uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(out.size() - start)));
  const uint8_t c[4] = {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)};
  out.insert(out.end(), c, c + 4);
}

bool SavePng(const std::string& path, const std::vector<uint8_t>& frame) {
  std::vector<uint8_t> raw;
  for (int y = 0; y < kH; ++y) {
    raw.push_back(0);
    for (int x = 0; x < kW; ++x) {
      const uint8_t i = frame[y * kW + x];
      raw.push_back(PaletteRed[i]);
      raw.push_back(PaletteGreen[i]);
      raw.push_back(PaletteBlue[i]);
    }
  }
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<uint8_t> packed(size);
  if (compress(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size())) != Z_OK) return false;
  packed.resize(size);
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header = {0, 0, uint8_t(kW >> 8), uint8_t(kW), 0, 0, uint8_t(kH >> 8), uint8_t(kH), 8, 2, 0, 0, 0};
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", packed);
  Chunk(png, "IEND", {});
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
  return std::fclose(f) == 0 && ok;
}

// The colour word of an 8-bit RGB colour: its row of the colour ramp table.
uint32_t Word(int r, int g, int b) {
  DeviceColour c{r * 256, g * 256, b * 256};
  return static_cast<uint32_t>(ColourRampIndex(&c, 0)) & 0xFFE0u;
}

struct Scene {
  std::vector<uint8_t> frame = std::vector<uint8_t>(kW * kH);
  std::vector<uint16_t> depth = std::vector<uint16_t>(kW * kH);
  std::vector<uint8_t*> rows;
  DeviceRecord record{};
  bool with_depth;

  explicit Scene(bool z) : with_depth(z) {
    for (int y = 0; y < kH; ++y) rows.push_back(&frame[y * kW]);
    FrameRows = rows.data();
    FramePitch = kW;
    FrameLimitX = kW << 16;
    FrameLimitY = kH << 16;
    HandlerMask = 0xF;
    FrameDitherRows[0] = DitherMatrices[0];
    FrameDitherRows[1] = DitherMatrices[1];
    FrameDitherRows[2] = DitherMatrices[2];
    FrameDitherRows[3] = DitherMatrices[3];
    SpanStateBlock.DitherRowX = DitherMatrices[0];
    DepthBuffer = depth.data();
    DepthBufferPitch = 2 * kW;
    DepthHeight = kH;
    RenderModeTableWrite(&record, z ? 1 : 0);
    std::memset(frame.data(), Word(24, 24, 40) & 0xFF ? ColourRampTable[Word(24, 24, 40) + 4] : 0, frame.size());
  }
  // The frame and depth buffer are ours, not the driver's to free.
  ~Scene() {
    FrameRows = nullptr;
    DepthBuffer = nullptr;
    DepthBufferPitch = 0;
    DepthHeight = 0;
  }
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;
  RenderModeFn Mode(int slot) const { return record.render_modes[with_depth ? 1 : 0][slot]; }
};

struct Poly {
  DeviceMaterial material{};
  DeviceTexture texture{};
  std::vector<DeviceVertex> v;
  std::unique_ptr<DevicePolygon> p = std::make_unique<DevicePolygon>();
  Poly(uint32_t word, int shade) {
    material.colour = word;
    material.opacity = 255;
    material.texture = &texture;
    p->material = &material;
    p->shade = shade << 16;
  }
  // x, y in pixels, depth in whole units, shade level, u and v in textures.
  void Add(double x, double y, int z, double shade = 16, double u = 0, double vv = 0) {
    DeviceVertex d{};
    d.screen_x = static_cast<int32_t>(x * 65536);
    d.screen_y = static_cast<int32_t>(y * 65536);
    d.depth = z << 16;
    d.shade = static_cast<int32_t>(shade * 65536);
    d.u = static_cast<int32_t>(u * 65536);
    d.v = static_cast<int32_t>(vv * 65536);
    v.push_back(d);
  }
  DevicePolygon* Get() {
    p->vertex_count = static_cast<uint8_t>(v.size());
    for (size_t i = 0; i < v.size(); ++i) p->vertices[i] = &v[i];
    return p.get();
  }
};

// A regular polygon around (cx, cy), counter-clockwise on the screen.
Poly Regular(uint32_t word, int shade, double cx, double cy, double r, int n, int z, double phase = 0) {
  Poly p(word, shade);
  for (int i = 0; i < n; ++i) {
    const double a = phase - 2 * M_PI * i / n;
    p.Add(cx + r * std::cos(a), cy + r * std::sin(a), z, (i * 31.0) / (n - 1), 0.5 + std::cos(a), 0.5 + std::sin(a));
  }
  return p;
}

// Overlapping shapes at crossing depths, so that the depth variants differ visibly.
void Shapes(Scene& s, int slot, double spin) {
  const uint32_t words[] = {Word(220, 40, 40), Word(40, 200, 60), Word(60, 80, 230), Word(230, 200, 40)};
  for (int i = 0; i < 4; ++i) {
    Poly p = Regular(words[i], 20, 90 + 48 * i, 90 + 20 * i, 70, 5 + i, 300 - 40 * i, spin * i);
    // Tilt the depth so that the shapes cut through each other.
    for (size_t k = 0; k < p.v.size(); ++k) p.v[k].depth = (200 + static_cast<int>(k * 37 % 160) + 20 * i) << 16;
    s.Mode(slot)(p.Get(), 0);
  }
}

std::vector<uint8_t> Checker() {
  std::vector<uint8_t> t(128 * 128);
  const uint8_t a = ColourRampTable[Word(230, 230, 230) + 28], b = ColourRampTable[Word(200, 30, 30) + 20];
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) {
      const bool hole = (x - 64) * (x - 64) + (y - 64) * (y - 64) < 200;
      t[y * 128 + x] = hole ? 0 : (((x >> 4) ^ (y >> 4)) & 1) ? a : b;  // texel 0: see-through
    }
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : ".";
  BindPlainEngine();
  PaletteReset();
  uint8_t rgb[3 * kDefaultPaletteColours];
  const int n = PaletteBuildDefault(rgb);
  for (int i = 0; i < n; ++i) {
    PaletteRed[kDefaultPaletteFirst + i] = rgb[3 * i];
    PaletteGreen[kDefaultPaletteFirst + i] = rgb[3 * i + 1];
    PaletteBlue[kDefaultPaletteFirst + i] = rgb[3 * i + 2];
  }
  if (!ContextTablesCreate(8)) {
    std::fprintf(stderr, "rasterdemo: no tables\n");
    return 1;
  }
  BuildShadeRamps();
  SpanStateBlock.ShadeTableBase = ShadeTable;
  const std::vector<uint8_t> texels = Checker();
  int failures = 0;
  for (int z = 0; z < 2; ++z) {
    const std::string suffix = z ? "_z.png" : ".png";
    auto save = [&](Scene& s, const char* name) {
      const std::string path = dir + "/" + name + suffix;
      if (!SavePng(path, s.frame)) {
        std::fprintf(stderr, "rasterdemo: cannot write %s\n", path.c_str());
        ++failures;
      } else {
        std::printf("%s\n", path.c_str());
      }
    };
    { Scene s(z); Shapes(s, 12, 0.3); save(s, "flat"); }
    { Scene s(z); Shapes(s, 13, 0.5); save(s, "smooth"); }
    {
      Scene s(z);
      Shapes(s, 13, 0.5);
      Poly glass = Regular(Word(250, 250, 250), 28, 160, 120, 100, 4, 400, 0.8);
      glass.material.opacity = 110;
      s.Mode(15)(glass.Get(), 0);
      save(s, "stipple");
    }
    {
      Scene s(z);
      const int slots[3] = {4, 5, 8};  // outlines, smooth outlines, open polylines
      for (int column = 0; column < 3; ++column)
        for (int i = 0; i < 6; ++i) {
          const int slot = slots[column];
          Poly p = Regular(Word(40 * i + 30, 200 - 25 * i, 90 + 20 * i), 24, 60 + 100 * column, 40 + 30 * i,
                           25 + 4 * i, 3 + i, 100 + 10 * i, 0.2 * i);
          s.Mode(slot)(p.Get(), 0);
        }
      // Lines ending on the right and bottom borders.
      Poly border(Word(250, 250, 60), 30);
      border.Add(0, 0, 500);
      border.Add(kW, kH, 500);
      border.Add(kW, 0, 500);
      border.Add(0, kH, 500);
      s.Mode(8)(border.Get(), 0);
      save(s, "lines");
    }
    {
      Scene s(z);
      for (int i = 0; i < 400; ++i) {
        Poly p(Word(60 + (i * 37) % 190, 60 + (i * 91) % 190, 60 + (i * 53) % 190), i % 32);
        for (int k = 0; k < 8; ++k) p.Add((i * 7919 + k * 104729) % (kW + 1), (i * 104723 + k * 7907) % (kH + 1), i);
        s.Mode(i % 2)(p.Get(), 0);
      }
      save(s, "points");
    }
    {
      Scene s(z);
      for (int q = 0; q < 4; ++q) {
        Poly p(0, 10 + 7 * q);
        p.texture.texels = const_cast<uint8_t*>(texels.data());
        p.material.mode = static_cast<uint8_t>(q & 1);  // plain and shaded texels
        const double x = 20 + 70 * q, y = 30 + 25 * q;
        p.Add(x, y, 300 - 30 * q, 16, 0, 0);
        p.Add(x + 10, y + 150, 260 - 30 * q, 16, 0, 2);
        p.Add(x + 170, y + 140, 320 - 30 * q, 16, 2, 2);
        p.Add(x + 150, y - 10, 340 - 30 * q, 16, 2, 0);
        s.Mode(20)(p.Get(), 0);
      }
      save(s, "textured");
    }
  }
  FreeContextTables();
  return failures ? 1 : 0;
}
