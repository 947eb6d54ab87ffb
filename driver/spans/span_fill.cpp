// The eight basic span fillers and the rectangle fills.
//
// One row loop serves every filler, bound at compile time to a pixel source
// (flat, textured, lit, smooth) and to the depth test, so the pixel loops
// carry no flag tests. Running values live in locals and go back to the
// block once per call.
#include <emmintrin.h>

#include <cstring>
#include <type_traits>

#include "driver/spans/span_state.h"

SpanState SpanStateBlock;
uintptr_t DrawnRowsFirst = 0;
uintptr_t DrawnRowsSpan = UINTPTR_MAX;

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

// Eight pixels go together: 16-bit lanes for the interpolants and the depth,
// one 64-bit word for the pixels. A group is decided as a whole (stored,
// skipped, or blended under a byte mask), so the pixel loops carry no
// per-pixel branches.
using U16x8 = uint16_t __attribute__((vector_size(16)));
using I16x8 = int16_t __attribute__((vector_size(16)));
using I8x8 = int8_t __attribute__((vector_size(8)));
using U32x4 = uint32_t __attribute__((vector_size(16)));

constexpr int32_t kGroup = 8;
constexpr U16x8 kLanes = {0, 1, 2, 3, 4, 5, 6, 7};
constexpr uint64_t kAllBytes = ~uint64_t{0};

inline U16x8 Splat(uint32_t x) { return U16x8{} + static_cast<uint16_t>(x); }
inline U16x8 LoadLanes(const uint16_t* p) {
    U16x8 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void StoreLanes(uint16_t* p, U16x8 v) { std::memcpy(p, &v, sizeof v); }
inline uint64_t LoadWord(const uint8_t* p) {
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}
inline void StoreWord(uint8_t* p, uint64_t w) { std::memcpy(p, &w, sizeof w); }

// Lane values stored for reading back one by one stay in memory: reading
// words back is cheaper than taking eight lanes out of the register.
inline void KeepInMemory(const uint16_t* p) { asm("" : : "r"(p) : "memory"); }

// Lane masks (0 or 0xFFFF per lane) to and from byte masks of the pixel word.
// Saturating narrowing keeps 0 and 0xFFFF as 0 and 0xFF with no masking first.
inline uint64_t ByteMask(I16x8 lanes) {
    const __m128i m = reinterpret_cast<__m128i>(lanes);
    return static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_packs_epi16(m, m)));
}
inline U16x8 LaneMask(uint64_t bytes) {
    I8x8 b;
    std::memcpy(&b, &bytes, sizeof b);
    return reinterpret_cast<U16x8>(__builtin_convertvector(b, I16x8));
}

// 0xFF in every byte of w that is not 0, else 0; no carry crosses a byte.
inline uint64_t NonZeroBytes(uint64_t w) {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    const uint64_t high = (((w & kLow7) + kLow7) | w) & ~kLow7;
    return (high >> 7) * 0xFFu;
}

// 32-bit values of eight pixels held as high and low halves, so that the high
// half (the depth tested) needs no narrowing. The running low halves are kept
// with their top bit flipped: their unsigned wrap, the carry into the high
// half, is then one signed compare against the addend flipped alike.
constexpr U16x8 kTopBit = {0x8000, 0x8000, 0x8000, 0x8000, 0x8000, 0x8000, 0x8000, 0x8000};

struct WideLanes {
    U16x8 hi, lo;
    static void Add(U16x8& hi, U16x8& flipped_lo, WideLanes add, U16x8 add_flipped_lo) {
        flipped_lo += add.lo;
        hi += add.hi - reinterpret_cast<U16x8>(reinterpret_cast<I16x8>(flipped_lo) <
                                               reinterpret_cast<I16x8>(add_flipped_lo));
    }
};

struct DepthLanes {
    WideLanes z, lane, step;  // running (low halves flipped); k x step for lane k; 8 x step
    U16x8 lane_flipped, step_flipped;

    // Set up at the first row wide enough for a group. k x step is formed in
    // the lanes: the low half's product split at its byte, so that no lane
    // overflows (k <= 7), gives the carry into the high half.
    void Prepare(uint32_t per_pixel) {
        const uint16_t hi = static_cast<uint16_t>(per_pixel >> 16), lo = static_cast<uint16_t>(per_pixel);
        const U16x8 top = kLanes * Splat(lo >> 8u), bottom = kLanes * Splat(lo & 0xFFu);
        lane = {kLanes * Splat(hi) + ((top + (bottom >> 8)) >> 8), kLanes * Splat(lo)};
        const uint32_t s8 = per_pixel * kGroup;
        step = {Splat(s8 >> 16), Splat(s8)};
        lane_flipped = lane.lo ^ kTopBit;
        step_flipped = step.lo ^ kTopBit;
    }
    void Start(uint32_t depth) {
        z = {Splat(depth >> 16), Splat(depth) ^ kTopBit};
        WideLanes::Add(z.hi, z.lo, lane, lane_flipped);
    }
    void Next() { WideLanes::Add(z.hi, z.lo, step, step_flipped); }
};

// Texel offsets of eight pixels from packed u|v. u and v each sit in a 16-bit
// lane shifted up by one, so that their 7.8 values wrap at 128 texels by
// plain 16-bit addition.
struct SplitUv {
    U16x8 u, v, lane_u, lane_v, step_u, step_v;

    static uint16_t U(uint32_t packed) { return static_cast<uint16_t>((packed & 0x7FFFu) << 1); }
    static uint16_t V(uint32_t packed) { return static_cast<uint16_t>(((packed >> 16) & 0x7FFFu) << 1); }
    explicit SplitUv(uint32_t step)
        : lane_u(kLanes * U(step)), lane_v(kLanes * V(step)),
          step_u(Splat(U(step) * kGroup)), step_v(Splat(V(step) * kGroup)) {}
    void Start(uint32_t packed) {
        u = Splat(U(packed)) + lane_u;
        v = Splat(V(packed)) + lane_v;
    }
    void Next() {
        u += step_u;
        v += step_v;
    }
    U16x8 OffsetLanes() const { return ((v >> 2) & 0x3F80) | (u >> 9); }
    void Offsets(uint16_t* out) {
        StoreLanes(out, OffsetLanes());
        KeepInMemory(out);
        Next();
    }
    // Short rows step one pixel at a time, u and v each at the top of a
    // 32-bit word, where they wrap the same way.
    struct Cursor {
        uint32_t u, v, step_u, step_v;
        Cursor(uint32_t packed, uint32_t step)
            : u(packed << 17), v((packed >> 16) << 17), step_u(step << 17), step_v((step >> 16) << 17) {}
        uint32_t Offset() {
            const uint32_t offset = ((v >> 18) & 0x3F80u) | (u >> 25);
            u += step_u;
            v += step_v;
            return offset;
        }
    };
};

// Any step whose bits 15 or 31 are set (the set-ups' packing never gives one)
// carries between the fields, so it keeps the masked packed addition pixel by
// pixel.
struct PackedUv {
    uint32_t uv = 0, step;
    explicit PackedUv(uint32_t s) : step(s) {}
    void Start(uint32_t packed) { uv = packed; }
    void Next() {
        for (int32_t k = 0; k < kGroup; ++k) uv = (uv + step) & kPackedUvMask;
    }
    void Offsets(uint16_t* out) {
#pragma GCC unroll 8
        for (int32_t k = 0; k < kGroup; ++k) {
            out[k] = static_cast<uint16_t>(PackedTexelOffset(uv));
            uv = (uv + step) & kPackedUvMask;
        }
    }
    struct Cursor {
        uint32_t uv, step;
        Cursor(uint32_t packed, uint32_t s) : uv(packed), step(s) {}
        uint32_t Offset() {
            const uint32_t offset = PackedTexelOffset(uv);
            uv = (uv + step) & kPackedUvMask;
            return offset;
        }
    };
};
constexpr uint32_t kPackedGapBits = 0x80008000u;

// A shade row widened to 16 bits a texel: the pixel byte, and above it 0xFF
// for an opaque texel (all but texel 0). One load per pixel then yields both,
// and the pixel word and the write mask of a group come from one register.
struct ShadePairs {
    alignas(16) uint16_t at[256];

    void Build(const uint8_t* shade) {
        const __m128i opaque = _mm_set1_epi8(static_cast<char>(0xFF));
        for (int32_t i = 0; i < 256; i += 16) {
            const __m128i bytes = _mm_load_si128(reinterpret_cast<const __m128i*>(shade + i));
            _mm_store_si128(reinterpret_cast<__m128i*>(at + i), _mm_unpacklo_epi8(bytes, opaque));
            _mm_store_si128(reinterpret_cast<__m128i*>(at + i + 8), _mm_unpackhi_epi8(bytes, opaque));
        }
        at[0] &= 0xFFu;
    }
};

// Pixel sources. BeginRow steps the row's interpolant (empty rows too), Start
// places the lanes at a drawn row's first pixel, Indices gives the table
// indexes of the next eight pixels and Skip passes eight without reading
// them. Raw is the byte read at an index (texel 0 is transparent for sources
// with kClear), Pixel the byte written for it. At(xl) gives a Cursor that
// walks a row one pixel at a time, its Raw reading the next pixel's byte.
struct FlatSource {
    static constexpr bool kClear = false;
    static constexpr bool kPairs = false;
    uint8_t colour;
    explicit FlatSource(const SpanState* s) : colour(static_cast<uint8_t>(s->FlatColour)) {}
    void BeginRow() {}
    void Start(int32_t) {}
    void EndRow() {}
    void Skip() {}
    void Indices(uint16_t*) {}
    uint8_t Raw(uint16_t) const { return colour; }
    struct Cursor {
        uint8_t colour;
        uint8_t Raw() const { return colour; }
    };
    Cursor At(int32_t) const { return {colour}; }
    uint8_t Pixel(uint8_t raw) const { return raw; }
    void Store(SpanState*) const {}
    void Prepare(ShadePairs*) {}
};

template <bool kLit, class Uv>
struct TexturedSource {
    static constexpr bool kClear = true;
    static constexpr bool kPairs = kLit;
    const uint8_t* texels;
    const uint8_t* shade;
    const uint16_t* pairs = nullptr;
    uint32_t uv, row_step, step;
    Uv lanes;

    explicit TexturedSource(const SpanState* s)
        : texels(s->Texels), shade(kLit ? AlignedRow(s->ShadeRow) : nullptr), uv(s->Interp),
          row_step(s->InterpRowStep), step(s->InterpStep), lanes(s->InterpStep) {}
    void BeginRow() { uv = (uv + row_step) & kPackedUvMask; }
    void Start(int32_t) { lanes.Start(uv); }
    void EndRow() {}
    void Skip() { lanes.Next(); }
    void Indices(uint16_t* out) { lanes.Offsets(out); }
    uint8_t Raw(uint16_t offset) const { return texels[offset]; }
    struct Cursor {
        const uint8_t* texels;
        typename Uv::Cursor at;
        uint8_t Raw() { return texels[at.Offset()]; }
    };
    Cursor At(int32_t) const { return {texels, typename Uv::Cursor(uv, step)}; }
    uint8_t Pixel(uint8_t texel) const { return kLit ? shade[texel] : texel; }
    void Store(SpanState* s) const { s->Interp = uv; }

    // Set up at the first row wide enough for a group.
    void Prepare(ShadePairs* table) {
        if constexpr (kPairs) {
            table->Build(shade);
            pairs = table->at;
        }
    }
    uint16_t Pair(uint32_t offset) const { return pairs[texels[offset]]; }
    // The pairs of the next eight pixels. Split lanes hand the first four
    // offsets over in a register and the rest through memory: with all eight
    // read back, the loads rather than the arithmetic set the pace.
    __m128i Pairs() {
        uint16_t index[kGroup];
        __m128i v;
        if constexpr (std::is_same_v<Uv, SplitUv>) {
            const U16x8 offsets = lanes.OffsetLanes();
            StoreLanes(index, offsets);
            KeepInMemory(index);
            lanes.Next();
            auto first = static_cast<uint64_t>(_mm_cvtsi128_si64(reinterpret_cast<__m128i>(offsets)));
            v = _mm_cvtsi32_si128(Pair(static_cast<uint16_t>(first)));
            first >>= 16;
            v = _mm_insert_epi16(v, Pair(static_cast<uint16_t>(first)), 1);
            first >>= 16;
            v = _mm_insert_epi16(v, Pair(static_cast<uint16_t>(first)), 2);
            v = _mm_insert_epi16(v, Pair(static_cast<uint32_t>(first >> 16)), 3);
        } else {
            lanes.Offsets(index);
            v = _mm_cvtsi32_si128(Pair(index[0]));
            v = _mm_insert_epi16(v, Pair(index[1]), 1);
            v = _mm_insert_epi16(v, Pair(index[2]), 2);
            v = _mm_insert_epi16(v, Pair(index[3]), 3);
        }
        v = _mm_insert_epi16(v, Pair(index[4]), 4);
        v = _mm_insert_epi16(v, Pair(index[5]), 5);
        v = _mm_insert_epi16(v, Pair(index[6]), 6);
        return _mm_insert_epi16(v, Pair(index[7]), 7);
    }
};

// The noise word advances by s ^= s >> 6, a linear map whose eighth power is
// the identity on 32 bits (it is I + S, and (I + S)^8 = I + S^8, S^8 shifting
// by 48), so a row's noise bytes repeat every eight pixels.
struct SmoothSource {
    static constexpr bool kClear = false;
    static constexpr bool kPairs = false;
    const uint8_t* shade_row;
    const uint32_t* dither;
    uint32_t seed, shade, row_step, pixel_step;
    U16x8 lane, step, sh, noise;

    explicit SmoothSource(const SpanState* s)
        : shade_row(s->ShadeRow), dither(s->DitherRowX), seed(s->RowSeed), shade(s->Interp),
          row_step(s->InterpRowStep), pixel_step(s->InterpStep),
          lane(kLanes * static_cast<uint16_t>(s->InterpStep)), step(Splat(s->InterpStep * kGroup)) {}
    void BeginRow() { shade += row_step; }
    void Start(int32_t xl) {
        // Words 0, 2, 4, 6 from powers of the map (its square is s ^ s >> 12, its
        // fourth power s ^ s >> 24); words 1, 3, 5, 7 are one step on from them.
        const uint32_t n0 = Noise(xl);
        const uint32_t n2 = n0 ^ (n0 >> 12);
        const U32x4 even = {n0, n2, n0 ^ (n0 >> 24), n2 ^ (n2 >> 24)};
        const U32x4 odd = even ^ (even >> 6);
        noise = reinterpret_cast<U16x8>((even & 0xFFu) | ((odd & 0xFFu) << 16));
        sh = Splat(shade) + lane;
    }
    void EndRow() { seed = NoiseStep(seed); }
    void Skip() { sh += step; }
    void Indices(uint16_t* out) {
        // The noise byte rounds the 8.8 shade up with the probability of its
        // fraction.
        StoreLanes(out, (sh + noise) >> 8);
        KeepInMemory(out);
        sh += step;
    }
    uint8_t Raw(uint16_t index) const { return shade_row[index]; }
    uint32_t Noise(int32_t xl) const { return dither[xl & 7] ^ (seed & 0xFFu); }
    struct Cursor {
        const uint8_t* shade_row;
        uint32_t noise, sh, step;
        uint8_t Raw() {
            const uint8_t index = static_cast<uint8_t>((sh + (noise & 0xFFu)) >> 8);
            noise = NoiseStep(noise);
            sh += step;
            return shade_row[index];
        }
    };
    Cursor At(int32_t xl) const { return {shade_row, Noise(xl), shade, pixel_step}; }
    uint8_t Pixel(uint8_t raw) const { return raw; }
    void Store(SpanState* s) const {
        s->Interp = shade;
        s->RowSeed = seed;
    }
    void Prepare(ShadePairs*) {}
};

// The next eight pixels as one word and, for sources with transparent pixels,
// which of them are opaque.
template <class Source>
inline uint64_t FetchGroup(Source& src, uint64_t* opaque) {
    uint16_t index[kGroup];
    src.Indices(index);
    uint8_t raw[kGroup], out[kGroup];
#pragma GCC unroll 8
    for (int32_t k = 0; k < kGroup; ++k) {
        raw[k] = src.Raw(index[k]);
        out[k] = src.Pixel(raw[k]);
    }
    if constexpr (Source::kClear) *opaque = NonZeroBytes(LoadWord(raw));
    return LoadWord(out);
}

// One group of eight pixels. Cells and pixels that fail (hidden, or
// transparent) keep their bytes; a group where all fail is neither fetched
// nor written.
template <bool kDepth, class Source>
inline void DrawPairGroup(Source& src, DepthLanes* z, uint8_t* px, uint16_t* cell) {
    __m128i pass = _mm_set1_epi8(static_cast<char>(0xFF)), old_cells{}, d{};
    if constexpr (kDepth) {
        old_cells = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cell));
        d = reinterpret_cast<__m128i>(z->z.hi);
        z->Next();
        pass = _mm_cmpeq_epi16(_mm_subs_epu16(old_cells, d), _mm_setzero_si128());
        if (_mm_movemask_epi8(pass) == 0) {
            src.Skip();
            return;
        }
    }
    const __m128i v = src.Pairs();
    const __m128i write = _mm_and_si128(pass, _mm_srai_epi16(v, 8));
    const __m128i bytes = _mm_and_si128(v, _mm_set1_epi16(0xFF));
    const int lanes = _mm_movemask_epi8(write);
    if (lanes == 0xFFFF) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(px), _mm_packus_epi16(bytes, bytes));
        if constexpr (kDepth) _mm_storeu_si128(reinterpret_cast<__m128i*>(cell), d);
        return;
    }
    if (lanes == 0) return;
    const __m128i old_px = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(px));
    const __m128i m = _mm_packs_epi16(write, write);
    const __m128i word = _mm_packus_epi16(bytes, bytes);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(px), _mm_or_si128(_mm_andnot_si128(m, old_px), _mm_and_si128(m, word)));
    if constexpr (kDepth)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(cell),
                         _mm_or_si128(_mm_andnot_si128(write, old_cells), _mm_and_si128(write, d)));
}

// Sources with shade pairs build the group in one register; the others build
// the pixel word byte by byte.
template <bool kDepth, class Source>
inline void DrawGroup(Source& src, DepthLanes* z, uint8_t* px, uint16_t* cell) {
    if constexpr (Source::kPairs) {
        DrawPairGroup<kDepth>(src, z, px, cell);
        return;
    }
    uint64_t write = kAllBytes;
    U16x8 old_cells{}, d{};
    if constexpr (kDepth) {
        old_cells = LoadLanes(cell);
        d = z->z.hi;
        z->Next();
        write = ByteMask(old_cells <= d);
        if (write == 0) {
            src.Skip();
            return;
        }
    }
    uint64_t opaque = kAllBytes;
    const uint64_t word = FetchGroup(src, &opaque);
    write &= opaque;
    if (write == kAllBytes) {
        StoreWord(px, word);
        if constexpr (kDepth) StoreLanes(cell, d);
        return;
    }
    if (write == 0) return;
    StoreWord(px, (LoadWord(px) & ~write) | (word & write));
    if constexpr (kDepth) {
        const U16x8 m = LaneMask(write);
        StoreLanes(cell, (old_cells & ~m) | (d & m));
    }
}

// One pixel: the depth steps as one 32-bit value. Nothing that fails is
// rewritten, except with kSelect.
template <bool kDepth, bool kSelect = false, class Source>
inline void DrawPixel(const Source& src, uint8_t raw, uint32_t* z, uint32_t depth_step, uint8_t* px,
                      uint16_t* cell) {
    if constexpr (kDepth && kSelect && !Source::kClear) {
        // Opaque pixels of small triangles, whose test outcome changes from
        // pixel to pixel: no branch, the cell takes the larger depth and a
        // failing pixel is rewritten with its own byte.
        const uint16_t d = static_cast<uint16_t>(*z >> 16), old = *cell;
        *z += depth_step;
        const uint32_t pass = 0u - static_cast<uint32_t>(old <= d);
        *cell = static_cast<uint16_t>((old & ~pass) | (d & pass));
        *px = static_cast<uint8_t>((*px & ~pass) | (src.Pixel(raw) & pass));
        return;
    }
    bool write = !Source::kClear || raw != 0;
    if constexpr (kDepth) {
        const uint16_t d = static_cast<uint16_t>(*z >> 16);
        *z += depth_step;
        write = write & (*cell <= d);
        if (write) *cell = d;
    }
    if (write) *px = src.Pixel(raw);
}

// The last 1 to 7 pixels of a wide row, one at a time so that nothing past
// the row is read; z is the depth at the tail's first pixel.
template <bool kDepth, class Source>
inline void DrawTail(Source& src, uint32_t z, uint32_t depth_step, uint8_t* px, uint16_t* cell, int32_t rest) {
    uint16_t index[kGroup];
    src.Indices(index);
    for (int32_t k = 0; k < rest; ++k)
        DrawPixel<kDepth>(src, src.Raw(index[k]), &z, depth_step, px + k, kDepth ? cell + k : nullptr);
}

// kShort: the caller knows every row to be shorter than a group (a wider one
// would still be drawn right), so the loop carries no lanes at all.
template <bool kDepth, bool kShort, class Source>
void Rows(SpanState* s, Source src) {
    Edges e(s);
    int32_t depth = s->Depth;
    const int32_t depth_row_step = s->DepthRowStep;
    const auto depth_step = static_cast<uint32_t>(s->DepthStep);
    uint16_t* depth_row = s->DepthRowAddress;
    const int32_t depth_pitch = s->DepthPitch;
    DepthLanes z;
    [[maybe_unused]] ShadePairs pairs;
    bool lanes_ready = false;
    for (int32_t rows = s->RowCount; rows > 0 && !RowPast(e.row, e.pitch); --rows) {
        e.Step();
        src.BeginRow();
        if constexpr (kDepth) depth = Wrap(depth, depth_row_step);
        const int32_t xl = e.left >> 16, xr = e.right >> 16;
        if (xr > xl && RowDrawn(e.row)) {
            uint8_t* px = e.row + xl;
            uint16_t* cell = kDepth ? depth_row + xl : nullptr;
            const int32_t n = xr - xl, whole = n & ~(kGroup - 1);
            // Short rows with a depth test or smooth noise take the cursor and set
            // up no lanes; short textured rows without depth read their texels
            // cheaper through one set of lane offsets.
            if (kShort || (whole == 0 && (kDepth || !Source::kClear))) {
                auto at = src.At(xl);
                auto z = static_cast<uint32_t>(depth);
                for (int32_t k = 0; k < n; ++k)
                    DrawPixel<kDepth, kShort>(src, at.Raw(), &z, depth_step, px + k, kDepth ? cell + k : nullptr);
            } else {
                src.Start(xl);
                if (whole > 0) {
                    if (!lanes_ready) {
                        if constexpr (kDepth) z.Prepare(depth_step);
                        src.Prepare(&pairs);
                        lanes_ready = true;
                    }
                    if constexpr (kDepth) z.Start(static_cast<uint32_t>(depth));
                    for (int32_t i = 0; i < whole; i += kGroup)
                        DrawGroup<kDepth>(src, &z, px + i, kDepth ? cell + i : nullptr);
                }
                if (whole < n)
                    DrawTail<kDepth>(src, static_cast<uint32_t>(depth) + static_cast<uint32_t>(whole) * depth_step,
                                     depth_step, px + whole, kDepth ? cell + whole : nullptr, n - whole);
            }
        }
        src.EndRow();
        e.row += e.pitch;
        if constexpr (kDepth) depth_row = StepDepthRow(depth_row, depth_pitch);
    }
    e.Store(s);
    src.Store(s);
    if constexpr (kDepth) {
        s->Depth = depth;
        s->DepthRowAddress = depth_row;
    }
}

template <bool kDepth, bool kShort, class Source>
[[gnu::noinline]] void RowsApart(SpanState* s) {
    Rows<kDepth, kShort>(s, Source(s));
}

// Whether no row of the section spans a whole group: the edges' distance is
// linear in the row, and a row spans less than one pixel more than it.
inline bool RowsAllShort(const SpanState* s) {
    const auto distance = [s](int64_t row) {
        return int64_t{s->RightX} - s->LeftX + row * (int64_t{s->RightXStep} - s->LeftXStep);
    };
    constexpr int64_t kLimit = int64_t{kGroup - 1} << 16;
    return distance(1) <= kLimit && distance(s->RowCount) <= kLimit;
}

// The textured depth fillers carry the most lane state (u, v and depth), so
// their sections of short rows, the whole of a small triangle, take the loop
// without lanes.
template <bool kDepth, class Source>
void AnyRows(SpanState* s, Source src) {
    if (kDepth && Source::kClear && RowsAllShort(s))
        Rows<kDepth, true>(s, src);
    else
        Rows<kDepth, false>(s, src);
}

// Sections of short rows, the whole of a small triangle, take a loop of their
// own without the noise, shade and depth lanes, which keeps its running values
// in registers.
void SmoothDepthRows(SpanState* s) {
    if (RowsAllShort(s))
        RowsApart<true, true, SmoothSource>(s);
    else
        Rows<true, false>(s, SmoothSource(s));
}

void FlatRows(SpanState* s) {
    Edges e(s);
    const uint8_t colour = static_cast<uint8_t>(s->FlatColour);
    for (int32_t rows = s->RowCount; rows > 0 && !RowPast(e.row, e.pitch); --rows) {
        e.Step();
        const int32_t xl = e.left >> 16, xr = e.right >> 16;
        if (xr > xl && RowDrawn(e.row)) std::memset(e.row + xl, colour, static_cast<size_t>(xr - xl));
        e.row += e.pitch;
    }
    e.Store(s);
}

// The step decides once per call which u|v lanes serve the whole section.
template <bool kDepth, bool kLit>
void TexturedRows(SpanState* s) {
    if ((s->InterpStep & kPackedGapBits) == 0)
        AnyRows<kDepth>(s, TexturedSource<kLit, SplitUv>(s));
    else
        AnyRows<kDepth>(s, TexturedSource<kLit, PackedUv>(s));
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

void SpanFlat(SpanState* s) { FlatRows(s); }
void SpanFlatZ(SpanState* s) { Rows<true, false>(s, FlatSource(s)); }
void SpanTextured(SpanState* s) { TexturedRows<false, false>(s); }
void SpanTexturedZ(SpanState* s) { TexturedRows<true, false>(s); }
void SpanTexturedLit(SpanState* s) { TexturedRows<false, true>(s); }
void SpanTexturedLitZ(SpanState* s) { TexturedRows<true, true>(s); }
void SpanSmooth(SpanState* s) { Rows<false, false>(s, SmoothSource(s)); }
void SpanSmoothZ(SpanState* s) { SmoothDepthRows(s); }

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
