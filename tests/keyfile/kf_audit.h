#pragma once
// Reads a variable-length data file straight from its bytes, as a program that knows only
// the file's layout would, and accounts for every piece: a record some key points to, a
// free piece its space index lists, or a node of that index.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "kf_fixture.h"

namespace kftest {

inline int32_t be32_at(const std::vector<uint8_t>& b, size_t o) {
  return static_cast<int32_t>((uint32_t(b.at(o)) << 24) | (uint32_t(b.at(o + 1)) << 16) | (uint32_t(b.at(o + 2)) << 8) |
                              uint32_t(b.at(o + 3)));
}

struct PieceAudit {
  std::vector<std::string> problems;  // the file's layout broken somewhere
  std::vector<int32_t> orphans;       // records in use that no key points to
  int32_t unlisted_free = 0;          // free pieces the space index does not list
  int32_t nodes = 0;
  int32_t torn = 0;                   // runs of bytes a kill left unreadable, stepped over
  int64_t end = 0, area = 0, node_size = 0;
};

// keyed: the record positions the caller's keys point to. killed: the file is as a kill
// left it, where a write cut short at a page boundary can leave a run of bytes that reads
// as no piece (a record's split-off rest not yet marked, room past the end not yet
// written); the walk then goes on at the next piece a key, the space index or the node
// links name.
inline PieceAudit audit_pieces(const std::vector<uint8_t>& b, const std::set<int32_t>& keyed, bool killed = false) {
  PieceAudit a;
  auto bad = [&](const std::string& s) {
    if (a.problems.size() < 8) a.problems.push_back(s);
  };
  if (b.size() < 128) {
    bad("file shorter than its header");
    return a;
  }
  a.node_size = le16(b, 42);
  a.area = a.node_size;
  a.end = static_cast<int64_t>(le32(b, 8)) + 1;
  const int32_t ns = static_cast<int32_t>(a.node_size);
  if (ns < 128 || a.end > static_cast<int64_t>(b.size()) || a.end < a.area) {
    bad("header: node size " + std::to_string(ns) + ", logical end " + std::to_string(a.end));
    return a;
  }
  // The space index: its leaves in order through their right links, 12-byte keys
  // [identifier][total][position], big-endian.
  std::map<int32_t, int32_t> listed;
  if (le32(b, 28) != 0) {
    int32_t leaf = le32(b, 72);
    for (int64_t steps = 0; leaf != 0; ++steps) {
      if (steps > a.end / ns || leaf < a.area || leaf + ns > a.end) {
        bad("space index leaf chain broken at " + std::to_string(leaf));
        break;
      }
      const size_t at = static_cast<size_t>(leaf);
      const int n = le16(b, at + 8);
      if (b.at(at + 17) != 1 || 18 + 12 * n > ns) {
        bad("space index leaf " + std::to_string(leaf) + " malformed");
        break;
      }
      for (int i = 0; i < n; ++i) {
        const size_t e = at + 18 + 12 * static_cast<size_t>(i);
        if (!listed.emplace(be32_at(b, e + 8), be32_at(b, e + 4)).second)
          bad("free piece " + std::to_string(be32_at(b, e + 8)) + " listed twice");
      }
      leaf = le32(b, at);
    }
  }
  // Where pieces are known to start: records, free pieces, nodes of the tree and of the
  // free-node chain.
  std::set<int64_t> known(keyed.begin(), keyed.end());
  for (auto& [at, total] : listed) known.insert(at);
  {
    std::vector<int32_t> todo;
    if (le32(b, 28)) todo.push_back(le32(b, 28));
    for (int32_t f = le32(b, 4), steps = 0; f > 0 && f + ns <= a.end && steps <= a.end / ns; f = le32(b, f), ++steps)
      todo.push_back(f);
    std::set<int32_t> seen;
    while (!todo.empty()) {
      const int32_t n = todo.back();
      todo.pop_back();
      if (n < a.area || n + ns > a.end || !seen.insert(n).second) continue;
      known.insert(n - 10);
      const size_t at = static_cast<size_t>(n);
      if (b.at(at + 17) == 0 && le32(b, at + 4) != -1)
        for (int i = 0, count = le16(b, at + 8); i < count && 18 + 16 * (i + 1) <= ns; ++i)
          todo.push_back(le32(b, at + 18 + 16 * static_cast<size_t>(i)));
    }
  }
  std::set<int32_t> records;
  std::map<int32_t, int32_t> free_seen;
  int64_t pos = a.area;
  while (pos < a.end) {
    const size_t p = static_cast<size_t>(pos);
    const uint16_t mark = pos + 10 <= a.end ? le16(b, p) : 0;
    const int32_t total = pos + 10 <= a.end ? le32(b, p + 2) : 0, used = pos + 10 <= a.end ? le32(b, p + 6) : 0;
    const bool valid = mark == 0xFAFA || mark == 0xFDFD || mark == 0xFCFC || mark == 0xFBBF;
    if (!valid || total < 10 || pos + total > a.end || used < 0 || used > total - 10) {
      // Room never written reads 0xFF, and no mark starts with that byte.
      int64_t after = pos;
      while (after < a.end && b.at(static_cast<size_t>(after)) == 0xFF) ++after;
      auto next = known.upper_bound(pos);
      if (killed && (after > pos || next != known.end())) {
        ++a.torn;
        pos = after > pos ? after : *next;
        continue;
      }
      bad("piece at " + std::to_string(pos) + ": mark " + std::to_string(mark) + ", total " + std::to_string(total) +
          ", used " + std::to_string(used));
      break;
    }
    const int32_t at = static_cast<int32_t>(pos);
    if (mark == 0xFAFA) {
      records.insert(at);
      if (!keyed.count(at)) a.orphans.push_back(at);
    } else if (mark == 0xFDFD || mark == 0xFCFC) {
      free_seen[at] = total;
      if (!listed.count(at)) ++a.unlisted_free;
    } else {
      ++a.nodes;
      if (total != ns + 10 || used != ns) bad("node piece " + std::to_string(at) + " of " + std::to_string(total));
      if ((pos + 10) / 4096 != (pos + total - 1) / 4096) bad("node " + std::to_string(at + 10) + " crosses a 4 KiB block");
    }
    pos += total;
  }
  if (a.problems.empty() && pos != a.end) bad("pieces end at " + std::to_string(pos) + ", file at " + std::to_string(a.end));
  // What the index lists and the keys point to must be there, unless it lies in bytes a
  // kill left unreadable.
  for (auto& [at, total] : listed) {
    auto it = free_seen.find(at);
    if (it == free_seen.end() && a.torn) continue;
    if (it == free_seen.end()) bad("space index lists " + std::to_string(at) + ", which is no free piece");
    else if (it->second != total)
      bad("free piece " + std::to_string(at) + " of " + std::to_string(it->second) + " listed with " + std::to_string(total));
  }
  for (int32_t k : keyed)
    if (!records.count(k) && !a.torn) bad("a key points to " + std::to_string(k) + ", which is no record in use");
  return a;
}

// A file our code closed or flushed after a run of calls: nothing unaccounted for, and no
// more bytes than the records appended, the nodes and at most a block's padding per node.
inline void expect_every_piece_reached(const std::string& file, const std::set<int32_t>& keyed, int64_t appended) {
  const PieceAudit a = audit_pieces(slurp(file), keyed);
  for (const std::string& s : a.problems) ADD_FAILURE() << file << ": " << s;
  for (int32_t at : a.orphans) ADD_FAILURE() << file << ": record " << at << " is in use but no key points to it";
  EXPECT_EQ(a.unlisted_free, 0) << file << ": free pieces missing from the space index";
  const int64_t padding = a.end - a.area - appended - a.nodes * (a.node_size + 10);
  EXPECT_GE(padding, 0) << file << ": " << a.end << " bytes, " << appended << " appended, " << a.nodes << " nodes";
  EXPECT_LE(padding, a.nodes * (4096 + 9)) << file << ": " << a.end << " bytes, " << appended << " appended, " << a.nodes
                                           << " nodes";
}

// Every record position the keys of an open index point to.
inline std::set<int32_t> keyed_positions(int16_t index, int key_length) {
  std::set<int32_t> keyed;
  std::vector<uint8_t> key(static_cast<size_t>(key_length));
  for (int32_t p = FirstKey(index, key.data()); p; p = NextKey(index, key.data())) keyed.insert(p);
  EXPECT_EQ(uerr_cod, 0);
  return keyed;
}

}  // namespace kftest
