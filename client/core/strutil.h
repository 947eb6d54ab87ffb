#pragma once
// Heap and static string helpers. Heap results are freed by the caller with free().
// Static results share one 1024-byte buffer and last until the next static call.
#include <cstddef>
#include <string>

char* string_copy(const char* s);
char* string_copy_lower(const char* s);
char* string_concat(const char* a, const char* b);
char* string_concat3(const char* a, const char* b, const char* c);
// null when an argument is null or the result with its terminator exceeds 1024 bytes.
const char* string_join(const char* a, const char* b);
const char* string_join3(const char* a, const char* b, const char* c);
// null at 1024 characters or more.
const char* string_lower(const char* s);
// text (null counts as empty) cut to at most max bytes.
std::string string_cut(const char* text, size_t max);
// A text from outside as it may be shown, logged or printed: every byte below 0x20 but TAB,
// DEL, and the C1 controls as UTF-8 spells them (C2 80..C2 9F), become one '?' each, so that
// it cannot start a line of its own, move a terminal's cursor or hide in a log. Windows-1252
// letters (0x80..0x9F alone) and accented letters stay. With keep_breaks a line feed stays and a CR LF pair becomes one line
// feed: our own texts of several lines.
std::string text_printable(const char* text, bool keep_breaks = false);
