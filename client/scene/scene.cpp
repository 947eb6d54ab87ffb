#include "client/scene/scene.h"

#include <cstdio>

#include "client/core/log.h"
#include "client/core/tessel.h"
#include "client/scene/camera.h"
#include "platform/clock.h"

namespace {

VxScene* world = nullptr;

}  // namespace

VxLight* scene_make_light() { return VxCreateLight(1, -0.8f, -0.5f, -0.2f, 1.0f); }

VxScene* scene_init() {
  world = VxCreateScene();
  if (world) {
    VxLight* light = scene_make_light();
    if (light) VxAddLightToScene(world, light);
  }
  log_write("scene_init: %p", static_cast<void*>(world));
  return world;
}

namespace {

// Every few seconds the trace says which render modes and triangle handlers the frames reached.
void trace_render_counts() {
  static uint32_t last = 0;
  uint32_t now = platform_ticks();
  if (static_cast<int32_t>(now - last) < 3000) return;
  last = now;
  char line[1000];
  int used = std::snprintf(line, sizeof line, "scene_render_counts:");
  for (int bank = 0; bank < VX_RENDER_BANKS; ++bank)
    for (int slot = 0; slot < VX_RENDER_SLOTS; ++slot)
      for (int position = 0; position < VX_RENDER_POSITIONS; ++position) {
        unsigned n = VxGetRenderCount(bank, slot, position);
        if (!n || used >= static_cast<int>(sizeof line) - 24) continue;
        used += std::snprintf(line + used, sizeof line - static_cast<size_t>(used), " %d.%d.%d=%u", bank, slot,
                              position, n);
      }
  log_write("%s", line);
  VxResetRenderCounts();
}

}  // namespace

void scene_update() {
  if (tessel_in_background() || !world) return;
  VxRenderScene(world);
  if (trace_switches[TRACE_GENERAL]) trace_render_counts();
}

void scene_term() {
  if (world) VxDestroyScene(world);
  world = nullptr;
}

VxScene* scene_world() { return world; }

VxClump* scene_pick(int x, int y) { return scene_pick_in(world, x, y); }

VxClump* scene_pick_in(VxScene* scene, int x, int y) {
  VxCamera* camera = camera_get_main();
  if (!scene || !camera) return nullptr;
  int vx = 0, vy = 0, vw = 0, vh = 0;
  if (!VxGetCameraViewport(camera, &vx, &vy, &vw, &vh)) return nullptr;
  // Compared by difference in 64 bits: points come from window events.
  long long dx = static_cast<long long>(x) - vx, dy = static_cast<long long>(y) - vy;
  if (dx < 0 || dy < 0 || dx >= vw || dy >= vh) return nullptr;
  VxPickRecord pick{};
  if (!VxPickScene(scene, static_cast<int>(dx), static_cast<int>(dy), camera, &pick)) return nullptr;
  if (pick.type != VX_PICK_POLYGON || !pick.object) return nullptr;
  return VxGetPolygonClump(static_cast<VxPolygon*>(pick.object));
}
