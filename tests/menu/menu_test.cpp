// The menu model without Qt: structure and texts, dispatch into the real modules, checks
// and greys that follow them, the Avatar pop-up and the accelerator table.
#include <gtest/gtest.h>

#include <utility>

#include "client/cache/download.h"
#include "client/scene/visible.h"
#include "client/servers/attributes.h"
#include "tests/menu/menu_fixture.h"

using namespace menutest;

namespace {

using Pop = std::pair<int, std::vector<std::pair<int, int>>>;  // title, (id, message)

const std::vector<Pop> kExpected = {
    {451, {{101, 452}}},
    {457, {{106, 458}, {107, 459}, {0, 0}, {128, 460}, {0, 0}, {146, 461}, {147, 462}, {0, 0}, {144, 463}}},
    {464, {{124, 465}, {125, 466}, {131, 467}, {0, 0}, {126, 468}, {127, 469}}},
    {470, {{150, 471}, {149, 472}, {151, 473}, {152, 474}}},
    {475, {{119, 476}, {120, 477}, {121, 478}, {122, 479}, {123, 480}, {132, 481}, {133, 482},
           {129, 483}, {130, 484}, {141, 485}}},
    {486, {{103, 487}, {104, 488}, {0, 0}, {145, 489}}},
    {501, {}},
    {490, {{134, 491}, {135, 492}, {136, 493}, {137, 494}, {0, 0}, {138, 495}}},
    {496, {{105, 497}, {0, 0}, {148, 498}, {142, 499}, {0, 0}, {102, 500}}},
};

class Menu : public MenuFixture {};

TEST_F(Menu, BarHasItsItemsIdsAndTexts) {
  EXPECT_EQ(0, menu_title_count());
  ASSERT_EQ(0, menu_init(nullptr, nullptr));
  ASSERT_EQ(9, menu_title_count());
  int items = 0;
  for (int p = 0; p < 9; ++p) {
    SCOPED_TRACE(p);
    EXPECT_EQ(kExpected[p].first, menu_title_message(p));
    EXPECT_STREQ(msg(kExpected[p].first), menu_title_text(p));
    ASSERT_EQ(static_cast<int>(kExpected[p].second.size()), menu_item_count(p));
    for (int i = 0; i < menu_item_count(p); ++i) {
      menu_item_view v{};
      ASSERT_TRUE(menu_item_at(p, i, &v));
      EXPECT_EQ(kExpected[p].second[i].first, v.id);
      EXPECT_EQ(kExpected[p].second[i].second, v.message);
      if (v.id) {
        EXPECT_EQ("m" + std::to_string(v.message), v.text);
        ++items;
      }
    }
  }
  EXPECT_EQ(38, items);
  menu_item_view v{};
  EXPECT_FALSE(menu_item_at(9, 0, &v));
  EXPECT_FALSE(menu_item_at(0, 1, &v));
  EXPECT_FALSE(menu_find(3000, &v));
  // The letters after '&' in bar order, lower-cased, handed to the gesture buttons.
  EXPECT_STREQ("ftvoslawh", menu_reserved_keys());
  ASSERT_EQ(1u, hook_calls.reserved.size());
  EXPECT_EQ("ftvoslawh", hook_calls.reserved[0]);
}

TEST_F(Menu, TextsFollowALanguageChange) {
  menu_init(nullptr, nullptr);
  testutil::write_file(dir + "/Messages/other.tzm", "451 Da&tei\n452 Ende\n146 x\n");
  msg_reset();
  ASSERT_EQ(1, msg_load("other"));
  menu_set_texts();
  EXPECT_STREQ("Da&tei", menu_title_text(0));
  menu_item_view v{};
  ASSERT_TRUE(menu_find(101, &v));
  EXPECT_STREQ("Ende", v.text);
  EXPECT_EQ('t', menu_reserved_keys()[0]);
}

TEST_F(Menu, TeleportCommandsReachTheTeleportModule) {
  menu_init(nullptr, nullptr);
  ASSERT_NO_FATAL_FAILURE(be_in("demo"));
  self_set_position(-3, 1.5, 12.25, -45);
  EXPECT_EQ(0, menu_handle(MENU_SET_HOME));
  EXPECT_STREQ("demo", profile_string("start", "world"));
  EXPECT_STREQ("12.2N 3.0E 1.5a 315", profile_string("start", "location"));
  EXPECT_EQ(0, handle_window(HostEvent{HOST_WM_COMMAND, MENU_HOME, 0, 0}));
  ASSERT_EQ(1u, recorded.posts.size());
  EXPECT_EQ("teleport demo 12.2N 3.0E 1.5a 315", recorded.posts[0]);
  // Ids from 3000 belong to the gesture buttons: not the menu's.
  handle_window(HostEvent{HOST_WM_COMMAND, MENU_GESTURE_FIRST + MENU_HOME, 0, 0});
  EXPECT_EQ(1u, recorded.posts.size());
}

TEST_F(Menu, ShowTogglesFlipTheSettingsAndTheChecks) {
  menu_init(nullptr, nullptr);
  struct Toggle {
    int id;
    const char* key;
  };
  for (Toggle t : {Toggle{MENU_SHOW_POSITION, "position"}, Toggle{MENU_SHOW_ALTITUDE, "altitude"},
                   Toggle{MENU_SHOW_VISIBILITY, "visibility"}, Toggle{MENU_SHOW_CACHE, "cache"},
                   Toggle{MENU_SHOW_DOWNLOADS, "downloads"}, Toggle{MENU_SHOW_TOOLBAR, "toolbar"}}) {
    SCOPED_TRACE(t.key);
    // The check always shows what the setting now says, whichever way the module started.
    menu_handle(t.id);
    int first = profile_int("show", t.key);
    EXPECT_TRUE(first == 0 || first == 1);
    EXPECT_EQ(first == 1, menu_is_checked(t.id));
    menu_handle(t.id);
    EXPECT_EQ(1 - first, profile_int("show", t.key));
    EXPECT_EQ(first == 0, menu_is_checked(t.id));
  }
  // The toolbar toggle rebuilds the gesture buttons.
  EXPECT_EQ(2, hook_calls.gesture_shows);
}

TEST_F(Menu, HistoryItemsFollowTheHistoryAndKioskStopsOnlyBack) {
  teleport_init();
  menu_init(nullptr, nullptr);
  EXPECT_FALSE(menu_is_enabled(MENU_BACK));
  EXPECT_FALSE(menu_is_enabled(MENU_FORWARD));
  ASSERT_NO_FATAL_FAILURE(be_in("demo"));
  teleport_allow_within_world();
  profile_set_string("start", "world", "demo");
  teleport_update();
  for (float x : {2.f, 3.f}) {
    teleport(world_name(), x, 0, x, 0, 1);
    teleport_update();
  }
  ASSERT_EQ(3, history_count());
  EXPECT_TRUE(menu_is_enabled(MENU_BACK));
  EXPECT_FALSE(menu_is_enabled(MENU_FORWARD));
  menu_handle(MENU_BACK);
  EXPECT_EQ(1, history_current());
  EXPECT_TRUE(menu_is_enabled(MENU_FORWARD));
  profile_set_int("special", "kiosk", 1);
  tessel_step_kiosk();
  ASSERT_TRUE(tessel_kiosk());
  menu_handle(MENU_BACK);
  EXPECT_EQ(1, history_current());
  menu_handle(MENU_FORWARD);
  EXPECT_EQ(2, history_current());
}

TEST_F(Menu, IdentityGreysCitizenAndPrivileges) {
  menu_init(nullptr, nullptr);
  EXPECT_TRUE(menu_is_enabled(MENU_CITIZEN));
  EXPECT_TRUE(menu_is_enabled(MENU_PRIVILEGES));
  citizen_set_number(0);
  ASSERT_NE(nullptr, login_hook.menu_identity_changed);
  login_hook.menu_identity_changed();
  EXPECT_FALSE(menu_is_enabled(MENU_CITIZEN));
  EXPECT_FALSE(menu_is_enabled(MENU_PRIVILEGES));
  EXPECT_TRUE(menu_is_enabled(MENU_LOGIN_CITIZEN));
}

TEST_F(Menu, CommandsOfMissingModulesAreGreyedUntilTheirHookIsThere) {
  menu_init(nullptr, nullptr);
  for (int id : {105, 121, 122, 130, 134, 135, 136, 137, 138, 141, 142, 148, 150}) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(menu_is_enabled(id));
    EXPECT_EQ(0, menu_handle(id));  // nothing to call: no crash
  }
  // The world features and universe dialogs are there.
  EXPECT_TRUE(menu_is_enabled(151));
  EXPECT_TRUE(menu_is_enabled(152));
  menu_hook.fps_toggle = [] { hooks->other.push_back("fps"); };
  menu_hook.web_back = [] { hooks->other.push_back("web_back"); return 7; };
  menu_hook.pick_command = [](int id) { hooks->other.push_back("pick " + std::to_string(id)); };
  menu_hook.mouse_as_mover = [] { hooks->other.push_back("mover"); };
  menu_hook.pick_off = [] { hooks->other.push_back("pick_off"); };
  EXPECT_TRUE(menu_is_enabled(121));
  EXPECT_TRUE(menu_is_enabled(134));
  menu_handle(121);
  EXPECT_EQ(7, menu_handle(134));
  menu_handle(140);
  menu_handle(118);
  EXPECT_EQ((std::vector<std::string>{"fps", "web_back", "pick 140", "mover", "pick_off"}),
            hook_calls.other);
  // An item greyed by its module stays greyed with the hook present.
  menu_disable(121);
  EXPECT_FALSE(menu_is_enabled(121));
}

TEST_F(Menu, CameraAndWorldChecksReachTheBar) {
  menu_init(nullptr, nullptr);
  ASSERT_NE(nullptr, world_hook.menu_check);
  ASSERT_NE(nullptr, visible_hook.menu_check);
  ASSERT_NE(nullptr, self_hook.menu_check);
  world_hook.menu_check(MENU_SHOW_CACHE, true);
  EXPECT_TRUE(menu_is_checked(MENU_SHOW_CACHE));
  menu_check(MENU_FIRST_PERSON);
  EXPECT_TRUE(menu_is_checked(MENU_FIRST_PERSON));
  menu_uncheck(MENU_FIRST_PERSON);
  EXPECT_FALSE(menu_is_checked(MENU_FIRST_PERSON));
  // Unknown ids change nothing.
  menu_check(999);
  menu_enable(0);
  EXPECT_FALSE(menu_is_checked(999));
}

TEST_F(Menu, AvatarPopUpForACitizen) {
  offer({"walker", "cy", "zed", "mo", "ann"});
  menu_init(nullptr, nullptr);
  ASSERT_NO_FATAL_FAILURE(be_in("demo"));
  world_set_avatar(3);
  menu_rebuild_avatars();
  EXPECT_EQ((std::vector<std::string>{"Walker", "Cy", "Zed", "Mo", "Ann"}), avatar_texts());
  EXPECT_EQ(5, menu_world_avatar_count());
  EXPECT_EQ(3, menu_avatar_checked());
  EXPECT_TRUE(menu_is_checked(1003));
  // Three rows per column: a new column every two items.
  std::vector<bool> breaks;
  for (int i = 0; i < 5; ++i) {
    menu_item_view v{};
    menu_item_at(MENU_AVATAR_POSITION, i, &v);
    breaks.push_back(v.column_break);
  }
  EXPECT_EQ((std::vector<bool>{false, false, true, false, true}), breaks);
  // Choosing through the window's commands: the world is told, the type set, gestures redone.
  menu_handle(1001);
  EXPECT_EQ(1, world_avatar());
  EXPECT_FALSE(menu_is_checked(1003));
  EXPECT_TRUE(menu_is_checked(1001));
  EXPECT_EQ((std::vector<int>{1}), hook_calls.types);
  EXPECT_EQ(1, hook_calls.gesture_shows);
  // The checked item and ids outside the items are ignored.
  menu_handle(1001);
  menu_handle(1005);
  menu_handle(999);
  EXPECT_EQ(1u, hook_calls.types.size());
  // A stored number beyond the offer falls back to the first.
  world_set_avatar(9);
  hook_calls.types.clear();
  menu_rebuild_avatars();
  EXPECT_EQ(0, menu_avatar_checked());
  EXPECT_EQ((std::vector<int>{0}), hook_calls.types);
  menu_reset_avatars();
  EXPECT_EQ(0, menu_avatar_count());
  EXPECT_EQ(-1, menu_avatar_checked());
}

TEST_F(Menu, PublicSpeakerGetsFiveExtrasAndKeepsASpecialType) {
  offer({"walker", "cy", "zed"});
  menu_init(nullptr, nullptr);
  ASSERT_NO_FATAL_FAILURE(be_in("demo"));
  world_set_avatar(253);
  menu_rebuild_avatars();
  EXPECT_EQ(0, menu_avatar_checked());  // 253 without the flag
  ASSERT_NE(nullptr, world_hook.menu_set_public_speaker);
  hook_calls.types.clear();
  // The world grants the right: numbers above 250 are then kept.
  attribute_set(ATTR_PUBLIC_SPEAKER, "Y", 1);
  world_set_avatar(253);
  world_hook.menu_set_public_speaker(1);
  EXPECT_TRUE(menu_public_speaker());
  EXPECT_EQ((std::vector<std::string>{"Walker", "Cy", "Zed", "special1", "special2", "special3",
                                      "special4", "special5"}),
            avatar_texts());
  EXPECT_EQ(5, menu_avatar_checked());  // "special3"
  EXPECT_TRUE(menu_is_checked(1005));
  EXPECT_EQ((std::vector<int>{253}), hook_calls.types);
  // An extra item is sent as 251 + k.
  menu_select_avatar(1007);
  EXPECT_EQ(255, world_avatar());
  EXPECT_EQ(255, hook_calls.types.back());
  // The same flag again does not rebuild.
  menu_select_avatar(1003);
  world_hook.menu_set_public_speaker(1);
  EXPECT_EQ(3, menu_avatar_checked());
}

// A world listing 62,000 avatars: the menu offers the 251 an avatar number can choose, then
// the speaker's five extras, each still sent as its own number.
TEST_F(Menu, AHugeAvatarListGivesTheItemsAnAvatarNumberReaches) {
  std::vector<std::string> names;
  for (int i = 0; i < 62000; ++i) names.push_back("a" + std::to_string(i));
  offer(names);
  menu_init(nullptr, nullptr);
  ASSERT_NO_FATAL_FAILURE(be_in("demo"));
  attribute_set(ATTR_PUBLIC_SPEAKER, "Y", 1);
  world_hook.menu_set_public_speaker(1);
  std::vector<std::string> texts = avatar_texts();
  ASSERT_EQ(256u, texts.size());
  EXPECT_EQ("A250", texts[250]);
  EXPECT_EQ("special1", texts[251]);
  menu_select_avatar(1250);
  EXPECT_EQ(250, world_avatar());
  menu_select_avatar(1251);
  EXPECT_EQ(251, world_avatar());
}

TEST_F(Menu, TouristSeesAtMostTwoAvatarsAndFallsBackToTheFirst) {
  offer({"walker", "cy", "zed", "mo"});
  menu_init(nullptr, nullptr);
  ASSERT_NO_FATAL_FAILURE(be_in("demo"));
  citizen_set_number(0);
  world_set_avatar(3);
  menu_set_public_speaker(1);
  EXPECT_EQ((std::vector<std::string>{"Walker", "Cy"}), avatar_texts());
  EXPECT_EQ(0, menu_avatar_checked());
  // A world offering a single avatar: no invented item for a tourist.
  offer({"walker"});
  menu_rebuild_avatars();
  EXPECT_EQ((std::vector<std::string>{"Walker"}), avatar_texts());
  menu_handle(1001);
  EXPECT_EQ(0, menu_avatar_checked());
  // Nothing offered: nothing checked, nothing to choose.
  offer({});
  menu_rebuild_avatars();
  EXPECT_EQ(0, menu_avatar_count());
  EXPECT_EQ(-1, menu_avatar_checked());
  menu_handle(1000);
  EXPECT_EQ(-1, menu_avatar_checked());
}

TEST_F(Menu, OneRowPerColumnDoesNotDivideByZero) {
  offer({"a", "b", "c"});
  menu_init(nullptr, nullptr);
  menu_set_rows_per_column(1);
  menu_rebuild_avatars();
  EXPECT_EQ(3, menu_avatar_count());
}

TEST(MenuAccelerators, FunctionKeysMapToTheirCommands) {
  size_t n = 0;
  const menu_accelerator* a = menu_accelerators(&n);
  ASSERT_EQ(8u, n);
  std::vector<std::pair<int, int>> got;
  for (size_t i = 0; i < n; ++i) got.push_back({a[i].key, a[i].id});
  EXPECT_EQ((std::vector<std::pair<int, int>>{{0x70, 105}, {0x71, 120}, {0x72, 123}, {0x73, 122},
                                              {0x74, 132}, {0x75, 133}, {0x7A, 119}, {0x7B, 121}}),
            got);
  EXPECT_EQ(120, menu_accelerator_command(0x71));
  EXPECT_EQ(121, menu_accelerator_command(0x7B));
  EXPECT_EQ(0, menu_accelerator_command(0x76));  // F7
  EXPECT_EQ(0, menu_accelerator_command(0x41));
}

}  // namespace
