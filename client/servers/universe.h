#pragma once
// The universe connection: one message stream to the universe server for the whole run, the
// login (and a new one after every reconnection), the heartbeat, every request and the
// dispatch of every reply to the module that asked.
#include <cstdint>
#include <string>
#include <vector>

enum UniverseState {
  UNIVERSE_RESOLVING = 0,
  UNIVERSE_CONNECTING = 1,
  UNIVERSE_CONNECTED = 2,  // a login may be in flight
  UNIVERSE_LOGGED_IN = 3,  // a login reply arrived
};

constexpr uint16_t UNIVERSE_DEFAULT_PORT = 5670;
constexpr uint32_t UNIVERSE_HEARTBEAT_INTERVAL = 60000;
constexpr uint32_t UNIVERSE_RETRY_INTERVAL = 1000;
// A login, or a request the universe answers, that has had no reply (and nothing else from
// the universe either) this long: the connection is made again and the session logged in
// again.
constexpr uint32_t UNIVERSE_ANSWER_LIMIT = 30000;
constexpr int UNIVERSE_MAX_CONTACTS = 100;

// The deployment's universe host, and the retired host names that are replaced by it.
extern const char* const universe_default_host;
extern const char* const universe_retired_hosts[2];

// Request codes (client to universe).
enum UniverseRequest {
  UREQ_SET_ATTRIBUTES = 23,
  UREQ_LOOKUP_WORLD = 24,
  UREQ_IMMIGRATE = 25,
  UREQ_SET_CITIZEN_ATTRIBUTES = 26,
  UREQ_GET_CITIZEN_ATTRIBUTES = 27,
  UREQ_SEND_PASSWORD = 28,
  UREQ_HEARTBEAT = 32,
  UREQ_GET_CITIZEN_NAME = 33,
  UREQ_GET_TELEGRAM = 34,
  UREQ_SEND_TELEGRAM = 35,
  UREQ_GET_CITIZEN_NUMBER = 36,
  UREQ_WHOS_AT = 37,
  UREQ_GET_WORLDS = 38,
  UREQ_CONTACT_LIST = 40,
  UREQ_ADD_CONTACT = 41,
  UREQ_DELETE_CONTACT = 42,
  UREQ_GET_CITIZEN_LOCATION = 43,
  UREQ_LOCATION = 44,
  UREQ_LOGIN = 45,
  UREQ_REGISTRATION = 46,
};

// Reply codes (universe to client).
enum UniverseReply {
  UREP_WORLD_ADDRESS = 0,
  UREP_IMMIGRATE = 1,
  UREP_CHANGE = 2,
  UREP_ATTRIBUTES_OF_CITIZEN = 3,
  UREP_PASSWORD_SENT = 4,
  UREP_CITIZEN_NAME = 8,
  UREP_TELEGRAM_WAITING = 9,
  UREP_TELEGRAM = 10,
  UREP_CITIZEN_NUMBER = 12,
  UREP_WHOS_AT = 13,
  UREP_WORLDS = 14,
  UREP_CONTACTS = 15,
  UREP_JOIN_REQUEST = 16,
  UREP_JOIN_LOCATION = 17,
  UREP_RECONNECT = 18,
  UREP_REGISTER = 19,
  UREP_LOGIN = 20,
  UREP_UNIVERSE_ATTRIBUTES = 21,
};

// Records of the replies read as repeated records.
struct universe_tag_text {
  int tag;
  std::string text;
};
struct universe_world_entry {
  std::string name;
  int status;
  int users;
};
struct universe_contact_entry {
  int32_t number;
  int state;          // 0 offline (name), 1 online (name, world), other: removed
  std::string name;
  std::string world;
};

// Receivers in other modules; a null entry receives nothing. Texts are valid during the
// call only. Addresses and ports are in network order. A reply whose fields run past its
// length is not handed on (a repeated-record reply hands on its whole records, and reply 3
// gets 421 in place of rc, as its receiver expects).
struct universe_receivers {
  void (*world_receive_address)(int rc, const char* name, uint32_t address, uint16_t port);
  void (*immigrate_result)(int rc);
  void (*immigrate_change_result)(int rc);
  void (*immigrate_show_attributes)(int rc, const std::vector<universe_tag_text>& fields);
  void (*pdialog_citizen_name)(int rc, int32_t number, const char* name);
  void (*privilege_receive_name)(int rc, int32_t number, const char* name);
  void (*telegram_set_waiting)();
  void (*telegram_receive)(int32_t age, const char* sender, const char* text, int more);
  void (*telegram_receive_number)(int rc, const char* name, int32_t number);
  void (*contacts_receive_number)(int rc, const char* name, int32_t number);
  void (*privilege_receive_number)(int rc, const char* name, int32_t number);
  void (*avatar_receive_citizen_name)(int rc, uint32_t address, const char* name);
  void (*worlds_receive_list)(int rc, const std::vector<universe_world_entry>& worlds);
  void (*contacts_state)(int rc, const std::vector<universe_contact_entry>& contacts);
  void (*join_receive_request)(int32_t number, const char* name);
  void (*join_receive_location)(int rc, int32_t number, const char* world, int32_t x, int32_t y, int32_t z,
                                int yaw);
  void (*register_result)(int rc, const char* text);  // text nullptr when the body is empty
  // Other modules the connection consults.
  void (*upgrade_check)();
  void (*admin_refresh)();  // universe attributes arrived (reply 21)
  int (*upgrade_offered)();
  int (*upgrade_offer)(int running);
  int (*program_in_background)();
  void (*contacts_refresh)();
  void (*worlds_refresh)();  // a session logged in again: the worlds list is asked for anew
  int (*privilege_requested_number)();
  const char* (*privilege_password)();
  // Absent: [privacy] hide_world is read.
  int (*privacy_hide_world)();
  // The status window's text for the connection: message 77 while it logs an established
  // session in again, "" once a login reply came.
  void (*status_text)(const char* text);
};
extern universe_receivers universe_receiver;
// The program's receivers: only the modules built so far (the rest are null).
universe_receivers universe_default_receivers();

int universe_init();
// One step of the state machine (task row 30, and the frame step in states 0 to 2).
int universe_update();
void universe_term();
// One reply (a message's body, after its length) handed to the reply dispatch as if it had
// come off the connection: the same readers and receivers (fuzzing and tests). 0, or the
// readers' error.
int universe_dispatch(const void* body, int length);

int universe_state();
bool universe_connected();  // state 2 or 3
bool universe_logged_in();  // state 3
bool universe_signup_offered();
bool universe_beta();
int universe_session_word();
int32_t universe_citizen_number();  // the last citizen number a reply carried
int universe_minimum_browser();
int universe_latest_browser();
int universe_beta_browser();
const char* universe_minimum_world();
const char* universe_default_start_world();
uint16_t universe_port();  // network order

// Logins. A tourist's name is given in double quotes (or empty for the anonymous form).
int universe_login(const char* name, const char* password);
int universe_relogin();
void universe_reconnect();
// The identity of the login that the reply being handled answers (valid while reply 20 is
// being handled), and the identity of the last login the universe accepted.
const char* universe_answered_name();
const char* universe_answered_password();
bool universe_has_session_identity();
const char* universe_session_name();

// Requests: 0 when sent (or queued as the one pending send), 401 before the connection is
// up, 426 when the message does not fit, else the connection's error.
int universe_send(int packed_length);
int universe_heartbeat();
int universe_set_attributes(const char* minimum_browser, const char* latest_browser, const char* beta_browser,
                            const char* minimum_world, const char* default_start_world);
int universe_lookup_world(const char* name);
int universe_immigrate(const char* name, const char* password, const char* email);
int universe_set_citizen_attributes(const char* name, const char* password, const char* new_name,
                                    const char* new_password, const char* email, const char* privilege_password);
int universe_get_citizen_attributes(const char* name, const char* password);
int universe_send_password(const char* name, const char* text);
int universe_get_citizen_name(int32_t number);
int universe_get_telegram();
int universe_send_telegram(int32_t number, const char* text);
int universe_get_citizen_number(const char* name);
int universe_whos_at(uint32_t address);  // network order, sent as received
int universe_get_worlds();
int universe_contact_list(const int32_t* numbers, int count);
int universe_add_contact(int32_t number);
int universe_delete_contact(int32_t number);
int universe_get_citizen_location(int32_t number);
int universe_location(int rc, int32_t requester, const char* world, int32_t x, int32_t y, int32_t z, int yaw);

// The sign-up fields, sent enciphered.
struct universe_registration {
  const char* name;
  const char* password;
  const char* email;
  const char* card_name;
  const char* card_number;
  const char* business;
  const char* street;
  const char* city;
  const char* state;
  const char* postal_code;
  const char* month;
  const char* year;
  const char* phone;
};
int universe_send_registration(const universe_registration& fields);
// The key message 46 is enciphered with.
extern const uint8_t universe_registration_key[7];
