#include "client/scene/modelfile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Parser/aglib.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/scene/model.h"
#include "client/servers/attributes.h"

namespace {

enum { kNamesCapacity = 1024, kMaxEntryName = 127 };

void free_outputs(AgGeometryNode* tree, AgInterpolatorData* interpolators) {
  if (tree) AgDeleteGeometryTree(tree);
  delete interpolators;
}

// A model file named by path, or its bytes already in memory (text not null).
struct source {
  const char* path;
  const char* text;
  size_t length;
};

int load(const source& from, int options, AgGeometryNode** tree, AgInterpolatorData** interpolators) {
  if (from.text) return AgLoadVrmlText(from.text, from.length, options, tree, interpolators);
  return AgLoadVrmlFile(from.path, options, tree, interpolators);
}

}  // namespace

void vrml_report_error(const char* path) {
  const char* text = AgGetLastError();
  if (!text || !text[0]) return;
  const char* name = path ? path : "";
  // The file name after the last folder separator of either kind.
  for (const char* p = name; *p; ++p)
    if (*p == '\\' || *p == '/') name = p + 1;
  if (!trace_switches[TRACE_VRML]) return;
  log_write("Error loading %s: %s", name, text);
  if (model_hook.console_print) msg_print_titled(model_hook.console_print, 2, 125, msg_arg(221, name, text), 1024);
}

namespace {

char* texture_names(const source& from, int* length) {
  if (length) *length = 0;
  if (!from.path) return nullptr;
  AgGeometryNode* tree = nullptr;
  AgInterpolatorData* interpolators = nullptr;
  if (load(from, AG_OPT_TEXTURES | AG_OPT_INTERPOLATORS, &tree, &interpolators) != 0) {
    vrml_report_error(from.path);
    free_outputs(tree, interpolators);
    return nullptr;
  }
  char** names = tree ? tree->CollectTextureNames() : nullptr;
  free_outputs(tree, interpolators);
  auto* out = static_cast<char*>(std::malloc(kNamesCapacity));
  if (!out) {
    AgFreeTextureNames(names);
    return nullptr;
  }
  out[0] = 0;
  int used = 0;
  for (char** p = names; p && *p; ++p) {
    size_t n = std::strlen(*p);
    const char* dot = std::strrchr(*p, '.');
    if (dot) n = static_cast<size_t>(dot - *p);
    // The header reads the length byte as signed: a longer name would break the header.
    if (n > kMaxEntryName) continue;
    if (used + 1 + static_cast<int>(n) > kNamesCapacity) break;
    out[used] = static_cast<char>(n);
    std::memcpy(out + used + 1, *p, n);
    used += 1 + static_cast<int>(n);
  }
  AgFreeTextureNames(names);
  if (length) *length = used;
  return out;
}

}  // namespace

VxClump* vrml_scale(VxClump* clump) {
  if (!clump || !attribute_yes(ATTR_MODEL_GLUE)) return clump;
  // A matrix of our own per call: a kept one would not survive an engine restart.
  VxMatrix* scale = VxCreateMatrix();
  if (!scale) return clump;
  VxScaleMatrix(scale, 0.1f, 0.1f, 0.1f, VX_REPLACE);
  VxTransformClumpJoint(clump, scale, VX_REPLACE);
  VxDestroyMatrix(scale);
  return clump;
}

namespace {

VxClump* load_clump(const source& from, int textures) {
  if (!from.path) return nullptr;
  const char* path = from.path;
  AgGeometryNode* tree = nullptr;
  AgInterpolatorData* interpolators = nullptr;
  int options = textures ? AG_OPT_TEXTURES | AG_OPT_INTERPOLATORS : AG_OPT_INTERPOLATORS;
  if (load(from, options, &tree, &interpolators) != 0) {
    vrml_report_error(path);
    free_outputs(tree, interpolators);
    return nullptr;
  }
  delete interpolators;
  VxClump* clump = tree ? tree->BuildClumps(nullptr, 0, 0) : nullptr;
  if (tree) AgDeleteGeometryTree(tree);
  if (trace_switches[TRACE_VRML]) log_write("vrml_load_clump (%s): %s", path, clump ? "built" : "no geometry");
  if (!clump) return nullptr;
  if (VxClump* part = VxGetFirstChildClump(clump)) {
    VxRemoveChildFromClump(part);
    VxDestroyClump(clump);
    clump = part;
  }
  return vrml_scale(clump);
}

}  // namespace

char* vrml_texture_names(const char* path, int* length) { return texture_names({path, nullptr, 0}, length); }

char* vrml_texture_names_text(const char* text, size_t size, const char* name, int* length) {
  return texture_names({name, text ? text : "", text ? size : 0}, length);
}

VxClump* vrml_load_clump(const char* path, int textures) { return load_clump({path, nullptr, 0}, textures); }

VxClump* vrml_load_clump_text(const char* text, size_t size, const char* name, int textures) {
  return load_clump({name, text ? text : "", text ? size : 0}, textures);
}
