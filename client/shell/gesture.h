#pragma once
// The gesture row under the toolbar: one button per action of the own avatar, each with a
// shortcut letter of its own; a click (or the letter with Alt) makes the own avatar perform
// it for a while.
#include <cstddef>
#include <string>

class RegisterButtonView;

constexpr int GESTURE_FIRST_ID = 3000;
constexpr int GESTURE_ROW_HEIGHT = 23;

// The row as the logic sees it.
class GestureView {
 public:
  virtual ~GestureView();
  virtual void clear() = 0;
  // The width of a label's text in the interface font ('&' marks the shortcut, not drawn).
  virtual int text_width(const char* label) = 0;
  virtual void add(int x, int y, int width, int height, const char* label, int id) = 0;
  virtual void set_pressed(size_t index, bool pressed) = 0;
  // The sign-up button at the row's start (it sends command 143); null: the row has none.
  virtual RegisterButtonView* make_register_button();
};
void gesture_set_view(GestureView* view);
// The sign-up module's button, made by the row's view (null without one) and given back.
RegisterButtonView* gesture_register_button_create();
void gesture_register_button_destroy(RegisterButtonView* button);

void gesture_init();
// Letters the menu bar already uses (lower case); rebuilds the row once initialised.
void gesture_set_reserved_shortcuts(const char* letters);
// Rebuilds the row; the number of buttons.
int gesture_show();
// 1 when a button's shortcut is c (the button was pressed).
int gesture_key(int c);
// 1 for a gesture button's command id.
int gesture_handle(int id);
int gesture_height();

// The label of each of count actions (NUL-separated names), with '&' before each shortcut.
std::string gesture_label(const char* name, std::string& used, const std::string& reserved);
// Accessors (tests).
size_t gesture_count();
const char* gesture_button_label(size_t index);  // null past the end
char gesture_shortcut(size_t index);
void gesture_reset();
