#pragma once
// Acting with another citizen's privileges: the requested citizen number and privilege
// password sent with every login, the privilege part of the login reply, and dialog 627.
// Window thread only.
#include <cstdint>

#include "client/core/control_ids.h"

constexpr int PRIVILEGE_NAME_LIMIT = 16;
constexpr int PRIVILEGE_PASSWORD_LIMIT = 12;

// Modules this one calls, filled by their own init; a null entry is skipped.
struct privilege_hooks {
  void (*console_print)(int kind, const char* line);
  void (*tessel_background)();
  void (*tessel_foreground)();
};
extern privilege_hooks privilege_hook;
privilege_hooks privilege_default_hooks();

// Reads [privilege]; connects the login's and the universe's privilege entries. Returns 0.
int privilege_init();
void privilege_reset();
// The privilege part of a login reply: rc 0, '*' or '+', or another refusal.
void privilege_result(int rc, const char* text);
int privilege_number();  // active number, 0 when none
int privilege_requested_number();
const char* privilege_password();
bool privilege_active();
const char* privilege_holder_name();
// Universe replies 12 and 8.
void privilege_receive_number(int rc, const char* name, int32_t number);
void privilege_receive_name(int rc, int32_t number, const char* name);
// Command 145: modal dialog 627.
int privilege_dialog();
// Forgets everything (tests).
void privilege_reset_state();
