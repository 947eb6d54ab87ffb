// Scenes, lights and cameras: they hold their properties, keep the frame bracket, project
// and pick; drawing goes to the display driver's device when one is open (render.cpp).
#include "engine/internal.h"

#include <algorithm>
#include <cmath>

namespace vx {

void scene_free_all() {
  State& s = st();
  for (VxSceneRec* sc : s.scenes) {
    for (VxClumpRec* c : sc->clumps) c->scene = nullptr;
    delete sc;
  }
  s.scenes.clear();
  for (VxLightRec* l : s.lights) delete l;
  s.lights.clear();
  for (VxCameraRec* c : s.cameras) delete c;  // images are rasters, freed with them
  s.cameras.clear();
}

static VxVector sub(VxVector a, VxVector b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
static VxReal dot(VxVector a, VxVector b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
static VxVector cross(VxVector a, VxVector b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
static VxVector row(const Mat& m, int r) { return {m.m[r][0], m.m[r][1], m.m[r][2]}; }
static void set_row(Mat& m, int r, VxVector v) { m.m[r][0] = v.x, m.m[r][1] = v.y, m.m[r][2] = v.z; }

// Rebuilds the camera's axes from a look direction and an up hint. Looking along +z with
// y up, +x lies to the left, so local x = up x look.
static bool orient(VxCameraRec* c, VxVector look, VxVector up) {
  if (!VxNormalizeVector(&look)) return false;
  VxVector x = cross(up, look);
  if (!VxNormalizeVector(&x)) return false;
  VxVector y = cross(look, x);
  set_row(c->m, 0, x);
  set_row(c->m, 1, y);
  set_row(c->m, 2, look);
  return true;
}

}  // namespace vx

using namespace vx;

VxScene* VxCreateScene(void) {
  if (!st().initialized) return failp<VxScene>(VX_E_NOT_INITIALIZED);
  auto* s = new VxSceneRec;
  st().scenes.insert(s);
  return s;
}

int VxDestroyScene(VxScene* scene) {
  if (!live(scene)) return fail(VX_E_BAD_ARGUMENT);
  for (VxClumpRec* c : scene->clumps) c->scene = nullptr;
  for (VxLightRec* l : scene->lights) {
    st().lights.erase(l);
    delete l;
  }
  st().scenes.erase(scene);
  delete scene;
  return 1;
}

int VxAddClumpToScene(VxScene* scene, VxClump* clump) {
  if (!live(scene) || !live(clump) || clump->parent) return fail(VX_E_BAD_ARGUMENT);
  if (clump->scene == scene) return 1;
  clump_detach(clump);
  clump->scene = scene;
  scene->clumps.push_back(clump);
  return 1;
}

int VxRemoveClumpFromScene(VxClump* clump) {
  if (!live(clump) || !clump->scene) return fail(VX_E_BAD_ARGUMENT);
  clump_detach(clump);
  return 1;
}

VxScene* VxGetClumpScene(const VxClump* clump) {
  if (!live(clump)) return failp<VxScene>(VX_E_BAD_ARGUMENT);
  return clump->scene;
}

int VxGetSceneNumClumps(const VxScene* scene) {
  if (!live(scene)) return fail(VX_E_BAD_ARGUMENT);
  return (int)scene->clumps.size();
}

VxLight* VxCreateLight(int kind, VxReal x, VxReal y, VxReal z, VxReal intensity) {
  if (!st().initialized) return failp<VxLight>(VX_E_NOT_INITIALIZED);
  auto* l = new VxLightRec;
  l->kind = kind;
  l->direction = {x, y, z};
  VxNormalizeVector(&l->direction);
  l->intensity = intensity;
  st().lights.insert(l);
  return l;
}

int VxAddLightToScene(VxScene* scene, VxLight* light) {
  if (!live(scene) || !light || !st().lights.count(light) || light->scene) return fail(VX_E_BAD_ARGUMENT);
  light->scene = scene;
  scene->lights.push_back(light);
  return 1;
}

int VxGetSceneNumLights(const VxScene* scene) {
  if (!live(scene)) return fail(VX_E_BAD_ARGUMENT);
  return (int)scene->lights.size();
}

VxCamera* VxCreateCamera(int width, int height, int) {
  if (!st().initialized) return failp<VxCamera>(VX_E_NOT_INITIALIZED);
  if (width < 1 || height < 1) return failp<VxCamera>(VX_E_BAD_ARGUMENT);
  VxRasterRec* image = raster_new(width, height, 8);
  if (!image) return nullptr;  // too large: out of memory
  auto* c = new VxCameraRec;
  c->width = width;
  c->height = height;
  c->vp_w = width;
  c->vp_h = height;
  c->image = image;
  st().cameras.insert(c);
  if (!device_camera_attach(c)) {  // the driver could not make its frame raster
    st().cameras.erase(c);
    raster_free(image);
    delete c;
    return failp<VxCamera>(VX_E_NO_MEMORY);
  }
  return c;
}

int VxDestroyCamera(VxCamera* camera) {
  if (!live(camera)) return fail(VX_E_BAD_ARGUMENT);
  if (st().updating == camera) st().updating = nullptr;
  device_camera_detach(camera);
  raster_free(camera->image);
  st().cameras.erase(camera);
  delete camera;
  return 1;
}

int VxSetCameraPosition(VxCamera* c, VxReal x, VxReal y, VxReal z) {
  if (!live(c)) return fail(VX_E_BAD_ARGUMENT);
  set_row(c->m, 3, {x, y, z});
  return 1;
}

int VxGetCameraPosition(const VxCamera* c, VxVector* out) {
  if (!live(c) || !out) return fail(VX_E_BAD_ARGUMENT);
  *out = row(c->m, 3);
  return 1;
}

int VxMoveCamera(VxCamera* c, VxReal dx, VxReal dy, VxReal dz) {
  if (!live(c)) return fail(VX_E_BAD_ARGUMENT);
  c->m.m[3][0] += dx, c->m.m[3][1] += dy, c->m.m[3][2] += dz;
  return 1;
}

int VxPointCameraAt(VxCamera* c, VxReal x, VxReal y, VxReal z) {
  if (!live(c)) return fail(VX_E_BAD_ARGUMENT);
  VxVector look = sub({x, y, z}, row(c->m, 3));
  VxVector up = row(c->m, 1);
  if (!orient(c, look, up) && !orient(c, look, {0, 1, 0}) && !orient(c, look, {0, 0, 1}))
    return fail(VX_E_BAD_ARGUMENT);
  return 1;
}

int VxSetCameraLookUp(VxCamera* c, VxReal x, VxReal y, VxReal z) {
  if (!live(c)) return fail(VX_E_BAD_ARGUMENT);
  if (!orient(c, row(c->m, 2), {x, y, z})) return fail(VX_E_BAD_ARGUMENT);
  return 1;
}

int VxGetCameraLookAt(const VxCamera* c, VxVector* out) {
  if (!live(c) || !out) return fail(VX_E_BAD_ARGUMENT);
  *out = row(c->m, 2);
  return 1;
}

int VxGetCameraLookUp(const VxCamera* c, VxVector* out) {
  if (!live(c) || !out) return fail(VX_E_BAD_ARGUMENT);
  *out = row(c->m, 1);
  return 1;
}

int VxTransformCamera(VxCamera* c, const VxMatrix* m, int mode) {
  if (!live(c) || !live(m)) return fail(VX_E_BAD_ARGUMENT);
  if (!mat_combine(c->m, m->mat, mode)) return fail(VX_E_BAD_ARGUMENT);
  return 1;
}

int VxGetCameraMatrix(const VxCamera* c, VxMatrix* out) {
  if (!live(c) || !live(out)) return fail(VX_E_BAD_ARGUMENT);
  out->mat = c->m;
  return 1;
}

int VxSetCameraViewwindow(VxCamera* c, VxReal w, VxReal h) {
  if (!live(c) || !(w > 0) || !(h > 0)) return fail(VX_E_BAD_ARGUMENT);
  c->view_width = w, c->view_height = h;
  return 1;
}

int VxGetCameraViewwindow(const VxCamera* c, VxReal* w, VxReal* h) {
  if (!live(c) || !w || !h) return fail(VX_E_BAD_ARGUMENT);
  *w = c->view_width, *h = c->view_height;
  return 1;
}

int VxSetCameraViewport(VxCamera* c, int x, int y, int w, int h) {
  if (!live(c) || x < 0 || y < 0 || w < 1 || h < 1 || x > c->width - w || y > c->height - h)
    return fail(VX_E_BAD_ARGUMENT);
  c->vp_x = x, c->vp_y = y, c->vp_w = w, c->vp_h = h;
  return 1;
}

int VxGetCameraViewport(const VxCamera* c, int* x, int* y, int* w, int* h) {
  if (!live(c) || !x || !y || !w || !h) return fail(VX_E_BAD_ARGUMENT);
  *x = c->vp_x, *y = c->vp_y, *w = c->vp_w, *h = c->vp_h;
  return 1;
}

int VxSetCameraNearClipping(VxCamera* c, VxReal d) {
  if (!live(c) || !(d > 0)) return fail(VX_E_BAD_ARGUMENT);
  c->near_clip = d;
  return 1;
}

int VxSetCameraBackColor(VxCamera* c, VxReal r, VxReal g, VxReal b) {
  if (!live(c)) return fail(VX_E_BAD_ARGUMENT);
  c->back[0] = r, c->back[1] = g, c->back[2] = b;
  return 1;
}

int VxSetCameraBackdrop(VxCamera* c, VxRaster* r) {
  if (!live(c) || (r && !live(r))) return fail(VX_E_BAD_ARGUMENT);
  c->backdrop = r;
  return 1;
}

int VxSetCameraBackdropOffset(VxCamera* c, int x, int y) {
  if (!live(c)) return fail(VX_E_BAD_ARGUMENT);
  c->backdrop_x = x, c->backdrop_y = y;
  return 1;
}

int VxSetCameraBackdropViewport(VxCamera* c, int x, int y, int w, int h) {
  if (!live(c)) return fail(VX_E_BAD_ARGUMENT);
  c->bd_vp[0] = x, c->bd_vp[1] = y, c->bd_vp[2] = w, c->bd_vp[3] = h;
  return 1;
}

// With a display device that gives the frame a device context (the DIB section output) or
// a surface (the surface output), that is the image: callers draw on it. Otherwise the
// engine's raster, which holds a copy of the last frame.
void* VxGetCameraImage(const VxCamera* c) {
  if (!live(c)) return failp<void>(VX_E_BAD_ARGUMENT);
  if (void* handle = frame_handle(c)) return handle;
  return c->image;
}

int VxSetCameraWindow(VxCamera* c, void* window) {
  if (!live(c)) return fail(VX_E_BAD_ARGUMENT);
  c->window = window;
  return 1;
}

int VxInvalidateCameraViewport(VxCamera* c) {
  if (!live(c)) return fail(VX_E_BAD_ARGUMENT);
  ++c->invalidations;
  return 1;
}

int VxBeginCameraUpdate(VxCamera* c) {
  if (!live(c)) return fail(VX_E_BAD_ARGUMENT);
  if (st().updating) return fail(VX_E_STATE);
  st().updating = c;
  c->updating = true;
  return frame_begin(c);
}

int VxEndCameraUpdate(VxCamera* c) {
  if (!live(c) || st().updating != c) return fail(VX_E_STATE);
  frame_end(c);
  st().updating = nullptr;
  c->updating = false;
  ++c->frames;
  return 1;
}

int VxRenderScene(VxScene* scene) {
  if (!live(scene)) return fail(VX_E_BAD_ARGUMENT);
  if (!st().updating) return fail(VX_E_STATE);
  return frame_render_scene(scene);
}

int VxRenderClump(VxClump* clump) {
  if (!live(clump)) return fail(VX_E_BAD_ARGUMENT);
  if (!st().updating) return fail(VX_E_STATE);
  return frame_render_clump(clump);
}

int VxShowCameraImage(VxCamera* c, void* dc) {
  if (!live(c)) return fail(VX_E_BAD_ARGUMENT);
  if (st().updating == c) return fail(VX_E_STATE);  // the frame is not finished
  return frame_show(c, dc);
}

// World point to viewport pixel: x grows to the camera's right (its local -x).
static bool project(const VxCameraRec* c, VxVector p, VxReal& sx, VxReal& sy, VxReal& depth) {
  VxVector l = camera_local(c, p);
  VxReal xc = l.x, yc = l.y, zc = l.z;
  depth = zc;
  if (!(zc >= c->near_clip)) return false;
  sx = (1 - xc / (zc * c->view_width)) * c->vp_w / 2;
  sy = (1 - yc / (zc * c->view_height)) * c->vp_h / 2;
  return true;
}

int VxProjectClumpVertex(VxClump* clump, int number, VxCamera* camera, VxScreenVertex* out) {
  if (!live(clump) || !live(camera) || !out || number < 1 || number > (int)clump->vertices.size())
    return fail(VX_E_BAD_ARGUMENT);
  VxVector p = mat_apply(clump_world(clump), clump->vertices[number - 1].p);
  VxReal sx = 0, sy = 0, depth;
  bool front = project(camera, p, sx, sy, depth);
  out->visible = front && sx >= 0 && sy >= 0 && sx < camera->vp_w && sy < camera->vp_h;
  out->x = front && std::fabs(sx) < 1e9f ? (int32_t)std::floor(sx) : 0;
  out->y = front && std::fabs(sy) < 1e9f ? (int32_t)std::floor(sy) : 0;
  return 1;
}

namespace {

struct Ray {
  VxVector o, d;
};

// Distance along the ray to the triangle, or a negative value.
VxReal hit_triangle(const Ray& r, VxVector a, VxVector b, VxVector c) {
  VxVector e1 = sub(b, a), e2 = sub(c, a), p = cross(r.d, e2);
  VxReal det = dot(e1, p);
  if (std::fabs(det) < 1e-12f) return -1;
  VxReal inv = 1 / det;
  VxVector t = sub(r.o, a);
  VxReal u = dot(t, p) * inv;
  if (u < 0 || u > 1) return -1;
  VxVector q = cross(t, e1);
  VxReal v = dot(r.d, q) * inv;
  if (v < 0 || u + v > 1) return -1;
  return dot(e2, q) * inv;
}

void pick_clump(const Ray& ray, VxReal near, VxClumpRec* c, VxPickRecord* best, int depth) {
  if (c->state == VX_STATE_ON) {
    Mat w = clump_world(c);
    std::vector<VxVector> world(c->vertices.size());
    for (size_t i = 0; i < world.size(); ++i) world[i] = mat_apply(w, c->vertices[i].p);
    for (VxPolygonRec* p : c->polygons)
      for (size_t i = 1; i + 1 < p->numbers.size(); ++i) {
        VxReal t = hit_triangle(ray, world[p->numbers[0] - 1], world[p->numbers[i] - 1],
                                world[p->numbers[i + 1] - 1]);
        if (t >= near && (best->type != VX_PICK_POLYGON || t < best->distance)) {
          best->type = VX_PICK_POLYGON;
          best->object = p;
          best->distance = t;
        }
      }
  }
  if (depth < kMaxClumpDepth)
    for (VxClumpRec* k : c->children) pick_clump(ray, near, k, best, depth + 1);
}

}  // namespace

int VxPickScene(VxScene* scene, int x, int y, VxCamera* camera, VxPickRecord* out) {
  if (!live(scene) || !live(camera) || !out) return fail(VX_E_BAD_ARGUMENT);
  out->type = VX_PICK_NOTHING;
  out->object = nullptr;
  out->distance = 0;
  if (x < 0 || y < 0 || x >= camera->vp_w || y >= camera->vp_h) return 1;
  // Through the pixel's centre, in camera space, then into the world.
  VxReal px = (x + 0.5f) / camera->vp_w * 2, py = (y + 0.5f) / camera->vp_h * 2;
  VxVector dc{(1 - px) * camera->view_width, (1 - py) * camera->view_height, 1};
  Ray ray{row(camera->m, 3), mat_apply_dir(camera->m, dc)};
  // Distances are measured in units of the ray's length along the view axis.
  for (VxClumpRec* c : scene->clumps) pick_clump(ray, camera->near_clip, c, out, 0);
  return 1;
}
