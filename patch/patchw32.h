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

// Ends an install that was cut short in folder (the process killed while it moved files into
// place): finished when every new file was in place, else every file put back; its
// temporaries and stored kit removed. patch_apply does it first too. 0 when nothing is left
// over, PATCH_RECOVER_BUSY while an install runs there, PATCH_RECOVER_UNREADABLE when its
// record cannot be read (then nothing is touched).
enum { PATCH_RECOVER_BUSY = 1, PATCH_RECOVER_UNREADABLE = 2 };
typedef int (*patch_recover_fn)(const char* folder);
int patch_recover(const char* folder);

// Called before each rename of a commit with its count from 1, and once more when every file
// is in place, before the files set aside go (null: nothing is called).
extern void (*patch_rename_hook)(unsigned count);
}

#define PATCH_LIBRARY_FILE "libpatchw32.so"
#define PATCH_APPLY_SYMBOL "patch_apply"
#define PATCH_RECOVER_SYMBOL "patch_recover"
#define PATCH_RENAME_HOOK_SYMBOL "patch_rename_hook"
