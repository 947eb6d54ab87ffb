#include "client/cache/disk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "client/cache/download.h"
#include "client/core/files.h"
#include "client/core/log.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/servers/world.h"
#include "platform/clock.h"
#include "platform/progdir.h"

namespace {

enum { PHASE_WAIT = 0, PHASE_WALK = 1, PHASE_SIZE = 2, PHASE_DONE = 3 };
constexpr uint32_t kSlice = 50;
constexpr uint32_t kFirstRun = 30000;
constexpr uint32_t kInterval = 900000;
constexpr size_t kMaxDepth = 64;
// Files used this session that the runs hold: a world's models, sounds, sequences and lists
// stay far below this.
constexpr size_t kMaxUsed = 4096;

struct Folder {
  DIR* dir;
  std::string path;  // native, '/' separated
  std::string name;  // name inside the parent folder
  bool empty;
};

struct KeptFile {
  time_t mtime;
  long mtime_ns;
  int64_t size;
  std::string path;
};

struct State {
  int phase = PHASE_WAIT;
  uint32_t next_run = 0;
  int limit = 100;  // megabytes, 0 none
  int days = 0;     // 0 never
  int64_t total = 0;
  int32_t count = 0;
  std::vector<Folder> stack;
  std::vector<KeptFile> files;
  size_t position = 0;
  std::string root;       // "<program>/cache"
  std::string real_root;  // root with links resolved, for the inside-the-cache check
  int64_t added = 0;      // bytes stored since the last run began
  bool measured = false;  // a run has found the total since start-up
  std::set<std::string> used;
  bool used_full = false;  // told once that no more are held
};

State s;

bool tracing() { return trace_switches[TRACE_GENERAL] != 0; }
bool tracing_disk() { return trace_switches[TRACE_DISK] != 0; }

int clamp_limit(int v) {
  if (v == 0) return 0;
  if (v < 20) return 20;
  if (v >= 1000) return 999;
  return v;
}

int clamp_days(int v) {
  if (v == 0) return 0;
  if (v <= 0) return 1;
  if (v > 180) return 180;
  return v;
}


std::string slashes(const char* path) {
  std::string p = path ? path : "";
  for (char& c : p)
    if (c == '\\') c = '/';
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

// A folder the program is using right now is kept even when empty.
bool protected_folder(const std::string& path) {
  std::string object = slashes(download_get_path());
  if (!object.empty() && path.find(object) != std::string::npos) return true;
  std::string property = slashes(world_property_path());
  if (!property.empty() && path.find(property) != std::string::npos) return true;
  return false;
}

// True when every folder between the cache root and the path's last part is a real folder:
// a path whose parent resolves anywhere else went through a link.
bool inside_cache(const std::string& path) {
  if (s.real_root.empty()) return false;
  size_t slash = path.rfind('/');
  if (slash == std::string::npos || path.compare(0, s.root.size(), s.root) != 0) return false;
  std::string parent = path.substr(0, slash);
  char resolved[PATH_MAX];
  if (!realpath(parent.c_str(), resolved)) return false;
  std::string expected = s.real_root + parent.substr(s.root.size());
  return expected == resolved;
}

// True when the program holds the file open (a database of the current world, say): removing
// it would not free its space, and whatever is written to it afterwards would be lost.
bool open_here(const struct stat& file) {
  DIR* fds = opendir("/proc/self/fd");
  if (!fds) return false;
  bool found = false;
  while (dirent* e = readdir(fds)) {
    struct stat st;
    if (e->d_name[0] == '.' || fstatat(dirfd(fds), e->d_name, &st, 0) != 0) continue;
    if (st.st_dev == file.st_dev && st.st_ino == file.st_ino) {
      found = true;
      break;
    }
  }
  closedir(fds);
  return found;
}

// Deletes a regular file of the cache; links, anything outside the cache and files in use
// stay.
bool delete_file(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (!inside_cache(path) || open_here(st)) return false;
  return file_delete(path.c_str()) == 0;
}

void free_list() {
  for (Folder& f : s.stack)
    if (f.dir) closedir(f.dir);
  s.stack.clear();
  s.files.clear();
  s.files.shrink_to_fit();
  s.position = 0;
}

DIR* open_folder(int parent_fd, const char* name) {
  int fd = parent_fd >= 0 ? openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                          : open(name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  DIR* d = fdopendir(fd);
  if (!d) close(fd);
  return d;
}

// Files in use get the time of now before the walk sees them: the flood that came after they
// were read is older than they are.
void renew_used() {
  for (const std::string& path : s.used) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !inside_cache(path)) continue;
    utimensat(AT_FDCWD, path.c_str(), nullptr, AT_SYMLINK_NOFOLLOW);
  }
}

// True when the bytes stored since the last run may have taken the tree to its limit. A tree
// that the last run could not bring below the limit (files in use or that cannot go), or one
// not measured yet, runs again only once another eighth of the limit has come.
bool past_limit() {
  if (s.limit == 0 || s.added <= 0) return false;
  const int64_t limit = static_cast<int64_t>(s.limit) * 1048576;
  const int64_t total = s.measured ? s.total : limit;
  if (total + s.added < limit) return false;
  return total < limit || s.added >= limit / 8;
}

void start_run() {
  if (tracing_disk()) log_write("disk: start");
  free_list();
  s.total = 0;
  s.count = 0;
  s.added = 0;
  s.root = platform_program_dir() + "/cache";
  char resolved[PATH_MAX];
  s.real_root = realpath(s.root.c_str(), resolved) ? resolved : "";
  renew_used();
  // A cache folder that cannot be searched counts as empty.
  s.stack.push_back(Folder{open_folder(-1, s.root.c_str()), s.root, "", true});
  s.phase = PHASE_WALK;
}

void walk_step() {
  Folder& top = s.stack.back();
  dirent* e = top.dir ? readdir(top.dir) : nullptr;
  if (!e) {
    if (top.dir) closedir(top.dir);
    top.dir = nullptr;
    Folder done = top;
    s.stack.pop_back();
    if (!s.stack.empty() && done.empty && !protected_folder(done.path) && inside_cache(done.path)) {
      if (tracing_disk()) log_write("disk: remove folder %s", done.path.c_str());
      rmdir(done.path.c_str());
    }
    if (s.stack.empty()) {
      std::stable_sort(s.files.begin(), s.files.end(), [](const KeptFile& a, const KeptFile& b) {
        return a.mtime != b.mtime ? a.mtime < b.mtime : a.mtime_ns < b.mtime_ns;
      });
      s.position = 0;
      s.phase = PHASE_SIZE;
    }
    return;
  }
  const char* name = e->d_name;
  if (!std::strcmp(name, ".") || !std::strcmp(name, "..")) return;
  top.empty = false;
  struct stat st;
  if (fstatat(dirfd(top.dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  std::string path = top.path + "/" + name;
  if (S_ISDIR(st.st_mode)) {
    // Each open folder holds a descriptor: deeper trees are left as they are.
    if (s.stack.size() >= kMaxDepth) return;
    DIR* d = open_folder(dirfd(top.dir), name);
    s.stack.push_back(Folder{d, path, name, true});
    return;
  }
  // Links, devices and the like are no cache files: neither counted nor deleted.
  if (!S_ISREG(st.st_mode)) return;
  if (s.days > 0) {
    time_t now = time(nullptr);
    int64_t age_days = (static_cast<int64_t>(now) - static_cast<int64_t>(st.st_mtime)) / 86400;
    if (age_days >= s.days) {
      if (tracing_disk()) log_write("disk: expired %s", path.c_str());
      // One that cannot go still takes its room and is counted.
      if (delete_file(path)) return;
    }
  }
  s.total += st.st_size;
  ++s.count;
  s.files.push_back(KeptFile{st.st_mtime, st.st_mtim.tv_nsec, static_cast<int64_t>(st.st_size), path});
}

void finish() {
  free_list();
  s.phase = PHASE_DONE;
  s.measured = true;
}

void size_step() {
  if (s.limit == 0) {
    finish();
    return;
  }
  int64_t limit = static_cast<int64_t>(s.limit) * 1048576;
  if (s.total < limit || s.position >= s.files.size()) {
    finish();
    return;
  }
  const KeptFile& f = s.files[s.position++];
  struct stat st;
  // A file used since the walk saw it (its time renewed) stays.
  if (lstat(f.path.c_str(), &st) != 0 || st.st_mtime != f.mtime || st.st_mtim.tv_nsec != f.mtime_ns)
    return;
  if (tracing_disk()) log_write("disk: delete %s", f.path.c_str());
  if (delete_file(f.path)) s.total -= f.size;
}

}  // namespace

int disk_init() {
  if (tracing()) log_write("disk_init");
  // Brought into range (and logged) by the settings table.
  s.limit = settings_int("disk", "limit");
  s.days = settings_int("disk", "delete");
  free_list();
  s.phase = PHASE_WAIT;
  s.next_run = platform_ticks() + kFirstRun;
  s.added = 0;
  s.measured = false;
  file_hook.touched = disk_used;
  file_hook.stored = disk_stored;
  return 0;
}

void disk_term() {
  free_list();
  s.phase = PHASE_WAIT;
}

void disk_update() {
  if (trace_frames()) log_write("disk_update");
  uint32_t start = platform_ticks();
  if (s.phase == PHASE_WAIT && tick_before(start, s.next_run) && !past_limit()) return;
  while (s.phase != PHASE_DONE && platform_ticks() - start < kSlice) {
    switch (s.phase) {
      case PHASE_WAIT:
        start_run();
        break;
      case PHASE_WALK:
        walk_step();
        break;
      case PHASE_SIZE:
        size_step();
        break;
    }
  }
  if (s.phase == PHASE_DONE) {
    s.phase = PHASE_WAIT;
    s.next_run = start + kInterval;
  }
}

void disk_stored(int64_t bytes) {
  if (bytes > 0) s.added += bytes;
}

void disk_used(const char* path) {
  if (!path || !path[0]) return;
  std::string p = slashes(path);
  if (s.used.count(p)) return;
  if (s.used.size() >= kMaxUsed) {
    if (!s.used_full)
      log_note("disk: more than %zu files in use; %s and later ones are not held", kMaxUsed, p.c_str());
    s.used_full = true;
    return;
  }
  s.used.insert(std::move(p));
}

void disk_forget_used() {
  s.used.clear();
  s.used_full = false;
}

int disk_limit() { return s.limit; }
int disk_delete_days() { return s.days; }

void disk_apply(int limit_mb, int days) {
  limit_mb = clamp_limit(limit_mb);
  days = clamp_days(days);
  bool due = s.limit == 0 || limit_mb < s.limit || s.days == 0 || days < s.days;
  s.limit = limit_mb;
  s.days = days;
  if (due) s.next_run = platform_ticks();
  profile_set_int("disk", "limit", limit_mb);
  profile_set_int("disk", "delete", days);
}

int64_t disk_total() { return s.total; }
bool disk_running() { return s.phase != PHASE_WAIT; }
int disk_phase() { return s.phase; }
