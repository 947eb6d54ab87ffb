// The parser: grammar, actions, errors with their line numbers, and the bounds on nesting,
// sharing and sibling lists.
#include "Parser/vrml.h"
#include "Parser/vrmlnodes.h"
#include "helpers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string ParseError(const std::string& text) {
  AgVrmlParser p;
  try {
    p.ParseText(text.data(), text.size());
  } catch (const AgVrml2Error& e) {
    return e.Text();
  }
  return "";
}

TEST(Parser, TopLevelNodesStayInFileOrder) {
  AgVrmlParser p;
  std::string s = "WorldInfo { title \"t\" } Group { children [ ] } transform { translation 1 2 3 }";
  p.ParseText(s.data(), s.size());
  ASSERT_EQ(p.TopNodes().size(), 3u);
  EXPECT_EQ(p.TopNodes()[0]->GetType(), AG_NODE_WORLDINFO);
  EXPECT_EQ(p.TopNodes()[1]->GetType(), AG_NODE_GROUP);
  EXPECT_EQ(p.TopNodes()[2]->GetType(), AG_NODE_TRANSFORM);
  auto* t = static_cast<AgSFVec3f*>(p.TopNodes()[2]->GetField(AG_TRANSFORM_TRANSLATION));
  ASSERT_NE(t, nullptr);
  EXPECT_FLOAT_EQ(t->v[2], 3.0f);
  // An empty bracketed list reads as absent.
  EXPECT_EQ(p.TopNodes()[1]->GetField(AG_GROUP_CHILDREN), nullptr);
}

TEST(Parser, NamesMatchWithoutCase) {
  AgVrmlParser p;
  std::string s = "TRANSFORM { Translation 1 2 3 CHILDREN [ shape { } ] }";
  // The empty Shape body is the syntax error, on line 1; the names before it matched.
  EXPECT_EQ(ParseError(s), "syntax error on line 1");
  std::string ok = "TRANSFORM { Translation 1 2 3 CHILDREN [ shape { geometry NULL } ] }";
  p.ParseText(ok.data(), ok.size());
  ASSERT_EQ(p.TopNodes().size(), 1u);
  EXPECT_NE(p.TopNodes()[0]->GetField(AG_TRANSFORM_CHILDREN), nullptr);
}

TEST(Parser, ErrorsNameTheirLine) {
  EXPECT_EQ(ParseError(""), "syntax error on line 1");
  EXPECT_EQ(ParseError("#VRML V2.0 utf8\n\n"), "syntax error on line 3");
  EXPECT_EQ(ParseError("#header\nGroup {\n\n  children [\n  Shape {\n  }\n ]\n}\n"), "syntax error on line 6");
  // A string running over lines counts them up to the offending token.
  EXPECT_EQ(ParseError("WorldInfo { title \"a\nb\nc\" title2 }"), "unrecognized field name: title2");
  EXPECT_EQ(ParseError("WorldInfo { info \"a\nb\nc\" 5 }"), "syntax error on line 3");
}

TEST(Parser, UnknownNodesAndFields) {
  EXPECT_EQ(ParseError("Gizmo { a 1 }"), "unrecognized node: Gizmo");
  EXPECT_EQ(ParseError("Shape { colour 1 }"), "unrecognized field name: colour");
  EXPECT_EQ(ParseError("CoordinateInterpolator { value_changed [ 1 2 3 ] }"),
            "unrecognized field name: value_changed");
  EXPECT_EQ(ParseError("CoordinateInterpolator { valueChanged [ 1 2 3 ] }"), "");
  EXPECT_EQ(ParseError("Viewpoint { fieldOfView 0.5 jump TRUE position 0 0 1 orientation 0 1 0 3 }"), "");
  EXPECT_EQ(ParseError("Viewpoint { fov 0.5 }"), "unrecognized field name: fov");
}

TEST(Parser, DuplicateField) {
  EXPECT_EQ(ParseError("Transform { translation 1 2 3 Translation 1 2 3 }"), "duplicate field");
}

TEST(Parser, ValueFormsFollowTheFieldType) {
  EXPECT_EQ(ParseError("TimeSensor { startTime 1 }"), "syntax error on line 1");
  EXPECT_EQ(ParseError("TimeSensor { startTime 1 2 3 }"), "");
  EXPECT_EQ(ParseError("Switch { whichChoice 1.5 }"), "syntax error on line 1");
  EXPECT_EQ(ParseError("Switch { whichChoice -1 }"), "");
  EXPECT_EQ(ParseError("Transform { translation 1 2 }"), "syntax error on line 1");
  EXPECT_EQ(ParseError("ImageTexture { repeatS 1 }"), "syntax error on line 1");
  EXPECT_EQ(ParseError("ImageTexture { url \"a\" repeatS FALSE }"), "");
  EXPECT_EQ(ParseError("Coordinate { point 1 2 3 }"), "");
  EXPECT_EQ(ParseError("Coordinate { point [ 1 2 3 4 ] }"), "syntax error on line 1");
  EXPECT_EQ(ParseError("Shape { geometry USE nothing }"), "");
  EXPECT_EQ(ParseError("Group { children Shape { geometry NULL } }"), "");
  EXPECT_EQ(ParseError("Group { children NULL }"), "syntax error on line 1");
}

TEST(Parser, ListsCollectTheirValues) {
  AgVrmlParser p;
  std::string s =
      "Coordinate { point [ 1 2 3, 4 5 6 ] } "
      "IndexedFaceSet { coordIndex [ 0 1 2 -1 ] colorIndex 7 } "
      "WorldInfo { info [ \"x\" \"y\" ] }";
  p.ParseText(s.data(), s.size());
  auto* pts = static_cast<AgMFVec3f*>(p.TopNodes()[0]->GetField(0));
  ASSERT_NE(pts, nullptr);
  EXPECT_EQ(pts->Count(), 2);
  EXPECT_FLOAT_EQ(pts->At(1)[2], 6.0f);
  auto* ci = static_cast<AgMFInt32*>(p.TopNodes()[1]->GetField(AG_IFS_COORDINDEX));
  ASSERT_NE(ci, nullptr);
  EXPECT_EQ(ci->values, (std::vector<int32_t>{0, 1, 2, -1}));
  auto* col = static_cast<AgMFInt32*>(p.TopNodes()[1]->GetField(AG_IFS_COLORINDEX));
  ASSERT_NE(col, nullptr);
  EXPECT_EQ(col->values, (std::vector<int32_t>{7}));
  auto* info = static_cast<AgMFString*>(p.TopNodes()[2]->GetField(0));
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->values, (std::vector<std::string>{"x", "y"}));
}

TEST(Parser, DefAndUseShareOneNode) {
  AgVrmlParser p;
  std::string s = "DEF A Coordinate { point [ 0 0 0 ] } def b Group { children [ use a USE A ] }";
  p.ParseText(s.data(), s.size());
  ASSERT_EQ(p.TopNodes().size(), 2u);
  AgNode* a = p.TopNodes()[0];
  EXPECT_EQ(a->DefName(), "A");
  EXPECT_EQ(a->Uses(), 3);
  auto* kids = static_cast<AgMFNode*>(p.TopNodes()[1]->GetField(AG_GROUP_CHILDREN));
  ASSERT_NE(kids, nullptr);
  ASSERT_EQ(kids->nodes.size(), 2u);
  EXPECT_EQ(kids->nodes[0], a);
  EXPECT_EQ(kids->nodes[1], a);
}

TEST(Parser, UseFindsTheNewestDefinition) {
  AgVrmlParser p;
  std::string s = "DEF A WorldInfo { title \"old\" } DEF A Coordinate { point 1 1 1 } Group { children [ USE A ] }";
  p.ParseText(s.data(), s.size());
  auto* kids = static_cast<AgMFNode*>(p.TopNodes()[2]->GetField(AG_GROUP_CHILDREN));
  ASSERT_NE(kids, nullptr);
  EXPECT_EQ(kids->nodes[0]->GetType(), AG_NODE_COORDINATE);
}

TEST(Parser, UseOfUnknownNameAddsNothing) {
  AgVrmlParser p;
  std::string s = "USE ghost Group { children [ USE ghost Shape { geometry NULL } ] } Shape { appearance USE ghost }";
  p.ParseText(s.data(), s.size());
  ASSERT_EQ(p.TopNodes().size(), 3u);
  EXPECT_EQ(p.TopNodes()[0], nullptr);
  auto* kids = static_cast<AgMFNode*>(p.TopNodes()[1]->GetField(AG_GROUP_CHILDREN));
  ASSERT_NE(kids, nullptr);
  EXPECT_EQ(kids->nodes.size(), 1u);
  EXPECT_EQ(p.TopNodes()[2]->GetField(AG_SHAPE_APPEARANCE), nullptr);
  Loaded l(s);
  EXPECT_EQ(l.rc, 0);
}

TEST(Parser, UseInsideItsOwnDefinitionFails) {
  EXPECT_EQ(ParseError("DEF Loop Group { children [ USE Loop ] }"),
            "use of node Loop inside its own definition");
  EXPECT_EQ(ParseError("DEF A Group { children [ DEF B Group { children [ USE A ] } ] }"),
            "use of node A inside its own definition");
  Loaded l("DEF Loop Transform { children [ Shape { geometry USE Loop } ] }");
  EXPECT_EQ(l.rc, 4);
  EXPECT_EQ(l.tree, nullptr);
}

std::string Nested(int depth) {
  std::string s;
  for (int i = 0; i < depth; ++i) s += "Group { children [ ";
  s += "Shape { geometry NULL }";
  for (int i = 0; i < depth; ++i) s += " ] }";
  return s;
}

TEST(Parser, DeepNestingOverflowsTheStackInsteadOfRecursing) {
  EXPECT_EQ(ParseError(Nested(100)), "");
  EXPECT_EQ(ParseError(Nested(200)), "parse stack overflow");
  EXPECT_EQ(ParseError(Nested(100000)), "parse stack overflow");
  std::string brackets(50000, '[');
  EXPECT_EQ(ParseError("Group { children " + brackets), "syntax error on line 1");
}

TEST(Parser, LongSiblingListsDoNotDeepenTheStack) {
  std::string s = "Group { children [ ";
  for (int i = 0; i < 20000; ++i) s += "WorldInfo { title \"x\" } ";
  s += "] }\n";
  std::string points = "Coordinate { point [ ";
  for (int i = 0; i < 100000; ++i) points += "1 2 3, ";
  points += "] }";
  std::string top;
  for (int i = 0; i < 20000; ++i) top += "Group { children [ ] }\n";
  EXPECT_EQ(ParseError(s), "");
  EXPECT_EQ(ParseError(points), "");
  EXPECT_EQ(ParseError(top), "");
}

TEST(Parser, ManySmallShapesInOneNodeStayFast) {
  std::string s;
  for (int i = 0; i < 20000; ++i)
    s += "Shape { geometry IndexedFaceSet { coord Coordinate { point [ 0 0 0, 1 0 0, 0 1 0 ] } coordIndex [ 0 1 2 ] } }\n";
  Loaded l(s);
  ASSERT_EQ(l.rc, 0) << l.error();
  EXPECT_EQ(l.tree->PolygonCount(), 20000);
  EXPECT_EQ(l.tree->VertexCount(), 60000);
  EXPECT_EQ(l.tree->MaterialCount(), 1);
}

TEST(Parser, SharingChainsAreBoundedInDepth) {
  // Each definition uses the previous one: no textual nesting, but a deep node graph.
  std::string s = "DEF N0 Group { children [ Shape { geometry NULL } ] }\n";
  for (int i = 1; i < 2000; ++i)
    s += "DEF N" + std::to_string(i) + " Group { children [ USE N" + std::to_string(i - 1) + " ] }\n";
  EXPECT_EQ(ParseError(s), "parse stack overflow");
}

TEST(Parser, SharingThatMultipliesWorkIsBounded) {
  // 2^60 shapes if expanded; the build gives up instead of hanging.
  std::string s = "DEF N0 Shape { geometry IndexedFaceSet { coord Coordinate { point [ 0 0 0, 1 0 0, 0 1 0 ] } coordIndex [ 0 1 2 ] } }\n";
  for (int i = 1; i <= 60; ++i) {
    std::string prev = "USE N" + std::to_string(i - 1);
    s += "DEF N" + std::to_string(i) + " Group { children [ " + prev + " " + prev + " ] }\n";
  }
  Loaded l(s);
  EXPECT_EQ(l.rc, 4);
  EXPECT_EQ(l.error(), "model too large");
}

TEST(Parser, GarbageNeverCrashes) {
  // Fixed-seed random byte soup from the language's own characters.
  const char alphabet[] = "{}[]\"#,.-+eE0123456789 \nabDEFUSEGroupShape\x80\xff";
  uint32_t seed = 12345;
  for (int round = 0; round < 300; ++round) {
    std::string s;
    for (int i = 0; i < 200; ++i) {
      seed = seed * 1103515245u + 12345u;
      s.push_back(alphabet[(seed >> 16) % (sizeof alphabet - 1)]);
    }
    Loaded l(s);
    EXPECT_TRUE(l.rc == 0 || l.rc == 4);
    if (l.rc == 4) {
      EXPECT_EQ(l.tree, nullptr);
    }
  }
}

TEST(Parser, MissingFileFails) {
  AgGeometryNode* tree = nullptr;
  AgInterpolatorData* interp = nullptr;
  EXPECT_EQ(AgLoadVrmlFile("/nonexistent/dir/x.wrl", 3, &tree, &interp), 4);
  EXPECT_STREQ(AgGetLastError(), "lexer: unable to open vrml file");
  EXPECT_EQ(tree, nullptr);
  EXPECT_EQ(interp, nullptr);
}

}  // namespace
