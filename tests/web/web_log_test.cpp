// The keeper of the program's standard error, in processes of its own.
#include "client/ui/web_log.h"

#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>

#include <gtest/gtest.h>

#include "tests/support/test_util.h"

namespace {

// All that comes out of fd until every writer has let go; "" when one holds it past the cap.
std::string read_to_end(int fd) {
  std::string out;
  char buffer[4096];
  for (pollfd p{fd, POLLIN, 0}; poll(&p, 1, testutil::kWaitMs) > 0;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return out;
    out.append(buffer, size_t(n));
  }
  return "";
}

// A crash's last words reach the terminal with the keeper killed or stopped, which ends then.
TEST(WebLog, TheKeeperGoneOrStoppedLosesNoLastWordsAndEndsWithTheProgram) {
  for (int sig : {SIGKILL, SIGSTOP}) {
    int terminal[2], told[2];
    ASSERT_EQ(pipe(terminal) | pipe(told), 0);
    const pid_t program = fork();
    if (program == 0) {
      dup2(terminal[1], STDERR_FILENO);
      web_log_capture();
      char ready[6];  // its first line through shows the keeper at work
      if (write(STDERR_FILENO, "ready\n", 6) != 6 || read(terminal[0], ready, 6) != 6) _exit(1);
      pid_t keeper = 0;
      std::ifstream("/proc/self/task/" + std::to_string(getpid()) + "/children") >> keeper;
      // No keeper: this process made its capture before the fork (an earlier test did).
      if (keeper <= 0) (void)!write(told[1], &keeper, sizeof keeper), _exit(3);
      kill(keeper, sig);
      waitpid(keeper, nullptr, WUNTRACED);
      (void)!write(told[1], &keeper, sizeof keeper);
      struct stat term {}, err {};
      testutil::poll_until([&] {  // once the program's side has seen the keeper gone
        return sig == SIGSTOP || (fstat(terminal[1], &term) | fstat(STDERR_FILENO, &err)) || err.st_ino == term.st_ino;
      });
      _exit(write(STDERR_FILENO, "last words\n", 11) > 0 ? 0 : 1);
    }
    close(terminal[1]);
    pid_t keeper = 0;
    ASSERT_EQ(read(told[0], &keeper, sizeof keeper), ssize_t(sizeof keeper));
    if (keeper <= 0) {
      waitpid(program, nullptr, 0);
      for (int fd : {terminal[0], told[0], told[1]}) close(fd);
      GTEST_SKIP() << "the standard error was captured earlier in this process";
    }
    EXPECT_EQ(read_to_end(terminal[0]), "last words\n") << strsignal(sig);
    kill(keeper, SIGKILL);  // whatever became of it
    waitpid(program, nullptr, 0);
    for (int fd : {terminal[0], told[0], told[1]}) close(fd);
  }
}

// An engine line longer than one read of the keeper reaches the log whole, the terminal none.
TEST(WebLog, AnEngineLineLongerThanOneReadGoesToTheLogWhole) {
  int from[2], logged[2], terminal[2];
  ASSERT_EQ(pipe(from) | pipe(logged) | pipe(terminal), 0);
  const pid_t keeper = fork();
  if (keeper == 0) close(from[1]), web_log_keep(from[0], logged[1], terminal[1], getppid());
  for (int fd : {from[0], logged[1], terminal[1]}) close(fd);
  const std::string line = "[1:2:1211/120000.5:INFO:page.cc(7)] " + std::string(150000, 'w');
  std::thread writer([&] { (void)!write(from[1], (line + "\nplain\n").data(), line.size() + 7), close(from[1]); });
  std::string log = read_to_end(logged[0]);
  writer.join();
  EXPECT_EQ(read_to_end(terminal[0]), "plain\n");
  std::erase(log, '\n');
  EXPECT_EQ(log, line);
  waitpid(keeper, nullptr, 0);
  close(logged[0]);
  close(terminal[0]);
}

}  // namespace
