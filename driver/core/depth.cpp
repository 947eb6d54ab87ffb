#include "driver/core/depth.h"

#include <algorithm>
#include <limits>

#include "driver/core/palette_memory.h"

uint16_t* DepthBuffer = nullptr;
int32_t DepthBufferPitch = 0;
int32_t DepthHeight = 0;

void DepthBufferFree() {
    PaletteFree(DepthBuffer);
    DepthBuffer = nullptr;
}

uint16_t* DepthBufferAlloc(int32_t width, int32_t height) {
    DepthBufferFree();
    // Sizes in 64 bits: 2 x width, and pitch x height, may not fit 32 bits.
    const int64_t pitch = 2 * static_cast<int64_t>(width);
    if (width < 0 || height < 0 || pitch > std::numeric_limits<int32_t>::max()) {
        DepthBufferPitch = 0;
        DepthHeight = 0;
        return nullptr;
    }
    const uint64_t bytes = static_cast<uint64_t>(pitch) * static_cast<uint64_t>(height);
    DepthBufferPitch = static_cast<int32_t>(pitch);
    DepthHeight = height;
    void* p = bytes <= std::numeric_limits<size_t>::max() / 2
                  ? PaletteAllocate(static_cast<size_t>(bytes))
                  : nullptr;
    if (!p) {
        DepthBufferPitch = 0;
        DepthHeight = 0;
        return nullptr;
    }
    DepthBuffer = static_cast<uint16_t*>(p);
    return DepthBuffer;
}

int DepthBufferGrow(int32_t width, int32_t height) {
    const int64_t pitch = 2 * static_cast<int64_t>(width);
    if (DepthBuffer && pitch <= DepthBufferPitch && height <= DepthHeight) return 1;
    const int32_t old_width = DepthBufferPitch / 2;
    const int32_t w = std::max(old_width, width);
    const int32_t h = std::max(DepthHeight, height);
    return DepthBufferAlloc(w, h) != nullptr ? 1 : 0;
}
