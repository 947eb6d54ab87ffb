// Action texts come from whoever built an object: any bytes as an element's action text are
// checked, run on every trigger and animated for a while without a crash or an endless loop.
#include <cstdint>
#include <cstring>
#include <string>

#include "client/core/tick.h"
#include "client/scene/animate.h"
#include "client/scene/behavior.h"
#include "client/scene/element.h"
#include "client/scene/model.h"
#include "client/scene/texture.h"
#include "client/servers/teleport.h"
#include "engine/vxl21.h"
#include "platform/clock.h"

namespace {
uint32_t now = 100000;
uint32_t fake_clock() { return now; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = [] {
    platform_set_clock(fake_clock);
    tick_update();
    return VxInitialize(nullptr) && model_init() == 1;
  }();
  if (!ready) return 0;
  // The wire carries at most 255 bytes of action text; the rest of an input is ignored.
  size_t length = size > 255 ? 255 : size;
  std::string action(reinterpret_cast<const char*>(data), length);
  element* e = element_create(1.5, 0, 2.5, 0, 8, "wall.rwx", 7, "a thing", static_cast<int>(action.size()),
                              action.c_str(), 40, 1, 900000000);
  if (!e) return 0;
  behavior_check(e);
  for (const char* trigger : {BEHAVIOR_CREATE, BEHAVIOR_BUMP, BEHAVIOR_ACTIVATE, BEHAVIOR_ADONE})
    behavior_trigger(e, trigger);
  behavior_post(action.c_str());
  behavior_update();
  for (int frame = 0; frame < 8; ++frame) {
    now += 250;
    tick_update();
    animation_update();
  }
  element_destroy(e);
  animation_update();
  behavior_reset();
  teleport_reset_state();
  texture_reset();
  return 0;
}
