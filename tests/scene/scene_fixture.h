#pragma once
// A program directory, a headless host and every scene module back at its start. The
// driver plug-in is taken from the build's lib folder; TESSEL_DRIVER_DIR can point the
// engine at a folder of extra driver names (links to the same plug-in).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../core/temp_dir.h"
#include "client/app/program.h"
#include "client//core/dialog.h"
#include "client/core/files.h"
#include "client/app/frame.h"
#include "client/core/lifecycle.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/tessel.h"
#include "client/scene/camera.h"
#include "client/scene/display.h"
#include "client/scene/display_viewport.h"
#include "client/scene/driver.h"
#include "client/scene/scene.h"
#include "engine/vxl21.h"
#include "platform/display.h"
#include "platform/gdi.h"
#include "platform/headless_host.h"
#include "platform/progdir.h"

// Numbered texts whose numbers the tests can read back.
inline const char kSceneMessages[] =
    "68 Tessel\n"
    "1 one %s\n"
    "5 five\n"
    "6 six\n"
    "7 seven\n"
    "24 exit\n"
    "140 a%s %d-bit screen for %s\n"
    "203 two-oh-three %s\n"
    "204 two-oh-four %s\n"
    "205 two-oh-five\n"
    "323 depth title\n"
    "324 advice\n"
    "325 do not ask\n"
    "326 continue\n";

inline std::string plugin_dir() { return std::string(TESSEL_BINARY_DIR) + "/lib"; }

// A two-sided square of side 2 * half, z ahead of an eye at the origin facing +z, added to
// the world scene; look, when given, sets the model's colour first. Null if any step failed.
inline VxClump* add_facing_square(VxReal half, VxReal z, void (*look)() = nullptr) {
  if (VxBeginModel() != 1 || VxBeginClump() != 1) return nullptr;
  if (look) look();
  int a = VxAddVertex(-half, -half, z), b = VxAddVertex(half, -half, z), c = VxAddVertex(half, half, z),
      d = VxAddVertex(-half, half, z);
  const bool faces = VxAddQuad(a, b, c, d) != nullptr && VxAddQuad(d, c, b, a) != nullptr;
  VxClump* square = VxEndClump();
  if (VxEndModel() != 1 || !faces || VxAddClumpToScene(scene_world(), square) != 1) return nullptr;
  return square;
}

class SceneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clean();
    platform_set_program_dir(dir_.path());
    host_set(&host_);
    drivers_ = dir_.file("drivers");
    mkdir(drivers_.c_str(), 0755);
    // Only the names linked into this folder exist.
    setenv("TESSEL_DRIVER_DIR", drivers_.c_str(), 1);
    driver_log_ = dir_.file("driver.log");
    setenv("SCENE_FAKE_DRIVER_LOG", driver_log_.c_str(), 1);
    unsetenv("SCENE_FAKE_DRIVER_FALLBACK");
    unsetenv("SCENE_FAKE_DRIVER_NO_RASTER");
    display_profile_set(8, 1024, 768);
  }
  void TearDown() override {
    clean();
    host_set(nullptr);
    unsetenv("TESSEL_DRIVER_DIR");
    unsetenv("SCENE_FAKE_DRIVER_LOG");
    display_reset();
  }
  static void clean() {
    if (tessel_frame_state() != FRAME_SHUT_DOWN && tessel_window()) tessel_shutdown(nullptr);
    camera_reset_for_test();
    scene_term();
    VxShutdown();
    driver_reset_for_test();
    display_reset_for_test();
    viewport_term();
    viewport_set_surface_maker(nullptr);
    app_reset_for_test();
    lifecycle_set_tables(nullptr);
    log_reset();
    msg_reset();
    file_term();
  }
  // Makes a driver name load the real 8-bit plug-in.
  void link_driver(const char* name) { ASSERT_NO_FATAL_FAILURE(link_to(name, plugin_dir() + "/libVXDL8D21.so")); }
  // Makes a driver name load the stand-in that opens any device.
  void link_fake(const char* name) { ASSERT_NO_FATAL_FAILURE(link_to(name, SCENE_FAKE_DRIVER)); }
  void link_to(const char* name, const std::string& target) {
    std::string link = drivers_ + "/lib" + name + ".so";
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0) << link;
  }
  // The stand-in's starts: "<device> <option count> <code>=<value> ...", one a line.
  std::vector<std::string> starts() {
    std::vector<std::string> out;
    std::string text = read_file(driver_log_), line;
    for (char c : text) {
      if (c == '\n') {
        out.push_back(line);
        line.clear();
      } else {
        line += c;
      }
    }
    return out;
  }
  // Settings and messages; profile and message set loaded.
  void install(const std::string& ini = "[general]\n") {
    write_file(dir_.file("tessel.ini"), ini);
    mkdir(dir_.file("Messages").c_str(), 0755);
    write_file(dir_.file("Messages/default.tzm"), kSceneMessages);
    ASSERT_TRUE(profile_init(dir_.path().c_str(), "/tessel.ini"));
    // The trace log beside the settings, as at start-up: left in the working folder, which
    // the tests running at once all share, one would set aside another's log.
    ASSERT_EQ(log_init(), 0);
    ASSERT_EQ(msg_init(), 0);
  }
  // The screen's depth as start-up reads it (the warning, when shown, answered "continue").
  void detect(int bits) {
    display_profile_set(bits, 1024, 768);
    ScriptedDialogs dialogs;
    dialogs.add(DEPTH_DIALOG, {[](ScriptedView& v) { v.press(DEPTH_CONTINUE); }});
    ASSERT_EQ(display_init(), 1);
    ASSERT_EQ(display_depth(), bits == 15 ? 16 : bits);
  }
  std::string ini() { return read_file(dir_.file("tessel.ini")); }
  // Texts of the boxes shown so far.
  std::vector<std::string> boxes() {
    std::vector<std::string> out;
    for (const auto& b : host_.boxes()) out.push_back(b.text);
    return out;
  }

  TempDir dir_;
  std::string drivers_;
  std::string driver_log_;
  HeadlessHost host_;
};
