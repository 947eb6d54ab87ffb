#pragma once
// Waiting on a child process the test started itself.
#include <sys/types.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "tests/support/test_util.h"

namespace testutil {

// Waits up to ms for the process; its exit status (128 + the signal when a signal ended it),
// or -1 when it is still running.
inline int wait_for_exit(pid_t pid, int ms) {
  for (int waited = 0; waited <= ms; waited += 10) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

}  // namespace testutil
