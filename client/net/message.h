#pragma once
// Binary message items. All three directions (universe, world, peer datagrams) share one
// encoding: byte; int16 and int32 big-endian; string = length byte then the bytes;
// tagged string = tag byte then a string; raw bytes as given.
//
// A message is described as a list of typed items in wire order:
//   message_pack(pk::Buffer{buf, sizeof buf}, pk::Skip{2}, pk::Byte{code}, pk::String{name});
//   unpack(ud::Input{data, n}, ud::Byte{&type}, ud::Int32{&x}, ud::Stop{});
// The reader over a message stream, stream_receive, is in stream.h.
#include <cstddef>
#include <cstdint>

namespace pk {
struct Buffer { uint8_t* data; size_t size; };      // makes data the output
struct Byte { uint32_t value; };                    // low 8 bits
struct Int16 { uint32_t value; };                   // low 16 bits
struct Int32 { uint32_t value; };
struct Skip { size_t n; };                          // leaves n bytes as they are
struct String { const char* text; };                // nullptr packs as length 0
struct Raw { size_t n; const void* data; };
struct Tagged { uint32_t tag; const char* text; };
}  // namespace pk

namespace ud {
struct Input { const uint8_t* data; size_t size; }; // sets the input buffer
struct Byte { uint8_t* out; };
struct Int16 { int16_t* out; };
struct Int32 { int32_t* out; };
struct Int16s { size_t count; int16_t* out; };
struct Int32s { size_t count; int32_t* out; };
struct Mark {};                                     // remembers the cursor
struct BackToMark {};
struct Left { int* out; };                          // bytes left
struct Skip { size_t n; };
struct String { char* out; size_t capacity; };      // stored with a terminating 0
struct Raw { size_t n; void* out; };
struct Cursor { const uint8_t** out; };
struct Stop {};                                     // 1 when every byte was consumed, else 0
struct End {};                                      // 1
}  // namespace ud

// ---- packer ---------------------------------------------------------------------------
// One item each; false when it does not fit (the cursor keeps what was written).
bool pack_item(const pk::Buffer& item);
bool pack_item(const pk::Byte& item);
bool pack_item(const pk::Int16& item);
bool pack_item(const pk::Int32& item);
bool pack_item(const pk::Skip& item);
bool pack_item(const pk::String& item);
bool pack_item(const pk::Raw& item);
bool pack_item(const pk::Tagged& item);

// 1 when every item fitted, 0 as soon as one did not (callers then answer 426 and send
// nothing). A text longer than 255 bytes has no wire form and does not fit.
template <class... Items>
int message_pack(const Items&... items) {
  return (pack_item(items) && ...) ? 1 : 0;
}
// Bytes packed since the output buffer was last set.
int message_packed_length();
// Writes the frame length (packed length - 2) big-endian into the first two bytes of the
// output buffer. Returns the number of bytes to send.
int message_fill_length();

// ---- datagram reader ------------------------------------------------------------------
// Each returns -1 to go on, or the reader's result (0 when the item needs more bytes than
// are left; a failing string or raw item consumes nothing).
int unpack_item(const ud::Input& item);
int unpack_item(const ud::Byte& item);
int unpack_item(const ud::Int16& item);
int unpack_item(const ud::Int32& item);
int unpack_item(const ud::Int16s& item);
int unpack_item(const ud::Int32s& item);
int unpack_item(const ud::Mark& item);
int unpack_item(const ud::BackToMark& item);
int unpack_item(const ud::Left& item);
int unpack_item(const ud::Skip& item);
int unpack_item(const ud::String& item);
int unpack_item(const ud::Raw& item);
int unpack_item(const ud::Cursor& item);
int unpack_item(const ud::Stop& item);
int unpack_item(const ud::End& item);

// 1 on success (End, or a list without an end item), Stop's result, or 0 as soon as an
// item needs more bytes than are left.
template <class... Items>
int unpack(const Items&... items) {
  int result = -1;
  (void)((((result = unpack_item(items)) == -1)) && ...);
  return result == -1 ? 1 : result;
}

// Big-endian helpers shared by the readers.
inline uint16_t net_get16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t net_get32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline void net_put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void net_put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
