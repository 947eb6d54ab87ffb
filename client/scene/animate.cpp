#include "client/scene/animate.h"

#include "client/core/log.h"
#include "client/core/tick.h"
#include "client/scene/behavior.h"
#include "client/scene/element.h"
#include "client/scene/model.h"
#include "client/scene/texture.h"
#include "engine/vxl21.h"
#include "platform/clock.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

struct animation {
  animation* next;
  element* owner;
  texture_record** images;  // one reference each
  int image_count;
  int* frame_list;  // image indices from 0; null once destroyed (the record awaits purging)
  int frame_count;
  int current;
  int delay;  // milliseconds; 0 advances every frame
  int tag;    // 0: every polygon
  uint32_t next_time;
  int running;
  int loop;
};

namespace {

animation* animations = nullptr;
bool purge = false;

bool trace() { return trace_switches[TRACE_GENERAL] != 0; }

bool on_list(const animation* a) {
  for (const animation* p = animations; p; p = p->next)
    if (p == a) return true;
  return false;
}

struct texture_pass {
  int tag;
  VxTexture* texture;
};

void set_polygon_texture(VxPolygon* polygon, void* data) {
  const texture_pass* pass = static_cast<const texture_pass*>(data);
  if (pass->tag == 0 || VxGetPolygonTag(polygon) == pass->tag)
    VxSetPolygonTexture(polygon, pass->texture);
}

void texture_arrived(void* user, int status) {
  animation* a = static_cast<animation*>(user);
  if (status != 0 || !on_list(a)) return;
  animation_show(a);
}

// Image i (from 1) of a series, and its mask.
void image_name(char* out, size_t size, const char* base, int i, bool mask) {
  std::snprintf(out, size, mask ? "%s%dm" : "%s%d", base, i);
}

// One frame on; true when this ended a non-looping animation (it then raised "adone").
bool advance(animation* a) {
  if (++a->current < a->frame_count) return false;
  if (a->loop) {
    a->current = 0;
    return false;
  }
  a->current = a->frame_count - 1;
  if (a->frame_count > 1) animation_show(a);
  a->running = 0;
  behavior_trigger(a->owner, BEHAVIOR_ADONE);
  return true;
}

void free_record(animation* a) {
  std::free(a->images);
  std::free(a->frame_list);
  std::free(a);
}

// The model module keeps the animation in the element's model instance and destroys it when
// the instance goes or another animation replaces it.
void destroy_hook(object_animation* a) { animation_destroy(reinterpret_cast<animation*>(a)); }
void apply_hook(object_animation* a, model_instance*) { animation_show(reinterpret_cast<animation*>(a)); }

struct hook_filler {
  hook_filler() {
    model_hook.animation_destroy = destroy_hook;
    model_hook.animation_apply = apply_hook;
  }
} filler;

}  // namespace

animation* animation_create(const char* name, int images, int frames, int delay, int tag, int masked,
                            const int* frame_list, element* e) {
  if (!name || !e || images <= 0 || images >= ANIMATION_IMAGE_LIMIT || frames <= 0) return nullptr;
  if (frame_list) {
    for (int i = 0; i < frames; ++i)
      if (frame_list[i] < 0 || frame_list[i] >= images) return nullptr;
  } else if (frames != images) {
    return nullptr;
  }
  animation* a = static_cast<animation*>(std::calloc(1, sizeof(animation)));
  if (!a) return nullptr;
  a->images = static_cast<texture_record**>(std::calloc(static_cast<size_t>(images), sizeof(texture_record*)));
  a->frame_list = static_cast<int*>(std::malloc(static_cast<size_t>(frames) * sizeof(int)));
  if (!a->images || !a->frame_list) {
    free_record(a);
    return nullptr;
  }
  for (int i = 0; i < frames; ++i) a->frame_list[i] = frame_list ? frame_list[i] : i;
  a->frame_count = frames;
  a->image_count = images;
  a->delay = delay < 0 ? 0 : delay;
  a->tag = tag;
  a->owner = e;
  a->current = 0;
  a->running = 1;
  a->loop = 1;
  // The first image stays for a whole delay, as every later one does.
  a->next_time = tick_now() + static_cast<uint32_t>(a->delay);
  // On the list before the downloads: an image already at hand may call back at once.
  a->next = animations;
  animations = a;
  char text[300];
  for (int i = 1; i <= images; ++i) {
    image_name(text, sizeof text, name, i, false);
    texture_record* t = texture_download(text, texture_arrived, a);
    if (masked && t) {
      image_name(text, sizeof text, name, i, true);
      texture_set_mask(t, text);
    }
    texture_reference(t);
    a->images[i - 1] = t;
  }
  element_set_animation(e, a);
  if (element_animation(e) != a) {
    // The element has no model instance to keep it: nothing would ever destroy it.
    animation_destroy(a);
    return nullptr;
  }
  animation_show(a);
  if (trace()) log_write("animation_create (%s, %d, %d, %d)", name, images, frames, a->delay);
  return a;
}

void animation_preload(const char* name, int images, int frames, const int* frame_list, int masked) {
  if (!name || images <= 0 || images >= ANIMATION_IMAGE_LIMIT) return;
  int count = frame_list ? frames : images;
  char text[300];
  for (int i = 0; i < count; ++i) {
    int image = frame_list ? frame_list[i] + 1 : i + 1;
    if (image < 1 || image > images) continue;
    image_name(text, sizeof text, name, image, false);
    texture_record* t = texture_download(text, nullptr, nullptr);
    if (masked && t) {
      image_name(text, sizeof text, name, image, true);
      texture_set_mask(t, text);
    }
  }
}

void animation_destroy(animation* a) {
  if (!a || !a->frame_list) return;
  std::free(a->frame_list);
  a->frame_list = nullptr;
  purge = true;
  for (int i = 0; i < a->image_count; ++i) texture_dereference(a->images[i]);
  std::free(a->images);
  a->images = nullptr;
  a->image_count = 0;
  if (a->owner) {
    if (VxClump* clump = element_clump(a->owner)) {
      texture_pass pass = {a->tag, nullptr};
      VxForAllPolygonsInClumpWithData(clump, set_polygon_texture, &pass);
    }
  }
  a->owner = nullptr;
  a->running = 0;
}

void animation_show(animation* a) {
  if (!a || !a->owner || !a->images || !a->frame_list) return;
  if (a->current < 0 || a->current >= a->frame_count) return;
  VxClump* clump = element_clump(a->owner);
  if (!clump) return;
  texture_pass pass = {a->tag, texture_engine_texture(a->images[a->frame_list[a->current]])};
  VxForAllPolygonsInClumpWithData(clump, set_polygon_texture, &pass);
}

void animation_start(animation* a) {
  if (!a) return;
  a->running = 1;
  a->next_time = tick_now() + static_cast<uint32_t>(a->delay);
}

void animation_stop(animation* a) {
  if (a) a->running = 0;
}

void animation_set_loop(animation* a, int flag) {
  if (a) a->loop = flag;
}

void animation_set_frame(animation* a, int n) {
  if (!a || !a->frame_list || n < 1) return;
  a->current = (n - 1) % a->frame_count;
  animation_show(a);
}

void animation_step(animation* a, int d) {
  if (!a || !a->frame_list || d == 0) return;
  if (d > 0) {
    a->current = static_cast<int>((static_cast<long long>(a->current) + d) % a->frame_count);
  } else {
    // The remainder takes the place of adding frames until it is not negative.
    long long c = (static_cast<long long>(a->current) + d) % a->frame_count;
    a->current = static_cast<int>(c < 0 ? c + a->frame_count : c);
  }
  animation_show(a);
}

void animation_update() {
  if (trace_frames()) log_write("animation_update");
  uint32_t now = tick_now();
  if (purge) {
    purge = false;
    for (animation** link = &animations; *link;) {
      animation* a = *link;
      if (!a->frame_list) {
        *link = a->next;
        free_record(a);
      } else {
        link = &a->next;
      }
    }
  }
  for (animation* a = animations; a; a = a->next) {
    if (!a->running || !a->owner || !a->frame_list) continue;
    if (a->delay > 0) {
      if (tick_before(now, a->next_time)) continue;
      // Each image is due at its own time, not at the first frame after it.
      while (!tick_before(now, a->next_time)) {
        bool ended = advance(a);
        a->next_time += static_cast<uint32_t>(a->delay);
        if (ended) break;
      }
      if (a->frame_count >= 2) animation_show(a);
    } else {
      if (!advance(a) && a->frame_count >= 2) animation_show(a);
    }
  }
}

int animation_current(const animation* a) { return a ? a->current : 0; }
int animation_running(const animation* a) { return a ? a->running : 0; }
int animation_frames(const animation* a) { return a && a->frame_list ? a->frame_count : 0; }

float angle_difference(float a, float b) {
  float d = std::fmod(a - b, 360.0f);
  if (d > 180.0f) d -= 360.0f;
  if (d < -180.0f) d += 360.0f;
  return d;
}
