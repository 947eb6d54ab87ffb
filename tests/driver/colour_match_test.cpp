// Colour matcher: the lazily refined tree must answer as near as the nearest
// usable palette entry, everywhere.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "driver/core/colour_match.h"
#include "driver/core/palette.h"
#include "palette_test_engine.h"

namespace {

using palette_test::TestEngine;

int DecodedDistance(int e, const uint8_t* rgb) {
    const int d[3] = {GammaDecodeTable[PaletteRed[e]] - rgb[0], GammaDecodeTable[PaletteGreen[e]] - rgb[1],
                      GammaDecodeTable[PaletteBlue[e]] - rgb[2]};
    return d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
}

// Smallest squared distance over every usable entry, straight from the mask.
int BruteForceDistance(const uint8_t* rgb) {
    int best = -1;
    for (int e = 0; e < 256; ++e) {
        if (!((PaletteUsableMask[e >> 5] >> (e & 31)) & 1)) continue;
        const int d = DecodedDistance(e, rgb);
        if (best < 0 || d < best) best = d;
    }
    return best;
}

bool Usable(int e) { return (PaletteUsableMask[e >> 5] >> (e & 31)) & 1; }

int TreeDepth(const OctreeNode* n) {
    if (!n || n->count > 0) return 0;
    int deepest = 0;
    for (const OctreeNode* c : n->child) deepest = std::max(deepest, TreeDepth(c));
    return deepest + 1;
}

void SetEntry(int e, uint8_t r, uint8_t g, uint8_t b) {
    PaletteRed[e] = r;
    PaletteGreen[e] = g;
    PaletteBlue[e] = b;
}

class ColourMatch : public ::testing::Test {
protected:
    void SetUp() override { PaletteReset(); }
    void TearDown() override {
        OctreeFree();
        EXPECT_EQ(engine.bad_frees, 0);
        EXPECT_TRUE(engine.live.empty()) << engine.live.size() << " blocks left";
        PaletteReset();
    }

    void InstallDefaultPalette() {
        uint8_t colours[3 * kDefaultPaletteColours];
        ASSERT_EQ(PaletteBuildDefault(colours), kDefaultPaletteColours);
        for (int k = 0; k < kDefaultPaletteColours; ++k)
            SetEntry(kDefaultPaletteFirst + k, colours[3 * k], colours[3 * k + 1], colours[3 * k + 2]);
    }

    // Every colour of a 64 x 64 x 64 grid (2^18) whose steps also touch the
    // low bits, 0, 128 and 255; a strided subset under the sanitizers.
    void CheckGrid(int stride) {
        int checked = 0;
        for (int r = 0; r < 64; r += stride)
            for (int g = 0; g < 64; g += stride)
                for (int b = 0; b < 64; b += stride) {
                    const uint8_t rgb[3] = {static_cast<uint8_t>(4 * r + (r & 3)),
                                            static_cast<uint8_t>(4 * g + (g & 3)),
                                            static_cast<uint8_t>(4 * b + (b & 3))};
                    const int got = OctreeNearestColour(rgb);
                    ASSERT_GE(got, 0);
                    ASSERT_TRUE(Usable(got)) << got;
                    ASSERT_EQ(DecodedDistance(got, rgb), BruteForceDistance(rgb))
                        << int(rgb[0]) << "," << int(rgb[1]) << "," << int(rgb[2]) << " got " << got;
                    ++checked;
                }
        EXPECT_GT(checked, 0);
    }

    static int GridStride() {
#if defined(__SANITIZE_ADDRESS__)
        return 3;
#else
        return 1;
#endif
    }

    TestEngine engine;
};

TEST_F(ColourMatch, DefaultPaletteGridMatchesBruteForce) {
    ASSERT_NO_FATAL_FAILURE(InstallDefaultPalette());
    ColourMatcherRebuild();
    ASSERT_NO_FATAL_FAILURE(CheckGrid(GridStride()));
    EXPECT_LE(TreeDepth(OctreeRoot), 8);
}

TEST_F(ColourMatch, RandomPalettesAndMasksMatchBruteForce) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 3; ++round) {
        for (int e = 0; e < 256; ++e)
            SetEntry(e, static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()));
        for (int e = 0; e < 256; ++e) PaletteUsableSet(e, (rng() % 4) ? 2 : 1);
        GammaSet(round == 0 ? 1.0f : 2.2f);
        ColourMatcherRebuild();
        // Random queries in a fresh tree, then a second pass over a refined one.
        for (int pass = 0; pass < 2; ++pass) {
            std::mt19937 q(77 + round);
            for (int k = 0; k < 20000; ++k) {
                const uint8_t rgb[3] = {static_cast<uint8_t>(q()), static_cast<uint8_t>(q()),
                                        static_cast<uint8_t>(q())};
                const int got = OctreeNearestColour(rgb);
                ASSERT_TRUE(got >= 0 && Usable(got));
                ASSERT_EQ(DecodedDistance(got, rgb), BruteForceDistance(rgb));
            }
        }
    }
}

TEST_F(ColourMatch, ClusteredPaletteForcesDeepRefinement) {
    // Many near-identical colours around one point drive the tree to its
    // depth limit, where leaves may keep more than 8 candidates.
    GammaSet(1.0f);
    for (int e = 0; e < 256; ++e) {
        SetEntry(e, static_cast<uint8_t>(120 + (e & 7)), static_cast<uint8_t>(120 + ((e >> 3) & 7)),
                 static_cast<uint8_t>(120 + ((e >> 6) & 3)));
        PaletteUsableSet(e, 2);
    }
    ColourMatcherRebuild();
    for (int r = 110; r < 140; ++r)
        for (int g = 110; g < 140; g += 3)
            for (int b = 115; b < 130; b += 2) {
                const uint8_t rgb[3] = {static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b)};
                const int got = OctreeNearestColour(rgb);
                ASSERT_EQ(DecodedDistance(got, rgb), BruteForceDistance(rgb));
            }
    EXPECT_LE(TreeDepth(OctreeRoot), 8);
    EXPECT_GT(TreeDepth(OctreeRoot), 3);
}

TEST_F(ColourMatch, DuplicateDecodedColoursKeepLowestIndex) {
    GammaSet(1.0f);
    SetEntry(40, 10, 20, 30);
    SetEntry(25, 10, 20, 30);
    SetEntry(60, 200, 200, 200);
    for (int e = 0; e < 256; ++e) PaletteUsableSet(e, (e == 25 || e == 40 || e == 60) ? 2 : 1);
    ColourMatcherRebuild();
    // Before any query the root leaf holds the whole candidate list.
    ASSERT_NE(OctreeRoot, nullptr);
    ASSERT_EQ(OctreeRoot->count, 2);
    EXPECT_EQ(OctreeRoot->list[0], 25);
    EXPECT_EQ(OctreeRoot->list[1], 60);
    const uint8_t q[3] = {10, 20, 30};
    EXPECT_EQ(OctreeNearestColour(q), 25);
}

TEST_F(ColourMatch, DisplayValuesDecodingAlikeAreOneCandidate) {
    // At gamma 2.2 the display values 1 and 2 both decode to 0.
    GammaSet(2.2f);
    GammaTablesBuild();
    ASSERT_EQ(GammaDecodeTable[1], GammaDecodeTable[2]);
    SetEntry(30, 1, 0, 0);
    SetEntry(20, 2, 0, 0);
    for (int e = 0; e < 256; ++e) PaletteUsableSet(e, (e == 20 || e == 30) ? 2 : 1);
    ColourMatcherRebuild();
    ASSERT_NE(OctreeRoot, nullptr);
    ASSERT_EQ(OctreeRoot->count, 1);
    EXPECT_EQ(OctreeRoot->list[0], 20);
}

TEST_F(ColourMatch, HalfwayQueryReturnsEarlierCandidate) {
    GammaSet(1.0f);
    SetEntry(10, 100, 0, 0);
    SetEntry(20, 0, 0, 0);
    for (int e = 0; e < 256; ++e) PaletteUsableSet(e, (e == 10 || e == 20) ? 2 : 1);
    ColourMatcherRebuild();
    const uint8_t mid[3] = {50, 0, 0};
    EXPECT_EQ(OctreeNearestColour(mid), 10);
    const uint8_t nearer_black[3] = {49, 0, 0};
    EXPECT_EQ(OctreeNearestColour(nearer_black), 20);
    // ColourCloser is the difference of squared distances.
    EXPECT_EQ(ColourCloser(10, 20, mid), 0);
    EXPECT_EQ(ColourCloser(10, 20, nearer_black), 49 * 49 - 51 * 51);
}

TEST_F(ColourMatch, EightCandidatesNeverSplit) {
    GammaSet(1.0f);
    for (int e = 0; e < 256; ++e) PaletteUsableSet(e, 1);
    for (int k = 0; k < 8; ++k) {
        SetEntry(100 + k, static_cast<uint8_t>(k * 30), static_cast<uint8_t>(255 - k * 30), static_cast<uint8_t>(k * 7));
        PaletteUsableSet(100 + k, 2);
    }
    ColourMatcherRebuild();
    std::mt19937 rng(5);
    for (int k = 0; k < 2000; ++k) {
        const uint8_t rgb[3] = {static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng())};
        ASSERT_EQ(DecodedDistance(OctreeNearestColour(rgb), rgb), BruteForceDistance(rgb));
    }
    ASSERT_NE(OctreeRoot, nullptr);
    EXPECT_EQ(OctreeRoot->count, 8);
}

TEST_F(ColourMatch, NineCandidatesSplitOnFirstQuery) {
    GammaSet(1.0f);
    for (int e = 0; e < 256; ++e) PaletteUsableSet(e, 1);
    for (int k = 0; k < 9; ++k) {
        SetEntry(100 + k, static_cast<uint8_t>(k * 28), static_cast<uint8_t>(k * 13), static_cast<uint8_t>(255 - k * 28));
        PaletteUsableSet(100 + k, 2);
    }
    ColourMatcherRebuild();
    ASSERT_EQ(OctreeRoot->count, 9);
    const uint8_t q[3] = {3, 3, 3};
    OctreeNearestColour(q);
    EXPECT_EQ(OctreeRoot->count, 0);
}

TEST_F(ColourMatch, MidpointGoesToUpperHalf) {
    // Red 128 at the root takes child 1 (red upper half): only that child is
    // refined further by the query.
    GammaSet(1.0f);
    for (int e = 0; e < 256; ++e) {
        SetEntry(e, static_cast<uint8_t>(e), static_cast<uint8_t>((e * 37) & 0xFF), static_cast<uint8_t>((e * 91) & 0xFF));
        PaletteUsableSet(e, 2);
    }
    ColourMatcherRebuild();
    const uint8_t q[3] = {128, 0, 0};
    OctreeNearestColour(q);
    ASSERT_EQ(OctreeRoot->count, 0);
    EXPECT_EQ(OctreeRoot->child[1]->count, 0);  // refined along the path
    EXPECT_GT(OctreeRoot->child[0]->count, 0);  // still a leaf
    const uint8_t below[3] = {127, 0, 0};
    OctreeNearestColour(below);
    EXPECT_EQ(OctreeRoot->child[0]->count, 0);
}

TEST_F(ColourMatch, NoTreeAnswersMinusOne) {
    ASSERT_NO_FATAL_FAILURE(InstallDefaultPalette());
    ColourMatcherRebuild();
    const uint8_t q[3] = {1, 2, 3};
    EXPECT_GE(OctreeNearestColour(q), 0);
    EXPECT_EQ(OctreeNearestColour(nullptr), -1);
    OctreeFree();
    EXPECT_EQ(OctreeNearestColour(q), -1);
    EXPECT_EQ(ColourToPaletteIndex(q), -1);
    // No usable entries: no tree either.
    for (int e = 0; e < 256; ++e) PaletteUsableSet(e, 1);
    ColourMatcherRebuild();
    EXPECT_EQ(OctreeRoot, nullptr);
    EXPECT_EQ(OctreeNearestColour(q), -1);
}

TEST_F(ColourMatch, ResetResults) {
    const uint8_t list[3] = {12, 40, 90};
    EXPECT_EQ(OctreeReset(3, list), 0);
    ASSERT_NE(OctreeRoot, nullptr);
    EXPECT_EQ(OctreeRoot->count, 3);
    EXPECT_NE(OctreeRoot->list, list);  // a copy
    EXPECT_EQ(OctreeReset(0, nullptr), 1);
    EXPECT_EQ(OctreeRoot, nullptr);
    EXPECT_EQ(OctreeReset(0, list), 0);
    EXPECT_EQ(OctreeRoot, nullptr);
}

TEST_F(ColourMatch, FailedInitialCopyLeavesNoTree) {
    ASSERT_NO_FATAL_FAILURE(InstallDefaultPalette());
    engine.fail_after = 0;
    ColourMatcherRebuild();
    EXPECT_EQ(OctreeRoot, nullptr);
    const uint8_t q[3] = {9, 9, 9};
    EXPECT_EQ(OctreeNearestColour(q), -1);
    // Only the node succeeded: its list copy failed, so nothing is kept.
    engine.fail_after = 1;
    ColourMatcherRebuild();
    EXPECT_EQ(OctreeRoot, nullptr);
    engine.fail_after = -1;
}

TEST_F(ColourMatch, AllocationFailureDuringRefinementStillAnswers) {
    ASSERT_NO_FATAL_FAILURE(InstallDefaultPalette());
    ColourMatcherRebuild();
    std::mt19937 rng(11);
    // Fail at every point of the first split in turn: the answer comes from
    // the unsplit leaf and is still the nearest; nothing leaks.
    for (long allow = 0; allow < 20; ++allow) {
        ColourMatcherRebuild();
        engine.fail_after = allow;
        const uint8_t rgb[3] = {static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng())};
        const int got = OctreeNearestColour(rgb);
        engine.fail_after = -1;
        ASSERT_GE(got, 0);
        EXPECT_EQ(DecodedDistance(got, rgb), BruteForceDistance(rgb)) << allow;
        if (allow == 0) {
            EXPECT_GT(OctreeRoot->count, 0);  // root could not split
        }
    }
    // With memory back, a later query refines.
    ColourMatcherRebuild();
    engine.fail_after = 0;
    const uint8_t q[3] = {200, 10, 10};
    OctreeNearestColour(q);
    EXPECT_GT(OctreeRoot->count, 0);
    engine.fail_after = -1;
    OctreeNearestColour(q);
    EXPECT_EQ(OctreeRoot->count, 0);
    ASSERT_NO_FATAL_FAILURE(CheckGrid(8));
}

TEST_F(ColourMatch, RebuildFreesTheRefinedTree) {
    ASSERT_NO_FATAL_FAILURE(InstallDefaultPalette());
    ColourMatcherRebuild();
    ASSERT_NO_FATAL_FAILURE(CheckGrid(4));
    const size_t refined = engine.live.size();
    ColourMatcherRebuild();
    EXPECT_LT(engine.live.size(), refined);
    EXPECT_EQ(engine.live.size(), 2u);  // root node and its list
}

}  // namespace
