#include "client/app/program.h"

#include "client/app/command.h"
#include "client/app/frame.h"
#include "client/core/lifecycle.h"

#include "client/cache/chunk.h"
#include "client/cache/database.h"
#include "client/cache/disk.h"
#include "client/cache/download.h"
#include "client/cache/http.h"
#include "client/cache/image.h"
#include "client/cache/picture.h"
#include "client/servers/about.h"
#include "client/core/cgi.h"
#include "client/core/files.h"
#include "client/core/keys.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/os.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/random.h"
#include "client/core/tessel.h"
#include "client/core/tick.h"
#include "client/net/proxy.h"
#include "client/net/resolve.h"
#include "client/scene/avatar.h"
#include "client/scene/backdrop.h"
#include "client/scene/behavior.h"
#include "client/scene/camera.h"
#include "client/scene/color.h"
#include "client/scene/display.h"
#include "client/scene/display_viewport.h"
#include "client/scene/model.h"
#include "client/scene/texture.h"
#include "client/scene/prop.h"
#include "client/scene/visible.h"
#include "client/scene/driver.h"
#include "client/scene/scene.h"
#include "client/scene/collide.h"
#include "client/scene/self.h"
#include "client/scene/cell.h"
#include "client/scene/pdialog.h"
#include "client/scene/pick.h"
#include "client/scene/sound.h"
#include "client/servers/immigrate.h"
#include "client/servers/join.h"
#include "client/servers/login.h"
#include "client/servers/privilege.h"
#include "client/servers/signup.h"
#include "client/servers/teleport.h"
#include "client/servers/tourist.h"
#include "client/servers/worlds.h"
#include "client/servers/universe.h"
#include "client/servers/upgrade.h"
#include "client/servers/world.h"
#include "client/shell/advanced.h"
#include "client/shell/dloptions.h"
#include "client/shell/general.h"
#include "client/shell/perform.h"
#include "client/shell/privacy.h"
#include "client/shell/psheet.h"
#include "client/shell/contacts.h"
#include "client/shell/features.h"
#include "client/shell/telegram.h"
#include "client/shell/font.h"
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
#include "client/shell/help.h"
#include "client/shell/url.h"
#include "client/shell/web.h"
#include "engine/vxl21.h"
#include "platform/clock.h"

#include <cstdlib>

namespace {

#define COUNT(a) (sizeof(a) / sizeof((a)[0]))

// The web pane and the help page reach the menu bar and the layout; the menu's web and help
// items reach them.
void web_connect() {
  web_hook.menu_check = [](int id, bool on) { on ? menu_check(id) : menu_uncheck(id); };
  web_hook.menu_enable = [](int id, bool on) { on ? menu_enable(id) : menu_disable(id); };
  web_hook.relayout = tessel_relayout;
  web_hook.toolbar_show_button = toolbar_show_button;
  web_hook.toolbar_hide_button = toolbar_hide_button;
  web_hook.toolbar_enable = toolbar_enable;
  web_hook.toolbar_disable = toolbar_disable;
  help_hook.menu_enable = web_hook.menu_enable;
  menu_hook.web_toggle = web_toggle;
  menu_hook.web_back = web_back;
  menu_hook.web_forward = web_forward;
  menu_hook.web_stop = web_stop;
  menu_hook.web_refresh = web_refresh;
  menu_hook.web_get_url = web_get_url;
  menu_hook.help_with_help = help_with_help;
  menu_hook.help_registration = help_registration;
}

// Start-up, in this order:
//   tick_update, program directory, cache directory, profile_init, msg_init, log_init,
//   version_init, init_application, os_init, init_instance, display_init, resolve_init,
//   about_init, color_init, universe_init, random_seed, menu_init, immigrate_set_parent,
//   prop_set_window, advanced_init, privilege_init, privacy_init, slider_init, vslider_init,
//   perform_init, database_init, download_init, toolbar_init, toolbar_create, [show] toolbar,
//   kiosk, font_init, viewport_init, tab_init, status_init, icon_init, web_init, avatar_init,
//   cell_init, world_init, focus_init, chat_init, console_init, proxy_init, http_init,
//   general_init, dloptions_init, sound_init, mouse_init, prop_init, bps_init, fps_init,
//   vrt_init, sign_init, disk_init, gesture_init, visible_init, picture_init, eject_init,
//   psheet_init, url_init, pdialog_init, cgi_init, web start hook, login_init,
//   tourist_set_parent, upgrade_init, about_set_message (77), accelerators, frame timer.

const char kNoIni[] =
    "The initialization file couldn't be located. Ensure the working directory is set to "
    "where this program resides.";
const char kNoMessages[] = "Unable to load default messages.  Please re-install Veldara.";

const lifecycle_step init_steps[] = {
    {"tick_update", [] { tick_update(); return 0; }, LC_IGNORE, 0, 0, nullptr},
    {"program_directory", tessel_step_program_directory, LC_FATAL_TEXT, 0, 0,
     tessel_directory_problem},
    {"cache_directory", tessel_step_cache_directory, LC_IGNORE, 0, 0, nullptr},
    {"profile_init", tessel_step_profile, LC_FATAL_TEXT, 0, 0, kNoIni},
    {"msg_init", tessel_step_messages, LC_FATAL_TEXT, 0, 0, kNoMessages},
    {"log_init", tessel_step_log, LC_IGNORE, 0, 0, nullptr},
    {"version_init", version_init, LC_IGNORE, 0, 0, nullptr},
    {"init_application", tessel_step_init_application, LC_STOP, 0, 0, nullptr},
    {"os_init", [] { return os_init() ? 0 : 1; }, LC_FATAL_TITLE, 135, 0, nullptr},
    {"init_instance", tessel_step_init_instance, LC_STOP, 0, 0, nullptr},
    {"display_init", [] { return display_init() ? 0 : 1; }, LC_STOP, 0, 0, nullptr},
    {"resolve_init", [] { return resolve_init(); }, LC_FATAL_CODE, 18, 0, nullptr},
    {"about_init", about_init, LC_FATAL_CODE, 151, 0, nullptr},
    {"color_init", [] { return color_init() ? 0 : 1; }, LC_FATAL, 30, 0, nullptr},
    {"universe_init", universe_init, LC_IGNORE, 0, 0, nullptr},
    {"random_seed", [] { random_seed(platform_ticks()); return 0; }, LC_IGNORE, 0, 0, nullptr},
    {"menu_init",
     [] {
       // The menu bar's letters reach the gesture row, which keeps them until it is built.
       menu_hook.gesture_set_reserved_shortcuts = gesture_set_reserved_shortcuts;
       menu_hook.gesture_show = [] { gesture_show(); };
       return menu_init(nullptr, nullptr);
     },
     LC_IGNORE, 0, 0, nullptr},
    // Connects the account modules' universe replies (citizenship, sign-up, join requests)
    // and the prompt dialogs; join requests have no init step of their own.
    {"immigrate_set_parent",
     [] {
       immigrate_set_parent(nullptr);
       return join_init();
     },
     LC_IGNORE, 0, 0, nullptr},
    {"prop_set_window", [] { prop_set_window(nullptr); return 0; }, LC_IGNORE, 0, 0, nullptr},
    {"advanced_init", advanced_init, LC_IGNORE, 0, 0, nullptr},
    {"privilege_init",
     [] {
       privilege_hook.tessel_background = tessel_background;
       privilege_hook.tessel_foreground = tessel_foreground;
       return privilege_init();
     },
     LC_IGNORE, 0, 0, nullptr},
    {"privacy_init", privacy_init, LC_IGNORE, 0, 0, nullptr},
    {"slider_init",
     [] {
       slider_init();
       slider_hook.top_height = [] { return toolbar_height() + gesture_height(); };
       slider_hook.bottom_height = status_height;
       slider_hook.relayout = tessel_relayout;
       return 0;
     },
     LC_IGNORE, 0, 0, nullptr},
    {"vslider_init", [] { vslider_init(); return 0; }, LC_IGNORE, 0, 0, nullptr},
    {"perform_init", [] { return perform_init() ? 0 : 1; }, LC_FATAL_TITLE, 100, 0, nullptr},
    {"database_init",
     [] {
       // A database that cannot go on ends the program through the normal quit.
       database_set_exits(tessel_quit, [](int status) { std::exit(status); });
       return database_init();
     },
     LC_FATAL, 82, 0, nullptr},
    {"download_init", [] { download_init(); return 0; }, LC_IGNORE, 0, 0, nullptr},
    {"toolbar_init",
     [] {
       toolbar_init();
       // The sign-up button sits in the gesture row, under the toolbar.
       register_hook.toolbar_height = toolbar_height;
       return 0;
     },
     LC_IGNORE, 0, 0, nullptr},
    {"toolbar_create",
     [] { return toolbar_create(COUNT(toolbar_main_buttons), toolbar_main_buttons) ? 0 : 1; },
     LC_FATAL, 104, 0, nullptr},
    {"show_toolbar",
     [] {
       tessel_step_show_toolbar();
       if (tessel_toolbar_shown()) {
         toolbar_show();
         menu_check(129);
       } else {
         toolbar_hide();
         menu_uncheck(129);
       }
       return 0;
     },
     LC_IGNORE, 0, 0, nullptr},
    {"kiosk", tessel_step_kiosk, LC_IGNORE, 0, 0, nullptr},
    {"font_init", [] { return font_init() ? 0 : 1; }, LC_FATAL, 14, 0, nullptr},
    {"viewport_init", [] { return viewport_init() ? 0 : 1; }, LC_FATAL, 205, 0, nullptr},
    {"tab_init",
     [] {
       web_connect();
       if (!tab_init()) return 1;
       menu_hook.tab_show_help = tab_show_help;
       return 0;
     },
     LC_FATAL, 206, 0, nullptr},
    {"status_init", [] { status_init(); return 0; }, LC_IGNORE, 0, 0, nullptr},
    {"icon_init", [] { icon_init(); return 0; }, LC_IGNORE, 0, 0, nullptr},
    {"web_init", [] { return web_init() ? 0 : 1; }, LC_IGNORE, 0, 0, nullptr},
    {"avatar_init", [] { return avatar_init(nullptr); }, LC_IGNORE, 0, 0, nullptr},
    {"cell_init", [] { cell_init(); return 0; }, LC_IGNORE, 0, 0, nullptr},
    {"world_init", world_init, LC_IGNORE, 0, 0, nullptr},
    {"focus_init", [] { focus_init(); return 0; }, LC_IGNORE, 0, 0, nullptr},
    {"chat_init", [] { return chat_init(nullptr) ? 0 : 1; }, LC_FATAL, 23, 0, nullptr},
    {"console_init", [] { return console_init(nullptr) ? 0 : 1; }, LC_FATAL, 124, 0, nullptr},
    {"proxy_init", [] { proxy_init(); return 0; }, LC_IGNORE, 0, 0, nullptr},
    {"http_init", [] { return http_init(0); }, LC_FATAL_CODE, 186, 0, nullptr},
    {"general_init", general_init, LC_IGNORE, 0, 0, nullptr},
    {"dloptions_init", dloptions_init, LC_IGNORE, 0, 0, nullptr},
    // Without an audio device sounds stay silent and start-up goes on. Nearby sounds follow
    // the user's own position.
    {"sound_init",
     [] {
       sound_hook.own_position = self_own_position;
       return sound_init();
     },
     LC_IGNORE, 0, 0, nullptr},
    {"mouse_init",
     [] {
       mouse_init();
       menu_hook.mouse_as_mover = mouse_as_mover;
       return 0;
     },
     LC_IGNORE, 0, 0, nullptr},
    {"prop_init", [] { prop_init(); return 0; }, LC_IGNORE, 0, 0, nullptr},
    {"bps_init", [] { bps_init(); return 0; }, LC_IGNORE, 0, 0, nullptr},
    {"fps_init", [] { fps_init(); return 0; }, LC_IGNORE, 0, 0, nullptr},
    {"vrt_init", [] { vrt_init(); return 0; }, LC_IGNORE, 0, 0, nullptr},
    {"sign_init", [] { sign_init(); return 0; }, LC_IGNORE, 0, 0, nullptr},
    {"disk_init", disk_init, LC_IGNORE, 0, 0, nullptr},
    {"gesture_init",
     [] {
       gesture_init();
       // The sign-up button sits at the start of the gesture row, made by the row's view.
       register_hook.button_create = gesture_register_button_create;
       register_hook.button_destroy = gesture_register_button_destroy;
       avatar_hook.gesture_show = [] { gesture_show(); };
       world_hook.gesture_show = [] { gesture_show(); };
       return 0;
     },
     LC_IGNORE, 0, 0, nullptr},
    {"visible_init", [] { visible_init(); return 0; }, LC_IGNORE, 0, 0, nullptr},
    // The backdrop has no start-up row of its own: its world-attribute hooks are filled here.
    {"picture_init", [] { picture_init(); return backdrop_init(); }, LC_IGNORE, 0, 0, nullptr},
    {"eject_init", eject_init, LC_IGNORE, 0, 0, nullptr},
    {"psheet_init", [] { return psheet_init(nullptr, nullptr); }, LC_IGNORE, 0, 0, nullptr},
    {"url_init", [] { return url_init(settings_text("browser", "name")) ? 0 : 1; }, LC_IGNORE, 0, 0, nullptr},
    {"pdialog_init", [] { pdialog_init(nullptr, nullptr); return 0; }, LC_IGNORE, 0, 0, nullptr},
    {"cgi_init", [] { return cgi_init(tessel_command_line()); }, LC_IGNORE, 0, 0, nullptr},
    {"web_start", [] { web_start(); return 0; }, LC_IGNORE, 0, 0, nullptr},
    {"login_init", login_init, LC_IGNORE, 0, 0, nullptr},
    {"tourist_set_parent", [] { tourist_set_parent(nullptr); return 0; }, LC_IGNORE, 0, 0, nullptr},
    {"upgrade_init", upgrade_init, LC_IGNORE, 0, 0, nullptr},
    {"about_set_message", [] { about_set_message(msg(77)); return 0; }, LC_IGNORE, 0, 0, nullptr},
    {"accelerators", [] { menu_load_accelerators(); return 0; }, LC_IGNORE, 0, 0, nullptr},
    {"frame_timer", tessel_step_frame_timer, LC_IGNORE, 0, 0, nullptr},
};

// The 3D start (frame state 4), in this order: driver_init (fatal 1 with the title),
// engine debug settings, viewport_palette, camera_init (fatal 5 when the engine's error is 3,
// else 6), scene_init (fatal 7), web_init, model_init (fatal 11), pick_init, show the main
// window, self_init, balloon_init, about_hide.
const lifecycle_step start_3d_steps[] = {
    {"driver_init", [] { return driver_init() ? 0 : 1; }, LC_FATAL_TITLE, 1, 0, nullptr},
    {"debug_settings", tessel_step_debug_settings, LC_IGNORE, 0, 0, nullptr},
    {"viewport_palette", [] { viewport_palette(); return 0; }, LC_IGNORE, 0, 0, nullptr},
    {"camera_init",
     [] {
       world_hook.camera_set_color = camera_set_color;
       return camera_init() ? 0 : 1;
     },
     LC_FATAL_ENGINE, 5, 6, nullptr},
    {"scene_init", [] { return scene_init() ? 0 : 1; }, LC_FATAL, 7, 0, nullptr},
    {"web_init", [] { return web_init() ? 0 : 1; }, LC_IGNORE, 0, 0, nullptr},
    {"model_init", [] { return model_init() ? 0 : 1; }, LC_FATAL, 11, 0, nullptr},
    {"pick_init",
     [] {
       pick_init();
       behavior_hook.pick_off = pick_off;
       pick_hook.key_clear = key_reset;
       return 0;
     },
     LC_IGNORE, 0, 0, nullptr},
    {"show_window", tessel_step_show_window, LC_IGNORE, 0, 0, nullptr},
    {"self_init", [] { return self_init(nullptr); }, LC_IGNORE, 0, 0, nullptr},
    {"balloon_init", [] { balloon_init(nullptr); return 0; }, LC_IGNORE, 0, 0, nullptr},
    {"about_hide", [] { about_hide(); return 0; }, LC_IGNORE, 0, 0, nullptr},
};

// Shutdown, before the error box: avatar_term, chat_term, sound_term, prop_term,
// universe_term, http_term, file_term, menu_term, cgi_term, resolve_term, cell_term,
// chunk_term, telegram_term, download_term, world_term, web_term, image_term, url_term,
// console_term. Every one must be safe when its init never ran: a failed start-up runs them all.
const lifecycle_call term_calls[] = {
    {"avatar_term", avatar_term},
    {"chat_term", chat_term},
    {"sound_term", sound_term},
    {"prop_term", prop_term},
    {"universe_term", universe_term},
    {"http_term", http_term},
    {"file_term", file_term},
    {"menu_term", menu_term},
    {"cgi_term", cgi_term},
    {"resolve_term", resolve_term},
    {"cell_term", cell_term},
    {"chunk_term", chunk_term},
    {"telegram_term", telegram_term},
    // The cache walk goes with the downloads: a walk under way holds its folders open.
    {"download_term", [] { download_term(); disk_term(); }},
    {"world_term", world_term},
    {"web_term", web_term},
    {"image_term", image_term},
    {"url_term", url_term},
    {"console_term", console_term},
};

// After the error box: scene_term, backdrop_clear, VxShutdown, perform_term.
const lifecycle_call term_late_calls[] = {
    // The 3D side's own state goes with the scene: cameras, driver flags, viewport window.
    // Balloons and signs hold engine clumps and textures: they go with the scene.
    {"scene_term", [] { balloon_term(); sign_term(); scene_term(); camera_term(); driver_term(); viewport_term(); }},
    {"backdrop_clear", backdrop_clear},
    {"VxShutdown", [] { VxShutdown(); }},
    {"perform_term", perform_term},
};

// World change: chat_reset, visible_reset, fps_reset, pick_reset, ground_clear, avatar_reset,
// self_destroy_avatar, model_reset, download_reset, picture_reset, image_reset, texture_reset,
// avatar_load_list, chunk_reset, self_create_avatar, backdrop_clear, sound_reset, bump_cancel,
// and last cell_reset.
const lifecycle_call reset_calls[] = {
    {"chat_reset", chat_reset},
    {"visible_reset", visible_reset},
    {"fps_reset", fps_reset},
    {"pick_reset", pick_reset},
    {"ground_clear", ground_clear},
    {"avatar_reset", avatar_reset},
    {"self_destroy_avatar", self_destroy_avatar},
    {"model_reset", model_reset},
    {"download_reset", download_reset},
    {"picture_reset", picture_reset},
    {"image_reset", image_reset},
    {"texture_reset", texture_reset},
    {"avatar_load_list", avatar_load_list},
    {"chunk_reset", chunk_reset},
    {"self_create_avatar", self_create_avatar},
    {"backdrop_clear", backdrop_clear},
    {"sound_reset", sound_reset},
    {"bump_cancel", bump_cancel},
    {"cell_reset", [] { cell_reset(); }},
};

const lifecycle_tables program_tables = {
    init_steps,      COUNT(init_steps),      start_3d_steps, COUNT(start_3d_steps),
    term_calls,      COUNT(term_calls),      term_late_calls, COUNT(term_late_calls),
    reset_calls,     COUNT(reset_calls),
};


}  // namespace

const lifecycle_tables& app_tables() { return program_tables; }

void app_install() {
  lifecycle_set_program(&program_tables);
  tessel_set_window(handle_window, tessel_frame);
}

void app_reset_for_test() {
  // A run the test left going ends as the program would end it: the engine and every module
  // are closed, so the next start finds nothing left over.
  if (tessel_window() && tessel_frame_state() != FRAME_SHUT_DOWN) tessel_shutdown(nullptr);
  tessel_reset_for_test();
  frame_reset_for_test();
  about_reset_for_test();
  web_reset_for_test();
  help_reset_for_test();
  status_reset();
  logo_reset();
  tab_reset();
  toolbar_reset();
  slider_reset();
  mouse_reset();
  gesture_reset();
  focus_reset();
  font_reset();
  app_install();
}
