#include "platform/spawn.h"

#include <gtest/gtest.h>

#include "tests/support/test_util.h"

// A started program gets none of this process's descriptors from 3 up (the web engine's
// sockets would keep its processes alive for as long as the program runs).
TEST(Spawn, AStartedProgramInheritsNoDescriptorFromThreeUp) {
  testutil::TempDir dir;
  const int leaked = fcntl(STDIN_FILENO, F_DUPFD, 100);
  const std::string list = dir.file("fds");
  const std::string line = "/bin/sh -c \"ls /proc/self/fd > " + list + ".part; mv " + list + ".part " + list + "\"";
  ASSERT_EQ(platform_spawn_detached(line.c_str()), 0);
  ASSERT_TRUE(testutil::poll_until([&] { return access(list.c_str(), F_OK) == 0; }));
  close(leaked);
  EXPECT_EQ(("\n" + testutil::read_file(list)).find("\n" + std::to_string(leaked) + "\n"), std::string::npos);
}
