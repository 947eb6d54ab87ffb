// Shade ramps: every colour is drawn at one of 32 shade levels, and the
// current shade-table set turns (level, colour) into the pixel to store.
//
// 8-bit depth: ShadeTable is 32 rows of 256 palette indexes (level-major) and
// ColourRampTable 36 hues x 4 saturations x 32 levels plus a grey row.
// 15/16-bit depth: ShadeTable is three channel tables of 32 levels x 32 input
// values. Every table is allocated 256 bytes larger than used and used from
// the first 256-aligned address above the allocation.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/records.h"

constexpr int kShadeLevels = 32;
constexpr size_t kShadeTable8Used = 32 * 256;          // 8192
constexpr size_t kShadeTable8Alloc = kShadeTable8Used + 256;
constexpr size_t kColourRampUsed = 36 * 4 * 32 + 32;   // 4640
constexpr size_t kColourRampAlloc = kColourRampUsed + 256;
constexpr size_t kColourRampGreyRow = 36 * 4 * 32;     // 4608
constexpr size_t kShadeTable16Used = 3 * 32 * 32;      // 3072
constexpr size_t kShadeTable16Alloc = kShadeTable16Used + 256;
constexpr size_t kQuotientTableBytes = 65 * 32 * 4;    // 8320

// Ramp parameters, device-wide.
extern int RampSineCurve;   // non-zero: levels follow a quarter sine
extern float RampKnee;      // below: base colour -> full colour; above: -> white

// Depth the tables are built for (8, 15 or 16 build ramps; 1, 2, 4 none).
extern int ShadeDepth;

// Current tables (256-aligned), read by the span fillers and handlers.
extern uint8_t* ShadeTable;
extern uint8_t* ColourRampTable;
// The default set allocated with the context; current again after a select
// of null or the destruction of the selected set.
extern uint8_t* ShadeTableDefault;
extern uint8_t* ColourRampTableDefault;

// QuotientTable[k * 32 + n] = ((k - 32) x 65536) / n for k 0..64, n 1..31.
extern int32_t* QuotientTable;

// First 256-aligned address above an allocation's start (null stays null).
uint8_t* ShadeAlign(void* allocation);

// Shade factor of a level, rounded to single precision.
float ShadeFactor(int level);
// One channel c (0-255) blended for a level: toward the base component (16.16)
// when dark, toward white when bright; 0..0xFFFF.
int32_t ShadeBlend(int level, int32_t c, int32_t base);

// 32 linear RGB triples of one hue and saturation, one per level.
void RampColours(uint8_t* out96, float hue, float saturation);

// Builds the current set's tables for ShadeDepth from the palette, the ramp
// parameters and the engine's shade colour. Nothing at other depths.
void BuildShadeRamps();

// The context's tables: the depth buffer is dropped, QuotientTable and the
// default shade-table set for depth are allocated. 1 on success; 0 on an
// allocation failure or a depth other than 1, 2, 4, 8, 15, 16 (nothing is
// left allocated then).
int ContextTablesCreate(int depth);
// Frees the colour matcher's tree, the default shade-table set, the depth
// buffer and QuotientTable, clearing each pointer. A set that is selected at
// this moment is not freed: it belongs to whoever created it.
void FreeContextTables();

// Shade-table sets other than the default: the tables behind the create,
// destroy and select entries. Create builds the set's ramps for colour and
// leaves the current set as it was; null on failure.
ShadeTableSet* ShadeSetCreate(const DeviceColour* colour);
// Returns to the default set first when this set is current. 1.
int ShadeSetDestroy(ShadeTableSet* set);
// Makes set (or the default set for null) current and its colour the shade
// colour.
void ShadeSetSelect(ShadeTableSet* set);
// The selected set, null while the default tables are current.
ShadeTableSet* ShadeSetSelected();
