#include "client/servers/world.h"

#include <strings.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/core/files.h"
#include "client/cache/database.h"
#include "client/core/hash.h"
#include "client/core/identity.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/tessel.h"
#include "client/net/message.h"
#include "client/net/netcodes.h"
#include "client/net/stream.h"
#include "client/net/tcp.h"
#include "client/scene/cell.h"
#include "client/servers/attributes.h"
#include "client/servers/universe.h"
#include "platform/clock.h"
#include "keyfile/ostrel.h"
#include "platform/progdir.h"

world_hooks world_hook{};

namespace {

#define TRACE(...) LOG_TRACE(TRACE_GENERAL, __VA_ARGS__)
#define WTRACE(...) LOG_TRACE(TRACE_WORLD, __VA_ARGS__)

constexpr int kAddressBuckets = 37;
constexpr int kMessagesPerFrame = 1000;  // a server that never pauses cannot hold the frame
constexpr int kMaxAvatarStored = 250;

struct cached_address {
  uint32_t address;
  uint16_t port;
};

struct world_module {
  int state = WORLD_NONE;
  std::string name;
  uint8_t key[WORLD_KEY_LENGTH] = {};
  uint32_t address = 0;
  uint16_t port = 0;
  std::string pending_lookup;
  hash_table* addresses = nullptr;
  database* db = nullptr;
  std::string property_path;
  stream* connection = nullptr;
  uint8_t buffer[NET_SEND_BUFFER];
  // What the last login sent.
  int sent_session = 0;
  int32_t sent_citizen = 0;
  int sent_avatars = 0;
  int sent_name_changes = 0;
  bool in_flight = false;
  int login_pending = 0;
  bool first_application = false;
  int contents_changed = 0;
  bool query_after = false;
  bool rights = false;
  bool retry_set = false;
  uint32_t retry_at = 0;
  uint32_t next_heartbeat = 0;
  uint32_t last_receive = 0;
  bool status_clear_set = false;
  uint32_t status_clear_at = 0;
  int last_error = 0;
  int login_count = 0;
  int server_build = 0;
  bool status_shown = false;
  std::string status;
  std::string universe_status;
  std::string title;
  std::string last_welcome;
};

world_module* w = nullptr;
world_module& mod() {
  if (!w) w = new world_module;
  return *w;
}

std::string lower(const char* s) {
  std::string out = s ? s : "";
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

void make_key(uint8_t key[WORLD_KEY_LENGTH], const std::string& text) {
  std::memset(key, 0, WORLD_KEY_LENGTH);
  std::memcpy(key, text.data(), text.size() < WORLD_KEY_LENGTH ? text.size() : WORLD_KEY_LENGTH);
}

void console_line(int kind, const char* header, const char* text) {
  if (!world_hook.console_print) return;
  char line[1024];
  std::snprintf(line, sizeof line, "%s: %s", header, text);
  world_hook.console_print(kind, line);
}

// The world's own text, or the universe's while the world has none.
const std::string& shown_status(const world_module& m) {
  return m.status.empty() ? m.universe_status : m.status;
}

void show_status() {
  world_module& m = mod();
  if (m.status_shown && world_hook.status_text) world_hook.status_text(shown_status(m).c_str());
}

void set_status(const char* text) {
  world_module& m = mod();
  m.status = text ? text : "";
  m.status_clear_set = false;
  show_status();
}

// The connection starts again (silence, or a login that got no answer): it says so.
void start_again(const char* why) {
  world_module& m = mod();
  WTRACE("world: %s; connecting again", why);
  m.state = WORLD_CONNECT;
  m.retry_set = false;
  set_status(msg(119));
}

void call_prop_set_old(int flag) {
  if (world_hook.prop_set_old)
    world_hook.prop_set_old(flag);
  else
    cell_set_old(flag);
}

void call_avatar_delete_all() {
  if (world_hook.avatar_delete_all) world_hook.avatar_delete_all();
}

int32_t effective_citizen() { return citizen_effective_number(); }

int chat_avatars_value() {
  return world_hook.chat_avatars ? world_hook.chat_avatars() : chat_avatars();
}

int rating_limit() {
  return world_hook.general_rating ? world_hook.general_rating() : general_rating();
}

int name_changes() { return citizen_name_changes(); }

// A world error gives way to a pending teleport, then to the location history, else ends
// the program with a note box.
void error_fallback(const char* text) {
  if (world_hook.teleport_pending && world_hook.teleport_pending()) return;
  if (world_hook.history_back && world_hook.history_back()) return;
  note("%s", text);
  tessel_quit();
}

void world_reset_callback() {
  TRACE("world: reset_callback");
  world_module& m = mod();
  m.state = WORLD_CONNECT;
  // A refused connect fails at once here: the next attempt waits its turn.
  m.retry_set = true;
  m.retry_at = platform_ticks() + WORLD_RETRY_INTERVAL;
  call_avatar_delete_all();
  set_status(msg(119));
}

int world_reset_connection() {
  TRACE("world: reset_connection");
  world_module& m = mod();
  stream_destroy(m.connection);
  m.connection = nullptr;
  m.next_heartbeat = platform_ticks() + WORLD_HEARTBEAT_INTERVAL;
  if (world_hook.prop_reset) world_hook.prop_reset();
  call_avatar_delete_all();
  return stream_create(m.address, m.port, world_reset_callback, &m.connection);
}

void drop_connection() {
  world_module& m = mod();
  stream_destroy(m.connection);
  m.connection = nullptr;
}

// ---- replies --------------------------------------------------------------------------

// The message's body (after the code byte) into a block; false when it cannot be read.
bool read_block(stream* s, int length, uint8_t** out) {
  *out = nullptr;
  if (length <= 0) return true;
  auto* block = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(length)));
  if (!block) return false;
  if (stream_receive(s, rd::Raw{static_cast<size_t>(length), block})) {
    std::free(block);
    return false;
  }
  *out = block;
  return true;
}

void world_receive_attributes(stream* s, int length) {
  world_module& m = mod();
  uint8_t* block = nullptr;
  if (!read_block(s, length, &block)) {
    WTRACE("world: attribute block of %d bytes not read", length);
    return;
  }
  world_entered(block, length, 0);
  std::free(block);
  if (!m.rights && attribute_number(ATTR_RATING) > rating_limit()) handle_world_error(NET_RATING);
}

bool read_object(stream* s, world_object& o) {
  char model[256], description[256], action[256];
  int r = stream_receive(s, rd::Int32{&o.number}, rd::Int32{&o.owner}, rd::Int32{&o.build_time}, rd::Int16{&o.x},
                         rd::Int16{&o.y}, rd::Int16{&o.z}, rd::Int16{&o.yaw}, rd::String{model, sizeof model},
                         rd::String{description, sizeof description}, rd::String{action, sizeof action});
  if (r) return false;
  o.model = model;
  o.description = description;
  o.action = action;
  return true;
}

// Without a props module the cell cache is written here.
void store_cell(const world_cell& cell) {
  cell_update_begin(cell.x, cell.z, 1);
  for (const world_object& o : cell.objects)
    cell_element_add(o.number, o.owner, o.build_time, o.x, o.y, o.z, o.yaw, o.model.c_str(),
                     o.description.c_str(), o.action.c_str());
  cell_update_end(cell.sequence);
}

void receive_cell(stream* s, int body) {
  world_cell cell{};
  if (stream_receive(s, rd::Int16{&cell.x}, rd::Int16{&cell.z}, rd::Int32{&cell.sequence})) return;
  while (stream_message_position(s) < body) {
    world_object o{};
    if (!read_object(s, o)) break;  // a cut object is dropped, the rest of the cell kept
    cell.objects.push_back(std::move(o));
  }
  world_module& m = mod();
  set_status(msg_arg(250, body));
  m.status_clear_set = true;
  m.status_clear_at = platform_ticks() + WORLD_STATUS_TIME;
  if (world_hook.prop_receive_cell)
    world_hook.prop_receive_cell(cell);
  else
    store_cell(cell);
}

void receive_live_add(stream* s) {
  int16_t session = 0, cx = 0, cz = 0;
  int32_t sequence = 0;
  world_object o{};
  if (stream_receive(s, rd::Int16{&session}, rd::Int32{&sequence}, rd::Int16{&cx}, rd::Int16{&cz})) return;
  if (!read_object(s, o)) return;
  if (world_hook.prop_live_add) {
    world_hook.prop_live_add(static_cast<uint16_t>(session), sequence, cx, cz, o);
    return;
  }
  cell_update_begin(cx, cz, 0);
  cell_element_add(o.number, o.owner, o.build_time, o.x, o.y, o.z, o.yaw, o.model.c_str(), o.description.c_str(),
                   o.action.c_str());
  cell_update_end(sequence);
}

void receive_live_delete(stream* s) {
  int16_t session = 0, cx = 0, cz = 0;
  int32_t sequence = 0, number = 0;
  if (stream_receive(s, rd::Int16{&session}, rd::Int32{&sequence}, rd::Int16{&cx}, rd::Int16{&cz},
                     rd::Int32{&number}))
    return;
  if (world_hook.prop_live_delete) {
    world_hook.prop_live_delete(static_cast<uint16_t>(session), sequence, cx, cz, number);
    return;
  }
  cell_update_begin(cx, cz, 0);
  cell_element_delete(number);
  cell_update_end(sequence);
}

void dispatch(stream* s, int code, int body) {
  world_hooks& h = world_hook;
  switch (code) {
    case WREP_REQUEST_RESULT: {
      int32_t number = 0;
      uint8_t rc = 0;
      if (stream_receive(s, rd::Int32{&number}, rd::Byte{&rc}) == 0 && h.prop_request_result)
        h.prop_request_result(number, rc);
      break;
    }
    case WREP_ATTRIBUTES:
      world_receive_attributes(s, body);
      break;
    case WREP_AVATAR_ADD: {
      int16_t session = 0, yaw = 0;
      char name[256];
      int32_t x = 0, y = 0, z = 0;
      uint8_t type = 0, gesture = 0;
      if (stream_receive(s, rd::Int16{&session}, rd::String{name, sizeof name}, rd::Int32{&x}, rd::Int32{&y},
                         rd::Int32{&z}, rd::Int16{&yaw}, rd::Byte{&type}, rd::Byte{&gesture}) == 0 &&
          h.avatar_add)
        h.avatar_add(static_cast<uint16_t>(session), name, x, y, z, yaw, type, gesture);
      break;
    }
    case WREP_AVATAR_DELETE: {
      int16_t session = 0;
      if (stream_receive(s, rd::Int16{&session}) == 0 && h.avatar_delete) h.avatar_delete(static_cast<uint16_t>(session));
      break;
    }
    case WREP_AVATAR_POSITION: {
      int16_t session = 0, yaw = 0;
      int32_t x = 0, y = 0, z = 0;
      uint8_t type = 0, gesture = 0;
      if (stream_receive(s, rd::Int16{&session}, rd::Int32{&x}, rd::Int32{&y}, rd::Int32{&z}, rd::Int16{&yaw},
                         rd::Byte{&type}, rd::Byte{&gesture}) == 0 &&
          h.avatar_position)
        h.avatar_position(static_cast<uint16_t>(session), x, y, z, yaw, type, gesture);
      break;
    }
    case WREP_AVATAR_MESSAGE:
    case WREP_CHAT: {
      int16_t session = 0;
      char text[256];
      if (stream_receive(s, rd::Int16{&session}, rd::String{text, sizeof text}) == 0 && h.avatar_message)
        h.avatar_message(code == WREP_AVATAR_MESSAGE ? 1 : 0, static_cast<uint16_t>(session), text);
      break;
    }
    case WREP_CELL:
      receive_cell(s, body);
      break;
    case WREP_LIVE_ADD:
      receive_live_add(s);
      break;
    case WREP_LIVE_DELETE:
      receive_live_delete(s);
      break;
    case WREP_ERROR_215:
      handle_world_error(215);
      break;
    case WREP_ERROR_214:
      handle_world_error(214);
      break;
    case WREP_IMPOSTER:
      handle_imposter();
      break;
    case WREP_QUERY_RESTART:
      if (h.prop_query_restart) h.prop_query_restart();
      break;
    case WREP_ERROR_207:
      handle_world_error(207);
      break;
    case WREP_QUERY_DONE: {
      world_module& m = mod();
      if (m.query_after) {
        m.query_after = false;
        if (h.prop_query_restart) h.prop_query_restart();
      } else if (h.prop_query_done) {
        h.prop_query_done();
      }
      break;
    }
    default:
      // 16 and unknown codes: the body is skipped (the stream drops what is left unread).
      break;
  }
}

void world_login_result(int length) {
  world_module& m = mod();
  m.in_flight = false;
  if (length == 0) {
    m.state = WORLD_IN;
    ++m.login_count;
    call_prop_set_old(0);
    m.last_error = 0;
    if (world_hook.teleport_apply) world_hook.teleport_apply();
    return;
  }
  if (length == 1) {
    uint8_t e = 0;
    int r = stream_receive(m.connection, rd::Byte{&e});
    // The refused connection is dead: it is never read again.
    drop_connection();
    if (r) return;
    if (e == 12) {
      handle_imposter();
      return;
    }
    int code = (e + 200) % 256;
    console_line(3, msg(160), world_error_text(code, m.name.c_str()));
    world_entered(nullptr, 0, code);
    return;
  }
  // An old-protocol server: the reply is the world's attribute block, and the connection
  // goes to the old object protocol.
  world_receive_attributes(m.connection, length);
  m.state = WORLD_OLD_PROTOCOL;
  call_prop_set_old(1);
  if (world_hook.prop_reset) world_hook.prop_reset();
  tcp* connection = stream_take_connection(m.connection);
  if (world_hook.oldprop_set_connection)
    world_hook.oldprop_set_connection(connection);
  else
    tcp_destroy(connection);
  drop_connection();
  if (world_hook.avatar_load_list) world_hook.avatar_load_list();
}

// A reply after the login: its code, then its body to the handler; false when not even the
// code could be read.
bool read_code_and_dispatch(stream* s, int length) {
  uint8_t code = 0;
  if (stream_receive(s, rd::Byte{&code})) return false;
  stream_message_rewind(s);
  WTRACE("world: reply %d, length %d", code, length);
  dispatch(s, code, length - 1);
  return true;
}

int world_receive() {
  world_module& m = mod();
  if (!m.connection) return NET_NO_WORLD;
  stream* s = m.connection;
  int length = 0;
  int r = stream_receive_message(s, &length);
  if (r) return r;
  m.last_receive = platform_ticks();
  if (m.in_flight) {
    world_login_result(length);
    if (m.connection) return stream_error(m.connection);
    // A refusal or an imposter reply ended the connection: its status text stays up.
    return m.state == WORLD_OLD_PROTOCOL ? 0 : NET_NO_WORLD;
  }
  if (length == 0) return 0;
  if (!read_code_and_dispatch(s, length)) return stream_error(s);
  // A handler may have ended the connection (an error gave way to another world).
  return m.connection == s ? stream_error(s) : 0;
}

int pack_result(int fitted) { return fitted ? world_send(message_packed_length(), 1) : NET_NO_FIT; }

}  // namespace

int world_dispatch(const void* body, int length) {
  static stream held;
  int r = stream_hold_message(&held, body, length);
  if (r || length == 0) return r;
  read_code_and_dispatch(&held, length);
  return stream_error(&held);
}

// ---- start-up ----------------------------------------------------------------------------

int world_init() {
  TRACE("world_init");
  world_module& m = mod();
  std::string cache = platform_program_dir() + "/cache";
  file_make_dir(cache.c_str());
  // Without the keyed-file engine the open would end the program; the world then has no
  // attribute cache and no remembered avatars.
  if (!m.db && KeyedFileEngineStarted())
    m.db = database_open((cache + "/world").c_str(), WORLD_KEY_LENGTH, 0, 1024, 1024, 1, 1);
  if (!m.db) TRACE("world_init: no world database");
  file_make_dir((cache + "/property").c_str());
  m.status_shown = show_setting("cache") != 0;
  if (m.status_shown && world_hook.status_show) world_hook.status_show(true);
  universe_receiver.world_receive_address = world_receive_address;
  universe_receiver.status_text = world_universe_status;
  identity_hook.attribute_set = attribute_set;
  cell_set_world(world_property_path, world_contents_changed);
  return 0;
}

void world_term() {
  TRACE("world_term");
  world_module& m = mod();
  database_close(m.db);
  m.db = nullptr;
}

void world_reset_state() {
  if (!w) return;
  stream_destroy(w->connection);
  database_close(w->db);
  if (w->addresses) hash_destroy(w->addresses);
  delete w;
  w = nullptr;
  attributes_clear();
  attributes_forget_applied();
}

// ---- entering ------------------------------------------------------------------------------

int world_enter(const char* name) {
  TRACE("world_enter");
  world_module& m = mod();
  if (!name || !*name || std::strchr(name, '.') || std::strchr(name, ':')) return NET_BAD_WORLD_NAME;
  if (!m.name.empty() && strcasecmp(m.name.c_str(), name) == 0) {
    m.last_error = 0;
    return 0;
  }
  if (std::strlen(name) > WORLD_NAME_LIMIT) return NET_WORLD_NAME_LONG;
  int r = world_lookup_and_connect(name);
  if (r != 0 && r != NET_NOT_YET) {
    m.last_error = r;
    return r;
  }
  m.last_error = NET_NOT_YET;
  if (world_hook.gesture_show) world_hook.gesture_show();
  return 0;
}

int world_lookup_and_connect(const char* name) {
  std::string low = lower(name);
  int r = get_address(low.c_str());
  if (r == 0) world_connect(name);
  return r;
}

int get_address(const char* name) {
  WTRACE("get_address (%s)", name ? name : "");
  world_module& m = mod();
  std::string low = lower(name);
  if (m.addresses) {
    hash_entry* e = hash_find(m.addresses, low.size(), low.data());
    if (e) {
      auto* a = static_cast<cached_address*>(hash_entry_data(e));
      m.address = a->address;
      m.port = a->port;
      return 0;
    }
  }
  int r = universe_lookup_world(low.c_str());
  if (r) return r;
  m.pending_lookup = low;
  return NET_NOT_YET;
}

void world_receive_address(int rc, const char* name, uint32_t address, uint16_t port) {
  world_module& m = mod();
  if (!name || m.pending_lookup.empty() || strcasecmp(m.pending_lookup.c_str(), name) != 0) return;
  m.pending_lookup.clear();
  if (rc != 0) {
    m.last_error = rc;
    return;
  }
  m.address = address;
  m.port = port;
  std::string low = lower(name);
  if (!m.addresses) m.addresses = hash_create(kAddressBuckets);
  if (m.addresses) {
    int found = 0;
    hash_entry* e = hash_find_or_add(m.addresses, low.size(), low.data(), sizeof(cached_address), &found);
    if (e) *static_cast<cached_address*>(hash_entry_data(e)) = cached_address{address, port};
  }
  world_connect(low.c_str());
}

void world_connect(const char* name) {
  world_module& m = mod();
  m.name = lower(name);
  make_key(m.key, m.name);
  uint8_t* block = nullptr;
  int32_t length = 0;
  if (m.db && database_fetch_unknown(m.db, m.key, &block, &length)) {
    attributes_load(block, length);
    std::free(block);
  } else {
    attributes_load(nullptr, 0);
  }
  attributes_drop_contents_memory();
  world_apply_attributes(1);
  if (world_hook.teleport_apply) world_hook.teleport_apply();
  m.state = WORLD_CONNECT;
  m.first_application = true;
}

// ---- requests ----------------------------------------------------------------------------

int world_send(int packed_length, int fill_length) {
  world_module& m = mod();
  if (m.state == WORLD_NONE || m.state == WORLD_CONNECT) return NET_NO_WORLD;
  if (m.in_flight) return 0;
  if (!m.connection) return NET_NO_WORLD;
  int length = fill_length ? message_fill_length() : packed_length;
  int r = stream_send(m.connection, m.buffer, length);
  if (r) return r;
  m.next_heartbeat = platform_ticks() + WORLD_HEARTBEAT_INTERVAL;
  return 0;
}

int world_add(int32_t number, int32_t x, int32_t y, int32_t z, int yaw, const char* model, const char* description,
              const char* action) {
  TRACE("world_add");
  world_module& m = mod();
  return pack_result(message_pack(pk::Buffer{m.buffer, sizeof m.buffer}, pk::Skip{2}, pk::Byte{WREQ_ADD},
                                  pk::Int32{static_cast<uint32_t>(number)}, pk::Int32{static_cast<uint32_t>(x)},
                                  pk::Int32{static_cast<uint32_t>(y)}, pk::Int32{static_cast<uint32_t>(z)},
                                  pk::Int16{static_cast<uint32_t>(yaw)}, pk::String{model}, pk::String{description},
                                  pk::String{action}));
}

int world_change(int32_t prior, int cell_x, int cell_z, int32_t number, int32_t x, int32_t y, int32_t z, int yaw,
                 const char* model, const char* description, const char* action, int32_t owner) {
  TRACE("world_change");
  world_module& m = mod();
  return pack_result(message_pack(
      pk::Buffer{m.buffer, sizeof m.buffer}, pk::Skip{2}, pk::Byte{WREQ_CHANGE}, pk::Int32{static_cast<uint32_t>(prior)},
      pk::Int16{static_cast<uint32_t>(cell_x)}, pk::Int16{static_cast<uint32_t>(cell_z)},
      pk::Int32{static_cast<uint32_t>(number)}, pk::Int32{static_cast<uint32_t>(x)}, pk::Int32{static_cast<uint32_t>(y)},
      pk::Int32{static_cast<uint32_t>(z)}, pk::Int16{static_cast<uint32_t>(yaw)}, pk::String{model},
      pk::String{description}, pk::String{action}, pk::Int32{static_cast<uint32_t>(owner)}));
}

int world_change_attributes(const uint8_t* block, int length) {
  TRACE("world_change_attributes");
  world_module& m = mod();
  if (length < 0 || (!block && length)) return NET_NO_FIT;
  return pack_result(message_pack(pk::Buffer{m.buffer, sizeof m.buffer}, pk::Skip{2},
                                  pk::Byte{WREQ_CHANGE_ATTRIBUTES}, pk::Raw{static_cast<size_t>(length), block}));
}

int world_delete(int32_t number, int cell_x, int cell_z) {
  TRACE("world_delete");
  world_module& m = mod();
  return pack_result(message_pack(pk::Buffer{m.buffer, sizeof m.buffer}, pk::Skip{2}, pk::Byte{WREQ_DELETE},
                                  pk::Int32{static_cast<uint32_t>(number)}, pk::Int16{static_cast<uint32_t>(cell_x)},
                                  pk::Int16{static_cast<uint32_t>(cell_z)}));
}

int world_eject(int session, int32_t seconds) {
  TRACE("world_eject");
  world_module& m = mod();
  return pack_result(message_pack(pk::Buffer{m.buffer, sizeof m.buffer}, pk::Skip{2}, pk::Byte{WREQ_EJECT},
                                  pk::Int16{static_cast<uint32_t>(session)},
                                  pk::Int32{static_cast<uint32_t>(seconds)}));
}

int world_login() {
  TRACE("world: login");
  world_module& m = mod();
  m.login_pending = 1;
  m.sent_session = universe_session_word();
  m.sent_citizen = effective_citizen();
  m.sent_avatars = chat_avatars_value();
  m.sent_name_changes = name_changes();
  if (!message_pack(pk::Buffer{m.buffer, sizeof m.buffer}, pk::Byte{WREQ_LOGIN},
                    pk::Int16{static_cast<uint32_t>(m.sent_session)}, pk::Byte{static_cast<uint32_t>(m.sent_avatars)},
                    pk::Int32{static_cast<uint32_t>(m.sent_citizen)}))
    return NET_NO_FIT;
  m.in_flight = false;
  int r = world_send(WORLD_LOGIN_SIZE, 0);
  m.in_flight = true;
  return r;
}

int world_heartbeat_send() {
  TRACE("world_heartbeat");
  world_module& m = mod();
  return pack_result(message_pack(pk::Buffer{m.buffer, sizeof m.buffer}, pk::Skip{2}, pk::Byte{WREQ_HEARTBEAT}));
}

int world_message(const char* text) {
  TRACE("world_message");
  world_module& m = mod();
  return pack_result(
      message_pack(pk::Buffer{m.buffer, sizeof m.buffer}, pk::Skip{2}, pk::Byte{WREQ_MESSAGE}, pk::String{text}));
}

int world_position(int32_t x, int32_t y, int32_t z, int yaw, int type, int gesture) {
  TRACE("world_position");
  world_module& m = mod();
  return pack_result(message_pack(pk::Buffer{m.buffer, sizeof m.buffer}, pk::Skip{2}, pk::Byte{WREQ_POSITION},
                                  pk::Int32{static_cast<uint32_t>(x)}, pk::Int32{static_cast<uint32_t>(y)},
                                  pk::Int32{static_cast<uint32_t>(z)}, pk::Int16{static_cast<uint32_t>(yaw)},
                                  pk::Byte{static_cast<uint32_t>(type)}, pk::Byte{static_cast<uint32_t>(gesture)}));
}

int world_query(int sector_x, int sector_z) {
  TRACE("world_query");
  world_module& m = mod();
  if (!message_pack(pk::Buffer{m.buffer, sizeof m.buffer}, pk::Skip{2}, pk::Byte{WREQ_QUERY},
                    pk::Int16{static_cast<uint32_t>(sector_x)}, pk::Int16{static_cast<uint32_t>(sector_z)}))
    return NET_NO_FIT;
  for (int dz = -1; dz <= 1; ++dz)
    for (int dx = -1; dx <= 1; ++dx)
      if (!message_pack(pk::Int32{static_cast<uint32_t>(cell_sector_sequence(sector_x + dx, sector_z + dz))}))
        return NET_NO_FIT;
  return world_send(message_packed_length(), 1);
}

// ---- the state machine ---------------------------------------------------------------------

void world_heartbeat(uint32_t now) {
  world_module& m = mod();
  if (!tick_before(now, m.next_heartbeat)) world_heartbeat_send();
}

void world_update() {
  world_module& m = mod();
  uint32_t now = platform_ticks();
  switch (m.state) {
    case WORLD_CONNECT:
      if ((!m.retry_set || !tick_before(now, m.retry_at)) && universe_logged_in()) {
        int r = world_reset_connection();
        if (r) {
          m.retry_set = true;
          m.retry_at = now + WORLD_RETRY_INTERVAL;
          set_status(msg(119));
        } else {
          m.retry_set = false;
          m.state = WORLD_LOGIN_SENT;
          m.last_receive = now;
          world_login();
        }
      }
      break;
    case WORLD_LOGIN_SENT:
      if (world_receive() == 0) set_status("");
      if (m.state == WORLD_LOGIN_SENT && m.in_flight &&
          tick_diff(m.last_receive, now) > static_cast<int32_t>(WORLD_LOGIN_LIMIT))
        start_again("the login got no answer");
      break;
    case WORLD_OLD_PROTOCOL:
      if (effective_citizen() != m.sent_citizen) {
        if (world_hook.avatar_load_list) world_hook.avatar_load_list();
        if (world_hook.oldprop_reset) world_hook.oldprop_reset();
        m.state = WORLD_CONNECT;
      } else if (world_silent()) {
        // Whatever the object protocol showed goes before the status says why.
        if (world_hook.oldprop_reset) world_hook.oldprop_reset();
        start_again("the old-protocol world and its hub fell silent");
      }
      break;
    case WORLD_IN: {
      int32_t citizen = effective_citizen();
      if (citizen != m.sent_citizen) {
        m.sent_citizen = citizen;  // reloaded once per change
        if (world_hook.avatar_load_list) world_hook.avatar_load_list();
      }
      if (universe_session_word() != m.sent_session || chat_avatars_value() != m.sent_avatars) {
        world_login();
        m.in_flight = false;  // its reply is taken as an empty frame
      }
      for (int i = 0; i < kMessagesPerFrame && m.state == WORLD_IN; ++i) {
        if (world_receive() != 0) break;
        if (tick_diff(now, platform_ticks()) >= static_cast<int32_t>(WORLD_RECEIVE_BUDGET)) break;
      }
      if (m.state != WORLD_IN) break;
      if (m.status_clear_set && !tick_before(now, m.status_clear_at)) set_status("");
      world_heartbeat(now);
      if (m.server_build > WORLD_SILENCE_BUILD &&
          tick_diff(m.last_receive, now) > static_cast<int32_t>(WORLD_SILENCE_LIMIT))
        start_again("the server fell silent");
      break;
    }
    default:
      break;
  }
  // A cell updated in this or earlier frames goes to the cache once its delay has passed.
  cell_flush();
}

// ---- errors, welcome, avatar --------------------------------------------------------------

void handle_world_error(int code) {
  TRACE("handle_world_error");
  world_module& m = mod();
  m.last_error = code;
  char text[MSG_ARG_SIZE];
  std::snprintf(text, sizeof text, "%s", world_error_text(code, m.name.c_str()));
  console_line(3, msg(160), text);
  error_fallback(text);
}

const char* world_error_text(int code, const char* name) {
  const char* n = name ? name : "";
  switch (code) {
    case 0: return "";
    case 27: return msg_arg(146, n);
    case 207: return msg_arg(89, n);
    case 214: return msg(200);
    case 215: return msg(212);
    case NET_RATING: return msg(55);
    default: return msg_arg(95, code);
  }
}

void world_entered(const uint8_t* block, int length, int code) {
  world_module& m = mod();
  m.login_pending = 0;
  m.last_error = code;
  if (code) {
    char text[MSG_ARG_SIZE];
    std::snprintf(text, sizeof text, "%s", world_error_text(code, m.name.c_str()));
    error_fallback(text);
    return;
  }
  if (world_hook.teleport_apply) world_hook.teleport_apply();
  attributes_load(block, length);
  world_apply_attributes(0);
  if (m.db) database_store(m.db, m.key, block, length);
  world_show_welcome();
  if (world_hook.history_set_world) world_hook.history_set_world(m.name.c_str());
  if (world_hook.worlds_mark_current) world_hook.worlds_mark_current(m.name.c_str());
}

void world_show_welcome() {
  world_module& m = mod();
  std::string text(attribute_get(ATTR_WELCOME), static_cast<size_t>(attribute_length(ATTR_WELCOME)));
  if (text.empty() && attribute_length(ATTR_TITLE) > 0) {
    text = msg_arg(162, attribute_get(ATTR_TITLE), citizen_name());
  }
  if (text.empty() || text == m.last_welcome) return;
  m.last_welcome = text;
  console_line(3, msg(160), text.c_str());
}

void handle_imposter() {
  TRACE("handle_imposter");
  world_module& m = mod();
  m.state = WORLD_CONNECT;
  universe_reconnect();
  set_status(msg(150));
}

namespace {
void avatar_key(uint8_t key[WORLD_KEY_LENGTH]) {
  char text[WORLD_KEY_LENGTH + 1];
  std::snprintf(text, sizeof text, "%s-avatar", mod().name.c_str());
  make_key(key, text);
}
}  // namespace

void world_set_avatar(int n) {
  TRACE("world_set_avatar");
  world_module& m = mod();
  if (!m.db) return;
  uint8_t key[WORLD_KEY_LENGTH];
  avatar_key(key);
  uint8_t value = static_cast<uint8_t>(n);
  database_store(m.db, key, &value, 1);
}

int world_avatar() {
  TRACE("world_avatar");
  world_module& m = mod();
  if (!m.db) return 0;
  uint8_t key[WORLD_KEY_LENGTH];
  avatar_key(key);
  uint8_t* data = nullptr;
  int32_t length = 0;
  if (!database_fetch_unknown(m.db, key, &data, &length)) return 0;
  int value = length >= 1 ? data[0] : 0;
  std::free(data);
  if (value <= kMaxAvatarStored) return value;
  return attribute_yes(ATTR_PUBLIC_SPEAKER) ? value : 0;
}

void world_status_toggle() {
  world_module& m = mod();
  m.status_shown = !m.status_shown;
  if (world_hook.status_show) world_hook.status_show(m.status_shown);
  profile_set_int("show", "cache", m.status_shown ? 1 : 0);
  if (world_hook.menu_check) world_hook.menu_check(133, m.status_shown);
  if (m.status_shown && m.state == WORLD_CONNECT) set_status(msg(119));
}

void world_status_text(const char* text) { set_status(text); }
void world_universe_status(const char* text) {
  mod().universe_status = text ? text : "";
  show_status();
}
const char* world_status_current() { return shown_status(mod()).c_str(); }

void world_heard() {
  if (w && w->state == WORLD_OLD_PROTOCOL) w->last_receive = platform_ticks();
}

bool world_silent() {
  if (!w) return false;
  if (w->state == WORLD_CONNECT || w->state == WORLD_LOGIN_SENT) return true;
  return w->state == WORLD_OLD_PROTOCOL &&
         tick_diff(w->last_receive, platform_ticks()) > static_cast<int32_t>(WORLD_SILENCE_LIMIT);
}
void world_connection_lost() { handle_world_error(215); }
void world_restart() { mod().state = WORLD_CONNECT; }

// ---- accessors -----------------------------------------------------------------------------

int world_state() { return w ? w->state : WORLD_NONE; }
const char* world_name() { return w ? w->name.c_str() : ""; }
const char* world_title() { return w ? w->title.c_str() : ""; }
bool world_connected() { return w && (w->state == WORLD_OLD_PROTOCOL || w->state == WORLD_IN); }
bool world_rights_flag() { return w && w->rights; }
int world_login_count() { return w ? w->login_count : 0; }
int world_last_error() { return w ? w->last_error : 0; }
int world_contents_changed() { return w ? w->contents_changed : 0; }
int world_login_pending() { return w ? w->login_pending : 0; }
const char* world_property_path() { return w ? w->property_path.c_str() : ""; }
int world_server_build() { return w ? w->server_build : 0; }
uint32_t world_address() { return w ? w->address : 0; }
uint16_t world_port() { return w ? w->port : 0; }
bool world_login_in_flight() { return w && w->in_flight; }
stream* world_stream() { return w ? w->connection : nullptr; }

void world_set_title(const char* title) { mod().title = title ? title : ""; }
void world_set_contents_changed(int changed) { mod().contents_changed = changed; }
void world_set_rights(bool on) { mod().rights = on; }
void world_set_server_build(int build) { mod().server_build = build; }
void world_set_query_after_attributes() { mod().query_after = true; }
bool world_first_application() { return mod().first_application; }
void world_clear_first_application() { mod().first_application = false; }

void world_make_property_path() {
  world_module& m = mod();
  std::string base = platform_program_dir() + "/cache/property";
  file_make_dir((platform_program_dir() + "/cache").c_str());
  file_make_dir(base.c_str());
  // World names hold no '.', ':' or '/' once entered; the name is still kept to one folder.
  std::string folder = m.name;
  for (char& c : folder)
    if (c == '/' || c == '\\') c = '_';
  if (folder.empty() || folder == "." || folder == "..") folder = "_";
  m.property_path = base + "/" + folder;
  file_make_dir(m.property_path.c_str());
}
