#include "client/shell/mouse.h"

#include "client/core/log.h"
#include "client/scene/behavior.h"
#include "client/scene/self.h"
#include "client/shell/toolbar.h"
#include "client/shell/view_click.h"

PointerView::~PointerView() = default;

namespace {

PointerView* view = nullptr;
int mode = MOUSE_PICKER;
bool hidden = false;  // the pointer is hidden and its old position saved
int saved_x = 0, saved_y = 0;
int centre_x = 0, centre_y = 0;

void centre() {
  if (!view) return;
  int l = 0, t = 0, r = 0, b = 0;
  view->viewport_rect(&l, &t, &r, &b);
  centre_x = (l + r) / 2;
  centre_y = (t + b) / 2;
  view->set_position(centre_x, centre_y);
}

}  // namespace

void mouse_set_view(PointerView* v) { view = v; }

void mouse_init() {
  if (trace_switches[TRACE_GENERAL]) log_write("mouse_init");
  mode = MOUSE_PICKER;
  hidden = false;
  toolbar_enable(118);
  self_hook.mouse_is_mover = mouse_is_mover;
  self_hook.mouse_delta = mouse_delta;
  behavior_hook.mouse_is_mover = mouse_is_mover;
  behavior_hook.mouse_is_picker = mouse_is_picker;
  behavior_hook.mouse_as_picker = mouse_as_picker;
  view_click_hook.mouse_is_mover = mouse_is_mover;
  view_click_hook.mouse_as_picker = mouse_as_picker;
}

void mouse_as_mover() {
  if (mode == MOUSE_MOVER) return;
  toolbar_check(118);
  mode = MOUSE_MOVER;
  mouse_activate();
}

void mouse_as_picker() {
  if (mode != MOUSE_MOVER) return;
  toolbar_uncheck(118);
  mouse_deactivate();
  mode = MOUSE_PICKER;
}

// Activation may come more than once (window and program both): the saved position is
// taken only when the pointer is not hidden already, so the way back is never lost.
void mouse_activate() {
  if (mode != MOUSE_MOVER || !view) return;
  if (!hidden) {
    view->position(&saved_x, &saved_y);
    view->show(false);
    hidden = true;
  }
  centre();
}

void mouse_deactivate() {
  if (mode != MOUSE_MOVER || !view || !hidden) return;
  view->set_position(saved_x, saved_y);
  view->show(true);
  hidden = false;
}

int mouse_is_mover() { return mode == MOUSE_MOVER; }
int mouse_is_picker() { return mode == MOUSE_PICKER; }

void mouse_delta(int* turn, int* forward) {
  int x = centre_x, y = centre_y;
  if (view) view->position(&x, &y);
  if (turn) *turn = centre_x - x;
  if (forward) *forward = centre_y - y;
  centre();
}

void mouse_position(int* x, int* y) {
  int px = 0, py = 0, l = 0, t = 0, r = 0, b = 0;
  if (view) {
    view->position(&px, &py);
    view->viewport_rect(&l, &t, &r, &b);
  }
  if (x) *x = px - l;
  if (y) *y = py - t;
}

void mouse_reset() {
  mode = MOUSE_PICKER;
  hidden = false;
  saved_x = saved_y = centre_x = centre_y = 0;
  if (self_hook.mouse_is_mover == mouse_is_mover) self_hook.mouse_is_mover = nullptr;
  if (self_hook.mouse_delta == mouse_delta) self_hook.mouse_delta = nullptr;
  if (behavior_hook.mouse_is_mover == mouse_is_mover) behavior_hook.mouse_is_mover = nullptr;
  if (behavior_hook.mouse_is_picker == mouse_is_picker) behavior_hook.mouse_is_picker = nullptr;
  if (behavior_hook.mouse_as_picker == mouse_as_picker) behavior_hook.mouse_as_picker = nullptr;
  if (view_click_hook.mouse_is_mover == mouse_is_mover) view_click_hook.mouse_is_mover = nullptr;
  if (view_click_hook.mouse_as_picker == mouse_as_picker) view_click_hook.mouse_as_picker = nullptr;
}
