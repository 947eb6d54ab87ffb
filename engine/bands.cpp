// Drawing a frame in horizontal bands on several threads.
//
// The driver keeps its drawing state in process-wide globals (one span state block, one set
// of frame limits, one depth buffer, its shade tables), so a band cannot share the device's
// copy with another thread. Each band draws through a copy of its own: the plug-in loaded
// again from an in-memory copy of its file (its globals are hidden, so each copy binds its
// own), its device opened with the options of the device the engine started, the controls
// that device was given applied again, and a camera of the frame's size that draws into a
// raster of the engine's, which the band's copy of the driver cannot tell from any other.
//
// The driver leaves out whole a triangle that reaches outside its frame and steps every
// triangle from its top vertex, so a band cannot start a polygon at its own first row: it
// steps every polygon that reaches its rows from the top, in its own full-size raster and
// depth buffer, but the driver fills only the band's rows, and only those go back into the
// frame. Each band sees its polygons in the order the engine handed them over, so its rows
// come out as one thread would draw them.
//
// The frame's polygons are recorded (vertices and material copied) while the engine works
// through a scene or clump, and the bands draw them as they come: every band has finished
// them when that call returns, as nothing the polygons point at changes during one call.
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sched.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <strings.h>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/internal.h"

namespace vx {
namespace {

constexpr int kMaxThreads = 8;
constexpr int kMinBandRows = 32;
constexpr int64_t kMinBandedPixels = 1280 * 720;  // fewer rows a band: more polygons drawn twice than saved

// One copy of the driver and its device, with a camera of the frame's size.
struct BandDriver {
  void* library = nullptr;
  int fd = -1;  // held while loaded: the copy's name must stay its own
  EngineServices services{};
  bool open = false;
  DeviceCamera cam{};
  DeviceRaster colour{}, depth{};
  std::vector<uint8_t> pixels;
  int width = 0, height = 0;
  bool raster = false;
  unsigned cleared = 0;  // the frame whose depth rows this band cleared
  uintptr_t base = 0;    // load address, to compare entries with the device's
};

struct Command {
  int bank, slot;
  int32_t flag, shade;
  int32_t top, bottom;  // rows the polygon's corners lie on
  int32_t left, right;  // and columns
  uint32_t first;       // into Bands::vertices
  uint8_t count;
  DeviceMaterial material;
};

struct Bands {
  int threads = 0;             // the setting; 0 until first asked
  bool threads_chosen = false;  // set by the program rather than taken from the processors
  // What the engine's own device was opened with, and the controls it was given since.
  std::string device;
  std::vector<uint8_t> options;
  struct Control {
    int32_t code, value;
    std::vector<uint8_t> data;
    bool with_data;
  };
  std::vector<Control> controls;
  bool unsafe = false;  // a control whose effect cannot be repeated on the copies
  std::vector<uint8_t> image;  // the driver file
  std::vector<std::unique_ptr<BandDriver>> drivers;
  bool failed = false;  // copies could not be made for this device start
  // The frame.
  VxCameraRec* camera = nullptr;
  int count = 0;  // bands of the frame; 0 when drawn on one thread
  unsigned frame = 0;
  unsigned split = 0;  // the frame whose rows the bands were given
  std::vector<Command> commands;  // never grown while the bands read them
  std::vector<DeviceVertex> vertices;
  std::vector<int64_t> row_cost;   // the frame's work per row, as differences from the row above
  std::vector<int64_t> last_cost;  // the frame before's, which the split goes by
  std::vector<double> row_weight;  // processor time per unit of that work, learnt by row
  int split_height = 0, split_bands = 0;  // of the frame the edges and weights were made for
  int edges[kMaxThreads + 1] = {};  // band i draws rows edges[i] .. edges[i + 1] - 1
  double band_work[kMaxThreads] = {}, band_time[kMaxThreads] = {};
  // Workers.
  std::vector<std::thread> workers;
  std::mutex lock;
  std::condition_variable start, done;
  std::condition_variable more;
  unsigned generation = 0;
  int pending = 0;
  bool quit = false;
  // The polygons handed over so far in the open run of drawing, and whether more may come.
  bool drawing = false;
  const Command* shown_commands = nullptr;
  const DeviceVertex* shown_vertices = nullptr;
  std::atomic<uint32_t> shown{0};
  std::atomic<bool> closed{false};
  std::atomic<int> sleepers{0};
};

constexpr uint32_t kHandOver = 32;  // polygons recorded between hand-overs

// Never destroyed: a program that ends without shutting the engine down leaves its workers
// waiting, not a destructor joining them.
Bands& bands() {
  static Bands* b = new Bands;
  return *b;
}

// One band per processor but one: the caller's thread goes on recording while the bands
// draw, and a band that took its processor would stop the others waiting for polygons.
int available_threads() {
  cpu_set_t set;
  int n = 0;
  if (sched_getaffinity(0, sizeof set, &set) == 0) n = CPU_COUNT(&set);
  if (n < 1) n = (int)std::thread::hardware_concurrency();
  if (n >= 3) --n;
  return std::clamp(n, 1, kMaxThreads);
}

uintptr_t library_base(void* fn) {
  Dl_info info{};
  return dladdr(fn, &info) ? reinterpret_cast<uintptr_t>(info.dli_fbase) : 0;
}

void driver_close(BandDriver& d) {
  DeviceRecord& r = d.services.device;
  if (d.open) {
    if (d.raster && r.destroy_raster) r.destroy_raster(&d.cam);
    if (r.device_close && !r.device_open) r.device_close(&r);
    if (r.release) r.release();
  }
  d.open = d.raster = false;
  if (d.library) dlclose(d.library);
  if (d.fd >= 0) close(d.fd);
  d.library = nullptr;
  d.fd = -1;
}

// The file of the loaded plug-in, read once per device start.
bool read_driver_image(void* library) {
  Bands& b = bands();
  if (!b.image.empty()) return true;
  link_map* map = nullptr;
  if (!library || dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name || !*map->l_name) return false;
  return read_file(map->l_name, b.image, 64u << 20);
}

bool driver_load(BandDriver& d) {
  Bands& b = bands();
  d.fd = memfd_create("VXDL8D21-band", MFD_CLOEXEC);
  if (d.fd < 0) return false;
  size_t at = 0;
  while (at < b.image.size()) {
    ssize_t n = write(d.fd, b.image.data() + at, b.image.size() - at);
    if (n <= 0) return false;
    at += (size_t)n;
  }
  const std::string path = "/proc/self/fd/" + std::to_string(d.fd);
  d.library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!d.library) return false;
  auto vxdev = reinterpret_cast<VxdevFn>(dlsym(d.library, "_vxdev"));
  if (!vxdev) return false;
  d.base = library_base(reinterpret_cast<void*>(vxdev));
  d.open = device_bind(vxdev, b.device.c_str(), b.options.empty() ? nullptr : b.options.data(), d.services);
  if (!d.open) return false;
  DeviceRecord& r = d.services.device;
  for (const Bands::Control& c : b.controls) {
    std::vector<uint8_t> data = c.data;
    if (!r.control || !r.control(c.code, c.value, c.with_data ? data.data() : nullptr, (int32_t)data.size()))
      return false;
  }
  return r.raster_depth == 8;
}

// The copy's camera over a raster of the frame's size.
bool driver_size(BandDriver& d, int width, int height) {
  if (d.raster && d.width == width && d.height == height) return true;
  DeviceRecord& r = d.services.device;
  if (d.raster && r.destroy_raster) r.destroy_raster(&d.cam);
  d.raster = false;
  d.pixels.assign((size_t)width * height, 0);
  d.cam = DeviceCamera{};
  d.colour = DeviceRaster{};
  d.depth = DeviceRaster{};
  d.cam.width = width;
  d.cam.height = height;
  d.cam.has_image = 0;  // it draws into the engine's raster below
  d.cam.colour_raster = &d.colour;
  d.cam.depth_raster = &d.depth;
  d.colour.kind = kRasterKindColour;
  d.colour.bits = d.colour.depth = 8;
  d.colour.width = width;
  d.colour.height = height;
  d.colour.pitch = width;
  d.colour.pixels = d.pixels.data();
  d.colour.flags = kRasterNotBacked | kRasterRebuildRows;
  d.services.cameras = &d.cam;
  if (!r.create_raster || !r.create_raster(&d.cam, width, height)) return false;
  d.width = width, d.height = height;
  d.cleared = 0;
  d.raster = true;
  return true;
}

// Every render mode of the copy stands where the device's does in its own library: the
// device's table was not changed by anyone but the driver.
bool same_modes(const DeviceRecord& main, uintptr_t main_base, const BandDriver& d) {
  const DeviceRecord& r = d.services.device;
  for (int bank = 0; bank < VX_RENDER_BANKS; ++bank)
    for (int slot = 0; slot < kRenderModesPerBank; ++slot) {
      const auto a = reinterpret_cast<uintptr_t>(main.render_modes[bank][slot]);
      const auto c = reinterpret_cast<uintptr_t>(r.render_modes[bank][slot]);
      if ((a == 0) != (c == 0) || (a && a - main_base != c - d.base)) return false;
    }
  return true;
}

double thread_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return (double)t.tv_sec + t.tv_nsec * 1e-9;
}

// Until more polygons are handed over or the run is closed: briefly awake, as the next
// ones are usually a few microseconds away, then asleep.
void wait_more(uint32_t seen) {
  Bands& b = bands();
  const auto ready = [&] { return b.shown.load() != seen || b.closed.load(); };
  for (int spin = 0; spin < 4000; ++spin) {
    if (ready()) return;
    __builtin_ia32_pause();
  }
  std::unique_lock<std::mutex> hold(b.lock);
  b.sleepers.fetch_add(1);
  b.more.wait(hold, ready);
  b.sleepers.fetch_sub(1);
}

void draw_band_rows(int index) {
  Bands& b = bands();
  BandDriver& d = *b.drivers[(size_t)index];
  DeviceCamera& main = b.camera->dev->cam;
  const int width = b.camera->width;
  const int top = b.edges[index], bottom = b.edges[index + 1];
  if (bottom <= top) return;
  DeviceRecord& r = d.services.device;
  // The frame's own camera values: dither rows, perspective and depth settings.
  d.cam.target_x = main.target_x;
  d.cam.target_y = main.target_y;
  d.cam.projection_flags = main.projection_flags;
  d.cam.scale_x = main.scale_x, d.cam.scale_y = main.scale_y;
  d.cam.near_clip = main.near_clip, d.cam.far_clip = main.far_clip;
  d.cam.depth_offset = main.depth_offset, d.cam.depth_scale = main.depth_scale;
  d.cam.background_pixel = main.background_pixel;
  // Only the band's own rows are filled; a driver that cannot choose them fills every row.
  DeviceRect own{0, top, 0, bottom - top};
  if (r.control) r.control(kControlDrawnRows, 0, &own, (int32_t)sizeof own);
  if (!r.begin_frame || !r.begin_frame(&d.cam, nullptr)) return;
  const size_t row = (size_t)std::min(width, d.width);
  for (int y = top; y < bottom; ++y) std::memcpy(d.cam.row_table[y], main.row_table[y], row);
  if (d.cleared != b.frame) {
    DeviceRect rows{0, top, width, bottom - top};
    if (r.clear_depth_rect) r.clear_depth_rect(&rows);
    d.cleared = b.frame;
  }
  DevicePolygon poly;
  const Command* commands = b.shown_commands;
  const DeviceVertex* vertices = b.shown_vertices;
  // A band's processor time is kept to weigh its rows in the next split.
  for (uint32_t at = 0;;) {
    const uint32_t shown = b.shown.load(std::memory_order_acquire);
    if (at == shown) {
      if (b.closed.load(std::memory_order_acquire) && b.shown.load(std::memory_order_acquire) == at) break;
      wait_more(at);
      continue;
    }
    const double start = thread_seconds();
    for (; at < shown; ++at) {
      const Command& c = commands[at];
      if (c.bottom < top || c.top > bottom) continue;
      RenderModeFn mode = r.render_modes[c.bank][c.slot];
      if (!mode) continue;
      poly.material = const_cast<DeviceMaterial*>(&c.material);
      poly.shade = c.shade;
      poly.vertex_count = c.count;
      for (int i = 0; i < c.count; ++i) poly.vertices[i] = const_cast<DeviceVertex*>(&vertices[c.first + (size_t)i]);
      mode(&poly, c.flag);
    }
    b.band_time[index] += thread_seconds() - start;
  }
  for (int y = top; y < bottom; ++y) std::memcpy(main.row_table[y], d.cam.row_table[y], row);
  if (r.end_frame) r.end_frame(&d.cam);
}

// A worker waits for the generation after the one it was started in.
void worker(int index, unsigned seen) {
  Bands& b = bands();
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(b.lock);
      b.start.wait(hold, [&] { return b.quit || b.generation != seen; });
      if (b.quit) return;
      seen = b.generation;
    }
    if (index < b.count) draw_band_rows(index);
    std::lock_guard<std::mutex> hold(b.lock);
    if (--b.pending == 0) b.done.notify_one();
  }
}

void drawing_finish();

void workers_stop() {
  Bands& b = bands();
  drawing_finish();
  {
    std::lock_guard<std::mutex> hold(b.lock);
    b.quit = true;
  }
  b.start.notify_all();
  for (std::thread& t : b.workers) t.join();
  b.workers.clear();
  b.quit = false;
}

void drivers_close() {
  Bands& b = bands();
  workers_stop();
  for (auto& d : b.drivers) driver_close(*d);
  b.drivers.clear();
}

// Copies for n bands, loaded and opened as needed; false when they cannot be had.
bool drivers_ready(int n, void* library) {
  Bands& b = bands();
  if (b.failed || b.unsafe) return false;
  if ((int)b.drivers.size() >= n) return true;
  if (!read_driver_image(library)) {

    b.failed = true;
    return false;
  }
  workers_stop();
  while ((int)b.drivers.size() < n) {
    auto d = std::make_unique<BandDriver>();
    if (!driver_load(*d)) {
      driver_close(*d);
      b.failed = true;
      drivers_close();
      return false;
    }
    b.drivers.push_back(std::move(d));
  }
  // The caller's thread records while the bands draw.
  for (int i = 0; i < n; ++i) b.workers.emplace_back(worker, i, b.generation);
  return true;
}

}  // namespace

int bands_threads() {
  Bands& b = bands();
  if (b.threads == 0) b.threads = available_threads();
  return b.threads;
}

// Taken at the next frame's start. A count set here holds for frames of every size.
void bands_set_threads(int n) {
  bands().threads = std::clamp(n, 1, kMaxThreads);
  bands().threads_chosen = true;
}

void bands_device_started(const char* device, const void* options, size_t size) {
  bands_forget();
  Bands& b = bands();
  b.device = device;
  b.options.assign(static_cast<const uint8_t*>(options), static_cast<const uint8_t*>(options) + (options ? size : 0));
  b.controls.clear();
  b.unsafe = false;
  // The surface output's device takes the display for itself: one at a time.
  b.failed = strcasecmp(device, "MSWindowsDD") == 0;
  b.image.clear();
}

void bands_reset() {
  bands_forget();
  bands().threads = 0;
  bands().threads_chosen = false;
}

void bands_forget() {
  Bands& b = bands();
  drivers_close();
  b.commands.clear();
  b.vertices.clear();
  b.camera = nullptr;
  b.count = 0;
}

void bands_control(int code, int value, const void* data, int size) {
  Bands& b = bands();
  switch (code) {
    case 1: case 4: case 11: case 13: case 1101: case 1104: case 1000:
      return;  // queries, and the stretch of a camera's own raster
    case 2: case 7: case 8: case 9: case 10: case 12: case 14: case 1001: {
      drawing_finish();  // not while a copy draws
      Bands::Control c{code, value, {}, data != nullptr};
      if (data && size > 0) c.data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
      b.controls.push_back(std::move(c));
      // Copies already open take it at once.
      for (auto& d : b.drivers) {
        DeviceRecord& r = d->services.device;
        std::vector<uint8_t> copy = b.controls.back().data;
        if (!d->open || !r.control || !r.control(code, value, data ? copy.data() : nullptr, (int32_t)copy.size()))
          b.unsafe = true;
      }
      return;
    }
    default:
      b.unsafe = true;
      drivers_close();
      return;
  }
}

bool bands_begin(VxCameraRec* c, DeviceRecord* r, void* library) {
  Bands& b = bands();
  drawing_finish();
  b.camera = nullptr;
  b.count = 0;
  int n = std::min(bands_threads(), c->height / kMinBandRows);
  // By default a frame below a maximised window's size is drawn on one thread: each band
  // draws every polygon that touches it whole, and on a small frame that repeated set-up
  // costs more processor time than the bands save.
  if (!b.threads_chosen && static_cast<int64_t>(c->width) * c->height < kMinBandedPixels) n = 1;
  if (n < 2 || r->raster_depth != 8 || !c->dev || !c->dev->cam.row_table || b.device.empty()) return false;
  if (!drivers_ready(n, library)) return false;
  const uintptr_t base = library_base(reinterpret_cast<void*>(r->transform_vertices));
  for (int i = 0; i < n; ++i) {
    BandDriver& d = *b.drivers[(size_t)i];
    if (!same_modes(*r, base, d)) return false;
    if (!driver_size(d, c->width, c->height)) return false;
  }
  b.camera = c;
  b.count = n;
  if (++b.frame == 0) b.frame = 1;
  return true;
}

bool bands_active(const VxCameraRec* c) { return bands().count > 0 && bands().camera == c; }

namespace {

// The polygons recorded so far, to the bands.
void hand_over() {
  Bands& b = bands();
  b.shown.store((uint32_t)b.commands.size());
  if (b.sleepers.load() > 0) {
    std::lock_guard<std::mutex> hold(b.lock);
    b.more.notify_all();
  }
}

// Band edges that give each band about the same work: the scene's busy rows (often those
// around the horizon, where far objects crowd) would otherwise keep one band drawing while
// the others wait. A polygon counts its box's width, and a little for stepping, on each row
// it reaches in the frame before, weighed by what such work cost in those rows (rows hidden
// behind near objects cost less than rows drawn). Any split draws the same picture.
void split_rows() {
  Bands& b = bands();
  const int height = b.camera->height;
  if (b.row_weight.size() != (size_t)height) b.row_weight.assign((size_t)height, 1.0);
  if (b.last_cost.size() != (size_t)height + 1) b.last_cost.assign((size_t)height + 1, 0);
  double total = 0;
  int64_t run = 0;
  for (int y = 0; y < height; ++y) total += (double)(run += b.last_cost[(size_t)y]) * b.row_weight[(size_t)y];
  b.edges[0] = 0;
  int y = 0;
  double done = 0;
  run = 0;
  for (int i = 1; i <= b.count; ++i) {
    const double target = i == b.count ? total * 2 : total * i / b.count;
    int64_t work = 0;
    for (; y < height && done < target; ++y) {
      run += b.last_cost[(size_t)y];
      work += run;
      done += (double)run * b.row_weight[(size_t)y];
    }
    // Nothing to go by (the first frame of its size): even bands.
    b.edges[i] = i == b.count ? height : total > 0 ? y : height * i / b.count;
    b.band_work[i - 1] = (double)work;
  }
  b.split_height = height;
  b.split_bands = b.count;
}

// Each band's time for its work becomes the weight of its rows, relative to the frame's
// mean and eased toward, so that the split settles rather than swings.
void learn_weights() {
  Bands& b = bands();
  double time = 0, work = 0;
  for (int i = 0; i < b.count; ++i) time += b.band_time[i], work += b.band_work[i];
  if (!(time > 0) || !(work > 0)) return;
  for (int i = 0; i < b.count; ++i) {
    if (!(b.band_work[i] > 0)) continue;
    const double weight = std::clamp(b.band_time[i] / b.band_work[i] * work / time, 0.05, 20.0);
    for (int y = b.edges[i]; y < b.edges[i + 1]; ++y) b.row_weight[(size_t)y] = 0.5 * (b.row_weight[(size_t)y] + weight);
  }
}

// The bands start on their rows; the first run of a frame fixes the rows, and each band's
// depth rows then hold what the frame's earlier runs drew there.
void drawing_start() {
  Bands& b = bands();
  if (b.split != b.frame) {
    const int height = b.camera->height;
    const bool same = b.split_height == height && b.split_bands == b.count && b.row_weight.size() == (size_t)height;
    if (same) learn_weights();  // the frame before's times against its split
    std::swap(b.last_cost, b.row_cost);
    if (!same || b.last_cost.size() != (size_t)height + 1) b.last_cost.clear();
    b.row_cost.assign((size_t)height + 1, 0);
    split_rows();
    for (double& t : b.band_time) t = 0;
    b.split = b.frame;
  }
  b.shown_commands = b.commands.data();
  b.shown_vertices = b.vertices.data();
  b.shown.store(0);
  b.closed.store(false);
  {
    std::lock_guard<std::mutex> hold(b.lock);
    b.pending = (int)b.workers.size();
    ++b.generation;
  }
  b.start.notify_all();
  b.drawing = true;
}

// Everything recorded drawn by every band.
void drawing_finish() {
  Bands& b = bands();
  if (b.drawing) {
    b.shown.store((uint32_t)b.commands.size());
    b.closed.store(true);
    std::unique_lock<std::mutex> hold(b.lock);
    b.more.notify_all();
    b.done.wait(hold, [&] { return b.pending == 0; });
    b.drawing = false;
  }
  b.commands.clear();
  b.vertices.clear();
}

}  // namespace

void bands_record(int bank, int slot, const DevicePolygon& poly, int32_t flag) {
  Bands& b = bands();
  // The bands read the buffers in place: they grow only while no band draws.
  if (b.commands.size() == b.commands.capacity() || b.vertices.size() + poly.vertex_count > b.vertices.capacity()) {
    drawing_finish();
    b.commands.reserve(std::max<size_t>(4096, b.commands.capacity() * 2));
    b.vertices.reserve(std::max<size_t>(16384, std::max(b.vertices.capacity() * 2, (size_t)poly.vertex_count)));
  }
  if (!b.drawing) drawing_start();
  // Filled in place: a copy built on the stack is stored in small pieces and read back in
  // large ones, which the processor cannot forward and waits for.
  Command& c = b.commands.emplace_back();
  c.bank = bank, c.slot = slot, c.flag = flag, c.shade = poly.shade;
  c.first = (uint32_t)b.vertices.size();
  c.count = poly.vertex_count;
  c.material = *poly.material;
  int32_t top = INT32_MAX, bottom = INT32_MIN, left = INT32_MAX, right = INT32_MIN;
  for (int i = 0; i < poly.vertex_count; ++i) {
    const DeviceVertex& v = *poly.vertices[i];
    b.vertices.push_back(v);
    top = std::min(top, v.screen_y >> 16);
    bottom = std::max(bottom, v.screen_y >> 16);
    left = std::min(left, v.screen_x >> 16);
    right = std::max(right, v.screen_x >> 16);
  }
  c.top = top, c.bottom = bottom;
  c.left = left, c.right = right;
  // The work it adds to its rows, for the next frame's split.
  constexpr int64_t kRowStep = 8;  // a row's stepping, in pixels' worth
  const int height = (int)b.row_cost.size() - 1;
  if (height > 0 && poly.vertex_count > 0) {
    const int from = std::clamp(top, 0, height - 1), to = std::clamp(bottom + 1, from + 1, height);
    const int64_t w = (int64_t)std::max(0, right - left) + kRowStep;
    b.row_cost[(size_t)from] += w;
    b.row_cost[(size_t)to] -= w;
  }
  if (b.commands.size() - b.shown.load(std::memory_order_relaxed) >= kHandOver) hand_over();
}

void bands_draw() {
  if (bands().count) drawing_finish();
}

void bands_end(const VxCameraRec* c) {
  if (!bands_active(c)) return;
  bands_draw();
  bands().camera = nullptr;
  bands().count = 0;
}

}  // namespace vx
