#pragma once
// The console: the read-only pane above the chat line where chat lines and the program's
// notices appear, coloured by kind, oldest trimmed past 30000 characters. Lines printed
// before the pane exists wait and are shown in the order they came. Kinds 0, 1, 3 and 6 also
// go to the chat log. Lines from outside (the world, other users, join requests, telegrams)
// are shown CONSOLE_FRAME_LINES a frame and CONSOLE_SECOND_LINES a second at most; more wait,
// up to CONSOLE_QUEUE_MAX, and beyond that are left out with one notice. The person's own
// lines stay in the pane while lines from outside go. Window thread only.
#include <cstdint>

enum ConsoleKind {
  CONSOLE_CHAT = 0,       // black
  CONSOLE_SPEAKER = 1,    // black, bold: public speakers and relayed peer lines
  CONSOLE_BUILD = 2,      // teal: building, privileges, model loading
  CONSOLE_WORLD = 3,      // forest green: joins, teleports, sign-up, world connection
  CONSOLE_TELEGRAM = 4,   // orange red: telegram arrivals
  CONSOLE_TELEGRAM_TEXT = 5,  // orange red, indented, no tab
  CONSOLE_TOURIST = 6,    // grey
};
constexpr int CONSOLE_KINDS = 7;
constexpr int CONSOLE_LIMIT = 30000;  // running length past which the oldest line goes
constexpr int CONSOLE_LINE_MAX = 4096;
constexpr int CONSOLE_HANGING_TWIPS = 1700;
constexpr int CONSOLE_INDENT_TWIPS = 250;
constexpr int CONSOLE_FRAME_LINES = 40;   // lines from outside shown in one frame
constexpr int CONSOLE_SECOND_LINES = 50;  // and in one second (of the frame clock)
constexpr int CONSOLE_QUEUE_MAX = 1000;   // lines from outside waiting for their frame
constexpr int CONSOLE_LEFT_OUT_MSG = 650;  // the notice that lines were left out

// The pane as the module drives it. Line breaks are paragraph breaks.
class ConsoleView {
 public:
  virtual ~ConsoleView();
  // Adds a paragraph at the end (text may hold '\t' and further '\n'), scrolled into view.
  // indent_twips: hanging indent with a tab stop at it, or (indented) a start indent.
  virtual void append(const char* text, uint32_t colour, bool bold, bool indented, int indent_twips) = 0;
  // Removes the paragraph of that index (0 the oldest) with its break.
  virtual void remove_line(int index) = 0;
  virtual void move(int x, int y, int width, int height) = 0;
};
using console_view_maker = ConsoleView* (*)();
void console_set_view_maker(console_view_maker maker);

// Makes the pane (1) and shows the waiting lines; 0 when there is no pane to make.
int console_init(void* main_window);
void console_term();
void console_size(int x1, int x2, int y1, int y2);
// Formats and shows a line (formats are the program's own, never a received text).
void console_print(int kind, const char* format, ...) __attribute__((format(printf, 2, 3)));
// A finished line of the program's own (never read as a format), shown at once.
void console_line(int kind, const char* line);
// Each frame (the chat task): the frame's budget starts again and waiting lines are shown.
void console_update();
// Between the two, lines that arrive through the outside hooks are the person's own words
// (the echo of what they said, or that it was not sent) and are shown at once, and kept when
// the pane is full. console_own_end gives the lines shown since console_own_begin.
void console_own_begin();
int console_own_end();

// What is shown, for the window's tests: the text with "\r\n" between lines, the running
// length, and the lines still waiting.
const char* console_text();
int console_length();
int console_waiting();
ConsoleView* console_view();
// The colour of a kind (0x00BBGGRR).
uint32_t console_colour(int kind);
// Tests: back to the state before start-up (the pane is dropped, not destroyed).
void console_reset_for_test();
