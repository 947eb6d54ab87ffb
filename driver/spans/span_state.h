// The rasteriser's single state block and the basic span fillers.
//
// A triangle set-up writes SpanState once per triangle and calls a span
// filler per section; the filler steps the edges before each row, draws the
// row and leaves the stepped values in the block for the next section.
// 16.16 is signed fixed point; pointers are native width on this build.
#pragma once

#include <cstddef>
#include <cstdint>

struct SpanState;

// Span routine of the perspective modes' dispatch tables.
using SpanRoutine = void (*)(SpanState*);

struct SpanState {
    // Edges and rows.
    int32_t LeftX;        // 16.16, x of the left edge on the row last drawn
    int32_t RightX;       // 16.16
    int32_t RightXStep;   // 16.16 per row
    int32_t LeftXStep;    // 16.16 per row
    int32_t RowCount;     // rows to draw in this call
    uint8_t* RowAddress;  // first byte of the frame row drawn next
    int32_t RowPitch;     // bytes between frame rows (may be negative)
    uint16_t* DepthRowAddress;  // first cell of the depth row drawn next
    int32_t DepthPitch;   // bytes between depth rows

    // Stipple and dither inputs.
    uint32_t RowSeed;     // noise word of the row, evolved once per row
    uint32_t Opacity;     // screen-door threshold 0-255

    // Colour, texture, shade.
    uint32_t FlatColour;        // pixel value in the low byte
    const uint8_t* Texels;      // 128 x 128 texels, 128 bytes a row
    const uint8_t* ShadeRow;    // 256-byte aligned row of a shade table
    uint32_t Interp;            // packed u|v (textured) or 8.8 shade (smooth)
    uint32_t InterpRowStep;     // per row along the left edge
    uint32_t InterpStep;        // per pixel
    int32_t Shade;              // 8.8, smooth textured rasterisers
    int32_t ShadeRowStep;
    int32_t ShadeStep;

    // Depth.
    int32_t Depth;          // 16.16 at the left edge; larger is nearer
    int32_t DepthRowStep;
    int32_t DepthStep;
    int32_t DepthBias;      // 0 or 0xFF0000, set-ups only

    // Fixed-point perspective: per-edge blocks filled by the handlers.
    uint32_t LeftUQ;
    int32_t LeftUQStep;
    uint32_t LeftVQ;
    int32_t LeftVQStep;
    uint32_t RightUQ;
    int32_t RightUQStep;
    uint32_t RightVQ;
    int32_t RightVQStep;
    int32_t LeftQ;          // 16.16, kept at 1.0 or above
    int32_t LeftQStep;
    int32_t LeftShift;      // low byte: left shift of the left-end quotients
    int32_t StartV;         // working
    int32_t StartU;         // working
    int32_t RightQ;
    int32_t RightQStep;
    int32_t RightShift;
    int32_t FarV;           // working
    int32_t FarU;           // working
    int32_t PerspDirection; // 0: walk left to right, 1: right to left
    // Fixed-point perspective working fields.
    int32_t SpanCountNeg;
    int32_t SpanDepthAcc;
    uint8_t* SpanRowBase;
    uint16_t* SpanDepthBase;
    int32_t AccV;
    int32_t AccU;
    uint32_t DenA;
    uint32_t DenB;
    uint32_t DenC;
    int32_t StepV;
    int32_t StepU;
    int32_t SpanWidth;
    const int32_t* ExpCursorV;
    const int32_t* ExpCursorU;
    int32_t FarQ;
    const SpanRoutine* CurrentSpanTable;
    int32_t SpanShade;
    uint32_t SpanDither;
    // Per-triangle working values of the fixed-point perspective set-ups,
    // indexed T, N, P.
    int32_t PerspTriU[3];     // 16.16
    int32_t PerspTriV[3];     // 16.16
    float PerspTriW[3];       // view depths
    float PerspTriG[3];       // products of the other two view depths
    uint32_t PerspTriQ[3];    // normalised weights

    // Float perspective: per-edge weight W and weighted coordinates U, V.
    float LeftW;
    float LeftWStep;
    float LeftU;
    float LeftUStep;
    float LeftV;
    float LeftVStep;
    float RightW;
    float RightWStep;
    float RightU;
    float RightUStep;
    float RightV;
    float RightVStep;

    // Per-frame fields, set at device open and at every begin frame.
    const uint32_t* DitherRowX;   // 8 dwords of the x-dither table
    const uint32_t* DitherRowX2;  // 8 dwords of the third table
    const uint8_t* ShadeTableBase;  // current shade table, 256 bytes a level
    int32_t ScreenPitch;          // bytes per frame row for the rectangle fills
};

// The driver's one block. Fillers take its address as their argument.
extern SpanState SpanStateBlock;

// The frame rows the polygon fillers draw, as a range of row addresses (every row unless a
// band of the frame was chosen). A row outside is stepped over like any other but not drawn.
extern uintptr_t DrawnRowsFirst;
extern uintptr_t DrawnRowsSpan;
inline bool RowDrawn(const uint8_t* row) {
    return reinterpret_cast<uintptr_t>(row) - DrawnRowsFirst < DrawnRowsSpan;
}
// Whether rows stepped by pitch from row have yet to reach the drawn rows, or have left them
// behind: a section of a triangle stops there, as the rest of it is drawn nowhere (the next
// triangle's set-up starts afresh).
inline bool RowBefore(const uint8_t* row, int32_t pitch) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(row);
    return pitch > 0 ? at < DrawnRowsFirst : at - DrawnRowsFirst >= DrawnRowsSpan && at > DrawnRowsFirst;
}
inline bool RowPast(const uint8_t* row, int32_t pitch) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(row);
    return pitch > 0 ? at - DrawnRowsFirst >= DrawnRowsSpan && at > DrawnRowsFirst : at < DrawnRowsFirst;
}

// Four noise tables of an 8-dword pattern stored twice, so that 8 entries can
// be read from a pointer to any of the first 8: x-dither, y-seed, third,
// fourth.
extern const uint32_t DitherMatrices[4][16];

// Mask applied after every packed u|v addition: u and v wrap separately.
constexpr uint32_t kPackedUvMask = 0x7FFF7FFFu;

// Offset of the texel of packed coordinate t in a 128 x 128 texture.
constexpr uint32_t PackedTexelOffset(uint32_t t) {
    return ((t >> 24) & 0x7Fu) * 128u + ((t >> 8) & 0x7Fu);
}

// Noise word step, after every pixel and once per row.
constexpr uint32_t NoiseStep(uint32_t s) { return s ^ (s >> 6); }

// Pointer to a 16-bit cell moved by a byte distance.
inline uint16_t* StepDepthRow(uint16_t* p, int32_t pitch_bytes) {
    return reinterpret_cast<uint16_t*>(reinterpret_cast<uint8_t*>(p) + pitch_bytes);
}

// The eight basic fillers, for 8-bit frames. Each draws RowCount rows
// (stepping first), leaves LeftX, RightX, RowAddress and, where used, Interp,
// Depth, DepthRowAddress and RowSeed stepped past the last row, and sets
// RowCount to 0.
void SpanFlat(SpanState* s);
void SpanFlatZ(SpanState* s);
void SpanTextured(SpanState* s);
void SpanTexturedZ(SpanState* s);
void SpanTexturedLit(SpanState* s);
void SpanTexturedLitZ(SpanState* s);
void SpanSmooth(SpanState* s);
void SpanSmoothZ(SpanState* s);

// Rectangle fills. FillRect8 and FillRect16 step rows by
// SpanStateBlock.ScreenPitch; value holds the pixel replicated (four bytes,
// or both 16-bit halves). Width in bytes and rows at least 1.
void FillRect8(uint8_t* const* start, int32_t width, int32_t rows, uint32_t value);
void FillRect16(uint8_t* const* start, int32_t width, int32_t rows, uint32_t value);
// Zero fill, for the depth buffer: width a positive multiple of 4 bytes.
void FillRectZero(void* start, int32_t width, int32_t rows, int32_t pitch);
