#pragma once
// The world fixture with the engine, the models and the avatar module started, balloons and
// the console recorded through the avatar hooks.
#include <map>
#include <string>
#include <vector>

#include "Zembrel/Pose/Anim/anim.h"
#include "client/scene/avatar.h"
#include "client/scene/avatar_peer.h"
#include "client/scene/model.h"
#include "engine/vxl21.h"
#include "tests/world/world_test_util.h"

namespace avtest {

struct Seen {
  std::map<balloon*, std::string> balloons;  // balloon -> its text
  std::vector<std::string> console;
  int next = 1;
};
inline Seen* seen = nullptr;

inline avatar_hooks recording_hooks() {
  avatar_hooks h{};
  h.balloon_create = []() -> balloon* {
    auto* b = reinterpret_cast<balloon*>(static_cast<uintptr_t>(seen->next++ * 16));
    seen->balloons[b] = "";
    return b;
  };
  h.balloon_destroy = [](balloon* b) { seen->balloons.erase(b); };
  h.balloon_set_text = [](balloon* b, const char* t) { seen->balloons[b] = t; };
  h.console_print = [](int kind, const char* line) { seen->console.push_back(std::to_string(kind) + " " + line); };
  return h;
}

class AvatarFixture : public wtest::WorldFixture {
 protected:
  void SetUp() override {
    wtest::WorldFixture::SetUp();
    ASSERT_TRUE(VxInitialize(nullptr));
    ASSERT_EQ(1, model_init());
    seen = &seen_;
    ASSERT_EQ(0, avatar_init(nullptr));
    avatar_hook = recording_hooks();
    avatar_reset();
    avatar_list_load(nullptr);
  }
  void TearDown() override {
    // The own avatar made by one case (a position set, a world change) must not outlive it.
    self_reset_for_test();
    avatar_reset_for_test();
    avatar_hook = avatar_hooks{};
    AnimSetCallbacks(nullptr);
    seen = nullptr;
    model_term();
    VxShutdown();
    wtest::WorldFixture::TearDown();
  }
  Seen seen_;
};

}  // namespace avtest
