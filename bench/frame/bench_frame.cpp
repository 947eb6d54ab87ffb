// Whole frames of a busy scene: a few hundred of the demo's trees and rocks spread over the
// cells in front of the camera, drawn through the engine and the display driver plug-in
// (DIB-section output) at 640 x 480 and full-screen 1920 x 1080 (the same field across, as
// the client widens a view: the longer side keeps the view window), on one thread and on
// the engine's default number of draw threads. Reports frames per second of processor time
// (fps) and of the clock (fps_wall: with several threads, what a user sees) and, from a
// profiling timer that samples the program counter, the share of the frame spent inside
// the span fillers (the driver's functions that take the span state block by pointer) and
// inside the driver as a whole; the rest is transform, clip, light, sort and dispatch. The
// shares only see the driver the engine loaded, not the bands' copies of it. With
// BENCH_FRAME_PICTURE set to a path, the first frame at 640 x 480 on one thread is written
// there as a PPM picture, and the others' beside it with ".<width>x<height>.t<threads>".
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <signal.h>
#include <sys/time.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/vxl21.h"
#include "platform/display.h"
#include "platform/gdi.h"
#include "platform/surface.h"

namespace {


// The demo's own generator writes its two models and, as BMP files the engine reads
// directly, its three textures and the leaves' mask.
const char* kMakeScene = R"PY(
import importlib.machinery, importlib.util, os, random, struct, sys
loader = importlib.machinery.SourceFileLoader("demo_make", sys.argv[1])
spec = importlib.util.spec_from_loader("demo_make", loader)
demo = importlib.util.module_from_spec(spec)
loader.exec_module(demo)
out = sys.argv[2]
for name, text in (("tree.vxx", demo.tree()), ("rock.vxx", demo.rock())):
    open(os.path.join(out, name), "w").write(text)
def bmp24(size, pixel):
    row = (size * 3 + 3) & ~3
    data = bytearray()
    for y in range(size - 1, -1, -1):
        for x in range(size):
            r, g, b = (max(0, min(255, int(v))) for v in pixel(x, y))
            data += bytes((b, g, r))
        data += bytes(row - size * 3)
    header = b"BM" + struct.pack("<IHHI", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, len(data), 0, 0, 0, 0)
    return header + info + bytes(data)
rng = random.Random(2026)
for name, pixel in (("bark", demo.bark), ("leaves", demo.leaves(rng)), ("stone", demo.stone(rng))):
    open(os.path.join(out, name + ".bmp"), "wb").write(bmp24(64, pixel))
open(os.path.join(out, "leavesm.bmp"), "wb").write(demo.mask_bmp(64))
)PY";

std::string MakeSceneFolderOnce() {
  char tmpl[] = "/tmp/benchframeXXXXXX";
  if (!mkdtemp(tmpl)) return {};
  const std::string dir = tmpl;
  const std::string script = dir + "/make_scene.py";
  std::ofstream(script) << kMakeScene;
  const std::string cmd = std::string("'") + FRAME_PYTHON + "' '" + script + "' '" + FRAME_DEMO_MAKE + "' '" + dir + "'";
  if (std::system(cmd.c_str()) != 0) return {};
  return dir;
}

// Made once per run, removed at exit.
std::string MakeSceneFolder() {
  static const std::string dir = [] {
    std::string d = MakeSceneFolderOnce();
    static std::string keep;
    keep = d;
    if (!d.empty()) std::atexit([] { std::filesystem::remove_all(keep); });
    return d;
  }();
  return dir;
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// ---------------------------------------------------------------- program-counter samples

constexpr size_t kMaxSamples = 1 << 20;
uintptr_t samples[kMaxSamples];
std::atomic<size_t> sample_count{0};
std::atomic<bool> sampling{false};

void OnProfileTick(int, siginfo_t*, void* context) {
  if (!sampling.load(std::memory_order_relaxed)) return;
  const size_t i = sample_count.fetch_add(1, std::memory_order_relaxed);
  if (i < kMaxSamples)
    samples[i] = static_cast<uintptr_t>(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
}

struct Range {
  uintptr_t lo, hi;
  bool span;
};

// The driver plug-in as loaded: its address range and its functions from the file's symbol
// table, a span filler being any function with a span-state pointer parameter.
struct DriverMap {
  uintptr_t lo = 0, hi = 0;
  std::vector<Range> functions;  // sorted by address

  bool Load() {
    struct Found {
      std::string path;
      uintptr_t base = 0, lo = UINTPTR_MAX, hi = 0;
    } found;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
          auto* f = static_cast<Found*>(data);
          if (!info->dlpi_name || !std::strstr(info->dlpi_name, "VXDL8D21")) return 0;
          f->path = info->dlpi_name;
          f->base = info->dlpi_addr;
          for (int i = 0; i < info->dlpi_phnum; ++i) {
            const auto& ph = info->dlpi_phdr[i];
            if (ph.p_type != PT_LOAD) continue;
            f->lo = std::min<uintptr_t>(f->lo, info->dlpi_addr + ph.p_vaddr);
            f->hi = std::max<uintptr_t>(f->hi, info->dlpi_addr + ph.p_vaddr + ph.p_memsz);
          }
          return 1;
        },
        &found);
    if (found.path.empty()) return false;
    lo = found.lo, hi = found.hi;
    const std::string elf = ReadFile(found.path);
    if (elf.size() < sizeof(Elf64_Ehdr)) return false;
    Elf64_Ehdr eh;
    std::memcpy(&eh, elf.data(), sizeof eh);
    if (eh.e_shoff == 0 || eh.e_shentsize != sizeof(Elf64_Shdr) ||
        eh.e_shoff + static_cast<size_t>(eh.e_shnum) * sizeof(Elf64_Shdr) > elf.size())
      return false;
    std::vector<Elf64_Shdr> sections(eh.e_shnum);
    std::memcpy(sections.data(), elf.data() + eh.e_shoff, sections.size() * sizeof(Elf64_Shdr));
    for (const Elf64_Shdr& sh : sections) {
      if (sh.sh_type != SHT_SYMTAB || sh.sh_link >= sections.size()) continue;
      const Elf64_Shdr& strings = sections[sh.sh_link];
      if (sh.sh_offset + sh.sh_size > elf.size() || strings.sh_offset + strings.sh_size > elf.size()) continue;
      for (size_t off = 0; off + sizeof(Elf64_Sym) <= sh.sh_size; off += sizeof(Elf64_Sym)) {
        Elf64_Sym sym;
        std::memcpy(&sym, elf.data() + sh.sh_offset + off, sizeof sym);
        if (ELF64_ST_TYPE(sym.st_info) != STT_FUNC || sym.st_size == 0 || sym.st_name >= strings.sh_size) continue;
        const char* name = elf.data() + strings.sh_offset + sym.st_name;
        const size_t room = strings.sh_size - sym.st_name;
        const std::string n(name, strnlen(name, room));
        const bool span = n.find("P9SpanState") != std::string::npos || n.find("PK9SpanState") != std::string::npos;
        functions.push_back({found.base + sym.st_value, found.base + sym.st_value + sym.st_size, span});
      }
    }
    std::sort(functions.begin(), functions.end(), [](const Range& a, const Range& b) { return a.lo < b.lo; });
    return !functions.empty();
  }

  bool InSpan(uintptr_t pc) const {
    auto it = std::upper_bound(functions.begin(), functions.end(), pc,
                               [](uintptr_t p, const Range& r) { return p < r.lo; });
    if (it == functions.begin()) return false;
    --it;
    return pc < it->hi && it->span;
  }
};

// ---------------------------------------------------------------- the scene

struct Frame {
  std::string folder;
  VxScene* scene = nullptr;
  VxCamera* camera = nullptr;
  std::unique_ptr<CanvasSurface> canvas;
  PlatformWindow* window = nullptr;
  int objects = 0;
  std::string error;

  int width = 640, height = 480;

  bool Open(int w, int h, int threads) {
    width = w, height = h;
    setenv("TESSEL_DRIVER_DIR", FRAME_DRIVER_DIR, 0);
    folder = MakeSceneFolder();
    if (folder.empty()) return Fail("the demo's models could not be made");
    if (!VxInitialize(nullptr)) return Fail("the engine does not start");
    if (threads > 0 && !VxSetDrawThreads(threads)) return Fail("no such number of draw threads");
    int32_t options[4] = {1007, 0, 1, 0};
    void* record = nullptr;
    if (!VxStartDevice("MSWindows", 0, 2, options) || !VxGetDeviceInfo(VX_INFO_DEVICE_RECORD, &record, sizeof record) ||
        !record)
      return Fail("the display driver cannot be opened");
    VxSetSearchPath(folder.c_str(), 1);
    scene = VxCreateScene();
    VxAddLightToScene(scene, VxCreateLight(1, -0.8f, -0.5f, -0.2f, 1.0f));
    const std::string tree = ReadFile(folder + "/tree.vxx"), rock = ReadFile(folder + "/rock.vxx");
    // A field of trees with rocks between them, 24 across and 20 deep, from just ahead of
    // the camera to 8 m away: near ones fill much of the picture, far ones a few pixels.
    for (int row = 0; row < 20; ++row)
      for (int col = 0; col < 24; ++col) {
        const bool is_rock = (row * 7 + col * 3) % 5 == 0;
        const std::string& text = is_rock ? rock : tree;
        VxClump* c = VxReadClumpFromMemory(text.data(), text.size());
        if (!c) return Fail("a demo model cannot be read");
        const float x = -4.0f + col * (8.0f / 23) + (row % 2) * 0.15f, z = 0.6f + row * 0.4f;
        VxGetClumpMatrix(c, VxScratchMatrix());
        VxTranslateMatrix(VxScratchMatrix(), x, 0, z, VX_POSTCONCAT);
        VxTransformClump(c, VxScratchMatrix(), VX_REPLACE);
        VxAddClumpToScene(scene, c);
        ++objects;
      }
    camera = VxCreateCamera(width, height, 0);
    if (!camera) return Fail("no camera");
    VxSetCameraPosition(camera, 0, 0.35f, -0.4f);
    VxPointCameraAt(camera, 0, 0.2f, 4);
    VxSetCameraLookUp(camera, 0, 1, 0);
    VxSetCameraViewwindow(camera, 0.5f, 0.5f * height / width);
    VxSetCameraNearClipping(camera, 0.025f);
    VxSetCameraBackColor(camera, 0.4f, 0.6f, 0.9f);
    canvas = std::make_unique<CanvasSurface>(width, height, 0);
    window = window_create_plain(0, 0, canvas.get());
    VxSetCameraWindow(camera, window);
    return true;
  }
  bool Fail(const char* why) {
    error = why;
    return false;
  }
  bool Draw() { return VxBeginCameraUpdate(camera) && VxRenderScene(scene) && VxEndCameraUpdate(camera); }
  // The last frame shown in the window and written as a PPM picture, to compare the frames
  // of two builds byte for byte.
  bool SavePicture(const std::string& path) {
    GdiDc* dc = gdi_get_dc(window);
    if (!dc) return false;
    const bool shown = VxShowCameraImage(camera, dc) != 0;
    gdi_release_dc(window, dc);
    return shown && canvas->save_ppm(path);
  }
  void Close() {
    VxShutdown();
    if (window) window_destroy(window);
    window = nullptr;
  }
};

// Arguments: width, height, draw threads (0: the engine's default).
void BM_BusyFrame(benchmark::State& state) {
  Frame frame;
  const int width = (int)state.range(0), height = (int)state.range(1), threads = (int)state.range(2);
  if (!frame.Open(width, height, threads)) {
    state.SkipWithError(frame.error.c_str());
    frame.Close();
    return;
  }
  DriverMap driver;
  const bool mapped = driver.Load();
  struct sigaction action {};
  action.sa_sigaction = &OnProfileTick;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  struct sigaction previous {};
  sigaction(SIGPROF, &action, &previous);
  // A high-resolution timer every millisecond: a processor-time timer only fires on the
  // scheduler's tick, too seldom for a share within a point or two in a few seconds; much
  // more often and the signals themselves take a few per cent of the frame. Ticks that fall
  // while the program waits for the processor come as one when it runs again.
  sigevent event{};
  event.sigev_notify = SIGEV_SIGNAL;
  event.sigev_signo = SIGPROF;
  timer_t timer{};
  const bool timed = timer_create(CLOCK_MONOTONIC, &event, &timer) == 0;
  const itimerspec tick{{0, 1000000}, {0, 1000000}};
  if (timed) timer_settime(timer, 0, &tick, nullptr);
  frame.Draw();  // textures decoded and tables built before the timed frames
  if (const char* picture = std::getenv("BENCH_FRAME_PICTURE")) {
    std::string path = picture;
    if (width != 640 || height != 480 || threads != 1)
      path += "." + std::to_string(width) + "x" + std::to_string(height) + ".t" + std::to_string(VxGetDrawThreads());
    if (!frame.SavePicture(path)) state.SkipWithError("the frame's picture could not be written");
  }
  sample_count = 0;
  int64_t frames = 0;
  bool ok = true;
  timespec cpu0{}, cpu1{}, wall0{}, wall1{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu0);
  clock_gettime(CLOCK_MONOTONIC, &wall0);
  sampling = true;
  for (auto _ : state) {
    ok = frame.Draw() && ok;
    ++frames;
  }
  sampling = false;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu1);
  clock_gettime(CLOCK_MONOTONIC, &wall1);
  const double cpu_s = (cpu1.tv_sec - cpu0.tv_sec) + (cpu1.tv_nsec - cpu0.tv_nsec) * 1e-9;
  const double wall_s = (wall1.tv_sec - wall0.tv_sec) + (wall1.tv_nsec - wall0.tv_nsec) * 1e-9;
  if (timed) timer_delete(timer);
  sigaction(SIGPROF, &previous, nullptr);
  if (!ok) state.SkipWithError("a frame could not be drawn");
  const size_t n = std::min(sample_count.load(), kMaxSamples);
  size_t in_span = 0, in_driver = 0;
  for (size_t i = 0; i < n; ++i) {
    in_driver += samples[i] >= driver.lo && samples[i] < driver.hi;
    in_span += mapped && driver.InSpan(samples[i]);
  }
  // Frames per second of the program's own processor time (all its threads): the machine
  // may be shared. The clock's frames per second count only on a quiet machine.
  if (cpu_s > 0) state.counters["fps"] = static_cast<double>(frames) / cpu_s;
  if (wall_s > 0) state.counters["fps_wall"] = static_cast<double>(frames) / wall_s;
  state.counters["threads"] = VxGetDrawThreads();
  state.counters["objects"] = frame.objects;
  state.counters["samples"] = static_cast<double>(n);
  if (n > 0) {
    state.counters["span_share"] = static_cast<double>(in_span) / n;
    state.counters["driver_share"] = static_cast<double>(in_driver) / n;
  }
  if (!mapped) state.SetLabel("the driver's symbols are not readable: no span share");
  frame.Close();
}
}  // namespace

int main(int argc, char** argv) {
  // A measuring run lasts several seconds to gather enough samples for the shares; a run
  // given its own minimum time (a brief check) keeps it.
  bool own_time = false;
  for (int i = 1; i < argc; ++i) own_time = own_time || std::strncmp(argv[i], "--benchmark_min_time", 20) == 0;
  auto* frame = benchmark::RegisterBenchmark("BM_BusyFrame", &BM_BusyFrame)
                    ->Unit(benchmark::kMillisecond)
                    ->ArgNames({"w", "h", "threads"})
                    ->Args({640, 480, 1})
                    ->Args({640, 480, 0})
                    ->Args({1920, 1080, 1})
                    ->Args({1920, 1080, 0})
                    ->UseRealTime();
  if (!own_time) frame->MinTime(4.0);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
