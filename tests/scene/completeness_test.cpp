// The running program is whole: after the 3D start with the program's own wiring every
// module's hook table is filled, and the start-up, 3D-start, shutdown, reset and task tables
// hold exactly their full rows in order. Rows and entries of modules not in the program yet
// are named below as gaps; a gap that gets filled must leave the list.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include <sys/utsname.h>
#include <unistd.h>

#include "client/app/command.h"
#include "client/app/frame.h"
#include "client/core/keys.h"
#include "client/core/os.h"
#include "client/scene/sound.h"
#include "client/shell/gesture.h"
#include "client/shell/toolbar.h"
#include "client/cache/download.h"
#include "client/cache/picture.h"
#include "client/core/files.h"
#include "client/scene/avatar.h"
#include "client/scene/behavior.h"
#include "client/scene/collide.h"
#include "client/scene/model.h"
#include "client/scene/pdialog.h"
#include "client/scene/pick.h"
#include "client/scene/prop.h"
#include "client/scene/self.h"
#include "client/scene/visible.h"
#include "client/servers/history.h"
#include "client/servers/immigrate.h"
#include "client/servers/join.h"
#include "client/servers/login.h"
#include "client/servers/privilege.h"
#include "client/servers/signup.h"
#include "client/servers/teleport.h"
#include "client/servers/world.h"
#include "client/servers/worlds.h"
#include "client/core/identity.h"
#include "client/shell/help.h"
#include "client/shell/slider.h"
#include "client/shell/telegram.h"
#include "client/shell/view_click.h"
#include "client/shell/web.h"
#include "../support/test_util.h"
#include "scene_fixture.h"

namespace {

struct Entry {
  std::string name;
  bool filled;
};
struct Table {
  const char* name;
  std::vector<Entry> entries;
};

#define HOOK(table, entry) Entry{#table "." #entry, table.entry != nullptr}

// Read at the moment of the call, after the program's start.
std::vector<Table> hook_tables() {
  return {
    {"sound_hook", {HOOK(sound_hook, dloptions_audio), HOOK(sound_hook, own_position)}},
    {"picture_hook", {HOOK(picture_hook, dloptions_pictures)}},
    {"download_hook", {HOOK(download_hook, console_print), HOOK(download_hook, server_back)}},
    {"file_hook", {HOOK(file_hook, touched)}},
    {"avatar_hook", {HOOK(avatar_hook, balloon_create), HOOK(avatar_hook, balloon_destroy), HOOK(avatar_hook, balloon_set_text), HOOK(avatar_hook, balloon_set_position), HOOK(avatar_hook, console_print), HOOK(avatar_hook, menu_rebuild), HOOK(avatar_hook, menu_clear), HOOK(avatar_hook, gesture_show)}},
    {"prop_hook", {HOOK(prop_hook, console_print), HOOK(prop_hook, avatar_set_old), HOOK(prop_hook, pick_object_gone), HOOK(prop_hook, eject_result)}},
    {"driver_hook", {HOOK(driver_hook, perform_directdraw), HOOK(driver_hook, perform_try_directdraw), HOOK(driver_hook, perform_clear_directdraw)}},
    {"behavior_hook", {HOOK(behavior_hook, web_navigate), HOOK(behavior_hook, sign_create), HOOK(behavior_hook, mouse_is_mover), HOOK(behavior_hook, mouse_is_picker), HOOK(behavior_hook, mouse_as_picker), HOOK(behavior_hook, pick_off)}},
    {"self_hook", {HOOK(self_hook, anim_create), HOOK(self_hook, anim_destroy), HOOK(self_hook, anim_set_state), HOOK(self_hook, anim_update), HOOK(self_hook, anim_position), HOOK(self_hook, anim_model_height), HOOK(self_hook, anim_clump), HOOK(self_hook, avatar_type), HOOK(self_hook, pick_off), HOOK(self_hook, pick_selected), HOOK(self_hook, mouse_is_mover), HOOK(self_hook, mouse_delta), HOOK(self_hook, menu_check), HOOK(self_hook, pane_add), HOOK(self_hook, pane_remove), HOOK(self_hook, pane_text), HOOK(self_hook, set_title), HOOK(self_hook, ground_ready)}},
    {"pick_hook", {HOOK(pick_hook, key_clear), HOOK(pick_hook, console_print)}},
    {"collide_hook", {HOOK(collide_hook, visible_start), HOOK(collide_hook, visible_next), HOOK(collide_hook, element_solid), HOOK(collide_hook, behavior_trigger), HOOK(collide_hook, ground_clump)}},
    {"pdialog_hook", {HOOK(pdialog_hook, menu_handle)}},
    {"model_hook", {HOOK(model_hook, sign_destroy), HOOK(model_hook, sign_redraw), HOOK(model_hook, animation_destroy), HOOK(model_hook, animation_apply), HOOK(model_hook, picture_destroy), HOOK(model_hook, picture_reload), HOOK(model_hook, console_print)}},
    {"visible_hook", {HOOK(visible_hook, frame_rate), HOOK(visible_hook, perform_visibility), HOOK(visible_hook, perform_framerate), HOOK(visible_hook, pane_show), HOOK(visible_hook, pane_text), HOOK(visible_hook, menu_check)}},
    {"menu_hook", {HOOK(menu_hook, avatar_set_type), HOOK(menu_hook, gesture_set_reserved_shortcuts), HOOK(menu_hook, gesture_show), HOOK(menu_hook, pick_command), HOOK(menu_hook, mouse_as_mover), HOOK(menu_hook, pick_off), HOOK(menu_hook, tab_show_help), HOOK(menu_hook, fps_toggle), HOOK(menu_hook, bps_toggle), HOOK(menu_hook, web_toggle), HOOK(menu_hook, web_back), HOOK(menu_hook, web_forward), HOOK(menu_hook, web_stop), HOOK(menu_hook, web_refresh), HOOK(menu_hook, web_get_url), HOOK(menu_hook, vrt_toggle), HOOK(menu_hook, help_registration), HOOK(menu_hook, help_with_help), HOOK(menu_hook, psheet), HOOK(menu_hook, worldopts_dialog), HOOK(menu_hook, admin_universe)}},
    {"view_click_hook", {HOOK(view_click_hook, web_navigate), HOOK(view_click_hook, avatar_popup_menu), HOOK(view_click_hook, mouse_is_mover), HOOK(view_click_hook, mouse_as_picker)}},
    {"slider_hook", {HOOK(slider_hook, top_height), HOOK(slider_hook, bottom_height), HOOK(slider_hook, web_shown), HOOK(slider_hook, relayout)}},
    {"web_hook", {HOOK(web_hook, menu_check), HOOK(web_hook, menu_enable), HOOK(web_hook, relayout), HOOK(web_hook, toolbar_show_button), HOOK(web_hook, toolbar_hide_button), HOOK(web_hook, toolbar_enable), HOOK(web_hook, toolbar_disable)}},
    {"help_hook", {HOOK(help_hook, menu_enable)}},
    {"identity_hook", {HOOK(identity_hook, chat_set_balloon), HOOK(identity_hook, privilege_number), HOOK(identity_hook, attribute_set)}},
    {"telegram_hook", {HOOK(telegram_hook, console_print)}},
    {"join_hook", {HOOK(join_hook, console_print), HOOK(join_hook, contacts_lookup_name), HOOK(join_hook, privacy_join), HOOK(join_hook, privacy_verify), HOOK(join_hook, self_x), HOOK(join_hook, self_y), HOOK(join_hook, self_z), HOOK(join_hook, self_yaw), HOOK(join_hook, world_name), HOOK(join_hook, teleport)}},
    {"immigrate_hook", {HOOK(immigrate_hook, tessel_background), HOOK(immigrate_hook, tessel_foreground), HOOK(immigrate_hook, register_dialog)}},
    {"register_hook", {HOOK(register_hook, tessel_background), HOOK(register_hook, tessel_foreground), HOOK(register_hook, toolbar_height), HOOK(register_hook, button_create), HOOK(register_hook, button_destroy)}},
    {"world_hook", {HOOK(world_hook, teleport_apply), HOOK(world_hook, teleport_pending), HOOK(world_hook, history_back), HOOK(world_hook, history_set_world), HOOK(world_hook, worlds_mark_current), HOOK(world_hook, gesture_show), HOOK(world_hook, prop_reset), HOOK(world_hook, prop_set_old), HOOK(world_hook, prop_request_result), HOOK(world_hook, prop_receive_cell), HOOK(world_hook, prop_live_add), HOOK(world_hook, prop_live_delete), HOOK(world_hook, prop_query_restart), HOOK(world_hook, prop_query_done), HOOK(world_hook, oldprop_set_connection), HOOK(world_hook, oldprop_reset), HOOK(world_hook, avatar_delete_all), HOOK(world_hook, avatar_load_list), HOOK(world_hook, avatar_add), HOOK(world_hook, avatar_delete), HOOK(world_hook, avatar_position), HOOK(world_hook, avatar_message), HOOK(world_hook, console_print), HOOK(world_hook, chat_avatars), HOOK(world_hook, general_rating), HOOK(world_hook, status_show), HOOK(world_hook, status_text), HOOK(world_hook, menu_check), HOOK(world_hook, backdrop_set), HOOK(world_hook, ground_set), HOOK(world_hook, camera_set_color), HOOK(world_hook, self_invalidate_title), HOOK(world_hook, avatar_set_public_speaker), HOOK(world_hook, menu_set_public_speaker), HOOK(world_hook, web_navigate), HOOK(world_hook, self_pass_through), HOOK(world_hook, self_flying), HOOK(world_hook, teleport_within_world), HOOK(world_hook, pick_building), HOOK(world_hook, self_set_position), HOOK(world_hook, avatar_set_eject_right), HOOK(world_hook, visible_set_load_factor)}},
    {"login_hook", {HOOK(login_hook, citizen_set_name), HOOK(login_hook, citizen_set_password), HOOK(login_hook, citizen_store_number), HOOK(login_hook, menu_identity_changed), HOOK(login_hook, about_hide), HOOK(login_hook, upgrade_check), HOOK(login_hook, upgrade_offered), HOOK(login_hook, upgrade_offer), HOOK(login_hook, privilege_requested_number), HOOK(login_hook, privilege_result), HOOK(login_hook, privilege_reset), HOOK(login_hook, tessel_background), HOOK(login_hook, tessel_foreground), HOOK(login_hook, prompt_text)}},
    {"history_hook", {HOOK(history_hook, menu_enable), HOOK(history_hook, toolbar_enable)}},
    {"teleport_hook", {HOOK(teleport_hook, self_set_position), HOOK(teleport_hook, self_get_x), HOOK(teleport_hook, self_get_y), HOOK(teleport_hook, self_get_z), HOOK(teleport_hook, self_get_yaw), HOOK(teleport_hook, self_flying), HOOK(teleport_hook, self_set_flying), HOOK(teleport_hook, self_position_text), HOOK(teleport_hook, behavior_post), HOOK(teleport_hook, sound_effect), HOOK(teleport_hook, console_print), HOOK(teleport_hook, prompt_text_small)}},
    {"worlds_hook", {HOOK(worlds_hook, teleport), HOOK(worlds_hook, teleport_dialog), HOOK(worlds_hook, set_focus), HOOK(worlds_hook, current_world), HOOK(worlds_hook, kiosk)}},
    {"privilege_hook", {HOOK(privilege_hook, console_print), HOOK(privilege_hook, tessel_background), HOOK(privilege_hook, tessel_foreground)}},
  };
}

// Entries the program leaves null on purpose.
const std::set<std::string> kHookGaps = {};

class Completeness : public SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(link_driver("VXDL8D21"));
    write_file(dir_.file("tessel.ini"), "[display]\ndepth=1\n");
    mkdir(dir_.file("Messages").c_str(), 0755);
    write_file(dir_.file("Messages/default.tzm"), kSceneMessages);
  }
};

}  // namespace

TEST_F(Completeness, EveryHookEntryIsFilledAfterThe3dStart) {
  app_install();
  ASSERT_NE(tessel_init(0, "", 1), 0);
  tessel_set_frame_state(FRAME_START_3D);
  tessel_frame();
  ASSERT_EQ(tessel_frame_state(), FRAME_RUNNING);
  std::set<std::string> seen;
  for (const Table& t : hook_tables()) {
    for (const Entry& e : t.entries) {
      seen.insert(e.name);
      if (kHookGaps.count(e.name))
        EXPECT_FALSE(e.filled) << e.name << " is filled now: take it off the gap list";
      else
        EXPECT_TRUE(e.filled) << t.name << ": entry " << e.name << " is null";
    }
  }
  for (const std::string& g : kHookGaps) EXPECT_TRUE(seen.count(g)) << "unknown gap " << g;
}

// --- What the filled entries do in the started program ---

namespace {

// The gesture row as the Qt layer would make it: it records the sign-up buttons it makes.
struct RecordingRow : GestureView {
  struct Button : RegisterButtonView {
    explicit Button(RecordingRow* r) : row(r) { ++row->made; }
    ~Button() override { ++row->gone; }
    void set_caption(const char* text) override { row->caption = text; }
    void place(int x, int y, int w, int h) override { row->rect = {x, y, w, h}; }
    RecordingRow* row;
  };
  void clear() override {}
  int text_width(const char*) override { return 30; }
  void add(int, int, int, int, const char*, int) override {}
  void set_pressed(size_t, bool) override {}
  RegisterButtonView* make_register_button() override { return new Button(this); }
  int made = 0, gone = 0;
  std::string caption;
  std::vector<int> rect;
};

class Wiring : public Completeness {
 protected:
  void start() {
    app_install();
    ASSERT_NE(tessel_init(0, "", 1), 0);
    tessel_set_frame_state(FRAME_START_3D);
    tessel_frame();
    ASSERT_EQ(tessel_frame_state(), FRAME_RUNNING);
  }
  void TearDown() override {
    gesture_set_view(nullptr);
    Completeness::TearDown();
  }
};

}  // namespace

TEST_F(Wiring, TheGestureRowMakesTheSignUpButtonForATouristAndDropsItForACitizen) {
  RecordingRow row;
  gesture_set_view(&row);
  ASSERT_NO_FATAL_FAILURE(start());
  menu_handle(129);  // the toolbar goes: the row is laid out again below where it was
  menu_handle(129);
  ASSERT_EQ(row.made, 1);  // made once, kept while the row is rebuilt
  EXPECT_EQ(row.gone, 0);
  EXPECT_EQ(row.caption, msg(12));
  EXPECT_EQ(row.rect, (std::vector<int>{8, toolbar_height() + 1, 90, 20}));
  EXPECT_EQ(register_button_width(), 90);
  citizen_store_number(42);
  gesture_show();
  EXPECT_EQ(row.gone, 1);
  EXPECT_EQ(register_button_width(), 0);
}

TEST_F(Wiring, WithoutARowViewTheSignUpButtonIsAbsent) {
  ASSERT_NO_FATAL_FAILURE(start());
  gesture_show();
  EXPECT_EQ(register_button_width(), 0);
}

TEST_F(Wiring, SoundsHearTheUsersOwnPosition) {
  ASSERT_NO_FATAL_FAILURE(start());
  self_set_position(3.5, 1.25, -7, 135);
  float x = 0, y = 0, z = 0, yaw = 0;
  ASSERT_NE(sound_hook.own_position, nullptr);
  sound_hook.own_position(&x, &y, &z, &yaw);
  EXPECT_FLOAT_EQ(x, 3.5f);
  EXPECT_FLOAT_EQ(y, 1.25f);
  EXPECT_FLOAT_EQ(z, -7);
  EXPECT_FLOAT_EQ(yaw, 135);  // degrees, as the panning takes it
}

TEST_F(Wiring, FunctionKeysAreCommandsOnceStartUpLoadedTheTable) {
  // Before start-up a function key is only a held key.
  menu_reset_for_test();
  EXPECT_EQ(menu_translate_accelerator(0x7A), 0);
  ASSERT_NO_FATAL_FAILURE(start());
  handle_window(HostEvent{HOST_WM_KEYDOWN, 0x7A, 0, 0});  // F11: the position in the title
  int shown = profile_int("show", "position");
  ASSERT_TRUE(shown == 0 || shown == 1);
  EXPECT_EQ(menu_is_checked(119), shown == 1);
  EXPECT_FALSE(key_pressed(0x7A));  // taken as a command, not held
  handle_window(HostEvent{HOST_WM_KEYDOWN, 0x7A, 0, 0});
  EXPECT_EQ(profile_int("show", "position"), 1 - shown);
  EXPECT_EQ(menu_is_checked(119), shown == 0);
  // A key outside the table stays a held key.
  handle_window(HostEvent{HOST_WM_KEYDOWN, 0x76, 0, 0});  // F7
  EXPECT_TRUE(key_pressed(0x76));
}

TEST_F(Wiring, StartUpReadsTheSystemItRunsOn) {
  ASSERT_NO_FATAL_FAILURE(start());
  utsname u{};
  ASSERT_EQ(uname(&u), 0);
  EXPECT_EQ(std::string(os_version()).rfind(std::string(u.sysname) + " " + u.release, 0), 0u)
      << os_version();
}

// A trace log left on for an hour stays a few megabytes: with every switch on but the one
// about frames, frames write no lines of their own.
TEST_F(Wiring, OnlyTheTasksSwitchWritesALineEveryFrame) {
  write_file(dir_.file("tessel.ini"),
             "[display]\ndepth=1\n[debug]\ntrace=1\ndatabase=1\nsound=1\ndisk=1\ndownload=1\n"
             "visible=1\ntexture=1\nchunk=1\nuniverse=1\nworld=1\nelements=1\nvrml=1\n");
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir_.path().c_str()), 0);  // the log goes to the working directory
  testutil::FakeClock clock;
  ASSERT_NO_FATAL_FAILURE(start());
  auto lines = [&] {
    std::string log = read_file(dir_.file("tessel.log"));
    return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
  };
  auto frames = [&](int n) {
    for (int i = 0; i < n; ++i) {
      clock.advance(20);
      tessel_frame();
    }
  };
  frames(20);  // start-up settles
  int settled = lines();
  EXPECT_GT(settled, 0);
  frames(100);
  int quiet = lines() - settled;
  { std::string log = read_file(dir_.file("tessel.log")); EXPECT_LT(quiet, 10) << log.substr(log.size() > 3000 ? log.size() - 3000 : 0); }
  trace_switches[TRACE_TASKS] = 1;
  int before = lines();
  frames(100);
  EXPECT_GE(lines() - before, 100 * 5);  // the tasks' own lines, several a frame
  trace_switches[TRACE_TASKS] = 0;
  log_reset();
  ASSERT_EQ(chdir(cwd), 0);
}
