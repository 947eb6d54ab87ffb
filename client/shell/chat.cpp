#include "client/shell/chat.h"

#include <cstdio>
#include <cstring>

#include "client/core/dates.h"
#include "client/core/files.h"
#include "client/core/identity.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/strutil.h"
#include "client/core/tick.h"
#include "client/scene/avatar.h"
#include "client/scene/balloon.h"
#include "client/scene/camera.h"
#include "client/scene/self.h"
#include "client/servers/join.h"
#include "client/servers/world.h"
#include "platform/host.h"
#include "platform/progdir.h"

ChatLineView::~ChatLineView() = default;

namespace {

struct chat_state {
  chat_view_maker maker = nullptr;
  ChatLineView* view = nullptr;
  FILE* log = nullptr;
  balloon* own = nullptr;
  char own_text[512] = "";
  bool own_shown = false;
  bool fall_back_set = false;
  uint32_t fall_back = 0;  // when the own balloon shows the name again
};
chat_state s;

const char* own_name() {
  const char* n = citizen_name();
  return n ? n : "";
}

void show_own(const char* text) {
  std::snprintf(s.own_text, sizeof s.own_text, "%s", text ? text : "");
  if (s.own) balloon_set_text(s.own, "%s", s.own_text);
}

void log_close() {
  if (s.log) std::fclose(s.log);
  s.log = nullptr;
}

}  // namespace

void chat_set_view_maker(chat_view_maker maker) { s.maker = maker; }

void chat_log_open() {
  log_close();
  if (!chat_logging()) return;
  char path[4096];
  const char* name = chat_logfile();
  if (name[0] == '/')
    std::snprintf(path, sizeof path, "%s", name);
  else
    std::snprintf(path, sizeof path, "%s/%s", platform_program_dir().c_str(), name);
  s.log = file_open_private(path, "a");
  if (!s.log) {
    log_write("chat_log_open: cannot open %s", path);
    return;
  }
  char title[600];
  std::snprintf(title, sizeof title, "* %s: %s *", msg_arg(259, msg(163)), date_now());
  char stars[sizeof title];
  size_t n = std::strlen(title);
  std::memset(stars, '*', n);
  stars[n] = 0;
  std::fprintf(s.log, "\n%s\n", stars);
  std::fprintf(s.log, "%s\n", title);
  std::fprintf(s.log, "%s\n\n", stars);
  std::fflush(s.log);
}

void chat_log_write(const char* line) {
  if (!s.log || !line) return;
  std::fprintf(s.log, "%s\n", text_printable(line).c_str());
  std::fflush(s.log);
}

int chat_init(void*) {
  world_hook.chat_avatars = chat_avatars;
  identity_hook.chat_set_balloon = chat_set_balloon;
  // A program without a window system (scripted runs) has no line to type in.
  if (!s.view && s.maker && !(s.view = s.maker(CHAT_LIMIT))) {
    log_write("chat_init: the chat line cannot be made");
    return 0;
  }
  chat_log_open();
  return 1;
}

void chat_term() {
  log_close();
  if (s.own) balloon_destroy(s.own);
  s.own = nullptr;
  s.own_shown = false;
  delete s.view;
  s.view = nullptr;
}

void chat_reset() {
  s.fall_back_set = true;
  s.fall_back = tick_now();
}

void chat_send_char(int character, int flags) {
  if (s.view) s.view->send_char(character, flags);
}

void chat_enter() {
  if (!s.view) return;
  char text[CHAT_READ + 1] = "";
  s.view->text(text, sizeof text);
  if (!text[0]) return;
  // A line that did not go is not shown as said.
  if (!join_answer(text) && avatar_broadcast_message(text) == 0) {
    if (chat_balloons()) {
      char line[sizeof s.own_text];
      std::snprintf(line, sizeof line, "%s: %s", own_name(), text);
      show_own(line);
    }
    s.fall_back_set = true;
    s.fall_back = tick_now() + CHAT_OWN_SHOWN;
  }
  s.view->clear();
  if (Host* h = host()) h->window_focus();
}

void chat_update() {
  bool third = camera_mode() == 1;
  if (s.own_shown) {
    if (!third) {
      if (s.own) balloon_destroy(s.own);
      s.own = nullptr;
      s.own_shown = false;
    } else if (!s.own) {
      s.own = balloon_create();
      balloon_set_text(s.own, "%s", s.own_text);
    }
  } else if (third) {
    s.own_shown = true;
    if (!s.own_text[0]) std::snprintf(s.own_text, sizeof s.own_text, "%s", own_name());
    if (!s.own) s.own = balloon_create();
    balloon_set_text(s.own, "%s", s.own_text);
  }
  if (s.fall_back_set && static_cast<int32_t>(tick_now() - s.fall_back) >= 0) {
    s.fall_back_set = false;
    show_own(own_name());
  }
  if (s.own) {
    if (VxMatrix* m = self_head_matrix()) balloon_set_position(s.own, m);
  }
}

int chat_height() { return CHAT_HEIGHT; }

void chat_size(int x1, int x2, int y) {
  if (s.view) s.view->move(x1, y, x2 - x1, CHAT_EDIT_HEIGHT);
}

void chat_set_balloon(const char* text) {
  if (!s.own) return;
  show_own(text);
}

bool chat_own_balloon_shown() { return s.own_shown && s.own; }
const char* chat_own_balloon_text() { return s.own_text; }
ChatLineView* chat_view() { return s.view; }

void chat_reset_for_test() {
  chat_view_maker maker = s.maker;
  chat_term();
  s = chat_state{};
  s.maker = maker;
}
