#pragma once
// The download queue: every file of the world comes through here. Requests are merged by
// name, scored by class and reference count, run at most three at a time over HTTP, checked
// against cached dates, taken from a local mirror folder when one is set, retried after
// stalls, and end with exactly one callback. Each transfer is held to a size and a deadline
// generous for its kind, and transfers that run slow hold two slots at most. A server that
// cannot be reached is paused as a whole: one request asks again after each growing pause
// (the person is told once), and its files go on once it answers, for as long as the world
// stays. Window thread only.
#include <cstddef>
#include <cstdint>

struct download_request;

enum {
  DOWNLOAD_FAILED = 418,   // data null, size 0
  DOWNLOAD_ARRIVED = 419,  // data and size give the file's bytes (the queue's, freed after)
  DOWNLOAD_CURRENT = 420,  // the cached copy is current
};

// Priority classes.
enum {
  DOWNLOAD_CLASS_AVATARS = 0,
  DOWNLOAD_CLASS_MODELS = 1,      // models and sequences
  DOWNLOAD_CLASS_TEXTURES = 2,    // textures, masks, backdrop, sounds of a kind switched on
  DOWNLOAD_CLASS_URL = 3,
  DOWNLOAD_CLASS_QUIET = 4,       // sounds of a kind switched off
};

using download_callback = void (*)(void* user, int status, uint8_t* data, int size);

// Calls out of the queue, filled by the modules that take them.
struct download_hooks {
  // The console (kind, line): the object server cannot be reached.
  void (*console_print)(int kind, const char* line);
  // A server ("host" or "host:port") that could not be reached has answered again.
  void (*server_back)(const char* host);
};
extern download_hooks download_hook;

// Null without an object path, when folder+name is already queued, or out of memory.
download_request* download_file(const char* folder, const char* name, int cls,
                                download_callback callback, void* user);
// url is host and path without "http://"; max_kb 0 = no limit. Null when already queued.
download_request* download_url(const char* url, int max_kb, download_callback callback,
                               void* user);
download_request* download_reference(download_request* request);
download_request* download_dereference(download_request* request);
// Called while a download's callback runs, when the file it was given cannot be used (it
// unpacks past its limit, or is damaged): one log line names the file, its address and the
// reason, and the download counts as failed, so that no date is kept for it and it is asked
// for again. Outside a callback the line names file (a path) alone.
void download_refuse(const char* file, const char* reason);
// Fetch without any date test.
void download_force(download_request* request);
// Revalidate even inside the refresh interval.
void download_ignore_refresh(download_request* request);

// Frame task "download".
void download_update();
// Drops every request without callbacks.
void download_reset();
// Object path of the world (attribute 3); "" or null = the service's default. 1 when the
// world changed since the last call.
int download_set_path(const char* path);
void download_set_refresh(int minutes);
// The object cache directory of the current object path.
const char* download_get_path();
int download_init();
void download_term();

// The Downloads window. The window itself belongs to the user interface; it registers as
// the view and draws the lines below.
class DownloadView {
 public:
  virtual ~DownloadView() = default;
  // Create and show, or hide.
  virtual void show(bool shown) = 0;
  // Called every frame while shown: create the window if it does not exist yet (it may be
  // shown from the settings at start-up), then draw the text area again.
  virtual void repaint() = 0;
};
void download_set_view(DownloadView* view);
void download_toggle();
bool download_shown();
// The window was destroyed: it is shown no more.
void download_window_destroyed();
enum { DOWNLOAD_SLOTS = 3 };
// Text width in pixels in the window's bold font.
using download_text_width = int (*)(const char* text);
// The line of a slot: false when the slot is empty. label is "name:" (a name wider than
// 120 pixels is cut to 16 characters and "...:"), state the transfer's state text.
bool download_line(int slot, download_text_width width, char* label, size_t label_size,
                   const char** state);
