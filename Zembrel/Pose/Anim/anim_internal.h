// Library-internal access to the program's callbacks.
#pragma once

#include <cstdint>
#include <string>

#include "Zembrel/Pose/Anim/anim.h"

const AnimCallbacks& anim_callbacks();
// Formats one line (at most 511 characters) for the program's log; nothing without a log.
void anim_log(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The whole of a cache file into data, only when it is a regular file of at most limit bytes
// (a FIFO or a device in its place would hold the window). False when it is missing or
// refused; a refusal is logged once a path.
bool anim_read_file(const char* path, int64_t limit, std::string* data);
