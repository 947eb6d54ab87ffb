// The cell cache over a real per-world database: entry layouts of both protocols, the
// update and iteration calls, sector sequences, and the cell and sector arithmetic.
#include "client/scene/cell.h"

#include <arpa/inet.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tests/cache/cache_fixture.h"

using namespace cachetest;

// What the element module would build; here only recorded.
struct element {
  double x, y, z;
  float yaw;
  std::string model, description, action;
  int32_t number, owner, build_time;
};

namespace {

std::vector<element*> made;
bool refuse = false;
std::string world_dir;
int contents_changed = 0;

element* make_element(double x, double y, double z, float yaw, int ml, const char* m, int dl, const char* d, int al,
                      const char* a, int32_t number, int32_t owner, int32_t build_time) {
  if (refuse) return nullptr;
  auto* e = new element{x, y, z, yaw, std::string(m, ml), std::string(d, dl), std::string(a, al), number, owner,
                        build_time};
  made.push_back(e);
  return e;
}

const char* world_path() { return world_dir.c_str(); }
int world_changed() { return contents_changed; }

std::vector<uint8_t> buffer_bytes() {
  int32_t used = 0;
  const uint8_t* p = cell_buffer(&used);
  return std::vector<uint8_t>(p, p + used);
}

}  // namespace

class CellTest : public CacheTest {
 protected:
  void SetUp() override {
    CacheTest::SetUp();
    world_dir = (dir / "world").string();
    std::filesystem::create_directories(world_dir);
    contents_changed = 0;
    refuse = false;
    cell_set_world(world_path, world_changed);
    cell_set_element_create(make_element);
    cell_init();
    cell_set_old(0);
    ASSERT_EQ(cell_reset(), 1);
  }
  void TearDown() override {
    cell_term();
    cell_set_world(nullptr, nullptr);
    cell_set_element_create(nullptr);
    for (auto* e : made) delete e;
    made.clear();
    CacheTest::TearDown();
  }
  // Elements of one cell, in the order the cache gives them.
  std::vector<element> read_cell(int x, int z) {
    for (auto* e : made) delete e;
    made.clear();
    cell_start(x, z);
    element* e = nullptr;
    int guard = 0;
    while (cell_next(&e) && ++guard < 100000) {
    }
    std::vector<element> out;
    for (auto* m : made) out.push_back(*m);
    return out;
  }
  std::vector<int32_t> numbers(int x, int z) {
    std::vector<int32_t> n;
    for (auto& e : read_cell(x, z)) n.push_back(e.number);
    return n;
  }
};

// ---------------------------------------------------------------- arithmetic

TEST(CellArithmetic, SectorsOfTheNewProtocolAreEightCellsAroundZero) {
  cell_set_old(0);
  EXPECT_EQ(cell_sector(-4), 0);
  EXPECT_EQ(cell_sector(3), 0);
  EXPECT_EQ(cell_sector(-5), -1);
  EXPECT_EQ(cell_sector(4), 1);
  EXPECT_EQ(cell_sector(-12), -1);
  EXPECT_EQ(cell_sector(-13), -2);
  EXPECT_EQ(cell_sector(11), 1);
  EXPECT_EQ(cell_sector(12), 2);
  // Cells are 16-bit: 65535 is cell -1.
  EXPECT_EQ(cell_sector(65535), 0);
  EXPECT_EQ(cell_sector(32767), 4096);
  EXPECT_EQ(cell_sector(-32768), -4096);
  cell_set_old(1);
}

TEST(CellArithmetic, SectorsOfTheOldProtocolAreSixCellsAroundZero) {
  cell_set_old(1);
  EXPECT_EQ(cell_sector(-3), 0);
  EXPECT_EQ(cell_sector(2), 0);
  EXPECT_EQ(cell_sector(-4), -1);
  EXPECT_EQ(cell_sector(3), 1);
  EXPECT_EQ(cell_sector(-9), -1);
  EXPECT_EQ(cell_sector(-10), -2);
  EXPECT_EQ(cell_sector(8), 1);
  EXPECT_EQ(cell_sector(9), 2);
}

TEST(CellArithmetic, CoordinateBelongsToTheCellBelowIt) {
  EXPECT_EQ(cell_from_coordinate(-0.5), -1);
  EXPECT_EQ(cell_from_coordinate(0.0), 0);
  EXPECT_EQ(cell_from_coordinate(-1.0), -1);
  EXPECT_EQ(cell_from_coordinate(0.999), 0);
  EXPECT_EQ(cell_from_coordinate(2.5), 2);
  // Boundaries far from zero stay on their cell.
  EXPECT_EQ(cell_from_coordinate(-300.0), -300);
  EXPECT_EQ(cell_from_coordinate(static_cast<double>(-300.0f)), -300);
  EXPECT_EQ(cell_from_coordinate(-300.001), -301);
  EXPECT_EQ(cell_from_coordinate(-32768.0), -32768);
  // Just below zero is the cell below zero.
  EXPECT_EQ(cell_from_coordinate(-0.000001), -1);
  EXPECT_EQ(cell_from_coordinate(-299.999999), -300);
}

TEST(CellArithmetic, CoordinatesFromOutsideNeverMisbehave) {
  EXPECT_EQ(cell_from_coordinate(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(cell_from_coordinate(1e300), std::numeric_limits<int>::max());
  EXPECT_EQ(cell_from_coordinate(-1e300), std::numeric_limits<int>::min());
  EXPECT_EQ(cell_from_coordinate(-std::numeric_limits<double>::infinity()), std::numeric_limits<int>::min());
}

TEST(CellArithmetic, SectorOfACoordinate) {
  cell_set_old(0);
  EXPECT_EQ(cell_sector_from_coordinate(-4.0), 0);
  EXPECT_EQ(cell_sector_from_coordinate(-4.0001), -1);
  EXPECT_EQ(cell_sector_from_coordinate(3.9999), 0);
  EXPECT_EQ(cell_sector_from_coordinate(4.0), 1);
  cell_set_old(1);
  EXPECT_EQ(cell_sector_from_coordinate(-3.0), 0);
  EXPECT_EQ(cell_sector_from_coordinate(-3.5), -1);
}

TEST(CellArithmetic, KeyIsKindXZAsLittleEndianInt16) {
  uint8_t key[CELL_KEY_LENGTH];
  cell_make_key(key, 1, -2, 300);
  EXPECT_EQ(std::vector<uint8_t>(key, key + 6), (std::vector<uint8_t>{0x01, 0x00, 0xFE, 0xFF, 0x2C, 0x01}));
  cell_make_key(key, 0, 0x1234, -32768);
  EXPECT_EQ(std::vector<uint8_t>(key, key + 6), (std::vector<uint8_t>{0x00, 0x00, 0x34, 0x12, 0x00, 0x80}));
}

// ---------------------------------------------------------------- entries

TEST_F(CellTest, NewEntryLayoutByteForByte) {
  cell_update_begin(5, -3, 1);
  cell_element_add(0x01020304, 77, 1000, 500, -20, 999, 3599, "tree.rwx", "oak", "create solid on");
  auto b = buffer_bytes();
  std::vector<uint8_t> head = {0x04, 0x03, 0x02, 0x01, 77, 0, 0, 0, 0xE8, 0x03, 0, 0, 0xF4, 0x01, 0xEC, 0xFF,
                               0xE7, 0x03, 0x0F, 0x0E, 8, 3, 15};
  ASSERT_EQ(b.size(), 23u + 8 + 3 + 15);
  EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 23), head);
  EXPECT_EQ(std::string(b.begin() + 23, b.end()), "tree.rwxoakcreate solid on");
}

TEST_F(CellTest, OldEntryLayoutByteForByte) {
  cell_set_old(1);
  cell_update_begin(0, 0, 1);
  cell_element_add_old(200, static_cast<int32_t>(htonl(0x0A0B0C0D)), static_cast<int32_t>(htonl(5)), 1, 2, 3, 4, 3,
                       "box", 0, "", 2, "hi");
  auto b = buffer_bytes();
  std::vector<uint8_t> want = {200, 0x0A, 0x0B, 0x0C, 0x0D, 0, 0, 0, 5, 1, 0, 2, 0, 3, 0, 4, 0, 3, 0, 2,
                               'b', 'o', 'x', 'h', 'i'};
  EXPECT_EQ(b, want);
}

TEST_F(CellTest, CellReadBackYieldsItsEntriesInOrderAsElements) {
  cell_update_begin(-2, 7, 1);
  cell_element_add(11, 1, 100, 250, 1500, -250, 900, "a.rwx", "first", "");
  cell_element_add(12, 2, 200, 0, 0, 999, -450, "b.rwx", "", "activate url x");
  cell_element_add(13, 3, 300, -1000, 5, 0, 0, "", "", "");
  ASSERT_EQ(cell_update_end(0), 1);
  auto got = read_cell(-2, 7);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].number, 11);
  EXPECT_DOUBLE_EQ(got[0].x, -2 + 0.25);
  EXPECT_DOUBLE_EQ(got[0].y, 1.5);
  EXPECT_DOUBLE_EQ(got[0].z, 7 - 0.25);
  EXPECT_FLOAT_EQ(got[0].yaw, 90.0f);
  EXPECT_EQ(got[0].model, "a.rwx");
  EXPECT_EQ(got[0].description, "first");
  EXPECT_EQ(got[0].action, "");
  EXPECT_EQ(got[0].owner, 1);
  EXPECT_EQ(got[0].build_time, 100);
  EXPECT_EQ(got[1].number, 12);
  EXPECT_FLOAT_EQ(got[1].yaw, -45.0f);
  EXPECT_DOUBLE_EQ(got[1].z, 7.999);
  EXPECT_EQ(got[1].action, "activate url x");
  EXPECT_EQ(got[2].number, 13);
  EXPECT_DOUBLE_EQ(got[2].x, -3.0);
  EXPECT_EQ(got[2].model, "");
  // Another cell is empty.
  EXPECT_TRUE(read_cell(-2, 8).empty());
  EXPECT_TRUE(read_cell(2, 7).empty());
}

TEST_F(CellTest, OldEntriesReadBackWithSignedNumbersAndHostOrderIntegers) {
  cell_set_old(1);
  cell_update_begin(3, 3, 1);
  cell_element_add_old(200, static_cast<int32_t>(htonl(123456)), static_cast<int32_t>(htonl(987654321)), 100, 0,
                       -100, 1800, 3, "box", 4, "desc", 0, nullptr);
  cell_element_add_old(40, static_cast<int32_t>(htonl(1)), 0, 0, 0, 0, 0, 1, "m", 0, nullptr, 0, nullptr);
  ASSERT_EQ(cell_update_end(0), 1);
  auto got = read_cell(3, 3);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].number, -56) << "the one-byte number is signed";
  EXPECT_EQ(got[0].owner, 123456);
  EXPECT_EQ(got[0].build_time, 987654321);
  EXPECT_DOUBLE_EQ(got[0].x, 3.1);
  EXPECT_DOUBLE_EQ(got[0].z, 2.9);
  EXPECT_FLOAT_EQ(got[0].yaw, 180.0f);
  EXPECT_EQ(got[0].model, "box");
  EXPECT_EQ(got[0].description, "desc");
  EXPECT_EQ(got[1].number, 40);
  // Deleting by the one-byte number.
  cell_update_begin(3, 3, 0);
  EXPECT_EQ(cell_element_delete_old(200), 1);
  ASSERT_EQ(cell_update_end(0), 1);
  EXPECT_EQ(numbers(3, 3), std::vector<int32_t>{40});
}

TEST_F(CellTest, DeletingAMissingNumberChangesNothingAndTheMiddleKeepsOrder) {
  cell_update_begin(1, 1, 1);
  for (int n = 1; n <= 4; ++n) cell_element_add(n, 0, 0, n, n, n, 0, "m.rwx", "d", "a");
  auto before = buffer_bytes();
  EXPECT_EQ(cell_element_delete(99), 0);
  EXPECT_EQ(buffer_bytes(), before);
  EXPECT_EQ(cell_element_delete(2), 1);
  EXPECT_EQ(buffer_bytes().size(), before.size() - (23 + 7));
  ASSERT_EQ(cell_update_end(0), 1);
  EXPECT_EQ(numbers(1, 1), (std::vector<int32_t>{1, 3, 4}));
  // Only the first of two equal numbers goes.
  cell_update_begin(1, 1, 0);
  cell_element_add(3, 0, 0, 0, 0, 0, 0, "x", "", "");
  EXPECT_EQ(cell_element_delete(3), 1);
  ASSERT_EQ(cell_update_end(0), 1);
  EXPECT_EQ(numbers(1, 1), (std::vector<int32_t>{1, 4, 3}));
}

TEST_F(CellTest, LiveAddAndDeleteWorkOnTheStoredCell) {
  cell_update_begin(0, 0, 1);
  cell_element_add(1, 0, 0, 0, 0, 0, 0, "a", "", "");
  ASSERT_EQ(cell_update_end(5), 1);
  cell_update_begin(0, 0, 0);  // a live addition keeps what is there
  cell_element_add(2, 0, 0, 0, 0, 0, 0, "b", "", "");
  ASSERT_EQ(cell_update_end(6), 1);
  EXPECT_EQ(numbers(0, 0), (std::vector<int32_t>{1, 2}));
  cell_update_begin(0, 0, 1);  // a whole cell replaces it
  cell_element_add(3, 0, 0, 0, 0, 0, 0, "c", "", "");
  ASSERT_EQ(cell_update_end(7), 1);
  EXPECT_EQ(numbers(0, 0), (std::vector<int32_t>{3}));
}

TEST_F(CellTest, CellWhoseLastEntryGoesLosesItsRecord) {
  cell_update_begin(4, -4, 1);
  cell_element_add(9, 0, 0, 0, 0, 0, 0, "a", "", "");
  ASSERT_EQ(cell_update_end(0), 1);
  cell_update_begin(4, -4, 0);
  EXPECT_EQ(cell_element_delete(9), 1);
  ASSERT_EQ(cell_update_end(0), 1);
  EXPECT_TRUE(read_cell(4, -4).empty());
  cell_term();
  database* db = database_open((world_dir + "/cell").c_str(), 6, 0, 16384, 4096, 0, 0);
  ASSERT_NE(db, nullptr);
  uint8_t key[6];
  cell_make_key(key, 1, 4, -4);
  EXPECT_EQ(database_key_exists(db, key), 0);
  database_close(db);
}

TEST_F(CellTest, TextsLongerThanALengthByteAreCut) {
  std::string big(300, 'q');
  cell_update_begin(0, 1, 1);
  cell_element_add(1, 0, 0, 0, 0, 0, 0, big.c_str(), "d", big.c_str());
  cell_element_add(2, 0, 0, 0, 0, 0, 0, "after", "", "");
  ASSERT_EQ(cell_update_end(0), 1);
  auto got = read_cell(0, 1);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].model, std::string(255, 'q'));
  EXPECT_EQ(got[0].description, "d");
  EXPECT_EQ(got[0].action, std::string(255, 'q'));
  EXPECT_EQ(got[1].model, "after") << "the entry after a long one is intact";
}

// A cell grows past the first buffer up to its cap; adds past the cap are dropped (told once
// in the log for the cell), and what was kept reads back whole.
TEST_F(CellTest, CellsGrowPastTheFirstBufferUpToTheirCap) {
  trace_switches[TRACE_WORLD] = 1;  // a log is kept: the cap's notice goes to it
  cell_update_begin(-7, -7, 1);
  std::string text(200, 'x');
  const int entry = CELL_ENTRY_HEAD + 1 + 200 + 200;
  const int fit = CELL_DATA_LIMIT / entry;
  int added = 0;
  for (int n = 0; n < 600; ++n) added += cell_element_add(n, n, n, 0, 0, 0, 0, "m", text.c_str(), text.c_str());
  EXPECT_EQ(fit, added);
  EXPECT_EQ(static_cast<size_t>(fit * entry), buffer_bytes().size());
  EXPECT_GT(buffer_bytes().size(), 4096u);
  ASSERT_EQ(cell_update_end(1), 1);
  auto got = read_cell(-7, -7);
  ASSERT_EQ(got.size(), static_cast<size_t>(fit));
  for (int n = 0; n < fit; ++n) {
    EXPECT_EQ(got[n].number, n);
    EXPECT_EQ(got[n].description.size(), 200u);
  }
  // A live deletion near the end of the full cell makes room for one more.
  cell_update_begin(-7, -7, 0);
  EXPECT_EQ(cell_element_delete(fit - 2), 1);
  EXPECT_EQ(cell_element_add(900, 0, 0, 0, 0, 0, 0, "m", text.c_str(), text.c_str()), 1);
  EXPECT_EQ(cell_element_add(901, 0, 0, 0, 0, 0, 0, "m", text.c_str(), text.c_str()), 0);
  ASSERT_EQ(cell_update_end(2), 1);
  got = read_cell(-7, -7);
  ASSERT_EQ(got.size(), static_cast<size_t>(fit));
  EXPECT_EQ(got.back().number, 900);
  log_reset();
  std::ifstream in(path("tessel.log"));
  std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t first = log.find("cell (-7, -7) holds");
  EXPECT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.find("cell (-7, -7) holds", first + 1), std::string::npos) << "told once for the cell";
}

// Entries of 256 bytes: the one that brings the cell to exactly its cap is kept, the next is
// not, and the sector is asked for again, so that the server's whole cell brings it.
TEST_F(CellTest, AnEntryThatFillsTheCapExactlyIsKeptAndTheNextDropped) {
  const std::string model(256 - CELL_ENTRY_HEAD, 'm');
  cell_update_begin(0, 8, 1);
  int kept = 0;
  for (int n = 0; n < CELL_DATA_LIMIT / 256; ++n) kept += cell_element_add(n, 0, 0, 0, 0, 0, 0, model.c_str(), "", "");
  EXPECT_EQ(CELL_DATA_LIMIT / 256, kept);
  ASSERT_EQ(cell_update_end(4), 1);
  cell_update_begin(0, 8, 0);
  EXPECT_EQ(0, cell_element_add(kept, 0, 0, 0, 0, 0, 0, "", "", ""));
  ASSERT_EQ(cell_update_end(5), 1);
  EXPECT_EQ(0, cell_sector_sequence(0, 1)) << "the sector is not asked for again";
}

// Adds every 100 ms without pause: the cell is stored about once a second.
TEST_F(CellTest, ACellUpdatedWithoutPauseIsStoredAboutOnceASecond) {
  testutil::FakeClock clock;
  trace_switches[TRACE_GENERAL] = 1;
  for (int n = 0; n < 50; ++n, clock.advance(100), cell_flush()) {
    cell_update_begin(4, 4, 0);
    cell_element_add(n, 0, 0, 0, 0, 0, 0, "m", "", "");
    cell_update_end(n + 1);
  }
  log_reset();
  std::ifstream in(path("tessel.log"));
  int stored = 0;
  for (std::string l; std::getline(in, l);) stored += l.find("cell (4, 4) stored") != std::string::npos;
  EXPECT_NEAR(5, stored, 1);
}

// A stored cell twice the first buffer reads back whole once the cache starts
// again with its buffer as a new process has it; one longer than the cap (left by a build
// without it) is dropped, and its sector asked for anew.
TEST_F(CellTest, AStoredCellTwiceTheFirstBufferReadsBackAfterARestart) {
  cell_update_begin(5, -5, 1);
  std::string text(116, 'y');
  for (int n = 0; n < 32; ++n) cell_element_add(n, n, 0, n, 0, 0, 0, "m", text.c_str(), text.c_str());
  ASSERT_EQ(buffer_bytes().size(), 2u * 4096u);
  ASSERT_EQ(cell_update_end(1), 1);
  cell_term();
  cell_init();
  cell_set_old(0);
  ASSERT_EQ(cell_reset(), 1);
  auto got = read_cell(5, -5);
  ASSERT_EQ(got.size(), 32u);
  for (int n = 0; n < 32; ++n) {
    EXPECT_EQ(got[n].number, n);
    EXPECT_EQ(got[n].action, text);
  }
  ASSERT_EQ(cell_sector_set_sequence(cell_sector(9), cell_sector(9), 12), 1);
  cell_term();
  database* db = database_open((world_dir + "/cell").c_str(), 6, 0, 16384, 4096, 0, 0);
  ASSERT_NE(db, nullptr);
  std::vector<uint8_t> huge;
  for (int n = 0; n < 4000; ++n) {
    std::vector<uint8_t> e = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                              0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 'm'};
    huge.insert(huge.end(), e.begin(), e.end());
  }
  uint8_t key[6];
  cell_make_key(key, 1, 9, 9);
  ASSERT_EQ(database_store(db, key, huge.data(), static_cast<int32_t>(huge.size())), 1);
  database_close(db);
  cell_init();
  cell_set_old(0);
  ASSERT_EQ(cell_reset(), 1);
  EXPECT_TRUE(read_cell(9, 9).empty());
  EXPECT_EQ(cell_sector_sequence(cell_sector(9), cell_sector(9)), 0);
  EXPECT_EQ(numbers(5, -5).size(), 32u);
}

TEST_F(CellTest, NoElementMadeStopsWithoutMovingOn) {
  cell_update_begin(2, 2, 1);
  cell_element_add(1, 0, 0, 0, 0, 0, 0, "a", "", "");
  cell_element_add(2, 0, 0, 0, 0, 0, 0, "b", "", "");
  ASSERT_EQ(cell_update_end(0), 1);
  cell_start(2, 2);
  element* e = nullptr;
  refuse = true;
  EXPECT_EQ(cell_next(&e), 0);
  refuse = false;
  ASSERT_EQ(cell_next(&e), 1);
  EXPECT_EQ(e->number, 1) << "the refused entry comes again";
  ASSERT_EQ(cell_next(&e), 1);
  EXPECT_EQ(e->number, 2);
  EXPECT_EQ(cell_next(&e), 0);
}

// ---------------------------------------------------------------- sector sequences

TEST_F(CellTest, UpdateStoresTheSectorSequenceOnlyForPositiveSequencesOfTheNewProtocol) {
  cell_update_begin(-5, 4, 1);
  cell_element_add(1, 0, 0, 0, 0, 0, 0, "a", "", "");
  ASSERT_EQ(cell_update_end(4242), 1);
  EXPECT_EQ(cell_sector_sequence(-1, 1), 4242);
  EXPECT_EQ(cell_sector_sequence(0, 0), 0);
  cell_update_begin(3, -4, 1);  // sector (0, 0)
  cell_element_add(2, 0, 0, 0, 0, 0, 0, "b", "", "");
  ASSERT_EQ(cell_update_end(0), 1);
  EXPECT_EQ(cell_sector_sequence(0, 0), 0);
  ASSERT_EQ(cell_update_end(-9), 1);
  EXPECT_EQ(cell_sector_sequence(0, 0), 0);
  EXPECT_EQ(numbers(3, -4), std::vector<int32_t>{2}) << "the cell itself is stored";
  cell_set_old(1);
  cell_update_begin(3, -4, 1);
  ASSERT_EQ(cell_update_end(77), 1);
  ASSERT_EQ(cell_sector(3), 1);
  ASSERT_EQ(cell_sector(-4), -1);
  EXPECT_EQ(cell_sector_sequence(1, -1), 0) << "the old protocol stores its sectors itself";
  EXPECT_EQ(cell_sector_sequence(0, 0), 0);
  EXPECT_EQ(cell_sector_set_sequence(0, 0, 78), 1);
  EXPECT_EQ(cell_sector_sequence(0, 0), 78);
}

TEST_F(CellTest, SequencesAreKeptPerSectorAndSurviveAReopen) {
  EXPECT_EQ(cell_sector_set_sequence(-3, 2, -1), 1);
  EXPECT_EQ(cell_sector_set_sequence(2, -3, 0x7FFFFFFF), 1);
  EXPECT_EQ(cell_sector_set_sequence(-3, 2, 17), 1);
  ASSERT_EQ(cell_reset(), 1);
  EXPECT_EQ(cell_sector_sequence(-3, 2), 17);
  EXPECT_EQ(cell_sector_sequence(2, -3), 0x7FFFFFFF);
  EXPECT_EQ(cell_sector_sequence(3, -2), 0);
  // A sector record is 4 little-endian bytes under key {0, x, z}.
  cell_term();
  database* db = database_open((world_dir + "/cell").c_str(), 6, 0, 16384, 4096, 0, 0);
  ASSERT_NE(db, nullptr);
  uint8_t key[6], rec[8];
  int32_t length = 0;
  cell_make_key(key, 0, -3, 2);
  ASSERT_EQ(database_fetch(db, key, rec, sizeof rec, &length), 1);
  EXPECT_EQ(std::vector<uint8_t>(rec, rec + length), (std::vector<uint8_t>{17, 0, 0, 0}));
  database_close(db);
}

// ---------------------------------------------------------------- lifecycle

TEST_F(CellTest, ResetOpensTheWorldsDatabaseAndEmptiesItWhenItsContentsChanged) {
  cell_update_begin(1, 2, 1);
  cell_element_add(1, 0, 0, 0, 0, 0, 0, "a", "", "");
  ASSERT_EQ(cell_update_end(9), 1);
  EXPECT_TRUE(std::filesystem::exists(world_dir + "/cell.dat"));
  ASSERT_EQ(cell_reset(), 1);
  EXPECT_EQ(numbers(1, 2), std::vector<int32_t>{1});
  contents_changed = 1;
  ASSERT_EQ(cell_reset(), 1);
  EXPECT_TRUE(numbers(1, 2).empty());
  EXPECT_EQ(cell_sector_sequence(0, 0), 0);
  EXPECT_TRUE(shown().empty());
}

TEST_F(CellTest, EachWorldHasItsOwnCells) {
  cell_update_begin(1, 1, 1);
  cell_element_add(1, 0, 0, 0, 0, 0, 0, "a", "", "");
  ASSERT_EQ(cell_update_end(0), 1);
  std::string first = world_dir;
  world_dir = (dir / "other").string();
  std::filesystem::create_directories(world_dir);
  ASSERT_EQ(cell_reset(), 1);
  EXPECT_TRUE(numbers(1, 1).empty());
  world_dir = first;
  ASSERT_EQ(cell_reset(), 1);
  EXPECT_EQ(numbers(1, 1), std::vector<int32_t>{1});
}

TEST_F(CellTest, WithoutAWorldNothingOpensAndNothingBreaks) {
  cell_set_world(nullptr, nullptr);
  EXPECT_EQ(cell_reset(), 0);
  cell_update_begin(0, 0, 0);
  cell_element_add(1, 0, 0, 0, 0, 0, 0, "a", "", "");
  EXPECT_EQ(cell_update_end(3), 0) << "the sector store failed";
  EXPECT_EQ(cell_update_end(0), 1);
  EXPECT_EQ(cell_sector_sequence(0, 0), 0);
  EXPECT_TRUE(read_cell(0, 0).empty());
}

TEST_F(CellTest, DamagedCellDatabaseIsRebuiltAtReset) {
  cell_update_begin(1, 1, 1);
  cell_element_add(1, 0, 0, 0, 0, 0, 0, "a", "", "");
  ASSERT_EQ(cell_update_end(0), 1);
  cell_term();
  auto idx = slurp(world_dir + "/cell.idx");
  idx.at(56) = 0xFF;  // left changed by a crash
  spit(world_dir + "/cell.idx", idx);
  ASSERT_EQ(cell_reset(), 1);
  EXPECT_TRUE(numbers(1, 1).empty());
  cell_update_begin(1, 1, 1);
  cell_element_add(2, 0, 0, 0, 0, 0, 0, "b", "", "");
  ASSERT_EQ(cell_update_end(0), 1);
  EXPECT_EQ(numbers(1, 1), std::vector<int32_t>{2});
  EXPECT_TRUE(exit_calls().empty());
}

// ---------------------------------------------------------------- untrusted records

TEST_F(CellTest, EntriesWrittenUnderTheOtherProtocolAreReadWithinTheRecord) {
  cell_update_begin(0, 0, 1);
  for (int n = 0; n < 5; ++n) cell_element_add(n, -1, -1, -1, -1, -1, -1, "model.rwx", "desc", "");
  ASSERT_EQ(cell_update_end(0), 1);
  cell_set_old(1);
  auto got = read_cell(0, 0);  // whatever comes out, it comes from inside the record
  size_t bytes = 0;
  for (auto& e : got) bytes += 20 + e.model.size() + e.description.size() + e.action.size();
  EXPECT_LE(bytes, 5u * (23 + 13));
  // An update under the old protocol walks the same bytes safely.
  cell_update_begin(0, 0, 0);
  cell_element_delete_old(250);
  cell_element_add_old(33, 0, 0, 0, 0, 0, 0, 1, "n", 0, "", 0, "");
  ASSERT_EQ(cell_update_end(0), 1);
}

TEST_F(CellTest, TruncatedAndOverlongEntriesStopTheIteration) {
  cell_term();
  database* db = database_open((world_dir + "/cell").c_str(), 6, 0, 16384, 4096, 0, 0);
  ASSERT_NE(db, nullptr);
  // One sound entry, then a head that claims 255 + 255 + 255 text bytes with 4 present.
  std::vector<uint8_t> rec = {7, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 'm'};
  std::vector<uint8_t> bad = {8, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 255, 255, 'a', 'b', 'c', 'd'};
  rec.insert(rec.end(), bad.begin(), bad.end());
  uint8_t key[6];
  cell_make_key(key, 1, 6, 6);
  ASSERT_EQ(database_store(db, key, rec.data(), static_cast<int32_t>(rec.size())), 1);
  // A record shorter than one head.
  cell_make_key(key, 1, 6, 7);
  ASSERT_EQ(database_store(db, key, "\x05\x00\x00", 3), 1);
  // A sector record of the wrong length.
  cell_make_key(key, 0, 1, 1);
  ASSERT_EQ(database_store(db, key, "\x01\x02", 2), 1);
  database_close(db);
  ASSERT_EQ(cell_reset(), 1);
  EXPECT_EQ(numbers(6, 6), std::vector<int32_t>{7});
  EXPECT_TRUE(numbers(6, 7).empty());
  EXPECT_EQ(cell_sector_sequence(1, 1), 0);
  // Deleting walks no further than the sound entries either.
  cell_update_begin(6, 6, 0);
  EXPECT_EQ(cell_element_delete(8), 0);
  EXPECT_EQ(cell_element_delete(7), 1);
}
