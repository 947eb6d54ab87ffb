#pragma once
// The one place where Qt's keys become the virtual-key codes the key tables use.
#include <Qt>

class QtHost;

// The virtual-key code of a Qt key, 0 when it has none. keypad: the key came from the
// numeric pad (its plus and minus are keys of their own).
int keymap_virtual_key(int qt_key, bool keypad);

// The host's held keys follow the keyboard whichever window or control of ours has it, and
// a key let go there is let go in the key tables too; when the keyboard leaves the program
// every key is let go (nothing of ours would see it rise). Call once a QApplication exists.
void keymap_track_keys(QtHost& host);
