#include "client/core/tessel.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "client/core/files.h"
#include "client/core/cgi.h"
#include "client/core/ini.h"
#include "client/core/lifecycle.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "engine/vxl21.h"
#include "platform/host.h"
#include "platform/host_instance.h"
#include "platform/progdir.h"

namespace {

// Main module state for the whole run.
char directory[256];
char command_line[HOST_INSTANCE_TEXT];
int show_command = HOST_SHOW_NORMAL;
bool no_web_pane = false;
int frame_timer = 0;
int32_t frame_state = FRAME_WAIT_UNIVERSE;
bool background = false;
bool toolbar_shown = false;
bool kiosk = false;
uint32_t modal_generation = 0;
bool starting = false;
bool quit_requested = false;
long (*window_procedure)(const HostEvent&) = nullptr;
void (*frame_step)() = nullptr;

long no_procedure(const HostEvent&) { return HOST_DEFAULT; }

bool tracing() { return trace_switches[TRACE_GENERAL] != 0; }

// Texts that may come from the message set pass through "%s": never a format.
void trace(const char* name) {
  if (tracing()) log_write("%s", name);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The main module's own start-up steps.

char tessel_directory_problem[4400];

int tessel_step_program_directory() {
  // The program directory must fit its 256-character buffer.
  const std::string& dir = platform_program_dir();
  if (dir.size() >= sizeof directory) {
    std::snprintf(tessel_directory_problem, sizeof tessel_directory_problem,
                  "The program directory's path is too long (%zu bytes; at most %zu): %s",
                  dir.size(), sizeof directory - 1, dir.c_str());
    return 1;
  }
  std::snprintf(directory, sizeof directory, "%s", dir.c_str());
  return 0;
}

int tessel_step_cache_directory() {
  char path[512];
  std::snprintf(path, sizeof path, "%s/cache", directory);
  file_make_dir(path);  // failure ignored: it may exist, or the disk cache copes later
  return 0;
}

int tessel_step_profile() {
  if (profile_init(directory, "/tessel.ini")) return 0;
  struct stat st {};
  const char* path = profile_path();
  lifecycle_set_cause(std::string(path) + ": " + (::stat(path, &st) != 0 ? std::strerror(errno) : "not a file"));
  return 1;
}

namespace {

// True when path names something inside the program directory, not reached through "..".
bool in_program_directory(const std::string& path) {
  const std::string dir = std::string(directory) + "/";
  return path.compare(0, dir.size(), dir) == 0 && ("/" + path.substr(dir.size()) + "/").find("/../") == std::string::npos;
}

// A file of the person's own that others may read (as older runs made it) becomes theirs
// alone. Only a regular file in the program directory is narrowed, never through a link: a
// link, a device, a file of another owner or a missing file stays as it is.
void narrow_to_owner(const char* path, bool quiet = false) {
  struct stat st {};
  if (!in_program_directory(path) || ::lstat(path, &st) != 0 || !S_ISREG(st.st_mode)) return;
  int fd = file_open_regular(path);
  if (fd < 0) return;
  if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0) {
    if (::fchmod(fd, 0600) != 0)
      log_note("%s can be read by others (mode %04o) and stays so: %s", path,
               static_cast<unsigned>(st.st_mode & 07777), std::strerror(errno));
    else if (!quiet)
      log_note("%s could be read by others (mode %04o): now 0600", path,
               static_cast<unsigned>(st.st_mode & 07777));
  }
  ::close(fd);
}

bool keyed_file(const std::string& name) {
  const size_t n = name.size();
  return n > 4 && (name.compare(n - 4, 4, ".dat") == 0 || name.compare(n - 4, 4, ".idx") == 0);
}

// Keyed pairs ("<name>.dat", "<name>.idx") beside the program.
void narrow_pairs(const std::string& folder) {
  DIR* d = ::opendir(folder.c_str());
  if (!d) return;
  for (int budget = 20000; dirent* e = ::readdir(d);) {
    if (--budget < 0) break;
    if (keyed_file(e->d_name)) narrow_to_owner((folder + "/" + e->d_name).c_str());
  }
  ::closedir(d);
}

// A cache folder that is a link or another's is not used: it is moved beside the cache for the
// person to look at, and what needs it makes it afresh.
void set_aside(const std::string& path, const char* why) {
  std::string name = path.substr(std::strlen(directory) + 1);
  for (char& c : name)
    if (c == '/') c = '-';
  for (int n = 1; n <= 100; ++n) {
    const std::string aside = std::string(directory) + "/" + name + ".set-aside-" + std::to_string(n);
    struct stat st {};
    if (::lstat(aside.c_str(), &st) == 0) continue;
    if (::rename(path.c_str(), aside.c_str()) == 0) {
      log_note("%s is %s: not used, set aside as %s", path.c_str(), why, aside.c_str());
      return;
    }
    break;
  }
  log_note("%s is %s and cannot be set aside: %s", path.c_str(), why, std::strerror(errno));
}

// Why a folder met in the cache cannot be used, or null when it is a folder of the person's.
const char* foreign_folder(const struct stat& st, const std::string& path) {
  struct stat target {};
  if (S_ISLNK(st.st_mode)) return ::stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode) ? "a link" : nullptr;
  return S_ISDIR(st.st_mode) && st.st_uid != ::geteuid() ? "another user's folder" : nullptr;
}

// The cache as an older build left it (0777 folders, 0666 files) becomes the person's alone:
// folders 0700, files 0600, nothing followed. The walk is bounded in depth and in entries, so
// a huge cache costs start-up no more than a moment.
struct CacheWalk {
  int budget = 20000;
  int folders = 0;
  int files = 0;
};

void narrow_cache_folder(const std::string& folder, int depth, CacheWalk* walk) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_uid != ::geteuid()) {
    if (fd >= 0) ::close(fd);
    return;
  }
  if ((st.st_mode & 077) != 0 && ::fchmod(fd, 0700) == 0) ++walk->folders;
  DIR* d = ::fdopendir(fd);
  if (!d) {
    ::close(fd);
    return;
  }
  while (dirent* e = ::readdir(d)) {
    if (--walk->budget < 0) break;
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "/" + name;
    if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (const char* why = foreign_folder(st, path)) {
      set_aside(path, why);
    } else if (S_ISDIR(st.st_mode)) {
      if (depth > 0) narrow_cache_folder(path, depth - 1, walk);
    } else if (S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0) {
      // The keyed pairs are named, as beside the program; the many other files are counted.
      narrow_to_owner(path.c_str(), !keyed_file(name));
      if (!keyed_file(name)) ++walk->files;
    }
  }
  ::closedir(d);
}

void narrow_cache(const std::string& cache) {
  struct stat st {};
  if (::lstat(cache.c_str(), &st) != 0) return;
  if (const char* why = foreign_folder(st, cache)) {
    set_aside(cache, why);
    file_make_dir(cache.c_str());
    return;
  }
  CacheWalk walk;
  narrow_cache_folder(cache, 4, &walk);
  if (walk.folders || walk.files)
    log_note("%s could be read by others: %d folders now 0700, %d files now 0600", cache.c_str(), walk.folders,
             walk.files);
}

// Every file of the person's own that an older run (or another program) left readable by
// others: the settings, the trace logs, the chat log, contacts, remembered teleports, the
// telegrams' pair beside the program and the cache.
void narrow_persons_files() {
  const std::string dir = directory;
  narrow_to_owner(profile_path());
  narrow_to_owner(log_file_path());
  narrow_to_owner(log_file_previous_path().c_str());
  for (const char* name : {"contacts.txt", "teleport.txt"}) narrow_to_owner((dir + "/" + name).c_str());
  const std::string chat = chat_logfile();
  narrow_to_owner((chat[0] == '/' ? chat : dir + "/" + chat).c_str());
  narrow_pairs(dir);
  narrow_cache(dir + "/cache");
}

}  // namespace

int tessel_step_log() {
  log_init();
  // What follows is logged, so it runs once the log knows where it goes.
  narrow_persons_files();
  ini_remove_temporaries(profile_path());
  std::string why;
  if (!ini_can_save(profile_path(), &why)) {
    char text[4800];
    std::snprintf(text, sizeof text,
                  "Settings cannot be saved in %s: %s.\nChanges made in this run last until it ends.",
                  profile_path(), why.c_str());
    log_note("%s", text);
    host()->message_box(text, msg(68), HOST_MB_ICONWARNING);
  }
  return 0;
}

int tessel_step_messages() {
  int r = msg_init();
  if (r != 0) lifecycle_set_cause(msg_load_problem());
  return r;
}

int tessel_step_init_application() {
  trace("init_application");
  return 0;
}

int tessel_step_init_instance() {
  trace("init_instance");
  int sw = 0, sh = 0;
  host()->screen_size(&sw, &sh);
  MainGeometry g =
      tessel_main_geometry(layout_setting("main_x"), layout_setting("main_y"),
                           layout_setting("main_width"), layout_setting("main_height"), sw, sh);
  HostRect r{g.x, g.y, g.width, g.height};
  return host()->window_create(msg(68), r, 380, 200,
                               window_procedure ? window_procedure : no_procedure)
             ? 0
             : 1;
}

int tessel_step_show_toolbar() {
  // Any value but 0, the absent -1 included, shows the toolbar.
  toolbar_shown = show_setting("toolbar") != 0;
  return 0;
}

int tessel_step_kiosk() {
  kiosk = settings_int("special", "kiosk") == 1;
  return 0;
}

int tessel_step_frame_timer() {
  frame_timer = host()->set_timer(TESSEL_TIMER_ID, TESSEL_TIMER_MS);
  host()->set_idle(frame_step);
  host()->set_foreground(!background);
  frame_state = FRAME_WAIT_UNIVERSE;
  return frame_timer ? 0 : 1;
}

int tessel_step_debug_settings() {
  VxSetDebugPrefix("DEBUG:");
  VxSetDebugMode(2);
  VxSetDebugFlag(1);
  VxSetDebugOption(1);
  VxSetDebugLevel(2);
  VxStartDebug();
  return 0;
}

int tessel_step_show_window() {
  int show = show_command;
  if (layout_setting("maximized") == 1) show |= HOST_SHOW_MAXIMIZED;
  host()->window_show(show);
  return 0;
}

const char* tessel_command_line() { return command_line; }

// ---------------------------------------------------------------------------------------

MainGeometry tessel_main_geometry(int main_x, int main_y, int main_width, int main_height,
                                  int screen_width, int screen_height) {
  MainGeometry g{main_x, main_y, 640, 480};
  if (main_height != -1) g.height = main_height < 200 ? 200 : main_height;
  if (main_width != -1) g.width = main_width < 380 ? 380 : main_width;
  // No larger than the screen: a window (and the pictures drawn for it) of a damaged size
  // would not start; the minimum still wins on a screen smaller than it.
  if (screen_width > 0 && g.width > screen_width) g.width = screen_width < 380 ? 380 : screen_width;
  if (screen_height > 0 && g.height > screen_height)
    g.height = screen_height < 200 ? 200 : screen_height;
  bool fallback = main_x == -1 || main_x >= screen_width || main_y == -1 || main_y >= screen_height;
  // A window lying wholly left of or above the screen; summed in 64 bits (settings are untrusted).
  if (static_cast<long long>(main_x) + g.width < 0 ||
      static_cast<long long>(main_y) + g.height < 0)
    fallback = true;
  if (fallback) {
    g.x = HOST_DEFAULT_POS;
    g.y = HOST_DEFAULT_POS;
  }
  return g;
}

namespace {

// What a busy run holds open at once (the web pane, downloads, stores, connections) is some
// 80 descriptors; the rest is room for bursts.
constexpr rlim_t kDescriptorsNeeded = 256;
// The soft limit is raised this far (or to the hard limit, when that is lower).
constexpr rlim_t kDescriptorsWanted = 4096;

// Raises the soft limit of open files towards the hard one. False, with the limit in *limit,
// when even that leaves fewer than the program needs: it would fail part-way through instead.
bool enough_descriptors(rlim_t* limit) {
  rlimit r{};
  if (::getrlimit(RLIMIT_NOFILE, &r) != 0) return true;  // not known: go on as before
  rlim_t want = r.rlim_max == RLIM_INFINITY || r.rlim_max > kDescriptorsWanted ? kDescriptorsWanted : r.rlim_max;
  if (r.rlim_cur != RLIM_INFINITY && r.rlim_cur < want) {
    rlimit raised{want, r.rlim_max};
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) r.rlim_cur = want;
  }
  *limit = r.rlim_cur;
  return r.rlim_cur == RLIM_INFINITY || r.rlim_cur >= kDescriptorsNeeded;
}

}  // namespace

int tessel_main(const char* line, int show) {
  const char* dir = platform_program_dir().c_str();
  int lock = host_instance_lock(dir);
  if (lock == -2) {
    // Without the lock a second start would share this folder's stores with the first.
    char text[8192];
    std::snprintf(text, sizeof text, "%s/tessel.lock: %s\nThe program does not start while it cannot lock %s.", dir,
                  std::strerror(errno), dir);
    host()->message_box(text, "Error", HOST_MB_ICONERROR);
    return 1;
  }
  if (lock == -1) {
    // Another instance runs: it comes to the front and gets our command file; nothing starts.
    std::string handed;
    if (cgi_send_command(line, &handed)) return 0;
    // A command file that went nowhere would be lost without a word.
    const int err = errno;
    std::string what = host_instance_socket(dir) + ": " + std::strerror(err);
    if (err == ENAMETOOLONG)
      what = handed + ": " + std::strerror(err) + " (" + std::to_string(handed.size()) + " bytes; at most " +
             std::to_string(HOST_INSTANCE_TEXT - 1) + " are handed over)";
    char text[8192];
    std::snprintf(text, sizeof text, "%s\nThe program already running in %s did not take %s%s; nothing was started.",
                  what.c_str(), dir, line && *line ? "the command file " : "the request to come to the front",
                  line && *line ? line : "");
    host()->message_box(text, "Error", HOST_MB_ICONERROR);
    return 1;
  }
  rlim_t limit = 0;
  if (!enough_descriptors(&limit)) {
    char text[1024];
    std::snprintf(text, sizeof text,
                  "The program may have at most %llu files and connections open at once (the limit of open "
                  "files), and it needs %llu; it does not start.\nRaise the limit (ulimit -n %llu) and start again.",
                  static_cast<unsigned long long>(limit), static_cast<unsigned long long>(kDescriptorsNeeded),
                  static_cast<unsigned long long>(kDescriptorsNeeded));
    host()->message_box(text, "Error", HOST_MB_ICONERROR);
    host_instance_unlock(lock);
    return 1;
  }
  if (tessel_init(0, line, show)) {
    host()->run_loop();
    if (frame_state != FRAME_SHUT_DOWN) tessel_shutdown(nullptr);
  }
  host_instance_unlock(lock);
  return 0;
}

int tessel_init(int no_web, const char* line, int show) {
  no_web_pane = no_web != 0;
  show_command = show;
  std::snprintf(command_line, sizeof command_line, "%s", line ? line : "");
  const lifecycle_tables& t = lifecycle_current();
  starting = true;
  int started = lifecycle_run(t.init, t.init_count);
  starting = false;
  if (!started) return 0;
  // Started modules without a loop to run them would never be terminated.
  if (!frame_timer) return tessel_shutdown(nullptr);
  return frame_timer;
}

int tessel_shutdown(const char* text) {
  if (frame_state == FRAME_SHUT_DOWN) return 0;  // the shutdown runs once
  // No frame may run over terminated modules, not even from the error box's own loop.
  frame_state = FRAME_SHUT_DOWN;
  // The text may sit in a rotating message buffer that the terminate functions reuse.
  std::vector<char> copy;
  if (text) copy.assign(text, text + std::strlen(text) + 1);
  trace("tessel_shutdown");
  const lifecycle_tables& t = lifecycle_current();
  for (size_t i = 0; i < t.term_count; ++i) {
    t.term[i].run();
  }
  // Asked to end, the program goes without waiting for anyone to close a box.
  if (text && quit_requested) {
    log_note("tessel_shutdown: %s", copy.data());
  } else if (text) {
    host()->message_box(copy.data(), "Error", HOST_MB_ICONERROR);
  }
  for (size_t i = 0; i < t.term_late_count; ++i) {
    t.term_late[i].run();
  }
  if (host()->window_exists()) host()->window_destroy();
  frame_state = FRAME_SHUT_DOWN;
  return 0;
}

int tessel_start_3d() {
  trace("tessel_start_3d");
  const lifecycle_tables& t = lifecycle_current();
  return lifecycle_run(t.start_3d, t.start_3d_count) ? 1 : 0;
}

void tessel_reset_modules() {
  trace("tessel_reset_modules");
  const lifecycle_tables& t = lifecycle_current();
  for (size_t i = 0; i < t.reset_count; ++i) {
    t.reset[i].run();
  }
}

void tessel_quit() {
  if (frame_timer) {
    host()->kill_timer(frame_timer);
    frame_timer = 0;
  }
  host()->post_quit(0);
}

void tessel_request_quit() { quit_requested = true; }
bool tessel_quit_requested() { return quit_requested; }
bool tessel_starting() { return starting; }

void tessel_background() {
  trace("tessel_background");
  if (host()->window_exists() && window_procedure)
    window_procedure(HostEvent{HOST_WM_ACTIVATEAPP, 0, 0, 0});
}

void tessel_foreground() {
  trace("tessel_foreground");
  if (host()->window_exists() && window_procedure)
    window_procedure(HostEvent{HOST_WM_ACTIVATEAPP, 1, 0, 0});
}

bool tessel_modal(bool (*done)(void* user), void* user) {
  ++modal_generation;
  tessel_background();
  bool ok = host()->run_modal(done, user);
  tessel_foreground();
  return ok;
}

uint32_t tessel_modal_generation() { return modal_generation; }

bool tessel_dispatch(const uint8_t* message, size_t length, tessel_reply_fn handler, void* user) {
  if (!handler) return false;
  uint32_t before = modal_generation;
  // The handler's own copy: the connection's buffer may be refilled or freed by nested frames.
  std::vector<uint8_t> copy(message && length ? message : nullptr,
                            message && length ? message + length : nullptr);
  copy.push_back(0);  // a terminator past the end for handlers that read texts
  handler(copy.data(), length, user);
  return modal_generation != before;
}

// Accessors.
bool tessel_window() { return host()->window_exists(); }
const char* tessel_directory() { return directory; }
bool tessel_in_background() { return background; }
bool tessel_kiosk() { return kiosk; }
bool tessel_toolbar_shown() { return toolbar_shown; }
int tessel_show_command() { return show_command; }
bool tessel_no_web_pane() { return no_web_pane; }
void tessel_set_focus() { host()->window_focus(); }
int32_t tessel_frame_state() { return frame_state; }
void tessel_set_frame_state(int32_t state) { frame_state = state; }

// Called by the window procedure for WM_DESTROY and WM_ACTIVATEAPP.
void tessel_set_background(bool on) {
  background = on;
  host()->set_foreground(!on);
}

void tessel_set_toolbar_shown(bool shown) { toolbar_shown = shown; }

void tessel_set_window(long (*procedure)(const HostEvent&), void (*frame)()) {
  window_procedure = procedure;
  frame_step = frame;
}

void tessel_reset_for_test() {
  directory[0] = 0;
  command_line[0] = 0;
  show_command = HOST_SHOW_NORMAL;
  no_web_pane = false;
  frame_timer = 0;
  frame_state = FRAME_WAIT_UNIVERSE;
  background = false;
  toolbar_shown = false;
  kiosk = false;
  starting = false;
  quit_requested = false;
  cgi_term();
  cgi_clear_teleport();
}
