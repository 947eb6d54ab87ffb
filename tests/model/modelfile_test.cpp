// VRML models: texture names as header entries, the first top-level shape as the clump,
// scaling by the world's attribute, error reports, and a VRML model fetched end to end.
#include "client/scene/modelfile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "Parser/aglib.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "model_fixture.h"

using namespace model_test;

namespace {

std::string shape(const std::string& points, const std::string& url) {
  std::string s = "Shape {\n";
  if (!url.empty())
    s += " appearance Appearance { material Material { diffuseColor 0.5 0.5 0.5 } texture ImageTexture { url \"" + url +
         "\" } }\n";
  s += " geometry IndexedFaceSet {\n  coord Coordinate { point [ " + points +
       " ] }\n  texCoord TextureCoordinate { point [ 0 0, 1 0, 1 1, 0 1 ] }\n  coordIndex [ 0 1 2 3 -1 ]\n"
       "  texCoordIndex [ 0 1 2 3 -1 ]\n }\n}\n";
  return s;
}
const char kTall[] = "0 0 0, 1 0 0, 1 4 0, 0 4 0";
const char kShort[] = "0 0 0, 1 0 0, 1 1 0, 0 1 0";

float clump_height(VxClump* c) {
  VxVector lo, hi;
  VxGetClumpBoundingBox(c, &lo, &hi);
  return hi.y - lo.y;
}

std::string names_of(const std::string& path) {
  int length = -1;
  char* names = vrml_texture_names(path.c_str(), &length);
  if (!names) return "<null>";
  std::string s(names, static_cast<size_t>(length));
  std::free(names);
  return s;
}

}  // namespace

TEST_F(ModelTest, VrmlTextureNamesBecomeLengthPrefixedEntriesCutAtTheLastDot) {
  std::string path = home_.file("two.wrl");
  write(path, "#VRML V2.0 utf8\n" + shape(kTall, "Brick.Wall.jpg") + shape(kShort, "stone.bmp") + shape(kShort, ""));
  EXPECT_EQ(names_of(path), std::string("\x0a" "Brick.Wall" "\x05" "stone"));
  std::string plain = home_.file("plain.wrl");
  write(plain, "#VRML V2.0 utf8\n" + shape(kShort, ""));
  EXPECT_EQ(names_of(plain), "");
  std::string bad = home_.file("bad.wrl");
  write(bad, "#VRML V2.0 utf8\nShape { geometry IndexedFaceSet { coord Coordinate { point [ 0 0");
  EXPECT_EQ(names_of(bad), "<null>");
  EXPECT_EQ(names_of(home_.file("missing.wrl")), "<null>");
}

TEST_F(ModelTest, VrmlTextureNamesStopAtTheirBufferAndSkipNamesNoHeaderCanHold) {
  std::string s = "#VRML V2.0 utf8\n";
  for (int n = 0; n < 120; ++n) s += shape(kShort, "tex" + std::to_string(100 + n) + "xx.jpg");  // 8 characters
  std::string path = home_.file("many.wrl");
  write(path, s);
  std::string got = names_of(path);
  // 113 entries of 9 bytes fit in 1024; the next would not.
  EXPECT_EQ(got.size(), 113u * 9u);
  EXPECT_EQ(got.substr(0, 9), "\x08tex100xx");
}

TEST_F(ModelTest, AVrmlClumpIsItsFirstShapeScaledWhenTheWorldAsksForIt) {
  std::string path = home_.file("pair.wrl");
  // Two top-level groups, each a part of the root.
  auto group = [](const std::string& body) { return "Transform { children [\n" + body + "] }\n"; };
  write(path, "#VRML V2.0 utf8\n" + group(shape(kTall, "")) + group(shape(kShort, "")));
  attribute_set(ATTR_MODEL_GLUE, "N", 1);
  VxClump* c = vrml_load_clump(path.c_str(), 1);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(VxGetParentClump(c), nullptr);
  EXPECT_EQ(VxGetFirstChildClump(c), nullptr);
  EXPECT_FLOAT_EQ(clump_height(c), 4.0f);
  VxDestroyClump(c);
  // The other order: only the short one.
  write(path, "#VRML V2.0 utf8\n" + group(shape(kShort, "")) + group(shape(kTall, "")));
  c = vrml_load_clump(path.c_str(), 1);
  ASSERT_NE(c, nullptr);
  EXPECT_FLOAT_EQ(clump_height(c), 1.0f);
  VxDestroyClump(c);
  attribute_set(ATTR_MODEL_GLUE, "Y", 1);
  c = vrml_load_clump(path.c_str(), 1);
  ASSERT_NE(c, nullptr);
  EXPECT_NEAR(clump_height(c), 0.1f, 1e-5);
  VxDestroyClump(c);
  attribute_set(ATTR_MODEL_GLUE, "y", 1);  // exactly "Y" only
  c = vrml_load_clump(path.c_str(), 0);
  EXPECT_FLOAT_EQ(clump_height(c), 1.0f);
  VxDestroyClump(c);
  EXPECT_EQ(vrml_load_clump(home_.file("missing.wrl").c_str(), 1), nullptr);
}

TEST_F(ModelTest, ParseErrorsReachTheConsoleOnlyWithTheVrmlSwitch) {
  static std::vector<std::string> lines;
  lines.clear();
  // The console line is made of message texts.
  write(home_.file("Messages/default.tzm"), testutil::read_file(std::string(TESSEL_SOURCE_DIR) + "/data/Messages/default.tzm"));
  ASSERT_EQ(msg_init(), 0);
  model_hook.console_print = [](int kind, const char* line) { lines.push_back(std::to_string(kind) + line); };
  std::string bad = home_.file("sub/broken.wrl");
  write(bad, "#VRML V2.0 utf8\nShape { geometry Sphere { radius }");
  EXPECT_EQ(vrml_load_clump(bad.c_str(), 1), nullptr);
  EXPECT_TRUE(lines.empty());
  trace_switches[TRACE_VRML] = 1;
  EXPECT_EQ(vrml_load_clump(bad.c_str(), 1), nullptr);
  trace_switches[TRACE_VRML] = 0;
  model_hook.console_print = nullptr;
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(0, 1), "2");
  EXPECT_NE(lines[0].find("broken.wrl"), std::string::npos);
  EXPECT_EQ(lines[0].find("sub/"), std::string::npos);
}

TEST_F(ModelTest, AVrmlModelIsFetchedTexturedAndMeasured) {
  attribute_set(ATTR_MODEL_GLUE, "N", 1);
  ASSERT_NO_FATAL_FAILURE(serve_model("ball.wrl", "#VRML V2.0 utf8\n" + shape(kTall, "Wood.jpg")));
  ASSERT_NO_FATAL_FAILURE(serve_texture("wood"));
  model_instance* i = model_reference("models", "ball.WRL", nullptr);
  ASSERT_EQ(i->model->vrml, 1);
  ASSERT_TRUE(run_until([&] { return i->model->in_cache && !i->model->pending_textures; }));
  model_flush();
  ASSERT_TRUE(model_is_ready(i));
  EXPECT_EQ(textured_polygons(i->clump), 1);
  float h = 0;
  ASSERT_EQ(model_height(i, &h), 1);
  EXPECT_FLOAT_EQ(h, 4.0f);
  EXPECT_FALSE(chunk_exists("modelsflat", "ball"));  // VRML models have no untextured version
  model_dereference(i);
}
