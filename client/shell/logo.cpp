#include "client/shell/logo.h"

#include "client/cache/http.h"
#include "client/cache/image.h"
#include "client/core/log.h"
#include "client/scene/prop.h"
#include "client/servers/world.h"
#include "client/shell/web.h"
#include "platform/clock.h"

LogoView::~LogoView() = default;

namespace {

struct state {
  LogoView* view = nullptr;
  int frame = 0;
  uint32_t next = 0;
  bool started = false;
  bool idle_drawn = false;
};
state s;
logo_view_maker maker = nullptr;

void draw() {
  if (s.view) s.view->show_frame(s.frame);
}

}  // namespace

void logo_set_view_maker(logo_view_maker m) { maker = m; }

void logo_view_destroyed(LogoView* view) {
  if (s.view == view) s.view = nullptr;
}

int icon_init() {
  if (trace_switches[TRACE_GENERAL]) log_write("icon_init");
  s.view = maker ? maker() : nullptr;
  if (maker && !s.view) return 0;
  draw();
  return 1;
}

void logo_size(int right) {
  if (!s.view) return;
  s.view->move(right - LOGO_SIZE, LOGO_TOP, LOGO_SIZE, LOGO_SIZE);
  draw();
}

bool logo_busy() {
  return http_busy() || image_busy() || web_is_busy() || prop_busy() || !world_connected();
}

void logo_update() {
  uint32_t now = platform_ticks();
  if (s.started && tick_before(now, s.next)) return;
  s.started = true;
  s.next = now + LOGO_STEP_MS;
  if (logo_busy()) {
    s.frame = (s.frame + 1) % LOGO_FRAMES;
    draw();
    s.idle_drawn = false;
  } else if (!s.idle_drawn) {
    s.frame = LOGO_IDLE_FRAME;
    draw();
    s.idle_drawn = true;
  }
}

int logo_frame() { return s.frame; }
bool logo_idle_drawn() { return s.idle_drawn; }

void logo_reset() { s = state{}; }
