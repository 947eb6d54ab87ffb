#pragma once
// Disk cache limits: keeps "<program>/cache" within the user's limits. Files not used for a
// number of days are deleted, empty folders removed, and when the tree is larger than the
// size limit the least recently used files go first. Runs as the frame task "disk" in 50 ms
// slices, 30 s after start-up and then every 15 minutes. Deletes never leave the cache
// folder: links are neither followed nor deleted. Window thread only.
#include <cstdint>

// Reads [disk] limit and delete; the first run is due 30 s from now.
int disk_init();
// Task "disk".
void disk_update();
// Ends a walk under way: the folders it holds open are closed.
void disk_term();

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
