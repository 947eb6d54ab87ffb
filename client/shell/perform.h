#pragma once
// The [performance] settings and their page of the settings sheet: avatars, avatar
// animation, panning, the frame-rate target, the visibility range, and the display driver
// switches. A DirectDraw trial runs once across two program runs: the page writes
// try_directdraw = 1; the next start reads it and writes 0 at once; a clean exit of that
// run writes directdraw = 1.
#include <cstdint>

#include "client/core/control_ids.h"
#include "client/core/settings.h"

class PsheetPage;

// 0 when the machine has less than 15 MB of memory (start-up stops); else reads the keys,
// writes try_directdraw = 0 and fills the other modules' settings hooks. 1 on success.
int perform_init();
// After a run that began a DirectDraw trial: [performance] directdraw = 1.
void perform_term();

// The run's DirectDraw switches, as stored at start-up (-1 absent).
int perform_directdraw();
int perform_try_directdraw();
// The driver fell back from DirectDraw: both switches read 0 for the rest of the run.
void perform_clear_directdraw();

// The physical memory the check compares (bytes); tests set a value, 0 = the machine's.
void perform_set_memory_for_test(uint64_t bytes);

PsheetPage& perform_page();
