// The disk cache limits on a real cache tree: files with set modification times, sparse
// files for sizes, links pointing out of the cache, and a clock the test steps.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <string>

#include "client/cache/disk.h"
#include "client/cache/download.h"
#include "client/core/files.h"
#include "client/core/profile.h"
#include "platform/clock.h"
#include "platform/progdir.h"
#include "tests/support/test_util.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t kMB = 1048576;

// Every reading of the clock moves it on by step ms, so that a 50 ms slice holds a known
// number of steps.
std::atomic<uint32_t> now_ms{1000};
std::atomic<uint32_t> step_ms{0};
uint32_t stepping_clock() { return now_ms.fetch_add(step_ms.load()); }

void set_mtime(const std::string& path, time_t when) {
  struct timeval tv[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(lutimes(path.c_str(), tv), 0) << path;
}

class Disk : public ::testing::Test {
 protected:
  void SetUp() override {
    now_ms = 1000;
    step_ms = 0;
    platform_set_clock(stepping_clock);
    platform_set_program_dir(home_.path());
    file_term();
    cache_ = home_.file("cache");
    fs::create_directories(cache_);
    ASSERT_NO_FATAL_FAILURE(ini(""));
    download_init();  // the object cache folder the walk keeps
  }
  void TearDown() override {
    platform_set_clock(nullptr);
    file_term();
  }
  void ini(const std::string& disk_section) {
    testutil::write_file(home_.file("tessel.ini"), "[disk]\n" + disk_section);
    ASSERT_TRUE(profile_init(home_.path().c_str(), "/tessel.ini"));
  }
  // A file of the given apparent size, last used seconds_ago.
  std::string put(const std::string& rel, int64_t size, time_t seconds_ago) {
    std::string path = cache_ + "/" + rel;
    fs::create_directories(fs::path(path).parent_path());
    testutil::write_file(path, "");
    fs::resize_file(path, static_cast<uintmax_t>(size));
    set_mtime(path, time(nullptr) - seconds_ago);
    return path;
  }
  // Runs a whole clean-up at once (a frozen clock never ends a slice).
  void run_now() {
    step_ms = 0;
    now_ms += 900000;
    disk_update();
    ASSERT_EQ(disk_phase(), 0);
  }
  static bool exists(const std::string& p) {
    struct stat st;
    return lstat(p.c_str(), &st) == 0;
  }

  testutil::TempDir home_{"tessel_disk_"};
  std::string cache_;
};

TEST_F(Disk, SettingsAreClampedAsStored) {
  struct Case {
    const char* text;
    int limit, days;
  } cases[] = {
      {"", 100, 0},
      {"limit=5\ndelete=-2\n", 20, 1},
      {"limit=5000\ndelete=500\n", 999, 180},
      {"limit=-3\ndelete=0\n", 20, 0},
      {"limit=0\ndelete=7\n", 0, 7},
      {"limit=1000\ndelete=180\n", 999, 180},
      {"limit=999\ndelete=181\n", 999, 180},
  };
  for (const Case& c : cases) {
    ASSERT_NO_FATAL_FAILURE(ini(c.text));
    disk_init();
    EXPECT_EQ(disk_limit(), c.limit) << c.text;
    EXPECT_EQ(disk_delete_days(), c.days) << c.text;
  }
}

TEST_F(Disk, FirstRunComesAfterThirtySecondsThenEveryFifteenMinutes) {
  ASSERT_NO_FATAL_FAILURE(ini("limit=0\n"));
  disk_init();
  std::string empty = cache_ + "/old/empty";
  fs::create_directories(empty);
  now_ms += 29999;
  disk_update();
  EXPECT_TRUE(exists(empty)) << "not due yet";
  now_ms += 1;
  disk_update();
  EXPECT_FALSE(exists(empty));
  fs::create_directories(empty);
  now_ms += 899000;
  disk_update();
  EXPECT_TRUE(exists(empty)) << "the next run is 15 minutes after the last";
  now_ms += 1000;
  disk_update();
  EXPECT_FALSE(exists(empty));
}

TEST_F(Disk, SizeLimitDeletesOldestFirstDownToTheLimit) {
  ASSERT_NO_FATAL_FAILURE(ini("limit=20\n"));
  disk_init();
  std::string a = put("art/w/models/a.vxx", 8 * kMB, 4000);
  std::string b = put("art/w/textures/b.bmp", 8 * kMB, 3000);
  std::string c = put("c.dat", 8 * kMB, 2000);
  std::string d = put("art/w/d.idx", 8 * kMB, 1000);
  if (HasFatalFailure()) return;
  ASSERT_NO_FATAL_FAILURE(run_now());
  // 32 MB: a (24 MB left) and b (16 MB left) go; c and d stay.
  EXPECT_FALSE(exists(a));
  EXPECT_FALSE(exists(b));
  EXPECT_TRUE(exists(c));
  EXPECT_TRUE(exists(d));
  EXPECT_EQ(disk_total(), 16 * kMB);
  // Exactly at the limit is still too much.
  std::string e = put("e", 4 * kMB, 1500);
  if (HasFatalFailure()) return;
  ASSERT_NO_FATAL_FAILURE(run_now());
  EXPECT_FALSE(exists(c));
  EXPECT_TRUE(exists(e));
  EXPECT_EQ(disk_total(), 12 * kMB);
}

TEST_F(Disk, FileUsedAfterTheWalkIsNotDeleted) {
  ASSERT_NO_FATAL_FAILURE(ini("limit=20\n"));
  disk_init();
  std::string a = put("a", 8 * kMB, 4000);
  std::string b = put("b", 8 * kMB, 3000);
  std::string c = put("c", 8 * kMB, 2000);
  if (HasFatalFailure()) return;
  // One step per update: the slice ends after the second clock reading.
  now_ms += 30000;
  step_ms = 30;
  for (int i = 0; i < 100 && disk_phase() != 2; ++i) disk_update();
  ASSERT_EQ(disk_phase(), 2);
  file_touch(a.c_str());  // opened by some module after the walk saw it
  for (int i = 0; i < 100 && disk_phase() != 0; ++i) disk_update();
  ASSERT_EQ(disk_phase(), 0);
  EXPECT_TRUE(exists(a));
  EXPECT_FALSE(exists(b));
  EXPECT_TRUE(exists(c)) << "16 MB left after b";
}

TEST_F(Disk, FilesTheProgramHoldsOpenStay) {
  ASSERT_NO_FATAL_FAILURE(ini("limit=20\ndelete=1\n"));
  disk_init();
  std::string db = put("art/w/model.dat", 30 * kMB, 10 * 86400);
  std::string other = put("old.bmp", 30 * kMB, 10 * 86400);
  if (HasFatalFailure()) return;
  int fd = open(db.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_NO_FATAL_FAILURE(run_now());
  EXPECT_TRUE(exists(db)) << "an open database keeps its file";
  EXPECT_FALSE(exists(other));
  close(fd);
  ASSERT_NO_FATAL_FAILURE(run_now());
  EXPECT_FALSE(exists(db));
}

TEST_F(Disk, UnusedDaysDeleteFromSevenWholeDays) {
  ASSERT_NO_FATAL_FAILURE(ini("limit=0\ndelete=7\n"));
  disk_init();
  std::string old = put("t/old.bmp", 10, 7 * 86400 + 5);
  std::string young = put("t/young.bmp", 10, 7 * 86400 - 3600);
  if (HasFatalFailure()) return;
  ASSERT_NO_FATAL_FAILURE(run_now());
  EXPECT_FALSE(exists(old));
  EXPECT_TRUE(exists(young));
}

TEST_F(Disk, NoLimitsOnlyRemovesEmptyFoldersButKeepsTheOnesInUse) {
  ASSERT_NO_FATAL_FAILURE(ini("limit=0\ndelete=0\n"));
  disk_init();
  std::string file = put("keep/f", 100, 999999999);
  if (HasFatalFailure()) return;
  fs::create_directories(cache_ + "/gone/deeper");
  // The object cache folder of the current path and everything below it stay.
  std::string objects = std::string(download_get_path()) + "/models";
  fs::create_directories(objects);
  ASSERT_NO_FATAL_FAILURE(run_now());
  EXPECT_TRUE(exists(file));
  EXPECT_FALSE(exists(cache_ + "/gone/deeper"));
  EXPECT_TRUE(exists(cache_ + "/gone")) << "it had an entry during this run";
  EXPECT_TRUE(exists(objects));
  EXPECT_TRUE(exists(cache_)) << "the top folder is never removed";
  ASSERT_NO_FATAL_FAILURE(run_now());
  EXPECT_FALSE(exists(cache_ + "/gone"));
}

TEST_F(Disk, LinksOutOfTheCacheAreNeverFollowedNorDeleted) {
  testutil::TempDir outside("tessel_outside_");
  std::string victim = outside.file("victim.bin");
  std::string victim_dir = outside.file("dir");
  fs::create_directories(victim_dir);
  std::string inner = victim_dir + "/inner.bin";
  for (const std::string& p : {victim, inner}) {
    testutil::write_file(p, "");
    fs::resize_file(p, 30 * kMB);
    ASSERT_NO_FATAL_FAILURE(set_mtime(p, time(nullptr) - 400 * 86400));
  }
  ASSERT_EQ(symlink(victim.c_str(), (cache_ + "/file_link").c_str()), 0);
  ASSERT_EQ(symlink(victim_dir.c_str(), (cache_ + "/dir_link").c_str()), 0);
  ASSERT_NO_FATAL_FAILURE(set_mtime(cache_ + "/file_link", time(nullptr) - 400 * 86400));
  std::string mine = put("mine", 25 * kMB, 500 * 86400 / 2);
  if (HasFatalFailure()) return;
  ASSERT_NO_FATAL_FAILURE(ini("limit=20\ndelete=1\n"));
  disk_init();
  ASSERT_NO_FATAL_FAILURE(run_now());
  EXPECT_TRUE(exists(victim));
  EXPECT_TRUE(exists(inner));
  EXPECT_EQ(fs::file_size(victim), static_cast<uintmax_t>(30 * kMB));
  EXPECT_TRUE(exists(cache_ + "/file_link"));
  EXPECT_TRUE(exists(cache_ + "/dir_link"));
  EXPECT_FALSE(exists(mine)) << "the cache's own old file still goes";
  EXPECT_EQ(disk_total(), 0);
}

TEST_F(Disk, ALoweredLimitRunsAtOnceAndIsStored) {
  ASSERT_NO_FATAL_FAILURE(ini("limit=500\ndelete=3\n"));
  disk_init();
  std::string a = put("a", 30 * kMB, 100);
  if (HasFatalFailure()) return;
  step_ms = 0;
  disk_update();
  EXPECT_EQ(disk_phase(), 0);
  EXPECT_TRUE(exists(a)) << "not due before 30 s";
  disk_apply(25, 3);
  disk_update();
  EXPECT_FALSE(exists(a));
  EXPECT_EQ(profile_int("disk", "limit"), 25);
  EXPECT_EQ(profile_int("disk", "delete"), 3);
  // A raised limit waits for the next run; a lower one runs at once again.
  std::string b = put("b", 50 * kMB, 100);
  if (HasFatalFailure()) return;
  disk_apply(40, 3);
  disk_update();
  EXPECT_TRUE(exists(b));
  disk_apply(30, 3);
  disk_update();
  EXPECT_FALSE(exists(b));
  disk_apply(5, 3);
  EXPECT_EQ(disk_limit(), 20) << "clamped as the settings are";
}

}  // namespace

// How many of the process's open files are folders of the cache.
int open_cache_folders(const std::string& cache) {
  int n = 0;
  for (auto& e : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    fs::path target = fs::read_symlink(e.path(), ec);
    if (!ec && target.string().rfind(cache, 0) == 0 && fs::is_directory(target, ec)) ++n;
  }
  return n;
}

TEST_F(Disk, TheProgramsEndClosesTheFoldersOfAWalkUnderWay) {
  ASSERT_NO_FATAL_FAILURE(ini("limit=20\n"));
  disk_init();
  ASSERT_NO_FATAL_FAILURE(put("art/w/models/a.vxx", kMB, 4000));
  ASSERT_NO_FATAL_FAILURE(put("art/w/textures/b.bmp", kMB, 3000));
  now_ms += 30000;
  step_ms = 30;
  for (int i = 0; i < 100 && open_cache_folders(fs::canonical(cache_).string()) < 3; ++i) disk_update();
  ASSERT_EQ(disk_phase(), 1) << "the walk is under way";
  ASSERT_GE(open_cache_folders(fs::canonical(cache_).string()), 3);
  disk_term();
  EXPECT_EQ(open_cache_folders(fs::canonical(cache_).string()), 0);
  EXPECT_FALSE(disk_running());
}
