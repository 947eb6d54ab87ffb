#pragma once
// Shared fixture: a fresh directory per test (the status log lands in the current
// directory), a started engine, and little-endian readers for checking files on disk
// independently of the engine's own structures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "keyfile/ostrel.h"

namespace kftest {

inline std::vector<uint8_t> slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void spit(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

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

class KeyfileTest : public ::testing::Test {
 protected:
  std::filesystem::path dir;
  std::filesystem::path old_cwd;
  int16_t buffers = 64;

  void SetUp() override {
    old_cwd = std::filesystem::current_path();
    char tmpl[] = "/tmp/kftestXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    std::filesystem::current_path(dir);
    ASSERT_EQ(InitKeyedFileEngine(buffers, 20, 4), 0);
  }
  void TearDown() override {
    if (KeyedFileEngineStarted()) StopKeyedFileEngine();
    std::filesystem::current_path(old_cwd);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::string path(const std::string& name) const { return (dir / name).string(); }
  void restart(int16_t nbuf) {
    if (KeyedFileEngineStarted()) StopKeyedFileEngine();
    ASSERT_EQ(InitKeyedFileEngine(nbuf, 20, 4), 0);
  }
};

}  // namespace kftest
