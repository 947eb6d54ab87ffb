#include "client/core/strutil.h"

#include <cstdlib>
#include <cstring>

namespace {
char shared[1024];

// Texts are bytes: only ASCII letters change case, whatever the locale.
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

char* heap_join(const char* const* parts, int n) {
  size_t total = 1;
  for (int i = 0; i < n; ++i) {
    if (!parts[i]) return nullptr;
    total += std::strlen(parts[i]);
  }
  char* out = static_cast<char*>(std::malloc(total));
  if (!out) return nullptr;
  size_t pos = 0;
  for (int i = 0; i < n; ++i) {
    size_t len = std::strlen(parts[i]);
    std::memcpy(out + pos, parts[i], len);
    pos += len;
  }
  out[pos] = 0;
  return out;
}

const char* static_join(const char* const* parts, int n) {
  size_t total = 1;
  for (int i = 0; i < n; ++i) {
    if (!parts[i]) return nullptr;
    total += std::strlen(parts[i]);
    if (total > sizeof shared) return nullptr;
  }
  size_t pos = 0;
  for (int i = 0; i < n; ++i) {
    size_t len = std::strlen(parts[i]);
    std::memmove(shared + pos, parts[i], len);  // a part may be the shared buffer itself
    pos += len;
  }
  shared[pos] = 0;
  return shared;
}
}  // namespace

char* string_copy(const char* s) {
  const char* parts[] = {s};
  return s ? heap_join(parts, 1) : nullptr;
}

char* string_copy_lower(const char* s) {
  char* out = string_copy(s);
  if (out)
    for (char* p = out; *p; ++p) *p = lower(*p);
  return out;
}

char* string_concat(const char* a, const char* b) {
  const char* parts[] = {a, b};
  return heap_join(parts, 2);
}

char* string_concat3(const char* a, const char* b, const char* c) {
  const char* parts[] = {a, b, c};
  return heap_join(parts, 3);
}

const char* string_join(const char* a, const char* b) {
  const char* parts[] = {a, b};
  return static_join(parts, 2);
}

const char* string_join3(const char* a, const char* b, const char* c) {
  const char* parts[] = {a, b, c};
  return static_join(parts, 3);
}

const char* string_lower(const char* s) {
  if (!s) return nullptr;
  size_t len = strnlen(s, sizeof shared);
  if (len >= sizeof shared) return nullptr;
  for (size_t i = 0; i <= len; ++i) shared[i] = lower(s[i]);
  return shared;
}

std::string string_cut(const char* text, size_t max) {
  std::string s = text ? text : "";
  if (s.size() > max) s.resize(max);
  return s;
}

std::string text_printable(const char* text, bool keep_breaks) {
  std::string s = text ? text : "";
  size_t out = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (keep_breaks && c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
    if ((c < 0x20 && c != '\t' && !(keep_breaks && c == '\n')) || c == 0x7F) c = '?';
    // C2 80..C2 9F is a C1 control once the bytes are read as UTF-8, as a terminal, a log
    // viewer or the Qt side reads them. A single byte 0x80..0x9F is a Windows-1252 letter
    // (the euro sign, quotes, dashes) or half of a longer UTF-8 character, and stays.
    if (c == 0xC2 && i + 1 < s.size()) {
      unsigned char next = static_cast<unsigned char>(s[i + 1]);
      if (next >= 0x80 && next <= 0x9F) {
        c = '?';
        ++i;
      }
    }
    s[out++] = static_cast<char>(c);
  }
  s.resize(out);
  return s;
}
