// The start-up, 3D start, shutdown, reset and task tables keep their fixed order, and the
// runner applies each step's failure rule.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "client/app/program.h"
#include "engine/vxl21.h"
#include "spine_fixture.h"

namespace {

// Names of rows as they appear in the program's tables, in their fixed order.
const std::vector<std::string> kInitOrder = {
    "tick_update", "program_directory", "cache_directory", "profile_init", "msg_init",
    "log_init", "version_init", "init_application", "os_init", "init_instance",
    "display_init", "resolve_init", "about_init", "color_init", "universe_init", "random_seed",
    "menu_init", "immigrate_set_parent", "prop_set_window", "advanced_init", "privilege_init",
    "privacy_init", "slider_init", "vslider_init", "perform_init", "database_init",
    "download_init", "toolbar_init", "toolbar_create", "show_toolbar", "kiosk", "font_init",
    "viewport_init", "tab_init", "status_init", "icon_init", "web_init", "avatar_init",
    "cell_init", "world_init", "focus_init", "chat_init", "console_init", "proxy_init",
    "http_init", "general_init", "dloptions_init", "sound_init", "mouse_init", "prop_init",
    "bps_init", "fps_init", "vrt_init", "sign_init", "disk_init", "gesture_init",
    "visible_init", "picture_init", "eject_init", "psheet_init", "url_init", "pdialog_init",
    "cgi_init", "web_start", "login_init", "tourist_set_parent", "upgrade_init",
    "about_set_message", "accelerators", "frame_timer"};

const std::vector<std::string> kStart3dOrder = {
    "driver_init", "debug_settings", "viewport_palette", "camera_init", "scene_init",
    "web_init", "model_init", "pick_init", "show_window", "self_init", "balloon_init",
    "about_hide"};

const std::vector<std::string> kTermOrder = {
    "avatar_term", "chat_term", "sound_term", "prop_term", "universe_term", "http_term",
    "file_term", "menu_term", "cgi_term", "resolve_term", "cell_term", "chunk_term",
    "telegram_term", "download_term", "world_term", "web_term", "image_term", "url_term",
    "console_term"};

const std::vector<std::string> kTermLateOrder = {"scene_term", "backdrop_clear", "VxShutdown",
                                                 "perform_term"};

const std::vector<std::string> kResetOrder = {
    "chat_reset", "visible_reset", "fps_reset", "pick_reset", "ground_clear", "avatar_reset",
    "self_destroy_avatar", "model_reset", "download_reset", "picture_reset", "image_reset",
    "texture_reset", "avatar_load_list", "chunk_reset", "self_create_avatar", "backdrop_clear",
    "sound_reset", "bump_cancel", "cell_reset"};

struct TaskRow {
  const char* name;
  const char* update;
  int flag;
};
const TaskRow kTasks[38] = {
    {"tick", "tick_update", 0},        {"world", "world_update", 1},
    {"prop", "prop_update", 1},        {"camera", "camera_update", 1},
    {"ground", "ground_update", 0},    {"backdrop", "backdrop_update", 1},
    {"http", "http_update", 1},        {"download", "download_update", 1},
    {"visible", "visible_update", 1},  {"sound", "sound_update", 1},
    {"frame", "frame_update", 1},      {"sign", "sign_update", 1},
    {"animate", "animation_update", 1}, {nullptr, "camera_begin_update", 0},
    {"scene", "scene_update", 1},      {"self", "self_update", 1},
    {"avatar", "avatar_frame_update", 1}, {"chat", "chat_update", 0},
    {"pick", "pick_update", 1},        {nullptr, "camera_end_update", 0},
    {"focus", "focus_update", 1},      {"balloon", "balloon_update", 1},
    {"viewport", "viewport_update", 1}, {"fps", "fps_update", 0},
    {"bps", "bps_update", 0},          {"behavior", "behavior_update", 0},
    {"disk", "disk_update", 1},        {"image", "image_update", 1},
    {"picture", "picture_update", 0},  {"web", "web_update", 0},
    {"universe", "universe_update", 0}, {"telegram", "telegram_update", 0},
    {"worlds", "worlds_update", 0},    {"contacts", "contacts_update", 0},
    {"join", "join_update", 0},        {"teleport", "teleport_update", 0},
    {"logo", "logo_update", 0},        {"vrt", "vrt_update", 0}};

// Rows the program has no use for on this platform; a row that joins the program must leave
// its list.
const std::set<std::string> kInitGaps = {};
const std::set<std::string> kStart3dGaps = {};
const std::set<std::string> kTermGaps = {};
const std::set<std::string> kTermLateGaps = {};
const std::set<std::string> kResetGaps = {};
const std::set<std::string> kTaskGaps = {};

std::vector<std::string> without(const std::vector<std::string>& order,
                                 const std::set<std::string>& gaps) {
  std::vector<std::string> out;
  for (const std::string& n : order)
    if (!gaps.count(n)) out.push_back(n);
  return out;
}

// The table holds exactly the full list less its gaps, in order; the message names the first
// row that differs.
template <class Row>
void expect_exactly(const Row* rows, size_t count, const std::vector<std::string>& order,
                    const std::set<std::string>& gaps, const char* what) {
  for (const std::string& g : gaps)
    ASSERT_NE(std::find(order.begin(), order.end(), g), order.end()) << what << ": gap " << g;
  std::vector<std::string> want = without(order, gaps);
  std::vector<std::string> have;
  for (size_t i = 0; i < count; ++i) have.push_back(rows[i].name);
  for (size_t i = 0; i < std::max(want.size(), have.size()); ++i) {
    std::string w = i < want.size() ? want[i] : "(end)";
    std::string h = i < have.size() ? have[i] : "(end)";
    ASSERT_EQ(h, w) << what << ": row " << i << " is \"" << h << "\" where \"" << w
                    << "\" belongs" << (gaps.count(h) ? " (still listed as a gap)" : "");
  }
}

}  // namespace

TEST(LifecycleTables, StartUpHoldsEveryRowInOrder) {
  const lifecycle_tables& t = app_tables();
  ASSERT_NO_FATAL_FAILURE(expect_exactly(t.init, t.init_count, kInitOrder, kInitGaps, "start-up"));
}

TEST(LifecycleTables, Start3dShutdownAndResetHoldEveryRowInOrder) {
  const lifecycle_tables& t = app_tables();
  ASSERT_NO_FATAL_FAILURE(expect_exactly(t.start_3d, t.start_3d_count, kStart3dOrder, kStart3dGaps, "3D start"));
  ASSERT_NO_FATAL_FAILURE(expect_exactly(t.term, t.term_count, kTermOrder, kTermGaps, "shutdown"));
  ASSERT_NO_FATAL_FAILURE(expect_exactly(t.term_late, t.term_late_count, kTermLateOrder, kTermLateGaps,
                 "shutdown after the box"));
  ASSERT_NO_FATAL_FAILURE(expect_exactly(t.reset, t.reset_count, kResetOrder, kResetGaps, "reset"));
}

TEST(LifecycleTables, FailureRulesOfPresentSteps) {
  const lifecycle_tables& t = app_tables();
  for (size_t i = 0; i < t.init_count; ++i) {
    std::string n = t.init[i].name;
    if (n == "profile_init") {
      EXPECT_EQ(t.init[i].failure, LC_FATAL_TEXT);
      EXPECT_STREQ(t.init[i].text,
                   "The initialization file couldn't be located. Ensure the working directory "
                   "is set to where this program resides.");
    } else if (n == "msg_init") {
      EXPECT_EQ(t.init[i].failure, LC_FATAL_TEXT);
      EXPECT_STREQ(t.init[i].text, "Unable to load default messages.  Please re-install Veldara.");
    } else if (n == "resolve_init") {
      EXPECT_EQ(t.init[i].failure, LC_FATAL_CODE);
      EXPECT_EQ(t.init[i].message, 18);
    } else if (n == "about_init") {
      EXPECT_EQ(t.init[i].failure, LC_FATAL_CODE);
      EXPECT_EQ(t.init[i].message, 151);
    } else if (n == "init_application" || n == "init_instance") {
      EXPECT_EQ(t.init[i].failure, LC_STOP);
    }
  }
}

TEST(TaskTable, HoldsEveryRowInOrderWithItsNameAndFlag) {
  std::vector<std::string> order;
  for (const TaskRow& r : kTasks) order.push_back(r.update);
  struct Named {
    const char* name;
  };
  std::vector<Named> rows;
  for (size_t i = 0; i < task_count; ++i) rows.push_back({task_update_names[i]});
  ASSERT_NO_FATAL_FAILURE(expect_exactly(rows.data(), rows.size(), order, kTaskGaps, "task table"));
  for (size_t i = 0; i < task_count; ++i) {
    const TaskRow* want = nullptr;
    for (const TaskRow& r : kTasks)
      if (std::string(r.update) == task_update_names[i]) want = &r;
    ASSERT_NE(want, nullptr);
    if (want->name)
      EXPECT_STREQ(task_table[i].name, want->name) << want->update;
    else
      EXPECT_EQ(task_table[i].name, nullptr) << want->update;
    EXPECT_EQ(task_table[i].flag, want->flag) << want->update;
    EXPECT_NE(task_table[i].update, nullptr) << want->update;
    for (int c : task_table[i].counters) EXPECT_EQ(c, 0);
  }
}

// --- The runner ---

namespace {
std::vector<std::string> ran;
int step_ok() { ran.push_back("ok"); return 0; }
int step_fails_7() { ran.push_back("fails"); return 7; }
int step_after() { ran.push_back("after"); return 0; }
int pushed = 0;
int step_engine_error_3() {
  // Overflowing the engine's scratch-matrix stack is its out-of-memory failure (error 3).
  while (VxPushScratchMatrix()) ++pushed;
  return 1;
}
int step_engine_error_other() {
  VxDestroyClump(nullptr);  // a bad argument
  return 1;
}
int terms = 0;
void count_term() { ++terms; }
}  // namespace

class Runner : public Spine {
 protected:
  void SetUp() override {
    Spine::SetUp();
    install();
    ASSERT_EQ(msg_init(), 0);
    ran.clear();
    terms = 0;
  }
  void use(const lifecycle_step* steps, size_t n) {
    static const lifecycle_call term[] = {{"count", count_term}};
    tables_ = lifecycle_tables{steps, n, steps, n, term, 1, nullptr, 0, nullptr, 0};
    lifecycle_set_tables(&tables_);
  }
  lifecycle_tables tables_{};
};

TEST_F(Runner, IgnoredResultGoesOn) {
  const lifecycle_step steps[] = {{"a", step_fails_7, LC_IGNORE, 0, 0, nullptr},
                                  {"b", step_after, LC_IGNORE, 0, 0, nullptr}};
  use(steps, 2);
  EXPECT_EQ(lifecycle_run(steps, 2), 1);
  EXPECT_EQ(ran, (std::vector<std::string>{"fails", "after"}));
  EXPECT_EQ(terms, 0);
}

TEST_F(Runner, StopEndsQuietlyWithoutShutdown) {
  const lifecycle_step steps[] = {{"a", step_ok, LC_STOP, 0, 0, nullptr},
                                  {"b", step_fails_7, LC_STOP, 0, 0, nullptr},
                                  {"c", step_after, LC_IGNORE, 0, 0, nullptr}};
  use(steps, 3);
  EXPECT_EQ(lifecycle_run(steps, 3), 0);
  EXPECT_EQ(ran, (std::vector<std::string>{"ok", "fails"}));
  EXPECT_EQ(terms, 0);
  EXPECT_TRUE(host_.boxes().empty());
}

TEST_F(Runner, FatalCodeShowsItsMessageWithTheResultThroughTheShutdown) {
  const lifecycle_step steps[] = {{"a", step_fails_7, LC_FATAL_CODE, 18, 0, nullptr},
                                  {"b", step_after, LC_IGNORE, 0, 0, nullptr}};
  use(steps, 2);
  EXPECT_EQ(lifecycle_run(steps, 2), 0);
  EXPECT_EQ(ran, (std::vector<std::string>{"fails"}));
  EXPECT_EQ(terms, 1);
  ASSERT_EQ(host_.boxes().size(), 1u);
  EXPECT_EQ(host_.boxes()[0].text, "eighteen 7");
  EXPECT_EQ(host_.boxes()[0].caption, "Error");
  EXPECT_EQ(host_.boxes()[0].flags & HOST_MB_ICONS, unsigned(HOST_MB_ICONERROR));
  EXPECT_EQ(tessel_frame_state(), FRAME_SHUT_DOWN);
}

TEST_F(Runner, FatalTitleFormatsWithTheProgramTitle) {
  const lifecycle_step steps[] = {{"a", step_fails_7, LC_FATAL_TITLE, 80, 0, nullptr}};
  use(steps, 1);
  EXPECT_EQ(lifecycle_run(steps, 1), 0);
  ASSERT_EQ(host_.boxes().size(), 1u);
  EXPECT_EQ(host_.boxes()[0].text, "eighty Tessel");
}

TEST_F(Runner, EngineErrorThreeChoosesTheFirstMessage) {
  ASSERT_TRUE(VxInitialize(nullptr));
  const lifecycle_step steps[] = {{"camera", step_engine_error_3, LC_FATAL_ENGINE, 5, 6, nullptr}};
  use(steps, 1);
  EXPECT_EQ(lifecycle_run(steps, 1), 0);
  ASSERT_EQ(host_.boxes().size(), 1u);
  EXPECT_EQ(host_.boxes()[0].text, "five");
  for (; pushed > 0; --pushed) VxPopScratchMatrix();
}

TEST_F(Runner, OtherEngineErrorsChooseTheSecondMessage) {
  ASSERT_TRUE(VxInitialize(nullptr));
  const lifecycle_step steps[] = {
      {"camera", step_engine_error_other, LC_FATAL_ENGINE, 5, 6, nullptr}};
  use(steps, 1);
  EXPECT_EQ(lifecycle_run(steps, 1), 0);
  ASSERT_EQ(host_.boxes().size(), 1u);
  EXPECT_EQ(host_.boxes()[0].text, "six");
}

TEST_F(Runner, Start3dFailureEndsInStateSix) {
  // The 3D start runs its own table; a failing step ends the program from frame state 4.
  const lifecycle_step steps[] = {{"scene", step_fails_7, LC_FATAL, 5, 0, nullptr}};
  use(steps, 1);
  tessel_set_frame_state(FRAME_START_3D);
  tessel_frame();
  EXPECT_EQ(tessel_frame_state(), FRAME_SHUT_DOWN);
  ASSERT_EQ(host_.boxes().size(), 1u);
  EXPECT_EQ(host_.boxes()[0].text, "five");
}
