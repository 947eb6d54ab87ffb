#include "client/ui/sound_sdl.h"

#include <SDL.h>
#include <SDL_mixer.h>
#include <alsa/asoundlib.h>
#include <sys/stat.h>

#include <cstdarg>
#include <mutex>
#include <thread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "client/core/files.h"
#include "client/core/log.h"
#include "client/scene/sound.h"

namespace {

// The sound library names every device it tried and could not open on stderr; on a machine
// without a sound card that is a screenful at each start. Those reasons belong in the trace
// log. The log is the window thread's: lines from the mixer's own threads wait in a short
// queue until the window thread next calls the backend.
std::thread::id sound_thread;
std::mutex pending_mutex;
std::vector<std::string> pending_lines;
constexpr size_t kPendingMax = 200;

void drain_library_lines() {
  std::vector<std::string> lines;
  {
    std::lock_guard<std::mutex> lock(pending_mutex);
    lines.swap(pending_lines);
  }
  for (const std::string& l : lines) log_write("sound: %s", l.c_str());
}

void sound_library_error(const char* file, int line, const char* function, int err, const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  char whole[768];
  std::snprintf(whole, sizeof whole, "%s:%d (%s) %s%s%s", file, line, function, text, err ? ": " : "",
                err ? snd_strerror(err) : "");
  if (std::this_thread::get_id() == sound_thread) {
    drain_library_lines();
    log_write("sound: %s", whole);
    return;
  }
  std::lock_guard<std::mutex> lock(pending_mutex);
  if (pending_lines.size() < kPendingMax) pending_lines.emplace_back(whole);
}

constexpr int kEffectChannel = 0;
constexpr int kLoopChannel = 1;

std::atomic<int> loads{0};

// Which file a loaded sound came from: the same path with the same file behind it needs no
// second load.
struct FileId {
  std::string path;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = -1;
  timespec mtime{};
  bool same(const FileId& o) const {
    return !path.empty() && path == o.path && dev == o.dev && ino == o.ino && size == o.size &&
           mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
  }
};

FileId id_of(const char* path, const struct stat& st) {
  return FileId{path, st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

// The file at path as it stands now (an empty id when it cannot be examined).
FileId id_now(const char* path) {
  struct stat st {};
  if (!path || ::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return FileId{};
  return id_of(path, st);
}

enum { ERR_OPEN = 1, ERR_PLAY = 2, ERR_NOT_OPEN = 3 };

// Set on the audio thread when the effect channel ends; read on the window thread.
std::atomic<bool> effect_done{false};

void SDLCALL channel_done(int channel) {
  if (channel == kEffectChannel) effect_done = true;
}

class SdlSound : public SoundBackend {
 public:
  int wave_devices() override {
    int n = open() ? 1 : 0;
    drain_library_lines();
    return n;
  }

  int midi_devices() override {
    if (!open()) return 0;
    if (Mix_HasMusicDecoder("MIDI")) return 1;
    error_ = 0;
    message_ = "no MIDI decoder";
    return 0;
  }

  int last_error() override { return error_; }

  void close() override {
    drain_library_lines();
    if (!opened_) return;
    halt_effect();
    free_chunk(effect_);
    loop_play(nullptr);
    free_chunk(spare_loop_);
    midi_close();
    free_spare_music();
    Mix_ChannelFinished(nullptr);
    Mix_CloseAudio();
    Mix_Quit();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    opened_ = false;
  }

  uint32_t wave_volume() override { return wave_; }

  void set_wave_volume(uint32_t v) override {
    wave_ = v;
    if (!opened_) return;
    // The two 16-bit levels become the mixer's 8-bit panning levels of both wave channels.
    Uint8 left = static_cast<Uint8>((v & 0xFFFFu) >> 8);
    Uint8 right = static_cast<Uint8>(v >> 24);
    Mix_SetPanning(kEffectChannel, left, right);
    Mix_SetPanning(kLoopChannel, left, right);
  }

  uint32_t midi_volume() override { return midi_; }

  void set_midi_volume(uint32_t v) override {
    midi_ = v;
    if (!opened_) return;
    // Music has one level: the louder channel's.
    uint32_t level = std::max(v & 0xFFFFu, v >> 16);
    Mix_VolumeMusic(static_cast<int>(level * MIX_MAX_VOLUME / 0xFFFFu));
  }

  int effect_open(const char* path) override {
    drain_library_lines();
    if (!opened_) return fail(ERR_NOT_OPEN, "no audio output");
    if (effect_) return fail(ERR_OPEN, "an effect is open");
    effect_ = load(path);
    return effect_ ? 0 : error_;
  }

  int effect_play() override {
    drain_library_lines();
    if (!effect_) return fail(ERR_NOT_OPEN, "no effect is open");
    effect_done = false;
    if (Mix_PlayChannel(kEffectChannel, effect_, 0) < 0) return fail(ERR_PLAY, Mix_GetError());
    return 0;
  }

  int effect_close() override {
    halt_effect();
    free_chunk(effect_);
    return 0;
  }

  bool effect_finished() override {
    drain_library_lines();
    return effect_done.exchange(false);
  }

  // A MIDI file is read whole into memory, so that a new download may replace it while it
  // plays. The tune closed last is kept: the nearest tune swapping back to it opens nothing.
  int midi_open(const char* path) override {
    drain_library_lines();
    if (!opened_) return fail(ERR_NOT_OPEN, "no audio output");
    if (spare_music_ && spare_music_id_.same(id_now(path))) {
      if (music_) Mix_HaltMusic();
      std::swap(music_, spare_music_);
      std::swap(music_id_, spare_music_id_);
      midi_data_.swap(spare_midi_data_);
      return 0;
    }
    midi_close();
    std::string why = "the file cannot be opened";
    std::FILE* f = file_fopen_regular(path, &why);
    if (!f) return fail(ERR_OPEN, why.c_str());
    struct stat st {};
    if (::fstat(fileno(f), &st) != 0 || st.st_size > SOUND_MIDI_MAX) {
      std::fclose(f);
      return fail(ERR_OPEN, "the file is larger than a MIDI file may be");
    }
    std::vector<unsigned char> data(static_cast<size_t>(st.st_size));
    size_t n = data.empty() ? 0 : std::fread(data.data(), 1, data.size(), f);
    std::fclose(f);
    data.resize(n);
    if (data.empty()) return fail(ERR_OPEN, "the file is empty");
    ++loads;
    midi_data_.swap(data);
    SDL_RWops* rw = SDL_RWFromConstMem(midi_data_.data(), static_cast<int>(midi_data_.size()));
    music_ = rw ? Mix_LoadMUS_RW(rw, 1) : nullptr;
    if (!music_) {
      midi_data_.clear();
      return fail(ERR_OPEN, Mix_GetError());
    }
    music_id_ = id_of(path, st);
    return 0;
  }

  int midi_play() override {
    if (!music_) return fail(ERR_NOT_OPEN, "no MIDI file is open");
    if (Mix_PlayMusic(music_, 1) < 0) return fail(ERR_PLAY, Mix_GetError());
    return 0;
  }

  int midi_close() override {
    if (music_) {
      Mix_HaltMusic();
      free_spare_music();
      spare_music_ = music_;
      spare_music_id_ = music_id_;
      spare_midi_data_.swap(midi_data_);
      music_ = nullptr;
    }
    midi_data_.clear();
    return 0;
  }

  // The loop stopped last is kept likewise.
  void loop_play(const char* path) override {
    drain_library_lines();
    if (!opened_) return;
    Mix_HaltChannel(kLoopChannel);
    if (path && spare_loop_ && spare_loop_id_.same(id_now(path))) {
      std::swap(loop_, spare_loop_);
      std::swap(loop_id_, spare_loop_id_);
    } else {
      if (loop_) {
        free_chunk(spare_loop_);
        spare_loop_ = loop_;
        spare_loop_id_ = loop_id_;
        loop_ = nullptr;
      }
      if (!path) return;
      loop_ = load(path, &loop_id_);
    }
    if (loop_ && Mix_PlayChannel(kLoopChannel, loop_, -1) < 0) free_chunk(loop_);
  }

  const char* error_text(int code) override { return message_.c_str(); }

 private:
  bool open() {
    if (opened_) return true;
    // The soundfont must be named before the music decoders start.
    const char* font = sound_sdl_soundfont();
    if (font[0]) Mix_SetSoundFonts(font);
    if (file_is_regular("/etc/timidity/timgm6mb.cfg")) Mix_SetTimidityCfg("/etc/timidity/timgm6mb.cfg");
    // SDL would otherwise take SIGINT and SIGTERM for an event queue nobody reads; the
    // program handles them itself.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    sound_thread = std::this_thread::get_id();
    snd_lib_error_set_handler(sound_library_error);
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) < 0) {
      fail(ERR_OPEN, SDL_GetError());
      return false;
    }
    Mix_Init(MIX_INIT_MID);
    if (Mix_OpenAudio(SOUND_OUTPUT_RATE, MIX_DEFAULT_FORMAT, 2, 2048) < 0) {
      fail(ERR_OPEN, Mix_GetError());
      Mix_Quit();
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return false;
    }
    Mix_AllocateChannels(2);
    effect_done = false;
    Mix_ChannelFinished(channel_done);
    opened_ = true;
    set_wave_volume(wave_);
    set_midi_volume(midi_);
    return true;
  }

  // Only a regular file is opened (a FIFO would hold the window thread in open), and only a
  // wave file the mixer converts in time is given to it: the mixer converts the whole file to
  // the output's format at once, on this thread.
  Mix_Chunk* load(const char* path, FileId* id = nullptr) {
    std::string why = "the file cannot be opened";
    std::FILE* f = file_fopen_regular(path, &why);
    if (!f) {
      fail(ERR_OPEN, why.c_str());
      return nullptr;
    }
    int rate = 0, channels = 0;
    Uint16 format = 0;
    Mix_QuerySpec(&rate, &format, &channels);
    if (!sound_wave_fits(fileno(f), rate, SDL_AUDIO_BITSIZE(format) / 8 * channels, &why)) {
      std::fclose(f);
      fail(ERR_OPEN, why.c_str());
      return nullptr;
    }
    struct stat st {};
    if (id) *id = ::fstat(fileno(f), &st) == 0 ? id_of(path, st) : FileId{};
    ++loads;
    SDL_RWops* rw = SDL_RWFromFP(f, SDL_TRUE);
    if (!rw) {
      std::fclose(f);
      fail(ERR_OPEN, SDL_GetError());
      return nullptr;
    }
    Mix_Chunk* chunk = Mix_LoadWAV_RW(rw, 1);
    if (!chunk) fail(ERR_OPEN, Mix_GetError());
    return chunk;
  }

  void halt_effect() {
    if (!opened_) return;
    Mix_HaltChannel(kEffectChannel);
    // Halting runs the end notice too: it is not an end by itself.
    effect_done = false;
  }

  void free_chunk(Mix_Chunk*& chunk) {
    if (chunk) Mix_FreeChunk(chunk);
    chunk = nullptr;
  }

  void free_spare_music() {
    if (spare_music_) Mix_FreeMusic(spare_music_);
    spare_music_ = nullptr;
    spare_midi_data_.clear();
  }

  int fail(int code, const char* text) {
    error_ = code;
    message_ = text ? text : "";
    return code;
  }

  bool opened_ = false;
  int error_ = 0;
  std::string message_;
  uint32_t wave_ = SOUND_VOLUME_FULL;
  uint32_t midi_ = SOUND_VOLUME_FULL;
  Mix_Chunk* effect_ = nullptr;
  Mix_Chunk* loop_ = nullptr;
  Mix_Music* music_ = nullptr;
  std::vector<unsigned char> midi_data_;
  FileId loop_id_, music_id_;
  // The loop and the tune closed last, kept for a swap back.
  Mix_Chunk* spare_loop_ = nullptr;
  FileId spare_loop_id_;
  Mix_Music* spare_music_ = nullptr;
  std::vector<unsigned char> spare_midi_data_;
  FileId spare_music_id_;
};

}  // namespace

const char* sound_sdl_soundfont() {
  static std::string font;
  const char* env = std::getenv("SDL_SOUNDFONTS");
  if (env && env[0]) {
    font = env;
    return font.c_str();
  }
  for (const char* path : {"/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2"}) {
    if (file_is_regular(path)) {
      font = path;
      return font.c_str();
    }
  }
  font.clear();
  return font.c_str();
}

int sound_sdl_loads() { return loads; }

SoundBackend* sound_sdl_backend() {
  static SdlSound backend;
  return &backend;
}
