#pragma once
// Visibility scheduler: which cells around the user are loaded into the scene. Each frame it
// walks a fixed spiral of cell offsets ordered by distance, loading cells from the cell cache
// and creating their elements within a time budget; every 5000 ms it compares the frame rate
// with the user's target and widens or narrows the range; cells out of range are unloaded.
// It also keeps the index of loaded elements that picking, collisions and props search.
// Window thread only.
#include <cstdint>

struct element;
typedef struct VxClumpRec VxClump;

enum {
  VISIBLE_SPIRAL_SIZE = 459,
  VISIBLE_RANGE_MAX = 458,
  VISIBLE_BUCKETS = 503,
  VISIBLE_NEAREST = 9,        // the user's cell and its neighbours, loaded whatever the budget
  VISIBLE_MOVING_LIMIT = 25,  // while moving, loading stops after this entry
  VISIBLE_INTERVAL = 5000,    // ms between frame-rate checks and unloading
};

struct visible_offset {
  int8_t dx, dz;
  int16_t distance;  // tenths of a cell
};
// The spiral: every offset within 12 cells (but six at the rim), by ascending distance.
const visible_offset* visible_spiral();

void visible_init();
void visible_update();
// The task's work once in a world and not gliding (tests drive it directly).
void visible_pass();
void visible_reset();
// Drops a loaded cell so that it is read again from the cache.
void visible_invalidate(int x, int z);
// Takes an element added live: kept when its cell is loaded and lacks its number, else destroyed.
void visible_consider(element* e);
void visible_delete(int x, int z, int32_t number);
element* visible_element(VxClump* clump);
// Takes the element of that clump out of the scheduler's care. 1 when found.
int visible_ignore(VxClump* clump, int* x, int* z, element** out);
// Takes every element of a loaded cell: a new null-terminated array (free it), or null.
element** visible_ignore_all(int x, int z);
// Iteration over one loaded cell: visible_next gives the clump (element in *out), null at the end.
void visible_start(int x, int z);
VxClump* visible_next(element** out);
void visible_toggle();
void visible_set_load_factor(int factor);
void set_minimum_range();
// The minimum range for a [performance] visibility value (tenths of a cell).
int visible_minimum_for(int value);
void visible_reveal_hidden();
void visible_conceal_hidden();
void visible_element_shown(element* e);
void visible_element_hidden(element* e);

// Modules this one calls, filled by their own init. A null entry is skipped with the fall-back named.
struct visible_hooks {
  // Measured frames per second (null: the range is not changed).
  double (*frame_rate)();
  // The settings sheet's [performance] visibility and framerate (fall-back: the settings
  // file, out-of-range values giving 40 and 7).
  int (*perform_visibility)();
  int (*perform_framerate)();
  // The range pane of the status bar (null: no pane) and menu item 120.
  void (*pane_show)(bool shown, int weight);
  void (*pane_text)(const char* text);
  void (*menu_check)(int item, bool checked);
};
extern visible_hooks visible_hook;

// State (tests, status).
int visible_range();
int visible_minimum_range();
int visible_index();
int visible_factor();
int visible_budget();
bool visible_pane_shown();
bool visible_revealing();
bool visible_cell_loaded(int x, int z);
int visible_loaded_cells();
int visible_cell_count(int x, int z);  // elements listed in a loaded cell (0 when not loaded)
void visible_set_range(int range);     // clamped to minimum .. 458
// Frees the index and forgets all state (tests).
void visible_term();
