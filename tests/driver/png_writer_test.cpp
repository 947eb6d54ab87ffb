// The test canvases' PNG writer: a reader built on zlib gets the same pixels back.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "platform/surface.h"
#include "tests/driver/png_writer.h"

namespace driver_test {
namespace {

uint32_t get32(const uint8_t* p) { return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]; }

TEST(PngWriter, RoundTripsACanvas) {
  CanvasSurface canvas(5, 3, 0x102030);
  const uint8_t red[3] = {255, 0, 0};
  canvas.put_rgb(4, 2, 1, 1, red, 3);
  std::vector<uint8_t> png = png_encode(canvas.width(), canvas.height(), canvas.rgb().data());
  ASSERT_GT(png.size(), 8u + 25 + 12);
  EXPECT_EQ(std::memcmp(png.data(), "\x89PNG\r\n\x1a\n", 8), 0);
  size_t at = 8;
  std::vector<uint8_t> idat;
  int chunks = 0;
  while (at + 12 <= png.size()) {
    uint32_t length = get32(&png[at]);
    ASSERT_LE(at + 12 + length, png.size());
    const uint8_t* type = &png[at + 4];
    uLong crc = crc32(0L, type, 4 + length);
    EXPECT_EQ(get32(&png[at + 8 + length]), static_cast<uint32_t>(crc));
    if (!std::memcmp(type, "IHDR", 4)) {
      EXPECT_EQ(get32(type + 4), 5u);
      EXPECT_EQ(get32(type + 8), 3u);
    }
    if (!std::memcmp(type, "IDAT", 4)) idat.insert(idat.end(), type + 4, type + 4 + length);
    at += 12 + length;
    ++chunks;
  }
  EXPECT_EQ(chunks, 3);
  std::vector<uint8_t> raw(3 * (1 + 5 * 3));
  uLongf raw_size = raw.size();
  ASSERT_EQ(uncompress(raw.data(), &raw_size, idat.data(), idat.size()), Z_OK);
  ASSERT_EQ(raw_size, raw.size());
  for (int y = 0; y < 3; ++y) {
    EXPECT_EQ(raw[y * 16], 0);
    for (int x = 0; x < 5; ++x) {
      uint32_t rgb = (uint32_t{raw[y * 16 + 1 + 3 * x]} << 16) | (uint32_t{raw[y * 16 + 2 + 3 * x]} << 8) |
                     raw[y * 16 + 3 + 3 * x];
      EXPECT_EQ(rgb, canvas.pixel(x, y));
    }
  }
  EXPECT_EQ(canvas.pixel(4, 2), 0xFF0000u);
}

}  // namespace
}  // namespace driver_test
