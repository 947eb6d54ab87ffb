// vrmldump: prints the tokens, the node tree or the built geometry of a VRML file, or the
// error that stops it.
//   vrmldump [-t | -n | -g] [-o options] file.wrl
#include "Parser/aglib.h"
#include "Parser/vrml.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <unordered_set>

namespace {

void DumpTokens(const std::string& data) {
  AgVrmlLexer lex(data.data(), data.size());
  for (;;) {
    AgToken t;
    lex.Next(&t);
    std::printf("%5d  %-10s", lex.Line(), AgTokenKindName(t.kind));
    if (t.kind == AG_TOK_INTEGER) std::printf(" %d", t.ival);
    else if (t.kind == AG_TOK_REAL) std::printf(" %g", static_cast<double>(t.fval));
    else if (t.kind == AG_TOK_STRING) std::printf(" \"%s\"", t.text);
    else if (t.kind == AG_TOK_IDENT) std::printf(" %s", t.text);
    std::printf("\n");
    if (t.kind == AG_TOK_END) break;
  }
}

void DumpNode(const AgNode* node, int depth, std::unordered_set<const AgNode*>* seen);

void DumpValue(const AgFieldValue* v, int depth, std::unordered_set<const AgNode*>* seen) {
  auto floats = [](const std::vector<float>& f, int group) {
    for (size_t i = 0; i < f.size(); ++i)
      std::printf("%s%g", i == 0 ? "" : (i % group == 0 ? ", " : " "), static_cast<double>(f[i]));
  };
  switch (v->GetType()) {
    case AG_SFBOOL: std::printf("%s\n", static_cast<const AgSFBool*>(v)->value ? "TRUE" : "FALSE"); return;
    case AG_SFINT32: std::printf("%d\n", static_cast<const AgSFInt32*>(v)->value); return;
    case AG_SFFLOAT: std::printf("%g\n", static_cast<double>(static_cast<const AgSFFloat*>(v)->value)); return;
    case AG_SFSTRING: std::printf("\"%s\"\n", static_cast<const AgSFString*>(v)->value.c_str()); return;
    case AG_SFCOLOR: {
      auto* p = static_cast<const AgSFColor*>(v);
      std::printf("%g %g %g\n", double(p->v[0]), double(p->v[1]), double(p->v[2]));
      return;
    }
    case AG_SFVEC3F: {
      auto* p = static_cast<const AgSFVec3f*>(v);
      std::printf("%g %g %g\n", double(p->v[0]), double(p->v[1]), double(p->v[2]));
      return;
    }
    case AG_SFVEC2F: {
      auto* p = static_cast<const AgSFVec2f*>(v);
      std::printf("%g %g\n", double(p->v[0]), double(p->v[1]));
      return;
    }
    case AG_SFROTATION: {
      auto* p = static_cast<const AgSFRotation*>(v);
      std::printf("%g %g %g %g\n", double(p->v[0]), double(p->v[1]), double(p->v[2]), double(p->v[3]));
      return;
    }
    case AG_SFNODE: {
      auto* p = static_cast<const AgSFNode*>(v);
      if (!p->node) std::printf("NULL\n");
      else DumpNode(p->node, depth, seen);
      return;
    }
    case AG_MFNODE: {
      std::printf("[\n");
      for (const AgNode* n : static_cast<const AgMFNode*>(v)->nodes) {
        std::printf("%*s", (depth + 1) * 2, "");
        DumpNode(n, depth + 1, seen);
      }
      std::printf("%*s]\n", depth * 2, "");
      return;
    }
    case AG_MFINT32: {
      std::printf("[");
      for (int32_t i : static_cast<const AgMFInt32*>(v)->values) std::printf(" %d", i);
      std::printf(" ]\n");
      return;
    }
    case AG_MFSTRING: {
      std::printf("[");
      for (const std::string& s : static_cast<const AgMFString*>(v)->values) std::printf(" \"%s\"", s.c_str());
      std::printf(" ]\n");
      return;
    }
    case AG_MFFLOAT: std::printf("[ "); floats(static_cast<const AgMFFloat*>(v)->values, 1); std::printf(" ]\n"); return;
    case AG_MFVEC2F: std::printf("[ "); floats(static_cast<const AgMFVec2f*>(v)->values, 2); std::printf(" ]\n"); return;
    case AG_MFCOLOR: std::printf("[ "); floats(static_cast<const AgMFColor*>(v)->values, 3); std::printf(" ]\n"); return;
    case AG_MFVEC3F: std::printf("[ "); floats(static_cast<const AgMFVec3f*>(v)->values, 3); std::printf(" ]\n"); return;
    case AG_MFROTATION: std::printf("[ "); floats(static_cast<const AgMFRotation*>(v)->values, 4); std::printf(" ]\n"); return;
    default: std::printf("(not kept)\n"); return;
  }
}

void DumpNode(const AgNode* node, int depth, std::unordered_set<const AgNode*>* seen) {
  if (!node) {
    std::printf("(unknown USE)\n");
    return;
  }
  if (!seen->insert(node).second) {
    std::printf("USE %s\n", node->DefName().c_str());
    return;
  }
  if (!node->DefName().empty()) std::printf("DEF %s ", node->DefName().c_str());
  std::printf("%s {\n", AgNodeTypeName(node->GetType()));
  for (int32_t i = 0; i < node->FieldCount(); ++i) {
    const AgFieldValue* v = node->RawField(i);
    if (!v) continue;
    std::printf("%*s%s ", (depth + 1) * 2, "", node->FieldDesc(i).name);
    DumpValue(v, depth + 1, seen);
  }
  std::printf("%*s}\n", depth * 2, "");
}

void DumpGeometry(const AgGeometryNode* g, int depth) {
  for (; g; g = g->next) {
    std::printf("%*snode \"%s\" tag 0x%08X: %d vertices, %d polygons, %d materials\n", depth * 2, "",
                g->name.c_str(), static_cast<unsigned>(g->part_tag), g->VertexCount(), g->PolygonCount(),
                g->MaterialCount());
    std::printf("%*s  matrix", depth * 2, "");
    for (float f : g->matrix) std::printf(" %g", static_cast<double>(f));
    std::printf("\n");
    for (int i = 0; i < g->MaterialCount(); ++i) {
      const AgGeometryMaterial& m = g->materials[i];
      std::printf("%*s  material %d: rgb %d %d %d ambient %g diffuse %g shininess %g transparency %g%s%s\n",
                  depth * 2, "", i, m.red, m.green, m.blue, double(m.ambient), double(m.diffuse),
                  double(m.shininess), double(m.transparency), m.has_texture ? " texture " : "",
                  m.has_texture ? m.texture.c_str() : "");
    }
    for (const AgGeometryVertex& v : g->vertices)
      std::printf("%*s  vertex %g %g %g uv %g %g\n", depth * 2, "", double(v.x), double(v.y), double(v.z),
                  double(v.u), double(v.v));
    for (const AgGeometryPolygon& p : g->polygons) {
      std::printf("%*s  polygon material %u:", depth * 2, "", p.material);
      for (int32_t i : p.indices) std::printf(" %d", i);
      std::printf("\n");
    }
    DumpGeometry(g->child, depth + 1);
  }
}

int Usage() {
  std::fprintf(stderr, "usage: vrmldump [-t | -n | -g] [-o options] file.wrl\n"
                       "  -t tokens, -n node tree, -g built geometry (default); options as the loader's bits (3)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  char mode = 'g';
  int options = 3;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "-t") || !std::strcmp(argv[i], "-n") || !std::strcmp(argv[i], "-g")) {
      mode = argv[i][1];
    } else if (!std::strcmp(argv[i], "-o") && i + 1 < argc) {
      options = std::atoi(argv[++i]);
    } else if (argv[i][0] == '-' || path) {
      return Usage();
    } else {
      path = argv[i];
    }
  }
  if (!path) return Usage();
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::printf("error:  lexer: unable to open vrml file\n");
    return 1;
  }
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (mode == 't') {
    DumpTokens(data);
    return 0;
  }
  if (mode == 'n') {
    AgVrmlParser parser;
    try {
      parser.ParseText(data.data(), data.size());
    } catch (const AgVrml2Error& e) {
      std::printf("error:  %s\n", e.Text());
      return 1;
    }
    std::unordered_set<const AgNode*> seen;
    for (const AgNode* n : parser.TopNodes()) DumpNode(n, 0, &seen);
    return 0;
  }
  AgGeometryNode* tree = nullptr;
  AgInterpolatorData* interp = nullptr;
  if (AgLoadVrmlText(data.data(), data.size(), options, &tree, &interp) != 0) return 1;  // printed
  DumpGeometry(tree, 0);
  for (int32_t i = 0; i < interp->Count(); ++i) {
    const AgBodyPartRecord* r = interp->Record(i);
    std::printf("part key 0x%08X: %d position keys, %d rotation keys\n", static_cast<unsigned>(r->key),
                r->position_count, r->rotation_count);
  }
  AgDeleteGeometryTree(tree);
  delete interp;
  return 0;
}
