// The real tessel program, started as separate processes under the offscreen platform.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "../core/temp_dir.h"
#include "platform/host_instance.h"
#include "spine_fixture.h"
#include "tests/support/exit_wait.h"

namespace {

std::string program() { return std::string(TESSEL_BINARY_DIR) + "/bin/tessel"; }

// Starts the program in cwd with these extra environment entries; stderr goes to err_file.
// With files > 0 it may have no more than that many open at once (soft and hard limit).
pid_t launch(const std::vector<std::string>& args, const std::vector<std::string>& env,
             const std::string& cwd, const std::string& err_file, rlim_t files = 0) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  if (chdir(cwd.c_str()) != 0) _exit(120);
  rlimit limit{files, files};
  if (files > 0 && setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(122);
  int fd = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) {
    dup2(fd, 2);
    dup2(fd, 1);
  }
  for (const std::string& e : env) putenv(strdup(e.c_str()));
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(121);
}

using testutil::wait_for_exit;

bool wait_until(const std::function<bool()>& ok, int ms) {
  for (int waited = 0; waited <= ms; waited += 20) {
    if (ok()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

bool contains(const std::string& path, const std::string& text) {
  return read_file(path).find(text) != std::string::npos;
}

// Every box the program opens is written to its stderr as "[caption] text".
int boxes_in(const std::string& err) {
  int n = 0;
  for (size_t at = 0; at != std::string::npos; at = err.find('\n', at + 1)) {
    size_t start = at == 0 ? 0 : at + 1;
    if (err.compare(start, 9, "[Tessel] ") == 0 || err.compare(start, 8, "[Error] ") == 0) ++n;
  }
  return n;
}

class Process : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(access(program().c_str(), X_OK), 0) << program();
    mkdir(home_.file("Messages").c_str(), 0755);
    write_file(home_.file("Messages/default.tzm"), kTestMessages);
    mkdir(home_.file("a").c_str(), 0755);
    mkdir(home_.file("b").c_str(), 0755);
  }
  std::vector<std::string> env(int exit_after_ms) {
    return {"TESSEL_HOME=" + home_.path(), "TESSEL_EXIT_AFTER_MS=" + std::to_string(exit_after_ms)};
  }
  TempDir home_;
};

}  // namespace

TEST_F(Process, SecondStartHandsItsCommandFileToTheFirstAndEnds) {
  write_file(home_.file("tessel.ini"), "[debug]\ntrace=1\n[display]\ndepth=1\n");
  pid_t first = launch({program()}, env(20000), home_.file("a"), home_.file("a/err"));
  ASSERT_GT(first, 0);
  ASSERT_TRUE(wait_until([&] { return contains(home_.file("tessel.log"), "cgi_init"); }, testutil::kWaitMs))
      << read_file(home_.file("a/err"));
  // The second start's command file, named relative to its own working directory.
  write_file(home_.file("b/go.cmd"), "teleport Remote 5N 5W, extra\n");
  auto begun = std::chrono::steady_clock::now();
  pid_t second = launch({program(), "go.cmd"}, env(20000), home_.file("b"), home_.file("b/err"));
  int status = wait_for_exit(second, testutil::kWaitMs);
  auto took = std::chrono::steady_clock::now() - begun;
  EXPECT_EQ(status, 0) << read_file(home_.file("b/err"));
  EXPECT_LT(took, std::chrono::seconds(8));
  // It read no settings (so traced no start of its own in the shared log) and made no window.
  std::string log = read_file(home_.file("tessel.log"));
  EXPECT_NE(log.find("init_application"), std::string::npos) << log;
  EXPECT_EQ(log.find("init_application"), log.rfind("init_application")) << log;
  EXPECT_NE(access(home_.file("b/tessel.log").c_str(), F_OK), 0);
  EXPECT_TRUE(wait_until(
      [&] { return contains(home_.file("tessel.log"), "cgi: teleport teleport Remote 5N 5W\n"); },
      testutil::kWaitMs))
      << read_file(home_.file("tessel.log"));
  // The first one goes on running.
  EXPECT_EQ(wait_for_exit(first, 0), -1);
  kill(first, SIGTERM);
  wait_for_exit(first, testutil::kWaitMs);
}

TEST_F(Process, MissingIniShowsItsErrorBoxAndNoWindow) {
  pid_t p = launch({program()}, env(300), home_.file("a"), home_.file("a/err"));
  EXPECT_EQ(wait_for_exit(p, testutil::kWaitMs), 0);
  std::string err = read_file(home_.file("a/err"));
  EXPECT_NE(err.find("[Error] The initialization file couldn't be located. Ensure the working "
                     "directory is set to where this program resides."),
            std::string::npos)
      << err;
}

TEST_F(Process, ScreenshotOfTheWaitingSplash) {
  write_file(home_.file("tessel.ini"), "[general]\n[display]\ndepth=1\n");
  std::vector<std::string> e = env(1000);
  e.push_back("TESSEL_SCREENSHOT=" + home_.file("shot.png"));
  pid_t p = launch({program()}, e, home_.file("a"), home_.file("a/err"));
  EXPECT_EQ(wait_for_exit(p, testutil::kWaitMs), 0) << read_file(home_.file("a/err"));
  QImage image(QString::fromStdString(home_.file("shot.png")));
  ASSERT_FALSE(image.isNull()) << read_file(home_.file("a/err"));
  // Only the splash box is up while the program waits for its universe.
  EXPECT_EQ(image.width(), 400);
  EXPECT_EQ(image.height(), 300);
  // The lock and the socket are released at the end.
  EXPECT_FALSE(host_instance_running(home_.path().c_str()));
  EXPECT_NE(access(host_instance_socket(home_.path().c_str()).c_str(), F_OK), 0);
}

// A desktop session ending (or kill) sends SIGTERM: the program ends as when its window is
// closed, with sound up (whose library would otherwise take the signal for itself).
TEST_F(Process, TerminationSignalEndsTheProgramInOrderWithSoundUp) {
  write_file(home_.file("tessel.ini"),
             "[debug]\ntrace=1\nsound=1\n[display]\ndepth=1\n[general]\nsound=1\nmusic=1\n");
  std::vector<std::string> e = env(60000);
  e.push_back("SDL_AUDIODRIVER=dummy");
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    unlink(home_.file("tessel.log").c_str());
    pid_t p = launch({program()}, e, home_.file("a"), home_.file("a/err"));
    ASSERT_GT(p, 0);
    ASSERT_TRUE(wait_until([&] { return contains(home_.file("tessel.log"), "cgi_init"); }, testutil::kWaitMs))
        << read_file(home_.file("a/err"));
    ASSERT_TRUE(contains(home_.file("tessel.log"), "sound_init"));
    ASSERT_FALSE(contains(home_.file("tessel.log"), "waveOutGetNumDevs FAILED"));
    kill(p, sig);
    int status = wait_for_exit(p, testutil::kWaitMs);
    if (status == -1) {
      kill(p, SIGKILL);
      wait_for_exit(p, testutil::kWaitMs);
    }
    EXPECT_EQ(status, 0) << "signal " << sig;
    EXPECT_TRUE(contains(home_.file("tessel.log"), "tessel_shutdown")) << read_file(home_.file("tessel.log"));
  }
}

// A signal while a start-up box is open ends start-up at its next step: the shutdown shows no
// further box, the program is gone and its lock free, and the next start runs.
TEST_F(Process, SignalDuringAStartUpBoxEndsTheProgramWithoutAnotherBox) {
  write_file(home_.file("tessel.ini"), "[debug]\ntrace=1\n[display]\ndepth=1\n");
  // The telegrams' store is damaged: start-up keeps it aside and says so in a box.
  write_file(home_.file("telegram.dat"), std::string(4096, 'x'));
  write_file(home_.file("telegram.idx"), std::string(4096, 'y'));
  pid_t p = launch({program()}, env(60000), home_.file("a"), home_.file("a/err"));
  ASSERT_GT(p, 0);
  auto boxes = [&] { return boxes_in(read_file(home_.file("a/err"))); };
  ASSERT_TRUE(wait_until([&] { return boxes() > 0; }, testutil::kWaitMs)) << read_file(home_.file("a/err"));
  kill(p, SIGTERM);
  int status = wait_for_exit(p, testutil::kWaitMs);
  if (status == -1) {
    kill(p, SIGKILL);
    wait_for_exit(p, testutil::kWaitMs);
  }
  EXPECT_EQ(status, 0) << read_file(home_.file("a/err"));
  EXPECT_EQ(boxes(), 1) << read_file(home_.file("a/err"));
  // The trace log lies beside the settings, in the program directory.
  std::string log = read_file(home_.file("tessel.log"));
  EXPECT_NE(log.find("tessel_shutdown"), std::string::npos) << log;
  EXPECT_EQ(log.find("chat_init"), std::string::npos) << log;
  EXPECT_FALSE(host_instance_running(home_.path().c_str()));
  // The next start runs (the store was made again, so no box this time).
  std::remove(home_.file("tessel.log").c_str());
  pid_t next = launch({program()}, env(300), home_.file("b"), home_.file("b/err"));
  EXPECT_EQ(wait_for_exit(next, testutil::kWaitMs), 0) << read_file(home_.file("b/err"));
  EXPECT_TRUE(contains(home_.file("tessel.log"), "cgi_init")) << read_file(home_.file("b/err"));
}

// With fewer descriptors than it needs the program would fail part-way (a store, a pipe of
// the toolkit) and crash; it says so in one box before anything starts and ends.
TEST_F(Process, TooFewDescriptorsAreSaidInOneBoxAndNothingStarts) {
  write_file(home_.file("tessel.ini"), "[debug]\ntrace=1\n[display]\ndepth=1\n");
  pid_t p = launch({program()}, env(300), home_.file("a"), home_.file("a/err"), 32);
  ASSERT_GT(p, 0);
  int status = wait_for_exit(p, testutil::kWaitMs);
  if (status == -1) kill(p, SIGKILL);
  std::string err = read_file(home_.file("a/err"));
  EXPECT_EQ(status, 1) << err;
  EXPECT_EQ(boxes_in(err), 1) << err;
  EXPECT_NE(err.find("at most 32 files"), std::string::npos) << err;
  EXPECT_NE(err.find("needs 256"), std::string::npos) << err;
  EXPECT_FALSE(contains(home_.file("tessel.log"), "init_application")) << read_file(home_.file("tessel.log"));
  EXPECT_FALSE(host_instance_running(home_.path().c_str()));
}

// A command file whose full path does not fit the hand-off would arrive as another file's
// name, or (cut to nothing) as a mere "come to the front": the second start says it was not
// handed over and fails, and the first takes nothing.
TEST_F(Process, ACommandFilePathTooLongToHandOverIsSaidAndFails) {
  write_file(home_.file("tessel.ini"), "[debug]\ntrace=1\n[display]\ndepth=1\n");
  pid_t first = launch({program()}, env(60000), home_.file("a"), home_.file("a/err"));
  ASSERT_GT(first, 0);
  ASSERT_TRUE(wait_until([&] { return contains(home_.file("tessel.log"), "cgi_init"); }, testutil::kWaitMs))
      << read_file(home_.file("a/err"));
  // A folder of 150 bytes and a command file named relative to it: 300 bytes in all.
  std::string folder = home_.file("b/");
  folder += std::string(150 - folder.size(), 'f');
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  std::string name(300 - folder.size() - 1, 'c');
  write_file(folder + "/" + name, "teleport Far 9N 9W\n");
  pid_t second = launch({program(), name}, env(300), folder, home_.file("b/err"));
  int status = wait_for_exit(second, testutil::kWaitMs);
  if (status == -1) kill(second, SIGKILL);
  std::string err = read_file(home_.file("b/err"));
  EXPECT_EQ(status, 1) << err;
  EXPECT_EQ(boxes_in(err), 1) << err;
  EXPECT_NE(err.find(folder + "/" + name + ": " + std::strerror(ENAMETOOLONG)), std::string::npos) << err;
  EXPECT_NE(err.find("nothing was started"), std::string::npos) << err;
  // Nothing reached the first, which goes on.
  EXPECT_FALSE(contains(home_.file("tessel.log"), "cgi: load_command")) << read_file(home_.file("tessel.log"));
  EXPECT_EQ(wait_for_exit(first, 0), -1);
  kill(first, SIGTERM);
  wait_for_exit(first, testutil::kWaitMs);
}
