#include "driver/core/shade.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "driver/core/colour_match.h"
#include "driver/core/depth.h"
#include "driver/core/palette.h"
#include "driver/core/palette_memory.h"
#include "driver/spans/span_state.h"

int RampSineCurve = 0;
float RampKnee = 0.75f;
int ShadeDepth = 0;

uint8_t* ShadeTable = nullptr;
uint8_t* ColourRampTable = nullptr;
uint8_t* ShadeTableDefault = nullptr;
uint8_t* ColourRampTableDefault = nullptr;
int32_t* QuotientTable = nullptr;

namespace {

void* shade_default_allocation = nullptr;
void* ramp_default_allocation = nullptr;
ShadeTableSet* selected_set = nullptr;

// Integer from a double, truncated toward zero and clamped to [lo, hi];
// NaN gives lo.
int32_t Fix(double x, int32_t lo, int32_t hi) {
    if (!(x > lo)) return lo;
    if (x >= hi) return hi;
    return static_cast<int32_t>(x);
}

// Dark levels blend from the base colour up to the full colour.
bool IsDark(float f) { return f < RampKnee; }

// Fraction of the way from the full colour to white of a bright level. A knee
// at or above 1.0 leaves no room above it: the level keeps the full colour.
double BrightFraction(float f) {
    const double room = 1.0 - static_cast<double>(RampKnee);
    if (!(room > 0.0)) return 0.0;
    return (static_cast<double>(f) - RampKnee) * (1.0 / room);
}

// (f - knee) x scale / (1 - knee), 0 when no room is left above the knee.
double BrightTerm(float f, double scale) {
    const double room = 1.0 - static_cast<double>(RampKnee);
    if (!(room > 0.0)) return 0.0;
    return (static_cast<double>(f) - RampKnee) * scale / room;
}

int32_t ClampChannel(int64_t x) {
    if (x < 0) return 0;
    if (x > 0xFFFF) return 0xFFFF;
    return static_cast<int32_t>(x);
}

int32_t DarkT(float f) {
    // Only reached with f < knee, f >= 0: the knee is positive here.
    return Fix((1.0 / static_cast<double>(RampKnee)) * f * 65536.0, 0, 65536);
}

int32_t BlendDark(int32_t t, int32_t c, int32_t base) {
    const int64_t w = (t + 128) >> 8;
    const int64_t wb = (65664 - t) >> 8;
    const int64_t b = (static_cast<int64_t>(base) + 128) >> 8;
    return ClampChannel(c * w + b * wb);
}

int32_t BlendBright(int32_t t, int32_t c) {
    const int64_t u = 65536 - t;
    return ClampChannel(c * ((u + 128) >> 8) + ((65664 - u) & ~int64_t{0xFF}));
}

void BaseColour(int32_t* rgb) {
    const EngineServices* e = PaletteEngine();
    rgb[0] = e ? e->shade_red : 0;
    rgb[1] = e ? e->shade_green : 0;
    rgb[2] = e ? e->shade_blue : 0;
}

void SetBaseColour(int32_t r, int32_t g, int32_t b) {
    EngineServices* e = PaletteEngine();
    if (!e) return;
    e->shade_red = r;
    e->shade_green = g;
    e->shade_blue = b;
}

// A matcher answer of -1 (no candidates) must not become an index: entry 0
// stands in.
uint8_t MatchIndex(const uint8_t* rgb) {
    // Through the device record's entry, as the engine would ask.
    const EngineServices* e = PaletteEngine();
    const int i = e && e->device.colour_to_palette_index ? e->device.colour_to_palette_index(rgb)
                                                         : ColourToPaletteIndex(rgb);
    return i < 0 ? 0 : static_cast<uint8_t>(i);
}

void BuildRamps8() {
    ColourMatcherRebuild();
    uint8_t colours[96];
    for (int h = 0; h < 36; ++h) {
        const float hue = static_cast<float>(h) * 0.027777778f;
        for (int s = 0; s < 4; ++s) {
            RampColours(colours, hue, static_cast<float>(s + 1) * 0.25f);
            uint8_t* row = ColourRampTable + (h * 4 + s) * 32;
            for (int i = 0; i < 32; ++i) {
                const uint8_t index = MatchIndex(colours + 3 * i);
                row[(s & 1) ? 31 - i : i] = index;
            }
        }
    }
    RampColours(colours, std::bit_cast<float>(0xBF800000u), 0.0f);
    for (int i = 0; i < 32; ++i) ColourRampTable[kColourRampGreyRow + i] = MatchIndex(colours + 3 * i);

    int32_t base[3];
    BaseColour(base);
    for (int e = 0; e < 256; ++e) {
        const uint8_t display[3] = {PaletteRed[e], PaletteGreen[e], PaletteBlue[e]};
        uint8_t linear[3];
        GammaDecode(display, linear);
        for (int i = 0; i < 32; ++i) {
            uint8_t rgb[3];
            for (int k = 0; k < 3; ++k) rgb[k] = static_cast<uint8_t>(ShadeBlend(i, linear[k], base[k]) >> 8);
            ShadeTable[i * 256 + e] = MatchIndex(rgb);
        }
    }
    ColourMatcherRebuild();
}

void BuildRamps16() {
    int32_t base[3];
    BaseColour(base);
    for (int k = 0; k < 3; ++k) {
        for (int i = 0; i < 32; ++i) {
            for (int v = 0; v < 32; ++v) {
                // (FixedDivSat(v x 65536, 32 x 65536) + 128) >> 8 is exactly 8 v.
                int32_t out = ShadeBlend(i, 8 * v, base[k]) >> 11;
                if (out > 30) out = 30;
                if (out == 0) out = 1;
                ShadeTable[k * 1024 + i * 32 + v] = static_cast<uint8_t>(out);
            }
        }
    }
}

void FreeDefaultSet() {
    PaletteFree(shade_default_allocation);
    PaletteFree(ramp_default_allocation);
    shade_default_allocation = nullptr;
    ramp_default_allocation = nullptr;
    ShadeTableDefault = nullptr;
    ColourRampTableDefault = nullptr;
}

bool SpanUsesTables(const uint8_t* table) {
    return table && SpanStateBlock.ShadeTableBase == table;
}

}  // namespace

uint8_t* ShadeAlign(void* allocation) {
    if (!allocation) return nullptr;
    const uintptr_t a = reinterpret_cast<uintptr_t>(allocation);
    return static_cast<uint8_t*>(allocation) + ((a & ~uintptr_t{0xFF}) + 0x100 - a);
}

float ShadeFactor(int level) {
    if (RampSineCurve) {
        const long double x = static_cast<long double>(level) * 0.03225806451612903L *
                              3.1415926L * 0.5L;
        return static_cast<float>(std::sin(x));
    }
    return static_cast<float>(level) * 0.032258064f;
}

int32_t ShadeBlend(int level, int32_t c, int32_t base) {
    const float f = ShadeFactor(level);
    if (IsDark(f)) return BlendDark(DarkT(f), c, base);
    return BlendBright(Fix(BrightFraction(f) * 65536.0, 0, 65536), c);
}

void RampColours(uint8_t* out, float hue, float saturation) {
    int32_t base[3];
    BaseColour(base);
    for (int i = 0; i < 32; ++i) {
        const float f = ShadeFactor(i);
        uint8_t* rgb = out + 3 * i;
        rgb[0] = rgb[1] = rgb[2] = 0;
        if (IsDark(f)) {
            const float value = static_cast<float>(static_cast<double>(f) * 0.8 / RampKnee);
            HsvToRgb(hue, saturation, value, rgb);
            const int32_t t = DarkT(f);
            for (int k = 0; k < 3; ++k) rgb[k] = static_cast<uint8_t>(BlendDark(t, rgb[k], base[k]) >> 8);
        } else {
            const float s = static_cast<float>(saturation - BrightTerm(f, saturation));
            const float v = static_cast<float>(0.8 + BrightTerm(f, 0.2));
            HsvToRgb(hue, s, v, rgb);
        }
    }
}

void BuildShadeRamps() {
    if (ShadeDepth == 8) {
        if (ShadeTable && ColourRampTable) BuildRamps8();
    } else if (ShadeDepth == 15 || ShadeDepth == 16) {
        if (ShadeTable) BuildRamps16();
    }
}

int ContextTablesCreate(int depth) {
    FreeContextTables();
    DepthBufferPitch = 0;
    DepthHeight = 0;
    size_t shade_bytes = 0, ramp_bytes = 0;
    switch (depth) {
        case 1: case 2: case 4: break;
        case 8: shade_bytes = kShadeTable8Alloc; ramp_bytes = kColourRampAlloc; break;
        case 15: case 16: shade_bytes = kShadeTable16Alloc; break;
        default: return 0;
    }
    ShadeDepth = depth;
    QuotientTable = static_cast<int32_t*>(PaletteAllocate(kQuotientTableBytes));
    if (!QuotientTable) return 0;
    for (int k = 0; k <= 64; ++k) {
        QuotientTable[k * 32] = 0;
        for (int n = 1; n < 32; ++n) QuotientTable[k * 32 + n] = ((k - 32) * 65536) / n;
    }
    if (shade_bytes) {
        shade_default_allocation = PaletteAllocate(shade_bytes);
        if (ramp_bytes) ramp_default_allocation = PaletteAllocate(ramp_bytes);
        if (!shade_default_allocation || (ramp_bytes && !ramp_default_allocation)) {
            FreeContextTables();
            return 0;
        }
        ShadeTableDefault = ShadeAlign(shade_default_allocation);
        ColourRampTableDefault = ShadeAlign(ramp_default_allocation);
        // Built for real by BuildShadeRamps; zeroed so nothing reads garbage.
        std::memset(ShadeTableDefault, 0, shade_bytes - 256);
        if (ColourRampTableDefault) std::memset(ColourRampTableDefault, 0, ramp_bytes - 256);
    }
    ShadeTable = ShadeTableDefault;
    ColourRampTable = ColourRampTableDefault;
    SpanStateBlock.ShadeTableBase = ShadeTable;
    return 1;
}

void FreeContextTables() {
    OctreeFree();
    // The default set, not whatever set happens to be current: a selected set
    // stays its creator's to destroy, and the defaults are freed exactly once.
    const bool span_on_defaults = SpanUsesTables(ShadeTableDefault);
    FreeDefaultSet();
    if (span_on_defaults) SpanStateBlock.ShadeTableBase = nullptr;
    ShadeTable = nullptr;
    ColourRampTable = nullptr;
    selected_set = nullptr;
    DepthBufferFree();
    PaletteFree(QuotientTable);
    QuotientTable = nullptr;
}

ShadeTableSet* ShadeSetCreate(const DeviceColour* colour) {
    if (!colour) return nullptr;
    size_t shade_bytes = 0, ramp_bytes = 0;
    if (ShadeDepth == 8) {
        shade_bytes = kShadeTable8Alloc;
        ramp_bytes = kColourRampAlloc;
    } else if (ShadeDepth == 15 || ShadeDepth == 16) {
        shade_bytes = kShadeTable16Alloc;
    } else {
        return nullptr;
    }
    ShadeTableSet* set = static_cast<ShadeTableSet*>(PaletteAllocate(sizeof(ShadeTableSet)));
    if (!set) return nullptr;
    std::memset(set, 0, sizeof *set);
    set->shade_table = static_cast<uint8_t*>(PaletteAllocate(shade_bytes));
    if (ramp_bytes) set->colour_ramp_table = static_cast<uint8_t*>(PaletteAllocate(ramp_bytes));
    if (!set->shade_table || (ramp_bytes && !set->colour_ramp_table)) {
        PaletteFree(set->shade_table);
        PaletteFree(set->colour_ramp_table);
        PaletteFree(set);
        return nullptr;
    }
    set->red = colour->red;
    set->green = colour->green;
    set->blue = colour->blue;

    // Build with the set's tables current and its colour as the shade colour,
    // then put both back.
    uint8_t* saved_shade = ShadeTable;
    uint8_t* saved_ramp = ColourRampTable;
    int32_t saved_colour[3];
    BaseColour(saved_colour);
    ShadeTable = ShadeAlign(set->shade_table);
    ColourRampTable = ShadeAlign(set->colour_ramp_table);
    std::memset(ShadeTable, 0, shade_bytes - 256);
    SetBaseColour(set->red, set->green, set->blue);
    BuildShadeRamps();
    ShadeTable = saved_shade;
    ColourRampTable = saved_ramp;
    SetBaseColour(saved_colour[0], saved_colour[1], saved_colour[2]);
    return set;
}

int ShadeSetDestroy(ShadeTableSet* set) {
    if (!set) return 1;
    uint8_t* shade = ShadeAlign(set->shade_table);
    uint8_t* ramp = ShadeAlign(set->colour_ramp_table);
    const bool current = (shade && ShadeTable == shade) || (ramp && ColourRampTable == ramp);
    if (current || selected_set == set) {
        ShadeTable = ShadeTableDefault;
        ColourRampTable = ColourRampTableDefault;
        selected_set = nullptr;
        if (EngineServices* e = PaletteEngine()) e->device.shade_set_state = 1;
    }
    // The span layer keeps its own copy of the table pointer.
    if (SpanUsesTables(shade)) SpanStateBlock.ShadeTableBase = ShadeTable;
    PaletteFree(set->shade_table);
    PaletteFree(set->colour_ramp_table);
    PaletteFree(set);
    return 1;
}

void ShadeSetSelect(ShadeTableSet* set) {
    EngineServices* e = PaletteEngine();
    if (set) {
        ShadeTable = ShadeAlign(set->shade_table);
        ColourRampTable = ShadeAlign(set->colour_ramp_table);
        SetBaseColour(set->red, set->green, set->blue);
        if (e) e->device.shade_set_state = 2;
    } else {
        ShadeTable = ShadeTableDefault;
        ColourRampTable = ColourRampTableDefault;
        SetBaseColour(0, 0, 0);
        if (e) e->device.shade_set_state = 1;
    }
    selected_set = set;
    SpanStateBlock.ShadeTableBase = ShadeTable;
}

ShadeTableSet* ShadeSetSelected() { return selected_set; }
