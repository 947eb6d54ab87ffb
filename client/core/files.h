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
// Written to a fresh temporary beside path (never through a link planted there), then renamed
// over it, so a reader sees the old file or the whole new one. Created 0600.
// 0, 410 (cannot open), 411 (short write: nothing is left behind, the old file stays).
int file_store(const char* path, const void* buffer, size_t length);
// The same for a file written in pieces: file_create_fresh opens a new temporary beside path
// (O_EXCL, no link followed, 0600) and names it in temp; file_commit_fresh closes it and renames
// it over path (false, with errno, when a write or the rename failed: the temporary is gone and
// the old file stays); file_discard_fresh closes and removes it.
FILE* file_create_fresh(const char* path, std::string* temp);
bool file_commit_fresh(FILE* f, const std::string& temp, const char* path);
void file_discard_fresh(FILE* f, const std::string& temp);
// A folder of the person's own, made 0700 whatever the umask (one that exists is left as it
// is). 0, or errno (ENOTDIR when something else stands there).
int file_make_dir(const char* path);
// True only for a regular file (a FIFO, a device or a folder is not one).
bool file_is_regular(const char* path);
// Whole file into a new heap buffer (terminated by an extra zero byte not counted in size).
// Only a regular file is read (never waits on a FIFO).
// 0, 410 (cannot open), 400 (not a regular file, no memory or short read).
int file_read(const char* path, uint8_t** buffer, size_t* size);
char* file_name_from_url(const char* text);
char* file_name_from_url_keep_dirs(const char* text);
// Copy cut at its first '.', in a module buffer valid until the next call.
const char* file_basename(const char* name);
void file_touch(const char* path);
// Calls out of the file helpers, filled by the modules that take them.
struct file_hooks {
  void (*touched)(const char* path);  // every file_touch: the file is in use (the disk limits)
  void (*stored)(int64_t bytes);      // every file written whole by file_store or a fresh commit
};
extern file_hooks file_hook;
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
// and one of theirs that was there made 0600 too. Only a regular file is opened: a link, a
// FIFO, a folder or a device in its place is neither followed nor waited on nor emptied.
// nullptr with errno when it cannot be opened (see file_open_regular); why says it in words.
FILE* file_open_private(const char* path, const char* mode, std::string* why = nullptr);
// The same as a descriptor, for writing at its end (append) or afresh.
int file_open_private_fd(const char* path, bool append, std::string* why = nullptr);
// Opens a file for reading only when it is a regular file, never through a link at its name and
// without waiting on a FIFO or a device, which would hold the window thread for as long as a
// writer liked; limit, when not -1, is the most bytes its kind may hold. The descriptor blocks
// as usual once open. -1 with errno when it cannot be read: ELOOP for a link, EISDIR for a
// folder, EINVAL for another kind of file, EFBIG past the limit; why, when given, says it in
// words.
int file_open_regular(const char* path, std::string* why = nullptr, int64_t limit = -1);
// The same as a stream for reading ("rb"); nullptr with errno (and why) when it cannot be.
FILE* file_fopen_regular(const char* path, std::string* why = nullptr, int64_t limit = -1);
// True for the errors above that say something else stands at the name (not for ENOENT or a
// refused permission): such a file is told once and treated as missing.
bool file_refused(int err);
