#pragma once
// Our reader and writer of Windows-style settings files: [section] headers and key=value
// lines, matched without regard to case. Writes keep every other line (comments, blank
// lines, CRLF line ends) as it was and replace the file atomically.
#include <cstddef>
#include <string>

// Copies the value of section/key into out (cut to size-1 bytes) and returns true; when
// the file, section or key is missing, copies def and returns false.
bool ini_get(const char* path, const char* section, const char* key, const char* def,
             char* out, size_t size);
// Integer value as the platform reads it: leading blanks, optional sign, decimal digits;
// text that is not a number gives 0; a missing key gives def.
int ini_get_int(const char* path, const char* section, const char* key, int def);
// Sets section/key to value (a missing section is appended, a missing key is added at the
// end of its section). value == nullptr removes the key. Returns true on success. A file that
// cannot be read whole (too large, unreadable) is left as it is: the value then holds for the
// run only, and the log says why.
bool ini_set(const char* path, const char* section, const char* key, const char* value);
// Removes the temporary files that a write cut short (the program killed meanwhile) left beside
// the file: plain files of ours named as the write names them, nothing else.
void ini_remove_temporaries(const char* path);
