// Clumps: hierarchy, tags, state, matrices, bounds, vertices, polygons and materials.
#include "engine/internal.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

namespace vx {
namespace {

// Clump records come from blocks of many, in the order they are made: a frame walks them
// in about that order, and records scattered over the heap cost it a cache line and a
// page each. A record given back is used again for the next one made.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VX_ADDRESS_CHECKED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(VX_ADDRESS_CHECKED)
constexpr bool kPooled = false;  // the address checker sees each record on its own
#else
constexpr bool kPooled = true;
#endif
struct ClumpPool {
  static constexpr size_t kPerBlock = 128;
  struct alignas(64) Slot {
    unsigned char bytes[sizeof(VxClumpRec)];
  };
  std::vector<std::unique_ptr<Slot[]>> blocks;
  std::vector<Slot*> given_back;
  size_t used = kPerBlock;  // in the last block

  void* take() {
    if (!kPooled) return ::operator new(sizeof(VxClumpRec));
    if (!given_back.empty()) {
      Slot* s = given_back.back();
      given_back.pop_back();
      return s;
    }
    if (used == kPerBlock) {
      blocks.push_back(std::make_unique<Slot[]>(kPerBlock));
      used = 0;
    }
    return &blocks.back()[used++];
  }
  void give(void* p) {
    if (!kPooled) return ::operator delete(p);
    given_back.push_back(static_cast<Slot*>(p));
  }
};

// Never destroyed: records may still be given back while the program's statics are torn
// down, and the blocks stay reachable for a leak checker at exit.
ClumpPool& clump_pool() {
  static ClumpPool* pool = new ClumpPool;
  return *pool;
}

VxClumpRec* clump_make() { return new (clump_pool().take()) VxClumpRec; }

}  // namespace

void surface_set_texture(Surface& s, VxTextureRec* t) {
  if (t) texture_ref(t);
  if (s.texture) texture_unref(s.texture);
  s.texture = t;
}

void polygon_free(VxPolygonRec* p) {
  surface_set_texture(p->surface, nullptr);
  st().polygons.erase(p);
  delete p;
}

void clump_detach(VxClumpRec* c) {
  if (c->parent) {
    auto& k = c->parent->children;
    k.erase(std::remove(k.begin(), k.end(), c), k.end());
    c->parent = nullptr;
  }
  if (c->scene) {
    auto& k = c->scene->clumps;
    k.erase(std::remove(k.begin(), k.end(), c), k.end());
    c->scene = nullptr;
  }
}

void clump_free_tree(VxClumpRec* c) {
  clump_detach(c);
  std::vector<VxClumpRec*> kids = c->children;
  for (VxClumpRec* k : kids) {
    k->parent = nullptr;
    clump_free_tree(k);
  }
  for (VxPolygonRec* p : c->polygons) polygon_free(p);
  st().clumps.erase(c);
  c->~VxClumpRec();
  clump_pool().give(c);
}

Mat clump_world(const VxClumpRec* c) {
  // Each parent's joint turns its parts with it: a bent hip carries the shin.
  Mat w = mat_mul(c->joint, c->placement);
  int depth = 0;
  for (const VxClumpRec* p = c->parent; p && depth < kMaxClumpDepth * 4; p = p->parent, ++depth)
    w = mat_mul(w, mat_mul(p->joint, p->placement));
  return w;
}

}  // namespace vx

using namespace vx;

static VxClumpRec* clump_new() {
  VxClumpRec* c = clump_make();
  st().clumps.insert(c);
  return c;
}

VxClump* VxCreateClump(int vertex_hint, int polygon_hint) {
  if (!st().initialized) return failp<VxClump>(VX_E_NOT_INITIALIZED);
  VxClumpRec* c = clump_new();
  if (vertex_hint > 0 && vertex_hint <= kMaxVertices) c->vertices.reserve(vertex_hint);
  if (polygon_hint > 0 && polygon_hint <= kMaxPolygons) c->polygons.reserve(polygon_hint);
  return c;
}

static VxClumpRec* duplicate(const VxClumpRec* src, int depth) {
  VxClumpRec* c = clump_new();
  c->tag = src->tag;
  c->state = src->state;
  c->mode = src->mode;
  c->alignment = src->alignment;
  c->placement = src->placement;
  c->joint = src->joint;
  c->local_known = false;
  c->vertices = src->vertices;
  for (const VxPolygonRec* sp : src->polygons) {
    auto* p = new VxPolygonRec;
    st().polygons.insert(p);
    p->clump = c;
    p->tag = sp->tag;
    p->numbers = sp->numbers;
    p->surface = sp->surface;
    p->surface.texture = nullptr;
    surface_set_texture(p->surface, sp->surface.texture);
    c->polygons.push_back(p);
  }
  clump_changed(c);
  if (depth < kMaxClumpDepth) {
    for (const VxClumpRec* k : src->children) {
      VxClumpRec* d = duplicate(k, depth + 1);
      d->parent = c;
      c->children.push_back(d);
    }
  }
  return c;
}

VxClump* VxDuplicateClump(const VxClump* clump) {
  if (!live(clump)) return failp<VxClump>(VX_E_BAD_ARGUMENT);
  return duplicate(clump, 0);
}

int VxDestroyClump(VxClump* clump) {
  if (!live(clump)) return fail(VX_E_BAD_ARGUMENT);
  clump_free_tree(clump);
  return 1;
}

static int depth_of(const VxClumpRec* c) {
  int d = 0;
  for (; c->parent; c = c->parent) ++d;
  return d;
}

static int height_of(const VxClumpRec* c) {
  int h = 0;
  for (const VxClumpRec* k : c->children) h = std::max(h, 1 + height_of(k));
  return h;
}

int VxAddChildToClump(VxClump* parent, VxClump* child) {
  if (!live(parent) || !live(child) || parent == child) return fail(VX_E_BAD_ARGUMENT);
  for (const VxClumpRec* a = parent; a; a = a->parent)
    if (a == child) return fail(VX_E_BAD_ARGUMENT);  // would make a cycle
  if (depth_of(parent) + 1 + height_of(child) > kMaxClumpDepth) return fail(VX_E_NO_MEMORY);
  clump_detach(child);
  child->parent = parent;
  parent->children.push_back(child);
  return 1;
}

int VxRemoveChildFromClump(VxClump* child) {
  if (!live(child) || !child->parent) return fail(VX_E_BAD_ARGUMENT);
  clump_detach(child);
  return 1;
}

VxClump* VxGetParentClump(const VxClump* clump) {
  if (!live(clump)) return failp<VxClump>(VX_E_BAD_ARGUMENT);
  return clump->parent;
}

VxClump* VxGetFirstChildClump(const VxClump* clump) {
  if (!live(clump)) return failp<VxClump>(VX_E_BAD_ARGUMENT);
  return clump->children.empty() ? nullptr : clump->children.front();
}

VxClump* VxGetNextSiblingClump(const VxClump* clump) {
  if (!live(clump)) return failp<VxClump>(VX_E_BAD_ARGUMENT);
  if (!clump->parent) return nullptr;
  auto& k = clump->parent->children;
  auto it = std::find(k.begin(), k.end(), clump);
  if (it == k.end() || ++it == k.end()) return nullptr;
  return *it;
}

static void for_all(VxClumpRec* c, void (*fn)(VxClump*, void*), void* data) {
  std::vector<VxClumpRec*> kids = c->children;  // fn may not reshape the tree under us
  for (VxClumpRec* k : kids) {
    if (!live(k)) continue;
    fn(k, data);
    if (live(k)) for_all(k, fn, data);
  }
}

int VxForAllChildClumps(VxClump* clump, void (*fn)(VxClump*, void*), void* data) {
  if (!live(clump) || !fn) return fail(VX_E_BAD_ARGUMENT);
  for_all(clump, fn, data);
  return 1;
}

static VxClumpRec* find_tag(VxClumpRec* c, int32_t tag) {
  if (c->tag == tag) return c;
  for (VxClumpRec* k : c->children)
    if (VxClumpRec* f = find_tag(k, tag)) return f;
  return nullptr;
}

VxClump* VxFindTaggedClump(VxClump* clump, int32_t tag) {
  if (!live(clump)) return failp<VxClump>(VX_E_BAD_ARGUMENT);
  VxClumpRec* f = find_tag(clump, tag);
  if (!f) return failp<VxClump>(VX_E_NOT_FOUND);
  return f;
}

int VxSetClumpTag(VxClump* clump, int32_t tag) {
  if (!live(clump)) return fail(VX_E_BAD_ARGUMENT);
  clump->tag = tag;
  return 1;
}

int32_t VxGetClumpTag(const VxClump* clump) {
  if (!live(clump)) return fail(VX_E_BAD_ARGUMENT);
  return clump->tag;
}

int VxSetClumpState(VxClump* clump, int state) {
  if (!live(clump) || (state != VX_STATE_ON && state != VX_STATE_OFF)) return fail(VX_E_BAD_ARGUMENT);
  clump->state = state;
  return 1;
}

int VxGetClumpState(const VxClump* clump) {
  if (!live(clump)) return fail(VX_E_BAD_ARGUMENT);
  return clump->state;
}

int VxSetClumpMode(VxClump* clump, int mode) {
  if (!live(clump)) return fail(VX_E_BAD_ARGUMENT);
  clump->mode = mode;
  return 1;
}

int VxGetClumpMode(const VxClump* clump) {
  if (!live(clump)) return fail(VX_E_BAD_ARGUMENT);
  return clump->mode;
}

int VxGetClumpAxisAlignment(const VxClump* clump) {
  if (!live(clump)) return fail(VX_E_BAD_ARGUMENT);
  return clump->alignment;
}

int VxTransformClump(VxClump* clump, const VxMatrix* m, int mode) {
  if (!live(clump) || !live(m)) return fail(VX_E_BAD_ARGUMENT);
  clump->local_known = false;
  if (!mat_combine(clump->placement, m->mat, mode)) return fail(VX_E_BAD_ARGUMENT);
  return 1;
}

int VxTransformClumpJoint(VxClump* clump, const VxMatrix* m, int mode) {
  if (!live(clump) || !live(m)) return fail(VX_E_BAD_ARGUMENT);
  clump->local_known = false;
  if (!mat_combine(clump->joint, m->mat, mode)) return fail(VX_E_BAD_ARGUMENT);
  return 1;
}

int VxGetClumpMatrix(const VxClump* clump, VxMatrix* out) {
  if (!live(clump) || !live(out)) return fail(VX_E_BAD_ARGUMENT);
  out->mat = clump->placement;
  return 1;
}

int VxGetClumpJointMatrix(const VxClump* clump, VxMatrix* out) {
  if (!live(clump) || !live(out)) return fail(VX_E_BAD_ARGUMENT);
  out->mat = clump->joint;
  return 1;
}

int VxGetClumpWorldMatrix(const VxClump* clump, VxMatrix* out) {
  if (!live(clump) || !live(out)) return fail(VX_E_BAD_ARGUMENT);
  out->mat = clump_world(clump);
  return 1;
}

int VxGetClumpOrigin(const VxClump* clump, VxVector* out) {
  if (!live(clump) || !out) return fail(VX_E_BAD_ARGUMENT);
  Mat w = clump_world(clump);
  *out = VxVector{w.m[3][0], w.m[3][1], w.m[3][2]};
  return 1;
}

static int bounds(const VxClumpRec* c, const Mat* through, VxVector* min, VxVector* max) {
  if (!live(c) || !min || !max) return fail(VX_E_BAD_ARGUMENT);
  if (c->vertices.empty()) {
    *min = *max = VxVector{0, 0, 0};
    return 1;
  }
  bool first = true;
  for (const VxClumpVertex& v : c->vertices) {
    VxVector p = through ? mat_apply(*through, v.p) : v.p;
    if (first) {
      *min = *max = p;
      first = false;
      continue;
    }
    min->x = std::min(min->x, p.x), min->y = std::min(min->y, p.y), min->z = std::min(min->z, p.z);
    max->x = std::max(max->x, p.x), max->y = std::max(max->y, p.y), max->z = std::max(max->z, p.z);
  }
  return 1;
}

int VxGetClumpBounds(const VxClump* clump, VxVector* min, VxVector* max) {
  return bounds(clump, nullptr, min, max);
}

int VxGetClumpBoundingBox(const VxClump* clump, VxVector* min, VxVector* max) {
  if (!live(clump)) return fail(VX_E_BAD_ARGUMENT);
  return bounds(clump, &clump->joint, min, max);
}

int VxAddVertexToClump(VxClump* clump, VxReal x, VxReal y, VxReal z) {
  if (!live(clump)) return fail(VX_E_BAD_ARGUMENT);
  if ((int)clump->vertices.size() >= kMaxVertices) return fail(VX_E_NO_MEMORY);
  clump->vertices.push_back(VxClumpVertex{{x, y, z}, 0, 0});
  clump_changed(clump);
  return (int)clump->vertices.size();
}

int VxGetClumpNumVertices(const VxClump* clump) {
  if (!live(clump)) return fail(VX_E_BAD_ARGUMENT);
  return (int)clump->vertices.size();
}

int VxGetClumpVertex(const VxClump* clump, int number, VxVector* out) {
  if (!live(clump) || !out || number < 1 || number > (int)clump->vertices.size())
    return fail(VX_E_BAD_ARGUMENT);
  *out = clump->vertices[number - 1].p;
  return 1;
}

int VxSetClumpVertexUV(VxClump* clump, int number, VxReal u, VxReal v) {
  if (!live(clump) || number < 1 || number > (int)clump->vertices.size())
    return fail(VX_E_BAD_ARGUMENT);
  clump->vertices[number - 1].u = u;
  clump->vertices[number - 1].v = v;
  clump_changed(clump);
  return 1;
}

int VxGetClumpVertexUV(const VxClump* clump, int number, VxReal* u, VxReal* v) {
  if (!live(clump) || !u || !v || number < 1 || number > (int)clump->vertices.size())
    return fail(VX_E_BAD_ARGUMENT);
  *u = clump->vertices[number - 1].u;
  *v = clump->vertices[number - 1].v;
  return 1;
}

VxPolygon* VxAddPolygonToClump(VxClump* clump, int count, const int* numbers) {
  if (!live(clump) || !numbers || count < 3 || count > kMaxPolygonCorners)
    return failp<VxPolygon>(VX_E_BAD_ARGUMENT);
  for (int i = 0; i < count; ++i)
    if (numbers[i] < 1 || numbers[i] > (int)clump->vertices.size())
      return failp<VxPolygon>(VX_E_BAD_ARGUMENT);
  if ((int)clump->polygons.size() >= kMaxPolygons) return failp<VxPolygon>(VX_E_NO_MEMORY);
  auto* p = new VxPolygonRec;
  st().polygons.insert(p);
  p->clump = clump;
  p->numbers.assign(numbers, numbers + count);
  clump->polygons.push_back(p);
  clump_changed(clump);
  return p;
}

int VxGetClumpNumPolygons(const VxClump* clump) {
  if (!live(clump)) return fail(VX_E_BAD_ARGUMENT);
  return (int)clump->polygons.size();
}

VxPolygon* VxGetClumpPolygon(const VxClump* clump, int index) {
  if (!live(clump) || index < 0 || index >= (int)clump->polygons.size())
    return failp<VxPolygon>(VX_E_BAD_ARGUMENT);
  return clump->polygons[index];
}

template <class F>
static int each_polygon(VxClump* clump, F f) {
  if (!live(clump)) return fail(VX_E_BAD_ARGUMENT);
  std::vector<VxPolygonRec*> list = clump->polygons;
  for (VxPolygonRec* p : list)
    if (live(p)) f(p);
  return 1;
}

int VxForAllPolygonsInClump(VxClump* clump, void (*fn)(VxPolygon*)) {
  if (!fn) return fail(VX_E_BAD_ARGUMENT);
  return each_polygon(clump, [&](VxPolygonRec* p) { fn(p); });
}

int VxForAllPolygonsInClumpWithArg(VxClump* clump, void (*fn)(VxPolygon*, void*), void* arg) {
  if (!fn) return fail(VX_E_BAD_ARGUMENT);
  return each_polygon(clump, [&](VxPolygonRec* p) { fn(p, arg); });
}

int VxForAllPolygonsInClumpWithData(VxClump* clump, void (*fn)(VxPolygon*, void*), void* data) {
  if (!fn) return fail(VX_E_BAD_ARGUMENT);
  return each_polygon(clump, [&](VxPolygonRec* p) { fn(p, data); });
}

VxClump* VxGetPolygonClump(const VxPolygon* polygon) {
  if (!live(polygon)) return failp<VxClump>(VX_E_BAD_ARGUMENT);
  // The top-level clump: the model a pick or a tag lookup is about, not one of its parts.
  VxClumpRec* c = polygon->clump;
  for (int depth = 0; c && c->parent && depth < kMaxClumpDepth * 4; ++depth) c = c->parent;
  return c;
}

int32_t VxGetPolygonTag(const VxPolygon* polygon) {
  if (!live(polygon)) return fail(VX_E_BAD_ARGUMENT);
  return polygon->tag;
}

int VxSetPolygonTag(VxPolygon* polygon, int32_t tag) {
  if (!live(polygon)) return fail(VX_E_BAD_ARGUMENT);
  polygon->tag = tag;
  return 1;
}

int VxGetPolygonNumVertices(const VxPolygon* polygon) {
  if (!live(polygon)) return fail(VX_E_BAD_ARGUMENT);
  return (int)polygon->numbers.size();
}

int VxGetPolygonVertexIndices(const VxPolygon* polygon, int* numbers) {
  if (!live(polygon) || !numbers) return fail(VX_E_BAD_ARGUMENT);
  std::copy(polygon->numbers.begin(), polygon->numbers.end(), numbers);
  return 1;
}

int VxSetPolygonTexture(VxPolygon* polygon, VxTexture* texture) {
  if (!live(polygon) || (texture && !live(texture))) return fail(VX_E_BAD_ARGUMENT);
  surface_set_texture(polygon->surface, texture);
  clump_changed(polygon->clump);
  return 1;
}

VxTexture* VxGetPolygonTexture(const VxPolygon* polygon) {
  if (!live(polygon)) return failp<VxTexture>(VX_E_BAD_ARGUMENT);
  return polygon->surface.texture;
}

int VxSetPolygonMaterial(VxPolygon* polygon, const VxMaterial* material) {
  if (!live(polygon) || !live(material)) return fail(VX_E_BAD_ARGUMENT);
  VxTextureRec* t = material->s.texture;
  VxTextureRec* old = polygon->surface.texture;
  polygon->surface = material->s;
  polygon->surface.texture = old;
  surface_set_texture(polygon->surface, t);
  clump_changed(polygon->clump);
  return 1;
}

int VxGetPolygonMaterial(const VxPolygon* polygon, VxMaterial* out) {
  if (!live(polygon) || !live(out)) return fail(VX_E_BAD_ARGUMENT);
  VxTextureRec* old = out->s.texture;
  out->s = polygon->surface;
  out->s.texture = old;
  surface_set_texture(out->s, polygon->surface.texture);
  return 1;
}

VxMaterial* VxCreateMaterial(void) {
  if (!st().initialized) return failp<VxMaterial>(VX_E_NOT_INITIALIZED);
  auto* m = new VxMaterialRec;
  st().materials.insert(m);
  return m;
}

int VxDestroyMaterial(VxMaterial* material) {
  if (!live(material)) return fail(VX_E_BAD_ARGUMENT);
  surface_set_texture(material->s, nullptr);
  st().materials.erase(material);
  delete material;
  return 1;
}

static VxReal clamp01(VxReal v) { return std::isfinite(v) ? std::clamp(v, (VxReal)0, (VxReal)1) : 0; }

int VxSetMaterialColor(VxMaterial* m, VxReal red, VxReal green, VxReal blue) {
  if (!live(m)) return fail(VX_E_BAD_ARGUMENT);
  m->s.red = clamp01(red), m->s.green = clamp01(green), m->s.blue = clamp01(blue);
  return 1;
}

int VxSetMaterialSurface(VxMaterial* m, VxReal ambient, VxReal diffuse, VxReal specular) {
  if (!live(m)) return fail(VX_E_BAD_ARGUMENT);
  m->s.ambient = clamp01(ambient), m->s.diffuse = clamp01(diffuse), m->s.specular = clamp01(specular);
  return 1;
}

int VxSetMaterialOpacity(VxMaterial* m, VxReal opacity) {
  if (!live(m)) return fail(VX_E_BAD_ARGUMENT);
  m->s.opacity = clamp01(opacity);
  return 1;
}

int VxSetMaterialMode(VxMaterial* m, int mode) {
  if (!live(m)) return fail(VX_E_BAD_ARGUMENT);
  m->s.mode = mode;
  return 1;
}

int VxSetMaterialTextureMode(VxMaterial* m, int mode) {
  if (!live(m)) return fail(VX_E_BAD_ARGUMENT);
  m->s.texture_mode = mode;
  return 1;
}

int VxSetMaterialLook(VxMaterial* m, int look) {
  if (!live(m) || (look & ~VX_LOOK_ALL)) return fail(VX_E_BAD_ARGUMENT);
  m->s.look = look;
  return 1;
}

int VxGetMaterialLook(const VxMaterial* m) {
  if (!live(m)) return fail(VX_E_BAD_ARGUMENT);
  return m->s.look;
}

int VxSetMaterialTexture(VxMaterial* m, VxTexture* texture) {
  if (!live(m) || (texture && !live(texture))) return fail(VX_E_BAD_ARGUMENT);
  surface_set_texture(m->s, texture);
  return 1;
}

int VxGetMaterialColor(const VxMaterial* m, VxReal* red, VxReal* green, VxReal* blue) {
  if (!live(m) || !red || !green || !blue) return fail(VX_E_BAD_ARGUMENT);
  *red = m->s.red, *green = m->s.green, *blue = m->s.blue;
  return 1;
}

int VxGetMaterialSurface(const VxMaterial* m, VxReal* ambient, VxReal* diffuse, VxReal* specular) {
  if (!live(m) || !ambient || !diffuse || !specular) return fail(VX_E_BAD_ARGUMENT);
  *ambient = m->s.ambient, *diffuse = m->s.diffuse, *specular = m->s.specular;
  return 1;
}

VxReal VxGetMaterialOpacity(const VxMaterial* m) {
  if (!live(m)) return (VxReal)fail(VX_E_BAD_ARGUMENT);
  return m->s.opacity;
}

int VxGetMaterialMode(const VxMaterial* m) {
  if (!live(m)) return fail(VX_E_BAD_ARGUMENT);
  return m->s.mode;
}

int VxGetMaterialTextureMode(const VxMaterial* m) {
  if (!live(m)) return fail(VX_E_BAD_ARGUMENT);
  return m->s.texture_mode;
}

VxTexture* VxGetMaterialTexture(const VxMaterial* m) {
  if (!live(m)) return failp<VxTexture>(VX_E_BAD_ARGUMENT);
  return m->s.texture;
}
