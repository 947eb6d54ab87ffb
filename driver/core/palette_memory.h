// Engine memory and shade colour as the colour tables use them.
//
// Everything the colour code allocates (shade tables, perspective tables,
// depth buffer, matcher nodes) comes from the engine's allocate slots and goes
// back through its free slot.
#pragma once

#include <cstddef>

struct EngineServices;

// The engine record the colour code works with; set by the driver's open.
void PaletteBindEngine(EngineServices* services);
EngineServices* PaletteEngine();

// Null (or no effect) while no engine record is bound or a slot is empty.
void* PaletteAllocate(size_t size);
void* PaletteReallocate(void* pointer, size_t size);
void PaletteFree(void* pointer);
