#pragma once
// The program's entry, start-up, shutdown and world-change reset, and the main module's
// state that every other module reads through the accessors below.
#include <cstddef>
#include <cstdint>

// Frame states (frame.h has the step that moves between them).
enum : int32_t {
  FRAME_WAIT_UNIVERSE = 0,
  FRAME_WAIT_LOGIN = 1,
  FRAME_LOGIN_DIALOG = 2,
  FRAME_IDLE = 3,
  FRAME_START_3D = 4,
  FRAME_RUNNING = 5,
  FRAME_SHUT_DOWN = 6,
};

// The frame timer: id 1, every 500 ms.
enum : int { TESSEL_TIMER_ID = 1, TESSEL_TIMER_MS = 500 };

// The whole program: single-instance test, start-up, the loop, shutdown. Returns the exit code.
int tessel_main(const char* command_line, int show_command);
// Start-up in the order of the registered tables. Returns non-zero (the frame timer id) when the loop is to
// run; 0 when start-up stopped (a fatal step has then already run the shutdown).
int tessel_init(int no_web_pane, const char* command_line, int show_command);
// Runs every terminate function, shows text (when not null) in an "Error" box, closes the
// engine, destroys the main window and sets frame state 6. Always returns 0.
int tessel_shutdown(const char* text);
// Frame state 4: the 3D side. 1 on success, else the shutdown's 0.
int tessel_start_3d();
// A change of world (or of its object path or contents marker): every module's reset.
void tessel_reset_modules();
// Stops the frame timer and ends the loop (as closing the main window does).
void tessel_quit();
// A quit asked for from outside (a termination signal): start-up ends at its next step, and
// from then on the shutdown and any later note show no box (their texts go to the log).
void tessel_request_quit();
bool tessel_quit_requested();
// True while the start-up steps run (no loop exists yet to end).
bool tessel_starting();
// Around modal work: the loop then blocks and frames come only from the 500 ms timer.
void tessel_background();
void tessel_foreground();

// Runs a nested loop until done(user) is true, between tessel_background and
// tessel_foreground; frames go on from the 500 ms timer meanwhile. Returns the host's answer.
// Every call advances the modal generation: code that hands a received message to a handler
// that may get here passes a copy the handler owns, and after the handler returns compares
// the generation to learn that nested frames may have moved its stream on.
bool tessel_modal(bool (*done)(void* user), void* user);
uint32_t tessel_modal_generation();

// Hands one received message to its handler. The handler reads a private copy that stays
// valid until it returns, whatever nested frames (a dialog it opens) do to the connection's
// own buffers meanwhile. Returns true when a modal loop ran inside the handler: the caller's
// saved positions into its stream are then stale and it must re-read its state before going on.
using tessel_reply_fn = void (*)(const uint8_t* message, size_t length, void* user);
bool tessel_dispatch(const uint8_t* message, size_t length, tessel_reply_fn handler, void* user);

// Accessors.
bool tessel_window();  // the main window exists
const char* tessel_directory();
// The start-up step that opens the trace log and then sees to the person's files: every one
// of them (settings, trace logs, chat log, contacts, teleports, telegrams, the cache's pairs)
// made the owner's alone with a log line each, the settings writer's leftovers removed, and
// one warning box when the settings cannot be saved (the reason named).
int tessel_step_log();
// What the program directory step found wrong, for its error box.
extern char tessel_directory_problem[4400];
bool tessel_in_background();
bool tessel_kiosk();
bool tessel_toolbar_shown();
int tessel_show_command();
bool tessel_no_web_pane();
void tessel_set_focus();
int32_t tessel_frame_state();

// The main window's geometry from the saved [layout] values (-1 when absent) and the screen:
// never larger than the screen, and placed by the system unless some of it lies on the screen.
struct MainGeometry {
  int x, y, width, height;  // x == HOST_DEFAULT_POS: the system places the window
};
MainGeometry tessel_main_geometry(int main_x, int main_y, int main_width, int main_height,
                                  int screen_width, int screen_height);

// The program's window procedure and frame step, registered by its wiring (client/app).
struct HostEvent;
void tessel_set_window(long (*procedure)(const HostEvent& event), void (*frame)());

// Tests: forget the main module's state (after a shutdown) so that another start can follow.
void tessel_reset_for_test();
// Internal to the frame module.
void tessel_set_frame_state(int32_t state);
void tessel_set_background(bool on);
void tessel_set_toolbar_shown(bool shown);
