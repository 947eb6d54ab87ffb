#include "tools/vxview/png.h"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vxview {
namespace {

void put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back((uint8_t)(v >> s));
}

uint32_t get32(const uint8_t* p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]; }

void chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  put32(out, (uint32_t)data.size());
  size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  uLong crc = crc32(0, out.data() + start, (uInt)(out.size() - start));
  put32(out, (uint32_t)crc);
}

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr int kMaxSide = 16384;

int paeth(int a, int b, int c) {
  int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
}

}  // namespace

bool png_write(const std::string& path, int width, int height, const uint8_t* rgb) {
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide || !rgb) return false;
  std::vector<uint8_t> raw;
  raw.reserve((size_t)height * (width * 3 + 1));
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), rgb + (size_t)y * width * 3, rgb + (size_t)(y + 1) * width * 3);
  }
  uLongf packed_size = compressBound((uLong)raw.size());
  std::vector<uint8_t> packed(packed_size);
  if (compress2(packed.data(), &packed_size, raw.data(), (uLong)raw.size(), 9) != Z_OK) return false;
  packed.resize(packed_size);
  std::vector<uint8_t> out(kSignature, kSignature + 8);
  std::vector<uint8_t> header;
  put32(header, (uint32_t)width);
  put32(header, (uint32_t)height);
  header.insert(header.end(), {8, 2, 0, 0, 0});
  chunk(out, "IHDR", header);
  chunk(out, "IDAT", packed);
  chunk(out, "IEND", {});
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  return std::fclose(f) == 0 && ok;
}

bool png_read(const std::string& path, int& width, int& height, std::vector<uint8_t>& rgb) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::vector<uint8_t> file;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && file.size() < (64u << 20)) file.insert(file.end(), buf, buf + n);
  std::fclose(f);
  if (file.size() < 8 || std::memcmp(file.data(), kSignature, 8) != 0) return false;
  std::vector<uint8_t> idat;
  width = height = 0;
  for (size_t at = 8; at + 12 <= file.size();) {
    uint32_t len = get32(&file[at]);
    if (len > file.size() - at - 12) return false;
    const uint8_t* type = &file[at + 4];
    const uint8_t* data = &file[at + 8];
    if (std::memcmp(type, "IHDR", 4) == 0) {
      if (len != 13 || data[8] != 8 || data[9] != 2 || data[12] != 0) return false;
      width = (int)get32(data);
      height = (int)get32(data + 4);
    } else if (std::memcmp(type, "IDAT", 4) == 0) {
      idat.insert(idat.end(), data, data + len);
    } else if (std::memcmp(type, "IEND", 4) == 0) {
      break;
    }
    at += 12 + len;
  }
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return false;
  const size_t row = (size_t)width * 3;
  std::vector<uint8_t> raw((row + 1) * height);
  uLongf raw_size = (uLongf)raw.size();
  if (uncompress(raw.data(), &raw_size, idat.data(), (uLong)idat.size()) != Z_OK || raw_size != raw.size())
    return false;
  rgb.assign(row * height, 0);
  for (int y = 0; y < height; ++y) {
    uint8_t filter = raw[y * (row + 1)];
    const uint8_t* in = &raw[y * (row + 1) + 1];
    uint8_t* out = &rgb[y * row];
    const uint8_t* up = y ? &rgb[(y - 1) * row] : nullptr;
    for (size_t i = 0; i < row; ++i) {
      int a = i >= 3 ? out[i - 3] : 0, b = up ? up[i] : 0, c = (up && i >= 3) ? up[i - 3] : 0;
      int p;
      switch (filter) {
        case 0: p = 0; break;
        case 1: p = a; break;
        case 2: p = b; break;
        case 3: p = (a + b) / 2; break;
        case 4: p = paeth(a, b, c); break;
        default: return false;
      }
      out[i] = (uint8_t)(in[i] + p);
    }
  }
  return true;
}

}  // namespace vxview
