#pragma once
// Keyboard state by virtual-key code: latched (set on press, cleared when read) and held.

void key_down(unsigned code);
void key_up(unsigned code);
// A latched key gives true once; else whether it is held. Codes above 255 give false.
bool key_pressed(unsigned code);
// Clears both tables (focus loss).
void key_reset();
