#pragma once
// A world scene for the scheduler, element and props tests: the world fixture's program
// folder, settings, messages, keyed-file engine and fake clock; the engine with the model
// table (every element gets a placeholder clump); a cell cache of its own; the scheduler and
// props started; and a recorder on the hooks of modules not built yet.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "client/core/tick.h"
#include "client/scene/cell.h"
#include "client/scene/element.h"
#include "client/scene/model.h"
#include "client/scene/prop.h"
#include "client/scene/self.h"
#include "client/scene/visible.h"
#include "engine/vxl21.h"
#include "tests/world/world_test_util.h"

namespace vtest {

using testutil::fake_now;

inline std::vector<std::string> console;
inline std::vector<std::string> gone;
inline double fps = 0;

inline std::string cache_dir;
inline const char* cache_path() { return cache_dir.c_str(); }
inline int cache_unchanged() { return 0; }

// Elements of a loaded cell, by number, in list order.
inline std::vector<int32_t> numbers_in(int x, int z) {
  std::vector<int32_t> out;
  visible_start(x, z);
  element* e = nullptr;
  while (visible_next(&e)) out.push_back(element_number(e));
  return out;
}

// Objects stored in the cache for a cell, by number, in stored order.
inline std::vector<int32_t> cached(int x, int z) {
  std::vector<int32_t> out;
  cell_start(x, z);
  int32_t used = 0;
  const uint8_t* b = cell_buffer(&used);
  int at = 0;
  while (at + CELL_ENTRY_HEAD <= used) {
    int32_t n;
    std::memcpy(&n, b + at, 4);
    out.push_back(n);
    at += CELL_ENTRY_HEAD + b[at + 20] + b[at + 21] + b[at + 22];
  }
  return out;
}

inline void store(int x, int z, const std::vector<int32_t>& numbers, int32_t sequence = 0) {
  cell_update_begin(x, z, 1);
  for (int32_t n : numbers) cell_element_add(n, 7, 100, 500, 0, 500, 0, "box.rwx", "", "");
  cell_update_end(sequence);
}

class SceneFixture : public wtest::WorldFixture {
 protected:
  void SetUp() override {
    WorldFixture::SetUp();
    if (HasFatalFailure()) return;
    {
      std::ofstream m(dir + "/Messages/default.tzm", std::ios::app);
      for (int n : {13, 37, 38, 39, 40, 41, 83, 84, 119, 125, 127, 128, 150}) m << n << " m" << n << "\n";
      m << "32 m32 %d\n42 m42 %d\n47 m47 %d %d\n126 m126 %s\n";
    }
    msg_reset();
    ASSERT_EQ(1, msg_load("default"));
    console.clear();
    gone.clear();
    fps = 0;
    tick_update();
    ASSERT_TRUE(VxInitialize(nullptr));
    ASSERT_EQ(1, model_init());
    cache_dir = dir + "/cells";
    std::filesystem::create_directories(cache_dir);
    if (own_cache) {
      cell_set_world(cache_path, cache_unchanged);
      ASSERT_EQ(1, cell_reset());
    }
    prop_init();
    prop_hook = {};
    prop_hook.console_print = [](int kind, const char* line) { console.push_back(std::to_string(kind) + " " + line); };
    prop_hook.pick_object_gone = [](int x, int z, int32_t n) {
      gone.push_back(std::to_string(x) + "," + std::to_string(z) + " " + std::to_string(n));
    };
    prop_set_old(0);
    visible_hook = {};
    visible_hook.frame_rate = [] { return fps; };
    visible_term();
    visible_init();
    self_set_position(0.5, 0, 0.5, 0);
  }
  void TearDown() override {
    visible_term();
    prop_term();
    prop_hook = {};
    visible_hook = {};
    while (element* e = element_first()) element_destroy(e);
    model_term();
    VxShutdown();
    cell_set_element_create(nullptr);
    WorldFixture::TearDown();
  }

  // One frame of the scheduler, the clock moved on by ms first.
  void pass(uint32_t ms = 1) {
    fake_now += ms;
    tick_update();
    visible_pass();
  }

  bool own_cache = true;
};

// A scene fixture (Base) against the fake universe and world over loopback, with a cache of
// the program's own (no stored cells).
template <class Base>
class Loopback : public wtest::WithFakes<Base> {
 protected:
  Loopback() { this->own_cache = false; }
  // One frame of the modules in play, in task order.
  static void step() {
    fake_now += 1;
    tick_update();
    universe_update();
    world_update();
    prop_update();
    visible_update();
  }
  void run_until(const std::function<bool()>& done) {
    ASSERT_TRUE(wtest::poll_until([&] {
      step();
      return done();
    }));
  }
};

}  // namespace vtest
