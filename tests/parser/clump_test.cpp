// The corpus files built into engine clumps, checked through the engine.
#include "Parser/matrix.h"
#include "engine/vxl21.h"
#include "helpers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

class Clumps : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(VxInitialize(nullptr));
    dir_ = std::filesystem::temp_directory_path() / ("parser_tex_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    VxSetSearchPath(dir_.c_str(), 1);
  }
  void TearDown() override {
    VxShutdown();
    std::filesystem::remove_all(dir_);
  }

  // A 2 x 2 24-bit bitmap.
  void WriteBmp(const char* name) {
    unsigned char b[70] = {'B', 'M'};
    auto le32 = [&](int at, uint32_t v) {
      for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    le32(2, 70);
    le32(10, 54);
    le32(14, 40);
    le32(18, 2);
    le32(22, 2);
    b[26] = 1;
    b[28] = 24;
    for (int i = 54; i < 70; ++i) b[i] = 0x80;
    FILE* f = std::fopen((dir_ / name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(b, 1, sizeof b, f);
    std::fclose(f);
  }

  // Loads a corpus file and builds its clumps the way the model glue does.
  VxClump* Build(const char* file, int options = 3) {
    AgGeometryNode* tree = nullptr;
    AgInterpolatorData* interp = nullptr;
    int rc = AgLoadVrmlFile(CorpusPath(file).c_str(), options, &tree, &interp);
    EXPECT_EQ(rc, 0) << AgGetLastError();
    if (rc) return nullptr;
    delete interp;
    VxClump* clump = tree->BuildClumps(nullptr, 0, 0);
    AgDeleteGeometryTree(tree);
    return clump;
  }

  static VxClump* Part(VxClump* c, int i) {
    VxClump* p = VxGetFirstChildClump(c);
    while (p && i-- > 0) p = VxGetNextSiblingClump(p);
    return p;
  }

  struct PolyMaterial {
    float r, g, b;
    std::string texture;
  };
  static PolyMaterial MaterialOf(VxClump* c, int polygon) {
    VxMaterial* m = VxCreateMaterial();
    PolyMaterial out{-1, -1, -1, ""};
    VxPolygon* p = VxGetClumpPolygon(c, polygon);
    if (p && VxGetPolygonMaterial(p, m)) {
      VxGetMaterialColor(m, &out.r, &out.g, &out.b);
      if (VxTexture* t = VxGetMaterialTexture(m)) out.texture = VxGetTextureName(t);
    }
    VxDestroyMaterial(m);
    return out;
  }

  std::filesystem::path dir_;
};

TEST_F(Clumps, ShapeWithMaterial) {
  VxClump* root = Build("shape_material.wrl");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(VxGetClumpNumVertices(root), 4);
  EXPECT_EQ(VxGetClumpNumPolygons(root), 1);
  EXPECT_EQ(VxGetFirstChildClump(root), nullptr);
  PolyMaterial m = MaterialOf(root, 0);
  EXPECT_FLOAT_EQ(m.r, 1.0f);
  EXPECT_FLOAT_EQ(m.g, 0.0f);
  EXPECT_EQ(m.texture, "");
  VxMaterial* vm = VxCreateMaterial();
  VxGetPolygonMaterial(VxGetClumpPolygon(root, 0), vm);
  EXPECT_NEAR(VxGetMaterialOpacity(vm), 0.5f, 1e-6);
  VxReal a, d, s;
  VxGetMaterialSurface(vm, &a, &d, &s);
  EXPECT_FLOAT_EQ(a, 1.0f);  // an ambient intensity above the usual 0.2 takes all the ambient light
  EXPECT_FLOAT_EQ(s, 0.25f);
  VxDestroyMaterial(vm);
  int idx[4];
  ASSERT_EQ(VxGetPolygonNumVertices(VxGetClumpPolygon(root, 0)), 4);
  VxGetPolygonVertexIndices(VxGetClumpPolygon(root, 0), idx);
  EXPECT_EQ(idx[0], 1);
  EXPECT_EQ(idx[3], 4);
  VxDestroyClump(root);
}

TEST_F(Clumps, TexturedFaceSetFindsItsTexture) {
  ASSERT_NO_FATAL_FAILURE(WriteBmp("brick.bmp"));
  VxClump* root = Build("textured.wrl");
  ASSERT_NE(root, nullptr);
  // Point 0 is used with two texture points.
  EXPECT_EQ(VxGetClumpNumVertices(root), 5);
  EXPECT_EQ(VxGetClumpNumPolygons(root), 2);
  EXPECT_NE(MaterialOf(root, 0).texture, "");
  ASSERT_NE(VxFindNamedTexture("Brick"), nullptr);
  // v is flipped into the range: v = 1 becomes 0.
  VxReal u, v;
  ASSERT_TRUE(VxGetClumpVertexUV(root, 3, &u, &v));
  EXPECT_FLOAT_EQ(u, 1.0f);
  EXPECT_FLOAT_EQ(v, 0.0f);
  VxDestroyClump(root);
}

TEST_F(Clumps, MissingTextureTurnsRed) {
  VxClump* root = Build("textured.wrl");
  ASSERT_NE(root, nullptr);
  PolyMaterial m = MaterialOf(root, 0);
  EXPECT_EQ(m.texture, "");
  EXPECT_FLOAT_EQ(m.r, 1.0f);
  EXPECT_FLOAT_EQ(m.g, 0.0f);
  EXPECT_FLOAT_EQ(m.b, 0.0f);
  VxDestroyClump(root);
  // Without texture coordinates the material keeps its colour.
  root = Build("textured.wrl", 2);
  ASSERT_NE(root, nullptr);
  EXPECT_NEAR(MaterialOf(root, 0).r, 0.5f, 0.01);
  EXPECT_EQ(VxGetClumpNumVertices(root), 4);
  VxDestroyClump(root);
}

TEST_F(Clumps, PerFaceColours) {
  VxClump* root = Build("colours.wrl");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(VxGetClumpNumPolygons(root), 3);
  EXPECT_FLOAT_EQ(MaterialOf(root, 0).b, 1.0f);
  EXPECT_FLOAT_EQ(MaterialOf(root, 1).r, 1.0f);
  EXPECT_FLOAT_EQ(MaterialOf(root, 1).b, 0.0f);
  VxDestroyClump(root);
}

TEST_F(Clumps, TransformsAndSharedShapes) {
  VxClump* root = Build("transform_group.wrl", 1);
  ASSERT_NE(root, nullptr);
  VxClump* group = Part(root, 0);
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(VxGetClumpTag(group), -1);
  VxClump* mover = Part(group, 0);
  VxClump* scaled = Part(group, 1);
  ASSERT_NE(mover, nullptr);
  ASSERT_NE(scaled, nullptr);
  EXPECT_EQ(VxGetClumpTag(mover), 0x0E00FFFF);
  // The shared triangle is built into both.
  EXPECT_EQ(VxGetClumpNumPolygons(mover), 1);
  EXPECT_EQ(VxGetClumpNumPolygons(scaled), 1);
  VxMatrix* m = VxCreateMatrix();
  ASSERT_TRUE(VxGetClumpMatrix(mover, m));
  EXPECT_FLOAT_EQ(VxGetMatrixElement(m, 3, 0), 1.0f);
  EXPECT_FLOAT_EQ(VxGetMatrixElement(m, 3, 1), 2.0f);
  EXPECT_FLOAT_EQ(VxGetMatrixElement(m, 3, 2), 3.0f);
  ASSERT_TRUE(VxGetClumpMatrix(scaled, m));
  EXPECT_FLOAT_EQ(VxGetMatrixElement(m, 0, 0), 2.0f);
  VxDestroyMatrix(m);
  VxDestroyClump(root);
}

TEST_F(Clumps, AvatarPartsCarryTheirTags) {
  VxClump* root = Build("avatar.wrl");
  ASSERT_NE(root, nullptr);
  VxClump* body = Part(root, 0);
  ASSERT_NE(body, nullptr);
  EXPECT_EQ(VxGetClumpTag(body), 0x0C00FFFF + 21 * 0x10000);
  VxClump* hip = VxFindTaggedClump(root, 0x0C00FFFF + 2 * 0x10000);
  VxClump* neck = VxFindTaggedClump(root, 0x0C00FFFF + 15 * 0x10000);
  ASSERT_NE(hip, nullptr);
  ASSERT_NE(neck, nullptr);
  EXPECT_EQ(VxGetClumpNumPolygons(hip), 1);
  EXPECT_EQ(VxGetClumpNumVertices(neck), 4);
  // The neck's shape has no appearance: it keeps the hip's blue.
  EXPECT_FLOAT_EQ(MaterialOf(neck, 0).b, 1.0f);
  VxDestroyClump(root);
}

TEST_F(Clumps, IgnoredNodesDoNotDisturb) {
  VxClump* root = Build("ignored_nodes.wrl");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(VxGetClumpNumPolygons(root), 1);
  EXPECT_EQ(VxGetFirstChildClump(root), nullptr);
  VxDestroyClump(root);
}

AgGeometryNode* LoadText(const std::string& s, int options = 3) {
  AgGeometryNode* tree = nullptr;
  AgInterpolatorData* interp = nullptr;
  if (AgLoadVrmlText(s.data(), s.size(), options, &tree, &interp) != 0) return nullptr;
  delete interp;
  return tree;
}

TEST_F(Clumps, TextureRangeIsShiftedAndBounded) {
  std::string base = "0 0 0, 1 0 0, 1 1 0";
  AgGeometryNode* t = LoadText(FaceSet(base, "0 1 2", "texCoord TextureCoordinate { point [ -3 0, 2 1, 0 0.5 ] }"));
  ASSERT_NE(t, nullptr);
  VxClump* c = t->BuildClumps(nullptr, 0, 0);
  ASSERT_NE(c, nullptr);
  VxReal u, v;
  VxGetClumpVertexUV(c, 1, &u, &v);
  EXPECT_FLOAT_EQ(u, 0.0f);
  EXPECT_FLOAT_EQ(v, 1.0f);
  VxGetClumpVertexUV(c, 2, &u, &v);
  EXPECT_FLOAT_EQ(u, 5.0f);
  EXPECT_FLOAT_EQ(v, 0.0f);
  VxDestroyClump(c);
  AgDeleteGeometryTree(t);

  t = LoadText(FaceSet(base, "0 1 2", "texCoord TextureCoordinate { point [ 0 0, 32 0, 1 1 ] }"));
  c = t->BuildClumps(nullptr, 0, 0);
  EXPECT_NE(c, nullptr);
  VxDestroyClump(c);
  AgDeleteGeometryTree(t);

  t = LoadText(FaceSet(base, "0 1 2", "texCoord TextureCoordinate { point [ -0.5 0, 32 0, 1 1 ] }"));
  EXPECT_EQ(t->BuildClumps(nullptr, 0, 0), nullptr);
  EXPECT_STREQ(AgGetLastError(), "Vectrix cannot use texture coords outside 0..32 range");
  AgDeleteGeometryTree(t);

  t = LoadText(FaceSet(base, "0 1 2", "texCoord TextureCoordinate { point [ 1e999 0, 1 0, 1 1 ] }"));
  EXPECT_EQ(t->BuildClumps(nullptr, 0, 0), nullptr);
  AgDeleteGeometryTree(t);
}

TEST_F(Clumps, FailedChildLeavesNoClumpsBehind) {
  std::string good = FaceSet("0 0 0, 1 0 0, 1 1 0", "0 1 2");
  std::string bad = FaceSet("0 0 0, 1 0 0, 1 1 0", "0 1 2", "texCoord TextureCoordinate { point [ 0 0, 40 0, 1 1 ] }");
  AgGeometryNode* t = LoadText(good + "Transform { children [ " + good + " Transform { children [ " + bad + " ] } ] }");
  ASSERT_NE(t, nullptr);
  VxClump* parent = VxCreateClump(0, 0);
  EXPECT_EQ(t->BuildClumps(parent, 0, 0), nullptr);
  EXPECT_EQ(VxGetFirstChildClump(parent), nullptr);
  VxDestroyClump(parent);
  AgDeleteGeometryTree(t);
}

TEST_F(Clumps, RepeatedVertexInAPolygonGetsItsOwnCopy) {
  AgGeometryNode* t = LoadText(FaceSet("0 0 0, 1 0 0, 1 1 0, 0 1 0", "0 1 0 2 0 3"));
  ASSERT_NE(t, nullptr);
  VxClump* c = t->BuildClumps(nullptr, 0, 0);
  ASSERT_NE(c, nullptr);
  // Four points, and point 0 twice more before its last occurrence.
  EXPECT_EQ(VxGetClumpNumVertices(c), 6);
  int idx[6];
  VxPolygon* p = VxGetClumpPolygon(c, 0);
  ASSERT_EQ(VxGetPolygonNumVertices(p), 6);
  VxGetPolygonVertexIndices(p, idx);
  std::vector<int> v(idx, idx + 6);
  std::sort(v.begin(), v.end());
  EXPECT_EQ(std::unique(v.begin(), v.end()), v.end());
  EXPECT_EQ(idx[4], 1);  // the last occurrence keeps the vertex
  VxVector a, b;
  VxGetClumpVertex(c, idx[0], &a);
  VxGetClumpVertex(c, 1, &b);
  EXPECT_FLOAT_EQ(a.x, b.x);
  VxDestroyClump(c);
  AgDeleteGeometryTree(t);
}

TEST_F(Clumps, ColoursOnlyIgnoresTextures) {
  ASSERT_NO_FATAL_FAILURE(WriteBmp("wood.bmp"));
  AgGeometryNode* t = LoadText(FaceSet("0 0 0, 1 0 0, 1 1 0", "0 1 2", "",
                                       "Appearance { material Material { diffuseColor 0 1 0 } texture ImageTexture { url \"wood.bmp\" } }"));
  ASSERT_NE(t, nullptr);
  VxClump* c = t->BuildClumps(nullptr, 1, 0);
  EXPECT_EQ(MaterialOf(c, 0).texture, "");
  EXPECT_FLOAT_EQ(MaterialOf(c, 0).g, 1.0f);
  VxDestroyClump(c);
  c = t->BuildClumps(nullptr, 0, 1);
  EXPECT_NE(MaterialOf(c, 0).texture, "");
  VxDestroyClump(c);
  AgDeleteGeometryTree(t);
}

TEST_F(Clumps, BoundsCoverChildren) {
  VxClump* root = Build("transform_group.wrl", 1);
  ASSERT_NE(root, nullptr);
  float lo[3], hi[3];
  AgClumpBounds(root, lo, hi, 1);
  EXPECT_LE(lo[0], 0.0f);
  EXPECT_GE(hi[0], 1.0f);
  VxDestroyClump(root);
}

}  // namespace
