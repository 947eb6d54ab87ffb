#include "client/core/profile.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "client/core/files.h"
#include "client/core/ini.h"
#include "client/core/log.h"
#include "client/core/zipcrypt.h"

namespace {
std::string settings_path;
char string_buffers[5][128];
int next_buffer = 0;
char empty_string[1] = {0};

char* take_buffer() {
  next_buffer = (next_buffer + 1) % 5;
  return string_buffers[next_buffer];
}

// The value each setting gave when its read was last traced. Some settings are read every
// frame: a read that gives what it gave before is not traced again.
std::map<std::string, std::string> traced_reads;

// The trace names a password's setting but never shows its value.
const char kHidden[] = "(not shown)";

bool trace_read(const char* section, const char* key, const std::string& value) {
  if (!trace_switches[TRACE_GENERAL]) return false;
  auto [at, added] = traced_reads.try_emplace(std::string(section) + '\n' + key, value);
  if (!added && at->second == value) return false;
  at->second = value;
  return true;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

bool profile_init(const char* directory, const char* name) {
  settings_path = std::string(directory ? directory : "") + (name ? name : "");
  for (char& c : settings_path)
    if (c == '\\') c = '/';
  traced_reads.clear();
  if (trace_switches[TRACE_GENERAL]) log_write("profile_init");
  return file_exists(settings_path.c_str());
}

const char* profile_path() { return settings_path.c_str(); }

int profile_int(const char* section, const char* key) {
  int v = ini_get_int(settings_path.c_str(), section, key, -1);
  if (trace_read(section, key, std::to_string(v))) log_write("profile_int (%s, %s): %d", section, key, v);
  return v;
}

void profile_set_int(const char* section, const char* key, int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  if (trace_switches[TRACE_GENERAL]) log_write("profile_set_int (%s, %s, %d)", section, key, value);
  ini_set(settings_path.c_str(), section, key, text);
}

const char* profile_string(const char* section, const char* key) {
  char* out = take_buffer();
  ini_get(settings_path.c_str(), section, key, "", out, 128);
  if (trace_read(section, key, out))
    log_write("profile_string (%s, %s): %s", section, key, ini_secret_key(key) ? kHidden : out);
  return out;
}

void profile_set_string(const char* section, const char* key, const char* text) {
  if (trace_switches[TRACE_GENERAL])
    log_write("profile_set_string (%s, %s, %s)", section, key,
              !text ? "(null)" : ini_secret_key(key) ? kHidden : text);
  ini_set(settings_path.c_str(), section, key, text);
}

const char* profile_encrypted_string(const char* section, const char* key) {
  char hex[128];
  ini_get(settings_path.c_str(), section, key, "", hex, sizeof hex);
  if (trace_switches[TRACE_GENERAL]) log_write("profile_encrypted_string (%s, %s)", section, key);
  size_t len = std::strlen(hex);
  if (len < 2) {
    empty_string[0] = 0;
    return empty_string;
  }
  char* out = take_buffer();
  size_t n = 0;
  // Pairs of hex digits; an odd last digit is ignored, and a pair that is not hex ends the value.
  for (size_t i = 0; i + 1 < len; i += 2) {
    int hi = hex_digit(hex[i]), lo = hex_digit(hex[i + 1]);
    if (hi < 0 || lo < 0) break;
    out[n++] = static_cast<char>(hi * 16 + lo);
  }
  out[n] = 0;
  zipcrypt_decrypt(nullptr, 0, reinterpret_cast<uint8_t*>(out), n);
  return out;
}

void profile_set_encrypted_string(const char* section, const char* key, const char* text) {
  if (!text) text = "";
  size_t n = std::strlen(text);
  // The stored hex must fit the 127-character read: longer values could never be read back.
  if (n > 63) n = 63;
  unsigned char plain[64];
  std::memcpy(plain, text, n);
  zipcrypt_encrypt(nullptr, 0, plain, n);
  char hex[128];
  for (size_t i = 0; i < n; ++i) std::snprintf(hex + 2 * i, 3, "%2.2x", plain[i]);
  hex[2 * n] = 0;
  // Named, never shown: the cipher's key is built in, so its text is as good as the password.
  if (trace_switches[TRACE_GENERAL]) log_write("profile_set_encrypted_string (%s, %s)", section, key);
  ini_set(settings_path.c_str(), section, key, hex);
}
