// Textures and masks against the object server: one record per name, one download for many
// users, masks applied before the texture is stored, engine textures only while referenced.
#include "client/scene/texture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "model_fixture.h"

using namespace model_test;

namespace {

struct Calls {
  std::vector<int> statuses;
};
void note(void* user, int status) { static_cast<Calls*>(user)->statuses.push_back(status); }

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Mask pixel of the finished texture at (x, 0), or -1.
int mask_pixel(VxTexture* t, int x) {
  VxRaster* m = t ? VxGetTextureMask(t) : nullptr;
  if (!m) return -1;
  int v = VxGetRasterPixels(m)[x];
  VxReleaseRasterPixels(m);
  return v;
}

}  // namespace

TEST_F(ModelTest, TextureNamesDifferingInCaseOrExtensionAreOneRecord) {
  texture_record* a = texture_download("Brick.JPG", nullptr, nullptr);
  texture_record* b = texture_download("brick.bmp", nullptr, nullptr);
  texture_record* c = texture_download("brick", nullptr, nullptr);
  texture_record* d = texture_download("bricks", nullptr, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, c);
  EXPECT_NE(a, d);
  EXPECT_STREQ(texture_name(a), "brick");
  EXPECT_EQ(texture_download(nullptr, nullptr, nullptr), nullptr);
}

TEST_F(ModelTest, ATextureForTwoUsersIsFetchedAndConvertedOnceAndBothAreTold) {
  ASSERT_NO_FATAL_FAILURE(serve_texture("stone", 32, 16));
  Calls one, two;
  texture_record* t = texture_download("stone", note, &one);
  EXPECT_EQ(texture_download("STONE.jpg", note, &two), t);
  EXPECT_EQ(texture_ready(t), 0);
  ASSERT_TRUE(run_until([&] { return texture_ready(t) != 0; }));
  EXPECT_EQ(one.statuses, std::vector<int>{0});
  EXPECT_EQ(two.statuses, std::vector<int>{0});
  EXPECT_EQ(count_of(server_log(), "GET /w/textures/stone.jpg"), 1u);
  // Nobody holds it: the engine texture is gone, the BMP too; a reference loads it from the cache.
  EXPECT_EQ(texture_engine_texture(t), nullptr);
  EXPECT_FALSE(std::filesystem::exists(cache_dir() + "/textures/stone.bmp"));
  texture_reference(t);
  VxTexture* engine = texture_engine_texture(t);
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(VxGetRasterWidth(VxGetTextureRaster(engine)), 32);
  texture_reference(t);
  texture_dereference(t);
  EXPECT_EQ(texture_engine_texture(t), engine);
  texture_dereference(t);
  EXPECT_EQ(texture_engine_texture(t), nullptr);
  texture_dereference(t);  // one too many changes nothing
  EXPECT_EQ(texture_reference_count(t), 0);
  // A request after it is ready queues nothing.
  Calls late;
  texture_download("stone", note, &late);
  settle(300);
  EXPECT_TRUE(late.statuses.empty());
}

// A converted picture is read into the engine after the frame that converted it, in the
// image queue's slices, not in one piece at the end of that frame: a frame ends with the
// converted file there and the texture not finished yet. The texture then holds the picture.
// The texture store may give up a finished texture nobody holds: the next reference has it
// fetched again, and it is ready once more.
TEST_F(ModelTest, ATextureTheStoreGaveUpIsFetchedAgainOnTheNextReference) {
  ASSERT_NO_FATAL_FAILURE(serve_texture("slate"));
  texture_record* t = texture_download("slate", nullptr, nullptr);
  ASSERT_TRUE(run_until([&] { return texture_ready(t) != 0; }));
  chunk_delete_texture("slate");
  texture_reference(t);
  EXPECT_TRUE(run_until([&] { return texture_engine_texture(t) != nullptr; }));
  EXPECT_EQ(count_of(server_log(), "GET /w/textures/slate.jpg"), 2u);
  texture_dereference(t);
}

TEST_F(ModelTest, AConvertedPictureIsReadIntoTheEngineInLaterSlices) {
  ASSERT_NO_FATAL_FAILURE(serve_texture("tall", 64, 1024));
  Calls told;
  texture_record* t = texture_download("tall", note, &told);
  const std::string bmp = cache_dir() + "/textures/tall.bmp";
  int between = 0;
  ASSERT_TRUE(run_until([&] {
    if (std::filesystem::exists(bmp) && !texture_ready(t)) ++between;
    return texture_ready(t) != 0;
  }));
  EXPECT_GE(between, 1) << "read in the frame that converted it";
  EXPECT_EQ(told.statuses, std::vector<int>{0});
  texture_reference(t);
  VxRaster* raster = VxGetTextureRaster(texture_engine_texture(t));
  EXPECT_EQ(VxGetRasterWidth(raster), 64);
  EXPECT_EQ(VxGetRasterHeight(raster), 1024);
  texture_dereference(t);
}

TEST_F(ModelTest, AMaskIsAppliedBeforeTheTextureIsStored) {
  ASSERT_NO_FATAL_FAILURE(serve_texture("leaf"));
  ASSERT_NO_FATAL_FAILURE(serve_mask("leafm"));
  Calls c;
  texture_record* t = texture_download("leaf", note, &c);
  texture_set_mask(t, "leafm");
  ASSERT_TRUE(run_until([&] { return texture_ready(t) != 0; }));
  EXPECT_EQ(c.statuses.size(), 1u);
  texture_reference(t);  // from the chunk cache: the stored texture carries the mask
  VxTexture* engine = texture_engine_texture(t);
  ASSERT_NE(engine, nullptr);
  int w = VxGetRasterWidth(VxGetTextureMask(engine));
  ASSERT_GT(w, 1);
  EXPECT_EQ(mask_pixel(engine, 0), 0);
  EXPECT_NE(mask_pixel(engine, w - 1), 0);
  texture_dereference(t);
  settle(200);
  EXPECT_FALSE(std::filesystem::exists(cache_dir() + "/textures/leafm.bmp"));
  EXPECT_FALSE(std::filesystem::exists(cache_dir() + "/textures/leaf.bmp"));
}

TEST_F(ModelTest, ATextureWaitsForItsMaskAndFinishesWithoutOneThatNeverComes) {
  ASSERT_NO_FATAL_FAILURE(serve_texture("fence"));
  ASSERT_NO_FATAL_FAILURE(serve_texture("gate"));
  ASSERT_NO_FATAL_FAILURE(serve_mask("fencem"));
  texture_record* fence = texture_download("fence", nullptr, nullptr);
  texture_set_mask(fence, "fencem");
  texture_record* gate = texture_download("gate", nullptr, nullptr);
  texture_set_mask(gate, "nosuchmask");
  ASSERT_TRUE(run_until([&] { return texture_ready(fence) && texture_ready(gate); }));
  std::string log = server_log();
  // The mask is fetched after its texture arrived, and the texture is stored with it.
  EXPECT_LT(log.find("GET /w/textures/fence.jpg"), log.find("GET /w/textures/fencem.zip"));
  texture_reference(fence);
  texture_reference(gate);
  EXPECT_NE(VxGetTextureMask(texture_engine_texture(fence)), nullptr);
  EXPECT_EQ(VxGetTextureMask(texture_engine_texture(gate)), nullptr);
  texture_dereference(fence);
  texture_dereference(gate);
}

TEST_F(ModelTest, MaskNamesAreCaseSensitive) {
  ASSERT_NO_FATAL_FAILURE(serve_texture("a"));
  ASSERT_NO_FATAL_FAILURE(serve_texture("b"));
  ASSERT_NO_FATAL_FAILURE(serve_mask("M"));
  ASSERT_NO_FATAL_FAILURE(serve_mask("m"));
  texture_record* a = texture_download("a", nullptr, nullptr);
  texture_record* b = texture_download("b", nullptr, nullptr);
  texture_set_mask(a, "M");
  texture_set_mask(b, "m");
  ASSERT_TRUE(run_until([&] { return texture_ready(a) && texture_ready(b); }));
  std::string log = server_log();
  EXPECT_EQ(count_of(log, "GET /w/textures/M.zip"), 1u);
  EXPECT_EQ(count_of(log, "GET /w/textures/m.zip"), 1u);
}

TEST_F(ModelTest, ADamagedPictureLeavesTheTextureNotReadyAndNobodyIsCalled) {
  serve_raw("textures/bad.jpg", std::string("\xff\xd8\xff\xe0 this is not a picture", 26));
  serve_raw("textures/empty.jpg", "");
  Calls c;
  texture_record* bad = texture_download("bad", note, &c);
  texture_record* empty = texture_download("empty", note, &c);
  ASSERT_TRUE(run_until([&] { return server_log().find("empty.jpg") != std::string::npos; }));
  settle(1500);
  EXPECT_EQ(texture_ready(bad), 0);
  EXPECT_EQ(texture_ready(empty), 0);
  EXPECT_TRUE(c.statuses.empty());
  EXPECT_FALSE(std::filesystem::exists(cache_dir() + "/textures/bad.bmp"));
}

TEST_F(ModelTest, MasksNamingAnotherFolderAreNeverFetched) {
  ASSERT_NO_FATAL_FAILURE(serve_texture("pane"));
  texture_record* t = texture_download("pane", nullptr, nullptr);
  texture_set_mask(t, "../../../outside");
  ASSERT_TRUE(run_until([&] { return texture_ready(t) != 0; }));
  EXPECT_EQ(server_log().find("outside"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(home_.path() + "/outside.bmp"));
}

TEST_F(ModelTest, ResetFreesEveryTextureAndTheNextRequestStartsAgain) {
  ASSERT_NO_FATAL_FAILURE(serve_texture("stone"));
  texture_record* t = texture_download("stone", nullptr, nullptr);
  ASSERT_TRUE(run_until([&] { return texture_ready(t) != 0; }));
  texture_reference(t);
  texture_reset();
  download_reset();
  // A new record, ready at once from the texture cache.
  texture_record* again = texture_download("stone", nullptr, nullptr);
  EXPECT_EQ(texture_ready(again), 1);
  EXPECT_EQ(texture_reference_count(again), 0);
}

TEST_F(ModelTest, ANewerPictureReplacesALoadedTextureInPlace) {
  ASSERT_NO_FATAL_FAILURE(serve_texture("stone", 16, 16));
  texture_record* t = texture_download("stone", nullptr, nullptr);
  ASSERT_TRUE(run_until([&] { return texture_ready(t) != 0; }));
  settle(200);
  texture_reset();
  download_reset();
  // The server's copy changes; the next visit starts from the cached one.
  ASSERT_NO_FATAL_FAILURE(serve_texture("stone", 32, 16));
  std::string jpg = www_ + "/w/textures/stone.jpg";
  std::filesystem::last_write_time(jpg, std::filesystem::file_time_type::clock::now() + std::chrono::hours(1));
  t = texture_download("stone", nullptr, nullptr);
  ASSERT_EQ(texture_ready(t), 1);
  texture_reference(t);
  VxTexture* engine = texture_engine_texture(t);
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(VxGetRasterWidth(VxGetTextureRaster(engine)), 16);
  ASSERT_TRUE(run_until([&] { return VxGetRasterWidth(VxGetTextureRaster(engine)) == 32; }));
  EXPECT_EQ(texture_engine_texture(t), engine);
  settle(200);
  EXPECT_FALSE(std::filesystem::exists(cache_dir() + "/textures/stone.bmp"));
  // The cache holds the new picture too.
  texture_dereference(t);
  texture_reference(t);
  EXPECT_EQ(VxGetRasterWidth(VxGetTextureRaster(texture_engine_texture(t))), 32);
  texture_dereference(t);
}

// Models ask with one callback and themselves as the user: one that takes its requests back
// (a newer file of it arrived) leaves the others waiting on the same texture to be told.
TEST_F(ModelTest, ModelsStillWaitingAreToldWhenAnotherTakesItsRequestBack) {
  ASSERT_NO_FATAL_FAILURE(serve_texture("moss"));
  Calls kept, withdrawn, other;
  texture_record* t = texture_download("moss", note, &kept);
  texture_download("moss", note, &withdrawn);
  texture_download("moss", note, &other);
  texture_cancel(t, note, &withdrawn);
  ASSERT_TRUE(run_until([&] { return texture_ready(t) != 0; }));
  EXPECT_EQ(kept.statuses, std::vector<int>{0});
  EXPECT_EQ(other.statuses, std::vector<int>{0});
  EXPECT_TRUE(withdrawn.statuses.empty());
}
