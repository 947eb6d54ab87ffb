#include "client/scene/avatar_peer.h"

#include <arpa/inet.h>
#include <strings.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "Zembrel/Pose/Anim/anim.h"
#include "client/core/hash.h"
#include "client/core/log.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/tessel.h"
#include "client/net/message.h"
#include "client/net/netcodes.h"
#include "client/net/udp.h"
#include "client/scene/avatar.h"
#include "client/scene/camera.h"
#include "client/scene/model.h"
#include "client/scene/scene.h"
#include "client/scene/self.h"
#include "client/servers/universe.h"
#include "client/servers/world.h"
#include "client/shell/chat.h"
#include "platform/clock.h"

#define TRACE(...) LOG_TRACE(TRACE_GENERAL, __VA_ARGS__)

namespace {

struct name_record {
  uint8_t sequence;
  uint8_t muted;
  uint8_t has_sequence;  // a new record takes any sequence as its first
  char* pending;
  uint16_t pending_port;  // the sender of the pending line, network order
  int32_t speaker;
  char name[PEER_NAME_LIMIT + 1];
  uint8_t asking;  // the universe was asked who is at the address and has not answered
  uint32_t asked_at;
  uint32_t heard_at;  // the last line from the address
};

#pragma pack(push, 1)
struct peer_key {
  uint32_t address;
  uint16_t port;
};
#pragma pack(pop)

struct peer_record {
  VxScene* scene;
  void* anim;
  balloon* balloon_handle;
  VxReal x, y, z, yaw;
  uint32_t last_update;  // frame number of the last state list that named it
  int32_t last_chat;
  uint32_t text_sent;
  int32_t acknowledged;
  int32_t retries;
  VxReal distance;
  const char* name;
  uint8_t type;
  uint8_t gesture;  // the last one handed to the animation object
};

struct peer_state {
  hash_table* names = nullptr;
  hash_table* peers = nullptr;
  int socket = -1;
  std::vector<VxScene*> pool;
  char own_text[PEER_TEXT_LIMIT + 1] = {};
  int own_length = 0;
  uint8_t own_sequence = 0;
  bool speaker = false;
  uint8_t own_type = 0;
  bool state_sent = false;
  uint32_t last_state_send = 0;
  uint32_t sent_address = 0;
  uint16_t sent_port = 0;
  int ring[10] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
  int ring_pos = 0;
  uint32_t frame = 1;
  uint32_t list_frame = 0;  // frame whose state list was applied
  uint32_t frame_tick = 0;
  bool hub_acknowledged = true;
  int hub_retries = 0;
  uint32_t hub_sent = 0;
  int dropped = 0;  // datagrams from senders that may not send them, since the last report
  bool dropped_told = false;
  uint32_t dropped_reported = 0;
  std::unordered_set<uint32_t> peer_addresses;  // the addresses of the state list's peers
  int lookups = 0;
  int lookups_this_second = 0;
  uint32_t lookup_second = 0;
  bool test_server = false;
  uint32_t test_address = 0;
  uint16_t test_port = 0;
};
peer_state p;

uint32_t server_address() { return p.test_server ? p.test_address : world_address(); }
uint16_t server_port() { return p.test_server ? p.test_port : world_port(); }

// One datagram packed into b; its length, or 0 when it did not fit.
template <class... Items>
int pack_datagram(uint8_t* b, size_t size, const Items&... items) {
  return message_pack(pk::Buffer{b, size}, items...) ? message_packed_length() : 0;
}

void send_to(const void* data, int length, uint32_t address, uint16_t port) {
  if (p.socket < 0 || length <= 0) return;
  udp_send(p.socket, data, length, address, port);
}

void print_console(int kind, const char* line) {
  if (avatar_hook.console_print) avatar_hook.console_print(kind, line);
}

name_record* find_name(uint32_t address) {
  if (!p.names) return nullptr;
  hash_entry* e = hash_find(p.names, sizeof address, &address);
  return e ? static_cast<name_record*>(hash_entry_data(e)) : nullptr;
}

peer_record* find_peer(uint32_t address, uint16_t port) {
  if (!p.peers) return nullptr;
  peer_key k{address, port};
  hash_entry* e = hash_find(p.peers, sizeof k, &k);
  return e ? static_cast<peer_record*>(hash_entry_data(e)) : nullptr;
}

void balloon_text(peer_record* r, const char* text) {
  if (r->balloon_handle && avatar_hook.balloon_set_text) avatar_hook.balloon_set_text(r->balloon_handle, text);
}
void make_balloon(peer_record* r) {
  if (r->balloon_handle || !avatar_hook.balloon_create) return;
  r->balloon_handle = avatar_hook.balloon_create();
}

void release_peer(peer_record* r) {
  if (r->anim) AnimDestroyAvatar(static_cast<AnimAvatar*>(r->anim));
  r->anim = nullptr;
  if (r->scene) {
    if (static_cast<int>(p.pool.size()) < PEER_POOL)
      p.pool.push_back(r->scene);
    else
      VxDestroyScene(r->scene);
  }
  r->scene = nullptr;
  if (r->balloon_handle && avatar_hook.balloon_destroy) avatar_hook.balloon_destroy(r->balloon_handle);
  r->balloon_handle = nullptr;
}

VxScene* take_scene() {
  if (!p.pool.empty()) {
    VxScene* sc = p.pool.back();
    p.pool.pop_back();
    return sc;
  }
  VxScene* sc = VxCreateScene();
  if (sc) {
    VxLight* light = VxCreateLight(1, -0.8f, -0.5f, -0.2f, 1.0f);
    if (light) VxAddLightToScene(sc, light);
  }
  TRACE("VxCreateScene: %p", static_cast<void*>(sc));
  return sc;
}

void remove_all_peers() {
  hash_clear(p.peers, [](void* d) { release_peer(static_cast<peer_record*>(d)); });
}

void send_leave(uint32_t address, uint16_t port) {
  uint8_t b[1];
  int n = pack_datagram(b, sizeof b, pk::Byte{3});
  send_to(b, n, address, port);
  send_to(b, n, address, port);
}

void send_ack(uint8_t sequence, uint32_t address, uint16_t port) {
  uint8_t b[2];
  send_to(b, pack_datagram(b, sizeof b, pk::Byte{1}, pk::Byte{sequence}), address, port);
}

uint32_t thousandths(double v) { return static_cast<uint32_t>(static_cast<int32_t>(std::lround(v * 1000))); }

void send_own_state(uint32_t now) {
  uint8_t b[18];
  int n = pack_datagram(b, sizeof b, pk::Byte{0}, pk::Int32{thousandths(self_get_x())},
                        pk::Int32{thousandths(self_get_y())}, pk::Int32{thousandths(self_get_z())},
                        pk::Int16{static_cast<uint32_t>(std::lround(self_get_yaw() * 10))}, pk::Byte{p.own_type},
                        pk::Byte{0}, pk::Byte{static_cast<uint32_t>(self_gesture())});
  p.sent_address = server_address();
  p.sent_port = server_port();
  send_to(b, n, p.sent_address, p.sent_port);
  p.state_sent = true;
  p.last_state_send = now;
}

void send_line_to(uint8_t type, uint32_t address, uint16_t port) {
  uint8_t b[2 + PEER_TEXT_LIMIT];
  send_to(b,
          pack_datagram(b, sizeof b, pk::Byte{type}, pk::Byte{p.own_sequence},
                        pk::Raw{static_cast<size_t>(p.own_length), p.own_text}),
          address, port);
}

// The line of the peer at (address, port), shown over its avatar when it is in the list.
void show_text(uint32_t address, uint16_t port, name_record* n, const char* text, bool relayed) {
  peer_record* r = find_peer(address, port);
  char line[PEER_NAME_LIMIT + 2 + PEER_TEXT_LIMIT + 8];
  std::snprintf(line, sizeof line, "%s: %s", n->name, text);
  if (r && avatar_list_loaded()) {
    make_balloon(r);
    bool balloons = chat_balloons() != 0;
    balloon_text(r, balloons ? line : n->name);
  }
  if (!n->muted && (r || relayed || p.speaker)) {
    for (char* c = line; *c; ++c)
      if (*c == '\t' || *c == '\n' || *c == '\r') *c = ' ';
    print_console(relayed ? 1 : (n->name[0] == '"' ? 6 : 0), line);
  }
  if (r) {
    r->name = n->name;
    r->last_chat = static_cast<int32_t>(p.frame_tick);
    if (r->last_chat == INT32_MAX) r->last_chat = INT32_MAX - 1;
  }
}

void free_name(name_record* n) {
  std::free(n->pending);
  n->pending = nullptr;
}

// Makes room for a new speaker: the one heard longest ago goes, unless it is a peer of the
// state list (whose record the peer names) or muted by the person.
void drop_oldest_speaker() {
  int others = 0;
  hash_entry* oldest = nullptr;
  hash_iterator* it = hash_iterator_create(p.names);
  while (hash_entry* e = hash_iterator_next(it)) {
    auto* n = static_cast<name_record*>(hash_entry_data(e));
    uint32_t a;
    std::memcpy(&a, hash_entry_key(e), sizeof a);
    if (n->muted || p.peer_addresses.count(a)) continue;
    ++others;
    if (!oldest || tick_before(n->heard_at, static_cast<name_record*>(hash_entry_data(oldest))->heard_at)) oldest = e;
  }
  if (others < PEER_SPEAKERS || !oldest) return;
  uint32_t a;
  std::memcpy(&a, hash_entry_key(oldest), sizeof a);
  free_name(static_cast<name_record*>(hash_entry_data(oldest)));
  hash_remove(p.names, sizeof a, &a);
}

name_record* heard_from(uint32_t address) {
  name_record* n = find_name(address);
  if (!n) {
    if (!p.peer_addresses.count(address)) drop_oldest_speaker();
    int found = 0;
    n = hash_find_or_add_as<name_record>(p.names, sizeof address, &address, &found);
    if (!n) return nullptr;
    if (!found) std::memset(n, 0, sizeof *n);
  }
  n->heard_at = platform_ticks();
  return n;
}

// Asks the universe who is at the address, once while a question is open and within the
// second's share; a line left waiting is asked for by a later frame.
void ask_name(uint32_t address, name_record* n) {
  uint32_t now = platform_ticks();
  if (n->asking && tick_diff(n->asked_at, now) < static_cast<int32_t>(PEER_LOOKUP_WAIT)) return;
  if (tick_diff(p.lookup_second, now) >= 1000) {
    p.lookup_second = now;
    p.lookups_this_second = 0;
  }
  if (p.lookups_this_second >= PEER_LOOKUPS_PER_SECOND) return;
  ++p.lookups_this_second;
  ++p.lookups;
  n->asking = 1;
  n->asked_at = now;
  universe_whos_at(address);
}

void ask_waiting_names() {
  if (!p.names) return;
  hash_iterator* it = hash_iterator_create(p.names);
  while (hash_entry* e = hash_iterator_next(it)) {
    auto* n = static_cast<name_record*>(hash_entry_data(e));
    if (!n->pending) continue;
    uint32_t a;
    std::memcpy(&a, hash_entry_key(e), sizeof a);
    ask_name(a, n);
  }
}

void process_text(uint32_t address, uint16_t port, uint8_t sequence, bool relayed, const char* text) {
  TRACE("avatar: process_text");
  if (!p.names) return;
  name_record* n = heard_from(address);
  if (!n) return;
  if (n->has_sequence && n->sequence == sequence) return;
  n->sequence = sequence;
  n->has_sequence = 1;
  n->speaker = relayed ? 1 : 0;
  const char* colon = text[0] ? std::strchr(text + 1, ':') : nullptr;
  if (!colon) return;
  char name[PEER_NAME_LIMIT + 1];
  size_t name_length = std::min(static_cast<size_t>(colon - text), static_cast<size_t>(PEER_NAME_LIMIT));
  std::memcpy(name, text, name_length);
  name[name_length] = 0;
  // The line starts two characters after the colon (a colon at the very end leaves it empty).
  const char* body = colon[1] ? colon + 2 : colon + 1;
  if (n->muted) body = "<muted>";
  if (name[0] == '"') std::snprintf(n->name, sizeof n->name, "%s", name);
  if (std::strcmp(n->name, name) != 0) {
    std::free(n->pending);
    n->pending = strdup(body);
    n->pending_port = port;
    ask_name(address, n);
    return;
  }
  show_text(address, port, n, body, relayed);
}

// Type byte, base x, y, z, then records until the end; a datagram too short for its base is
// no state list and leaves the frame's one for the next.
void apply_state_list(const uint8_t* d, int length) {
  int32_t bx = 0, by = 0, bz = 0;
  if (!unpack(ud::Input{d, static_cast<size_t>(length)}, ud::Skip{1}, ud::Int32{&bx}, ud::Int32{&by}, ud::Int32{&bz}))
    return;
  if (p.list_frame == p.frame) return;  // one state list per frame
  p.list_frame = p.frame;
  if (!p.peers) return;
  bool loaded = avatar_list_loaded();
  bool types = perform_avatars() != 0;
  for (int off = 13; off + PEER_RECORD_SIZE <= length; off += PEER_RECORD_SIZE) {
    // Each record read on its own: what runs for one record may read datagrams too.
    peer_key k{};
    int16_t dx = 0, dy = 0, dz = 0, tenths = 0;
    uint8_t type = 0, gesture = 0;
    unpack(ud::Input{d + off, PEER_RECORD_SIZE}, ud::Raw{4, &k.address}, ud::Raw{2, &k.port},  // network order
           ud::Int16{&dx}, ud::Int16{&dy}, ud::Int16{&dz}, ud::Int16{&tenths}, ud::Byte{&type}, ud::Skip{1},
           ud::Byte{&gesture});
    if (gesture == 255) gesture = 0;
    int found = 0;
    hash_entry* e = hash_find_or_add(p.peers, sizeof k, &k, sizeof(peer_record), &found);
    if (!e) {
      log_write("avatar: peer table full (400)");
      break;
    }
    auto* pr = static_cast<peer_record*>(hash_entry_data(e));
    VxReal x = static_cast<VxReal>((static_cast<int64_t>(bx) + dx) * 0.001);
    VxReal y = static_cast<VxReal>((static_cast<int64_t>(by) + dy) * 0.001);
    VxReal z = static_cast<VxReal>((static_cast<int64_t>(bz) + dz) * 0.001);
    VxReal yaw = tenths * 0.1f;
    if (!found) {
      std::memset(pr, 0, sizeof *pr);
      pr->type = 255;
      pr->acknowledged = 1;
      pr->last_chat = INT32_MAX;
      name_record* n = find_name(k.address);
      if (n && n->name[0]) pr->name = n->name;
    } else if (loaded) {
      if (type == 255)
        y -= 0.17f;
      else
        pr->type = types ? type : 0;
      if (!pr->anim) {
        if (!pr->scene) pr->scene = take_scene();
        TRACE("TZD_create");
        pr->anim = AnimCreateAvatar(pr->scene, 1, perform_zembrels() != 0 ? 1 : 0);
        TRACE("TZD_create done");
      }
      if (pr->anim) {
        bool known = pr->type != 255;
        uint8_t shown = known ? gesture : 0;
        AnimSetAvatarState(static_cast<AnimAvatar*>(pr->anim), x, y, z, static_cast<int>(yaw), p.frame_tick,
                           known ? pr->type : 0, 0, shown);
        if (shown != pr->gesture) TRACE("avatar: peer gesture %d", shown);
        pr->gesture = shown;
      }
      if (pr->name && !pr->balloon_handle) {
        make_balloon(pr);
        balloon_text(pr, pr->name);
      }
    }
    pr->x = x;
    pr->y = y;
    pr->z = z;
    pr->yaw = yaw;
    pr->last_update = p.frame;
  }
  p.peer_addresses.clear();
  hash_iterator* it = hash_iterator_create(p.peers);
  while (hash_entry* e = hash_iterator_next(it)) {
    auto* pr = static_cast<peer_record*>(hash_entry_data(e));
    if (pr->last_update != p.frame) {
      release_peer(pr);
      hash_iterator_remove(it);
      continue;
    }
    uint32_t a;
    std::memcpy(&a, hash_entry_key(e), sizeof a);
    p.peer_addresses.insert(a);
  }
}

bool relayed_before(int sequence) {
  for (int v : p.ring)
    if (v == sequence) return true;
  p.ring[p.ring_pos] = sequence;
  p.ring_pos = (p.ring_pos + 1) % 10;
  return false;
}

void resend(uint32_t now) {
  if (p.own_length <= 0) return;
  if (p.speaker && !p.hub_acknowledged && tick_diff(p.hub_sent, now) > static_cast<int32_t>(PEER_RETRY_INTERVAL)) {
    if (p.hub_retries < PEER_RETRIES) {
      ++p.hub_retries;
      send_line_to(2, p.sent_address ? p.sent_address : server_address(), p.sent_port ? p.sent_port : server_port());
      p.hub_sent = now;
    } else {
      p.hub_acknowledged = true;
    }
  }
  if (p.speaker || !p.peers) return;
  hash_iterator* it = hash_iterator_create(p.peers);
  if (!it) return;
  while (hash_entry* e = hash_iterator_next(it)) {
    auto* pr = static_cast<peer_record*>(hash_entry_data(e));
    if (pr->acknowledged || tick_diff(pr->text_sent, now) <= static_cast<int32_t>(PEER_RETRY_INTERVAL)) continue;
    if (pr->retries < PEER_RETRIES) {
      ++pr->retries;
      peer_key k;
      std::memcpy(&k, hash_entry_key(e), sizeof k);
      send_line_to(0, k.address, k.port);
      pr->text_sent = now;
    } else {
      pr->acknowledged = 1;
    }
  }
}

}  // namespace

int avatar_peer_init(void*) {
  TRACE("avatar_peer_init");
  if (!p.names) p.names = hash_create(PEER_NAME_BUCKETS);
  if (!p.peers) p.peers = hash_create(PEER_BUCKETS);
  if (!p.names || !p.peers) return 400;
  universe_receiver.avatar_receive_citizen_name = avatar_receive_citizen_name;
  if (p.socket >= 0) return 0;
  int sock = -1;
  int rc = udp_create(&sock);
  if (rc != 0) return rc;
  p.socket = sock;
  return 0;
}

int avatar_peer_handle(const uint8_t* d, int length, uint32_t address, uint16_t port) {
  if (!d || length < 1) return 0;
  if (length > PEER_DATAGRAM) length = PEER_DATAGRAM;
  const size_t size = static_cast<size_t>(length);
  // Who may speak: state lists and relayed lines come only from the world server's address
  // and port, lines only from a peer of the current state list, acknowledgements from either.
  // Anything else is dropped unread: a stranger who knows the port cannot make avatars,
  // remove them, or put words in anyone's mouth.
  const bool from_server = address == server_address() && port == server_port();
  const bool from_peer = find_peer(address, port) != nullptr;
  const uint8_t type = d[0];
  const bool allowed = type == 0 ? from_peer : (type == 2 || type == 3) ? from_server : from_server || from_peer;
  if (!allowed) {
    ++p.dropped;
    return 0;
  }
  if (from_server) world_heard();
  uint8_t sequence = 0;
  char text[PEER_TEXT_LIMIT + 1];
  int left = 0;
  switch (type) {
    case 0: {
      if (!unpack(ud::Input{d, size}, ud::Skip{1}, ud::Byte{&sequence}, ud::Left{&left})) return 0;
      int n = std::min(left, PEER_TEXT_LIMIT);
      unpack(ud::Raw{static_cast<size_t>(n), text});
      text[n] = 0;
      send_ack(sequence, address, port);
      process_text(address, port, sequence, false, text);
      return 0;
    }
    case 1: {
      if (!unpack(ud::Input{d, size}, ud::Skip{1}, ud::Byte{&sequence}) || sequence != p.own_sequence) return 0;
      if (p.speaker) {
        if (from_server) p.hub_acknowledged = true;
      } else if (peer_record* r = find_peer(address, port)) {
        r->acknowledged = 1;
      }
      return 0;
    }
    case 2:
      apply_state_list(d, length);
      return 0;
    case 3: {
      uint32_t from = 0;
      uint16_t from_port = 0;
      if (!unpack(ud::Input{d, size}, ud::Skip{1}, ud::Byte{&sequence}, ud::Raw{4, &from}, ud::Raw{2, &from_port},
                  ud::Left{&left}))
        return 0;
      int n = std::min(left, PEER_TEXT_LIMIT);
      unpack(ud::Raw{static_cast<size_t>(n), text});
      text[n] = 0;
      send_ack(sequence, address, port);
      if (relayed_before(sequence)) return 0;
      process_text(from, from_port, sequence, true, text);
      return 0;
    }
    default:
      return 0;
  }
}

void avatar_update() {
  if (!server_address() || tessel_kiosk()) return;
  ++p.frame;
  uint32_t t = platform_ticks();
  if (!p.state_sent || tick_diff(p.last_state_send, t) > static_cast<int32_t>(PEER_STATE_INTERVAL)) send_own_state(t);
  uint32_t now = t + 1;
  p.frame_tick = now;
  uint8_t buffer[PEER_DATAGRAM];
  // Bounded: a flood cannot hold the frame forever.
  for (int i = 0; p.socket >= 0 && i < 256; ++i) {
    int count = 0;
    uint32_t address = 0;
    uint16_t port = 0;
    int rc = udp_receive(p.socket, buffer, sizeof buffer, &count, &address, &port);
    if (rc != 0) {
      TRACE("receive_messages FAILED: %d", rc);
      break;
    }
    if (count <= 0) break;
    avatar_peer_handle(buffer, count, address, port);
  }
  // One line for what was dropped, at most once a second: a flood cannot fill the log.
  if (p.dropped > 0 &&
      (!p.dropped_told || tick_diff(p.dropped_reported, t) >= static_cast<int32_t>(PEER_STATE_INTERVAL))) {
    TRACE("avatar: %d datagrams dropped, not from the world server or a peer of its state list", p.dropped);
    p.dropped = 0;
    p.dropped_told = true;
    p.dropped_reported = t;
  }
  resend(now);
  ask_waiting_names();
  if (!p.peers) return;
  VxReal cx = 0, cz = 0;
  if (VxCamera* cam = camera_get_main()) {
    VxVector v{};
    if (VxGetCameraPosition(cam, &v) == 1) {
      cx = v.x;
      cz = v.z;
    }
  }
  std::vector<peer_record*> list;
  hash_for_each(p.peers, [&](void* d) { list.push_back(static_cast<peer_record*>(d)); });
  for (peer_record* r : list) {
    if (!r->anim) continue;
    AnimAvatar* o = static_cast<AnimAvatar*>(r->anim);
    AnimUpdateAvatar(o, now);
    VxReal x = r->x, y = r->y, z = r->z;
    AnimGetAvatarPosition(o, &x, &y, &z);
    r->distance = (x - cx) * (x - cx) + (z - cz) * (z - cz);
    if (r->balloon_handle) {
      float h = 0;
      auto* m = static_cast<model_instance*>(AnimGetAvatarModel(o));
      if (!m || !model_height(m, &h) || !std::isfinite(h) || h >= MODEL_UNKNOWN) h = 0;
      VxMatrix* mx = VxScratchMatrix();
      VxTranslateMatrix(mx, x, y + h, z, VX_REPLACE);
      if (avatar_hook.balloon_set_position) avatar_hook.balloon_set_position(r->balloon_handle, mx);
      if (r->last_chat != INT32_MAX && tick_before(static_cast<uint32_t>(r->last_chat), now - 30000)) {
        r->last_chat = INT32_MAX;
        balloon_text(r, r->name ? r->name : "");
      }
    }
  }
  if (tessel_in_background()) return;
  SelfAmongOthers own(cx, cz);
  sort_far_first(list);
  for (peer_record* r : list) {
    own.before(r->distance);
    if (r->scene) VxRenderScene(r->scene);
  }
  own.finish();
}

void avatar_peer_reset() {
  if (p.state_sent && (p.sent_address != server_address() || p.sent_port != server_port()))
    send_leave(p.sent_address, p.sent_port);
  remove_all_peers();
  p.peer_addresses.clear();
  for (int& v : p.ring) v = -1;
  p.ring_pos = 0;
}

void avatar_peer_leave() {
  if (p.state_sent) send_leave(p.sent_address, p.sent_port);
}

int avatar_peer_send_text(int length, const char* text) {
  if (!text || length < 0) return NET_NO_FIT;
  // Neither the world nor its hub answers: the line would go nowhere.
  if (world_silent()) return NET_NO_WORLD;
  length = std::min(length, PEER_TEXT_LIMIT);
  std::memcpy(p.own_text, text, static_cast<size_t>(length));
  p.own_text[length] = 0;
  p.own_length = length;
  ++p.own_sequence;
  if (p.speaker) {
    send_line_to(2, server_address(), server_port());
    p.hub_acknowledged = false;
    p.hub_sent = p.frame_tick;
    p.hub_retries = 0;
  } else if (p.peers) {
    hash_iterator* it = hash_iterator_create(p.peers);
    if (it) {
      while (hash_entry* e = hash_iterator_next(it)) {
        peer_key k;
        std::memcpy(&k, hash_entry_key(e), sizeof k);
        send_line_to(0, k.address, k.port);
        auto* r = static_cast<peer_record*>(hash_entry_data(e));
        r->acknowledged = 0;
        r->text_sent = p.frame_tick;
        r->retries = 0;
      }
    }
  }
  char line[PEER_TEXT_LIMIT + 1];
  std::snprintf(line, sizeof line, "%.*s", length, p.own_text);
  print_console(p.speaker ? 1 : (line[0] == '"' ? 6 : 0), line);
  return 0;
}

void avatar_peer_set_type(int type) { p.own_type = static_cast<uint8_t>(type); }
int avatar_peer_type() { return p.own_type; }
void avatar_peer_set_speaker(int flag) { p.speaker = flag != 0; }

uint32_t avatar_peer_addr_from_name(const char* name) {
  if (!name || !p.names) return 0;
  hash_iterator* it = hash_iterator_create(p.names);
  if (!it) return 0;
  while (hash_entry* e = hash_iterator_next(it)) {
    auto* n = static_cast<name_record*>(hash_entry_data(e));
    if (n->name[0] && strcasecmp(n->name, name) == 0) {
      uint32_t a;
      std::memcpy(&a, hash_entry_key(e), 4);
      hash_iterator_destroy(it);
      return a;
    }
  }
  return 0;
}

void avatar_receive_citizen_name(int rc, uint32_t address, const char* name) {
  name_record* n = find_name(address);
  if (!n) return;
  n->asking = 0;
  // No name to be had: the line waiting for it is never shown, nor asked for again.
  if (rc != 0 || !name) {
    free_name(n);
    return;
  }
  std::snprintf(n->name, sizeof n->name, "%s", name);
  if (n->pending) {
    char* text = n->pending;
    n->pending = nullptr;
    show_text(address, n->pending_port, n, text, n->speaker != 0);
    std::free(text);
  }
}

int avatar_peer_popup_menu(int x, int y) {
  if (!p.peers) return 0;
  uint32_t hit = 0;
  bool found = false;
  VxReal best = 1e10f;
  hash_iterator* it = hash_iterator_create(p.peers);
  if (!it) return 0;
  while (hash_entry* e = hash_iterator_next(it)) {
    auto* r = static_cast<peer_record*>(hash_entry_data(e));
    peer_key k;
    std::memcpy(&k, hash_entry_key(e), sizeof k);
    if (!r->scene || !r->anim || !find_name(k.address)) continue;
    auto* m = static_cast<model_instance*>(AnimGetAvatarModel(static_cast<AnimAvatar*>(r->anim)));
    VxClump* model = m ? model_clump(m) : nullptr;
    if (!avatar_part_at(r->scene, model, x, y) || r->distance >= best) continue;
    best = r->distance;
    hit = k.address;
    found = true;
  }
  if (!found) return 0;
  name_record* n = find_name(hit);
  int chosen = avatar_menu_run(n->name, n->muted != 0, p.speaker && world_server_build() > 6, static_cast<int>(hit));
  // Looked up again: the record may have gone while the menu was open.
  n = find_name(hit);
  if (chosen == AVATAR_MENU_MUTE && n) n->muted = n->muted ? 0 : 1;
  return 1;
}

void avatar_peer_term() {
  if (p.socket < 0) return;
  avatar_peer_leave();
  udp_destroy(p.socket);
  p.socket = -1;
}

int avatar_peer_count() { return p.peers ? p.peers->count : 0; }

int avatar_peer_port() {
  if (p.socket < 0) return 0;
  sockaddr_in a{};
  socklen_t n = sizeof a;
  if (getsockname(p.socket, reinterpret_cast<sockaddr*>(&a), &n) != 0) return 0;
  return ntohs(a.sin_port);
}

bool avatar_peer_find(uint32_t address, uint16_t port, float* x, float* y, float* z, float* yaw, int* type) {
  peer_record* r = find_peer(address, port);
  if (!r) return false;
  if (x) *x = r->x;
  if (y) *y = r->y;
  if (z) *z = r->z;
  if (yaw) *yaw = r->yaw;
  if (type) *type = r->type;
  return true;
}

const char* avatar_peer_name(uint32_t address) {
  name_record* n = find_name(address);
  return n && n->name[0] ? n->name : nullptr;
}

int avatar_peer_name_count() { return p.names ? p.names->count : 0; }
int avatar_peer_lookups() { return p.lookups; }

void avatar_peer_set_server_for_test(uint32_t address, uint16_t port) {
  p.test_server = true;
  p.test_address = address;
  p.test_port = port;
}

void avatar_peer_reset_for_test() {
  avatar_peer_term();
  remove_all_peers();
  for (VxScene* sc : p.pool) VxDestroyScene(sc);
  if (p.names) {
    hash_for_each(p.names, [](void* d) { free_name(static_cast<name_record*>(d)); });
    hash_destroy(p.names);
  }
  if (p.peers) hash_destroy(p.peers);
  p = peer_state{};
}
