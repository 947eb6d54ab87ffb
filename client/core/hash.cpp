#include "client/core/hash.h"

#include <cstdlib>
#include <cstring>

namespace {
// 256 distinct values below 2^31, so a hash is never negative.
const uint32_t R[256] = {
    0x7be9c1bd, 0x088aa102, 0x3d38509b, 0x746b9fbe, 0x60caac05, 0x0584ce2b,
    0x388bfa53, 0x72dca2f1, 0x4e2cf93a, 0x31a17a6e, 0x3fdee70c, 0x24d16674,
    0x645207cf, 0x057193ad, 0x1aa0b689, 0x5d0ebf47, 0x4b0b4b04, 0x4ce74808,
    0x02a055da, 0x6cbf9d62, 0x761ab411, 0x009dc157, 0x48be977f, 0x5c920eed,
    0x5cc62d8e, 0x0e962402, 0x02537940, 0x1981daf8, 0x57e0605b, 0x7a4d2479,
    0x6110b7c5, 0x7c6f1813, 0x060e6c98, 0x08906bfc, 0x5b64216e, 0x307352f6,
    0x25ac5a2d, 0x53015ec3, 0x7edcb5ab, 0x71afac99, 0x70340812, 0x2ff87896,
    0x1781c094, 0x542f0a6c, 0x63f936a7, 0x6a5f2ab5, 0x4b5facf1, 0x135d609f,
    0x3e2a322c, 0x04224f20, 0x33845c32, 0x5f217c4a, 0x1ef81a39, 0x250d75af,
    0x706b19d7, 0x5276b0d5, 0x4e513666, 0x65cecdea, 0x7451b228, 0x77af3310,
    0x76c988b3, 0x608796e1, 0x2670572d, 0x3044734b, 0x2896aea0, 0x25121e54,
    0x6f9e85c6, 0x43f8a41e, 0x74e7f855, 0x183ba67b, 0x1e9bef03, 0x66374721,
    0x031c016a, 0x7bd0d4be, 0x3a59727c, 0x01619644, 0x24874d9f, 0x0290c95d,
    0x08fce959, 0x59e98477, 0x042f46d4, 0x3d06f658, 0x460c6c8a, 0x0c9bfa12,
    0x4825f0c1, 0x44a25e87, 0x3c3d3bcf, 0x0716f8bd, 0x110df15e, 0x3cbd1a72,
    0x15398f90, 0x7b8daca8, 0x528f698b, 0x4828a149, 0x04747075, 0x61edff63,
    0x3c735ac8, 0x4b0d772c, 0x03f8be3e, 0x6a4e62c6, 0x0446c67d, 0x2fe96993,
    0x4ab17d9b, 0x47b11649, 0x6d08d242, 0x6bce0626, 0x7fc803c4, 0x08f276bc,
    0x05d89277, 0x0fb617e5, 0x35ec6241, 0x4d674f4f, 0x6cdf88fc, 0x1fcbdaf0,
    0x50a697e2, 0x52410fba, 0x1663c3e9, 0x59ee8a5f, 0x3e963d67, 0x31281a25,
    0x15f63c36, 0x6704789a, 0x38dc7d78, 0x7be24040, 0x06d670e3, 0x42e2e331,
    0x46253e1d, 0x5eba0a1b, 0x5f910cd0, 0x6d64f004, 0x2e154296, 0x605b09ae,
    0x7379c4a5, 0x3771d14b, 0x4743e433, 0x6c79dc91, 0x3596bdda, 0x7ba5310e,
    0x7d5ba0ac, 0x5e3f9314, 0x3ff1daaf, 0x58b7450d, 0x289445e9, 0x4b082fa7,
    0x6137d8a4, 0x7386fb68, 0x51bc06ba, 0x3d9872c2, 0x3aa5d4b1, 0x717d0ff7,
    0x58e0cf1f, 0x5591d54d, 0x471020ee, 0x1391b0a2, 0x00e872a0, 0x72ce1418,
    0x272bf7bb, 0x11160d19, 0x439194a5, 0x785a7eb3, 0x0f0a9838, 0x6d54d55c,
    0x45f5bf0e, 0x0aa89d16, 0x60ccef8d, 0x06df9323, 0x03fc9ccb, 0x0315b979,
    0x035d05f2, 0x1831d476, 0x6509ee74, 0x2761b4cc, 0x66eb71c7, 0x1ecc20d5,
    0x2854b191, 0x3187863f, 0x302ee28c, 0x003445c0, 0x37d76e52, 0x722a7dea,
    0x3fcb1199, 0x08e70a0f, 0x473bf4b7, 0x69194775, 0x362bd606, 0x3f27a24a,
    0x13bd9fc8, 0x605e5070, 0x15164953, 0x61c45d41, 0x5a79f54d, 0x0acd64ab,
    0x7acab500, 0x77a5e7f4, 0x57f4e0a6, 0x5d340f7e, 0x23b440f5, 0x54679b1b,
    0x67f38563, 0x1adc7e41, 0x2c80ad8a, 0x245fd6de, 0x441e179c, 0x62361de4,
    0x75f4d6ff, 0x4aac63bd, 0x7d920139, 0x5a5c07d7, 0x10fc9e74, 0x76025f38,
    0x501c81ea, 0x1ad984f2, 0x53f28961, 0x0aa85e27, 0x190eb86f, 0x3f48721d,
    0x077b973e, 0x21cfab12, 0x1c7b8970, 0x2b039d48, 0x617eb96b, 0x5cb10be9,
    0x357c89d5, 0x51751c03, 0x1a226a68, 0x4ae9718c, 0x238adc5e, 0x0f226866,
    0x653bc9dd, 0x1016fb73, 0x3dcc573b, 0x3ff14da9, 0x28c689a2, 0x1c6bc286,
    0x41019924, 0x706f041c, 0x6ba11617, 0x099a4d85, 0x4ccf9ce1, 0x340f7fef,
    0x17951f5c, 0x4bb36e10, 0x53510082, 0x6d3af3da, 0x43c08f49, 0x102329bf,
    0x1d1857c7, 0x14267345, 0x47e95056, 0x14808c7a, 0x06cb5298, 0x56a58120,
    0x3640cf03, 0x74ec6891, 0x469f29bd, 0x5f80dc7c,
};

}  // namespace

struct hash_entry {
  hash_entry* next;
  uint32_t key_length;
  uint32_t key_area;  // bytes kept for the key: a multiple of 8, at least key_length + 1
};

namespace {
using Entry = hash_entry;
static_assert(sizeof(Entry) % 8 == 0);
uint8_t* key_bytes(Entry* e) { return reinterpret_cast<uint8_t*>(e) + sizeof(Entry); }
const uint8_t* key_bytes(const Entry* e) { return reinterpret_cast<const uint8_t*>(e) + sizeof(Entry); }
Entry* as_entry(hash_entry* e) { return e; }
const Entry* as_entry(const hash_entry* e) { return e; }
hash_entry* as_public(Entry* e) { return e; }
Entry** bucket_of(hash_table* t, size_t key_length, const void* key) {
  return t->buckets + hash_bytes(key, key_length) % static_cast<uint32_t>(t->bucket_count);
}
bool same_key(const Entry* e, size_t key_length, const void* key) {
  return e->key_length == key_length && (key_length == 0 || std::memcmp(key_bytes(e), key, key_length) == 0);
}
}  // namespace

static_assert(sizeof(R) / sizeof(R[0]) == 256);

uint32_t hash_bytes(const void* key, size_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(key);
  uint32_t h = 0;
  for (size_t i = 0; i < length; ++i) h = (h >> 8) ^ R[(h ^ p[i]) & 0xFF];
  return h;
}

hash_table* hash_create(int buckets) {
  if (buckets <= 0) return nullptr;
  hash_table* t = static_cast<hash_table*>(std::calloc(1, sizeof(hash_table)));
  if (!t) return nullptr;
  t->buckets = static_cast<hash_entry**>(std::calloc(static_cast<size_t>(buckets), sizeof(hash_entry*)));
  if (!t->buckets) {
    std::free(t);
    return nullptr;
  }
  t->bucket_count = buckets;
  return t;
}

hash_entry* hash_find_or_add(hash_table* t, size_t key_length, const void* key, size_t data_size,
                             int* found) {
  if (found) *found = 0;
  if (!t || (!key && key_length) || key_length > 0xFFFFFFF0u) return nullptr;
  Entry** slot = bucket_of(t, key_length, key);
  for (Entry* e = *slot; e; e = e->next) {
    if (same_key(e, key_length, key)) {
      if (found) *found = 1;
      return as_public(e);
    }
  }
  size_t area = (key_length + 8) & ~static_cast<size_t>(7);
  if (data_size > SIZE_MAX - sizeof(Entry) - area) return nullptr;
  Entry* e = static_cast<Entry*>(std::malloc(sizeof(Entry) + area + data_size));
  if (!e) return nullptr;
  e->key_length = static_cast<uint32_t>(key_length);
  e->key_area = static_cast<uint32_t>(area);
  if (key_length) std::memcpy(key_bytes(e), key, key_length);
  std::memset(key_bytes(e) + key_length, 0, area - key_length);
  e->next = *slot;
  *slot = e;
  ++t->count;
  return as_public(e);
}

hash_entry* hash_find(hash_table* t, size_t key_length, const void* key) {
  if (!t || (!key && key_length)) return nullptr;
  for (Entry* e = *bucket_of(t, key_length, key); e; e = e->next)
    if (same_key(e, key_length, key)) return as_public(e);
  return nullptr;
}

int hash_remove(hash_table* t, size_t key_length, const void* key) {
  if (!t || (!key && key_length)) return 0;
  for (Entry** link = bucket_of(t, key_length, key); *link; link = &(*link)->next) {
    Entry* e = *link;
    if (same_key(e, key_length, key)) {
      *link = e->next;
      std::free(e);
      --t->count;
      return 1;
    }
  }
  return 0;
}

const uint8_t* hash_entry_key(const hash_entry* e) { return key_bytes(e); }
size_t hash_entry_key_length(const hash_entry* e) { return as_entry(e)->key_length; }
void* hash_entry_data(hash_entry* e) { return key_bytes(e) + e->key_area; }

hash_iterator* hash_iterator_create(hash_table* t) {
  if (!t) return nullptr;
  hash_iterator* it = static_cast<hash_iterator*>(std::calloc(1, sizeof(hash_iterator)));
  if (!it) return nullptr;
  it->bucket = -1;
  it->end = t->bucket_count;
  it->table = t;
  return it;
}

hash_entry* hash_iterator_next(hash_iterator* it) {
  if (!it) return nullptr;
  // After a removal entry is null and link already holds the successor.
  if (it->entry) it->link = &as_entry(it->entry)->next;
  for (;;) {
    if (it->link && *it->link) {
      it->entry = *it->link;
      return it->entry;
    }
    if (++it->bucket >= it->end) {
      std::free(it);
      return nullptr;
    }
    it->link = &it->table->buckets[it->bucket];
    it->entry = nullptr;
  }
}

void* hash_iterator_next_data(hash_iterator* it) {
  hash_entry* e = hash_iterator_next(it);
  return e ? hash_entry_data(e) : nullptr;
}

void hash_iterator_remove(hash_iterator* it) {
  if (!it || !it->entry) return;
  Entry* e = as_entry(it->entry);
  *it->link = as_public(e->next);
  std::free(e);
  --it->table->count;
  it->entry = nullptr;
}

void hash_iterator_destroy(hash_iterator* it) { std::free(it); }

void hash_destroy(hash_table* t) {
  if (!t) return;
  for (int32_t b = 0; b < t->bucket_count; ++b) {
    Entry* e = t->buckets[b];
    while (e) {
      Entry* next = e->next;
      std::free(e);
      e = next;
    }
  }
  std::free(t->buckets);
  std::free(t);
}
