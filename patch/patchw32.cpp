// The patch library: reads a whole kit, checks its signature against the key the folder
// trusts, that it is for a newer build than this installation, and then its contents, writes
// every new file beside its target under a temporary name, and only then moves them into
// place. A kit that fails its checks, a write that fails,
// or a callback that asks to stop leaves the folder as it was.
#include "patch/patchw32.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "patch/kit.h"

namespace {

constexpr const char* kTempSuffix = ".tkit-new";
constexpr size_t kChunk = 64 * 1024;
constexpr off_t kMaxKeyFile = 4096;
// The build this installation is: only a kit for a newer one is applied.
constexpr uint32_t kInstalledBuild = TESSEL_BUILD_NUMBER;

// What a kit asks for becomes a plain program or a plain file: no set-id, sticky or
// group/world write bits reach the folder.
mode_t installed_mode(uint32_t kit_mode) { return (kit_mode & 0111) ? 0755 : 0644; }

struct Command {
  std::string kit;
  std::string target;
};

// "<kit> \"<folder>\"": either part may be quoted.
bool parse_command(const char* text, Command* out) {
  if (!text) return false;
  std::string s = text;
  size_t i = 0;
  auto word = [&](std::string* into, bool rest) {
    while (i < s.size() && s[i] == ' ') ++i;
    if (i >= s.size()) return false;
    if (s[i] == '"') {
      size_t end = s.find('"', i + 1);
      if (end == std::string::npos) return false;
      *into = s.substr(i + 1, end - i - 1);
      i = end + 1;
    } else {
      size_t end = rest ? s.size() : s.find(' ', i);
      if (end == std::string::npos) end = s.size();
      *into = s.substr(i, end - i);
      i = end;
    }
    return !into->empty();
  };
  return word(&out->kit, false) && word(&out->target, true);
}

bool read_file(const std::string& path, std::vector<uint8_t>* out, off_t limit) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > limit) {
    int e = errno;
    close(fd);
    errno = e ? e : EFBIG;
    return false;
  }
  out->resize(size_t(st.st_size));
  size_t got = 0;
  while (got < out->size()) {
    ssize_t n = read(fd, out->data() + got, out->size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += size_t(n);
  }
  close(fd);
  out->resize(got);
  return true;
}

// The build this folder is now: the library's own, or the last kit's it installed when that
// is newer (a kit need not bring a new library, and its replay must not pass then either).
uint32_t installed_build(const std::string& target) {
  uint32_t build = kInstalledBuild;
  std::vector<uint8_t> text;
  if (!read_file(target + "/" KIT_BUILD_FILE, &text, 32)) return build;
  uint64_t recorded = 0;
  size_t digits = 0;
  for (uint8_t c : text) {
    if (c == '\n' && digits) break;
    if (c < '0' || c > '9' || ++digits > 10) return build;  // not ours: the library's stands
    recorded = recorded * 10 + (c - '0');
  }
  return digits && recorded <= UINT32_MAX && recorded > build ? uint32_t(recorded) : build;
}

// Written beside the folder's files as they are, to a fresh name first, then renamed over the
// old record: a stop in between leaves the old one.
void record_build(const std::string& target, uint32_t build) {
  const std::string path = target + "/" KIT_BUILD_FILE, temp = path + kTempSuffix;
  unlink(temp.c_str());
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const std::string text = std::to_string(build) + "\n";
  bool ok = write(fd, text.data(), text.size()) == ssize_t(text.size());
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) unlink(temp.c_str());
}

class Applier {
 public:
  Applier(const std::string& target, patch_callback_fn callback) : target_(target), callback_(callback) {}
  ~Applier() { roll_back(); }

  // False when the callback asked to stop.
  bool tell(int id, void* param) { return !callback_ || callback_(id, param) != nullptr; }
  // The text names the system's reason too; errno carries its number.
  bool tell_error(int id, const std::string& text, int reason) {
    std::string line = reason ? text + ": " + std::strerror(reason) : text;
    errno = reason;
    return tell(id, const_cast<char*>(line.c_str()));
  }

  // Creates the folders of name inside the target; every existing part must be a real folder.
  bool make_parents(const std::string& name) {
    size_t slash = 0;
    while ((slash = name.find('/', slash)) != std::string::npos) {
      std::string dir = target_ + "/" + name.substr(0, slash);
      struct stat st {};
      if (lstat(dir.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) {
          errno = ENOTDIR;
          return false;
        }
      } else if (mkdir(dir.c_str(), 0755) == 0) {
        made_dirs_.push_back(dir);
      } else {
        return false;
      }
      ++slash;
    }
    return true;
  }

  // 0 written, 1 stopped by the callback, -1 write error.
  int write_temp(const kit_entry& e) {
    std::string temp = target_ + "/" + e.name + kTempSuffix;
    unlink(temp.c_str());  // left over from an interrupted run
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    temps_.push_back(temp);
    size_t done = 0;
    while (done < e.data.size() || e.data.empty()) {
      size_t n = e.data.size() - done < kChunk ? e.data.size() - done : kChunk;
      if (n) {
        ssize_t w = write(fd, e.data.data() + done, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
          int err = errno ? errno : ENOSPC;
          close(fd);
          errno = err;
          return -1;
        }
        done += size_t(w);
      }
      uint16_t v = uint16_t(e.data.empty() ? PATCH_PROGRESS_FULL
                                           : uint64_t(done) * PATCH_PROGRESS_FULL / e.data.size());
      if (!tell(PATCH_PROGRESS, &v)) {
        close(fd);
        return 1;
      }
      if (e.data.empty()) break;
    }
    if (fchmod(fd, installed_mode(e.mode)) != 0 || fsync(fd) != 0) {
      int err = errno;
      close(fd);
      errno = err;
      return -1;
    }
    return close(fd) == 0 ? 0 : -1;
  }

  // Whether the entry can be carried out as it stands: the folders on its way are real folders
  // (a deletion never reaches through a link, and a missing one leaves nothing to delete), and
  // its target is no folder. errno says why not.
  bool can_commit(const kit_entry& e) {
    for (size_t slash = 0; (slash = e.name.find('/', slash)) != std::string::npos; ++slash) {
      struct stat st {};
      if (lstat((target_ + "/" + e.name.substr(0, slash)).c_str(), &st) != 0)
        return errno == ENOENT && e.kind == KIT_DELETE;
      if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
      }
    }
    struct stat st {};
    if (lstat((target_ + "/" + e.name).c_str(), &st) != 0) return errno == ENOENT;
    if (S_ISDIR(st.st_mode)) {
      errno = EISDIR;
      return false;
    }
    return true;
  }

  // Moves every written file into place and carries out the deletions, once every one of
  // them is known to be possible: a kit stopped half-way would leave a mix of two builds.
  bool commit(const std::vector<kit_entry>& entries, const kit_entry** failed) {
    for (const kit_entry& e : entries)
      if (!can_commit(e)) {
        *failed = &e;
        return false;
      }
    size_t t = 0;
    for (const kit_entry& e : entries) {
      std::string path = target_ + "/" + e.name;
      if (e.kind == KIT_DELETE) {
        if (unlink(path.c_str()) != 0 && errno != ENOENT) {
          *failed = &e;
          return false;
        }
        continue;
      }
      if (rename(temps_[t].c_str(), path.c_str()) != 0) {
        *failed = &e;
        return false;
      }
      temps_[t++].clear();
    }
    temps_.clear();
    made_dirs_.clear();
    return true;
  }

  void roll_back() {
    for (const std::string& t : temps_)
      if (!t.empty()) unlink(t.c_str());
    temps_.clear();
    for (auto it = made_dirs_.rbegin(); it != made_dirs_.rend(); ++it) rmdir(it->c_str());
    made_dirs_.clear();
  }

 private:
  std::string target_;
  patch_callback_fn callback_;
  std::vector<std::string> temps_;
  std::vector<std::string> made_dirs_;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) int patch_apply(const char* command,
                                                                  patch_callback_fn callback, int) {
  Command c;
  if (!parse_command(command, &c)) {
    Applier(std::string(), callback).tell_error(PATCH_ERROR, "The upgrade command cannot be read", EINVAL);
    return 1;
  }
  while (c.target.size() > 1 && c.target.back() == '/') c.target.pop_back();
  Applier apply(c.target, callback);
  if (!apply.tell(PATCH_SEARCHING, nullptr)) return 2;

  struct stat st {};
  if (stat(c.target.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    apply.tell_error(PATCH_ERROR, "The folder " + c.target + " cannot be found", errno ? errno : ENOTDIR);
    return 3;
  }
  // Only a kit signed with the key this folder trusts is looked into.
  std::string key_path = c.target + "/" KIT_TRUSTED_KEY_FILE;
  std::vector<uint8_t> key_text, key;
  if (!read_file(key_path, &key_text, kMaxKeyFile)) {
    apply.tell_error(PATCH_ERROR, "The upgrade cannot be checked: " + key_path + " cannot be read", errno);
    return 3;
  }
  if (!kit_key_parse(std::string(key_text.begin(), key_text.end()), KIT_PUBLIC_KEY_SIZE, &key)) {
    apply.tell_error(PATCH_ERROR, "The upgrade cannot be checked: " + key_path + " holds no key", 0);
    return 3;
  }
  std::vector<uint8_t> bytes;
  if (!read_file(c.kit, &bytes, off_t(KIT_MAX_FILE) * 4)) {
    apply.tell_error(PATCH_ERROR, "The upgrade kit " + c.kit + " cannot be read", errno);
    return 3;
  }
  std::vector<kit_entry> entries;
  std::string why;
  size_t body = 0;
  uint32_t build = 0;
  if (!kit_verify(bytes.data(), bytes.size(), key, &body, &build, &why)) {
    apply.tell_error(PATCH_ERROR, "The upgrade kit is refused: " + why, 0);
    return 4;
  }
  // A kit for this build or an older one would take the installation back: a server on the
  // way can send last year's kit, signed as it is.
  const uint32_t installed = installed_build(c.target);
  if (build <= installed) {
    apply.tell_error(PATCH_ERROR,
                     "The upgrade kit is refused: it is for build " + std::to_string(build) +
                         ", and this installation is build " + std::to_string(installed) +
                         " already; nothing was changed",
                     0);
    return 4;
  }
  if (!kit_parse(bytes.data(), body, &entries, &why)) {
    apply.tell_error(PATCH_ERROR, "The upgrade kit is damaged: " + why, 0);
    return 4;
  }
  for (const kit_entry& e : entries) {
    if (e.kind != KIT_FILE) continue;
    if (!apply.tell(PATCH_FILE, const_cast<char*>(e.name.c_str()))) return 2;
    if (!apply.make_parents(e.name)) {
      apply.tell_error(PATCH_FILE_ERROR, "Cannot make the folder for " + e.name, errno);
      return 5;
    }
    int r = apply.write_temp(e);
    if (r == 1) return 2;
    if (r < 0) {
      apply.tell_error(PATCH_FILE_ERROR, "Cannot write " + e.name, errno);
      return 5;
    }
  }
  const kit_entry* failed = nullptr;
  if (!apply.commit(entries, &failed)) {
    int reason = errno;
    apply.tell_error(PATCH_FILE_ERROR, (failed->kind == KIT_DELETE ? "Cannot delete " : "Cannot replace ") + failed->name,
                     reason);
    return 6;
  }
  record_build(c.target, build);
  return 0;
}
