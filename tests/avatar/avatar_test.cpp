// Avatars announced by the fake world server over loopback: added, moved and deleted with
// their positions and types, the near/far split, far models stepping to a new place, chat
// balloons, muting, the own position sent, and the own avatar joined to the animation library.
#include <gtest/gtest.h>

#include <memory>

#include "client/core/identity.h"
#include "client/scene/anim_link.h"
#include "client/scene/self.h"
#include "tests/avatar/avatar_fixture.h"

using namespace avtest;
using wtest::FakeProcess;

namespace {

class AvatarWorld : public wtest::WithFakes<AvatarFixture> {
 protected:
  void SetUp() override {
    ini = "[performance]\navatars=1\n[chat]\nnear=12\n";
    AvatarFixture::SetUp();
  }
  void start(const std::string& world_config) {
    ASSERT_NO_FATAL_FAILURE(WithFakes::start(world_config));
    // The world module's own hooks were recorded by the world fixture: ours take the avatars.
    world_hook.avatar_add = avatar_add;
    world_hook.avatar_delete = avatar_delete;
    world_hook.avatar_position = avatar_position;
    world_hook.avatar_message = [](int kind, int session, const char* text) { avatar_message(session, text, kind); };
    world_hook.avatar_delete_all = avatar_delete_all;
    ASSERT_EQ(0, world_enter("demo"));
    ASSERT_TRUE(wtest::poll_until([] {
      step();
      return world_state() == WORLD_IN;
    }));
  }
  static void step() {
    universe_update();
    world_update();
  }
  void command(const std::string& line) {
    world->command(line);
    world->wait_for("ok", step);
  }
  // Frames of the avatar task, each ms after the last.
  void frames(int n, uint32_t ms = 20) {
    for (int i = 0; i < n; ++i) {
      wtest::fake_now += ms;
      avatar_frame_update();
    }
  }
  // The avatar of `session` once the frames have taken it in, or null if it never came.
  static avatar_record* arrived(int session) {
    wtest::poll_until([session] {
      step();
      return avatar_find(session) != nullptr;
    });
    return avatar_find(session);
  }
  static VxVector far_origin(avatar_record* a) {
    VxVector o{-1, -1, -1};
    VxClump* c = a && a->far_model ? model_clump(a->far_model) : nullptr;
    if (c) VxGetClumpOrigin(c, &o);
    return o;
  }
};

TEST_F(AvatarWorld, RepliesAddMoveAndDeleteAvatarsWithTheirPlacesAndTypes) {
  ASSERT_NO_FATAL_FAILURE(
      start(R"({"mode":"new","avatars":[{"session":7,"name":"bob","x":1000,"y":250,"z":-2000,"yaw":900,"type":3,"gesture":2}]})"));
  avatar_record* bob = arrived(7);
  ASSERT_NE(nullptr, bob);
  EXPECT_STREQ("bob", bob->name);
  EXPECT_FLOAT_EQ(1.0f, bob->x);
  EXPECT_FLOAT_EQ(0.25f, bob->y);
  EXPECT_FLOAT_EQ(-2.0f, bob->z);
  EXPECT_FLOAT_EQ(90.0f, bob->yaw);
  EXPECT_EQ(3, bob->type);
  EXPECT_EQ(2, bob->gesture);
  ASSERT_NE(nullptr, bob->scene);
  EXPECT_EQ(1, VxGetSceneNumLights(bob->scene));

  // A name past 18 characters is cut; a second add of a present session changes nothing.
  command(R"(avatar 1 {"session":9,"name":"abcdefghijklmnopqrstuvwxyz","x":5,"y":6,"z":7,"yaw":-10,"type":1,"gesture":0})");
  command(R"(avatar 1 {"session":9,"name":"other","x":0,"y":0,"z":0,"yaw":0,"type":0,"gesture":0})");
  ASSERT_TRUE(wtest::poll_until([] {
    step();
    return avatar_count() == 2;
  }));
  wtest::poll_until([] { step(); return false; }, 150);
  EXPECT_STREQ("abcdefghijklmnopqr", avatar_find(9)->name);
  EXPECT_FLOAT_EQ(0.005f, avatar_find(9)->x);
  EXPECT_FLOAT_EQ(-1.0f, avatar_find(9)->yaw);
  EXPECT_EQ(9, avatar_addr_from_name("abcdefghijklmnopqr"));
  EXPECT_EQ(0, avatar_addr_from_name("other"));

  // Reply 4: session 7 to (-3000, 0, 4500), yaw 1800, type 5, gesture 1.
  command("reply 1 4 0007fffff448000000000000119407080501");
  ASSERT_TRUE(wtest::poll_until([bob] {
    step();
    return bob->x < 0;
  }));
  EXPECT_FLOAT_EQ(-3.0f, bob->x);
  EXPECT_FLOAT_EQ(4.5f, bob->z);
  EXPECT_FLOAT_EQ(180.0f, bob->yaw);
  EXPECT_EQ(5, bob->type);
  EXPECT_EQ(1, bob->gesture);
  // An unknown session's move is ignored.
  command("reply 1 4 0063000000000000000000000000000000000000");

  command("reply 1 3 0007");
  ASSERT_TRUE(wtest::poll_until([] {
    step();
    return avatar_find(7) == nullptr;
  }));
  EXPECT_EQ(1, avatar_count());
}

TEST_F(AvatarWorld, TheOwnPositionIsSentOnlyWhenItChanges) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"new"})"));
  self_set_position(1.5, 0.25, -2, 45);
  frames(1);
  // Request 8: x 1500, y 250, z -2000, yaw 450, type 0, gesture 0.
  EXPECT_EQ("frame 1 08000005dc000000fafffff83001c20000", world->wait_for("frame", step));
  frames(100, 20);
  for (const std::string& l : world->collect(200, step)) EXPECT_EQ(std::string::npos, l.find("frame 1 08")) << l;
  avatar_set_type(4);
  frames(1);
  EXPECT_EQ("frame 1 08000005dc000000fafffff83001c20400", world->wait_for("frame", step));
}

// A settings file that names neither [performance] avatars nor zembrels, as a fresh program
// directory has: both mean on.
class AvatarDefaults : public AvatarWorld {
 protected:
  void SetUp() override {
    ini = "";
    AvatarFixture::SetUp();
  }
};

TEST_F(AvatarDefaults, OtherUsersWalkAnimatedInTheirOwnTypes) {
  ASSERT_NO_FATAL_FAILURE(
      start(R"({"mode":"new","avatars":[{"session":7,"name":"bob","x":1000,"y":0,"z":2000,"yaw":0,"type":3,"gesture":0}]})"));
  avatar_record* bob = arrived(7);
  ASSERT_NE(nullptr, bob);
  EXPECT_EQ(3, bob->type);
  frames(1);
  ASSERT_NE(nullptr, bob->anim);
  auto* anim = static_cast<AnimAvatar*>(bob->anim);
  EXPECT_EQ(1, AnimGetAvatarMotion(anim));  // standing where it appeared

  // Reply 4: bob to (-3000, 0, 4500) as type 5: it walks there in its new type.
  command("reply 1 4 0007fffff448000000000000119407080501");
  ASSERT_TRUE(wtest::poll_until([bob] {
    step();
    return bob->x < 0;
  }));
  EXPECT_EQ(5, bob->type);
  frames(2, 100);
  EXPECT_EQ(3, AnimGetAvatarMotion(anim));  // walking
}

TEST_F(AvatarWorld, TheTwelveNearestAreAnimatedAndTheRestShowTheFarModel) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"new"})"));
  for (int i = 1; i <= 20; ++i) avatar_add(i, "a", i * 10000, 0, 0, 0, 0, 0);
  frames(1);
  for (int i = 1; i <= 20; ++i) {
    avatar_record* a = avatar_find(i);
    if (i <= 12) {
      EXPECT_NE(nullptr, a->anim) << i;
      EXPECT_EQ(nullptr, a->far_model) << i;
    } else {
      EXPECT_EQ(nullptr, a->anim) << i;
      ASSERT_NE(nullptr, a->far_model) << i;
      EXPECT_EQ(model_find("avatars", "far.vxx"), a->far_model->model) << i;
    }
  }
  // Avatar 20 comes nearest: the split is made again at the next add.
  avatar_position(20, 500, 0, 0, 0, 0, 0);
  avatar_position(1, 300000, 0, 0, 0, 0, 0);
  frames(6);  // the far model steps there
  EXPECT_NE(nullptr, avatar_find(1)->anim);  // not yet recomputed
  avatar_add(21, "b", 400000, 0, 0, 0, 0, 0);
  frames(1);
  EXPECT_NE(nullptr, avatar_find(20)->anim);
  EXPECT_NE(nullptr, avatar_find(1)->far_model);
  EXPECT_NE(nullptr, avatar_find(21)->far_model);
}

TEST_F(AvatarWorld, AFarAvatarReachesItsNewPlaceInExactlyFiveFrames) {
  profile_set_int("chat", "near", 0);
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"new"})"));
  avatar_add(5, "far", 2000, 0, 3000, 900, 0, 0);
  frames(1);
  avatar_record* a = avatar_find(5);
  ASSERT_NE(nullptr, a->far_model);
  VxVector o = far_origin(a);
  EXPECT_FLOAT_EQ(2.0f, o.x);
  EXPECT_FLOAT_EQ(3.0f, o.z);
  avatar_position(5, 7000, 1000, 3000, 900, 0, 0);
  frames(4);
  o = far_origin(a);
  EXPECT_FLOAT_EQ(6.0f, o.x);
  EXPECT_LT(o.y, 1.0f);
  frames(1);
  o = far_origin(a);
  EXPECT_FLOAT_EQ(7.0f, o.x);
  EXPECT_FLOAT_EQ(1.0f, o.y);
  frames(3);
  EXPECT_FLOAT_EQ(7.0f, far_origin(a).x);
}

TEST_F(AvatarWorld, AChatLineShowsInTheBalloonForThirtySecondsAndMutedLinesNowhere) {
  ASSERT_NO_FATAL_FAILURE(
      start(R"({"mode":"new","avatars":[{"session":7,"name":"bob","x":0,"y":0,"z":0,"yaw":0,"type":0,"gesture":0},)"
            R"({"session":8,"name":"\"guest","x":0,"y":0,"z":0,"yaw":0,"type":0,"gesture":0}]})"));
  ASSERT_TRUE(wtest::poll_until([] {
    step();
    return avatar_count() == 2;
  }));
  EXPECT_TRUE(seen_.balloons.empty());  // no rights: no name balloons yet
  command("chat 1 7 hello there");
  ASSERT_TRUE(wtest::poll_until([this] {
    step();
    return !seen_.console.empty();
  }));
  EXPECT_EQ("0 bob: hello there", seen_.console.at(0));
  balloon* b = avatar_find(7)->balloon_handle;
  ASSERT_NE(nullptr, b);
  EXPECT_EQ("bob: hello there", seen_.balloons[b]);
  frames(1, 29000);
  EXPECT_EQ("bob: hello there", seen_.balloons[b]);
  frames(1, 1500);
  EXPECT_EQ("bob", seen_.balloons[b]);

  avatar_message(8, "hi", 1);  // a tourist's line
  EXPECT_EQ("6 \"guest: hi", seen_.console.back());

  avatar_set_muted(7, true);
  size_t before = seen_.console.size();
  avatar_message(7, "secret", 0);
  EXPECT_EQ(before, seen_.console.size());
  EXPECT_EQ(std::string("bob: ") + msg(249), seen_.balloons[b]);
  EXPECT_EQ(std::string::npos, seen_.balloons[b].find("secret"));
  // Deleting frees the balloon; a later add of the spoken session gets a name balloon at once.
  avatar_delete(7);
  EXPECT_EQ(0u, seen_.balloons.count(b));
  avatar_add(7, "bob", 0, 0, 0, 0, 0, 0);
  ASSERT_NE(nullptr, avatar_find(7)->balloon_handle);
  EXPECT_EQ("bob", seen_.balloons[avatar_find(7)->balloon_handle]);
}

// The user's chat line while the world connection is lost, or while its new login waits for
// an answer: nothing is shown as said, the console says it was not sent, and nothing of it
// reaches the world.
TEST_F(AvatarWorld, AChatLineThatCannotGoIsShownAsNotSentNeverAsSaid) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"new","silent_after_logins":1})"));
  const std::string own = std::string(citizen_name()) + ": ";
  EXPECT_EQ(0, avatar_broadcast_message("first"));
  EXPECT_EQ("frame 1 07056669727374", world->wait_for("frame 1 07", step));
  ASSERT_FALSE(seen_.console.empty());
  EXPECT_NE(std::string::npos, seen_.console.back().find(own + "first"));
  auto said = [&](const std::string& text) {
    for (const std::string& l : seen_.console)
      if (l.find(own + text) != std::string::npos) return true;
    return false;
  };
  // The connection is lost.
  world->command("drop 1");
  ASSERT_TRUE(wtest::poll_until([] {
    step();
    return world_state() != WORLD_IN;
  }));
  EXPECT_NE(0, avatar_broadcast_message("lost"));
  EXPECT_FALSE(said("lost"));
  EXPECT_EQ("3 m160: m600 lost", seen_.console.back());
  // Connected again, the login waits for an answer that does not come.
  wtest::fake_now += WORLD_RETRY_INTERVAL + 1;
  EXPECT_EQ(0u, world->wait_for("login 2", step).rfind("login 2", 0));
  ASSERT_EQ(WORLD_LOGIN_SENT, world_state());
  EXPECT_NE(0, avatar_broadcast_message("waiting"));
  EXPECT_FALSE(said("waiting"));
  EXPECT_EQ("3 m160: m600 waiting", seen_.console.back());
  for (const std::string& l : world->collect(300, step)) EXPECT_EQ(std::string::npos, l.find(" 07")) << l;
}

TEST_F(AvatarWorld, TheEjectRightGivesEveryAvatarANameBalloon) {
  avatar_add(1, "ann", 0, 0, 0, 0, 0, 0);
  avatar_add(2, "ben", 0, 0, 0, 0, 0, 0);
  EXPECT_TRUE(seen_.balloons.empty());
  avatar_set_eject_right(1);
  ASSERT_EQ(2u, seen_.balloons.size());
  EXPECT_EQ("ann", seen_.balloons[avatar_find(1)->balloon_handle]);
  avatar_delete_all();
  EXPECT_EQ(0, avatar_count());
  EXPECT_TRUE(seen_.balloons.empty());
}

TEST_F(AvatarWorld, TheOldProtocolDropsTheTableAndHandsOverToThePeers) {
  avatar_add(1, "ann", 0, 0, 0, 0, 0, 0);
  avatar_set_old_protocol(1);
  EXPECT_EQ(0, avatar_count());
  avatar_add(2, "ben", 0, 0, 0, 0, 0, 0);  // no table: ignored
  EXPECT_EQ(nullptr, avatar_find(2));
  avatar_set_type(6);
  EXPECT_EQ(6, avatar_peer_type());
  EXPECT_EQ(6, avatar_type());
  avatar_set_old_protocol(0);
  avatar_add(2, "ben", 0, 0, 0, 0, 0, 0);
  EXPECT_NE(nullptr, avatar_find(2));
}

// The own avatar: with the animation library joined it is made in the own scene.
TEST_F(AvatarFixture, TheOwnAvatarIsCreatedInTheOwnSceneThroughTheLibrary) {
  static void* created = nullptr;
  static void* (*real_create)(void*, int, int) = nullptr;
  anim_link_init();
  real_create = self_hook.anim_create;
  ASSERT_NE(nullptr, real_create);
  self_hook.anim_create = [](void* owner, int other, int anims) -> void* {
    created = real_create(owner, other, anims);
    return created;
  };
  ASSERT_EQ(0, self_init(nullptr));
  self_create_avatar();  // as the world change does
  ASSERT_NE(nullptr, created);
  auto* model = static_cast<model_instance*>(AnimGetAvatarModel(static_cast<AnimAvatar*>(created)));
  ASSERT_NE(nullptr, model);
  VxClump* clump = self_hook.anim_clump(created);
  ASSERT_NE(nullptr, clump);
  EXPECT_EQ(model_clump(model), clump);
  EXPECT_EQ(self_scene(), VxGetClumpScene(clump));
  // The height comes from the model; until it is measured, the default.
  float h = 0;
  if (model_height(model, &h) && h < MODEL_UNKNOWN)
    EXPECT_FLOAT_EQ(h, self_height());
  else
    EXPECT_FLOAT_EQ(SELF_DEFAULT_HEIGHT, self_height());
  self_destroy_avatar();
  self_reset_for_test();
  self_hook = self_hooks{};
}

}  // namespace
