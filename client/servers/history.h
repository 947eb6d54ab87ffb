#pragma once
// The location history: the places left by teleports, walked back and forward like a
// browser's history. Each entry keeps the world, the position, the camera mode and the
// flying state that were in effect when the place was left. Window thread only.
#include "client/core/control_ids.h"

// The Teleport menu and the toolbar (filled by their own init; null entries are skipped).
struct history_hooks {
  void (*menu_enable)(int id, int enabled);
  void (*toolbar_enable)(int id, int enabled);
};
extern history_hooks history_hook;

// Records the place being left (called by teleport before it moves the user).
void history_add();
// The current entry's world becomes name (the world connection, once a world is entered).
void history_set_world(const char* name);
bool history_can_back();
bool history_can_forward();
// 0 when there is no older (newer) entry, else 1 after moving.
int history_back();
int history_forward();

// One entry, for tests and views; index 0 is the oldest.
struct history_entry_view {
  const char* world;
  float x, y, z, yaw;
  int third_person;
  int flying;
};
int history_count();
int history_current();  // -1 when empty
bool history_entry(int index, history_entry_view* out);
// Forgets every entry (tests).
void history_reset();
