// Pairs the system refuses (busy, forbidden, full) are left exactly as they are and the box
// names the file and the system's reason; damaged user data says where it was kept; a record
// that cannot be read costs that record and not the rest of a walk.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/cache/cache_fixture.h"
#include "tests/support/in_child.h"

using namespace cachetest;

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

using testutil::in_child;

}  // namespace

class RefusedTest : public CacheTest {
 protected:
  database* open_var(const std::string& name, int keep = 0) {
    return database_open(path(name).c_str(), 6, 0, 4096, 1024, 0, 1, keep);
  }
  void fill(const std::string& name, int keep, int count) {
    database* db = open_var(name, keep);
    ASSERT_NE(db, nullptr);
    for (int k = 1; k <= count; ++k) ASSERT_TRUE(store_record(db, k, "text " + std::to_string(k)));
    database_close(db);
  }
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(RefusedTest, ACacheAnotherProcessHasOpenIsNeitherDeletedNorRebuilt) {
  ASSERT_NO_FATAL_FAILURE(fill("c", 0, 3));
  const auto dat = slurp(path("c.dat")), idx = slurp(path("c.idx"));
  // Another holder of the file (flock conflicts between open files even in one process).
  int other = open(path("c.dat").c_str(), O_RDWR);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(open_var("c"), nullptr);
  close(other);
  ASSERT_EQ(shown().size(), 1u);
  const std::string box = shown()[0];
  EXPECT_EQ(box.rfind("M130 T68 ", 0), 0u) << box;
  EXPECT_TRUE(contains(box, path("c.dat") + ": " + std::strerror(EWOULDBLOCK))) << box;
  EXPECT_TRUE(contains(box, "\n" + dir.string())) << "the folder to put right: " << box;
  EXPECT_EQ(quit_calls(), 1);
  EXPECT_EQ(slurp(path("c.dat")), dat);
  EXPECT_EQ(slurp(path("c.idx")), idx);
  // Once the other holder is gone, everything is still there.
  database* db = open_var("c");
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(fetch_record(db, 1), "text 1");
  EXPECT_EQ(fetch_record(db, 3), "text 3");
  database_close(db);
}

TEST_F(RefusedTest, TelegramsThePersonMayNotWriteAreNotSetAside) {
  ASSERT_NO_FATAL_FAILURE(fill("telegram", 1, 8));
  const auto dat = slurp(path("telegram.dat")), idx = slurp(path("telegram.idx"));
  const auto before = files();
  // As left by a run as another user: the folder is the person's, the files are not theirs
  // to write. (Run as root, the child becomes an ordinary user who owns the folder.)
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(0, chown(dir.c_str(), 65534, 65534));
  }
  chmod(path("telegram.dat").c_str(), 0400);
  chmod(path("telegram.idx").c_str(), 0400);
  std::string got = in_child([&] {
    if (root && (setgid(65534) != 0 || setuid(65534) != 0)) return std::string("no uid");
    database* db = open_var("telegram", 1);
    std::string out = db ? "opened" : "null";
    for (const auto& t : shown()) out += "|" + t;
    return out;
  });
  chmod(path("telegram.dat").c_str(), 0600);
  chmod(path("telegram.idx").c_str(), 0600);
  if (root) {
    ASSERT_EQ(0, chown(dir.c_str(), 0, 0));
  }
  ASSERT_EQ(got.rfind("null|", 0), 0u) << got;
  EXPECT_TRUE(contains(got, "|M130 T68 ")) << got;
  EXPECT_TRUE(contains(got, path("telegram.dat") + ": " + std::strerror(EACCES))) << got;
  EXPECT_TRUE(contains(got, "\n" + dir.string())) << got;
  EXPECT_EQ(files(), before) << "nothing moved aside";
  EXPECT_EQ(slurp(path("telegram.dat")), dat);
  EXPECT_EQ(slurp(path("telegram.idx")), idx);
  database* db = open_var("telegram", 1);
  ASSERT_NE(db, nullptr);
  for (int k = 1; k <= 8; ++k) EXPECT_EQ(fetch_record(db, k), "text " + std::to_string(k));
  database_close(db);
}

TEST_F(RefusedTest, DamagedTelegramsSayWhereTheirFilesWereKept) {
  ASSERT_NO_FATAL_FAILURE(fill("telegram", 1, 3));
  auto dat = slurp(path("telegram.dat"));
  dat.at(56) = 0xFF;  // marked as being updated, never closed
  spit(path("telegram.dat"), dat);
  database* db = open_var("telegram", 1);
  ASSERT_NE(db, nullptr);
  database_close(db);
  ASSERT_EQ(shown().size(), 1u);
  EXPECT_EQ(shown()[0].rfind("M129 ", 0), 0u) << shown()[0];
  EXPECT_TRUE(contains(shown()[0], path("telegram.dat") + " -> " + path("telegram-damaged1.dat"))) << shown()[0];
  EXPECT_TRUE(contains(shown()[0], path("telegram.idx") + " -> " + path("telegram-damaged1.idx"))) << shown()[0];
  // A missing index is damage too, and is told the same way.
  std::filesystem::remove(path("telegram.idx"));
  db = open_var("telegram", 1);
  ASSERT_NE(db, nullptr);
  database_close(db);
  ASSERT_EQ(shown().size(), 2u);
  EXPECT_TRUE(contains(shown()[1], path("telegram.dat") + " -> " + path("telegram-damaged2.dat"))) << shown()[1];
  EXPECT_TRUE(std::filesystem::exists(path("telegram-damaged2.dat")));
}

TEST_F(RefusedTest, AWalkPassesOverARecordThatCannotBeReadAndGivesTheRest) {
  ASSERT_NO_FATAL_FAILURE(fill("telegram", 1, 8));
  database* db = open_var("telegram", 1);
  ASSERT_NE(db, nullptr);
  int32_t pos = GetKey(db->index_file, record_key(4).data());
  database_close(db);
  ASSERT_GT(pos, 0);
  auto dat = slurp(path("telegram.dat"));
  dat.at(static_cast<size_t>(pos)) ^= 0xFF;  // the record's mark
  dat.at(static_cast<size_t>(pos) + 1) ^= 0xFF;
  spit(path("telegram.dat"), dat);
  db = open_var("telegram", 1);
  ASSERT_NE(db, nullptr);
  std::vector<int> seen;
  uint8_t key[6];
  uint8_t* record = nullptr;
  while (database_fetch_next(db, key, &record)) {
    seen.push_back(key[0]);
    std::free(record);
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 5, 6, 7, 8}));
  EXPECT_EQ(db->unreadable, 1);
  database_close(db);
  EXPECT_FALSE(std::filesystem::exists(path("telegram-damaged1.dat")));
}

TEST_F(RefusedTest, AFullDiskLeavesTheStoreAsItWasAndSaysWhy) {
  ASSERT_NO_FATAL_FAILURE(fill("telegram", 1, 3));
  const auto dat = slurp(path("telegram.dat")), idx = slurp(path("telegram.idx"));
  // The file may not grow past its length: the next record needs more room than is left.
  std::string got = in_child([&] {
    signal(SIGXFSZ, SIG_IGN);
    database* db = open_var("telegram", 1);
    if (!db) return std::string("not opened");
    rlimit limit{static_cast<rlim_t>(dat.size()) + 100, RLIM_INFINITY};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return std::string("no limit");
    std::string big(20000, 'x');
    std::string out = store_record(db, 9, big) ? "stored" : "refused";
    out += fetch_record(db, 2) == "text 2" ? " kept" : " lost";
    database_close(db);
    for (const auto& t : shown()) out += "|" + t;
    return out;
  });
  ASSERT_EQ(got.rfind("refused kept|", 0), 0u) << got;
  EXPECT_TRUE(contains(got, "|M129 ")) << got;
  EXPECT_TRUE(contains(got, path("telegram.dat") + ": " + std::strerror(EFBIG))) << got;
  // The data file keeps its length and its header its ends.
  const auto after = slurp(path("telegram.dat"));
  ASSERT_EQ(after.size(), dat.size());
  EXPECT_TRUE(std::equal(after.begin(), after.begin() + 12, dat.begin())) << "physical end, free list, logical end";
  EXPECT_TRUE(std::equal(after.begin() + 128, after.end(), dat.begin() + 128)) << "every record as it was";
  EXPECT_EQ(slurp(path("telegram.idx")), idx);
  EXPECT_FALSE(std::filesystem::exists(path("telegram-damaged1.dat")));
  database* db = open_var("telegram", 1);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(fetch_record(db, 3), "text 3");
  database_close(db);
}
