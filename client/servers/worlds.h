#pragma once
// The universe's list of running worlds on the worlds page: names, user counts, a status
// icon each, the current world marked, sorting, filters and a refresh every minute while
// the page is shown. Window thread only.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "client/core/control_ids.h"
#include "client/core/page_view.h"

struct universe_world_entry;

constexpr int WORLDS_BUCKETS = 199;
constexpr uint32_t WORLDS_REFRESH = 60000;
constexpr int WORLDS_STATUS_CLOSED = 2;

enum WorldsImage {
  WORLDS_IMAGE_STATUS0 = 0,
  WORLDS_IMAGE_STATUS1 = 1,
  WORLDS_IMAGE_CLOSED = 2,
  WORLDS_IMAGE_CURRENT = 3,
};
enum WorldsSort { WORLDS_SORT_NAME = 0, WORLDS_SORT_USERS = 1 };

// The list as the logic sees it; items are the view's own non-zero handles.
class WorldsListView : public PageListView {
 public:
  ~WorldsListView() override;
  // Appends a row (the logic adds them in sorted order); returns its handle.
  virtual intptr_t add(const char* name, const char* users, int image) = 0;
  virtual void set_image(intptr_t item, int image) = 0;
  virtual void set_column_title(int column, const char* text) = 0;
  virtual void set_column_width(int column, int width) = 0;
  virtual intptr_t selected() = 0;  // 0: none
};
using worlds_list_maker = WorldsListView* (*)();
void worlds_set_list_maker(worlds_list_maker maker);
// The view tells the logic when it goes.
void worlds_list_destroyed(WorldsListView* view);

// Modules this one calls, filled by their own init; a null entry is skipped with the fall-back named.
struct worlds_hooks {
  // Fall-back: the teleport module.
  void (*teleport)(const char* name, float x, float y, float z, float yaw, int history);
  int (*teleport_dialog)(const char* name);
  // Gives the focus back to the main window (fall-back: the program's).
  void (*set_focus)();
  // The current world's name (fall-back: the world connection's).
  const char* (*current_world)();
  // Kiosk mode: the list takes no clicks (fall-back: the program's).
  bool (*kiosk)();
};
extern worlds_hooks worlds_hook;
worlds_hooks worlds_default_hooks();

// Makes the list (hidden), reads [layout]; connects reply 14 and the world connection's
// marking. Returns 0.
int worlds_init();
void worlds_show();
void worlds_hide();
void worlds_move_window(int x, int y, int width, int height);
// Universe reply 14.
void worlds_receive_list(int rc, const std::vector<universe_world_entry>& worlds);
void worlds_mark_current(const char* name);
// Task "worlds".
void worlds_update();
void worlds_refresh();
// What the list's window tells the logic.
void worlds_list_click();
void worlds_list_right_click();
void worlds_list_column_click(int column);
void worlds_list_focused();

// Accessors (tests).
struct worlds_row {
  const char* name;
  int users;
  int status;
  int image;
  intptr_t item;
};
int worlds_count();             // records in the last list
size_t worlds_shown();          // rows in the view, in view order
bool worlds_row_at(size_t index, worlds_row* out);
int worlds_sort_mode();
const char* worlds_marked();    // "" when none
bool worlds_is_shown();
// Forgets everything (tests).
void worlds_reset();
