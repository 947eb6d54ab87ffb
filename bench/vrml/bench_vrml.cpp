// VRML parse speed in MB/s over a generated IndexedFaceSet file, beside a reference run in
// the same process (reading the same numbers with strtod alone).
#include "Parser/aglib.h"
#include "Parser/vrml.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// A grid of n x n points as one textured, coloured face set (about 90 bytes per point).
const std::string& Grid() {
  static const std::string text = [] {
    const int n = 300;
    std::string s = "#VRML V2.0 utf8\nShape {\n appearance Appearance { material Material { diffuseColor 0.8 0.6 0.4 }"
                    " texture ImageTexture { url \"grid.bmp\" } }\n geometry IndexedFaceSet {\n  coord Coordinate { point [\n";
    char buf[96];
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        std::snprintf(buf, sizeof buf, "   %.4f %.4f %.4f,\n", x * 0.01, (x * y % 17) * 0.001, y * 0.01);
        s += buf;
      }
    s += "  ] }\n  texCoord TextureCoordinate { point [\n";
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        std::snprintf(buf, sizeof buf, "   %.4f %.4f,\n", x / double(n - 1), y / double(n - 1));
        s += buf;
      }
    s += "  ] }\n  coordIndex [\n";
    for (int y = 0; y + 1 < n; ++y)
      for (int x = 0; x + 1 < n; ++x) {
        int a = y * n + x;
        std::snprintf(buf, sizeof buf, "   %d %d %d -1 %d %d %d -1\n", a, a + 1, a + n + 1, a, a + n + 1, a + n);
        s += buf;
      }
    s += "  ]\n }\n}\n";
    return s;
  }();
  return text;
}

void BM_ReferenceStrtod(benchmark::State& state) {
  const std::string& s = Grid();
  for (auto _ : state) {
    const char* p = s.c_str();
    const char* end = p + s.size();
    double sum = 0;
    while (p < end) {
      char* next;
      double d = std::strtod(p, &next);
      if (next == p) ++p;
      else {
        sum += d;
        p = next;
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.size()));
}
BENCHMARK(BM_ReferenceStrtod)->Unit(benchmark::kMillisecond);

void BM_Scan(benchmark::State& state) {
  const std::string& s = Grid();
  for (auto _ : state) {
    AgVrmlLexer lex(s.data(), s.size());
    AgToken t;
    int64_t count = 0;
    do {
      lex.Next(&t);
      ++count;
    } while (t.kind != AG_TOK_END);
    benchmark::DoNotOptimize(count);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.size()));
}
BENCHMARK(BM_Scan)->Unit(benchmark::kMillisecond);

void BM_Parse(benchmark::State& state) {
  const std::string& s = Grid();
  for (auto _ : state) {
    AgVrmlParser p;
    p.ParseText(s.data(), s.size());
    benchmark::DoNotOptimize(p.TopNodes().size());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.size()));
}
BENCHMARK(BM_Parse)->Unit(benchmark::kMillisecond);

void BM_LoadAndBuildTree(benchmark::State& state) {
  const std::string& s = Grid();
  for (auto _ : state) {
    AgGeometryNode* tree = nullptr;
    AgInterpolatorData* interp = nullptr;
    if (AgLoadVrmlText(s.data(), s.size(), 3, &tree, &interp) != 0) state.SkipWithError(AgGetLastError());
    AgDeleteGeometryTree(tree);
    delete interp;
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.size()));
}
BENCHMARK(BM_LoadAndBuildTree)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
