#pragma once
// The world connection: the world server's address (asked of the universe, or cached), the
// world attribute database, the TCP message stream to the world server, the 8-byte login sent
// without a length, every world request and reply, world errors, the welcome text, the avatar
// remembered per world, reconnection after silence and the 3 x 3 sector query.
// Window thread only.
#include <cstdint>
#include <string>
#include <vector>

struct stream;
struct tcp;

enum WorldState {
  WORLD_NONE = 0,
  WORLD_CONNECT = 1,
  WORLD_LOGIN_SENT = 2,
  WORLD_OLD_PROTOCOL = 3,  // the old object protocol owns the connection
  WORLD_IN = 4,
};

// Request codes (client to world server).
enum WorldRequest {
  WREQ_ADD = 0,
  WREQ_CHANGE = 1,
  WREQ_CHANGE_ATTRIBUTES = 2,
  WREQ_DELETE = 3,
  WREQ_EJECT = 4,
  WREQ_LOGIN = 5,
  WREQ_HEARTBEAT = 6,
  WREQ_MESSAGE = 7,
  WREQ_POSITION = 8,
  WREQ_QUERY = 9,
};

// Reply codes (world server to client); replies carry no result byte.
enum WorldReply {
  WREP_REQUEST_RESULT = 0,
  WREP_ATTRIBUTES = 1,
  WREP_AVATAR_ADD = 2,
  WREP_AVATAR_DELETE = 3,
  WREP_AVATAR_POSITION = 4,
  WREP_AVATAR_MESSAGE = 5,
  WREP_CELL = 6,
  WREP_LIVE_ADD = 7,
  WREP_LIVE_DELETE = 8,
  WREP_ERROR_215 = 9,
  WREP_ERROR_214 = 10,
  WREP_IMPOSTER = 11,
  WREP_CHAT = 12,
  WREP_QUERY_RESTART = 13,
  WREP_ERROR_207 = 14,
  WREP_QUERY_DONE = 15,
  WREP_KEEPALIVE = 16,
};

constexpr int WORLD_NAME_LIMIT = 8;             // 9 or more characters give 423
constexpr int WORLD_KEY_LENGTH = 50;            // world database key
constexpr uint32_t WORLD_HEARTBEAT_INTERVAL = 60000;
constexpr uint32_t WORLD_RETRY_INTERVAL = 1000;
constexpr uint32_t WORLD_SILENCE_LIMIT = 40000; // servers above build 14 are renewed after it
constexpr int WORLD_SILENCE_BUILD = 14;
constexpr uint32_t WORLD_LOGIN_LIMIT = 30000;   // a login unanswered this long is tried again
constexpr uint32_t WORLD_STATUS_TIME = 4000;    // a cell's status text stays this long
// Milliseconds a frame spends at most on the world's messages: a server that floods the
// connection slows what it sends, never the window.
constexpr uint32_t WORLD_RECEIVE_BUDGET = 50;
constexpr int WORLD_LOGIN_SIZE = 8;

// One object of a cell (world reply 6) or a live add (reply 7): offsets within the cell in
// thousandths, yaw in tenths of a degree.
struct world_object {
  int32_t number;
  int32_t owner;
  int32_t build_time;
  int16_t x, y, z, yaw;
  std::string model, description, action;
};
struct world_cell {
  int16_t x, z;
  int32_t sequence;
  std::vector<world_object> objects;
};

// Modules the connection calls, filled by their own init; a null entry is
// skipped, except where a fall-back is named. Texts are valid during the call only.
struct world_hooks {
  // Teleports and the location history.
  void (*teleport_apply)();
  int (*teleport_pending)();
  int (*history_back)();  // 1 when it moved back
  void (*history_set_world)(const char* name);
  void (*worlds_mark_current)(const char* name);
  void (*gesture_show)();
  // Props (fall-backs: the cell cache is written directly; cell_set_old).
  void (*prop_reset)();
  void (*prop_set_old)(int flag);
  void (*prop_request_result)(int32_t number, int rc);
  void (*prop_receive_cell)(const world_cell& cell);
  void (*prop_live_add)(int session, int32_t sequence, int cell_x, int cell_z, const world_object& object);
  void (*prop_live_delete)(int session, int32_t sequence, int cell_x, int cell_z, int32_t number);
  void (*prop_query_restart)();
  void (*prop_query_done)();
  // The old object protocol takes the connection (fall-back: it is closed).
  void (*oldprop_set_connection)(tcp* connection);
  void (*oldprop_reset)();
  // Avatars.
  void (*avatar_delete_all)();
  void (*avatar_load_list)();
  void (*avatar_add)(int session, const char* name, int32_t x, int32_t y, int32_t z, int yaw, int type,
                     int gesture);
  void (*avatar_delete)(int session);
  void (*avatar_position)(int session, int32_t x, int32_t y, int32_t z, int yaw, int type, int gesture);
  void (*avatar_message)(int kind, int session, const char* text);
  // Console (kind 3: world connection notices).
  void (*console_print)(int kind, const char* line);
  // Settings other modules keep (fall-backs: [chat] avatars; [general] rating).
  int (*chat_avatars)();
  int (*general_rating)();
  // The world status window and menu item 133.
  void (*status_show)(bool shown);
  void (*status_text)(const char* text);
  void (*menu_check)(int item, bool checked);
  // What applying the attributes sets in the other modules.
  void (*backdrop_set)(const char* name, int length);
  void (*ground_set)(const char* name, int length);
  void (*camera_set_color)(int red, int green, int blue);
  void (*self_invalidate_title)();
  void (*avatar_set_public_speaker)(int on);
  void (*menu_set_public_speaker)(int on);
  void (*web_navigate)(const char* url, int flag);
  void (*self_pass_through)(int allowed);
  void (*self_flying)(int allowed);
  void (*teleport_within_world)(int allowed);
  void (*pick_building)(int enabled);
  void (*self_set_position)(double x, double y, double z, double yaw);
  void (*avatar_set_eject_right)(int on);
  void (*visible_set_load_factor)(int factor);
};
extern world_hooks world_hook;

// Start-up and shutdown: the world database, "<program>/cache/property", the status window.
int world_init();
void world_term();
// Task row 1.
void world_update();
// One reply of the world protocol (a message's body, after its length) handed to the reply
// dispatch as if it had come off the connection after the login: the same readers and
// handlers (fuzzing and tests). 0, or the readers' error.
int world_dispatch(const void* body, int length);
// Forgets the world, the connection and the address cache (tests).
void world_reset_state();

// Entering a world: 0 (asked, or already current), 406, 423, or the universe's send error.
int world_enter(const char* name);
int world_lookup_and_connect(const char* name);
// 0 with address and port set from the cache, 401 when the universe was asked, else its error.
int get_address(const char* name);
// Universe reply 0.
void world_receive_address(int rc, const char* name, uint32_t address, uint16_t port);
void world_connect(const char* name);

// Requests: 0 sent (or pending on the stream), 0 and nothing sent while the login is in
// flight, 439 without a connection, 426 when the message does not fit, else the stream's error.
int world_send(int packed_length, int fill_length);
int world_add(int32_t number, int32_t x, int32_t y, int32_t z, int yaw, const char* model, const char* description,
              const char* action);
int world_change(int32_t prior, int cell_x, int cell_z, int32_t number, int32_t x, int32_t y, int32_t z, int yaw,
                 const char* model, const char* description, const char* action, int32_t owner);
int world_change_attributes(const uint8_t* block, int length);
int world_delete(int32_t number, int cell_x, int cell_z);
int world_eject(int session, int32_t seconds);
int world_login();
int world_heartbeat_send();
int world_message(const char* text);
int world_position(int32_t x, int32_t y, int32_t z, int yaw, int type, int gesture);
int world_query(int sector_x, int sector_z);

void world_heartbeat(uint32_t now);
void handle_world_error(int code);
void handle_imposter();
void world_entered(const uint8_t* block, int length, int code);
// The user-visible text of a world error, in a rotating message buffer ("" for 0).
const char* world_error_text(int code, const char* name);
void world_show_welcome();
void world_set_avatar(int n);
int world_avatar();
void world_status_toggle();
void world_status_text(const char* text);
// The universe connection's own text ("" when it has none), shown while the world has no
// text of its own.
void world_universe_status(const char* text);
const char* world_status_current();  // what the status window shows, "" when nothing
// Under the old protocol the world's object connection and its peer hub answer apart from the
// world stream: each answer from either counts against the silence, as a message does.
void world_heard();
// True when the world cannot be spoken to: its connection is being made (again), or under
// the old protocol neither its server nor its hub has answered for WORLD_SILENCE_LIMIT ms.
bool world_silent();
void world_connection_lost();
void world_restart();

// Accessors.
int world_state();
const char* world_name();
const char* world_title();
bool world_connected();  // states 3 and 4
bool world_rights_flag();
int world_login_count();
int world_last_error();
int world_contents_changed();
int world_login_pending();
const char* world_property_path();
int world_server_build();
uint32_t world_address();  // network order
uint16_t world_port();     // network order
bool world_login_in_flight();
stream* world_stream();

// Set by the attribute application (attributes.cpp).
void world_set_title(const char* title);
void world_set_contents_changed(int changed);
void world_set_rights(bool on);
void world_set_server_build(int build);
void world_set_query_after_attributes();
bool world_first_application();
void world_clear_first_application();
void world_make_property_path();
