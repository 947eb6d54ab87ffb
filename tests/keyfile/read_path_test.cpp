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
  restart(1);
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

}  // namespace
