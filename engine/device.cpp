// Display drivers: loading the plug-in by name, binding it through its one export, opening
// its device, the engine's services record and the cameras' device records.
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/internal.h"
#include "platform/progdir.h"

struct VxDriverRec {
  std::string name;
  void* library = nullptr;
  VxdevFn vxdev = nullptr;
};

namespace vx {
namespace {

constexpr const char* kDefaultDriver = "VXDL8D21";
constexpr int kOptionPairs = 2;  // the option block: two (code, value) pairs
constexpr int32_t kEngineRasterDepth = 8;  // the only rasters the engine draws into

void* slot_allocate(size_t size) { return std::malloc(size ? size : 1); }
void* slot_allocate_zeroed(size_t count, size_t size) { return std::calloc(count ? count : 1, size ? size : 1); }
void* slot_reallocate(void* p, size_t size) { return std::realloc(p, size ? size : 1); }
void slot_free(void* p) { std::free(p); }

struct Device {
  EngineServices services{};
  VxDriverRec* driver = nullptr;  // the driver whose device is open
  bool open = false;
  unsigned epoch = 0;
};

Device& dev() {
  static Device d;
  return d;
}

void services_reset() { services_init(dev().services); }

std::string library_file(const std::string& name) { return "lib" + name + ".so"; }

void* load_library(const std::string& name) {
  std::string file = library_file(name);
  if (name.find('/') != std::string::npos || name.empty()) return nullptr;
  const char* env = std::getenv("TESSEL_DRIVER_DIR");
  if (env && *env) {
    if (void* h = dlopen((std::string(env) + "/" + file).c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
  }
  std::string bin = platform_program_dir();
  if (!bin.empty()) {
    while (bin.size() > 1 && bin.back() == '/') bin.pop_back();
    size_t slash = bin.rfind('/');
    std::string lib = (slash == std::string::npos ? std::string(".") : bin.substr(0, slash)) + "/lib/";
    if (void* h = dlopen((lib + file).c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
  }
  return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void driver_unload(VxDriverRec* d) {
  if (d->library) dlclose(d->library);
  d->library = nullptr;
  d->vxdev = nullptr;
}

// Closes the open device: the cameras' rasters first, then the device, then the driver's
// own tables, in the order the driver expects.
void device_close() {
  Device& d = dev();
  if (!d.open) return;
  bands_forget();
  for (VxCameraRec* c : st().cameras) device_camera_detach(c);
  DeviceRecord& r = d.services.device;
  if (r.device_close && !r.device_open) r.device_close(&r);
  if (r.release) r.release();
  d.open = false;
  d.driver = nullptr;
  services_reset();
}

// Binds the driver's device by name and opens it with the options.
int device_start(VxDriverRec* driver, const char* device, void* options) {
  Device& d = dev();
  if (d.open) device_close();
  if (!device_bind(driver->vxdev, device, options, d.services)) {
    services_reset();
    return fail(VX_E_NO_DEVICE);
  }
  d.open = true;
  d.driver = driver;
  ++d.epoch;
  bands_device_started(device, options, options ? sizeof(DeviceOption) * kOptionPairs : 0);
  for (VxCameraRec* c : st().cameras)
    if (!device_camera_attach(c)) {
      device_close();
      return fail(VX_E_NO_MEMORY);
    }
  st().device_started = true;
  return 1;
}

VxDriverRec* driver_open(const char* name) {
  auto* d = new VxDriverRec;
  d->name = name;
  d->library = load_library(name);
  if (d->library) d->vxdev = reinterpret_cast<VxdevFn>(dlsym(d->library, "_vxdev"));
  if (!d->vxdev) {
    driver_unload(d);
    delete d;
    return nullptr;
  }
  st().drivers.insert(d);
  return d;
}

void driver_close(VxDriverRec* d) {
  if (dev().driver == d) device_close();
  driver_unload(d);
  st().drivers.erase(d);
  delete d;
}

// The driver behind VxStartDevice: one already opened, else the default plug-in (fresh).
VxDriverRec* default_driver(bool& fresh) {
  fresh = false;
  for (VxDriverRec* d : st().drivers)
    if (d->name == kDefaultDriver) return d;
  fresh = true;
  return driver_open(kDefaultDriver);
}

}  // namespace

void services_init(EngineServices& s) {
  std::memset(&s, 0, sizeof s);
  s.allocate = &slot_allocate;
  s.allocate_zeroed = &slot_allocate_zeroed;
  s.reallocate = &slot_reallocate;
  s.free = &slot_free;
}

// The block's options as the driver is to see them. A depth asked for is the depth of the
// engine's rasters, whatever the screen's: the driver then draws 8 bits on a 15-, 16- or
// 24-bit screen too, where a depth of its own choosing (16) would refuse the open. Codes the
// driver does not take are dropped.
static int mapped_options(const void* block, DeviceOption* out) {
  if (!block) return 0;
  DeviceOption in[kOptionPairs];
  std::memcpy(in, block, sizeof in);
  int count = 0;
  for (const DeviceOption& o : in) {
    const uint32_t code = o.code & ~kDeviceOptionAccepted;
    switch (code) {
      case kOptionRequestedDepth:
        out[count++] = {code, kEngineRasterDepth};
        break;
      case kOptionNone:
      case kOptionGamma:
      case kOptionForcePlainDib:
      case kOptionSkip16BitProbe:
      case kOptionAcceptedOnly:
      case kOptionWantDirectDraw:
      case kOptionDisplayModeSwitch:
      case kOptionForceDibSection:
        out[count++] = {code, o.value};
        break;
      default:
        break;
    }
  }
  return count;
}

bool device_bind(VxdevFn vxdev, const char* device, const void* options, EngineServices& s) {
  services_init(s);
  DriverOpenFn open_fn = vxdev(device, nullptr, &s);
  if (!open_fn) return false;
  DeviceRecord& r = s.device;
  r.version = kEngineVersionWord;
  DeviceOption opts[kOptionPairs];
  const int count = mapped_options(options, opts);
  if (open_fn(&r) && r.device_init && r.device_init(&r, nullptr, count, count ? opts : nullptr) && r.device_open &&
      r.device_open(&r, nullptr, count, count ? opts : nullptr))
    return true;
  if (r.device_close && !r.device_open) r.device_close(&r);
  if (r.release) r.release();
  return false;
}

bool device_open() { return dev().open; }
void* device_library() { return dev().open && dev().driver ? dev().driver->library : nullptr; }
DeviceRecord* device_record() { return dev().open ? &dev().services.device : nullptr; }
unsigned device_epoch() { return dev().epoch; }

bool device_camera_attach(VxCameraRec* c) {
  Device& d = dev();
  if (!d.open || c->dev) return true;
  auto* k = new VxDeviceCameraRec;
  DeviceCamera& cam = k->cam;
  cam.width = c->width;
  cam.height = c->height;
  cam.has_image = 1;
  cam.projection_flags = 1;
  cam.colour_raster = &k->colour;
  cam.depth_raster = &k->depth;
  cam.next = d.services.cameras;
  d.services.cameras = &cam;
  c->dev = k;
  DeviceRecord& r = d.services.device;
  if (!r.create_raster || !r.create_raster(&cam, c->width, c->height)) {
    device_camera_detach(c);
    return false;
  }
  return true;
}

void device_camera_detach(VxCameraRec* c) {
  VxDeviceCameraRec* k = c->dev;
  if (!k) return;
  Device& d = dev();
  DeviceRecord& r = d.services.device;
  if (c->frame_open && r.end_frame) r.end_frame(&k->cam);
  c->frame_open = false;
  if (k->colour.driver_raster || k->cam.row_table)
    if (r.destroy_raster) r.destroy_raster(&k->cam);
  for (DeviceCamera** p = &d.services.cameras; *p; p = &(*p)->next)
    if (*p == &k->cam) {
      *p = k->cam.next;
      break;
    }
  delete k;
  c->dev = nullptr;
}

void device_shutdown() {
  device_close();
  for (VxDriverRec* d : st().drivers) {
    driver_unload(d);
    delete d;
  }
  st().drivers.clear();
}

}  // namespace vx

using namespace vx;

VxDriver* VxOpenDriver(const char* name, int) {
  if (!st().initialized) return failp<VxDriver>(VX_E_NOT_INITIALIZED);
  if (!name || !*name || std::strlen(name) > 64) return failp<VxDriver>(VX_E_BAD_ARGUMENT);
  VxDriverRec* d = driver_open(name);
  if (!d) return failp<VxDriver>(VX_E_NO_DEVICE);
  return d;
}

// Mode 0 asks for the DirectDraw surface output, 1 and 2 for the window outputs.
int VxStartDriver(VxDriver* driver, int, int mode, void* options) {
  if (!driver || !st().drivers.count(driver)) return fail(VX_E_BAD_ARGUMENT);
  if (mode < 0 || mode > 2) return fail(VX_E_BAD_ARGUMENT);
  return device_start(driver, mode == 0 ? "MSWindowsDD" : "MSWindows", options);
}

int VxCloseDriver(VxDriver* driver) {
  if (!driver || !st().drivers.count(driver)) return fail(VX_E_BAD_ARGUMENT);
  driver_close(driver);
  return 1;
}

// "null" is the built-in device that draws nothing; any other name is a device of the
// default plug-in, and the null device stands in while that plug-in is not installed.
int VxStartDevice(const char* device, int, int, void* options) {
  if (!st().initialized) return fail(VX_E_NOT_INITIALIZED);
  if (!device || !*device || std::strlen(device) > 64) return fail(VX_E_BAD_ARGUMENT);
  if (std::strcmp(device, "null") != 0) {
    bool fresh;
    if (VxDriverRec* d = default_driver(fresh)) {
      if (device_start(d, device, options)) return 1;
      // The plug-in keeps some options (a requested depth) across opens: one loaded here
      // goes again after a failed open, so that the next start finds it fresh.
      int error = VxGetError();
      if (fresh) driver_close(d);
      return fail(error);
    }
  }
  device_close();
  st().device_started = true;
  return 1;
}

int VxStartDeviceDefault(const char* device, int reserved) {
  return VxStartDevice(device, reserved, 1, nullptr);
}

int VxGetDeviceInfo(int code, void* out, int size) {
  if (!st().initialized) return fail(VX_E_NOT_INITIALIZED);
  if (!out || size < 0) return fail(VX_E_BAD_ARGUMENT);
  DeviceRecord* r = device_record();
  if (code == VX_INFO_DEVICE_RECORD) {
    if (size < (int)sizeof(void*)) return fail(VX_E_BAD_ARGUMENT);
    std::memcpy(out, &r, sizeof(void*));
    return r ? 1 : fail(VX_E_UNSUPPORTED);
  }
  if (r) {
    if (size < 4 || !r->get_info) return fail(VX_E_BAD_ARGUMENT);
    int32_t v = 0;
    if (!r->get_info(code, &v, 4)) return fail(VX_E_UNSUPPORTED);
    std::memcpy(out, &v, 4);
    return 1;
  }
  switch (code) {
    case VX_INFO_FALLBACK:
    case VX_INFO_IMAGE_SURFACE: {
      if (size < 4) return fail(VX_E_BAD_ARGUMENT);
      int32_t zero = 0;  // the null device never falls back and has plain images
      std::memcpy(out, &zero, 4);
      return 1;
    }
    default:
      return fail(VX_E_UNSUPPORTED);
  }
}

int VxDeviceControl(int code, int arg, void* data, int size) {
  if (!st().initialized) return fail(VX_E_NOT_INITIALIZED);
  DeviceRecord* r = device_record();
  if (code == VX_CONTROL_HALF_CAMERA) {
    // The whole record: a short size would leave the camera pointer cut in half.
    if (!data || size < (int)sizeof(VxHalfCameraControl)) return fail(VX_E_BAD_ARGUMENT);
    if (!r) return 1;  // nothing to pair on the null device
    // The driver stretches the half camera's image to the full size when it presents.
    VxHalfCameraControl h;
    std::memcpy(&h, data, sizeof h);
    if (!live(h.camera) || !h.camera->dev) return fail(VX_E_BAD_ARGUMENT);
    DeviceStretchRequest q{h.width, h.height, &h.camera->dev->cam};
    if (!r->control || !r->control(code, arg, &q, (int32_t)sizeof q)) return fail(VX_E_UNSUPPORTED);
    return 1;
  }
  if (!r || !r->control) return fail(VX_E_UNSUPPORTED);
  int v = r->control(code, arg, data, size);
  if (v) bands_control(code, arg, data, size);
  return v ? v : fail(VX_E_UNSUPPORTED);
}

int VxSetDrawThreads(int threads) {
  if (threads < 1 || threads > 8) return fail(VX_E_BAD_ARGUMENT);
  bands_set_threads(threads);
  return 1;
}

int VxGetDrawThreads(void) { return bands_threads(); }

// The device's palette, or on the null device a 6 x 6 x 6 colour cube and a grey ramp.
int VxGetPaletteEntries(int first, int count, void* buffer) {
  if (!st().initialized) return fail(VX_E_NOT_INITIALIZED);
  if (!buffer || first < 0 || count < 0 || first > 256 - count) return fail(VX_E_BAD_ARGUMENT);
  unsigned char* out = static_cast<unsigned char*>(buffer);
  if (DeviceRecord* r = device_record()) {
    unsigned char rgb[256 * 4];
    if (!r->get_palette_entries || !r->get_palette_entries(first, count, rgb)) return fail(VX_E_UNSUPPORTED);
    std::memcpy(out, rgb, (size_t)count * 4);
    return 1;
  }
  for (int i = 0; i < count; ++i) {
    int n = first + i;
    unsigned char red, green, blue;
    if (n < 216) {
      red = (unsigned char)(n / 36 * 51);
      green = (unsigned char)(n / 6 % 6 * 51);
      blue = (unsigned char)(n % 6 * 51);
    } else {
      red = green = blue = (unsigned char)((n - 216) * 255 / 39);
    }
    out[i * 4] = red;
    out[i * 4 + 1] = green;
    out[i * 4 + 2] = blue;
    out[i * 4 + 3] = 0;
  }
  return 1;
}
