#include "client/net/tcp.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "client/net/netcodes.h"
#include "platform/clock.h"

namespace {
constexpr int kReadChunk = 4096;
bool would_block(int e) { return e == EAGAIN || e == EWOULDBLOCK; }
}  // namespace

int tcp_create(uint32_t address, uint16_t port, tcp** owner) {
  if (owner) *owner = nullptr;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return NET_SOCKET_FAILED;
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
    ::close(fd);
    return NET_NONBLOCK_FAILED;
  }
  auto* c = new (std::nothrow) tcp;
  if (!c) {
    ::close(fd);
    return NET_NO_MEMORY;
  }
  c->socket = fd;
  c->address.sin_family = AF_INET;
  c->address.sin_port = port;
  c->address.sin_addr.s_addr = address;
  int r;
  do {
    r = ::connect(fd, reinterpret_cast<sockaddr*>(&c->address), sizeof c->address);
  } while (r < 0 && errno == EINTR);
  if (r < 0 && errno != EINPROGRESS) {
    ::close(fd);
    delete c;
    return NET_CONNECT_FAILED;
  }
  c->last_activity = platform_ticks();
  if (owner) *owner = c;
  return 0;
}

int tcp_destroy(tcp* connection) {
  if (!connection) return 0;
  int r = ::close(connection->socket) < 0 ? errno : 0;
  delete connection;
  return r;
}

int tcp_receive(tcp* c, void* destination, int size, int* count) {
  *count = 0;
  if (!c) return NET_NO_STREAM;
  if (size <= 0) return 0;  // a zero-byte recv would look like a close
  int want = size < kReadChunk ? size : kReadChunk;
  ssize_t n;
  do {
    n = ::recv(c->socket, destination, static_cast<size_t>(want), 0);
  } while (n < 0 && errno == EINTR);
  uint32_t now = platform_ticks();
  if (n == 0) return NET_CLOSED;
  if (n > 0) {
    *count = static_cast<int>(n);
    c->last_activity = now;
    net_count_bytes(static_cast<int>(n));
    return 0;
  }
  int e = errno;
  if (would_block(e) || e == ENOTCONN) {
    if (!c->no_idle_timeout && tick_diff(c->last_activity, now) > static_cast<int32_t>(TCP_RECEIVE_IDLE_LIMIT))
      return NET_TIMEOUT;
    return 0;
  }
  return e;
}

bool tcp_writable(tcp* c) {
  if (!c) return false;
  if (c->writable_seen) return true;
  if (c->connect_error) return false;
  pollfd p{c->socket, POLLOUT, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(c->socket, SOL_SOCKET, SO_ERROR, &err, &len) < 0) err = errno;
  if (err) {
    c->connect_error = err;
    return false;
  }
  if (!(p.revents & POLLOUT)) return false;
  c->writable_seen = true;
  return true;
}

int tcp_send(tcp* c, const void* data, int length, int* sent) {
  if (sent) *sent = 0;
  if (!c) return NET_NO_STREAM;
  uint32_t now = platform_ticks();
  if (!tcp_writable(c)) {
    if (c->connect_error) return c->connect_error;
    if (tick_diff(c->last_activity, now) > static_cast<int32_t>(TCP_SEND_IDLE_LIMIT)) return NET_TIMEOUT;
    return NET_NOT_YET;
  }
  if (length <= 0) return 0;
  ssize_t n;
  do {
    n = ::send(c->socket, data, static_cast<size_t>(length), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return would_block(errno) ? NET_NOT_YET : errno;
  c->last_activity = now;
  net_count_bytes(static_cast<int>(n));
  if (sent) *sent = static_cast<int>(n);
  return n == length ? 0 : NET_SHORT_SEND;
}

void tcp_disable_timeout(tcp* c) {
  if (c) c->no_idle_timeout = true;
}
void tcp_enable_timeout(tcp* c) {
  if (c) c->no_idle_timeout = false;
}
