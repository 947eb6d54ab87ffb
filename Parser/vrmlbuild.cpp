// Geometry building: node Build operations into the geometry tree, body-part interpolator
// collection, and the conversion of the tree into engine clumps.
#include "Parser/matrix.h"
#include "Parser/vrmlnodes.h"
#include "engine/vxl21.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// Colour component (0..1) to a byte; out-of-range values saturate instead of wrapping.
uint8_t ToByte(float f) {
  float v = f * 255.0f;
  if (!(v > 0)) return 0;
  if (v >= 255.0f) return 255;
  return static_cast<uint8_t>(v);
}

template <class T>
T* FieldAs(const AgNode* node, int index) {
  return static_cast<T*>(node->GetField(index));
}

// The node an SFNode field holds when it is of the wanted type, else null.
AgNode* NodeOfType(const AgNode* node, int index, int32_t type) {
  auto* v = FieldAs<AgSFNode>(node, index);
  if (!v || !v->node || v->node->GetType() != type) return nullptr;
  return v->node;
}

}  // namespace

void AgGroup::Build(AgBuildContext& ctx, AgGeometryNode* parent, int32_t* material) {
  auto* children = FieldAs<AgMFNode>(this, AG_GROUP_CHILDREN);
  if (!children) return;
  ctx.Spend(1);
  AgGeometryNode* g = new AgGeometryNode;
  parent->AddChild(g);
  g->SetName(def_name_.c_str());
  for (AgNode* child : children->nodes) child->Build(ctx, g, material);
}

void AgTransform::Build(AgBuildContext& ctx, AgGeometryNode* parent, int32_t* material) {
  auto* children = FieldAs<AgMFNode>(this, AG_TRANSFORM_CHILDREN);
  if (!children) return;
  ctx.Spend(1);
  AgGeometryNode* g = new AgGeometryNode;
  parent->AddChild(g);
  float* m = g->matrix;
  auto* translation = FieldAs<AgSFVec3f>(this, AG_TRANSFORM_TRANSLATION);
  auto* center = FieldAs<AgSFVec3f>(this, AG_TRANSFORM_CENTER);
  auto* rotation = FieldAs<AgSFRotation>(this, AG_TRANSFORM_ROTATION);
  auto* orient = FieldAs<AgSFRotation>(this, AG_TRANSFORM_SCALEORIENTATION);
  auto* scale = FieldAs<AgSFVec3f>(this, AG_TRANSFORM_SCALE);
  if (translation) AgTranslateMatrix(m, translation->v, AG_POSTMULTIPLY);
  if (center) AgTranslateMatrix(m, center->v, AG_POSTMULTIPLY);
  if (rotation) AgRotateMatrix(m, rotation->v, AG_POSTMULTIPLY);
  if (orient) AgRotateMatrix(m, orient->v, AG_POSTMULTIPLY);
  if (scale) AgScaleMatrix(m, scale->v, AG_POSTMULTIPLY);
  if (orient) {
    float back[4] = {-orient->v[0], -orient->v[1], -orient->v[2], orient->v[3]};
    AgRotateMatrix(m, back, AG_POSTMULTIPLY);
  }
  if (center) {
    float back[3] = {-center->v[0], -center->v[1], -center->v[2]};
    AgTranslateMatrix(m, back, AG_POSTMULTIPLY);
  }
  int32_t tag = PartTag(ctx.options);
  if (tag == -1) tag = (ctx.options & AG_OPT_INTERPOLATORS) ? 0x0C00FFFF : 0x0E00FFFF;
  g->part_tag = tag;
  g->SetName(def_name_.c_str());
  for (AgNode* child : children->nodes) child->Build(ctx, g, material);
}

void AgTransform::CollectInterpolators(AgBuildContext& ctx, AgInterpolatorData* data) {
  ctx.Spend(1);
  AgBodyPartRecord* r = data->AgFindOrAddBodyPart(PartTag(ctx.options));
  if (auto* v = FieldAs<AgSFVec3f>(this, AG_TRANSFORM_TRANSLATION))
    r->translation = std::make_unique<AgVec3>(AgVec3{v->v[0], v->v[1], v->v[2]});
  if (auto* v = FieldAs<AgSFRotation>(this, AG_TRANSFORM_ROTATION))
    r->rotation = std::make_unique<AgRotation>(AgRotation{v->v[0], v->v[1], v->v[2], v->v[3]});
  if (auto* v = FieldAs<AgSFVec3f>(this, AG_TRANSFORM_SCALE))
    r->scale = std::make_unique<AgVec3>(AgVec3{v->v[0], v->v[1], v->v[2]});
  if (auto* v = FieldAs<AgSFRotation>(this, AG_TRANSFORM_SCALEORIENTATION))
    r->scale_orientation = std::make_unique<AgRotation>(AgRotation{v->v[0], v->v[1], v->v[2], v->v[3]});
  if (auto* v = FieldAs<AgSFVec3f>(this, AG_TRANSFORM_CENTER))
    r->center = std::make_unique<AgVec3>(AgVec3{v->v[0], v->v[1], v->v[2]});
  if (auto* children = FieldAs<AgMFNode>(this, AG_TRANSFORM_CHILDREN))
    for (AgNode* child : children->nodes) child->CollectInterpolators(ctx, data);
}

void AgPositionInterpolator::CollectInterpolators(AgBuildContext& ctx, AgInterpolatorData* data) {
  auto* keys = FieldAs<AgMFFloat>(this, AG_INTERP_KEY);
  if (!keys) return;
  AgBodyPartRecord* r = data->AgFindOrAddBodyPart(PartTag(ctx.options));
  auto* values = FieldAs<AgMFVec3f>(this, AG_INTERP_KEYVALUE);
  if (!values) return;
  // Keys and values pair up; extra entries of the longer list have no partner.
  int32_t n = std::min(keys->Count(), values->Count());
  ctx.Spend(n);
  r->position_count = n;
  r->position_keys.assign(keys->values.begin(), keys->values.begin() + n);
  r->position_values.clear();
  for (int32_t i = 0; i < n; ++i) {
    const float* v = values->At(i);
    r->position_values.push_back(AgVec3{v[0], v[1], v[2]});
  }
}

void AgOrientationInterpolator::CollectInterpolators(AgBuildContext& ctx, AgInterpolatorData* data) {
  auto* keys = FieldAs<AgMFFloat>(this, AG_INTERP_KEY);
  if (!keys) return;
  AgBodyPartRecord* r = data->AgFindOrAddBodyPart(PartTag(ctx.options));
  auto* values = FieldAs<AgMFRotation>(this, AG_INTERP_KEYVALUE);
  if (!values) return;
  int32_t n = std::min(keys->Count(), values->Count());
  ctx.Spend(n);
  r->rotation_count = n;
  r->rotation_keys.assign(keys->values.begin(), keys->values.begin() + n);
  r->rotation_values.clear();
  for (int32_t i = 0; i < n; ++i) {
    const float* v = values->At(i);
    r->rotation_values.push_back(AgRotation{v[0], v[1], v[2], v[3]});
  }
}

void AgShape::Build(AgBuildContext& ctx, AgGeometryNode* geometry, int32_t* material) {
  ctx.Spend(1);
  if (auto* a = FieldAs<AgSFNode>(this, AG_SHAPE_APPEARANCE)) a->node->Build(ctx, geometry, material);
  if (auto* g = FieldAs<AgSFNode>(this, AG_SHAPE_GEOMETRY)) g->node->Build(ctx, geometry, material);
}

void AgMaterial::Fill(AgGeometryMaterial* m) const {
  if (auto* c = FieldAs<AgSFColor>(this, AG_MATERIAL_DIFFUSECOLOR)) {
    m->red = ToByte(c->v[0]);
    m->green = ToByte(c->v[1]);
    m->blue = ToByte(c->v[2]);
  }
  auto* ambient = FieldAs<AgSFFloat>(this, AG_MATERIAL_AMBIENT);
  auto* shininess = FieldAs<AgSFFloat>(this, AG_MATERIAL_SHININESS);
  auto* transparency = FieldAs<AgSFFloat>(this, AG_MATERIAL_TRANSPARENCY);
  m->ambient = ambient ? ambient->value : 0.2f;
  m->diffuse = 1.0f;
  m->shininess = shininess ? shininess->value : 0.2f;
  m->transparency = transparency ? transparency->value : 0.0f;
}

void AgImageTexture::Fill(AgGeometryMaterial* m) const {
  auto* url = FieldAs<AgMFString>(this, AG_IMAGETEXTURE_URL);
  if (!url) return;
  m->texture = url->values[0];
  m->has_texture = true;
}

void AgAppearance::Build(AgBuildContext& ctx, AgGeometryNode* geometry, int32_t* material) {
  ctx.Spend(1);
  AgGeometryMaterial m;
  // Without a Material node: white; a Material without diffuseColor: its usual 0.8 grey.
  m.ambient = 0.2f;
  m.diffuse = 1.0f;
  m.shininess = 0.2f;
  m.red = m.green = m.blue = 255;
  if (AgNode* mat = NodeOfType(this, AG_APPEARANCE_MATERIAL, AG_NODE_MATERIAL)) {
    m.red = m.green = m.blue = 204;
    static_cast<AgMaterial*>(mat)->Fill(&m);
  }
  if (ctx.options & AG_OPT_TEXTURES)
    if (AgNode* tex = NodeOfType(this, AG_APPEARANCE_TEXTURE, AG_NODE_IMAGETEXTURE))
      static_cast<AgImageTexture*>(tex)->Fill(&m);
  *material = geometry->FindOrAddMaterial(m);
  ctx.material = m;
  ctx.material_node = geometry;
}

void AgIndexedFaceSet::Validate() {
  auto check = [this](int field, int32_t type, const char* text) {
    auto* v = FieldAs<AgSFNode>(this, field);
    if (v && v->node && v->node->GetType() != type) throw AgVrml2Error("%s", text);
  };
  check(AG_IFS_TEXCOORD, AG_NODE_TEXTURECOORDINATE,
        "the texcoord field in an IndexedFaceSet, if not NULL, must contain a TextureCoordinate node");
  check(AG_IFS_COLOR, AG_NODE_COLOR,
        "the color field in an IndexedFaceSet, if not NULL, must contain a Color node");
  check(AG_IFS_COORD, AG_NODE_COORDINATE,
        "the coord field in an IndexedFaceSet, if not NULL, must contain a Coordinate node");
}

namespace {

struct Corner {
  int32_t vertex = -1;
  int32_t tex = -1;  // texture index; -1 until the first corner claims the record
  int32_t next = -1;
};

float Clamp01(float f) { return f < 0 ? 0 : (f > 1 ? 1 : f); }

}  // namespace

void AgIndexedFaceSet::Build(AgBuildContext& ctx, AgGeometryNode* g, int32_t* material) {
  AgNode* coord = NodeOfType(this, AG_IFS_COORD, AG_NODE_COORDINATE);
  auto* coord_index = FieldAs<AgMFInt32>(this, AG_IFS_COORDINDEX);
  if (!coord || !coord_index) return;
  const int options = ctx.options;
  auto* points = FieldAs<AgMFVec3f>(coord, 0);
  const int32_t npoints = points ? points->Count() : 0;
  const std::vector<int32_t>& ci = coord_index->values;
  const size_t n = ci.size();
  ctx.Spend(static_cast<int64_t>(n) + npoints + 1);

  AgMFVec2f* tpoints = nullptr;
  const std::vector<int32_t>* ti = nullptr;
  bool tex = false;
  if (options & AG_OPT_TEXTURES) {
    if (AgNode* tc = NodeOfType(this, AG_IFS_TEXCOORD, AG_NODE_TEXTURECOORDINATE)) {
      tex = true;
      tpoints = FieldAs<AgMFVec2f>(tc, 0);
      auto* tiv = FieldAs<AgMFInt32>(this, AG_IFS_TEXCOORDINDEX);
      ti = tiv ? &tiv->values : &ci;
      if (ti->size() != n) throw AgVrml2Error("TexCoordIndex must match CoordIndex");
    }
  }
  const int32_t ntex = tpoints ? tpoints->Count() : 0;
  AgNode* color_node = NodeOfType(this, AG_IFS_COLOR, AG_NODE_COLOR);
  auto* colors = color_node ? FieldAs<AgMFColor>(color_node, 0) : nullptr;
  const int32_t ncolors = colors ? colors->Count() : 0;
  auto* color_index = FieldAs<AgMFInt32>(this, AG_IFS_COLORINDEX);
  auto* cpv = FieldAs<AgSFBool>(this, AG_IFS_COLORPERVERTEX);
  const bool per_vertex = !cpv || cpv->value;
  auto* ccw = FieldAs<AgSFBool>(this, AG_IFS_CCW);
  const bool reverse = ccw && !ccw->value;
  const bool force = (options & FORCE_VERTICES) != 0;
  const bool clamp = (options & AG_OPT_CLAMP_UV) != 0;

  auto point_at = [&](size_t i) {
    int32_t p = ci[i];
    if (p < 0 || p >= npoints) throw AgVrml2Error("coordIndex %d out of range", p);
    return p;
  };
  auto tex_at = [&](size_t i) {
    int32_t t = (*ti)[i];
    if (t < 0 || t >= ntex) throw AgVrml2Error("texCoordIndex %d out of range", t);
    return t;
  };
  auto uv = [&](int32_t t, float* u, float* v) {
    const float* tp = tpoints->At(t);
    *u = clamp ? Clamp01(tp[0]) : tp[0];
    *v = clamp ? Clamp01(tp[1]) : tp[1];
  };
  auto color_at = [&](int32_t c) {
    if (c < 0 || c >= ncolors) throw AgVrml2Error("colorIndex %d out of range", c);
    return colors->At(c);
  };

  {
    // Room for this set's faces and vertices at once, rather than by repeated growth.
    // Growth stays geometric, so many small sets in one node cost no more than one big one.
    size_t faces = static_cast<size_t>(std::count(ci.begin(), ci.end(), -1)) + 1;
    AgArrayPool<AgGeometryPolygon>::Grow(g->polygons, std::min(faces, n));
    AgArrayPool<AgGeometryVertex>::Grow(g->vertices, static_cast<size_t>(npoints));
  }
  const int32_t base = g->VertexCount();
  if (force) {
    if (!tex) {
      for (int32_t p = 0; p < npoints; ++p) {
        const float* xyz = points->At(p);
        g->AddVertex(xyz[0], xyz[1], xyz[2]);
      }
    } else {
      AgScratchArray<int32_t> scratch(static_cast<size_t>(npoints));
      std::vector<int32_t>& last = scratch.v;
      last.assign(static_cast<size_t>(npoints), -1);
      for (size_t i = 0; i < n; ++i)
        if (ci[i] != -1) last[point_at(i)] = tex_at(i);
      for (int32_t p = 0; p < npoints; ++p) {
        const float* xyz = points->At(p);
        float u = 0, v = 0;  // a point no corner names has no texture point of its own
        if (last[p] >= 0) uv(last[p], &u, &v);
        g->AddVertexUV(xyz[0], xyz[1], xyz[2], u, v);
      }
    }
  }

  AgScratchArray<Corner> record_array(static_cast<size_t>(npoints));
  std::vector<Corner>& records = record_array.v;
  records.assign(static_cast<size_t>(npoints), Corner{});
  std::vector<int32_t> face;
  float sum[3] = {0, 0, 0};
  size_t face_number = 0;

  auto finish_face = [&]() {
    if (color_node) {
      float c[3];
      if (per_vertex) {
        for (int k = 0; k < 3; ++k) c[k] = sum[k] / static_cast<float>(face.size());
      } else {
        int32_t idx;
        if (color_index) {
          if (face_number >= color_index->values.size())
            throw AgVrml2Error("colorIndex %d out of range", -1);
          idx = color_index->values[face_number];
        } else {
          idx = face_number > INT32_MAX ? -1 : static_cast<int32_t>(face_number);
        }
        const float* col = color_at(idx);
        c[0] = col[0];
        c[1] = col[1];
        c[2] = col[2];
      }
      const AgGeometryMaterial& cur = ctx.material;
      *material = g->FindOrAddColorMaterial(ToByte(c[0]), ToByte(c[1]), ToByte(c[2]), cur.ambient,
                                            cur.diffuse, cur.shininess, cur.transparency);
      ctx.material = g->materials[*material];
      ctx.material_node = g;
    } else if (ctx.material_node != g) {
      // The inherited material belongs to another geometry node: enter it in this one.
      *material = g->FindOrAddMaterial(ctx.material);
      ctx.material_node = g;
    }
    if (reverse) std::reverse(face.begin(), face.end());
    g->AddPolygon(static_cast<int32_t>(face.size()), face.data(), static_cast<uint32_t>(*material));
    ++face_number;
    face.clear();
    sum[0] = sum[1] = sum[2] = 0;
  };

  std::vector<Corner> extra;
  for (size_t i = 0; i <= n; ++i) {
    if (i == n || ci[i] == -1) {
      // An empty run between two -1 is no face.
      if (!face.empty()) finish_face();
      continue;
    }
    int32_t p = point_at(i);
    const float* xyz = points->At(p);
    int32_t vertex;
    if (!tex) {
      Corner& r = records[p];
      if (r.vertex < 0) r.vertex = force ? base + p : g->AddVertex(xyz[0], xyz[1], xyz[2]);
      vertex = r.vertex;
    } else {
      int32_t t = tex_at(i);
      // Records are numbered: below npoints the point's own, above it the chained extras.
      int32_t id = p;
      auto rec = [&](int32_t k) -> Corner& { return k < npoints ? records[k] : extra[k - npoints]; };
      if (rec(id).tex == -1) rec(id).tex = t;
      while (rec(id).tex != t) {
        if (rec(id).next < 0) {
          if (force)
            throw AgVrml2Error("FORCE_VERTICES option was turned on, but multiple uv's per vertex encountered");
          extra.push_back(Corner{-1, t, -1});
          rec(id).next = npoints + static_cast<int32_t>(extra.size() - 1);
        }
        id = rec(id).next;
      }
      Corner& r = rec(id);
      if (r.vertex < 0) {
        if (force) {
          r.vertex = base + p;
        } else {
          float u, v;
          uv(t, &u, &v);
          r.vertex = g->AddVertexUV(xyz[0], xyz[1], xyz[2], u, v);
        }
      }
      vertex = r.vertex;
    }
    face.push_back(vertex);
    if (color_node && per_vertex) {
      int32_t c;
      if (color_index) {
        if (i >= color_index->values.size()) throw AgVrml2Error("colorIndex %d out of range", -1);
        c = color_index->values[i];
      } else {
        c = p;
      }
      const float* col = color_at(c);
      sum[0] += col[0];
      sum[1] += col[1];
      sum[2] += col[2];
    }
  }
  ctx.Spend(g->VertexCount() - base + static_cast<int64_t>(face_number));
}

// ---------------------------------------------------------------------------------------
// Engine clumps

namespace {

// A material's share of the scene's ambient light as the engine takes it. The engine's
// surfaces reflect all of its ambient light by default (a model script's polygons do), and
// the usual ambient intensity of a file (0.2) stands for that usual share: taken as it is,
// every face turned from the light would show nearly black.
float EngineAmbient(float ambient_intensity) {
  constexpr float kUsualIntensity = 0.2f;
  if (!std::isfinite(ambient_intensity)) return 1.0f;
  return std::clamp(ambient_intensity / kUsualIntensity, 0.0f, 1.0f);
}

}  // namespace

VxClump* AgGeometryNode::BuildClump(int colours_only, int texture_mode) {
  VxClump* clump = VxCreateClump(VertexCount(), PolygonCount());
  if (!clump) throw AgVrml2Error("unable to allocate memory");
  std::vector<VxMaterial*> mats;
  try {
    float umin = 0, umax = 1, vmin = 0, vmax = 1;
    for (const AgGeometryVertex& v : vertices) {
      if (!std::isfinite(v.u) || !std::isfinite(v.v))
        throw AgVrml2Error("Vectrix cannot use texture coords outside 0..32 range");
      umin = std::min(umin, v.u);
      umax = std::max(umax, v.u);
      vmin = std::min(vmin, v.v);
      vmax = std::max(vmax, v.v);
    }
    if (umax - umin > 32 || vmax - vmin > 32)
      throw AgVrml2Error("Vectrix cannot use texture coords outside 0..32 range");
    float uoff = umin < 0 ? -umin : (umax > 32 ? 32 - umax : 0);

    std::vector<int> numbers(vertices.size());
    auto add_vertex = [&](const AgGeometryVertex& v) {
      int number = VxAddVertexToClump(clump, v.x, v.y, v.z);
      if (!number) throw AgVrml2Error("unable to allocate memory");
      VxSetClumpVertexUV(clump, number, v.u + uoff, vmax - v.v);
      return number;
    };
    for (size_t i = 0; i < vertices.size(); ++i) numbers[i] = add_vertex(vertices[i]);

    for (const AgGeometryMaterial& m : materials) {
      VxMaterial* vm = VxCreateMaterial();
      if (!vm) throw AgVrml2Error("unable to allocate memory");
      mats.push_back(vm);
      VxSetMaterialSurface(vm, EngineAmbient(m.ambient), m.diffuse, m.shininess);
      VxSetMaterialOpacity(vm, 1.0f - m.transparency);
      VxSetMaterialMode(vm, 2);
      if (!m.has_texture || colours_only) {
        VxSetMaterialColor(vm, m.red / 255.0f, m.green / 255.0f, m.blue / 255.0f);
        continue;
      }
      std::string cut = m.texture.substr(0, m.texture.find('.'));
      VxTexture* t = VxFindNamedTexture(cut.c_str());
      if (!t) {
        t = VxReadTexture(m.texture.c_str());
        if (t) VxAddNamedTexture(cut.c_str(), t);  // kept under its name for later models
      }
      if (!t) {
        VxSetMaterialColor(vm, 1, 0, 0);  // a texture that cannot be had shows red
        continue;
      }
      if (texture_mode) VxSetMaterialTextureMode(vm, 2);
      VxSetMaterialTexture(vm, t);
    }

    // Marks of the engine vertices already met in the current polygon, from its end.
    std::vector<uint32_t> seen;
    uint32_t stamp = 0;
    std::vector<int> nums;
    for (const AgGeometryPolygon& p : polygons) {
      if (p.count <= 0) continue;
      nums.assign(p.count, 0);
      ++stamp;
      if (stamp == 0) {
        std::fill(seen.begin(), seen.end(), 0);
        stamp = 1;
      }
      bool ok = true;
      for (int32_t k = p.count - 1; k >= 0; --k) {
        int32_t idx = p.indices[k];
        if (idx < 0 || static_cast<size_t>(idx) >= vertices.size()) {
          ok = false;
          break;
        }
        if (seen.size() < vertices.size()) seen.resize(vertices.size(), 0);
        if (seen[idx] == stamp) {
          // The vertex comes again later in this polygon: this corner gets its own copy.
          nums[k] = add_vertex(vertices[idx]);
        } else {
          seen[idx] = stamp;
          nums[k] = numbers[idx];
        }
      }
      if (!ok) continue;
      VxPolygon* poly = VxAddPolygonToClump(clump, p.count, nums.data());
      if (poly && !mats.empty() && p.material < mats.size()) VxSetPolygonMaterial(poly, mats[p.material]);
    }

    VxReal e[16];
    for (int j = 0; j < 4; ++j) {
      for (int i = 0; i < 3; ++i) e[j * 4 + i] = matrix[i * 4 + j];
      e[j * 4 + 3] = (j == 3) ? 1.0f : 0.0f;
    }
    VxMatrix* scratch = VxScratchMatrix();
    VxSetMatrixElements(scratch, e);
    VxTransformClump(clump, scratch, 1);
    VxSetClumpTag(clump, part_tag);
  } catch (...) {
    for (VxMaterial* vm : mats) VxDestroyMaterial(vm);
    VxDestroyClump(clump);
    throw;
  }
  for (VxMaterial* vm : mats) VxDestroyMaterial(vm);
  return clump;
}

namespace {

VxClump* BuildLevel(AgGeometryNode* node, VxClump* parent, int colours_only, int texture_mode,
                    std::vector<VxClump*>* made) {
  VxClump* last = nullptr;
  for (; node; node = node->next) {
    VxClump* clump = node->BuildClump(colours_only, texture_mode);
    made->push_back(clump);
    if (parent) VxAddChildToClump(parent, clump);
    // Children are attached to this clump, so it takes them along when destroyed.
    std::vector<VxClump*> inner;
    BuildLevel(node->child, clump, colours_only, texture_mode, &inner);
    last = clump;
  }
  return last;
}

}  // namespace

VxClump* AgGeometryNode::BuildClumps(VxClump* parent_clump, int colours_only, int texture_mode) {
  std::vector<VxClump*> made;
  try {
    VxClump* last = BuildLevel(this, parent_clump, colours_only, texture_mode, &made);
    if (!parent_clump) {
      // Without a parent only the last sibling's clump is handed back; the others would leak.
      for (VxClump* c : made)
        if (c != last) VxDestroyClump(c);
    }
    return last;
  } catch (const AgVrml2Error& e) {
    AgSetLastError(e.Text());
  } catch (const std::bad_alloc&) {
    AgSetLastError("unable to allocate memory");
  }
  for (VxClump* c : made) {
    if (parent_clump) VxRemoveChildFromClump(c);
    VxDestroyClump(c);
  }
  return nullptr;
}
