#pragma once
// Test fixtures: a scratch folder, PPM pictures from a fixed seed, and the command-line JPEG
// tools that serve as the reference for our BMP files.
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

Bytes read_file(const std::string& path);
void write_file(const std::string& path, const Bytes& bytes);
bool file_there(const std::string& path);
// Runs a shell command; true when it exits 0.
bool run(const std::string& command);

// A w x h RGB (or grey) picture: smooth gradients plus noise from the seed, so that both the
// DCT and the colour quantiser have real work.
Bytes make_ppm(int width, int height, bool grey, uint32_t seed);
// Writes the PPM and compresses it with cjpeg and the given options; returns the JPEG bytes.
Bytes make_jpeg(const ScratchDir& dir, const std::string& name, int width, int height, bool grey,
                const std::string& options, uint32_t seed = 7);
// djpeg -bmp (with " -colors 256" when eight_bit) of a JPEG file.
Bytes reference_bmp(const ScratchDir& dir, const std::string& jpeg_path, bool eight_bit);
// A CMYK JPEG made with the decoder library's own compressor.
Bytes make_cmyk_jpeg(int width, int height);
// An RGB JPEG of count scans (at most 190) made the same way: the DC of every component,
// then each AC coefficient of each component alone, component after component (more scans
// than cjpeg's scripts may hold).
Bytes make_jpeg_of_scans(int width, int height, int count);

uint32_t le32(const Bytes& b, size_t at);
uint16_t le16(const Bytes& b, size_t at);
