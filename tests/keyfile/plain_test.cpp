// Plain-file opens, the header snapshot, the configuration report and the answer for what
// this build does not offer.
#include "kf_fixture.h"

using namespace kftest;

namespace {

using PlainTest = KeyfileTest;

TEST_F(PlainTest, PlainOpensCreateRetryAndRefuseAsTheirModeSays) {
  // Absent: low byte 0 or 8 (0x40 aside) does not create; anything else does, with a fresh
  // header of the engine's format.
  EXPECT_EQ(96, OpenPlainFile(0, path("none.pln").c_str(), 0));
  EXPECT_EQ(96, OpenPlainFile(0, path("none.pln").c_str(), 0x48));
  EXPECT_FALSE(std::filesystem::exists(path("none.pln")));
  ASSERT_EQ(0, OpenPlainFile(0, path("made.pln").c_str(), 0x02));
  uint8_t record[8];
  EXPECT_EQ(26, ReadData(0, 128, record));  // no record operations on it
  EXPECT_EQ(0, CloseOlFile(0, 0));
  auto bytes = slurp(path("made.pln"));
  ASSERT_EQ(128u, bytes.size());
  EXPECT_EQ(129, le16(bytes, 40));
  EXPECT_EQ(0, le16(bytes, 64));
  EXPECT_EQ(0, le16(bytes, 68));
  // With 0x40 a missing name is tried once more ending in 'A'.
  std::filesystem::copy_file(path("made.pln"), path("otherA"));
  EXPECT_EQ(0, OpenPlainFile(1, path("otherB").c_str(), 0x40));
  EXPECT_EQ(0, CloseOlFile(1, 0));
  EXPECT_EQ(96, OpenPlainFile(1, path("xyB").c_str(), 0x40));
  // An existing file asked for with low byte 33.
  EXPECT_EQ(498, OpenPlainFile(2, path("made.pln").c_str(), 33));
  EXPECT_EQ(26, CloseOlFile(2, 0));
  EXPECT_EQ(AvailableFileNbr(3), 0);  // every slot free again
}

TEST_F(PlainTest, HeaderSnapshotCopiesOffsets32_36And88) {
  ASSERT_EQ(0, OpenPlainFile(0, path("h.pln").c_str(), 0x02));
  ASSERT_EQ(0, CloseOlFile(0, 0));
  auto b = slurp(path("h.pln"));
  put32(b, 32, 11);
  put32(b, 36, -22);
  put32(b, 88, 0x12345678);
  spit(path("h.pln"), b);
  ASSERT_EQ(0, OpenPlainFile(0, path("h.pln").c_str(), 0));
  int32_t snap[3] = {0, 0, 0};
  ASSERT_EQ(0, GetHeaderSnapshot(0, snap));
  EXPECT_EQ(11, snap[0]);
  EXPECT_EQ(-22, snap[1]);
  EXPECT_EQ(0x12345678, snap[2]);
  EXPECT_EQ(0, CloseOlFile(0, 0));
  // The file kept its bytes: a plain close writes nothing.
  EXPECT_EQ(b, slurp(path("h.pln")));
  EXPECT_EQ(26, GetHeaderSnapshot(0, snap));
}

TEST_F(PlainTest, ConfigurationReportsTheLimitsAndNeedsAStartedEngine) {
  std::vector<int32_t> words(OL_CONFIG_BYTES / 4, -1);
  ASSERT_EQ(0, GetEngineConfig(words.data()));
  EXPECT_EQ(129, words[OL_CONFIG_FORMAT]);
  EXPECT_EQ(4 * 128, words[OL_CONFIG_NODE_SIZE]);
  EXPECT_EQ(20, words[OL_CONFIG_FILES]);
  EXPECT_EQ(4, words[OL_CONFIG_SECTORS]);
  EXPECT_EQ(buffers, words[OL_CONFIG_NODE_BUFFERS]);
  EXPECT_EQ(buffers, words[OL_CONFIG_DATA_PAGES]);
  EXPECT_EQ(500, words[OL_CONFIG_HANDLE_LIMIT]);
  EXPECT_EQ(16, words[OL_CONFIG_LOCK_BUCKETS]);
  EXPECT_EQ(33, words[OL_CONFIG_MODE_WORD]);
  EXPECT_EQ(0, words[OL_CONFIG_WORDS]);  // the rest is zero
  int32_t limits[8];
  ASSERT_EQ(0, GetEngineLimits(limits));
  EXPECT_TRUE(std::equal(limits, limits + 8, words.begin()));
  EXPECT_EQ(454, NotOffered());
  StopKeyedFileEngine();
  EXPECT_EQ(47, GetEngineConfig(words.data()));
  EXPECT_EQ(47, GetEngineLimits(limits));
  EXPECT_EQ(47, NotOffered());
}

}  // namespace
