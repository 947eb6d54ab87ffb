// The SDL2_mixer output under the silent audio driver (SDL_AUDIODRIVER=dummy): the module
// starts, plays a real small wave file to its end, refuses a damaged one and stops, without
// hanging.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "client/scene/sound.h"
#include "client/ui/sound_backend.h"
#include "client/ui/sound_sdl.h"
#include "sound_fixture.h"

using namespace sound_test;

namespace {

// A type-0 MIDI file with one note.
std::string midi_bytes() {
  std::string track = {
      '\x00', '\xC0', '\x00',                  // program 0
      '\x00', '\x90', '\x3C', '\x40',          // note on C4
      '\x60', '\x80', '\x3C', '\x40',          // note off after 96 ticks
      '\x00', '\xFF', '\x2F', '\x00'};         // end of track
  std::string head = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, '\x60'};
  std::string len = {0, 0, 0, static_cast<char>(track.size())};
  return head + "MTrk" + len + track;
}

// The most this process has held in memory since the mark was last cleared, in KB.
long peak_kb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}
void clear_peak() { std::ofstream("/proc/self/clear_refs") << "5"; }

class SoundSdl : public SoundFixture {
 protected:
  bool start_sound() override { return false; }
  void SetUp() override {
    SoundFixture::SetUp();
    sound_set_backend(nullptr);  // the real output
  }
};

TEST_F(SoundSdl, PlaysARealWaveToItsEnd) {
  ASSERT_EQ(sound_init(), 0) << "the silent driver opens as a device";
  ASSERT_TRUE(sound_available());
  EXPECT_EQ(sound_backend(), sound_sdl_backend());
  put_sound("blip.wav", wave_bytes(2205));  // 0.1 s
  sound_download("blip.wav");
  sound_effect("blip.wav");
  ASSERT_TRUE(sound_effect_playing());
  // The mixer's end notice reaches the module through its frame task.
  EXPECT_TRUE(testutil::poll_until([] {
    sound_update();
    return !sound_effect_playing();
  }, testutil::kWaitMs));
  auto start = std::chrono::steady_clock::now();
  sound_term();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(sound_available());
}

TEST_F(SoundSdl, DamagedWaveIsRefusedAndNothingIsLeftOpen) {
  ASSERT_EQ(sound_init(), 0);
  put_sound("bad.wav", "RIFF\xff\xff\xff\x7fWAVEfmt \x10\0\0\0 garbage after a header");
  put_sound("empty.wav", "");
  put_sound("good.wav", wave_bytes(441));
  for (const char* name : {"bad.wav", "empty.wav"}) {
    sound_download(name);
    sound_effect(name);
    EXPECT_FALSE(sound_effect_playing()) << name;
  }
  // A broken looping sound stays silent; a good effect still plays after it.
  sound_create("bad.wav", 0, 0, 1);
  sound_update();
  sound_download("good.wav");
  sound_effect("good.wav");
  EXPECT_TRUE(sound_effect_playing());
  sound_term();
}

// The mixer converts a whole wave file at once, on the window thread: a file whose header
// would have it convert for seconds into hundreds of megabytes is refused before the mixer
// sees it, and the memory stays where it was; a real sound still plays to its end.
TEST_F(SoundSdl, LyingHeadersAreNotConvertedAndMemoryStaysFlat) {
  SoundBackend* b = sound_sdl_backend();
  ASSERT_EQ(b->wave_devices(), 1);
  std::vector<std::string> paths;
  for (const auto& [name, bytes] : lying_waves()) paths.push_back(put_sound(name, bytes));
  clear_peak();
  long before = peak_kb();
  ASSERT_GT(before, 0);
  for (const std::string& path : paths) {
    EXPECT_NE(b->effect_open(path.c_str()), 0) << path;
    b->effect_close();
    b->loop_play(path.c_str());
  }
  b->loop_play(nullptr);
  EXPECT_LT(peak_kb() - before, 32 * 1024) << "KB held at the peak";
  std::string good = put_sound("good.wav", wave_bytes(2205));
  ASSERT_EQ(b->effect_open(good.c_str()), 0) << b->error_text(1);
  ASSERT_EQ(b->effect_play(), 0);
  EXPECT_TRUE(testutil::poll_until([b] { return b->effect_finished(); }, testutil::kWaitMs));
  b->effect_close();
  b->close();
}

// A FIFO where a sound or a tune should be would hold the window thread in open until a
// writer came: neither the module nor the mixer opens one, and the frames go on.
TEST_F(SoundSdl, AFifoAsASoundHoldsNoFrameUp) {
  ASSERT_EQ(sound_init(), 0);
  std::vector<std::string> fifos;
  for (const char* name : {"pipe.wav", "pipe.mid"}) {
    std::string path = put_sound(name);
    std::filesystem::remove(path);
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    fifos.push_back(path);
  }
  testutil::FifoRelease release(fifos);
  int frames = 0;
  sound_download("pipe.wav");
  sound_download("pipe.mid");
  sound_effect("pipe.wav");
  sound_create("pipe.wav", 0, 0, 1);
  sound_create("pipe.mid", 0, 0, 1);
  for (; frames < 20; ++frames) sound_update();
  SoundBackend* b = sound_backend();
  EXPECT_NE(b->effect_open(fifos[0].c_str()), 0);
  b->loop_play(fifos[0].c_str());
  EXPECT_NE(b->midi_open(fifos[1].c_str()), 0);
  for (; frames < 40; ++frames) sound_update();
  EXPECT_FALSE(release.stop()) << "the window thread waited on a FIFO";
  EXPECT_EQ(frames, 40);
  sound_term();
}

TEST_F(SoundSdl, FailedOpenLeavesEverythingSilent) {
  // An audio driver that cannot open: start-up goes on with sound off.
  const char* was = std::getenv("SDL_AUDIODRIVER");
  std::string saved = was ? was : "";
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(sound_init(), SOUND_NO_DEVICE);
  setenv("SDL_AUDIODRIVER", saved.empty() ? "dummy" : saved.c_str(), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(sound_available());
  put_sound("blip.wav", wave_bytes(441));
  sound_download("blip.wav");
  sound_effect("blip.wav");
  EXPECT_EQ(sound_create("blip.wav", 0, 0, 0), nullptr);
  sound_update();
  EXPECT_FALSE(sound_effect_playing());
  sound_term();
  // The device is there again: the next start opens it.
  EXPECT_EQ(sound_init(), 0);
  sound_term();
}

// The nearest tune or loop swapping back and forth reads and decodes each file once; a file
// replaced since is read again, and a tune past the MIDI size is refused.
TEST_F(SoundSdl, SwappingBackToTheLastTuneOrLoopReadsNothingAgain) {
  SoundBackend* b = sound_sdl_backend();
  ASSERT_EQ(b->midi_devices(), 1);
  const std::string tunes[] = {put_sound("a.mid", midi_bytes()), put_sound("b.mid", midi_bytes())};
  const std::string loops[] = {put_sound("a.wav", wave_bytes(441)), put_sound("b.wav", wave_bytes(441))};
  const int before = sound_sdl_loads();
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(b->midi_open(tunes[i % 2].c_str()), 0) << b->error_text(1);
    b->loop_play(loops[i % 2].c_str());
  }
  EXPECT_EQ(sound_sdl_loads() - before, 4);
  std::string fresh = put_sound("new.mid", midi_bytes());
  std::filesystem::rename(fresh, tunes[0]);
  EXPECT_EQ(b->midi_open(tunes[0].c_str()), 0);
  EXPECT_EQ(sound_sdl_loads() - before, 5);
  std::string long_tune = put_sound("long.mid", midi_bytes() + std::string(SOUND_MIDI_MAX, '\0'));
  EXPECT_NE(b->midi_open(long_tune.c_str()), 0);
  b->close();
}

TEST_F(SoundSdl, MidiAndLoopThroughTheMixer) {
  SoundBackend* b = sound_sdl_backend();
  ASSERT_EQ(b->wave_devices(), 1);
  ASSERT_EQ(b->midi_devices(), 1) << "MIDI decoder with soundfont " << sound_sdl_soundfont();
  std::string mid = put_sound("tune.mid", midi_bytes());
  EXPECT_EQ(b->midi_open(mid.c_str()), 0) << b->error_text(1);
  EXPECT_EQ(b->midi_play(), 0) << b->error_text(1);
  b->set_midi_volume(0x40004000);
  EXPECT_EQ(b->midi_volume(), 0x40004000u);
  EXPECT_EQ(b->midi_close(), 0);
  EXPECT_NE(b->midi_open((mid + ".absent").c_str()), 0);
  EXPECT_NE(b->midi_play(), 0);  // nothing open
  std::string loop = put_sound("loop.wav", wave_bytes(441));
  b->loop_play(loop.c_str());
  b->set_wave_volume(0x80004000);
  EXPECT_EQ(b->wave_volume(), 0x80004000u);
  b->loop_play(nullptr);
  b->close();
  // Closed: calls fail instead of crashing.
  EXPECT_NE(b->effect_open(loop.c_str()), 0);
  EXPECT_NE(b->effect_play(), 0);
  b->loop_play(loop.c_str());
  b->set_wave_volume(SOUND_VOLUME_FULL);
  b->set_midi_volume(SOUND_VOLUME_FULL);
}

}  // namespace
