#include "client/servers/about.h"

#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "client/cache/image.h"
#include "client/core/files.h"
#include "client/core/identity.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/servers/universe.h"
#include "client/servers/upgrade.h"
#include "platform/host.h"
#include "platform/progdir.h"

namespace {
bool cancel_pressed = false;
bool ok_pressed = false;

void trace(const char* name) {
  if (trace_switches[TRACE_GENERAL]) log_write("%s", name);
}

void host_command(int id) { about_command(id); }

void conversion_done(void* user, int32_t) { *static_cast<bool*>(user) = true; }

// A new splash.jpg is converted once to splash.bmp (and removed); later starts use the bmp.
void prepare_picture() {
  const std::string& dir = platform_program_dir();
  std::string jpg = dir + "/splash.jpg";
  std::string bmp = dir + "/splash.bmp";
  if (file_exists(jpg.c_str())) {
    uint8_t* data = nullptr;
    size_t size = 0;
    if (file_read(jpg.c_str(), &data, &size) == 0) {
      file_delete(jpg.c_str());
      bool done = false;
      // Without a queued job no callback would ever come: only wait for one that exists.
      if (image_convert(data, size, bmp.c_str(), 0, conversion_done, &done) == 0) {
        while (!done && image_busy()) image_update();
      }
      std::free(data);
    }
  }
  struct stat st;
  if (::stat(bmp.c_str(), &st) == 0 && S_ISREG(st.st_mode))
    host()->about_set_picture(bmp.c_str());
}

void dialog_init() {
  host()->about_set_text(ABOUT_OK, msg(136));
  host()->about_set_text(ABOUT_VERSION, msg_arg(43, msg(68), static_cast<double>(version())));
  host()->about_set_text(ABOUT_BUILD, msg_arg(56, version_build()));
  prepare_picture();
}
}  // namespace

int about_init() {
  trace("about_init");
  cancel_pressed = false;
  ok_pressed = false;
  return about_show(1);
}

int about_show(int form) {
  trace("about_show");
  Host* h = host();
  if (!h->about_exists()) {
    if (!h->about_create(host_command)) return 413;
    dialog_init();
  }
  if (form == 1) {
    h->about_show_control(ABOUT_OK, false);
    h->about_show_control(ABOUT_CANCEL, true);
  } else {
    h->about_show_control(ABOUT_OK, true);
    h->about_show_control(ABOUT_CANCEL, false);
    if (!universe_logged_in())
      h->about_set_text(ABOUT_STATUS, msg(57));
    else if (citizen_number())
      h->about_set_text(ABOUT_STATUS, msg_arg(97, citizen_number()));
    else
      h->about_set_text(ABOUT_STATUS, msg_arg(99, citizen_name()));
  }
  h->about_show();
  return 0;
}

void about_set_message(const char* text) {
  trace("about_set_message");
  host()->about_set_text(ABOUT_STATUS, text ? text : "");
}

void about_hide() {
  trace("about_hide");
  host()->about_destroy();
}

bool about_cancel_pressed() { return cancel_pressed; }

int about_command(int id) {
  if (id == ABOUT_OK) {
    ok_pressed = true;
    about_hide();
    return 1;
  }
  if (id == ABOUT_CANCEL) {
    cancel_pressed = true;
    about_hide();
    return 1;
  }
  return 0;
}

void about_reset_for_test() {
  cancel_pressed = false;
  ok_pressed = false;
  host()->about_destroy();
}
