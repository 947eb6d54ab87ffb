// Engine instances, start and stop, file numbers, the handle budget, headers and the
// create / open / close / delete of files.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "keyfile/kf_internal.h"

int16_t uerr_cod = 0;
int16_t olsys_err = 0;

namespace ol {

Engine* cur = nullptr;
static std::vector<std::unique_ptr<Engine>> ring;  // instances in ring order
static const char kDefaultInstance[] = "olREG_DEF_ID";

static Engine* find_engine(const char* name) {
  for (auto& e : ring)
    if (name && e->name == name) return e.get();
  return nullptr;
}

static void make_current(Engine* e) {
  if (cur) {
    cur->err = uerr_cod;
    cur->syserr = olsys_err;
  }
  cur = e;
  if (cur) {
    uerr_cod = cur->err;
    olsys_err = cur->syserr;
  }
}

static bool permanent(const Fcb& f) { return (f.open_mode & OL_PERMANENT) != 0; }

bool free_one_handle(int16_t except) {
  if (!cur) return false;
  Fcb* victim = nullptr;
  for (auto& f : cur->files) {
    if (f.status != 'y' || f.fd < 0 || f.host != f.number || permanent(f) || f.number == except) continue;
    if (!victim || f.lru_stamp < victim->lru_stamp) victim = &f;
  }
  if (!victim) return false;
  // Pending pages and nodes stay in the caches; they are written through a reopened handle.
  os_close(victim->fd);
  victim->fd = -1;
  victim->status = 'v';
  return true;
}

int16_t budget_handles(int16_t except) {
  if (cur && cur->open_handles >= cur->handle_limit) free_one_handle(except);
  return 0;
}

int fcb_reopen(Fcb& h) {
  budget_handles(h.number);
  int fd = os_open(h.name.c_str(), h.open_mode);
  if (fd < 0) {
    uerr_cod = 38;
    return -1;
  }
  h.fd = fd;
  h.status = 'y';
  fcb_touch(h);
  return h.fd;
}

int16_t write_header(Fcb& f, bool ends) {
  Fcb& host = host_of(f);
  int fd = fcb_fd(f);
  if (fd < 0) return uerr_cod;
  ++f.h.write_count;
  const uint8_t* img = reinterpret_cast<const uint8_t*>(&f.h);
  int16_t saved = uerr_cod;
  uerr_cod = 0;
  if (f.h.file_type == OL_TYPE_FIXED) {
    os_write(fd, f.hdr_pos, img, 128, host.name.c_str());
    page_patch(f.number, f.hdr_pos, img, 128);
  } else {
    // The ends (first 12 bytes) belong to the host alone; a member writes only the rest.
    const int32_t from = ends && &f == &host ? 0 : 12;
    os_write(fd, f.hdr_pos + from, img + from, 128 - from, host.name.c_str());
    if (f.h.file_type == OL_TYPE_VARIABLE) page_patch(f.number, f.hdr_pos + from, img + from, 128 - from);
  }
  f.hdr_dirty = false;
  if (uerr_cod) return uerr_cod;
  uerr_cod = saved;
  return 0;
}

int16_t mark_changed(Fcb& f) {
  Fcb& h = host_of(f);
  if (h.open_mode & OL_READONLY) return fail(54);
  f.hdr_dirty = true;
  h.hdr_dirty = true;
  if (h.changed) return 0;
  h.changed = true;
  if (h.open_mode & OL_WRITETHROUGH) return 0;
  h.h.update_flag = 0xFF;
  // On POSIX a written byte is visible to every later open and survives the process, so
  // the close-and-reopen commit of the flag is not needed.
  int16_t e = write_header(h, false);
  return e ? fail(e) : 0;
}

int16_t finish_change(Fcb& f) {
  Fcb& h = host_of(f);
  if (!(h.open_mode & OL_WRITETHROUGH)) return 0;
  int16_t e = 0;
  if (h.hdr_dirty) e = write_header(h, true);
  if (!e && &f != &h && f.hdr_dirty) e = write_header(f, false);
  return e ? fail(e) : 0;
}

int16_t grow_file(Fcb& f, int32_t amount, int32_t align, int32_t* pos_out) {
  Fcb& host = host_of(f);
  Header& H = host.h;
  *pos_out = 0;
  int64_t pos = static_cast<int64_t>(H.logical_end) + 1;
  if (align > 0) pos = (pos + align - 1) / align * align;
  int64_t newle = pos + amount - 1;
  if (amount < 0 || newle > INT32_MAX || newle < H.logical_end) return fail(39);
  int16_t e = mark_changed(f);
  if (e) return e;
  if (newle > H.phys_end) {
    int64_t x = H.ext_size;
    int64_t newpe = H.phys_end;
    bool done = false;
    if (amount >= x) {
      newpe = newle;
      if (x == 0) done = true;
    }
    if (!done) {
      if (newpe < x - 1) newpe = x - 1;
      else newpe += x;
    }
    if (newpe < newle) newpe = newle;
    if (newpe > INT32_MAX) newpe = newle;
    if (!done) {
      int fd = fcb_fd(f);
      if (fd < 0) return uerr_cod;
      static const std::vector<uint8_t> filler(2048, 0xFF);
      int16_t saved = uerr_cod;
      uerr_cod = 0;
      bool ok = true;
      const int64_t old_size = os_size(fd);
      int64_t filled = H.phys_end;  // last byte the fill has really written
      // The filler block repeated: many blocks to a system call.
      constexpr int kBlocks = 32;
      OsPiece blocks[kBlocks];
      for (int64_t p = static_cast<int64_t>(H.phys_end) + 1; p <= newpe;) {
        const int64_t run = std::min<int64_t>(int64_t(2048) * kBlocks, newpe - p + 1);
        int count = 0;
        for (int64_t b = 0; b < run; b += 2048)
          blocks[count++] = {filler.data(), static_cast<int32_t>(std::min<int64_t>(2048, run - b))};
        const int32_t n = static_cast<int32_t>(run);
        if (os_write_pieces(fd, static_cast<int32_t>(p), blocks, count, host.name.c_str()) != n) {
          ok = false;
          break;
        }
        if (H.file_type != OL_TYPE_INDEX)
          for (int32_t b = 0; b < n; b += 2048)
            page_patch(host.number, static_cast<int32_t>(p) + b, filler.data(), std::min<int32_t>(2048, n - b));
        p += n;
        filled = p - 1;
      }
      if (!ok) {
        // A full disk: nothing past what was really written is claimed, and a fill that
        // did not reach the new end leaves the file's length and ends as they were.
        const int16_t err = uerr_cod ? uerr_cod : 37;
        if (old_size >= 0) os_truncate(fd, std::max(old_size, filled + 1));
        if ((H.mode & OL_SPECIAL20) || filled < newle) return fail(err);
        newpe = filled;
      }
      uerr_cod = saved;
    }
    H.phys_end = static_cast<int32_t>(newpe);
  }
  H.logical_end = static_cast<int32_t>(newle);
  host.hdr_dirty = true;
  // A write-through file records its new end before anything is written there, so a crash
  // never leaves committed bytes beyond the end the header claims.
  if (host.open_mode & OL_WRITETHROUGH) {
    e = write_header(host, true);
    if (e) return fail(e);
  }
  *pos_out = static_cast<int32_t>(pos);
  return 0;
}

static void reset_fcb(Fcb& f) {
  int16_t n = f.number;
  if (cur && static_cast<size_t>(n) < cur->fences.size()) cur->fences[static_cast<size_t>(n)] = LeafFence{};
  f = Fcb{};
  f.number = n;
  f.host = n;
}

static void free_engine_buffers(Engine& e) {
  e.pages.clear();
  e.page_mem.clear();
  e.page_map = {};
  e.page_bits = {};
  e.page_lru = {};
  e.nodes.clear();
  e.node_mem.clear();
  e.node_map = {};
  e.node_lru = {};
  e.mapped_leaves.clear();
  e.mapped_recent.clear();
  e.fences.clear();
  e.files.clear();
}

}  // namespace ol

using namespace ol;

// ---------------------------------------------------------------- instances

int16_t RegisterInstance(const char* name) {
  uerr_cod = 0;
  if (!name) return fail(517);
  if (find_engine(name)) return fail(518);
  auto e = std::make_unique<Engine>();
  e->name.assign(name, strnlen(name, 31));
  Engine* p = e.get();
  ring.push_back(std::move(e));
  make_current(p);
  uerr_cod = 0;
  return 0;
}

int16_t SwitchInstance(const char* name) {
  if (ring.empty()) return fail(516);
  Engine* e = find_engine(name);
  if (!e) return fail(517);
  make_current(e);
  return 0;
}

int16_t UnregisterInstance(const char* name) {
  if (ring.empty()) return fail(516);
  Engine* e = find_engine(name);
  if (!e) return fail(517);
  if (e->started) {
    Engine* was = cur;
    make_current(e);
    StopKeyedFileEngine();
    make_current(was);
  }
  for (size_t i = 0; i < ring.size(); ++i) {
    if (ring[i].get() == e) {
      bool was_current = (cur == e);
      if (was_current) cur = nullptr;
      ring.erase(ring.begin() + static_cast<long>(i));
      if (was_current && !ring.empty()) make_current(ring[i % ring.size()].get());
      break;
    }
  }
  uerr_cod = 0;
  return 0;
}

bool FindInstance(const char* name) { return find_engine(name) != nullptr; }

const char* NextInstance() {
  if (ring.empty() || !cur) return nullptr;
  for (size_t i = 0; i < ring.size(); ++i)
    if (ring[i].get() == cur) {
      make_current(ring[(i + 1) % ring.size()].get());
      break;
    }
  return cur->name.c_str();
}

const char* InstanceName() { return cur ? cur->name.c_str() : ""; }

// ---------------------------------------------------------------- start and stop

int16_t InitKeyedFileEngine(int16_t buffers, int16_t files, int16_t sectors) {
  if (!cur) {
    if (!find_engine(kDefaultInstance)) {
      if (RegisterInstance(kDefaultInstance)) return uerr_cod;
    } else {
      make_current(find_engine(kDefaultInstance));
    }
  }
  Engine& e = *cur;
  if (e.started) return fail(125);
  uerr_cod = 0;
  olsys_err = 0;
  if (sectors < 1 || files < 0) return fail(11);
  // Sizes beyond what the 16-bit header fields hold, and an empty cache, cannot work.
  if (sectors > 511 || buffers < 1) return fail(11);
  e.mode_word = 33;
  e.node_size = 128 * sectors;
  e.nfiles = files;
  e.sectors = sectors;
  e.handle_limit = 500;
  e.temp_seed = static_cast<uint32_t>(std::time(nullptr));
  e.files.assign(static_cast<size_t>(files), Fcb{});
  for (int16_t i = 0; i < files; ++i) {
    e.files[i].number = i;
    e.files[i].host = i;
  }
  size_t n = static_cast<size_t>(buffers);
  e.pages.assign(n, Page{});
  e.page_mem.assign(n * static_cast<size_t>(e.node_size), 0xFF);
  e.nodes.assign(n, NodeBuf{});
  e.node_mem.assign(n * static_cast<size_t>(e.node_size), 0);
  e.page_lru = {};
  e.node_lru = {};
  for (size_t i = 0; i < n; ++i) {
    e.pages[i].data = e.page_mem.data() + i * static_cast<size_t>(e.node_size);
    e.page_lru.push_front(e.pages, static_cast<int>(i));
    e.nodes[i].data = e.node_mem.data() + i * static_cast<size_t>(e.node_size);
    e.node_lru.push_front(e.nodes, static_cast<int>(i));
  }
  e.page_map.reset(n);
  e.page_bits = {};
  e.node_map.reset(n);
  e.open_files = e.open_numbers = 0;
  e.started = true;
  return 0;
}

bool KeyedFileEngineStarted() { return cur && cur->started; }

int16_t StopKeyedFileEngine() {
  if (!cur || !cur->started) return fail(410);
  uerr_cod = 0;
  int16_t first = 0;
  // Files of class 1 last.
  for (int pass = 0; pass < 2; ++pass)
    for (auto& f : cur->files) {
      if (pass == 0 && f.status == 's') close_plain_file(f);
      if ((f.status == 'y' || f.status == 'v') && f.host == f.number && ((f.h.file_class == 1) == (pass == 1))) {
        int16_t e = CloseOlFile(f.number, 0);
        if (e && !first) first = e;
      }
    }
  free_engine_buffers(*cur);
  cur->started = false;
  if (cur->name == kDefaultInstance) {
    std::string nm = cur->name;
    UnregisterInstance(nm.c_str());
  }
  uerr_cod = first;
  return first;
}

// ---------------------------------------------------------------- file numbers

int16_t AvailableFileNbr(int16_t count) {
  if (!cur || !cur->started) {
    uerr_cod = 47;
    return -1;
  }
  uerr_cod = 0;
  if (count < 1) return -1;
  for (int start = 0; start + count - 1 < cur->nfiles; ++start) {
    bool ok = true;
    for (int i = start; i < start + count && ok; ++i) ok = cur->files[i].status == 'n';
    if (ok) return static_cast<int16_t>(start);
  }
  uerr_cod = 46;
  return -1;
}

int16_t AvailablePairBelow(int16_t limit) {
  if (!cur || !cur->started) {
    uerr_cod = 47;
    return -1;
  }
  uerr_cod = 0;
  for (int n = std::min<int>(limit, cur->nfiles) - 2; n >= 0; --n)
    if (cur->files[n].status == 'n' && cur->files[n + 1].status == 'n') return static_cast<int16_t>(n);
  return -1;
}

// ---------------------------------------------------------------- create

static void base_header(Header& h) {
  std::memset(&h, 0, sizeof h);
  h.format = kFormat;
  h.c61 = 2;
  h.c62 = 4;
  h.c63 = 4;
  h.c96 = 255;
}

static int16_t fill_area_and_write(Fcb& f, int32_t area, bool split_write) {
  std::vector<uint8_t> ff(static_cast<size_t>(area), 0xFF);
  int16_t saved = uerr_cod;
  uerr_cod = 0;
  os_write(f.fd, 0, ff.data(), area, f.name.c_str());
  if (uerr_cod) return uerr_cod;
  const uint8_t* img = reinterpret_cast<const uint8_t*>(&f.h);
  ++f.h.write_count;
  if (split_write) {
    os_write(f.fd, f.hdr_pos, img, 12, f.name.c_str());
    if (!uerr_cod) os_write(f.fd, f.hdr_pos + 12, img + 12, 116, f.name.c_str());
  } else {
    os_write(f.fd, f.hdr_pos, img, 128, f.name.c_str());
  }
  if (uerr_cod) return uerr_cod;
  uerr_cod = saved;
  return 0;
}

static void count_open(int numbers) {
  ++cur->open_files;
  cur->open_numbers += numbers;
}

int16_t CreateDataFile(int16_t file, const char* name, uint16_t record_length, uint16_t extension, uint16_t mode) {
  uerr_cod = 0;
  if (!cur || !cur->started) return fail(47);
  mode &= 0x7FF6;
  if (mode & (OL_SPECIAL10 | OL_SPECIAL200)) return fail(53);
  Fcb* fp = file_slot(file);
  if (!fp) return uerr_cod;
  if (fp->status != 'n') return fail(46);
  if (!name || !*name) return fail(130);
  Fcb& f = *fp;
  Header h;
  base_header(h);
  bool variable = (mode & OL_VARIABLE) != 0;
  if (variable) {
    int32_t ns = 128 * std::min<int32_t>(cur->sectors, 4);
    if ((ns - 18) / 16 < 3) return fail(20);
    h.node_size = static_cast<uint16_t>(ns);
    space_index_capacities(h, ns);
    h.node_reuse = 2;
    h.file_type = OL_TYPE_VARIABLE;
    h.key_len = 12;
  } else {
    if (record_length < 5) return fail(21);
    h.file_type = OL_TYPE_FIXED;
  }
  h.rec_len = record_length;
  h.mode = mode;
  h.perm_bits = mode & 0x06F4;
  h.marker = 15;
  h.ext_size = (extension == 0 && (mode & OL_SPECIAL20)) ? 0x4000 : extension;
  h.pad_byte = 0;
  h.key_type = 0;
  h.dup_flag = 1;
  int32_t area = header_area(h, 0);
  h.logical_end = h.phys_end = area - 1;
  budget_handles(-1);
  int fd = os_create(name);
  if (fd < 0) return fail(17);
  reset_fcb(f);
  f.h = h;
  f.name.assign(name, strnlen(name, 254));
  f.fd = fd;
  f.hdr_pos = 0;
  f.status = 'y';
  f.open_mode = mode;
  f.cur_key.assign(variable ? 12 : 0, 0);
  fcb_touch(f);
  int16_t e = fill_area_and_write(f, area, variable);
  if (e) {
    os_close(fd);
    ::unlink(f.name.c_str());
    reset_fcb(f);
    return fail(e);
  }
  count_open(1);
  return 0;
}

int16_t CreateIndexFile(int16_t file, const char* name, int16_t key_length, int16_t key_type, int16_t duplicates,
                        int16_t members, uint16_t extension, uint16_t mode) {
  uerr_cod = 0;
  if (!cur || !cur->started) return fail(47);
  if (members < 0 || members > 31) return fail(23);
  if (file < 0 || file + members >= cur->nfiles) return fail(22);
  mode &= 0x7FF6;
  if (mode & (OL_SPECIAL10 | OL_SPECIAL200 | OL_VARIABLE)) return fail(53);
  for (int i = file; i <= file + members; ++i)
    if (cur->files[i].status != 'n') return fail(46);
  if (!name || !*name) return fail(130);
  Header h;
  base_header(h);
  h.node_size = static_cast<uint16_t>(cur->node_size);
  h.file_type = OL_TYPE_INDEX;
  h.key_len = key_length;
  h.key_type = static_cast<uint8_t>(key_type & 0xFF);
  h.dup_flag = duplicates ? 1 : 0;
  int16_t e = index_capacities(h, cur->node_size);
  if (e) return fail(e);
  h.node_reuse = (key_type & 0x10) ? 1 : 0;
  h.key_type = static_cast<uint8_t>(key_type & 0x0C);
  h.pad_byte = 32;
  h.marker = 8;
  h.members = members;
  h.mode = mode;
  h.perm_bits = mode & 0x06F4;
  h.ext_size = extension;
  if ((mode & OL_SPECIAL20) && extension <= h.node_size) {
    int32_t x = 8 * h.node_size;
    h.ext_size = static_cast<uint16_t>(x > 0xFFFF ? h.node_size : x);
  }
  int32_t area = header_area(h, members);
  h.logical_end = h.phys_end = area - 1;
  budget_handles(-1);
  int fd = os_create(name);
  if (fd < 0) return fail(16);
  Fcb& f = cur->files[file];
  reset_fcb(f);
  f.h = h;
  f.name.assign(name, strnlen(name, 254));
  f.fd = fd;
  f.status = 'y';
  f.open_mode = mode;
  f.cur_key.assign(static_cast<size_t>(key_length), 0);
  fcb_touch(f);
  e = fill_area_and_write(f, area, true);
  if (e) {
    os_close(fd);
    ::unlink(f.name.c_str());
    reset_fcb(f);
    return fail(e);
  }
  for (int j = 1; j <= members; ++j) {
    Fcb& m = cur->files[file + j];
    reset_fcb(m);
    m.host = file;
    m.status = 'm';
    m.reserved_member = true;
    m.name = f.name;
    m.open_mode = mode;
  }
  count_open(1 + members);
  return 0;
}

int16_t CreateIndexMember(int16_t host, int16_t member, int16_t key_length, int16_t key_type, int16_t duplicates) {
  uerr_cod = 0;
  Fcb* hp = open_file(host);
  if (!hp) return uerr_cod;
  Fcb& H = *hp;
  if (H.h.file_type != OL_TYPE_INDEX || H.host != H.number) return fail(48);
  if (member < 1 || member > H.h.members) return fail(23);
  Fcb& m = cur->files[host + member];
  if (m.status != 'm' || m.host != host) return fail(46);
  Header h = H.h;
  h.key_len = key_length;
  h.key_type = static_cast<uint8_t>(key_type & 0xFF);
  h.dup_flag = duplicates ? 1 : 0;
  int16_t e = index_capacities(h, H.h.node_size);
  if (e) return fail(e);
  h.node_reuse = (key_type & 0x10) ? 1 : 0;
  h.key_type = static_cast<uint8_t>(key_type & 0x0C);
  h.members = 0;
  h.member_no = member;
  h.hdr_pos = member * 128;
  h.root = 0;
  h.count = 0;
  h.first_leaf = 0;
  h.serial = 0;
  h.update_flag = 0;
  h.write_count = 0;
  // Bytes 0-11 of a member header are never used; the host keeps the ends and the chain.
  h.phys_end = h.release_head = h.logical_end = -1;
  m.h = h;
  m.hdr_pos = member * 128;
  m.status = 'y';
  m.reserved_member = false;
  m.defined_member = true;
  m.cur_key.assign(static_cast<size_t>(key_length), 0);
  e = mark_changed(m);
  if (!e) e = write_header(m, false);
  if (!e) e = finish_change(m);
  return e ? fail(e) : 0;
}

// ---------------------------------------------------------------- open

// Every geometry field a later operation relies on is checked here, so that damaged
// headers are refused at open instead of dividing by zero or reading out of bounds.
static int16_t check_geometry(const Header& h, int32_t engine_node_size, int32_t members) {
  switch (h.file_type) {
    case OL_TYPE_FIXED:
      if (h.rec_len < 5) return 21;
      break;
    case OL_TYPE_VARIABLE:
    case OL_TYPE_INDEX: {
      int32_t ns = h.node_size;
      if (ns < 128 || ns % 128 != 0 || ns > engine_node_size) return 40;
      if (h.file_type == OL_TYPE_VARIABLE && (h.key_len != 12 || h.dup_flag != 1 || h.key_type != 0)) return 13;
      if (h.key_len < 1) return 45;
      if (h.dup_flag > 1) return 13;
      if (h.dup_flag == 1 && h.key_len <= 4) return 45;
      int32_t ncomp = ((h.key_type & 4) ? 1 : 0) + ((h.key_type & 8) ? 1 : 0);
      int32_t maxe = h.key_len + ncomp + 4;
      if (h.nonleaf_area != ns - 18) return 20;
      if (h.leaf_cap < maxe || 18 + h.leaf_cap + h.key_len > ns) return 20;
      if (h.leaf_entries < 1 || h.leaf_entries > ns / 4) return 20;
      if ((ns - 18) / maxe < 3) return 20;
      break;
    }
    default:
      return 13;
  }
  int32_t area = header_area(h, members);
  if (h.logical_end < area - 1 || h.phys_end < h.logical_end) return 13;
  if (h.file_type != OL_TYPE_FIXED) {
    if (h.release_head < 0 || h.release_head > h.logical_end || h.root < 0 || h.root > h.logical_end) return 13;
  } else if (h.release_head < 0 || h.release_head > h.logical_end) {
    return 13;
  }
  if (h.count < 0) return 13;
  return 0;
}

static int16_t check_member_header(const Header& m, const Header& host, int32_t j, int32_t ns_engine) {
  if (m.key_type & 3) return 52;
  if (m.format != kFormat) return 43;
  if (m.member_no != j || m.hdr_pos != j * 128 || m.file_type != OL_TYPE_INDEX) return 23;
  if (m.node_size != host.node_size) return 40;
  Header g = m;
  g.logical_end = host.logical_end;
  g.phys_end = host.phys_end;
  g.release_head = host.release_head;
  int16_t e = check_geometry(g, ns_engine, host.members);
  if (e) return e;
  if (m.key_len >= 256) return 45;
  return 0;
}

int16_t OpenOlFile(int16_t file, const char* name, uint16_t mode) {
  uerr_cod = 0;
  Fcb* fp = file_slot(file);
  if (!fp) return uerr_cod;
  if (fp->status != 'n') return fail(46);
  if (!name || !*name) return fail(130);
  if ((mode & OL_SHARED) && (mode & OL_READONLY)) mode &= static_cast<uint16_t>(~OL_SHARED);
  if (mode & OL_PERMANENT_ALIAS) mode |= OL_PERMANENT;
  budget_handles(-1);
  int fd = os_open(name, mode);
  if (fd < 0) return fail(12);
  Header h;
  int16_t saved = uerr_cod;
  uerr_cod = 0;
  int32_t got = os_read(fd, 0, &h, 128, name);
  int16_t e = 0;
  if (got != 128) e = 13;
  uerr_cod = saved;
  int32_t k = 0;
  if (!e) {
    if ((h.flag_word != -1 && (h.flag_word & 1)) && !(mode & (OL_NO_MIRROR | OL_READONLY))) e = 550;
    else if (h.file_type > 2 || h.file_class > 6 || (h.file_type != OL_TYPE_INDEX && h.members != 0)) e = 13;
    else if (h.file_type != OL_TYPE_FIXED && h.node_size > cur->node_size) e = 40;
    else if ((mode & OL_VARIABLE) && h.file_type != OL_TYPE_VARIABLE) e = 48;
    else if (h.format != kFormat) e = 43;
    else if (h.key_len >= 256) e = 45;
    else if (h.update_flag == 'c') e = 15;
    else if (h.members < 0 || h.members >= 32 || h.member_no != 0 || h.hdr_pos != 0) e = 23;
    else if ((h.perm_bits & (OL_SPECIAL10 | OL_SPECIAL20)) && !(mode & OL_READONLY)) e = 53;
    else if (h.key_type & 3) e = 52;
    else if (h.file_type == OL_TYPE_INDEX && h.marker != 8) e = 13;
    else e = check_geometry(h, cur->node_size, h.members);
  }
  if (!e) {
    k = h.members;
    if (file + k >= cur->nfiles) e = 165;
    for (int j = 1; !e && j <= k; ++j)
      if (cur->files[file + j].status != 'n') e = 46;
  }
  std::vector<Header> mh(static_cast<size_t>(k));
  std::vector<bool> defined(static_cast<size_t>(k), false);
  for (int j = 1; !e && j <= k; ++j) {
    uerr_cod = 0;
    if (os_read(fd, j * 128, &mh[j - 1], 128, name) != 128) e = 13;
    uerr_cod = saved;
    if (e) break;
    const Header& m = mh[j - 1];
    bool blank = true;
    for (int b = 12; b < 128 && blank; ++b) blank = reinterpret_cast<const uint8_t*>(&m)[b] == 0xFF;
    if (blank) continue;  // reserved, never defined
    e = check_member_header(m, h, j, cur->node_size);
    defined[j - 1] = true;
  }
  if (e) {
    os_close(fd);
    return fail(e);
  }
  Fcb& f = cur->files[file];
  reset_fcb(f);
  f.name.assign(name, strnlen(name, 254));
  f.fd = fd;
  f.h = h;
  f.hdr_pos = 0;
  f.open_mode = mode;
  f.cur_key.assign(static_cast<size_t>(std::max<int16_t>(h.key_len, 0)), 0);
  f.status = 'y';
  if (h.update_flag != 0 && !(mode & OL_ACCEPT_UPDATED)) {
    // Refused: remember the refusal in the file itself, unless it is opened read-only.
    f.h.update_flag = 'R';
    if (!(mode & OL_READONLY)) {
      ++f.h.write_count;
      uerr_cod = 0;
      os_write(fd, 12, reinterpret_cast<uint8_t*>(&f.h) + 12, 116, name);
    }
    os_close(fd);
    reset_fcb(f);
    return fail(14);
  }
  if (f.h.flag_word == -1) f.h.flag_word = 0;
  if (!(mode & OL_READONLY) && (f.h.flag_word & 1)) {
    status_log_fmt(-199, "Following file is opened without mirror ...");
    status_log_fmt(-199, "%s", f.name.c_str());
    f.h.flag_word &= ~1;
  }
  uint16_t eff = static_cast<uint16_t>((mode & 0x7FCF) | h.perm_bits);
  if (eff & OL_SPECIAL10) eff &= static_cast<uint16_t>(~OL_WRITETHROUGH);
  f.open_mode = static_cast<uint16_t>(eff | (mode & (OL_SHARED | OL_READONLY)));
  fcb_touch(f);
  for (int j = 1; j <= k; ++j) {
    Fcb& m = cur->files[file + j];
    reset_fcb(m);
    m.host = file;
    m.name = f.name;
    m.open_mode = f.open_mode;
    if (defined[j - 1]) {
      m.h = mh[j - 1];
      m.hdr_pos = j * 128;
      m.cur_key.assign(static_cast<size_t>(m.h.key_len), 0);
      m.status = 'y';
      m.defined_member = true;
    } else {
      m.status = 'm';
      m.reserved_member = true;
    }
  }
  if (eff != h.mode && !(eff & (OL_READONLY | OL_PERMANENT))) {
    f.h.mode = eff;
    int16_t we = write_header(f, false);
    if (we) {
      CloseOlFile(file, 0);
      return fail(we);
    }
  }
  count_open(1 + k);
  uerr_cod = 0;
  return 0;
}

// ---------------------------------------------------------------- close and delete

int16_t CloseOlFile(int16_t file, uint16_t mode) {
  uerr_cod = 0;
  Fcb* fp = file_slot(file);
  if (!fp) return uerr_cod;
  if (fp->status == 'n') return fail(26);
  if (fp->status == 's') return close_plain_file(*fp);
  if (fp->host != fp->number) return fail(23);
  Fcb& f = *fp;
  int16_t first = 0;
  if (f.status == 'v' && fcb_fd(f) < 0) first = 38;
  int k = f.h.file_type == OL_TYPE_INDEX ? f.h.members : 0;
  if (f.fd >= 0) {
    if (f.h.file_type != OL_TYPE_FIXED) {
      int16_t e = node_flush_file(file, true);
      if (e && !first) first = e;
    }
    if (f.h.file_type != OL_TYPE_INDEX) {
      int16_t e = page_flush_file(file, true);
      if (e && !first) first = e;
    }
    uint8_t flag = f.h.update_flag;
    bool write_ends = flag != 0 || ((f.open_mode & OL_WRITETHROUGH) && f.hdr_dirty);
    if (flag == 0xFF) {
      f.h.close_time = static_cast<int32_t>(std::time(nullptr));
      f.h.update_flag = 0;
    }
    if (write_ends && !(f.open_mode & OL_READONLY)) {
      int16_t e = write_header(f, true);
      if (e && !first) first = e;
      for (int j = 1; j <= k; ++j) {
        Fcb& m = cur->files[file + j];
        if (m.status == 'y' && m.defined_member) {
          e = write_header(m, false);
          if (e && !first) first = e;
        }
      }
    }
  } else {
    node_drop_file(file);
    page_drop_file(file);
  }
  os_close(f.fd);
  f.fd = -1;
  // Members reserved but never defined are freed too: keeping them taken would lose
  // their file numbers for the rest of the run.
  for (int j = 0; j <= k; ++j) reset_fcb(cur->files[file + j]);
  if (cur->open_files > 0) --cur->open_files;
  cur->open_numbers = std::max(0, cur->open_numbers - (1 + k));
  uerr_cod = first;
  return first;
}

int16_t DeleteOlFile(int16_t file) {
  uerr_cod = 0;
  Fcb* fp = open_file(file);
  if (!fp) return uerr_cod;
  if (fp->host != fp->number) return fail(23);
  if (fp->open_mode & (OL_SHARED | OL_READONLY)) return fail(56);
  std::string name = fp->name;
  int16_t e = CloseOlFile(file, 0);
  int16_t d = os_delete(name.c_str());
  if (d) return fail(d);
  return e ? fail(e) : 0;
}

int16_t FlushFile(int16_t file) {
  uerr_cod = 0;
  if (!cur || !cur->started) return fail(47);
  int16_t first = 0;
  for (auto& f : cur->files) {
    if (file != -1 && f.number != file) continue;
    if ((f.status != 'y' && f.status != 'v') || f.host != f.number) continue;
    int16_t e = 0;
    if (f.h.file_type != OL_TYPE_FIXED) e = node_flush_file(f.number, false);
    if (!e && f.h.file_type != OL_TYPE_INDEX) e = page_flush_file(f.number, false);
    if (!e && f.hdr_dirty && !(f.open_mode & OL_READONLY)) e = write_header(f, true);
    if (e && !first) first = e;
  }
  if (file != -1 && file >= 0 && file < cur->nfiles && cur->files[file].status == 'n') return fail(26);
  uerr_cod = first;
  return first;
}

// ---------------------------------------------------------------- accessors

int32_t GetFileInfo(int16_t file, int16_t kind) {
  uerr_cod = 0;
  Fcb* fp = open_file(file);
  if (!fp) return -1;
  const Header& h = fp->h;
  const Header& H = host_of(*fp).h;
  switch (kind) {
    case 0: return h.rec_len;
    case 1: return h.key_len;
    case 2: return h.file_type;
    case 3: return fp->open_mode;
    case 4: return record_layer_data_file(file);
    case 5: return h.key_type;
    case 6: return h.dup_flag;
    case 10: return H.logical_end + 1;
    case 11: return H.phys_end + 1;
    case 12: return h.node_size;
    case 13: return h.member_no;
    case 14: return h.pad_byte;
    case 15: return 0;
    case 16: return 32;
    case 21: return 4;
    case 20: return h.marker;
    default: uerr_cod = 116; return -1;
  }
}

int16_t GetFileName(int16_t file, char* buffer, int32_t size, int16_t flag) {
  uerr_cod = 0;
  Fcb* fp = open_file(file);
  if (!fp) return uerr_cod;
  if (flag) return fail(116);
  if (!buffer) return fail(33);
  if (size <= 0 || static_cast<size_t>(size) <= fp->name.size()) return fail(153);
  std::snprintf(buffer, static_cast<size_t>(size), "%s", fp->name.c_str());
  return 0;
}

int16_t PutHeaderValue(int16_t file, int16_t kind, int32_t value) {
  uerr_cod = 0;
  Fcb* fp = open_file(file);
  if (!fp) return uerr_cod;
  Fcb& f = *fp;
  if ((f.open_mode & (OL_SHARED | OL_READONLY)) && !(kind & 0x20)) return fail(62);
  if (f.open_mode & OL_READONLY) return fail(54);
  switch (kind) {
    case 1: f.h.serial = value; break;
    case 2: f.h.close_time = value; break;
    case 3: f.h.count = value; break;
    case 4: f.h.res88 = value; break;
    case 17:
    case 18: std::memcpy(reinterpret_cast<uint8_t*>(&f.h) + 60, &value, 4); break;
    case 33:
      if (f.h.file_type == OL_TYPE_INDEX) return fail(48);
      if (value) f.h.flag_word |= 8; else f.h.flag_word &= ~8;
      break;
    default: return fail(116);
  }
  int16_t e = mark_changed(f);
  if (!e) e = write_header(f, false);
  return e ? fail(e) : 0;
}

int16_t SetFileMode(int16_t file, uint16_t mode) {
  uerr_cod = 0;
  Fcb* fp = open_file(file);
  if (!fp) return uerr_cod;
  Fcb& f = host_of(*fp);
  if (f.open_mode & (OL_SHARED | OL_READONLY)) return fail(62);
  if (((mode & OL_VARIABLE) != 0) != (f.h.file_type == OL_TYPE_VARIABLE)) return fail(48);
  int k = f.h.file_type == OL_TYPE_INDEX ? f.h.members : 0;
  for (int j = 0; j <= k; ++j) {
    Fcb& m = cur->files[f.number + j];
    if (j > 0 && !m.defined_member) continue;
    m.h.mode = mode;
    int16_t e = write_header(m, false);
    if (e) return fail(e);
  }
  return 0;
}

int32_t SerialNumber(int16_t file) {
  uerr_cod = 0;
  Fcb* fp = open_file(file);
  if (!fp) return 0;
  Fcb& f = *fp;
  if (cur->mode_word & 0x80000) {
    if (mark_changed(f)) return 0;
    if (++f.h.serial == 0) {
      uerr_cod = 44;
      return 0;
    }
    finish_change(f);
  }
  return f.h.serial;
}

int32_t SetEngineMode(int32_t bits, int16_t action) {
  uerr_cod = 0;
  if (!cur) {
    uerr_cod = 516;
    return 0;
  }
  if (bits & 0x2E10) {
    uerr_cod = 116;
    return cur->mode_word;
  }
  if (bits & (0x04 | 0x20)) {
    if ((bits != 0x04 && bits != 0x20) || action < 0 || action > 3) {
      uerr_cod = 116;
      return cur->mode_word;
    }
    if (action == 1) action = 2;
  }
  if (bits & 8) {
    cur->aux = action;
    if (action) cur->mode_word |= bits; else cur->mode_word &= ~bits;
    return cur->mode_word;
  }
  switch (action) {
    case 0: cur->mode_word &= ~bits; break;
    case 1: cur->mode_word = (cur->mode_word & 0x106010) | bits; break;
    case 2: cur->mode_word |= bits; break;
    case 3: break;
    case 4: return cur->aux;
    default: uerr_cod = 116; break;
  }
  return cur->mode_word;
}

int32_t ActiveRecordCount(int16_t file) {
  uerr_cod = 0;
  Fcb* fp = open_file(file);
  if (!fp) return 0;
  if (fp->h.file_type != OL_TYPE_FIXED) {
    uerr_cod = 48;
    return 0;
  }
  return fp->h.count;
}

int32_t KeyCount(int16_t file) {
  uerr_cod = 0;
  Fcb* fp = open_file(file);
  if (!fp) return 0;
  if (fp->h.file_type == OL_TYPE_FIXED) {
    uerr_cod = 48;
    return 0;
  }
  return fp->h.count;
}

void SetHandleLimit(int32_t limit) {
  if (cur) cur->handle_limit = limit < 1 ? 1 : limit;
}

int32_t OpenHandleCount() { return cur ? cur->open_handles : 0; }

int16_t MakeTempName(char* buffer, int32_t size) {
  uerr_cod = 0;
  if (!buffer || size <= 0) return fail(153);
  if (!cur || !(cur->mode_word & 0x80)) {
    char tmpl[] = "/tmp/olXXXXXX";
    int fd = mkstemp(tmpl);
    if (fd < 0) return fail(155);
    ::close(fd);
    ::unlink(tmpl);
    if (static_cast<size_t>(size) <= std::strlen(tmpl)) return fail(153);
    std::snprintf(buffer, static_cast<size_t>(size), "%s", tmpl);
    return 0;
  }
  if (!cur->started) return fail(47);
  size_t dlen = strnlen(buffer, static_cast<size_t>(size));
  if (dlen > 254) dlen = 254;
  if (static_cast<int32_t>(dlen) >= size - 8) return fail(153);
  std::string base(buffer, dlen);
  uint32_t v = static_cast<uint32_t>(std::time(nullptr));
  int clashes = 0;
  for (int guard = 0; guard < 1000; ++guard) {
    cur->temp_seed = cur->temp_seed * 11737u + 3731u;
    v += cur->temp_seed;
    char name[300];
    char digits[8];
    uint32_t w = v;
    for (int i = 0; i < 7; ++i) {
      digits[i] = "0123456789ABCDEF"[w & 15];
      w >>= 4;
    }
    digits[7] = 0;
    std::snprintf(name, sizeof name, "%sT%s", base.c_str(), digits);
    int16_t n = AvailableFileNbr(1);
    if (n < 0) return uerr_cod;
    int16_t e = CreateDataFile(n, name, 128, 0, 0x1800);
    if (e == 0) {
      DeleteOlFile(n);
      std::snprintf(buffer, static_cast<size_t>(size), "%s", name);
      uerr_cod = 0;
      return 0;
    }
    if (e == 17) {
      if (olsys_err != EEXIST) return fail(17);
      if (++clashes >= 5) return fail(17);
    } else if (e != 19) {
      return fail(e);
    }
  }
  return fail(17);
}
