// The read path: files read through a view that must follow their growth and never reach
// past their bytes, and searches that reuse decoded nodes while buffers come and go.
#include <map>
#include <random>

#include "kf_fixture.h"

using namespace kftest;

namespace {

class ReadPathTest : public KeyfileTest {};

std::vector<uint8_t> pattern(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  std::mt19937 rng(seed);
  for (auto& c : v) c = static_cast<uint8_t>(rng());
  return v;
}

TEST_F(ReadPathTest, RecordsWrittenFarBeyondTheFirstReadsReadBack) {
  ASSERT_EQ(CreateDataFile(0, "v.dat", 16, 0, 6), 0);
  const auto small = pattern(300, 1), large = pattern(70u << 20, 2);
  const int32_t a = NewVData(0, 300);
  ASSERT_EQ(WriteVData(0, a, small.data(), 300), 0);
  std::vector<uint8_t> back(large.size());
  ASSERT_EQ(FlushFile(0), 0);  // the next read comes from the file, not a buffer
  ASSERT_EQ(ReadVData(0, a, back.data(), 300), 0);
  ASSERT_TRUE(std::equal(small.begin(), small.end(), back.begin()));
  const int32_t b = NewVData(0, static_cast<int32_t>(large.size()));
  ASSERT_EQ(WriteVData(0, b, large.data(), static_cast<int32_t>(large.size())), 0);
  ASSERT_EQ(FlushFile(0), 0);
  ASSERT_EQ(ReadVData(0, b, back.data(), static_cast<int32_t>(back.size())), 0);
  EXPECT_TRUE(back == large);
  ASSERT_EQ(ReadVData(0, a, back.data(), 300), 0);
  EXPECT_TRUE(std::equal(small.begin(), small.end(), back.begin()));
}

TEST_F(ReadPathTest, RecordsNeverWrittenReadShortWhereverTheyLie) {
  // Without an extension size the file grows only as records are written.
  ASSERT_EQ(CreateDataFile(0, "f.dat", 100, 0, 2), 0);
  std::vector<int32_t> pos;
  for (int i = 0; i < 100; ++i) pos.push_back(NewData(0));
  const auto rec = pattern(100, 3);
  ASSERT_EQ(WriteData(0, pos[45], rec.data()), 0);
  ASSERT_EQ(FlushFile(0), 0);
  std::vector<uint8_t> back(100);
  ASSERT_EQ(ReadData(0, pos[45], back.data()), 0);
  EXPECT_TRUE(back == rec);
  for (int i : {46, 47, 99}) EXPECT_EQ(ReadData(0, pos[i], back.data()), 36) << "record " << i;
}

TEST_F(ReadPathTest, LookupsWalksAndChangesWithASingleBuffer) {
  ASSERT_NO_FATAL_FAILURE(restart(1));
  ASSERT_EQ(CreateDataFile(0, "d.dat", 50, 4096, 2), 0);
  ASSERT_EQ(CreateIndexFile(1, "d.idx", 50, 12, 0, 0, 4096, 2), 0);
  std::map<std::string, int32_t> model;
  auto key = [](int i) {
    std::string k = "models/tree" + std::to_string(i * 7919 % 1500) + ".zip";
    k.resize(50, ' ');
    return k;
  };
  std::vector<uint8_t> rec(50), back(50);
  std::vector<int32_t> records;
  for (int i = 0; i < 1500; ++i) {
    const int32_t p = NewData(0);
    records.push_back(p);
    std::snprintf(reinterpret_cast<char*>(rec.data()), rec.size(), "record %d", i);
    ASSERT_EQ(WriteData(0, p, rec.data()), 0);
    ASSERT_EQ(AddKey(1, key(i).data(), p, 0), 0);
    model[key(i)] = p;
  }
  std::mt19937 rng(4);
  for (int round = 0; round < 3; ++round) {
    for (int n = 0; n < 3000; ++n) {
      const std::string k = key(static_cast<int>(rng() % 1600));
      auto it = model.find(k);
      ASSERT_EQ(GetKey(1, k.data()), it == model.end() ? 0 : it->second) << k;
      ASSERT_EQ(uerr_cod, 0);
    }
    // Changes to nodes whose decoded copies the lookups above have been using.
    for (int n = 0; n < 200; ++n) {
      auto it = std::next(model.begin(), static_cast<long>(rng() % model.size()));
      if (n % 2) {
        ASSERT_EQ(DeleteKey(1, it->first.data(), it->second), 0);
        EXPECT_EQ(GetKey(1, it->first.data()), 0);
        model.erase(it);
      } else {
        it->second = records[rng() % records.size()];
        ASSERT_EQ(AddKey(1, it->first.data(), it->second, 0x40), 0);
        EXPECT_EQ(GetKey(1, it->first.data()), it->second);
      }
    }
    std::vector<char> k(50);
    auto it = model.begin();
    for (int32_t p = FirstKey(1, k.data()); p; p = NextKey(1, k.data()), ++it) {
      ASSERT_NE(it, model.end());
      ASSERT_EQ(std::string(k.data(), 50), it->first);
      ASSERT_EQ(p, it->second);
      ASSERT_EQ(ReadData(0, p, back.data()), 0);
    }
    EXPECT_EQ(uerr_cod, 0);
    EXPECT_EQ(it, model.end());
  }
}

TEST_F(ReadPathTest, ReadsReturnChangesStillHeldInBuffers) {
  ASSERT_NO_FATAL_FAILURE(restart(4));  // few pages: some changed pages stay buffered, others are written back
  ASSERT_EQ(CreateDataFile(0, "v.dat", 0, 0, 6), 0);
  ASSERT_EQ(CreateDataFile(1, "f.dat", 50, 0, 2), 0);
  std::vector<int32_t> pieces, recs;
  std::vector<std::vector<uint8_t>> want(12), fixed(60);
  for (uint32_t i = 0; i < want.size(); ++i) {
    want[i] = pattern(700 + i * 331, i);
    pieces.push_back(NewVData(0, static_cast<int32_t>(want[i].size())));
    ASSERT_EQ(WriteVData(0, pieces[i], want[i].data(), static_cast<int32_t>(want[i].size())), 0);
  }
  for (uint32_t i = 0; i < fixed.size(); ++i) {
    fixed[i] = pattern(50, 100 + i);
    recs.push_back(NewData(1));
    ASSERT_EQ(WriteData(1, recs[i], fixed[i].data()), 0);
  }
  ASSERT_EQ(FlushFile(-1), 0);
  // Rewrites of the same lengths: their part pages change in the buffers only.
  std::mt19937 rng(9);
  for (int round = 0; round < 40; ++round) {
    const uint32_t v = rng() % want.size(), f = rng() % fixed.size();
    want[v] = pattern(want[v].size(), 1000 + round);
    ASSERT_EQ(WriteVData(0, pieces[v], want[v].data(), static_cast<int32_t>(want[v].size())), 0);
    fixed[f] = pattern(50, 2000 + round);
    ASSERT_EQ(WriteData(1, recs[f], fixed[f].data()), 0);
    // Stored again in its place, shorter, between a length asked for and the read after it.
    ASSERT_EQ(VDataLength(0, pieces[v]), static_cast<int32_t>(want[v].size()));
    want[v].resize(want[v].size() - 1 - rng() % 64);
    ASSERT_EQ(WriteVData(0, pieces[v], want[v].data(), static_cast<int32_t>(want[v].size())), 0);
    std::vector<uint8_t> now(want[v].size());
    ASSERT_EQ(ReadVData(0, pieces[v], now.data(), static_cast<int32_t>(now.size())), 0);
    ASSERT_TRUE(now == want[v]);
    for (uint32_t i = 0; i < want.size(); ++i) {
      std::vector<uint8_t> back(want[i].size());
      ASSERT_EQ(VDataLength(0, pieces[i]), static_cast<int32_t>(back.size()));
      ASSERT_EQ(ReadVData(0, pieces[i], back.data(), static_cast<int32_t>(back.size())), 0);
      ASSERT_TRUE(back == want[i]) << "piece " << i << " round " << round;
    }
    for (uint32_t i = 0; i < fixed.size(); ++i) {
      std::vector<uint8_t> back(50);
      ASSERT_EQ(ReadData(1, recs[i], back.data()), 0);
      ASSERT_TRUE(back == fixed[i]) << "record " << i << " round " << round;
    }
  }
}

// A walk that reads each record it lands on while the records just ahead of it change
// between its steps: rewritten in place (the new bytes still in buffers, the file's bytes
// old), or moved to a new piece of another length with the old one freed and reused.
TEST_F(ReadPathTest, WalkReadsTheRecordsAheadAsLastWrittenWhileTheyChange) {
  ASSERT_NO_FATAL_FAILURE(restart(8));
  ASSERT_EQ(CreateDataFile(0, "w.dat", 0, 0, 6), 0);
  ASSERT_EQ(CreateIndexFile(1, "w.idx", 4, 0, 0, 0, 4096, 2), 0);
  constexpr uint32_t kCount = 300;
  std::vector<std::vector<uint8_t>> want(kCount);
  std::vector<int32_t> at(kCount);
  auto key = [](uint32_t i) { return std::string{char(i >> 8), char(i), 'k', 'y'}; };
  for (uint32_t i = 0; i < kCount; ++i) {
    want[i] = pattern(40 + i * 97 % 5000, i);
    at[i] = NewVData(0, static_cast<int32_t>(want[i].size()));
    ASSERT_EQ(WriteVData(0, at[i], want[i].data(), static_cast<int32_t>(want[i].size())), 0);
    ASSERT_EQ(AddKey(1, key(i).data(), at[i], 0), 0);
  }
  ASSERT_EQ(FlushFile(-1), 0);
  std::mt19937 rng(5);
  char k[4];
  uint32_t seen = 0;
  for (int32_t p = FirstKey(1, k); p; p = NextKey(1, k), ++seen) {
    const uint32_t i = static_cast<uint8_t>(k[0]) << 8 | static_cast<uint8_t>(k[1]);
    ASSERT_EQ(i, seen);
    ASSERT_EQ(p, at[i]);
    const int32_t len = VDataLength(0, p);
    ASSERT_EQ(len, static_cast<int32_t>(want[i].size())) << "record " << i;
    std::vector<uint8_t> back(static_cast<size_t>(len));
    ASSERT_EQ(ReadVData(0, p, back.data(), len), 0);
    ASSERT_TRUE(back == want[i]) << "record " << i;
    for (uint32_t j = i + 1; j < std::min(kCount, i + 3); ++j) {
      if (rng() % 2) {
        want[j] = pattern(want[j].size(), 7000 + j);
        ASSERT_EQ(WriteVData(0, at[j], want[j].data(), static_cast<int32_t>(want[j].size())), 0);
      } else {
        want[j] = pattern(40 + rng() % 6000, 9000 + j);
        const int32_t moved = NewVData(0, static_cast<int32_t>(want[j].size()));
        ASSERT_EQ(WriteVData(0, moved, want[j].data(), static_cast<int32_t>(want[j].size())), 0);
        ASSERT_EQ(AddKey(1, key(j).data(), moved, 0x40), 0);
        ASSERT_EQ(ReleaseVData(0, at[j]), 0);
        at[j] = moved;
      }
    }
  }
  EXPECT_EQ(uerr_cod, 0);
  EXPECT_EQ(seen, kCount);
}

// Keys of several widths, plain and compressed, drawn from bytes that include the pad and
// the extremes: keys differing only in pad runs, inner pads and their last bytes.
TEST_F(ReadPathTest, KeysOfEveryWidthAreFoundAndWalkedInByteOrder) {
  const struct {
    int16_t klen, ktype;
  } layouts[] = {{3, 0}, {6, 0}, {8, 0}, {11, 0}, {16, 0}, {13, 12}, {50, 12}};
  for (const auto& layout : layouts) {
    const int16_t klen = layout.klen, ktype = layout.ktype;  // named, so the lambdas below may take them
    SCOPED_TRACE(testing::Message() << klen << " " << ktype);
    const std::string name = "w" + std::to_string(klen) + "_" + std::to_string(ktype) + ".idx";
    ASSERT_EQ(CreateIndexFile(1, name.c_str(), klen, ktype, 0, 0, 4096, 2), 0);
    const uint8_t pad = static_cast<uint8_t>(GetFileInfo(1, 14));
    const uint8_t bytes[] = {0x00, 0x7F, 0x80, 0xFF, 'a', pad, pad, pad};
    std::map<std::string, int32_t> model;
    std::mt19937 rng(static_cast<uint32_t>(klen));
    auto random_key = [&] {
      std::string k(static_cast<size_t>(klen), static_cast<char>(pad));
      const size_t len = rng() % (k.size() + 1);
      for (size_t j = 0; j < len; ++j) k[j] = static_cast<char>(bytes[rng() % sizeof bytes]);
      return k;
    };
    for (int n = 0; n < 2000; ++n) {
      const std::string k = random_key();
      if (model.emplace(k, 10 + n).second) {
        ASSERT_EQ(AddKey(1, k.data(), 10 + n, 0), 0);
      }
    }
    for (int n = 0; n < 4000; ++n) {
      const std::string k = random_key();
      auto it = model.find(k);
      ASSERT_EQ(GetKey(1, k.data()), it == model.end() ? 0 : it->second);
    }
    std::string k(static_cast<size_t>(klen), '\0');
    auto it = model.begin();
    for (int32_t p = FirstKey(1, k.data()); p; p = NextKey(1, k.data()), ++it) {
      ASSERT_NE(it, model.end());
      ASSERT_EQ(k, it->first);
      ASSERT_EQ(GetKey(1, k.data()), it->second);
    }
    EXPECT_EQ(it, model.end());
    ASSERT_EQ(CloseOlFile(1, 0), 0);
  }
}

// A damaged index whose link leads to a leaf of another member: an exact lookup that meets
// the leaf reports the damage (69) whether the leaf is buffered or read in place from the
// file, and hands out none of its records.
TEST_F(ReadPathTest, ExactLookupsRefuseALeafOfAnotherMemberWhereverItIsRead) {
  ASSERT_EQ(CreateIndexFile(0, "m.idx", 20, 0, 0, 0, 0, 2), 0);
  auto key = [](int i) {
    char k[21];
    std::snprintf(k, sizeof k, "key%07d", i * 7);
    std::string s(k);
    s.resize(20, ' ');
    return s;
  };
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(AddKey(0, key(i).data(), 512 + i, 0), 0);
  ASSERT_EQ(CloseOlFile(0, 0), 0);
  auto b = slurp(path("m.idx"));
  int32_t leaf = le32(b, 72);  // the first leaf, then along the right links
  for (int n = 0; n < 3; ++n) leaf = le32(b, static_cast<size_t>(leaf));
  ASSERT_GT(leaf, 0);
  const std::string in_leaf(reinterpret_cast<const char*>(b.data()) + leaf + 22, 20);
  b[static_cast<size_t>(leaf) + 16] = 3;  // owned by member 3
  spit(path("m.idx"), b);
  for (int16_t nbuf : {64, 1}) {  // with one buffer the leaf is never held
    SCOPED_TRACE(nbuf);
    ASSERT_NO_FATAL_FAILURE(restart(nbuf));
    ASSERT_EQ(OpenOlFile(0, "m.idx", 2), 0);
    EXPECT_EQ(GetKey(0, key(1).data()), 513);  // a leaf of its own
    for (int round = 0; round < 2; ++round) {
      EXPECT_EQ(GetKey(0, in_leaf.data()), 0) << round;
      EXPECT_EQ(uerr_cod, 69) << round;
    }
    CloseOlFile(0, 0);
  }
}

}  // namespace
