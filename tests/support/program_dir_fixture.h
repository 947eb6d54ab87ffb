#pragma once
// A fresh program directory per test that is also the working directory (the keyed-file
// engine's status log lands there), with settings, a message set whose texts show their
// number, a HeadlessHost that records boxes, and everything undone again at the end.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "client/cache/database.h"
#include "client/core/files.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "keyfile/ostrel.h"
#include "platform/headless_host.h"
#include "platform/progdir.h"
#include "tests/support/test_util.h"

namespace testutil {

// Stops what a program directory's tests start (keyed files, messages, log, files, the host)
// and leaves the directory.
inline void leave_program_dir(const std::filesystem::path& dir, const std::filesystem::path& old_cwd) {
  if (KeyedFileEngineStarted()) StopKeyedFileEngine();
  database_set_exits(nullptr, nullptr);
  host_set(nullptr);
  msg_reset();
  log_reset();
  file_term();
  leave_fresh_dir(dir, old_cwd);
}

class ProgramDirFixture : public ::testing::Test {
 protected:
  // Enters the fresh directory, writes tessel.ini and Messages/<set>.tzm (texts "m<n>" for
  // each plain number, then the given lines as they stand) and loads that set.
  void enter_program_dir(const char* prefix, const std::string& ini, const char* set, std::initializer_list<int> plain,
                         const std::string& lines) {
    dir = enter_fresh_dir(prefix, old_cwd).string();
    ASSERT_FALSE(dir.empty());
    std::filesystem::create_directories(dir + "/Messages");
    if (!ini.empty()) std::ofstream(dir + "/tessel.ini") << ini;
    {
      std::ofstream m(dir + "/Messages/" + set + ".tzm");
      for (int n : plain) m << n << " m" << n << "\n";
      m << lines;
    }
    platform_set_program_dir(dir);
    if (!ini.empty()) profile_init(dir.c_str(), "/tessel.ini");
    msg_reset();
    ASSERT_EQ(1, msg_load(set));
    host_set(&boxes);
  }

  // The keyed-file engine with exits that do nothing, so a damaged file cannot end the test.
  void start_database() {
    database_set_exits([] {}, [](int) {});
    ASSERT_EQ(0, database_init());
  }

  void leave_program_dir() { testutil::leave_program_dir(dir, old_cwd); }

  std::vector<std::string> box_texts() const {
    std::vector<std::string> out;
    for (const auto& b : boxes.boxes()) out.push_back(b.text);
    return out;
  }

  std::string dir;
  std::filesystem::path old_cwd;
  HeadlessHost boxes{false};
};

}  // namespace testutil
