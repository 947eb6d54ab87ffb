#pragma once
// Toolbars: a row of image buttons under the menu bar. The main toolbar carries the history,
// camera, mover and web buttons; every operation does nothing without a toolbar.
#include <cstddef>

enum ToolbarStyle : int { TOOLBAR_SEPARATOR = 0, TOOLBAR_BUTTON = 1, TOOLBAR_CHECK = 2 };
enum ToolbarState : int { TOOLBAR_DISABLED = 0, TOOLBAR_ENABLED = 1 };

struct toolbar_button {
  int image;  // index in the button strip ("buttonNN.png"), -1 for a separator
  int id;     // command id, 0 for a separator
  int state;
  int style;
};
// The main toolbar's 18 entries.
extern const toolbar_button toolbar_main_buttons[18];

// The bar as the logic sees it.
class ToolbarView {
 public:
  virtual ~ToolbarView();
  virtual void add(const toolbar_button& button, const char* tooltip) = 0;
  virtual void set_enabled(int id, bool on) = 0;
  virtual void set_checked(int id, bool on) = 0;
  virtual void set_button_shown(int id, bool shown) = 0;
  virtual void set_shown(bool shown) = 0;
  // Lays the buttons out across width; the bar's client height.
  virtual int autosize(int width) = 0;
};
using toolbar_view_maker = ToolbarView* (*)();
void toolbar_set_view_maker(toolbar_view_maker maker);
void toolbar_view_destroyed(ToolbarView* view);

struct toolbar;

// Fills the history's toolbar entry.
void toolbar_init();
// The main toolbar from count buttons; null when its window cannot be made.
toolbar* toolbar_create(size_t count, const toolbar_button* buttons);
toolbar* toolbar_main();
void toolbar_autosize();
void toolbar_check(int id);
void toolbar_uncheck(int id);
void toolbar_enable(int id);
void toolbar_disable(int id);
void toolbar_hide_button(int id);
void toolbar_show_button(int id);
void toolbar_hide();
void toolbar_show();
// Client height + 1 while shown; 0 when hidden or when there is none.
int toolbar_height();
// The tool tip's message number for a command id; 0 for an unknown one.
int toolbar_tooltip_message(int id);
// The tool tip's text ("Unknown!" for an unknown id).
const char* toolbar_tooltip(int id);

// Accessors (tests).
bool toolbar_is_enabled(int id);
bool toolbar_is_checked(int id);
void toolbar_reset();
