// Pairs the system refuses (busy, forbidden, full) are left exactly as they are and the box
// names the file and the system's reason; damaged user data says where it was kept; a record
// that cannot be read costs that record and not the rest of a walk.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
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

using namespace cachetest;
using testutil::in_child;

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

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
  // The store opens again and gives record k as it was filled.
  void expect_kept(const std::string& name, int keep, int k) {
    database* db = open_var(name, keep);
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(fetch_record(db, k), "text " + std::to_string(k));
    database_close(db);
  }
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(dir))
      if (e.path().filename() != "tessel.log") names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

// The person's own store ends the run when it cannot be opened; a cache goes on in memory.
TEST_F(RefusedTest, AStoreAnotherProcessHasOpenIsNeitherDeletedNorRebuilt) {
  ASSERT_NO_FATAL_FAILURE(fill("c", 0, 3));
  ASSERT_NO_FATAL_FAILURE(fill("telegram", 1, 3));
  const auto dat = slurp(path("c.dat")), idx = slurp(path("c.idx"));
  const auto tdat = slurp(path("telegram.dat"));
  const auto before = files();
  // Another holder of the files (flock conflicts between open files even in one process).
  int other = open(path("c.dat").c_str(), O_RDWR), other_t = open(path("telegram.dat").c_str(), O_RDWR);
  ASSERT_GE(other, 0);
  ASSERT_GE(other_t, 0);
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  ASSERT_EQ(flock(other_t, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(open_var("telegram", 1), nullptr);
  ASSERT_EQ(shown().size(), 1u);
  EXPECT_EQ(shown()[0].rfind("M130 T68 ", 0), 0u) << shown()[0];
  EXPECT_TRUE(contains(shown()[0], path("telegram.dat") + ": " + std::strerror(EWOULDBLOCK))) << shown()[0];
  EXPECT_TRUE(contains(shown()[0], "\n" + dir.string())) << "the folder to put right: " << shown()[0];
  EXPECT_EQ(quit_calls(), 1);
  // The cache: told once, and what arrives this run is kept in memory.
  for (int visit = 0; visit < 2; ++visit) {
    database* db = open_var("c");
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(fetch_record(db, 1), "<none>");
    EXPECT_TRUE(store_record(db, 7, "seven"));
    EXPECT_EQ(fetch_record(db, 7), "seven");
    EXPECT_TRUE(store_record(db, 7, ""));
    EXPECT_EQ(database_key_exists(db, record_key(7).data()), 0);
    database_close(db);
  }
  close(other);
  close(other_t);
  ASSERT_EQ(shown().size(), 2u);
  EXPECT_EQ(shown()[1].rfind("M129 ", 0), 0u) << shown()[1];
  EXPECT_TRUE(contains(shown()[1], path("c.dat") + ": " + std::strerror(EWOULDBLOCK))) << shown()[1];
  EXPECT_EQ(quit_calls(), 1) << "a cache never ends the run";
  EXPECT_TRUE(exit_calls().empty());
  EXPECT_EQ(files(), before);
  EXPECT_EQ(slurp(path("c.dat")), dat);
  EXPECT_EQ(slurp(path("c.idx")), idx);
  EXPECT_EQ(slurp(path("telegram.dat")), tdat);
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
  const auto alone = slurp(path("telegram-damaged2.dat"));
  EXPECT_FALSE(alone.empty());
  EXPECT_FALSE(std::filesystem::exists(path("telegram-damaged2.idx")));
  // A later damage of both files never joins or overwrites that one-file copy.
  db = open_var("telegram", 1);
  ASSERT_NE(db, nullptr);
  ASSERT_TRUE(store_record(db, 5, "five"));
  database_close(db);
  auto dat2 = slurp(path("telegram.dat"));
  dat2.at(56) = 0xFF;
  spit(path("telegram.dat"), dat2);
  db = open_var("telegram", 1);
  ASSERT_NE(db, nullptr);
  database_close(db);
  ASSERT_EQ(shown().size(), 3u);
  EXPECT_TRUE(contains(shown()[2], path("telegram.idx") + " -> " + path("telegram-damaged3.idx"))) << shown()[2];
  EXPECT_EQ(slurp(path("telegram-damaged2.dat")), alone);
  EXPECT_FALSE(std::filesystem::exists(path("telegram-damaged2.idx")));
  EXPECT_TRUE(std::filesystem::exists(path("telegram-damaged3.dat")));
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
  ASSERT_NO_FATAL_FAILURE(expect_kept("telegram", 1, 3));
}

// Caches hold what can be fetched again: a full disk is told once per store and run, never
// ends the run, and what arrives is still served, from memory; the files stay as they were.
TEST_F(RefusedTest, AFullDiskTellsEachCacheOnceAndWhatArrivesIsStillServed) {
  ASSERT_NO_FATAL_FAILURE(fill("model", 0, 3));
  const auto dat = slurp(path("model.dat"));
  std::string got = in_child([&] {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{static_cast<rlim_t>(dat.size()) + 100, RLIM_INFINITY};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return std::string("no limit");
    std::string out;
    // Two visits, as on a change of world: both caches are opened again.
    for (int visit = 0; visit < 2; ++visit) {
      database* model = open_var("model");
      database* cell = open_var("cell");
      if (!model || !cell) return std::string("not opened");
      int served = 0;
      for (int k = 10; k < 30; ++k) {
        const std::string big(3000 + k, static_cast<char>('a' + k % 26));
        for (database* db : {model, cell}) {
          if (!store_record(db, k, big)) continue;
          uint8_t* record = nullptr;
          int32_t length = 0;
          if (database_fetch_unknown(db, record_key(k).data(), &record, &length) &&
              std::string(reinterpret_cast<char*>(record), static_cast<size_t>(length)) == big)
            ++served;
          std::free(record);
        }
      }
      out += std::to_string(served) + (fetch_record(model, 2) == "text 2" ? " kept " : " lost ");
      database_close(model);
      database_close(cell);
    }
    out += std::to_string(quit_calls()) + " " + std::to_string(exit_calls().size());
    for (const auto& t : shown()) out += "|" + t;
    return out;
  });
  ASSERT_EQ(got.rfind("40 kept 40 kept 0 0|", 0), 0u) << got;
  const auto boxes_at = [&](const std::string& file) {
    int n = 0;
    for (size_t at = got.find('|'); at != std::string::npos; at = got.find('|', at + 1))
      if (got.compare(at, 5, "|M129") == 0 && got.find(file, at) < got.find('|', at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(std::count(got.begin(), got.end(), '|'), 2) << got;
  EXPECT_EQ(boxes_at(path("model.dat") + ": " + std::strerror(EFBIG)), 1) << got;
  EXPECT_EQ(boxes_at(path("cell.")), 1) << got;
  // Nothing was damaged or made again: the next run finds the cache sound, with what it
  // held and what fitted before the disk was full.
  EXPECT_FALSE(std::filesystem::exists(path("model-damaged1.dat")));
  database* db = open_var("model");
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(fetch_record(db, 1), "text 1");
  EXPECT_EQ(fetch_record(db, 3), "text 3");
  uint8_t* record = nullptr;
  int32_t length = 0;
  for (int k = 10; k < 30; ++k)
    if (database_key_exists(db, record_key(k).data())) {
      ASSERT_EQ(database_fetch_unknown(db, record_key(k).data(), &record, &length), 1) << k;
      EXPECT_EQ(length, 3000 + k);
      std::free(record);
    }
  database_close(db);
  EXPECT_EQ(shown().size(), 0u) << "nothing found wrong";
}

// A refusal that is no damage (a link, a folder, no descriptors left) moves and deletes
// nothing, not even of the person's own store, which would be set aside were it damaged.
TEST_F(RefusedTest, RefusalsOtherThanBusyOrForbiddenLeaveEveryFileInPlace) {
  ASSERT_NO_FATAL_FAILURE(fill("telegram", 1, 3));
  ASSERT_NO_FATAL_FAILURE(fill("c", 0, 3));
  const auto dat = slurp(path("telegram.dat")), idx = slurp(path("telegram.idx"));
  const auto cdat = slurp(path("c.dat"));
  // No descriptor left for the files. The sanitizers' own checks of a call need a descriptor
  // too, so under them this case is left to the plain build.
#if !defined(__SANITIZE_ADDRESS__)
  std::string got = in_child([&] {
    std::vector<int> held;
    for (int fd; (fd = open("/dev/null", O_RDONLY)) >= 0;) held.push_back(fd);
    database* t = open_var("telegram", 1);
    database* c = open_var("c");
    std::string out = std::string(t ? "opened" : "null") + (c ? " cache" : " none");
    for (const auto& text : shown()) out += "|" + text;
    return out;
  });
  EXPECT_EQ(got.rfind("null cache|M130 ", 0), 0u) << got;
  EXPECT_TRUE(contains(got, path("telegram.dat") + ": " + std::strerror(EMFILE))) << got;
  EXPECT_TRUE(contains(got, "|M129 ")) << got;
#endif
  const auto before = files();
  EXPECT_EQ(slurp(path("telegram.dat")), dat);
  EXPECT_EQ(slurp(path("c.dat")), cdat);
  // The index a link to a pair elsewhere; then a folder.
  std::filesystem::create_directories(path("elsewhere"));
  std::filesystem::rename(path("telegram.idx"), path("elsewhere/telegram.idx"));
  std::filesystem::create_symlink(path("elsewhere/telegram.idx"), path("telegram.idx"));
  const auto linked = files();
  EXPECT_EQ(open_var("telegram", 1), nullptr);
  EXPECT_EQ(files(), linked);
  EXPECT_TRUE(std::filesystem::is_symlink(path("telegram.idx")));
  EXPECT_EQ(slurp(path("elsewhere/telegram.idx")), idx);
  std::filesystem::remove(path("telegram.idx"));
  std::filesystem::create_directories(path("telegram.idx"));
  EXPECT_EQ(open_var("telegram", 1), nullptr);
  EXPECT_TRUE(std::filesystem::is_directory(path("telegram.idx")));
  EXPECT_EQ(slurp(path("telegram.dat")), dat);
  ASSERT_EQ(shown().size(), 2u);
  EXPECT_TRUE(contains(shown()[0], path("telegram.idx") + ": " + std::strerror(ELOOP))) << shown()[0];
  EXPECT_TRUE(contains(shown()[1], path("telegram.idx") + ": ")) << shown()[1];
  EXPECT_FALSE(std::filesystem::exists(path("telegram-damaged1.dat")));
  std::filesystem::remove(path("telegram.idx"));
  std::filesystem::rename(path("elsewhere/telegram.idx"), path("telegram.idx"));
  std::filesystem::remove(path("elsewhere"));
  EXPECT_EQ(files(), before);
  ASSERT_NO_FATAL_FAILURE(expect_kept("telegram", 1, 3));
}

// A damaged pair whose index cannot be moved (an immutable file) while its data file can:
// both stay under their own names, whole.
TEST_F(RefusedTest, AnIndexThatCannotBeSetAsideKeepsThePairTogether) {
  ASSERT_NO_FATAL_FAILURE(fill("telegram", 1, 3));
  auto dat = slurp(path("telegram.dat"));
  dat.at(56) = 0xFF;  // changed and never closed: damaged
  spit(path("telegram.dat"), dat);
  const auto idx = slurp(path("telegram.idx"));
  const auto immutable = [&](bool on) {
    int fd = open(path("telegram.idx").c_str(), O_RDONLY);
    int flags = 0;
    bool ok = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0) close(fd);
    return ok;
  };
  if (!immutable(true)) GTEST_SKIP() << "no immutable files here (not root, or the file system has none)";
  database* db = open_var("telegram", 1);
  immutable(false);
  EXPECT_EQ(db, nullptr);
  database_close(db);
  // (The refused open notes the refusal in the header's flag and write counter.)
  const auto now = slurp(path("telegram.dat"));
  ASSERT_EQ(now.size(), dat.size());
  EXPECT_TRUE(std::equal(now.begin(), now.begin() + 56, dat.begin()));
  EXPECT_TRUE(std::equal(now.begin() + 128, now.end(), dat.begin() + 128)) << "every record kept";
  EXPECT_EQ(slurp(path("telegram.idx")), idx);
  EXPECT_FALSE(std::filesystem::exists(path("telegram-damaged1.dat")));
  EXPECT_FALSE(std::filesystem::exists(path("telegram-damaged1.idx")));
  ASSERT_EQ(shown().size(), 1u);
  EXPECT_TRUE(contains(shown()[0], path("telegram.idx") + ": " + std::strerror(EPERM))) << shown()[0];
}

// Damage met right after a full disk is damage: set aside and told so, not blamed on the disk.
TEST_F(RefusedTest, DamageFoundAfterAFullDiskIsToldAsDamage) {
  ASSERT_NO_FATAL_FAILURE(fill("telegram", 1, 3));
  database* db = open_var("telegram", 1);
  ASSERT_NE(db, nullptr);
  const int32_t pos = GetKey(db->index_file, record_key(2).data());
  database_close(db);
  ASSERT_GT(pos, 0);
  auto dat = slurp(path("telegram.dat"));
  dat.at(static_cast<size_t>(pos)) ^= 0xFF;  // the record's mark
  spit(path("telegram.dat"), dat);
  std::string got = in_child([&] {
    signal(SIGXFSZ, SIG_IGN);
    database* t = open_var("telegram", 1);
    if (!t) return std::string("not opened");
    rlimit limit{static_cast<rlim_t>(dat.size()) + 100, RLIM_INFINITY};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return std::string("no limit");
    std::string out = store_record(t, 9, std::string(20000, 'x')) ? "stored" : "refused";
    out += " " + fetch_record(t, 2);
    database_close(t);
    for (const auto& text : shown()) out += "|" + text;
    return out;
  });
  ASSERT_EQ(got.rfind("refused <none>|M129 ", 0), 0u) << got;
  const size_t second = got.find('|', got.find('|') + 1);
  ASSERT_NE(second, std::string::npos) << got;
  const std::string damage = got.substr(second);
  EXPECT_EQ(damage.rfind("|M129 ", 0), 0u) << got;
  EXPECT_TRUE(contains(damage, path("telegram-damaged1.dat"))) << damage;
  EXPECT_FALSE(contains(damage, std::strerror(EFBIG))) << damage;
  const auto kept = slurp(path("telegram-damaged1.dat"));
  ASSERT_EQ(kept.size(), dat.size());
  EXPECT_TRUE(std::equal(kept.begin() + 128, kept.end(), dat.begin() + 128)) << "every record kept";
}

// The person's stores and the caches are theirs alone, whatever the umask, also pairs an
// earlier build left open to others once they are opened again.
TEST_F(RefusedTest, NoOtherUserCanReadTheStores) {
  if (geteuid() != 0) GTEST_SKIP() << "needs to become another user";
  const mode_t old = umask(0);
  ASSERT_NO_FATAL_FAILURE(fill("telegram", 1, 2));
  ASSERT_NO_FATAL_FAILURE(fill("model", 0, 2));
  ASSERT_NO_FATAL_FAILURE(fill("older", 0, 2));
  chmod(path("older.dat").c_str(), 0644);
  chmod(path("older.idx").c_str(), 0666);
  database_close(open_var("older"));
  auto dat = slurp(path("model.dat"));
  dat.at(56) = 0xFF;  // damaged: set aside and made again
  spit(path("model.dat"), dat);
  database_close(open_var("model"));
  auto tdat = slurp(path("telegram.dat"));
  tdat.at(56) = 0xFF;
  spit(path("telegram.dat"), tdat);
  database_close(open_var("telegram", 1));
  umask(old);
  ASSERT_TRUE(std::filesystem::exists(path("telegram-damaged1.dat")));
  // The folder is open to the other user; only the files' own modes stand in the way.
  ASSERT_EQ(0, chmod(dir.c_str(), 0755));
  std::vector<std::string> names;
  for (const auto& f : files())
    if (f != "Messages") names.push_back(f);  // (the trace log is another module's)
  std::string got = in_child([&] {
    if (setgid(65534) != 0 || setuid(65534) != 0) return std::string("no uid");
    std::string out;
    for (const auto& f : names) {
      int fd = open(path(f).c_str(), O_RDONLY);
      out += f + (fd >= 0 ? ":read " : ":refused ");
      if (fd >= 0) close(fd);
    }
    return out;
  });
  EXPECT_GE(names.size(), 8u);
  EXPECT_EQ(got.find(":read"), std::string::npos) << got;
  EXPECT_NE(got.find("telegram.dat:refused"), std::string::npos) << got;
  EXPECT_NE(got.find("older.idx:refused"), std::string::npos) << got;
}
