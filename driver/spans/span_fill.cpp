// The eight basic span fillers and the rectangle fills.
//
// Each family is one template: depth test, lighting and transparency are
// compile-time choices, so the pixel loops carry no flag tests. Running
// values live in locals and go back to the block once per call.
#include <cstring>

#include "driver/spans/span_state.h"

SpanState SpanStateBlock;

const uint32_t DitherMatrices[4][16] = {
    {0x08022002, 0x08222882, 0x0802A020, 0x0822AAA0, 0x0802200A, 0x0822288A, 0x0802A028, 0x0822AAA8,
     0x08022002, 0x08222882, 0x0802A020, 0x0822AAA0, 0x0802200A, 0x0822288A, 0x0802A028, 0x0822AAA8},
    {0x0C033003, 0x0C333CC3, 0x0C03F030, 0x0C33FFF0, 0x0C03300F, 0x0C333CCF, 0x0C03F03C, 0x0C33FFFC,
     0x0C033003, 0x0C333CC3, 0x0C03F030, 0x0C33FFF0, 0x0C03300F, 0x0C333CCF, 0x0C03F03C, 0x0C33FFFC},
    {0x080220A8, 0x0822AA02, 0x0802A082, 0x08222820, 0x080220A0, 0x0822AA0A, 0x0802A08A, 0x08222828,
     0x080220A8, 0x0822AA02, 0x0802A082, 0x08222820, 0x080220A0, 0x0822AA0A, 0x0802A08A, 0x08222828},
    {0x0C033003, 0x0C333CC3, 0x0C03F030, 0x0C33FFF0, 0x0C03300F, 0x0C333CCF, 0x0C03F03C, 0x0C33FFFC,
     0x0C033003, 0x0C333CC3, 0x0C03F030, 0x0C33FFF0, 0x0C03300F, 0x0C333CCF, 0x0C03F03C, 0x0C33FFFC},
};

namespace {

// 16.16 and packed values step with 32-bit wrap.
inline int32_t Wrap(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// Row address that ends at the row's own 256-byte block: byte t of the row
// is the pointer with its low byte replaced by t.
inline const uint8_t* AlignedRow(const uint8_t* row) {
    return row - (reinterpret_cast<uintptr_t>(row) & 0xFFu);
}

struct Edges {
    int32_t left, right, left_step, right_step;
    uint8_t* row;
    int32_t pitch;

    explicit Edges(const SpanState* s)
        : left(s->LeftX), right(s->RightX), left_step(s->LeftXStep), right_step(s->RightXStep),
          row(s->RowAddress), pitch(s->RowPitch) {}

    void Step() {
        left = Wrap(left, left_step);
        right = Wrap(right, right_step);
    }
    void Store(SpanState* s) const {
        s->LeftX = left;
        s->RightX = right;
        s->RowAddress = row;
        s->RowCount = 0;
    }
};

template <bool kDepth>
void FlatRows(SpanState* s) {
    Edges e(s);
    const uint8_t colour = static_cast<uint8_t>(s->FlatColour);
    int32_t depth = s->Depth;
    const int32_t depth_row_step = s->DepthRowStep, depth_step = s->DepthStep;
    uint16_t* depth_row = s->DepthRowAddress;
    const int32_t depth_pitch = s->DepthPitch;
    for (int32_t rows = s->RowCount; rows > 0; --rows) {
        e.Step();
        if constexpr (kDepth) depth = Wrap(depth, depth_row_step);
        const int32_t xl = e.left >> 16, xr = e.right >> 16;
        if (xr > xl) {
            if constexpr (kDepth) {
                uint8_t* px = e.row + xl;
                uint16_t* cell = depth_row + xl;
                uint32_t z = static_cast<uint32_t>(depth);
                for (int32_t i = 0, n = xr - xl; i < n; ++i) {
                    const uint16_t d = static_cast<uint16_t>(z >> 16);
                    // Cells and pixels that fail keep their bytes untouched.
                    if (cell[i] <= d) {
                        cell[i] = d;
                        px[i] = colour;
                    }
                    z += static_cast<uint32_t>(depth_step);
                }
            } else {
                std::memset(e.row + xl, colour, static_cast<size_t>(xr - xl));
            }
        }
        e.row += e.pitch;
        if constexpr (kDepth) depth_row = StepDepthRow(depth_row, depth_pitch);
    }
    e.Store(s);
    if constexpr (kDepth) {
        s->Depth = depth;
        s->DepthRowAddress = depth_row;
    }
}

// Packed u|v split into two words with each 15-bit field at the top, so that both wrap
// modulo 128 texels by plain 32-bit addition and the two step chains run side by side.
struct SplitUv {
    uint32_t u, v;
    static SplitUv Of(uint32_t packed) { return {packed << 17, (packed >> 16) << 17}; }
    uint32_t Offset() const { return ((v >> 25) << 7) | (u >> 25); }
    void Add(const SplitUv& step) {
        u += step.u;
        v += step.v;
    }
};

// Any step whose bits 15 or 31 are set (the set-ups' packing never gives one) carries
// between the fields, so it keeps the masked packed addition.
struct PackedUv {
    uint32_t uv, step;
    uint32_t Offset() const { return PackedTexelOffset(uv); }
    void Add() { uv = (uv + step) & kPackedUvMask; }
};
struct SplitStepUv {
    SplitUv t, step;
    uint32_t Offset() const { return t.Offset(); }
    void Add() { t.Add(step); }
};
constexpr uint32_t kPackedGapBits = 0x80008000u;

template <bool kDepth, bool kLit, class Uv>
inline void TexturedPixels(uint8_t* px, uint16_t* cell, int32_t n, Uv t, uint32_t z, uint32_t depth_step,
                           const uint8_t* texels, const uint8_t* shade) {
    for (int32_t i = 0; i < n; ++i) {
        if constexpr (kDepth) {
            const uint16_t d = static_cast<uint16_t>(z >> 16);
            // The depth first: a hidden pixel fetches no texel, and nothing that fails
            // (hidden, or texel 0) is rewritten.
            if (cell[i] <= d) {
                const uint8_t tx = texels[t.Offset()];
                if (tx != 0) {
                    cell[i] = d;
                    px[i] = kLit ? shade[tx] : tx;
                }
            }
            z += depth_step;
        } else {
            const uint8_t tx = texels[t.Offset()];
            // Texel 0 is transparent.
            if (tx != 0) px[i] = kLit ? shade[tx] : tx;
        }
        t.Add();
    }
}

template <bool kDepth, bool kLit>
void TexturedRows(SpanState* s) {
    Edges e(s);
    const uint8_t* texels = s->Texels;
    const uint8_t* shade = kLit ? AlignedRow(s->ShadeRow) : nullptr;
    uint32_t uv = s->Interp;
    const uint32_t uv_row_step = s->InterpRowStep, uv_step = s->InterpStep;
    const bool split = (uv_step & kPackedGapBits) == 0;
    const SplitUv step = SplitUv::Of(uv_step);
    int32_t depth = s->Depth;
    const int32_t depth_row_step = s->DepthRowStep, depth_step = s->DepthStep;
    uint16_t* depth_row = s->DepthRowAddress;
    const int32_t depth_pitch = s->DepthPitch;
    for (int32_t rows = s->RowCount; rows > 0; --rows) {
        e.Step();
        uv = (uv + uv_row_step) & kPackedUvMask;
        if constexpr (kDepth) depth = Wrap(depth, depth_row_step);
        const int32_t xl = e.left >> 16, xr = e.right >> 16;
        if (xr > xl) {
            uint8_t* px = e.row + xl;
            uint16_t* cell = kDepth ? depth_row + xl : nullptr;
            const uint32_t z = static_cast<uint32_t>(depth), dz = static_cast<uint32_t>(depth_step);
            if (split)
                TexturedPixels<kDepth, kLit>(px, cell, xr - xl, SplitStepUv{SplitUv::Of(uv), step}, z, dz, texels, shade);
            else
                TexturedPixels<kDepth, kLit>(px, cell, xr - xl, PackedUv{uv, uv_step}, z, dz, texels, shade);
        }
        e.row += e.pitch;
        if constexpr (kDepth) depth_row = StepDepthRow(depth_row, depth_pitch);
    }
    e.Store(s);
    s->Interp = uv;
    if constexpr (kDepth) {
        s->Depth = depth;
        s->DepthRowAddress = depth_row;
    }
}

template <bool kDepth>
void SmoothRows(SpanState* s) {
    Edges e(s);
    const uint8_t* shade_row = s->ShadeRow;
    const uint32_t* dither = s->DitherRowX;
    uint32_t seed = s->RowSeed;
    uint32_t shade = s->Interp;
    const uint32_t shade_row_step = s->InterpRowStep, shade_step = s->InterpStep;
    int32_t depth = s->Depth;
    const int32_t depth_row_step = s->DepthRowStep, depth_step = s->DepthStep;
    uint16_t* depth_row = s->DepthRowAddress;
    const int32_t depth_pitch = s->DepthPitch;
    for (int32_t rows = s->RowCount; rows > 0; --rows) {
        e.Step();
        shade += shade_row_step;
        if constexpr (kDepth) depth = Wrap(depth, depth_row_step);
        const int32_t xl = e.left >> 16, xr = e.right >> 16;
        if (xr > xl) {
            uint8_t* px = e.row + xl;
            uint16_t* cell = kDepth ? depth_row + xl : nullptr;
            uint32_t noise = dither[xl & 7] ^ (seed & 0xFFu);
            uint32_t sh = shade;
            int32_t z = depth;
            for (int32_t i = 0, n = xr - xl; i < n; ++i) {
                // The noise byte rounds the 8.8 shade up with the probability
                // of its fraction.
                const uint8_t p = shade_row[((sh + (noise & 0xFFu)) >> 8) & 0xFFu];
                if constexpr (kDepth) {
                    const uint16_t d = static_cast<uint16_t>(static_cast<uint32_t>(z) >> 16);
                    if (cell[i] <= d) {
                        cell[i] = d;
                        px[i] = p;
                    }
                    z = Wrap(z, depth_step);
                } else {
                    px[i] = p;
                }
                noise = NoiseStep(noise);
                sh += shade_step;
            }
        }
        e.row += e.pitch;
        if constexpr (kDepth) depth_row = StepDepthRow(depth_row, depth_pitch);
        seed = NoiseStep(seed);
    }
    e.Store(s);
    s->Interp = shade;
    s->RowSeed = seed;
    if constexpr (kDepth) {
        s->Depth = depth;
        s->DepthRowAddress = depth_row;
    }
}

inline void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline void Store16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }

// width / 4 dword stores of value. A value whose four bytes agree is a byte
// fill, which the library does fastest.
inline void StoreDwords(uint8_t* row, int32_t dwords, uint32_t value) {
    if (value == (value & 0xFFu) * 0x01010101u) {
        std::memset(row, static_cast<int>(value & 0xFFu), static_cast<size_t>(dwords) * 4);
        return;
    }
    for (int32_t k = 0; k < dwords; ++k) Store32(row + 4 * k, value);
}

// Rows wider than 16 bytes: dwords, then the remainder (bytes for 8-bit
// frames, one 16-bit pixel for a remainder of 2 or 3 on 16-bit frames).
// Narrow rows: single bytes, or whole 16-bit pixels. Touching each cache line
// before the stores, as older processors wanted, is left to the hardware.
template <bool kWide16>
void FillRect(uint8_t* row, int32_t width, int32_t rows, uint32_t value, int32_t pitch) {
    for (; rows > 0; --rows, row += pitch) {
        if (width > 16) {
            const int32_t dwords = width / 4;
            StoreDwords(row, dwords, value);
            uint8_t* tail = row + 4 * dwords;
            const int32_t rest = width & 3;
            if constexpr (kWide16) {
                // A final odd byte is not written.
                if (rest >= 2) Store16(tail, static_cast<uint16_t>(value));
            } else {
                for (int32_t k = 0; k < rest; ++k) tail[k] = static_cast<uint8_t>(value);
            }
        } else if constexpr (kWide16) {
            for (int32_t k = 0; k < width / 2; ++k) Store16(row + 2 * k, static_cast<uint16_t>(value));
        } else {
            std::memset(row, static_cast<uint8_t>(value), static_cast<size_t>(width));
        }
    }
}

}  // namespace

void SpanFlat(SpanState* s) { FlatRows<false>(s); }
void SpanFlatZ(SpanState* s) { FlatRows<true>(s); }
void SpanTextured(SpanState* s) { TexturedRows<false, false>(s); }
void SpanTexturedZ(SpanState* s) { TexturedRows<true, false>(s); }
void SpanTexturedLit(SpanState* s) { TexturedRows<false, true>(s); }
void SpanTexturedLitZ(SpanState* s) { TexturedRows<true, true>(s); }
void SpanSmooth(SpanState* s) { SmoothRows<false>(s); }
void SpanSmoothZ(SpanState* s) { SmoothRows<true>(s); }

void FillRect8(uint8_t* const* start, int32_t width, int32_t rows, uint32_t value) {
    if (!start || width <= 0) return;
    FillRect<false>(*start, width, rows, value, SpanStateBlock.ScreenPitch);
}

void FillRect16(uint8_t* const* start, int32_t width, int32_t rows, uint32_t value) {
    if (!start || width <= 0) return;
    FillRect<true>(*start, width, rows, value, SpanStateBlock.ScreenPitch);
}

void FillRectZero(void* start, int32_t width, int32_t rows, int32_t pitch) {
    if (!start || width <= 0) return;
    uint8_t* row = static_cast<uint8_t*>(start);
    for (; rows > 0; --rows, row += pitch) {
        if (width > 16) {
            std::memset(row, 0, static_cast<size_t>(width / 4) * 4);
        } else {
            std::memset(row, 0, static_cast<size_t>(width / 2) * 2);
        }
    }
}
