#pragma once
// A small world for action texts and animations: the engine, the model table, elements made
// by the element module, a fake clock, and recorders on the modules not built yet.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "client/core/tick.h"
#include "client/scene/animate.h"
#include "client/scene/behavior.h"
#include "client/scene/element.h"
#include "client/scene/model.h"
#include "client/scene/self.h"
#include "client/scene/texture.h"
#include "client/servers/teleport.h"
#include "engine/vxl21.h"
#include "platform/clock.h"

namespace behavior_test {

inline uint32_t fake_now = 100000;
inline uint32_t fake_clock() { return fake_now; }

// What the hooks saw: "web <url> <skip>", "sign <text>|<color>|<bcolor>", "as_picker",
// "pick_off", "position <x> <y> <z> <yaw>"; sign objects kept apart.
inline std::vector<std::string> calls;
inline std::vector<const void*> sign_objects;
inline int mover = 0, picker = 0;

inline std::string text_of(const char* s) { return s ? s : "-"; }
inline int count(const std::string& prefix) {
  int n = 0;
  for (const std::string& c : calls) n += c.compare(0, prefix.size(), prefix) == 0;
  return n;
}

inline void set_position(float x, float y, float z, float yaw) {
  char line[128];
  std::snprintf(line, sizeof line, "position %g %g %g %g", x, y, z, yaw);
  calls.push_back(line);
}

class SceneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    calls.clear();
    sign_objects.clear();
    mover = picker = 0;
    fake_now = 100000;
    platform_set_clock(fake_clock);
    tick_update();
    ASSERT_TRUE(VxInitialize(nullptr));
    ASSERT_EQ(model_init(), 1);
    behavior_hook = {};
    behavior_hook.web_navigate = [](const char* url, int skip) {
      calls.push_back("web " + text_of(url) + " " + std::to_string(skip));
      return 1;
    };
    behavior_hook.sign_create = [](model_instance* object, const char* text, const char* color, const char* back) {
      calls.push_back("sign " + text_of(text) + "|" + text_of(color) + "|" + text_of(back));
      sign_objects.push_back(object);
    };
    behavior_hook.mouse_is_mover = [] { return mover; };
    behavior_hook.mouse_is_picker = [] { return picker; };
    behavior_hook.mouse_as_picker = [] { calls.push_back("as_picker"); };
    behavior_hook.pick_off = [] { calls.push_back("pick_off"); };
    saved_teleport_hook = teleport_hook;
    teleport_hook = {};
    teleport_hook.self_set_position = set_position;
    teleport_reset_state();
    self_set_position(0, 0, 0, 0);
  }
  void TearDown() override {
    while (element* e = element_first()) element_destroy(e);
    animation_update();  // frees the animations the elements took with them
    behavior_reset();
    behavior_hook = {};
    teleport_hook = saved_teleport_hook;
    teleport_reset_state();
    texture_reset();
    model_term();
    VxShutdown();
    platform_set_clock(nullptr);
  }

  static element* make(const std::string& action, int32_t owner = 1, const char* description = "a thing") {
    return element_create(1.5, 0, 2.5, 0, 8, "wall.rwx", static_cast<int>(std::strlen(description)), description,
                          static_cast<int>(action.size()), action.c_str(), 40, owner, 900000000);
  }
  static std::string name_of(const element* e) { return text_of(element_name(e)); }
  static void frame_after(uint32_t ms) {
    fake_now += ms;
    tick_update();
    animation_update();
  }

  teleport_hooks saved_teleport_hook{};
};

}  // namespace behavior_test
