// The VRML 2.0 and avatar model parser library: entry point, errors, the geometry tree,
// interpolator data, body-part names and the avatar description objects.
//
// AgLoadVrmlFile parses one file into a tree of AgGeometryNode (meshes, materials,
// placement matrices) and, on request, the body-part interpolators of an avatar.
// Every failure inside the library is an AgVrml2Error; only AgLoadVrmlFile catches it.
#ifndef TESSEL_PARSER_AGLIB_H
#define TESSEL_PARSER_AGLIB_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct VxClumpRec;
typedef struct VxClumpRec VxClump;

// Load options (bits).
enum : int {
  AG_OPT_TEXTURES = 1,        // texture coordinates and texture names
  AG_OPT_INTERPOLATORS = 2,   // collect body-part interpolators; packed part tags
  AG_OPT_ALT_TAGS = 4,        // the other packing of part tags (without bit 2)
  FORCE_VERTICES = 8,         // every coordinate point becomes one vertex
  AG_OPT_CLAMP_UV = 32,       // clamp texture coordinates into 0..1
};

// The library's one error type. The text holds at most 127 characters.
class AgVrml2Error {
 public:
  explicit AgVrml2Error(const char* format, ...) __attribute__((format(printf, 2, 3)));
  const char* Text() const { return text_; }

 private:
  char text_[128];
};

struct AgGeometryVertex {
  float x, y, z, u, v;
};

// A polygon's corner indices. Nearly every face is a triangle or a quad: up to four are kept
// in place, so a model of many faces costs no allocation per face, and a face stays small.
class AgPolygonIndices {
 public:
  AgPolygonIndices() = default;
  AgPolygonIndices(const AgPolygonIndices& o) { assign(o.begin(), o.end()); }
  AgPolygonIndices(AgPolygonIndices&& o) noexcept : size_(o.size_), u_(o.u_) { o.size_ = 0; }
  AgPolygonIndices& operator=(const AgPolygonIndices& o) {
    if (this != &o) assign(o.begin(), o.end());
    return *this;
  }
  AgPolygonIndices& operator=(AgPolygonIndices&& o) noexcept {
    if (this != &o) {
      Release();
      size_ = o.size_;
      u_ = o.u_;
      o.size_ = 0;
    }
    return *this;
  }
  ~AgPolygonIndices() { Release(); }

  // Copies first, then lets the old corners go: the source may be our own.
  void assign(const int32_t* first, const int32_t* last) {
    const size_t n = static_cast<size_t>(last - first);
    if (n > kLocal) {
      int32_t* far = new int32_t[n];
      std::copy(first, last, far);
      Release();
      u_.far = far;
    } else {
      int32_t local[kLocal];
      std::copy(first, last, local);
      Release();
      std::copy(local, local + n, u_.local);
    }
    size_ = static_cast<uint32_t>(n);
  }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const int32_t* data() const { return size_ <= kLocal ? u_.local : u_.far; }
  const int32_t* begin() const { return data(); }
  const int32_t* end() const { return data() + size_; }
  int32_t operator[](size_t i) const { return data()[i]; }

 private:
  static constexpr size_t kLocal = 4;
  void Release() {
    if (size_ > kLocal) delete[] u_.far;
    size_ = 0;
  }
  uint32_t size_ = 0;
  union {
    int32_t local[kLocal];
    int32_t* far;
  } u_ = {};
};

struct AgGeometryPolygon {
  uint32_t material = 0;
  int32_t count = 0;
  AgPolygonIndices indices;  // 0-based into the node's vertices
};

struct AgGeometryMaterial {
  float ambient = 0, diffuse = 0, shininess = 0, transparency = 0;
  uint8_t red = 0, green = 0, blue = 0;
  std::string texture;      // texture file name, valid when has_texture
  bool has_texture = false;
};

// One node of the geometry tree; a node owns its children (and the root is the caller's).
class AgGeometryNode {
 public:
  AgGeometryNode();
  ~AgGeometryNode();
  AgGeometryNode(const AgGeometryNode&) = delete;
  AgGeometryNode& operator=(const AgGeometryNode&) = delete;

  AgGeometryNode* next = nullptr;
  AgGeometryNode* child = nullptr;
  AgGeometryNode* parent = nullptr;
  int32_t part_tag = -1;
  std::string name;
  bool has_name = false;
  float matrix[12];  // rows x, y, z; translation in the fourth column

  std::vector<AgGeometryVertex> vertices;
  std::vector<AgGeometryPolygon> polygons;
  std::vector<AgGeometryMaterial> materials;

  int32_t PolygonCount() const { return static_cast<int32_t>(polygons.size()); }
  int32_t VertexCount() const { return static_cast<int32_t>(vertices.size()); }
  int32_t MaterialCount() const { return static_cast<int32_t>(materials.size()); }

  void AddChild(AgGeometryNode* node);
  AgGeometryNode* LastChild() const;
  void SetName(const char* text);
  int32_t AddVertex(float x, float y, float z);
  int32_t AddVertexUV(float x, float y, float z, float u, float v);
  AgGeometryPolygon* AddPolygon(int32_t count, const int32_t* indices, uint32_t material);
  int32_t FindOrAddColorMaterial(uint8_t red, uint8_t green, uint8_t blue, float ambient,
                                 float diffuse, float shininess, float transparency);
  int32_t FindOrAddMaterial(const AgGeometryMaterial& material);

  // New null-terminated array of new texts (free each with delete[], then the array).
  char** CollectTextureNames() const;
  // Builds this node, its following siblings and all their children into engine clumps.
  VxClump* BuildClumps(VxClump* parent_clump, int colours_only, int texture_mode);
  VxClump* BuildClump(int colours_only, int texture_mode);

 private:
  // Index of the materials by value, so that find-or-add stays fast on big colour sets.
  std::unordered_map<std::string, int32_t> material_index_;
  AgGeometryNode* last_child_ = nullptr;
};

// Frees the node, its descendants and all its following siblings.
void AgDeleteGeometryTree(AgGeometryNode* node);
// Frees a texture-name array made by CollectTextureNames.
void AgFreeTextureNames(char** names);

struct AgVec3 {
  float x, y, z;
};
struct AgRotation {
  float x, y, z, angle;
};

// Interpolators and Transform values of one body part.
struct AgBodyPartRecord {
  int32_t key = -1;
  int32_t position_count = -1;
  std::vector<float> position_keys;
  std::vector<AgVec3> position_values;
  int32_t rotation_count = -1;
  std::vector<float> rotation_keys;
  std::vector<AgRotation> rotation_values;
  std::unique_ptr<AgVec3> translation;
  std::unique_ptr<AgRotation> rotation;
  std::unique_ptr<AgVec3> scale;
  std::unique_ptr<AgRotation> scale_orientation;
  std::unique_ptr<AgVec3> center;
};

class AgInterpolatorData {
 public:
  AgInterpolatorData() = default;
  ~AgInterpolatorData();
  AgInterpolatorData(const AgInterpolatorData&) = delete;
  AgInterpolatorData& operator=(const AgInterpolatorData&) = delete;

  AgBodyPartRecord* AgFindOrAddBodyPart(int32_t key);
  int32_t Count() const { return count_; }
  AgBodyPartRecord* Record(int32_t i) const { return (i >= 0 && i < count_) ? records_[i] : nullptr; }

 private:
  AgBodyPartRecord** records_ = nullptr;
  int32_t count_ = 0;
  int32_t capacity_ = 0;
};

// Entry: 0 on success with both outputs written; 4 on failure, outputs untouched.
int AgLoadVrmlFile(const char* path, int options, AgGeometryNode** tree_out,
                   AgInterpolatorData** interp_out);
// The same on a text in memory (tools and tests).
int AgLoadVrmlText(const char* text, size_t length, int options, AgGeometryNode** tree_out,
                   AgInterpolatorData** interp_out);
const char* AgGetLastError();

// Body parts: 1..32, pivots 33..64.
const char* AgBodyPartName(int number);
int AgPivotPart(int part);
// Part number of a joint name (0 when none).
int AgJointPart(const char* name);
// The part tag of a DEF name under the given options (-1 when it names no part).
int32_t AgPartTagOf(const char* def_name, int options);

// Avatar description objects.
struct AgMaterialDesc {
  float ambient, diffuse, shininess, transparency;
  uint8_t red, green, blue;
  char* texture_path;  // own text or null
};
struct AgPolygonDesc {
  int32_t a, b;
  int32_t* vertices;
};
struct AgTreeDesc {
  int32_t polygon_count, material_count;
  void* buffer;
  AgPolygonDesc* polygons;
  AgMaterialDesc* materials;
  float* matrix;
  AgTreeDesc* child;
  AgTreeDesc* next;
  VxClump* clump;
};
struct AgKeySet {
  int32_t count;
  float*** keys;  // per key: one matrix per body part
  int32_t parts;
};
struct AgAnimationDesc {
  int32_t first, second;  // start at -1
  int32_t used;
  AgKeySet keyset;
  void* buffer;
  int32_t locked;
};
struct AgAvatarDesc {
  int32_t animation_count;
  int32_t tree_count;
  AgGeometryNode* geometry;
  AgTreeDesc** trees;
  AgAnimationDesc** animations;
  void* buffer;
  int32_t fields[8];
};

AgAvatarDesc* AgNewAvatar();
AgTreeDesc* AgNewTree();
AgAnimationDesc* AgNewAnimation();
int AgFreeAvatar(AgAvatarDesc* avatar);
int AgFreeTree(AgTreeDesc* tree);
int AgFreeAnimation(AgAnimationDesc* animation);  // 3 when locked
int AgFreeMaterial(AgMaterialDesc* material);
int AgFreePolygon(AgPolygonDesc* polygon);
void AgWriteAppearance(const AgMaterialDesc* material, int number, FILE* out);
void AgWriteAvatar(const AgAvatarDesc* avatar, FILE* out);

#endif
