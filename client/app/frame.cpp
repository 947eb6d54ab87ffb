#include "client/app/frame.h"

#include "client/cache/disk.h"
#include "client/cache/download.h"
#include "client/cache/http.h"
#include "client/cache/image.h"
#include "client/cache/picture.h"
#include "client/servers/about.h"
#include "client/app/command.h"
#include "client/core/keys.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/tessel.h"
#include "client/core/tick.h"
#include "client/scene/animate.h"
#include "client/scene/avatar.h"
#include "client/scene/backdrop.h"
#include "client/scene/behavior.h"
#include "client/scene/camera.h"
#include "client/scene/display_viewport.h"
#include "client/scene/element.h"
#include "client/scene/prop.h"
#include "client/scene/visible.h"
#include "client/scene/scene.h"
#include "client/scene/pick.h"
#include "client/scene/self.h"
#include "client/scene/sound.h"
#include "client/servers/join.h"
#include "client/servers/login.h"
#include "client/servers/teleport.h"
#include "client/servers/worlds.h"
#include "client/servers/universe.h"
#include "client/servers/world.h"
#include "client/shell/contacts.h"
#include "client/shell/telegram.h"
#include "client/shell/status.h"
#include "client/shell/logo.h"
#include "client/shell/tab.h"
#include "client/shell/focus.h"
#include "client/shell/gesture.h"
#include "client/shell/mouse.h"
#include "client/shell/slider.h"
#include "client/shell/toolbar.h"
#include "client/scene/balloon.h"
#include "client/scene/sign.h"
#include "client/shell/chat.h"
#include "client/shell/console.h"
#include "client/shell/meters.h"
#include "client/shell/web.h"
#include "platform/host.h"

namespace {

void tick_task() { tick_update(); }
void universe_task() { universe_update(); }
void camera_begin_task() { camera_begin_update(); }
void camera_end_task() { camera_end_update(); }
void balloon_task() { balloon_update(); }

}  // namespace

// The task table, called in this order every frame (name, update, flag):
//   tick tick_update 0, world world_update 1, prop prop_update 1, camera camera_update 1,
//   ground ground_update 0, backdrop backdrop_update 1, http http_update 1,
//   download download_update 1, visible visible_update 1, sound sound_update 1,
//   frame frame_update 1, sign sign_update 1, animate animation_update 1,
//   (none) camera_begin_update 0, scene scene_update 1, self self_update 1,
//   avatar avatar_frame_update 1, chat chat_update 0, pick pick_update 1,
//   (none) camera_end_update 0, focus focus_update 1, balloon balloon_update 1,
//   viewport viewport_update 1, fps fps_update 0, bps bps_update 0, behavior behavior_update 0,
//   disk disk_update 1, image image_update 1, picture picture_update 0, web web_update 0,
//   universe universe_update 0, telegram telegram_update 0, worlds worlds_update 0,
//   contacts contacts_update 0, join join_update 0, teleport teleport_update 0,
//   logo logo_update 0, vrt vrt_update 0.
// The 3D frame is drawn between camera_begin_update and camera_end_update.
const task_record task_table[] = {
    {"tick", tick_task, 0, {}},
    {"world", world_update, 1, {}},
    {"prop", prop_update, 1, {}},
    {"camera", camera_update, 1, {}},
    {"ground", ground_update, 0, {}},
    {"backdrop", backdrop_update, 1, {}},
    {"http", http_update, 1, {}},
    {"download", download_update, 1, {}},
    {"visible", visible_update, 1, {}},
    {"sound", sound_update, 1, {}},
    {"frame", frame_update, 1, {}},
    {"sign", sign_update, 1, {}},
    {"animate", animation_update, 1, {}},
    {nullptr, camera_begin_task, 0, {}},
    {"scene", scene_update, 1, {}},
    {"self", self_update, 1, {}},
    {"avatar", avatar_frame_update, 1, {}},
    {"chat", chat_update, 0, {}},
    {"pick", pick_update, 1, {}},
    {nullptr, camera_end_task, 0, {}},
    {"focus", focus_update, 1, {}},
    {"balloon", balloon_task, 1, {}},
    {"viewport", viewport_update, 1, {}},
    {"fps", fps_update, 0, {}},
    {"bps", bps_update, 0, {}},
    {"behavior", behavior_update, 0, {}},
    {"disk", disk_update, 1, {}},
    {"image", image_update, 1, {}},
    {"picture", picture_update, 0, {}},
    {"web", web_update, 0, {}},
    {"universe", universe_task, 0, {}},
    {"telegram", telegram_update, 0, {}},
    {"worlds", worlds_update, 0, {}},
    {"contacts", contacts_update, 0, {}},
    {"join", join_update, 0, {}},
    {"teleport", teleport_update, 0, {}},
    {"logo", logo_update, 0, {}},
    {"vrt", vrt_update, 0, {}},
};
const char* const task_update_names[] = {
    "tick_update",
    "world_update",
    "prop_update",
    "camera_update",
    "ground_update",
    "backdrop_update",
    "http_update",
    "download_update",
    "visible_update",
    "sound_update",
    "frame_update",
    "sign_update",
    "animation_update",
    "camera_begin_update",
    "scene_update",
    "self_update",
    "avatar_frame_update",
    "chat_update",
    "pick_update",
    "camera_end_update",
    "focus_update",
    "balloon_update",
    "viewport_update",
    "fps_update",
    "bps_update",
    "behavior_update",
    "disk_update",
    "image_update",
    "picture_update",
    "web_update",
    "universe_update",
    "telegram_update",
    "worlds_update",
    "contacts_update",
    "join_update",
    "teleport_update",
    "logo_update",
    "vrt_update",
};
const size_t task_count = sizeof task_table / sizeof task_table[0];
static_assert(sizeof task_table / sizeof task_table[0] ==
                  sizeof task_update_names / sizeof task_update_names[0],
              "every row has its update's name");
static_assert(sizeof task_table / sizeof task_table[0] <= 38, "the table has 38 rows at most");

namespace {

// The universe connection and the login, filled in as those modules join the program:
// {universe_update, universe_connected, universe_logged_in, login_auto, login_done,
//  login_last_result, login, slider_update, vslider_update}.
bool slider_dragging() { return slider_update() != 0; }
bool vslider_dragging() { return vslider_update() != 0; }

const FrameLinks program_links = {universe_update, universe_connected, universe_logged_in,
                                  login_auto,      login_done,         login_last_result,
                                  login,           slider_dragging,    vslider_dragging};

const FrameLinks* links = &program_links;
const task_record* tasks = task_table;
size_t tasks_count = task_count;

bool busy = false;
int layout_width = 0, layout_height = 0;
int status_placed_height = 0;  // the client height the status bar was last placed for

bool tracing() { return trace_switches[TRACE_GENERAL] != 0; }

void universe_poll() {
  if (links->universe_update) links->universe_update();
}

int last_login_result() { return links->login_last_result ? links->login_last_result() : -1; }

// States 0, 1 and 3: Cancel on the splash box ends the program. True when it did.
bool splash_check() {
  if (!about_cancel_pressed()) return false;
  tessel_shutdown(nullptr);
  return true;
}

void run_tasks() {
  busy = true;
  for (size_t i = 0; i < tasks_count; ++i) {
    if (trace_switches[TRACE_TASKS] && tasks[i].name) log_write("task %s", tasks[i].name);
    tasks[i].update();
    // A row that ended the program (a fatal note) leaves the rest unrun: their modules are gone.
    if (tessel_frame_state() != FRAME_RUNNING) break;
  }
  busy = false;
}

}  // namespace

const FrameLinks& frame_links() { return *links; }
void frame_set_links(const FrameLinks* l) { links = l ? l : &program_links; }

void frame_set_tasks(const task_record* table, size_t count) {
  tasks = table ? table : task_table;
  tasks_count = table ? count : task_count;
}

bool frame_busy() { return busy; }

void tessel_frame() {
  if (busy || note_showing()) return;
  switch (tessel_frame_state()) {
    case FRAME_WAIT_UNIVERSE: {
      if (splash_check()) return;
      universe_poll();
      // A nested step (a dialog opened inside the poll) may have moved on already.
      if (tessel_frame_state() != FRAME_WAIT_UNIVERSE) return;
      if (links->universe_connected && links->universe_connected()) {
        about_set_message(msg(154));
        int r = links->login_auto ? links->login_auto() : 0;
        if (r) about_set_message(msg_arg(155, r));
        if (tessel_frame_state() == FRAME_WAIT_UNIVERSE) tessel_set_frame_state(FRAME_WAIT_LOGIN);
      }
      break;
    }
    case FRAME_WAIT_LOGIN: {
      if (splash_check()) return;
      universe_poll();
      if (tessel_frame_state() != FRAME_WAIT_LOGIN) return;
      if (!links->login_done || !links->login_done()) break;
      int r = last_login_result();
      if (r == 0) {
        tessel_set_frame_state(FRAME_START_3D);
      } else if (r == 407 || r == 408) {
        tessel_shutdown(nullptr);
      } else if (r == 431) {
        about_set_message(msg_arg(80, msg(68)));
        tessel_set_frame_state(FRAME_IDLE);
      } else {
        tessel_set_frame_state(FRAME_LOGIN_DIALOG);
        about_hide();
        if (links->login) links->login(0);
      }
      break;
    }
    case FRAME_LOGIN_DIALOG: {
      universe_poll();
      if (tessel_frame_state() != FRAME_LOGIN_DIALOG) return;
      int r = last_login_result();
      if (r == 0)
        tessel_set_frame_state(FRAME_START_3D);
      else if (r == 407)
        tessel_shutdown(nullptr);
      break;
    }
    case FRAME_IDLE:
      splash_check();
      break;
    case FRAME_START_3D: {
      busy = true;
      int ok = tessel_start_3d();
      busy = false;
      if (tessel_frame_state() != FRAME_SHUT_DOWN)
        tessel_set_frame_state(ok ? FRAME_RUNNING : FRAME_SHUT_DOWN);
      break;
    }
    case FRAME_RUNNING: {
      bool drag = false;
      if (links->slider_update && links->slider_update()) drag = true;
      if (!drag && links->vslider_update && links->vslider_update()) drag = true;
      if (drag) return;
      run_tasks();
      break;
    }
    default:
      break;  // shut down
  }
}

int frame_builder_command(int key, bool selection, bool* record) {
  if (record) *record = true;
  int command = 0;
  if (selection) {
    switch (key) {
      case VK_KEY_PRIOR: command = 116; break;
      case VK_KEY_NEXT: command = 117; break;
      case VK_KEY_LEFT: command = 114; break;
      case VK_KEY_UP: command = 112; break;
      case VK_KEY_RIGHT: command = 115; break;
      case VK_KEY_DOWN: command = 113; break;
      case VK_KEY_INSERT: command = 109; break;
      case VK_KEY_DELETE: command = 108; break;
      // The pad's plus and minus also stay recorded as held keys.
      case VK_KEY_ADD: return 110;
      case VK_KEY_SUBTRACT: return 111;
      default: break;
    }
  } else {
    switch (key) {
      case VK_KEY_PRIOR: command = 124; break;
      case VK_KEY_NEXT: command = 125; break;
      case VK_KEY_END: command = 127; break;
      case VK_KEY_HOME: command = 126; break;
      default: break;
    }
  }
  if (command && record) *record = false;
  return command;
}

long handle_window(const HostEvent& e) {
  // The frame timer's message comes twice a second for good: a line of the frames.
  if (e.message == HOST_WM_TIMER ? trace_frames() : tracing()) {
    log_write("handle_window: 0x%x, %d", static_cast<unsigned>(e.message), e.message);
    log_write("handle_window: 0x%x, %d", static_cast<unsigned>(e.message), e.message);
  }
  Host* h = host();
  switch (e.message) {
    case HOST_WM_DESTROY:
      // The pointer goes back where it was before the program ends.
      mouse_deactivate();
      tessel_quit();
      return 0;
    case HOST_WM_MOVE:
      if (!h->window_iconic() && !h->window_maximized()) {
        HostRect r = h->window_rect();
        profile_set_int("layout", "main_x", r.x);
        profile_set_int("layout", "main_y", r.y);
      }
      return 0;
    case HOST_WM_SIZE:
      if (e.wparam != HOST_SIZE_MINIMIZED) tessel_layout(e.x, e.y);
      return 0;
    case HOST_WM_ACTIVATE:
      e.wparam ? mouse_activate() : mouse_deactivate();
      return 0;
    case HOST_WM_ACTIVATEAPP:
      e.wparam ? mouse_activate() : mouse_deactivate();
      tessel_set_background(e.wparam == 0);
      return 0;
    case HOST_WM_KILLFOCUS:
      key_reset();
      return HOST_DEFAULT;
    case HOST_WM_KEYDOWN: {
      // The accelerator table comes first: a function key is a command, never a held key.
      // A greyed item's key is taken and does nothing.
      if (int id = menu_translate_accelerator(static_cast<int>(e.wparam)))
        return menu_is_enabled(id) ? handle_window(HostEvent{HOST_WM_COMMAND, id, 0, 0}) : 0;
      bool record = true;
      int command = frame_builder_command(static_cast<int>(e.wparam), pick_has_selection() != 0, &record);
      if (command) {
        h->post_event(HostEvent{HOST_WM_COMMAND, command, 0, 0});
        if (record) key_down(static_cast<unsigned>(e.wparam));
        return 0;
      }
      key_down(static_cast<unsigned>(e.wparam));
      return HOST_DEFAULT;
    }
    case HOST_WM_KEYUP:
    case HOST_WM_SYSKEYUP:
      key_up(static_cast<unsigned>(e.wparam));
      return HOST_DEFAULT;
    case HOST_WM_CHAR:
      if ((e.wparam == '-' && h->key_down(VK_KEY_SUBTRACT)) ||
          (e.wparam == '+' && h->key_down(VK_KEY_ADD))) {
        key_down(e.wparam == '-' ? VK_KEY_SUBTRACT : VK_KEY_ADD);
        return 0;
      }
      chat_send_char(static_cast<int>(e.wparam), static_cast<int>(e.x));
      return 0;
    case HOST_WM_SYSKEYDOWN:
      if (gesture_key(static_cast<int>(e.wparam))) return 0;
      key_down(static_cast<unsigned>(e.wparam));
      return HOST_DEFAULT;
    case HOST_WM_COMMAND:
      if (gesture_handle(static_cast<int>(e.wparam))) {
        h->window_focus();
        return 0;
      }
      if (e.wparam >= 0 && e.wparam < MENU_GESTURE_FIRST)
        return menu_handle(static_cast<int>(e.wparam));
      return 0;
    case HOST_WM_SYSCOMMAND:
      if (tessel_kiosk()) {
        intptr_t c = e.wparam;
        if (e.y > 0xFFFF || c == HOST_SC_MINIMIZE || c == HOST_SC_CLOSE || c == 0xF093 ||
            c == HOST_SC_RESTORE || c == 0xF122)
          return 0;
      }
      // In mover mode system commands wait.
      if (mouse_is_mover()) return 0;
      return HOST_DEFAULT;
    case HOST_WM_TIMER:
      tessel_frame();
      return 0;
    case HOST_WM_LBUTTONDOWN:
      h->window_focus();
      // Clicks in the 3D view are the viewport's own; here only the splitters start.
      if (mouse_is_mover())
        mouse_as_picker();
      else if (!slider_begin(e.y))
        vslider_begin(e.x);
      return 0;
    case HOST_WM_RBUTTONDOWN:
      h->window_focus();
      return 0;
    case HOST_WM_LBUTTONUP:
      slider_release();
      vslider_release();
      return 0;
    case HOST_WM_CAPTURECHANGED:
      slider_end();
      vslider_end();
      return 0;
    case HOST_WM_LBUTTONDBLCLK:
      return 0;
    default:
      return HOST_DEFAULT;
  }
}

int tessel_layout(int width, int height) {
  Host* h = host();
  int32_t state = tessel_frame_state();
  if (h->window_iconic() || (state != FRAME_START_3D && state != FRAME_RUNNING)) return 0;
  layout_width = width;
  layout_height = height;
  int top = toolbar_height() + gesture_height();
  int bottom = height - status_height();
  int left = 0, right = 0;
  vslider_limit(top, bottom, width, &left, &right);
  if (!web_visible()) right = width;
  int split = slider_limit(left, right, height);
  int view_width = right - left - 1, view_height = split - top - 1;
  int want_width = view_width, want_height = view_height;
  camera_resize(&view_width, &view_height);
  logo_size(width);
  if (view_height < want_height) {
    split = top + view_height;
    slider_set(split);
  }
  if (view_width < want_width) {
    // The view keeps its left edge beside the web pane, its right edge without one.
    if (web_visible())
      right = left + view_width;
    else
      left = width - view_width;
    split = slider_limit(left, right, height);
    // Without the web pane its splitter goes to the right edge with the view: left where it
    // was, it would lie left of the tab splitter and squeeze the view when the pane is shown.
    vslider_set(left, right);
  }
  // The chat line sits on the status bar, the console between it and the splitter.
  int chat_h = chat_view() ? chat_height() : 0;
  // A window that grew gets its status bar first, one that shrank its chat line first, so
  // neither is placed over where the other still is.
  bool grew = height > status_placed_height;
  if (grew) status_size(width, height);
  chat_size(left + 1, right - 1, bottom - chat_h + 1);
  if (!grew) status_size(width, height);
  status_placed_height = height;
  tab_size(0, left - 1, top, bottom);
  viewport_size(left + 1, top, right, split - 1);
  console_size(left + 1, right - 1, split + 1, bottom - chat_h - 1);
  camera_size_viewwindow();
  backdrop_update();
  toolbar_autosize();
  web_size(right + 1, top, width - right - 1 > 0 ? width - right - 1 : 0, bottom - top);
  if (!h->window_maximized()) {
    HostRect r = h->window_rect();
    profile_set_int("layout", "main_height", r.height);
    profile_set_int("layout", "main_width", r.width);
    profile_set_int("layout", "maximized", 0);
  } else {
    profile_set_int("layout", "maximized", 1);
  }
  return 0;
}

void tessel_relayout() {
  if (layout_width && layout_height) tessel_layout(layout_width, layout_height);
}

void tessel_toggle_toolbar() {
  // Menu item 129's tick is the menu's (menu_handle).
  bool shown = !tessel_toolbar_shown();
  if (shown)
    toolbar_show();
  else
    toolbar_hide();
  profile_set_int("show", "toolbar", shown ? 1 : 0);
  tessel_set_toolbar_shown(shown);
  tessel_relayout();
}

void tessel_layout_size(int* width, int* height) {
  if (width) *width = layout_width;
  if (height) *height = layout_height;
}

void frame_reset_for_test() {
  links = &program_links;
  tasks = task_table;
  tasks_count = task_count;
  busy = false;
  layout_width = layout_height = 0;
  status_placed_height = 0;
}
