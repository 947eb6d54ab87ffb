// Freshly created files against the on-disk layout, read with the test's own decoder;
// open-time refusals; file numbers; the status log; temporary names; the handle budget.
#include <sys/stat.h>

#include <regex>

#include "kf_fixture.h"

using namespace kftest;

namespace {

class FormatTest : public KeyfileTest {};

void expect_constants(const std::vector<uint8_t>& b, size_t at) {
  EXPECT_EQ(le16(b, at + 40), 129);
  EXPECT_EQ(b[at + 61], 2);
  EXPECT_EQ(b[at + 62], 4);
  EXPECT_EQ(b[at + 63], 4);
  EXPECT_EQ(le16(b, at + 96), 255);
  for (int o : {12, 16, 32, 36, 84, 88, 104, 112}) EXPECT_EQ(le32(b, at + o), 0) << "offset " << o;
  for (int o = 116; o < 128; ++o) EXPECT_EQ(b[at + o], 0) << "offset " << o;
}

TEST_F(FormatTest, FixedFileHeaderByteForByte) {
  ASSERT_EQ(CreateDataFile(0, "f.dat", 100, 4096, 2), 0);
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  auto b = slurp(path("f.dat"));
  ASSERT_EQ(b.size(), 200u);  // smallest multiple of 100 holding the 128-byte header
  expect_fields(b, 0,
                {{0, 4, 199}, {4, 4, 0}, {8, 4, 199}, {20, 4, 0}, {24, 4, 0}, {28, 4, 0}, {42, 2, 0}, {44, 2, 100},
                 {46, 2, 4096}, {48, 2, 2}, {50, 2, 0}, {56, 1, 0}, {57, 1, 0}, {58, 1, 1}, {59, 1, 0}, {60, 1, 0},
                 {64, 2, 0}, {66, 2, 0}, {68, 2, 0}, {70, 2, 0}, {80, 4, 0}, {92, 2, 0}, {98, 2, 0}, {100, 4, 15},
                 {108, 4, 1}});
  expect_constants(b, 0);
  ASSERT_NO_FATAL_FAILURE(expect_unwritten(b, 128, 200));
}

TEST_F(FormatTest, HeaderAreaOfFixedFilesFollowsTheRecordLength) {
  ASSERT_EQ(CreateDataFile(0, "a.dat", 4096, 0, 2), 0);
  ASSERT_EQ(CreateDataFile(1, "b.dat", 128, 0, 2), 0);
  EXPECT_EQ(NewData(0), 4096);
  EXPECT_EQ(NewData(1), 128);
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  ASSERT_EQ(CloseOlFile(1, 0), 0);
  auto a = slurp(path("a.dat"));
  ASSERT_GE(a.size(), 4096u);
  ASSERT_NO_FATAL_FAILURE(expect_unwritten(a, 128, 4096));
  EXPECT_EQ(le32(a, 8), 4096 + 4096 - 1);
}

TEST_F(FormatTest, VariableFileHeaderByteForByte) {
  ASSERT_EQ(CreateDataFile(0, "v.dat", 0, 16384, 6), 0);
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  auto b = slurp(path("v.dat"));
  ASSERT_EQ(b.size(), 512u);
  expect_fields(b, 0,
                {{0, 4, 511}, {8, 4, 511}, {42, 2, 512}, {44, 2, 0}, {46, 2, 16384}, {48, 2, 6}, {50, 2, 4},
                 {52, 2, 480},  // 40 space-index entries of 12 bytes
                 {54, 2, 494}, {94, 2, 128}, {56, 1, 0}, {57, 1, 0}, {58, 1, 1}, {59, 1, 2}, {60, 1, 0}, {64, 2, 2},
                 {66, 2, 12}, {76, 4, 0}, {100, 4, 15}});
  expect_constants(b, 0);
  ASSERT_NO_FATAL_FAILURE(expect_unwritten(b, 128, 512));
}

TEST_F(FormatTest, IndexFileHeaderByteForByte) {
  ASSERT_EQ(CreateIndexFile(0, "k.idx", 32, 12, 0, 0, 4096, 2), 0);
  ASSERT_EQ(CreateIndexFile(1, "u.idx", 32, 0, 0, 0, 4096, 2), 0);
  ASSERT_EQ(CreateIndexFile(2, "r.idx", 10, 0x10, 0, 0, 0, 2), 0);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(CloseOlFile(static_cast<int16_t>(i), 0), 0);
  auto b = slurp(path("k.idx"));
  ASSERT_EQ(b.size(), 512u);
  expect_fields(b, 0,
                {{0, 4, 511}, {8, 4, 511}, {42, 2, 512}, {44, 2, 0}, {46, 2, 4096},
                 {52, 2, 38 * 13 - 34},  // key + two compression bytes + position, 13 entries
                 {54, 2, 494}, {94, 2, 128}, {57, 1, 12}, {58, 1, 0}, {59, 1, 0}, {60, 1, 32}, {64, 2, 1},
                 {66, 2, 32}, {68, 2, 0}, {72, 4, 0}, {100, 4, 8}});
  expect_constants(b, 0);
  ASSERT_NO_FATAL_FAILURE(expect_unwritten(b, 128, 512));
  expect_fields(slurp(path("u.idx")), 0, {{52, 2, 436}, {57, 1, 0}});
  expect_fields(slurp(path("r.idx")), 0, {{59, 1, 1}, {57, 1, 0}});
}

TEST_F(FormatTest, IndexWithMembersReservesNumbersAndHeaderRoom) {
  ASSERT_EQ(CreateIndexFile(0, "m.idx", 8, 0, 0, 4, 0, 2), 0);
  EXPECT_EQ(AvailableFileNbr(1), 5);
  EXPECT_EQ(CreateIndexMember(0, 2, 16, 0, 1), 0);
  EXPECT_EQ(CreateIndexMember(0, 5, 16, 0, 1), 23);
  EXPECT_EQ(CreateIndexMember(0, 2, 16, 0, 1), 46);
  char key[16] = "abc";
  EXPECT_EQ(AddKey(2, key, 1000, 0), 0);
  EXPECT_EQ(AddKey(0, key, 1000, 0), 0);
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  EXPECT_EQ(AvailableFileNbr(5), 0);  // reserved member slots are freed at close too
  auto b = slurp(path("m.idx"));
  EXPECT_EQ(le16(b, 68), 4);
  EXPECT_EQ(le16(b, 256 + 70), 2);
  EXPECT_EQ(le32(b, 256 + 80), 256);
  EXPECT_EQ(le16(b, 256 + 66), 16);
  EXPECT_EQ(le32(b, 256 + 24), 1);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(b[256 + i], 0xFF);  // members never write their ends
  for (size_t i = 384; i < 512; ++i) EXPECT_EQ(b[i], 0xFF);  // member 3: never defined
  ASSERT_EQ(OpenOlFile(3, "m.idx", 2), 0);
  EXPECT_EQ(GetFileInfo(5, OL_INFO_MEMBER), 2);
  char out[16];
  EXPECT_EQ(GetKeyAtLeast(5, key, out), 1000);  // duplicate member: the key ends with the position
  EXPECT_EQ(out[15], static_cast<char>(1000 & 0xFF));
  EXPECT_EQ(out[14], static_cast<char>(1000 >> 8));
  EXPECT_EQ(GetKey(3, key), 1000);
  EXPECT_EQ(GetKey(6, key), 0);
  EXPECT_EQ(uerr_cod, 26);  // member 3 was never defined
}

TEST_F(FormatTest, CreationRefusals) {
  EXPECT_EQ(CreateDataFile(0, "r4.dat", 4, 0, 2), 21);
  EXPECT_EQ(CreateIndexFile(0, "k256.idx", 256, 0, 0, 0, 0, 2), 45);
  EXPECT_EQ(CreateIndexFile(0, "kt.idx", 8, 1, 0, 0, 0, 2), 52);
  EXPECT_EQ(CreateDataFile(0, "m.dat", 10, 0, 0x10), 53);
  EXPECT_EQ(CreateDataFile(25, "n.dat", 10, 0, 2), 22);
  EXPECT_EQ(CreateIndexFile(0, "big.idx", 200, 0, 0, 0, 0, 2), 20);  // fewer than 3 per node
  EXPECT_EQ(CreateIndexFile(0, "mem.idx", 8, 0, 0, 32, 0, 2), 23);
  ASSERT_EQ(CreateDataFile(0, "x.dat", 10, 0, 2), 0);
  EXPECT_EQ(CreateDataFile(0, "y.dat", 10, 0, 2), 46);
  EXPECT_EQ(CreateDataFile(1, "x.dat", 10, 0, 2), 17);  // exists
  EXPECT_FALSE(std::filesystem::exists(path("r4.dat")));
  EXPECT_FALSE(std::filesystem::exists(path("k256.idx")));
}

TEST_F(FormatTest, FileNumbers) {
  EXPECT_EQ(AvailableFileNbr(0), -1);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(CreateDataFile(static_cast<int16_t>(i), ("n" + std::to_string(i)).c_str(), 10, 0, 2), 0);
  EXPECT_EQ(AvailableFileNbr(1), 3);
  EXPECT_EQ(AvailableFileNbr(17), 3);
  EXPECT_EQ(AvailableFileNbr(18), -1);
  EXPECT_EQ(uerr_cod, 46);
  for (int i = 3; i < 20; ++i) ASSERT_EQ(CreateDataFile(static_cast<int16_t>(i), ("n" + std::to_string(i)).c_str(), 10, 0, 2), 0);
  EXPECT_EQ(AvailableFileNbr(1), -1);
  EXPECT_EQ(uerr_cod, 46);
  EXPECT_EQ(AvailablePairBelow(20), -1);
  ASSERT_EQ(CloseOlFile(7, 0), 0);
  ASSERT_EQ(CloseOlFile(8, 0), 0);
  ASSERT_EQ(CloseOlFile(12, 0), 0);
  ASSERT_EQ(CloseOlFile(13, 0), 0);
  EXPECT_EQ(AvailablePairBelow(20), 12);
  EXPECT_EQ(AvailablePairBelow(13), 7);
  EXPECT_EQ(CloseOlFile(7, 0), 26);
  StopKeyedFileEngine();
  EXPECT_EQ(AvailableFileNbr(1), -1);
  EXPECT_EQ(uerr_cod, 47);
}

TEST_F(FormatTest, StartAndStop) {
  EXPECT_EQ(InitKeyedFileEngine(64, 20, 4), 125);
  EXPECT_EQ(CreateDataFile(0, "s.dat", 10, 0, 2), 0);  // the refused start changed nothing
  EXPECT_STREQ(InstanceName(), "olREG_DEF_ID");
  EXPECT_EQ(StopKeyedFileEngine(), 0);
  EXPECT_FALSE(FindInstance("olREG_DEF_ID"));
  EXPECT_EQ(StopKeyedFileEngine(), 410);
  EXPECT_EQ(InitKeyedFileEngine(8, 20, 0), 11);
  EXPECT_EQ(InitKeyedFileEngine(8, -1, 4), 11);
  ASSERT_EQ(InitKeyedFileEngine(8, 20, 4), 0);
  // Stop closed the file cleanly: it opens again.
  EXPECT_EQ(OpenOlFile(0, "s.dat", 2), 0);
}

TEST_F(FormatTest, InstancesKeepTheirOwnFilesAndErrors) {
  ASSERT_EQ(CreateDataFile(0, "i0.dat", 10, 0, 2), 0);
  ASSERT_EQ(RegisterInstance("second"), 0);
  EXPECT_EQ(RegisterInstance("second"), 518);
  ASSERT_EQ(InitKeyedFileEngine(8, 4, 4), 0);
  EXPECT_EQ(AvailableFileNbr(1), 0);
  EXPECT_EQ(CloseOlFile(9, 0), 22);
  ASSERT_EQ(SwitchInstance("olREG_DEF_ID"), 0);
  EXPECT_EQ(AvailableFileNbr(1), 1);
  EXPECT_EQ(SwitchInstance("none"), 517);
  ASSERT_EQ(SwitchInstance("second"), 0);
  EXPECT_EQ(StopKeyedFileEngine(), 0);
  EXPECT_EQ(UnregisterInstance("second"), 0);
  EXPECT_EQ(SwitchInstance("second"), 517);
  ASSERT_EQ(SwitchInstance("olREG_DEF_ID"), 0);
  EXPECT_EQ(AvailableFileNbr(1), 1);
}

// ---------------------------------------------------------------- open

class OpenTest : public KeyfileTest {
 protected:
  void make_index() {
    ASSERT_EQ(CreateIndexFile(0, "o.idx", 8, 0, 0, 0, 0, 2), 0);
    ASSERT_EQ(CloseOlFile(0, 0), 0);
  }
  int16_t open_patched(size_t off, std::vector<uint8_t> bytes, uint16_t mode = 2) {
    auto b = slurp(path("o.idx"));
    for (size_t i = 0; i < bytes.size(); ++i) b.at(off + i) = bytes[i];
    spit(path("o.idx"), b);
    int16_t e = OpenOlFile(0, "o.idx", mode);
    if (e == 0) CloseOlFile(0, 0);
    return e;
  }
};

TEST_F(OpenTest, RefusalsInTheirOrder) {
  ASSERT_NO_FATAL_FAILURE(make_index());
  EXPECT_EQ(OpenOlFile(0, "", 2), 130);
  EXPECT_EQ(OpenOlFile(0, "missing.idx", 2), 12);
  EXPECT_EQ(open_patched(98, {1, 0}), 550);          // mirror flag
  EXPECT_EQ(open_patched(98, {0, 0}), 0);
  EXPECT_EQ(open_patched(64, {3, 0}), 13);           // type
  EXPECT_EQ(open_patched(64, {1, 0}), 0);
  EXPECT_EQ(open_patched(92, {7, 0}), 13);           // class
  EXPECT_EQ(open_patched(92, {0, 0}), 0);
  EXPECT_EQ(open_patched(42, {0, 4}), 40);           // node size 1024 > engine's 512
  EXPECT_EQ(open_patched(42, {0, 2}), 0);
  EXPECT_EQ(OpenOlFile(0, "o.idx", 6), 48);          // variable mode on an index
  EXPECT_EQ(open_patched(40, {0x82, 0}), 43);        // format word
  EXPECT_EQ(open_patched(40, {0x81, 0}), 0);
  EXPECT_EQ(open_patched(66, {0, 1}), 45);           // key length 256
  EXPECT_EQ(open_patched(66, {8, 0}), 0);
  EXPECT_EQ(open_patched(56, {'c'}), 15);
  EXPECT_EQ(open_patched(56, {0}), 0);
  EXPECT_EQ(open_patched(68, {32, 0}), 23);          // members
  EXPECT_EQ(open_patched(68, {0, 0}), 0);
  EXPECT_EQ(open_patched(50, {0x20, 0}), 53);        // permanent special bit
  EXPECT_EQ(open_patched(50, {0x20, 0}, 0x0A), 0);   // read-only may open it
  EXPECT_EQ(open_patched(50, {0, 0}), 0);
  EXPECT_EQ(open_patched(57, {2}), 52);
  EXPECT_EQ(open_patched(57, {0}), 0);
  EXPECT_EQ(AvailableFileNbr(1), 0);  // every refusal left the slot free
}

TEST_F(OpenTest, GeometryIsValidatedNeverTrusted) {
  ASSERT_NO_FATAL_FAILURE(make_index());
  auto good = slurp(path("o.idx"));
  EXPECT_EQ(open_patched(42, {0, 0}), 40);           // node size 0
  EXPECT_EQ(open_patched(42, {0x2C, 1}), 40);        // 300: not a multiple of 128
  EXPECT_EQ(open_patched(42, {0, 2}), 0);
  EXPECT_EQ(open_patched(52, {0xF0, 1}), 20);        // leaf capacity past the node
  EXPECT_EQ(open_patched(52, {0, 0}), 20);
  EXPECT_EQ(open_patched(52, {good[52], good[53]}), 0);
  EXPECT_EQ(open_patched(94, {0, 2}), 20);           // more leaf entries than fit
  EXPECT_EQ(open_patched(94, {128, 0}), 0);
  EXPECT_EQ(open_patched(54, {0, 0}), 20);
  EXPECT_EQ(open_patched(54, {0xEE, 1}), 0);
  EXPECT_EQ(open_patched(66, {0, 0}), 45);           // key length 0
  EXPECT_EQ(open_patched(66, {8, 0}), 0);
  EXPECT_EQ(open_patched(8, {0x10, 0, 0, 0}), 13);   // logical end inside the header area
  EXPECT_EQ(open_patched(8, {0xFF, 1, 0, 0}), 0);
  EXPECT_EQ(open_patched(28, {0, 0x10, 0, 0}), 13);  // root beyond the end
  EXPECT_EQ(open_patched(28, {0, 0, 0, 0}), 0);

  ASSERT_EQ(CreateDataFile(1, "g.dat", 50, 0, 2), 0);
  ASSERT_EQ(CloseOlFile(1, 0), 0);
  auto d = slurp(path("g.dat"));
  put16(d, 44, 0);
  spit(path("g.dat"), d);
  EXPECT_EQ(OpenOlFile(1, "g.dat", 2), 21);          // record length 0 would divide by zero
  put16(d, 44, 3);
  spit(path("g.dat"), d);
  EXPECT_EQ(OpenOlFile(1, "g.dat", 2), 21);
  d.resize(60);
  spit(path("g.dat"), d);
  EXPECT_EQ(OpenOlFile(1, "g.dat", 2), 13);          // shorter than a header
}

TEST_F(OpenTest, MirrorFlagIsLoggedAndCleared) {
  ASSERT_NO_FATAL_FAILURE(make_index());
  auto b = slurp(path("o.idx"));
  b[98] = 1;
  spit(path("o.idx"), b);
  ASSERT_EQ(OpenOlFile(0, "o.idx", 2 | 0x2000), 0);
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  auto log = slurp(path("OLSTATUS.OLS"));
  std::string text(log.begin(), log.end());
  EXPECT_NE(text.find("Following file is opened without mirror ..."), std::string::npos);
  EXPECT_NE(text.find("o.idx"), std::string::npos);
}

TEST_F(OpenTest, ExclusiveOpensExcludeEachOther) {
  ASSERT_NO_FATAL_FAILURE(make_index());
  ASSERT_EQ(OpenOlFile(0, "o.idx", 2), 0);
  EXPECT_EQ(OpenOlFile(1, "o.idx", 2), 12);
  EXPECT_EQ(OpenOlFile(1, "o.idx", 0x0A), 12);
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  ASSERT_EQ(OpenOlFile(0, "o.idx", 1), 0);
  EXPECT_EQ(OpenOlFile(1, "o.idx", 1), 0);  // shared opens coexist
  EXPECT_EQ(OpenOlFile(2, "o.idx", 2), 12);
  EXPECT_EQ(DeleteOlFile(0), 56);
  // Closing one descriptor keeps the other's share: exclusive opens still fail.
  ASSERT_EQ(CloseOlFile(1, 0), 0);
  EXPECT_EQ(OpenOlFile(2, "o.idx", 2), 12);
}

TEST_F(OpenTest, ChangedAndNotClosedIsRefusedWith14) {
  ASSERT_EQ(CreateDataFile(0, "c.dat", 20, 0, 2), 0);
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  ASSERT_EQ(OpenOlFile(0, "c.dat", 2), 0);
  int32_t p = NewData(0);
  ASSERT_NE(p, 0);
  // The flag is on disk as soon as the first change is made.
  EXPECT_EQ(slurp(path("c.dat"))[56], 0xFF);
  auto copy = slurp(path("c.dat"));
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  EXPECT_EQ(slurp(path("c.dat"))[56], 0);
  EXPECT_GT(le32(slurp(path("c.dat")), 112), 0);  // close time
  spit(path("c.dat"), copy);  // as a run that never closed left it
  EXPECT_EQ(OpenOlFile(0, "c.dat", 2), 14);
  EXPECT_EQ(slurp(path("c.dat"))[56], 'R');
  EXPECT_EQ(AvailableFileNbr(1), 0);
  EXPECT_EQ(OpenOlFile(0, "c.dat", 2), 14);
  EXPECT_EQ(OpenOlFile(0, "c.dat", 2 | 0x4000), 0);
}

TEST_F(OpenTest, WriteThroughFilesNeverSetTheFlag) {
  ASSERT_EQ(CreateDataFile(0, "w.dat", 20, 0, 0x42), 0);
  char rec[20] = "hello";
  int32_t p = NewData(0);
  ASSERT_EQ(WriteData(0, p, rec), 0);
  auto b = slurp(path("w.dat"));
  EXPECT_EQ(b[56], 0);
  EXPECT_EQ(le32(b, 24), 1);  // the header follows every change
  EXPECT_EQ(le32(b, 8), 128 + 20 - 1 + 12);
  EXPECT_EQ(std::memcmp(b.data() + p, "hello", 5), 0);
}

// ---------------------------------------------------------------- status log, names, handles

TEST_F(FormatTest, StatusLogLines) {
  EXPECT_EQ(OlStatusLog("node trouble", 519), 519);
  EXPECT_EQ(OlStatusLog("just text", -199), 0);
  auto b = slurp(path("OLSTATUS.OLS"));
  std::string t(b.begin(), b.end());
  std::regex line1(R"([A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4}\n - User# 01\tnode trouble: 519\n)");
  std::regex line2(R"([A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4}\n - User# 01\tjust text\n)");
  std::smatch m;
  EXPECT_TRUE(std::regex_search(t, m, line1)) << t;
  EXPECT_TRUE(std::regex_search(t, m, line2)) << t;
  EXPECT_EQ(t.find("just text:"), std::string::npos);
}

TEST_F(FormatTest, StatusLogThatCannotOpenIsNotFatal) {
  std::filesystem::create_directory(path("OLSTATUS.OLS"));  // fopen for appending fails
  EXPECT_EQ(OlStatusLog("lost line", 519), 519);
  // An engine path that logs still returns its error and the process goes on.
  ASSERT_EQ(CreateIndexFile(0, "l.idx", 8, 0, 0, 0, 0, 2), 0);
  ASSERT_EQ(AddKey(0, "abcdefgh", 700, 0), 0);
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  auto b = slurp(path("l.idx"));
  put32(b, 8, 600);  // the root node now reaches past the logical end
  spit(path("l.idx"), b);
  ASSERT_EQ(OpenOlFile(0, "l.idx", 2), 0);
  EXPECT_EQ(GetKey(0, "abcdefgh"), 0);
  EXPECT_EQ(uerr_cod, 519);
}

TEST_F(FormatTest, EngineTemporaryNames) {
  SetEngineMode(0x80, 2);
  char name[64] = "";
  ASSERT_EQ(MakeTempName(name, sizeof name), 0);
  EXPECT_TRUE(std::regex_match(std::string(name), std::regex("T[0-9A-F]{7}"))) << name;
  EXPECT_FALSE(std::filesystem::exists(path(name)));
  EXPECT_EQ(AvailableFileNbr(1), 0);  // the probe file is gone and its number free
  char small[8] = "";
  EXPECT_EQ(MakeTempName(small, sizeof small), 153);
  SetEngineMode(0x80, 0);
  char sys[64];
  ASSERT_EQ(MakeTempName(sys, sizeof sys), 0);
  EXPECT_GT(std::strlen(sys), 0u);
}

TEST_F(FormatTest, HandleBudgetGivesUpLeastRecentlyUsedHandles) {
  SetHandleLimit(2);
  char rec[16];
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(CreateDataFile(static_cast<int16_t>(i), ("h" + std::to_string(i)).c_str(), 16, 0, 0), 0);
    int32_t p = NewData(static_cast<int16_t>(i));
    ASSERT_NE(p, 0);
    std::snprintf(rec, sizeof rec, "file %d", i);
    ASSERT_EQ(WriteData(static_cast<int16_t>(i), p, rec), 0);
    EXPECT_LE(OpenHandleCount(), 3);
  }
  for (int i = 0; i < 4; ++i) {
    char back[16];
    ASSERT_EQ(ReadData(static_cast<int16_t>(i), 128, back), 0);
    std::snprintf(rec, sizeof rec, "file %d", i);
    EXPECT_STREQ(back, rec);
  }
  for (int i = 0; i < 4; ++i) EXPECT_EQ(CloseOlFile(static_cast<int16_t>(i), 0), 0);
  EXPECT_EQ(OpenHandleCount(), 0);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(slurp(path("h" + std::to_string(i)))[56], 0);
}

TEST_F(FormatTest, FileInfoAndHeaderValues) {
  ASSERT_EQ(CreateIndexFile(0, "i.idx", 50, 12, 0, 0, 0, 2), 0);
  EXPECT_EQ(GetFileInfo(0, OL_INFO_KEYLEN), 50);
  EXPECT_EQ(GetFileInfo(0, OL_INFO_TYPE), 1);
  EXPECT_EQ(GetFileInfo(0, OL_INFO_KEYTYPE), 12);
  EXPECT_EQ(GetFileInfo(0, OL_INFO_NODESIZE), 512);
  EXPECT_EQ(GetFileInfo(0, OL_INFO_LOGEND), 512);
  EXPECT_EQ(GetFileInfo(0, OL_INFO_MARKER), 8);
  EXPECT_EQ(GetFileInfo(0, 99), -1);
  EXPECT_EQ(uerr_cod, 116);
  char name[4];
  EXPECT_EQ(GetFileName(0, name, sizeof name, 0), 153);
  char big[32];
  EXPECT_EQ(GetFileName(0, big, sizeof big, 0), 0);
  EXPECT_STREQ(big, "i.idx");
  EXPECT_EQ(PutHeaderValue(0, 33, 1), 48);
  EXPECT_EQ(PutHeaderValue(0, 4, 77), 0);
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  EXPECT_EQ(le32(slurp(path("i.idx")), 88), 77);
}

}  // namespace
