#include "platform/library.h"

#include <dlfcn.h>

std::string platform_library_dir() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&platform_library_dir), &info) && info.dli_fname) {
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    if (slash != std::string::npos) return path.substr(0, slash + 1);
  }
  return std::string();
}

void* platform_library_open(const char* file) {
  if (!file || !*file) return nullptr;
  void* handle = dlopen((platform_library_dir() + file).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) handle = dlopen(file, RTLD_NOW | RTLD_LOCAL);
  return handle;
}
