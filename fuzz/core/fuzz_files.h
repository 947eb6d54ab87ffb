// A private scratch folder per fuzz process, and the input written into a file there.
#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>

inline const std::string& fuzz_folder() {
  static const std::string dir = [] {
    std::string d = "/tmp/tessel_fuzz_" + std::to_string(getpid());
    mkdir(d.c_str(), 0700);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all("/tmp/tessel_fuzz_" + std::to_string(getpid()), ec);
    });
    return d;
  }();
  return dir;
}

inline bool fuzz_write(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}
