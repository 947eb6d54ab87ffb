// Damaged pairs: whatever was done to the files, the database comes back empty and working,
// the program goes on, and a pair that holds user data is renamed aside first.
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/cache/cache_fixture.h"

using namespace cachetest;

class DamageTest : public CacheTest {
 protected:
  database* open_var(const std::string& name, int keep = 0) {
    return database_open(path(name).c_str(), 6, 0, 16384, 4096, 0, 0, keep);
  }
  // Three records under keys 1..3; returns the position of key 2's record.
  int32_t fill(const std::string& name, int keep = 0) {
    database* db = open_var(name, keep);
    EXPECT_NE(db, nullptr);
    if (!db) return 0;
    EXPECT_TRUE(store_record(db, 1, "one"));
    EXPECT_TRUE(store_record(db, 2, "two"));
    EXPECT_TRUE(store_record(db, 3, "three"));
    int32_t pos = GetKey(db->index_file, record_key(2).data());
    database_close(db);
    return pos;
  }
  // After damage: the database opens (or already is open), is empty and works again.
  void expect_empty_and_working(database* db) {
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(fetch_record(db, 1), "<none>");
    EXPECT_EQ(fetch_record(db, 3), "<none>");
    EXPECT_TRUE(store_record(db, 4, "four"));
    EXPECT_EQ(fetch_record(db, 4), "four");
    EXPECT_TRUE(exit_calls().empty());
    EXPECT_EQ(quit_calls(), 0);
    EXPECT_FALSE(boxes.quit_posted());
  }
};

// ---------------------------------------------------------------- found at open: recreated quietly

TEST_F(DamageTest, MissingIndexRecreatesBothFiles) {
  fill("c");
  std::filesystem::remove(path("c.idx"));
  database* db = open_var("c");
  ASSERT_NO_FATAL_FAILURE(expect_empty_and_working(db));
  database_close(db);
  EXPECT_TRUE(std::filesystem::exists(path("c.idx")));
  EXPECT_TRUE(shown().empty()) << "a cache that does not open is rebuilt without a word";
}

TEST_F(DamageTest, UpdateFlagLeftByACrashRecreates) {
  fill("c");
  auto dat = slurp(path("c.dat"));
  dat.at(56) = 0xFF;  // changed and never closed
  spit(path("c.dat"), dat);
  database* db = open_var("c");
  ASSERT_NO_FATAL_FAILURE(expect_empty_and_working(db));
  database_close(db);
  EXPECT_EQ(slurp(path("c.dat")).at(56), 0);
}

TEST_F(DamageTest, TruncatedDataFileRecreates) {
  fill("c");
  std::filesystem::resize_file(path("c.dat"), 50);
  database* db = open_var("c");
  ASSERT_NO_FATAL_FAILURE(expect_empty_and_working(db));
  database_close(db);
}

TEST_F(DamageTest, FlippedHeaderBytesRecreate) {
  fill("c");
  auto idx = slurp(path("c.idx"));
  for (size_t i = 40; i < 72; ++i) idx.at(i) ^= 0x5A;  // format word, geometry, file type
  spit(path("c.idx"), idx);
  database* db = open_var("c");
  ASSERT_NO_FATAL_FAILURE(expect_empty_and_working(db));
  database_close(db);
}

TEST_F(DamageTest, PairMadeForOtherRecordsIsRecreated) {
  fill("c");
  // Another key length.
  database* db = database_open(path("c").c_str(), 8, 0, 16384, 4096, 0, 0);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(GetFileInfo(db->index_file, OL_INFO_KEYLEN), 8);
  uint8_t key8[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(database_key_exists(db, key8), 0);
  database_close(db);
  // Fixed records where variable ones were.
  db = database_open(path("c").c_str(), 8, 20, 4096, 4096, 0, 0);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(GetFileInfo(db->data_file, OL_INFO_TYPE), OL_TYPE_FIXED);
  std::vector<uint8_t> rec(20, 'r');
  EXPECT_EQ(database_store(db, key8, rec.data(), 20), 1);
  database_close(db);
  // Another record length.
  db = database_open(path("c").c_str(), 8, 30, 4096, 4096, 0, 0);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(GetFileInfo(db->data_file, OL_INFO_RECLEN), 30);
  EXPECT_EQ(database_key_exists(db, key8), 0);
  database_close(db);
  // The same definition again keeps what is there.
  db = database_open(path("c").c_str(), 8, 30, 4096, 4096, 0, 0);
  ASSERT_NE(db, nullptr);
  std::vector<uint8_t> r30(30, 's');
  EXPECT_EQ(database_store(db, key8, r30.data(), 30), 1);
  database_close(db);
  db = database_open(path("c").c_str(), 8, 30, 4096, 4096, 0, 0);
  EXPECT_EQ(database_key_exists(db, key8), 1);
  database_close(db);
  EXPECT_TRUE(shown().empty());
}

// ---------------------------------------------------------------- found in use: message 129

TEST_F(DamageTest, DamagedRecordFoundByAFetchShows129AndRebuilds) {
  int32_t pos = fill("c");
  ASSERT_GT(pos, 0);
  auto dat = slurp(path("c.dat"));
  dat.at(static_cast<size_t>(pos)) ^= 0xFF;  // the record's mark
  dat.at(static_cast<size_t>(pos) + 1) ^= 0xFF;
  spit(path("c.dat"), dat);
  database* db = open_var("c");
  ASSERT_NE(db, nullptr);
  EXPECT_TRUE(shown().empty());
  EXPECT_EQ(fetch_record(db, 2), "<none>");
  ASSERT_EQ(shown().size(), 1u);
  EXPECT_EQ(shown()[0].rfind("M129 ", 0), 0u) << shown()[0];
  EXPECT_NE(shown()[0], "M129 0 T68") << "the engine's error code is shown";
  EXPECT_EQ(boxes.boxes()[0].caption, "T68");
  ASSERT_NO_FATAL_FAILURE(expect_empty_and_working(db));
  database_close(db);
  db = open_var("c");
  EXPECT_EQ(fetch_record(db, 4), "four") << "the rebuilt pair is a sound pair";
  database_close(db);
}

TEST_F(DamageTest, DamagedIndexNodesFoundByALookupShow129AndRebuild) {
  fill("c");
  auto idx = slurp(path("c.idx"));
  ASSERT_GT(idx.size(), 512u);
  for (size_t i = 512; i < idx.size(); ++i) idx[i] = static_cast<uint8_t>(i * 37 + 11);
  spit(path("c.idx"), idx);
  database* db = open_var("c");
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(database_key_exists(db, record_key(2).data()), 0);
  ASSERT_EQ(shown().size(), 1u);
  EXPECT_EQ(shown()[0].rfind("M129 ", 0), 0u) << shown()[0];
  ASSERT_NO_FATAL_FAILURE(expect_empty_and_working(db));
  database_close(db);
}

TEST_F(DamageTest, DamagedFreePieceFoundByAStoreShows129AndRebuilds) {
  int32_t pos = fill("c");
  database* db = open_var("c");
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(database_store(db, record_key(2).data(), nullptr, 0), 1);  // the piece becomes free space
  database_close(db);
  auto dat = slurp(path("c.dat"));
  ASSERT_EQ(dat.at(static_cast<size_t>(pos)), 0xFD);
  dat.at(static_cast<size_t>(pos)) = 0x12;
  dat.at(static_cast<size_t>(pos) + 1) = 0x34;
  spit(path("c.dat"), dat);
  db = open_var("c");
  ASSERT_NE(db, nullptr);
  EXPECT_FALSE(store_record(db, 5, "abc")) << "the new record would go into the damaged piece";
  ASSERT_EQ(shown().size(), 1u);
  EXPECT_EQ(shown()[0].rfind("M129 ", 0), 0u) << shown()[0];
  ASSERT_NO_FATAL_FAILURE(expect_empty_and_working(db));
  database_close(db);
}

// ---------------------------------------------------------------- user data is kept aside

TEST_F(DamageTest, DamagedUserDataIsRenamedAsideBeforeANewPairIsMade) {
  fill("telegram", 1);
  auto dat = slurp(path("telegram.dat"));
  auto idx = slurp(path("telegram.idx"));
  auto flagged = dat;
  flagged.at(56) = 0xFF;
  spit(path("telegram.dat"), flagged);
  database* db = open_var("telegram", 1);
  ASSERT_NO_FATAL_FAILURE(expect_empty_and_working(db));
  database_close(db);
  // The old files are kept whole under a new name, the update flag as it was found.
  EXPECT_EQ(slurp(path("telegram-damaged1.idx")), idx);
  // (The refused open notes the refusal in the header's flag and write counter.)
  auto kept = slurp(path("telegram-damaged1.dat"));
  ASSERT_EQ(kept.size(), dat.size());
  EXPECT_TRUE(std::equal(kept.begin(), kept.begin() + 56, dat.begin()));
  EXPECT_TRUE(std::equal(kept.begin() + 128, kept.end(), dat.begin() + 128)) << "every record kept";
  // A second damage never overwrites the first copy.
  std::filesystem::remove(path("telegram.idx"));
  db = open_var("telegram", 1);
  ASSERT_NE(db, nullptr);
  database_close(db);
  EXPECT_TRUE(std::filesystem::exists(path("telegram-damaged2.dat")));
  EXPECT_FALSE(std::filesystem::exists(path("telegram-damaged2.idx"))) << "there was no index to keep";
  EXPECT_EQ(slurp(path("telegram-damaged1.idx")), idx);
}

TEST_F(DamageTest, UserDataDamagedInUseIsRenamedAsideToo) {
  int32_t pos = fill("telegram", 1);
  auto dat = slurp(path("telegram.dat"));
  dat.at(static_cast<size_t>(pos)) ^= 0xFF;
  spit(path("telegram.dat"), dat);
  database* db = open_var("telegram", 1);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(fetch_record(db, 2), "<none>");
  ASSERT_EQ(shown().size(), 1u);
  EXPECT_EQ(shown()[0].rfind("M129 ", 0), 0u);
  ASSERT_NO_FATAL_FAILURE(expect_empty_and_working(db));
  database_close(db);
  EXPECT_EQ(slurp(path("telegram-damaged1.dat")), dat);
}

TEST_F(DamageTest, CachesAreNotKeptAside) {
  fill("cell");
  std::filesystem::remove(path("cell.idx"));
  database* db = open_var("cell");
  ASSERT_NE(db, nullptr);
  database_close(db);
  EXPECT_FALSE(std::filesystem::exists(path("cell-damaged1.dat")));
}

// ---------------------------------------------------------------- when nothing helps

TEST_F(DamageTest, UserDataThatCanNeitherOpenNorBeCreatedEndsTheProgramWith130) {
  database_set_exits(nullptr, record_exit);  // the default quit asks the Host to end the loop
  std::filesystem::create_directories(path("telegram.dat"));
  database* db = open_var("telegram", 1);
  EXPECT_EQ(db, nullptr);
  ASSERT_EQ(shown().size(), 1u);
  EXPECT_EQ(shown()[0].rfind("M130 T68 ", 0), 0u) << shown()[0];
  EXPECT_NE(shown()[0], "M130 T68 0");
  EXPECT_TRUE(boxes.quit_posted());
  EXPECT_TRUE(exit_calls().empty());
}

// A cache is what can be fetched again: one that can be neither opened nor made is told
// once per run, and what arrives is kept in memory.
TEST_F(DamageTest, ACacheThatCanNeitherOpenNorBeCreatedGoesOnInMemory) {
  database_set_exits(nullptr, record_exit);
  std::filesystem::create_directories(path("c.dat"));
  for (int visit = 0; visit < 2; ++visit) {
    database* db = open_var("c");
    ASSERT_NE(db, nullptr);
    EXPECT_TRUE(store_record(db, 1, "one"));
    EXPECT_EQ(fetch_record(db, 1), "one");
    database_close(db);
  }
  ASSERT_EQ(shown().size(), 1u);
  EXPECT_EQ(shown()[0].rfind("M129 ", 0), 0u) << shown()[0];
  EXPECT_NE(shown()[0].find(path("c.dat") + ": "), std::string::npos) << shown()[0];
  EXPECT_FALSE(boxes.quit_posted());
  EXPECT_TRUE(exit_calls().empty());
  EXPECT_TRUE(std::filesystem::is_directory(path("c.dat")));
}

TEST_F(DamageTest, RebuildThatFailsShows85AndExitsForUserDataAndACacheGoesOn) {
  for (const char* name : {"telegram", "c"}) {
    const int keep = name[0] == 't';
    fill(name, keep);
    database* db = open_var(name, keep);
    ASSERT_NE(db, nullptr);
    // Something takes the data file's name so that it can be neither removed nor created.
    std::filesystem::remove(path(std::string(name) + ".dat"));
    std::filesystem::create_directories(path(std::string(name) + ".dat"));
    database_reset(db);
    if (keep) {
      ASSERT_EQ(shown().size(), 1u);
      EXPECT_EQ(shown()[0].rfind("M85 ", 0), 0u) << shown()[0];
      EXPECT_EQ(exit_calls(), std::vector<int>{1});
      // Were the program to go on, the handle stays harmless.
      EXPECT_EQ(database_key_exists(db, record_key(1).data()), 0);
      EXPECT_FALSE(store_record(db, 1, "x"));
      EXPECT_EQ(shown().size(), 1u);
    } else {
      ASSERT_EQ(shown().size(), 2u);
      EXPECT_EQ(shown()[1].rfind("M129 ", 0), 0u) << shown()[1];
      EXPECT_EQ(exit_calls(), std::vector<int>{1}) << "no second exit";
      EXPECT_EQ(fetch_record(db, 1), "<none>") << "made again empty";
      EXPECT_TRUE(store_record(db, 1, "x"));
      EXPECT_EQ(fetch_record(db, 1), "x");
    }
    database_close(db);
  }
}
