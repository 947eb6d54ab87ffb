// The database wrapper over real keyed files: records survive a reopen, stores replace and
// delete, the walk runs in key order, and every kind of damage ends in an empty, working
// database (with message 129 when found in use) while the program goes on.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/cache/cache_fixture.h"

using namespace cachetest;

namespace {

std::vector<uint8_t> key6(int a, int b = 0, int c = 0) {
  return {static_cast<uint8_t>(a), static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(b), static_cast<uint8_t>(b >> 8),
          static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)};
}

std::string fetch_text(database* db, const std::vector<uint8_t>& key) {
  uint8_t* data = nullptr;
  int32_t length = -1;
  if (!database_fetch_unknown(db, key.data(), &data, &length)) return "<none>";
  std::string s(reinterpret_cast<char*>(data), static_cast<size_t>(length));
  EXPECT_EQ(data[length], 0) << "a zero byte follows the record";
  std::free(data);
  return s;
}

bool store_text(database* db, const std::vector<uint8_t>& key, const std::string& text) {
  return database_store(db, key.data(), text.data(), static_cast<int32_t>(text.size())) == 1;
}

uint16_t le16(const std::vector<uint8_t>& b, size_t o) { return static_cast<uint16_t>(b.at(o) | (b.at(o + 1) << 8)); }

}  // namespace

class DatabaseTest : public CacheTest {
 protected:
  database* open_var(const std::string& name, int key = 6, int keep = 0) {
    return database_open(path(name).c_str(), key, 0, 16384, 4096, 0, 0, keep);
  }
  // Stores three records under keys 1, 2, 3 and closes the database.
  void fill_three(const std::string& name, int keep = 0) {
    database* db = open_var(name, 6, keep);
    ASSERT_NE(db, nullptr);
    ASSERT_TRUE(store_text(db, key6(1), "one"));
    ASSERT_TRUE(store_text(db, key6(2), "two"));
    ASSERT_TRUE(store_text(db, key6(3), "three"));
    database_close(db);
  }
  void expect_program_went_on() {
    EXPECT_TRUE(exit_calls().empty());
    EXPECT_EQ(quit_calls(), 0);
  }
};

// ---------------------------------------------------------------- opening and creating

TEST_F(DatabaseTest, FirstOpenCreatesAPairOfTheRequestedShape) {
  database* db = open_var("cell");
  ASSERT_NE(db, nullptr);
  database_close(db);
  auto dat = slurp(path("cell.dat"));
  auto idx = slurp(path("cell.idx"));
  ASSERT_GE(dat.size(), 128u);
  ASSERT_GE(idx.size(), 128u);
  EXPECT_EQ(le16(dat, 64), OL_TYPE_VARIABLE);
  EXPECT_EQ(le16(idx, 64), OL_TYPE_INDEX);
  EXPECT_EQ(le16(idx, 66), 6);
  EXPECT_EQ(idx.at(57), 0) << "no compressed keys were asked for";
  EXPECT_EQ(dat.at(56), 0) << "closed cleanly";
  EXPECT_TRUE(shown().empty());
}

TEST_F(DatabaseTest, CompressedWriteThroughFixedPairCarriesItsModes) {
  database* db = database_open(path("download").c_str(), 50, 50, 4096, 4096, 1, 1);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->data_mode, 0x42);
  EXPECT_EQ(db->index_mode, 0x42);
  EXPECT_EQ(db->fixed, 1);
  database_close(db);
  auto dat = slurp(path("download.dat"));
  auto idx = slurp(path("download.idx"));
  EXPECT_EQ(le16(dat, 64), OL_TYPE_FIXED);
  EXPECT_EQ(le16(dat, 44), 50);
  EXPECT_EQ(idx.at(57), 12) << "both key compressions";
  EXPECT_EQ(le16(idx, 66), 50);
}

TEST_F(DatabaseTest, BackslashPathsNameTheSameFiles) {
  std::filesystem::create_directories(dir / "x");
  database* db = database_open((dir.string() + "\\x\\world").c_str(), 50, 0, 1024, 1024, 1, 1);
  ASSERT_NE(db, nullptr);
  database_close(db);
  EXPECT_TRUE(std::filesystem::exists(dir / "x" / "world.dat"));
  EXPECT_TRUE(std::filesystem::exists(dir / "x" / "world.idx"));
}

// ---------------------------------------------------------------- records

TEST_F(DatabaseTest, VariableRecordsSurviveAReopen) {
  ASSERT_NO_FATAL_FAILURE(fill_three("t"));
  database* db = open_var("t");
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(fetch_text(db, key6(1)), "one");
  EXPECT_EQ(fetch_text(db, key6(2)), "two");
  EXPECT_EQ(fetch_text(db, key6(3)), "three");
  EXPECT_EQ(fetch_text(db, key6(4)), "<none>");
  EXPECT_EQ(database_key_exists(db, key6(3).data()), 1);
  EXPECT_EQ(database_key_exists(db, key6(4).data()), 0);
  database_close(db);
  EXPECT_TRUE(shown().empty());
}

TEST_F(DatabaseTest, FetchNeverWritesPastTheCallersBuffer) {
  database* db = open_var("t");
  ASSERT_NE(db, nullptr);
  ASSERT_TRUE(store_text(db, key6(7), "0123456789"));
  char buf[16];
  std::memset(buf, '#', sizeof buf);
  int32_t length = -1;
  EXPECT_EQ(database_fetch(db, key6(7).data(), buf, 9, &length), 0);
  for (char c : buf) EXPECT_EQ(c, '#');
  EXPECT_EQ(length, -1);
  EXPECT_EQ(database_fetch(db, key6(7).data(), buf, 10, &length), 1);
  EXPECT_EQ(length, 10);
  EXPECT_EQ(std::string(buf, 10), "0123456789");
  EXPECT_EQ(buf[10], '#');
  // A record too large for the buffer is no damage: the database keeps it.
  EXPECT_TRUE(shown().empty());
  EXPECT_EQ(fetch_text(db, key6(7)), "0123456789");
  database_close(db);
}

TEST_F(DatabaseTest, StoringUnderAnExistingKeyLeavesOneRecordAtANewPosition) {
  database* db = open_var("t");
  ASSERT_NE(db, nullptr);
  ASSERT_TRUE(store_text(db, key6(5), "first"));
  int32_t before = GetKey(db->index_file, key6(5).data());
  ASSERT_GT(before, 0);
  ASSERT_TRUE(store_text(db, key6(5), "second, longer"));
  int32_t after = GetKey(db->index_file, key6(5).data());
  EXPECT_GT(after, 0);
  EXPECT_NE(after, before);
  EXPECT_EQ(KeyCount(db->index_file), 1);
  EXPECT_EQ(fetch_text(db, key6(5)), "second, longer");
  database_close(db);
}

// Records stored again and again, larger each time, as a cell is with every object added to
// it: the data file grows with the records, not by their whole size at each store, and after
// a reopen every record reads back as last stored. Both kinds of pair: the cache's own and a
// write-through one.
TEST_F(DatabaseTest, RecordsStoredAgainAndAgainGrowTheFileByTheirGrowth) {
  for (int write_through : {0, 1}) {
    SCOPED_TRACE(write_through);
    const std::string name = "grow" + std::to_string(write_through);
    database* db = database_open(path(name).c_str(), 6, 0, 16384, 4096, 0, write_through);
    ASSERT_NE(db, nullptr);
    for (int k = 1; k <= 3; ++k) ASSERT_TRUE(store_text(db, key6(k), "kept " + std::to_string(k)));
    std::string big, small;
    for (int i = 0; i < 400; ++i) {
      big += std::string(100, static_cast<char>('a' + i % 26));
      small += std::string(37, static_cast<char>('A' + i % 26));
      ASSERT_TRUE(store_text(db, key6(9), big)) << i;
      ASSERT_TRUE(store_text(db, key6(8), small)) << i;
    }
    database_close(db);
    const auto size = static_cast<int64_t>(std::filesystem::file_size(path(name + ".dat")));
    const int64_t records = static_cast<int64_t>(big.size() + small.size());
    EXPECT_LT(size, 4 * records + 32768) << size << " bytes for " << records << " bytes of records";

    db = database_open(path(name).c_str(), 6, 0, 16384, 4096, 0, write_through);
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(fetch_text(db, key6(9)), big);
    EXPECT_EQ(fetch_text(db, key6(8)), small);
    for (int k = 1; k <= 3; ++k) EXPECT_EQ(fetch_text(db, key6(k)), "kept " + std::to_string(k));
    EXPECT_EQ(KeyCount(db->index_file), 5);
    char report[160];
    EXPECT_EQ(CheckOlFile(db->data_file, report, sizeof report), 0) << report;
    database_close(db);
  }
  EXPECT_TRUE(shown().empty());
}

TEST_F(DatabaseTest, LengthZeroDeletesAVariableRecord) {
  database* db = open_var("t");
  ASSERT_NE(db, nullptr);
  ASSERT_TRUE(store_text(db, key6(5), "gone soon"));
  EXPECT_EQ(database_store(db, key6(5).data(), "", 0), 1);
  EXPECT_EQ(database_key_exists(db, key6(5).data()), 0);
  EXPECT_EQ(KeyCount(db->index_file), 0);
  // Deleting an absent key is no error either.
  EXPECT_EQ(database_store(db, key6(6).data(), nullptr, 0), 1);
  database_close(db);
  EXPECT_TRUE(shown().empty());
}

TEST_F(DatabaseTest, FixedRecordsRewriteInPlaceAndPadShortOnes) {
  database* db = database_open(path("dl").c_str(), 50, 50, 4096, 4096, 1, 0);
  ASSERT_NE(db, nullptr);
  std::vector<uint8_t> key(50, 0);
  std::memcpy(key.data(), "models/tree.zip", 15);
  std::vector<uint8_t> rec(50, 'a');
  ASSERT_EQ(database_store(db, key.data(), rec.data(), 50), 1);
  int32_t pos = GetKey(db->index_file, key.data());
  // A record given shorter than the record length is padded, never read past its end.
  ASSERT_EQ(database_store(db, key.data(), "bcd", 3), 1);
  std::vector<uint8_t> out(60, '#');
  int32_t length = -1;
  ASSERT_EQ(database_fetch(db, key.data(), out.data(), 60, &length), 1);
  EXPECT_EQ(length, 50);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()), 3), "bcd");
  for (int i = 3; i < 50; ++i) EXPECT_EQ(out[i], 0) << i;
  EXPECT_EQ(out[50], '#');
  // Length 0 rewrites the whole record.
  std::vector<uint8_t> z(50, 'z');
  ASSERT_EQ(database_store(db, key.data(), z.data(), 0), 1);
  EXPECT_EQ(GetKey(db->index_file, key.data()), pos) << "a fixed record is rewritten where it is";
  std::memset(out.data(), '#', out.size());
  EXPECT_EQ(database_fetch(db, key.data(), out.data(), 49, nullptr), 0) << "buffer one byte short";
  EXPECT_EQ(out[0], '#');
  ASSERT_EQ(database_fetch(db, key.data(), out.data(), 50, nullptr), 1);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 50), z);
  uint8_t* data = nullptr;
  int32_t dl = 0;
  EXPECT_EQ(database_fetch_unknown(db, key.data(), &data, &dl), 0) << "variable records only";
  EXPECT_EQ(data, nullptr);
  database_close(db);
}

// ---------------------------------------------------------------- the walk in key order

TEST_F(DatabaseTest, WalkReturnsKeysInOrderThenEndsThenStartsAgain) {
  database* db = open_var("t");
  ASSERT_NE(db, nullptr);
  ASSERT_TRUE(store_text(db, key6(0x30), "c"));
  ASSERT_TRUE(store_text(db, key6(0x10), "a"));
  ASSERT_TRUE(store_text(db, key6(0x20), "bb"));
  std::vector<std::string> seen;
  uint8_t key[6];
  uint8_t* data = nullptr;
  int32_t length = 0;
  while (database_fetch_next(db, key, &data, &length)) {
    seen.push_back(std::to_string(key[0]) + ":" + std::string(reinterpret_cast<char*>(data), length));
    std::free(data);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"16:a", "32:bb", "48:c"}));
  ASSERT_EQ(database_fetch_next(db, key, &data, &length), 1);
  EXPECT_EQ(key[0], 0x10) << "after the end the walk starts again";
  std::free(data);
  database_close(db);
}

TEST_F(DatabaseTest, LookupsBetweenWalkStepsDoNotMoveTheWalk) {
  database* db = open_var("t");
  ASSERT_NE(db, nullptr);
  for (int k = 1; k <= 5; ++k) ASSERT_TRUE(store_text(db, key6(k), std::string(k, 'x')));
  std::vector<int> order;
  uint8_t key[6];
  uint8_t* data = nullptr;
  while (database_fetch_next(db, key, &data, nullptr)) {
    order.push_back(key[0]);
    std::free(data);
    // The deletion of the one just given, then a lookup of the last key.
    EXPECT_EQ(database_store(db, key, nullptr, 0), 1);
    EXPECT_EQ(database_key_exists(db, key6(5).data()), key[0] == 5 ? 0 : 1);
  }
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(KeyCount(db->index_file), 0);
  database_close(db);
}

TEST_F(DatabaseTest, WalkOverFixedRecordsGivesNothing) {
  database* db = database_open(path("dl").c_str(), 50, 50, 4096, 4096, 1, 0);
  ASSERT_NE(db, nullptr);
  std::vector<uint8_t> key(50, 'k'), rec(50, 'r');
  ASSERT_EQ(database_store(db, key.data(), rec.data(), 50), 1);
  uint8_t out[50];
  uint8_t* data = nullptr;
  EXPECT_EQ(database_fetch_next(db, out, &data, nullptr), 0);
  database_close(db);
}

TEST_F(DatabaseTest, NullHandleDoesNothing) {
  uint8_t key[6] = {}, buf[8];
  uint8_t* data = nullptr;
  int32_t length = 0;
  EXPECT_EQ(database_key_exists(nullptr, key), 0);
  EXPECT_EQ(database_fetch(nullptr, key, buf, 8, &length), 0);
  EXPECT_EQ(database_fetch_unknown(nullptr, key, &data, &length), 0);
  EXPECT_EQ(database_store(nullptr, key, buf, 8), 0);
  EXPECT_EQ(database_fetch_next(nullptr, key, &data, &length), 0);
  database_reset(nullptr);
  database_close(nullptr);
  EXPECT_TRUE(shown().empty());
}

TEST_F(DatabaseTest, ResetEmptiesTheDatabase) {
  ASSERT_NO_FATAL_FAILURE(fill_three("t"));
  database* db = open_var("t");
  ASSERT_NE(db, nullptr);
  database_reset(db);
  EXPECT_EQ(database_key_exists(db, key6(1).data()), 0);
  EXPECT_TRUE(store_text(db, key6(9), "after"));
  database_close(db);
  db = open_var("t");
  EXPECT_EQ(fetch_text(db, key6(9)), "after");
  EXPECT_EQ(fetch_text(db, key6(2)), "<none>");
  database_close(db);
  EXPECT_TRUE(shown().empty());
  expect_program_went_on();
}

// ---------------------------------------------------------------- trace and texts

TEST_F(DatabaseTest, TraceNamesEveryEngineCallWithBothCodes) {
  trace_switches[TRACE_DATABASE] = 1;
  database* db = open_var("tr");
  ASSERT_NE(db, nullptr);
  ASSERT_TRUE(store_text(db, key6(1), "a"));
  ASSERT_TRUE(store_text(db, key6(1), "b"));
  ASSERT_TRUE(database_store(db, key6(1).data(), nullptr, 0));
  database_close(db);
  log_reset();
  std::string log;
  {
    std::ifstream in(path("tessel.log"));
    log.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::string name = path("tr");
  EXPECT_NE(log.find("database_open (" + name + ")"), std::string::npos) << log;
  for (const char* label : {"AvailableFileNbr (data)", "OpenOlFile (data)", "CreateDataFile", "AvailableFileNbr (index)",
                            "CreateIndexFile", "GetKey", "NewVData", "WriteVData", "RenewVData", "ReleaseVData", "DeleteKey",
                            "AddKey", "CloseOlFile (data)", "CloseOlFile (index)"})
    EXPECT_NE(log.find(name + ", " + label + ": "), std::string::npos) << label;
  // The first open of a missing pair fails with the engine's "cannot open" and errno.
  EXPECT_NE(log.find(name + ", OpenOlFile (data): 12, 2"), std::string::npos) << log;
  EXPECT_NE(log.find(name + ", AddKey: 0, "), std::string::npos);
  EXPECT_NE(log.find("database_store (" + name + ")"), std::string::npos);
  EXPECT_NE(log.find("database_close (" + name + ")"), std::string::npos);
}

TEST_F(DatabaseTest, ReplacedRecordsKeyMovesBeforeTheOldPieceIsReleased) {
  // Released first, a crash in between would leave the key pointing at free space.
  trace_switches[TRACE_DATABASE] = 1;
  database* db = open_var("mv");
  ASSERT_NE(db, nullptr);
  ASSERT_TRUE(store_text(db, key6(7), "first"));
  log_reset();
  trace_switches[TRACE_DATABASE] = 1;
  ASSERT_TRUE(store_text(db, key6(7), "second, longer than the first"));
  database_close(db);
  log_reset();
  std::string log;
  {
    std::ifstream in(path("tessel.log"));
    log.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::string name = path("mv");
  size_t add = log.find(name + ", AddKey: ");
  size_t release = log.find(name + ", ReleaseVData: ");
  ASSERT_NE(add, std::string::npos) << log;
  ASSERT_NE(release, std::string::npos) << log;
  EXPECT_LT(add, release) << log;
  EXPECT_EQ(log.find(name + ", DeleteKey: "), std::string::npos) << log;
}

TEST_F(DatabaseTest, ShippedTextsTakeTheWrappersArguments) {
  platform_set_program_dir(std::string(TESSEL_SOURCE_DIR) + "/data");
  msg_reset();
  ASSERT_EQ(msg_load("default"), 1);
  char out[512];
  MsgArg code16[] = {msg_make_arg(static_cast<int16_t>(158)), msg_make_arg(msg(68))};
  EXPECT_TRUE(msg_format(out, sizeof out, msg(129), code16, 2)) << msg(129);
  EXPECT_NE(std::string(out).find("158"), std::string::npos);
  MsgArg code[] = {msg_make_arg(17), msg_make_arg(msg(68))};
  EXPECT_TRUE(msg_format(out, sizeof out, msg(85), code, 2)) << msg(85);
  MsgArg title_first[] = {msg_make_arg(msg(68)), msg_make_arg(17)};
  EXPECT_TRUE(msg_format(out, sizeof out, msg(130), title_first, 2)) << msg(130);
  EXPECT_NE(std::string(out).find("17"), std::string::npos);
}
