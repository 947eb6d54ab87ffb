#pragma once
// Shared pieces of the universe and login tests: the fake universe server as a child
// process, a program directory with settings and numbered test messages, a fake clock, and
// recorders for the modules the connection and the login call.
#include <arpa/inet.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "client/core/dialog.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/servers/login.h"
#include "client/servers/tourist.h"
#include "client/servers/universe.h"
#include "platform/clock.h"
#include "platform/progdir.h"
#include "tests/support/test_util.h"

namespace utest {

// Real time passes for the sockets; the connection's own deadlines use this clock.
using testutil::fake_clock;
using testutil::fake_now;
using testutil::FakeClock;

inline bool poll_until(const std::function<bool()>& step, int limit_ms = testutil::kWaitMs) {
  return testutil::poll_until(step, limit_ms);
}

inline void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// While a scripted dialog waits for its answer, the universe connection keeps running.
inline void keep_universe_running(ScriptedDialogs& dialogs) {
  dialogs.set_idle([] {
    universe_update();
    sleep_ms(1);
  });
}

inline std::vector<std::string> universe_argv(const std::string& config_json, const std::vector<std::string>& extra) {
  std::vector<std::string> args = {"python3", std::string(TESSEL_SOURCE_DIR) + "/tests/fakes/universe.py", "--json",
                                   config_json};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

// tests/fakes/universe.py as a child process.
class FakeUniverse : public testutil::FakeProcess {
 public:
  explicit FakeUniverse(const std::string& config_json, const std::vector<std::string>& extra = {})
      : FakeProcess(universe_argv(config_json, extra), testutil::kWaitMs) {}
};

// A program directory with tessel.ini and a message set whose texts name their numbers, so
// tests compare message numbers, not wording.
class ProgramDir {
 public:
  explicit ProgramDir(const std::string& ini_text) {
    char tmpl[] = "/tmp/tessel-universe-XXXXXX";
    dir = mkdtemp(tmpl);
    std::filesystem::create_directories(dir + "/Messages");
    std::ofstream(dir + "/tessel.ini") << ini_text;
    std::ofstream m(dir + "/Messages/default.tzm");
    for (int n : {2, 3, 8, 9, 48, 49, 52, 53, 54, 68, 69, 70, 72, 78, 136, 137, 142, 152, 154, 155, 156, 157, 158,
                  163, 181, 182, 192, 199, 218, 238, 362, 363, 364, 365, 366, 367, 445, 446, 447, 448, 449, 450}) {
      m << n << " m" << n;
      if (n == 3 || n == 182 || n == 238 || n == 48 || n == 49) m << " %s";
      if (n == 155 || n == 158 || n == 52) m << " %d";
      if (n == 78 || n == 192 || n == 362 || n == 446) m << " <%s>";
      m << "\n";
    }
    m.close();
    platform_set_program_dir(dir);
    profile_init(dir.c_str(), "/tessel.ini");
    msg_reset();
    msg_load("default");
  }
  ~ProgramDir() {
    msg_reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::string ini() const {
    std::ifstream f(dir + "/tessel.ini");
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  std::string dir;
};

// What the connection and the login told the other modules.
struct Recorder {
  std::vector<std::string> names, passwords;
  std::vector<int32_t> numbers;
  int identity_changes = 0, about_hides = 0, contacts_refreshes = 0, worlds_refreshes = 0, upgrade_checks = 0;
  int privilege_resets = 0;
  std::vector<std::pair<int, std::string>> privilege_results;
  int requested_privilege = 0;
  int hide_world = 0;
  const char* prompt_answer = nullptr;
};
inline Recorder* rec = nullptr;

inline void install_hooks(Recorder& r) {
  rec = &r;
  login_hook = login_hooks{};
  login_hook.citizen_set_name = [](const char* n) { rec->names.emplace_back(n); };
  login_hook.citizen_set_password = [](const char* p) { rec->passwords.emplace_back(p); };
  login_hook.citizen_store_number = [](int32_t n) { rec->numbers.push_back(n); };
  login_hook.menu_identity_changed = [] { ++rec->identity_changes; };
  login_hook.about_hide = [] { ++rec->about_hides; };
  login_hook.upgrade_check = [] { ++rec->upgrade_checks; };
  login_hook.privilege_requested_number = [] { return rec->requested_privilege; };
  login_hook.privilege_result = [](int rc, const char* t) { rec->privilege_results.emplace_back(rc, t); };
  login_hook.privilege_reset = [] { ++rec->privilege_resets; };
  login_hook.prompt_text = [](const char*, const char*, const char*) { return rec->prompt_answer; };
  universe_receiver = universe_receivers{};
  universe_receiver.contacts_refresh = [] { ++rec->contacts_refreshes; };
  universe_receiver.worlds_refresh = [] { ++rec->worlds_refreshes; };
  universe_receiver.privilege_requested_number = [] { return rec->requested_privilege; };
  universe_receiver.privilege_password = [] { return rec->requested_privilege ? "ppw" : ""; };
  universe_receiver.privacy_hide_world = [] { return rec->hide_world; };
}

inline void remove_hooks() {
  login_hook = login_default_hooks();
  universe_receiver = universe_default_receivers();
  rec = nullptr;
}

inline std::string ini_for(uint16_t port, const std::string& citizen_section = "") {
  return "[universe]\nhost=127.0.0.1\nport=" + std::to_string(port) + "\n" + citizen_section;
}

inline std::string hex_of(const std::string& bytes) {
  return testutil::hex_of(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}
inline std::string hex_string(const std::string& text) {
  char len[3];
  std::snprintf(len, sizeof len, "%02x", static_cast<unsigned>(text.size()));
  return len + hex_of(text);
}
inline std::string hex_build() {
  char b[9];
  std::snprintf(b, sizeof b, "%08x", static_cast<unsigned>(TESSEL_BUILD_NUMBER));
  return b;
}

}  // namespace utest
