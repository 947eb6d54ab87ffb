// The message packer and the datagram reader, with their module-global cursors.
#include "client/net/message.h"

#include <cstring>

#include "client/net/netcodes.h"

namespace {
uint8_t* pack_start = nullptr;
uint8_t* pack_cursor = nullptr;
uint8_t* pack_end = nullptr;

size_t pack_room() { return pack_cursor ? static_cast<size_t>(pack_end - pack_cursor) : 0; }

const uint8_t* in_cursor = nullptr;
const uint8_t* in_end = nullptr;
const uint8_t* in_mark = nullptr;

size_t in_left() { return in_cursor ? static_cast<size_t>(in_end - in_cursor) : 0; }

net_byte_meter_fn byte_meter = nullptr;
}  // namespace

void net_set_byte_meter(net_byte_meter_fn fn) { byte_meter = fn; }
void net_count_bytes(int bytes) {
  if (byte_meter && bytes > 0) byte_meter(bytes);
}

bool pack_item(const pk::Buffer& item) {
  pack_start = pack_cursor = item.data;
  pack_end = item.data ? item.data + item.size : nullptr;
  return item.data != nullptr;
}

bool pack_item(const pk::Byte& item) {
  if (pack_room() < 1) return false;
  *pack_cursor++ = static_cast<uint8_t>(item.value);
  return true;
}

bool pack_item(const pk::Int16& item) {
  if (pack_room() < 2) return false;
  net_put16(pack_cursor, item.value);
  pack_cursor += 2;
  return true;
}

bool pack_item(const pk::Int32& item) {
  if (pack_room() < 4) return false;
  net_put32(pack_cursor, item.value);
  pack_cursor += 4;
  return true;
}

bool pack_item(const pk::Skip& item) {
  // The cursor never moves past the end, so a failed skip leaves a usable state.
  if (pack_room() < item.n) {
    if (pack_cursor) pack_cursor = pack_end;
    return false;
  }
  pack_cursor += item.n;
  return true;
}

bool pack_item(const pk::String& item) {
  size_t n = item.text ? std::strlen(item.text) : 0;
  // The length byte cannot say more than 255: a longer text would corrupt the frame.
  if (n > 255 || pack_room() < n + 1) return false;
  *pack_cursor++ = static_cast<uint8_t>(n);
  if (n) std::memcpy(pack_cursor, item.text, n);
  pack_cursor += n;
  return true;
}

bool pack_item(const pk::Raw& item) {
  if (pack_room() < item.n || (item.n && !item.data)) return false;
  if (item.n) std::memcpy(pack_cursor, item.data, item.n);
  pack_cursor += item.n;
  return true;
}

bool pack_item(const pk::Tagged& item) {
  size_t n = item.text ? std::strlen(item.text) : 0;
  if (n > 255 || pack_room() < n + 2) return false;
  *pack_cursor++ = static_cast<uint8_t>(item.tag);
  return pack_item(pk::String{item.text});
}

int message_packed_length() {
  return pack_cursor ? static_cast<int>(pack_cursor - pack_start) : 0;
}

int message_fill_length() {
  int n = message_packed_length();
  if (n < 2) return 0;
  net_put16(pack_start, static_cast<uint32_t>(n - 2));
  return n;
}

// ---- datagram reader ------------------------------------------------------------------

int unpack_item(const ud::Input& item) {
  in_cursor = in_mark = item.data;
  in_end = item.data ? item.data + item.size : nullptr;
  return -1;
}

int unpack_item(const ud::Byte& item) {
  if (in_left() < 1) return 0;
  if (item.out) *item.out = *in_cursor;
  in_cursor += 1;
  return -1;
}

// Reads count big-endian numbers of T's width; a null out skips them.
template <class T>
int read_numbers(T* out, size_t count) {
  if (count > in_left() / sizeof(T)) return 0;
  for (size_t i = 0; i < count; ++i) {
    if (out) out[i] = static_cast<T>(sizeof(T) == 2 ? net_get16(in_cursor) : net_get32(in_cursor));
    in_cursor += sizeof(T);
  }
  return -1;
}

int unpack_item(const ud::Int16& item) { return read_numbers(item.out, 1); }
int unpack_item(const ud::Int32& item) { return read_numbers(item.out, 1); }
int unpack_item(const ud::Int16s& item) { return read_numbers(item.out, item.count); }
int unpack_item(const ud::Int32s& item) { return read_numbers(item.out, item.count); }

int unpack_item(const ud::Mark&) {
  in_mark = in_cursor;
  return -1;
}

int unpack_item(const ud::BackToMark&) {
  in_cursor = in_mark;
  return -1;
}

int unpack_item(const ud::Left& item) {
  if (item.out) *item.out = static_cast<int>(in_left());
  return -1;
}

int unpack_item(const ud::Skip& item) {
  if (in_left() < item.n) return 0;
  in_cursor += item.n;
  return -1;
}

int unpack_item(const ud::String& item) {
  if (in_left() < 1) return 0;
  size_t n = in_cursor[0];
  if (in_left() < n + 1) return 0;
  if (item.out && item.capacity) {
    size_t keep = n < item.capacity - 1 ? n : item.capacity - 1;
    std::memcpy(item.out, in_cursor + 1, keep);
    item.out[keep] = 0;
  }
  in_cursor += n + 1;
  return -1;
}

int unpack_item(const ud::Raw& item) {
  if (in_left() < item.n) return 0;
  if (item.n && item.out) std::memcpy(item.out, in_cursor, item.n);
  in_cursor += item.n;
  return -1;
}

int unpack_item(const ud::Cursor& item) {
  if (item.out) *item.out = in_cursor;
  return -1;
}

int unpack_item(const ud::Stop&) { return in_cursor && in_cursor == in_end ? 1 : 0; }

int unpack_item(const ud::End&) { return 1; }
