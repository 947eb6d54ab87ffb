// The patch library: reads a whole kit, checks its signature against the key the folder
// trusts, that it is for a newer build than this installation, and then its contents, writes
// every new file beside its target under a temporary name, and only then moves them into
// place. A kit that fails its checks, a write that fails,
// or a callback that asks to stop leaves the folder as it was.
//
// The move into place is kept in a journal in the folder (KIT_JOURNAL_FILE), written whole
// before the first temporary file and again before the first rename and after the last: each
// replaced or deleted file is set aside as "<name>.tkit-old" until every entry is in place.
// A commit cut short (a failed rename, or the process killed) is finished when the journal
// says every file was in place, else put back, by this process or by the next patch_recover;
// either way the temporaries, the set-aside files and the stored kit go.
#include "patch/patchw32.h"

#include <fcntl.h>
#include <sys/file.h>
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
constexpr const char* kOldSuffix = ".tkit-old";
constexpr const char* kJournalHead = "tessel kit journal 1";
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

// Only a regular file is read, never through a link and never waiting on a FIFO.
bool read_file(const std::string& path, std::vector<uint8_t>* out, off_t limit) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  const bool known = fstat(fd, &st) == 0;
  if (!known || !S_ISREG(st.st_mode) || st.st_size > limit) {
    int e = !known ? errno : S_ISREG(st.st_mode) ? EFBIG : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    close(fd);
    errno = e;
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
// A record that is there but cannot be read as one refuses every kit (why says so): taking
// the library's build then would let an older kit over a newer one.
bool installed_build(const std::string& target, uint32_t* build, std::string* why) {
  *build = kInstalledBuild;
  const std::string path = target + "/" KIT_BUILD_FILE;
  std::vector<uint8_t> text;
  if (!read_file(path, &text, 32)) {
    if (errno == ENOENT) return true;
    *why = path + " cannot be read: " + std::strerror(errno);
    return false;
  }
  size_t digits = text.size() - (!text.empty() && text.back() == '\n');
  uint64_t recorded = 0;
  bool number = digits >= 1 && digits <= 10;
  for (size_t i = 0; number && i < digits; ++i) {
    number = text[i] >= '0' && text[i] <= '9';
    recorded = recorded * 10 + (text[i] - '0');
  }
  if (!number || recorded == 0 || recorded > UINT32_MAX) {
    *why = path + " holds no build number";
    return false;
  }
  if (recorded > *build) *build = uint32_t(recorded);
  return true;
}

std::string hex(const std::string& s) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) out += {digits[c >> 4], digits[c & 15]};
  return out;
}
bool unhex(const std::string& s, std::string* out) {
  auto value = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; };
  if (s.size() % 2) return false;
  out->clear();
  for (size_t i = 0; i < s.size(); i += 2) {
    int hi = value(s[i]), lo = value(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    *out += char(hi * 16 + lo);
  }
  return true;
}

// What a commit in progress has done or will do, as the journal keeps it. Names are the
// kit's, relative to the folder (hex in the file, so that any byte of a name is kept).
struct Journal {
  enum Phase { WRITING, PLACING, PLACED } phase = WRITING;
  std::string kit;                // the stored kit, when it lies in the folder
  std::vector<std::string> dirs;  // folders made for the kit, outermost first
  struct Step {
    char kind;  // 'f' a new file, 'F' a file that replaces one, 'x' a deletion
    std::string name;
  };
  std::vector<Step> steps;
};
const char* const kPhases[] = {"writing", "placing", "placed"};

bool sync_folder(const std::string& folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

// Written whole to a fresh name, synced and renamed over the last one: a reader finds the
// old journal or the new one. errno says why when false.
bool journal_write(const std::string& target, const Journal& j) {
  std::string text = std::string(kJournalHead) + "\n" + kPhases[j.phase] + "\n";
  if (!j.kit.empty()) text += "k " + hex(j.kit) + "\n";
  for (const std::string& d : j.dirs) text += "d " + hex(d) + "\n";
  for (const Journal::Step& s : j.steps) text += std::string(1, s.kind) + " " + hex(s.name) + "\n";
  text += "end\n";
  const std::string path = target + "/" KIT_JOURNAL_FILE, temp = path + kTempSuffix;
  unlink(temp.c_str());
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == ssize_t(text.size()) && fsync(fd) == 0;
  int reason = ok ? 0 : errno ? errno : ENOSPC;
  if (close(fd) != 0 && ok) ok = false, reason = errno;
  if (ok && rename(temp.c_str(), path.c_str()) != 0) ok = false, reason = errno;
  if (ok && !sync_folder(target)) ok = false, reason = errno;
  if (!ok) unlink(temp.c_str());
  errno = reason;
  return ok;
}

// 1 read, 0 no journal, -1 one that cannot be trusted (nothing is done by it then).
int journal_read(const std::string& target, Journal* j) {
  std::vector<uint8_t> bytes;
  if (!read_file(target + "/" KIT_JOURNAL_FILE, &bytes, off_t(KIT_MAX_ENTRIES) * 1200))
    return errno == ENOENT ? 0 : -1;
  std::string text(bytes.begin(), bytes.end());
  std::vector<std::string> lines;
  for (size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
    lines.push_back(text.substr(at, nl - at));
  if (lines.size() < 3 || lines[0] != kJournalHead || lines.back() != "end") return -1;
  int phase = 0;
  while (phase < 3 && lines[1] != kPhases[phase]) ++phase;
  if (phase == 3) return -1;
  j->phase = Journal::Phase(phase);
  for (size_t i = 2; i + 1 < lines.size(); ++i) {
    const std::string& l = lines[i];
    std::string name;
    // Every name stays inside the folder, as the kit's own did.
    if (l.size() < 3 || l[1] != ' ' || !unhex(l.substr(2), &name) || !kit_name_safe(name)) return -1;
    if (l[0] == 'k' && name.find('/') == std::string::npos)
      j->kit = name;
    else if (l[0] == 'd')
      j->dirs.push_back(name);
    else if (l[0] == 'f' || l[0] == 'F' || l[0] == 'x')
      j->steps.push_back({l[0], name});
    else
      return -1;
  }
  return 1;
}

bool exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// Whether every folder on name's way inside target is a real folder, never a link (errno
// says why not): nothing is written or removed through one.
bool real_way(const std::string& target, const std::string& name) {
  for (size_t slash = 0; (slash = name.find('/', slash)) != std::string::npos; ++slash) {
    struct stat st {};
    if (lstat((target + "/" + name.substr(0, slash)).c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode)) {
      errno = ENOTDIR;
      return false;
    }
  }
  return true;
}

// Ends a commit the journal describes: forward when every file was in place (the set-aside
// files go), else back (each set-aside file returns, the new files go). Each step can be run
// again after a kill part-way. The journal goes last, and with it the stored kit.
void journal_settle(const std::string& target, const Journal& j, bool remove_kit) {
  for (auto it = j.steps.rbegin(); it != j.steps.rend(); ++it) {
    const std::string path = target + "/" + it->name, old = path + kOldSuffix, temp = path + kTempSuffix;
    if (!real_way(target, it->name)) continue;
    if (j.phase == Journal::PLACED) {
      unlink(old.c_str());
      continue;
    }
    const bool placing = j.phase == Journal::PLACING;
    if (placing && it->kind == 'f' && !exists(temp)) unlink(path.c_str());
    if (placing && it->kind != 'f' && exists(old)) rename(old.c_str(), path.c_str());
    unlink(temp.c_str());
  }
  if (j.phase != Journal::PLACED)
    for (auto it = j.dirs.rbegin(); it != j.dirs.rend(); ++it)
      if (real_way(target, *it)) rmdir((target + "/" + *it).c_str());
  if (remove_kit && !j.kit.empty()) unlink((target + "/" + j.kit).c_str());
  unlink((target + "/" KIT_JOURNAL_FILE).c_str());
  sync_folder(target);
}

// One commit at a time in a folder: the folder itself is locked (a kill lets go of it).
int lock_folder(const std::string& target) {
  int fd = open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int e = errno;
    close(fd);
    errno = e;
    return -1;
  }
  return fd;
}

// The installation's own records and the names its commits use beside a file.
bool reserved_name(const std::string& name) {
  auto ends = [&](const char* tail) {
    size_t n = std::strlen(tail);
    return name.size() >= n && name.compare(name.size() - n, n, tail) == 0;
  };
  return name == KIT_BUILD_FILE || name == KIT_JOURNAL_FILE || ends(kTempSuffix) || ends(kOldSuffix);
}

class Applier {
 public:
  Applier(const std::string& target, patch_callback_fn callback) : target_(target), callback_(callback) {}
  // Whatever was begun and not finished is put back.
  ~Applier() {
    if (active_) journal_settle(target_, journal_, false);
  }

  // False when the callback asked to stop.
  bool tell(int id, void* param) { return !callback_ || callback_(id, param) != nullptr; }
  // The text names the system's reason too; errno carries its number.
  bool tell_error(int id, const std::string& text, int reason) {
    std::string line = reason ? text + ": " + std::strerror(reason) : text;
    errno = reason;
    return tell(id, const_cast<char*>(line.c_str()));
  }

  // The journal of the writing, before any file is written: each file entry's temporary.
  bool begin(const std::vector<kit_entry>& entries, const std::string& kit) {
    if (kit.size() > target_.size() + 1 && kit.compare(0, target_.size() + 1, target_ + "/") == 0 &&
        kit_name_safe(kit.substr(target_.size() + 1)) && kit.find('/', target_.size() + 1) == std::string::npos)
      journal_.kit = kit.substr(target_.size() + 1);
    for (const kit_entry& e : entries)
      if (e.kind == KIT_FILE) journal_.steps.push_back({'f', e.name});
    active_ = true;
    return journal_write(target_, journal_);
  }

  // Creates the folders of name inside the target; every existing part must be a real folder.
  // Each is in the journal before it is made.
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
      } else {
        journal_.dirs.push_back(name.substr(0, slash));
        if (!journal_write(target_, journal_) || mkdir(dir.c_str(), 0755) != 0) return false;
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
    if (!real_way(target_, e.name)) return errno == ENOENT && e.kind == KIT_DELETE;
    struct stat st {};
    if (lstat((target_ + "/" + e.name).c_str(), &st) != 0) return errno == ENOENT;
    if (S_ISDIR(st.st_mode)) {
      errno = EISDIR;
      return false;
    }
    return true;
  }

  // Moves every written file into place and carries out the deletions, once every one of
  // them is known to be possible, each replaced or deleted file set aside until the last is
  // in place: a kit stopped half-way would leave a mix of two builds. *failed is the entry
  // that could not be carried out, null when the journal could not be written.
  bool commit(const std::vector<kit_entry>& entries, const kit_entry** failed) {
    for (const kit_entry& e : entries)
      if (!can_commit(e)) {
        *failed = &e;
        return false;
      }
    std::vector<const kit_entry*> moved;
    journal_.steps.clear();
    for (const kit_entry& e : entries) {
      const std::string path = target_ + "/" + e.name;
      if (e.kind == KIT_DELETE && !exists(path)) continue;
      char kind = e.kind == KIT_DELETE ? 'x' : exists(path) ? 'F' : 'f';
      if (kind != 'f') unlink((path + kOldSuffix).c_str());  // not one this commit set aside
      journal_.steps.push_back({kind, e.name});
      moved.push_back(&e);
    }
    journal_.phase = Journal::PLACING;
    if (!journal_write(target_, journal_)) {
      *failed = nullptr;
      return false;
    }
    unsigned renames = 0;
    auto move = [&](const std::string& from, const std::string& to) {
      if (patch_rename_hook) patch_rename_hook(++renames);
      return rename(from.c_str(), to.c_str()) == 0;
    };
    for (size_t i = 0; i < moved.size(); ++i) {
      const Journal::Step& step = journal_.steps[i];
      const std::string path = target_ + "/" + step.name;
      if ((step.kind != 'f' && !move(path, path + kOldSuffix)) ||
          (step.kind != 'x' && !move(path + kTempSuffix, path))) {
        *failed = moved[i];
        return false;
      }
    }
    journal_.phase = Journal::PLACED;
    if (!journal_write(target_, journal_)) {
      journal_.phase = Journal::PLACING;
      *failed = nullptr;
      return false;
    }
    if (patch_rename_hook) patch_rename_hook(++renames);
    journal_settle(target_, journal_, false);
    active_ = false;
    return true;
  }

 private:
  std::string target_;
  patch_callback_fn callback_;
  Journal journal_;
  bool active_ = false;
};

// Ends what an interrupted commit left in the folder, which the caller has locked. False
// (why set) when its journal cannot be read: nothing is touched then.
bool recover(const std::string& target, std::string* why) {
  Journal j;
  int got = journal_read(target, &j);
  if (got < 0) *why = target + "/" KIT_JOURNAL_FILE " cannot be read as an install's record";
  if (got > 0) journal_settle(target, j, true);
  return got >= 0;
}

}  // namespace

__attribute__((visibility("default"))) void (*patch_rename_hook)(unsigned) = nullptr;

extern "C" __attribute__((visibility("default"))) int patch_recover(const char* folder) {
  if (!folder || !*folder) return PATCH_RECOVER_UNREADABLE;
  int lock = lock_folder(folder);
  if (lock < 0) return errno == EWOULDBLOCK ? PATCH_RECOVER_BUSY : PATCH_RECOVER_UNREADABLE;
  std::string why;
  bool ok = recover(folder, &why);
  close(lock);
  return ok ? 0 : PATCH_RECOVER_UNREADABLE;
}

extern "C" __attribute__((visibility("default"))) int patch_apply(const char* command,
                                                                  patch_callback_fn callback, int) {
  Command c;
  if (!parse_command(command, &c)) {
    Applier(std::string(), callback).tell_error(PATCH_ERROR, "The upgrade command cannot be read", EINVAL);
    return 1;
  }
  while (c.target.size() > 1 && c.target.back() == '/') c.target.pop_back();
  struct stat st {};
  if (stat(c.target.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    const int reason = errno ? errno : ENOTDIR;
    Applier(c.target, callback).tell_error(PATCH_ERROR, "The folder " + c.target + " cannot be found", reason);
    return 3;
  }
  // Held until the end, after the applier has put back what it began.
  struct Lock {
    int fd;
    ~Lock() {
      if (fd >= 0) close(fd);
    }
  } lock{lock_folder(c.target)};
  Applier apply(c.target, callback);
  if (lock.fd < 0) {
    apply.tell_error(PATCH_ERROR, "Another upgrade is being installed in " + c.target, errno);
    return 3;
  }
  if (!apply.tell(PATCH_SEARCHING, nullptr)) return 2;
  std::string why;
  if (!recover(c.target, &why)) {
    apply.tell_error(PATCH_ERROR, "The upgrade cannot be installed: " + why, 0);
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
  size_t body = 0;
  uint32_t build = 0;
  if (!kit_verify(bytes.data(), bytes.size(), key, &body, &build, &why)) {
    apply.tell_error(PATCH_ERROR, "The upgrade kit is refused: " + why, 0);
    return 4;
  }
  // A kit for this build or an older one would take the installation back: a server on the
  // way can send last year's kit, signed as it is.
  uint32_t installed = 0;
  if (!installed_build(c.target, &installed, &why)) {
    apply.tell_error(PATCH_ERROR, "The upgrade kit is refused: " + why + "; nothing was changed", 0);
    return 4;
  }
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
  for (const kit_entry& e : entries)
    if (reserved_name(e.name)) {
      apply.tell_error(PATCH_ERROR, "The upgrade kit is refused: it names " + e.name + ", which the folder keeps", 0);
      return 4;
    }
  // The build is recorded as one more file of the commit: in place with the rest or not at all.
  const std::string record = std::to_string(build) + "\n";
  entries.push_back(kit_entry{KIT_BUILD_FILE, KIT_FILE, 0644, std::vector<uint8_t>(record.begin(), record.end())});
  if (!apply.begin(entries, c.kit)) {
    apply.tell_error(PATCH_FILE_ERROR, "Cannot write " + c.target + "/" KIT_JOURNAL_FILE, errno);
    return 5;
  }
  for (const kit_entry& e : entries) {
    if (e.kind != KIT_FILE) continue;
    if (e.name != KIT_BUILD_FILE && !apply.tell(PATCH_FILE, const_cast<char*>(e.name.c_str()))) return 2;
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
    apply.tell_error(PATCH_FILE_ERROR,
                     !failed ? "Cannot write " + c.target + "/" KIT_JOURNAL_FILE
                             : (failed->kind == KIT_DELETE ? "Cannot delete " : "Cannot replace ") + failed->name,
                     reason);
    return 6;
  }
  return 0;
}
