// The driver's one 16-bit depth buffer: larger values nearer, cleared to 0 by
// the per-frame clear, not on allocation.
#pragma once

#include <cstdint>

extern uint16_t* DepthBuffer;      // base, null when absent
extern int32_t DepthBufferPitch;   // 2 x width, bytes
extern int32_t DepthHeight;        // rows

// Frees the old buffer, then allocates 2 x width x height bytes through the
// engine. Returns the base, or null on failure (then no buffer exists and the
// recorded size is 0, so that a later request tries again).
uint16_t* DepthBufferAlloc(int32_t width, int32_t height);
void DepthBufferFree();
// Grows the buffer when a raster of width x height does not fit: to the larger
// of the old and new width and of the old and new height. 1 when a buffer that
// fits exists afterwards, 0 on failure.
int DepthBufferGrow(int32_t width, int32_t height);
