#pragma once
// A program folder with settings, the download queue pointed at an object path, and the sound
// module on the recording output. Sound files are put straight into the object cache.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "client/cache/database.h"
#include "client/cache/download.h"
#include "client/core/files.h"
#include "client/core/profile.h"
#include "client/scene/self.h"
#include "client/scene/sound.h"
#include "client/ui/sound_record.h"
#include "platform/progdir.h"
#include "tests/support/test_util.h"

namespace sound_test {

// A 16-bit mono PCM wave of n samples of a square tone at 22050 Hz.
inline std::string wave_bytes(int samples) {
  auto u32 = [](uint32_t v) {
    return std::string{char(v & 255), char((v >> 8) & 255), char((v >> 16) & 255), char(v >> 24)};
  };
  auto u16 = [](uint16_t v) { return std::string{char(v & 255), char(v >> 8)}; };
  std::string data;
  for (int i = 0; i < samples; ++i) data += u16(static_cast<uint16_t>((i / 20) % 2 ? 8000 : -8000));
  return "RIFF" + u32(36 + data.size()) + "WAVEfmt " + u32(16) + u16(1) + u16(1) + u32(22050) +
         u32(44100) + u16(2) + u16(16) + "data" + u32(data.size()) + data;
}

// The own position the sound module hears from: the self module's, as in the program.
inline void place_self(float x, float y, float z, float yaw) { self_set_position(x, y, z, yaw); }

class SoundFixture : public ::testing::Test {
 protected:
  // Settings lines written to tessel.ini before start-up.
  virtual std::string settings() { return "[general]\n"; }
  virtual std::string object_path() { return "127.0.0.1:9/sound_world"; }
  virtual bool start_sound() { return true; }

  void SetUp() override {
    file_term();
    platform_set_program_dir(home_.path());
    testutil::write_file(home_.file("tessel.ini"), settings());
    ASSERT_TRUE(profile_init(home_.path().c_str(), "/tessel.ini"));
    // The keyed-file engine starts once per process.
    static const int engine = database_init();
    ASSERT_EQ(engine, 0);
    download_init();
    download_set_path(object_path().c_str());
    sound_hook = {};
    ASSERT_NO_FATAL_FAILURE(place_self(0, 0, 0, 0));
    sound_set_backend(&rec_);
    if (start_sound()) {
      ASSERT_EQ(sound_init(), 0);
    }
  }

  void TearDown() override {
    sound_term();
    sound_set_backend(nullptr);
    sound_hook = {};
    download_reset();
    download_term();
    file_term();
  }

  // A sound file already in the object cache's sounds folder (the name as objects give it).
  std::string put_sound(const std::string& name, const std::string& bytes = "RIFF") {
    std::string path = std::string(download_get_path()) + "/sounds/" + name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    testutil::write_file(path, bytes);
    return path;
  }

  // Prepared and on disk; returns its path.
  std::string ready(const std::string& name) {
    std::string path = put_sound(name);
    sound_download(name.c_str());
    EXPECT_TRUE(sound_entry_present(name.c_str())) << name;
    return path;
  }

  testutil::TempDir home_{"tessel_sound_"};
  SoundRecorder rec_;
};

}  // namespace sound_test
