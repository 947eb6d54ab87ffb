// Operating-system layer: positioned reads and writes on POSIX descriptors, share modes
// through flock (held per open file description, so closing another descriptor of the
// same file never drops them), and the status log.
// Files held exclusively are read through a shared read-only mapping: a read of bytes the
// file already holds is a copy, not a system call. Writes stay positioned writes, which the
// mapping sees at once. Nothing beyond the size this process has seen the file reach is
// ever touched through the mapping; such reads go to the file and report short reads.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <vector>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "keyfile/kf_internal.h"

namespace ol {

static void set_syserr() { olsys_err = static_cast<int16_t>(errno); }

namespace {
// Per descriptor: whether it may be mapped, the bytes known to be in the file, the mapping.
struct FdView {
  bool mappable = false;
  bool failed = false;  // mapping refused once: plain reads from then on
  int64_t known = 0;
  uint8_t* base = nullptr;
  size_t span = 0;
};
std::vector<FdView> views;

FdView* view_of(int fd) { return fd >= 0 && static_cast<size_t>(fd) < views.size() ? &views[fd] : nullptr; }

void view_unmap(FdView& v) {
  if (v.base) ::munmap(v.base, v.span);
  v.base = nullptr;
  v.span = 0;
}

void view_track(int fd, bool mappable) {
  if (fd < 0) return;
  if (static_cast<size_t>(fd) >= views.size()) views.resize(static_cast<size_t>(fd) + 1);
  FdView& v = views[fd];
  view_unmap(v);
  v = FdView{};
  v.mappable = mappable;
  struct stat st;
  if (fstat(fd, &st) == 0) v.known = st.st_size;
}

// The mapping reserves room past the file's end so that growth seldom needs a new one;
// those pages are never read until the file has reached them.
[[gnu::noinline]] const uint8_t* view_remap(FdView* v, int fd, int64_t pos);

inline const uint8_t* view_bytes(int fd, int64_t pos, int64_t len) {
  FdView* v = view_of(fd);
  if (!v || !v->mappable || v->failed || pos + len > v->known) return nullptr;
  if (static_cast<size_t>(pos + len) > v->span) return view_remap(v, fd, pos);
  return v->base + pos;
}

// A mapping large enough for the bytes the file is known to hold, and room to grow.
const uint8_t* view_remap(FdView* v, int fd, int64_t pos) {
  view_unmap(*v);
  size_t want = std::max<size_t>(static_cast<size_t>(v->known) * 2, size_t(64) << 20);
  want = std::min<size_t>(want, size_t(1) << 32);
  void* p = ::mmap(nullptr, want, PROT_READ, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) {
    v->failed = true;
    return nullptr;
  }
  v->base = static_cast<uint8_t*>(p);
  v->span = want;
  return v->base + pos;
}
}  // namespace

static uint64_t change_serial = 1;
uint64_t os_change_serial() { return change_serial; }
void os_note_change() { ++change_serial; }

// Exclusive opens deny everybody; shared and read-only opens may coexist with each other.
static bool take_lock(int fd, uint16_t mode) {
  int how = (mode & (OL_SHARED | OL_READONLY)) ? LOCK_SH : LOCK_EX;
  if (flock(fd, how | LOCK_NB) == 0) return true;
  set_syserr();
  return false;
}

int os_create(const char* name) {
  int fd = ::open(name, O_CREAT | O_EXCL | O_TRUNC | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    set_syserr();
    return -1;
  }
  if (!take_lock(fd, 0)) {
    ::close(fd);
    return -1;
  }
  view_track(fd, true);
  ++change_serial;
  if (cur) ++cur->open_handles;
  return fd;
}

int os_open(const char* name, uint16_t mode) {
  int flags = (mode & OL_READONLY) ? O_RDONLY : O_RDWR;
  int fd = ::open(name, flags | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    set_syserr();
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    olsys_err = EINVAL;
    ::close(fd);
    return -1;
  }
  if (!take_lock(fd, mode)) {
    ::close(fd);
    return -1;
  }
  // The person's files are theirs alone, also one an earlier build or a copy left readable
  // to others.
  if (flags == O_RDWR && st.st_uid == geteuid() && (st.st_mode & 077)) {
    const int saved = errno;
    (void)::fchmod(fd, st.st_mode & 0700);
    errno = saved;
  }
  // Only a file nobody else may open is mapped: no other writer can shorten it under us.
  view_track(fd, (mode & (OL_SHARED | OL_READONLY)) == 0);
  ++change_serial;
  if (cur) ++cur->open_handles;
  return fd;
}

void os_close(int fd) {
  if (fd < 0) return;
  if (FdView* v = view_of(fd)) {
    view_unmap(*v);
    *v = FdView{};
  }
  ::close(fd);
  ++change_serial;
  if (cur && cur->open_handles > 0) --cur->open_handles;
}

// A positioned transfer repeated until len bytes are done, the file ends or a call fails
// (its errno kept); step(at) moves the bytes from at on. The bytes done.
template <class Step>
static int32_t repeat_transfer(int32_t len, Step step) {
  int32_t done = 0;
  while (done < len) {
    const ssize_t n = step(done);
    if (n < 0) {
      if (errno == EINTR) continue;
      set_syserr();
      break;
    }
    if (n == 0) break;
    done += static_cast<int32_t>(n);
  }
  return done;
}

// A negative position or a closed descriptor: logged, 35.
static bool seek_refused(int fd, int64_t pos, const char* name) {
  if (pos >= 0 && fd >= 0) return false;
  status_log_fmt(-199, "SEEK_ERR... %s", name ? name : "");
  uerr_cod = 35;
  return true;
}

int32_t os_read(int fd, int32_t pos, void* buf, int32_t len, const char* name) {
  if (seek_refused(fd, pos, name)) return 0;
  int32_t done = 0;
  if (const uint8_t* src = len > 0 ? view_bytes(fd, pos, len) : nullptr) {
    std::memcpy(buf, src, static_cast<size_t>(len));
    done = len;
  } else {
    done = repeat_transfer(len, [&](int32_t at) {
      return ::pread(fd, static_cast<uint8_t*>(buf) + at, static_cast<size_t>(len - at), pos + at);
    });
  }
  if (cur) {
    ++cur->reads;
    cur->read_bytes += static_cast<uint64_t>(done);
  }
  if (done < len) uerr_cod = 36;
  return done;
}

int32_t os_write(int fd, int32_t pos, const void* buf, int32_t len, const char* name) {
  const OsPiece piece{buf, len};
  return os_write_pieces(fd, pos, &piece, 1, name);
}

int32_t os_write_pieces(int fd, int32_t pos, const OsPiece* pieces, int count, const char* name) {
  constexpr int kMaxPieces = 64;
  int64_t len = 0;
  bool negative = false;
  for (int i = 0; i < count; ++i) {
    negative |= pieces[i].len < 0;
    len += pieces[i].len;
  }
  if (negative || len > INT32_MAX || count > kMaxPieces) {
    status_log_fmt(-199, "Warning: write size request > 2GB %s", name ? name : "");
    uerr_cod = 37;
    return 0;
  }
  if (seek_refused(fd, pos, name)) return 0;
  ++change_serial;
  // One system call for the pieces, however they lie in memory; a short write goes on
  // from the first byte not written.
  iovec iov[kMaxPieces];
  int n_iov = 0;
  for (int i = 0; i < count; ++i)
    if (pieces[i].len > 0) iov[n_iov++] = {const_cast<void*>(pieces[i].data), static_cast<size_t>(pieces[i].len)};
  int first = 0;
  int32_t consumed = 0;
  const int32_t done = repeat_transfer(static_cast<int32_t>(len), [&](int32_t at) {
    // Past the bytes a short write took.
    for (size_t left = static_cast<size_t>(at - consumed); left > 0;) {
      if (left < iov[first].iov_len) {
        iov[first].iov_base = static_cast<uint8_t*>(iov[first].iov_base) + left;
        iov[first].iov_len -= left;
        break;
      }
      left -= iov[first++].iov_len;
    }
    consumed = at;
    return ::pwritev(fd, iov + first, n_iov - first, pos + at);
  });
  if (FdView* v = view_of(fd); v && pos + static_cast<int64_t>(done) > v->known) v->known = pos + static_cast<int64_t>(done);
  if (cur) {
    ++cur->writes;
    cur->write_bytes += static_cast<uint64_t>(done);
  }
  if (done < len) uerr_cod = 37;
  return done;
}

bool os_mapped(int fd, int32_t pos, int32_t len) {
  return pos >= 0 && len >= 0 && view_bytes(fd, pos, len) != nullptr;
}

constexpr int32_t kPrefetchMax = 16384;

void os_prefetch(int fd, int32_t pos, int32_t len) {
  const FdView* v = view_of(fd);
  if (!v || pos < 0 || len <= 0 || pos >= v->known) return;
  len = static_cast<int32_t>(std::min<int64_t>(len, v->known - pos));
  const uint8_t* src = view_bytes(fd, pos, len);
  if (!src) return;
  // Every line asked for at once: a record lies far from the last one read, and the
  // processor's own prefetching starts late in each page and stops at its end. Past the
  // first lines of a long run its copy keeps the stream going by itself, and asking for
  // more than the first-level cache holds would only push out lines not yet copied.
  len = std::min(len, kPrefetchMax);
  const uintptr_t first = reinterpret_cast<uintptr_t>(src) & ~uintptr_t(63);
  const uintptr_t end = reinterpret_cast<uintptr_t>(src) + static_cast<size_t>(len);
  uintptr_t line = first;
  // Four lines a turn: the loop's own steps would otherwise cost more than the requests.
  for (; line + 3 * 64 < end; line += 4 * 64) {
    __builtin_prefetch(reinterpret_cast<const void*>(line));
    __builtin_prefetch(reinterpret_cast<const void*>(line + 64));
    __builtin_prefetch(reinterpret_cast<const void*>(line + 128));
    __builtin_prefetch(reinterpret_cast<const void*>(line + 192));
  }
  for (; line < end; line += 64) __builtin_prefetch(reinterpret_cast<const void*>(line));
}

const uint8_t* os_peek(int fd, int32_t pos, int32_t len) {
  return pos >= 0 && len > 0 ? view_bytes(fd, pos, len) : nullptr;
}

const uint8_t* os_read_mapped(int fd, int32_t pos, int32_t len) {
  if (pos < 0 || len <= 0) return nullptr;
  const uint8_t* src = view_bytes(fd, pos, len);
  if (src && cur) {
    ++cur->reads;
    cur->read_bytes += static_cast<uint64_t>(len);
  }
  return src;
}

int16_t os_delete(const char* name) {
  if (::unlink(name) != 0) {
    set_syserr();
    return 55;
  }
  return 0;
}

int64_t os_size(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) {
    set_syserr();
    return -1;
  }
  return st.st_size;
}

void os_truncate(int fd, int64_t size) {
  const int saved = errno;
  ++change_serial;
  if (::ftruncate(fd, size) == 0) {
    // The mapping must never be read past the file's end again.
    if (FdView* v = view_of(fd); v && v->known > size) v->known = size;
  }
  errno = saved;
}

// One entry per call. A log that cannot be opened costs the entry, never the program.
static int16_t status_log_write(const char* message, int32_t code) {
  int tries = code == -199 ? 1 : 11;
  FILE* fp = nullptr;
  for (int i = 0; i < tries && !fp; ++i) {
    // Its lines name the person's files: theirs alone.
    int fd = ::open("OLSTATUS.OLS", O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    fp = fd >= 0 ? ::fdopen(fd, "a") : nullptr;
    if (fd >= 0 && !fp) ::close(fd);
    if (!fp && i + 1 < tries) {
      if (!free_one_handle(-1)) break;  // nothing left to give up
    }
  }
  if (!fp) {
    std::fprintf(stderr, "\nNorvane status log failure: %s (%d)\n", message, static_cast<int>(code));
    return code == -199 ? 0 : static_cast<int16_t>(code);
  }
  char when[64];
  std::time_t now = std::time(nullptr);
  char tbuf[64];
  if (!ctime_r(&now, tbuf)) tbuf[0] = 0;
  std::snprintf(when, sizeof when, "%s", tbuf);
  char msg[256];
  std::snprintf(msg, sizeof msg, "%s", message);
  std::fprintf(fp, "%s - User# %02d\t%s", when, 1, msg);
  if (code != 0 && code != -199) std::fprintf(fp, ": %d", static_cast<int>(code));
  std::fprintf(fp, "\n");
  std::fclose(fp);
  return code == -199 ? 0 : static_cast<int16_t>(code);
}

void status_log_fmt(int32_t code, const char* fmt, ...) {
  char msg[512];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(msg, sizeof msg, fmt, ap);
  va_end(ap);
  status_log_write(msg, code);
}

int16_t internal_error(int16_t number) {
  char msg[128];
  std::snprintf(msg, sizeof msg, "Unexpected internal Ostrel(R) error #%d (uerr_cod=%d)", number, uerr_cod);
  status_log_write(msg, -199);
  uerr_cod = number;
  return number;
}

}  // namespace ol

int16_t OlStatusLog(const char* message, int32_t code) { return ol::status_log_write(message ? message : "", code); }
