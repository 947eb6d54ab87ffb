#include "tests/driver/driver_harness.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

#include "platform/display.h"
#include "platform/gdi.h"

namespace driver_test {

namespace {
TestEngine* g_current = nullptr;

void* slot_allocate(size_t size) { return g_current->memory().allocate(size); }
void* slot_allocate_zeroed(size_t count, size_t size) {
  if (size && count > SIZE_MAX / size) return nullptr;
  void* p = g_current->memory().allocate(count * size);
  if (p) std::memset(p, 0, count * size);
  return p;
}
void* slot_reallocate(void* pointer, size_t size) { return g_current->memory().reallocate(pointer, size); }
void slot_free(void* pointer) { g_current->memory().release(pointer); }
}  // namespace

bool TestAllocator::take_failure() {
  ++allocations_;
  if (fail_at_ == 0) return false;
  if (allocations_ == fail_at_) return true;
  return fail_all_after_ && allocations_ > fail_at_;
}

void* TestAllocator::allocate(size_t size) {
  if (take_failure()) return nullptr;
  auto* base = static_cast<uint8_t*>(std::malloc(size + 2 * kCanaryBytes));
  if (!base) return nullptr;
  std::memset(base, kCanaryPattern, kCanaryBytes);
  std::memset(base + kCanaryBytes, kFreshPattern, size);
  std::memset(base + kCanaryBytes + size, kCanaryPattern, kCanaryBytes);
  void* user = base + kCanaryBytes;
  blocks_[user] = {base, size};
  return user;
}

void* TestAllocator::reallocate(void* pointer, size_t size) {
  if (!pointer) return allocate(size);
  auto it = blocks_.find(pointer);
  if (it == blocks_.end()) {
    ++bad_frees_;
    return nullptr;
  }
  void* fresh = allocate(size);
  if (!fresh) return nullptr;
  std::memcpy(fresh, pointer, std::min(size, it->second.size));
  release(pointer);
  return fresh;
}

static bool canaries_written(const uint8_t* base, size_t size) {
  for (size_t i = 0; i < kCanaryBytes; ++i)
    if (base[i] != kCanaryPattern || base[kCanaryBytes + size + i] != kCanaryPattern) return true;
  return false;
}

void TestAllocator::release(void* pointer) {
  if (!pointer) return;
  auto it = blocks_.find(pointer);
  if (it == blocks_.end()) {
    ++bad_frees_;
    return;
  }
  if (canaries_written(it->second.base, it->second.size)) ++freed_canary_faults_;
  // Freed memory is scribbled over so that a later read through a stale pointer shows.
  std::memset(it->second.base, 0xEE, it->second.size + 2 * kCanaryBytes);
  std::free(it->second.base);
  blocks_.erase(it);
}

long TestAllocator::canary_faults() const {
  long n = freed_canary_faults_;
  for (const auto& [user, block] : blocks_)
    if (canaries_written(block.base, block.size)) ++n;
  return n;
}

TestAllocator::~TestAllocator() {
  for (auto& [user, block] : blocks_) std::free(block.base);
}

std::string TestEngine::library_dir() {
  const char* env = std::getenv("TESSEL_BINARY_DIR");
  std::string dir = env && *env ? env : TESSEL_BINARY_DIR;
  return dir + "/lib/";
}

TestEngine::TestEngine() : services_(std::make_unique<EngineServices>()) {
  std::memset(services_.get(), 0, sizeof(EngineServices));
  services_->allocate = &slot_allocate;
  services_->allocate_zeroed = &slot_allocate_zeroed;
  services_->reallocate = &slot_reallocate;
  services_->free = &slot_free;
  g_current = this;
  display_reset();
  gdi_reset();
}

TestEngine::~TestEngine() {
  unload();
  if (ddraw_) dlclose(ddraw_);
  display_reset();
  gdi_reset();
  if (g_current == this) g_current = nullptr;
}

bool TestEngine::load() {
  unload();
  ddraw_ = ddraw_ ? ddraw_ : dlopen((library_dir() + "libddraw_standin.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!ddraw_) return false;
  dd_reset = reinterpret_cast<DdStandinResetFn>(dlsym(ddraw_, "ddraw_standin_reset"));
  dd_set_modes = reinterpret_cast<DdStandinSetModesFn>(dlsym(ddraw_, "ddraw_standin_set_modes"));
  dd_set_desktop = reinterpret_cast<DdStandinSetDesktopFn>(dlsym(ddraw_, "ddraw_standin_set_desktop"));
  dd_fault = reinterpret_cast<DdStandinFaultFn>(dlsym(ddraw_, "ddraw_standin_fault"));
  dd_stats_fn = reinterpret_cast<DdStandinStatsFn>(dlsym(ddraw_, "ddraw_standin_stats"));
  dd_screen_pixel = reinterpret_cast<DdStandinScreenPixelFn>(dlsym(ddraw_, "ddraw_standin_screen_pixel"));
  if (!dd_reset || !dd_set_modes || !dd_set_desktop || !dd_fault || !dd_stats_fn || !dd_screen_pixel)
    return false;
  dd_reset();
  plugin_ = dlopen((library_dir() + "libVXDL8D21.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!plugin_) return false;
  vxdev = reinterpret_cast<VxdevFn>(dlsym(plugin_, "_vxdev"));
  if (!vxdev) return false;
  driver_open = vxdev("MSWindows", nullptr, services_.get());
  driver_open_dd = vxdev("MSWindowsDD", nullptr, services_.get());
  return driver_open && driver_open_dd;
}

void TestEngine::unload() {
  // As the engine does before it lets the plug-in go.
  if (plugin_ && device().device_close && device().device_open == nullptr) device().device_close(&device());
  if (plugin_ && device().release) device().release();
  std::memset(&services_->device, 0, sizeof services_->device);
  if (plugin_) dlclose(plugin_);
  plugin_ = nullptr;
  vxdev = nullptr;
  driver_open = driver_open_dd = nullptr;
}

DdStandinStats TestEngine::dd_stats() const {
  DdStandinStats s{};
  if (dd_stats_fn) dd_stats_fn(&s);
  return s;
}

DeviceCamera* TestEngine::add_camera(int width, int height, int x, int y) {
  auto c = std::make_unique<Camera>();
  c->camera.width = width;
  c->camera.height = height;
  c->camera.target_x = x;
  c->camera.target_y = y;
  c->camera.has_image = 1;
  c->camera.projection_flags = 1;
  c->camera.colour_raster = &c->rasters.colour;
  c->camera.depth_raster = &c->rasters.depth;
  c->camera.next = services_->cameras;
  services_->cameras = &c->camera;
  cameras_.push_back(std::move(c));
  return &cameras_.back()->camera;
}

void TestEngine::remove_camera(DeviceCamera* camera) {
  for (DeviceCamera** p = &services_->cameras; *p; p = &(*p)->next) {
    if (*p == camera) {
      *p = camera->next;
      break;
    }
  }
}

int TestEngine::open(const char* name, std::vector<DeviceOption> options, void* window) {
  DriverOpenFn fn = vxdev(name, nullptr, services_.get());
  if (!fn) return 0;
  device().version = engine_version;
  if (!fn(&device())) return 0;
  auto* w = static_cast<PlatformWindow*>(window);
  int count = static_cast<int>(options.size());
  if (!device().device_init(&device(), w, count, options.data())) return 0;
  if (!device().device_open) return 0;
  return device().device_open(&device(), w, count, options.data());
}

EntrySnapshot::EntrySnapshot(const DeviceRecord& r) : record(r) {}

}  // namespace driver_test
