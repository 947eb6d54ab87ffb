#pragma once
// Picking and the builder: the user selects objects in the 3D view with the mouse, moves,
// turns, raises, lowers, duplicates and deletes them, edits their texts in the object
// properties dialog, undoes the edits, and commits them to the world server through the
// props module when the selection is released. Selected elements are out of the visibility
// scheduler's care while selected and drawn with a yellow highlight box. Window thread only.
#include <cstdint>

#include "client/core/control_ids.h"

struct element;

// Builds the highlight template and an empty selection; fills the self and world hooks.
void pick_init();
// A click at view point (x, y). 1 when something was selected or toggled.
int pick_at(int x, int y);
void pick_command(int command);
// Deselects (commits) everything, shows hidden objects no more, focus back to the main window.
void pick_off();
// Task "pick": draws each selected object's highlight box.
void pick_update();
// The server deleted an object: a matching selected entry is dropped.
void pick_object_gone(int cell_x, int cell_z, int32_t number);
int pick_has_selection();
// World change: every entry dropped without sending anything.
void pick_reset();
void pick_enable();
void pick_disable();

// Modules this one calls, filled by their own init. A null entry is skipped.
struct pick_hooks {
  // The key tables (clears held movement keys).
  void (*key_clear)();
  // Console line (kind 2: build results).
  void (*console_print)(int kind, const char* line);
};
extern pick_hooks pick_hook;

// State (tests, dialog).
int pick_count();
element* pick_element(int index);  // newest first; null out of range
int pick_building();
int pick_quadrant();
// Drops the selection and the highlight template (tests; the engine's shutdown frees it too).
void pick_term();
