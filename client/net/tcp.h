#pragma once
// Non-blocking TCP connections, polled once per frame. Nothing here blocks.
#include <netinet/in.h>

#include <cstdint>

struct tcp {
  int socket = -1;
  sockaddr_in address{};          // family, port, address (network order)
  bool writable_seen = false;     // the connect completed
  bool no_idle_timeout = false;
  uint32_t last_activity = 0;     // tick of the last send or received data
  int connect_error = 0;          // errno of a connect that failed after it started
};

// Idle limits in milliseconds.
constexpr uint32_t TCP_RECEIVE_IDLE_LIMIT = 45000;
constexpr uint32_t TCP_SEND_IDLE_LIMIT = 20000;

// Starts a connect to address and port (both network order) and stores the record in
// *owner. 0, 428 (socket), 430 (non-blocking mode) or 429 (connect refused at once).
int tcp_create(uint32_t address, uint16_t port, tcp** owner);
// Closes and frees; the close error or 0.
int tcp_destroy(tcp* connection);
// Reads at most min(size, 4096) bytes. 0 with *count 0 when nothing is there; 416 when the
// peer closed; 402 after 45000 ms of silence unless idle time-outs are off; else an errno.
int tcp_receive(tcp* connection, void* destination, int size, int* count);
// One send when writable: 0 when every byte went; 415 on a short send with *sent set to the
// bytes that did go (callers keep the rest); 401 not yet writable (or the socket buffer is
// full), 402 when still not writable 20000 ms after the last activity; else an errno.
int tcp_send(tcp* connection, const void* data, int length, int* sent = nullptr);
// True once the connect has completed; a connect that failed stays not writable and its
// error is kept in connect_error.
bool tcp_writable(tcp* connection);
void tcp_disable_timeout(tcp* connection);
void tcp_enable_timeout(tcp* connection);
