#pragma once
// A program directory with numbered messages, settings, the keyed-file engine, the cell
// cache and the world module, the real own position and action language, and recorders for
// what a teleport plays, posts and prints. The fake servers are started by the tests that
// need them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "client//cache/database.h"
#include "client/core/cgi.h"
#include "client/core/dialog.h"
#include "client/core/files.h"
#include "client/core/identity.h"
#include "client/core/lifecycle.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/scene/behavior.h"
#include "client/scene/camera.h"
#include "client/scene/cell.h"
#include "client/scene/self.h"
#include "client/servers/history.h"
#include "client/servers/teleport.h"
#include "client/servers/universe.h"
#include "client/servers/world.h"
#include "keyfile/ostrel.h"
#include "platform/headless_host.h"
#include "platform/progdir.h"
#include "tests/support/world_modules_fixture.h"

namespace tptest {

// What the teleport module handed to the edges.
struct Calls {
  std::vector<std::string> sounds;
  std::vector<std::string> posts;
  std::vector<std::string> console;
  std::vector<std::string> enables;  // "menu 106 0", "toolbar 107 1"
  bool forward_posts = true;         // posted commands also go to the action language
};
inline Calls* calls = nullptr;

inline const lifecycle_call reset_calls[] = {
    {"cell_reset", [] { cell_reset(); }},
};
inline const lifecycle_tables tables = {nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, reset_calls, 1};

class TeleportFixture : public testutil::WorldModulesFixture {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(enter_program_dir(
        "tessel-teleport-", "[general]\n", "default",
        {55, 68, 119, 136, 137, 150, 160, 172, 173, 184, 200, 212, 255, 256, 257, 434, 435, 436, 437, 453, 454, 455,
         456},
        "89 m89 %s\n95 m95 %d\n146 m146 %s\n159 m159 %s\n162 m162 %s %s\n250 m250 %d\n"));
    ASSERT_NO_FATAL_FAILURE(start_world_modules(&tables));
    world_hook = world_hooks{};
    universe_receiver = universe_default_receivers();
    ASSERT_EQ(0, world_init());
    cgi_clear_teleport();
    behavior_reset();
    self_reset_for_test();
    camera_reset_for_test();
    history_reset();
    teleport_reset_state();
    calls = &recorded;
    teleport_hook = teleport_default_hooks();
    teleport_hook.sound_effect = [](const char* name) { calls->sounds.push_back(name); };
    teleport_hook.console_print = [](int kind, const char* line) {
      calls->console.push_back(std::to_string(kind) + " " + line);
    };
    teleport_hook.behavior_post = [](const char* text) {
      calls->posts.push_back(text);
      if (calls->forward_posts) behavior_post(text);
    };
    history_hook.menu_enable = [](int id, int on) {
      calls->enables.push_back("menu " + std::to_string(id) + " " + std::to_string(on));
    };
    history_hook.toolbar_enable = [](int id, int on) {
      calls->enables.push_back("toolbar " + std::to_string(id) + " " + std::to_string(on));
    };
  }

  void TearDown() override {
    teleport_set_tree_maker(nullptr);
    teleport_reset_state();
    history_reset();
    history_hook = history_hooks{};
    teleport_hook = teleport_default_hooks();
    calls = nullptr;
    behavior_reset();
    cgi_clear_teleport();
    self_reset_for_test();
    camera_reset_for_test();
    stop_world_modules();
  }

  Calls recorded;
};

}  // namespace tptest
