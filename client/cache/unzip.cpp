#include "client/cache/unzip.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/cache/download.h"
#include "client/core/files.h"
#include "client/core/log.h"
#include "client/core/zipcrypt.h"

// The world's object password. Supplied by the identity module; without it no enciphered
// member can be opened.
const char* object_password() __attribute__((weak));

namespace {

constexpr size_t kWindowSize = 32768;
constexpr size_t kGzipHeader = 10;
constexpr size_t kZipHeader = 30;
// Enciphered input is deciphered as the inflater takes it, this much at a time.
constexpr size_t kCipherChunk = 65536;

struct kind_limit {
  const char* name;
  size_t bytes;
};
// A real file of each kind stays far below these; all of them inflate within a few tens of
// milliseconds.
constexpr kind_limit kLimits[UNZIP_KINDS] = {
    {"model", 4u << 20},
    {"mask", 4u << 20},
    {"sound", 16u << 20},
    {"sequence", 4u << 20},
    {"avatar list", 1u << 20},
};

// Input and output of the one extraction in progress. The member goes to a fresh temporary
// beside its path (renamed over it once whole) or into a growing buffer.
const uint8_t* in_data = nullptr;
size_t in_size = 0;
size_t in_pos = 0;
FILE* out_file = nullptr;
uint8_t* out_bytes = nullptr;
size_t out_room = 0;
bool to_memory = false;
uint8_t* window = nullptr;
size_t window_fill = 0;
bool write_failed = false;
int write_errno = 0;
size_t out_total = 0;
size_t out_limit = 0;
uint32_t out_crc = 0;

unsigned read16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t read32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t read64(const uint8_t* p) { return read32(p) | static_cast<uint64_t>(read32(p + 4)) << 32; }

// Appends the window's filled bytes to the file; false past the limit or on a write error.
bool flush_window() {
  if (trace_switches[TRACE_GENERAL]) log_write("unzip: flush_window");
  if (out_total + window_fill > out_limit) return false;
  if (to_memory) {
    // Room for the window and a zero byte after the member.
    if (out_total + window_fill + 1 > out_room) {
      size_t room = std::max(out_room * 2, out_total + window_fill + 1);
      auto* grown = static_cast<uint8_t*>(std::realloc(out_bytes, room));
      if (!grown) {
        write_failed = true;
        write_errno = ENOMEM;
        return false;
      }
      out_bytes = grown;
      out_room = room;
    }
    if (window_fill) std::memcpy(out_bytes + out_total, window, window_fill);
  } else if (window_fill && std::fwrite(window, 1, window_fill, out_file) != window_fill) {
    write_failed = true;
    write_errno = errno;
  }
  out_crc = static_cast<uint32_t>(crc32(out_crc, window, static_cast<uInt>(window_fill)));
  out_total += window_fill;
  window_fill = 0;
  return !write_failed;
}

// Reached only when the input is used up before the stream ends: the inflation is abandoned.
int fill_inbuf() {
  if (trace_switches[TRACE_GENERAL]) log_write("unzip: fill_inbuf");
  return -1;
}

// Inflates from in_pos; an enciphered member is deciphered in place as the inflater takes
// it, so that what follows the member (a data descriptor) is never touched. On success
// in_pos is just past the deflate data.
int inflate_all(bool enciphered) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (inflateInit2(&z, -15) != Z_OK) return UNZIP_NO_MEMORY;
  uint8_t* saved = enciphered ? static_cast<uint8_t*>(std::malloc(kCipherChunk)) : nullptr;
  if (enciphered && !saved) {
    inflateEnd(&z);
    return UNZIP_NO_MEMORY;
  }
  int result = UNZIP_CORRUPT;
  size_t chunk = 0;
  for (;;) {
    if (z.avail_in == 0) {
      if (in_pos >= in_size) {
        fill_inbuf();
        break;
      }
      chunk = in_size - in_pos;
      if (chunk > (enciphered ? kCipherChunk : (1u << 30))) chunk = enciphered ? kCipherChunk : (1u << 30);
      uint8_t* p = const_cast<uint8_t*>(in_data + in_pos);
      if (enciphered) {
        std::memcpy(saved, p, chunk);
        for (size_t i = 0; i < chunk; ++i) p[i] = zipcrypt_decrypt_byte(p[i]);
      }
      z.next_in = p;
      z.avail_in = static_cast<uInt>(chunk);
      in_pos += chunk;
    }
    z.next_out = window + window_fill;
    z.avail_out = static_cast<uInt>(kWindowSize - window_fill);
    int rc = inflate(&z, Z_NO_FLUSH);
    window_fill = kWindowSize - z.avail_out;
    if (rc == Z_STREAM_END) {
      result = flush_window() ? UNZIP_OK : out_total + window_fill > out_limit ? UNZIP_TOO_LARGE : UNZIP_CORRUPT;
      break;
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) break;
    if (window_fill == kWindowSize && !flush_window()) {
      if (!write_failed) result = UNZIP_TOO_LARGE;
      break;
    }
  }
  // What the inflater did not take lies after the member: back to how it came.
  size_t rest = z.avail_in;
  if (enciphered && rest) std::memcpy(const_cast<uint8_t*>(in_data + in_pos - rest), saved + (chunk - rest), rest);
  in_pos -= rest;
  inflateEnd(&z);
  std::free(saved);
  return result;
}

// What the archive says the member is; checked once it has been inflated.
struct expected {
  bool known = false;
  uint32_t crc = 0;
  uint64_t size = 0;
};

// The gzip trailer: check sum and size modulo 2^32.
expected gzip_trailer() {
  expected e;
  if (in_size - in_pos < 8) return e;
  e.known = true;
  e.crc = read32(in_data + in_pos);
  e.size = read32(in_data + in_pos + 4);
  return e;
}

// The zip64 extra field of a local header holds the real sizes when the header's are all ones.
bool zip64_sizes(const uint8_t* extra, size_t length, uint64_t* size) {
  for (size_t at = 0; at + 4 <= length;) {
    unsigned id = read16(extra + at), n = read16(extra + at + 2);
    if (at + 4 + n > length) return false;
    if (id == 0x0001) {
      if (n < 8) return false;
      *size = read64(extra + at + 4);
      return true;
    }
    at += 4 + n;
  }
  return false;
}

// The data descriptor after the deflate data (with or without its signature).
expected zip_descriptor(bool wide) {
  expected e;
  const uint8_t* p = in_data + in_pos;
  size_t left = in_size - in_pos;
  size_t body = wide ? 20 : 12;
  size_t skip = left >= 4 && read32(p) == 0x08074b50u && left >= 4 + body ? 4 : 0;
  if (left < skip + body) return e;
  e.known = true;
  e.crc = read32(p + skip);
  e.size = wide ? read64(p + skip + 12) : read32(p + skip + 8);
  return e;
}

std::string reason_of(int result, unzip_kind kind, const char* check) {
  char text[160];
  switch (result) {
    case UNZIP_TOO_LARGE:
      std::snprintf(text, sizeof text, "the member inflates past the %s limit of %zu bytes", kLimits[kind].name,
                    kLimits[kind].bytes);
      break;
    case UNZIP_CORRUPT:
      if (check) std::snprintf(text, sizeof text, "the member's %s does not match the archive's", check);
      else if (write_failed) std::snprintf(text, sizeof text, "the member cannot be written (%s)", std::strerror(write_errno));
      else std::snprintf(text, sizeof text, "the member's deflate data are damaged or cut");
      break;
    case UNZIP_CREATE:
      std::snprintf(text, sizeof text, "the member cannot be created (%s)", std::strerror(write_errno));
      break;
    case UNZIP_NOT_DEFLATE: return "the member is not deflated";
    case UNZIP_BAD_FLAGS: return "the gzip header has fields that are not taken";
    case UNZIP_SHORT_HEADER: return "the archive is shorter than its header";
    case UNZIP_PASSWORD: return "the member is enciphered with another password, or none is set";
    case UNZIP_NO_MEMORY: return "no memory to unpack it";
    case UNZIP_NOT_ARCHIVE: return "it is neither a zip nor a gzip archive";
    default: std::snprintf(text, sizeof text, "code %d", result);
  }
  return text;
}

// Closes the output: on success the temporary takes the path, on failure it goes, and
// whatever already lay at the path stays as it was.
int finish(const char* path, const std::string& temp, int result) {
  if (out_file) {
    if (result == UNZIP_OK && !file_commit_fresh(out_file, temp, path)) {
      result = UNZIP_CORRUPT;
      write_failed = true;
      write_errno = errno;
    } else if (result != UNZIP_OK) {
      file_discard_fresh(out_file, temp);
    }
  }
  out_file = nullptr;
  std::free(window);
  window = nullptr;
  in_data = nullptr;
  in_size = in_pos = 0;
  return result;
}

int extract(uint8_t* data, size_t size, const char* path, int* enciphered, unzip_kind kind, const char** check) {
  if (enciphered) *enciphered = 0;
  write_failed = false;
  write_errno = 0;
  if (!data) size = 0;
  size_t start = 0;
  bool gzip = false, described = false, wide = false, ciphered = false;
  expected header;
  if (size >= 2 && data[0] == 0x1f && data[1] == 0x8b) {
    if (size < kGzipHeader) return UNZIP_SHORT_HEADER;
    if (data[2] != 8) return UNZIP_NOT_DEFLATE;
    if (data[3] & ~0x09) return UNZIP_BAD_FLAGS;
    gzip = true;
    start = kGzipHeader;
    if (data[3] & 0x08) {
      const void* nul = std::memchr(data + start, 0, size - start);
      if (!nul) return UNZIP_SHORT_HEADER;
      start = static_cast<size_t>(static_cast<const uint8_t*>(nul) - data) + 1;
    }
  } else {
    if (size < 4 || read32(data) != 0x04034b50u) return UNZIP_NOT_ARCHIVE;
    if (size < kZipHeader) return UNZIP_SHORT_HEADER;
    size_t name = read16(data + 26), extra = read16(data + 28);
    size_t header_length = kZipHeader + name + extra;
    if (size < header_length) return UNZIP_SHORT_HEADER;
    if (data[8] != 8) return UNZIP_NOT_DEFLATE;
    start = header_length;
    uint8_t flags = data[6];
    uint64_t wide_size = 0;
    wide = zip64_sizes(data + kZipHeader + name, extra, &wide_size);
    described = (flags & 0x08) != 0;
    if (!described) {
      header.known = true;
      header.crc = read32(data + 14);
      header.size = read32(data + 22);
      if (header.size == 0xFFFFFFFFu && wide) header.size = wide_size;
      // A member that says it is too large is not inflated at all.
      if (header.size > kLimits[kind].bytes) return UNZIP_TOO_LARGE;
    }
    if (flags & 0x01) {
      uint8_t want = described ? data[11] : data[17];
      const char* password = object_password ? object_password() : nullptr;
      const size_t room = static_cast<size_t>(zipcrypt_header_size());
      // No password would select the built-in key, which never enciphers archive members.
      if (!password || !password[0] || size - start < room) return UNZIP_PASSWORD;
      zipcrypt_init_keys(password, std::strlen(password));
      uint8_t last = 0;
      for (size_t i = 0; i < room; ++i) last = zipcrypt_decrypt_byte(data[start + i]);
      if (last != want) return UNZIP_PASSWORD;
      if (enciphered) *enciphered = 1;
      ciphered = true;
      start += room;
    }
  }
  std::string temp;
  if (!to_memory) {
    if (!path) return UNZIP_CREATE;
    std::string native = path;
    for (char& c : native)
      if (c == '\\') c = '/';
    // The member is written to a new file of our own (never through a link or into a FIFO
    // planted at the path) and takes the path only once it is whole. A device or a folder
    // standing there is not ours to replace.
    struct stat st;
    if (lstat(native.c_str(), &st) == 0 && (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISDIR(st.st_mode))) {
      write_errno = S_ISDIR(st.st_mode) ? EISDIR : EEXIST;
      return UNZIP_CREATE;
    }
    out_file = file_create_fresh(native.c_str(), &temp);
    if (!out_file) {
      write_errno = errno;
      return UNZIP_CREATE;
    }
  }
  window = static_cast<uint8_t*>(std::malloc(kWindowSize));
  if (!window) return finish(path, temp, UNZIP_NO_MEMORY);
  in_data = data;
  in_size = size;
  in_pos = start;
  window_fill = 0;
  out_total = 0;
  out_limit = kLimits[kind].bytes;
  out_crc = static_cast<uint32_t>(crc32(0, nullptr, 0));
  int result = inflate_all(ciphered);
  if (result == UNZIP_OK) {
    expected want = gzip ? gzip_trailer() : described ? zip_descriptor(wide) : header;
    uint64_t got = gzip ? static_cast<uint32_t>(out_total) : out_total;
    if (!want.known) result = UNZIP_CORRUPT;
    else if (want.crc != out_crc) *check = "check sum", result = UNZIP_CORRUPT;
    else if (want.size != got) *check = "size", result = UNZIP_CORRUPT;
  }
  if (to_memory && write_failed) result = UNZIP_NO_MEMORY;
  return finish(path, temp, result);
}

}  // namespace

size_t unzip_limit(unzip_kind kind) { return kind >= 0 && kind < UNZIP_KINDS ? kLimits[kind].bytes : 0; }

int unzip_memory(uint8_t* data, size_t size, const char* path, unzip_kind kind) {
  if (trace_switches[TRACE_GENERAL]) log_write("unzip_memory (%s)", path ? path : "");
  return unzip_to_file(data, size, path, nullptr, kind);
}

int unzip_to_file(uint8_t* data, size_t size, const char* path, int* enciphered, unzip_kind kind) {
  if (kind < 0 || kind >= UNZIP_KINDS) kind = UNZIP_KIND_AVATARS;  // the smallest limit
  const char* check = nullptr;
  int result = extract(data, size, path, enciphered, kind, &check);
  if (result != UNZIP_OK) download_refuse(path, reason_of(result, kind, check).c_str());
  return result;
}

int unzip_to_memory(uint8_t* data, size_t size, const char* name, uint8_t** out, size_t* out_size, int* enciphered,
                    unzip_kind kind) {
  if (out) *out = nullptr;
  if (out_size) *out_size = 0;
  if (!out || !out_size) return UNZIP_NO_MEMORY;
  if (kind < 0 || kind >= UNZIP_KINDS) kind = UNZIP_KIND_AVATARS;
  const char* check = nullptr;
  to_memory = true;
  out_bytes = nullptr;
  out_room = 0;
  int result = extract(data, size, name, enciphered, kind, &check);
  to_memory = false;
  if (result == UNZIP_OK && !out_bytes) out_bytes = static_cast<uint8_t*>(std::malloc(1));
  if (result == UNZIP_OK && !out_bytes) result = UNZIP_NO_MEMORY;
  if (result != UNZIP_OK) {
    std::free(out_bytes);
    download_refuse(name, reason_of(result, kind, check).c_str());
  } else {
    out_bytes[out_total] = 0;
    *out = out_bytes;
    *out_size = out_total;
  }
  out_bytes = nullptr;
  out_room = 0;
  return result;
}
