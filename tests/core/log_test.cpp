#include "client/core/log.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "client/core/files.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "platform/clock.h"
#include "platform/headless_host.h"
#include "temp_dir.h"
#include "tests/support/test_util.h"

namespace {

uint32_t fake_now = 0;
uint32_t fake_clock() { return fake_now; }

// The log goes beside the settings once log_init has run, to the working directory before:
// each test works in its own, which holds both.
class TraceLog : public ::testing::Test {
 protected:
  void SetUp() override {
    log_reset();
    file_term();
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    old_cwd_ = cwd;
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    platform_set_clock(fake_clock);
    fake_now = 42;
  }
  void TearDown() override {
    log_reset();
    file_term();
    platform_set_clock(nullptr);
    if (chdir(old_cwd_.c_str()) != 0) ADD_FAILURE();
  }
  void settings(const std::string& debug) {
    write_file(dir_.file("tessel.ini"), "[debug]\n" + debug);
    profile_init(dir_.path().c_str(), "/tessel.ini");
  }
  std::string log() { return read_file(dir_.file("tessel.log")); }
  TempDir dir_;
  std::string old_cwd_;
};

}  // namespace

TEST_F(TraceLog, SwitchesFromDebugSection) {
  settings("trace=1\nsound=2\ndisk=-1\nworld=1\nvrml=1\nuniverse=0\n");
  log_init();
  EXPECT_EQ(trace_switches[TRACE_GENERAL], 1);
  EXPECT_EQ(trace_switches[TRACE_SOUND], 0);
  EXPECT_EQ(trace_switches[TRACE_DISK], 0);
  EXPECT_EQ(trace_switches[TRACE_WORLD], 1);
  EXPECT_EQ(trace_switches[TRACE_VRML], 1);
  EXPECT_EQ(trace_switches[TRACE_UNIVERSE], 0);
  // Once the general switch is on, the settings reads that follow are traced.
  EXPECT_NE(log().find("profile_int (debug, universe): 0"), std::string::npos) << log();
}

TEST_F(TraceLog, AllSwitchesOffWritesNoFile) {
  settings("trace=0\nworld=2\n");
  log_init();
  for (int i = 0; i < TRACE_COUNT; ++i) EXPECT_EQ(trace_switches[i], 0) << i;
  EXPECT_FALSE(file_exists(dir_.file("tessel.log").c_str()));
}

TEST_F(TraceLog, AllSwitchesEverything) {
  settings("all=1\ntrace=0\n");
  log_init();
  for (int i = 0; i < TRACE_COUNT; ++i) EXPECT_EQ(trace_switches[i], 1) << i;
}

TEST_F(TraceLog, LinesCarryTheTickAtLeastFiveWide) {
  settings("");
  log_init();
  EXPECT_EQ(log_write("first %d", 1), 0);
  fake_now = 1234567;
  log_write("%s", "second");
  EXPECT_EQ(log(), "   42: first 1\n1234567: second\n");
}

TEST_F(TraceLog, WithoutFlushEveryRunStartsEmpty) {
  write_file(dir_.file("tessel.log"), "old run\n");
  settings("");
  log_init();
  EXPECT_EQ(log(), "old run\n");  // untouched until the first line
  log_write("new");
  EXPECT_EQ(log(), "   42: new\n");
  EXPECT_EQ(read_file(dir_.file("tessel.log.1")), "old run\n");  // the last run's is kept
}

TEST_F(TraceLog, FlushModeEmptiesAtInitThenAppendsAndCloses) {
  write_file(dir_.file("tessel.log"), "old run\n");
  settings("flush=1\n");
  log_init();
  EXPECT_EQ(log(), "");
  EXPECT_EQ(log_write("a"), 0);  // the close succeeded
  log_write("b");
  EXPECT_EQ(log(), "   42: a\n   42: b\n");
}

TEST_F(TraceLog, TimingModeHoldsTheNewestLine) {
  settings("timing=1\n");
  log_init();
  fake_now = 1000;
  log_write("load");
  EXPECT_EQ(log(), "");
  fake_now = 1250;
  log_write("draw");
  EXPECT_EQ(log(), "  250: load\n");
  fake_now = 1253;
  log_write("end");
  EXPECT_EQ(log(), "  250: load\n    3: draw\n");
}

TEST_F(TraceLog, OverLongLineIsCutNotOverrun) {
  settings("");
  log_init();
  std::string big(3000, 'z');
  log_write("%s", big.c_str());
  std::string text = log();
  EXPECT_EQ(text, "   42: " + std::string(1023, 'z') + "\n");
}

// A log that cannot be written is told once, naming the file and the reason; the lines are
// lost meanwhile, and a line that does not fit (a full disk) is taken back whole, so the file
// never ends in a cut line.
TEST_F(TraceLog, ALogThatCannotBeWrittenIsToldOnceAndNeverLeftWithACutLine) {
  HeadlessHost boxes;
  host_set(&boxes);
  settings("");
  log_init();
  ASSERT_EQ(mkdir(dir_.file("tessel.log").c_str(), 0755), 0);  // a folder in its place
  EXPECT_EQ(log_write("lost"), 0);
  EXPECT_EQ(log_write("lost too"), 0);
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_NE(boxes.boxes()[0].text.find(dir_.file("tessel.log")), std::string::npos) << boxes.boxes()[0].text;
  EXPECT_NE(boxes.boxes()[0].text.find("cannot be written: it is a folder."), std::string::npos) << boxes.boxes()[0].text;
  ASSERT_EQ(rmdir(dir_.file("tessel.log").c_str()), 0);

  // Inside a library's message handler (Qt's may run in the middle of drawing) no box opens:
  // it waits for the next line written outside.
  log_reset();
  boxes.clear();
  settings("");
  log_init();
  ASSERT_EQ(mkdir(dir_.file("tessel.log").c_str(), 0755), 0);
  log_hold_boxes(true);
  log_write("from a handler");
  log_hold_boxes(false);
  EXPECT_EQ(boxes.boxes().size(), 0u);
  log_write("from a frame");
  EXPECT_EQ(boxes.boxes().size(), 1u);
  ASSERT_EQ(rmdir(dir_.file("tessel.log").c_str()), 0);

  // A file size limit makes writes fail part-way, as a full disk would.
  log_reset();
  boxes.clear();
  settings("");
  log_init();
  std::string said = testutil::in_child([&] {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim {100, 100};
    setrlimit(RLIMIT_FSIZE, &lim);
    log_write("%s", std::string(60, 'a').c_str());
    log_write("%s", std::string(60, 'b').c_str());
    log_write("%s", std::string(60, 'c').c_str());
    return std::to_string(boxes.boxes().size()) + " " + boxes.boxes().at(0).text;
  });
  host_set(nullptr);
  EXPECT_EQ(said, "1 The trace log " + dir_.file("tessel.log") + " cannot be written: " + std::strerror(EFBIG) +
                      ".\nTrace lines are lost until it can.");
  EXPECT_EQ(log(), "   42: " + std::string(60, 'a') + "\n");
}

// A setting that is not wholly a number reads as the table's default, one out of its range as
// the range gives; the log (kept for any switch) says once for each value held which key held
// what and what was used instead, and again when the key comes to hold another bad value.
TEST_F(TraceLog, ABadSettingIsNamedOncePerValueWithTheValueUsed) {
  auto install = [&](const std::string& rating) {
    write_file(dir_.file("tessel.ini"),
               "[debug]\nuniverse=1\n[general]\nrating=" + rating +
                   "\n[performance]\nframerate=99\nvisibility=60\n[chat]\nnear=1e9\n");
  };
  install("abc");
  profile_init(dir_.path().c_str(), "/tessel.ini");
  log_init();
  auto count = [&](const std::string& line) {
    std::string text = log();
    int n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
    return n;
  };
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(general_rating(), 2);
    EXPECT_EQ(perform_framerate(), 7);
    EXPECT_EQ(perform_visibility(), 60);
    EXPECT_EQ(chat_near(), 12);
  }
  const std::string abc = "[general] rating=\"abc\" is not a number: 2 used";
  EXPECT_EQ(count(abc), 1) << log();
  EXPECT_EQ(count("[performance] framerate=\"99\" is out of range: 7 used"), 1) << log();
  EXPECT_EQ(count("[chat] near=\"1e9\" is not a number: 12 used"), 1) << log();
  EXPECT_EQ(count(dir_.file("tessel.ini") + " [general]"), 1) << log();
  EXPECT_EQ(count("visibility"), 0) << log();
  // Another bad value of the same key is named; the same one read again is not.
  install("xyz");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(general_rating(), 2);
  EXPECT_EQ(count("[general] rating=\"xyz\" is not a number: 2 used"), 1) << log();
  EXPECT_EQ(count(abc), 1) << log();
}

// The log keeps to its cap whether each line is flushed or not, and also when the last run's
// place cannot take it (a folder there): it is then begun again, and the box says so once.
TEST_F(TraceLog, TheLogKeepsToItsCapEvenWhenItCannotBeSetAside) {
  HeadlessHost boxes;
  host_set(&boxes);
  const std::string line(1000, 'x');
  for (const auto& [debug, blocked] : {std::pair{"", true}, std::pair{"flush=1\n", false}, std::pair{"flush=1\n", true}}) {
    SCOPED_TRACE(std::string(debug) + (blocked ? " blocked" : ""));
    log_reset();
    boxes.clear();
    std::filesystem::remove_all(dir_.file("tessel.log.1"));
    std::filesystem::remove_all(dir_.file("tessel.log"));
    if (blocked) ASSERT_EQ(mkdir(dir_.file("tessel.log.1").c_str(), 0700), 0);
    settings(debug);
    log_init();
    for (off_t written = 0; written < kLogCap * 3 / 2; written += static_cast<off_t>(line.size())) log_write("%s", line.c_str());
    log_reset();
    EXPECT_LE(std::filesystem::file_size(dir_.file("tessel.log")), size_t(kLogCap));
    if (!blocked) EXPECT_LE(std::filesystem::file_size(dir_.file("tessel.log.1")), size_t(kLogCap));
    ASSERT_EQ(boxes.boxes().size(), blocked ? 1u : 0u);
    if (!blocked) continue;
    EXPECT_NE(boxes.boxes()[0].text.find("reached its cap and cannot be set aside as " + dir_.file("tessel.log.1")),
              std::string::npos)
        << boxes.boxes()[0].text;
  }
  host_set(nullptr);
}
