// Shade ramps, shade-table sets, QuotientTable and the depth buffer.
#include <gtest/gtest.h>
#include <zlib.h>

#include <bit>
#include <cmath>
#include <limits>

#include "driver/core/colour_match.h"
#include "driver/core/depth.h"
#include "driver/core/palette.h"
#include "driver/core/polygon_setup.h"
#include "driver/core/shade.h"
#include "driver/spans/span_state.h"
#include "palette_test_engine.h"

namespace {

using palette_test::Crc;
using palette_test::TestEngine;

class Shade : public ::testing::Test {
protected:
    void SetUp() override {
        PaletteReset();
        RampSineCurve = 0;
        RampKnee = 0.75f;
        ShadeDepth = 0;
    }
    void TearDown() override {
        FreeContextTables();
        for (ShadeTableSet* s : sets) ShadeSetDestroy(s);
        EXPECT_TRUE(engine.live.empty()) << engine.live.size() << " blocks left";
        EXPECT_EQ(engine.bad_frees, 0);
        PaletteReset();
        RampSineCurve = 0;
        RampKnee = 0.75f;
    }

    // The 8-bit display as set up without a system palette: zeros, then the
    // default palette at entries 10-230.
    void InstallDefaultPalette(float gamma) {
        GammaSet(gamma);
        uint8_t colours[3 * kDefaultPaletteColours];
        PaletteBuildDefault(colours);
        for (int k = 0; k < kDefaultPaletteColours; ++k) {
            PaletteRed[10 + k] = colours[3 * k];
            PaletteGreen[10 + k] = colours[3 * k + 1];
            PaletteBlue[10 + k] = colours[3 * k + 2];
        }
    }

    void SetShadeColour(int32_t r, int32_t g, int32_t b) {
        engine.services.shade_red = r;
        engine.services.shade_green = g;
        engine.services.shade_blue = b;
    }

    TestEngine engine;
    std::vector<ShadeTableSet*> sets;  // destroyed after the context, as an engine might
};

// ---- levels and blends ----------------------------------------------------

TEST_F(Shade, KneeSplitsDarkFromBright) {
    EXPECT_FLOAT_EQ(ShadeFactor(23), 0.7419355f);
    EXPECT_LT(ShadeFactor(23), RampKnee);
    EXPECT_GE(ShadeFactor(24), RampKnee);
    EXPECT_EQ(ShadeFactor(0), 0.0f);
    EXPECT_EQ(ShadeFactor(31), 1.0f);  // 31 x 0.032258064 rounds to 1.0
    // Level 0 is the base colour, level 31 white, whatever the channel.
    for (int c : {0, 77, 255}) {
        EXPECT_EQ(ShadeBlend(0, c, 0x8000), 0x8000);
        EXPECT_EQ(ShadeBlend(0, c, 0), 0);
        EXPECT_EQ(ShadeBlend(31, c, 0x8000), 0xFFFF);
    }
    // Level 23: still mostly the colour with a little of the base.
    const int32_t t = static_cast<int32_t>((1.0 / 0.75) * double{ShadeFactor(23)} * 65536.0);
    EXPECT_EQ(ShadeBlend(23, 200, 0x4000), 200 * ((t + 128) >> 8) + 0x40 * ((65664 - t) >> 8));
    // Level 24: the full colour blended a little toward white.
    const int32_t tb = static_cast<int32_t>((double{ShadeFactor(24)} - 0.75) * 4.0 * 65536.0);
    const int32_t u = 65536 - tb;
    EXPECT_EQ(ShadeBlend(24, 200, 0x4000), 200 * ((u + 128) >> 8) + ((65664 - u) & ~0xFF));
}

TEST_F(Shade, SineCurve) {
    RampSineCurve = 1;
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(ShadeFactor(i), static_cast<float>(std::sin(i * 0.03225806451612903 * 3.1415926 * 0.5))) << i;
    EXPECT_GT(ShadeFactor(1), 1.0f / 31.0f);
}

TEST_F(Shade, KneeAtZeroOrOneStaysDefined) {
    // Knee 0: no level is dark, level 0 is the full colour.
    RampKnee = 0.0f;
    EXPECT_EQ(ShadeBlend(0, 200, 0x4000), 200 * 256);
    EXPECT_EQ(ShadeBlend(31, 200, 0x4000), 0xFFFF);
    // Knee 1: the top level sits on the knee with no room above it: it keeps
    // the full colour instead of dividing 0 by 0.
    RampKnee = 1.0f;
    EXPECT_EQ(ShadeBlend(31, 200, 0x4000), 200 * 256);
    EXPECT_LT(ShadeBlend(30, 200, 0), 200 * 256);
    uint8_t ramp[96];
    RampColours(ramp, 0.0f, 1.0f);
    EXPECT_EQ(ramp[3 * 31], 204);  // value 0.8, full saturation
    EXPECT_EQ(ramp[3 * 31 + 1], 0);
    // Knees outside 0..1 and NaN give defined, in-range results.
    for (float k : {-0.5f, 1.5f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        RampKnee = k;
        for (int i = 0; i < 32; ++i) {
            const int32_t v = ShadeBlend(i, 128, 0x8000);
            EXPECT_GE(v, 0);
            EXPECT_LE(v, 0xFFFF);
        }
        RampColours(ramp, 0.3f, 0.5f);
    }
}

TEST_F(Shade, RampColoursRunFromBaseToWhite) {
    SetShadeColour(0, 0, 0);
    uint8_t ramp[96];
    RampColours(ramp, 0.0f, 1.0f);
    EXPECT_EQ(ramp[0] | ramp[1] | ramp[2], 0);
    for (int i = 1; i < 24; ++i) {
        EXPECT_GE(ramp[3 * i], ramp[3 * (i - 1)]);
        EXPECT_EQ(ramp[3 * i + 1], 0);
    }
    // Level 24 starts at value 0.8 (plus its share toward white).
    EXPECT_GE(ramp[3 * 24], 204);
    EXPECT_EQ(ramp[3 * 31], 255);
    EXPECT_EQ(ramp[3 * 31 + 1], 255);
    // A base colour shows at level 0.
    SetShadeColour(0x2000, 0x4000, 0x6000);
    RampColours(ramp, 0.5f, 1.0f);
    EXPECT_EQ(ramp[0], 0x20);
    EXPECT_EQ(ramp[1], 0x40);
    EXPECT_EQ(ramp[2], 0x60);
}

// ---- 15/16-bit tables ------------------------------------------------------

TEST_F(Shade, DirectColourTableNeverHoldsZeroOr31) {
    ASSERT_EQ(ContextTablesCreate(16), 1);
    SetShadeColour(0xFFFF, 0, 0x8000);
    BuildShadeRamps();
    for (size_t i = 0; i < kShadeTable16Used; ++i) {
        EXPECT_GE(ShadeTable[i], 1);
        EXPECT_LE(ShadeTable[i], 30);
    }
    // Level 31 of any channel value is 30 (white capped), level 0 the base.
    EXPECT_EQ(ShadeTable[0 * 1024 + 31 * 32 + 5], 30);
    EXPECT_EQ(ShadeTable[0 * 1024 + 0 * 32 + 5], 30);          // red base 0xFFFF
    EXPECT_EQ(ShadeTable[1 * 1024 + 0 * 32 + 31], 1);          // green base 0
    EXPECT_EQ(ShadeTable[2 * 1024 + 0 * 32 + 0], 0x80 * 256 >> 11);  // blue base 0x8000
    // Level 20 of value v: the dark blend of 8 v with the base, >> 11.
    const int32_t t = static_cast<int32_t>((1.0 / 0.75) * double{ShadeFactor(20)} * 65536.0);
    const int v = 17;
    EXPECT_EQ(ShadeTable[1 * 1024 + 20 * 32 + v], std::max(1, (8 * v * ((t + 128) >> 8)) >> 11));
    EXPECT_EQ(Crc(ShadeTable, kShadeTable16Used), 1000518863u);
}

TEST_F(Shade, OtherDepthsBuildNothing) {
    ASSERT_EQ(ContextTablesCreate(4), 1);
    EXPECT_EQ(ShadeTable, nullptr);
    BuildShadeRamps();  // must not touch a table that does not exist
    EXPECT_EQ(ContextTablesCreate(24), 0);
    EXPECT_EQ(ContextTablesCreate(0), 0);
}

// ---- 8-bit tables ----------------------------------------------------------

class Shade8 : public Shade {
protected:
    void Build(float gamma) {
        InstallDefaultPalette(gamma);
        ASSERT_EQ(ContextTablesCreate(8), 1);
        BuildShadeRamps();
    }

    int Distance(int e, const int* lin) {
        const int d[3] = {GammaDecodeTable[PaletteRed[e]] - lin[0], GammaDecodeTable[PaletteGreen[e]] - lin[1],
                          GammaDecodeTable[PaletteBlue[e]] - lin[2]};
        return d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    }
    int Nearest(const int* lin) {
        int best = -1;
        for (int e = 0; e < 256; ++e)
            if (PaletteUsableGet(e) == 2) {
                const int d = Distance(e, lin);
                if (best < 0 || d < best) best = d;
            }
        return best;
    }
};

// Blend of one channel recomputed from the stated formulas in double.
int ReferenceBlend(int level, int c, int base, double knee) {
    const double f = static_cast<float>(level * double{0.032258064f});
    int64_t v;
    if (f < knee) {
        const int64_t t = static_cast<int64_t>((1.0 / knee) * f * 65536.0);
        v = c * ((t + 128) >> 8) + ((base + 128) >> 8) * ((65664 - t) >> 8);
    } else {
        const int64_t t = static_cast<int64_t>((f - knee) * (1.0 / (1.0 - knee)) * 65536.0);
        const int64_t u = 65536 - t;
        v = c * ((u + 128) >> 8) + ((65664 - u) & ~int64_t{0xFF});
    }
    return static_cast<int>(std::min<int64_t>(v, 0xFFFF));
}

TEST_F(Shade8, ShadeTableEntriesAreNearestToTheBlendedColour) {
    SetShadeColour(0x1800, 0x0800, 0x3000);
    ASSERT_NO_FATAL_FAILURE(Build(2.2f));
    const int bases[3] = {0x1800, 0x0800, 0x3000};
    for (int e = 0; e < 256; e += 7)
        for (int i = 0; i < 32; i += 3) {
            int lin[3];
            const int display[3] = {PaletteRed[e], PaletteGreen[e], PaletteBlue[e]};
            for (int k = 0; k < 3; ++k) {
                const int c = static_cast<int>(255.0 * std::pow(display[k] / 255.0, double{2.2f}) + 0.5);
                lin[k] = ReferenceBlend(i, display[k] ? c : 0, bases[k], 0.75) >> 8;
            }
            const int got = ShadeTable[i * 256 + e];
            EXPECT_EQ(PaletteUsableGet(got), 2);
            EXPECT_EQ(Distance(got, lin), Nearest(lin)) << "entry " << e << " level " << i;
        }
}

TEST_F(Shade8, ColourRampRowsAreNearestToTheirHues) {
    ASSERT_NO_FATAL_FAILURE(Build(2.2f));
    for (int h = 0; h < 36; h += 5)
        for (int s = 0; s < 4; ++s) {
            const double hue = static_cast<float>(h * 0.027777778f);
            const double sat = (s + 1) * 0.25;
            for (int i = 0; i < 32; i += 2) {
                const double f = static_cast<float>(i * double{0.032258064f});
                double value, ss = sat;
                if (f < 0.75) {
                    value = static_cast<float>(f * 0.8 / 0.75);
                } else {
                    ss = static_cast<float>(sat - (f - 0.75) * sat / 0.25);
                    value = static_cast<float>(0.8 + (f - 0.75) * 0.2 / 0.25);
                }
                // HSV in double with the stated single-precision factors.
                const double d = hue * 6.0;
                const int sector = static_cast<int>(d);
                const double frac = d - sector;
                const int g = static_cast<int>(value * 255.0);
                const int p = static_cast<int>(static_cast<float>((1.0 - ss) * value) * 255.0);
                const int q = static_cast<int>(static_cast<float>(value * (1.0 - ss * frac)) * 255.0);
                const int t = static_cast<int>(static_cast<float>(value * (1.0 - ss * (1.0 - frac))) * 255.0);
                const int table[6][3] = {{g, t, p}, {q, g, p}, {p, g, t}, {p, q, g}, {t, p, g}, {g, p, q}};
                int lin[3];
                for (int k = 0; k < 3; ++k)
                    lin[k] = f < 0.75 ? ReferenceBlend(i, table[sector][k], 0, 0.75) >> 8 : table[sector][k];
                const int at = (h * 4 + s) * 32 + ((s & 1) ? 31 - i : i);
                EXPECT_EQ(Distance(ColourRampTable[at], lin), Nearest(lin)) << h << " " << s << " " << i;
            }
        }
    // The grey row: level 31 the entry nearest white, level 0 black.
    const int white[3] = {255, 255, 255};
    EXPECT_EQ(Distance(ColourRampTable[kColourRampGreyRow + 31], white), Nearest(white));
    EXPECT_EQ(PaletteRed[ColourRampTable[kColourRampGreyRow]], 0);
}

TEST_F(Shade8, TablesGolden) {
    ASSERT_NO_FATAL_FAILURE(Build(2.2f));
    EXPECT_EQ(Crc(ShadeTable, kShadeTable8Used), 48489222u);
    EXPECT_EQ(Crc(ColourRampTable, kColourRampUsed), 2855707744u);
    RampSineCurve = 1;
    BuildShadeRamps();
    EXPECT_EQ(Crc(ShadeTable, kShadeTable8Used), 1301687296u);
    EXPECT_EQ(Crc(ColourRampTable, kColourRampUsed), 2091904904u);
}

TEST_F(Shade8, OddSaturationRowsAreReversed) {
    ASSERT_NO_FATAL_FAILURE(Build(2.2f));
    // Saturation 0.5 (s = 1) of red: stored from level 31 down.
    const uint8_t* even = ColourRampTable + (0 * 4 + 0) * 32;
    const uint8_t* odd = ColourRampTable + (0 * 4 + 1) * 32;
    EXPECT_EQ(PaletteRed[even[0]], 0);           // level 0 black
    EXPECT_EQ(PaletteRed[odd[31]], 0);           // level 0 at the end
    EXPECT_EQ(GammaDecodeTable[PaletteGreen[odd[0]]], GammaDecodeTable[PaletteRed[odd[0]]]);  // level 31 white
}

TEST_F(Shade8, NoUsableEntriesNeverIndexesWithMinusOne) {
    InstallDefaultPalette(2.2f);
    for (int e = 0; e < 256; ++e) PaletteUsableSet(e, 1);
    ASSERT_EQ(ContextTablesCreate(8), 1);
    BuildShadeRamps();
    for (size_t i = 0; i < kShadeTable8Used; ++i) ASSERT_EQ(ShadeTable[i], 0);
    for (size_t i = 0; i < kColourRampUsed; ++i) ASSERT_EQ(ColourRampTable[i], 0);
}

// ---- context tables and sets -----------------------------------------------

TEST_F(Shade, TablesAreUsedFromTheNext256ByteBoundary) {
    ASSERT_EQ(ContextTablesCreate(8), 1);
    for (const uint8_t* table : {ShadeTable, ColourRampTable}) {
        ASSERT_NE(table, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(table) & 0xFF, 0u);
    }
    // Find the allocations behind them and check the used part lies inside.
    int inside = 0;
    for (void* p : engine.live) {
        const uint8_t* a = static_cast<uint8_t*>(p);
        if (ShadeTable > a && ShadeTable <= a + 256) {
            EXPECT_LE(ShadeTable + kShadeTable8Used, a + kShadeTable8Alloc);
            ++inside;
        }
        if (ColourRampTable > a && ColourRampTable <= a + 256) {
            EXPECT_LE(ColourRampTable + kColourRampUsed, a + kColourRampAlloc);
            ++inside;
        }
    }
    EXPECT_EQ(inside, 2);
    EXPECT_EQ(engine.live.size(), 3u);  // shade, ramp, quotient
    EXPECT_EQ(SpanStateBlock.ShadeTableBase, ShadeTable);
    // An address already on a boundary still moves up a whole block.
    alignas(256) static uint8_t block[512];
    EXPECT_EQ(ShadeAlign(block), block + 256);
    EXPECT_EQ(ShadeAlign(block + 1), block + 256);
    EXPECT_EQ(ShadeAlign(nullptr), nullptr);
}

TEST_F(Shade, QuotientTable) {
    ASSERT_EQ(ContextTablesCreate(8), 1);
    EXPECT_EQ(QuotientTable[0 * 32 + 1], -0x200000);
    EXPECT_EQ(QuotientTable[64 * 32 + 31], 67650);
    EXPECT_EQ(QuotientTable[32 * 32 + 7], 0);
    EXPECT_EQ(QuotientTable[31 * 32 + 3], -65536 / 3);  // truncated toward zero
    EXPECT_EQ(QuotientTable[33 * 32 + 3], 21845);
    // The edge slopes of the set-ups divide instead of reading the table: same values, and
    // the 64-bit quotient (truncated to 32 bits) wherever a column difference is that large.
    for (int k = 0; k <= 64; ++k)
        for (int n = 1; n < 32; ++n) EXPECT_EQ(polygon::Slope(k - 32, n), QuotientTable[k * 32 + n]) << k << " " << n;
    for (int32_t dx : {-40000, -32769, -32768, -32767, -641, 640, 32767, 32768, 70000})
        for (int32_t h : {1, 2, 3, 7, 480, 32767})
            EXPECT_EQ(polygon::Slope(dx, h), static_cast<int32_t>((static_cast<int64_t>(dx) * 65536) / h)) << dx << " " << h;
}

TEST_F(Shade, ContextCreateFailureLeavesNothing) {
    for (long allow = 0; allow < 3; ++allow) {
        engine.fail_after = allow;
        EXPECT_EQ(ContextTablesCreate(8), 0) << allow;
        engine.fail_after = -1;
        EXPECT_TRUE(engine.live.empty()) << allow;
        EXPECT_EQ(ShadeTable, nullptr);
        EXPECT_EQ(QuotientTable, nullptr);
    }
    EXPECT_EQ(ContextTablesCreate(8), 1);
}

TEST_F(Shade, FreeContextTablesFreesDefaultsWhateverSetIsSelected) {
    InstallDefaultPalette(2.2f);
    ASSERT_EQ(ContextTablesCreate(8), 1);
    BuildShadeRamps();
    ASSERT_NE(DepthBufferAlloc(32, 16), nullptr);
    const DeviceColour red{0xFFFF, 0, 0};
    ShadeTableSet* set = ShadeSetCreate(&red);
    ASSERT_NE(set, nullptr);
    sets.push_back(set);
    ShadeSetSelect(set);
    EXPECT_EQ(engine.services.device.shade_set_state, 2);
    EXPECT_EQ(ShadeTable, ShadeAlign(set->shade_table));
    const long frees_before = engine.frees;
    FreeContextTables();
    EXPECT_EQ(engine.bad_frees, 0);
    // Tree, two default tables, depth buffer, QuotientTable; the set's tables
    // stay with the set.
    EXPECT_GE(engine.frees - frees_before, 5);
    EXPECT_TRUE(engine.live.count(set->shade_table));
    EXPECT_TRUE(engine.live.count(set->colour_ramp_table));
    EXPECT_EQ(ShadeTable, nullptr);
    EXPECT_EQ(ColourRampTable, nullptr);
    EXPECT_EQ(DepthBuffer, nullptr);
    EXPECT_EQ(OctreeRoot, nullptr);
    EXPECT_EQ(QuotientTable, nullptr);
    // Freeing again frees nothing twice.
    FreeContextTables();
    EXPECT_EQ(engine.bad_frees, 0);
    // The engine destroys its set afterwards (TearDown): no double free.
}

TEST_F(Shade, DestroyingTheSelectedSetReturnsToTheDefaults) {
    InstallDefaultPalette(2.2f);
    ASSERT_EQ(ContextTablesCreate(8), 1);
    BuildShadeRamps();
    const DeviceColour blue{0, 0, 0x8000};
    ShadeTableSet* set = ShadeSetCreate(&blue);
    ASSERT_NE(set, nullptr);
    ShadeSetSelect(set);
    EXPECT_EQ(SpanStateBlock.ShadeTableBase, ShadeAlign(set->shade_table));
    EXPECT_EQ(engine.services.shade_blue, 0x8000);
    EXPECT_EQ(ShadeSetDestroy(set), 1);
    EXPECT_EQ(ShadeTable, ShadeTableDefault);
    EXPECT_EQ(ColourRampTable, ColourRampTableDefault);
    EXPECT_EQ(SpanStateBlock.ShadeTableBase, ShadeTableDefault);
    EXPECT_EQ(ShadeSetSelected(), nullptr);
    EXPECT_EQ(engine.services.device.shade_set_state, 1);
    EXPECT_EQ(ShadeSetDestroy(nullptr), 1);
    // Selecting null: defaults and a black shade colour.
    ShadeSetSelect(nullptr);
    EXPECT_EQ(engine.services.shade_blue, 0);
}

TEST_F(Shade, CreateBuildsForItsColourAndRestoresTheCurrentSet) {
    InstallDefaultPalette(2.2f);
    ASSERT_EQ(ContextTablesCreate(8), 1);
    SetShadeColour(0, 0, 0);
    BuildShadeRamps();
    std::vector<uint8_t> defaults(ShadeTable, ShadeTable + kShadeTable8Used);
    const DeviceColour orange{0xFFFF, 0x8000, 0};
    ShadeTableSet* set = ShadeSetCreate(&orange);
    ASSERT_NE(set, nullptr);
    sets.push_back(set);
    EXPECT_EQ(ShadeTable, ShadeTableDefault);
    EXPECT_EQ(engine.services.shade_red, 0);
    EXPECT_EQ(set->red, 0xFFFF);
    EXPECT_EQ(set->green, 0x8000);
    EXPECT_EQ(std::vector<uint8_t>(ShadeTable, ShadeTable + kShadeTable8Used), defaults);
    // Level 0 of black (entry 10) is the base colour: orange, not black.
    const uint8_t* own = ShadeAlign(set->shade_table);
    EXPECT_EQ(PaletteRed[ShadeTable[10]], 0);
    EXPECT_GT(PaletteRed[own[10]], 200);
    // Failures free what the call allocated.
    for (long allow = 0; allow < 3; ++allow) {
        engine.fail_after = allow;
        EXPECT_EQ(ShadeSetCreate(&orange), nullptr);
        engine.fail_after = -1;
    }
    ShadeDepth = 4;
    EXPECT_EQ(ShadeSetCreate(&orange), nullptr);
    ShadeDepth = 8;
}

// ---- depth buffer ----------------------------------------------------------

TEST_F(Shade, DepthBufferSizes) {
    ASSERT_NE(DepthBufferAlloc(100, 50), nullptr);
    EXPECT_EQ(DepthBufferPitch, 200);
    EXPECT_EQ(DepthHeight, 50);
    EXPECT_EQ(engine.last_request, 200u * 50u);
    // Narrower but taller: only the height grows.
    EXPECT_EQ(DepthBufferGrow(60, 80), 1);
    EXPECT_EQ(DepthBufferPitch, 200);
    EXPECT_EQ(DepthHeight, 80);
    // Fits: nothing reallocated.
    uint16_t* base = DepthBuffer;
    EXPECT_EQ(DepthBufferGrow(100, 80), 1);
    EXPECT_EQ(DepthBuffer, base);
    EXPECT_EQ(DepthBufferGrow(120, 10), 1);
    EXPECT_EQ(DepthBufferPitch, 240);
    EXPECT_EQ(DepthHeight, 80);
    DepthBufferFree();
    EXPECT_EQ(DepthBuffer, nullptr);
    DepthBufferFree();
    EXPECT_EQ(engine.bad_frees, 0);
}

TEST_F(Shade, DepthBufferFailureLeavesNoneAndRetries) {
    ASSERT_NE(DepthBufferAlloc(64, 64), nullptr);
    engine.fail_after = 0;
    EXPECT_EQ(DepthBufferGrow(128, 64), 0);
    EXPECT_EQ(DepthBuffer, nullptr);  // the old one was freed first
    engine.fail_after = -1;
    // The same size asked again is tried again.
    EXPECT_EQ(DepthBufferGrow(128, 64), 1);
    EXPECT_NE(DepthBuffer, nullptr);
    EXPECT_EQ(DepthBufferPitch, 256);
}

TEST_F(Shade, DepthBufferSizesDoNotOverflow) {
    // 2 x 60000 x 60000 bytes is beyond 32 bits: asked for whole.
    engine.fail_after = 0;
    EXPECT_EQ(DepthBufferAlloc(60000, 60000), nullptr);
    EXPECT_EQ(engine.last_request, 7200000000u);
    engine.fail_after = -1;
    // A pitch beyond 32 bits and negative sizes are refused outright.
    engine.last_request = 0;
    EXPECT_EQ(DepthBufferAlloc(0x40000000, 2), nullptr);
    EXPECT_EQ(DepthBufferAlloc(-5, 10), nullptr);
    EXPECT_EQ(DepthBufferAlloc(10, -5), nullptr);
    EXPECT_EQ(engine.last_request, 0u);
    EXPECT_EQ(DepthBufferPitch, 0);
    EXPECT_EQ(DepthHeight, 0);
    EXPECT_EQ(DepthBufferGrow(0x7FFFFFFF, 1), 0);
}

}  // namespace
