// The instance lock and the hand-off socket in folders others can reach.
#include "platform/host_instance.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/test_util.h"

namespace fs = std::filesystem;
using testutil::TempDir;

namespace {

// Every test gets a runtime folder of its own, so that its socket is where it looks.
class HandOff : public ::testing::Test {
 protected:
  void SetUp() override {
    chmod(runtime.path().c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  }
  void TearDown() override { unsetenv("XDG_RUNTIME_DIR"); }
  // Takes one hand-off on listener: its text, or "" when none came whole.
  static std::string take(int listener) {
    host_instance_peer peer{};
    peer.fd = -1;
    char text[HOST_INSTANCE_TEXT] = {};
    int got = 0;
    testutil::poll_until([&] {
      if (peer.fd < 0 && !host_instance_accept(listener, &peer)) return false;
      got = host_instance_receive(&peer, text, sizeof text, testutil::kWaitMs);
      return got != 0;
    });
    host_instance_hang_up(&peer);
    return got == 1 ? text : "";
  }
  static int listen_at(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << path;
    EXPECT_EQ(listen(fd, 4), 0);
    return fd;
  }
  TempDir runtime{"tessel_runtime_"}, program{"tessel_program_"};
};

TEST_F(HandOff, TheLockFileIsNeverCreatedThroughALink) {
  const std::string aim = runtime.file("planted");
  fs::create_symlink(aim, program.file("tessel.lock"));
  EXPECT_EQ(host_instance_lock(program.path().c_str()), -2);
  EXPECT_FALSE(fs::exists(aim));
}

TEST_F(HandOff, ARuntimeFolderOfAnotherUserIsNotItsHome) {
  if (geteuid() != 0) GTEST_SKIP() << "a folder of another user needs root";
  ASSERT_EQ(chown(runtime.path().c_str(), 65534, 65534), 0);
  const std::string socket = host_instance_socket(program.path().c_str());
  EXPECT_NE(socket.rfind(runtime.path() + "/", 0), 0u) << socket;
}

// A text as long as the buffer would arrive cut: it is refused whole, one byte less arrives.
TEST_F(HandOff, ATextOfTheBuffersSizeIsRefusedAndOneByteLessArrives) {
  int listener = host_instance_listen(program.path().c_str());
  ASSERT_GE(listener, 0);
  for (size_t length : {size_t(HOST_INSTANCE_TEXT) - 1, size_t(HOST_INSTANCE_TEXT)}) {
    const std::string text = "/" + std::string(length - 1, 'c');
    bool sent = false;
    int reason = 0;
    std::thread second([&] {
      sent = host_instance_send(program.path().c_str(), text.c_str(), testutil::kWaitMs);
      reason = errno;
    });
    const bool fits = length < HOST_INSTANCE_TEXT;
    if (fits) {
      EXPECT_EQ(take(listener), text);
    }
    second.join();
    EXPECT_EQ(sent, fits) << length;
    if (!fits) {
      EXPECT_EQ(reason, ENAMETOOLONG);
    }
  }
  host_instance_peer peer{};
  EXPECT_EQ(host_instance_accept(listener, &peer), 0);
  host_instance_close(listener, program.path().c_str());
}

// A second start that checked its folder connects into that folder, though another one is
// put at its name before the program listens.
TEST_F(HandOff, TheSocketIsReachedInTheFolderThatWasChecked) {
  const std::string socket = host_instance_socket(program.path().c_str());
  const fs::path folder = fs::path(socket).parent_path();
  ASSERT_EQ(folder, fs::path(runtime.file("tessel")));
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  bool sent = false;
  std::thread second([&] { sent = host_instance_send(program.path().c_str(), "/mine.cmd", testutil::kWaitMs); });
  // The second start holds the folder open once it has checked it.
  ASSERT_TRUE(testutil::poll_until([&] {
    std::error_code ec;
    for (auto& fd : fs::directory_iterator("/proc/self/fd", ec))
      if (fs::read_symlink(fd.path(), ec) == folder) return true;
    return false;
  }));
  const fs::path moved = runtime.file("checked");
  fs::rename(folder, moved);
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  int stranger = listen_at(socket);
  int ours = listen_at((moved / fs::path(socket).filename()).string());
  pollfd both[2] = {{stranger, POLLIN, 0}, {ours, POLLIN, 0}};
  ASSERT_GT(poll(both, 2, testutil::kWaitMs), 0);
  EXPECT_FALSE(both[0].revents & POLLIN) << "connected to the socket put in its place";
  if (both[0].revents & POLLIN) close(accept(stranger, nullptr, nullptr));  // ends the send
  if (both[1].revents & POLLIN) {
    EXPECT_EQ(take(ours), "/mine.cmd");
  }
  second.join();
  EXPECT_EQ(sent, !(both[0].revents & POLLIN));
  close(stranger);
  close(ours);
}

}  // namespace
