#include "client/servers/universe.h"

#include <arpa/inet.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/tessel.h"
#include "client/core/zipcrypt.h"
#include "client/net/message.h"
#include "client/net/netcodes.h"
#include "client/net/resolve.h"
#include "client/net/stream.h"
#include "client/servers/login.h"
#include "platform/clock.h"

#ifndef TESSEL_BUILD_NUMBER
#define TESSEL_BUILD_NUMBER 1
#endif

const char* const universe_default_host = "universe.veldara.example";
const char* const universe_retired_hosts[2] = {"gate.veldara.example", "old-universe.veldara.example"};
const uint8_t universe_registration_key[7] = {0xA4, 0xE0, 0x7B, 0x19, 0xC2, 0x5D, 0x83};

universe_receivers universe_default_receivers() {
  universe_receivers r{};
  r.program_in_background = [] { return tessel_in_background() ? 1 : 0; };
  return r;
}

universe_receivers universe_receiver = universe_default_receivers();

namespace {

#define TRACE(...) LOG_TRACE(TRACE_GENERAL, __VA_ARGS__)
#define UTRACE(...) LOG_TRACE(TRACE_UNIVERSE, __VA_ARGS__)

struct identity {
  std::string name;
  std::string password;
  bool relogin = false;  // sent by the connection itself, not by the login module
};

// Logins answered so far are taken off the front; a reconnection forgets the rest.
constexpr size_t kMaxLoginsInFlight = 8;

struct universe_module {
  int state = UNIVERSE_RESOLVING;
  uint32_t address = RESOLVE_PENDING;
  resolve_waiter* waiter = nullptr;
  uint16_t port = 0;  // network order
  stream* connection = nullptr;
  bool relogin = false;
  bool retry_set = false;
  uint32_t retry_at = 0;
  uint32_t next_heartbeat = 0;
  uint8_t buffer[NET_SEND_BUFFER];
  bool signup_offered = false;
  bool beta = false;
  int session_word = 0;
  int32_t citizen_number = 0;
  int minimum_browser = 0;
  int latest_browser = 0;
  int beta_browser = 0;
  std::string minimum_world;
  std::string default_start_world;
  std::deque<identity> in_flight;
  identity answered;
  bool have_session = false;
  identity session;  // the identity of the last login the universe accepted
  bool have_sent = false;
  identity last_sent;
  // A sent request waits for its answer since this tick.
  bool awaiting = false;
  uint32_t awaiting_since = 0;
};

universe_module* u = nullptr;
universe_module& mod() {
  if (!u) u = new universe_module;
  return *u;
}

bool is_tourist_name(const char* name) { return !name || !*name || name[0] == '"'; }

// Requests the universe answers at once, from what it holds (the others get no reply, one
// only when another citizen acts, or one that the account dialogs wait for themselves).
bool answered(int code) {
  switch (code) {
    case UREQ_LOOKUP_WORLD:
    case UREQ_GET_CITIZEN_ATTRIBUTES:
    case UREQ_GET_CITIZEN_NAME:
    case UREQ_GET_TELEGRAM:
    case UREQ_GET_CITIZEN_NUMBER:
    case UREQ_WHOS_AT:
    case UREQ_GET_WORLDS:
    case UREQ_CONTACT_LIST:
    case UREQ_LOGIN:
      return true;
    default:
      return false;
  }
}

void show_status(const char* text) {
  if (universe_receiver.status_text) universe_receiver.status_text(text);
}

// ---- reading replies --------------------------------------------------------------------

// Bytes of the current message not read yet.
int left(stream* s, int length) { return length - stream_message_position(s); }

int parse_decimal(const std::string& text) {
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (errno == ERANGE || v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

// Reads a body that is a list of entries, read_one() each (false when the entry is cut
// short), up to body bytes: the message length less the result and code bytes. False when
// the list was cut short; what came before stays read.
template <class ReadOne>
bool read_entries(stream* s, int body, ReadOne read_one) {
  // Rewound, the position counts the body's bytes.
  stream_message_rewind(s);
  while (stream_message_position(s) < body)
    if (!read_one()) return false;
  return true;
}

void receive_attributes(stream* s, int rc, int body) {
  if (rc != 0) return;
  universe_module& m = mod();
  read_entries(s, body, [&] {
    uint8_t tag = 0;
    char text[256];
    if (stream_receive(s, rd::Byte{&tag}, rd::String{text, sizeof text})) return false;
    switch (tag) {
      case 0: m.minimum_browser = parse_decimal(text); break;
      case 1: m.latest_browser = parse_decimal(text); break;
      case 2: m.beta_browser = parse_decimal(text); break;
      case 3: m.minimum_world = text; break;
      case 4: m.default_start_world = text; break;
      default: break;
    }
    return true;
  });
}

void handle_login_reply(stream* s, int rc, int length) {
  universe_module& m = mod();
  // Each group is taken only when it is there whole; a cut group changes nothing.
  uint8_t signup = 0, beta = 0;
  int32_t unused = 0, number = 0;
  int16_t session = 0;
  char text[256] = "";
  bool have_number = false;
  if (left(s, length) >= 5) {
    stream_receive(s, rd::Byte{&signup}, rd::Int32{&unused});
    m.signup_offered = signup != 0;
    if (left(s, length) >= 5) {
      stream_receive(s, rd::Int32{&unused}, rd::Byte{&beta});
      m.beta = beta != 0;
      if (left(s, length) >= 6) {
        stream_receive(s, rd::Int16{&session}, rd::Int32{&number});
        m.session_word = static_cast<uint16_t>(session);
        m.citizen_number = number;
        have_number = true;
        if (left(s, length) >= 1) {
          if (stream_receive(s, rd::String{text, sizeof text})) text[0] = 0;
        }
      }
    }
  } else if (left(s, length) > 0) {
    UTRACE("universe: login reply of %d bytes refused", length);
  }
  m.state = UNIVERSE_LOGGED_IN;
  show_status("");
  if (!m.in_flight.empty()) {
    m.answered = m.in_flight.front();
    m.in_flight.pop_front();
  } else {
    m.answered = m.have_sent ? m.last_sent : identity{};
  }
  if (rc == 0) {
    m.session = m.answered;
    m.have_session = true;
  }
  login_result(rc, have_number ? number : 0, text);
}

// Reads one reply and hands it on. Everything is read before any receiver runs: a receiver
// may open a modal dialog, during which the stream can be reset or replaced.
int dispatch(stream* s, int length) {
  universe_module& m = mod();
  auto& rcv = universe_receiver;
  uint8_t rc8 = 0, code = 0;
  if (stream_receive(s, rd::Byte{&rc8}, rd::Byte{&code})) return stream_error(s);
  const int rc = rc8;
  UTRACE("Received universe message: length %d, id %d, rc %d", length, code, rc);
  char name[256] = "", text[256] = "", world[256] = "";
  int32_t number = 0, value = 0, x = 0, y = 0, z = 0;
  int16_t small = 0;
  uint8_t flag = 0;
  int err = 0;
  switch (code) {
    case UREP_WORLD_ADDRESS: {
      uint8_t addr[4] = {0, 0, 0, 0}, port[2] = {0, 0};
      err = rc ? stream_receive(s, rd::String{name, sizeof name})
               : stream_receive(s, rd::String{name, sizeof name}, rd::Raw{4, addr}, rd::Raw{2, port});
      if (!err && rcv.world_receive_address) {
        uint32_t a;
        uint16_t p;
        std::memcpy(&a, addr, 4);
        std::memcpy(&p, port, 2);
        rcv.world_receive_address(rc, name, a, p);
      }
      break;
    }
    case UREP_IMMIGRATE:
      if (rcv.immigrate_result) rcv.immigrate_result(rc);
      break;
    case UREP_CHANGE:
      if (rc == 0) {
        err = stream_receive(s, rd::Int16{&small});
        if (!err) m.session_word = static_cast<uint16_t>(small);
      }
      if (!err && rcv.immigrate_change_result) rcv.immigrate_change_result(rc);
      break;
    case UREP_ATTRIBUTES_OF_CITIZEN: {
      std::vector<universe_tag_text> fields;
      int result = rc;
      if (rc == 0 && !read_entries(s, length - 2, [&] {
            uint8_t tag = 0;
            if (stream_receive(s, rd::Byte{&tag}, rd::String{text, sizeof text})) return false;
            fields.push_back({tag, text});
            return true;
          }))
        result = NET_READ_PAST_END;
      if (rcv.immigrate_show_attributes) rcv.immigrate_show_attributes(result, fields);
      err = 0;
      break;
    }
    case UREP_PASSWORD_SENT:
      login_password_sent(rc);
      break;
    case UREP_CITIZEN_NAME:
      err = rc ? stream_receive(s, rd::Int32{&number})
               : stream_receive(s, rd::Int32{&number}, rd::String{name, sizeof name});
      if (!err) {
        m.citizen_number = number;
        if (rcv.pdialog_citizen_name) rcv.pdialog_citizen_name(rc, number, name);
        if (rcv.privilege_receive_name) rcv.privilege_receive_name(rc, number, name);
      }
      break;
    case UREP_TELEGRAM_WAITING:
      if (rc == 0 && rcv.telegram_set_waiting) rcv.telegram_set_waiting();
      break;
    case UREP_TELEGRAM:
      if (rc == 0) {
        err = stream_receive(s, rd::Int32{&value}, rd::String{name, sizeof name}, rd::String{text, sizeof text},
                             rd::Byte{&flag});
        if (!err && rcv.telegram_receive) rcv.telegram_receive(value, name, text, flag);
      }
      break;
    case UREP_CITIZEN_NUMBER:
      err = rc ? stream_receive(s, rd::String{name, sizeof name})
               : stream_receive(s, rd::String{name, sizeof name}, rd::Int32{&number});
      if (!err) {
        if (rc == 0) m.citizen_number = number;
        if (rcv.telegram_receive_number) rcv.telegram_receive_number(rc, name, number);
        if (rcv.contacts_receive_number) rcv.contacts_receive_number(rc, name, number);
        if (rcv.privilege_receive_number) rcv.privilege_receive_number(rc, name, number);
      }
      break;
    case UREP_WHOS_AT: {
      uint8_t addr[4] = {0, 0, 0, 0};
      err = rc ? stream_receive(s, rd::Raw{4, addr})
               : stream_receive(s, rd::Raw{4, addr}, rd::String{name, sizeof name});
      if (!err && rcv.avatar_receive_citizen_name) {
        uint32_t a;
        std::memcpy(&a, addr, 4);
        rcv.avatar_receive_citizen_name(rc, a, name);
      }
      break;
    }
    case UREP_WORLDS: {
      std::vector<universe_world_entry> worlds;
      bool cut = rc == 0 && !read_entries(s, length - 2, [&] {
        if (stream_receive(s, rd::String{name, sizeof name}, rd::Byte{&flag}, rd::Int16{&small})) return false;
        worlds.push_back({name, flag, small});
        return true;
      });
      // A list cut short is not the universe's list: the one shown stays as it is.
      if (!cut && rcv.worlds_receive_list) rcv.worlds_receive_list(rc, worlds);
      break;
    }
    case UREP_CONTACTS: {
      std::vector<universe_contact_entry> contacts;
      if (rc == 0)
        read_entries(s, length - 2, [&] {
          universe_contact_entry e{};
          if (stream_receive(s, rd::Int32{&number}, rd::Byte{&flag})) return false;
          e.number = number;
          e.state = flag;
          if (flag == 0 && stream_receive(s, rd::String{name, sizeof name})) return false;
          if (flag == 1 && stream_receive(s, rd::String{name, sizeof name}, rd::String{world, sizeof world}))
            return false;
          if (flag == 0 || flag == 1) e.name = name;
          if (flag == 1) e.world = world;
          contacts.push_back(std::move(e));
          return true;
        });
      if (rcv.contacts_state) rcv.contacts_state(rc, contacts);
      break;
    }
    case UREP_JOIN_REQUEST:
      if (rc == 0) {
        err = stream_receive(s, rd::Int32{&number}, rd::String{name, sizeof name});
        if (!err && rcv.join_receive_request) rcv.join_receive_request(number, name);
      }
      break;
    case UREP_JOIN_LOCATION:
      err = rc ? stream_receive(s, rd::Int32{&number})
               : stream_receive(s, rd::Int32{&number}, rd::String{world, sizeof world}, rd::Int32{&x}, rd::Int32{&y},
                                rd::Int32{&z}, rd::Int16{&small});
      if (!err && rcv.join_receive_location) rcv.join_receive_location(rc, number, world, x, y, z, small);
      break;
    case UREP_RECONNECT: {
      uint8_t unused[6];
      err = stream_receive(s, rd::Raw{4, unused}, rd::Raw{2, unused + 4});
      if (!err) universe_reconnect();
      break;
    }
    case UREP_REGISTER: {
      int n = length - 2;
      std::string body(static_cast<size_t>(n > 0 ? n : 0), '\0');
      if (n > 0) err = stream_receive(s, rd::Raw{static_cast<size_t>(n), body.data()});
      if (!err && rcv.register_result) {
        // The text ends at its first zero byte, if any.
        body.resize(std::strlen(body.c_str()));
        rcv.register_result(rc, body.empty() ? nullptr : body.c_str());
      }
      break;
    }
    case UREP_LOGIN:
      handle_login_reply(s, rc, length);
      break;
    case UREP_UNIVERSE_ATTRIBUTES:
      receive_attributes(s, rc, length - 2);
      if (rcv.admin_refresh) rcv.admin_refresh();
      if (rcv.upgrade_check) rcv.upgrade_check();
      break;
    default:
      break;
  }
  if (err) UTRACE("universe: reply %d shorter than its fields (%d bytes), refused", code, length);
  return err;
}

// The stream was reset (the connection dropped).
void universe_reset_callback() {
  universe_module& m = mod();
  TRACE("universe_reset_callback");
  bool was_logging_in = m.state == UNIVERSE_CONNECTED;
  bool module_login = false;
  for (const identity& i : m.in_flight) module_login |= !i.relogin;
  m.in_flight.clear();
  if (was_logging_in) {
    // Only the login module's own login is reported lost; an established session comes
    // back by itself with the identity it had.
    if (module_login || !m.have_session) login_connection_lost();
    universe_reconnect();
    m.relogin = m.have_session;
  } else {
    universe_reconnect();
  }
}

int universe_connect() {
  universe_module& m = mod();
  stream_destroy(m.connection);
  m.connection = nullptr;
  m.in_flight.clear();
  m.awaiting = false;
  return stream_create(m.address, m.port, universe_reset_callback, &m.connection);
}

int universe_receive() {
  universe_module& m = mod();
  stream* s = m.connection;
  int length = 0;
  int r = stream_receive_message(s, &length);
  if (r == NET_NOT_YET) return 0;
  if (r) return r;
  m.awaiting = false;  // the universe is there
  if (length == 0) return 0;
  r = dispatch(s, length);
  // The receiver may have replaced the stream: the old one is not touched again.
  return r;
}

int pack_begin(int code) {
  return message_pack(pk::Buffer{mod().buffer, sizeof mod().buffer}, pk::Skip{2}, pk::Byte{static_cast<uint32_t>(code)});
}

// A universe that stopped answering is left for a new connection, as if this one dropped.
void check_answer(uint32_t now) {
  universe_module& m = mod();
  if (!m.awaiting || m.state < UNIVERSE_CONNECTED) return;
  if (tick_diff(m.awaiting_since, now) <= static_cast<int32_t>(UNIVERSE_ANSWER_LIMIT)) return;
  TRACE("universe: no answer for %d ms; connecting again", tick_diff(m.awaiting_since, now));
  m.awaiting = false;
  universe_reset_callback();
}

template <class... Items>
int send_message(int code, const Items&... items) {
  if (!pack_begin(code) || !message_pack(items...)) return NET_NO_FIT;
  return universe_send(message_packed_length());
}

}  // namespace

// ---- life cycle ----------------------------------------------------------------------------

int universe_init() {
  TRACE("universe_init");
  if (u) {
    if (u->waiter) u->waiter->cancelled = true;
    stream_destroy(u->connection);
  }
  universe_module& m = mod();
  m = universe_module{};
  const char* host = settings_text("universe", "host");
  std::string name = host;
  if (name.empty()) {
    name = universe_default_host;
  } else {
    for (const char* retired : universe_retired_hosts) {
      if (name == retired) {
        name = universe_default_host;
        profile_set_string("universe", "host", "");
        break;
      }
    }
  }
  int port = settings_int("universe", "port");
  if (port == -1 || port < 0 || port > 65535) port = UNIVERSE_DEFAULT_PORT;
  m.port = htons(static_cast<uint16_t>(port));
  m.address = RESOLVE_PENDING;
  m.waiter = resolve(name.c_str(), &m.address);
  m.state = UNIVERSE_RESOLVING;
  return 0;
}

void universe_term() {
  if (!u) return;
  TRACE("universe_term");
  if (u->waiter) u->waiter->cancelled = true;
  stream_destroy(u->connection);
  delete u;
  u = nullptr;
}

int universe_update() {
  universe_module& m = mod();
  uint32_t now = platform_ticks();
  switch (m.state) {
    case UNIVERSE_RESOLVING:
      if (m.address == RESOLVE_PENDING) resolve_poll();
      if (m.address == RESOLVE_PENDING || m.address == RESOLVE_FAILED) return 0;
      m.state = UNIVERSE_CONNECTING;
      [[fallthrough]];
    case UNIVERSE_CONNECTING: {
      if (m.retry_set && tick_before(now, m.retry_at)) return 0;
      // Attempts stay a second apart even when each fails at once.
      m.retry_set = true;
      m.retry_at = now + UNIVERSE_RETRY_INTERVAL;
      int r = universe_connect();
      if (r) {
        TRACE("universe_connect FAILED: %d", r);
        return r;
      }
      m.state = UNIVERSE_CONNECTED;
      if (m.relogin) universe_relogin();
      return 0;
    }
    case UNIVERSE_CONNECTED: {
      int r = universe_receive();
      check_answer(now);
      return r;
    }
    case UNIVERSE_LOGGED_IN: {
      auto& rcv = universe_receiver;
      if (rcv.upgrade_offered && rcv.upgrade_offer && rcv.upgrade_offered() &&
          !(rcv.program_in_background && rcv.program_in_background()))
        rcv.upgrade_offer(1);
      int r = universe_receive();
      if (m.state == UNIVERSE_LOGGED_IN) universe_heartbeat();
      check_answer(now);
      return r;
    }
    default:
      return 0;
  }
}

// ---- state ---------------------------------------------------------------------------------

int universe_dispatch(const void* body, int length) {
  static stream held;
  int r = stream_hold_message(&held, body, length);
  if (r || length == 0) return r;
  return dispatch(&held, length);
}

int universe_state() { return mod().state; }
bool universe_connected() { return mod().state == UNIVERSE_CONNECTED || mod().state == UNIVERSE_LOGGED_IN; }
bool universe_logged_in() { return mod().state == UNIVERSE_LOGGED_IN; }
bool universe_signup_offered() { return mod().signup_offered; }
bool universe_beta() { return mod().beta; }
int universe_session_word() { return mod().session_word; }
int32_t universe_citizen_number() { return mod().citizen_number; }
int universe_minimum_browser() { return mod().minimum_browser; }
int universe_latest_browser() { return mod().latest_browser; }
int universe_beta_browser() { return mod().beta_browser; }
const char* universe_minimum_world() { return mod().minimum_world.c_str(); }
const char* universe_default_start_world() { return mod().default_start_world.c_str(); }
uint16_t universe_port() { return mod().port; }
const char* universe_answered_name() { return mod().answered.name.c_str(); }
const char* universe_answered_password() { return mod().answered.password.c_str(); }
bool universe_has_session_identity() { return mod().have_session; }
const char* universe_session_name() { return mod().session.name.c_str(); }

// ---- sending -------------------------------------------------------------------------------

int universe_send(int packed_length) {
  universe_module& m = mod();
  if (!universe_connected()) return NET_NOT_YET;
  if (packed_length < 3 || packed_length > static_cast<int>(sizeof m.buffer)) return NET_NO_FIT;
  net_put16(m.buffer, static_cast<uint32_t>(packed_length - 2));
  UTRACE("Sending universe message: code %d, length %d", m.buffer[2], packed_length - 2);
  int r = stream_send(m.connection, m.buffer, packed_length);
  if (r) return r;
  uint32_t now = platform_ticks();
  m.next_heartbeat = now + UNIVERSE_HEARTBEAT_INTERVAL;
  if (answered(m.buffer[2]) && !m.awaiting) {
    m.awaiting = true;
    m.awaiting_since = now;
  }
  return 0;
}

int universe_heartbeat() {
  universe_module& m = mod();
  if (tick_before(platform_ticks(), m.next_heartbeat)) return 0;
  return send_message(UREQ_HEARTBEAT);
}

namespace {
int login_send(const char* name, const char* password, bool relogin) {
  universe_module& m = mod();
  if (!name) name = "";
  if (!password) password = "";
  // Without a connection there is nothing to log in on: the state must not claim a login in
  // flight that no reply will ever end.
  if (!m.connection || !universe_connected()) return NET_NOT_YET;
  int previous = m.state;
  m.state = UNIVERSE_CONNECTED;
  int r;
  if (is_tourist_name(name)) {
    r = send_message(UREQ_LOGIN, pk::Int32{TESSEL_BUILD_NUMBER}, pk::String{name}, pk::String{password}, pk::Int32{0},
                     pk::String{""}, pk::Byte{0});
  } else {
    auto& rcv = universe_receiver;
    int privilege = rcv.privilege_requested_number ? rcv.privilege_requested_number() : 0;
    const char* privilege_password = rcv.privilege_password ? rcv.privilege_password() : "";
    int hide = (rcv.privacy_hide_world ? rcv.privacy_hide_world() : privacy_hide_world()) ? 1 : 0;
    r = send_message(UREQ_LOGIN, pk::Int32{TESSEL_BUILD_NUMBER}, pk::String{name}, pk::String{password},
                     pk::Int32{static_cast<uint32_t>(privilege)}, pk::String{privilege_password},
                     pk::Byte{static_cast<uint32_t>(hide)});
  }
  if (r == 0) {
    if (m.in_flight.size() >= kMaxLoginsInFlight) m.in_flight.pop_front();
    m.in_flight.push_back(identity{name, password, relogin});
    m.last_sent = identity{name, password, relogin};
    m.have_sent = true;
  } else if (m.state == UNIVERSE_CONNECTED && m.connection) {
    // Nothing went out (and no reset moved the state on): the login is not in flight.
    m.state = previous;
  }
  return r;
}
}  // namespace

int universe_login(const char* name, const char* password) {
  TRACE("universe_login (%s)", name ? name : "");
  return login_send(name, password, false);
}

void universe_reconnect() {
  universe_module& m = mod();
  if (m.state != UNIVERSE_RESOLVING) m.state = UNIVERSE_CONNECTING;
  m.relogin = true;
  // An established session comes back by itself: the status window says it is on the way.
  if (m.have_session) show_status(msg(77));
}

int universe_relogin() {
  TRACE("universe_relogin");
  universe_module& m = mod();
  // The identity the universe last accepted; before any, the login that was interrupted.
  identity who;
  if (m.have_session) {
    who = m.session;
  } else if (m.have_sent) {
    who = m.last_sent;
  } else {
    m.relogin = false;
    return NET_NOT_YET;
  }
  if (is_tourist_name(who.name.c_str())) who.password.clear();
  int r = login_send(who.name.c_str(), who.password.c_str(), true);
  if (r) {
    if (r != NET_NOT_YET) universe_reconnect();
    return r;
  }
  m.relogin = false;
  if (universe_receiver.contacts_refresh) universe_receiver.contacts_refresh();
  if (universe_receiver.worlds_refresh) universe_receiver.worlds_refresh();
  return 0;
}

int universe_set_attributes(const char* minimum_browser, const char* latest_browser, const char* beta_browser,
                            const char* minimum_world, const char* default_start_world) {
  TRACE("universe_set_attributes");
  return send_message(UREQ_SET_ATTRIBUTES, pk::Tagged{0, minimum_browser}, pk::Tagged{1, latest_browser},
                      pk::Tagged{2, beta_browser}, pk::Tagged{3, minimum_world}, pk::Tagged{4, default_start_world});
}

int universe_lookup_world(const char* name) {
  TRACE("universe_lookup_world (%s)", name ? name : "");
  return send_message(UREQ_LOOKUP_WORLD, pk::String{name});
}

int universe_immigrate(const char* name, const char* password, const char* email) {
  TRACE("universe_immigrate");
  return send_message(UREQ_IMMIGRATE, pk::String{name}, pk::String{password}, pk::Tagged{2, email});
}

int universe_set_citizen_attributes(const char* name, const char* password, const char* new_name,
                                    const char* new_password, const char* email, const char* privilege_password) {
  TRACE("universe_set_citizen_attributes");
  return send_message(UREQ_SET_CITIZEN_ATTRIBUTES, pk::String{name}, pk::String{password}, pk::Tagged{0, new_name},
                      pk::Tagged{1, new_password}, pk::Tagged{2, email}, pk::Tagged{3, privilege_password});
}

int universe_get_citizen_attributes(const char* name, const char* password) {
  TRACE("universe_get_citizen_attributes");
  return send_message(UREQ_GET_CITIZEN_ATTRIBUTES, pk::String{name}, pk::String{password});
}

int universe_send_password(const char* name, const char* text) {
  TRACE("universe_send_password");
  return send_message(UREQ_SEND_PASSWORD, pk::String{name}, pk::String{text});
}

int universe_get_citizen_name(int32_t number) {
  TRACE("universe_get_citizen_name");
  return send_message(UREQ_GET_CITIZEN_NAME, pk::Int32{static_cast<uint32_t>(number)});
}

int universe_get_telegram() {
  TRACE("universe_get_telegram");
  return send_message(UREQ_GET_TELEGRAM);
}

int universe_send_telegram(int32_t number, const char* text) {
  TRACE("universe_send_telegram");
  return send_message(UREQ_SEND_TELEGRAM, pk::Int32{static_cast<uint32_t>(number)}, pk::String{text});
}

int universe_get_citizen_number(const char* name) {
  TRACE("universe_get_citizen_number");
  return send_message(UREQ_GET_CITIZEN_NUMBER, pk::String{name});
}

int universe_whos_at(uint32_t address) {
  TRACE("universe_whos_at");
  return send_message(UREQ_WHOS_AT, pk::Raw{4, &address});
}

int universe_get_worlds() {
  TRACE("universe_get_worlds");
  return send_message(UREQ_GET_WORLDS);
}

int universe_contact_list(const int32_t* numbers, int count) {
  TRACE("universe_contact_list");
  if (!numbers || count < 0) count = 0;
  if (count > UNIVERSE_MAX_CONTACTS) count = UNIVERSE_MAX_CONTACTS;
  if (!pack_begin(UREQ_CONTACT_LIST)) return NET_NO_FIT;
  for (int i = 0; i < count; ++i)
    if (!message_pack(pk::Int32{static_cast<uint32_t>(numbers[i])})) return NET_NO_FIT;
  return universe_send(message_packed_length());
}

int universe_add_contact(int32_t number) {
  TRACE("universe_add_contact");
  return send_message(UREQ_ADD_CONTACT, pk::Int32{static_cast<uint32_t>(number)});
}

int universe_delete_contact(int32_t number) {
  TRACE("universe_delete_contact");
  return send_message(UREQ_DELETE_CONTACT, pk::Int32{static_cast<uint32_t>(number)});
}

int universe_get_citizen_location(int32_t number) {
  TRACE("universe_get_citizen_location");
  return send_message(UREQ_GET_CITIZEN_LOCATION, pk::Int32{static_cast<uint32_t>(number)});
}

int universe_location(int rc, int32_t requester, const char* world, int32_t x, int32_t y, int32_t z, int yaw) {
  TRACE("universe_location");
  if (rc != 0)
    return send_message(UREQ_LOCATION, pk::Byte{static_cast<uint32_t>(rc)}, pk::Int32{static_cast<uint32_t>(requester)});
  return send_message(UREQ_LOCATION, pk::Byte{0}, pk::Int32{static_cast<uint32_t>(requester)}, pk::String{world},
                      pk::Int32{static_cast<uint32_t>(x)}, pk::Int32{static_cast<uint32_t>(y)},
                      pk::Int32{static_cast<uint32_t>(z)}, pk::Int16{static_cast<uint32_t>(yaw)});
}

int universe_send_registration(const universe_registration& f) {
  TRACE("universe_send_registration");
  universe_module& m = mod();
  if (!pack_begin(UREQ_REGISTRATION) ||
      !message_pack(pk::Tagged{0, f.name}, pk::Tagged{1, f.password}, pk::Tagged{2, f.email}, pk::Tagged{13, ""},
                    pk::Tagged{4, f.card_name}, pk::Tagged{5, f.card_number}, pk::Tagged{14, f.business},
                    pk::Tagged{6, f.street}, pk::Tagged{7, f.city}, pk::Tagged{8, f.state},
                    pk::Tagged{9, f.postal_code}, pk::Tagged{10, f.month}, pk::Tagged{11, f.year},
                    pk::Tagged{16, f.phone}))
    return NET_NO_FIT;
  int n = message_packed_length();
  // Everything after the length and the code travels enciphered.
  zipcrypt_encrypt(reinterpret_cast<const char*>(universe_registration_key), sizeof universe_registration_key,
                   m.buffer + 3, static_cast<size_t>(n - 3));
  return universe_send(n);
}
