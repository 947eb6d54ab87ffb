// Fixed records and their release chain, variable records and their pieces, the data
// page cache, and files left open by a process killed in the middle of writing.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <random>

#include "kf_audit.h"
#include "kf_fixture.h"

using namespace kftest;

namespace {

class FixedTest : public KeyfileTest {};

TEST_F(FixedTest, NewReadWriteAndPersist) {
  ASSERT_EQ(CreateDataFile(0, "d.dat", 50, 4096, 2), 0);
  std::vector<int32_t> pos;
  for (int i = 0; i < 100; ++i) {
    int32_t p = NewData(0);
    ASSERT_EQ(p, 150 + 50 * i);
    char rec[50] = {};
    std::snprintf(rec, sizeof rec, "record %d", i);
    ASSERT_EQ(WriteData(0, p, rec), 0);
    pos.push_back(p);
  }
  EXPECT_EQ(ActiveRecordCount(0), 100);
  EXPECT_EQ(GetFileInfo(0, OL_INFO_PHYSEND), 8192);  // grew by extension steps of 4096
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  auto b = slurp(path("d.dat"));
  ASSERT_EQ(b.size(), 150u + 5000u < 4096u ? 4096u : b.size());
  EXPECT_EQ(le32(b, 24), 100);
  EXPECT_EQ(le32(b, 20), 100);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b.data()) + 150 + 50 * 42), "record 42");
  ASSERT_EQ(OpenOlFile(0, "d.dat", 2), 0);
  char back[50];
  ASSERT_EQ(ReadData(0, pos[99], back), 0);
  EXPECT_STREQ(back, "record 99");
  EXPECT_EQ(ReadData(0, 0, back), 29);
  EXPECT_EQ(ReadData(0, 150 + 50 * 100, back), 30);
  EXPECT_EQ(ReadData(0, 151, back), 30);  // not on a record boundary
  EXPECT_EQ(ReadData(0, pos[0], nullptr), 33);
  EXPECT_EQ(NewVData(0, 10), 0);
  EXPECT_EQ(uerr_cod, 48);
}

TEST_F(FixedTest, ReleaseChainReusesMostRecentFirst) {
  ASSERT_EQ(CreateDataFile(0, "r.dat", 4096, 0, 2), 0);
  int32_t a = NewData(0), b = NewData(0), c = NewData(0);
  EXPECT_EQ(a, 4096);
  EXPECT_EQ(b, 8192);
  ASSERT_EQ(ReleaseData(0, a), 0);
  ASSERT_EQ(ReleaseData(0, c), 0);
  EXPECT_EQ(ReleaseData(0, c), 32);  // twice in a row
  EXPECT_EQ(ReleaseData(0, a), 32);  // already on the chain, though not its head
  EXPECT_EQ(ActiveRecordCount(0), 1);
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  auto f = slurp(path("r.dat"));
  EXPECT_EQ(le32(f, 4), c);
  EXPECT_EQ(f[c], 0xFF);
  EXPECT_EQ(le32(f, c + 1), a);
  EXPECT_EQ(f[a], 0xFF);
  EXPECT_EQ(le32(f, a + 1), 0);
  ASSERT_EQ(OpenOlFile(0, "r.dat", 2), 0);
  EXPECT_EQ(NewData(0), c);
  EXPECT_EQ(NewData(0), a);
  EXPECT_EQ(NewData(0), c + 4096);
  EXPECT_EQ(ActiveRecordCount(0), 4);
  char report[128];
  EXPECT_EQ(CheckOlFile(0, report, sizeof report), 0) << report;
}

TEST_F(FixedTest, BrokenReleaseChainIsAnErrorNotAHang) {
  ASSERT_EQ(CreateDataFile(0, "b.dat", 16, 0, 2), 0);
  int32_t a = NewData(0), b = NewData(0), d = NewData(0);
  ASSERT_EQ(ReleaseData(0, a), 0);
  ASSERT_EQ(ReleaseData(0, b), 0);
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  auto f = slurp(path("b.dat"));
  put32(f, a + 1, b);  // a cycle: b -> a -> b
  spit(path("b.dat"), f);
  ASSERT_EQ(OpenOlFile(0, "b.dat", 2), 0);
  char report[128];
  EXPECT_EQ(CheckOlFile(0, report, sizeof report), 31);
  int32_t c = NewData(0);
  EXPECT_EQ(c, b);
  EXPECT_EQ(ReleaseData(0, d), 31);  // the walk over the chain stops instead of looping
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  f = slurp(path("b.dat"));
  put32(f, 4, 9999);  // chain head off the records
  spit(path("b.dat"), f);
  EXPECT_EQ(OpenOlFile(0, "b.dat", 2), 13);
}

TEST_F(FixedTest, WrittenBackPageNeverOverwritesTheHeader) {
  ASSERT_NO_FATAL_FAILURE(restart(2));  // two pages: every third page touched evicts one
  ASSERT_EQ(CreateDataFile(0, "p.dat", 100, 0, 2), 0);
  char rec[100] = "x";
  for (int i = 0; i < 40; ++i) ASSERT_EQ(WriteData(0, NewData(0), rec), 0);
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  ASSERT_EQ(OpenOlFile(0, "p.dat", 3), 0);  // shared: reads go through the page buffers
  char back[100];
  ASSERT_EQ(ReadData(0, 200, back), 0);  // page 0, header bytes included, now cached
  rec[0] = 'y';
  ASSERT_EQ(WriteData(0, 200, rec), 0);  // first change: the flag goes to disk directly
  EXPECT_EQ(slurp(path("p.dat"))[56], 0xFF);
  ASSERT_EQ(ReadData(0, 2000, back), 0);
  ASSERT_EQ(ReadData(0, 3000, back), 0);  // page 0 written back
  auto f = slurp(path("p.dat"));
  EXPECT_EQ(f[56], 0xFF);  // still marked: a crash now must not look like a clean close
  EXPECT_EQ(f[200], 'y');
  EXPECT_EQ(le32(f, 108), le32(f, 108));
}

class VariableTest : public KeyfileTest {
 protected:
  void SetUp() override {
    KeyfileTest::SetUp();
    ASSERT_EQ(CreateDataFile(0, "v.dat", 0, 0, 6), 0);
  }
  uint16_t mark_at(int32_t pos) {
    auto b = slurp(path("v.dat"));
    return le16(b, static_cast<size_t>(pos));
  }
  int32_t total_at(int32_t pos) { return le32(slurp(path("v.dat")), static_cast<size_t>(pos) + 2); }
};

TEST_F(VariableTest, RecordsCarryTheirHeader) {
  const char text[] = "a variable record";
  int32_t p = NewVData(0, sizeof text);
  ASSERT_EQ(p, 512);
  ASSERT_EQ(WriteVData(0, p, text, sizeof text), 0);
  EXPECT_EQ(VDataLength(0, p), static_cast<int32_t>(sizeof text));
  char back[64];
  ASSERT_EQ(ReadVData(0, p, back, sizeof back), 0);
  EXPECT_STREQ(back, text);
  EXPECT_EQ(ReadVData(0, p, back, sizeof text - 1), 153);
  ASSERT_EQ(FlushFile(0), 0);
  auto b = slurp(path("v.dat"));
  EXPECT_EQ(le16(b, 512), 0xFAFA);
  EXPECT_EQ(le32(b, 514), static_cast<int32_t>(sizeof text) + 10);
  EXPECT_EQ(le32(b, 518), static_cast<int32_t>(sizeof text));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b.data()) + 522), text);
  EXPECT_EQ(NewVData(0, 0x7ffffff6), 0);
  EXPECT_EQ(uerr_cod, 140);
  EXPECT_EQ(WriteVData(0, 0, text, 3), 159);
  EXPECT_EQ(ReadVData(0, 0, back, 3), 29);
  EXPECT_EQ(ReadVData(0, 600, back, 3), 30);
  EXPECT_EQ(ReadVData(0, p + 1, back, 64), 123);  // no record header there
}

TEST_F(VariableTest, SplitRuleAndMerging) {
  std::vector<uint8_t> big(290, 'b');
  int32_t p = NewVData(0, 290);  // a piece of 300
  ASSERT_EQ(WriteVData(0, p, big.data(), 290), 0);
  int32_t q = NewVData(0, 20);   // keeps p's piece away from the end
  ASSERT_EQ(WriteVData(0, q, big.data(), 20), 0);
  ASSERT_EQ(ReleaseVData(0, p), 0);
  EXPECT_EQ(KeyCount(0), 1);
  int32_t r = NewVData(0, 100);
  EXPECT_EQ(r, p);  // best fit: the free piece
  ASSERT_EQ(WriteVData(0, r, big.data(), 100), 0);
  ASSERT_EQ(FlushFile(0), 0);
  EXPECT_EQ(total_at(r), 110);
  EXPECT_EQ(mark_at(r + 110), 0xFDFD);
  EXPECT_EQ(total_at(r + 110), 190);
  char report[128];
  EXPECT_EQ(CheckOlFile(0, report, sizeof report), 0) << report;
  // A leftover of exactly 64 stays with the record.
  int32_t s = NewVData(0, 116);  // takes the 190 piece: 190 - 116 - 10 = 64
  EXPECT_EQ(s, r + 110);
  ASSERT_EQ(WriteVData(0, s, big.data(), 116), 0);
  ASSERT_EQ(FlushFile(0), 0);
  EXPECT_EQ(total_at(s), 190);
  EXPECT_EQ(KeyCount(0), 0);
  // Adjacent pieces merge only when the later one is released first.
  ASSERT_EQ(ReleaseVData(0, r), 0);
  ASSERT_EQ(ReleaseVData(0, s), 0);
  EXPECT_EQ(KeyCount(0), 2);
  ASSERT_EQ(NewVData(0, 50), r);  // the 110 piece is the best fit
  EXPECT_EQ(CheckOlFile(0, report, sizeof report), 0) << report;
  int32_t t = NewVData(0, 80);
  ASSERT_EQ(WriteVData(0, t, big.data(), 80), 0);  // takes the 190 piece, no split (100 left)
  ASSERT_EQ(ReleaseVData(0, t), 0);
  ASSERT_EQ(WriteVData(0, r, big.data(), 50), 0);
  ASSERT_EQ(ReleaseVData(0, r), 0);  // merges with the free piece after it
  EXPECT_EQ(KeyCount(0), 1);
  ASSERT_EQ(FlushFile(0), 0);
  EXPECT_EQ(total_at(r), 300);
  EXPECT_EQ(CheckOlFile(0, report, sizeof report), 0) << report;
}

TEST_F(VariableTest, OnlyLiveRecordsAreReleasedOrWritten) {
  std::vector<uint8_t> data(100, 'd');
  int32_t p = NewVData(0, 100);
  ASSERT_EQ(WriteVData(0, p, data.data(), 100), 0);
  int32_t q = NewVData(0, 100);
  ASSERT_EQ(WriteVData(0, q, data.data(), 100), 0);
  ASSERT_EQ(ReleaseVData(0, p), 0);
  EXPECT_EQ(ReleaseVData(0, p), 158);  // already free
  EXPECT_EQ(WriteVData(0, p, data.data(), 10), 158);
  EXPECT_EQ(VDataLength(0, p), 0);
  EXPECT_EQ(uerr_cod, 158);
  // Space-index nodes live in the file as pieces of their own.
  int32_t root = 0;
  ASSERT_EQ(FlushFile(0), 0);
  root = le32(slurp(path("v.dat")), 28);
  ASSERT_GT(root, 0);
  EXPECT_EQ(mark_at(root - 10), 0xFBBF);
  EXPECT_EQ(ReleaseVData(0, root - 10), 158);
  EXPECT_EQ(WriteVData(0, root - 10, data.data(), 10), 158);
  char report[128];
  EXPECT_EQ(CheckOlFile(0, report, sizeof report), 0) << report;
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  ASSERT_EQ(OpenOlFile(0, "v.dat", 6), 0);
  EXPECT_EQ(CheckOlFile(0, report, sizeof report), 0) << report;
  char back[100];
  ASSERT_EQ(ReadVData(0, q, back, 100), 0);
  EXPECT_EQ(back[99], 'd');
}

// Random records of up to 2000 bytes, released at random and stored again (RenewVData, then
// the old piece released) at random; the pieces must keep tiling the file and every record
// must read back, also when the caches hold only a few pages and nodes (space-index nodes and
// record pages then share file pages and evict each other).
void many_pieces(int16_t file, const std::string& name, uint32_t seed) {
  std::mt19937 rng(seed);
  std::map<int32_t, std::vector<uint8_t>> live;
  int64_t appended = 0;
  for (int i = 0; i < 3000; ++i) {
    const uint32_t pick = rng() % 6;
    if (!live.empty() && pick < 2) {
      auto it = live.lower_bound(static_cast<int32_t>(rng() % 2000000));
      if (it == live.end()) it = live.begin();
      ASSERT_EQ(ReleaseVData(file, it->first), 0);
      live.erase(it);
    } else if (!live.empty() && pick == 2) {
      auto it = live.lower_bound(static_cast<int32_t>(rng() % 2000000));
      if (it == live.end()) it = live.begin();
      int32_t len = 1 + static_cast<int32_t>(rng() % 3000);
      std::vector<uint8_t> d(static_cast<size_t>(len), static_cast<uint8_t>(rng()));
      const int32_t end = GetFileInfo(file, 10);
      int32_t p = RenewVData(file, it->first, d.data(), len);
      ASSERT_NE(p, 0) << uerr_cod;
      ASSERT_NE(p, it->first);
      if (p == end) appended += GetFileInfo(file, 10) - end;
      ASSERT_EQ(ReleaseVData(file, it->first), 0);
      live.erase(it);
      ASSERT_EQ(live.count(p), 0u);
      live[p] = d;
    } else {
      int32_t len = 1 + static_cast<int32_t>(rng() % 2000);
      std::vector<uint8_t> d(static_cast<size_t>(len), static_cast<uint8_t>(rng()));
      const int32_t end = GetFileInfo(file, 10);
      int32_t p = NewVData(file, len);
      ASSERT_NE(p, 0) << uerr_cod;
      if (p == end) appended += len + 10;
      ASSERT_EQ(WriteVData(file, p, d.data(), len), 0);
      ASSERT_EQ(live.count(p), 0u);
      live[p] = d;
    }
    if (i % 500 == 499) {
      char report[160];
      ASSERT_EQ(CheckOlFile(file, report, sizeof report), 0) << report;
    }
  }
  ASSERT_EQ(CloseOlFile(file, 0), 0);
  std::set<int32_t> keyed;
  for (auto& [p, d] : live) keyed.insert(p);
  expect_every_piece_reached(name, keyed, appended);
  ASSERT_EQ(OpenOlFile(file, name.c_str(), 6), 0);
  char report[160];
  ASSERT_EQ(CheckOlFile(file, report, sizeof report), 0) << report;
  for (auto& [p, d] : live) {
    std::vector<uint8_t> back(d.size());
    ASSERT_EQ(ReadVData(file, p, back.data(), static_cast<int32_t>(back.size())), 0);
    ASSERT_EQ(back, d);
  }
}

TEST_F(VariableTest, ManyPiecesStayTiledAndIndexed) { ASSERT_NO_FATAL_FAILURE(many_pieces(0, "v.dat", 7)); }

TEST_F(VariableTest, ManyPiecesWithTinyCaches) {
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  ASSERT_NO_FATAL_FAILURE(restart(3));
  ASSERT_EQ(OpenOlFile(0, "v.dat", 6), 0);
  ASSERT_NO_FATAL_FAILURE(many_pieces(0, "v.dat", 8));
}

// Records over several pages read while the pages of other records' changes are still held
// in a cache of three pages: every read returns the latest bytes, whichever of its pages
// are buffered, changed or only in the file.
TEST_F(VariableTest, ReadsOverSeveralPagesSeeBufferedChanges) {
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  ASSERT_NO_FATAL_FAILURE(restart(3));
  ASSERT_EQ(OpenOlFile(0, "v.dat", 6), 0);
  std::mt19937 rng(2801);
  std::map<int32_t, std::vector<uint8_t>> live;
  auto fill = [&](std::vector<uint8_t>& d) {
    for (auto& b : d) b = static_cast<uint8_t>(rng());
  };
  for (int i = 0; i < 120; ++i) {
    std::vector<uint8_t> d(static_cast<size_t>(300 + rng() % 2700));
    fill(d);
    int32_t p = NewVData(0, static_cast<int32_t>(d.size()));
    ASSERT_NE(p, 0) << uerr_cod;
    ASSERT_EQ(WriteVData(0, p, d.data(), static_cast<int32_t>(d.size())), 0);
    live[p] = d;
  }
  std::vector<int32_t> positions;
  for (auto& [p, d] : live) positions.push_back(p);
  for (int round = 0; round < 2000; ++round) {
    const int32_t p = positions[rng() % positions.size()];
    std::vector<uint8_t>& d = live[p];
    if (rng() % 2) {
      fill(d);
      ASSERT_EQ(WriteVData(0, p, d.data(), static_cast<int32_t>(d.size())), 0);
    }
    const int32_t q = positions[rng() % positions.size()];
    std::vector<uint8_t> back(live[q].size());
    ASSERT_EQ(VDataLength(0, q), static_cast<int32_t>(back.size()));
    ASSERT_EQ(ReadVData(0, q, back.data(), static_cast<int32_t>(back.size())), 0) << "round " << round;
    ASSERT_EQ(back, live[q]) << "round " << round;
  }
}

// Write-through records replaced in place when they fit (the rest split off as free
// space) and moved when they grow: after every call the file itself holds the record's
// header and bytes, the split-off piece reads free, and reads through the engine return
// the latest bytes whether its pages come from buffers (shared open) or the mapping.
TEST_F(VariableTest, WriteThroughReplacesAreInTheFileAtOnce) {
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  for (const uint16_t mode : {uint16_t(0x46), uint16_t(0x47)}) {
    SCOPED_TRACE(mode);
    ASSERT_NO_FATAL_FAILURE(restart(3));
    std::filesystem::remove(path("v.dat"));
    ASSERT_EQ(CreateDataFile(0, "v.dat", 0, 0, 0x46), 0);
    ASSERT_EQ(CloseOlFile(0, 0), 0);
    ASSERT_EQ(OpenOlFile(0, "v.dat", mode), 0);
    std::mt19937 rng(mode);
    std::map<int32_t, std::vector<uint8_t>> live;
    auto make = [&](size_t n) {
      std::vector<uint8_t> d(n);
      for (auto& b : d) b = static_cast<uint8_t>(rng());
      return d;
    };
    int64_t appended = 0;
    auto new_piece = [&](int32_t len) {
      const int32_t end = GetFileInfo(0, 10);
      const int32_t p = NewVData(0, len);
      if (p == end) appended += len + 10;
      return p;
    };
    for (int i = 0; i < 40; ++i) {
      auto d = make(300 + rng() % 2700);
      int32_t p = new_piece(static_cast<int32_t>(d.size()));
      ASSERT_NE(p, 0) << uerr_cod;
      ASSERT_EQ(WriteVData(0, p, d.data(), static_cast<int32_t>(d.size())), 0);
      live[p] = d;
    }
    int in_place = 0, split = 0, moved = 0;
    for (int round = 0; round < 200; ++round) {
      auto it = std::next(live.begin(), static_cast<long>(rng() % live.size()));
      int32_t p = it->first;
      std::vector<uint8_t> before(it->second.size());
      ASSERT_EQ(ReadVData(0, p, before.data(), static_cast<int32_t>(before.size())), 0);
      const int32_t room = total_at(p) - 10;
      auto d = make(100 + rng() % 3500);
      const int32_t len = static_cast<int32_t>(d.size());
      if (len <= room) {
        ASSERT_EQ(WriteVData(0, p, d.data(), len), 0);
        const int32_t left = room - len;
        ++in_place;
        if (left > 64) {
          ++split;
          EXPECT_EQ(mark_at(p + 10 + len), 0xFDFD) << "round " << round;
        }
        EXPECT_EQ(total_at(p), left > 64 ? len + 10 : room + 10);
      } else {
        const int32_t q = new_piece(len);
        ASSERT_NE(q, 0) << uerr_cod;
        ASSERT_EQ(WriteVData(0, q, d.data(), len), 0);
        ASSERT_EQ(ReleaseVData(0, p), 0);
        EXPECT_EQ(mark_at(p), 0xFDFD);
        live.erase(it);
        p = q;
        ++moved;
      }
      live[p] = d;
      // Straight from the file, before any flush.
      const auto file = slurp(path("v.dat"));
      ASSERT_EQ(le16(file, static_cast<size_t>(p)), 0xFAFA);
      ASSERT_EQ(le32(file, static_cast<size_t>(p) + 6), len);
      ASSERT_TRUE(std::equal(d.begin(), d.end(), file.begin() + p + 10)) << "round " << round;
      // The record just written (its pages were read just before) and another one.
      for (const int32_t r : {p, std::next(live.begin(), static_cast<long>(rng() % live.size()))->first}) {
        std::vector<uint8_t> back(live[r].size());
        ASSERT_EQ(ReadVData(0, r, back.data(), static_cast<int32_t>(back.size())), 0);
        ASSERT_EQ(back, live[r]) << "round " << round;
      }
    }
    EXPECT_GT(split, 15);
    EXPECT_GE(in_place - split, 3);
    EXPECT_GT(moved, 15);
    char report[160];
    ASSERT_EQ(CheckOlFile(0, report, sizeof report), 0) << report;
    ASSERT_EQ(CloseOlFile(0, 0), 0);
    std::set<int32_t> keyed;
    for (auto& [p, d] : live) keyed.insert(p);
    expect_every_piece_reached(path("v.dat"), keyed, appended);
  }
}

// ---------------------------------------------------------------- killed while writing

struct Committed {
  int32_t key;
  int32_t pos;
};

// The child writes records and reports each one after the call returned; the parent kills
// it with SIGKILL at a random moment and inspects the files.
class CrashTest : public KeyfileTest {};

TEST_F(CrashTest, FixedFileKilledWhileWritingIsReportedAndKeepsCommittedRecords) {
  ASSERT_EQ(CreateDataFile(0, "c.dat", 50, 0, 2), 0);
  for (int i = 0; i < 100; ++i) {
    char rec[50] = {};
    std::snprintf(rec, sizeof rec, "committed %d", i);
    ASSERT_EQ(WriteData(0, NewData(0), rec), 0);
  }
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  std::mt19937 rng(11);
  for (int round = 0; round < 6; ++round) {
    StopKeyedFileEngine();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      InitKeyedFileEngine(4, 20, 4);
      if (OpenOlFile(0, "c.dat", 2 | 0x4000)) _exit(3);
      for (int i = 0;; ++i) {
        char rec[50] = {};
        std::snprintf(rec, sizeof rec, "new %d", i);
        int32_t p = NewData(0);
        if (!p || WriteData(0, p, rec)) _exit(4);
        if (i == 0 && write(fds[1], "x", 1) != 1) _exit(5);
        if (i % 50 == 0) ReleaseData(0, p);
      }
    }
    close(fds[1]);
    char started;
    ASSERT_EQ(read(fds[0], &started, 1), 1);
    close(fds[0]);
    usleep(2000 + static_cast<useconds_t>(rng() % 20000));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "child ended on its own: " << WEXITSTATUS(status);
    ASSERT_EQ(InitKeyedFileEngine(64, 20, 4), 0);
    EXPECT_EQ(OpenOlFile(0, "c.dat", 2), 14);
    EXPECT_EQ(slurp(path("c.dat"))[56], 'R');
    ASSERT_EQ(OpenOlFile(0, "c.dat", 2 | 0x4000), 0);
    for (int i = 0; i < 100; ++i) {
      char back[50];
      ASSERT_EQ(ReadData(0, 150 + 50 * i, back), 0);
      char want[50];
      std::snprintf(want, sizeof want, "committed %d", i);
      ASSERT_STREQ(back, want);
    }
    ASSERT_EQ(CloseOlFile(0, 0), 0);
  }
}

// Store as the database layer does: a record stored again goes elsewhere (RenewVData), and
// the key moves to the new record before the old piece is released.
int16_t store(int16_t dat, int16_t idx, const uint8_t* key, const std::vector<uint8_t>& d) {
  int32_t old = GetKey(idx, key);
  if (uerr_cod) return uerr_cod;
  const int32_t length = static_cast<int32_t>(d.size());
  int32_t p = old ? RenewVData(dat, old, d.data(), length) : NewVData(dat, length);
  if (!p) return uerr_cod;
  if (!old && WriteVData(dat, p, d.data(), length)) return uerr_cod;
  if (old) {
    // One node write moves the key: no moment without it.
    if (AddKey(idx, key, p, 0x40)) return uerr_cod;
    return ReleaseVData(dat, old);
  }
  return AddKey(idx, key, p, 0);
}

// The index key for key number k: its name padded with blanks.
void key_of(uint32_t k, uint8_t (&key)[32]) {
  std::memset(key, ' ', sizeof key);
  std::snprintf(reinterpret_cast<char*>(key), 12, "k%u", k);
  key[std::strlen(reinterpret_cast<char*>(key))] = ' ';
}

// Deletes a key and releases its record, as the database layer does: 0 or the error.
int16_t erase(int16_t dat, int16_t idx, const uint8_t* key) {
  int32_t old = GetKey(idx, key);
  if (uerr_cod || !old) return uerr_cod;
  if (DeleteKey(idx, key, old)) return uerr_cod;
  return ReleaseVData(dat, old);
}

std::vector<uint8_t> value_for(uint32_t key, uint32_t version) {
  std::mt19937 r(key * 7919u + version);
  std::vector<uint8_t> d(1 + r() % 3000);
  for (auto& c : d) c = static_cast<uint8_t>(r());
  return d;
}

// The total length of the piece at pos, from the file's bytes (a write-through file has them).
int32_t piece_total(const std::string& file, int32_t pos) {
  std::ifstream in(file, std::ios::binary);
  in.seekg(pos + 2);
  uint8_t b[4] = {};
  in.read(reinterpret_cast<char*>(b), 4);
  return static_cast<int32_t>(uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24));
}

// A kill can stop the system between the pages of one write, so a node whose bytes cross a
// 4 KiB boundary could be left half written: the free-space index of a variable file keeps
// every node inside one block.
TEST_F(CrashTest, FreeSpaceNodesNeverCrossABlockAKillCouldTear) {
  ASSERT_EQ(CreateDataFile(0, "n.dat", 0, 4096, 0x46), 0);
  ASSERT_EQ(CreateIndexFile(1, "n.idx", 32, 12, 0, 0, 1024, 0x42), 0);
  std::mt19937 r(7);
  int64_t appended = 0;  // bytes records added at the end of the file
  for (uint32_t n = 0; n < 5000; ++n) {
    uint32_t k = r() % 2500;
    uint8_t key[32];
    key_of(k, key);
    if (r() % 5 == 0) {
      ASSERT_EQ(erase(0, 1, key), 0) << n;
      continue;
    }
    const int32_t end = GetFileInfo(0, 10);
    ASSERT_EQ(store(0, 1, key, value_for(k, n)), 0) << n;
    // The whole piece: one for a record stored again keeps room to grow.
    if (const int32_t at = GetKey(1, key); at == end) appended += piece_total(path("n.dat"), at);
  }
  char report[200];
  ASSERT_EQ(CheckOlFile(0, report, sizeof report), 0) << report;
  const int32_t header_area = GetFileInfo(0, 12);  // the node size
  const std::set<int32_t> keyed = keyed_positions(1, 32);
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  ASSERT_EQ(CloseOlFile(1, 0), 0);
  expect_every_piece_reached(path("n.dat"), keyed, appended);
  auto b = slurp(path("n.dat"));
  const int32_t end = le32(b, 8) + 1;
  int32_t pos = header_area, nodes = 0;
  while (pos < end) {
    const int32_t total = le32(b, pos + 2);
    ASSERT_GE(total, 10) << pos;
    if (le16(b, pos) == 0xFBBF) {
      ++nodes;
      const int32_t first = pos + 10, last = pos + total - 1;
      EXPECT_EQ(first / 4096, last / 4096) << "node at " << first << " of " << total - 10 << " bytes";
    }
    pos += total;
  }
  EXPECT_EQ(pos, end);
  EXPECT_GT(nodes, 10);
}

// The same at the edges, with the file's end set where a new node's piece header still fits
// before a block's end but the node's last bytes would not: the node starts on the next
// block, and the bytes skipped (a whole block more when fewer than a header's 10 were left)
// are a free piece the space index lists and a later record takes.
TEST_F(CrashTest, ANodeThatWouldEndPastABlockStartsOnTheNextAndItsGapIsFreeSpace) {
  for (const int32_t end_in_block : {3580, 4036, 4080}) {
    SCOPED_TRACE(end_in_block);
    const std::string name = "e" + std::to_string(end_in_block) + ".dat";
    ASSERT_EQ(CreateDataFile(0, name.c_str(), 0, 4096, 0x46), 0);
    uerr_cod = 0;
    const int32_t first = NewVData(0, 100);
    ASSERT_GT(first, 0);
    const int32_t filler = NewVData(0, end_in_block - GetFileInfo(0, 10) - 10);
    ASSERT_GT(filler, 0);
    ASSERT_EQ(GetFileInfo(0, 10), end_in_block) << "the next piece starts here";
    ASSERT_EQ(ReleaseVData(0, first), 0);  // the space index's first key: its root is made
    int32_t gap = 4096 - end_in_block - 10;  // to the block's end, less the node piece's header
    if (gap < 10) gap += 4096;
    // A record that fits the skipped bytes goes there rather than to the end.
    const int32_t small = NewVData(0, gap - 10);
    EXPECT_EQ(small, end_in_block);
    char report[200];
    ASSERT_EQ(CheckOlFile(0, report, sizeof report), 0) << report;
    ASSERT_EQ(CloseOlFile(0, 0), 0);
    const auto b = slurp(path(name));
    const int32_t root = le32(b, 28);
    EXPECT_EQ(root % 4096, 0) << "the node starts a block: " << root;
    const PieceAudit a = audit_pieces(b, {filler, small});
    for (const std::string& problem : a.problems) ADD_FAILURE() << problem;
    EXPECT_TRUE(a.orphans.empty());
    EXPECT_EQ(a.unlisted_free, 0);
    EXPECT_EQ(a.nodes, 1);
  }
}

// Nodes of 2048 bytes (a file from a build with larger nodes): splitting the root makes two
// nodes in one insertion, each of which must skip to a block of its own; every piece skipped
// is listed in the space index once the insertion is done.
TEST_F(CrashTest, ARootSplitOfLargeNodesListsEveryPieceItsNodesSkipped) {
  ASSERT_NO_FATAL_FAILURE(restart(64));
  StopKeyedFileEngine();
  ASSERT_EQ(InitKeyedFileEngine(64, 20, 16), 0);
  ASSERT_EQ(CreateDataFile(0, "big.dat", 0, 4096, 0x46), 0);
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  auto b = slurp(path("big.dat"));
  ASSERT_EQ(le16(b, 42), 512);
  b.resize(2048, 0xFF);
  put32(b, 0, 2047);
  put32(b, 8, 2047);
  put16(b, 42, 2048);
  put16(b, 52, static_cast<uint16_t>(((2048 - 18) / 12 - 1) * 12));  // leaf room
  put16(b, 54, 2048 - 18);                                          // branch room
  put16(b, 94, 2048 / 4);
  spit(path("big.dat"), b);
  ASSERT_EQ(OpenOlFile(0, "big.dat", 0x46), 0);
  ASSERT_EQ(GetFileInfo(0, 12), 2048);
  std::vector<int32_t> kept;
  std::vector<int32_t> freed;
  uerr_cod = 0;
  for (int i = 0; i < 400; ++i) {
    const int32_t at = NewVData(0, 50);
    ASSERT_GT(at, 0) << i;
    (i % 2 ? kept : freed).push_back(at);
  }
  // Every other record released: pieces that never merge, more than one leaf holds.
  for (int32_t at : freed) ASSERT_EQ(ReleaseVData(0, at), 0);
  char report[200];
  ASSERT_EQ(CheckOlFile(0, report, sizeof report), 0) << report;
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  b = slurp(path("big.dat"));
  const PieceAudit a = audit_pieces(b, std::set<int32_t>(kept.begin(), kept.end()));
  for (const std::string& problem : a.problems) ADD_FAILURE() << problem;
  EXPECT_TRUE(a.orphans.empty());
  EXPECT_EQ(a.unlisted_free, 0) << "pieces skipped by new nodes and never listed";
  EXPECT_GE(a.nodes, 3) << "a root split";
  EXPECT_GT(le32(b, 24), 200) << "the released records and the skipped pieces";
}

TEST_F(CrashTest, WriteThroughDatabaseSurvivesKillsAtRandomPoints) {
  ASSERT_EQ(CreateDataFile(0, "w.dat", 0, 4096, 0x46), 0);
  ASSERT_EQ(CreateIndexFile(1, "w.idx", 32, 12, 0, 0, 1024, 0x42), 0);
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  ASSERT_EQ(CloseOlFile(1, 0), 0);
  std::map<uint32_t, uint32_t> model;  // key -> version, as reported committed
  std::set<int32_t> left_by_kills;     // records an interrupted store or erase left unkeyed
  std::mt19937 rng(12345);
  const int kRounds = 25;
  for (int round = 0; round < kRounds; ++round) {
    StopKeyedFileEngine();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    uint32_t seed = static_cast<uint32_t>(rng());
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      InitKeyedFileEngine(16, 20, 4);
      if (OpenOlFile(0, "w.dat", 0x46) || OpenOlFile(1, "w.idx", 0x42)) _exit(3);
      std::mt19937 r(seed);
      for (uint32_t n = 0;; ++n) {
        uint32_t k = r() % 400;
        uint8_t key[32];
        key_of(k, key);
        uint32_t version = seed ^ n;
        bool del = r() % 5 == 0;
        // Intent before the call, commit after it: the one operation in flight at the
        // kill may or may not have taken effect.
        uint32_t msg[3] = {k, version, del ? 3u : 2u};
        if (write(fds[1], msg, sizeof msg) != sizeof msg) _exit(6);
        if (int16_t e = del ? erase(0, 1, key) : store(0, 1, key, value_for(k, version))) _exit(e & 0xFF);
        msg[2] -= 2;
        if (write(fds[1], msg, sizeof msg) != sizeof msg) _exit(6);
      }
    }
    close(fds[1]);
    // Let the child commit a random number of operations, then kill it a moment later.
    uint32_t msg[3];
    int64_t inflight = -1;
    uint32_t inflight_version = 0;
    bool inflight_store = false;
    auto take = [&]() {
      if (msg[2] >= 2) {
        inflight = msg[0];
        inflight_version = msg[1];
        inflight_store = msg[2] == 2;
        return;
      }
      inflight = -1;
      if (msg[2]) model.erase(msg[0]);
      else model[msg[0]] = msg[1];
    };
    uint32_t target = 1 + static_cast<uint32_t>(rng() % 120);
    for (uint32_t commits = 0; commits < target && read(fds[0], msg, sizeof msg) == sizeof msg;) {
      take();
      if (msg[2] < 2) ++commits;
    }
    usleep(static_cast<useconds_t>(rng() % 3000));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "child ended on its own: " << WEXITSTATUS(status);
    while (read(fds[0], msg, sizeof msg) == sizeof msg) {
      take();
    }
    close(fds[0]);
    const auto killed = slurp(path("w.dat"));
    ASSERT_EQ(InitKeyedFileEngine(64, 20, 4), 0);
    ASSERT_EQ(OpenOlFile(0, "w.dat", 0x46), 0) << "round " << round;
    ASSERT_EQ(OpenOlFile(1, "w.idx", 0x42), 0) << "round " << round;
    {
      // Every piece the kill left is accounted for. Free pieces not yet indexed are space a
      // later release merges back; a record no key points to may only be the one the
      // interrupted call was writing or giving up: sized for the new value and not yet (or
      // not wholly) written, or holding the previous value of its key.
      const PieceAudit a = audit_pieces(killed, keyed_positions(1, 32), true);
      for (const std::string& s : a.problems) ADD_FAILURE() << "round " << round << ": " << s;
      int fresh = 0;
      for (const int32_t at : a.orphans) {
        if (!left_by_kills.insert(at).second) continue;
        ++fresh;
        const int32_t used = le32(killed, static_cast<size_t>(at) + 6);
        const std::vector<uint8_t> held(killed.begin() + at + 10, killed.begin() + at + 10 + used);
        const auto k = static_cast<uint32_t>(inflight);
        // A write the kill cut short leaves the new length in the header before all the bytes.
        const bool storing = inflight >= 0 && inflight_store;
        const int32_t size = storing ? static_cast<int32_t>(value_for(k, inflight_version).size()) : 0;
        const bool was_new = storing && le32(killed, static_cast<size_t>(at) + 2) >= size + 10 && (used == 0 || used == size);
        const bool was_old = inflight >= 0 && model.count(k) && held == value_for(k, model[k]);
        EXPECT_TRUE(was_new || was_old) << "round " << round << ": record " << at << " is in use but no key points to it";
      }
      EXPECT_LE(fresh, 1) << "round " << round << ": records left without a key by one kill";
    }
    if (inflight >= 0) {
      // Whatever the interrupted operation left for its key becomes the model's truth.
      uint8_t key[32];
      key_of(static_cast<uint32_t>(inflight), key);
      if (!GetKey(1, key)) model.erase(static_cast<uint32_t>(inflight));
      else if (!model.count(static_cast<uint32_t>(inflight))) model[static_cast<uint32_t>(inflight)] = inflight_version;
    }
    for (auto& [k, version] : model) {
      uint8_t key[32];
      key_of(k, key);
      int32_t p = GetKey(1, key);
      ASSERT_NE(p, 0) << "round " << round << " key " << k << " error " << uerr_cod;
      auto want = value_for(k, version);
      int32_t len = VDataLength(0, p);
      std::vector<uint8_t> back(static_cast<size_t>(std::max(len, 1)));
      ASSERT_EQ(ReadVData(0, p, back.data(), len), 0) << "round " << round << " key " << k;
      if (static_cast<int64_t>(k) == inflight && back == value_for(k, inflight_version)) {
        version = inflight_version;  // the interrupted store took effect
        continue;
      }
      ASSERT_EQ(back, want) << "round " << round << " key " << k;
    }
    ASSERT_EQ(CloseOlFile(0, 0), 0);
    ASSERT_EQ(CloseOlFile(1, 0), 0);
  }
  EXPECT_GT(model.size(), 50u);
}

}  // namespace
