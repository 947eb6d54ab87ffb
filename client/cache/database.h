#pragma once
// Keyed databases: a pair of keyed files "<name>.dat" (records) and "<name>.idx" (one
// B-tree of fixed-length keys). A damaged pair, found at open or in use, is recreated empty;
// one the system refuses (busy, forbidden, read-only, full) is left as it is and the message
// names the file and the system's reason. A cache (what can be downloaded again) that the
// system refuses is told once per store and run and goes on in memory; only a store of the
// person's own data ends the program when it can neither be opened nor rebuilt. Callers never
// see file numbers or engine codes. Window thread only.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct database {
  int16_t data_file = -1;   // engine file numbers; -1 when not open
  int16_t index_file = -1;
  int16_t data_mode = 0;    // 2 fixed, 6 variable, + 0x40 write-through
  int16_t index_mode = 0;   // 2, + 0x40 write-through
  int32_t fixed = 0;        // 1 when the records have one length
  std::string name;         // path without extension ('/' separators)
  int16_t key_length = 0;
  int16_t key_type = 0;     // 12 with compressed keys, else 0
  int16_t record_length = 0;  // 0 for variable-length records
  uint16_t data_extension = 0;  // growth steps of the two files
  uint16_t index_extension = 0;
  int32_t enumeration = 0;  // record position of the last key given by database_fetch_next; 0 = start
  std::vector<uint8_t> last_key;  // that key, so that lookups between two calls do not move the walk
  int32_t keep_damaged = 0;  // user data: a damaged pair is renamed aside, never deleted
  int32_t unreadable = 0;    // records the current walk passed over because they could not be read
  // A cache the system will not let us write (no space, read-only, busy): its records from
  // then on live here for the rest of the run (nullopt: deleted), in front of whatever its
  // files, while still open, hold. The files are left as they are.
  int32_t in_memory = 0;
  std::map<std::vector<uint8_t>, std::optional<std::vector<uint8_t>>> memory;
  size_t memory_bytes = 0;
};

// The most a cache kept in memory holds before further records are refused.
constexpr size_t database_memory_limit = size_t(64) << 20;

// Starts the keyed-file engine (512 buffers, 20 files, 4 sectors). 0, else the engine's error.
int database_init();

// Opens the pair "<name>.dat"/"<name>.idx", or creates it, or recreates it when it is
// damaged (its contents wrong, marked as being updated, one file missing) or was made with
// another key length, record length or kind of record. A pair the system refuses (busy,
// forbidden, read-only) is left untouched. record_length 0 means variable-length records.
// keep_damaged: the pair holds user data (telegrams): a pair that has to be recreated is
// first renamed "<name>-damagedN" and message 129 says where it went.
// User data: null when the pair can neither be opened nor created (message 130 with the file,
// the system's reason and the folder; the program ends). A cache then keeps its records in
// memory for the run (message 129 with the file and the reason, once per store and run,
// whichever folder it is in).
database* database_open(const char* name, int key_length, int record_length, int data_extension,
                        int index_extension, int compressed, int write_through, int keep_damaged = 0);
void database_close(database* db);

// 1 when the key is in the index.
int database_key_exists(database* db, const void* key);
// 1 with the record in buffer (capacity bytes; nothing is written when the record does not
// fit) and its length in *length when given; else 0.
int database_fetch(database* db, const void* key, void* buffer, int32_t capacity, int32_t* length);
// Variable-length records: 1 with a new std::malloc'ed buffer (the caller frees it) holding
// the record and one zero byte after it (not counted in *length); else 0.
int database_fetch_unknown(database* db, const void* key, uint8_t** buffer, int32_t* length);
// Fixed records take record-length bytes (a shorter length is padded with zeros; 0 takes
// record-length bytes). Variable records: length below 1 deletes the key's record.
int database_store(database* db, const void* key, const void* data, int32_t length);
// Next key in key order and a new std::malloc'ed copy of its record (with a zero byte after
// it); 0 at the end, after which the walk starts again. A record that cannot be read is
// logged, counted in `unreadable` and passed over. Variable-length records only; a cache
// kept in memory is not walked.
int database_fetch_next(database* db, void* key_out, uint8_t** buffer, int32_t* length = nullptr);
// Variable-length records: every key in key order with its record's length, reading no
// record (a cache kept in memory gives what memory holds). At most max_keys; 0 after an
// engine error.
int database_walk_lengths(database* db, size_t max_keys,
                          void (*fn)(void* user, const uint8_t* key, int32_t length), void* user);
// Recreates the database empty (user data: message 85 and the program's end when that fails;
// a cache goes on in memory).
void database_reset(database* db);

// How the wrapper ends the program. quit: a database can neither be opened nor created (the
// main loop is asked to end; by default the Host's quit). exit_now: a damaged database cannot
// be rebuilt (by default the process exits with status 1). Null restores a default.
void database_set_exits(void (*quit)(), void (*exit_now)(int status));
