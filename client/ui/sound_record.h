#pragma once
// A sound output that plays nothing and writes down every call, for tests of the sound module
// and of the modules that play sounds. Device counts and failures are set by the test; the
// end of an effect is announced with finish_effect.
#include <set>
#include <string>
#include <vector>

#include "client/ui/sound_backend.h"

class SoundRecorder : public SoundBackend {
 public:
  // Calls in order, e.g. "effect_open /x/a.wav", "effect_play", "loop_play /x/b.wav",
  // "loop_stop", "midi_open ...", "midi_play", "midi_close", "close". Volume changes are
  // kept apart (below), not in this list.
  std::vector<std::string> calls;
  std::vector<uint32_t> wave_volumes;  // every set_wave_volume
  std::vector<uint32_t> midi_volumes;  // every set_midi_volume

  int waves = 1, midis = 1;
  uint32_t wave_level = SOUND_VOLUME_FULL, midi_level = SOUND_VOLUME_FULL;
  std::set<std::string> fail_open;  // paths whose effect_open / midi_open fail
  std::set<std::string> fail_play;  // paths whose effect_play / midi_play fail

  // The effect now open ("" none) and whether it plays.
  std::string effect;
  bool effect_plays = false;
  std::string loop;   // the looping sound ("" none)
  std::string music;  // the open MIDI file ("" none)

  // The playing effect ends by itself; the next sound_update hears of it.
  void finish_effect();
  // How many calls start with this text.
  int count(const std::string& prefix) const;
  void clear();

  int wave_devices() override;
  int midi_devices() override;
  int last_error() override;
  void close() override;
  uint32_t wave_volume() override;
  void set_wave_volume(uint32_t volume) override;
  uint32_t midi_volume() override;
  void set_midi_volume(uint32_t volume) override;
  int effect_open(const char* path) override;
  int effect_play() override;
  int effect_close() override;
  bool effect_finished() override;
  int midi_open(const char* path) override;
  int midi_play() override;
  int midi_close() override;
  void loop_play(const char* path) override;
  const char* error_text(int code) override;

 private:
  // Opens path into the slot (effect or music), writing the call down.
  int open(const char* call, const char* path, std::string& slot);
  bool finished_ = false;
};
