// Data pages, fixed records with their release chain, variable records and their pieces.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "keyfile/kf_internal.h"

namespace ol {

static int32_t page_size() { return cur->node_size; }

// Where the memory page holding byte pos ends.
static int32_t mem_page_end(int32_t pos) {
  constexpr int32_t kMemPage = 4096;
  return pos < 0 ? 0 : (pos | (kMemPage - 1)) + 1;
}

// Bytes of f about to be read asked for from memory: a hint, so a handle given up to save
// handles is not opened again for it.
static void prefetch_bytes(const Fcb& f, int32_t pos, int32_t len) {
  const Fcb& h = cur->files[f.host];
  if (h.status == 'y') os_prefetch(h.fd, pos, len);
}

// The page a byte lies in: a shift for the usual power-of-two page size, which every read
// works out.
static int64_t page_of(int64_t pos, int32_t ps) {
  const auto u = static_cast<uint32_t>(ps);
  return (u & (u - 1)) == 0 ? pos >> std::countr_zero(u) : pos / ps;
}

// Writes back only the bytes that changed, so header or node bytes written through
// another path since the page was read are never overwritten with stale copies.
static int16_t page_writeback(Page& p) {
  if (!p.dirty) return 0;
  if (int16_t e = file_io(cur->files[p.file], [&](int fd, const char* name) {
        os_write(fd, p.pos + p.dlo, p.data + p.dlo, p.dhi - p.dlo, name);
      }))
    return e;
  p.dirty = false;
  p.dlo = p.dhi = 0;
  return 0;
}

// Buffer i given up by the page it held.
static void page_unmap(Page& p) {
  cur->page_map.erase(cache_key(p.file, p.pos));
  cur->page_bits.clear(p.file, p.pos / page_size());
  p.file = -1;
}

static void page_free(int i) {
  Page& p = cur->pages[i];
  if (p.file >= 0) page_unmap(p);
  p.dirty = false;
  p.valid = 0;
  // Free pages go to the least recently used end, to be taken first.
  cur->page_lru.unlink(cur->pages, i);
  Page& t = cur->pages[i];
  if (cur->page_lru.tail >= 0) {
    cur->pages[cur->page_lru.tail].next = i;
    t.prev = cur->page_lru.tail;
    t.next = -1;
    cur->page_lru.tail = i;
  } else {
    cur->page_lru.push_front(cur->pages, i);
  }
}

// The least recently used buffer, written back if changed and taken out of the map; -1 when
// the write-back fails.
static int page_claim() {
  int i = cur->page_lru.tail;
  Page& p = cur->pages[i];
  if (p.file >= 0) {
    if (page_writeback(p)) return -1;
    page_unmap(p);
  }
  return i;
}

// Buffer i now holds the first n bytes of page ppos (the rest reads as 0xFF).
static void page_hold(int i, Fcb& f, int32_t ppos, int32_t n) {
  Page& p = cur->pages[i];
  if (n < page_size()) std::memset(p.data + n, 0xFF, static_cast<size_t>(page_size() - n));
  p.file = f.number;
  p.pos = ppos;
  p.valid = n;
  p.dirty = false;
  p.dlo = p.dhi = 0;
  cur->page_map.put(cache_key(f.number, ppos), i);
  cur->page_bits.set(f.number, ppos / page_size());
  cur->page_lru.touch(cur->pages, i);
}

static int page_get(Fcb& f, int32_t ppos) {
  if (const int hit = cur->page_map.find(cache_key(f.number, ppos)); hit >= 0) {
    ++cur->page_hits;
    cur->page_lru.touch(cur->pages, hit);
    return hit;
  }
  int i = page_claim();
  if (i < 0) return -1;
  int fd = fcb_fd(f);
  if (fd < 0) return -1;
  int16_t saved = uerr_cod;
  uerr_cod = 0;
  int32_t n = os_read(fd, ppos, cur->pages[i].data, page_size(), f.name.c_str());
  uerr_cod = saved;
  ++cur->page_reads;
  page_hold(i, f, ppos, n);
  return i;
}

// Keeps bytes read for a page in the least recently used buffer, as a read through the cache
// would have kept them. 0, or the write-back's error.
static int16_t page_keep(Fcb& f, int32_t ppos, const uint8_t* bytes, int32_t n) {
  if (cur->page_map.find(cache_key(f.number, ppos)) >= 0 || cur->page_lru.tail < 0) return 0;
  int i = page_claim();
  if (i < 0) return uerr_cod ? uerr_cod : fail(36);
  std::memcpy(cur->pages[i].data, bytes, static_cast<size_t>(n));
  page_hold(i, f, ppos, n);
  return 0;
}

// A read over several pages: the pages no buffer holds are read from the file in one piece,
// the buffered ones copied from their buffers, and the partial pages at either end kept as
// page-by-page reads would keep them. kPageByPage when a buffered page ends early and the
// page-by-page path must decide.
constexpr int16_t kPageByPage = -1;
static int16_t page_read_span(Fcb& f, int32_t pos, uint8_t* out, int32_t len, int32_t first, int32_t last) {
  const int32_t ps = page_size();
  const int64_t end = static_cast<int64_t>(pos) + len;
  int32_t lo = -1, hi = -1;
  // The buffer of every page of the span (-1: none), looked up once.
  static std::vector<int> held;
  held.clear();
  for (int32_t q = first;; q += ps) {
    const int at = cur->page_map.find(cache_key(f.number, q));
    const bool whole = q >= pos && q + static_cast<int64_t>(ps) <= end;
    held.push_back(at);
    if (at < 0) {
      if (lo < 0) lo = q;
      hi = q;
    } else if (whole && cur->pages[at].valid < ps) {
      return kPageByPage;
    }
    if (q == last) break;
  }
  static std::vector<uint8_t> scratch;
  int32_t got = 0;
  int16_t read_error = 0;
  if (lo >= 0) {
    const int32_t size = hi - lo + ps;
    scratch.resize(static_cast<size_t>(size));
    int fd = fcb_fd(f);
    if (fd < 0) return uerr_cod;
    int16_t saved = uerr_cod;
    uerr_cod = 0;
    got = os_read(fd, lo, scratch.data(), size, f.name.c_str());
    read_error = uerr_cod;
    uerr_cod = saved;
    ++cur->page_reads;
  }
  auto available = [&](int32_t q) { return std::clamp<int32_t>(got - (q - lo), 0, ps); };
  for (int32_t q = first, k = 0;; q += ps, ++k) {
    const int32_t off = static_cast<int32_t>(std::max<int64_t>(pos, q) - q);
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(end, static_cast<int64_t>(q) + ps) - q) - off;
    const bool partial = off != 0 || n < ps;
    if (held[k] >= 0) {
      Page& p = cur->pages[held[k]];
      if (partial) {
        ++cur->page_hits;
        cur->page_lru.touch(cur->pages, held[k]);
        if (off + n > p.valid) return fail(36);
      }
      std::memcpy(out, p.data + off, static_cast<size_t>(n));
    } else {
      if (off + n > available(q)) return partial || !read_error ? fail(36) : fail(read_error);
      std::memcpy(out, scratch.data() + (q - lo) + off, static_cast<size_t>(n));
    }
    out += n;
    if (q == last) break;
  }
  for (int32_t q : {first, last}) {
    const bool partial = q < pos || q + static_cast<int64_t>(ps) > end;
    if (partial && held[(q - first) / ps] < 0)
      if (int16_t e = page_keep(f, q, scratch.data() + (q - lo), available(q))) return e;
  }
  return 0;
}

int16_t page_read(Fcb& f, int32_t pos, void* buf, int32_t len) {
  const int32_t ps = page_size();
  uint8_t* out = static_cast<uint8_t*>(buf);
  if (len > 0 && pos >= 0 && ps > 0) {
    const int64_t last_byte = static_cast<int64_t>(pos) + len - 1;
    const int64_t first_page = page_of(pos, ps), last_page = page_of(last_byte, ps);
    const int32_t first = static_cast<int32_t>(first_page * ps);
    // Bytes no buffer holds are current in the file: a read touching no buffered page is
    // one copy from the mapping.
    if (last_byte <= INT32_MAX) {
      if (!cur->page_bits.any(f.number, first_page, last_page)) {
        if (const uint8_t* src = os_read_mapped(fcb_fd(f), pos, len)) {
          ++cur->page_reads;
          std::memcpy(out, src, static_cast<size_t>(len));
          return 0;
        }
      }
    }
    // One read for the pages no buffer holds saves system calls; from a mapping, copying
    // the whole pages straight out saves copying them twice.
    if (last_byte <= INT32_MAX && last_page > first_page && !os_mapped(fcb_fd(f), pos, len)) {
      int16_t e = page_read_span(f, pos, out, len, first, static_cast<int32_t>(last_page * ps));
      if (e != kPageByPage) return e;
    }
  }
  while (len > 0) {
    int32_t ppos = pos / ps * ps;
    int32_t off = pos - ppos;
    if (off == 0 && len >= ps) {
      // Whole pages straight from the file, then cached copies over them.
      int32_t whole = len / ps * ps;
      const int16_t saved = uerr_cod;
      int32_t n = 0;
      if (const int16_t e = file_io(f, [&](int fd, const char* name) { n = os_read(fd, pos, out, whole, name); })) {
        // Bytes a cached page holds beyond the file's end are still readable.
        for (int32_t q = n / ps * ps; q < whole; q += ps) {
          const int at = cur->page_map.find(cache_key(f.number, pos + q));
          if (at < 0 || cur->pages[at].valid < std::min(ps, whole - q)) return e;
        }
        uerr_cod = saved;
      }
      for (int32_t q = 0; q < whole; q += ps) {
        const int at = cur->page_map.find(cache_key(f.number, pos + q));
        if (at >= 0) std::memcpy(out + q, cur->pages[at].data, static_cast<size_t>(ps));
      }
      pos += whole;
      out += whole;
      len -= whole;
      continue;
    }
    int32_t n = std::min(len, ps - off);
    int i = cur->page_map.find(cache_key(f.number, ppos));
    if (i >= 0) {
      ++cur->page_hits;
      cur->page_lru.touch(cur->pages, i);
    } else if (const uint8_t* src = os_read_mapped(fcb_fd(f), pos, n)) {
      // No buffer holds the page, so the file's bytes are current: copied straight out,
      // without claiming (and perhaps writing back) a buffer for a page read once.
      ++cur->page_reads;
      std::memcpy(out, src, static_cast<size_t>(n));
      pos += n;
      out += n;
      len -= n;
      continue;
    } else {
      i = page_get(f, ppos);
    }
    if (i < 0) return uerr_cod ? uerr_cod : fail(36);
    Page& p = cur->pages[i];
    if (off + n > p.valid) return fail(36);
    std::memcpy(out, p.data + off, static_cast<size_t>(n));
    pos += n;
    out += n;
    len -= n;
  }
  return 0;
}

int16_t page_write_pieces(Fcb& f, int32_t pos, const OsPiece* pieces, int count) {
  if (f.open_mode & OL_WRITETHROUGH) {
    // Every page written goes to the file at once anyway: the whole run in one write, and
    // the buffers holding any of its pages brought up to date.
    if (int16_t e = file_io(f, [&](int fd, const char* name) { os_write_pieces(fd, pos, pieces, count, name); }))
      return e;
    for (int i = 0, at = pos; i < count; at += pieces[i++].len) page_patch(f.number, at, pieces[i].data, pieces[i].len);
    return 0;
  }
  for (int i = 0, at = pos; i < count; at += pieces[i++].len)
    if (int16_t e = page_write(f, at, pieces[i].data, pieces[i].len)) return e;
  return 0;
}

int16_t page_write(Fcb& f, int32_t pos, const void* buf, int32_t len) {
  os_note_change();
  const int32_t ps = page_size();
  const uint8_t* in = static_cast<const uint8_t*>(buf);
  if ((f.open_mode & OL_WRITETHROUGH) && len > 0) {
    const OsPiece piece{buf, len};
    return page_write_pieces(f, pos, &piece, 1);
  }
  while (len > 0) {
    int32_t ppos = pos / ps * ps;
    int32_t off = pos - ppos;
    if (off == 0 && len >= ps) {
      int32_t whole = len / ps * ps;
      if (int16_t e = file_io(f, [&](int fd, const char* name) { os_write(fd, pos, in, whole, name); })) return e;
      for (int32_t q = 0; q < whole; q += ps) {
        const int at = cur->page_map.find(cache_key(f.number, pos + q));
        if (at >= 0) page_free(at);
      }
      pos += whole;
      in += whole;
      len -= whole;
      continue;
    }
    int32_t n = std::min(len, ps - off);
    int i = page_get(f, ppos);
    if (i < 0) return uerr_cod ? uerr_cod : fail(37);
    Page& p = cur->pages[i];
    std::memcpy(p.data + off, in, static_cast<size_t>(n));
    if (!p.dirty) {
      p.dlo = off;
      p.dhi = off + n;
      p.dirty = true;
    } else {
      p.dlo = std::min(p.dlo, off);
      p.dhi = std::max(p.dhi, off + n);
    }
    if (p.valid < off + n) p.valid = off + n;
    pos += n;
    in += n;
    len -= n;
  }
  return 0;
}

void page_patch(int16_t file, int32_t pos, const void* buf, int32_t len) {
  os_note_change();
  if (!cur || cur->page_map.empty() || len <= 0) return;
  const int32_t ps = page_size();
  const uint8_t* in = static_cast<const uint8_t*>(buf);
  for (int32_t ppos = pos / ps * ps; ppos < pos + len; ppos += ps) {
    const int at = cur->page_map.find(cache_key(file, ppos));
    if (at < 0) continue;
    Page& p = cur->pages[at];
    int32_t a = std::max(pos, ppos), b = std::min(pos + len, ppos + ps);
    std::memcpy(p.data + (a - ppos), in + (a - pos), static_cast<size_t>(b - a));
    if (a - ppos <= p.valid && b - ppos > p.valid) p.valid = b - ppos;
  }
}

int16_t page_flush_file(int16_t file, bool drop) {
  int16_t first = 0;
  for (int i = 0; i < static_cast<int>(cur->pages.size()); ++i) {
    Page& p = cur->pages[i];
    if (p.file != file) continue;
    int16_t e = page_writeback(p);
    if (e && !first) first = e;
    if (drop) page_free(i);
  }
  return first;
}

void page_drop_file(int16_t file) {
  for (int i = 0; i < static_cast<int>(cur->pages.size()); ++i)
    if (cur->pages[i].file == file) page_free(i);
}

// ---------------------------------------------------------------- fixed records

static Fcb* data_file(int16_t file, uint16_t type) {
  Fcb* f = open_file(file);
  if (!f) return nullptr;
  if (f->h.file_type != type || f->host != f->number) {
    uerr_cod = 48;
    return nullptr;
  }
  return f;
}

// A fixed record position: inside the file and on a record boundary.
static int16_t check_fixed_pos(const Fcb& f, int32_t pos) {
  if (pos == 0) return 29;
  int32_t area = header_area(f.h, 0);
  if (pos < area || static_cast<int64_t>(pos) + f.h.rec_len - 1 > f.h.logical_end) return 30;
  if ((pos - area) % f.h.rec_len != 0) return 30;
  return 0;
}

static int32_t max_records(const Fcb& f) {
  int32_t area = header_area(f.h, 0);
  return (f.h.logical_end + 1 - area) / f.h.rec_len + 1;
}

}  // namespace ol

using namespace ol;

int32_t NewData(int16_t file) {
  uerr_cod = 0;
  Fcb* fp = data_file(file, OL_TYPE_FIXED);
  if (!fp) return 0;
  Fcb& f = *fp;
  if (f.open_mode & OL_READONLY) {
    uerr_cod = 54;
    return 0;
  }
  ++f.h.serial;
  ++f.h.count;
  int32_t pos = 0;
  int16_t e = 0;
  if (f.h.release_head != 0) {
    pos = f.h.release_head;
    uint8_t mark[5];
    e = check_fixed_pos(f, pos);
    if (e) e = 31;
    if (!e) e = page_read(f, pos, mark, 5);
    if (!e && mark[0] != 0xFF) e = 31;
    int32_t next = 0;
    if (!e) {
      std::memcpy(&next, mark + 1, 4);
      if (next != 0 && check_fixed_pos(f, next)) e = 31;
    }
    if (!e) e = mark_changed(f);
    if (!e) f.h.release_head = next;
  } else {
    e = grow_file(f, f.h.rec_len, 0, &pos);
    if (!e) e = mark_changed(f);
  }
  if (!e) e = finish_change(f);
  if (e) {
    --f.h.count;
    --f.h.serial;
    uerr_cod = e;
    return 0;
  }
  return pos;
}

int16_t ReadData(int16_t file, int32_t position, void* buffer) {
  uerr_cod = 0;
  Fcb* fp = open_file(file);
  if (!fp) return uerr_cod;
  Fcb& f = *fp;
  if (!buffer) return fail(33);
  if (f.h.file_type == OL_TYPE_VARIABLE && f.host == f.number) {
    if (position == 0) return fail(29);
    VHeader v;
    int16_t e = read_vheader(f, position, v);
    if (e) return fail(e);
    if (f.h.rec_len + 10 > v.total) return fail(36);
    e = page_read(f, position + 10, buffer, f.h.rec_len);
    return e ? fail(e) : 0;
  }
  if (f.h.file_type != OL_TYPE_FIXED) return fail(48);
  // A position the last exact lookup handed out ties its index to this file (record_hint).
  if (position == cur->lookup_pos && cur->lookup_index >= 0 && cur->lookup_index < cur->nfiles)
    cur->files[cur->lookup_index].lookup_data = file;
  int16_t e = check_fixed_pos(f, position);
  if (!e) e = page_read(f, position, buffer, f.h.rec_len);
  return e ? fail(e) : 0;
}

int16_t WriteData(int16_t file, int32_t position, const void* buffer) {
  uerr_cod = 0;
  Fcb* fp = open_file(file);
  if (!fp) return uerr_cod;
  Fcb& f = *fp;
  if (f.h.file_type == OL_TYPE_VARIABLE && f.host == f.number) return WriteVData(file, position, buffer, f.h.rec_len);
  if (f.h.file_type != OL_TYPE_FIXED) return fail(48);
  if (!buffer) return fail(33);
  int16_t e = check_fixed_pos(f, position);
  if (e) return fail(e);
  if (f.open_mode & OL_READONLY) return fail(54);
  e = mark_changed(f);
  if (!e) e = page_write(f, position, buffer, f.h.rec_len);
  if (!e) e = finish_change(f);
  return e ? fail(e) : 0;
}

int16_t ReleaseData(int16_t file, int32_t position) {
  uerr_cod = 0;
  Fcb* fp = open_file(file);
  if (!fp) return uerr_cod;
  Fcb& f = *fp;
  if (position == 0) return fail(29);
  if (f.h.file_type != OL_TYPE_FIXED || f.host != f.number) return fail(48);
  int16_t e = check_fixed_pos(f, position);
  if (e) return fail(e);
  if (f.open_mode & OL_READONLY) return fail(54);
  if (position == f.h.release_head) return fail(32);
  // A record already somewhere on the chain would make the chain a cycle and hand the
  // record out twice: walk the chain (bounded by the number of records) first.
  int32_t limit = max_records(f);
  for (int32_t p = f.h.release_head, steps = 0; p != 0; ++steps) {
    if (steps > limit || check_fixed_pos(f, p)) return fail(31);
    if (p == position) return fail(32);
    uint8_t mark[5];
    e = page_read(f, p, mark, 5);
    if (e) return fail(e);
    if (mark[0] != 0xFF) return fail(31);
    std::memcpy(&p, mark + 1, 4);
  }
  e = mark_changed(f);
  if (e) return fail(e);
  uint8_t mark[5] = {0xFF};
  std::memcpy(mark + 1, &f.h.release_head, 4);
  e = page_write(f, position, mark, 5);
  if (e) return fail(e);
  f.h.release_head = position;
  --f.h.count;
  e = finish_change(f);
  return e ? fail(e) : 0;
}

// ---------------------------------------------------------------- variable records

namespace ol {

int16_t read_vheader(Fcb& f, int32_t pos, VHeader& v) {
  const Header& H = host_of(f).h;
  int32_t area = header_area(H, 0);
  if (pos < area || static_cast<int64_t>(pos) + 9 > H.logical_end) return 30;
  int16_t e = page_read(f, pos, &v, 10);
  if (e) return e;
  if (v.mark != kMarkUsed && v.mark != kMarkFree && v.mark != kMarkNode && v.mark != kMarkFree2) return 123;
  if (v.total < 10 || static_cast<int64_t>(pos) + v.total - 1 > H.logical_end || v.used < 0 || v.used > v.total - 10)
    return 123;
  return 0;
}

static int16_t write_vheader(Fcb& f, int32_t pos, uint16_t mark, int32_t total, int32_t used) {
  VHeader v{mark, total, used};
  return page_write(f, pos, &v, 10);
}

// Frees a piece, merging it with a free piece that follows it. written_free: the piece's
// header already reads free with this total, and is not written again unless it grows.
static int16_t release_piece(Fcb& f, int32_t pos, int32_t total, bool written_free = false) {
  const int32_t own = total;
  int32_t next = pos + total;
  if (next - 1 < f.h.logical_end) {
    VHeader n;
    int16_t saved = uerr_cod;
    if (read_vheader(f, next, n) == 0 && n.mark == kMarkFree) {
      // A free piece missing from the space index (a crash between writing its mark and
      // indexing it) is unreachable: merging it in takes the space back.
      int16_t e = space_remove(f, n.total, next);
      if (e && e != 3 && e != 4) return 146;
      total += n.total;
    }
    uerr_cod = saved;
  }
  uint16_t mark = f.h.file_class == 2 ? kMarkFree2 : kMarkFree;
  if (!written_free || mark != kMarkFree || total != own)
    if (int16_t e = write_vheader(f, pos, mark, total, 0)) return e;
  if (space_add(f, total, pos)) return 146;
  return 0;
}

// A piece for need bytes (header included): the smallest free piece that holds them, else one
// of grow bytes added at the file's end. Marked in use at once, so that no release can merge
// it back into free space before it is written. Its position and *total, or 0 with uerr_cod.
static int32_t take_piece(Fcb& f, int32_t need, int32_t grow, int32_t* total, bool* grown = nullptr) {
  if (grown) *grown = false;
  int32_t pos = 0;
  if (f.h.count > 0) {
    pos = space_find(f, need, total);
    if (uerr_cod) return 0;
    if (pos) {
      VHeader v;
      int16_t e = read_vheader(f, pos, v);
      if (e != 0 || (v.mark != kMarkFree && v.mark != kMarkFree2) || v.total != *total) {
        status_log_fmt(147, "%s", f.name.c_str());
        status_log_fmt(147, "mark=%xx pos=%lxx", static_cast<unsigned>(v.mark), static_cast<unsigned long>(pos));
        uerr_cod = 147;
        return 0;
      }
      if (space_remove(f, *total, pos)) {
        uerr_cod = 146;
        return 0;
      }
      if (int16_t w = write_vheader(f, pos, kMarkUsed, *total, 0)) {
        uerr_cod = w;
        return 0;
      }
      return pos;
    }
  }
  int16_t e = grow_file(f, grow, 0, &pos);
  if (!e) e = write_vheader(f, pos, kMarkUsed, grow, 0);
  if (e) {
    uerr_cod = e;
    return 0;
  }
  *total = grow;
  if (grown) *grown = true;
  return pos;
}

// The record's header and bytes into its piece of total bytes. Room past the record beyond
// keep bytes is split off as a free piece when it is more than 64 bytes and more than a
// record length.
static int16_t write_record(Fcb& f, int32_t pos, int32_t total, const void* buffer, int32_t length, int32_t keep) {
  const int32_t leftover = total - length - 10;
  const int32_t spare = leftover - std::min(leftover, keep);
  const bool split = spare > 64 && spare > f.h.rec_len + 10;
  const int32_t own = split ? total - spare : total;
  const VHeader head{kMarkUsed, own, length}, rest{kMarkFree, spare, 0};
  int16_t e = 0;
  if (!split || own == length + 10) {
    // Header, bytes and the header of a piece split off lie end to end: one run.
    const OsPiece run[3] = {{&head, 10}, {buffer, length}, {&rest, split ? 10 : 0}};
    e = page_write_pieces(f, pos, run, 3);
  } else {
    // The rest's header first: until the record's header says otherwise it lies inside the
    // record's own piece, where nothing reads it.
    const OsPiece run[2] = {{&head, 10}, {buffer, length}};
    e = page_write(f, pos + own, &rest, 10);
    if (!e) e = page_write_pieces(f, pos, run, 2);
  }
  if (!e && split) e = release_piece(f, pos + own, spare, true);
  return e;
}

void vdata_hint(int16_t file, int32_t next, int32_t after) {
  if (file < 0 || file >= cur->nfiles) return;
  const Fcb& f = cur->files[file];
  if (f.status != 'y' || f.host != f.number || f.h.file_type != OL_TYPE_VARIABLE) return;
  // The record after next: the memory page its header lies in, which then has a whole
  // step to arrive. The next record: asked for that way a step ago, so its header is at
  // hand and tells how far past that page its bytes go.
  if (after > 0) prefetch_bytes(f, after, mem_page_end(after) - after);
  const uint8_t* head = next > 0 ? os_peek(f.fd, next, 10) : nullptr;
  if (!head) return;
  VHeader v;
  std::memcpy(&v, head, 10);
  const int64_t end = static_cast<int64_t>(next) + 10 + v.used, page_end = mem_page_end(next);
  if (v.mark == kMarkUsed && v.used > 0 && end > page_end)
    prefetch_bytes(f, static_cast<int32_t>(page_end), static_cast<int32_t>(std::min<int64_t>(end - page_end, INT32_MAX)));
}

void record_hint(int16_t file, int32_t pos) {
  if (file < 0 || file >= cur->nfiles) return;
  const Fcb& f = cur->files[file];
  if (f.status == 'y' && f.h.file_type == OL_TYPE_FIXED) prefetch_bytes(f, pos, f.h.rec_len);
}

}  // namespace ol

int32_t NewVData(int16_t file, int32_t length) {
  uerr_cod = 0;
  Fcb* fp = data_file(file, OL_TYPE_VARIABLE);
  if (!fp) return 0;
  Fcb& f = *fp;
  if (length >= 0x7ffffff6) {
    uerr_cod = 140;
    return 0;
  }
  if (length < 0) {
    uerr_cod = 469;
    return 0;
  }
  if (f.open_mode & OL_READONLY) {
    uerr_cod = 54;
    return 0;
  }
  int32_t need = length + 10, total = 0;
  if (mark_changed(f)) return 0;
  int32_t pos = take_piece(f, need, need, &total);
  if (!pos) return 0;
  if (++f.h.serial == 0) {
    uerr_cod = 44;
    return 0;
  }
  if (finish_change(f)) return 0;
  return pos;
}

int16_t WriteVData(int16_t file, int32_t position, const void* buffer, int32_t length) {
  uerr_cod = 0;
  Fcb* fp = data_file(file, OL_TYPE_VARIABLE);
  if (!fp) return uerr_cod;
  Fcb& f = *fp;
  if (position == 0) return fail(159);
  if (!buffer) return fail(33);
  if (length < 0) return fail(469);
  if (f.open_mode & OL_READONLY) return fail(54);
  VHeader v;
  int16_t e = read_vheader(f, position, v);
  if (e) return fail(e);
  // Only a live record is written: a free piece or a node of the space index is not ours.
  if (v.mark != kMarkUsed) return fail(158);
  if (static_cast<int64_t>(v.total) < static_cast<int64_t>(length) + 10) return fail(148);
  e = mark_changed(f);
  if (e) return e;
  e = write_record(f, position, v.total, buffer, length, 0);
  if (!e) e = finish_change(f);
  return e ? fail(e) : 0;
}

int32_t RenewVData(int16_t file, int32_t position, const void* buffer, int32_t length) {
  uerr_cod = 0;
  Fcb* fp = data_file(file, OL_TYPE_VARIABLE);
  if (!fp) return 0;
  Fcb& f = *fp;
  int16_t e = position == 0 ? 159 : !buffer ? 33 : length < 0 ? 469 : length >= 0x7ffffff6 ? 140 : 0;
  if (!e && (f.open_mode & OL_READONLY)) e = 54;
  VHeader v;
  if (!e) e = read_vheader(f, position, v);
  if (!e && v.mark != kMarkUsed) e = 158;
  if (e) {
    uerr_cod = e;
    return 0;
  }
  // A record that grew is likely to grow again: its new piece has room for half as much
  // again, so that a record stored again and again, larger each time, moves between a few
  // pieces (each freed one holding a later size) instead of adding its whole size each time.
  const int32_t need = length + 10;
  const int32_t room = length > v.used && length / 2 < INT32_MAX - need ? length / 2 : 0;
  if (mark_changed(f)) return 0;
  int32_t total = 0;
  bool grown = false;
  const int32_t pos = take_piece(f, need, need + room, &total, &grown);
  if (!pos) return 0;
  // The room's last byte first: a file that grows by its writes alone (no extension size)
  // then holds the whole piece.
  static const uint8_t kUnwritten = 0xFF;
  if (grown && room > 0) e = page_write(f, pos + total - 1, &kUnwritten, 1);
  if (!e) e = write_record(f, pos, total, buffer, length, room);
  if (!e && ++f.h.serial == 0) e = 44;
  if (!e) e = finish_change(f);
  if (e) {
    uerr_cod = e;
    return 0;
  }
  return pos;
}

namespace {
// The record header VDataLength read last: the ReadVData that follows it reads the header
// again only when something has changed since.
struct HeaderMemo {
  const Engine* engine = nullptr;
  const Fcb* file = nullptr;
  int32_t pos = 0;
  uint64_t serial = 0;
  VHeader v;
};
HeaderMemo last_header;
}  // namespace

int16_t ReadVData(int16_t file, int32_t position, void* buffer, int32_t size) {
  uerr_cod = 0;
  Fcb* fp = data_file(file, OL_TYPE_VARIABLE);
  if (!fp) return uerr_cod;
  Fcb& f = *fp;
  if (position == 0) return fail(29);
  if (!buffer) return fail(33);
  VHeader v;
  const HeaderMemo& m = last_header;
  int16_t e = 0;
  if (m.engine == cur && m.file == fp && m.pos == position && m.serial == os_change_serial()) v = m.v;
  else e = read_vheader(f, position, v);
  if (e) return fail(e);
  if (v.used > size) return fail(153);
  if (v.used == 0) return fail(154);
  if (v.mark != kMarkUsed) return fail(158);
  e = page_read(f, position + 10, buffer, v.used);
  return e ? fail(e) : 0;
}

int32_t VDataLength(int16_t file, int32_t position) {
  uerr_cod = 0;
  Fcb* fp = data_file(file, OL_TYPE_VARIABLE);
  if (!fp) return 0;
  if (position == 0) {
    uerr_cod = 29;
    return 0;
  }
  // A position the last step through an index handed out ties that index to this file,
  // so that its next steps can ask for the records ahead (vdata_hint).
  // A record the walk already asked for ahead (vdata_hint) is not asked for again.
  bool hinted = false;
  if (position == cur->walk_pos && cur->walk_index >= 0 && cur->walk_index < cur->nfiles) {
    int16_t& tied = cur->files[cur->walk_index].walk_data;
    hinted = tied == file;
    tied = file;
  }
  // The length is asked for to size a buffer for the bytes, which are read next: the rest
  // of the memory page the header lies in is asked for from memory with the header, the
  // bytes past that page once the header tells how far they go.
  const int32_t page_end = mem_page_end(position);
  if (!hinted) prefetch_bytes(*fp, position, page_end - position);
  VHeader v;
  int16_t e = read_vheader(*fp, position, v);
  if (e) {
    uerr_cod = e;
    return 0;
  }
  if (v.mark != kMarkUsed) {
    uerr_cod = 158;
    return 0;
  }
  last_header = {cur, fp, position, os_change_serial(), v};
  const int64_t end = static_cast<int64_t>(position) + 10 + v.used;
  if (!hinted && end > page_end) prefetch_bytes(*fp, page_end, static_cast<int32_t>(end - page_end));
  return v.used;
}

int16_t ReleaseVData(int16_t file, int32_t position) {
  uerr_cod = 0;
  Fcb* fp = data_file(file, OL_TYPE_VARIABLE);
  if (!fp) return uerr_cod;
  Fcb& f = *fp;
  if (position == 0) return fail(29);
  if (f.open_mode & OL_READONLY) return fail(54);
  VHeader v;
  int16_t e = read_vheader(f, position, v);
  if (e) return fail(e);
  // Releasing a piece that is already free, or a node of the space index, would put it in
  // the free space twice or hand a live node out as a record.
  if (v.mark != kMarkUsed) return fail(158);
  e = mark_changed(f);
  if (!e) e = release_piece(f, position, v.total);
  if (!e) e = finish_change(f);
  return e ? fail(e) : 0;
}
