#pragma once
// The object action language: every object's action text (at most 255 characters) says what
// the object does when it is created, bumped, clicked or when one of its animations ends.
// behavior_check fetches in advance what the commands will need; behavior_trigger runs the
// first clause of a trigger; behavior_post queues a command of the user's own for the task
// "behavior". Window thread only; one run at a time.
#include <cstdint>

struct element;
struct model_instance;

enum { BEHAVIOR_TEXT_SIZE = 256 };  // work area: 255 characters and the terminator

// Trigger words.
#define BEHAVIOR_CREATE "create"
#define BEHAVIOR_BUMP "bump"
#define BEHAVIOR_ACTIVATE "activate"
#define BEHAVIOR_ADONE "adone"

// Runs the first clause of the element's action text whose trigger word is trigger.
// 1: the clause ran without error, or no clause has that trigger; 0: no element or text, or
// an error.
int behavior_trigger(element* e, const char* trigger);
// Parses every clause in check mode and starts the downloads its commands will need.
// 1 when the whole text parsed, else 0.
int behavior_check(element* e);
// Keeps a copy of text (replacing one not yet run) for the next behavior_update.
void behavior_post(const char* text);
// Task "behavior": runs the first command of a posted text, then frees it.
void behavior_update();
// Drops a posted text (world change, shutdown, tests).
void behavior_reset();

// Modules the commands reach, filled by their own init; a null entry is skipped.
struct behavior_hooks {
  // The web pane: skip_teleport 1 for pages opened by an object on its own.
  int (*web_navigate)(const char* url, int skip_teleport);
  // Signs: the object's sign shows text in colour on background (colour names or hex;
  // null or empty gives white on blue).
  void (*sign_create)(model_instance* object, const char* text, const char* color,
                      const char* background);
  // Mouse modes and picking.
  int (*mouse_is_mover)();
  int (*mouse_is_picker)();
  void (*mouse_as_picker)();
  void (*pick_off)();
};
extern behavior_hooks behavior_hook;
