#pragma once
// A piece of a test run in a forked child (as another user, say), its answer read back.
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace testutil {

// Runs fn in a forked child and gives back what it returned, through a pipe ("" when the child
// died). A child that gives up (a set-up of its own that fails) ends with _exit.
template <class Fn>
std::string in_child(Fn fn) {
  int p[2];
  if (pipe(p) != 0) return "";
  pid_t pid = fork();
  if (pid == 0) {
    close(p[0]);
    std::string out = fn();
    ssize_t w = write(p[1], out.data(), out.size());
    (void)w;
    _exit(0);
  }
  close(p[1]);
  std::string got;
  char buf[512];
  for (ssize_t n; (n = read(p[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
  close(p[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? got : "";
}

}  // namespace testutil
