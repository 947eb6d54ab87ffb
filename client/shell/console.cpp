#include "client/shell/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>

#include "client/cache/download.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/strutil.h"
#include "client/core/tick.h"
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
  bool own = false;
};

// A paragraph of the pane: a line, or one of a telegram text's lines.
struct shown_line {
  size_t length;
  size_t break_after;  // bytes of the break that follows it in shown ("\r\n", "\n" or none)
  bool own;            // the person's own words (or what became of them)
};

struct console_state {
  console_view_maker maker = nullptr;
  ConsoleView* view = nullptr;
  bool open = false;  // started: lines are shown (on the pane when there is one)
  // What the pane holds, line breaks as "\r\n": the running length is its size.
  std::string shown;
  std::deque<shown_line> lines;  // what shown holds, paragraph by paragraph
  size_t own_length = 0;         // of which the person's own lines
  // Lines before the pane, and lines from outside past the frame's budget; oldest first.
  std::deque<waiting_line> waiting;
  int received = 0;     // lines from outside shown in this frame
  int second_lines = 0;   // and in the second that began at second_start
  uint32_t second_start = 0;
  int own_depth = 0;    // inside console_own_begin / console_own_end
  int own_shown = 0;    // lines shown since the outermost console_own_begin
  bool flood = false;   // lines have been left out since the queue was last empty
  long left_out = 0;
};
console_state s;

// Colour table entries of the kinds.
const int kind_colour_entry[CONSOLE_KINDS] = {1, 1, 27, 9, 18, 18, 12};

bool kind_to_log(int kind) { return kind == 0 || kind == 1 || kind == 3 || kind == 6; }

int clamp_kind(int kind) { return kind < 0 || kind >= CONSOLE_KINDS ? 0 : kind; }

// The line that goes when the pane is full: the oldest from outside, so that a flood cannot
// push the person's own words out; their own oldest once they alone fill half the pane.
size_t line_to_remove() {
  if (s.own_length <= CONSOLE_LIMIT / 2)
    for (size_t i = 0; i < s.lines.size(); ++i)
      if (!s.lines[i].own) return i;
  return 0;
}

void remove_line(size_t index) {
  size_t at = 0;
  for (size_t i = 0; i < index; ++i) at += s.lines[i].length + s.lines[i].break_after;
  const shown_line gone = s.lines[index];
  // The paragraph with the break that follows it, or the last one with the break before it.
  if (gone.break_after > 0) {
    s.shown.erase(at, gone.length + gone.break_after);
  } else {
    const size_t before = index > 0 ? s.lines[index - 1].break_after : 0;
    s.shown.erase(at - before);
    if (index > 0) s.lines[index - 1].break_after = 0;
  }
  if (gone.own) s.own_length -= gone.length;
  s.lines.erase(s.lines.begin() + static_cast<std::ptrdiff_t>(index));
  if (s.view) s.view->remove_line(static_cast<int>(index));
}

void append(int kind, std::string line, bool own) {
  // Past the limit the oldest paragraphs go, as many as a telegram's text brought.
  while (static_cast<int>(s.shown.size()) > CONSOLE_LIMIT && !s.lines.empty()) remove_line(line_to_remove());
  if (kind != CONSOLE_TELEGRAM_TEXT) {
    // "name: text" shows as "name:<tab>text"; a line that ends at its colon keeps its end.
    size_t colon = line.find(':');
    if (colon != std::string::npos && colon + 1 < line.size()) line[colon + 1] = '\t';
  }
  if (!s.lines.empty()) {
    s.shown += "\r\n";
    s.lines.back().break_after = 2;
  }
  s.shown += line;
  // The pane makes a paragraph of each line of a telegram text.
  for (size_t start = 0;;) {
    const size_t lf = line.find('\n', start);
    const size_t end = lf == std::string::npos ? line.size() : lf;
    s.lines.push_back(shown_line{end - start, lf == std::string::npos ? 0u : 1u, own});
    if (own) s.own_length += end - start;
    if (lf == std::string::npos) break;
    start = lf + 1;
  }
  bool indented = kind == CONSOLE_TELEGRAM_TEXT;
  if (s.view)
    s.view->append(line.c_str(), console_colour(kind), kind == CONSOLE_SPEAKER, indented,
                   indented ? CONSOLE_INDENT_TWIPS : CONSOLE_HANGING_TWIPS);
}

// A line as the pane and the chat log take it: one line (a break or a terminal code inside a
// name or a chat text is no new line; only the telegram text keeps its own breaks), cut to
// the cap.
std::string clean(int kind, const char* line) {
  std::string text = text_printable(line, kind == CONSOLE_TELEGRAM_TEXT);
  if (text.size() > CONSOLE_LINE_MAX) text.resize(CONSOLE_LINE_MAX);
  return text;
}

void show(int kind, std::string text, bool own = false) {
  if (kind_to_log(kind)) chat_log_write(text.c_str(), own);
  append(kind, std::move(text), own);
}

// Lines from outside may be shown now: a few a frame, and a few a second whatever the frame
// rate, so that a flood cannot scroll the pane faster than it can be read.
bool outside_budget_left() {
  const uint32_t now = tick_now();
  if (now - s.second_start >= 1000) {
    s.second_start = now;
    s.second_lines = 0;
  }
  return s.received < CONSOLE_FRAME_LINES && s.second_lines < CONSOLE_SECOND_LINES;
}

void show_outside(int kind, std::string text) {
  ++s.received;
  ++s.second_lines;
  show(kind, std::move(text));
}

// A line from a server or another user. A world that never pauses could send a thousand a
// frame, and each costs the pane about half a millisecond: past the frame's budget lines
// wait, and past the queue's cap they are left out, with one notice at their place.
void receive(int kind, const char* line) {
  kind = clamp_kind(kind);
  if (s.own_depth > 0) {
    console_line(kind, line);  // the person's own words, shown at once
    return;
  }
  if (s.open && s.waiting.empty() && outside_budget_left()) {
    show_outside(kind, clean(kind, line));
    return;
  }
  if (static_cast<int>(s.waiting.size()) < CONSOLE_QUEUE_MAX) {
    s.waiting.push_back(waiting_line{clean(kind, line), kind});
    return;
  }
  ++s.left_out;
  if (s.flood) return;
  s.flood = true;
  s.waiting.push_back(waiting_line{clean(CONSOLE_WORLD, msg(CONSOLE_LEFT_OUT_MSG)), CONSOLE_WORLD});
}

// Every module's console line comes here; what a server or another user sends is received.
void fill_hooks() {
  using line_hook = void (*)(int kind, const char* line);
  line_hook* const own[] = {&prop_hook.console_print,      &pick_hook.console_print,
                            &model_hook.console_print,     &teleport_hook.console_print,
                            &privilege_hook.console_print};
  for (line_hook* hook : own) *hook = console_line;
  // The downloads' one line is a sentence of its own: told under the world's title, as the
  // other notices are, so that its colon is no name's.
  download_hook.console_print = [](int kind, const char* line) { msg_print_titled(console_line, kind, 160, line); };
  line_hook* const outside[] = {&world_hook.console_print, &avatar_hook.console_print,
                                &join_hook.console_print, &telegram_hook.console_print};
  for (line_hook* hook : outside) *hook = receive;
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
  // What came before the pane: at most the queue's cap from outside, once.
  std::deque<waiting_line> lines;
  lines.swap(s.waiting);
  for (waiting_line& w : lines) show(w.kind, std::move(w.text), w.own);
  return 1;
}

void console_update() {
  s.received = 0;
  if (!s.open) return;
  while (!s.waiting.empty() && outside_budget_left()) {
    waiting_line w = std::move(s.waiting.front());
    s.waiting.pop_front();
    show_outside(w.kind, std::move(w.text));
  }
  if (s.waiting.empty() && s.flood) {
    log_note("console: %ld lines from outside were left out", s.left_out);
    s.flood = false;
    s.left_out = 0;
  }
}

void console_own_begin() {
  if (s.own_depth++ == 0) s.own_shown = 0;
}

int console_own_end() {
  if (s.own_depth > 0) --s.own_depth;
  return s.own_shown;
}

void console_term() {
  delete s.view;
  s.view = nullptr;
  s.open = false;
  s.shown.clear();
  s.lines.clear();
  s.own_length = 0;
}

void console_size(int x1, int x2, int y1, int y2) {
  if (s.view) s.view->move(x1, y1, x2 - x1, y2 - y1);
}

void console_line(int kind, const char* line) {
  kind = clamp_kind(kind);
  std::string text = clean(kind, line);
  const bool own = s.own_depth > 0;
  if (own) ++s.own_shown;
  if (s.open)
    show(kind, std::move(text), own);
  else
    s.waiting.push_back(waiting_line{std::move(text), kind, own});
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
