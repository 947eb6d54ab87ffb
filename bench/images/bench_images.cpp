// Conversions per second of the image queue (JPEG bytes in memory to a BMP file, 24-bit and
// 256-colour) against the reference decoder's command-line tool on the same files in the
// same run. The tool is timed per process run (fork, exec, decode, write, exit), which is what
// a conversion costs when done by calling it; the ratio for small pictures is mostly its
// start-up cost, so the largest sizes are the fairer comparison.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "client/cache/image.h"

namespace {

struct Size {
  int w, h;
};
const Size kSizes[] = {{64, 64}, {256, 256}, {640, 480}, {1024, 768}};
constexpr int kFilesPerSize = 4;

std::string work_dir;
std::map<int, std::vector<std::string>> jpeg_paths;         // size index -> files
std::map<int, std::vector<std::vector<uint8_t>>> jpeg_data;  // size index -> bytes

std::vector<uint8_t> read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool make_inputs() {
  char templ[] = "/tmp/bench_images_XXXXXX";
  if (!mkdtemp(templ)) return false;
  work_dir = templ;
  std::mt19937 rng(42);
  for (int s = 0; s < static_cast<int>(std::size(kSizes)); s++) {
    const Size sz = kSizes[s];
    for (int f = 0; f < kFilesPerSize; f++) {
      const std::string base = work_dir + "/p" + std::to_string(s) + "_" + std::to_string(f);
      std::ofstream ppm(base + ".ppm", std::ios::binary);
      ppm << "P6\n" << sz.w << " " << sz.h << "\n255\n";
      std::vector<char> row(static_cast<size_t>(sz.w) * 3);
      for (int y = 0; y < sz.h; y++) {
        for (int x = 0; x < sz.w; x++) {
          const int n = static_cast<int>(rng() % 32);
          row[x * 3 + 0] = static_cast<char>((x * 255 / sz.w + n + f * 40) & 255);
          row[x * 3 + 1] = static_cast<char>((y * 255 / sz.h + n) & 255);
          row[x * 3 + 2] = static_cast<char>(((x ^ y) + n) & 255);
        }
        ppm.write(row.data(), static_cast<std::streamsize>(row.size()));
      }
      ppm.close();
      const char* options = f % 2 ? "-progressive" : "-quality 85";
      const std::string cmd = std::string("cjpeg ") + options + " -outfile " + base + ".jpg " + base + ".ppm";
      if (std::system(cmd.c_str()) != 0) return false;
      jpeg_paths[s].push_back(base + ".jpg");
      jpeg_data[s].push_back(read_all(base + ".jpg"));
    }
  }
  return true;
}

double process_cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double children_cpu_seconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  auto sec = [](const timeval& v) { return static_cast<double>(v.tv_sec) + static_cast<double>(v.tv_usec) * 1e-6; };
  return sec(u.ru_utime) + sec(u.ru_stime);
}

int done_count = 0;
void on_done(void*, int32_t status) {
  if (status == 0) done_count++;
}

void BM_ImageQueue(benchmark::State& state) {
  const int s = static_cast<int>(state.range(0));
  const int colors256 = static_cast<int>(state.range(1));
  const std::string out = work_dir + "/q.bmp";
  int64_t conversions = 0;
  const double cpu0 = process_cpu_seconds();
  for (auto _ : state) {
    done_count = 0;
    for (const auto& data : jpeg_data[s])
      image_convert(data.data(), data.size(), out.c_str(), colors256, on_done, nullptr);
    while (image_busy()) image_update();
    if (done_count != kFilesPerSize) state.SkipWithError("conversion failed");
    conversions += kFilesPerSize;
  }
  state.counters["cpu_ms_per_conv"] = (process_cpu_seconds() - cpu0) * 1e3 / static_cast<double>(conversions);
  state.counters["conv_per_s"] = benchmark::Counter(static_cast<double>(conversions), benchmark::Counter::kIsRate);
}

bool run_tool(const std::string& jpeg, const std::string& bmp, bool colors256) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (colors256)
      execlp("djpeg", "djpeg", "-bmp", "-colors", "256", "-outfile", bmp.c_str(), jpeg.c_str(), nullptr);
    else
      execlp("djpeg", "djpeg", "-bmp", "-outfile", bmp.c_str(), jpeg.c_str(), nullptr);
    _exit(127);
  }
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void BM_Djpeg(benchmark::State& state) {
  const int s = static_cast<int>(state.range(0));
  const bool colors256 = state.range(1) != 0;
  const std::string out = work_dir + "/d.bmp";
  int64_t conversions = 0;
  const double cpu0 = children_cpu_seconds();
  for (auto _ : state) {
    for (const auto& path : jpeg_paths[s])
      if (!run_tool(path, out, colors256)) state.SkipWithError("djpeg failed");
    conversions += kFilesPerSize;
  }
  // The tool's own processor time (user + system), start-up included.
  state.counters["cpu_ms_per_conv"] = (children_cpu_seconds() - cpu0) * 1e3 / static_cast<double>(conversions);
  state.counters["conv_per_s"] = benchmark::Counter(static_cast<double>(conversions), benchmark::Counter::kIsRate);
}

void sizes(benchmark::internal::Benchmark* b) {
  for (int s = 0; s < static_cast<int>(std::size(kSizes)); s++)
    for (int q = 0; q < 2; q++) b->Args({s, q});
}
BENCHMARK(BM_ImageQueue)->Apply(sizes)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Djpeg)->Apply(sizes)->UseRealTime()->Unit(benchmark::kMillisecond);

// Keeps each run's rate so that the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      auto it = r.counters.find("conv_per_s");
      if (it != r.counters.end() && r.run_type == Run::RT_Iteration) rates[r.benchmark_name()] = it->second.value;
      auto cpu = r.counters.find("cpu_ms_per_conv");
      if (cpu != r.counters.end() && r.run_type == Run::RT_Iteration) cpu_ms[r.benchmark_name()] = cpu->second.value;
    }
  }
  std::map<std::string, double> rates;
  std::map<std::string, double> cpu_ms;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!make_inputs()) {
    fprintf(stderr, "bench_images: could not make the JPEG inputs (cjpeg missing?)\n");
    return 1;
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  printf("\nconversions per second, image queue / djpeg process run (same files);\n"
         "by wall clock, and by processor time (ours in process, djpeg's child user + system):\n");
  for (int s = 0; s < static_cast<int>(std::size(kSizes)); s++) {
    for (int q = 0; q < 2; q++) {
      const std::string args = "/" + std::to_string(s) + "/" + std::to_string(q) + "/real_time";
      auto a = reporter.rates.find("BM_ImageQueue" + args);
      auto b = reporter.rates.find("BM_Djpeg" + args);
      if (a == reporter.rates.end() || b == reporter.rates.end() || b->second <= 0) continue;
      const double ca = reporter.cpu_ms["BM_ImageQueue" + args], cb = reporter.cpu_ms["BM_Djpeg" + args];
      printf("  %4dx%-4d %-9s queue %8.1f/s  djpeg %8.1f/s  ratio %6.2f   cpu ms %7.2f vs %7.2f  ratio %5.2f\n",
             kSizes[s].w, kSizes[s].h, q ? "256-col" : "24-bit", a->second, b->second,
             a->second / b->second, ca, cb, ca > 0 ? cb / ca : 0.0);
    }
  }
  image_reset();
  std::error_code ec;
  std::filesystem::remove_all(work_dir, ec);
  benchmark::Shutdown();
  return 0;
}
