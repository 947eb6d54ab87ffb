#include "client/scene/sign.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/core/lists.h"
#include "client/core/log.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/strutil.h"
#include "client/core/tick.h"
#include "client/scene/behavior.h"
#include "client/scene/color.h"
#include "client/scene/model.h"
#include "engine/vxl21.h"
#include "platform/gdi.h"
#include "platform/text.h"

struct sign {
  sign* next;
  char* text;
  uint32_t colour, background;
  model_instance* object;
  int queued;
  VxTexture* texture;
};

namespace {

constexpr unsigned kMeasure = kDtCalcRect | kDtNoPrefix | kDtNoClip | kDtWordBreak | kDtCenter;
constexpr unsigned kDraw = kDtNoPrefix | kDtNoClip | kDtWordBreak | kDtCenter;
constexpr int kHeightLimit = 16384;  // the largest bitmap the platform makes

struct sign_state {
  GdiDc* dc = nullptr;
  GdiFont* font = nullptr;
  int64_t largest = 131072;
  int step = 18, start = 72;
  sign* head = nullptr;
  sign* tail = nullptr;
  bool drew = false;
  uint32_t last = 0;
  // One drawing.
  sign* current = nullptr;
  VxTexture* made = nullptr;
};
sign_state s;

void enqueue(sign* g) {
  g->queued = 1;
  list_append(s.head, s.tail, g);
}

sign* dequeue() {
  sign* g = s.head;
  if (!g) return nullptr;
  s.head = g->next;
  if (!s.head) s.tail = nullptr;
  g->next = nullptr;
  g->queued = 0;
  return g;
}

void free_sign(sign* g) {
  if (g->texture) VxDestroyTexture(g->texture);
  std::free(g->text);
  std::free(g);
}

uint32_t parse_colour(const char* name, uint32_t fallback) {
  if (!name || !*name) return fallback;
  std::string copy(name);
  return color_parse(copy.data());
}

void measure(const char* text, int width, int* w, int* h) {
  GdiRect r{0, 0, width, 0};
  gdi_draw_text(s.dc, text, -1, &r, kMeasure);
  *w = r.right - r.left;
  *h = r.bottom - r.top;
}

RgbQuad quad(uint32_t c) {
  return RgbQuad{static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c), 0};
}

// The text on a bitmap shaped by aspect (width / height): a raster, or null.
VxRaster* render(const sign* g, double aspect) {
  int w = 0, h = 0;
  sign_fit(g->text, aspect, &w, &h);
  int mx = std::max(1, w / 50), my = std::max(1, h / 50);
  int bw = w + 2 * mx, bh = h + 2 * my;
  struct {
    BitmapInfoHeader h;
    RgbQuad colours[256];
  } info{};
  info.h.size = 40;
  info.h.width = bw;
  info.h.height = -bh;  // top down
  info.h.planes = 1;
  info.h.bit_count = 8;
  info.h.colours_used = 2;
  info.colours[0] = quad(g->background);
  info.colours[1] = quad(g->colour);
  uint8_t* bits = nullptr;
  GdiObject* bitmap = gdi_create_dib_section(s.dc, &info, kDibRgbColours, &bits, nullptr, 0);
  if (!bitmap || !bits) {
    log_write("sign: no bitmap of %d x %d", bw, bh);
    if (bitmap) gdi_delete_object(bitmap);
    return nullptr;
  }
  GdiObject* old = gdi_select_object(s.dc, bitmap);
  GdiRect all{0, 0, bw, bh};
  gdi_fill_rect(s.dc, &all, g->background);
  int tw = 0, th = 0;
  measure(g->text, w, &tw, &th);
  GdiRect place{mx, th < bh ? (bh - th) / 2 : my, bw - mx, bh};
  gdi_set_text_colour(s.dc, g->colour);
  gdi_draw_text(s.dc, g->text, -1, &place, kDraw);
  gdi_flush();
  VxDib dib{bw, bh, 8, ((bw + 3) / 4) * 4, 0, bits, reinterpret_cast<const unsigned char*>(info.colours), 2};
  VxBitmapSource source{s.dc, &dib};
  VxRaster* raster = VxCreateRasterFromBitmap(&source, 5);
  gdi_select_object(s.dc, old);
  gdi_delete_object(bitmap);
  return raster;
}

struct pass {
  sign* g;
  VxTexture* made;
  VxClump* clump;
};

void face(VxPolygon* polygon, void* arg) {
  auto* p = static_cast<pass*>(arg);
  if (VxGetPolygonTag(polygon) != SIGN_TAG) return;
  if (p->made) {
    VxSetPolygonTexture(polygon, p->made);
    return;
  }
  if (VxGetPolygonNumVertices(polygon) != 4) return;
  int numbers[4] = {};
  VxGetPolygonVertexIndices(polygon, numbers);
  VxVector a{}, c{};
  if (!VxGetClumpVertex(p->clump, numbers[0], &a) || !VxGetClumpVertex(p->clump, numbers[2], &c)) return;
  double height = std::fabs(a.y - c.y);
  double width = std::hypot(a.x - c.x, a.z - c.z);
  // A face without height or without width has no shape to fit a text to.
  if (height < 0.00001 || width < 0.00001) return;
  double aspect = std::min(width / height, SIGN_ASPECT_MAX);
  VxRaster* raster = render(p->g, aspect);
  if (!raster) return;
  VxTexture* t = VxCreateTexture(raster);
  if (!t) {
    VxDestroyRaster(raster);
    return;
  }
  VxSetPolygonTexture(polygon, t);
  p->made = t;
}

void clear_face(VxPolygon* polygon, void*) {
  if (VxGetPolygonTag(polygon) == SIGN_TAG) VxSetPolygonTexture(polygon, nullptr);
}

}  // namespace

void sign_init() {
  behavior_hook.sign_create = sign_create;
  model_hook.sign_destroy = sign_release;
  model_hook.sign_redraw = sign_requeue;
  if (s.dc) return;
  s.dc = gdi_create_compatible_dc(nullptr);
  bool high = perform_hr() == 1;
  s.font = gdi_create_font(high ? 72 : 36, 600, "Arial");
  s.largest = high ? 524288 : 131072;
  if (s.dc) {
    gdi_select_font(s.dc, s.font);
    gdi_set_bk_mode(s.dc, kBkTransparent);
  }
  int w = 0, h = 0;
  measure("X", 1000, &w, &h);
  if (h <= 0) h = high ? 72 : 36;
  s.step = std::max(1, h / 2);
  s.start = h * 2;
}

void sign_term() {
  // Records still waiting are dropped; the objects they belonged to forget them.
  while (sign* g = dequeue()) {
    if (g->object && g->object->sign == g) g->object->sign = nullptr;
    free_sign(g);
  }
  if (s.dc) gdi_delete_dc(s.dc);
  gdi_delete_font(s.font);
  s = sign_state{};
}

void sign_fit(const char* text, double aspect, int* width, int* height) {
  if (!(aspect > 0)) aspect = 1.0 / kHeightLimit;
  int h = s.start, w = 1;
  for (;;) {
    w = static_cast<int>(h * aspect);
    int tw = 0, th = 0;
    measure(text ? text : "", w, &tw, &th);
    if (tw <= w && th <= h) break;
    if (static_cast<int64_t>(w) * h > s.largest || h >= kHeightLimit) break;
    h += s.step;
  }
  if (w < 1) w = 1;
  if (w & 1) ++w;
  *width = w;
  *height = std::min(h, kHeightLimit);
}

void sign_create(model_instance* object, const char* text, const char* colour, const char* background) {
  if (!object) return;
  auto* g = static_cast<sign*>(std::calloc(1, sizeof(sign)));
  if (!g) return;
  // Texts come from worlds: drawn as their own characters, never as control bytes.
  g->text = strdup(text_printable(text, true).c_str());
  g->colour = parse_colour(colour, SIGN_TEXT_DEFAULT);
  g->background = parse_colour(background, SIGN_BACKGROUND_DEFAULT);
  g->object = object;
  enqueue(g);
  model_set_sign(object, g);
}

void sign_update() {
  if (!s.head) return;
  uint32_t now = tick_now();
  if (s.drew && static_cast<int32_t>(now - s.last) < static_cast<int32_t>(SIGN_INTERVAL)) return;
  sign* g = dequeue();
  if (!g->object) {
    free_sign(g);
    return;
  }
  if (g->texture) VxDestroyTexture(g->texture);
  g->texture = nullptr;
  VxClump* clump = model_clump(g->object);
  if (clump && s.dc) {
    pass p{g, nullptr, clump};
    VxForAllPolygonsInClumpWithArg(clump, face, &p);
    g->texture = p.made;
  }
  s.drew = true;
  s.last = now;
}

void sign_requeue(sign* g) {
  if (g && !g->queued) enqueue(g);
}

void sign_release(sign* g) {
  if (!g) return;
  if (g->object) {
    if (VxClump* clump = model_clump(g->object)) VxForAllPolygonsInClumpWithArg(clump, clear_face, nullptr);
  }
  if (g->texture) VxDestroyTexture(g->texture);
  g->texture = nullptr;
  if (g->queued) {
    g->object = nullptr;  // freed when the queue reaches it
  } else {
    std::free(g->text);
    std::free(g);
  }
}

VxTexture* sign_texture(const sign* g) { return g ? g->texture : nullptr; }
const char* sign_text(const sign* g) { return g && g->text ? g->text : ""; }
uint32_t sign_colour(const sign* g) { return g ? g->colour : 0; }
uint32_t sign_background(const sign* g) { return g ? g->background : 0; }
int sign_queue_length() { return list_count(s.head); }
void sign_reset_for_test() { sign_term(); }
