// Streams: file and memory, chunks 'CLUM' (clumps) and 'TEXU' (textures).
// Byte layout: docs/vxx.md, "Stream chunks". All numbers little-endian.
#include "engine/internal.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

struct VxStreamRec {
  int kind = 0, access = 0;
  std::string path;
  std::vector<unsigned char> data;  // written bytes, or the bytes to read
  size_t pos = 0;
  bool have_chunk = false;  // a chunk type was read, its body comes next
  uint32_t chunk_type = 0;
  uint32_t chunk_length = 0;
};

namespace vx {

constexpr uint32_t kMagic = 0x31325856u;  // "VX21"
constexpr uint32_t kVersion = 2;      // written: polygons carry their look
constexpr uint32_t kFirstVersion = 1;  // still read: polygons without a look
constexpr size_t kMaxStream = 256u << 20;

void stream_free_all() {
  for (VxStreamRec* s : st().streams) delete s;
  st().streams.clear();
}

namespace {

struct Out {
  std::vector<unsigned char>& b;
  void u8(uint8_t v) { b.push_back(v); }
  void u16(uint16_t v) { u8(v & 0xff), u8(v >> 8); }
  void u32(uint32_t v) { u16(v & 0xffff), u16(v >> 16); }
  void i32(int32_t v) { u32((uint32_t)v); }
  void f32(VxReal v) {
    uint32_t u;
    std::memcpy(&u, &v, 4);
    u32(u);
  }
  void text(const std::string& s) {
    size_t n = s.size() > 255 ? 255 : s.size();
    u8((uint8_t)n);
    b.insert(b.end(), s.begin(), s.begin() + (long)n);
  }
  void mat(const Mat& m) {
    for (auto& r : m.m)
      for (VxReal v : r) f32(v);
  }
};

struct In {
  const unsigned char* p;
  size_t n, i = 0;
  bool ok = true;
  uint32_t version = kVersion;
  bool need(size_t k) {
    if (!ok || n - i < k) return ok = false;
    return true;
  }
  uint8_t u8() { return need(1) ? p[i++] : 0; }
  uint16_t u16() {
    uint16_t lo = u8();
    return (uint16_t)(lo | u8() << 8);
  }
  uint32_t u32() {
    uint32_t lo = u16();
    return lo | (uint32_t)u16() << 16;
  }
  int32_t i32() { return (int32_t)u32(); }
  VxReal f32() {
    uint32_t u = u32();
    VxReal v;
    std::memcpy(&v, &u, 4);
    if (!std::isfinite(v)) ok = false;
    return v;
  }
  std::string text() {
    size_t k = u8();
    if (!need(k)) return "";
    std::string s((const char*)p + i, k);
    i += k;
    return s;
  }
  void mat(Mat& m) {
    for (auto& r : m.m)
      for (VxReal& v : r) v = f32();
  }
  size_t left() const { return ok ? n - i : 0; }
};

// Textures of a clump tree are written once each, by name, and found again by name.
void collect_names(const VxClumpRec* c, std::vector<std::string>& names) {
  for (const VxPolygonRec* p : c->polygons) {
    const VxTextureRec* t = p->surface.texture;
    if (!t || t->name.empty()) continue;
    bool seen = false;
    for (auto& n : names) seen = seen || n == t->name;
    if (!seen) names.push_back(t->name);
  }
  for (const VxClumpRec* k : c->children) collect_names(k, names);
}

int name_index(const std::vector<std::string>& names, const VxTextureRec* t) {
  if (!t || t->name.empty()) return -1;
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == t->name) return (int)i;
  return -1;
}

void write_clump(Out& o, const VxClumpRec* c, const std::vector<std::string>& names) {
  o.i32(c->tag);
  o.u8((uint8_t)c->state);
  o.i32(c->mode);
  o.u8((uint8_t)c->alignment);
  o.mat(c->placement);
  o.mat(c->joint);
  o.u32((uint32_t)c->vertices.size());
  for (const VxClumpVertex& v : c->vertices) {
    o.f32(v.p.x), o.f32(v.p.y), o.f32(v.p.z), o.f32(v.u), o.f32(v.v);
  }
  o.u32((uint32_t)c->polygons.size());
  for (const VxPolygonRec* p : c->polygons) {
    o.i32(p->tag);
    o.u16((uint16_t)p->numbers.size());
    for (int n : p->numbers) o.u32((uint32_t)n);
    const Surface& s = p->surface;
    o.f32(s.red), o.f32(s.green), o.f32(s.blue);
    o.f32(s.ambient), o.f32(s.diffuse), o.f32(s.specular), o.f32(s.opacity);
    o.i32(s.mode), o.i32(s.texture_mode), o.i32(s.option), o.i32(s.kind), o.i32(s.flag),
        o.i32(s.level), o.i32(s.look);
    o.i32(name_index(names, s.texture));
  }
  o.u32((uint32_t)c->children.size());
  for (const VxClumpRec* k : c->children) write_clump(o, k, names);
}

// Reads one clump and its parts; every count is checked against the bytes left.
VxClumpRec* read_clump(In& in, const std::vector<VxTextureRec*>& textures, int depth) {
  if (depth > kMaxClumpDepth) return in.ok = false, nullptr;
  VxClumpRec* c = VxCreateClump(0, 0);
  if (!c) return in.ok = false, nullptr;
  c->tag = in.i32();
  c->state = in.u8();
  c->mode = in.i32();
  c->alignment = in.u8();
  in.mat(c->placement);
  in.mat(c->joint);
  c->local_known = false;
  if (c->state != VX_STATE_ON && c->state != VX_STATE_OFF) in.ok = false;
  if (c->alignment > VX_ALIGN_ZORIENTY) in.ok = false;
  uint32_t nv = in.u32();
  if (nv > (uint32_t)kMaxVertices || nv > in.left() / 20) in.ok = false;
  if (in.ok) {
    c->vertices.resize(nv);
    for (VxClumpVertex& v : c->vertices) {
      v.p.x = in.f32(), v.p.y = in.f32(), v.p.z = in.f32(), v.u = in.f32(), v.v = in.f32();
    }
    clump_changed(c);
  }
  uint32_t np = in.ok ? in.u32() : 0;
  if (np > (uint32_t)kMaxPolygons || np > in.left() / 70) in.ok = false;
  for (uint32_t i = 0; in.ok && i < np; ++i) {
    int32_t tag = in.i32();
    uint16_t count = in.u16();
    if (count < 3 || count > kMaxPolygonCorners || !in.need((size_t)count * 4)) {
      in.ok = false;
      break;
    }
    std::vector<int> idx(count);
    for (int& n : idx) {
      uint32_t v = in.u32();
      if (v < 1 || v > nv) in.ok = false;
      n = (int)v;
    }
    if (!in.ok) break;
    VxPolygonRec* p = VxAddPolygonToClump(c, count, idx.data());
    if (!p) {
      in.ok = false;
      break;
    }
    p->tag = tag;
    Surface& s = p->surface;
    s.red = in.f32(), s.green = in.f32(), s.blue = in.f32();
    s.ambient = in.f32(), s.diffuse = in.f32(), s.specular = in.f32(), s.opacity = in.f32();
    s.mode = in.i32(), s.texture_mode = in.i32(), s.option = in.i32(), s.kind = in.i32(),
    s.flag = in.i32(), s.level = in.i32();
    if (in.version >= 2) {
      s.look = in.i32();
      if (s.look & ~VX_LOOK_ALL) in.ok = false;
    }
    int32_t ti = in.i32();
    if (ti < -1 || ti >= (int32_t)textures.size()) in.ok = false;
    else if (ti >= 0 && textures[(size_t)ti]) surface_set_texture(s, textures[(size_t)ti]);
  }
  clump_changed(c);  // the surfaces were filled in after the polygons were added
  uint32_t nk = in.ok ? in.u32() : 0;
  if (nk > in.left() / 8) in.ok = false;
  for (uint32_t i = 0; in.ok && i < nk; ++i) {
    VxClumpRec* k = read_clump(in, textures, depth + 1);
    if (!k) break;
    k->parent = c;
    c->children.push_back(k);
  }
  if (!in.ok) {
    clump_free_tree(c);
    return nullptr;
  }
  return c;
}

void write_raster(Out& o, const VxRasterRec* r) {
  o.u16((uint16_t)r->width), o.u16((uint16_t)r->height), o.u8((uint8_t)r->depth);
  if (r->depth == 8) o.b.insert(o.b.end(), r->palette, r->palette + 1024);
  o.b.insert(o.b.end(), r->pixels.begin(), r->pixels.end());
}

VxRasterRec* read_raster_body(In& in) {
  int w = in.u16(), h = in.u16(), depth = in.u8();
  if (!in.ok || w < 1 || h < 1 || w > kMaxRasterSide || h > kMaxRasterSide ||
      (depth != 8 && depth != 24)) {
    in.ok = false;
    return nullptr;
  }
  size_t bytes = (size_t)w * h * (depth / 8) + (depth == 8 ? 1024 : 0);
  if (!in.need(bytes)) return nullptr;
  VxRasterRec* r = raster_new(w, h, depth);
  if (!r) return in.ok = false, nullptr;
  if (depth == 8) {
    std::memcpy(r->palette, in.p + in.i, 1024);
    in.i += 1024;
  }
  std::memcpy(r->pixels.data(), in.p + in.i, r->pixels.size());
  in.i += r->pixels.size();
  return r;
}

}  // namespace
}  // namespace vx

using namespace vx;

VxStream* VxOpenStream(int kind, int access, const void* data) {
  if (!st().initialized) return failp<VxStream>(VX_E_NOT_INITIALIZED);
  if ((kind != VX_STREAM_FILE && kind != VX_STREAM_MEMORY) ||
      (access != VX_STREAM_READ && access != VX_STREAM_WRITE))
    return failp<VxStream>(VX_E_BAD_ARGUMENT);
  auto* s = new VxStreamRec;
  s->kind = kind;
  s->access = access;
  if (kind == VX_STREAM_FILE) {
    if (!data) {
      delete s;
      return failp<VxStream>(VX_E_BAD_ARGUMENT);
    }
    s->path = static_cast<const char*>(data);
    if (access == VX_STREAM_READ && !read_file(s->path, s->data, kMaxStream)) {
      delete s;
      return nullptr;
    }
    if (access == VX_STREAM_WRITE) {
      FILE* f = std::fopen(s->path.c_str(), "wb");  // fail now, not at close
      if (!f) {
        delete s;
        return failp<VxStream>(VX_E_IO);
      }
      std::fclose(f);
    }
  } else if (access == VX_STREAM_READ) {
    auto* b = static_cast<const VxMemoryBlock*>(data);
    if (!b || b->length < 0 || (b->length > 0 && !b->start)) {
      delete s;
      return failp<VxStream>(VX_E_BAD_ARGUMENT);
    }
    auto* p = static_cast<const unsigned char*>(b->start);
    s->data.assign(p, p + b->length);
  }
  st().streams.insert(s);
  return s;
}

int VxCloseStream(VxStream* stream, VxMemoryBlock* out) {
  if (!stream || !st().streams.count(stream)) return fail(VX_E_BAD_ARGUMENT);
  st().streams.erase(stream);
  int ok = 1;
  if (stream->access == VX_STREAM_WRITE && stream->kind == VX_STREAM_FILE) {
    FILE* f = std::fopen(stream->path.c_str(), "wb");
    if (!f) ok = fail(VX_E_IO);
    else {
      if (!stream->data.empty() &&
          std::fwrite(stream->data.data(), 1, stream->data.size(), f) != stream->data.size())
        ok = fail(VX_E_IO);
      if (std::fclose(f) != 0) ok = fail(VX_E_IO);
    }
  }
  if (stream->access == VX_STREAM_WRITE && stream->kind == VX_STREAM_MEMORY && out) {
    void* block = std::malloc(stream->data.empty() ? 1 : stream->data.size());
    if (!block) ok = fail(VX_E_NO_MEMORY);
    else {
      if (!stream->data.empty()) std::memcpy(block, stream->data.data(), stream->data.size());
      out->start = block;
      out->length = (int32_t)stream->data.size();
    }
  }
  delete stream;
  return ok;
}

int VxFreeMemory(void* memory) {
  std::free(memory);
  return 1;
}

int VxWriteStreamChunk(VxStream* stream, uint32_t type, void* object, int) {
  if (!stream || !st().streams.count(stream) || stream->access != VX_STREAM_WRITE || !object)
    return fail(VX_E_BAD_ARGUMENT);
  std::vector<unsigned char> body;
  Out o{body};
  o.u32(kMagic);
  o.u32(kVersion);
  if (type == VX_CHUNK_CLUMP) {
    auto* c = static_cast<VxClumpRec*>(object);
    if (!live(c)) return fail(VX_E_BAD_ARGUMENT);
    std::vector<std::string> names;
    collect_names(c, names);
    o.u16((uint16_t)names.size());
    for (auto& n : names) o.text(n);
    write_clump(o, c, names);
  } else if (type == VX_CHUNK_TEXTURE) {
    auto* t = static_cast<VxTextureRec*>(object);
    if (!live(t) || !t->raster) return fail(VX_E_BAD_ARGUMENT);
    o.text(t->name);
    write_raster(o, t->raster);
    o.u8(t->mask ? 1 : 0);
    if (t->mask) write_raster(o, t->mask);
  } else {
    return fail(VX_E_UNSUPPORTED);
  }
  if (stream->data.size() + body.size() + 8 > kMaxStream || body.size() > UINT32_MAX)
    return fail(VX_E_NO_MEMORY);
  Out head{stream->data};
  head.u32(type);
  head.u32((uint32_t)body.size());
  stream->data.insert(stream->data.end(), body.begin(), body.end());
  return 1;
}

int VxReadStreamChunkType(VxStream* stream, uint32_t* type) {
  if (!stream || !st().streams.count(stream) || stream->access != VX_STREAM_READ || !type)
    return fail(VX_E_BAD_ARGUMENT);
  if (stream->have_chunk) stream->pos += stream->chunk_length;  // skip an unread body
  stream->have_chunk = false;
  In in{stream->data.data(), stream->data.size(), stream->pos};
  uint32_t t = in.u32(), len = in.u32();
  if (!in.ok) return fail(VX_E_TRUNCATED);
  if (len > in.left()) return fail(VX_E_TRUNCATED);
  stream->pos = in.i;
  stream->have_chunk = true;
  stream->chunk_type = t;
  stream->chunk_length = len;
  *type = t;
  return 1;
}

int VxReadStreamChunk(VxStream* stream, uint32_t type, void* out_object, int) {
  if (!stream || !st().streams.count(stream) || stream->access != VX_STREAM_READ || !out_object)
    return fail(VX_E_BAD_ARGUMENT);
  *static_cast<void**>(out_object) = nullptr;
  if (!stream->have_chunk) {
    uint32_t t;
    if (!VxReadStreamChunkType(stream, &t)) return 0;
  }
  if (stream->chunk_type != type) return fail(VX_E_BAD_FORMAT);
  In in{stream->data.data() + stream->pos, stream->chunk_length};
  stream->pos += stream->chunk_length;
  stream->have_chunk = false;
  if (in.u32() != kMagic) return fail(VX_E_BAD_FORMAT);
  in.version = in.u32();
  if (in.version < kFirstVersion || in.version > kVersion || !in.ok) return fail(VX_E_BAD_FORMAT);
  if (type == VX_CHUNK_CLUMP) {
    uint16_t count = in.u16();
    std::vector<VxTextureRec*> textures;
    for (uint16_t i = 0; in.ok && i < count; ++i) {
      std::string name = in.text();
      if (!in.ok) break;
      // Loaded textures first; else the file through the search path; else none.
      VxTextureRec* t = name.empty() ? nullptr : VxFindNamedTexture(name.c_str());
      if (t) VxAddTextureReference(t);
      else if (!name.empty()) t = VxReadNamedTexture(name.c_str());
      textures.push_back(t);
    }
    VxClumpRec* c = in.ok ? read_clump(in, textures, 0) : nullptr;
    for (VxTextureRec* t : textures)
      if (t) VxDestroyTexture(t);
    if (!c) return fail(in.ok ? VxGetError() : VX_E_BAD_FORMAT);
    if (in.left() != 0) {
      clump_free_tree(c);
      return fail(VX_E_BAD_FORMAT);
    }
    *static_cast<void**>(out_object) = c;
    return 1;
  }
  if (type == VX_CHUNK_TEXTURE) {
    std::string name = in.text();
    VxRasterRec* r = read_raster_body(in);
    VxRasterRec* m = nullptr;
    uint8_t has_mask = in.u8();
    if (in.ok && has_mask > 1) in.ok = false;
    if (in.ok && has_mask) m = read_raster_body(in);
    if (!in.ok || in.left() != 0 || (m && (m->depth != 8 || !r || m->width != r->width ||
                                           m->height != r->height))) {
      raster_free(r);
      raster_free(m);
      return fail(VX_E_BAD_FORMAT);
    }
    VxTextureRec* t = VxCreateTexture(r);
    t->mask = m;
    std::string key = texture_key(name.c_str());
    if (!key.empty()) VxAddNamedTexture(key.c_str(), t);
    *static_cast<void**>(out_object) = t;
    return 1;
  }
  return fail(VX_E_UNSUPPORTED);
}
