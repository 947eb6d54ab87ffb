// The two numeric tables through which the fixed-point perspective spans
// divide: a byte logarithm of normalised mantissas and a 32-bit antilogarithm.
#pragma once

#include <cstdint>

// LogTable[j] = truncate(128 x (log2(i/256) + log2((i+1)/256))) for the
// argument i = 256 + j; 0 for j = 0, 255 for j = 255.
extern uint8_t LogTable[256];

// Centre of ExpTable: entry n, n = -8192..7935, is about
// 2^24 x 2^(-(n + 0.5)/256); entries 7936..8191 are 0. Null when absent.
extern int32_t* ExpTable;

constexpr int kExpTableEntries = 16384;
constexpr int kExpTableCentre = 8192;

// Builds LogTable, allocates and fills ExpTable. 1, or 0 when the allocation
// fails (ExpTable is then null).
int PerspectiveTablesCreate();
// Frees ExpTable and clears the pointer. 1.
int PerspectiveTablesFree();
