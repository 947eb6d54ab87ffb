#include "client/scene/balloon.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/core/strutil.h"
#include "client/core/tessel.h"
#include "client/scene/avatar.h"
#include "client/scene/camera.h"
#include "platform/text.h"

struct balloon {
  balloon* next;
  VxClump* clump;
  char* text;
  GdiRect box;
  int placed;
};

namespace {

struct balloon_state {
  VxClump* templ = nullptr;
  balloon* list = nullptr;
  balloon* deferred[BALLOON_DEFERRED] = {};
  int deferred_count = 0;
  GdiFont* font = nullptr;
  int drawn = 0;
};
balloon_state s;

constexpr unsigned kBalloonFlags = kDtNoPrefix | kDtNoClip | kDtWordBreak | kDtCenter;

void draw(GdiDc* dc, balloon* b) {
  if (!b->text) return;
  GdiRect r = b->box;
  gdi_set_text_colour(dc, 0x000000);
  gdi_draw_text(dc, b->text, -1, &r, kBalloonFlags);
  r = b->box;
  r.left -= 1;
  r.right -= 1;
  r.top -= 1;
  gdi_set_text_colour(dc, 0xFFFFFF);
  gdi_draw_text(dc, b->text, -1, &r, kBalloonFlags);
}

GdiFont* font() {
  // The normal interface font.
  if (!s.font) s.font = gdi_create_font(-11, 400, "Arial");
  return s.font;
}

}  // namespace

void balloon_init(void*) {
  avatar_hook.balloon_create = balloon_create;
  avatar_hook.balloon_destroy = balloon_destroy;
  avatar_hook.balloon_set_text = [](balloon* b, const char* text) { balloon_set_text(b, "%s", text ? text : ""); };
  avatar_hook.balloon_set_position = balloon_set_position;
  if (s.templ) return;
  VxBeginModel();
  VxBeginClump();
  VxSetModelFlag(0);
  VxAddVertex(0, 0, 0);
  s.templ = VxEndClump();
  VxEndModel();
  if (s.templ) VxSetClumpMode(s.templ, 3);
}

void balloon_term() {
  // The engine goes: the balloons lose their clumps, but stay with the avatars that hold
  // them until those destroy them.
  for (balloon* b = s.list; b; b = b->next) {
    if (b->clump) VxDestroyClump(b->clump);
    b->clump = nullptr;
    b->placed = 0;
  }
  if (s.templ) VxDestroyClump(s.templ);
  gdi_delete_font(s.font);
  balloon* kept = s.list;
  s = balloon_state{};
  s.list = kept;
}

balloon* balloon_create() {
  auto* b = static_cast<balloon*>(std::calloc(1, sizeof(balloon)));
  if (!b) return nullptr;
  b->clump = s.templ ? VxDuplicateClump(s.templ) : nullptr;
  b->next = s.list;
  s.list = b;
  return b;
}

void balloon_destroy(balloon* b) {
  if (!b) return;
  for (balloon** p = &s.list; *p; p = &(*p)->next)
    if (*p == b) {
      *p = b->next;
      break;
    }
  // A deferred box of this balloon must not be painted after it is gone.
  for (int i = 0; i < s.deferred_count; ++i)
    if (s.deferred[i] == b) s.deferred[i] = nullptr;
  if (b->clump) VxDestroyClump(b->clump);
  std::free(b->text);
  std::free(b);
}

void balloon_set_text(balloon* b, const char* format, ...) {
  if (!b) return;
  char buffer[BALLOON_TEXT];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(buffer, sizeof buffer, format ? format : "", ap);
  va_end(ap);
  std::free(b->text);
  // Chat and names come from peers: drawn as their own characters, never as control bytes.
  b->text = strdup(text_printable(buffer, true).c_str());
}

void balloon_set_position(balloon* b, const VxMatrix* m) {
  if (!b || !b->clump || !m) return;
  VxTransformClump(b->clump, m, VX_REPLACE);
  b->placed = 1;
}

int balloon_update() {
  s.drawn = 0;
  if (!s.list) return 0;
  if (tessel_in_background()) return 1;
  s.deferred_count = 0;
  auto* dc = static_cast<GdiDc*>(camera_get_dc());
  VxCamera* camera = camera_get_main();
  if (!dc || !camera) return 1;
  GdiFont* old = gdi_select_font(dc, font());
  gdi_set_bk_mode(dc, kBkTransparent);
  bool half = camera_using_half();
  for (balloon* b = s.list; b; b = b->next) {
    if (!b->placed || !b->clump) continue;
    VxScreenVertex v{};
    if (!VxProjectClumpVertex(b->clump, 1, camera, &v) || !v.visible) continue;
    b->box = GdiRect{v.x - 40, v.y - 32, v.x + 40, v.y + 32};
    if (half) {
      if (s.deferred_count < BALLOON_DEFERRED) s.deferred[s.deferred_count++] = b;
    } else {
      draw(dc, b);
      ++s.drawn;
    }
  }
  gdi_select_font(dc, old);
  camera_release_dc();
  camera_invalidate();
  return 1;
}

int balloon_manual_draw(GdiDc* dc) {
  if (!dc) return 0;
  GdiFont* old = gdi_select_font(dc, font());
  gdi_set_bk_mode(dc, kBkTransparent);
  int n = 0;
  for (int i = 0; i < s.deferred_count; ++i)
    if (s.deferred[i]) draw(dc, s.deferred[i]), ++n;
  gdi_select_font(dc, old);
  return n;
}

int balloon_count() {
  int n = 0;
  for (balloon* b = s.list; b; b = b->next) ++n;
  return n;
}
const char* balloon_text(const balloon* b) { return b && b->text ? b->text : ""; }
int balloon_drawn() { return s.drawn; }
