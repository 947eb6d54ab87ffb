#pragma once
// Props: the client side of building and of the world's object contents. Sends the user's
// build requests (add, change, delete, attribute change, eject) and keeps each add, change
// and delete pending until the world server answers; runs the area query that brings the
// cells around the user into the cell cache; applies the server's object messages.
// Older world servers speak the old object protocol (oldprop_*): unframed requests,
// length-prefixed replies, one request at a time, on the connection the world login hands
// over. Window thread only.
#include <cstdint>

struct element;
struct tcp;
struct world_cell;
struct world_object;

enum PropKind { PROP_ADD = 0, PROP_CHANGE = 1, PROP_DELETE = 2 };

// Old-protocol request codes (first byte of the message).
enum OldPropCode {
  OLDPROP_ADD = 0,
  OLDPROP_EJECT = 1,
  OLDPROP_DELETE = 2,
  OLDPROP_QUERY = 3,
  OLDPROP_ATTRIBUTES = 5,
  OLDPROP_CHANGE_ATTRIBUTES = 6,
  OLDPROP_CHANGE = 7,
};
constexpr int OLDPROP_MESSAGE_LIMIT = 1024;
constexpr int OLDPROP_REPLY_LIMIT = 4096;     // longer replies make the next frame query again
constexpr uint32_t OLDPROP_QUERY_INTERVAL = 30000;

// Attribute query reply: (block, length, 0) or (null, 0, code).
using prop_attributes_fn = void (*)(const uint8_t* block, int length, int code);

// Fills the world connection's prop_* and oldprop_* hooks.
void prop_init();
void prop_term();
void prop_set_window(void* window);
void prop_set_old(int flag);
int prop_get_old();

// Requests: 0 sent, 439 kept pending (no world yet), 400 out of memory, else the send error.
int prop_add(const element* e);
int prop_change(int old_cell_x, int old_cell_z, const element* e, int32_t prior);
int prop_delete(int cell_x, int cell_z, int32_t number);
int prop_query_attributes(prop_attributes_fn callback);
int prop_change_attributes(const uint8_t* block, int length);
int prop_eject(int session, int32_t seconds);
int prop_busy();
int prop_query_in_progress();

// World replies.
void prop_query_done();
void prop_query_restart();
void prop_receive_cell(const world_cell& cell);
void prop_live_add(int session, int32_t sequence, int cell_x, int cell_z, const world_object& object);
void prop_live_delete(int session, int32_t sequence, int cell_x, int cell_z, int32_t number);
void prop_request_result(int32_t number, int code);
void prop_reset();
void prop_update();

// Wire values: thousandths rounded half away from zero; tenths of a degree modulo 3600.
int32_t prop_thousandths(double v);
int prop_tenths(double yaw);

// The old object protocol.
void oldprop_init();
void oldprop_term();
void oldprop_set_connection(tcp* connection);
void oldprop_reset();
void oldprop_update();
int oldprop_add(const element* e);
int oldprop_change(int old_cell_x, int old_cell_z, const element* e, int32_t prior);
int oldprop_delete(int cell_x, int cell_z, int32_t number);
int oldprop_query_attributes(prop_attributes_fn callback);
int oldprop_change_attributes(const uint8_t* block, int length);
int oldprop_eject(int session, int32_t seconds);
// A whole reply (the bytes after its length) handed to the request at the head of the
// queue, as if it had come off the connection (fuzzing and tests): 1, or 0 when no request
// waits.
int oldprop_dispatch(const void* reply, int length);

// Modules this one calls, filled by their own init. A null entry is skipped.
struct prop_hooks {
  // Console line (kind 2: build results).
  void (*console_print)(int kind, const char* line);
  // The avatar module follows the protocol flag.
  void (*avatar_set_old)(int flag);
  // The builder hears that an object is gone.
  void (*pick_object_gone)(int cell_x, int cell_z, int32_t number);
  // The eject dialog hears the result of an eject.
  void (*eject_result)(int code);
};
extern prop_hooks prop_hook;

// State (tests).
int prop_pending_count();
bool prop_query_complete();
bool prop_query_sent();
int oldprop_queue_count();
int oldprop_step();
bool oldprop_query_in_flight();
bool oldprop_connected();
