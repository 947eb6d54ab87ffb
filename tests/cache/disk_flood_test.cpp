// The disk limits while files arrive: a flood of files made by the test through the program's
// own storing steps (sounds unpacked from small archives, sounds named by address as they
// come from a real file server, pictures converted to BMP) never takes the program directory
// far past the limit, and the files the world has read stay.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "cache_fixture.h"
#include "client/cache/disk.h"
#include "client/cache/download.h"
#include "client/cache/http.h"
#include "client/cache/image.h"
#include "client/cache/unzip.h"
#include "client/core/files.h"
#include "client/core/profile.h"
#include "tests/transfer/transfer_util.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t kMiB = 1048576;
constexpr int64_t kLimit = 20 * kMiB;
// What one step of the flood may add before the next run: one file.
constexpr int64_t kFileBytes = 2 * kMiB;

// Bytes of every regular file under the folder.
int64_t tree_bytes(const std::string& dir) {
  int64_t n = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    struct stat st;
    if (lstat(it->path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) n += st.st_size;
  }
  return n;
}

void age(const std::string& path, time_t seconds) {
  const time_t when = time(nullptr) - seconds;
  struct timeval tv[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(utimes(path.c_str(), tv), 0) << path;
}

int sh(const std::string& command) { return std::system(command.c_str()); }

class DiskFlood : public cachetest::CacheTest {
 protected:
  void SetUp() override {
    CacheTest::SetUp();
    transfer_test::clear_proxy_environment();
    file_term();
    testutil::write_file(path("tessel.ini"), "[disk]\nlimit=20\n");
    ASSERT_TRUE(profile_init(dir.c_str(), "/tessel.ini"));
    www_ = outside_.file("www");
    fs::create_directories(www_ + "/snd");
    server_ = std::make_unique<transfer_test::ServerProcess>(transfer_test::file_server_command(www_));
    ASSERT_GT(server_->port(), 0);
    ASSERT_EQ(http_init(0), 0);
    download_init();
    download_set_path((server_->base() + "/w").c_str());
    disk_init();
  }
  void TearDown() override {
    download_term();
    http_term();
    image_reset();
    disk_term();
    server_.reset();
    file_term();
    CacheTest::TearDown();
  }
  std::string objects() const { return download_get_path(); }

  // One step of the flood: the disk task runs, and the program directory stays within the
  // limit and what one step stores.
  void step() {
    disk_update();
    most_ = std::max(most_, tree_bytes(dir.string()));
  }

  testutil::TempDir outside_{"tessel_flood_"};  // the server's files and the sources
  std::string www_;
  std::unique_ptr<transfer_test::ServerProcess> server_;
  int64_t most_ = 0;
};

void store_arrival(void* user, int status, uint8_t* data, int size) {
  auto* path = static_cast<std::string*>(user);
  if (status == DOWNLOAD_ARRIVED) file_store(path->c_str(), data, static_cast<size_t>(size));
  path->clear();
}

void converted(void* user, int32_t status) { *static_cast<int*>(user) = status == 0 ? 1 : -1; }

TEST_F(DiskFlood, TheLimitHoldsWhileFilesArriveAndTheFilesInUseStay) {
  // The clock stands still: a run, once due, ends within its step; no 30 s start, no
  // 15 minutes pass.
  testutil::FakeClock clock;
  ASSERT_EQ(disk_init(), 0);
  // The world's avatar list and a sequence, read at the world's entry an hour ago.
  const std::string avatars = objects() + "/avatars/avatars.dat";
  const std::string sequence = objects() + "/seqs/walk.seq";
  const std::string list_bytes(kMiB, 'a'), walk_bytes(kMiB, 'w');
  testutil::write_file(avatars, list_bytes);
  testutil::write_file(sequence, walk_bytes);
  file_touch(avatars.c_str());
  file_touch(sequence.c_str());
  ASSERT_NO_FATAL_FAILURE(age(avatars, 3600));
  ASSERT_NO_FATAL_FAILURE(age(sequence, 3600));
  // Files of earlier runs that nothing uses now.
  std::vector<std::string> old;
  for (int i = 0; i < 4; ++i) {
    old.push_back(path("cache/art/elsewhere/models/old" + std::to_string(i) + ".vxx"));
    fs::create_directories(fs::path(old.back()).parent_path());
    testutil::write_file(old.back(), std::string(kMiB, 'o'));
    ASSERT_NO_FATAL_FAILURE(age(old.back(), 86400 * (i + 2)));
  }

  // Sounds of 2 MiB from archives of a few KB.
  const std::string src = outside_.file("src");
  fs::create_directories(src);
  ASSERT_EQ(sh("head -c " + std::to_string(kFileBytes) + " /dev/zero > " + src + "/s.wav && cd " + src +
               " && zip -q s.zip s.wav"),
            0);
  std::vector<uint8_t> archive = testutil::slurp(src + "/s.zip");
  ASSERT_LT(archive.size(), 64u * 1024);
  for (int i = 0; i < 15; ++i) {
    std::vector<uint8_t> copy = archive;
    ASSERT_EQ(unzip_memory(copy.data(), copy.size(), (objects() + "/sounds/s" + std::to_string(i) + ".wav").c_str(),
                           UNZIP_KIND_SOUND),
              UNZIP_OK);
    step();
  }
  EXPECT_LE(most_, kLimit + kFileBytes) << "unpacked sounds";

  // Sounds named by address, stored as they come.
  for (int i = 0; i < 12; ++i) testutil::write_file(www_ + "/snd/u" + std::to_string(i) + ".wav", std::string(kFileBytes, 'u'));
  for (int i = 0; i < 12; ++i) {
    std::string target = path("cache/art/misc/u" + std::to_string(i) + ".wav");
    fs::create_directories(fs::path(target).parent_path());
    ASSERT_NE(download_url((server_->base() + "/snd/u" + std::to_string(i) + ".wav").c_str(), 0, store_arrival, &target),
              nullptr);
    ASSERT_TRUE(testutil::poll_until([&] {
      http_update();
      download_update();
      return target.empty();
    }));
    step();
  }
  EXPECT_LE(most_, kLimit + kFileBytes) << "downloads";

  // Pictures of 1024 x 683 written as 24-bit BMP files of some 2 MiB.
  std::string ppm = "P6\n1024 683\n255\n";
  for (int y = 0; y < 683; ++y)
    for (int x = 0; x < 1024; ++x) ppm += {static_cast<char>(x), static_cast<char>(y), static_cast<char>(x ^ y)};
  testutil::write_file(src + "/p.ppm", ppm);
  ASSERT_EQ(sh("cjpeg -quality 80 -outfile " + src + "/p.jpg " + src + "/p.ppm"), 0);
  std::vector<uint8_t> jpeg = testutil::slurp(src + "/p.jpg");
  for (int i = 0; i < 12; ++i) {
    int done = 0;
    ASSERT_EQ(image_convert(jpeg.data(), jpeg.size(), (objects() + "/textures/p" + std::to_string(i) + ".bmp").c_str(),
                            0, converted, &done),
              0);
    ASSERT_TRUE(testutil::poll_until([&] {
      image_update();
      return done != 0;
    }));
    ASSERT_EQ(done, 1);
    step();
  }
  EXPECT_LE(most_, kLimit + kFileBytes) << "pictures";

  // Nothing the world reads went; what earlier runs left went first.
  EXPECT_TRUE(testutil::read_file(avatars) == list_bytes) << avatars;
  EXPECT_TRUE(testutil::read_file(sequence) == walk_bytes) << sequence;
  for (const std::string& p : old) EXPECT_FALSE(fs::exists(p)) << p;
}

}  // namespace
