// A fresh engine for every test; temporary files in a folder of the test's own.
#ifndef TESSEL_TESTS_ENGINE_FIXTURE_H
#define TESSEL_TESTS_ENGINE_FIXTURE_H

#include "engine/vxl21.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <unistd.h>
#include <string>
#include <vector>

class EngineTest : public ::testing::Test {
 public:
  void SetUp() override {
    ASSERT_TRUE(VxInitialize(nullptr));
    auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           (std::string("vxtest_") + info->test_suite_name() + "_" + info->name() + "_" +
            std::to_string(getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    VxShutdown();
    std::filesystem::remove_all(dir_);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  void write(const std::string& name, const std::string& bytes) const {
    FILE* f = std::fopen(path(name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  std::filesystem::path dir_;
};

// An uncompressed BMP: 8-bit with a palette of `colours` entries, or 24-bit.
inline std::string make_bmp(int w, int h, int bpp, const std::vector<unsigned char>& rows_top_down,
                            int colours = 256) {
  std::string b;
  auto u16 = [&](unsigned v) { b += (char)(v & 255); b += (char)(v >> 8 & 255); };
  auto u32 = [&](unsigned v) { u16(v & 0xffff); u16(v >> 16); };
  int row = ((w * bpp / 8) + 3) & ~3;
  int pal = bpp == 8 ? colours : 0;
  unsigned off = 54 + pal * 4;
  b += "BM";
  u32(off + row * h), u32(0), u32(off);
  u32(40), u32(w), u32(h), u16(1), u16(bpp), u32(0), u32(row * h), u32(0), u32(0);
  u32(bpp == 8 ? colours : 0), u32(0);
  for (int i = 0; i < pal; ++i) b += std::string{(char)i, (char)(255 - i), (char)(i / 2), 0};
  int bytes = w * bpp / 8;
  for (int y = h - 1; y >= 0; --y) {
    b.append((const char*)&rows_top_down[(size_t)y * bytes], bytes);
    b.append(row - bytes, '\0');
  }
  return b;
}

#endif
