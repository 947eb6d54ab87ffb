// Shared helpers of the parser tests.
#ifndef TESSEL_TESTS_PARSER_HELPERS_H
#define TESSEL_TESTS_PARSER_HELPERS_H

#include "Parser/aglib.h"

#include <string>

// One load of a text; owns what it got back.
struct Loaded {
  int rc = -1;
  AgGeometryNode* tree = nullptr;
  AgInterpolatorData* interp = nullptr;
  explicit Loaded(const std::string& text, int options = 3) {
    rc = AgLoadVrmlText(text.data(), text.size(), options, &tree, &interp);
  }
  ~Loaded() {
    AgDeleteGeometryTree(tree);
    delete interp;
  }
  Loaded(const Loaded&) = delete;
  Loaded& operator=(const Loaded&) = delete;
  std::string error() const { return AgGetLastError(); }
};

inline std::string CorpusPath(const char* name) {
  return std::string(TESSEL_SOURCE_DIR) + "/tests/parser/corpus/" + name;
}

// A face set of the given points and indices inside a Shape, with an optional appearance.
inline std::string FaceSet(const std::string& points, const std::string& index,
                           const std::string& extra = "", const std::string& appearance = "") {
  std::string s = "Shape { ";
  if (!appearance.empty()) s += "appearance " + appearance + " ";
  s += "geometry IndexedFaceSet { coord Coordinate { point [ " + points + " ] } coordIndex [ " +
       index + " ] " + extra + " } }\n";
  return s;
}

#endif
