#pragma once
// The engine's record-level layer: a fixed-record data file tied to up to 32 index files. Each
// index's key is formed from a record by a list of segments; every index is kept in step when
// a record is added, rewritten or deleted; records are read by key, through an index, in
// physical order, or within a key prefix set, with a current record per data file.
// Errors go to `uerr_cod` and to the layer's own error and file-number pair.
#include <cstdint>

#include "keyfile/ostrel.h"

// Segment mode flags above the 4-bit mode.
enum : int16_t { SEG_DESCENDING = 0x10, SEG_ALTERNATE = 0x20, SEG_PADS_FIRST = 0x40 };
// Instance mode bit: read-by-key targets are given already in key form.
constexpr int32_t RECORD_KEYS_RAW = 1;

// Starts the engine with the layer's tables (at most 20 files: else 104; twice: 125).
int16_t StartRecordLayer(int16_t buffers, int16_t files, int16_t sectors, int16_t data_pages, int32_t mode);
int16_t StopRecordLayer();
int16_t RecordLayerError();
int16_t RecordLayerFile();

// Segment number 0..11 of index; a negative offset ends the list there.
int16_t SetSegment(int16_t index, int16_t segment, int16_t offset, int16_t length, int16_t mode);
// Ties index to data_file. Option low bits 1: a key made only of null_byte is no key.
int16_t SetKeyOptions(int16_t index, int16_t unused, int16_t options, uint8_t null_byte, int16_t data_file);
// what: 1 length, 2 mode, 3 offset; -1 for anything else.
int16_t GetSegment(int16_t index, int16_t segment, int16_t what);
int16_t DropSegments(int16_t index, int16_t from);
// Where AddRecord writes each new record's serial number (a 4-byte field; -1: nowhere).
int16_t SetSerialField(int16_t data_file, int16_t offset);

// The key of a record for index (without the position suffix of a duplicate index); its
// length, or -1 with the error set. key_out holds at least 256 bytes.
int16_t FormKey(int16_t index, const void* record, void* key_out, int32_t record_length);
// The record fields of a key, the reverse of FormKey where the modes allow it.
int16_t KeyToRecord(int16_t index, const void* key, void* record_out, int32_t record_length);

int16_t AddRecord(int16_t data_file, void* record);
int16_t RewriteRecord(int16_t data_file, const void* record);
int16_t DeleteRecord(int16_t data_file);
// The data file's current record position (0 for none).
int32_t CurrentRecord(int16_t data_file);

// Reads by key value through index; size is the room in record_out.
int16_t ReadEqual(int16_t index, const void* value, void* record_out, int32_t size);
int16_t ReadAtLeast(int16_t index, const void* value, void* record_out, int32_t size);
int16_t ReadAfter(int16_t index, const void* value, void* record_out, int32_t size);
int16_t ReadAtMost(int16_t index, const void* value, void* record_out, int32_t size);
int16_t ReadBefore(int16_t index, const void* value, void* record_out, int32_t size);
// Through an index, or in physical order for a data file.
int16_t FirstRecord(int16_t file, void* record_out, int32_t size);
int16_t LastRecord(int16_t file, void* record_out, int32_t size);
int16_t NextRecord(int16_t file, void* record_out, int32_t size);
int16_t PreviousRecord(int16_t file, void* record_out, int32_t size);
// Among the keys of index that begin with prefix (in key form); leaving the set gives 101.
int16_t FirstInSet(int16_t index, const void* prefix, int16_t length, void* record_out, int32_t size);
int16_t NextInSet(int16_t index, void* record_out, int32_t size);
int16_t PreviousInSet(int16_t index, void* record_out, int32_t size);
// The set table FirstInSet keeps its prefixes in (made by the first FirstInSet when absent):
// 184 when it exists, 185 without memory for it.
int16_t CreateSetTable();
// The alternate collating table of segment flag 0x20: byte b of a segment becomes table[b]
// in the key (null: none, bytes keep their order). A table that maps two bytes to one cannot
// be undone: KeyToRecord then refuses such segments (446).
int16_t SetAlternateCollating(const uint8_t* table);

int16_t SetLockMode(int16_t mode);
int16_t LockMode();
// Entries the layer has put in the lock table (flagged ones).
int32_t LockCount();
