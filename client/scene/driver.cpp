#include "client/scene/driver.h"

#include <cstring>

#include "client/cache/image.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/scene/display.h"
#include "driver/records.h"
#include "engine/vxl21.h"

const char* const driver_names[6] = {"VXDLDD21", "VXDL8D21", "VXDLMD21",
                                     "VXDL6D21", "VXDLMB21", "VXDL6B21"};
const int32_t driver_options[4] = {1007, 0, 1004, 16};

driver_hooks driver_hook = {};

namespace {

bool ready = false;
bool direct3d = false;
int32_t texture_size = 0;

// The directdraw keys cleared for this run when the device fell back (never written).
bool directdraw_cleared = false;

bool setting_on(const char* key) {
  bool dd = std::strcmp(key, "directdraw") == 0;
  bool trial = std::strcmp(key, "try_directdraw") == 0;
  if (directdraw_cleared && (dd || trial)) return false;
  if (dd && driver_hook.perform_directdraw) return driver_hook.perform_directdraw() == 1;
  if (trial && driver_hook.perform_try_directdraw) return driver_hook.perform_try_directdraw() == 1;
  if (dd) return perform_stored_directdraw() == 1;
  if (trial) return perform_stored_try_directdraw() == 1;
  return settings_int("performance", key) == 1;
}

// The "6" name that follows an mmx name in the table.
const char* fallback_of(const char* mmx) {
  for (int i = 0; i + 1 < 6; ++i)
    if (std::strcmp(driver_names[i], mmx) == 0) return driver_names[i + 1];
  return driver_names[3];
}

}  // namespace

int load_driver(const char* name, int flag) {
  VxDriver* handle = VxOpenDriver(name, 0);
  if (handle) {
    int mode = 1;
    if (setting_on("direct3d") || setting_on("directdraw") || setting_on("try_directdraw"))
      mode = 0;
    else if (flag)
      mode = 2;
    // The engine only reads the block; a copy keeps the shared table constant.
    int32_t options[4];
    std::memcpy(options, driver_options, sizeof options);
    if (VxStartDriver(handle, 0, mode, options)) {
      if (setting_on("try_directdraw")) {
        int32_t fell_back = 0;
        if (VxGetDeviceInfo(VX_INFO_FALLBACK, &fell_back, 4) && fell_back) {
          // In memory only: the next start tries again.
          directdraw_cleared = true;
          if (driver_hook.perform_clear_directdraw) driver_hook.perform_clear_directdraw();
        }
      }
      log_write("load_driver: %s mode %d", name, mode);
      return 1;
    }
    VxCloseDriver(handle);
  }
  log_write("VxGetError: %d", VxGetError());
  return 0;
}

int driver_init() {
  direct3d = false;
  // Small textures are resampled to the side of the device opened below.
  image_set_texture_side_source(driver_texture_size);
  const char* mmx = setting_on("hr") ? "VXDLMB21" : "VXDLMD21";
  if (!VxInitialize(nullptr)) {
    log_write("VxInitialize failed!");
    return 0;
  }
  const char* name = nullptr;
  int flag = 1;
  if (display_depth() == 8) {
    name = "VXDL8D21";
    flag = 0;
  } else {
    if (setting_on("direct3d")) {
      if (load_driver("VXDLDD21", 0)) {
        direct3d = true;
        goto finish;
      }
      note(msg(203), msg(68));
    }
    int value = perform_mmx();
    if (value == 1) {
      if (load_driver(mmx, 1)) goto finish;
      perform_set_mmx(0);
      note(msg(204), msg(68));
    } else if (value == -1) {
      if (load_driver(mmx, 1)) {
        perform_set_mmx(1);
        goto finish;
      }
      perform_set_mmx(0);
    } else if (value != 0) {
      perform_set_mmx(0);
    }
    name = fallback_of(mmx);
    flag = 1;
  }
  if (!load_driver(name, flag)) {
    int32_t options[4];
    std::memcpy(options, driver_options, sizeof options);
    if (!VxStartDevice("MSWindows", 0, 2, options) && !VxStartDeviceDefault("MSWindows", 0)) return 0;
    log_write("driver_init: the engine's own device");
  }
finish:
  ready = true;
  texture_size = 0;
  {
    DeviceRecord* record = nullptr;
    if (VxGetDeviceInfo(VX_INFO_DEVICE_RECORD, &record, sizeof record) && record)
      texture_size = record->texture_width_unit;
  }
  return 1;
}

bool driver_ready() { return ready; }
bool driver_using_direct3d() { return direct3d; }
bool driver_directdraw_cleared() { return directdraw_cleared; }
int32_t driver_texture_size() { return texture_size; }

void driver_term() { driver_reset_for_test(); }

void driver_reset_for_test() {
  ready = false;
  direct3d = false;
  texture_size = 0;
  directdraw_cleared = false;
}
