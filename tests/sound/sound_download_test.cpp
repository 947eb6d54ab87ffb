// Sounds fetched through the download queue from the standard library's file server on
// loopback: a real wave file inside a zip made by the real zip tool, a URL sound, and damaged
// or missing files, which must stay silent without stopping anything.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/cache/http.h"
#include "sound_fixture.h"
#include "tests/transfer/transfer_util.h"

using namespace sound_test;

namespace {

std::string shell_quote(const std::string& s) { return "'" + s + "'"; }

class SoundDownload : public SoundFixture {
 protected:
  static void SetUpTestSuite() {
    transfer_test::clear_proxy_environment();
    www_ = new testutil::TempDir("tessel_sound_www_");
    server_ = new transfer_test::ServerProcess(transfer_test::file_server_command(www_->path()));
  }
  static void TearDownTestSuite() {
    delete server_;
    delete www_;
  }
  std::string object_path() override {
    tree_ = "w" + std::to_string(++counter_);
    return server_->base() + "/" + tree_;
  }
  void SetUp() override {
    ASSERT_GT(server_->port(), 0);
    ASSERT_EQ(http_init(0), 0);
    SoundFixture::SetUp();
  }
  void TearDown() override {
    SoundFixture::TearDown();
    http_term();
  }

  // A file of the served tree.
  std::string serve(const std::string& rel, const std::string& bytes) {
    std::string path = www_->file(tree_ + "/" + rel);
    transfer_test::write_file(path, bytes);
    return path;
  }
  // A zip made by the zip tool with one member.
  void serve_zip(const std::string& rel, const std::string& member, const std::string& bytes) {
    testutil::TempDir scratch("tessel_sound_zip_");
    testutil::write_file(scratch.file(member), bytes);
    std::string zip = www_->file(tree_ + "/" + rel);
    std::filesystem::create_directories(std::filesystem::path(zip).parent_path());
    std::string cmd = "cd " + shell_quote(scratch.path()) + " && zip -q " + shell_quote(zip) + " " +
                      shell_quote(member);
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }

  static void frame() {
    http_update();
    download_update();
    sound_update();
  }
  static bool queue_idle() {
    char label[64];
    const char* state = nullptr;
    for (int slot = 0; slot < DOWNLOAD_SLOTS; ++slot)
      if (download_line(slot, [](const char*) { return 0; }, label, sizeof label, &state)) return false;
    return true;
  }
  // Frames until done, with a wall-clock limit.
  static bool run_until(const std::function<bool()>& done, int limit_ms = testutil::kWaitMs) {
    return testutil::poll_until([&] {
      frame();
      return done();
    }, limit_ms);
  }

  static testutil::TempDir* www_;
  static transfer_test::ServerProcess* server_;
  static int counter_;
  std::string tree_;
};
testutil::TempDir* SoundDownload::www_ = nullptr;
transfer_test::ServerProcess* SoundDownload::server_ = nullptr;
int SoundDownload::counter_ = 0;

TEST_F(SoundDownload, WaveInsideAZipArrivesAndPlays) {
  std::string wave = wave_bytes(2000);
  ASSERT_NO_FATAL_FAILURE(serve_zip("sounds/Chime.zip", "chime.wav", wave));
  // Named without extension: keyed "Chime.wav", fetched as "Chime.zip", kept as "Chime".
  sound_download("Chime");
  const char* path = sound_entry_path("Chime");
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(std::string(path), std::string(download_get_path()) + "/sounds/Chime");
  EXPECT_FALSE(sound_entry_present("Chime"));
  ASSERT_TRUE(run_until([] { return sound_entry_present("Chime"); }));
  EXPECT_EQ(testutil::read_file(path), wave);
  sound_effect("Chime");
  EXPECT_EQ(rec_.effect, path);
  EXPECT_TRUE(sound_effect_playing());
}

// The disk limit may delete a sound in use: the next time it is needed it is fetched again.
TEST_F(SoundDownload, ASoundDeletedInUseIsFetchedAgainWhenNextNeeded) {
  ASSERT_NO_FATAL_FAILURE(serve_zip("sounds/bell.zip", "bell.wav", wave_bytes(2000)));
  sound_download("bell.wav");
  ASSERT_TRUE(run_until([] { return sound_entry_present("bell.wav"); }));
  const std::string path = sound_entry_path("bell.wav");
  std::filesystem::remove(path);
  sound_effect("bell.wav");
  EXPECT_FALSE(sound_effect_playing());
  ASSERT_TRUE(run_until([&] { return sound_entry_present("bell.wav") && std::filesystem::exists(path); }));
  sound_effect("bell.wav");
  EXPECT_EQ(rec_.effect, path);
}

TEST_F(SoundDownload, UrlSoundIsStoredAsItCame) {
  std::string tune = "MThd fake tune bytes";
  serve("music/Tune.MID", tune);
  std::string url = "HTTP://" + server_->base() + "/" + tree_ + "/music/Tune.MID";
  sound_download(url.c_str());
  const char* path = sound_entry_path(url.c_str());
  ASSERT_NE(path, nullptr);
  // One file of the misc cache, named from the URL in lower case without its slashes.
  std::string name = std::string(path).substr(std::string(path).rfind('/') + 1);
  EXPECT_EQ(std::string(path), home_.path() + "/cache/art/misc/" + name);
  EXPECT_EQ(name.find('/'), std::string::npos);
  EXPECT_NE(name.find("tune.mid"), std::string::npos);
  ASSERT_TRUE(run_until([&] { return sound_entry_present(url.c_str()); }));
  EXPECT_EQ(testutil::read_file(path), tune);
  // As music it is opened when it is the nearest MIDI sound.
  ASSERT_NE(sound_create(url.c_str(), 1, 0, 1), nullptr);
  frame();
  EXPECT_EQ(rec_.music, path);
}

TEST_F(SoundDownload, DamagedOrMissingSoundsStaySilent) {
  serve("sounds/broken.zip", "PK\x03\x04 this is not really a zip archive at all");
  serve("sounds/cut.zip", "");
  ready("hum.wav");
  sound_instance* hum = sound_create("hum.wav", 0, 0, 2);
  sound_download("broken.wav");
  sound_download("cut.wav");
  sound_download("gone.wav");  // 404
  sound_create("broken.wav", 0, 0, 1);
  sound_create("gone.wav", 0, 0, 1);
  ASSERT_TRUE(run_until([] { return queue_idle(); }));
  for (const char* name : {"broken.wav", "cut.wav", "gone.wav"}) {
    EXPECT_FALSE(sound_entry_present(name)) << name;
    sound_effect(name);
  }
  EXPECT_EQ(rec_.count("effect_open"), 0);
  // The sound that is there goes on; the broken ones nearer to the user are not heard.
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 20; ++i) frame();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(rec_.loop, sound_entry_path("hum.wav"));
  sound_destroy(hum);
}

TEST_F(SoundDownload, ResetWhileFetchingIgnoresTheLateArrival) {
  ASSERT_NO_FATAL_FAILURE(serve_zip("sounds/bell.zip", "bell.wav", wave_bytes(500)));
  ASSERT_NO_FATAL_FAILURE(serve_zip("sounds/gong.zip", "gong.wav", wave_bytes(500)));
  sound_download("bell.wav");
  std::string bell = sound_entry_path("bell.wav");
  // A new world before the file came: the entry that asked for it is gone.
  sound_reset();
  sound_download("gong.wav");
  ASSERT_TRUE(run_until([] { return sound_entry_present("gong.wav") && queue_idle(); }));
  EXPECT_FALSE(transfer_test::exists(bell));
  EXPECT_EQ(sound_entry_path("bell.wav"), nullptr);
  EXPECT_EQ(sound_entry_count(), 1);
}

}  // namespace
