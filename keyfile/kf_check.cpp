// Structure check of an open file: every tree sorted and bounded by its high keys, leaf
// links symmetric, counts right, free chains sound, and for variable files the pieces
// tiling the file with every free piece in the space index exactly once.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "keyfile/kf_btree.h"

namespace ol {
namespace {

struct Checker {
  char* report;
  size_t size;
  int16_t code = 0;
  bool problem(int16_t c, const char* fmt, ...) __attribute__((format(printf, 3, 4))) {
    if (code) return false;
    code = c;
    if (report && size) {
      va_list ap;
      va_start(ap, fmt);
      std::vsnprintf(report, size, fmt, ap);
      va_end(ap);
    }
    return false;
  }
};

// Recursively checks the subtree at pos: keys in (lo, hi], leaves collected in order.
bool check_node(Checker& c, Fcb& m, const Geometry& g, int32_t pos, const uint8_t* lo, const uint8_t* hi,
                int depth, int& leaf_depth, std::set<int32_t>& seen, std::vector<int32_t>& leaves, int64_t& count) {
  if (depth > Path::kMax) return c.problem(240, "tree deeper than %d levels", Path::kMax);
  if (!seen.insert(pos).second) return c.problem(231, "node %d reached twice", pos);
  Image im;
  int16_t e = load(m, pos, im);
  if (e) return c.problem(e, "node %d unreadable (%d)", pos, e);
  if (im.left == -1) return c.problem(25, "free node %d in the tree", pos);
  for (int i = 0; i < im.n; ++i) {
    const uint8_t* k = im.key(i);
    if (i > 0 && keycmp(im.key(i - 1), k, g.klen) >= 0) return c.problem(231, "node %d: keys out of order at %d", pos, i + 1);
    if (lo && keycmp(k, lo, g.klen) <= 0) return c.problem(231, "node %d: key %d below its bound", pos, i + 1);
    if (hi && keycmp(k, hi, g.klen) > 0) return c.problem(231, "node %d: key %d above its bound", pos, i + 1);
  }
  if (im.leaf) {
    if (leaf_depth < 0) leaf_depth = depth;
    else if (leaf_depth != depth) return c.problem(231, "leaf %d at depth %d, others at %d", pos, depth, leaf_depth);
    if (im.n > 0 && keycmp(im.key(im.n - 1), im.high, g.klen) > 0) return c.problem(231, "leaf %d: key above its high key", pos);
    if (hi && keycmp(im.high, hi, g.klen) > 0) return c.problem(231, "leaf %d: high key above its parent's key", pos);
    leaves.push_back(pos);
    count += im.n;
    return true;
  }
  if (im.n == 0) return c.problem(231, "empty non-leaf node %d", pos);
  std::vector<uint8_t> prev;
  for (int i = 0; i < im.n; ++i) {
    const uint8_t* clo = i == 0 ? lo : prev.data();
    std::vector<uint8_t> k(im.key(i), im.key(i) + g.klen);
    if (!check_node(c, m, g, im.ptr[i], clo, k.data(), depth + 1, leaf_depth, seen, leaves, count)) return false;
    prev = k;
  }
  return true;
}

bool check_tree(Checker& c, Fcb& m, std::set<int32_t>& nodes) {
  Geometry g = geometry_of(m);
  if (m.h.root == 0) {
    if (m.h.count != 0) return c.problem(231, "empty tree with count %d", m.h.count);
    return true;
  }
  std::vector<int32_t> leaves;
  int64_t count = 0;
  int leaf_depth = -1;
  if (!check_node(c, m, g, m.h.root, nullptr, nullptr, 0, leaf_depth, nodes, leaves, count)) return false;
  // The leaf level: in order through right links, left links mirroring them.
  if (leaves.front() != m.h.first_leaf) return c.problem(231, "first leaf %d, header says %d", leaves.front(), m.h.first_leaf);
  for (size_t i = 0; i < leaves.size(); ++i) {
    Image im;
    if (load(m, leaves[i], im)) return c.problem(uerr_cod, "leaf %d unreadable", leaves[i]);
    int32_t want_right = i + 1 < leaves.size() ? leaves[i + 1] : 0;
    int32_t want_left = i > 0 ? leaves[i - 1] : 0;
    if (im.right != want_right) return c.problem(34, "leaf %d: right link %d, expected %d", leaves[i], im.right, want_right);
    if (im.left != want_left) return c.problem(34, "leaf %d: left link %d, expected %d", leaves[i], im.left, want_left);
    if (i + 1 == leaves.size()) {
      for (int b = 0; b < g.klen; ++b)
        if (im.high[b] != 0xFF) return c.problem(231, "rightmost leaf %d: high key not all 0xFF", leaves[i]);
    }
  }
  if (count != m.h.count) return c.problem(231, "%lld entries, header count %d", static_cast<long long>(count), m.h.count);
  return true;
}

bool check_free_chain(Checker& c, Fcb& host, std::set<int32_t>& nodes) {
  int32_t bound = node_bound(host);
  int32_t steps = 0;
  for (int32_t p = host.h.release_head; p != 0; ++steps) {
    if (steps > bound) return c.problem(25, "free-node chain does not end");
    if (!nodes.insert(p).second) return c.problem(25, "free node %d also in use or listed twice", p);
    Image im;
    int16_t e = load(host, p, im);
    if (e) return c.problem(e, "free node %d unreadable", p);
    if (im.left != -1) return c.problem(25, "free node %d not marked free", p);
    p = im.right;
  }
  return true;
}

bool check_index(Checker& c, Fcb& host) {
  std::set<int32_t> nodes;
  int k = host.h.members;
  for (int j = 0; j <= k; ++j) {
    Fcb& m = cur->files[host.number + j];
    if (j > 0 && !m.defined_member) continue;
    if (!check_tree(c, m, nodes)) return false;
  }
  if (!check_free_chain(c, host, nodes)) return false;
  int32_t ns = host.h.node_size;
  int32_t area = header_area(host.h, k);
  int64_t file_nodes = (static_cast<int64_t>(host.h.logical_end) + 1 - area) / ns;
  if (static_cast<int64_t>(nodes.size()) != file_nodes)
    return c.problem(231, "%zu nodes reachable, file holds %lld", nodes.size(), static_cast<long long>(file_nodes));
  return true;
}

bool check_variable(Checker& c, Fcb& f) {
  std::set<int32_t> nodes;
  if (!check_tree(c, f, nodes)) return false;
  if (!check_free_chain(c, f, nodes)) return false;
  // Free pieces as the space index lists them.
  std::map<int32_t, int32_t> listed;  // position -> total
  Geometry g = geometry_of(f);
  int32_t bound = node_bound(f);
  if (f.h.root) {
    int32_t p = f.h.first_leaf;
    for (int32_t steps = 0; p != 0; ++steps) {
      if (steps > bound) return c.problem(231, "space index leaves do not end");
      Image im;
      if (load(f, p, im)) return c.problem(uerr_cod, "space index leaf %d unreadable", p);
      for (int i = 0; i < im.n; ++i) {
        const uint8_t* k = im.key(i);
        int32_t total = static_cast<int32_t>((uint32_t(k[4]) << 24) | (uint32_t(k[5]) << 16) | (uint32_t(k[6]) << 8) | k[7]);
        int32_t pos = entry_pos(g, im, i);
        if (!listed.emplace(pos, total).second) return c.problem(231, "free piece %d listed twice", pos);
      }
      p = im.right;
    }
  }
  // The pieces tile the file from the header area to the logical end.
  int32_t pos = header_area(f.h, 0);
  size_t free_seen = 0;
  std::set<int32_t> node_pieces;
  while (pos <= f.h.logical_end) {
    VHeader v;
    int16_t e = read_vheader(f, pos, v);
    if (e) return c.problem(123, "piece at %d: bad header (%d)", pos, e);
    if (v.mark == kMarkFree || v.mark == kMarkFree2) {
      auto it = listed.find(pos);
      if (it == listed.end()) return c.problem(146, "free piece %d missing from the space index", pos);
      if (it->second != v.total) return c.problem(146, "free piece %d: length %d, index says %d", pos, v.total, it->second);
      ++free_seen;
    } else if (v.mark == kMarkNode) {
      if (v.total != f.h.node_size + 10) return c.problem(123, "node piece %d of length %d", pos, v.total);
      node_pieces.insert(pos + 10);
    }
    pos += v.total;
  }
  if (pos != f.h.logical_end + 1) return c.problem(123, "pieces end at %d, file at %d", pos, f.h.logical_end + 1);
  if (free_seen != listed.size()) return c.problem(146, "space index lists %zu pieces, %zu free", listed.size(), free_seen);
  if (node_pieces != nodes) return c.problem(231, "%zu node pieces, %zu nodes in use or free", node_pieces.size(), nodes.size());
  return true;
}

bool check_fixed(Checker& c, Fcb& f) {
  int32_t area = header_area(f.h, 0);
  int32_t records = (f.h.logical_end + 1 - area) / f.h.rec_len;
  if ((f.h.logical_end + 1 - area) % f.h.rec_len) return c.problem(30, "logical end not on a record boundary");
  std::set<int32_t> chain;
  for (int32_t p = f.h.release_head; p != 0;) {
    if (static_cast<int32_t>(chain.size()) > records) return c.problem(31, "release chain does not end");
    if (p < area || p > f.h.logical_end || (p - area) % f.h.rec_len) return c.problem(31, "release chain link %d outside the records", p);
    if (!chain.insert(p).second) return c.problem(31, "record %d released twice", p);
    uint8_t mark[5];
    if (page_read(f, p, mark, 5)) return c.problem(36, "record %d unreadable", p);
    if (mark[0] != 0xFF) return c.problem(31, "record %d on the chain without its mark", p);
    std::memcpy(&p, mark + 1, 4);
  }
  if (f.h.count != records - static_cast<int32_t>(chain.size()))
    return c.problem(231, "count %d, %d records less %zu released", f.h.count, records, chain.size());
  return true;
}

}  // namespace
}  // namespace ol

using namespace ol;

int16_t CheckOlFile(int16_t file, char* report, size_t report_size) {
  uerr_cod = 0;
  if (report && report_size) report[0] = 0;
  Fcb* fp = open_file(file);
  if (!fp) return uerr_cod;
  Fcb& f = host_of(*fp);
  Checker c{report, report_size};
  switch (f.h.file_type) {
    case OL_TYPE_FIXED: check_fixed(c, f); break;
    case OL_TYPE_VARIABLE: check_variable(c, f); break;
    default: check_index(c, f); break;
  }
  uerr_cod = c.code;
  return c.code;
}
