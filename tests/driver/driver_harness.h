#pragma once
// A small engine for the driver tests. It owns EngineServices with its device record, the
// cameras and their rasters, and an allocator that fills fresh blocks with a pattern, keeps
// canary bands around every block and can be told to fail its n-th allocation. The plug-in
// is loaded with dlopen from ${TESSEL_BINARY_DIR}/lib and bound through _vxdev, as the
// engine binds it.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "driver/records.h"
#include "platform/ddraw/ddraw_standin.h"

namespace driver_test {

constexpr uint8_t kFreshPattern = 0xA7;
constexpr uint8_t kCanaryPattern = 0x5C;
constexpr size_t kCanaryBytes = 32;

class TestAllocator {
 public:
  // The n-th allocation from now fails (1 = the next one); 0 switches failures off.
  void fail_nth(long n) { fail_at_ = n > 0 ? allocations_ + n : 0; }
  // Every allocation from the n-th on fails.
  void fail_from(long n) {
    fail_at_ = n > 0 ? allocations_ + n : 0;
    fail_all_after_ = true;
  }
  long allocations() const { return allocations_; }
  size_t live() const { return blocks_.size(); }
  long bad_frees() const { return bad_frees_; }
  // Blocks whose canary bands were written, freed or alive.
  long canary_faults() const;
  std::vector<size_t> live_sizes() const {
    std::vector<size_t> v;
    for (const auto& [user, block] : blocks_) v.push_back(block.size);
    return v;
  }
  bool owns(const void* p) const { return blocks_.count(const_cast<void*>(p)) != 0; }
  ~TestAllocator();

  void* allocate(size_t size);
  void* reallocate(void* pointer, size_t size);
  void release(void* pointer);

 private:
  bool take_failure();
  struct Block {
    uint8_t* base;
    size_t size;
  };
  std::map<void*, Block> blocks_;
  long allocations_ = 0;
  long fail_at_ = 0;
  bool fail_all_after_ = false;
  long bad_frees_ = 0;
  long freed_canary_faults_ = 0;
};

struct TestRaster {
  DeviceRaster colour{};
  DeviceRaster depth{};
};

class TestEngine {
 public:
  TestEngine();
  ~TestEngine();

  // Loads the plug-in (fresh driver state each time) and the DirectDraw stand-in controls.
  bool load();
  void unload();

  EngineServices& services() { return *services_; }
  DeviceRecord& device() { return services_->device; }
  TestAllocator& memory() { return memory_; }

  VxdevFn vxdev = nullptr;
  DriverOpenFn driver_open = nullptr;     // the name "MSWindows"
  DriverOpenFn driver_open_dd = nullptr;  // the name "MSWindowsDD"

  // A camera on the engine's list with its own colour and depth rasters.
  DeviceCamera* add_camera(int width, int height, int x = 0, int y = 0);
  void remove_camera(DeviceCamera* camera);

  // The DirectDraw stand-in's controls (the stand-in stays loaded by the harness).
  DdStandinResetFn dd_reset = nullptr;
  DdStandinSetModesFn dd_set_modes = nullptr;
  DdStandinSetDesktopFn dd_set_desktop = nullptr;
  DdStandinFaultFn dd_fault = nullptr;
  DdStandinStatsFn dd_stats_fn = nullptr;
  DdStandinScreenPixelFn dd_screen_pixel = nullptr;
  DdStandinStats dd_stats() const;

  // Opens the device by name with options; the version word of a current engine.
  int open(const char* name, std::vector<DeviceOption> options, void* window = nullptr);
  uint32_t engine_version = 0x021C1234;

  static std::string library_dir();

 private:
  struct Camera {
    DeviceCamera camera{};
    TestRaster rasters;
  };
  std::unique_ptr<EngineServices> services_;
  TestAllocator memory_;
  std::vector<std::unique_ptr<Camera>> cameras_;
  void* plugin_ = nullptr;
  void* ddraw_ = nullptr;
};

// Device record entries as a snapshot, to compare before and after a step.
struct EntrySnapshot {
  explicit EntrySnapshot(const DeviceRecord& r);
  DeviceRecord record;
};

}  // namespace driver_test
