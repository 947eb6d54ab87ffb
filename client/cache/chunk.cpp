#include "client/cache/chunk.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <list>
#include <string>
#include <unordered_map>

#include "client/cache/database.h"
#include "client/cache/disk.h"
#include "client/cache/download.h"
#include "client/core/files.h"
#include "client/core/log.h"

namespace {

// A chunk store keeps its records within its share of the disk limit (the disk clean-up
// cannot delete a file the program holds open): the least recently used records go first.
// Freed room is reused by later records; a data file grown well past its share by
// fragments of freed room is made again empty.
struct store {
  store(const char* n, int e) : name(n), eighths(e) {}
  database* db = nullptr;
  const char* name;
  int eighths;  // share of the disk limit
  std::list<std::string> order;  // least recently used first
  std::unordered_map<std::string, std::pair<std::list<std::string>::iterator, int64_t>> records;
  int64_t bytes = 0;
};
store models_store{"model", 4};
store textures_store{"texture", 2};
database*& model_cache = models_store.db;
database*& texture_cache = textures_store.db;
uint8_t key_buffer[CHUNK_KEY_LENGTH];
// Keys a store keeps track of: far more records than its share can hold.
constexpr size_t kMaxTracked = 1 << 20;

bool trace() { return trace_switches[TRACE_GENERAL] != 0; }
bool trace_chunk() { return trace_switches[TRACE_CHUNK] != 0; }

const char* text_or_empty(const char* s) { return s ? s : ""; }

// The key of (part1, part2) in the module buffer, or null when it does not fit.
const uint8_t* make_key(const char* part1, const char* part2) {
  if (chunk_make_key(part1, part2, key_buffer) != 0) {
    if (trace_chunk()) log_write("ERROR! key too large: %s,%s", text_or_empty(part1), text_or_empty(part2));
    return nullptr;
  }
  return key_buffer;
}

uint16_t read_le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Reads one chunk of the type from bytes; the object, or null (*damaged when the bytes hold no
// such object, as opposed to a stream that could not be opened).
void* read_chunk(const uint8_t* bytes, int32_t length, uint32_t want, int flags, bool* damaged) {
  *damaged = false;
  VxMemoryBlock block{const_cast<uint8_t*>(bytes), length};
  VxStream* stream = VxOpenStream(VX_STREAM_MEMORY, VX_STREAM_READ, &block);
  if (!stream) return nullptr;
  uint32_t type = 0;
  void* object = nullptr;
  if (!VxReadStreamChunkType(stream, &type) || type != want) {
    *damaged = true;
  } else {
    VxReadStreamChunk(stream, want, &object, flags);
    if (!object) *damaged = true;
  }
  VxCloseStream(stream, nullptr);
  return object;
}

// Writes one chunk of the object into a new engine memory block; 0 or a chunk code.
int write_chunk(uint32_t type, void* object, int flags, VxMemoryBlock* out) {
  out->start = nullptr;
  out->length = 0;
  VxStream* stream = VxOpenStream(VX_STREAM_MEMORY, VX_STREAM_WRITE, nullptr);
  if (trace_chunk()) log_write("VxOpenStream");
  if (!stream) {
    if (trace_chunk()) log_write("ERROR: VxOpenStream failed, reason %d", VxGetError());
    return CHUNK_OPEN_FAILED;
  }
  if (trace_chunk()) log_write("VxWriteStreamChunk");
  if (!VxWriteStreamChunk(stream, type, object, flags)) {
    if (trace_chunk()) log_write("ERROR: VxWriteStreamChunk failed, reason %d", VxGetError());
    VxCloseStream(stream, out);
    if (out->start) VxFreeMemory(out->start);
    out->start = nullptr;
    return CHUNK_WRITE_FAILED;
  }
  if (trace_chunk()) log_write("VxCloseStream");
  if (!VxCloseStream(stream, out) || !out->start || out->length < 0) {
    if (trace_chunk()) log_write("ERROR: VxCloseStream failed, reason %d", VxGetError());
    if (out->start) VxFreeMemory(out->start);
    out->start = nullptr;
    return CHUNK_CLOSE_FAILED;
  }
  return 0;
}

std::string key_text(const uint8_t* key) { return std::string(reinterpret_cast<const char*>(key), CHUNK_KEY_LENGTH); }

void forget_all(store& s) {
  s.order.clear();
  s.records.clear();
  s.bytes = 0;
}

void forget(store& s, const uint8_t* key) {
  auto it = s.records.find(key_text(key));
  if (it == s.records.end()) return;
  s.bytes -= it->second.second;
  s.order.erase(it->second.first);
  s.records.erase(it);
}

// The record is the most recently used one, with this length.
void note_use(store& s, const uint8_t* key, int64_t length) {
  std::string k = key_text(key);
  auto it = s.records.find(k);
  if (it != s.records.end()) {
    s.order.splice(s.order.end(), s.order, it->second.first);
    if (length >= 0) {
      s.bytes += length - it->second.second;
      it->second.second = length;
    }
    return;
  }
  if (length < 0 || s.records.size() >= kMaxTracked) return;
  s.order.push_back(k);
  s.records.emplace(std::move(k), std::make_pair(std::prev(s.order.end()), length));
  s.bytes += length;
}

void delete_record(store& s, const uint8_t* key) {
  database_store(s.db, key, nullptr, 0);
  forget(s, key);
}

// The store's share in bytes; 0 without a limit.
int64_t share_of(const store& s) {
  return static_cast<int64_t>(disk_limit()) * 1048576 * s.eighths / 8;
}

int64_t data_file_size(const store& s) {
  struct stat st {};
  if (!s.db || s.db->in_memory || stat((s.db->name + ".dat").c_str(), &st) != 0) return 0;
  return st.st_size;
}

// Room for a record of length under key: older records go, least recently used first, until
// it fits the share (a record larger than the share is stored alone).
void make_room(store& s, const uint8_t* key, int64_t length) {
  const int64_t share = share_of(s);
  if (!s.db || share <= 0) return;
  forget(s, key);
  if (data_file_size(s) > share + share / 2 + length) {
    log_write("%s.dat: grown past its share of the disk limit; made again empty", s.db->name.c_str());
    database_reset(s.db);
    forget_all(s);
    return;
  }
  while (!s.order.empty() && s.bytes + length > share) {
    std::string oldest = s.order.front();
    if (trace_chunk()) log_write("chunk: %s gives up %.32s", s.name, oldest.c_str());
    delete_record(s, reinterpret_cast<const uint8_t*>(oldest.data()));
  }
}

// Stores the record under key within the share; a refused store is not kept track of.
void store_record(store& s, const uint8_t* key, const void* data, int32_t length) {
  make_room(s, key, length);
  if (database_store(s.db, key, data, length)) note_use(s, key, length);
}

// A fetch from the store: a record found is the most recently used.
int fetch_record(store& s, const uint8_t* key, uint8_t** record, int32_t* size) {
  if (!database_fetch_unknown(s.db, key, record, size)) return 0;
  note_use(s, key, *size);
  return 1;
}

void open_cache(store& s, int compressed) {
  std::string path = std::string(download_get_path()) + "/" + s.name;
  s.db = database_open(path.c_str(), CHUNK_KEY_LENGTH, 0, 16384, 4096, compressed, 1);
  forget_all(s);
  database_walk_lengths(s.db, kMaxTracked, [](void* user, const uint8_t* key, int32_t length) {
    note_use(*static_cast<store*>(user), key, length);
  }, &s);
}

}  // namespace

int chunk_make_key(const char* part1, const char* part2, uint8_t out[CHUNK_KEY_LENGTH]) {
  size_t n1 = part1 ? std::strlen(part1) : 0;
  size_t n2 = part2 ? std::strlen(part2) : 0;
  if (n1 + n2 > CHUNK_KEY_LENGTH) return CHUNK_KEY_TOO_LARGE;
  std::memset(out, ' ', CHUNK_KEY_LENGTH);
  if (n1) std::memcpy(out, part1, n1);
  if (n2) std::memcpy(out + n1, part2, n2);
  return 0;
}

int chunk_create(VxClump* clump, const uint8_t* header, int header_length, const char* part1,
                 const char* part2) {
  if (!clump) return CHUNK_NO_CLUMP;
  const uint8_t* key = make_key(part1, part2);
  // A header length that does not fit its 16-bit field would make the record unreadable.
  if (!header) header_length = 0;
  int rc = 0;
  VxMemoryBlock block{nullptr, 0};
  if (!key) rc = CHUNK_KEY_TOO_LARGE;
  else if (header_length < 0 || header_length > 0x7FFF) rc = CHUNK_NO_MEMORY;
  else rc = write_chunk(VX_CHUNK_CLUMP, clump, 18, &block);
  if (!VxDestroyClump(clump) && trace_chunk())
    log_write("ERROR: VxDestroyClump failed, reason %d", VxGetError());
  if (rc) {
    if (block.start) VxFreeMemory(block.start);
    return rc;
  }
  size_t total = 2 + static_cast<size_t>(header_length) + static_cast<size_t>(block.length);
  auto* record = static_cast<uint8_t*>(total <= 0x7FFFFFFF ? std::malloc(total) : nullptr);
  if (!record) {
    if (trace_chunk()) log_write("ERROR: unable to allocate new record");
    VxFreeMemory(block.start);
    return CHUNK_NO_MEMORY;
  }
  record[0] = static_cast<uint8_t>(header_length & 0xff);
  record[1] = static_cast<uint8_t>((header_length >> 8) & 0xff);
  if (header_length) std::memcpy(record + 2, header, static_cast<size_t>(header_length));
  std::memcpy(record + 2 + header_length, block.start, static_cast<size_t>(block.length));
  VxFreeMemory(block.start);
  store_record(models_store, key, record, static_cast<int32_t>(total));
  std::free(record);
  if (trace_chunk()) log_write("chunk_create complete");
  return 0;
}

bool chunk_exists(const char* part1, const char* part2) {
  const uint8_t* key = make_key(part1, part2);
  return key && database_key_exists(model_cache, key);
}

int chunk_header(const char* part1, const char* part2, uint8_t** header, int* length) {
  if (trace()) log_write("chunk_header (%s, %s)", text_or_empty(part1), text_or_empty(part2));
  if (header) *header = nullptr;
  if (length) *length = 0;
  const uint8_t* key = make_key(part1, part2);
  if (!key) return 0;
  uint8_t* record = nullptr;
  int32_t size = 0;
  if (!fetch_record(models_store, key, &record, &size)) return 0;
  int L = size >= 2 ? read_le16(record) : 0;
  if (size < 2 || L + 2 > size || L >= size) {
    std::free(record);
    delete_record(models_store, key);
    return 0;
  }
  auto* copy = static_cast<uint8_t*>(std::malloc(L ? static_cast<size_t>(L) : 1));
  if (!copy) {
    std::free(record);
    return 0;
  }
  if (L) std::memcpy(copy, record + 2, static_cast<size_t>(L));
  std::free(record);
  if (header) *header = copy;
  else std::free(copy);
  if (length) *length = L;
  return 1;
}

VxClump* chunk_load(const char* part1, const char* part2, int32_t* bytes) {
  if (bytes) *bytes = 0;
  if (trace()) log_write("chunk_load (%s, %s)", text_or_empty(part1), text_or_empty(part2));
  const uint8_t* key = make_key(part1, part2);
  if (!key) return nullptr;
  uint8_t* record = nullptr;
  int32_t size = 0;
  if (!fetch_record(models_store, key, &record, &size)) return nullptr;
  if (bytes) *bytes = size;
  // A header that leaves no room for a chunk marks the record as damaged.
  int L = size >= 2 ? read_le16(record) : 0;
  if (size < 2 || L + 2 >= size) {
    std::free(record);
    delete_record(models_store, key);
    return nullptr;
  }
  bool damaged = false;
  auto* clump = static_cast<VxClump*>(read_chunk(record + 2 + L, size - 2 - L, VX_CHUNK_CLUMP, 0, &damaged));
  std::free(record);
  if (damaged) {
    make_key(part1, part2);
    delete_record(models_store, key_buffer);
  }
  return clump;
}

void chunk_delete(const char* part1, const char* part2) {
  if (trace()) log_write("chunk_delete (%s, %s)", text_or_empty(part1), text_or_empty(part2));
  const uint8_t* key = make_key(part1, part2);
  if (key) delete_record(models_store, key);
}

int chunk_save_texture(VxTexture* texture, const char* name) {
  if (trace()) log_write("chunk_save_texture (%s)", text_or_empty(name));
  if (!texture) return CHUNK_NO_CLUMP;
  const uint8_t* key = make_key(name, nullptr);
  if (!key) return CHUNK_KEY_TOO_LARGE;
  VxMemoryBlock block{nullptr, 0};
  int rc = write_chunk(VX_CHUNK_TEXTURE, texture, 8, &block);
  if (rc) return rc;
  make_key(name, nullptr);
  store_record(textures_store, key_buffer, block.start, block.length);
  VxFreeMemory(block.start);
  return 0;
}

VxTexture* chunk_load_texture(const char* name) {
  if (trace()) log_write("chunk_load_texture (%s)", text_or_empty(name));
  const uint8_t* key = make_key(name, nullptr);
  if (!key) return nullptr;
  uint8_t* record = nullptr;
  int32_t size = 0;
  if (!fetch_record(textures_store, key, &record, &size)) return nullptr;
  bool damaged = false;
  auto* texture = static_cast<VxTexture*>(read_chunk(record, size, VX_CHUNK_TEXTURE, 8, &damaged));
  std::free(record);
  if (damaged) {
    make_key(name, nullptr);
    delete_record(textures_store, key_buffer);
  }
  return texture;
}

void chunk_delete_texture(const char* name) {
  if (trace()) log_write("chunk_delete_texture (%s)", text_or_empty(name));
  const uint8_t* key = make_key(name, nullptr);
  if (key) delete_record(textures_store, key);
}

// Texture chunk files: written whole to a fresh temporary and renamed into place (no link
// planted at the path is followed), and read only when they are regular files.
int chunk_save_texture_to_file(VxTexture* texture, const char* path) {
  if (trace()) log_write("chunk_save_texture_to_file (%s)", text_or_empty(path));
  if (!texture || !path) return CHUNK_NO_CLUMP;
  VxMemoryBlock block{nullptr, 0};
  int rc = write_chunk(VX_CHUNK_TEXTURE, texture, 8, &block);
  if (rc) return rc;
  rc = file_store(path, block.start, static_cast<size_t>(block.length)) == 0 ? 0 : CHUNK_WRITE_FAILED;
  VxFreeMemory(block.start);
  return rc;
}

VxTexture* chunk_load_texture_from_file(const char* path) {
  if (trace()) log_write("chunk_load_texture_from_file (%s)", text_or_empty(path));
  if (!path) return nullptr;
  // The largest picture with its mask stays well below this; a larger file is not ours.
  struct stat st {};
  if (stat(file_path(path), &st) != 0 || st.st_size > (64 << 20)) return nullptr;
  uint8_t* bytes = nullptr;
  size_t size = 0;
  if (file_read(path, &bytes, &size) != 0 || size > 0x7FFFFFFF) {
    std::free(bytes);
    return nullptr;
  }
  bool damaged = false;
  auto* texture = static_cast<VxTexture*>(read_chunk(bytes, static_cast<int32_t>(size), VX_CHUNK_TEXTURE, 8, &damaged));
  std::free(bytes);
  return texture;
}

void chunk_reset() {
  if (trace()) log_write("chunk_reset");
  database_close(model_cache);
  model_cache = nullptr;
  std::string dir = download_get_path();
  // Caches of an earlier layout.
  if (file_exists((dir + "/models.dat").c_str())) {
    for (const char* old : {"/models.dat", "/models.idx", "/textures.dat", "/textures.idx"})
      file_delete((dir + old).c_str());
  }
  open_cache(models_store, 1);
  database_close(texture_cache);
  open_cache(textures_store, 0);
}

void chunk_term() {
  if (trace()) log_write("chunk_term");
  database_close(model_cache);
  database_close(texture_cache);
  model_cache = texture_cache = nullptr;
  forget_all(models_store);
  forget_all(textures_store);
}
