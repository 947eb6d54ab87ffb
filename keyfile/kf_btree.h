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
