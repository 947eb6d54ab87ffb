// The sequence cache: loading from the local cache, downloads and their completion, and the
// per-type usage counts.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "Parser/aglib.h"
#include "Zembrel/Pose/Anim/anim.h"
#include "Zembrel/Pose/Anim/registry.h"
#include "Zembrel/Pose/Anim/seqcache.h"
#include "tests/anim/seq_writer.h"
#include "tests/support/test_util.h"

namespace {

using animtest::SeqWriter;

struct Request {
  std::string folder, name;
  int cls;
  void (*done)(void*, int, uint8_t*, int);
  void* user;
  bool forced = false;
};
std::vector<Request>* g_requests = nullptr;
bool g_refuse = false;
std::vector<std::string> g_touched;

void* fake_download(const char* folder, const char* name, int cls, void (*done)(void*, int, uint8_t*, int),
                    void* user) {
  if (g_refuse) return nullptr;
  g_requests->push_back({folder, name, cls, done, user});
  return reinterpret_cast<void*>(g_requests->size());
}
void fake_force(void* request) { (*g_requests)[reinterpret_cast<size_t>(request) - 1].forced = true; }
// Stands in for the zip extraction: the "archive" is the file itself.
int fake_unzip(uint8_t* data, size_t size, const char* path) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return out ? 0 : 1;
}
void fake_touch(const char* path) { g_touched.emplace_back(path); }

std::string seq_bytes(int16_t frames, float value) {
  SeqWriter w;
  w.header(frames, 1).named("head", 4, {{0, {value}}}).i32(0);
  return w.bytes();
}

class CacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_requests = &requests;
    g_refuse = false;
    g_touched.clear();
    AnimCallbacks cb{};
    cb.download_file = fake_download;
    cb.download_force = fake_force;
    cb.unzip_memory = fake_unzip;
    cb.file_touch = fake_touch;
    AnimSetCallbacks(&cb);
    AnimReset(dir.path().c_str());
    std::filesystem::create_directories(dir.file("seqs"));
    SequenceCache::Get()->Clear();
    AvatarTypeUsage::Get()->Clear();
  }
  void TearDown() override {
    // Completions nobody delivered still own their records.
    for (Request& r : requests) r.done(r.user, ANIM_DOWNLOAD_FAILED, nullptr, 0);
    SequenceCache::Get()->Clear();
    AvatarTypeUsage::Get()->Clear();
    AnimSetCallbacks(nullptr);
    AnimRegistry::Get()->Clear();
  }
  void complete(size_t i, int status, const std::string& bytes) {
    std::string copy = bytes;
    Request r = requests[i];
    requests.erase(requests.begin() + static_cast<std::ptrdiff_t>(i));
    r.done(r.user, status, reinterpret_cast<uint8_t*>(copy.data()), static_cast<int>(copy.size()));
  }
  testutil::TempDir dir{"anim_cache_"};
  std::vector<Request> requests;
};

TEST_F(CacheTest, LocalFileLoadsAndDownloadChecksForNewer) {
  testutil::write_file(dir.file("seqs/walk.seq"), seq_bytes(30, 2));
  SequenceCache* c = SequenceCache::Get();
  c->Acquire(AnimName("walk"));
  SequenceHandle s = c->Find(AnimName("walk"));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Frames(), 30);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].folder, "seqs");
  EXPECT_EQ(requests[0].name, "walk.zip");
  EXPECT_EQ(requests[0].cls, 1);
  EXPECT_FALSE(requests[0].forced);
  ASSERT_FALSE(g_touched.empty());
  EXPECT_EQ(g_touched[0], dir.file("seqs/walk.seq"));
  // A newer file arrives and replaces the sequence.
  complete(0, ANIM_DOWNLOAD_ARRIVED, seq_bytes(60, 3));
  ASSERT_TRUE(c->Find(AnimName("walk")));
  EXPECT_EQ(c->Find(AnimName("walk"))->Frames(), 60);
  EXPECT_EQ(s->Frames(), 30);  // players over the old one keep it
  EXPECT_EQ(testutil::read_file(dir.file("seqs/walk.seq")), seq_bytes(60, 3));
}

TEST_F(CacheTest, MissingFileIsForcedAndArrivesLater) {
  SequenceCache* c = SequenceCache::Get();
  c->Acquire(AnimName("wave"));
  EXPECT_FALSE(c->Find(AnimName("wave")));
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0].forced);
  complete(0, ANIM_DOWNLOAD_FAILED, "");
  EXPECT_FALSE(c->Find(AnimName("wave")));
  c->Acquire(AnimName("wave"));  // second user: a plain download again
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_FALSE(requests[0].forced);
  complete(0, ANIM_DOWNLOAD_ARRIVED, seq_bytes(12, 1));
  ASSERT_TRUE(c->Find(AnimName("wave")));
  EXPECT_EQ(c->Find(AnimName("wave"))->Frames(), 12);
}

TEST_F(CacheTest, UsersCountAndLateCompletions) {
  SequenceCache* c = SequenceCache::Get();
  c->Acquire(AnimName("b"));
  c->Acquire(AnimName("a"));
  c->Acquire(AnimName("b"));
  c->Acquire(AnimName(""));
  EXPECT_EQ(c->Size(), 2);
  EXPECT_EQ(c->Users(AnimName("b")), 2);
  c->Release(AnimName("b"));
  EXPECT_EQ(c->Users(AnimName("b")), 1);
  c->Release(AnimName("b"));
  EXPECT_EQ(c->Users(AnimName("b")), 0);
  EXPECT_EQ(c->Size(), 1);
  c->Release(AnimName("b"));  // not present: nothing happens
  c->Release(AnimName("zzz"));
  EXPECT_EQ(c->Size(), 1);
  // The completion for the released name still writes the file but fills no entry.
  ASSERT_EQ(requests.size(), 3u);
  complete(0, ANIM_DOWNLOAD_ARRIVED, seq_bytes(5, 1));
  EXPECT_TRUE(std::filesystem::exists(dir.file("seqs/b.seq")));
  EXPECT_FALSE(c->Find(AnimName("b")));
  EXPECT_EQ(c->Size(), 1);
}

TEST_F(CacheTest, RefusedDownloadsLeakNothing) {
  g_refuse = true;  // the queue says no (already queued, no object path)
  SequenceCache::Get()->Acquire(AnimName("x"));
  SequenceCache::Get()->Acquire(AnimName("x"));
  EXPECT_EQ(SequenceCache::Get()->Users(AnimName("x")), 2);
  EXPECT_TRUE(requests.empty());  // leak checking (sanitizer build) proves the records went
}

TEST_F(CacheTest, DamagedDownloadKeepsWhatItCouldRead) {
  SequenceCache::Get()->Acquire(AnimName("cut"));
  std::string bytes = seq_bytes(30, 5);
  complete(0, ANIM_DOWNLOAD_ARRIVED, bytes.substr(0, bytes.size() - 6));
  SequenceHandle s = SequenceCache::Get()->Find(AnimName("cut"));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->File().named.size(), 1u);
  EXPECT_TRUE(s->File().named[0].keys.empty());
}

TEST_F(CacheTest, TypeUsageAcquiresAndReleasesPerAvatar) {
  testutil::write_file(dir.file("avatars.dat"),
                       "# animation registry version 0.3\nversion 3\n"
                       "avatar name = a beginimp walk = w wait = shared endimp beginexp hi = g endexp endavatar\n"
                       "avatar name = b beginimp walk = shared endimp endavatar\n");
  AnimLoadRegistry(dir.file("avatars.dat").c_str());
  SequenceCache* c = SequenceCache::Get();
  AvatarTypeUsage* u = AvatarTypeUsage::Get();
  u->Acquire(0);
  u->Acquire(0);  // two avatars of type 0
  u->Acquire(1);
  EXPECT_EQ(c->Users(AnimName("w")), 2);
  EXPECT_EQ(c->Users(AnimName("g")), 2);
  EXPECT_EQ(c->Users(AnimName("shared")), 3);
  u->Release(0);
  EXPECT_EQ(c->Users(AnimName("w")), 1);
  u->Release(0);  // the last avatar of type 0: its own sequences go
  EXPECT_FALSE(c->Find(AnimName("w")));
  EXPECT_EQ(c->Users(AnimName("w")), 0);
  EXPECT_EQ(c->Users(AnimName("g")), 0);
  EXPECT_EQ(c->Users(AnimName("shared")), 1);
  // A type already at 0 must not take the shared sequence away from type 1.
  u->Release(0);
  u->Release(0);
  EXPECT_EQ(c->Users(AnimName("shared")), 1);
  EXPECT_EQ(u->Count(0), 0);
  u->Release(7);  // never acquired
  EXPECT_EQ(u->Count(7), 0);
  u->Release(1);
  EXPECT_EQ(c->Size(), 0);
  u->Acquire(99);  // no registry entry: counted, nothing requested
  EXPECT_EQ(u->Count(99), 1);
  EXPECT_EQ(c->Size(), 0);
}

// An avatar that leaves gives up its type, so the sequences only it used can go.
TEST_F(CacheTest, DestroyedAvatarReleasesItsTypesSequences) {
  testutil::write_file(dir.file("avatars.dat"),
                       "# animation registry version 0.3\nversion 3\n"
                       "avatar name = a beginimp walk = w endimp endavatar\n");
  AnimLoadRegistry(dir.file("avatars.dat").c_str());
  static int model = 0;
  AnimCallbacks cb{};
  cb.download_file = fake_download;
  cb.download_force = fake_force;
  cb.unzip_memory = fake_unzip;
  cb.file_touch = fake_touch;
  cb.model_reference = [](const char*, const char*, void*) -> void* { return &model; };
  AnimSetCallbacks(&cb);
  SequenceCache* c = SequenceCache::Get();
  AvatarTypeUsage* u = AvatarTypeUsage::Get();
  int owner = 0;
  AnimAvatar* first = AnimCreateAvatar(&owner, 1, 1);
  AnimAvatar* second = AnimCreateAvatar(&owner, 1, 1);
  ASSERT_EQ(1, AnimSetAvatarState(first, 0, 0, 0, 0, 0, 0, 0, 0));
  ASSERT_EQ(1, AnimSetAvatarState(second, 0, 0, 0, 0, 0, 0, 0, 0));
  EXPECT_EQ(2, u->Count(0));
  const int users = c->Users(AnimName("w"));
  AnimDestroyAvatar(first);
  EXPECT_EQ(1, u->Count(0));
  AnimDestroyAvatar(second);
  EXPECT_EQ(0, u->Count(0));
  EXPECT_LT(c->Users(AnimName("w")), users);
  EXPECT_EQ(0, c->Size());
  // Crowds of that type come and go: nothing stays behind.
  for (int round = 0; round < 20; ++round) {
    AnimAvatar* crowd[3];
    for (AnimAvatar*& a : crowd) {
      a = AnimCreateAvatar(&owner, 1, 1);
      ASSERT_EQ(1, AnimSetAvatarState(a, 0, 0, 0, 0, 0, 0, 0, 0));
    }
    EXPECT_EQ(3, c->Users(AnimName("w")));
    for (AnimAvatar* a : crowd) AnimDestroyAvatar(a);
  }
  EXPECT_EQ(0, c->Size());
  EXPECT_EQ(0, u->Count(0));
  // One that never took a type gives nothing up.
  u->Acquire(0);
  AnimDestroyAvatar(AnimCreateAvatar(&owner, 1, 1));
  EXPECT_EQ(1, u->Count(0));
}

// A download whose file cannot be written or read back (the cache folder went away) leaves
// the sequence the cache already holds in use.
TEST_F(CacheTest, AnUnreadableDownloadKeepsTheSequenceInUse) {
  testutil::write_file(dir.file("seqs/run.seq"), seq_bytes(30, 2));
  SequenceCache* c = SequenceCache::Get();
  c->Acquire(AnimName("run"));
  ASSERT_TRUE(c->Find(AnimName("run")));
  std::filesystem::remove_all(dir.file("seqs"));
  complete(0, ANIM_DOWNLOAD_ARRIVED, seq_bytes(60, 3));
  SequenceHandle s = c->Find(AnimName("run"));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Frames(), 30);
}

// A 4 MB "walk.seq" listing 520,000 root tracks: a sequence uses the first four (the root's
// translation and orientation), so only those are read and kept, with one line in the log.
TEST_F(CacheTest, ASequenceKeepsOnlyTheRootTracksItUses) {
  static std::vector<std::string>* lines = nullptr;
  std::vector<std::string> logged;
  lines = &logged;
  AnimCallbacks cb{};
  cb.download_file = fake_download;
  cb.file_touch = fake_touch;
  cb.log = [](const char* text) { lines->emplace_back(text); };
  AnimSetCallbacks(&cb);
  SeqWriter w;
  w.header(30, 1).named("head", 16, {{0, {1, 0, 0, 0}}}).i32(520000);
  w.body(4, {{0, {2}}}).body(4, {{0, {3}}}).body(4, {{0, {4}}}).body(16, {{0, {1, 0, 0, 0}}});
  for (int i = 4; i < 520000; ++i) w.body(4, {});
  ASSERT_GT(w.bytes().size(), 4000000u);
  testutil::write_file(dir.file("seqs/walk.seq"), w.bytes());
  SequenceCache* c = SequenceCache::Get();
  c->Acquire(AnimName("walk"));
  SequenceHandle s = c->Find(AnimName("walk"));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->File().root.size(), 4u);
  // The root translation still comes from the first three.
  ChannelSetHandle set = s->Evaluate(0, true);
  ASSERT_TRUE(set);
  ASSERT_GE(set->values.size(), 2u);
  EXPECT_EQ(set->values[1].id, CHANNEL_ROOT_TRANSLATION);
  EXPECT_FLOAT_EQ(set->values[1].value[0], 2);
  EXPECT_FLOAT_EQ(set->values[1].value[1], 3);
  EXPECT_FLOAT_EQ(set->values[1].value[2], -4);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find(dir.file("seqs/walk.seq")), std::string::npos) << logged[0];
  EXPECT_NE(logged[0].find("519996"), std::string::npos) << logged[0];

  // 235,000 named tracks of different names, in descending order: the first 256 are kept,
  // the rest read past, so the root tracks behind them still count.
  logged.clear();
  SeqWriter many;
  const int names = 235000;
  many.header(30, names);
  for (int i = names; i > 0; --i) many.named("j" + std::to_string(i), 4, {});
  many.i32(3).body(4, {{0, {5}}}).body(4, {{0, {6}}}).body(4, {{0, {7}}});
  testutil::write_file(dir.file("seqs/wave.seq"), many.bytes());
  c->Acquire(AnimName("wave"));
  SequenceHandle w2 = c->Find(AnimName("wave"));
  ASSERT_TRUE(w2);
  EXPECT_EQ(w2->File().named.size(), static_cast<size_t>(SeqFile::kNamedTracksKept));
  ASSERT_EQ(w2->File().root.size(), 3u);
  ASSERT_EQ(w2->File().root[2].keys.size(), 1u);
  EXPECT_FLOAT_EQ(w2->File().root[2].keys[0].value.w, 7);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find("234744 named tracks"), std::string::npos) << logged[0];
}

}  // namespace

// A FIFO where the cache keeps a sequence, the avatar list or a model holds nothing: each
// read returns at once as if the file were missing, and the log says why once.
TEST_F(CacheTest, AFifoInPlaceOfACacheFileIsMissing) {
  static std::vector<std::string>* lines = nullptr;
  std::vector<std::string> logged;
  lines = &logged;
  AnimCallbacks cb{};
  cb.download_file = fake_download;
  cb.download_force = fake_force;
  cb.log = [](const char* text) { lines->emplace_back(text); };
  AnimSetCallbacks(&cb);
  // Each read, once it returned, tells whether it took the file as missing.
  const std::vector<std::pair<const char*, std::function<bool()>>> cases = {
      {"seqs/walk.seq", [&] {
         SequenceCache::Get()->Acquire(AnimName("walk"));
         return !SequenceCache::Get()->Find(AnimName("walk")) && requests.size() == 1 && requests[0].forced;
       }},
      {"avatars.dat", [&] { return AnimLoadRegistry(dir.file("avatars.dat").c_str()), AnimRegistry::Get()->Count() == 0; }},
      {"models/tree.wrl", [&] { return AgLoadVrmlFile(dir.file("models/tree.wrl").c_str(), 0, nullptr, nullptr) != 0; }},
  };
  std::filesystem::create_directories(dir.file("models"));
  for (const auto& [file, missing] : cases) {
    SCOPED_TRACE(file);
    ASSERT_EQ(mkfifo(dir.file(file).c_str(), 0600), 0);
    testutil::FifoRelease release({dir.file(file)});
    EXPECT_TRUE(missing());
    EXPECT_FALSE(release.stop());  // nothing waited for a writer
  }
  ASSERT_EQ(logged.size(), 2u);  // the model's reader tells its own caller
  EXPECT_EQ(logged[0], dir.file("seqs/walk.seq") + " is not read: it is a FIFO");
  SequenceCache::Get()->Acquire(AnimName("walk"));  // again: not said again
  EXPECT_EQ(logged.size(), 2u);
}
