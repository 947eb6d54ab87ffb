// The BMP files themselves, checked against known values rather than the reference decoder:
// header fields, colour order, row padding, row order and palettes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "client/cache/bmp.h"
#include "client/cache/image.h"
#include "platform/clock.h"
#include "tests/images/image_fixtures.h"

namespace {

int32_t last_status = -1;
void remember(void*, int32_t status) { last_status = status; }

// Converts one JPEG (through the queue, real clock) and returns the BMP bytes.
Bytes convert(const ScratchDir& dir, const Bytes& jpeg, const std::string& name, int colors256) {
  last_status = -1;
  const std::string path = dir.file(name + ".bmp");
  image_convert(jpeg.data(), jpeg.size(), path.c_str(), colors256, remember, nullptr);
  for (int i = 0; i < 10000 && image_busy(); i++) image_update();
  EXPECT_EQ(0, last_status);
  return read_file(path);
}

// A PPM of flat colour blocks (no noise), compressed at top quality.
Bytes flat_jpeg(const ScratchDir& dir, const std::string& name, int w, int h,
                uint8_t (*colour)(int x, int y, int c), const char* options = "-quality 100 -sample 1x1") {
  char head[64];
  snprintf(head, sizeof head, "P6\n%d %d\n255\n", w, h);
  Bytes ppm(head, head + strlen(head));
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
      for (int c = 0; c < 3; c++) ppm.push_back(colour(x, y, c));
  write_file(dir.file(name + ".pnm"), ppm);
  EXPECT_TRUE(run(std::string("cjpeg ") + options + " -outfile '" + dir.file(name + ".jpg") + "' '" +
                  dir.file(name + ".pnm") + "'"));
  return read_file(dir.file(name + ".jpg"));
}

class BmpWriter : public ::testing::Test {
 protected:
  void SetUp() override { image_reset(); }
  void TearDown() override { image_reset(); }
  ScratchDir dir;
};

TEST(BmpHeaders, TrueColourThreeByOne) {
  uint8_t h[54];
  bmp_headers(h, 3, 1, 0, 0, 0);
  const Bytes b(h, h + 54);
  EXPECT_EQ('B', b[0]);
  EXPECT_EQ('M', b[1]);
  EXPECT_EQ(54u + 12u, le32(b, 2));  // one row: 9 pixel bytes padded to 12
  EXPECT_EQ(0u, le32(b, 6));
  EXPECT_EQ(54u, le32(b, 10));
  EXPECT_EQ(40u, le32(b, 14));
  EXPECT_EQ(3u, le32(b, 18));
  EXPECT_EQ(1u, le32(b, 22));
  EXPECT_EQ(1u, le16(b, 26));
  EXPECT_EQ(24u, le16(b, 28));
  EXPECT_EQ(0u, le32(b, 30));
  EXPECT_EQ(0u, le32(b, 34));
  EXPECT_EQ(0u, le32(b, 46));
  EXPECT_EQ(0u, le32(b, 50));
}

TEST(BmpHeaders, EightBitCarriesTheFullPalette) {
  uint8_t h[54];
  bmp_headers(h, 5, 7, 1, 2800, 3900);
  const Bytes b(h, h + 54);
  EXPECT_EQ(54u + 1024u + 8u * 7u, le32(b, 2));
  EXPECT_EQ(54u + 1024u, le32(b, 10));
  EXPECT_EQ(8u, le16(b, 28));
  EXPECT_EQ(2800u, le32(b, 38));
  EXPECT_EQ(3900u, le32(b, 42));
  EXPECT_EQ(256u, le32(b, 46));
}

TEST_F(BmpWriter, ThreeByOneRowIsBlueGreenRedWithZeroPadding) {
  const Bytes jpeg = flat_jpeg(dir, "px", 3, 1, [](int, int, int c) -> uint8_t {
    static const uint8_t rgb[3] = {200, 40, 90};
    return rgb[c];
  });
  const Bytes bmp = convert(dir, jpeg, "px", 0);
  ASSERT_EQ(66u, bmp.size());
  EXPECT_EQ(66u, le32(bmp, 2));
  for (int x = 0; x < 3; x++) {
    EXPECT_NEAR(90, bmp[54 + x * 3 + 0], 8) << "blue of pixel " << x;
    EXPECT_NEAR(40, bmp[54 + x * 3 + 1], 8) << "green of pixel " << x;
    EXPECT_NEAR(200, bmp[54 + x * 3 + 2], 8) << "red of pixel " << x;
  }
  EXPECT_EQ(0, bmp[63]);
  EXPECT_EQ(0, bmp[64]);
  EXPECT_EQ(0, bmp[65]);
}

TEST_F(BmpWriter, RowsAreStoredBottomUp) {
  // Top half red, bottom half blue.
  const Bytes jpeg = flat_jpeg(dir, "ud", 8, 16, [](int, int y, int c) -> uint8_t {
    return static_cast<uint8_t>(y < 8 ? (c == 0 ? 255 : 0) : (c == 2 ? 255 : 0));
  });
  const Bytes bmp = convert(dir, jpeg, "ud", 0);
  ASSERT_EQ(54u + 24u * 16u, bmp.size());
  // First stored row is the bottom (blue), last stored row the top (red).
  EXPECT_GT(bmp[54 + 0], 200);
  EXPECT_LT(bmp[54 + 2], 60);
  const size_t top = 54 + 24 * 15;
  EXPECT_LT(bmp[top + 0], 60);
  EXPECT_GT(bmp[top + 2], 200);
}

TEST_F(BmpWriter, GreyscaleWithoutQuantisationHasAGreyRamp) {
  const Bytes jpeg = make_jpeg(dir, "g", 10, 6, true, "");
  const Bytes bmp = convert(dir, jpeg, "g", 0);
  ASSERT_EQ(54u + 1024u + 12u * 6u, bmp.size());
  EXPECT_EQ(8u, le16(bmp, 28));
  EXPECT_EQ(256u, le32(bmp, 46));
  for (int i = 0; i < 256; i++) {
    EXPECT_EQ(i, bmp[54 + i * 4 + 0]);
    EXPECT_EQ(i, bmp[54 + i * 4 + 1]);
    EXPECT_EQ(i, bmp[54 + i * 4 + 2]);
    EXPECT_EQ(0, bmp[54 + i * 4 + 3]);
  }
  // Padding of each 10-pixel row.
  for (int r = 0; r < 6; r++) {
    EXPECT_EQ(0, bmp[1078 + r * 12 + 10]);
    EXPECT_EQ(0, bmp[1078 + r * 12 + 11]);
  }
}

TEST_F(BmpWriter, QuantisedPaletteHoldsTheMapAndZerosBeyondIt) {
  // Four flat colours: the quantiser needs only a handful of entries.
  const Bytes jpeg = flat_jpeg(dir, "q", 16, 16, [](int x, int y, int c) -> uint8_t {
    static const uint8_t col[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    return col[(x / 8) + 2 * (y / 8)][c];
  });
  const Bytes bmp = convert(dir, jpeg, "q", 1);
  ASSERT_EQ(54u + 1024u + 16u * 16u, bmp.size());
  EXPECT_EQ(8u, le16(bmp, 28));
  // Every pixel indexes an entry; entries past the highest used one are all zero.
  int highest = 0;
  for (size_t i = 1078; i < bmp.size(); i++) highest = std::max<int>(highest, bmp[i]);
  EXPECT_LT(highest, 255);
  for (int i = 0; i < 256; i++) EXPECT_EQ(0, bmp[54 + i * 4 + 3]) << "reserved byte " << i;
  bool zero_tail = true;
  for (int i = 255; i > highest; i--)
    for (int k = 0; k < 3; k++) zero_tail = zero_tail && bmp[54 + i * 4 + k] == 0;
  EXPECT_TRUE(zero_tail);
  // The top-left block is red: its index maps to a red palette entry (blue, green, red order).
  const uint8_t idx = bmp[1078 + 15 * 16 + 0];
  EXPECT_GT(bmp[54 + idx * 4 + 2], 200);
  EXPECT_LT(bmp[54 + idx * 4 + 0], 60);
}

}  // namespace
