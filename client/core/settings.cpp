#include "client/core/settings.h"

#include <sys/vfs.h>

#include <cstring>
#include <string>
#include <strings.h>
#include <unordered_map>

#include "client/core/files.h"
#include "client/core/ini.h"
#include "client/core/log.h"
#include "client/core/profile.h"

namespace {

enum Kind {
  FLAG,    // 0 or 1; anything else gives the default
  RANGE,   // low .. high; anything else gives the default
  STORED,  // as stored; absent gives the default
  LIMIT,   // 0, 1 or low .. high; anything else gives the default
  ONSET,   // any value but 0 is on (1); absent gives the default
  CLAMP,   // 0, or low .. high with a value beyond brought to the nearer end
  TEXT,    // text; absent or empty gives the default text
  SECRET,  // enciphered text; absent gives ""
};

struct Row {
  const char* section;
  const char* key;  // nullptr: every key of the section
  Kind kind;
  int fallback;
  int low = 0, high = 0;
  const char* text = "";
};

// The settings table. Rows with a key come before their section's catch-all row.
const Row kTable[] = {
    {"performance", "avatars", FLAG, 1},
    {"performance", "zembrels", FLAG, 1},
    {"performance", "panning", FLAG, 0},
    {"performance", "framerate", RANGE, 7, 3, 30},
    {"performance", "visibility", RANGE, 40, 25, 120},
    {"performance", "directdraw", STORED, -1},
    {"performance", "try_directdraw", STORED, -1},
    {"performance", "mmx", STORED, -1},
    {"performance", "direct3d", STORED, -1},
    {"performance", "hr", STORED, -1},
    {"performance", "urls", ONSET, 1},
    {"general", "sound", ONSET, 1},
    {"general", "music", ONSET, 1},
    {"general", "rating", RANGE, 2, 0, 3},
    {"general", "messages", TEXT, 0},
    {"downloads", "pictures", LIMIT, 100, 10, 999},
    {"downloads", "audio", LIMIT, 150, 10, 999},
    {"privacy", "join", RANGE, 0, 0, 2},
    {"privacy", "verify", FLAG, 0},
    {"privacy", "hide_world", FLAG, 0},
    {"chat", "avatars", RANGE, 50, 12, 50},
    {"chat", "near", RANGE, 12, 0, 50},
    {"chat", "balloons", FLAG, 1},
    {"chat", "logging", FLAG, 0},
    {"chat", "logfile", TEXT, 0, 0, 0, "chat.txt"},
    {"advanced", "local_path", TEXT, 0},
    {"advanced", "cd", FLAG, 0},
    {"proxy", "address", TEXT, 0},
    {"proxy", "port", RANGE, 65535, 0, 65535},  // 16 bits; absent gives 65535
    // Panes and bars: the toolbar, the title's position, the cache status and the web pane
    // are shown unless switched off; every other pane only when switched on.
    {"show", "toolbar", ONSET, 1},
    {"show", "position", ONSET, 1},
    {"show", "cache", ONSET, 1},
    {"show", "web", ONSET, 1},
    {"show", nullptr, FLAG, 0},
    // Window places, sizes, sort orders and column widths; each module checks its own.
    {"layout", nullptr, STORED, -1},
    {"debug", nullptr, FLAG, 0},
    {"special", "kiosk", FLAG, 0},
    {"display", "depth", FLAG, 0},
    {"disk", "limit", CLAMP, 100, 20, 999},  // megabytes, 0 no limit
    {"disk", "delete", CLAMP, 0, 1, 180},    // days, 0 never
    {"citizen", "name", TEXT, 0},
    {"citizen", "tourist", TEXT, 0},
    {"citizen", "pass", SECRET, 0},
    {"citizen", "password", TEXT, 0},  // a password of old, enciphered into pass at start-up
    {"start", "world", TEXT, 0},
    {"start", "location", TEXT, 0},
    {"privilege", "name", TEXT, 0},
    {"privilege", "password", SECRET, 0},
    {"privilege", "privilege", ONSET, 0},
    {"privilege", "id", STORED, -1},
    {"universe", "host", TEXT, 0},
    {"universe", "port", STORED, -1},
    {"web", "host", TEXT, 0},
    {"web", "help_path", TEXT, 0},
    {"web", "other_host", TEXT, 0},
    {"browser", "name", TEXT, 0},
    {"upgrade", "host", TEXT, 0},
};

const Row* find(const char* section, const char* key) {
  for (const Row& r : kTable) {
    if (strcasecmp(r.section, section) != 0) continue;
    if (!r.key || strcasecmp(r.key, key) == 0) return &r;
  }
  log_write("settings: [%s] %s has no row in the table", section, key);
  return nullptr;
}

int value_of(const Row& r, int v) {
  if (v == -1) return r.fallback;
  switch (r.kind) {
    case FLAG: return v == 0 || v == 1 ? v : r.fallback;
    case RANGE: return v >= r.low && v <= r.high ? v : r.fallback;
    case LIMIT: return v == 0 || v == 1 || (v >= r.low && v <= r.high) ? v : r.fallback;
    case ONSET: return v != 0 ? 1 : 0;
    case CLAMP: return v == 0 ? 0 : v < r.low ? r.low : v > r.high ? r.high : v;
    default: return v;
  }
}

// A whole decimal number with an optional sign.
bool is_number(const char* t) {
  if (*t == '-' || *t == '+') ++t;
  if (!*t) return false;
  for (; *t; ++t)
    if (*t < '0' || *t > '9') return false;
  return true;
}

// The text last looked at for each key of each settings file: a key that holds the same text
// is not looked at again, so a value read every frame is told of once, and a new bad value is
// told of again.
std::unordered_map<std::string, std::string> looked_at;

// A value that is not wholly a number, or that the row's range adjusts, is told of in the log
// with what was used instead.
void tell_of(const Row& r, const char* section, const char* key, const char* text, int stored,
             int used) {
  std::string name = std::string(profile_path()) + '\0' + section + '\0' + key;
  for (size_t i = 0; i < name.size(); ++i)
    if (name[i] >= 'A' && name[i] <= 'Z') name[i] = static_cast<char>(name[i] - 'A' + 'a');
  auto [at, added] = looked_at.try_emplace(name, text);
  if (!added && at->second == text) return;
  at->second = text;
  bool number = is_number(text);
  if (number && (stored == used || r.kind == ONSET || stored == -1)) return;
  log_note("settings: %s [%s] %s=\"%s\" %s: %d used", profile_path(), section, key, text,
           number ? "is out of range" : "is not a number", used);
}

// The value the row gives for what the file holds: the table's default for an absent key or
// text that is not wholly a number.
int value_read(const Row& r, const char* section, const char* key) {
  int v = profile_int(section, key);
  if (r.kind == TEXT || r.kind == SECRET) return v;
  char text[128];
  if (!ini_get(profile_path(), section, key, "", text, sizeof text)) return value_of(r, -1);
  int used = is_number(text) ? value_of(r, v) : r.fallback;
  tell_of(r, section, key, text, v, used);
  return used;
}

int read(const char* section, const char* key) {
  const Row* r = find(section, key);
  return r ? value_read(*r, section, key) : profile_int(section, key);
}

// The download limits' default follows [performance] urls.
int download_limit(const char* key) {
  Row row = *find("downloads", key);
  if (!perform_urls()) row.fallback = 0;
  return value_read(row, "downloads", key);
}

// The validated local path and its CD switch, as loaded or last stored.
constexpr size_t kPathMax = 255;
std::string local_path;
int local_cd = 0;

// The file systems of CD and DVD media.
bool on_cdrom(const char* path) {
  struct statfs fs{};
  if (statfs(path, &fs) != 0) return false;
  return fs.f_type == 0x9660 || fs.f_type == 0x15013346;
}

}  // namespace

int perform_avatars() { return read("performance", "avatars"); }
int perform_zembrels() { return read("performance", "zembrels"); }
int perform_panning() { return read("performance", "panning"); }
int perform_framerate() { return read("performance", "framerate"); }
int perform_visibility() { return read("performance", "visibility"); }
int perform_mmx() { return read("performance", "mmx"); }
void perform_set_mmx(int value) { profile_set_int("performance", "mmx", value); }
int perform_direct3d() { return read("performance", "direct3d"); }
int perform_hr() { return read("performance", "hr"); }
int perform_urls() { return read("performance", "urls"); }
int perform_stored_directdraw() { return read("performance", "directdraw"); }
int perform_stored_try_directdraw() { return read("performance", "try_directdraw"); }

int general_sound() { return read("general", "sound"); }
int general_music() { return read("general", "music"); }
int general_rating() { return read("general", "rating"); }
const char* general_messages() { return settings_text("general", "messages"); }

int dloptions_pictures() { return download_limit("pictures"); }
int dloptions_audio() { return download_limit("audio"); }

int privacy_join() { return read("privacy", "join"); }
int privacy_verify() { return read("privacy", "verify"); }
int privacy_hide_world() { return read("privacy", "hide_world"); }

int chat_avatars() { return read("chat", "avatars"); }
int chat_near() { return read("chat", "near"); }
int chat_balloons() { return read("chat", "balloons"); }
int chat_logging() { return read("chat", "logging"); }
const char* chat_logfile() { return settings_text("chat", "logfile"); }

bool advanced_validate(std::string& path, int* use_cd) {
  if (path.empty()) return true;
  if (path.size() > kPathMax || !file_is_directory(path.c_str())) {
    path.clear();
    return false;
  }
  if (use_cd && !*use_cd && on_cdrom(path.c_str())) *use_cd = 1;
  return true;
}

void advanced_load() {
  // The path may be 255 bytes: longer than the settings' usual text. One byte more is read so
  // that a stored path that is too long is refused, not cut to a folder the user never named.
  char stored[kPathMax + 2];
  ini_get(profile_path(), "advanced", "local_path", "", stored, sizeof stored);
  local_path = stored;
  local_cd = read("advanced", "cd");
  advanced_validate(local_path, &local_cd);
}

bool advanced_store(const std::string& path, int cd) {
  std::string checked = path;
  if (!advanced_validate(checked, &cd)) return false;
  local_path = checked;
  local_cd = cd;
  profile_set_string("advanced", "local_path", local_path.c_str());
  profile_set_int("advanced", "cd", local_cd);
  return true;
}

const char* advanced_local_path() { return local_path.empty() ? nullptr : local_path.c_str(); }
int advanced_use_local_path() { return local_cd; }

const char* proxy_setting_address() { return settings_text("proxy", "address"); }
int proxy_setting_port() { return read("proxy", "port"); }

int show_setting(const char* key) { return read("show", key); }
void show_set(const char* key, bool shown) { profile_set_int("show", key, shown ? 1 : 0); }
int layout_setting(const char* key) { return read("layout", key); }
void layout_set(const char* key, int value) { profile_set_int("layout", key, value); }

int settings_int(const char* section, const char* key) { return read(section, key); }

const char* settings_text(const char* section, const char* key) {
  const char* v = profile_string(section, key);
  if (v[0]) return v;
  const Row* r = find(section, key);
  return r && r->kind == TEXT ? r->text : v;
}

const char* settings_secret(const char* section, const char* key) {
  find(section, key);
  return profile_encrypted_string(section, key);
}

int settings_count() { return static_cast<int>(sizeof kTable / sizeof kTable[0]); }

std::string settings_name(int row) {
  if (row < 0 || row >= settings_count()) return "";
  const Row& r = kTable[row];
  return std::string(r.section) + "." + (r.key ? r.key : "*");
}
