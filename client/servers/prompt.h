#pragma once
// The one-line prompt: asks for a line of text (the forgotten password, remembered teleports
// and others). Window thread only.
#include "client/core/control_ids.h"

constexpr int PROMPT_EDIT_LIMIT = 250;
constexpr int PROMPT_RESULT_LIMIT = 249;  // OK keeps at most this many characters

// The typed text (valid until the next prompt), or nullptr when cancelled or no dialog could
// be shown. Null title, label or default count as "".
const char* prompt_text(const char* title, const char* label, const char* default_text);
const char* prompt_text_small(const char* title, const char* label, const char* default_text);
// Makes the login's and the teleports' prompt hooks use these dialogs.
void prompt_install();
