#include "client/scene/sound.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <numbers>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "client/cache/download.h"
#include "client/cache/unzip.h"
#include "client/core/files.h"
#include "client/core/hash.h"
#include "client/core/log.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/scene/self.h"
#include "client/servers/attributes.h"
#include "client/ui/sound_backend.h"
#include "platform/clock.h"
#include "platform/progdir.h"

sound_hooks sound_hook = {};

struct sound_entry {
  int32_t wave;         // 1 wave file, 0 MIDI file
  int32_t present;      // the file is on disk
  int32_t from_server;  // 1 the object server's "sounds" folder, 0 a URL
  std::string path;
  std::string key;
  int limit = 0;  // KB of a URL sound, 0 none
  download_request* download = nullptr;
  sound_instance* instances = nullptr;
  uint32_t id = 0;  // what the download callback is given: an entry freed meanwhile is not found
};

namespace {

constexpr int kBuckets = 211;
constexpr uint32_t kPrefetchDelay = 30000;
// Keys longer than this (an object path and a name) are refused.
constexpr size_t kNameMax = 512;
constexpr double kFar = 1e10;

SoundBackend* chosen = nullptr;  // set by sound_set_backend
SoundBackend* out = nullptr;     // in use while available

bool available = false;
int effects_on = 1;
int music_on = 1;
uint32_t saved_wave = SOUND_VOLUME_FULL;
uint32_t saved_midi = SOUND_VOLUME_FULL;
bool effect_playing = false;
std::string effect_path;
std::deque<sound_entry*> effect_queue;
std::string loop_path;
std::string midi_path;
bool prefetch_pending = false;
uint32_t prefetch_due = 0;

hash_table* table = nullptr;
uint32_t next_id = 1;
std::unordered_map<uint32_t, sound_entry*> by_id;
std::unordered_set<sound_instance*> live;

bool trace() { return trace_switches[TRACE_SOUND] != 0; }

bool ends_with_ci(const char* ext, const char* want) {
  if (!ext) return false;
  for (; *ext && *want; ++ext, ++want) {
    char c = *ext;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != *want) return false;
  }
  return !*ext && !*want;
}

bool known_extension(const char* ext) { return ends_with_ci(ext, "wav") || ends_with_ci(ext, "mid"); }

bool starts_with_ci(const char* s, const char* prefix) {
  for (; *prefix; ++s, ++prefix) {
    char c = *s;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != *prefix) return false;
  }
  return true;
}

// MCI-style command strings: what the trace shows of each backend call.
int command(const char* text, int rc) {
  if (trace()) {
    log_write("mciSendString: %s", text);
    if (rc) log_write("mciSendString FAILED (%d): %s", rc, out->error_text(rc));
  }
  return rc;
}

int effect_open(const std::string& path) {
  char text[kNameMax + 64];
  std::snprintf(text, sizeof text, "open \"%s\" alias effect", path.c_str());
  return command(text, out->effect_open(path.c_str()));
}
int effect_play() { return command("play effect notify", out->effect_play()); }
void effect_close() { command("close effect", out->effect_close()); }

void loop_stop() {
  if (loop_path.empty()) return;
  out->loop_play(nullptr);
  loop_path.clear();
}

void midi_close() {
  if (midi_path.empty()) return;
  command("close midi", out->midi_close());
  midi_path.clear();
}

sound_entry* find_entry(const char* key) {
  if (!table) return nullptr;
  hash_entry* h = hash_find(table, std::strlen(key), key);
  return h ? *static_cast<sound_entry**>(hash_entry_data(h)) : nullptr;
}

void free_entry(sound_entry* e) {
  for (sound_instance* i = e->instances; i;) {
    sound_instance* next = i->next;
    live.erase(i);
    delete i;
    i = next;
  }
  delete e;
}

void free_table() {
  effect_queue.clear();
  by_id.clear();
  live.clear();
  if (!table) return;
  hash_for_each(table, [](void* data) { free_entry(*static_cast<sound_entry**>(data)); });
  hash_destroy(table);
  table = nullptr;
}

// [downloads] audio: 0 none, 1 no limit, 10 .. 999 a limit in KB.
int audio_option() {
  return sound_hook.dloptions_audio ? sound_hook.dloptions_audio() : dloptions_audio();
}

void own_position(float* x, float* y, float* z, float* yaw) {
  if (sound_hook.own_position) {
    sound_hook.own_position(x, y, z, yaw);
    return;
  }
  self_own_position(x, y, z, yaw);
}

uint32_t le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

bool read_at(int fd, off_t at, unsigned char* buffer, size_t n) {
  size_t got = 0;
  while (got < n) {
    ssize_t r = ::pread(fd, buffer + got, n - got, at + static_cast<off_t>(got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}

// A file on disk that may be handed to the output: a regular file (a FIFO would hold the
// window thread in open for as long as a writer liked) and, for a wave file, one the output
// converts in time. A refusal is told once, in the log, and the sound stays silent.
bool playable(const sound_entry* e) {
  std::string why;
  int fd = file_open_regular(e->path.c_str(), &why);
  if (fd < 0) {
    if (errno != ENOENT) log_note("sound: %s refused: %s", e->path.c_str(), why.c_str());
    return false;
  }
  bool fits = true;
  struct stat st {};
  if (e->wave) {
    fits = sound_wave_fits(fd, SOUND_OUTPUT_RATE, SOUND_OUTPUT_FRAME, &why);
  } else if (::fstat(fd, &st) == 0 && st.st_size > SOUND_MIDI_MAX) {
    fits = false;
    why = std::to_string(st.st_size >> 10) + " KB is more than the " + std::to_string(SOUND_MIDI_MAX >> 10) +
          " KB a MIDI file may take";
  }
  ::close(fd);
  if (!fits) log_note("sound: %s refused: %s", e->path.c_str(), why.c_str());
  return fits;
}

void sound_downloaded(void* user, int status, uint8_t* data, int size);

// Queues the entry's file (fetched whole when it is not on disk).
void request(sound_entry* e) {
  int cls = (e->wave ? effects_on : music_on) ? DOWNLOAD_CLASS_TEXTURES : DOWNLOAD_CLASS_QUIET;
  void* user = reinterpret_cast<void*>(static_cast<uintptr_t>(e->id));
  if (!e->download) {
    if (e->from_server) {
      char zip[kNameMax + 8];
      std::snprintf(zip, sizeof zip, "%s.zip", file_basename(e->key.c_str()));
      e->download = download_file("sounds", zip, cls, sound_downloaded, user);
    } else {
      e->download = download_url(e->key.c_str(), e->limit, sound_downloaded, user);
    }
  }
  if (!e->present) download_force(e->download);
}

// A present file that went (the disk limit deleted it) is asked for again when it is needed.
bool still_there(sound_entry* e) {
  if (file_is_regular(e->path.c_str())) return true;
  e->present = 0;
  request(e);
  return false;
}

void sound_downloaded(void* user, int status, uint8_t* data, int size) {
  auto found = by_id.find(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(user)));
  if (found == by_id.end()) return;  // the entry went with a reset
  sound_entry* e = found->second;
  e->download = nullptr;
  if (status == DOWNLOAD_ARRIVED) {
    if (trace()) log_write("sound download callback: %s", e->path.c_str());
    // The looping sound may read its file: it starts again from the new one.
    if (available && loop_path == e->path) loop_stop();
    int rc;
    if (!data || size <= 0)
      rc = 1;
    else if (e->from_server)
      rc = unzip_memory(data, static_cast<size_t>(size), e->path.c_str(), UNZIP_KIND_SOUND);
    else
      rc = file_store(e->path.c_str(), data, static_cast<size_t>(size));
    // A file that could not be unpacked or written is not there to be played.
    e->present = rc == 0 && playable(e) ? 1 : 0;
    if (rc && trace()) log_write("sound download failed for: %s", e->path.c_str());
  } else if (status == DOWNLOAD_FAILED) {
    if (trace()) log_write("sound download failed for: %s", e->path.c_str());
  }
}

// Opens and plays queued effects until one plays.
void play_queued() {
  while (!effect_queue.empty()) {
    sound_entry* e = effect_queue.front();
    effect_queue.pop_front();
    if (effect_open(e->path)) continue;
    if (effect_play()) {
      effect_close();
      continue;
    }
    effect_playing = true;
    effect_path = e->path;
    return;
  }
  effect_playing = false;
  effect_path.clear();
}

float pan_of(const sound_instance* i, float x, float z, float yaw) {
  if (i->x == x && i->z == z) return 0.0f;
  return static_cast<float>(0.1 * std::sin(std::atan2(static_cast<double>(i->x) - x,
                                                      static_cast<double>(i->z) - z) -
                                           yaw * std::numbers::pi / 180.0));
}

uint32_t wave_volume_at(double d, double p) {
  double high_level = static_cast<double>(saved_wave >> 16) * 20.0 / (d + 20.0);
  double low_level = static_cast<double>(saved_wave & 0xFFFFu) * 20.0 / (d + 20.0);
  uint32_t high = static_cast<uint32_t>((0.9 - p) * high_level) & 0xFFFFu;
  uint32_t low = static_cast<uint32_t>((p + 0.9) * low_level) & 0xFFFFu;
  return high << 16 | low;
}

uint32_t midi_volume_at(double d, double p) {
  uint16_t a = static_cast<uint16_t>(static_cast<int32_t>(1310700.0 / (d + 20.0)));
  uint32_t high = static_cast<uint32_t>(a * (0.9 - p)) & 0xFFFFu;
  uint32_t low = static_cast<uint32_t>(a * (p + 0.9)) & 0xFFFFu;
  return high << 16 | low;
}

}  // namespace

bool sound_wave_fits(int fd, int out_rate, int out_frame_bytes, std::string* why) {
  auto refuse = [why](const std::string& text) {
    if (why) *why = text;
    return false;
  };
  unsigned char head[16];
  if (!read_at(fd, 0, head, 12) || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0)
    return refuse("it is not a wave file");
  // The chunks in any order, a bounded number of them.
  bool have_format = false, have_data = false;
  uint16_t channels = 0, bits = 0;
  uint32_t rate = 0, data = 0;
  off_t at = 12;
  for (int chunk = 0; chunk < 64 && !(have_format && have_data); ++chunk) {
    if (!read_at(fd, at, head, 8)) break;
    uint32_t length = le32(head + 4);
    if (std::memcmp(head, "fmt ", 4) == 0) {
      if (length < 16 || !read_at(fd, at + 8, head, 16)) return refuse("its format is damaged");
      channels = le16(head + 2);
      rate = le32(head + 4);
      bits = le16(head + 14);
      have_format = true;
    } else if (std::memcmp(head, "data", 4) == 0) {
      data = length;
      have_data = true;
    }
    at += 8 + static_cast<off_t>(length) + (length & 1);
  }
  if (!have_format || !have_data) return refuse("it names no format or no samples");
  if (rate < SOUND_RATE_MIN || rate > SOUND_RATE_MAX)
    return refuse("a rate of " + std::to_string(rate) + " Hz, which no sound card plays");
  if (!channels || !bits) return refuse("its samples have no size");
  if (out_rate <= 0 || out_frame_bytes <= 0) return refuse("the output has no format");
  // What the header declares is what the output would make of it, whatever the file holds.
  uint64_t frames = static_cast<uint64_t>(data) * 8 / (static_cast<uint64_t>(bits) * channels);
  uint64_t converted = (frames * static_cast<uint64_t>(out_rate) + rate - 1) / rate * static_cast<uint64_t>(out_frame_bytes);
  const bool resampled = rate != static_cast<uint32_t>(out_rate);
  uint64_t cap = resampled ? SOUND_RESAMPLED_MAX : SOUND_CONVERTED_MAX;
  if (resampled && frames > SOUND_RESAMPLED_INPUT_MAX)
    return refuse(std::to_string(frames >> 10) + " K frames to resample is more than the " +
                  std::to_string(SOUND_RESAMPLED_INPUT_MAX >> 10) + " K a sound may have");
  if (data > SOUND_CONVERTED_MAX || converted > cap)
    return refuse(std::to_string(converted >> 10) + " KB converted is more than the " + std::to_string(cap >> 10) +
                  " KB a sound may take");
  return true;
}

bool sound_name(const char* name, char* buffer, size_t size, bool* url) {
  if (url) *url = false;
  if (!buffer || !size) return false;
  buffer[0] = 0;
  if (!name || !name[0]) return false;
  const char* dot = std::strrchr(name, '.');
  int n;
  if (std::strchr(name, '/')) {
    // A URL sound must name its kind.
    if (!dot || std::strchr(dot, '/') || !known_extension(dot + 1)) return false;
    if (name[0] == '/') {
      const char* base = attribute_get(ATTR_OBJECT_PATH);
      n = std::snprintf(buffer, size, "%s%s", base ? base : "", name);
    } else {
      n = std::snprintf(buffer, size, "%s", starts_with_ci(name, "http://") ? name + 7 : name);
    }
    if (n < 0 || static_cast<size_t>(n) >= size) {
      buffer[0] = 0;
      return false;
    }
    if (url) *url = true;
    return true;
  }
  // A server sound names a file of the sounds folder: a '\' would lead out of it.
  if (std::strchr(name, '\\')) return false;
  if (!dot) {
    n = std::snprintf(buffer, size, "%s.wav", name);
  } else {
    if (!known_extension(dot + 1)) return false;
    n = std::snprintf(buffer, size, "%s", name);
    for (char* c = buffer; *c; ++c)
      if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c - 'A' + 'a');
  }
  if (n < 0 || static_cast<size_t>(n) >= size) {
    buffer[0] = 0;
    return false;
  }
  return true;
}

void sound_set_backend(SoundBackend* backend) { chosen = backend; }
SoundBackend* sound_backend() { return out ? out : chosen; }

int sound_init() {
  if (trace()) log_write("sound_init");
  // The general settings switch the two kinds (they also arrive through sound_set_*).
  effects_on = general_sound() != 0;
  music_on = general_music() != 0;
  if (available) return 0;
  SoundBackend* b = chosen ? chosen : sound_sdl_backend();
  if (!b) return SOUND_NO_DEVICE;
  if (b->wave_devices() <= 0) {
    if (trace()) log_write("waveOutGetNumDevs FAILED: %d", b->last_error());
    b->close();
    return SOUND_NO_DEVICE;
  }
  if (b->midi_devices() <= 0) {
    if (trace()) log_write("midiOutGetNumDevs FAILED: %d", b->last_error());
    b->close();
    return SOUND_NO_DEVICE;
  }
  table = hash_create(kBuckets);
  if (!table) {
    b->close();
    return SOUND_NO_MEMORY;
  }
  out = b;
  saved_wave = out->wave_volume();
  saved_midi = out->midi_volume();
  available = true;
  return 0;
}

void sound_term() {
  if (trace()) log_write("sound_term");
  if (available) {
    if (effect_playing) effect_close();
    effect_playing = false;
    effect_path.clear();
    loop_stop();
    midi_close();
    out->set_wave_volume(saved_wave);
    out->set_midi_volume(saved_midi);
    out->close();
  }
  free_table();
  available = false;
  out = nullptr;
  prefetch_pending = false;
}

void sound_reset() {
  if (trace()) log_write("sound_reset");
  if (!available) return;
  free_table();
  table = hash_create(kBuckets);
  prefetch_pending = true;
  prefetch_due = platform_ticks() + kPrefetchDelay;
}

void sound_download(const char* name) {
  if (trace()) log_write("sound_download (%s)", name ? name : "");
  if (!available || !table) return;
  char key[kNameMax];
  bool url = false;
  if (!sound_name(name, key, sizeof key, &url)) return;
  int limit = 0;
  if (url) {
    int audio = audio_option();
    if (audio == 0) return;
    limit = audio == 1 ? 0 : audio;
  }
  int found = 0;
  hash_entry* h = hash_find_or_add(table, std::strlen(key), key, sizeof(sound_entry*), &found);
  if (!h) return;
  if (found) {
    download_reference((*static_cast<sound_entry**>(hash_entry_data(h)))->download);
    return;
  }
  auto* e = new sound_entry;
  *static_cast<sound_entry**>(hash_entry_data(h)) = e;
  const char* dot = std::strrchr(key, '.');
  e->wave = ends_with_ci(dot ? dot + 1 : nullptr, "mid") ? 0 : 1;
  e->from_server = url ? 0 : 1;
  e->id = next_id++;
  if (!e->id) e->id = next_id++;
  by_id[e->id] = e;
  e->key = key;
  e->limit = limit;
  if (!url) {
    e->path = std::string(download_get_path()) + "/sounds/" + name;
  } else {
    char* file = file_name_from_url(key);
    e->path = platform_program_dir() + "/cache/art/misc/" + (file ? file : "");
    std::free(file);
  }
  e->present = playable(e) ? 1 : 0;
  file_touch(e->path.c_str());
  request(e);
}

sound_instance* sound_create(const char* name, float x, float y, float z) {
  if (trace()) log_write("sound_create (%s)", name ? name : "");
  if (!available) return nullptr;
  char key[kNameMax];
  if (!sound_name(name, key, sizeof key, nullptr)) return nullptr;
  sound_entry* e = find_entry(key);
  if (!e) return nullptr;
  auto* i = new sound_instance{e->instances, e, x, y, z};
  e->instances = i;
  live.insert(i);
  return i;
}

void sound_destroy(sound_instance* instance) {
  if (!instance) return;
  // One that a reset already freed is not touched again.
  if (!live.count(instance)) return;
  sound_entry* e = instance->entry;
  if (trace()) log_write("sound_destroy: %s", e->path.c_str());
  download_dereference(e->download);
  for (sound_instance** link = &e->instances; *link; link = &(*link)->next) {
    if (*link == instance) {
      *link = instance->next;
      break;
    }
  }
  live.erase(instance);
  delete instance;
}

void sound_effect(const char* name) {
  if (trace()) log_write("sound_effect (%s)", name ? name : "");
  if (!available || !effects_on) return;
  char key[kNameMax];
  if (!sound_name(name, key, sizeof key, nullptr)) return;
  sound_entry* e = find_entry(key);
  if (!e) {
    sound_download(name);
    e = find_entry(key);
    if (!e) return;
  }
  if (!e->present || !still_there(e)) return;
  file_touch(e->path.c_str());
  if (effect_playing) {
    if (e->path == effect_path) return;
    if (effect_queue.empty() || effect_queue.back() != e) effect_queue.push_back(e);
    return;
  }
  if (effect_open(e->path)) return;
  loop_stop();
  out->set_wave_volume(saved_wave);
  if (effect_play()) {
    effect_close();
    return;
  }
  effect_playing = true;
  effect_path = e->path;
}

void sound_handler() {
  if (trace()) log_write("sound_handler");
  if (!available) return;
  effect_close();
  play_queued();
}

void sound_set_effects(int on) {
  effects_on = on ? 1 : 0;
  if (available && !effects_on) loop_stop();
}

void sound_set_music(int on) {
  music_on = on ? 1 : 0;
  if (available && !music_on) midi_close();
}

void sound_update() {
  if (trace_frames()) log_write("sound_update");
  if (!available) return;
  if (effect_playing && out->effect_finished()) sound_handler();
  if (prefetch_pending && !tick_before(platform_ticks(), prefetch_due)) {
    prefetch_pending = false;
    sound_download("deport1.wav");
    sound_download("warp1.wav");
  }
  if ((!effects_on && !music_on) || effect_playing || !table) return;

  float x = 0, y = 0, z = 0, yaw = 0;
  own_position(&x, &y, &z, &yaw);
  sound_instance* near_wave = nullptr;
  sound_instance* near_midi = nullptr;
  double wave_d = kFar, midi_d = kFar;
  hash_for_each(table, [&](void* data) {
    sound_entry* e = *static_cast<sound_entry**>(data);
    if (!e->present || !(e->wave ? effects_on : music_on)) return;
    for (sound_instance* i = e->instances; i; i = i->next) {
      double dx = static_cast<double>(i->x) - x, dy = static_cast<double>(i->y) - y,
             dz = static_cast<double>(i->z) - z;
      double d = dx * dx + dy * dy + dz * dz;
      if (e->wave && d < wave_d) {
        wave_d = d;
        near_wave = i;
      } else if (!e->wave && d < midi_d) {
        midi_d = d;
        near_midi = i;
      }
    }
  });

  // One whose file went is not opened: it comes again with its download.
  if (near_wave && near_wave->entry->path != loop_path && !still_there(near_wave->entry)) near_wave = nullptr;
  if (near_midi && near_midi->entry->path != midi_path && !still_there(near_midi->entry)) near_midi = nullptr;
  if (near_wave) {
    const std::string& path = near_wave->entry->path;
    if (path != loop_path) {
      loop_path = path;
      out->loop_play(path.c_str());
    }
    out->set_wave_volume(wave_volume_at(wave_d, pan_of(near_wave, x, z, yaw)));
  } else {
    loop_stop();
  }

  if (near_midi) {
    const std::string& path = near_midi->entry->path;
    if (path != midi_path) {
      midi_close();
      midi_path = path;
      char text[kNameMax + 64];
      std::snprintf(text, sizeof text, "open \"%s\" alias midi", path.c_str());
      if (!command(text, out->midi_open(path.c_str()))) command("play midi", out->midi_play());
    }
    out->set_midi_volume(midi_volume_at(midi_d, pan_of(near_midi, x, z, yaw)));
  }
}

bool sound_available() { return available; }
int sound_effects_on() { return effects_on; }
int sound_music_on() { return music_on; }
bool sound_effect_playing() { return effect_playing; }
int sound_queue_length() { return static_cast<int>(effect_queue.size()); }
const char* sound_loop_path() { return loop_path.c_str(); }
const char* sound_midi_path() { return midi_path.c_str(); }

const char* sound_entry_path(const char* name) {
  char key[kNameMax];
  if (!sound_name(name, key, sizeof key, nullptr)) return nullptr;
  sound_entry* e = find_entry(key);
  return e ? e->path.c_str() : nullptr;
}

bool sound_entry_present(const char* name) {
  char key[kNameMax];
  if (!sound_name(name, key, sizeof key, nullptr)) return false;
  sound_entry* e = find_entry(key);
  return e && e->present;
}

int sound_entry_count() { return table ? table->count : 0; }
