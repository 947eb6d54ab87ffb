#include "upgrade/upgrade.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "client/cache/http.h"
#include "client/core/files.h"
#include "client/core/log.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/tick.h"
#include "client/shell/font.h"
#include "platform/clock.h"
#include "platform/host_instance.h"
#include "platform/library.h"
#include "platform/spawn.h"

namespace upgrade {

namespace {

const char* const kTexts[] = {
    nullptr,
    "Upgrade",
    "Searching...",
    "Unable to receive update (reason %d)",
    "Usage: upgrade <directory> <host> <kit> <execute>",
    "Sorry, there is no upgrade available for this version of Veldara.  Please visit our website at "
    "www.veldara.example and download the latest version from there.",
    "Unable to locate tessel.ini",
    "Unable to connect to network (reason %d)",
    "receiving response",
    "%d of %d",
    "The download has timed out.  Please try again later.",
    "starting",
};
constexpr int kTextCount = sizeof kTexts / sizeof kTexts[0];

// The executable the install replaces (it cannot be opened for writing while it runs).
constexpr const char kExecutable[] = "tessel";
// The downloaded kit, stored in the program directory under a name of its own.
constexpr const char kKitTemplate[] = "/upgrade-kit-XXXXXX";

char results[4][512];
int next_result = 0;
char proxy_text[300];

UpgradeState state;

bool running_default(const char* dir) { return host_instance_running(dir); }
void sleep_default(int ms) { usleep(useconds_t(ms) * 1000); }

// The restart command: the program and its options.
bool start_default(const char* command_line) { return platform_spawn_detached(command_line) == 0; }

patch_apply_fn load_default() {
  void* library = platform_library_open(PATCH_LIBRARY_FILE);
  return library ? reinterpret_cast<patch_apply_fn>(dlsym(library, PATCH_APPLY_SYMBOL)) : nullptr;
}

// Kits stored by upgrades cut short before their install began: none is another upgrade's
// while this one holds the window's lock.
void remove_stale_kits(const std::string& dir) {
  std::vector<std::string> stale;
  file_search* search = nullptr;
  for (const char* n = file_find_first((dir + "/upgrade-kit-??????").c_str(), &search); n; n = file_find_next(search))
    stale.push_back(dir + "/" + n);
  for (const std::string& path : stale) file_delete(path.c_str());
}

// Clears the busy flag whichever way a step ends.
struct StepGuard {
  ~StepGuard() { state.busy = false; }
};

}  // namespace

const char* msg_v(int id, const MsgArg* args, int count) {
  if (trace_switches[TRACE_GENERAL]) log_write("msg (%d)", id);
  const char* text = (id > 0 && id < kTextCount) ? kTexts[id] : "";
  next_result = (next_result + 1) % 4;
  msg_format(results[next_result], sizeof results[0], text, args, count);
  return results[next_result];
}

const char* proxy_setting() {
  const char* address = proxy_setting_address();
  if (!address || !*address) return nullptr;
  std::string a = address;  // the rotating buffer may be reused by the next read
  // The port as it is written: the client's 16-bit reading (a default for a port missing or
  // out of range) would send the kit through a port nobody named.
  std::string given = profile_string("proxy", "port");
  if (given.empty()) return nullptr;
  char* end = nullptr;
  errno = 0;
  long port = std::strtol(given.c_str(), &end, 10);
  if (end == given.c_str() || *end || errno || port < INT_MIN || port > INT_MAX || std::isspace(uint8_t(given[0]))) {
    log_note("upgrade: [proxy] port=\"%s\" is not a number: no proxy", given.c_str());
    return nullptr;
  }
  if (port == -1) return nullptr;
  std::snprintf(proxy_text, sizeof proxy_text, "%s:%ld", a.c_str(), port);
  return proxy_text;
}

UpgradeSystem upgrade_default_system() {
  return UpgradeSystem{running_default, sleep_default, start_default, load_default};
}

UpgradeState& upgrade_state() { return state; }

void upgrade_reset_state() {
  host_instance_unlock(state.window_lock);
  state = UpgradeState{};
  next_result = 0;
}

bool upgrade_split_command(const std::string& line, std::string* host, std::string* kit, std::string* execute) {
  size_t first = line.find(' ');
  if (first == std::string::npos) return false;
  size_t second = line.find(' ', first + 1);
  if (second == std::string::npos) return false;
  *host = line.substr(0, first);
  *kit = line.substr(first + 1, second - first - 1);
  *execute = line.substr(second + 1);
  return true;
}

void status_line_1_set(const char* text) {
  if (state.view) state.view->set_status_line(1, text ? text : "");
}
void status_line_2_set(const char* text) {
  if (state.view) state.view->set_status_line(2, text ? text : "");
}
void progress_area_redraw() {
  if (state.view) state.view->redraw_progress_area();
}

void progress_bar_set(float fraction) {
  if (!state.view) return;
  double width = std::trunc(double(fraction) * -265.0);
  // A value the bar cannot show (NaN, or far past either end) draws nothing or the whole
  // frame's width rather than an undefined conversion.
  if (!(width == width)) width = 0;
  if (width < -2000) width = -2000;
  if (width > 2000) width = 2000;
  state.view->draw_bar(-int(width));
}

int upgrade_fail(const char* text) {
  http_term();
  state.request = nullptr;  // freed with the module
  if (text && state.view) state.view->message_box(text, msg(MSG_TITLE), BOX_ICON_ERROR);
  if (state.view && !state.window_destroyed) state.view->destroy();
  return 0;
}

void upgrade_window_destroyed() {
  if (!state.view) return;
  host_instance_unlock(state.window_lock);
  state.window_lock = -1;
  state.view->kill_timer();
  state.view->post_quit(0);
  state.window_destroyed = true;
}

bool upgrade_start(UpgradeView* view, const UpgradeSystem& system, const std::string& command_line,
                   const std::string& program_dir) {
  upgrade_reset_state();
  state.view = view;
  state.system = system;
  // The window's labels take the interface's normal font.
  font_init();
  if (!view || !view->create()) return false;
  // tessel waits on this lock before it replaces the upgrade program.
  state.window_lock = host_lock_named(program_dir.c_str(), "upgrade.lock");
  if (!upgrade_split_command(command_line, &state.host, &state.kit, &state.execute)) {
    upgrade_fail(msg(MSG_USAGE));
    return false;
  }
  state.program_dir = program_dir;
  while (state.program_dir.size() > 1 && state.program_dir.back() == '/') state.program_dir.pop_back();
  if (state.window_lock >= 0) remove_stale_kits(state.program_dir);
  if (!profile_init(state.program_dir.c_str(), "/tessel.ini")) {
    upgrade_fail(msg(MSG_NO_SETTINGS));
    return false;
  }
  http_set_proxy_source(proxy_setting);
  http_init(STALL_LIMIT_MS);
  state.restart_path = state.program_dir + "/" + state.execute;
  state.request = http_get((state.host + "/" + state.kit).c_str());
  view->show();
  view->start_timer();
  return true;
}

int upgrade_main(UpgradeView* view, const UpgradeSystem& system, const std::string& command_line,
                 const std::string& program_dir) {
  if (upgrade_start(view, system, command_line, program_dir)) {
    view->run();
    upgrade_fail(nullptr);
  }
  return 0;
}

namespace {

void show_receiving() {
  int received = 0, total = 0;
  http_progress(state.request, &received, &total);
  if (received <= 0) {
    // This program loads no message file: the request module's own status texts are empty
    // here, so the line stays blank while the request connects and waits for its answer.
    const char* text = http_state(state.request);
    if (text && !std::strstr(text, "of")) status_line_1_set(text);
    return;
  }
  if (state.start_tick == 0) {
    state.start_tick = state.last_tick = platform_ticks();
    char line[128];
    std::snprintf(line, sizeof line, "Receiving upgrade (%ldK)", long(total / 1024));
    status_line_1_set(line);
    progress_bar_set(0);
    return;
  }
  uint32_t now = platform_ticks();
  if (int32_t(now - state.last_tick) > 1000) {
    int k = state.ring_index;
    state.ring_ms[k] = now - state.last_tick;
    // Sums in 64 bits: 32-bit products overflow above about 4 MB in the ring.
    uint64_t bytes = 0, ms = 0;
    for (int i = 0; i < 15; ++i) {
      bytes += state.ring_bytes[i];
      ms += state.ring_ms[i];
    }
    k = (k + 1) % 15;
    state.ring_index = k;
    state.ring_bytes[k] = 0;
    state.rate = ms ? uint32_t(bytes * 1000 / ms) : 0;
    state.last_tick = now;
    uint64_t elapsed = uint32_t(now - state.start_tick);
    uint64_t average = elapsed ? uint64_t(uint32_t(received)) * 1000 / elapsed : 0;
    if (state.rate == 0 || average == 0) {
      status_line_2_set("Waiting for data...");
    } else {
      uint64_t left = total > received ? uint64_t(total - received) : 0;
      uint32_t seconds = uint32_t(left / average);
      char line[128];
      std::snprintf(line, sizeof line, "Time remaining: %d:%2.2d  (%.1f K/sec)", int(seconds / 60),
                    int(seconds % 60), state.rate * 0.0009765625);
      status_line_2_set(line);
    }
  }
  if (received != state.last_received) {
    state.ring_bytes[state.ring_index] += uint32_t(received - state.last_received);
    state.last_received = received;
    progress_bar_set(float(received) / float(total));
  }
}

// 1 when the install may go on; 0 when this step waits.
int executable_free() {
  if (state.system.main_program_running && state.system.main_program_running(state.program_dir.c_str())) {
    status_line_1_set("Waiting for Veldara Browser to exit...");
    status_line_2_set("");
    return 0;
  }
  std::string path = state.program_dir + "/" + kExecutable;
  if (FILE* f = std::fopen(path.c_str(), "r+")) {
    std::fclose(f);
    return 1;
  }
  int failures = state.open_failures++;
  if (failures > OPEN_ATTEMPTS - 2) upgrade_fail("Unable to access tessel");
  if (state.system.sleep_ms) state.system.sleep_ms(1000);
  return 0;
}

// Stores the kit under a new name in the program directory: created exclusively (never through
// a link), readable by its owner only. The path, or "" with errno set.
std::string store_kit(const uint8_t* data, size_t size) {
  std::string path = state.program_dir + kKitTemplate;
  int fd = mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) return std::string();
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += size_t(n);
  }
  int reason = done == size ? 0 : (errno ? errno : ENOSPC);
  if (close(fd) != 0 && !reason) reason = errno;
  if (!reason) return path;
  unlink(path.c_str());
  errno = reason;
  return std::string();
}

void install() {
  status_line_1_set("Installing upgrade");
  std::string kit = store_kit(http_buffer(state.request), size_t(http_size(state.request)));
  if (kit.empty()) {
    int reason = errno;
    char line[600];
    std::snprintf(line, sizeof line, "The upgrade kit cannot be stored in %s: %s", state.program_dir.c_str(),
                  std::strerror(reason));
    state.view->message_box(line, msg(MSG_TITLE), BOX_ICON_ERROR);
    return;
  }
  std::string command = "\"" + kit + "\" \"" + state.program_dir + "\"";
  patch_apply_fn apply = state.system.load_patch ? state.system.load_patch() : nullptr;
  if (!apply) {
    // Without the library nothing could be applied: say so rather than end in silence.
    state.view->message_box("The upgrade cannot be applied: libpatchw32.so cannot be loaded.",
                            msg(MSG_TITLE), BOX_ICON_ERROR);
  } else if (apply(command.c_str(), patch_callback, 1) == 0) {
    if (state.system.start_program) state.system.start_program(state.restart_path.c_str());
  }
  unlink(kit.c_str());
}

void finish(int rc) {
  state.view->kill_timer();
  if (rc == HTTP_NOT_FOUND)
    state.view->message_box(msg(MSG_NO_UPGRADE), msg(MSG_TITLE), BOX_ICON_ERROR);
  else if (rc == HTTP_TIMED_OUT)
    state.view->message_box(msg(MSG_TIMED_OUT), msg(MSG_TITLE), BOX_ICON_ERROR);
  else if (rc != 0)
    state.view->message_box(msg(MSG_CANNOT_RECEIVE, rc), msg(MSG_TITLE), BOX_ICON_ERROR);
  else
    install();
  state.view->post_quit(0);
}

}  // namespace

int upgrade_step() {
  if (state.busy || !state.view) return 0;
  state.busy = true;
  StepGuard guard;
  tick_update();
  http_update();
  state.request_state = state.request ? http_rc(state.request) : HTTP_NO_MEMORY;
  if (state.request_state == HTTP_RUNNING) {
    show_receiving();
    return 0;
  }
  if (state.request_state == HTTP_COMPLETE && !executable_free()) return 0;
  finish(state.request_state);
  return 0;
}

const char* patch_callback(int id, void* param) {
  int reason = errno;
  const char* text = param ? static_cast<const char*>(param) : "";
  switch (id) {
    case PATCH_ERROR:
    case PATCH_FILE_ERROR: {
      char line[600];
      if (reason)
        std::snprintf(line, sizeof line, "%s (reason %d)", text, reason);
      else
        std::snprintf(line, sizeof line, "%s", text);
      if (state.view) state.view->message_box(line, msg(MSG_TITLE), BOX_TASK_MODAL | BOX_ICON_ERROR);
      break;
    }
    case PATCH_PROGRESS:
      if (param) progress_bar_set(float(*static_cast<const uint16_t*>(param)) * 3.0581039e-05f);
      break;
    case PATCH_FILE:
      if (std::strcmp(text, state.current_file) != 0) {
        std::snprintf(state.current_file, sizeof state.current_file, "%s", text);
        char line[300];
        std::snprintf(line, sizeof line, "Updating %s", state.current_file);
        status_line_2_set(line);
        progress_area_redraw();
      }
      break;
    case PATCH_SEARCHING:
      status_line_2_set(msg(MSG_SEARCHING));
      break;
    default:
      break;
  }
  if (state.view) state.view->pump();
  return state.window_destroyed ? nullptr : "";
}

}  // namespace upgrade
