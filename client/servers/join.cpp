#include "client/servers/join.h"

#include <strings.h>

#include <cmath>
#include <cstdio>
#include <deque>
#include <string>

#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/strutil.h"
#include "client/scene/self.h"
#include "client/servers/teleport.h"
#include "client/servers/universe.h"
#include "client/servers/world.h"
#include "platform/clock.h"

#define TRACE(...) LOG_TRACE(TRACE_GENERAL, __VA_ARGS__)

join_hooks join_default_hooks() {
  join_hooks h{};
  h.self_x = [] { return static_cast<double>(self_get_x()); };
  h.self_y = [] { return static_cast<double>(self_get_y()); };
  h.self_z = [] { return static_cast<double>(self_get_z()); };
  h.self_yaw = [] { return static_cast<double>(self_get_yaw()); };
  // In a world under either protocol (the old one owns the connection, state 3).
  h.world_name = []() -> const char* { return world_connected() ? world_name() : ""; };
  h.teleport = teleport;
  return h;
}

join_hooks join_hook = join_default_hooks();

namespace {

constexpr int CONSOLE_KIND = 3;
// Requests beyond this many waiting are dropped unanswered, as expired ones are.
constexpr size_t QUEUE_LIMIT = 256;

struct request {
  int32_t number;
  std::string name;
  uint32_t expiry;
};

struct join_module {
  int32_t asked = 0;
  std::string asked_name;
  uint32_t deadline = 0;
  std::deque<request> queue;  // oldest first
};
join_module jm;

void console(const char* text) { msg_print_titled(join_hook.console_print, CONSOLE_KIND, 160, text); }

int setting(int (*hook)(), int (*accessor)()) {
  int v = hook ? hook() : accessor();
  return v < 0 ? 0 : v;
}

bool is_contact(int32_t number) {
  return join_hook.contacts_lookup_name && join_hook.contacts_lookup_name(number) != nullptr;
}

const char* own_world() {
  const char* w = join_hook.world_name ? join_hook.world_name() : nullptr;
  return w ? w : "";
}

double own(double (*hook)()) { return hook ? hook() : 0.0; }

// Millimetres for the wire, kept within the field's range.
int32_t millimetres(double units) {
  double v = std::trunc(units * 1000.0);
  if (!(v == v)) return 0;
  if (v > 2147483647.0) return 2147483647;
  if (v < -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

void ask_head() { console(msg_arg(196, jm.queue.front().name.c_str())); }

void drop_head() {
  jm.queue.pop_front();
  if (!jm.queue.empty() && tick_before(platform_ticks(), jm.queue.front().expiry)) ask_head();
}

void refuse(int32_t number) { universe_location(JOIN_REFUSED, number, "", 0, 0, 0, 0); }

}  // namespace

int join_init() {
  universe_receiver.join_receive_request = join_receive_request;
  universe_receiver.join_receive_location = join_receive_location;
  return 0;
}

int join(int32_t number, const char* name) {
  TRACE("join (%s, %d)", name ? name : "", number);
  jm.asked = number;
  jm.asked_name = string_cut(name, JOIN_NAME_LIMIT);
  jm.deadline = platform_ticks() + JOIN_TIMEOUT;
  int r = universe_get_citizen_location(number);
  if (r) {
    // Never asked: no answer will come, so the user hears now rather than after the time-out.
    jm.asked = 0;
    console(msg_arg(58, r));
  }
  return r;
}

void join_receive_request(int32_t number, const char* name) {
  std::string who = string_cut(name, JOIN_NAME_LIMIT);
  TRACE("join_receive_request (%d, %s)", number, who.c_str());
  int allowed = setting(join_hook.privacy_join, privacy_join);
  if (allowed >= 2 || (allowed == 1 && !is_contact(number))) {
    refuse(number);
    return;
  }
  if (setting(join_hook.privacy_verify, privacy_verify) == 0) {
    join_accept(number, who.c_str());
    return;
  }
  if (jm.queue.size() >= QUEUE_LIMIT) return;
  jm.queue.push_back({number, who, platform_ticks() + JOIN_TIMEOUT});
  if (jm.queue.size() == 1) ask_head();
}

void join_accept(int32_t number, const char* name) {
  const char* world = own_world();
  if (!*world) return;
  double yaw = own(join_hook.self_yaw);
  int tenths = 0;
  if (yaw == yaw && std::fabs(yaw) < 1e6) tenths = static_cast<int>(yaw) * 10 % 3600;
  universe_location(0, number, world, millimetres(own(join_hook.self_x)), millimetres(own(join_hook.self_y)),
                    millimetres(own(join_hook.self_z)), tenths);
  console(msg_arg(198, name ? name : ""));
}

void join_receive_location(int rc, int32_t number, const char* world, int32_t x, int32_t y, int32_t z, int yaw) {
  if (jm.asked == 0 || number != jm.asked) return;
  TRACE("join_receive_location (%d, %d)", rc, number);
  jm.asked = 0;
  if (rc) {
    if (rc == JOIN_REFUSED && is_contact(number))
      console(msg_arg(197, jm.asked_name.c_str()));
    else if (rc == JOIN_NOT_ONLINE)
      console(msg_arg(241, jm.asked_name.c_str()));
    else
      console(msg_arg(229, rc));
    return;
  }
  double d = yaw * 0.1;
  double a = d * M_PI / 180.0;
  float tx = static_cast<float>(x / 1000.0 + 0.5 * std::sin(a));
  float ty = static_cast<float>(y / 1000.0);
  float tz = static_cast<float>(z / 1000.0 + 0.5 * std::cos(a));
  if (join_hook.teleport) join_hook.teleport(world ? world : "", tx, ty, tz, static_cast<float>(d + 180.0), 1);
}

int join_answer(const char* text) {
  if (jm.queue.empty() || !text) return 0;
  request head = jm.queue.front();
  if (strcasecmp(text, msg(102)) == 0)
    refuse(head.number);
  else if (strcasecmp(text, msg(101)) == 0)
    join_accept(head.number, head.name.c_str());
  else
    return 0;
  drop_head();
  return 1;
}

void join_update() {
  uint32_t now = platform_ticks();
  if (jm.asked && !tick_before(now, jm.deadline)) {
    jm.asked = 0;
    console(msg_arg(220, jm.asked_name.c_str()));
  }
  if (!jm.queue.empty() && !tick_before(now, jm.queue.front().expiry)) drop_head();
}

int join_queue_length() { return static_cast<int>(jm.queue.size()); }
int32_t join_asked_number() { return jm.asked; }

void join_reset() { jm = join_module{}; }
