#pragma once
// The teleport fixture (settings, messages, world, history, own position) with the menu
// texts added, an avatar registry, and recorders for the menu's hooks.
#include <string>
#include <vector>

#include "Zembrel/Pose/Anim/anim.h"
#include "client/app/program.h"
#include "client//app/command.h"
#include "client/app/frame.h"
#include "client/core/tessel.h"
#include "client/servers/attributes.h"
#include "client/servers/login.h"
#include "tests/teleport/teleport_fixture.h"

namespace menutest {

struct HookCalls {
  std::vector<int> types;      // avatar_set_type
  std::vector<std::string> reserved;
  int gesture_shows = 0;
  std::vector<std::string> other;  // "fps", "web_back", ...
};
inline HookCalls* hooks = nullptr;

class MenuFixture : public tptest::TeleportFixture {
 protected:
  void SetUp() override {
    TeleportFixture::SetUp();
    // Menu texts: the titles carry distinct mnemonics, items their number.
    {
      std::ofstream m(dir + "/Messages/default.tzm", std::ios::app);
      const char* titles[][2] = {{"451", "&Fm451"}, {"457", "m457&T"}, {"464", "&Vm464"},
                                 {"470", "&Om470"}, {"475", "&Sm475"}, {"486", "m&L486"},
                                 {"501", "&Am501"}, {"490", "&Wm490"}, {"496", "&Hm496"}};
      for (auto& t : titles) m << t[0] << " " << t[1] << "\n";
      for (int n = 452; n <= 500; ++n)
        if (n != 457 && n != 464 && n != 470 && n != 475 && n != 486 && n != 490 && n != 496 &&
            (n < 453 || n > 456))
          m << n << " m" << n << "\n";
    }
    msg_reset();
    ASSERT_EQ(1, msg_load("default"));
    AnimReset(dir.c_str());
    hooks = &hook_calls;
    menu_reset_for_test();
    menu_hook.avatar_set_type = [](int type) { hooks->types.push_back(type); };
    menu_hook.gesture_set_reserved_shortcuts = [](const char* letters) {
      hooks->reserved.push_back(letters);
    };
    menu_hook.gesture_show = [] { ++hooks->gesture_shows; };
    menu_set_rows_per_column(3);
  }
  void TearDown() override {
    menu_reset_for_test();
    menu_set_rows_per_column(0);
    hooks = nullptr;
    AnimReset(dir.c_str());
    attributes_clear();
    app_reset_for_test();
    TeleportFixture::TearDown();
  }
  // Connected to world as the connection does it.
  void be_in(const char* world) {
    world_connect(world);
    ASSERT_STREQ(world, world_name());
  }
  // The world offers these avatars (registry order).
  void offer(const std::vector<std::string>& names) {
    std::string text = "# animation registry version 0.3\nversion 3\n";
    for (const auto& n : names) text += "avatar name = " + n + " endavatar\n";
    testutil::write_file(dir + "/avatars.dat", text);
    AnimLoadRegistry((dir + "/avatars.dat").c_str());
  }
  std::vector<std::string> avatar_texts() {
    std::vector<std::string> out;
    for (int i = 0; i < menu_item_count(MENU_AVATAR_POSITION); ++i) {
      menu_item_view v{};
      menu_item_at(MENU_AVATAR_POSITION, i, &v);
      out.push_back(v.text);
    }
    return out;
  }
  HookCalls hook_calls;
};

}  // namespace menutest
