// The download queue end to end: the standard library's file server over a generated
// object tree, our odd server for stalls and broken replies, real date databases on disk.
#include "client/cache/download.h"
#include "client/core/settings.h"

#include <gtest/gtest.h>

#include <map>
#include <sys/time.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>
#include <cstring>
#include <string>
#include <vector>

#include "client/cache/database.h"
#include "client/cache/http.h"
#include "client/core/files.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/shell/console.h"
#include "platform/progdir.h"
#include "transfer_util.h"

using namespace transfer_test;

namespace {

struct Result {
  int status = 0;
  int count = 0;
  std::string data;
};

void record(void* user, int status, uint8_t* data, int size) {
  Result* r = static_cast<Result*>(user);
  r->status = status;
  r->data = data ? std::string(reinterpret_cast<char*>(data), static_cast<size_t>(size)) : "";
  ++r->count;
}

// Resident memory of this process in bytes.
long resident_bytes() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * sysconf(_SC_PAGESIZE);
}

void set_mtime(const std::string& path, int64_t seconds) {
  struct timeval tv[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
  utimes(path.c_str(), tv);
}

class DownloadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    clear_proxy_environment();
    www_ = new TempDir();
    files_ = new ServerProcess(file_server_command(www_->path()));
    odd_ = new ServerProcess(odd_server_command());
  }
  static void TearDownTestSuite() {
    delete files_;
    delete odd_;
    delete www_;
  }
  void SetUp() override {
    ASSERT_GT(files_->port(), 0);
    ASSERT_GT(odd_->port(), 0);
    file_term();
    platform_set_program_dir(home_.path());
    write_file(home_.file("tessel.ini"), "[general]\n");
    profile_init(home_.path().c_str(), "/tessel.ini");
    advanced_load();
    // The keyed-file engine starts once per process.
    static const int engine = database_init();
    ASSERT_EQ(engine, 0);
    ASSERT_EQ(http_init(0), 0);
    download_init();
    // A fresh folder on the file server per test.
    tree_ = "t" + std::to_string(++counter_);
    download_set_path((files_->base() + "/" + tree_).c_str());
  }
  void TearDown() override {
    download_reset();
    download_term();
    http_term();
    file_term();
  }
  // A file of the object tree with a given modification time.
  void put(const std::string& rel, const std::string& bytes, int64_t mtime = 1600000000) {
    std::string path = www_->file(tree_ + "/" + rel);
    write_file(path, bytes);
    set_mtime(path, mtime);
  }
  void remove_file(const std::string& rel) { std::remove(www_->file(tree_ + "/" + rel).c_str()); }
  static void frame() {
    http_update();
    download_update();
  }
  // Frames until the odd server says it holds a request whose path ends with tail.
  static bool held(const std::string& tail) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(testutil::kWaitMs);
    while (std::chrono::steady_clock::now() < end) {
      frame();
      std::string l = odd_->line(5);
      if (l.rfind("held ", 0) == 0 && l.size() >= tail.size() && l.compare(l.size() - tail.size(), tail.size(), tail) == 0)
        return true;
    }
    return false;
  }
  // Bytes each running transfer has brought, by its line in the Downloads window.
  static std::map<std::string, int> shown_progress() {
    std::map<std::string, int> out;
    for (int s = 0; s < DOWNLOAD_SLOTS; ++s) {
      char label[128];
      const char* state = nullptr;
      int got = 0, total = 0;
      if (!download_line(s, nullptr, label, sizeof label, &state)) continue;
      out[label] = state && std::sscanf(state, "%d of %d", &got, &total) == 2 ? got : 0;
    }
    return out;
  }
  static bool run_until(const std::function<bool()>& done, int limit_ms = testutil::kWaitMs) {
    return poll_until([&] {
      frame();
      return done();
    }, limit_ms);
  }
  static int asked_once_idle(ServerProcess& server, const std::string& file = "") {  // "down" requests
    EXPECT_TRUE(run_until([] { return shown_progress().empty(); }));
    int n = 0;
    for (std::string l; !(l = server.line(0)).empty();) n += l.rfind("asked ", 0) == 0 && l.find(file) != std::string::npos;
    return n;
  }
  static int told() {  // console lines: the object server cannot be reached
    int n = 0;
    for (size_t at = 0; (at = std::string(console_text()).find("<630>", at)) != std::string::npos; ++at) ++n;
    return n;
  }
  // One request of folder/name run to its callback.
  Result fetch(const std::string& folder, const std::string& name, void (*adjust)(download_request*) = nullptr) {
    Result r;
    download_request* q = download_file(folder.c_str(), name.c_str(), 1, record, &r);
    EXPECT_NE(q, nullptr);
    if (q && adjust) adjust(q);
    EXPECT_TRUE(run_until([&] { return r.count > 0; }));
    return r;
  }

  static TempDir* www_;
  static ServerProcess* files_;
  static ServerProcess* odd_;
  static int counter_;
  TempDir home_;
  std::string tree_;
};
TempDir* DownloadTest::www_ = nullptr;
ServerProcess* DownloadTest::files_ = nullptr;
ServerProcess* DownloadTest::odd_ = nullptr;
int DownloadTest::counter_ = 0;

TEST_F(DownloadTest, ArrivesThenCurrentThenChanged) {
  put("models/chair.rwx", "first version", 1600000000);
  Result first = fetch("models", "chair.rwx");
  EXPECT_EQ(first.status, DOWNLOAD_ARRIVED);
  EXPECT_EQ(first.data, "first version");
  // New bytes under the old date: the server answers the recorded date with 304.
  put("models/chair.rwx", "same date, other bytes", 1600000000);
  Result second = fetch("models", "chair.rwx");
  EXPECT_EQ(second.status, DOWNLOAD_CURRENT);
  EXPECT_EQ(second.data, "");
  put("models/chair.rwx", "second version", 1600000100);
  Result third = fetch("models", "chair.rwx");
  EXPECT_EQ(third.status, DOWNLOAD_ARRIVED);
  EXPECT_EQ(third.data, "second version");
}

// A file its requester refuses (it unpacks past its limit, say) keeps no date: the next
// request fetches it again instead of being told the refused copy is current.
TEST_F(DownloadTest, ARefusedFileIsAskedForAgain) {
  put("models/bomb.zip", "refused bytes", 1600000000);
  Result refused;
  download_request* q = download_file("models", "bomb.zip", 1,
                                      [](void* user, int status, uint8_t* data, int size) {
                                        record(user, status, data, size);
                                        download_refuse("bomb.vxx", "too large");
                                      },
                                      &refused);
  ASSERT_NE(q, nullptr);
  ASSERT_TRUE(run_until([&] { return refused.count > 0; }));
  EXPECT_EQ(refused.status, DOWNLOAD_ARRIVED);
  Result again = fetch("models", "bomb.zip");
  EXPECT_EQ(again.status, DOWNLOAD_ARRIVED);
  EXPECT_EQ(again.data, "refused bytes");
  // Taken this time: the date is kept, and the next request is answered as current.
  EXPECT_EQ(fetch("models", "bomb.zip").status, DOWNLOAD_CURRENT);
}

TEST_F(DownloadTest, RefreshIntervalForceAndIgnoreRefresh) {
  put("textures/wood.jpg", "wood", 1600000000);
  download_set_refresh(10);
  EXPECT_EQ(fetch("textures", "wood.jpg").status, DOWNLOAD_ARRIVED);
  // Gone from the server, yet inside the interval nobody asks it.
  remove_file("textures/wood.jpg");
  EXPECT_EQ(fetch("textures", "wood.jpg").status, DOWNLOAD_CURRENT);
  put("textures/wood.jpg", "new wood", 1600000500);
  Result revalidated = fetch("textures", "wood.jpg", [](download_request* q) { download_ignore_refresh(q); });
  EXPECT_EQ(revalidated.status, DOWNLOAD_ARRIVED);
  EXPECT_EQ(revalidated.data, "new wood");
  Result forced = fetch("textures", "wood.jpg", [](download_request* q) { download_force(q); });
  EXPECT_EQ(forced.status, DOWNLOAD_ARRIVED) << "a forced request sends no date";
  EXPECT_EQ(forced.data, "new wood");
}

// Check time plus interval passes 2^31 seconds: still inside the interval.
TEST_F(DownloadTest, LongRefreshIntervalDoesNotWrap) {
  put("models/tree.rwx", "tree");
  download_set_refresh(20000000);
  EXPECT_EQ(fetch("models", "tree.rwx").status, DOWNLOAD_ARRIVED);
  remove_file("models/tree.rwx");
  EXPECT_EQ(fetch("models", "tree.rwx").status, DOWNLOAD_CURRENT);
  download_set_refresh(40000000);  // the interval alone is above 2^31 seconds
  EXPECT_EQ(fetch("models", "tree.rwx").status, DOWNLOAD_CURRENT);
}

TEST_F(DownloadTest, NotFound) {
  download_set_refresh(10);
  // Never seen: failure, and no record that would later claim a cached copy.
  EXPECT_EQ(fetch("models", "ghost.rwx").status, DOWNLOAD_FAILED);
  put("models/ghost.rwx", "now here");
  EXPECT_EQ(fetch("models", "ghost.rwx").status, DOWNLOAD_ARRIVED);
  // Gone after being cached: failure, and the record is renewed, so that inside the
  // interval the server is not asked again.
  remove_file("models/ghost.rwx");
  EXPECT_EQ(fetch("models", "ghost.rwx", [](download_request* q) { download_ignore_refresh(q); }).status,
            DOWNLOAD_FAILED);
  EXPECT_EQ(fetch("models", "ghost.rwx").status, DOWNLOAD_CURRENT);
}

// A reset or the shutdown ends what is queued without a callback: a holder that lets go of
// its request afterwards (a model of an avatar the shutdown leaves) touches nothing freed.
TEST_F(DownloadTest, AHolderLettingGoAfterTheQueueEndedTouchesNothing) {
  download_request* r = download_file("models", "held.zip", DOWNLOAD_CLASS_MODELS, [](void*, int, uint8_t*, int) {},
                                      nullptr);
  ASSERT_NE(r, nullptr);
  download_reference(r);
  download_reset();
  // Under the sanitizer build each of these read or wrote freed memory.
  download_dereference(r);
  download_dereference(r);
  download_force(r);
  download_ignore_refresh(r);
  EXPECT_EQ(download_reference(r), r);
}

TEST_F(DownloadTest, BrokenRepliesFailAndLeaveNoRecord) {
  download_set_path(odd_->base().c_str());
  download_set_refresh(10);
  // Fewer bytes than announced: a failure, and no date record (else the next request
  // would be "current").
  EXPECT_EQ(fetch("short", "100/50").status, DOWNLOAD_FAILED);
  EXPECT_EQ(fetch("short", "100/50").status, DOWNLOAD_FAILED);
  EXPECT_EQ(fetch("long", "10/20").status, DOWNLOAD_FAILED);
  Result chunked = fetch("chunked", "3000");
  EXPECT_EQ(chunked.status, DOWNLOAD_ARRIVED);
  EXPECT_EQ(chunked.data, pattern(3000));
  Result unsized = fetch("nolength", "2000");
  EXPECT_EQ(unsized.status, DOWNLOAD_ARRIVED);
  EXPECT_EQ(unsized.data, pattern(2000));
  EXPECT_EQ(fetch("status", "500").status, DOWNLOAD_FAILED);
  EXPECT_EQ(fetch("length", "0").status, DOWNLOAD_FAILED);
}

TEST_F(DownloadTest, StallsAreRetriedThenFail) {
  FakeClock clock;
  download_set_path(odd_->base().c_str());
  Result stalled;
  ASSERT_NE(download_file("flaky", "9/10/always", 1, record, &stalled), nullptr);
  int starts = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    frame();
    ASSERT_TRUE(download_line(0, nullptr, nullptr, 0, nullptr)) << "attempt " << attempt << " runs";
    ++starts;
    clock.advance(30001);
    frame();
    if (attempt < 2) {
      EXPECT_EQ(stalled.count, 0) << "retried after stall " << attempt + 1;
    }
  }
  EXPECT_EQ(starts, 3);
  EXPECT_EQ(stalled.count, 1);
  EXPECT_EQ(stalled.status, DOWNLOAD_FAILED);

  Result recovered;
  ASSERT_NE(download_file("flaky", "2/700/twice", 1, record, &recovered), nullptr);
  for (int attempt = 0; attempt < 2; ++attempt) {
    // The stalled connection must have reached the server before the clock moves.
    ASSERT_TRUE(held("/flaky/2/700/twice")) << "attempt " << attempt;
    clock.advance(30001);
    frame();
  }
  EXPECT_TRUE(run_until([&] { return recovered.count > 0; }));
  EXPECT_EQ(recovered.status, DOWNLOAD_ARRIVED);
  EXPECT_EQ(recovered.data, pattern(700));
}

TEST_F(DownloadTest, ThreeAtOnceTheRestByScore) {
  download_set_path(odd_->base().c_str());
  struct Job {
    const char* name;
    int cls;
    int extra_refs;
    Result result;
    download_request* request = nullptr;
  };
  // Scores: references - 10 x class + 40.
  Job jobs[] = {{"a", 3, 0, {}},   // 11
                {"b", 1, 0, {}},   // 31
                {"c", 2, 5, {}},   // 26
                {"d", 0, 0, {}},   // 41
                {"e", 2, 0, {}},   // 21
                {"f", 1, 3, {}}};  // 34
  for (Job& j : jobs) {
    j.request = download_file("slow", (std::string("1200/64/") + j.name).c_str(), j.cls, record, &j.result);
    ASSERT_NE(j.request, nullptr);
    for (int i = 0; i < j.extra_refs; ++i) download_reference(j.request);
  }
  // Not queued twice.
  Result dup;
  EXPECT_EQ(download_file("slow", "1200/64/a", 1, record, &dup), nullptr);
  Result never;
  download_request* quiet = download_file("slow", "1200/64/q", 4, record, &never);
  download_dereference(quiet);  // score 0: never starts

  std::vector<std::string> started;
  auto note_starts = [&] {
    for (int s = 0; s < DOWNLOAD_SLOTS; ++s) {
      char label[64];
      if (download_line(s, nullptr, label, sizeof label, nullptr) &&
          std::find(started.begin(), started.end(), label) == started.end())
        started.push_back(label);
    }
  };
  frame();
  note_starts();
  ASSERT_EQ(started.size(), 3u);
  std::vector<std::string> first(started.begin(), started.end());
  std::sort(first.begin(), first.end());
  EXPECT_EQ(first, (std::vector<std::string>{"b:", "d:", "f:"}));
  ASSERT_TRUE(run_until([&] {
    note_starts();
    int done = 0;
    for (Job& j : jobs) done += j.result.count;
    return done == 6;
  }, testutil::kWaitMs));
  ASSERT_EQ(started.size(), 6u);
  // The waiting ones started best score first: c (26), e (21), a (11).
  EXPECT_EQ(std::vector<std::string>(started.begin() + 3, started.end()),
            (std::vector<std::string>{"c:", "e:", "a:"}));
  for (Job& j : jobs) EXPECT_EQ(j.result.status, DOWNLOAD_ARRIVED) << j.name;
  for (int i = 0; i < 5; ++i) frame();
  EXPECT_EQ(never.count, 0);
  download_reset();
  EXPECT_EQ(never.count, 0) << "a reset calls no callback";
}

// Three pictures on a server that sends a byte now and then never hold every slot: a model
// queued after them still arrives. Each picture's attempts end as time-outs and it fails after
// the third, having been asked for three times.
TEST_F(DownloadTest, TricklingPicturesLeaveASlotForTheWorldsFilesAndFailAfterThreeTimeOuts) {
  FakeClock clock;
  std::map<std::string, int> asked;
  int seen = 0;
  auto drain_server = [&] {
    for (std::string l; !(l = odd_->line(0)).empty();)
      if (l.rfind("trickle ", 0) == 0) ++asked[l.substr(l.rfind('/') + 1)], ++seen;
  };
  auto busy = [] {
    int n = 0;
    for (int s = 0; s < DOWNLOAD_SLOTS; ++s) n += download_line(s, nullptr, nullptr, 0, nullptr) ? 1 : 0;
    return n;
  };
  Result pictures[3];
  for (int i = 0; i < 3; ++i) {
    const std::string url = odd_->base() + "/trickle/20/100000/p" + std::to_string(i) + ".jpg";
    ASSERT_NE(download_url(url.c_str(), 0, record, &pictures[i]), nullptr);
  }
  frame();
  int started = busy();
  EXPECT_EQ(started, DOWNLOAD_SLOTS - 1);
  ASSERT_TRUE(poll_until([&] {
    drain_server();
    return seen >= started;
  }));
  put("models/m.zip", "the model");
  Result model;
  ASSERT_NE(download_file("models", "m.zip", DOWNLOAD_CLASS_MODELS, record, &model), nullptr);
  ASSERT_TRUE(run_until([&] { return model.count > 0; }));
  EXPECT_EQ(model.status, DOWNLOAD_ARRIVED);
  EXPECT_EQ(model.data, "the model");

  // Every stall limit's time ends the running attempts; the next ones start in the same frame.
  for (int round = 0; round < 12 && pictures[0].count + pictures[1].count + pictures[2].count < 3; ++round) {
    clock.advance(31000);
    frame();
    const int running = busy();
    EXPECT_LE(running, DOWNLOAD_SLOTS - 1);
    started += running;
    ASSERT_TRUE(poll_until([&] {
      drain_server();
      return seen >= started;
    }));
  }
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(pictures[i].count, 1) << i;
    EXPECT_EQ(pictures[i].status, DOWNLOAD_FAILED) << i;
    EXPECT_EQ(asked["p" + std::to_string(i) + ".jpg"], 3) << i;
  }
}

// Bodies without an end for a model, a texture and a sound: each transfer stops at the most
// a file of its kind may bring, so memory stays bounded; each fails and keeps no date, so the
// next request asks the server again.
TEST_F(DownloadTest, EndlessBodiesStopAtTheirKindsLimitAndKeepNothing) {
  download_set_path((odd_->base() + "/w").c_str());
  const char* const files[][2] = {{"models", "drip_0_65536_0_0.zip"},
                                  {"textures", "drip_0_65536_0_0.jpg"},
                                  {"sounds", "drip_0_65536_0_0.zip"}};
  msg_set(141, "%d of %d bytes");
  const long before = resident_bytes();
  long peak = before;
  int most_shown = 0;
  Result results[3];
  for (int i = 0; i < 3; ++i)
    ASSERT_NE(download_file(files[i][0], files[i][1], DOWNLOAD_CLASS_TEXTURES, record, &results[i]), nullptr);
  ASSERT_TRUE(run_until([&] {
    peak = std::max(peak, resident_bytes());
    for (const auto& entry : shown_progress()) most_shown = std::max(most_shown, entry.second);
    return results[0].count && results[1].count && results[2].count;
  }));
  // The largest limit is a sound's, 17 MiB; together they come to some 26 MiB.
  EXPECT_LE(most_shown, 17 << 20);
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer holds freed blocks back for a while
  EXPECT_LT(peak - before, 64L << 20);
#endif
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(results[i].status, DOWNLOAD_FAILED) << files[i][0];
    EXPECT_EQ(results[i].data, "") << files[i][0];
  }
  Result again;
  ASSERT_NE(download_file("models", "drip_0_65536_0_0.zip", DOWNLOAD_CLASS_MODELS, record, &again), nullptr);
  ASSERT_TRUE(run_until([&] { return again.count > 0; }));
  EXPECT_EQ(again.status, DOWNLOAD_FAILED) << "not answered from a date";
}

// A server that sends a little every second for ever, on several files, never keeps the
// world's models out: sounds, and transfers that run slow, hold two slots at most, so a model
// asked for at 8 s arrives within seconds, not after the slow model's deadline (92 s). The
// stepped clock moves a second once every trickling transfer has brought 300 bytes more.
TEST_F(DownloadTest, TricklingFilesNeverKeepALaterModelOut) {
  FakeClock clock;
  msg_set(141, "%d of %d bytes");
  download_set_path((odd_->base() + "/w").c_str());
  Result sounds[3], slow, late;
  for (int i = 0; i < 3; ++i) {
    download_request* q = download_file("sounds", ("drip_0_300_5_0_s" + std::to_string(i) + ".zip").c_str(),
                                        DOWNLOAD_CLASS_TEXTURES, record, &sounds[i]);
    ASSERT_NE(q, nullptr);
    for (int k = 0; k < 15; ++k) download_reference(q);  // ahead of every model
  }
  download_request* q = download_file("models", "drip_0_300_5_0_m.zip", DOWNLOAD_CLASS_MODELS, record, &slow);
  ASSERT_NE(q, nullptr);
  for (int k = 0; k < 2; ++k) download_reference(q);  // ahead of the later model
  frame();
  std::map<std::string, int> last;
  int arrived_at = 0;
  int most_sounds = 0;
  for (int second = 0; second < 120 && !late.count; ++second) {
    if (second == 8) {
      ASSERT_NE(download_file("models", "length_700_late.zip", DOWNLOAD_CLASS_MODELS, record, &late), nullptr);
    }
    ASSERT_TRUE(run_until([&] {
      if (late.count) return true;
      for (const auto& [label, got] : shown_progress()) {
        if (label.rfind("drip", 0) != 0) continue;
        auto seen = last.find(label);
        const int from = seen != last.end() && seen->second <= got ? seen->second : 0;
        if (got < from + 300) return false;
      }
      return true;
    })) << "at " << second << " s";
    last = shown_progress();
    int running_sounds = 0;
    for (const auto& entry : last) running_sounds += entry.first.find("_s") != std::string::npos ? 1 : 0;
    most_sounds = std::max(most_sounds, running_sounds);
    clock.advance(1000);
    frame();
    if (late.count) arrived_at = second + 1;
  }
  EXPECT_EQ(most_sounds, DOWNLOAD_SLOTS - 1);
  ASSERT_EQ(late.count, 1) << "the later model never came";
  EXPECT_EQ(late.status, DOWNLOAD_ARRIVED);
  EXPECT_EQ(late.data, pattern(700));
  EXPECT_GT(arrived_at, 8);
  EXPECT_LT(arrived_at, 40);
  for (const Result& r : sounds) EXPECT_EQ(r.count, 0) << "sounds may take longer";
}

// The object server is down when the world asks for a model, then comes back: the model is
// asked for again after pauses that grow, and arrives without a change of world; the console
// says once that the object server cannot be reached. A file that is not there is no server
// that cannot be reached: it fails at once.
TEST_F(DownloadTest, AModelArrivesOnceTheObjectServerIsBackAndThePersonIsToldOnce) {
  FakeClock clock;
  msg_set(630, "<630>: %s");
  console_reset_for_test();
  ASSERT_EQ(console_init(nullptr), 1);
  TempDir www;
  write_file(www.file("w/models/tree.zip"), "the tree's archive");
  ServerProcess server(
      {"python3", "-u", source_dir() + "/tests/fakes/throttled.py", "--closed", www.path(), "65536", "0"});
  ASSERT_GT(server.port(), 0);
  const std::string host = "127.0.0.1:" + std::to_string(server.port());
  download_set_path((host + "/w").c_str());
  auto running = [] { return download_line(0, nullptr, nullptr, 0, nullptr); };
  Result tree, ghost;
  ASSERT_NE(download_file("models", "tree.zip", DOWNLOAD_CLASS_MODELS, record, &tree), nullptr);
  frame();
  // Each attempt is refused; the next waits 2 s, then 4 s.
  for (uint32_t pause : {2000u, 4000u}) {
    ASSERT_TRUE(running());
    ASSERT_TRUE(run_until([&] { return !running(); }));
    EXPECT_EQ(tree.count, 0) << "no failure while the server may come back";
    clock.advance(pause - 1);
    frame();
    EXPECT_FALSE(running()) << "asked again before its pause of " << pause << " ms";
    clock.advance(1);
    frame();
  }
  ASSERT_TRUE(running());
  EXPECT_EQ(told(), 1) << "told while the server is away";
  server.send("open\n");
  ASSERT_EQ(server.line(), "open");
  ASSERT_TRUE(run_until([&] {
    if (!running()) clock.advance(1000);
    return tree.count > 0;
  }));
  EXPECT_EQ(tree.status, DOWNLOAD_ARRIVED);
  EXPECT_EQ(tree.data, "the tree's archive");
  EXPECT_EQ(told(), 1) << console_text();
  EXPECT_NE(std::string(console_text()).find(host), std::string::npos) << console_text();
  ASSERT_NE(download_file("models", "ghost.zip", DOWNLOAD_CLASS_MODELS, record, &ghost), nullptr);
  ASSERT_TRUE(run_until([&] { return ghost.count > 0; }));
  EXPECT_EQ(ghost.status, DOWNLOAD_FAILED);
  EXPECT_EQ(told(), 1);
  console_reset_for_test();
  msg_reset();
}

// A server answering 502 while 100 models wait is asked once per pause (2 s doubling to 30 s), not
// once per file, and told of once; once it answers, each model is asked for once and arrives.
TEST_F(DownloadTest, AServerThatCannotBeReachedIsAskedOncePerPauseForAllItsFiles) {
  FakeClock clock;
  msg_set(630, "<630>: %s");
  console_reset_for_test();
  ASSERT_EQ(console_init(nullptr), 1);
  ServerProcess server(odd_server_command());
  download_set_path((server.base() + "/w").c_str());
  static std::vector<std::string> back;
  download_hook.server_back = [](const char* host) { back.push_back(host); };
  std::vector<Result> models(100);
  for (Result& r : models) download_file("models", ("down_502_700_m" + std::to_string(&r - &models[0])).c_str(), 1, record, &r);
  int asked = 0;
  for (; fake_now <= 121000; clock.advance(1000)) asked += asked_once_idle(server);
  EXPECT_EQ(asked, 10);  // three at once, then pauses ending at 2, 6, 14, 30, 60, 90 and 120 s
  EXPECT_EQ(told(), 1) << console_text();
  server.send("up\n");
  ASSERT_EQ(server.line(), "up");
  for (asked = 0; std::any_of(models.begin(), models.end(), [](const Result& r) { return !r.count; }) && fake_now < 200000; clock.advance(1000)) asked += asked_once_idle(server);
  EXPECT_EQ(asked, 100);
  for (const Result& r : models) EXPECT_EQ(r.status, DOWNLOAD_ARRIVED);
  EXPECT_EQ(back, std::vector<std::string>{server.base()});
  download_hook.server_back = nullptr;
  console_reset_for_test();
}

// A 503 without a time to come back ends the file after three; one with a time keeps it waiting.
TEST_F(DownloadTest, BusyRepliesWithoutATimeToComeBackEndTheFileAfterThree) {
  FakeClock clock;
  ServerProcess server(odd_server_command());
  download_set_path((server.base() + "/w").c_str());
  Result busy, later;
  download_file("models", "down_503_7_busy", 1, record, &busy);
  download_file("models", "down_503r_7_later", 1, record, &later);
  int asked = 0;
  for (; !busy.count && fake_now < 121000; clock.advance(1000)) asked += asked_once_idle(server, "busy");
  EXPECT_EQ(busy.status, DOWNLOAD_FAILED);
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(later.count, 0);
}

// A world change resets the queue while transfers run: no slot keeps a freed request, the
// old callbacks never come, and the next downloads start and finish as usual.
TEST_F(DownloadTest, AResetDuringTransfersLeavesTheSlotsFreeForTheNextDownloads) {
  const std::string files_path = files_->base() + "/" + tree_;
  download_set_path(odd_->base().c_str());
  Result old[4];
  for (int i = 0; i < 4; ++i)
    ASSERT_NE(download_file("slow", ("3000/64/r" + std::to_string(i)).c_str(), 1, record, &old[i]), nullptr);
  frame();
  int running = 0;
  for (int s = 0; s < DOWNLOAD_SLOTS; ++s) running += download_line(s, nullptr, nullptr, 0, nullptr) ? 1 : 0;
  ASSERT_EQ(running, DOWNLOAD_SLOTS);
  download_reset();
  for (int s = 0; s < DOWNLOAD_SLOTS; ++s) EXPECT_FALSE(download_line(s, nullptr, nullptr, 0, nullptr)) << s;
  download_set_path(files_path.c_str());
  put("models/a.rwx", "aaa");
  put("models/b.rwx", "bbb");
  Result a, b;
  ASSERT_NE(download_file("models", "a.rwx", 1, record, &a), nullptr);
  ASSERT_NE(download_file("models", "b.rwx", 1, record, &b), nullptr);
  ASSERT_TRUE(run_until([&] { return a.count && b.count; }));
  EXPECT_EQ(a.status, DOWNLOAD_ARRIVED);
  EXPECT_EQ(a.data, "aaa");
  EXPECT_EQ(b.data, "bbb");
  for (int i = 0; i < 5; ++i) frame();
  for (const Result& r : old) EXPECT_EQ(r.count, 0);
}

TEST_F(DownloadTest, CallbackMayAskForTheSameFileAgain) {
  put("sounds/bell.wav", "ding");
  struct Again {
    Result first;
    Result second;
    download_request* again = nullptr;
  } state;
  auto callback = [](void* user, int status, uint8_t* data, int size) {
    Again* a = static_cast<Again*>(user);
    record(&a->first, status, data, size);
    a->again = download_file("sounds", "bell.wav", 2, record, &a->second);
  };
  ASSERT_NE(download_file("sounds", "bell.wav", 2, callback, &state), nullptr);
  ASSERT_TRUE(run_until([&] { return state.first.count > 0; }));
  EXPECT_EQ(state.first.status, DOWNLOAD_ARRIVED);
  ASSERT_NE(state.again, nullptr);
  ASSERT_TRUE(run_until([&] { return state.second.count > 0; }));
  EXPECT_EQ(state.second.status, DOWNLOAD_CURRENT);
}

// Names longer than the key keep separate date records.
TEST_F(DownloadTest, LongNamesKeepTheirOwnDates) {
  std::string stem(60, 'x');
  put("models/" + stem + "_one.rwx", "one", 1600000000);
  put("models/" + stem + "_two.rwx", "two", 1600002000);
  EXPECT_EQ(fetch("models", stem + "_one.rwx").status, DOWNLOAD_ARRIVED);
  EXPECT_EQ(fetch("models", stem + "_two.rwx").status, DOWNLOAD_ARRIVED);
  // Changed, but still older than the other file's date.
  put("models/" + stem + "_one.rwx", "one again", 1600001000);
  Result one = fetch("models", stem + "_one.rwx");
  EXPECT_EQ(one.status, DOWNLOAD_ARRIVED);
  EXPECT_EQ(one.data, "one again");
  EXPECT_EQ(fetch("models", stem + "_two.rwx").status, DOWNLOAD_CURRENT);
}

TEST_F(DownloadTest, LocalMirror) {
  TempDir mirror;
  write_file(home_.file("tessel.ini"), "[advanced]\nlocal_path=" + mirror.path() + "\n");
  advanced_load();  // read and checked as at start-up
  // The mirror holds the url's path in lower case with ':' made '-'.
  std::string host = files_->base();
  std::replace(host.begin(), host.end(), ':', '-');
  std::string local = mirror.file(host + "/" + tree_ + "/models/table.rwx");
  write_file(local, "mirror table");
  set_mtime(local, 1500000000);
  Result first = fetch("models", "table.rwx");
  EXPECT_EQ(first.status, DOWNLOAD_ARRIVED);
  EXPECT_EQ(first.data, "mirror table");
  // Same date as recorded: current, not read again.
  write_file(local, "mirror table, changed bytes");
  set_mtime(local, 1500000000);
  EXPECT_EQ(fetch("models", "table.rwx").status, DOWNLOAD_CURRENT);
  Result forced = fetch("models", "table.rwx", [](download_request* q) { download_force(q); });
  EXPECT_EQ(forced.status, DOWNLOAD_ARRIVED);
  EXPECT_EQ(forced.data, "mirror table, changed bytes");
  // A mirror on a CD is never revalidated once recorded.
  write_file(home_.file("tessel.ini"), "[advanced]\nlocal_path=" + mirror.path() + "\ncd=1\n");
  advanced_load();  // read and checked as at start-up
  EXPECT_EQ(fetch("models", "table.rwx", [](download_request* q) { download_force(q); }).status,
            DOWNLOAD_ARRIVED);
  set_mtime(local, 1500009999);
  EXPECT_EQ(fetch("models", "table.rwx").status, DOWNLOAD_CURRENT);
}

// The mirror is the folder checked at start-up (or by the settings page): one that did not
// exist then is not used when it appears later in the run.
TEST_F(DownloadTest, AMirrorRefusedAtStartUpIsNotUsed) {
  TempDir mirror;
  write_file(home_.file("tessel.ini"), "[advanced]\nlocal_path=" + mirror.file("later") + "\n");
  advanced_load();
  EXPECT_EQ(nullptr, advanced_local_path());
  std::string host = files_->base();
  std::replace(host.begin(), host.end(), ':', '-');
  write_file(mirror.file("later/" + host + "/" + tree_ + "/models/table.rwx"), "mirror table");
  put("models/table.rwx", "server table", 1600000000);
  Result r = fetch("models", "table.rwx");
  EXPECT_EQ(r.status, DOWNLOAD_ARRIVED);
  EXPECT_EQ(r.data, "server table");
}

TEST_F(DownloadTest, MirrorPathStaysInsideTheMirror) {
  TempDir mirror;
  std::string host = files_->base();
  std::replace(host.begin(), host.end(), ':', '-');
  write_file(mirror.file("inner/" + host + "/x"), "");
  std::string inner = mirror.file("inner");
  write_file(home_.file("tessel.ini"), "[advanced]\nlocal_path=" + inner + "\n");
  advanced_load();  // read and checked as at start-up
  // ../../secret.txt from the url's host folder lands next to the mirror folder.
  write_file(mirror.file("secret.txt"), "not for the network");
  Result r;
  ASSERT_NE(download_url((files_->base() + "/../../secret.txt").c_str(), 0, record, &r), nullptr);
  ASSERT_TRUE(run_until([&] { return r.count > 0; }));
  EXPECT_NE(r.data, "not for the network");
  EXPECT_EQ(r.status, DOWNLOAD_FAILED);
}

TEST_F(DownloadTest, UrlDownloadsUseTheirLimitAndTheMiscDates) {
  Result big, small, small_again;
  std::string base = odd_->base();
  ASSERT_NE(download_url((base + "/nolength/5000").c_str(), 4, record, &big), nullptr);
  ASSERT_NE(download_url((base + "/length/1000").c_str(), 1, record, &small), nullptr);
  ASSERT_TRUE(run_until([&] { return big.count && small.count; }));
  EXPECT_EQ(big.status, DOWNLOAD_FAILED);
  EXPECT_EQ(small.status, DOWNLOAD_ARRIVED);
  EXPECT_EQ(small.data, pattern(1000));
  EXPECT_TRUE(exists(home_.file("cache/art/misc/download.dat")));
  download_set_refresh(10);
  ASSERT_NE(download_url((base + "/length/1000").c_str(), 1, record, &small_again), nullptr);
  ASSERT_TRUE(run_until([&] { return small_again.count > 0; }));
  EXPECT_EQ(small_again.status, DOWNLOAD_CURRENT);
}

TEST_F(DownloadTest, ObjectPathAndCacheFolders) {
  EXPECT_EQ(download_set_path("Objects.Example:8080/World"), 0) << "same world as before";
  std::string dir = download_get_path();
  EXPECT_EQ(dir, home_.path() + "/cache/art/objects.example-8080-world");
  for (const char* sub : {"models", "textures", "avatars", "seqs", "sounds"})
    EXPECT_TRUE(file_is_directory((dir + "/" + sub).c_str())) << sub;
  EXPECT_TRUE(exists(dir + "/download.dat"));
  // A path of dots stays one folder inside the cache.
  download_set_path("..");
  EXPECT_EQ(std::string(download_get_path()), home_.path() + "/cache/art/--");
  // Without a path the service's default is used; requests work again.
  download_set_path("");
  EXPECT_NE(std::string(download_get_path()), home_.path() + "/cache/art/");
  Result r;
  EXPECT_NE(download_file("models", "x.rwx", 1, record, &r), nullptr);
}

TEST_F(DownloadTest, NothingQueuedWithoutObjectPath) {
  download_term();
  download_init();
  Result r;
  EXPECT_EQ(download_file("models", "x.rwx", 1, record, &r), nullptr);
}

class RecordingView : public DownloadView {
 public:
  void show(bool s) override { shows.push_back(s); }
  void repaint() override { ++repaints; }
  std::vector<bool> shows;
  int repaints = 0;
};

TEST_F(DownloadTest, DownloadsWindowModel) {
  RecordingView view;
  download_set_view(&view);
  EXPECT_FALSE(download_shown());
  download_toggle();
  EXPECT_TRUE(download_shown());
  EXPECT_EQ(profile_int("show", "downloads"), 1);
  download_set_path(odd_->base().c_str());
  Result r1, r2;
  ASSERT_NE(download_file("stall-headers", "short.rwx", 1, record, &r1), nullptr);
  ASSERT_NE(download_file("stall-headers", "a_rather_long_model_name.rwx", 2, record, &r2), nullptr);
  frame();
  EXPECT_GT(view.repaints, 0);
  auto width = [](const char* text) { return static_cast<int>(std::strlen(text)) * 6; };
  char label[64];
  const char* state = nullptr;
  ASSERT_TRUE(download_line(0, width, label, sizeof label, &state));
  EXPECT_STREQ(label, "short.rwx:");
  ASSERT_TRUE(download_line(1, width, label, sizeof label, &state));
  EXPECT_STREQ(label, "a_rather_long_mo...:");
  EXPECT_FALSE(download_line(2, width, label, sizeof label, &state));
  EXPECT_STREQ(label, "");
  download_toggle();
  EXPECT_EQ(profile_int("show", "downloads"), 0);
  EXPECT_EQ(view.shows, (std::vector<bool>{true, false}));
  download_set_view(nullptr);
}

// A clock that holds the window thread, the first time it reads the clock while a transfer
// runs, until that transfer is over: a frame that took long.
std::atomic<bool> hold_armed{false};
std::thread::id window_thread;
uint32_t holding_clock() {
  if (hold_armed && std::this_thread::get_id() == window_thread && http_busy()) {
    hold_armed = false;
    poll_until([] { return http_busy() == 0; }, testutil::kWaitMs);
  }
  return fake_now.load();
}

// The transfer is over before the queue first looks at it: the file is reported as arrived.
TEST_F(DownloadTest, ATransferOverBeforeItIsFirstLookedAtArrives) {
  put("models/quick.rwx", "quick bytes");
  // The window thread reads the clock for its trace lines, right after starting the transfer.
  const std::string log_dir = std::filesystem::current_path().string();
  std::filesystem::current_path(home_.path());
  trace_switches[TRACE_GENERAL] = 1;
  window_thread = std::this_thread::get_id();
  fake_now = 1000;
  platform_set_clock(holding_clock);
  Result r;
  download_request* q = download_file("models", "quick.rwx", 1, record, &r);
  hold_armed = q != nullptr;
  bool called = q && run_until([&] { return r.count > 0; });
  platform_set_clock(nullptr);
  log_reset();
  std::filesystem::current_path(log_dir);
  ASSERT_NE(q, nullptr);
  ASSERT_TRUE(called);
  EXPECT_FALSE(hold_armed) << "the window thread was never held";
  EXPECT_EQ(r.status, DOWNLOAD_ARRIVED);
  EXPECT_EQ(r.data, "quick bytes");
}

}  // namespace
