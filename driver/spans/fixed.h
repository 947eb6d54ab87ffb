#pragma once
// Saturating 16.16 fixed-point arithmetic: a signed 32-bit n stands for n / 65536. Results
// that do not fit clamp to the largest or smallest 32-bit value instead of wrapping.
#include <cstdint>

// floor(a x b / 65536), or 0x7FFFFFFF / 0x80000000 by the sign of the exact product.
int32_t FixedMulSat(int32_t a, int32_t b);
// (a x 65536) / b truncated toward zero; 0 for a = 0, a for b = 0, clamped when the
// quotient's magnitude is 32768.0 or more.
int32_t FixedDivSat(int32_t a, int32_t b);

// Entry n: the number of significant bits of n (0 for 0, 8 for 128..255).
extern const uint8_t BitLengthTable[256];
