// The real upgrade program as a separate process under the offscreen platform.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/exit_wait.h"

namespace {

std::string program() { return std::string(TESSEL_BINARY_DIR) + "/bin/upgrade"; }

using testutil::wait_for_exit;

// While it waits for a kit that does not come, a termination signal closes its window and
// ends it as the user closing the window would, not by the signal's default death.
TEST(UpgradeProcess, TerminationSignalEndsItAsClosingTheWindowDoes) {
  ASSERT_EQ(access(program().c_str(), X_OK), 0) << program();
  char tmpl[] = "/tmp/tessel-upgrade-XXXXXX";
  std::string home = mkdtemp(tmpl);
  std::ofstream(home + "/tessel.ini") << "[general]\n";
  // A server that takes the connection and never answers.
  int server = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a));
  ASSERT_EQ(0, listen(server, 4));
  socklen_t len = sizeof a;
  getsockname(server, reinterpret_cast<sockaddr*>(&a), &len);
  std::string host = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    pid_t pid = fork();
    if (pid == 0) {
      int fd = open((home + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) dup2(fd, 2);
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      setenv("TESSEL_HOME", home.c_str(), 1);
      execl(program().c_str(), program().c_str(), host.c_str(), "kit.rtp", "tessel", static_cast<char*>(nullptr));
      _exit(121);
    }
    ASSERT_GT(pid, 0);
    pollfd p{server, POLLIN, 0};
    ASSERT_EQ(1, poll(&p, 1, testutil::kWaitMs)) << "no request came";
    int client = accept(server, nullptr, nullptr);
    kill(pid, sig);
    int status = wait_for_exit(pid, testutil::kWaitMs);
    if (status == -1) {
      kill(pid, SIGKILL);
      wait_for_exit(pid, testutil::kWaitMs);
    }
    EXPECT_EQ(0, status) << "signal " << sig;
    close(client);
  }
  close(server);
  std::filesystem::remove_all(home);
}

}  // namespace
