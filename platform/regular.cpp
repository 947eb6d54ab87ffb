#include "platform/regular.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

int kind_error(mode_t mode) {
  if (S_ISLNK(mode)) return ELOOP;
  if (S_ISDIR(mode)) return EISDIR;
  return EINVAL;
}

const char* kind_name(mode_t mode) {
  if (S_ISLNK(mode)) return "it is a link";
  if (S_ISDIR(mode)) return "it is a folder";
  if (S_ISFIFO(mode)) return "it is a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device";
  if (S_ISSOCK(mode)) return "it is a socket";
  return "it is not a regular file";
}

}  // namespace

bool platform_refused(int err) { return err == ELOOP || err == EISDIR || err == EINVAL || err == EFBIG; }

int platform_open_regular(const char* path, int flags, int64_t limit, std::string* why) {
  if (!path || !*path) {
    if (why) *why = std::strerror(ENOENT);
    errno = ENOENT;
    return -1;
  }
  int fd = ::open(path, (flags & ~O_TRUNC) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
  struct stat st {};
  int err = 0;
  std::string said;
  if (fd < 0) {
    err = errno;
    // A FIFO without a reader, a socket or a link answers with its own error: name what stands.
    struct stat there {};
    if (err != ENOENT && err != EACCES && ::lstat(path, &there) == 0 && !S_ISREG(there.st_mode)) {
      err = kind_error(there.st_mode);
      said = kind_name(there.st_mode);
    }
  } else if (::fstat(fd, &st) != 0) {
    err = errno;
  } else if (!S_ISREG(st.st_mode)) {
    err = kind_error(st.st_mode);
    said = kind_name(st.st_mode);
  } else if (limit >= 0 && st.st_size > limit) {
    err = EFBIG;
    said = "it is larger than " + std::to_string(limit) + " bytes";
  } else if ((flags & O_TRUNC) && ::ftruncate(fd, 0) != 0) {
    err = errno;
  } else {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
  }
  if (fd >= 0) ::close(fd);
  if (why) *why = said.empty() ? std::strerror(err) : said;
  errno = err;
  return -1;
}

bool platform_read_regular(const char* path, int64_t limit, std::string* data, std::string* why) {
  data->clear();
  int fd = platform_open_regular(path, O_RDONLY, limit, why);
  if (fd < 0) return false;
  // Read to the end, not to the size seen at open: a file growing meanwhile stays in its bound.
  char chunk[65536];
  int err = 0;
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) err = errno;
    if (n <= 0) break;
    if (limit >= 0 && static_cast<int64_t>(data->size()) + n > limit) {
      err = EFBIG;
      break;
    }
    data->append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  if (!err) return true;
  data->clear();
  if (why) *why = err == EFBIG ? "it is larger than " + std::to_string(limit) + " bytes" : std::strerror(err);
  errno = err;
  return false;
}
