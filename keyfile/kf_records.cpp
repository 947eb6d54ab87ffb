// The record-level layer over files, keys and records. Its tables belong to the engine
// instance that was current when the layer started.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "keyfile/kf_internal.h"
#include "keyfile/records.h"

namespace ol {
namespace {

constexpr int kMaxIndexes = 32;
constexpr int kMaxSegments = 12;
constexpr int kMaxLayerFiles = 20;
constexpr uint8_t kPad = ' ';      // the pad byte without a record schema
constexpr uint8_t kDelimiter = 0;  // the variable-field delimiter without a schema

struct Segment {
  int16_t offset = -1, length = 0, mode = 0;
};
struct IndexTable {
  int16_t data_file = -1;
  int16_t options = 0;
  uint8_t null_byte = 0;
  Segment segments[kMaxSegments];
};
struct DataTable {
  std::vector<int16_t> indexes;
  int16_t serial_offset = -1;
  std::map<int16_t, std::vector<uint8_t>> current_keys;  // per index, of the current record
};
// Prefix-set navigation: one entry per index in a small hash table.
struct SetEntry {
  int16_t file = -1;
  int16_t length = 0;
  uint8_t prefix[255] = {};
};
constexpr size_t kSetBuckets = 6;
struct SetTable {
  std::vector<SetEntry> buckets[kSetBuckets];
  SetEntry* find(int16_t file) {
    for (SetEntry& e : buckets[size_t(file) % kSetBuckets])
      if (e.file == file) return &e;
    return nullptr;
  }
};
// The alternate collating table of segment flag 0x20 (none set: bytes keep their order).
struct Collating {
  uint8_t to_key[256];
  uint8_t from_key[256];
  bool reversible = true;
};
struct LockEntry {
  int16_t file;
  int16_t kind;
  int32_t position;
  bool flagged;
};
struct Tables {
  std::vector<IndexTable> index;
  std::vector<DataTable> data;
  std::unique_ptr<SetTable> sets;
  std::unique_ptr<Collating> alternate;
  std::vector<LockEntry> locks;
  int16_t lock_mode = 0;
  int16_t error = 0, error_file = 0;
};

std::map<std::string, Tables> all_tables;

Tables* layer() {
  if (!cur || !cur->started) return nullptr;
  auto it = all_tables.find(cur->name);
  return it == all_tables.end() ? nullptr : &it->second;
}

int16_t layer_fail(Tables* t, int16_t code, int16_t file) {
  if (t) {
    t->error = code;
    t->error_file = file;
  }
  uerr_cod = code;
  return code;
}

// FormKey's failure: the error set, -1 returned.
int16_t key_fail(Tables* t, int16_t code, int16_t file) {
  layer_fail(t, code, file);
  return -1;
}

bool valid_number(Tables* t, int16_t file) { return t && file >= 0 && file < int16_t(t->index.size()); }

// Transforms one segment's bytes into key form.
int16_t transform(uint8_t* b, int len, int16_t mode, const Collating* alt) {
  int16_t base = mode & 0x0F;
  if (mode & ~0x7F) return 446;
  switch (base) {
    case 0: case 4: case 7: break;
    case 1: case 3: std::reverse(b, b + len); break;
    case 2: case 5:
      for (int i = 0; i < len; ++i)
        if (b[i] >= 'a' && b[i] <= 'z') b[i] = uint8_t(b[i] - 32);
      break;
    case 6:
      if (len > 0) {
        if (b[0] < 16) {
          b[0] |= 0xF0;
        } else {
          for (int i = 0; i < len; ++i) b[i] = uint8_t(153 - b[i]);
          b[0] &= 0x0F;
        }
      }
      break;
    case 8:
      std::reverse(b, b + len);
      if (len > 0) b[0] ^= 0x80;
      break;
    case 9:
      std::reverse(b, b + len);
      if (len > 0) {
        if (b[0] & 0x80)
          for (int i = 0; i < len; ++i) b[i] = uint8_t(~b[i]);
        else
          b[0] |= 0x80;
      }
      break;
    case 10: {
      if (len != 10) return 446;
      uint8_t digit[16];
      for (int i = 0; i < 16; ++i) digit[i] = (i & 1) ? b[2 + i / 2] >> 4 : b[2 + i / 2] & 15;
      int zeros = 0;
      while (zeros < 16 && digit[15 - zeros] == 0) ++zeros;
      uint8_t shifted[16] = {};
      for (int i = 0; i + zeros < 16; ++i) shifted[i + zeros] = digit[i];
      uint8_t field[10];
      field[0] = b[0];
      field[1] = uint8_t(b[1] - zeros);
      for (int k = 0; k < 8; ++k) field[2 + k] = uint8_t(shifted[2 * k] | (shifted[2 * k + 1] << 4));
      b[0] = field[0] == 0 ? 1 : 0;
      b[1] = field[1] ^ 0x80;
      for (int k = 0; k < 8; ++k) b[2 + k] = field[9 - k];
      break;
    }
    case 11: return 446;
    default: return 199;  // 12-15 take their mode from a record schema, and there is none
  }
  if (mode & SEG_PADS_FIRST) {
    int end = len;
    while (end > 0 && (b[end - 1] == kPad || b[end - 1] == 0)) --end;
    std::rotate(b, b + end, b + len);
    std::reverse(b, b + len);
  }
  if ((mode & SEG_ALTERNATE) && alt)
    for (int i = 0; i < len; ++i) b[i] = alt->to_key[b[i]];
  if (mode & SEG_DESCENDING)
    for (int i = 0; i < len; ++i) b[i] = uint8_t(~b[i]);
  return 0;
}

// The reverse of transform, where the mode allows it.
int16_t untransform(uint8_t* b, int len, int16_t mode, const Collating* alt) {
  int16_t base = mode & 0x0F;
  if (mode & ~0x7F) return 446;
  if (base == 6 || base == 7 || base == 11) return 446;
  if (base >= 12) return 199;
  // A table that folds bytes together cannot give them back.
  if ((mode & SEG_ALTERNATE) && alt && !alt->reversible) return 446;
  if (mode & SEG_DESCENDING)
    for (int i = 0; i < len; ++i) b[i] = uint8_t(~b[i]);
  if ((mode & SEG_ALTERNATE) && alt)
    for (int i = 0; i < len; ++i) b[i] = alt->from_key[b[i]];
  if (mode & SEG_PADS_FIRST) {
    std::reverse(b, b + len);
    int start = 0;
    while (start < len && (b[start] == kPad || b[start] == 0)) ++start;
    std::rotate(b, b + start, b + len);
  }
  switch (base) {
    case 1: case 3: std::reverse(b, b + len); break;
    case 8:
      if (len > 0) b[0] ^= 0x80;
      std::reverse(b, b + len);
      break;
    case 9:
      if (len > 0) {
        if (b[0] & 0x80)
          b[0] &= 0x7F;
        else
          for (int i = 0; i < len; ++i) b[i] = uint8_t(~b[i]);
      }
      std::reverse(b, b + len);
      break;
    case 10: {
      if (len != 10) return 446;
      uint8_t key[10];
      std::memcpy(key, b, 10);
      b[0] = key[0] == 1 ? 0 : 1;
      b[1] = key[1] ^ 0x80;
      for (int k = 0; k < 8; ++k) b[2 + k] = key[9 - k];
      break;
    }
    default: break;  // unchanged, or not to be undone (upper case)
  }
  return 0;
}

// The bytes of variable field n (after the fixed part), padded to length.
bool variable_field(const uint8_t* record, int32_t fixed, int32_t record_length, int n, uint8_t* out, int length) {
  int32_t p = fixed;
  for (int i = 0; i < n; ++i) {
    while (p < record_length && record[p] != kDelimiter) ++p;
    if (p >= record_length) return false;
    ++p;
  }
  int k = 0;
  while (p < record_length && record[p] != kDelimiter && k < length) out[k++] = record[p++];
  while (k < length) out[k++] = kPad;
  return true;
}

int16_t index_key_length(int16_t index) {
  Fcb* f = open_file(index);
  return f ? f->h.key_len : -1;
}
bool index_dup(int16_t index) {
  Fcb* f = open_file(index);
  return f && f->h.dup_flag;
}

// Forms the whole key of index for the record (the position suffix included on a duplicate
// index). Returns 0, or an error; *none when the options say the record has no key.
int16_t whole_key(Tables* t, int16_t index, const uint8_t* record, int32_t record_length, int32_t position,
                  std::vector<uint8_t>* key, bool* none) {
  uint8_t buffer[256];
  int16_t n = FormKey(index, record, buffer, record_length);
  if (n < 0) return uerr_cod;
  int16_t klen = index_key_length(index);
  bool dup = index_dup(index);
  int16_t part = int16_t(dup ? klen - 4 : klen);
  if (klen < 0 || n > part) return layer_fail(t, 445, index);
  key->assign(buffer, buffer + n);
  key->resize(size_t(part), 0);
  const IndexTable& it = t->index[size_t(index)];
  *none = (it.options & 3) == 1 &&
          std::all_of(key->begin(), key->end(), [&](uint8_t b) { return b == it.null_byte; });
  if (dup)
    for (int s = 24; s >= 0; s -= 8) key->push_back(uint8_t(uint32_t(position) >> s));
  return 0;
}

void add_lock(Tables* t, int16_t file, int32_t position) {
  if (t->lock_mode == 0 || t->lock_mode == 5) return;
  int16_t kind = t->lock_mode == 3 ? 2 : t->lock_mode == 11 ? 4 : t->lock_mode;
  for (LockEntry& e : t->locks)
    if (e.file == file && e.position == position) {
      e.kind = kind;
      e.flagged = true;
      return;
    }
  t->locks.push_back(LockEntry{file, kind, position, true});
}

// Reads the record at position of data into out and checks it is active.
int16_t read_active(Tables* t, int16_t data, int32_t position, uint8_t* out, int32_t size, int32_t* length) {
  Fcb* f = open_file(data);
  if (!f) return layer_fail(t, uerr_cod, data);
  if (f->h.file_type == OL_TYPE_FIXED) {
    if (size < f->h.rec_len) return layer_fail(t, 153, data);
    if (ReadData(data, position, out)) return layer_fail(t, uerr_cod, data);
    if (out[0] == 0xFF || out[0] == 0xFE) return layer_fail(t, 114, data);
    *length = f->h.rec_len;
    return 0;
  }
  VHeader v{};
  if (int16_t e = read_vheader(*f, position, v)) return layer_fail(t, e, data);
  if (v.mark != kMarkUsed || v.used == 0) return layer_fail(t, 114, data);
  if (ReadVData(data, position, out, size)) return layer_fail(t, uerr_cod, data);
  *length = v.used;
  return 0;
}

// Makes position the data file's current record and remembers every index's key of it.
int16_t make_current(Tables* t, int16_t data, int32_t position, const uint8_t* record, int32_t length) {
  Fcb* f = open_file(data);
  if (!f) return layer_fail(t, uerr_cod, data);
  f->cur_rec = position;
  DataTable& d = t->data[size_t(data)];
  d.current_keys.clear();
  for (int16_t index : d.indexes) {
    std::vector<uint8_t> key;
    bool none = false;
    if (whole_key(t, index, record, length, position, &key, &none) == 0) d.current_keys[index] = key;
  }
  add_lock(t, data, position);
  return 0;
}

// Reads the record a key of index points at, checking that it still forms that key.
int16_t read_through(Tables* t, int16_t index, int32_t position, const uint8_t* found_key, void* out, int32_t size) {
  int16_t data = t->index[size_t(index)].data_file;
  int32_t length = 0;
  uint8_t* record = static_cast<uint8_t*>(out);
  if (int16_t e = read_active(t, data, position, record, size, &length)) return e;
  std::vector<uint8_t> key;
  bool none = false;
  if (int16_t e = whole_key(t, index, record, length, position, &key, &none)) return e;
  if (std::memcmp(key.data(), found_key, key.size()) != 0) return layer_fail(t, 160, index);
  return make_current(t, data, position, record, length);
}

Tables* index_of_layer(int16_t index) {
  Tables* t = layer();
  if (!t) {
    uerr_cod = 47;
    return nullptr;
  }
  if (!valid_number(t, index) || t->index[size_t(index)].data_file < 0) {
    layer_fail(t, 80, index);
    return nullptr;
  }
  return t;
}

// The search target for a key value: transformed unless the instance takes raw keys; on a
// duplicate index the position suffix is the lowest or highest possible.
int16_t target_of(Tables* t, int16_t index, const void* value, bool high, std::vector<uint8_t>* target) {
  int16_t klen = index_key_length(index);
  if (klen < 0) return layer_fail(t, uerr_cod, index);
  bool dup = index_dup(index);
  int16_t part = int16_t(dup ? klen - 4 : klen);
  target->assign(static_cast<const uint8_t*>(value), static_cast<const uint8_t*>(value) + part);
  if (!(cur->mode_word & RECORD_KEYS_RAW)) {
    int pos = 0;
    for (const Segment& s : t->index[size_t(index)].segments) {
      if (s.offset < 0) break;
      if (pos + s.length > part) return layer_fail(t, 445, index);
      if (int16_t e = transform(target->data() + pos, s.length, s.mode, t->alternate.get())) return layer_fail(t, e, index);
      pos += s.length;
    }
  }
  if (dup) target->insert(target->end(), 4, high ? 0xFF : 0x00);
  return 0;
}

enum Search { EQUAL, AT_LEAST, AFTER, AT_MOST, BEFORE };

int16_t read_by_key(int16_t index, const void* value, void* out, int32_t size, Search kind) {
  Tables* t = index_of_layer(index);
  if (!t) return uerr_cod;
  if (!value || !out) return layer_fail(t, 33, index);
  bool high = kind == AFTER || kind == AT_MOST;
  std::vector<uint8_t> target;
  if (int16_t e = target_of(t, index, value, high, &target)) return e;
  uint8_t found[256];
  int32_t position = 0;
  bool dup = index_dup(index);
  switch (kind) {
    case EQUAL:
      if (dup) {
        position = GetKeyAtLeast(index, target.data(), found);
        if (position && std::memcmp(found, target.data(), target.size() - 4) != 0) position = 0;
      } else {
        position = GetKey(index, target.data());
        std::memcpy(found, target.data(), target.size());
      }
      break;
    case AT_LEAST: position = GetKeyAtLeast(index, target.data(), found); break;
    case AFTER: position = GetKeyAfter(index, target.data(), found); break;
    case AT_MOST: position = GetKeyAtMost(index, target.data(), found); break;
    case BEFORE: position = GetKeyBefore(index, target.data(), found); break;
  }
  if (!position) return layer_fail(t, uerr_cod ? uerr_cod : 101, index);
  return read_through(t, index, position, found, out, size);
}

// Physical order over a data file: the next (or previous) active record after position
// (0: from the start or the end).
int16_t physical_step(Tables* t, int16_t data, int32_t from, bool forward, void* out, int32_t size) {
  Fcb* f = open_file(data);
  if (!f) return layer_fail(t, uerr_cod, data);
  const Header& h = f->h;
  int32_t area = header_area(h, 0);
  int32_t end = h.logical_end;  // last byte in use
  uint8_t* record = static_cast<uint8_t*>(out);
  if (h.file_type == OL_TYPE_FIXED) {
    int32_t rl = h.rec_len ? h.rec_len : 1;
    if (size < rl) return layer_fail(t, 153, data);
    int32_t pos = from ? from + (forward ? rl : -rl) : (forward ? area : area + ((end + 1 - area) / rl - 1) * rl);
    for (int64_t guard = 0; pos >= area && int64_t(pos) + rl - 1 <= end; ++guard) {
      if (ReadData(data, pos, record)) return layer_fail(t, uerr_cod, data);
      if (record[0] != 0xFF && record[0] != 0xFE) return make_current(t, data, pos, record, rl);
      int32_t step = rl;
      if (forward && record[0] == 0xFE) {
        int32_t skip = 0;
        std::memcpy(&skip, record + 2, 4);
        if (skip > rl && skip % rl == 0) step = skip;
      }
      pos += forward ? step : -rl;
      if (guard > (int64_t(end) / rl) + 2) break;
    }
    return layer_fail(t, 101, data);
  }
  // Variable pieces: each a 10-byte header and its total length; walk forward from the start.
  int32_t pos = area, previous = 0, found = 0;
  for (int64_t guard = 0; pos >= area && int64_t(pos) + 9 <= end && guard < (int64_t(end) / 10) + 2; ++guard) {
    VHeader v{};
    if (read_vheader(*f, pos, v)) break;
    bool active = v.mark == kMarkUsed && v.used > 0;
    if (forward) {
      if (active && pos > from) {
        found = pos;
        break;
      }
    } else {
      if (from && pos >= from) break;
      if (active) previous = pos;
    }
    pos += v.total;
  }
  if (!forward) found = previous;
  if (!found) return layer_fail(t, 101, data);
  int32_t length = 0;
  if (int16_t e = read_active(t, data, found, record, size, &length)) return e;
  return make_current(t, data, found, record, length);
}

int16_t step_record(int16_t file, void* out, int32_t size, int which) {
  Tables* t = layer();
  if (!t) return fail(47);
  if (!valid_number(t, file) || !out) return layer_fail(t, out ? 80 : 33, file);
  if (t->index[size_t(file)].data_file >= 0) {
    uint8_t key[256];
    int32_t position = which == 0 ? FirstKey(file, key) : which == 1 ? LastKey(file, key)
                       : which == 2 ? NextKey(file, key) : PreviousKey(file, key);
    if (!position) return layer_fail(t, uerr_cod ? uerr_cod : 101, file);
    return read_through(t, file, position, key, out, size);
  }
  Fcb* f = open_file(file);
  if (!f) return layer_fail(t, uerr_cod, file);
  bool forward = which == 0 || which == 2;
  int32_t from = which <= 1 ? 0 : f->cur_rec;
  if (which >= 2 && from == 0) return layer_fail(t, 100, file);
  return physical_step(t, file, from, forward, out, size);
}

int16_t set_step(int16_t index, void* out, int32_t size, bool forward) {
  Tables* t = index_of_layer(index);
  if (!t) return uerr_cod;
  SetEntry* set = t->sets ? t->sets->find(index) : nullptr;
  if (!set) return layer_fail(t, 118, index);
  uint8_t key[256];
  int32_t position = forward ? NextKey(index, key) : PreviousKey(index, key);
  if (!position || std::memcmp(key, set->prefix, size_t(set->length)) != 0) return layer_fail(t, 101, index);
  return read_through(t, index, position, key, out, size);
}

Tables* data_of_layer(int16_t data) {
  Tables* t = layer();
  if (!t) {
    uerr_cod = 47;
    return nullptr;
  }
  if (!valid_number(t, data)) {
    layer_fail(t, 80, data);
    return nullptr;
  }
  Fcb* f = open_file(data);
  if (!f) {
    layer_fail(t, uerr_cod, data);
    return nullptr;
  }
  if (f->h.file_type != OL_TYPE_FIXED) {
    layer_fail(t, 48, data);
    return nullptr;
  }
  return t;
}

}  // namespace
}  // namespace ol

using namespace ol;

int16_t StartRecordLayer(int16_t buffers, int16_t files, int16_t sectors, int16_t data_pages, int32_t mode) {
  (void)data_pages;  // the engine sizes its page pool from the buffers
  if (layer()) return fail(125);
  if (files > kMaxLayerFiles) return fail(104);
  if (int16_t e = InitKeyedFileEngine(buffers, files, sectors)) return e;
  cur->mode_word = mode;
  Tables& t = all_tables[cur->name];
  t = Tables{};
  t.index.assign(size_t(files), IndexTable{});
  t.data.assign(size_t(files), DataTable{});
  return 0;
}

int16_t StopRecordLayer() {
  if (cur) all_tables.erase(cur->name);
  return StopKeyedFileEngine();
}

int16_t RecordLayerError() {
  Tables* t = layer();
  return t ? t->error : 0;
}
int16_t RecordLayerFile() {
  Tables* t = layer();
  return t ? t->error_file : 0;
}

int16_t SetSegment(int16_t index, int16_t segment, int16_t offset, int16_t length, int16_t mode) {
  Tables* t = layer();
  if (!t) return fail(47);
  if (!valid_number(t, index) || segment < 0 || segment >= kMaxSegments) return layer_fail(t, 80, index);
  if (offset >= 0 && (length <= 0 || length > 255)) return layer_fail(t, 445, index);
  t->index[size_t(index)].segments[segment] = Segment{offset, length, mode};
  uerr_cod = 0;
  return 0;
}

int16_t SetKeyOptions(int16_t index, int16_t, int16_t options, uint8_t null_byte, int16_t data_file) {
  Tables* t = layer();
  if (!t) return fail(47);
  if (!valid_number(t, index) || !valid_number(t, data_file) || index == data_file) return layer_fail(t, 80, index);
  IndexTable& it = t->index[size_t(index)];
  if (it.data_file >= 0) {
    auto& old = t->data[size_t(it.data_file)].indexes;
    old.erase(std::remove(old.begin(), old.end(), index), old.end());
  }
  auto& list = t->data[size_t(data_file)].indexes;
  if (int(list.size()) >= kMaxIndexes) return layer_fail(t, 80, data_file);
  it.data_file = data_file;
  it.options = options;
  it.null_byte = null_byte;
  list.push_back(index);
  uerr_cod = 0;
  return 0;
}

int16_t GetSegment(int16_t index, int16_t segment, int16_t what) {
  Tables* t = layer();
  if (!t || !valid_number(t, index) || segment < 0 || segment >= kMaxSegments) return -1;
  const Segment& s = t->index[size_t(index)].segments[segment];
  return what == 1 ? s.length : what == 2 ? s.mode : what == 3 ? s.offset : -1;
}

int16_t DropSegments(int16_t index, int16_t from) {
  Tables* t = layer();
  if (!t) return fail(47);
  if (!valid_number(t, index) || from < 0) return layer_fail(t, 80, index);
  for (int s = from; s < kMaxSegments; ++s) t->index[size_t(index)].segments[s] = Segment{};
  uerr_cod = 0;
  return 0;
}

int16_t SetSerialField(int16_t data_file, int16_t offset) {
  Tables* t = layer();
  if (!t) return fail(47);
  if (!valid_number(t, data_file)) return layer_fail(t, 80, data_file);
  t->data[size_t(data_file)].serial_offset = offset < 0 ? -1 : offset;
  uerr_cod = 0;
  return 0;
}

int16_t FormKey(int16_t index, const void* record, void* key_out, int32_t record_length) {
  Tables* t = layer();
  if (!t) {
    fail(47);
    return -1;
  }
  if (!valid_number(t, index)) return key_fail(t, 80, index);
  const uint8_t* rec = static_cast<const uint8_t*>(record);
  uint8_t* key = static_cast<uint8_t*>(key_out);
  if (!rec || !key) return key_fail(t, 33, index);
  const IndexTable& it = t->index[size_t(index)];
  int32_t fixed = 0;
  if (it.data_file >= 0)
    if (Fcb* f = open_file(it.data_file)) fixed = f->h.rec_len;
  int n = 0;
  for (const Segment& s : it.segments) {
    if (s.offset < 0) break;
    if (n + s.length > 255) return key_fail(t, 445, index);
    int base = s.mode & 0x0F;
    if (base == 4 || base == 5) {
      if (!variable_field(rec, fixed, record_length, s.offset, key + n, s.length))
        return key_fail(t, 445, index);
    } else {
      if (int64_t(s.offset) + s.length > record_length) return key_fail(t, 445, index);
      std::memcpy(key + n, rec + s.offset, size_t(s.length));
    }
    if (int16_t e = transform(key + n, s.length, s.mode, t->alternate.get())) return key_fail(t, e, index);
    n += s.length;
  }
  uerr_cod = 0;
  return int16_t(n);
}

int16_t KeyToRecord(int16_t index, const void* key, void* record_out, int32_t record_length) {
  Tables* t = layer();
  if (!t) return fail(47);
  if (!valid_number(t, index)) return layer_fail(t, 80, index);
  const uint8_t* k = static_cast<const uint8_t*>(key);
  uint8_t* rec = static_cast<uint8_t*>(record_out);
  if (!k || !rec) return layer_fail(t, 33, index);
  int n = 0;
  for (const Segment& s : t->index[size_t(index)].segments) {
    if (s.offset < 0) break;
    int base = s.mode & 0x0F;
    if (base == 4 || base == 5) return layer_fail(t, 446, index);  // fields cannot be put back in place
    if (int64_t(s.offset) + s.length > record_length) return layer_fail(t, 445, index);
    uint8_t piece[256];
    std::memcpy(piece, k + n, size_t(s.length));
    if (int16_t e = untransform(piece, s.length, s.mode, t->alternate.get())) return layer_fail(t, e, index);
    std::memcpy(rec + s.offset, piece, size_t(s.length));
    n += s.length;
  }
  uerr_cod = 0;
  return 0;
}

int16_t AddRecord(int16_t data, void* record) {
  Tables* t = data_of_layer(data);
  if (!t) return uerr_cod;
  if (!record) return layer_fail(t, 33, data);
  uint8_t* rec = static_cast<uint8_t*>(record);
  Fcb* f = open_file(data);
  int32_t length = f->h.rec_len;
  int32_t position = NewData(data);
  if (!position) return layer_fail(t, uerr_cod, data);
  DataTable& d = t->data[size_t(data)];
  if (d.serial_offset >= 0 && d.serial_offset + 4 <= length) {
    int32_t serial = SerialNumber(data);
    std::memcpy(rec + d.serial_offset, &serial, 4);
  }
  std::vector<std::pair<int16_t, std::vector<uint8_t>>> added;
  int16_t error = WriteData(data, position, rec) ? uerr_cod : 0;
  int16_t failed_file = data;
  for (size_t i = 0; !error && i < d.indexes.size(); ++i) {
    int16_t index = d.indexes[i];
    std::vector<uint8_t> key;
    bool none = false;
    error = whole_key(t, index, rec, length, position, &key, &none);
    if (!error && !none) {
      error = AddKey(index, key.data(), position, 0);
      if (!error) added.emplace_back(index, key);
    }
    if (error) failed_file = index;
  }
  if (error) {
    // Undo: the keys added so far, then the record.
    bool undone = true;
    for (auto& [index, key] : added) undone &= DeleteKey(index, key.data(), position) == 0;
    undone &= ReleaseData(data, position) == 0;
    return layer_fail(t, undone ? error : 105, failed_file);
  }
  uerr_cod = 0;
  return make_current(t, data, position, rec, length);
}

// The data file's current record and where it lies: 0, or the layer's error (100 when
// there is none).
static int16_t read_current(Tables* t, int16_t data, int32_t& position, std::vector<uint8_t>& record) {
  Fcb* f = open_file(data);
  position = f->cur_rec;
  if (!position) return layer_fail(t, 100, data);
  record.resize(static_cast<size_t>(f->h.rec_len));
  int32_t got = 0;
  return read_active(t, data, position, record.data(), f->h.rec_len, &got);
}

int16_t RewriteRecord(int16_t data, const void* record) {
  Tables* t = data_of_layer(data);
  if (!t) return uerr_cod;
  if (!record) return layer_fail(t, 33, data);
  int32_t position = 0;
  std::vector<uint8_t> old;
  if (int16_t e = read_current(t, data, position, old)) return e;
  const int32_t length = static_cast<int32_t>(old.size());
  const uint8_t* rec = static_cast<const uint8_t*>(record);
  DataTable& d = t->data[size_t(data)];
  // New keys first, so that a refused one leaves every index as it was.
  struct Change {
    int16_t index;
    std::vector<uint8_t> old_key, new_key;
    bool old_none, new_none;
  };
  std::vector<Change> changes;
  for (int16_t index : d.indexes) {
    Change c{index, {}, {}, false, false};
    if (int16_t e = whole_key(t, index, old.data(), length, position, &c.old_key, &c.old_none)) return e;
    if (int16_t e = whole_key(t, index, rec, length, position, &c.new_key, &c.new_none)) return e;
    if (c.old_key != c.new_key || c.old_none != c.new_none) changes.push_back(std::move(c));
  }
  size_t done = 0;
  for (; done < changes.size(); ++done) {
    Change& c = changes[done];
    if (!c.new_none && AddKey(c.index, c.new_key.data(), position, 0)) break;
  }
  if (done < changes.size()) {
    int16_t error = uerr_cod;
    for (size_t i = 0; i < done; ++i)
      if (!changes[i].new_none) DeleteKey(changes[i].index, changes[i].new_key.data(), position);
    return layer_fail(t, error, changes[done].index);
  }
  for (Change& c : changes)
    if (!c.old_none && DeleteKey(c.index, c.old_key.data(), position)) return layer_fail(t, uerr_cod, c.index);
  if (WriteData(data, position, rec)) return layer_fail(t, uerr_cod, data);
  uerr_cod = 0;
  return make_current(t, data, position, rec, length);
}

int16_t DeleteRecord(int16_t data) {
  Tables* t = data_of_layer(data);
  if (!t) return uerr_cod;
  int32_t position = 0;
  std::vector<uint8_t> old;
  if (int16_t e = read_current(t, data, position, old)) return e;
  const int32_t length = static_cast<int32_t>(old.size());
  for (int16_t index : t->data[size_t(data)].indexes) {
    std::vector<uint8_t> key;
    bool none = false;
    if (int16_t e = whole_key(t, index, old.data(), length, position, &key, &none)) return e;
    if (!none && DeleteKey(index, key.data(), position)) return layer_fail(t, uerr_cod, index);
  }
  if (ReleaseData(data, position)) return layer_fail(t, uerr_cod, data);
  open_file(data)->cur_rec = 0;
  t->data[size_t(data)].current_keys.clear();
  uerr_cod = 0;
  return 0;
}

int32_t CurrentRecord(int16_t data) {
  Fcb* f = layer() ? open_file(data) : nullptr;
  return f ? f->cur_rec : 0;
}

int16_t ReadEqual(int16_t i, const void* v, void* o, int32_t s) { return read_by_key(i, v, o, s, EQUAL); }
int16_t ReadAtLeast(int16_t i, const void* v, void* o, int32_t s) { return read_by_key(i, v, o, s, AT_LEAST); }
int16_t ReadAfter(int16_t i, const void* v, void* o, int32_t s) { return read_by_key(i, v, o, s, AFTER); }
int16_t ReadAtMost(int16_t i, const void* v, void* o, int32_t s) { return read_by_key(i, v, o, s, AT_MOST); }
int16_t ReadBefore(int16_t i, const void* v, void* o, int32_t s) { return read_by_key(i, v, o, s, BEFORE); }

int16_t FirstRecord(int16_t file, void* out, int32_t size) { return step_record(file, out, size, 0); }
int16_t LastRecord(int16_t file, void* out, int32_t size) { return step_record(file, out, size, 1); }
int16_t NextRecord(int16_t file, void* out, int32_t size) { return step_record(file, out, size, 2); }
int16_t PreviousRecord(int16_t file, void* out, int32_t size) { return step_record(file, out, size, 3); }

int16_t FirstInSet(int16_t index, const void* prefix, int16_t length, void* out, int32_t size) {
  Tables* t = index_of_layer(index);
  if (!t) return uerr_cod;
  int16_t klen = index_key_length(index);
  if (!prefix || !out) return layer_fail(t, 33, index);
  if (length < 0 || length > klen || length > int16_t(sizeof(SetEntry::prefix))) return layer_fail(t, 445, index);
  if (!t->sets) {
    if (int16_t e = CreateSetTable()) return e;
  }
  SetEntry* set = t->sets->find(index);
  if (!set) {
    std::vector<SetEntry>& bucket = t->sets->buckets[size_t(index) % kSetBuckets];
    bucket.emplace_back();
    set = &bucket.back();
    set->file = index;
  }
  set->length = length;
  std::memcpy(set->prefix, prefix, size_t(length));
  std::vector<uint8_t> target(set->prefix, set->prefix + length);
  target.resize(size_t(klen), 0);
  uint8_t key[256];
  int32_t position = GetKeyAtLeast(index, target.data(), key);
  if (!position || std::memcmp(key, set->prefix, size_t(set->length)) != 0) return layer_fail(t, 101, index);
  return read_through(t, index, position, key, out, size);
}
int16_t NextInSet(int16_t index, void* out, int32_t size) { return set_step(index, out, size, true); }
int16_t PreviousInSet(int16_t index, void* out, int32_t size) { return set_step(index, out, size, false); }

int16_t CreateSetTable() {
  Tables* t = layer();
  if (!t) return fail(464);
  if (t->sets) return layer_fail(t, 184, -1);
  t->sets.reset(new (std::nothrow) SetTable);
  if (!t->sets) return layer_fail(t, 185, -1);
  uerr_cod = 0;
  return 0;
}

int16_t SetAlternateCollating(const uint8_t* table) {
  Tables* t = layer();
  if (!t) return fail(464);
  uerr_cod = 0;
  if (!table) {
    t->alternate.reset();
    return 0;
  }
  auto c = std::make_unique<Collating>();
  std::memcpy(c->to_key, table, 256);
  bool seen[256] = {};
  for (int i = 0; i < 256; ++i) {
    if (seen[table[i]]) c->reversible = false;
    seen[table[i]] = true;
    c->from_key[table[i]] = static_cast<uint8_t>(i);
  }
  t->alternate = std::move(c);
  return 0;
}

int16_t SetLockMode(int16_t r) {
  Tables* t = layer();
  if (!t) return fail(464);
  int16_t& m = t->lock_mode;
  auto plain = [](int16_t v) { return (v >= 2 && v <= 4) || (v >= 11 && v <= 13); };
  bool taken = false;
  if ((r == 2 || r == 3 || r == 4 || r == 11) && plain(m)) {
    taken = true;
  } else if (r == 5 && plain(m)) {
    m = 5;
    taken = true;
  } else if ((r == 6 || r == 7 || r == 8 || r == 14) && m == 5) {
    m = r == 6 ? 2 : r == 7 ? 4 : r == 8 ? 3 : 11;
    taken = true;
  }
  if ((r < 5 || (r >= 11 && r <= 13)) && (r == m || !taken)) {
    if (r != 0 && r != 1) {
      for (const LockEntry& e : t->locks)
        if (e.flagged) return layer_fail(t, 112, e.file);
    } else {
      t->locks.erase(std::remove_if(t->locks.begin(), t->locks.end(), [](const LockEntry& e) { return e.flagged; }),
                     t->locks.end());
    }
    int16_t previous = m;
    m = r == 1 ? (previous == 0 ? 2 : previous) : r;
  }
  uerr_cod = 0;
  return 0;
}

int16_t LockMode() {
  Tables* t = layer();
  return t ? t->lock_mode : 0;
}

int32_t LockCount() {
  Tables* t = layer();
  return t ? int32_t(std::count_if(t->locks.begin(), t->locks.end(), [](const LockEntry& e) { return e.flagged; })) : 0;
}

int32_t record_layer_data_file(int16_t index) {
  Tables* t = layer();
  return t && valid_number(t, index) ? t->index[size_t(index)].data_file : -1;
}
