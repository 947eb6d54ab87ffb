#pragma once
// Telegrams: short messages between citizens through the universe, fetched one at a time,
// kept in the "telegram" database beside the program, listed on the telegrams page, opened
// into the console, deleted, and written in dialog 619. Window thread only.
#include <cstdint>
#include <string>

#include "client/core/control_ids.h"

constexpr int TELEGRAM_KEY_LENGTH = 25;
constexpr int TELEGRAM_SENDER_LENGTH = 16;
constexpr int TELEGRAM_TEXT_LIMIT = 255;

enum TelegramSort {
  TELEGRAM_SORT_SENDER = 0,
  TELEGRAM_SORT_DATE = 1,
  TELEGRAM_SORT_SENDER_DOWN = 2,
  TELEGRAM_SORT_DATE_DOWN = 3,
};

// Modules this one calls, filled by their own init; a null entry is skipped.
struct telegram_hooks {
  // Console lines (kind 4 notices, kind 5 opened telegrams).
  void (*console_print)(int kind, const char* line);
};
extern telegram_hooks telegram_hook;

// Opens the database and makes the (hidden) list; connects universe replies 9, 10 and the
// telegram half of 12. Returns 0.
int telegram_init();
void telegram_term();  // closes the database
void telegram_show();
void telegram_hide();
void telegram_move_window(int x, int y, int width, int height);

// Universe replies.
void telegram_set_waiting();
void telegram_receive(int32_t age, const char* sender, const char* text, int more);
void telegram_receive_number(int rc, const char* name, int32_t number);

// Task "telegram".
void telegram_update();
// Dialog 619, the recipient pre-filled (null: empty).
int telegram_send_dialog(const char* name);

// What the list tells the module (routed by the tab control, or straight from the list).
void telegram_click();
void telegram_right_click();
void telegram_column_click(int column);
void telegram_key(int key);
void telegram_open_selected();
void telegram_delete_selected();

// Accessors (tests).
struct telegram_row {
  uint32_t time;
  int32_t recipient;
  std::string sender;
  bool read;
};
int telegram_rows();                      // rows in the list, in view order
bool telegram_row_at(int index, telegram_row* out);
int telegram_sort_mode();
bool telegram_is_waiting();
bool telegram_is_shown();
// Every stored telegram of the citizen, in key order.
int telegram_stored(int32_t recipient);
// The key as stored: time and recipient little-endian, the sender cut to 16 and zero padded.
void telegram_make_key(uint8_t key[TELEGRAM_KEY_LENGTH], uint32_t time, int32_t recipient, const char* sender);
// Closes everything and forgets it (tests).
void telegram_reset();
