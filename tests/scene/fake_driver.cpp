// A driver plug-in that opens any device and draws nothing: it stands for the driver files
// this platform does not have. Each start is appended to $SCENE_FAKE_DRIVER_LOG as
// "<device> <option count> <code>=<value> ..."; $SCENE_FAKE_DRIVER_FALLBACK answers query 1004.
// Camera rasters are accepted and never drawn; with $SCENE_FAKE_DRIVER_NO_RASTER set they are
// refused, so that no camera can be created on its device.
#include <cstdio>
#include <cstdlib>

#include "driver/records.h"

namespace {

char device_name[64];

int32_t get_info(int32_t code, void* out, int32_t size) {
  if (code != 1004 || !out || size < 4) return 0;
  const char* v = std::getenv("SCENE_FAKE_DRIVER_FALLBACK");
  *static_cast<int32_t*>(out) = v ? std::atoi(v) : 0;
  return 1;
}

int32_t device_init(DeviceRecord*, PlatformWindow*, int32_t count, DeviceOption* options) {
  if (const char* path = std::getenv("SCENE_FAKE_DRIVER_LOG")) {
    if (FILE* f = std::fopen(path, "a")) {
      std::fprintf(f, "%s %d", device_name, count);
      for (int32_t i = 0; i < count && options; ++i)
        std::fprintf(f, " %u=%d", options[i].code & 0xFFFFu, options[i].value);
      std::fprintf(f, "\n");
      std::fclose(f);
    }
  }
  return 1;
}

int32_t device_open(DeviceRecord*, PlatformWindow*, int32_t, DeviceOption*) { return 1; }
int32_t device_close(DeviceRecord*) { return 1; }

int32_t create_raster(DeviceCamera*, int32_t, int32_t) {
  return std::getenv("SCENE_FAKE_DRIVER_NO_RASTER") ? 0 : 1;
}

int32_t open_device(DeviceRecord* record) {
  record->raster_depth = 8;
  record->texture_width_unit = 64;
  record->texture_height_unit = 64;
  record->get_info = &get_info;
  record->create_raster = &create_raster;
  record->device_init = &device_init;
  record->device_open = &device_open;
  record->device_close = &device_close;
  return 1;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) DriverOpenFn _vxdev(const char* name, char*,
                                                                      EngineServices*) {
  std::snprintf(device_name, sizeof device_name, "%s", name ? name : "");
  return &open_device;
}
