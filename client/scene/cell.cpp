// The cell cache: per world, one keyed database with the packed object entries of every
// cell and the sequence number of every sector, worked on one cell at a time.
#include "client/scene/cell.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "client/cache/database.h"
#include "client/core/log.h"
#include "client/net/netcodes.h"
#include "platform/clock.h"

namespace {

database* cell_db = nullptr;
int old_protocol = 1;
int16_t cell_x = 0, cell_z = 0;  // the current cell

// A cell reply: the code byte, x, z and the sequence, then the objects.
static_assert(NET_MAX_MESSAGE - 9 <= CELL_DATA_LIMIT, "a whole cell from the server must fit its cap");

// Entries are packed without gaps; the buffer grows with the cell, up to the cap.
constexpr size_t WORK_FIRST = 4096;
std::vector<uint8_t> work(WORK_FIRST);
size_t used = 0;
size_t cursor = 0;

// An ended update of the current cell not stored yet, and the sector sequence it carries
// (0: none).
bool held = false;
int32_t held_sequence = 0;
uint32_t held_since = 0;
// An add to the current cell was dropped at its cap: the cache no longer holds what the
// sequence stands for.
bool short_of_adds = false;

// Cells whose dropped adds the log has told of (a bounded set: past it, no more lines).
constexpr size_t NOTED_LIMIT = 1024;
std::set<uint32_t> noted;

const char* (*world_path_fn)() = nullptr;
int (*world_changed_fn)() = nullptr;
cell_element_create_fn create_fn = nullptr;

bool tracing() { return trace_switches[TRACE_GENERAL] != 0; }

size_t data_limit() { return static_cast<size_t>(old_protocol ? CELL_DATA_LIMIT_OLD : CELL_DATA_LIMIT); }

void put16(uint8_t* p, int v) {
  auto u = static_cast<uint16_t>(v);
  p[0] = static_cast<uint8_t>(u);
  p[1] = static_cast<uint8_t>(u >> 8);
}
void put32(uint8_t* p, int32_t v) {
  auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(u >> (8 * i));
}
int16_t get16(const uint8_t* p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }
int32_t get32(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24));
}
int32_t get32_be(const uint8_t* p) {
  return static_cast<int32_t>((uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]));
}

// One entry decoded in place; the texts point into the buffer.
struct entry {
  size_t length;
  int32_t number, owner, build_time;
  int16_t x, y, z, yaw;
  uint8_t model_length, description_length, action_length;
  const uint8_t* texts;
};

// Both formats end alike, from the place on: x, y, z, yaw, the three text lengths, then the
// texts (TAIL_HEAD bytes in, where the head ends). The tail starts at TAIL_AT, or TAIL_AT_OLD.
constexpr size_t TAIL_HEAD = 11, TAIL_AT = 12, TAIL_AT_OLD = 9;
static_assert(TAIL_AT + TAIL_HEAD == CELL_ENTRY_HEAD && TAIL_AT_OLD + TAIL_HEAD == CELL_ENTRY_HEAD_OLD);

void get_tail(const uint8_t* p, entry& e) {
  e.x = get16(p);
  e.y = get16(p + 2);
  e.z = get16(p + 4);
  e.yaw = get16(p + 6);
  e.model_length = p[8];
  e.description_length = p[9];
  e.action_length = p[10];
}

void put_tail(uint8_t* p, int x, int y, int z, int yaw, const char* model, size_t m, const char* description,
              size_t d, const char* action, size_t a) {
  put16(p, x);
  put16(p + 2, y);
  put16(p + 4, z);
  put16(p + 6, yaw);
  p[8] = static_cast<uint8_t>(m);
  p[9] = static_cast<uint8_t>(d);
  p[10] = static_cast<uint8_t>(a);
  p += TAIL_HEAD;
  if (m) std::memcpy(p, model, m);
  if (d) std::memcpy(p + m, description, d);
  if (a) std::memcpy(p + m + d, action, a);
}

// Decodes the entry at p of either format. False when the bytes left cannot hold it, so a
// damaged record, or one written under the other protocol, is never read past its end.
bool parse_entry(const uint8_t* p, size_t avail, bool old, entry& e) {
  size_t head = old ? CELL_ENTRY_HEAD_OLD : CELL_ENTRY_HEAD;
  if (avail < head) return false;
  if (old) {
    e.number = static_cast<int8_t>(p[0]);
    e.owner = get32_be(p + 1);
    e.build_time = get32_be(p + 5);
    get_tail(p + TAIL_AT_OLD, e);
  } else {
    e.number = get32(p);
    e.owner = get32(p + 4);
    e.build_time = get32(p + 8);
    get_tail(p + TAIL_AT, e);
  }
  e.length = head + e.model_length + e.description_length + e.action_length;
  e.texts = p + head;
  return e.length <= avail;
}

// Room for an entry of extra bytes at the end, or null when it would take the cell past the
// cap (the log tells of it once for the cell).
uint8_t* grow(size_t extra) {
  if (used + extra > data_limit()) {
    short_of_adds = true;
    uint32_t id = static_cast<uint32_t>(static_cast<uint16_t>(cell_x)) << 16 | static_cast<uint16_t>(cell_z);
    if (noted.size() < NOTED_LIMIT && noted.insert(id).second)
      log_note("cell (%d, %d) holds %d bytes: further objects for it are dropped", cell_x, cell_z,
               static_cast<int>(used));
    return nullptr;
  }
  if (used + extra > work.size()) work.resize(std::min(data_limit(), std::max(work.size() * 2, used + extra)));
  uint8_t* p = work.data() + used;
  used += extra;
  return p;
}

void store_held() {
  if (!held) return;
  held = false;
  uint8_t key[CELL_KEY_LENGTH];
  cell_make_key(key, 1, cell_x, cell_z);
  database_store(cell_db, key, work.data(), static_cast<int32_t>(used));
  if (tracing()) log_write("cell (%d, %d) stored: %d bytes", cell_x, cell_z, static_cast<int>(used));
  // A cell short of a dropped add asks for its sector again: the server's whole cell fits.
  int32_t sequence = short_of_adds ? 0 : held_sequence;
  if ((held_sequence > 0 || short_of_adds) && !old_protocol &&
      !cell_sector_set_sequence(cell_sector(cell_x), cell_sector(cell_z), sequence))
    if (tracing()) log_write("cell (%d, %d): the sector sequence was not stored", cell_x, cell_z);
  held_sequence = 0;
  short_of_adds = false;
}

// Reads the current cell's record into the buffer; a missing or unreadable one leaves it
// empty. One too long for the cap is dropped with its sector's sequence, so that the server
// sends the cell again.
void read_cell() {
  used = 0;
  cursor = 0;
  uint8_t key[CELL_KEY_LENGTH];
  cell_make_key(key, 1, cell_x, cell_z);
  const auto limit = static_cast<int32_t>(data_limit());
  if (work.size() < data_limit()) work.resize(data_limit());
  int32_t length = 0;
  if (database_fetch(cell_db, key, work.data(), limit, &length)) {
    used = length > 0 ? static_cast<size_t>(length) : 0;
    return;
  }
  if (!database_key_exists(cell_db, key)) return;
  log_note("cell (%d, %d): its stored record is unreadable or above %d bytes and is dropped", cell_x, cell_z, limit);
  database_store(cell_db, key, nullptr, 0);
  cell_sector_set_sequence(cell_sector(cell_x), cell_sector(cell_z), 0);
}

// Makes (x, z) the current cell; an update of another cell still held is stored first.
// True when the buffer already holds the cell (its update is held).
bool make_current(int x, int z) {
  auto nx = static_cast<int16_t>(x), nz = static_cast<int16_t>(z);
  if (held && nx == cell_x && nz == cell_z) return true;
  store_held();
  cell_x = nx;
  cell_z = nz;
  return false;
}

size_t cut_length(const char* text) { return text ? strnlen(text, 255) : 0; }

size_t given_length(int length, const char* text) {
  if (!text || length <= 0) return 0;
  return static_cast<size_t>(length > 255 ? 255 : length);
}

int delete_entry(int32_t number, bool old) {
  size_t at = 0;
  entry e;
  while (at < used && parse_entry(work.data() + at, used - at, old, e)) {
    bool match = old ? static_cast<uint8_t>(work[at]) == static_cast<uint8_t>(number) : e.number == number;
    if (match) {
      std::memmove(work.data() + at, work.data() + at + e.length, used - at - e.length);
      used -= e.length;
      return 1;
    }
    at += e.length;
  }
  return 0;
}

}  // namespace

void cell_make_key(uint8_t key[CELL_KEY_LENGTH], int kind, int x, int z) {
  put16(key, kind);
  put16(key + 2, x);
  put16(key + 4, z);
}

void cell_init() {
  if (tracing()) log_write("cell_init");
  old_protocol = 1;
  used = cursor = 0;
  held = false;
  held_sequence = 0;
  short_of_adds = false;
}

int cell_reset() {
  if (tracing()) log_write("cell_reset");
  store_held();
  if (cell_db) {
    database_close(cell_db);
    cell_db = nullptr;
  }
  used = cursor = 0;
  noted.clear();
  const char* dir = world_path_fn ? world_path_fn() : nullptr;
  if (!dir || !*dir) return 0;
  std::string name = std::string(dir) + "/cell";
  cell_db = database_open(name.c_str(), CELL_KEY_LENGTH, 0, 16384, 4096, 0, 0);
  if (!cell_db) return 0;
  if (world_changed_fn && world_changed_fn()) database_reset(cell_db);
  return 1;
}

void cell_term() {
  if (tracing()) log_write("cell_term");
  store_held();
  database_close(cell_db);
  cell_db = nullptr;
  // A big cell's buffer is not kept past the world.
  std::vector<uint8_t>(WORK_FIRST).swap(work);
  used = cursor = 0;
}

void cell_set_old(int flag) {
  if (tracing()) log_write("cell_set_old :%d", flag);
  store_held();
  old_protocol = flag;
}

void cell_update_begin(int x, int z, int fresh) {
  bool in_buffer = make_current(x, z);
  if (fresh || !in_buffer) short_of_adds = false;
  if (fresh) {
    used = cursor = 0;
    return;
  }
  if (!in_buffer) read_cell();
  cursor = 0;
}

int cell_element_add(int32_t number, int32_t owner, int32_t build_time, int x, int y, int z, int yaw,
                     const char* model, const char* description, const char* action) {
  if (tracing()) log_write("cell_element_add (%d)", number);
  size_t m = cut_length(model), d = cut_length(description), a = cut_length(action);
  uint8_t* p = grow(CELL_ENTRY_HEAD + m + d + a);
  if (!p) return 0;
  put32(p, number);
  put32(p + 4, owner);
  put32(p + 8, build_time);
  put_tail(p + TAIL_AT, x, y, z, yaw, model, m, description, d, action, a);
  return 1;
}

int cell_element_add_old(int number, int32_t owner, int32_t build_time, int x, int y, int z, int yaw,
                         int model_length, const char* model, int description_length, const char* description,
                         int action_length, const char* action) {
  if (tracing()) log_write("cell_element_add_old (%d)", number);
  size_t m = given_length(model_length, model), d = given_length(description_length, description),
         a = given_length(action_length, action);
  uint8_t* p = grow(CELL_ENTRY_HEAD_OLD + m + d + a);
  if (!p) return 0;
  p[0] = static_cast<uint8_t>(number);
  std::memcpy(p + 1, &owner, 4);  // kept in the byte order it arrived in
  std::memcpy(p + 5, &build_time, 4);
  put_tail(p + TAIL_AT_OLD, x, y, z, yaw, model, m, description, d, action, a);
  return 1;
}

int cell_element_delete(int32_t number) {
  if (tracing()) log_write("cell_element_delete (%d)", number);
  return delete_entry(number, false);
}

int cell_element_delete_old(int number) {
  if (tracing()) log_write("cell_element_delete_old (%d)", number);
  return delete_entry(number, true);
}

int cell_update_end(int32_t sequence) {
  if (tracing()) log_write("cell_update_end: %d bytes", static_cast<int>(used));
  bool sector = !old_protocol && sequence > 0;
  if (!cell_db) return sector ? 0 : 1;
  if (!held) held_since = platform_ticks();
  held = true;
  if (sector) held_sequence = sequence;
  return 1;
}

void cell_flush() {
  if (held && tick_diff(held_since, platform_ticks()) >= static_cast<int32_t>(CELL_STORE_DELAY)) store_held();
}

int cell_sector_set_sequence(int sector_x, int sector_z, int32_t sequence) {
  if (tracing()) log_write("cell_sector_set_sequence");
  store_held();
  uint8_t key[CELL_KEY_LENGTH], record[4];
  cell_make_key(key, 0, sector_x, sector_z);
  put32(record, sequence);
  return database_store(cell_db, key, record, 4) ? 1 : 0;
}

int32_t cell_sector_sequence(int sector_x, int sector_z) {
  if (tracing()) log_write("cell_sector_sequence");
  store_held();
  uint8_t key[CELL_KEY_LENGTH], record[4];
  cell_make_key(key, 0, sector_x, sector_z);
  int32_t length = 0;
  if (!database_fetch(cell_db, key, record, 4, &length) || length != 4) return 0;
  return get32(record);
}

void cell_start(int x, int z) {
  if (tracing()) log_write("cell_start");
  bool in_buffer = make_current(x, z);
  store_held();
  if (!in_buffer) read_cell();
  cursor = 0;
}

int cell_next(element** out) {
  if (tracing()) log_write("cell_next");
  if (cursor >= used) return 0;
  entry e;
  if (!parse_entry(work.data() + cursor, used - cursor, old_protocol != 0, e)) {
    cursor = used;  // the rest of the record is not an entry
    return 0;
  }
  if (!create_fn) return 0;
  const char* t = reinterpret_cast<const char*>(e.texts);
  element* made = create_fn(cell_x + e.x * 0.001, e.y * 0.001, cell_z + e.z * 0.001, static_cast<float>(e.yaw * 0.1),
                            e.model_length, t, e.description_length, t + e.model_length, e.action_length,
                            t + e.model_length + e.description_length, e.number, e.owner, e.build_time);
  if (!made) return 0;
  if (out) *out = made;
  cursor += e.length;
  return 1;
}

int cell_from_coordinate(double v) {
  // floor, in double: a float would put a boundary such as -300.0 into the cell before it.
  if (std::isnan(v)) return 0;
  double f = std::floor(v);
  if (f < -2147483648.0) return INT32_MIN;
  if (f > 2147483647.0) return INT32_MAX;
  return static_cast<int>(f);
}

int cell_sector(int c) {
  int v = static_cast<int16_t>(c);
  if (old_protocol) return v < 0 ? (v - 2) / 6 : (v + 3) / 6;
  return v < 0 ? (v - 3) / 8 : (v + 4) / 8;
}

int cell_sector_from_coordinate(double v) { return cell_sector(cell_from_coordinate(v)); }

void cell_set_world(const char* (*property_path)(), int (*contents_changed)()) {
  world_path_fn = property_path;
  world_changed_fn = contents_changed;
}

void cell_set_element_create(cell_element_create_fn fn) { create_fn = fn; }

const uint8_t* cell_buffer(int32_t* length) {
  if (length) *length = static_cast<int32_t>(used);
  return work.data();
}
