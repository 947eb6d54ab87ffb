#include "driver/spans/persp_tables.h"

#include <cmath>
#include <cstring>

#include "driver/core/palette_memory.h"

uint8_t LogTable[256];
int32_t* ExpTable = nullptr;

namespace {
int32_t* exp_allocation = nullptr;
}  // namespace

int PerspectiveTablesCreate() {
    for (int i = 256; i < 512; ++i) {
        // The upper logarithm is rounded to single precision before the sum.
        const double lower = std::log2(i / 256.0);
        const double upper = static_cast<float>(std::log2((i + 1) / 256.0));
        LogTable[i - 256] = static_cast<uint8_t>(128.0 * (lower + upper));
    }
    PerspectiveTablesFree();
    exp_allocation = static_cast<int32_t*>(PaletteAllocate(kExpTableEntries * sizeof(int32_t)));
    if (!exp_allocation) return 0;
    ExpTable = exp_allocation + kExpTableCentre;
    for (int r = -31; r <= 31; ++r) {
        for (int m = -256; m <= -1; ++m) {
            const long double sum = std::exp2(static_cast<long double>(-1 - m) / 256.0L) +
                                    std::exp2(static_cast<long double>(-m) / 256.0L);
            const uint32_t base = static_cast<uint32_t>(16777216.0L * sum / 2.0L);
            // Left shifts keep only the low 32 bits.
            const uint32_t value = r > 0 ? base >> r : base << -r;
            ExpTable[256 * r + m] = static_cast<int32_t>(value);
        }
    }
    // The top row is never stepped into; zero it rather than leave it unset.
    std::memset(ExpTable + 7936, 0, 256 * sizeof(int32_t));
    return 1;
}

int PerspectiveTablesFree() {
    PaletteFree(exp_allocation);
    exp_allocation = nullptr;
    ExpTable = nullptr;
    return 1;
}
