#pragma once
// The object properties dialog: a modeless window beside the main window showing the object
// being built (model name, description, action text, owner number in edits; owner's name and
// build time), with a menu and toolbar of the builder's commands. Created on first use,
// hidden (never destroyed) when the selection ends. Window thread only.
#include <cstddef>
#include <cstdint>

#include "client/core/control_ids.h"

class DialogView;
class DialogController;
struct element;

constexpr size_t PDIALOG_EDIT_LIMIT = 250;

// The window layer (the Qt side, or a scripted view in tests). Without one the dialog keeps
// its controls in a scripted view of its own, so the builder works headless.
struct pdialog_window_ops {
  // A new hidden window bound to the controller; commands, closing and moves come back
  // through it and pdialog_moved / pdialog_key.
  DialogView* (*create)(DialogController& controller);
  void (*show)(DialogView* view, bool shown);  // shown without activation
  void (*move)(DialogView* view, int x, int y);
  void (*size)(DialogView* view, int* width, int* height);
  // The toolbar button of a command (the menu item goes through DialogView::enable).
  void (*toolbar_enable)(DialogView* view, int id, bool on);
};
void pdialog_set_window(const pdialog_window_ops* ops);  // nullptr: scripted, headless

// Modules this one calls, filled by their own init. A null entry is skipped with the fall-back named.
struct pdialog_hooks {
  // The main command dispatcher (filled by pdialog_init; null: builder commands go to
  // pick_command).
  void (*menu_handle)(int id);
};
extern pdialog_hooks pdialog_hook;

void pdialog_init(void* main_window, void* instance);
void pdialog_enable(const element* e);
void pdialog_show();
void pdialog_hide();
int pdialog_enabled();
void pdialog_reset_texts();
// Read the edits into buffer (at most 255 bytes and size - 1).
void pdialog_model(char* buffer, size_t size);
void pdialog_description(char* buffer, size_t size);
void pdialog_action(char* buffer, size_t size);
int32_t pdialog_owner();
// The universe's reply with a citizen's name.
void pdialog_citizen_name(int rc, int32_t number, const char* name);
void pdialog_set_texts();

// From the window layer: the dialog moved to (x, y); a key in an edit (virtual-key code,
// alt held). pdialog_key returns true when it handled the key.
void pdialog_moved(int x, int y);
bool pdialog_key(int control, int key, bool alt);

// State (tests).
DialogView* pdialog_view();  // null before first use
bool pdialog_visible();
int32_t pdialog_awaited();
// Forgets the dialog and the name table (tests).
void pdialog_term();
