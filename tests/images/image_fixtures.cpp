#include "tests/images/image_fixtures.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include <jpeglib.h>

ScratchDir::ScratchDir() {
  char templ[] = "/tmp/tessel_images_XXXXXX";
  const char* made = mkdtemp(templ);
  if (!made) throw std::runtime_error("mkdtemp failed");
  path_ = made;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool file_there(const std::string& path) { return std::filesystem::exists(path); }

bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

Bytes make_ppm(int width, int height, bool grey, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> noise(-24, 24);
  char head[64];
  snprintf(head, sizeof head, "P%c\n%d %d\n255\n", grey ? '5' : '6', width, height);
  Bytes out(head, head + strlen(head));
  const int channels = grey ? 1 : 3;
  for (int y = 0; y < height; y++) {
    for (int x = 0; x < width; x++) {
      for (int c = 0; c < channels; c++) {
        int v = (x * 255 / (width > 1 ? width - 1 : 1)) * (c == 0) +
                (y * 255 / (height > 1 ? height - 1 : 1)) * (c == 1) + ((x + y) * 5) * (c == 2) +
                (grey ? (x * 3 + y * 2) : 0) + noise(rng);
        out.push_back(static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v));
      }
    }
  }
  return out;
}

Bytes make_jpeg(const ScratchDir& dir, const std::string& name, int width, int height, bool grey,
                const std::string& options, uint32_t seed) {
  const std::string ppm = dir.file(name + ".pnm");
  const std::string jpg = dir.file(name + ".jpg");
  write_file(ppm, make_ppm(width, height, grey, seed));
  if (!run("cjpeg " + options + " -outfile '" + jpg + "' '" + ppm + "'"))
    throw std::runtime_error("cjpeg failed");
  return read_file(jpg);
}

Bytes reference_bmp(const ScratchDir& dir, const std::string& jpeg_path, bool eight_bit) {
  const std::string out = jpeg_path + (eight_bit ? ".ref8.bmp" : ".ref24.bmp");
  if (!run(std::string("djpeg -bmp ") + (eight_bit ? "-colors 256 " : "") + "-outfile '" + out +
           "' '" + jpeg_path + "'"))
    throw std::runtime_error("djpeg failed");
  return read_file(out);
}

namespace {

// The library's compressor over a made-up picture; scans empty means its default script.
Bytes compress(int width, int height, int components, J_COLOR_SPACE space, std::vector<jpeg_scan_info> scans) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = static_cast<JDIMENSION>(width);
  c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = components;
  c.in_color_space = space;
  jpeg_set_defaults(&c);
  if (!scans.empty()) {
    c.scan_info = scans.data();
    c.num_scans = static_cast<int>(scans.size());
  }
  jpeg_start_compress(&c, TRUE);
  std::vector<JSAMPLE> row(static_cast<size_t>(width) * components);
  while (c.next_scanline < c.image_height) {
    for (int x = 0; x < width * components; x++) row[x] = static_cast<JSAMPLE>((x * 7 + c.next_scanline) & 255);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&c, rows, 1);
  }
  jpeg_finish_compress(&c);
  Bytes out(mem, mem + size);
  jpeg_destroy_compress(&c);
  free(mem);
  return out;
}

}  // namespace

Bytes make_cmyk_jpeg(int width, int height) { return compress(width, height, 4, JCS_CMYK, {}); }

Bytes make_jpeg_of_scans(int width, int height, int count) {
  std::vector<jpeg_scan_info> scans;
  scans.push_back({3, {0, 1, 2, 0}, 0, 0, 0, 0});
  for (int c = 0; c < 3; c++)
    for (int k = 1; k < 64 && static_cast<int>(scans.size()) < count; k++) scans.push_back({1, {c, 0, 0, 0}, k, k, 0, 0});
  return compress(width, height, 3, JCS_RGB, scans);
}

uint32_t le32(const Bytes& b, size_t at) {
  return b.at(at) | (b.at(at + 1) << 8) | (b.at(at + 2) << 16) |
         (static_cast<uint32_t>(b.at(at + 3)) << 24);
}

uint16_t le16(const Bytes& b, size_t at) {
  return static_cast<uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
