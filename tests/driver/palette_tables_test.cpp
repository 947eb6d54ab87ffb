// Palette, usable mask, gamma tables, HSV conversion and the default palette.
// Golden checksums pin the tables; separate cases recompute entries from the
// formulas in double precision, so a golden value cannot hide a wrong formula.
#include <gtest/gtest.h>
#include <zlib.h>

#include <bit>
#include <cmath>
#include <limits>

#include "driver/core/colour_match.h"
#include "driver/core/palette.h"
#include "palette_test_engine.h"

namespace {

using palette_test::Crc;
using palette_test::TestEngine;

class PaletteTables : public ::testing::Test {
protected:
    void SetUp() override { PaletteReset(); }
    void TearDown() override {
        OctreeFree();
        EXPECT_TRUE(engine.live.empty());
        EXPECT_EQ(engine.bad_frees, 0);
        PaletteReset();
    }
    TestEngine engine;
};

TEST_F(PaletteTables, UsableMaskStartsWithTheDriversEntries) {
    for (int e = 0; e < 256; ++e) EXPECT_EQ(PaletteUsableGet(e), (e >= 10 && e <= 245) ? 2 : 1) << e;
    EXPECT_EQ(PaletteUsableMask[0], 0xFFFFFC00u);
    EXPECT_EQ(PaletteUsableMask[7], 0x003FFFFFu);
}

TEST_F(PaletteTables, UsableSetAndGet) {
    EXPECT_EQ(PaletteUsableSet(3, 2), 3);
    EXPECT_EQ(PaletteUsableGet(3), 2);
    EXPECT_EQ(PaletteUsableSet(200, 1), 200);
    EXPECT_EQ(PaletteUsableGet(200), 1);
    // Only the low 8 bits select the entry.
    EXPECT_EQ(PaletteUsableSet(0x105, 2), 5);
    EXPECT_EQ(PaletteUsableGet(5), 2);
    EXPECT_EQ(PaletteUsableGet(0x305), 2);
    EXPECT_EQ(PaletteUsableSet(-1, 1), 255);
    // Mode 3 answers -1 and changes nothing.
    uint32_t before[8];
    std::memcpy(before, PaletteUsableMask, sizeof before);
    EXPECT_EQ(PaletteUsableSet(100, 3), -1);
    EXPECT_EQ(PaletteUsableSet(100, 0), -1);
    EXPECT_EQ(std::memcmp(before, PaletteUsableMask, sizeof before), 0);
}

TEST_F(PaletteTables, GammaSetTakesOnlyPositiveValues) {
    EXPECT_EQ(std::bit_cast<uint32_t>(Gamma), 0x400E38DAu);
    GammaSet(0.0f);
    GammaSet(-0.0f);
    GammaSet(-2.0f);
    GammaSet(-std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(std::bit_cast<uint32_t>(Gamma), 0x400E38DAu);
    GammaSet(2.2f);
    EXPECT_EQ(Gamma, 2.2f);
    GammaSet(std::numeric_limits<float>::denorm_min());
    EXPECT_EQ(Gamma, std::numeric_limits<float>::denorm_min());
    // A positive NaN would leave the tables undefined: refused as well.
    GammaSet(1.0f);
    GammaSet(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(Gamma, 1.0f);
}

TEST_F(PaletteTables, GammaTablesFollowThePowerLaw) {
    for (float g : {std::bit_cast<float>(0x400E38DAu), 2.2f, 1.0f, 0.45f}) {
        GammaSet(g);
        GammaTablesBuild();
        EXPECT_EQ(GammaDecodeTable[0], 0);
        EXPECT_EQ(GammaEncodeTable[0], 0);
        for (int i = 1; i < 256; ++i) {
            EXPECT_EQ(GammaDecodeTable[i], static_cast<int>(255.0 * std::pow(i / 255.0, double{g}) + 0.5)) << g << " " << i;
            EXPECT_EQ(GammaEncodeTable[i], static_cast<int>(255.0 * std::pow(i / 255.0, 1.0 / g) + 0.5)) << g << " " << i;
        }
        EXPECT_EQ(GammaDecodeTable[255], 255);
    }
}

TEST_F(PaletteTables, GammaTablesGolden) {
    GammaTablesBuild();
    EXPECT_EQ(Crc(GammaDecodeTable, 256), 3560727133u);
    EXPECT_EQ(Crc(GammaEncodeTable, 256), 274330313u);
    GammaSet(2.2f);
    GammaTablesBuild();
    EXPECT_EQ(Crc(GammaDecodeTable, 256), 2784538969u);
    EXPECT_EQ(Crc(GammaEncodeTable, 256), 597557683u);
    GammaSet(1.0f);
    GammaTablesBuild();
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(GammaDecodeTable[i], i);
        EXPECT_EQ(GammaEncodeTable[i], i);
    }
}

TEST_F(PaletteTables, ExtremeGammaStaysInRange) {
    GammaSet(std::numeric_limits<float>::infinity());
    GammaTablesBuild();
    EXPECT_EQ(GammaDecodeTable[254], 0);
    EXPECT_EQ(GammaDecodeTable[255], 255);
    EXPECT_EQ(GammaEncodeTable[1], 255);
    GammaSet(std::numeric_limits<float>::denorm_min());
    GammaTablesBuild();
    EXPECT_EQ(GammaDecodeTable[1], 255);
    EXPECT_EQ(GammaEncodeTable[254], 0);
}

TEST_F(PaletteTables, GammaEncodeDecodeInPlace) {
    GammaSet(2.2f);
    GammaTablesBuild();
    uint8_t rgb[3] = {10, 128, 255};
    GammaDecode(rgb, rgb);
    EXPECT_EQ(rgb[0], GammaDecodeTable[10]);
    EXPECT_EQ(rgb[1], GammaDecodeTable[128]);
    EXPECT_EQ(rgb[2], 255);
    uint8_t out[3];
    GammaEncode(rgb, out);
    EXPECT_EQ(out[1], GammaEncodeTable[GammaDecodeTable[128]]);
}

TEST_F(PaletteTables, HsvPrimariesAndClamps) {
    uint8_t rgb[3];
    HsvToRgb(0.0f, 1.0f, 1.0f, rgb);
    EXPECT_EQ(rgb[0], 255); EXPECT_EQ(rgb[1], 0); EXPECT_EQ(rgb[2], 0);
    HsvToRgb(std::bit_cast<float>(0x3F2AAA3Bu), 1.0f, 1.0f, rgb);  // 2/3: blue
    EXPECT_EQ(rgb[0], 0); EXPECT_EQ(rgb[1], 0); EXPECT_EQ(rgb[2], 255);
    HsvToRgb(0.5f, 0.5f, 1.0f, rgb);  // cyan, half saturated
    EXPECT_EQ(rgb[0], 127); EXPECT_EQ(rgb[1], 255); EXPECT_EQ(rgb[2], 255);
    HsvToRgb(-1.0f, 0.0f, 0.5f, rgb);  // grey: hue clamped to 0
    EXPECT_EQ(rgb[0], 127); EXPECT_EQ(rgb[1], 127); EXPECT_EQ(rgb[2], 127);
    HsvToRgb(-0.25f, 1.0f, 1.0f, rgb);  // negative hue: red
    EXPECT_EQ(rgb[0], 255); EXPECT_EQ(rgb[1], 0); EXPECT_EQ(rgb[2], 0);
    // Hue 1.0, or anything clamped to it, is sector 6 and writes nothing.
    for (float h : {1.0f, 3.0f, std::numeric_limits<float>::quiet_NaN()}) {
        uint8_t untouched[3] = {1, 2, 3};
        HsvToRgb(h, 1.0f, 1.0f, untouched);
        EXPECT_EQ(untouched[0], 1); EXPECT_EQ(untouched[1], 2); EXPECT_EQ(untouched[2], 3);
    }
    // Values outside 0..1 saturate instead of wrapping.
    HsvToRgb(0.0f, 0.0f, 2.0f, rgb);
    EXPECT_EQ(rgb[0], 255);
    HsvToRgb(0.0f, 0.0f, -1.0f, rgb);
    EXPECT_EQ(rgb[0], 0);
}

// The default palette recomputed from the formulas in double precision.
void ReferenceHsv(double hue, double s, double v, int* rgb) {
    if (hue < 0) hue = 0;
    const double d = hue * 6.0;
    const int sector = static_cast<int>(d);
    const double frac = d - sector;
    const int g = static_cast<int>(v * 255.0);
    const int p = static_cast<int>(static_cast<float>((1.0 - s) * v) * 255.0);
    const int q = static_cast<int>(static_cast<float>(v * (1.0 - s * frac)) * 255.0);
    const int t = static_cast<int>(static_cast<float>(v * (1.0 - s * (1.0 - frac))) * 255.0);
    const int table[6][3] = {{g, t, p}, {q, g, p}, {p, g, t}, {p, q, g}, {t, p, g}, {g, p, q}};
    for (int k = 0; k < 3; ++k) rgb[k] = table[sector][k];
}

TEST_F(PaletteTables, DefaultPaletteLayout) {
    uint8_t out[3 * kDefaultPaletteColours + 3];
    out[3 * kDefaultPaletteColours] = 0xEE;  // nothing written past the 221 colours
    ASSERT_EQ(PaletteBuildDefault(out), 221);
    EXPECT_EQ(out[3 * kDefaultPaletteColours], 0xEE);
    // Slot 0 black, then the grey ramp rising.
    EXPECT_EQ(out[0] | out[1] | out[2], 0);
    for (int k = 1; k <= 22; ++k) {
        EXPECT_EQ(out[3 * k], out[3 * k + 1]);
        EXPECT_EQ(out[3 * k], out[3 * k + 2]);
        EXPECT_GE(out[3 * k], out[3 * (k - 1)]);
    }
    // Slot 23 starts the full-saturation red ramp: its first colour is the
    // dark step above black, not black (black was overwritten by grey's top).
    EXPECT_GT(out[3 * 23], 0);
    EXPECT_EQ(out[3 * 23 + 1], 0);
    EXPECT_EQ(out[3 * 22], out[3 * 22 + 2]);
    // The matcher was rebuilt with the current gamma tables.
    EXPECT_NE(OctreeRoot, nullptr);
}

TEST_F(PaletteTables, DefaultPaletteMatchesTheFormulas) {
    GammaSet(2.2f);
    uint8_t out[3 * kDefaultPaletteColours];
    ASSERT_EQ(PaletteBuildDefault(out), 221);
    struct Ramp { double hue, saturation; };
    // In palette order, slots 0 + 22 r + 1 .. 22 r + 22.
    const Ramp ramps[10] = {{-1.0, 0.0}, {0.0, 1.0}, {0.0, 0.5}, {std::bit_cast<float>(0x3DAAA8EBu), 1.0},
                            {std::bit_cast<float>(0x3E2AA8EBu), 1.0}, {std::bit_cast<float>(0x3EAAAA3Bu), 1.0},
                            {std::bit_cast<float>(0x3EAAAA3Bu), 0.5}, {0.5, 1.0},
                            {std::bit_cast<float>(0x3F2AAA3Bu), 1.0}, {std::bit_cast<float>(0x3F55551Du), 1.0}};
    for (int r = 0; r < 10; ++r) {
        // Value and saturation accumulate in single precision, as stated.
        float v = 0.0f;
        float sat = static_cast<float>(ramps[r].saturation);
        const float fall = -(sat * 0.16666667f);
        for (int k = 0; k <= 22; ++k) {
            if (k == 17) v = 0.8f;
            int lin[3];
            ReferenceHsv(ramps[r].hue, sat, v, lin);
            if (k < 17) {
                v += 0.0470588244f;
            } else {
                v += 0.033333335f;
                sat += fall;
            }
            if (k == 0) continue;  // overwritten by the next ramp's top colour
            const int slot = 22 * r + k;
            for (int c = 0; c < 3; ++c) {
                const int want = static_cast<int>(255.0 * std::pow(lin[c] / 255.0, 1.0 / double{2.2f}) + 0.5);
                EXPECT_EQ(out[3 * slot + c], want) << "slot " << slot << " channel " << c;
            }
        }
    }
}

TEST_F(PaletteTables, DefaultPaletteGolden) {
    uint8_t out[3 * kDefaultPaletteColours];
    PaletteBuildDefault(out);
    EXPECT_EQ(Crc(out, sizeof out), 633132329u);
    GammaSet(2.2f);
    PaletteBuildDefault(out);
    EXPECT_EQ(Crc(out, sizeof out), 3862497807u);
    GammaSet(1.0f);
    PaletteBuildDefault(out);
    EXPECT_EQ(Crc(out, sizeof out), 782944465u);
}

TEST_F(PaletteTables, HueRampShape) {
    uint8_t out[3 * 23];
    GammaSet(1.0f);
    GammaTablesBuild();
    EXPECT_EQ(HueRamp(out, 0.0f, 1.0f), 23);
    EXPECT_EQ(out[0], 0);
    // Value 16 x 0.0470588244 ~ 0.7529 at slot 16, then 0.8 at slot 17.
    EXPECT_TRUE(out[3 * 16] == 191 || out[3 * 16] == 192);
    EXPECT_EQ(out[3 * 17], 204);
    EXPECT_EQ(out[3 * 17 + 1], 0);  // full saturation still
    // The last colour has a sixth of the saturation left.
    EXPECT_GT(out[3 * 22 + 1], 150);
    EXPECT_LT(out[3 * 22 + 1], out[3 * 22]);
}

}  // namespace
