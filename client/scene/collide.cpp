#include "client/scene/collide.h"

#include <cmath>

#include "client/core/log.h"
#include "client/scene/backdrop.h"
#include "client/scene/behavior.h"
#include "client/scene/cell.h"
#include "client/scene/element.h"
#include "client/scene/self.h"
#include "client/scene/visible.h"

collide_hooks collide_hook = {visible_start, visible_next, element_solid, behavior_trigger, ground_clump};

namespace {

VxClump* last_bumped = nullptr;
bool cancelled = false;
VxClump* box_clump = nullptr;

bool finite(const VxVector& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// Plane work in double: huge polygons from a model must not overflow into infinities.
struct Vec {
  double x, y, z;
};
Vec vec(const VxVector& v) { return {v.x, v.y, v.z}; }
Vec sub(const Vec& a, const Vec& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec cross(const Vec& a, const Vec& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double dot(const Vec& a, const Vec& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
double at(const Vec& v, int i) { return i == 0 ? v.x : i == 1 ? v.y : v.z; }
VxReal sign1(VxReal v) { return v >= 0 ? 1.0f : -1.0f; }
VxReal at(const VxVector& v, int i) { return i == 0 ? v.x : i == 1 ? v.y : v.z; }

// Crossing count of the point against the polygon projected onto the two axes other than
// drop; non-zero when the point is inside.
int winding(const VxVector* p, int n, const Vec& q, int drop) {
  int u = drop == 0 ? 1 : 0, v = drop == 2 ? 1 : 2;
  double qu = at(q, u), qv = at(q, v);
  int count = 0;
  for (int i = 0; i < n; ++i) {
    Vec a = vec(p[i]), b = vec(p[(i + 1) % n]);
    double au = at(a, u), av = at(a, v), bu = at(b, u), bv = at(b, v);
    // Half-open in v so that a vertex on the ray is counted once.
    if ((av <= qv) != (bv <= qv)) {
      double side = (bu - au) * (qv - av) - (qu - au) * (bv - av);
      if (bv > av) {
        if (side > 0) ++count;
      } else if (side < 0) {
        --count;
      }
    }
  }
  return count;
}

}  // namespace

unsigned cube_face_code(const VxVector& p) {
  unsigned c = 0;
  if (p.x > 0.5f) c |= 0x01;
  if (p.x < -0.5f) c |= 0x02;
  if (p.y > 0.5f) c |= 0x04;
  if (p.y < -0.5f) c |= 0x08;
  if (p.z > 0.5f) c |= 0x10;
  if (p.z < -0.5f) c |= 0x20;
  return c;
}

unsigned cube_bevel2d_code(const VxVector& p) {
  unsigned c = 0;
  const VxReal s[6] = {p.x + p.y, p.x - p.y, p.x + p.z, p.x - p.z, p.y + p.z, p.y - p.z};
  for (int i = 0; i < 6; ++i) {
    if (s[i] > 1.0f) c |= 1u << (2 * i);
    if (s[i] < -1.0f) c |= 1u << (2 * i + 1);
  }
  return c;
}

unsigned cube_bevel3d_code(const VxVector& p) {
  unsigned c = 0;
  const VxReal s[4] = {p.x + p.y + p.z, p.x + p.y - p.z, p.x - p.y + p.z, p.x - p.y - p.z};
  for (int i = 0; i < 4; ++i) {
    if (s[i] > 1.5f) c |= 1u << (2 * i);
    if (s[i] < -1.5f) c |= 1u << (2 * i + 1);
  }
  return c;
}

int segment_meets_cube(const VxVector& a, const VxVector& b) {
  VxVector d{b.x - a.x, b.y - a.y, b.z - a.z};
  VxReal s[3] = {sign1(d.x), sign1(d.y), sign1(d.z)};
  for (int i = 0; i < 3; ++i) {
    if (s[i] * at(a, i) > 0.5f || s[i] * at(b, i) < -0.5f) return 0;
  }
  // The segment's line against the square in each axis plane.
  static const int pairs[3][2] = {{1, 2}, {2, 0}, {0, 1}};
  for (const auto& pr : pairs) {
    int i = pr[0], j = pr[1];
    VxReal di = at(d, i), dj = at(d, j);
    VxReal reach = (s[i] * dj + s[j] * di) * 0.5f;
    VxReal off = dj * at(a, i) - di * at(a, j);
    if (reach * reach < off * off) return 0;
  }
  return 1;
}

int polygon_meets_cube(const VxVector* p, int n, const VxVector& motion) {
  if (!p || n < 1 || n > BUMP_MAX_VERTICES) return 0;
  unsigned face_and = ~0u, edge_and = ~0u, corner_and = ~0u;
  bool inside = false;
  for (int i = 0; i < n; ++i) {
    // A vertex that is not a number classifies as nowhere and would count as inside.
    if (!finite(p[i])) return 0;
    unsigned f = cube_face_code(p[i]);
    if (f == 0) inside = true;
    face_and &= f;
    edge_and &= cube_bevel2d_code(p[i]);
    corner_and &= cube_bevel3d_code(p[i]);
  }
  if (!inside && (face_and || edge_and || corner_and)) return 0;

  Vec normal{0, 0, 0};
  Vec p0 = vec(p[0]);
  for (int i = 1; i + 1 < n; ++i) {
    Vec c = cross(sub(vec(p[i]), p0), sub(vec(p[i + 1]), p0));
    normal = {normal.x + c.x, normal.y + c.y, normal.z + c.z};
    if (normal.x != 0 || normal.y != 0 || normal.z != 0) break;
  }
  // Only polygons facing the motion stop it: the body can walk out of what it stands in.
  if (dot(normal, vec(motion)) > 0) return 0;
  if (inside) return 1;

  for (int i = 0; i < n; ++i) {
    if (segment_meets_cube(p[i], p[(i + 1) % n])) return 1;
  }

  if (normal.x == 0 && normal.y == 0 && normal.z == 0) return 0;
  if (!std::isfinite(normal.x) || !std::isfinite(normal.y) || !std::isfinite(normal.z)) return 0;
  Vec corner{normal.x >= 0 ? 1.0 : -1.0, normal.y >= 0 ? 1.0 : -1.0, normal.z >= 0 ? 1.0 : -1.0};
  double t = dot(normal, p0) / dot(normal, corner);
  if (!std::isfinite(t) || std::fabs(t) > 0.5) return 0;
  Vec q{corner.x * t, corner.y * t, corner.z * t};
  double ax = std::fabs(normal.x), ay = std::fabs(normal.y), az = std::fabs(normal.z);
  int drop = ax >= ay && ax >= az ? 0 : ay >= az ? 1 : 2;
  return winding(p, n, q, drop) != 0;
}

namespace {

struct ClumpTest {
  VxVector vertices[BUMP_MAX_VERTICES];
  int count;
  VxVector motion;
  bool hit;
};

void test_polygon(VxPolygon* polygon, void* data) {
  auto* t = static_cast<ClumpTest*>(data);
  if (t->hit) return;
  int n = VxGetPolygonNumVertices(polygon);
  if (n < 1 || n > BUMP_MAX_VERTICES) return;
  int numbers[BUMP_MAX_VERTICES];
  if (!VxGetPolygonVertexIndices(polygon, numbers)) return;
  VxVector p[BUMP_MAX_VERTICES];
  for (int i = 0; i < n; ++i) {
    if (numbers[i] < 1 || numbers[i] > t->count) return;
    p[i] = t->vertices[numbers[i] - 1];
  }
  if (polygon_meets_cube(p, n, t->motion)) t->hit = true;
}

VxClump* make_box_clump() {
  if (box_clump) return box_clump;
  if (!VxBeginModel()) return nullptr;
  VxClump* c = nullptr;
  if (VxBeginClump()) {
    VxAddBlock(1, 1, 1);
    c = VxEndClump();
  }
  VxEndModel();
  box_clump = c;
  return c;
}

// The clump's geometry in test space: centre (x, cy, z), body height h.
int test_geometry(VxClump* clump, const VxVector& centre, VxReal h, const VxVector& motion) {
  int count = VxGetClumpNumVertices(clump);
  if (count <= 0) return 0;
  VxMatrix* world = VxCreateMatrix();
  if (!world) return 0;
  if (count > BUMP_MAX_VERTICES) {
    // Large objects collide as their bounding box.
    VxClump* box = make_box_clump();
    VxVector lo{0, 0, 0}, hi{0, 0, 0};
    int r = 0;
    if (box && VxGetClumpBounds(clump, &lo, &hi) && VxGetClumpWorldMatrix(clump, world)) {
      VxMatrix* joint = VxCreateMatrix();
      if (joint) {
        VxScaleMatrix(joint, hi.x - lo.x, hi.y - lo.y, hi.z - lo.z, VX_REPLACE);
        VxTranslateMatrix(joint, lo.x + (hi.x - lo.x) / 2, lo.y + (hi.y - lo.y) / 2,
                          lo.z + (hi.z - lo.z) / 2, VX_POSTCONCAT);
        VxTransformClumpJoint(box, joint, VX_REPLACE);
        VxTransformClump(box, world, VX_REPLACE);
        VxDestroyMatrix(joint);
        r = VxGetClumpNumVertices(box) <= BUMP_MAX_VERTICES ? test_geometry(box, centre, h, motion) : 0;
      }
    }
    VxDestroyMatrix(world);
    return r;
  }
  ClumpTest t;
  t.count = count;
  t.hit = false;
  t.motion = {motion.x * 20.0f, motion.y / h, motion.z * 20.0f};
  if (!VxGetClumpWorldMatrix(clump, world)) {
    VxDestroyMatrix(world);
    return 0;
  }
  for (int i = 0; i < count; ++i) {
    VxVector local{0, 0, 0}, w{0, 0, 0};
    VxGetClumpVertex(clump, i + 1, &local);
    VxTransformPoint(world, &local, &w);
    t.vertices[i] = {(w.x - centre.x) * 20.0f, (w.y - centre.y) / h, (w.z - centre.z) * 20.0f};
  }
  VxDestroyMatrix(world);
  VxForAllPolygonsInClumpWithData(clump, test_polygon, &t);
  return t.hit ? 1 : 0;
}

VxReal body_height() {
  VxReal h = self_height();
  return std::isfinite(h) && h >= 0.05f ? h : 0.05f;
}

struct PartsTest {
  VxVector centre;
  VxReal h;
  VxVector motion;
  bool hit;
};

void test_part(VxClump* part, void* data) {
  auto* t = static_cast<PartsTest*>(data);
  // A part that is off is not drawn, and is walked through like a clump that is off.
  if (t->hit || VxGetClumpState(part) != VX_STATE_ON) return;
  if (test_geometry(part, t->centre, t->h, t->motion)) t->hit = true;
}

// The clump and every part of it (a tree's trunk and crown, a ground of pieces), each in
// its own world place and each under the bounding-box rule on its own.
int test_clump(VxClump* clump, const VxVector& centre, VxReal h, const VxVector& motion) {
  if (!clump || VxGetClumpState(clump) != VX_STATE_ON) return 0;
  if (test_geometry(clump, centre, h, motion)) return 1;
  PartsTest t{centre, h, motion, false};
  VxForAllChildClumps(clump, test_part, &t);
  return t.hit ? 1 : 0;
}

// The first vertex of the model, as built: the clump's own, else its first part's that has one.
bool first_vertex(VxClump* clump, VxVector* out) {
  if (VxGetClumpNumVertices(clump) > 0) return VxGetClumpVertex(clump, 1, out) != 0;
  struct Find {
    VxVector* out;
    bool found;
  } f{out, false};
  VxForAllChildClumps(
      clump,
      [](VxClump* part, void* data) {
        auto* f = static_cast<Find*>(data);
        if (!f->found && VxGetClumpNumVertices(part) > 0) f->found = VxGetClumpVertex(part, 1, f->out) != 0;
      },
      &f);
  return f.found;
}

}  // namespace

int bump_clump(VxClump* clump, VxReal x, VxReal y, VxReal z, const VxVector& motion) {
  VxReal h = body_height();
  return test_clump(clump, VxVector{x, y + h / 2, z}, h, motion);
}

int bump(VxReal x, VxReal y, VxReal z, const VxVector& motion) {
  if (trace_frames()) log_write("bump");
  cancelled = false;
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return 1;
  VxReal h = body_height();
  VxVector centre{x, y + h / 2, z};

  VxClump* ground = collide_hook.ground_clump ? collide_hook.ground_clump() : nullptr;
  if (ground) {
    VxVector first{0, 0, 0};
    VxVector c = centre;
    if (first_vertex(ground, &first) && first.y < 0 && std::isfinite(first.y))
      c.y += first.y;
    if (test_clump(ground, c, h, motion)) return 1;
  }

  VxClump* passed = nullptr;
  if (collide_hook.visible_start && collide_hook.visible_next) {
    int cx = cell_from_coordinate(x), cz = cell_from_coordinate(z);
    for (int i = cx - 1; i <= cx + 1; ++i) {
      for (int j = cz - 1; j <= cz + 1; ++j) {
        collide_hook.visible_start(i, j);
        element* e = nullptr;
        // Bounded: a loaded cell holds no more elements than memory, but a broken list
        // must not hold the window thread.
        for (long guard = 0; guard < 1000000; ++guard) {
          e = nullptr;
          VxClump* clump = collide_hook.visible_next(&e);
          if (!clump) break;
          if (!test_clump(clump, centre, h, motion)) continue;
          if (clump != last_bumped) {
            if (collide_hook.behavior_trigger && e) collide_hook.behavior_trigger(e, "bump");
            if (self_gliding() || cancelled) return 1;
          }
          last_bumped = clump;
          if (!collide_hook.element_solid || !e || collide_hook.element_solid(e)) return 1;
          passed = clump;
        }
      }
    }
  }
  last_bumped = passed;
  return 0;
}

void bump_cancel() { cancelled = true; }
VxClump* bump_last_clump() { return last_bumped; }

void bump_reset_for_test() {
  last_bumped = nullptr;
  cancelled = false;
  if (box_clump) VxDestroyClump(box_clump);
  box_clump = nullptr;
}
