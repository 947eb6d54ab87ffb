// B-tree indexes: node buffers, node format with key compression, searches, the current
// key, insertion with splits, deletion with freeing of empty nodes, the free-node chain.
// Nodes are decoded into a plain entry list for every operation and encoded back; every
// length and link read from a node is checked against the node and the file.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

#include "keyfile/kf_btree.h"

namespace ol {

// Errors for broken invariants found in index handling.
constexpr int16_t kErrLostRoot = 214, kErrLostChild = 215, kErrInsertLost = 218, kErrDeleteLost = 220,
                  kErrNodeDamaged = 231, kErrTooDeep = 240;

Geometry geometry_of(const Fcb& m) {
  Geometry g;
  g.klen = m.h.key_len;
  g.dup = m.h.dup_flag == 1;
  g.lead = (m.h.key_type & 4) != 0;
  g.trail = (m.h.key_type & 8) != 0;
  g.pad = m.h.pad_byte;
  g.ns = m.h.node_size;
  g.keypart = g.dup ? g.klen - 4 : g.klen;
  g.leaf_cap = m.h.leaf_cap;
  g.leaf_max = m.h.leaf_entries;
  g.nonleaf_cap = g.ns - 18;
  g.nonleaf_max = g.ns / 4;
  g.member = static_cast<uint8_t>(m.h.member_no);
  return g;
}

int16_t index_capacities(Header& h, int32_t ns) {
  int32_t klen = h.key_len;
  if (klen >= 256 || klen < 1 || (h.dup_flag && klen <= 4)) return 45;
  int32_t ncomp = ((h.key_type & 4) ? 1 : 0) + ((h.key_type & 8) ? 1 : 0);
  int32_t f = klen + ncomp, g = f + 4, m = h.dup_flag ? f : g;
  if ((ns - 18) / g <= 2) return 20;
  if (h.key_type & 3) return 52;
  int32_t o = (ns - 18) / m;
  if (o < 3) return 20;
  h.leaf_cap = static_cast<uint16_t>(m * o - f);
  h.leaf_entries = static_cast<uint16_t>(ns / 4);
  h.nonleaf_area = static_cast<uint16_t>(ns - 18);
  h.node_size = static_cast<uint16_t>(ns);
  return 0;
}

void space_index_capacities(Header& h, int32_t ns) {
  h.leaf_cap = static_cast<uint16_t>(((ns - 18) / 12 - 1) * 12);
  h.leaf_entries = static_cast<uint16_t>(ns / 4);
  h.nonleaf_area = static_cast<uint16_t>(ns - 18);
}

// The first index in [from, to) where a and b differ, or to; eight bytes at a time (in a
// little-endian word the first differing byte is the lowest).
[[gnu::always_inline]] static inline int common_prefix(const uint8_t* a, const uint8_t* b, int from, int to) {
  int j = from;
  for (; j + 8 <= to; j += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + j, 8);
    std::memcpy(&y, b + j, 8);
    if (x != y) return j + (std::countr_zero(x ^ y) >> 3);
  }
  if (j == to) return to;
  // The tail as one word ending at `to`, overlapping bytes already found equal, rather than
  // byte by byte: a loop of unpredictable length costs a missed guess nearly every call.
  if (to - from >= 8) {
    uint64_t x, y;
    std::memcpy(&x, a + to - 8, 8);
    std::memcpy(&y, b + to - 8, 8);
    return x != y ? to - 8 + (std::countr_zero(x ^ y) >> 3) : to;
  }
  if (j + 4 <= to) {
    uint32_t x, y;
    std::memcpy(&x, a + j, 4);
    std::memcpy(&y, b + j, 4);
    if (x != y) return j + (std::countr_zero(x ^ y) >> 3);
    j += 4;
  }
  while (j < to && a[j] == b[j]) ++j;
  return j;
}

int keycmp(const uint8_t* a, const uint8_t* b, int n) {
  const int j = common_prefix(a, b, 0, n);
  if (j == n) return 0;
  return a[j] < b[j] ? -(j + 1) : (j + 1);
}

// Whether key a sorts before key b, as byte strings. Words loaded high byte first compare
// as the bytes do; the last word overlaps the one before it, whose bytes are then equal.
[[gnu::always_inline]] static inline bool key_less(const uint8_t* a, const uint8_t* b, int n) {
  if (n >= 8) {
    for (int j = 0;; j += 8) {
      if (j > n - 8) j = n - 8;
      uint64_t x, y;
      std::memcpy(&x, a + j, 8);
      std::memcpy(&y, b + j, 8);
      if (x != y) return __builtin_bswap64(x) < __builtin_bswap64(y);
      if (j == n - 8) return false;
    }
  }
  if (n >= 4) {
    for (int j : {0, n - 4}) {
      uint32_t x, y;
      std::memcpy(&x, a + j, 4);
      std::memcpy(&y, b + j, 4);
      if (x != y) return __builtin_bswap32(x) < __builtin_bswap32(y);
    }
    return false;
  }
  for (int j = 0; j < n; ++j)
    if (a[j] != b[j]) return a[j] < b[j];
  return false;
}

// The first of n keys lying stride bytes apart that is >= t.
static int first_not_less(const uint8_t* base, size_t stride, int n, const uint8_t* t, int klen) {
  int lo = 0, hi = n;
  while (lo < hi) {
    const int mid = (lo + hi) / 2;
    if (key_less(base + static_cast<size_t>(mid) * stride, t, klen)) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

// Keys of at most 8 bytes as numbers that order as the keys do, loaded as the 8 bytes
// that end with the key: the caller has at least 8 - klen readable bytes before it.
[[gnu::always_inline]] static inline uint64_t short_key(const uint8_t* k, int klen, uint64_t mask) {
  uint64_t x;
  std::memcpy(&x, k + klen - 8, 8);
  return __builtin_bswap64(x) & mask;
}

// The same search over keys of at most 8 bytes lying stride bytes apart, each with room
// before it for short_key.
// tv: the sought key as short_key gives it.
static int first_not_less_short(const uint8_t* base, size_t stride, int n, uint64_t tv, int klen) {
  const uint64_t mask = klen == 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * klen)) - 1;
  int lo = 0, hi = n;
  while (lo < hi) {
    const int mid = (lo + hi) / 2;
    if (short_key(base + static_cast<size_t>(mid) * stride, klen, mask) < tv) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

static uint32_t be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
static void put_be32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

int32_t entry_pos(const Geometry& g, const Image& im, int i) {
  if (im.leaf && g.dup) return static_cast<int32_t>(be32(im.key(i) + g.klen - 4));
  return im.ptr[i];
}

// ---------------------------------------------------------------- node format

// Eight bytes at a time from the end: in a little-endian word the last byte is the highest.
static int trailing_pads(const Geometry& g, const uint8_t* k) {
  const uint64_t pads = 0x0101010101010101ull * g.pad;
  int end = g.keypart;
  for (; end >= 8; end -= 8) {
    uint64_t x;
    std::memcpy(&x, k + end - 8, 8);
    if (x != pads) return g.keypart - end + (std::countl_zero(x ^ pads) >> 3);
  }
  while (end > 0 && k[end - 1] == g.pad) --end;
  return g.keypart - end;
}

static bool has_ptr(const Geometry& g, bool leaf) { return !leaf || !g.dup; }

// Walks the entries of an encoded node in order, rebuilding one key at a time in place
// (a leading run is the previous key's own bytes); every count and length is checked
// against the node, and damage stops the walk.
namespace {
struct EntryWalk {
  const Geometry& g;
  const uint8_t* p;
  const uint8_t* end;
  const uint8_t* block_end;
  bool leaf, ptr;
  int n, i = 0, prev_trail = 0, last_lead = 0, pad_from = 0;
  int32_t right = 0, left = 0;
  uint8_t member = 0;
  int32_t child = 0;
  uint8_t key[256 + 16];  // room for the short copies below to run over
  const uint8_t* high = nullptr;

  EntryWalk(const Geometry& geo, const uint8_t* block) : g(geo) {
    NodeHeader nh;
    std::memcpy(&nh, block, 18);
    right = nh.right;
    left = nh.left;
    member = nh.member;
    leaf = nh.leaf == 1;
    ptr = has_ptr(g, leaf);
    const int cap = leaf ? g.leaf_cap : g.nonleaf_cap;
    const int maxn = leaf ? g.leaf_max : g.nonleaf_max;
    n = nh.leaf > 1 || nh.entries > maxn || nh.bytes > cap || g.klen > 256 ? -1 : nh.entries;
    p = block + 18;
    end = p + (n < 0 ? 0 : nh.bytes);
    block_end = block + g.ns;
    if (leaf) high = block + 18 + g.leaf_cap;
  }
  bool ok() const { return n >= 0; }
  bool at_end() const { return p == end; }
  // Decodes entry i into key; false on damage.
  [[gnu::always_inline]] bool next() {
    if (ptr) {
      if (end - p < 4) return false;
      std::memcpy(&child, p, 4);
      p += 4;
    }
    int lead = 0, trail = 0;
    if (g.lead) {
      if (end - p < 1) return false;
      lead = *p++;
    }
    if (g.trail) {
      if (end - p < 1) return false;
      trail = *p++;
    }
    if ((i == 0 && lead) || lead + trail > g.keypart || lead + prev_trail > g.keypart) return false;
    const int rem = g.keypart - lead - trail;
    if (end - p < rem + (g.dup ? 4 : 0)) return false;
    last_lead = lead;
    if (rem <= 16 && block_end - p >= 16) {
      std::memcpy(key + lead, p, 16);  // a fixed-size copy: the common short remainder
    } else {
      std::memcpy(key + lead, p, static_cast<size_t>(rem));
    }
    p += rem;
    // The pad run is filled only when the key is handed out: the next entry can never
    // repeat bytes of it (its leading count stops where this run starts).
    pad_from = lead + rem;
    if (g.dup) {
      std::memcpy(key + g.keypart, p, 4);
      p += 4;
    }
    if (leaf && g.dup) child = static_cast<int32_t>(be32(key + g.klen - 4));
    prev_trail = trail;
    ++i;
    return true;
  }
  // Fills the pad run of the key last decoded.
  void complete() { std::memset(key + pad_from, g.pad, static_cast<size_t>(g.keypart - pad_from)); }
  // Moves to the first entry whose key is >= t: 1 found (key and child hold it), 0 none
  // in this node, -1 damage. t_pads: where the pad run ending t's key part starts.
  // Entries are compared where they lie: a compared key's leading run repeats bytes it
  // shares with t, so only its stored bytes are compared, and a key is put together only
  // for the entry found.
  int seek(const uint8_t* t, int t_pads) {
    // The entry layout as constants: the loop runs once per entry passed.
    if (!g.lead) return ptr ? seek_as<false, true, 4>(t, t_pads) : seek_as<false, true, 0>(t, t_pads);
    if (!g.trail) return ptr ? seek_as<true, false, 4>(t, t_pads) : seek_as<true, false, 0>(t, t_pads);
    return ptr ? seek_as<true, true, 4>(t, t_pads) : seek_as<true, true, 0>(t, t_pads);
  }
  template <bool Lead, bool Trail, int Plen>
  int seek_as(const uint8_t* t, int t_pads) {
    constexpr int hdr = Plen + Lead + Trail;
    const int keypart = g.keypart, klen = g.klen, sfx = g.dup ? 4 : 0;
    const uint8_t pad = g.pad;
    const uint8_t* q = p;
    int k = i, ptrail = prev_trail;
    // matched: bytes the last compared key shares with t, its next byte being the smaller.
    // A key that repeats more than that many leading bytes of it is smaller than t as well.
    int matched = 0;
    while (k < n) {
      if (end - q < hdr) return -1;
      const uint8_t* entry = q;
      const int lead = Lead ? q[Plen] : 0;
      const int trail = Trail ? q[Plen + Lead] : 0;
      if ((k == 0 && lead) || lead + std::max(trail, ptrail) > keypart) return -1;
      const int rem = keypart - lead - trail;
      const uint8_t* stored = q + hdr;
      if (end - stored < rem + sfx) return -1;
      q = stored + rem + sfx;
      ptrail = trail;
      if (k++ > 0 && lead > matched) continue;
      const int pf = lead + rem;
      int j = lead + common_prefix(stored, t + lead, 0, rem);
      if (j == pf) {
        if (j >= t_pads) j = keypart;
        else while (j < keypart && t[j] == pad) ++j;
        if (j == keypart) j += common_prefix(stored + rem, t + keypart, 0, sfx);
      }
      if (j == klen || (j < pf ? stored[j - lead] : j < keypart ? pad : stored[rem + j - keypart]) > t[j]) {
        std::memcpy(key, t, static_cast<size_t>(lead));
        std::memcpy(key + lead, stored, static_cast<size_t>(rem));
        std::memset(key + pf, pad, static_cast<size_t>(keypart - pf));
        std::memcpy(key + keypart, stored + rem, static_cast<size_t>(sfx));
        if (Plen) std::memcpy(&child, entry, 4);
        else child = static_cast<int32_t>(be32(key + klen - 4));
        i = k;
        p = q;
        prev_trail = ptrail;
        last_lead = lead;
        pad_from = pf;
        return 1;
      }
      matched = j;
    }
    i = k;
    p = q;
    prev_trail = ptrail;
    return at_end() ? 0 : -1;
  }
};
}  // namespace

int32_t encode(const Geometry& g, const Image& im, int from, int to, uint8_t* out) {
  int32_t n = 0;
  bool ptr = has_ptr(g, im.leaf);
  int prev_trail = 0;
  for (int i = from; i < to; ++i) {
    const uint8_t* k = im.key(i);
    if (ptr) {
      if (out) std::memcpy(out + n, &im.ptr[i], 4);
      n += 4;
    }
    int trail = g.trail ? trailing_pads(g, k) : 0;
    int lead = 0;
    if (g.lead && i > from) {
      const uint8_t* p = im.key(i - 1);
      int common = 0;
      while (common < g.keypart && p[common] == k[common]) ++common;
      lead = std::min({common, g.keypart - trail, g.keypart - prev_trail});
      if (lead < 0) lead = 0;
    }
    if (g.lead) {
      if (out) out[n] = static_cast<uint8_t>(lead);
      ++n;
    }
    if (g.trail) {
      if (out) out[n] = static_cast<uint8_t>(trail);
      ++n;
    }
    int rem = g.keypart - lead - trail;
    if (out) std::memcpy(out + n, k + lead, static_cast<size_t>(rem));
    n += rem;
    if (g.dup) {
      if (out) std::memcpy(out + n, k + g.keypart, 4);
      n += 4;
    }
    prev_trail = trail;
  }
  return n;
}

int16_t decode(const Geometry& g, const uint8_t* block, Image& im) {
  EntryWalk w(g, block);
  im.right = w.right;
  im.left = w.left;
  im.member = w.member;
  if (!w.ok()) return kErrNodeDamaged;
  im.leaf = w.leaf;
  const int n = w.n;
  im.n = n;
  im.klen = g.klen;
  im.ptr.resize(static_cast<size_t>(n));
  im.keys.resize(static_cast<size_t>(n) * g.klen);
  if (im.leaf) std::memcpy(im.high, w.high, static_cast<size_t>(g.klen));
  for (int i = 0; i < n; ++i) {
    if (!w.next()) return kErrNodeDamaged;
    w.complete();
    std::memcpy(im.key(i), w.key, static_cast<size_t>(g.klen));
    im.ptr[i] = w.child;  // the record position from the key's suffix on duplicate leaves
  }
  if (!w.at_end()) return kErrNodeDamaged;
  return 0;
}

static bool fits(const Geometry& g, const Image& im) {
  if (im.n > (im.leaf ? g.leaf_max : g.nonleaf_max)) return false;
  return encode(g, im, 0, im.n, nullptr) <= (im.leaf ? g.leaf_cap : g.nonleaf_cap);
}

static void store(const Geometry& g, const Image& im, uint8_t* block) {
  NodeHeader nh{};
  nh.right = im.right;
  nh.left = im.left;
  nh.entries = static_cast<uint16_t>(im.n);
  nh.member = im.member;
  nh.leaf = im.leaf ? 1 : 0;
  int32_t bytes = encode(g, im, 0, im.n, block + 18);
  nh.bytes = static_cast<uint16_t>(bytes);
  int32_t cap = im.leaf ? g.leaf_cap : g.nonleaf_cap;
  std::memset(block + 18 + bytes, 0, static_cast<size_t>(cap - bytes));
  if (im.leaf) {
    // The buffer may last have held any file's node: nothing of it goes past the high key.
    const int32_t end = 18 + g.leaf_cap + g.klen;
    std::memcpy(block + 18 + g.leaf_cap, im.high, static_cast<size_t>(g.klen));
    if (end < g.ns) std::memset(block + end, 0, static_cast<size_t>(g.ns - end));
  }
  std::memcpy(block, &nh, 18);
}

void Image::insert(int i, int32_t p, const uint8_t* k, int klen) {
  ptr.insert(ptr.begin() + i, p);
  keys.insert(keys.begin() + static_cast<long>(i) * klen, k, k + klen);
  ++n;
}

void Image::erase(int i, int klen) {
  ptr.erase(ptr.begin() + i);
  keys.erase(keys.begin() + static_cast<long>(i) * klen, keys.begin() + static_cast<long>(i + 1) * klen);
  --n;
}

// ---------------------------------------------------------------- node buffers

// Raised whenever a node buffer's bytes change (read from the file or stored from an
// image); a buffer's decoded copy is current while it carries the buffer's generation.
static uint64_t node_generation = 1;

static int32_t node_area_start(const Fcb& host) {
  return header_area(host.h, host.h.file_type == OL_TYPE_INDEX ? host.h.members : 0);
}

int32_t node_bound(const Fcb& m) {
  const Fcb& host = cur->files[m.host];
  int32_t ns = m.h.node_size;
  if (ns <= 0) return 0;
  return (host.h.logical_end + 1 - node_area_start(host)) / ns + 2;
}

static int16_t node_writeback(NodeBuf& b) {
  if (!b.dirty) return 0;
  Fcb& host = cur->files[b.host];
  if (int16_t e = file_io(host, [&](int fd, const char* name) {
        os_write(fd, b.pos, b.data, cur->files[b.owner].h.node_size, name);
      }))
    return e;
  if (host.h.file_type == OL_TYPE_VARIABLE) page_patch(host.number, b.pos, b.data, host.h.node_size);
  b.dirty = false;
  return 0;
}

static int node_take(int16_t host, int16_t owner, int32_t pos) {
  int i = cur->node_lru.tail;
  NodeBuf& b = cur->nodes[i];
  if (b.host >= 0) {
    if (node_writeback(b)) return -1;
    cur->node_map.erase(cache_key(b.host, b.pos));
  }
  b.host = host;
  b.owner = owner;
  b.pos = pos;
  b.dirty = false;
  cur->node_map.put(cache_key(host, pos), i);
  cur->node_lru.touch(cur->nodes, i);
  return i;
}

// The node at pos, read through the buffers. Positions outside the node area, not on a
// node boundary, or nodes owned by another member are refused.
int node_get(Fcb& m, int32_t pos) {
  if (const int hit = cur->node_map.find(cache_key(m.host, pos)); hit >= 0) {
    ++cur->node_hits;
    NodeBuf& b = cur->nodes[hit];
    NodeHeader nh;
    std::memcpy(&nh, b.data, 18);
    if (nh.member != m.h.member_no && !(nh.left == -1 && nh.right != -1)) {
      uerr_cod = 69;
      return -1;
    }
    cur->node_lru.touch(cur->nodes, hit);
    b.owner = m.number;
    return hit;
  }
  Fcb& host = cur->files[m.host];
  int32_t ns = m.h.node_size;
  int32_t start = node_area_start(host);
  bool variable = host.h.file_type == OL_TYPE_VARIABLE;
  if (pos < start + (variable ? 10 : 0) || static_cast<int64_t>(pos) + ns - 1 > host.h.logical_end) {
    status_log_fmt(-199, "node exceeds logical index EOF");
    status_log_fmt(519, "%s", host.name.c_str());
    uerr_cod = 519;
    return -1;
  }
  if (!variable && pos % ns != 0) {
    uerr_cod = kErrNodeDamaged;
    return -1;
  }
  int fd = fcb_fd(host);
  if (fd < 0) return -1;
  int i = node_take(m.host, m.number, pos);
  if (i < 0) return -1;
  NodeBuf& b = cur->nodes[i];
  int16_t saved = uerr_cod;
  uerr_cod = 0;
  b.gen = ++node_generation;
  b.probes = 0;
  int32_t n = os_read(fd, pos, b.data, ns, host.name.c_str());
  ++cur->node_reads;
  if (n != ns) {
    int16_t e = uerr_cod ? uerr_cod : 36;
    cur->node_map.erase(cache_key(b.host, b.pos));
    b.host = b.owner = -1;
    uerr_cod = e;
    return -1;
  }
  uerr_cod = saved;
  NodeHeader nh;
  std::memcpy(&nh, b.data, 18);
  bool free_node = nh.left == -1 && nh.right != -1;
  if (nh.member != m.h.member_no && !free_node) {
    status_log_fmt(69, "%s", host.name.c_str());
    status_log_fmt(69, "f#=%d km=%d bm=%d node=%lxx numrec=%lxx", m.number, m.h.member_no, nh.member,
                   static_cast<unsigned long>(pos), static_cast<unsigned long>(host.h.logical_end));
    cur->node_map.erase(cache_key(b.host, b.pos));
    b.host = b.owner = -1;
    uerr_cod = 69;
    return -1;
  }
  return i;
}

// Decoded copies are kept only for nodes whose keys take at most this many bytes, which
// bounds the memory the copies hold to this much per buffer.
constexpr size_t kDecodedCap = 16384;
static bool keeps_decoded(const Geometry& g, const uint8_t* block) {
  NodeHeader nh;
  std::memcpy(&nh, block, 18);
  return static_cast<size_t>(nh.entries) * static_cast<size_t>(g.klen) <= kDecodedCap;
}

// Up to eight key bytes from `from` on, zero-padded, as a number that orders as they do.
static uint64_t word_after(const uint8_t* k, int from, int klen) {
  if (klen - from >= 8) {
    uint64_t v;
    std::memcpy(&v, k + from, 8);
    return __builtin_bswap64(v);
  }
  uint8_t w[8] = {};
  std::memcpy(w, k + from, static_cast<size_t>(std::min(8, klen - from)));
  uint64_t v;
  std::memcpy(&v, w, 8);
  return __builtin_bswap64(v);
}

// Whether a key is all 0xFF bytes: the top key of a tree's rightmost nodes.
static bool is_top_key(const uint8_t* k, int klen) {
  for (int j = 0; j < klen; ++j)
    if (k[j] != 0xFF) return false;
  return true;
}

// The first of n ascending numbers that is >= v. The halving moves by a select rather than
// a branch: which way it goes is as good as random, and a missed guess costs more than the
// few steps a branch could save.
static int first_word_not_less(const uint64_t* w, int n, uint64_t v) {
  if (n == 0) return 0;
  const uint64_t* base = w;
  for (int len = n; len > 1;) {
    const int half = len / 2;
    base = base[half] < v ? base + half : base;
    len -= half;
  }
  return static_cast<int>(base - w) + (*base < v ? 1 : 0);
}

// First entry of buffer b's decoded keys that is >= t: the shared bytes compared once, then
// halving over the numbers, and over the rest of the keys only among equal numbers.
template <class Holder>
static int lower_bound_decoded(const Geometry& g, Holder& b, const uint8_t* t) {
  const Image& d = b.dec;
  if (d.n == 0) return 0;
  KeyWords& kw = b.words;
  if (!kw.made) {
    kw.n = d.n > 1 && is_top_key(d.key(d.n - 1), g.klen) ? d.n - 1 : d.n;
    kw.shared = common_prefix(d.key(0), d.key(kw.n - 1), 0, g.klen);
    const size_t n = static_cast<size_t>(kw.n);
    kw.w.assign(n + (n + 1) / 2 + (static_cast<size_t>(kw.shared) + 7) / 8, 0);
    for (size_t i = 0; i < n; ++i) {
      kw.w[i] = word_after(d.key(static_cast<int>(i)), kw.shared, g.klen);
      const int32_t c = entry_pos(g, d, static_cast<int>(i));
      std::memcpy(reinterpret_cast<uint8_t*>(kw.w.data() + n) + 4 * i, &c, 4);
    }
    std::memcpy(const_cast<uint8_t*>(kw.prefix()), d.key(0), static_cast<size_t>(kw.shared));
    kw.made = true;
  }
  // Past every key halved over lies only the top key, if any, and no key sorts after it.
  const int n = kw.n, shared = kw.shared;
  const uint8_t* prefix = kw.prefix();
  const int at = common_prefix(prefix, t, 0, shared);
  if (at < shared) return prefix[at] < t[at] ? n : 0;
  if (shared == g.klen) return 0;
  const uint64_t tv = word_after(t, shared, g.klen);
  const uint64_t* w = kw.w.data();
  const int lo = first_word_not_less(w, n, tv);
  const int rest = shared + 8;
  if (rest >= g.klen || lo == n || w[lo] != tv) return lo;
  // Most often one key shares the number: an exact lookup's own key.
  if (lo + 1 == n || w[lo + 1] != tv) return lo + (key_less(d.key(lo) + rest, t + rest, g.klen - rest) ? 1 : 0);
  const int hi = static_cast<int>(std::upper_bound(w + lo, w + n, tv) - w);
  return lo + first_not_less(d.key(lo) + rest, static_cast<size_t>(g.klen), hi - lo, t + rest, g.klen - rest);
}

// Buffer i decoded as member m reads it; decoded again only after its bytes changed.
// nullptr for a damaged node (the error in e) or one too large to keep (e 0).
static const Image* decoded(Fcb& m, int i, int16_t& e) {
  NodeBuf& b = cur->nodes[i];
  e = 0;
  if (b.dec_gen == b.gen && b.dec_owner == m.number) return &b.dec;
  b.dec_gen = 0;
  const Geometry g = geometry_of(m);
  if (!keeps_decoded(g, b.data)) return nullptr;
  e = decode(g, b.data, b.dec);
  b.dec.pos = b.pos;
  if (e) return nullptr;
  b.dec_gen = b.gen;
  b.dec_owner = m.number;
  b.words.made = false;
  return &b.dec;
}

int16_t load(Fcb& m, int32_t pos, Image& im) {
  int i = node_get(m, pos);
  if (i < 0) return uerr_cod ? uerr_cod : kErrNodeDamaged;
  int16_t e = 0;
  const Image* d = decoded(m, i, e);
  if (!d) {
    if (e) return e;
    e = decode(geometry_of(m), cur->nodes[i].data, im);
  } else {
    im = *d;
  }
  im.pos = pos;
  return e;
}

static int lower_bound(const Geometry& g, const Image& im, const uint8_t* t);

namespace {
// The key an exact lookup seeks, with what every node it passes compares against.
struct Sought {
  const uint8_t* key;
  mutable int pads;  // where the pad run ending its key part starts; -1 until a walk needs it
  uint64_t value;  // keys of at most 8 bytes: the key as short_key reads keys
};
}  // namespace

// Decoded nodes are halved without it; only a walk in place over compressed entries asks.
static int sought_pads(const Geometry& g, const Sought& t) {
  if (t.pads < 0) t.pads = g.keypart - trailing_pads(g, t.key);
  return t.pads;
}

namespace {

// Where a target falls in one node: the first entry whose key is >= it.
struct Probe {
  bool leaf = false;
  int32_t right = 0, left = 0;
  int n = 0;
  const uint8_t* high = nullptr;  // leaves: the high key
  int idx = 0;                    // 0-based; n when every key is smaller
  const uint8_t* key = nullptr;   // key of entry idx
  int32_t child = 0;              // its child or record position
  uint8_t expanded[256];
};
}  // namespace

// Fixed-size entries are searched in place by halving. False when the node's counts do not
// fit its layout.
static bool probe_plain(const Geometry& g, const uint8_t* block, const Sought& t, Probe& pr) {
  NodeHeader nh;
  std::memcpy(&nh, block, 18);
  if (nh.leaf > 1) return false;
  pr.leaf = nh.leaf == 1;
  pr.right = nh.right;
  pr.left = nh.left;
  const bool ptr = has_ptr(g, pr.leaf);
  const int es = g.klen + (ptr ? 4 : 0);
  if (nh.entries > (pr.leaf ? g.leaf_max : g.nonleaf_max) || nh.bytes > (pr.leaf ? g.leaf_cap : g.nonleaf_cap) ||
      nh.bytes != nh.entries * es)
    return false;
  pr.n = nh.entries;
  const uint8_t* base = block + 18 + (ptr ? 4 : 0);
  if (pr.leaf) pr.high = block + 18 + g.leaf_cap;
  // Every key lies at least 18 bytes into the block.
  const int lo = g.klen <= 8 ? first_not_less_short(base, static_cast<size_t>(es), pr.n, t.value, g.klen)
                             : first_not_less(base, static_cast<size_t>(es), pr.n, t.key, g.klen);
  pr.idx = lo;
  if (lo < pr.n) {
    pr.key = base + static_cast<size_t>(lo) * es;
    if (ptr) std::memcpy(&pr.child, pr.key - 4, 4);
    else pr.child = static_cast<int32_t>(be32(pr.key + g.klen - 4));
  }
  return true;
}

// A node's decoded copy, with its halving words, searched for t.
template <class Holder>
static void probe_decoded(const Geometry& g, Holder& h, const uint8_t* t, Probe& pr) {
  const Image& d = h.dec;
  pr.leaf = d.leaf;
  pr.right = d.right;
  pr.left = d.left;
  pr.n = d.n;
  pr.high = d.high;
  pr.idx = lower_bound_decoded(g, h, t);
  if (pr.idx < pr.n) {
    pr.key = d.key(pr.idx);
    pr.child = pr.idx < h.words.n ? h.words.child(pr.idx) : entry_pos(g, d, pr.idx);
  }
}

// Compressed entries walked in place up to the entry sought.
static bool probe_walk(const Geometry& g, const uint8_t* block, const uint8_t* t, int t_pads, Probe& pr) {
  EntryWalk w(g, block);
  if (!w.ok()) return false;
  pr.leaf = w.leaf;
  pr.right = w.right;
  pr.left = w.left;
  pr.n = w.n;
  pr.high = w.high;
  const int r = w.seek(t, t_pads);
  if (r < 0) return false;
  pr.idx = r == 0 ? w.n : w.i - 1;
  if (r) {
    std::memcpy(pr.expanded, w.key, static_cast<size_t>(g.klen));
    pr.key = pr.expanded;
    pr.child = w.child;
  }
  return true;
}

// Compressed entries: a node searched only a few times before it leaves the buffers is
// cheaper to walk up to the entry sought; one searched more often is decoded once and
// then halved.
constexpr uint8_t kProbesBeforeDecoding = 4;
static bool probe_node(Fcb& m, const Geometry& g, int b, const Sought& t, Probe& pr) {
  NodeBuf& nb = cur->nodes[b];
  if (!g.lead && !g.trail) return probe_plain(g, nb.data, t, pr);
  const bool current = nb.dec_gen == nb.gen && nb.dec_owner == m.number;
  if (!current && (nb.probes < kProbesBeforeDecoding || !keeps_decoded(g, nb.data))) {
    ++nb.probes;
    return probe_walk(g, nb.data, t.key, sought_pads(g, t), pr);
  }
  int16_t e = 0;
  if (!current && !decoded(m, b, e)) return false;
  probe_decoded(g, nb, t.key, pr);
  return true;
}

// A mapped leaf's decoded copy: decoded at its second search, then halved like a buffered
// node's. False when the walk in place must do (damage, a node too large to keep).
constexpr size_t kMappedLeafSets = 512;
static MappedLeaf* mapped_set(const Fcb& m, int32_t pos) {
  Engine& e = *cur;
  if (e.mapped_leaves.empty()) {
    e.mapped_leaves.resize(2 * kMappedLeafSets);
    e.mapped_recent.assign(kMappedLeafSets, 0);
  }
  const uint64_t key = cache_key(m.host, pos);
  const size_t set = static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 40) & (kMappedLeafSets - 1);
  return &e.mapped_leaves[2 * set];
}

static bool probe_mapped(Fcb& m, const Geometry& g, int32_t pos, const uint8_t* block, const Sought& t, Probe& pr) {
  Engine& e = *cur;
  MappedLeaf* way = mapped_set(m, pos);
  const size_t set = static_cast<size_t>(way - e.mapped_leaves.data()) / 2;
  const uint64_t key = cache_key(m.host, pos);
  const uint64_t serial = os_change_serial();
  int w = way[0].key == key ? 0 : way[1].key == key ? 1 : -1;
  if (w < 0 || way[w].serial != serial || way[w].dec_owner != m.number) {
    if (w < 0) w = e.mapped_recent[set] ^ 1;
    MappedLeaf& l = way[w];
    l.key = key;
    l.serial = serial;
    l.dec_owner = m.number;
    l.decoded = false;
    e.mapped_recent[set] = static_cast<uint8_t>(w);
    return false;
  }
  e.mapped_recent[set] = static_cast<uint8_t>(w);
  MappedLeaf& l = way[w];
  if (!l.decoded) {
    if (!keeps_decoded(g, block) || decode(g, block, l.dec)) {
      l.key = ~uint64_t(0);
      return false;
    }
    l.dec.pos = pos;
    l.decoded = true;
    l.words.made = false;
  }
  probe_decoded(g, l, t.key, pr);
  return true;
}

// The leaf at pos from its mapped copy alone, when one was decoded with nothing changed
// since: the node was then in no buffer, and no store or write has happened after, so any
// buffer that read it since holds the same bytes. False when the full probe must do.
static bool probe_mapped_current(const Fcb& m, const Geometry& g, int32_t pos, const uint8_t* t, Probe& pr) {
  if (cur->mapped_leaves.empty()) return false;
  MappedLeaf* way = mapped_set(m, pos);
  const uint64_t key = cache_key(m.host, pos);
  MappedLeaf* l = way[0].key == key ? &way[0] : way[1].key == key ? &way[1] : nullptr;
  if (!l || !l->decoded || l->serial != os_change_serial() || l->dec_owner != m.number) return false;
  probe_decoded(g, *l, t, pr);
  return true;
}

// A leaf of an index file that no buffer holds, in place in the file's mapping (the file's
// bytes are then current), so that a lookup over many leaves neither copies them nor
// pushes other nodes out. nullptr when it is buffered, not mapped, not a live leaf of this
// member, or fails a check that node_get makes (node_get then reports it).
static const uint8_t* unbuffered_node(Fcb& m, const Geometry& g, int32_t pos) {
  Fcb& host = cur->files[m.host];
  if (host.h.file_type != OL_TYPE_INDEX || cur->node_map.find(cache_key(m.host, pos)) >= 0) return nullptr;
  const int32_t start = node_area_start(host);
  if (pos < start || g.ns <= 0 || pos % g.ns != 0 || static_cast<int64_t>(pos) + g.ns - 1 > host.h.logical_end)
    return nullptr;
  const int fd = fcb_fd(host);
  const uint8_t* block = fd < 0 ? nullptr : os_read_mapped(fd, pos, g.ns);
  if (!block) return nullptr;
  NodeHeader nh;
  std::memcpy(&nh, block, 18);
  // Leaves only: the few upper nodes every lookup passes stay buffered and decoded.
  if (nh.leaf != 1 || nh.member != m.h.member_no || nh.left == -1) return nullptr;
  ++cur->node_reads;
  return block;
}

// The lowest branch level of member m read left to right into f. False when the tree has
// fewer than three levels (one halving of the root already reaches a leaf), is damaged, or
// its level holds more keys than kFenceBytes.
constexpr size_t kFenceBytes = size_t(1) << 20;
static bool fence_make(Fcb& m, const Geometry& g, LeafFence& f) {
  const int32_t bound = node_bound(m);
  Image im, child;
  int32_t pos = m.h.root;
  for (int above = 0;; ++above) {
    if (above > Path::kMax || load(m, pos, im) || im.left == -1 || im.leaf || im.n == 0) return false;
    if (load(m, im.ptr[0], child) || child.left == -1) return false;
    if (child.leaf) {
      if (above == 0) return false;
      break;
    }
    pos = im.ptr[0];
  }
  Image& run = f.dec;
  run = Image{};
  run.klen = g.klen;
  const size_t kl = static_cast<size_t>(g.klen);
  for (int32_t steps = 0;; ++steps) {
    if (steps > bound || (static_cast<size_t>(run.n) + static_cast<size_t>(im.n)) * kl > kFenceBytes) return false;
    if (run.n > 0 && im.n > 0 && keycmp(im.key(0), run.key(run.n - 1), g.klen) <= 0) return false;
    run.keys.insert(run.keys.end(), im.keys.begin(), im.keys.begin() + static_cast<long>(im.n * kl));
    run.ptr.insert(run.ptr.end(), im.ptr.begin(), im.ptr.begin() + im.n);
    run.n += im.n;
    if (im.right == 0) break;
    if (load(m, im.right, im) || im.left == -1 || im.leaf) return false;
  }
  f.words.made = false;
  return run.n > 0;
}

// The leaf an exact lookup of t starts at, from member m's fence; 0 when it has none (yet).
constexpr uint32_t kLookupsBeforeFence = 64;
static int32_t fence_leaf(Fcb& m, const Geometry& g, const uint8_t* t) {
  Engine& e = *cur;
  const size_t at = static_cast<size_t>(m.number);
  if (at >= e.fences.size()) {
    if (at >= e.files.size()) return 0;
    e.fences.resize(e.files.size());
  }
  LeafFence& f = e.fences[at];
  if (f.serial != os_change_serial() || f.root != m.h.root) {
    f.serial = os_change_serial();
    f.root = m.h.root;
    f.usable = false;
    f.quiet = 0;
    return 0;
  }
  if (!f.usable) {
    if (f.quiet == UINT32_MAX || ++f.quiet < kLookupsBeforeFence) return 0;
    // A damaged node elsewhere in the level is this lookup's error only if its own path
    // meets it: the full search then reports it.
    const int16_t saved = uerr_cod;
    const bool made = fence_make(m, g, f);
    uerr_cod = saved;
    if (!made) {
      f.dec = Image{};
      f.quiet = UINT32_MAX;  // not again until something changes
      return 0;
    }
    // Reading the level may have written other buffers back: bytes moved, keys did not.
    f.serial = os_change_serial();
    f.usable = true;
  }
  const int i = lower_bound_decoded(g, f, t);
  return i < f.words.n ? f.words.child(i) : i < f.dec.n ? f.dec.ptr[static_cast<size_t>(i)] : 0;
}

// An exact lookup straight from the node buffers: no image is copied out, and a node is
// decoded no further than the search needs. -1 when the full search must decide (it
// walks the same nodes and reports what was found wrong); kExactFailed when a node could
// not be read, with the error set as the full search would set it.
constexpr int32_t kExactFailed = INT32_MIN;
static int32_t exact_from_buffers(Fcb& m, const Geometry& g, const uint8_t* t) {
  int32_t pos = m.h.root;
  if (pos == 0) return -1;
  if (const int32_t leaf = fence_leaf(m, g, t)) pos = leaf;
  Sought sought{t, g.lead || g.trail ? -1 : g.keypart, 0};
  if (g.klen <= 8)
    for (int j = 0; j < g.klen; ++j) sought.value = sought.value << 8 | t[j];
  // The bound on steps (a cycle of links) is needed only once a walk gets long.
  for (int32_t steps = 0, depth = 0; steps <= 12 || steps <= node_bound(m) + 12; ++steps) {
    Probe pr;
    const bool compressed = g.lead || g.trail;
    if (compressed && probe_mapped_current(m, g, pos, t, pr)) {
      // A leaf's current copy needs none of its bytes read.
    } else if (const uint8_t* block = unbuffered_node(m, g, pos)) {
      if (!(compressed ? probe_mapped(m, g, pos, block, sought, pr) || probe_walk(g, block, sought.key, sought_pads(g, sought), pr)
                       : probe_plain(g, block, sought, pr)) ||
          pr.left == -1)
        return -1;
    } else {
      int b = node_get(m, pos);
      if (b < 0) {
        if (!uerr_cod) uerr_cod = kErrNodeDamaged;
        return kExactFailed;
      }
      if (!probe_node(m, g, b, sought, pr) || pr.left == -1) return -1;
    }
    if (pr.leaf) {
      if (pr.right != 0 && key_less(pr.high, t, g.klen)) {
        pos = pr.right;
        continue;
      }
      if (pr.idx == pr.n) return 0;
      // The record is asked for while the key is compared; it is most often read next.
      if (m.lookup_data >= 0) record_hint(m.lookup_data, pr.child);
      if (std::memcmp(pr.key, t, static_cast<size_t>(g.klen)) != 0) return 0;
      cur->lookup_index = m.number;
      cur->lookup_pos = pr.child;
      m.cur_node = pos;
      m.cur_entry = pr.idx + 1;
      m.cur_key.assign(pr.key, pr.key + g.klen);
      m.has_cur = true;
      return pr.child;
    }
    if (pr.n == 0) return -1;
    if (pr.idx == pr.n) {
      if (pr.right == 0) return -1;
      pos = pr.right;
      continue;
    }
    if (++depth > Path::kMax) return -1;
    pos = pr.child;
  }
  return -1;
}

int16_t save(Fcb& m, const Image& im) {
  Fcb& host = cur->files[m.host];
  int i = cur->node_map.find(cache_key(m.host, im.pos));
  if (i < 0) i = node_take(m.host, m.number, im.pos);
  if (i < 0) return uerr_cod;
  NodeBuf& b = cur->nodes[i];
  b.owner = m.number;
  Geometry g = geometry_of(m);
  b.gen = ++node_generation;
  store(g, im, b.data);
  b.dirty = true;
  os_note_change();  // the tree changed, though the file may not have yet
  if (host.open_mode & OL_WRITETHROUGH) return node_writeback(b);
  return 0;
}

int16_t node_flush_file(int16_t host, bool drop) {
  int16_t first = 0;
  for (int i = 0; i < static_cast<int>(cur->nodes.size()); ++i) {
    NodeBuf& b = cur->nodes[i];
    if (b.host != host) continue;
    int16_t e = node_writeback(b);
    if (e && !first) first = e;
    if (drop) {
      cur->node_map.erase(cache_key(b.host, b.pos));
      b.host = b.owner = -1;
      b.dirty = false;
    }
  }
  return first;
}

void node_drop_file(int16_t host) {
  for (auto& b : cur->nodes)
    if (b.host == host) {
      cur->node_map.erase(cache_key(b.host, b.pos));
      b.host = b.owner = -1;
      b.dirty = false;
    }
}

// ---------------------------------------------------------------- node allocation

// Bytes a new node of a variable file skipped to start inside a block. They are free space,
// given to the space index once the insertion that made the node is complete (space_add).
struct Skipped {
  int16_t file;
  int32_t pos, total;
};
static std::vector<Skipped> skipped_pieces;

static int16_t node_new(Fcb& m, bool leaf, Image& im) {
  Fcb& host = cur->files[m.host];
  Geometry g = geometry_of(m);
  int32_t pos = 0;
  if (host.h.release_head != 0 && m.h.node_reuse != 1) {
    pos = host.h.release_head;
    Image fr;
    int16_t e = load(m, pos, fr);
    if (e) return e;
    if (fr.left != -1) {
      status_log_fmt(-199, "%s", host.name.c_str());
      status_log_fmt(-199, "KLNK_ERR: pos=%lxx predsr=%lxx", static_cast<unsigned long>(pos),
                     static_cast<unsigned long>(static_cast<uint32_t>(fr.left)));
      return 25;
    }
    if (fr.right != 0 && (fr.right < 0 || fr.right > host.h.logical_end)) return 25;
    host.h.release_head = fr.right;
    host.hdr_dirty = true;
  } else if (host.h.file_type == OL_TYPE_INDEX) {
    int16_t e = grow_file(m, g.ns, g.ns, &pos);
    if (e) return e;
  } else {
    // The system writes a file page by page and a kill can stop it between two, so a node
    // crossing a 4 KiB boundary can be left half old, half new. A new node starts inside
    // one block; the bytes skipped become a free piece. It reads free at once, so that a
    // kill before it is indexed leaves space a later release merges back, never a record
    // nothing points to.
    constexpr int64_t kBlock = 4096;
    const int64_t at = static_cast<int64_t>(host.h.logical_end) + 1 + 10;
    if (g.ns <= kBlock && at % kBlock + g.ns > kBlock) {
      int32_t gap = static_cast<int32_t>(kBlock - at % kBlock), skipped = 0;
      if (gap < 10) gap += static_cast<int32_t>(kBlock);
      int16_t e = grow_file(m, gap, 0, &skipped);
      if (e) return e;
      VHeader v{host.h.file_class == 2 ? kMarkFree2 : kMarkFree, gap, 0};
      e = page_write(host, skipped, &v, 10);
      if (e) return e;
      skipped_pieces.push_back({host.number, skipped, gap});
    }
    int32_t piece = 0;
    int16_t e = grow_file(m, g.ns + 10, 0, &piece);
    if (e) return e;
    VHeader v{kMarkNode, g.ns + 10, g.ns};
    e = page_write(host, piece, &v, 10);
    if (e) return e;
    pos = piece + 10;
  }
  im = Image{};
  im.klen = g.klen;
  im.pos = pos;
  im.leaf = leaf;
  im.member = g.member;
  im.right = im.left = 0;
  im.n = 0;
  std::memset(im.high, 0xFF, sizeof im.high);
  return 0;
}

static int16_t node_free(Fcb& m, Image& im) {
  Fcb& host = cur->files[m.host];
  im.right = host.h.release_head;
  im.left = -1;
  im.n = 0;
  im.ptr.clear();
  im.keys.clear();
  int16_t e = save(m, im);
  if (e) return e;
  host.h.release_head = im.pos;
  host.hdr_dirty = true;
  return 0;
}

// ---------------------------------------------------------------- searches

// First entry whose key is >= target. The bytes every key of the node shares (those its
// first and last keys share) are compared once; the halving compares only what follows.
static int lower_bound(const Geometry& g, const Image& im, const uint8_t* t) {
  // A top key is left out, as lower_bound_decoded leaves it out.
  const int n = im.n > 1 && is_top_key(im.key(im.n - 1), g.klen) ? im.n - 1 : im.n;
  if (n < 4) return first_not_less(im.keys.data(), static_cast<size_t>(g.klen), n, t, g.klen);
  const uint8_t* first = im.key(0);
  const int shared = common_prefix(first, im.key(n - 1), 0, g.klen);
  const int at = common_prefix(first, t, 0, shared);
  if (at < shared) return first[at] < t[at] ? n : 0;
  if (shared == g.klen) return 0;
  return first_not_less(im.keys.data() + shared, static_cast<size_t>(g.klen), n, t + shared, g.klen - shared);
}

int16_t descend(Fcb& m, const uint8_t* t, Path& path, Image& leaf) {
  Geometry g = geometry_of(m);
  path.depth = 0;
  int32_t pos = m.h.root;
  if (pos == 0) return kErrLostRoot;
  int32_t bound = node_bound(m);
  Image im;
  for (int32_t steps = 0;; ++steps) {
    if (steps > bound + 12) return kErrNodeDamaged;  // a cycle of links
    int16_t e = load(m, pos, im);
    if (e) return e;
    if (im.left == -1) return path.depth ? kErrLostChild : kErrLostRoot;
    if (im.leaf) {
      if (keycmp(t, im.high, g.klen) > 0 && im.right != 0) {
        pos = im.right;
        continue;
      }
      leaf = std::move(im);
      return 0;
    }
    if (im.n == 0) return kErrNodeDamaged;
    int i = lower_bound(g, im, t);
    if (i == im.n) {
      if (im.right == 0) return kErrNodeDamaged;
      pos = im.right;
      continue;
    }
    if (path.depth >= Path::kMax) return kErrTooDeep;
    path.lv[path.depth++] = {pos, i};
    pos = im.ptr[i];
  }
}

static void set_current(Fcb& m, const Geometry& g, const Image& leaf, int i) {
  m.cur_node = leaf.pos;
  m.cur_entry = i + 1;
  m.cur_key.assign(leaf.key(i), leaf.key(i) + g.klen);
  m.has_cur = true;
}

// Moves to the first entry of the next non-empty leaf; false at the end.
static int16_t step_right(Fcb& m, Image& leaf, int& i, bool& found) {
  int32_t bound = node_bound(m);
  found = false;
  for (int32_t steps = 0; i >= leaf.n; ++steps) {
    if (leaf.right == 0) return 0;
    if (steps > bound) return kErrNodeDamaged;
    int16_t e = load(m, leaf.right, leaf);
    if (e) return e;
    if (leaf.left == -1 || !leaf.leaf) return kErrNodeDamaged;
    i = 0;
  }
  found = true;
  return 0;
}

static int16_t step_left(Fcb& m, Image& leaf, int& i, bool& found) {
  int32_t bound = node_bound(m);
  found = false;
  for (int32_t steps = 0; i < 0; ++steps) {
    if (leaf.left == 0) return 0;
    if (steps > bound) return kErrNodeDamaged;
    int32_t me = leaf.pos;
    int16_t e = load(m, leaf.left, leaf);
    if (e) return e;
    if (!leaf.leaf || leaf.left == -1) return kErrNodeDamaged;
    if (leaf.right != me) return 34;
    i = leaf.n - 1;
  }
  found = true;
  return 0;
}

Fcb* index_member(int16_t file, bool allow_variable) {
  Fcb* f = open_file(file);
  if (!f) return nullptr;
  bool ok = f->h.file_type == OL_TYPE_INDEX || (allow_variable && f->h.file_type == OL_TYPE_VARIABLE);
  if (!ok || (f->h.file_type == OL_TYPE_INDEX && f->host != f->number && !f->defined_member)) {
    uerr_cod = 48;
    return nullptr;
  }
  return f;
}

// kind: 0 exact, 1 >=, 2 >, 3 <=, 4 <
int32_t search(Fcb& m, const uint8_t* t, int kind, uint8_t* key_out) {
  Geometry g = geometry_of(m);
  if (m.h.root == 0) return 0;
  if (kind == 0 && !key_out) {
    const int32_t found = exact_from_buffers(m, g, t);
    if (found == kExactFailed) return 0;
    if (found >= 0) return found;
  }
  Path path;
  Image leaf;
  int16_t e = descend(m, t, path, leaf);
  if (e) {
    uerr_cod = e;
    return 0;
  }
  int i = lower_bound(g, leaf, t);
  bool eq = i < leaf.n && keycmp(leaf.key(i), t, g.klen) == 0;
  bool found = true;
  switch (kind) {
    case 0:
      if (!eq) return 0;
      break;
    case 2:
      if (eq) ++i;
      [[fallthrough]];
    case 1:
      e = step_right(m, leaf, i, found);
      break;
    case 3:
      if (!eq) --i;
      e = step_left(m, leaf, i, found);
      break;
    case 4:
      --i;
      e = step_left(m, leaf, i, found);
      break;
  }
  if (e) {
    uerr_cod = e;
    return 0;
  }
  if (!found) return 0;
  set_current(m, g, leaf, i);
  if (key_out) std::memcpy(key_out, leaf.key(i), static_cast<size_t>(g.klen));
  return entry_pos(g, leaf, i);
}

// Leftmost (first) or rightmost (last) entry.
static int32_t edge(Fcb& m, bool last, uint8_t* key_out) {
  Geometry g = geometry_of(m);
  if (m.h.root == 0) return 0;
  int32_t pos = m.h.root;
  int32_t bound = node_bound(m);
  Image im;
  for (int32_t steps = 0;; ++steps) {
    if (steps > bound + 12) {
      uerr_cod = kErrNodeDamaged;
      return 0;
    }
    int16_t e = load(m, pos, im);
    if (e || im.left == -1) {
      uerr_cod = e ? e : kErrLostChild;
      return 0;
    }
    if (im.leaf) break;
    if (last && im.right != 0) {
      pos = im.right;
      continue;
    }
    if (im.n == 0) {
      uerr_cod = kErrNodeDamaged;
      return 0;
    }
    pos = last ? im.ptr[im.n - 1] : im.ptr[0];
  }
  if (last) {
    // The tree's rightmost leaf may have right siblings only after a damaged split.
    for (int32_t steps = 0; im.right != 0; ++steps) {
      if (steps > bound) {
        uerr_cod = kErrNodeDamaged;
        return 0;
      }
      int16_t e = load(m, im.right, im);
      if (e) {
        uerr_cod = e;
        return 0;
      }
    }
  }
  int i = last ? im.n - 1 : 0;
  bool found = false;
  int16_t e = last ? step_left(m, im, i, found) : step_right(m, im, i, found);
  if (e) {
    uerr_cod = e;
    return 0;
  }
  if (!found) return 0;
  set_current(m, g, im, i);
  if (key_out) std::memcpy(key_out, im.key(i), static_cast<size_t>(g.klen));
  return entry_pos(g, im, i);
}

// A step has landed on entry `to` of leaf im: the records of the two entries after it in
// the walk's direction are asked for from the data file the walk reads them from.
static void walk_hint(const Fcb& m, const Geometry& g, const Image& im, int to, bool forward) {
  if (m.walk_data < 0) return;
  const int step = forward ? 1 : -1;
  auto ahead = [&](int at) { return at >= 0 && at < im.n ? entry_pos(g, im, at) : 0; };
  vdata_hint(m.walk_data, ahead(to + step), ahead(to + 2 * step));
}

static int32_t neighbour(Fcb& m, bool forward, uint8_t* key_out) {
  Geometry g = geometry_of(m);
  if (!m.has_cur || m.cur_node == 0) return 0;
  {
    // The common step, within the current leaf: from its buffer's decoded copy.
    int16_t e = 0;
    const int b = node_get(m, m.cur_node);
    const Image* memo = b < 0 ? nullptr : decoded(m, b, e);
    const int i = m.cur_entry - 1, to = forward ? i + 1 : i - 1;
    const size_t kl = static_cast<size_t>(g.klen);
    if (memo && memo->left != -1 && memo->leaf && i >= 0 && i < memo->n && to >= 0 && to < memo->n &&
        std::memcmp(memo->key(i), m.cur_key.data(), kl) == 0 &&
        (forward ? std::memcmp(memo->key(to), m.cur_key.data(), kl) > 0
                 : std::memcmp(memo->key(to), m.cur_key.data(), kl) < 0)) {
      set_current(m, g, *memo, to);
      if (key_out) std::memcpy(key_out, memo->key(to), static_cast<size_t>(g.klen));
      walk_hint(m, g, *memo, to, forward);
      return entry_pos(g, *memo, to);
    }
    // The step past the leaf's end: into the neighbouring leaf's decoded copy, when it has one.
    if (memo && memo->left != -1 && memo->leaf && i >= 0 && i < memo->n && (to < 0 || to >= memo->n) &&
        std::memcmp(memo->key(i), m.cur_key.data(), kl) == 0) {
      const int32_t next = forward ? memo->right : memo->left;
      const int nb = next > 0 ? node_get(m, next) : -1;
      const Image* side = nb < 0 ? nullptr : decoded(m, nb, e);
      const int at = side ? (forward ? 0 : side->n - 1) : -1;
      if (side && side->left != -1 && side->leaf && side->n > 0 &&
          (forward ? std::memcmp(side->key(at), m.cur_key.data(), kl) > 0
                   : std::memcmp(side->key(at), m.cur_key.data(), kl) < 0)) {
        set_current(m, g, *side, at);
        if (key_out) std::memcpy(key_out, side->key(at), kl);
        walk_hint(m, g, *side, at, forward);
        return entry_pos(g, *side, at);
      }
    }
    uerr_cod = 0;
  }
  Image leaf;
  int16_t e = load(m, m.cur_node, leaf);
  int i = m.cur_entry - 1;
  bool still = !e && leaf.left != -1 && leaf.leaf && i >= 0 && i < leaf.n &&
               keycmp(leaf.key(i), m.cur_key.data(), g.klen) == 0;
  if (!still) {
    std::vector<uint8_t> k = m.cur_key;
    uerr_cod = 0;
    return search(m, k.data(), forward ? 2 : 4, key_out);
  }
  i += forward ? 1 : -1;
  bool found = false;
  e = forward ? step_right(m, leaf, i, found) : step_left(m, leaf, i, found);
  if (e) {
    uerr_cod = e;
    return 0;
  }
  if (!found) return 0;
  // Keys must move on in order: a walk over damaged links that comes back around is
  // stopped here instead of running forever.
  int c = keycmp(leaf.key(i), m.cur_key.data(), g.klen);
  if (forward ? c <= 0 : c >= 0) {
    uerr_cod = kErrNodeDamaged;
    return 0;
  }
  set_current(m, g, leaf, i);
  if (key_out) std::memcpy(key_out, leaf.key(i), static_cast<size_t>(g.klen));
  walk_hint(m, g, leaf, i, forward);
  return entry_pos(g, leaf, i);
}

// ---------------------------------------------------------------- insertion

static int choose_split(const Geometry& g, const Image& im, int mode) {
  int n = im.n;
  int k = mode == 0 ? (n + 1) / 2 : mode == 1 ? n * 6 / 7 : n / 7 + 1;
  int cap = im.leaf ? g.leaf_cap : g.nonleaf_cap;
  if (g.lead) {
    int ncomp = (g.lead ? 1 : 0) + (g.trail ? 1 : 0);
    int s = g.klen + ncomp + (has_ptr(g, im.leaf) ? 4 : 0);
    auto b = [&](int kk) { return encode(g, im, 0, kk, nullptr); };
    if (b(k) > cap) {
      int found = n - 1;
      for (int kk = 1; kk <= n; ++kk)
        if (b(kk) >= cap - s) {
          found = kk;
          break;
        }
      k = found;
    } else if (k < n - 1 && b(k) < 2 * s - ncomp - 4) {
      int target = 2 * s - ncomp - 4;
      while (k < n - 1 && b(k) < target) {
        if (b(k + 1) > cap) break;
        ++k;
      }
    }
  }
  k = std::clamp(k, 1, n - 1);
  int maxn = im.leaf ? g.leaf_max : g.nonleaf_max;
  auto left_fits = [&](int kk) { return kk <= maxn && encode(g, im, 0, kk, nullptr) <= cap; };
  auto right_fits = [&](int kk) { return n - kk <= maxn && encode(g, im, kk, n, nullptr) <= cap; };
  while (k > 1 && !left_fits(k)) --k;
  while (k < n - 1 && !right_fits(k)) ++k;
  if (!left_fits(k) || !right_fits(k)) return -1;
  return k;
}

static void sub_image(const Geometry& g, const Image& src, int from, int to, Image& dst) {
  dst.n = to - from;
  dst.ptr.assign(src.ptr.begin() + from, src.ptr.begin() + to);
  dst.keys.assign(src.keys.begin() + static_cast<long>(from) * g.klen, src.keys.begin() + static_cast<long>(to) * g.klen);
}

// Splits an overflowing node; the separator is the last key kept in the old node.
static int16_t split(Fcb& m, Image& old, int mode, std::vector<uint8_t>& sep, int32_t& new_pos) {
  Geometry g = geometry_of(m);
  int k = choose_split(g, old, mode & 0x3F);
  if (k < 0) return kErrNodeDamaged;
  Image nw;
  int16_t e = node_new(m, old.leaf, nw);
  if (e) return e;
  Image all = old;
  sub_image(g, all, k, all.n, nw);
  sub_image(g, all, 0, k, old);
  nw.right = old.right;
  if (old.leaf) {
    std::memcpy(nw.high, old.high, static_cast<size_t>(g.klen));
    nw.left = old.pos;
    std::memcpy(old.high, old.key(k - 1), static_cast<size_t>(g.klen));
  }
  old.right = nw.pos;
  sep.assign(old.key(k - 1), old.key(k - 1) + g.klen);
  new_pos = nw.pos;
  // New node first, then the old one, then the back link: a crash in between leaves every
  // committed key reachable through the right links.
  e = save(m, nw);
  if (!e) e = save(m, old);
  if (!e && old.leaf && nw.right != 0) {
    Image r;
    e = load(m, nw.right, r);
    if (!e) {
      r.left = nw.pos;
      e = save(m, r);
    }
  }
  return e;
}

// Finds the entry pointing at child in the node at pos, moving right along the level.
static int16_t find_child(Fcb& m, int32_t pos, int32_t child, Image& p, int& j) {
  int32_t bound = node_bound(m);
  for (int32_t steps = 0; pos != 0; ++steps) {
    if (steps > bound) return kErrNodeDamaged;
    int16_t e = load(m, pos, p);
    if (e) return e;
    if (p.leaf || p.left == -1) return kErrNodeDamaged;
    for (j = 0; j < p.n; ++j)
      if (p.ptr[j] == child) return 0;
    pos = p.right;
  }
  return kErrInsertLost;
}

// A leaf that a crash left between its split and the parent's update is reachable only
// through its left neighbour's right link, and its parent entry is missing. Finds the entry
// for child and, for such a leaf, first completes the interrupted split in the parent's
// image: the neighbour's entry (whose key covers both) becomes (neighbour's high key,
// neighbour) followed by (old key, child). The caller saves p.
static int16_t find_or_adopt(Fcb& m, int32_t parent, int32_t child, Image& p, int& j, int depth = 0) {
  int16_t e = find_child(m, parent, child, p, j);
  if (e != kErrInsertLost || depth > 8) return e;
  Image c;
  e = load(m, child, c);
  if (e) return e;
  if (!c.leaf || c.left <= 0) return kErrInsertLost;
  Image left;
  e = load(m, c.left, left);
  if (e) return e;
  if (!left.leaf || left.right != c.pos) return kErrInsertLost;
  e = find_or_adopt(m, parent, left.pos, p, j, depth + 1);
  if (e) return e;
  Geometry g = geometry_of(m);
  p.ptr[j] = c.pos;
  p.insert(j, left.pos, left.high, g.klen);
  ++j;
  return 0;
}

static int16_t new_root(Fcb& m) {
  Geometry g = geometry_of(m);
  Image top;
  int32_t bound = node_bound(m);
  Image r;
  int16_t e = node_new(m, false, r);
  if (e) return e;
  std::vector<uint8_t> ff(static_cast<size_t>(g.klen), 0xFF);
  int32_t pos = m.h.root;
  for (int32_t steps = 0; pos != 0; ++steps) {
    if (steps > bound) return kErrNodeDamaged;
    e = load(m, pos, top);
    if (e) return e;
    const uint8_t* k = top.right == 0 ? ff.data() : (top.leaf ? top.high : top.key(top.n - 1));
    if (!top.leaf && top.n == 0) return kErrNodeDamaged;
    r.insert(r.n, pos, k, g.klen);
    pos = top.right;
  }
  if (!fits(g, r)) return kErrNodeDamaged;
  e = save(m, r);
  if (e) return e;
  m.h.root = r.pos;
  m.hdr_dirty = true;
  return 0;
}

int16_t add_key(Fcb& m, const uint8_t* key, int32_t position, int16_t split_mode) {
  Geometry g = geometry_of(m);
  if (position == 0) return 28;
  if (cur->files[m.host].open_mode & OL_READONLY) return 54;
  uint8_t w[256];
  std::memcpy(w, key, static_cast<size_t>(g.klen));
  if (g.dup) put_be32(w + g.klen - 4, static_cast<uint32_t>(position));
  int16_t e = mark_changed(m);
  if (e) return e;
  if (m.h.root == 0) {
    Image leaf;
    e = node_new(m, true, leaf);
    if (e) return e;
    leaf.insert(0, position, w, g.klen);
    e = save(m, leaf);
    if (e) return e;
    m.h.root = leaf.pos;
    m.h.first_leaf = leaf.pos;
    ++m.h.count;
    m.hdr_dirty = true;
    return finish_change(m);
  }
  Path path;
  Image leaf;
  e = descend(m, w, path, leaf);
  if (e) return e;
  int i = lower_bound(g, leaf, w);
  if (i < leaf.n && keycmp(leaf.key(i), w, g.klen) == 0) {
    if (!g.dup && (split_mode & 0x40)) {
      leaf.ptr[i] = position;
      e = save(m, leaf);
      return e ? e : finish_change(m);
    }
    return 2;
  }
  leaf.insert(i, position, w, g.klen);
  Image node = std::move(leaf);
  int level = path.depth;
  bool done = false;
  while (!done && !fits(g, node)) {
    std::vector<uint8_t> sep;
    int32_t nw = 0;
    e = split(m, node, split_mode, sep, nw);
    if (e) return e;
    if (level == 0) {
      e = new_root(m);
      if (e) return e;
      done = true;
      break;
    }
    --level;
    Image p;
    int j = 0;
    e = find_or_adopt(m, path.lv[level].pos, node.pos, p, j);
    if (e) return e;
    p.ptr[j] = nw;
    p.insert(j, node.pos, sep.data(), g.klen);
    node = std::move(p);
  }
  if (!done) {
    e = save(m, node);
    if (e) return e;
  }
  ++m.h.count;
  m.hdr_dirty = true;
  return finish_change(m);
}

// ---------------------------------------------------------------- deletion

// Leftmost node at a depth below the root.
static int16_t leftmost_at(Fcb& m, int depth, int32_t& pos) {
  pos = m.h.root;
  Image im;
  for (int d = 0; d < depth; ++d) {
    int16_t e = load(m, pos, im);
    if (e) return e;
    if (im.leaf || im.n == 0) return kErrDeleteLost;
    pos = im.ptr[0];
  }
  return 0;
}

// Lowers the key held for a node in its parent after its last entry changed.
static void lower_parent_key(Fcb& m, const Path& path, int level, int32_t child, const uint8_t* key) {
  Geometry g = geometry_of(m);
  while (level >= 0) {
    Image p;
    int j = 0;
    if (find_child(m, path.lv[level].pos, child, p, j)) return;
    if (p.right == 0 && j == p.n - 1) return;  // the level's last key stays all 0xFF
    std::vector<uint8_t> old(p.key(j), p.key(j) + g.klen);
    std::memcpy(p.key(j), key, static_cast<size_t>(g.klen));
    if (!fits(g, p)) return;
    if (save(m, p)) return;
    if (j != p.n - 1) return;
    child = p.pos;
    --level;
  }
}

static int16_t remove_child(Fcb& m, const Path& path, int level, int32_t child) {
  Geometry g = geometry_of(m);
  if (level < 0) return kErrDeleteLost;
  Image p;
  int j = 0;
  int16_t e = find_child(m, path.lv[level].pos, child, p, j);
  if (e) return e == kErrInsertLost ? kErrDeleteLost : e;
  bool was_last = j == p.n - 1;
  p.erase(j, g.klen);
  if (p.n > 0) {
    e = save(m, p);
    if (e) return e;
    if (was_last && level > 0) {
      std::vector<uint8_t> k(p.key(p.n - 1), p.key(p.n - 1) + g.klen);
      lower_parent_key(m, path, level - 1, p.pos, k.data());
    }
    return 0;
  }
  if (level == 0 || p.right == 0) return kErrDeleteLost;  // the root and the rightmost never empty
  // Left neighbour on this level: walk the level from its leftmost node.
  int32_t lpos = 0;
  e = leftmost_at(m, level, lpos);
  if (e) return e;
  if (lpos == p.pos) return kErrDeleteLost;  // the leftmost never empties
  int32_t bound = node_bound(m);
  Image ln;
  for (int32_t steps = 0;; ++steps) {
    if (steps > bound || lpos == 0) return kErrDeleteLost;
    e = load(m, lpos, ln);
    if (e) return e;
    if (ln.right == p.pos) break;
    lpos = ln.right;
  }
  ln.right = p.right;
  e = save(m, ln);
  if (!e) e = remove_child(m, path, level - 1, p.pos);
  if (!e) e = node_free(m, p);
  return e;
}

static int16_t collapse_root(Fcb& m) {
  for (int guard = 0; guard < Path::kMax; ++guard) {
    Image r;
    int16_t e = load(m, m.h.root, r);
    if (e) return e;
    if (r.leaf || r.n != 1 || r.right != 0) return 0;
    m.h.root = r.ptr[0];
    m.hdr_dirty = true;
    e = node_free(m, r);
    if (e) return e;
  }
  return 0;
}

int16_t delete_key(Fcb& m, const uint8_t* key, int32_t position, bool any_position, int32_t* removed) {
  Geometry g = geometry_of(m);
  if (cur->files[m.host].open_mode & OL_READONLY) return 54;
  uint8_t w[256];
  std::memcpy(w, key, static_cast<size_t>(g.klen));
  if (g.dup) put_be32(w + g.klen - 4, static_cast<uint32_t>(position));
  if (m.h.root == 0) return 4;
  int16_t e = mark_changed(m);
  if (e) return e;
  Path path;
  Image leaf;
  e = descend(m, w, path, leaf);
  if (e) return e;
  int i = lower_bound(g, leaf, w);
  bool eq = i < leaf.n && keycmp(leaf.key(i), w, g.klen) == 0;
  if (!eq) {
    if (g.dup) {
      // Is the key value there under another position? Its entries may sit in other leaves.
      uint8_t t[256], found[256];
      std::memcpy(t, w, static_cast<size_t>(g.klen));
      std::memset(t + g.keypart, 0, 4);
      int32_t cn = m.cur_node, ce = m.cur_entry;
      std::vector<uint8_t> ck = m.cur_key;
      bool had = m.has_cur;
      int16_t saved = uerr_cod;
      int32_t p = search(m, t, 1, found);
      int16_t se = uerr_cod;
      uerr_cod = saved;
      m.cur_node = cn, m.cur_entry = ce, m.cur_key = ck, m.has_cur = had;
      if (se) return se;
      return p && keycmp(found, w, g.keypart) == 0 ? 3 : 4;
    }
    return 4;
  }
  if (!g.dup && !any_position && leaf.ptr[i] != position) return 3;
  if (removed) *removed = entry_pos(g, leaf, i);
  leaf.erase(i, g.klen);
  bool keep = leaf.n > 0 || m.h.node_reuse == 1 || leaf.left == 0 || leaf.right == 0 || leaf.pos == m.h.first_leaf;
  if (!keep && (g.lead || g.trail)) {
    // Changing keys in a compressed parent can need room; keep the leaf if any lacks it.
    for (int l = 0; l < path.depth && !keep; ++l) {
      Image p;
      if (load(m, path.lv[l].pos, p)) return kErrDeleteLost;
      int ncomp = (g.lead ? 1 : 0) + (g.trail ? 1 : 0);
      if (encode(g, p, 0, p.n, nullptr) + g.klen + ncomp + 4 > g.nonleaf_cap) keep = true;
    }
  }
  if (keep) {
    e = save(m, leaf);
    if (e) return e;
  } else {
    Image l, r;
    e = load(m, leaf.left, l);
    if (!e && (l.right != leaf.pos || !l.leaf)) e = 34;
    if (!e) e = load(m, leaf.right, r);
    if (!e && (r.left != leaf.pos || !r.leaf)) e = 34;
    if (e) return e;
    l.right = leaf.right;
    r.left = leaf.left;
    e = save(m, l);
    if (!e) e = save(m, r);
    if (!e) e = remove_child(m, path, path.depth - 1, leaf.pos);
    if (!e) e = node_free(m, leaf);
    if (!e) e = collapse_root(m);
    if (e) return e;
  }
  --m.h.count;
  m.hdr_dirty = true;
  return finish_change(m);
}

// ---------------------------------------------------------------- space index

static void space_key(const Fcb& f, int32_t total, int32_t pos, uint8_t* k) {
  put_be32(k, static_cast<uint32_t>(f.h.file_id));
  put_be32(k + 4, static_cast<uint32_t>(total));
  put_be32(k + 8, static_cast<uint32_t>(pos));
}

int16_t space_add(Fcb& f, int32_t total, int32_t pos) {
  uint8_t k[12];
  space_key(f, total, pos, k);
  const size_t outer = skipped_pieces.size();
  int16_t e = add_key(f, k, pos, 0);
  // The pieces the new nodes of this insertion skipped, now that the tree is whole again;
  // indexing them can make nodes, and pieces, of its own.
  while (!e && skipped_pieces.size() > outer) {
    const Skipped s = skipped_pieces.back();
    skipped_pieces.pop_back();
    if (s.file == f.number) e = space_add(f, s.total, s.pos);
  }
  // On failure they stay free and unindexed, as after a kill.
  skipped_pieces.resize(std::min(skipped_pieces.size(), outer));
  return e;
}

int16_t space_remove(Fcb& f, int32_t total, int32_t pos) {
  uint8_t k[12];
  space_key(f, total, pos, k);
  return delete_key(f, k, pos, false, nullptr);
}

int32_t space_find(Fcb& f, int32_t need, int32_t* total_out) {
  uint8_t k[12], out[12];
  space_key(f, need, 0, k);
  int32_t pos = search(f, k, 1, out);
  if (!pos) return 0;
  if (be32(out) != static_cast<uint32_t>(f.h.file_id)) return 0;
  *total_out = static_cast<int32_t>(be32(out + 4));
  return static_cast<int32_t>(be32(out + 8));
}

}  // namespace ol

using namespace ol;

// ---------------------------------------------------------------- public interface

int32_t GetKey(int16_t file, const void* target) {
  uerr_cod = 0;
  Fcb* m = index_member(file, false);
  if (!m) return 0;
  if (!target) {
    uerr_cod = 33;
    return 0;
  }
  return search(*m, static_cast<const uint8_t*>(target), 0, nullptr);
}

static int32_t derived(int16_t file, const void* target, void* key_out, int kind) {
  uerr_cod = 0;
  Fcb* m = index_member(file, true);
  if (!m) return 0;
  if (!target) {
    uerr_cod = 33;
    return 0;
  }
  return search(*m, static_cast<const uint8_t*>(target), kind, static_cast<uint8_t*>(key_out));
}

int32_t GetKeyAtLeast(int16_t file, const void* target, void* key_out) { return derived(file, target, key_out, 1); }
int32_t GetKeyAfter(int16_t file, const void* target, void* key_out) { return derived(file, target, key_out, 2); }
int32_t GetKeyAtMost(int16_t file, const void* target, void* key_out) { return derived(file, target, key_out, 3); }
int32_t GetKeyBefore(int16_t file, const void* target, void* key_out) { return derived(file, target, key_out, 4); }

// A position a step handed out, noted so that the data file it is read from can be known.
static int32_t stepped(const Fcb& m, int32_t pos) {
  cur->walk_index = m.number;
  cur->walk_pos = pos;
  return pos;
}

int32_t FirstKey(int16_t file, void* key_out) {
  uerr_cod = 0;
  Fcb* m = index_member(file, true);
  return m ? stepped(*m, edge(*m, false, static_cast<uint8_t*>(key_out))) : 0;
}

int32_t LastKey(int16_t file, void* key_out) {
  uerr_cod = 0;
  Fcb* m = index_member(file, true);
  return m ? stepped(*m, edge(*m, true, static_cast<uint8_t*>(key_out))) : 0;
}

int32_t NextKey(int16_t file, void* key_out) {
  uerr_cod = 0;
  Fcb* m = index_member(file, true);
  return m ? stepped(*m, neighbour(*m, true, static_cast<uint8_t*>(key_out))) : 0;
}

int32_t PreviousKey(int16_t file, void* key_out) {
  uerr_cod = 0;
  Fcb* m = index_member(file, true);
  return m ? stepped(*m, neighbour(*m, false, static_cast<uint8_t*>(key_out))) : 0;
}

int16_t CurrentKey(int16_t file, void* key_out) {
  uerr_cod = 0;
  Fcb* m = index_member(file, true);
  if (!m) return uerr_cod;
  if (!key_out) return fail(33);
  if (m->has_cur) std::memcpy(key_out, m->cur_key.data(), m->cur_key.size());
  else std::memset(key_out, 0, static_cast<size_t>(m->h.key_len));
  return 0;
}

int16_t AddKey(int16_t file, const void* key, int32_t position, int16_t split_mode) {
  uerr_cod = 0;
  Fcb* m = index_member(file, false);
  if (!m) return uerr_cod;
  if (!key) return fail(33);
  int16_t e = add_key(*m, static_cast<const uint8_t*>(key), position, split_mode);
  return e ? fail(e) : 0;
}

int16_t DeleteKey(int16_t file, const void* key, int32_t position) {
  uerr_cod = 0;
  Fcb* m = index_member(file, false);
  if (!m) return uerr_cod;
  if (!key) return fail(33);
  int16_t e = delete_key(*m, static_cast<const uint8_t*>(key), position, false, nullptr);
  return e ? fail(e) : 0;
}

int32_t DeleteUniqueKey(int16_t file, const void* key) {
  uerr_cod = 0;
  Fcb* m = index_member(file, false);
  if (!m) return 0;
  if (!key) {
    uerr_cod = 33;
    return 0;
  }
  if (m->h.dup_flag) {
    uerr_cod = 5;
    return 0;
  }
  int32_t removed = 0;
  int16_t e = delete_key(*m, static_cast<const uint8_t*>(key), 0, true, &removed);
  if (e) {
    uerr_cod = e;
    return 0;
  }
  return removed;
}

int16_t ResetIndex(int16_t file) {
  uerr_cod = 0;
  Fcb* m = index_member(file, true);
  if (!m) return uerr_cod;
  if (m->h.root != 0) {
    if (int16_t e = mark_changed(*m)) return e;
    // Its nodes go to the file's free chain, read through the buffers so that changes not
    // yet written count; the nodes of the file's other members are not touched. A node that
    // cannot be read is passed over, and what lies below it stays where it is.
    std::vector<int32_t> todo{m->h.root};
    std::set<int32_t> seen;
    const size_t bound = static_cast<size_t>(node_bound(*m));
    while (!todo.empty() && seen.size() <= bound) {
      const int32_t pos = todo.back();
      todo.pop_back();
      if (!seen.insert(pos).second) continue;
      Image im;
      if (load(*m, pos, im) || im.left == -1) continue;
      if (!im.leaf) todo.insert(todo.end(), im.ptr.begin(), im.ptr.begin() + im.n);
      if (int16_t e = node_free(*m, im)) return fail(e);
    }
    uerr_cod = 0;
  }
  m->h.root = 0;
  m->h.count = 0;
  m->h.first_leaf = 0;
  m->has_cur = false;
  return finish_change(*m);
}

int32_t ExportIndexKeys(int16_t member, const char* index_name, const char* out_name) {
  uerr_cod = 0;
  if (!cur || !cur->started) {
    uerr_cod = 47;
    return 0;
  }
  if (!index_name || !*index_name || !out_name || !*out_name) {
    uerr_cod = 130;
    return 0;
  }
  if (member < 0 || member > 31) {
    uerr_cod = 23;
    return 0;
  }
  int16_t n = AvailableFileNbr(32);
  if (n < 0) n = AvailableFileNbr(static_cast<int16_t>(member + 1));
  if (n < 0) return 0;
  if (OpenOlFile(n, index_name, OL_READONLY)) return 0;
  Fcb& host = cur->files[n];
  int16_t e = 0;
  if (host.h.file_type != OL_TYPE_INDEX) e = 48;
  else if (member > host.h.members || (member > 0 && !cur->files[n + member].defined_member)) e = 23;
  int32_t count = 0;
  if (!e) {
    budget_handles(-1);
    int fd = os_create(out_name);
    if (fd < 0) {
      e = 96;
    } else {
      Fcb& m = cur->files[n + member];
      Geometry g = geometry_of(m);
      std::vector<uint8_t> k(static_cast<size_t>(g.klen));
      int32_t at = 0;
      for (int32_t p = edge(m, false, k.data()); p; p = neighbour(m, true, k.data())) {
        uint8_t rec[260];
        int32_t len = g.dup ? g.klen - 4 : g.klen;
        std::memcpy(rec, k.data(), static_cast<size_t>(len));
        std::memcpy(rec + len, &p, 4);
        int16_t saved = uerr_cod;
        uerr_cod = 0;
        os_write(fd, at, rec, len + 4, out_name);
        if (uerr_cod) break;
        uerr_cod = saved;
        at += len + 4;
        ++count;
      }
      e = uerr_cod;
      os_close(fd);
    }
  }
  CloseOlFile(n, 0);
  if (e) {
    uerr_cod = e;
    return 0;
  }
  return count;
}
