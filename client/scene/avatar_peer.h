#pragma once
// The peer datagram channel used while the world speaks the old object protocol: the own
// state to the world server, the nearby users' states back, and chat lines between peers
// (or relayed by the world server for a public speaker) with sequence numbers,
// acknowledgements and retries. State lists and relayed lines are taken only from the world
// server's address and port, lines only from a peer of the current state list; anything else
// is dropped unread and counted in the trace. A speaker's name is asked of the universe once
// while a question is open, at most PEER_LOOKUPS_PER_SECOND a second; the names kept are the
// state list's peers', the muted ones and the PEER_SPEAKERS last other speakers'.
// Window thread only.
#include <cstddef>
#include <cstdint>

constexpr int PEER_NAME_BUCKETS = 199;
constexpr int PEER_BUCKETS = 19;
constexpr int PEER_POOL = 19;
constexpr int PEER_NAME_LIMIT = 19;
constexpr int PEER_DATAGRAM = 512;
constexpr int PEER_TEXT_LIMIT = 255;
constexpr int PEER_RETRIES = 10;
constexpr uint32_t PEER_RETRY_INTERVAL = 4000;
constexpr uint32_t PEER_STATE_INTERVAL = 1000;
constexpr int PEER_RECORD_SIZE = 17;
constexpr int PEER_SPEAKERS = 32;
constexpr int PEER_LOOKUPS_PER_SECOND = 10;
constexpr uint32_t PEER_LOOKUP_WAIT = 10000;  // a question unanswered this long may be asked again

// 0, 400 when a table cannot be made, or the socket's error.
int avatar_peer_init(void* main_window);
// The peer form of task "avatar".
void avatar_update();
void avatar_peer_reset();
void avatar_peer_leave();
// 0 when the line went, 439 (nothing sent) while the world is silent (world_silent).
int avatar_peer_send_text(int length, const char* text);
void avatar_peer_set_type(int type);
int avatar_peer_type();
void avatar_peer_set_speaker(int flag);
// IPv4 address (network order) of the name, ignoring case; 0 when none.
uint32_t avatar_peer_addr_from_name(const char* name);
// The pop-up menu over the peer under a viewport point; 1 when one was hit.
int avatar_peer_popup_menu(int x, int y);
// Universe reply 13 (rc 0: name is the citizen at the address).
void avatar_receive_citizen_name(int rc, uint32_t address, const char* name);
// Closes the socket (after the leave datagram when state was sent).
void avatar_peer_term();

// Handles one received datagram as the update step does (tests, fuzzing).
int avatar_peer_handle(const uint8_t* data, int length, uint32_t address, uint16_t port);
// Inspection.
int avatar_peer_count();
int avatar_peer_port();  // local port in host order, 0 without a socket
bool avatar_peer_find(uint32_t address, uint16_t port, float* x, float* y, float* z, float* yaw, int* type);
const char* avatar_peer_name(uint32_t address);  // null when unknown
int avatar_peer_name_count();
int avatar_peer_lookups();  // names asked of the universe so far
void avatar_peer_reset_for_test();
// Tests: the world server's address and port (network order) in place of the connection's.
void avatar_peer_set_server_for_test(uint32_t address, uint16_t port);
