#pragma once
// The program started in a fresh program directory (the real message texts, a settings file
// of the test's own) with a headless host and scripted dialogs, and the settings file read
// back as a map of "section.key" to value.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "client/app/command.h"
#include "client/app/frame.h"
#include "client/app/program.h"
#include "client/core/dialog.h"
#include "client/core/files.h"
#include "client/core/identity.h"
#include "client/core/lifecycle.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/tessel.h"
#include "client/shell/psheet.h"
#include "platform/clock.h"
#include "platform/headless_host.h"
#include "platform/progdir.h"
#include "tests/support/program_reset.h"
#include "tests/support/test_util.h"

namespace settingstest {

using Ini = std::map<std::string, std::string>;

inline Ini parse_ini(const std::string& text) {
  Ini out;
  std::istringstream in(text);
  std::string line, section;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      section = line.substr(1, line.find(']') - 1);
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    out[section + "." + line.substr(0, eq)] = line.substr(eq + 1);
  }
  return out;
}

// Keys whose value differs or that were added (removed keys count too).
inline std::map<std::string, std::string> changes(const Ini& before, const Ini& after) {
  std::map<std::string, std::string> out;
  for (const auto& [k, v] : after) {
    auto it = before.find(k);
    if (it == before.end() || it->second != v) out[k] = v;
  }
  for (const auto& [k, v] : before)
    if (!after.count(k)) out[k] = "<gone>";
  return out;
}

inline uint32_t now_ms = 1000;
inline uint32_t clock_now() { return now_ms; }

inline std::string source_dir() {
  const char* s = std::getenv("TESSEL_SOURCE_DIR");
  return s ? s : TESSEL_SOURCE_DIR;
}

class SettingsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    clean();
    now_ms = 1000;
    platform_set_clock(clock_now);
    platform_set_program_dir(dir_.path().c_str());
    host_set(&host_);
    // The log is written in the program directory; relative names are read from it too.
    old_cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    std::filesystem::create_directories(dir_.file("Messages"));
    std::filesystem::copy_file(source_dir() + "/data/Messages/default.tzm",
                               dir_.file("Messages/default.tzm"));
  }
  void TearDown() override {
    stop();
    clean();
    host_set(nullptr);
    platform_set_clock(nullptr);
    std::filesystem::current_path(old_cwd_);
  }
  static void clean() { testutil::reset_program_modules(); }
  // Starts the program over these settings; true when it would run its loop.
  bool start(const std::string& ini_text) {
    // The colour-depth warning is answered once and for all.
    testutil::write_file(dir_.file("tessel.ini"), "[display]\ndepth=1\n" + ini_text);
    return report(tessel_init(0, "", 1) != 0);
  }
  // A start that stopped says why.
  bool report(bool ok) {
    if (!ok)
      for (const auto& b : host_.boxes()) ADD_FAILURE() << "box: " << b.text;
    return ok;
  }
  // A clean exit.
  void stop() {
    if (tessel_window() && tessel_frame_state() != FRAME_SHUT_DOWN) tessel_shutdown(nullptr);
  }
  // Ends this run and starts the next over the settings the last one left.
  bool restart() {
    stop();
    clean();
    host_.clear();
    return report(tessel_init(0, "", 1) != 0);
  }
  Ini ini() { return parse_ini(testutil::read_file(dir_.file("tessel.ini"))); }

  // Opens the sheet from its menu item with these steps; returns what it ended with.
  int open_sheet(ScriptedDialogs::Script steps) {
    dialogs_.add(PSHEET_DIALOG, std::move(steps));
    menu_handle(MENU_SETTINGS);
    return dialogs_.opened().empty() ? DIALOG_NO_VIEW : dialogs_.opened().back()->code();
  }
  // Steps: show page index; press a control (after checking or typing into it).
  static ScriptedDialogs::Step page(int index) { return choose(PSHEET_TABS, index); }
  static ScriptedDialogs::Step tick(int id, bool on) {
    return set_then_press(id, [id, on](ScriptedView& v) { v.check(id, on); });
  }
  static ScriptedDialogs::Step type(int id, const std::string& text) {
    return set_then_press(id, [id, text](ScriptedView& v) { v.type(id, text); });
  }
  static ScriptedDialogs::Step choose(int id, int index) {
    return set_then_press(id, [id, index](ScriptedView& v) { v.list_select(id, index); });
  }
  // A control changed by `set`, then pressed, as the user's change reaches the page.
  template <class Set>
  static ScriptedDialogs::Step set_then_press(int id, Set set) {
    return [id, set](ScriptedView& v) {
      set(v);
      v.press(id);
    };
  }
  static ScriptedDialogs::Step press(int id) {
    return [id](ScriptedView& v) { v.press(id); };
  }
  // The boxes shown with this message's text (formatted with args).
  template <class... A>
  int boxes_with(int n, A... args) {
    std::string want = msg_arg(n, args...);
    int count = 0;
    for (const auto& b : host_.boxes()) count += b.text == want;
    return count;
  }

  testutil::TempDir dir_{"tessel_settings_"};
  HeadlessHost host_;
  ScriptedDialogs dialogs_;
  std::filesystem::path old_cwd_;
};

}  // namespace settingstest
