#include "client/net/proxy.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "client/core/log.h"
#include "client/core/profile.h"
#include "client/core/settings.h"

namespace {
std::string address;
int port = 0;
char text[272];  // a 255-byte address, ":" and the port
bool have_proxy = false;

// A port that is not wholly a number ("8080x") names no proxy rather than some other port.
bool port_is_number() {
  const std::string given = profile_string("proxy", "port");
  char* end = nullptr;
  std::strtol(given.c_str(), &end, 10);
  if (given.empty() || (end != given.c_str() && !*end)) return true;
  log_note("proxy: [proxy] port=\"%s\" is not a number: no proxy", given.c_str());
  return false;
}
}  // namespace

int proxy_init() {
  if (trace_switches[TRACE_GENERAL]) log_write("proxy_init");
  const char* a = proxy_setting_address();
  address = a ? a : "";  // the settings' text buffer is reused by the next read
  have_proxy = !address.empty() && port_is_number();
  if (!have_proxy) {
    address.clear();
    port = 0;
    text[0] = 0;
    return 0;
  }
  port = proxy_setting_port();  // 16 bits: an absent or out-of-range port is 65535
  std::snprintf(text, sizeof text, "%s:%d", address.c_str(), port);
  return 0;
}

const char* proxy_text() { return have_proxy ? text : nullptr; }
const char* proxy_address() { return have_proxy ? address.c_str() : nullptr; }
int proxy_port() { return have_proxy ? port : 0; }

void proxy_set(const char* a, int p) {
  address.assign(a ? a : "", 0, 255);
  port = p & 0xFFFF;
  have_proxy = !address.empty();
  std::snprintf(text, sizeof text, "%s:%d", address.c_str(), port);
  if (!have_proxy) text[0] = 0;
  profile_set_string("proxy", "address", address.c_str());
  profile_set_int("proxy", "port", port);
}

void proxy_clear() {
  have_proxy = false;
  address.clear();
  port = 0;
  text[0] = 0;
  profile_set_string("proxy", "address", "");
}
