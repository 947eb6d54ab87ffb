#pragma once
// One running program per program directory, and the hand-off of a second start's command
// file to it. An flock on "tessel.lock" stands for the main window's class being registered;
// a Unix domain socket carries the hand-off. The socket lives in a folder only this user can
// enter ($XDG_RUNTIME_DIR/tessel, else /tmp/tessel-<uid>, else, when another user holds that
// name, ".hand-off" in the program directory), is 0600 and is named by a hash of the program
// directory; an address longer than a socket's is reached through the folder's descriptor.
// The listener also closes, unread, any peer whose uid is not its own.
#include <cstddef>
#include <cstdint>
#include <string>

enum : int { HOST_INSTANCE_TEXT = 256 };  // the hand-off's transfer buffer

// Takes the lock in dir. Returns its descriptor (>= 0), -1 when another process holds it,
// -2 when the lock cannot be taken for another reason (errno tells why): the lock file
// cannot be opened or locked, and then no instance can be found either.
int host_instance_lock(const char* dir);
void host_instance_unlock(int fd);
// True while some process holds the lock in dir (the upgrade program waits on this).
bool host_instance_running(const char* dir);
// The same for any lock file in dir: "upgrade.lock" stands for the upgrade program's window.
int host_lock_named(const char* dir, const char* file);
bool host_lock_held(const char* dir, const char* file);

// The hand-off socket's path for dir. It is used only while its folder is this user's alone
// (not another's, not a link, closed to others); the listener makes the folder 0700.
std::string host_instance_socket(const char* dir);

// Second start: connects to the running instance (trying for up to timeout_ms while it is
// not yet listening), sends text (empty only brings it to the front) and waits up to
// timeout_ms for its acknowledgement. False when nothing was delivered; errno then tells why
// (ENOENT: nobody listens; ETIMEDOUT or ECONNRESET: no acknowledgement; ENAMETOOLONG: a text
// of HOST_INSTANCE_TEXT bytes or more, which is never sent cut).
bool host_instance_send(const char* dir, const char* text, int timeout_ms);

// First start: the listening socket (non-blocking), or -1 (errno set). A stale socket file is
// replaced.
int host_instance_listen(const char* dir);
// A hand-off on its way in: the connection and as much of the transfer buffer as arrived.
struct host_instance_peer {
  int fd;
  uint32_t since;  // when it was taken (monotonic ms): a peer quiet for too long is dropped
  size_t got;
  char buffer[HOST_INSTANCE_TEXT];
};
// Takes one pending connection from the listening socket without waiting: 1 with peer
// filled in (its descriptor non-blocking), 0 when none was pending. Connections of another
// uid are closed unread on the way.
int host_instance_accept(int listen_fd, host_instance_peer* peer);
// Reads what has arrived on peer without waiting. 1: the buffer is whole, its text copied
// (terminated, at most size - 1 bytes) and acknowledged; 0: more is to come, keep the peer;
// -1: the peer ended early, broke, or sent nothing more for timeout_ms since it was taken.
// After 1 or -1 the peer is done with: hang it up.
int host_instance_receive(host_instance_peer* peer, char* text, size_t size, int timeout_ms);
void host_instance_hang_up(host_instance_peer* peer);
// Closes the listening socket and removes the socket file.
void host_instance_close(int listen_fd, const char* dir);
