#include "client/net/stream.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "client/core/log.h"
#include "platform/clock.h"

namespace {

#define NET_TRACE(...) LOG_TRACE(TRACE_GENERAL, __VA_ARGS__)

void clear_ring(stream* s) {
  s->count = s->read_position = s->write_position = 0;
  s->message_length = 0;
  s->message_position = s->message_consumed = s->current_length = 0;
  std::free(s->pending);
  s->pending = nullptr;
  s->pending_length = 0;
}

// Takes n bytes off the ring (the caller checked they are there).
void ring_take(stream* s, uint8_t* out, int n) {
  for (int i = 0; i < n; ++i) {
    if (s->read_position >= NET_MAX_MESSAGE) s->read_position = 0;
    uint8_t b = s->ring[s->read_position++];
    if (out) out[i] = b;
  }
  s->count -= n;
}

int connect_now(stream* s) {
  s->reconnect_waiting = false;
  s->connect_started = platform_ticks();
  int r = tcp_create(s->address, s->port, &s->connection);
  if (r) {
    NET_TRACE("tcp_create FAILED: %d", r);
    // Retried later, never at frame rate.
    s->reconnect_waiting = true;
    s->reconnect_at = s->connect_started + STREAM_RETRY_SPACING;
    s->last_error = r;
    return r;
  }
  tcp_disable_timeout(s->connection);
  s->last_error = 0;
  return 0;
}

// One send attempt. 0 all sent; 401 not ready or only *sent bytes went (keep the rest);
// else the error, after which the stream was reset.
int stream_write(stream* s, const uint8_t* data, int length, int* sent) {
  *sent = 0;
  if (!s->connection) return s->reconnect_waiting ? NET_NOT_YET : NET_NO_WORLD;
  int r = tcp_send(s->connection, data, length, sent);
  if (r == 0 || r == NET_NOT_YET) return r;
  if (r == NET_SHORT_SEND) return NET_NOT_YET;
  stream_reset(s);
  s->last_error = r;
  return r;
}

int stream_read_socket(stream* s) {
  if (!s->connection) return 0;
  if (s->write_position >= NET_MAX_MESSAGE) s->write_position = 0;
  int room = NET_MAX_MESSAGE - s->write_position;
  int free_bytes = NET_MAX_MESSAGE - s->count;
  if (free_bytes < room) room = free_bytes;  // unread bytes are never overwritten
  if (room <= 0) return 0;
  int n = 0;
  int r = tcp_receive(s->connection, s->ring + s->write_position, room, &n);
  if (r) {
    NET_TRACE("tcp_receive FAILED: %d", r);
    stream_reset(s);
    s->last_error = r;
    return r;
  }
  s->count += n;
  s->write_position += n;
  return 0;
}

}  // namespace

int stream_create(uint32_t address, uint16_t port, stream_reset_fn reset_callback, stream** out) {
  if (out) *out = nullptr;
  auto* s = new (std::nothrow) stream;
  if (!s) return NET_NO_MEMORY;
  s->address = address;
  s->port = port;
  s->reset_callback = reset_callback;
  s->connect_started = platform_ticks();
  int r = tcp_create(address, port, &s->connection);
  if (r) {
    delete s;
    return r;
  }
  tcp_disable_timeout(s->connection);
  if (out) *out = s;
  return 0;
}

void stream_destroy(stream* s) {
  if (!s) return;
  if (!s->given_away) tcp_destroy(s->connection);
  std::free(s->pending);
  delete s;
}

int stream_reset(stream* s) {
  if (!s) return NET_NO_STREAM;
  NET_TRACE("stream: reset");
  if (!s->given_away) tcp_destroy(s->connection);
  s->connection = nullptr;
  s->given_away = false;
  clear_ring(s);
  if (s->reset_callback) s->reset_callback();
  uint32_t now = platform_ticks();
  if (tick_diff(s->connect_started, now) < static_cast<int32_t>(STREAM_RETRY_SPACING)) {
    // A refused connect fails at once here: keep the attempts a second apart.
    s->reconnect_waiting = true;
    s->reconnect_at = s->connect_started + STREAM_RETRY_SPACING;
    s->last_error = 0;
    return 0;
  }
  return connect_now(s);
}

int stream_receive_message(stream* s, int* length) {
  if (length) *length = 0;
  if (!s) return NET_NO_STREAM;

  // A handler that stopped short must not make the rest look like the next frame.
  int leftover = s->current_length - s->message_consumed;
  if (leftover > 0) ring_take(s, nullptr, leftover < s->count ? leftover : s->count);
  s->current_length = s->message_consumed = s->message_position = 0;

  if (!s->connection) {
    if (!s->reconnect_waiting) return s->given_away ? NET_NO_WORLD : (s->last_error ? s->last_error : NET_NO_WORLD);
    if (tick_before(platform_ticks(), s->reconnect_at)) return NET_NOT_YET;
    int r = connect_now(s);
    if (r) return r;
  }

  if (s->pending) {
    int sent = 0;
    int r = stream_write(s, s->pending, s->pending_length, &sent);
    if (r == 0) {
      std::free(s->pending);
      s->pending = nullptr;
      s->pending_length = 0;
    } else if (r == NET_NOT_YET) {
      if (sent > 0) {
        std::memmove(s->pending, s->pending + sent, static_cast<size_t>(s->pending_length - sent));
        s->pending_length -= sent;
      }
    } else {
      return r;
    }
  }

  int r = stream_read_socket(s);
  if (r) return r;

  if (s->message_length == 0) {
    if (s->count < 2) return NET_NOT_YET;
    uint8_t head[2];
    ring_take(s, head, 2);
    int l = (head[0] << 8) | head[1];
    if (l > NET_MAX_MESSAGE) {
      // Its body would be parsed as frames: start over on a new connection.
      NET_TRACE("stream: message length %d", l);
      stream_reset(s);
      s->last_error = NET_MESSAGE_TOO_LONG;
      return NET_MESSAGE_TOO_LONG;
    }
    if (l == 0) {
      if (s->last_error == NET_READ_PAST_END) s->last_error = 0;
      return 0;
    }
    s->message_length = static_cast<uint16_t>(l);
  }
  if (s->count < s->message_length) return NET_NOT_YET;
  if (length) *length = s->message_length;
  s->current_length = s->message_length;
  s->message_length = 0;
  if (s->last_error == NET_READ_PAST_END) s->last_error = 0;
  return 0;
}

int stream_send(stream* s, const void* data, int length) {
  if (!s || !data) return NET_NO_STREAM;
  // Every sender packs into its buffer of NET_SEND_BUFFER bytes: a longer message is refused.
  if (length > NET_SEND_BUFFER) return NET_NO_FIT;
  if (s->pending) return NET_NOT_YET;
  if (length <= 0) return 0;
  const auto* bytes = static_cast<const uint8_t*>(data);
  int sent = 0;
  int r = stream_write(s, bytes, length, &sent);
  if (r != NET_NOT_YET) return r;
  int rest = length - sent;
  s->pending = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(rest)));
  if (!s->pending) return NET_NO_MEMORY;
  std::memcpy(s->pending, bytes + sent, static_cast<size_t>(rest));
  s->pending_length = rest;
  return 0;
}

tcp* stream_take_connection(stream* s) {
  if (!s) return nullptr;
  tcp* c = s->connection;
  s->given_away = true;
  s->connection = nullptr;
  s->reconnect_waiting = false;
  return c;
}

int stream_hold_message(stream* s, const void* body, int length) {
  if (!s) return NET_NO_STREAM;
  if (!s->given_away) tcp_destroy(s->connection);
  s->connection = nullptr;
  s->given_away = false;
  s->reset_callback = nullptr;
  s->reconnect_waiting = false;
  s->last_error = 0;
  clear_ring(s);
  if (length < 0 || length > NET_MAX_MESSAGE || (length > 0 && !body)) return NET_MESSAGE_TOO_LONG;
  if (length > 0) std::memcpy(s->ring, body, static_cast<size_t>(length));
  s->count = s->write_position = s->current_length = length;
  return 0;
}

int stream_message_position(const stream* s) { return s ? s->message_position : 0; }
void stream_message_rewind(stream* s) {
  if (s) s->message_position = 0;
}
int stream_error(const stream* s) { return s ? s->last_error : NET_NO_STREAM; }
bool stream_has_bytes(const stream* s, int n) { return s && s->count >= n; }

namespace {
// Takes n bytes of the current message, or fails with 421 taking nothing.
bool message_take(stream* s, uint8_t* out, size_t n) {
  size_t in_message = static_cast<size_t>(s->current_length - s->message_consumed);
  size_t in_ring = static_cast<size_t>(s->count);
  if (s->last_error == NET_READ_PAST_END || n > in_message || n > in_ring) {
    s->last_error = NET_READ_PAST_END;
    if (out) std::memset(out, 0, n);
    return false;
  }
  ring_take(s, out, static_cast<int>(n));
  s->message_consumed += static_cast<int>(n);
  s->message_position += static_cast<int>(n);
  return true;
}
}  // namespace

void stream_receive_item(stream* s, const rd::Byte& item) {
  uint8_t b;
  message_take(s, &b, 1);
  if (item.out) *item.out = b;
}

void stream_receive_item(stream* s, const rd::Int16& item) {
  uint8_t b[2];
  message_take(s, b, 2);
  if (item.out) *item.out = static_cast<int16_t>((b[0] << 8) | b[1]);
}

void stream_receive_item(stream* s, const rd::Int32& item) {
  uint8_t b[4];
  message_take(s, b, 4);
  if (item.out) {
    uint32_t v = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
    *item.out = static_cast<int32_t>(v);
  }
}

void stream_receive_item(stream* s, const rd::String& item) {
  if (item.out && item.capacity) item.out[0] = 0;
  uint8_t n = 0;
  if (!message_take(s, &n, 1)) return;
  uint8_t text[256];
  if (!message_take(s, text, n)) return;
  if (item.out && item.capacity) {
    size_t keep = n < item.capacity - 1 ? n : item.capacity - 1;
    std::memcpy(item.out, text, keep);
    item.out[keep] = 0;
  }
}

void stream_receive_item(stream* s, const rd::Raw& item) {
  message_take(s, static_cast<uint8_t*>(item.out), item.n);
}

void stream_receive_item(stream* s, const rd::Skip& item) {
  if (item.n == 0) return;
  // Skips run over the ring in place; the check is the same as for a read.
  size_t in_message = static_cast<size_t>(s->current_length - s->message_consumed);
  if (s->last_error == NET_READ_PAST_END || item.n > in_message || item.n > static_cast<size_t>(s->count)) {
    s->last_error = NET_READ_PAST_END;
    return;
  }
  ring_take(s, nullptr, static_cast<int>(item.n));
  s->message_consumed += static_cast<int>(item.n);
  s->message_position += static_cast<int>(item.n);
}
