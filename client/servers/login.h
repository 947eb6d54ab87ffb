#pragma once
// Logging in to the universe as a citizen (name and password) or as a tourist (a name only):
// the automatic login at start-up, the citizen dialog, the handling of the login reply and
// the failure counter. The tourist dialog is in tourist.h.
#include <cstdint>

#include "client/core/control_ids.h"

constexpr int LOGIN_NAME_LIMIT = 16;
constexpr int LOGIN_PASSWORD_LIMIT = 12;
constexpr int LOGIN_FAILURE_LIMIT = 9;  // more counted failures block the citizen dialog

// Other modules the login consults; a null entry is skipped (a prompt without an entry
// counts as cancelled).
struct login_hooks {
  void (*citizen_set_name)(const char* name);
  void (*citizen_set_password)(const char* password);
  void (*citizen_store_number)(int32_t number);
  void (*menu_identity_changed)();
  void (*about_hide)();
  void (*upgrade_check)();
  int (*upgrade_offered)();
  int (*upgrade_offer)(int running);
  int (*privilege_requested_number)();
  void (*privilege_result)(int rc, const char* text);
  void (*privilege_reset)();
  void (*tessel_background)();
  void (*tessel_foreground)();
  const char* (*prompt_text)(const char* title, const char* label, const char* default_text);
};
extern login_hooks login_hook;
// The program's entries: the identity store, the splash box and the loop's background mode;
// the other modules fill theirs from their own init.
login_hooks login_default_hooks();

// Start-up: moves an old plain-text [citizen] password to the enciphered pass.
int login_init();
// Sends the stored identity (the anonymous form without a stored name).
int login_auto();
// The modal citizen dialog; 0 or 407.
int login(int clear);
int login_open(int clear);
// Universe reply 20 (number 0 when the reply carried none), reply 4, and a connection lost
// while a login was in flight.
void login_result(int rc, int32_t number, const char* text);
void login_password_sent(int rc);
void login_connection_lost();
int login_last_result();
int login_done();
bool login_too_many_failures();
void login_count_failure();
// The status text for a login result, as the citizen dialog shows it ("" for 0).
const char* login_error_text(int rc, const char* name);
// The name and password of the last login the module sent (or the reply answered).
const char* login_current_name();
const char* login_current_password();
// Forgets everything (tests).
void login_reset();
