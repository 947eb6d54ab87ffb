#include "platform/progdir.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace {
std::string g_dir;
bool g_known = false;
}  // namespace

std::string platform_executable_dir() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<size_t>(n));
  auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash ? slash : 1);
}

const std::string& platform_program_dir() {
  if (!g_known) {
    const char* home = std::getenv("TESSEL_HOME");
    g_dir = (home && *home) ? home : platform_executable_dir();
    while (g_dir.size() > 1 && g_dir.back() == '/') g_dir.pop_back();
    g_known = true;
  }
  return g_dir;
}

void platform_set_program_dir(const std::string& dir) {
  g_dir = dir;
  while (g_dir.size() > 1 && g_dir.back() == '/') g_dir.pop_back();
  g_known = true;
}
