#pragma once
// The animated logo in the top right corner of the main window: it turns while the program
// waits on something (a transfer, an image, the web pane, an object query, or a world that is
// not connected) and rests on frame 1 otherwise. Window thread only.
#include <cstdint>

constexpr int LOGO_FRAMES = 24;
constexpr int LOGO_SIZE = 46;  // the window, border included
constexpr int LOGO_TOP = 3;
constexpr uint32_t LOGO_STEP_MS = 100;
constexpr int LOGO_IDLE_FRAME = 1;

// The logo's child window as the logic sees it.
class LogoView {
 public:
  virtual ~LogoView();
  virtual void move(int x, int y, int width, int height) = 0;
  // Shows frame index (0 to LOGO_FRAMES - 1) at once.
  virtual void show_frame(int index) = 0;
};
using logo_view_maker = LogoView* (*)();
void logo_set_view_maker(logo_view_maker maker);
// The view tells the logic when it goes.
void logo_view_destroyed(LogoView* view);

// Makes the logo's window (fills nothing else). Returns 1, or 0 when it cannot be made.
int icon_init();
// Places the logo against the right edge x of the main window's client area.
void logo_size(int right);
void logo_update();  // task "logo"

// Accessors (tests).
int logo_frame();
bool logo_idle_drawn();
// Whether anything the logo waits on is busy now.
bool logo_busy();
void logo_reset();
