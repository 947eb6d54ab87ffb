#pragma once
// [advanced] local_path (a folder that mirrors the object server) and cd (that folder is on
// a CD-ROM, whose files never change), and the "Advanced" page, which also chooses the set
// of message texts.
#include <string>
#include <vector>

#include "client/core/control_ids.h"
#include "client/core/settings.h"

class PsheetPage;

// Loads and validates the local path and its CD switch (advanced_load). 0.
int advanced_init();
// The message sets of "<program>/Messages/*.tzm": base names up to the first '.', sorted.
std::vector<std::string> advanced_message_sets();
PsheetPage& advanced_page();
