#pragma once
// A fresh program directory and a clean main module per test, with a headless host and a
// fake clock.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "../core/temp_dir.h"
#include "client/app/program.h"
#include "client/servers/about.h"
#include "client/core/cgi.h"
#include "client/core/files.h"
#include "client/app/frame.h"
#include "client/core/identity.h"
#include "client/core/lifecycle.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/tessel.h"
#include "platform/clock.h"
#include "platform/headless_host.h"
#include "platform/progdir.h"
#include "tests/support/program_reset.h"

inline uint32_t fake_now = 1000;
inline uint32_t fake_clock() { return fake_now; }

// Messages with recognisable texts, so tests can tell which number was shown.
inline const char kTestMessages[] =
    "68 Tessel\n"
    "5 five\n"
    "6 six\n"
    "18 eighteen %d\n"
    "57 not logged in\n"
    "77 seventy-seven\n"
    "80 eighty %s\n"
    "81 nobody\n"
    "97 citizen %d\n"
    "99 tourist %s\n"
    "136 OK\n"
    "43 %s version %.2f\n"
    "56 build %d\n"
    "151 one-five-one %d\n"
    "154 one-five-four\n"
    "155 one-five-five %d\n";

class Spine : public ::testing::Test {
 protected:
  void SetUp() override {
    clean();
    fake_now = 1000;
    platform_set_clock(fake_clock);
    platform_set_program_dir(dir_.path());
    host_set(&host_);
  }
  void TearDown() override {
    clean();
    host_set(nullptr);
    platform_set_clock(nullptr);
  }
  static void clean() { testutil::reset_program_modules(); }
  // A complete program directory.
  void install(const std::string& ini = "[general]\n") {
    write_file(dir_.file("tessel.ini"), ini);
    mkdir(dir_.file("Messages").c_str(), 0755);
    write_file(dir_.file("Messages/default.tzm"), kTestMessages);
  }
  // Starts the program; true when the loop would run.
  bool start(const char* command_line = "") { return tessel_init(0, command_line, 1) != 0; }
  // Ends a started program and starts a fresh one with these settings.
  bool restart(const std::string& ini_text) {
    if (tessel_frame_state() != FRAME_SHUT_DOWN) tessel_shutdown(nullptr);
    clean();
    host_.clear();
    install(ini_text);
    return start();
  }
  std::string ini() { return read_file(dir_.file("tessel.ini")); }

  TempDir dir_;
  HeadlessHost host_;
};
