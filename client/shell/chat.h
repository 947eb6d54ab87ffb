#pragma once
// The chat line under the 3D view: what the user types is said in the world (or answers a
// join request), shown in the own balloon in third-person view for 30 s; the [chat]
// settings; the optional chat log file. Window thread only.
#include <cstdint>

#include "client/core/settings.h"

constexpr int CHAT_LIMIT = 234;          // characters the line takes
constexpr int CHAT_READ = 255;           // characters read from it on Enter
constexpr uint32_t CHAT_OWN_SHOWN = 30000;
constexpr int CHAT_HEIGHT = 21;
constexpr int CHAT_EDIT_HEIGHT = 20;
constexpr int CHAT_EDIT_ID = 11;
// Bytes the chat log holds before it is moved to "<name>.1" (replacing the older one) and
// started again; the person's own lines of the file replaced are written again after the new
// header.
constexpr long CHAT_LOG_MAX = 1L << 20;
constexpr int CHAT_LOG_REFUSED_MSG = 657;  // the log's name cannot be used: name, reason

// The edit as the module drives it; the view calls chat_enter when Enter is pressed in it.
class ChatLineView {
 public:
  virtual ~ChatLineView();
  // Copies the text into out (size - 1 characters at most, terminated).
  virtual void text(char* out, int size) = 0;
  virtual void clear() = 0;
  // A character typed elsewhere in the main window goes on in the edit (focus moves there).
  virtual void send_char(int character, int flags) = 0;
  virtual void move(int x, int y, int width, int height) = 0;
};
using chat_view_maker = ChatLineView* (*)(int limit);
void chat_set_view_maker(chat_view_maker maker);

int chat_init(void* main_window);
void chat_term();
void chat_update();  // task "chat"
void chat_reset();

void chat_send_char(int character, int flags);
// Enter in the edit.
void chat_enter();
int chat_height();
void chat_size(int x1, int x2, int y);
void chat_set_balloon(const char* text);
// Reopens the log as the settings now say (the settings page's Apply).
void chat_log_open();
// own: the person's own words, which a move aside carries into the log begun again.
void chat_log_write(const char* line, bool own = false);

// Inspection for tests.
bool chat_own_balloon_shown();
const char* chat_own_balloon_text();
ChatLineView* chat_view();
void chat_reset_for_test();
