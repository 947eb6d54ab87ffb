#include "client/cache/download.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unordered_set>
#include <vector>

#include "client/cache/database.h"
#include "client/cache/disk.h"
#include "client/cache/http.h"
#include "client/cache/unzip.h"
#include "client/core/files.h"
#include "client/core/hash.h"
#include "client/core/log.h"
#include "client/core/ini.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/zipcrypt.h"
#include "engine/vxl21.h"
#include "platform/clock.h"
#include "platform/progdir.h"

// The current world's name, from the world connection (empty without one).
const char* world_name() __attribute__((weak));

struct download_request {
  char* url;
  const char* name;  // after the last '/' of url
  http_request* http;
  char* table_key;
  size_t table_key_length;
  int32_t reference;
  int32_t cls;
  int32_t timeouts;
  int32_t result;
  int32_t max_kb;
  int32_t force;
  int32_t ignore_refresh;
  int32_t misc;
  download_callback callback;
  void* user;
  uint8_t* local_data;
  int32_t local_size;
  char* local_date;
  int32_t refused;  // its callback could not use the file: no date is kept for it
  uint32_t max_bytes;    // the most its transfer may bring
  uint32_t deadline_ms;  // how long its transfer may run
  int32_t shares;        // a sound or a file named by address: these hold two slots at most
  int32_t setbacks;      // attempts that brought nothing: it waits behind the others
  size_t host_length;    // url's host (and port) part
  int32_t probe;         // its attempt asks whether its paused server is back
  int32_t looked_up;     // its server is paused and neither cache nor mirror had it
  int32_t busy_replies;  // 503s without a time to come back
  int32_t slowed;        // it gave its slot up for running slow
  uint32_t started_at;   // tick its transfer started
  char cache_key[150];
};

download_hooks download_hook = {};

namespace {
// The requests not yet freed. A holder learns of its request's end from the callback, but a
// reset or the shutdown frees what is queued without one: a holder that lets go of such a
// request afterwards (a model of an avatar the shutdown leaves) finds it gone, not freed memory.
std::unordered_set<download_request*> live_requests;
bool live(download_request* r) { return r && live_requests.count(r) != 0; }
}  // namespace

namespace {

constexpr int kBuckets = 127;
constexpr uint32_t kNeverRevalidate = 0x70000000u;
constexpr size_t kObjectKeyLength = 50;
constexpr size_t kMiscKeyLength = 150;
constexpr size_t kRecordLength = 50;
constexpr size_t kDateRoom = 44;
// The service's object server, used when a world names none.
constexpr const char* kDefaultObjectPath = "objects.veldara.net/tz";
// The most a file may bring and how long its transfer may run, generous for a real file of
// its kind: an archive is no larger than the member it unpacks to, within this room; a
// texture or backdrop picture is a JPEG; a file named by address (a picture, or a sound
// stored as it comes) may be as large as a sound. A transfer may take as long as its largest
// file on a slow line, and never less than the shortest deadline.
constexpr uint32_t kArchiveRoom = 1u << 20;
constexpr uint32_t kPictureBytes = 4u << 20;
constexpr uint32_t kAddressBytes = 16u << 20;
constexpr uint32_t kSlowLineBytesPerSecond = 65536;
constexpr uint32_t kShortestDeadlineMs = 90000;
// A server that cannot be reached is paused as a whole, for a pause that doubles up to the
// longest, and asked again by one request; files named by address (anyone's servers) are
// given up after so many pauses in a row, and a file a server says is busy (503 without a
// time to come back) after so many such replies.
constexpr uint32_t kFirstPauseMs = 2000;
constexpr uint32_t kLongestPauseMs = 30000;
constexpr int kAddressPauses = 6;
constexpr int32_t kBusyReplies = 3;
// A transfer that has brought less than this, a few seconds after its start, runs slow.
constexpr int32_t kSlowAfterMs = 5000;
constexpr uint64_t kSlowBytesPerSecond = 1024;
// Files of a paused server looked up in the cache and mirror in one frame: thousands may wait.
constexpr int kLookUpsPerFrame = 32;
// Message: the object server cannot be reached.
constexpr int kUnreachableMessage = 630;
constexpr int kConsoleWorld = 3;  // the console's kind for the world connection

hash_table* queue = nullptr;
download_request* slots[DOWNLOAD_SLOTS];
std::string object_path;
std::string cache_dir;
std::string last_world;
bool have_world = false;
int64_t refresh_seconds = 0;
database* object_dates = nullptr;
database* misc_dates = nullptr;
download_request* calling = nullptr;  // the request whose callback runs
// Attempts of the world's files in a row that did not reach the object server, and whether
// the person was told, since it last answered.
int unreached_in_a_row = 0;
bool told_unreachable = false;
DownloadView* view = nullptr;
bool shown = false;

struct server_pause {
  std::string host;
  uint32_t until;  // tick its pause ends
  int pauses;      // pauses in a row
  bool probing;    // a request asks whether it is back
};
std::vector<server_pause> paused;

bool trace() { return trace_switches[TRACE_GENERAL] != 0; }
bool trace_inner() { return trace_switches[TRACE_DOWNLOAD] != 0; }

std::string program_dir() { return platform_program_dir(); }

void make_dirs(const std::string& path) {
  std::string p;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      if (!p.empty()) file_make_dir(p.c_str());
    }
    if (i < path.size()) p += path[i];
  }
}

// A directory name made from a server's text must stay one name below its parent.
std::string safe_dir_name(const char* text) {
  char* cleaned = file_name_from_url(text);
  std::string name = cleaned ? cleaned : "";
  std::free(cleaned);
  if (name.find_first_not_of('.') == std::string::npos)
    for (char& c : name) c = '-';
  return name;
}

// Blank-padded key; a text longer than the room keeps its start and ends in a check sum
// of the whole text, so that long names with a common start stay apart.
void make_key(char* key, size_t room, const char* text) {
  std::memset(key, ' ', 150);
  size_t n = std::strlen(text);
  if (n <= room) {
    std::memcpy(key, text, n);
    return;
  }
  char tail[16];
  std::snprintf(tail, sizeof tail, "#%08x",
                static_cast<unsigned>(zipcrypt_crc32(reinterpret_cast<const uint8_t*>(text), n)));
  size_t keep = room - std::strlen(tail);
  std::memcpy(key, text, keep);
  std::memcpy(key + keep, tail, std::strlen(tail));
}

database* open_misc() {
  if (misc_dates) return misc_dates;
  std::string dir = program_dir() + "/cache/art/misc";
  make_dirs(dir);
  misc_dates = database_open((dir + "/download").c_str(), kMiscKeyLength, kRecordLength, 4096,
                             4096, 1, 1);
  return misc_dates;
}

database* dates_of(download_request* r) { return r->misc ? open_misc() : object_dates; }

struct DateRecord {
  bool found;
  uint32_t check;
  char date[kDateRoom + 1];
};

DateRecord read_record(download_request* r) {
  DateRecord d{};
  database* db = dates_of(r);
  uint8_t record[kRecordLength];
  if (!db || !database_fetch(db, r->cache_key, record, static_cast<int32_t>(kRecordLength), nullptr)) return d;
  d.found = true;
  d.check = record[2] | (record[3] << 8) | (record[4] << 16) | (static_cast<uint32_t>(record[5]) << 24);
  // The file may be damaged: the text ends within its field whatever it holds.
  std::memcpy(d.date, record + 6, kDateRoom);
  d.date[kDateRoom] = 0;
  return d;
}

void write_record(download_request* r, uint32_t check, const char* date) {
  database* db = dates_of(r);
  if (!db) return;
  uint8_t record[kRecordLength] = {};
  record[2] = static_cast<uint8_t>(check);
  record[3] = static_cast<uint8_t>(check >> 8);
  record[4] = static_cast<uint8_t>(check >> 16);
  record[5] = static_cast<uint8_t>(check >> 24);
  if (std::strlen(date) < kDateRoom) std::memcpy(record + 6, date, std::strlen(date));
  database_store(db, r->cache_key, record, static_cast<int>(kRecordLength));
}

int64_t now_seconds() { return static_cast<int64_t>(std::time(nullptr)); }

void update_cache(download_request* r) {
  if (r->misc) {
    if (trace_inner()) log_write("download: update_misc_cache (%s)", r->name);
    if (!open_misc()) return;
  } else {
    if (trace_inner()) log_write("download: update_cache (%s)", r->name);
    if (!object_dates) return;
  }
  std::string date = r->local_data ? (r->local_date ? r->local_date : "") : http_date(r->http);
  if (trace_inner()) log_write("date: %s", date.c_str());
  uint32_t check;
  if (r->local_data)
    check = advanced_use_local_path() ? kNeverRevalidate : 0;
  else
    check = static_cast<uint32_t>(now_seconds());
  if (date.empty()) {
    DateRecord old = read_record(r);
    if (!old.found) return;
    write_record(r, check, old.date);
    return;
  }
  write_record(r, check, date.c_str());
}

server_pause* pause_of(const download_request* r) {
  for (server_pause& p : paused)
    if (p.host.size() == r->host_length && strncasecmp(p.host.data(), r->url, r->host_length) == 0) return &p;
  return nullptr;
}

// Its server is paused: it waits, unless it may ask whether the server is back.
bool held_back(const download_request* r, uint32_t now) {
  const server_pause* p = pause_of(r);
  return p && (p->probing || tick_before(now, p->until));
}

void deallocate(download_request* r) {
  if (trace_inner()) log_write("download: deallocate (%s)", r->name);
  live_requests.erase(r);
  std::free(r->url);
  http_done(r->http);
  std::free(r->local_data);
  std::free(r->local_date);
  std::free(r->table_key);
  std::free(r);
}

void unlink_request(download_request* r) {
  if (queue && r->table_key) hash_remove(queue, r->table_key_length, r->table_key);
  for (auto& s : slots)
    if (s == r) s = nullptr;
}

// With store_date the request's date record is written once the callback has taken the
// file, unless it refused it: a refused file is asked for again as if it had never come.
void do_callback(download_request* r, int status, bool store_date = false) {
  if (trace_inner()) log_write("download: do_callback (%s, %d)", r->name, status);
  uint8_t* data = nullptr;
  int size = 0;
  if (status == DOWNLOAD_ARRIVED) {
    if (r->local_data) {
      data = r->local_data;
      size = r->local_size;
    } else {
      data = http_buffer(r->http);
      size = http_size(r->http);
    }
    if (!data) {
      status = DOWNLOAD_FAILED;
      size = 0;
    }
  }
  r->result = status;
  // Out of the table first: the callback may ask for the same file again.
  unlink_request(r);
  // The misc date database's folder is where callers keep the files named by address.
  if (store_date && r->misc) open_misc();
  download_request* outer = calling;
  calling = r;
  if (r->callback) r->callback(r->user, status, data, size);
  calling = outer;
  // Most callers store what came (unpacked or converted, which those steps count too).
  if (status == DOWNLOAD_ARRIVED) disk_stored(size);
  if (store_date && !r->refused) update_cache(r);
  deallocate(r);
}

download_request* queue_request(const char* key, size_t key_length, const char* url, int cls) {
  if (!queue) queue = hash_create(kBuckets);
  if (!queue) return nullptr;
  int found = 0;
  hash_entry* e = hash_find_or_add(queue, key_length, key, sizeof(download_request*), &found);
  if (!e || found) return nullptr;
  download_request* r = static_cast<download_request*>(std::calloc(1, sizeof(download_request)));
  char* url_copy = strdup(url);
  char* key_copy = static_cast<char*>(std::malloc(key_length + 1));
  if (!r || !url_copy || !key_copy) {
    std::free(r);
    std::free(url_copy);
    std::free(key_copy);
    hash_remove(queue, key_length, key);
    return nullptr;
  }
  std::memcpy(key_copy, key, key_length);
  key_copy[key_length] = 0;
  *static_cast<download_request**>(hash_entry_data(e)) = r;
  r->url = url_copy;
  const char* slash = std::strrchr(url_copy, '/');
  r->name = slash ? slash + 1 : url_copy;
  r->table_key = key_copy;
  r->table_key_length = key_length;
  r->host_length = std::strcspn(url_copy, "/");
  r->reference = 1;
  r->cls = cls;
  live_requests.insert(r);
  return r;
}

int score(const download_request* r) { return r->reference - 10 * r->cls + 40; }

// Sounds and files named by a full address (other users' pictures and sounds) never hold
// every slot: one is always left for the world's own models and textures.
bool slot_left_for_shares() {
  int running = 0;
  for (download_request* s : slots)
    if (s && s->shares) ++running;
  return running < DOWNLOAD_SLOTS - 1;
}

// The next to start: a file whose attempts brought nothing waits behind the others (fewer
// set-backs first), then the best score above 0, then the first in the table's order. One
// whose server is paused waits for the pause (once looked up in the cache and mirror);
// fresh: none that gave its slot up for running slow.
download_request* best_waiting(bool fresh = false) {
  if (!queue) return nullptr;
  download_request* best = nullptr;
  int best_score = 0;
  const bool shares = slot_left_for_shares();
  const uint32_t now = platform_ticks();
  hash_iterator* it = hash_iterator_create(queue);
  if (!it) return nullptr;
  while (void* data = hash_iterator_next_data(it)) {
    download_request* r = *static_cast<download_request**>(data);
    if (r->http || (!shares && r->shares) || (fresh && r->slowed)) continue;
    if (!paused.empty() && r->looked_up && held_back(r, now)) continue;
    int s = score(r);
    if (s <= 0) continue;
    if (!best || r->setbacks < best->setbacks || (r->setbacks == best->setbacks && s > best_score)) {
      best = r;
      best_score = s;
    }
  }
  return best;
}

bool ends_with(const char* name, const char* tail) {
  size_t n = std::strlen(name), k = std::strlen(tail);
  return n >= k && strcasecmp(name + n - k, tail) == 0;
}

uint32_t object_max_bytes(const char* folder, const char* name) {
  auto archive = [](unzip_kind kind) { return static_cast<uint32_t>(unzip_limit(kind)) + kArchiveRoom; };
  // The avatars folder holds the avatar models beside the avatar list.
  if (!std::strcmp(folder, "models") || !std::strcmp(folder, "avatars")) return archive(UNZIP_KIND_MODEL);
  if (!std::strcmp(folder, "textures")) return ends_with(name, ".zip") ? archive(UNZIP_KIND_MASK) : kPictureBytes;
  if (!std::strcmp(folder, "seqs")) return archive(UNZIP_KIND_SEQUENCE);
  if (!std::strcmp(folder, "sounds")) return archive(UNZIP_KIND_SOUND);
  return kAddressBytes;
}

void set_limits(download_request* r, uint32_t max_bytes) {
  r->max_bytes = max_bytes;
  const uint64_t slow = static_cast<uint64_t>(max_bytes) * 1000 / kSlowLineBytesPerSecond;
  r->deadline_ms = slow > kShortestDeadlineMs ? static_cast<uint32_t>(slow) : kShortestDeadlineMs;
}

// Tells the person once, until the object server answers again, that it cannot be reached;
// its files are asked for again meanwhile. A single attempt does not tell: a request dropped
// at once (when the world's own attributes arrive) or a moment's fault is not worth a line.
void tell_unreachable(const download_request* r) {
  if (r->misc || ++unreached_in_a_row < 2 || told_unreachable) return;
  told_unreachable = true;
  const std::string host = object_path.substr(0, object_path.find('/'));
  const char* text = msg_arg(kUnreachableMessage, host.c_str());
  log_note("download: %s", text);
  if (download_hook.console_print) download_hook.console_print(kConsoleWorld, text);
}

// The attempt brought nothing: the request waits in the queue again, behind the others.
void set_back(download_request* r, int slot) {
  http_done(r->http);
  r->http = nullptr;
  slots[slot] = nullptr;
  ++r->setbacks;
}

// Fails the waiting files named by address of a paused server.
void give_up_addresses(const server_pause* p) {
  std::vector<download_request*> waiting;
  hash_iterator* it = hash_iterator_create(queue);
  while (void* data = it ? hash_iterator_next_data(it) : nullptr) {
    download_request* w = *static_cast<download_request**>(data);
    if (!w->http && w->misc && pause_of(w) == p) waiting.push_back(w);
  }
  for (download_request* w : waiting)
    if (live(w) && !w->http) do_callback(w, DOWNLOAD_FAILED);
}

// The attempt ended; true when it asked whether its paused server is back.
bool end_probe(download_request* r) {
  if (!r->probe) return false;
  r->probe = 0;
  if (server_pause* p = pause_of(r)) p->probing = false;
  return true;
}

// The attempt did not reach r's server: the server is paused, or its pause grows when the
// attempt asked whether it is back. Returns the server's pauses in a row.
int pause_server(download_request* r, bool probe) {
  server_pause* p = pause_of(r);
  if (!p) {
    paused.push_back({std::string(r->url, r->host_length), 0, 0, false});
    p = &paused.back();
  } else if (!probe) {
    return p->pauses;  // asked before the pause began
  }
  const int doublings = p->pauses < 8 ? p->pauses : 8;
  const uint64_t pause = static_cast<uint64_t>(kFirstPauseMs) << doublings;
  p->until = platform_ticks() + static_cast<uint32_t>(pause < kLongestPauseMs ? pause : kLongestPauseMs);
  return ++p->pauses;
}

// r's server answered: its files go on, and whoever waited for it is told.
void server_answered(const download_request* r) {
  if (!r->misc) told_unreachable = false, unreached_in_a_row = 0;
  server_pause* p = pause_of(r);
  if (!p) return;
  const std::string host = p->host;
  paused.erase(paused.begin() + (p - paused.data()));
  if (download_hook.server_back) download_hook.server_back(host.c_str());
}

// A transfer that runs slow holds two slots at most: when every slot holds one and a file
// waits that has not given its slot up so, the slowest gives its slot up and waits again.
void free_slot_from_slow() {
  const uint32_t now = platform_ticks();
  int slowest = -1;
  int slowest_got = 0;
  for (int slot = 0; slot < DOWNLOAD_SLOTS; ++slot) {
    download_request* r = slots[slot];
    if (!r || !r->http) return;
    const int32_t ran = tick_diff(r->started_at, now);
    int got = 0;
    http_progress(r->http, &got, nullptr);
    if (ran < kSlowAfterMs || static_cast<uint64_t>(got) * 1000 >= kSlowBytesPerSecond * static_cast<uint64_t>(ran)) return;
    if (slowest < 0 || got < slowest_got) slowest = slot, slowest_got = got;
  }
  if (!best_waiting(true)) return;
  download_request* r = slots[slowest];
  if (trace_inner()) log_write("Download %s runs slow: %d bytes, its slot goes to the next", r->name, slowest_got);
  r->slowed = 1;
  end_probe(r);
  set_back(r, slowest);
}

// The mirror copy of a url, or "" when it would lie outside the mirror folder.
std::string mirror_path(const char* local, const char* url) {
  char* rel = file_name_from_url_keep_dirs(url);
  if (!rel) return "";
  std::string path = rel;
  std::free(rel);
  size_t start = 0;
  for (;;) {
    size_t end = path.find('\\', start);
    std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part == "..") return "";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  for (char& c : path)
    if (c == '\\') c = '/';
  std::string base = local;
  for (char& c : base)
    if (c == '\\') c = '/';
  return base + "/" + path;
}

// Steps 2 and 3 of starting a request: true when it was answered without a transfer.
bool answered_locally(download_request* r, const DateRecord& record, int64_t now) {
  if (!r->force && record.found && !r->ignore_refresh &&
      (record.check == kNeverRevalidate || now < static_cast<int64_t>(record.check) + refresh_seconds)) {
    do_callback(r, DOWNLOAD_CURRENT);
    return true;
  }
  // The path as validated at start-up or by the settings page (a CD drive found by then).
  const char* local = advanced_local_path();
  if (!local) return false;
  std::string path = mirror_path(local, r->url);
  if (path.empty() || !file_exists(path.c_str())) return false;
  std::string file_date_text = file_date(path.c_str());
  if (!r->force && !file_date_text.empty() && file_date_text == record.date) {
    do_callback(r, DOWNLOAD_CURRENT);
    return true;
  }
  uint8_t* bytes = nullptr;
  size_t size = 0;
  if (file_read(path.c_str(), &bytes, &size) != 0 || size > 0x7FFFFFFF) {
    std::free(bytes);
    return false;
  }
  r->local_data = bytes;
  r->local_size = static_cast<int32_t>(size);
  r->local_date = strdup(file_date_text.c_str());
  do_callback(r, DOWNLOAD_ARRIVED, true);
  return true;
}

void start_next() {
  if (trace_frames()) log_write("download: start_next");  // run every frame
  int64_t now = now_seconds();
  const uint32_t ticks = platform_ticks();
  int looked_up = 0;
  for (int slot = 0; slot < DOWNLOAD_SLOTS; ++slot) {
    while (!slots[slot]) {
      download_request* r = best_waiting();
      if (!r) return;
      DateRecord record{};
      if (!r->force) record = read_record(r);
      if (answered_locally(r, record, now)) continue;
      if (!paused.empty() && held_back(r, ticks)) {
        r->looked_up = 1;
        if (++looked_up >= kLookUpsPerFrame) return;
        continue;
      }
      // One request asks whether a paused server is back; the others wait for its answer.
      if (server_pause* p = paused.empty() ? nullptr : pause_of(r)) p->probing = true, r->probe = 1;
      r->http = record.date[0] && !r->force ? http_conditional_get(r->url, record.date)
                                            : http_get(r->url);
      // A transfer on loopback can be over before it is looked at: any state but "never
      // started" takes the slot, and the next poll reports how it ended.
      if (r->http && http_rc(r->http) != HTTP_NEVER_STARTED) {
        slots[slot] = r;
        r->started_at = ticks;
        http_set_deadline(http_set_max(r->http, r->max_bytes), r->deadline_ms);
      } else {
        end_probe(r);
        do_callback(r, DOWNLOAD_FAILED);
      }
      break;
    }
  }
}

// The answers the cache keeps: the trace line (naming the file) and what the requester is told.
struct kept_answer {
  int state;
  const char* trace;
  int status;
};
constexpr kept_answer kKeptAnswers[] = {
    {HTTP_COMPLETE, "Download succeeded for %s", DOWNLOAD_ARRIVED},
    {HTTP_NOT_MODIFIED, "Download up to date for %s", DOWNLOAD_CURRENT},
    {HTTP_NOT_FOUND, "Download %s: file not found", DOWNLOAD_FAILED},
};

const kept_answer* kept_answer_for(int state) {
  for (const kept_answer& a : kKeptAnswers)
    if (a.state == state) return &a;
  return nullptr;
}
}  // namespace

download_request* download_file(const char* folder, const char* name, int cls,
                                download_callback callback, void* user) {
  if (trace()) log_write("download_file (%s, %s)", folder ? folder : "", name ? name : "");
  if (object_path.empty() || !folder || !name) return nullptr;
  std::string key = std::string(folder) + name;
  std::string url = object_path + "/" + folder + "/" + name;
  download_request* r = queue_request(key.data(), key.size(), url.c_str(), cls);
  if (!r) return nullptr;
  r->callback = callback;
  r->user = user;
  r->shares = cls >= DOWNLOAD_CLASS_URL || !std::strcmp(folder, "sounds");
  set_limits(r, object_max_bytes(folder, name));
  make_key(r->cache_key, kObjectKeyLength, (std::string(folder) + "/" + name).c_str());
  return r;
}

download_request* download_url(const char* url, int max_kb, download_callback callback,
                               void* user) {
  if (trace()) log_write("download_url (%s)", url ? url : "");
  if (!url) return nullptr;
  download_request* r = queue_request(url, std::strlen(url), url, DOWNLOAD_CLASS_URL);
  if (!r) return nullptr;
  r->misc = 1;
  r->max_kb = max_kb;
  r->callback = callback;
  r->user = user;
  r->shares = 1;
  const uint64_t asked = static_cast<uint64_t>(max_kb > 0 ? max_kb : 0) * 1024u;
  set_limits(r, asked > 0 && asked < kAddressBytes ? static_cast<uint32_t>(asked) : kAddressBytes);
  make_key(r->cache_key, kMiscKeyLength - 1, url);
  return r;
}

void download_refuse(const char* file, const char* reason) {
  if (!reason) reason = "";
  if (download_request* r = calling) {
    r->refused = 1;
    log_note("download: refused %s (%s): %s", r->name, r->url, reason);
  } else {
    log_note("refused %s: %s", file ? file : "", reason);
  }
}

download_request* download_reference(download_request* r) {
  if (trace()) log_write("download_reference");
  if (live(r)) ++r->reference;
  return r;
}

download_request* download_dereference(download_request* r) {
  if (trace()) log_write("download_dereference");
  if (live(r)) --r->reference;
  return r;
}

void download_force(download_request* r) {
  if (trace()) log_write("download_force");
  if (live(r)) r->force = 1;
}

void download_ignore_refresh(download_request* r) {
  if (trace()) log_write("download_ignore_refresh");
  if (live(r)) r->ignore_refresh = 1;
}

void download_update() {
  if (trace_frames()) log_write("download_update");
  for (int slot = 0; slot < DOWNLOAD_SLOTS; ++slot) {
    download_request* r = slots[slot];
    if (!r || !r->http) continue;
    int state = http_rc(r->http);
    if (state == HTTP_RUNNING) continue;
    const bool probe = end_probe(r);
    // A body that was over before its limit was set is held to the limit all the same.
    if (state == HTTP_COMPLETE && static_cast<uint32_t>(http_size(r->http)) > r->max_bytes)
      state = HTTP_TOO_LARGE;
    const bool stalled = state == HTTP_TIMED_OUT || state == HTTP_SHORT_BODY;
    if (!stalled && !http_unreachable(state)) server_answered(r);
    if (const kept_answer* kept = kept_answer_for(state)) {
      if (trace_inner()) log_write(kept->trace, r->name);
      if (trace_inner()) log_write("download result for %s: %d", r->name, state);
      do_callback(r, kept->status, true);
      continue;
    }
    if (stalled) {
      // A stall, or a body cut off: asked for again twice, behind the waiting files.
      if (trace_inner())
        log_write(state == HTTP_TIMED_OUT ? "Download timed out for %s" : "Download cut short for %s", r->name);
      if (++r->timeouts < 3) {
        set_back(r, slot);
        continue;
      }
    } else if (http_unreachable(state)) {
      if (trace_inner()) log_write("Download %s: the server cannot be reached (%d)", r->name, state);
      tell_unreachable(r);
      const bool busy = state == HTTP_STATUS_BASE + 503 && !http_retry_later(r->http);
      const int pauses = pause_server(r, probe);
      // The world's own files wait until their server answers (a new world drops them);
      // those named by address only for so many pauses; a busy reply counts per file.
      if (r->misc && pauses > kAddressPauses) {
        give_up_addresses(pause_of(r));
      } else if (!busy || ++r->busy_replies < kBusyReplies) {
        set_back(r, slot);
        continue;
      }
    } else if (trace_inner()) {
      log_write("Download failed for %s (%d)", r->name, state);
    }
    if (trace_inner()) log_write("download result for %s: %d", r->name, state);
    do_callback(r, DOWNLOAD_FAILED);
  }
  free_slot_from_slow();
  start_next();
  if (shown && view) view->repaint();
}

void download_reset() {
  if (trace()) log_write("download_reset");
  told_unreachable = false;
  unreached_in_a_row = 0;
  paused.clear();
  // The files the last world used are no longer held from the disk limits.
  disk_forget_used();
  for (auto& s : slots) s = nullptr;
  hash_clear(queue, [](void* data) {
    download_request* r = *static_cast<download_request**>(data);
    std::free(r->table_key);
    r->table_key = nullptr;
    deallocate(r);
  });
}

int download_set_path(const char* path) {
  if (trace()) log_write("download_set_path (%s)", path ? path : "");
  object_path = path && path[0] ? path : kDefaultObjectPath;
  std::string dir = program_dir() + "/cache/art/" + safe_dir_name(object_path.c_str());
  // The folder's date database stays open while the folder stays the same: each world's
  // attributes set the path again, mostly to the one already in use.
  bool same = object_dates && dir == cache_dir;
  cache_dir = dir;
  make_dirs(cache_dir);
  const char* world = world_name ? world_name() : nullptr;
  std::string current = world ? world : "";
  int changed = !have_world || current != last_world;
  last_world = current;
  have_world = true;
  for (const char* sub : {"models", "textures", "avatars", "seqs", "sounds"}) {
    std::string folder = cache_dir + "/" + sub;
    file_make_dir(folder.c_str());
    if (!std::strcmp(sub, "textures")) VxSetSearchPath(folder.c_str(), 1);
  }
  if (same) return changed;
  database_close(object_dates);
  object_dates = database_open((cache_dir + "/download").c_str(), kObjectKeyLength,
                               kRecordLength, 4096, 4096, 1, 0);
  return changed;
}

void download_set_refresh(int minutes) {
  if (trace()) log_write("download_set_refresh (%d)", minutes);
  refresh_seconds = static_cast<int64_t>(minutes) * 60;
}

const char* download_get_path() { return cache_dir.c_str(); }

int download_init() {
  if (trace()) log_write("download_init");
  if (!queue) queue = hash_create(kBuckets);
  shown = show_setting("downloads") == 1;
  cache_dir = program_dir() + "/cache/art";
  make_dirs(cache_dir);
  return 0;
}

void download_term() {
  if (trace()) log_write("download_term");
  download_reset();
  database_close(object_dates);
  database_close(misc_dates);
  object_dates = misc_dates = nullptr;
  hash_destroy(queue);
  queue = nullptr;
  object_path.clear();
  last_world.clear();
  have_world = false;
  refresh_seconds = 0;
}

void download_set_view(DownloadView* v) { view = v; }

void download_toggle() {
  if (trace()) log_write("download_toggle");
  shown = !shown;
  if (view) view->show(shown);
  profile_set_int("show", "downloads", shown ? 1 : 0);
}

bool download_shown() { return shown; }

void download_window_destroyed() { shown = false; }

bool download_line(int slot, download_text_width width, char* label, size_t label_size,
                   const char** state) {
  if (state) *state = "";
  if (label && label_size) label[0] = 0;
  if (slot < 0 || slot >= DOWNLOAD_SLOTS || !slots[slot] || !slots[slot]->http) return false;
  download_request* r = slots[slot];
  if (label && label_size) {
    if (width && width(r->name) > 120)
      std::snprintf(label, label_size, "%.16s...:", r->name);
    else
      std::snprintf(label, label_size, "%s:", r->name);
  }
  if (state) *state = http_state(r->http);
  return true;
}
