// The chunk cache: key layout, stored records read back, damaged records deleted when met,
// and the change of layout on reopening.
#include "client/cache/chunk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "client/cache/database.h"
#include "client/cache/disk.h"
#include "client/cache/download.h"
#include "client/core/files.h"
#include "client/core/profile.h"
#include "engine/vxl21.h"
#include "platform/progdir.h"
#include "tests/support/test_util.h"

namespace {

class ChunkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_term();
    platform_set_program_dir(home_.path());
    testutil::write_file(home_.file("tessel.ini"), "[general]\n");
    profile_init(home_.path().c_str(), "/tessel.ini");
    static const int engine = database_init();
    ASSERT_EQ(engine, 0);
    ASSERT_TRUE(VxInitialize(nullptr));
    download_init();
    download_set_path("127.0.0.1:9/objects");
    chunk_reset();
  }
  void TearDown() override {
    chunk_term();
    download_term();
    VxShutdown();
    file_term();
  }
  std::string dir() const { return download_get_path(); }

  // Puts raw bytes under a key of the model cache, as a damaged file would hold them.
  void store_raw_model(const char* part1, const char* part2, const std::string& bytes) {
    chunk_term();
    database* db = database_open((dir() + "/model").c_str(), CHUNK_KEY_LENGTH, 0, 16384, 4096, 1, 1);
    ASSERT_NE(db, nullptr);
    uint8_t key[CHUNK_KEY_LENGTH];
    ASSERT_EQ(chunk_make_key(part1, part2, key), 0);
    ASSERT_TRUE(database_store(db, key, bytes.data(), static_cast<int32_t>(bytes.size())));
    database_close(db);
    chunk_reset();
  }
  void store_raw_texture(const char* name, const std::string& bytes) {
    chunk_term();
    database* db = database_open((dir() + "/texture").c_str(), CHUNK_KEY_LENGTH, 0, 16384, 4096, 0, 1);
    ASSERT_NE(db, nullptr);
    uint8_t key[CHUNK_KEY_LENGTH];
    ASSERT_EQ(chunk_make_key(name, nullptr, key), 0);
    ASSERT_TRUE(database_store(db, key, bytes.data(), static_cast<int32_t>(bytes.size())));
    database_close(db);
    chunk_reset();
  }

  testutil::TempDir home_{"tessel_chunk_"};
};

VxClump* triangle(float top) {
  VxBeginModel();
  VxBeginClump();
  VxAddVertex(0, 0, 0);
  VxAddVertex(1, 0, 0);
  VxAddVertex(0, top, 0);
  VxAddTriangle(1, 2, 3);
  VxClump* c = VxEndClump();
  VxEndModel();
  return c;
}

VxTexture* checker_texture(const char* name) {
  VxRaster* r = VxCreateRaster(8, 8);
  unsigned char* p = VxGetRasterPixels(r);
  int stride = VxGetRasterStride(r);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) p[y * stride + x] = static_cast<unsigned char>((x + y) & 1 ? 200 : 3);
  VxReleaseRasterPixels(r);
  VxTexture* t = VxCreateTexture(r);
  VxAddNamedTexture(name, t);
  return t;
}

std::string le16(int v) { return std::string{static_cast<char>(v & 255), static_cast<char>(v >> 8 & 255)}; }

TEST_F(ChunkTest, KeysArePartsJoinedAndPaddedWithBlanks) {
  uint8_t key[CHUNK_KEY_LENGTH];
  ASSERT_EQ(chunk_make_key("models", "tree", key), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(key), 32), "modelstree" + std::string(22, ' '));
  ASSERT_EQ(chunk_make_key("bark", nullptr, key), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(key), 32), "bark" + std::string(28, ' '));
  // Exactly 32 fit; 33 are refused.
  EXPECT_EQ(chunk_make_key("modelsflat", std::string(22, 'x').c_str(), key), 0);
  EXPECT_EQ(chunk_make_key("modelsflat", std::string(23, 'x').c_str(), key), CHUNK_KEY_TOO_LARGE);

  // Pairs that join to the same text are one record.
  const uint8_t header[] = {0, 3, 'a', 'b', 'c'};
  EXPECT_EQ(chunk_create(triangle(1), header, 5, "mod", "elstree"), 0);
  EXPECT_TRUE(chunk_exists("models", "tree"));
  EXPECT_FALSE(chunk_exists("models", "tre"));
}

TEST_F(ChunkTest, AnOverlongKeyStoresNothing) {
  std::string file(27, 'f');  // "models" + 27 = 33
  EXPECT_EQ(chunk_create(triangle(1), nullptr, 0, "models", file.c_str()), CHUNK_KEY_TOO_LARGE);
  EXPECT_FALSE(chunk_exists("models", file.c_str()));
  EXPECT_FALSE(chunk_exists("models", file.substr(0, 26).c_str()));
  EXPECT_EQ(chunk_load("models", file.c_str()), nullptr);
  EXPECT_EQ(chunk_create(nullptr, nullptr, 0, "models", "a"), CHUNK_NO_CLUMP);
}

TEST_F(ChunkTest, AStoredModelComesBackWithItsHeaderAfterReopening) {
  const uint8_t header[] = {1, 4, 'b', 'a', 'r', 'k', 0, 2, 'm', 'k'};
  ASSERT_EQ(chunk_create(triangle(3), header, sizeof header, "models", "tree"), 0);
  chunk_reset();  // the record is on disk, not only in memory
  uint8_t* got = nullptr;
  int length = 0;
  ASSERT_EQ(chunk_header("models", "tree", &got, &length), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(got), static_cast<size_t>(length)),
            std::string(reinterpret_cast<const char*>(header), sizeof header));
  std::free(got);
  VxClump* c = chunk_load("models", "tree");
  ASSERT_NE(c, nullptr);
  VxVector lo, hi;
  VxGetClumpBounds(c, &lo, &hi);
  EXPECT_FLOAT_EQ(hi.y, 3.0f);
  VxDestroyClump(c);
  // An empty header (the untextured version) is a record of its own.
  ASSERT_EQ(chunk_create(triangle(1), nullptr, 0, "modelsflat", "tree"), 0);
  ASSERT_EQ(chunk_header("modelsflat", "tree", &got, &length), 1);
  EXPECT_EQ(length, 0);
  std::free(got);
  chunk_delete("modelsflat", "tree");
  EXPECT_FALSE(chunk_exists("modelsflat", "tree"));
  EXPECT_TRUE(chunk_exists("models", "tree"));
}

TEST_F(ChunkTest, AHeaderLengthThatFillsTheRecordIsDeletedWhenRead) {
  ASSERT_NO_FATAL_FAILURE(store_raw_model("models", "a", le16(4) + "ab"));  // record of 4 bytes claiming 4 header bytes
  ASSERT_TRUE(chunk_exists("models", "a"));
  uint8_t* got = reinterpret_cast<uint8_t*>(1);
  int length = -1;
  EXPECT_EQ(chunk_header("models", "a", &got, &length), 0);
  EXPECT_EQ(got, nullptr);
  EXPECT_FALSE(chunk_exists("models", "a"));
}

TEST_F(ChunkTest, HeaderLengthsThatRunPastTheRecordAreRefusedNotRead) {
  // 0xFFFF + 2 wraps to 1 in 16 bits; the record holds only three bytes after the length.
  ASSERT_NO_FATAL_FAILURE(store_raw_model("models", "b", le16(0xFFFF) + "xyz"));
  EXPECT_EQ(chunk_load("models", "b"), nullptr);
  EXPECT_FALSE(chunk_exists("models", "b"));
  ASSERT_NO_FATAL_FAILURE(store_raw_model("models", "c", le16(5) + "xyz"));
  uint8_t* got = nullptr;
  int length = 0;
  EXPECT_EQ(chunk_header("models", "c", &got, &length), 0);
  EXPECT_FALSE(chunk_exists("models", "c"));
  ASSERT_NO_FATAL_FAILURE(store_raw_model("models", "d", std::string(1, '\0')));
  EXPECT_EQ(chunk_load("models", "d"), nullptr);
  EXPECT_FALSE(chunk_exists("models", "d"));
}

TEST_F(ChunkTest, RecordsOfTheWrongTypeOrWithDamagedChunksAreDeleted) {
  // A texture chunk behind a model header.
  VxTexture* t = checker_texture("wood");
  ASSERT_EQ(chunk_save_texture(t, "wood"), 0);
  VxDestroyTexture(t);
  uint8_t* bytes = nullptr;
  int32_t size = 0;
  {
    chunk_term();
    database* db = database_open((dir() + "/texture").c_str(), CHUNK_KEY_LENGTH, 0, 16384, 4096, 0, 1);
    uint8_t key[CHUNK_KEY_LENGTH];
    chunk_make_key("wood", nullptr, key);
    ASSERT_EQ(database_fetch_unknown(db, key, &bytes, &size), 1);
    database_close(db);
    chunk_reset();
  }
  std::string texu(reinterpret_cast<char*>(bytes), static_cast<size_t>(size));
  std::free(bytes);
  ASSERT_NO_FATAL_FAILURE(store_raw_model("models", "e", le16(0) + texu));
  EXPECT_EQ(chunk_load("models", "e"), nullptr);
  EXPECT_FALSE(chunk_exists("models", "e"));

  // A model chunk whose body is cut short.
  ASSERT_EQ(chunk_create(triangle(1), nullptr, 0, "models", "f"), 0);
  {
    chunk_term();
    database* db = database_open((dir() + "/model").c_str(), CHUNK_KEY_LENGTH, 0, 16384, 4096, 1, 1);
    uint8_t key[CHUNK_KEY_LENGTH];
    chunk_make_key("models", "f", key);
    ASSERT_EQ(database_fetch_unknown(db, key, &bytes, &size), 1);
    database_close(db);
    chunk_reset();
  }
  std::string good(reinterpret_cast<char*>(bytes), static_cast<size_t>(size));
  std::free(bytes);
  std::string cut = good.substr(0, good.size() - 7);
  ASSERT_NO_FATAL_FAILURE(store_raw_model("models", "f", cut));
  EXPECT_EQ(chunk_load("models", "f"), nullptr);
  EXPECT_FALSE(chunk_exists("models", "f"));
  // One flipped byte in the body's magic number.
  std::string flipped = good;
  flipped[2 + 8] ^= 0x40;
  ASSERT_NO_FATAL_FAILURE(store_raw_model("models", "g", flipped));
  EXPECT_EQ(chunk_load("models", "g"), nullptr);
  EXPECT_FALSE(chunk_exists("models", "g"));

  // A texture record that is no chunk at all, and a clump record under a texture key.
  ASSERT_NO_FATAL_FAILURE(store_raw_texture("junk", "not a chunk at all"));
  EXPECT_EQ(chunk_load_texture("junk"), nullptr);
  ASSERT_NO_FATAL_FAILURE(store_raw_texture("clump", good.substr(2)));
  EXPECT_EQ(chunk_load_texture("clump"), nullptr);
  EXPECT_NE(chunk_load_texture("wood"), nullptr);  // the good one is still there
}

// Past its share of the disk limit (models: half) the store gives up the least recently
// used records, those found at opening too, so that its file stays near its share.
TEST_F(ChunkTest, AStorePastItsShareGivesUpTheLeastRecentlyUsedRecords) {
  testutil::write_file(home_.file("tessel.ini"), "[disk]\nlimit=20\n");
  profile_init(home_.path().c_str(), "/tessel.ini");
  disk_init();
  std::string script = "clumpbegin\n";
  for (int v = 1; script.size() < (1500u << 10); ++v) {
    script += "vertex " + std::to_string(v % 97) + " " + std::to_string(v / 97) + " 0\n";
    if (v % 3 == 0) script += "triangle " + std::to_string(v - 2) + " " + std::to_string(v - 1) + " " + std::to_string(v) + "\n";
  }
  script += "clumpend\n";
  const char* names[] = {"a", "b", "c", "d", "e"};
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(chunk_create(VxReadClumpFromMemory(script.data(), script.size()), nullptr, 0, "models", names[i]), 0);
    if (i != 2) continue;
    chunk_reset();  // the records already there count too
    VxDestroyClump(chunk_load("models", "a"));  // used again: now the newest
  }
  std::string kept;
  for (const char* n : names) kept += chunk_exists("models", n) ? n : "-";
  EXPECT_EQ(kept, "a--de");
  EXPECT_LT(std::filesystem::file_size(dir() + "/model.dat"), 12u << 20);
  // A store an earlier run left far larger than its share is made again at the next store.
  testutil::write_file(home_.file("tessel.ini"), "[disk]\nlimit=100\n");
  profile_init(home_.path().c_str(), "/tessel.ini");
  disk_init();
  for (const char* n : {"f", "g", "h", "i", "j"})
    ASSERT_EQ(chunk_create(VxReadClumpFromMemory(script.data(), script.size()), nullptr, 0, "models", n), 0);
  ASSERT_GT(std::filesystem::file_size(dir() + "/model.dat"), 20u << 20);
  testutil::write_file(home_.file("tessel.ini"), "[disk]\nlimit=20\n");
  profile_init(home_.path().c_str(), "/tessel.ini");
  disk_init();
  ASSERT_EQ(chunk_create(VxReadClumpFromMemory(script.data(), script.size()), nullptr, 0, "models", "k"), 0);
  EXPECT_LT(std::filesystem::file_size(dir() + "/model.dat"), 12u << 20);
  EXPECT_TRUE(chunk_exists("models", "k"));
  testutil::write_file(home_.file("tessel.ini"), "[general]\n");
  profile_init(home_.path().c_str(), "/tessel.ini");
  disk_init();
}

TEST_F(ChunkTest, TexturesComeBackWithTheirPixelsAndMask) {
  VxTexture* t = checker_texture("Brick");
  VxRaster* mask = VxCreateRaster(8, 8);
  unsigned char* mp = VxGetRasterPixels(mask);
  mp[0] = 0;
  mp[1] = 1;
  VxReleaseRasterPixels(mask);
  ASSERT_TRUE(VxMaskTexture(t, mask));
  VxDestroyRaster(mask);
  ASSERT_EQ(chunk_save_texture(t, "brick"), 0);
  std::string file = home_.file("brick.tex");
  ASSERT_EQ(chunk_save_texture_to_file(t, file.c_str()), 0);
  VxDestroyTexture(t);
  for (VxTexture* back : {chunk_load_texture("brick"), chunk_load_texture_from_file(file.c_str())}) {
    ASSERT_NE(back, nullptr);
    VxRaster* r = VxGetTextureRaster(back);
    ASSERT_EQ(VxGetRasterWidth(r), 8);
    EXPECT_EQ(VxGetRasterPixels(r)[0], 3);
    EXPECT_EQ(VxGetRasterPixels(r)[1], 200);
    VxReleaseRasterPixels(r);
    ASSERT_NE(VxGetTextureMask(back), nullptr);
    VxDestroyTexture(back);
  }
  chunk_delete_texture("brick");
  EXPECT_EQ(chunk_load_texture("brick"), nullptr);
  EXPECT_EQ(chunk_load_texture_from_file(home_.file("none.tex").c_str()), nullptr);
  testutil::write_file(home_.file("bad.tex"), "TEXU but not really");
  EXPECT_EQ(chunk_load_texture_from_file(home_.file("bad.tex").c_str()), nullptr);
}

TEST_F(ChunkTest, ReopeningRemovesTheCachesOfTheEarlierLayout) {
  chunk_term();
  for (const char* old : {"models.dat", "models.idx", "textures.dat", "textures.idx"})
    testutil::write_file(dir() + "/" + old, "old layout");
  chunk_reset();
  for (const char* old : {"models.dat", "models.idx", "textures.dat", "textures.idx"})
    EXPECT_FALSE(std::filesystem::exists(dir() + "/" + old)) << old;
  for (const char* now : {"model.dat", "model.idx", "texture.dat", "texture.idx"})
    EXPECT_TRUE(std::filesystem::exists(dir() + "/" + now)) << now;
}

TEST_F(ChunkTest, AClosedCacheDoesNothing) {
  chunk_term();
  chunk_create(triangle(1), nullptr, 0, "models", "x");  // consumed, nothing stored
  EXPECT_FALSE(chunk_exists("models", "x"));
  EXPECT_EQ(chunk_load("models", "x"), nullptr);
  EXPECT_EQ(chunk_load_texture("x"), nullptr);
}

}  // namespace
