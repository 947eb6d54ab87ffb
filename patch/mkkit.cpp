// mkkit: makes an upgrade kit from a folder.
//   mkkit <kit> <folder> [-d <name>]...
// Every regular file under the folder goes in with its relative name and permission bits;
// each -d adds the deletion of a file.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "patch/kit.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: mkkit <kit> <folder> [-d <name>]...\n");
    return 2;
  }
  std::vector<kit_entry> entries;
  std::error_code ec;
  fs::path root = argv[2];
  std::vector<fs::path> files;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    if (it->is_regular_file(ec) && !it->is_symlink(ec)) files.push_back(it->path());
  if (ec) {
    std::fprintf(stderr, "mkkit: cannot read %s: %s\n", argv[2], ec.message().c_str());
    return 1;
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& f : files) {
    kit_entry e;
    e.name = fs::relative(f, root).generic_string();
    if (!kit_name_safe(e.name)) {
      std::fprintf(stderr, "mkkit: %s cannot go in a kit\n", e.name.c_str());
      return 1;
    }
    struct stat st {};
    if (stat(f.c_str(), &st) == 0) e.mode = st.st_mode & 07777;
    std::ifstream in(f, std::ios::binary);
    e.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    entries.push_back(std::move(e));
  }
  for (int i = 3; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "-d") != 0 || !kit_name_safe(argv[i + 1])) {
      std::fprintf(stderr, "mkkit: bad argument %s\n", argv[i]);
      return 2;
    }
    kit_entry e;
    e.name = argv[i + 1];
    e.kind = KIT_DELETE;
    e.mode = 0;
    entries.push_back(std::move(e));
  }
  std::vector<uint8_t> kit = kit_build(entries);
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(kit.data()), std::streamsize(kit.size()));
  if (!out) {
    std::fprintf(stderr, "mkkit: cannot write %s\n", argv[1]);
    return 1;
  }
  std::printf("%s: %zu entries, %zu bytes\n", argv[1], entries.size(), kit.size());
  return 0;
}
