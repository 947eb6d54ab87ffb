#pragma once
// Cells and the per-world cell cache. The ground is cut into square cells addressed by two
// signed 16-bit numbers; each world's cache database "<world property path>/cell" holds per
// cell the packed entries of its objects and per sector (a square block of cells) the
// sequence number under which the server last sent it.
// One cell is worked on at a time, through one working buffer: an update (begin, adds and
// deletes, end) or an iteration (start, next). An ended update is stored when another cell is
// begun or read, when the cache is reset, or by cell_flush (every frame) once it has waited
// CELL_STORE_DELAY ms, so that a stream of updates to one cell stores it about once a second.
// A cell's entries take at most CELL_DATA_LIMIT bytes (CELL_DATA_LIMIT_OLD under the old
// protocol). An update that had to drop an add stores no sector sequence but clears it, so
// that the next area query asks the server for the whole sector again.
// Window thread only.
#include <cstdint>

struct element;

// Sizes of the packed entry heads before their three texts.
enum { CELL_ENTRY_HEAD = 23, CELL_ENTRY_HEAD_OLD = 20 };

// Bytes a cell's stored entries may take: a little above what one world message can carry
// (a message is at most 8096 bytes, and an object takes as many bytes on the wire as in the
// cache), so a cell the server sends always fits, while live adds cannot make it heavier than
// that. An add past it is dropped. The old protocol's objects are numbered by one byte, so
// its cells are bounded by count; they keep the larger cap they always had.
constexpr int32_t CELL_DATA_LIMIT = 8192;
constexpr int32_t CELL_DATA_LIMIT_OLD = 65536;
constexpr uint32_t CELL_STORE_DELAY = 1000;

// Cache key: kind (1 cell, 0 sector sequence), x, z; three little-endian int16.
enum { CELL_KEY_LENGTH = 6 };
void cell_make_key(uint8_t key[CELL_KEY_LENGTH], int kind, int x, int z);

void cell_init();
// Opens the current world's cell database (emptied when the world's contents changed).
// 0 when it cannot be opened.
int cell_reset();
void cell_term();
// 1: old object protocol (one-byte numbers, 6 x 6 sectors); 0: new protocol (8 x 8).
void cell_set_old(int flag);

// Update of one cell. fresh 0 starts from the cell's stored entries, 1 from none.
void cell_update_begin(int x, int z, int fresh);
// Texts longer than 255 bytes are cut to 255 (their lengths are stored in one byte).
// 1 when added; 0 when the entry would take the cell past its cap (it is dropped, and the
// trace log says so once for the cell).
int cell_element_add(int32_t number, int32_t owner, int32_t build_time, int x, int y, int z, int yaw,
                     const char* model, const char* description, const char* action);
// owner and build_time are the values as received in network (big-endian) byte order.
int cell_element_add_old(int number, int32_t owner, int32_t build_time, int x, int y, int z, int yaw,
                         int model_length, const char* model, int description_length, const char* description,
                         int action_length, const char* action);
// 1 when the first entry with that number was removed, else 0.
int cell_element_delete(int32_t number);
int cell_element_delete_old(int number);
// Ends the update: the cell (no entries: its record goes) and, under the new protocol with
// sequence > 0, the sequence of its sector are stored later, as said above. 0 when there is
// no cache to store the sector's sequence in.
int cell_update_end(int32_t sequence);
// Stores the ended update still held once it has waited CELL_STORE_DELAY ms.
void cell_flush();

int cell_sector_set_sequence(int sector_x, int sector_z, int32_t sequence);
int32_t cell_sector_sequence(int sector_x, int sector_z);

// Iteration over one cell's stored entries. A stored record longer than the cap (or one that
// cannot be read) is dropped and its sector's sequence cleared, so that the
// server sends the cell again.
void cell_start(int x, int z);
// 1 with the element of the next entry in *out; 0 at the end or when no element was made.
int cell_next(element** out);

// Cell of a scene coordinate (floor), sector of a cell, sector of a coordinate.
int cell_from_coordinate(double v);
int cell_sector(int c);
int cell_sector_from_coordinate(double v);

// Seams to modules built later.
// The world connection: its property cache directory and whether its contents changed since
// its attributes were last applied.
void cell_set_world(const char* (*property_path)(), int (*contents_changed)());
// The element module's constructor; cell_next makes no element while none is set.
using cell_element_create_fn = element* (*)(double x, double y, double z, float yaw, int model_length,
                                            const char* model, int description_length, const char* description,
                                            int action_length, const char* action, int32_t number, int32_t owner,
                                            int32_t build_time);
void cell_set_element_create(cell_element_create_fn fn);

// The working buffer and the bytes in use in it (tests).
const uint8_t* cell_buffer(int32_t* used);
