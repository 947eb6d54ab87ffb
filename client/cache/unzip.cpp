#include "client/cache/unzip.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/core/log.h"
#include "client/core/zipcrypt.h"

// The world's object password. Supplied by the identity module; without it no enciphered
// member can be opened.
const char* object_password() __attribute__((weak));

namespace {

constexpr size_t kWindowSize = 32768;
constexpr size_t kGzipHeader = 10;
constexpr size_t kZipHeader = 30;

// Input and output of the one extraction in progress.
const uint8_t* in_data = nullptr;
size_t in_size = 0;
size_t in_pos = 0;
FILE* out_file = nullptr;
uint8_t* window = nullptr;
size_t window_fill = 0;
bool write_failed = false;

unsigned read16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t read32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Appends the window's filled bytes to the file.
bool flush_window() {
  if (trace_switches[TRACE_GENERAL]) log_write("unzip: flush_window");
  if (window_fill && std::fwrite(window, 1, window_fill, out_file) != window_fill)
    write_failed = true;
  window_fill = 0;
  return !write_failed;
}

// Reached only when the input is used up before the stream ends: the inflation is abandoned.
int fill_inbuf() {
  if (trace_switches[TRACE_GENERAL]) log_write("unzip: fill_inbuf");
  return -1;
}

bool inflate_all() {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (inflateInit2(&z, -15) != Z_OK) return false;
  bool ok = false;
  for (;;) {
    if (z.avail_in == 0) {
      if (in_pos >= in_size) {
        fill_inbuf();
        break;
      }
      size_t chunk = in_size - in_pos;
      if (chunk > (1u << 30)) chunk = 1u << 30;
      z.next_in = const_cast<Bytef*>(in_data + in_pos);
      z.avail_in = static_cast<uInt>(chunk);
      in_pos += chunk;
    }
    z.next_out = window + window_fill;
    z.avail_out = static_cast<uInt>(kWindowSize - window_fill);
    int rc = inflate(&z, Z_NO_FLUSH);
    window_fill = kWindowSize - z.avail_out;
    if (rc == Z_STREAM_END) {
      ok = flush_window();
      break;
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) break;
    if (window_fill == kWindowSize && !flush_window()) break;
  }
  inflateEnd(&z);
  return ok;
}

// Closes the output; on failure the partial file goes (only a plain file that we wrote).
int finish(const char* path, int result) {
  bool regular = false;
  struct stat st;
  if (out_file && fstat(fileno(out_file), &st) == 0) regular = S_ISREG(st.st_mode);
  if (out_file && std::fclose(out_file) != 0 && result == UNZIP_OK) result = UNZIP_CORRUPT;
  out_file = nullptr;
  std::free(window);
  window = nullptr;
  if (result != UNZIP_OK && regular) unlink(path);
  in_data = nullptr;
  in_size = in_pos = 0;
  return result;
}

}  // namespace

int unzip_memory(uint8_t* data, size_t size, const char* path) {
  if (trace_switches[TRACE_GENERAL]) log_write("unzip_memory (%s)", path ? path : "");
  return unzip_to_file(data, size, path, nullptr);
}

int unzip_to_file(uint8_t* data, size_t size, const char* path, int* enciphered) {
  if (enciphered) *enciphered = 0;
  if (!data) size = 0;
  size_t start = 0;
  if (size >= 2 && data[0] == 0x1f && data[1] == 0x8b) {
    if (size < kGzipHeader) return UNZIP_SHORT_HEADER;
    if (data[2] != 8) return UNZIP_NOT_DEFLATE;
    if (data[3] & ~0x09) return UNZIP_BAD_FLAGS;
    start = kGzipHeader;
    if (data[3] & 0x08) {
      const void* nul = std::memchr(data + start, 0, size - start);
      if (!nul) return UNZIP_SHORT_HEADER;
      start = static_cast<size_t>(static_cast<const uint8_t*>(nul) - data) + 1;
    }
  } else {
    if (size < 4 || read32(data) != 0x04034b50u) return UNZIP_NOT_ARCHIVE;
    if (size < kZipHeader) return UNZIP_SHORT_HEADER;
    size_t header = kZipHeader + read16(data + 26) + read16(data + 28);
    if (size < header) return UNZIP_SHORT_HEADER;
    if (data[8] != 8) return UNZIP_NOT_DEFLATE;
    start = header;
    uint8_t flags = data[6];
    if (flags & 0x01) {
      uint8_t check = (flags & 0x08) ? data[11] : data[17];
      const char* password = object_password ? object_password() : nullptr;
      if (!password) password = "";
      if (!zipcrypt_decrypt_entry(password, std::strlen(password), data + start, size - start,
                                  check))
        return UNZIP_PASSWORD;
      if (enciphered) *enciphered = 1;
      start += static_cast<size_t>(zipcrypt_header_size());
    }
  }
  if (!path) return UNZIP_CREATE;
  std::string native = path;
  for (char& c : native)
    if (c == '\\') c = '/';
  path = native.c_str();
  out_file = std::fopen(path, "wb");
  if (!out_file) return UNZIP_CREATE;
  window = static_cast<uint8_t*>(std::malloc(kWindowSize));
  if (!window) return finish(path, UNZIP_NO_MEMORY);
  in_data = data;
  in_size = size;
  in_pos = start;
  window_fill = 0;
  write_failed = false;
  return finish(path, inflate_all() ? UNZIP_OK : UNZIP_CORRUPT);
}
