#pragma once
// The mouse's two modes: picker (the normal pointer, selecting objects) and mover (the
// pointer hidden and held at the centre of the 3D view, its movement steering the user).

// What the modes need of the window system; positions on the screen.
class PointerView {
 public:
  virtual ~PointerView();
  virtual void position(int* x, int* y) = 0;
  virtual void set_position(int x, int y) = 0;
  virtual void show(bool shown) = 0;
  // The viewport window's rectangle on the screen.
  virtual void viewport_rect(int* left, int* top, int* right, int* bottom) = 0;
};
void mouse_set_view(PointerView* view);

enum MouseMode : int { MOUSE_PICKER = 0, MOUSE_MOVER = 1 };

// Picker mode; enables the mover's toolbar button; fills the hooks of the modules that
// read the mode.
void mouse_init();
void mouse_as_mover();
void mouse_as_picker();
void mouse_activate();
void mouse_deactivate();
int mouse_is_mover();
int mouse_is_picker();
// The pointer's movement from the centre (turn to the left and forward positive), then
// back to the centre.
void mouse_delta(int* turn, int* forward);
// The pointer in the viewport's client area.
void mouse_position(int* x, int* y);
void mouse_reset();
