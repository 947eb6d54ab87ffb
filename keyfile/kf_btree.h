#pragma once
// B-tree internals shared by the index operations and the structure check.
#include <cstdint>
#include <vector>

#include "keyfile/kf_internal.h"

namespace ol {

// Key layout of one index member.
struct Geometry {
  int klen = 0, keypart = 0;
  bool dup = false, lead = false, trail = false;
  uint8_t pad = 0;
  int ns = 0, leaf_cap = 0, leaf_max = 0, nonleaf_cap = 0, nonleaf_max = 0;
  uint8_t member = 0;
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

struct Path {
  static constexpr int kMax = 10;
  struct Level {
    int32_t pos;
    int idx;
  } lv[kMax];
  int depth = 0;
};

Geometry geometry_of(const Fcb& m);
int keycmp(const uint8_t* a, const uint8_t* b, int n);
int32_t encode(const Geometry& g, const Image& im, int from, int to, uint8_t* out);
int16_t decode(const Geometry& g, const uint8_t* block, Image& im);
int32_t entry_pos(const Geometry& g, const Image& im, int i);
int32_t node_bound(const Fcb& m);
int16_t load(Fcb& m, int32_t pos, Image& im);
Fcb* index_member(int16_t file, bool allow_variable);

}  // namespace ol
