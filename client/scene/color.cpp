#include "client/scene/color.h"

#include "client/core/hash.h"

#include <cctype>
#include <cstring>

namespace {

struct color_entry {
  const char* name;
  uint32_t value;
};

const color_entry color_table[COLOR_COUNT] = {
    {"aquamarine", 0x93DB70}, {"black", 0x000000},     {"blue", 0xFF0000},
    {"brass", 0x42A6B5},      {"bronze", 0x53788C},    {"brown", 0x2A2AA6},
    {"copper", 0x3373B8},     {"cyan", 0xFFFF00},      {"darkgrey", 0x303030},
    {"forestgreen", 0x238E23}, {"gold", 0x327FCD},     {"green", 0x00FF00},
    {"grey", 0x707070},       {"lightgrey", 0xC0C0C0}, {"magenta", 0xFF00FF},
    {"maroon", 0x6B238E},     {"navyblue", 0x8E2323},  {"orange", 0x007FFF},
    {"orangered", 0x0024FF},  {"orchid", 0xDB70DB},    {"pink", 0xC76EFF},
    {"red", 0x0000FF},        {"salmon", 0x42426F},    {"scarlet", 0x17178C},
    {"silver", 0xFAE8E6},     {"skyblue", 0xCC9932},   {"tan", 0x7093DB},
    {"teal", 0x707000},       {"turquoise", 0xEAEAAD}, {"violet", 0x4F2F4F},
    {"white", 0xFFFFFF},      {"yellow", 0x00FFFF},
};

hash_table* names = nullptr;

// Reads a hexadecimal number the way a "%x" conversion does: blanks, sign, "0x", digits.
// Returns 0 when no digit was read.
int scan_hex(const char* s, uint32_t* out) {
  while (*s && std::isspace(static_cast<unsigned char>(*s))) ++s;
  bool negative = false;
  if (*s == '+' || *s == '-') {
    negative = *s == '-';
    ++s;
  }
  if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X') &&
      std::isxdigit(static_cast<unsigned char>(s[2]))) {
    s += 2;
  }
  uint32_t value = 0;
  int digits = 0;
  while (std::isxdigit(static_cast<unsigned char>(*s))) {
    int c = std::tolower(static_cast<unsigned char>(*s));
    value = value * 16 + static_cast<uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    ++digits;
    ++s;
  }
  if (!digits) return 0;
  *out = negative ? 0u - value : value;
  return 1;
}

}  // namespace

int color_init() {
  color_term();
  names = hash_create(37);
  if (!names) return 0;
  for (const color_entry& c : color_table) {
    int found = 0;
    hash_entry* e = hash_find_or_add(names, std::strlen(c.name), c.name, sizeof(uint32_t), &found);
    if (!e) {
      color_term();
      return 0;
    }
    std::memcpy(hash_entry_data(e), &c.value, sizeof c.value);
  }
  return 1;
}

void color_term() {
  if (names) hash_destroy(names);
  names = nullptr;
}

uint32_t color_value(int index) {
  if (index < 0 || index >= COLOR_COUNT) return COLOR_DEFAULT;
  return color_table[index].value;
}

uint32_t color_parse(char* text) {
  if (!text) return COLOR_DEFAULT;
  for (char* p = text; *p; ++p) *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  if (names) {
    if (hash_entry* e = hash_find(names, std::strlen(text), text)) {
      uint32_t value;
      std::memcpy(&value, hash_entry_data(e), sizeof value);
      return value;
    }
  }
  uint32_t rgb = 0;
  if (!scan_hex(text, &rgb)) return COLOR_DEFAULT;
  // 0xRRGGBB to 0x00BBGGRR; bytes above the low three are dropped.
  return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}
