#include "driver/core/palette_memory.h"

#include "driver/records.h"

namespace {
EngineServices* engine = nullptr;
}  // namespace

void PaletteBindEngine(EngineServices* services) { engine = services; }

EngineServices* PaletteEngine() { return engine; }

void* PaletteAllocate(size_t size) {
    if (!engine || !engine->allocate) return nullptr;
    return engine->allocate(size);
}

void* PaletteReallocate(void* pointer, size_t size) {
    if (!engine || !engine->reallocate) return nullptr;
    return engine->reallocate(pointer, size);
}

void PaletteFree(void* pointer) {
    if (pointer && engine && engine->free) engine->free(pointer);
}
