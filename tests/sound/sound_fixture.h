#pragma once
// A program folder with settings, the download queue pointed at an object path, and the sound
// module on the recording output. Sound files are put straight into the object cache.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

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

// The header of a mono PCM wave: its rate, sample size and the data size it declares.
inline std::string wave_header(uint32_t rate, uint16_t bits, uint32_t declared) {
  auto u32 = [](uint32_t v) {
    return std::string{char(v & 255), char((v >> 8) & 255), char((v >> 16) & 255), char(v >> 24)};
  };
  auto u16 = [](uint16_t v) { return std::string{char(v & 255), char(v >> 8)}; };
  uint16_t block = static_cast<uint16_t>(bits / 8);
  return "RIFF" + u32(36 + declared) + "WAVEfmt " + u32(16) + u16(1) + u16(1) + u32(rate) + u32(rate * block) +
         u16(block) + u16(bits) + "data" + u32(declared);
}

// A 16-bit mono PCM wave of n samples of a square tone at 22050 Hz.
inline std::string wave_bytes(int samples) {
  std::string data;
  for (int i = 0; i < samples; ++i) {
    uint16_t v = static_cast<uint16_t>((i / 20) % 2 ? 8000 : -8000);
    data += std::string{char(v & 255), char(v >> 8)};
  }
  return wave_header(22050, 16, static_cast<uint32_t>(data.size())) + data;
}

// Files named as wave sounds that the output would convert for seconds into hundreds of
// megabytes, or cannot convert at all: a rate no sound card plays, a data size far past what
// the file holds, a low rate with many samples, a fast rate with more frames than are
// resampled in time, and no wave at all.
inline std::vector<std::pair<std::string, std::string>> lying_waves() {
  return {
      {"slow.wav", wave_header(1, 8, 2048) + std::string(2048, '\x40')},   // 1 Hz
      {"tick.wav", wave_header(1, 8, 16) + std::string(16, '\x40')},       // 1 Hz, a few samples
      {"shrill.wav", wave_header(400000, 16, 100) + std::string(100, 0)},  // above any card
      {"huge.wav", wave_header(22050, 16, 0x7FFFFFF0u) + std::string(100, 0)},
      {"dense.wav", wave_header(4000, 8, 1u << 20) + std::string(1u << 20, '\x40')},
      {"fast.wav", wave_header(192000, 8, 3u << 20) + std::string(3u << 20, '\x40')},
      {"ogg.wav", "OggS" + std::string(200, 0)},
  };
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
  std::string put_sound(const std::string& name, const std::string& bytes = wave_bytes(441)) {
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
