#include "client/shell/url.h"

#include <fcntl.h>
#include <spawn.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "client/core/log.h"

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
  if (!url) return 0;
  size_t n = 0;
  if (strncasecmp(url, "http://", 7) == 0)
    n = 7;
  else if (strncasecmp(url, "https://", 8) == 0)
    n = 8;
  else if (strncasecmp(url, "news:", 5) == 0)
    n = 5;
  else
    return 0;
  if (!url[n]) return 0;
  for (const char* p = url; *p; ++p)
    if (static_cast<unsigned char>(*p) <= ' ' || *p == 0x7F) return 0;
  return 1;
}

int url_open(const char* url) {
  if (tracing()) log_write("url_open (%s)", url ? url : "");
  if (!url_is_external(url)) return 0;
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return 0;
  // The browser may outlive us: it must not keep our sockets or the instance lock.
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
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
