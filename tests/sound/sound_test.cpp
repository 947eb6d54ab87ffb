// The sound module on the recording output: names, effects and their queue, the positional
// sounds' volume and pan, music, switches, the pre-fetch, and a missing device.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "client/core/log.h"
#include "client/servers/attributes.h"
#include "sound_fixture.h"

using namespace sound_test;

namespace {

std::string key(const char* name, bool* url = nullptr) {
  char buffer[512];
  if (!sound_name(name, buffer, sizeof buffer, url)) return "(none)";
  return buffer;
}

uint32_t high(uint32_t v) { return v >> 16; }
uint32_t low(uint32_t v) { return v & 0xFFFFu; }

}  // namespace

TEST(SoundName, ServerSoundsKeyedByExtension) {
  bool url = true;
  // No extension: ".wav" added, letter case kept.
  EXPECT_EQ(key("Bell", &url), "Bell.wav");
  EXPECT_FALSE(url);
  // A known extension: lower case throughout.
  EXPECT_EQ(key("Bell.WAV"), "bell.wav");
  EXPECT_EQ(key("Tune.Mid"), "tune.mid");
  // So two forms of one name may give two entries.
  EXPECT_NE(key("Bell"), key("Bell.wav"));
  // Any other extension, or none after the dot, gives none.
  EXPECT_EQ(key("song.mp3"), "(none)");
  EXPECT_EQ(key("bell."), "(none)");
  EXPECT_EQ(key(".."), "(none)");
  EXPECT_EQ(key(""), "(none)");
  EXPECT_EQ(key(nullptr), "(none)");
}

TEST(SoundName, UrlSounds) {
  bool url = false;
  EXPECT_EQ(key("HTTP://Example.org/Sounds/Ring.WAV", &url), "Example.org/Sounds/Ring.WAV");
  EXPECT_TRUE(url);
  EXPECT_EQ(key("example.org/a/tune.MID"), "example.org/a/tune.MID");
  // A URL sound must say its kind in its last part.
  EXPECT_EQ(key("example.org/ring"), "(none)");
  EXPECT_EQ(key("example.org/ring.wav/more"), "(none)");
  EXPECT_EQ(key("example.org/ring.ogg"), "(none)");
  // A leading '/' is taken from the world's object path.
  const char path[] = "objects.example.org/w1";
  attribute_set(ATTR_OBJECT_PATH, path, sizeof path - 1);
  EXPECT_EQ(key("/extra/ring.wav", &url), "objects.example.org/w1/extra/ring.wav");
  EXPECT_TRUE(url);
  attributes_load(nullptr, 0);
}

TEST(SoundName, RefusesWhatLeavesTheSoundsFolderOrOverflows) {
  // '\' is a folder separator in the system's paths: "..\x" would climb out of "sounds".
  EXPECT_EQ(key("..\\..\\tessel.wav"), "(none)");
  EXPECT_EQ(key("a\\b"), "(none)");
  std::string long_name(600, 'a');
  EXPECT_EQ(key(long_name.c_str()), "(none)");
  char tiny[6];
  EXPECT_FALSE(sound_name("bell", tiny, sizeof tiny, nullptr));  // "bell.wav" needs 9 bytes
  EXPECT_STREQ(tiny, "");
}

class SoundEffects : public SoundFixture {};

TEST_F(SoundEffects, PlaysOnceWithTheSavedVolume) {
  sound_term();
  rec_.wave_level = 0x12345678;
  ASSERT_EQ(sound_init(), 0);
  std::string path = ready("Ding.WAV");
  // The table key is lower case; the file keeps the name as the object gave it.
  EXPECT_EQ(path, sound_entry_path("ding.wav"));
  rec_.clear();
  sound_effect("ding.wav");
  EXPECT_EQ(rec_.calls, (std::vector<std::string>{"effect_open " + path, "effect_play"}));
  ASSERT_FALSE(rec_.wave_volumes.empty());
  EXPECT_EQ(rec_.wave_volumes.back(), 0x12345678u);
  EXPECT_TRUE(sound_effect_playing());
  // The same file again while it plays is not queued.
  sound_effect("ding.wav");
  EXPECT_EQ(sound_queue_length(), 0);
  rec_.finish_effect();
  sound_update();
  EXPECT_FALSE(sound_effect_playing());
  EXPECT_EQ(rec_.count("effect_open"), 1);
  EXPECT_EQ(rec_.count("effect_close"), 1);
}

TEST_F(SoundEffects, QueuedEffectsPlayInTurn) {
  std::string a = ready("a.wav"), b = ready("b.wav"), c = ready("c.wav"), d = ready("d.wav");
  rec_.clear();
  sound_effect("a.wav");
  sound_effect("b.wav");
  sound_effect("c.wav");
  sound_effect("c.wav");  // twice in a row: queued once
  sound_effect("d.wav");
  EXPECT_EQ(sound_queue_length(), 3);
  std::vector<std::string> opened;
  for (int i = 0; i < 6 && sound_effect_playing(); ++i) {
    rec_.finish_effect();
    sound_update();
  }
  EXPECT_FALSE(sound_effect_playing());
  for (const auto& call : rec_.calls)
    if (call.rfind("effect_open ", 0) == 0) opened.push_back(call.substr(12));
  EXPECT_EQ(opened, (std::vector<std::string>{a, b, c, d}));
  EXPECT_EQ(rec_.count("effect_close"), 4);
  EXPECT_EQ(sound_queue_length(), 0);
}

TEST_F(SoundEffects, OneThatCannotOpenOrPlayIsSkipped) {
  std::string a = ready("a.wav"), bad = ready("bad.wav"), mute = ready("mute.wav"), c = ready("c.wav");
  rec_.fail_open.insert(bad);
  rec_.fail_play.insert(mute);
  // Alone: not played, not queued, nothing left open.
  sound_effect("bad.wav");
  EXPECT_FALSE(sound_effect_playing());
  sound_effect("mute.wav");
  EXPECT_FALSE(sound_effect_playing());
  EXPECT_TRUE(rec_.effect.empty());
  // In the queue: passed over for the next one.
  sound_effect("a.wav");
  sound_effect("bad.wav");
  sound_effect("mute.wav");
  sound_effect("c.wav");
  rec_.finish_effect();
  sound_update();
  EXPECT_TRUE(sound_effect_playing());
  EXPECT_EQ(rec_.effect, c);
  EXPECT_EQ(sound_queue_length(), 0);
}

TEST_F(SoundEffects, AbsentFileOrEffectsOffPlayNothing) {
  sound_download("missing.wav");
  EXPECT_FALSE(sound_entry_present("missing.wav"));
  sound_effect("missing.wav");
  // An unknown effect is prepared on the way.
  sound_effect("never.wav");
  EXPECT_NE(sound_entry_path("never.wav"), nullptr);
  EXPECT_EQ(rec_.count("effect_open"), 0);
  ready("x.wav");
  sound_set_effects(0);
  sound_effect("x.wav");
  EXPECT_EQ(rec_.count("effect_open"), 0);
}

class SoundRefused : public SoundFixture {
 protected:
  std::string settings() override { return "[general]\n[debug]\nflush=1\n"; }
  void SetUp() override {
    SoundFixture::SetUp();
    log_init();
  }
  void TearDown() override {
    SoundFixture::TearDown();
    log_reset();
  }
  int log_lines_with(const std::string& text) {
    std::string log = testutil::read_file(home_.file("tessel.log"));
    int n = 0;
    for (size_t at = 0; (at = log.find(text, at)) != std::string::npos; at = log.find('\n', at)) ++n;
    return n;
  }
};

// Wave files whose headers would have the output convert them for seconds into gigabytes,
// a MIDI file past its size and a FIFO where a sound should be, are never handed to the output: each is told once in
// the log however often it is asked for, and stays silent; a real sound beside them plays.
TEST_F(SoundRefused, LyingHeadersAndAFifoNeverReachTheOutput) {
  std::vector<std::string> paths;
  std::vector<std::string> names;
  for (const auto& [name, bytes] : lying_waves()) {
    paths.push_back(put_sound(name, bytes));
    names.push_back(name);
  }
  // A tune larger than a MIDI file may be.
  paths.push_back(put_sound("long.mid", std::string(SOUND_MIDI_MAX + 1, 'M')));
  names.push_back("long.mid");
  for (const char* fifo : {"fifo.wav", "fifo.mid"}) {
    std::string path = put_sound(fifo);
    std::filesystem::remove(path);
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    paths.push_back(path);
    names.push_back(fifo);
  }
  for (const std::string& name : names) {
    sound_download(name.c_str());
    EXPECT_FALSE(sound_entry_present(name.c_str())) << name;
    sound_effect(name.c_str());
    sound_effect(name.c_str());
    EXPECT_NE(sound_create(name.c_str(), 0, 0, 1), nullptr);
  }
  for (int i = 0; i < 3; ++i) sound_update();
  EXPECT_EQ(rec_.count("effect_open"), 0);
  EXPECT_EQ(rec_.count("loop_play"), 0);
  EXPECT_EQ(rec_.count("midi_open"), 0);
  for (const std::string& path : paths) EXPECT_EQ(log_lines_with(path), 1) << path;
  std::string good = ready("good.wav");
  sound_effect("good.wav");
  EXPECT_EQ(rec_.effect, good);
  EXPECT_TRUE(sound_effect_playing());
}

// Resampling costs far more than a copy: a wave of another rate is refused above the
// smaller cap, one of the output's rate converted to the same size is not.
TEST_F(SoundRefused, AWaveOfAnotherRateHasTheSmallerConvertedCap) {
  struct {
    uint32_t rate, data;
    bool fits;
  } cases[] = {{22050, 3u << 20, false}, {44100, 6u << 20, true}, {22050, 1u << 20, true}};
  for (const auto& c : cases) {
    std::string path = put_sound("cap.wav", wave_header(c.rate, 16, c.data));
    int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    std::string why;
    EXPECT_EQ(sound_wave_fits(fd, SOUND_OUTPUT_RATE, SOUND_OUTPUT_FRAME, &why), c.fits) << c.rate << " " << why;
    ::close(fd);
  }
}

class SoundPosition : public SoundFixture {};

TEST_F(SoundPosition, VolumeFallsWithSquaredDistance) {
  std::string path = ready("hum.wav");
  ASSERT_NE(sound_create("hum.wav", 0, 0, 4.5f), nullptr);
  sound_update();
  EXPECT_EQ(rec_.loop, path);
  // d = 20.25 straight ahead: 0.9 x 20 / 40.25 of full on both channels.
  ASSERT_FALSE(rec_.wave_volumes.empty());
  uint32_t v = rec_.wave_volumes.back();
  EXPECT_EQ(high(v), 29307u);
  EXPECT_EQ(low(v), 29307u);
  EXPECT_NEAR(high(v) / 65535.0, 0.9 * 0.497, 0.001);
}

TEST_F(SoundPosition, PanFollowsSideAndYaw) {
  ready("hum.wav");
  // +x is west: with yaw 0 (facing north) the sound is on the left (low word).
  sound_create("hum.wav", 4.5f, 0, 0);
  sound_update();
  uint32_t v = rec_.wave_volumes.back();
  EXPECT_EQ(low(v), 32563u);
  EXPECT_EQ(high(v), 26051u);
  // Turned toward it, it is centred.
  ASSERT_NO_FATAL_FAILURE(place_self(0, 0, 0, 90));
  sound_update();
  v = rec_.wave_volumes.back();
  EXPECT_EQ(low(v), 29307u);
  EXPECT_EQ(high(v), 29307u);
  // Standing on it (same x and z, above it): no pan, d = 4.
  ASSERT_NO_FATAL_FAILURE(place_self(4.5f, 2, 0, 90));
  sound_update();
  v = rec_.wave_volumes.back();
  EXPECT_EQ(low(v), static_cast<uint32_t>(0.9 * 65535 * 20 / 24.0));
  EXPECT_EQ(high(v), low(v));
}

TEST_F(SoundPosition, ChannelsOfTheSavedVolumeStayApart) {
  sound_term();
  rec_.wave_level = 0x80004000;  // right 0x8000, left 0x4000
  ASSERT_EQ(sound_init(), 0);
  ready("hum.wav");
  sound_create("hum.wav", 0, 0, 4.5f);
  sound_update();
  uint32_t v = rec_.wave_volumes.back();
  EXPECT_EQ(high(v), 14654u);
  EXPECT_EQ(low(v), 7327u);
  // The volume found at start is given back at the end.
  sound_term();
  EXPECT_EQ(rec_.wave_level, 0x80004000u);
  EXPECT_EQ(rec_.loop, "");
}

TEST_F(SoundPosition, NearestWaveIsTheLoopingSound) {
  std::string near_path = ready("near.wav"), far_path = ready("far.wav");
  sound_instance* f = sound_create("far.wav", 10, 0, 0);
  sound_instance* n = sound_create("near.wav", 0, 0, 3);
  sound_update();
  EXPECT_EQ(rec_.loop, near_path);
  sound_update();
  EXPECT_EQ(rec_.count("loop_play"), 1);  // not restarted while it stays nearest
  ASSERT_NO_FATAL_FAILURE(place_self(9, 0, 0, 0));
  sound_update();
  EXPECT_EQ(rec_.loop, far_path);
  // Effects switched off stop it at once.
  sound_set_effects(0);
  EXPECT_EQ(rec_.loop, "");
  sound_set_effects(1);
  sound_update();
  EXPECT_EQ(rec_.loop, far_path);
  // With no wave sound left the loop stops.
  sound_destroy(n);
  sound_destroy(f);
  sound_update();
  EXPECT_EQ(rec_.loop, "");
}

TEST_F(SoundPosition, LoopPausesForAnEffectAndComesBack) {
  std::string hum = ready("hum.wav");
  ready("ding.wav");
  sound_instance* i = sound_create("hum.wav", 0, 0, 4.5f);
  sound_update();
  ASSERT_EQ(rec_.loop, hum);
  sound_effect("ding.wav");
  EXPECT_EQ(rec_.loop, "");
  EXPECT_EQ(rec_.wave_volumes.back(), SOUND_VOLUME_FULL);
  sound_update();
  EXPECT_EQ(rec_.loop, "");  // not while the effect plays
  rec_.finish_effect();
  sound_update();
  EXPECT_EQ(rec_.loop, hum);
  sound_destroy(i);
  sound_update();
  EXPECT_EQ(rec_.loop, "");
}

TEST_F(SoundPosition, NearestMidiWithItsVolume) {
  std::string a = ready("a.mid"), b = ready("b.mid");
  sound_create("a.mid", 4.5f, 0, 0);
  sound_create("b.mid", 0, 0, 40);
  sound_update();
  EXPECT_EQ(rec_.music, a);
  EXPECT_EQ(rec_.count("midi_play"), 1);
  uint32_t v = rec_.midi_volumes.back();
  EXPECT_EQ(low(v), 32563u);
  EXPECT_EQ(high(v), 26050u);
  ASSERT_NO_FATAL_FAILURE(place_self(0, 0, 39, 0));
  sound_update();
  EXPECT_EQ(rec_.music, b);
  EXPECT_EQ(rec_.count("midi_close"), 1);
}

TEST_F(SoundPosition, MusicOffClosesAtOnceAndOnReopens) {
  std::string a = ready("a.mid");
  sound_create("a.mid", 1, 0, 0);
  sound_update();
  ASSERT_EQ(rec_.music, a);
  sound_set_music(0);
  EXPECT_EQ(rec_.music, "");
  EXPECT_STREQ(sound_midi_path(), "");
  sound_update();
  EXPECT_EQ(rec_.music, "");
  sound_set_music(1);
  sound_update();
  EXPECT_EQ(rec_.music, a);
  EXPECT_EQ(rec_.count("midi_open"), 2);
}

TEST_F(SoundPosition, ResetFreesEverythingAndOldHandlesAreHarmless) {
  ready("hum.wav");
  sound_instance* i = sound_create("hum.wav", 0, 0, 1);
  ASSERT_NE(i, nullptr);
  sound_reset();
  EXPECT_EQ(sound_entry_count(), 0);
  // An instance that went with the reset is not touched again.
  sound_destroy(i);
  EXPECT_EQ(sound_create("hum.wav", 0, 0, 1), nullptr);  // no entry any more
  sound_update();
  EXPECT_EQ(rec_.loop, "");
}

TEST_F(SoundPosition, PrefetchThirtySecondsAfterReset) {
  testutil::FakeClock clock;
  sound_reset();
  clock.advance(29999);
  sound_update();
  EXPECT_EQ(sound_entry_count(), 0);
  clock.advance(1);
  sound_update();
  EXPECT_EQ(sound_entry_count(), 2);
  EXPECT_NE(sound_entry_path("deport1.wav"), nullptr);
  EXPECT_NE(sound_entry_path("warp1.wav"), nullptr);
}

class SoundNoDevice : public SoundFixture {
  bool start_sound() override { return false; }
};

TEST_F(SoundNoDevice, EveryCallIsSilent) {
  rec_.midis = 0;
  EXPECT_EQ(sound_init(), SOUND_NO_DEVICE);
  EXPECT_FALSE(sound_available());
  put_sound("a.wav");
  sound_download("a.wav");
  EXPECT_EQ(sound_create("a.wav", 0, 0, 0), nullptr);
  sound_effect("a.wav");
  sound_update();
  sound_reset();
  EXPECT_EQ(sound_entry_count(), 0);
  EXPECT_EQ(rec_.count("effect"), 0);
  EXPECT_EQ(rec_.count("loop"), 0);
  rec_.midis = 1;
  rec_.waves = 0;
  EXPECT_EQ(sound_init(), SOUND_NO_DEVICE);
  rec_.waves = 1;
  EXPECT_EQ(sound_init(), 0);
  EXPECT_TRUE(sound_available());
}

class SoundSettings : public SoundFixture {
  std::string settings() override {
    return "[general]\nsound=0\nmusic=1\n[performance]\nurls=0\n";
  }
};

TEST_F(SoundSettings, SwitchesAndUrlOptionAreRead) {
  EXPECT_EQ(sound_effects_on(), 0);
  EXPECT_EQ(sound_music_on(), 1);
  ready("a.wav");
  sound_effect("a.wav");
  EXPECT_EQ(rec_.count("effect_open"), 0);
  // URL sounds are switched off; server sounds are not.
  sound_download("example.org/x/ring.wav");
  EXPECT_EQ(sound_entry_path("example.org/x/ring.wav"), nullptr);
  // The settings page may switch before the device is up: the switch is kept.
  sound_term();
  sound_set_effects(1);
  EXPECT_EQ(sound_effects_on(), 1);
}
