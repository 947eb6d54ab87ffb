#include "platform/signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace {
int pipe_fds[2] = {-1, -1};
const int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void on_signal(int number) {
  int saved = errno;
  unsigned char byte = static_cast<unsigned char>(number);
  // Non-blocking: a full pipe already says that the program is to end.
  if (pipe_fds[1] >= 0) (void)!write(pipe_fds[1], &byte, 1);
  errno = saved;
}
}  // namespace

int signals_watch() {
  if (pipe_fds[0] >= 0) return pipe_fds[0];
  if (pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    pipe_fds[0] = pipe_fds[1] = -1;
    return -1;
  }
  struct sigaction sa = {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int s : kSignals) sigaction(s, &sa, nullptr);
  return pipe_fds[0];
}

int signals_take() {
  if (pipe_fds[0] < 0) return 0;
  unsigned char byte = 0;
  return read(pipe_fds[0], &byte, 1) == 1 ? byte : 0;
}

void signals_unwatch() {
  for (int s : kSignals) signal(s, SIG_DFL);
  for (int& fd : pipe_fds) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}
