#include "platform/host_instance.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>


namespace {

// The hand-off's folder in the program directory, when the shared one is another user's.
const char kPrivateFolder[] = ".hand-off";

// Real time, whatever clock the program's ticks come from: a hand-off must end.
uint32_t now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(ts.tv_sec * 1000u + ts.tv_nsec / 1000000);
}
inline bool before(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) < 0; }

// The socket's name: the program directory's hash (its real path when it has one, so that
// two spellings of one folder meet), "<16 hex digits>.sock".
std::string socket_name(const char* dir) {
  char real[PATH_MAX];
  const char* text = dir && *dir ? dir : ".";
  if (::realpath(text, real)) text = real;
  uint64_t h = 14695981039346656037ull;  // FNV-1a, 64 bits
  for (const char* p = text; *p; ++p) {
    h ^= static_cast<unsigned char>(*p);
    h *= 1099511628211ull;
  }
  char name[32];
  std::snprintf(name, sizeof name, "%016llx.sock", static_cast<unsigned long long>(h));
  return name;
}

// A folder of this user's alone: a real folder (not a link), owned by us and, unless it may
// be put right, closed to everyone else.
bool our_folder(const std::string& path, bool fix_mode) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    errno = EPERM;
    return false;
  }
  if ((st.st_mode & 077) == 0) return true;
  if (fix_mode && ::chmod(path.c_str(), 0700) == 0) return true;
  errno = EPERM;
  return false;
}

// Something another user (or anything but a folder of ours) holds the name: it is not used.
bool taken_by_another(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid());
}

// The socket's address, once its folder is found to be ours alone (made first when create).
// The folder stays open in *folder until the caller closes it, and the address reaches the
// socket through that descriptor: a folder or link put in place of the one checked meanwhile
// is never bound or connected to. *name is the socket's name inside the folder.
bool socket_address(const char* dir, sockaddr_un* addr, bool create, int* folder, std::string* name) {
  *folder = -1;
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  std::string path = host_instance_socket(dir);
  size_t slash = path.rfind('/');
  std::string folder_path = path.substr(0, slash);
  if (create && ::mkdir(folder_path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  if (!our_folder(folder_path, create)) return false;
  int fd = ::open(folder_path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st;
  if (fd < 0) return false;
  // The folder opened is the one found to be ours (not one put in its place meanwhile).
  if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
    ::close(fd);
    errno = EPERM;
    return false;
  }
  *name = path.substr(slash + 1);
  path = "/proc/self/fd/" + std::to_string(fd) + "/" + *name;
  if (path.size() >= sizeof addr->sun_path) {
    ::close(fd);
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  *folder = fd;
  return true;
}

void close_folder(int fd) {
  if (fd < 0) return;
  const int err = errno;
  ::close(fd);
  errno = err;
}

int open_lock_file(const char* dir, const char* name) {
  char path[4096];
  int n = std::snprintf(path, sizeof path, "%s/%s", dir ? dir : ".", name);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  // Never created through a link planted at its name.
  return ::open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
}

void sleep_ms(int ms) {
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  ::nanosleep(&ts, nullptr);
}

// Waits until fd is ready for events or the deadline passes.
bool wait_for(int fd, short events, uint32_t deadline) {
  for (;;) {
    int left = static_cast<int32_t>(deadline - now_ms());
    if (left < 0) left = 0;
    pollfd p{fd, events, 0};
    int r = ::poll(&p, 1, left);
    if (r > 0) return true;
    if (r == 0) return false;
    if (errno != EINTR) return false;
  }
}

bool send_all(int fd, const char* data, size_t length, uint32_t deadline) {
  while (length > 0) {
    ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
    if (n > 0) {
      data += n;
      length -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && wait_for(fd, POLLOUT, deadline))
      continue;
    return false;
  }
  return true;
}

}  // namespace

std::string host_instance_socket(const char* dir) {
  std::string name = socket_name(dir);
  // The session's runtime folder when it is a usable one of ours; else a folder of ours in
  // /tmp, whose sticky bit keeps others from replacing it once it is made.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/' &&
      std::strlen(runtime) + 8 + name.size() < sizeof(sockaddr_un::sun_path) && our_folder(runtime, false))
    return std::string(runtime) + "/tessel/" + name;
  std::string shared = "/tmp/tessel-" + std::to_string(::geteuid());
  if (!taken_by_another(shared)) return shared + "/" + name;
  // Another user made that folder first: a folder of ours in the program directory, which
  // every start of this program directory finds the same way.
  return std::string(dir && *dir ? dir : ".") + "/" + kPrivateFolder + "/" + name;
}

int host_instance_lock(const char* dir) { return host_lock_named(dir, "tessel.lock"); }

int host_lock_named(const char* dir, const char* file) {
  int fd = open_lock_file(dir, file);
  if (fd < 0) return -2;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    errno = err;
    return err == EWOULDBLOCK ? -1 : -2;
  }
  return fd;
}

void host_instance_unlock(int fd) {
  if (fd >= 0) ::close(fd);  // closing drops the lock
}

bool host_instance_running(const char* dir) { return host_lock_held(dir, "tessel.lock"); }

bool host_lock_held(const char* dir, const char* file) {
  int fd = host_lock_named(dir, file);
  if (fd == -1) return true;
  host_instance_unlock(fd);
  return false;
}

namespace {

bool send_to(const sockaddr_un& addr, const char* text, int timeout_ms) {
  uint32_t deadline = now_ms() + static_cast<uint32_t>(timeout_ms > 0 ? timeout_ms : 0);
  int fd = -1;
  // The running instance listens only late in its start-up: try again for a moment.
  for (;;) {
    fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) break;
    int err = errno;
    if (err == EINPROGRESS || err == EAGAIN) {
      if (wait_for(fd, POLLOUT, deadline)) {
        int so = 0;
        socklen_t len = sizeof so;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &so, &len) == 0 && so == 0) break;
        if (so) err = so;
      } else {
        err = ETIMEDOUT;
      }
    }
    ::close(fd);
    fd = -1;
    if (!before(now_ms(), deadline)) {
      errno = err;
      return false;
    }
    sleep_ms(20);
  }
  // The transfer buffer: the text and its terminator, padded to its full size.
  char buffer[HOST_INSTANCE_TEXT] = {};
  std::snprintf(buffer, sizeof buffer, "%s", text ? text : "");
  bool ok = send_all(fd, buffer, sizeof buffer, deadline);
  int err = ok ? ETIMEDOUT : (errno ? errno : ETIMEDOUT);
  if (ok) {
    ok = false;
    char ack = 0;
    while (wait_for(fd, POLLIN, deadline)) {
      ssize_t n = ::recv(fd, &ack, 1, 0);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      ok = n == 1 && ack == 1;
      if (!ok) err = n < 0 ? errno : ECONNRESET;  // hung up without taking it
      break;
    }
  }
  ::close(fd);
  if (!ok) errno = err;
  return ok;
}

}  // namespace

bool host_instance_send(const char* dir, const char* text, int timeout_ms) {
  // A text cut to the buffer would name another file: it is not sent.
  if (text && std::strlen(text) >= HOST_INSTANCE_TEXT) {
    errno = ENAMETOOLONG;
    return false;
  }
  sockaddr_un addr;
  int folder = -1;
  std::string name;
  if (!socket_address(dir, &addr, false, &folder, &name)) return false;
  bool ok = send_to(addr, text, timeout_ms);
  close_folder(folder);
  return ok;
}

int host_instance_listen(const char* dir) {
  sockaddr_un addr;
  int folder = -1;
  std::string name;
  if (!socket_address(dir, &addr, true, &folder, &name)) return -1;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  // Only the lock holder gets here, so a socket file left behind is stale.
  if (fd >= 0) ::unlinkat(folder, name.c_str(), 0);
  // Bound under the umask, then closed to others; the folder keeps them out meanwhile.
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::fchmodat(folder, name.c_str(), 0600, 0) != 0 || ::listen(fd, 8) != 0) {
    const int err = errno;
    if (fd >= 0) ::close(fd);
    close_folder(folder);
    errno = err;
    return -1;
  }
  close_folder(folder);
  return fd;
}

int host_instance_accept(int listen_fd, host_instance_peer* peer) {
  if (listen_fd < 0 || !peer) return 0;
  // Strangers are hung up on at once; a few per call, so that a crowd of them cannot hold
  // the caller (the socket stays readable and brings it back for the rest).
  for (int tries = 0; tries < 16; ++tries) {
    int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return 0;
    ucred cred{};
    socklen_t length = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 || length != sizeof cred ||
        cred.uid != ::geteuid()) {
      ::close(fd);
      continue;
    }
    peer->fd = fd;
    peer->since = now_ms();
    peer->got = 0;
    return 1;
  }
  return 0;
}

int host_instance_receive(host_instance_peer* peer, char* text, size_t size, int timeout_ms) {
  if (text && size) text[0] = 0;
  if (!peer || peer->fd < 0) return -1;
  while (peer->got < sizeof peer->buffer) {
    ssize_t n = ::recv(peer->fd, peer->buffer + peer->got, sizeof peer->buffer - peer->got, 0);
    if (n > 0) {
      peer->got += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // Nothing more yet: wait for it on a later call, within the peer's time.
      uint32_t deadline = peer->since + static_cast<uint32_t>(timeout_ms > 0 ? timeout_ms : 0);
      return before(now_ms(), deadline) ? 0 : -1;
    }
    return -1;  // a peer that ended before the whole buffer, or broke
  }
  peer->buffer[sizeof peer->buffer - 1] = 0;
  if (text && size) std::snprintf(text, size, "%s", peer->buffer);
  // One byte into a fresh local socket's empty buffer: never waits.
  char ack = 1;
  (void)::send(peer->fd, &ack, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
  return 1;
}

void host_instance_hang_up(host_instance_peer* peer) {
  if (!peer || peer->fd < 0) return;
  ::close(peer->fd);
  peer->fd = -1;
}

void host_instance_close(int listen_fd, const char* dir) {
  if (listen_fd < 0) return;
  ::close(listen_fd);
  sockaddr_un addr;
  int folder = -1;
  std::string name;
  if (socket_address(dir, &addr, false, &folder, &name)) ::unlinkat(folder, name.c_str(), 0);
  close_folder(folder);
}
