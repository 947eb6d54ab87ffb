// mkkit: makes a signed upgrade kit from a folder, or the key pair that signs kits.
//   mkkit --keygen <secret key file> <public key file>
//   mkkit -k <secret key file> -b <build> <kit> <folder> [-d <name>]...
// Every regular file under the folder goes in with its relative name and permission bits;
// each -d adds the deletion of a file. The kit is signed for the build it makes of an
// installation: it is applied only where the build installed is older. The public key goes beside the programs of an
// installation as kit-key.pub; the secret key stays with whoever publishes kits.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "patch/kit.h"

namespace fs = std::filesystem;

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: mkkit -k <secret key file> -b <build> <kit> <folder> [-d <name>]...\n"
               "       mkkit --keygen <secret key file> <public key file>\n");
  return 2;
}

// A new file only: a key is never written over an existing one, nor through a link.
bool write_new(const char* path, const std::string& text, mode_t mode) {
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) {
    std::fprintf(stderr, "mkkit: cannot create %s: %s\n", path, std::strerror(errno));
    return false;
  }
  bool ok = write(fd, text.data(), text.size()) == ssize_t(text.size());
  int reason = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    reason = errno;
  }
  if (!ok) std::fprintf(stderr, "mkkit: cannot write %s: %s\n", path, std::strerror(reason));
  return ok;
}

int keygen(const char* secret_path, const char* public_path) {
  std::vector<uint8_t> public_key, secret_key;
  if (!kit_keygen(&public_key, &secret_key)) {
    std::fprintf(stderr, "mkkit: the key pair cannot be made\n");
    return 1;
  }
  if (!write_new(secret_path, kit_key_text(secret_key), 0600)) return 1;
  if (!write_new(public_path, kit_key_text(public_key), 0644)) {
    unlink(secret_path);
    return 1;
  }
  return 0;
}

bool read_secret_key(const char* path, std::vector<uint8_t>* key) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "mkkit: cannot read %s: %s\n", path, std::strerror(errno));
    return false;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!kit_key_parse(text, KIT_SECRET_KEY_SIZE, key)) {
    std::fprintf(stderr, "mkkit: %s holds no secret key\n", path);
    return false;
  }
  return true;
}

// A build number: decimal, 1 to 2^32 - 1.
bool parse_build(const char* text, uint32_t* build) {
  if (!*text || std::strspn(text, "0123456789") != std::strlen(text) || std::strlen(text) > 10) return false;
  unsigned long long n = std::strtoull(text, nullptr, 10);
  if (n == 0 || n > 0xFFFFFFFFull) return false;
  *build = uint32_t(n);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--keygen") == 0) return keygen(argv[2], argv[3]);
  if (argc < 7 || std::strcmp(argv[1], "-k") != 0 || std::strcmp(argv[3], "-b") != 0) return usage();
  uint32_t build = 0;
  if (!parse_build(argv[4], &build)) {
    std::fprintf(stderr, "mkkit: %s is no build number (1 to 4294967295)\n", argv[4]);
    return 2;
  }
  std::vector<uint8_t> secret_key;
  if (!read_secret_key(argv[2], &secret_key)) return 1;
  const char* kit_path = argv[5];
  const char* folder = argv[6];
  std::vector<kit_entry> entries;
  std::error_code ec;
  fs::path root = folder;
  std::vector<fs::path> files;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    if (it->is_regular_file(ec) && !it->is_symlink(ec)) files.push_back(it->path());
  if (ec) {
    std::fprintf(stderr, "mkkit: cannot read %s: %s\n", folder, ec.message().c_str());
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
    // A file that cannot be read would go in empty and be installed so.
    if (!in.is_open() || in.bad()) {
      std::fprintf(stderr, "mkkit: cannot read %s\n", f.c_str());
      return 1;
    }
    entries.push_back(std::move(e));
  }
  for (int i = 7; i + 1 < argc; i += 2) {
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
  if ((argc - 7) % 2) return usage();
  std::set<std::string> names;
  for (const kit_entry& e : entries)
    if (!names.insert(e.name).second) {
      std::fprintf(stderr, "mkkit: %s is in the kit twice\n", e.name.c_str());
      return 2;
    }
  std::vector<uint8_t> kit = kit_sign(kit_build(entries), secret_key, build);
  if (kit.empty()) {
    std::fprintf(stderr, "mkkit: the kit cannot be signed\n");
    return 1;
  }
  std::ofstream out(kit_path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(kit.data()), std::streamsize(kit.size()));
  if (!out) {
    std::fprintf(stderr, "mkkit: cannot write %s\n", kit_path);
    return 1;
  }
  std::printf("%s: %zu entries, %zu bytes, signed for build %u\n", kit_path, entries.size(), kit.size(), build);
  return 0;
}
