#pragma once
// Length-prefixed message streams over a TCP connection: a ring of received bytes, one
// pending send, and reconnection to the same address through the owner's callback.
#include <cstddef>
#include <cstdint>

#include "client/net/netcodes.h"
#include "client/net/tcp.h"

using stream_reset_fn = void (*)();

// A refused or lost connection is not retried sooner than this after the previous attempt.
constexpr uint32_t STREAM_RETRY_SPACING = 1000;

struct stream {
  tcp* connection = nullptr;
  uint32_t address = 0;             // network order
  uint16_t port = 0;                // network order
  stream_reset_fn reset_callback = nullptr;
  int count = 0;                    // unread bytes in the ring
  int read_position = 0;
  int write_position = 0;
  int last_error = 0;
  int message_position = 0;         // handlers' read position within the message
  int message_consumed = 0;         // bytes of the message really taken from the ring
  int current_length = 0;           // length of the message handed out
  uint8_t* pending = nullptr;       // the one send waiting for the socket
  int pending_length = 0;
  uint16_t message_length = 0;      // length read ahead of its body, 0 when none
  bool given_away = false;
  bool reconnect_waiting = false;   // a reconnection is due at reconnect_at
  uint32_t reconnect_at = 0;
  uint32_t connect_started = 0;
  uint8_t ring[NET_MAX_MESSAGE];
};

namespace rd {
struct Byte { uint8_t* out; };
struct Int16 { int16_t* out; };
struct Int32 { int32_t* out; };
struct String { char* out; size_t capacity; };  // capacity 256 holds any wire string
struct Raw { size_t n; void* out; };
struct Skip { size_t n; };
}  // namespace rd

// 0, 400, or the connect error (the record is freed).
int stream_create(uint32_t address, uint16_t port, stream_reset_fn reset_callback, stream** out);
void stream_destroy(stream* s);
// 0 with *length when a whole message is in the ring (its fields are then read with
// stream_receive); 401 while incomplete; 403 for no stream; 422 for a length above 8096
// (the stream is reset); a connection error (the stream is reset). Whatever the previous
// message's handler left unread is dropped first.
int stream_receive_message(stream* s, int* length);
// Sends data, or keeps it as the one pending send while the socket is not ready (0).
// 426 for a message longer than NET_SEND_BUFFER (nothing is sent); 401 when a send is
// already pending; 403 without stream or data; else the send error.
int stream_send(stream* s, const void* data, int length);
// Drops the connection, calls the owner's callback and reconnects (at once, or when the
// retry spacing has passed).
int stream_reset(stream* s);
tcp* stream_take_connection(stream* s);
// Makes s a record without a connection that holds one received message (its body, after
// the length) as the current one, so that a protocol's dispatch reads it with the same
// readers as a message off the socket (fuzzing and tests). 0, or 422 for a length the
// ring cannot hold (s is then left empty).
int stream_hold_message(stream* s, const void* body, int length);
int stream_message_position(const stream* s);
void stream_message_rewind(stream* s);
int stream_error(const stream* s);
bool stream_has_bytes(const stream* s, int n);

// Readers over the current message. Reading past the message (or the ring) sets 421 and
// yields zeros (an empty string); nothing more is taken from the ring.
void stream_receive_item(stream* s, const rd::Byte& item);
void stream_receive_item(stream* s, const rd::Int16& item);
void stream_receive_item(stream* s, const rd::Int32& item);
void stream_receive_item(stream* s, const rd::String& item);
void stream_receive_item(stream* s, const rd::Raw& item);
void stream_receive_item(stream* s, const rd::Skip& item);

// Reads the items in order; returns the stream's error (0, or 421 once a read ran past the
// message), or 403 for no stream.
template <class... Items>
int stream_receive(stream* s, const Items&... items) {
  if (!s) return NET_NO_STREAM;
  (stream_receive_item(s, items), ...);
  return s->last_error;
}
