#pragma once
// A world scene with a real camera for the builder's tests: the scheduler's scene fixture,
// the engine's null device, the main camera at the origin looking north, the world scene,
// the builder and its dialog started, and numbered message texts.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "client/core/dialog.h"
#include "client/scene/camera.h"
#include "client/scene/driver.h"
#include "client/scene/pdialog.h"
#include "client/scene/pick.h"
#include "client/scene/scene.h"
#include "tests/visible/visible_env.h"

namespace ptest {

using vtest::numbers_in;

// One object record in a cell: thousandths within the cell.
inline void store_at(int cx, int cz, int32_t number, int x, int y, int z, int yaw = 0, int32_t owner = 7,
                     const char* description = "") {
  cell_element_add(number, owner, 100, x, y, z, yaw, "box.rwx", description, "");
}

class PickFixture : public vtest::SceneFixture {
 protected:
  void SetUp() override {
    SceneFixture::SetUp();
    if (HasFatalFailure()) return;
    {
      std::ofstream m(dir + "/Messages/default.tzm", std::ios::app);
      for (int n : {28, 29, 368, 369, 370, 371, 372, 373, 374, 502, 503, 504, 513, 514}) m << n << " m" << n << "\n";
      m << "252 m252 %d\n253 m253 %d\n254 m254 %d\n";
    }
    msg_reset();
    ASSERT_EQ(1, msg_load("default"));
    // No driver plug-in here: the engine's null device keeps cameras and picking working.
    std::filesystem::create_directories(dir + "/drivers");
    setenv("TESSEL_DRIVER_DIR", (dir + "/drivers").c_str(), 1);
    ASSERT_EQ(1, driver_init());
    camera_set_self_source(nullptr);
    ASSERT_EQ(1, camera_init());
    ASSERT_NE(nullptr, scene_init());
    camera_update();
    pick_hook = {};
    pick_hook.console_print = [](int kind, const char* line) {
      vtest::console.push_back(std::to_string(kind) + " " + line);
    };
    pick_init();
    pick_enable();
    pdialog_init(nullptr, nullptr);
    pdialog_set_window(nullptr);
  }
  void TearDown() override {
    pick_term();
    pdialog_term();
    pick_hook = {};
    camera_term();
    scene_term();
    driver_reset_for_test();
    unsetenv("TESSEL_DRIVER_DIR");
    SceneFixture::TearDown();
  }

  // Loads the cells in view through the scheduler.
  void load(int x, int z) {
    for (int i = 0; i < 60 && !visible_cell_loaded(x, z); ++i) pass();
    ASSERT_TRUE(visible_cell_loaded(x, z));
  }

  // A view point where the scene shows the element's clump, found through the real camera.
  static bool point_of(const element* e, int* px, int* py) {
    VxClump* c = element_clump(e);
    int w = 0, h = 0;
    camera_size(&w, &h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (c && scene_pick(x, y) == c) {
          *px = x;
          *py = y;
          return true;
        }
    return false;
  }

  // The loaded element of that number in cell (x, z), or null.
  static element* loaded(int x, int z, int32_t number) {
    visible_start(x, z);
    element* e = nullptr;
    while (visible_next(&e))
      if (element_number(e) == number) return e;
    return nullptr;
  }

  // Clicks on the element as the user would, with Shift and Control as given.
  int click(const element* e, bool shift = false, bool control = false) {
    int x = 0, y = 0;
    EXPECT_TRUE(point_of(e, &x, &y));
    boxes.set_key(0x10, shift);
    boxes.set_key(0x11, control);
    int r = pick_at(x, y);
    boxes.set_key(0x10, false);
    boxes.set_key(0x11, false);
    return r;
  }

  static ScriptedView* view() { return dynamic_cast<ScriptedView*>(pdialog_view()); }
};

}  // namespace ptest
