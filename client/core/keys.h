#pragma once
// Keyboard state by virtual-key code: latched (set on press, cleared when read) and held.

// The virtual-key codes the program looks at by name (the window procedure, the builder's
// keys and the movement; the key tables use the same codes).
enum : int {
  VK_KEY_RBUTTON = 0x02,
  VK_KEY_CLEAR = 0x0C,
  VK_KEY_SHIFT = 0x10,
  VK_KEY_CONTROL = 0x11,
  VK_KEY_PRIOR = 0x21,
  VK_KEY_NEXT = 0x22,
  VK_KEY_END = 0x23,
  VK_KEY_HOME = 0x24,
  VK_KEY_LEFT = 0x25,
  VK_KEY_UP = 0x26,
  VK_KEY_RIGHT = 0x27,
  VK_KEY_DOWN = 0x28,
  VK_KEY_INSERT = 0x2D,
  VK_KEY_DELETE = 0x2E,
  VK_KEY_ADD = 0x6B,
  VK_KEY_SUBTRACT = 0x6D,
};

void key_down(unsigned code);
void key_up(unsigned code);
// A latched key gives true once; else whether it is held. Codes above 255 give false.
bool key_pressed(unsigned code);
// Clears both tables (focus loss).
void key_reset();
