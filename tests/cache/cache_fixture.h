#pragma once
// Shared fixture: a fresh directory per test that is also the current directory (the engine's
// status log lands there), a started engine, a HeadlessHost that records boxes, exits that
// are recorded instead of ending the test, and a message set whose texts show their number.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "client/cache/database.h"
#include "client/core/files.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "keyfile/ostrel.h"
#include "platform/headless_host.h"
#include "platform/progdir.h"
#include "tests/support/program_dir_fixture.h"

namespace cachetest {

using testutil::slurp;
using testutil::spit;

inline std::vector<int>& exit_calls() {
  static std::vector<int> calls;
  return calls;
}
inline int& quit_calls() {
  static int calls = 0;
  return calls;
}
inline void record_exit(int status) { exit_calls().push_back(status); }
inline void record_quit() { ++quit_calls(); }

class CacheTest : public ::testing::Test {
 protected:
  std::filesystem::path dir;
  std::filesystem::path old_cwd;
  HeadlessHost boxes{false};

  void SetUp() override {
    dir = testutil::enter_fresh_dir("cachetest", old_cwd);
    ASSERT_FALSE(dir.empty());
    std::filesystem::create_directories(dir / "Messages");
    std::ofstream(dir / "Messages" / "probe.tzm") << "68 T68\n85 M85 %d %s\n129 M129 %d %s\n130 M130 %s %d\n";
    platform_set_program_dir(dir.string());
    msg_reset();
    ASSERT_EQ(msg_load("probe"), 1);
    host_set(&boxes);
    exit_calls().clear();
    quit_calls() = 0;
    database_set_exits(record_quit, record_exit);
    ASSERT_EQ(database_init(), 0);
  }

  void TearDown() override { testutil::leave_program_dir(dir, old_cwd); }

  std::string path(const std::string& name) const { return (dir / name).string(); }

  // Texts of the boxes shown so far.
  std::vector<std::string> shown() const {
    std::vector<std::string> texts;
    for (const auto& b : boxes.boxes()) texts.push_back(b.text);
    return texts;
  }
};

// A six-byte key of the number a, and text stored and fetched under it ("<none>" when absent).
inline std::vector<uint8_t> record_key(int a) { return {static_cast<uint8_t>(a), 0, 0, 0, 0, 0}; }

inline bool store_record(database* db, int k, const std::string& text) {
  return database_store(db, record_key(k).data(), text.data(), static_cast<int32_t>(text.size())) == 1;
}

inline std::string fetch_record(database* db, int k) {
  char buf[64];
  int32_t length = 0;
  if (!database_fetch(db, record_key(k).data(), buf, sizeof buf, &length)) return "<none>";
  return std::string(buf, static_cast<size_t>(length));
}

}  // namespace cachetest
