#pragma once
// Writes the first member of an archive that lies whole in memory (a ".zip" file or a gzip
// stream), inflated, to a file. Enciphered zip members are deciphered in place in the
// caller's buffer with the world's object password. One extraction at a time.
//
// Archives come from servers: the member may inflate no further than the limit of its kind
// (generous for a real file of that kind, the same for zip and gzip), and its check sum and
// size must match what the archive says. The member is written to a fresh temporary beside
// its path (no link planted there is followed) and renamed over it once whole; a refused
// member leaves no file and no temporary, and a file that was already at the path stays as
// it was.
#include <cstddef>
#include <cstdint>

enum {
  UNZIP_OK = 0,
  UNZIP_NOT_DEFLATE = 1,   // method other than deflate
  UNZIP_BAD_FLAGS = 2,     // gzip flags other than text and name
  UNZIP_SHORT_HEADER = 3,  // the archive is shorter than its header
  UNZIP_PASSWORD = 4,      // enciphered and no password, or a wrong one
  UNZIP_CREATE = 5,        // the output file cannot be created (or a device or folder stands there)
  UNZIP_NO_MEMORY = 6,
  UNZIP_CORRUPT = 7,       // corrupt or cut deflate data, a check sum or size that does not
                           // match, or the output cannot be written
  UNZIP_NOT_ARCHIVE = 8,   // neither a gzip nor a zip signature
  UNZIP_TOO_LARGE = 9,     // the member inflates past the limit of its kind
};

// What the member is: each kind has its own inflated-size limit.
enum unzip_kind {
  UNZIP_KIND_MODEL,     // a model script or VRML file
  UNZIP_KIND_MASK,      // a texture's mask bitmap
  UNZIP_KIND_SOUND,
  UNZIP_KIND_SEQUENCE,  // an avatar animation sequence
  UNZIP_KIND_AVATARS,   // the world's avatar list
  UNZIP_KINDS
};
// The most bytes a member of this kind may inflate to.
size_t unzip_limit(unzip_kind kind);

int unzip_memory(uint8_t* data, size_t size, const char* path, unzip_kind kind);
// enciphered (may be null) is set to 1 when the member was enciphered, else 0.
int unzip_to_file(uint8_t* data, size_t size, const char* path, int* enciphered, unzip_kind kind);
// The same into a new std::malloc'ed buffer (one zero byte after the member, not counted in
// out_size; the caller frees it); name is only for the refusal's log line.
int unzip_to_memory(uint8_t* data, size_t size, const char* name, uint8_t** out, size_t* out_size, int* enciphered,
                    unzip_kind kind);
