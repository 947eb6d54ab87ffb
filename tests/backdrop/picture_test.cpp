// Pictures on objects: served JPEGs through the download and image queues onto the picture
// faces (tag 200) of model instances, kept as texture chunk files in the misc cache.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "client/cache/chunk.h"
#include "client/cache/picture.h"
#include "client/core/profile.h"
#include "client/scene/model.h"
#include "client/servers/attributes.h"
#include "engine/vxl21.h"
#include "platform/progdir.h"
#include "tests/backdrop/backdrop_fixture.h"

using backdrop_test::make_jpeg;
using backdrop_test::Rgb;
using backdrop_test::Transfers;

namespace {

// A board: one picture face (tag 200), one plain face.
VxClump* make_board() {
  VxBeginModel();
  VxBeginClump();
  int a = VxAddVertexUV(-1, 0, 0, 0, 1), b = VxAddVertexUV(1, 0, 0, 1, 1);
  int c = VxAddVertexUV(1, 2, 0, 1, 0), d = VxAddVertexUV(-1, 2, 0, 0, 0);
  VxPolygon* face = VxAddQuad(a, b, c, d);
  VxSetPolygonTag(face, 200);
  VxAddQuad(d, c, b, a);
  VxClump* clump = VxEndClump();
  VxEndModel();
  return clump;
}

struct Faces {
  VxTexture* picture = nullptr;
  VxTexture* plain = nullptr;
};
Faces faces(VxClump* clump) {
  Faces f;
  VxForAllPolygonsInClumpWithArg(
      clump,
      [](VxPolygon* p, void* arg) {
        Faces* out = static_cast<Faces*>(arg);
        (VxGetPolygonTag(p) == 200 ? out->picture : out->plain) = VxGetPolygonTexture(p);
      },
      &f);
  return f;
}

// The cache's one-name form of a text.
std::string one_name(const std::string& text) {
  char* name = file_name_from_url(text.c_str());
  std::string out = name ? name : "";
  std::free(name);
  return out;
}

// A model instance as the model module hands it out; only its clump matters here.
struct Board {
  Board() { instance.clump = make_board(); }
  ~Board() {
    if (instance.clump) VxDestroyClump(instance.clump);
  }
  model_instance instance{};
};

class Picture : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_.advance(0);
    platform_set_program_dir(home_.path());
    file_term();
    ASSERT_NO_FATAL_FAILURE(ini(""));
    ASSERT_TRUE(VxInitialize(nullptr));
    static int tree = 0;
    ASSERT_NO_FATAL_FAILURE(transfers_.start(home_.path(), "pic" + std::to_string(++tree)));
    const std::string& path = transfers_.object_path();
    attribute_set(ATTR_OBJECT_PATH, path.data(), static_cast<int>(path.size()));
    ASSERT_EQ(picture_init(), 0);
  }
  void TearDown() override {
    boards_.clear();
    picture_reset();
    transfers_.stop();
    attributes_clear();
    VxShutdown();
    file_term();
  }
  void ini(const std::string& text) {
    testutil::write_file(home_.file("tessel.ini"), "[general]\n" + text);
    ASSERT_TRUE(profile_init(home_.path().c_str(), "/tessel.ini"));
  }
  Board& board() {
    boards_.push_back(std::make_unique<Board>());
    return *boards_.back();
  }
  // Frames with the clock running, until done.
  bool run_until(const std::function<bool()>& done) {
    return Transfers::run_until([&] {
      fake_.advance(20);
      picture_update();
      return done();
    });
  }
  std::string misc(const std::string& name) { return home_.path() + "/cache/art/misc/" + name; }

  testutil::TempDir home_{"tessel_picture_"};
  testutil::FakeClock fake_;
  Transfers transfers_;
  std::vector<std::unique_ptr<Board>> boards_;
};

TEST_F(Picture, AddressesOfNamesAndUrls) {
  const std::string obj = transfers_.object_path();
  char out[256];
  struct Case {
    std::string name, address;  // "" = none
  } cases[] = {
      {"pic.jpg", obj + "/textures/pic.jpg"},
      {"/art/p.jpg", obj + "/art/p.jpg"},
      {"http://Host.example/x/y.jpg", "Host.example/x/y.jpg"},
      {"HTTP://host.example/a", "host.example/a"},
      {"host.example/p.jpg", "host.example/p.jpg"},
      {"http://host.example", ""},
      {"", ""},
      {"x/" + std::string(260, 'a'), ""},
      {std::string(254 - obj.size() - 10, 'n'), obj + "/textures/" + std::string(254 - obj.size() - 10, 'n')},
      {std::string(256 - obj.size() - 10, 'n'), ""},
  };
  for (const Case& c : cases) {
    bool got = picture_url(c.name.c_str(), out, sizeof out);
    EXPECT_EQ(got, !c.address.empty()) << c.name;
    if (got) {
      EXPECT_EQ(std::string(out), c.address) << c.name;
    }
  }
  EXPECT_FALSE(picture_url("pic.jpg", out, 8)) << "does not fit the caller's buffer";
}

TEST_F(Picture, SameNameOnTwoObjectsIsFetchedOnceAndShownOnBoth) {
  transfers_.put("textures/poster.jpg", make_jpeg(64, 64, Rgb{200, 30, 30}, Rgb{30, 30, 200}));
  Board& one = board();
  Board& two = board();
  picture* p = picture_create(&one.instance, "poster.jpg", 0);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(picture_create(&two.instance, "poster.jpg", 0), p);
  EXPECT_EQ(picture_count(), 1);
  EXPECT_EQ(one.instance.picture, p);
  EXPECT_EQ(picture_shown_count(p), 2);
  ASSERT_TRUE(run_until([&] { return picture_texture(p) != nullptr; }));
  EXPECT_EQ(transfers_.requests("textures/poster.jpg"), 1);
  for (Board* b : {&one, &two}) {
    Faces f = faces(b->instance.clump);
    EXPECT_EQ(f.picture, picture_texture(p));
    EXPECT_EQ(f.plain, nullptr) << "only tag 200 faces show pictures";
  }
  // Kept as one file named after the address, without the picture's extension.
  std::string file = picture_file(p);
  EXPECT_EQ(file, misc(one_name(transfers_.object_path() + "/textures/poster") + ".tzb"));
  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(picture_saved(p), 1);
  EXPECT_FALSE(std::filesystem::exists(home_.file("temp.bmp"))) << "the scratch file is removed";
}

TEST_F(Picture, DetachingClearsFacesAndTheLastOneDropsTheTexture) {
  transfers_.put("textures/poster.jpg", make_jpeg(64, 64, Rgb{200, 30, 30}, Rgb{30, 30, 200}));
  Board& one = board();
  Board& two = board();
  Board& stranger = board();
  picture* p = picture_create(&one.instance, "poster.jpg", 0);
  picture_create(&two.instance, "poster.jpg", 0);
  ASSERT_TRUE(run_until([&] { return picture_texture(p) != nullptr; }));
  picture_destroy(p, &stranger.instance);  // not showing it: nothing happens
  EXPECT_EQ(picture_shown_count(p), 2);
  picture_destroy(p, &one.instance);
  EXPECT_EQ(faces(one.instance.clump).picture, nullptr);
  EXPECT_NE(faces(two.instance.clump).picture, nullptr);
  EXPECT_NE(picture_texture(p), nullptr);
  picture_destroy(p, &two.instance);
  EXPECT_EQ(faces(two.instance.clump).picture, nullptr);
  EXPECT_EQ(picture_texture(p), nullptr) << "no object shows it";
  picture_destroy(nullptr, &two.instance);  // ignored
  // Shown again: the texture comes back from the saved file at once.
  picture_create(&two.instance, "poster.jpg", 0);
  EXPECT_NE(picture_texture(p), nullptr);
  EXPECT_EQ(faces(two.instance.clump).picture, picture_texture(p));
}

TEST_F(Picture, LaterRunShowsTheSavedFileAtOnce) {
  transfers_.put("textures/poster.jpg", make_jpeg(64, 64, Rgb{200, 30, 30}, Rgb{30, 30, 200}));
  Board& one = board();
  picture* p = picture_create(&one.instance, "poster.jpg", 0);
  ASSERT_TRUE(run_until([&] { return picture_texture(p) != nullptr; }));
  picture_destroy(p, &one.instance);
  picture_reset();
  EXPECT_EQ(picture_count(), 0);
  Board& again = board();
  p = picture_create(&again.instance, "poster.jpg", 0);
  ASSERT_NE(p, nullptr);
  EXPECT_NE(picture_texture(p), nullptr) << "before any frame";
  EXPECT_EQ(faces(again.instance.clump).picture, picture_texture(p));
  // Only fetched in advance (no object): loaded to check, then let go.
  picture_reset();
  p = picture_create(nullptr, "poster.jpg", 0);
  EXPECT_EQ(picture_saved(p), 1);
  EXPECT_EQ(picture_texture(p), nullptr);
}

TEST_F(Picture, DamagedSavedFileIsDeletedAndFetchedAgain) {
  transfers_.put("textures/poster.jpg", make_jpeg(64, 64, Rgb{200, 30, 30}, Rgb{30, 30, 200}));
  char address[256];
  ASSERT_TRUE(picture_url("poster.jpg", address, sizeof address));
  std::filesystem::create_directories(misc(""));
  std::string file = misc(one_name(transfers_.object_path() + "/textures/poster") + ".tzb");
  testutil::write_file(file, "TEXU but nothing else");
  Board& one = board();
  picture* p = picture_create(&one.instance, "poster.jpg", 0);
  EXPECT_EQ(picture_texture(p), nullptr);
  EXPECT_EQ(picture_saved(p), 0);
  ASSERT_TRUE(run_until([&] { return picture_texture(p) != nullptr; }));
  EXPECT_EQ(picture_saved(p), 1);
}

// Under umask 000, links planted where the picture's scratch file and its saved file are
// written: both are written as files of the person's own in the links' place, and nothing
// outside is created.
TEST_F(Picture, LinksPlantedWhereThePictureIsWrittenAreNeverFollowed) {
  transfers_.put("textures/poster.jpg", make_jpeg(64, 64, Rgb{200, 30, 30}, Rgb{30, 30, 200}));
  testutil::TempDir elsewhere{"tessel_theirs_"};
  std::filesystem::create_directories(misc(""));
  const std::string file = misc(one_name(transfers_.object_path() + "/textures/poster") + ".tzb");
  std::filesystem::create_symlink(elsewhere.file("saved"), file);
  std::filesystem::create_symlink(elsewhere.file("scratch"), home_.file("temp.bmp"));
  const mode_t old = umask(0);
  Board& one = board();
  picture* p = picture_create(&one.instance, "poster.jpg", 0);
  bool shown = run_until([&] { return picture_texture(p) != nullptr; });
  umask(old);
  EXPECT_TRUE(shown);
  EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));
  EXPECT_FALSE(std::filesystem::is_symlink(file));
  EXPECT_EQ(std::filesystem::status(file).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  std::filesystem::remove(home_.file("temp.bmp"));
}

TEST_F(Picture, UrlPicturesFollowTheDownloadOption) {
  ASSERT_NO_FATAL_FAILURE(ini("[downloads]\npictures=0\n"));
  Board& one = board();
  std::string url = "http://" + backdrop_test::WorldFiles::get().base() + "/elsewhere/p.jpg";
  EXPECT_EQ(picture_create(&one.instance, url.c_str(), 0), nullptr);
  EXPECT_EQ(picture_count(), 0);
  EXPECT_EQ(one.instance.picture, nullptr);
  // Names below the object path are never switched off.
  EXPECT_NE(picture_create(&one.instance, "/textures/x.jpg", 0), nullptr);
  // [performance] urls 0 switches them off when [downloads] pictures is absent.
  ASSERT_NO_FATAL_FAILURE(ini("[performance]\nurls=0\n"));
  EXPECT_EQ(picture_create(&one.instance, url.c_str(), 0), nullptr);
  // With a hook the settings sheet decides.
  picture_hook.dloptions_pictures = [] { return 1; };
  EXPECT_NE(picture_create(&one.instance, url.c_str(), 0), nullptr);
  picture_hook.dloptions_pictures = nullptr;
}

TEST_F(Picture, UrlPictureOverTheSizeLimitIsNotShown) {
  // A noisy picture compresses badly: well over 10 KB.
  testutil::TempDir scratch("tessel_noise_");
  std::string ppm = "P6\n128 128\n255\n";
  uint32_t seed = 12345;
  for (int i = 0; i < 128 * 128 * 3; ++i) {
    seed = seed * 1103515245u + 12345u;
    ppm += static_cast<char>(seed >> 24);
  }
  testutil::write_file(scratch.file("n.ppm"), ppm);
  ASSERT_EQ(std::system(("cjpeg -quality 95 -outfile '" + scratch.file("n.jpg") + "' '" + scratch.file("n.ppm") + "'").c_str()), 0);
  std::string jpeg = testutil::read_file(scratch.file("n.jpg"));
  ASSERT_GT(jpeg.size(), 12u * 1024);
  transfers_.put("url/noise.jpg", jpeg);
  transfers_.put("url/small.jpg", make_jpeg(64, 64, Rgb{0, 200, 0}, Rgb{0, 200, 0}));
  ASSERT_NO_FATAL_FAILURE(ini("[downloads]\npictures=10\n"));
  std::string base = transfers_.object_path() + "/url/";
  Board& big = board();
  Board& small = board();
  picture* pb = picture_create(&big.instance, ("http://" + base + "noise.jpg").c_str(), 0);
  picture* ps = picture_create(&small.instance, (base + "small.jpg").c_str(), 0);
  ASSERT_NE(pb, nullptr);
  ASSERT_NE(ps, nullptr);
  ASSERT_TRUE(run_until([&] { return picture_texture(ps) != nullptr; }));
  run_until([] { return Transfers::idle(); });
  EXPECT_EQ(picture_texture(pb), nullptr);
  EXPECT_EQ(picture_saved(pb), 0);
}

TEST_F(Picture, PeriodicRefreshOnlyWhileShownAndFailuresKeepTheOldTexture) {
  transfers_.put("textures/live.jpg", make_jpeg(64, 64, Rgb{200, 30, 30}, Rgb{200, 30, 30}));
  Board& one = board();
  picture* p = picture_create(&one.instance, "live.jpg", 60);
  ASSERT_TRUE(run_until([&] { return picture_texture(p) != nullptr; }));
  ASSERT_TRUE(run_until([] { return Transfers::idle(); }));
  VxTexture* first = picture_texture(p);
  EXPECT_EQ(transfers_.requests("textures/live.jpg"), 1);
  // The file changes on the server into something that does not decode.
  transfers_.put("textures/live.jpg", std::string(500, 'z'));
  transfers_.age("textures/live.jpg", -100);  // newer than the copy we hold
  fake_.advance(30000);
  picture_update();
  Transfers::run_for(300);
  EXPECT_EQ(transfers_.requests("textures/live.jpg"), 1) << "not due before 60 s";
  fake_.advance(31000);
  ASSERT_TRUE(run_until([&] { return transfers_.requests("textures/live.jpg") == 2; }));
  ASSERT_TRUE(run_until([] { return Transfers::idle(); }));
  EXPECT_EQ(picture_texture(p), first) << "a failed conversion keeps the old texture";
  EXPECT_EQ(faces(one.instance.clump).picture, first);
  // Nobody shows it: no more refreshes.
  picture_destroy(p, &one.instance);
  fake_.advance(120000);
  picture_update();
  Transfers::run_for(300);
  EXPECT_EQ(transfers_.requests("textures/live.jpg"), 2);
}

}  // namespace

// ---- with the model module ---------------------------------------------------------------

class PictureOnModel : public Picture {
 protected:
  void SetUp() override {
    Picture::SetUp();
    chunk_reset();  // the model caches follow the object path
    ASSERT_EQ(model_init(), 1);
    scene_ = VxCreateScene();
  }
  void TearDown() override {
    for (model_instance* i : instances_) model_dereference(i);
    model_reset();
    model_term();
    chunk_term();
    if (scene_) VxDestroyScene(scene_);
    Picture::TearDown();
  }
  // Serves models/<name>.zip holding <name>.vxx.
  void serve_model(const std::string& name, const std::string& script) {
    testutil::TempDir scratch("tessel_zip_");
    testutil::write_file(scratch.file(name + ".vxx"), script);
    std::string zip = scratch.file(name + ".zip");
    ASSERT_EQ(std::system(("cd '" + scratch.path() + "' && zip -q '" + zip + "' '" + name + ".vxx'").c_str()), 0);
    transfers_.put("models/" + name + ".zip", testutil::read_file(zip));
  }
  model_instance* reference(const std::string& file) {
    model_instance* i = model_reference("models", file.c_str(), scene_);
    if (i) instances_.push_back(i);
    return i;
  }
  VxScene* scene_ = nullptr;
  std::vector<model_instance*> instances_;
};

TEST_F(PictureOnModel, PictureAskedForBeforeTheModelArrivesShowsOnceItDoes) {
  ASSERT_NO_FATAL_FAILURE(serve_model("board",
              "clumpbegin\n"
              "  vertex -1 0 0 uv 0 1\n  vertex 1 0 0 uv 1 1\n  vertex 1 2 0 uv 1 0\n  vertex -1 2 0 uv 0 0\n"
              "  quad 1 2 3 4 tag 200\n"
              "  quad 4 3 2 1\n"
              "clumpend\n"));
  transfers_.put("textures/poster.jpg", make_jpeg(64, 64, Rgb{200, 30, 30}, Rgb{30, 30, 200}));
  model_instance* one = reference("board.vxx");
  model_instance* two = reference("board.vxx");
  ASSERT_NE(one, nullptr);
  ASSERT_NE(two, nullptr);
  picture* p = picture_create(one, "poster.jpg", 0);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(picture_create(two, "poster.jpg", 0), p);
  ASSERT_TRUE(run_until([&] {
    model_flush();
    return picture_texture(p) && model_is_ready(one) && model_is_ready(two);
  }));
  for (model_instance* i : {one, two}) {
    Faces f = faces(model_clump(i));
    EXPECT_EQ(f.picture, picture_texture(p)) << "put on the model's own clump after the swap";
    EXPECT_EQ(f.plain, nullptr);
  }
  EXPECT_EQ(transfers_.requests("textures/poster.jpg"), 1);
  // Dropping an instance detaches it from the picture.
  model_dereference(one);
  instances_.erase(instances_.begin());
  EXPECT_EQ(picture_shown_count(p), 1);
  model_dereference(two);
  instances_.clear();
  EXPECT_EQ(picture_shown_count(p), 0);
  EXPECT_EQ(picture_texture(p), nullptr);
}
