#pragma once
// The upgrade program: downloads one upgrade kit, waits until tessel has ended and its
// executable can be written, applies the kit through the patch library, restarts tessel.
// The logic is GUI-free; the window is an UpgradeView (Qt in the program, recorded in tests).
#include <cstdint>
#include <string>

#include "client/core/msg.h"
#include "patch/patchw32.h"

struct http_request;

namespace upgrade {

// The program's own texts, ids 1-11.
enum {
  MSG_TITLE = 1,
  MSG_SEARCHING = 2,
  MSG_CANNOT_RECEIVE = 3,
  MSG_USAGE = 4,
  MSG_NO_UPGRADE = 5,
  MSG_NO_SETTINGS = 6,
  MSG_CANNOT_CONNECT = 7,
  MSG_RECEIVING = 8,
  MSG_COUNT_OF = 9,
  MSG_TIMED_OUT = 10,
  MSG_STARTING = 11,
};
// Text id formatted with the arguments into the next of four rotating 512-byte buffers.
const char* msg_v(int id, const MsgArg* args, int count);
template <class... A>
const char* msg(int id, A... args) {
  MsgArg list[sizeof...(A) + 1] = {msg_make_arg(args)...};
  return msg_v(id, list, static_cast<int>(sizeof...(A)));
}

// "address:port" from [proxy] of the settings, the port as written there; null when the
// address is empty or the port is missing, -1, or not a number (said in the log).
const char* proxy_setting();

constexpr unsigned BOX_ICON_ERROR = 0x10;
constexpr unsigned BOX_TASK_MODAL = 0x2000;
constexpr int STALL_LIMIT_MS = 120000;
constexpr int OPEN_ATTEMPTS = 22;
constexpr uint32_t BAR_COLOUR = 0x820000;  // blue 130, as a 0x00BBGGRR value

// The window: two status lines and a progress bar drawn into frame 3.
class UpgradeView {
 public:
  virtual ~UpgradeView() = default;
  // The window and its children; false when they cannot be made.
  virtual bool create() = 0;
  virtual void show() = 0;
  virtual void set_status_line(int line, const char* text) = 0;  // line 1 or 2
  // Fills the bar from (15, 115) to (15 + width, 135); only the filled part is drawn.
  virtual void draw_bar(int width) = 0;
  // Clears the progress area (10, 110)-(290, 140) back to the frame.
  virtual void redraw_progress_area() = 0;
  virtual void message_box(const char* text, const char* title, unsigned type) = 0;
  // Destroys the window; the view then calls upgrade_window_destroyed().
  virtual void destroy() = 0;
  virtual void start_timer() = 0;  // timer 1, as often as the loop allows
  virtual void kill_timer() = 0;
  virtual void post_quit(int code) = 0;
  virtual void pump() = 0;     // dispatch the window's waiting events
  virtual int run() = 0;       // the event loop, until a quit
};

// What the program does to the system around it; tests replace it.
struct UpgradeSystem {
  bool (*main_program_running)(const char* program_dir);
  void (*sleep_ms)(int ms);
  // Starts the command line detached; false when it cannot be started.
  bool (*start_program)(const char* command_line);
  // The patch library's apply entry, or null when the library cannot be loaded.
  patch_apply_fn (*load_patch)();
};
UpgradeSystem upgrade_default_system();

struct UpgradeState {
  UpgradeView* view = nullptr;
  UpgradeSystem system{};
  std::string host, kit, execute;  // the command line's three fields
  std::string program_dir;
  std::string restart_path;        // program directory '/' execute
  http_request* request = nullptr;
  bool window_destroyed = false;
  int window_lock = -1;  // "upgrade.lock" in the program directory, held while the window exists
  // Step state.
  bool busy = false;
  uint32_t start_tick = 0, last_tick = 0;
  uint32_t ring_bytes[15] = {};
  uint32_t ring_ms[15] = {};
  int ring_index = 0;
  int32_t last_received = 0;
  uint32_t rate = 0;
  int32_t open_failures = 0;
  int32_t request_state = 0;
  char current_file[256] = {};
};
UpgradeState& upgrade_state();
void upgrade_reset_state();

// Splits "host kit execute..." at its first two blanks. False when a blank is missing.
bool upgrade_split_command(const std::string& line, std::string* host, std::string* kit, std::string* execute);

// Start-up up to the event loop; then the loop; exit code 0. program_dir: where tessel.ini and
// the executable are.
int upgrade_main(UpgradeView* view, const UpgradeSystem& system, const std::string& command_line,
                 const std::string& program_dir);
// Start-up only (the part before the loop): true when the loop should run.
bool upgrade_start(UpgradeView* view, const UpgradeSystem& system, const std::string& command_line,
                   const std::string& program_dir);
// One timer step.
int upgrade_step();
const char* patch_callback(int id, void* param);
void progress_bar_set(float fraction);
void status_line_1_set(const char* text);
void status_line_2_set(const char* text);
void progress_area_redraw();
int upgrade_fail(const char* text);
// The view reports its window gone: timer off, quit posted, flag set.
void upgrade_window_destroyed();

}  // namespace upgrade
