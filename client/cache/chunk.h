#pragma once
// The model and texture chunk cache: built engine clumps (each behind its model header) and
// engine textures kept as engine stream chunks in two keyed databases of the current object
// cache directory, so that a model or texture is built once per object path. Damaged records
// are deleted when they are met; callers then see a miss and rebuild. Each store keeps its
// records within its share of the disk limit (models half, textures a quarter), giving up the
// least recently used ones first: callers then see a miss too. Window thread only.
#include <cstdint>

#include "engine/vxl21.h"

enum {
  CHUNK_OK = 0,
  CHUNK_NO_CLUMP = 403,
  CHUNK_OPEN_FAILED = 434,
  CHUNK_WRITE_FAILED = 435,
  CHUNK_CLOSE_FAILED = 436,
  CHUNK_KEY_TOO_LARGE = 437,
  CHUNK_NO_MEMORY = 438,
};
enum { CHUNK_KEY_LENGTH = 32 };

// Stores the clump behind the header under (part1, part2). The clump is destroyed in every
// case. 0, or one of the codes above.
int chunk_create(VxClump* clump, const uint8_t* header, int header_length, const char* part1,
                 const char* part2);
bool chunk_exists(const char* part1, const char* part2);
// 1 with a new std::malloc'ed copy of the header (at least one byte is allocated) and its
// length; else 0.
int chunk_header(const char* part1, const char* part2, uint8_t** header, int* length);
// A new clump, or null; bytes (may be null) gets the stored record's length.
VxClump* chunk_load(const char* part1, const char* part2, int32_t* bytes = nullptr);
void chunk_delete(const char* part1, const char* part2);

int chunk_save_texture(VxTexture* texture, const char* name);
// A new texture reference, or null.
VxTexture* chunk_load_texture(const char* name);
void chunk_delete_texture(const char* name);
int chunk_save_texture_to_file(VxTexture* texture, const char* path);
VxTexture* chunk_load_texture_from_file(const char* path);

// Reopens both caches in the current object cache directory (world change).
void chunk_reset();
// Closes both caches (shutdown).
void chunk_term();

// The 32-byte key of (part1, part2): 0 with the key in out, or CHUNK_KEY_TOO_LARGE.
int chunk_make_key(const char* part1, const char* part2, uint8_t out[CHUNK_KEY_LENGTH]);
