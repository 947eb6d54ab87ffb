#pragma once
// One running program per program directory, and the hand-off of a second start's command
// file to it. An flock on "tessel.lock" stands for the main window's class being registered;
// the Unix domain socket "tessel.sock" beside it carries the hand-off.
#include <cstddef>

enum : int { HOST_INSTANCE_TEXT = 256 };  // the hand-off's transfer buffer

// Takes the lock in dir. Returns its descriptor (>= 0), -1 when another process holds it,
// -2 when the lock file cannot be opened (then no instance can be found either).
int host_instance_lock(const char* dir);
void host_instance_unlock(int fd);
// True while some process holds the lock in dir (the upgrade program waits on this).
bool host_instance_running(const char* dir);
// The same for any lock file in dir: "upgrade.lock" stands for the upgrade program's window.
int host_lock_named(const char* dir, const char* file);
bool host_lock_held(const char* dir, const char* file);

// Second start: connects to the running instance (trying for up to timeout_ms while it is
// not yet listening), sends text (cut to 255 bytes; empty only brings it to the front) and
// waits up to timeout_ms for its acknowledgement. False when nothing was delivered.
bool host_instance_send(const char* dir, const char* text, int timeout_ms);

// First start: the listening socket (non-blocking), or -1. A stale socket file is replaced.
int host_instance_listen(const char* dir);
// Takes one pending hand-off from the listening socket: copies its text (terminated, at most
// size - 1 bytes) and acknowledges it. Returns 1 for a hand-off, 0 when none was pending,
// -1 for a broken or silent peer (dropped after timeout_ms).
int host_instance_accept(int listen_fd, char* text, size_t size, int timeout_ms);
// Closes the listening socket and removes the socket file.
void host_instance_close(int listen_fd, const char* dir);
