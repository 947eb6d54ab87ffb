// Programs started detached.
#include "platform/spawn.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/support/test_util.h"

// A started program gets none of this process's descriptors from 3 up, such as the web
// engine's sockets, which would keep the engine's processes alive for as long as it runs.
TEST(Spawn, AStartedProgramInheritsNoDescriptorFromThreeUp) {
  testutil::TempDir dir;
  int leaked = fcntl(STDIN_FILENO, F_DUPFD, 100);  // inherited unless the start closes it
  ASSERT_GE(leaked, 100);
  const std::string list = dir.file("fds");
  const std::string line = "/bin/sh -c \"ls /proc/self/fd > " + list + ".part && mv " + list + ".part " + list + "\"";
  ASSERT_EQ(platform_spawn_detached(line.c_str()), 0);
  ASSERT_TRUE(testutil::poll_until([&] { return access(list.c_str(), F_OK) == 0; }));
  const std::string fds = "\n" + testutil::read_file(list);
  close(leaked);
  EXPECT_NE(fds.find("\n2\n"), std::string::npos) << fds;
  EXPECT_EQ(fds.find("\n" + std::to_string(leaked) + "\n"), std::string::npos) << fds;
}
