// Models end to end: references by name, downloads of zipped scripts from a real object
// server, placeholders, the untextured stand-in, the textured model, swaps and measures.
#include "client/scene/model.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "client/core/identity.h"
#include "model_fixture.h"
#include "platform/headless_host.h"

using namespace model_test;

namespace {

// The vertices of the placeholder triangle.
bool shows_placeholder(model_instance* i) {
  return i && i->clump && VxGetClumpNumVertices(i->clump) == 3 && all_polygons(i->clump) == 1;
}

std::string header_of(model_record* m) {
  return m && m->header ? std::string(reinterpret_cast<char*>(m->header), static_cast<size_t>(m->header_length)) : "";
}

}  // namespace

TEST_F(ModelTest, NamesThatDifferInCaseExtensionOrPastTwentyCharactersShareOneRecord) {
  model_instance* a = model_reference("models", "Tree.VXX", nullptr);
  model_instance* b = model_reference("models", "tree.rwx", nullptr);
  // The key holds the folder too: "models" + 14 characters of the name.
  model_instance* c = model_reference("models", "averyveryverylongname1.vxx", nullptr);
  model_instance* d = model_reference("models", "averyveryverylongname2.vxx", nullptr);
  model_instance* e = model_reference("avatars", "tree.vxx", nullptr);
  ASSERT_TRUE(a && b && c && d && e);
  EXPECT_EQ(a->model, b->model);
  EXPECT_EQ(c->model, d->model);
  EXPECT_NE(a->model, c->model);
  EXPECT_NE(a->model, e->model);
  EXPECT_EQ(model_count(), 3);
  EXPECT_EQ(a->model->reference_count, 2);
  EXPECT_STREQ(a->model->file, "Tree");  // the first name as given, cut at its last '.'
  EXPECT_EQ(a->model->flags, 0);
  EXPECT_EQ(e->model->flags, MODEL_AVATAR);
  EXPECT_EQ(model_reference("models", nullptr, nullptr), nullptr);
  for (model_instance* i : {a, b, c, d, e}) model_dereference(i);
  EXPECT_EQ(model_find("models", "tree")->reference_count, 0);
  EXPECT_EQ(model_count(), 3);  // records stay until the reset
  model_reset();
  EXPECT_EQ(model_count(), 0);
}

TEST_F(ModelTest, FirstShowsPlaceholderThenTheUntexturedVersionThenTheTexturedModel) {
  ASSERT_NO_FATAL_FAILURE(serve_model("tree.vxx", quad_script("Bark.JPG")));
  ASSERT_NO_FATAL_FAILURE(serve_texture("bark"));
  model_instance* i = model_reference("models", "tree.vxx", nullptr);
  ASSERT_NE(i, nullptr);
  EXPECT_TRUE(shows_placeholder(i));
  EXPECT_TRUE(i->placeholder);
  EXPECT_FALSE(model_is_ready(i));
  EXPECT_TRUE(model_flush_pending());
  model_flush();
  EXPECT_EQ(VxGetClumpScene(i->clump), scene_world());
  EXPECT_FALSE(model_flush_pending());

  model_record* m = i->model;
  // The script arrives; the texture is not converted yet.
  ASSERT_TRUE(run_until([&] { return m->loaded != 0; }));
  EXPECT_EQ(header_of(m), std::string("\0\4bark", 6));
  // The texture is asked for only now, so it cannot have arrived in the same frame.
  ASSERT_EQ(m->pending_textures, 1);
  EXPECT_TRUE(chunk_exists("modelsflat", "tree"));
  model_flush();
  EXPECT_FALSE(i->placeholder);
  EXPECT_EQ(all_polygons(i->clump), 2);
  EXPECT_EQ(textured_polygons(i->clump), 0);
  ASSERT_TRUE(run_until([&] { return m->pending_textures == 0 && m->in_cache; }));
  model_flush();
  EXPECT_TRUE(model_is_ready(i));
  EXPECT_EQ(all_polygons(i->clump), 2);
  EXPECT_EQ(textured_polygons(i->clump), 1);
  EXPECT_EQ(VxGetClumpScene(i->clump), scene_world());
  // Built once: the unpacked file and the flat version are gone, the full model is cached.
  EXPECT_FALSE(std::filesystem::exists(cache_dir() + "/models/tree.vxx"));
  EXPECT_FALSE(chunk_exists("modelsflat", "tree"));
  EXPECT_TRUE(chunk_exists("models", "tree"));
  float height = 0, bottom = 1;
  EXPECT_EQ(model_height(i, &height), 1);
  EXPECT_FLOAT_EQ(height, 2.0f);
  EXPECT_EQ(model_get_bottom(i, &bottom), 1);
  EXPECT_FLOAT_EQ(bottom, 0.0f);
  VxVector lo, hi;
  model_get_bbox(i, &lo, &hi);
  EXPECT_FLOAT_EQ(lo.x, -1.0f);
  EXPECT_FLOAT_EQ(hi.x, 1.0f);
  model_dereference(i);
}

// A disk too full for the caches to grow: each cache is told once, and the models that
// arrive are still built, textured and shown, again for a second reference; one whose file
// is too large to be written to the cache is shown from memory, and the older file of its
// name left in the cache goes.
TEST_F(ModelTest, AFullCacheIsToldOnceAStoreAndTheModelsThatArriveAreStillShown) {
  ASSERT_NO_FATAL_FAILURE(serve_model("tree.vxx", quad_script("bark")));
  ASSERT_NO_FATAL_FAILURE(serve_model("rock.vxx", quad_script("bark")));
  std::string large = quad_script("bark");
  for (int i = 0; i < 400; ++i) large += "# a model script of more bytes than the disk takes now\n";
  ASSERT_NO_FATAL_FAILURE(serve_model("hall.vxx", large));
  ASSERT_NO_FATAL_FAILURE(serve_texture("bark"));
  // Its texture never comes, so it is never built (and deleted) from the older file.
  const std::string older = cache_dir() + "/models/hall.vxx";
  write(older, quad_script("never"));
  std::string got = testutil::in_child([&] {
    HeadlessHost boxes{false};
    host_set(&boxes);
    signal(SIGXFSZ, SIG_IGN);
    // Room for the small downloads and their conversions, not for a cache's next step.
    rlimit limit{16000, RLIM_INFINITY};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return std::string("no limit");
    model_instance* a = model_reference("models", "tree.vxx", nullptr);
    model_instance* b = model_reference("models", "rock.vxx", nullptr);
    model_instance* h = model_reference("models", "hall.vxx", nullptr);
    bool ready = run_until([&] {
      model_flush();
      return textured_polygons(a->clump) == 1 && textured_polygons(b->clump) == 1 && textured_polygons(h->clump) == 1;
    });
    std::string out = std::string(ready ? "ready" : "waiting") + " " + std::to_string(textured_polygons(a->clump)) +
                      " " + std::to_string(textured_polygons(b->clump)) + " " +
                      std::to_string(textured_polygons(h->clump));
    model_instance* c = model_reference("models", "tree.vxx", nullptr);
    model_flush();
    out += model_is_ready(c) && textured_polygons(c->clump) == 1 ? " again" : " not again";
    for (const auto& box : boxes.boxes()) out += "|" + box.text;
    return out;
  });
  ASSERT_EQ(got.rfind("ready 1 1 1 again|", 0), 0u) << got;
  EXPECT_EQ(std::count(got.begin(), got.end(), '|'), 2) << "one box for each of the two caches: " << got;
  for (const char* file : {"/model.dat: ", "/texture.dat: "})
    EXPECT_NE(got.find(file + std::string(std::strerror(EFBIG))), std::string::npos) << got;
  EXPECT_FALSE(std::filesystem::exists(older));
}

// A cache the person may not write (left read-only): the models that arrive are shown from
// memory for the run, textured (their pictures converted in memory), each store told once, also when the next world's folder refuses it again, and nothing in the cache
// changes.
TEST_F(ModelTest, AReadOnlyCacheStillShowsTheModelsThatArrive) {
  ASSERT_NO_FATAL_FAILURE(serve_model("tree.vxx", quad_script("bark")));
  ASSERT_NO_FATAL_FAILURE(serve_model("rock.vxx", quad_script("bark")));
  ASSERT_NO_FATAL_FAILURE(serve_texture("bark"));
  // The folder of another world's objects, as an earlier run left it.
  const std::string other = object_path() + "2";
  download_set_path(other.c_str());
  chunk_reset();
  download_set_path(object_path().c_str());
  chunk_term();
  // The person's own program folder and cache, as root cannot be refused: uid 65534.
  const std::string cache = home_.file("cache");
  ASSERT_EQ(run("chown -R 65534:65534 " + shell_quote(home_.path()) + " && chmod -R a-w " + shell_quote(cache)), 0);
  auto listing = [&] {
    std::string all;
    for (const auto& e : std::filesystem::recursive_directory_iterator(cache))
      all += e.path().string() + " " + std::to_string(e.is_regular_file() ? e.file_size() : 0) + "\n";
    return all;
  };
  const std::string before = listing();
  std::string got = testutil::in_child([&] {
    HeadlessHost boxes{false};
    host_set(&boxes);
    if (setgid(65534) != 0 || setuid(65534) != 0) return std::string("no uid");
    // The stores are opened afresh, as by a run started now.
    download_term();
    download_init();
    download_set_path(object_path().c_str());
    chunk_reset();
    model_instance* a = model_reference("models", "tree.vxx", nullptr);
    model_instance* b = model_reference("models", "rock.vxx", nullptr);
    bool shown = run_until([&] {
      model_flush();
      return textured_polygons(a->clump) == 1 && textured_polygons(b->clump) == 1;
    });
    settle(300);
    model_flush();
    std::string out = std::string(shown ? "shown" : "waiting") + " " + std::to_string(all_polygons(a->clump)) + " " +
                      std::to_string(all_polygons(b->clump)) + " " + std::to_string(textured_polygons(a->clump));
    download_set_path(other.c_str());
    chunk_reset();
    texture_reset();  // the memory folder goes with the run
    for (const auto& box : boxes.boxes()) out += "|" + box.text;
    return out;
  });
  ASSERT_EQ(run("chmod -R u+w " + shell_quote(cache) + " && chown -R 0:0 " + shell_quote(home_.path())), 0);
  ASSERT_EQ(got.rfind("shown 2 2 1|", 0), 0u) << got;
  EXPECT_EQ(std::count(got.begin(), got.end(), '|'), 3) << "one box for each of the three stores: " << got;
  for (const char* file : {"/model.dat: ", "/texture.dat: ", "/download.dat: "})
    EXPECT_NE(got.find(file + std::string(std::strerror(EACCES))), std::string::npos) << got;
  EXPECT_EQ(listing(), before);
}

// Under umask 000, links planted where the model, its texture and its mask are written, and
// in the program folder: each file takes the link's place and goes when it is built, no
// target outside is written, and the folders made for the object path are the person's
// alone.
TEST_F(ModelTest, LinksPlantedInTheCacheAreNeverWrittenThrough) {
  ASSERT_NO_FATAL_FAILURE(serve_model("tree.vxx", quad_script("bark", "leaf")));
  ASSERT_NO_FATAL_FAILURE(serve_texture("bark"));
  ASSERT_NO_FATAL_FAILURE(serve_mask("leaf"));
  chunk_term();
  std::filesystem::remove_all(home_.file("cache"));
  const mode_t old = umask(0);
  download_set_path(object_path().c_str());
  chunk_reset();
  testutil::TempDir elsewhere{"tessel_theirs_"};
  write(elsewhere.file("theirs.bmp"), "theirs");
  std::filesystem::create_symlink(elsewhere.file("model.vxx"), cache_dir() + "/models/tree.vxx");
  std::filesystem::create_symlink(elsewhere.file("theirs.bmp"), cache_dir() + "/textures/bark.bmp");
  std::filesystem::create_symlink(elsewhere.file("mask.bmp"), cache_dir() + "/textures/leaf.bmp");
  std::filesystem::create_symlink(elsewhere.file("scratch.vxx"), home_.file("tz.tmp"));
  model_instance* i = model_reference("models", "tree.vxx", nullptr);
  bool ready = run_until([&] {
    model_flush();
    return textured_polygons(i->clump) == 1;
  });
  umask(old);
  EXPECT_TRUE(ready);
  EXPECT_EQ(testutil::read_file(elsewhere.file("theirs.bmp")), "theirs");
  for (const char* name : {"model.vxx", "mask.bmp", "scratch.vxx"}) EXPECT_FALSE(std::filesystem::exists(elsewhere.file(name))) << name;
  for (const std::string& dir : {home_.file("cache"), home_.file("cache/art"), cache_dir(), cache_dir() + "/models",
                                 cache_dir() + "/textures"}) {
    struct stat st {};
    ASSERT_EQ(stat(dir.c_str(), &st), 0) << dir;
    EXPECT_EQ(st.st_mode & 07777, 0700u) << dir;
  }
  for (const auto& e : std::filesystem::recursive_directory_iterator(home_.file("cache")))
    EXPECT_FALSE(e.is_symlink()) << e.path();
  std::filesystem::remove(home_.file("tz.tmp"));
  model_dereference(i);
}

// A FIFO where the model or its texture would lie in the cache: frames keep coming, and the
// model is fetched and shown as if nothing stood there.
TEST_F(ModelTest, AFifoInTheCacheDoesNotHoldTheFrames) {
  ASSERT_NO_FATAL_FAILURE(serve_model("tree.vxx", quad_script("bark")));
  ASSERT_NO_FATAL_FAILURE(serve_texture("bark"));
  const std::string model_fifo = cache_dir() + "/models/tree.vxx", texture_fifo = cache_dir() + "/textures/bark.bmp";
  ASSERT_EQ(mkfifo(model_fifo.c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(texture_fifo.c_str(), 0600), 0);
  // Should a frame wait on a FIFO, it is let go (again and again) after the cap, so that the
  // test fails instead of hanging.
  std::atomic<bool> finished{false}, released{false};
  std::thread watchdog([&] {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(testutil::kWaitMs);
    while (!finished) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (std::chrono::steady_clock::now() < end) continue;
      released = true;
      for (const std::string& f : {model_fifo, texture_fifo}) {
        int fd = open(f.c_str(), O_RDWR | O_NONBLOCK);
        if (fd >= 0) close(fd);
      }
    }
  });
  int frames = 0;
  model_instance* i = model_reference("models", "tree.vxx", nullptr);
  bool ready = run_until([&] {
    ++frames;
    model_flush();
    return textured_polygons(i->clump) == 1;
  });
  finished = true;
  watchdog.join();
  EXPECT_TRUE(ready);
  EXPECT_FALSE(released) << "a frame waited on a FIFO";
  EXPECT_GT(frames, 1);
  model_dereference(i);
}

TEST_F(ModelTest, ACachedModelIsShownAtOnceAndItsDownloadOnlyRevalidates) {
  ASSERT_NO_FATAL_FAILURE(serve_model("rock.vxx", quad_script("stone")));
  ASSERT_NO_FATAL_FAILURE(serve_texture("stone"));
  model_instance* first = model_reference("models", "rock.vxx", nullptr);
  ASSERT_TRUE(run_until([&] { return first->model->in_cache && !first->model->pending_textures; }));
  settle(500);
  model_dereference(first);

  // Next visit: the tables are new, the object cache and its dates are kept.
  model_reset();
  download_reset();
  texture_reset();
  std::string before = server_log();
  model_instance* again = model_reference("models", "rock.vxx", nullptr);
  model_flush();
  EXPECT_TRUE(model_is_ready(again)) << "shown from the chunk cache without waiting";
  EXPECT_EQ(textured_polygons(again->clump), 1);
  ASSERT_TRUE(run_until([&] { return server_log().size() > before.size() + 10 && again->model->download == nullptr; }));
  settle(500);
  std::string after = server_log().substr(before.size());
  EXPECT_NE(after.find("/w/models/rock.zip HTTP/1.1\" 304"), std::string::npos) << after;
  EXPECT_EQ(after.find("\" 200"), std::string::npos) << after;
  EXPECT_TRUE(model_is_ready(again));
  model_dereference(again);
}

TEST_F(ModelTest, AMissingModelKeepsItsPlaceholderAndDoesNotHoldOthersBack) {
  ASSERT_NO_FATAL_FAILURE(serve_model("rock.vxx", quad_script("")));
  model_instance* missing = model_reference("models", "nothere.vxx", nullptr);
  model_instance* rock = model_reference("models", "rock.vxx", nullptr);
  ASSERT_TRUE(run_until([&] { return rock->model->in_cache != 0; }));
  ASSERT_TRUE(run_until([&] { return missing->model->download == nullptr; }));
  model_flush();
  EXPECT_TRUE(model_is_ready(rock));
  EXPECT_FALSE(model_is_ready(missing));
  EXPECT_TRUE(shows_placeholder(missing));
  EXPECT_EQ(VxGetClumpScene(missing->clump), scene_world());
  float h;
  EXPECT_EQ(model_height(missing, &h), 0);
  EXPECT_EQ(model_get_bottom(missing, &h), 0);
  model_dereference(missing);
  model_dereference(rock);
}

TEST_F(ModelTest, HeaderListsTexturesAndMasksButNotNullAndReadsTheAxisAlignment) {
  std::string script =
      "clumpbegin\n AxisAlignment ZOrientY\n vertex 0 0 0 uv 0 0\n vertex 1 0 0 uv 1 0\n vertex 0 1 0 uv 0 1\n"
      " Texture Leaf.Big.jpg MASK LeafMask.bmp\n triangle 1 2 3\n texture null\n triangle 1 3 2\n"
      " textureext bark\n triangle 2 3 1 # texture ignored\nclumpend\n";
  ASSERT_NO_FATAL_FAILURE(serve_model("bush.vxx", script));
  model_instance* i = model_reference("models", "bush.vxx", nullptr);
  ASSERT_TRUE(run_until([&] { return i->model->loaded != 0; }));
  EXPECT_EQ(header_of(i->model), std::string("\1\4leaf\0\x08leafmask\4bark", 21));
  EXPECT_EQ(i->model->flags & MODEL_AXIS_ALIGNED, MODEL_AXIS_ALIGNED);
  model_dereference(i);
}

TEST_F(ModelTest, AnAxisAlignedModelNeverGetsAnUntexturedVersion) {
  ASSERT_NO_FATAL_FAILURE(serve_model("sign.vxx", quad_script("nosuchtexture", "", "zorientx")));
  model_instance* i = model_reference("models", "sign.vxx", nullptr);
  ASSERT_TRUE(run_until([&] { return i->model->loaded != 0; }));
  settle(1500);  // the texture is not on the server: it stays pending
  model_flush();
  EXPECT_EQ(i->model->pending_textures, 1);
  EXPECT_FALSE(chunk_exists("modelsflat", "sign"));
  EXPECT_TRUE(shows_placeholder(i));
  model_dereference(i);
}

TEST_F(ModelTest, AModelWhoseTextureNeverComesKeepsItsUntexturedVersion) {
  ASSERT_NO_FATAL_FAILURE(serve_model("hut.vxx", quad_script("nosuchtexture")));
  model_instance* i = model_reference("models", "hut.vxx", nullptr);
  ASSERT_TRUE(run_until([&] { return i->model->loaded != 0; }));
  settle(1500);
  model_flush();
  EXPECT_EQ(i->model->pending_textures, 1);
  EXPECT_FALSE(i->placeholder);
  // "texture null" stays in the untextured script: both polygons are there.
  EXPECT_EQ(all_polygons(i->clump), 2);
  EXPECT_EQ(textured_polygons(i->clump), 0);
  EXPECT_TRUE(model_is_ready(i));
  model_dereference(i);
}

TEST_F(ModelTest, AVrmlAvatarWaitingForItsTextureHasNoHeightUntilItIsShown) {
  ASSERT_NO_FATAL_FAILURE(serve_model("guy.wrl", "#VRML V2.0 utf8\nShape { appearance Appearance { texture ImageTexture"
                                      " { url \"nosuchtexture.jpg\" } } geometry IndexedFaceSet { coord Coordinate"
                                      " { point [ 0 0 0, 1 0 0, 0 2 0 ] } coordIndex [ 0 1 2 -1 ] } }\n", "avatars"));
  VxScene* own = VxCreateScene();
  model_instance* i = model_reference("avatars", "guy.wrl", own);
  ASSERT_TRUE(run_until([&] { return i->model->loaded != 0; }));
  EXPECT_TRUE(i->placeholder);
  float h;
  EXPECT_EQ(model_height(i, &h), 0);
  model_dereference(i);
  VxDestroyScene(own);
}

TEST_F(ModelTest, AnAvatarModelSwapsAtOnceWithoutAFlush) {
  ASSERT_NO_FATAL_FAILURE(serve_model("guy.vxx", quad_script(""), "avatars"));
  VxScene* own = VxCreateScene();
  model_instance* i = model_reference("avatars", "guy.vxx", own);
  EXPECT_EQ(VxGetClumpScene(i->clump), own);  // even the placeholder goes in at once
  model_flush();
  ASSERT_TRUE(run_until([&] { return i->model->in_cache != 0; }));
  EXPECT_EQ(i->pending_clump, nullptr);
  EXPECT_EQ(all_polygons(i->clump), 2);
  EXPECT_EQ(VxGetClumpScene(i->clump), own);
  EXPECT_TRUE(model_is_ready(i));
  model_dereference(i);
  EXPECT_EQ(VxGetSceneNumClumps(own), 0);
  VxDestroyScene(own);
}

TEST_F(ModelTest, ASwappedClumpKeepsThePlacementOfTheOneItReplaces) {
  ASSERT_NO_FATAL_FAILURE(serve_model("post.vxx", quad_script("")));
  model_instance* i = model_reference("models", "post.vxx", nullptr);
  model_flush();
  VxMatrix* m = VxCreateMatrix();
  VxRotateMatrix(m, 0, 1, 0, 90, VX_REPLACE);
  VxTranslateMatrix(m, 3, 0.5f, -7, VX_POSTCONCAT);
  VxTransformClump(i->clump, m, VX_REPLACE);
  ASSERT_TRUE(run_until([&] { return i->model->in_cache != 0; }));
  model_flush();
  ASSERT_TRUE(model_is_ready(i));
  VxMatrix* got = VxCreateMatrix();
  VxGetClumpMatrix(i->clump, got);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(VxGetMatrixElement(got, r, c), VxGetMatrixElement(m, r, c), 1e-5) << r << c;
  VxDestroyMatrix(m);
  VxDestroyMatrix(got);
  model_dereference(i);
}

TEST_F(ModelTest, StateOnOffReachesModelsWithAndWithoutParts) {
  ASSERT_NO_FATAL_FAILURE(serve_model("lamp.vxx",
              "clumpbegin\n vertex 0 0 0\n vertex 1 0 0\n vertex 0 1 0\n triangle 1 2 3\n"
              " clump begin\n  vertex 0 2 0\n  vertex 1 2 0\n  vertex 0 5 0\n  triangle 1 2 3\n clump end\nclumpend\n"));
  model_instance* i = model_reference("models", "lamp.vxx", nullptr);
  ASSERT_TRUE(run_until([&] { return i->model->in_cache != 0; }));
  model_flush();
  model_state_off(i);
  EXPECT_EQ(VxGetClumpState(i->clump), VX_STATE_OFF);
  EXPECT_EQ(VxGetClumpState(VxGetFirstChildClump(i->clump)), VX_STATE_OFF);
  model_state_on(i);
  EXPECT_EQ(VxGetClumpState(VxGetFirstChildClump(i->clump)), VX_STATE_ON);
  // The height covers the clump's own vertices and its part's: 0 to 5.
  float h = 0;
  ASSERT_EQ(model_height(i, &h), 1);
  EXPECT_FLOAT_EQ(h, 5.0f);
  model_dereference(i);
}

// A hidden object stays hidden through every swap: placeholder, untextured, textured.
TEST_F(ModelTest, AHiddenModelStaysHiddenAcrossEverySwapAndShowsAgainWhenTurnedOn) {
  ASSERT_NO_FATAL_FAILURE(serve_model("wall.vxx", quad_script("Brick.JPG")));
  ASSERT_NO_FATAL_FAILURE(serve_texture("brick"));
  model_instance* i = model_reference("models", "wall.vxx", nullptr);
  ASSERT_NE(i, nullptr);
  model_state_off(i);
  model_flush();
  EXPECT_TRUE(shows_placeholder(i));
  EXPECT_EQ(VxGetClumpState(i->clump), VX_STATE_OFF);
  model_record* m = i->model;
  ASSERT_TRUE(run_until([&] { return m->loaded != 0; }));
  model_flush();
  ASSERT_FALSE(i->placeholder);
  EXPECT_EQ(textured_polygons(i->clump), 0);
  EXPECT_EQ(VxGetClumpState(i->clump), VX_STATE_OFF);
  ASSERT_TRUE(run_until([&] { return m->pending_textures == 0 && m->in_cache; }));
  model_flush();
  ASSERT_TRUE(model_is_ready(i));
  EXPECT_EQ(VxGetClumpState(i->clump), VX_STATE_OFF);
  // Shown again, the next swap keeps it shown.
  model_state_on(i);
  update_model(i);
  model_flush();
  EXPECT_EQ(VxGetClumpState(i->clump), VX_STATE_ON);
  model_state_off(i);
  update_model(i);
  model_flush();
  EXPECT_EQ(VxGetClumpState(i->clump), VX_STATE_OFF);
  model_dereference(i);
}

TEST_F(ModelTest, NamesThatWouldLeaveTheObjectFolderAreNeverFetched) {
  model_instance* i = model_reference("models", "../../evil.vxx", nullptr);
  ASSERT_NE(i, nullptr);
  EXPECT_EQ(i->model->download, nullptr);
  settle(300);
  EXPECT_TRUE(shows_placeholder(i));
  EXPECT_EQ(server_log().find("evil"), std::string::npos);
  model_dereference(i);
}

TEST_F(ModelTest, AnEncipheredModelIsKeptInMemoryAndNeverLeftOnDisk) {
  ASSERT_NO_FATAL_FAILURE(serve_model("vault.vxx", quad_script("stone"), "models", "opensesame"));
  ASSERT_NO_FATAL_FAILURE(serve_texture("stone"));
  object_password_set("opensesame", 10);
  model_instance* i = model_reference("models", "vault.vxx", nullptr);
  ASSERT_TRUE(run_until([&] { return i->model->loaded != 0; }));
  EXPECT_EQ(i->model->in_memory, 1);
  ASSERT_NE(i->model->model_data, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(i->model->model_data), static_cast<size_t>(i->model->model_data_size)),
            quad_script("stone"));
  EXPECT_FALSE(std::filesystem::exists(cache_dir() + "/models/vault.vxx"));
  ASSERT_TRUE(run_until([&] { return i->model->in_cache && !i->model->pending_textures; }));
  model_flush();
  EXPECT_TRUE(model_is_ready(i));
  EXPECT_EQ(textured_polygons(i->clump), 1);
  EXPECT_FALSE(std::filesystem::exists(cache_dir() + "/models/vault.vxx"));
  EXPECT_FALSE(std::filesystem::exists(home_.file("tz.tmp")));
  EXPECT_FALSE(std::filesystem::exists(home_.file("tz2.tmp")));
  object_password_set("", 0);
  model_dereference(i);
}

TEST_F(ModelTest, ANewerModelFileIsBuiltAgainEvenWhileItsTexturesArrive) {
  ASSERT_NO_FATAL_FAILURE(serve_model("shed.vxx", quad_script("", "", "", 2)));
  model_instance* i = model_reference("models", "shed.vxx", nullptr);
  ASSERT_TRUE(run_until([&] { return i->model->in_cache != 0; }));
  settle(200);
  model_dereference(i);
  model_reset();
  download_reset();
  texture_reset();
  // The server's copy changes: taller, and textured now.
  ASSERT_NO_FATAL_FAILURE(serve_model("shed.vxx", quad_script("stone", "", "", 5)));
  ASSERT_NO_FATAL_FAILURE(serve_texture("stone"));
  std::filesystem::last_write_time(www_ + "/w/models/shed.zip",
                                   std::filesystem::file_time_type::clock::now() + std::chrono::hours(1));
  i = model_reference("models", "shed.vxx", nullptr);
  model_flush();
  float h = 0;
  ASSERT_EQ(model_height(i, &h), 1);
  EXPECT_FLOAT_EQ(h, 2.0f);  // the cached copy first
  ASSERT_TRUE(run_until([&] { return i->model->fresh && i->model->in_cache && !i->model->pending_textures; }));
  model_flush();
  ASSERT_EQ(model_height(i, &h), 1);
  EXPECT_FLOAT_EQ(h, 5.0f);
  EXPECT_EQ(textured_polygons(i->clump), 1);
  model_dereference(i);
}

// A model left unbuilt on disk (its textures never came) gets a newer file at the next visit
// while its textures are still on their way: it is built only once both have arrived.
TEST_F(ModelTest, ANewerFileWhileTexturesWaitIsBuiltOnlyWithAllItsTextures) {
  const std::string two_textures =
      "clumpbegin\n vertex 0 0 0 uv 0 0\n vertex 1 0 0 uv 1 0\n vertex 0 1 0 uv 0 1\n"
      " texture plank\n triangle 1 2 3\n texture slate\n triangle 1 3 2\nclumpend\n";
  ASSERT_NO_FATAL_FAILURE(serve_model("hall.vxx", two_textures));
  model_instance* i = model_reference("models", "hall.vxx", nullptr);
  ASSERT_TRUE(run_until([&] { return i->model->loaded != 0; }));
  settle(1500);  // neither texture is on the server
  ASSERT_EQ(i->model->pending_textures, 2);
  model_dereference(i);
  model_reset();
  download_reset();
  texture_reset();
  ASSERT_TRUE(std::filesystem::exists(cache_dir() + "/models/hall.vxx"));

  // Next visit: the server has a newer copy of the model and one of its textures.
  ASSERT_NO_FATAL_FAILURE(serve_model("hall.vxx", two_textures));
  std::filesystem::last_write_time(www_ + "/w/models/hall.zip",
                                   std::filesystem::file_time_type::clock::now() + std::chrono::hours(1));
  ASSERT_NO_FATAL_FAILURE(serve_texture("plank"));
  i = model_reference("models", "hall.vxx", nullptr);
  model_record* m = i->model;
  ASSERT_EQ(m->pending_textures, 2);  // read from the file left on disk
  // The newer copy arrives before the texture's picture is converted.
  ASSERT_TRUE(testutil::poll_until([&] {
    http_update();
    download_update();
    return m->fresh != 0;
  }, testutil::kWaitMs));
  texture_record* plank = texture_download("plank", nullptr, nullptr);
  ASSERT_TRUE(run_until([&] { return texture_ready(plank) != 0; }));
  settle(1000);
  EXPECT_EQ(m->pending_textures, 1);
  EXPECT_FALSE(m->in_cache);
  EXPECT_FALSE(chunk_exists("models", "hall")) << "a model missing a texture must not be cached";
  model_flush();
  EXPECT_EQ(all_polygons(i->clump), 2);
  EXPECT_EQ(textured_polygons(i->clump), 0);  // the untextured stand-in meanwhile
  model_dereference(i);
}
