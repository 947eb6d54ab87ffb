#include "client/ui/sound_record.h"

void SoundRecorder::finish_effect() {
  if (effect_plays) finished_ = true;
  effect_plays = false;
}

int SoundRecorder::count(const std::string& prefix) const {
  int n = 0;
  for (const auto& c : calls)
    if (c.compare(0, prefix.size(), prefix) == 0) ++n;
  return n;
}

void SoundRecorder::clear() {
  calls.clear();
  wave_volumes.clear();
  midi_volumes.clear();
}

int SoundRecorder::wave_devices() { return waves; }
int SoundRecorder::midi_devices() { return midis; }
int SoundRecorder::last_error() { return 0; }

void SoundRecorder::close() {
  calls.push_back("close");
  effect.clear();
  effect_plays = false;
  finished_ = false;
  loop.clear();
  music.clear();
}

uint32_t SoundRecorder::wave_volume() { return wave_level; }
void SoundRecorder::set_wave_volume(uint32_t v) {
  wave_level = v;
  wave_volumes.push_back(v);
}
uint32_t SoundRecorder::midi_volume() { return midi_level; }
void SoundRecorder::set_midi_volume(uint32_t v) {
  midi_level = v;
  midi_volumes.push_back(v);
}

// One file a slot at a time, as the real outputs have.
int SoundRecorder::open(const char* call, const char* path, std::string& slot) {
  calls.push_back(std::string(call) + " " + path);
  if (!slot.empty() || fail_open.count(path)) return 263;
  slot = path;
  return 0;
}

int SoundRecorder::effect_open(const char* path) { return open("effect_open", path, effect); }

int SoundRecorder::effect_play() {
  calls.push_back("effect_play");
  if (effect.empty() || fail_play.count(effect)) return 275;
  effect_plays = true;
  finished_ = false;
  return 0;
}

int SoundRecorder::effect_close() {
  calls.push_back("effect_close");
  effect.clear();
  effect_plays = false;
  finished_ = false;
  return 0;
}

bool SoundRecorder::effect_finished() {
  bool f = finished_;
  finished_ = false;
  return f;
}

int SoundRecorder::midi_open(const char* path) { return open("midi_open", path, music); }

int SoundRecorder::midi_play() {
  calls.push_back("midi_play");
  return music.empty() || fail_play.count(music) ? 275 : 0;
}

int SoundRecorder::midi_close() {
  calls.push_back("midi_close");
  music.clear();
  return 0;
}

void SoundRecorder::loop_play(const char* path) {
  calls.push_back(path ? std::string("loop_play ") + path : std::string("loop_stop"));
  loop = path ? path : "";
}

const char* SoundRecorder::error_text(int code) {
  return code == 263 ? "the file cannot be opened" : "the file cannot be played";
}
