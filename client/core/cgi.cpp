#include "client/core/cgi.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/core/log.h"
#include "client/core/strutil.h"
#include "platform/host.h"
#include "platform/host_instance.h"
#include "platform/progdir.h"

namespace {
// How long the hand-off to the running instance may take. Generous: a second start says so
// when it gets no answer, and a running program busy on a loaded machine may answer late.
constexpr int kTimeoutMs = 5000;
// Hand-offs on their way in at once; one more pushes out the oldest.
constexpr int kPeers = 8;

int listen_fd = -1;
host_instance_peer peers[kPeers];
int peer_count = 0;
std::string listen_dir;
char* pending_teleport = nullptr;

void trace(const char* name) {
  if (trace_switches[TRACE_GENERAL]) log_write("%s", name);
}

void on_readable(int, void*) { cgi_poll(); }

bool starts_with_teleport(const char* line) {
  static const char word[] = "teleport";
  for (int i = 0; i < 8; ++i) {
    char c = line[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != word[i]) return false;
  }
  return true;
}
}  // namespace

bool cgi_send_command(const char* command_line, std::string* handed) {
  std::string text = command_line ? command_line : "";
  // The running instance has its own working directory: hand over a full path.
  if (!text.empty() && text[0] != '/') {
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd)) text = std::string(cwd) + "/" + text;
  }
  if (handed) *handed = text;
  // Longer than the transfer buffer it would arrive cut, naming another file: the send
  // refuses it (ENAMETOOLONG), and the running instance is not even brought to the front.
  return host_instance_send(platform_program_dir().c_str(), text.c_str(), kTimeoutMs);
}

int cgi_init(const char* command_line) {
  trace("cgi_init");
  if (command_line && *command_line) load_command(command_line);
  if (listen_fd < 0) {
    listen_dir = platform_program_dir();
    listen_fd = host_instance_listen(listen_dir.c_str());
    if (listen_fd >= 0)
      host()->watch_fd(listen_fd, on_readable, nullptr);
    else
      log_note("cgi: no hand-off to this program: %s: %s",
               host_instance_socket(listen_dir.c_str()).c_str(), std::strerror(errno));
  }
  return 0;
}

static void drop_peer(int i) {
  host()->watch_fd(peers[i].fd, nullptr, nullptr);
  host_instance_hang_up(&peers[i]);
  peers[i] = peers[--peer_count];
}

void cgi_poll() {
  if (listen_fd < 0) return;
  // The window thread never waits on a peer: each poll takes what has arrived, and a peer
  // whose text is not whole yet is kept for the next one (its socket wakes the loop).
  host_instance_peer fresh;
  for (int taken = 0; taken < kPeers && host_instance_accept(listen_fd, &fresh) == 1; ++taken) {
    if (peer_count == kPeers) {
      int oldest = 0;
      for (int i = 1; i < peer_count; ++i)
        if (static_cast<int32_t>(peers[i].since - peers[oldest].since) < 0) oldest = i;
      drop_peer(oldest);
    }
    peers[peer_count++] = fresh;
    host()->watch_fd(fresh.fd, on_readable, nullptr);
  }
  for (int i = 0; i < peer_count;) {
    char text[HOST_INSTANCE_TEXT];
    int got = host_instance_receive(&peers[i], text, sizeof text, kTimeoutMs);
    if (got == 0) {
      ++i;
      continue;
    }
    drop_peer(i);
    if (got != 1) continue;
    host()->window_raise();
    if (text[0]) load_command(text);
  }
}

void cgi_term() {
  trace("cgi_term");
  if (listen_fd < 0) return;
  host()->watch_fd(listen_fd, nullptr, nullptr);
  while (peer_count) drop_peer(peer_count - 1);
  host_instance_close(listen_fd, listen_dir.c_str());
  listen_fd = -1;
}

void load_command(const char* text) {
  if (trace_switches[TRACE_GENERAL]) log_write("cgi: load_command");
  if (!text || !*text) return;
  // Only a regular file is read: opened without waiting (a FIFO's writer could hold the window
  // thread for as long as it liked) and no further than its first line can reach.
  int fd = ::open(text, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    log_note("cgi: %s is not a regular file; not read", text);
    ::close(fd);
    return;
  }
  char line[256];
  size_t got = 0;
  while (got < sizeof line - 1) {
    ssize_t n = ::read(fd, line + got, sizeof line - 1 - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  line[got] = 0;
  if (got > 0) {
    line[std::strcspn(line, "\r\n")] = 0;  // the line end is not part of the line
    if (starts_with_teleport(line)) {
      char* comma = std::strchr(line, ',');
      if (comma) *comma = 0;
      char* copy = string_copy(line);
      if (copy) {
        std::free(pending_teleport);
        pending_teleport = copy;
        if (trace_switches[TRACE_GENERAL]) log_write("cgi: teleport %s", pending_teleport);
      }
    }
  }
}

const char* cgi_get_teleport() { return pending_teleport; }

void cgi_clear_teleport() {
  std::free(pending_teleport);
  pending_teleport = nullptr;
}
