#include "client/scene/prop.h"

#include "client/core/identity.h"
#include "client/core/lists.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/net/netcodes.h"
#include "client/net/tcp.h"
#include "client/scene/cell.h"
#include "client/scene/element.h"
#include "client/scene/self.h"
#include "client/scene/visible.h"
#include "client/servers/attributes.h"
#include "client/servers/universe.h"
#include "client/servers/world.h"
#include "platform/clock.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

prop_hooks prop_hook = {};

namespace {

#define GTRACE(...) LOG_TRACE(TRACE_GENERAL, __VA_ARGS__)
#define WTRACE(...) LOG_TRACE(TRACE_WORLD, __VA_ARGS__)

constexpr int kTextLimit = 255;

struct pending {
  pending* next;
  uint8_t kind;
  int32_t number;
  int16_t cell_x, cell_z;
  int16_t new_cell_x, new_cell_z;
  int32_t prior;
  int32_t x, y, z;
  int16_t yaw;
  int32_t owner;
  std::string model, description, action;
};

struct prop_state {
  int old = 1;
  pending* head = nullptr;
  pending* tail = nullptr;
  bool query_complete = false;
  bool query_sent = false;
  int16_t sector_x = 0, sector_z = 0;
  int login_count = 0;
  std::string world;  // the world the pending requests belong to
  void* window = nullptr;
};

prop_state p;

double own_x() { return self_get_x(); }
double own_z() { return self_get_z(); }

void console_line(const char* text) { msg_print_titled(prop_hook.console_print, 2, 125, text, 1024); }

std::string cut(const char* text, int length) {
  if (!text || length <= 0) return std::string();
  return std::string(text, static_cast<size_t>(length > kTextLimit ? kTextLimit : length));
}

// What a refused request shows: 0 nothing, -1 the object is gone, else the message shown.
enum { SHOW_NONE = 0, SHOW_GONE = -1 };
int refusal_message(int code, bool old) {
  if (old) {
    switch (code) {
      case 203: return 39;
      case 211: return 128;
      case 310: return 83;
      case 300: return 37;
      case 302: return 40;
      case 303: return 38;
      case 306: return 41;
      case 301: case 424: case 425: return SHOW_NONE;
      case 311: return 84;
      case 313: return 127;
      case 314: return 126;
      default: return 42;
    }
  }
  switch (code) {
    case 3: return 39;
    case 4: case 101: return SHOW_GONE;
    case 11: return 128;
    case 16: case 110: return 83;
    case 100: return 37;
    case 102: return 40;
    case 103: return 38;
    case 106: return 41;
    case 108: case 224: case 225: return SHOW_NONE;
    case 111: return 84;
    case 113: return 127;
    case 114: return 126;
    default: return 42;
  }
}

// Shows the refusal of a request; false when the object turned out to be gone.
bool show_refusal(int code, bool old) {
  int m = refusal_message(code, old);
  if (m == SHOW_GONE) return false;
  if (m == SHOW_NONE) return true;
  if (m == 126) {
    std::string refusal(attribute_get(ATTR_BUILD_REFUSAL) ? attribute_get(ATTR_BUILD_REFUSAL) : "",
                        static_cast<size_t>(attribute_length(ATTR_BUILD_REFUSAL)));
    console_line(msg_arg(126, refusal.c_str()));
  } else if (m == 42) {
    console_line(msg_arg(42, old ? code : code + 200));
  } else {
    console_line(msg(m));
  }
  return true;
}

int send_pending(const pending* r) {
  switch (r->kind) {
    case PROP_ADD:
      return world_add(r->number, r->x, r->y, r->z, r->yaw, r->model.c_str(), r->description.c_str(),
                       r->action.c_str());
    case PROP_CHANGE:
      return world_change(r->prior, r->cell_x, r->cell_z, r->number, r->x, r->y, r->z, r->yaw, r->model.c_str(),
                          r->description.c_str(), r->action.c_str(), r->owner);
    default:
      return world_delete(r->number, r->cell_x, r->cell_z);
  }
}

// Sends a new request and keeps it until the server answers.
int submit(pending* r) {
  int rc = send_pending(r);
  if (rc == NET_NOT_YET) rc = 0;
  if (rc == 0 || rc == NET_NO_WORLD)
    list_append(p.head, p.tail, r);
  else
    delete r;
  return rc;
}

pending* from_element(const element* e, uint8_t kind) {
  auto* r = new (std::nothrow) pending{};
  if (!r) return nullptr;
  r->kind = kind;
  r->number = element_number(e);
  r->cell_x = static_cast<int16_t>(cell_from_coordinate(element_x(e)));
  r->cell_z = static_cast<int16_t>(cell_from_coordinate(element_z(e)));
  r->x = prop_thousandths(element_x(e));
  r->y = prop_thousandths(element_y(e));
  r->z = prop_thousandths(element_z(e));
  r->yaw = static_cast<int16_t>(prop_tenths(element_yaw(e)));
  r->model = cut(element_model(e), element_model_length(e));
  r->description = cut(element_description(e), element_description_length(e));
  r->action = cut(element_action(e), element_action_length(e));
  return r;
}

void free_pending_if(bool (*drop)(const pending*)) {
  pending** link = &p.head;
  p.tail = nullptr;
  while (*link) {
    pending* r = *link;
    if (drop(r)) {
      *link = r->next;
      delete r;
    } else {
      p.tail = r;
      link = &r->next;
    }
  }
}

void reconnect() {
  WTRACE("prop: reconnect");
  if (p.old) oldprop_reset();
  for (pending* r = p.head; r; r = r->next) send_pending(r);
  p.query_complete = false;
  p.query_sent = false;
}

void live_delete(int cell_x, int cell_z, int32_t number, int32_t sequence) {
  cell_update_begin(cell_x, cell_z, 0);
  cell_element_delete(number);
  cell_update_end(sequence);
  visible_delete(cell_x, cell_z, number);
  if (prop_hook.pick_object_gone) prop_hook.pick_object_gone(cell_x, cell_z, number);
}

}  // namespace

int32_t prop_thousandths(double v) { return static_cast<int32_t>(std::lround(v * 1000.0)); }

int prop_tenths(double yaw) {
  long t = std::lround(yaw * 10.0) % 3600;
  if (t < 0) t += 3600;
  return static_cast<int>(t);
}

void prop_init() {
  GTRACE("prop_init");
  oldprop_init();
  p.old = 1;
  world_hooks& h = world_hook;
  h.prop_reset = prop_reset;
  h.prop_set_old = prop_set_old;
  h.prop_request_result = prop_request_result;
  h.prop_receive_cell = prop_receive_cell;
  h.prop_live_add = prop_live_add;
  h.prop_live_delete = prop_live_delete;
  h.prop_query_restart = prop_query_restart;
  h.prop_query_done = prop_query_done;
  h.oldprop_set_connection = oldprop_set_connection;
  h.oldprop_reset = oldprop_reset;
}

void prop_term() {
  GTRACE("prop_term");
  oldprop_term();
  free_pending_if([](const pending*) { return true; });
  p.query_complete = p.query_sent = false;
  p.world.clear();
  p.login_count = 0;
}

void prop_set_window(void* window) { p.window = window; }

void prop_set_old(int flag) {
  GTRACE("prop_set_old :%d", flag);
  p.old = flag;
  cell_set_old(flag);
  if (prop_hook.avatar_set_old) prop_hook.avatar_set_old(flag);
}

int prop_get_old() { return p.old; }

int prop_add(const element* e) {
  GTRACE("prop_add");
  if (!e) return NET_NO_MEMORY;
  if (p.old) return oldprop_add(e);
  pending* r = from_element(e, PROP_ADD);
  if (!r) return NET_NO_MEMORY;
  return submit(r);
}

int prop_change(int old_cell_x, int old_cell_z, const element* e, int32_t prior) {
  GTRACE("prop_change");
  if (!e) return NET_NO_MEMORY;
  if (p.old) return oldprop_change(old_cell_x, old_cell_z, e, prior);
  pending* r = from_element(e, PROP_CHANGE);
  if (!r) return NET_NO_MEMORY;
  r->new_cell_x = r->cell_x;
  r->new_cell_z = r->cell_z;
  r->cell_x = static_cast<int16_t>(old_cell_x);
  r->cell_z = static_cast<int16_t>(old_cell_z);
  r->prior = prior;
  r->owner = element_owner(e);
  return submit(r);
}

int prop_delete(int cell_x, int cell_z, int32_t number) {
  GTRACE("prop_delete");
  if (p.old) return oldprop_delete(cell_x, cell_z, number);
  auto* r = new (std::nothrow) pending{};
  if (!r) return NET_NO_MEMORY;
  r->kind = PROP_DELETE;
  r->number = number;
  r->cell_x = static_cast<int16_t>(cell_x);
  r->cell_z = static_cast<int16_t>(cell_z);
  return submit(r);
}

int prop_query_attributes(prop_attributes_fn callback) {
  GTRACE("prop_query_attributes");
  if (!p.old) return 0;
  oldprop_query_attributes(callback);
  return 1;
}

int prop_change_attributes(const uint8_t* block, int length) {
  GTRACE("prop_change_attributes");
  if (p.old) return oldprop_change_attributes(block, length);
  return world_change_attributes(block, length);
}

int prop_eject(int session, int32_t seconds) {
  GTRACE("prop_eject");
  if (p.old) return oldprop_eject(session, seconds);
  return world_eject(session, seconds);
}

int prop_busy() {
  if (trace_frames()) log_write("prop_busy");
  return p.old && oldprop_step() == 3 && oldprop_query_in_flight() ? 1 : 0;
}

int prop_query_in_progress() {
  if (trace_frames()) log_write("prop_query_in_progress");
  if (p.old) return oldprop_query_in_flight() ? 1 : 0;
  return p.query_sent ? 1 : 0;
}

void prop_query_done() {
  p.query_complete = true;
  p.query_sent = false;
}

void prop_query_restart() {
  p.query_complete = false;
  p.query_sent = false;
}

void prop_receive_cell(const world_cell& cell) {
  cell_update_begin(cell.x, cell.z, 1);
  for (const world_object& o : cell.objects)
    cell_element_add(o.number, o.owner, o.build_time, o.x, o.y, o.z, o.yaw, o.model.c_str(), o.description.c_str(),
                     o.action.c_str());
  cell_update_end(cell.sequence);
  visible_invalidate(cell.x, cell.z);
}

void prop_live_add(int session, int32_t sequence, int cell_x, int cell_z, const world_object& o) {
  GTRACE("prop_live_add");
  cell_update_begin(cell_x, cell_z, 0);
  int added = cell_element_add(o.number, o.owner, o.build_time, o.x, o.y, o.z, o.yaw, o.model.c_str(),
                               o.description.c_str(), o.action.c_str());
  cell_update_end(sequence);
  if ((session & 0xffff) == (universe_session_word() & 0xffff)) {
    element_set_owner(cell_x, cell_z, o.number, o.owner, o.build_time);
    return;
  }
  // A cell at its cap takes no more objects, in the cache or in the scene.
  if (!added) return;
  auto length = [](const std::string& s) { return static_cast<int>(s.size() > 255 ? 255 : s.size()); };
  element* e = element_create(cell_x + o.x * 0.001, o.y * 0.001, cell_z + o.z * 0.001, static_cast<float>(o.yaw * 0.1),
                              length(o.model), o.model.c_str(), length(o.description), o.description.c_str(),
                              length(o.action), o.action.c_str(), o.number, o.owner, o.build_time);
  if (e) visible_consider(e);
}

void prop_live_delete(int session, int32_t sequence, int cell_x, int cell_z, int32_t number) {
  (void)session;
  GTRACE("prop_live_delete");
  live_delete(cell_x, cell_z, number, sequence);
}

void prop_request_result(int32_t number, int code) {
  pending** link = &p.head;
  pending* prev = nullptr;
  while (*link && (*link)->number != number) {
    prev = *link;
    link = &(*link)->next;
  }
  pending* r = *link;
  if (!r) return;
  *link = r->next;
  if (p.tail == r) p.tail = prev;
  if (code != 0) {
    if (!show_refusal(code, false)) live_delete(r->cell_x, r->cell_z, r->number, 0);
    visible_invalidate(r->cell_x, r->cell_z);
    if (r->kind == PROP_CHANGE && (r->new_cell_x != r->cell_x || r->new_cell_z != r->cell_z))
      visible_invalidate(r->new_cell_x, r->new_cell_z);
  }
  delete r;
}

void prop_reset() {
  GTRACE("prop_reset");
  if (p.old) oldprop_reset();
  // A reconnection to the same world keeps the requests, to send them again after the login;
  // only a change of world drops them.
  std::string now = world_name();
  if (!p.world.empty() && now != p.world) free_pending_if([](const pending*) { return true; });
  if (!now.empty()) p.world = now;
  p.query_complete = false;
  p.query_sent = false;
}

void prop_update() {
  if (trace_frames()) log_write("prop_update");
  if (!world_connected()) return;
  if (p.old) {
    oldprop_update();
    return;
  }
  if (world_login_count() != p.login_count) {
    reconnect();
    p.login_count = world_login_count();
  }
  int sx = cell_sector_from_coordinate(own_x()), sz = cell_sector_from_coordinate(own_z());
  if (p.query_complete) {
    if (sx == p.sector_x && sz == p.sector_z) return;
    p.sector_x = static_cast<int16_t>(sx);
    p.sector_z = static_cast<int16_t>(sz);
    p.query_complete = false;
    p.query_sent = false;
  }
  if (p.query_sent) return;
  p.sector_x = static_cast<int16_t>(sx);
  p.sector_z = static_cast<int16_t>(sz);
  int rc = world_query(sx, sz);
  if (rc == 0 || rc == NET_NOT_YET) p.query_sent = true;
}

int prop_pending_count() { return list_count(p.head); }
bool prop_query_complete() { return p.query_complete; }
bool prop_query_sent() { return p.query_sent; }

// ---- the old object protocol ----------------------------------------------------------------

namespace {

enum OldStep { STEP_SEND = 1, STEP_LENGTH = 2, STEP_BODY = 3, STEP_REFRESH = 4, STEP_DONE = 5 };

struct old_request {
  old_request* next;
  int cell_count;
  int16_t cells[2][2];
  int length;
  prop_attributes_fn callback;
  uint8_t message[OLDPROP_MESSAGE_LIMIT];
};

struct old_state {
  tcp* connection = nullptr;
  old_request* head = nullptr;
  old_request* tail = nullptr;
  int step = STEP_SEND;
  int sent = 0;  // bytes of the head message already sent
  uint8_t length_bytes[2] = {};
  int length_received = 0;
  uint8_t* reply = nullptr;
  int expected = 0;
  int received = 0;
  bool query_in_flight = false;
  bool queried = false;
  int16_t sector_x = 0, sector_z = 0;
  bool query_time_set = false;
  uint32_t query_time = 0;
  bool progress_shown = false;  // the status shows how far the query's reply has come
};

old_state o;

// Big-endian writer over one request's message; a request that does not fit is refused.
struct writer {
  old_request* r;
  bool ok = true;
  void bytes(const void* data, size_t n) {
    if (!ok || r->length + static_cast<int>(n) > OLDPROP_MESSAGE_LIMIT) {
      ok = false;
      return;
    }
    if (n) std::memcpy(r->message + r->length, data, n);
    r->length += static_cast<int>(n);
  }
  void byte(uint32_t v) {
    uint8_t b = static_cast<uint8_t>(v);
    bytes(&b, 1);
  }
  void int16(uint32_t v) {
    uint8_t b[2] = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    bytes(b, 2);
  }
  void int32(uint32_t v) {
    uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                    static_cast<uint8_t>(v)};
    bytes(b, 4);
  }
  void zeros(int n) {
    for (int i = 0; i < n; ++i) byte(0);
  }
  // The sector's sequence as the server sent its four bytes.
  void seq(int sector_x, int sector_z) {
    int32_t v = cell_sector_sequence(sector_x, sector_z);
    bytes(&v, 4);
  }
};

old_request* new_request(int code) {
  auto* r = static_cast<old_request*>(std::calloc(1, sizeof(old_request)));
  if (!r) return nullptr;
  r->message[0] = static_cast<uint8_t>(code);
  r->length = 1;
  return r;
}

int finish(old_request* r, const writer& w) {
  if (!w.ok) {
    std::free(r);
    return NET_NO_FIT;
  }
  list_append(o.head, o.tail, r);
  return 0;
}

void add_cell(old_request* r, int x, int z) {
  if (r->cell_count >= 2) return;
  r->cells[r->cell_count][0] = static_cast<int16_t>(x);
  r->cells[r->cell_count][1] = static_cast<int16_t>(z);
  ++r->cell_count;
}

int text_length(int length) { return length < 0 ? 0 : (length > kTextLimit ? kTextLimit : length); }

void texts(writer& w, const element* e) {
  int m = text_length(element_model_length(e)), d = text_length(element_description_length(e)),
      a = text_length(element_action_length(e));
  w.byte(static_cast<uint32_t>(m));
  w.byte(static_cast<uint32_t>(d));
  w.byte(static_cast<uint32_t>(a));
  w.bytes(element_model(e), static_cast<size_t>(m));
  w.bytes(element_description(e), static_cast<size_t>(d));
  w.bytes(element_action(e), static_cast<size_t>(a));
}

uint32_t citizen() { return static_cast<uint32_t>(citizen_effective_number()); }

void free_reply() {
  std::free(o.reply);
  o.reply = nullptr;
  o.expected = o.received = 0;
  o.length_received = 0;
}

void drop_head() {
  old_request* r = o.head;
  if (!r) return;
  o.head = r->next;
  if (!o.head) o.tail = nullptr;
  std::free(r);
}

void destroy_connection() {
  if (o.connection) tcp_destroy(o.connection);
  o.connection = nullptr;
}

// The connection went: the world connection starts again.
void connection_lost() {
  WTRACE("oldprop: connection lost");
  destroy_connection();
  world_status_text(msg(119));
  world_restart();
}

// Reads a big-endian integer of n bytes from a reply record; false past its end.
struct reader {
  const uint8_t* p;
  int left;
  bool take(int n, const uint8_t** out) {
    if (left < n) return false;
    *out = p;
    p += n;
    left -= n;
    return true;
  }
  bool u8(int* v) {
    const uint8_t* b;
    if (!take(1, &b)) return false;
    *v = b[0];
    return true;
  }
  bool i16(int* v) {
    const uint8_t* b;
    if (!take(2, &b)) return false;
    *v = static_cast<int16_t>(b[0] << 8 | b[1]);
    return true;
  }
  bool raw32(int32_t* v) {
    const uint8_t* b;
    if (!take(4, &b)) return false;
    std::memcpy(v, b, 4);
    return true;
  }
};

// Applies the records of a longer reply; 0, or 424 / 425 when the cache refused a store.
int apply_records(const uint8_t* body, int length) {
  reader rd{body, length};
  int code = 0;
  bool open = false;  // records 1 to 3 need the cell opened by a record 0
  int cx = 0, cz = 0;
  int type = 0;
  while (rd.u8(&type)) {
    if (type == 0) {
      if (!rd.i16(&cx) || !rd.i16(&cz)) break;
      cell_update_begin(cx, cz, 0);
      open = true;
    } else if (type == 1) {
      if (!open) continue;
      open = false;
      if (!cell_update_end(0)) code = 424;
      visible_invalidate(cx, cz);
    } else if (type == 2) {
      int number, x, y, z, yaw, m, d, a;
      int32_t owner, build;
      const uint8_t *tm, *td, *ta;
      if (!rd.u8(&number) || !rd.raw32(&owner) || !rd.raw32(&build) || !rd.i16(&x) || !rd.i16(&y) ||
          !rd.i16(&z) || !rd.i16(&yaw) || !rd.u8(&m) || !rd.u8(&d) || !rd.u8(&a) || !rd.take(m, &tm) ||
          !rd.take(d, &td) || !rd.take(a, &ta))
        break;
      if (!open) continue;
      cell_element_delete_old(number);
      cell_element_add_old(number, owner, build, x, y, z, yaw, m, reinterpret_cast<const char*>(tm), d,
                           reinterpret_cast<const char*>(td), a, reinterpret_cast<const char*>(ta));
    } else if (type == 3) {
      int number;
      if (!rd.u8(&number)) break;
      if (open) cell_element_delete_old(number);
    } else if (type == 4) {
      int sx, sz;
      int32_t seq;
      if (!rd.i16(&sx) || !rd.i16(&sz) || !rd.raw32(&seq)) break;
      if (!cell_sector_set_sequence(sx, sz, seq)) code = 425;
    } else {
      break;  // the rest of the reply is skipped
    }
  }
  return code;
}

// What a complete reply means for the head request.
int interpret(old_request* r) {
  int length = o.expected;
  const uint8_t* body = o.reply;
  int b = body[0];
  int kind = r->message[0];
  if (b == 12) return 212;
  if (kind == OLDPROP_ATTRIBUTES) {
    if (r->callback) {
      if (length == 1)
        r->callback(nullptr, 0, b + 200);
      else
        r->callback(body, length, 0);
    }
    return 0;
  }
  if (b == 15) return 215;
  if (kind == OLDPROP_EJECT) {
    if (prop_hook.eject_result) prop_hook.eject_result(b);
    return 0;
  }
  if (length == 1) return b + 200;
  return apply_records(body, length);
}

void refresh_cells(old_request* r) {
  for (int i = 0; i < r->cell_count; ++i) visible_invalidate(r->cells[i][0], r->cells[i][1]);
}

void done(old_request* r) {
  if (r->message[0] == OLDPROP_QUERY) {
    o.query_in_flight = false;
    o.progress_shown = false;
    world_status_text("");
  }
  free_reply();
  drop_head();
  o.step = STEP_SEND;
  o.sent = 0;
}

void handle_code(old_request* r, int code) {
  free_reply();
  if (code == 0) {
    done(r);
    return;
  }
  if (code == 212) {
    destroy_connection();
    world_status_text(msg(119));
    world_restart();
    world_status_text(msg(150));
    universe_reconnect();
    o.step = STEP_SEND;  // the request stays for the next connection
    o.sent = 0;
    return;
  }
  if (code == 215) {
    handle_world_error(215);
    // The error may have reset the protocol; only a request still at the head goes on.
    if (o.head == r) done(r);
    return;
  }
  show_refusal(code, true);
  refresh_cells(r);
  done(r);
}

void query_own_sector(uint32_t now) {
  int sx = cell_sector_from_coordinate(own_x()), sz = cell_sector_from_coordinate(own_z());
  bool moved = !o.queried || sx != o.sector_x || sz != o.sector_z;
  bool stale = !o.query_time_set || tick_diff(o.query_time, now) > static_cast<int32_t>(OLDPROP_QUERY_INTERVAL);
  if (!moved && !stale) return;
  old_request* r = new_request(OLDPROP_QUERY);
  if (!r) return;
  writer w{r};
  w.zeros(3);
  w.int16(static_cast<uint32_t>(sx));
  w.int16(static_cast<uint32_t>(sz));
  for (int dz = -1; dz <= 1; ++dz)
    for (int dx = -1; dx <= 1; ++dx) w.seq(sx + dx, sz + dz);
  w.int32(citizen());
  if (finish(r, w) != 0) return;
  o.queried = true;
  o.sector_x = static_cast<int16_t>(sx);
  o.sector_z = static_cast<int16_t>(sz);
  o.query_in_flight = true;
  o.query_time_set = true;
  o.query_time = now;
}

// A reply of length 0: accepted, nothing to read.
void empty_reply(old_request* r) {
  if (r->message[0] == OLDPROP_ATTRIBUTES && r->callback) r->callback(nullptr, 0, 0);
  if (r->message[0] == OLDPROP_EJECT && prop_hook.eject_result) prop_hook.eject_result(0);
  o.step = STEP_DONE;
}

// One step of the head request; true when the next step may follow in the same frame.
bool work(old_request* r) {
  switch (o.step) {
    case STEP_SEND: {
      if (!o.connection) return false;
      int sent = 0;
      int rc = tcp_send(o.connection, r->message + o.sent, r->length - o.sent, &sent);
      if (rc == 0) {
        o.sent = 0;
        o.step = STEP_LENGTH;
        o.length_received = 0;
        return true;
      }
      if (rc == NET_SHORT_SEND) {
        o.sent += sent;
        return false;
      }
      if (rc == NET_NOT_YET) return false;
      connection_lost();
      return false;
    }
    case STEP_LENGTH: {
      if (!o.connection) {
        o.step = STEP_REFRESH;
        return true;
      }
      int count = 0;
      int rc = tcp_receive(o.connection, o.length_bytes + o.length_received, 2 - o.length_received, &count);
      if (rc != 0) {
        o.step = STEP_REFRESH;  // dropped
        return true;
      }
      o.length_received += count;
      if (count > 0) world_heard();
      if (o.length_received < 2) return false;
      int length = o.length_bytes[0] << 8 | o.length_bytes[1];
      if (length == 0) {
        empty_reply(r);
        return true;
      }
      o.reply = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(length)));
      if (!o.reply) {
        o.step = STEP_REFRESH;
        return true;
      }
      o.expected = length;
      o.received = 0;
      if (length > OLDPROP_REPLY_LIMIT) o.query_time_set = false;
      o.step = STEP_BODY;
      return true;
    }
    case STEP_BODY: {
      if (!o.connection) {
        free_reply();
        o.step = STEP_REFRESH;
        return true;
      }
      int count = 0;
      int rc = tcp_receive(o.connection, o.reply + o.received, o.expected - o.received, &count);
      if (rc != 0) {
        free_reply();
        o.step = STEP_REFRESH;
        return true;
      }
      o.received += count;
      if (count > 0) world_heard();
      if (r->message[0] == OLDPROP_QUERY) {
        world_status_text(msg_arg(47, o.received, o.expected));
        o.progress_shown = true;
      }
      if (o.received < o.expected) return count > 0;
      handle_code(r, interpret(r));
      return false;
    }
    case STEP_REFRESH:
      refresh_cells(r);
      o.step = STEP_DONE;
      return true;
    default:
      done(r);
      return false;
  }
}

}  // namespace

void oldprop_init() { o = old_state{}; }

int oldprop_dispatch(const void* reply, int length) {
  old_request* r = o.head;
  if (!r || length < 0 || (length > 0 && !reply)) return 0;
  free_reply();
  if (length == 0) {
    empty_reply(r);
    done(r);
    return 1;
  }
  o.reply = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(length)));
  if (!o.reply) return 0;
  std::memcpy(o.reply, reply, static_cast<size_t>(length));
  o.expected = o.received = length;
  handle_code(r, interpret(r));
  return 1;
}

void oldprop_term() {
  GTRACE("oldprop_term");
  oldprop_reset();
  destroy_connection();
}

void oldprop_set_connection(tcp* connection) {
  destroy_connection();
  free_reply();
  o.connection = connection;
  o.step = STEP_SEND;
  o.sent = 0;
}

void oldprop_reset() {
  destroy_connection();
  free_reply();
  while (o.head) drop_head();
  o.query_time_set = false;
  o.query_in_flight = false;
  o.step = STEP_SEND;
  o.sent = 0;
  // Only its own text: the world's "connecting" stays while the connection is made again.
  if (o.progress_shown) world_status_text("");
  o.progress_shown = false;
}

void oldprop_update() {
  GTRACE("oldprop_update");
  if (world_address() == 0) {
    o.query_time_set = false;
    return;
  }
  uint32_t now = platform_ticks();
  if (!o.query_in_flight && world_connected() && !world_login_pending()) query_own_sector(now);
  // A bounded number of steps: a reply is read as far as it has come.
  for (int i = 0; i < 16 && o.head; ++i)
    if (!work(o.head)) break;
}

int oldprop_add(const element* e) {
  if (!o.connection) {
    note("%s", msg(13));
    return NET_NO_WORLD;
  }
  old_request* r = new_request(OLDPROP_ADD);
  if (!r) return NET_NO_MEMORY;
  double x = element_x(e), z = element_z(e);
  add_cell(r, cell_from_coordinate(x), cell_from_coordinate(z));
  writer w{r};
  w.byte(0);
  w.int16(static_cast<uint32_t>(prop_tenths(element_yaw(e))));
  w.seq(cell_sector_from_coordinate(x), cell_sector_from_coordinate(z));
  w.int32(citizen());
  w.int32(static_cast<uint32_t>(prop_thousandths(x)));
  w.int32(static_cast<uint32_t>(prop_thousandths(element_y(e))));
  w.int32(static_cast<uint32_t>(prop_thousandths(z)));
  texts(w, e);
  return finish(r, w);
}

int oldprop_change(int old_cell_x, int old_cell_z, const element* e, int32_t prior) {
  (void)prior;  // the old protocol replaces the object by its number
  if (!o.connection) return NET_NO_WORLD;
  old_request* r = new_request(OLDPROP_CHANGE);
  if (!r) return NET_NO_MEMORY;
  double x = element_x(e), z = element_z(e);
  int nx = cell_from_coordinate(x), nz = cell_from_coordinate(z);
  add_cell(r, old_cell_x, old_cell_z);
  if (nx != old_cell_x || nz != old_cell_z) add_cell(r, nx, nz);
  writer w{r};
  w.byte(static_cast<uint32_t>(element_number(e)));
  w.int16(static_cast<uint32_t>(prop_tenths(element_yaw(e))));
  w.seq(cell_sector_from_coordinate(x), cell_sector_from_coordinate(z));
  w.int32(citizen());
  w.int32(static_cast<uint32_t>(element_owner(e)));
  w.int32(static_cast<uint32_t>(prop_thousandths(x)));
  w.int32(static_cast<uint32_t>(prop_thousandths(element_y(e))));
  w.int32(static_cast<uint32_t>(prop_thousandths(z)));
  w.int16(static_cast<uint32_t>(old_cell_x));
  w.int16(static_cast<uint32_t>(old_cell_z));
  texts(w, e);
  return finish(r, w);
}

int oldprop_delete(int cell_x, int cell_z, int32_t number) {
  if (!o.connection) return NET_NO_WORLD;
  old_request* r = new_request(OLDPROP_DELETE);
  if (!r) return NET_NO_MEMORY;
  add_cell(r, cell_x, cell_z);
  writer w{r};
  w.byte(static_cast<uint32_t>(number));
  w.zeros(2);
  w.int16(static_cast<uint32_t>(cell_x));
  w.int16(static_cast<uint32_t>(cell_z));
  w.seq(cell_sector(cell_x), cell_sector(cell_z));
  w.int32(citizen());
  return finish(r, w);
}

int oldprop_query_attributes(prop_attributes_fn callback) {
  old_request* r = new_request(OLDPROP_ATTRIBUTES);
  if (!r) return NET_NO_MEMORY;
  r->callback = callback;
  writer w{r};
  w.zeros(3);
  w.int32(citizen());
  return finish(r, w);
}

int oldprop_change_attributes(const uint8_t* block, int length) {
  if (length < 0 || (!block && length)) return NET_NO_FIT;
  old_request* r = new_request(OLDPROP_CHANGE_ATTRIBUTES);
  if (!r) return NET_NO_MEMORY;
  writer w{r};
  w.zeros(3);
  w.int32(citizen());
  w.bytes(block, static_cast<size_t>(length));
  return finish(r, w);
}

int oldprop_eject(int session, int32_t seconds) {
  old_request* r = new_request(OLDPROP_EJECT);
  if (!r) return NET_NO_MEMORY;
  writer w{r};
  w.int32(citizen());
  auto s = static_cast<uint32_t>(session);
  uint8_t le[4] = {static_cast<uint8_t>(s), static_cast<uint8_t>(s >> 8), static_cast<uint8_t>(s >> 16),
                   static_cast<uint8_t>(s >> 24)};
  w.bytes(le, 4);
  w.int32(static_cast<uint32_t>(seconds));
  return finish(r, w);
}

int oldprop_queue_count() { return list_count(o.head); }
int oldprop_step() { return o.step; }
bool oldprop_query_in_flight() { return o.query_in_flight; }
bool oldprop_connected() { return o.connection != nullptr; }
