#pragma once
// The patch library (libpatchw32.so): one entry that applies an upgrade kit to a folder.
// The upgrade program loads it at run time and finds the entry by PATCH_APPLY_SYMBOL.

extern "C" {

// Callback ids. The parameter of 2, 4 and 7 is a text, of 5 a uint16_t (0..32700 for the
// current file), of 22 null. errno holds the reason of an error, or 0.
enum {
  PATCH_ERROR = 2,       // the kit cannot be used; nothing was changed
  PATCH_FILE_ERROR = 4,  // a file cannot be written; nothing was changed
  PATCH_PROGRESS = 5,
  PATCH_FILE = 7,        // this file is being updated
  PATCH_SEARCHING = 22,  // the kit is being read and checked
};
constexpr unsigned PATCH_PROGRESS_FULL = 32700;

// A null answer asks the library to stop (nothing is changed then).
typedef const char* (*patch_callback_fn)(int id, void* param);

// command: the kit's path, a blank, and the target folder in double quotes.
// 0 when the kit was applied. A kit that fails its checks, a file that cannot be written or a
// stop asked by the callback leave the folder as it was.
typedef int (*patch_apply_fn)(const char* command, patch_callback_fn callback, int flags);
int patch_apply(const char* command, patch_callback_fn callback, int flags);
}

#define PATCH_LIBRARY_FILE "libpatchw32.so"
#define PATCH_APPLY_SYMBOL "patch_apply"
