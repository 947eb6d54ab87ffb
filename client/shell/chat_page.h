#pragma once
// The "Chat" page of the settings sheet: [chat] avatars (12 .. 50), near (0 .. 50),
// balloons, logging and logfile. The chat module reads these keys.
class PsheetPage;

enum ChatPageIds : int {
  CHAT_PAGE = 618,
  CHAT_BALLOONS = 1151,
  CHAT_LOGGING = 1153,
  CHAT_LOGFILE = 1154,
  CHAT_BROWSE = 1155,
  CHAT_AVATARS = 1156,
  CHAT_NEAR = 1157,
};

// The settings as the page reads them (out of range: the defaults 50 and 12).
int chat_page_avatars();
int chat_page_near();

PsheetPage& chat_page();
