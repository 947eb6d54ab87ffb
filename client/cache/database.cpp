// Keyed databases over the keyed-file engine: open or recreate a data and index pair, look
// keys up, fetch, store, delete and walk records in key order. An engine error while a
// database is in use is shown to the user; damage is answered by recreating the database
// empty, an error the system gave (no space, a read or write error) leaves it as it is.
// A cache holds only what can be fetched again: when the system will not let it be written
// it is told once per store and run and its records live in memory for the rest of the run,
// so that what arrives is still shown.
#include "client/cache/database.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "client/core/files.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "keyfile/ostrel.h"
#include "platform/host.h"

namespace {

void default_quit() { host()->post_quit(0); }
void default_exit(int status) { std::exit(status); }

void (*quit_hook)() = default_quit;
void (*exit_hook)(int) = default_exit;

bool tracing() { return trace_switches[TRACE_DATABASE] != 0; }

// One line after every engine call: which database, which call, and the two error codes.
void trace_call(const database* db, const char* label) {
  if (tracing()) log_write("%s, %s: %d, %d", db->name.c_str(), label, uerr_cod, olsys_err);
}

std::string data_path(const database* db) { return db->name + ".dat"; }
std::string index_path(const database* db) { return db->name + ".idx"; }

// The file whose open, creation or move failed last, and the system's errno then (0 when the
// engine found the file's contents wrong rather than the system refusing it).
struct failure {
  std::string file;
  int sys = 0;
};
failure last_failure;

void failed_on(const std::string& file, int sys) {
  last_failure.file = file;
  last_failure.sys = sys;
}

// The file and the system's reason, for the line under a numbered message.
std::string reason_line(const std::string& file, int sys) { return file + ": " + std::strerror(sys); }

// The folder a person has to put right.
std::string folder_of(const std::string& file) {
  size_t slash = file.rfind('/');
  return slash == std::string::npos ? std::string(".") : file.substr(0, slash ? slash : 1);
}

// Busy, forbidden, read-only, full: the system refused the file, its contents were not
// found wrong. Such a pair is left exactly as it is.
bool refused_by_system(const failure& f) { return f.sys != 0 && f.sys != ENOENT; }

// A cache, not the person's own data.
bool holds_cache(const database* db) { return !db->keep_damaged; }

bool disk_open(const database* db) { return db->data_file >= 0 && db->index_file >= 0; }

// The stores already told this run that they are kept in memory: a store of the cache by
// its name, whatever its folder there.
std::set<std::string>& told() {
  static std::set<std::string> names;
  return names;
}

constexpr size_t kMemoryLimit = database_memory_limit;

bool path_present(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

void close_files(database* db) {
  if (db->data_file >= 0) {
    CloseOlFile(db->data_file, 0);
    trace_call(db, "CloseOlFile (data)");
    db->data_file = -1;
  }
  if (db->index_file >= 0) {
    CloseOlFile(db->index_file, 0);
    trace_call(db, "CloseOlFile (index)");
    db->index_file = -1;
  }
}

// Takes a free file number and opens or creates one file of the pair on it with `make`
// (true when the engine failed), tracing both calls. 0 with `file` set, the engine's error,
// or what `none` gives when no number was free.
template <class None, class Make>
int16_t take_file(database* db, int16_t& file, const std::string& path, const char* number_label,
                  const char* make_label, None none, Make make) {
  uerr_cod = 0;
  int16_t n = AvailableFileNbr(1);
  trace_call(db, number_label);
  if (n < 0) {
    failed_on(path, 0);
    return none();
  }
  olsys_err = 0;
  bool failed = make(n);
  trace_call(db, make_label);
  if (failed) {
    failed_on(path, olsys_err);
    return uerr_cod;
  }
  file = n;
  return 0;
}

// Opens both files; 0 when both are open, else the engine's error with both closed.
int16_t open_pair(database* db) {
  auto none = [] { return static_cast<int16_t>(uerr_cod ? uerr_cod : 46); };
  int16_t e = take_file(db, db->data_file, data_path(db), "AvailableFileNbr (data)", "OpenOlFile (data)", none,
                        [db](int16_t n) {
    return OpenOlFile(n, data_path(db).c_str(), static_cast<uint16_t>(db->data_mode)) != 0;
  });
  if (e) return e;
  e = take_file(db, db->index_file, index_path(db), "AvailableFileNbr (index)", "OpenOlFile (index)", none,
                [db](int16_t n) {
    return OpenOlFile(n, index_path(db).c_str(), static_cast<uint16_t>(db->index_mode)) != 0;
  });
  if (e) {
    close_files(db);
    uerr_cod = e;
  }
  return e;
}

// A pair made by another definition (other key length, record length or kind of record)
// would be read with the wrong layout: it counts as not opened.
bool pair_fits(const database* db) {
  int32_t type = GetFileInfo(db->data_file, OL_INFO_TYPE);
  if (type != (db->fixed ? OL_TYPE_FIXED : OL_TYPE_VARIABLE)) return false;
  if (db->fixed && GetFileInfo(db->data_file, OL_INFO_RECLEN) != db->record_length) return false;
  if (GetFileInfo(db->index_file, OL_INFO_TYPE) != OL_TYPE_INDEX) return false;
  if (GetFileInfo(db->index_file, OL_INFO_KEYLEN) != db->key_length) return false;
  if (GetFileInfo(db->index_file, OL_INFO_DUPS) != 0) return false;
  uerr_cod = 0;
  return true;
}

// Creates both files anew (the old ones must be gone). 0, the engine's error, or -1 when no
// file number was free.
int16_t create_pair(database* db) {
  auto none = [] { return static_cast<int16_t>(-1); };
  int16_t e = take_file(db, db->data_file, data_path(db), "AvailableFileNbr (data)", "CreateDataFile", none,
                        [db](int16_t n) {
    return CreateDataFile(n, data_path(db).c_str(), static_cast<uint16_t>(db->record_length), db->data_extension,
                          static_cast<uint16_t>(db->data_mode)) != 0;
  });
  if (e) return e;
  return take_file(db, db->index_file, index_path(db), "AvailableFileNbr (index)", "CreateIndexFile", none,
                   [db](int16_t n) {
    return CreateIndexFile(n, index_path(db).c_str(), db->key_length, db->key_type, 0, 0, db->index_extension,
                           static_cast<uint16_t>(db->index_mode)) != 0;
  });
}

// Moves both files of a damaged pair that holds user data to "<name>-damagedN" with the
// first N that names neither file yet. False when nothing could be moved aside; `kept` tells
// the person which files went where.
bool set_aside(database* db, std::string* kept) {
  std::string dat = data_path(db), idx = index_path(db);
  bool have_dat = path_present(dat), have_idx = path_present(idx);
  if (!have_dat && !have_idx) return true;
  for (int n = 1; n < 100; ++n) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "-damaged%d", n);
    std::string base = db->name + suffix;
    if (path_present(base + ".dat") || path_present(base + ".idx")) continue;
    if (have_dat && std::rename(dat.c_str(), (base + ".dat").c_str()) != 0) {
      failed_on(dat, errno);
      return false;
    }
    if (have_idx && std::rename(idx.c_str(), (base + ".idx").c_str()) != 0) {
      failed_on(idx, errno);
      // Both files stay together where the person knows them.
      if (have_dat) std::rename((base + ".dat").c_str(), dat.c_str());
      return false;
    }
    log_write("database kept aside (%s)", base.c_str());
    if (kept) {
      if (have_dat) *kept += dat + " -> " + base + ".dat";
      if (have_dat && have_idx) *kept += "\n";
      if (have_idx) *kept += idx + " -> " + base + ".idx";
    }
    return true;
  }
  failed_on(dat, EEXIST);
  return false;
}

// Removes whatever is left of the pair: the files are closed first. A pair that holds user
// data is renamed aside instead when it is damaged. False when the old files are still there.
bool clear_pair(database* db, bool damaged, std::string* kept) {
  if (damaged && db->keep_damaged) {
    close_files(db);
    return set_aside(db, kept);
  }
  if (db->data_file >= 0) {
    DeleteOlFile(db->data_file);
    trace_call(db, "DeleteOlFile (data)");
    db->data_file = -1;
  }
  if (db->index_file >= 0) {
    DeleteOlFile(db->index_file);
    trace_call(db, "DeleteOlFile (index)");
    db->index_file = -1;
  }
  close_files(db);  // whatever a failed delete left open
  file_delete(data_path(db).c_str());
  file_delete(index_path(db).c_str());
  return true;
}

// The numbered message and, under it, the file and the system's reason when the system
// gave one.
void note_with_reason(const char* text, const failure& f) {
  if (f.sys && !f.file.empty())
    note("%s\n%s", text, reason_line(f.file, f.sys).c_str());
  else if (!f.file.empty())
    note("%s\n%s", text, f.file.c_str());
  else
    note("%s", text);
}

// A cache the system will not let us write: from now on its records live in memory for the
// run, in front of its files while they stay open. Told once per store and run.
void keep_in_memory(database* db, int16_t code, const failure& f) {
  if (!db->in_memory) {
    db->in_memory = 1;
    db->enumeration = 0;
    db->last_key.clear();
    log_write("%s: kept in memory for the rest of this run (error %d: %s)", db->name.c_str(), code,
              f.sys ? std::strerror(f.sys) : f.file.c_str());
  }
  // Once whichever folder of the cache it is in: the same store of another world's objects
  // (or the other date store) refused the same way would tell nothing new.
  std::string store = db->name;
  size_t cache = store.rfind("/cache/"), slash = store.rfind('/');
  if (cache != std::string::npos) store = store.substr(0, cache + 7) + store.substr(slash + 1);
  if (!told().insert(store).second) return;
  std::string why = f.file.empty() ? data_path(db) : f.sys ? reason_line(f.file, f.sys) : f.file;
  note("%s\n%s\nNot kept on disk for the rest of this run.", msg_arg(129, code, msg(68)), why.c_str());
}

// Recreates the database empty. When that fails, user data cannot go on (the program ends)
// and a cache goes on in memory. False then.
bool rebuild(database* db, bool damaged, std::string* kept) {
  db->enumeration = 0;
  db->last_key.clear();
  last_failure = failure{};
  int16_t e = clear_pair(db, damaged, kept) ? create_pair(db) : static_cast<int16_t>(55);
  if (!e) return true;
  close_files(db);
  if (holds_cache(db)) {
    keep_in_memory(db, e, last_failure);
    return false;
  }
  note_with_reason(msg_arg(85, static_cast<int>(e), msg(68)), last_failure);
  exit_hook(1);
  return false;
}

// Message 129 for a pair found damaged and made again, with where user data went.
void note_damaged(const database* db, int16_t code, const std::string& kept) {
  const char* text = msg_arg(129, code, msg(68));
  if (!kept.empty())
    note("%s\nDamaged; kept aside and made again empty:\n%s", text, kept.c_str());
  else
    note("%s\n%s.dat, %s.idx: damaged; made again empty", text, db->name.c_str(), db->name.c_str());
}

// Any failed engine call while the database is in use. One the system refused (no space,
// a read or write error, a file gone) leaves the pair as it is, and a cache goes on in
// memory; damage makes it again.
void engine_error(database* db, bool index) {
  int16_t code = uerr_cod;
  if (db->in_memory) {
    // Its files were only still read: whatever they give now, the run goes on without them.
    close_files(db);
    return;
  }
  if (olsys_err != 0) {
    failure f{index ? index_path(db) : data_path(db), olsys_err};
    if (holds_cache(db)) keep_in_memory(db, code, f);
    else note_with_reason(msg_arg(129, code, msg(68)), f);
    return;
  }
  std::string kept;
  if (rebuild(db, true, &kept)) note_damaged(db, code, kept);
}

// After an engine call: traced, and a failure handled as an engine error. True when it worked.
bool engine_ok(database* db, bool failed, const char* label, bool index = false) {
  trace_call(db, label);
  if (failed) engine_error(db, index);
  return !failed;
}

bool usable(const database* db) { return db && (db->in_memory || disk_open(db)); }

// What a cache kept in memory holds for the key: null when it holds nothing (ask the files),
// else the record or nullopt when it was deleted.
const std::optional<std::vector<uint8_t>>* remembered(const database* db, const void* key) {
  if (!db->in_memory) return nullptr;
  const auto* k = static_cast<const uint8_t*>(key);
  auto it = db->memory.find(std::vector<uint8_t>(k, k + db->key_length));
  return it == db->memory.end() ? nullptr : &it->second;
}

// A store into a cache kept in memory, with the same record rules as on disk.
int remember(database* db, const void* key, const void* data, int32_t length) {
  std::optional<std::vector<uint8_t>> value;
  const auto* d = static_cast<const uint8_t*>(data);
  if (db->fixed) {
    if (!d) return 0;
    value.emplace(static_cast<size_t>(db->record_length), 0);
    size_t n = length > 0 && length < db->record_length ? static_cast<size_t>(length) : value->size();
    std::memcpy(value->data(), d, n);
  } else if (length >= 1) {
    if (!d) return 0;
    value.emplace(d, d + length);
  }
  const auto* k = static_cast<const uint8_t*>(key);
  std::vector<uint8_t> mkey(k, k + db->key_length);
  auto it = db->memory.find(mkey);
  size_t before = it == db->memory.end() ? 0 : mkey.size() + (it->second ? it->second->size() : 0);
  size_t after = mkey.size() + (value ? value->size() : 0);
  if (db->memory_bytes - before + after > kMemoryLimit) {
    if (tracing()) log_write("database_store (%s): memory full", db->name.c_str());
    return 0;
  }
  db->memory_bytes = db->memory_bytes - before + after;
  db->memory[std::move(mkey)] = std::move(value);
  return 1;
}

// Record position of the key: > 0 found, 0 absent, -1 engine error (already handled).
int32_t lookup(database* db, const void* key) {
  uerr_cod = 0;
  olsys_err = 0;  // every keyed operation starts here: a system error after this one is its own
  int32_t pos = GetKey(db->index_file, key);
  trace_call(db, "GetKey");
  if (pos > 0) return pos;
  if (uerr_cod) {
    engine_error(db, true);
    return -1;
  }
  return 0;
}

// Used length of the variable record at pos; 0 after a handled engine error.
int32_t record_length_at(database* db, int32_t pos) {
  int32_t len = VDataLength(db->data_file, pos);
  trace_call(db, "VDataLength");
  if (len < 1) {
    if (uerr_cod) engine_error(db, false);
    return 0;
  }
  return len;
}

// A new buffer with the variable record at pos and a zero byte after it; null on failure.
uint8_t* read_record(database* db, int32_t pos, int32_t* length, bool report) {
  int32_t len = VDataLength(db->data_file, pos);
  trace_call(db, "VDataLength");
  if (len < 1) {
    if (uerr_cod && report) engine_error(db, false);
    return nullptr;
  }
  auto* buf = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(len) + 1));
  if (!buf) return nullptr;
  if (ReadVData(db->data_file, pos, buf, len)) {
    trace_call(db, "ReadVData");
    std::free(buf);
    if (report) engine_error(db, false);
    return nullptr;
  }
  trace_call(db, "ReadVData");
  buf[len] = 0;
  if (length) *length = len;
  return buf;
}

}  // namespace

void database_set_exits(void (*quit)(), void (*exit_now)(int status)) {
  quit_hook = quit ? quit : default_quit;
  exit_hook = exit_now ? exit_now : default_exit;
}

int database_init() {
  if (tracing()) log_write("database_init");
  int16_t r = InitKeyedFileEngine(512, 20, 4);
  // The engine lives for the whole process; a second start-up in one process finds it running.
  return r == 125 ? 0 : r;
}

database* database_open(const char* name, int key_length, int record_length, int data_extension,
                        int index_extension, int compressed, int write_through, int keep_damaged) {
  if (!name) return nullptr;
  if (tracing()) log_write("database_open (%s)", name);
  auto* db = new database;
  db->data_mode = record_length == 0 ? 6 : 2;
  db->index_mode = 2;
  if (write_through) {
    db->data_mode |= 0x40;
    db->index_mode |= 0x40;
  }
  db->fixed = record_length > 0;
  db->key_type = compressed ? 12 : 0;
  db->key_length = static_cast<int16_t>(key_length);
  db->record_length = static_cast<int16_t>(record_length);
  db->data_extension = static_cast<uint16_t>(data_extension);
  db->index_extension = static_cast<uint16_t>(index_extension);
  db->keep_damaged = keep_damaged ? 1 : 0;
  db->name = file_path(name);

  bool sane = *name && key_length >= 1 && key_length <= 255 && record_length >= 0 && record_length <= 0x7FFF &&
              data_extension >= 0 && data_extension <= 0xFFFF && index_extension >= 0 && index_extension <= 0xFFFF;
  int16_t e = 0;
  last_failure = failure{};
  if (sane) {
    // Recently used for the disk clean-up.
    file_touch(data_path(db).c_str());
    file_touch(index_path(db).c_str());
    int16_t found = open_pair(db);
    if (found == 0) {
      if (pair_fits(db)) return db;
      if (tracing()) log_write("database_open (%s): made for other records", db->name.c_str());
      close_files(db);
      found = 48;
    }
    if (refused_by_system(last_failure)) {
      // Busy, forbidden, read-only: nothing is deleted or moved.
      e = found;
      if (holds_cache(db)) {
        keep_in_memory(db, e, last_failure);
        return db;
      }
    } else {
      // Absent, or damaged: only a pair of which some file is there has anything to lose.
      bool damaged = path_present(data_path(db)) || path_present(index_path(db));
      last_failure = failure{};
      std::string kept;
      e = clear_pair(db, true, &kept) ? create_pair(db) : static_cast<int16_t>(55);
      if (!e) {
        if (damaged && db->keep_damaged) note_damaged(db, found, kept);
        return db;
      }
      if (holds_cache(db)) {
        close_files(db);
        keep_in_memory(db, e, last_failure);
        return db;
      }
    }
  } else {
    e = 22;
  }
  close_files(db);
  delete db;
  const char* text = msg_arg(130, msg(68), static_cast<int>(e));
  if (refused_by_system(last_failure))
    note("%s\n%s\n%s", text, reason_line(last_failure.file, last_failure.sys).c_str(),
         folder_of(last_failure.file).c_str());
  else
    note_with_reason(text, last_failure);
  quit_hook();
  return nullptr;
}

void database_close(database* db) {
  if (!db) return;
  if (tracing()) log_write("database_close (%s)", db->name.c_str());
  close_files(db);
  delete db;
}

int database_key_exists(database* db, const void* key) {
  if (!db) return 0;
  if (tracing()) log_write("database_key_exists (%s)", db->name.c_str());
  if (!usable(db) || !key) return 0;
  if (const auto* r = remembered(db, key)) return r->has_value() ? 1 : 0;
  if (!disk_open(db)) return 0;
  return lookup(db, key) > 0 ? 1 : 0;
}

int database_fetch(database* db, const void* key, void* buffer, int32_t capacity, int32_t* length) {
  if (!db) return 0;
  if (tracing()) log_write("database_fetch (%s)", db->name.c_str());
  if (!usable(db) || !key || !buffer) return 0;
  if (const auto* r = remembered(db, key)) {
    if (!r->has_value() || static_cast<int64_t>((*r)->size()) > capacity) return 0;
    std::memcpy(buffer, (*r)->data(), (*r)->size());
    if (length) *length = static_cast<int32_t>((*r)->size());
    return 1;
  }
  if (!disk_open(db)) return 0;
  int32_t pos = lookup(db, key);
  if (pos <= 0) return 0;
  if (db->fixed) {
    if (capacity < db->record_length) return 0;
    if (!engine_ok(db, ReadData(db->data_file, pos, buffer), "ReadData")) return 0;
    if (length) *length = db->record_length;
    return 1;
  }
  int32_t len = record_length_at(db, pos);
  if (len < 1) return 0;
  if (len > capacity) {
    if (tracing()) log_write("database_fetch (%s): %d bytes do not fit in %d", db->name.c_str(), len, capacity);
    return 0;
  }
  if (!engine_ok(db, ReadVData(db->data_file, pos, buffer, len), "ReadVData")) return 0;
  if (length) *length = len;
  return 1;
}

int database_fetch_unknown(database* db, const void* key, uint8_t** buffer, int32_t* length) {
  if (!db) return 0;
  if (tracing()) log_write("database_fetch_unknown (%s)", db->name.c_str());
  if (!usable(db) || db->fixed || !key || !buffer) return 0;
  if (const auto* r = remembered(db, key)) {
    if (!r->has_value()) return 0;
    auto* copy = static_cast<uint8_t*>(std::malloc((*r)->size() + 1));
    if (!copy) return 0;
    std::memcpy(copy, (*r)->data(), (*r)->size());
    copy[(*r)->size()] = 0;
    if (length) *length = static_cast<int32_t>((*r)->size());
    *buffer = copy;
    return 1;
  }
  if (!disk_open(db)) return 0;
  int32_t pos = lookup(db, key);
  if (pos <= 0) return 0;
  uint8_t* data = read_record(db, pos, length, true);
  if (!data) return 0;
  *buffer = data;
  return 1;
}

namespace {

int store_on_disk(database* db, const void* key, const void* data, int32_t length) {
  int32_t old = lookup(db, key);
  if (old < 0) return 0;
  if (db->fixed) {
    if (!data) return 0;
    std::vector<uint8_t> padded;
    if (length > 0 && length < db->record_length) {
      // A short record is never read past its end.
      padded.assign(static_cast<size_t>(db->record_length), 0);
      std::memcpy(padded.data(), data, static_cast<size_t>(length));
      data = padded.data();
    }
    int32_t pos = old;
    if (!pos) {
      uerr_cod = 0;
      pos = NewData(db->data_file);
      if (!engine_ok(db, !pos, "NewData")) return 0;
    }
    if (!engine_ok(db, WriteData(db->data_file, pos, data), "WriteData")) return 0;
    if (!old && !engine_ok(db, AddKey(db->index_file, key, pos, 0), "AddKey", true)) return 0;
    return 1;
  }
  int32_t pos = 0;
  if (length >= 1 && old) {
    if (!data) return 0;
    // Stored again: into space given up before when it fits, with room to grow when it grew,
    // so that a record stored again and again does not add its whole size each time.
    uerr_cod = 0;
    pos = RenewVData(db->data_file, old, data, length);
    if (!engine_ok(db, !pos, "RenewVData")) return 0;
  } else if (length >= 1) {
    if (!data) return 0;
    uerr_cod = 0;
    pos = NewVData(db->data_file, length);
    if (!engine_ok(db, !pos, "NewVData")) return 0;
    if (!engine_ok(db, WriteVData(db->data_file, pos, data, length), "WriteVData")) return 0;
  }
  // The key moves to the new piece before the old one is released, so a crash in between
  // never leaves the key pointing at free space.
  if (length >= 1) {
    if (!engine_ok(db, AddKey(db->index_file, key, pos, old ? 0x40 : 0), "AddKey", true)) return 0;
  } else if (old) {
    if (!engine_ok(db, DeleteKey(db->index_file, key, old), "DeleteKey", true)) return 0;
  }
  if (old && !engine_ok(db, ReleaseVData(db->data_file, old), "ReleaseVData")) return 0;
  return 1;
}

}  // namespace

int database_store(database* db, const void* key, const void* data, int32_t length) {
  if (!db) return 0;
  if (tracing()) log_write("database_store (%s)", db->name.c_str());
  if (!usable(db) || !key) return 0;
  if (db->in_memory) return remember(db, key, data, length);
  int r = store_on_disk(db, key, data, length);
  // The store that found the cache could not be written is kept with the ones after it.
  if (!r && db->in_memory) r = remember(db, key, data, length);
  return r;
}

int database_fetch_next(database* db, void* key_out, uint8_t** buffer, int32_t* length) {
  if (!usable(db) || db->in_memory || db->fixed || !key_out || !buffer) return 0;
  for (;;) {
    uerr_cod = 0;
    olsys_err = 0;
    int32_t pos;
    if (db->enumeration == 0 || db->last_key.size() != static_cast<size_t>(db->key_length)) {
      db->unreadable = 0;
      pos = FirstKey(db->index_file, key_out);
    } else {
      pos = GetKeyAfter(db->index_file, db->last_key.data(), key_out);
    }
    db->enumeration = pos;
    if (pos <= 0) {
      db->enumeration = 0;
      db->last_key.clear();
      return 0;
    }
    const auto* k = static_cast<const uint8_t*>(key_out);
    db->last_key.assign(k, k + db->key_length);
    uint8_t* data = read_record(db, pos, length, false);
    if (data) {
      *buffer = data;
      return 1;
    }
    // One record that cannot be read costs that record, not the rest of the walk.
    ++db->unreadable;
    std::string hex;
    for (int i = 0; i < db->key_length; ++i) {
      char b[3];
      std::snprintf(b, sizeof b, "%02x", k[i]);
      hex += b;
    }
    log_write("%s.dat: record at %d (key %s) cannot be read (error %d, %d): passed over", db->name.c_str(),
              static_cast<int>(pos), hex.c_str(), uerr_cod, olsys_err);
  }
}

int database_walk_lengths(database* db, size_t max_keys,
                          void (*fn)(void* user, const uint8_t* key, int32_t length), void* user) {
  if (!usable(db) || db->fixed || !fn) return 0;
  if (db->in_memory) {
    size_t n = 0;
    for (const auto& [key, value] : db->memory)
      if (value && n++ < max_keys) fn(user, key.data(), static_cast<int32_t>(value->size()));
    return 1;
  }
  std::vector<uint8_t> key(static_cast<size_t>(db->key_length)), next(key.size());
  uerr_cod = 0;
  olsys_err = 0;
  int32_t pos = FirstKey(db->index_file, key.data());
  for (size_t n = 0; pos > 0 && n < max_keys; ++n) {
    int32_t len = VDataLength(db->data_file, pos);
    if (len > 0) fn(user, key.data(), len);
    pos = GetKeyAfter(db->index_file, key.data(), next.data());
    key.swap(next);
  }
  trace_call(db, "database_walk_lengths");
  return uerr_cod ? 0 : 1;
}

void database_reset(database* db) {
  if (!db) return;
  if (tracing()) log_write("database_reset");
  if (db->in_memory) {
    db->memory.clear();
    db->memory_bytes = 0;
    // Files it no longer holds (another holder's, or refused) are not touched; ones it
    // holds are made again, and when that works they serve again.
    if (disk_open(db) && rebuild(db, false, nullptr)) db->in_memory = 0;
    return;
  }
  rebuild(db, false, nullptr);
}
