#include "client/shell/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "client/cache/download.h"
#include "client/core/log.h"
#include "client/core/strutil.h"
#include "client/scene/color.h"
#include "client/scene/avatar.h"
#include "client/scene/model.h"
#include "client/scene/pick.h"
#include "client/scene/prop.h"
#include "client/servers/join.h"
#include "client/servers/privilege.h"
#include "client/servers/teleport.h"
#include "client/servers/world.h"
#include "client/shell/chat.h"
#include "client/shell/telegram.h"

ConsoleView::~ConsoleView() = default;

namespace {

struct waiting_line {
  std::string text;
  int kind;
};

struct console_state {
  console_view_maker maker = nullptr;
  ConsoleView* view = nullptr;
  bool open = false;  // started: lines are shown (on the pane when there is one)
  // What the pane holds, line breaks as "\r\n": the running length is its size.
  std::string shown;
  std::vector<waiting_line> waiting;  // oldest first
};
console_state s;

// Colour table entries of the kinds.
const int kind_colour_entry[CONSOLE_KINDS] = {1, 1, 27, 9, 18, 18, 12};

bool kind_to_log(int kind) { return kind == 0 || kind == 1 || kind == 3 || kind == 6; }

int clamp_kind(int kind) { return kind < 0 || kind >= CONSOLE_KINDS ? 0 : kind; }

void append(int kind, std::string line) {
  if (static_cast<int>(s.shown.size()) > CONSOLE_LIMIT) {
    // The oldest line goes: up to and including the first line feed within the first 999.
    size_t lf = s.shown.find('\n');
    if (lf != std::string::npos && lf < 999) {
      s.shown.erase(0, lf + 1);
      if (s.view) s.view->remove_first_line();
    }
  }
  if (kind != CONSOLE_TELEGRAM_TEXT) {
    // "name: text" shows as "name:<tab>text"; a line that ends at its colon keeps its end.
    size_t colon = line.find(':');
    if (colon != std::string::npos && colon + 1 < line.size()) line[colon + 1] = '\t';
  }
  if (!s.shown.empty()) s.shown += "\r\n";
  s.shown += line;
  bool indented = kind == CONSOLE_TELEGRAM_TEXT;
  if (s.view)
    s.view->append(line.c_str(), console_colour(kind), kind == CONSOLE_SPEAKER, indented,
                   indented ? CONSOLE_INDENT_TWIPS : CONSOLE_HANGING_TWIPS);
}

// Every module's console line comes here.
void fill_hooks() {
  using line_hook = void (*)(int kind, const char* line);
  line_hook* const hooks[] = {
      &world_hook.console_print,     &prop_hook.console_print,     &pick_hook.console_print,
      &model_hook.console_print,     &teleport_hook.console_print, &join_hook.console_print,
      &privilege_hook.console_print, &avatar_hook.console_print,   &telegram_hook.console_print,
      &download_hook.console_print};
  for (line_hook* hook : hooks) *hook = console_line;
}

}  // namespace

void console_set_view_maker(console_view_maker maker) { s.maker = maker; }

uint32_t console_colour(int kind) { return color_value(kind_colour_entry[clamp_kind(kind)]); }

int console_init(void*) {
  fill_hooks();
  if (s.open) return 1;
  // A program without a window system (scripted runs) keeps the lines without a pane.
  if (s.maker && !(s.view = s.maker())) {
    log_write("console_init: the console pane cannot be made");
    return 0;
  }
  s.open = true;
  std::vector<waiting_line> lines;
  lines.swap(s.waiting);
  for (waiting_line& w : lines) append(w.kind, std::move(w.text));
  return 1;
}

void console_term() {
  delete s.view;
  s.view = nullptr;
  s.open = false;
  s.shown.clear();
}

void console_size(int x1, int x2, int y1, int y2) {
  if (s.view) s.view->move(x1, y1, x2 - x1, y2 - y1);
}

void console_line(int kind, const char* line) {
  kind = clamp_kind(kind);
  // A line is one line of the pane and of the chat log: a break or a terminal code inside a
  // name or a chat text is no new line. Only the telegram text keeps its own breaks.
  std::string text = text_printable(line, kind == CONSOLE_TELEGRAM_TEXT);
  if (text.size() > CONSOLE_LINE_MAX) text.resize(CONSOLE_LINE_MAX);
  if (kind_to_log(kind)) chat_log_write(text.c_str());
  if (s.open)
    append(kind, std::move(text));
  else
    s.waiting.push_back(waiting_line{std::move(text), kind});
}

void console_print(int kind, const char* format, ...) {
  char line[CONSOLE_LINE_MAX + 1];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(line, sizeof line, format ? format : "", ap);
  va_end(ap);
  console_line(kind, line);
}

const char* console_text() { return s.shown.c_str(); }
int console_length() { return static_cast<int>(s.shown.size()); }
int console_waiting() { return static_cast<int>(s.waiting.size()); }
ConsoleView* console_view() { return s.view; }

void console_reset_for_test() {
  console_view_maker maker = s.maker;
  console_term();
  s = console_state{};
  s.maker = maker;
}
