#pragma once
// Disk cache limits: keeps "<program>/cache" within the user's limits. Files not used for a
// number of days are deleted, empty folders removed, and when the tree is larger than the
// size limit the least recently used files go first. Runs as the frame task "disk" in 50 ms
// slices, 30 s after start-up and then every 15 minutes, and besides at the next step once
// the bytes stored since the last run may have taken the tree past the limit. Files used
// this session have their time renewed as each run starts, so that they are never the least
// recently used. Deletes never leave the cache folder: links are neither followed nor
// deleted. Window thread only.
#include <cstdint>

// Reads [disk] limit and delete; the first run is due 30 s from now.
int disk_init();
// Task "disk".
void disk_update();
// Ends a walk under way: the folders it holds open are closed.
void disk_term();
// Bytes just stored under the cache (an unpacked member, a converted picture, a download).
void disk_stored(int64_t bytes);
// A file of the cache the program uses this session (read into memory or opened: every
// file_touch comes here). Kept for the runs until disk_forget_used.
void disk_used(const char* path);
// A new world: the files used until now are no longer held.
void disk_forget_used();

// The settings page ("Disk Usage").
// Limit in megabytes (0 none) and the days after which unused files go (0 never).
int disk_limit();
int disk_delete_days();
// Applies the page: stores both in [disk]; a limit or days that were 0 or got lower make the
// next run due at once. Values are clamped as the settings are.
void disk_apply(int limit_mb, int days);
// Total of the files kept by the last walk, in bytes.
int64_t disk_total();
// True while a run is in progress (the page then shows no total).
bool disk_running();

// 0 waiting, 1 walking, 2 deleting, 3 finished (tests).
int disk_phase();
