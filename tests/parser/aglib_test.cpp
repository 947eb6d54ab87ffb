// Body-part names and tags, the Appearance writer and the description objects.
#include "Parser/aglib.h"
#include "Parser/matrix.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(BodyParts, JointNamesMapToParts) {
  EXPECT_EQ(AgJointPart("l_hip"), 2);
  EXPECT_EQ(AgJointPart("L_HiP"), 2);
  EXPECT_EQ(AgJointPart("leftthigh"), 2);
  EXPECT_EQ(AgJointPart("l_hip_pivot-root"), 34);
  EXPECT_EQ(AgJointPart("l_hip-rot-interp"), 2);
  EXPECT_EQ(AgJointPart("humanoidroot-root"), 21);
  EXPECT_EQ(AgJointPart("mouthbackdrop_pivot"), 64);
  EXPECT_EQ(AgJointPart("l_hipx"), 0);
  EXPECT_EQ(AgJointPart(""), 0);
}

TEST(BodyParts, TagsByOption) {
  EXPECT_EQ(AgPartTagOf("neck", 2), 0x0C0FFFFF);
  EXPECT_EQ(AgPartTagOf("neck", 6), 0x0C0FFFFF);
  EXPECT_EQ(AgPartTagOf("neck", 4), 0x0E0FFFFF);
  EXPECT_EQ(AgPartTagOf("neck", 1), 15);
  EXPECT_EQ(AgPartTagOf("nobody", 2), -1);
}

TEST(BodyParts, NamesAndPivots) {
  EXPECT_STREQ(AgBodyPartName(1), "Abdomen");
  EXPECT_STREQ(AgBodyPartName(32), "MouthBackdrop");
  EXPECT_STREQ(AgBodyPartName(33), "AbdomenPivot");
  EXPECT_STREQ(AgBodyPartName(64), "MouthBackdropPivot");
  EXPECT_EQ(AgBodyPartName(0), nullptr);
  EXPECT_EQ(AgBodyPartName(65), nullptr);
  EXPECT_EQ(AgPivotPart(16), 48);
  EXPECT_EQ(AgPivotPart(33), 0);
}

TEST(InterpolatorData, FindOrAddGrowsPastItsCapacity) {
  AgInterpolatorData d;
  for (int i = 0; i < 25; ++i) d.AgFindOrAddBodyPart(i * 7);
  EXPECT_EQ(d.Count(), 25);
  AgBodyPartRecord* r = d.AgFindOrAddBodyPart(14);
  EXPECT_EQ(r, d.Record(2));
  EXPECT_EQ(r->position_count, -1);
  EXPECT_EQ(r->rotation_count, -1);
  EXPECT_EQ(d.Count(), 25);
}

std::string WriteToString(const AgMaterialDesc& m, int number) {
  FILE* f = std::tmpfile();
  AgWriteAppearance(&m, number, f);
  std::rewind(f);
  char buf[2048];
  size_t n = std::fread(buf, 1, sizeof buf, f);
  std::fclose(f);
  return std::string(buf, n);
}

TEST(Writer, ColourAppearance) {
  AgMaterialDesc m{0.2f, 0.5f, 0.3f, 0.0f, 255, 0, 51, nullptr};
  EXPECT_EQ(WriteToString(m, 3),
            "\tDEF A3.000000 Appearance {\n"
            "\t\tmaterial Material {\n"
            "\t\t\tambientIntensity 0.200000\n"
            "\t\t\tdiffuseColor     0.500000 0.000000 0.100000\n"
            "\t\t\tshininess        0.300000\n"
            "\t\t\ttransparency  0.000000\n\t\t}\n"
            "\t}, # End A3.000000\n");
}

TEST(Writer, TexturedAppearance) {
  char path[] = "C:\\models\\wood.bmp";
  AgMaterialDesc m{0.2f, 0.75f, 0.3f, 0.5f, 1, 2, 3, path};
  std::string s = WriteToString(m, 0);
  EXPECT_NE(s.find("diffuseColor     0.750000 0.750000 0.750000\n"), std::string::npos);
  EXPECT_NE(s.find("\t\ttexture ImageTexture {\n\t\t\turl \"wood.bmp\"\n\t\t}\n"), std::string::npos);
}

TEST(Descriptions, CreateAndFree) {
  AgAvatarDesc* a = AgNewAvatar();
  EXPECT_EQ(a->tree_count, 1);
  EXPECT_EQ(a->trees[0], nullptr);
  AgTreeDesc* t = AgNewTree();
  t->polygon_count = 1;
  t->polygons = new AgPolygonDesc[1]{{0, 0, new int32_t[3]{1, 2, 3}}};
  t->material_count = 1;
  t->materials = new AgMaterialDesc[1]{{0, 0, 0, 0, 0, 0, 0, nullptr}};
  t->materials[0].texture_path = new char[4]{'a', '.', 'b', 0};
  AgNewIdentityMatrix(&t->matrix);
  t->child = AgNewTree();
  a->trees[0] = t;
  AgAnimationDesc* anim = AgNewAnimation();
  EXPECT_EQ(anim->first, -1);
  EXPECT_EQ(anim->used, 1);
  anim->keyset.count = 2;
  anim->keyset.parts = 2;
  anim->keyset.keys = new float**[2];
  for (int k = 0; k < 2; ++k) {
    anim->keyset.keys[k] = new float*[2];
    for (int p = 0; p < 2; ++p) AgNewIdentityMatrix(&anim->keyset.keys[k][p]);
  }
  anim->locked = 1;
  EXPECT_EQ(AgFreeAnimation(anim), 3);  // keys freed, the animation kept
  EXPECT_EQ(anim->keyset.keys, nullptr);
  anim->locked = 0;
  a->animation_count = 1;
  a->animations = new AgAnimationDesc*[1]{anim};
  EXPECT_EQ(AgFreeAvatar(a), 0);
  AgPolygonDesc p{0, 0, nullptr};
  EXPECT_EQ(AgFreePolygon(&p), 1);
}

}  // namespace

namespace {

std::vector<int32_t> Corners(int n, int seed) {
  std::vector<int32_t> c(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) c[static_cast<size_t>(i)] = seed * 100 + i;
  return c;
}

// Faces of every corner count keep their corners through the node's growth, a copy of the
// node's faces, and a face set again from its own corners.
TEST(GeometryNode, FacesKeepTheirCornersThroughGrowthAndCopies) {
  AgGeometryNode g;
  for (int i = 0; i < 300; ++i) {
    std::vector<int32_t> c = Corners(i % 10, i);
    g.AddPolygon(static_cast<int32_t>(c.size()), c.data(), static_cast<uint32_t>(i % 3));
  }
  std::vector<AgGeometryPolygon> copy = g.polygons;
  for (AgGeometryPolygon& p : copy) p.indices = AgGeometryPolygon(p).indices;  // from a copy of itself
  for (AgGeometryPolygon& p : g.polygons) p.indices.assign(p.indices.begin() + (p.indices.size() > 1), p.indices.end());
  for (int i = 0; i < 300; ++i) {
    std::vector<int32_t> want = Corners(i % 10, i);
    const AgGeometryPolygon& p = copy[static_cast<size_t>(i)];
    EXPECT_EQ(p.count, i % 10);
    EXPECT_EQ(p.material, static_cast<uint32_t>(i % 3));
    EXPECT_EQ(std::vector<int32_t>(p.indices.begin(), p.indices.end()), want) << "face " << i;
    if (want.size() > 1) want.erase(want.begin());
    const AgGeometryPolygon& q = g.polygons[static_cast<size_t>(i)];
    EXPECT_EQ(std::vector<int32_t>(q.indices.begin(), q.indices.end()), want) << "face " << i;
  }
}

}  // namespace
