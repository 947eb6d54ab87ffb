// Library entry, errors, the geometry tree, interpolator data, body parts and the avatar
// description objects.
#include "Parser/aglib.h"

#include "Parser/matrix.h"
#include "Parser/vrml.h"
#include "engine/vxl21.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <strings.h>

// ---------------------------------------------------------------------------------------
// Errors

AgVrml2Error::AgVrml2Error(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text_, sizeof text_, format, ap);
  va_end(ap);
}

namespace {
char g_last_error[128] = "";
}

const char* AgGetLastError() { return g_last_error; }

void AgSetLastError(const char* text) { std::snprintf(g_last_error, sizeof g_last_error, "%s", text ? text : ""); }

void AgBuildContext::Spend(int64_t units) {
  budget -= units;
  if (budget < 0) throw AgVrml2Error("model too large");
}

// ---------------------------------------------------------------------------------------
// Entry

namespace {

int Load(AgVrmlParser& parser, const char* path, const char* text, size_t length, int options,
         AgGeometryNode** tree_out, AgInterpolatorData** interp_out) {
  const char* failure = nullptr;
  char message[128];
  try {
    if (path) parser.Parse(path);
    else parser.ParseText(text, length);
    auto interp = std::make_unique<AgInterpolatorData>();
    AgGeometryNode* tree = parser.BuildTree(options, interp.get());
    if (tree_out) *tree_out = tree;
    else AgDeleteGeometryTree(tree);
    if (interp_out) *interp_out = interp.release();
    return 0;
  } catch (const AgVrml2Error& e) {
    std::snprintf(message, sizeof message, "%s", e.Text());
    failure = message;
  } catch (const std::bad_alloc&) {
    failure = "unable to allocate memory";
  } catch (const std::length_error&) {
    failure = "unable to allocate memory";
  }
  AgSetLastError(failure);
  std::printf("error:  %s\n", g_last_error);
  return 4;
}

}  // namespace

int AgLoadVrmlFile(const char* path, int options, AgGeometryNode** tree_out,
                   AgInterpolatorData** interp_out) {
  AgVrmlParser parser;
  return Load(parser, path ? path : "", nullptr, 0, options, tree_out, interp_out);
}

int AgLoadVrmlText(const char* text, size_t length, int options, AgGeometryNode** tree_out,
                   AgInterpolatorData** interp_out) {
  AgVrmlParser parser;
  return Load(parser, nullptr, text ? text : "", text ? length : 0, options, tree_out, interp_out);
}

AgGeometryNode* AgVrmlParser::BuildTree(int options, AgInterpolatorData* interp) {
  AgGeometryNode* root = new AgGeometryNode;
  try {
    AgGeometryMaterial def;
    int32_t material = root->FindOrAddMaterial(def);
    AgBuildContext ctx;
    ctx.options = options;
    ctx.budget = AG_BUILD_BUDGET;
    ctx.material_node = root;
    ctx.material = def;
    for (AgNode* node : stack_) {
      if (!node) continue;  // a top-level use of an unknown name
      node->Build(ctx, root, &material);
      if (options & AG_OPT_INTERPOLATORS) node->CollectInterpolators(ctx, interp);
    }
  } catch (...) {
    AgDeleteGeometryTree(root);
    throw;
  }
  return root;
}

// ---------------------------------------------------------------------------------------
// Geometry tree

AgGeometryNode::AgGeometryNode() { AgIdentityMatrix(matrix); }

AgGeometryNode::~AgGeometryNode() {
  // A tree is mostly built, turned into clumps and freed, load after load.
  AgArrayPool<AgGeometryVertex>::Give(vertices);
  AgArrayPool<AgGeometryPolygon>::Give(polygons);
}

void AgDeleteGeometryTree(AgGeometryNode* node) {
  // Siblings in a loop, children by recursion: a tree is only as deep as its nesting.
  while (node) {
    AgGeometryNode* next = node->next;
    AgDeleteGeometryTree(node->child);
    delete node;
    node = next;
  }
}

void AgGeometryNode::AddChild(AgGeometryNode* node) {
  node->parent = this;
  node->next = nullptr;
  if (last_child_) last_child_->next = node;
  else child = node;
  last_child_ = node;
}

AgGeometryNode* AgGeometryNode::LastChild() const { return last_child_; }

void AgGeometryNode::SetName(const char* text) {
  if (text) {
    name = text;
    has_name = true;
  } else {
    name.clear();
    has_name = false;
  }
}

int32_t AgGeometryNode::AddVertex(float x, float y, float z) { return AddVertexUV(x, y, z, 0, 0); }

int32_t AgGeometryNode::AddVertexUV(float x, float y, float z, float u, float v) {
  vertices.push_back(AgGeometryVertex{x, y, z, u, v});
  return static_cast<int32_t>(vertices.size() - 1);
}

AgGeometryPolygon* AgGeometryNode::AddPolygon(int32_t count, const int32_t* indices, uint32_t material) {
  AgGeometryPolygon p;
  p.material = material;
  p.count = count > 0 ? count : 0;
  if (p.count) p.indices.assign(indices, indices + p.count);
  polygons.push_back(std::move(p));
  return &polygons.back();
}

namespace {

// Key of a material by value: equal keys are equal materials. -0 and +0 compare equal as
// floats, so they share a key; a NaN never equals anything, so it gets no key.
bool MaterialKey(const AgGeometryMaterial& m, std::string* key) {
  float f[4] = {m.ambient, m.diffuse, m.shininess, m.transparency};
  key->clear();
  for (float& x : f) {
    if (x != x) return false;
    if (x == 0) x = 0;
    key->append(reinterpret_cast<const char*>(&x), sizeof x);
  }
  key->push_back(static_cast<char>(m.red));
  key->push_back(static_cast<char>(m.green));
  key->push_back(static_cast<char>(m.blue));
  if (m.has_texture) {
    key->push_back('T');
    for (char c : m.texture) key->push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  } else {
    key->push_back('-');
  }
  return true;
}

}  // namespace

int32_t AgGeometryNode::FindOrAddColorMaterial(uint8_t red, uint8_t green, uint8_t blue, float ambient,
                                               float diffuse, float shininess, float transparency) {
  AgGeometryMaterial m;
  m.red = red;
  m.green = green;
  m.blue = blue;
  m.ambient = ambient;
  m.diffuse = diffuse;
  m.shininess = shininess;
  m.transparency = transparency;
  return FindOrAddMaterial(m);
}

int32_t AgGeometryNode::FindOrAddMaterial(const AgGeometryMaterial& material) {
  std::string key;
  bool keyed = MaterialKey(material, &key);
  if (keyed) {
    auto it = material_index_.find(key);
    if (it != material_index_.end()) return it->second;
  }
  materials.push_back(material);
  int32_t index = static_cast<int32_t>(materials.size() - 1);
  if (keyed) material_index_.emplace(std::move(key), index);
  return index;
}

namespace {

void CollectNames(const AgGeometryNode* node, std::vector<std::string>* names,
                  std::unordered_set<std::string>* seen) {
  for (; node; node = node->next) {
    for (const AgGeometryMaterial& m : node->materials)
      if (m.has_texture && seen->insert(m.texture).second) names->push_back(m.texture);
    CollectNames(node->child, names, seen);
  }
}

}  // namespace

char** AgGeometryNode::CollectTextureNames() const {
  std::vector<std::string> names;
  std::unordered_set<std::string> seen;
  // The node's own materials, then its children's subtrees (not its siblings).
  for (const AgGeometryMaterial& m : materials)
    if (m.has_texture && seen.insert(m.texture).second) names.push_back(m.texture);
  CollectNames(child, &names, &seen);
  char** out = new char*[names.size() + 1];
  for (size_t i = 0; i < names.size(); ++i) {
    out[i] = new char[names[i].size() + 1];
    std::memcpy(out[i], names[i].c_str(), names[i].size() + 1);
  }
  out[names.size()] = nullptr;
  return out;
}

void AgFreeTextureNames(char** names) {
  if (!names) return;
  for (char** p = names; *p; ++p) delete[] *p;
  delete[] names;
}

// ---------------------------------------------------------------------------------------
// Interpolator data

AgInterpolatorData::~AgInterpolatorData() {
  for (int32_t i = 0; i < count_; ++i) delete records_[i];
  delete[] records_;
}

AgBodyPartRecord* AgInterpolatorData::AgFindOrAddBodyPart(int32_t key) {
  for (int32_t i = 0; i < count_; ++i)
    if (records_[i]->key == key) return records_[i];
  if (count_ == capacity_) {
    AgBodyPartRecord** grown = new (std::nothrow) AgBodyPartRecord*[capacity_ + 10];
    if (!grown) throw AgVrml2Error("Out of memory - in: AgInterpolatorData::AgFindOrAddBodyPart ");
    for (int32_t i = 0; i < count_; ++i) grown[i] = records_[i];
    delete[] records_;
    records_ = grown;
    capacity_ += 10;
  }
  AgBodyPartRecord* r = new AgBodyPartRecord;
  r->key = key;
  records_[count_++] = r;
  return r;
}

// ---------------------------------------------------------------------------------------
// Body parts

namespace {

const char* const kPartNames[33] = {
    "NoSubType", "Abdomen", "LeftThigh", "LeftShin", "LeftFoot", "LeftToe", "RightThigh",
    "RightShin", "RightFoot", "RightToe", "Chest", "LeftUpperArm", "LeftWrist", "RightUpperArm",
    "RightWrist", "Neck", "Head", "LeftEyeLid", "LeftEye", "RightEyeLid", "RightEye", "Body",
    "LeftShoulder", "RightShoulder", "LeftElbow", "RightElbow", "BodyAxis", "LeftHand",
    "RightHand", "Hair", "LeftBoot", "RightBoot", "MouthBackdrop"};

struct BaseName {
  const char* name;
  int part;
};
const BaseName kBaseNames[50] = {
    {"abdomen", 1}, {"sacroiliac", 1}, {"leftthigh", 2}, {"l_hip", 2}, {"leftshin", 3},
    {"l_knee", 3}, {"leftfoot", 4}, {"l_ankle", 4}, {"lefttoe", 5}, {"l_midtarsal", 5},
    {"rightthigh", 6}, {"r_hip", 6}, {"rightshin", 7}, {"r_knee", 7}, {"rightfoot", 8},
    {"r_ankle", 8}, {"righttoe", 9}, {"r_midtarsal", 9}, {"chest", 10}, {"v15", 10},
    {"leftupperarm", 11}, {"l_shoulder", 11}, {"leftwrist", 12}, {"l_elbow", 12},
    {"rightupperarm", 13}, {"r_shoulder", 13}, {"rightwrist", 14}, {"r_elbow", 14}, {"neck", 15},
    {"head", 16}, {"skullbase", 16}, {"lefteyelid", 17}, {"lefteye", 18}, {"righteyelid", 19},
    {"righteye", 20}, {"body", 21}, {"HumanoidRoot", 21}, {"leftshoulder", 22},
    {"rightshoulder", 23}, {"leftelbow", 24}, {"rightelbow", 25}, {"bodyaxis", 26},
    {"lefthand", 27}, {"l_wrist", 27}, {"righthand", 28}, {"r_wrist", 28}, {"hair", 29},
    {"leftboot", 30}, {"rightboot", 31}, {"mouthbackdrop", 32}};

struct JointEntry {
  char name[48];
  int part;
};
struct JointTable {
  JointEntry e[300];
  JointTable() {
    static const char* const kSuffix[6] = {"", "-pos-interp", "-rot-interp", "-root", "_pivot",
                                           "_pivot-root"};
    int n = 0;
    for (const BaseName& b : kBaseNames) {
      for (int s = 0; s < 6; ++s) {
        std::snprintf(e[n].name, sizeof e[n].name, "%s%s", b.name, kSuffix[s]);
        e[n].part = s < 4 ? b.part : b.part + 32;
        ++n;
      }
    }
  }
};

const JointTable& Joints() {
  static const JointTable table;
  return table;
}

}  // namespace

const char* AgBodyPartName(int number) {
  static char pivots[32][32];
  static bool made = false;
  if (!made) {
    for (int i = 1; i <= 32; ++i) std::snprintf(pivots[i - 1], sizeof pivots[0], "%sPivot", kPartNames[i]);
    made = true;
  }
  if (number >= 1 && number <= 32) return kPartNames[number];
  if (number >= 33 && number <= 64) return pivots[number - 33];
  return nullptr;
}

int AgPivotPart(int part) { return (part >= 1 && part <= 32) ? part + 32 : 0; }

int AgJointPart(const char* name) {
  if (!name) return 0;
  for (const JointEntry& j : Joints().e)
    if (strcasecmp(name, j.name) == 0) return j.part;
  return 0;
}

int32_t AgPartTagOf(const char* def_name, int options) {
  int p = AgJointPart(def_name);
  if (p == 0) return -1;
  if (options & AG_OPT_INTERPOLATORS) return 0x0C00FFFF + p * 0x10000;
  if (options & AG_OPT_ALT_TAGS) return 0x0E00FFFF + p * 0x10000;
  return p;
}

// ---------------------------------------------------------------------------------------
// Avatar description objects

AgAvatarDesc* AgNewAvatar() {
  AgAvatarDesc* a = new AgAvatarDesc();
  a->tree_count = 1;
  a->trees = new AgTreeDesc*[1]();
  return a;
}

AgTreeDesc* AgNewTree() { return new AgTreeDesc(); }

AgAnimationDesc* AgNewAnimation() {
  AgAnimationDesc* a = new AgAnimationDesc();
  a->first = -1;
  a->second = -1;
  a->used = 1;
  return a;
}

int AgFreeTree(AgTreeDesc* tree) {
  while (tree) {
    AgTreeDesc* next = tree->next;
    std::free(tree->buffer);
    for (int32_t i = 0; i < tree->polygon_count && tree->polygons; ++i) delete[] tree->polygons[i].vertices;
    delete[] tree->polygons;
    for (int32_t i = 0; i < tree->material_count && tree->materials; ++i) delete[] tree->materials[i].texture_path;
    delete[] tree->materials;
    AgFreeMatrix(tree->matrix);
    if (tree->clump) VxDestroyClump(tree->clump);
    AgFreeTree(tree->child);
    delete tree;
    tree = next;
  }
  return 0;
}

int AgFreeAnimation(AgAnimationDesc* a) {
  if (!a) return 1;
  for (int32_t k = 0; k < a->keyset.count && a->keyset.keys; ++k) {
    if (!a->keyset.keys[k]) continue;
    for (int32_t p = 0; p < a->keyset.parts; ++p) AgFreeMatrix(a->keyset.keys[k][p]);
    delete[] a->keyset.keys[k];
  }
  delete[] a->keyset.keys;
  a->keyset.keys = nullptr;
  a->keyset.count = 0;
  std::free(a->buffer);
  a->buffer = nullptr;
  if (a->locked) return 3;
  delete a;
  return 0;
}

int AgFreeAvatar(AgAvatarDesc* a) {
  if (!a) return 1;
  for (int32_t i = 0; i < a->tree_count && a->trees; ++i) AgFreeTree(a->trees[i]);
  delete[] a->trees;
  for (int32_t i = 0; i < a->animation_count && a->animations; ++i) AgFreeAnimation(a->animations[i]);
  delete[] a->animations;
  std::free(a->buffer);
  AgDeleteGeometryTree(a->geometry);
  delete a;
  return 0;
}

int AgFreeMaterial(AgMaterialDesc* m) {
  if (!m) return 1;
  delete[] m->texture_path;
  m->texture_path = nullptr;
  return 0;
}

int AgFreePolygon(AgPolygonDesc* p) {
  if (!p || !p->vertices) return 1;
  delete[] p->vertices;
  p->vertices = nullptr;
  return 0;
}

void AgWriteAppearance(const AgMaterialDesc* m, int number, FILE* out) {
  if (!m || !out) return;
  std::fprintf(out, "\tDEF A%f Appearance {\n", static_cast<double>(number));
  std::fprintf(out, "\t\tmaterial Material {\n");
  std::fflush(out);
  std::fprintf(out, "\t\t\tambientIntensity %f\n", m->ambient);
  std::fflush(out);
  double r, g, b;
  if (m->texture_path) {
    r = g = b = m->diffuse;
  } else {
    r = m->red / 255.0 * m->diffuse;
    g = m->green / 255.0 * m->diffuse;
    b = m->blue / 255.0 * m->diffuse;
  }
  std::fprintf(out, "\t\t\tdiffuseColor     %f %f %f\n", r, g, b);
  std::fflush(out);
  std::fprintf(out, "\t\t\tshininess        %f\n", m->shininess);
  std::fflush(out);
  std::fprintf(out, "\t\t\ttransparency  %f\n\t\t}\n", m->transparency);
  if (m->texture_path) {
    const char* base = std::strrchr(m->texture_path, '\\');
    base = base ? base + 1 : m->texture_path;
    std::fprintf(out, "\t\ttexture ImageTexture {\n");
    std::fprintf(out, "\t\t\turl \"%s\"\n", base);
    std::fflush(out);
    std::fprintf(out, "\t\t}\n");
  }
  std::fprintf(out, "\t}, # End A%f\n", static_cast<double>(number));
}

void AgWriteAvatar(const AgAvatarDesc*, FILE*) {}
