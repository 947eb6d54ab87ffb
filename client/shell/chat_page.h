#pragma once
// The "Chat" page of the settings sheet: [chat] avatars (12 .. 50), near (0 .. 50),
// balloons, logging and logfile (typed, or chosen with Browse). Apply reopens the chat log.
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

PsheetPage& chat_page();
