#include "tests/engine/engine_fixture.h"

namespace {

using RasterTest = EngineTest;

TEST_F(RasterTest, EightBitBmpRowsTopDownWithPalette) {
  std::vector<unsigned char> px = {1, 2, 3, 4, 5, 6};  // 3 x 2, rows top first
  ASSERT_NO_FATAL_FAILURE(write("sky.bmp", make_bmp(3, 2, 8, px, 16)));
  VxSetSearchPath(path("").c_str(), 1);
  VxRaster* r = VxReadRaster("SKY.jpg", 17);  // case and extension do not matter
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(VxGetRasterWidth(r), 3);
  EXPECT_EQ(VxGetRasterHeight(r), 2);
  EXPECT_EQ(VxGetRasterDepth(r), 8);
  unsigned char* p = VxGetRasterPixels(r);
  int stride = VxGetRasterStride(r);
  EXPECT_EQ(p[0], 1);
  EXPECT_EQ(p[stride + 2], 6);
  EXPECT_TRUE(VxReleaseRasterPixels(r));
  const unsigned char* pal = VxGetRasterPalette(r);
  EXPECT_EQ(pal[4 * 5 + 1], 250);  // green of entry 5 as written
  EXPECT_EQ(pal[4 * 20], 0);       // beyond the 16 entries used
  VxDestroyRaster(r);
}

TEST_F(RasterTest, TwentyFourBitWidthThreePadsRows) {
  std::vector<unsigned char> px(3 * 3 * 2);
  for (size_t i = 0; i < px.size(); ++i) px[i] = (unsigned char)(10 + i);
  ASSERT_NO_FATAL_FAILURE(write("w3.bmp", make_bmp(3, 2, 24, px)));
  VxRaster* r = VxReadRaster(path("w3.bmp").c_str(), 5);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(VxGetRasterDepth(r), 24);
  unsigned char* p = VxGetRasterPixels(r);
  EXPECT_EQ(p[VxGetRasterStride(r) + 8], 10 + 17);
  VxReleaseRasterPixels(r);
  VxDestroyRaster(r);
}

TEST_F(RasterTest, LyingOrUnsupportedBmpFails) {
  std::vector<unsigned char> px(16 * 16, 7);
  std::string good = make_bmp(16, 16, 8, px);
  struct Case {
    const char* what;
    size_t at;
    std::string bytes;
    int code;
  };
  auto with = [&](size_t at, std::string b) {
    std::string s = good;
    s.replace(at, b.size(), b);
    return s;
  };
  std::vector<std::pair<std::string, int>> cases = {
      {with(18, std::string("\x00\x10\x00\x00", 4)), VX_E_TRUNCATED},   // width 4096
      {with(22, std::string("\x00\x01\x00\x00", 4)), VX_E_TRUNCATED},   // height 256
      {with(18, std::string("\x00\x00\x01\x00", 4)), VX_E_BAD_FORMAT},  // width 65536
      {with(46, std::string("\x00\x02\x00\x00", 4)), VX_E_BAD_FORMAT},  // 512 colours
      {with(30, std::string("\x01\x00\x00\x00", 4)), VX_E_BAD_FORMAT},  // RLE
      {with(28, std::string("\x04\x00", 2)), VX_E_BAD_FORMAT},          // 4 bits
      {with(14, std::string("\xff\xff\xff\x7f", 4)), VX_E_BAD_FORMAT},  // info size
      {good.substr(0, good.size() - 1), VX_E_TRUNCATED},
      {good.substr(0, 60), VX_E_TRUNCATED},
      {"BM", VX_E_BAD_FORMAT},
  };
  int i = 0;
  for (auto& [bytes, code] : cases) {
    std::string name = "bad" + std::to_string(i++) + ".bmp";
    ASSERT_NO_FATAL_FAILURE(write(name, bytes));
    EXPECT_EQ(VxReadRaster(path(name).c_str(), 5), nullptr) << name;
    EXPECT_EQ(VxGetError(), code) << name;
  }
  ASSERT_NO_FATAL_FAILURE(write("ok.bmp", good));
  EXPECT_NE(VxReadRaster(path("ok.bmp").c_str(), 5), nullptr);
}

TEST_F(RasterTest, NamedTexturesIgnoreCaseAndExtension) {
  std::vector<unsigned char> px(8 * 8, 3);
  ASSERT_NO_FATAL_FAILURE(write("Wood1.BMP", make_bmp(8, 8, 8, px)));
  VxSetSearchPath(path("").c_str(), 1);
  EXPECT_EQ(VxFindNamedTexture("wood1"), nullptr);
  VxTexture* t = VxReadNamedTexture("WOOD1.jpg");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(VxFindNamedTexture("wood1.bmp"), t);
  VxTexture* again = VxReadNamedTexture("wood1");
  EXPECT_EQ(again, t);  // one texture, a second reference
  VxDestroyTexture(again);
  EXPECT_EQ(VxFindNamedTexture("wood1"), t);
  VxDestroyTexture(t);
  EXPECT_EQ(VxFindNamedTexture("wood1"), nullptr);  // the last reference took it away
  EXPECT_EQ(VxReadNamedTexture("nothere"), nullptr);
  EXPECT_EQ(VxGetError(), VX_E_FILE_NOT_FOUND);
}

TEST_F(RasterTest, MaskFromBlackAndWhiteBitmap) {
  std::vector<unsigned char> px(4 * 2 * 3, 0);
  px[3] = px[4] = px[5] = 255;  // second pixel of the top row white
  ASSERT_NO_FATAL_FAILURE(write("holes.bmp", make_bmp(4, 2, 24, px)));
  VxSetSearchPath(path("").c_str(), 1);
  VxRaster* m = VxReadMaskRaster("holes");
  ASSERT_NE(m, nullptr);
  unsigned char* p = VxGetRasterPixels(m);
  EXPECT_EQ(p[0], 0);
  EXPECT_EQ(p[1], 255);
  VxReleaseRasterPixels(m);
  // Applied at the texture's size: 8 x 4 takes every pixel twice.
  VxTexture* t = VxCreateTexture(VxCreateRaster(8, 4));
  ASSERT_TRUE(VxMaskTexture(t, m));
  unsigned char* q = VxGetRasterPixels(VxGetTextureMask(t));
  EXPECT_EQ(q[1], 0);
  EXPECT_EQ(q[2], 255);
  EXPECT_EQ(q[3], 255);
  EXPECT_EQ(q[4], 0);
  VxDestroyRaster(m);
  VxDestroyTexture(t);
}

TEST_F(RasterTest, RasterFromBitmapFlipsBottomUp) {
  unsigned char bits[2 * 4] = {1, 2, 0, 0, 3, 4, 0, 0};  // 2 x 2, stride 4, bottom row first
  unsigned char pal[8] = {9, 8, 7, 0, 6, 5, 4, 0};
  VxDib dib{2, 2, 8, 4, 1, bits, pal, 2};
  VxBitmapSource src{nullptr, &dib};
  VxRaster* r = VxCreateRasterFromBitmap(&src, 5);
  ASSERT_NE(r, nullptr);
  unsigned char* p = VxGetRasterPixels(r);
  EXPECT_EQ(p[0], 3);
  EXPECT_EQ(p[3], 2);
  EXPECT_EQ(VxGetRasterPalette(r)[4], 6);
  VxReleaseRasterPixels(r);
  VxDib bad = dib;
  bad.stride = 1;
  VxBitmapSource s2{nullptr, &bad};
  EXPECT_EQ(VxCreateRasterFromBitmap(&s2, 5), nullptr);
  VxTexture* t = VxCreateTexture(r);
  EXPECT_FALSE(VxDestroyRaster(r));  // the texture owns it now
  VxDestroyTexture(t);
}

TEST_F(RasterTest, FrameObjectsStepThroughStackedFrames) {
  VxTexture* anim = VxCreateTexture(VxCreateRaster(4, 12));  // three frames
  VxTexture* still = VxCreateTexture(VxCreateRaster(4, 4));
  EXPECT_TRUE(VxForEachFrameObject(VxStepFrame));
  EXPECT_EQ(VxGetTextureFrame(anim), 1);
  EXPECT_EQ(VxGetTextureFrame(still), 0);
  VxForEachFrameObject(VxStepFrame);
  VxForEachFrameObject(VxStepFrame);
  EXPECT_EQ(VxGetTextureFrame(anim), 0);
  VxDestroyTexture(anim);
  VxDestroyTexture(still);
}

}  // namespace

namespace {

// A texture given a new picture of another size keeps a mask that fits it, so it can still
// be stored and read back.
TEST_F(RasterTest, NewPictureKeepsFittedMaskAndStillStreams) {
  VxTexture* t = VxCreateTexture(VxCreateRaster(4, 4));
  VxAddNamedTexture("stone", t);
  VxRaster* mask = VxCreateRaster(4, 4);
  unsigned char* m = VxGetRasterPixels(mask);
  m[0] = m[1] = 1;  // top-left two pixels opaque
  VxReleaseRasterPixels(mask);
  VxMaskTexture(t, mask);
  VxDestroyRaster(mask);
  ASSERT_TRUE(VxSetTextureRaster(t, VxCreateRaster(8, 8)));
  VxRaster* fitted = VxGetTextureMask(t);
  ASSERT_EQ(VxGetRasterWidth(fitted), 8);
  unsigned char* f = VxGetRasterPixels(fitted);
  EXPECT_EQ(f[3], 255);
  EXPECT_EQ(f[4], 0);
  VxReleaseRasterPixels(fitted);
  VxStream* s = VxOpenStream(VX_STREAM_MEMORY, VX_STREAM_WRITE, nullptr);
  ASSERT_TRUE(VxWriteStreamChunk(s, VX_CHUNK_TEXTURE, t, 8));
  VxMemoryBlock b{};
  VxCloseStream(s, &b);
  VxDestroyTexture(t);
  s = VxOpenStream(VX_STREAM_MEMORY, VX_STREAM_READ, &b);
  VxTexture* back = nullptr;
  EXPECT_TRUE(VxReadStreamChunk(s, VX_CHUNK_TEXTURE, &back, 8));
  VxCloseStream(s, nullptr);
  VxFreeMemory(b.start);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(VxGetRasterWidth(VxGetTextureRaster(back)), 8);
  VxDestroyTexture(back);
}

TEST_F(RasterTest, StreamOfSeveralChunksSkipsUnreadBodies) {
  VxTexture* a = VxCreateTexture(VxCreateRaster(2, 2));
  VxAddNamedTexture("first", a);
  VxTexture* b = VxCreateTexture(VxCreateRasterDepth(3, 1, 24));
  VxAddNamedTexture("second", b);
  std::string file = path("two.chunks");
  VxStream* s = VxOpenStream(VX_STREAM_FILE, VX_STREAM_WRITE, file.c_str());
  VxWriteStreamChunk(s, VX_CHUNK_TEXTURE, a, 8);
  VxWriteStreamChunk(s, VX_CHUNK_TEXTURE, b, 8);
  ASSERT_TRUE(VxCloseStream(s, nullptr));
  VxDestroyTexture(a);
  VxDestroyTexture(b);
  s = VxOpenStream(VX_STREAM_FILE, VX_STREAM_READ, file.c_str());
  uint32_t type;
  ASSERT_TRUE(VxReadStreamChunkType(s, &type));  // body of the first left unread
  ASSERT_TRUE(VxReadStreamChunkType(s, &type));
  VxTexture* t = nullptr;
  ASSERT_TRUE(VxReadStreamChunk(s, type, &t, 8));
  EXPECT_STREQ(VxGetTextureName(t), "second");
  EXPECT_EQ(VxGetRasterDepth(VxGetTextureRaster(t)), 24);
  EXPECT_FALSE(VxReadStreamChunkType(s, &type));  // the end
  EXPECT_EQ(VxGetError(), VX_E_TRUNCATED);
  VxCloseStream(s, nullptr);
  VxDestroyTexture(t);
  EXPECT_EQ(VxOpenStream(VX_STREAM_FILE, VX_STREAM_READ, path("none").c_str()), nullptr);
  EXPECT_EQ(VxOpenStream(VX_STREAM_FILE, VX_STREAM_WRITE, path("no/such/dir").c_str()), nullptr);
  EXPECT_EQ(VxOpenStream(4, VX_STREAM_READ, nullptr), nullptr);
}

}  // namespace
