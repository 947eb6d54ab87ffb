// Large arrays a load fills and lets go (number lists, vertices, polygons, the builder's
// corner records), kept for the next load. Handing big blocks back to the system and taking
// them again costs a page fault per page on every load; kept blocks are already mapped.
// What is kept is bounded in count and bytes, and freed when the program ends.
#ifndef TESSEL_PARSER_ARRAYPOOL_H
#define TESSEL_PARSER_ARRAYPOOL_H

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <mutex>
#include <vector>

// Blocks smaller than this come and go through the allocator as they are.
constexpr size_t AG_POOL_MIN_BYTES = size_t(64) << 10;
// Most bytes all pools keep together, and most blocks one pool keeps.
constexpr size_t AG_POOL_MAX_BYTES = size_t(64) << 20;
constexpr int AG_POOL_SLOTS = 8;

// What all pools share: their lock, the bytes they keep together, and whether the program
// is ending (the pools are gone; a tree freed later frees its arrays itself).
struct AgPoolShared {
  std::mutex lock;
  size_t bytes = 0;
  bool closed = false;
};
AgPoolShared& AgPools();

template <class T>
class AgArrayPool {
 public:
  // A kept array of room for at least `want` elements, or an empty one. With `largest` the
  // roomiest kept array is taken (a list still growing to an unknown length); else the
  // smallest that fits, and none that is more than twice too big.
  static std::vector<T> Take(size_t want, bool largest) {
    std::vector<T> out;
    if (want * sizeof(T) < AG_POOL_MIN_BYTES) return out;
    AgPoolShared& shared = AgPools();
    std::lock_guard<std::mutex> lock(shared.lock);
    if (shared.closed) return out;
    Pool& p = Get();
    int best = -1;
    for (int i = 0; i < p.count; ++i) {
      size_t cap = p.slots[i].capacity();
      if (cap < want || (!largest && cap / 2 > want)) continue;
      if (best < 0 || (largest ? cap > p.slots[best].capacity() : cap < p.slots[best].capacity())) best = i;
    }
    if (best < 0) return out;
    out.swap(p.slots[best]);
    p.slots[best].swap(p.slots[--p.count]);
    shared.bytes -= out.capacity() * sizeof(T);
    return out;
  }

  // Keeps v's block for a later load when it is big and there is room; v is left empty.
  static void Give(std::vector<T>& v) {
    std::vector<T> gone;  // freed after the lock is let go
    const size_t bytes = v.capacity() * sizeof(T);
    if (bytes < AG_POOL_MIN_BYTES) {
      gone.swap(v);
      return;
    }
    v.clear();
    AgPoolShared& shared = AgPools();
    std::lock_guard<std::mutex> lock(shared.lock);
    if (shared.closed) {
      gone.swap(v);
      return;
    }
    Pool& p = Get();
    // A full pool makes way for a bigger block by dropping its smallest.
    if (p.count == AG_POOL_SLOTS) {
      int small = 0;
      for (int i = 1; i < p.count; ++i)
        if (p.slots[i].capacity() < p.slots[small].capacity()) small = i;
      if (p.slots[small].capacity() >= v.capacity()) {
        gone.swap(v);
        return;
      }
      shared.bytes -= p.slots[small].capacity() * sizeof(T);
      gone.swap(p.slots[small]);
      p.slots[small].swap(p.slots[--p.count]);
    }
    if (shared.bytes + bytes > AG_POOL_MAX_BYTES) {
      std::vector<T>().swap(gone);
      gone.swap(v);
      return;
    }
    p.slots[p.count++].swap(v);
    shared.bytes += bytes;
  }

  // Room for `want` elements in v, from a kept block when one fits; the elements v holds
  // are moved, not copied.
  static void Reserve(std::vector<T>& v, size_t want, bool largest = false) {
    if (want <= v.capacity()) return;
    std::vector<T> kept = Take(want, largest);
    if (kept.capacity() < want) {
      v.reserve(want);
      return;
    }
    kept.insert(kept.end(), std::make_move_iterator(v.begin()), std::make_move_iterator(v.end()));
    v.swap(kept);
    Give(kept);
  }

  // Room for `more` elements past the end, growing geometrically like push_back would.
  static void Grow(std::vector<T>& v, size_t more, bool largest = false) {
    const size_t need = v.size() + more;
    if (need > v.capacity()) Reserve(v, std::max(need, 2 * v.capacity()), largest);
  }

 private:
  struct Pool {
    std::vector<T> slots[AG_POOL_SLOTS];
    int count = 0;
    ~Pool() {
      AgPoolShared& shared = AgPools();
      std::lock_guard<std::mutex> lock(shared.lock);
      shared.closed = true;
      for (int i = 0; i < count; ++i) std::vector<T>().swap(slots[i]);
      count = 0;
    }
  };
  static Pool& Get() {
    static Pool pool;
    return pool;
  }
};

// An array taken from the pool for one build step and given back when the step ends,
// also when it ends by an error.
template <class T>
struct AgScratchArray {
  std::vector<T> v;
  explicit AgScratchArray(size_t want) { AgArrayPool<T>::Reserve(v, want); }
  ~AgScratchArray() { AgArrayPool<T>::Give(v); }
  AgScratchArray(const AgScratchArray&) = delete;
  AgScratchArray& operator=(const AgScratchArray&) = delete;
};

#endif
