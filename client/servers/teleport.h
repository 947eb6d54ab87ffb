#pragma once
// Teleports: moving the user within the current world or to a named world, the start-up
// chain that picks the first world, the home setting, the Teleport dialog (605) and the
// remembered teleports kept in "teleport.txt" and shown as a tree. Window thread only.
#include <cstddef>
#include <cstdint>
#include <string>

#include "client/core/control_ids.h"
#include "client/core/page_view.h"

// Stages of the start-up chain.
enum TeleportStage {
  TELEPORT_STAGE_START = 0,
  TELEPORT_STAGE_COMMAND_OR_HOME = 1,
  TELEPORT_STAGE_DEFAULT_WORLD = 2,
  TELEPORT_STAGE_BUILT_IN = 3,
  TELEPORT_STAGE_IN_WORLD = 4,
};

constexpr int TELEPORT_LINE_LIMIT = 255;  // longest line of "teleport.txt" that is read
constexpr int TELEPORT_FIELD_LIMIT = 255; // dialog fields
extern const char* const teleport_built_in_world;  // "tz"
extern const char* const teleport_file_name;       // "teleport.txt"
extern const char* const teleport_sound;           // "deport1.wav"

// Modules a teleport calls that are not all part of the program yet; a null entry is
// skipped with the fall-back named. Texts are valid during the call only.
struct teleport_hooks {
  // The own position (fall-back: nothing moves; getters read 0).
  void (*self_set_position)(float x, float y, float z, float yaw);
  float (*self_get_x)();
  float (*self_get_y)();
  float (*self_get_z)();
  float (*self_get_yaw)();
  int (*self_flying)();
  void (*self_set_flying)(int flying);
  const char* (*self_position_text)();  // fall-back: the place text of the own position
  // A command run as the user's own action at the next frame (fall-back: dropped).
  void (*behavior_post)(const char* text);
  void (*sound_effect)(const char* name);
  // Console line (kind 3: world notices).
  void (*console_print)(int kind, const char* line);
  // The one-line prompt; null when cancelled (fall-back: dialog 617 of this module).
  const char* (*prompt_text_small)(const char* title, const char* label, const char* default_text);
};
extern teleport_hooks teleport_hook;
// The program's entries: every module that is built; the rest null.
teleport_hooks teleport_default_hooks();

// The remembered teleports' tree as the logic sees it. The program's view is a Qt tree;
// items are the view's own non-zero handles.
class TeleportTreeView : public PageListView {
 public:
  ~TeleportTreeView() override;
  // Appends an item (the logic inserts in sorted order); returns its handle.
  virtual intptr_t add(const char* label) = 0;
  virtual void set_item_text(intptr_t item, const char* label) = 0;
  virtual void select(intptr_t item) = 0;  // 0: none
  // Starts editing the item's label in place.
  virtual void edit_label(intptr_t item) = 0;
};
// Makes the tree under the main window; the view belongs to whoever made it and tells the
// logic when it goes (teleport_tree_destroyed). nullptr: no tree.
using teleport_tree_maker = TeleportTreeView* (*)();
void teleport_set_tree_maker(teleport_tree_maker maker);
void teleport_tree_destroyed(TeleportTreeView* view);

// What the tree's window tells the logic. item 0: none under the pointer.
void teleport_tree_left_down(intptr_t item);
void teleport_tree_right_down(intptr_t item);
void teleport_tree_right_up();
// True when label editing may start (page shown, started by menu item 100).
bool teleport_tree_begin_edit(intptr_t item);
// text null: cancelled (Escape).
void teleport_tree_end_edit(intptr_t item, const char* text);

// Moves the user; with a name, the world connection is asked by the task.
void teleport(const char* name, float x, float y, float z, float yaw, int history);
// A warp or world change whose coordinates hold even where local teleports are forbidden.
void teleport_keep_coordinates(const char* name, float x, float y, float z, float yaw);
void teleport_allow_within_world();
void teleport_forbid_within_world();
// Called by the world connection when the world is entered.
void teleport_apply();
int teleport_pending();
// Task "teleport".
void teleport_update();

// Home ([start] world and location).
void teleport_set_home();
int teleport_home();

// Modal dialog 605; returns the code it ended with.
int teleport_dialog(const char* world_name);
// Remembers the own position under a label the user gives.
void teleport_remember();

// The tree page. teleport_init returns 0.
int teleport_init();
void teleport_show();
void teleport_hide();
void teleport_move_window(int x, int y, int width, int height);

// Place texts: "%.1f%c %.1f%c %.1fa %.0f" (N/S from z, W/E from x, height, yaw in 0..360),
// with the world name in front when world is given.
std::string teleport_place_text(const char* world, float x, float y, float z, float yaw);

// A remembered teleport.
struct teleport_entry {
  std::string label;
  std::string place;
  intptr_t item = 0;
};
// Reads and writes "teleport.txt" in the program directory: 0 on success.
int teleport_load(const char* path);
int teleport_save(const char* path);
// Newest first.
size_t teleport_count();
const teleport_entry* teleport_entry_at(size_t index);
void teleport_refill();

// Accessors (tests and the history).
int teleport_stage();
bool teleport_within_world_allowed();
const char* teleport_waiting_name();  // null when none
const char* teleport_current_target();
void teleport_target(float* x, float* y, float* z, float* yaw);
bool teleport_shown();
// Forgets everything (tests): stage 0, no list, no view.
void teleport_reset_state();
