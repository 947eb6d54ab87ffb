#pragma once
// The engine started, a program directory with settings and numbered texts, a headless host,
// a fake clock, and the loaded cells of the world replaced by a list of real engine clumps.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "../support/test_util.h"
#include "client/core/keys.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/tick.h"
#include "client/scene/collide.h"
#include "client/scene/self.h"
#include "client/servers/world.h"
#include "engine/vxl21.h"
#include "platform/clock.h"
#include "platform/headless_host.h"
#include "platform/progdir.h"

// One loaded object: its clump in a cell, a token standing for its element, its solid mark.
struct FakeObject {
  int cell_x, cell_z;
  VxClump* clump;
  bool solid;
  int bumps = 0;
};

struct FakeWorld {
  std::vector<FakeObject> objects;
  int cursor = -1;
  int cell_x = 0, cell_z = 0;
  int starts = 0;  // visible_start calls: nine per collision test
  VxClump* ground = nullptr;
  // Run inside a bump trigger.
  void (*on_bump)(int index) = nullptr;
};
inline FakeWorld* fake_world = nullptr;

inline element* token_of(int index) {
  static char tokens[64];
  return reinterpret_cast<element*>(&tokens[index]);
}
inline int index_of(const element* e) {
  for (int i = 0; i < 64; ++i)
    if (token_of(i) == e) return i;
  return -1;
}

inline collide_hooks fake_collide_hooks() {
  collide_hooks h{};
  h.visible_start = [](int x, int z) {
    fake_world->cursor = -1;
    fake_world->cell_x = x;
    fake_world->cell_z = z;
    ++fake_world->starts;
  };
  h.visible_next = [](element** out) -> VxClump* {
    auto& w = *fake_world;
    for (int i = w.cursor + 1; i < static_cast<int>(w.objects.size()); ++i) {
      if (w.objects[i].cell_x == w.cell_x && w.objects[i].cell_z == w.cell_z) {
        w.cursor = i;
        *out = token_of(i);
        return w.objects[i].clump;
      }
    }
    w.cursor = static_cast<int>(w.objects.size());
    return nullptr;
  };
  h.element_solid = [](const element* e) -> int {
    int i = index_of(e);
    return i >= 0 && fake_world->objects[i].solid ? 1 : 0;
  };
  h.behavior_trigger = [](element* e, const char* trigger) -> int {
    int i = index_of(e);
    if (i < 0 || std::string(trigger) != "bump") return 0;
    ++fake_world->objects[i].bumps;
    if (fake_world->on_bump) fake_world->on_bump(i);
    return 1;
  };
  h.ground_clump = []() -> VxClump* { return fake_world->ground; };
  return h;
}

// A box of the given size centred at (x, y, z), yaw degrees about y.
inline VxClump* make_block(VxReal x, VxReal y, VxReal z, VxReal w, VxReal h, VxReal d, VxReal yaw = 0) {
  VxBeginModel();
  VxBeginClump();
  VxAddBlock(w, h, d);
  VxClump* c = VxEndClump();
  VxEndModel();
  VxMatrix* m = VxCreateMatrix();
  VxRotateMatrix(m, 0, 1, 0, yaw, VX_REPLACE);
  VxTranslateMatrix(m, x, y, z, VX_POSTCONCAT);
  VxTransformClump(c, m, VX_REPLACE);
  VxDestroyMatrix(m);
  return c;
}

// A flat square floor at height y, facing up, of side 2 x half around (x, z).
inline VxClump* make_floor(VxReal x, VxReal y, VxReal z, VxReal half) {
  VxClump* c = VxCreateClump(4, 1);
  VxAddVertexToClump(c, x - half, y, z - half);
  VxAddVertexToClump(c, x - half, y, z + half);
  VxAddVertexToClump(c, x + half, y, z + half);
  VxAddVertexToClump(c, x + half, y, z - half);
  const int q[4] = {1, 2, 3, 4};
  VxAddPolygonToClump(c, 4, q);
  return c;
}

class SelfFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testutil::enter_fresh_dir("tessel-self-", old_cwd_).string();
    ASSERT_FALSE(dir_.empty());
    std::filesystem::create_directories(dir_ + "/Messages");
    std::ofstream(dir_ + "/tessel.ini") << ini();
    std::ofstream(dir_ + "/Messages/default.tzm")
        << "68 Veldara\n163 site\n31 %d%c %d%c\n45 origin\n46 %s|%s|%s|%s\n88 alt %.1f\n";
    platform_set_program_dir(dir_);
    profile_init(dir_.c_str(), "/tessel.ini");
    msg_reset();
    ASSERT_EQ(1, msg_load("default"));
    host_set(&host_);
    testutil::fake_now = 1000;
    platform_set_clock(testutil::fake_clock);
    tick_update();
    ASSERT_TRUE(VxInitialize(nullptr));
    saved_collide_ = collide_hook;
    saved_self_ = self_hook;
    fake_world = &world_;
    collide_hook = fake_collide_hooks();
    self_hook = self_hooks{};
    key_reset();
  }
  void TearDown() override {
    self_reset_for_test();
    bump_reset_for_test();
    collide_hook = saved_collide_;
    self_hook = saved_self_;
    fake_world = nullptr;
    world_reset_state();
    world_hook = world_hooks{};
    key_reset();
    VxShutdown();
    platform_set_clock(nullptr);
    host_set(nullptr);
    msg_reset();
    log_reset();
    testutil::leave_fresh_dir(dir_, old_cwd_);
  }
  virtual std::string ini() { return "[show]\nposition=0\n"; }

  // One frame ms after the last.
  void frame(uint32_t ms) {
    testutil::fake_now += ms;
    tick_update();
    self_update();
  }
  int add(VxClump* clump, bool solid = true) {
    VxVector o{0, 0, 0};
    VxGetClumpOrigin(clump, &o);
    world_.objects.push_back({cell_from(o.x), cell_from(o.z), clump, solid});
    return static_cast<int>(world_.objects.size()) - 1;
  }
  static int cell_from(VxReal v) { return static_cast<int>(std::floor(v)); }

  HeadlessHost host_;
  FakeWorld world_;
  std::string dir_;
  std::filesystem::path old_cwd_;
  collide_hooks saved_collide_{};
  self_hooks saved_self_{};
};
