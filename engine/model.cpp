// The modelling block and the ".vxx" model script reader.
#include "engine/internal.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace vx {

struct Builder {
  bool open = false;
  std::vector<VxClumpRec*> stack;  // clumps being built, innermost last
  Surface surface;                 // applies to polygons added next
  int32_t tag = 0;
};

static Builder& builder() {
  static Builder b;
  return b;
}

static void builder_clear() {
  Builder& b = builder();
  // Unfinished clumps are dropped; nested ones go with their outermost.
  if (!b.stack.empty() && live(b.stack.front())) clump_free_tree(b.stack.front());
  b.stack.clear();
  surface_set_texture(b.surface, nullptr);
  b.surface = Surface{};
  b.tag = 0;
  b.open = false;
}

void model_reset() { builder_clear(); }

// Sets one whole-number field of the surface the next polygons take.
static int set_surface(int32_t Surface::*field, int value) {
  if (!builder().open) return fail(VX_E_STATE);
  builder().surface.*field = value;
  return 1;
}

// Sets three components of that surface, each held to [0, 1]; not a number gives 0.
static int set_surface(const std::array<VxReal Surface::*, 3>& fields, const std::array<VxReal, 3>& values) {
  if (!builder().open) return fail(VX_E_STATE);
  for (int i = 0; i < 3; ++i) {
    const VxReal v = values[i];
    builder().surface.*fields[i] = std::isfinite(v) ? std::fmin(1.0f, std::fmax(0.0f, v)) : 0.0f;
  }
  return 1;
}

static VxClumpRec* current() {
  Builder& b = builder();
  if (!b.open || b.stack.empty()) return failp<VxClumpRec>(VX_E_STATE);
  return b.stack.back();
}

}  // namespace vx

using namespace vx;

int VxBeginModel(void) {
  if (!st().initialized) return fail(VX_E_NOT_INITIALIZED);
  if (builder().open) return fail(VX_E_STATE);
  builder_clear();
  builder().open = true;
  return 1;
}

int VxEndModel(void) {
  Builder& b = builder();
  if (!b.open) return fail(VX_E_STATE);
  bool unfinished = !b.stack.empty();
  builder_clear();
  return unfinished ? fail(VX_E_STATE) : 1;
}

int VxBeginClump(void) {
  Builder& b = builder();
  if (!b.open) return fail(VX_E_STATE);
  if ((int)b.stack.size() >= kMaxClumpDepth) return fail(VX_E_NO_MEMORY);
  VxClumpRec* c = VxCreateClump(0, 0);
  if (!c) return 0;
  if (!b.stack.empty()) VxAddChildToClump(b.stack.back(), c);
  b.stack.push_back(c);
  return 1;
}

VxClump* VxEndClump(void) {
  VxClumpRec* c = current();
  if (!c) return nullptr;
  builder().stack.pop_back();
  return c;
}

int VxAddVertex(VxReal x, VxReal y, VxReal z) {
  VxClumpRec* c = current();
  return c ? VxAddVertexToClump(c, x, y, z) : 0;
}

int VxAddVertexUV(VxReal x, VxReal y, VxReal z, VxReal u, VxReal v) {
  int n = VxAddVertex(x, y, z);
  if (n) VxSetClumpVertexUV(current(), n, u, v);
  return n;
}

VxPolygon* VxAddPolygon(int count, const int* numbers) {
  VxClumpRec* c = current();
  if (!c) return nullptr;
  VxPolygonRec* p = VxAddPolygonToClump(c, count, numbers);
  if (!p) return nullptr;
  p->surface = builder().surface;
  p->surface.texture = nullptr;
  surface_set_texture(p->surface, builder().surface.texture);
  clump_changed(c);
  p->tag = builder().tag;
  return p;
}

VxPolygon* VxAddTriangle(int a, int b, int c) {
  int n[3] = {a, b, c};
  return VxAddPolygon(3, n);
}

VxPolygon* VxAddQuad(int a, int b, int c, int d) {
  int n[4] = {a, b, c, d};
  return VxAddPolygon(4, n);
}

// Six faces, corners listed counter-clockwise seen from outside.
int VxAddBlock(VxReal width, VxReal height, VxReal depth) {
  VxClumpRec* c = current();
  if (!c) return 0;
  if ((int)c->vertices.size() + 8 > kMaxVertices) return fail(VX_E_NO_MEMORY);
  VxReal x = width / 2, y = height / 2, z = depth / 2;
  int base = (int)c->vertices.size();
  const VxReal corner[8][3] = {{-x, -y, -z}, {x, -y, -z}, {x, y, -z}, {-x, y, -z},
                               {-x, -y, z},  {x, -y, z},  {x, y, z},  {-x, y, z}};
  const VxReal uv[8][2] = {{0, 1}, {1, 1}, {1, 0}, {0, 0}, {1, 1}, {0, 1}, {0, 0}, {1, 0}};
  for (int i = 0; i < 8; ++i) {
    int n = VxAddVertexToClump(c, corner[i][0], corner[i][1], corner[i][2]);
    VxSetClumpVertexUV(c, n, uv[i][0], uv[i][1]);
  }
  const int face[6][4] = {{1, 4, 3, 2}, {5, 6, 7, 8}, {1, 2, 6, 5},
                          {4, 8, 7, 3}, {1, 5, 8, 4}, {2, 3, 7, 6}};
  for (auto& f : face)
    if (!VxAddQuad(base + f[0], base + f[1], base + f[2], base + f[3])) return 0;
  return 1;
}

int VxSetModelColor(VxReal red, VxReal green, VxReal blue) {
  return set_surface({&Surface::red, &Surface::green, &Surface::blue}, {red, green, blue});
}

int VxSetModelSurface(VxReal ambient, VxReal diffuse, VxReal specular) {
  return set_surface({&Surface::ambient, &Surface::diffuse, &Surface::specular}, {ambient, diffuse, specular});
}

int VxSetModelOpacity(VxReal opacity) {
  if (!builder().open) return fail(VX_E_STATE);
  builder().surface.opacity = std::isfinite(opacity) ? std::fmin(1.0f, std::fmax(0.0f, opacity)) : 1;
  return 1;
}

int VxSetModelTexture(VxTexture* texture) {
  if (!builder().open) return fail(VX_E_STATE);
  if (texture && !live(texture)) return fail(VX_E_BAD_ARGUMENT);
  surface_set_texture(builder().surface, texture);
  return 1;
}

int VxSetModelTag(int32_t tag) {
  if (!builder().open) return fail(VX_E_STATE);
  builder().tag = tag;
  return 1;
}

int VxSetModelAxisAlignment(int alignment) {
  VxClumpRec* c = current();
  if (!c) return 0;
  if (alignment < VX_ALIGN_NONE || alignment > VX_ALIGN_ZORIENTY) return fail(VX_E_BAD_ARGUMENT);
  c->alignment = alignment;
  return 1;
}

int VxSetModelTransform(const VxMatrix* m, int mode) {
  VxClumpRec* c = current();
  return c ? VxTransformClump(c, m, mode) : 0;
}

int VxSetModelOption(int option) { return set_surface(&Surface::option, option); }
int VxSetModelKind(int kind) { return set_surface(&Surface::kind, kind); }
int VxSetModelFlag(int flag) { return set_surface(&Surface::flag, flag); }
int VxSetModelLevel(int level) { return set_surface(&Surface::level, level); }
int VxSetModelMode(int mode) { return set_surface(&Surface::mode, mode); }
int VxSetModelLook(int look) {
  if (!builder().open) return fail(VX_E_STATE);
  if (look & ~VX_LOOK_ALL) return fail(VX_E_BAD_ARGUMENT);
  builder().surface.look = look;
  return 1;
}

// ---------------------------------------------------------------------------------------
// Script reader.

namespace {

constexpr size_t kMaxLine = 255;  // bytes of text per line, end of line excluded
constexpr size_t kMaxScript = 32u << 20;

struct Tokens {
  std::vector<std::string> t;
  size_t i = 0;
  bool more() const { return i < t.size(); }
  const std::string& next() { return t[i++]; }
};

std::string lower(const std::string& s) {
  std::string r = s;
  for (char& c : r) c = (char)std::tolower((unsigned char)c);
  return r;
}

bool number(Tokens& k, VxReal& out) {
  if (!k.more()) return false;
  const std::string& s = k.next();
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (end == s.c_str() || *end || errno == ERANGE || !std::isfinite(v) || std::fabs(v) > 1e30)
    return false;
  out = (VxReal)v;
  return true;
}

bool integer(Tokens& k, long lo, long hi, long& out) {
  if (!k.more()) return false;
  const std::string& s = k.next();
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 10);
  if (end == s.c_str() || *end || errno == ERANGE || v < lo || v > hi) return false;
  out = v;
  return true;
}

// Optional "tag N" at the end of a polygon statement.
bool polygon_tail(Tokens& k, VxPolygon* p) {
  if (!k.more()) return true;
  if (lower(k.next()) != "tag") return false;
  long tag;
  if (!integer(k, INT32_MIN, INT32_MAX, tag) || k.more()) return false;
  return VxSetPolygonTag(p, (int32_t)tag) != 0;
}

struct Reader {
  int line_no = 0;
  VxClumpRec* result = nullptr;
  int depth = 0;
  bool bad = false;

  bool statement(Tokens& k) {
    std::string kw = lower(k.next());
    if (kw == "clump" && k.more()) kw += lower(k.next());
    if (kw == "clumpbegin") {
      if (k.more() || (depth == 0 && result)) return false;  // one top-level clump
      if (!VxBeginClump()) return false;
      ++depth;
      return true;
    }
    if (kw == "clumpend") {
      if (k.more() || depth == 0) return false;
      VxClumpRec* c = VxEndClump();
      if (!c) return false;
      if (--depth == 0) result = c;
      return true;
    }
    if (depth == 0) return false;  // everything else belongs inside a clump
    if (kw == "vertex") {
      VxReal x, y, z, u = 0, v = 0;
      if (!number(k, x) || !number(k, y) || !number(k, z)) return false;
      bool uv = false;
      if (k.more()) {
        if (lower(k.next()) != "uv" || !number(k, u) || !number(k, v)) return false;
        uv = true;
      }
      if (k.more()) return false;
      return uv ? VxAddVertexUV(x, y, z, u, v) != 0 : VxAddVertex(x, y, z) != 0;
    }
    if (kw == "triangle" || kw == "quad") {
      int n = kw == "triangle" ? 3 : 4, idx[4];
      for (int i = 0; i < n; ++i) {
        long v;
        if (!integer(k, 1, kMaxVertices, v)) return false;
        idx[i] = (int)v;
      }
      VxPolygon* p = VxAddPolygon(n, idx);
      return p && polygon_tail(k, p);
    }
    if (kw == "polygon") {
      long n;
      if (!integer(k, 3, kMaxPolygonCorners, n)) return false;
      std::vector<int> idx((size_t)n);
      for (long i = 0; i < n; ++i) {
        long v;
        if (!integer(k, 1, kMaxVertices, v)) return false;
        idx[(size_t)i] = (int)v;
      }
      VxPolygon* p = VxAddPolygon((int)n, idx.data());
      return p && polygon_tail(k, p);
    }
    if (kw == "color" || kw == "colour" || kw == "surface") {
      VxReal a, b, c;
      if (!number(k, a) || !number(k, b) || !number(k, c) || k.more()) return false;
      return kw == "surface" ? VxSetModelSurface(a, b, c) != 0 : VxSetModelColor(a, b, c) != 0;
    }
    if (kw == "opacity") {
      VxReal o;
      if (!number(k, o) || k.more()) return false;
      return VxSetModelOpacity(o) != 0;
    }
    if (kw == "texture" || kw == "textureext") return texture(k);
    if (kw == "tag") {
      long tag;
      if (!integer(k, INT32_MIN, INT32_MAX, tag) || k.more()) return false;
      return VxSetClumpTag(current(), (int32_t)tag) != 0;
    }
    if (kw == "axisalignment") {
      if (!k.more()) return false;
      std::string a = lower(k.next());
      if (k.more()) return false;
      int v = a == "none" ? VX_ALIGN_NONE : a == "zorientx" ? VX_ALIGN_ZORIENTX
            : a == "zorienty" ? VX_ALIGN_ZORIENTY : -1;
      return v >= 0 && VxSetModelAxisAlignment(v) != 0;
    }
    if (kw == "transform") return transform(k);
    if (kw == "shading" || kw == "lighting" || kw == "mapping" || kw == "dither" || kw == "geometry")
      return look(kw, k);
    return false;
  }

  // shading flat|smooth, lighting lit|unlit, mapping perspective|affine, dither on|off,
  // geometry polygons|points|outline|polyline: each sets its bits of the current look.
  bool look(const std::string& kw, Tokens& k) {
    struct Word {
      const char* statement;
      const char* word;
      int bits;
    };
    static const Word kWords[] = {
        {"shading", "flat", 0},          {"shading", "smooth", VX_LOOK_SMOOTH},
        {"lighting", "lit", 0},          {"lighting", "unlit", VX_LOOK_UNLIT},
        {"mapping", "perspective", 0},   {"mapping", "affine", VX_LOOK_AFFINE},
        {"dither", "off", 0},            {"dither", "on", VX_LOOK_DITHER},
        {"geometry", "polygons", VX_LOOK_POLYGON}, {"geometry", "points", VX_LOOK_POINTS},
        {"geometry", "outline", VX_LOOK_OUTLINE},  {"geometry", "polyline", VX_LOOK_POLYLINE}};
    if (!k.more()) return false;
    std::string word = lower(k.next());
    if (k.more()) return false;
    const int field = kw == "shading" ? VX_LOOK_SMOOTH : kw == "lighting" ? VX_LOOK_UNLIT
                    : kw == "mapping" ? VX_LOOK_AFFINE : kw == "dither" ? VX_LOOK_DITHER : VX_LOOK_GEOMETRY;
    for (const Word& w : kWords)
      if (kw == w.statement && word == w.word)
        return VxSetModelLook((builder().surface.look & ~field) | w.bits) != 0;
    return false;
  }

  // texture NAME [mask MASK] | texture null. A texture that cannot be found leaves the
  // polygons untextured: the model still stands.
  bool texture(Tokens& k) {
    if (!k.more()) return false;
    std::string name = k.next();
    std::string mask;
    if (k.more()) {
      if (lower(k.next()) != "mask" || !k.more()) return false;
      mask = k.next();
      if (k.more()) return false;
    }
    if (lower(name) == "null") return mask.empty() && VxSetModelTexture(nullptr) != 0;
    VxTextureRec* t = VxFindNamedTexture(name.c_str());
    if (t) {
      VxAddTextureReference(t);
    } else {
      t = VxReadNamedTexture(name.c_str());
    }
    if (!t) {
      debug(1, "texture %s not found", name.c_str());
      return VxSetModelTexture(nullptr) != 0;
    }
    if (!mask.empty()) {
      if (VxRasterRec* m = VxReadMaskRaster(mask.c_str())) {
        VxMaskTexture(t, m);
        raster_free(m);
      }
    }
    int ok = VxSetModelTexture(t);
    VxDestroyTexture(t);
    return ok != 0;
  }

  // transform m00 .. m33 | transform translate x y z | rotate x y z degrees | scale x y z;
  // the matrix form replaces the placement, the others are applied after it.
  bool transform(Tokens& k) {
    if (!k.more()) return false;
    std::string op = lower(k.t[k.i]);
    VxMatrixRec m{mat_identity()};
    st().matrices.insert(&m);
    bool ok = false;
    VxReal v[16];
    if (op == "translate" || op == "scale" || op == "rotate") {
      ++k.i;
      int n = op == "rotate" ? 4 : 3;
      ok = true;
      for (int i = 0; i < n && ok; ++i) ok = number(k, v[i]);
      ok = ok && !k.more();
      if (ok) {
        if (op == "translate") ok = VxTranslateMatrix(&m, v[0], v[1], v[2], VX_REPLACE);
        else if (op == "scale") ok = VxScaleMatrix(&m, v[0], v[1], v[2], VX_REPLACE);
        else ok = VxRotateMatrix(&m, v[0], v[1], v[2], v[3], VX_REPLACE);
      }
      ok = ok && VxSetModelTransform(&m, VX_POSTCONCAT);
    } else {
      ok = true;
      for (int i = 0; i < 16 && ok; ++i) ok = number(k, v[i]);
      ok = ok && !k.more() && VxSetMatrixElements(&m, v) && VxSetModelTransform(&m, VX_REPLACE);
    }
    st().matrices.erase(&m);
    return ok;
  }
};

}  // namespace

VxClump* VxReadClumpFromMemory(const char* text, size_t length) {
  if (!st().initialized) return failp<VxClump>(VX_E_NOT_INITIALIZED);
  if (!text && length) return failp<VxClump>(VX_E_BAD_ARGUMENT);
  if (length > kMaxScript) return failp<VxClump>(VX_E_NO_MEMORY);
  if (builder().open) return failp<VxClump>(VX_E_STATE);
  VxBeginModel();
  Reader r;
  size_t pos = 0;
  int code = VX_E_NONE;
  while (pos < length) {
    size_t end = pos;
    while (end < length && text[end] != '\n') ++end;
    size_t len = end - pos;
    if (len && text[pos + len - 1] == '\r') --len;
    ++r.line_no;
    if (len > kMaxLine) {
      code = VX_E_BAD_FORMAT;
      break;
    }
    std::string line(text + pos, len);
    pos = end + 1;
    if (line.find('\0') != std::string::npos) {
      code = VX_E_BAD_FORMAT;
      break;
    }
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    Tokens k;
    size_t i = 0;
    while (i < line.size()) {
      while (i < line.size() && std::isspace((unsigned char)line[i])) ++i;
      size_t s = i;
      while (i < line.size() && !std::isspace((unsigned char)line[i])) ++i;
      if (i > s) k.t.push_back(line.substr(s, i - s));
    }
    if (k.t.empty()) continue;
    if (!r.statement(k)) {
      code = VX_E_BAD_FORMAT;
      debug(1, "script line %d: bad statement", r.line_no);
      break;
    }
  }
  if (code == VX_E_NONE && (r.depth != 0 || !r.result)) code = VX_E_TRUNCATED;
  VxClumpRec* result = code == VX_E_NONE ? r.result : nullptr;
  if (!result && r.result && live(r.result)) clump_free_tree(r.result);
  builder_clear();
  if (!result) return failp<VxClump>(code);
  return result;
}

VxClump* VxReadClump(const char* path) {
  if (!st().initialized) return failp<VxClump>(VX_E_NOT_INITIALIZED);
  if (!path) return failp<VxClump>(VX_E_BAD_ARGUMENT);
  std::vector<unsigned char> bytes;
  if (!read_file(path, bytes, kMaxScript)) return nullptr;
  return VxReadClumpFromMemory(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}
