// Span fillers at several row widths on a 640 x 480 frame. Each benchmark also
// times a plain memset of exactly the same pixels in the same iterations and
// reports the filler's time as a ratio to it ("vs_memset"; 1.0 = as fast as
// memset), besides Mpixels/s and the fastest iteration ("best_us"). Times are the
// thread's CPU time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <vector>

#include "driver/spans/span_state.h"

namespace {

constexpr int kFrameWidth = 640;
constexpr int kFrameHeight = 480;

// Visible: every pixel passes and every texel is opaque. Hidden: the depth
// buffer is nearer everywhere, so nothing is drawn. Holes: one texel in
// three is transparent, so most groups of pixels are partly drawn.
enum class Variant { Visible, Hidden, Holes };

struct Scene {
    std::vector<uint8_t> frame = std::vector<uint8_t>(kFrameWidth * kFrameHeight);
    std::vector<uint16_t> depth = std::vector<uint16_t>(kFrameWidth * kFrameHeight);
    std::vector<uint8_t> texels = std::vector<uint8_t>(128 * 128);
    alignas(256) uint8_t shade[256];

    explicit Scene(Variant v) {
        for (size_t i = 0; i < texels.size(); ++i) {
            texels[i] = static_cast<uint8_t>(1 + (i * 7) % 255);
            if (v == Variant::Holes && i % 3 == 0) texels[i] = 0;
        }
        for (int i = 0; i < 256; ++i) shade[i] = static_cast<uint8_t>(255 - i);
        if (v == Variant::Hidden) depth.assign(depth.size(), 0xFFFF);
    }

    SpanState Section(int width) {
        SpanState s{};
        s.LeftX = 0;
        s.RightX = width << 16;
        s.RowCount = kFrameHeight;
        s.RowAddress = frame.data();
        s.RowPitch = kFrameWidth;
        s.DepthRowAddress = depth.data();
        s.DepthPitch = kFrameWidth * 2;
        s.FlatColour = 0x42;
        s.Texels = texels.data();
        s.ShadeRow = shade;
        s.Interp = 0x00100010;
        s.InterpRowStep = 0x00800000;
        s.InterpStep = 0x00000090;
        s.Depth = 0x40000000;  // equal or nearer every frame: the test passes
        s.DepthStep = 0x10;
        s.RowSeed = 0x0C033003;
        s.DitherRowX = &DitherMatrices[0][0];
        return s;
    }
};

using Filler = void (*)(SpanState*);

// Thread CPU time: the machine may be shared, and both sides are timed alike.
double NowNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

Scene& SceneOf(Variant v) {
    static Scene visible(Variant::Visible), hidden(Variant::Hidden), holes(Variant::Holes);
    return v == Variant::Hidden ? hidden : v == Variant::Holes ? holes : visible;
}

// Times draw (which fills width x kFrameHeight pixels of the scene's frame) against memset of
// the same rectangle, and reports both rates, the ratio and the fastest iteration; prepare
// runs before each draw, untimed.
template <class Prepare, class Draw>
void TimeAgainstMemset(benchmark::State& state, Scene& scene, int width, Prepare prepare, Draw draw) {
    double draw_ns = 0, memset_ns = 0, best_ns = 0;
    for (auto _ : state) {
        prepare();
        const auto t0 = NowNs();
        draw();
        benchmark::DoNotOptimize(scene.frame.data());
        benchmark::ClobberMemory();
        const auto t1 = NowNs();
        uint8_t* row = scene.frame.data();
        for (int y = 0; y < kFrameHeight; ++y, row += kFrameWidth) std::memset(row, 0x42, static_cast<size_t>(width));
        benchmark::ClobberMemory();
        const auto t2 = NowNs();
        const double a = t1 - t0;
        draw_ns += a;
        memset_ns += t2 - t1;
        best_ns = best_ns == 0 ? a : std::min(best_ns, a);
        state.SetIterationTime(a * 1e-9);
    }
    const double pixels = static_cast<double>(width) * kFrameHeight * static_cast<double>(state.iterations());
    state.counters["Mpix_s"] = benchmark::Counter(pixels * 1e-6 / (draw_ns * 1e-9));
    // The fastest iteration: other load on the machine only ever slows one down.
    state.counters["best_us"] = benchmark::Counter(best_ns * 1e-3);
    state.counters["memset_Mpix_s"] = benchmark::Counter(pixels * 1e-6 / (memset_ns * 1e-9));
    state.counters["vs_memset"] = benchmark::Counter(draw_ns / memset_ns);
}

void RunFiller(benchmark::State& state, Filler fill, Variant variant = Variant::Visible) {
    Scene& scene = SceneOf(variant);
    const int width = static_cast<int>(state.range(0));
    SpanState s;
    TimeAgainstMemset(state, scene, width, [&] { s = scene.Section(width); }, [&] { fill(&s); });
}

#define SPAN_BENCH(name)                                                                     \
    void BM_##name(benchmark::State& state) { RunFiller(state, &name); }                    \
    BENCHMARK(BM_##name)->Arg(8)->Arg(32)->Arg(128)->Arg(640)->UseManualTime();

SPAN_BENCH(SpanFlat)
SPAN_BENCH(SpanFlatZ)
SPAN_BENCH(SpanTextured)
SPAN_BENCH(SpanTexturedZ)
SPAN_BENCH(SpanTexturedLit)
SPAN_BENCH(SpanTexturedLitZ)
SPAN_BENCH(SpanSmooth)
SPAN_BENCH(SpanSmoothZ)

// Hidden rows fetch no texel; rows with holes blend partly drawn groups.
void BM_SpanTexturedZHidden(benchmark::State& state) { RunFiller(state, &SpanTexturedZ, Variant::Hidden); }
BENCHMARK(BM_SpanTexturedZHidden)->Arg(32)->Arg(640)->UseManualTime();
void BM_SpanTexturedHoles(benchmark::State& state) { RunFiller(state, &SpanTextured, Variant::Holes); }
BENCHMARK(BM_SpanTexturedHoles)->Arg(32)->Arg(640)->UseManualTime();
void BM_SpanTexturedLitZHoles(benchmark::State& state) { RunFiller(state, &SpanTexturedLitZ, Variant::Holes); }
BENCHMARK(BM_SpanTexturedLitZHoles)->Arg(32)->Arg(640)->UseManualTime();

// The rectangle fill against memset of the same rectangle.
void BM_FillRect8(benchmark::State& state) {
    Scene& scene = SceneOf(Variant::Visible);
    const int width = static_cast<int>(state.range(0));
    SpanStateBlock.ScreenPitch = kFrameWidth;
    uint8_t* start = nullptr;
    TimeAgainstMemset(state, scene, width, [&] { start = scene.frame.data(); },
                      [&] { FillRect8(&start, width, kFrameHeight, 0x42424242); });
}
BENCHMARK(BM_FillRect8)->Arg(8)->Arg(32)->Arg(128)->Arg(640)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
