#include "client/core/os.h"

#include <sys/utsname.h>

#include <cstdio>

#include "client/core/log.h"

namespace {
char version[3 * sizeof(utsname{}.release) + 3];
}

bool os_init() {
  utsname u{};
  if (uname(&u) != 0) {
    version[0] = 0;
    return false;
  }
  std::snprintf(version, sizeof version, "%s %s %s", u.sysname, u.release, u.machine);
  if (trace_switches[TRACE_GENERAL]) log_write("os_init: %s", version);
  return true;
}

const char* os_version() { return version; }

void os_reset() { version[0] = 0; }
