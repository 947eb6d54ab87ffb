#include "client/shell/slider.h"

#include <cmath>

#include "client/core/log.h"
#include "client/core/profile.h"
#include "client/core/settings.h"

SplitterView::~SplitterView() = default;

slider_hooks slider_hook{};

namespace {

SplitterView* view = nullptr;
bool hovering = false;  // the pointer is over the horizontal splitter

struct horizontal {
  int left = 0, right = 0;
  int position = 300;
  bool dragging = false;
  int drawn = 0;  // last drawn y, 0: none
  int minimum = 0, maximum = 0;
  int client_height = 0;
  // Where the splitter sits between the top room and the status bar, 0 to 1, as the user last
  // left it; a resized window puts it there again. Below 0: not known before the first layout.
  double share = -1;
};
struct vertical {
  int tabx = 165, webx = 475;
  int top = 0, bottom = 0, width = 0;
  enum Which { NONE, TAB, WEB } dragging = NONE;
  int drawn = 0;
  int minimum = 0, maximum = 0;
  // The splitters' places as parts of the client width, as the user last left them.
  double tab_share = -1, web_share = -1;
};
horizontal h;
vertical v;

int top_room() { return slider_hook.top_height ? slider_hook.top_height() : 0; }
int bottom_room() { return slider_hook.bottom_height ? slider_hook.bottom_height() : 0; }
bool web_shown() { return slider_hook.web_shown && slider_hook.web_shown(); }
void relayout() {
  if (slider_hook.relayout) slider_hook.relayout();
}

int clamp(int x, int lo, int hi) {
  // Limits that crossed (a tiny window): the lower one wins, so the result stays stable.
  if (x > hi) x = hi;
  if (x < lo) x = lo;
  return x;
}

double part(int x, int whole) { return whole > 0 ? static_cast<double>(x) / whole : -1; }
int of(double share, int whole) { return static_cast<int>(std::lround(share * whole)); }

// No splitter lies left of or above the window: a negative position (absent reads -1) is
// no position, and the pane starts where it does without one.
int stored(const char* key, int fallback) {
  int n = layout_setting(key);
  return n < 0 ? fallback : n;
}

}  // namespace

void slider_set_view(SplitterView* sv) { view = sv; }

void slider_init() {
  if (trace_switches[TRACE_GENERAL]) log_write("slider_init");
  h = horizontal{};
  h.position = stored("chaty", 300);
}

int slider_begin(int y) {
  if (!view || y < h.position - 2 || y > h.position + 1) return 0;
  view->capture();
  h.dragging = true;
  h.drawn = 0;
  h.minimum = top_room() + SLIDER_TOP_ROOM;
  h.maximum = h.client_height - bottom_room() - 30;
  return 1;
}

int slider_limit(int left, int right, int client_height) {
  h.left = left;
  h.right = right;
  int top = top_room(), room = client_height - bottom_room() - top;
  // A window of a new height: the splitter keeps its share of the room, whatever clamping a
  // smaller window forced on it meanwhile.
  bool resized = h.share >= 0 && client_height != h.client_height && room > 0;
  if (resized) h.position = top + of(h.share, room);
  h.client_height = client_height;
  int low = top + SLIDER_TOP_ROOM;
  int high = client_height - bottom_room() - 45;
  if (h.position > high) h.position = high;
  if (h.position < low) h.position = low;
  if (h.share < 0 && room > 0) h.share = part(h.position - top, room);
  // Kept, so that the next start in a window of this size finds the same place.
  if (resized) profile_set_int("layout", "chaty", h.position);
  return h.position;
}

// The layout's own placing (a camera smaller than asked for): the user's share stays, so the
// next window size is laid out from what the user chose, not from this.
void slider_set(int y) {
  h.position = y;
  profile_set_int("layout", "chaty", y);
}

void slider_release() {
  if (h.dragging && view) view->release();
}

void slider_end() {
  if (!h.dragging) return;
  h.dragging = false;
  if (view && h.drawn) view->bar(false, 0, 0, 0, 0);
  int x = 0, y = h.position;
  if (view) view->pointer(&x, &y);
  h.position = clamp(y, h.minimum, h.maximum);
  h.drawn = 0;
  int top = top_room();
  double share = part(h.position - top, h.client_height - bottom_room() - top);
  if (share >= 0) h.share = share;
  profile_set_int("layout", "chaty", h.position);
  relayout();
}

int slider_update() {
  if (!view) return 0;
  int x = 0, y = 0;
  view->pointer(&x, &y);
  if (!h.dragging) {
    hovering = y >= h.position - 2 && y <= h.position + 1 && x >= h.left && x <= h.right;
    if (hovering) view->cursor(SplitterView::SIZE_NS);
    return 0;
  }
  y = clamp(y, h.minimum, h.maximum);
  if (y != h.drawn) {
    view->bar(true, h.left, y - 2, h.right, y + 2);
    h.drawn = y;
  }
  return 1;
}

int slider_position() { return h.position; }

void vslider_init() {
  if (trace_switches[TRACE_GENERAL]) log_write("vslider_init");
  v = vertical{};
  v.tabx = stored("tabx", 165);
  v.webx = stored("webx", 475);
}

int vslider_begin(int x) {
  if (!view) return 0;
  if (x >= v.tabx - 2 && x <= v.tabx + 1) {
    v.dragging = vertical::TAB;
    v.minimum = 20;
    v.maximum = web_shown() ? v.webx - 20 : v.width - 20;
  } else if (web_shown() && x >= v.webx - 2 && x <= v.webx + 1) {
    v.dragging = vertical::WEB;
    v.minimum = v.tabx + 20;
    v.maximum = v.width - 20;
  } else {
    return 0;
  }
  view->capture();
  v.drawn = 0;
  return 1;
}

void vslider_limit(int top, int bottom, int client_width, int* tabx, int* webx) {
  v.top = top;
  v.bottom = bottom;
  bool resized = v.tab_share >= 0 && client_width != v.width && client_width > 0;
  if (resized) {
    v.tabx = of(v.tab_share, client_width);
    v.webx = of(v.web_share, client_width);
  }
  v.width = client_width;
  // Whatever was stored, the panes get the room a drag would leave them: the tab splitter 20
  // pixels inside the window, the 3D view at least 20 pixels wide left of the web pane's.
  if (v.tabx < 20) v.tabx = 20;
  if (v.tabx > client_width - 20) v.tabx = client_width - 20;
  if (web_shown() && v.webx < v.tabx + 20) v.webx = v.tabx + 20;
  if (v.webx > client_width - 20) v.webx = client_width - 20;
  // Without the web pane its splitter does not hold the tab splitter back: the tab pane may
  // reach 20 pixels from the right edge, as far as a drag may take it.
  int tab_limit = web_shown() ? v.webx - 20 : client_width - 20;
  if (v.tabx > tab_limit) v.tabx = tab_limit;
  // A window narrower than both limits: the splitters stay inside it, in their order.
  if (v.tabx < 0) v.tabx = 0;
  if (v.webx < 0) v.webx = 0;
  if (web_shown() && v.webx < v.tabx) v.webx = v.tabx;
  if (v.tab_share < 0 && client_width > 0) {
    v.tab_share = part(v.tabx, client_width);
    v.web_share = part(v.webx, client_width);
  }
  if (resized) {
    profile_set_int("layout", "tabx", v.tabx);
    profile_set_int("layout", "webx", v.webx);
  }
  if (tabx) *tabx = v.tabx;
  if (webx) *webx = v.webx;
}

// As slider_set: the shares stay the user's.
void vslider_set(int tabx, int webx) {
  v.tabx = tabx;
  v.webx = webx;
  profile_set_int("layout", "tabx", tabx);
  profile_set_int("layout", "webx", webx);
}

void vslider_release() {
  if (v.dragging != vertical::NONE && view) view->release();
}

void vslider_end() {
  if (v.dragging == vertical::NONE) return;
  vertical::Which which = v.dragging;
  v.dragging = vertical::NONE;
  if (view && v.drawn) view->bar(false, 0, 0, 0, 0);
  int x = which == vertical::TAB ? v.tabx : v.webx, y = 0;
  if (view) view->pointer(&x, &y);
  x = clamp(x, v.minimum, v.maximum);
  v.drawn = 0;
  if (which == vertical::TAB) {
    v.tabx = x;
    if (v.width > 0) v.tab_share = part(x, v.width);
    profile_set_int("layout", "tabx", x);
  } else {
    v.webx = x;
    if (v.width > 0) v.web_share = part(x, v.width);
    profile_set_int("layout", "webx", x);
  }
  relayout();
}

int vslider_update() {
  if (!view) return 0;
  int x = 0, y = 0;
  view->pointer(&x, &y);
  if (v.dragging == vertical::NONE) {
    bool over = (x >= v.tabx - 2 && x <= v.tabx + 1) || (web_shown() && x >= v.webx - 2 && x <= v.webx + 1);
    if (over && y > v.top && y < v.bottom)
      view->cursor(SplitterView::SIZE_WE);
    else if (!hovering)
      view->cursor(SplitterView::ARROW);
    return 0;
  }
  x = clamp(x, v.minimum, v.maximum);
  if (x != v.drawn) {
    view->bar(true, x - 2, v.top, x + 2, v.bottom);
    v.drawn = x;
  }
  return 1;
}

int vslider_tabx() { return v.tabx; }
int vslider_webx() { return v.webx; }

void slider_reset() {
  h = horizontal{};
  v = vertical{};
  slider_hook = slider_hooks{};
}
