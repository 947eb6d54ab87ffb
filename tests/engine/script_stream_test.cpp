#include "tests/engine/engine_fixture.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

using ScriptStreamTest = EngineTest;

const char* kScript =
    "# a textured post with a sign face\n"
    "CLUMPBEGIN\n"
    "  tag 42\n"
    "  Colour 0.5 0.25 1\n"
    "  surface 0.6 0.7 0.1\n"
    "  vertex -1 0 0 uv 0 1\n"
    "  vertex 1 0 0 uv 1 1\n"
    "  vertex 1 2 0 uv 1 0\n"
    "  vertex -1 2 0 uv 0 0\n"
    "  texture Brick.jpg\n"
    "  quad 1 2 3 4 tag 100\n"
    "  texture null\n"
    "  opacity 0.5\n"
    "  triangle 1 3 2\n"
    "  clump begin\n"
    "    tag 7\n"
    "    axisalignment zorienty\n"
    "    transform translate 0 3 0\n"
    "    vertex 0 0 0\n"
    "    vertex 1 0 0\n"
    "    vertex 0 1 0\n"
    "    polygon 3 1 2 3 tag 200\n"
    "  clump end\n"
    "clumpend\n";

VxClump* read_text(const std::string& s) { return VxReadClumpFromMemory(s.data(), s.size()); }

void put_brick(ScriptStreamTest* t) {
  std::vector<unsigned char> px(4 * 4);
  for (size_t i = 0; i < px.size(); ++i) px[i] = (unsigned char)i;
  t->write("brick.BMP", make_bmp(4, 4, 8, px));
  ASSERT_TRUE(VxSetSearchPath(t->path("").c_str(), 1));
}

void expect_same(VxClump* a, VxClump* b) {
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(VxGetClumpTag(a), VxGetClumpTag(b));
  EXPECT_EQ(VxGetClumpAxisAlignment(a), VxGetClumpAxisAlignment(b));
  ASSERT_EQ(VxGetClumpNumVertices(a), VxGetClumpNumVertices(b));
  for (int i = 1; i <= VxGetClumpNumVertices(a); ++i) {
    VxVector p, q;
    VxReal u1, v1, u2, v2;
    VxGetClumpVertex(a, i, &p), VxGetClumpVertex(b, i, &q);
    VxGetClumpVertexUV(a, i, &u1, &v1), VxGetClumpVertexUV(b, i, &u2, &v2);
    EXPECT_EQ(std::memcmp(&p, &q, sizeof p), 0);
    EXPECT_EQ(u1, u2);
    EXPECT_EQ(v1, v2);
  }
  ASSERT_EQ(VxGetClumpNumPolygons(a), VxGetClumpNumPolygons(b));
  VxMaterial* ma = VxCreateMaterial();
  VxMaterial* mb = VxCreateMaterial();
  for (int i = 0; i < VxGetClumpNumPolygons(a); ++i) {
    VxPolygon* p = VxGetClumpPolygon(a, i);
    VxPolygon* q = VxGetClumpPolygon(b, i);
    EXPECT_EQ(VxGetPolygonTag(p), VxGetPolygonTag(q));
    int n = VxGetPolygonNumVertices(p);
    ASSERT_EQ(n, VxGetPolygonNumVertices(q));
    std::vector<int> x(n), y(n);
    VxGetPolygonVertexIndices(p, x.data()), VxGetPolygonVertexIndices(q, y.data());
    EXPECT_EQ(x, y);
    VxGetPolygonMaterial(p, ma), VxGetPolygonMaterial(q, mb);
    VxReal r1, g1, b1, r2, g2, b2;
    VxGetMaterialColor(ma, &r1, &g1, &b1), VxGetMaterialColor(mb, &r2, &g2, &b2);
    EXPECT_EQ(r1, r2);
    EXPECT_EQ(g1, g2);
    EXPECT_EQ(b1, b2);
    EXPECT_EQ(VxGetMaterialOpacity(ma), VxGetMaterialOpacity(mb));
    EXPECT_EQ(VxGetMaterialLook(ma), VxGetMaterialLook(mb));
    VxTexture* ta = VxGetPolygonTexture(p);
    VxTexture* tb = VxGetPolygonTexture(q);
    EXPECT_EQ(ta == nullptr, tb == nullptr);
    if (ta && tb) {
      EXPECT_STREQ(VxGetTextureName(ta), VxGetTextureName(tb));
    }
  }
  VxDestroyMaterial(ma);
  VxDestroyMaterial(mb);
  VxMatrix* m1 = VxCreateMatrix();
  VxMatrix* m2 = VxCreateMatrix();
  VxGetClumpMatrix(a, m1), VxGetClumpMatrix(b, m2);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(VxGetMatrixElement(m1, r, c), VxGetMatrixElement(m2, r, c));
  VxClump* ka = VxGetFirstChildClump(a);
  VxClump* kb = VxGetFirstChildClump(b);
  EXPECT_EQ(ka == nullptr, kb == nullptr);
  for (; ka && kb; ka = VxGetNextSiblingClump(ka), kb = VxGetNextSiblingClump(kb))
    ASSERT_NO_FATAL_FAILURE(expect_same(ka, kb));
}

TEST_F(ScriptStreamTest, ScriptBuildsWhatItSays) {
  ASSERT_NO_FATAL_FAILURE(put_brick(this));
  VxClump* c = read_text(kScript);
  ASSERT_NE(c, nullptr) << VxGetError();
  EXPECT_EQ(VxGetClumpTag(c), 42);
  ASSERT_EQ(VxGetClumpNumPolygons(c), 2);
  VxPolygon* quad = VxGetClumpPolygon(c, 0);
  EXPECT_EQ(VxGetPolygonTag(quad), 100);
  ASSERT_NE(VxGetPolygonTexture(quad), nullptr);
  EXPECT_STREQ(VxGetTextureName(VxGetPolygonTexture(quad)), "brick");
  EXPECT_EQ(VxGetPolygonTexture(VxGetClumpPolygon(c, 1)), nullptr);
  VxClump* part = VxFindTaggedClump(c, 7);
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(VxGetClumpAxisAlignment(part), VX_ALIGN_ZORIENTY);
  VxVector o;
  VxGetClumpOrigin(part, &o);
  EXPECT_FLOAT_EQ(o.y, 3);
  EXPECT_EQ(VxGetPolygonTag(VxGetClumpPolygon(part, 0)), 200);
  VxDestroyClump(c);
}

// The untextured version of a model drops every texture line but "texture null".
TEST_F(ScriptStreamTest, ScriptStandsWithoutTextureLines) {
  std::string flat;
  for (size_t pos = 0; pos < std::strlen(kScript);) {
    size_t end = std::string(kScript).find('\n', pos);
    std::string line = std::string(kScript).substr(pos, end - pos + 1);
    if (line.find("texture") == std::string::npos || line.find("null") != std::string::npos) flat += line;
    pos = end + 1;
  }
  VxClump* c = read_text(flat);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(VxGetPolygonTexture(VxGetClumpPolygon(c, 0)), nullptr);
  EXPECT_EQ(VxGetClumpNumPolygons(c), 2);
  VxDestroyClump(c);
}

TEST_F(ScriptStreamTest, ClumpRoundTripThroughMemoryStream) {
  ASSERT_NO_FATAL_FAILURE(put_brick(this));
  VxClump* c = read_text(kScript);
  ASSERT_NE(c, nullptr);
  VxStream* s = VxOpenStream(VX_STREAM_MEMORY, VX_STREAM_WRITE, nullptr);
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(VxWriteStreamChunk(s, VX_CHUNK_CLUMP, c, 18));
  VxMemoryBlock block{};
  ASSERT_TRUE(VxCloseStream(s, &block));
  ASSERT_GT(block.length, 8);
  // Chunk type first, little-endian: 'CLUM' as 0x434C554D.
  const unsigned char* b = static_cast<const unsigned char*>(block.start);
  EXPECT_EQ(b[0], 0x4D);
  EXPECT_EQ(b[3], 0x43);
  VxStream* r = VxOpenStream(VX_STREAM_MEMORY, VX_STREAM_READ, &block);
  uint32_t type = 0;
  ASSERT_TRUE(VxReadStreamChunkType(r, &type));
  EXPECT_EQ(type, VX_CHUNK_CLUMP);
  VxClump* back = nullptr;
  ASSERT_TRUE(VxReadStreamChunk(r, type, &back, 0));
  VxCloseStream(r, nullptr);
  VxFreeMemory(block.start);
  ASSERT_NO_FATAL_FAILURE(expect_same(c, back));
  VxDestroyClump(c);
  VxDestroyClump(back);
}

int look_of(VxClump* c, int polygon) {
  VxMaterial* m = VxCreateMaterial();
  VxGetPolygonMaterial(VxGetClumpPolygon(c, polygon), m);
  int look = VxGetMaterialLook(m);
  VxDestroyMaterial(m);
  return look;
}

std::vector<unsigned char> clump_chunk(VxClump* c) {
  VxStream* s = VxOpenStream(VX_STREAM_MEMORY, VX_STREAM_WRITE, nullptr);
  VxWriteStreamChunk(s, VX_CHUNK_CLUMP, c, 18);
  VxMemoryBlock block{};
  VxCloseStream(s, &block);
  std::vector<unsigned char> bytes((unsigned char*)block.start, (unsigned char*)block.start + block.length);
  VxFreeMemory(block.start);
  return bytes;
}

VxClump* clump_from(std::vector<unsigned char> bytes) {
  VxMemoryBlock b{bytes.data(), (int32_t)bytes.size()};
  VxStream* r = VxOpenStream(VX_STREAM_MEMORY, VX_STREAM_READ, &b);
  VxClump* out = nullptr;
  VxReadStreamChunk(r, VX_CHUNK_CLUMP, &out, 0);
  VxCloseStream(r, nullptr);
  return out;
}

TEST_F(ScriptStreamTest, LookStatementsSetEachChoiceAndTravelInStreams) {
  const std::string corners = "vertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n";
  VxClump* c = read_text("clumpbegin\n" + corners +
                         "triangle 1 2 3\n"
                         "Shading SMOOTH\nlighting unlit\ntriangle 1 2 3\n"
                         "mapping affine\ndither on\ngeometry outline\ntriangle 1 2 3\n"
                         "shading flat\nlighting lit\ngeometry polyline\ntriangle 1 2 3\n"
                         "mapping perspective\ndither off\ngeometry points\ntriangle 1 2 3\n"
                         "geometry polygons\ntriangle 1 2 3\nclumpend\n");
  ASSERT_NE(c, nullptr) << VxGetError();
  // Each statement changes its own choice only, for the polygons that follow.
  EXPECT_EQ(look_of(c, 0), 0);
  EXPECT_EQ(look_of(c, 1), VX_LOOK_SMOOTH | VX_LOOK_UNLIT);
  EXPECT_EQ(look_of(c, 2), VX_LOOK_SMOOTH | VX_LOOK_UNLIT | VX_LOOK_AFFINE | VX_LOOK_DITHER | VX_LOOK_OUTLINE);
  EXPECT_EQ(look_of(c, 3), VX_LOOK_AFFINE | VX_LOOK_DITHER | VX_LOOK_POLYLINE);
  EXPECT_EQ(look_of(c, 4), VX_LOOK_POINTS);
  EXPECT_EQ(look_of(c, 5), 0);
  std::vector<unsigned char> chunk = clump_chunk(c);
  VxClump* back = clump_from(chunk);
  ASSERT_NO_FATAL_FAILURE(expect_same(c, back));
  VxDestroyClump(back);
  VxDestroyClump(c);

  // A chunk written before polygons had a look (version 1) is still read, drawn as usual.
  c = read_text("clumpbegin\n" + corners + "dither on\ntriangle 1 2 3\nclumpend\n");
  chunk = clump_chunk(c);
  VxDestroyClump(c);
  // header 8, magic and version 8, texture count 2; clump: tag 4, state 1, mode 4, alignment 1,
  // matrices 128, 3 vertices 4 + 60, polygon count 4; polygon: tag 4, corners 2 + 12, reals 28,
  // six integers 24, then the look.
  const size_t look_at = 8 + 8 + 2 + 4 + 1 + 4 + 1 + 128 + 64 + 4 + 4 + 14 + 28 + 24;
  ASSERT_LT(look_at + 4, chunk.size());
  ASSERT_EQ(chunk[look_at], VX_LOOK_DITHER);
  std::vector<unsigned char> old = chunk;
  old.erase(old.begin() + (long)look_at, old.begin() + (long)look_at + 4);
  old[12] = 1;  // version
  old[4] -= 4;  // body length
  back = clump_from(old);
  ASSERT_NE(back, nullptr) << VxGetError();
  EXPECT_EQ(look_of(back, 0), 0);
  VxDestroyClump(back);
  // A look of bits no drawing knows is another program's data.
  std::vector<unsigned char> odd = chunk;
  odd[look_at + 1] = 0x01;
  EXPECT_EQ(clump_from(odd), nullptr);
  EXPECT_EQ(VxGetError(), VX_E_BAD_FORMAT);

  for (const char* bad : {"shading glossy", "dither", "geometry points lines", "lighting 1"}) {
    EXPECT_EQ(read_text("clumpbegin\n" + corners + bad + "\nclumpend\n"), nullptr) << bad;
    EXPECT_EQ(VxGetError(), VX_E_BAD_FORMAT) << bad;
  }
  VxMaterial* m = VxCreateMaterial();
  EXPECT_FALSE(VxSetMaterialLook(m, 0x40));
  EXPECT_TRUE(VxSetMaterialLook(m, VX_LOOK_POLYLINE | VX_LOOK_SMOOTH));
  EXPECT_EQ(VxGetMaterialLook(m), VX_LOOK_POLYLINE | VX_LOOK_SMOOTH);
  VxDestroyMaterial(m);
}

// Texture chunk carries the name, so a decoded clump finds its texture once the file is gone.
TEST_F(ScriptStreamTest, TextureChunkFileLetsClumpFindTextureAfterFileGone) {
  ASSERT_NO_FATAL_FAILURE(put_brick(this));
  VxTexture* t = VxReadNamedTexture("BRICK");
  ASSERT_NE(t, nullptr);
  VxRaster* mask = VxCreateRaster(4, 4);
  VxGetRasterPixels(mask)[5] = 1;
  VxReleaseRasterPixels(mask);
  ASSERT_TRUE(VxMaskTexture(t, mask));
  VxDestroyRaster(mask);
  VxClump* c = read_text(kScript);
  std::string tex = path("brick.tex"), clu = path("post.clu");
  VxStream* s = VxOpenStream(VX_STREAM_FILE, VX_STREAM_WRITE, tex.c_str());
  ASSERT_TRUE(VxWriteStreamChunk(s, VX_CHUNK_TEXTURE, t, 8));
  ASSERT_TRUE(VxCloseStream(s, nullptr));
  s = VxOpenStream(VX_STREAM_FILE, VX_STREAM_WRITE, clu.c_str());
  ASSERT_TRUE(VxWriteStreamChunk(s, VX_CHUNK_CLUMP, c, 18));
  ASSERT_TRUE(VxCloseStream(s, nullptr));
  VxDestroyClump(c);
  VxDestroyTexture(t);
  std::filesystem::remove(path("brick.BMP"));
  ASSERT_EQ(VxFindNamedTexture("brick"), nullptr);

  s = VxOpenStream(VX_STREAM_FILE, VX_STREAM_READ, tex.c_str());
  VxTexture* loaded = nullptr;
  ASSERT_TRUE(VxReadStreamChunk(s, VX_CHUNK_TEXTURE, &loaded, 8));
  VxCloseStream(s, nullptr);
  EXPECT_EQ(VxFindNamedTexture("Brick.bmp"), loaded);
  ASSERT_NE(VxGetTextureMask(loaded), nullptr);
  EXPECT_EQ(VxGetRasterPixels(VxGetTextureMask(loaded))[5], 255);
  EXPECT_EQ(VxGetRasterPixels(VxGetTextureMask(loaded))[4], 0);
  EXPECT_EQ(VxGetRasterPixels(VxGetTextureRaster(loaded))[7], 7);

  s = VxOpenStream(VX_STREAM_FILE, VX_STREAM_READ, clu.c_str());
  VxClump* back = nullptr;
  ASSERT_TRUE(VxReadStreamChunk(s, VX_CHUNK_CLUMP, &back, 0));
  VxCloseStream(s, nullptr);
  EXPECT_EQ(VxGetPolygonTexture(VxGetClumpPolygon(back, 0)), loaded);
  VxDestroyClump(back);
  VxDestroyTexture(loaded);
}

TEST_F(ScriptStreamTest, MalformedScriptsFailWithCode) {
  const char* bad[] = {
      "clumpbegin\nvertex 0 0\nclumpend\n",                 // too few numbers
      "clumpbegin\nvertex 0 0 0\ntriangle 1 1 2\nclumpend\n",  // vertex 2 missing
      "clumpbegin\nfrobnicate\nclumpend\n",                 // unknown statement
      "vertex 0 0 0\n",                                     // outside a clump
      "clumpbegin\nvertex 0 0 nan\nclumpend\n",             // not a number
      "clumpbegin\nclumpend\nclumpbegin\nclumpend\n",       // two top-level clumps
      "clumpbegin\nvertex 0 0 0 uv 1\nclumpend\n",
      "clumpbegin\npolygon 2 1 2\nclumpend\n",
      "clumpend\n",
  };
  for (const char* s : bad) {
    EXPECT_EQ(read_text(s), nullptr) << s;
    EXPECT_EQ(VxGetError(), VX_E_BAD_FORMAT) << s;
  }
  EXPECT_EQ(read_text("clumpbegin\nvertex 0 0 0\n"), nullptr);  // cut short
  EXPECT_EQ(VxGetError(), VX_E_TRUNCATED);
  EXPECT_EQ(read_text(""), nullptr);
  std::string longline = "clumpbegin\nvertex 0 0 0" + std::string(250, ' ') + "\nclumpend\n";
  EXPECT_EQ(read_text(longline), nullptr);
  EXPECT_EQ(VxGetError(), VX_E_BAD_FORMAT);
  EXPECT_EQ(VxReadClump(path("missing.vxx").c_str()), nullptr);
  EXPECT_EQ(VxGetError(), VX_E_FILE_NOT_FOUND);
  // After failures the modelling block is free again.
  EXPECT_TRUE(VxBeginModel());
  EXPECT_TRUE(VxEndModel());
}

TEST_F(ScriptStreamTest, ForeignAndTruncatedStreamsFail) {
  VxClump* c = read_text(kScript);
  VxStream* s = VxOpenStream(VX_STREAM_MEMORY, VX_STREAM_WRITE, nullptr);
  VxWriteStreamChunk(s, VX_CHUNK_CLUMP, c, 18);
  VxMemoryBlock block{};
  VxCloseStream(s, &block);
  VxDestroyClump(c);
  std::vector<unsigned char> good((unsigned char*)block.start, (unsigned char*)block.start + block.length);
  VxFreeMemory(block.start);

  auto read_back = [](std::vector<unsigned char> bytes) -> int {
    VxMemoryBlock b{bytes.data(), (int32_t)bytes.size()};
    VxStream* r = VxOpenStream(VX_STREAM_MEMORY, VX_STREAM_READ, &b);
    VxClump* out = nullptr;
    int ok = VxReadStreamChunk(r, VX_CHUNK_CLUMP, &out, 0);
    VxCloseStream(r, nullptr);
    if (out) VxDestroyClump(out);
    return ok;
  };
  ASSERT_TRUE(read_back(good));
  // Every shorter cut fails cleanly.
  for (size_t n = 0; n < good.size(); n += 7) {
    std::vector<unsigned char> cut(good.begin(), good.begin() + (long)n);
    EXPECT_FALSE(read_back(cut)) << n;
  }
  // Another program's chunk of the same type: wrong magic.
  std::vector<unsigned char> foreign = good;
  foreign[8] ^= 0xFF;
  EXPECT_FALSE(read_back(foreign));
  EXPECT_EQ(VxGetError(), VX_E_BAD_FORMAT);
  // A length field that claims more than there is.
  std::vector<unsigned char> lying = good;
  lying[7] = 0x7F;
  EXPECT_FALSE(read_back(lying));
  EXPECT_EQ(VxGetError(), VX_E_TRUNCATED);
  // Wrong type asked for.
  VxMemoryBlock b{good.data(), (int32_t)good.size()};
  VxStream* r = VxOpenStream(VX_STREAM_MEMORY, VX_STREAM_READ, &b);
  VxTexture* t = nullptr;
  EXPECT_FALSE(VxReadStreamChunk(r, VX_CHUNK_TEXTURE, &t, 8));
  EXPECT_EQ(t, nullptr);
  VxCloseStream(r, nullptr);
}

TEST_F(ScriptStreamTest, ShutdownFreesEverythingAndRestarts) {
  ASSERT_NO_FATAL_FAILURE(put_brick(this));
  VxClump* c = read_text(kScript);
  ASSERT_NE(c, nullptr);
  VxScene* scene = VxCreateScene();
  VxAddClumpToScene(scene, c);
  VxOpenStream(VX_STREAM_MEMORY, VX_STREAM_WRITE, nullptr);
  VxCreateCamera(64, 48, 0);
  ASSERT_TRUE(VxShutdown());
  EXPECT_EQ(VxCreateClump(1, 1), nullptr);
  EXPECT_EQ(VxGetError(), VX_E_NOT_INITIALIZED);
  ASSERT_TRUE(VxInitialize(nullptr));
  EXPECT_EQ(VxFindNamedTexture("brick"), nullptr);
  VxClump* again = read_text("clumpbegin\nvertex 0 0 0\nclumpend\n");
  EXPECT_NE(again, nullptr);
}

}  // namespace

namespace {

TEST_F(ScriptStreamTest, ScriptFileWithCrLfAndComments) {
  ASSERT_NO_FATAL_FAILURE(write("post.vxx", "ClumpBegin\r\n# note\r\n\r\nVERTEX 0 0 0\r\nvertex 1 0 0 UV 1 0\r\n"
                    "vertex 0 1 0\r\nTriangle 1 2 3 TAG -5\r\nclumpend\r\n"));
  VxClump* c = VxReadClump(path("post.vxx").c_str());
  ASSERT_NE(c, nullptr) << VxGetError();
  EXPECT_EQ(VxGetPolygonTag(VxGetClumpPolygon(c, 0)), -5);
  VxReal u, v;
  VxGetClumpVertexUV(c, 2, &u, &v);
  EXPECT_FLOAT_EQ(u, 1);
  VxDestroyClump(c);
}

// A script whose texture line names a mask applies it to the texture it loads.
TEST_F(ScriptStreamTest, TextureLineWithMask) {
  std::vector<unsigned char> px(2 * 2, 9);
  ASSERT_NO_FATAL_FAILURE(write("leaf.bmp", make_bmp(2, 2, 8, px)));
  std::vector<unsigned char> mk(2 * 2 * 3, 0);
  mk[0] = mk[1] = mk[2] = 255;
  ASSERT_NO_FATAL_FAILURE(write("leafmask.bmp", make_bmp(2, 2, 24, mk)));
  VxSetSearchPath(path("").c_str(), 1);
  VxClump* c = read_text("clumpbegin\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
                         "texture leaf mask leafmask\ntriangle 1 2 3\nclumpend\n");
  ASSERT_NE(c, nullptr);
  VxTexture* t = VxGetPolygonTexture(VxGetClumpPolygon(c, 0));
  ASSERT_NE(t, nullptr);
  ASSERT_NE(VxGetTextureMask(t), nullptr);
  unsigned char* m = VxGetRasterPixels(VxGetTextureMask(t));
  EXPECT_EQ(m[0], 255);
  EXPECT_EQ(m[1], 0);
  VxDestroyClump(c);
  EXPECT_EQ(VxFindNamedTexture("leaf"), nullptr);  // nobody holds it any more
}

// A missing texture file leaves the polygon untextured instead of failing the model.
TEST_F(ScriptStreamTest, MissingTextureStillBuilds) {
  VxClump* c = read_text("clumpbegin\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
                         "texture nowhere\ntriangle 1 2 3\nclumpend\n");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(VxGetPolygonTexture(VxGetClumpPolygon(c, 0)), nullptr);
  VxDestroyClump(c);
}

// A downloaded script's texture and mask names reach only the files of the textures folder
// under those names: a name that climbs out, an absolute path or the folder's own file under
// another path is a missing texture, and the planted file outside is never read.
TEST_F(ScriptStreamTest, TextureNamesNeverLeaveTheTexturesFolder) {
  std::filesystem::create_directories(dir_ / "cache" / "textures");
  std::vector<unsigned char> px(2 * 2, 9);
  ASSERT_NO_FATAL_FAILURE(write("cache/textures/leaf.bmp", make_bmp(2, 2, 8, px)));
  // Outside the cache: a picture the engine would happily read, with and without extension.
  ASSERT_NO_FATAL_FAILURE(write("secret.bmp", make_bmp(2, 2, 8, px)));
  ASSERT_NO_FATAL_FAILURE(write("secret", make_bmp(2, 2, 8, px)));
  // Last read a day before its change: any read of it moves its access time.
  timespec times[2] = {{0, 0}, {0, UTIME_OMIT}};
  struct stat before{};
  ASSERT_EQ(stat(path("secret.bmp").c_str(), &before), 0);
  times[0].tv_sec = before.st_mtim.tv_sec - 86400;
  ASSERT_EQ(utimensat(AT_FDCWD, path("secret.bmp").c_str(), times, 0), 0);
  ASSERT_EQ(utimensat(AT_FDCWD, path("secret").c_str(), times, 0), 0);
  ASSERT_TRUE(VxSetSearchPath(path("cache/textures").c_str(), 1));

  auto script = [](const std::string& texture_line) {
    return "clumpbegin\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n" + texture_line +
           "\ntriangle 1 2 3\nclumpend\n";
  };
  const std::string names[] = {"../../secret",      "../../secret.bmp",  path("secret"),
                               path("secret.bmp"), "..\\..\\secret.bmp", "../textures/leaf",
                               "secret.bmp"};
  for (const std::string& name : names) {
    VxClump* c = read_text(script("texture " + name));
    ASSERT_NE(c, nullptr) << name;  // the model still stands, untextured
    EXPECT_EQ(VxGetPolygonTexture(VxGetClumpPolygon(c, 0)), nullptr) << name;
    VxDestroyClump(c);
    EXPECT_EQ(VxReadNamedTexture(name.c_str()), nullptr) << name;
    EXPECT_EQ(VxReadMaskRaster(name.c_str()), nullptr) << name;
    // As a mask of the folder's own texture: the texture without a mask.
    c = read_text(script("texture leaf mask " + name));
    ASSERT_NE(c, nullptr) << name;
    VxTexture* t = VxGetPolygonTexture(VxGetClumpPolygon(c, 0));
    ASSERT_NE(t, nullptr) << name;
    EXPECT_EQ(VxGetTextureMask(t), nullptr) << name;
    VxDestroyClump(c);
  }
  for (const char* planted : {"secret.bmp", "secret"}) {
    struct stat after{};
    ASSERT_EQ(stat(path(planted).c_str(), &after), 0);
    EXPECT_EQ(after.st_atim.tv_sec, times[0].tv_sec) << planted << " was read";
  }
}

}  // namespace
