#pragma once
// The one place where Qt's keys become the virtual-key codes the key tables use.
#include <Qt>

// The virtual-key code of a Qt key, 0 when it has none. keypad: the key came from the
// numeric pad (its plus and minus are keys of their own).
int keymap_virtual_key(int qt_key, bool keypad);
