#pragma once
#include <string>
// File helpers with an existence cache. '\' in the system's paths stands for '/'.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

// A path once seen existing stays "existing" until file_delete of the same text or file_term.
bool file_exists(const char* path);
// 0 removed, 1 failed.
int file_delete(const char* path);
bool file_is_directory(const char* path);
// 0, 410 (cannot open), 411 (short write: the file is removed).
int file_store(const char* path, const void* buffer, size_t length);
// Whole file into a new heap buffer (terminated by an extra zero byte not counted in size).
// 0, 410 (cannot open), 400 (no memory or short read).
int file_read(const char* path, uint8_t** buffer, size_t* size);
char* file_name_from_url(const char* text);
char* file_name_from_url_keep_dirs(const char* text);
// Copy cut at its first '.', in a module buffer valid until the next call.
const char* file_basename(const char* name);
void file_touch(const char* path);
// date_http of the modification time, or "" when the file cannot be examined.
const char* file_date(const char* path);
// One search at a time over one directory; '*' and '?' in the last path part.
struct file_search;
const char* file_find_first(const char* pattern, file_search** handle);
const char* file_find_next(file_search* handle);
// Ends a search early (a search run to its end is closed by file_find_next).
void file_find_close(file_search* handle);
// Frees the existence cache.
void file_term();
// '\' turned into '/' (static buffer of 1024 bytes; longer paths are cut).
const char* file_path(const char* path);
// Opens a file of the person's own for writing ("w", "wb") or appending ("a"): created 0600,
// and a file emptied by "w" made 0600 too. nullptr with errno when it cannot be opened.
FILE* file_open_private(const char* path, const char* mode);
// Opens a file for reading only when it is a regular file, without waiting on a FIFO or a
// device, which would hold the window thread for as long as a writer liked. The descriptor
// blocks as usual once open. -1 with errno when it cannot be read: EISDIR for a folder, EINVAL
// for another kind of file; why, when given, says it in words.
int file_open_regular(const char* path, std::string* why = nullptr);
