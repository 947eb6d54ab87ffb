// The 256-entry palette, the mask of entries colour matching may use, the
// gamma pair of tables and the default palette.
//
// Palette colours are held gamma-encoded (display values); shading and
// matching work on values taken through GammaDecodeTable.
#pragma once

#include <cstdint>

// Entries 0-9 and 246-255 are the system's, 10-245 the driver's.
extern uint8_t PaletteRed[256];
extern uint8_t PaletteGreen[256];
extern uint8_t PaletteBlue[256];

// Entry k is bit (k & 31) of word (k >> 5); a set bit makes it a candidate.
extern uint32_t PaletteUsableMask[8];

extern float Gamma;                    // initially 2.22222f
extern uint8_t GammaDecodeTable[256];  // display value -> linear intensity
extern uint8_t GammaEncodeTable[256];  // linear intensity -> display value

// Number of colours PaletteBuildDefault writes (placed at entries 10-230).
constexpr int kDefaultPaletteColours = 221;
constexpr int kDefaultPaletteFirst = 10;

// Back to the state of a freshly loaded driver: palette zeroed, mask of
// entries 10-245, initial gamma, gamma tables built from it.
void PaletteReset();

// Stores g only when its bit pattern, read as a signed integer, is positive.
void GammaSet(float g);
// Rebuilds both gamma tables from Gamma.
void GammaTablesBuild();
// Map an RGB triple through a table; src and dst may be the same.
void GammaDecode(const uint8_t* src, uint8_t* dst);
void GammaEncode(const uint8_t* src, uint8_t* dst);

// Mode 1 clears the mask bit of (entry & 0xFF), mode 2 sets it; returns
// entry & 0xFF, or -1 for any other mode (nothing changed).
int PaletteUsableSet(int entry, int mode);
// 2 when the bit of (entry & 0xFF) is set, 1 when clear.
int PaletteUsableGet(int entry);

// HSV (floats) to three bytes. A hue of exactly 1.0 (sector 6) writes nothing.
void HsvToRgb(float hue, float saturation, float value, uint8_t* rgb);
// 23 gamma-encoded colours of one hue: 17 rising in value, 6 toward white.
int HueRamp(uint8_t* rgb_out, float hue, float saturation);
// Rebuilds the colour matcher, writes the 221 default colours as RGB triples
// into out (663 bytes) and returns 221.
int PaletteBuildDefault(uint8_t* out);
