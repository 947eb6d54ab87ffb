#pragma once
// Ostrel: the keyed-file engine. Data files hold fixed or variable-length records,
// index files hold B-trees of fixed-length keys pointing at record positions.
// Every operation reports through `uerr_cod` (0 = success); nothing ends the process.
// One thread at a time; all state hangs off the current engine instance.
#include <cstddef>
#include <cstdint>

// Error of the last operation of the current instance.
extern int16_t uerr_cod;
// Operating-system error (errno) of the last failed system call.
extern int16_t olsys_err;

// File modes.
enum : uint16_t {
  OL_SHARED = 0x0001,
  OL_PERMANENT = 0x0002,
  OL_VARIABLE = 0x0004,
  OL_READONLY = 0x0008,
  OL_SPECIAL10 = 0x0010,
  OL_SPECIAL20 = 0x0020,
  OL_WRITETHROUGH = 0x0040,
  OL_PERMANENT_ALIAS = 0x0100,
  OL_SPECIAL200 = 0x0200,
  OL_NO_MIRROR = 0x2000,
  OL_ACCEPT_UPDATED = 0x4000,
};

// File types (header offset 64).
enum : uint16_t { OL_TYPE_FIXED = 0, OL_TYPE_INDEX = 1, OL_TYPE_VARIABLE = 2 };

// Start and stop.
int16_t InitKeyedFileEngine(int16_t buffers, int16_t files, int16_t sectors);
int16_t StopKeyedFileEngine();
bool KeyedFileEngineStarted();

// Instances: each a full engine with its own files and buffers.
int16_t RegisterInstance(const char* name);
int16_t SwitchInstance(const char* name);
int16_t UnregisterInstance(const char* name);
bool FindInstance(const char* name);
const char* NextInstance();
const char* InstanceName();

// File numbers.
int16_t AvailableFileNbr(int16_t count);
int16_t AvailablePairBelow(int16_t limit);

// Files.
int16_t CreateDataFile(int16_t file, const char* name, uint16_t record_length, uint16_t extension, uint16_t mode);
int16_t CreateIndexFile(int16_t file, const char* name, int16_t key_length, int16_t key_type, int16_t duplicates,
                        int16_t members, uint16_t extension, uint16_t mode);
int16_t CreateIndexMember(int16_t host, int16_t member, int16_t key_length, int16_t key_type, int16_t duplicates);
int16_t OpenOlFile(int16_t file, const char* name, uint16_t mode);
int16_t CloseOlFile(int16_t file, uint16_t mode);
int16_t DeleteOlFile(int16_t file);
int16_t FlushFile(int16_t file);  // -1: every open file

// Accessors.
enum : int16_t {
  OL_INFO_RECLEN = 0, OL_INFO_KEYLEN = 1, OL_INFO_TYPE = 2, OL_INFO_MODE = 3, OL_INFO_DATAFILE = 4,
  OL_INFO_KEYTYPE = 5, OL_INFO_DUPS = 6, OL_INFO_LOGEND = 10, OL_INFO_PHYSEND = 11, OL_INFO_NODESIZE = 12,
  OL_INFO_MEMBER = 13, OL_INFO_PAD = 14, OL_INFO_MARKER = 20,
};
int32_t GetFileInfo(int16_t file, int16_t kind);
int16_t GetFileName(int16_t file, char* buffer, int32_t size, int16_t flag);
int16_t PutHeaderValue(int16_t file, int16_t kind, int32_t value);
int16_t SetFileMode(int16_t file, uint16_t mode);
int32_t SerialNumber(int16_t file);
int32_t SetEngineMode(int32_t bits, int16_t action);
int16_t MakeTempName(char* buffer, int32_t size);
int32_t ActiveRecordCount(int16_t file);
int32_t KeyCount(int16_t file);
// Handle budget: operating-system handles kept open before the least recently used
// non-permanent file gives its handle up (500 by default).
void SetHandleLimit(int32_t limit);
int32_t OpenHandleCount();

// Plain files: a file of the engine's format opened only for its 128-byte header (status
// 's'; other operations on it give 26; CloseOlFile closes it). Absent, it is created with a
// fresh header when the mode's low byte (less 0x40) is neither 0 nor 8; with 0x40 a name
// longer than 3 characters is tried once more with its last character 'A'. 96 when nothing
// opens; 498 when an existing file is asked for with the low byte 33.
int16_t OpenPlainFile(int16_t file, const char* name, uint16_t mode);
// Header offsets 32, 36 and 88 of an open file (plain files included).
int16_t GetHeaderSnapshot(int16_t file, int32_t out[3]);

// The engine's limits and switches: OL_CONFIG_WORDS int32 values in a 1024-byte buffer,
// indexed by OL_CONFIG_*; 47 when not started, 33 without a buffer.
enum : int {
  OL_CONFIG_FORMAT = 0, OL_CONFIG_NODE_SIZE, OL_CONFIG_FILES, OL_CONFIG_SECTORS, OL_CONFIG_NODE_BUFFERS,
  OL_CONFIG_DATA_PAGES, OL_CONFIG_HANDLE_LIMIT, OL_CONFIG_LOCK_BUCKETS, OL_CONFIG_MODE_WORD, OL_CONFIG_OPEN_FILES,
  OL_CONFIG_OPEN_NUMBERS, OL_CONFIG_OPEN_HANDLES, OL_CONFIG_NODE_READS, OL_CONFIG_NODE_HITS, OL_CONFIG_PAGE_READS,
  OL_CONFIG_PAGE_HITS, OL_CONFIG_WORDS,
};
constexpr int OL_CONFIG_BYTES = 1024;
int16_t GetEngineConfig(void* buffer);
// The first eight values of that report (format through lock buckets).
int16_t GetEngineLimits(int32_t out[8]);
// What this build of the engine does not offer answers so: 454 (47 when not started).
int16_t NotOffered();

// Status log "OLSTATUS.OLS" in the current directory: best effort, never fatal.
int16_t OlStatusLog(const char* message, int32_t code);

// Fixed records.
int32_t NewData(int16_t file);
int16_t ReadData(int16_t file, int32_t position, void* buffer);
int16_t WriteData(int16_t file, int32_t position, const void* buffer);
int16_t ReleaseData(int16_t file, int32_t position);

// Variable records.
int32_t NewVData(int16_t file, int32_t length);
int16_t WriteVData(int16_t file, int32_t position, const void* buffer, int32_t length);
int16_t ReadVData(int16_t file, int32_t position, void* buffer, int32_t size);
int32_t VDataLength(int16_t file, int32_t position);
int16_t ReleaseVData(int16_t file, int32_t position);
// The record at position stored again, elsewhere: its bytes go to the smallest free piece
// that holds them, or else to a new piece at the file's end; when the record grew, its piece
// keeps room for it to grow by half again. The record at position is left as it is, for the
// caller to release once nothing points to it. The new position; 0 on failure.
int32_t RenewVData(int16_t file, int32_t position, const void* buffer, int32_t length);

// B-tree index.
int32_t GetKey(int16_t file, const void* target);
int32_t GetKeyAtLeast(int16_t file, const void* target, void* key_out);
int32_t GetKeyAfter(int16_t file, const void* target, void* key_out);
int32_t GetKeyAtMost(int16_t file, const void* target, void* key_out);
int32_t GetKeyBefore(int16_t file, const void* target, void* key_out);
int32_t FirstKey(int16_t file, void* key_out);
int32_t LastKey(int16_t file, void* key_out);
int32_t NextKey(int16_t file, void* key_out);
int32_t PreviousKey(int16_t file, void* key_out);
int16_t CurrentKey(int16_t file, void* key_out);
int16_t AddKey(int16_t file, const void* key, int32_t position, int16_t split_mode);
int16_t DeleteKey(int16_t file, const void* key, int32_t position);
int32_t DeleteUniqueKey(int16_t file, const void* key);
int16_t ResetIndex(int16_t file);
// Writes every entry of index member `member` of the named index file, in key order, to a
// new file: the key (less its position suffix on a duplicate index), then the 4-byte
// position. Returns the number of entries (0 with `uerr_cod` on failure).
int32_t ExportIndexKeys(int16_t member, const char* index_name, const char* out_name);

// Structure check of an open file: tree shape, links, counts, free space.
// Returns 0 when sound; otherwise an error code, with a line of text in `report`.
int16_t CheckOlFile(int16_t file, char* report, size_t report_size);
