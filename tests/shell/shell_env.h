#pragma once
// A program directory with the settings and messages the shell reads, a fake clock, and one
// QApplication for the whole test program (offscreen).
#include <gtest/gtest.h>

#include <QApplication>
#include <string>

#include "client/core/msg.h"
#include "client/core/profile.h"
#include "platform/clock.h"
#include "platform/progdir.h"
#include "tests/support/test_util.h"
#include "tests/support/qt_app.h"

namespace shell_test {

inline uint32_t fake_now = 50000;
inline uint32_t fake_clock() { return fake_now; }

inline QApplication& app() { return testutil::qt_app("shell_tests"); }

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app();
    fake_now = 50000;
    platform_set_clock(fake_clock);
    platform_set_program_dir(dir_.path());
    testutil::write_file(dir_.file("tessel.ini"), "[general]\n");
    ASSERT_TRUE(profile_init((dir_.path() + "/").c_str(), "tessel.ini"));
    msg_set(259, "log of %s");
    msg_set(163, "tessel");
  }
  void TearDown() override {
    platform_set_clock(nullptr);
    msg_reset();
  }
  testutil::TempDir dir_;
};

}  // namespace shell_test
