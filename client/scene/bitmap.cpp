#include "client/scene/bitmap.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/core/files.h"
#include "client/core/log.h"
#include "platform/gdi.h"

namespace {

// Bitmaps are small pictures and textures; anything larger is taken as damage.
constexpr int32_t max_side = 16384;
constexpr uint64_t max_pixel_bytes = 256u * 1024u * 1024u;

uint32_t get16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t get32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

bool read_exact(FILE* f, void* buffer, size_t size) {
  return size == 0 || fread(buffer, 1, size, f) == size;
}

// Written to a fresh temporary beside the file (no link planted there is followed), then
// renamed over it, so that a failed write leaves the old file.
bool replace_file(const char* path, const uint8_t* head, size_t head_size, const uint8_t* body,
                  size_t body_size) {
  std::string temp;
  FILE* f = file_create_fresh(path, &temp);
  if (!f) return false;
  if (fwrite(head, 1, head_size, f) != head_size || fwrite(body, 1, body_size, f) != body_size) {
    file_discard_fresh(f, temp);
    return false;
  }
  return file_commit_fresh(f, temp, path);
}

// Only a regular file is read: a FIFO or a device in its place would hold the window thread.
FILE* open_bitmap(const char* path) {
  int fd = file_open_regular(file_path(path));
  if (fd < 0) return nullptr;
  FILE* f = fdopen(fd, "rb");
  if (!f) close(fd);
  return f;
}

}  // namespace

GdiObject* bitmap_load(const char* path, int32_t* width, int32_t* height) {
  if (!path) return nullptr;
  FILE* f = open_bitmap(path);
  if (!f) return nullptr;
  // Info header then a full 256-entry colour table: entries the file lacks stay zero.
  uint8_t file_header[14];
  uint8_t info[40 + 1024];
  memset(info, 0, sizeof info);
  if (!read_exact(f, file_header, sizeof file_header) || !read_exact(f, info, 40)) {
    fclose(f);
    return nullptr;
  }
  const int32_t w = static_cast<int32_t>(get32(info + 4));
  const int32_t h = static_cast<int32_t>(get32(info + 8));
  const uint32_t bits = get16(info + 14);
  const uint32_t compression = get32(info + 16);
  const uint32_t size_image = get32(info + 20);
  uint32_t colours = get32(info + 32);
  const int64_t rows = h < 0 ? -static_cast<int64_t>(h) : h;
  if (get32(info) != 40 || compression != 0 || (bits != 8 && bits != 24) || w <= 0 || w > max_side ||
      rows == 0 || rows > max_side) {
    fclose(f);
    return nullptr;
  }
  if (bits == 8) {
    if (colours == 0) colours = 256;
    if (colours > 256 || !read_exact(f, info + 40, static_cast<size_t>(colours) * 4)) {
      fclose(f);
      return nullptr;
    }
  }
  // The section holds exactly rows x padded row bytes; a larger stated size is not trusted.
  const size_t row = (static_cast<size_t>(w) * (bits / 8) + 3) & ~static_cast<size_t>(3);
  const size_t whole = row * static_cast<size_t>(rows);
  const size_t count = size_image != 0 && size_image < whole ? size_image : whole;
  uint8_t* pixels = nullptr;
  GdiObject* dib = gdi_create_dib_section(nullptr, info, kDibRgbColours, &pixels, nullptr, 0);
  if (!dib || !pixels || !read_exact(f, pixels, count)) {
    if (dib) gdi_delete_object(dib);
    fclose(f);
    return nullptr;
  }
  fclose(f);
  if (width) *width = w;
  if (height) *height = h;
  return dib;
}

void bitmap_resample(const char* path, int32_t n) {
  if (!path || n <= 0 || n > max_side) return;
  if (trace_switches[TRACE_GENERAL]) log_write("bitmap_resample (%s, %d)", path, n);
  FILE* f = open_bitmap(path);
  if (!f) return;
  // File header, info header and the 256-entry palette.
  uint8_t head[54 + 1024];
  if (!read_exact(f, head, sizeof head)) {
    fclose(f);
    return;
  }
  const uint8_t* info = head + 14;
  const int32_t width = static_cast<int32_t>(get32(info + 4));
  const int32_t height = static_cast<int32_t>(get32(info + 8));
  const uint32_t bits = get16(info + 14);
  const uint32_t compression = get32(info + 16);
  const uint32_t colours = get32(info + 32);
  // Only what the BMP writer makes for textures: 8 bits, no compression, a full palette,
  // rows bottom-up. Rewriting anything else would destroy the picture.
  if (head[0] != 'B' || head[1] != 'M' || get32(info) != 40 || bits != 8 || compression != 0 ||
      (colours != 0 && colours != 256) || width <= 0 || height <= 0 || width > max_side ||
      height > max_side) {
    fclose(f);
    return;
  }
  const size_t src_row = (static_cast<size_t>(width) + 3) & ~static_cast<size_t>(3);
  const size_t src_bytes = src_row * static_cast<size_t>(height);
  if (src_bytes > max_pixel_bytes) {
    fclose(f);
    return;
  }
  uint8_t* src = static_cast<uint8_t*>(malloc(src_bytes));
  if (!src || !read_exact(f, src, src_bytes)) {
    free(src);
    fclose(f);
    return;
  }
  fclose(f);

  const size_t dst_row = (static_cast<size_t>(n) + 3) & ~static_cast<size_t>(3);
  const size_t dst_bytes = dst_row * static_cast<size_t>(n);
  uint8_t* dst = static_cast<uint8_t*>(calloc(dst_bytes > 0 ? dst_bytes : 1, 1));
  if (!dst) {
    free(src);
    return;
  }
  for (int64_t r = 0; r < n; r++) {
    const uint8_t* in = src + static_cast<size_t>(r * height / n) * src_row;
    uint8_t* out = dst + static_cast<size_t>(r) * dst_row;
    for (int64_t c = 0; c < n; c++) out[c] = in[c * width / n];
  }
  free(src);

  // The rows are padded like any bitmap's and the file size follows the new contents.
  put32(head + 2, static_cast<uint32_t>(sizeof head + dst_bytes));
  put32(head + 10, static_cast<uint32_t>(sizeof head));
  put32(head + 14 + 4, static_cast<uint32_t>(n));
  put32(head + 14 + 8, static_cast<uint32_t>(n));
  if (get32(head + 14 + 20) != 0) put32(head + 14 + 20, static_cast<uint32_t>(dst_bytes));
  replace_file(path, head, sizeof head, dst, dst_bytes);
  free(dst);
}
