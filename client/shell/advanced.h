#pragma once
// [advanced] local_path (a folder that mirrors the object server) and cd (that folder is on
// a CD-ROM, whose files never change), and the "Advanced" page, which also chooses the set
// of message texts.
#include <string>
#include <vector>

class PsheetPage;

enum AdvancedIds : int {
  ADVANCED_PAGE = 609,
  ADVANCED_PATH = 651,
  ADVANCED_CD = 652,
  ADVANCED_MESSAGES = 655,
};

// Reads both keys (absent: empty, 0) and validates the path. 0.
int advanced_init();
// The validated path, nullptr when none.
const char* advanced_local_path();
int advanced_use_local_path();
// The validation: an empty path stays; a folder stays (and *cd is turned on when it lies on a
// CD-ROM file system); anything else is cleared. True when the path is kept.
bool advanced_validate(std::string& path, int* cd);
// The message sets of "<program>/Messages/*.tzm": base names up to the first '.', sorted.
std::vector<std::string> advanced_message_sets();
PsheetPage& advanced_page();
