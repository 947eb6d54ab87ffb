#pragma once
// Clicks in the 3D view: a left click runs the object's "activate" trigger or opens its
// action as an address; a right click selects the object (or opens an avatar's menu).

// Modules not on every build; a null entry is skipped.
struct view_click_hooks {
  void (*web_navigate)(const char* url, int flags);
  // True when the click was on an avatar and its menu took it.
  int (*avatar_popup_menu)(int x, int y);
  int (*mouse_is_mover)();
  void (*mouse_as_picker)();
};
extern view_click_hooks view_click_hook;

// Coordinates in the viewport's client area.
void viewport_click(int x, int y);
void viewport_right_click(int x, int y);
// True when an action text is opened as an address: no blank and not "sound:".
bool viewport_action_is_address(const char* action);
