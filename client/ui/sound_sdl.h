#pragma once
// The SDL2_mixer sound output: wave files through mixer channels (channel 0 the effect,
// channel 1 the looping sound), MIDI files through the mixer's music with the installed
// General MIDI soundfont. Without an audio device (or with SDL_AUDIODRIVER=dummy) it opens
// nothing or plays into nothing; it never stops the program.
#include "client/ui/sound_backend.h"

// The soundfont given to the MIDI synthesiser: SDL_SOUNDFONTS when set, else the first of
// the General MIDI soundfonts the system installs that exists ("" when none).
const char* sound_sdl_soundfont();
// Sound files read and decoded so far (tests).
int sound_sdl_loads();
