#include "driver/core/palette.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "driver/core/colour_match.h"

uint8_t PaletteRed[256];
uint8_t PaletteGreen[256];
uint8_t PaletteBlue[256];
uint32_t PaletteUsableMask[8];

// 2.22222 as the system has always stored it.
static constexpr uint32_t kInitialGammaBits = 0x400E38DAu;

float Gamma = std::bit_cast<float>(kInitialGammaBits);
uint8_t GammaDecodeTable[256];
uint8_t GammaEncodeTable[256];

namespace {

// Byte from a double, truncated toward zero; NaN and out-of-range values are
// clamped instead of converted undefined.
uint8_t ByteFromDouble(double x) {
    if (!(x > 0.0)) return 0;
    if (x >= 255.0) return 255;
    return static_cast<uint8_t>(x);
}

}  // namespace

void PaletteReset() {
    std::memset(PaletteRed, 0, sizeof PaletteRed);
    std::memset(PaletteGreen, 0, sizeof PaletteGreen);
    std::memset(PaletteBlue, 0, sizeof PaletteBlue);
    // Entries 10-245 usable.
    PaletteUsableMask[0] = 0xFFFFFC00u;
    for (int w = 1; w < 7; ++w) PaletteUsableMask[w] = 0xFFFFFFFFu;
    PaletteUsableMask[7] = 0x003FFFFFu;
    Gamma = std::bit_cast<float>(kInitialGammaBits);
    GammaTablesBuild();
}

namespace {
// The mask starts as a loaded driver has it, without waiting for a reset.
struct PaletteInit {
    PaletteInit() { PaletteReset(); }
} palette_init;
}  // namespace

void GammaSet(float g) {
    const int32_t bits = std::bit_cast<int32_t>(g);
    // Positive and non-zero only. A positive NaN also passes the sign test but
    // would leave both tables undefined, so it is refused as well.
    if (bits > 0 && !std::isnan(g)) Gamma = g;
}

void GammaTablesBuild() {
    const double g = Gamma;
    GammaDecodeTable[0] = 0;
    GammaEncodeTable[0] = 0;
    for (int i = 1; i < 256; ++i) {
        const double x = i / 255.0;
        GammaDecodeTable[i] = ByteFromDouble(255.0 * std::pow(x, g) + 0.5);
        GammaEncodeTable[i] = ByteFromDouble(255.0 * std::pow(x, 1.0 / g) + 0.5);
    }
}

void GammaDecode(const uint8_t* src, uint8_t* dst) {
    for (int k = 0; k < 3; ++k) dst[k] = GammaDecodeTable[src[k]];
}

void GammaEncode(const uint8_t* src, uint8_t* dst) {
    for (int k = 0; k < 3; ++k) dst[k] = GammaEncodeTable[src[k]];
}

int PaletteUsableSet(int entry, int mode) {
    const unsigned e = static_cast<unsigned>(entry) & 0xFFu;
    const uint32_t bit = 1u << (e & 31u);
    if (mode == 1) {
        PaletteUsableMask[e >> 5] &= ~bit;
    } else if (mode == 2) {
        PaletteUsableMask[e >> 5] |= bit;
    } else {
        return -1;
    }
    return static_cast<int>(e);
}

int PaletteUsableGet(int entry) {
    const unsigned e = static_cast<unsigned>(entry) & 0xFFu;
    return (PaletteUsableMask[e >> 5] >> (e & 31u)) & 1u ? 2 : 1;
}

void HsvToRgb(float hue, float saturation, float value, uint8_t* rgb) {
    // Clamp by bit pattern: negatives (other than -0.0) to 0, above 1.0 (and
    // positive NaN) to 1.0.
    const uint32_t bits = std::bit_cast<uint32_t>(hue);
    if (bits > 0x80000000u) {
        hue = 0.0f;
    } else if (bits > 0x3F800000u && bits < 0x80000000u) {
        hue = 1.0f;
    }
    const double d = static_cast<double>(hue) * 6.0;
    const int sector = static_cast<int>(d);
    const double frac = d - sector;
    const double s = saturation;
    const double v = value;
    // Each factor is rounded to single precision before the scale to 0-255.
    const double g = static_cast<double>(value) * 255.0;
    const double p = static_cast<double>(static_cast<float>((1.0 - s) * v)) * 255.0;
    const double q = static_cast<double>(static_cast<float>(v * (1.0 - s * frac))) * 255.0;
    const double t = static_cast<double>(static_cast<float>(v * (1.0 - s * (1.0 - frac)))) * 255.0;
    const uint8_t G = ByteFromDouble(g), P = ByteFromDouble(p);
    const uint8_t Q = ByteFromDouble(q), T = ByteFromDouble(t);
    switch (sector) {
        case 0: rgb[0] = G; rgb[1] = T; rgb[2] = P; break;
        case 1: rgb[0] = Q; rgb[1] = G; rgb[2] = P; break;
        case 2: rgb[0] = P; rgb[1] = G; rgb[2] = T; break;
        case 3: rgb[0] = P; rgb[1] = Q; rgb[2] = G; break;
        case 4: rgb[0] = T; rgb[1] = P; rgb[2] = G; break;
        case 5: rgb[0] = G; rgb[1] = P; rgb[2] = Q; break;
        default: break;  // hue exactly 1.0
    }
}

int HueRamp(uint8_t* out, float hue, float saturation) {
    int n = 0;
    float v = 0.0f;
    for (int k = 0; k < 17; ++k, ++n) {
        HsvToRgb(hue, saturation, v, out + 3 * n);
        v += 0.0470588244f;
    }
    // Toward white: value rises from 0.8 while saturation falls by a sixth.
    v = 0.8f;
    float s = saturation;
    const float fall = -(saturation * 0.16666667f);
    for (int k = 0; k < 6; ++k, ++n) {
        HsvToRgb(hue, s, v, out + 3 * n);
        v += 0.033333335f;
        s += fall;
    }
    for (int k = 0; k < n; ++k) GammaEncode(out + 3 * k, out + 3 * k);
    return n;
}

int PaletteBuildDefault(uint8_t* out) {
    ColourMatcherRebuild();
    struct Ramp {
        uint32_t hue_bits;
        float saturation;
    };
    // Written from the top slot downward: each ramp's black is overwritten by
    // the brightest colour of the ramp written after it.
    static constexpr Ramp kRamps[10] = {
        {0x3F55551Du, 1.0f}, {0x3F2AAA3Bu, 1.0f}, {0x3F000000u, 1.0f},
        {0x3EAAAA3Bu, 0.5f}, {0x3EAAAA3Bu, 1.0f}, {0x3E2AA8EBu, 1.0f},
        {0x3DAAA8EBu, 1.0f}, {0x00000000u, 0.5f}, {0x00000000u, 1.0f},
        {0xBF800000u, 0.0f},
    };
    int slot = 198;
    for (const Ramp& r : kRamps) {
        HueRamp(out + 3 * slot, std::bit_cast<float>(r.hue_bits), r.saturation);
        slot -= 22;
    }
    return kDefaultPaletteColours;
}
