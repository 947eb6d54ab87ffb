// Geometry building into the geometry tree: vertices, faces, materials, texture corners,
// colours, placement, names and tags, and the faults found in bad files.
#include "Parser/matrix.h"
#include "helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

const char kSquare[] = "0 0 0, 1 0 0, 1 1 0, 0 1 0";

std::vector<int32_t> Indices(const AgGeometryPolygon& p) { return {p.indices.begin(), p.indices.end()}; }

TEST(Build, RootHoldsTheDefaultMaterialAndTheFaces) {
  Loaded l(FaceSet(kSquare, "0 1 2 3 -1 3 2 1"));
  ASSERT_EQ(l.rc, 0) << l.error();
  ASSERT_EQ(l.tree->MaterialCount(), 1);
  const AgGeometryMaterial& m = l.tree->materials[0];
  EXPECT_EQ(m.red + m.green + m.blue, 0);
  EXPECT_EQ(m.ambient + m.diffuse + m.shininess + m.transparency, 0.0f);
  EXPECT_FALSE(m.has_texture);
  EXPECT_EQ(l.tree->VertexCount(), 4);
  ASSERT_EQ(l.tree->PolygonCount(), 2);
  EXPECT_EQ(Indices(l.tree->polygons[0]), (std::vector<int32_t>{0, 1, 2, 3}));
  EXPECT_EQ(Indices(l.tree->polygons[1]), (std::vector<int32_t>{3, 2, 1}));
  EXPECT_EQ(l.tree->polygons[0].material, 0u);
  EXPECT_EQ(l.tree->child, nullptr);
}

TEST(Build, VerticesAppearInFirstUseOrder) {
  Loaded l(FaceSet(kSquare, "2 3 0"));
  ASSERT_EQ(l.rc, 0);
  ASSERT_EQ(l.tree->VertexCount(), 3);
  EXPECT_FLOAT_EQ(l.tree->vertices[0].x, 1.0f);
  EXPECT_FLOAT_EQ(l.tree->vertices[0].y, 1.0f);
  EXPECT_FLOAT_EQ(l.tree->vertices[1].x, 0.0f);
  EXPECT_FLOAT_EQ(l.tree->vertices[1].y, 1.0f);
}

TEST(Build, MaterialFromAppearance) {
  Loaded l(FaceSet(kSquare, "0 1 2", "",
                   "Appearance { material Material { diffuseColor 1 0.5 0.2 ambientIntensity 0.4 transparency 0.25 } }"));
  ASSERT_EQ(l.rc, 0);
  ASSERT_EQ(l.tree->MaterialCount(), 2);
  const AgGeometryMaterial& m = l.tree->materials[1];
  EXPECT_EQ(m.red, 255);
  EXPECT_EQ(m.green, 127);
  EXPECT_EQ(m.blue, 51);
  EXPECT_FLOAT_EQ(m.ambient, 0.4f);
  EXPECT_FLOAT_EQ(m.diffuse, 1.0f);
  EXPECT_FLOAT_EQ(m.shininess, 0.2f);
  EXPECT_FLOAT_EQ(m.transparency, 0.25f);
  EXPECT_EQ(l.tree->polygons[0].material, 1u);
}

TEST(Build, ColourComponentsOutsideTheUnitSaturate) {
  Loaded l(FaceSet(kSquare, "0 1 2", "", "Appearance { material Material { diffuseColor 2 -1 1e999 } }"));
  ASSERT_EQ(l.rc, 0);
  const AgGeometryMaterial& m = l.tree->materials[1];
  EXPECT_EQ(m.red, 255);
  EXPECT_EQ(m.green, 0);
  EXPECT_EQ(m.blue, 255);
}

TEST(Build, ShapeWithoutAppearanceKeepsThePreviousMaterial) {
  std::string app = "Appearance { material Material { diffuseColor 0 1 0 } }";
  std::string s = FaceSet(kSquare, "0 1 2", "", app) + FaceSet(kSquare, "0 2 3");
  Loaded l(s);
  ASSERT_EQ(l.rc, 0);
  ASSERT_EQ(l.tree->PolygonCount(), 2);
  EXPECT_EQ(l.tree->polygons[1].material, l.tree->polygons[0].material);
  EXPECT_EQ(l.tree->materials[l.tree->polygons[1].material].green, 255);
  // The first shape of a file without any appearance uses the default.
  Loaded first(FaceSet(kSquare, "0 1 2"));
  EXPECT_EQ(first.tree->polygons[0].material, 0u);
}

TEST(Build, InheritedMaterialIsEnteredInTheChildNode) {
  // The inherited index points into the root's materials; the child node gets its own copy.
  std::string app = "Appearance { material Material { diffuseColor 0 0 1 } }";
  std::string s = FaceSet(kSquare, "0 1 2", "", app) +
                  "Transform { translation 1 0 0 children [ " + FaceSet(kSquare, "0 2 3") + " ] }";
  Loaded l(s);
  ASSERT_EQ(l.rc, 0);
  AgGeometryNode* child = l.tree->child;
  ASSERT_NE(child, nullptr);
  ASSERT_EQ(child->PolygonCount(), 1);
  uint32_t mi = child->polygons[0].material;
  ASSERT_LT(mi, static_cast<uint32_t>(child->MaterialCount()));
  EXPECT_EQ(child->materials[mi].blue, 255);
  EXPECT_EQ(child->materials[mi].red, 0);
}

TEST(Build, AppearanceWithoutMaterialIsWhiteAndMaterialWithoutColourGrey) {
  Loaded l(FaceSet(kSquare, "0 1 2", "", "Appearance { }") );
  EXPECT_EQ(l.rc, 4);  // an empty node body is a syntax error
  Loaded w(FaceSet(kSquare, "0 1 2", "", "Appearance { texture NULL }"));
  ASSERT_EQ(w.rc, 0);
  EXPECT_EQ(w.tree->materials[1].red, 255);
  Loaded g(FaceSet(kSquare, "0 1 2", "", "Appearance { material Material { shininess 0.5 } }"));
  ASSERT_EQ(g.rc, 0);
  EXPECT_EQ(g.tree->materials[1].red, 204);
  EXPECT_FLOAT_EQ(g.tree->materials[1].shininess, 0.5f);
}

TEST(Build, WrongNodeTypesInAppearanceAreIgnored) {
  Loaded l(FaceSet(kSquare, "0 1 2", "",
                   "Appearance { material Box { size 1 1 1 } texture PixelTexture { repeatS TRUE } }"));
  ASSERT_EQ(l.rc, 0);
  EXPECT_EQ(l.tree->materials[1].red, 255);
  EXPECT_FALSE(l.tree->materials[1].has_texture);
}

TEST(Build, WrongNodeTypesInFaceSetFail) {
  Loaded a("Shape { geometry IndexedFaceSet { texCoord Coordinate { point 0 0 0 } coordIndex 0 } }");
  EXPECT_EQ(a.rc, 4);
  EXPECT_EQ(a.error(), "the texcoord field in an IndexedFaceSet, if not NULL, must contain a TextureCoordinate node");
  Loaded b("Shape { geometry IndexedFaceSet { color Coordinate { point 0 0 0 } coord Color { color 1 1 1 } } }");
  EXPECT_EQ(b.error(), "the color field in an IndexedFaceSet, if not NULL, must contain a Color node");
  Loaded c("Shape { geometry IndexedFaceSet { coord Color { color 1 1 1 } } }");
  EXPECT_EQ(c.error(), "the coord field in an IndexedFaceSet, if not NULL, must contain a Coordinate node");
  Loaded d("Shape { geometry IndexedFaceSet { coord NULL color NULL texCoord NULL coordIndex 0 } }");
  EXPECT_EQ(d.rc, 0);
}

TEST(Build, TextureCornersSplitVerticesAndFlipNothingYet) {
  std::string s = FaceSet(kSquare, "0 1 2 -1 0 2 3",
                          "texCoord TextureCoordinate { point [ 0 0, 1 0, 1 1, 0 1, 0.5 0.5 ] } "
                          "texCoordIndex [ 0 1 2 -1 4 2 3 ]",
                          "Appearance { texture ImageTexture { url [ \"wood.bmp\" \"other.bmp\" ] } }");
  Loaded l(s);
  ASSERT_EQ(l.rc, 0) << l.error();
  // Point 0 is used with texture points 0 and 4: two vertices.
  EXPECT_EQ(l.tree->VertexCount(), 5);
  EXPECT_EQ(Indices(l.tree->polygons[1]), (std::vector<int32_t>{3, 2, 4}));
  EXPECT_FLOAT_EQ(l.tree->vertices[3].u, 0.5f);
  EXPECT_FLOAT_EQ(l.tree->vertices[3].x, 0.0f);
  EXPECT_EQ(l.tree->materials[1].texture, "wood.bmp");
  // Without option 1 no texture coordinates and no texture names.
  Loaded plain(s, 2);
  ASSERT_EQ(plain.rc, 0);
  EXPECT_EQ(plain.tree->VertexCount(), 4);
  EXPECT_FALSE(plain.tree->materials[1].has_texture);
  EXPECT_EQ(plain.tree->vertices[2].u, 0.0f);
}

TEST(Build, TextureIndexListMustMatch) {
  Loaded l(FaceSet(kSquare, "0 1 2", "texCoord TextureCoordinate { point [ 0 0 ] } texCoordIndex [ 0 0 ]"));
  EXPECT_EQ(l.rc, 4);
  EXPECT_EQ(l.error(), "TexCoordIndex must match CoordIndex");
}

TEST(Build, TextureIndexesDefaultToCoordinateIndexes) {
  Loaded l(FaceSet(kSquare, "0 1 2", "texCoord TextureCoordinate { point [ 0 0, 0.25 0, 0.5 0 ] }"));
  ASSERT_EQ(l.rc, 0);
  EXPECT_FLOAT_EQ(l.tree->vertices[2].u, 0.5f);
}

TEST(Build, IndexesOutOfRangeFail) {
  EXPECT_EQ(Loaded(FaceSet(kSquare, "0 1 4")).error(), "coordIndex 4 out of range");
  EXPECT_EQ(Loaded(FaceSet(kSquare, "0 1 -2")).error(), "coordIndex -2 out of range");
  EXPECT_EQ(Loaded(FaceSet(kSquare, "0 1 99999999999")).error(), "coordIndex 2147483647 out of range");
  EXPECT_EQ(Loaded(FaceSet(kSquare, "0 1 2", "texCoord TextureCoordinate { point [ 0 0 ] } texCoordIndex [ 0 0 1 ]"))
                .error(),
            "texCoordIndex 1 out of range");
  EXPECT_EQ(Loaded(FaceSet(kSquare, "0 1 2", "color Color { color [ 1 0 0 ] } colorIndex [ 0 0 3 ]")).error(),
            "colorIndex 3 out of range");
  EXPECT_EQ(Loaded(FaceSet(kSquare, "0 1 2", "color Color { color [ 1 0 0 ] } colorIndex [ 0 ]")).error(),
            "colorIndex -1 out of range");
  EXPECT_EQ(Loaded(FaceSet(kSquare, "0 1 2 -1 0 2 3", "color Color { color [ 1 0 0 ] } colorPerVertex FALSE"))
                .error(),
            "colorIndex 1 out of range");
  // Points without a Coordinate list: any index is out of range.
  EXPECT_EQ(Loaded("Shape { geometry IndexedFaceSet { coord Coordinate { point [ ] } coordIndex 0 } }").error(),
            "coordIndex 0 out of range");
}

TEST(Build, EmptyFacesAreSkipped) {
  Loaded l(FaceSet(kSquare, "-1 -1 0 1 2 -1 -1 -1 2 3 0 -1"));
  ASSERT_EQ(l.rc, 0);
  ASSERT_EQ(l.tree->PolygonCount(), 2);
  EXPECT_EQ(l.tree->polygons[0].count, 3);
  EXPECT_EQ(l.tree->polygons[1].count, 3);
}

TEST(Build, CounterClockwiseFalseReversesFaces) {
  Loaded l(FaceSet(kSquare, "0 1 2 3", "ccw FALSE"));
  ASSERT_EQ(l.rc, 0);
  EXPECT_EQ(Indices(l.tree->polygons[0]), (std::vector<int32_t>{3, 2, 1, 0}));
}

TEST(Build, PerFaceColoursBecomeMaterials) {
  std::string s;
  {
    FILE* f = std::fopen(CorpusPath("colours.wrl").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buf[4096];
    size_t n = std::fread(buf, 1, sizeof buf, f);
    std::fclose(f);
    s.assign(buf, n);
  }
  Loaded l(s);
  ASSERT_EQ(l.rc, 0) << l.error();
  ASSERT_EQ(l.tree->PolygonCount(), 3);
  const auto& m0 = l.tree->materials[l.tree->polygons[0].material];
  const auto& m1 = l.tree->materials[l.tree->polygons[1].material];
  EXPECT_EQ(m0.blue, 255);
  EXPECT_EQ(m0.red, 0);
  EXPECT_EQ(m1.red, 255);
  EXPECT_EQ(l.tree->polygons[2].material, l.tree->polygons[0].material);
  // Default, the appearance's white, blue, red.
  EXPECT_EQ(l.tree->MaterialCount(), 4);
}

TEST(Build, PerVertexColoursAverage) {
  Loaded l(FaceSet(kSquare, "0 1 2", "color Color { color [ 1 0 0, 0 1 0, 0 0 1, 0 0 0 ] }"));
  ASSERT_EQ(l.rc, 0);
  const auto& m = l.tree->materials[l.tree->polygons[0].material];
  EXPECT_EQ(m.red, 85);
  EXPECT_EQ(m.green, 85);
  EXPECT_EQ(m.blue, 85);
}

TEST(Build, ForcedVerticesKeepPointOrder) {
  Loaded l(FaceSet(kSquare, "2 3 0", "", ""), 1 | FORCE_VERTICES);
  ASSERT_EQ(l.rc, 0);
  ASSERT_EQ(l.tree->VertexCount(), 4);
  EXPECT_EQ(Indices(l.tree->polygons[0]), (std::vector<int32_t>{2, 3, 0}));
  Loaded tex(FaceSet(kSquare, "2 3 0", "texCoord TextureCoordinate { point [ 0 0, 0.5 0.5, 1 1 ] } texCoordIndex [ 2 1 0 ]"),
             1 | FORCE_VERTICES);
  ASSERT_EQ(tex.rc, 0);
  EXPECT_FLOAT_EQ(tex.tree->vertices[2].u, 1.0f);
  EXPECT_FLOAT_EQ(tex.tree->vertices[1].u, 0.0f);  // named by no corner
  Loaded two(FaceSet(kSquare, "0 1 2 -1 0 2 3", "texCoord TextureCoordinate { point [ 0 0, 1 1 ] } texCoordIndex [ 0 0 0 -1 1 0 0 ]"),
             1 | FORCE_VERTICES);
  EXPECT_EQ(two.rc, 4);
  EXPECT_EQ(two.error(), "FORCE_VERTICES option was turned on, but multiple uv's per vertex encountered");
}

TEST(Build, ClampOptionLimitsTextureCoordinates) {
  std::string s = FaceSet(kSquare, "0 1 2", "texCoord TextureCoordinate { point [ -2 0.5, 3 1, 0.5 7 ] }");
  Loaded l(s, 1 | AG_OPT_CLAMP_UV);
  ASSERT_EQ(l.rc, 0);
  EXPECT_FLOAT_EQ(l.tree->vertices[0].u, 0.0f);
  EXPECT_FLOAT_EQ(l.tree->vertices[1].u, 1.0f);
  EXPECT_FLOAT_EQ(l.tree->vertices[2].v, 1.0f);
}

TEST(Build, TransformMakesAPlacedNamedTaggedNode) {
  Loaded l("DEF Box1 Transform { translation 1 2 3 scale 2 2 2 children [ " + FaceSet(kSquare, "0 1 2") + " ] }", 1);
  ASSERT_EQ(l.rc, 0);
  AgGeometryNode* t = l.tree->child;
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->name, "Box1");
  EXPECT_EQ(t->part_tag, 0x0E00FFFF);
  float p[3] = {1, 1, 1};
  AgTransformPoint(t->matrix, p);
  EXPECT_FLOAT_EQ(p[0], 3.0f);
  EXPECT_FLOAT_EQ(p[1], 4.0f);
  EXPECT_FLOAT_EQ(p[2], 5.0f);
  EXPECT_EQ(t->PolygonCount(), 1);
  EXPECT_EQ(l.tree->PolygonCount(), 0);
}

TEST(Build, TransformRotatesAboutItsCenter) {
  Loaded l("Transform { center 1 0 0 rotation 0 0 1 1.5707963 children [ " + FaceSet(kSquare, "0 1 2") + " ] }");
  ASSERT_EQ(l.rc, 0);
  float p[3] = {2, 0, 0};
  AgTransformPoint(l.tree->child->matrix, p);
  EXPECT_NEAR(p[0], 1.0f, 1e-5);
  EXPECT_NEAR(p[1], 1.0f, 1e-5);
}

TEST(Build, ZeroRotationAxisLeavesTheShapeAlone) {
  Loaded l("Transform { rotation 0 0 0 2 scaleOrientation 0 0 0 1 scale 2 1 1 children [ " + FaceSet(kSquare, "0 1 2") + " ] }");
  ASSERT_EQ(l.rc, 0);
  float p[3] = {1, 1, 1};
  AgTransformPoint(l.tree->child->matrix, p);
  EXPECT_FLOAT_EQ(p[0], 2.0f);
  EXPECT_FLOAT_EQ(p[1], 1.0f);
  EXPECT_FLOAT_EQ(p[2], 1.0f);
}

TEST(Build, GroupsAndTransformsWithoutChildrenAddNothing) {
  Loaded l("DEF G Group { bboxSize 1 1 1 } DEF neck Transform { translation 1 1 1 } Group { children [ ] }");
  ASSERT_EQ(l.rc, 0);
  EXPECT_EQ(l.tree->child, nullptr);
}

TEST(Build, GroupTakesItsNameAndKeepsNoTag) {
  Loaded l("DEF Crate Group { children [ " + FaceSet(kSquare, "0 1 2") + " ] } Group { children [ WorldInfo { title \"t\" } ] }");
  ASSERT_EQ(l.rc, 0);
  ASSERT_NE(l.tree->child, nullptr);
  EXPECT_EQ(l.tree->child->name, "Crate");
  EXPECT_EQ(l.tree->child->part_tag, -1);
  ASSERT_NE(l.tree->child->next, nullptr);
  EXPECT_EQ(l.tree->child->next->name, "");
  EXPECT_EQ(l.tree->LastChild(), l.tree->child->next);
}

TEST(Build, BodyPartTags) {
  std::string s = "DEF neck Transform { children [ " + FaceSet(kSquare, "0 1 2") + " ] } "
                  "Transform { children [ " + FaceSet(kSquare, "0 1 2") + " ] } "
                  "DEF L_HIP Transform { children [ " + FaceSet(kSquare, "0 1 2") + " ] }";
  Loaded l(s, 3);
  ASSERT_EQ(l.rc, 0);
  EXPECT_EQ(l.tree->child->part_tag, 0x0C0FFFFF);
  EXPECT_EQ(l.tree->child->next->part_tag, 0x0C00FFFF);
  EXPECT_EQ(l.tree->child->next->next->part_tag, 0x0C00FFFF + 2 * 0x10000);
  Loaded plain(s, 1);
  EXPECT_EQ(plain.tree->child->part_tag, 15);
  EXPECT_EQ(plain.tree->child->next->part_tag, 0x0E00FFFF);
}

TEST(Build, TextureNamesAreCollectedOnce) {
  std::string s =
      FaceSet(kSquare, "0 1 2", "", "Appearance { texture ImageTexture { url \"a.bmp\" } }") +
      FaceSet(kSquare, "0 1 2", "", "Appearance { texture ImageTexture { url \"A.BMP\" } }") +
      "Transform { children [ " +
      FaceSet(kSquare, "0 1 2", "", "Appearance { texture ImageTexture { url \"b.bmp\" } }") +
      FaceSet(kSquare, "0 1 2", "", "Appearance { texture ImageTexture { url \"a.bmp\" } }") + " ] }";
  Loaded l(s);
  ASSERT_EQ(l.rc, 0);
  // Names that differ in case only make one material.
  EXPECT_EQ(l.tree->MaterialCount(), 2);
  char** names = l.tree->CollectTextureNames();
  std::vector<std::string> got;
  for (char** p = names; *p; ++p) got.push_back(*p);
  AgFreeTextureNames(names);
  EXPECT_EQ(got, (std::vector<std::string>{"a.bmp", "b.bmp"}));
  Loaded none(FaceSet(kSquare, "0 1 2"));
  names = none.tree->CollectTextureNames();
  EXPECT_EQ(names[0], nullptr);
  AgFreeTextureNames(names);
}

TEST(Build, ManyDistinctColoursStayFast) {
  // One material per face colour; find-or-add must not turn quadratic.
  std::string pts, idx, cols;
  const int n = 60000;
  for (int i = 0; i < n; ++i) {
    pts += std::to_string(i) + " 0 0, ";
    cols += std::to_string((i % 250) / 250.0) + " " + std::to_string(((i / 250) % 250) / 250.0) + " 0.5, ";
  }
  for (int i = 0; i + 2 < n; i += 3) idx += std::to_string(i) + " " + std::to_string(i + 1) + " " + std::to_string(i + 2) + " -1 ";
  Loaded l(FaceSet(pts, idx, "color Color { color [ " + cols + " ] } colorPerVertex FALSE"));
  ASSERT_EQ(l.rc, 0) << l.error();
  EXPECT_EQ(l.tree->PolygonCount(), n / 3);
  EXPECT_GT(l.tree->MaterialCount(), 10000);
}

TEST(Build, FailedLoadLeavesOutputsAndKeepsTheError) {
  AgGeometryNode* tree = reinterpret_cast<AgGeometryNode*>(0x1);
  AgInterpolatorData* interp = reinterpret_cast<AgInterpolatorData*>(0x2);
  std::string bad = "Shape { }";
  EXPECT_EQ(AgLoadVrmlText(bad.data(), bad.size(), 3, &tree, &interp), 4);
  EXPECT_EQ(tree, reinterpret_cast<AgGeometryNode*>(0x1));
  EXPECT_EQ(interp, reinterpret_cast<AgInterpolatorData*>(0x2));
  EXPECT_STREQ(AgGetLastError(), "syntax error on line 1");
  Loaded good(FaceSet(kSquare, "0 1 2"));
  ASSERT_EQ(good.rc, 0);
  EXPECT_STREQ(AgGetLastError(), "syntax error on line 1");
}

TEST(Build, InterpolatorsGatherPerBodyPart) {
  AgGeometryNode* tree = nullptr;
  AgInterpolatorData* interp = nullptr;
  ASSERT_EQ(AgLoadVrmlFile(CorpusPath("avatar.wrl").c_str(), 3, &tree, &interp), 0) << AgGetLastError();
  ASSERT_NE(interp, nullptr);
  AgBodyPartRecord* hip = interp->AgFindOrAddBodyPart(0x0C00FFFF + 2 * 0x10000);
  EXPECT_EQ(hip->position_count, 3);
  ASSERT_EQ(hip->position_values.size(), 3u);
  EXPECT_FLOAT_EQ(hip->position_values[1].y, 1.0f);
  EXPECT_FLOAT_EQ(hip->position_keys[2], 1.0f);
  EXPECT_EQ(hip->rotation_count, 2);
  EXPECT_FLOAT_EQ(hip->rotation_values[1].angle, 1.57f);
  ASSERT_NE(hip->center, nullptr);
  EXPECT_FLOAT_EQ(hip->center->y, 1.0f);
  ASSERT_NE(hip->rotation, nullptr);
  EXPECT_EQ(hip->translation, nullptr);
  AgBodyPartRecord* neck = interp->AgFindOrAddBodyPart(0x0C0FFFFF);
  ASSERT_NE(neck->translation, nullptr);
  EXPECT_FLOAT_EQ(neck->translation->y, 1.5f);
  EXPECT_EQ(neck->position_count, -1);
  // HumanoidRoot, l_hip, neck: no more records than that.
  EXPECT_EQ(interp->Count(), 3);
  AgDeleteGeometryTree(tree);
  delete interp;
}

TEST(Build, InterpolatorKeysAndValuesOfDifferentLengths) {
  Loaded l("DEF r_knee-pos-interp PositionInterpolator { key [ 0 1 ] keyValue [ 1 1 1, 2 2 2, 3 3 3 ] }\n"
           "DEF r_knee-rot-interp OrientationInterpolator { key [ 0 0.5 1 ] keyValue [ 0 1 0 1 ] }\n"
           "Transform { children [ Shape { geometry NULL } ] }\n"
           "Transform { translation 1 0 0 children [ Shape { geometry NULL } ] }\n");
  ASSERT_EQ(l.rc, 0) << l.error();
  AgBodyPartRecord* r = l.interp->AgFindOrAddBodyPart(0x0C00FFFF + 7 * 0x10000);
  EXPECT_EQ(r->position_count, 2);
  EXPECT_EQ(r->position_keys.size(), 2u);
  EXPECT_EQ(r->position_values.size(), 2u);
  EXPECT_EQ(r->rotation_count, 1);
  EXPECT_EQ(r->rotation_keys.size(), 1u);
  // Unnamed Transforms share the record of key -1.
  AgBodyPartRecord* none = l.interp->AgFindOrAddBodyPart(-1);
  ASSERT_NE(none->translation, nullptr);
  EXPECT_EQ(l.interp->Count(), 2);
}

TEST(Build, InterpolatorsOnlyWithOptionTwo) {
  Loaded l("DEF neck-pos-interp PositionInterpolator { key [ 0 ] keyValue [ 1 1 1 ] }", 1);
  ASSERT_EQ(l.rc, 0);
  EXPECT_EQ(l.interp->Count(), 0);
}

// A textured n x n grid of triangles; `scale` sets its size, so grids differ in every number.
std::string TexturedGrid(int n, float scale, const char* last_index = "") {
  std::string points, uvs, index;
  char buf[96];
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      std::snprintf(buf, sizeof buf, "%g %g %g,", x * scale, (x * y % 7) * scale, y * scale);
      points += buf;
      std::snprintf(buf, sizeof buf, "%g %g,", x / float(n - 1), y / float(n - 1));
      uvs += buf;
    }
  for (int y = 0; y + 1 < n; ++y)
    for (int x = 0; x + 1 < n; ++x) {
      int a = y * n + x;
      std::snprintf(buf, sizeof buf, "%d %d %d -1 %d %d %d -1 ", a, a + 1, a + n + 1, a, a + n + 1, a + n);
      index += buf;
    }
  return FaceSet(points, index + last_index, "texCoord TextureCoordinate { point [ " + uvs + " ] }");
}

struct TreeCopy {
  std::vector<float> vertices;
  std::vector<std::vector<int32_t>> polygons;
  explicit TreeCopy(const AgGeometryNode* g) {
    for (const AgGeometryVertex& v : g->vertices) vertices.insert(vertices.end(), {v.x, v.y, v.z, v.u, v.v});
    for (const AgGeometryPolygon& p : g->polygons) polygons.push_back(Indices(p));
  }
  bool operator==(const TreeCopy&) const = default;
};

// Big arrays are kept from one load for the next: a load after bigger, failed or still
// living ones gets the same tree as the first.
TEST(Build, ModelLoadedAgainAfterOthersIsTheSame) {
  const std::string small = TexturedGrid(80, 1.0f), big = TexturedGrid(120, 0.5f);
  std::unique_ptr<TreeCopy> first;
  {
    Loaded l(small);
    ASSERT_EQ(l.rc, 0) << l.error();
    EXPECT_EQ(l.tree->VertexCount(), 80 * 80);
    EXPECT_EQ(l.tree->PolygonCount(), 2 * 79 * 79);
    first = std::make_unique<TreeCopy>(l.tree);
  }
  std::unique_ptr<TreeCopy> big_first;
  {
    Loaded l(big);
    ASSERT_EQ(l.rc, 0) << l.error();
    big_first = std::make_unique<TreeCopy>(l.tree);
  }
  {
    Loaded bad(TexturedGrid(120, 0.5f, "0 1 99999"));
    EXPECT_EQ(bad.rc, 4);
    EXPECT_EQ(bad.error(), "coordIndex 99999 out of range");
  }
  Loaded big_again(big);
  Loaded small_again(small);
  ASSERT_EQ(small_again.rc, 0) << small_again.error();
  ASSERT_EQ(big_again.rc, 0) << big_again.error();
  EXPECT_TRUE(TreeCopy(small_again.tree) == *first);
  EXPECT_TRUE(TreeCopy(big_again.tree) == *big_first);
  EXPECT_FALSE(*first == *big_first);
}

}  // namespace
