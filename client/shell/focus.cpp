#include "client/shell/focus.h"

#include <cstring>
#include <string>

#include "client/core/log.h"
#include "client/core/tessel.h"
#include "client/core/tick.h"
#include "client/scene/camera.h"
#include "client/scene/element.h"
#include "client/scene/pick.h"
#include "client/scene/scene.h"
#include "client/scene/visible.h"
#include "client/shell/mouse.h"
#include "engine/vxl21.h"

FocusView::~FocusView() = default;

namespace {

struct state {
  VxClump* clump = nullptr;
  std::string caption;
  uint32_t taken = 0;
  int last_x = -1, last_y = -1;
  int caption_x = 0, caption_y = 0;
  bool positioned = false;
  bool shown = false;
  VxReal view[16] = {};  // the camera's matrix at the last pick
  bool have_view = false;
};
state s;
FocusView* view = nullptr;

void none() {
  s.caption.clear();
  if (s.shown && view) view->hide();
  s.shown = false;
}

}  // namespace

void focus_set_view(FocusView* v) { view = v; }

void focus_init() {
  if (trace_switches[TRACE_GENERAL]) log_write("focus_init");
  s = state{};
}

void focus_update() {
  if (trace_frames()) log_write("focus_update");
  uint32_t now = tick_now();
  if (pick_has_selection() || tessel_in_background()) {
    none();
    return;
  }
  int ox = 0, oy = 0, ow = 0, oh = 0;
  VxReal camera[16] = {};
  bool have_view = false;
  if (VxCamera* c = camera_get_main()) {
    VxGetCameraViewport(c, &ox, &oy, &ow, &oh);
    VxMatrix* m = VxPushScratchMatrix();
    have_view = m && VxGetCameraMatrix(c, m) && VxGetMatrixElements(m, camera);
    if (m) VxPopScratchMatrix();
  }
  // A view that moved under a still pointer shows something else there.
  bool view_moved = have_view != s.have_view || (have_view && std::memcmp(camera, s.view, sizeof camera) != 0);
  VxClump* clump = s.clump;
  int x = s.last_x, y = s.last_y;
  if (mouse_is_picker() && !camera_moving()) {
    mouse_position(&x, &y);
    if (s.caption.empty() || x != s.last_x || y != s.last_y || view_moved) {
      clump = scene_pick(x, y);
      s.last_x = x;
      s.last_y = y;
      std::memcpy(s.view, camera, sizeof camera);
      s.have_view = have_view;
    }
  } else if (view_moved && !s.caption.empty()) {
    // Nothing can be picked now: a caption of what was there goes.
    clump = nullptr;
  }
  element* e = clump ? visible_element(clump) : nullptr;
  if (!e) {
    none();
    s.clump = nullptr;
    return;
  }
  if (!s.caption.empty() && now - s.taken > FOCUS_DELAY) {
    if (!s.positioned) {
      s.caption_x = s.last_x - ox + FOCUS_OFFSET;
      s.caption_y = s.last_y - oy + FOCUS_OFFSET;
      s.positioned = true;
    }
    if (view) view->show(s.caption.c_str(), s.caption_x, s.caption_y);
    s.shown = true;
  }
  if (clump == s.clump) return;
  // Onto another object: its description, after its own wait.
  if (s.shown && view) view->hide();
  s.shown = false;
  const char* d = element_description(e);
  s.caption = d ? d : "";
  s.taken = now;
  s.positioned = false;
  s.clump = clump;
}

const char* focus_caption() { return s.caption.c_str(); }
bool focus_positioned() { return s.positioned; }
void focus_reset() {
  s = state{};
}
