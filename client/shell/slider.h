#pragma once
// The splitters of the main window: the horizontal one above the chat area ([layout] chaty)
// and the two vertical ones beside the 3D view ([layout] tabx, webx). A drag runs from the
// button press on the main window to its release; meanwhile each frame draws the drag bar
// instead of running the tasks. Each splitter keeps the share of the window the user last gave
// it: a resized window places it by that share (the settings keep the pixels in effect).

// What the splitters need of the window system, in the main window's client coordinates.
class SplitterView {
 public:
  virtual ~SplitterView();
  virtual void pointer(int* x, int* y) = 0;
  virtual void capture() = 0;
  // Ends the capture; the window then reports the capture lost (slider_end, vslider_end).
  virtual void release() = 0;
  // The 4-pixel drag bar from (x0, y0) to (x1, y1), drawn over everything; erased when
  // shown is false.
  virtual void bar(bool shown, int x0, int y0, int x1, int y1) = 0;
  enum Cursor { ARROW, SIZE_NS, SIZE_WE };
  virtual void cursor(Cursor shape) = 0;
};
void slider_set_view(SplitterView* view);

// Below the toolbar (and gesture row): the extra room the layout keeps above the splitter.
constexpr int SLIDER_TOP_ROOM = 10;

void slider_init();
int slider_begin(int y);
int slider_limit(int left, int right, int client_height);
void slider_set(int y);
void slider_release();
void slider_end();
int slider_update();
int slider_position();

void vslider_init();
int vslider_begin(int x);
void vslider_limit(int top, int bottom, int client_width, int* tabx, int* webx);
void vslider_set(int tabx, int webx);
void vslider_release();
void vslider_end();
int vslider_update();
int vslider_tabx();
int vslider_webx();

// What the splitters read of the other panes (filled by the program's start-up).
struct slider_hooks {
  int (*top_height)();       // toolbar and gesture row
  int (*bottom_height)();    // status bar
  bool (*web_shown)();       // the web pane right of the 3D view
  void (*relayout)();
};
extern slider_hooks slider_hook;

void slider_reset();
