// Basic span fillers against a plain reference written from the row rules,
// on small frames with canary bands around every row.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "driver/spans/span_state.h"

namespace {

constexpr int kWidth = 64;       // drawable columns
constexpr int kMargin = 16;      // canary columns left and right, canary rows above and below
constexpr int kRows = 40;
constexpr int kPitch = kWidth + 2 * kMargin;
constexpr uint8_t kCanary = 0xCD;
constexpr uint16_t kDepthCanary = 0xC0DE;

enum class Kind { Flat, FlatZ, Textured, TexturedZ, Lit, LitZ, Smooth, SmoothZ };

bool HasDepth(Kind k) {
    return k == Kind::FlatZ || k == Kind::TexturedZ || k == Kind::LitZ || k == Kind::SmoothZ;
}
bool IsTextured(Kind k) {
    return k == Kind::Textured || k == Kind::TexturedZ || k == Kind::Lit || k == Kind::LitZ;
}
bool IsLit(Kind k) { return k == Kind::Lit || k == Kind::LitZ; }
bool IsSmooth(Kind k) { return k == Kind::Smooth || k == Kind::SmoothZ; }

void RunFiller(Kind k, SpanState* s) {
    switch (k) {
        case Kind::Flat: SpanFlat(s); break;
        case Kind::FlatZ: SpanFlatZ(s); break;
        case Kind::Textured: SpanTextured(s); break;
        case Kind::TexturedZ: SpanTexturedZ(s); break;
        case Kind::Lit: SpanTexturedLit(s); break;
        case Kind::LitZ: SpanTexturedLitZ(s); break;
        case Kind::Smooth: SpanSmooth(s); break;
        case Kind::SmoothZ: SpanSmoothZ(s); break;
    }
}

// A frame and a depth buffer with canary bands.
struct Frame {
    std::vector<uint8_t> pixels = std::vector<uint8_t>(kPitch * (kRows + 2 * kMargin), kCanary);
    std::vector<uint16_t> depth = std::vector<uint16_t>(kPitch * (kRows + 2 * kMargin), kDepthCanary);

    uint8_t* Row(int y) { return pixels.data() + (y + kMargin) * kPitch + kMargin; }
    uint16_t* DepthRow(int y) { return depth.data() + (y + kMargin) * kPitch + kMargin; }
    uint8_t& At(int x, int y) { return Row(y)[x]; }

    void Randomise(std::mt19937& rng) {
        for (int y = 0; y < kRows; ++y)
            for (int x = 0; x < kWidth; ++x) {
                Row(y)[x] = static_cast<uint8_t>(rng());
                DepthRow(y)[x] = static_cast<uint16_t>(rng());
            }
    }
    bool CanariesIntact() {
        for (int y = -kMargin; y < kRows + kMargin; ++y)
            for (int x = -kMargin; x < kWidth + kMargin; ++x) {
                const bool inside = y >= 0 && y < kRows && x >= 0 && x < kWidth;
                if (inside) continue;
                const size_t i = static_cast<size_t>((y + kMargin) * kPitch + x + kMargin);
                if (pixels[i] != kCanary || depth[i] != kDepthCanary) return false;
            }
        return true;
    }
};

// Textures and shade rows the fillers read.
struct Tables {
    alignas(256) uint8_t shade[2][256];
    uint8_t texels[128 * 128];

    explicit Tables(std::mt19937& rng, int zero_share = 4) {
        for (auto& row : shade)
            for (auto& b : row) b = static_cast<uint8_t>(rng());
        for (auto& t : texels) t = (rng() % zero_share == 0) ? 0 : static_cast<uint8_t>(rng());
    }
};

uint32_t Add(uint32_t a, uint32_t b) { return a + b; }

// Reference: one pixel at a time, from the rules. Packed u and v are stepped as
// separate 15-bit quantities.
void Reference(Kind k, SpanState& s) {
    const uint8_t* shade_row = s.ShadeRow;
    for (int32_t row = 0; row < s.RowCount; ++row) {
        s.LeftX = static_cast<int32_t>(Add(s.LeftX, s.LeftXStep));
        s.RightX = static_cast<int32_t>(Add(s.RightX, s.RightXStep));
        if (IsTextured(k)) {
            const uint32_t u = (s.Interp + s.InterpRowStep) & 0x7FFF;
            const uint32_t v = ((s.Interp >> 16) + (s.InterpRowStep >> 16)) & 0x7FFF;
            s.Interp = (v << 16) | u;
        } else if (IsSmooth(k)) {
            s.Interp += s.InterpRowStep;
        }
        if (HasDepth(k)) s.Depth = static_cast<int32_t>(Add(s.Depth, s.DepthRowStep));
        const int xl = s.LeftX / 65536, xr = s.RightX / 65536;
        uint32_t noise = 0;
        if (IsSmooth(k) && xr > xl) noise = s.DitherRowX[xl & 7] ^ (s.RowSeed & 0xFF);
        for (int x = xl; x < xr; ++x) {
            const uint32_t i = static_cast<uint32_t>(x - xl);
            bool write = true;
            uint8_t pixel = static_cast<uint8_t>(s.FlatColour);
            if (IsTextured(k)) {
                const uint32_t u = (s.Interp + i * s.InterpStep) & 0x7FFF;
                const uint32_t v = ((s.Interp >> 16) + i * (s.InterpStep >> 16)) & 0x7FFF;
                const uint8_t t = s.Texels[(v >> 8) * 128 + (u >> 8)];
                write = t != 0;
                pixel = IsLit(k) ? shade_row[t] : t;
            } else if (IsSmooth(k)) {
                const uint32_t sh = s.Interp + i * s.InterpStep;
                pixel = shade_row[((sh + (noise & 0xFF)) >> 8) & 0xFF];
                noise ^= noise >> 6;
            }
            if (HasDepth(k)) {
                const uint16_t d = static_cast<uint16_t>(Add(s.Depth, i * s.DepthStep) >> 16);
                uint16_t* cell = s.DepthRowAddress + x;
                write = write && *cell <= d;
                if (write) *cell = d;
            }
            if (write) s.RowAddress[x] = pixel;
        }
        s.RowAddress += s.RowPitch;
        if (HasDepth(k)) s.DepthRowAddress = StepDepthRow(s.DepthRowAddress, s.DepthPitch);
        if (IsSmooth(k)) s.RowSeed ^= s.RowSeed >> 6;
    }
    s.RowCount = 0;
}

// A random section whose edges stay inside the frame on every row.
SpanState RandomSection(std::mt19937& rng, Kind k, Frame& f, const Tables& t, int top, int rows) {
    SpanState s{};
    auto edge = [&](int32_t& x, int32_t& step) {
        const int32_t a = static_cast<int32_t>(rng() % (kWidth << 16));
        const int32_t b = static_cast<int32_t>(rng() % (kWidth << 16));
        step = (b - a) / rows;
        x = a - step;  // stepped once before the first row
        if (x < 0 || x >= (kWidth << 16)) {
            x = a;
            step = 0;
        }
    };
    edge(s.LeftX, s.LeftXStep);
    edge(s.RightX, s.RightXStep);
    // Three sections in four start with the edges in order; the rest may
    // draw empty rows.
    if (rng() % 4 != 0 && s.LeftX > s.RightX) {
        std::swap(s.LeftX, s.RightX);
        std::swap(s.LeftXStep, s.RightXStep);
    }
    s.RowCount = rows;
    s.RowAddress = f.Row(top);
    s.RowPitch = kPitch;
    s.DepthRowAddress = f.DepthRow(top);
    s.DepthPitch = kPitch * 2;
    s.FlatColour = rng();
    s.Texels = t.texels;
    s.ShadeRow = t.shade[rng() % 2];
    if (IsTextured(k)) {
        auto packed = [&] { return static_cast<uint32_t>(rng()) & 0x7FFF7FFFu; };
        s.Interp = packed();
        s.InterpRowStep = packed();
        s.InterpStep = packed();
    } else {
        s.Interp = rng() & 0xFFFF;
        s.InterpRowStep = static_cast<uint32_t>(static_cast<int32_t>(rng() % 0x200) - 0x100);
        s.InterpStep = static_cast<uint32_t>(static_cast<int32_t>(rng() % 0x100) - 0x80);
    }
    s.Depth = static_cast<int32_t>(rng());
    s.DepthRowStep = static_cast<int32_t>(rng() % 0x20000) - 0x10000;
    s.DepthStep = static_cast<int32_t>(rng() % 0x80000) - 0x40000;
    s.RowSeed = rng();
    s.DitherRowX = &DitherMatrices[0][rng() % 8];
    return s;
}

void ExpectSameState(const SpanState& a, const SpanState& b, Kind k) {
    EXPECT_EQ(a.LeftX, b.LeftX);
    EXPECT_EQ(a.RightX, b.RightX);
    EXPECT_EQ(a.RowAddress, b.RowAddress);
    EXPECT_EQ(a.RowCount, b.RowCount);
    if (IsTextured(k) || IsSmooth(k)) {
        EXPECT_EQ(a.Interp, b.Interp);
    }
    if (HasDepth(k)) {
        EXPECT_EQ(a.Depth, b.Depth);
        EXPECT_EQ(a.DepthRowAddress, b.DepthRowAddress);
    }
    if (IsSmooth(k)) {
        EXPECT_EQ(a.RowSeed, b.RowSeed);
    }
}

// The filler draws section s into got and the reference draws r, its copy addressed into
// want; frames and stepped state must agree. On return r's addresses are into got, as s's are.
void DrawBothAndCompare(Kind k, SpanState& s, SpanState& r, Frame& got, Frame& want, int round) {
    RunFiller(k, &s);
    Reference(k, r);
    ASSERT_EQ(got.pixels, want.pixels) << "round " << round;
    ASSERT_EQ(got.depth, want.depth) << "round " << round;
    ASSERT_TRUE(got.CanariesIntact());
    r.RowAddress = got.pixels.data() + (r.RowAddress - want.pixels.data());
    r.DepthRowAddress = got.depth.data() + (r.DepthRowAddress - want.depth.data());
    ExpectSameState(s, r, k);
}

// Section s as drawn into frame f from row top: the same state, other addresses.
SpanState CopyInto(const SpanState& s, Frame& f, int top) {
    SpanState c = s;
    c.RowAddress = f.Row(top);
    c.DepthRowAddress = f.DepthRow(top);
    return c;
}

// One random frame for the filler and the same bytes for the reference.
void RandomiseBoth(std::mt19937& rng, Frame& got, Frame& want) {
    got.Randomise(rng);
    want.pixels = got.pixels;
    want.depth = got.depth;
}

class SpanFillers : public ::testing::TestWithParam<Kind> {};

TEST_P(SpanFillers, MatchReferenceOnRandomSections) {
    const Kind k = GetParam();
    std::mt19937 rng(1000 + static_cast<int>(k));
    Tables tables(rng);
    for (int round = 0; round < 300; ++round) {
        Frame got, want;
        RandomiseBoth(rng, got, want);
        const int rows = 1 + static_cast<int>(rng() % 12);
        const int top = static_cast<int>(rng() % (kRows - rows - 4));  // room for the second section
        SpanState s = RandomSection(rng, k, got, tables, top, rows);
        SpanState r = CopyInto(s, want, top);
        ASSERT_NO_FATAL_FAILURE(DrawBothAndCompare(k, s, r, got, want, round));
        if (HasFatalFailure()) return;
        // A second section continues from the stepped state.
        const int more = 1 + static_cast<int>(rng() % 4);
        s.RowCount = more;
        r.RowCount = more;
        r.RowAddress = want.pixels.data() + (s.RowAddress - got.pixels.data());
        r.DepthRowAddress = want.depth.data() + (s.DepthRowAddress - got.depth.data());
        s.LeftXStep = r.LeftXStep = 0;
        s.RightXStep = r.RightXStep = 0;
        SCOPED_TRACE("second section");
        ASSERT_NO_FATAL_FAILURE(DrawBothAndCompare(k, s, r, got, want, round));
        if (HasFatalFailure()) return;
    }
}

// Sections of a small triangle: edges at most about eight pixels apart, so that
// most sections have only rows shorter than a group and some end on a row of
// eight or nine, over depths that pass and fail from pixel to pixel.
TEST_P(SpanFillers, MatchReferenceOnNarrowSections) {
    const Kind k = GetParam();
    std::mt19937 rng(2000 + static_cast<int>(k));
    Tables tables(rng);
    for (int round = 0; round < 600; ++round) {
        Frame got, want;
        RandomiseBoth(rng, got, want);
        const int rows = 1 + static_cast<int>(rng() % 8);
        const int top = static_cast<int>(rng() % (kRows - rows));
        SpanState s = RandomSection(rng, k, got, tables, top, rows);
        const auto place = [&](int32_t first, int32_t last, int32_t& x, int32_t& step) {
            step = rows > 1 ? (last - first) / (rows - 1) : 0;
            x = first - step;
        };
        const int32_t room = (kWidth - 10) << 16;
        const int32_t a0 = static_cast<int32_t>(rng() % room), a1 = static_cast<int32_t>(rng() % room);
        const int32_t w0 = static_cast<int32_t>(rng() % (8 << 16)), w1 = static_cast<int32_t>(rng() % (9 << 16));
        place(a0, a1, s.LeftX, s.LeftXStep);
        place(a0 + w0, a1 + w1, s.RightX, s.RightXStep);
        SpanState r = CopyInto(s, want, top);
        ASSERT_NO_FATAL_FAILURE(DrawBothAndCompare(k, s, r, got, want, round));
        if (HasFatalFailure()) return;
    }
}

// Narrow sections over a depth buffer that holds, at about a third of the cells each, the
// very depth the section draws there, one less, or one more: equal depths are overwritten
// in every depth family's short rows, as in the wide ones.
TEST_P(SpanFillers, NarrowSectionsOverwriteEqualDepths) {
    const Kind k = GetParam();
    if (!HasDepth(k)) GTEST_SKIP() << "no depth buffer";
    std::mt19937 rng(4000 + static_cast<int>(k));
    Tables tables(rng);
    std::mt19937 opaque_rng(5);
    const Tables opaque(opaque_rng, 1 << 30);  // no transparent texel: every covered cell is written
    for (int round = 0; round < 300; ++round) {
        Frame got, want, drawn;
        RandomiseBoth(rng, got, want);
        const int rows = 1 + static_cast<int>(rng() % 8);
        const int top = static_cast<int>(rng() % (kRows - rows));
        SpanState s = RandomSection(rng, k, got, tables, top, rows);
        // Edges move at most a pixel a row, so the section stays eight pixels clear of the sides.
        const int32_t left = (8 << 16) + static_cast<int32_t>(rng() % ((kWidth - 26) << 16));
        s.LeftX = left;
        s.RightX = left + static_cast<int32_t>(rng() % (8 << 16));
        s.LeftXStep = s.RightXStep = static_cast<int32_t>(rng() % 0x20000) - 0x10000;
        // The depth of each covered cell, from the reference over a cleared buffer.
        std::fill(drawn.depth.begin(), drawn.depth.end(), 0);
        SpanState d = CopyInto(s, drawn, top);
        d.Texels = opaque.texels;
        Reference(k, d);
        for (int y = top; y < top + rows; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const uint16_t depth = drawn.DepthRow(y)[x];
                if (depth == 0) continue;
                got.DepthRow(y)[x] = want.DepthRow(y)[x] = static_cast<uint16_t>(depth - 1 + rng() % 3);
            }
        SpanState r = CopyInto(s, want, top);
        ASSERT_NO_FATAL_FAILURE(DrawBothAndCompare(k, s, r, got, want, round));
        if (HasFatalFailure()) return;
    }
}

TEST_P(SpanFillers, CoincidingEdgesDrawNothingButStep) {
    const Kind k = GetParam();
    std::mt19937 rng(3);
    Tables tables(rng);
    Frame f;
    f.Randomise(rng);
    const Frame before = f;
    SpanState s = RandomSection(rng, k, f, tables, 2, 5);
    s.LeftX = s.RightX = 20 << 16;
    s.LeftXStep = s.RightXStep = 0x8000;
    uint8_t* const start = s.RowAddress;
    RunFiller(k, &s);
    EXPECT_EQ(f.pixels, before.pixels);
    EXPECT_EQ(f.depth, before.depth);
    EXPECT_EQ(s.RowAddress, start + 5 * kPitch);
    EXPECT_EQ(s.LeftX, (20 << 16) + 5 * 0x8000);
    EXPECT_EQ(s.RightX, s.LeftX);
}

INSTANTIATE_TEST_SUITE_P(AllEight, SpanFillers,
                         ::testing::Values(Kind::Flat, Kind::FlatZ, Kind::Textured, Kind::TexturedZ,
                                           Kind::Lit, Kind::LitZ, Kind::Smooth, Kind::SmoothZ));

SpanState FlatRow(Frame& f, int32_t left, int32_t right) {
    SpanState s{};
    s.LeftX = left;
    s.RightX = right;
    s.RowCount = 1;
    s.RowAddress = f.Row(0);
    s.RowPitch = kPitch;
    s.FlatColour = 0x1234;  // only the low byte counts
    return s;
}

TEST(SpanEdges, FractionalRightEdgeBelowNextColumnDrawsNothing) {
    Frame f;
    SpanState s = FlatRow(f, 10 << 16, (10 << 16) + 0xFD70);  // 10.0 .. 10.99
    SpanFlat(&s);
    for (int x = 0; x < kWidth; ++x) EXPECT_EQ(f.At(x, 0), kCanary);
    s = FlatRow(f, 10 << 16, 11 << 16);
    SpanFlat(&s);
    for (int x = 0; x < kWidth; ++x) EXPECT_EQ(f.At(x, 0), x == 10 ? 0x34 : kCanary) << x;
}

TEST(SpanEdges, FlatWideRowsAtEveryAlignment) {
    // The word-store path must cover exactly [xl, xr) whatever the alignment.
    for (int xl = 0; xl < 8; ++xl)
        for (int n = 0; n < 40; ++n) {
            Frame f;
            SpanState s = FlatRow(f, xl << 16, (xl + n) << 16);
            SpanFlat(&s);
            for (int x = 0; x < kWidth; ++x)
                ASSERT_EQ(f.At(x, 0), (x >= xl && x < xl + n) ? 0x34 : kCanary) << xl << " " << n;
            ASSERT_TRUE(f.CanariesIntact());
        }
}

TEST(SpanEdges, EqualDepthIsOverwrittenNearerOnlyOtherwise) {
    Frame f;
    SpanState s = FlatRow(f, 0, 3 << 16);
    s.Depth = 0x01230000;  // 0x0123 on every pixel
    s.DepthRowAddress = f.DepthRow(0);
    s.DepthPitch = kPitch * 2;
    f.DepthRow(0)[0] = 0x0123;  // equal: passes
    f.DepthRow(0)[1] = 0x0124;  // nearer already: fails
    f.DepthRow(0)[2] = 0x0000;  // cleared: passes
    SpanFlatZ(&s);
    EXPECT_EQ(f.At(0, 0), 0x34);
    EXPECT_EQ(f.At(1, 0), kCanary);
    EXPECT_EQ(f.At(2, 0), 0x34);
    EXPECT_EQ(f.DepthRow(0)[1], 0x0124);
    EXPECT_EQ(f.DepthRow(0)[2], 0x0123);
}

TEST(SpanEdges, DepthReadUnsignedFromTheHighHalf) {
    // 0xFFFF.8000 is the nearest depth there is, not a negative one.
    Frame f;
    SpanState s = FlatRow(f, 0, 1 << 16);
    s.Depth = static_cast<int32_t>(0xFFFF8000u);
    s.DepthRowAddress = f.DepthRow(0);
    f.DepthRow(0)[0] = 0x7FFF;
    SpanFlatZ(&s);
    EXPECT_EQ(f.DepthRow(0)[0], 0xFFFF);
    EXPECT_EQ(f.At(0, 0), 0x34);
}

TEST(SpanEdges, AllZeroTexelsWriteNeitherPixelNorDepth) {
    std::vector<uint8_t> texels(128 * 128, 0);
    alignas(256) static uint8_t shade[256];
    for (int i = 0; i < 256; ++i) shade[i] = static_cast<uint8_t>(255 - i);
    for (Kind k : {Kind::Textured, Kind::TexturedZ, Kind::Lit, Kind::LitZ}) {
        Frame f;
        for (int x = 0; x < kWidth; ++x) f.DepthRow(0)[x] = 0;
        const Frame before = f;
        SpanState s = FlatRow(f, 0, kWidth << 16);
        s.Texels = texels.data();
        s.ShadeRow = shade;
        s.InterpStep = 0x0100;
        s.Depth = 0x7FFF0000;
        s.DepthRowAddress = f.DepthRow(0);
        RunFiller(k, &s);
        EXPECT_EQ(f.pixels, before.pixels);
        EXPECT_EQ(f.depth, before.depth);
    }
}

TEST(SpanEdges, LitTexelGoesThroughTheShadeRow) {
    std::vector<uint8_t> texels(128 * 128, 7);
    alignas(256) static uint8_t shade[256];
    for (int i = 0; i < 256; ++i) shade[i] = static_cast<uint8_t>(i * 3);
    Frame f;
    SpanState s = FlatRow(f, 0, 2 << 16);
    s.Texels = texels.data();
    s.ShadeRow = shade;
    SpanTexturedLit(&s);
    EXPECT_EQ(f.At(0, 0), 21);
    EXPECT_EQ(f.At(1, 0), 21);
}

// Whether a lit pixel is drawn depends on its texel alone: an opaque texel
// whose shade is 0 or 255 is drawn like any other, on rows wide enough for
// whole groups.
TEST(SpanEdges, LitOpacityComesFromTheTexelNotItsShade) {
    std::vector<uint8_t> texels(128 * 128, 0);
    for (int x = 0; x < kWidth; ++x) texels[x] = static_cast<uint8_t>(255 - x);  // row 0: opaque
    alignas(256) static uint8_t shade[2][256];
    for (int i = 0; i < 256; ++i) {
        shade[0][i] = static_cast<uint8_t>(255 - i);  // texel 255 shades to 0, texel 0 to 255
        shade[1][i] = 0;
    }
    for (const uint8_t* row : {shade[0], shade[1]})
        for (Kind k : {Kind::Lit, Kind::LitZ}) {
            Frame f;
            for (int x = 0; x < kWidth; ++x) f.DepthRow(0)[x] = 0;
            SpanState s = FlatRow(f, 0, kWidth << 16);
            s.Texels = texels.data();
            s.ShadeRow = row;
            s.InterpStep = 0x0100;
            s.Depth = 0x12340000;
            s.DepthRowAddress = f.DepthRow(0);
            RunFiller(k, &s);
            for (int x = 0; x < kWidth; ++x) {
                EXPECT_EQ(f.At(x, 0), row[texels[x]]) << "column " << x;
                if (k == Kind::LitZ) {
                    EXPECT_EQ(f.DepthRow(0)[x], 0x1234) << "column " << x;
                }
            }
        }
}

TEST(SpanEdges, PackedCoordinatesWrapEachOnItsOwn) {
    // Row 5 holds its column + 1; any other row 250, so a u carry into v shows.
    std::vector<uint8_t> texels(128 * 128);
    for (int v = 0; v < 128; ++v)
        for (int u = 0; u < 128; ++u) texels[v * 128 + u] = static_cast<uint8_t>(v == 5 ? u + 1 : 250);
    Frame f;
    SpanState s = FlatRow(f, 0, 2 << 16);
    s.Texels = texels.data();
    s.Interp = (5u << 24) | 0x7FC0;  // u = 127.75, v = 5
    s.InterpStep = 0x0080;           // u + 0.5
    SpanTextured(&s);
    EXPECT_EQ(f.At(0, 0), 128);      // u 127.75
    EXPECT_EQ(f.At(1, 0), 1);        // u wrapped to 0.25, v still 5
    // Column 3 holds its row + 1; any other column 255, so a v carry shows.
    std::vector<uint8_t> rows(128 * 128);
    for (int v = 0; v < 128; ++v)
        for (int u = 0; u < 128; ++u) rows[v * 128 + u] = static_cast<uint8_t>(u == 3 ? v + 1 : 255);
    s = FlatRow(f, 0, 2 << 16);
    s.Texels = rows.data();
    s.Interp = (127u << 24) | (3u << 8);  // v = 127, u = 3
    s.InterpStep = 1u << 24;              // v + 1
    SpanTextured(&s);
    EXPECT_EQ(f.At(0, 0), 128);
    EXPECT_EQ(f.At(1, 0), 1);
    // Row steps are masked too.
    s = FlatRow(f, 0, 1 << 16);
    s.Texels = rows.data();
    s.Interp = (127u << 24) | (3u << 8);
    s.InterpRowStep = 1u << 24;
    SpanTextured(&s);
    EXPECT_EQ(s.Interp, 3u << 8);
    EXPECT_EQ(f.At(0, 0), 1);
}

TEST(SpanEdges, StepsWithGapBitsKeepTheMaskedAdditionPixelByPixel) {
    // A step with bit 15 set carries out of u into v whenever u wraps, so each
    // pixel must follow the one before; v starts a 256th below texel row 6, so
    // a single carry shows. Rows span whole groups of pixels and a few more, or
    // fewer than a group.
    std::mt19937 rng(77);
    Tables tables(rng);
    for (const uint32_t step : {0x8000FFFFu, 0x00008200u}) {
        for (const int right : {60, 8}) {
            for (const bool depth : {false, true}) {
                Frame f;
                SpanState s = FlatRow(f, 3 << 16, right << 16);
                s.Texels = tables.texels;
                s.DepthRowAddress = f.DepthRow(0);
                for (int x = 20; x < 30; ++x) f.DepthRow(0)[x] = 0xFFFF;  // nearer: hidden
                s.Depth = static_cast<int32_t>(0xD0000000u);
                s.Interp = 0x05FF4000u;  // v 5 + 255/256, u 64
                s.InterpStep = step;
                std::vector<uint8_t> want(kWidth, kCanary);
                uint32_t t = s.Interp;
                for (int x = 3; x < right; ++x, t = (t + step) & kPackedUvMask) {
                    const uint8_t texel = tables.texels[PackedTexelOffset(t)];
                    if (texel != 0 && !(depth && f.DepthRow(0)[x] > 0xD000)) want[x] = texel;
                }
                if (depth) {
                    SpanTexturedZ(&s);
                } else {
                    SpanTextured(&s);
                }
                EXPECT_EQ(std::vector<uint8_t>(f.Row(0), f.Row(0) + kWidth), want) << std::hex << step << " " << right;
            }
        }
    }
}

TEST(SpanEdges, SmoothDithersBetweenTwoShades) {
    alignas(256) static uint8_t shade[256];
    for (int i = 0; i < 256; ++i) shade[i] = static_cast<uint8_t>(i);
    Frame f;
    SpanState s = FlatRow(f, 0, kWidth << 16);
    s.ShadeRow = shade;
    s.Interp = 0x1080;  // 16.5
    s.InterpStep = 0;
    s.RowSeed = 0x5A;
    s.DitherRowX = &DitherMatrices[0][3];
    SpanSmooth(&s);
    uint32_t noise = DitherMatrices[0][3] ^ 0x5A;
    int sixteen = 0, seventeen = 0;
    for (int x = 0; x < kWidth; ++x) {
        const int want = (noise & 0xFF) >= 0x80 ? 17 : 16;
        EXPECT_EQ(f.At(x, 0), want) << x;
        (want == 16 ? sixteen : seventeen)++;
        noise ^= noise >> 6;
    }
    EXPECT_GT(sixteen, 0);
    EXPECT_GT(seventeen, 0);
}

TEST(SpanEdges, RowSeedEvolvesAcrossEmptyRows) {
    alignas(256) static uint8_t shade[256];
    for (int i = 0; i < 256; ++i) shade[i] = static_cast<uint8_t>(i);
    Frame f;
    SpanState s = FlatRow(f, 0, 0);  // empty rows: right edge at the left
    s.RowCount = 3;
    s.ShadeRow = shade;
    s.RowSeed = 0x12345678;
    s.DitherRowX = &DitherMatrices[0][0];
    SpanSmooth(&s);
    uint32_t seed = 0x12345678;
    for (int i = 0; i < 3; ++i) seed ^= seed >> 6;
    EXPECT_EQ(s.RowSeed, seed);
    // Two drawn rows with the same xl differ in noise.
    Frame g;
    s = FlatRow(g, 0, kWidth << 16);
    s.RowCount = 2;
    s.ShadeRow = shade;
    s.Interp = 0x1080;
    s.RowSeed = 0x2000;  // the next row's seed differs in bit 7 of its low byte
    s.DitherRowX = &DitherMatrices[0][0];
    SpanSmooth(&s);
    EXPECT_NE(std::memcmp(g.Row(0), g.Row(1), kWidth), 0);
}

TEST(SpanEdges, DitherTablesRepeatTheirPattern) {
    for (int t = 0; t < 4; ++t)
        for (int k = 0; k < 8; ++k) EXPECT_EQ(DitherMatrices[t][k], DitherMatrices[t][k + 8]);
    EXPECT_EQ(DitherMatrices[0][0], 0x08022002u);
    EXPECT_EQ(DitherMatrices[1][7], 0x0C33FFFCu);
    EXPECT_EQ(DitherMatrices[2][3], 0x08222820u);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(DitherMatrices[3][k], DitherMatrices[1][k]);
}

// Rectangle fills on a buffer with canaries after each row.
struct RectBuffer {
    static constexpr int kRowBytes = 48;
    std::vector<uint8_t> bytes = std::vector<uint8_t>(kRowBytes * 6, kCanary);
    uint8_t* Row(int y) { return bytes.data() + y * kRowBytes + 4; }
    // Bytes written from the row start.
    int Written(int y) {
        int n = 0;
        while (n < kRowBytes - 4 && Row(y)[n] != kCanary) ++n;
        return n;
    }
};

TEST(RectFills, Fill8Widths) {
    SpanStateBlock.ScreenPitch = RectBuffer::kRowBytes;
    for (int width : {1, 3, 15, 16, 17, 18, 19, 20, 33, 40}) {
        RectBuffer b;
        uint8_t* start = b.Row(1);
        FillRect8(&start, width, 3, 0x5B5B5B5B);
        EXPECT_EQ(b.Written(0), 0);
        for (int y = 1; y <= 3; ++y) {
            EXPECT_EQ(b.Written(y), width) << width;
            for (int x = 0; x < width; ++x) EXPECT_EQ(b.Row(y)[x], 0x5B);
        }
        EXPECT_EQ(b.Written(4), 0);
        EXPECT_EQ(b.bytes[3 + RectBuffer::kRowBytes], kCanary);  // before row 1
    }
}

TEST(RectFills, Fill8StoresTheValueAsDwords) {
    // A value whose bytes differ shows the dword stores, then low bytes.
    SpanStateBlock.ScreenPitch = RectBuffer::kRowBytes;
    RectBuffer b;
    uint8_t* start = b.Row(0);
    FillRect8(&start, 19, 1, 0x04030201);
    const uint8_t want[19] = {1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4, 1, 1, 1};
    EXPECT_EQ(std::memcmp(b.Row(0), want, sizeof want), 0);
    EXPECT_EQ(b.Written(0), 19);
    // Narrow rows are single bytes of the low byte.
    start = b.Row(1);
    FillRect8(&start, 5, 1, 0x04030209);
    for (int x = 0; x < 5; ++x) EXPECT_EQ(b.Row(1)[x], 9);
    EXPECT_EQ(b.Written(1), 5);
}

TEST(RectFills, Fill16WritesWholePixelsOnly) {
    SpanStateBlock.ScreenPitch = RectBuffer::kRowBytes;
    struct Case { int width, written; };
    // Up to 16 bytes: width / 2 pixels; above: dwords, then one pixel for a
    // remainder of 2 or 3.
    for (Case c : {Case{6, 6}, Case{5, 4}, Case{16, 16}, Case{17, 16}, Case{18, 18}, Case{19, 18}, Case{20, 20}}) {
        RectBuffer b;
        uint8_t* start = b.Row(2);
        FillRect16(&start, c.width, 2, 0x7C1F7C1F);
        for (int y = 2; y <= 3; ++y) {
            EXPECT_EQ(b.Written(y), c.written) << c.width;
            for (int x = 0; x < c.written; x += 2) {
                EXPECT_EQ(b.Row(y)[x], 0x1F);
                EXPECT_EQ(b.Row(y)[x + 1], 0x7C);
            }
        }
        EXPECT_EQ(b.Written(1), 0);
        EXPECT_EQ(b.Written(4), 0);
    }
}

TEST(RectFills, NegativeScreenPitchFillsUpward) {
    SpanStateBlock.ScreenPitch = -RectBuffer::kRowBytes;
    RectBuffer b;
    uint8_t* start = b.Row(4);
    FillRect8(&start, 20, 3, 0x01010101);
    EXPECT_EQ(b.Written(5), 0);
    EXPECT_EQ(b.Written(4), 20);
    EXPECT_EQ(b.Written(3), 20);
    EXPECT_EQ(b.Written(2), 20);
    EXPECT_EQ(b.Written(1), 0);
}

TEST(RectFills, ZeroFillClearsDepthRows) {
    std::vector<uint16_t> depth(8 * 32, 0xFFFF);
    FillRectZero(depth.data() + 32 + 2, 20, 3, 64);  // 10 cells, rows of 32 cells
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 32; ++x) {
            const bool cleared = y >= 1 && y <= 3 && x >= 2 && x < 12;
            EXPECT_EQ(depth[y * 32 + x], cleared ? 0 : 0xFFFF) << x << "," << y;
        }
    std::fill(depth.begin(), depth.end(), 0xFFFF);
    FillRectZero(depth.data(), 8, 1, 64);  // narrow: 16-bit stores
    for (int x = 0; x < 6; ++x) EXPECT_EQ(depth[x], x < 4 ? 0 : 0xFFFF);
}

}  // namespace
