#pragma once
// Join requests: going to where another citizen is (universe message 43, reply 17), and
// answering others who ask (reply 16, message 44). Window thread only.
#include <cstdint>

constexpr uint32_t JOIN_TIMEOUT = 30000;  // ms an asking or an incoming request waits
constexpr int JOIN_NAME_LIMIT = 16;
constexpr int JOIN_REFUSED = 250;
// The universe's answer when nobody of the asked number is online.
constexpr int JOIN_NOT_ONLINE = 3;

// Modules this one calls, filled by their own init; a null entry is skipped with the fall-back named.
struct join_hooks {
  // Console line (kind 3 world notices). Fall-back: dropped.
  void (*console_print)(int kind, const char* line);
  // The contact's stored name, null when the citizen is none (fall-back: nobody is).
  const char* (*contacts_lookup_name)(int32_t number);
  // [privacy] join and verify (fall-back: read from the settings, absent 0).
  int (*privacy_join)();
  int (*privacy_verify)();
  // The own place (fall-back: the own position module).
  double (*self_x)();
  double (*self_y)();
  double (*self_z)();
  double (*self_yaw)();  // degrees
  // The current world's name; "" or null when in no world (fall-back: the world connection).
  const char* (*world_name)();
  // The move (fall-back: the teleport module).
  void (*teleport)(const char* world, float x, float y, float z, float yaw, int history);
};
extern join_hooks join_hook;
join_hooks join_default_hooks();

// Connects the universe replies 16 and 17. Returns 0.
int join_init();
int join(int32_t number, const char* name);
void join_receive_request(int32_t number, const char* name);
void join_accept(int32_t number, const char* name);
void join_receive_location(int rc, int32_t number, const char* world, int32_t x, int32_t y, int32_t z, int yaw);
// A line the user typed: 1 when it answered the request being asked about.
int join_answer(const char* text);
// Task "join".
void join_update();
// Accessors (tests).
int join_queue_length();
int32_t join_asked_number();
// Forgets everything (tests).
void join_reset();
