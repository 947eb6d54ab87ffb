// The client's keyed-file workloads against the engine, SQLite (WITHOUT ROWID tables) and
// LMDB in one program. No fsync anywhere: the engine never syncs, SQLite runs with
// synchronous=OFF and no journal, LMDB with MDB_NOSYNC. Caches: the engine's 512 node
// buffers and 512 data pages of 512 bytes (512 KiB), SQLite's page cache set to 512 KiB;
// LMDB reads its file through a mapping and has no cache setting, and SQLite is let map its
// file the same way (locked to this process). SQLite's statements are prepared once and
// each batch of inserts or lookups runs in one transaction, as the client would use it;
// a model replace is a batch of one. Every column hands each record it finds to the caller
// as a copy in the caller's buffer (the engine's calls copy; SQLite's and LMDB's bytes are
// copied out of their pages the same way), in lookups and in the ordered scan alike.
#include <benchmark/benchmark.h>
#include <lmdb.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "keyfile/ostrel.h"

namespace {

std::string scratch_dir() {
  static std::string dir = [] {
    char tmpl[] = "/tmp/kfbenchXXXXXX";
    return std::string(mkdtemp(tmpl));
  }();
  return dir;
}

class Store {
 public:
  virtual ~Store() = default;
  virtual void put(const std::string& key, const void* data, size_t len) = 0;
  virtual size_t get(const std::string& key, std::vector<uint8_t>& out) = 0;
  virtual size_t scan() = 0;  // ordered walk reading every record; returns the count
  // Around a batch of puts or gets; only SQLite makes a transaction of it.
  virtual void begin() {}
  virtual void commit() {}
};

// The engine used as the client's database layer uses it: a data file and an index file.
class OstrelStore : public Store {
 public:
  OstrelStore(const std::string& name, int klen, int reclen, int ktype, uint16_t wt) : klen_(klen), reclen_(reclen) {
    if (!KeyedFileEngineStarted()) InitKeyedFileEngine(512, 20, 4);
    dat_ = name + ".dat";
    idx_ = name + ".idx";
    std::filesystem::remove(dat_);
    std::filesystem::remove(idx_);
    d_ = AvailableFileNbr(1);
    CreateDataFile(d_, dat_.c_str(), static_cast<uint16_t>(reclen), reclen ? 4096 : 16384, static_cast<uint16_t>((reclen ? 2 : 6) | wt));
    x_ = AvailableFileNbr(1);
    CreateIndexFile(x_, idx_.c_str(), static_cast<int16_t>(klen), static_cast<int16_t>(ktype), 0, 0, 4096, static_cast<uint16_t>(2 | wt));
    if (uerr_cod) std::fprintf(stderr, "engine setup failed: %d\n", uerr_cod);
  }
  ~OstrelStore() override {
    CloseOlFile(d_, 0);
    CloseOlFile(x_, 0);
    std::filesystem::remove(dat_);
    std::filesystem::remove(idx_);
  }
  void put(const std::string& key, const void* data, size_t len) override {
    int32_t old = GetKey(x_, key.data());
    if (reclen_) {
      int32_t p = old ? old : NewData(d_);
      WriteData(d_, p, data);
      if (!old) AddKey(x_, key.data(), p, 0);
      return;
    }
    int32_t p = NewVData(d_, static_cast<int32_t>(len));
    WriteVData(d_, p, data, static_cast<int32_t>(len));
    if (old) {
      AddKey(x_, key.data(), p, 0x40);  // the key moves first, then the old piece is freed
      ReleaseVData(d_, old);
    } else {
      AddKey(x_, key.data(), p, 0);
    }
  }
  size_t get(const std::string& key, std::vector<uint8_t>& out) override {
    int32_t p = GetKey(x_, key.data());
    if (!p) return 0;
    return read(p, out);
  }
  size_t scan() override {
    std::vector<uint8_t> k(static_cast<size_t>(klen_)), out;
    size_t n = 0;
    for (int32_t p = FirstKey(x_, k.data()); p; p = NextKey(x_, k.data())) n += read(p, out) ? 1 : 0;
    return n;
  }

 private:
  // The record copied into the caller's buffer, which grows to the largest record and is
  // never cleared first (the other columns' copies do not clear theirs either).
  size_t read(int32_t p, std::vector<uint8_t>& out) {
    const int32_t len = reclen_ ? reclen_ : VDataLength(d_, p);
    if (len <= 0) return 0;
    if (out.size() < static_cast<size_t>(len)) out.resize(static_cast<size_t>(len));
    if (reclen_) return ReadData(d_, p, out.data()) ? 0 : static_cast<size_t>(len);
    return ReadVData(d_, p, out.data(), len) == 0 ? static_cast<size_t>(len) : 0;
  }
  int klen_, reclen_;
  int16_t d_ = -1, x_ = -1;
  std::string dat_, idx_;
};

class SqliteStore : public Store {
 public:
  explicit SqliteStore(const std::string& name) : path_(name + ".sqlite") {
    std::filesystem::remove(path_);
    sqlite3_open(path_.c_str(), &db_);
    sqlite3_exec(db_,
                 "PRAGMA synchronous=OFF; PRAGMA journal_mode=OFF; PRAGMA cache_size=-512;"
                 "PRAGMA locking_mode=EXCLUSIVE; PRAGMA mmap_size=1073741824;"
                 "CREATE TABLE t(k BLOB PRIMARY KEY, v BLOB) WITHOUT ROWID;",
                 nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db_, "INSERT OR REPLACE INTO t(k, v) VALUES(?, ?)", -1, &put_, nullptr);
    sqlite3_prepare_v2(db_, "SELECT v FROM t WHERE k = ?", -1, &get_, nullptr);
    sqlite3_prepare_v2(db_, "SELECT k, v FROM t ORDER BY k", -1, &scan_, nullptr);
  }
  ~SqliteStore() override {
    sqlite3_finalize(put_);
    sqlite3_finalize(get_);
    sqlite3_finalize(scan_);
    sqlite3_close(db_);
    std::filesystem::remove(path_);
  }
  void put(const std::string& key, const void* data, size_t len) override {
    sqlite3_bind_blob(put_, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    sqlite3_bind_blob(put_, 2, data, static_cast<int>(len), SQLITE_STATIC);
    sqlite3_step(put_);
    sqlite3_reset(put_);
  }
  size_t get(const std::string& key, std::vector<uint8_t>& out) override {
    sqlite3_bind_blob(get_, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    size_t n = 0;
    if (sqlite3_step(get_) == SQLITE_ROW) {
      n = static_cast<size_t>(sqlite3_column_bytes(get_, 0));
      out.assign(static_cast<const uint8_t*>(sqlite3_column_blob(get_, 0)), static_cast<const uint8_t*>(sqlite3_column_blob(get_, 0)) + n);
    }
    sqlite3_reset(get_);
    return n;
  }
  void begin() override { sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr); }
  void commit() override { sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr); }
  size_t scan() override {
    size_t n = 0;
    std::vector<uint8_t> out;
    while (sqlite3_step(scan_) == SQLITE_ROW) {
      const uint8_t* v = static_cast<const uint8_t*>(sqlite3_column_blob(scan_, 1));
      out.assign(v, v + sqlite3_column_bytes(scan_, 1));
      ++n;
    }
    sqlite3_reset(scan_);
    return n;
  }

 private:
  std::string path_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt *put_ = nullptr, *get_ = nullptr, *scan_ = nullptr;
};

class LmdbStore : public Store {
 public:
  explicit LmdbStore(const std::string& name) : path_(name + ".lmdb") {
    std::filesystem::remove(path_);
    std::filesystem::remove(path_ + "-lock");
    mdb_env_create(&env_);
    mdb_env_set_mapsize(env_, size_t(4) << 30);
    mdb_env_open(env_, path_.c_str(), MDB_NOSUBDIR | MDB_NOSYNC | MDB_NOMETASYNC, 0600);
    MDB_txn* txn;
    mdb_txn_begin(env_, nullptr, 0, &txn);
    mdb_dbi_open(txn, nullptr, 0, &dbi_);
    mdb_txn_commit(txn);
  }
  ~LmdbStore() override {
    mdb_env_close(env_);
    std::filesystem::remove(path_);
    std::filesystem::remove(path_ + "-lock");
  }
  void put(const std::string& key, const void* data, size_t len) override {
    MDB_txn* txn;
    mdb_txn_begin(env_, nullptr, 0, &txn);
    MDB_val k{key.size(), const_cast<char*>(key.data())}, v{len, const_cast<void*>(data)};
    mdb_put(txn, dbi_, &k, &v, 0);
    mdb_txn_commit(txn);
  }
  size_t get(const std::string& key, std::vector<uint8_t>& out) override {
    MDB_txn* txn;
    mdb_txn_begin(env_, nullptr, MDB_RDONLY, &txn);
    MDB_val k{key.size(), const_cast<char*>(key.data())}, v;
    size_t n = 0;
    if (mdb_get(txn, dbi_, &k, &v) == 0) {
      out.assign(static_cast<uint8_t*>(v.mv_data), static_cast<uint8_t*>(v.mv_data) + v.mv_size);
      n = v.mv_size;
    }
    mdb_txn_abort(txn);
    return n;
  }
  size_t scan() override {
    MDB_txn* txn;
    mdb_txn_begin(env_, nullptr, MDB_RDONLY, &txn);
    MDB_cursor* c;
    mdb_cursor_open(txn, dbi_, &c);
    MDB_val k, v;
    size_t n = 0;
    std::vector<uint8_t> out;
    for (int rc = mdb_cursor_get(c, &k, &v, MDB_FIRST); rc == 0; rc = mdb_cursor_get(c, &k, &v, MDB_NEXT)) {
      out.assign(static_cast<uint8_t*>(v.mv_data), static_cast<uint8_t*>(v.mv_data) + v.mv_size);
      ++n;
    }
    mdb_cursor_close(c);
    mdb_txn_abort(txn);
    return n;
  }

 private:
  std::string path_;
  MDB_env* env_ = nullptr;
  MDB_dbi dbi_ = 0;
};

enum Backend { kOstrel = 0, kSqlite = 1, kLmdb = 2 };

struct Workload {
  int klen, reclen, ktype;
  uint16_t writethrough;
};
// Object date records: 50-byte compressed keys over fixed 50-byte records.
constexpr Workload kDates{50, 50, 12, 0};
// Model chunks: 32-byte compressed keys over variable records, write-through.
constexpr Workload kModels{32, 0, 12, 0x40};
// Cells: 6-byte keys over variable records.
constexpr Workload kCells{6, 0, 0, 0};

std::unique_ptr<Store> make(Backend b, const Workload& w, const char* name) {
  std::string base = scratch_dir() + "/" + name;
  switch (b) {
    case kOstrel: return std::make_unique<OstrelStore>(base, w.klen, w.reclen, w.ktype, w.writethrough);
    case kSqlite: return std::make_unique<SqliteStore>(base);
    default: return std::make_unique<LmdbStore>(base);
  }
}

std::string date_key(uint32_t i) {
  char k[64];
  std::snprintf(k, sizeof k, "models/tree%06u.zip", i);
  std::string s(k);
  s.resize(50, ' ');
  return s;
}

std::string cell_key(uint32_t i) {
  std::string s(6, 0);
  int16_t x = static_cast<int16_t>(i % 200 - 100), z = static_cast<int16_t>(i / 200 - 100);
  std::memcpy(&s[0], &x, 2);
  std::memcpy(&s[2], &z, 2);
  s[4] = s[5] = 0;
  return s;
}

constexpr uint32_t kDateCount = 20000, kCellCount = 20000;

size_t cell_len(uint32_t i) { return 64 + (i * 37) % 4032; }

// The records a lookup or scan runs over, put in key order in one batch.
template <class Key, class Len>
void fill(Store& s, uint32_t count, Key key, Len len, const uint8_t* data) {
  s.begin();
  for (uint32_t i = 0; i < count; ++i) s.put(key(i), data, len(i));
  s.commit();
}

// The records a workload puts: count of them, each key and length from its number.
struct Records {
  Workload w;
  const char* name;
  uint32_t count;
  std::string (*key)(uint32_t);
  size_t (*len)(uint32_t);
  std::vector<uint8_t> rec;
};

// A fresh store each iteration, all the records put in a scattered order in one batch.
void insert_run(benchmark::State& st, const Records& r) {
  auto b = static_cast<Backend>(st.range(0));
  uint32_t done = 0;
  for (auto _ : st) {
    st.PauseTiming();
    auto s = make(b, r.w, r.name);
    st.ResumeTiming();
    s->begin();
    for (uint32_t i = 0; i < r.count; ++i) s->put(r.key(i * 7919 % r.count), r.rec.data(), r.len(i));
    s->commit();
    done += r.count;
    st.PauseTiming();
    s.reset();
    st.ResumeTiming();
  }
  st.SetItemsProcessed(done);
}

// Lookups of random keys among the records put in key order.
void lookup_run(benchmark::State& st, const Records& r, uint32_t seed) {
  auto s = make(static_cast<Backend>(st.range(0)), r.w, r.name);
  std::vector<uint8_t> out;
  fill(*s, r.count, r.key, r.len, r.rec.data());
  std::mt19937 rng(seed);
  s->begin();
  for (auto _ : st) benchmark::DoNotOptimize(s->get(r.key(rng() % r.count), out));
  s->commit();
  st.SetItemsProcessed(st.iterations());
}

size_t date_len(uint32_t) { return 50; }

const Records kDateRecords{kDates, "dates", kDateCount, date_key, date_len, std::vector<uint8_t>(50, 'd')};
const Records kCellRecords{kCells, "cells", kCellCount, cell_key, cell_len, std::vector<uint8_t>(4096, 'c')};

void BM_ModelReplace(benchmark::State& st) {
  auto b = static_cast<Backend>(st.range(0));
  auto s = make(b, kModels, "models");
  std::mt19937 rng(2);
  std::vector<uint8_t> blob(200 * 1024);
  for (auto& c : blob) c = static_cast<uint8_t>(rng());
  auto key = [](uint32_t i) {
    std::string k = "model" + std::to_string(i);
    k.resize(32, ' ');
    return k;
  };
  for (uint32_t i = 0; i < 64; ++i) s->put(key(i), blob.data(), 2048 + (i * 3001) % (198 * 1024));
  size_t bytes = 0;
  for (auto _ : st) {
    size_t len = 2048 + rng() % (198 * 1024);
    s->put(key(rng() % 64), blob.data(), len);
    bytes += len;
  }
  st.SetItemsProcessed(st.iterations());
  st.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_CellScan(benchmark::State& st) {
  auto b = static_cast<Backend>(st.range(0));
  auto s = make(b, kCells, "cells_scan");
  std::vector<uint8_t> rec(4096, 'c');
  fill(*s, kCellCount, cell_key, cell_len, rec.data());
  size_t n = 0;
  for (auto _ : st) n += s->scan();
  st.SetItemsProcessed(static_cast<int64_t>(n));
}

void backends(benchmark::internal::Benchmark* b) {
  b->ArgName("backend")->Arg(kOstrel)->Arg(kSqlite)->Arg(kLmdb)->Unit(benchmark::kMicrosecond);
}

void register_all() {
  benchmark::RegisterBenchmark("BM_DateInsert", insert_run, kDateRecords)->Apply(backends)->Iterations(2);
  benchmark::RegisterBenchmark("BM_DateLookup", lookup_run, kDateRecords, 1u)->Apply(backends);
  benchmark::RegisterBenchmark("BM_ModelReplace", BM_ModelReplace)->Apply(backends);
  benchmark::RegisterBenchmark("BM_CellInsert", insert_run, kCellRecords)->Apply(backends)->Iterations(2);
  benchmark::RegisterBenchmark("BM_CellLookup", lookup_run, kCellRecords, 3u)->Apply(backends);
  benchmark::RegisterBenchmark("BM_CellScan", BM_CellScan)->Apply(backends);
}

}  // namespace

int main(int argc, char** argv) {
  std::printf("backend 0 = Ostrel engine, 1 = SQLite, 2 = LMDB\n");
  register_all();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(scratch_dir(), ec);
  return 0;
}
