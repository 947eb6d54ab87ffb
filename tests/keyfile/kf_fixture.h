#pragma once
// Shared fixture: a fresh directory per test (the status log lands in the current
// directory), a started engine, and little-endian readers for checking files on disk
// independently of the engine's own structures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "keyfile/ostrel.h"
#include "tests/support/test_util.h"

namespace kftest {

using testutil::slurp;
using testutil::spit;

inline int32_t le32(const std::vector<uint8_t>& b, size_t o) {
  return static_cast<int32_t>(uint32_t(b.at(o)) | (uint32_t(b.at(o + 1)) << 8) | (uint32_t(b.at(o + 2)) << 16) |
                              (uint32_t(b.at(o + 3)) << 24));
}
inline uint16_t le16(const std::vector<uint8_t>& b, size_t o) {
  return static_cast<uint16_t>(b.at(o) | (b.at(o + 1) << 8));
}
inline void put32(std::vector<uint8_t>& b, size_t o, int32_t v) {
  for (int i = 0; i < 4; ++i) b.at(o + i) = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
}
inline void put16(std::vector<uint8_t>& b, size_t o, uint16_t v) {
  b.at(o) = static_cast<uint8_t>(v);
  b.at(o + 1) = static_cast<uint8_t>(v >> 8);
}

// A little-endian field of a file: where, how many bytes (1, 2 or 4), the value it holds.
struct Field {
  size_t at;
  int width;
  int32_t value;
};
inline void expect_fields(const std::vector<uint8_t>& b, size_t base, std::initializer_list<Field> fields) {
  for (const Field& f : fields) {
    const size_t o = base + f.at;
    const int32_t got = f.width == 4 ? le32(b, o) : f.width == 2 ? le16(b, o) : b.at(o);
    EXPECT_EQ(got, f.value) << "offset " << f.at;
  }
}
// Bytes [from, to) all 0xFF, as the engine leaves room nothing has written.
inline void expect_unwritten(const std::vector<uint8_t>& b, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) ASSERT_EQ(b.at(i), 0xFF) << i;
}

class KeyfileTest : public ::testing::Test {
 protected:
  std::filesystem::path dir;
  std::filesystem::path old_cwd;
  int16_t buffers = 64;

  void SetUp() override {
    dir = testutil::enter_fresh_dir("kftest", old_cwd);
    ASSERT_FALSE(dir.empty());
    ASSERT_EQ(InitKeyedFileEngine(buffers, 20, 4), 0);
  }
  void TearDown() override {
    if (KeyedFileEngineStarted()) StopKeyedFileEngine();
    testutil::leave_fresh_dir(dir, old_cwd);
  }
  std::string path(const std::string& name) const { return (dir / name).string(); }
  void restart(int16_t nbuf) {
    if (KeyedFileEngineStarted()) StopKeyedFileEngine();
    ASSERT_EQ(InitKeyedFileEngine(nbuf, 20, 4), 0);
  }
};

}  // namespace kftest
