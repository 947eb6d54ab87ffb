#pragma once
// The tab control beside the 3D view: five pages sharing one rectangle, one shown at a time.
// Each page is a row of the page table (its tab text, its icon, the module that makes it and
// the notifications its control sends). Window thread only.
#include <cstddef>

enum TabPage : int {
  TAB_WORLDS = 0,
  TAB_CONTACTS = 1,
  TAB_TELEGRAMS = 2,
  TAB_TELEPORTS = 3,
  TAB_HELP = 4,
  TAB_PAGES = 5,
  TAB_NO_PAGE = -1,  // a notification from a control that is no page's
};
// Tabs this narrow or narrower show their icons only.
constexpr int TAB_ICONS_ONLY_WIDTH = 91;

// One page. A null entry: the page's module does not take that (an empty row is an empty
// page).
struct tab_page {
  int index;
  int text_message;        // the tab's text
  const char* image;       // the tab's 16 x 16 icon (a file of the program's images)
  int (*init)();           // makes the page's window, hidden
  void (*show)();
  void (*hide)();
  void (*move)(int x, int y, int width, int height);
  // What the page's control tells it.
  void (*click)();
  void (*right_click)();
  void (*column_click)(int column);
  void (*selection_changed)();
  // The page's column widths, written to [layout] under these keys.
  const char* column_keys[2];
};
extern const tab_page tab_pages[TAB_PAGES];

// The control as the logic sees it.
class TabView {
 public:
  virtual ~TabView();
  virtual void set_tab(int index, const char* text, const char* image) = 0;
  virtual void select(int index) = 0;
  virtual void move(int x, int y, int width, int height) = 0;
  // The pages' rectangle inside the control, in the parent's client coordinates.
  virtual void display_rect(int* x, int* y, int* width, int* height) = 0;
};
using tab_view_maker = TabView* (*)();
void tab_set_view_maker(tab_view_maker maker);
void tab_view_destroyed(TabView* view);

// Makes the control and its pages and selects the stored page. 1, or 0 when the control
// cannot be made.
int tab_init();
void tab_size(int left, int right, int top, int bottom);
// The control's selection changed to index.
void tab_select(int index);
// Command 105: the help page.
void tab_show_help();
// Notifications, by the page whose control sent them.
void tab_click(int source);
void tab_right_click(int source);
void tab_column_click(int source, int column);
void tab_selection_changed(int source);
void tab_save_columns(int source, int width0, int width1);

// Accessors (tests).
int tab_current();
bool tab_texts_shown();
void tab_page_rect(int* x, int* y, int* width, int* height);
void tab_reset();
