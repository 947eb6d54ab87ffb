#pragma once
// Our reader and writer of Windows-style settings files: [section] headers and key=value
// lines, matched without regard to case. Writes keep every other line (comments, blank
// lines, CRLF line ends, a UTF-8 mark) as it was and replace the file atomically; a file
// created is the person's own (0600). A UTF-16 file (with its mark) is read as its text and
// never rewritten.
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
// the file: plain files of ours named as the write names them (the file's name, ".~saving-" and
// six letters or digits), nothing else; each removal is logged.
void ini_remove_temporaries(const char* path);
// True when a write of the file can succeed as far as can be told before one is made: the file
// is readable whole and in a form that is rewritten, and its folder takes a new file. Else
// false and why (the folder and the system's reason, or what is wrong with the file).
bool ini_can_save(const char* path, std::string* why);
// Passwords are kept under the keys "pass" and "password" (enciphered, or an old file's plain
// text): no log line shows their values.
bool ini_secret_key(const char* key);
