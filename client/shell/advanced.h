#pragma once
// [advanced] local_path (a folder that mirrors the object server) and cd (that folder is on
// a CD-ROM, whose files never change), and the "Advanced" page, which also chooses the set
// of message texts.
#include <string>
#include <vector>

#include "client/core/settings.h"

class PsheetPage;

enum AdvancedIds : int {
  ADVANCED_PAGE = 609,
  ADVANCED_PATH = 651,
  ADVANCED_CD = 652,
  ADVANCED_MESSAGES = 655,
};

// Loads and validates the local path and its CD switch (advanced_load). 0.
int advanced_init();
// The message sets of "<program>/Messages/*.tzm": base names up to the first '.', sorted.
std::vector<std::string> advanced_message_sets();
PsheetPage& advanced_page();
