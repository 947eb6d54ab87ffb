#pragma once
// The Host: how logic reaches the window system. The program's Host is Qt-based (client/ui);
// tests and scripted runs use HeadlessHost. The logic speaks to it in the system's own terms:
// one main window with a window procedure, a 500 ms frame timer, the splash box addressed by
// its control ids, message boxes and nested modal loops.
#include <cstddef>
#include <cstdint>
#include <set>

// Message box flags: one button set, optionally one icon, optionally task-modal.
enum : unsigned {
  HOST_MB_OK = 0x0000,
  HOST_MB_OKCANCEL = 0x0001,
  HOST_MB_YESNO = 0x0004,
  HOST_MB_BUTTONS = 0x000F,  // mask of the button set
  HOST_MB_ICONERROR = 0x0010,
  HOST_MB_ICONWARNING = 0x0030,
  HOST_MB_ICONINFORMATION = 0x0040,
  HOST_MB_ICONS = 0x00F0,  // mask of the icon
  HOST_MB_TASKMODAL = 0x2000,
};

// Message box answers.
enum : int {
  HOST_IDOK = 1,
  HOST_IDCANCEL = 2,
  HOST_IDYES = 6,
  HOST_IDNO = 7,
};

// What the window system tells the main window's procedure. Our own numbering.
enum HostMessage : int {
  HOST_WM_DESTROY = 1,
  HOST_WM_MOVE,            // x, y: new position
  HOST_WM_SIZE,            // wparam: HOST_SIZE_*; x, y: client width and height
  HOST_WM_ACTIVATE,        // wparam: non-zero when the window became active
  HOST_WM_ACTIVATEAPP,     // wparam: non-zero when the program became active
  HOST_WM_KILLFOCUS,
  HOST_WM_PAINT,
  HOST_WM_KEYDOWN,         // wparam: virtual-key code
  HOST_WM_KEYUP,
  HOST_WM_SYSKEYDOWN,
  HOST_WM_SYSKEYUP,
  HOST_WM_CHAR,            // wparam: character code (Windows-1252)
  HOST_WM_COMMAND,         // wparam: command id
  HOST_WM_SYSCOMMAND,      // wparam: HOST_SC_*; y: the command's high word (0 here)
  HOST_WM_TIMER,           // wparam: timer id
  HOST_WM_CLOSE,
  HOST_WM_LBUTTONDOWN,     // x, y: client position
  HOST_WM_LBUTTONUP,
  HOST_WM_LBUTTONDBLCLK,
  HOST_WM_RBUTTONDOWN,
  HOST_WM_CAPTURECHANGED,
};

enum : int { HOST_SIZE_RESTORED = 0, HOST_SIZE_MINIMIZED = 1, HOST_SIZE_MAXIMIZED = 2 };

// System commands, with the values the kiosk filter tests.
enum : int {
  HOST_SC_MINIMIZE = 0xF020,
  HOST_SC_CLOSE = 0xF060,
  HOST_SC_RESTORE = 0xF120,
};

// A window procedure's answer that asks for the default handling.
constexpr long HOST_DEFAULT = -0x7FFFFFFF;

struct HostEvent {
  int message;
  intptr_t wparam;
  int x, y;
};
using HostWindowProc = long (*)(const HostEvent& event);

// The main window's outer geometry; x == HOST_DEFAULT_POS lets the system place it.
constexpr int HOST_DEFAULT_POS = -0x7FFF0000;
struct HostRect {
  int x, y, width, height;
};

enum : int { HOST_SHOW_NORMAL = 1, HOST_SHOW_MAXIMIZED = 3 };

// Splash box control ids (dialog 602).
enum : int {
  ABOUT_OK = 1,
  ABOUT_VERSION = 701,
  ABOUT_STATUS = 702,
  ABOUT_BUILD = 703,
  ABOUT_CANCEL = 705,
  ABOUT_PICTURE = 706,
};
using HostCommandFn = void (*)(int id);

// An item of a pop-up menu: id 0 is a separator.
struct HostMenuItem {
  int id;
  const char* text;
  bool enabled;
  bool checked;
};
using HostFdFn = void (*)(int fd, void* user);

// The keys and buttons a host has seen go down and not yet come up (its key_down).
class HostHeldKeys {
 public:
  bool down(int code) const { return held_.count(code) != 0; }
  void set(int code, bool down) {
    if (down)
      held_.insert(code);
    else
      held_.erase(code);
  }

 private:
  std::set<int> held_;
};

class Host {
 public:
  virtual ~Host();
  // Shows a box and returns the button pressed (HOST_ID*).
  virtual int message_box(const char* text, const char* caption, unsigned flags) = 0;
  // Asks the loop to end with this code.
  virtual void post_quit(int code) = 0;
  // Shows a pop-up menu at the pointer; the id chosen, 0 when it was dismissed.
  virtual int popup_menu(const HostMenuItem* items, size_t count) = 0;

  // --- The loop ---
  // Runs until post_quit; returns its code. A quit posted before the call ends it at once.
  virtual int run_loop() = 0;
  // The function run whenever the loop is idle, while the program is in the foreground.
  virtual void set_idle(void (*fn)()) = 0;
  // Foreground: idle frames run; background: only timers and events wake the loop.
  virtual void set_foreground(bool foreground) = 0;
  // Runs a nested loop until done(user) returns true; timers, watched sockets and posted
  // events go on being delivered (idle frames too while in the foreground). Returns false
  // when the loop ended for another reason (a quit posted inside, or a headless limit).
  virtual bool run_modal(bool (*done)(void* user), void* user) = 0;
  // Calls fn on the loop whenever fd is readable; fn == nullptr stops watching.
  virtual void watch_fd(int fd, HostFdFn fn, void* user) = 0;

  // --- The main window ---
  virtual bool window_create(const char* title, const HostRect& rect, int min_width,
                             int min_height, HostWindowProc proc) = 0;
  virtual bool window_exists() = 0;
  virtual void window_show(int show) = 0;
  virtual void window_set_title(const char* title) = 0;
  // Destroys the window: its procedure gets HOST_WM_DESTROY first.
  virtual void window_destroy() = 0;
  virtual HostRect window_rect() = 0;
  virtual bool window_iconic() = 0;
  virtual bool window_maximized() = 0;
  virtual void window_focus() = 0;
  // Brings it to the front, restored when minimised (a second start hands over to us).
  virtual void window_raise() = 0;
  // Sends the event to the procedure later, from the loop.
  virtual void post_event(const HostEvent& event) = 0;
  // Starts (or restarts) timer id, delivered as HOST_WM_TIMER. Returns id, 0 on failure.
  virtual int set_timer(int id, int milliseconds) = 0;
  virtual void kill_timer(int id) = 0;
  virtual void screen_size(int* width, int* height) = 0;
  // Whether the key (virtual-key code) is held down right now.
  virtual bool key_down(int code) = 0;

  // --- The splash box (dialog 602, no title) ---
  // Creates it hidden; button presses come back through command. False when it cannot be made.
  virtual bool about_create(HostCommandFn command) = 0;
  virtual bool about_exists() = 0;
  virtual void about_destroy() = 0;
  virtual void about_show() = 0;
  virtual void about_set_text(int control, const char* text) = 0;
  virtual void about_show_control(int control, bool shown) = 0;
  // The splash picture: a bitmap file, painted centred in the picture frame (cut to it when
  // larger); null for none.
  virtual void about_set_picture(const char* bmp_path) = 0;
};

// The host in use: the one set, or a process-wide HeadlessHost that answers every box with
// its default button and prints it to stderr.
Host* host();
// nullptr goes back to the process-wide HeadlessHost. The caller keeps ownership.
void host_set(Host* h);

// The answer of a box's default (first) button.
int host_default_answer(unsigned flags);
