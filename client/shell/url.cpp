#include "client/shell/url.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "client/core/log.h"
#include "client/shell/web.h"
#include "platform/spawn.h"

extern char** environ;

namespace {

std::string browser_name;

bool tracing() { return trace_switches[TRACE_GENERAL] != 0; }

}  // namespace

int url_init(const char* browser) {
  browser_name = browser ? browser : "";
  if (tracing()) log_write("url_init (%s)", browser_name.c_str());
  return 1;
}

int url_is_external(const char* url) {
  WebAddress kind = web_address(url);
  return kind == WEB_ADDRESS_PAGE || kind == WEB_ADDRESS_DESKTOP;
}

int url_open(const char* url) {
  if (tracing()) log_write("url_open (%s)", url ? url : "");
  if (!url_is_external(url)) return 0;
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return 0;
  // The browser may outlive us: it must not keep our sockets or the instance lock.
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (platform_spawn_descriptors(&actions) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return 0;
  }
  char program[] = "xdg-open";
  std::string address = url;
  char* argv[] = {program, address.data(), nullptr};
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, program, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    if (tracing()) log_write("url_open: xdg-open could not start (%d)", rc);
    return 0;
  }
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return 1;
}

void url_term() {
  if (tracing()) log_write("url_term");
  browser_name.clear();
}
