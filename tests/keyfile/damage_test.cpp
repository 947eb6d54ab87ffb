// Damaged files: flipped bytes, truncation, cyclic links, counts larger than the node.
// Every case must end in an error or a sound answer: no crash, no hang, no read outside
// a buffer (the sanitizer build checks the last).
#include <random>

#include "kf_fixture.h"

using namespace kftest;

namespace {

class DamageTest : public KeyfileTest {
 protected:
  static constexpr int kKeys = 3000;
  std::string key(int i) {
    char k[16];
    std::snprintf(k, sizeof k, "key%07d", i * 7);
    std::string s(k);
    s.resize(20, ' ');
    return s;
  }
  void build(int16_t ktype) {
    ASSERT_EQ(CreateIndexFile(0, "d.idx", 20, ktype, 0, 0, 0, 2), 0);
    ASSERT_EQ(CreateDataFile(1, "d.dat", 0, 0, 6), 0);
    std::vector<uint8_t> rec(300, 'r');
    for (int i = 0; i < kKeys; ++i) {
      int32_t p = NewVData(1, 50 + i % 250);
      ASSERT_NE(p, 0);
      ASSERT_EQ(WriteVData(1, p, rec.data(), 50 + i % 250), 0);
      ASSERT_EQ(AddKey(0, key(i).data(), p, 0), 0);
      if (i % 3 == 0) {
        ASSERT_EQ(ReleaseVData(1, p), 0);
        ASSERT_EQ(DeleteKey(0, key(i).data(), p), 0);
      }
    }
    ASSERT_EQ(CloseOlFile(0, 0), 0);
    ASSERT_EQ(CloseOlFile(1, 0), 0);
    good_idx = slurp(path("d.idx"));
    good_dat = slurp(path("d.dat"));
  }
  // Everything a caller might do with the damaged pair; bounded by the engine itself.
  void exercise() {
    bool idx = OpenOlFile(0, "d.idx", 2) == 0;
    bool dat = OpenOlFile(1, "d.dat", 6) == 0;
    char report[200];
    std::vector<char> out(20);
    if (idx) {
      CheckOlFile(0, report, sizeof report);
      int steps = 0;
      for (int32_t p = FirstKey(0, out.data()); p && steps < kKeys * 2; p = NextKey(0, out.data())) ++steps;
      EXPECT_LT(steps, kKeys * 2) << "forward walk did not end";
      steps = 0;
      for (int32_t p = LastKey(0, out.data()); p && steps < kKeys * 2; p = PreviousKey(0, out.data())) ++steps;
      EXPECT_LT(steps, kKeys * 2) << "backward walk did not end";
      for (int i = 0; i < 40; ++i) {
        GetKey(0, key(i * 71).data());
        GetKeyAtLeast(0, key(i * 53).data(), out.data());
        GetKeyBefore(0, key(i * 37).data(), out.data());
      }
      for (int i = 0; i < 30; ++i) {
        AddKey(0, key(kKeys + i).data(), 512 + i, 0);
        DeleteKey(0, key(i * 3 + 1).data(), 0);
        DeleteUniqueKey(0, key(i * 3 + 2).data());
      }
      CheckOlFile(0, report, sizeof report);
      CloseOlFile(0, 0);
    }
    if (dat) {
      CheckOlFile(1, report, sizeof report);
      std::vector<uint8_t> buf(400, 'n');
      for (int i = 0; i < 30; ++i) {
        int32_t p = NewVData(1, 20 + i * 9);
        if (p) WriteVData(1, p, buf.data(), 20 + i * 9);
        int32_t q = 512 + i * 997;
        VDataLength(1, q);
        ReadVData(1, q, buf.data(), static_cast<int32_t>(buf.size()));
        if (i % 4 == 0) ReleaseVData(1, q);
      }
      CheckOlFile(1, report, sizeof report);
      CloseOlFile(1, 0);
    }
    EXPECT_EQ(AvailableFileNbr(2), 0);  // nothing left behind
  }
  // Damaged copies of the built files, each made by damage(rng, index bytes, data bytes)
  // and put through every operation.
  template <class Damage>
  void exercise_damaged(uint32_t seed, int rounds, Damage damage) {
    std::mt19937 rng(seed);
    for (int round = 0; round < rounds; ++round) {
      auto b = good_idx;
      auto d = good_dat;
      damage(rng, b, d);
      spit(path("d.idx"), b);
      spit(path("d.dat"), d);
      exercise();
    }
  }
  // The error a first-key walk over this index file ends in (it finds nothing).
  int16_t first_key_error(const std::vector<uint8_t>& idx) {
    spit(path("d.idx"), idx);
    EXPECT_EQ(OpenOlFile(0, "d.idx", 2), 0);
    std::vector<char> out(20);
    EXPECT_EQ(FirstKey(0, out.data()), 0);
    const int16_t e = uerr_cod;
    CloseOlFile(0, 0);
    return e;
  }
  // count bytes past the header area changed at random.
  static void flip(std::mt19937& rng, std::vector<uint8_t>& v, int count) {
    for (int i = 0; i < count; ++i) v[512 + rng() % (v.size() - 512)] ^= static_cast<uint8_t>(1 + rng() % 255);
  }
  std::vector<uint8_t> good_idx, good_dat;
};

TEST_F(DamageTest, FlippedBytesInNodes) {
  ASSERT_NO_FATAL_FAILURE(build(0));
  exercise_damaged(99, 30, [](std::mt19937& rng, std::vector<uint8_t>& b, std::vector<uint8_t>&) {
    flip(rng, b, 1 + static_cast<int>(rng() % 8));
  });
}

TEST_F(DamageTest, FlippedBytesInCompressedNodesAndPieces) {
  ASSERT_NO_FATAL_FAILURE(build(12));
  exercise_damaged(7, 30, [](std::mt19937& rng, std::vector<uint8_t>& b, std::vector<uint8_t>& d) {
    flip(rng, b, 4);
    flip(rng, d, 4);
  });
}

TEST_F(DamageTest, FlippedHeaderFields) {
  ASSERT_NO_FATAL_FAILURE(build(12));
  exercise_damaged(5, 40, [](std::mt19937& rng, std::vector<uint8_t>& b, std::vector<uint8_t>& d) {
    b[rng() % 128] ^= static_cast<uint8_t>(1 + rng() % 255);
    d[rng() % 128] ^= static_cast<uint8_t>(1 + rng() % 255);
    b[56] = 0;
    d[56] = 0;
  });
}

TEST_F(DamageTest, TruncatedFiles) {
  ASSERT_NO_FATAL_FAILURE(build(0));
  for (size_t cut : {size_t(100), size_t(512), size_t(700), good_idx.size() / 2, good_idx.size() - 1}) {
    spit(path("d.idx"), std::vector<uint8_t>(good_idx.begin(), good_idx.begin() + static_cast<long>(cut)));
    spit(path("d.dat"), std::vector<uint8_t>(good_dat.begin(), good_dat.begin() + static_cast<long>(std::min(cut * 3, good_dat.size() - 1))));
    exercise();
  }
  spit(path("d.idx"), good_idx);
  spit(path("d.dat"), std::vector<uint8_t>(good_dat.begin(), good_dat.begin() + static_cast<long>(good_dat.size() / 2)));
  ASSERT_EQ(OpenOlFile(1, "d.dat", 6), 0);
  char report[200];
  EXPECT_NE(CheckOlFile(1, report, sizeof report), 0);
  CloseOlFile(1, 0);
}

TEST_F(DamageTest, CyclicSiblingLinksEndInAnError) {
  ASSERT_NO_FATAL_FAILURE(build(0));
  auto b = good_idx;
  int32_t first = le32(b, 72);
  // Find the rightmost leaf by following right links in the test's own reading.
  int32_t last = first;
  for (int guard = 0; guard < 10000 && le32(b, static_cast<size_t>(last)) != 0; ++guard) last = le32(b, static_cast<size_t>(last));
  ASSERT_NE(last, first);
  put32(b, static_cast<size_t>(last), first);     // rightmost -> leftmost
  put32(b, static_cast<size_t>(first) + 4, last);  // and back
  spit(path("d.idx"), b);
  ASSERT_EQ(OpenOlFile(0, "d.idx", 2), 0);
  std::vector<char> out(20);
  int steps = 0;
  for (int32_t p = FirstKey(0, out.data()); p && steps < kKeys * 4; p = NextKey(0, out.data())) ++steps;
  EXPECT_LT(steps, kKeys * 4);
  EXPECT_NE(uerr_cod, 0);
  char report[200];
  EXPECT_EQ(CheckOlFile(0, report, sizeof report), 34) << report;
  CloseOlFile(0, 0);
  exercise();
}

// Walking backward over a left link that does not mirror its neighbour's right link reports
// the damage (34) instead of handing out keys of the wrong leaf.
TEST_F(DamageTest, BackwardWalksOverADamagedLeftLinkReportTheDamage) {
  ASSERT_NO_FATAL_FAILURE(build(0));
  auto b = good_idx;
  int32_t first = le32(b, 72);
  int32_t second = le32(b, static_cast<size_t>(first));
  ASSERT_NE(second, 0);
  int32_t third = le32(b, static_cast<size_t>(second));
  ASSERT_NE(third, 0);
  put32(b, static_cast<size_t>(second) + 4, third);  // second's left link now names the third
  spit(path("d.idx"), b);
  ASSERT_EQ(OpenOlFile(0, "d.idx", 2), 0);
  std::vector<char> out(20);
  std::string previous, lowest;
  int steps = 0;
  int32_t p = LastKey(0, out.data());
  ASSERT_NE(p, 0);
  for (; p && steps < kKeys * 2; p = PreviousKey(0, out.data()), ++steps) {
    std::string k(out.data(), out.size());
    if (!previous.empty()) {
      EXPECT_LT(k, previous) << "step " << steps;
    }
    previous = lowest = k;
  }
  EXPECT_EQ(34, uerr_cod);
  EXPECT_LT(steps, kKeys);
  // The lowest key reached begins the second leaf: whatever lies before it is beyond the link.
  EXPECT_EQ(0, GetKeyBefore(0, lowest.data(), out.data()));
  EXPECT_EQ(34, uerr_cod);
  int number = std::atoi(lowest.c_str() + 3);
  char below[21];
  std::snprintf(below, sizeof below, "key%07d", number - 1);
  std::string target(below);
  target.resize(20, ' ');
  EXPECT_EQ(0, GetKeyAtMost(0, target.data(), out.data()));
  EXPECT_EQ(34, uerr_cod);
  CloseOlFile(0, 0);
}

// A node header whose entry count or byte count does not fit its node is reported as a
// damaged node (231) by the reads that meet it.
TEST_F(DamageTest, ADamagedNodeHeaderIsReportedByItsCode) {
  ASSERT_NO_FATAL_FAILURE(build(0));
  int32_t first = le32(good_idx, 72);
  struct Damage { size_t at; uint8_t lo, hi; } const damages[] = {
      {8, 0xFF, 0xFF},   // entries beyond any node
      {10, 0xFF, 0xFF},  // bytes beyond the node
      {10, 0x01, 0x00},  // bytes that end inside the first entry
  };
  for (const Damage& d : damages) {
    auto b = good_idx;
    b[static_cast<size_t>(first) + d.at] = d.lo;
    b[static_cast<size_t>(first) + d.at + 1] = d.hi;
    spit(path("d.idx"), b);
    ASSERT_EQ(OpenOlFile(0, "d.idx", 2), 0);
    std::vector<char> out(20);
    EXPECT_EQ(0, FirstKey(0, out.data())) << d.at;
    EXPECT_EQ(231, uerr_cod) << d.at;
    EXPECT_EQ(0, GetKey(0, key(1).data())) << d.at;
    EXPECT_EQ(231, uerr_cod) << d.at;
    CloseOlFile(0, 0);
  }
}

// A damaged branch node off a lookup's path is not that lookup's error, however many lookups
// run first (the engine's own shortcuts read whole levels of the tree).
TEST_F(DamageTest, AKeyFoundPastADamagedBranchElsewhereReportsNoError) {
  ASSERT_NO_FATAL_FAILURE(build(0));
  const size_t first = static_cast<size_t>(le32(good_idx, 72)), node = 512;
  int branches = 0, found = 0;
  for (size_t at = first; at + node <= good_idx.size(); at += node) {
    if (good_idx[at + 17] != 0 || le32(good_idx, at + 4) == -1 || le32(good_idx, at) == 0) continue;
    ++branches;
    auto b = good_idx;
    const int32_t beyond = 0x7FFFFE00;  // a right link past the file's end
    std::memcpy(&b[at], &beyond, 4);
    spit(path("d.idx"), b);
    ASSERT_EQ(OpenOlFile(0, "d.idx", 2), 0);
    for (int i = 1; i < 400; i += 3) {
      if (GetKey(0, key(i).data()) == 0) continue;
      ++found;
      EXPECT_EQ(uerr_cod, 0) << "key " << i << ", branch at " << at;
    }
    CloseOlFile(0, 0);
  }
  EXPECT_GE(branches, 2);
  EXPECT_GT(found, 0);
}

TEST_F(DamageTest, CountsLargerThanTheNode) {
  ASSERT_NO_FATAL_FAILURE(build(0));
  auto b = good_idx;
  int32_t first = le32(b, 72);
  put16(b, static_cast<size_t>(first) + 8, 500);
  EXPECT_EQ(first_key_error(b), 231);
  b = good_idx;
  put16(b, static_cast<size_t>(first) + 10, 0xFFF0);  // bytes in use past the entry area
  EXPECT_EQ(first_key_error(b), 231);
}

TEST_F(DamageTest, ChildPointingBackUpIsBounded) {
  ASSERT_NO_FATAL_FAILURE(build(0));
  auto b = good_idx;
  int32_t root = le32(b, 28);
  ASSERT_EQ(b[static_cast<size_t>(root) + 17], 0);
  put32(b, static_cast<size_t>(root) + 18, root);  // first child is the root itself
  spit(path("d.idx"), b);
  ASSERT_EQ(OpenOlFile(0, "d.idx", 2), 0);
  std::vector<char> out(20);
  EXPECT_EQ(FirstKey(0, out.data()), 0);
  EXPECT_NE(uerr_cod, 0);
  EXPECT_EQ(GetKey(0, key(1).data()), 0);
  EXPECT_NE(uerr_cod, 0);
  EXPECT_NE(AddKey(0, key(1).data(), 600, 0), 0);
  CloseOlFile(0, 0);
}

TEST_F(DamageTest, NodesOfAnotherMemberOrOnTheFreeChainAreRefused) {
  ASSERT_NO_FATAL_FAILURE(build(0));
  auto b = good_idx;
  int32_t first = le32(b, 72);
  b[static_cast<size_t>(first) + 16] = 3;  // owned by member 3
  EXPECT_EQ(first_key_error(b), 69);
  b = good_idx;
  put32(b, 4, le32(b, 28));  // the free chain starts at the root
  spit(path("d.idx"), b);
  ASSERT_EQ(OpenOlFile(0, "d.idx", 2), 0);
  int16_t e = 0;
  for (int i = 0; i < 2000 && !e; ++i) e = AddKey(0, key(kKeys + i).data(), 512 + i, 0);
  EXPECT_EQ(e, 25);  // the chain's head is not a free node
  CloseOlFile(0, 0);
}

}  // namespace
