#pragma once
// Engine-internal records: on-disk layouts, the file control record, the caches.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "keyfile/ostrel.h"

static_assert(std::endian::native == std::endian::little, "the file layouts are little-endian");

namespace ol {

#pragma pack(push, 1)
struct Header {
  int32_t phys_end;         // 0
  int32_t release_head;     // 4
  int32_t logical_end;      // 8
  int32_t res12;            // 12
  int32_t res16;            // 16
  int32_t serial;           // 20
  int32_t count;            // 24
  int32_t root;             // 28
  int32_t res32;            // 32
  int32_t res36;            // 36
  int16_t format;           // 40
  uint16_t node_size;       // 42
  uint16_t rec_len;         // 44
  uint16_t ext_size;        // 46
  uint16_t mode;            // 48
  uint16_t perm_bits;       // 50
  uint16_t leaf_cap;        // 52
  uint16_t nonleaf_area;    // 54
  uint8_t update_flag;      // 56
  uint8_t key_type;         // 57
  uint8_t dup_flag;         // 58
  uint8_t node_reuse;       // 59
  uint8_t pad_byte;         // 60
  uint8_t c61, c62, c63;    // 61
  uint16_t file_type;       // 64
  int16_t key_len;          // 66
  int16_t members;          // 68
  int16_t member_no;        // 70
  int32_t first_leaf;       // 72
  int32_t file_id;          // 76
  int32_t hdr_pos;          // 80
  int32_t res84;            // 84
  int32_t res88;            // 88
  uint16_t file_class;      // 92
  uint16_t leaf_entries;    // 94
  int16_t c96;              // 96
  int16_t flag_word;        // 98
  int32_t marker;           // 100
  int32_t res104;           // 104
  int32_t write_count;      // 108
  int32_t close_time;       // 112
  uint8_t res116[12];       // 116
};
struct NodeHeader {
  int32_t right;
  int32_t left;
  uint16_t entries;
  uint16_t bytes;
  uint8_t res[4];
  uint8_t member;
  uint8_t leaf;
};
struct VHeader {
  uint16_t mark;
  int32_t total;
  int32_t used;
};
#pragma pack(pop)
static_assert(sizeof(Header) == 128);
static_assert(sizeof(NodeHeader) == 18);
static_assert(sizeof(VHeader) == 10);
static_assert(offsetof(Header, format) == 40 && offsetof(Header, update_flag) == 56 &&
              offsetof(Header, file_type) == 64 && offsetof(Header, first_leaf) == 72 &&
              offsetof(Header, file_class) == 92 && offsetof(Header, marker) == 100 &&
              offsetof(Header, close_time) == 112);

constexpr uint16_t kFormat = 129;
constexpr uint16_t kMarkUsed = 0xFAFA, kMarkFree = 0xFDFD, kMarkFree2 = 0xFCFC, kMarkNode = 0xFBBF;

struct Fcb {
  Header h{};
  int32_t hdr_pos = 0;
  // current-key state
  int32_t cur_node = 0;
  int32_t cur_entry = 0;
  std::vector<uint8_t> cur_key;
  bool has_cur = false;
  int32_t cur_rec = 0, saved_rec = 0;
  // The variable data file whose records were last read at positions this index's
  // steps handed out (-1: none seen): the step after asks for the next one ahead.
  int16_t walk_data = -1;
  // The fixed-length data file whose records were last read at a position this index's
  // exact lookup handed out (-1: none seen): the next lookup asks for its record ahead.
  int16_t lookup_data = -1;
  int fd = -1;
  int16_t number = 0;
  int16_t host = 0;        // file number of the host (itself for hosts and data files)
  char status = 'n';
  uint16_t open_mode = 0;  // mode as opened (sharing decisions)
  bool changed = false;    // a change since the open
  bool hdr_dirty = false;
  bool reserved_member = false;  // 'm' slot reserved but never defined
  bool defined_member = false;
  uint64_t lru_stamp = 0;
  std::string name;
};

struct Page {
  int16_t file = -1;
  int32_t pos = 0;
  int32_t valid = 0;
  int32_t dlo = 0, dhi = 0;  // changed byte range [dlo, dhi)
  bool dirty = false;
  int prev = -1, next = -1;
  uint64_t touched = 0;  // the ring's move count when it last went to the front
  uint8_t* data = nullptr;
};

// A node decoded into plain entries: ptr[i] is the child or record position (for leaves
// of duplicate indexes the position from the key's suffix), keys holds n full keys.
struct Image {
  int32_t pos = 0, right = 0, left = 0;
  uint8_t member = 0;
  bool leaf = false;
  int n = 0;
  int klen = 0;
  std::vector<int32_t> ptr;
  std::vector<uint8_t> keys;
  uint8_t high[256] = {};
  uint8_t* key(int i) { return keys.data() + static_cast<size_t>(i) * klen; }
  const uint8_t* key(int i) const { return keys.data() + static_cast<size_t>(i) * klen; }
  void insert(int i, int32_t p, const uint8_t* k, int klen);
  void erase(int i, int klen);
};

// For halving a decoded node's keys, made by the first search that needs them: the bytes
// its keys share, and for each key the eight bytes after those as a number that orders as
// the bytes do. A last key of all 0xFF bytes (the rightmost node's top) is left out of both:
// it would leave nothing shared, and nothing sorts after it anyway. Beside the numbers, in
// the same block so that a search touches few lines: each key's child or record position,
// and the shared bytes.
struct KeyWords {
  bool made = false;
  int shared = 0;
  int n = 0;  // the keys halved over
  std::vector<uint64_t> w;
  int32_t child(int i) const {
    int32_t c;
    std::memcpy(&c, reinterpret_cast<const uint8_t*>(w.data() + n) + 4 * static_cast<size_t>(i), 4);
    return c;
  }
  const uint8_t* prefix() const { return reinterpret_cast<const uint8_t*>(w.data() + n + (n + 1) / 2); }
};

struct NodeBuf {
  int16_t host = -1;   // host file number (nodes are physical in the host's file)
  int16_t owner = -1;  // member file number
  int32_t pos = 0;
  bool dirty = false;
  uint8_t probes = 0;  // lookups that searched it since it was read
  int prev = -1, next = -1;
  uint64_t touched = 0;  // the ring's move count when it last went to the front
  uint8_t* data = nullptr;
  // The bytes' generation, and the decoded copy made at generation dec_gen for member
  // dec_owner: searches and steps reuse it until the bytes change.
  uint64_t gen = 0, dec_gen = 0;
  int16_t dec_owner = -1;
  KeyWords words;
  Image dec;
};

// A leaf searched through the file's mapping, decoded once it is searched again, so that a
// tree larger than the node buffers halves its leaves as it halves buffered nodes. Current
// while no file has been opened, closed, written or cut since it was made (os_change_serial).
struct MappedLeaf {
  uint64_t key = ~uint64_t(0);  // cache_key(host, pos)
  uint64_t serial = 0;
  int16_t dec_owner = -1;
  bool decoded = false;  // false: searched once, decoded at the next search
  KeyWords words;
  Image dec;
};

// The keys of an index member's lowest branch level in one sorted run, with the leaves they
// lead to in dec.ptr: an exact lookup halves once to its leaf instead of passing each level
// above it. Made after a run of lookups with nothing changed; current while os_change_serial
// (raised by every write, node stores included) is what it was when made.
struct LeafFence {
  uint64_t serial = 0;  // when made, or when found not worth making
  int32_t root = 0;
  bool usable = false;
  uint32_t quiet = 0;  // lookups seen at `serial` before one is made
  Image dec;
  KeyWords words;
};

// Intrusive least-recently-used ring over a vector of elements with prev/next.
template <class T>
struct Lru {
  int head = -1, tail = -1;  // head = most recent
  uint64_t moves = 0;
  void unlink(std::vector<T>& v, int i) {
    T& e = v[i];
    if (e.prev >= 0) v[e.prev].next = e.next; else head = e.next;
    if (e.next >= 0) v[e.next].prev = e.prev; else tail = e.prev;
    e.prev = e.next = -1;
    e.touched = 0;
  }
  void push_front(std::vector<T>& v, int i) {
    v[i].prev = -1;
    v[i].next = head;
    if (head >= 0) v[head].prev = i;
    head = i;
    if (tail < 0) tail = i;
  }
  // An element moved to the front fewer than a quarter of the ring's moves ago still lies in
  // its most recent quarter, which the tail never reaches: it is left where it is.
  void touch(std::vector<T>& v, int i) {
    if (head == i) return;
    if (v[i].touched && moves - v[i].touched < v.size() / 4) return;
    unlink(v, i);
    push_front(v, i);
    v[i].touched = ++moves;
  }
};

// Maps (file, position) to the buffer holding it. Each buffer holds one block at a time, so
// the chains run through the buffers themselves and nothing is allocated after the start.
class BufIndex {
 public:
  void reset(size_t buffers) {
    size_t b = 16;
    while (b < buffers * 2) b <<= 1;
    head_.assign(b, -1);
    mask_ = b - 1;
    key_.assign(buffers, kNone);
    next_.assign(buffers, -1);
    used_ = 0;
  }
  void clear() { reset(key_.size()); }
  bool empty() const { return used_ == 0; }
  int find(uint64_t k) const {
    if (head_.empty()) return -1;
    for (int i = head_[bucket(k)]; i >= 0; i = next_[i])
      if (key_[i] == k) return i;
    return -1;
  }
  void put(uint64_t k, int i) {
    if (key_[i] != kNone) erase(key_[i]);
    if (find(k) >= 0) erase(k);
    int& h = head_[bucket(k)];
    key_[i] = k;
    next_[i] = h;
    h = i;
    ++used_;
  }
  void erase(uint64_t k) {
    if (head_.empty()) return;
    for (int* link = &head_[bucket(k)]; *link >= 0; link = &next_[*link]) {
      int i = *link;
      if (key_[i] != k) continue;
      *link = next_[i];
      key_[i] = kNone;
      next_[i] = -1;
      --used_;
      return;
    }
  }

 private:
  static constexpr uint64_t kNone = ~uint64_t(0);
  size_t bucket(uint64_t k) const { return static_cast<size_t>((k * 0x9E3779B97F4A7C15ull) >> 32) & mask_; }
  std::vector<int> head_, next_;
  std::vector<uint64_t> key_;
  size_t mask_ = 0, used_ = 0;
};

// Which pages of each file a data page buffer holds, one bit a page: reads that touch no
// held page go straight to the file's bytes without a lookup per page.
class PageBits {
 public:
  void set(int16_t file, int32_t page) {
    auto& w = words(file);
    const size_t at = static_cast<size_t>(page) >> 6;
    if (at >= w.size()) w.resize(at + 1, 0);
    w[at] |= uint64_t(1) << (page & 63);
  }
  void clear(int16_t file, int32_t page) {
    if (file < 0 || static_cast<size_t>(file) >= bits_.size()) return;
    auto& w = bits_[static_cast<size_t>(file)];
    const size_t at = static_cast<size_t>(page) >> 6;
    if (at < w.size()) w[at] &= ~(uint64_t(1) << (page & 63));
  }
  // Whether any page from first to last (inclusive) is held.
  bool any(int16_t file, int64_t first, int64_t last) const {
    if (file < 0 || static_cast<size_t>(file) >= bits_.size() || first > last) return false;
    const auto& w = bits_[static_cast<size_t>(file)];
    const int64_t end = std::min<int64_t>(last, static_cast<int64_t>(w.size()) * 64 - 1);
    for (int64_t p = first; p <= end;) {
      const uint64_t word = w[static_cast<size_t>(p >> 6)] >> (p & 63);
      const int64_t span = std::min<int64_t>(64 - (p & 63), end - p + 1);
      if (span < 64 ? (word & ((uint64_t(1) << span) - 1)) : word) return true;
      p += span;
    }
    return false;
  }

 private:
  std::vector<uint64_t>& words(int16_t file) {
    if (static_cast<size_t>(file) >= bits_.size()) bits_.resize(static_cast<size_t>(file) + 1);
    return bits_[static_cast<size_t>(file)];
  }
  std::vector<std::vector<uint64_t>> bits_;
};

struct Engine {
  std::string name;
  bool started = false;
  int32_t mode_word = 0, aux = 0;
  int16_t err = 0, syserr = 0;  // saved copies while not current
  int16_t nfiles = 0, sectors = 0;
  int32_t node_size = 0;
  int32_t handle_limit = 500;
  int32_t open_handles = 0, open_files = 0, open_numbers = 0;
  uint32_t temp_seed = 0;
  uint64_t stamp = 0;
  std::vector<Fcb> files;
  std::vector<Page> pages;
  std::vector<uint8_t> page_mem;
  Lru<Page> page_lru;
  BufIndex page_map;
  PageBits page_bits;
  // The position the last step through an index handed out, and that index.
  int16_t walk_index = -1;
  // The position the last exact lookup handed out, and its index.
  int16_t lookup_index = -1;
  int32_t lookup_pos = 0;
  int32_t walk_pos = 0;
  std::vector<NodeBuf> nodes;
  std::vector<uint8_t> node_mem;
  Lru<NodeBuf> node_lru;
  BufIndex node_map;
  // Two ways a set; the way searched last of each set is kept at a miss.
  std::vector<MappedLeaf> mapped_leaves;
  std::vector<uint8_t> mapped_recent;
  std::vector<LeafFence> fences;  // by member file number
  // counters
  uint64_t reads = 0, writes = 0, read_bytes = 0, write_bytes = 0;
  uint64_t node_reads = 0, node_hits = 0, page_reads = 0, page_hits = 0;
};

extern Engine* cur;

inline uint64_t cache_key(int file, int32_t pos) {
  return (static_cast<uint64_t>(static_cast<uint16_t>(file)) << 32) | static_cast<uint32_t>(pos);
}

// Errors: set uerr_cod and return it.
inline int16_t fail(int16_t code) {
  uerr_cod = code;
  return code;
}

// runtime (kf_engine.cpp); the accessors every operation passes through are inline
// 22 outside the table, 47 not started
inline Fcb* file_slot(int16_t file) {
  if (!cur || !cur->started) {
    uerr_cod = 47;
    return nullptr;
  }
  if (file < 0 || file >= cur->nfiles) {
    uerr_cod = 22;
    return nullptr;
  }
  return &cur->files[file];
}
// plus 26 when not open ('m' members count as open when defined)
inline Fcb* open_file(int16_t file) {
  Fcb* f = file_slot(file);
  if (!f) return nullptr;
  if (f->status != 'y' && f->status != 'v') {
    uerr_cod = 26;
    return nullptr;
  }
  return f;
}
inline Fcb& host_of(Fcb& f) { return cur->files[f.host]; }
inline void fcb_touch(Fcb& f) { host_of(f).lru_stamp = ++cur->stamp; }
int fcb_reopen(Fcb& host);  // a handle given up to save handles opened again (38)
inline int fcb_fd(Fcb& f) {
  Fcb& h = host_of(f);
  if (h.status == 'v') return fcb_reopen(h);
  fcb_touch(h);
  return h.fd;
}
// Runs io(fd) on the file f lives in with uerr_cod cleared: the error io left, or 0 with
// the caller's uerr_cod as it was.
template <class Io>
int16_t file_io(Fcb& f, Io io) {
  const int fd = fcb_fd(f);
  if (fd < 0) return uerr_cod;
  const int16_t saved = uerr_cod;
  uerr_cod = 0;
  io(fd, host_of(f).name.c_str());
  const int16_t e = uerr_cod;
  if (!e) uerr_cod = saved;
  return e;
}
int16_t close_plain_file(Fcb& f);      // a slot of status 's' (kf_plain.cpp)
int16_t budget_handles(int16_t except);  // before an open: keep under the handle limit
bool free_one_handle(int16_t except);    // give up the least recently used non-permanent handle
int16_t mark_changed(Fcb& f);
int16_t write_header(Fcb& f, bool ends);
int16_t finish_change(Fcb& f);          // write-through: headers after every change
inline int32_t header_area(const Header& h, int32_t members) {
  switch (h.file_type) {
    case OL_TYPE_FIXED: {
      int32_t rl = h.rec_len ? h.rec_len : 1;
      return ((128 + rl - 1) / rl) * rl;
    }
    case OL_TYPE_VARIABLE:
      return h.node_size;
    default: {
      int32_t ns = h.node_size ? h.node_size : 128;
      return ((ns + 128 * members + 127) / ns) * ns;
    }
  }
}
int16_t grow_file(Fcb& f, int32_t amount, int32_t align, int32_t* pos_out);
void status_log_fmt(int32_t code, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
int16_t internal_error(int16_t number);  // a broken invariant: logged and returned as an error

// operating-system layer (kf_os.cpp)
int os_create(const char* name);
int os_open(const char* name, uint16_t mode);
void os_close(int fd);
int32_t os_read(int fd, int32_t pos, void* buf, int32_t len, const char* name);   // sets 35/36
int32_t os_write(int fd, int32_t pos, const void* buf, int32_t len, const char* name);  // 35/37
// Bytes from several places written as one run at pos, in one system call (35/37).
struct OsPiece {
  const void* data;
  int32_t len;
};
int32_t os_write_pieces(int fd, int32_t pos, const OsPiece* pieces, int count, const char* name);
int16_t os_delete(const char* name);
bool os_mapped(int fd, int32_t pos, int32_t len);  // read as a copy from a mapping, no system call
// The file's bytes [pos, pos+len) in place when a mapping holds them (counted as a read), or nullptr.
const uint8_t* os_read_mapped(int fd, int32_t pos, int32_t len);
// Bytes [pos, pos+len) about to be read: asks for them from memory now when a mapping
// holds them. Only a hint; nothing is read or counted.
void os_prefetch(int fd, int32_t pos, int32_t len);
// Raised whenever any file is opened, closed, written or cut: copies made from a mapping
// carry it and are current while it stands.
uint64_t os_change_serial();
// Bytes about to change in a buffer of the engine's own, not yet in the file.
void os_note_change();
// The file's bytes in place as os_read_mapped gives them, not counted as a read: for hints
// only, since a data page buffer may hold newer bytes.
const uint8_t* os_peek(int fd, int32_t pos, int32_t len);
int64_t os_size(int fd);
void os_truncate(int fd, int64_t size);  // back to size after a failed growth (errno kept)

// data pages (kf_data.cpp)
int16_t page_read(Fcb& f, int32_t pos, void* buf, int32_t len);
int16_t page_write(Fcb& f, int32_t pos, const void* buf, int32_t len);
int16_t page_write_pieces(Fcb& f, int32_t pos, const OsPiece* pieces, int count);  // one run
void page_patch(int16_t file, int32_t pos, const void* buf, int32_t len);
int16_t page_flush_file(int16_t file, bool drop);
void page_drop_file(int16_t file);
int16_t read_vheader(Fcb& f, int32_t pos, VHeader& v);
// The records at positions next and after (0: none) in variable data file `file` are
// likely read soon, in that order: their bytes are asked for from memory. Only a hint; a
// file not open or not mapped is passed over, and nothing is read or counted.
void vdata_hint(int16_t file, int32_t next, int32_t after);
// The fixed-length record at pos of file asked for from memory ahead of its read.
void record_hint(int16_t file, int32_t pos);

// node buffers (kf_btree.cpp)
int16_t node_flush_file(int16_t host, bool drop);
void node_drop_file(int16_t host);
int16_t index_capacities(Header& h, int32_t node_size);
void space_index_capacities(Header& h, int32_t node_size);
int16_t space_add(Fcb& f, int32_t total, int32_t pos);
int16_t space_remove(Fcb& f, int32_t total, int32_t pos);
int32_t space_find(Fcb& f, int32_t need, int32_t* total_out);

// record layer (kf_records.cpp): the data file an index belongs to, or -1
}  // namespace ol
int32_t record_layer_data_file(int16_t index);
