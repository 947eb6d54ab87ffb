// The record-level layer: keys formed from records by segments, every index kept in step with
// adds, rewrites and deletes (and undone when one refuses), reads by key, in index and physical
// order and within prefix sets, and the lock modes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "keyfile/records.h"
#include "tests/support/test_util.h"

namespace {

using Bytes = std::vector<uint8_t>;

class RecordLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testutil::enter_fresh_dir("kfrec", old_cwd);
    ASSERT_EQ(StartRecordLayer(64, 20, 4, 16, 33), 0);
  }
  void TearDown() override {
    StopRecordLayer();
    testutil::leave_fresh_dir(dir, old_cwd);
  }
  // A data file of 32-byte records: name at 0 (12 bytes), town at 12 (12 bytes), serial at 24,
  // a flag byte at 28. Index 1: name, unique. Index 2: town, duplicates.
  void make_people() {
    ASSERT_EQ(CreateDataFile(0, "people.dat", 32, 0, 0), 0);
    ASSERT_EQ(CreateIndexFile(1, "name.idx", 12, 0, 0, 0, 0, 0), 0);
    ASSERT_EQ(CreateIndexFile(2, "town.idx", 16, 0, 1, 0, 0, 0), 0);
    ASSERT_EQ(SetKeyOptions(1, -1, 0, 0, 0), 0);
    ASSERT_EQ(SetSegment(1, 0, 0, 12, 2), 0);  // upper-cased
    ASSERT_EQ(SetKeyOptions(2, -1, 1, ' ', 0), 0);  // an all-blank town is no key
    ASSERT_EQ(SetSegment(2, 0, 12, 12, 0), 0);
    ASSERT_EQ(SetSerialField(0, 24), 0);
  }
  static Bytes person(const std::string& name, const std::string& town) {
    Bytes r(32, ' ');
    std::memcpy(r.data(), name.data(), name.size());
    std::memcpy(r.data() + 12, town.data(), town.size());
    r[28] = 'p';
    return r;
  }
  static std::string name_of(const Bytes& r) {
    std::string s(r.begin(), r.begin() + 12);
    return s.substr(0, s.find_last_not_of(' ') + 1);
  }
  // The key index forms from a record of the given bytes.
  Bytes key(int16_t index, const Bytes& record) {
    uint8_t out[256];
    int16_t n = FormKey(index, record.data(), out, int32_t(record.size()));
    return n < 0 ? Bytes{} : Bytes(out, out + n);
  }
  std::filesystem::path dir, old_cwd;
};

TEST_F(RecordLayerTest, SegmentModesGiveTheirKeyForms) {
  ASSERT_EQ(CreateDataFile(0, "d.dat", 16, 0, 0), 0);
  ASSERT_EQ(CreateIndexFile(1, "k.idx", 16, 0, 0, 0, 0, 0), 0);
  ASSERT_EQ(SetKeyOptions(1, -1, 0, 0, 0), 0);
  struct Case {
    int16_t mode;
    Bytes field, key;
  } cases[] = {
      {1, {'a', 'b', 'c'}, {'c', 'b', 'a'}},
      {2, {'a', 'Z', '1'}, {'A', 'Z', '1'}},
      {6, {5, 200}, {0xF5, 200}},
      {6, {20, 30}, {(153 - 20) & 0x0F, 153 - 30}},
      {8, {0x01, 0x02}, {0x82, 0x01}},
      {9, {0x01, 0x80}, {0x7F, 0xFE}},
      {9, {0x02, 0x01}, {0x81, 0x02}},
      {0x10, {0x00, 0x0F}, {0xFF, 0xF0}},
      {0x40, {'a', 'b', ' ', 0}, {'b', 'a', 0, ' '}},
      // sign 0, exponent 5, digits 1 and 2: shifted up by 14, exponent 5 - 14.
      {10, {0, 5, 0x21, 0, 0, 0, 0, 0, 0, 0}, {1, uint8_t((5 - 14) & 0xFF) ^ 0x80, 0x21, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    DropSegments(1, 0);
    ASSERT_EQ(SetSegment(1, 0, 2, int16_t(c.field.size()), c.mode), 0);
    Bytes record(16, 0);
    std::memcpy(record.data() + 2, c.field.data(), c.field.size());
    EXPECT_EQ(key(1, record), c.key) << "mode " << c.mode;
    // Back again where the mode allows it (upper case cannot be undone; mode 10 comes back
    // normalised).
    if (c.mode == 2 || c.mode == 6) continue;
    Bytes back(16, 0xEE);
    ASSERT_EQ(KeyToRecord(1, c.key.data(), back.data(), 16), 0) << "mode " << c.mode;
    Bytes expect = c.field;
    if (c.mode == 10) expect = {0, uint8_t(5 - 14), 0, 0, 0, 0, 0, 0, 0, 0x21};
    EXPECT_EQ(Bytes(back.begin() + 2, back.begin() + 2 + long(c.field.size())), expect) << "mode " << c.mode;
  }
  // Refused modes and a segment past the record.
  DropSegments(1, 0);
  SetSegment(1, 0, 0, 4, 11);
  EXPECT_EQ(FormKey(1, Bytes(16).data(), Bytes(256).data(), 16), -1);
  EXPECT_EQ(RecordLayerError(), 446);
  SetSegment(1, 0, 0, 4, 13);
  EXPECT_EQ(FormKey(1, Bytes(16).data(), Bytes(256).data(), 16), -1);
  EXPECT_EQ(RecordLayerError(), 199);  // no record schema
  SetSegment(1, 0, 14, 4, 0);
  EXPECT_EQ(FormKey(1, Bytes(16).data(), Bytes(256).data(), 16), -1);
  EXPECT_EQ(RecordLayerError(), 445);
  EXPECT_EQ(RecordLayerFile(), 1);
  EXPECT_EQ(GetSegment(1, 0, 3), 14);
  EXPECT_EQ(GetSegment(1, 0, 9), -1);
}

// Segment flag 0x20 puts every byte through the alternate collating table: without one the
// bytes keep their order; a permutation comes back; a folding table cannot.
TEST_F(RecordLayerTest, AlternateCollatingTableTranslatesSegmentsBothWays) {
  ASSERT_EQ(CreateDataFile(0, "d.dat", 16, 0, 0), 0);
  ASSERT_EQ(CreateIndexFile(1, "k.idx", 16, 0, 0, 0, 0, 0), 0);
  ASSERT_EQ(SetKeyOptions(1, -1, 0, 0, 0), 0);
  ASSERT_EQ(SetSegment(1, 0, 0, 3, 0x20), 0);
  Bytes record(16, 0);
  std::memcpy(record.data(), "bAz", 3);
  EXPECT_EQ(key(1, record), (Bytes{'b', 'A', 'z'}));
  // A table that sorts lower case before upper case: 'a'..'z' -> 'A'..'Z' and back.
  uint8_t table[256];
  for (int i = 0; i < 256; ++i) table[i] = uint8_t(i);
  for (int i = 0; i < 26; ++i) {
    table['a' + i] = uint8_t('A' + i);
    table['A' + i] = uint8_t('a' + i);
  }
  ASSERT_EQ(SetAlternateCollating(table), 0);
  EXPECT_EQ(key(1, record), (Bytes{'B', 'a', 'Z'}));
  Bytes back(16, 0xEE);
  ASSERT_EQ(KeyToRecord(1, Bytes{'B', 'a', 'Z'}.data(), back.data(), 16), 0);
  EXPECT_EQ(Bytes(back.begin(), back.begin() + 3), (Bytes{'b', 'A', 'z'}));
  // With descending order the translation comes before the inversion.
  ASSERT_EQ(SetSegment(1, 0, 0, 3, 0x30), 0);
  EXPECT_EQ(key(1, record), (Bytes{uint8_t(~'B'), uint8_t(~'a'), uint8_t(~'Z')}));
  // Folding lower into upper case forms keys but cannot give records back.
  for (int i = 0; i < 26; ++i) table['A' + i] = uint8_t('A' + i);
  ASSERT_EQ(SetSegment(1, 0, 0, 3, 0x20), 0);
  ASSERT_EQ(SetAlternateCollating(table), 0);
  EXPECT_EQ(key(1, record), (Bytes{'B', 'A', 'Z'}));
  EXPECT_EQ(KeyToRecord(1, Bytes{'B', 'A', 'Z'}.data(), back.data(), 16), 446);
  ASSERT_EQ(SetAlternateCollating(nullptr), 0);
  EXPECT_EQ(key(1, record), (Bytes{'b', 'A', 'z'}));
}

// The set table: made once (184 the second time), and a set is needed before stepping in it.
TEST_F(RecordLayerTest, SetTableIsMadeOnceAndStepsNeedASet) {
  ASSERT_NO_FATAL_FAILURE(make_people());
  for (const char* n : {"ann", "bob"}) {
    Bytes r = person(n, "x");
    ASSERT_EQ(AddRecord(0, r.data()), 0);
  }
  Bytes r(32);
  EXPECT_EQ(NextInSet(1, r.data(), 32), 118);
  ASSERT_EQ(CreateSetTable(), 0);
  EXPECT_EQ(CreateSetTable(), 184);
  EXPECT_EQ(PreviousInSet(1, r.data(), 32), 118);
  ASSERT_EQ(FirstInSet(1, "B", 1, r.data(), 32), 0);
  EXPECT_EQ(name_of(r), "bob");
  ASSERT_EQ(FirstInSet(2, "x", 1, r.data(), 32), 0);  // a second index in the same table
  EXPECT_EQ(NextInSet(1, r.data(), 32), 101);
  // The layer gone, the table goes with it.
  StopRecordLayer();
  EXPECT_EQ(CreateSetTable(), 464);
  ASSERT_EQ(StartRecordLayer(64, 20, 4, 16, 33), 0);
  EXPECT_EQ(CreateSetTable(), 0);
}

TEST_F(RecordLayerTest, IndexesFollowAddsRewritesAndDeletes) {
  ASSERT_NO_FATAL_FAILURE(make_people());
  for (auto [n, t] : {std::pair{"carol", "york"}, {"alice", "bath"}, {"bob", "york"}, {"dave", ""}}) {
    Bytes r = person(n, t);
    ASSERT_EQ(AddRecord(0, r.data()), 0) << n;
  }
  EXPECT_EQ(ActiveRecordCount(0), 4);
  EXPECT_EQ(KeyCount(1), 4);
  EXPECT_EQ(KeyCount(2), 3);  // dave has no town: no key
  EXPECT_EQ(GetFileInfo(1, 4), 0);

  Bytes r(32);
  ASSERT_EQ(ReadEqual(1, "ALICE       ", r.data(), 32), 0);
  EXPECT_EQ(name_of(r), "alice");
  int32_t serial = 0;
  std::memcpy(&serial, r.data() + 24, 4);
  EXPECT_EQ(serial, 2);  // the second record added
  // The program's instance mode (33) gives key values in key form: a lower-case name is not
  // upper-cased for the search.
  EXPECT_EQ(ReadEqual(1, "bob         ", r.data(), 32), 101);
  ASSERT_EQ(ReadEqual(1, "BOB         ", r.data(), 32), 0);
  EXPECT_EQ(name_of(r), "bob");
  EXPECT_NE(ReadEqual(1, "ZED         ", r.data(), 32), 0);
  ASSERT_EQ(ReadAfter(1, "BOB         ", r.data(), 32), 0);
  EXPECT_EQ(name_of(r), "carol");
  ASSERT_EQ(ReadBefore(1, "BOB         ", r.data(), 32), 0);
  EXPECT_EQ(name_of(r), "alice");

  // The duplicate index in order: bath, then both of york in position order.
  std::vector<std::string> by_town;
  for (int16_t rc = FirstRecord(2, r.data(), 32); rc == 0; rc = NextRecord(2, r.data(), 32))
    by_town.push_back(name_of(r));
  EXPECT_EQ(by_town, (std::vector<std::string>{"alice", "carol", "bob"}));
  EXPECT_EQ(RecordLayerError(), 101);

  // Rewriting moves the keys; deleting removes them.
  ASSERT_EQ(ReadEqual(1, "CAROL       ", r.data(), 32), 0);
  Bytes moved = person("carla", "bath");
  ASSERT_EQ(RewriteRecord(0, moved.data()), 0);
  EXPECT_NE(ReadEqual(1, "CAROL       ", r.data(), 32), 0);
  ASSERT_EQ(ReadEqual(2, "bath        ", r.data(), 32), 0);
  EXPECT_EQ(name_of(r), "carla");  // the first of bath by position (carol was added first)
  ASSERT_EQ(ReadEqual(1, "CARLA       ", r.data(), 32), 0);
  ASSERT_EQ(DeleteRecord(0), 0);
  EXPECT_EQ(KeyCount(1), 3);
  EXPECT_EQ(KeyCount(2), 2);
  EXPECT_EQ(DeleteRecord(0), 100);  // no current record any more
  char report[256];
  EXPECT_EQ(CheckOlFile(1, report, sizeof report), 0) << report;
  EXPECT_EQ(CheckOlFile(2, report, sizeof report), 0) << report;
}

TEST_F(RecordLayerTest, RefusedKeyUndoesTheWholeAdd) {
  ASSERT_NO_FATAL_FAILURE(make_people());
  Bytes a = person("alice", "bath");
  ASSERT_EQ(AddRecord(0, a.data()), 0);
  Bytes again = person("ALICE", "york");  // same name key: the unique index refuses it
  EXPECT_NE(AddRecord(0, again.data()), 0);
  EXPECT_EQ(RecordLayerFile(), 1);
  EXPECT_EQ(ActiveRecordCount(0), 1);
  EXPECT_EQ(KeyCount(1), 1);
  EXPECT_EQ(KeyCount(2), 1);
  Bytes r(32);
  EXPECT_NE(ReadEqual(2, "york        ", r.data(), 32), 0);
  // And a rewrite to a taken name leaves both indexes as they were.
  Bytes b = person("bob", "york");
  ASSERT_EQ(AddRecord(0, b.data()), 0);
  Bytes clash = person("alice", "leeds");
  EXPECT_NE(RewriteRecord(0, clash.data()), 0);
  ASSERT_EQ(ReadEqual(2, "york        ", r.data(), 32), 0);
  EXPECT_EQ(name_of(r), "bob");
  EXPECT_NE(ReadEqual(2, "leeds       ", r.data(), 32), 0);
}

TEST_F(RecordLayerTest, PhysicalOrderSetsAndDamagedRecords) {
  ASSERT_NO_FATAL_FAILURE(make_people());
  for (const char* n : {"ann", "abe", "bea", "amy"}) {
    Bytes r = person(n, "x");
    ASSERT_EQ(AddRecord(0, r.data()), 0);
  }
  Bytes r(32);
  std::vector<std::string> order;
  for (int16_t rc = FirstRecord(0, r.data(), 32); rc == 0; rc = NextRecord(0, r.data(), 32)) order.push_back(name_of(r));
  EXPECT_EQ(order, (std::vector<std::string>{"ann", "abe", "bea", "amy"}));
  order.clear();
  for (int16_t rc = LastRecord(0, r.data(), 32); rc == 0; rc = PreviousRecord(0, r.data(), 32)) order.push_back(name_of(r));
  EXPECT_EQ(order, (std::vector<std::string>{"amy", "bea", "abe", "ann"}));
  EXPECT_NE(FirstRecord(0, r.data(), 16), 0);  // no room for the record

  // The set of names beginning with "A", in key order, ends with 101.
  order.clear();
  for (int16_t rc = FirstInSet(1, "A", 1, r.data(), 32); rc == 0; rc = NextInSet(1, r.data(), 32))
    order.push_back(name_of(r));
  EXPECT_EQ(order, (std::vector<std::string>{"abe", "amy", "ann"}));
  EXPECT_EQ(RecordLayerError(), 101);
  EXPECT_EQ(NextInSet(2, r.data(), 32), 118);  // no set for that index

  // A record changed behind the layer's back no longer forms the key that found it.
  ASSERT_EQ(ReadEqual(1, "BEA         ", r.data(), 32), 0);
  int32_t pos = CurrentRecord(0);
  Bytes changed = person("zoe", "x");
  ASSERT_EQ(WriteData(0, pos, changed.data()), 0);
  EXPECT_EQ(ReadEqual(1, "BEA         ", r.data(), 32), 160);
  // A released record that an index still points at is not active.
  ASSERT_EQ(ReleaseData(0, pos), 0);
  EXPECT_EQ(ReadEqual(1, "BEA         ", r.data(), 32), 114);
}

TEST_F(RecordLayerTest, StartAndLockModes) {
  EXPECT_EQ(StartRecordLayer(64, 20, 4, 16, 33), 125);
  StopRecordLayer();
  EXPECT_EQ(SetLockMode(2), 464);
  EXPECT_EQ(StartRecordLayer(64, 21, 4, 16, 33), 104);
  ASSERT_EQ(StartRecordLayer(64, 20, 4, 16, 33), 0);
  ASSERT_NO_FATAL_FAILURE(make_people());
  ASSERT_EQ(SetLockMode(2), 0);
  EXPECT_EQ(LockMode(), 2);
  Bytes a = person("alice", "bath");
  ASSERT_EQ(AddRecord(0, a.data()), 0);
  EXPECT_EQ(LockCount(), 1);          // the added record is locked under mode 2
  EXPECT_EQ(SetLockMode(2), 112);     // asked again while locks are held
  ASSERT_EQ(SetLockMode(3), 0);       // another locking mode while locking: taken as it is
  EXPECT_EQ(LockMode(), 2);
  ASSERT_EQ(SetLockMode(5), 0);       // suspended: 2 -> 5
  EXPECT_EQ(LockMode(), 5);
  ASSERT_EQ(SetLockMode(7), 0);       // resumed as 4
  EXPECT_EQ(LockMode(), 4);
  ASSERT_EQ(SetLockMode(0), 0);       // free every lock
  EXPECT_EQ(LockCount(), 0);
  EXPECT_EQ(LockMode(), 0);
  Bytes b = person("bob", "bath");
  ASSERT_EQ(AddRecord(0, b.data()), 0);
  EXPECT_EQ(LockCount(), 0);          // mode 0 locks nothing
  ASSERT_EQ(SetLockMode(1), 0);
  EXPECT_EQ(LockMode(), 2);           // 1 after 0 becomes 2
}

}  // namespace
