// Library-internal access to the program's callbacks.
#pragma once

#include "Zembrel/Pose/Anim/anim.h"

const AnimCallbacks& anim_callbacks();
// Formats one line (at most 511 characters) for the program's log; nothing without a log.
void anim_log(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
