#pragma once
// Sound effects, object sounds and music. Objects attach looping sounds to their positions
// ("sound": a wave file, or a MIDI file as music) and play effects once ("noise"). Of all
// attached sounds only the nearest wave sound and the nearest MIDI sound are heard, their
// volume falling with the squared distance and panned a little toward their side. Files come
// from the object server's "sounds" folder (zip archives) or from a URL, through the download
// queue, and are kept on disk. Output goes through a SoundBackend (SDL2_mixer by default).
// Window thread only. Everything but sound_init does nothing while no device is available.
#include <cstddef>
#include <cstdint>
#include <string>

class SoundBackend;
struct sound_entry;

// An attached sound, as handed to its owner (an element).
struct sound_instance {
  sound_instance* next;
  sound_entry* entry;
  float x, y, z;
};

enum {
  SOUND_NO_MEMORY = 400,  // the table cannot be made
  SOUND_NO_DEVICE = 412,  // no wave or no MIDI output
};

// Start-up: 0, SOUND_NO_DEVICE or SOUND_NO_MEMORY. Reads [general] sound and music.
// Uses the backend set with sound_set_backend, else the SDL2_mixer one.
int sound_init();
// Closes what plays, restores the volumes found at start, frees the table.
void sound_term();
// New world: every entry, instance and queued effect goes; the built-in effects are fetched
// again 30 s later.
void sound_reset();
// Task "sound".
void sound_update();

// Prepares a sound (the action language's check of "sound" and "noise").
void sound_download(const char* name);
// An attached sound at a position; needs an entry made by sound_download. Null when none.
sound_instance* sound_create(const char* name, float x, float y, float z);
// Null is ignored.
void sound_destroy(sound_instance* instance);
// Plays a wave file once (queued while another effect plays).
void sound_effect(const char* name);
// Switching effects off stops the looping wave sound; music off closes the MIDI file.
void sound_set_effects(int on);
void sound_set_music(int on);
// A playing effect ended: the next queued one starts. sound_update calls it when the backend
// reports the end.
void sound_handler();

// Every wave file is converted whole, on the window thread, to the output's rate and frame
// (44.1 kHz, two 16-bit channels, unless the device asked for another). A file is handed over
// only when its rate is one a sound card plays and its converted size stays under the caps:
// resampling costs some 40 ns an output frame on a current desktop, so 8 MiB of it is about 80 ms; a copy at the
// same rate is cheap and only its memory counts.
constexpr int SOUND_OUTPUT_RATE = 44100;
constexpr int SOUND_OUTPUT_FRAME = 4;  // bytes of one output frame
constexpr uint32_t SOUND_RATE_MIN = 4000;
constexpr uint32_t SOUND_RATE_MAX = 192000;
constexpr uint64_t SOUND_RESAMPLED_MAX = 8u << 20;
constexpr uint64_t SOUND_CONVERTED_MAX = 32u << 20;
// Resampling reads every input frame too: a fast rate's frames are capped as well.
constexpr uint64_t SOUND_RESAMPLED_INPUT_MAX = 2u << 20;
// A MIDI file is read and rendered ready to play whole when it opens: real tunes are a few
// tens of kilobytes.
constexpr int64_t SOUND_MIDI_MAX = 1 << 20;
// Reads the wave header of an open file (without moving its offset): true when the output may
// convert it; else why (may be null) says what is wrong with it.
bool sound_wave_fits(int fd, int out_rate, int out_frame_bytes, std::string* why);

// The table key of a sound name into out (size bytes): false when the name has none.
// url (may be null) is set to true for a URL sound (a name with '/').
bool sound_name(const char* name, char* out, size_t size, bool* url);

// The output in use; set before sound_init (tests pass a recorder). Null = the SDL2_mixer one.
// The module does not own it.
void sound_set_backend(SoundBackend* backend);
SoundBackend* sound_backend();

// Modules the sound calls, filled by their own init; a null entry takes the
// fall-back named.
struct sound_hooks {
  // [downloads] audio as the settings module keeps it (fall-back: read from tessel.ini with
  // its default 150, 0 when [performance] urls is 0; 0, 1 or 10 .. 999, else 150).
  int (*dloptions_audio)();
  // Own position and yaw in degrees (fall-back: the self module).
  void (*own_position)(float* x, float* y, float* z, float* yaw);
};
extern sound_hooks sound_hook;

// State, for tests and the settings page.
bool sound_available();
int sound_effects_on();
int sound_music_on();
bool sound_effect_playing();
// Entries waiting for their effect turn.
int sound_queue_length();
// The looping wave sound and the open MIDI file ("" when none).
const char* sound_loop_path();
const char* sound_midi_path();
// An entry's file and whether it is on disk (by the name as sound_name keys it).
const char* sound_entry_path(const char* name);
bool sound_entry_present(const char* name);
int sound_entry_count();
