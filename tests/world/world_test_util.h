#pragma once
// Shared pieces of the world tests: the fake servers as child processes, a program directory
// with numbered test messages, a fake clock, and a recorder of what the world connection
// told the other modules.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client//cache/database.h"
#include "client/core/files.h"
#include "client/core/identity.h"
#include "client/core/lifecycle.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/net/netcodes.h"
#include "client/net/tcp.h"
#include "client/scene/cell.h"
#include "client/servers/attributes.h"
#include "client/servers/universe.h"
#include "client/servers/world.h"
#include "keyfile/ostrel.h"
#include "platform/clock.h"
#include "platform/headless_host.h"
#include "platform/progdir.h"
#include "tests/support/world_modules_fixture.h"

namespace wtest {

using testutil::fake_clock;
using testutil::fake_now;

inline bool poll_until(const std::function<bool()>& step, int limit_ms = testutil::kWaitMs) {
  return testutil::poll_until(step, limit_ms);
}

inline std::vector<std::string> fake_argv(const std::string& script, const std::vector<std::string>& extra) {
  // The system interpreter starts fastest; any python3 on the path will do.
  const char* python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
  std::vector<std::string> args = {python, std::string(TESSEL_SOURCE_DIR) + "/tests/fakes/" + script};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

// A fake server script of tests/fakes as a child process, its output read line by line.
class FakeProcess : public testutil::FakeProcess {
 public:
  FakeProcess(const std::string& script, const std::vector<std::string>& extra)
      : testutil::FakeProcess(fake_argv(script, extra), testutil::kWaitMs, {false, {{"PYTHONDONTWRITEBYTECODE", "1"}}}) {}
};

// What the world connection told the other modules, in order.
struct Recorder {
  std::vector<std::string> events;
  std::vector<std::string> console;
  int avatars = 20;
  int rating = 2;
  int teleport_pending = 0;
  int history_back = 0;
  std::vector<world_cell> cells;
  bool take_cells = false;  // install prop_receive_cell
  std::vector<int> pass_through;
  std::vector<std::string> chat;
  std::string pane;  // the status window's text, as the status bar was last given it
  std::vector<int> avatar_sessions;
  tcp* old_connection = nullptr;
  void ev(const std::string& e) { events.push_back(e); }
  int count(const std::string& e) const {
    int n = 0;
    for (auto& x : events)
      if (x == e) ++n;
    return n;
  }
  // Index of the first event e at or after from, or -1.
  int find(const std::string& e, int from = 0) const {
    for (size_t i = static_cast<size_t>(from); i < events.size(); ++i)
      if (events[i] == e) return static_cast<int>(i);
    return -1;
  }
};
inline Recorder* rec = nullptr;

// The world-change reset as the tests see it: recorded, then the cell cache's own reset.
inline const lifecycle_call test_reset_calls[] = {
    {"record", [] {
       if (rec) rec->ev("reset_modules");
     }},
    {"cell_reset", [] { cell_reset(); }},
};
inline const lifecycle_tables test_tables = {nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, test_reset_calls, 2};

inline void install_hooks(Recorder& r) {
  rec = &r;
  world_hooks h{};
  h.teleport_apply = [] { rec->ev("teleport_apply"); };
  h.teleport_pending = [] { return rec->teleport_pending; };
  h.history_back = [] {
    rec->ev("history_back");
    return rec->history_back;
  };
  h.history_set_world = [](const char* n) { rec->ev(std::string("history_set_world ") + n); };
  h.worlds_mark_current = [](const char* n) { rec->ev(std::string("worlds_mark_current ") + n); };
  h.gesture_show = [] { rec->ev("gesture_show"); };
  h.prop_reset = [] { rec->ev("prop_reset"); };
  h.prop_set_old = [](int f) {
    rec->ev("prop_set_old " + std::to_string(f));
    cell_set_old(f);
  };
  h.prop_request_result = [](int32_t n, int rc) {
    rec->ev("prop_request_result " + std::to_string(n) + " " + std::to_string(rc));
  };
  h.prop_query_restart = [] { rec->ev("prop_query_restart"); };
  h.prop_query_done = [] { rec->ev("prop_query_done"); };
  h.oldprop_set_connection = [](tcp* c) {
    rec->ev("oldprop_set_connection");
    rec->old_connection = c;
  };
  h.oldprop_reset = [] { rec->ev("oldprop_reset"); };
  h.avatar_delete_all = [] { rec->ev("avatar_delete_all"); };
  h.avatar_load_list = [] { rec->ev("avatar_load_list"); };
  h.avatar_add = [](int session, const char* name, int32_t x, int32_t y, int32_t z, int yaw, int type, int g) {
    rec->avatar_sessions.push_back(session);
    char t[400];
    std::snprintf(t, sizeof t, "avatar_add %d %s %d %d %d %d %d %d", session, name, x, y, z, yaw, type, g);
    rec->ev(t);
  };
  h.avatar_delete = [](int session) { rec->ev("avatar_delete " + std::to_string(session)); };
  h.avatar_message = [](int kind, int session, const char* text) {
    rec->chat.push_back(std::to_string(kind) + " " + std::to_string(session) + " " + text);
  };
  h.console_print = [](int kind, const char* line) { rec->console.push_back(std::to_string(kind) + " " + line); };
  h.status_text = [](const char* text) { rec->pane = text; };
  h.chat_avatars = [] { return rec->avatars; };
  h.general_rating = [] { return rec->rating; };
  h.backdrop_set = [](const char* n, int l) { rec->ev("backdrop_set " + std::string(n, static_cast<size_t>(l))); };
  h.ground_set = [](const char* n, int l) { rec->ev("ground_set " + std::string(n, static_cast<size_t>(l))); };
  h.camera_set_color = [](int r, int g, int b) {
    rec->ev("camera_set_color " + std::to_string(r) + " " + std::to_string(g) + " " + std::to_string(b));
  };
  h.self_invalidate_title = [] { rec->ev("self_invalidate_title"); };
  h.avatar_set_public_speaker = [](int on) { rec->ev("avatar_set_public_speaker " + std::to_string(on)); };
  h.menu_set_public_speaker = [](int on) { rec->ev("menu_set_public_speaker " + std::to_string(on)); };
  h.web_navigate = [](const char* url, int f) { rec->ev("web_navigate " + std::string(url)); };
  h.self_pass_through = [](int a) {
    rec->pass_through.push_back(a);
    rec->ev("pass_through " + std::to_string(a));
  };
  h.self_flying = [](int a) { rec->ev("flying " + std::to_string(a)); };
  h.teleport_within_world = [](int a) { rec->ev("teleport_within " + std::to_string(a)); };
  h.pick_building = [](int a) { rec->ev("building " + std::to_string(a)); };
  h.self_set_position = [](double x, double y, double z, double yaw) { rec->ev("self_set_position"); };
  h.avatar_set_eject_right = [](int a) { rec->ev("eject " + std::to_string(a)); };
  h.visible_set_load_factor = [](int f) { rec->ev("load_factor " + std::to_string(f)); };
  if (r.take_cells) h.prop_receive_cell = [](const world_cell& c) { rec->cells.push_back(c); };
  world_hook = h;
}

// A fresh program directory per test (also the working directory), settings, numbered
// messages whose texts show their number, the keyed-file engine, the cell cache and the world
// module started, and a fake clock for the connection's deadlines.
class WorldFixture : public testutil::WorldModulesFixture {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(enter_program_dir("tessel-world-", ini.empty() ? "\n" : ini, "default",
                                              {55, 68, 77, 119, 150, 160, 200, 212},
                                              "89 m89 %s\n95 m95 %d\n146 m146 %s\n162 m162 %s %s\n196 m196 %s\n198 m198 %s\n250 m250 %d\n"
                                              "600 m600 %s\n"));
    ASSERT_NO_FATAL_FAILURE(start_world_modules(&test_tables));
    install_hooks(recorder);
    ASSERT_EQ(0, world_init());
  }
  void TearDown() override {
    // The connection an old-protocol world handed over to the object protocol's hook.
    if (recorder.old_connection) tcp_destroy(recorder.old_connection);
    recorder.old_connection = nullptr;
    rec = nullptr;
    stop_world_modules();
  }

  // An attribute block from slot/text pairs.
  static std::vector<uint8_t> block(const std::vector<std::pair<int, std::string>>& pairs) {
    std::vector<uint8_t> b;
    for (auto& [slot, text] : pairs) {
      b.push_back(static_cast<uint8_t>(slot));
      b.push_back(static_cast<uint8_t>(text.size()));
      b.insert(b.end(), text.begin(), text.end());
    }
    return b;
  }

  std::string ini = "";
  Recorder recorder;
};

// Both fakes up (the universe's world list points at the fake world "demo") and the universe
// logged in as a tourist. Fails the calling test with a fatal failure when a step does not come.
// universe_extra: more of the universe's configuration (",\"key\":value" pairs).
inline void start_fakes(std::unique_ptr<FakeProcess>& world, std::unique_ptr<FakeProcess>& universe,
                        const std::string& world_config, const std::string& universe_extra = "") {
  world = std::make_unique<FakeProcess>("world.py", std::vector<std::string>{"--json", world_config});
  ASSERT_NE(0, world->port());
  std::string universe_config = R"({"session":4660,"worlds":[{"name":"demo","host":"127.0.0.1","port":)" +
                                std::to_string(world->port()) + "}]" + universe_extra + "}";
  universe = std::make_unique<FakeProcess>("universe.py", std::vector<std::string>{"--json", universe_config});
  ASSERT_NE(0, universe->port());
  profile_set_string("universe", "host", "127.0.0.1");
  profile_set_int("universe", "port", universe->port());
  ASSERT_EQ(0, universe_init());
  ASSERT_TRUE(poll_until([] {
    universe_update();
    return universe_connected();
  }));
  ASSERT_EQ(0, universe_login("\"Tester\"", ""));
  ASSERT_TRUE(poll_until([] {
    universe_update();
    return universe_logged_in();
  }));
}

// A fixture (Base) with both fakes on loopback: start() brings them up with the world's
// config; they go before the fixture's own tear-down.
template <class Base>
class WithFakes : public Base {
 protected:
  void TearDown() override {
    world.reset();
    universe.reset();
    Base::TearDown();
  }
  // start_fakes, then the citizen's number the world login is to carry (the tourist login
  // stored 0).
  void start(const std::string& world_config, const std::string& universe_extra = "") {
    ASSERT_NO_FATAL_FAILURE(start_fakes(world, universe, world_config, universe_extra));
    citizen_set_number(101);
  }

  std::unique_ptr<FakeProcess> world;
  std::unique_ptr<FakeProcess> universe;
};

inline std::string hex_of(const std::vector<uint8_t>& bytes) { return testutil::hex_of(bytes.data(), bytes.size()); }

}  // namespace wtest
