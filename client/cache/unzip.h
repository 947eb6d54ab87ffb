#pragma once
// Writes the first member of an archive that lies whole in memory (a ".zip" file or a gzip
// stream), inflated, to a file. Enciphered zip members are deciphered in place in the
// caller's buffer with the world's object password. One extraction at a time.
#include <cstddef>
#include <cstdint>

enum {
  UNZIP_OK = 0,
  UNZIP_NOT_DEFLATE = 1,   // method other than deflate
  UNZIP_BAD_FLAGS = 2,     // gzip flags other than text and name
  UNZIP_SHORT_HEADER = 3,  // the archive is shorter than its header
  UNZIP_PASSWORD = 4,      // enciphered and no password, or a wrong one
  UNZIP_CREATE = 5,        // the output file cannot be created
  UNZIP_NO_MEMORY = 6,
  UNZIP_CORRUPT = 7,       // corrupt or cut deflate data, or the output cannot be written
  UNZIP_NOT_ARCHIVE = 8,   // neither a gzip nor a zip signature
};

int unzip_memory(uint8_t* data, size_t size, const char* path);
// enciphered (may be null) is set to 1 when the member was enciphered, else 0.
int unzip_to_file(uint8_t* data, size_t size, const char* path, int* enciphered);
