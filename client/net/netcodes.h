#pragma once
// Result codes shared by every connection, universe, world and login operation.
// 0 is success; any other value outside 400-439 is an errno passed through.

enum NetResult {
  NET_OK = 0,
  NET_NO_MEMORY = 400,
  NET_NOT_YET = 401,           // pending, not connected, not writable, incomplete, send waiting
  NET_TIMEOUT = 402,
  NET_NO_STREAM = 403,
  NET_BAD_WORLD_NAME = 406,    // empty, or containing '.' or ':'
  NET_CANCELLED = 407,         // the user cancelled a login or upgrade dialog
  NET_UPGRADE_QUIT = 408,      // the upgrade program was started; quitting
  NET_FILE_410 = 410,          // file helpers
  NET_FILE_411 = 411,
  NET_SOUND_412 = 412,         // sound module
  NET_SOUND_413 = 413,
  NET_SOUND_414 = 414,
  NET_SHORT_SEND = 415,
  NET_CLOSED = 416,            // closed by the peer
  NET_DOWNLOAD_FAILED = 418,
  NET_DOWNLOAD_DONE = 419,
  NET_DOWNLOAD_CURRENT = 420,
  NET_READ_PAST_END = 421,
  NET_MESSAGE_TOO_LONG = 422,  // frame length above 8096
  NET_WORLD_NAME_LONG = 423,   // world name of 9 or more characters
  NET_NO_FIT = 426,            // message does not fit its 1024-byte buffer
  NET_SOCKET_FAILED = 428,
  NET_CONNECT_FAILED = 429,
  NET_NONBLOCK_FAILED = 430,
  NET_LOGIN_LOST = 431,        // connection lost during the login
  NET_RATING = 433,            // world rating above the user's
  NET_NO_WORLD = 439,          // no world connection
};

// Largest frame body, and the size of a stream's ring.
constexpr int NET_MAX_MESSAGE = 8096;
// Every sender packs into a buffer of this size.
constexpr int NET_SEND_BUFFER = 1024;

// Bytes moved over the network are reported to the bandwidth meter, which installs itself
// here (nullptr: not counted).
using net_byte_meter_fn = void (*)(int bytes);
void net_set_byte_meter(net_byte_meter_fn fn);
void net_count_bytes(int bytes);
