#pragma once
// Hash table of byte-string keys, each entry one heap block with a caller-sized data area.
#include <cstddef>
#include <cstdint>

struct hash_entry;
struct hash_table {
  hash_entry** buckets;
  int32_t count;
  int32_t bucket_count;
};
struct hash_iterator {
  int32_t bucket;        // bucket of the current entry
  hash_entry* entry;     // entry last returned (null before the first step or after removal)
  hash_entry** link;     // link that points at the current entry
  int32_t end;           // bucket count
  hash_table* table;
};

uint32_t hash_bytes(const void* key, size_t length);
hash_table* hash_create(int buckets);
hash_entry* hash_find_or_add(hash_table* table, size_t key_length, const void* key,
                             size_t data_size, int* found);
hash_entry* hash_find(hash_table* table, size_t key_length, const void* key);
int hash_remove(hash_table* table, size_t key_length, const void* key);
const uint8_t* hash_entry_key(const hash_entry* entry);
size_t hash_entry_key_length(const hash_entry* entry);
void* hash_entry_data(hash_entry* entry);
hash_iterator* hash_iterator_create(hash_table* table);
// Next entry in bucket order; at the end null, and the iterator is freed.
hash_entry* hash_iterator_next(hash_iterator* it);
void* hash_iterator_next_data(hash_iterator* it);
// Removes and frees the entry last returned; the next step gives its successor.
void hash_iterator_remove(hash_iterator* it);
// Frees an iterator that was not run to its end.
void hash_iterator_destroy(hash_iterator* it);
void hash_destroy(hash_table* table);

// hash_find_or_add for a data area of one T, given as that (null when out of memory).
template <class T>
T* hash_find_or_add_as(hash_table* table, size_t key_length, const void* key, int* found) {
  hash_entry* e = hash_find_or_add(table, key_length, key, sizeof(T), found);
  return e ? static_cast<T*>(hash_entry_data(e)) : nullptr;
}

// Calls fn with the data area of every entry in bucket order; nothing for a null table.
template <class F>
void hash_for_each(hash_table* table, F fn) {
  hash_iterator* it = hash_iterator_create(table);
  while (void* data = hash_iterator_next_data(it)) fn(data);
}

// The same, removing each entry once fn has seen it (fn frees what the data area owns).
template <class F>
void hash_clear(hash_table* table, F fn) {
  hash_iterator* it = hash_iterator_create(table);
  while (void* data = hash_iterator_next_data(it)) {
    fn(data);
    hash_iterator_remove(it);
  }
}
