// B-tree indexes: the node format on disk (read with the test's own decoder), splits,
// searches, the current key, deletion, and model-based runs against std::map and
// std::multimap with reopening and a structure check between phases.
#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "kf_fixture.h"

using namespace kftest;

namespace {

std::string padded(const std::string& s, size_t n) {
  std::string k = s.substr(0, n);
  k.resize(n, ' ');
  return k;
}

class BtreeTest : public KeyfileTest {};

TEST_F(BtreeTest, FirstKeyMakesALeafRootWithAnOpenHighKey) {
  ASSERT_EQ(CreateIndexFile(0, "a.idx", 8, 0, 0, 0, 0, 2), 0);
  EXPECT_EQ(FirstKey(0, nullptr), 0);
  EXPECT_EQ(uerr_cod, 0);
  ASSERT_EQ(AddKey(0, "key-0001", 4242, 0), 0);
  char out[8];
  EXPECT_EQ(FirstKey(0, out), 4242);
  EXPECT_EQ(std::string(out, 8), "key-0001");
  EXPECT_EQ(GetKey(0, "key-0001"), 4242);
  EXPECT_EQ(GetKey(0, "key-0002"), 0);
  EXPECT_EQ(uerr_cod, 0);
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  auto b = slurp(path("a.idx"));
  ASSERT_EQ(b.size(), 1024u);
  EXPECT_EQ(le32(b, 28), 512);
  EXPECT_EQ(le32(b, 72), 512);
  EXPECT_EQ(le32(b, 24), 1);
  const size_t n = 512;
  EXPECT_EQ(le32(b, n + 0), 0);
  EXPECT_EQ(le32(b, n + 4), 0);
  EXPECT_EQ(le16(b, n + 8), 1);
  EXPECT_EQ(le16(b, n + 10), 12);
  EXPECT_EQ(b[n + 16], 0);
  EXPECT_EQ(b[n + 17], 1);
  EXPECT_EQ(le32(b, n + 18), 4242);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b.data()) + n + 22, 8), "key-0001");
  size_t high = n + 18 + le16(b, 52);
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(b[high + i], 0xFF);
}

// A node's buffer may last have held another file's node: what lies past the high key is
// written as zeros, not as that node's bytes.
TEST_F(BtreeTest, BytesPastTheHighKeyAreZeroWhateverTheBufferHeldBefore) {
  // Nine-byte keys put every leaf's high key over the node's last bytes.
  ASSERT_EQ(CreateIndexFile(0, "wide.idx", 9, 0, 0, 0, 0, 2), 0);
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(AddKey(0, padded("w" + std::to_string(i * 7919 % 3000), 9).data(), i + 1, 0), 0);
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  ASSERT_EQ(CreateIndexFile(0, "a.idx", 8, 0, 0, 0, 0, 2), 0);
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(AddKey(0, padded("k" + std::to_string(i * 7919 % 3000), 8).data(), i + 1, 0), 0);
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  auto b = slurp(path("a.idx"));
  const size_t tail = 18 + le16(b, 52) + 8;
  int leaves = 0;
  for (size_t n = 512; n + 512 <= b.size(); n += 512) {
    if (b[n + 17] != 1) continue;
    ++leaves;
    for (size_t i = tail; i < 512; ++i) ASSERT_EQ(b[n + i], 0) << "node at " << n << ", byte " << i;
  }
  EXPECT_GT(leaves, 50);
}

TEST_F(BtreeTest, ThirteenthKeySplitsSevenAndSix) {
  ASSERT_EQ(CreateIndexFile(0, "s.idx", 32, 0, 0, 0, 0, 2), 0);
  for (int i = 0; i < 13; ++i) {
    std::string k = padded("key" + std::to_string(100 + i), 32);
    ASSERT_EQ(AddKey(0, k.data(), 1000 + i, 0), 0);
  }
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  auto b = slurp(path("s.idx"));
  size_t root = static_cast<size_t>(le32(b, 28));
  size_t left = static_cast<size_t>(le32(b, 72));
  ASSERT_EQ(b[root + 17], 0);  // non-leaf
  ASSERT_EQ(le16(b, root + 8), 2);
  EXPECT_EQ(static_cast<size_t>(le32(b, root + 18)), left);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b.data()) + root + 22, 32), padded("key106", 32));
  size_t right = static_cast<size_t>(le32(b, root + 18 + 36));
  for (int i = 0; i < 32; ++i) EXPECT_EQ(b[root + 18 + 36 + 4 + i], 0xFF);
  EXPECT_EQ(le16(b, left + 8), 7);
  EXPECT_EQ(le16(b, right + 8), 6);
  EXPECT_EQ(static_cast<size_t>(le32(b, left)), right);
  EXPECT_EQ(static_cast<size_t>(le32(b, right + 4)), left);
  EXPECT_EQ(le32(b, right), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b.data()) + left + 18 + 436, 32), padded("key106", 32));
  EXPECT_EQ(le32(b, right + 18), 1007);
}

TEST_F(BtreeTest, CompressedEntriesOnDisk) {
  ASSERT_EQ(CreateIndexFile(0, "c.idx", 8, 12, 0, 0, 0, 2), 0);
  ASSERT_EQ(AddKey(0, "abd     ", 20, 0), 0);
  ASSERT_EQ(AddKey(0, "abc     ", 10, 0), 0);
  ASSERT_EQ(AddKey(0, "abcdefgh", 30, 0), 0);
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  auto b = slurp(path("c.idx"));
  size_t n = 512;
  EXPECT_EQ(le16(b, n + 8), 3);
  std::vector<uint8_t> want = {
      10, 0, 0, 0, 0, 5, 'a', 'b', 'c',                     // first entry: no leading bytes
      30, 0, 0, 0, 3, 0, 'd', 'e', 'f', 'g', 'h',           // shares "abc", no pad
      20, 0, 0, 0, 2, 5, 'd'};                              // shares "ab", five pads
  EXPECT_EQ(le16(b, n + 10), want.size());
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + n + 18, b.begin() + static_cast<long>(n + 18 + want.size())), want);
  ASSERT_EQ(OpenOlFile(0, "c.idx", 2), 0);
  char out[8];
  EXPECT_EQ(FirstKey(0, out), 10);
  EXPECT_EQ(NextKey(0, out), 30);
  EXPECT_EQ(std::string(out, 8), "abcdefgh");
  EXPECT_EQ(NextKey(0, out), 20);
  EXPECT_EQ(std::string(out, 8), "abd     ");
}

TEST_F(BtreeTest, UnsignedOrderAndComparisonOfLastByte) {
  ASSERT_EQ(CreateIndexFile(0, "u.idx", 4, 0, 0, 0, 0, 2), 0);
  const uint8_t k1[4] = {'a', 'b', 'c', 0x80}, k2[4] = {'a', 'b', 'c', 0x7F}, k3[4] = {0xFF, 0, 0, 0};
  ASSERT_EQ(AddKey(0, k1, 1, 0), 0);
  ASSERT_EQ(AddKey(0, k2, 2, 0), 0);
  ASSERT_EQ(AddKey(0, k3, 3, 0), 0);
  uint8_t out[4];
  EXPECT_EQ(FirstKey(0, out), 2);
  EXPECT_EQ(NextKey(0, out), 1);
  EXPECT_EQ(NextKey(0, out), 3);
  EXPECT_EQ(NextKey(0, out), 0);
  EXPECT_EQ(uerr_cod, 0);
  EXPECT_EQ(AddKey(0, k1, 9, 0), 2);
  EXPECT_EQ(AddKey(0, "zzzz", 0, 0), 28);
  EXPECT_EQ(AddKey(0, k1, 9, 0x40), 0);  // replaces the position
  EXPECT_EQ(GetKey(0, k1), 9);
  EXPECT_EQ(DeleteKey(0, k1, 1), 3);
  EXPECT_EQ(DeleteKey(0, "none", 1), 4);
  EXPECT_EQ(DeleteUniqueKey(0, k1), 9);
  EXPECT_EQ(GetKey(0, k1), 0);
}

TEST_F(BtreeTest, CurrentKeyAcrossDeletion) {
  ASSERT_EQ(CreateIndexFile(0, "n.idx", 6, 0, 0, 0, 0, 2), 0);
  for (int i = 0; i < 200; ++i) {
    char k[7];
    std::snprintf(k, sizeof k, "%06d", i * 2);
    ASSERT_EQ(AddKey(0, k, i + 1, 0), 0);
  }
  char out[6];
  ASSERT_EQ(GetKey(0, "000100"), 51);
  ASSERT_EQ(DeleteKey(0, "000100", 51), 0);
  EXPECT_EQ(NextKey(0, out), 52);  // continues with the next greater key
  EXPECT_EQ(std::string(out, 6), "000102");
  EXPECT_EQ(PreviousKey(0, out), 50);
  char cur[6];
  ASSERT_EQ(CurrentKey(0, cur), 0);
  EXPECT_EQ(std::string(cur, 6), "000098");
  EXPECT_EQ(GetKeyAtLeast(0, "000101", out), 52);
  EXPECT_EQ(GetKeyAfter(0, "000102", out), 53);
  EXPECT_EQ(GetKeyAtMost(0, "000101", out), 50);
  EXPECT_EQ(GetKeyBefore(0, "000098", out), 49);
  EXPECT_EQ(LastKey(0, out), 200);
  EXPECT_EQ(NextKey(0, out), 0);
  EXPECT_EQ(uerr_cod, 0);
  EXPECT_EQ(GetKeyAfter(0, "999999", out), 0);
  EXPECT_EQ(GetKeyBefore(0, "000000", out), 0);
  EXPECT_EQ(CurrentKey(1, cur), 26);
}

// Ordered walks that change the index as they go: keys added ahead of the walk are met,
// keys deleted ahead of it are not, in both directions and over compressed keys; the
// engine's reads must see every change made between two steps.
TEST_F(BtreeTest, WalksSeeChangesMadeBetweenSteps) {
  ASSERT_EQ(CreateIndexFile(0, "w.idx", 20, 12, 0, 0, 0, 2), 0);
  std::map<std::string, int32_t> model;
  auto key = [](int i) {
    char k[21];
    std::snprintf(k, sizeof k, "cell/%06d", i);
    std::string s(k);
    s.resize(20, ' ');
    return s;
  };
  for (int i = 0; i < 3000; i += 3) {
    ASSERT_EQ(AddKey(0, key(i).data(), i + 1, 0), 0);
    model[key(i)] = i + 1;
  }
  std::mt19937 rng(28);
  char out[20];
  for (int dir = 0; dir < 2; ++dir) {
    const bool forward = dir == 0;
    int32_t p = forward ? FirstKey(0, out) : LastKey(0, out);
    std::string at(out, 20);
    int steps = 0;
    while (p) {
      ASSERT_EQ(model.count(at), 1u) << at;
      ASSERT_EQ(p, model[at]);
      // Now and then add a key just beyond the current one, or delete the next one.
      const int i = std::stoi(at.substr(5, 6));
      const int change = static_cast<int>(rng() % 4);
      const int near = forward ? i + 1 : i - 1;
      if (change == 0 && near >= 0 && !model.count(key(near))) {
        ASSERT_EQ(AddKey(0, key(near).data(), near + 1, 0), 0);
        model[key(near)] = near + 1;
      } else if (change == 1) {
        auto it = model.find(at);
        auto next = forward ? std::next(it) : (it == model.begin() ? model.end() : std::prev(it));
        if (next != model.end()) {
          ASSERT_EQ(DeleteKey(0, next->first.data(), next->second), 0);
          model.erase(next);
        }
      }
      auto it = model.find(at);
      auto want = forward ? std::next(it) : (it == model.begin() ? model.end() : std::prev(it));
      p = forward ? NextKey(0, out) : PreviousKey(0, out);
      ASSERT_EQ(uerr_cod, 0);
      if (want == model.end()) {
        ASSERT_EQ(p, 0);
        break;
      }
      at.assign(out, 20);
      ASSERT_EQ(at, want->first);
      ++steps;
    }
    EXPECT_GT(steps, 900);
  }
  // Exact lookups agree with the model after all of it, present and absent keys alike.
  for (int i = 0; i < 3100; ++i) {
    auto it = model.find(key(i));
    ASSERT_EQ(GetKey(0, key(i).data()), it == model.end() ? 0 : it->second) << i;
  }
}

TEST_F(BtreeTest, DeletingEverythingKeepsTheEdgeLeaves) {
  ASSERT_EQ(CreateIndexFile(0, "d.idx", 20, 12, 0, 0, 0, 2), 0);
  std::vector<std::string> keys;
  for (int i = 0; i < 600; ++i) keys.push_back(padded("k" + std::to_string(i * 7919 % 100000), 20));
  for (size_t i = 0; i < keys.size(); ++i) ASSERT_EQ(AddKey(0, keys[i].data(), static_cast<int32_t>(i + 1), 0), 0);
  int32_t first_leaf = GetFileInfo(0, OL_INFO_LOGEND);
  (void)first_leaf;
  char report[160];
  ASSERT_EQ(CheckOlFile(0, report, sizeof report), 0) << report;
  std::mt19937 rng(3);
  std::shuffle(keys.begin(), keys.end(), rng);
  for (auto& k : keys) ASSERT_EQ(DeleteUniqueKey(0, k.data()) != 0, true) << uerr_cod;
  EXPECT_EQ(KeyCount(0), 0);
  ASSERT_EQ(CheckOlFile(0, report, sizeof report), 0) << report;
  EXPECT_EQ(FirstKey(0, nullptr), 0);
  EXPECT_EQ(uerr_cod, 0);
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  auto b = slurp(path("d.idx"));
  EXPECT_NE(le32(b, 28), 0);  // the root stays
  EXPECT_NE(le32(b, 4), 0);   // emptied nodes went to the free chain
  ASSERT_EQ(OpenOlFile(0, "d.idx", 2), 0);
  int32_t size_before = GetFileInfo(0, OL_INFO_LOGEND);
  for (size_t i = 0; i < 300; ++i) ASSERT_EQ(AddKey(0, keys[i].data(), static_cast<int32_t>(i + 1), 0), 0);
  EXPECT_EQ(GetFileInfo(0, OL_INFO_LOGEND), size_before);  // freed nodes were reused
  ASSERT_EQ(CheckOlFile(0, report, sizeof report), 0) << report;
}

// Two indexes in one file, opened without write-through so that their nodes' changes stay in
// the buffers: resetting one empties it alone. The other keeps every key, now and after the
// file is closed and opened again, and the reset index's nodes are reused by its new keys.
TEST_F(BtreeTest, ResettingOneIndexOfAFileKeepsTheOthers) {
  ASSERT_EQ(CreateIndexFile(0, "two.idx", 16, 0, 0, 1, 0, 2), 0);
  ASSERT_EQ(CreateIndexMember(0, 1, 16, 0, 0), 0);
  auto key = [](int i) { return padded("key " + std::to_string(i * 7919 % 100000), 16); };
  for (int i = 0; i < 400; ++i) {
    ASSERT_EQ(AddKey(0, key(i).data(), i + 1, 0), 0) << i;
    ASSERT_EQ(AddKey(1, key(i).data(), 1000 + i, 0), 0) << i;
  }
  ASSERT_EQ(ResetIndex(0), 0);
  EXPECT_EQ(KeyCount(0), 0);
  EXPECT_EQ(FirstKey(0, nullptr), 0);
  for (int i = 0; i < 400; ++i) ASSERT_EQ(GetKey(1, key(i).data()), 1000 + i) << i;
  const int32_t end = GetFileInfo(0, OL_INFO_LOGEND);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(AddKey(0, key(i).data(), 5000 + i, 0), 0) << i;
  EXPECT_EQ(GetFileInfo(0, OL_INFO_LOGEND), end);
  ASSERT_EQ(CloseOlFile(0, 0), 0);

  ASSERT_EQ(OpenOlFile(0, "two.idx", 2), 0);
  char report[160];
  ASSERT_EQ(CheckOlFile(0, report, sizeof report), 0) << report;
  EXPECT_EQ(KeyCount(1), 400);
  for (int i = 0; i < 400; ++i) ASSERT_EQ(GetKey(1, key(i).data()), 1000 + i) << i;
  EXPECT_EQ(KeyCount(0), 100);
  for (int i = 0; i < 400; ++i) ASSERT_EQ(GetKey(0, key(i).data()), i < 100 ? 5000 + i : 0) << i;
}

TEST_F(BtreeTest, DuplicateIndexOrdersEqualKeysByPosition) {
  ASSERT_EQ(CreateIndexFile(0, "dup.idx", 12, 0, 1, 0, 0, 2), 0);
  uint8_t k[12] = {'s', 'a', 'm', 'e', ' ', ' ', ' ', ' '};
  for (int32_t p : {300, 0x01000000, 5, 70000}) ASSERT_EQ(AddKey(0, k, p, 0), 0);
  EXPECT_EQ(AddKey(0, k, 5, 0), 2);
  uint8_t out[12];
  std::vector<int32_t> order;
  for (int32_t p = FirstKey(0, out); p; p = NextKey(0, out)) order.push_back(p);
  EXPECT_EQ(order, (std::vector<int32_t>{5, 300, 70000, 0x01000000}));
  EXPECT_EQ(DeleteKey(0, k, 6), 3);
  uint8_t other[12] = {'o'};
  EXPECT_EQ(DeleteKey(0, other, 6), 4);
  EXPECT_EQ(DeleteKey(0, k, 300), 0);
  EXPECT_EQ(DeleteUniqueKey(0, k), 0);
  EXPECT_EQ(uerr_cod, 5);
  EXPECT_EQ(KeyCount(0), 3);
}

TEST_F(BtreeTest, DuplicateLookupsWeighThePositionSuffix) {
  // Equal key parts apart only in the suffix, whose bytes differ high and low; entries plain
  // and with each kind of compression. Each lookup on the file just opened: a node searched
  // for the first times is walked entry by entry rather than decoded.
  for (int16_t type : {0, 4, 8, 12}) {
    SCOPED_TRACE(type);
    ASSERT_EQ(CreateIndexFile(0, "ds.idx", 10, type, 1, 0, 0, 2), 0);
    uint8_t k[10] = {'s', 'a', 'm', 'e', ' ', ' '};
    const int32_t positions[] = {0x0105, 0x0201, 0x020000, 0x7F};
    for (int32_t p : positions) ASSERT_EQ(AddKey(0, k, p, 0), 0);
    uint8_t after[10] = {'s', 'a', 'm', 'f', ' ', ' '};
    ASSERT_EQ(AddKey(0, after, 9, 0), 0);
    auto with = [&](int32_t suffix) {
      std::vector<uint8_t> t(k, k + 6);
      for (int shift : {24, 16, 8, 0}) t.push_back(static_cast<uint8_t>(suffix >> shift));
      return t;
    };
    auto fresh = [&] {
      EXPECT_EQ(CloseOlFile(0, 0), 0);
      EXPECT_EQ(OpenOlFile(0, "ds.idx", 2), 0);
    };
    for (int32_t p : positions) {
      fresh();
      EXPECT_EQ(GetKey(0, with(p).data()), p) << p;
    }
    fresh();
    EXPECT_EQ(GetKey(0, with(0x0106).data()), 0);
    uint8_t out[10];
    fresh();
    EXPECT_EQ(GetKeyAtLeast(0, with(0x0106).data(), out), 0x0201);
    EXPECT_EQ(uerr_cod, 0);
    ASSERT_EQ(CloseOlFile(0, 0), 0);
    std::remove(path("ds.idx").c_str());
  }
}

TEST_F(BtreeTest, ExportWritesKeysAndPositionsInOrder) {
  ASSERT_EQ(CreateIndexFile(0, "e.idx", 8, 0, 0, 1, 0, 2), 0);
  ASSERT_EQ(CreateIndexMember(0, 1, 6, 12, 1), 0);
  ASSERT_EQ(AddKey(0, "bbbbbbbb", 700, 0), 0);
  ASSERT_EQ(AddKey(0, "aaaaaaaa", 600, 0), 0);
  uint8_t dk[6] = {'d', 'u', 0, 0, 0, 0};
  ASSERT_EQ(AddKey(1, dk, 0x01020304, 0), 0);
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  EXPECT_EQ(ExportIndexKeys(0, "e.idx", "e0.out"), 2);
  EXPECT_EQ(ExportIndexKeys(1, "e.idx", "e1.out"), 1);
  EXPECT_EQ(ExportIndexKeys(0, "e.idx", "e0.out"), 0);  // the output must be new
  EXPECT_EQ(uerr_cod, 96);
  EXPECT_EQ(ExportIndexKeys(2, "e.idx", "e2.out"), 0);
  EXPECT_EQ(uerr_cod, 23);
  auto a = slurp(path("e0.out"));
  ASSERT_EQ(a.size(), 24u);
  EXPECT_EQ(std::string(a.begin(), a.begin() + 8), "aaaaaaaa");
  EXPECT_EQ(le32(a, 8), 600);
  EXPECT_EQ(std::string(a.begin() + 12, a.begin() + 20), "bbbbbbbb");
  EXPECT_EQ(le32(a, 20), 700);
  auto b = slurp(path("e1.out"));
  ASSERT_EQ(b.size(), 6u);  // 2 key bytes without the suffix, then the position
  EXPECT_EQ(b[0], 'd');
  EXPECT_EQ(le32(b, 2), 0x01020304);
  EXPECT_EQ(AvailableFileNbr(3), 0);  // the index was closed again
}

TEST_F(BtreeTest, WrongFileTypes) {
  ASSERT_EQ(CreateDataFile(0, "x.dat", 10, 0, 2), 0);
  ASSERT_EQ(CreateDataFile(1, "v.dat", 0, 0, 6), 0);
  EXPECT_EQ(AddKey(0, "abcdefghij", 1, 0), 48);
  EXPECT_EQ(AddKey(1, "abcdefghijkl", 1, 0), 48);  // the space index is the engine's own
  EXPECT_EQ(GetKey(0, "abcdefghij"), 0);
  EXPECT_EQ(uerr_cod, 48);
  EXPECT_EQ(KeyCount(0), 0);
  EXPECT_EQ(uerr_cod, 48);
}

// ---------------------------------------------------------------- model-based runs

struct ModelConfig {
  int klen;
  int ktype;
  bool dup;
  int sectors;
  int buffers;
  int ops;
  uint32_t seed;
};

class ModelTest : public KeyfileTest, public ::testing::WithParamInterface<ModelConfig> {};

std::string be(int32_t p) {
  std::string s(4, 0);
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(static_cast<uint32_t>(p) >> (24 - 8 * i));
  return s;
}

TEST_P(ModelTest, AgreesWithTheStandardContainers) {
  const ModelConfig c = GetParam();
  ASSERT_NO_FATAL_FAILURE(restart(static_cast<int16_t>(c.buffers)));
  StopKeyedFileEngine();
  ASSERT_EQ(InitKeyedFileEngine(static_cast<int16_t>(c.buffers), 20, static_cast<int16_t>(c.sectors)), 0);
  ASSERT_EQ(CreateIndexFile(0, "m.idx", static_cast<int16_t>(c.klen), static_cast<int16_t>(c.ktype), c.dup ? 1 : 0, 0, 0, 2), 0);
  const int part = c.dup ? c.klen - 4 : c.klen;
  std::mt19937 rng(c.seed);
  std::map<std::string, int32_t> uniq;          // unique index: key -> position
  std::multimap<std::string, int32_t> multi;    // duplicate index: key part -> positions
  std::map<std::string, int32_t> order;         // the index's order: full key -> position
  // Keys heavy in pad bytes, sharing prefixes, with bytes on both sides of 0x80.
  auto random_part = [&]() {
    std::string k(static_cast<size_t>(part), ' ');
    int used = static_cast<int>(rng() % (std::min(part, 6) + 1));
    if (rng() % 8 == 0) used = static_cast<int>(rng() % (part + 1));
    static const char alphabet[] = {'a', 'b', ' ', '\x7f', '\x80', '\xff', '\0', 'z'};
    for (int i = 0; i < used; ++i) k[i] = alphabet[rng() % 8];
    return k;
  };
  // An existing entry near a random key, so that deletions spread over the whole tree.
  auto existing = [&](std::string& part_out, int32_t& pos_out) {
    std::string probe = random_part();
    if (!c.dup) {
      if (uniq.empty()) return false;
      auto it = uniq.lower_bound(probe);
      if (it == uniq.end()) it = uniq.begin();
      part_out = it->first;
      pos_out = it->second;
    } else {
      if (multi.empty()) return false;
      auto it = multi.lower_bound(probe);
      if (it == multi.end()) it = multi.begin();
      part_out = it->first;
      pos_out = it->second;
    }
    return true;
  };
  // An entry the model holds, but for one time in odds (or when it holds none) a random
  // key and position.
  auto pick = [&](uint32_t odds, std::string& k, int32_t& p) {
    if (rng() % odds != 0 && existing(k, p)) return;
    k = random_part();
    p = static_cast<int32_t>(1 + rng() % 1000);
  };
  std::vector<char> out(static_cast<size_t>(c.klen));
  // Ordered walks, both ways, against the model's order.
  auto walk = [&]() {
    auto it = order.begin();
    for (int32_t p = FirstKey(0, out.data()); p; p = NextKey(0, out.data()), ++it) {
      ASSERT_NE(it, order.end());
      ASSERT_EQ(p, it->second);
      ASSERT_EQ(std::string(out.data(), out.size()), it->first);
    }
    ASSERT_EQ(uerr_cod, 0);
    ASSERT_EQ(it, order.end());
    auto rit = order.rbegin();
    for (int32_t p = LastKey(0, out.data()); p; p = PreviousKey(0, out.data()), ++rit) {
      ASSERT_NE(rit, order.rend());
      ASSERT_EQ(p, rit->second);
    }
    ASSERT_EQ(uerr_cod, 0);
    ASSERT_EQ(rit, order.rend());
  };
  const int phases = 5;
  for (int phase = 0; phase < phases; ++phase) {
    // Phases 0 and 1 grow the tree, 2 and 3 shrink it, 4 mixes.
    const bool shrink = phase == 2 || phase == 3;
    for (int op = 0; op < c.ops / phases; ++op) {
      int what = static_cast<int>(rng() % 100);
      if (shrink && what < 45) what = what < 15 ? what : 70 + what % 20;
      if (what < 45) {
        std::string k = random_part();
        int32_t p = static_cast<int32_t>(1 + rng() % 0x7FFFFFF0);
        std::string full = c.dup ? k + be(p) : k;
        int16_t e = AddKey(0, full.data(), p, 0);
        bool present = c.dup ? false : uniq.count(k) > 0;
        if (c.dup)
          for (auto [a, b] = multi.equal_range(k); a != b; ++a) present |= a->second == p;
        if (present) {
          ASSERT_EQ(e, 2);
        } else {
          ASSERT_EQ(e, 0) << "phase " << phase << " op " << op;
          if (c.dup) multi.emplace(k, p);
          else uniq[k] = p;
          order[full] = p;
        }
      } else if (what < 70) {
        std::string k;
        int32_t p = 0;
        pick(4, k, p);
        std::string full = c.dup ? k + be(p) : k;
        int32_t got = GetKey(0, full.data());
        ASSERT_EQ(uerr_cod, 0);
        bool present = false;
        if (c.dup) {
          for (auto [a, b] = multi.equal_range(k); a != b; ++a) present |= a->second == p;
        } else {
          present = uniq.count(k) > 0;
          if (present) p = uniq[k];
        }
        ASSERT_EQ(got, present ? p : 0);
      } else if (what < 90) {
        std::string k;
        int32_t p = 0;
        pick(5, k, p);
        std::string full = c.dup ? k + be(p) : k;
        int16_t e = DeleteKey(0, full.data(), p);
        if (c.dup) {
          auto [a, b] = multi.equal_range(k);
          auto hit = std::find_if(a, b, [&](auto& kv) { return kv.second == p; });
          if (hit != b) {
            ASSERT_EQ(e, 0);
            multi.erase(hit);
            order.erase(full);
          } else {
            ASSERT_EQ(e, a == b ? 4 : 3);
          }
        } else {
          auto it = uniq.find(k);
          if (it == uniq.end()) {
            ASSERT_EQ(e, 4);
          } else if (it->second != p) {
            ASSERT_EQ(e, 3);
          } else {
            ASSERT_EQ(e, 0);
            uniq.erase(it);
            order.erase(full);
          }
        }
      } else if (what < 99 || op % 200 != 0) {
        // Derived searches against lower and upper bounds of the model.
        std::string t = random_part();
        if (c.dup) t += be(static_cast<int32_t>(rng() % 2 ? 0 : 0x7FFFFFFF));
        int kind = static_cast<int>(rng() % 4);
        auto lb = order.lower_bound(t);
        auto ub = order.upper_bound(t);
        auto want = order.end();
        int32_t got = 0;
        switch (kind) {
          case 0: got = GetKeyAtLeast(0, t.data(), out.data()); want = lb; break;
          case 1: got = GetKeyAfter(0, t.data(), out.data()); want = ub; break;
          case 2: got = GetKeyAtMost(0, t.data(), out.data()); if (ub != order.begin()) want = std::prev(ub); break;
          case 3: got = GetKeyBefore(0, t.data(), out.data()); if (lb != order.begin()) want = std::prev(lb); break;
        }
        ASSERT_EQ(uerr_cod, 0);
        if (want == order.end()) {
          ASSERT_EQ(got, 0) << "kind " << kind;
        } else {
          ASSERT_EQ(got, want->second) << "kind " << kind;
          ASSERT_EQ(std::string(out.data(), out.size()), want->first);
          // The current key continues from there.
          int32_t next = NextKey(0, out.data());
          auto it = std::next(want);
          ASSERT_EQ(next, it == order.end() ? 0 : it->second);
        }
      } else {
        ASSERT_NO_FATAL_FAILURE(walk());
      }
    }
    ASSERT_NO_FATAL_FAILURE(walk());
    char report[200];
    ASSERT_EQ(CheckOlFile(0, report, sizeof report), 0) << "phase " << phase << ": " << report;
    ASSERT_EQ(KeyCount(0), static_cast<int32_t>(c.dup ? multi.size() : uniq.size()));
    ASSERT_EQ(CloseOlFile(0, 0), 0);
    ASSERT_EQ(OpenOlFile(0, "m.idx", 2), 0);
    ASSERT_EQ(CheckOlFile(0, report, sizeof report), 0) << "reopened after phase " << phase << ": " << report;
  }
}

// 14 runs, 128 000 operations in all.
INSTANTIATE_TEST_SUITE_P(
    Keys, ModelTest,
    ::testing::Values(ModelConfig{1, 0, false, 4, 64, 6000, 1}, ModelConfig{6, 0, false, 4, 64, 10000, 2},
                      ModelConfig{8, 12, false, 4, 8, 10000, 3}, ModelConfig{32, 12, false, 4, 64, 10000, 4},
                      ModelConfig{50, 12, false, 4, 16, 10000, 5}, ModelConfig{50, 0, false, 4, 64, 10000, 6},
                      ModelConfig{100, 12, false, 8, 64, 8000, 7}, ModelConfig{150, 8, false, 8, 8, 8000, 8},
                      ModelConfig{200, 4, false, 8, 64, 8000, 9}, ModelConfig{255, 12, false, 8, 64, 8000, 10},
                      ModelConfig{255, 0, false, 16, 32, 8000, 11}, ModelConfig{12, 0, true, 4, 64, 10000, 12},
                      ModelConfig{40, 12, true, 4, 8, 10000, 13}, ModelConfig{255, 12, true, 8, 64, 12000, 14},
                      ModelConfig{7, 0, true, 4, 16, 8000, 15}, ModelConfig{20, 4, true, 4, 16, 8000, 16}),
    [](const ::testing::TestParamInfo<ModelConfig>& i) {
      return "k" + std::to_string(i.param.klen) + "_t" + std::to_string(i.param.ktype) + (i.param.dup ? "_dup" : "_uniq") +
             "_s" + std::to_string(i.param.sectors);
    });

}  // namespace
