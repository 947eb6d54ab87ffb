#include "client/shell/chat.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>

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
#include "client/shell/console.h"
#include "platform/host.h"
#include "platform/progdir.h"

ChatLineView::~ChatLineView() = default;

namespace {

struct chat_state {
  chat_view_maker maker = nullptr;
  ChatLineView* view = nullptr;
  FILE* log = nullptr;
  long log_size = 0;  // bytes in the open log
  std::string refused;  // the log's name last told as not written
  // The person's own lines in the log and in its older file, and those of the file a move
  // aside drops, written again under the next header: a talkative world cannot push them out.
  std::deque<std::string> own_log, own_older, own_carried;
  std::string own_log_path;
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

namespace {

std::string log_path() {
  const char* name = chat_logfile();
  if (name[0] == '/') return name;
  return platform_program_dir() + "/" + name;
}

// Once for each name that cannot be used: the person turned the log on and would not know.
void tell_not_written(const std::string& path, const char* why) {
  if (s.refused == path) return;
  s.refused = path;
  log_note("chat log %s is not written: %s", path.c_str(), why);
  console_line(CONSOLE_BUILD, msg_arg(CHAT_LOG_REFUSED_MSG, path.c_str(), why));
}

// The open log becomes the one older file (replacing the one before), 0600: the mode is
// changed on what was opened, never on what a link at the name points to.
bool log_rotate(const std::string& path) {
  if (s.log) ::fchmod(::fileno(s.log), 0600);
  log_close();
  std::string older = path + ".1";
  if (std::rename(path.c_str(), older.c_str()) != 0) {
    log_note("chat log %s cannot be moved to %s: %s", path.c_str(), older.c_str(), std::strerror(errno));
    return false;
  }
  s.own_carried = std::move(s.own_older);
  s.own_older = std::move(s.own_log);
  s.own_log.clear();
  return true;
}

void log_line(const std::string& text) {
  int written = std::fprintf(s.log, "%s\n", text.c_str());
  if (written > 0) s.log_size += written;
}

// The person's lines kept for carrying take a quarter of the log at most, the oldest going.
void keep_own(std::string text) {
  s.own_log.push_back(std::move(text));
  size_t bytes = 0;
  for (const auto* list : {&s.own_log, &s.own_older})
    for (const std::string& l : *list) bytes += l.size() + 1;
  while (bytes > CHAT_LOG_MAX / 4) {
    std::deque<std::string>& oldest = s.own_older.empty() ? s.own_log : s.own_older;
    bytes -= oldest.front().size() + 1;
    oldest.pop_front();
  }
}

// Opens the log (a regular file only: a link, a FIFO or a folder in its place is told and left
// alone) for appending under its header; a log the header would take past its cap is moved
// aside first.
void log_start(const std::string& path) {
  char title[600];
  std::snprintf(title, sizeof title, "* %s: %s *", msg_arg(259, msg(163)), date_now());
  char stars[sizeof title];
  size_t n = std::strlen(title);
  std::memset(stars, '*', n);
  stars[n] = 0;
  char header[3 * sizeof title + 8];
  std::snprintf(header, sizeof header, "\n%s\n%s\n%s\n\n", stars, title, stars);
  const long header_size = static_cast<long>(std::strlen(header));
  for (int attempt = 0; attempt < 2 && !s.log; ++attempt) {
    std::string why;
    s.log = file_open_private(path.c_str(), "a", &why);
    if (!s.log) {
      tell_not_written(path, why.empty() ? std::strerror(errno) : why.c_str());
      return;
    }
    std::fseek(s.log, 0, SEEK_END);
    long at = std::ftell(s.log);
    s.log_size = at > 0 ? at : 0;
    if (s.log_size > 0 && s.log_size + header_size > CHAT_LOG_MAX && !log_rotate(path)) return;
  }
  if (!s.log) return;
  if (std::fputs(header, s.log) >= 0) s.log_size += header_size;
  std::deque<std::string> carried;
  carried.swap(s.own_carried);
  for (std::string& line : carried) {
    log_line(line);
    keep_own(std::move(line));
  }
  std::fflush(s.log);
}

}  // namespace

void chat_log_open() {
  log_close();
  if (!chat_logging()) return;
  const std::string path = log_path();
  if (path != s.own_log_path) {
    s.own_log.clear();
    s.own_older.clear();
    s.own_log_path = path;
  }
  s.own_carried.clear();
  log_start(path);
}

void chat_log_write(const char* line, bool own) {
  if (!s.log || !line) return;
  std::string text = text_printable(line);
  // A talkative world fills no disk: past its cap the log starts again beside one older file.
  if (s.log_size + static_cast<long>(text.size()) + 1 > CHAT_LOG_MAX) {
    std::string path = log_path();
    if (!log_rotate(path)) return;
    log_start(path);
    if (!s.log) return;
  }
  log_line(text);
  if (own) keep_own(std::move(text));
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
  if (!join_answer(text)) {
    // The echo of the person's own words is shown at once, whatever a flood holds back.
    console_own_begin();
    const int sent = avatar_broadcast_message(text);
    // Whatever failed on the way, the line ends in the console as said or as not sent.
    if (console_own_end() == 0) {
      if (sent == 0) {
        char line[sizeof s.own_text];
        std::snprintf(line, sizeof line, "%s: %s", own_name(), text);
        console_line(CONSOLE_CHAT, line);
      } else {
        msg_print_titled(console_line, CONSOLE_WORLD, 160, msg_arg(600, text));
      }
    }
    // A line that did not go is not shown as said.
    if (sent == 0) {
      if (chat_balloons()) {
        char line[sizeof s.own_text];
        std::snprintf(line, sizeof line, "%s: %s", own_name(), text);
        show_own(line);
      }
      s.fall_back_set = true;
      s.fall_back = tick_now() + CHAT_OWN_SHOWN;
    }
  }
  s.view->clear();
  if (Host* h = host()) h->window_focus();
}

void chat_update() {
  console_update();
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
