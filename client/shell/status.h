#pragma once
// The status bar at the bottom of the main window: panes in bar order, each as wide as its
// share of the weights. Modules add a pane, change its text and remove it; the bar sends a
// text to the window only when it changed. Window thread only.
#include <cstddef>

// The bar as the logic sees it.
class StatusBarView {
 public:
  virtual ~StatusBarView();
  // The bar's own height in its client area (without the border line).
  virtual int client_height() = 0;
  // The right edge of each part (count 0: one empty part, the bar of no panes).
  virtual void set_parts(const int* edges, size_t count) = 0;
  virtual void set_text(size_t part, const char* text) = 0;
  virtual void move(int x, int y, int width, int height) = 0;
};
using status_bar_maker = StatusBarView* (*)();
void status_set_bar_maker(status_bar_maker maker);
// The view tells the logic when it goes.
void status_bar_destroyed(StatusBarView* view);

// The pane that holds the world connection's status text.
constexpr int STATUS_WORLD_WEIGHT = 40;

// Makes the bar and gives the visibility range, the altitude and the world status their
// panes (fills their hooks). Returns 1, or 0 when the bar cannot be made.
int status_init();
// A pane at the end of the bar; its handle (non-zero), 0 when there is no bar.
int status_create(int weight);
void status_destroy(int pane);
void status_change(int pane, const char* text);
// A meter's value (frame rate, bandwidth, altitude, range, world time), set as often as every
// frame: shown as status_change shows it, traced only under the tasks switch.
void status_show_value(int pane, const char* text);
// Places the bar along the bottom of a client area width wide whose bottom is at bottom.
void status_size(int width, int bottom);
// The bar's height (client height + 1), 0 when there is none.
int status_height();

// Accessors (tests, meters).
size_t status_count();
// The right edges the bar was last given; false past the end.
bool status_edge(size_t index, int* edge);
const char* status_text(int pane);  // null for an unknown pane
// Forgets every pane and the bar (tests).
void status_reset();
