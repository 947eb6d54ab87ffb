#include "client/shell/view_click.h"

#include <strings.h>

#include <cstring>

#include "client/core/log.h"
#include "client/core/tessel.h"
#include "client/scene/behavior.h"
#include "client/scene/element.h"
#include "client/scene/pick.h"
#include "client/scene/scene.h"
#include "client/scene/visible.h"
#include "platform/host.h"

view_click_hooks view_click_hook{};

namespace {

bool mover() { return view_click_hook.mouse_is_mover && view_click_hook.mouse_is_mover(); }

}  // namespace

bool viewport_action_is_address(const char* action) {
  if (!action || !*action) return false;
  if (std::strchr(action, ' ')) return false;
  return strncasecmp(action, "sound:", 6) != 0;
}

void viewport_click(int x, int y) {
  if (trace_switches[TRACE_GENERAL]) log_write("viewport_click (%d, %d)", x, y);
  host()->window_focus();
  if (mover()) {
    if (view_click_hook.mouse_as_picker) view_click_hook.mouse_as_picker();
    return;
  }
  VxClump* clump = scene_pick(x, y);
  element* e = clump ? visible_element(clump) : nullptr;
  if (!e) {
    pick_off();
    return;
  }
  if (behavior_trigger(e, "activate")) return;
  const char* action = element_action(e);
  if (viewport_action_is_address(action) && view_click_hook.web_navigate)
    view_click_hook.web_navigate(action, 0);
}

void viewport_right_click(int x, int y) {
  if (trace_switches[TRACE_GENERAL]) log_write("viewport_right_click (%d, %d)", x, y);
  host()->window_focus();
  if (mover()) return;
  if (view_click_hook.avatar_popup_menu && view_click_hook.avatar_popup_menu(x, y)) return;
  pick_at(x, y);
}
