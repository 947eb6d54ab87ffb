#include "client/core/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "client/core/dates.h"
#include "client/core/hash.h"
#include "client/core/log.h"
#include "platform/regular.h"

namespace {
hash_table* exists_cache = nullptr;
char* basename_buffer = nullptr;
size_t basename_size = 0;
char path_buffer[1024];

std::string native(const char* path) {
  std::string p = path ? path : "";
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

char* name_from_url(const char* text, char slash) {
  if (!text) return nullptr;
  size_t len = std::strlen(text);
  char* out = static_cast<char*>(std::malloc(len + 1));
  if (!out) return nullptr;
  for (size_t i = 0; i <= len; ++i) {
    char c = text[i];
    if (c == '/' && slash) c = slash;
    else if (c && std::strchr("\"*/:;<>?\\|", c)) c = '-';
    else c = lower(c);
    out[i] = c;
  }
  return out;
}
}  // namespace

struct file_search {
  DIR* dir;
  std::string mask;
  std::string name;
};

const char* file_path(const char* path) {
  std::snprintf(path_buffer, sizeof path_buffer, "%s", native(path).c_str());
  return path_buffer;
}

bool file_exists(const char* path) {
  if (!path) return false;
  if (trace_switches[TRACE_DISK]) log_write("file_exists (%s)", path);
  size_t len = std::strlen(path);
  if (!exists_cache) exists_cache = hash_create(503);
  if (exists_cache && hash_find(exists_cache, len, path)) return true;
  struct stat st;
  if (stat(native(path).c_str(), &st) != 0) return false;
  int found;
  if (exists_cache) hash_find_or_add(exists_cache, len, path, 0, &found);
  return true;
}

int file_delete(const char* path) {
  if (!path) return 1;
  if (trace_switches[TRACE_DISK]) log_write("file_delete (%s)", path);
  if (unlink(native(path).c_str()) != 0) return 1;
  if (exists_cache) hash_remove(exists_cache, std::strlen(path), path);
  return 0;
}

bool file_is_directory(const char* path) {
  if (!path) return false;
  if (trace_switches[TRACE_DISK]) log_write("file_is_directory (%s)", path);
  struct stat st;
  return stat(native(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int file_store(const char* path, const void* buffer, size_t length) {
  if (!path) return 410;
  if (trace_switches[TRACE_DISK]) log_write("file_store (%s)", path);
  std::string temp;
  FILE* f = file_create_fresh(path, &temp);
  if (!f) return 410;
  bool wrote = !length || std::fwrite(buffer, 1, length, f) == length;
  if (!wrote) {
    file_discard_fresh(f, temp);
    return 411;
  }
  if (!file_commit_fresh(f, temp, path)) {
    if (exists_cache && access(native(path).c_str(), F_OK) != 0)
      hash_remove(exists_cache, std::strlen(path), path);
    return 411;
  }
  return 0;
}

FILE* file_create_fresh(const char* path, std::string* temp) {
  if (!path || !temp) {
    errno = EINVAL;
    return nullptr;
  }
  std::string p = native(path);
  size_t slash = p.rfind('/');
  std::string dir = slash == std::string::npos ? "" : p.substr(0, slash + 1);
  // The temporary's name is short and of our own, so a long member name cannot push it past
  // the system's name limit, and a sweep can tell it from the cache's files.
  static unsigned serial = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    char name[64];
    std::snprintf(name, sizeof name, ".~fresh-%ld-%u-%08lx", static_cast<long>(getpid()), ++serial,
                  static_cast<unsigned long>(now.tv_nsec));
    std::string t = dir + name;
    int fd = ::open(t.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    FILE* f = ::fdopen(fd, "wb");
    if (!f) {
      int e = errno;
      ::close(fd);
      ::unlink(t.c_str());
      errno = e;
      return nullptr;
    }
    *temp = t;
    return f;
  }
  errno = EEXIST;
  return nullptr;
}

bool file_commit_fresh(FILE* f, const std::string& temp, const char* path) {
  if (!f) return false;
  bool ok = std::fflush(f) == 0 && !std::ferror(f);
  int e = errno;
  const long written = ok ? std::ftell(f) : -1;
  if (std::fclose(f) != 0 && ok) {
    ok = false;
    e = errno;
  }
  if (ok && path && ::rename(temp.c_str(), native(path).c_str()) == 0) {
    // Whatever arrives is counted as it is stored, so the disk limits hold between their runs.
    if (file_hook.stored && written > 0) file_hook.stored(written);
    return true;
  }
  if (ok) e = path ? errno : EINVAL;
  ::unlink(temp.c_str());
  errno = e;
  return false;
}

void file_discard_fresh(FILE* f, const std::string& temp) {
  int e = errno;
  if (f) std::fclose(f);
  if (!temp.empty()) ::unlink(temp.c_str());
  errno = e;
}

int file_make_dir(const char* path) {
  if (!path || !*path) return ENOENT;
  std::string p = native(path);
  // 0700 is narrower than any umask can make it; a folder that exists is left as it is (it may
  // be one of the person's own above the cache, such as their home).
  if (::mkdir(p.c_str(), 0700) == 0) return 0;
  if (errno != EEXIST) return errno;
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

bool file_is_regular(const char* path) {
  struct stat st;
  return path && ::stat(native(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int file_open_regular(const char* path, std::string* why, int64_t limit) {
  return platform_open_regular(path ? native(path).c_str() : nullptr, O_RDONLY, limit, why);
}

bool file_refused(int err) { return platform_refused(err); }

FILE* file_fopen_regular(const char* path, std::string* why, int64_t limit) {
  int fd = file_open_regular(path, why, limit);
  FILE* f = fd >= 0 ? ::fdopen(fd, "rb") : nullptr;
  if (fd >= 0 && !f) {
    int e = errno;
    if (why) *why = std::strerror(e);
    ::close(fd);
    errno = e;
  }
  return f;
}

int file_read(const char* path, uint8_t** buffer, size_t* size) {
  if (buffer) *buffer = nullptr;
  if (size) *size = 0;
  if (!path || !buffer || !size) return 410;
  if (trace_switches[TRACE_DISK]) log_write("file_read (%s)", path);
  int fd = file_open_regular(path);
  if (fd < 0) return file_refused(errno) ? 400 : 410;
  FILE* f = ::fdopen(fd, "rb");
  if (!f) {
    ::close(fd);
    return 400;
  }
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || st.st_size < 0) {
    std::fclose(f);
    return 400;
  }
  size_t n = static_cast<size_t>(st.st_size);
  uint8_t* data = static_cast<uint8_t*>(std::malloc(n + 1));
  if (!data) {
    std::fclose(f);
    return 400;
  }
  size_t got = n ? std::fread(data, 1, n, f) : 0;
  std::fclose(f);
  if (got != n) {
    std::free(data);
    return 400;
  }
  data[n] = 0;
  *buffer = data;
  *size = n;
  return 0;
}

char* file_name_from_url(const char* text) { return name_from_url(text, 0); }

char* file_name_from_url_keep_dirs(const char* text) { return name_from_url(text, '\\'); }

const char* file_basename(const char* name) {
  if (!name) name = "";
  const char* dot = std::strchr(name, '.');
  size_t n = dot ? static_cast<size_t>(dot - name) : std::strlen(name);
  if (n + 1 > basename_size) {
    char* grown = static_cast<char*>(std::realloc(basename_buffer, n + 1));
    if (!grown) return "";
    basename_buffer = grown;
    basename_size = n + 1;
  }
  std::memcpy(basename_buffer, name, n);
  basename_buffer[n] = 0;
  return basename_buffer;
}

file_hooks file_hook = {};

void file_touch(const char* path) {
  if (!path) return;
  if (trace_switches[TRACE_DISK]) log_write("file_touch (%s)", path);
  const std::string p = native(path);
  utimensat(AT_FDCWD, p.c_str(), nullptr, 0);
  if (file_hook.touched) file_hook.touched(p.c_str());
}

const char* file_date(const char* path) {
  if (path && trace_switches[TRACE_DISK]) log_write("file_date (%s)", path);
  struct stat st;
  if (!path || stat(native(path).c_str(), &st) != 0) {
    static char empty[1];
    empty[0] = 0;
    return empty;
  }
  return date_http(static_cast<int64_t>(st.st_mtime));
}

const char* file_find_next(file_search* s) {
  if (!s) return nullptr;
  while (dirent* d = readdir(s->dir)) {
    if (!std::strcmp(d->d_name, ".") || !std::strcmp(d->d_name, "..")) continue;
    if (fnmatch(s->mask.c_str(), d->d_name, FNM_NOESCAPE | FNM_CASEFOLD) == 0) {
      s->name = d->d_name;
      return s->name.c_str();
    }
  }
  file_find_close(s);
  return nullptr;
}

const char* file_find_first(const char* pattern, file_search** handle) {
  if (handle) *handle = nullptr;
  if (!pattern || !handle) return nullptr;
  if (trace_switches[TRACE_DISK]) log_write("file_find_first (%s)", pattern);
  std::string p = native(pattern);
  size_t slash = p.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : p.substr(0, slash));
  std::string mask = slash == std::string::npos ? p : p.substr(slash + 1);
  if (mask == "*.*") mask = "*";  // every name, with or without a dot
  DIR* d = opendir(dir.c_str());
  if (!d) return nullptr;
  file_search* s = new file_search{d, mask, {}};
  const char* first = file_find_next(s);
  if (first) *handle = s;
  return first;
}

void file_find_close(file_search* s) {
  if (!s) return;
  closedir(s->dir);
  delete s;
}

void file_term() {
  hash_destroy(exists_cache);
  exists_cache = nullptr;
  std::free(basename_buffer);
  basename_buffer = nullptr;
  basename_size = 0;
}

int file_open_private_fd(const char* path, bool append, std::string* why) {
  int fd = platform_open_regular(path ? native(path).c_str() : nullptr,
                                 O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC), -1, why);
  // A file of ours written afresh or added to is ours alone whatever it was.
  struct stat st {};
  if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0) ::fchmod(fd, 0600);
  return fd;
}

FILE* file_open_private(const char* path, const char* mode, std::string* why) {
  if (!path || !mode) {
    errno = EINVAL;
    return nullptr;
  }
  int fd = file_open_private_fd(path, mode[0] == 'a', why);
  if (fd < 0) return nullptr;
  FILE* f = ::fdopen(fd, mode);
  if (!f) {
    int e = errno;
    if (why) *why = std::strerror(e);
    ::close(fd);
    errno = e;
  }
  return f;
}
