#pragma once
// What the sound module needs of an audio output: one effect at a time with an end notice,
// one looping wave sound, one MIDI file, and two volumes. Calls that can fail return 0 on
// success, else a code that error_text explains. Window thread only.
#include <cstdint>

// Volumes are two 16-bit channel levels in one word: low word left, high word right.
constexpr uint32_t SOUND_VOLUME_FULL = 0xFFFFFFFFu;

class SoundBackend {
 public:
  virtual ~SoundBackend() = default;

  // Output devices of each kind (0 when none; the output is opened on the first ask).
  virtual int wave_devices() = 0;
  virtual int midi_devices() = 0;
  // Why the last device count was 0 (0 when unknown).
  virtual int last_error() = 0;
  // Closes every output (after sound_term).
  virtual void close() = 0;

  virtual uint32_t wave_volume() = 0;
  virtual void set_wave_volume(uint32_t volume) = 0;
  virtual uint32_t midi_volume() = 0;
  virtual void set_midi_volume(uint32_t volume) = 0;

  // The effect: open a file, play it once (effect_finished turns true once when it ends by
  // itself), close it.
  virtual int effect_open(const char* path) = 0;
  virtual int effect_play() = 0;
  virtual int effect_close() = 0;
  virtual bool effect_finished() = 0;

  // The music: open a MIDI file, play it, close it.
  virtual int midi_open(const char* path) = 0;
  virtual int midi_play() = 0;
  virtual int midi_close() = 0;

  // The looping wave sound: a path starts it in a loop (replacing the one playing); null
  // stops it.
  virtual void loop_play(const char* path) = 0;

  // Text of a failure code (valid until the next call).
  virtual const char* error_text(int code) = 0;
};

// The SDL2_mixer output (sound_sdl.cpp); one per process, made on the first call.
SoundBackend* sound_sdl_backend();
