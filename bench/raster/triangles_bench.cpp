// Polygon set-ups and every handler family on a 640 x 480 frame: seeded counter-clockwise
// triangles of about 16, 256 and 4096 pixels with view depths from 1 to 4 (so the perspective
// handlers take both their short and long paths). Each benchmark also fills exactly the same row spans with
// memset in the same iterations and reports its own time as a ratio to that ("vs_memset";
// 1.0 = as fast as memset), besides triangles/s and Mpixels/s. Times are the thread's CPU time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "driver/core/context.h"
#include "driver/core/depth.h"
#include "driver/core/plain_engine.h"
#include "driver/core/polygon_modes.h"
#include "driver/core/polygon_setup.h"
#include "driver/core/shade.h"
#include "driver/spans/persp_tables.h"
#include "driver/triangles/affine.h"
#include "driver/triangles/handlers.h"

namespace {

constexpr int kW = 640, kH = 480;
// Fewer of the largest triangles keep a run near a second.
int Count(int area) { return area >= 4096 ? 10000 : 100000; }

struct Span {
  uint8_t* row;
  int32_t xl, xr;
};
std::vector<Span>* recording = nullptr;

// A span routine that only records the rows it would fill.
void RecordSpans(SpanState* s) {
  for (int32_t n = s->RowCount; n > 0; --n) {
    s->LeftX += s->LeftXStep;
    s->RightX += s->RightXStep;
    const int32_t xl = s->LeftX >> 16, xr = s->RightX >> 16;
    if (xr > xl) recording->push_back({s->RowAddress, xl, xr});
    s->RowAddress += s->RowPitch;
  }
}

struct World {
  std::vector<uint8_t> frame = std::vector<uint8_t>(kW * kH);
  std::vector<uint16_t> depth = std::vector<uint16_t>(kW * kH);
  std::vector<uint8_t*> rows;
  std::vector<uint8_t> texels = std::vector<uint8_t>(128 * 128);
  std::vector<uint8_t> small = std::vector<uint8_t>(16 * 16, 7);
  DeviceTexture texture{};
  DeviceMaterial material{};
  DevicePolygon* polygon = new DevicePolygon{};

  World() {
    BindPlainEngine();
    ContextTablesCreate(8);
    for (size_t i = 0; i < kColourRampUsed; ++i) ColourRampTable[i] = static_cast<uint8_t>(i * 7);
    for (size_t i = 0; i < kShadeTable8Used; ++i) ShadeTable[i] = static_cast<uint8_t>(i * 3);
    for (int y = 0; y < kH; ++y) rows.push_back(&frame[y * kW]);
    for (size_t i = 0; i < texels.size(); ++i) texels[i] = static_cast<uint8_t>(1 + (i * 7) % 255);
    for (size_t i = 0; i < small.size(); ++i) small[i] = static_cast<uint8_t>(1 + (i * 5) % 255);
    FrameRows = rows.data();
    FramePitch = kW;
    FrameLimitX = kW << 16;
    FrameLimitY = kH << 16;
    for (int i = 0; i < 4; ++i) FrameDitherRows[i] = DitherMatrices[i];
    SpanStateBlock.DitherRowX = DitherMatrices[0];
    SpanStateBlock.DitherRowX2 = DitherMatrices[2];
    PerspectiveTablesCreate();
    DepthBuffer = depth.data();
    DepthBufferPitch = 2 * kW;
    DepthHeight = kH;
    texture.texels = texels.data();
    material.texture = &texture;
    material.colour = 0x0100;
    material.opacity = 160;
    polygon->material = &material;
    polygon->shade = 12 << 16;
    polygon->vertex_count = 3;
  }
};

World& TheWorld() {
  static World w;
  return w;
}

struct Batch {
  std::vector<DeviceVertex> v;  // three per triangle
  std::vector<Span> spans;
  double pixels = 0;
};

// 100 000 triangles of about area pixels: random place, turn and proportions, wound so
// that they are drawn.
const Batch& Triangles(int area) {
  static std::vector<std::pair<int, Batch>> made;
  for (auto& [a, b] : made)
    if (a == area) return b;
  Batch b;
  std::mt19937 rng(0xB0A7 + area);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const int count = Count(area);
  while (static_cast<int>(b.v.size()) < 3 * count) {
    const double aspect = 0.5 + unit(rng) * 1.5, turn = unit(rng) * 2 * M_PI;
    const double base = std::sqrt(2.0 * area * aspect), height = 2.0 * area / base;
    const double px[3] = {0, base, unit(rng) * base}, py[3] = {0, 0, height};
    double x[3], y[3];
    const double cx = 40 + unit(rng) * (kW - 80), cy = 40 + unit(rng) * (kH - 80);
    bool inside = true;
    for (int k = 0; k < 3; ++k) {
      x[k] = cx + px[k] * std::cos(turn) - py[k] * std::sin(turn);
      y[k] = cy + px[k] * std::sin(turn) + py[k] * std::cos(turn);
      inside = inside && x[k] >= 0 && x[k] <= kW && y[k] >= 0 && y[k] <= kH;
    }
    if (!inside) continue;
    DeviceVertex d[3]{};
    for (int k = 0; k < 3; ++k) {
      d[k].screen_x = static_cast<int32_t>(x[k] * 65536);
      d[k].screen_y = static_cast<int32_t>(y[k] * 65536);
      d[k].view_z = 1.0f + static_cast<float>(rng() % 300) / 100.0f;
      d[k].depth = static_cast<int32_t>(30000.0f * 65536.0f / d[k].view_z);
      d[k].shade = static_cast<int32_t>(rng() % 0x1F0000);
      // Two texture widths at most, the fixed-point perspective handlers' range.
      d[k].u = static_cast<int32_t>(rng() % 0x20000);
      d[k].v = static_cast<int32_t>(rng() % 0x20000);
    }
    // Counter-clockwise on the screen with y down, as the set-ups draw.
    const double cross = (x[1] - x[0]) * (y[2] - y[0]) - (y[1] - y[0]) * (x[2] - x[0]);
    if (cross > 0) std::swap(d[1], d[2]);
    b.v.insert(b.v.end(), d, d + 3);
  }
  // The spans the fill rule gives each triangle, for the memset reference.
  TheWorld();
  recording = &b.spans;
  polygon::Limits lim{kW, kH};
  polygon::Parts<polygon::NoPart> none(polygon::NoPart{});
  for (int t = 0; t < count; ++t) polygon::SetupTriangle(none, &b.v[3 * t], &b.v[3 * t + 1], &b.v[3 * t + 2], lim, &RecordSpans);
  for (const Span& s : b.spans) b.pixels += s.xr - s.xl;
  made.emplace_back(area, std::move(b));
  return made.back().second;
}

// Thread CPU time: the machine may be shared, and both sides are timed alike.
double NowNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e9 + t.tv_nsec;
}

using Setup = void (*)(DevicePolygon*, DeviceVertex*, DeviceVertex*, DeviceVertex*);

// fresh_depth clears the depth buffer before every iteration (untimed): without it the
// depth members redraw over their own earlier depths and most of their spans are hidden.
void Run(benchmark::State& state, Setup setup, bool small, bool fresh_depth = false) {
  World& w = TheWorld();
  const int kTriangles = Count(static_cast<int>(state.range(0)));
  const Batch& b = Triangles(static_cast<int>(state.range(0)));
  w.texture.texels = small ? w.small.data() : w.texels.data();
  std::vector<DeviceVertex> v = b.v;
  double draw_ns = 0, memset_ns = 0;
  for (auto _ : state) {
    if (fresh_depth) std::fill(w.depth.begin(), w.depth.end(), uint16_t{0});
    const double t0 = NowNs();
    for (int t = 0; t < kTriangles; ++t) setup(w.polygon, &v[3 * t], &v[3 * t + 1], &v[3 * t + 2]);
    benchmark::ClobberMemory();
    const double t1 = NowNs();
    for (const Span& s : b.spans) std::memset(s.row + s.xl, 0x42, static_cast<size_t>(s.xr - s.xl));
    benchmark::ClobberMemory();
    const double t2 = NowNs();
    const double a = t1 - t0;
    draw_ns += a;
    memset_ns += t2 - t1;
    state.SetIterationTime(a * 1e-9);
  }
  const double iterations = static_cast<double>(state.iterations());
  state.counters["tri_s"] = benchmark::Counter(kTriangles * iterations / (draw_ns * 1e-9));
  state.counters["Mpix_s"] = benchmark::Counter(b.pixels * iterations * 1e-6 / (draw_ns * 1e-9));
  state.counters["memset_Mpix_s"] = benchmark::Counter(b.pixels * iterations * 1e-6 / (memset_ns * 1e-9));
  state.counters["vs_memset"] = benchmark::Counter(draw_ns / memset_ns);
  state.counters["px_per_tri"] = benchmark::Counter(b.pixels / kTriangles);
}

#define TRI_BENCH(name, small)                                               \
  void BM_##name(benchmark::State& state) { Run(state, &name, small); }      \
  BENCHMARK(BM_##name)->Arg(16)->Arg(256)->Arg(4096)->UseManualTime()->Unit(benchmark::kMillisecond);

#define TRI_BENCH_FRESH(name, small)                                                       \
  void BM_##name##FreshDepth(benchmark::State& state) { Run(state, &name, small, true); } \
  BENCHMARK(BM_##name##FreshDepth)->Arg(16)->Arg(4096)->UseManualTime()->Unit(benchmark::kMillisecond);

// The untextured modes, the affine handlers, then one or two members of each textured family.
TRI_BENCH(TriFlat, false)
TRI_BENCH(TriFlatZ, false)
TRI_BENCH(TriSmooth, false)
TRI_BENCH(TriSmoothZ, false)
TRI_BENCH(TriFlatStipple, false)
TRI_BENCH(TriSmoothStippleZ, false)
TRI_BENCH(TriTextured, false)
TRI_BENCH(TriTexturedLit, false)
TRI_BENCH(TriTexturedZ, false)
TRI_BENCH(TriTexturedLitZ, false)
TRI_BENCH(TriTextured16, true)
TRI_BENCH(TriTextured16Z, true)
TRI_BENCH(TriTexturedStipple, false)
TRI_BENCH(TriTexturedStippleZ, false)
TRI_BENCH(TriTexturedSmooth, false)
TRI_BENCH(TriTexturedStippleSmoothZ, false)
TRI_BENCH(TriTexturedDither, false)
TRI_BENCH(TriTexturedDitherLitZ, false)
TRI_BENCH(TriTexturedPerspFixedDither, false)
TRI_BENCH(TriTexturedPerspFixedDitherZ, false)
TRI_BENCH(TriTexturedPerspFixedStippleSmoothZ, false)
TRI_BENCH(TriTextured16PerspFixedDitherZ, true)
TRI_BENCH(TriTexturedPersp, false)
TRI_BENCH(TriTexturedPerspLitZ, false)
TRI_BENCH(TriTexturedPerspSmoothZ, false)
TRI_BENCH(TriTexturedPerspStipple, false)
TRI_BENCH(TriTextured16PerspStippleZ, true)
TRI_BENCH_FRESH(TriTexturedPerspFixedDitherZ, false)
TRI_BENCH_FRESH(TriTextured16PerspFixedDitherZ, true)
TRI_BENCH_FRESH(TriTexturedPerspLitZ, false)

}  // namespace

BENCHMARK_MAIN();
